#pragma once

#include <QFont>

namespace sentrel {

// Arial at a size in points, or a metric-compatible or the system's sans-serif face without it.
QFont arialFont(qreal pointSize);

// Courier New at a size in points, or a metric-compatible or the system's monospace face without it.
QFont courierNewFont(qreal pointSize);

// The font every dialog's controls use.
QFont dialogFont();

} // namespace sentrel
