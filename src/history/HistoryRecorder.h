#pragma once

#include "history/HistoryStore.h"

#include <QHash>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <functional>
#include <vector>

namespace sentrel {

class Monitor;
class TargetTable;
class HistoryWorker;

// Keeps the history of every applied check. The database lives on a thread of its own: results
// are handed over in one batch per cycle (or per second during a long cycle) and questions are
// answered by signal, so the caller's thread never waits for the disk. When the file cannot be
// written the checks go on; history stops with one notice and takes up again when it can.
class HistoryRecorder : public QObject
{
    Q_OBJECT
public:
    explicit HistoryRecorder(QString path, QObject *parent = nullptr);
    // Writes what is pending, records every Target's spell as ended, and stops the thread.
    ~HistoryRecorder() override;

    const QString &path() const { return m_path; }

    // Records every result the monitor applies to the table.
    void attach(Monitor &monitor, const TargetTable &table);
    void add(CheckRecord check);
    // Hands the pending checks to the writer now, as the end of a cycle.
    void flush();

    // Asks for one Target's history; historyReady answers.
    void requestHistory(const QString &uid);

    // Keeps each recorded Target's uptime over the last 24 hours up to date (costs a query per
    // Target and cycle on the writer's thread).
    void setDayUptimesWanted(bool wanted);
    // Uptime over the last 24 hours by Target::Uid, as of the last batch written; a Target
    // with neither up nor down time is missing.
    const QHash<QString, double> &dayUptimes() const { return m_dayUptimes; }

    // Caps the database at this many pages, as a full disk would (0: no cap).
    void setPageLimit(int pages);

Q_SIGNALS:
    void historyReady(const sentrel::TargetHistory &history);
    // History stopped (with why) or took up again.
    void notice(const QString &text);
    // A batch was written or could not be; dayUptimes() is current.
    void batchDone(bool written);

private:
    friend class HistoryWorker;
    void handOver(bool endOfCycle);

    QString m_path;
    QThread m_thread;
    HistoryWorker *m_worker = nullptr;
    std::vector<CheckRecord> m_pending;
    qint64 m_cycleKey = 0; // batches of one cycle go into one cycle of the database
    QTimer m_flushTimer;
    QHash<QString, double> m_dayUptimes;
};

} // namespace sentrel
