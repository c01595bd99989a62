// Memory and time to show the alerts of a mass outage: 5000 Targets that all go DOWN in
// one cycle, with one alert window per problem and with "Group alerts". Each mode runs in
// a process of its own, so that the resident sizes do not mix; a run without alerts
// ("PopUp"/"Error" off) gives the cost of the cycle itself. Every Target is a loopback
// address on which nothing listens, so each check ends in a refused connection.
#include "engine/Monitor.h"
#include "ui/DesktopTray.h"
#include "ui/GroupAlertWindow.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

using namespace sentrel;

namespace {

constexpr int Targets = 5000;

long residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLong() * (::sysconf(_SC_PAGESIZE) / 1024) : -1;
}

QByteArray storeText(const QString &mode)
{
    QByteArray ini = "[Targets]\nMaxHostNo=" + QByteArray::number(Targets - 1) + "\n";
    for (int i = 0; i < Targets; ++i) {
        const QByteArray n = QByteArray::number(i);
        ini += "Hostname%20" + n + "=127.77." + QByteArray::number(1 + i / 250) + "."
            + QByteArray::number(1 + i % 250) + "\nDesc%20" + n + "=Host " + n + "\nPort%20" + n
            + "=25\nUseM%20" + n + "=True\nUsePX%20" + n + "=False\n";
    }
    ini += "[PopUp]\nError=" + QByteArray(mode == QLatin1String("none") ? "False" : "True")
        + "\nGroupAlerts=" + QByteArray(mode == QLatin1String("group") ? "True" : "False") + "\n";
    return ini;
}

// One mode in this process: prints "mode seconds KiB".
int runMode(const QString &mode)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Sentrel.ini"));
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly) || f.write(storeText(mode)) < 0)
        return 1;
    f.close();
    MainWindow::Options o;
    o.settingsFile = file;
    o.dataFolder = dir.path();
    o.splash = false;
    o.makeTray = [] { return std::unique_ptr<TrayBackend>(); };
    auto window = std::make_unique<MainWindow>(o);
    window->action("optsaveonexit")->setChecked(false);
    QApplication::processEvents();
    const long before = residentKiB();
    QElapsedTimer clock;
    clock.start();
    bool done = false;
    QObject::connect(&window->monitor(), &Monitor::cycleFinished, [&done] { done = true; });
    if (!window->startup())
        return 1;
    while (!done)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // Until every alert window has been laid out and painted.
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    const double seconds = clock.nsecsElapsed() / 1e9;
    const long after = residentKiB();
    const int windows = static_cast<int>(window->openAlerts().size());
    const int listed = window->groupAlert() ? window->groupAlert()->problemCount() : 0;
    std::printf("%s %.3f %ld %d %d\n", qPrintable(mode), seconds, after - before, windows, listed);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && QByteArray(argv[1]) == "--mode") {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // The offscreen platform warns once per window that it cannot raise it.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type != QtDebugMsg && type != QtInfoMsg
                && !text.startsWith(QLatin1String("This plugin does not")))
                std::fprintf(stderr, "%s\n", qPrintable(text));
        });
        QApplication app(argc, argv);
        return runMode(QString::fromLatin1(argv[2]));
    }
    QCoreApplication app(argc, argv);
    std::printf("%d DOWN Targets, platform %s\n", Targets,
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
            ? (qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb")
            : qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("%-28s %10s %14s %8s %8s\n", "mode", "seconds", "RSS delta MiB", "windows", "listed");
    double baseSeconds = 0;
    long baseKiB = 0;
    for (const char *mode : {"none", "single", "group"}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(
            QCoreApplication::applicationFilePath(), {QStringLiteral("--mode"), QString::fromLatin1(mode)});
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            std::printf("%s: failed\n", mode);
            return 1;
        }
        const QList<QByteArray> r = child.readAllStandardOutput().trimmed().split(' ');
        if (r.size() != 5)
            return 1;
        const double seconds = r.at(1).toDouble();
        const long kib = r.at(2).toLong();
        const char *label = mode == QByteArray("none") ? "no alerts (cycle only)"
            : mode == QByteArray("single")             ? "one window per problem"
                                                       : "Group alerts";
        std::printf("%-28s %10.2f %14.1f %8s %8s\n", label, seconds, kib / 1024.0, r.at(3).constData(),
            r.at(4).constData());
        if (mode == QByteArray("none")) {
            baseSeconds = seconds;
            baseKiB = kib;
        } else {
            std::printf("%-28s %10.2f %14.1f\n", "  of which the alerts", seconds - baseSeconds,
                (kib - baseKiB) / 1024.0);
        }
    }
    return 0;
}
