#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace sentrel {

// A Target's status as it was recorded to change, in milliseconds since the Unix epoch.
struct StatusChange
{
    qint64 time = 0;
    int16_t status = 0;
    QString info;
};

// Uptime counts OK and WARNING as up and DOWN as down; Unknown (no result, and any time
// Sentrel was not checking) counts as neither, so it leaves the percentage alone.
bool countsAsUp(int16_t status);
bool countsAsDown(int16_t status);

// Time up and time down within a window.
struct UptimeFigure
{
    qint64 upMs = 0;
    qint64 downMs = 0;

    // Up over up and down; none when the window holds neither.
    std::optional<double> ratio() const;
};

// The time each status held within [from, to). `changes` are in the order they were recorded,
// the first of them the last change before `from` if there is one; each status holds until the
// next change, the last one until `to`. Should the clock have stepped back, time already counted
// is not counted again, so a figure never exceeds the window.
UptimeFigure uptimeOver(const std::vector<StatusChange> &changes, qint64 from, qint64 to);

// One spell of DOWN: from the change to DOWN to the next change to anything else.
struct Outage
{
    qint64 start = 0;
    std::optional<qint64> end; // none while ongoing
    QString info; // the information line at its start

    qint64 durationMs(qint64 now) const;
};

// The outages that overlap [from, to), newest first; `changes` as for uptimeOver.
std::vector<Outage> outagesOver(const std::vector<StatusChange> &changes, qint64 from, qint64 to);

// A duration in words: "45 s", "12 min", "1 h 34 min", "3 d 2 h".
QString durationText(qint64 ms);

// A ratio as a percentage with two decimals ("99.95 %"), or "no data".
QString percentText(std::optional<double> ratio);

} // namespace sentrel
