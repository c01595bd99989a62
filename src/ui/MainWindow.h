#pragma once

#include "engine/Monitor.h"
#include "engine/MonitorView.h"
#include "engine/StatusGrid.h"
#include "engine/Target.h"
#include "probes/HostResolver.h"
#include "probes/IcmpProbe.h"
#include "probes/NetWareProbe.h"
#include "settings/DesktopSettings.h"
#include "settings/Registry.h"
#include "ui/MainLayout.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTableView;
class QToolButton;

namespace sentrel {

class AlertWindow;
class DesktopNotifier;
class DesktopTray;
class GroupAlertWindow;
class GroupNotification;
class HistoryPanel;
class HistoryRecorder;
class PreferencesDialog;
class TrayBackend;
class SettingsStore;
class UserPrompts;

// The program's window (`frmmain`): owns the Target table, the settings, the
// grid and the engine, and starts every command from its menus and grid.
class MainWindow : public QMainWindow, private MonitorView
{
    Q_OBJECT
public:
    struct Options
    {
        // The settings file; empty means the per-user Sentrel.ini.
        QString settingsFile;
        // Message boxes and file dialogs; null means real ones.
        UserPrompts *prompts = nullptr;
        // The folder file dialogs open in; empty means the per-user data folder.
        QString dataFolder;
        // Whether start-up shows the splash window.
        bool splash = true;
        // Makes the tray icon; empty means the desktop's own, where it has a tray.
        std::function<std::unique_ptr<TrayBackend>()> makeTray;
        // Desktop notifications; null means the freedesktop service.
        DesktopNotifier *notifier = nullptr;
        // The history database; empty means none is kept and the details area shows no history.
        QString historyFile;
    };

    explicit MainWindow(Options options);
    ~MainWindow() override;

    // The start-up order: splash, socket layer, settings, layout, grid, and the
    // first cycle when monitoring is enabled. False when the socket layer cannot
    // start or the settings file cannot be read (said in a box), which ends the program.
    bool startup();

    void save_registry();
    void movebar(int y);
    void toggle_details();
    void edititem();
    void optsmall_Click();
    // "E&xit": saves as configured and ends the event loop, also while hidden in the tray.
    // Signals take this path too.
    void optexit_Click();
    // A drop of the splitter at a point of the client area (the central widget).
    void dropSplitterAt(const QPoint &clientPos);

    TargetTable &table() { return m_table; }
    GlobalSettings &settings() { return m_settings; }
    TargetGrid &grid() { return *m_grid; }
    Monitor &monitor() { return *m_monitor; }
    const MainLayout &layoutTwips() const { return m_layout; }
    QList<AlertWindow *> openAlerts() const;
    // The open grouped alert, if any ("Group alerts").
    GroupAlertWindow *groupAlert() const;
    // Null where the desktop has no tray.
    DesktopTray *tray() const { return m_tray.get(); }
    DesktopSettings &desktopSettings() { return m_desktop; }
    // Null when no history is kept.
    HistoryRecorder *history() const { return m_history.get(); }
    QAction *action(const char *name) const;
    double gridFontSize() const;
    int columnWidthTwips(int column) const;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // MonitorView
    void setStatusCaption(const QString &text) override;
    void setCountCaption(const QString &text) override;
    void setWindowIconImage(WindowIcon icon) override;
    void setAbortEnabled(bool enabled) override;
    void setLogCommandsEnabled(bool enabled) override;
    void beep() override;
    void raiseAlert(const ProblemAlert &problem) override;

    void buildControls();
    void buildDesktop();
    void buildMenus();
    QAction *addItem(
        QMenu *menu, const char *name, const QString &caption, const QKeySequence &shortcut = {});
    void readLayoutFromWindow();
    void applyLayout();
    void setOuterSizeTwips(int width, int height);
    void resizeWindowTwips(int width, int height);
    WindowState storedWindowState() const;
    void applyWindowState(const WindowState &state);
    void setColumnWidthTwips(int column, int twips);
    void setGridFontSize(double points);
    void updateLogFileCaption();
    void syncViewToGrid(int row);
    void showHistoryOfCurrentRow();
    void runExport();
    void runImport();
    void shutdown();

    Options m_options;
    std::unique_ptr<UserPrompts> m_ownPrompts;
    UserPrompts *m_prompts = nullptr;
    std::unique_ptr<SettingsStore> m_store;
    TargetTable m_table;
    GlobalSettings m_settings;
    std::unique_ptr<TargetGrid> m_grid;
    std::unique_ptr<HostResolver> m_resolver;
    std::unique_ptr<IcmpEchoService> m_icmp;
    UnavailableNetWareClient m_netware;
    std::unique_ptr<Monitor> m_monitor;
    MainLayout m_layout;
    bool m_applyingLayout = false;
    bool m_syncingSelection = false;
    bool m_shutDown = false;
    QList<QPointer<AlertWindow>> m_alerts;
    QPointer<PreferencesDialog> m_preferences;
    DesktopSettings m_desktop;
    std::unique_ptr<DesktopTray> m_tray;
    std::unique_ptr<DesktopNotifier> m_ownNotifier;
    DesktopNotifier *m_notifier = nullptr;
    std::unique_ptr<GroupNotification> m_groupNotification;
    QPointer<GroupAlertWindow> m_groupAlert;
    std::array<int, 3> m_columnTwips {};

    QLabel *m_label1 = nullptr;
    QLabel *m_lblstat = nullptr;
    QLabel *m_lblcount = nullptr;
    QTableView *m_gridsys = nullptr;
    QToolButton *m_cmdsize = nullptr;
    QPlainTextEdit *m_txtdata = nullptr;
    std::unique_ptr<HistoryRecorder> m_history;
    HistoryPanel *m_historyPanel = nullptr;
};

} // namespace sentrel
