#include "probes/NetWareProbe.h"

#include <QTest>

#include <cstring>

using namespace sentrel;

namespace {

// A client whose every answer is set by the test; records what it was asked.
class FakeClient : public NetWareClient
{
public:
    uint32_t attachResult = 0;
    uint32_t versionResult = 0;
    uint32_t miscResult = 0;
    uint32_t closeResult = 0;
    NetWareVersionInfo version;
    NetWareMiscInfo misc;
    QByteArray attachedName;
    int closes = 0;

    FakeClient()
    {
        setName("FS1");
        version.fileServiceVersion = 4;
        version.maxConnections = 250;
        version.connectionsInUse = 10;
        misc.uptime = 123456;
        misc.utilisation = 12;
    }
    void setName(const char *name)
    {
        version.serverName.fill('\0');
        std::strncpy(version.serverName.data(), name, version.serverName.size());
    }
    uint32_t NWAttachToFileServer(const QByteArray &serverName, Handle &connection) override
    {
        attachedName = serverName;
        connection = 42;
        return attachResult;
    }
    uint32_t NWGetFileServerVersionInfo(Handle connection, NetWareVersionInfo &info) override
    {
        if (connection != 42)
            return 0xDEAD;
        info = version;
        return versionResult;
    }
    uint32_t NWGetFileServerMiscInfo(Handle connection, NetWareMiscInfo &info) override
    {
        if (connection != 42)
            return 0xDEAD;
        info = misc;
        return miscResult;
    }
    uint32_t NWCCCloseConn(Handle) override
    {
        ++closes;
        return closeResult;
    }
};

const QString CrLf = QStringLiteral("\r\n");

} // namespace

class TstNetWareProbe : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void workedExample()
    {
        FakeClient c;
        c.version.connectionsInUse = 248;
        c.setName("MAINSRV");
        QString msg;
        QCOMPARE(ipxcheck(c, QStringLiteral("  MAINSRV "), msg, true, 5), ProbeStatus(2));
        QCOMPARE(c.attachedName, QByteArray("MAINSRV"));
        QCOMPARE(msg,
            QStringLiteral("Less than  5 available connections remaining!\r\n"
                           "Netware 4.x Connections:  248 of  250 (warn at < 5)\r\n"
                           "File server name: MAINSRV\r\n"
                           "Utilisation= 12, Uptime= 123456\r\n"));
        QCOMPARE(c.closes, 1);
    }

    void attachCodes_data()
    {
        QTest::addColumn<uint>("code");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("msg");
        QTest::newRow("8808") << 0x8808u << 2 << QStringLiteral("No license slots available on server!");
        QTest::newRow("8884") << 0x8884u << 3 << QStringLiteral("Unable to locate Netware server!");
        QTest::newRow("8885") << 0x8885u << 3 << QStringLiteral("Unable to connect to Netware server!");
        QTest::newRow("other") << 0x8801u << 3 << QStringLiteral("Error 8801 connecting to Netware server!");
        QTest::newRow("high bits kept in text")
            << 0x12345u << 3 << QStringLiteral("Error 12345 connecting to Netware server!");
        QTest::newRow("only low bits compared")
            << 0x10008808u << 2 << QStringLiteral("No license slots available on server!");
    }
    void attachCodes()
    {
        QFETCH(uint, code);
        QFETCH(int, result);
        QFETCH(QString, msg);
        FakeClient c;
        c.attachResult = code;
        QString out = QStringLiteral("stale");
        QCOMPARE(int(ipxcheck(c, QStringLiteral("FS1"), out, false, 0)), result);
        QCOMPARE(out, msg);
        QCOMPARE(c.closes, 0); // nothing attached, nothing to close
    }

    void attach8800IsSuccess()
    {
        FakeClient a, b;
        b.attachResult = 0x8800;
        QString ma, mb;
        QCOMPARE(ipxcheck(a, QStringLiteral("FS1"), ma, false, 0), ProbeStatus(1));
        QCOMPARE(ipxcheck(b, QStringLiteral("FS1"), mb, false, 0), ProbeStatus(1));
        QCOMPARE(mb, ma);
        QCOMPARE(b.closes, 1);
    }

    void versionLabels_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("label");
        QTest::newRow("2") << 2 << QStringLiteral("Netware 3.1x");
        QTest::newRow("3") << 3 << QStringLiteral("Netware 3.2");
        QTest::newRow("4") << 4 << QStringLiteral("Netware 4.x");
        QTest::newRow("5") << 5 << QStringLiteral("Netware or compatible");
        QTest::newRow("0") << 0 << QStringLiteral("Netware or compatible");
    }
    void versionLabels()
    {
        QFETCH(int, version);
        QFETCH(QString, label);
        FakeClient c;
        c.version.fileServiceVersion = static_cast<uint8_t>(version);
        QString msg;
        QCOMPARE(ipxcheck(c, QStringLiteral("FS1"), msg, false, 0), ProbeStatus(1));
        QVERIFY2(msg.startsWith(label + QStringLiteral(" Connections:  10 of  250\r\n")), qPrintable(msg));
    }

    void slotRules_data()
    {
        QTest::addColumn<bool>("slots");
        QTest::addColumn<int>("minslots");
        QTest::addColumn<int>("inUse");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("firstLine");
        const QString normal = QStringLiteral("Netware 4.x Connections:  %1 of  250");
        QTest::newRow("all in use, slots off")
            << false << 0 << 250 << 2 << QStringLiteral("Out of server connections!");
        QTest::newRow("all in use, slots on")
            << true << 5 << 250 << 2 << QStringLiteral("Out of server connections!");
        QTest::newRow("free equals minslots")
            << true << 5 << 245 << 1 << normal.arg(245) + QStringLiteral(" (warn at < 5)");
        QTest::newRow("one fewer free")
            << true << 5 << 246 << 2 << QStringLiteral("Less than  5 available connections remaining!");
        QTest::newRow("minslots 1 never warns") << true << 1 << 249 << 1 << normal.arg(249);
        QTest::newRow("minslots 0 never warns") << true << 0 << 249 << 1 << normal.arg(249);
        QTest::newRow("slots off never warns") << false << 5 << 249 << 1 << normal.arg(249);
    }
    void slotRules()
    {
        QFETCH(bool, slots);
        QFETCH(int, minslots);
        QFETCH(int, inUse);
        QFETCH(int, result);
        QFETCH(QString, firstLine);
        FakeClient c;
        c.version.connectionsInUse = static_cast<int16_t>(inUse);
        QString msg;
        QCOMPARE(int(ipxcheck(c, QStringLiteral("FS1"), msg, slots, static_cast<int16_t>(minslots))), result);
        QCOMPARE(msg.section(CrLf, 0, 0), firstLine);
        QCOMPARE(msg.contains(QStringLiteral("(warn at <")), slots && minslots > 1);
    }

    void failedRequestsStillClose()
    {
        FakeClient c;
        c.versionResult = 0x89FF;
        c.miscResult = 0x8999;
        QString msg;
        QCOMPARE(ipxcheck(c, QStringLiteral("FS1"), msg, true, 5), ProbeStatus(2));
        QCOMPARE(msg,
            QStringLiteral("Connected, but unable to retrieve version information. (0x89FF)\r\n"
                           "Failed to get misc info (0x8999)\r\n"));
        QCOMPARE(c.closes, 1);
    }

    void noConsoleRightsIsStillOk()
    {
        FakeClient c;
        c.miscResult = 0x89C6;
        QString msg;
        QCOMPARE(ipxcheck(c, QStringLiteral("FS1"), msg, false, 0), ProbeStatus(1));
        QVERIFY(msg.endsWith(QStringLiteral("File server name: FS1\r\n"
                                            "You have no console operator privelege on this server\r\n")));
    }

    void closeFailure()
    {
        FakeClient c;
        c.closeResult = 0x88AB;
        QString msg;
        QCOMPARE(ipxcheck(c, QStringLiteral("FS1"), msg, false, 0), ProbeStatus(2));
        QVERIFY(msg.endsWith(QStringLiteral("Uptime= 123456\r\nReceived error 0x88AB on close of handle.")));
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

QTEST_GUILESS_MAIN(TstNetWareProbe)
#include "tst_netwareprobe.moc"
