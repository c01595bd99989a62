#pragma once

#include "engine/Target.h"

#include <prometheus/metric_family.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>

#include <optional>
#include <vector>

namespace sentrel {

class Monitor;
class MetricsExporter;

// What the metrics know about the check cycles beyond the table itself.
struct CycleFacts
{
    quint64 cyclesFinished = 0;
    // Of the last finished cycle; unset before the first one.
    std::optional<double> durationSeconds;
    QDateTime finishedAt;
};

// The metric families for the used slots of table: per Target its status, echo round-trip
// times and the time of its last check (labels id, host, description), the number of
// Targets per status, and the cycle's duration, end time and count. A value not measured
// yet (no echo answered, never checked) is left out rather than given as 0.
// With day uptimes (by Target::Uid), also each Target's uptime ratio over the last 24 hours,
// labelled by its id as well.
std::vector<prometheus::MetricFamily> collectMetrics(
    const TargetTable &table, const CycleFacts &cycles, const QHash<QString, double> *dayUptimes = nullptr);

// Publishes the engine's state to an exporter whenever a check cycle ends, timing the
// cycles on a monotonic clock. Runs on the thread of the monitor.
class MetricsPublisher : public QObject
{
    Q_OBJECT
public:
    MetricsPublisher(
        const TargetTable &table, Monitor &monitor, MetricsExporter &exporter, QObject *parent = nullptr);

    // Publishes the table as it stands now.
    void publishNow();
    // Where the uptime ratios over 24 hours are kept; none leaves them out.
    void setDayUptimes(const QHash<QString, double> *uptimes) { m_dayUptimes = uptimes; }

private:
    const TargetTable &m_table;
    MetricsExporter &m_exporter;
    QElapsedTimer m_cycleClock;
    CycleFacts m_cycles;
    const QHash<QString, double> *m_dayUptimes = nullptr;
};

} // namespace sentrel
