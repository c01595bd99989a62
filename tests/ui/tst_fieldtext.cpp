#include "ui/FieldText.h"
#include "ui/QtPrompts.h"

#include <QTest>

using namespace sentrel;

class TstFieldText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Exponents, a leading point, hex, overflow and underflow: tst_settingsstore's valueTexts.
    // Blanks and tab, trailing text, two points, not a number, a double sign, nan as text, a
    // non-ASCII digit ending it.
    void leadingNumbers()
    {
        const std::pair<const char16_t *, double> cases[] = {{u" \t 12", 12.0}, {u"10 min", 10.0},
            {u"1.5.3", 1.5}, {u"abc", 0.0}, {u"--4", 0.0}, {u"nan", 0.0}, {u"4\u0665", 4.0}};
        for (const auto &[text, value] : cases)
            QCOMPARE(leadingNumber(QString::fromUtf16(text)), value);
    }

    void halfEven()
    {
        const double cases[][2] = {{2.5, 2.0}, {3.5, 4.0}, {0.5, 0.0}, {0.6, 1.0}, {-2.5, -2.0}, {-0.4, 0.0}};
        for (const auto &c : cases)
            QCOMPARE(roundHalfEven(c[0]), c[1]);
    }

    void spacedDecimalsAndBlanks()
    {
        QCOMPARE(spacedDecimal(8.123456), QStringLiteral(" 8.1235"));
        QCOMPARE(spacedDecimal(-1.5), QStringLiteral("-1.5"));
        QCOMPARE(spacedDecimal(0.0), QStringLiteral(" 0"));
        QCOMPARE(trimBlanks(QStringLiteral("\tx\n")), QStringLiteral("\tx\n"));
        QCOMPARE(trimBlanks(QStringLiteral("   ")), QString());
    }

    void filters_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("qt");
        QTest::addColumn<QString>("suffix");
        const char *rows[][4] = {
            {"log chooser", "Log files (*.log)|*.log|All files|*.*", "Log files (*.log);;All files (*)",
                "log"},
            {"several patterns", "Text|*.txt;*.exp", "Text (*.txt *.exp)", ""},
            {"already Qt", "Export files (*.exp);;All files (*)", "Export files (*.exp);;All files (*)",
                "exp"},
            {"any file named in the description", "All files (*.*)|*.*", "All files (*)", ""},
            {"dotted pattern kept", "Backups|*.*.old", "Backups (*.*.old)", ""},
            {"none", "", "", ""},
        };
        for (const auto &r : rows)
            QTest::newRow(r[0]) << QString::fromUtf8(r[1]) << QString::fromUtf8(r[2])
                                << QString::fromUtf8(r[3]);
    }
    void filters()
    {
        QFETCH(QString, filter);
        QFETCH(QString, qt);
        QFETCH(QString, suffix);
        QCOMPARE(qtFileFilter(filter), qt);
        QCOMPARE(defaultSuffixOf(filter), suffix);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstFieldText)
#include "tst_fieldtext.moc"
