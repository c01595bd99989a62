#include "probes/IcmpPacket.h"

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

QByteArray echoData()
{
    return QByteArray(EchoData, EchoDataSize);
}

void storeChecksum(QByteArray &message)
{
    message[2] = 0;
    message[3] = 0;
    message.replace(2, 2, be16(internetChecksum(message)));
}

// An ICMP message whose second word is identifier and sequence, checksum filled in.
QByteArray icmpMessage(uint8_t type, uint8_t code, uint16_t id, uint16_t seq, const QByteArray &body)
{
    QByteArray message;
    message += static_cast<char>(type);
    message += static_cast<char>(code);
    message += be16(0) + be16(id) + be16(seq) + body;
    storeChecksum(message);
    return message;
}

// An IPv4 packet around `payload`; `optionWords` adds that many 4-byte option words.
QByteArray ipv4(const char *src, const char *dst, uint8_t ttl, const QByteArray &payload, int optionWords = 0,
    uint8_t protocol = 1)
{
    const int headerSize = 20 + 4 * optionWords;
    QByteArray header(headerSize, '\0');
    header[0] = static_cast<char>(0x40 | (headerSize / 4));
    header.replace(2, 2, be16(static_cast<uint16_t>(headerSize + payload.size())));
    header[8] = static_cast<char>(ttl);
    header[9] = static_cast<char>(protocol);
    const uint32_t s = inet_addr(src);
    const uint32_t d = inet_addr(dst);
    header.replace(12, 4, QByteArray(reinterpret_cast<const char *>(&s), 4));
    header.replace(16, 4, QByteArray(reinterpret_cast<const char *>(&d), 4));
    for (int i = 20; i < headerSize; ++i)
        header[i] = 1; // NOP options
    return header + payload;
}

QByteArray echoReplyPacket(uint16_t id = 0x1234, uint16_t seq = 7)
{
    return ipv4("10.0.0.9", "10.0.0.1", 57, icmpMessage(0, 0, id, seq, echoData()));
}

// An ICMP error from `router` quoting the first `quotedBytes` of our echo request to `target`.
QByteArray errorPacket(uint8_t type, uint8_t code, const char *router = "10.0.0.254",
    const char *target = "10.9.9.9", int quotedBytes = EchoRequestSize, int quotedOptionWords = 0)
{
    const QByteArray request = buildEchoRequest(0x1234, 7).left(quotedBytes);
    const QByteArray quoted = ipv4("10.0.0.1", target, 1, request, quotedOptionWords);
    return ipv4(router, "10.0.0.1", 250, icmpMessage(type, code, 0, 0, quoted));
}

QByteArray withByte(QByteArray bytes, int at, char value)
{
    bytes[at] = value;
    return bytes;
}

QByteArray withWord(QByteArray bytes, int at, uint16_t value)
{
    bytes.replace(at, 2, be16(value));
    return bytes;
}

QString dotted(uint32_t address)
{
    in_addr a {};
    a.s_addr = address;
    return QString::fromLatin1(inet_ntoa(a));
}

// The bytes on the heap without slack, so a read one past the end is caught by the sanitizer.
struct ExactBytes
{
    explicit ExactBytes(const QByteArray &bytes)
        : storage(bytes.cbegin(), bytes.cend())
    { }
    QByteArrayView view() const
    {
        return QByteArrayView(storage.data(), static_cast<qsizetype>(storage.size()));
    }
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
        QTest::newRow("empty") << QByteArray() << 0xFFFFu;
        QTest::newRow("carry folds") << QByteArray::fromHex("ffffffff01") << 0xFEFFu;
    }
    void checksum()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(uint, sum);
        QCOMPARE(uint(internetChecksum(bytes)), sum);
    }

    void echoRequestLayout()
    {
        const QByteArray request = buildEchoRequest(0xBEEF, 0x0102);
        QCOMPARE(request.size(), EchoRequestSize);
        QCOMPARE(uint8_t(request[0]), IcmpType::EchoRequest);
        QCOMPARE(int(request[1]), 0);
        QCOMPARE(request.mid(4, 2), QByteArray::fromHex("beef"));
        QCOMPARE(request.mid(6, 2), QByteArray::fromHex("0102"));
        QCOMPARE(request.mid(8), echoData());
        QCOMPARE(internetChecksum(request), uint16_t(0));
        QVERIFY(buildEchoRequest(0xBEEF, 0x0103) != request);
    }

    void rawPacket_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<bool>("recognised");
        QTest::addColumn<uint>("status");
        QTest::addColumn<uint>("identifier");
        QTest::addColumn<uint>("sequence");
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("ttl");
        QTest::addColumn<QString>("echoedTo");

        const QString none;
        QTest::newRow("echo reply") << echoReplyPacket(0xABCD, 0xFFFE) << true << 0u << 0xABCDu << 0xFFFEu
                                    << QStringLiteral("10.0.0.9") << 57 << QStringLiteral("0.0.0.0");
        QTest::newRow("echo reply behind IP options")
            << ipv4("10.0.0.9", "10.0.0.1", 3, icmpMessage(0, 0, 1, 2, echoData()), 3) << true << 0u << 1u
            << 2u << QStringLiteral("10.0.0.9") << 3 << QStringLiteral("0.0.0.0");
        QTest::newRow("bytes beyond total length ignored")
            << echoReplyPacket() + QByteArray(6, '\0') << true << 0u << 0x1234u << 7u
            << QStringLiteral("10.0.0.9") << 57 << QStringLiteral("0.0.0.0");
        QTest::newRow("host unreachable from router")
            << errorPacket(3, 1) << true << 11003u << 0x1234u << 7u << QStringLiteral("10.0.0.254") << 250
            << QStringLiteral("10.9.9.9");
        QTest::newRow("error quoting only 8 bytes")
            << errorPacket(11, 0, "172.16.0.1", "10.9.9.8", 8) << true << 11013u << 0x1234u << 7u
            << QStringLiteral("172.16.0.1") << 250 << QStringLiteral("10.9.9.8");
        QTest::newRow("error quoting a header with options")
            << errorPacket(12, 0, "10.0.0.254", "10.9.9.9", 8, 2) << true << 11015u << 0x1234u << 7u
            << QStringLiteral("10.0.0.254") << 250 << QStringLiteral("10.9.9.9");
        QTest::newRow("source quench") << errorPacket(4, 0) << true << 11016u << 0x1234u << 7u
                                       << QStringLiteral("10.0.0.254") << 250 << QStringLiteral("10.9.9.9");

        QTest::newRow("empty") << QByteArray() << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("our own echo request") << ipv4("10.0.0.1", "10.0.0.9", 64, buildEchoRequest(1, 2))
                                              << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("reply with other data")
            << ipv4("10.0.0.9", "10.0.0.1", 57, icmpMessage(0, 0, 1, 2, QByteArray(64, 'x'))) << false << 0u
            << 0u << 0u << none << 0 << none;
        QTest::newRow("reply with 63 data bytes")
            << ipv4("10.0.0.9", "10.0.0.1", 57, icmpMessage(0, 0, 1, 2, echoData().left(63))) << false << 0u
            << 0u << 0u << none << 0 << none;
        QTest::newRow("reply with 65 data bytes")
            << ipv4("10.0.0.9", "10.0.0.1", 57, icmpMessage(0, 0, 1, 2, echoData() + 'a')) << false << 0u
            << 0u << 0u << none << 0 << none;
        QTest::newRow("reply with code 1")
            << ipv4("10.0.0.9", "10.0.0.1", 57, icmpMessage(0, 1, 1, 2, echoData())) << false << 0u << 0u
            << 0u << none << 0 << none;
        QTest::newRow("bad checksum")
            << withByte(echoReplyPacket(), 40, 'Z') << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("total length beyond the bytes read")
            << withWord(echoReplyPacket(), 2, 93) << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("total length inside the IP header")
            << withWord(echoReplyPacket(), 2, 19) << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("total length leaves no ICMP header")
            << withWord(echoReplyPacket(), 2, 27) << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("IPv6 version nibble")
            << withByte(echoReplyPacket(), 0, 0x65) << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("header length below 20")
            << withByte(echoReplyPacket(), 0, 0x44) << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("header length beyond the packet")
            << withByte(echoReplyPacket().left(40), 0, 0x4F) << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("not ICMP") << ipv4(
            "10.0.0.9", "10.0.0.1", 57, icmpMessage(0, 0, 1, 2, echoData()), 0, 17)
                                  << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("redirect is no failure")
            << errorPacket(5, 1) << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("error quoting 7 bytes")
            << errorPacket(3, 1, "10.0.0.254", "10.9.9.9", 7) << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("error quoting a UDP datagram") << ipv4("10.0.0.254", "10.0.0.1", 250,
            icmpMessage(3, 3, 0, 0, ipv4("10.0.0.1", "10.9.9.9", 1, buildEchoRequest(0x1234, 7), 0, 17)))
                                                      << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("error quoting an echo reply") << ipv4("10.0.0.254", "10.0.0.1", 250,
            icmpMessage(3, 1, 0, 0, ipv4("10.0.0.1", "10.9.9.9", 1, icmpMessage(0, 0, 1, 2, echoData()))))
                                                     << false << 0u << 0u << 0u << none << 0 << none;
        QTest::newRow("error with no quoted header")
            << ipv4("10.0.0.254", "10.0.0.1", 250, icmpMessage(3, 1, 0, 0, QByteArray())) << false << 0u << 0u
            << 0u << none << 0 << none;
        QTest::newRow("error quoting a header longer than itself")
            << ipv4("10.0.0.254", "10.0.0.1", 250,
                   icmpMessage(3, 1, 0, 0,
                       withByte(ipv4("10.0.0.1", "10.9.9.9", 1, buildEchoRequest(1, 2).left(8)), 0, 0x4F)))
            << false << 0u << 0u << 0u << none << 0 << none;
    }
    void rawPacket()
    {
        QFETCH(QByteArray, packet);
        QFETCH(bool, recognised);
        const ExactBytes bytes(packet);
        const auto answer = parseRawPacket(bytes.view());
        QCOMPARE(answer.has_value(), recognised);
        if (!recognised)
            return;
        QFETCH(uint, status);
        QFETCH(uint, identifier);
        QFETCH(uint, sequence);
        QFETCH(QString, from);
        QFETCH(int, ttl);
        QFETCH(QString, echoedTo);
        QCOMPARE(answer->status, status);
        QCOMPARE(uint(answer->identifier), identifier);
        QCOMPARE(uint(answer->sequence), sequence);
        QCOMPARE(dotted(answer->from), from);
        QCOMPARE(answer->ttl, ttl);
        QCOMPARE(dotted(answer->echoedTo), echoedTo);
    }

    // Every cut of a valid packet is rejected without reading past the cut.
    void truncatedRawPacketsAreRejected_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::newRow("echo reply") << echoReplyPacket();
        QTest::newRow("ICMP error") << errorPacket(3, 1);
        QTest::newRow("ICMP error quoting 8 bytes") << errorPacket(3, 1, "10.0.0.254", "10.9.9.9", 8);
    }
    void truncatedRawPacketsAreRejected()
    {
        QFETCH(QByteArray, packet);
        QVERIFY(parseRawPacket(ExactBytes(packet).view()).has_value());
        for (int size = 0; size < packet.size(); ++size) {
            const ExactBytes cut(packet.left(size));
            QVERIFY2(!parseRawPacket(cut.view()).has_value(), qPrintable(QString::number(size)));
        }
    }

    void datagramReply_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("recognised");
        QTest::addColumn<uint>("sequence");
        QTest::newRow("echo reply") << icmpMessage(0, 0, 40000, 513, echoData()) << true << 513u;
        // The kernel has checked the sum already; a datagram socket reply is taken as it is.
        QTest::newRow("checksum not rechecked")
            << withWord(icmpMessage(0, 0, 1, 9, echoData()), 2, 0) << true << 9u;
        QTest::newRow("empty") << QByteArray() << false << 0u;
        QTest::newRow("header only") << icmpMessage(0, 0, 1, 2, QByteArray()) << false << 0u;
        QTest::newRow("short data") << icmpMessage(0, 0, 1, 2, echoData().chopped(1)) << false << 0u;
        QTest::newRow("long data") << icmpMessage(0, 0, 1, 2, echoData() + echoData()) << false << 0u;
        QTest::newRow("other data") << icmpMessage(0, 0, 1, 2, echoData().toUpper()) << false << 0u;
        QTest::newRow("echo request") << buildEchoRequest(1, 2) << false << 0u;
        QTest::newRow("code 3") << icmpMessage(0, 3, 1, 2, echoData()) << false << 0u;
    }
    void datagramReply()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, recognised);
        QFETCH(uint, sequence);
        const auto answer = parseDatagramReply(ExactBytes(message).view());
        QCOMPARE(answer.has_value(), recognised);
        if (recognised)
            QCOMPARE(uint(answer->sequence), sequence);
    }

    void queuedEcho_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("sequence"); // -1: not one of our requests
        QTest::newRow("whole request") << buildEchoRequest(77, 0xFFFF) << 0xFFFF;
        QTest::newRow("header only") << buildEchoRequest(77, 12).left(8) << 12;
        QTest::newRow("7 bytes") << buildEchoRequest(77, 12).left(7) << -1;
        QTest::newRow("empty") << QByteArray() << -1;
        QTest::newRow("an echo reply") << icmpMessage(0, 0, 77, 12, echoData()) << -1;
        QTest::newRow("request with code 1") << withByte(buildEchoRequest(77, 12), 1, 1) << -1;
    }
    void queuedEcho()
    {
        QFETCH(QByteArray, message);
        QFETCH(int, sequence);
        const auto parsed = parseQueuedEcho(ExactBytes(message).view());
        QCOMPARE(parsed ? int(*parsed) : -1, sequence);
    }

    void errorStatus_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("code");
        QTest::addColumn<uint>("status");
        QTest::newRow("net unreachable") << 3 << 0 << 11002u;
        QTest::newRow("host unreachable") << 3 << 1 << 11003u;
        QTest::newRow("protocol unreachable") << 3 << 2 << 11004u;
        QTest::newRow("port unreachable") << 3 << 3 << 11005u;
        QTest::newRow("fragmentation needed") << 3 << 4 << 11009u;
        QTest::newRow("source route failed") << 3 << 5 << 11012u;
        QTest::newRow("net unknown") << 3 << 6 << 11002u;
        QTest::newRow("host unknown") << 3 << 7 << 11003u;
        QTest::newRow("net prohibited") << 3 << 9 << 11002u;
        QTest::newRow("host prohibited") << 3 << 10 << 11003u;
        QTest::newRow("communication prohibited") << 3 << 13 << 11003u;
        QTest::newRow("precedence cut-off") << 3 << 15 << 11003u;
        QTest::newRow("unassigned unreachable code") << 3 << 16 << 11050u;
        QTest::newRow("TTL expired in transit") << 11 << 0 << 11013u;
        QTest::newRow("TTL expired in reassembly") << 11 << 1 << 11014u;
        QTest::newRow("time exceeded, other code") << 11 << 2 << 11050u;
        QTest::newRow("parameter problem") << 12 << 0 << 11015u;
        QTest::newRow("parameter problem, missing option") << 12 << 1 << 11015u;
        QTest::newRow("source quench") << 4 << 0 << 11016u;
        QTest::newRow("echo reply is no error") << 0 << 0 << 0u;
        QTest::newRow("redirect is no error") << 5 << 0 << 0u;
        QTest::newRow("echo request is no error") << 8 << 0 << 0u;
    }
    void errorStatus()
    {
        QFETCH(int, type);
        QFETCH(int, code);
        QFETCH(uint, status);
        QCOMPARE(statusForIcmpError(uint8_t(type), uint8_t(code)), status);
    }

    void sendErrorStatus_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<uint>("status");
        QTest::newRow("ENETUNREACH") << ENETUNREACH << 11002u;
        QTest::newRow("EHOSTUNREACH") << EHOSTUNREACH << 11003u;
        QTest::newRow("EMSGSIZE") << EMSGSIZE << 11009u;
        QTest::newRow("ENOBUFS") << ENOBUFS << 11006u;
        QTest::newRow("EACCES") << EACCES << 11050u;
        QTest::newRow("EINVAL") << EINVAL << 11050u;
    }
    void sendErrorStatus()
    {
        QFETCH(int, err);
        QFETCH(uint, status);
        QCOMPARE(statusForSendError(err), status);
    }
};

QTEST_GUILESS_MAIN(TstIcmpPacket)
#include "tst_icmppacket.moc"
