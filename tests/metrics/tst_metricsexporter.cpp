#include "metrics/MetricsExporter.h"
#include "probes/UniqueFd.h"

#include <QElapsedTimer>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

using namespace sentrel;

namespace {

// Connects to address:port from the loopback address `from` (any when null); empty when refused.
UniqueFd connectTo(const char *address, uint16_t port, const char *from = nullptr)
{
    sockaddr_storage to {};
    socklen_t length = 0;
    if (std::strchr(address, ':')) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&to);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        ::inet_pton(AF_INET6, address, &v6->sin6_addr);
        length = sizeof *v6;
    } else {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&to);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        ::inet_pton(AF_INET, address, &v4->sin_addr);
        length = sizeof *v4;
    }
    UniqueFd fd(::socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (from) {
        sockaddr_in local {};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        if (::bind(fd.get(), reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
            return {};
    }
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr *>(&to), length) != 0)
        return {};
    return fd;
}

// Whether the server has closed the connection within ms.
bool closedWithin(int fd, int ms)
{
    pollfd p {fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return false;
    char byte;
    return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
}

struct Reply
{
    int status = -1; // -1: no whole reply in time
    QByteArray head;
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &line : head.split('\n')) {
            const QByteArray trimmed = line.trimmed();
            if (trimmed.toLower().startsWith(name.toLower() + ':'))
                return trimmed.mid(name.size() + 1).trimmed();
        }
        return {};
    }
};

// Sends request on fd (then half-closes, if asked) and reads one reply, its body as long as
// Content-Length says (none for HEAD).
Reply exchange(int fd, const QByteArray &request, bool halfClose = false, int timeoutMs = 5000)
{
    Reply reply;
    if (::send(fd, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL) != request.size())
        return reply;
    if (halfClose)
        ::shutdown(fd, SHUT_WR);
    const bool head = request.startsWith("HEAD ");
    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        const qsizetype end = received.indexOf("\r\n\r\n");
        if (end >= 0) {
            reply.head = received.left(end);
            const qsizetype length = head ? 0 : reply.header("Content-Length").toLongLong();
            if (received.size() - end - 4 >= length) {
                reply.body = received.mid(end + 4);
                reply.status = reply.head.split(' ').value(1).toInt();
                return reply;
            }
        }
        pollfd p {fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        received.append(chunk, n);
    }
    return reply;
}

// One scrape on a connection of its own, as Prometheus makes it.
Reply scrape(const char *address, uint16_t port)
{
    const UniqueFd fd = connectTo(address, port);
    if (!fd)
        return {};
    return exchange(fd.get(), "GET /metrics HTTP/1.1\r\nHost: sentrel\r\nAccept: text/plain\r\n\r\n");
}

std::vector<prometheus::MetricFamily> publication()
{
    prometheus::MetricFamily f;
    f.name = "sentrel_cycles_total";
    f.help = "Check cycles finished since the start.";
    f.type = prometheus::MetricType::Counter;
    prometheus::ClientMetric m;
    m.counter.value = 42;
    f.metric.push_back(m);
    return {f};
}

const QByteArray PublishedText = "# HELP sentrel_cycles_total Check cycles finished since the start.\n"
                                 "# TYPE sentrel_cycles_total counter\n"
                                 "sentrel_cycles_total 42\n";

bool hasIpv6Loopback()
{
    UniqueFd fd(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 a {};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    return fd && ::bind(fd.get(), reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
}

} // namespace

class TstMetricsExporter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void onlyTheExactPathAnswers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("halfClose");
        const QByteArray h = " HTTP/1.1\r\nHost: sentrel\r\n\r\n";
        const QByteArray notFound = "Not Found\n";
        QTest::newRow("GET") << "GET /metrics" + h << 200 << PublishedText << false;
        QTest::newRow("HEAD: no body") << "HEAD /metrics" + h << 200 << QByteArray() << false;
        QTest::newRow("a query is not the path") << "GET /metrics?x=1" + h << 200 << PublishedText << false;
        QTest::newRow("HTTP/1.0") << QByteArray("GET /metrics HTTP/1.0\r\n\r\n") << 200 << PublishedText
                                  << false;
        QTest::newRow("half-closed after the request") << "GET /metrics" + h << 200 << PublishedText << true;
        QTest::newRow("a body is read and dropped")
            << QByteArray("GET /metrics HTTP/1.1\r\nHost: s\r\nContent-Length: 5\r\n\r\nhello") << 200
            << PublishedText << false;
        QTest::newRow("other case") << "GET /METRICS" + h << 404 << notFound << false;
        QTest::newRow("POST") << QByteArray(
            "POST /metrics HTTP/1.1\r\nHost: s\r\nContent-Length: 3\r\n\r\nabc")
                              << 405 << QByteArray("Method Not Allowed\n") << false;
    }
    void onlyTheExactPathAnswers()
    {
        QFETCH(QByteArray, request);
        QString error;
        const auto exporter = MetricsExporter::start(QStringLiteral("127.0.0.1"), 0, error);
        QVERIFY2(exporter, qPrintable(error));
        exporter->publish(publication());
        const UniqueFd fd = connectTo("127.0.0.1", exporter->port());
        QVERIFY(fd);
        QFETCH(bool, halfClose);
        const Reply reply = exchange(fd.get(), request, halfClose);
        QTEST(reply.status, "status");
        QTEST(reply.body, "body");
        if (reply.status == 200) {
            QCOMPARE(reply.header("Content-Type"), QByteArray("text/plain; version=0.0.4; charset=utf-8"));
            QCOMPARE(reply.header("Content-Length").toInt(), PublishedText.size());
        }
        if (reply.status == 405)
            QCOMPARE(reply.header("Allow"), QByteArray("GET, HEAD"));
        if (halfClose)
            return;
        // A reply says so when the server closes the connection after it, and only then.
        const bool saysClose = reply.header("Connection").toLower() == "close";
        QCOMPARE(closedWithin(fd.get(), saysClose ? 5000 : 200), saysClose);
        if (!saysClose)
            QCOMPARE(exchange(fd.get(), "GET /metrics HTTP/1.1\r\nHost: s\r\n\r\n").status, 200);
    }

    // Beyond a client's share its own longest-waiting connection gives way; beyond the total,
    // the longest-waiting of all. An answered connection waits afresh.
    void theLongestWaitingConnectionGivesWay()
    {
        MetricsLimits limits;
        limits.perClient = 3;
        limits.total = 5;
        QString error;
        const auto exporter = MetricsExporter::start(QStringLiteral("127.0.0.1"), 0, error, &limits);
        QVERIFY2(exporter, qPrintable(error));
        const uint16_t port = exporter->port();
        std::vector<UniqueFd> a;
        for (int i = 0; i < 3; ++i)
            a.push_back(connectTo("127.0.0.1", port, "127.0.0.1"));
        QTest::qWait(100);
        // The first of them is answered, so it now waits less than the other two.
        QCOMPARE(exchange(a[0].get(), "GET /metrics HTTP/1.1\r\nHost: s\r\n\r\n").status, 200);
        QTest::qWait(50);
        a.push_back(connectTo("127.0.0.1", port, "127.0.0.1"));
        QVERIFY(closedWithin(a[1].get(), 5000));
        QVERIFY(!closedWithin(a[0].get(), 100));

        // Other clients, within their share, up to the total and then one more.
        std::vector<UniqueFd> b;
        for (int i = 0; i < 2; ++i)
            b.push_back(connectTo("127.0.0.1", port, "127.0.0.2"));
        QTest::qWait(100);
        QVERIFY(!closedWithin(a[2].get(), 100));
        b.push_back(connectTo("127.0.0.1", port, "127.0.0.3"));
        QVERIFY(closedWithin(a[2].get(), 5000));
        for (const UniqueFd *held : {&a[0], &a[3], &b[0], &b[1], &b[2]})
            QVERIFY(!closedWithin(held->get(), 100)); // a failed connect reads as closed
    }

    void listenFailuresInWords_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("takePort");
        QTest::addColumn<QString>("message");
        QTest::newRow("port taken") << "127.0.0.1" << true << "127.0.0.1:%1: address already in use";
        QTest::newRow("IPv6 port taken") << "::1" << true << "[::1]:%1: address already in use";
        QTest::newRow("not on this machine")
            << "192.0.2.1" << false << "192.0.2.1:%1: address not available on this machine";
        QTest::newRow("not an address") << "localhost" << false << "localhost:%1: not an IP address";
    }
    void listenFailuresInWords()
    {
        QFETCH(QString, address);
        QFETCH(bool, takePort);
        QFETCH(QString, message);
        if (address.contains(u':') && !hasIpv6Loopback())
            QSKIP("this machine has no IPv6 loopback");
        QString error;
        auto holder =
            MetricsExporter::start(address.contains(u':') ? address : QStringLiteral("127.0.0.1"), 0, error);
        QVERIFY2(holder, qPrintable(error));
        const uint16_t port = holder->port();
        if (!takePort)
            holder.reset();
        QVERIFY(!MetricsExporter::start(address, port, error));
        QCOMPARE(error, message.arg(port));
    }

    // On every address, IPv6 and IPv4 clients alike are answered; the URL names the address in
    // brackets.
    void everyAddressServesBothFamilies()
    {
        if (!hasIpv6Loopback())
            QSKIP("this machine has no IPv6 loopback");
        QString error;
        const auto exporter = MetricsExporter::start(QStringLiteral("::"), 0, error);
        QVERIFY2(exporter, qPrintable(error));
        exporter->publish(publication());
        QCOMPARE(exporter->url(), QStringLiteral("http://[::]:%1/metrics").arg(exporter->port()));
        for (const char *client : {"::1", "127.0.0.1"})
            QCOMPARE(scrape(client, exporter->port()).body, PublishedText);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstMetricsExporter)
#include "tst_metricsexporter.moc"
