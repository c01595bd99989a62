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
    // Key Address: an IP address literal; anything else reads as the default. Serving takes
    // IPv4 only and refuses an IPv6 address with a message.
    QString address = QStringLiteral("127.0.0.1");
    // Key Port: 0 lets the system pick a free port; anything outside 0-65535 reads as the default.
    uint16_t port = DefaultMetricsPort;
};

MetricsConfig readMetricsConfig(const SettingsStore &store);

} // namespace sentrel
