#include "CycleRig.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

namespace sentrel::test {

NameService FakeNames::lookup()
{
    return [state = m_state](const QString &name) {
        QMutexLocker lock(&state->mutex);
        ++state->lookups;
        HostEntry entry;
        if (const auto it = state->names.constFind(name); it != state->names.constEnd())
            entry.addresses.push_back(*it);
        if (entry.addresses.empty())
            entry.error = WsaError::HostNotFound;
        return entry;
    };
}

uint32_t FixedNetWare::NWGetFileServerVersionInfo(Handle, NetWareVersionInfo &info)
{
    info = {{'F', 'S', '1'}, 4, 100, 10};
    return 0;
}

CycleRig::CycleRig()
{
    resolver = std::make_unique<HostResolver>(names.lookup());
    icmp = std::make_unique<IcmpEchoService>();
    ProbeKit kit;
    kit.resolver = resolver.get();
    kit.icmp = icmp.get();
    kit.netware = &netware;
    monitor = std::make_unique<Monitor>(table, settings, grid, view, kit);
    monitor->setLogWriter([this] { ++logEntries; });
}

int16_t CycleRig::add(const QString &desc, const QString &hostname)
{
    if (table.usedCount() == 0 && table.size() == 1 && table[0].isFree())
        table.assign({Target {}});
    else
        table.growtable();
    const int16_t i = table.lastIndex();
    Target &t = table[i];
    t.Status = 0;
    t.Desc = desc;
    t.Hostname = hostname;
    t.SmoothedRtt = -1;
    return i;
}

int16_t CycleRig::addPortCheck(const QString &desc, const QString &host, int port, int16_t timeout)
{
    const int16_t i = add(desc, host);
    Target &t = table[i];
    t.UseM = true;
    t.Port = static_cast<int16_t>(port);
    t.Timeout = timeout;
    return i;
}

int16_t CycleRig::addPortCheck(const QString &desc, const LoopbackServer &server, int16_t timeout)
{
    return addPortCheck(desc, FormatDottedAddress(server.address()), server.port(), timeout);
}

bool CycleRig::runCycle(int timeoutMs)
{
    if (monitor->CycleRunning())
        return false;
    QSignalSpy done(monitor.get(), &Monitor::cycleFinished);
    monitor->do_check();
    if (done.isEmpty() && !done.wait(timeoutMs))
        return false;
    return !monitor->CycleRunning();
}

bool CycleRig::runCycleOn(const Target &t)
{
    table.assign({t});
    return runCycle();
}

QString CycleRig::rowText(int16_t index) const
{
    const int row = table[index].Row;
    return grid.cell(row, 0) + QLatin1Char('|') + grid.cell(row, 1) + QLatin1Char('|') + grid.cell(row, 2);
}

namespace {

// On an address in 127.100.0.0 - 127.199.255.255 and a port in [lowest, highest).
std::unique_ptr<LoopbackServer> portServer(const PeerScript &script, int lowest, int highest)
{
    auto *rng = QRandomGenerator::global();
    for (int attempt = 0; attempt < 50; ++attempt) {
        const auto port = static_cast<uint16_t>(rng->bounded(lowest, highest));
        const QByteArray address = QByteArrayLiteral("127.") + QByteArray::number(rng->bounded(100, 200))
            + '.' + QByteArray::number(rng->bounded(1, 255)) + '.' + QByteArray::number(rng->bounded(1, 255));
        auto server = std::make_unique<LoopbackServer>(script, address, port);
        if (server->isListening())
            return server;
    }
    return nullptr;
}

} // namespace

std::unique_ptr<LoopbackServer> lowPortServer(const PeerScript &script)
{
    return portServer(script, 10000, 32000);
}

std::unique_ptr<LoopbackServer> highPortServer(const PeerScript &script)
{
    return portServer(script, 40000, 65536);
}

QString refusingHost()
{
    // Nothing in the tests binds 127.77.x.x.
    return QStringLiteral("127.77.%1.%2")
        .arg(QRandomGenerator::global()->bounded(1, 255))
        .arg(QRandomGenerator::global()->bounded(1, 255));
}

} // namespace sentrel::test
