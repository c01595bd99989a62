#include "AgentServer.h"
#include "Gatherer.h"
#include "UniqueFd.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace pellix;

namespace {

// Reports only when the test says so, or at once after `autoReply` is set.
class ScriptedSource : public ReportSource
{
public:
    void requestReport() override
    {
        ++requests;
        if (autoReply)
            QTimer::singleShot(0, this, [this] { finish(); });
    }
    void finish()
    {
        Q_EMIT reportReady(
            QByteArray("WARNING\r\nreport ") + QByteArray::number(requests) + "\r\ndetail\r\n");
    }

    int requests = 0;
    bool autoReply = false;
};

// A client driven by the event loop, as the test and the server share one thread.
struct Client
{
    explicit Client(quint16 port, const QByteArray &junk = {})
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        QObject::connect(&socket, &QTcpSocket::disconnected, [this] { closed = true; });
        QObject::connect(&socket, &QTcpSocket::connected, [this, junk] {
            if (!junk.isEmpty())
                socket.write(junk);
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    QTcpSocket socket;
    QByteArray received;
    bool closed = false;
};

std::vector<std::unique_ptr<Client>> connectMany(int n, quint16 port)
{
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < n; ++i)
        clients.push_back(std::make_unique<Client>(port));
    return clients;
}

// A plain socket, so that the test decides when it reads, shuts or closes; connected from
// `from` (any 127/8 address is this machine).
UniqueFd rawClient(quint16 port, const char *from = "127.0.0.1")
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in at {};
    at.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &at.sin_addr);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0
        || ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0)
        return {};
    return fd;
}

// What the server sent until it closed, or "(open)" after `ms`; the event loop runs meanwhile.
QByteArray receiveAll(int fd, int ms = 5000)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0)
            got.append(buf, n);
        else if (n == 0 || errno != EAGAIN)
            return got;
        else
            QTest::qWait(5);
    }
    return got + "(open)";
}

bool allClosedWith(const std::vector<std::unique_ptr<Client>> &clients, const QByteArray &report)
{
    for (const auto &c : clients) {
        if (!c->closed || c->received != report)
            return false;
    }
    return true;
}

} // namespace

class TstAgentServer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void clientsShareOneGatheringPerSecond()
    {
        ScriptedSource source;
        AgentServer server(source, 16, 16);
        QVERIFY2(server.listen(QHostAddress::LocalHost, 0), qPrintable(server.errorString()));
        QElapsedTimer started;
        started.start();
        auto first = connectMany(5, server.serverPort());
        // A client that sends a request first still gets the report, and only the report.
        first.push_back(std::make_unique<Client>(
            server.serverPort(), QByteArray(200000, '\x04') + "GET / HTTP/1.0\r\n\r\n"));
        QTRY_COMPARE(server.openConnections(), 6);
        QCOMPARE(source.requests, 1);
        QVERIFY(first[0]->received.isEmpty());
        source.finish();
        const QByteArray report("WARNING\r\nreport 1\r\ndetail\r\n");
        QTRY_VERIFY(allClosedWith(first, report));
        QTRY_COMPARE(server.openConnections(), 0);

        // Within the second the cached report is served without asking again.
        auto cached = connectMany(3, server.serverPort());
        QTRY_VERIFY(allClosedWith(cached, report));
        if (started.elapsed() >= AgentServer::FreshMs)
            QSKIP("the machine was too slow to stay within one second");
        QCOMPARE(source.requests, 1);

        QTest::qWait(AgentServer::FreshMs + 100);
        source.autoReply = true;
        auto later = connectMany(2, server.serverPort());
        QTRY_VERIFY(allClosedWith(later, QByteArray("WARNING\r\nreport 2\r\ndetail\r\n")));
        QCOMPARE(source.requests, 2);
        QCOMPARE(server.gatherings(), 2);
    }

    // A client that does not read, or keeps talking, costs a descriptor for a second and no
    // slot: the others are served meanwhile.
    void idleClientsDoNotHoldOthers()
    {
        ScriptedSource source;
        source.autoReply = true;
        AgentServer server(source, 2, 2);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        std::vector<UniqueFd> idle;
        for (int i = 0; i < 20; ++i) {
            idle.push_back(rawClient(server.serverPort(), "127.0.0.1"));
            QVERIFY(idle.back().valid());
        }
        UniqueFd chatty = rawClient(server.serverPort());
        QTimer chatter;
        QObject::connect(&chatter, &QTimer::timeout,
            [&] { ::send(chatty.get(), "more junk\n", 10, MSG_DONTWAIT | MSG_NOSIGNAL); });
        chatter.start(20);
        QTRY_COMPARE(server.openConnections(), 21);
        QCOMPARE(server.servedConnections(), 0);

        QElapsedTimer clock;
        clock.start();
        Client good(server.serverPort());
        QTRY_VERIFY(good.closed);
        QVERIFY2(clock.elapsed() < AgentServer::DrainMs, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(good.received.startsWith("WARNING\r\nreport "));

        // Closed after their time to drain; the report they never read is still theirs.
        QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, AgentServer::DrainMs + 3000);
        QVERIFY(receiveAll(idle.front().get()).startsWith("WARNING\r\nreport "));
        chatter.stop();
    }

    // A client that shuts its side before the report frees its slot at once; one that only
    // half-closed still gets the report.
    void clientThatShutsItsSide_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"half-close", "close", "reset"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void clientThatShutsItsSide()
    {
        QFETCH(QString, how);
        ScriptedSource source;
        AgentServer server(source, 1, 1);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        UniqueFd first = rawClient(server.serverPort());
        QVERIFY(first.valid());
        QCOMPARE(::send(first.get(), "report please\n", 14, 0), ssize_t(14));
        QTRY_COMPARE(server.servedConnections(), 1);
        if (how == QLatin1String("half-close")) {
            ::shutdown(first.get(), SHUT_WR);
        } else {
            if (how == QLatin1String("reset")) {
                const linger abortive {1, 0};
                ::setsockopt(first.get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            }
            first.reset();
        }
        QTRY_COMPARE_WITH_TIMEOUT(server.servedConnections(), 0, 500);
        Client next(server.serverPort());
        QTRY_COMPARE(server.servedConnections(), 1);
        source.finish();
        QTRY_VERIFY(next.closed);
        QCOMPARE(next.received, QByteArray("WARNING\r\nreport 1\r\ndetail\r\n"));
        if (first.valid())
            QCOMPARE(receiveAll(first.get()), QByteArray("WARNING\r\nreport 1\r\ndetail\r\n"));
        QTRY_COMPARE(server.openConnections(), 0);
    }

    // One address cannot take every slot: its connections beyond its share are closed. Beyond
    // all slots, clients wait in the kernel's queue, unserved, until a slot frees.
    void connectionsAreBounded()
    {
        ScriptedSource source;
        AgentServer server(source, 3, 2);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        std::vector<UniqueFd> greedy;
        for (int i = 0; i < 5; ++i)
            greedy.push_back(rawClient(server.serverPort(), "127.0.0.2"));
        QTRY_COMPARE(server.servedConnections(), 2);
        UniqueFd other = rawClient(server.serverPort(), "127.0.0.3");
        QTRY_COMPARE(server.servedConnections(), 3);
        auto waiting = connectMany(2, server.serverPort());
        QTest::qWait(300);
        QCOMPARE(server.openConnections(), 3);
        for (const auto &c : waiting)
            QVERIFY(c->received.isEmpty());
        source.autoReply = true;
        source.finish();
        const QByteArray report("WARNING\r\nreport 1\r\ndetail\r\n");
        QCOMPARE(receiveAll(other.get()), report);
        int served = 0;
        for (const UniqueFd &g : greedy) {
            const QByteArray got = receiveAll(g.get());
            QVERIFY2(got.isEmpty() || got == report, got.constData());
            served += got == report;
        }
        QCOMPARE(served, 2);
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(waiting.begin(), waiting.end(),
                [](const auto &c) { return c->closed && c->received.startsWith("WARNING\r\nreport "); }),
            10000);
        QCOMPARE(server.peakConnections(), 3);
        QTRY_COMPARE(server.openConnections(), 0);
    }

    void listenAddresses()
    {
        QHostAddress address;
        quint16 port = 0;
        QVERIFY(parseListenAddress(QStringLiteral("[::1]:65535"), address, port));
        QCOMPARE(address.toString() + u' ' + QString::number(port), QStringLiteral("::1 65535"));
        for (const char *bad : {"::1:3000", "127.0.0.1:0", "127.0.0.1:65536"})
            QVERIFY2(!parseListenAddress(QString::fromLatin1(bad), address, port), bad);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstAgentServer)
#include "tst_agentserver.moc"
