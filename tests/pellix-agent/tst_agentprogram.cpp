#include "AgentProcess.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runAgent(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(PELLIX_AGENT_BINARY), args);
    Run r;
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

class TstAgentProgram : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oneReportOnStdout()
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("agent.ini"));
        QVERIFY(writeTextFile(config,
            "[load]\nenabled = no\n[memory]\nenabled = no\n[disk]\nmounts = /, /no/such/mount\n"
            "[command hang]\ncommand = /bin/sleep 30\ntimeout = 1\n"
            "[command ups]\ncommand = /bin/sh -c \"echo 'On battery | charge=40%'; exit 2\"\n"));
        const Run r = runAgent({QStringLiteral("--config"), config});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QByteArray());
        const QList<QByteArray> lines = r.out.split('\n');
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0], QByteArray("DOWN\r"));
        QCOMPARE(lines[1], QByteArray("ups: On battery (+2 more)\r"));
        QVERIFY2(lines[2].contains(": Disk / ") && lines[2].endsWith("% full\r"), lines[2].constData());
        QCOMPARE(lines[3], QByteArray("ERROR: Disk /no/such/mount unreadable: No such file or directory\r"));
        QCOMPARE(lines[4], QByteArray("ERROR: hang gave no answer within 1 s and was killed\r"));
        QCOMPARE(lines[5], QByteArray("DOWN: ups: On battery\r"));
        QCOMPARE(lines[6], QByteArray());
    }

    // As systemd (Accept=yes) and inetd start it: the connection is stdin and stdout.
    void reportOnAnInheritedConnection_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("ending");
        QTest::newRow("report") << QByteArray("[disk]\nmounts =\n[command c]\ncommand = /bin/echo fine\n")
                                << 0 << QByteArray("\r\nOK: c: fine\r\n");
        QTest::newRow("bad configuration")
            << QByteArray("[disk]\nmounts = relative\n") << 1
            << QByteArray("UNKNOWN\r\nThe agent's configuration is invalid; see its log\r\n");
    }
    void reportOnAnInheritedConnection()
    {
        QFETCH(QByteArray, config);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, ending);
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const auto closeAll = qScopeGuard([&] {
            ::close(listener);
            ::close(client);
        });
        sockaddr_in at {};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof at;
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&at), sizeof at), 0);
        QCOMPARE(::listen(listener, 1), 0);
        QCOMPARE(::getsockname(listener, reinterpret_cast<sockaddr *>(&at), &len), 0);
        QCOMPARE(::connect(client, reinterpret_cast<sockaddr *>(&at), sizeof at), 0);
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        QVERIFY(connection >= 0);
        // A client that talks first still gets the whole report.
        const QByteArray junk(50000, 'j');
        QCOMPARE(::send(client, junk.constData(), size_t(junk.size()), 0), ssize_t(junk.size()));

        QTemporaryDir dir;
        const QString configPath = dir.filePath(QStringLiteral("agent.ini"));
        QVERIFY(writeTextFile(configPath, config));
        QProcess agent;
        agent.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        agent.setChildProcessModifier([connection] {
            ::dup2(connection, STDIN_FILENO);
            ::dup2(connection, STDOUT_FILENO);
        });
        QElapsedTimer clock;
        clock.start();
        agent.start(QStringLiteral(PELLIX_AGENT_BINARY), {QStringLiteral("--config"), configPath});
        QVERIFY(agent.waitForStarted(10000));
        ::close(connection);
        QByteArray report;
        char buf[4096];
        for (ssize_t n; (n = ::recv(client, buf, sizeof buf, 0)) > 0;)
            report.append(buf, n);
        QVERIFY2(report.endsWith(ending), report.constData());
        ::shutdown(client, SHUT_WR);
        QVERIFY(agent.waitForFinished(10000));
        QCOMPARE(agent.exitCode(), exitCode);
        QVERIFY(clock.elapsed() < 5000);
    }

    void refusesBadInvocations_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("bad file") << QByteArray("[disk]\nwarning = 80\nwarning = 85\n") << QStringList() << 1
                                  << QStringLiteral("CONFIG:3: \"warning\" is given twice in [disk]");
        QTest::newRow("named file missing")
            << QByteArray() << QStringList() << 1
            << QStringLiteral("CONFIG: cannot read: No such file or directory");
        QTest::newRow("bad listen address")
            << QByteArray("\n") << QStringList {QStringLiteral("--listen"), QStringLiteral("3000")} << 2
            << QStringLiteral("--listen \"3000\": expected ADDR:PORT, such as 127.0.0.1:3000 or [::1]:3000");
        QTest::newRow("stray argument") << QByteArray("\n") << QStringList {QStringLiteral("now")} << 2
                                        << QStringLiteral("unexpected argument \"now\"");
        QTest::newRow("unknown option") << QByteArray("\n") << QStringList {QStringLiteral("--serve")} << 2
                                        << QStringLiteral("Unknown option 'serve'.");
    }
    void refusesBadInvocations()
    {
        QFETCH(QByteArray, config);
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("agent.ini"));
        if (!config.isEmpty())
            QVERIFY(writeTextFile(path, config));
        const Run r = runAgent(QStringList {QStringLiteral("--config"), path} + args);
        QCOMPARE(r.exitCode, exitCode);
        // Nothing half-done reaches stdout, which may be a client's connection.
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(QString::fromUtf8(r.err),
            QStringLiteral("pellix-agent: ") + QString(message).replace(QStringLiteral("CONFIG"), path)
                + QLatin1Char('\n'));
    }

    void servesOnItsOwn()
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("agent.ini"));
        QVERIFY(writeTextFile(config, "[disk]\nmounts =\n[command c]\ncommand = /bin/echo all fine\n"));
        auto agent = startListeningAgent(config);
        QVERIFY(agent);
        for (int i = 0; i < 3; ++i) {
            QTcpSocket client;
            client.connectToHost(agent->address, agent->port);
            QVERIFY(client.waitForConnected(5000));
            QVERIFY(client.waitForDisconnected(10000) || client.state() == QAbstractSocket::UnconnectedState);
            const QByteArray report = client.readAll();
            QVERIFY2(report.contains("\r\nOK: c: all fine\r\n"), report.constData());
        }
        // A second agent cannot take the same address.
        const Run busy = runAgent({QStringLiteral("--config"), config, QStringLiteral("--listen"),
            QStringLiteral("%1:%2").arg(agent->address).arg(agent->port)});
        QCOMPARE(busy.exitCode, 3);
        QVERIFY2(busy.err.startsWith("pellix-agent: cannot listen on "), busy.err.constData());
    }
};

SENTREL_TEST_GUILESS_MAIN(TstAgentProgram)
#include "tst_agentprogram.moc"
