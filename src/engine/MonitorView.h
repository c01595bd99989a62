#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>

namespace sentrel {

// One problem that raises an alert: what the alert window, a grouped alert list
// and a desktop notification show of it.
struct ProblemAlert
{
    QString desc; // the Target's Desc
    int16_t status = 0; // TargetStatus: Warning or Down
    QString info; // the Target's Info
    QDateTime raisedAt;
};

// What the check cycle and the scheduler show in the main window. The desktop
// program implements it with real widgets; tests record the calls.
class MonitorView
{
public:
    enum class WindowIcon { Busy, Problem, Idle };

    virtual ~MonitorView() = default;

    virtual void setStatusCaption(const QString &text) = 0; // lblstat
    virtual void setCountCaption(const QString &text) = 0; // lblcount
    virtual void setWindowIconImage(WindowIcon icon) = 0;
    virtual void setAbortEnabled(bool enabled) = 0; // optabort
    // optenablelogging, optlogswitch and optlogclear together.
    virtual void setLogCommandsEnabled(bool enabled) = 0;
    virtual void beep() = 0;
    // Opens a new alert window naming the problem's Target, on top, without taking focus.
    virtual void raiseAlert(const ProblemAlert &problem) = 0;
};

// A view for running the engine where nobody watches: it shows, sounds and raises nothing.
class QuietMonitorView : public MonitorView
{
public:
    void setStatusCaption(const QString &) override { }
    void setCountCaption(const QString &) override { }
    void setWindowIconImage(WindowIcon) override { }
    void setAbortEnabled(bool) override { }
    void setLogCommandsEnabled(bool) override { }
    void beep() override { }
    void raiseAlert(const ProblemAlert &) override { }
};

} // namespace sentrel
