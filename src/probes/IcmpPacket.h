#pragma once

#include "probes/HostAddress.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace sentrel {

// The 64 bytes every echo request carries.
inline constexpr char EchoData[] = "abcdefghijklmnopqrstuvwabcdefghijklmnopqrstuvwabcdefghijklmnopqr";
constexpr int EchoDataSize = 64;
constexpr int EchoTtl = 255;
constexpr int EchoTos = 8;
constexpr int IcmpHeaderSize = 8;
constexpr int EchoRequestSize = IcmpHeaderSize + EchoDataSize;

// ICMP echo status codes, numbered as the Windows ICMP echo service numbers them.
namespace IcmpStatus {
constexpr uint32_t Success = 0;
constexpr uint32_t DestNetUnreachable = 11002;
constexpr uint32_t DestHostUnreachable = 11003;
constexpr uint32_t DestProtocolUnreachable = 11004;
constexpr uint32_t DestPortUnreachable = 11005;
constexpr uint32_t NoResources = 11006;
constexpr uint32_t PacketTooBig = 11009;
constexpr uint32_t BadRoute = 11012;
constexpr uint32_t TtlExpiredTransit = 11013;
constexpr uint32_t TtlExpiredReassembly = 11014;
constexpr uint32_t ParameterProblem = 11015;
constexpr uint32_t SourceQuench = 11016;
constexpr uint32_t GeneralFailure = 11050;
} // namespace IcmpStatus

// ICMP message types this probe sends or understands.
namespace IcmpType {
constexpr uint8_t EchoReply = 0;
constexpr uint8_t DestUnreachable = 3;
constexpr uint8_t SourceQuench = 4;
constexpr uint8_t EchoRequest = 8;
constexpr uint8_t TimeExceeded = 11;
constexpr uint8_t ParameterProblem = 12;
} // namespace IcmpType

// ICMPv6 message types this probe sends or understands.
namespace Icmp6Type {
constexpr uint8_t DestUnreachable = 1;
constexpr uint8_t PacketTooBig = 2;
constexpr uint8_t TimeExceeded = 3;
constexpr uint8_t ParameterProblem = 4;
constexpr uint8_t EchoRequest = 128;
constexpr uint8_t EchoReply = 129;
} // namespace Icmp6Type

// One ICMP message about one of our echoes: its echo reply, or an error report.
struct IcmpAnswer
{
    uint16_t identifier = 0;
    uint16_t sequence = 0;
    uint32_t status = IcmpStatus::Success; // 0 for an echo reply, else the mapped error
    uint32_t from = 0; // sender of the message, network order (raw packets only)
    uint32_t echoedTo = 0; // destination of the echo an error reports (raw packets only)
    int ttl = 0; // TTL of the arriving packet (raw packets only)
    Ipv6Bytes echoedTo6 {}; // destination of the echo an ICMPv6 error reports
};

// The RFC 1071 one's complement sum of `bytes`, ready to store in a header.
uint16_t internetChecksum(QByteArrayView bytes);

// An ICMP echo request carrying EchoData, checksum filled in.
QByteArray buildEchoRequest(uint16_t identifier, uint16_t sequence);

// Decodes one packet read from a raw ICMP socket (IPv4 header first). Gives an
// answer only for a well-formed echo reply carrying exactly EchoData, or an ICMP
// error that quotes an echo request; everything else, however short or damaged,
// gives nothing.
std::optional<IcmpAnswer> parseRawPacket(QByteArrayView packet);

// Decodes one message read from an ICMP datagram socket (ICMP header first, the
// kernel has checked it): an echo reply carrying exactly EchoData, or nothing.
std::optional<IcmpAnswer> parseDatagramReply(QByteArrayView message);

// The sequence number of the echo request that an ICMP datagram socket returns
// from its error queue, or nothing when the bytes are not one of our requests.
std::optional<uint16_t> parseQueuedEcho(QByteArrayView message);

// The echo status for an ICMP error of `type` and `code`; Success for types
// that do not report a failed echo (which are then ignored).
uint32_t statusForIcmpError(uint8_t type, uint8_t code);

// An ICMPv6 echo request carrying EchoData. Its checksum stays 0: it covers the
// IPv6 addresses, so the kernel fills it in for either kind of ICMPv6 socket.
QByteArray buildEchoRequest6(uint16_t identifier, uint16_t sequence);

// Decodes one message read from an ICMPv6 socket of either kind (ICMPv6 header
// first, the kernel has checked the sum). Gives an answer only for an echo reply
// carrying exactly EchoData, or an ICMPv6 error that quotes an echo request (its
// destination in echoedTo6); everything else, however short or damaged, gives
// nothing. The sender and hop limit come with the message, not in it.
std::optional<IcmpAnswer> parseIcmp6Message(QByteArrayView message);

// The sequence number of the ICMPv6 echo request that a datagram socket returns
// from its error queue, or nothing when the bytes are not one of our requests.
std::optional<uint16_t> parseQueuedEcho6(QByteArrayView message);

// The echo status for an ICMPv6 error of `type` and `code`, in the numbering of
// the IPv4 ones; Success for types that do not report a failed echo.
uint32_t statusForIcmp6Error(uint8_t type, uint8_t code);

// The echo status for a send that the local stack refused with `err`.
uint32_t statusForSendError(int err);

} // namespace sentrel
