#pragma once

#include <prometheus/metric_family.h>

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace prometheus {
class Exposer;
}

namespace sentrel {

class MetricsSnapshot;

// Serves the metric families last published at http://address:port/metrics in the
// Prometheus text format; every other path answers 404. Requests are answered by the
// HTTP library's own worker threads from an immutable copy of the last publication, so
// neither a scrape nor a client that stalls ever waits on the event loop, and
// publishing never waits on a scrape.
class MetricsExporter
{
public:
    ~MetricsExporter();
    MetricsExporter(const MetricsExporter &) = delete;
    MetricsExporter &operator=(const MetricsExporter &) = delete;

    // Listens on address (an IPv4 literal) and port (0: any free one). Null, with
    // the reason in error, when the port cannot be had.
    static std::unique_ptr<MetricsExporter> start(const QString &address, uint16_t port, QString &error);

    // The port actually listened on.
    uint16_t port() const { return m_port; }
    // "http://127.0.0.1:9077/metrics"
    QString url() const;

    // Replaces what scrapes return from now on.
    void publish(std::vector<prometheus::MetricFamily> families);

private:
    MetricsExporter() = default;

    std::shared_ptr<MetricsSnapshot> m_snapshot;
    std::unique_ptr<prometheus::Exposer> m_exposer;
    QString m_address;
    uint16_t m_port = 0;
};

} // namespace sentrel
