#include "probes/HostResolver.h"

#include <QMetaObject>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace sentrel {

namespace {

// A few lookups at once; a slow name server must not hold up every Target.
constexpr int MaxLookupThreads = 8;

} // namespace

HostEntry systemNameService(const QString &name)
{
    const QByteArray host = name.toLocal8Bit();
    std::vector<char> buffer(1024);
    hostent entry {};
    hostent *result = nullptr;
    int herr = 0;
    int rc = 0;
    while ((rc = ::gethostbyname_r(host.constData(), &entry, buffer.data(), buffer.size(), &result, &herr))
        == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (rc != 0 || !result)
        return {{}, wsaErrorFromHerrno(herr, rc)};
    HostEntry answer;
    if (result->h_addrtype == AF_INET && result->h_length == 4) {
        for (char **a = result->h_addr_list; a && *a; ++a) {
            uint32_t address = 0;
            std::memcpy(&address, *a, sizeof address);
            answer.addresses.push_back(address);
        }
    }
    if (answer.addresses.empty())
        answer.error = WsaError::NoData;
    return answer;
}

ResolveResult vbGetHostByName(const QString &name, const NameService &service)
{
    const HostEntry answer = service(name);
    if (answer.addresses.empty())
        return {NoAddress, answer.error != WsaError::NoError ? answer.error : WsaError::NoData};
    return {answer.addresses.front(), WsaError::NoError};
}

// What the resolver shares with its lookup threads. The threads are detached and
// hold this, not the resolver, so that nothing ever waits for a name server.
struct HostResolver::Shared
{
    std::mutex mutex;
    HostResolver *owner = nullptr; // null once the resolver is gone
    std::deque<std::function<void()>> queue;
    int threads = 0;

    static void work(const std::shared_ptr<Shared> &shared)
    {
        for (;;) {
            std::function<void()> job;
            {
                std::lock_guard lock(shared->mutex);
                if (shared->queue.empty() || !shared->owner) {
                    --shared->threads;
                    return;
                }
                job = std::move(shared->queue.front());
                shared->queue.pop_front();
            }
            job();
        }
    }
};

HostResolver::HostResolver(NameService service, QObject *parent)
    : QObject(parent)
    , m_service(std::move(service))
    , m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
}

HostResolver::~HostResolver()
{
    // Lookups not yet started are dropped; the callbacks they hold belong to this thread.
    std::deque<std::function<void()>> dropped;
    std::lock_guard lock(m_shared->mutex);
    m_shared->owner = nullptr;
    dropped.swap(m_shared->queue);
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
    auto job = [shared = std::weak_ptr<Shared>(m_shared), guard, done = std::move(done), name,
                   service = m_service]() mutable {
        ResolveResult r = vbGetHostByName(name, service);
        // A lookup may hand back an all-ones address that is itself the answer
        // (255.255.255.255); it cannot be told from failure, as inet_addr's caller never could.
        if (r.address == NoAddress && r.error == WsaError::NoError)
            r.error = WsaError::HostNotFound;
        const std::shared_ptr<Shared> alive = shared.lock();
        if (!alive)
            return;
        std::lock_guard lock(alive->mutex);
        if (!alive->owner)
            return;
        QMetaObject::invokeMethod(
            alive->owner,
            [guard = std::move(guard), done = std::move(done), r] {
                if (guard)
                    done(r);
            },
            Qt::QueuedConnection);
    };
    std::lock_guard lock(m_shared->mutex);
    m_shared->queue.push_back(std::move(job));
    if (m_shared->threads < MaxLookupThreads) {
        ++m_shared->threads;
        std::thread([shared = m_shared] { Shared::work(shared); }).detach();
    }
}

} // namespace sentrel
