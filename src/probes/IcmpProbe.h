#pragma once

#include "engine/Target.h"
#include "probes/IcmpPacket.h"
#include "probes/ProbeTypes.h"

#include <QObject>

#include <memory>

namespace sentrel {

// The fields of an echo answer that pingcheck judges.
struct EchoReply
{
    EchoReply() = default;
    EchoReply(bool answered, uint32_t address, uint32_t status, int rttMs, int ttl, int64_t rttMicros = -1)
        : answered(answered)
        , address(address)
        , status(status)
        , rttMs(rttMs)
        , ttl(ttl)
        , rttMicros(rttMicros < 0 ? int64_t(rttMs) * 1000 : rttMicros)
    { }

    bool answered = false; // false: nothing about this echo arrived in time
    uint32_t address = 0; // replying address, network order
    uint32_t status = 0; // 0 success, else an ICMP status code (11002 ...)
    int rttMs = 0;
    int ttl = 0; // the hop limit for an ICMPv6 answer
    int64_t rttMicros = 0; // the same time as rttMs, finer
    bool ipv6 = false; // the answer came over ICMPv6, from address6
    Ipv6Bytes address6 {};
};

// Everything one echo produced, including the failures of its handle.
struct EchoOutcome
{
    bool opened = true; // false: no ICMP socket could be opened
    EchoReply reply;
    bool closeFailed = false; // closing the handle failed
};

// Text for an ICMP status code; the empty text for codes outside the table.
QString GetIcmpStatusText(uint32_t status);

struct PingResult
{
    ProbeStatus code = 0;
    QString msg;
};

// Judges one echo outcome for `target`: the message, the result code, and the
// update of the target's SmoothedRtt (a decay below 1 counts as 1), LastRtt and LastRttMicros.
PingResult judgeEcho(const EchoOutcome &outcome, Target &target, int16_t decay);

// Sends ICMP echo requests through one ICMP socket shared by all echoes in
// flight (one per address family), and routes each reply or ICMP error to its
// echo by identifier and sequence number. A socket is opened when the first echo
// needs it and closed when the last one ends.
class IcmpEchoService : public QObject
{
    Q_OBJECT
public:
    // Which socket kind to use; Any tries a datagram ("ping") socket first, then raw.
    enum class SocketKind { Any, Datagram, Raw };

    explicit IcmpEchoService(SocketKind kind = SocketKind::Any, QObject *parent = nullptr);
    ~IcmpEchoService() override;

    // One echo in flight. Destroying it cancels the echo; no callback runs afterwards.
    class Echo;
    using Done = std::function<void(const EchoOutcome &)>;

    // Sends one echo to `ipaddr` (network order) and reports within `timeoutMs`.
    // `done` runs from the event loop, never inside this call, and may destroy the Echo.
    // Destroying the service cancels every echo still in flight.
    std::unique_ptr<Echo> sendEcho(uint32_t ipaddr, int timeoutMs, Done done);
    // The same to an IPv4 or IPv6 address; ICMPv6 for an IPv6 one.
    std::unique_ptr<Echo> sendEcho(const HostAddress &address, int timeoutMs, Done done);

    // The kind of the ICMP socket open now (the IPv4 one first); Any while none is open.
    SocketKind activeKind() const;

    // Whether a socket of `kind` can be opened now, in the calling thread's network namespace.
    static bool canOpen(SocketKind kind, bool ipv6 = false);

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
    std::unique_ptr<Impl> m_impl6;
};

class IcmpEchoService::Echo
{
public:
    virtual ~Echo() = default;
    Echo(const Echo &) = delete;
    Echo &operator=(const Echo &) = delete;

protected:
    Echo() = default;
};

// One ICMP echo for the Target at `idx`: reads its RTT limit and updates its
// SmoothedRtt by `settings.Decay` when the answer arrives (if the table still
// holds that Target). `timeOut` is in seconds. `table` and `settings` must outlive the echo.
std::unique_ptr<IcmpEchoService::Echo> pingcheck(IcmpEchoService &service, uint32_t ipaddr, int16_t timeOut,
    int16_t idx, TargetTable &table, const GlobalSettings &settings,
    std::function<void(ProbeStatus, const QString &)> done);
std::unique_ptr<IcmpEchoService::Echo> pingcheck(IcmpEchoService &service, const HostAddress &address,
    int16_t timeOut, int16_t idx, TargetTable &table, const GlobalSettings &settings,
    std::function<void(ProbeStatus, const QString &)> done);

} // namespace sentrel
