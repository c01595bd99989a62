#pragma once

#include "probes/ProbeTypes.h"

#include <QString>

#include <array>
#include <cstdint>

namespace sentrel {

// The fields of the server's version record that the probe reads.
struct NetWareVersionInfo
{
    std::array<char, 48> serverName {}; // single-byte characters, NUL-terminated
    uint8_t fileServiceVersion = 0;
    int16_t maxConnections = 0;
    int16_t connectionsInUse = 0;
};

// The fields of the server's miscellaneous record that the probe reads.
struct NetWareMiscInfo
{
    int32_t uptime = 0;
    uint8_t utilisation = 0;
};

// The five operations of a NetWare client library, with its 32-bit result codes.
class NetWareClient
{
public:
    using Handle = uint32_t;

    virtual ~NetWareClient() = default;
    virtual uint32_t NWAttachToFileServer(const QByteArray &serverName, Handle &connection) = 0;
    virtual uint32_t NWGetFileServerVersionInfo(Handle connection, NetWareVersionInfo &info) = 0;
    virtual uint32_t NWGetFileServerMiscInfo(Handle connection, NetWareMiscInfo &info) = 0;
    virtual uint32_t NWCCCloseConn(Handle connection) = 0;
    // A sentence added on its own line when an attach fails for a reason of the
    // client itself rather than the server; empty when there is nothing to add.
    virtual QString attachFailureDetail() const { return {}; }
};

// The client on this platform: Linux has no NetWare client library, so every
// attach fails and says so.
class UnavailableNetWareClient : public NetWareClient
{
public:
    // Not one of the codes the probe tells apart, so it reports as "Error ...".
    static constexpr uint32_t NoClientResult = 0x88FF;

    uint32_t NWAttachToFileServer(const QByteArray &serverName, Handle &connection) override;
    uint32_t NWGetFileServerVersionInfo(Handle connection, NetWareVersionInfo &info) override;
    uint32_t NWGetFileServerMiscInfo(Handle connection, NetWareMiscInfo &info) override;
    uint32_t NWCCCloseConn(Handle connection) override;
    QString attachFailureDetail() const override;
};

// Checks the NetWare server `hostname` through `client`: 1 OK, 2 WARNING, 3 DOWN
// (never 0). `msg` receives the report, lines ended by CR LF.
ProbeStatus ipxcheck(
    NetWareClient &client, const QString &hostname, QString &msg, bool slots, int16_t minslots);

} // namespace sentrel
