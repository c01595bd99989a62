#include "Gatherer.h"

#include "SystemReadings.h"

#include <QProcess>
#include <QTimer>

#include <csignal>
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
    bool timedOut = false;
    bool ended = false;
};

CommandRunner::CommandRunner(QObject *parent)
    : QObject(parent)
{ }

CommandRunner::~CommandRunner()
{
    for (auto &job : m_jobs) {
        if (job->process && job->process->state() != QProcess::NotRunning) {
            ::kill(-pid_t(job->process->processId()), SIGKILL);
            job->process->kill();
            job->process->waitForFinished(1000);
        }
    }
}

void CommandRunner::run(const std::vector<CommandDef> &commands, Done done)
{
    m_jobs.clear();
    m_done = std::move(done);
    m_running = int(commands.size());
    if (commands.empty()) {
        QTimer::singleShot(0, this, [this] { jobEnded(); });
        return;
    }
    for (const CommandDef &def : commands) {
        auto job = std::make_unique<Job>();
        Job *j = job.get();
        j->reading.name = def.name;
        j->reading.timeoutSeconds = def.timeoutSeconds;
        j->process = std::make_unique<QProcess>();
        QProcess *p = j->process.get();
        p->setProgram(def.program);
        p->setArguments(def.arguments);
        p->setStandardInputFile(QProcess::nullDevice());
        p->setWorkingDirectory(QStringLiteral("/"));
        // A group of its own, so that a time-out also kills what the command started.
        p->setChildProcessModifier([] { ::setpgid(0, 0); });
        j->limit = std::make_unique<QTimer>();
        j->limit->setSingleShot(true);
        j->limit->setInterval(def.timeoutSeconds * 1000);

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
            const qint64 pid = j->process->processId();
            if (pid > 0)
                ::kill(-pid_t(pid), SIGKILL);
            j->process->kill();
        });
        m_jobs.push_back(std::move(job));
        j->limit->start();
        p->start();
    }
}

void CommandRunner::jobEnded()
{
    if (--m_running > 0)
        return;
    // Hand over from the event loop: the QProcess whose signal brought us here is still
    // inside its own code.
    QTimer::singleShot(0, this, [this] {
        std::vector<CommandReading> readings;
        for (const auto &job : m_jobs)
            readings.push_back(job->reading);
        Done done = std::move(m_done);
        m_done = nullptr;
        done(std::move(readings));
    });
}

SystemReportSource::SystemReportSource(AgentConfig config, QObject *parent)
    : ReportSource(parent)
    , m_config(std::move(config))
{ }

void SystemReportSource::requestReport()
{
    if (m_busy)
        return;
    m_busy = true;
    Readings readings;
    if (m_config.loadEnabled)
        readings.load = readLoad();
    for (const QString &mount : m_config.mounts)
        readings.disks.push_back(readDisk(mount));
    if (m_config.memoryEnabled)
        readings.memory = readMemory();
    m_runner.run(m_config.commands, [this, readings](std::vector<CommandReading> commands) mutable {
        readings.commands = std::move(commands);
        m_busy = false;
        Q_EMIT reportReady(formatReport(evaluate(m_config, readings)));
    });
}

} // namespace pellix
