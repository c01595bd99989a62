#include "probes/NetWareProbe.h"

#include "engine/Target.h"

#include <algorithm>

namespace sentrel {

namespace {

const QString CrLf = QStringLiteral("\r\n");

QString hex(uint32_t value)
{
    return QString::number(value, 16).toUpper();
}

QString versionLabel(uint8_t fileServiceVersion)
{
    switch (fileServiceVersion) {
    case 2:
        return QStringLiteral("Netware 3.1x");
    case 3:
        return QStringLiteral("Netware 3.2");
    case 4:
        return QStringLiteral("Netware 4.x");
    default:
        return QStringLiteral("Netware or compatible");
    }
}

// The record's name copied into a text of at most 47 characters, as the
// original copy into a fixed buffer did, then trimmed.
QString serverNameOf(const NetWareVersionInfo &info)
{
    const auto begin = info.serverName.begin();
    const auto end = begin + 47;
    const auto nul = std::find(begin, end, '\0');
    QString name = QString::fromLatin1(begin, static_cast<qsizetype>(nul - begin)).trimmed();
    if (name.endsWith(QChar(0)))
        name.chop(1);
    return name;
}

constexpr int16_t codeOf(uint32_t hexCode)
{
    return static_cast<int16_t>(static_cast<int32_t>(hexCode) - 65536);
}

} // namespace

uint32_t UnavailableNetWareClient::NWAttachToFileServer(const QByteArray &, Handle &connection)
{
    connection = 0;
    return NoClientResult;
}

uint32_t UnavailableNetWareClient::NWGetFileServerVersionInfo(Handle, NetWareVersionInfo &)
{
    return NoClientResult;
}

uint32_t UnavailableNetWareClient::NWGetFileServerMiscInfo(Handle, NetWareMiscInfo &)
{
    return NoClientResult;
}

uint32_t UnavailableNetWareClient::NWCCCloseConn(Handle)
{
    return NoClientResult;
}

QString UnavailableNetWareClient::attachFailureDetail() const
{
    return QStringLiteral("No NetWare client is available on this computer.");
}

ProbeStatus ipxcheck(
    NetWareClient &client, const QString &hostname, QString &msg, bool slots, int16_t minslots)
{
    msg.clear();
    NetWareClient::Handle conn = 0;
    const uint32_t attach = client.NWAttachToFileServer(hostname.trimmed().toLatin1(), conn);
    ProbeStatus result = 1;
    switch (LongToInteger(static_cast<int32_t>(attach))) {
    case 0:
    case codeOf(0x8800):
        break;
    case codeOf(0x8808):
        msg = QStringLiteral("No license slots available on server!");
        return 2;
    case codeOf(0x8884):
        msg = QStringLiteral("Unable to locate Netware server!");
        return 3;
    case codeOf(0x8885):
        msg = QStringLiteral("Unable to connect to Netware server!");
        return 3;
    default: {
        msg = QStringLiteral("Error ") + hex(attach) + QStringLiteral(" connecting to Netware server!");
        const QString detail = client.attachFailureDetail();
        if (!detail.isEmpty())
            msg += CrLf + detail;
        return 3;
    }
    }

    NetWareVersionInfo version;
    const uint32_t versionResult = client.NWGetFileServerVersionInfo(conn, version);
    if (versionResult != 0) {
        msg += QStringLiteral("Connected, but unable to retrieve version information. (0x")
            + hex(versionResult) + QStringLiteral(")") + CrLf;
        result = 2;
    } else {
        const bool slotWarning = slots && minslots > 1;
        if (version.connectionsInUse == version.maxConnections) {
            msg += QStringLiteral("Out of server connections!") + CrLf;
            result = 2;
        } else if (slotWarning && version.connectionsInUse > version.maxConnections - minslots) {
            msg += QStringLiteral("Less than ") + spaced(minslots)
                + QStringLiteral(" available connections remaining!") + CrLf;
            result = 2;
        }
        msg += versionLabel(version.fileServiceVersion) + QStringLiteral(" Connections: ")
            + spaced(version.connectionsInUse) + QStringLiteral(" of ") + spaced(version.maxConnections);
        if (slotWarning)
            msg += QStringLiteral(" (warn at <") + spaced(minslots) + QStringLiteral(")");
        msg += CrLf + QStringLiteral("File server name: ") + serverNameOf(version) + CrLf;
    }

    NetWareMiscInfo misc;
    const uint32_t miscResult = client.NWGetFileServerMiscInfo(conn, misc);
    switch (LongToInteger(static_cast<int32_t>(miscResult))) {
    case 0:
        msg += QStringLiteral("Utilisation=") + spaced(misc.utilisation) + QStringLiteral(", Uptime=")
            + spaced(misc.uptime);
        break;
    case codeOf(0x89C6):
        msg += QStringLiteral("You have no console operator privelege on this server");
        break;
    default:
        msg += QStringLiteral("Failed to get misc info (0x") + hex(miscResult) + QStringLiteral(")");
        result = 2;
        break;
    }
    msg += CrLf;

    const uint32_t closeResult = client.NWCCCloseConn(conn);
    if (closeResult != 0) {
        msg +=
            QStringLiteral("Received error 0x") + hex(closeResult) + QStringLiteral(" on close of handle.");
        result = 2;
    }
    return result;
}

} // namespace sentrel
