#include "probes/IcmpPacket.h"
#include "probes/WinSock.h"

#include <QTest>

#include <arpa/inet.h>

#include <cerrno>
#include <vector>

using namespace sentrel;

namespace {

QByteArray be16(uint16_t value)
{
    const char bytes[] = {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
    return QByteArray(bytes, 2);
}

const QByteArray Data(EchoData, EchoDataSize);

// An ICMP message whose second word is identifier and sequence, checksum filled in.
QByteArray icmp(uint8_t type, uint8_t code, const QByteArray &body = Data, uint16_t id = 1, uint16_t seq = 2)
{
    QByteArray message = QByteArray(1, char(type)) + char(code) + be16(0) + be16(id) + be16(seq) + body;
    message.replace(2, 2, be16(internetChecksum(message)));
    return message;
}

// An IPv4 packet around `payload`; `optionWords` adds that many 4-byte NOP option words.
QByteArray ipv4(const char *src, const char *dst, uint8_t ttl, const QByteArray &payload, int optionWords = 0,
    uint8_t protocol = 1)
{
    const int headerSize = 20 + 4 * optionWords;
    QByteArray header(headerSize, '\1');
    header[0] = static_cast<char>(0x40 | (headerSize / 4));
    header.replace(1, 11, QByteArray(11, '\0'));
    header.replace(2, 2, be16(static_cast<uint16_t>(headerSize + payload.size())));
    header[8] = static_cast<char>(ttl);
    header[9] = static_cast<char>(protocol);
    const uint32_t addresses[] = {inet_addr(src), inet_addr(dst)};
    header.replace(12, 8, QByteArray(reinterpret_cast<const char *>(addresses), 8));
    return header + payload;
}

QByteArray reply(
    const QByteArray &message = icmp(0, 0, Data, 0x1234, 7), int optionWords = 0, uint8_t protocol = 1)
{
    return ipv4("10.0.0.9", "10.0.0.1", 57, message, optionWords, protocol);
}

// An ICMP error from 10.0.0.254 quoting `quoted` (an IPv4 header first).
QByteArray errorQuoting(const QByteArray &quoted, uint8_t type = 3, uint8_t code = 1)
{
    return ipv4("10.0.0.254", "10.0.0.1", 250, icmp(type, code, quoted));
}

// An ICMP error quoting the first `quotedBytes` of our echo request to 10.9.9.9.
QByteArray error(uint8_t type, uint8_t code, int quotedBytes = EchoRequestSize, int quotedOptionWords = 0)
{
    const QByteArray request = buildEchoRequest(0x1234, 7).left(quotedBytes);
    return errorQuoting(ipv4("10.0.0.1", "10.9.9.9", 1, request, quotedOptionWords), type, code);
}

// An IPv6 header (no extension headers) from `src` to `dst` around `payload`.
QByteArray ipv6(const char *src, const char *dst, const QByteArray &payload, uint8_t nextHeader = 58)
{
    QByteArray header(40, '\0');
    header[0] = 0x60;
    header.replace(4, 2, be16(static_cast<uint16_t>(payload.size())));
    header[6] = static_cast<char>(nextHeader);
    header[7] = 1;
    Ipv6Bytes bytes;
    ::inet_pton(AF_INET6, src, bytes.data());
    header.replace(8, 16, QByteArray(reinterpret_cast<const char *>(bytes.data()), 16));
    ::inet_pton(AF_INET6, dst, bytes.data());
    header.replace(24, 16, QByteArray(reinterpret_cast<const char *>(bytes.data()), 16));
    return header + payload;
}

// An ICMPv6 error quoting the first `quotedBytes` of our request to 2001:db8::10.
QByteArray error6(uint8_t type, uint8_t code, int quotedBytes = EchoRequestSize, uint8_t nextHeader = 58)
{
    const QByteArray request = buildEchoRequest6(0x1234, 7).left(quotedBytes);
    return icmp(type, code, ipv6("2001:db8::1", "2001:db8::10", request, nextHeader), 0, 1280);
}

QByteArray with(QByteArray bytes, int at, const QByteArray &value)
{
    return bytes.replace(at, value.size(), value);
}

// The bytes on the heap without slack, so a read one past the end is caught by the sanitizer.
struct ExactBytes
{
    explicit ExactBytes(const QByteArray &bytes)
        : storage(bytes.cbegin(), bytes.cend())
    { }
    QByteArrayView view() const { return QByteArrayView(storage.data(), qsizetype(storage.size())); }
    std::vector<char> storage;
};

} // namespace

class TstIcmpPacket : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void checksum_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<uint>("sum");
        // The worked example of RFC 1071: the sum is 0xDDF2, so the checksum is its complement.
        QTest::newRow("rfc1071") << QByteArray::fromHex("0001f203f4f5f6f7") << 0x220Du;
        QTest::newRow("odd length pads with zero") << QByteArray::fromHex("0001f203f4f5f6") << 0x2304u;
        QTest::newRow("carry folds") << QByteArray::fromHex("ffffffff01") << 0xFEFFu;
    }
    void checksum()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(uint, sum);
        QCOMPARE(uint(internetChecksum(bytes)), sum);
    }

    void recognisedRawPacket_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<uint>("status");
        QTest::addColumn<uint>("sequence");
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("ttl");
        QTest::addColumn<QString>("echoedTo");
        const QString router = QStringLiteral("10.0.0.254");
        const QString target = QStringLiteral("10.9.9.9");
        QTest::newRow("echo reply") << reply(icmp(0, 0, Data, 0x1234, 0xFFFE)) << 0u << 0xFFFEu
                                    << QStringLiteral("10.0.0.9") << 57 << QStringLiteral("0.0.0.0");
        QTest::newRow("echo reply behind IP options")
            << reply(icmp(0, 0, Data, 0x1234, 2), 3) << 0u << 2u << QStringLiteral("10.0.0.9") << 57
            << QStringLiteral("0.0.0.0");
        QTest::newRow("bytes beyond total length ignored")
            << reply() + QByteArray(6, '\0') << 0u << 7u << QStringLiteral("10.0.0.9") << 57
            << QStringLiteral("0.0.0.0");
        QTest::newRow("host unreachable from router")
            << error(3, 1) << 11003u << 7u << router << 250 << target;
        QTest::newRow("error quoting only 8 bytes")
            << error(11, 0, 8) << 11013u << 7u << router << 250 << target;
        QTest::newRow("error quoting a header with options")
            << error(12, 0, 8, 2) << 11015u << 7u << router << 250 << target;
    }
    void recognisedRawPacket()
    {
        QFETCH(QByteArray, packet);
        const auto answer = parseRawPacket(ExactBytes(packet).view());
        QVERIFY(answer.has_value());
        QTEST(answer->status, "status");
        QCOMPARE(answer->identifier, uint16_t(0x1234));
        QTEST(uint(answer->sequence), "sequence");
        QTEST(FormatDottedAddress(answer->from), "from");
        QTEST(answer->ttl, "ttl");
        QTEST(FormatDottedAddress(answer->echoedTo), "echoedTo");
    }

    void rejectedRawPacket_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::newRow("our own echo request") << ipv4("10.0.0.1", "10.0.0.9", 64, buildEchoRequest(1, 2));
        QTest::newRow("reply with other data") << reply(icmp(0, 0, QByteArray(64, 'x')));
        QTest::newRow("reply with 63 data bytes") << reply(icmp(0, 0, Data.left(63)));
        QTest::newRow("reply with 65 data bytes") << reply(icmp(0, 0, Data + 'a'));
        QTest::newRow("reply with code 1") << reply(icmp(0, 1));
        QTest::newRow("total length beyond the bytes read") << with(reply(), 2, be16(93));
        QTest::newRow("total length inside the IP header") << with(reply(), 2, be16(19));
        QTest::newRow("total length leaves no ICMP header") << with(reply(), 2, be16(27));
        QTest::newRow("IPv6 version nibble") << with(reply(), 0, "\x65");
        QTest::newRow("header length below 20") << with(reply(), 0, "\x44");
        QTest::newRow("header length beyond the packet") << with(reply().left(40), 0, "\x4F");
        QTest::newRow("not ICMP") << reply(icmp(0, 0), 0, 17);
        QTest::newRow("redirect is no failure") << error(5, 1);
        QTest::newRow("error quoting 7 bytes") << error(3, 1, 7);
        QTest::newRow("error quoting a UDP datagram")
            << errorQuoting(ipv4("10.0.0.1", "10.9.9.9", 1, buildEchoRequest(0x1234, 7), 0, 17));
        QTest::newRow("error quoting an echo reply")
            << errorQuoting(ipv4("10.0.0.1", "10.9.9.9", 1, icmp(0, 0)));
        QTest::newRow("error quoting a header longer than itself")
            << errorQuoting(with(ipv4("10.0.0.1", "10.9.9.9", 1, buildEchoRequest(1, 2).left(8)), 0, "\x4F"));
    }
    void rejectedRawPacket()
    {
        QFETCH(QByteArray, packet);
        QVERIFY(!parseRawPacket(ExactBytes(packet).view()).has_value());
    }

    // What an ICMPv6 socket of either kind reads: replies, errors quoting our
    // requests, and the requests a datagram socket hands back from its error queue.
    void icmp6Messages_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("status"); // -1: not recognised
        QTest::addColumn<int>("sequence");
        QTest::addColumn<QString>("echoedTo");
        QTest::addColumn<int>("queued"); // sequence of our queued request, -1: none
        const QString none;
        const QString target = QStringLiteral("2001:db8::10");
        QTest::newRow("echo reply") << icmp(129, 0, Data, 0x1234, 0xFFFE) << 0 << 0xFFFE << none << -1;
        QTest::newRow("reply with code 1") << icmp(129, 1) << -1 << 0 << none << -1;
        QTest::newRow("reply with other data") << icmp(129, 0, Data.toUpper()) << -1 << 0 << none << -1;
        QTest::newRow("reply with 63 data bytes") << icmp(129, 0, Data.chopped(1)) << -1 << 0 << none << -1;
        QTest::newRow("IPv4 echo reply type") << icmp(0, 0) << -1 << 0 << none << -1;
        QTest::newRow("address unreachable") << error6(1, 3) << 11003 << 7 << target << -1;
        QTest::newRow("hop limit exceeded, 8 bytes quoted") << error6(3, 0, 8) << 11013 << 7 << target << -1;
        QTest::newRow("error quoting 7 bytes") << error6(1, 3, 7) << -1 << 0 << none << -1;
        QTest::newRow("error quoting an extension header") << error6(1, 3, 72, 0) << -1 << 0 << none << -1;
        QTest::newRow("error quoting an IPv4 header")
            << icmp(1, 3, ipv4("10.0.0.1", "10.9.9.9", 1, buildEchoRequest(0x1234, 7))) << -1 << 0 << none
            << -1;
        QTest::newRow("error quoting an echo reply")
            << icmp(1, 3, ipv6("2001:db8::1", "2001:db8::10", icmp(129, 0))) << -1 << 0 << none << -1;
        QTest::newRow("redirect is no failure") << error6(137, 0) << -1 << 0 << none << -1;
        QTest::newRow("empty") << QByteArray() << -1 << 0 << none << -1;
        QTest::newRow("our request") << buildEchoRequest6(77, 0xFFFF) << -1 << 0 << none << 0xFFFF;
        QTest::newRow("request header only") << buildEchoRequest6(77, 12).left(8) << -1 << 0 << none << 12;
        QTest::newRow("request 7 bytes") << buildEchoRequest6(77, 12).left(7) << -1 << 0 << none << -1;
    }
    void icmp6Messages()
    {
        QFETCH(QByteArray, message);
        QFETCH(int, status);
        const auto answer = parseIcmp6Message(ExactBytes(message).view());
        QCOMPARE(answer ? int(answer->status) : -1, status);
        const auto queued = parseQueuedEcho6(ExactBytes(message).view());
        QTEST(queued ? int(*queued) : -1, "queued");
        if (!answer)
            return;
        QCOMPARE(answer->identifier, uint16_t(0x1234));
        QTEST(int(answer->sequence), "sequence");
        QTEST(answer->status ? formatHostAddress(HostAddress::fromIpv6(answer->echoedTo6)) : QString(),
            "echoedTo");
    }

    // The failure each ICMP and ICMPv6 error, and each error of sending, is reported as.
    void errorStatus_data()
    {
        QTest::addColumn<int>("family"); // 4: ICMP, 6: ICMPv6, 0: `code` is the send's errno
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("code");
        QTest::addColumn<uint>("status");
        // Each group of codes at its edges, and what falls outside every group.
        const std::tuple<const char *, int, int, int, uint> table[] = {{"net unreachable", 4, 3, 0, 11002},
            {"fragmentation needed", 4, 3, 4, 11009}, {"host prohibited", 4, 3, 10, 11003},
            {"unassigned unreachable code", 4, 3, 16, 11050}, {"TTL expired in transit", 4, 11, 0, 11013},
            {"time exceeded, other code", 4, 11, 2, 11050}, {"parameter problem", 4, 12, 0, 11015},
            {"source quench", 4, 4, 0, 11016}, {"echo reply is no error", 4, 0, 0, 0},
            {"redirect is no error", 4, 5, 0, 0}, {"v6 address unreachable", 6, 1, 3, 11003},
            {"v6 unassigned unreachable code", 6, 1, 8, 11050}, {"v6 packet too big", 6, 2, 0, 11009},
            {"v6 hop limit exceeded", 6, 3, 0, 11013}, {"v6 time exceeded, other code", 6, 3, 2, 11050},
            {"v6 parameter problem", 6, 4, 2, 11015}, {"v6 echo reply is no error", 6, 129, 0, 0},
            {"v6 unassigned error type", 6, 5, 0, 0}, {"send ENETUNREACH", 0, 0, ENETUNREACH, 11002},
            {"send ENOBUFS", 0, 0, ENOBUFS, 11006}, {"send EACCES", 0, 0, EACCES, 11050}};
        for (const auto &[name, family, type, code, status] : table)
            QTest::newRow(name) << family << type << code << status;
    }
    void errorStatus()
    {
        QFETCH(int, family);
        QFETCH(int, type);
        QFETCH(int, code);
        QTEST(family == 4     ? statusForIcmpError(uint8_t(type), uint8_t(code))
                : family == 6 ? statusForIcmp6Error(uint8_t(type), uint8_t(code))
                              : statusForSendError(code),
            "status");
    }
};

SENTREL_TEST_GUILESS_MAIN(TstIcmpPacket)
#include "tst_icmppacket.moc"
