#pragma once

#include "engine/MonitorView.h"
#include "engine/Target.h"
#include "engine/TargetCheck.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

namespace sentrel {

class TargetGrid;

// The tick of the update timer.
constexpr int CheckInterval = 60000;

// The check cycle and the update scheduler. A cycle probes up to
// GlobalSettings::Parallel Targets at once but applies their results strictly in
// table order, so the grid, the alerts, the selection, the icon and the log come
// out exactly as if the Targets had been checked one after another.
class Monitor : public QObject
{
    Q_OBJECT
public:
    Monitor(TargetTable &table, GlobalSettings &settings, TargetGrid &grid, MonitorView &view,
        ProbeKit probes, QObject *parent = nullptr);
    ~Monitor() override;

    // Called at the end of every cycle while logging is enabled.
    void setLogWriter(std::function<void()> logentry) { m_logentry = std::move(logentry); }
    // The clock that stamps LastCheck; tests fix it.
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }

    bool CycleRunning() const { return m_cycle != nullptr; }
    bool AbortRequested() const { return m_abortRequested; }
    int16_t MinuteCount() const { return m_minuteCount; }
    bool timerRunning() const { return m_timer.isActive(); }

    // The check marks of "&Sentrel enabled" and "&Logging enabled".
    bool monitoringEnabled() const { return m_monitoringEnabled; }
    void setMonitoringEnabled(bool enabled);
    bool loggingEnabled() const { return m_loggingEnabled; }
    void setLoggingEnabled(bool enabled) { m_loggingEnabled = enabled; }

    // One check cycle over the whole table; does nothing while one runs.
    void do_check();

    void Timer_Timer();
    void optupdate_Click();
    void optabort_Click();
    void optenable_Click();
    void optrefresh_Click();
    // "Pop up on &Warning?" mirrors and sets Warn.
    void optwarn_Click();

    // Stops the timer while a Target is being edited; resumes only if monitoring is enabled.
    void pauseTimer() { m_timer.stop(); }
    void resumeTimer();

Q_SIGNALS:
    void cycleStarted();
    void cycleFinished();
    // A Target's result has just been applied. rttMs is the round-trip time of the echo this
    // check sent, when one was sent and answered in time; otherwise -1.
    void targetChecked(int16_t index, int rttMs);
    void monitoringEnabledChanged(bool enabled);
    void warnChanged(bool warn);

private:
    struct Cycle;

    void pump();
    void startCheck(int16_t index);
    void apply(TargetCheck &check);
    void dropCheck(int index);
    void cancelStartedAfterHead();
    void abandonCycle();
    void endCycle(bool writeLog);
    void showHeadCaption();

    TargetTable &m_table;
    GlobalSettings &m_settings;
    TargetGrid &m_grid;
    MonitorView &m_view;
    ProbeKit m_probes;
    std::function<void()> m_logentry;
    std::function<QDateTime()> m_now = [] { return QDateTime::currentDateTime(); };

    QTimer m_timer;
    int16_t m_minuteCount = 0;
    bool m_abortRequested = false;
    bool m_monitoringEnabled = true;
    bool m_loggingEnabled = false;
    bool m_countAfterCycle = false;
    bool m_pumping = false;
    std::unique_ptr<Cycle> m_cycle;
};

} // namespace sentrel
