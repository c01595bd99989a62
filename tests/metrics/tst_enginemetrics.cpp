#include "metrics/EngineMetrics.h"
#include "metrics/MetricsConfig.h"
#include "settings/SettingsStore.h"

#include <QTemporaryDir>
#include <QTest>

#include <map>

using namespace sentrel;
using prometheus::MetricFamily;

namespace {

// Every sample of the families as "name{label=value,...}" -> value, labels in their order.
std::map<std::string, double> samplesOf(const std::vector<MetricFamily> &families)
{
    std::map<std::string, double> samples;
    for (const MetricFamily &f : families) {
        for (const prometheus::ClientMetric &m : f.metric) {
            std::string key = f.name + "{";
            for (const auto &l : m.label)
                key += l.name + "=" + l.value + ",";
            key += "}";
            samples[key] = f.type == prometheus::MetricType::Counter ? m.counter.value : m.gauge.value;
        }
    }
    return samples;
}

} // namespace

class TstEngineMetrics : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void targetsAndCycles()
    {
        std::vector<Target> slots(4);
        slots[0].Hostname = QStringLiteral("mail");
        slots[0].Desc = QStringLiteral("Mail");
        slots[0].Status = TargetStatus::Warning;
        slots[0].UseP = true;
        slots[0].LastRtt = 12;
        slots[0].SmoothedRtt = 10.5;
        slots[0].LastCheck = QDateTime::fromSecsSinceEpoch(1'800'000'000);
        slots[1].Status = TargetStatus::Free;
        // Never checked, no echo yet, and a status outside the known ones.
        slots[2].Hostname = QStringLiteral("router");
        slots[2].Desc = QStringLiteral("Router");
        slots[2].Status = 7;
        slots[2].UseP = true;
        slots[2].SmoothedRtt = -1.0;
        slots[3].Hostname = QStringLiteral("mail");
        slots[3].Desc = QStringLiteral("Mail");
        slots[3].Status = TargetStatus::Down;
        TargetTable table;
        table.assign(std::move(slots));

        CycleFacts cycles;
        const auto before = samplesOf(collectMetrics(table, cycles));
        QCOMPARE(before.count("sentrel_cycle_duration_seconds{}"), size_t(0));
        QCOMPARE(before.at("sentrel_cycles_total{}"), 0.0);

        cycles.cyclesFinished = 3;
        cycles.durationSeconds = 1.25;
        cycles.finishedAt = QDateTime::fromSecsSinceEpoch(1'800'000'060);
        const std::map<std::string, double> expected {
            {"sentrel_target_status{index=0,host=mail,description=Mail,}", 2},
            {"sentrel_target_status{index=1,host=router,description=Router,}", 0},
            // Same host and description: the index keeps the two series apart.
            {"sentrel_target_status{index=2,host=mail,description=Mail,}", 3},
            {"sentrel_target_rtt_seconds{index=0,host=mail,description=Mail,}", 0.012},
            {"sentrel_target_rtt_smoothed_seconds{index=0,host=mail,description=Mail,}", 0.0105},
            {"sentrel_target_last_check_timestamp_seconds{index=0,host=mail,description=Mail,}", 1.8e9},
            {"sentrel_targets{status=unknown,}", 1},
            {"sentrel_targets{status=ok,}", 0},
            {"sentrel_targets{status=warning,}", 1},
            {"sentrel_targets{status=down,}", 1},
            {"sentrel_cycles_total{}", 3},
            {"sentrel_cycle_duration_seconds{}", 1.25},
            {"sentrel_last_cycle_timestamp_seconds{}", 1.80000006e9},
        };
        QCOMPARE(samplesOf(collectMetrics(table, cycles)), expected);
    }

    void configFromTheStore_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::newRow("nothing stored") << QByteArray() << false << "127.0.0.1" << 9077;
        QTest::newRow("all given") << QByteArray("Enable=True\nAddress=0.0.0.0\nPort=9100\n") << true
                                   << "0.0.0.0" << 9100;
        QTest::newRow("IPv6, blanks around")
            << QByteArray("Address=\" ::1 \"\nPort=\" 8080\"\n") << false << "::1" << 8080;
        QTest::newRow("unusable values read as defaults")
            << QByteArray("Enable=yes\nAddress=metrics.example\nPort=70000\n") << false << "127.0.0.1"
            << 9077;
        QTest::newRow("port 0 is any free port") << QByteArray("Port=0\n") << false << "127.0.0.1" << 0;
    }
    void configFromTheStore()
    {
        QFETCH(QByteArray, section);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("store.ini"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Metrics]\n" + section);
        file.close();
        const MetricsConfig config = readMetricsConfig(SettingsStore(path));
        QTEST(config.windowEnabled, "enabled");
        QTEST(config.address, "address");
        QTEST(int(config.port), "port");
    }
};

SENTREL_TEST_GUILESS_MAIN(TstEngineMetrics)
#include "tst_enginemetrics.moc"
