// Wall time of one check cycle over 1000 loopback Targets, one at a time and
// with the default parallelism; one cycle over a full table of 32767 loopback
// Targets with the worst lateness of a 10 ms timer on the UI thread meanwhile;
// and the time to rebuild a 32767-Target grid.
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
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

using namespace sentrel;

namespace {

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
    QuietMonitorView view;
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

// Peers for the full table, served by a thread of their own so that the UI thread's
// timer lateness is the engine's alone: listeners that greet and close, and
// listeners that accept and never answer until the client goes.
class PeerThread
{
public:
    struct Endpoint
    {
        QString host;
        int16_t port;
    };

    PeerThread() = default;
    PeerThread(const PeerThread &) = delete;
    PeerThread &operator=(const PeerThread &) = delete;
    ~PeerThread()
    {
        if (m_thread.joinable()) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
            m_thread.join();
        }
        for (const auto &[fd, kind] : m_kinds)
            ::close(fd);
        if (m_wake >= 0)
            ::close(m_wake);
        if (m_epoll >= 0)
            ::close(m_epoll);
    }

    bool start(int bannerListeners, int silentListeners)
    {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_epoll < 0 || m_wake < 0 || !watch(m_wake, Kind::Wake))
            return false;
        for (int n = 0; n < bannerListeners + silentListeners; ++n) {
            const bool banner = n < bannerListeners;
            const std::optional<Endpoint> e = listenOn(170 + (banner ? 0 : 1), n, banner);
            if (!e)
                return false;
            (banner ? m_banner : m_silent).push_back(*e);
        }
        m_thread = std::thread([this] { run(); });
        return true;
    }

    const std::vector<Endpoint> &banner() const { return m_banner; }
    const std::vector<Endpoint> &silent() const { return m_silent; }

private:
    enum class Kind { Wake, BannerListener, SilentListener, SilentConnection };

    bool watch(int fd, Kind kind)
    {
        epoll_event ev {};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0)
            return false;
        if (kind != Kind::Wake)
            m_kinds[fd] = kind;
        return true;
    }

    // Each listener on an address of its own, so that closed connections waiting
    // out TIME_WAIT never run short of ports.
    std::optional<Endpoint> listenOn(int second, int n, bool banner)
    {
        const QString host = QStringLiteral("127.%1.%2.%3").arg(second).arg(1 + n / 250).arg(1 + n % 250);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(20000);
        ::inet_pton(AF_INET, host.toLatin1().constData(), &a.sin_addr);
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0
            || ::listen(fd, 4096) != 0 || !watch(fd, banner ? Kind::BannerListener : Kind::SilentListener)) {
            if (fd >= 0)
                ::close(fd);
            return std::nullopt;
        }
        return Endpoint {host, 20000};
    }

    void run()
    {
        epoll_event events[256];
        for (;;) {
            const int n = ::epoll_wait(m_epoll, events, 256, -1);
            for (int i = 0; i < n; ++i) {
                const int fd = events[i].data.fd;
                if (fd == m_wake)
                    return;
                const Kind kind = m_kinds[fd];
                if (kind == Kind::SilentConnection) {
                    char buf[512];
                    const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
                    if (got <= 0) {
                        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
                        m_kinds.erase(fd);
                        ::close(fd);
                    }
                    continue;
                }
                for (;;) {
                    const int c = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                    if (c < 0)
                        break;
                    if (kind == Kind::BannerListener) {
                        static const char greeting[] = "220 bench ready\r\n";
                        [[maybe_unused]] const ssize_t sent =
                            ::send(c, greeting, sizeof greeting - 1, MSG_NOSIGNAL);
                        ::close(c);
                    } else if (!watch(c, Kind::SilentConnection)) {
                        ::close(c);
                    }
                }
            }
        }
    }

    int m_epoll = -1;
    int m_wake = -1;
    std::unordered_map<int, Kind> m_kinds;
    std::vector<Endpoint> m_banner;
    std::vector<Endpoint> m_silent;
    std::thread m_thread;
};

double threadCpuMs()
{
    timespec ts {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct FullTableFigures
{
    double cycleSeconds = 0;
    double worstLatenessMs = 0;
    // CPU time the UI thread spent within that worst gap: far below the lateness,
    // the thread was waiting for a core, not busy in the engine.
    double worstGapCpuMs = 0;
    QString summary;
};

// 32767 Targets: 5% silent with Timeout 1, half of the rest greeting and closing,
// the other half refused.
FullTableFigures fullTableCycle(int16_t parallel, const PeerThread &peers, HostResolver &resolver,
    IcmpEchoService &icmp, UnavailableNetWareClient &netware)
{
    TargetTable table;
    std::vector<Target> slots(TargetTable::MaxSlots);
    for (size_t n = 0; n < slots.size(); ++n) {
        Target &t = slots[n];
        t.Desc = QStringLiteral("T%1").arg(n);
        t.Timeout = 1;
        t.SmoothedRtt = -1;
        t.UseM = true;
        PeerThread::Endpoint e {QStringLiteral("127.77.0.1"), 25}; // nothing listens there: refused
        if (n % 20 == 7)
            e = peers.silent()[n / 20 % peers.silent().size()];
        else if (n % 2 == 0)
            e = peers.banner()[n / 2 % peers.banner().size()];
        t.Hostname = e.host;
        t.Port = e.port;
    }
    table.assign(std::move(slots));
    GlobalSettings settings;
    settings.Parallel = parallel;
    TargetGrid grid(table);
    QuietMonitorView view;
    grid.load_display();
    ProbeKit kit;
    kit.resolver = &resolver;
    kit.icmp = &icmp;
    kit.netware = &netware;
    Monitor monitor(table, settings, grid, view, kit);
    monitor.setMonitoringEnabled(false);

    FullTableFigures figures;
    QElapsedTimer sinceTick;
    double cpuAtTick = threadCpuMs();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        const double lateness = static_cast<double>(sinceTick.nsecsElapsed()) / 1e6 - 10.0;
        const double cpu = threadCpuMs();
        if (lateness > figures.worstLatenessMs) {
            figures.worstLatenessMs = lateness;
            figures.worstGapCpuMs = cpu - cpuAtTick;
        }
        cpuAtTick = cpu;
        sinceTick.restart();
    });
    QEventLoop loop;
    QObject::connect(&monitor, &Monitor::cycleFinished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    tick.start(10);
    sinceTick.start();
    cpuAtTick = threadCpuMs();
    monitor.do_check();
    if (monitor.CycleRunning())
        loop.exec();
    tick.stop();
    figures.cycleSeconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    int counts[4] = {0, 0, 0, 0};
    for (const Target &t : table)
        if (t.Status >= 0 && t.Status <= 3)
            ++counts[t.Status];
    figures.summary = QStringLiteral("unknown %1, ok %2, warning %3, down %4")
                          .arg(counts[0])
                          .arg(counts[1])
                          .arg(counts[2])
                          .arg(counts[3]);
    return figures;
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
    PeerThread peers;
    if (!peers.start(64, 64))
        return std::fprintf(stderr, "cannot listen on loopback\n"), 1;
    std::printf("cycle over 32767 loopback Targets (5%% accepting and never answering with Timeout 1, "
                "half of the rest greeting and closing, half refused)\n");
    QList<int16_t> levels {GlobalSettings {}.Parallel};
    // Further levels to compare, for example: cycle_bench 32 256
    for (int i = 1; i < argc; ++i)
        levels << static_cast<int16_t>(QByteArray(argv[i]).toInt());
    for (const int16_t p : levels) {
        const FullTableFigures f = fullTableCycle(p, peers, resolver, icmp, netware);
        std::printf(
            "  P = %d: %8.2f s (goal: under 30 s), worst lateness of a 10 ms UI timer %.1f ms, %.1f ms "
            "of it on the UI thread's CPU (goal: under 50 ms)  (%s)\n",
            int(p), f.cycleSeconds, f.worstLatenessMs, f.worstGapCpuMs, qPrintable(f.summary));
        std::fflush(stdout);
    }
    std::printf(
        "load_display of 32767 Targets: %.1f ms (best of 5; goal: under 200 ms)\n", loadDisplayMillis());
    return 0;
}
