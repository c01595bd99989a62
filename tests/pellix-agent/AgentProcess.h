#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <QThread>

#include <functional>
#include <memory>
#include <unistd.h>

// The built pellix-agent serving on a loopback address of its own and a port below 32768
// (a Target's port is a signed 16-bit number), stopped when this object goes.
struct ListeningAgent
{
    std::unique_ptr<QProcess> process;
    QString address;
    quint16 port = 0;

    ~ListeningAgent()
    {
        if (process && process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished(5000);
        }
    }
};

// Alive and not a zombie waiting for a parent that does not reap.
inline bool running(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) != "Z";
}

inline bool writeTextFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// How to start it: through a wrapper program (such as unshare), with a limit set in the
// child, and whether the first report is read to its end before the test goes on.
struct AgentStart
{
    QStringList wrapper;
    std::function<void()> childSetup;
    bool readFirstReport = true;
};

// Starts the agent with `configPath`; tries other ports when one is taken.
inline std::unique_ptr<ListeningAgent> startListeningAgent(
    const QString &configPath, const AgentStart &how = {})
{
    auto *random = QRandomGenerator::global();
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto agent = std::make_unique<ListeningAgent>();
        agent->address =
            QStringLiteral("127.91.%1.%2").arg(int(::getpid()) % 250 + 1).arg(random->bounded(2, 250));
        agent->port = quint16(random->bounded(20000, 32000));
        agent->process = std::make_unique<QProcess>();
        agent->process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (how.childSetup)
            agent->process->setChildProcessModifier(how.childSetup);
        const QStringList args {QStringLiteral(PELLIX_AGENT_BINARY), QStringLiteral("--config"), configPath,
            QStringLiteral("--listen"), QStringLiteral("%1:%2").arg(agent->address).arg(agent->port)};
        const QStringList command = how.wrapper + args;
        agent->process->start(command.first(), command.mid(1));
        if (!agent->process->waitForStarted(10000))
            return nullptr;
        for (int wait = 0; wait < 100 && agent->process->state() == QProcess::Running; ++wait) {
            QTcpSocket probe;
            probe.connectToHost(agent->address, agent->port);
            if (probe.waitForConnected(1000)) {
                // Read its report to the end, so that this probe does not count against
                // the cache of the test that follows.
                if (how.readFirstReport)
                    probe.waitForDisconnected(5000);
                return agent;
            }
            QThread::msleep(50);
        }
    }
    return nullptr;
}
