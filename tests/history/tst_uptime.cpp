#include "engine/Target.h"
#include "history/Uptime.h"

#include <QTest>

using namespace sentrel;

namespace {

constexpr qint64 Min = 60 * 1000;
constexpr qint64 Hour = 60 * Min;

using Changes = std::vector<StatusChange>;

StatusChange at(qint64 time, int16_t status, const QString &info = {})
{
    return {time, status, info};
}

} // namespace

Q_DECLARE_METATYPE(Changes)

class TestUptime : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void uptime_data()
    {
        QTest::addColumn<Changes>("changes");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("to");
        QTest::addColumn<qint64>("up");
        QTest::addColumn<qint64>("down");
        using namespace TargetStatus;
        QTest::newRow("down half an hour") << Changes {at(0, Ok), at(60 * Min, Down), at(90 * Min, Ok)} << 0LL
                                           << 2 * Hour << 90 * Min << 30 * Min;
        QTest::newRow("warning up, unknown neither")
            << Changes {at(0, Ok), at(10 * Min, Warning), at(20 * Min, Unknown), at(30 * Min, Down)} << 0LL
            << 40 * Min << 20 * Min << 10 * Min;
        // A check that began at 23:59:50 and found the Target down: the outage belongs to both days.
        const qint64 midnight = 24 * Hour;
        const Changes overMidnight {at(0, Ok), at(midnight - 10000, Down), at(midnight + 10 * Min, Ok)};
        QTest::newRow("spans midnight, first day")
            << overMidnight << 0LL << midnight << midnight - 10000 << 10000LL;
        QTest::newRow("spans midnight, second day")
            << overMidnight << midnight << 2 * midnight << 24 * Hour - 10 * Min << 10 * Min;
        // The clock stepped back an hour after the first check: no time is counted twice.
        QTest::newRow("clock steps back")
            << Changes {at(10 * Hour, Ok), at(9 * Hour + 30 * Min, Down), at(10 * Hour + 30 * Min, Ok)}
            << 9 * Hour << 11 * Hour << 30 * Min << 30 * Min;
        QTest::newRow("added mid-window")
            << Changes {at(12 * Hour, Ok)} << 0LL << 24 * Hour << 12 * Hour << 0LL;
        QTest::newRow("down since before the window")
            << Changes {at(-Hour, Down), at(30 * Min, Ok)} << 0LL << Hour << 30 * Min << 30 * Min;
        QTest::newRow("never checked") << Changes {} << 0LL << Hour << 0LL << 0LL;
        QTest::newRow("changes after the window")
            << Changes {at(0, Down), at(2 * Hour, Ok)} << 0LL << Hour << 0LL << Hour;
    }

    void uptime()
    {
        QFETCH(Changes, changes);
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QFETCH(qint64, up);
        QFETCH(qint64, down);
        const UptimeFigure f = uptimeOver(changes, from, to);
        QCOMPARE(f.upMs, up);
        QCOMPARE(f.downMs, down);
        QCOMPARE(f.ratio().has_value(), up + down > 0);
    }

    void outages()
    {
        using namespace TargetStatus;
        const Changes changes {at(-3 * Hour, Down, QStringLiteral("old")), at(-2 * Hour, Ok),
            at(-Hour, Down, QStringLiteral("refused")), at(-Hour + 10 * Min, Down),
            at(-Hour + 94 * Min, Warning), at(Hour, Unknown),
            at(2 * Hour, Down, QStringLiteral("timed out"))};
        const std::vector<Outage> list = outagesOver(changes, 0, 3 * Hour);
        QCOMPARE(list.size(), size_t(2));
        QCOMPARE(list[0].start, 2 * Hour);
        QVERIFY(!list[0].end);
        QCOMPARE(list[0].durationMs(3 * Hour), Hour);
        QCOMPARE(list[0].info, QStringLiteral("timed out"));
        QCOMPARE(list[1].start, -Hour);
        QCOMPARE(list[1].end, std::optional(-Hour + 94 * Min));
        QCOMPARE(list[1].info, QStringLiteral("refused"));
        QCOMPARE(durationText(list[1].durationMs(0)), QStringLiteral("1 h 34 min"));
        QCOMPARE(durationText(59999), QStringLiteral("59 s"));
        QCOMPARE(durationText(50 * Hour), QStringLiteral("2 d 2 h"));
        QCOMPARE(percentText(UptimeFigure {Hour * 1000 - 1, 1}.ratio()), QStringLiteral("99.99 %"));
    }
};

SENTREL_TEST_GUILESS_MAIN(TestUptime)
#include "tst_uptime.moc"
