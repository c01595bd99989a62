#pragma once

#include "history/Uptime.h"

#include <QLockFile>
#include <QMetaType>
#include <QString>

#include <memory>
#include <unordered_map>
#include <vector>

class QSqlError;

namespace sentrel {

// One applied check as history keeps it.
struct CheckRecord
{
    QString uid; // Target::Uid
    qint64 time = 0; // when the check began, ms since the Unix epoch
    int16_t status = 0;
    QString info;
    int rttUs = -1; // the echo's round-trip time; -1 when no echo was answered
};

// One tick of the heartbeat strip.
struct CheckTick
{
    qint64 time = 0;
    int16_t status = 0;
};

// Round-trip times over one stretch of time, in microseconds.
struct RttPoint
{
    qint64 time = 0; // start of the stretch (or the check's time)
    int min = 0;
    int mean = 0;
    int max = 0;
};

// What the details area shows of one Target.
struct TargetHistory
{
    QString uid;
    qint64 now = 0;
    bool checked = false; // anything recorded at all
    std::vector<CheckTick> strip; // oldest first
    UptimeFigure day, week, month;
    std::vector<Outage> outages; // of the last 30 days, newest first
    std::vector<RttPoint> rttDay; // each check of the last 24 hours
    std::vector<RttPoint> rttHours; // hourly, the last 30 days
};

// Why the history could not be written or read.
enum class HistoryFault { None, Full, Locked, Corrupt, Other };

struct HistoryResult
{
    HistoryFault fault = HistoryFault::None;
    QString text;
    bool ok() const { return fault == HistoryFault::None; }
};

// How long each kind of record is kept.
namespace HistoryKeep {
constexpr qint64 DayMs = 24LL * 3600 * 1000;
constexpr qint64 ChangesMs = 400 * DayMs;
constexpr qint64 ChecksMs = 2 * DayMs;
constexpr qint64 HourlyMs = 30 * DayMs;
constexpr qint64 DailyMs = 400 * DayMs;
// Caps, so that the file stays bounded even under many manual cycles: cycles whose checks are
// kept (two days at one a minute), and status changes per Target.
constexpr int ChecksPerTarget = 2 * 24 * 60;
constexpr int ChangesPerTarget = 20000;
// Targets whose old records one transaction prunes.
constexpr int PrunedPerTransaction = 512;
} // namespace HistoryKeep

// The history database: one SQLite connection, used only on the thread that opened it.
// A writer holds a lock file beside the database, so that a second Sentrel sees that history
// is taken and stops recording instead of interleaving its cycles.
class HistoryStore
{
public:
    explicit HistoryStore(QString path);
    ~HistoryStore();
    HistoryStore(const HistoryStore &) = delete;
    HistoryStore &operator=(const HistoryStore &) = delete;

    const QString &path() const { return m_path; }
    bool isOpen() const { return m_open; }

    // Opens (creating it when missing) for writing, in WAL mode. At `now` it closes the spells of
    // Targets that a previous run left without an end (it stopped without closing).
    HistoryResult openForWriting(qint64 now);
    // Opens an existing file for reading only; a missing file is a fault of kind Other.
    HistoryResult openForReading();
    // Closes; a writer first records every Target's spell as ended at `now`.
    void close(qint64 now);

    // Writes the checks in one transaction, rolls up finished hours and prunes a bounded share
    // of old records. Batches with the same cycleKey belong to one cycle; -1 starts a new one.
    HistoryResult record(const std::vector<CheckRecord> &checks, qint64 now, qint64 cycleKey = -1);

    // Caps the file at this many pages (0: no cap), as a full disk would.
    void setPageLimit(int pages);

    TargetHistory history(const QString &uid, qint64 now, int stripLength = 120);
    // The changes to use for uptime and outages in [from, now): the last one before from, then all after.
    std::vector<StatusChange> changes(const QString &uid, qint64 from);
    // Every Target that has anything recorded.
    std::vector<QString> uids();

    // Moves a corrupt file (with its WAL and shared-memory files) aside under a name with
    // the time; returns that name, or empty when it could not.
    static QString moveAside(const QString &path, qint64 now);

private:
    HistoryResult openConnection(bool writer);
    HistoryResult fault(const QSqlError &error) const;
    bool rollUp(qint64 now, QSqlError &error);
    bool prune(qint64 now, QSqlError &error);
    HistoryResult closeOpenSpells(qint64 at, bool fromLastCheck);

    QString m_path;
    QString m_connection;
    bool m_open = false;
    bool m_writer = false;
    std::unique_ptr<QLockFile> m_lock;
    // The last status recorded for each Target, by its numeric identity.
    std::unordered_map<qint64, int16_t> m_last;
    qint64 m_rolledHour = 0; // the last hour whose round-trip times are rolled up
    qint64 m_cycleId = 0; // the cycle the last batch went into
    qint64 m_cycleKey = -1;
    std::vector<qint64> m_pruneOrder;
    size_t m_pruneAt = 0;
};

// "history.sqlite" beside the log in the per-user data folder.
QString defaultHistoryFile();

// A Target::Uid as the database keeps it; 0 for text that is none.
qint64 uidKey(const QString &uid);

} // namespace sentrel

Q_DECLARE_METATYPE(sentrel::TargetHistory)
