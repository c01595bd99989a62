#pragma once

#include <QString>

namespace sentrel {

// Exit codes of `sentrel --check`: the monitoring-plugin convention.
namespace CheckExit {
constexpr int Ok = 0;
constexpr int Warning = 1;
constexpr int Down = 2;
constexpr int Unknown = 3; // also: the check could not run at all
} // namespace CheckExit

struct HeadlessOptions
{
    // The settings file; empty means the per-user store.
    QString storeFile;
    // --check only: an export file whose Targets replace the stored ones.
    QString importFile;
    bool json = false;
    // --serve only.
    bool metrics = true;
};

// One check cycle over the stored (or imported) Targets without a window, printed to stdout
// one line per Target; returns the worst result as a CheckExit code. Writes no log, raises
// no alert and leaves the store untouched. Needs a QCoreApplication.
int runCheck(const HeadlessOptions &options);

// The scheduler without a window until SIGTERM, SIGINT or SIGHUP: cycles, log and metrics
// as the store configures them. 0 after a signal, 1 when it cannot start. Needs a
// QCoreApplication.
int runServe(const HeadlessOptions &options);

// Each stored Target's uptime over 24 hours, 7 and 30 days and its outages of the last 30 days,
// from the history the window and --serve record; one line per Target (or per outage), or one
// JSON object per Target. 0, or 1 when the store or the history cannot be read.
int runHistory(const HeadlessOptions &options);

} // namespace sentrel
