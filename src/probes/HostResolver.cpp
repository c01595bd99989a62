#include "probes/HostResolver.h"

#include <QMetaObject>
#include <QTimer>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>

namespace sentrel {

ResolveResult vbGetHostByName(const QString &name)
{
    const QByteArray host = name.toLocal8Bit();
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *raw = nullptr;
    errno = 0;
    const int rc = ::getaddrinfo(host.constData(), nullptr, &hints, &raw);
    const int savedErrno = errno;
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(raw, &::freeaddrinfo);
    if (rc != 0)
        return {NoAddress, wsaErrorFromGai(rc, savedErrno)};
    for (const addrinfo *ai = list.get(); ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr) {
            const auto *sin = reinterpret_cast<const sockaddr_in *>(ai->ai_addr);
            return {sin->sin_addr.s_addr, WsaError::NoError};
        }
    }
    return {NoAddress, WsaError::NoData};
}

HostResolver::HostResolver(NameLookup lookup, QObject *parent)
    : QObject(parent)
    , m_lookup(std::move(lookup))
{
    // A few lookups at once; a slow name server must not hold up every Target.
    m_pool.setMaxThreadCount(8);
}

HostResolver::~HostResolver()
{
    // Workers post their answers to this object; they must be gone before it is.
    m_pool.waitForDone();
}

void HostResolver::ResolveHostAddress(const QString &name, QObject *context, Callback done)
{
    QPointer<QObject> guard(context);
    const uint32_t dotted = ParseDottedAddress(name);
    if (dotted != NoAddress) {
        QMetaObject::invokeMethod(
            this,
            [guard, done = std::move(done), dotted] {
                if (guard)
                    done({dotted, WsaError::NoError});
            },
            Qt::QueuedConnection);
        return;
    }
    m_pool.start([this, guard, done = std::move(done), name, lookup = m_lookup]() mutable {
        ResolveResult r = lookup(name);
        // A lookup may hand back an all-ones address that is itself the answer
        // (255.255.255.255); it cannot be told from failure, as inet_addr's caller never could.
        if (r.address == NoAddress && r.error == WsaError::NoError)
            r.error = WsaError::HostNotFound;
        QMetaObject::invokeMethod(
            this,
            [guard = std::move(guard), done = std::move(done), r] {
                if (guard)
                    done(r);
            },
            Qt::QueuedConnection);
    });
}

} // namespace sentrel
