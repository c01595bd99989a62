#include "CycleRig.h"
#include "DesktopFakes.h"
#include "ScriptedPrompts.h"
#include "TestFiles.h"
#include "engine/StatusGrid.h"
#include "ui/AlertWindow.h"
#include "ui/DesktopTray.h"
#include "ui/EmptyGridHint.h"
#include "ui/GridColours.h"
#include "ui/GroupAlertWindow.h"
#include "ui/MainWindow.h"
#include "ui/PreferencesDialog.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace sentrel;
using namespace sentrel::test;

namespace {

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

// A main window over a settings file of count Targets that refuse connections.
struct Program
{
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> w;

    Program(int count, const QByteArray &more)
    {
        QByteArray ini =
            count ? "[Targets]\nMaxHostNo=" + QByteArray::number(count - 1) + '\n' : QByteArray();
        for (int i = 0; i < count; ++i)
            ini += QStringLiteral(
                "Hostname%20#=@\nDesc%20#=web-#\nPort%20#=25\nUseM%20#=True\nUsePX%20#=False\n")
                       .replace(QLatin1Char('#'), QString::number(i))
                       .replace(QLatin1Char('@'), refusingHost())
                       .toLatin1();
        writeBytes(dir.filePath(QStringLiteral("Sentrel.ini")), ini + more);
        MainWindow::Options o;
        o.settingsFile = dir.filePath(QStringLiteral("Sentrel.ini"));
        o.prompts = &prompts;
        o.dataFolder = dir.path();
        o.splash = false;
        w = std::make_unique<MainWindow>(o);
        w->startup();
        QTRY_VERIFY(!w->monitor().CycleRunning());
    }
    void cycle()
    {
        w->action("optupdate")->trigger();
        QTRY_VERIFY(!w->monitor().CycleRunning());
    }
    QTableView *grid() const { return w->findChild<QTableView *>(QStringLiteral("gridsys")); }
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

} // namespace

class TstDesktopUse : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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

    void preferencesReturnPressesOk()
    {
        GlobalSettings settings;
        settings.Delay = 1;
        PreferencesDialog dlg(settings, 9, 9);
        dlg.show();
        auto *freq = dlg.findChild<QLineEdit *>(QStringLiteral("txtfreq"));
        freq->setFocus();
        freq->selectAll();
        QTest::keyClicks(freq, QStringLiteral("7"));
        QTest::keyClick(freq, Qt::Key_Return);
        QCOMPARE(settings.Delay, int16_t(7));
        QVERIFY(!dlg.isVisible());
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

    // The status and the time read in full, and the selected row keeps its red, at any font size.
    void groupWindowColumnsFitAndSelectionKeepsColour_data()
    {
        QTest::addColumn<int>("points");
        QTest::newRow("small font") << 8;
        QTest::newRow("large font") << 14;
    }
    void groupWindowColumnsFitAndSelectionKeepsColour()
    {
        QFETCH(int, points);
        const QFont saved = QApplication::font();
        QFont f = saved;
        f.setPointSize(points);
        QApplication::setFont(f);
        QPointer<GroupAlertWindow> w = new GroupAlertWindow;
        QApplication::setFont(saved);
        const QDateTime late(QDate(2026, 12, 26), QTime(23, 59, 58));
        w->add({QStringLiteral("mail"), TargetStatus::Down, QStringLiteral("All checks failed."), late});
        w->add({QStringLiteral("web"), TargetStatus::Warning, QStringLiteral("slow"), late});
        QVERIFY(QTest::qWaitForWindowExposed(w));
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
        w->acknowledge();
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
        const QImage image = p.grid()->viewport()->grab().toImage();
        QApplication::setPalette(saved);
        QColor text;
        const QRect cell = p.grid()->visualRect(p.grid()->model()->index(0, GridColumn::Status));
        // Antialiasing lightens thin strokes a little below the colour's own 4.5; #00FF00 gives 1.37.
        QVERIFY(strongestContrast(image, cell, Qt::white, &text) >= 4.0);
        QVERIFY(text.green() > 2 * text.red() && text.green() > 2 * text.blue());
    }

    void trayHidesOnlyWhereItIsAndShowsMonitoringOff()
    {
        QWidget window;
        QAction update, enable, exit;
        enable.setCheckable(true);
        enable.setChecked(true);
        auto fake = std::make_unique<FakeTray>();
        FakeTray *backend = fake.get();
        DesktopTray tray(std::move(fake), &window, &update, &enable, &exit);
        tray.setHideWhenMinimised([] { return true; });
        window.show();
        backend->available = false; // the panel went away
        window.showMinimized();
        QTest::qWait(50);
        QVERIFY(window.isVisible());
        backend->available = true;
        window.showNormal();
        window.showMinimized();
        QTRY_VERIFY(!window.isVisible());

        tray.cycleFinished(TargetTable(), QDateTime::currentDateTime());
        enable.setChecked(false);
        QVERIFY(backend->toolTip.endsWith(QStringLiteral("\nMonitoring is off")));
        QCOMPARE(backend->icon.pixmap(32).toImage().pixelColor(16, 16), QColor(150, 150, 150));
        enable.setChecked(true);
        QVERIFY(!backend->toolTip.contains(QStringLiteral("Monitoring is off")));
        QVERIFY(backend->icon.pixmap(32).toImage().pixelColor(16, 16) != QColor(150, 150, 150));
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

SENTREL_TEST_MAIN(TstDesktopUse)
#include "tst_desktopuse.moc"
