#include "metrics/EngineMetrics.h"

#include "engine/Monitor.h"
#include "engine/StatusCounts.h"
#include "metrics/MetricsExporter.h"

#include <string>
#include <unordered_set>
#include <utility>

namespace sentrel {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

MetricFamily family(const char *name, const char *help, MetricType type)
{
    MetricFamily f;
    f.name = name;
    f.help = help;
    f.type = type;
    return f;
}

ClientMetric gauge(double value, std::vector<ClientMetric::Label> labels = {})
{
    ClientMetric m;
    m.label = std::move(labels);
    m.gauge.value = value;
    return m;
}

// The status label of a Target status; the names the check-once command prints, in lower case.
const char *statusLabel(int16_t status)
{
    switch (status) {
    case TargetStatus::Ok:
        return "ok";
    case TargetStatus::Warning:
        return "warning";
    case TargetStatus::Down:
        return "down";
    default:
        return "unknown";
    }
}

double unixSeconds(const QDateTime &time)
{
    return static_cast<double>(time.toMSecsSinceEpoch()) / 1000.0;
}

} // namespace

std::vector<MetricFamily> collectMetrics(
    const TargetTable &table, const CycleFacts &cycles, const QHash<QString, double> *dayUptimes)
{
    MetricFamily status = family("sentrel_target_status",
        "Result of the Target's last check: 0 unknown, 1 OK, 2 WARNING, 3 DOWN.", MetricType::Gauge);
    MetricFamily rtt = family("sentrel_target_rtt_seconds",
        "Round-trip time of the Target's last ICMP echo, if it was answered in time.", MetricType::Gauge);
    MetricFamily smoothed = family("sentrel_target_rtt_smoothed_seconds",
        "Smoothed round-trip time of the Target's ICMP echoes.", MetricType::Gauge);
    MetricFamily lastCheck = family("sentrel_target_last_check_timestamp_seconds",
        "When the Target's last check began, in seconds since the Unix epoch.", MetricType::Gauge);
    MetricFamily uptime = family("sentrel_target_uptime_ratio",
        "Share of the last 24 hours the Target was up (OK or WARNING) of the time it was up or down.",
        MetricType::Gauge);
    MetricFamily perStatus =
        family("sentrel_targets", "Number of Targets by the result of their last check.", MetricType::Gauge);

    std::unordered_set<std::string> ids;
    for (int16_t index = 0; index < table.size(); ++index) {
        const Target &t = table[index];
        if (t.isFree())
            continue;
        // The identity keeps a Target's series when others are deleted or moved, and keeps two
        // Targets with the same host and description apart. Should one ever lack an identity
        // of its own, its slot stands in, since one sample twice spoils the whole scrape.
        std::string id = t.Uid.toStdString();
        if (id.empty() || !ids.insert(id).second)
            id = "slot" + std::to_string(index);
        const std::vector<ClientMetric::Label> labels {
            {"id", id}, {"host", t.Hostname.toStdString()}, {"description", t.Desc.toStdString()}};
        const int16_t code =
            t.Status >= TargetStatus::Ok && t.Status <= TargetStatus::Down ? t.Status : TargetStatus::Unknown;
        status.metric.push_back(gauge(code, labels));
        if (t.LastRttMicros >= 0)
            rtt.metric.push_back(gauge(static_cast<double>(t.LastRttMicros) / 1e6, labels));
        if (t.UseP && t.SmoothedRtt >= 0)
            smoothed.metric.push_back(gauge(t.SmoothedRtt / 1000.0, labels));
        if (t.LastCheck.isValid())
            lastCheck.metric.push_back(gauge(unixSeconds(t.LastCheck), labels));
        if (const auto it =
                dayUptimes ? dayUptimes->constFind(t.Uid) : QHash<QString, double>::const_iterator {};
            dayUptimes && it != dayUptimes->cend())
            uptime.metric.push_back(gauge(*it, labels));
    }
    const StatusCounts counts = countStatuses(table);
    for (const auto &[code, n] :
        {std::pair {TargetStatus::Unknown, counts.unknown}, std::pair {TargetStatus::Ok, counts.ok},
            std::pair {TargetStatus::Warning, counts.warning}, std::pair {TargetStatus::Down, counts.down}})
        perStatus.metric.push_back(gauge(n, {{"status", statusLabel(code)}}));

    std::vector<MetricFamily> families {
        std::move(status), std::move(rtt), std::move(smoothed), std::move(lastCheck), std::move(perStatus)};
    if (!uptime.metric.empty())
        families.push_back(std::move(uptime));

    MetricFamily cyclesTotal =
        family("sentrel_cycles_total", "Check cycles finished since the start.", MetricType::Counter);
    ClientMetric count;
    count.counter.value = static_cast<double>(cycles.cyclesFinished);
    cyclesTotal.metric.push_back(count);
    families.push_back(std::move(cyclesTotal));
    if (cycles.durationSeconds) {
        MetricFamily duration = family("sentrel_cycle_duration_seconds",
            "How long the last check cycle took, from its start to its last result.", MetricType::Gauge);
        duration.metric.push_back(gauge(*cycles.durationSeconds));
        families.push_back(std::move(duration));
    }
    if (cycles.finishedAt.isValid()) {
        MetricFamily finished = family("sentrel_last_cycle_timestamp_seconds",
            "When the last check cycle ended, in seconds since the Unix epoch.", MetricType::Gauge);
        finished.metric.push_back(gauge(unixSeconds(cycles.finishedAt)));
        families.push_back(std::move(finished));
    }
    return families;
}

MetricsPublisher::MetricsPublisher(
    const TargetTable &table, Monitor &monitor, MetricsExporter &exporter, QObject *parent)
    : QObject(parent)
    , m_table(table)
    , m_exporter(exporter)
{
    connect(&monitor, &Monitor::cycleStarted, this, [this] { m_cycleClock.start(); });
    connect(&monitor, &Monitor::cycleFinished, this, [this] {
        ++m_cycles.cyclesFinished;
        if (m_cycleClock.isValid())
            m_cycles.durationSeconds = static_cast<double>(m_cycleClock.nsecsElapsed()) / 1e9;
        m_cycles.finishedAt = QDateTime::currentDateTime();
        publishNow();
    });
}

void MetricsPublisher::publishNow()
{
    m_exporter.publish(collectMetrics(m_table, m_cycles, m_dayUptimes));
}

} // namespace sentrel
