#include "DesktopFakes.h"
#include "engine/StatusGrid.h"
#include "settings/SettingsStore.h"
#include "ui/AlertWindow.h"
#include "ui/DesktopNotifier.h"
#include "ui/EmptyGridHint.h"
#include "ui/GridColours.h"
#include "ui/GroupAlertWindow.h"
#include "ui/PreferencesDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>

using namespace sentrel;
using namespace sentrel::test;

namespace {

class RecordingNotifier : public DesktopNotifier
{
public:
    void notify(const QString &summary, const QString &, bool critical) override
    {
        summaries << summary;
        criticals << critical;
    }
    QStringList summaries;
    QList<bool> criticals;
};

// The desktop's notification service as far as Sentrel uses it: records each Notify call.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call
    {
        uint replacesId;
        QString summary;
        QString body;
        QVariantMap hints;
    };
    QList<Call> calls;
    uint lastId = 0;

public Q_SLOTS:
    uint Notify(const QString &, uint replacesId, const QString &, const QString &summary,
        const QString &body, const QStringList &, const QVariantMap &hints, int)
    {
        calls.append({replacesId, summary, body, hints});
        return replacesId ? replacesId : ++lastId;
    }
};

// A main window over count Targets that refuse connections, after its first cycle.
struct Program : ProgramRig
{
    Program(int count, const QByteArray &more, DesktopNotifier *notes = nullptr)
        : ProgramRig(refusingTargets(count) + more, false, notes)
    {
        QTRY_VERIFY(!w->monitor().CycleRunning());
    }
};

// The strongest contrast against background of any pixel in rect: the text's own colour,
// whatever the antialiasing does at its edges.
double strongestContrast(const QImage &image, const QRect &rect, const QColor &background, QColor *found)
{
    double best = 1.0;
    for (int y = rect.top() + 3; y < rect.bottom() - 3; ++y)
        for (int x = rect.left() + 3; x < rect.right() - 3; ++x) {
            const double c = contrastRatio(image.pixelColor(x, y), background);
            if (c > best) {
                best = c;
                *found = image.pixelColor(x, y);
            }
        }
    return best;
}

const QLocale britain(QLocale::English, QLocale::UnitedKingdom);
const QDateTime when(QDate(1999, 12, 11), QTime(10, 15, 2));

TargetTable tableOf(const QList<int> &statuses)
{
    std::vector<Target> slots;
    for (const int status : statuses) {
        Target t;
        t.Desc = QStringLiteral("T%1").arg(slots.size());
        t.Status = static_cast<int16_t>(status);
        slots.push_back(t);
    }
    TargetTable table;
    table.assign(std::move(slots));
    return table;
}

// The grid's view as the main window sets it up, over a grid of the given statuses.
struct GridRig
{
    explicit GridRig(const QList<int> &statuses)
        : table(tableOf(statuses))
        , grid(table)
    {
        grid.load_display();
        auto *proxy = new GridColourProxy(&view);
        proxy->setSourceModel(grid.model());
        view.setModel(proxy);
        view.setItemDelegate(new StatusRowDelegate(GridColumn::Host, GridColumn::Information, &view));
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.setColumnHidden(GridColumn::Index, true);
        view.resize(400, 200);
    }
    QColor brush(int row, int column, int role) const
    {
        return view.model()->index(row, column).data(role).value<QBrush>().color();
    }

    TargetTable table;
    TargetGrid grid;
    QTableView view;
};

// The tray over a bare window, with the window's three actions; monitoring on.
struct TrayRig
{
    QWidget window;
    QAction update, enable, exit;
    // Set before the tray is made, which takes the state from the action.
    bool monitoring = [this] {
        enable.setCheckable(true);
        enable.setChecked(true);
        return true;
    }();
    std::unique_ptr<FakeTray> fake = std::make_unique<FakeTray>();
    FakeTray *backend = fake.get();
    DesktopTray tray {std::move(fake), &window, &update, &enable, &exit};
};

} // namespace

class TstDesktop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Status per slot (-1 a free slot) -> the tray's colour and counts.
    void summaryOfTheLastCycle_data()
    {
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<int>("worst");
        QTest::addColumn<QString>("counts");
        QTest::newRow("empty table") << QList<int> {-1} << 0 << "0 OK, 0 WARNING, 0 DOWN";
        QTest::newRow("all OK") << QList<int> {1, -1, 1} << 1 << "2 OK, 0 WARNING, 0 DOWN";
        QTest::newRow("no result beats OK") << QList<int> {1, 0} << 0 << "1 OK, 0 WARNING, 0 DOWN, 1 Unknown";
        QTest::newRow("WARNING beats no result")
            << QList<int> {1, 0, 2} << 2 << "1 OK, 1 WARNING, 0 DOWN, 1 Unknown";
        QTest::newRow("DOWN beats all")
            << QList<int> {3, 2, 1, 0, -1, 3} << 3 << "1 OK, 1 WARNING, 2 DOWN, 1 Unknown";
    }
    void summaryOfTheLastCycle()
    {
        QFETCH(QList<int>, statuses);
        QFETCH(int, worst);
        QFETCH(QString, counts);
        const StatusCounts s = countStatuses(tableOf(statuses));
        QCOMPARE(int(s.worst), worst);
        QCOMPARE(countsText(s), counts);
    }

    void toolTipText_data()
    {
        QTest::addColumn<QDateTime>("lastCycle");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("text");
        QTest::newRow("before the first cycle") << QDateTime() << false << "Sentrel\nNo check cycle yet";
        QTest::newRow("first cycle running")
            << QDateTime() << true << "Sentrel\nNo check cycle yet\nChecking...";
        QTest::newRow("after a cycle")
            << when << false << "Sentrel\n12 OK, 1 WARNING, 2 DOWN\nLast cycle: 10:15:02";
        QTest::newRow("next cycle running")
            << when << true << "Sentrel\n12 OK, 1 WARNING, 2 DOWN\nLast cycle: 10:15:02\nChecking...";
    }
    void toolTipText()
    {
        QFETCH(QDateTime, lastCycle);
        QFETCH(bool, busy);
        QFETCH(QString, text);
        StatusCounts s;
        s.ok = 12;
        s.warning = 1;
        s.down = 2;
        QCOMPARE(trayToolTip(s, lastCycle, busy, britain), text);
    }

    void iconShowsTheStatusColour_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("OK") << 1 << QColor(0, 255, 0);
        QTest::newRow("WARNING") << 2 << QColor(255, 255, 0);
        QTest::newRow("DOWN") << 3 << QColor(255, 0, 0);
        QTest::newRow("no result") << 0 << QColor(255, 255, 255);
    }
    void iconShowsTheStatusColour()
    {
        QFETCH(int, status);
        QFETCH(QColor, colour);
        const QImage idle = trayImage({static_cast<int16_t>(status), false}, 32);
        const QImage busy = trayImage({static_cast<int16_t>(status), true}, 32);
        QCOMPARE(idle.pixelColor({16, 16}), colour);
        QCOMPARE(busy.pixelColor({16, 5}), colour); // the colour stays around the busy mark
        QVERIFY(qGray(busy.pixel(16, 16)) < 64);
        QCOMPARE(idle.pixelColor({0, 0}).alpha(), 0);
    }

    void trayFollowsCyclesAndOffersTheSwitches()
    {
        TrayRig rig;
        DesktopTray &tray = rig.tray;
        FakeTray *backend = rig.backend;
        QSignalSpy updates(&rig.update, &QAction::triggered);
        QSignalSpy exits(&rig.exit, &QAction::triggered);
        QVERIFY(backend->shown);
        QCOMPARE(backend->menu, tray.menu());
        QCOMPARE(backend->toolTip, QStringLiteral("Sentrel\nNo check cycle yet"));

        tray.cycleStarted();
        QCOMPARE(tray.look(), (TrayLook {TargetStatus::Unknown, true}));
        const QImage busyImage = backend->icon.pixmap(32).toImage();
        tray.cycleFinished(tableOf({1, 3, 2}), when);
        QCOMPARE(tray.look(), (TrayLook {TargetStatus::Down, false}));
        QVERIFY(backend->toolTip.contains(QStringLiteral("1 OK, 1 WARNING, 1 DOWN\nLast cycle: ")));
        QVERIFY(backend->icon.pixmap(32).toImage() != busyImage);

        QStringList items;
        for (const QAction *a : tray.menu()->actions())
            items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(
            items.join(QLatin1Char('|')), QStringLiteral("Show Sentrel|Update now|Sentrel enabled|-|Exit"));
        const auto item = [&tray](const char *name) {
            return tray.menu()->findChild<QAction *>(QLatin1String(name));
        };
        item("trayupdate")->trigger();
        QCOMPARE(updates.count(), 1);
        QVERIFY(item("trayenable")->isChecked());
        QObject::connect(&rig.enable, &QAction::triggered, &rig.enable, [] {});
        item("trayenable")->trigger();
        QVERIFY(!rig.enable.isChecked() && !item("trayenable")->isChecked());
        // Monitoring off shows in the tooltip and greys the icon.
        QVERIFY(backend->toolTip.endsWith(QStringLiteral("\nMonitoring is off")));
        QCOMPARE(backend->icon.pixmap(32).toImage().pixelColor(16, 16), QColor(150, 150, 150));
        rig.enable.setChecked(true); // F12 in the window
        QVERIFY(item("trayenable")->isChecked());
        QVERIFY(!backend->toolTip.contains(QStringLiteral("Monitoring is off")));
        QVERIFY(backend->icon.pixmap(32).toImage().pixelColor(16, 16) != QColor(150, 150, 150));
        item("trayexit")->trigger();
        QCOMPARE(exits.count(), 1);
    }

    // Minimising hides into the tray only when asked and only while the panel is there; a click
    // on the icon brings the window back.
    void clickShowsAndMinimiseHidesWhenAsked()
    {
        TrayRig rig;
        QWidget &window = rig.window;
        bool hide = false;
        rig.tray.setHideWhenMinimised([&hide] { return hide; });
        window.show();
        window.showMinimized();
        QTest::qWait(20);
        QVERIFY(window.isVisible()); // off by default: minimising stays minimising
        rig.backend->activated();
        QVERIFY(window.isVisible() && !window.isMinimized());

        hide = true;
        rig.backend->available = false; // the panel went away
        window.showMinimized();
        QTest::qWait(20);
        QVERIFY(window.isVisible());
        rig.backend->available = true;
        window.showNormal();
        window.showMinimized();
        QTRY_VERIFY(!window.isVisible());
        rig.backend->activated();
        QVERIFY(window.isVisible() && !window.isMinimized());
        QVERIFY(QGuiApplication::quitOnLastWindowClosed());
    }

    // Signals end the program by the window's Exit; hidden in the tray, that must still end the
    // event loop, and save as configured.
    void exitEndsTheProgramWhileHiddenInTheTray()
    {
        Program p(0, "[Window]\nEnable=False\nHideToTray=True\n");
        MainWindow &w = *p.w;
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.grid().newentry();
        w.showMinimized();
        QTRY_VERIFY(!w.isVisible());
        QTimer::singleShot(0, &w, [&w] { w.optexit_Click(); });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, &guard, [] { QCoreApplication::exit(1); });
        guard.start(10000);
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(SettingsStore(p.file()).get(QStringLiteral("Targets"), QStringLiteral("Hostname 0"), {}),
            QStringLiteral("localhost"));
    }

    void contrastRule_data()
    {
        QTest::addColumn<QColor>("windowText");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QColor>("shown");
        const QColor black(0, 0, 0);
        const QColor white(255, 255, 255);
        const QColor yellow(255, 255, 0);
        const QColor breezeDark(0x31, 0x36, 0x3b);
        const QColor lightText(0xef, 0xf0, 0xf1);
        QTest::newRow("black on white kept") << black << white << black;
        QTest::newRow("dark grey on yellow kept") << breezeDark << yellow << breezeDark;
        QTest::newRow("light text on white") << lightText << white << black;
        QTest::newRow("light text on yellow") << lightText << yellow << black;
        QTest::newRow("mid grey just below 4.5") << QColor(0x77, 0x77, 0x77) << white << black;
        QTest::newRow("darker grey just above")
            << QColor(0x76, 0x76, 0x76) << white << QColor(0x76, 0x76, 0x76);
    }
    void contrastRule()
    {
        QFETCH(QColor, windowText);
        QFETCH(QColor, background);
        QFETCH(QColor, shown);
        QCOMPARE(readableWindowText(windowText, background), shown);
        QCOMPARE(qRound(contrastRatio(Qt::black, Qt::white)), 21);
        QCOMPARE(contrastRatio(background, background), 1.0);
    }

    // Unknown, OK, DOWN, WARNING rows: the text colour each shows under a light and a dark palette,
    // and the selected DOWN row keeps its red behind the highlight's frame.
    void gridColoursUnderLightAndDarkPalettes_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light palette") << false;
        QTest::newRow("dark palette") << true;
    }
    void gridColoursUnderLightAndDarkPalettes()
    {
        QFETCH(bool, dark);
        GridRig rig({0, 1, 3, 2});
        const QColor lightThemeText(0x20, 0x20, 0x40);
        QPalette light;
        light.setColor(QPalette::WindowText, lightThemeText);
        rig.view.setPalette(dark ? darkPalette() : light);
        // OK's green darkened to read on white; on a dark theme the plain rows' text turns black.
        const QColor plain = dark ? QColor(Qt::black) : lightThemeText;
        const QList<QColor> expected {plain, QColor(0, 138, 0), QColor(255, 255, 255), plain};
        for (int row = 0; row < 4; ++row) {
            QCOMPARE(rig.brush(row, GridColumn::Status, Qt::ForegroundRole), expected.at(row));
            QCOMPARE(rig.brush(row, GridColumn::Host, Qt::ForegroundRole), expected.at(row));
        }
        QCOMPARE(rig.brush(3, GridColumn::Information, Qt::BackgroundRole), QColor(255, 255, 0));

        rig.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.view));
        rig.view.selectRow(2);
        const QImage image = rig.view.viewport()->grab().toImage();
        const QRect info = rig.view.visualRect(rig.view.model()->index(2, GridColumn::Information));
        const QRect host = rig.view.visualRect(rig.view.model()->index(2, GridColumn::Host));
        const QColor highlight = rig.view.palette().color(QPalette::Active, QPalette::Highlight);
        QCOMPARE(image.pixelColor({info.right() - 6, info.center().y()}), QColor(255, 0, 0));
        QCOMPARE(image.pixelColor({info.center().x(), info.top()}), highlight);
        QCOMPARE(image.pixelColor({host.left(), host.center().y()}), highlight);
        // The row below keeps its yellow and has no frame.
        const QRect below = rig.view.visualRect(rig.view.model()->index(3, GridColumn::Information));
        QCOMPARE(image.pixelColor({below.right() - 6, below.center().y()}), QColor(255, 255, 0));
        QCOMPARE(image.pixelColor({below.center().x(), below.bottom() - 1}), QColor(255, 255, 0));
    }

    void notificationTexts_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("body");
        QTest::newRow("DOWN") << 3 << "All checks failed."
                              << "Mail: DOWN"
                              << "All checks failed.\nDate: 11/12/1999  Time: 10:15:02";
        QTest::newRow("WARNING, markup from the host shown as text")
            << 2 << "<b>load</b> & more"
            << "Mail: WARNING"
            << "<b>load</b> & more\nDate: 11/12/1999  Time: 10:15:02";
    }
    void notificationTexts()
    {
        QFETCH(int, status);
        QFETCH(QString, info);
        QFETCH(QString, summary);
        QFETCH(QString, body);
        const ProblemAlert p {QStringLiteral("Mail"), static_cast<int16_t>(status), info, when};
        QCOMPARE(notificationSummary(p), summary);
        QCOMPARE(notificationBody(p, britain), body);
    }

    // The tray's message shows text, not the markup escapes meant for the notification service.
    void fallbackGetsPlainText()
    {
        QStringList shown;
        FreedesktopNotifier notifier(
            [&shown](const QString &summary, const QString &body, bool) { shown << summary << body; });
        notifier.notify(QStringLiteral("R&D: WARNING"), QStringLiteral("<b>load</b> & more"), false);
        if (!QTest::qWaitFor([&shown] { return !shown.isEmpty(); }, 5000))
            QSKIP("a notification service on the session bus took the message; no fallback to see");
        QCOMPARE(shown, (QStringList {QStringLiteral("R&D: WARNING"), QStringLiteral("<b>load</b> & more")}));
    }

    void preferencesRows_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::newRow("Return in a box presses OK, which takes the boxes") << true;
        QTest::newRow("Cancel keeps the settings") << false;
    }
    void preferencesRows()
    {
        QFETCH(bool, ok);
        GlobalSettings settings;
        settings.Delay = 1;
        DesktopSettings desktop {false, true, false};
        PreferencesDialog dlg(settings, 10, 10, nullptr, &desktop);
        dlg.show();
        const auto box = [&dlg](const char *name) { return dlg.findChild<QCheckBox *>(QLatin1String(name)); };
        QVERIFY(
            !box("chktray")->isChecked() && box("chknotify")->isChecked() && !box("chkgroup")->isChecked());
        for (const char *name : {"chktray", "chknotify", "chkgroup"})
            QTest::mouseClick(box(name), Qt::LeftButton, {}, QPoint(6, box(name)->height() / 2));
        auto *freq = dlg.findChild<QLineEdit *>(QStringLiteral("txtfreq"));
        freq->setFocus();
        freq->selectAll();
        QTest::keyClicks(freq, QStringLiteral("7"));
        if (ok)
            QTest::keyClick(freq, Qt::Key_Return);
        else
            QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("cmdcancel")), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(settings.Delay, int16_t(ok ? 7 : 1));
        QVERIFY(desktop == (ok ? DesktopSettings {true, false, true} : DesktopSettings {false, true, false}));
        // Every row lies inside the dialog, above the buttons.
        QVERIFY(box("chkgroup")->geometry().bottom()
            < dlg.findChild<QPushButton *>(QStringLiteral("cmdok"))->geometry().top());
        QVERIFY(dlg.rect().contains(dlg.findChild<QPushButton *>(QStringLiteral("cmdok"))->geometry()));
    }

    // Two Targets DOWN on every cycle: windows and notifications come once per problem.
    void alertsOnceInEveryMode_data()
    {
        QTest::addColumn<bool>("notify");
        QTest::addColumn<bool>("group");
        QTest::newRow("defaults: one window per problem, no notification") << false << false;
        QTest::newRow("notifications beside the windows") << true << false;
        QTest::newRow("grouped, with notifications") << true << true;
    }
    void alertsOnceInEveryMode()
    {
        QFETCH(bool, notify);
        QFETCH(bool, group);
        RecordingNotifier notifier;
        Program p(2,
            QStringLiteral("[PopUp]\nNotify=%1\nGroupAlerts=%2\n")
                .arg(notify ? QStringLiteral("True") : QStringLiteral("False"),
                    group ? QStringLiteral("True") : QStringLiteral("False"))
                .toLatin1(),
            &notifier);
        MainWindow &w = *p.w;
        QVERIFY(w.tray());
        const int windows = group ? 0 : 2;
        // Grouped, the cycle's problems make one notification.
        const QStringList notes = !notify ? QStringList()
            : group                       ? QStringList {QStringLiteral("2 Targets DOWN")}
                    : QStringList {QStringLiteral("web-0: DOWN"), QStringLiteral("web-1: DOWN")};
        for (int cycle = 0; cycle < 2; ++cycle) {
            if (cycle > 0)
                p.cycle();
            QCOMPARE(w.openAlerts().size(), windows);
            QCOMPARE(w.groupAlert() ? w.groupAlert()->problemCount() : 0, group ? 2 : 0);
            QCOMPARE(notifier.summaries, notes);
            QVERIFY(!notifier.criticals.contains(false));
            QCOMPARE(w.tray()->look(), (TrayLook {TargetStatus::Down, false}));
            QVERIFY(p.tray->toolTip.contains(QStringLiteral("0 OK, 0 WARNING, 2 DOWN")));
        }
        if (group) {
            // A later cycle's problem joins the open list.
            w.table()[0].Alerted = false;
            p.cycle();
            QCOMPARE(w.groupAlert()->problemCount(), 3);
            const ProblemAlert &later = w.groupAlert()->problems().problem(2);
            QCOMPARE(later.desc, QStringLiteral("web-0"));
            QCOMPARE(later.status, TargetStatus::Down);
            QCOMPARE(later.info, QStringLiteral("All checks failed."));
            QCOMPARE(later.raisedAt, w.table()[0].LastCheck);
        }
        if (!group) {
            // The window takes the alert icon; only Acknowledge closes an alert, and only that one.
            const auto image = [](const QIcon &icon) { return icon.pixmap(16, 16).toImage(); };
            QCOMPARE(image(w.windowIcon()), image(QIcon(QStringLiteral(":/icons/exclamation.svg"))));
            const auto hostOf = [](AlertWindow *a) {
                return a->findChild<QLabel *>(QStringLiteral("lblhostname"))->text();
            };
            AlertWindow *first = w.openAlerts().first();
            QCOMPARE(hostOf(first), QStringLiteral("web-0"));
            QVERIFY(first->windowHandle());
            first->windowHandle()->close(); // the window manager's close (Alt+F4)
            QVERIFY(!first->close());
            QVERIFY(first->isVisible());
            QTest::mouseClick(first->findChild<QPushButton *>(QStringLiteral("cmdok")), Qt::LeftButton);
            QTRY_COMPARE(w.openAlerts().size(), 1);
            QCOMPARE(hostOf(w.openAlerts().first()), QStringLiteral("web-1"));
            QCOMPARE(w.grid().currentRow(), 2); // the selection ends on the second alert's row
        }
        w.save_registry();
        QCOMPARE(SettingsStore(p.file()).get(QStringLiteral("PopUp"), QStringLiteral("GroupAlerts"), {}),
            group ? QStringLiteral("True") : QStringLiteral("False"));
        w.close();
        QTRY_VERIFY(w.openAlerts().isEmpty() && !w.groupAlert());
    }

    void initTestCase()
    {
        // The notification test talks to a session bus of its own, never the user's.
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return;
        m_bus.start(daemon,
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!m_bus.waitForStarted() || !m_bus.waitForReadyRead(10000))
            return;
        m_address = QString::fromLatin1(m_bus.readLine().trimmed());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toLatin1());
    }
    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    // Tab reaches Acknowledge from the list; Return and Enter press it wherever the focus is.
    void alertKeys_data()
    {
        QTest::addColumn<bool>("group");
        QTest::addColumn<int>("key");
        QTest::newRow("single alert, Return") << false << int(Qt::Key_Return);
        QTest::newRow("single alert, Enter") << false << int(Qt::Key_Enter);
        QTest::newRow("group alert, Return in the list") << true << int(Qt::Key_Return);
        QTest::newRow("group alert, Enter in the list") << true << int(Qt::Key_Enter);
    }
    void alertKeys()
    {
        QFETCH(bool, group);
        QFETCH(int, key);
        QPointer<QWidget> w;
        if (group) {
            auto *g = new GroupAlertWindow;
            for (int i = 0; i < 3; ++i)
                g->add({QStringLiteral("web-%1").arg(i), TargetStatus::Down, QStringLiteral("refused"),
                    QDateTime::currentDateTime()});
            w = g;
        } else {
            auto *a = new AlertWindow(QStringLiteral("web-1"));
            a->showOnTop();
            w = a;
        }
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        auto *ok = w->findChild<QPushButton *>(QStringLiteral("cmdok"));
        if (group) {
            auto *list = w->findChild<QTableView *>(QStringLiteral("lstalerts"));
            list->setFocus();
            QTest::keyClick(list, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), ok);
            QTest::keyClick(ok, Qt::Key_Tab, Qt::ShiftModifier);
            QCOMPARE(QApplication::focusWidget(), list);
            QTest::keyClick(list, Qt::Key_Escape);
            QVERIFY(w);
        }
        QVERIFY(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QTRY_VERIFY(!w);
    }

    // Forty Targets DOWN in group mode: one notification per cycle, the next in the place of the last.
    void groupModeNotifiesOncePerCycle()
    {
        if (m_address.isEmpty())
            QSKIP("dbus-daemon is not installed or did not start; no private session bus");
        QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("fake"));
        FakeNotifications fake;
        QVERIFY(service.registerObject(
            QStringLiteral("/org/freedesktop/Notifications"), &fake, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));

        Program p(40, "[PopUp]\nNotify=True\nGroupAlerts=True\n");
        QTRY_COMPARE(fake.calls.size(), 1);
        QCOMPARE(fake.calls[0].summary, QStringLiteral("40 Targets DOWN"));
        QVERIFY(fake.calls[0].body.startsWith(QStringLiteral("web-0, web-1, web-2, ")));
        QVERIFY(fake.calls[0].body.contains(QStringLiteral("web-9, \u2026\nDate: ")));
        QCOMPARE(fake.calls[0].replacesId, 0u);
        QCOMPARE(fake.calls[0].hints.value(QStringLiteral("urgency")).toInt(), 2);
        QCOMPARE(p.w->groupAlert()->problemCount(), 40);

        p.cycle(); // the same problems: nothing new to tell
        QTest::qWait(100);
        QCOMPARE(fake.calls.size(), 1);
        for (const int16_t i : {3, 7})
            p.w->table()[i].Alerted = false;
        p.cycle();
        QTRY_COMPARE(fake.calls.size(), 2);
        QCOMPARE(fake.calls[1].summary, QStringLiteral("2 Targets DOWN"));
        QVERIFY(fake.calls[1].body.startsWith(QStringLiteral("web-3, web-7\n")));
        QCOMPARE(fake.calls[1].replacesId, 1u);
        QCOMPARE(p.w->groupAlert()->problemCount(), 42);
        service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake"));
    }

    void destroyedGroupWindowGivesWayToANewOne()
    {
        Program p(1, "[PopUp]\nGroupAlerts=True\n");
        QVERIFY(p.w->groupAlert());
        delete p.w->groupAlert();
        p.w->table()[0].Alerted = false;
        p.cycle();
        QVERIFY(p.w->groupAlert() && p.w->groupAlert()->isVisible());
        QCOMPARE(p.w->groupAlert()->problemCount(), 1);
    }

    // The list's texts and colours; the status and the time read in full, and the selected row
    // keeps its red, at any font size; only Acknowledge closes the window.
    void groupWindowListsAndAcknowledgesAll_data()
    {
        QTest::addColumn<int>("points");
        QTest::newRow("small font") << 8;
        QTest::newRow("large font") << 14;
    }
    void groupWindowListsAndAcknowledgesAll()
    {
        QFETCH(int, points);
        const QFont saved = QApplication::font();
        QFont f = saved;
        f.setPointSize(points);
        QApplication::setFont(f);
        QPointer<GroupAlertWindow> w = new GroupAlertWindow(britain);
        QApplication::setFont(saved);
        w->add({QStringLiteral("Mail"), TargetStatus::Down, QStringLiteral("All checks failed."), when});
        w->add({QStringLiteral("Web"), TargetStatus::Warning, QStringLiteral("Slow"), when.addSecs(60)});
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(w->windowTitle(), QStringLiteral("Problem Detected!"));
        QVERIFY(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(w->testAttribute(Qt::WA_ShowWithoutActivating));
        const ProblemListModel &m = w->problems();
        QCOMPARE(m.rowCount(), 2);
        const auto row = [&m](int r) {
            QStringList cells;
            for (int c = 0; c < m.columnCount(); ++c)
                cells << m.index(r, c).data().toString();
            return cells.join(QLatin1Char('|'));
        };
        QCOMPARE(row(0), QStringLiteral("Mail|* DOWN *|All checks failed.|Date: 11/12/1999  Time: 10:15:02"));
        QCOMPARE(row(1), QStringLiteral("Web|Warning|Slow|Date: 11/12/1999  Time: 10:16:02"));
        QCOMPARE(m.index(1, 1).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 255, 0));

        auto *list = w->findChild<QTableView *>(QStringLiteral("lstalerts"));
        const QFontMetrics fm(list->font());
        const int margins = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
        for (const int column : {1, 3}) {
            const QString text = list->model()->index(0, column).data().toString();
            QVERIFY2(list->columnWidth(column) >= fm.horizontalAdvance(text) + margins, qPrintable(text));
            QVERIFY(list->columnViewportPosition(column) + list->columnWidth(column)
                <= list->viewport()->width());
        }
        list->selectRow(0);
        const QImage image = list->viewport()->grab().toImage();
        const QRect status = list->visualRect(list->model()->index(0, 1));
        QCOMPARE(image.pixelColor(status.right() - 4, status.center().y()), QColor(255, 0, 0));
        QCOMPARE(image.pixelColor(status.center().x(), status.top()),
            list->palette().color(QPalette::Active, QPalette::Highlight));
        const QRect host = list->visualRect(list->model()->index(0, 0));
        QCOMPARE(
            image.pixelColor(host.right() - 4, host.center().y()), list->palette().color(QPalette::Base));

        w->close(); // the window manager's close
        QVERIFY(w && w->isVisible());
        QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("cmdok")), Qt::LeftButton);
        QTRY_VERIFY(!w);
    }

    // OK rows read by pixels from the real grid: the green drawn meets the contrast rule.
    void okRowsAreReadable_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light palette") << false;
        QTest::newRow("dark palette") << true;
    }
    void okRowsAreReadable()
    {
        QFETCH(bool, dark);
        const QPalette saved = QApplication::palette();
        if (dark)
            QApplication::setPalette(darkPalette());
        Program p(2, "[Window]\nEnable=False\n");
        p.w->table()[0].Status = TargetStatus::Ok;
        p.w->grid().load_display();
        QVERIFY(QTest::qWaitForWindowExposed(p.w.get()));
        const QImage image = p.gridView()->viewport()->grab().toImage();
        QApplication::setPalette(saved);
        QColor text;
        const QRect cell = p.gridView()->visualRect(p.gridView()->model()->index(0, GridColumn::Status));
        // Antialiasing lightens thin strokes a little below the colour's own 4.5; #00FF00 gives 1.37.
        QVERIFY(strongestContrast(image, cell, Qt::white, &text) >= 4.0);
        QVERIFY(text.green() > 2 * text.red() && text.green() > 2 * text.blue());
    }

    // An empty list explains itself in the grid until the first Target, and again once cleared.
    void emptyGridShowsHowToStart()
    {
        Program p(0, "[Window]\nEnable=False\n");
        MainWindow &w = *p.w;
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *grid = w.findChild<QTableView *>(QStringLiteral("gridsys"));
        auto *hint = grid->viewport()->findChild<QLabel *>(QStringLiteral("lblempty"));
        QVERIFY(hint && hint->isVisible());
        QCOMPARE(hint->text(),
            QStringLiteral("No systems monitored yet. Systems \u2192 Add (Ctrl+A) adds one; Systems \u2192 "
                           "Import settings from file reads an export file."));
        QCOMPARE(w.action("optadd")->shortcut(), QKeySequence(QStringLiteral("Ctrl+A")));
        QCOMPARE(w.action("optimport")->text(), QStringLiteral("&Import settings from file"));
        grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
        QCOMPARE(hint->geometry(), grid->viewport()->rect());
        QTest::keyClick(grid, Qt::Key_Insert);
        QVERIFY(!hint->isVisible());
        p.prompts.queueAnswer(UserPrompts::Answer::Ok);
        w.action("optclear")->trigger();
        QVERIFY(hint->isVisible());
    }

private:
    QProcess m_bus;
    QString m_address;
};

SENTREL_TEST_MAIN(TstDesktop)
#include "tst_desktop.moc"
