#include "metrics/MetricsConfig.h"

#include "settings/SettingsStore.h"

#include <QHostAddress>

namespace sentrel {

MetricsConfig readMetricsConfig(const SettingsStore &store)
{
    const QString section = QStringLiteral("Metrics");
    MetricsConfig config;
    config.windowEnabled = parseBool(store.get(section, QStringLiteral("Enable"), QString())).value_or(false);
    // A mistyped value is refused rather than replaced by the default: serving somewhere the
    // administrator did not ask for would look like success.
    const QString address = store.get(section, QStringLiteral("Address"), QString()).trimmed();
    const QString port = store.get(section, QStringLiteral("Port"), QString()).trimmed();
    if (QHostAddress candidate; candidate.setAddress(address))
        config.address = candidate.toString();
    else if (!address.isEmpty())
        config.problem =
            QStringLiteral("Metrics/Address: ") + address + QStringLiteral(" is not an IP address");
    if (const auto number = parseInteger(port, 0, 65535))
        config.port = static_cast<uint16_t>(*number);
    else if (!port.isEmpty() && config.problem.isEmpty())
        config.problem =
            QStringLiteral("Metrics/Port: ") + port + QStringLiteral(" is not a port number from 0 to 65535");
    return config;
}

} // namespace sentrel
