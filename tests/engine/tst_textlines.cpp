#include "engine/TextLines.h"

#include "TestSupport.h"

#include <QTest>

using namespace sentrel;
using sentrel::test::latin1;

class TstTextLines : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstline_data()
    {
        QTest::addColumn<QString>("s");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("rest");

        QTest::newRow("crlf then line") << latin1("A\r\nB") << latin1("A") << latin1("\r\nB");
        QTest::newRow("final crlf") << latin1("A\r\n") << latin1("A") << latin1("\r\n");
        QTest::newRow("no break") << latin1("ABC") << latin1("ABC") << QString();
        QTest::newRow("empty") << QString() << QString() << QString();
        QTest::newRow("several lines") << latin1("A\r\nB\r\nC") << latin1("A") << latin1("\r\nB\r\nC");
        QTest::newRow("cr only") << latin1("A\rB") << latin1("A") << latin1("\rB");
        QTest::newRow("lf only") << latin1("A\nB\nC") << latin1("A") << latin1("\nB\nC");
        // A single break as the last character leaves no rest.
        QTest::newRow("final lf only") << latin1("AB\n") << latin1("AB") << QString();
        QTest::newRow("final cr only") << latin1("AB\r") << latin1("AB") << QString();
        QTest::newRow("only one break") << latin1("\n") << QString() << QString();
        QTest::newRow("only breaks") << latin1("\r\n\r\n") << QString() << latin1("\r\n\r\n");
        QTest::newRow("leading break") << latin1("\r\nA") << QString() << latin1("\r\nA");
    }
    void firstline()
    {
        QFETCH(QString, s);
        QFETCH(QString, line);
        QFETCH(QString, rest);
        QString gotRest = QStringLiteral("stale");
        QCOMPARE(sentrel::firstline(s, gotRest), line);
        QCOMPARE(gotRest, rest);
    }

    void firsttwo_data()
    {
        QTest::addColumn<QString>("s");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("rest");

        QTest::newRow("four lines") << latin1("A\r\nB\r\nC\r\nD\r\n") << latin1("A") << latin1("B")
                                    << latin1("C\r\nD\r\n");
        QTest::newRow("blank lines skipped")
            << latin1("A\r\n\r\nB\r\n\r\nC\r\nD") << latin1("A") << latin1("B") << latin1("C\r\nD");
        QTest::newRow("two lines") << latin1("A\r\nB") << latin1("A") << latin1("B") << QString();
        QTest::newRow("one line") << latin1("A") << latin1("A") << QString() << QString();
        QTest::newRow("one line crlf") << latin1("A\r\n") << latin1("A") << latin1("\n") << QString();
        QTest::newRow("longer lines") << latin1("OK\r\nall fine\r\ndisk 1\r\ndisk 2\r\n") << latin1("OK")
                                      << latin1("all fine") << latin1("disk 1\r\ndisk 2\r\n");
        QTest::newRow("empty") << QString() << QString() << QString() << QString();
        QTest::newRow("only crlf") << latin1("\r\n") << QString() << latin1("\n") << QString();
        QTest::newRow("only breaks") << latin1("\r\n\r\n\r\n") << QString() << latin1("\n") << QString();
        QTest::newRow("single cr") << latin1("\r") << QString() << QString() << QString();
        QTest::newRow("cr only breaks")
            << latin1("A\rB\rC\rD") << latin1("A") << latin1("B") << latin1("C\rD");
        QTest::newRow("lf only breaks")
            << latin1("A\nB\nC\nD\n") << latin1("A") << latin1("B") << latin1("C\nD\n");
        // A rest of a single character counts as no rest, as in firstline.
        QTest::newRow("third line one char")
            << latin1("A\r\nB\r\nC") << latin1("A") << latin1("B") << QString();
        QTest::newRow("third line two chars")
            << latin1("A\nB\nCD") << latin1("A") << latin1("B") << latin1("CD");
        QTest::newRow("second line then breaks")
            << latin1("A\r\nB\r\n\r\n") << latin1("A") << latin1("B") << QString();
    }
    void firsttwo()
    {
        QFETCH(QString, s);
        QFETCH(QString, line);
        QFETCH(QString, info);
        QFETCH(QString, rest);
        QString gotInfo = QStringLiteral("stale");
        QString gotRest = QStringLiteral("stale");
        QCOMPARE(sentrel::firsttwo(s, gotInfo, gotRest), line);
        QCOMPARE(gotInfo, info);
        QCOMPARE(gotRest, rest);
    }
};

QTEST_GUILESS_MAIN(TstTextLines)
#include "tst_textlines.moc"
