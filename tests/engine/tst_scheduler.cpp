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
    // The label counts down the minutes to the next cycle, which starts when they reach the
    // delay; with a delay of one or less every tick checks and the label stays empty.
    void countdown_data()
    {
        QTest::addColumn<int>("delay");
        QTest::addColumn<QStringList>("captions"); // after each of five ticks
        QTest::addColumn<int>("cycles");
        QTest::newRow("5") << 5 << mins({4, 3, 2, 1, 5}) << 1;
        QTest::newRow("2") << 2 << mins({1, 2, 1, 2, 1}) << 2;
        const QStringList empty(5, QString());
        QTest::newRow("1") << 1 << empty << 5;
        QTest::newRow("0") << 0 << empty << 5;
    }
    void countdown()
    {
        QFETCH(int, delay);
        QFETCH(int, cycles);
        CycleRig rig;
        rig.settings.Delay = static_cast<int16_t>(delay);
        QSignalSpy started(rig.monitor.get(), &Monitor::cycleStarted);
        QStringList seen;
        for (int tick = 0; tick < 5; ++tick) {
            rig.monitor->Timer_Timer(); // the empty table's cycle ends at once
            seen << rig.view.countCaption;
        }
        QTEST(seen, "captions");
        QCOMPARE(int(started.size()), cycles);
        if (delay < 5)
            return;
        // A delay made shorter than the minutes already counted takes effect on the next tick.
        for (int tick = 0; tick < 3; ++tick)
            rig.monitor->Timer_Timer();
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(3));
        rig.settings.Delay = 2;
        rig.monitor->Timer_Timer();
        QCOMPARE(int(started.size()), cycles + 1);
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

        // A cycle started otherwise starts the count over and leaves the label empty at its end.
        rig.monitor->Timer_Timer();
        rig.monitor->optupdate_Click();
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(0));
        QTRY_VERIFY(!rig.monitor->CycleRunning());
        QCOMPARE(rig.view.countCaption, QString());

        // While a cycle runs the ticks still count and Update Now does nothing; a tick that
        // reaches the interval starts no cycle and sets the label at once.
        QSignalSpy started(rig.monitor.get(), &Monitor::cycleStarted);
        rig.monitor->optupdate_Click();
        QVERIFY(rig.monitor->CycleRunning());
        rig.monitor->Timer_Timer();
        rig.monitor->Timer_Timer();
        rig.monitor->optupdate_Click();
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(2));
        rig.monitor->Timer_Timer();
        QCOMPARE(started.size(), 1);
        QCOMPARE(rig.view.countCaption, QStringLiteral("Mins:  3"));
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(0));
        QTRY_VERIFY(!rig.monitor->CycleRunning());
        QCOMPARE(rig.view.countCaption, QString());
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
        // Switching monitoring off and on again starts the count over, and on checks at once.
        rig.settings.Delay = 3;
        rig.monitor->Timer_Timer();
        rig.monitor->optenable_Click();
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(0));
        rig.monitor->resumeTimer();
        QVERIFY(!rig.monitor->timerRunning());
        QCOMPARE(started.size(), 0);
        rig.monitor->Timer_Timer();
        rig.monitor->optenable_Click();
        QCOMPARE(started.size(), 1);
        QCOMPARE(rig.monitor->MinuteCount(), int16_t(0));
    }
};

SENTREL_TEST_GUILESS_MAIN(TstScheduler)
#include "tst_scheduler.moc"
