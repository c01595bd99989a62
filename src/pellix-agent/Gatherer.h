#pragma once

#include "AgentConfig.h"
#include "Report.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <set>
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
// in a process group of its own that is killed as a whole when its time limit passes or
// when the command exits, so that nothing it started outlives it.
class CommandRunner : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(std::vector<CommandReading>)>;
    explicit CommandRunner(QObject *parent = nullptr);
    // Kills what is still running, with everything it started.
    ~CommandRunner() override;

    // Calls `done` from the event loop once every command has ended, in the order given.
    // A command's time limit is its own or `limitMs`, whichever is shorter. One run at a time.
    void run(const std::vector<CommandDef> &commands, int limitMs, Done done);

    // Ends the run now: what still runs is killed and reads as timed out; `done` is not
    // called any more. The readings in the order given.
    std::vector<CommandReading> stop();

private:
    struct Job;
    void jobEnded();

    std::vector<std::unique_ptr<Job>> m_jobs;
    // Killed jobs whose process has not been reaped yet (one stuck in the kernel): kept
    // until it ends, since destroying a running QProcess would block.
    std::vector<std::unique_ptr<Job>> m_abandoned;
    int m_running = 0;
    int m_limitMs = 0;
    unsigned m_run = 0; // tells a late hand-over of an earlier run from the current one
    Done m_done;
};

// Reads the machine (load, disks, memory) and runs the commands as configured, within the
// configured deadline. Each reading runs on a thread of its own, so that a hung file system
// stalls neither the event loop nor the other readings; a reading or a command still
// missing at the deadline is reported as an error. A stuck reading's thread is left
// behind, never waited for, and no second one is started for the same item meanwhile.
class SystemReportSource : public ReportSource
{
    Q_OBJECT
public:
    using DiskReader = std::function<DiskReading(const QString &mount)>;
    explicit SystemReportSource(AgentConfig config, QObject *parent = nullptr);
    // `readDisk` stands in for statvfs, so that a test can hang a file system.
    SystemReportSource(AgentConfig config, DiskReader readDisk, QObject *parent = nullptr);
    ~SystemReportSource() override;

    void requestReport() override;

private:
    struct Mailbox;
    void startReading(const QString &key, std::function<void(Readings &)> read);
    void finishIfComplete();
    void finish();

    AgentConfig m_config;
    DiskReader m_readDisk;
    CommandRunner m_runner;
    QTimer m_deadline;
    std::shared_ptr<Mailbox> m_mailbox;
    Readings m_readings;
    std::set<QString> m_inFlight; // readings whose thread has not returned, this gathering's or older
    int m_outstanding = 0; // this gathering's readings not yet in
    bool m_commandsDone = false;
    unsigned m_generation = 0;
    bool m_busy = false;
};

} // namespace pellix
