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
        QTest::addColumn<bool>("exact"); // the pixels convert back to the same twips
        QTest::newRow("15 per pixel at 96") << 15 << 96.0 << 1 << true;
        QTest::newRow("narrow window at 96") << 3465 << 96.0 << 231 << true;
        QTest::newRow("rounds to nearest") << 22 << 96.0 << 1 << false;
        QTest::newRow("wide window at 144") << 7545 << 144.0 << 755 << false;
        QTest::newRow("negative") << -120 << 96.0 << -8 << true;
    }
    void conversions()
    {
        QFETCH(int, twips);
        QFETCH(double, dpi);
        QFETCH(int, pixels);
        QFETCH(bool, exact);
        QCOMPARE(twipsToPixels(twips, dpi), pixels);
        QCOMPARE(pixelsToTwips(pixels, dpi) == twips, exact);
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

SENTREL_TEST_GUILESS_MAIN(TstTwips)
#include "tst_twips.moc"
