#include "DesktopFakes.h"
#include "engine/StatusGrid.h"
#include "settings/SettingsStore.h"
#include "ui/AlertWindow.h"
#include "ui/DesktopNotifier.h"
#include "ui/GridColours.h"
#include "ui/GroupAlertWindow.h"

#include <QApplication>
#include <QDBusConnection>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>

using namespace sentrel;
using namespace sentrel::test;
using namespace Qt::StringLiterals;

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
    // Status per slot (-1 a free slot) -> the tray's tooltip and the colour of its icon, which
    // keeps that colour around the mark of a running cycle.
    void trayTextsAndIcon_data()
    {
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<QDateTime>("lastCycle");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("toolTip"); // "@" for "\nLast cycle: 10:15:02"
        QTest::addColumn<QColor>("colour");
        const QColor white(255, 255, 255);
        QTest::newRow("first cycle running")
            << QList<int> {-1} << QDateTime() << true << "Sentrel\nNo check cycle yet\nChecking..." << white;
        QTest::newRow("empty table") << QList<int> {-1} << when << false
                                     << "Sentrel\n0 OK, 0 WARNING, 0 DOWN@" << white;
        QTest::newRow("all OK") << QList<int> {1, -1, 1} << when << false
                                << "Sentrel\n2 OK, 0 WARNING, 0 DOWN@" << QColor(0, 255, 0);
        QTest::newRow("no result beats OK")
            << QList<int> {1, 0} << when << false << "Sentrel\n1 OK, 0 WARNING, 0 DOWN, 1 Unknown@" << white;
        QTest::newRow("WARNING beats no result, next cycle running")
            << QList<int> {1, 0, 2} << when << true
            << "Sentrel\n1 OK, 1 WARNING, 0 DOWN, 1 Unknown@\nChecking..." << QColor(255, 255, 0);
        QTest::newRow("DOWN beats all")
            << QList<int> {3, 2, 1, 0, -1, 3} << when << false
            << "Sentrel\n1 OK, 1 WARNING, 2 DOWN, 1 Unknown@" << QColor(255, 0, 0);
    }
    void trayTextsAndIcon()
    {
        QFETCH(QList<int>, statuses);
        QFETCH(QDateTime, lastCycle);
        QFETCH(bool, busy);
        QFETCH(QString, toolTip);
        QFETCH(QColor, colour);
        const StatusCounts s = countStatuses(tableOf(statuses));
        QCOMPARE(trayToolTip(s, lastCycle, busy, britain),
            toolTip.replace(QLatin1Char('@'), QStringLiteral("\nLast cycle: 10:15:02")));
        const QImage image = trayImage({s.worst, busy}, 32);
        QCOMPARE(image.pixelColor(16, busy ? 5 : 16), colour);
        if (busy)
            QVERIFY(qGray(image.pixel(16, 16)) < 64);
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

    // Minimising hides into the tray only when asked (exitEndsTheProgramWhileHiddenInTheTray) and
    // only while the panel is there; a click on the icon brings the window back.
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
        QTimer::singleShot(10000, &w, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(SettingsStore(p.file()).get(QStringLiteral("Targets"), QStringLiteral("Hostname 0"), {}),
            QStringLiteral("localhost"));
    }

    // Text kept or turned black at the 4.5:1 boundary (the colours of each row: the grid case).
    void contrastRule()
    {
        QCOMPARE(readableWindowText(QColor(0x77, 0x77, 0x77), Qt::white), QColor(Qt::black));
        QCOMPARE(readableWindowText(QColor(0x76, 0x76, 0x76), Qt::white), QColor(0x76, 0x76, 0x76));
    }

    // Unknown, OK, DOWN, WARNING rows: the text colour each shows under a light and a dark palette,
    // and the selected DOWN row keeps its red behind the highlight's frame.
    void gridColoursUnderLightAndDarkPalettes()
    {
        // The grid's view as the main window sets it up.
        TargetTable table = tableOf({0, 1, 3, 2});
        TargetGrid grid(table);
        grid.load_display();
        QTableView view;
        auto *proxy = new GridColourProxy(&view);
        proxy->setSourceModel(grid.model());
        view.setModel(proxy);
        view.setItemDelegate(new StatusRowDelegate(GridColumn::Host, GridColumn::Information, &view));
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.setColumnHidden(GridColumn::Index, true);
        view.resize(400, 200);
        const auto brush = [&view](int row, int column, int role) {
            return view.model()->index(row, column).data(role).value<QBrush>().color();
        };
        for (const bool dark : {false, true}) {
            const QColor text = dark ? QColor(0xef, 0xf0, 0xf1) : QColor(0x20, 0x20, 0x40);
            QPalette palette;
            palette.setColor(QPalette::WindowText, text);
            view.setPalette(palette);
            // OK's green darkened to read on white; a dark theme's light text turns black on the rows.
            const QColor plain = dark ? QColor(Qt::black) : text;
            const QList<QColor> expected {plain, QColor(0, 138, 0), QColor(255, 255, 255), plain};
            for (int row = 0; row < 4; ++row) {
                QCOMPARE(brush(row, GridColumn::Status, Qt::ForegroundRole), expected.at(row));
                QCOMPARE(brush(row, GridColumn::Host, Qt::ForegroundRole), expected.at(row));
            }
        }
        QCOMPARE(brush(3, GridColumn::Information, Qt::BackgroundRole), QColor(255, 255, 0));

        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.selectRow(2);
        const QImage image = view.viewport()->grab().toImage();
        const QRect info = view.visualRect(view.model()->index(2, GridColumn::Information));
        const QRect host = view.visualRect(view.model()->index(2, GridColumn::Host));
        const QColor highlight = view.palette().color(QPalette::Active, QPalette::Highlight);
        QCOMPARE(image.pixelColor({info.right() - 6, info.center().y()}), QColor(255, 0, 0));
        QCOMPARE(image.pixelColor({info.center().x(), info.top()}), highlight);
        QCOMPARE(image.pixelColor({host.left(), host.center().y()}), highlight);
        // The row below keeps its yellow and has no frame.
        const QRect below = view.visualRect(view.model()->index(3, GridColumn::Information));
        QCOMPARE(image.pixelColor({below.right() - 6, below.center().y()}), QColor(255, 255, 0));
        QCOMPARE(image.pixelColor({below.center().x(), below.bottom() - 1}), QColor(255, 255, 0));
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
        const auto flag = [](bool on) { return QByteArray(on ? "True" : "False"); };
        Program p(2, "[PopUp]\nNotify=" + flag(notify) + "\nGroupAlerts=" + flag(group) + '\n', &notifier);
        MainWindow &w = *p.w;
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
            QCOMPARE(std::tuple(later.desc, later.status, later.info, later.raisedAt),
                std::tuple(u"web-0"_s, TargetStatus::Down, u"All checks failed."_s, w.table()[0].LastCheck));
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
            first->windowHandle()->close(); // the window manager's close (Alt+F4)
            QVERIFY(!first->close());
            QVERIFY(first->isVisible());
            QTest::mouseClick(first->findChild<QPushButton *>(QStringLiteral("cmdok")), Qt::LeftButton);
            QTRY_COMPARE(w.openAlerts().size(), 1);
            QCOMPARE(hostOf(w.openAlerts().first()), QStringLiteral("web-1"));
            QCOMPARE(w.grid().currentRow(), 2); // the selection ends on the second alert's row
        }
        w.save_registry();
        QCOMPARE(
            SettingsStore(p.file()).get(u"PopUp"_s, u"GroupAlerts"_s, {}), QString::fromLatin1(flag(group)));
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

    // Return and Enter press Acknowledge wherever the focus is; Escape in the list does not close.
    void alertKeys_data()
    {
        QTest::addColumn<bool>("group");
        QTest::addColumn<int>("key");
        QTest::newRow("single alert, Return") << false << int(Qt::Key_Return);
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
        if (group) {
            auto *list = w->findChild<QTableView *>(QStringLiteral("lstalerts"));
            list->setFocus();
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
        QCOMPARE(std::tuple(fake.calls[0].summary, fake.calls[0].replacesId,
                     fake.calls[0].hints.value(u"urgency"_s).toInt()),
            std::tuple(u"40 Targets DOWN"_s, 0u, 2));
        QVERIFY(fake.calls[0].body.startsWith(QStringLiteral("web-0, web-1, web-2, ")));
        QVERIFY(fake.calls[0].body.contains(QStringLiteral("web-9, \u2026\nDate: ")));
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
        delete p.w->groupAlert(); // it has no owner
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
        delete p.w->groupAlert(); // it has no owner
    }

    // The list's texts and colours; the status and the time read in full at any font size; only
    // Acknowledge closes the window.
    void groupWindowListsAndAcknowledgesAll()
    {
        const QFont saved = QApplication::font();
        QFont f = saved;
        f.setPointSize(14);
        QApplication::setFont(f);
        QPointer<GroupAlertWindow> w = new GroupAlertWindow(britain);
        QApplication::setFont(saved);
        w->add({QStringLiteral("Mail"), TargetStatus::Down, QStringLiteral("All checks failed."), when});
        w->add({QStringLiteral("Web"), TargetStatus::Warning, QStringLiteral("Slow"), when.addSecs(60)});
        QVERIFY(QTest::qWaitForWindowExposed(w));
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
        w->close(); // the window manager's close
        QVERIFY(w && w->isVisible());
        QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("cmdok")), Qt::LeftButton);
        QTRY_VERIFY(!w);
    }

private:
    QProcess m_bus;
    QString m_address;
};

SENTREL_TEST_MAIN(TstDesktop)
#include "tst_desktop.moc"
