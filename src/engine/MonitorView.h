#pragma once

#include <QString>

namespace sentrel {

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
    // Opens a new alert window naming `desc`, on top, without taking focus.
    virtual void raiseAlert(const QString &desc) = 0;
};

} // namespace sentrel
