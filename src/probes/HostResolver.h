#pragma once

#include "probes/HostAddress.h"
#include "probes/WinSock.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace sentrel {

// The address a host is checked on, or the Windows Sockets error code that
// explains why the name did not resolve. `address` is the IPv4 address in network
// order, NoAddress when there is none (also when the host is reached over IPv6).
struct ResolveResult
{
    ResolveResult() = default;
    ResolveResult(uint32_t address, int error, HostAddress host = {})
        : address(address)
        , error(error)
        , host(host)
    { }

    uint32_t address = NoAddress;
    int error = WsaError::NoError;
    HostAddress host; // valid when found()

    bool found() const { return address != NoAddress || host.isIpv6; }
};

// What the name service answered for a name: its IPv4 addresses (network order)
// in the order it gave them, or the Windows Sockets code of why there are none.
// Only a name without any IPv4 address has its IPv6 addresses asked for, again
// in the service's order.
struct HostEntry
{
    HostEntry() = default;
    HostEntry(std::vector<uint32_t> addresses, int error, std::vector<Ipv6Bytes> addresses6 = {})
        : addresses(std::move(addresses))
        , error(error)
        , addresses6(std::move(addresses6))
    { }

    std::vector<uint32_t> addresses;
    int error = WsaError::NoError;
    std::vector<Ipv6Bytes> addresses6;
};

// A blocking name-service query. Runs on a worker thread, never on the UI thread.
using NameService = std::function<HostEntry(const QString &name)>;

// The system's name service through gethostbyname_r, which keeps the order of the
// answer; getaddrinfo would re-sort it and move an unroutable first address last.
// A name with no IPv4 address is asked again through gethostbyname2_r for IPv6,
// for the same reason. The name is passed whole, however long.
HostEntry systemNameService(const QString &name);

// The first IPv4 address of the answer of `service` for `name`; the first IPv6
// address when the answer holds no IPv4 address.
ResolveResult vbGetHostByName(const QString &name, const NameService &service = systemNameService);

// Turns host names, dotted addresses and IPv6 literals into addresses without
// blocking the caller's thread. Answers are delivered on the thread that owns the
// resolver. A name is looked up once however many ask for it, and its answer is
// kept until forgetAnswers(). A lookup that hangs does not hold up the others:
// one running for longer than 0.2 s stops counting against the few
// lookups that run at once. Destroying the resolver never waits for a lookup: one
// still under way is left to finish on its own thread, and its answer is dropped.
class HostResolver : public QObject
{
    Q_OBJECT
public:
    explicit HostResolver(NameService service = systemNameService, QObject *parent = nullptr);
    ~HostResolver() override;

    using Callback = std::function<void(const ResolveResult &)>;

    // Dotted text is parsed with inet_addr, then an IPv6 literal is tried; only
    // when neither fits is the name service asked. `done` runs later from the event
    // loop, never inside this call, and not at all once `context` or the resolver
    // has been destroyed.
    void ResolveHostAddress(const QString &name, QObject *context, Callback done);

    // Answers given so far are not used again: the next request for a name asks
    // the name service anew (a lookup still under way is joined, not repeated).
    void forgetAnswers();

    struct Shared;

private:
    struct Waiter
    {
        QPointer<QObject> guard;
        Callback done;
    };
    void answerLater(QObject *context, Callback done, const ResolveResult &result);
    void answered(const QString &name, const ResolveResult &result);
    void startLookup(const QString &name);
    void growPool();

    NameService m_service;
    std::shared_ptr<Shared> m_shared;
    QHash<QString, std::vector<Waiter>> m_waiting;
    QHash<QString, ResolveResult> m_answers;
    QTimer m_poolTimer;
};

} // namespace sentrel
