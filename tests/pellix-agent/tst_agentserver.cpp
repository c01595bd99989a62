#include "AgentServer.h"
#include "Gatherer.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <QScopeGuard>

#include <arpa/inet.h>
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
        AgentServer server(source, 16);
        QVERIFY2(server.listen(QHostAddress::LocalHost, 0), qPrintable(server.errorString()));
        QElapsedTimer started;
        started.start();
        auto first = connectMany(5, server.serverPort());
        QTRY_COMPARE(server.openConnections(), 5);
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

    void clientBytesAreDiscarded()
    {
        ScriptedSource source;
        source.autoReply = true;
        AgentServer server(source, 4);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        // A client that sends a request first still gets the report, and only the report.
        Client junk(server.serverPort(), QByteArray(200000, '\x04') + "GET / HTTP/1.0\r\n\r\n");
        QTRY_VERIFY(junk.closed);
        QCOMPARE(junk.received, QByteArray("WARNING\r\nreport 1\r\ndetail\r\n"));
        QTRY_COMPARE(server.openConnections(), 0);
    }

    void clientThatNeverClosesIsDropped()
    {
        ScriptedSource source;
        source.autoReply = true;
        AgentServer server(source, 4);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        // A plain socket: a QTcpSocket would close its side as soon as the server's report ends.
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(fd >= 0);
        const auto closeFd = qScopeGuard([fd] { ::close(fd); });
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(server.serverPort());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to), 0);
        QByteArray got;
        QTimer chatter;
        QObject::connect(&chatter, &QTimer::timeout, [&] {
            ::send(fd, "more junk\n", 10, MSG_DONTWAIT | MSG_NOSIGNAL);
            char buf[256];
            const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                got.append(buf, n);
        });
        chatter.start(50);
        QTRY_COMPARE(got, QByteArray("WARNING\r\nreport 1\r\ndetail\r\n"));
        QCOMPARE(server.openConnections(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, AgentServer::LingerMs + 3000);
        chatter.stop();
    }

    void connectionsAreBounded()
    {
        ScriptedSource source;
        AgentServer server(source, 2);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        auto clients = connectMany(6, server.serverPort());
        QTRY_COMPARE(server.openConnections(), 2);
        QTest::qWait(300);
        QCOMPARE(server.openConnections(), 2);
        // The others are connected at the kernel's level but not served yet.
        for (const auto &c : clients)
            QVERIFY(c->received.isEmpty());
        source.autoReply = true;
        source.finish();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const auto &c : clients) {
                    if (!c->closed || !c->received.startsWith("WARNING\r\nreport "))
                        return false;
                }
                return true;
            }(),
            10000);
        QCOMPARE(server.peakConnections(), 2);
        QTRY_COMPARE(server.openConnections(), 0);
    }

    void clientLeavingBeforeTheReport()
    {
        ScriptedSource source;
        AgentServer server(source, 1);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        {
            Client impatient(server.serverPort());
            QTRY_COMPARE(server.openConnections(), 1);
        }
        // Its slot is given back, so the next client is served.
        QTRY_COMPARE(server.openConnections(), 0);
        Client next(server.serverPort());
        QTRY_COMPARE(server.openConnections(), 1);
        source.finish();
        QTRY_VERIFY(next.closed);
        QVERIFY(next.received.startsWith("WARNING\r\n"));
    }

    void listenAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::newRow("ipv4") << QStringLiteral("127.0.0.1:3000") << true << QStringLiteral("127.0.0.1")
                              << 3000;
        QTest::newRow("any") << QStringLiteral("0.0.0.0:1") << true << QStringLiteral("0.0.0.0") << 1;
        QTest::newRow("ipv6") << QStringLiteral("[::1]:65535") << true << QStringLiteral("::1") << 65535;
        QTest::newRow("ipv6 without brackets") << QStringLiteral("::1:3000") << false << QString() << 0;
        QTest::newRow("no port") << QStringLiteral("127.0.0.1") << false << QString() << 0;
        QTest::newRow("port 0") << QStringLiteral("127.0.0.1:0") << false << QString() << 0;
        QTest::newRow("port too big") << QStringLiteral("127.0.0.1:65536") << false << QString() << 0;
        QTest::newRow("host name") << QStringLiteral("localhost:3000") << false << QString() << 0;
        QTest::newRow("no address") << QStringLiteral(":3000") << false << QString() << 0;
    }
    void listenAddresses()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, address);
        QFETCH(int, port);
        QHostAddress parsed;
        quint16 parsedPort = 0;
        QCOMPARE(parseListenAddress(text, parsed, parsedPort), valid);
        if (valid) {
            QCOMPARE(parsed.toString(), address);
            QCOMPARE(int(parsedPort), port);
        }
    }
};

SENTREL_TEST_GUILESS_MAIN(TstAgentServer)
#include "tst_agentserver.moc"
