#include "engine/TextLines.h"

#include <QTest>

using namespace sentrel;

namespace {

// One data row of texts; "" stands for the empty text.
void row(const char *name, std::initializer_list<const char *> texts)
{
    QTestData &data = QTest::newRow(name);
    for (const char *text : texts)
        data << QString::fromLatin1(text);
}

} // namespace

class TstTextLines : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstline_data()
    {
        QTest::addColumn<QString>("s");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("rest");
        row("crlf then line", {"A\r\nB", "A", "\r\nB"});
        row("final crlf", {"A\r\n", "A", "\r\n"});
        row("no break", {"ABC", "ABC", ""});
        row("empty", {"", "", ""});
        row("cr only", {"A\rB", "A", "\rB"});
        row("lf only", {"A\nB\nC", "A", "\nB\nC"});
        // A single break as the last character leaves no rest.
        row("final lf only", {"AB\n", "AB", ""});
        row("only one break", {"\n", "", ""});
        row("leading break", {"\r\nA", "", "\r\nA"});
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
        row("four lines", {"A\r\nB\r\nC\r\nD\r\n", "A", "B", "C\r\nD\r\n"});
        row("blank lines skipped", {"A\r\n\r\nB\r\n\r\nC\r\nD", "A", "B", "C\r\nD"});
        row("two lines", {"A\r\nB", "A", "B", ""});
        row("one line", {"A", "A", "", ""});
        row("one line crlf", {"A\r\n", "A", "\n", ""});
        row("empty", {"", "", "", ""});
        row("only breaks", {"\r\n\r\n\r\n", "", "\n", ""});
        row("single cr", {"\r", "", "", ""});
        // A rest of a single character counts as no rest, as in firstline.
        row("third line one char", {"A\r\nB\r\nC", "A", "B", ""});
        row("third line two chars", {"A\nB\nCD", "A", "B", "CD"});
        row("second line then breaks", {"A\r\nB\r\n\r\n", "A", "B", ""});
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

SENTREL_TEST_GUILESS_MAIN(TstTextLines)
#include "tst_textlines.moc"
