// How long a well-behaved client waits for the agent's report while others misbehave:
// idle clients that never read (from one address or from many), clients that half-close,
// clients that connect and close at once, and the same under a low open-file limit.
// Starts the built pellix-agent on loopback; prints figures, asserts nothing.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr quint16 Port = 29417;
constexpr int RunMs = 6000;

enum class Misbehaviour { Idle, HalfClose, ConnectClose };

struct Scenario
{
    const char *name;
    Misbehaviour what;
    int clients;
    bool ownAddresses; // each client from an address of its own, beating a per-address limit
    int fileLimit; // 0: the shell's
};

sockaddr_in loopback(uint32_t host, quint16 port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(host);
    return a;
}

// The misbehaving clients, on a thread of their own, until `stop`; counts their connections.
void misbehave(const Scenario &s, const std::atomic<bool> &stop, std::atomic<long> &connections)
{
    const sockaddr_in to = loopback(0x7f000001, Port);
    std::vector<pollfd> fds(size_t(s.clients), pollfd {-1, POLLRDHUP, 0});
    while (!stop) {
        for (int i = 0; i < s.clients; ++i) {
            pollfd &p = fds[size_t(i)];
            if (p.fd >= 0)
                continue;
            p.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const sockaddr_in from = loopback(0x7f4e0000 | uint32_t(s.ownAddresses ? i + 2 : 2), 0);
            ::bind(p.fd, reinterpret_cast<const sockaddr *>(&from), sizeof from);
            ::connect(p.fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
            ++connections;
            p.events = s.what == Misbehaviour::HalfClose ? POLLOUT | POLLRDHUP : POLLRDHUP;
        }
        ::poll(fds.data(), fds.size(), s.what == Misbehaviour::ConnectClose ? 1 : 50);
        for (pollfd &p : fds) {
            if (p.fd < 0)
                continue;
            if (s.what == Misbehaviour::HalfClose && (p.revents & POLLOUT)) {
                ::send(p.fd, "report please\n", 14, MSG_NOSIGNAL);
                ::shutdown(p.fd, SHUT_WR);
                p.events = POLLRDHUP;
            }
            const bool connected = p.revents & POLLOUT;
            if ((p.revents & (POLLRDHUP | POLLHUP | POLLERR))
                || (s.what == Misbehaviour::ConnectClose && (connected || p.revents == 0))) {
                ::close(p.fd);
                p.fd = -1;
            }
        }
        if (s.what == Misbehaviour::ConnectClose) {
            for (pollfd &p : fds)
                p.events = POLLOUT;
        }
    }
    for (const pollfd &p : fds)
        ::close(p.fd);
}

// One report as Sentrel asks for it: connect, read to the end. Milliseconds, or -1.
double askForReport()
{
    QElapsedTimer clock;
    clock.start();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = loopback(0x7f000001, Port);
    const timeval wait {10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    QByteArray got;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0) {
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
            got.append(buf, n);
    }
    ::close(fd);
    return got.contains("OK: probe: fine") ? double(clock.nsecsElapsed()) / 1e6 : -1;
}

QByteArray procStatus(qint64 pid, const QByteArray &key)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return "?";
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).simplified();
    }
    return "?";
}

void run(const Scenario &s, const QString &config)
{
    QProcess agent;
    agent.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (s.fileLimit > 0) {
        agent.setChildProcessModifier([limit = s.fileLimit] {
            const rlimit l {rlim_t(limit), rlim_t(limit)};
            ::setrlimit(RLIMIT_NOFILE, &l);
        });
    }
    agent.start(QStringLiteral(PELLIX_AGENT_BINARY),
        {QStringLiteral("--config"), config, QStringLiteral("--listen"),
            QStringLiteral("127.0.0.1:%1").arg(Port)});
    agent.waitForStarted();
    for (int i = 0; i < 100 && askForReport() < 0; ++i)
        ::usleep(50000);

    std::atomic<bool> stop = false;
    std::atomic<long> connections = 0;
    std::thread flood(misbehave, std::cref(s), std::cref(stop), std::ref(connections));
    ::usleep(500000);
    std::vector<double> ms;
    int failed = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < RunMs) {
        const double t = askForReport();
        if (t < 0)
            ++failed;
        else
            ms.push_back(t);
        ::usleep(100000);
    }
    const QByteArray rss = procStatus(agent.processId(), "VmRSS");
    const QByteArray threads = procStatus(agent.processId(), "Threads");
    const qsizetype fds = QDir(QStringLiteral("/proc/%1/fd").arg(agent.processId()))
                              .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                              .size();
    stop = true;
    flood.join();
    const bool alive = agent.state() == QProcess::Running;
    agent.terminate();
    agent.waitForFinished();

    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) {
        return ms.empty() ? -1.0 : ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))];
    };
    std::printf("%-44s reports %3zu failed %2d  ms: median %7.1f p95 %7.1f max %7.1f  | others %6.0f conn/s"
                "  agent: fds %3lld %s threads %s%s\n",
        s.name, ms.size(), failed, at(0.5), at(0.95), ms.empty() ? -1.0 : ms.back(),
        double(connections) * 1000.0 / (RunMs + 500), static_cast<long long>(fds), rss.constData(),
        threads.constData(), alive ? "" : "  AGENT DIED");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("agent.ini"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly)
        || f.write("[disk]\nmounts = /\n[command probe]\ncommand = /bin/echo fine\n") < 0)
        return 1;
    f.close();
    std::printf("pellix-agent --listen, defaults (16 connections, 4 per address), one quick command;\n"
                "a well-behaved client from 127.0.0.1 asks every 100 ms for %d s:\n",
        RunMs / 1000);
    const Scenario scenarios[] = {
        {"nobody else", Misbehaviour::Idle, 0, false, 0},
        {"200 idle, reconnecting, one address", Misbehaviour::Idle, 200, false, 0},
        {"200 idle, reconnecting, 200 addresses", Misbehaviour::Idle, 200, true, 0},
        {"200 half-closing, 200 addresses", Misbehaviour::HalfClose, 200, true, 0},
        {"50 connecting and closing at once", Misbehaviour::ConnectClose, 50, true, 0},
        {"200 idle, 200 addresses, ulimit -n 64", Misbehaviour::Idle, 200, true, 64},
    };
    // A scenario's number as the argument runs that one alone.
    const int only = argc > 1 ? QByteArray(argv[1]).toInt() : -1;
    for (int i = 0; i < int(std::size(scenarios)); ++i) {
        if (only < 0 || only == i)
            run(scenarios[i], config);
    }
    return 0;
}
