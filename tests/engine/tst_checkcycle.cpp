#include "CycleRig.h"
#include "ScriptedPrompts.h"
#include "engine/Monitor.h"
#include "probes/IcmpProbe.h"
#include "probes/WinSock.h"

#include <QTest>

using namespace sentrel;
using namespace sentrel::test;

namespace {

std::unique_ptr<LoopbackServer> peer(const QByteArray &greeting, bool silent = false)
{
    return lowPortServer(PeerScript(greeting, silent ? PeerScript::Then::Silent : PeerScript::Then::Close));
}

QString hostOf(const LoopbackServer &s)
{
    return FormatDottedAddress(s.address());
}

// One Target alone in a cycle, and what the cycle makes of it.
struct Case
{
    const char *host = "127.0.0.1";
    bool echo = false;
    int port = -1; // port check on this port; -1: none
    const char *greeting = nullptr; // port check against a peer that greets so
    bool silent = false; // ... and then says nothing more
    const char *agent = nullptr; // agent query of a peer that answers so; "": refused on port 9
    bool netware = false;
    bool timeOk = false;
    int status = 0;
    const char *info = "";
    const char *output = nullptr; // nullptr: not compared
    int lookups = -1; // -1: not compared
};

} // namespace

class TstCheckCycle : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oneTarget_data()
    {
        QTest::addColumn<Case>("c");
        QTest::newRow("no method") << Case {
            .host = "some.name", .info = "No test method defined.", .lookups = 0};
        QTest::newRow("unresolvable, echo only") << Case {.host = "ghost.invalid",
            .echo = true,
            .status = 3,
            .info = "Unable to identify host",
            .output = "Host not found (Authoritative Answer)",
            .lookups = 1};
        QTest::newRow("port 0 is skipped") << Case {.port = 0, .status = 3, .info = "All checks failed."};
        // Nothing listens on 127.77.x.x.
        QTest::newRow("NetWare replaces the refusal") << Case {.host = "127.77.1.1",
            .port = 25,
            .netware = true,
            .status = 1,
            .info = "Netware 4.x Connections:  10 of  100",
            .output = "Netware 4.x Connections:  10 of  100\r\nFile server name: FS1\r\n"
                      "Utilisation= 7, Uptime= 99\r\n"};
        QTest::newRow("agent WARNING with details")
            << Case {.agent = "WARNING\r\nDisk nearly full\r\n/var 95%\r\n/home 91%\r\n",
                   .status = 2,
                   .info = "Disk nearly full",
                   .output = "/var 95%\r\n/home 91%\r\n\r\n"};
        QTest::newRow("agent OK, bare LF, blank lines") << Case {.agent = "OK\n\nall fine\n\n\nok detail",
            .status = 1,
            .info = "all fine",
            .output = "ok detail\r\n"};
        QTest::newRow("agent digit form")
            << Case {.agent = "2\r\ngone\r\n", .status = 3, .info = "gone", .output = "\r\n"};
        QTest::newRow("agent lower-case ok is an error")
            << Case {.agent = "ok\r\nfine\r\n", .info = "fine", .output = "\r\n"};
        QTest::newRow("agent refused, port greets") << Case {.greeting = "220 mail ready\r\n",
            .agent = "",
            .status = 2,
            .info = "220 mail ready",
            .output = "Connection refused on port  9\r\n\r\n\r\n"};
        for (const bool timeOk : {false, true})
            QTest::newRow(timeOk ? "read time-out with TimeOK" : "read time-out")
                << Case {.greeting = "+OK hello\r\n",
                       .silent = true,
                       .timeOk = timeOk,
                       .status = timeOk ? 1 : 2,
                       .info = "+OK hello",
                       .output = "\r\n\r\n*** Timeout on read ***\r\n"};
    }
    void oneTarget()
    {
        QFETCH(Case, c);
        CycleRig rig;
        std::unique_ptr<LoopbackServer> portPeer;
        std::unique_ptr<LoopbackServer> agentPeer;
        Target &t = rig.table[rig.add(QStringLiteral("T"), QString::fromLatin1(c.host))];
        t.UseP = c.echo;
        t.UseIPX = c.netware;
        t.TimeOK = c.timeOk;
        t.Timeout = c.silent ? 1 : 5;
        if (c.greeting) {
            QVERIFY(portPeer = peer(c.greeting, c.silent));
            t.Hostname = hostOf(*portPeer);
            c.port = portPeer->port();
        }
        t.UseM = c.port >= 0;
        t.Port = static_cast<int16_t>(c.port);
        t.UsePX = c.agent != nullptr;
        t.PXPort = 9; // nothing listens there
        if (c.agent && *c.agent) {
            QVERIFY(agentPeer = peer(c.agent));
            t.Hostname = hostOf(*agentPeer);
            t.PXPort = static_cast<int16_t>(agentPeer->port());
        }
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        const QString info = QString::fromLatin1(c.info);
        QCOMPARE(int(t.Status), c.status);
        if (c.output)
            QCOMPARE(t.Output, QString::fromLatin1(c.output));
        if (c.lookups >= 0)
            QCOMPARE(rig.names.lookups(), c.lookups);
        QCOMPARE(rig.rowText(0), QStringLiteral("T|") + statusWord(t.Status) + QLatin1Char('|') + info);
        QCOMPARE(rig.view.beeps, c.status == TargetStatus::Down ? 1 : 0);
        if (agentPeer)
            QCOMPARE(agentPeer->received(), QByteArray()); // the agent is asked nothing
    }

    void downForThreeCyclesAlertsOnce()
    {
        CycleRig rig;
        auto web = peer("HTTP/1.0 200 OK\r\n");
        QVERIFY(web);
        Target &t =
            rig.table[rig.addPortCheck(QStringLiteral("Web"), QStringLiteral("web.test"), web->port())];
        t.User = QStringLiteral("Call Bob");
        rig.grid.load_display();
        for (int cycle = 0; cycle < 3; ++cycle) {
            QVERIFY(rig.runCycle());
            QCOMPARE(t.Status, TargetStatus::Down);
        }
        QCOMPARE(rig.view.alerts, QStringList {QStringLiteral("Web")});
        QCOMPARE(rig.view.beeps, 3);
        QCOMPARE(rig.view.icons.last(), MonitorView::WindowIcon::Problem);

        rig.names.set(QStringLiteral("web.test"), web->address());
        QVERIFY(rig.runCycle());
        QCOMPARE(t.Status, TargetStatus::Ok);
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
        rig.settings.Error = rig.settings.Warn = false;
        auto slow = peer("hi\r\n", true);
        QVERIFY(slow);
        const auto down = rig.addPortCheck(QStringLiteral("Down"), QStringLiteral("nowhere.test"), 25);
        const auto warn = rig.addPortCheck(QStringLiteral("Warn"), *slow, 1);
        rig.table[down].Alerted = true; // stays as it is while DOWN with alerts off
        rig.table[warn].Alerted = true; // cleared: WARNING with Warn off
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.rowText(down), QStringLiteral("Down|* DOWN *|Unable to identify host"));
        QCOMPARE(rig.rowText(warn), QStringLiteral("Warn|Warning|hi"));
        QCOMPARE(rig.view.beeps, 0);
        QVERIFY(rig.view.alerts.isEmpty());
        QVERIFY(rig.table[down].Alerted && !rig.table[warn].Alerted);
        // Only the DOWN row sets the problem icon.
        QCOMPARE(rig.view.icons.last(), MonitorView::WindowIcon::Problem);
        rig.table[down].Status = TargetStatus::Free;
        rig.grid.load_display();
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.view.icons.last(), MonitorView::WindowIcon::Idle);
    }

    void cycleStartAndEndPassingAFreeSlot()
    {
        CycleRig rig;
        rig.monitor->setLoggingEnabled(true);
        rig.add(QStringLiteral("A"));
        rig.add(QStringLiteral("Gap"));
        rig.add(QStringLiteral("C"));
        rig.table[1].Status = TargetStatus::Free;
        rig.grid.load_display();
        rig.grid.setCurrentRow(1);
        rig.monitor->do_check();
        QVERIFY(rig.monitor->CycleRunning() && rig.view.abortEnabled && !rig.monitor->timerRunning());
        QCOMPARE(rig.view.icons.first(), MonitorView::WindowIcon::Busy);
        QCOMPARE(rig.view.logCommandsEnabledLog, QList<bool> {false});
        QTRY_VERIFY(!rig.monitor->CycleRunning());
        QVERIFY(!rig.view.abortEnabled && rig.monitor->timerRunning());
        QCOMPARE(rig.view.logCommandsEnabledLog, (QList<bool> {false, true}));
        QCOMPARE(rig.logEntries, 1);
        QCOMPARE(rig.grid.currentRow(), 1);
        QCOMPARE(rig.view.statusCaptions.last(), QString());
        QCOMPARE(rig.view.countCaption, QString());
        QCOMPARE(rig.rowText(0), QStringLiteral("A|Unknown|No test method defined."));
        QCOMPARE(rig.rowText(2), QStringLiteral("C|Unknown|No test method defined."));
        QVERIFY(rig.table[1].isFree() && !rig.table[1].LastCheck.isValid());

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
        auto quick = peer("fast\r\n");
        auto slow = peer("partial\r\n", true);
        QVERIFY(quick && slow);
        const QDateTime before = QDateTime::fromSecsSinceEpoch(1000);
        for (int n = 0; n < 5; ++n) {
            Target &t =
                rig.table[rig.addPortCheck(QStringLiteral("T%1").arg(n), n >= 2 ? *slow : *quick, 20)];
            t.Info = QStringLiteral("old %1").arg(n);
            t.LastCheck = before;
        }
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
        QCOMPARE(rig.rowText(2), QStringLiteral("T2|OK|partial"));
        for (int16_t n = 3; n < 5; ++n) {
            QCOMPARE(rig.rowText(n), QStringLiteral("T%1|Unknown|old %1").arg(n));
            QCOMPARE(rig.table[n].LastCheck, before);
        }
        QCOMPARE(rig.logEntries, 1);
    }

    void abortRestoresTheRoundTripOfAnUnappliedEcho()
    {
        if (!IcmpEchoService::canOpen(IcmpEchoService::SocketKind::Any))
            QSKIP("no ICMP socket may be opened here (neither ping_group_range nor CAP_NET_RAW)");
        CycleRig rig;
        rig.settings.Parallel = 32;
        auto slow = peer("partial\r\n", true);
        QVERIFY(slow);
        rig.addPortCheck(QStringLiteral("Slow"), *slow, 20);
        Target &echo = rig.table[rig.add(QStringLiteral("Echo"))];
        echo.UseP = true;
        echo.SmoothedRtt = 50.0;
        echo.Info = QStringLiteral("old");
        rig.grid.load_display();
        rig.monitor->do_check();
        // The echo has answered, and changed the average, while the first Target still reads.
        QTRY_VERIFY_WITH_TIMEOUT(echo.SmoothedRtt != 50.0, 5000);
        // One idle second into the read, the greeting has surely been read.
        QTRY_VERIFY_WITH_TIMEOUT(rig.view.statusCaptions.contains(QStringLiteral("Reading:  19")), 5000);
        QVERIFY(rig.monitor->CycleRunning());
        rig.monitor->optabort_Click();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->CycleRunning(), 5000);
        QCOMPARE(rig.table[0].Info, QStringLiteral("partial"));
        // As if it had never been checked, which is what one-at-a-time checking gives.
        QCOMPARE(echo.SmoothedRtt, 50.0);
        QCOMPARE(rig.rowText(1), QStringLiteral("Echo|Unknown|old"));
    }

    void deletedAndAddedMidCycle()
    {
        CycleRig rig;
        auto slow = peer("x\r\n", true);
        QVERIFY(slow);
        rig.addPortCheck(QStringLiteral("A"), *slow, 1);
        rig.addPortCheck(QStringLiteral("B"), *slow, 1);
        rig.grid.load_display();
        rig.monitor->do_check();
        QCOMPARE(rig.grid.cell(2, 1), QStringLiteral("Checking"));
        rig.table[1].Status = TargetStatus::Free;
        rig.grid.load_display();
        rig.grid.newentry();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->CycleRunning(), 10000);
        QVERIFY(rig.table[1].isFree());
        QCOMPARE(rig.grid.rowCount(), 3);
        QCOMPARE(rig.rowText(0), QStringLiteral("A|Warning|x"));
        // The Target added during the cycle waits for the next one.
        QCOMPARE(rig.table[2].Info, QStringLiteral("New entry"));
        QVERIFY(rig.runCycle());
        QCOMPARE(rig.table[2].Info, QStringLiteral("No test method defined."));
    }

    void replacingOrClearingEndsTheCycle_data()
    {
        QTest::addColumn<bool>("clear");
        QTest::newRow("import replaces the table") << false;
        QTest::newRow("clear list") << true;
    }
    void replacingOrClearingEndsTheCycle()
    {
        QFETCH(bool, clear);
        CycleRig rig;
        rig.monitor->setLoggingEnabled(true);
        auto slow = peer("x\r\n", true);
        QVERIFY(slow);
        for (int n = 0; n < 3; ++n)
            rig.addPortCheck(QStringLiteral("S%1").arg(n), *slow, 30);
        rig.grid.load_display();
        rig.grid.setCurrentRow(3);
        rig.monitor->do_check();
        QTRY_COMPARE(slow->acceptedCount(), 3);
        ScriptedPrompts prompts;
        prompts.queueAnswer(UserPrompts::Answer::Ok);
        Target fresh;
        fresh.Desc = QStringLiteral("Imported");
        fresh.Info = QStringLiteral("never checked");
        if (clear) {
            rig.grid.clearlist(prompts);
        } else {
            rig.table.assign({fresh});
            rig.grid.load_display();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->CycleRunning(), 2000);
        QTRY_COMPARE(slow->openCount(), 0); // every probe's socket was closed
        QCOMPARE(rig.logEntries, 0);
        // No stale row was written into the new grid.
        QCOMPARE(rig.grid.rowCount(), clear ? 1 : 2);
        if (clear) {
            QVERIFY(rig.table[0].isFree());
            return;
        }
        QCOMPARE(rig.rowText(0), QStringLiteral("Imported|Unknown|never checked"));
        QVERIFY(rig.runCycle()); // and the next cycle works on the new table
        QCOMPARE(rig.table[0].Info, QStringLiteral("No test method defined."));
    }
};

SENTREL_TEST_GUILESS_MAIN(TstCheckCycle)
#include "tst_checkcycle.moc"
