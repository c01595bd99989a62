#include "metrics/MetricsConfig.h"

#include "settings/SettingsStore.h"

#include <QHostAddress>

namespace sentrel {

MetricsConfig readMetricsConfig(const SettingsStore &store)
{
    const QString section = QStringLiteral("Metrics");
    MetricsConfig config;
    config.windowEnabled = parseBool(store.get(section, QStringLiteral("Enable"), QString())).value_or(false);
    // Falling back keeps the endpoint on loopback, the safe side of a mistyped address.
    const QString address = store.get(section, QStringLiteral("Address"), QString()).trimmed();
    if (QHostAddress candidate; candidate.setAddress(address))
        config.address = candidate.toString();
    if (const auto port = parseInteger(store.get(section, QStringLiteral("Port"), QString()), 0, 65535))
        config.port = static_cast<uint16_t>(*port);
    return config;
}

} // namespace sentrel
