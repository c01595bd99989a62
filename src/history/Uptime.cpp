#include "history/Uptime.h"

#include "engine/Target.h"

#include <algorithm>

namespace sentrel {

bool countsAsUp(int16_t status)
{
    return status == TargetStatus::Ok || status == TargetStatus::Warning;
}

bool countsAsDown(int16_t status)
{
    return status == TargetStatus::Down;
}

std::optional<double> UptimeFigure::ratio() const
{
    const qint64 known = upMs + downMs;
    if (known <= 0)
        return std::nullopt;
    return static_cast<double>(upMs) / static_cast<double>(known);
}

UptimeFigure uptimeOver(const std::vector<StatusChange> &changes, qint64 from, qint64 to)
{
    UptimeFigure figure;
    // Everything before the cursor has been counted (or lies before the window).
    qint64 cursor = from;
    for (size_t i = 0; i < changes.size(); ++i) {
        const qint64 start = std::max(changes[i].time, cursor);
        const qint64 end = std::min(i + 1 < changes.size() ? changes[i + 1].time : to, to);
        if (end > start) {
            if (countsAsUp(changes[i].status))
                figure.upMs += end - start;
            else if (countsAsDown(changes[i].status))
                figure.downMs += end - start;
        }
        cursor = std::max({cursor, changes[i].time, std::min(end, to)});
        if (cursor >= to)
            break;
    }
    return figure;
}

qint64 Outage::durationMs(qint64 now) const
{
    return std::max<qint64>(0, end.value_or(now) - start);
}

std::vector<Outage> outagesOver(const std::vector<StatusChange> &changes, qint64 from, qint64 to)
{
    std::vector<Outage> outages;
    std::optional<Outage> open;
    for (const StatusChange &c : changes) {
        if (countsAsDown(c.status)) {
            if (!open)
                open = Outage {c.time, std::nullopt, c.info};
            continue;
        }
        if (open) {
            open->end = std::max(c.time, open->start);
            outages.push_back(*open);
            open.reset();
        }
    }
    if (open)
        outages.push_back(*open);
    std::erase_if(outages, [&](const Outage &o) { return o.start >= to || o.end.value_or(to) <= from; });
    std::reverse(outages.begin(), outages.end());
    return outages;
}

QString durationText(qint64 ms)
{
    const qint64 s = std::max<qint64>(0, ms) / 1000;
    if (s < 60)
        return QString::number(s) + QStringLiteral(" s");
    const qint64 min = s / 60;
    if (min < 60)
        return QString::number(min) + QStringLiteral(" min");
    const qint64 h = min / 60;
    if (h < 24)
        return QString::number(h) + QStringLiteral(" h ") + QString::number(min % 60)
            + QStringLiteral(" min");
    return QString::number(h / 24) + QStringLiteral(" d ") + QString::number(h % 24) + QStringLiteral(" h");
}

QString percentText(std::optional<double> ratio)
{
    if (!ratio)
        return QStringLiteral("no data");
    // Never rounds a single minute down to 100.00 %.
    double percent = *ratio * 100.0;
    if (*ratio < 1.0)
        percent = std::min(percent, 99.99);
    return QString::number(percent, 'f', 2) + QStringLiteral(" %");
}

} // namespace sentrel
