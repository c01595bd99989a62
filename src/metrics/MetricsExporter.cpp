#include "metrics/MetricsExporter.h"

#include <prometheus/collectable.h>
#include <prometheus/exposer.h>

#include <QHostAddress>

#include <exception>
#include <mutex>

namespace sentrel {

// The last publication. The lock guards only the swap and the copy of the pointer, so the
// publishing thread never waits for a scrape to finish.
class MetricsSnapshot : public prometheus::Collectable
{
public:
    void replace(std::vector<prometheus::MetricFamily> families)
    {
        auto next = std::make_shared<const std::vector<prometheus::MetricFamily>>(std::move(families));
        std::lock_guard lock(m_mutex);
        m_families.swap(next);
    }

    std::vector<prometheus::MetricFamily> Collect() const override
    {
        std::shared_ptr<const std::vector<prometheus::MetricFamily>> current;
        {
            std::lock_guard lock(m_mutex);
            current = m_families;
        }
        return current ? *current : std::vector<prometheus::MetricFamily> {};
    }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const std::vector<prometheus::MetricFamily>> m_families;
};

namespace {

// Worker threads: a client that connects and says nothing holds one of them until the
// request time-out, so a few of them keep scrapes flowing meanwhile.
constexpr const char *WorkerThreads = "8";
// Prometheus sends its whole request at once; a client that takes longer is let go.
constexpr const char *RequestTimeoutMs = "5000";

} // namespace

MetricsExporter::~MetricsExporter()
{
    // The server's threads are joined before the snapshot they read goes away.
    m_exposer.reset();
}

std::unique_ptr<MetricsExporter> MetricsExporter::start(const QString &address, uint16_t port, QString &error)
{
    QHostAddress host;
    if (!host.setAddress(address) || host.protocol() != QAbstractSocket::IPv4Protocol) {
        // Debian 12's civetweb is built without IPv6, so only IPv4 can be listened on.
        error = address + QStringLiteral(": not an IPv4 address (IPv6 is not supported)");
        return nullptr;
    }
    const QString hostText = host.toString();
    const std::string listening = (hostText + u':' + QString::number(port)).toStdString();

    std::unique_ptr<MetricsExporter> exporter(new MetricsExporter);
    exporter->m_snapshot = std::make_shared<MetricsSnapshot>();
    try {
        exporter->m_exposer =
            std::make_unique<prometheus::Exposer>(std::vector<std::string> {"listening_ports", listening,
                "num_threads", WorkerThreads, "request_timeout_ms", RequestTimeoutMs});
        // A pattern, not a plain path: the server hands a plain path everything below it as well
        // ("/metrics/x"), and only /metrics itself is to answer.
        exporter->m_exposer->RegisterCollectable(exporter->m_snapshot, "/metrics$");
        const std::vector<int> ports = exporter->m_exposer->GetListeningPorts();
        if (ports.empty() || ports.front() <= 0 || ports.front() > 65535) {
            error = QStringLiteral("no port to listen on at ") + QString::fromStdString(listening);
            return nullptr;
        }
        exporter->m_port = static_cast<uint16_t>(ports.front());
    } catch (const std::exception &e) {
        error = QString::fromStdString(listening) + QStringLiteral(": ") + QString::fromLocal8Bit(e.what());
        return nullptr;
    }
    exporter->m_address = hostText;
    return exporter;
}

QString MetricsExporter::url() const
{
    return QStringLiteral("http://") + m_address + u':' + QString::number(m_port)
        + QStringLiteral("/metrics");
}

void MetricsExporter::publish(std::vector<prometheus::MetricFamily> families)
{
    m_snapshot->replace(std::move(families));
}

} // namespace sentrel
