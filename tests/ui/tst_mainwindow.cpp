#include "DesktopFakes.h"
#include "ui/MainWindow.h"
#include "ui/Twips.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <tuple>

using namespace sentrel;
using namespace sentrel::test;

namespace {

struct Window : ProgramRig
{
    explicit Window(
        const QByteArray &ini = QByteArrayLiteral("[Window]\nEnable=False\n"), bool splash = false)
        : ProgramRig(ini, splash)
    { }
    void press(Qt::Key key) { QTest::keyClick(gridView(), key); }
};

// Window settings with details shown and the given sizes in twips.
QByteArray detailsIni(const char *sizes)
{
    return QByteArrayLiteral("[Window]\nEnable=False\nDetails=True\n") + sizes;
}

// Runs `answer` on the modal dialog the next step opens: it runs its own event loop, so the
// answer has to come from inside it. A dialog that is not modal is never answered.
void whenDialogShows(std::function<void(QDialog *)> answer)
{
    QTimer::singleShot(0, qApp, [answer] {
        if (auto *dlg = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            answer(dlg);
    });
}

} // namespace

class TstMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void menuItemsStartTheirOperations()
    {
        Window win;
        win.action("optadd")->trigger();
        QCOMPARE(win.w->grid().rowCount(), 2);
        const QString exported = win.dir.filePath(QStringLiteral("list.exp"));
        win.prompts.queueFile(exported);
        win.prompts.queueAnswer(UserPrompts::Answer::Ok);
        win.action("optexport")->trigger();
        const auto &request = win.prompts.fileRequests.at(0);
        QCOMPARE(std::tuple(request.save, request.fileName, request.directory),
            std::tuple(true, QStringLiteral("settings.exp"), win.dir.path()));
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
        QAction *logging = win.action("optenablelogging");
        logging->setEnabled(false); // as while a logging cycle runs
        const bool wasChecked = logging->isChecked();
        win.action("optlogfile")->trigger();
        QCOMPARE(win.w->settings().Filename, log);
        QCOMPARE(win.action("optlogfile")->text(), QStringLiteral("File: other.log"));
        QCOMPARE(std::tuple(logging->isEnabled(), logging->isChecked()), std::tuple(true, wasChecked));
        win.action("optsave")->trigger();
        QVERIFY(win.stored().contains("MaxHostNo=\"-1\"") && win.stored().contains("other.log"));

        QSignalSpy finished(&win.w->monitor(), &Monitor::cycleFinished);
        win.action("optenable")->trigger(); // stored off: on, with a cycle at once
        QVERIFY(win.w->monitor().monitoringEnabled() && win.action("optenable")->isChecked());
        QTRY_COMPARE(finished.size(), 1);
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
        QImage icon;
        whenDialogShows([&](QDialog *dlg) {
            seen = dlg->objectName();
            if (auto *picIcon = dlg->findChild<QLabel *>(QStringLiteral("picIcon")))
                icon = picIcon->pixmap().toImage();
            dlg->reject();
        });
        win.action(item.toLatin1().constData())->trigger();
        // A modal dialog returns from the trigger only once it has closed.
        QCOMPARE(seen, dialog);
        // About shows the program's icon, the one its window has before a cycle changes it.
        if (dialog == QLatin1String("frmAbout")) {
            QVERIFY(!icon.isNull());
            QCOMPARE(icon, win.w->windowIcon().pixmap(icon.size()).toImage());
        }
    }

    // Small Mode while the modeless preferences are open, then OK: only a size typed into the
    // listbox font box changes the grid's font.
    void preferencesOkKeepsAFontChangedMeanwhile_data()
    {
        QTest::addColumn<QString>("typed"); // into the listbox font box; "-" for untouched
        QTest::addColumn<double>("font"); // the grid's font afterwards; 0 for the small-mode size
        QTest::newRow("untouched") << QStringLiteral("-") << 0.0;
        QTest::newRow("a size") << QStringLiteral("12") << 12.0;
    }
    void preferencesOkKeepsAFontChangedMeanwhile()
    {
        QFETCH(QString, typed);
        QFETCH(double, font);
        Window win;
        win.w->show();
        win.action("optoptions")->trigger();
        auto *prefs = win.w->findChild<QDialog *>(QStringLiteral("frmpref"));
        QVERIFY(prefs->isVisible() && !prefs->isModal() && win.w->isEnabled());
        const double details = win.child("txtdata")->font().pointSizeF();
        win.action("optsmall")->trigger();
        const double small = win.w->gridFontSize();
        if (typed != QLatin1String("-")) {
            auto *box = prefs->findChild<QLineEdit *>(QStringLiteral("txtlbfont"));
            box->selectAll();
            QTest::keyClick(box, Qt::Key_Backspace);
            QTest::keyClicks(box, typed);
        }
        auto *freq = prefs->findChild<QLineEdit *>(QStringLiteral("txtfreq"));
        freq->selectAll();
        QTest::keyClicks(freq, QStringLiteral("4"));
        QTest::mouseClick(prefs->findChild<QPushButton *>(QStringLiteral("cmdok")), Qt::LeftButton);
        QCOMPARE(win.w->settings().Delay, int16_t(4));
        QCOMPARE(win.w->gridFontSize(), font > 0 ? font : small);
        QCOMPARE(win.child("txtdata")->font().pointSizeF(), details);
    }

    // The empty list: a hint over the grid, Delete and a double click do nothing, Return revives
    // slot 0 through the edit dialog. Then Insert and Delete; a click below the rows keeps the
    // selection; clearing the list brings the hint back.
    void gridKeysAndClicks()
    {
        Window win;
        win.w->show();
        QTableView *grid = win.gridView();
        auto *hint = grid->viewport()->findChild<QLabel *>(QStringLiteral("lblempty"));
        QVERIFY(hint && hint->isVisible());
        grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
        QCOMPARE(hint->geometry(), grid->viewport()->rect());
        win.press(Qt::Key_Delete); // no data row: nothing, not even a question
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        // A dialog would have blocked right here until closed; none is open afterwards either.
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY(!(qobject_cast<QDialog *>(w) && w->isVisible()));
        QVERIFY(win.prompts.messages.isEmpty());
        QCOMPARE(win.w->table()[0].Status, TargetStatus::Free);

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
        QCOMPARE(win.w->table()[0].Status, TargetStatus::Unknown);
        QCOMPARE(win.w->grid().cell(1, 0), QStringLiteral("revived.example"));
        QVERIFY(!hint->isVisible());

        win.press(Qt::Key_Insert);
        QCOMPARE(win.w->grid().rowCount(), 3);
        QCOMPARE(win.w->grid().cell(2, 2), QStringLiteral("New entry"));
        QTest::mouseClick(
            grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(0, 0)).center());
        QCOMPARE(win.w->grid().currentRow(), 1);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(5, grid->viewport()->height() - 5));
        QCOMPARE(win.w->grid().currentRow(), 1);
        QVERIFY(grid->selectionModel()->isRowSelected(0, {}));
        win.prompts.queueAnswer(UserPrompts::Answer::Ok);
        win.press(Qt::Key_Delete);
        QCOMPARE(win.prompts.messages.last().text,
            QStringLiteral("Do you really want to delete host [revived.example]?"));
        QCOMPARE(win.w->grid().rowCount(), 2);
        QVERIFY(win.w->table()[0].isFree());
        win.prompts.queueAnswer(UserPrompts::Answer::Ok);
        win.action("optclear")->trigger();
        QVERIFY(hint->isVisible());
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
                QCOMPARE(win.stored().contains("localhost"), save);
            }
        }
    }

    void startupReadsTheStoreAndRunsTheFirstCycle()
    {
        Window win(QByteArrayLiteral("[Targets]\nMaxHostNo=0\nHostname%200=localhost\nDesc%200=Box\n"
                                     "UseM%200=False\nUsePX%200=False\n[Window]\nDelay=\" 5\"\n"),
            true);
        // The splash stays up on its own time while the window shows and the first cycle runs.
        QPointer<QWidget> splash;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->objectName() == QLatin1String("frmSplash"))
                splash = top;
        QVERIFY(splash && splash->isVisible());
        QVERIFY(win.w->isVisible() && win.w->monitor().CycleRunning());
        QTest::mouseClick(splash, Qt::LeftButton);
        QTRY_VERIFY(!splash);
        QVERIFY(win.action("optenable")->isChecked());
        QTRY_VERIFY(!win.w->monitor().CycleRunning());
        QCOMPARE(win.w->grid().cell(1, 0), QStringLiteral("Box"));
        QCOMPARE(win.w->grid().cell(1, 2), QStringLiteral("No test method defined."));
        QVERIFY(win.w->monitor().timerRunning());
        QCOMPARE(win.w->settings().Delay, int16_t(5));
    }

    // Details shown and no sizes stored: the window as designed. (Stored sizes and the stored
    // splitter: splitterDrops.) Double click hides the details, the menu shows them again.
    void detailsShownAndHiddenOnTheRealWindow()
    {
        Window win(detailsIni(""));
        win.w->show();
        const MainLayout &l = win.w->layoutTwips();
        QWidget *details = win.child("txtdata");
        QVERIFY(win.action("optdetails")->isChecked() && details->isVisible());
        const int height = MainLayout::DesignClientHeight + MainLayout::ChromeHeight;
        QCOMPARE(std::tuple(l.windowHeight, l.gridHeight, l.detailsTop, l.detailsHeight),
            std::tuple(height, 1215, 1560, height - 1215 - 1260));
        QTest::mouseDClick(qobject_cast<QPlainTextEdit *>(details)->viewport(), Qt::LeftButton);
        QVERIFY(!win.action("optdetails")->isChecked() && !details->isVisible());
        QVERIFY(!win.child("cmdsize")->isVisible());
        win.action("optdetails")->trigger();
        QVERIFY(win.action("optdetails")->isChecked() && details->isVisible()
            && win.child("cmdsize")->isVisible());
        // Ctrl+A is the menu's Add, not the focused control's select-all.
        QVERIFY(QTest::qWaitForWindowExposed(win.w.get()));
        win.w->activateWindow();
        for (QWidget *focus : {static_cast<QWidget *>(win.gridView()), details}) {
            const int rows = win.w->grid().rowCount();
            focus->setFocus();
            QTRY_VERIFY(focus->hasFocus());
            QTest::keyClick(focus, Qt::Key_A, Qt::ControlModifier);
            QCOMPARE(win.w->grid().rowCount(), rows + 1);
        }
        // Maximised, the window has no room to give: the details and small mode commands wait.
        win.w->showMaximized();
        QTRY_VERIFY(win.w->isMaximized());
        win.action("optdetails")->trigger();
        win.action("optsmall")->trigger();
        QVERIFY(win.action("optdetails")->isChecked() && details->isVisible());
        QVERIFY(!win.action("optsmall")->isChecked());
    }

    // Column widths come from the header the user drags: small mode halves and restores them,
    // saving keeps them for the next start.
    void smallModeAndSavingUseTheDraggedColumns()
    {
        Window win;
        win.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(win.w.get()));
        win.action("optdetails")->trigger();
        QHeaderView *header = win.gridView()->horizontalHeader();
        const auto widths = [&win] {
            QHeaderView *h = win.gridView()->horizontalHeader();
            return std::tuple(h->sectionSize(0), h->sectionSize(1), h->sectionSize(2));
        };
        // Drag the border right of "Host" 37 pixels to the right.
        const int border = header->sectionViewportPosition(0) + header->sectionSize(0) - 1;
        const int y = header->height() / 2;
        const int host = header->sectionSize(0);
        QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(border, y));
        QTest::mouseMove(header->viewport(), QPoint(border + 37, y));
        QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(border + 37, y));
        QCOMPARE(header->sectionSize(0), host + 37);
        header->resizeSection(2, 301);
        const auto dragged = widths();

        const double font = win.w->gridFontSize();
        win.action("optsmall")->trigger();
        QVERIFY(win.action("optsmall")->isChecked() && !win.action("optdetails")->isChecked());
        QCOMPARE(win.w->gridFontSize(), font / 2);
        QVERIFY(std::abs(header->sectionSize(0) * 2 - (host + 37)) <= 1);
        QVERIFY(std::abs(header->sectionSize(2) * 2 - 301) <= 1);
        win.action("optsmall")->trigger();
        QVERIFY(!win.action("optsmall")->isChecked());
        QCOMPARE(widths(), dragged);
        QCOMPARE(win.w->gridFontSize(), font);
        // Normal mode always shows the details box.
        QVERIFY(win.action("optdetails")->isChecked() && win.child("txtdata")->isVisible());

        win.action("optsave")->trigger();
        win.start();
        QCOMPARE(widths(), dragged);
    }

    void splitterDrops_data()
    {
        QTest::addColumn<QString>("on");
        QTest::addColumn<bool>("moves");
        QTest::newRow("grid") << QStringLiteral("gridsys") << true;
        QTest::newRow("label") << QStringLiteral("lblcount") << false;
        QTest::newRow("the splitter itself") << QStringLiteral("cmdsize") << false;
        QTest::newRow("outside the window") << QStringLiteral("outside") << false;
    }
    // Grid from 240, details box from 2500 to the window's foot, 900 twips above its outer
    // height: 4000, or 4005 where the height rounds to whole pixels. The details box goes to the
    // stored splitter, whatever its own stored top. A drop moves the splitter and the controls.
    void splitterDrops()
    {
        QFETCH(QString, on);
        QFETCH(bool, moves);
        Window win(detailsIni("Height=4900\nGHeight=1000\nDTop=1200\nDHeight=1000\nSplit=2380\n"));
        win.w->show();
        QWidget *client = win.w->centralWidget();
        const MainLayout b = win.w->layoutTwips();
        QCOMPARE(
            std::tuple(b.detailsTop, b.splitTop, b.gridHeight), std::tuple(2500, 2380, 2500 - 120 - 240));
        QCOMPARE(b.detailsTop + b.detailsHeight, b.windowHeight - 900);
        QVERIFY(std::abs(b.detailsTop + b.detailsHeight - 4000) <= 15);
        QPoint at;
        if (on == QLatin1String("outside"))
            at = QPoint(client->width() + 40, client->height() / 2);
        else
            at = win.w->findChild<QWidget *>(on)->geometry().center();
        win.w->dropSplitterAt(at);
        const MainLayout &l = win.w->layoutTwips();
        QCOMPARE(l.splitTop != b.splitTop, moves);
        QCOMPARE(l.detailsTop + l.detailsHeight, b.detailsTop + b.detailsHeight);
        QCOMPARE(std::tuple(l.detailsTop, l.gridHeight),
            moves ? std::tuple(l.splitTop + 120, l.splitTop - l.gridTop)
                  : std::tuple(b.detailsTop, b.gridHeight));
        const double dpi = win.w->logicalDpiY();
        QCOMPARE(std::tuple(win.child("txtdata")->y(), win.child("cmdsize")->y(),
                     win.child("gridsys")->geometry().bottom() + 1),
            std::tuple(twipsToPixels(l.detailsTop, dpi), twipsToPixels(l.splitTop, dpi),
                twipsToPixels(l.gridTop + l.gridHeight, dpi)));
    }
};

SENTREL_TEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
