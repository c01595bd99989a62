#include "CycleRig.h"
#include "DesktopFakes.h"
#include "TestFiles.h"
#include "engine/StatusGrid.h"
#include "settings/SettingsStore.h"
#include "ui/AlertWindow.h"
#include "ui/DesktopNotifier.h"
#include "ui/DesktopTray.h"
#include "ui/GridColours.h"
#include "ui/GroupAlertWindow.h"
#include "ui/MainWindow.h"
#include "ui/PreferencesDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
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
        QWidget window;
        QAction update, enable, exit;
        enable.setCheckable(true);
        enable.setChecked(true);
        QSignalSpy updates(&update, &QAction::triggered);
        QSignalSpy exits(&exit, &QAction::triggered);
        auto fake = std::make_unique<FakeTray>();
        FakeTray *backend = fake.get();
        DesktopTray tray(std::move(fake), &window, &update, &enable, &exit);
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
        QObject::connect(&enable, &QAction::triggered, &enable, [] {});
        item("trayenable")->trigger();
        QVERIFY(!enable.isChecked() && !item("trayenable")->isChecked());
        enable.setChecked(true); // F12 in the window
        QVERIFY(item("trayenable")->isChecked());
        item("trayexit")->trigger();
        QCOMPARE(exits.count(), 1);
    }

    void clickShowsAndMinimiseHidesWhenAsked()
    {
        QWidget window;
        QAction update, enable, exit;
        auto fake = std::make_unique<FakeTray>();
        FakeTray *backend = fake.get();
        DesktopTray tray(std::move(fake), &window, &update, &enable, &exit);
        bool hide = false;
        tray.setHideWhenMinimised([&hide] { return hide; });
        window.show();
        window.showMinimized();
        QTest::qWait(20);
        QVERIFY(window.isVisible()); // off by default: minimising stays minimising
        backend->activated();
        QVERIFY(window.isVisible() && !window.isMinimized());

        hide = true;
        window.showMinimized();
        QTRY_VERIFY(!window.isVisible());
        backend->activated();
        QVERIFY(window.isVisible() && !window.isMinimized());
        QVERIFY(QGuiApplication::quitOnLastWindowClosed());
    }

    // Signals end the program by the window's Exit; hidden in the tray, that must still end the
    // event loop, and save as configured.
    void exitEndsTheProgramWhileHiddenInTheTray()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Sentrel.ini"));
        QVERIFY(writeBytes(file, "[Window]\nEnable=False\nHideToTray=True\n"));
        MainWindow::Options o;
        o.settingsFile = file;
        o.dataFolder = dir.path();
        o.splash = false;
        o.makeTray = [] { return std::make_unique<FakeTray>(); };
        MainWindow w(o);
        QVERIFY(w.startup());
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
        QCOMPARE(SettingsStore(file).get(QStringLiteral("Targets"), QStringLiteral("Hostname 0"), {}),
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

    // Unknown, OK, WARNING, DOWN rows; the text colour each shows under a light and a dark palette.
    void gridTextUnderLightAndDarkPalettes()
    {
        GridRig rig({0, 1, 2, 3});
        const QColor lightThemeText(0x20, 0x20, 0x40);
        QPalette light;
        light.setColor(QPalette::WindowText, lightThemeText);
        rig.view.setPalette(light);
        // OK's green darkened to read on white.
        const QList<QColor> lightExpected {
            lightThemeText, QColor(0, 138, 0), lightThemeText, QColor(255, 255, 255)};
        for (int row = 0; row < 4; ++row)
            QCOMPARE(rig.brush(row, GridColumn::Status, Qt::ForegroundRole), lightExpected.at(row));
        rig.view.setPalette(darkPalette());
        const QList<QColor> darkExpected {Qt::black, QColor(0, 138, 0), Qt::black, QColor(255, 255, 255)};
        for (int row = 0; row < 4; ++row) {
            QCOMPARE(rig.brush(row, GridColumn::Status, Qt::ForegroundRole), darkExpected.at(row));
            QCOMPARE(rig.brush(row, GridColumn::Host, Qt::ForegroundRole), darkExpected.at(row));
        }
        QCOMPARE(rig.brush(2, GridColumn::Information, Qt::BackgroundRole), QColor(255, 255, 0));
    }

    void selectedRowKeepsItsStatusColour_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light palette") << false;
        QTest::newRow("dark palette") << true;
    }
    void selectedRowKeepsItsStatusColour()
    {
        QFETCH(bool, dark);
        GridRig rig({1, 3, 2});
        if (dark)
            rig.view.setPalette(darkPalette());
        rig.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.view));
        rig.view.selectRow(1);
        const QImage image = rig.view.viewport()->grab().toImage();
        const QRect info = rig.view.visualRect(rig.view.model()->index(1, GridColumn::Information));
        const QRect host = rig.view.visualRect(rig.view.model()->index(1, GridColumn::Host));
        const QColor highlight = rig.view.palette().color(QPalette::Active, QPalette::Highlight);
        QCOMPARE(image.pixelColor({info.right() - 6, info.center().y()}), QColor(255, 0, 0));
        QCOMPARE(image.pixelColor({info.center().x(), info.top()}), highlight);
        QCOMPARE(image.pixelColor({host.left(), host.center().y()}), highlight);
        // The row below keeps its yellow and has no frame.
        const QRect below = rig.view.visualRect(rig.view.model()->index(2, GridColumn::Information));
        QCOMPARE(image.pixelColor({below.right() - 6, below.center().y()}), QColor(255, 255, 0));
        QCOMPARE(image.pixelColor({below.center().x(), below.bottom() - 1}), QColor(255, 255, 0));
    }

    void groupWindowListsAndAcknowledgesAll()
    {
        QPointer<GroupAlertWindow> w = new GroupAlertWindow(britain);
        w->add({QStringLiteral("Mail"), TargetStatus::Down, QStringLiteral("All checks failed."), when});
        w->add({QStringLiteral("Web"), TargetStatus::Warning, QStringLiteral("Slow"), when.addSecs(60)});
        QVERIFY(w->isVisible());
        QCOMPARE(w->objectName(), QStringLiteral("frmalerts"));
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
        QCOMPARE(m.index(0, 1).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 0, 0));
        QCOMPARE(m.index(1, 1).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 255, 0));

        w->close(); // the window manager's close
        QVERIFY(w && w->isVisible());
        QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("cmdok")), Qt::LeftButton);
        QTRY_VERIFY(!w);
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
        QTest::newRow("OK takes the boxes") << true;
        QTest::newRow("Cancel keeps the settings") << false;
    }
    void preferencesRows()
    {
        QFETCH(bool, ok);
        GlobalSettings settings;
        DesktopSettings desktop {false, true, false};
        PreferencesDialog dlg(settings, 10, 10, nullptr, &desktop);
        dlg.show();
        const auto box = [&dlg](const char *name) { return dlg.findChild<QCheckBox *>(QLatin1String(name)); };
        QCOMPARE(box("chktray")->text(), QStringLiteral("Hide to tray when minimised"));
        QCOMPARE(box("chknotify")->text(), QStringLiteral("Desktop notifications"));
        QCOMPARE(box("chkgroup")->text(), QStringLiteral("Group alerts"));
        QVERIFY(
            !box("chktray")->isChecked() && box("chknotify")->isChecked() && !box("chkgroup")->isChecked());
        for (const char *name : {"chktray", "chknotify", "chkgroup"})
            QTest::mouseClick(box(name), Qt::LeftButton, {}, QPoint(6, box(name)->height() / 2));
        QTest::mouseClick(
            dlg.findChild<QPushButton *>(QLatin1String(ok ? "cmdok" : "cmdcancel")), Qt::LeftButton);
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
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Sentrel.ini"));
        QVERIFY(writeBytes(file,
            QStringLiteral("[Targets]\nMaxHostNo=1\nHostname%200=%1\nDesc%200=A\nPort%200=25\nUseM%200=True\n"
                           "UsePX%200=False\nHostname%201=%2\nDesc%201=B\nPort%201=25\nUseM%201=True\n"
                           "UsePX%201=False\n[PopUp]\nNotify=%3\nGroupAlerts=%4\n")
                .arg(refusingHost(), refusingHost(),
                    notify ? QStringLiteral("True") : QStringLiteral("False"),
                    group ? QStringLiteral("True") : QStringLiteral("False"))
                .toLatin1()));
        RecordingNotifier notifier;
        FakeTray *tray = nullptr;
        MainWindow::Options o;
        o.settingsFile = file;
        o.dataFolder = dir.path();
        o.splash = false;
        o.notifier = &notifier;
        o.makeTray = [&tray] {
            auto t = std::make_unique<FakeTray>();
            tray = t.get();
            return t;
        };
        MainWindow w(o);
        QVERIFY(w.startup());
        QVERIFY(w.tray());
        QTRY_VERIFY(!w.monitor().CycleRunning());
        const int windows = group ? 0 : 2;
        // Grouped, the cycle's problems make one notification.
        const QStringList notes = !notify ? QStringList()
            : group                       ? QStringList {QStringLiteral("2 Targets DOWN")}
                    : QStringList {QStringLiteral("A: DOWN"), QStringLiteral("B: DOWN")};
        for (int cycle = 0; cycle < 2; ++cycle) {
            if (cycle > 0) {
                w.action("optupdate")->trigger();
                QTRY_VERIFY(!w.monitor().CycleRunning());
            }
            QCOMPARE(w.openAlerts().size(), windows);
            QCOMPARE(w.groupAlert() ? w.groupAlert()->problemCount() : 0, group ? 2 : 0);
            QCOMPARE(notifier.summaries, notes);
            QVERIFY(!notifier.criticals.contains(false));
            QCOMPARE(w.tray()->look(), (TrayLook {TargetStatus::Down, false}));
            QVERIFY(tray->toolTip.contains(QStringLiteral("0 OK, 0 WARNING, 2 DOWN")));
        }
        if (group) {
            // A later cycle's problem joins the open list.
            w.table()[0].Alerted = false;
            w.action("optupdate")->trigger();
            QTRY_VERIFY(!w.monitor().CycleRunning());
            QCOMPARE(w.groupAlert()->problemCount(), 3);
            const ProblemAlert &later = w.groupAlert()->problems().problem(2);
            QCOMPARE(later.desc, QStringLiteral("A"));
            QCOMPARE(later.status, TargetStatus::Down);
            QCOMPARE(later.info, QStringLiteral("All checks failed."));
            QCOMPARE(later.raisedAt, w.table()[0].LastCheck);
        }
        w.save_registry();
        QCOMPARE(SettingsStore(file).get(QStringLiteral("PopUp"), QStringLiteral("GroupAlerts"), {}),
            group ? QStringLiteral("True") : QStringLiteral("False"));
        w.close();
        QTRY_VERIFY(w.openAlerts().isEmpty() && !w.groupAlert());
    }
};

SENTREL_TEST_MAIN(TstDesktop)
#include "tst_desktop.moc"
