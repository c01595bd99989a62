#include "CycleRig.h"
#include "NetNamespace.h"
#include "engine/StatusGrid.h"
#include "probes/HostAddress.h"
#include "probes/IcmpProbe.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <arpa/inet.h>

#include <memory>

using namespace sentrel;
using namespace sentrel::test;

namespace {

// The interface of the test's namespace that carries its IPv6 addresses.
const QString Dummy = QStringLiteral("sd0");
const QString NamespaceAddress = QStringLiteral("fd5e::1");
const QString LinkLocal = QStringLiteral("fe80::5");

Ipv6Bytes ipv6(const QString &text)
{
    Ipv6Bytes bytes {};
    ::inet_pton(AF_INET6, text.toLatin1().constData(), bytes.data());
    return bytes;
}

// Where a case runs: the machine's own ::1, or a namespace of the test's own
// whose own interface holds a unique local and a link-local address.
class Place
{
public:
    // The reason the place cannot be made here, or the empty text.
    QString enter(bool inNamespace)
    {
        if (!inNamespace) {
            LoopbackServer probe(PeerScript(), QByteArrayLiteral("::1"));
            return probe.isListening()
                ? QString()
                : QStringLiteral("no IPv6 on this machine's loopback: ") + probe.errorString();
        }
        if (const QString why = namespaceUnavailableReason(); !why.isEmpty())
            return QStringLiteral("the namespace cases need a network namespace, but ") + why;
        m_ns = std::make_unique<NetNamespace>(QStringLiteral("dual"));
        // A veth pair with both ends at home: the one place here to put addresses on.
        const QStringList setup[] = {
            {QStringLiteral("link"), QStringLiteral("add"), Dummy, QStringLiteral("type"),
                QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"),
                Dummy + QLatin1Char('p')},
            {QStringLiteral("link"), QStringLiteral("set"), Dummy + QLatin1Char('p'), QStringLiteral("up")},
            {QStringLiteral("link"), QStringLiteral("set"), Dummy, QStringLiteral("up")},
            {QStringLiteral("addr"), QStringLiteral("add"), NamespaceAddress + QStringLiteral("/64"),
                QStringLiteral("dev"), Dummy, QStringLiteral("nodad")},
            {QStringLiteral("addr"), QStringLiteral("add"), LinkLocal + QStringLiteral("/64"),
                QStringLiteral("dev"), Dummy, QStringLiteral("nodad")}};
        if (!m_ns->isValid())
            return QStringLiteral("cannot make a namespace: ") + m_ns->error();
        for (const QStringList &command : setup) {
            if (!m_ns->ip(command))
                return QStringLiteral("cannot set up the namespace: ") + m_ns->error();
        }
        return enterNamespace();
    }

    // A namespace with IPv6 switched off, or with IPv6 on loopback only.
    QString enterWithoutIpv6(bool disabled)
    {
        if (const QString why = namespaceUnavailableReason(); !why.isEmpty())
            return QStringLiteral("this case needs a network namespace, but ") + why;
        m_ns = std::make_unique<NetNamespace>(QStringLiteral("nov6"));
        if (!m_ns->isValid())
            return QStringLiteral("cannot make a namespace: ") + m_ns->error();
        if (disabled) {
            for (const char *key : {"net/ipv6/conf/all/disable_ipv6", "net/ipv6/conf/lo/disable_ipv6"}) {
                if (!m_ns->writeSysctl(QString::fromLatin1(key), "1"))
                    return QStringLiteral("cannot switch IPv6 off: ") + m_ns->error();
            }
        }
        return enterNamespace();
    }

private:
    QString enterNamespace()
    {
        m_entry = std::make_unique<NamespaceEntry>(*m_ns);
        return m_entry->isValid() ? QString() : QStringLiteral("cannot enter ") + m_ns->name();
    }

    std::unique_ptr<NetNamespace> m_ns;
    std::unique_ptr<NamespaceEntry> m_entry; // declared last: left before the namespace goes
};

int hopLimit()
{
    QFile file(QStringLiteral("/proc/sys/net/ipv6/conf/lo/hop_limit"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : -1;
}

} // namespace

class TstDualStack : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanupTestCase() { NetNamespace::removeLeftovers(); }

    // Each method over IPv6, on loopback and on a namespace's own addresses; the
    // reading rules are the IPv4 cases' and are not repeated here.
    void everyMethodOverIpv6_data()
    {
        QTest::addColumn<bool>("inNamespace");
        QTest::addColumn<QString>("host"); // "%1": the place's address
        QTest::addColumn<QString>("peer"); // the address the peer listens on; empty: no peer
        QTest::addColumn<QString>("method"); // agent, port or echo
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("info"); // a pattern
        for (const bool ns : {false, true}) {
            const QString address = ns ? NamespaceAddress : QStringLiteral("::1");
            const char *place = ns ? "namespace" : "loopback";
            QTest::addRow("agent, in brackets, %s", place)
                << ns << QStringLiteral("[%1]").arg(address) << address << QStringLiteral("agent") << 1
                << QStringLiteral("^all fine$");
            QTest::addRow("port check, %s", place)
                << ns << address << address << QStringLiteral("port") << 1 << QStringLiteral("^220 ready$");
            QTest::addRow("echo, %s", place) << ns << address << QString() << QStringLiteral("echo") << 1
                                             << QStringLiteral("^Reply from %1: TTL = %2 Delay = \\d+ms $")
                                                    .arg(QRegularExpression::escape(address))
                                                    .arg(hopLimit());
        }
        const QString zoned = LinkLocal + QLatin1Char('%') + Dummy;
        QTest::newRow("port check, link-local with zone")
            << true << zoned << zoned << QStringLiteral("port") << 1 << QStringLiteral("^220 ready$");
        QTest::newRow("agent, link-local with zone in brackets")
            << true << QStringLiteral("[%1]").arg(zoned) << zoned << QStringLiteral("agent") << 1
            << QStringLiteral("^all fine$");
        QTest::newRow("echo, link-local with zone")
            << true << zoned << QString() << QStringLiteral("echo") << 1
            << QStringLiteral("^Reply from fe80::5: TTL = \\d+ Delay = \\d+ms $");
    }
    void everyMethodOverIpv6()
    {
        QFETCH(bool, inNamespace);
        QFETCH(QString, host);
        QFETCH(QString, peer);
        QFETCH(QString, method);
        Place place;
        if (const QString why = place.enter(inNamespace); !why.isEmpty())
            QSKIP(qPrintable(why));
        if (method == QLatin1String("echo")
            && !IcmpEchoService::canOpen(IcmpEchoService::SocketKind::Any, true))
            QSKIP("no ICMPv6 socket may be opened here (neither ping_group_range nor CAP_NET_RAW)");

        CycleRig rig;
        std::unique_ptr<LoopbackServer> server;
        Target &t = rig.table[rig.add(QStringLiteral("T"), host)];
        t.Timeout = 5;
        if (!peer.isEmpty()) {
            const bool agent = method == QLatin1String("agent");
            server =
                std::make_unique<LoopbackServer>(PeerScript(agent ? QByteArrayLiteral("OK\r\nall fine\r\n")
                                                                  : QByteArrayLiteral("220 ready\r\n")),
                    peer.toLatin1());
            QVERIFY2(server->isListening(), qPrintable(server->errorString()));
            (agent ? t.UsePX : t.UseM) = true;
            (agent ? t.PXPort : t.Port) = static_cast<int16_t>(server->port());
        } else {
            t.UseP = true;
        }
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QFETCH(QString, info);
        QVERIFY2(t.Info.contains(QRegularExpression(info)), qPrintable(t.Info + QLatin1Char('|') + t.Output));
        QTEST(int(t.Status), "status");
        if (server)
            QCOMPARE(server->acceptedCount(), 1);
        // The host stays as typed wherever it is shown.
        QCOMPARE(t.Hostname, host);
    }

    // Names resolve to IPv6 only when they have no IPv4 address.
    void namesOverIpv6()
    {
        Place place;
        if (const QString why = place.enter(false); !why.isEmpty())
            QSKIP(qPrintable(why));
        auto six = std::make_unique<LoopbackServer>(PeerScript(QByteArrayLiteral("six\r\n")), "::1");
        QVERIFY(six->isListening());
        auto four = std::make_unique<LoopbackServer>(
            PeerScript(QByteArrayLiteral("four\r\n")), privateLoopbackAddress(16), six->port());
        QVERIFY2(four->isListening(), qPrintable(four->errorString()));

        CycleRig rig;
        rig.names.set6(QStringLiteral("six.test"), ipv6(QStringLiteral("::1")));
        rig.names.set6(QStringLiteral("both.test"), ipv6(QStringLiteral("::1")));
        rig.names.set(QStringLiteral("both.test"), four->address());
        const auto onlySix = rig.addPortCheck(QStringLiteral("Six"), QStringLiteral("six.test"), six->port());
        const auto both = rig.addPortCheck(QStringLiteral("Both"), QStringLiteral("both.test"), six->port());
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.rowText(onlySix), QStringLiteral("Six|") + statusWord(1) + QStringLiteral("|six"));
        QCOMPARE(rig.rowText(both), QStringLiteral("Both|") + statusWord(1) + QStringLiteral("|four"));
        QCOMPARE(rig.names.lookups(), 2);
    }

    // A machine that cannot reach the address at all reports its own fault, not a host DOWN.
    void noIpv6OnThisMachine_data()
    {
        QTest::addColumn<bool>("disabled");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("output");
        QTest::newRow("IPv6 switched off")
            << true << QStringLiteral("::1")
            << QStringLiteral("The specified address is not available from the local machine.");
        QTest::newRow("no route") << false << QStringLiteral("2001:db8::10")
                                  << QStringLiteral(
                                         "The network cannot be reached from this host at this time.");
    }
    void noIpv6OnThisMachine()
    {
        QFETCH(bool, disabled);
        QFETCH(QString, host);
        Place place;
        if (const QString why = place.enterWithoutIpv6(disabled); !why.isEmpty())
            QSKIP(qPrintable(why));
        CycleRig rig;
        Target &t = rig.table[rig.add(QStringLiteral("T"), host)];
        t.UsePX = t.UseM = t.UseP = true;
        t.PXPort = 3000;
        t.Port = 25;
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.rowText(0),
            QStringLiteral("T|") + statusWord(0) + QStringLiteral("|IPv6 is not available on this machine"));
        QTEST(t.Output, "output");
        QCOMPARE(rig.view.beeps, 0);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstDualStack)
#include "tst_dualstack.moc"
