#pragma once

#include "CycleRig.h"
#include "ScriptedPrompts.h"
#include "TestFiles.h"
#include "ui/DesktopTray.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QString>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace sentrel::test {

// A tray that records what the window shows in it, and can be made to go away.
class FakeTray : public TrayBackend
{
public:
    void setIcon(const QIcon &i) override { icon = i; }
    void setToolTip(const QString &text) override { toolTip = text; }
    void setContextMenu(QMenu *m) override { menu = m; }
    void show() override { shown = true; }
    void showMessage(const QString &, const QString &, bool) override { }
    bool isAvailable() const override { return available; }

    QIcon icon;
    QString toolTip;
    QMenu *menu = nullptr;
    bool shown = false;
    bool available = true;
};

// Settings of count Targets, web-0 to web-(count - 1), on loopback addresses that refuse the port check.
inline QByteArray refusingTargets(int count)
{
    QByteArray ini = count ? "[Targets]\nMaxHostNo=" + QByteArray::number(count - 1) + '\n' : QByteArray();
    for (int i = 0; i < count; ++i)
        ini += QStringLiteral("Hostname%20#=@\nDesc%20#=web-#\nPort%20#=25\nUseM%20#=True\nUsePX%20#=False\n")
                   .replace(QLatin1Char('#'), QString::number(i))
                   .replace(QLatin1Char('@'), refusingHost())
                   .toLatin1();
    return ini;
}

// The program's main window over a settings file and data folder of its own, with scripted
// prompts and a fake tray.
struct ProgramRig
{
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    DesktopNotifier *notifier = nullptr;
    FakeTray *tray = nullptr;
    QString historyFile; // none: no history
    std::unique_ptr<MainWindow> w;

    explicit ProgramRig(const QByteArray &ini, bool splash = false, DesktopNotifier *notes = nullptr,
        const QString &history = {})
        : notifier(notes)
        , historyFile(history)
    {
        writeBytes(file(), ini);
        start(splash);
    }
    // Starts the program (again) from the settings file as it now is.
    void start(bool splash = false)
    {
        w.reset();
        MainWindow::Options o;
        o.settingsFile = file();
        o.prompts = &prompts;
        o.dataFolder = dir.path();
        o.splash = splash;
        o.notifier = notifier;
        o.historyFile = historyFile;
        o.makeTray = [this] {
            auto t = std::make_unique<FakeTray>();
            tray = t.get();
            return t;
        };
        w = std::make_unique<MainWindow>(o);
        w->startup();
    }
    void cycle()
    {
        w->action("optupdate")->trigger();
        QTRY_VERIFY(!w->monitor().CycleRunning());
    }
    QString file() const { return dir.filePath(QStringLiteral("Sentrel.ini")); }
    QByteArray stored() const { return readAll(file()); }
    QAction *action(const char *name) const { return w->action(name); }
    QWidget *child(const char *name) const { return w->findChild<QWidget *>(QLatin1String(name)); }
    QTableView *gridView() const { return w->findChild<QTableView *>(QStringLiteral("gridsys")); }
};

} // namespace sentrel::test
