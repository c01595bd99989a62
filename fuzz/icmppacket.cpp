// The ICMP and ICMPv6 reply and error parsers: an accepted echo reply is byte for byte the
// reply to the request we would have sent, an accepted error quotes one of our requests and
// maps to a failure, and the request builders' packets parse back.
#include "FuzzTarget.h"

#include "probes/IcmpPacket.h"

#include <QByteArray>

#include <cstring>

using namespace sentrel;

namespace {

uint16_t be16(QByteArrayView bytes, qsizetype offset)
{
    return uint16_t((uint8_t(bytes[offset]) << 8) | uint8_t(bytes[offset + 1]));
}

// The echo reply a correct peer sends for our request, checksum included.
QByteArray expectedReply(uint16_t identifier, uint16_t sequence)
{
    QByteArray reply = buildEchoRequest(identifier, sequence);
    reply[0] = char(IcmpType::EchoReply);
    reply[2] = reply[3] = 0;
    const uint16_t sum = internetChecksum(reply);
    reply[2] = char(sum >> 8);
    reply[3] = char(sum & 0xFF);
    return reply;
}

void checkRaw(QByteArrayView packet)
{
    const std::optional<IcmpAnswer> answer = parseRawPacket(packet);
    if (!answer)
        return;
    FUZZ_REQUIRE(packet.size() >= 20 && (uint8_t(packet[0]) >> 4) == 4 && packet[9] == 1);
    const qsizetype headerSize = (uint8_t(packet[0]) & 0x0F) * 4;
    const qsizetype totalLength = be16(packet, 2);
    FUZZ_REQUIRE(headerSize >= 20 && totalLength <= packet.size());
    const QByteArrayView icmp = packet.sliced(headerSize, totalLength - headerSize);
    FUZZ_REQUIRE(internetChecksum(icmp) == 0);
    FUZZ_REQUIRE(answer->ttl == uint8_t(packet[8]));
    FUZZ_REQUIRE(std::memcmp(&answer->from, packet.data() + 12, 4) == 0);
    if (answer->status == IcmpStatus::Success) {
        FUZZ_REQUIRE(icmp == expectedReply(answer->identifier, answer->sequence));
        FUZZ_REQUIRE(answer->echoedTo == 0);
        return;
    }
    FUZZ_REQUIRE(answer->status == statusForIcmpError(uint8_t(icmp[0]), uint8_t(icmp[1])));
    // The quoted request: its own IPv4 header, then at least the echo's ICMP header.
    const QByteArrayView quoted = icmp.sliced(IcmpHeaderSize);
    const qsizetype quotedHeaderSize = (uint8_t(quoted[0]) & 0x0F) * 4;
    FUZZ_REQUIRE(quoted.size() >= quotedHeaderSize + IcmpHeaderSize);
    const QByteArrayView request = quoted.sliced(quotedHeaderSize);
    FUZZ_REQUIRE(request[0] == char(IcmpType::EchoRequest) && request[1] == 0);
    FUZZ_REQUIRE(answer->identifier == be16(request, 4) && answer->sequence == be16(request, 6));
}

void checkDatagram(QByteArrayView message)
{
    const std::optional<IcmpAnswer> answer = parseDatagramReply(message);
    if (answer) {
        // The kernel has checked the checksum (and may have rewritten the identifier).
        QByteArray expected = expectedReply(answer->identifier, answer->sequence);
        FUZZ_REQUIRE(message.size() == expected.size());
        expected[2] = message[2];
        expected[3] = message[3];
        FUZZ_REQUIRE(message == expected);
        FUZZ_REQUIRE(answer->status == IcmpStatus::Success);
    }
    const std::optional<uint16_t> queued = parseQueuedEcho(message);
    if (queued)
        FUZZ_REQUIRE(message.size() >= IcmpHeaderSize && message[0] == char(IcmpType::EchoRequest)
            && *queued == be16(message, 6));
}

// An ICMPv6 message as either kind of socket hands it over: ICMPv6 header first, the sum
// already checked by the kernel.
void checkIcmp6(QByteArrayView message)
{
    const std::optional<IcmpAnswer> answer = parseIcmp6Message(message);
    if (answer) {
        FUZZ_REQUIRE(message.size() >= IcmpHeaderSize);
        const uint8_t type = uint8_t(message[0]);
        if (answer->status == IcmpStatus::Success) {
            QByteArray expected = buildEchoRequest6(answer->identifier, answer->sequence);
            expected[0] = char(Icmp6Type::EchoReply);
            FUZZ_REQUIRE(message.size() == expected.size());
            expected[2] = message[2];
            expected[3] = message[3];
            FUZZ_REQUIRE(message == expected);
        } else {
            FUZZ_REQUIRE(type != Icmp6Type::EchoReply);
            FUZZ_REQUIRE(answer->status == statusForIcmp6Error(type, uint8_t(message[1])));
            // The quoted packet: a fixed IPv6 header naming ICMPv6, then our echo request.
            constexpr qsizetype Ipv6Header = 40;
            const QByteArrayView quoted = message.sliced(IcmpHeaderSize);
            FUZZ_REQUIRE(quoted.size() >= Ipv6Header + IcmpHeaderSize);
            FUZZ_REQUIRE((uint8_t(quoted[0]) >> 4) == 6 && uint8_t(quoted[6]) == 58);
            FUZZ_REQUIRE(std::memcmp(answer->echoedTo6.data(), quoted.data() + 24, 16) == 0);
            const QByteArrayView request = quoted.sliced(Ipv6Header);
            FUZZ_REQUIRE(uint8_t(request[0]) == Icmp6Type::EchoRequest && request[1] == 0);
            FUZZ_REQUIRE(answer->identifier == be16(request, 4) && answer->sequence == be16(request, 6));
        }
    }
    const std::optional<uint16_t> queued = parseQueuedEcho6(message);
    if (queued)
        FUZZ_REQUIRE(message.size() >= IcmpHeaderSize && uint8_t(message[0]) == Icmp6Type::EchoRequest
            && *queued == be16(message, 6));
}

void fuzzIcmpPacket(QByteArrayView input)
{
    checkRaw(input);
    checkDatagram(input);
    checkIcmp6(input);
    if (input.size() >= 4) {
        const QByteArray request = buildEchoRequest(be16(input, 0), be16(input, 2));
        FUZZ_REQUIRE(internetChecksum(request) == 0);
        FUZZ_REQUIRE(parseQueuedEcho(request) == be16(input, 2));
        FUZZ_REQUIRE(!parseDatagramReply(request));
        const QByteArray request6 = buildEchoRequest6(be16(input, 0), be16(input, 2));
        FUZZ_REQUIRE(parseQueuedEcho6(request6) == be16(input, 2));
        FUZZ_REQUIRE(!parseIcmp6Message(request6));
        FUZZ_REQUIRE(!parseQueuedEcho(request6) && !parseQueuedEcho6(request));
    }
}

} // namespace

SENTREL_FUZZ_TARGET(icmppacket, fuzzIcmpPacket)
