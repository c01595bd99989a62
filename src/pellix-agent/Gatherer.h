#pragma once

#include "AgentConfig.h"
#include "Report.h"

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

namespace pellix {

// Gives reports on request, without blocking the event loop for the commands' sake.
class ReportSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // Starts a gathering unless one is running; reportReady() follows from the event loop,
    // never from inside this call.
    virtual void requestReport() = 0;

Q_SIGNALS:
    void reportReady(const QByteArray &report);
};

// Runs the configured commands at the same time, each without a shell, with stdin empty,
// in a process group of its own that is killed as a whole when its time limit passes.
class CommandRunner : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(std::vector<CommandReading>)>;
    explicit CommandRunner(QObject *parent = nullptr);
    ~CommandRunner() override;

    // Calls `done` from the event loop once every command has ended, in the order given.
    // One run at a time.
    void run(const std::vector<CommandDef> &commands, Done done);

private:
    struct Job;
    void jobEnded();

    std::vector<std::unique_ptr<Job>> m_jobs;
    int m_running = 0;
    Done m_done;
};

// Reads the machine (load, disks, memory) and runs the commands as configured.
class SystemReportSource : public ReportSource
{
    Q_OBJECT
public:
    explicit SystemReportSource(AgentConfig config, QObject *parent = nullptr);
    void requestReport() override;

private:
    AgentConfig m_config;
    CommandRunner m_runner;
    bool m_busy = false;
};

} // namespace pellix
