#pragma once

#include "engine/StatusCounts.h"

#include <QDateTime>
#include <QIcon>
#include <QImage>
#include <QLocale>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QWidget;

namespace sentrel {

// The Targets of the table counted by their status after a cycle, and the worst of them.
// "12 OK, 1 WARNING, 2 DOWN" (", 3 Unknown" added when some have no result).
QString countsText(const StatusCounts &summary);

// The tray icon's tooltip: the program's name, the counts and the time of the last
// cycle; before the first cycle only that none has run yet; last, that monitoring is off.
QString trayToolTip(const StatusCounts &summary, const QDateTime &lastCycle, bool busy, const QLocale &locale,
    bool monitoringOff = false);

// What the tray icon shows: the colour of the worst status, whether a cycle runs, and
// whether monitoring is off (then grey, as the last colour would claim checks that no longer run).
struct TrayLook
{
    int16_t worst = TargetStatus::Unknown;
    bool busy = false;
    bool off = false;
    friend bool operator==(const TrayLook &, const TrayLook &) = default;
};

// The icon drawn at one size: a disc in the status colour of the grid with a dark rim;
// while busy, a dark pupil in its middle, as in the window's "checking" eye.
QImage trayImage(TrayLook look, int size);
QIcon trayIcon(TrayLook look);

// The desktop's notification area as the tray needs it; tests stand in a fake.
class TrayBackend
{
public:
    virtual ~TrayBackend() = default;
    virtual void setIcon(const QIcon &icon) = 0;
    virtual void setToolTip(const QString &text) = 0;
    virtual void setContextMenu(QMenu *menu) = 0;
    virtual void show() = 0;
    // A short message from the icon, where the notification service is missing.
    virtual void showMessage(const QString &title, const QString &body, bool critical) = 0;
    // Whether the desktop has a notification area now: a panel can go away while the program runs.
    virtual bool isAvailable() const { return true; }

    // Called on a click on the icon.
    std::function<void()> activated;
};

// A QSystemTrayIcon; null where the desktop has no notification area.
std::unique_ptr<TrayBackend> makeSystemTray();

// The tray icon of the main window: shows the worst status of the last cycle and a busy
// look during a cycle, offers the window's main switches in its menu, shows the window on a
// click and can take the window's place while it is minimised.
class DesktopTray : public QObject
{
    Q_OBJECT
public:
    // The menu's Update now, Sentrel enabled and Exit trigger the given menu items of the window.
    DesktopTray(std::unique_ptr<TrayBackend> backend, QWidget *window, QAction *optupdate, QAction *optenable,
        QAction *optexit, QObject *parent = nullptr);
    ~DesktopTray() override;

    void cycleStarted();
    void cycleFinished(const TargetTable &table, const QDateTime &when);

    // Asked at each minimise: true hides the window, and the icon brings it back. Never
    // hidden while the desktop has no notification area, since nothing could bring it back.
    void setHideWhenMinimised(std::function<bool()> hide) { m_hideWhenMinimised = std::move(hide); }

    // Shows, restores and raises the window.
    void showWindow();

    TrayBackend &backend() { return *m_backend; }
    QMenu *menu() const { return m_menu.get(); }
    TrayLook look() const { return m_look; }
    QString toolTip() const { return m_toolTip; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();

    std::unique_ptr<TrayBackend> m_backend;
    QPointer<QWidget> m_window;
    std::unique_ptr<QMenu> m_menu;
    StatusCounts m_summary;
    QDateTime m_lastCycle;
    TrayLook m_look;
    QString m_toolTip;
    std::function<bool()> m_hideWhenMinimised;
};

} // namespace sentrel
