#include "ui/MainLayout.h"

#include <QTest>

using namespace sentrel;

namespace {

MainLayout withDetails()
{
    MainLayout l;
    l.windowHeight = 5000;
    l.gridHeight = 1640;
    l.optdetails = true;
    l.detailsVisible = l.splitterVisible = true;
    l.detailsTop = 2000;
    l.detailsHeight = 2000;
    l.splitTop = 1880;
    return l;
}

} // namespace

class TstMainLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void withoutDetailsTheGridFillsTheWindow()
    {
        MainLayout l;
        l.windowHeight = 3000;
        l.windowWidth = 8000;
        applyResizeRule(l);
        QCOMPARE(l.gridHeight, 3000 - 1155);
        QCOMPARE(l.windowHeight, 3000);
        QCOMPARE(l.detailsWidth, 8000 - 330);
        QCOMPARE(l.gridWidth, l.detailsWidth);
    }

    void neverNarrowerOrLowerThanTheLimits()
    {
        MainLayout l;
        l.windowHeight = 900;
        l.windowWidth = 1000;
        applyResizeRule(l);
        QCOMPARE(l.windowHeight, 1800);
        QCOMPARE(l.gridHeight, 1800 - 1155);
        QCOMPARE(l.windowWidth, 4665);
        QCOMPARE(l.gridWidth, 4665 - 330);
    }

    void maximisedKeepsItsHeightButFitsTheGrid()
    {
        MainLayout l;
        l.state = MainLayout::State::Maximised;
        l.windowHeight = 12000;
        applyResizeRule(l);
        QCOMPARE(l.gridHeight, 12000 - 1155);
        QCOMPARE(l.windowHeight, 12000);
    }

    void minimisedChangesNothing()
    {
        MainLayout l;
        l.state = MainLayout::State::Minimised;
        l.windowHeight = 100;
        l.windowWidth = 100;
        applyResizeRule(l);
        QCOMPARE(l.windowHeight, 100);
        QCOMPARE(l.windowWidth, 100);
        QCOMPARE(l.gridHeight, MainLayout().gridHeight);
    }

    void detailsTakeTheRest()
    {
        MainLayout l = withDetails();
        l.windowHeight = 6000;
        applyResizeRule(l);
        QVERIFY(l.optdetails && l.detailsVisible);
        QCOMPARE(l.gridHeight, 1640);
        QCOMPARE(l.detailsHeight, 6000 - 1640 - 1260);
        QCOMPARE(l.detailsTop, 2000);
    }

    void tooLowForDetailsHidesThem()
    {
        MainLayout l = withDetails();
        l.windowHeight = 1640 + 1454;
        applyResizeRule(l);
        QVERIFY(!l.optdetails);
        QVERIFY(!l.detailsVisible && !l.splitterVisible);
        QCOMPARE(l.gridHeight, l.windowHeight - 1155);

        MainLayout fits = withDetails();
        fits.windowHeight = 1640 + 1455;
        applyResizeRule(fits);
        QVERIFY(fits.optdetails);
        QCOMPARE(fits.detailsHeight, 195);
    }

    void movebarWorkedExample()
    {
        MainLayout l = withDetails();
        l.detailsTop = 3000;
        l.detailsHeight = 1000; // the box ends at 4000
        QVERIFY(movebar(l, 2000));
        QCOMPARE(l.gridHeight, 1640);
        QCOMPARE(l.detailsTop, 2000);
        QCOMPARE(l.detailsTop + l.detailsHeight, 4000);
        QCOMPARE(l.splitTop, 1880);
    }

    void movebarRefusesNearTheEnds_data()
    {
        QTest::addColumn<int>("y");
        QTest::addColumn<bool>("accepted");
        // grid top 240, details box ends at 4000
        QTest::newRow("at grid top + 350") << 590 << false;
        QTest::newRow("just past it") << 591 << true;
        QTest::newRow("at bottom - 350") << 3650 << false;
        QTest::newRow("just before it") << 3649 << true;
        QTest::newRow("above the grid") << 0 << false;
    }
    void movebarRefusesNearTheEnds()
    {
        QFETCH(int, y);
        QFETCH(bool, accepted);
        MainLayout l = withDetails();
        const MainLayout before = l;
        QCOMPARE(movebar(l, y), accepted);
        if (!accepted) {
            QCOMPARE(l.gridHeight, before.gridHeight);
            QCOMPARE(l.detailsTop, before.detailsTop);
            QCOMPARE(l.detailsHeight, before.detailsHeight);
            QCOMPARE(l.splitTop, before.splitTop);
        }
    }

    void showingAndHidingDetails()
    {
        MainLayout l;
        l.windowHeight = 3000;
        applyResizeRule(l);
        QVERIFY(toggle_details(l));
        QVERIFY(l.optdetails && l.detailsVisible && l.splitterVisible);
        QCOMPARE(l.detailsTop, 240 + 1845 + 120);
        QCOMPARE(l.windowHeight, l.detailsTop + 1575 + 945);
        QCOMPARE(l.detailsHeight, l.windowHeight - l.gridHeight - 1260);
        QCOMPARE(l.splitTop, l.detailsTop - 120);
        QVERIFY(toggle_details(l));
        QVERIFY(!l.optdetails && !l.detailsVisible && !l.splitterVisible);
        QCOMPARE(l.gridHeight, 1845 + 80);
    }

    void maximisedWindowIgnoresTheDetailsCommand()
    {
        MainLayout l;
        l.state = MainLayout::State::Maximised;
        const MainLayout before = l;
        QVERIFY(!toggle_details(l));
        QCOMPARE(l.optdetails, before.optdetails);
        QCOMPARE(l.windowHeight, before.windowHeight);
    }

    void smallModeOnAndOff()
    {
        MainLayout l;
        l.windowWidth = 6000;
        l.windowHeight = 8000;
        l.gridHeight = 3000;
        l.optdetails = l.detailsVisible = l.splitterVisible = true;
        l.detailsTop = 3360;
        l.detailsHeight = 8000 - 3000 - 1260;
        l.splitTop = 3240;

        enterSmallMode(l);
        QVERIFY(!l.optdetails && !l.detailsVisible && !l.splitterVisible);
        // Hiding sets 3000 + 1235 = 4235, halved to 2118 (ties to even); the width 3000 is pulled up.
        QCOMPARE(l.windowWidth, MainLayout::MinWidth);
        QCOMPARE(l.windowHeight, 2118);
        QCOMPARE(l.gridHeight, 2118 - 1155);

        leaveSmallMode(l);
        QCOMPARE(l.windowWidth, 2 * MainLayout::MinWidth);
        // The doubled window first gives the grid 4236 - 1155; the details box goes below it.
        QCOMPARE(l.gridHeight, 3081);
        QVERIFY(l.optdetails && l.detailsVisible && l.splitterVisible);
        QCOMPARE(l.detailsTop, 240 + 3081 + 120);
        QCOMPARE(l.windowHeight, l.detailsTop + 1575 + 945);
        QCOMPARE(l.splitTop, l.detailsTop - 120);
        QCOMPARE(l.detailsHeight, l.windowHeight - 3081 - 1260);
    }

    void smallModeStopsAtTheLowestWindow()
    {
        MainLayout l;
        l.windowHeight = 3000;
        applyResizeRule(l);
        enterSmallMode(l);
        QCOMPARE(l.windowHeight, MainLayout::MinHeight);
        QCOMPARE(l.gridHeight, MainLayout::MinHeight - 1155);
    }

    void halving_data()
    {
        QTest::addColumn<int>("in");
        QTest::addColumn<int>("out");
        QTest::newRow("even") << 7500 << 3750;
        QTest::newRow("odd down to even") << 1001 << 500;
        QTest::newRow("odd up to even") << 1003 << 502;
        QTest::newRow("zero") << 0 << 0;
    }
    void halving()
    {
        QFETCH(int, in);
        QFETCH(int, out);
        QCOMPARE(halveTwips(in), out);
    }
};

QTEST_GUILESS_MAIN(TstMainLayout)
#include "tst_mainlayout.moc"
