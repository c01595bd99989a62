#include "probes/HostAddress.h"

#include "probes/UniqueFd.h"
#include "probes/WinSock.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace sentrel {

HostAddress HostAddress::fromIpv4(uint32_t addressNetworkOrder)
{
    HostAddress a;
    a.ipv4 = addressNetworkOrder;
    return a;
}

HostAddress HostAddress::fromIpv6(const Ipv6Bytes &bytes, uint32_t scopeId)
{
    HostAddress a;
    a.isIpv6 = true;
    a.ipv6 = bytes;
    a.scopeId = scopeId;
    return a;
}

std::optional<Ipv6Literal> parseIpv6Literal(const QString &text)
{
    QString body = text.trimmed();
    if (body.startsWith(QLatin1Char('[')) && body.endsWith(QLatin1Char(']')))
        body = body.mid(1, body.size() - 2);
    if (!body.contains(QLatin1Char(':')) || body.contains(QChar(0)))
        return std::nullopt;
    QString zone;
    if (const qsizetype percent = body.indexOf(QLatin1Char('%')); percent >= 0) {
        zone = body.mid(percent + 1);
        body.truncate(percent);
        if (zone.isEmpty())
            return std::nullopt;
    }
    Ipv6Bytes bytes {};
    if (::inet_pton(AF_INET6, body.toLatin1().constData(), bytes.data()) != 1)
        return std::nullopt;

    // An IPv4 address written the IPv6 way is checked as the IPv4 address it is.
    static constexpr uint8_t mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (zone.isEmpty() && std::memcmp(bytes.data(), mappedPrefix, sizeof mappedPrefix) == 0) {
        uint32_t v4 = 0;
        std::memcpy(&v4, bytes.data() + 12, sizeof v4);
        return Ipv6Literal {HostAddress::fromIpv4(v4), true};
    }

    Ipv6Literal literal {HostAddress::fromIpv6(bytes), true};
    if (!zone.isEmpty()) {
        bool numeric = false;
        const uint index = zone.toUInt(&numeric, 10);
        if (numeric) {
            literal.address.scopeId = index;
        } else {
            literal.address.scopeId = ::if_nametoindex(zone.toLocal8Bit().constData());
            literal.zoneKnown = literal.address.scopeId != 0;
        }
    }
    return literal;
}

QString formatHostAddress(const HostAddress &address)
{
    if (!address.isIpv6)
        return FormatDottedAddress(address.ipv4);
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, address.ipv6.data(), text, sizeof text);
    return QString::fromLatin1(text);
}

unsigned toSockaddr(const HostAddress &address, uint16_t port, sockaddr_storage &out)
{
    std::memset(&out, 0, sizeof out);
    if (!address.isIpv6) {
        auto &in = reinterpret_cast<sockaddr_in &>(out);
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        in.sin_addr.s_addr = address.ipv4;
        return sizeof in;
    }
    auto &in6 = reinterpret_cast<sockaddr_in6 &>(out);
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    std::memcpy(&in6.sin6_addr, address.ipv6.data(), sizeof in6.sin6_addr);
    in6.sin6_scope_id = address.scopeId;
    return sizeof in6;
}

int ipv6Unavailability(const HostAddress &address)
{
    if (!address.isIpv6)
        return 0;
    UniqueFd probe(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!probe)
        return errno == EAFNOSUPPORT ? WsaError::AfNotSupported : 0;
    // A datagram connect only looks the route up: no packet leaves the machine.
    sockaddr_storage to {};
    const unsigned length = toSockaddr(address, 9, to);
    if (::connect(probe.get(), reinterpret_cast<const sockaddr *>(&to), length) == 0)
        return 0;
    switch (errno) {
    case ENETUNREACH: // no IPv6 route, or IPv6 switched off on every interface
    case EADDRNOTAVAIL: // no IPv6 source address to send from
    case EAFNOSUPPORT:
    case ENETDOWN:
        return wsaErrorFromErrno(errno);
    default:
        return 0;
    }
}

QString ipv6UnavailableText()
{
    return QStringLiteral("IPv6 is not available on this machine");
}

} // namespace sentrel
