#include "engine/Target.h"
#include "history/Uptime.h"

#include <QTest>

using namespace sentrel;

namespace {

constexpr qint64 Minute = 60 * 1000;
constexpr qint64 OneHour = 60 * Minute;

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
        QTest::newRow("down half an hour") << Changes {at(0, Ok), at(60 * Minute, Down), at(90 * Minute, Ok)}
                                           << 0LL << 2 * OneHour << 90 * Minute << 30 * Minute;
        QTest::newRow("warning up, unknown neither")
            << Changes {at(0, Ok), at(10 * Minute, Warning), at(20 * Minute, Unknown), at(30 * Minute, Down)}
            << 0LL << 40 * Minute << 20 * Minute << 10 * Minute;
        // A check that began at 23:59:50 and found the Target down: the outage belongs to both days.
        const qint64 midnight = 24 * OneHour;
        const Changes overMidnight {at(0, Ok), at(midnight - 10000, Down), at(midnight + 10 * Minute, Ok)};
        QTest::newRow("spans midnight, first day")
            << overMidnight << 0LL << midnight << midnight - 10000 << 10000LL;
        QTest::newRow("spans midnight, second day")
            << overMidnight << midnight << 2 * midnight << 24 * OneHour - 10 * Minute << 10 * Minute;
        // The clock stepped back an hour after the first check: no time is counted twice.
        QTest::newRow("clock steps back") << Changes {at(10 * OneHour, Ok),
            at(9 * OneHour + 30 * Minute, Down), at(10 * OneHour + 30 * Minute, Ok)}
                                          << 9 * OneHour << 11 * OneHour << 30 * Minute << 30 * Minute;
        QTest::newRow("added mid-window")
            << Changes {at(12 * OneHour, Ok)} << 0LL << 24 * OneHour << 12 * OneHour << 0LL;
        QTest::newRow("down since before the window") << Changes {at(-OneHour, Down), at(30 * Minute, Ok)}
                                                      << 0LL << OneHour << 30 * Minute << 30 * Minute;
        QTest::newRow("never checked") << Changes {} << 0LL << OneHour << 0LL << 0LL;
        QTest::newRow("changes after the window")
            << Changes {at(0, Down), at(2 * OneHour, Ok)} << 0LL << OneHour << 0LL << OneHour;
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
        const Changes changes {at(-3 * OneHour, Down, QStringLiteral("old")), at(-2 * OneHour, Ok),
            at(-OneHour, Down, QStringLiteral("refused")), at(-OneHour + 10 * Minute, Down),
            at(-OneHour + 94 * Minute, Warning), at(OneHour, Unknown),
            at(2 * OneHour, Down, QStringLiteral("timed out"))};
        const std::vector<Outage> list = outagesOver(changes, 0, 3 * OneHour);
        QCOMPARE(list.size(), size_t(2));
        QCOMPARE(list[0].start, 2 * OneHour);
        QVERIFY(!list[0].end);
        QCOMPARE(list[0].durationMs(3 * OneHour), OneHour);
        QCOMPARE(list[0].info, QStringLiteral("timed out"));
        QCOMPARE(list[1].start, -OneHour);
        QCOMPARE(list[1].end, std::optional(-OneHour + 94 * Minute));
        QCOMPARE(list[1].info, QStringLiteral("refused"));
        QCOMPARE(durationText(list[1].durationMs(0)), QStringLiteral("1 h 34 min"));
        QCOMPARE(durationText(59999), QStringLiteral("59 s"));
        QCOMPARE(durationText(60 * Minute), QStringLiteral("1 h 0 min"));
        QCOMPARE(durationText(50 * OneHour), QStringLiteral("2 d 2 h"));
        QCOMPARE(percentText(UptimeFigure {OneHour * 1000 - 1, 1}.ratio()), QStringLiteral("99.99 %"));
    }
};

SENTREL_TEST_GUILESS_MAIN(TestUptime)
#include "tst_uptime.moc"
