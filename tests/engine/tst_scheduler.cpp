#include "CycleRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace sentrel;
using namespace sentrel::test;

namespace {

QStringList mins(std::initializer_list<int> counts)
{
    QStringList out;
    for (const int n : counts)
        out << QStringLiteral("Mins:  %1").arg(n);
    return out;
}

} // namespace

class TstScheduler : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void countdownWithDelayFive()
    {
        CycleRig rig;
        rig.settings.Delay = 5;
        QSignalSpy started(rig.monitor.get(), &Monitor::cycleStarted);
        QStringList seen;
        for (int tick = 0; tick < 4; ++tick) {
            rig.monitor->Timer_Timer();
            seen << rig.view.countCaption;
        }
        QCOMPARE(seen, mins({4, 3, 2, 1}));
        QCOMPARE(started.size(), 0);
        rig.monitor->Timer_Timer(); // the empty table's cycle ends at once
        QCOMPARE(started.size(), 1);
        QCOMPARE(rig.view.countCaptions.at(4), QStringLiteral("Mins:  0"));
        QCOMPARE(rig.view.countCaption, QStringLiteral("Mins:  5"));
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(0));

        // A delay made shorter than the minutes already counted takes effect on the next tick.
        for (int tick = 0; tick < 3; ++tick)
            rig.monitor->Timer_Timer();
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(3));
        rig.settings.Delay = 2;
        rig.monitor->Timer_Timer();
        QCOMPARE(started.size(), 2);
        QCOMPARE(rig.view.countCaption, QStringLiteral("Mins:  2"));
    }

    void countdownIsSetAgainOnlyAfterATimerCycleHasEnded()
    {
        CycleRig rig;
        rig.settings.Delay = 3;
        rig.add(QStringLiteral("A")); // its check ends from the event loop, not inside the tick
        rig.grid.load_display();
        for (int tick = 0; tick < 3; ++tick)
            rig.monitor->Timer_Timer();
        QVERIFY(rig.monitor->CycleRunning());
        QCOMPARE(rig.view.countCaptions, mins({2, 1, 0}));
        QTRY_VERIFY(!rig.monitor->CycleRunning());
        QCOMPARE(rig.view.countCaption, QStringLiteral("Mins:  3"));

        // A cycle started otherwise leaves the label empty at its end.
        rig.monitor->optupdate_Click();
        QTRY_VERIFY(!rig.monitor->CycleRunning());
        QCOMPARE(rig.view.countCaption, QString());

        // A tick that reaches the interval while a cycle runs starts none and sets the label at once.
        rig.monitor->optupdate_Click();
        QVERIFY(rig.monitor->CycleRunning());
        for (int tick = 0; tick < 3; ++tick)
            rig.monitor->Timer_Timer();
        QCOMPARE(rig.view.countCaption, QStringLiteral("Mins:  3"));
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(0));
        QTRY_VERIFY(!rig.monitor->CycleRunning());
        QCOMPARE(rig.view.countCaption, QString());
    }

    void delayOneOrLessChecksEveryTickAndLeavesLabelEmpty()
    {
        for (const int16_t delay : {int16_t(1), int16_t(0), int16_t(-3)}) {
            CycleRig rig;
            rig.settings.Delay = delay;
            QSignalSpy started(rig.monitor.get(), &Monitor::cycleStarted);
            rig.monitor->Timer_Timer();
            rig.monitor->Timer_Timer();
            QCOMPARE(started.size(), 2);
            QCOMPARE(rig.view.countCaption, QString());
        }
    }

    void updateNowDuringCycleDoesNothing()
    {
        CycleRig rig;
        auto slow = lowPortServer(PeerScript(QByteArray(), PeerScript::Then::Silent));
        QVERIFY(slow);
        rig.addPortCheck(QStringLiteral("S"), *slow, 1);
        rig.grid.load_display();
        rig.settings.Delay = 10;
        rig.monitor->Timer_Timer();
        rig.monitor->Timer_Timer();
        QSignalSpy started(rig.monitor.get(), &Monitor::cycleStarted);
        rig.monitor->optupdate_Click();
        QCOMPARE(started.size(), 1);
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(0));
        rig.monitor->Timer_Timer();
        rig.monitor->Timer_Timer();
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(2)); // ticks still count during a cycle
        rig.monitor->optupdate_Click();
        QCOMPARE(started.size(), 1);
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(2));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->CycleRunning(), 10000);
    }

    void switchingMonitoring()
    {
        CycleRig rig;
        QSignalSpy started(rig.monitor.get(), &Monitor::cycleStarted);
        rig.settings.Delay = 3;
        rig.monitor->Timer_Timer();
        rig.monitor->optenable_Click(); // off
        QVERIFY(!rig.monitor->monitoringEnabled());
        QVERIFY(!rig.monitor->timerRunning());
        QCOMPARE(started.size(), 0);
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(0));
        rig.monitor->Timer_Timer();
        rig.monitor->optenable_Click(); // on again: at once, and the count starts over
        QVERIFY(rig.monitor->monitoringEnabled());
        QCOMPARE(started.size(), 1);
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(0));
        QVERIFY(rig.monitor->timerRunning());
    }

    void commandsOutsideACycle()
    {
        CycleRig rig;
        QSignalSpy started(rig.monitor.get(), &Monitor::cycleStarted);
        rig.monitor->optabort_Click();
        QVERIFY(!rig.monitor->AbortRequested());

        rig.settings.Warn = false;
        QSignalSpy warnChanged(rig.monitor.get(), &Monitor::warnChanged);
        rig.monitor->optwarn_Click();
        QVERIFY(rig.settings.Warn);
        rig.monitor->optwarn_Click();
        QVERIFY(!rig.settings.Warn);
        QCOMPARE(warnChanged.size(), 2);

        // Editing a Target pauses the timer; it resumes only while monitoring is on.
        rig.monitor->resumeTimer();
        QVERIFY(rig.monitor->timerRunning());
        rig.monitor->pauseTimer();
        QVERIFY(!rig.monitor->timerRunning());
        rig.monitor->setMonitoringEnabled(false);
        rig.monitor->resumeTimer();
        QVERIFY(!rig.monitor->timerRunning());

        const auto i = rig.add(QStringLiteral("A"));
        rig.monitor->optrefresh_Click();
        QCOMPARE(rig.grid.rowCount(), 2);
        QCOMPARE(rig.grid.cell(rig.table[i].Row, 0), QStringLiteral("A"));
        QCOMPARE(started.size(), 0);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstScheduler)
#include "tst_scheduler.moc"
