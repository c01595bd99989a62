// The metrics server under hostile clients: the time of a normal scrape while hundreds of
// connections from loopback stay silent, trickle a request byte by byte, come from many
// addresses, half-close, or connect and vanish in a loop. The server runs in a forked child
// that also publishes a new snapshot every 100 ms, as the end of each cycle would; its
// threads, memory and descriptors are read from /proc while the clients press.
// Usage: metrics_bench [--server-files N] (the server's open-file limit, to try a low one).

#include "engine/Target.h"
#include "metrics/EngineMetrics.h"
#include "metrics/MetricsExporter.h"
#include "probes/UniqueFd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace sentrel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Targets = 200;
constexpr int ScrapesPerScenario = 40;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TargetTable benchTable()
{
    std::vector<Target> slots(Targets);
    for (int i = 0; i < Targets; ++i) {
        Target &t = slots[static_cast<size_t>(i)];
        t.Hostname = QStringLiteral("host-%1.example.net").arg(i);
        t.Desc = QStringLiteral("Server %1").arg(i);
        t.Uid = derivedTargetUid(t.Hostname, 0);
        t.Status = static_cast<int16_t>(1 + i % 3);
        t.UseP = true;
        t.LastRtt = i % 7;
        t.LastRttMicros = 250 + i;
        t.SmoothedRtt = 1.5;
        t.LastCheck = QDateTime::currentDateTime();
    }
    TargetTable table;
    table.assign(std::move(slots));
    return table;
}

// The server's side: serves and publishes until the parent closes `control`, then reports
// how long the longest publication took.
[[noreturn]] void runServer(int control, int report, rlim_t files)
{
    if (files) {
        rlimit rl {};
        ::getrlimit(RLIMIT_NOFILE, &rl);
        rl.rlim_cur = std::min(files, rl.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &rl);
    }
    QString error;
    auto exporter = MetricsExporter::start(QStringLiteral("127.0.0.1"), 0, error);
    if (!exporter) {
        std::fprintf(stderr, "cannot serve: %s\n", error.toLocal8Bit().constData());
        ::_exit(1);
    }
    const TargetTable table = benchTable();
    CycleFacts cycles;
    const uint16_t port = exporter->port();
    [[maybe_unused]] ssize_t n = ::write(report, &port, sizeof port);
    double longest = 0;
    long publications = 0;
    for (;;) {
        pollfd p {control, POLLIN, 0};
        if (::poll(&p, 1, 100) != 0)
            break;
        const auto start = Clock::now();
        ++cycles.cyclesFinished;
        exporter->publish(collectMetrics(table, cycles));
        longest = std::max(longest, msSince(start));
        ++publications;
    }
    n = ::write(report, &longest, sizeof longest);
    n = ::write(report, &publications, sizeof publications);
    ::_exit(0);
}

struct Child
{
    pid_t pid = -1;
    uint16_t port = 0;
    UniqueFd control;
    UniqueFd report;
};

Child startServer(rlim_t files)
{
    int control[2];
    int report[2];
    if (::pipe2(control, O_CLOEXEC) != 0 || ::pipe2(report, O_CLOEXEC) != 0)
        return {};
    Child child;
    child.pid = ::fork();
    if (child.pid == 0) {
        ::close(control[1]);
        ::close(report[0]);
        runServer(control[0], report[1], files);
    }
    ::close(control[0]);
    ::close(report[1]);
    child.control = UniqueFd(control[1]);
    child.report = UniqueFd(report[0]);
    if (::read(child.report.get(), &child.port, sizeof child.port) != sizeof child.port)
        child.port = 0;
    return child;
}

long statusField(pid_t pid, const char *field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) == 0)
            return std::stol(line.substr(key.size()));
    }
    return -1;
}

long openDescriptors(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/fd";
    DIR *dir = ::opendir(path.c_str());
    if (!dir)
        return -1;
    long n = 0;
    while (const dirent *e = ::readdir(dir))
        n += e->d_name[0] != '.';
    ::closedir(dir);
    return n;
}

UniqueFd connectFrom(uint16_t port, uint32_t from, bool nonBlocking)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0));
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(from);
    if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
        return {};
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 && errno != EINPROGRESS)
        return {};
    return fd;
}

// One scrape as Prometheus makes it, on a connection of its own: milliseconds until the
// whole reply is in, or -1.
double scrapeMs(uint16_t port)
{
    const auto start = Clock::now();
    UniqueFd fd = connectFrom(port, INADDR_LOOPBACK, false);
    if (!fd)
        return -1;
    timeval wait {5, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    static const char request[] = "GET /metrics HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n";
    if (::send(fd.get(), request, sizeof request - 1, MSG_NOSIGNAL) < 0)
        return -1;
    std::string reply;
    char chunk[65536];
    for (ssize_t n; (n = ::recv(fd.get(), chunk, sizeof chunk, 0)) > 0;)
        reply.append(chunk, static_cast<size_t>(n));
    if (reply.compare(0, 12, "HTTP/1.1 200") != 0 || reply.find("sentrel_target_status") == std::string::npos)
        return -1;
    return msSince(start);
}

enum class Kind { Silent, Trickling, HalfClosing, Flood };

// Clients that keep `count` connections of one kind open, reopening each one the server
// drops, from one loopback address or (spread) one each.
class Attackers
{
public:
    Attackers(uint16_t port, Kind kind, int count, bool spread)
        : m_port(port)
        , m_kind(kind)
        , m_count(count)
        , m_spread(spread)
        , m_thread([this] { run(); })
    { }
    ~Attackers()
    {
        m_stop = true;
        m_thread.join();
    }
    long reopened() const { return m_reopened; }

private:
    uint32_t source(int i) const
    {
        return m_spread ? INADDR_LOOPBACK + 1 + static_cast<uint32_t>(i) : INADDR_LOOPBACK;
    }

    void open(int i)
    {
        m_fds[static_cast<size_t>(i)] = connectFrom(m_port, source(i), true);
        m_sent[static_cast<size_t>(i)] = 0;
    }

    void run()
    {
        m_fds.resize(static_cast<size_t>(m_count));
        m_sent.assign(static_cast<size_t>(m_count), 0);
        for (int i = 0; i < m_count; ++i)
            open(i);
        static const std::string trickle = "GET /metrics HTTP/1.1\r\nHost: bench\r\n";
        static const char full[] = "GET /metrics HTTP/1.1\r\nHost: bench\r\n\r\n";
        auto nextByte = Clock::now();
        while (!m_stop) {
            if (m_kind == Kind::Flood) {
                // Connect, send half a request and vanish, as fast as one thread can.
                UniqueFd fd = connectFrom(m_port, INADDR_LOOPBACK, false);
                if (fd)
                    ::send(fd.get(), full, 10, MSG_NOSIGNAL);
                ++m_reopened;
                continue;
            }
            std::vector<pollfd> polls;
            for (const UniqueFd &fd : m_fds)
                polls.push_back({fd.get(), POLLIN, 0});
            ::poll(polls.data(), polls.size(), 20);
            for (int i = 0; i < m_count; ++i) {
                const auto k = static_cast<size_t>(i);
                if (!m_fds[k] || (polls[k].revents & (POLLHUP | POLLERR))) {
                    open(i);
                    ++m_reopened;
                    continue;
                }
                if (polls[k].revents & POLLIN) {
                    char chunk[65536];
                    if (::recv(m_fds[k].get(), chunk, sizeof chunk, 0) <= 0) {
                        open(i);
                        ++m_reopened;
                    }
                }
            }
            if (m_kind == Kind::HalfClosing) {
                for (size_t k = 0; k < m_fds.size(); ++k) {
                    if (m_sent[k] == 0 && ::send(m_fds[k].get(), full, sizeof full - 1, MSG_NOSIGNAL) > 0) {
                        ::shutdown(m_fds[k].get(), SHUT_WR);
                        m_sent[k] = 1;
                    }
                }
            }
            // Every trickling connection sends its next byte once a second, a request that never ends.
            if (m_kind == Kind::Trickling && Clock::now() >= nextByte) {
                nextByte = Clock::now() + std::chrono::seconds(1);
                for (size_t k = 0; k < m_fds.size(); ++k) {
                    const size_t at = m_sent[k] < trickle.size() ? m_sent[k] : trickle.size() - 3;
                    if (::send(m_fds[k].get(), trickle.data() + at, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1)
                        ++m_sent[k];
                }
            }
        }
    }

    const uint16_t m_port;
    const Kind m_kind;
    const int m_count;
    const bool m_spread;
    std::vector<UniqueFd> m_fds;
    std::vector<size_t> m_sent;
    std::atomic<bool> m_stop {false};
    std::atomic<long> m_reopened {0};
    std::thread m_thread;
};

struct Scenario
{
    const char *name;
    Kind kind;
    int count;
    bool spread;
};

} // namespace

int main(int argc, char *argv[])
{
    rlim_t serverFiles = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--server-files") == 0)
            serverFiles = std::strtoul(argv[i + 1], nullptr, 10);
    }
    // Hundreds of client connections need more descriptors than a login shell's soft limit.
    rlimit rl {};
    ::getrlimit(RLIMIT_NOFILE, &rl);
    rl.rlim_cur = rl.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &rl);
    ::signal(SIGPIPE, SIG_IGN);

    Child server = startServer(serverFiles);
    if (!server.port) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    std::printf("metrics server in pid %d on 127.0.0.1:%u, open-file limit %s, %d Targets\n", server.pid,
        server.port, serverFiles ? std::to_string(serverFiles).c_str() : "raised to the hard limit", Targets);
    std::printf("%-40s %8s %8s %8s %5s %5s %8s %9s\n", "clients", "median", "max", "failed", "thr", "fds",
        "RSS KiB", "reopened");

    const Scenario scenarios[] = {
        {"none", Kind::Silent, 0, false},
        {"100 silent", Kind::Silent, 100, false},
        {"500 silent", Kind::Silent, 500, false},
        {"100 trickling a byte a second", Kind::Trickling, 100, false},
        {"500 trickling a byte a second", Kind::Trickling, 500, false},
        {"500 silent, one address each", Kind::Silent, 500, true},
        {"100 half-closing after a request", Kind::HalfClosing, 100, false},
        {"flood: connect, 10 bytes, close", Kind::Flood, 1, false},
    };
    for (const Scenario &s : scenarios) {
        Attackers attackers(server.port, s.kind, s.count, s.spread);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        std::vector<double> times;
        int failed = 0;
        long threads = 0;
        long fds = 0;
        long rss = 0;
        for (int i = 0; i < ScrapesPerScenario; ++i) {
            const double ms = scrapeMs(server.port);
            if (ms < 0)
                ++failed;
            else
                times.push_back(ms);
            threads = std::max(threads, statusField(server.pid, "Threads"));
            fds = std::max(fds, openDescriptors(server.pid));
            rss = std::max(rss, statusField(server.pid, "VmRSS"));
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        std::sort(times.begin(), times.end());
        const double median = times.empty() ? -1 : times[times.size() / 2];
        const double longest = times.empty() ? -1 : times.back();
        std::printf("%-40s %6.2fms %6.2fms %8d %5ld %5ld %8ld %9ld\n", s.name, median, longest, failed,
            threads, fds, rss, attackers.reopened());
        std::fflush(stdout);
    }

    server.control.reset();
    double longestPublication = 0;
    long publications = 0;
    const bool reported = ::read(server.report.get(), &longestPublication, sizeof longestPublication) > 0
        && ::read(server.report.get(), &publications, sizeof publications) > 0;
    int status = 0;
    ::waitpid(server.pid, &status, 0);
    if (reported)
        std::printf("snapshots published meanwhile, one each 100 ms: %ld, the longest took %.2f ms\n",
            publications, longestPublication);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
