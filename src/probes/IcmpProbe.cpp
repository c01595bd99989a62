#include "probes/IcmpProbe.h"

#include "probes/UniqueFd.h"
#include "probes/WinSock.h"

#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace sentrel {

QString GetIcmpStatusText(uint32_t status)
{
    switch (status) {
    case 0:
        return QStringLiteral("Success");
    case 11001:
        return QStringLiteral("Buffer too Small");
    case 11002:
        return QStringLiteral("Dest Network Not Reachable");
    case 11003:
        return QStringLiteral("Dest Host Not Reachable");
    case 11004:
        return QStringLiteral("Dest Protocol Not Reachable");
    case 11005:
        return QStringLiteral("Dest Port Not Reachable");
    case 11006:
        return QStringLiteral("No Resources Available");
    case 11007:
        return QStringLiteral("Bad Option");
    case 11008:
        return QStringLiteral("Hardware Error");
    case 11009:
        return QStringLiteral("Packet too Big");
    case 11010:
        return QStringLiteral("Rqst Timed Out");
    case 11011:
        return QStringLiteral("Bad Request");
    case 11012:
        return QStringLiteral("Bad Route");
    case 11013:
        return QStringLiteral("TTL Exprd in Transit");
    case 11014:
        return QStringLiteral("TTL Exprd Reassemb");
    case 11015:
        return QStringLiteral("Parameter Problem");
    case 11016:
        return QStringLiteral("Source Quench");
    case 11017:
        return QStringLiteral("Option too Big");
    case 11018:
        return QStringLiteral(" Bad Destination");
    case 11019:
        return QStringLiteral("Address Deleted");
    case 11020:
        return QStringLiteral("Spec MTU Change");
    case 11021:
        return QStringLiteral("MTU Change");
    case 11022:
        return QStringLiteral("Unload");
    case 11050:
        return QStringLiteral("General Failure");
    default:
        return QString();
    }
}

namespace {

QString replyAddress(const EchoReply &reply)
{
    return reply.ipv6 ? formatHostAddress(HostAddress::fromIpv6(reply.address6))
                      : FormatDottedAddress(reply.address);
}

} // namespace

PingResult judgeEcho(const EchoOutcome &outcome, Target &target, int16_t decay)
{
    target.LastRtt = -1;
    target.LastRttMicros = -1;
    if (!outcome.opened)
        return {0, QStringLiteral("Unable to create ICMP File Handle")};

    PingResult result;
    const EchoReply &reply = outcome.reply;
    if (!reply.answered) {
        result = {3, QStringLiteral("No response from host to ICMP PING")};
    } else if (reply.status != IcmpStatus::Success) {
        result = {0,
            QStringLiteral("Reply from ") + replyAddress(reply) + QStringLiteral(": ")
                + GetIcmpStatusText(reply.status) + QStringLiteral(" (") + QString::number(reply.status)
                + QStringLiteral(")")};
    } else {
        const int16_t t = LongToInteger(reply.rttMs);
        target.LastRtt = t;
        target.LastRttMicros = reply.rttMicros;
        result.code = 1;
        result.msg = QStringLiteral("Reply from ") + replyAddress(reply) + QStringLiteral(": TTL = ")
            + QString::number(reply.ttl) + QStringLiteral(" Delay = ") + QString::number(t)
            + QStringLiteral("ms ");
        if (target.SmoothedRtt == -1.0) {
            target.SmoothedRtt = t;
        } else {
            // A decay below 1 would divide by zero or turn the weights negative.
            const double weight = std::max<int16_t>(decay, 1);
            target.SmoothedRtt = ((weight - 1) * target.SmoothedRtt + t) / weight;
            result.msg +=
                QStringLiteral("(") + QString::number(target.SmoothedRtt, 'f', 1) + QStringLiteral("ms) ");
        }
        if (target.RTT > 0 && t > target.RTT) {
            result.code = 2;
            result.msg += QChar(13) + QStringLiteral("** SLOW REPLY **");
        }
    }
    if (outcome.closeFailed)
        result = {0, QStringLiteral("Error encountered closing ICMP")};
    return result;
}

namespace {

using Clock = std::chrono::steady_clock;
using SocketKind = IcmpEchoService::SocketKind;

// Enough for the largest IPv4 packet, so a raw read is never cut short.
constexpr size_t ReceiveBufferSize = 65536;
// Packets read per wake-up; the notifier fires again while more are queued.
constexpr int ReadBudget = 256;
constexpr size_t SequenceSpace = 65536;
constexpr int SendRetryMs = 10;

// Many echoes answered at once must not overflow the default buffer. Only a
// privileged process may pass the system's limit; others get what it allows.
void enlargeReceiveBuffer(int fd)
{
    const int receiveBuffer = 1 << 21;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
}

UniqueFd openIcmp6Socket(SocketKind kind)
{
    const int type = kind == SocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
    UniqueFd fd(::socket(AF_INET6, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMPV6));
    if (!fd)
        return {};
    // The hop limit and traffic class stand in for the TTL and type of service;
    // IPv6 routers never fragment, so there is no Don't Fragment to clear.
    const int hops = EchoTtl;
    const int trafficClass = EchoTos;
    const int on = 1;
    bool ok = ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_UNICAST_HOPS, &hops, sizeof hops) == 0
        && ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_TCLASS, &trafficClass, sizeof trafficClass) == 0
        && ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on) == 0;
    if (kind == SocketKind::Datagram) {
        ok = ok && ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on) == 0;
    } else {
        icmp6_filter filter {};
        ICMP6_FILTER_SETBLOCKALL(&filter);
        for (const uint8_t type : {Icmp6Type::EchoReply, Icmp6Type::DestUnreachable, Icmp6Type::PacketTooBig,
                 Icmp6Type::TimeExceeded, Icmp6Type::ParameterProblem})
            ICMP6_FILTER_SETPASS(type, &filter);
        ok = ok && ::setsockopt(fd.get(), IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) == 0;
    }
    if (!ok)
        return {};
    enlargeReceiveBuffer(fd.get());
    return fd;
}

UniqueFd openIcmpSocket(SocketKind kind, bool ipv6 = false)
{
    if (ipv6)
        return openIcmp6Socket(kind);
    const int type = kind == SocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
    UniqueFd fd(::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!fd)
        return {};
    const int ttl = EchoTtl;
    const int tos = EchoTos;
    // The request goes out with flags 0, so the kernel must not set Don't Fragment.
    const int pmtu = IP_PMTUDISC_DONT;
    const int on = 1;
    bool ok = ::setsockopt(fd.get(), IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0
        && ::setsockopt(fd.get(), IPPROTO_IP, IP_TOS, &tos, sizeof tos) == 0
        && ::setsockopt(fd.get(), IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu) == 0;
    if (kind == SocketKind::Datagram) {
        ok = ok && ::setsockopt(fd.get(), IPPROTO_IP, IP_RECVTTL, &on, sizeof on) == 0
            && ::setsockopt(fd.get(), IPPROTO_IP, IP_RECVERR, &on, sizeof on) == 0;
    } else {
        // A raw socket sees every ICMP message of the host; let the kernel drop
        // the types that can never concern an echo (our own requests included).
        icmp_filter filter {};
        filter.data =
            ~((1u << IcmpType::EchoReply) | (1u << IcmpType::DestUnreachable) | (1u << IcmpType::SourceQuench)
                | (1u << IcmpType::TimeExceeded) | (1u << IcmpType::ParameterProblem));
        ok = ok && ::setsockopt(fd.get(), SOL_RAW, ICMP_FILTER, &filter, sizeof filter) == 0;
    }
    if (!ok)
        return {};
    enlargeReceiveBuffer(fd.get());
    return fd;
}

// The address in `name`, if it is one of either family.
std::optional<HostAddress> addressIn(const sockaddr_storage &name, socklen_t length)
{
    if (name.ss_family == AF_INET && length >= sizeof(sockaddr_in))
        return HostAddress::fromIpv4(reinterpret_cast<const sockaddr_in &>(name).sin_addr.s_addr);
    if (name.ss_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        Ipv6Bytes bytes;
        std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in6 &>(name).sin6_addr, bytes.size());
        return HostAddress::fromIpv6(bytes);
    }
    return std::nullopt;
}

void setReplyAddress(EchoReply &reply, const HostAddress &from)
{
    if (from.isIpv6)
        reply.address6 = from.ipv6;
    else
        reply.address = from.ipv4;
}

// An ICMP error quotes the address but not the scope the echo was sent with.
bool sameHost(const HostAddress &a, const HostAddress &b)
{
    return a.isIpv6 == b.isIpv6 && (a.isIpv6 ? a.ipv6 == b.ipv6 : a.ipv4 == b.ipv4);
}

class EchoImpl;

} // namespace

class IcmpEchoService::Impl
{
public:
    explicit Impl(SocketKind kind, bool ipv6 = false);
    ~Impl();
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;

    std::unique_ptr<Echo> send(const HostAddress &address, int timeoutMs, Done done);

    // Ends the service's part in `echo`; closes the socket when it was the last
    // one. Returns true when that close failed.
    bool release(EchoImpl *echo);

    SocketKind activeKind() const { return m_fd ? m_openKind : SocketKind::Any; }

private:
    bool ensureOpen();
    bool closeSocket();
    bool allocateSequence(EchoImpl *echo);
    void forgetSequence(EchoImpl *echo);
    void transmit(EchoImpl *echo);
    bool sendNow(EchoImpl *echo);
    void flushSendQueue();
    void onReadable();
    void readRaw();
    void readDatagram();
    void readIcmp6();
    void readErrorQueue();
    void deliver(uint16_t sequence, EchoReply reply, std::optional<HostAddress> echoedTo);

    SocketKind m_kind;
    const bool m_ipv6;
    SocketKind m_openKind = SocketKind::Any;
    uint16_t m_identifier;
    uint16_t m_nextSequence;
    std::unordered_set<EchoImpl *> m_echoes;
    std::unordered_map<uint16_t, EchoImpl *> m_inFlight;
    std::deque<uint16_t> m_sendQueue;
    std::vector<char> m_buffer;
    UniqueFd m_fd;
    // Declared after the descriptor, so they are destroyed before it closes.
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QTimer m_sendRetry;
};

namespace {

// One echo: its place in the service, its deadline, and the outcome it reports
// once, from its own timer, so no callback ever runs inside the service's loops.
class EchoImpl final : public IcmpEchoService::Echo
{
public:
    EchoImpl(IcmpEchoService::Impl *service, const HostAddress &destination, IcmpEchoService::Done done)
        : destination(destination)
        , m_service(service)
        , m_done(std::move(done))
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { report(); });
    }

    ~EchoImpl() override
    {
        if (m_service)
            m_service->release(this);
    }

    void startDeadline(int timeoutMs) { m_timer.start(std::max(timeoutMs, 0)); }

    void finish(const EchoOutcome &outcome)
    {
        if (m_outcome)
            return;
        m_outcome = outcome;
        m_timer.start(0);
    }

    void detach()
    {
        m_service = nullptr;
        m_timer.stop();
    }

    const HostAddress destination;
    uint16_t sequence = 0;
    bool inFlight = false;
    bool sent = false;
    Clock::time_point sentAt;

private:
    void report()
    {
        EchoOutcome outcome;
        if (m_outcome)
            outcome = *m_outcome;
        if (auto *service = std::exchange(m_service, nullptr))
            outcome.closeFailed = service->release(this);
        // The callback may destroy this echo: nothing of it is touched afterwards.
        const IcmpEchoService::Done done = std::exchange(m_done, nullptr);
        if (done)
            done(outcome);
    }

    IcmpEchoService::Impl *m_service;
    IcmpEchoService::Done m_done;
    std::optional<EchoOutcome> m_outcome;
    QTimer m_timer;
};

} // namespace

IcmpEchoService::Impl::Impl(SocketKind kind, bool ipv6)
    : m_kind(kind)
    , m_ipv6(ipv6)
    , m_identifier(static_cast<uint16_t>(QRandomGenerator::global()->generate()))
    , m_nextSequence(static_cast<uint16_t>(QRandomGenerator::global()->generate()))
    , m_buffer(ReceiveBufferSize)
{
    m_sendRetry.setSingleShot(true);
    QObject::connect(&m_sendRetry, &QTimer::timeout, &m_sendRetry, [this] { flushSendQueue(); });
}

IcmpEchoService::Impl::~Impl()
{
    for (EchoImpl *echo : m_echoes)
        echo->detach();
    closeSocket();
}

std::unique_ptr<IcmpEchoService::Echo> IcmpEchoService::Impl::send(
    const HostAddress &address, int timeoutMs, Done done)
{
    auto echo = std::make_unique<EchoImpl>(this, address, std::move(done));
    m_echoes.insert(echo.get());
    if (!ensureOpen()) {
        EchoOutcome outcome;
        outcome.opened = false;
        echo->finish(outcome);
        return echo;
    }
    if (!allocateSequence(echo.get())) {
        EchoOutcome outcome;
        outcome.reply.answered = true;
        outcome.reply.status = IcmpStatus::NoResources;
        echo->finish(outcome);
        return echo;
    }
    echo->startDeadline(timeoutMs);
    transmit(echo.get());
    return echo;
}

bool IcmpEchoService::Impl::release(EchoImpl *echo)
{
    forgetSequence(echo);
    m_echoes.erase(echo);
    if (m_echoes.empty() && m_fd)
        return !closeSocket();
    return false;
}

bool IcmpEchoService::Impl::ensureOpen()
{
    if (m_fd)
        return true;
    const SocketKind order[] = {SocketKind::Datagram, SocketKind::Raw};
    for (const SocketKind kind : order) {
        if (m_kind != SocketKind::Any && m_kind != kind)
            continue;
        m_fd = openIcmpSocket(kind, m_ipv6);
        if (m_fd) {
            m_openKind = kind;
            break;
        }
    }
    if (!m_fd)
        return false;
    m_readNotifier = std::make_unique<QSocketNotifier>(m_fd.get(), QSocketNotifier::Read);
    QObject::connect(
        m_readNotifier.get(), &QSocketNotifier::activated, m_readNotifier.get(), [this] { onReadable(); });
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_fd.get(), QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    QObject::connect(m_writeNotifier.get(), &QSocketNotifier::activated, m_writeNotifier.get(),
        [this] { flushSendQueue(); });
    return true;
}

bool IcmpEchoService::Impl::closeSocket()
{
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_sendRetry.stop();
    m_sendQueue.clear();
    if (!m_fd)
        return true;
    return ::close(m_fd.release()) == 0;
}

bool IcmpEchoService::Impl::allocateSequence(EchoImpl *echo)
{
    if (m_inFlight.size() >= SequenceSpace)
        return false;
    // A number still in flight is skipped, so a late answer to it cannot reach a newer echo.
    while (m_inFlight.count(m_nextSequence) != 0)
        ++m_nextSequence;
    echo->sequence = m_nextSequence++;
    echo->inFlight = true;
    m_inFlight.emplace(echo->sequence, echo);
    return true;
}

void IcmpEchoService::Impl::forgetSequence(EchoImpl *echo)
{
    if (!echo->inFlight)
        return;
    m_inFlight.erase(echo->sequence);
    echo->inFlight = false;
}

void IcmpEchoService::Impl::transmit(EchoImpl *echo)
{
    // Echoes already waiting for buffer space go first, so the order stays that of the calls.
    if (m_sendQueue.empty() && sendNow(echo))
        return;
    m_sendQueue.push_back(echo->sequence);
    if (!m_sendRetry.isActive())
        m_writeNotifier->setEnabled(true);
}

bool IcmpEchoService::Impl::sendNow(EchoImpl *echo)
{
    const QByteArray packet = m_ipv6 ? buildEchoRequest6(m_identifier, echo->sequence)
                                     : buildEchoRequest(m_identifier, echo->sequence);
    sockaddr_storage to {};
    const socklen_t toLength = toSockaddr(echo->destination, 0, to);
    for (;;) {
        echo->sentAt = Clock::now();
        const ssize_t n = ::sendto(m_fd.get(), packet.constData(), static_cast<size_t>(packet.size()), 0,
            reinterpret_cast<const sockaddr *>(&to), toLength);
        if (n >= 0) {
            echo->sent = true;
            return true;
        }
        if (errno != EINTR)
            break;
    }
    // A raw socket reports a full send buffer as ENOBUFS, a datagram socket as EAGAIN.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)
        return false;
    // The local stack refused the request (no route, ...): it answers for the
    // network, the way the echo service reports such failures, from "this host".
    const int err = errno;
    forgetSequence(echo);
    EchoOutcome outcome;
    outcome.reply.answered = true;
    outcome.reply.address = 0;
    outcome.reply.ipv6 = m_ipv6;
    outcome.reply.status = statusForSendError(err);
    echo->finish(outcome);
    return true;
}

void IcmpEchoService::Impl::flushSendQueue()
{
    m_writeNotifier->setEnabled(false);
    bool progressed = false;
    while (!m_sendQueue.empty()) {
        const auto it = m_inFlight.find(m_sendQueue.front());
        if (it != m_inFlight.end() && !it->second->sent) {
            if (!sendNow(it->second)) {
                // A stack that refuses while the socket counts as writable (a full
                // queue further down) would make the notifier spin; pause instead.
                if (progressed)
                    m_writeNotifier->setEnabled(true);
                else
                    m_sendRetry.start(SendRetryMs);
                return;
            }
            progressed = true;
        }
        m_sendQueue.pop_front();
    }
}

void IcmpEchoService::Impl::onReadable()
{
    if (m_ipv6) {
        readIcmp6();
        if (m_openKind == SocketKind::Datagram)
            readErrorQueue();
    } else if (m_openKind == SocketKind::Raw) {
        readRaw();
    } else {
        readDatagram();
        readErrorQueue();
    }
}

void IcmpEchoService::Impl::readRaw()
{
    for (int i = 0; i < ReadBudget; ++i) {
        const ssize_t n = ::recv(m_fd.get(), m_buffer.data(), m_buffer.size(), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        const auto answer = parseRawPacket(QByteArrayView(m_buffer.data(), n));
        // Every raw ICMP socket of the host sees every echo reply; ours carry our identifier.
        if (!answer || answer->identifier != m_identifier)
            continue;
        EchoReply reply;
        reply.answered = true;
        reply.address = answer->from;
        reply.status = answer->status;
        reply.ttl = answer->ttl;
        deliver(answer->sequence, reply,
            answer->status == IcmpStatus::Success ? std::nullopt
                                                  : std::optional(HostAddress::fromIpv4(answer->echoedTo)));
    }
}

namespace {

// One recvmsg into the service's buffer, with room for the sender's address and the
// ancillary data; the header points into the object itself, so it stays where it is made.
class ReceivedMessage
{
public:
    ReceivedMessage(const ReceivedMessage &) = delete;
    ReceivedMessage &operator=(const ReceivedMessage &) = delete;

    ReceivedMessage(int fd, std::vector<char> &buffer, int flags)
        : m_iov {buffer.data(), buffer.size()}
    {
        m_msg.msg_name = &from;
        m_msg.msg_namelen = sizeof from;
        m_msg.msg_iov = &m_iov;
        m_msg.msg_iovlen = 1;
        m_msg.msg_control = m_control;
        m_msg.msg_controllen = sizeof m_control;
        size = ::recvmsg(fd, &m_msg, flags);
    }

    socklen_t fromLength() const { return m_msg.msg_namelen; }

    // The int the kernel attached under level and type (a TTL or hop limit), if any.
    std::optional<int> intOption(int level, int type)
    {
        for (cmsghdr *c = CMSG_FIRSTHDR(&m_msg); c; c = CMSG_NXTHDR(&m_msg, c)) {
            if (c->cmsg_level == level && c->cmsg_type == type && c->cmsg_len >= CMSG_LEN(sizeof(int))) {
                int value = 0;
                std::memcpy(&value, CMSG_DATA(c), sizeof value);
                return value;
            }
        }
        return std::nullopt;
    }

    msghdr &header() { return m_msg; }

    sockaddr_storage from {};
    ssize_t size = -1;

private:
    iovec m_iov;
    alignas(cmsghdr) char m_control[512];
    msghdr m_msg {};
};

} // namespace

void IcmpEchoService::Impl::readDatagram()
{
    for (int i = 0; i < ReadBudget; ++i) {
        ReceivedMessage message(m_fd.get(), m_buffer, 0);
        if (message.size < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            // A queued ICMP error also surfaces here once as an errno; its details
            // are read from the error queue.
            continue;
        }
        const auto answer = parseDatagramReply(QByteArrayView(m_buffer.data(), message.size));
        if (!answer)
            continue;
        EchoReply reply;
        reply.answered = true;
        reply.address = reinterpret_cast<const sockaddr_in &>(message.from).sin_addr.s_addr;
        if (const auto ttl = message.intOption(IPPROTO_IP, IP_TTL))
            reply.ttl = *ttl;
        deliver(answer->sequence, reply, std::nullopt);
    }
}

void IcmpEchoService::Impl::readIcmp6()
{
    for (int i = 0; i < ReadBudget; ++i) {
        ReceivedMessage message(m_fd.get(), m_buffer, 0);
        if (message.size < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            // A datagram socket's queued error surfaces here once as an errno.
            continue;
        }
        const auto answer = parseIcmp6Message(QByteArrayView(m_buffer.data(), message.size));
        // A raw socket sees every ICMPv6 message of the host; ours carry our
        // identifier. A datagram socket gets only its own, under the kernel's identifier.
        if (!answer || (m_openKind == SocketKind::Raw && answer->identifier != m_identifier))
            continue;
        EchoReply reply;
        reply.answered = true;
        reply.status = answer->status;
        if (const auto sender = addressIn(message.from, message.fromLength()))
            setReplyAddress(reply, *sender);
        if (const auto hops = message.intOption(IPPROTO_IPV6, IPV6_HOPLIMIT))
            reply.ttl = *hops;
        deliver(answer->sequence, reply,
            answer->status == IcmpStatus::Success ? std::nullopt
                                                  : std::optional(HostAddress::fromIpv6(answer->echoedTo6)));
    }
}

void IcmpEchoService::Impl::readErrorQueue()
{
    for (int i = 0; i < ReadBudget; ++i) {
        ReceivedMessage message(m_fd.get(), m_buffer, MSG_ERRQUEUE);
        if (message.size < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        // The kernel hands back the request we sent; its sequence names the echo.
        const QByteArrayView queued(m_buffer.data(), message.size);
        const auto sequence = m_ipv6 ? parseQueuedEcho6(queued) : parseQueuedEcho(queued);
        if (!sequence)
            continue;
        const int level = m_ipv6 ? IPPROTO_IPV6 : IPPROTO_IP;
        const int type = m_ipv6 ? IPV6_RECVERR : IP_RECVERR;
        const socklen_t offenderSize = m_ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        msghdr &msg = message.header();
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != level || c->cmsg_type != type
                || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
                continue;
            sock_extended_err ee {};
            std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
            if (ee.ee_origin != (m_ipv6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP))
                continue;
            EchoReply reply;
            reply.answered = true;
            reply.status = m_ipv6 ? statusForIcmp6Error(ee.ee_type, ee.ee_code)
                                  : statusForIcmpError(ee.ee_type, ee.ee_code);
            if (reply.status == IcmpStatus::Success)
                continue;
            // The router that sent the error follows the record (SO_EE_OFFENDER).
            if (c->cmsg_len >= CMSG_LEN(sizeof ee + offenderSize)) {
                sockaddr_storage offender {};
                std::memcpy(&offender, CMSG_DATA(c) + sizeof ee, offenderSize);
                if (const auto router = addressIn(offender, offenderSize); router && router->isIpv6 == m_ipv6)
                    setReplyAddress(reply, *router);
            }
            const auto destination = addressIn(message.from, message.fromLength());
            deliver(*sequence, reply, destination);
        }
    }
}

void IcmpEchoService::Impl::deliver(uint16_t sequence, EchoReply reply, std::optional<HostAddress> echoedTo)
{
    const auto it = m_inFlight.find(sequence);
    // Late and duplicate answers find nothing here and are dropped.
    if (it == m_inFlight.end())
        return;
    EchoImpl *echo = it->second;
    if (!echo->sent || (echoedTo && !sameHost(*echoedTo, echo->destination)))
        return;
    reply.ipv6 = m_ipv6;
    m_inFlight.erase(it);
    echo->inFlight = false;
    const auto elapsed = Clock::now() - echo->sentAt;
    reply.rttMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    reply.rttMicros = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    EchoOutcome outcome;
    outcome.reply = reply;
    echo->finish(outcome);
}

IcmpEchoService::IcmpEchoService(SocketKind kind, QObject *parent)
    : QObject(parent)
    , m_impl(std::make_unique<Impl>(kind))
    , m_impl6(std::make_unique<Impl>(kind, true))
{ }

IcmpEchoService::~IcmpEchoService() = default;

std::unique_ptr<IcmpEchoService::Echo> IcmpEchoService::sendEcho(uint32_t ipaddr, int timeoutMs, Done done)
{
    return m_impl->send(HostAddress::fromIpv4(ipaddr), timeoutMs, std::move(done));
}

std::unique_ptr<IcmpEchoService::Echo> IcmpEchoService::sendEcho(
    const HostAddress &address, int timeoutMs, Done done)
{
    return (address.isIpv6 ? m_impl6 : m_impl)->send(address, timeoutMs, std::move(done));
}

IcmpEchoService::SocketKind IcmpEchoService::activeKind() const
{
    const SocketKind kind = m_impl->activeKind();
    return kind != SocketKind::Any ? kind : m_impl6->activeKind();
}

bool IcmpEchoService::canOpen(SocketKind kind, bool ipv6)
{
    if (kind == SocketKind::Any)
        return canOpen(SocketKind::Datagram, ipv6) || canOpen(SocketKind::Raw, ipv6);
    return openIcmpSocket(kind, ipv6).valid();
}

std::unique_ptr<IcmpEchoService::Echo> pingcheck(IcmpEchoService &service, uint32_t ipaddr, int16_t timeOut,
    int16_t idx, TargetTable &table, const GlobalSettings &settings,
    std::function<void(ProbeStatus, const QString &)> done)
{
    return pingcheck(service, HostAddress::fromIpv4(ipaddr), timeOut, idx, table, settings, std::move(done));
}

std::unique_ptr<IcmpEchoService::Echo> pingcheck(IcmpEchoService &service, const HostAddress &address,
    int16_t timeOut, int16_t idx, TargetTable &table, const GlobalSettings &settings,
    std::function<void(ProbeStatus, const QString &)> done)
{
    // Judged against this copy when the table no longer holds the Target by the time the answer comes.
    Target snapshot;
    if (table.isValidIndex(idx)) {
        snapshot.RTT = table[idx].RTT;
        snapshot.SmoothedRtt = table[idx].SmoothedRtt;
        snapshot.LastRtt = table[idx].LastRtt;
    }
    const quint64 generation = table.generation();
    return service.sendEcho(address, static_cast<int>(timeOut) * 1000,
        [&table, &settings, idx, generation, snapshot, done = std::move(done)](
            const EchoOutcome &outcome) mutable {
            const bool sameTarget = table.generation() == generation && table.isValidIndex(idx);
            Target &target = sameTarget ? table[idx] : snapshot;
            const PingResult result = judgeEcho(outcome, target, settings.Decay);
            done(result.code, result.msg);
        });
}

} // namespace sentrel
