#include "metrics/EngineMetrics.h"
#include "metrics/MetricsConfig.h"
#include "settings/SettingsStore.h"

#include "TestFiles.h"

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
        const auto target = [](const char *host, const char *uid, int16_t status) {
            Target t;
            t.Hostname = QString::fromLatin1(host);
            t.Desc = t.Hostname.at(0).toUpper() + t.Hostname.mid(1);
            t.Uid = QString::fromLatin1(uid);
            t.Status = status;
            return t;
        };
        std::vector<Target> slots {target("mail", "00000000000000a1", TargetStatus::Warning), Target {},
            // Never checked, no echo yet, and a status outside the known ones.
            target("router", "00000000000000b2", 7), target("mail", "00000000000000c3", TargetStatus::Down),
            // An identity twice (or none) must not give one series twice: its slot stands in.
            target("copy", "00000000000000c3", TargetStatus::Ok)};
        slots[0].UseP = slots[2].UseP = true;
        slots[0].LastRtt = 0;
        slots[0].LastRttMicros = 345;
        slots[0].SmoothedRtt = 10.5;
        slots[0].LastCheck = QDateTime::fromSecsSinceEpoch(1'800'000'000);
        slots[1].Status = TargetStatus::Free;
        slots[2].SmoothedRtt = -1.0;
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
            {"sentrel_target_status{id=00000000000000a1,host=mail,description=Mail,}", 2},
            {"sentrel_target_status{id=00000000000000b2,host=router,description=Router,}", 0},
            // Same host and description: the identity keeps the two series apart.
            {"sentrel_target_status{id=00000000000000c3,host=mail,description=Mail,}", 3},
            {"sentrel_target_status{id=slot4,host=copy,description=Copy,}", 1},
            // Below a millisecond, where the window shows 0.
            {"sentrel_target_rtt_seconds{id=00000000000000a1,host=mail,description=Mail,}", 0.000345},
            {"sentrel_target_rtt_smoothed_seconds{id=00000000000000a1,host=mail,description=Mail,}", 0.0105},
            {"sentrel_target_last_check_timestamp_seconds{id=00000000000000a1,host=mail,description=Mail,}",
                1.8e9},
            {"sentrel_targets{status=unknown,}", 1},
            {"sentrel_targets{status=ok,}", 1},
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
        QTest::addColumn<QString>("problem");
        QTest::newRow("nothing stored") << QByteArray() << false << "127.0.0.1" << 9077 << "";
        QTest::newRow("all given") << QByteArray("Enable=True\nAddress=0.0.0.0\nPort=9100\n") << true
                                   << "0.0.0.0" << 9100 << "";
        QTest::newRow("IPv6, blanks around")
            << QByteArray("Address=\" ::1 \"\nPort=\" 8080\"\n") << false << "::1" << 8080 << "";
        QTest::newRow("empty values are defaults")
            << QByteArray("Address=\nPort=\n") << false << "127.0.0.1" << 9077 << "";
        QTest::newRow("port 0 is any free port") << QByteArray("Port=0\n") << false << "127.0.0.1" << 0 << "";
        QTest::newRow("a name is not an address")
            << QByteArray("Enable=yes\nAddress=metrics.example\n") << false << "127.0.0.1" << 9077
            << "Metrics/Address: metrics.example is not an IP address";
        QTest::newRow("port not a number") << QByteArray("Port=90a\n") << false << "127.0.0.1" << 9077
                                           << "Metrics/Port: 90a is not a port number from 0 to 65535";
    }
    void configFromTheStore()
    {
        QFETCH(QByteArray, section);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("store.ini"));
        QVERIFY(test::writeBytes(path, "[Metrics]\n" + section));
        const MetricsConfig config = readMetricsConfig(SettingsStore(path));
        QTEST(config.windowEnabled, "enabled");
        QTEST(config.address, "address");
        QTEST(int(config.port), "port");
        QTEST(config.problem, "problem");
    }
};

SENTREL_TEST_GUILESS_MAIN(TstEngineMetrics)
#include "tst_enginemetrics.moc"
