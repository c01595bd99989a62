#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace pellix {

// A check command: run directly (no shell) with its arguments, killed after `timeoutSeconds`.
struct CommandDef
{
    QString name;
    QString program;
    QStringList arguments;
    int timeoutSeconds = 10;
};

// Everything the agent is told by its configuration file. The defaults are a working
// configuration, used as they are when there is no file.
struct AgentConfig
{
    // The 5-minute load average divided by the number of online CPUs.
    bool loadEnabled = true;
    double loadWarning = 2.0;
    double loadDown = 4.0;

    // Used space of each mount point in percent, counted as df does (reserved blocks are not free).
    QStringList mounts {QStringLiteral("/")};
    int diskWarning = 90;
    int diskDown = 95;

    // Available memory (MemAvailable) in percent of MemTotal; below a threshold is a problem.
    bool memoryEnabled = true;
    int memoryWarning = 10;
    int memoryDown = 5;

    std::vector<CommandDef> commands;

    // `--listen`: connections waiting for a report at the same time; further ones wait in the
    // listen queue. A connection whose report is written no longer counts.
    int maxConnections = 16;
    // `--listen`: of those, at most this many from one address (one /64 for IPv6).
    int maxPerAddress = 4;
    // The whole report is written within this time: what is still running then is killed and
    // reported as an error. Below the 5 s of silence after which Sentrel gives up on a new
    // Target's reply, leaving a second for connecting and writing.
    int deadlineSeconds = 4;
};

// A configuration, or why there is none ("FILE:LINE: message").
struct ConfigResult
{
    std::optional<AgentConfig> config;
    QString error;
};

// Reads the INI text as a whole and validates every value before returning any of it: an
// unknown section or key, a repeated one, a value out of range, an unterminated quote or
// thresholds in the wrong order make the whole file fail. `source` names the file in
// messages; every message names a line (for thresholds, their section's header).
ConfigResult parseAgentConfig(const QByteArray &text, const QString &source);

// Splits a command line into words as QProcess::splitCommand() does (double quotes group,
// three double quotes stand for one), but refuses an unterminated quote: false then.
bool splitCommandLine(const QString &line, QStringList &words);

// The file at `path`. A missing file gives the defaults unless `mustExist` (a file named on
// the command line); an unreadable one is always an error.
ConfigResult loadAgentConfig(const QString &path, bool mustExist);

} // namespace pellix
