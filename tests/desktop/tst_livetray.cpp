// The tray icon and the notifications on a real desktop: an X display with a system tray
// (for example trayer) and a notification service on the session bus (for example dunst).
// Each test skips itself, with the reason, where its part of the desktop is missing.
#include "ui/DesktopTray.h"
#include "ui/GroupAlertWindow.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

using namespace sentrel;

namespace {

// A local X display whose server is there; anything else runs offscreen and skips.
bool xDisplayReachable()
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^:(\\d+)")).match(qEnvironmentVariable("DISPLAY"));
    return m.hasMatch() && QFile::exists(QStringLiteral("/tmp/.X11-unix/X") + m.captured(1));
}

} // namespace

class TstLiveTray : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void trayIconTakesTheMinimisedWindow()
    {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("no system tray on this display: run under X with a tray such as trayer");
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Sentrel.ini"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("[Window]\nEnable=False\nHideToTray=True\n") > 0);
        f.close();
        MainWindow::Options o;
        o.settingsFile = file;
        o.dataFolder = dir.path();
        o.splash = false;
        MainWindow w(o);
        QVERIFY(w.startup());
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.showMinimized();
        QTRY_VERIFY(!w.isVisible());
        w.tray()->showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.isMinimized());
        w.action("optsaveonexit")->setChecked(false);
    }

    // Another X client destroys the group window's X window; the next problem shows it again.
    void groupWindowOutlivesItsXWindow()
    {
        const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (QGuiApplication::platformName() != QLatin1String("xcb") || xdotool.isEmpty())
            QSKIP("needs an X display and xdotool");
        QPointer<GroupAlertWindow> w = new GroupAlertWindow;
        w->add({QStringLiteral("web-1"), TargetStatus::Down, QStringLiteral("refused"), QDateTime()});
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::qWait(200);
        QCOMPARE(QProcess::execute(xdotool, {QStringLiteral("windowclose"), QString::number(w->winId())}), 0);
        QTRY_VERIFY(!w->windowHandle()->isExposed());
        w->add({QStringLiteral("web-2"), TargetStatus::Down, QStringLiteral("refused"), QDateTime()});
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(w->problemCount(), 2);
        w->acknowledge();
        QTRY_VERIFY(!w);
    }
};

int main(int argc, char *argv[])
{
    if (!xDisplayReachable())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TstLiveTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_livetray.moc"
