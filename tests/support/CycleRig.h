#pragma once

#include "LoopbackPeers.h"
#include "engine/Monitor.h"
#include "engine/StatusGrid.h"
#include "probes/HostResolver.h"
#include "probes/IcmpProbe.h"
#include "probes/NetWareProbe.h"

#include <QHash>
#include <QMutex>
#include <QStringList>

#include <memory>

namespace sentrel::test {

// The hosts of table in order, "<free>" for a free slot.
inline QString hostsOf(const TargetTable &table)
{
    QStringList hosts;
    for (const Target &t : table)
        hosts << (t.isFree() ? QStringLiteral("<free>") : t.Hostname);
    return hosts.join(u' ');
}

// Records everything the engine shows in the main window.
class RecordingView : public MonitorView
{
public:
    void setStatusCaption(const QString &text) override { statusCaptions << text; }
    void setCountCaption(const QString &text) override
    {
        countCaption = text;
        countCaptions << text;
    }
    void setWindowIconImage(WindowIcon icon) override { icons << icon; }
    void setAbortEnabled(bool enabled) override { abortEnabled = enabled; }
    void setLogCommandsEnabled(bool enabled) override { logCommandsEnabledLog << enabled; }
    void beep() override { ++beeps; }
    void raiseAlert(const ProblemAlert &problem) override { alerts << problem.desc; }

    QStringList statusCaptions;
    QString countCaption;
    QStringList countCaptions;
    QList<WindowIcon> icons;
    bool abortEnabled = false;
    QList<bool> logCommandsEnabledLog;
    int beeps = 0;
    QStringList alerts;
};

// A name service whose answers the test sets; counts the questions. Its state is
// shared with the service, since a lookup thread may outlive the resolver.
class FakeNames
{
public:
    void set(const QString &name, uint32_t address)
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->names.insert(name, address);
    }
    void remove(const QString &name)
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->names.remove(name);
    }
    int lookups() const
    {
        QMutexLocker lock(&m_state->mutex);
        return m_state->lookups;
    }
    NameService lookup();

private:
    struct State
    {
        QMutex mutex;
        QHash<QString, uint32_t> names;
        int lookups = 0;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// A NetWare client that attaches to every server and finds file server "FS1" (version 4,
// 10 of 100 connections in use, utilisation 7, uptime 99).
class FixedNetWare : public NetWareClient
{
public:
    uint32_t NWAttachToFileServer(const QByteArray &, Handle &connection) override
    {
        connection = 1;
        return 0;
    }
    uint32_t NWGetFileServerVersionInfo(Handle, NetWareVersionInfo &info) override;
    uint32_t NWGetFileServerMiscInfo(Handle, NetWareMiscInfo &info) override
    {
        info = {99, 7};
        return 0;
    }
    uint32_t NWCCCloseConn(Handle) override { return 0; }
};

// The engine with everything around it except widgets: table, settings, grid,
// a recording view, a scripted name service and a fixed NetWare client.
struct CycleRig
{
    CycleRig();

    // Appends a Target (Desc = name) with no methods; returns its index.
    int16_t add(const QString &desc, const QString &hostname = QStringLiteral("127.0.0.1"));
    // Appends a Target checked only by the port check against host:port.
    int16_t addPortCheck(const QString &desc, const QString &host, int port, int16_t timeout = 5);
    int16_t addPortCheck(const QString &desc, const LoopbackServer &server, int16_t timeout = 5);
    // Runs one cycle to its end (or fails the wait after `timeoutMs`).
    bool runCycle(int timeoutMs = 30000);
    // Makes `t` the only Target and runs one cycle over it.
    bool runCycleOn(const Target &t);
    // The grid row of a Target: its three visible cells joined by "|".
    QString rowText(int16_t index) const;

    TargetTable table;
    GlobalSettings settings;
    TargetGrid grid {table};
    RecordingView view;
    FakeNames names;
    FixedNetWare netware;
    std::unique_ptr<HostResolver> resolver;
    std::unique_ptr<IcmpEchoService> icmp;
    std::unique_ptr<Monitor> monitor; // declared after all it uses: destroyed first
    int logEntries = 0;
};

// A TCP server on an address of its own in 127.0.0.0/8 and a port below 32768,
// since a Target's port is a signed 16-bit number.
std::unique_ptr<LoopbackServer> lowPortServer(const PeerScript &script);

// A TCP server on an address of its own in 127.0.0.0/8 and a port above 32767,
// which a Target holds as a negative 16-bit number.
std::unique_ptr<LoopbackServer> highPortServer(const PeerScript &script);

// A loopback address where nothing listens: every port there refuses.
QString refusingHost();

} // namespace sentrel::test
