#pragma once

#include <QString>

#include <cstdint>

namespace sentrel {

class SettingsStore;

// The port the metrics endpoint listens on unless the store names another. It lies outside
// 9090-9999, where Prometheus itself and the registered exporters live.
constexpr uint16_t DefaultMetricsPort = 9077;

// Where and whether the Prometheus endpoint is served, from the store's section "Metrics".
struct MetricsConfig
{
    // Key Enable: whether the window serves metrics (--serve always does).
    bool windowEnabled = false;
    // Key Address: an IPv4 or IPv6 address literal.
    QString address = QStringLiteral("127.0.0.1");
    // Key Port: 0 lets the system pick a free port.
    uint16_t port = DefaultMetricsPort;
    // Why the stored Address or Port cannot be served on, naming the key; empty when both
    // can. A key that is missing or empty takes its default.
    QString problem;
};

MetricsConfig readMetricsConfig(const SettingsStore &store);

} // namespace sentrel
