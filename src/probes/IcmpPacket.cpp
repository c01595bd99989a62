#include "probes/IcmpPacket.h"

#include <cerrno>
#include <cstring>

namespace sentrel {

namespace {

constexpr int MinIpHeaderSize = 20;
constexpr uint8_t ProtocolIcmp = 1;
constexpr int Ipv6HeaderSize = 40;
constexpr uint8_t NextHeaderIcmp6 = 58;

uint8_t byteAt(QByteArrayView bytes, qsizetype offset)
{
    return static_cast<uint8_t>(bytes[offset]);
}

uint16_t be16(QByteArrayView bytes, qsizetype offset)
{
    return static_cast<uint16_t>((byteAt(bytes, offset) << 8) | byteAt(bytes, offset + 1));
}

// Keeps the four bytes as they lie in memory, which is network order.
uint32_t rawAddress(QByteArrayView bytes, qsizetype offset)
{
    uint32_t address = 0;
    std::memcpy(&address, bytes.data() + offset, sizeof address);
    return address;
}

// The IPv4 header length when `bytes` starts with a plausible ICMP-carrying
// IPv4 header that fits inside them, else 0.
qsizetype icmpIpHeaderSize(QByteArrayView bytes)
{
    if (bytes.size() < MinIpHeaderSize || (byteAt(bytes, 0) >> 4) != 4)
        return 0;
    const qsizetype headerSize = (byteAt(bytes, 0) & 0x0F) * 4;
    if (headerSize < MinIpHeaderSize || headerSize > bytes.size() || byteAt(bytes, 9) != ProtocolIcmp)
        return 0;
    return headerSize;
}

bool carriesEchoData(QByteArrayView icmp)
{
    return icmp.size() == EchoRequestSize
        && std::memcmp(icmp.data() + IcmpHeaderSize, EchoData, EchoDataSize) == 0;
}

} // namespace

uint16_t internetChecksum(QByteArrayView bytes)
{
    uint32_t sum = 0;
    qsizetype i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += be16(bytes, i);
    if (i < bytes.size())
        sum += static_cast<uint32_t>(byteAt(bytes, i)) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

QByteArray buildEchoRequest(uint16_t identifier, uint16_t sequence)
{
    QByteArray packet(EchoRequestSize, '\0');
    packet[0] = static_cast<char>(IcmpType::EchoRequest);
    packet[4] = static_cast<char>(identifier >> 8);
    packet[5] = static_cast<char>(identifier & 0xFF);
    packet[6] = static_cast<char>(sequence >> 8);
    packet[7] = static_cast<char>(sequence & 0xFF);
    std::memcpy(packet.data() + IcmpHeaderSize, EchoData, EchoDataSize);
    const uint16_t sum = internetChecksum(packet);
    packet[2] = static_cast<char>(sum >> 8);
    packet[3] = static_cast<char>(sum & 0xFF);
    return packet;
}

std::optional<IcmpAnswer> parseRawPacket(QByteArrayView packet)
{
    const qsizetype headerSize = icmpIpHeaderSize(packet);
    if (headerSize == 0)
        return std::nullopt;
    // The total length bounds the message; a claim beyond what was read means truncation.
    const qsizetype totalLength = be16(packet, 2);
    if (totalLength < headerSize + IcmpHeaderSize || totalLength > packet.size())
        return std::nullopt;
    const QByteArrayView icmp = packet.sliced(headerSize, totalLength - headerSize);
    // Raw sockets see messages before the ICMP layer has checked them.
    if (internetChecksum(icmp) != 0)
        return std::nullopt;

    IcmpAnswer answer;
    answer.ttl = byteAt(packet, 8);
    answer.from = rawAddress(packet, 12);
    const uint8_t type = byteAt(icmp, 0);
    const uint8_t code = byteAt(icmp, 1);
    if (type == IcmpType::EchoReply) {
        if (code != 0 || !carriesEchoData(icmp))
            return std::nullopt;
        answer.identifier = be16(icmp, 4);
        answer.sequence = be16(icmp, 6);
        return answer;
    }

    answer.status = statusForIcmpError(type, code);
    if (answer.status == IcmpStatus::Success)
        return std::nullopt;
    const QByteArrayView quoted = icmp.sliced(IcmpHeaderSize);
    const qsizetype quotedHeaderSize = icmpIpHeaderSize(quoted);
    if (quotedHeaderSize == 0 || quoted.size() < quotedHeaderSize + IcmpHeaderSize)
        return std::nullopt;
    const QByteArrayView quotedIcmp = quoted.sliced(quotedHeaderSize);
    if (byteAt(quotedIcmp, 0) != IcmpType::EchoRequest || byteAt(quotedIcmp, 1) != 0)
        return std::nullopt;
    answer.echoedTo = rawAddress(quoted, 16);
    answer.identifier = be16(quotedIcmp, 4);
    answer.sequence = be16(quotedIcmp, 6);
    return answer;
}

std::optional<IcmpAnswer> parseDatagramReply(QByteArrayView message)
{
    if (message.size() < IcmpHeaderSize || byteAt(message, 0) != IcmpType::EchoReply
        || byteAt(message, 1) != 0 || !carriesEchoData(message))
        return std::nullopt;
    IcmpAnswer answer;
    answer.identifier = be16(message, 4);
    answer.sequence = be16(message, 6);
    return answer;
}

std::optional<uint16_t> parseQueuedEcho(QByteArrayView message)
{
    if (message.size() < IcmpHeaderSize || byteAt(message, 0) != IcmpType::EchoRequest
        || byteAt(message, 1) != 0)
        return std::nullopt;
    return be16(message, 6);
}

uint32_t statusForIcmpError(uint8_t type, uint8_t code)
{
    switch (type) {
    case IcmpType::DestUnreachable:
        switch (code) {
        case 0: // network
        case 6: // network unknown
        case 9: // network administratively prohibited
        case 11: // network unreachable for this type of service
            return IcmpStatus::DestNetUnreachable;
        case 1: // host
        case 7: // host unknown
        case 8: // source host isolated
        case 10: // host administratively prohibited
        case 12: // host unreachable for this type of service
        case 13: // communication administratively prohibited
        case 14: // host precedence violation
        case 15: // precedence cut-off
            return IcmpStatus::DestHostUnreachable;
        case 2:
            return IcmpStatus::DestProtocolUnreachable;
        case 3:
            return IcmpStatus::DestPortUnreachable;
        case 4: // fragmentation needed but DF set
            return IcmpStatus::PacketTooBig;
        case 5: // source route failed
            return IcmpStatus::BadRoute;
        default:
            return IcmpStatus::GeneralFailure;
        }
    case IcmpType::TimeExceeded:
        if (code == 0)
            return IcmpStatus::TtlExpiredTransit;
        if (code == 1)
            return IcmpStatus::TtlExpiredReassembly;
        return IcmpStatus::GeneralFailure;
    case IcmpType::ParameterProblem:
        return IcmpStatus::ParameterProblem;
    case IcmpType::SourceQuench:
        return IcmpStatus::SourceQuench;
    default:
        return IcmpStatus::Success;
    }
}

QByteArray buildEchoRequest6(uint16_t identifier, uint16_t sequence)
{
    QByteArray packet = buildEchoRequest(identifier, sequence);
    packet[0] = static_cast<char>(Icmp6Type::EchoRequest);
    packet[2] = 0;
    packet[3] = 0;
    return packet;
}

std::optional<IcmpAnswer> parseIcmp6Message(QByteArrayView message)
{
    if (message.size() < IcmpHeaderSize)
        return std::nullopt;
    const uint8_t type = byteAt(message, 0);
    const uint8_t code = byteAt(message, 1);
    IcmpAnswer answer;
    if (type == Icmp6Type::EchoReply) {
        if (code != 0 || !carriesEchoData(message))
            return std::nullopt;
        answer.identifier = be16(message, 4);
        answer.sequence = be16(message, 6);
        return answer;
    }
    answer.status = statusForIcmp6Error(type, code);
    if (answer.status == IcmpStatus::Success)
        return std::nullopt;
    // The error quotes the packet that caused it: our IPv6 header, which carries
    // no extension headers, then the echo request.
    const QByteArrayView quoted = message.sliced(IcmpHeaderSize);
    if (quoted.size() < Ipv6HeaderSize + IcmpHeaderSize || (byteAt(quoted, 0) >> 4) != 6
        || byteAt(quoted, 6) != NextHeaderIcmp6)
        return std::nullopt;
    const QByteArrayView quotedIcmp = quoted.sliced(Ipv6HeaderSize);
    if (byteAt(quotedIcmp, 0) != Icmp6Type::EchoRequest || byteAt(quotedIcmp, 1) != 0)
        return std::nullopt;
    std::memcpy(answer.echoedTo6.data(), quoted.data() + 24, answer.echoedTo6.size());
    answer.identifier = be16(quotedIcmp, 4);
    answer.sequence = be16(quotedIcmp, 6);
    return answer;
}

std::optional<uint16_t> parseQueuedEcho6(QByteArrayView message)
{
    if (message.size() < IcmpHeaderSize || byteAt(message, 0) != Icmp6Type::EchoRequest
        || byteAt(message, 1) != 0)
        return std::nullopt;
    return be16(message, 6);
}

uint32_t statusForIcmp6Error(uint8_t type, uint8_t code)
{
    switch (type) {
    case Icmp6Type::DestUnreachable:
        switch (code) {
        case 0: // no route to destination
        case 2: // beyond scope of source address
        case 6: // reject route to destination
            return IcmpStatus::DestNetUnreachable;
        case 1: // communication administratively prohibited
        case 3: // address unreachable
        case 5: // source address failed ingress/egress policy
            return IcmpStatus::DestHostUnreachable;
        case 4:
            return IcmpStatus::DestPortUnreachable;
        case 7: // error in source routing header
            return IcmpStatus::BadRoute;
        default:
            return IcmpStatus::GeneralFailure;
        }
    case Icmp6Type::PacketTooBig:
        return IcmpStatus::PacketTooBig;
    case Icmp6Type::TimeExceeded:
        if (code == 0)
            return IcmpStatus::TtlExpiredTransit;
        if (code == 1)
            return IcmpStatus::TtlExpiredReassembly;
        return IcmpStatus::GeneralFailure;
    case Icmp6Type::ParameterProblem:
        return IcmpStatus::ParameterProblem;
    default:
        return IcmpStatus::Success;
    }
}

uint32_t statusForSendError(int err)
{
    switch (err) {
    case ENETUNREACH:
        return IcmpStatus::DestNetUnreachable;
    case EHOSTUNREACH:
        return IcmpStatus::DestHostUnreachable;
    case EMSGSIZE:
        return IcmpStatus::PacketTooBig;
    case ENOBUFS:
    case ENOMEM:
        return IcmpStatus::NoResources;
    default:
        return IcmpStatus::GeneralFailure;
    }
}

} // namespace sentrel
