#pragma once

#include "AgentConfig.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace pellix {

// How bad one check is. An error (a check that could not be made) ranks above a warning, so
// that a broken check is never hidden behind a mere warning, and below DOWN.
enum class Level { Ok, Warning, Error, Down };

struct LoadReading
{
    double one = 0, five = 0, fifteen = 0;
    int cpus = 1;
    QString error; // not empty: the load could not be read
};

struct DiskReading
{
    QString mount;
    uint64_t usedBytes = 0; // blocks in use
    uint64_t availableBytes = 0; // blocks an unprivileged user may still take
    QString error; // not empty: statvfs failed with this text
    bool mounted = true; // false: the path is no mount point, so its space says nothing
};

struct MemoryReading
{
    uint64_t totalKiB = 0;
    uint64_t availableKiB = 0;
    QString error;
};

struct CommandReading
{
    enum class Outcome { Exited, Crashed, TimedOut, FailedToStart };
    QString name;
    Outcome outcome = Outcome::Exited;
    int exitCode = 0;
    int timeoutSeconds = 0;
    QByteArray output; // the start of what the command wrote to stdout
    QByteArray errorOutput; // the start of what it wrote to stderr
    QString error; // why it did not start
};

// What one gathering found; the parts switched off in the configuration are left out.
struct Readings
{
    std::optional<LoadReading> load;
    std::vector<DiskReading> disks;
    std::optional<MemoryReading> memory;
    std::vector<CommandReading> commands;
};

struct Check
{
    Level level = Level::Ok;
    QString text;
};

struct Report
{
    Level status = Level::Ok;
    QString summary;
    std::vector<Check> checks;
};

// Judges the readings against the thresholds: one check per reading in the order load, disks,
// memory, commands; the status is the worst check; the summary names the first worst check
// (and how many other checks are not OK), or says that all are OK.
Report evaluate(const AgentConfig &config, const Readings &readings);

// The report as the agent query reads it: the status word, the summary line, one detail line
// per check ("WARNING: Disk /var 91% full"), each ended by CR LF. An error is reported under
// the status word WARNING, the most a check that could not be made may claim.
QByteArray formatReport(const Report &report);

// The used share of a file system in whole percent, rounded up as df does.
int usedPercent(uint64_t used, uint64_t available);

// The first line of a command's output, without performance data after "|", without
// control characters and cut to a readable length.
QString firstOutputLine(const QByteArray &output);

} // namespace pellix
