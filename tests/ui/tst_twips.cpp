#include "ui/Twips.h"

#include <QTest>

using namespace sentrel;

class TstTwips : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void conversions_data()
    {
        QTest::addColumn<int>("twips");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<int>("pixels");
        QTest::newRow("15 per pixel at 96") << 15 << 96.0 << 1;
        QTest::newRow("one inch at 96") << 1440 << 96.0 << 96;
        QTest::newRow("narrow window at 96") << 3465 << 96.0 << 231;
        QTest::newRow("rounds to nearest") << 22 << 96.0 << 1;
        QTest::newRow("one inch at 120") << 1440 << 120.0 << 120;
        QTest::newRow("wide window at 144") << 7545 << 144.0 << 755;
        QTest::newRow("zero") << 0 << 96.0 << 0;
        QTest::newRow("negative") << -120 << 96.0 << -8;
    }
    void conversions()
    {
        QFETCH(int, twips);
        QFETCH(double, dpi);
        QFETCH(int, pixels);
        QCOMPARE(twipsToPixels(twips, dpi), pixels);
    }

    void pixelsBackToTwips()
    {
        QCOMPARE(pixelsToTwips(1, 96), 15);
        QCOMPARE(pixelsToTwips(231, 96), 3465);
        QCOMPARE(pixelsToTwips(120, 120), 1440);
        QCOMPARE(pixelsToTwips(3, 144), 30);
    }

    void rectanglesThatTouchInTwipsTouchInPixels()
    {
        // At 120 dpi 855 twips is 71.25 pixels: converting edges keeps neighbours flush.
        const QRect a = twipsRect(120, 360, 855, 255, 120, 120);
        const QRect b = twipsRect(975, 360, 855, 255, 120, 120);
        QCOMPARE(a.right() + 1, b.left());
        QCOMPARE(twipsRect(120, 240, 5535, 1215, 96, 96), QRect(8, 16, 369, 81));
        QCOMPARE(twipsSize(3345, 5265, 96, 96), QSize(223, 351));
    }

    void centring()
    {
        QCOMPARE(centredTopLeft(QRect(0, 0, 1280, 1024), QSize(230, 351)), QPoint(525, 336));
        QCOMPARE(centredTopLeft(QRect(1280, 0, 1920, 1080), QSize(1920, 1080)), QPoint(1280, 0));
        // A window larger than the screen sticks out evenly on both sides.
        QCOMPARE(centredTopLeft(QRect(0, 0, 800, 600), QSize(1000, 600)), QPoint(-100, 0));
    }

    void definitionDialogDetails_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("shownBefore");
        QTest::newRow("narrow opens wide") << 3465 << 7545 << false;
        QTest::newRow("wide closes narrow") << 7545 << 3465 << true;
        QTest::newRow("at the threshold still narrow") << 7500 << 7545 << false;
        QTest::newRow("just above the threshold is wide") << 7501 << 3465 << true;
    }
    void definitionDialogDetails()
    {
        QFETCH(int, width);
        QFETCH(int, after);
        QFETCH(bool, shownBefore);
        QCOMPARE(ConfigLayout::widthAfterDetails(width), after);
        QCOMPARE(ConfigLayout::detailsShown(width), shownBefore);
        QCOMPARE(ConfigLayout::detailsShown(after), !shownBefore);
    }

    void definitionDialogClientArea()
    {
        QCOMPARE(ConfigLayout::clientWidth(ConfigLayout::NarrowWidth), 3345);
        // The wide client area holds the right column (3360 + 3975) with a margin.
        QVERIFY(ConfigLayout::clientWidth(ConfigLayout::WideWidth) > 3360 + 3975);
    }
};

QTEST_GUILESS_MAIN(TstTwips)
#include "tst_twips.moc"
