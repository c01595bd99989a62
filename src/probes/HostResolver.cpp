#include "probes/HostResolver.h"

#include <QMetaObject>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

namespace sentrel {

namespace {

// A few lookups at once; a slow name server must not hold up every Target.
constexpr int MaxLookupThreads = 8;
// A lookup still running after this long is taken to wait for a name server
// that does not answer, and no longer counts against MaxLookupThreads.
constexpr auto SlowLookup = std::chrono::milliseconds(200);
constexpr int PoolCheckMs = 50;
// Threads in all, hung ones included; more dead names than this queue the rest.
constexpr int MaxThreadsInAll = 64;

using Clock = std::chrono::steady_clock;

// One family's addresses in the order of the answer: gethostbyname_r for IPv4,
// as it always was, gethostbyname2_r for IPv6.
template<class Address>
HostEntry lookUp(const QByteArray &host, int family, std::vector<Address> HostEntry::*into)
{
    std::vector<char> buffer(1024);
    hostent entry {};
    hostent *result = nullptr;
    int herr = 0;
    int rc = 0;
    while ((rc = family == AF_INET
                   ? ::gethostbyname_r(host.constData(), &entry, buffer.data(), buffer.size(), &result, &herr)
                   : ::gethostbyname2_r(
                       host.constData(), family, &entry, buffer.data(), buffer.size(), &result, &herr))
        == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (rc != 0 || !result)
        return {{}, wsaErrorFromHerrno(herr, rc), {}};
    HostEntry answer;
    if (result->h_addrtype == family && result->h_length == int(sizeof(Address))) {
        for (char **a = result->h_addr_list; a && *a; ++a) {
            Address address {};
            std::memcpy(&address, *a, sizeof address);
            (answer.*into).push_back(address);
        }
    }
    if ((answer.*into).empty())
        answer.error = WsaError::NoData;
    return answer;
}

} // namespace

HostEntry systemNameService(const QString &name)
{
    const QByteArray host = name.toLocal8Bit();
    HostEntry answer = lookUp(host, AF_INET, &HostEntry::addresses);
    // Asked even after a failed name server: the hosts file may still know the name.
    if (!answer.addresses.empty())
        return answer;
    const HostEntry six = lookUp(host, AF_INET6, &HostEntry::addresses6);
    if (!six.addresses6.empty()) {
        answer.addresses6 = six.addresses6;
        answer.error = WsaError::NoError;
    }
    return answer;
}

ResolveResult vbGetHostByName(const QString &name, const NameService &service)
{
    const HostEntry answer = service(name);
    if (!answer.addresses.empty())
        return {answer.addresses.front(), WsaError::NoError, HostAddress::fromIpv4(answer.addresses.front())};
    if (!answer.addresses6.empty())
        return {NoAddress, WsaError::NoError, HostAddress::fromIpv6(answer.addresses6.front())};
    return {NoAddress, answer.error != WsaError::NoError ? answer.error : WsaError::NoData, {}};
}

// What the resolver shares with its lookup threads. The threads are detached and
// hold this, not the resolver, so that nothing ever waits for a name server.
struct HostResolver::Shared
{
    std::mutex mutex;
    HostResolver *owner = nullptr; // null once the resolver is gone
    std::deque<std::function<void()>> queue;
    int threads = 0;
    std::list<Clock::time_point> running; // when each lookup under way began

    // Called with the mutex held.
    bool mayGrow(Clock::time_point now) const
    {
        const auto slow = std::count_if(running.begin(), running.end(),
            [now](Clock::time_point began) { return now - began >= SlowLookup; });
        return !queue.empty() && threads - int(slow) < MaxLookupThreads && threads < MaxThreadsInAll;
    }

    static void work(const std::shared_ptr<Shared> &shared)
    {
        for (;;) {
            std::function<void()> job;
            std::list<Clock::time_point>::iterator began;
            {
                std::lock_guard lock(shared->mutex);
                if (shared->queue.empty() || !shared->owner) {
                    --shared->threads;
                    return;
                }
                job = std::move(shared->queue.front());
                shared->queue.pop_front();
                began = shared->running.insert(shared->running.end(), Clock::now());
            }
            job();
            std::lock_guard lock(shared->mutex);
            shared->running.erase(began);
        }
    }
};

HostResolver::HostResolver(NameService service, QObject *parent)
    : QObject(parent)
    , m_service(std::move(service))
    , m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
    m_poolTimer.setInterval(PoolCheckMs);
    connect(&m_poolTimer, &QTimer::timeout, this, &HostResolver::growPool);
}

HostResolver::~HostResolver()
{
    // Lookups not yet started are dropped; those under way find no owner to answer.
    std::deque<std::function<void()>> dropped;
    std::lock_guard lock(m_shared->mutex);
    m_shared->owner = nullptr;
    dropped.swap(m_shared->queue);
}

void HostResolver::answerLater(QObject *context, Callback done, const ResolveResult &result)
{
    QMetaObject::invokeMethod(
        this,
        [guard = QPointer<QObject>(context), done = std::move(done), result] {
            if (guard)
                done(result);
        },
        Qt::QueuedConnection);
}

void HostResolver::ResolveHostAddress(const QString &name, QObject *context, Callback done)
{
    const uint32_t dotted = ParseDottedAddress(name);
    if (dotted != NoAddress) {
        answerLater(context, std::move(done), {dotted, WsaError::NoError, HostAddress::fromIpv4(dotted)});
        return;
    }
    if (const std::optional<Ipv6Literal> literal = parseIpv6Literal(name)) {
        ResolveResult r;
        if (!literal->zoneKnown)
            r.error = WsaError::AddrNotAvailable;
        else if (literal->address.isIpv6)
            r.host = literal->address;
        else
            r = {literal->address.ipv4, WsaError::NoError, literal->address};
        answerLater(context, std::move(done), r);
        return;
    }
    if (const auto known = m_answers.constFind(name); known != m_answers.cend()) {
        answerLater(context, std::move(done), *known);
        return;
    }
    auto waiting = m_waiting.find(name);
    const bool asked = waiting != m_waiting.end();
    if (!asked)
        waiting = m_waiting.insert(name, {});
    waiting->push_back({QPointer<QObject>(context), std::move(done)});
    if (!asked)
        startLookup(name);
}

void HostResolver::forgetAnswers()
{
    m_answers.clear();
}

void HostResolver::startLookup(const QString &name)
{
    auto job = [shared = std::weak_ptr<Shared>(m_shared), name, service = m_service] {
        ResolveResult r = vbGetHostByName(name, service);
        // A lookup may hand back an all-ones address that is itself the answer
        // (255.255.255.255); it cannot be told from failure, as inet_addr's caller never could.
        if (!r.found() && r.error == WsaError::NoError)
            r.error = WsaError::HostNotFound;
        const std::shared_ptr<Shared> alive = shared.lock();
        if (!alive)
            return;
        std::lock_guard lock(alive->mutex);
        if (!alive->owner)
            return;
        HostResolver *owner = alive->owner;
        QMetaObject::invokeMethod(
            owner, [owner, name, r] { owner->answered(name, r); }, Qt::QueuedConnection);
    };
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->queue.push_back(std::move(job));
    }
    growPool();
}

void HostResolver::growPool()
{
    std::lock_guard lock(m_shared->mutex);
    while (m_shared->mayGrow(Clock::now())) {
        ++m_shared->threads;
        std::thread([shared = m_shared] { Shared::work(shared); }).detach();
    }
    // Lookups left waiting get more threads once those under way turn out to hang.
    if (m_shared->queue.empty())
        m_poolTimer.stop();
    else if (!m_poolTimer.isActive())
        m_poolTimer.start();
}

void HostResolver::answered(const QString &name, const ResolveResult &result)
{
    const std::vector<Waiter> waiters = m_waiting.take(name);
    m_answers.insert(name, result);
    const QPointer<HostResolver> self(this);
    for (const Waiter &w : waiters) {
        if (!self)
            return;
        if (w.guard)
            w.done(result);
    }
}

} // namespace sentrel
