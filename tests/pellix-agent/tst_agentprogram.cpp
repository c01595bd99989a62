#include "AgentProcess.h"
#include "ReportCache.h"
#include "UniqueFd.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

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

// The processes whose command line is exactly `words`, by their pid in this namespace.
std::vector<pid_t> processesRunning(const QList<QByteArray> &words)
{
    std::vector<pid_t> found;
    const QByteArray wanted = words.join('\0') + '\0';
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = pid_t(entry.toInt(&ok));
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (ok && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll() == wanted && running(pid))
            found.push_back(pid);
    }
    return found;
}

QList<pid_t> childrenOf(pid_t pid)
{
    QFile f(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    QList<pid_t> children;
    if (f.open(QIODevice::ReadOnly)) {
        for (const QByteArray &word : f.readAll().split(' ')) {
            if (!word.trimmed().isEmpty())
                children << pid_t(word.trimmed().toInt());
        }
    }
    return children;
}

// Clients from addresses of their own in 127.78/16 that connect, never read and reconnect
// whenever the agent closes them, until `stop`.
void idleClients(int count, const QString &address, quint16 port, const std::atomic<bool> &stop)
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address.toLatin1().constData(), &to.sin_addr);
    std::vector<pollfd> fds(size_t(count), pollfd {-1, POLLRDHUP, 0});
    while (!stop) {
        for (int i = 0; i < count; ++i) {
            if (fds[size_t(i)].fd >= 0)
                continue;
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_in from {};
            from.sin_family = AF_INET;
            from.sin_addr.s_addr = htonl((127u << 24) | (78u << 16) | uint32_t(i + 2));
            ::bind(fd, reinterpret_cast<const sockaddr *>(&from), sizeof from);
            ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
            fds[size_t(i)].fd = fd;
        }
        ::poll(fds.data(), fds.size(), 50);
        for (pollfd &p : fds) {
            if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) {
                ::close(p.fd);
                p.fd = -1;
            }
        }
    }
    for (const pollfd &p : fds)
        ::close(p.fd);
}

} // namespace

class TstAgentProgram : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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
        const pellix::UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const pellix::UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in at {};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof at;
        auto *address = reinterpret_cast<sockaddr *>(&at);
        QVERIFY(::bind(listener.get(), address, len) == 0 && ::listen(listener.get(), 1) == 0
            && ::getsockname(listener.get(), address, &len) == 0
            && ::connect(client.get(), address, len) == 0);
        pellix::UniqueFd connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        QVERIFY(connection.valid());
        // A client that talks first still gets the whole report.
        const QByteArray junk(50000, 'j');
        QCOMPARE(::send(client.get(), junk.constData(), size_t(junk.size()), 0), ssize_t(junk.size()));

        QTemporaryDir dir;
        const QString configPath = dir.filePath(QStringLiteral("agent.ini"));
        QVERIFY(writeTextFile(configPath, config));
        QProcess agent;
        agent.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        agent.setChildProcessModifier([fd = connection.get()] {
            ::dup2(fd, STDIN_FILENO);
            ::dup2(fd, STDOUT_FILENO);
        });
        QElapsedTimer clock;
        clock.start();
        agent.start(QStringLiteral(PELLIX_AGENT_BINARY), {QStringLiteral("--config"), configPath});
        QVERIFY(agent.waitForStarted(10000));
        connection.reset();
        QByteArray report;
        char buf[4096];
        for (ssize_t n; (n = ::recv(client.get(), buf, sizeof buf, 0)) > 0;)
            report.append(buf, n);
        QVERIFY2(report.endsWith(ending), report.constData());
        ::shutdown(client.get(), SHUT_WR);
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
        QTest::newRow("bad listen address")
            << QByteArray("\n") << QStringList {QStringLiteral("--listen"), QStringLiteral("3000")} << 2
            << QStringLiteral("--listen \"3000\": expected ADDR:PORT, such as 127.0.0.1:3000 or [::1]:3000");
        QTest::newRow("stray argument") << QByteArray("\n") << QStringList {QStringLiteral("now")} << 2
                                        << QStringLiteral("unexpected argument \"now\"");
    }
    void refusesBadInvocations()
    {
        QFETCH(QByteArray, config);
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("agent.ini"));
        QVERIFY(writeTextFile(path, config));
        const Run r = runAgent(QStringList {QStringLiteral("--config"), path} + args);
        QCOMPARE(r.exitCode, exitCode);
        // Nothing half-done reaches stdout, which may be a client's connection.
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(QString::fromUtf8(r.err),
            QStringLiteral("pellix-agent: ") + QString(message).replace(QStringLiteral("CONFIG"), path)
                + QLatin1Char('\n'));
    }

    // Commands die with the agent; as PID 1 it also reaps what its commands orphaned.
    void signalsEndTheAgentAndItsCommands_data()
    {
        QTest::addColumn<int>("sig");
        QTest::addColumn<bool>("asPidOne");
        QTest::newRow("SIGTERM") << int(SIGTERM) << false;
        QTest::newRow("SIGINT") << int(SIGINT) << false;
        QTest::newRow("PID 1, SIGTERM") << int(SIGTERM) << true;
    }
    void signalsEndTheAgentAndItsCommands()
    {
        QFETCH(int, sig);
        QFETCH(bool, asPidOne);
        const QStringList unshare {QStringLiteral("unshare"), QStringLiteral("--pid"),
            QStringLiteral("--fork"), QStringLiteral("--kill-child")};
        if (asPidOne) {
            if (::geteuid() != 0)
                QSKIP("a PID namespace needs root here");
            QProcess probe;
            probe.start(unshare.first(), unshare.mid(1) << QStringLiteral("/bin/true"));
            if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit
                || probe.exitCode() != 0)
                QSKIP("unshare --pid --fork does not work on this machine");
        }
        // A duration of its own, so that parallel tests do not see each other's sleep.
        const QByteArray held =
            "1005." + QByteArray::number(::getpid()) + QByteArray::number(sig) + (asPidOne ? "1" : "0");
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("agent.ini"));
        QVERIFY(writeTextFile(config,
            "[agent]\ndeadline = 120\n[load]\nenabled = no\n[memory]\nenabled = no\n[disk]\nmounts =\n"
            "[command orphan]\ncommand = /bin/sh -c \"setsid sleep 0.2 & echo left\"\n"
            "[command hold]\ncommand = /bin/sleep "
                + held + "\ntimeout = 120\n"));
        AgentStart how;
        how.readFirstReport = false;
        if (asPidOne)
            how.wrapper = unshare;
        auto agent = startListeningAgent(config, how);
        QVERIFY(agent);
        QTRY_VERIFY_WITH_TIMEOUT(processesRunning({"/bin/sleep", held}).size() == 1, 15000);
        pid_t target = pid_t(agent->process->processId());
        if (asPidOne) {
            const QList<pid_t> init = childrenOf(target);
            QCOMPARE(init.size(), 1);
            target = init.first();
            // The orphan ended long ago; the agent is the init's only child, no zombie beside it.
            QTest::qWait(1000);
            QCOMPARE(childrenOf(target).size(), 1);
        }
        QCOMPARE(::kill(target, sig), 0);
        QVERIFY(agent->process->waitForFinished(10000));
        QCOMPARE(agent->process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(agent->process->exitCode(), 0);
        QTRY_VERIFY2_WITH_TIMEOUT(
            processesRunning({"/bin/sleep", held}).empty(), "the agent's command outlived it", 5000);
    }

    // Agents started one per connection gather once, and trust no cache file but their own.
    void socketActivationSharesReports_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::newRow("nothing planted") << QString();
        QTest::newRow("symbolic link") << QStringLiteral("link");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
        QTest::newRow("writable by the group") << QStringLiteral("group");
        QTest::newRow("owned by another user") << QStringLiteral("owner");
    }
    void socketActivationSharesReports()
    {
        QFETCH(QString, planted);
        if (planted == QLatin1String("owner") && ::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        QTemporaryDir dir;
        const QString cache = dir.filePath(QStringLiteral("cache"));
        const QString counter = dir.filePath(QStringLiteral("count"));
        QVERIFY(QDir().mkdir(cache));
        const QString config = dir.filePath(QStringLiteral("agent.ini"));
        QVERIFY(writeTextFile(config,
            "[load]\nenabled = no\n[memory]\nenabled = no\n[disk]\nmounts =\n"
            "[command count]\ncommand = /bin/sh -c \"echo x >> "
                + counter.toUtf8() + "; sleep 0.5; echo counted\"\n"));

        QFile bootId(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        QVERIFY(bootId.open(QIODevice::ReadOnly));
        timespec now {};
        ::clock_gettime(CLOCK_BOOTTIME, &now);
        const QByteArray entry = pellix::formatCacheEntry(bootId.readAll().trimmed(),
            qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000, "OK\r\nplanted\r\n");
        const QByteArray report = QFile::encodeName(cache + QStringLiteral("/report"));
        const QByteArray elsewhere = QFile::encodeName(dir.filePath(QStringLiteral("elsewhere")));
        if (planted == QLatin1String("link")) {
            QVERIFY(writeTextFile(QString::fromUtf8(elsewhere), entry));
            QCOMPARE(::symlink(elsewhere.constData(), report.constData()), 0);
        } else if (planted == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(report.constData(), 0600), 0);
        } else if (!planted.isEmpty()) {
            QVERIFY(writeTextFile(QString::fromUtf8(report), entry));
            QCOMPARE(planted == QLatin1String("group") ? ::chmod(report.constData(), 0660)
                                                       : ::chown(report.constData(), 65534, 65534),
                0);
        }

        std::vector<std::unique_ptr<QProcess>> agents;
        for (int i = 0; i < (planted.isEmpty() ? 4 : 1); ++i) {
            agents.push_back(std::make_unique<QProcess>());
            agents.back()->start(QStringLiteral(PELLIX_AGENT_BINARY),
                {QStringLiteral("--config"), config, QStringLiteral("--cache-dir"), cache});
        }
        for (const auto &agent : agents) {
            QVERIFY(agent->waitForFinished(30000));
            QCOMPARE(agent->exitCode(), 0);
            const QByteArray out = agent->readAllStandardOutput();
            QCOMPARE(out, QByteArray("OK\r\n1 check OK\r\nOK: count: counted\r\n"));
        }
        QFile count(counter);
        QVERIFY(count.open(QIODevice::ReadOnly));
        QCOMPARE(count.readAll(), QByteArray("x\n"));
    }

    // The looser bound of the benchmark: 200 idle clients that reconnect do not keep a
    // well-behaved one from its report, even with 64 descriptors (the server-level test has
    // plenty); the agent serves one client after another on its own and holds its address.
    void idleClientsCannotStarveOthers()
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("agent.ini"));
        QVERIFY(writeTextFile(config, "[disk]\nmounts =\n[command c]\ncommand = /bin/echo fine\n"));
        AgentStart how;
        how.childSetup = [] {
            const rlimit limit {64, 64};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        };
        auto agent = startListeningAgent(config, how);
        QVERIFY(agent);
        std::atomic<bool> stop = false;
        std::thread flood(idleClients, 200, agent->address, agent->port, std::cref(stop));
        const auto joinFlood = qScopeGuard([&] {
            stop = true;
            flood.join();
        });
        QTest::qWait(500);
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer clock;
            clock.start();
            QTcpSocket client;
            client.connectToHost(agent->address, agent->port);
            QVERIFY(client.waitForConnected(5000));
            QVERIFY(client.waitForDisconnected(5000) || client.state() == QAbstractSocket::UnconnectedState);
            const QByteArray report = client.readAll();
            QVERIFY2(report.contains("\r\nOK: c: fine\r\n"), report.constData());
            QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
            QTest::qWait(300);
        }
        QCOMPARE(agent->process->state(), QProcess::Running);
        // A second agent cannot take the same address.
        const Run busy = runAgent({QStringLiteral("--config"), config, QStringLiteral("--listen"),
            QStringLiteral("%1:%2").arg(agent->address).arg(agent->port)});
        QCOMPARE(busy.exitCode, 3);
        QVERIFY2(busy.err.startsWith("pellix-agent: cannot listen on "), busy.err.constData());
    }
};

SENTREL_TEST_GUILESS_MAIN(TstAgentProgram)
#include "tst_agentprogram.moc"
