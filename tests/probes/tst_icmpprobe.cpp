#include "probes/IcmpProbe.h"

#include "NetNamespace.h"
#include "probes/UniqueFd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace sentrel;
using namespace sentrel::test;
using Kind = IcmpEchoService::SocketKind;

Q_DECLARE_METATYPE(IcmpEchoService::SocketKind)
Q_DECLARE_METATYPE(EchoOutcome)

namespace {

uint32_t addr(const char *dotted)
{
    return inet_addr(dotted);
}

QString dotted(uint32_t address)
{
    in_addr a {};
    a.s_addr = address;
    return QString::fromLatin1(inet_ntoa(a));
}

int nextTag()
{
    static int tag = 0;
    return ++tag;
}

QString setupFailure(const NetNamespace &ns)
{
    return QStringLiteral("cannot set up network namespace %1: %2").arg(ns.name(), ns.error());
}

QString cannotOpen(Kind kind)
{
    switch (kind) {
    case Kind::Raw:
        return QStringLiteral("a raw ICMP socket needs root or CAP_NET_RAW");
    case Kind::Datagram:
        return QStringLiteral("an ICMP datagram socket needs net.ipv4.ping_group_range to include our group");
    case Kind::Any:
        break;
    }
    return QStringLiteral("no ICMP socket can be opened: neither CAP_NET_RAW nor a permissive "
                          "net.ipv4.ping_group_range");
}

// Where a loopback test runs: a fresh network namespace when this process may
// make one (so nobody else's ICMP traffic is seen), else the host's own loopback.
class Sandbox
{
public:
    struct Options
    {
        bool openPingRange = false; // let every group open ICMP datagram sockets
        bool ignoreEchoes = false; // the kernel answers no echo request (needs a namespace)
        bool needNamespace = false;
    };

    // Enters the sandbox; the reason it cannot be made or cannot open `kind`, or empty.
    QString prepare(Kind kind, Options options)
    {
        const QString unavailable = namespaceUnavailableReason();
        if (unavailable.isEmpty()) {
            m_ns = std::make_unique<NetNamespace>(QStringLiteral("lo%1").arg(nextTag()));
            if (!m_ns->isValid()
                || (options.openPingRange
                    && !m_ns->writeSysctl(QStringLiteral("net/ipv4/ping_group_range"), "0 2147483647"))
                || (options.ignoreEchoes
                    && !m_ns->writeSysctl(QStringLiteral("net/ipv4/icmp_echo_ignore_all"), "1")))
                return setupFailure(*m_ns);
            m_entry = std::make_unique<NamespaceEntry>(*m_ns);
            if (!m_entry->isValid())
                return QStringLiteral("cannot enter network namespace ") + m_ns->name();
        } else if (options.needNamespace || options.ignoreEchoes) {
            return QStringLiteral("this case needs its own network namespace, but ") + unavailable;
        }
        if (!IcmpEchoService::canOpen(kind))
            return cannotOpen(kind);
        return QString();
    }

    // The TTL the kernel here puts on its echo replies.
    static int defaultTtl()
    {
        QFile file(QStringLiteral("/proc/sys/net/ipv4/ip_default_ttl"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : -1;
    }

private:
    std::unique_ptr<NetNamespace> m_ns;
    std::unique_ptr<NamespaceEntry> m_entry; // leaves the namespace before it is removed
};

// A host namespace and a router namespace joined by a veth pair (host 10.200.0.1,
// router 10.200.0.2). The router forwards, answers for 10.201.0.0/24 with "host
// unreachable" and silently drops 10.202.0.0/24; the host routes both through it.
class RoutedSandbox
{
public:
    // `rateLimited`: the host's link sends at 2 Mbit/s through a deep queue, so
    // a burst of echoes fills the socket's send buffer.
    QString prepare(Kind kind, bool rateLimited = false)
    {
        const QString unavailable = namespaceUnavailableReason();
        if (!unavailable.isEmpty())
            return QStringLiteral("the routed cases need network namespaces, but ") + unavailable;
        const int tag = nextTag();
        m_host = std::make_unique<NetNamespace>(QStringLiteral("host%1").arg(tag));
        m_router = std::make_unique<NetNamespace>(QStringLiteral("router%1").arg(tag));
        if (!m_host->isValid())
            return setupFailure(*m_host);
        if (!m_router->isValid())
            return setupFailure(*m_router);
        const QString hostLink = QStringLiteral("vh%1").arg(QCoreApplication::applicationPid());
        const QString routerLink = QStringLiteral("vr%1").arg(QCoreApplication::applicationPid());
        QString error;
        if (!runIp({QStringLiteral("link"), QStringLiteral("add"), hostLink, QStringLiteral("netns"),
                       m_host->name(), QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"),
                       QStringLiteral("name"), routerLink, QStringLiteral("netns"), m_router->name()},
                &error))
            return QStringLiteral("cannot create a veth pair: ") + error;
        const auto words = [](const char *command) {
            return QString::fromLatin1(command).split(QLatin1Char(' '));
        };
        const bool hostOk = m_host->ip(words("addr add 10.200.0.1/24 dev") << hostLink)
            && m_host->ip(words("link set up dev") << hostLink)
            && m_host->ip(words("route add 10.201.0.0/24 via 10.200.0.2"))
            && m_host->ip(words("route add 10.202.0.0/24 via 10.200.0.2"))
            && (kind != Kind::Datagram
                || m_host->writeSysctl(QStringLiteral("net/ipv4/ping_group_range"), "0 2147483647"));
        if (!hostOk)
            return setupFailure(*m_host);
        const QStringList shaping = QStringList {QStringLiteral("-n"), m_host->name()}
            + words("qdisc add dev") + QStringList {hostLink}
            + words("root tbf rate 2mbit burst 1600 limit 3000000");
        if (rateLimited && !runTool(QStringLiteral("tc"), shaping, &error))
            return QStringLiteral("cannot limit the link's rate: ") + error;
        const bool routerOk = m_router->ip(words("addr add 10.200.0.2/24 dev") << routerLink)
            && m_router->ip(words("link set up dev") << routerLink)
            && m_router->ip(words("route add unreachable 10.201.0.0/24"))
            && m_router->ip(words("route add blackhole 10.202.0.0/24"))
            && m_router->writeSysctl(QStringLiteral("net/ipv4/ip_forward"), "1");
        if (!routerOk)
            return setupFailure(*m_router);
        m_entry = std::make_unique<NamespaceEntry>(*m_host);
        if (!m_entry->isValid())
            return QStringLiteral("cannot enter network namespace ") + m_host->name();
        if (!IcmpEchoService::canOpen(kind))
            return cannotOpen(kind);
        return QString();
    }

private:
    std::unique_ptr<NetNamespace> m_host;
    std::unique_ptr<NetNamespace> m_router;
    std::unique_ptr<NamespaceEntry> m_entry;
};

// The echo requests that arrive on loopback, seen through a raw socket of the
// test's own, and forged echo replies sent back to 127.0.0.1.
class Sniffer
{
public:
    struct Request
    {
        uint16_t identifier = 0;
        uint16_t sequence = 0;
        uint32_t to = 0;
        int ttl = 0;
        int tos = 0;
        bool dontFragment = false;
    };

    Sniffer()
        : m_fd(::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP))
    { }

    bool isValid() const { return m_fd.valid(); }

    // Echo requests carrying EchoData that arrived since the last call.
    std::vector<Request> requests()
    {
        std::vector<Request> found;
        unsigned char packet[2048];
        for (;;) {
            const ssize_t n = ::recv(m_fd.get(), packet, sizeof packet, 0);
            if (n < 0)
                break;
            const int headerSize = (packet[0] & 0x0F) * 4;
            if (n != headerSize + EchoRequestSize || packet[headerSize] != IcmpType::EchoRequest
                || std::memcmp(packet + headerSize + IcmpHeaderSize, EchoData, EchoDataSize) != 0)
                continue;
            Request request;
            request.tos = packet[1];
            request.dontFragment = (packet[6] & 0x40) != 0;
            request.ttl = packet[8];
            std::memcpy(&request.to, packet + 16, 4);
            request.identifier = static_cast<uint16_t>(packet[headerSize + 4] << 8 | packet[headerSize + 5]);
            request.sequence = static_cast<uint16_t>(packet[headerSize + 6] << 8 | packet[headerSize + 7]);
            found.push_back(request);
        }
        return found;
    }

    bool forgeReply(const Request &request)
    {
        QByteArray reply = buildEchoRequest(request.identifier, request.sequence);
        reply[0] = static_cast<char>(IcmpType::EchoReply);
        reply[2] = reply[3] = 0;
        const uint16_t sum = internetChecksum(reply);
        reply[2] = static_cast<char>(sum >> 8);
        reply[3] = static_cast<char>(sum & 0xFF);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = addr("127.0.0.1");
        return ::sendto(m_fd.get(), reply.constData(), static_cast<size_t>(reply.size()), 0,
                   reinterpret_cast<const sockaddr *>(&to), sizeof to)
            == reply.size();
    }

private:
    UniqueFd m_fd;
};

// Collects what echoes report, counting calls per echo.
struct Outcomes
{
    std::vector<EchoOutcome> byEcho;
    std::vector<int> calls;

    IcmpEchoService::Done sink(size_t echo)
    {
        if (byEcho.size() <= echo) {
            byEcho.resize(echo + 1);
            calls.resize(echo + 1);
        }
        return [this, echo](const EchoOutcome &outcome) {
            byEcho[echo] = outcome;
            ++calls[echo];
        };
    }
    int total() const
    {
        int sum = 0;
        for (const int c : calls)
            sum += c;
        return sum;
    }
};

struct PingCall
{
    int calls = 0;
    ProbeStatus code = -1;
    QString msg;

    std::function<void(ProbeStatus, const QString &)> sink()
    {
        return [this](ProbeStatus c, const QString &m) {
            ++calls;
            code = c;
            msg = m;
        };
    }
};

void addKindRows()
{
    QTest::addColumn<Kind>("kind");
    QTest::newRow("raw socket") << Kind::Raw;
    QTest::newRow("datagram socket") << Kind::Datagram;
}

Sandbox::Options loopbackOptions(Kind kind)
{
    Sandbox::Options options;
    options.openPingRange = kind == Kind::Datagram;
    return options;
}

} // namespace

class TstIcmpProbe : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanupTestCase() { NetNamespace::removeLeftovers(); }

    void statusTexts_data()
    {
        QTest::addColumn<uint>("status");
        QTest::addColumn<QString>("text");
        const std::pair<uint, const char *> table[] = {
            {0, "Success"},
            {11001, "Buffer too Small"},
            {11002, "Dest Network Not Reachable"},
            {11003, "Dest Host Not Reachable"},
            {11004, "Dest Protocol Not Reachable"},
            {11005, "Dest Port Not Reachable"},
            {11006, "No Resources Available"},
            {11007, "Bad Option"},
            {11008, "Hardware Error"},
            {11009, "Packet too Big"},
            {11010, "Rqst Timed Out"},
            {11011, "Bad Request"},
            {11012, "Bad Route"},
            {11013, "TTL Exprd in Transit"},
            {11014, "TTL Exprd Reassemb"},
            {11015, "Parameter Problem"},
            {11016, "Source Quench"},
            {11017, "Option too Big"},
            {11018, " Bad Destination"},
            {11019, "Address Deleted"},
            {11020, "Spec MTU Change"},
            {11021, "MTU Change"},
            {11022, "Unload"},
            {11050, "General Failure"},
            {1, ""},
            {11000, ""},
            {11023, ""},
            {11049, ""},
            {11051, ""},
            {0xFFFFFFFFu, ""},
        };
        for (const auto &[status, text] : table)
            QTest::addRow("%u", status) << status << QString::fromLatin1(text);
    }
    void statusTexts()
    {
        QFETCH(uint, status);
        QFETCH(QString, text);
        QCOMPARE(GetIcmpStatusText(status), text);
    }

    void judgeEcho_data()
    {
        QTest::addColumn<EchoOutcome>("outcome");
        QTest::addColumn<int>("rttLimit");
        QTest::addColumn<double>("smoothedBefore");
        QTest::addColumn<int>("decay");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("msg");
        QTest::addColumn<double>("smoothedAfter");

        const auto reply = [](const char *from, uint32_t status, int rttMs, int ttl) {
            EchoOutcome outcome;
            outcome.reply.answered = true;
            outcome.reply.address = addr(from);
            outcome.reply.status = status;
            outcome.reply.rttMs = rttMs;
            outcome.reply.ttl = ttl;
            return outcome;
        };
        const QString slow = QChar(13) + QStringLiteral("** SLOW REPLY **");
        const EchoOutcome example = reply("192.168.1.20", 0, 20, 128);

        QTest::newRow("worked example")
            << example << 0 << 10.0 << 5 << 1
            << QStringLiteral("Reply from 192.168.1.20: TTL = 128 Delay = 20ms (12.0ms) ") << 12.0;
        QTest::newRow("worked example, limit 15")
            << example << 15 << 10.0 << 5 << 2
            << QStringLiteral("Reply from 192.168.1.20: TTL = 128 Delay = 20ms (12.0ms) ") + slow << 12.0;
        QTest::newRow("first reply shows no smoothed value")
            << example << 0 << -1.0 << 5 << 1
            << QStringLiteral("Reply from 192.168.1.20: TTL = 128 Delay = 20ms ") << 20.0;
        QTest::newRow("first reply can be slow")
            << example << 19 << -1.0 << 5 << 2
            << QStringLiteral("Reply from 192.168.1.20: TTL = 128 Delay = 20ms ") + slow << 20.0;
        QTest::newRow("exactly at the limit is not slow")
            << example << 20 << 20.0 << 5 << 1
            << QStringLiteral("Reply from 192.168.1.20: TTL = 128 Delay = 20ms (20.0ms) ") << 20.0;
        QTest::newRow("one ms over the limit is slow")
            << reply("192.168.1.20", 0, 21, 128) << 20 << 20.0 << 5 << 2
            << QStringLiteral("Reply from 192.168.1.20: TTL = 128 Delay = 21ms (20.2ms) ") + slow << 20.2;
        QTest::newRow("limit 0 is never slow")
            << reply("10.0.0.1", 0, 1900, 64) << 0 << 0.0 << 2 << 1
            << QStringLiteral("Reply from 10.0.0.1: TTL = 64 Delay = 1900ms "
                              "(950.0ms) ")
            << 950.0;
        QTest::newRow("negative limit is never slow")
            << reply("10.0.0.1", 0, 5, 64) << -1 << -1.0 << 5 << 1
            << QStringLiteral("Reply from 10.0.0.1: TTL = 64 Delay = 5ms ") << 5.0;
        QTest::newRow("zero smoothed value is a value")
            << reply("10.0.0.1", 0, 1, 64) << 0 << 0.0 << 4 << 1
            << QStringLiteral("Reply from 10.0.0.1: TTL = 64 Delay = 1ms (0.3ms) ") << 0.25;
        QTest::newRow("no grouping in large values")
            << reply("10.0.0.1", 0, 12345, 64) << 0 << 100.0 << 1 << 1
            << QStringLiteral("Reply from 10.0.0.1: TTL = 64 Delay = 12345ms (12345.0ms) ") << 12345.0;
        QTest::newRow("decay 0 counts as 1")
            << reply("10.0.0.1", 0, 7, 64) << 0 << 30.0 << 0 << 1
            << QStringLiteral("Reply from 10.0.0.1: TTL = 64 Delay = 7ms (7.0ms) ") << 7.0;
        QTest::newRow("negative decay counts as 1")
            << reply("10.0.0.1", 0, 7, 64) << 0 << 30.0 << -3 << 1
            << QStringLiteral("Reply from 10.0.0.1: TTL = 64 Delay = 7ms (7.0ms) ") << 7.0;
        QTest::newRow("delay beyond 16 bits wraps")
            << reply("10.0.0.1", 0, 40000, 64) << 100 << -1.0 << 5 << 1
            << QStringLiteral("Reply from 10.0.0.1: TTL = 64 Delay = -25536ms ") << -25536.0;
        QTest::newRow("host unreachable from router")
            << reply("10.200.0.2", 11003, 3, 64) << 0 << 10.0 << 5 << 0
            << QStringLiteral("Reply from 10.200.0.2: Dest Host Not Reachable (11003)") << 10.0;
        QTest::newRow("status outside the table") << reply("10.0.0.1", 12345, 3, 64) << 0 << 10.0 << 5 << 0
                                                  << QStringLiteral("Reply from 10.0.0.1:  (12345)") << 10.0;
        QTest::newRow("bad destination keeps its blank")
            << reply("10.0.0.1", 11018, 3, 64) << 0 << 10.0 << 5 << 0
            << QStringLiteral("Reply from 10.0.0.1:  Bad Destination (11018)") << 10.0;

        EchoOutcome silence;
        QTest::newRow("no reply") << silence << 15 << 10.0 << 5 << 3
                                  << QStringLiteral("No response from host to ICMP PING") << 10.0;
        EchoOutcome closed = example;
        closed.opened = false;
        QTest::newRow("no handle") << closed << 15 << 10.0 << 5 << 0
                                   << QStringLiteral("Unable to create ICMP File Handle") << 10.0;
        EchoOutcome closeFailed = example;
        closeFailed.closeFailed = true;
        QTest::newRow("close failure after a reply")
            << closeFailed << 15 << 10.0 << 5 << 0 << QStringLiteral("Error encountered closing ICMP")
            << 12.0;
        silence.closeFailed = true;
        QTest::newRow("close failure after silence")
            << silence << 0 << 10.0 << 5 << 0 << QStringLiteral("Error encountered closing ICMP") << 10.0;
    }
    void judgeEcho()
    {
        QFETCH(EchoOutcome, outcome);
        QFETCH(int, rttLimit);
        QFETCH(double, smoothedBefore);
        QFETCH(int, decay);
        QFETCH(int, code);
        QFETCH(QString, msg);
        QFETCH(double, smoothedAfter);
        Target target;
        target.RTT = int16_t(rttLimit);
        target.SmoothedRtt = smoothedBefore;
        const PingResult result = sentrel::judgeEcho(outcome, target, int16_t(decay));
        QCOMPARE(result.msg, msg);
        QCOMPARE(int(result.code), code);
        QCOMPARE(target.SmoothedRtt, smoothedAfter);
        QCOMPARE(target.RTT, int16_t(rttLimit));
    }

    void echoToLoopback_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("openPingRange");
        QTest::addColumn<Kind>("expectedKind");
        QTest::newRow("raw socket") << Kind::Raw << false << Kind::Raw;
        QTest::newRow("datagram socket") << Kind::Datagram << true << Kind::Datagram;
        QTest::newRow("any prefers a datagram socket") << Kind::Any << true << Kind::Datagram;
        QTest::newRow("any falls back to a raw socket") << Kind::Any << false << Kind::Raw;
    }
    void echoToLoopback()
    {
        QFETCH(Kind, kind);
        QFETCH(bool, openPingRange);
        QFETCH(Kind, expectedKind);
        Sandbox sandbox;
        Sandbox::Options options;
        options.openPingRange = openPingRange;
        options.needNamespace = kind == Kind::Any;
        if (const QString why = sandbox.prepare(kind, options); !why.isEmpty())
            QSKIP(qPrintable(why));
        Sniffer sniffer;

        IcmpEchoService service(kind);
        Outcomes outcomes;
        QCOMPARE(service.activeKind(), Kind::Any);
        auto echo = service.sendEcho(addr("127.0.0.1"), 2000, outcomes.sink(0));
        QCOMPARE(outcomes.total(), 0);
        QCOMPARE(service.activeKind(), expectedKind);
        QTRY_COMPARE(outcomes.total(), 1);

        const EchoOutcome &outcome = outcomes.byEcho[0];
        QVERIFY(outcome.opened);
        QVERIFY(!outcome.closeFailed);
        QVERIFY(outcome.reply.answered);
        QCOMPARE(outcome.reply.status, 0u);
        QCOMPARE(dotted(outcome.reply.address), QStringLiteral("127.0.0.1"));
        QCOMPARE(outcome.reply.ttl, Sandbox::defaultTtl());
        QVERIFY(outcome.reply.rttMs >= 0 && outcome.reply.rttMs < 2000);
        QCOMPARE(service.activeKind(), Kind::Any);

        if (!sniffer.isValid())
            return;
        const auto requests = sniffer.requests();
        QCOMPARE(requests.size(), size_t(1));
        QCOMPARE(requests[0].ttl, 255);
        QCOMPARE(requests[0].tos, 8);
        QVERIFY(!requests[0].dontFragment);
    }

    void manyEchoesInFlight_data() { addKindRows(); }
    void manyEchoesInFlight()
    {
        QFETCH(Kind, kind);
        Sandbox sandbox;
        if (const QString why = sandbox.prepare(kind, loopbackOptions(kind)); !why.isEmpty())
            QSKIP(qPrintable(why));

        IcmpEchoService service(kind);
        Outcomes outcomes;
        constexpr int Count = 300;
        std::vector<std::unique_ptr<IcmpEchoService::Echo>> echoes;
        std::vector<QString> destinations;
        for (int i = 0; i < Count; ++i) {
            destinations.push_back(QStringLiteral("127.0.0.%1").arg(1 + i % 50));
            echoes.push_back(service.sendEcho(addr(qPrintable(destinations.back())), 5000, outcomes.sink(i)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.total(), Count, 10000);
        for (int i = 0; i < Count; ++i) {
            QCOMPARE(outcomes.calls[i], 1);
            const EchoReply &reply = outcomes.byEcho[i].reply;
            QVERIFY2(reply.answered, qPrintable(destinations[i]));
            QCOMPARE(reply.status, 0u);
            QCOMPARE(dotted(reply.address), destinations[i]);
        }
        QCOMPARE(service.activeKind(), Kind::Any);
    }

    // More echoes than the send buffer holds wait for room instead of failing.
    void burstLargerThanTheSendBuffer_data() { addKindRows(); }
    void burstLargerThanTheSendBuffer()
    {
        QFETCH(Kind, kind);
        RoutedSandbox sandbox;
        if (const QString why = sandbox.prepare(kind, true); !why.isEmpty())
            QSKIP(qPrintable(why));

        IcmpEchoService service(kind);
        Outcomes outcomes;
        constexpr int Count = 1000;
        std::vector<std::unique_ptr<IcmpEchoService::Echo>> echoes;
        for (int i = 0; i < Count; ++i)
            echoes.push_back(service.sendEcho(addr("10.200.0.2"), 8000, outcomes.sink(size_t(i))));
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.total(), Count, 10000);
        for (int i = 0; i < Count; ++i) {
            const EchoReply &reply = outcomes.byEcho[size_t(i)].reply;
            QVERIFY2(reply.answered && reply.status == 0,
                qPrintable(QStringLiteral("echo %1: status %2").arg(i).arg(reply.status)));
            QCOMPARE(dotted(reply.address), QStringLiteral("10.200.0.2"));
        }
    }

    void cancelling_data() { addKindRows(); }
    void cancelling()
    {
        QFETCH(Kind, kind);
        Sandbox sandbox;
        if (const QString why = sandbox.prepare(kind, loopbackOptions(kind)); !why.isEmpty())
            QSKIP(qPrintable(why));

        auto service = std::make_unique<IcmpEchoService>(kind);
        Outcomes outcomes;

        // One cancelled among several: the others still get their own replies.
        auto first = service->sendEcho(addr("127.0.0.1"), 2000, outcomes.sink(0));
        auto second = service->sendEcho(addr("127.0.0.2"), 2000, outcomes.sink(1));
        auto third = service->sendEcho(addr("127.0.0.3"), 2000, outcomes.sink(2));
        second.reset();
        QTRY_COMPARE(outcomes.calls[0] + outcomes.calls[2], 2);
        QTest::qWait(50);
        QCOMPARE(outcomes.calls[1], 0);
        QCOMPARE(dotted(outcomes.byEcho[2].reply.address), QStringLiteral("127.0.0.3"));
        QCOMPARE(service->activeKind(), Kind::Any);

        // Cancelling the only echo closes the socket at once.
        auto lone = service->sendEcho(addr("127.0.0.1"), 2000, outcomes.sink(3));
        QVERIFY(service->activeKind() != Kind::Any);
        lone.reset();
        QCOMPARE(service->activeKind(), Kind::Any);

        // An echo may be destroyed by its own callback.
        std::unique_ptr<IcmpEchoService::Echo> selfDestroying;
        int selfCalls = 0;
        selfDestroying = service->sendEcho(addr("127.0.0.1"), 2000, [&](const EchoOutcome &outcome) {
            ++selfCalls;
            QVERIFY(outcome.reply.answered);
            selfDestroying.reset();
        });
        QTRY_COMPARE(selfCalls, 1);
        QVERIFY(!selfDestroying);

        // Destroying the service silences every echo still in flight.
        auto orphan = service->sendEcho(addr("127.0.0.1"), 2000, outcomes.sink(4));
        service.reset();
        QTest::qWait(100);
        QCOMPARE(outcomes.calls[3], 0);
        QCOMPARE(outcomes.calls[4], 0);
        orphan.reset();
    }

    void lateAndDuplicateAnswersAreDropped_data() { addKindRows(); }
    void lateAndDuplicateAnswersAreDropped()
    {
        QFETCH(Kind, kind);
        Sandbox sandbox;
        Sandbox::Options options = loopbackOptions(kind);
        options.ignoreEchoes = true;
        if (const QString why = sandbox.prepare(kind, options); !why.isEmpty())
            QSKIP(qPrintable(why));
        Sniffer sniffer;
        QVERIFY(sniffer.isValid());

        // The kernel answers nothing here; every reply is forged from the request the sniffer saw.
        IcmpEchoService service(kind);
        Outcomes outcomes;
        std::vector<Sniffer::Request> seen;
        const auto sendAndSee = [&](int echo, int timeoutMs) {
            auto handle = service.sendEcho(addr("127.0.0.1"), timeoutMs, outcomes.sink(size_t(echo)));
            [[maybe_unused]] const bool seenIt = QTest::qWaitFor([&] {
                for (const auto &r : sniffer.requests())
                    seen.push_back(r);
                return int(seen.size()) > echo;
            });
            return handle;
        };
        auto keeper = sendAndSee(0, 10000);
        auto late = sendAndSee(1, 300);
        auto duplicated = sendAndSee(2, 10000);
        QCOMPARE(seen.size(), size_t(3));

        QVERIFY(sniffer.forgeReply(seen[2]));
        QVERIFY(sniffer.forgeReply(seen[2]));
        QTRY_COMPARE(outcomes.calls[2], 1);
        QVERIFY(outcomes.byEcho[2].reply.answered);
        QCOMPARE(dotted(outcomes.byEcho[2].reply.address), QStringLiteral("127.0.0.1"));

        QTRY_COMPARE(outcomes.calls[1], 1);
        QVERIFY(!outcomes.byEcho[1].reply.answered);
        QVERIFY(sniffer.forgeReply(seen[1]));

        // The keeper's answer comes after the late one on the same socket, so
        // once it is in, the late one has been read and dropped.
        QVERIFY(sniffer.forgeReply(seen[0]));
        QTRY_COMPARE(outcomes.calls[0], 1);
        QVERIFY(outcomes.byEcho[0].reply.answered);
        QTest::qWait(20);
        QCOMPARE(outcomes.calls[1], 1);
        QCOMPARE(outcomes.calls[2], 1);
        QVERIFY(!outcomes.byEcho[1].reply.answered);
    }

    void unableToOpen()
    {
        // A fresh namespace lets no group open ICMP datagram sockets.
        std::unique_ptr<NetNamespace> ns;
        std::unique_ptr<NamespaceEntry> inside;
        if (namespaceUnavailableReason().isEmpty()) {
            ns = std::make_unique<NetNamespace>(QStringLiteral("closed%1").arg(nextTag()));
            QVERIFY2(ns->isValid(), qPrintable(setupFailure(*ns)));
            inside = std::make_unique<NamespaceEntry>(*ns);
            QVERIFY(inside->isValid());
        } else if (IcmpEchoService::canOpen(Kind::Datagram)) {
            QSKIP("ICMP datagram sockets are allowed here and no namespace can be made to forbid them");
        }
        QVERIFY(!IcmpEchoService::canOpen(Kind::Datagram));

        IcmpEchoService service(Kind::Datagram);
        TargetTable table;
        GlobalSettings settings;
        table[0].SmoothedRtt = 4.0;
        PingCall call;
        auto echo = pingcheck(service, addr("127.0.0.1"), 2, 0, table, settings, call.sink());
        QCOMPARE(call.calls, 0);
        QTRY_COMPARE(call.calls, 1);
        QCOMPARE(int(call.code), 0);
        QCOMPARE(call.msg, QStringLiteral("Unable to create ICMP File Handle"));
        QCOMPARE(table[0].SmoothedRtt, 4.0);
        QCOMPARE(service.activeKind(), Kind::Any);
    }

    void hostUnreachableThroughRouter_data() { addKindRows(); }
    void hostUnreachableThroughRouter()
    {
        QFETCH(Kind, kind);
        RoutedSandbox sandbox;
        if (const QString why = sandbox.prepare(kind); !why.isEmpty())
            QSKIP(qPrintable(why));

        IcmpEchoService service(kind);
        TargetTable table;
        GlobalSettings settings;
        table[0].SmoothedRtt = -1;
        PingCall call;
        auto echo = pingcheck(service, addr("10.201.0.7"), 2, 0, table, settings, call.sink());
        QTRY_COMPARE_WITH_TIMEOUT(call.calls, 1, 5000);
        QCOMPARE(call.msg, QStringLiteral("Reply from 10.200.0.2: Dest Host Not Reachable (11003)"));
        QCOMPARE(int(call.code), 0);
        QCOMPARE(table[0].SmoothedRtt, -1.0);
    }

    void silentDestinationTimesOut_data() { addKindRows(); }
    void silentDestinationTimesOut()
    {
        QFETCH(Kind, kind);
        RoutedSandbox sandbox;
        if (const QString why = sandbox.prepare(kind); !why.isEmpty())
            QSKIP(qPrintable(why));

        IcmpEchoService service(kind);
        TargetTable table;
        GlobalSettings settings;
        PingCall call;
        QElapsedTimer clock;
        clock.start();
        auto echo = pingcheck(service, addr("10.202.0.7"), 1, 0, table, settings, call.sink());
        QTRY_COMPARE_WITH_TIMEOUT(call.calls, 1, 5000);
        QVERIFY(clock.elapsed() >= 1000);
        QCOMPARE(call.msg, QStringLiteral("No response from host to ICMP PING"));
        QCOMPARE(int(call.code), 3);
        QCOMPARE(service.activeKind(), Kind::Any);
    }

    void pingcheckUpdatesTheTarget()
    {
        Sandbox sandbox;
        if (const QString why = sandbox.prepare(Kind::Any, {}); !why.isEmpty())
            QSKIP(qPrintable(why));

        IcmpEchoService service;
        TargetTable table;
        QVERIFY(table.growtable());
        table[1].Status = 1;
        table[1].SmoothedRtt = -1;
        GlobalSettings settings;
        PingCall call;

        auto echo = pingcheck(service, addr("127.0.0.1"), 2, 1, table, settings, call.sink());
        QTRY_COMPARE(call.calls, 1);
        QCOMPARE(int(call.code), 1);
        const QRegularExpression first(
            QStringLiteral("^Reply from 127\\.0\\.0\\.1: TTL = %1 Delay = (\\d+)ms $")
                .arg(Sandbox::defaultTtl()));
        const auto match = first.match(call.msg);
        QVERIFY2(match.hasMatch(), qPrintable(call.msg));
        QCOMPARE(table[1].SmoothedRtt, match.captured(1).toDouble());

        echo = pingcheck(service, addr("127.0.0.1"), 2, 1, table, settings, call.sink());
        QTRY_COMPARE(call.calls, 2);
        QVERIFY2(call.msg.contains(QRegularExpression(QStringLiteral("Delay = \\d+ms \\(\\d+\\.\\dms\\) $"))),
            qPrintable(call.msg));
        QCOMPARE(table[0].SmoothedRtt, 0.0);

        // A table replaced while the echo is out keeps its new contents.
        echo = pingcheck(service, addr("127.0.0.1"), 2, 0, table, settings, call.sink());
        table.reset();
        table[0].SmoothedRtt = 99.0;
        QTRY_COMPARE(call.calls, 3);
        QCOMPARE(int(call.code), 1);
        QCOMPARE(table[0].SmoothedRtt, 99.0);

        echo = pingcheck(service, addr("127.0.0.1"), 2, 42, table, settings, call.sink());
        QTRY_COMPARE(call.calls, 4);
        QCOMPARE(int(call.code), 1);
        QCOMPARE(table.size(), int16_t(1));
    }
};

QTEST_GUILESS_MAIN(TstIcmpProbe)
#include "tst_icmpprobe.moc"
