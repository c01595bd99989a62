#pragma once

#include <prometheus/metric_family.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace sentrel {

// How much the metrics server lets its clients hold. A client is an IPv4 address or an
// IPv6 /64 network.
struct MetricsLimits
{
    // Connections held at once, from one client and from all; beyond them the connection
    // that has waited longest for an answer is dropped to make room for the new one.
    size_t perClient = 64;
    size_t total = 256;
    // A connection that sends nothing for this long is closed.
    unsigned idleSeconds = 10;
};

// Limits that leave most of the process's descriptors (openFiles of them) to the checks:
// a quarter at most, and never more than the defaults.
MetricsLimits metricsLimitsFor(uint64_t openFiles);

// Serves the metric families last published at http://address:port/metrics in the
// Prometheus text format, to GET and HEAD. Every other path answers 404 and every other
// method 405, and both close the connection. One thread of its own answers every client
// through epoll from the text last published, so no client ever waits on the event loop,
// publishing never waits on a client, and clients that stall cost a descriptor each, up
// to the limits, and nobody else any time.
class MetricsExporter
{
public:
    ~MetricsExporter();
    MetricsExporter(const MetricsExporter &) = delete;
    MetricsExporter &operator=(const MetricsExporter &) = delete;

    // Listens on address (an IPv4 or IPv6 literal; "::" takes IPv4 clients as well) and
    // port (0: any free one), under limits (by default those for the process's open-file
    // limit). Null, with the reason in words in error, when it cannot
    // ("127.0.0.1:9077: address already in use").
    static std::unique_ptr<MetricsExporter> start(
        const QString &address, uint16_t port, QString &error, const MetricsLimits *limits = nullptr);

    // The port actually listened on.
    uint16_t port() const;
    // "http://127.0.0.1:9077/metrics", "http://[::1]:9077/metrics"
    QString url() const;

    // Replaces what scrapes return from now on; the text is made here, not while a client waits.
    void publish(const std::vector<prometheus::MetricFamily> &families);

    class Server;

private:
    explicit MetricsExporter(std::unique_ptr<Server> server);

    std::unique_ptr<Server> m_server;
};

} // namespace sentrel
