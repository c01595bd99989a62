#pragma once

#include <QString>

#include <cstdint>
#include <functional>

namespace sentrel {

// A probe's 16-bit result, in the TargetStatus number space; -1 means "no answer,
// try the next method".
using ProbeStatus = int16_t;

// Reads the caller's "abort update" request; probes test it before each one-second wait.
using AbortFlag = std::function<bool()>;

// Receives a probe's progress captions for the status line ("Connecting...", ...,
// and the empty text when the probe ends).
using ProgressSink = std::function<void(const QString &caption)>;

// A number as text with a leading blank in place of a plus sign: " 5", "-3".
inline QString spaced(long long value)
{
    return value < 0 ? QString::number(value) : QStringLiteral(" ") + QString::number(value);
}

} // namespace sentrel
