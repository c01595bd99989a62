#pragma once

#include "probes/HostAddress.h"
#include "probes/ProbeTypes.h"

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <memory>

namespace sentrel {

// Linux retries a connect for about two minutes; the monitored hosts were
// judged by a stack that gave up after about 21 seconds.
constexpr int ConnectTimeoutSeconds = 21;
constexpr int SendWaitSeconds = 5;
constexpr int ReceiveChunk = 256;
// A reply is never allowed to grow past this many bytes.
constexpr int MaxReplyBytes = 64 * 1024;
// Idle timeout used when the caller passes a count that is not positive.
constexpr int DefaultIdleTimeout = 60;
// A peer that never pauses for a whole second would keep the read going for
// ever; the whole read may last this many times the idle timeout.
constexpr int ReadTimeLimitFactor = 3;

// The number of one-second idle waits a read allows for `timeOut`.
inline int effectiveIdleTimeout(int16_t timeOut)
{
    return timeOut > 0 ? timeOut : DefaultIdleTimeout;
}

// Wall-clock limit of the whole read, in milliseconds.
inline qint64 readTimeLimitMs(int16_t timeOut)
{
    return qint64(ReadTimeLimitFactor) * effectiveIdleTimeout(timeOut) * 1000;
}

struct ProbeOutcome
{
    ProbeStatus status = 0;
    QString text;
};

// Result and text of a connect that failed with Windows Sockets code `wsaCode`.
ProbeOutcome connectFailure(int wsaCode, int16_t port);

// The closing text sent to `port` (Latin-1 bytes); empty for port 13.
QByteArray QuitText(int16_t port);

// Line-end clean-up of a TCP reply: bare LF gets a CR, EOT and NUL are dropped,
// a trailing CR gets its LF, leading blanks are removed.
void todos(QString &text);

// One TCP probe in flight. Destroying it cancels the probe: the socket is closed
// and no callback runs afterwards. `finished` may destroy the probe.
class PortProbe : public QObject
{
    Q_OBJECT
public:
    using Finished = std::function<void(ProbeStatus status, const QString &reply)>;

    PortProbe(const HostAddress &address, int16_t port, int16_t timeOut, bool dosend,
        AbortFlag abortRequested, ProgressSink progress, Finished finished, QObject *parent = nullptr);
    PortProbe(uint32_t ipaddr, int16_t port, int16_t timeOut, bool dosend, AbortFlag abortRequested,
        ProgressSink progress, Finished finished, QObject *parent = nullptr);
    ~PortProbe() override;

    // Replaces the connect bound of ConnectTimeoutSeconds; effective only when
    // called before the connect starts, that is right after construction.
    void setConnectTimeout(std::chrono::milliseconds timeout);

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// Connects to `port` of `ipaddr` (network order), sends the closing text when
// `dosend`, and collects the reply until the peer closes, `timeOut` one-second
// waits pass without data, an error occurs or the abort flag is seen. The result
// and the normalised reply arrive through `finished`, never inside this call.
std::unique_ptr<PortProbe> checkport(uint32_t ipaddr, int16_t port, int16_t timeOut, bool dosend,
    AbortFlag abortRequested, ProgressSink progress, PortProbe::Finished finished);

// The same over IPv4 or IPv6, with the same texts, reads, bounds and results.
std::unique_ptr<PortProbe> checkport(const HostAddress &address, int16_t port, int16_t timeOut, bool dosend,
    AbortFlag abortRequested, ProgressSink progress, PortProbe::Finished finished);

} // namespace sentrel
