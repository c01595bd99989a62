#include "ui/MainLayout.h"
#include "ui/Twips.h"

#include <QTest>

#include <tuple>

using namespace sentrel;

namespace {

using State = MainLayout::State;

// Details shown: grid from 240 to 1880, splitter at 1880, details box from 2000 to 4000.
MainLayout withDetails(int gridHeight = 1640)
{
    MainLayout l;
    l.windowHeight = 5000;
    l.gridHeight = gridHeight;
    l.optdetails = l.detailsVisible = l.splitterVisible = true;
    l.splitTop = 240 + gridHeight;
    l.detailsTop = l.splitTop + 120;
    l.detailsHeight = 4000 - l.detailsTop;
    return l;
}

} // namespace

class TstMainLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void resizeRule_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("details");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("newWidth");
        QTest::addColumn<int>("newHeight");
        QTest::addColumn<int>("gridWidth");
        QTest::addColumn<int>("gridHeight");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("detailsHeight");
        const int w = MainLayout().windowWidth;
        QTest::newRow("grid fills the window") << State::Normal << false << 8000 << 3000 << 8000 << 3000
                                               << 8000 - 330 << 3000 - 1155 << false << 0;
        QTest::newRow("never narrower or lower than the limits")
            << State::Normal << false << 1000 << 900 << 4665 << 1800 << 4665 - 330 << 1800 - 1155 << false
            << 0;
        QTest::newRow("maximised keeps its height")
            << State::Maximised << false << w << 12000 << w << 12000 << w - 330 << 12000 - 1155 << false << 0;
        QTest::newRow("minimised changes nothing")
            << State::Minimised << false << 100 << 100 << 100 << 100 << 5535 << 1215 << false << 0;
        QTest::newRow("details take the rest") << State::Normal << true << w << 6000 << w << 6000 << w - 330
                                               << 1640 << true << 6000 - 1640 - 1260;
        QTest::newRow("grid + 1455 still fits the details") << State::Normal << true << w << 1640 + 1455 << w
                                                            << 1640 + 1455 << w - 330 << 1640 << true << 195;
        QTest::newRow("grid + 1454 hides the details")
            << State::Normal << true << w << 1640 + 1454 << w << 1640 + 1454 << w - 330 << 1640 + 1454 - 1155
            << false << 0;
    }
    void resizeRule()
    {
        QFETCH(State, state);
        QFETCH(bool, details);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, newWidth);
        QFETCH(int, newHeight);
        QFETCH(int, gridWidth);
        QFETCH(int, gridHeight);
        QFETCH(bool, shown);
        QFETCH(int, detailsHeight);
        MainLayout l = details ? withDetails() : MainLayout();
        l.state = state;
        l.windowWidth = width;
        l.windowHeight = height;
        applyResizeRule(l);
        QCOMPARE(std::tuple(l.windowWidth, l.windowHeight, l.gridWidth, l.detailsWidth, l.gridHeight),
            std::tuple(newWidth, newHeight, gridWidth, gridWidth, gridHeight));
        QCOMPARE(
            std::tuple(l.optdetails, l.detailsVisible, l.splitterVisible), std::tuple(shown, shown, shown));
        if (shown)
            QCOMPARE(std::tuple(l.detailsTop, l.detailsHeight), std::tuple(2000, detailsHeight));
    }

    void movebar_data()
    {
        QTest::addColumn<int>("y");
        QTest::addColumn<bool>("accepted");
        // grid top 240, details box ends at 4000
        QTest::newRow("at grid top + 350") << 590 << false;
        QTest::newRow("just past it") << 591 << true;
        QTest::newRow("at bottom - 350") << 3650 << false;
        QTest::newRow("just before it") << 3649 << true;
    }
    void movebar()
    {
        QFETCH(int, y);
        QFETCH(bool, accepted);
        MainLayout l = withDetails(2640);
        const MainLayout b = l;
        QCOMPARE(sentrel::movebar(l, y), accepted);
        QCOMPARE(std::tuple(l.gridHeight, l.detailsTop, l.detailsTop + l.detailsHeight, l.splitTop),
            accepted ? std::tuple(y - 120 - 240, y, 4000, y - 120)
                     : std::tuple(b.gridHeight, b.detailsTop, 4000, b.splitTop));
    }

    void showingAndHidingDetails()
    {
        MainLayout l;
        l.windowHeight = 3000;
        applyResizeRule(l);
        QVERIFY(toggle_details(l));
        QVERIFY(l.optdetails && l.detailsVisible && l.splitterVisible);
        QCOMPARE(std::tuple(l.detailsTop, l.windowHeight, l.detailsHeight, l.splitTop),
            std::tuple(2205, 2205 + 1575 + 945, 2205 + 1575 + 945 - 1845 - 1260, 2085));
        QVERIFY(toggle_details(l));
        QVERIFY(!l.optdetails && !l.detailsVisible && !l.splitterVisible);
        QCOMPARE(l.gridHeight, 1845 + 80);
        // A maximised window ignores the command.
        l.state = State::Maximised;
        const MainLayout before = l;
        QVERIFY(!toggle_details(l));
        QCOMPARE(
            std::tuple(l.optdetails, l.windowHeight), std::tuple(before.optdetails, before.windowHeight));
    }

    void smallModeOnAndOff()
    {
        MainLayout l = withDetails(3000);
        l.windowWidth = 6000;
        l.windowHeight = 8000;
        l.detailsHeight = 8000 - 3000 - 1260;
        enterSmallMode(l);
        QVERIFY(!l.optdetails && !l.detailsVisible && !l.splitterVisible);
        // Hiding sets 3000 + 1235 = 4235, halved to 2118 (ties to even); the width 3000 is pulled up.
        QCOMPARE(std::tuple(l.windowWidth, l.windowHeight, l.gridHeight),
            std::tuple(MainLayout::MinWidth, 2118, 2118 - 1155));
        leaveSmallMode(l);
        QVERIFY(l.optdetails && l.detailsVisible && l.splitterVisible);
        // The doubled window first gives the grid 4236 - 1155; the details box goes below it.
        const int top = 240 + 3081 + 120;
        QCOMPARE(std::tuple(
                     l.windowWidth, l.gridHeight, l.detailsTop, l.windowHeight, l.splitTop, l.detailsHeight),
            std::tuple(2 * MainLayout::MinWidth, 3081, top, top + 1575 + 945, top - 120,
                top + 1575 + 945 - 3081 - 1260));

        // Small mode stops at the lowest window.
        MainLayout low;
        low.windowHeight = 3000;
        applyResizeRule(low);
        enterSmallMode(low);
        QCOMPARE(std::tuple(low.windowHeight, low.gridHeight),
            std::tuple(MainLayout::MinHeight, MainLayout::MinHeight - 1155));
    }

    // Halving ties to even; twips to pixels and back, exact where the pixels convert back alike.
    void halvingAndConversions()
    {
        QCOMPARE(
            std::tuple(halveTwips(7500), halveTwips(1001), halveTwips(1003)), std::tuple(3750, 500, 502));
        const std::tuple<int, double, int, bool> cases[] = {
            {15, 96.0, 1, true}, {22, 96.0, 1, false}, {7545, 144.0, 755, false}, {-120, 96.0, -8, true}};
        for (const auto &[twips, dpi, pixels, exact] : cases) {
            QCOMPARE(twipsToPixels(twips, dpi), pixels);
            QCOMPARE(pixelsToTwips(pixels, dpi) == twips, exact);
        }
    }

    void rectanglesAndCentring()
    {
        // At 120 dpi 855 twips is 71.25 pixels: converting edges keeps neighbours flush.
        const QRect a = twipsRect(120, 360, 855, 255, 120, 120);
        QCOMPARE(a.right() + 1, twipsRect(975, 360, 855, 255, 120, 120).left());
        QCOMPARE(twipsRect(120, 240, 5535, 1215, 96, 96), QRect(8, 16, 369, 81));
        QCOMPARE(twipsSize(3345, 5265, 96, 96), QSize(223, 351));

        QCOMPARE(centredTopLeft(QRect(0, 0, 1280, 1024), QSize(230, 351)), QPoint(525, 336));
        QCOMPARE(centredTopLeft(QRect(1280, 0, 1920, 1080), QSize(1920, 1080)), QPoint(1280, 0));
        // A window larger than the screen sticks out evenly on both sides.
        QCOMPARE(centredTopLeft(QRect(0, 0, 800, 600), QSize(1000, 600)), QPoint(-100, 0));
    }
};

SENTREL_TEST_GUILESS_MAIN(TstMainLayout)
#include "tst_mainlayout.moc"
