#include "AgentServer.h"

#include "Gatherer.h"

#include <QSocketNotifier>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

namespace pellix {

namespace {

// Descriptors left to everything but draining connections: stdio, Qt's own, the commands'
// pipes.
constexpr rlim_t ReservedFds = 64;
constexpr int MaxDraining = 4096;
// Once the process is out of descriptors and none can be freed, accepting pauses this long.
constexpr int AcceptRetryMs = 100;
// What one wake-up reads from a client, and accepts from the queue, before the rest of the
// event loop (timers, other clients, the gathering) gets its turn: a flood that reconnects
// as fast as it is served would otherwise keep the loop accepting for ever.
constexpr int ReadsPerWakeUp = 16;
constexpr int AcceptsPerWakeUp = 64;

int drainingLimit(int maxConnections)
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return MaxDraining;
    const rlim_t spare = limit.rlim_cur > ReservedFds + rlim_t(maxConnections)
        ? limit.rlim_cur - ReservedFds - rlim_t(maxConnections)
        : 0;
    return int(std::clamp<rlim_t>(spare, 4, MaxDraining));
}

// One key per client: its IPv4 address, or the /64 of an IPv6 one, since a single host
// commonly holds a whole /64.
QByteArray addressKey(const sockaddr_storage &sa)
{
    if (sa.ss_family == AF_INET) {
        const auto &in = reinterpret_cast<const sockaddr_in &>(sa);
        return QByteArray(reinterpret_cast<const char *>(&in.sin_addr), 4);
    }
    if (sa.ss_family == AF_INET6) {
        const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(sa);
        const auto *bytes = reinterpret_cast<const char *>(&in6.sin6_addr);
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr))
            return QByteArray(bytes + 12, 4);
        return QByteArray(bytes, 8) + '6';
    }
    return {};
}

QString errnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

struct AgentServer::Connection
{
    UniqueFd fd; // first, so that it is closed after the notifiers are gone
    std::unique_ptr<QSocketNotifier> reader;
    std::unique_ptr<QSocketNotifier> writer;
    QByteArray address;
    QByteArray unsent;
    qint64 drainUntil = 0;
    bool clientDone = false; // the client has shut its sending side
    bool draining = false; // its report is written or being written
};

AgentServer::AgentServer(ReportSource &source, int maxConnections, int maxPerAddress, QObject *parent)
    : QObject(parent)
    , m_source(source)
    , m_max(std::max(maxConnections, 1))
    , m_maxPerAddress(std::clamp(maxPerAddress, 1, m_max))
    , m_maxDraining(drainingLimit(m_max))
{
    m_clock.start();
    m_acceptRetry.setSingleShot(true);
    connect(&m_acceptRetry, &QTimer::timeout, this, &AgentServer::slotFreed);
    m_drainTimer.setSingleShot(true);
    connect(&m_drainTimer, &QTimer::timeout, this, &AgentServer::dropExpired);
    connect(&m_source, &ReportSource::reportReady, this, &AgentServer::reportReady);
}

AgentServer::~AgentServer() = default;

bool AgentServer::listen(const QHostAddress &address, quint16 port)
{
    sockaddr_storage sa {};
    socklen_t len = 0;
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    if (v6) {
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(sa);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6.sin6_addr, bytes.c, sizeof bytes.c);
        len = sizeof in6;
    } else {
        auto &in = reinterpret_cast<sockaddr_in &>(sa);
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        in.sin_addr.s_addr = htonl(address.toIPv4Address());
        len = sizeof in;
    }
    UniqueFd fd(::socket(sa.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        m_error = errnoText(errno);
        return false;
    }
    const int one = 1, zero = 0;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // "[::]" serves IPv4 clients too, whatever the system's default.
    if (v6 && address == QHostAddress(QHostAddress::AnyIPv6))
        ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr *>(&sa), len) != 0
        || ::listen(fd.get(), SOMAXCONN) != 0) {
        m_error = errnoText(errno);
        return false;
    }
    len = sizeof sa;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr *>(&sa), &len) != 0) {
        m_error = errnoText(errno);
        return false;
    }
    m_port = ntohs(v6 ? reinterpret_cast<const sockaddr_in6 &>(sa).sin6_port
                      : reinterpret_cast<const sockaddr_in &>(sa).sin_port);
    m_acceptNotifier.reset();
    m_listener = std::move(fd);
    m_acceptNotifier = std::make_unique<QSocketNotifier>(m_listener.get(), QSocketNotifier::Read);
    connect(m_acceptNotifier.get(), &QSocketNotifier::activated, this, &AgentServer::acceptWaiting);
    return true;
}

bool AgentServer::fresh() const
{
    return !m_gathering && !m_report.isEmpty() && m_gatherStarted.isValid()
        && m_gatherStarted.elapsed() < FreshMs;
}

void AgentServer::acceptWaiting()
{
    for (int i = 0; i < AcceptsPerWakeUp && int(m_waiting.size()) < m_max && acceptOne(); ++i) { }
    // When full, the rest waits in the kernel's queue until a slot is free.
    if (m_acceptNotifier)
        m_acceptNotifier->setEnabled(int(m_waiting.size()) < m_max && !m_acceptRetry.isActive());
}

bool AgentServer::acceptOne()
{
    sockaddr_storage sa {};
    socklen_t len = sizeof sa;
    const int fd =
        ::accept4(m_listener.get(), reinterpret_cast<sockaddr *>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
        case ENETDOWN:
        case ENOPROTOOPT:
        case EHOSTDOWN:
        case ENONET:
        case EHOSTUNREACH:
        case ENETUNREACH:
            return true; // that client is gone; the next may be fine
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
            // Out of descriptors: the oldest draining connection has had its report.
            if (!m_draining.empty()) {
                drop(std::move(m_draining.front()));
                m_draining.erase(m_draining.begin());
                return true;
            }
            m_acceptRetry.start(AcceptRetryMs);
            return false;
        default:
            return false;
        }
    }
    auto c = std::make_unique<Connection>();
    c->fd.reset(fd);
    c->address = addressKey(sa);
    if (fresh()) {
        send(std::move(c));
        return true;
    }
    int &fromThere = m_waitingPerAddress[c->address];
    if (fromThere >= m_maxPerAddress) {
        drop(std::move(c));
        return true;
    }
    ++fromThere;
    watch(c.get());
    m_waiting.push_back(std::move(c));
    m_peak = std::max(m_peak, int(m_waiting.size()));
    if (!m_gathering) {
        m_gathering = true;
        ++m_gatherings;
        m_gatherStarted.start();
        m_source.requestReport();
    }
    return true;
}

void AgentServer::reportReady(const QByteArray &report)
{
    m_gathering = false;
    m_report = report;
    ConnectionList waiting;
    waiting.swap(m_waiting);
    std::move(m_parked.begin(), m_parked.end(), std::back_inserter(waiting));
    m_parked.clear();
    m_waitingPerAddress.clear();
    for (auto &c : waiting)
        send(std::move(c));
    slotFreed();
}

void AgentServer::watch(Connection *c)
{
    if (c->reader)
        return;
    c->reader = std::make_unique<QSocketNotifier>(c->fd.get(), QSocketNotifier::Read);
    connect(c->reader.get(), &QSocketNotifier::activated, this, [this, c] { readable(c); });
    c->reader->setEnabled(!c->clientDone);
    c->writer = std::make_unique<QSocketNotifier>(c->fd.get(), QSocketNotifier::Write);
    c->writer->setEnabled(false);
    connect(c->writer.get(), &QSocketNotifier::activated, this, [this, c] { writable(c); });
}

bool AgentServer::flush(Connection *c)
{
    while (!c->unsent.isEmpty()) {
        const ssize_t n = ::send(c->fd.get(), c->unsent.constData(), size_t(c->unsent.size()), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            watch(c);
            c->writer->setEnabled(true);
            return true;
        }
        if (n <= 0)
            return false;
        c->unsent.remove(0, n);
    }
    if (c->writer)
        c->writer->setEnabled(false);
    ::shutdown(c->fd.get(), SHUT_WR);
    return true;
}

AgentServer::Drained AgentServer::discardInput(Connection *c)
{
    char sink[4096];
    for (int i = 0; i < ReadsPerWakeUp; ++i) {
        const ssize_t n = ::recv(c->fd.get(), sink, sizeof sink, 0);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n < 0)
            return Drained::Gone;
        c->clientDone = true;
        if (c->reader)
            c->reader->setEnabled(false);
        return Drained::Shut;
    }
    return Drained::Open;
}

void AgentServer::send(std::unique_ptr<Connection> c)
{
    c->unsent = m_report;
    // Most clients are dealt with here and then, without a notifier: a flood of connections
    // that are gone before they are accepted costs a few system calls each.
    if (!flush(c.get()) || (c->unsent.isEmpty() && discardInput(c.get()) == Drained::Gone)) {
        drop(std::move(c));
        return;
    }
    startDraining(std::move(c));
}

void AgentServer::startDraining(std::unique_ptr<Connection> c)
{
    // A client that has shut its side sends nothing more that could reset the report.
    if (c->clientDone && c->unsent.isEmpty()) {
        drop(std::move(c));
        return;
    }
    c->draining = true;
    c->drainUntil = m_clock.elapsed() + DrainMs;
    watch(c.get());
    m_draining.push_back(std::move(c));
    if (int(m_draining.size()) > m_maxDraining) {
        drop(std::move(m_draining.front()));
        m_draining.erase(m_draining.begin());
    }
    if (!m_drainTimer.isActive())
        m_drainTimer.start(DrainMs);
}

void AgentServer::readable(Connection *c)
{
    switch (discardInput(c)) {
    case Drained::Open:
        return;
    case Drained::Shut:
        if (c->draining) {
            if (c->unsent.isEmpty())
                drop(take(c)); // closed after its report
            return; // otherwise dropped once the rest is written
        }
        // A half-close after a request and a close look the same until the report is sent:
        // either way the client gets it, but no longer holds a slot.
        m_parked.push_back(take(c));
        if (int(m_parked.size()) > m_maxDraining) {
            drop(std::move(m_parked.front()));
            m_parked.erase(m_parked.begin());
        }
        slotFreed();
        return;
    case Drained::Gone:
        drop(take(c));
        slotFreed();
        return;
    }
}

void AgentServer::writable(Connection *c)
{
    if (!flush(c)) {
        drop(take(c));
        return;
    }
    if (c->unsent.isEmpty() && c->clientDone)
        drop(take(c));
}

std::unique_ptr<AgentServer::Connection> AgentServer::take(Connection *c)
{
    for (ConnectionList *list : {&m_waiting, &m_parked, &m_draining}) {
        const auto it = std::find_if(list->begin(), list->end(), [c](const auto &p) { return p.get() == c; });
        if (it == list->end())
            continue;
        std::unique_ptr<Connection> taken = std::move(*it);
        list->erase(it);
        if (list == &m_waiting) {
            const auto count = m_waitingPerAddress.find(taken->address);
            if (count != m_waitingPerAddress.end() && --count->second <= 0)
                m_waitingPerAddress.erase(count);
        }
        return taken;
    }
    return nullptr;
}

void AgentServer::drop(std::unique_ptr<Connection> c)
{
    if (!c)
        return;
    // The notifiers may be the ones whose signal brought us here: switched off now, deleted
    // from the event loop. Switched off, they no longer watch the descriptor closed below.
    for (auto *notifier : {&c->reader, &c->writer}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->disconnect(this);
            notifier->release()->deleteLater();
        }
    }
}

void AgentServer::dropExpired()
{
    const qint64 now = m_clock.elapsed();
    const auto end = std::find_if(
        m_draining.begin(), m_draining.end(), [now](const auto &c) { return c->drainUntil > now; });
    std::for_each(m_draining.begin(), end, [this](auto &c) { drop(std::move(c)); });
    m_draining.erase(m_draining.begin(), end);
    if (!m_draining.empty())
        m_drainTimer.start(int(m_draining.front()->drainUntil - now));
}

void AgentServer::slotFreed()
{
    if (m_acceptNotifier && !m_acceptRetry.isActive() && int(m_waiting.size()) < m_max)
        m_acceptNotifier->setEnabled(true);
}

bool parseListenAddress(const QString &text, QHostAddress &address, quint16 &port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return false; // an IPv6 address needs its brackets
    bool ok = false;
    const uint p = text.mid(colon + 1).toUInt(&ok);
    if (!ok || p == 0 || p > 65535 || !address.setAddress(host))
        return false;
    port = quint16(p);
    return true;
}

} // namespace pellix
