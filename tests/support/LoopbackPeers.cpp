#include "LoopbackPeers.h"

#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace sentrel::test {

namespace {

QString errnoText(const char *what, int err)
{
    return QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
}

UniqueFd tcpSocket(int family = AF_INET)
{
    return UniqueFd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

uint16_t boundPort(int fd)
{
    // The port lies at the same place in either family's address.
    sockaddr_in6 a {};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin6_port);
}

} // namespace

uint32_t loopbackAddress(const char *dotted)
{
    in_addr a {};
    ::inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

struct LoopbackServer::Connection
{
    // Declared first so that the notifiers and the timer go before it is closed.
    UniqueFd fd;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
    std::unique_ptr<QTimer> trickle;
    QByteArray pending;
    QByteArray line; // Then::Answer: the line read so far
    bool shutAfterFlush = false;
};

LoopbackServer::LoopbackServer(PeerScript script, const QByteArray &dotted, uint16_t port, QObject *parent)
    : QObject(parent)
    , m_script(std::move(script))
    , m_address(loopbackAddress(dotted.constData()))
{
    const std::optional<Ipv6Literal> six = parseIpv6Literal(QString::fromLatin1(dotted));
    if (six)
        m_address = 0;
    sockaddr_storage a {};
    const socklen_t length = toSockaddr(six ? six->address : HostAddress::fromIpv4(m_address), port, a);
    UniqueFd fd = tcpSocket(a.ss_family);
    const int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr *>(&a), length) != 0) {
        m_error = errnoText(("bind " + dotted + ':' + QByteArray::number(port)).constData(), errno);
        return;
    }
    if (::listen(fd.get(), 128) != 0) {
        m_error = errnoText("listen", errno);
        return;
    }
    m_port = boundPort(fd.get());
    m_listener = std::move(fd);
    m_acceptNotifier = std::make_unique<QSocketNotifier>(m_listener.get(), QSocketNotifier::Read);
    connect(m_acceptNotifier.get(), &QSocketNotifier::activated, this, [this] { acceptAll(); });
}

LoopbackServer::~LoopbackServer() = default;

int LoopbackServer::resetAll()
{
    acceptAll();
    // A zero linger time makes close() send a reset instead of a FIN.
    const linger abort {1, 0};
    for (const auto &c : m_connections)
        ::setsockopt(c->fd.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    const int count = int(m_connections.size());
    m_connections.clear();
    return count;
}

void LoopbackServer::acceptAll()
{
    for (;;) {
        UniqueFd fd(::accept4(m_listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd)
            return;
        ++m_accepted;
        auto owned = std::make_unique<Connection>();
        Connection &c = *owned;
        c.fd = std::move(fd);
        c.readNotifier = std::make_unique<QSocketNotifier>(c.fd.get(), QSocketNotifier::Read);
        connect(c.readNotifier.get(), &QSocketNotifier::activated, this, [this, &c] { onReadable(c); });
        c.writeNotifier = std::make_unique<QSocketNotifier>(c.fd.get(), QSocketNotifier::Write);
        c.writeNotifier->setEnabled(false);
        connect(c.writeNotifier.get(), &QSocketNotifier::activated, this, [this, &c] { flush(c); });
        m_connections.push_back(std::move(owned));

        queue(c, m_script.greeting);
        switch (m_script.then) {
        case PeerScript::Then::Close:
            c.shutAfterFlush = true;
            flush(c);
            break;
        case PeerScript::Then::Silent:
        case PeerScript::Then::Answer:
            break;
        case PeerScript::Then::Trickle:
            c.trickle = std::make_unique<QTimer>();
            connect(c.trickle.get(), &QTimer::timeout, this, [this, &c] {
                if (c.pending.isEmpty())
                    queue(c, m_script.chunk);
            });
            c.trickle->start(m_script.intervalMs);
            break;
        }
    }
}

void LoopbackServer::onReadable(Connection &c)
{
    char buf[4096];
    const bool answering = m_script.then == PeerScript::Then::Answer;
    const ssize_t n = ::recv(c.fd.get(), buf, answering ? 1 : sizeof buf, 0);
    if (n > 0) {
        m_received.append(buf, n);
        if (answering)
            answerLine(c, buf[0]);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    drop(c);
}

void LoopbackServer::answerLine(Connection &c, char byte)
{
    c.line += byte;
    if (byte != '\n')
        return;
    const bool answered = m_script.answerTo.isEmpty() || c.line == m_script.answerTo;
    c.line.clear();
    if (!answered)
        return;
    // Loopback takes a short answer whole, so a plain close follows it; bytes the
    // client sent after the line are still unread, and the kernel then resets.
    ::send(c.fd.get(), m_script.answer.constData(), size_t(m_script.answer.size()), MSG_NOSIGNAL);
    drop(c);
}

void LoopbackServer::queue(Connection &c, const QByteArray &bytes)
{
    c.pending += bytes;
    flush(c);
}

void LoopbackServer::flush(Connection &c)
{
    while (!c.pending.isEmpty()) {
        const ssize_t n = ::send(c.fd.get(), c.pending.constData(), size_t(c.pending.size()), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                break;
            drop(c);
            return;
        }
        c.pending.remove(0, n);
    }
    if (c.pending.isEmpty() && c.shutAfterFlush) {
        // Half-close only: closing with unread client bytes would send a reset
        // and could destroy the reply before the client has read it.
        ::shutdown(c.fd.get(), SHUT_WR);
        c.shutAfterFlush = false;
    }
    c.writeNotifier->setEnabled(!c.pending.isEmpty());
}

void LoopbackServer::drop(Connection &c)
{
    c.readNotifier->setEnabled(false);
    c.writeNotifier->setEnabled(false);
    if (c.trickle)
        c.trickle->stop();
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        if (it->get() == &c) {
            // Kept until the next event loop turn: this may run inside one of
            // the connection's own notifiers.
            m_dropped.push_back(std::move(*it));
            m_connections.erase(it);
            break;
        }
    }
    QTimer::singleShot(0, this, [this] { m_dropped.clear(); });
}

UnansweredPort::UnansweredPort()
{
    UniqueFd listener = tcpSocket();
    sockaddr_storage target {};
    socklen_t length = toSockaddr(HostAddress::fromIpv4(loopbackAddress()), 0, target);
    auto *to = reinterpret_cast<sockaddr *>(&target);
    if (::bind(listener.get(), to, length) != 0 || ::listen(listener.get(), 0) != 0
        || ::getsockname(listener.get(), to, &length) != 0) {
        m_error = errnoText("listen", errno);
        return;
    }
    m_port = boundPort(listener.get());
    // Fill the accept queue; once a connect stays pending, SYNs are being dropped.
    for (int i = 0; i < 8; ++i) {
        UniqueFd client = tcpSocket();
        const int rc = ::connect(client.get(), to, length);
        if (rc != 0 && errno != EINPROGRESS) {
            m_error = errnoText("connect", errno);
            return;
        }
        pollfd p {client.get(), POLLOUT, 0};
        const int ready = ::poll(&p, 1, 200);
        m_fillers.push_back(std::move(client));
        if (ready == 0) {
            m_listener = std::move(listener);
            m_valid = true;
            return;
        }
    }
    m_error = QStringLiteral("the kernel completed every connection; no SYN was dropped");
}

} // namespace sentrel::test
