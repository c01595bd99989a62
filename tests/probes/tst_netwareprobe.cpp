#include "probes/NetWareProbe.h"

#include <QTest>

using namespace sentrel;

namespace {

// A client whose every answer is set by the test; records what it was asked.
class FakeClient : public NetWareClient
{
public:
    uint32_t attachResult = 0, versionResult = 0, miscResult = 0, closeResult = 0;
    NetWareVersionInfo version {{'F', 'S', '1'}, 4, 250, 10};
    NetWareMiscInfo misc {123456, 12};
    QByteArray attachedName;
    int closes = 0;

    uint32_t NWAttachToFileServer(const QByteArray &serverName, Handle &connection) override
    {
        attachedName = serverName;
        connection = 42;
        return attachResult;
    }
    // A wrong handle gets an answer no rule knows, so it shows in the message.
    uint32_t NWGetFileServerVersionInfo(Handle connection, NetWareVersionInfo &info) override
    {
        info = version;
        return connection == 42 ? versionResult : 0xDEAD;
    }
    uint32_t NWGetFileServerMiscInfo(Handle connection, NetWareMiscInfo &info) override
    {
        info = misc;
        return connection == 42 ? miscResult : 0xDEAD;
    }
    uint32_t NWCCCloseConn(Handle) override
    {
        ++closes;
        return closeResult;
    }
};

const QString CrLf = QStringLiteral("\r\n");
const QString Normal = QStringLiteral("Netware 4.x Connections:  10 of  250\r\n"
                                      "File server name: FS1\r\n"
                                      "Utilisation= 12, Uptime= 123456\r\n");

} // namespace

class TstNetWareProbe : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Every outcome of the attach, version, miscellaneous and close steps.
    void resultCodes_data()
    {
        QTest::addColumn<uint>("attach");
        QTest::addColumn<uint>("version");
        QTest::addColumn<uint>("misc");
        QTest::addColumn<uint>("close");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("msg");
        QTest::newRow("all well") << 0u << 0u << 0u << 0u << 1 << Normal;
        QTest::newRow("attach 8800 is success") << 0x8800u << 0u << 0u << 0u << 1 << Normal;
        QTest::newRow("8808") << 0x8808u << 0u << 0u << 0u << 2
                              << QStringLiteral("No license slots available on server!");
        QTest::newRow("8885") << 0x8885u << 0u << 0u << 0u << 3
                              << QStringLiteral("Unable to connect to Netware server!");
        QTest::newRow("other attach code, high bits kept in text")
            << 0x18801u << 0u << 0u << 0u << 3 << QStringLiteral("Error 18801 connecting to Netware server!");
        QTest::newRow("only low bits compared")
            << 0x10008808u << 0u << 0u << 0u << 2 << QStringLiteral("No license slots available on server!");
        QTest::newRow("version and misc fail, still closed")
            << 0u << 0x89FFu << 0x8999u << 0u << 2
            << QStringLiteral("Connected, but unable to retrieve version information. (0x89FF)\r\n"
                              "Failed to get misc info (0x8999)\r\n");
        QTest::newRow("no console rights is still OK") << 0u << 0u << 0x89C6u << 0u << 1
                                                       << Normal.section(CrLf, 0, 1) + CrLf
                + QStringLiteral("You have no console operator privelege on this server\r\n");
        QTest::newRow("close failure")
            << 0u << 0u << 0u << 0x88ABu << 2
            << Normal + QStringLiteral("Received error 0x88AB on close of handle.");
    }
    void resultCodes()
    {
        QFETCH(uint, attach);
        QFETCH(int, result);
        QFETCH(QString, msg);
        FakeClient c;
        c.attachResult = attach;
        QFETCH(uint, version);
        c.versionResult = version;
        QFETCH(uint, misc);
        c.miscResult = misc;
        QFETCH(uint, close);
        c.closeResult = close;
        QString out = QStringLiteral("stale");
        QCOMPARE(int(ipxcheck(c, QStringLiteral("  FS1 "), out, false, 0)), result);
        QCOMPARE(out, msg);
        QCOMPARE(c.attachedName, QByteArray("FS1"));
        // Nothing attached, nothing to close.
        QCOMPARE(c.closes, (attach & 0xFFFF) == 0 || (attach & 0xFFFF) == 0x8800 ? 1 : 0);
    }

    // The warning rules on the connection count, and the label of each file service version.
    void slotRules_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("slots");
        QTest::addColumn<int>("minslots");
        QTest::addColumn<int>("inUse");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("firstLine");
        const QString normal = QStringLiteral("Netware 4.x Connections:  %1 of  250");
        const QString full = QStringLiteral("Out of server connections!");
        QTest::newRow("all in use, slots on") << 4 << true << 5 << 250 << 2 << full;
        QTest::newRow("free equals minslots")
            << 4 << true << 5 << 245 << 1 << normal.arg(245) + QStringLiteral(" (warn at < 5)");
        QTest::newRow("one fewer free")
            << 4 << true << 5 << 246 << 2 << QStringLiteral("Less than  5 available connections remaining!");
        QTest::newRow("minslots 1 never warns") << 4 << true << 1 << 249 << 1 << normal.arg(249);
        QTest::newRow("slots off never warns") << 4 << false << 5 << 249 << 1 << normal.arg(249);
        for (const auto &[version, label] : {std::pair {2, "Netware 3.1x"}, std::pair {3, "Netware 3.2"},
                 std::pair {5, "Netware or compatible"}}) {
            QTest::addRow("version %d", version)
                << version << false << 0 << 10 << 1
                << QLatin1String(label) + QStringLiteral(" Connections:  10 of  250");
        }
    }
    void slotRules()
    {
        QFETCH(int, version);
        QFETCH(bool, slots);
        QFETCH(int, minslots);
        QFETCH(int, inUse);
        QFETCH(int, result);
        QFETCH(QString, firstLine);
        FakeClient c;
        c.version.fileServiceVersion = static_cast<uint8_t>(version);
        c.version.connectionsInUse = static_cast<int16_t>(inUse);
        QString msg;
        QCOMPARE(int(ipxcheck(c, QStringLiteral("FS1"), msg, slots, static_cast<int16_t>(minslots))), result);
        QCOMPARE(msg.section(CrLf, 0, 0), firstLine);
        QCOMPARE(msg.contains(QStringLiteral("(warn at <")), slots && minslots > 1);
    }

    void serverNameIsCutAt47AndTrimmed()
    {
        FakeClient c;
        c.version.serverName.fill('N');
        c.version.serverName[0] = ' ';
        QString msg;
        ipxcheck(c, QStringLiteral("FS1"), msg, false, 0);
        QCOMPARE(
            msg.section(CrLf, 1, 1), QStringLiteral("File server name: ") + QString(46, QLatin1Char('N')));
    }

    void thisPlatformHasNoClient()
    {
        UnavailableNetWareClient c;
        QString msg;
        QCOMPARE(ipxcheck(c, QStringLiteral("FS1"), msg, true, 5), ProbeStatus(3));
        QCOMPARE(msg,
            QStringLiteral("Error 88FF connecting to Netware server!\r\n"
                           "No NetWare client is available on this computer."));
    }
};

SENTREL_TEST_GUILESS_MAIN(TstNetWareProbe)
#include "tst_netwareprobe.moc"
