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

// Where a case runs: a network namespace of the test's own, with IPv6 on an interface of its
// own (a unique local and a link-local address), on loopback only, or switched off.
class Place
{
public:
    enum Kind { DualStack, LoopbackOnly, Ipv6Off };

    // The reason the place cannot be made here, or the empty text.
    QString enter(Kind kind)
    {
        if (const QString why = namespaceUnavailableReason(); !why.isEmpty())
            return QStringLiteral("this case needs a network namespace, but ") + why;
        m_ns = std::make_unique<NetNamespace>(QStringLiteral("dual"));
        if (!m_ns->isValid())
            return QStringLiteral("cannot make a namespace: ") + m_ns->error();
        if (kind == DualStack) {
            // A veth pair with both ends at home: the one place here to put addresses on.
            const QString setup[] = {QStringLiteral("link add %1 type veth peer name %1p").arg(Dummy),
                QStringLiteral("link set %1p up").arg(Dummy), QStringLiteral("link set %1 up").arg(Dummy),
                QStringLiteral("addr add %1/64 dev %2 nodad").arg(NamespaceAddress, Dummy),
                QStringLiteral("addr add %1/64 dev %2 nodad").arg(LinkLocal, Dummy)};
            for (const QString &command : setup) {
                if (!m_ns->ip(command))
                    return QStringLiteral("cannot set up the namespace: ") + m_ns->error();
            }
        }
        if (kind == Ipv6Off) {
            for (const char *key : {"net/ipv6/conf/all/disable_ipv6", "net/ipv6/conf/lo/disable_ipv6"}) {
                if (!m_ns->writeSysctl(QString::fromLatin1(key), "1"))
                    return QStringLiteral("cannot switch IPv6 off: ") + m_ns->error();
            }
        }
        m_entry = std::make_unique<NamespaceEntry>(*m_ns);
        return m_entry->isValid() ? QString() : QStringLiteral("cannot enter ") + m_ns->name();
    }

private:
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

    // Each method over IPv6, on a namespace's own unique local and link-local addresses (the
    // machine's ::1 takes the same path); the reading rules are the IPv4 cases' and are not
    // repeated here.
    void everyMethodOverIpv6_data()
    {
        QTest::addColumn<QString>("host"); // as typed
        QTest::addColumn<QString>("peer"); // the address the peer listens on; empty: no peer
        QTest::addColumn<QString>("method"); // agent, port or echo
        QTest::addColumn<QString>("info"); // a pattern
        const QString address = NamespaceAddress;
        QTest::newRow("agent, in brackets") << QStringLiteral("[%1]").arg(address) << address
                                            << QStringLiteral("agent") << QStringLiteral("^all fine$");
        QTest::newRow("echo") << address << QString() << QStringLiteral("echo")
                              << QStringLiteral("^Reply from %1: TTL = %2 Delay = \\d+ms $")
                                     .arg(QRegularExpression::escape(address))
                                     .arg(hopLimit());
        const QString zoned = LinkLocal + QLatin1Char('%') + Dummy;
        QTest::newRow("port check, link-local with zone")
            << zoned << zoned << QStringLiteral("port") << QStringLiteral("^220 ready$");
        QTest::newRow("agent, link-local with zone in brackets") << QStringLiteral("[%1]").arg(
            zoned) << zoned << QStringLiteral("agent") << QStringLiteral("^all fine$");
        QTest::newRow("echo, link-local with zone")
            << zoned << QString() << QStringLiteral("echo")
            << QStringLiteral("^Reply from fe80::5: TTL = \\d+ Delay = \\d+ms $");
    }
    void everyMethodOverIpv6()
    {
        QFETCH(QString, host);
        QFETCH(QString, peer);
        QFETCH(QString, method);
        Place place;
        if (const QString why = place.enter(Place::DualStack); !why.isEmpty())
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
        QCOMPARE(t.Status, TargetStatus::Ok);
        // The host stays as typed wherever it is shown.
        QCOMPARE(t.Hostname, host);
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
        if (const QString why = place.enter(disabled ? Place::Ipv6Off : Place::LoopbackOnly); !why.isEmpty())
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
    }
};

SENTREL_TEST_GUILESS_MAIN(TstDualStack)
#include "tst_dualstack.moc"
