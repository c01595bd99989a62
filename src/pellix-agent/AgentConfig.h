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

    // `--listen`: connections served at the same time; further ones wait in the listen queue.
    int maxConnections = 16;
};

// A configuration, or why there is none ("FILE:LINE: message").
struct ConfigResult
{
    std::optional<AgentConfig> config;
    QString error;
};

// Reads the INI text as a whole and validates every value before returning any of it: an
// unknown section or key, a repeated one, a value out of range or thresholds in the wrong
// order make the whole file fail. `source` names the file in messages.
ConfigResult parseAgentConfig(const QByteArray &text, const QString &source);

// The file at `path`. A missing file gives the defaults unless `mustExist` (a file named on
// the command line); an unreadable one is always an error.
ConfigResult loadAgentConfig(const QString &path, bool mustExist);

} // namespace pellix
