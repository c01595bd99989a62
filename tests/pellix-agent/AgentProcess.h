#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QTcpSocket>
#include <QThread>

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

inline bool writeTextFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// Starts the agent with `configPath`; tries other ports when one is taken.
inline std::unique_ptr<ListeningAgent> startListeningAgent(const QString &configPath)
{
    auto *random = QRandomGenerator::global();
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto agent = std::make_unique<ListeningAgent>();
        agent->address =
            QStringLiteral("127.91.%1.%2").arg(int(::getpid()) % 250 + 1).arg(random->bounded(2, 250));
        agent->port = quint16(random->bounded(20000, 32000));
        agent->process = std::make_unique<QProcess>();
        agent->process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        agent->process->start(QStringLiteral(PELLIX_AGENT_BINARY),
            {QStringLiteral("--config"), configPath, QStringLiteral("--listen"),
                QStringLiteral("%1:%2").arg(agent->address).arg(agent->port)});
        if (!agent->process->waitForStarted(10000))
            return nullptr;
        for (int wait = 0; wait < 100 && agent->process->state() == QProcess::Running; ++wait) {
            QTcpSocket probe;
            probe.connectToHost(agent->address, agent->port);
            if (probe.waitForConnected(1000)) {
                // Read its report to the end, so that this probe does not count against
                // the cache of the test that follows.
                probe.waitForDisconnected(5000);
                return agent;
            }
            QThread::msleep(50);
        }
    }
    return nullptr;
}
