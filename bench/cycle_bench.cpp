// Wall time of one check cycle over 1000 loopback Targets, one at a time and
// with the default parallelism, and the time to rebuild a 32767-Target grid.
#include "engine/Monitor.h"
#include "engine/StatusGrid.h"
#include "probes/HostResolver.h"
#include "probes/IcmpProbe.h"
#include "probes/NetWareProbe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <memory>
#include <vector>

using namespace sentrel;

namespace {

class NullView : public MonitorView
{
public:
    void setStatusCaption(const QString &) override { }
    void setCountCaption(const QString &) override { }
    void setWindowIconImage(WindowIcon) override { }
    void setAbortEnabled(bool) override { }
    void setLogCommandsEnabled(bool) override { }
    void beep() override { }
    void raiseAlert(const ProblemAlert &) override { }
};

// Greets and closes every connection, or accepts and keeps it silent.
class Peer : public QTcpServer
{
public:
    explicit Peer(bool greet)
        : m_greet(greet)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                if (m_greet) {
                    s->write("220 bench ready\r\n");
                    s->disconnectFromHost();
                    connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
                } else {
                    s->setParent(this);
                }
            }
        });
    }
    // A port below 32768 on an address of its own, since a Target's port is signed 16-bit.
    bool listenLow()
    {
        auto *rng = QRandomGenerator::global();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString address = QStringLiteral("127.%1.%2.%3")
                                        .arg(rng->bounded(100, 200))
                                        .arg(rng->bounded(1, 255))
                                        .arg(rng->bounded(1, 255));
            if (listen(QHostAddress(address), static_cast<quint16>(rng->bounded(10000, 32000))))
                return true;
        }
        return false;
    }
    QString host() const { return serverAddress().toString(); }
    int16_t port() const { return static_cast<int16_t>(serverPort()); }

private:
    bool m_greet;
};

struct Mix
{
    Peer banner {true};
    std::vector<std::unique_ptr<Peer>> blackholes;
};

void fill(TargetTable &table, Mix &mix, int count)
{
    std::vector<Target> slots;
    for (int n = 0; n < count; ++n) {
        Target t;
        t.Desc = QStringLiteral("T%1").arg(n);
        t.Timeout = 1;
        t.SmoothedRtt = -1;
        if (n % 20 == 7) {
            const Peer &p = *mix.blackholes[static_cast<size_t>(n / 20)];
            t.Hostname = p.host();
            t.UseM = true;
            t.Port = p.port();
        } else if (n % 3 == 0) {
            t.Hostname = mix.banner.host();
            t.UseM = true;
            t.Port = mix.banner.port();
        } else if (n % 3 == 1) {
            t.Hostname = QStringLiteral("127.77.0.1"); // nothing listens there: refused
            t.UseM = true;
            t.Port = 25;
        } else {
            t.Hostname = QStringLiteral("127.0.0.%1").arg(1 + n % 250);
            t.UseP = true;
        }
        slots.push_back(t);
    }
    table.assign(std::move(slots));
}

double cycleSeconds(int16_t parallel, Mix &mix, HostResolver &resolver, IcmpEchoService &icmp,
    UnavailableNetWareClient &netware, QString &summary)
{
    TargetTable table;
    GlobalSettings settings;
    settings.Parallel = parallel;
    TargetGrid grid(table);
    NullView view;
    fill(table, mix, 1000);
    grid.load_display();
    ProbeKit kit;
    kit.resolver = &resolver;
    kit.icmp = &icmp;
    kit.netware = &netware;
    Monitor monitor(table, settings, grid, view, kit);
    monitor.setMonitoringEnabled(false);
    QEventLoop loop;
    QObject::connect(&monitor, &Monitor::cycleFinished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    monitor.do_check();
    if (monitor.CycleRunning())
        loop.exec();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    int counts[4] = {0, 0, 0, 0};
    for (const Target &t : table)
        if (t.Status >= 0 && t.Status <= 3)
            ++counts[t.Status];
    summary = QStringLiteral("unknown %1, ok %2, warning %3, down %4")
                  .arg(counts[0])
                  .arg(counts[1])
                  .arg(counts[2])
                  .arg(counts[3]);
    return seconds;
}

double loadDisplayMillis()
{
    TargetTable table;
    std::vector<Target> slots(TargetTable::MaxSlots);
    for (size_t n = 0; n < slots.size(); ++n) {
        slots[n].Desc = QStringLiteral("Host %1").arg(n);
        slots[n].Info = QStringLiteral("Reply from 127.0.0.1: TTL = 64 Delay = 0ms");
        slots[n].Status = static_cast<int16_t>(n % 4);
    }
    table.assign(std::move(slots));
    TargetGrid grid(table);
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        grid.load_display();
        best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Mix mix;
    if (!mix.banner.listenLow())
        return std::fprintf(stderr, "cannot listen on loopback\n"), 1;
    for (int n = 0; n < 50; ++n) {
        mix.blackholes.push_back(std::make_unique<Peer>(false));
        if (!mix.blackholes.back()->listenLow())
            return std::fprintf(stderr, "cannot listen on loopback\n"), 1;
    }
    HostResolver resolver;
    IcmpEchoService icmp;
    UnavailableNetWareClient netware;

    std::printf("cycle over 1000 loopback Targets (333 banner, 333 refused, 50 black-holed with Timeout 1, "
                "284 ICMP to 127.0.0.x)\n");
    QString summary;
    const double defaultP = cycleSeconds(GlobalSettings {}.Parallel, mix, resolver, icmp, netware, summary);
    std::printf("  P = %d: %8.2f s  (%s)\n", int(GlobalSettings {}.Parallel), defaultP, qPrintable(summary));
    const double one = cycleSeconds(1, mix, resolver, icmp, netware, summary);
    std::printf("  P = 1 : %8.2f s  (%s)\n", one, qPrintable(summary));
    std::printf("  speed-up of the default P over P = 1: %.1fx (goal: at least 15x)\n", one / defaultP);
    std::printf(
        "load_display of 32767 Targets: %.1f ms (best of 5; goal: under 200 ms)\n", loadDisplayMillis());
    return 0;
}
