#include "probes/HostAddress.h"
#include "probes/IcmpProbe.h"

#include "NetNamespace.h"
#include "probes/WinSock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <arpa/inet.h>

#include <algorithm>
#include <memory>
#include <vector>

using namespace sentrel;
using namespace sentrel::test;
using Kind = IcmpEchoService::SocketKind;

Q_DECLARE_METATYPE(IcmpEchoService::SocketKind)
Q_DECLARE_METATYPE(EchoOutcome)

namespace {

// The TTL (the hop limit over IPv6) the kernel here puts on its echo replies.
QString defaultTtl(bool ipv6)
{
    QFile file(ipv6 ? QStringLiteral("/proc/sys/net/ipv6/conf/lo/hop_limit")
                    : QStringLiteral("/proc/sys/net/ipv4/ip_default_ttl"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed()) : QString();
}

HostAddress hostAddress(const QString &text)
{
    const std::optional<Ipv6Literal> literal = parseIpv6Literal(text);
    return literal ? literal->address : HostAddress::fromIpv4(inet_addr(qPrintable(text)));
}

// Where an echo test runs. The loopback kind is a fresh network namespace when
// this process may make one (so nobody else's ICMP traffic is seen), else the
// host's own loopback. The routed kind is a host namespace and a router
// namespace joined by a veth pair (host 10.200.0.1, router 10.200.0.2 to .11):
// the router answers for 10.201.0.0/24 with "host unreachable" and silently
// drops 10.202.0.0/24.
class Sandbox
{
public:
    // Enters the sandbox; the reason it cannot be made or cannot open `kind`, or empty.
    // `openPingRange` lets every group open ICMP datagram sockets; it takes a namespace.
    QString prepareLoopback(Kind kind, bool openPingRange, bool needNamespace = false)
    {
        if (const QString why = namespaceUnavailableReason(); !why.isEmpty()) {
            return needNamespace ? QStringLiteral("this case needs its own network namespace, but ") + why
                                 : canOpen(kind);
        }
        NetNamespace &ns = add(QStringLiteral("lo"));
        if (!ns.isValid() || (openPingRange && !this->openPingRange(ns)))
            return failure(ns);
        return enter(ns, kind);
    }

    // `rateLimited`: the host's link sends at 2 Mbit/s through a deep queue, so a burst of
    // echoes fills the socket's send buffer. Over IPv6 the host is fd60::1 and the router
    // fd60::2, answering for fd61::/64 with "no route" and silently dropping fd62::/64.
    QString prepareRouted(Kind kind, bool rateLimited = false, bool ipv6 = false)
    {
        if (const QString why = namespaceUnavailableReason(); !why.isEmpty())
            return QStringLiteral("the routed cases need network namespaces, but ") + why;
        NetNamespace &host = add(QStringLiteral("host"));
        NetNamespace &router = add(QStringLiteral("router"));
        if (!host.isValid() || !router.isValid())
            return failure(host.isValid() ? router : host);
        const QString pid = QString::number(QCoreApplication::applicationPid());
        const QString hostLink = QStringLiteral("vh") + pid;
        const QString routerLink = QStringLiteral("vr") + pid;
        const QString inHost = QStringLiteral("-n ") + host.name() + QLatin1Char(' ');
        const QString inRouter = QStringLiteral("-n ") + router.name() + QLatin1Char(' ');
        QStringList setup {QStringLiteral("link add %1 netns %2 type veth peer name %3 netns %4")
                               .arg(hostLink, host.name(), routerLink, router.name()),
            inHost + QStringLiteral("link set up dev ") + hostLink,
            inRouter + QStringLiteral("link set up dev ") + routerLink};
        if (ipv6) {
            setup << inHost + QStringLiteral("addr add fd60::1/64 dev %1 nodad").arg(hostLink)
                  << inHost + QStringLiteral("-6 route add default via fd60::2")
                  << inRouter + QStringLiteral("addr add fd60::2/64 dev %1 nodad").arg(routerLink)
                  << inRouter + QStringLiteral("-6 route add unreachable fd61::/64")
                  << inRouter + QStringLiteral("-6 route add blackhole fd62::/64");
        } else {
            setup << inHost + QStringLiteral("addr add 10.200.0.1/24 dev ") + hostLink
                  << inHost + QStringLiteral("route add default via 10.200.0.2")
                  << inRouter + QStringLiteral("route add unreachable 10.201.0.0/24")
                  << inRouter + QStringLiteral("route add blackhole 10.202.0.0/24");
            for (int last = 2; last <= 11; ++last)
                setup << inRouter + QStringLiteral("addr add 10.200.0.%1/24 dev ").arg(last) + routerLink;
        }
        if (rateLimited) {
            setup << QStringLiteral(
                "netns exec %1 tc qdisc add dev %2 root tbf rate 2mbit burst 1600 limit 3000000")
                         .arg(host.name(), hostLink);
        }
        QString error;
        for (const QString &command : setup) {
            if (!runIp(command, &error))
                return QStringLiteral("cannot set up the routed namespaces: ") + error;
        }
        if (!router.writeSysctl(
                ipv6 ? QStringLiteral("net/ipv6/conf/all/forwarding") : QStringLiteral("net/ipv4/ip_forward"),
                "1"))
            return failure(router);
        if (kind == Kind::Datagram && !openPingRange(host))
            return failure(host);
        return enter(host, kind);
    }

private:
    NetNamespace &add(const QString &role)
    {
        static int tag = 0;
        return *m_namespaces.emplace_back(std::make_unique<NetNamespace>(role + QString::number(++tag)));
    }
    static bool openPingRange(NetNamespace &ns)
    {
        return ns.writeSysctl(QStringLiteral("net/ipv4/ping_group_range"), "0 2147483647");
    }
    static QString failure(const NetNamespace &ns)
    {
        return QStringLiteral("cannot set up network namespace %1: %2").arg(ns.name(), ns.error());
    }
    QString enter(const NetNamespace &ns, Kind kind)
    {
        m_entry = std::make_unique<NamespaceEntry>(ns);
        return m_entry->isValid() ? canOpen(kind)
                                  : QStringLiteral("cannot enter network namespace ") + ns.name();
    }
    static QString canOpen(Kind kind)
    {
        return IcmpEchoService::canOpen(kind)
            ? QString()
            : QStringLiteral("cannot open this kind of ICMP socket here: a raw one "
                             "needs CAP_NET_RAW, a datagram one needs "
                             "net.ipv4.ping_group_range to include our group");
    }

    std::vector<std::unique_ptr<NetNamespace>> m_namespaces;
    std::unique_ptr<NamespaceEntry> m_entry; // declared last: leaves the namespace before it is removed
};

// Collects what echoes report, counting calls per echo.
struct Outcomes
{
    std::vector<EchoOutcome> byEcho;
    std::vector<int> calls;
    int total = 0;

    IcmpEchoService::Done sink(size_t echo)
    {
        byEcho.resize(std::max(byEcho.size(), echo + 1));
        calls.resize(byEcho.size());
        return [this, echo](const EchoOutcome &outcome) {
            byEcho[echo] = outcome;
            ++calls[echo];
            ++total;
        };
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

} // namespace

class TstIcmpProbe : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void statusTexts_data()
    {
        QTest::addColumn<uint>("status");
        QTest::addColumn<QString>("text");
        // The ends of the table and the gaps inside it.
        const std::pair<uint, const char *> table[] = {{0, "Success"}, {11001, "Buffer too Small"},
            {11050, "General Failure"}, {1, ""}, {11000, ""}, {11023, ""}, {11049, ""}, {11051, ""}};
        for (const auto &[status, text] : table)
            QTest::addRow("%u", status) << status << QString::fromLatin1(text);
    }
    void statusTexts()
    {
        QFETCH(uint, status);
        QTEST(GetIcmpStatusText(status), "text");
    }

    // The worked example and the rules of the smoothed value, the slow mark and the failures.
    void judgeEcho_data()
    {
        QTest::addColumn<EchoOutcome>("outcome");
        QTest::addColumn<int>("rttLimit");
        QTest::addColumn<double>("smoothedBefore");
        QTest::addColumn<int>("decay");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("msg");
        QTest::addColumn<double>("smoothedAfter");

        const auto reply = [](uint32_t status, int rttMs) {
            EchoOutcome outcome;
            outcome.reply = {true, inet_addr("192.168.1.20"), status, rttMs, 128, rttMs * 1000 + 250};
            return outcome;
        };
        const auto from = [](const char *rest) {
            return QStringLiteral("Reply from 192.168.1.20: ") + QLatin1String(rest);
        };
        const QString slow = QChar(13) + QStringLiteral("** SLOW REPLY **");
        const EchoOutcome example = reply(0, 20);

        QTest::newRow("worked example")
            << example << 0 << 10.0 << 5 << 1 << from("TTL = 128 Delay = 20ms (12.0ms) ") << 12.0;
        QTest::newRow("exactly at the limit is not slow")
            << example << 20 << 20.0 << 5 << 1 << from("TTL = 128 Delay = 20ms (20.0ms) ") << 20.0;
        QTest::newRow("one ms over the limit is slow")
            << reply(0, 21) << 20 << 20.0 << 5 << 2 << from("TTL = 128 Delay = 21ms (20.2ms) ") + slow
            << 20.2;
        QTest::newRow("limit 0 is never slow")
            << reply(0, 1900) << 0 << 0.0 << 2 << 1 << from("TTL = 128 Delay = 1900ms (950.0ms) ") << 950.0;
        QTest::newRow("zero smoothed value is a value")
            << reply(0, 1) << 0 << 0.0 << 4 << 1 << from("TTL = 128 Delay = 1ms (0.3ms) ") << 0.25;
        QTest::newRow("decay 0 counts as 1")
            << reply(0, 7) << 0 << 30.0 << 0 << 1 << from("TTL = 128 Delay = 7ms (7.0ms) ") << 7.0;
        QTest::newRow("delay beyond 16 bits wraps")
            << reply(0, 40000) << 100 << -1.0 << 5 << 1 << from("TTL = 128 Delay = -25536ms ") << -25536.0;
        QTest::newRow("status outside the table")
            << reply(12345, 3) << 0 << 10.0 << 5 << 0 << from(" (12345)") << 10.0;

        EchoOutcome closed = example;
        closed.opened = false;
        QTest::newRow("no handle") << closed << 15 << 10.0 << 5 << 0
                                   << QStringLiteral("Unable to create ICMP File Handle") << 10.0;
        EchoOutcome closeFailed = example;
        closeFailed.closeFailed = true;
        QTest::newRow("close failure after a reply")
            << closeFailed << 15 << 10.0 << 5 << 0 << QStringLiteral("Error encountered closing ICMP")
            << 12.0;
    }
    void judgeEcho()
    {
        QFETCH(EchoOutcome, outcome);
        QFETCH(int, rttLimit);
        QFETCH(double, smoothedBefore);
        QFETCH(int, decay);
        Target target;
        target.RTT = int16_t(rttLimit);
        target.SmoothedRtt = smoothedBefore;
        target.LastRtt = 77;
        target.LastRttMicros = 77000;
        const PingResult result = sentrel::judgeEcho(outcome, target, int16_t(decay));
        QTEST(result.msg, "msg");
        QTEST(int(result.code), "code");
        QTEST(target.SmoothedRtt, "smoothedAfter");
        // Only an answered echo leaves a round-trip time; anything else clears the last one.
        const bool measured = outcome.opened && outcome.reply.answered && outcome.reply.status == 0;
        QCOMPARE(target.LastRtt, measured ? int(LongToInteger(outcome.reply.rttMs)) : -1);
        QCOMPARE(target.LastRttMicros, measured ? outcome.reply.rttMicros : -1);
        QCOMPARE(target.RTT, int16_t(rttLimit));
    }

    // Over ICMP and ICMPv6, which ping_group_range governs too: the reply, its TTL and time go
    // into the Target's row while it is still in the table, and nowhere once it is gone.
    void echoToLoopback_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("openPingRange");
        QTest::addColumn<Kind>("expectedKind");
        QTest::addColumn<QString>("address");
        const QString v4 = QStringLiteral("127.0.0.1"), v6 = QStringLiteral("::1");
        QTest::newRow("raw socket") << Kind::Raw << false << Kind::Raw << v4;
        QTest::newRow("datagram socket") << Kind::Datagram << true << Kind::Datagram << v4;
        QTest::newRow("any prefers a datagram socket") << Kind::Any << true << Kind::Datagram << v4;
        QTest::newRow("datagram socket, IPv6") << Kind::Datagram << true << Kind::Datagram << v6;
    }
    void echoToLoopback()
    {
        QFETCH(Kind, kind);
        QFETCH(bool, openPingRange);
        QFETCH(QString, address);
        const HostAddress to = hostAddress(address);
        Sandbox sandbox;
        if (const QString why = sandbox.prepareLoopback(kind, openPingRange, kind == Kind::Any);
            !why.isEmpty())
            QSKIP(qPrintable(why));
        if (to.isIpv6 && !IcmpEchoService::canOpen(kind, true))
            QSKIP("this kind of ICMPv6 socket cannot be opened here (no IPv6?)");

        IcmpEchoService service(kind);
        TargetTable table;
        GlobalSettings settings;
        table[0].SmoothedRtt = -1; // no smoothed value yet
        PingCall call;
        QCOMPARE(service.activeKind(), Kind::Any);
        auto echo = pingcheck(service, to, 2, 0, table, settings, call.sink());
        QCOMPARE(call.calls, 0);
        QTEST(service.activeKind(), "expectedKind");
        QTRY_COMPARE(call.calls, 1);
        const QRegularExpression expected(
            QStringLiteral("^Reply from %1: TTL = %2 Delay = (\\d+)ms $")
                .arg(QRegularExpression::escape(address), defaultTtl(to.isIpv6)));
        const auto match = expected.match(call.msg);
        QVERIFY2(match.hasMatch(), qPrintable(call.msg));
        QCOMPARE(int(call.code), 1);
        QCOMPARE(table[0].SmoothedRtt, match.captured(1).toDouble());
        QCOMPARE(table[0].LastRtt, match.captured(1).toInt());
        // The same time, finer: what the window shows in whole milliseconds, the metrics in microseconds.
        QCOMPARE(table[0].LastRttMicros / 1000, int64_t(table[0].LastRtt));
        QCOMPARE(service.activeKind(), Kind::Any);

        // A table replaced while the echo is out keeps its new contents; an index it no
        // longer holds is answered without touching it.
        echo = pingcheck(service, to, 2, 0, table, settings, call.sink());
        auto gone = pingcheck(service, to, 2, 42, table, settings, call.sink());
        table.reset();
        table[0].SmoothedRtt = 99.0;
        QTRY_COMPARE(call.calls, 3);
        QCOMPARE(int(call.code), 1);
        QCOMPARE(table[0].SmoothedRtt, 99.0);
        QCOMPARE(table.size(), int16_t(1));
    }

    // Each of many echoes in flight gets the reply of its own destination, and
    // more echoes than the send buffer holds wait for room instead of failing.
    void manyEchoesInFlight_data() { addKindRows(); }
    void manyEchoesInFlight()
    {
        QFETCH(Kind, kind);
        Sandbox sandbox;
        if (const QString why = sandbox.prepareRouted(kind, true); !why.isEmpty())
            QSKIP(qPrintable(why));

        IcmpEchoService service(kind);
        Outcomes outcomes;
        constexpr int Count = 1000;
        std::vector<std::unique_ptr<IcmpEchoService::Echo>> echoes;
        const auto destination = [](int echo) { return QStringLiteral("10.200.0.%1").arg(2 + echo % 10); };
        for (int i = 0; i < Count; ++i)
            echoes.push_back(service.sendEcho(inet_addr(qPrintable(destination(i))), 8000, outcomes.sink(i)));
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.total, Count, 10000);
        for (int i = 0; i < Count; ++i) {
            const EchoReply &reply = outcomes.byEcho[i].reply;
            QVERIFY2(outcomes.calls[i] == 1 && reply.answered && reply.status == 0,
                qPrintable(QStringLiteral("echo %1: status %2").arg(i).arg(reply.status)));
            QCOMPARE(FormatDottedAddress(reply.address), destination(i));
        }
        QCOMPARE(service.activeKind(), Kind::Any);
    }

    void cancelling_data() { addKindRows(); }
    void cancelling()
    {
        QFETCH(Kind, kind);
        Sandbox sandbox;
        if (const QString why = sandbox.prepareLoopback(kind, kind == Kind::Datagram); !why.isEmpty())
            QSKIP(qPrintable(why));

        auto service = std::make_unique<IcmpEchoService>(kind);
        Outcomes outcomes;
        const auto send = [&](const char *to, size_t echo) {
            return service->sendEcho(inet_addr(to), 2000, outcomes.sink(echo));
        };

        // One cancelled among several: the others still get their replies.
        auto first = send("127.0.0.1", 0);
        auto second = send("127.0.0.2", 1);
        auto third = send("127.0.0.3", 2);
        second.reset();
        QTRY_COMPARE(outcomes.calls[0] + outcomes.calls[2], 2);
        QTest::qWait(50);
        QCOMPARE(outcomes.calls[1], 0);

        // Cancelling the only echo closes the socket at once.
        auto lone = send("127.0.0.1", 3);
        QVERIFY(service->activeKind() != Kind::Any);
        lone.reset();
        QCOMPARE(service->activeKind(), Kind::Any);

        // An echo may be destroyed by its own callback.
        std::unique_ptr<IcmpEchoService::Echo> selfDestroying;
        int selfCalls = 0;
        selfDestroying = service->sendEcho(inet_addr("127.0.0.1"), 2000, [&](const EchoOutcome &outcome) {
            ++selfCalls;
            QVERIFY(outcome.reply.answered);
            selfDestroying.reset();
        });
        QTRY_COMPARE(selfCalls, 1);

        // Destroying the service silences every echo still in flight.
        auto orphan = send("127.0.0.1", 4);
        service.reset();
        QTest::qWait(100);
        QCOMPARE(outcomes.calls[3] + outcomes.calls[4], 0);
        orphan.reset();
    }

    // A socket that cannot be opened, errors a router sends back and echoes it drops, over
    // IPv4 and IPv6: none of them touches the smoothed round trip.
    void pingcheckFailures_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("msg");
        // A fresh namespace lets no group open ICMP datagram sockets.
        QTest::newRow("unable to open") << Kind::Datagram << QStringLiteral("127.0.0.1") << 0
                                        << QStringLiteral("Unable to create ICMP File Handle");
        const QString silence = QStringLiteral("No response from host to ICMP PING");
        for (const Kind kind : {Kind::Raw, Kind::Datagram}) {
            const char *name = kind == Kind::Raw ? "raw" : "datagram";
            QTest::addRow("host unreachable, %s", name)
                << kind << QStringLiteral("10.201.0.7") << 0
                << QStringLiteral("Reply from 10.200.0.2: Dest Host Not Reachable (11003)");
            QTest::addRow("silence, %s", name) << kind << QStringLiteral("10.202.0.7") << 3 << silence;
            QTest::addRow("IPv6 no route, %s", name)
                << kind << QStringLiteral("fd61::7") << 0
                << QStringLiteral("Reply from fd60::2: Dest Network Not Reachable (11002)");
            QTest::addRow("IPv6 silence, %s", name) << kind << QStringLiteral("fd62::7") << 3 << silence;
        }
    }
    void pingcheckFailures()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, destination);
        const HostAddress to = hostAddress(destination);
        const bool routed = !destination.startsWith(QStringLiteral("127."));
        Sandbox sandbox;
        const QString why = routed ? sandbox.prepareRouted(kind, false, to.isIpv6)
                                   : sandbox.prepareLoopback(kind, false, true);
        if (!why.isEmpty() && (routed || !why.startsWith(QStringLiteral("cannot open"))))
            QSKIP(qPrintable(why));

        IcmpEchoService service(kind);
        TargetTable table;
        GlobalSettings settings;
        table[0].SmoothedRtt = 4.0;
        PingCall call;
        QElapsedTimer clock;
        clock.start();
        // Two seconds over IPv6, as in a cycle: the first request waits for neighbour discovery
        // on the fresh link.
        auto echo = pingcheck(service, to, to.isIpv6 ? 2 : 1, 0, table, settings, call.sink());
        QCOMPARE(call.calls, 0);
        QTRY_COMPARE_WITH_TIMEOUT(call.calls, 1, 5000);
        QTEST(call.msg, "msg");
        QTEST(int(call.code), "code");
        QCOMPARE(table[0].SmoothedRtt, 4.0);
        QCOMPARE(service.activeKind(), Kind::Any);
        if (call.code == 3)
            QVERIFY(clock.elapsed() >= 1000);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstIcmpProbe)
#include "tst_icmpprobe.moc"
