#pragma once

#include "probes/WinSock.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

namespace sentrel {

// An IPv4 address in network order, or NoAddress with the Windows Sockets
// error code that explains why the name did not resolve.
struct ResolveResult
{
    uint32_t address = NoAddress;
    int error = WsaError::NoError;
};

// What the name service answered for a name: its IPv4 addresses (network order)
// in the order it gave them, or the Windows Sockets code of why there are none.
struct HostEntry
{
    std::vector<uint32_t> addresses;
    int error = WsaError::NoError;
};

// A blocking name-service query. Runs on a worker thread, never on the UI thread.
using NameService = std::function<HostEntry(const QString &name)>;

// The system's name service through gethostbyname_r, which keeps the order of the
// answer; getaddrinfo would re-sort it and move an unroutable first address last.
// The name is passed whole, however long.
HostEntry systemNameService(const QString &name);

// The first IPv4 address of the answer of `service` for `name`.
ResolveResult vbGetHostByName(const QString &name, const NameService &service = systemNameService);

// Turns host names and dotted addresses into IPv4 addresses without blocking
// the caller's thread. Answers are delivered on the thread that owns the resolver.
// Destroying it never waits for a lookup: one still under way is left to finish
// on its own thread, and its answer is dropped.
class HostResolver : public QObject
{
    Q_OBJECT
public:
    explicit HostResolver(NameService service = systemNameService, QObject *parent = nullptr);
    ~HostResolver() override;

    using Callback = std::function<void(const ResolveResult &)>;

    // Dotted text is parsed with inet_addr; only when that gives all ones is the
    // name service asked. `done` runs later from the event loop, never inside this
    // call, and not at all once `context` or the resolver has been destroyed.
    void ResolveHostAddress(const QString &name, QObject *context, Callback done);

    struct Shared;

private:
    NameService m_service;
    std::shared_ptr<Shared> m_shared;
};

} // namespace sentrel
