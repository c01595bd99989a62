#include "TestFiles.h"
#include "engine/Target.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"

#include <QDateTime>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace sentrel;

namespace {

constexpr qint64 Min = 60 * 1000;
constexpr qint64 Hour = 60 * Min;
constexpr qint64 Day = 24 * Hour;

const QString A = QStringLiteral("00000000000000a1");
const QString B = QStringLiteral("00000000000000b2");

CheckRecord check(const QString &uid, qint64 time, int16_t status, int rttUs = -1, const QString &info = {})
{
    return {uid, time, status, info, rttUs};
}

} // namespace

class TestHistoryStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void recordsAndAnswers()
    {
        const QString path = m_dir.filePath(QStringLiteral("h.sqlite"));
        const qint64 t0 = QDateTime(QDate(2026, 3, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
        {
            HistoryStore store(path);
            QVERIFY(store.openForWriting(t0).ok());
            // Three days of a check a minute: A down for 90 minutes on the last day, B added later.
            for (qint64 m = 0; m < 3 * 24 * 60; ++m) {
                const qint64 t = t0 + m * Min;
                const bool down = m >= 2 * 24 * 60 + 600 && m < 2 * 24 * 60 + 690;
                std::vector<CheckRecord> cycle {check(A, t, down ? TargetStatus::Down : TargetStatus::Ok,
                    down ? -1 : 1000 + static_cast<int>(m % 60) * 10,
                    down ? QStringLiteral("refused") : QString())};
                if (m >= 2 * 24 * 60)
                    cycle.push_back(check(B, t, TargetStatus::Warning));
                const HistoryResult r = store.record(cycle, t);
                QVERIFY2(r.ok(), qPrintable(r.text));
            }
            const qint64 now = t0 + 3 * Day;
            const TargetHistory h = store.history(A, now, 50);
            QCOMPARE(h.strip.size(), size_t(50));
            QCOMPARE(h.strip.back().time, now - Min);
            QCOMPARE(h.day.downMs, 90 * Min);
            QCOMPARE(h.month.downMs, 90 * Min);
            QCOMPARE(h.month.upMs, 3 * Day - 90 * Min);
            QCOMPARE(h.outages.size(), size_t(1));
            QCOMPARE(h.outages[0].info, QStringLiteral("refused"));
            // Each answered echo of the last day, and hourly roll-ups of min, mean and max.
            QCOMPARE(h.rttDay.size(), size_t(24 * 60 - 90));
            QCOMPARE(h.rttHours.size(), size_t(3 * 24 - 1)); // the hour of the outage was all down
            QCOMPARE(h.rttHours.front().min, 1000);
            QCOMPARE(h.rttHours.front().mean, 1295);
            QCOMPARE(h.rttHours.front().max, 1590);
            // Pruning kept two days of single checks, taken a bounded share of Targets at a time.
            QCOMPARE(store.history(A, now, 5000).strip.size(), size_t(2 * 24 * 60));
            const TargetHistory b = store.history(B, now, 5000);
            QCOMPARE(b.month.upMs, Day); // added one day ago, WARNING counts as up
            QVERIFY(!store.history(QStringLiteral("00000000000000c3"), now).checked);
            store.close(now + Min);
        }
        // Closed cleanly: the time after it counts as neither up nor down. Then a run that stops
        // without closing: reopening ends its spell at its last check.
        {
            HistoryStore store(path);
            QVERIFY(store.openForWriting(t0 + 4 * Day).ok());
            QCOMPARE(store.history(A, t0 + 4 * Day).day.upMs, Min);
            QVERIFY(store.record({check(A, t0 + 4 * Day, TargetStatus::Down)}, t0 + 4 * Day).ok());
        }
        HistoryStore store(path);
        QVERIFY(store.openForWriting(t0 + 5 * Day).ok());
        const TargetHistory h = store.history(A, t0 + 5 * Day);
        QCOMPARE(h.day.downMs, 0LL);
        QCOMPARE(h.outages.front().end, std::optional(t0 + 4 * Day));
    }

    // A full disk or a second writer stops history with one notice; it takes up again by itself.
    void faults_data()
    {
        QTest::addColumn<bool>("secondWriter");
        QTest::newRow("full disk") << false;
        QTest::newRow("another Sentrel writing") << true;
    }

    void faults()
    {
        QFETCH(bool, secondWriter);
        const QString path = m_dir.filePath(QStringLiteral("f.sqlite"));
        QFile::remove(path);
        HistoryRecorder recorder(path);
        QSignalSpy notices(&recorder, &HistoryRecorder::notice);
        QSignalSpy done(&recorder, &HistoryRecorder::batchDone);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        auto cycle = [&](qint64 t, int16_t status) {
            for (int i = 0; i < 200; ++i)
                recorder.add(check(QStringLiteral("%1").arg(i + 1, 16, 16, QLatin1Char('0')), t, status, 500,
                    QString(100, u'x')));
            recorder.flush();
            QVERIFY(done.wait(5000));
        };
        cycle(now - 10 * Min, TargetStatus::Ok);
        QCOMPARE(done.last().first().toBool(), true);

        if (secondWriter) {
            // A second program starting on the same file while this one records into it.
            auto second = std::make_unique<HistoryRecorder>(path);
            QSignalSpy secondNotices(second.get(), &HistoryRecorder::notice);
            QSignalSpy secondDone(second.get(), &HistoryRecorder::batchDone);
            for (int i = 0; i < 2; ++i) {
                second->add(check(A, now - (8 - i) * Min, TargetStatus::Ok));
                second->flush();
                QVERIFY(secondDone.wait(5000));
                QCOMPARE(secondDone.last().first().toBool(), false);
            }
            QCOMPARE(secondNotices.size(), 1);
            QVERIFY2(secondNotices.first().first().toString().contains(QStringLiteral("another Sentrel")),
                qPrintable(secondNotices.first().first().toString()));
            cycle(now - 7 * Min, TargetStatus::Ok); // the first goes on undisturbed
            QCOMPARE(done.last().first().toBool(), true);
            QCOMPARE(notices.size(), 0);
            return;
        }
        recorder.setPageLimit(1); // no room for a single new page
        for (int i = 0; i < 3; ++i)
            cycle(now - (9 - i) * Min, static_cast<int16_t>(i % 2 ? TargetStatus::Ok : TargetStatus::Down));
        QCOMPARE(done.last().first().toBool(), false);
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.first().first().toString().startsWith(QStringLiteral("History stopped: ")),
            qPrintable(notices.first().first().toString()));
        recorder.setPageLimit(0);
        cycle(now - 5 * Min, TargetStatus::Down);
        QCOMPARE(done.last().first().toBool(), true);
        QCOMPARE(notices.size(), 2);
        QSignalSpy ready(&recorder, &HistoryRecorder::historyReady);
        recorder.requestHistory(QStringLiteral("0000000000000001"));
        QVERIFY(ready.wait(5000));
        const auto h = ready.first().first().value<TargetHistory>();
        QCOMPARE(h.strip.size(), size_t(2)); // the cycles that could not be written are gone, no more
        QCOMPARE(h.strip.back().status, TargetStatus::Down);
    }

    void corruptFileMovedAside()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        QVERIFY(test::writeBytes(path, QByteArray(8192, 'x')));
        {
            HistoryRecorder recorder(path);
            QSignalSpy notices(&recorder, &HistoryRecorder::notice);
            QSignalSpy done(&recorder, &HistoryRecorder::batchDone);
            recorder.add(check(A, QDateTime::currentMSecsSinceEpoch(), TargetStatus::Ok));
            recorder.flush();
            QVERIFY(done.wait(5000));
            QCOMPARE(notices.size(), 1);
            QVERIFY2(notices.first().first().toString().contains(QStringLiteral("was damaged")),
                qPrintable(notices.first().first().toString()));
        }
        const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("history.sqlite.corrupt-*")});
        QCOMPARE(aside.size(), 1);
        QCOMPARE(test::readAll(dir.filePath(aside.first())), QByteArray(8192, 'x'));
        HistoryStore store(path);
        QVERIFY(store.openForReading().ok());
        QVERIFY(store.history(A, QDateTime::currentMSecsSinceEpoch()).checked);
    }

private:
    QTemporaryDir m_dir;
};

SENTREL_TEST_GUILESS_MAIN(TestHistoryStore)
#include "tst_historystore.moc"
