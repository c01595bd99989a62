#pragma once

#include "probes/WinSock.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <functional>

namespace sentrel {

// An IPv4 address in network order, or NoAddress with the Windows Sockets
// error code that explains why the name did not resolve.
struct ResolveResult
{
    uint32_t address = NoAddress;
    int error = WsaError::NoError;
};

// A blocking name-service query. Runs on a worker thread, never on the UI thread.
using NameLookup = std::function<ResolveResult(const QString &name)>;

// The name service through getaddrinfo(): the first IPv4 address in the order
// the resolver gives. The name is passed whole, however long.
ResolveResult vbGetHostByName(const QString &name);

// Turns host names and dotted addresses into IPv4 addresses without blocking
// the caller's thread. Answers are delivered on the thread that owns the resolver.
class HostResolver : public QObject
{
    Q_OBJECT
public:
    explicit HostResolver(NameLookup lookup = vbGetHostByName, QObject *parent = nullptr);
    ~HostResolver() override;

    using Callback = std::function<void(const ResolveResult &)>;

    // Dotted text is parsed with inet_addr; only when that gives all ones is the
    // name service asked. `done` runs later from the event loop, never inside this
    // call, and not at all once `context` has been destroyed.
    void ResolveHostAddress(const QString &name, QObject *context, Callback done);

private:
    NameLookup m_lookup;
    QThreadPool m_pool;
};

} // namespace sentrel
