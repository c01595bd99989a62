#include "history/HistoryStore.h"

#include "engine/Target.h"
#include "logging/LogFiles.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace sentrel {

namespace {

constexpr qint64 HourMs = 3600 * 1000;

// Rows per multi-row statement: far fewer round trips through the driver for a large cycle.
constexpr int RowsPerStatement = 128;

QString uidText(qint64 key)
{
    return QStringLiteral("%1").arg(static_cast<quint64>(key), 16, 16, QLatin1Char('0'));
}

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("sentrel-history-") + QString::number(counter.fetchAndAddRelaxed(1));
}

const char *const Schema[] = {
    "CREATE TABLE IF NOT EXISTS changes(uid INTEGER NOT NULL, time INTEGER NOT NULL,"
    " status INTEGER NOT NULL, info TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS changes_uid_time ON changes(uid, time)",
    // Checks are kept by cycle, so that a cycle's rows are appended together at the end of the
    // table instead of one page per Target; one Target's checks are found cycle by cycle.
    "CREATE TABLE IF NOT EXISTS cycles(id INTEGER PRIMARY KEY, time INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS checks(cycle INTEGER NOT NULL, uid INTEGER NOT NULL, time INTEGER NOT NULL,"
    " status INTEGER NOT NULL, rtt_us INTEGER NOT NULL, PRIMARY KEY(cycle, uid)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS rtt_hourly(uid INTEGER NOT NULL, hour INTEGER NOT NULL,"
    " rtt_min INTEGER NOT NULL, rtt_sum INTEGER NOT NULL, rtt_max INTEGER NOT NULL, n INTEGER NOT NULL,"
    " PRIMARY KEY(uid, hour)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS rtt_daily(uid INTEGER NOT NULL, day INTEGER NOT NULL,"
    " rtt_min INTEGER NOT NULL, rtt_sum INTEGER NOT NULL, rtt_max INTEGER NOT NULL, n INTEGER NOT NULL,"
    " PRIMARY KEY(uid, day)) WITHOUT ROWID",
};

// An information line as kept: one line, of bounded length.
QString storedInfo(const QString &info)
{
    // Never null: a null text would be bound as NULL.
    QString line = QStringLiteral("") + info.left(200);
    line.replace(u'\r', u' ').replace(u'\n', u' ');
    return line;
}

QString rollupTail()
{
    return QStringLiteral(" ON CONFLICT DO UPDATE SET rtt_min = min(rtt_min, excluded.rtt_min),"
                          " rtt_sum = rtt_sum + excluded.rtt_sum, rtt_max = max(rtt_max, excluded.rtt_max),"
                          " n = n + excluded.n");
}

// Runs one statement of the form head + "(?,..),(?,..)" + tail over rows in chunks.
class ChunkedInsert
{
public:
    ChunkedInsert(QSqlDatabase db, QString head, int columns, QString tail)
        : m_db(std::move(db))
        , m_head(std::move(head))
        , m_tail(std::move(tail))
        , m_columns(columns)
    { }

    // Each row gives its values through fill(row, out); false (and the error) on failure.
    template<typename Row, typename Fill>
    bool run(const std::vector<Row> &rows, Fill fill, QSqlError &error)
    {
        std::vector<QVariant> values;
        for (size_t at = 0; at < rows.size(); at += RowsPerStatement) {
            const int n = static_cast<int>(std::min<size_t>(RowsPerStatement, rows.size() - at));
            QSqlQuery &q = queryFor(n);
            int index = 0;
            for (int i = 0; i < n; ++i) {
                values.clear();
                fill(rows[at + static_cast<size_t>(i)], values);
                for (const QVariant &v : values)
                    q.bindValue(index++, v);
            }
            if (!q.exec()) {
                error = q.lastError();
                return false;
            }
        }
        return true;
    }

private:
    QSqlQuery &queryFor(int rows)
    {
        if (rows == RowsPerStatement) {
            if (!m_full)
                m_full = prepared(rows);
            return *m_full;
        }
        if (!m_partial || m_partialRows != rows) {
            m_partial = prepared(rows);
            m_partialRows = rows;
        }
        return *m_partial;
    }

    std::unique_ptr<QSqlQuery> prepared(int rows) const
    {
        QString row = QStringLiteral("(?");
        for (int c = 1; c < m_columns; ++c)
            row += QStringLiteral(",?");
        row += u')';
        QString sql = m_head + row;
        for (int r = 1; r < rows; ++r)
            sql += u',' + row;
        sql += m_tail;
        auto q = std::make_unique<QSqlQuery>(m_db);
        q->prepare(sql);
        return q;
    }

    QSqlDatabase m_db;
    QString m_head;
    QString m_tail;
    int m_columns;
    int m_partialRows = 0;
    std::unique_ptr<QSqlQuery> m_full;
    std::unique_ptr<QSqlQuery> m_partial;
};

} // namespace

qint64 uidKey(const QString &uid)
{
    bool ok = false;
    const quint64 value = uid.toULongLong(&ok, 16);
    return ok && isTargetUid(uid) ? static_cast<qint64>(value) : 0;
}

QString defaultHistoryFile()
{
    return programDataFolder() + QStringLiteral("/history.sqlite");
}

HistoryStore::HistoryStore(QString path)
    : m_path(std::move(path))
    , m_connection(nextConnectionName())
{ }

HistoryStore::~HistoryStore()
{
    if (m_open) {
        QSqlDatabase::database(m_connection, false).close();
        m_open = false;
    }
    QSqlDatabase::removeDatabase(m_connection);
}

HistoryResult HistoryStore::fault(const QSqlError &error) const
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    HistoryFault kind = HistoryFault::Other;
    if (code == 13)
        kind = HistoryFault::Full; // SQLITE_FULL
    else if (code == 5 || code == 6)
        kind = HistoryFault::Locked; // SQLITE_BUSY, SQLITE_LOCKED
    else if (code == 11 || code == 26)
        kind = HistoryFault::Corrupt; // SQLITE_CORRUPT, SQLITE_NOTADB
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.text();
    return {kind, text};
}

HistoryResult HistoryStore::openConnection(bool writer)
{
    if (m_open)
        return {};
    if (writer) {
        m_lock = std::make_unique<QLockFile>(m_path + QStringLiteral(".lock"));
        // Only a lock whose process is gone is stale, however old it is.
        m_lock->setStaleLockTime(0);
        if (!m_lock->tryLock(0)) {
            const bool held = m_lock->error() == QLockFile::LockFailedError;
            m_lock.reset();
            return {held ? HistoryFault::Locked : HistoryFault::Other,
                held ? QStringLiteral("another Sentrel is recording into it")
                     : QStringLiteral("cannot create its lock file")};
        }
    } else if (!QFileInfo::exists(m_path)) {
        return {HistoryFault::Other, QStringLiteral("no such file")};
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    if (!writer)
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=200"));
    else
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=200"));
    if (!db.open()) {
        HistoryResult r = fault(db.lastError());
        m_lock.reset();
        return r;
    }
    m_open = true;
    m_writer = writer;
    QSqlQuery q(db);
    // A failed query closes the file again, the query first, since the database cannot close
    // under it.
    const auto failed = [&] {
        HistoryResult r = fault(q.lastError());
        q = QSqlQuery();
        db.close();
        m_open = false;
        m_lock.reset();
        return r;
    };
    // Reading the schema is the first access to the file: a file that is not a database fails here.
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
        return failed();
    // One Target's history is read a page here and a page there across the file: mapped, and
    // with a larger cache, those reads cost no system call each.
    q.exec(QStringLiteral("PRAGMA mmap_size=268435456"));
    q.exec(QStringLiteral("PRAGMA cache_size=-16384"));
    if (!writer)
        return {};
    for (const char *pragma :
        {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA journal_size_limit=67108864"}) {
        q.exec(QString::fromLatin1(pragma));
    }
    for (const char *sql : Schema) {
        if (!q.exec(QString::fromLatin1(sql)))
            return failed();
    }
    return {};
}

HistoryResult HistoryStore::openForWriting(qint64 now)
{
    HistoryResult r = openConnection(true);
    if (!r.ok())
        return r;
    m_last.clear();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    // The row written last for each Target is its present status, whatever the clock said then.
    if (!q.exec(QStringLiteral("SELECT uid, status, max(rowid) FROM changes GROUP BY uid"))) {
        r = fault(q.lastError());
        q = QSqlQuery();
        close(now);
        return r;
    }
    while (q.next())
        m_last[q.value(0).toLongLong()] = static_cast<int16_t>(q.value(1).toInt());
    m_rolledHour = now / HourMs - 1;
    if (q.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'rolled_hour'")) && q.next())
        m_rolledHour = q.value(0).toLongLong();
    else
        q.exec(QStringLiteral("INSERT INTO meta VALUES ('rolled_hour', %1)").arg(m_rolledHour));
    m_cycleId = 0;
    m_pruneOrder.clear();
    m_pruneAt = 0;
    r = closeOpenSpells(now, true);
    if (!r.ok()) {
        q = QSqlQuery();
        close(now);
    }
    return r;
}

HistoryResult HistoryStore::openForReading()
{
    return openConnection(false);
}

HistoryResult HistoryStore::closeOpenSpells(qint64 at, bool fromLastCheck)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery last(db);
    last.prepare(QStringLiteral("SELECT max(k.time) FROM (SELECT id FROM cycles ORDER BY id DESC LIMIT 10) c"
                                " CROSS JOIN checks k ON k.cycle = c.id AND k.uid = ?"));
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO changes(uid, time, status, info) VALUES (?, ?, 0, '')"));
    db.transaction();
    for (auto &[uid, status] : m_last) {
        if (status == TargetStatus::Unknown)
            continue;
        qint64 time = at;
        if (fromLastCheck) {
            // A run that ended without closing: nothing is known after its last check.
            last.bindValue(0, uid);
            if (last.exec() && last.next() && !last.value(0).isNull())
                time = std::min(at, last.value(0).toLongLong());
        }
        insert.bindValue(0, uid);
        insert.bindValue(1, time);
        if (!insert.exec()) {
            HistoryResult r = fault(insert.lastError());
            db.rollback();
            return r;
        }
    }
    if (!db.commit()) {
        HistoryResult r = fault(db.lastError());
        db.rollback();
        return r;
    }
    for (auto &entry : m_last)
        entry.second = TargetStatus::Unknown;
    return {};
}

void HistoryStore::close(qint64 now)
{
    if (!m_open)
        return;
    if (m_writer)
        closeOpenSpells(now, false);
    QSqlDatabase::database(m_connection, false).close();
    m_open = false;
    m_lock.reset();
}

void HistoryStore::setPageLimit(int pages)
{
    if (!m_open)
        return;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.exec(QStringLiteral("PRAGMA max_page_count=") + QString::number(pages > 0 ? pages : 1073741823));
}

HistoryResult HistoryStore::record(const std::vector<CheckRecord> &checks, qint64 now, qint64 cycleKey)
{
    if (!m_open || !m_writer)
        return {HistoryFault::Other, QStringLiteral("not open for writing")};
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlError error;
    std::vector<std::pair<qint64, std::optional<int16_t>>> before;
    const qint64 cycleBefore = m_cycleId;
    const qint64 keyBefore = m_cycleKey;
    const qint64 rolledBefore = m_rolledHour;
    auto fail = [&](const QSqlError &e) {
        HistoryResult r = fault(e);
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        m_cycleId = cycleBefore;
        m_cycleKey = keyBefore;
        m_rolledHour = rolledBefore;
        for (auto it = before.rbegin(); it != before.rend(); ++it) {
            if (it->second)
                m_last[it->first] = *it->second;
            else
                m_last.erase(it->first);
        }
        return r;
    };
    {
        QSqlQuery begin(db);
        if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
            return fault(begin.lastError());
    }

    struct Row
    {
        qint64 uid;
        const CheckRecord *check;
    };
    std::vector<Row> rows;
    rows.reserve(checks.size());
    qint64 first = now;
    for (const CheckRecord &c : checks) {
        const qint64 key = uidKey(c.uid);
        if (key == 0)
            continue;
        rows.push_back({key, &c});
        first = std::min(first, c.time);
    }
    // In key order the rows of a cycle go into the table one page after another.
    std::sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.uid < b.uid; });

    if (!rows.empty() && (cycleKey < 0 || cycleKey != m_cycleKey || m_cycleId == 0)) {
        QSqlQuery cycle(db);
        cycle.prepare(QStringLiteral("INSERT INTO cycles(time) VALUES (?)"));
        cycle.bindValue(0, first);
        if (!cycle.exec())
            return fail(cycle.lastError());
        m_cycleId = cycle.lastInsertId().toLongLong();
        m_cycleKey = cycleKey;
    }
    const qint64 cycleId = m_cycleId;
    ChunkedInsert checkRows(
        db, QStringLiteral("INSERT OR REPLACE INTO checks(cycle, uid, time, status, rtt_us) VALUES "), 5, {});
    if (!checkRows.run(
            rows,
            [cycleId](const Row &r, std::vector<QVariant> &v) {
                v = {cycleId, r.uid, r.check->time, static_cast<int>(r.check->status), r.check->rttUs};
            },
            error))
        return fail(error);

    std::vector<Row> changed;
    for (const Row &r : rows) {
        const auto it = m_last.find(r.uid);
        if (it != m_last.end() && it->second == r.check->status)
            continue;
        before.emplace_back(r.uid, it == m_last.end() ? std::nullopt : std::optional(it->second));
        m_last[r.uid] = r.check->status;
        changed.push_back(r);
    }
    ChunkedInsert changeRows(
        db, QStringLiteral("INSERT INTO changes(uid, time, status, info) VALUES "), 4, {});
    if (!changeRows.run(
            changed,
            [](const Row &r, std::vector<QVariant> &v) {
                v = {r.uid, r.check->time, static_cast<int>(r.check->status), storedInfo(r.check->info)};
            },
            error))
        return fail(error);

    if (!rollUp(now, error) || !prune(now, error))
        return fail(error);
    QSqlQuery commit(db);
    if (!commit.exec(QStringLiteral("COMMIT")))
        return fail(commit.lastError());
    return {};
}

bool HistoryStore::rollUp(qint64 now, QSqlError &error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    // Finished hours only, two at most per transaction; hours without checks are passed over.
    for (int step = 0; step < 2 && m_rolledHour < now / HourMs - 1; ++step) {
        qint64 hour = m_rolledHour + 1;
        q.prepare(QStringLiteral("SELECT min(time) FROM cycles WHERE time >= ?"));
        q.bindValue(0, hour * HourMs - HourMs);
        if (!q.exec()) {
            error = q.lastError();
            return false;
        }
        const qint64 next =
            q.next() && !q.value(0).isNull() ? q.value(0).toLongLong() / HourMs : now / HourMs;
        hour = std::max(hour, std::min(next, now / HourMs - 1));
        for (const auto &[table, period, length] : {std::tuple {"rtt_hourly", "hour", HourMs},
                 std::tuple {"rtt_daily", "day", HistoryKeep::DayMs}}) {
            // Checks stamped within the hour, from cycles that began at most an hour before it.
            q.prepare(
                QStringLiteral("INSERT INTO %1(uid, %2, rtt_min, rtt_sum, rtt_max, n)"
                               " SELECT uid, ?, min(rtt_us), sum(rtt_us), max(rtt_us), count(*) FROM checks"
                               " WHERE cycle >= (SELECT coalesce(min(id), 0) FROM cycles WHERE time >= ?)"
                               " AND cycle <= (SELECT coalesce(max(id), 0) FROM cycles WHERE time < ?)"
                               " AND time >= ? AND time < ? AND rtt_us >= 0 GROUP BY uid")
                    .arg(QLatin1String(table), QLatin1String(period))
                + rollupTail());
            q.bindValue(0, hour * HourMs / length);
            q.bindValue(1, hour * HourMs - HourMs);
            q.bindValue(2, hour * HourMs + HourMs);
            q.bindValue(3, hour * HourMs);
            q.bindValue(4, hour * HourMs + HourMs);
            if (!q.exec()) {
                error = q.lastError();
                return false;
            }
        }
        q.prepare(QStringLiteral("UPDATE meta SET value = ? WHERE key = 'rolled_hour'"));
        q.bindValue(0, hour);
        if (!q.exec()) {
            error = q.lastError();
            return false;
        }
        m_rolledHour = hour;
    }
    return true;
}

bool HistoryStore::prune(qint64 now, QSqlError &error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    std::vector<qint64> ids;
    {
        // The oldest cycles go first, a few per transaction: those past two days, or beyond the
        // number that two days at one cycle a minute make.
        QSqlQuery old(db);
        old.prepare(
            QStringLiteral("SELECT id FROM cycles WHERE time < ? OR id <= (SELECT max(id) FROM cycles) - ?"
                           " ORDER BY id LIMIT 4"));
        old.bindValue(0, now - HistoryKeep::ChecksMs);
        old.bindValue(1, HistoryKeep::ChecksPerTarget);
        if (!old.exec()) {
            error = old.lastError();
            return false;
        }
        while (old.next())
            ids.push_back(old.value(0).toLongLong());
    }
    for (const qint64 id : ids) {
        for (const char *sql : {"DELETE FROM checks WHERE cycle = ?", "DELETE FROM cycles WHERE id = ?"}) {
            QSqlQuery d(db);
            d.prepare(QString::fromLatin1(sql));
            d.bindValue(0, id);
            if (!d.exec()) {
                error = d.lastError();
                return false;
            }
        }
    }

    if (m_pruneAt >= m_pruneOrder.size()) {
        m_pruneOrder.clear();
        for (const auto &entry : m_last)
            m_pruneOrder.push_back(entry.first);
        m_pruneAt = 0;
    }
    QSqlQuery changes(db);
    changes.prepare(
        QStringLiteral("DELETE FROM changes WHERE uid = ? AND time < max(?, coalesce((SELECT "
                       "time FROM changes WHERE uid = ? ORDER BY time DESC LIMIT 1 OFFSET %1), 0))")
            .arg(HistoryKeep::ChangesPerTarget - 1));
    QSqlQuery hourly(db);
    hourly.prepare(QStringLiteral("DELETE FROM rtt_hourly WHERE uid = ? AND hour < ?"));
    QSqlQuery daily(db);
    daily.prepare(QStringLiteral("DELETE FROM rtt_daily WHERE uid = ? AND day < ?"));
    const size_t end = std::min(m_pruneOrder.size(), m_pruneAt + HistoryKeep::PrunedPerTransaction);
    for (; m_pruneAt < end; ++m_pruneAt) {
        const qint64 uid = m_pruneOrder[m_pruneAt];
        changes.bindValue(0, uid);
        changes.bindValue(1, now - HistoryKeep::ChangesMs);
        changes.bindValue(2, uid);
        if (!changes.exec()) {
            error = changes.lastError();
            return false;
        }
        for (auto &[q, cut] : {std::pair {&hourly, (now - HistoryKeep::HourlyMs) / HourMs},
                 std::pair {&daily, (now - HistoryKeep::DailyMs) / HistoryKeep::DayMs}}) {
            q->bindValue(0, uid);
            q->bindValue(1, cut);
            if (!q->exec()) {
                error = q->lastError();
                return false;
            }
        }
    }
    return true;
}

std::vector<StatusChange> HistoryStore::changes(const QString &uid, qint64 from)
{
    std::vector<StatusChange> list;
    if (!m_open)
        return list;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    const qint64 key = uidKey(uid);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT time, status, info FROM changes WHERE uid = ? AND time < ?"
                             " ORDER BY time DESC, rowid DESC LIMIT 1"));
    q.bindValue(0, key);
    q.bindValue(1, from);
    if (q.exec() && q.next())
        list.push_back(
            {q.value(0).toLongLong(), static_cast<int16_t>(q.value(1).toInt()), q.value(2).toString()});
    q.prepare(
        QStringLiteral("SELECT time, status, info FROM changes WHERE uid = ? AND time >= ? ORDER BY rowid"));
    q.bindValue(0, key);
    q.bindValue(1, from);
    if (q.exec()) {
        while (q.next())
            list.push_back(
                {q.value(0).toLongLong(), static_cast<int16_t>(q.value(1).toInt()), q.value(2).toString()});
    }
    return list;
}

TargetHistory HistoryStore::history(const QString &uid, qint64 now, int stripLength)
{
    TargetHistory h;
    h.uid = uid;
    h.now = now;
    if (!m_open)
        return h;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    const qint64 key = uidKey(uid);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT k.time, k.status FROM cycles c CROSS JOIN checks k ON k.cycle = c.id"
                             " AND k.uid = ? ORDER BY c.id DESC LIMIT ?"));
    q.bindValue(0, key);
    q.bindValue(1, stripLength);
    if (q.exec()) {
        while (q.next())
            h.strip.push_back({q.value(0).toLongLong(), static_cast<int16_t>(q.value(1).toInt())});
    }
    std::reverse(h.strip.begin(), h.strip.end());

    const std::vector<StatusChange> list = changes(uid, now - 30 * HistoryKeep::DayMs);
    h.checked = !h.strip.empty() || !list.empty();
    h.day = uptimeOver(list, now - HistoryKeep::DayMs, now);
    h.week = uptimeOver(list, now - 7 * HistoryKeep::DayMs, now);
    h.month = uptimeOver(list, now - 30 * HistoryKeep::DayMs, now);
    h.outages = outagesOver(list, now - 30 * HistoryKeep::DayMs, now);

    q.prepare(
        QStringLiteral("SELECT k.time, k.rtt_us FROM cycles c CROSS JOIN checks k ON k.cycle = c.id"
                       " AND k.uid = ? WHERE c.time >= ? AND k.time >= ? AND k.rtt_us >= 0 ORDER BY c.id"));
    q.bindValue(0, key);
    q.bindValue(1, now - HistoryKeep::DayMs - HourMs);
    q.bindValue(2, now - HistoryKeep::DayMs);
    if (q.exec()) {
        while (q.next()) {
            const int rtt = q.value(1).toInt();
            h.rttDay.push_back({q.value(0).toLongLong(), rtt, rtt, rtt});
        }
    }
    q.prepare(QStringLiteral("SELECT hour, rtt_min, rtt_sum, rtt_max, n FROM rtt_hourly WHERE uid = ?"
                             " AND hour >= ? ORDER BY hour"));
    q.bindValue(0, key);
    q.bindValue(1, (now - HistoryKeep::HourlyMs) / HourMs);
    if (q.exec()) {
        while (q.next()) {
            const qint64 n = std::max<qint64>(1, q.value(4).toLongLong());
            h.rttHours.push_back({q.value(0).toLongLong() * HourMs, q.value(1).toInt(),
                static_cast<int>(q.value(2).toLongLong() / n), q.value(3).toInt()});
        }
    }
    // The hours not rolled up yet, from the checks of the last day.
    const qint64 rolled = h.rttHours.empty() ? 0 : h.rttHours.back().time + HourMs;
    for (const RttPoint &pt : h.rttDay) {
        if (pt.time < rolled)
            continue;
        const qint64 hour = pt.time / HourMs * HourMs;
        if (h.rttHours.empty() || h.rttHours.back().time != hour) {
            h.rttHours.push_back({hour, pt.min, pt.mean, pt.max});
            continue;
        }
        // A running mean over the hour's checks so far.
        RttPoint &last = h.rttHours.back();
        last.min = std::min(last.min, pt.min);
        last.max = std::max(last.max, pt.max);
        last.mean = (last.mean + pt.mean) / 2;
    }
    return h;
}

std::vector<QString> HistoryStore::uids()
{
    std::vector<QString> list;
    if (!m_open)
        return list;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(QStringLiteral("SELECT DISTINCT uid FROM changes"))) {
        while (q.next())
            list.push_back(uidText(q.value(0).toLongLong()));
    }
    return list;
}

QString HistoryStore::moveAside(const QString &path, qint64 now)
{
    const QString aside = path + QStringLiteral(".corrupt-")
        + QDateTime::fromMSecsSinceEpoch(now).toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!QFile::rename(path, aside))
        return {};
    for (const char *suffix : {"-wal", "-shm"}) {
        const QString part = path + QLatin1String(suffix);
        if (QFile::exists(part))
            QFile::rename(part, aside + QLatin1String(suffix));
    }
    return aside;
}

} // namespace sentrel
