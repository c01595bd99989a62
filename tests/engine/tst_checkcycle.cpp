#include "CycleRig.h"
#include "ScriptedPrompts.h"
#include "engine/Monitor.h"
#include "probes/WinSock.h"

#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>
#include <sys/socket.h>

using namespace sentrel;
using namespace sentrel::test;

namespace {

const QString CrLf = QStringLiteral("\r\n");

QString hostOf(const LoopbackServer &s)
{
    return FormatDottedAddress(s.address());
}

int16_t portOf(const LoopbackServer &s)
{
    return static_cast<int16_t>(s.port());
}

PeerScript greeting(const QByteArray &text, PeerScript::Then then = PeerScript::Then::Close)
{
    PeerScript p;
    p.greeting = text;
    p.then = then;
    return p;
}

// Whether this machine lets us open any ICMP socket at all.
bool icmpAvailable()
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

class TstCheckCycle : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void noMethodIsUnknownWithoutLookup()
    {
        CycleRig rig;
        const auto i = rig.add(QStringLiteral("Nothing"), QStringLiteral("some.name"));
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.table[i].Status, TargetStatus::Unknown);
        QCOMPARE(rig.table[i].Info, QStringLiteral("No test method defined."));
        QCOMPARE(rig.rowText(i), QStringLiteral("Nothing|Unknown|No test method defined."));
        QCOMPARE(rig.names.lookups(), 0);
        QCOMPARE(rig.view.beeps, 0);
    }

    void unresolvableNameIsDown()
    {
        CycleRig rig;
        const auto i = rig.add(QStringLiteral("Ghost"), QStringLiteral("ghost.invalid"));
        rig.table[i].UseP = true;
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.table[i].Status, TargetStatus::Down);
        QCOMPARE(rig.table[i].Info, QStringLiteral("Unable to identify host"));
        QCOMPARE(rig.table[i].Output, QStringLiteral("Host not found (Authoritative Answer)"));
        QCOMPARE(rig.rowText(i), QStringLiteral("Ghost|* DOWN *|Unable to identify host"));
        QCOMPARE(rig.names.lookups(), 1);
    }

    void agentReports_data()
    {
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("output");
        QTest::newRow("WARNING with details")
            << QByteArray("WARNING\r\nDisk nearly full\r\n/var 95%\r\n/home 91%\r\n") << 2
            << QStringLiteral("Disk nearly full") << QStringLiteral("/var 95%\r\n/home 91%\r\n\r\n");
        QTest::newRow("OK bare LF, blank lines")
            << QByteArray("OK\n\nall fine\n\n\nok detail") << 1 << QStringLiteral("all fine")
            << QStringLiteral("ok detail\r\n");
        QTest::newRow("digit forms") << QByteArray("2\r\ngone\r\n") << 3 << QStringLiteral("gone") << CrLf;
        QTest::newRow("lower-case ok is an error")
            << QByteArray("ok\r\nfine\r\n") << 0 << QStringLiteral("fine") << CrLf;
    }
    void agentReports()
    {
        QFETCH(QByteArray, report);
        QFETCH(int, status);
        QFETCH(QString, info);
        QFETCH(QString, output);
        CycleRig rig;
        auto agent = lowPortServer(greeting(report));
        QVERIFY(agent);
        const auto i = rig.add(QStringLiteral("Agent"), hostOf(*agent));
        rig.table[i].UsePX = true;
        rig.table[i].PXPort = portOf(*agent);
        rig.table[i].Timeout = 5;
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(int(rig.table[i].Status), status);
        QCOMPARE(rig.table[i].Info, info);
        QCOMPARE(rig.table[i].Output, output);
        QCOMPARE(agent->received(), QByteArray()); // the agent is asked nothing
    }

    void agentRefusedThenPortGreets()
    {
        CycleRig rig;
        auto mail = lowPortServer(greeting("220 mail ready\r\n"));
        QVERIFY(mail);
        const auto i = rig.add(QStringLiteral("Mail"), hostOf(*mail));
        Target &t = rig.table[i];
        t.UsePX = true;
        t.PXPort = 9; // nothing listens there
        t.UseM = true;
        t.Port = portOf(*mail);
        t.Timeout = 5;
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(t.Status, TargetStatus::Warning);
        QCOMPARE(t.Info, QStringLiteral("220 mail ready"));
        QCOMPARE(t.Output, QStringLiteral("Connection refused on port  9\r\n") + CrLf + CrLf);
        QCOMPARE(rig.rowText(i), QStringLiteral("Mail|Warning|220 mail ready"));
    }

    void readTimeoutAndTimeOK()
    {
        auto slow = lowPortServer(greeting("+OK hello\r\n", PeerScript::Then::Silent));
        QVERIFY(slow);
        for (const bool timeOk : {false, true}) {
            CycleRig rig;
            const auto i = rig.add(QStringLiteral("Pop"), hostOf(*slow));
            Target &t = rig.table[i];
            t.UseM = true;
            t.Port = portOf(*slow);
            t.Timeout = 1;
            t.TimeOK = timeOk;
            rig.grid.load_display();
            QVERIFY(rig.runCycle());
            QCOMPARE(t.Status, timeOk ? TargetStatus::Ok : TargetStatus::Warning);
            QCOMPARE(t.Info, QStringLiteral("+OK hello"));
            QCOMPARE(t.Output, QStringLiteral("\r\n\r\n*** Timeout on read ***\r\n"));
        }
    }

    void portZeroIsSkipped()
    {
        CycleRig rig;
        const auto i = rig.add(QStringLiteral("Zero"));
        rig.table[i].UseM = true;
        rig.table[i].Port = 0;
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.table[i].Status, TargetStatus::Down);
        QCOMPARE(rig.table[i].Info, QStringLiteral("All checks failed."));
    }

    void netwareReplacesOutput()
    {
        CycleRig rig;
        const auto i = rig.add(QStringLiteral("FS"), refusingHost());
        Target &t = rig.table[i];
        t.UseM = true;
        t.Port = 25;
        t.UseIPX = true;
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(t.Status, TargetStatus::Ok);
        QCOMPARE(t.Info, QStringLiteral("Netware 4.x Connections:  10 of  100"));
        QVERIFY(t.Output.startsWith(t.Info + CrLf + QStringLiteral("File server name: FS1")));
        QVERIFY(!t.Output.contains(QStringLiteral("refused")));
    }

    void workedExampleAgentRefusedEchoAnswers()
    {
        if (!icmpAvailable())
            QSKIP("no ICMP socket may be opened here (neither ping_group_range nor CAP_NET_RAW)");
        CycleRig rig;
        const auto i = rig.add(QStringLiteral("Router"), QStringLiteral("127.0.0.1"));
        Target &t = rig.table[i];
        t.UsePX = true;
        t.PXPort = 9;
        t.UseP = true;
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(t.Status, TargetStatus::Warning);
        QVERIFY2(t.Info.startsWith(QStringLiteral("Reply from 127.0.0.1: TTL = ")), qPrintable(t.Info));
        QCOMPARE(t.Output, QStringLiteral("Connection refused on port  9\r\n") + t.Info + CrLf);
        QCOMPARE(rig.rowText(i), QStringLiteral("Router|Warning|") + t.Info);
    }

    void downForThreeCyclesAlertsOnce()
    {
        CycleRig rig;
        auto web = lowPortServer(greeting("HTTP/1.0 200 OK\r\n"));
        QVERIFY(web);
        const auto i = rig.add(QStringLiteral("Web"), QStringLiteral("web.test"));
        Target &t = rig.table[i];
        t.UseM = true;
        t.Port = portOf(*web);
        t.User = QStringLiteral("Call Bob");
        rig.grid.load_display();
        for (int cycle = 0; cycle < 3; ++cycle) {
            QVERIFY(rig.runCycle());
            QCOMPARE(t.Status, TargetStatus::Down);
        }
        QCOMPARE(rig.view.alerts, QStringList {QStringLiteral("Web")});
        QCOMPARE(rig.view.beeps, 3);
        QVERIFY(t.Alerted);
        QCOMPARE(rig.view.icons.last(), MonitorView::WindowIcon::Problem);

        rig.names.set(QStringLiteral("web.test"), web->address());
        QVERIFY(rig.runCycle());
        QCOMPARE(t.Status, TargetStatus::Ok);
        QVERIFY(!t.Alerted);
        QCOMPARE(rig.view.icons.last(), MonitorView::WindowIcon::Idle);

        rig.names.remove(QStringLiteral("web.test"));
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.view.alerts.size(), 2);
        QCOMPARE(rig.view.beeps, 4);
        // The alert added the Target's own text and moved the selection to it.
        QVERIFY(t.Output.endsWith(QStringLiteral("Call Bob")));
        QCOMPARE(rig.grid.currentRow(), int(t.Row));
        QCOMPARE(rig.grid.txtdata(), t.Output);
    }

    void alertSwitchesOff()
    {
        CycleRig rig;
        rig.settings.Error = false;
        rig.settings.Warn = false;
        auto slow = lowPortServer(greeting("hi\r\n", PeerScript::Then::Silent));
        QVERIFY(slow);
        const auto down = rig.add(QStringLiteral("Down"), QStringLiteral("nowhere.test"));
        rig.table[down].UseM = true;
        rig.table[down].Port = 25;
        const auto warn = rig.addPortCheck(QStringLiteral("Warn"), *slow, 1);
        rig.table[down].Alerted = true; // stays as it is while DOWN with alerts off
        rig.table[warn].Alerted = true; // cleared: WARNING with Warn off
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.rowText(down), QStringLiteral("Down|* DOWN *|Unable to identify host"));
        QCOMPARE(rig.rowText(warn), QStringLiteral("Warn|Warning|hi"));
        QCOMPARE(rig.view.beeps, 0);
        QVERIFY(rig.view.alerts.isEmpty());
        QVERIFY(rig.table[down].Alerted);
        QVERIFY(!rig.table[warn].Alerted);
        // Only the DOWN row sets the problem icon.
        QCOMPARE(rig.view.icons.last(), MonitorView::WindowIcon::Problem);
        rig.table[down].Status = -1;
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.view.icons.last(), MonitorView::WindowIcon::Idle);
    }

    void twoDownTargetsTwoAlertsSelectionOnSecond()
    {
        CycleRig rig;
        const auto a = rig.add(QStringLiteral("A"), QStringLiteral("a.test"));
        const auto ok = rig.add(QStringLiteral("Quiet"));
        const auto b = rig.add(QStringLiteral("B"), QStringLiteral("b.test"));
        rig.table[a].UseP = true;
        rig.table[b].UseP = true;
        (void)ok;
        rig.grid.load_display();
        rig.grid.setCurrentRow(2);
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.view.alerts, (QStringList {QStringLiteral("A"), QStringLiteral("B")}));
        QCOMPARE(rig.grid.currentRow(), int(rig.table[b].Row));
        QCOMPARE(rig.grid.currentColumn(), 0);
    }

    void freeSlotInTheMiddleIsPassedOver()
    {
        CycleRig rig;
        const auto a = rig.add(QStringLiteral("A"));
        const auto gap = rig.add(QStringLiteral("Gap"));
        const auto c = rig.add(QStringLiteral("C"));
        rig.table[gap].Status = TargetStatus::Free;
        rig.grid.load_display();
        QCOMPARE(rig.grid.rowCount(), 3);
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.grid.rowCount(), 3);
        QCOMPARE(rig.rowText(a), QStringLiteral("A|Unknown|No test method defined."));
        QCOMPARE(rig.rowText(c), QStringLiteral("C|Unknown|No test method defined."));
        QCOMPARE(rig.table[gap].Status, TargetStatus::Free);
        QVERIFY(!rig.table[gap].LastCheck.isValid());
    }

    void cycleStartAndEnd()
    {
        CycleRig rig;
        rig.monitor->setLoggingEnabled(true);
        rig.add(QStringLiteral("A"));
        rig.grid.load_display();
        rig.grid.setCurrentRow(1);
        rig.monitor->do_check();
        QVERIFY(rig.monitor->CycleRunning());
        QVERIFY(rig.view.abortEnabled);
        QCOMPARE(rig.view.icons.first(), MonitorView::WindowIcon::Busy);
        QCOMPARE(rig.view.logCommandsEnabledLog, QList<bool> {false});
        QVERIFY(!rig.monitor->timerRunning());
        QTRY_VERIFY(!rig.monitor->CycleRunning());
        QVERIFY(!rig.view.abortEnabled);
        QCOMPARE(rig.view.logCommandsEnabledLog, (QList<bool> {false, true}));
        QCOMPARE(rig.logEntries, 1);
        QVERIFY(rig.monitor->timerRunning());
        QCOMPARE(rig.grid.currentRow(), 1);
        QCOMPARE(rig.view.statusCaptions.last(), QString());
        QCOMPARE(rig.view.countCaption, QString());

        rig.monitor->setMonitoringEnabled(false);
        rig.monitor->setLoggingEnabled(false);
        QVERIFY(rig.runCycle());
        QVERIFY(!rig.monitor->timerRunning());
        QCOMPARE(rig.logEntries, 1);
    }

    void abortInTheThirdOfFive_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::newRow("one at a time") << 1;
        QTest::newRow("parallel") << 32;
    }
    void abortInTheThirdOfFive()
    {
        QFETCH(int, parallel);
        CycleRig rig;
        rig.settings.Parallel = static_cast<int16_t>(parallel);
        rig.monitor->setLoggingEnabled(true);
        auto quick = lowPortServer(greeting("fast\r\n"));
        auto slow = lowPortServer(greeting("partial\r\n", PeerScript::Then::Silent));
        QVERIFY(quick && slow);
        for (int n = 0; n < 5; ++n) {
            const auto i = rig.add(QStringLiteral("T%1").arg(n));
            Target &t = rig.table[i];
            const bool isSlow = n >= 2;
            t.Hostname = hostOf(isSlow ? *slow : *quick);
            t.UseM = true;
            t.Port = portOf(isSlow ? *slow : *quick);
            t.Timeout = 20;
            t.Info = QStringLiteral("old %1").arg(n);
        }
        const QDateTime before = QDateTime::fromSecsSinceEpoch(1000);
        for (Target &t : rig.table)
            t.LastCheck = before;
        rig.grid.load_display();
        rig.monitor->do_check();
        // Wait until the third Target is the one being read.
        QTRY_VERIFY_WITH_TIMEOUT(rig.table[1].Status == TargetStatus::Ok
                && rig.view.statusCaptions.last().startsWith(QStringLiteral("Reading:")),
            10000);
        rig.monitor->optabort_Click();
        QVERIFY(rig.monitor->AbortRequested());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->CycleRunning(), 5000);
        QVERIFY(!rig.monitor->AbortRequested());
        QCOMPARE(rig.table[2].Status, TargetStatus::Ok);
        QCOMPARE(rig.table[2].Info, QStringLiteral("partial"));
        QCOMPARE(rig.rowText(2), QStringLiteral("T2|OK|partial"));
        for (int16_t n = 3; n < 5; ++n) {
            QCOMPARE(rig.table[n].Status, TargetStatus::Unknown);
            QCOMPARE(rig.table[n].Info, QStringLiteral("old %1").arg(n));
            QCOMPARE(rig.rowText(n), QStringLiteral("T%1|Unknown|old %1").arg(n));
            QCOMPARE(rig.table[n].LastCheck, before);
        }
        QCOMPARE(rig.logEntries, 1);
    }

    void abortRestoresTheRoundTripOfAnUnappliedEcho()
    {
        if (!icmpAvailable())
            QSKIP("no ICMP socket may be opened here (neither ping_group_range nor CAP_NET_RAW)");
        CycleRig rig;
        rig.settings.Parallel = 32;
        auto slow = lowPortServer(greeting("partial\r\n", PeerScript::Then::Silent));
        QVERIFY(slow);
        rig.addPortCheck(QStringLiteral("Slow"), *slow, 20);
        const auto echo = rig.add(QStringLiteral("Echo"), QStringLiteral("127.0.0.1"));
        rig.table[echo].UseP = true;
        rig.table[echo].SmoothedRtt = 50.0;
        rig.table[echo].Info = QStringLiteral("old");
        rig.grid.load_display();
        rig.monitor->do_check();
        // The echo has answered, and changed the average, while the first Target still reads.
        QTRY_VERIFY_WITH_TIMEOUT(rig.table[echo].SmoothedRtt != 50.0, 5000);
        QVERIFY(rig.monitor->CycleRunning());
        rig.monitor->optabort_Click();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->CycleRunning(), 5000);
        QCOMPARE(rig.table[0].Info, QStringLiteral("partial"));
        // As if it had never been checked, which is what one-at-a-time checking gives.
        QCOMPARE(rig.table[echo].SmoothedRtt, 50.0);
        QCOMPARE(rig.rowText(echo), QStringLiteral("Echo|Unknown|old"));
    }

    void statusCaptionFollowsTheHeadPastAFreeSlot()
    {
        CycleRig rig;
        auto slow = lowPortServer(greeting(QByteArray(), PeerScript::Then::Silent));
        QVERIFY(slow);
        auto hanging = lowHangingPort();
        if (!hanging)
            QSKIP("the kernel answered every loopback connection; no port whose connect hangs");
        rig.addPortCheck(QStringLiteral("First"), *slow, 1);
        const auto gap = rig.add(QStringLiteral("Gap"));
        const auto hung = rig.add(QStringLiteral("Hung"), FormatDottedAddress(hanging->address));
        rig.table[gap].Status = TargetStatus::Free;
        rig.table[hung].UseM = true;
        rig.table[hung].Port = static_cast<int16_t>(hanging->port);
        rig.grid.load_display();
        rig.monitor->do_check();
        QTRY_VERIFY_WITH_TIMEOUT(rig.table[0].Status == TargetStatus::Warning, 5000);
        // The third Target is now the first not yet applied, and its probe is still connecting.
        QTRY_COMPARE(rig.view.statusCaptions.last(), QStringLiteral("Connecting..."));
        QVERIFY(rig.monitor->CycleRunning());
        rig.table.reset();
        rig.grid.load_display();
        QTRY_VERIFY(!rig.monitor->CycleRunning());
    }

    void oneAtATimeAndParallelAgree()
    {
        auto banner = lowPortServer(greeting("220 ready\r\n"));
        auto agentWarn = lowPortServer(greeting("WARNING\r\nload high\r\nd1\r\n"));
        auto silent = lowPortServer(greeting(QByteArray(), PeerScript::Then::Silent));
        QVERIFY(banner && agentWarn && silent);
        QStringList results[2];
        QStringList alerts[2];
        QStringList logs[2];
        int rows[2] = {0, 0};
        for (int run = 0; run < 2; ++run) {
            CycleRig rig;
            rig.settings.Parallel = run == 0 ? 1 : 32;
            rig.settings.Warn = true;
            rig.monitor->setLoggingEnabled(true);
            rig.monitor->setClock([] { return QDateTime::fromSecsSinceEpoch(86400); });
            for (int n = 0; n < 24; ++n) {
                const auto i = rig.add(QStringLiteral("T%1").arg(n));
                Target &t = rig.table[i];
                switch (n % 6) {
                case 0:
                    t.Hostname = hostOf(*banner);
                    t.UseM = true;
                    t.Port = portOf(*banner);
                    break;
                case 1:
                    t.Hostname = refusingHost();
                    t.UseM = true;
                    t.Port = 25;
                    break;
                case 2:
                    t.Hostname = hostOf(*agentWarn);
                    t.UsePX = true;
                    t.PXPort = portOf(*agentWarn);
                    break;
                case 3:
                    t.Hostname = hostOf(*silent);
                    t.UseM = true;
                    t.Port = portOf(*silent);
                    t.Timeout = 1;
                    break;
                case 4:
                    t.Hostname = QStringLiteral("unknown.test");
                    t.UseM = true;
                    t.Port = 80;
                    break;
                default:
                    t.Status = TargetStatus::Free;
                    break;
                }
                t.Timeout = t.Timeout ? t.Timeout : int16_t(5);
            }
            rig.grid.load_display();
            rig.grid.setCurrentRow(3);
            QVERIFY(rig.runCycle());
            for (int r = 1; r < rig.grid.rowCount(); ++r)
                results[run] << rig.grid.cell(r, 0) + QLatin1Char('|') + rig.grid.cell(r, 1)
                        + QLatin1Char('|') + rig.grid.cell(r, 2);
            alerts[run] = rig.view.alerts;
            logs[run] = rig.logged;
            rows[run] = rig.grid.currentRow();
        }
        QCOMPARE(results[1], results[0]);
        QCOMPARE(alerts[1], alerts[0]);
        QCOMPARE(logs[1], logs[0]);
        QCOMPARE(rows[1], rows[0]);
        QCOMPARE(results[0].size(), 20);
        QVERIFY(alerts[0].size() >= 12);
    }

    void deletedMidCycleIsPassedOver()
    {
        CycleRig rig;
        auto slow = lowPortServer(greeting("x\r\n", PeerScript::Then::Silent));
        QVERIFY(slow);
        const auto a = rig.addPortCheck(QStringLiteral("A"), *slow, 1);
        const auto b = rig.addPortCheck(QStringLiteral("B"), *slow, 1);
        rig.grid.load_display();
        rig.monitor->do_check();
        QCOMPARE(rig.grid.cell(2, 1), QStringLiteral("Checking"));
        rig.table[b].Status = TargetStatus::Free;
        rig.grid.load_display();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->CycleRunning(), 10000);
        QCOMPARE(rig.table[b].Status, TargetStatus::Free);
        QCOMPARE(rig.grid.rowCount(), 2);
        QCOMPARE(rig.rowText(a), QStringLiteral("A|Warning|x"));
    }

    void replacingTheTableEndsTheCycle()
    {
        CycleRig rig;
        rig.monitor->setLoggingEnabled(true);
        auto slow = lowPortServer(greeting("x\r\n", PeerScript::Then::Silent));
        QVERIFY(slow);
        for (int n = 0; n < 3; ++n)
            rig.addPortCheck(QStringLiteral("S%1").arg(n), *slow, 30);
        rig.grid.load_display();
        rig.grid.setCurrentRow(3);
        rig.monitor->do_check();
        QTRY_COMPARE(slow->acceptedCount(), 3);
        Target fresh;
        fresh.Desc = QStringLiteral("Imported");
        fresh.Info = QStringLiteral("never checked");
        rig.table.assign({fresh});
        rig.grid.load_display();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->CycleRunning(), 2000);
        QTRY_COMPARE(slow->openCount(), 0); // every probe's socket was closed
        QCOMPARE(rig.rowText(0), QStringLiteral("Imported|Unknown|never checked"));
        QCOMPARE(rig.grid.rowCount(), 2);
        QCOMPARE(rig.logEntries, 0);
        QVERIFY(rig.runCycle()); // and the next cycle works on the new table
        QCOMPARE(rig.table[0].Info, QStringLiteral("No test method defined."));
    }

    void lateResultAfterReplacingTheTableWritesNoLog()
    {
        CycleRig rig;
        rig.monitor->setLoggingEnabled(true);
        rig.add(QStringLiteral("Quick")); // no method: its check ends at the first turn of the event loop
        rig.grid.load_display();
        rig.monitor->do_check();
        QVERIFY(rig.monitor->CycleRunning());
        // Queued behind the check's first step: the table is replaced after the check has finished but
        // before the cycle has heard of it.
        QMetaObject::invokeMethod(
            &rig.grid,
            [&rig] {
                Target fresh;
                fresh.Desc = QStringLiteral("Imported");
                rig.table.assign({fresh});
                rig.grid.load_display();
            },
            Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->CycleRunning(), 2000);
        QCOMPARE(rig.logEntries, 0);
        QCOMPARE(rig.rowText(0), QStringLiteral("Imported|Unknown|"));
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.logEntries, 1);
    }

    void clearingTheListEndsTheCycle()
    {
        CycleRig rig;
        auto slow = lowPortServer(greeting("x\r\n", PeerScript::Then::Silent));
        QVERIFY(slow);
        rig.addPortCheck(QStringLiteral("S"), *slow, 30);
        rig.grid.load_display();
        rig.grid.setCurrentRow(1);
        rig.monitor->do_check();
        QTRY_COMPARE(slow->acceptedCount(), 1);
        ScriptedPrompts prompts;
        prompts.queueAnswer(UserPrompts::Answer::Ok);
        rig.grid.clearlist(prompts);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->CycleRunning(), 2000);
        QTRY_COMPARE(slow->openCount(), 0);
        QCOMPARE(rig.table.size(), int16_t(1));
        QVERIFY(rig.table[0].isFree());
        QCOMPARE(rig.grid.rowCount(), 1); // no stale row was written into the cleared grid
    }

    void editedWhileWaitingIsCheckedWithItsNewDefinition()
    {
        CycleRig rig;
        rig.settings.Parallel = 32;
        auto slow = lowPortServer(greeting("first\r\n", PeerScript::Then::Silent));
        auto mail = lowPortServer(greeting("220 ready\r\n"));
        QVERIFY(slow && mail);
        rig.addPortCheck(QStringLiteral("Slow"), *slow, 2);
        const auto edited = rig.add(QStringLiteral("Edited"), refusingHost());
        rig.table[edited].UseM = true;
        rig.table[edited].Port = 25;
        rig.table[edited].Timeout = 5;
        rig.grid.load_display();
        rig.monitor->do_check();
        // Both were started at once; the second will be refused long before the first is done.
        QCOMPARE(rig.grid.cell(rig.table[edited].Row, 1), QStringLiteral("Checking"));
        // What the definition dialog does on OK, before the cycle has reached the Target.
        Target &t = rig.table[edited];
        t.Hostname = hostOf(*mail);
        t.Port = portOf(*mail);
        t.Status = TargetStatus::Unknown;
        t.Info.clear();
        t.Output.clear();
        rig.grid.load_display();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->CycleRunning(), 10000);
        QCOMPARE(rig.rowText(edited), QStringLiteral("Edited|OK|220 ready"));
        QVERIFY(rig.view.alerts.isEmpty());
        QCOMPARE(mail->acceptedCount(), 1);
    }

    void grownMidCycleWaitsForTheNextCycle()
    {
        CycleRig rig;
        auto slow = lowPortServer(greeting("x\r\n", PeerScript::Then::Silent));
        QVERIFY(slow);
        rig.addPortCheck(QStringLiteral("S"), *slow, 1);
        rig.grid.load_display();
        rig.monitor->do_check();
        rig.grid.newentry();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->CycleRunning(), 10000);
        QCOMPARE(rig.table[1].Info, QStringLiteral("New entry"));
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.table[1].Info, QStringLiteral("No test method defined."));
    }
};

QTEST_GUILESS_MAIN(TstCheckCycle)
#include "tst_checkcycle.moc"
