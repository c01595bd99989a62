#include "CycleRig.h"
#include "ScriptedPrompts.h"
#include "ui/AlertWindow.h"
#include "ui/MainWindow.h"
#include "ui/Twips.h"

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

    void menuItemsStartTheirOperations()
    {
        Window win;
        win.action("optadd")->trigger();
        QCOMPARE(win.w->grid().rowCount(), 2);

        const QString exported = win.dir.filePath(QStringLiteral("list.exp"));
        win.prompts.queueFile(exported);
        win.prompts.queueAnswer(UserPrompts::Answer::Ok);
        win.action("optexport")->trigger();
        QCOMPARE(win.prompts.fileRequests.size(), 1);
        QVERIFY(win.prompts.fileRequests[0].save);
        QCOMPARE(win.prompts.fileRequests[0].fileName, QStringLiteral("settings.exp"));
        QCOMPARE(win.prompts.fileRequests[0].directory, win.dir.path());
        QCOMPARE(win.prompts.messages.last().text, QStringLiteral("Data exported to file ") + exported);

        win.prompts.queueAnswer(UserPrompts::Answer::Ok);
        win.action("optclear")->trigger();
        QCOMPARE(win.w->grid().rowCount(), 1);

        win.prompts.queueFile(exported);
        win.action("optimport")->trigger();
        QVERIFY(!win.prompts.fileRequests.last().save);
        QCOMPARE(win.w->grid().rowCount(), 2);

        win.w->table()[0].Desc = QStringLiteral("Renamed");
        win.action("optrefresh")->trigger();
        QCOMPARE(win.w->grid().cell(1, 0), QStringLiteral("Renamed"));

        win.w->grid().setCurrentRow(1);
        win.prompts.queueAnswer(UserPrompts::Answer::Ok);
        win.action("optdelete")->trigger();
        QCOMPARE(win.w->grid().rowCount(), 1);

        const QString log = win.dir.filePath(QStringLiteral("other.log"));
        win.prompts.queueFile(log);
        win.action("optenablelogging")->setEnabled(false); // as while a logging cycle runs
        const bool logging = win.action("optenablelogging")->isChecked();
        win.action("optlogfile")->trigger();
        QCOMPARE(win.w->settings().Filename, log);
        QCOMPARE(win.action("optlogfile")->text(), QStringLiteral("File: other.log"));
        QVERIFY(win.action("optenablelogging")->isEnabled());
        QCOMPARE(win.action("optenablelogging")->isChecked(), logging);

        win.action("optsave")->trigger();
        QFile ini(win.dir.filePath(QStringLiteral("Sentrel.ini")));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray stored = ini.readAll();
        QVERIFY(stored.contains("MaxHostNo=\"-1\""));
        QVERIFY(stored.contains("other.log"));

        QSignalSpy finished(&win.w->monitor(), &Monitor::cycleFinished);
        win.action("optupdate")->trigger();
        QTRY_COMPARE(finished.size(), 1);
        win.action("optenable")->trigger(); // stored off: on, with a cycle at once
        QVERIFY(win.w->monitor().monitoringEnabled() && win.action("optenable")->isChecked());
        QTRY_COMPARE(finished.size(), 2);
        QVERIFY(win.w->monitor().timerRunning());
        win.action("optenable")->trigger();
        QVERIFY(!win.w->monitor().monitoringEnabled() && !win.w->monitor().timerRunning());
        QCOMPARE(win.prompts.unscriptedMessages + win.prompts.unscriptedFiles, 0);
    }

    void modalDialogsFromTheMenus_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("dialog");
        QTest::newRow("About") << QStringLiteral("optabout") << QStringLiteral("frmAbout");
        QTest::newRow("logging options") << QStringLiteral("optlogopts") << QStringLiteral("frmlogopts");
        QTest::newRow("edit") << QStringLiteral("optedit") << QStringLiteral("frmconfig");
    }
    void modalDialogsFromTheMenus()
    {
        QFETCH(QString, item);
        QFETCH(QString, dialog);
        Window win;
        win.w->show();
        QString seen;
        bool modal = false;
        whenDialogShows([&](QDialog *dlg) {
            seen = dlg->objectName();
            modal = dlg->isModal();
            dlg->reject();
        });
        win.action(item.toLatin1().constData())->trigger();
        // A modal dialog returns from the trigger only once it has closed.
        QCOMPARE(seen, dialog);
        QVERIFY(modal);
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
        for (const bool viaExit : {true, false}) {
            for (const bool save : {true, false}) {
                Window win;
                win.w->show();
                win.w->grid().newentry();
                win.action("optsaveonexit")->setChecked(save);
                if (viaExit)
                    win.action("optexit")->trigger();
                else
                    win.w->close();
                QVERIFY(!win.w->isVisible());
                QFile f(win.dir.filePath(QStringLiteral("Sentrel.ini")));
                QVERIFY(f.open(QIODevice::ReadOnly));
                QCOMPARE(f.readAll().contains("localhost"), save);
            }
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

    void smallModeOffGivesTheGridTheDoubledHeight()
    {
        Window win;
        win.w->show();
        win.action("optdetails")->trigger();
        const int gridBefore = win.w->layoutTwips().gridHeight;
        win.action("optsmall")->trigger();
        QVERIFY(win.w->layoutTwips().gridHeight < gridBefore);
        win.action("optsmall")->trigger();
        const MainLayout &l = win.w->layoutTwips();
        // Hiding the details box adds 80 twips to the grid; halving and doubling round to pixels.
        QVERIFY2(std::abs(l.gridHeight - (gridBefore + 80)) <= 30, qPrintable(QString::number(l.gridHeight)));
        QCOMPARE(l.detailsTop, l.gridTop + l.gridHeight + 120);
        QVERIFY(win.w->findChild<QPlainTextEdit *>(QStringLiteral("txtdata"))->isVisible());
    }

    void storedDetailsWithoutSizesUseTheDesignLayout()
    {
        // The missing sizes default to the window as designed: grid 1215 high, details box at 1560.
        Window win(QByteArrayLiteral("[Window]\nEnable=False\nDetails=True\n"));
        win.w->show();
        const MainLayout &l = win.w->layoutTwips();
        QVERIFY(win.action("optdetails")->isChecked());
        QCOMPARE(l.gridHeight, 1215);
        QCOMPARE(l.detailsTop, 1560);
        QCOMPARE(l.windowHeight, MainLayout::DesignClientHeight + MainLayout::ChromeHeight);
        QCOMPARE(l.detailsHeight, l.windowHeight - 1215 - 1260);
        QVERIFY(win.w->findChild<QPlainTextEdit *>(QStringLiteral("txtdata"))->isVisible());
    }

    void splitterWorkedExampleOnTheWindow()
    {
        // Grid from 240, details box from 2500 to the window's foot, 900 twips above its
        // outer height: 4000, or 4005 where the height rounds to whole pixels.
        Window win(QByteArrayLiteral("[Window]\nEnable=False\nDetails=True\nHeight=4900\nGHeight=1000\n"
                                     "DTop=1200\nDHeight=1000\nSplit=2380\n"));
        win.w->show();
        QCOMPARE(win.w->layoutTwips().detailsTop, 2500);
        const int bottom = win.w->layoutTwips().detailsTop + win.w->layoutTwips().detailsHeight;
        QCOMPARE(bottom, win.w->layoutTwips().windowHeight - 900);
        QVERIFY(std::abs(bottom - 4000) <= 15);
        win.w->movebar(2000);
        const MainLayout &l = win.w->layoutTwips();
        QCOMPARE(l.gridHeight, 1640);
        QCOMPARE(l.detailsTop, 2000);
        QCOMPARE(l.detailsTop + l.detailsHeight, bottom);
        QCOMPARE(l.splitTop, 1880);
        const double dpi = win.w->logicalDpiY();
        QCOMPARE(win.w->findChild<QWidget *>(QStringLiteral("txtdata"))->y(), twipsToPixels(2000, dpi));
        QCOMPARE(win.w->findChild<QWidget *>(QStringLiteral("cmdsize"))->y(), twipsToPixels(1880, dpi));
        QCOMPARE(win.w->findChild<QWidget *>(QStringLiteral("gridsys"))->geometry().bottom() + 1,
            twipsToPixels(240 + 1640, dpi));
    }

    void splitterDrops_data()
    {
        QTest::addColumn<QString>("on");
        QTest::addColumn<bool>("moves");
        QTest::newRow("grid") << QStringLiteral("gridsys") << true;
        QTest::newRow("details box") << QStringLiteral("txtdata") << true;
        QTest::newRow("window") << QStringLiteral("window") << true;
        QTest::newRow("label") << QStringLiteral("lblcount") << false;
        QTest::newRow("the splitter itself") << QStringLiteral("cmdsize") << false;
        QTest::newRow("outside the window") << QStringLiteral("outside") << false;
    }
    void splitterDrops()
    {
        QFETCH(QString, on);
        QFETCH(bool, moves);
        Window win(QByteArrayLiteral("[Window]\nEnable=False\nDetails=True\nHeight=6000\nGHeight=1640\n"
                                     "DTop=2000\nDHeight=3100\nSplit=1880\n"));
        win.w->show();
        QWidget *client = win.w->centralWidget();
        const MainLayout before = win.w->layoutTwips();
        QCOMPARE(before.splitTop, 1880);
        QPoint at;
        if (on == QLatin1String("window")) {
            // Right of the details box, at the height of its middle.
            auto *details = win.w->findChild<QWidget *>(QStringLiteral("txtdata"));
            at = QPoint(details->geometry().right() + 3, details->geometry().center().y());
        } else if (on == QLatin1String("outside")) {
            at = QPoint(client->width() + 40, client->height() / 2);
        } else {
            at = win.w->findChild<QWidget *>(on)->geometry().center();
        }
        win.w->dropSplitterAt(at);
        const MainLayout &after = win.w->layoutTwips();
        QCOMPARE(after.splitTop != before.splitTop, moves);
        if (moves) {
            QCOMPARE(after.detailsTop, after.splitTop + 120);
            QCOMPARE(after.gridHeight, after.detailsTop - 120 - after.gridTop);
            QCOMPARE(after.detailsTop + after.detailsHeight, before.detailsTop + before.detailsHeight);
        } else {
            QCOMPARE(after.gridHeight, before.gridHeight);
            QCOMPARE(after.detailsTop, before.detailsTop);
        }
    }

    void clickBelowTheRowsKeepsTheSelection()
    {
        Window win;
        win.w->show();
        win.press(Qt::Key_Insert);
        win.press(Qt::Key_Insert);
        auto *grid = win.w->findChild<QTableView *>(QStringLiteral("gridsys"));
        QTest::mouseClick(
            grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(0, 0)).center());
        QCOMPARE(win.w->grid().currentRow(), 1);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(5, grid->viewport()->height() - 5));
        QCOMPARE(win.w->grid().currentRow(), 1);
        QVERIFY(grid->selectionModel()->isRowSelected(0, {}));
    }

    void menuShortcutsWinOverTheControls_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::newRow("grid") << QStringLiteral("gridsys");
        QTest::newRow("details box") << QStringLiteral("txtdata");
    }
    void menuShortcutsWinOverTheControls()
    {
        QFETCH(QString, focus);
        Window win;
        win.w->show();
        win.action("optdetails")->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(win.w.get()));
        win.w->activateWindow();
        auto *target = win.w->findChild<QWidget *>(focus);
        target->setFocus();
        QTRY_VERIFY(target->hasFocus());
        QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(win.w->grid().rowCount(), 2); // "&Add", not select-all
    }

    void startupWithMonitoringOffShowsTheInterval()
    {
        Window win(QByteArrayLiteral("[Window]\nEnable=False\nDelay=\" 5\"\n"));
        QCOMPARE(win.w->findChild<QLabel *>(QStringLiteral("lblcount"))->text(), QStringLiteral("Mins:  5"));
        QVERIFY(!win.w->monitor().CycleRunning());
        QVERIFY(!win.w->monitor().timerRunning());
        QVERIFY(!win.action("optenable")->isChecked());
    }

    void preferencesKeepOneModelessInstance()
    {
        Window win;
        win.w->show();
        win.action("optoptions")->trigger();
        win.action("optoptions")->trigger();
        const auto dialogs = win.w->findChildren<QDialog *>(QStringLiteral("frmpref"));
        QCOMPARE(dialogs.size(), 1);
        QVERIFY(dialogs.first()->isVisible() && !dialogs.first()->isModal());
        QVERIFY(win.w->isEnabled());
    }

    void startupPutsTheDetailsBoxAtTheStoredSplitter()
    {
        Window win(QByteArrayLiteral("[Window]\nEnable=False\nDetails=True\nHeight=6000\nGHeight=1000\n"
                                     "DTop=2500\nDHeight=2000\nSplit=1880\n"));
        const MainLayout &l = win.w->layoutTwips();
        QCOMPARE(l.splitTop, 1880);
        QCOMPARE(l.detailsTop, 2000);
        QCOMPARE(l.gridHeight, 2000 - 120 - 240);
        // Showing the window runs the resize rule once more, which fits the box to the window.
        QCOMPARE(l.detailsHeight, 6000 - 1640 - 1260);
    }

    void tooLowForTheDetailsBoxHidesIt()
    {
        Window win;
        win.w->show();
        win.action("optdetails")->trigger();
        QVERIFY(win.action("optdetails")->isChecked());
        const int grid = win.w->layoutTwips().gridHeight;
        // Outer height grid + 1440 is below grid + 1455.
        const int clientTwips = grid + 1440 - MainLayout::ChromeHeight;
        const QSize client =
            twipsSize(MainLayout::DesignClientWidth, clientTwips, win.w->logicalDpiX(), win.w->logicalDpiY());
        win.w->resize(win.w->width(), client.height() + win.w->menuBar()->sizeHint().height());
        QTRY_VERIFY(!win.action("optdetails")->isChecked());
        QVERIFY(!win.w->findChild<QPlainTextEdit *>(QStringLiteral("txtdata"))->isVisible());
        QVERIFY(!win.w->findChild<QToolButton *>(QStringLiteral("cmdsize"))->isVisible());
        const MainLayout &l = win.w->layoutTwips();
        QCOMPARE(l.gridHeight, l.windowHeight - 1155);
    }

    void detailsCommandIgnoredWhileMaximised()
    {
        Window win;
        win.w->showMaximized();
        QTRY_VERIFY(win.w->isMaximized());
        win.action("optdetails")->trigger();
        QVERIFY(!win.action("optdetails")->isChecked());
        QVERIFY(!win.w->findChild<QPlainTextEdit *>(QStringLiteral("txtdata"))->isVisible());
        win.action("optsmall")->trigger();
        QVERIFY(!win.action("optsmall")->isChecked());
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
        QVERIFY(alert.windowFlags().testFlag(Qt::CustomizeWindowHint));
        QVERIFY(!alert.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    }

    void acknowledgeClosesOnlyThatAlert()
    {
        // Loopback addresses where nothing listens refuse the port check: both go DOWN.
        Window win(QStringLiteral("[Targets]\nMaxHostNo=1\nHostname%200=%1\nDesc%200=A\nPort%200=25\n"
                                  "UseM%200=True\nUsePX%200=False\nHostname%201=%2\nDesc%201=B\nPort%201=25\n"
                                  "UseM%201=True\nUsePX%201=False\n")
                       .arg(refusingHost(), refusingHost())
                       .toLatin1());
        QTRY_COMPARE(win.w->openAlerts().size(), 2);
        QTRY_VERIFY(!win.w->monitor().CycleRunning());
        const auto image = [](const QIcon &icon) { return icon.pixmap(16, 16).toImage(); };
        QCOMPARE(image(win.w->windowIcon()), image(QIcon(QStringLiteral(":/icons/exclamation.svg"))));
        AlertWindow *first = win.w->openAlerts().first();
        QCOMPARE(first->findChild<QLabel *>(QStringLiteral("lblhostname"))->text(), QStringLiteral("A"));
        QTest::mouseClick(first->findChild<QPushButton *>(QStringLiteral("cmdok")), Qt::LeftButton);
        QTRY_COMPARE(win.w->openAlerts().size(), 1);
        QCOMPARE(win.w->openAlerts().first()->findChild<QLabel *>(QStringLiteral("lblhostname"))->text(),
            QStringLiteral("B"));
        QCOMPARE(win.w->grid().currentRow(), 2); // the selection ends on the second alert's row
        win.w->close();
        QTRY_COMPARE(win.w->openAlerts().size(), 0);
    }
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
