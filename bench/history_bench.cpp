// The history database: writer time for one cycle of 32767 Targets and the worst lateness of a
// 10 ms timer on the UI thread while the recorder writes such cycles; the time to read one
// Target's 30 days from the database a year at 1000 Targets a minute leaves; and the size of the
// file after 30 days of 1000 Targets at the default interval of one minute. Files go to a
// temporary folder under /tmp and are removed at the end.
#include "engine/Target.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace sentrel;

namespace {

constexpr qint64 Min = 60 * 1000;
constexpr qint64 Hour = 60 * Min;
constexpr qint64 Day = 24 * Hour;

std::vector<QString> makeUids(int n)
{
    std::vector<QString> uids;
    for (int i = 0; i < n; ++i)
        uids.push_back(newTargetUid());
    return uids;
}

std::vector<CheckRecord> cycleOf(const std::vector<QString> &uids, qint64 t, int round)
{
    std::vector<CheckRecord> batch;
    batch.reserve(uids.size());
    for (size_t i = 0; i < uids.size(); ++i) {
        // One Target in fifty changes its status each cycle; two in three answer an echo.
        const bool down = (i + static_cast<size_t>(round)) % 50 == 0;
        batch.push_back({uids[i], t, down ? TargetStatus::Down : TargetStatus::Ok,
            down ? QStringLiteral("Connection refused") : QString(),
            i % 3 == 0 ? -1 : 800 + static_cast<int>(i % 4000)});
    }
    return batch;
}

double ms(qint64 ns)
{
    return static_cast<double>(ns) / 1e6;
}

void benchRecording(const QString &folder)
{
    const std::vector<QString> uids = makeUids(TargetTable::MaxSlots);
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 10 * Min;

    // Writer time: the transaction the recorder's thread runs for each cycle.
    {
        HistoryStore store(folder + QStringLiteral("/writer.sqlite"));
        if (!store.openForWriting(t0).ok()) {
            std::printf("cannot open the database\n");
            return;
        }
        std::vector<double> times;
        for (int round = 0; round < 6; ++round) {
            const auto batch = cycleOf(uids, t0 + round * Min, round);
            QElapsedTimer clock;
            clock.start();
            const HistoryResult r = store.record(batch, t0 + round * Min);
            times.push_back(ms(clock.nsecsElapsed()));
            if (!r.ok())
                std::printf("record failed: %s\n", qPrintable(r.text));
        }
        std::printf(
            "recording, 32767 Targets: writer time first cycle %.1f ms (every Target's first status), "
            "next five %.1f / %.1f / %.1f / %.1f / %.1f ms\n",
            times[0], times[1], times[2], times[3], times[4], times[5]);
    }

    // The machine's own noise: the same timer with nothing else to do.
    qint64 idleLate = 0;
    {
        QElapsedTimer since;
        QTimer idle;
        idle.setTimerType(Qt::PreciseTimer);
        idle.setInterval(10);
        QObject::connect(&idle, &QTimer::timeout, [&] {
            idleLate = std::max(idleLate, since.nsecsElapsed() - 10'000'000);
            since.restart();
        });
        since.start();
        idle.start();
        QEventLoop loop;
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    std::printf("worst lateness of a 10 ms timer over 3 s with nothing recorded: %.1f ms\n", ms(idleLate));

    // The UI thread meanwhile: the results handed over one by one as a cycle applies them,
    // the batch flushed at its end, a 10 ms timer watching.
    HistoryRecorder recorder(folder + QStringLiteral("/ui.sqlite"));
    recorder.setDayUptimesWanted(true);
    QElapsedTimer sinceTick;
    qint64 worstLate = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        worstLate = std::max(worstLate, sinceTick.nsecsElapsed() - 10'000'000);
        sinceTick.restart();
    });
    sinceTick.start();
    ticker.start();
    qint64 worstAdd = 0;
    std::vector<double> roundTrips;
    for (int round = 0; round < 5; ++round) {
        auto batch = cycleOf(uids, t0 + round * Min, round);
        QElapsedTimer clock;
        clock.start();
        // In slices, as the cycle applies results between other events.
        for (size_t at = 0; at < batch.size(); at += 512) {
            QElapsedTimer slice;
            slice.start();
            for (size_t i = at; i < std::min(batch.size(), at + 512); ++i)
                recorder.add(std::move(batch[i]));
            worstAdd = std::max(worstAdd, slice.nsecsElapsed());
            QEventLoop loop;
            QTimer::singleShot(0, &loop, &QEventLoop::quit);
            loop.exec();
        }
        recorder.flush();
        QEventLoop wait;
        QObject::connect(&recorder, &HistoryRecorder::batchDone, &wait, &QEventLoop::quit);
        wait.exec();
        roundTrips.push_back(ms(clock.nsecsElapsed()));
    }
    ticker.stop();
    std::printf("recording through the recorder, 5 cycles of 32767 Targets (with 24 h uptimes for the "
                "metrics): hand-over to written %.0f / %.0f / %.0f / %.0f / %.0f ms; worst 10 ms UI timer "
                "lateness %.1f ms; worst 512 hand-overs %.2f ms\n",
        roundTrips[0], roundTrips[1], roundTrips[2], roundTrips[3], roundTrips[4], ms(worstLate),
        ms(worstAdd));
}

bool exec(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        std::printf("generating failed: %s\n", qPrintable(q.lastError().text()));
        return false;
    }
    return true;
}

// Fills a database with what `days` of checking `targets` Targets every minute leaves after
// pruning: two days of checks, hourly roll-ups for 30 days, daily ones and status changes for
// all the days (an outage of 5 minutes every 6 hours per Target).
bool generate(const QString &path, int targets, int days, qint64 now, std::vector<QString> &uids)
{
    {
        HistoryStore store(path);
        if (!store.openForWriting(now).ok())
            return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("generator"));
    db.setDatabaseName(path);
    if (!db.open())
        return false;
    uids = makeUids(targets);
    bool ok = exec(db, QStringLiteral("PRAGMA journal_mode=OFF"))
        && exec(db, QStringLiteral("PRAGMA synchronous=OFF"))
        && exec(db, QStringLiteral("CREATE TEMP TABLE u(uid INTEGER PRIMARY KEY)"))
        && exec(db, QStringLiteral("BEGIN"));
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO u VALUES (?)"));
    for (const QString &uid : uids) {
        insert.bindValue(0, uidKey(uid));
        insert.exec();
    }
    const qint64 start = now - static_cast<qint64>(days) * Day;
    const qint64 checksFrom = std::max(start, now - HistoryKeep::ChecksMs);
    const qint64 hoursFrom = std::max(start, now - HistoryKeep::HourlyMs) / Hour;
    ok = ok
        && exec(db,
            QStringLiteral(
                "WITH RECURSIVE m(t) AS (SELECT %1 UNION ALL SELECT t + 60000 FROM m WHERE t + 60000 < %2)"
                " INSERT INTO cycles(time) SELECT t FROM m")
                .arg(checksFrom)
                .arg(now))
        && exec(db,
            QStringLiteral("INSERT INTO checks SELECT c.id, u.uid, c.time, 1, 800 + abs(random() % 4000)"
                           " FROM cycles c, u ORDER BY c.id, u.uid"))
        && exec(db,
            QStringLiteral(
                "WITH RECURSIVE c(t) AS (SELECT %1 UNION ALL SELECT t + 21600000 FROM c WHERE t + 21600000 < "
                "%2)"
                " INSERT INTO changes SELECT u.uid, c.t + d.o, d.s, d.i FROM u, c, (SELECT 0 AS o, 3 AS s,"
                " 'Connection refused' AS i UNION ALL SELECT 300000, 1, '') AS d ORDER BY c.t, u.uid, d.o")
                .arg(start)
                .arg(now))
        && exec(db,
            QStringLiteral("WITH RECURSIVE h(x) AS (SELECT %1 UNION ALL SELECT x + 1 FROM h WHERE x + 1 < %2)"
                           " INSERT INTO rtt_hourly SELECT u.uid, h.x, 800, 60 * 2800, 4800, 60 FROM u, h")
                .arg(hoursFrom)
                .arg(now / Hour))
        && exec(db,
            QStringLiteral("WITH RECURSIVE d(x) AS (SELECT %1 UNION ALL SELECT x + 1 FROM d WHERE x + 1 < %2)"
                           " INSERT INTO rtt_daily SELECT u.uid, d.x, 800, 1440 * 2800, 4800, 1440 FROM u, d")
                .arg(start / Day)
                .arg(now / Day))
        && exec(db, QStringLiteral("COMMIT"));
    insert = QSqlQuery();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("generator"));
    return ok;
}

void benchShowing(const QString &folder)
{
    const QString path = folder + QStringLiteral("/year.sqlite");
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    std::vector<QString> uids;
    QElapsedTimer clock;
    clock.start();
    if (!generate(path, 1000, 365, now, uids))
        return;
    std::printf("generated a year at 1000 Targets a minute in %.1f s: %.1f MB\n",
        ms(clock.nsecsElapsed()) / 1000, static_cast<double>(QFileInfo(path).size()) / 1e6);
    HistoryStore store(path);
    if (!store.openForReading().ok())
        return;
    std::vector<double> times;
    size_t outages = 0;
    size_t points = 0;
    for (int i = 0; i < 50; ++i) {
        const QString &uid = uids[static_cast<size_t>(i * 19 % 1000)];
        clock.restart();
        const TargetHistory h = store.history(uid, now);
        times.push_back(ms(clock.nsecsElapsed()));
        outages = h.outages.size();
        points = h.rttDay.size() + h.rttHours.size();
    }
    const double first = times.front();
    std::sort(times.begin(), times.end());
    std::printf("showing one Target's 30 days (strip, uptimes, %zu outages, %zu round-trip points): "
                "first %.1f ms, median %.1f ms, worst of 50 %.1f ms\n",
        outages, points, first, times[times.size() / 2], times.back());
    QFile::remove(path);
}

void benchSize(const QString &folder)
{
    const QString path = folder + QStringLiteral("/month.sqlite");
    std::vector<QString> uids;
    if (!generate(path, 1000, 30, QDateTime::currentMSecsSinceEpoch(), uids))
        return;
    std::printf("size after 30 days of 1000 Targets checked every minute: %.1f MB\n",
        static_cast<double>(QFileInfo(path).size()) / 1e6);
    QFile::remove(path);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QStringLiteral("/tmp/sentrel-history-bench-XXXXXX"));
    if (!dir.isValid())
        return 1;
    benchRecording(dir.path());
    benchShowing(dir.path());
    benchSize(dir.path());
    return 0;
}
