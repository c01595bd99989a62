#include "ui/FieldText.h"

#include <QTest>

#include <cmath>

using namespace sentrel;

class TstFieldText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void leadingNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << "80" << 80.0;
        QTest::newRow("spaced") << " 5" << 5.0;
        QTest::newRow("blanks and tab") << " \t 12" << 12.0;
        QTest::newRow("trailing text") << "10 min" << 10.0;
        QTest::newRow("fraction") << "2.5" << 2.5;
        QTest::newRow("leading point") << ".5" << 0.5;
        QTest::newRow("negative") << "-3" << -3.0;
        QTest::newRow("plus sign") << "+7" << 7.0;
        QTest::newRow("exponent") << "1e3" << 1000.0;
        QTest::newRow("two points") << "1.5.3" << 1.5;
        QTest::newRow("not a number") << "abc" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("sign only") << "-" << 0.0;
        QTest::newRow("double sign") << "--4" << 0.0;
        QTest::newRow("nan is text") << "nan" << 0.0;
        QTest::newRow("inf is text") << "inf" << 0.0;
        QTest::newRow("hex is its leading zero") << "0x10" << 0.0;
        QTest::newRow("underflow") << "1e-999" << 0.0;
        QTest::newRow("non-ASCII digit ends it") << QStringLiteral("4\u0665") << 4.0;
    }
    void leadingNumbers()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(leadingNumber(text), value);
    }

    void overflowIsInfinite()
    {
        QVERIFY(std::isinf(leadingNumber(QStringLiteral("1e999"))));
        QVERIFY(leadingNumber(QStringLiteral("-1e999")) < 0);
    }

    void halfEven_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("rounded");
        QTest::newRow("2.5") << 2.5 << 2.0;
        QTest::newRow("3.5") << 3.5 << 4.0;
        QTest::newRow("0.4") << 0.4 << 0.0;
        QTest::newRow("0.5") << 0.5 << 0.0;
        QTest::newRow("0.6") << 0.6 << 1.0;
        QTest::newRow("-2.5") << -2.5 << -2.0;
        QTest::newRow("-3.5") << -3.5 << -4.0;
        QTest::newRow("-0.4") << -0.4 << 0.0;
    }
    void halfEven()
    {
        QFETCH(double, value);
        QFETCH(double, rounded);
        QCOMPARE(roundHalfEven(value), rounded);
    }

    void fieldRanges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fits16");
        QTest::addColumn<bool>("fits32");
        QTest::newRow("16-bit top") << "32767" << true << true;
        QTest::newRow("16-bit top by rounding") << "32767.5" << false << true;
        QTest::newRow("16-bit bottom") << "-32768" << true << true;
        QTest::newRow("above 16 bits") << "32768" << false << true;
        QTest::newRow("below 16 bits") << "-32769" << false << true;
        QTest::newRow("32-bit top") << "2147483647" << false << true;
        QTest::newRow("above 32 bits") << "2147483648" << false << false;
        QTest::newRow("huge") << "1e300" << false << false;
        QTest::newRow("text is 0") << "abc" << true << true;
    }
    void fieldRanges()
    {
        QFETCH(QString, text);
        QFETCH(bool, fits16);
        QFETCH(bool, fits32);
        QCOMPARE(number16(text).has_value(), fits16);
        QCOMPARE(number32(text).has_value(), fits32);
    }

    void spacedDecimals_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 9.0 << " 9";
        QTest::newRow("fraction") << 8.25 << " 8.25";
        QTest::newRow("four places") << 8.123456 << " 8.1235";
        QTest::newRow("negative") << -1.5 << "-1.5";
        QTest::newRow("zero") << 0.0 << " 0";
    }
    void spacedDecimals()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(spacedDecimal(value), text);
    }

    void blanksOnlyAreTrimmed()
    {
        QCOMPARE(trimBlanks(QStringLiteral("  web 1  ")), QStringLiteral("web 1"));
        QCOMPARE(trimBlanks(QStringLiteral("\tx\n")), QStringLiteral("\tx\n"));
        QCOMPARE(trimBlanks(QStringLiteral("   ")), QString());
    }
};

QTEST_GUILESS_MAIN(TstFieldText)
#include "tst_fieldtext.moc"
