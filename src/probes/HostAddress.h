#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

struct sockaddr_storage;

namespace sentrel {

// Sixteen bytes of an IPv6 address, in network order.
using Ipv6Bytes = std::array<uint8_t, 16>;

// The address a Target is checked on: IPv4 or IPv6 (with the scope of a link-local one).
struct HostAddress
{
    bool isIpv6 = false;
    uint32_t ipv4 = 0; // network order
    Ipv6Bytes ipv6 {};
    uint32_t scopeId = 0;

    static HostAddress fromIpv4(uint32_t addressNetworkOrder);
    static HostAddress fromIpv6(const Ipv6Bytes &bytes, uint32_t scopeId = 0);

    bool operator==(const HostAddress &) const = default;
};

// What an IPv6 literal in a host box turned out to be.
struct Ipv6Literal
{
    HostAddress address;
    bool zoneKnown = true; // false: the text names an interface this machine does not have
};

// An IPv6 literal ("2001:db8::10", "::1", "[::1]", "fe80::1%eth0"), or nothing
// when the text is not one. A zone is an interface name or number.
std::optional<Ipv6Literal> parseIpv6Literal(const QString &text);

// The address as text: dotted IPv4, or the short IPv6 form without zone.
QString formatHostAddress(const HostAddress &address);

// Fills `out` for `address` and `port`; returns its length.
unsigned toSockaddr(const HostAddress &address, uint16_t port, sockaddr_storage &out);

// Whether this machine can send to `address` over IPv6 at all: the family is
// there and a route leads to the address. Asks the kernel only; sends nothing.
// Returns the Windows Sockets code of why not, or 0.
int ipv6Unavailability(const HostAddress &address);

// The local error of a Target reached only over IPv6 on a machine without it.
QString ipv6UnavailableText();

} // namespace sentrel
