#include "ScriptedPrompts.h"
#include "ui/AlertWindow.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <QToolButton>
#include <functional>

using namespace sentrel;
using namespace sentrel::test;

namespace {

struct Window
{
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> w;

    explicit Window(const QByteArray &ini = {})
    {
        const QString file = dir.filePath(QStringLiteral("Sentrel.ini"));
        QFile f(file);
        if (f.open(QIODevice::WriteOnly))
            f.write(ini.isEmpty() ? QByteArray("[Window]\nEnable=False\n") : ini);
        f.close();
        MainWindow::Options o;
        o.settingsFile = file;
        o.prompts = &prompts;
        o.dataFolder = dir.path();
        o.splash = false;
        w = std::make_unique<MainWindow>(o);
        w->startup();
    }
    QAction *action(const char *name) const { return w->action(name); }
    void press(int key)
    {
        auto *grid = w->findChild<QTableView *>(QStringLiteral("gridsys"));
        QTest::keyClick(grid, static_cast<Qt::Key>(key));
    }
};

// Runs `answer` on the first visible top-level dialog once one shows; modal
// dialogs run their own event loop, so the answer has to come from inside it.
void whenDialogShows(std::function<void(QDialog *)> answer)
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *dlg = qobject_cast<QDialog *>(w);
            if (dlg && dlg->isVisible()) {
                poll->stop();
                poll->deleteLater();
                answer(dlg);
                return;
            }
        }
    });
    poll->start();
}

QStringList menuCaptions(const QMenu *menu)
{
    QStringList out;
    for (const QAction *a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("-")
                                 : a->text() + QLatin1Char('|') + a->shortcut().toString());
    return out;
}

} // namespace

class TstMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void menuTree()
    {
        Window win;
        const auto menus = win.w->menuBar()->findChildren<QMenu *>(Qt::FindDirectChildrenOnly);
        QStringList titles;
        for (const QAction *a : win.w->menuBar()->actions())
            titles << a->text();
        QCOMPARE(titles,
            (QStringList {QStringLiteral("&File"), QStringLiteral("&Systems"), QStringLiteral("&Logging"),
                QStringLiteral("&Display"), QStringLiteral("&Help")}));
        const auto *file = win.w->findChild<QMenu *>(QStringLiteral("mnufile"));
        QCOMPARE(menuCaptions(file),
            (QStringList {QStringLiteral("Update &Now|F11"), QStringLiteral("&Abort update|F3"),
                QStringLiteral("&Sentrel enabled|F12"), QStringLiteral("Pop up on &Warning?|Shift+F12"),
                QStringLiteral("&Preferences...|"), QStringLiteral("Save settings to registry on exit|"),
                QStringLiteral("&Save settings to registry now|F4"), QStringLiteral("-"),
                QStringLiteral("E&xit|Ctrl+X")}));
        QCOMPARE(menuCaptions(win.w->findChild<QMenu *>(QStringLiteral("mnusys"))),
            (QStringList {QStringLiteral("&Add|Ctrl+A"), QStringLiteral("&Delete|Ctrl+D"),
                QStringLiteral("&Edit|Ctrl+E"), QStringLiteral("&Clear|"), QStringLiteral("-"),
                QStringLiteral("E&xport settings to file|"), QStringLiteral("&Import settings from file|")}));
        QCOMPARE(menuCaptions(win.w->findChild<QMenu *>(QStringLiteral("mnulogging"))),
            (QStringList {QStringLiteral("&Logging enabled|Ctrl+L"), QStringLiteral("File: sentrel.log|"),
                QStringLiteral("Clear log|"), QStringLiteral("Switch log file|"),
                QStringLiteral("Options...|")}));
        QCOMPARE(menuCaptions(win.w->findChild<QMenu *>(QStringLiteral("mnudisplay"))),
            (QStringList {QStringLiteral("Small Mode|F9"), QStringLiteral("&Show Details Window|Ctrl+S"),
                QStringLiteral("&Refresh List|F5")}));
        QCOMPARE(menuCaptions(win.w->findChild<QMenu *>(QStringLiteral("mnuhelp"))),
            (QStringList {
                QStringLiteral("&Context sensitive|"), QStringLiteral("-"), QStringLiteral("&About|F1")}));
        QVERIFY(!win.action("optabort")->isEnabled());
        QVERIFY(win.action("optsaveonexit")->isChecked());
        QVERIFY(win.action("optcontext")->isChecked() && !win.action("optcontext")->isEnabled());
        QVERIFY(!win.action("optenable")->isChecked()); // as stored
        QVERIFY(!win.action("optsmall")->isChecked());
        QCOMPARE(win.w->windowTitle(), QStringLiteral("Sentrel"));
        QCOMPARE(win.w->objectName(), QStringLiteral("frmmain"));
    }

    void controlsCarryTheirNamesAndTips()
    {
        Window win;
        auto *grid = win.w->findChild<QTableView *>(QStringLiteral("gridsys"));
        auto *details = win.w->findChild<QPlainTextEdit *>(QStringLiteral("txtdata"));
        QVERIFY(grid && details);
        QCOMPARE(grid->toolTip(), QStringLiteral("List of devices and hosts to monitor"));
        QCOMPARE(details->toolTip(), QStringLiteral("Additional output from host and any error messages"));
        QVERIFY(win.w->findChild<QToolButton *>(QStringLiteral("cmdsize")));
        QVERIFY(grid->isColumnHidden(3));
    }

    void gridKeys()
    {
        Window win;
        QCOMPARE(win.w->grid().rowCount(), 1);
        win.press(Qt::Key_Delete); // no data row: nothing, not even a question
        QVERIFY(win.prompts.messages.isEmpty());
        win.press(Qt::Key_Insert);
        win.press(Qt::Key_Insert);
        QCOMPARE(win.w->grid().rowCount(), 3);
        QCOMPARE(win.w->grid().cell(2, 2), QStringLiteral("New entry"));
        win.w->grid().setCurrentRow(1);
        win.prompts.queueAnswer(UserPrompts::Answer::Ok);
        win.press(Qt::Key_Delete);
        QCOMPARE(win.prompts.messages.size(), 1);
        QCOMPARE(
            win.prompts.messages[0].text, QStringLiteral("Do you really want to delete host [localhost]?"));
        QCOMPARE(win.w->grid().rowCount(), 2);
        QVERIFY(win.w->table()[0].isFree());
    }

    void editOnAnEmptyListRevivesSlotZero()
    {
        Window win;
        QCOMPARE(win.w->grid().rowCount(), 1);
        QString seen;
        win.prompts.queueAnswer(
            UserPrompts::Answer::Yes); // "No monitoring methods are defined. Are you sure?"
        whenDialogShows([&seen](QDialog *dlg) {
            seen = dlg->objectName();
            dlg->findChild<QLineEdit *>(QStringLiteral("txthostname"))
                ->setText(QStringLiteral("revived.example"));
            QTest::mouseClick(dlg->findChild<QPushButton *>(QStringLiteral("cmdok")), Qt::LeftButton);
        });
        win.press(Qt::Key_Return);
        QCOMPARE(seen, QStringLiteral("frmconfig"));
        QCOMPARE(win.prompts.pendingAnswers(), 0);
        QCOMPARE(win.w->table()[0].Hostname, QStringLiteral("revived.example"));
        QCOMPARE(win.w->table()[0].Status, TargetStatus::Unknown);
        QCOMPARE(win.w->grid().rowCount(), 2);
        QCOMPARE(win.w->grid().cell(1, 0), QStringLiteral("revived.example"));
    }

    void doubleClickOnAnEmptyGridDoesNothing()
    {
        Window win;
        auto *grid = win.w->findChild<QTableView *>(QStringLiteral("gridsys"));
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        // A dialog would have blocked right here until closed; none is open afterwards either.
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY(!(qobject_cast<QDialog *>(w) && w->isVisible()));
        QCOMPARE(win.w->table()[0].Status, TargetStatus::Free);
    }

    void savesOnExitOnlyWhenAsked()
    {
        for (const bool save : {true, false}) {
            Window win;
            win.w->grid().newentry();
            win.action("optsaveonexit")->setChecked(save);
            win.w->close();
            QFile f(win.dir.filePath(QStringLiteral("Sentrel.ini")));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll().contains("localhost"), save);
        }
    }

    void layoutNeverNarrowerThanTheLimit()
    {
        Window win;
        win.w->show();
        win.w->resize(50, 50);
        QTRY_VERIFY(win.w->layoutTwips().windowWidth >= MainLayout::MinWidth);
        QVERIFY(win.w->layoutTwips().windowHeight >= MainLayout::MinHeight);
    }

    void detailsAndSplitterOnTheRealWindow()
    {
        Window win;
        win.w->show();
        QVERIFY(!win.action("optdetails")->isChecked());
        win.action("optdetails")->trigger();
        QVERIFY(win.action("optdetails")->isChecked());
        auto *details = win.w->findChild<QPlainTextEdit *>(QStringLiteral("txtdata"));
        auto *splitter = win.w->findChild<QToolButton *>(QStringLiteral("cmdsize"));
        QVERIFY(details->isVisible() && splitter->isVisible());
        const MainLayout before = win.w->layoutTwips();
        QCOMPARE(before.detailsTop, before.gridTop + before.gridHeight + 120);
        QCOMPARE(before.splitTop, before.detailsTop - 120);
        // A drop within 350 twips of the grid's top changes nothing.
        win.w->movebar(before.gridTop + 350);
        QCOMPARE(win.w->layoutTwips().gridHeight, before.gridHeight);
        const int y = before.gridTop + 600;
        win.w->movebar(y);
        QCOMPARE(win.w->layoutTwips().gridHeight, y - 120 - before.gridTop);
        QCOMPARE(win.w->layoutTwips().detailsTop, y);
        QCOMPARE(win.w->layoutTwips().detailsTop + win.w->layoutTwips().detailsHeight,
            before.detailsTop + before.detailsHeight);
        // Double click on the details box hides it again.
        QTest::mouseDClick(details->viewport(), Qt::LeftButton);
        QVERIFY(!win.action("optdetails")->isChecked());
        QVERIFY(!details->isVisible());
    }

    void smallModeTwiceRestoresTheColumns()
    {
        Window win;
        win.w->show();
        const int col2 = win.w->columnWidthTwips(2);
        const double font = win.w->gridFontSize();
        win.action("optsmall")->trigger();
        QVERIFY(win.action("optsmall")->isChecked());
        QCOMPARE(win.w->columnWidthTwips(2), halveTwips(col2));
        QCOMPARE(win.w->gridFontSize(), font / 2);
        QVERIFY(!win.action("optdetails")->isChecked());
        win.action("optsmall")->trigger();
        QVERIFY(!win.action("optsmall")->isChecked());
        QCOMPARE(win.w->columnWidthTwips(2), col2);
        QCOMPARE(win.w->gridFontSize(), font);
        QVERIFY(win.action("optdetails")->isChecked()); // normal mode always shows the details box
    }

    void startupReadsTheStoreAndRunsTheFirstCycle()
    {
        Window win(QByteArrayLiteral("[Targets]\nMaxHostNo=0\nHostname%200=localhost\nDesc%200=Box\n"
                                     "UseM%200=False\nUsePX%200=False\n[Window]\nDelay=\" 5\"\n"));
        QVERIFY(win.action("optenable")->isChecked());
        QTRY_VERIFY(!win.w->monitor().CycleRunning());
        QCOMPARE(win.w->grid().cell(1, 0), QStringLiteral("Box"));
        QCOMPARE(win.w->grid().cell(1, 2), QStringLiteral("No test method defined."));
        QVERIFY(win.w->monitor().timerRunning());
        QCOMPARE(win.w->settings().Delay, int16_t(5));
    }

    void alertWindowTexts()
    {
        const QDateTime when(QDate(1999, 12, 11), QTime(10, 15, 2));
        AlertWindow alert(QStringLiteral("Mail"), when, QLocale(QLocale::English, QLocale::UnitedKingdom));
        QCOMPARE(alert.windowTitle(), QStringLiteral("Problem Detected!"));
        QCOMPARE(alert.findChild<QLabel *>(QStringLiteral("Label1"))->text(),
            QStringLiteral("Host not responding!"));
        QCOMPARE(alert.findChild<QLabel *>(QStringLiteral("lblhostname"))->text(), QStringLiteral("Mail"));
        QCOMPARE(alert.findChild<QLabel *>(QStringLiteral("Label2"))->text(),
            QStringLiteral("The following host is not responding to enquiried from the sentrel program.  For "
                           "further information, check the Details box for this host."));
        QCOMPARE(alert.findChild<QLabel *>(QStringLiteral("lbltime"))->text(),
            QStringLiteral("Date: 11/12/1999  Time: 10:15:02"));
        QVERIFY(alert.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(alert.testAttribute(Qt::WA_ShowWithoutActivating));
    }

    void acknowledgeClosesOnlyThatAlert()
    {
        Window win(
            QByteArrayLiteral("[Targets]\nMaxHostNo=1\nHostname%200=a.invalid\nDesc%200=A\nUseP%200=True\n"
                              "UseM%200=False\nUsePX%200=False\nHostname%201=b.invalid\nDesc%201=B\n"
                              "UseP%201=True\nUseM%201=False\nUsePX%201=False\n"));
        QTRY_COMPARE(win.w->openAlerts().size(), 2);
        AlertWindow *first = win.w->openAlerts().first();
        QCOMPARE(first->findChild<QLabel *>(QStringLiteral("lblhostname"))->text(), QStringLiteral("A"));
        QTest::mouseClick(first->findChild<QPushButton *>(QStringLiteral("cmdok")), Qt::LeftButton);
        QTRY_COMPARE(win.w->openAlerts().size(), 1);
        QCOMPARE(win.w->openAlerts().first()->findChild<QLabel *>(QStringLiteral("lblhostname"))->text(),
            QStringLiteral("B"));
        QCOMPARE(win.w->grid().currentRow(), 2); // the selection ends on the second alert's row
    }
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
