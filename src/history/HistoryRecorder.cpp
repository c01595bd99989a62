#include "history/HistoryRecorder.h"

#include "engine/Monitor.h"
#include "engine/Target.h"

#include <QDateTime>
#include <QMetaObject>
#include <QSet>

#include <memory>

namespace sentrel {

// Owns the database on the recorder's thread; every call arrives queued.
class HistoryWorker : public QObject
{
public:
    HistoryWorker(QString path, HistoryRecorder *recorder)
        : m_path(std::move(path))
        , m_recorder(recorder)
    { }

    void write(const std::vector<CheckRecord> &batch, qint64 cycleKey, bool endOfCycle)
    {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        HistoryResult r = ensureOpen(now);
        if (r.ok()) {
            r = m_writer->record(batch, now, cycleKey);
            if (r.fault == HistoryFault::Corrupt) {
                startAfresh(now);
                r = m_writer->isOpen() ? m_writer->record(batch, now, cycleKey) : r;
            }
        }
        if (!r.ok()) {
            stopped(r);
            // A lock or a damaged file is looked at again on the next batch; a full disk keeps
            // the connection and simply tries the next transaction.
            if (r.fault != HistoryFault::Full)
                m_writer->close(now);
            post([](HistoryRecorder *rec) { Q_EMIT rec->batchDone(false); });
            return;
        }
        if (m_stopped) {
            m_stopped = false;
            notice(QStringLiteral("History is recorded again in ") + m_path + u'.');
        }
        QHash<QString, double> uptimes;
        if (m_dayUptimesWanted) {
            for (const CheckRecord &c : batch)
                m_uptimeDue.insert(c.uid);
            // A ratio over 24 hours moves slowly: worked out at the end of a cycle, at most twice a minute.
            if (endOfCycle && now - m_uptimesAt >= 30000) {
                m_uptimesAt = now;
                for (const QString &uid : std::as_const(m_uptimeDue)) {
                    const auto ratio = uptimeOver(
                        m_writer->changes(uid, now - HistoryKeep::DayMs), now - HistoryKeep::DayMs, now)
                                           .ratio();
                    if (ratio)
                        uptimes.insert(uid, *ratio);
                }
                m_uptimeDue.clear();
            }
        }
        post([uptimes = std::move(uptimes)](HistoryRecorder *rec) {
            for (auto it = uptimes.begin(); it != uptimes.end(); ++it)
                rec->m_dayUptimes.insert(it.key(), it.value());
            Q_EMIT rec->batchDone(true);
        });
    }

    void query(const QString &uid)
    {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        HistoryStore *store = m_writer && m_writer->isOpen() ? m_writer.get() : nullptr;
        if (!store) {
            // Another Sentrel may be writing; its file can still be read.
            m_reader = std::make_unique<HistoryStore>(m_path);
            if (m_reader->openForReading().ok())
                store = m_reader.get();
        }
        TargetHistory h;
        if (store) {
            h = store->history(uid, now);
        } else {
            h.uid = uid;
            h.now = now;
        }
        m_reader.reset();
        post([h = std::move(h)](HistoryRecorder *rec) { Q_EMIT rec->historyReady(h); });
    }

    void finish()
    {
        if (m_writer)
            m_writer->close(QDateTime::currentMSecsSinceEpoch());
        m_writer.reset();
    }

    void setPageLimit(int pages)
    {
        m_pageLimit = pages;
        if (m_writer)
            m_writer->setPageLimit(pages);
    }

    bool m_dayUptimesWanted = false;

private:
    HistoryResult ensureOpen(qint64 now)
    {
        if (!m_writer)
            m_writer = std::make_unique<HistoryStore>(m_path);
        if (m_writer->isOpen())
            return {};
        HistoryResult r = m_writer->openForWriting(now);
        if (r.fault == HistoryFault::Corrupt) {
            startAfresh(now);
            r = m_writer->isOpen() ? HistoryResult {} : m_writer->openForWriting(now);
        }
        if (r.ok())
            m_writer->setPageLimit(m_pageLimit);
        return r;
    }

    // The damaged file is kept for whoever wants to look into it; the history starts anew.
    void startAfresh(qint64 now)
    {
        m_writer.reset();
        const QString aside = HistoryStore::moveAside(m_path, now);
        if (aside.isEmpty()) {
            notice(QStringLiteral("The history file ") + m_path
                + QStringLiteral(" is damaged and cannot be moved aside; history stops."));
            m_stopped = true;
            m_writer = std::make_unique<HistoryStore>(m_path);
            return;
        }
        notice(QStringLiteral("The history file ") + m_path + QStringLiteral(" was damaged; it was moved to ")
            + aside + QStringLiteral(" and a new history begins."));
        m_writer = std::make_unique<HistoryStore>(m_path);
        if (m_writer->openForWriting(now).ok())
            m_writer->setPageLimit(m_pageLimit);
    }

    void stopped(const HistoryResult &r)
    {
        if (m_stopped)
            return;
        m_stopped = true;
        notice(QStringLiteral("History stopped: ") + m_path + QStringLiteral(": ") + r.text
            + QStringLiteral(". Checks, log and alerts go on; history takes up again when it can."));
    }

    void notice(const QString &text)
    {
        post([text](HistoryRecorder *rec) { Q_EMIT rec->notice(text); });
    }

    template<typename F>
    void post(F f)
    {
        HistoryRecorder *rec = m_recorder;
        QMetaObject::invokeMethod(
            rec, [rec, f = std::move(f)]() mutable { f(rec); }, Qt::QueuedConnection);
    }

    QString m_path;
    HistoryRecorder *m_recorder;
    std::unique_ptr<HistoryStore> m_writer;
    std::unique_ptr<HistoryStore> m_reader;
    bool m_stopped = false;
    int m_pageLimit = 0;
    QSet<QString> m_uptimeDue;
    qint64 m_uptimesAt = 0;
};

HistoryRecorder::HistoryRecorder(QString path, QObject *parent)
    : QObject(parent)
    , m_path(std::move(path))
{
    m_worker = new HistoryWorker(m_path, this);
    m_worker->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("history"));
    m_thread.start();
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(1000);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] { handOver(false); });
}

HistoryRecorder::~HistoryRecorder()
{
    flush();
    HistoryWorker *worker = m_worker;
    // The database is closed on its own thread, before that thread ends.
    QMetaObject::invokeMethod(
        worker, [worker] { worker->finish(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    // The thread has ended, so its object can go from here.
    delete m_worker;
}

void HistoryRecorder::attach(Monitor &monitor, const TargetTable &table)
{
    connect(&monitor, &Monitor::targetChecked, this, [this, &table](int16_t index, int rttMs) {
        if (!table.isValidIndex(index))
            return;
        const Target &t = table[index];
        if (!isTargetUid(t.Uid))
            return;
        add({t.Uid, t.LastCheck.toMSecsSinceEpoch(), t.Status, t.Info, rttMs >= 0 ? rttMs * 1000 : -1});
    });
    connect(&monitor, &Monitor::cycleFinished, this, &HistoryRecorder::flush);
}

void HistoryRecorder::add(CheckRecord check)
{
    m_pending.push_back(std::move(check));
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void HistoryRecorder::flush()
{
    handOver(true);
}

void HistoryRecorder::handOver(bool endOfCycle)
{
    m_flushTimer.stop();
    if (!m_worker || (m_pending.empty() && !endOfCycle))
        return;
    HistoryWorker *worker = m_worker;
    const qint64 key = m_cycleKey;
    if (!m_pending.empty()) {
        QMetaObject::invokeMethod(
            worker,
            [worker, batch = std::move(m_pending), key, endOfCycle] {
                worker->write(batch, key, endOfCycle);
            },
            Qt::QueuedConnection);
    }
    m_pending.clear();
    if (endOfCycle)
        ++m_cycleKey;
}

void HistoryRecorder::requestHistory(const QString &uid)
{
    HistoryWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, uid] { worker->query(uid); }, Qt::QueuedConnection);
}

void HistoryRecorder::setDayUptimesWanted(bool wanted)
{
    HistoryWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, wanted] { worker->m_dayUptimesWanted = wanted; }, Qt::QueuedConnection);
}

void HistoryRecorder::setPageLimit(int pages)
{
    HistoryWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, pages] { worker->setPageLimit(pages); }, Qt::QueuedConnection);
}

} // namespace sentrel
