#include "Gatherer.h"

#include "SystemReadings.h"

#include <QProcess>
#include <QTimer>

#include <csignal>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace pellix {

namespace {

// Enough for a first line; the rest of a chatty command's output is read and dropped.
constexpr qsizetype MaxOutputBytes = 4096;

void keepStart(QByteArray &kept, const QByteArray &chunk)
{
    if (kept.size() < MaxOutputBytes)
        kept += chunk.left(MaxOutputBytes - kept.size());
}

} // namespace

struct CommandRunner::Job
{
    CommandReading reading;
    std::unique_ptr<QProcess> process;
    std::unique_ptr<QTimer> limit;
    pid_t group = 0; // the command's process group, its own pid
    bool timedOut = false;
    bool ended = false;

    // SIGKILL to the group: the command and whatever it left behind in its group.
    void killGroup() const
    {
        if (group > 0)
            ::kill(-group, SIGKILL);
    }
};

CommandRunner::CommandRunner(QObject *parent)
    : QObject(parent)
{ }

CommandRunner::~CommandRunner()
{
    for (auto *jobs : {&m_jobs, &m_abandoned}) {
        for (auto &job : *jobs) {
            // Only while the command is unreaped is its group's id surely still its own.
            if (job->process && job->process->state() != QProcess::NotRunning) {
                job->killGroup();
                job->process->disconnect(this);
                job->process->kill();
                job->process->waitForFinished(1000);
            }
        }
    }
}

void CommandRunner::run(const std::vector<CommandDef> &commands, int limitMs, Done done)
{
    stop();
    ++m_run;
    m_done = std::move(done);
    m_limitMs = limitMs;
    m_running = int(commands.size());
    if (commands.empty()) {
        QTimer::singleShot(0, this, [this] { jobEnded(); });
        return;
    }
    for (const CommandDef &def : commands) {
        auto job = std::make_unique<Job>();
        Job *j = job.get();
        const int ms = std::min(qint64(def.timeoutSeconds) * 1000, qint64(limitMs));
        j->reading.name = def.name;
        j->reading.timeoutSeconds = (ms + 999) / 1000;
        j->process = std::make_unique<QProcess>();
        QProcess *p = j->process.get();
        p->setProgram(def.program);
        p->setArguments(def.arguments);
        p->setStandardInputFile(QProcess::nullDevice());
        p->setWorkingDirectory(QStringLiteral("/"));
        // A group of its own, so that a time-out also kills what the command started.
        // SIGPIPE as a command expects it, not ignored as the agent has it.
        p->setChildProcessModifier([] {
            ::setpgid(0, 0);
            ::signal(SIGPIPE, SIG_DFL);
        });
        j->limit = std::make_unique<QTimer>();
        j->limit->setSingleShot(true);
        j->limit->setInterval(ms);

        connect(p, &QProcess::readyReadStandardOutput, this,
            [j] { keepStart(j->reading.output, j->process->readAllStandardOutput()); });
        connect(p, &QProcess::readyReadStandardError, this,
            [j] { keepStart(j->reading.errorOutput, j->process->readAllStandardError()); });
        connect(p, &QProcess::errorOccurred, this, [this, j](QProcess::ProcessError e) {
            if (e != QProcess::FailedToStart || j->ended)
                return;
            j->ended = true;
            j->limit->stop();
            j->reading.outcome = CommandReading::Outcome::FailedToStart;
            j->reading.error = j->process->errorString();
            jobEnded();
        });
        connect(p, &QProcess::finished, this, [this, j](int code, QProcess::ExitStatus status) {
            // Just reaped: its group's id is not reused while any member lives, and with
            // none left the kill finds no one (ids come round again only after the whole
            // range).
            j->killGroup();
            if (j->ended)
                return;
            j->ended = true;
            j->limit->stop();
            keepStart(j->reading.output, j->process->readAllStandardOutput());
            keepStart(j->reading.errorOutput, j->process->readAllStandardError());
            using O = CommandReading::Outcome;
            j->reading.outcome = j->timedOut    ? O::TimedOut
                : status == QProcess::CrashExit ? O::Crashed
                                                : O::Exited;
            j->reading.exitCode = code;
            jobEnded();
        });
        connect(j->limit.get(), &QTimer::timeout, this, [j] {
            j->timedOut = true;
            j->killGroup();
            j->process->kill();
        });
        m_jobs.push_back(std::move(job));
        j->limit->start();
        p->start();
        j->group = pid_t(p->processId());
    }
}

std::vector<CommandReading> CommandRunner::stop()
{
    m_done = nullptr;
    std::vector<CommandReading> readings;
    for (auto &job : m_jobs) {
        if (!job->ended) {
            job->ended = true;
            job->timedOut = true;
            job->limit->stop();
            job->killGroup();
            job->process->kill();
            job->reading.outcome = CommandReading::Outcome::TimedOut;
            job->reading.timeoutSeconds = (m_limitMs + 999) / 1000;
        }
        readings.push_back(job->reading);
        if (job->process->state() != QProcess::NotRunning) {
            Job *j = job.get();
            connect(j->process.get(), &QProcess::finished, this, [this, j] {
                QTimer::singleShot(0, this,
                    [this, j] { std::erase_if(m_abandoned, [j](const auto &a) { return a.get() == j; }); });
            });
            m_abandoned.push_back(std::move(job));
        }
    }
    for (auto &job : m_jobs) {
        if (job)
            job->process->disconnect(this);
    }
    m_jobs.clear();
    m_running = 0;
    return readings;
}

void CommandRunner::jobEnded()
{
    if (--m_running > 0)
        return;
    // Hand over from the event loop: the QProcess whose signal brought us here is still
    // inside its own code.
    QTimer::singleShot(0, this, [this, run = m_run] {
        if (!m_done || run != m_run)
            return;
        std::vector<CommandReading> readings;
        for (const auto &job : m_jobs)
            readings.push_back(job->reading);
        Done done = std::move(m_done);
        m_done = nullptr;
        done(std::move(readings));
    });
}

// How a reading's thread hands its result to the event loop: `receiver` is cleared, under
// the lock, before the source goes, so a late thread finds no one to post to.
struct SystemReportSource::Mailbox
{
    std::mutex mutex;
    QObject *receiver = nullptr;
};

SystemReportSource::SystemReportSource(AgentConfig config, QObject *parent)
    : SystemReportSource(std::move(config), &readDisk, parent)
{ }

SystemReportSource::SystemReportSource(AgentConfig config, DiskReader readDisk, QObject *parent)
    : ReportSource(parent)
    , m_config(std::move(config))
    , m_readDisk(std::move(readDisk))
    , m_mailbox(std::make_shared<Mailbox>())
{
    m_mailbox->receiver = this;
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { finish(); });
}

SystemReportSource::~SystemReportSource()
{
    const std::lock_guard lock(m_mailbox->mutex);
    m_mailbox->receiver = nullptr;
}

void SystemReportSource::requestReport()
{
    if (m_busy)
        return;
    m_busy = true;
    ++m_generation;
    m_outstanding = 0;
    m_commandsDone = false;
    const int deadlineMs = m_config.deadlineSeconds * 1000;
    // What stands in the report for a reading that is not in by the deadline.
    const QString late = QStringLiteral("no answer within %1 s").arg(m_config.deadlineSeconds);
    m_readings = Readings {};
    if (m_config.loadEnabled) {
        m_readings.load = LoadReading {};
        m_readings.load->error = late;
        startReading(QStringLiteral("load"), [](Readings &r) { r.load = readLoad(); });
    }
    for (int i = 0; i < int(m_config.mounts.size()); ++i) {
        const QString mount = m_config.mounts[i];
        DiskReading placeholder;
        placeholder.mount = mount;
        placeholder.error = late;
        m_readings.disks.push_back(placeholder);
        startReading(QStringLiteral("disk ") + mount,
            [mount, read = m_readDisk, i](Readings &r) { r.disks[size_t(i)] = read(mount); });
    }
    if (m_config.memoryEnabled) {
        m_readings.memory = MemoryReading {};
        m_readings.memory->error = late;
        startReading(QStringLiteral("memory"), [](Readings &r) { r.memory = readMemory(); });
    }
    m_deadline.start(deadlineMs);
    m_runner.run(m_config.commands, deadlineMs, [this](std::vector<CommandReading> commands) {
        m_readings.commands = std::move(commands);
        m_commandsDone = true;
        finishIfComplete();
    });
}

void SystemReportSource::startReading(const QString &key, std::function<void(Readings &)> read)
{
    if (m_inFlight.count(key))
        return; // the last one is still stuck: its placeholder stands
    // The reading is made on the thread into a Readings of its own, shaped like the
    // gathering's so that a disk keeps its index, and copied over on the event loop.
    Readings shape;
    shape.disks.resize(m_readings.disks.size());
    const unsigned generation = m_generation;
    auto deliver = [this, key, generation, read](Readings result) {
        m_inFlight.erase(key);
        if (generation != m_generation || !m_busy)
            return;
        if (result.load)
            m_readings.load = result.load;
        if (result.memory)
            m_readings.memory = result.memory;
        for (size_t i = 0; i < result.disks.size() && i < m_readings.disks.size(); ++i) {
            if (!result.disks[i].mount.isEmpty())
                m_readings.disks[i] = result.disks[i];
        }
        --m_outstanding;
        finishIfComplete();
    };
    try {
        std::thread([mailbox = m_mailbox, shape, read, deliver]() mutable {
            read(shape);
            const std::lock_guard lock(mailbox->mutex);
            if (mailbox->receiver) {
                QMetaObject::invokeMethod(
                    mailbox->receiver, [deliver, shape] { deliver(shape); }, Qt::QueuedConnection);
            }
        }).detach();
    } catch (const std::system_error &) {
        return; // no thread to be had: the placeholder says the reading did not come
    }
    m_inFlight.insert(key);
    ++m_outstanding;
}

void SystemReportSource::finishIfComplete()
{
    if (m_busy && m_commandsDone && m_outstanding == 0)
        finish();
}

void SystemReportSource::finish()
{
    if (!m_busy)
        return;
    m_deadline.stop();
    if (!m_commandsDone)
        m_readings.commands = m_runner.stop();
    m_busy = false;
    Q_EMIT reportReady(formatReport(evaluate(m_config, m_readings)));
}

} // namespace pellix
