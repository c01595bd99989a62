// Probe throughput on loopback: TCP probes per second with 1, 16 and 64 in
// flight against a banner server in a forked child process, and the time for
// 1000 ICMP echoes to 127.0.0.1 sent together.

#include "probes/IcmpProbe.h"
#include "probes/PortProbe.h"
#include "probes/UniqueFd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

using namespace sentrel;

namespace {

constexpr int ProbesPerRun = 2000;
const char Banner[] = "OK\r\nbench banner\r\ndetail\r\n";

struct BannerServer
{
    pid_t pid = -1;
    uint16_t port = 0;
};

// Runs in the child: greets every connection and closes it, until killed.
[[noreturn]] void serveBanners(int listener)
{
    for (;;) {
        UniqueFd c(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
        if (!c)
            continue;
        if (::send(c.get(), Banner, sizeof Banner - 1, MSG_NOSIGNAL) < 0)
            continue;
    }
}

BannerServer startBannerServer()
{
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!listener || ::bind(listener.get(), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
        || ::listen(listener.get(), 1024) != 0)
        return {};
    socklen_t len = sizeof a;
    ::getsockname(listener.get(), reinterpret_cast<sockaddr *>(&a), &len);
    const pid_t pid = ::fork();
    if (pid == 0)
        serveBanners(listener.get());
    return {pid, ntohs(a.sin_port)};
}

void stopBannerServer(const BannerServer &server)
{
    if (server.pid > 0) {
        ::kill(server.pid, SIGTERM);
        ::waitpid(server.pid, nullptr, 0);
    }
}

// Completes `total` probes, keeping `inFlight` of them running at all times.
void runTcp(uint16_t port, int inFlight, int total)
{
    std::vector<std::unique_ptr<PortProbe>> probes(static_cast<size_t>(inFlight));
    int started = 0;
    int ok = 0;
    int failed = 0;
    QEventLoop loop;
    std::function<void(size_t)> launch = [&](size_t slot) {
        ++started;
        probes[slot] = checkport(htonl(INADDR_LOOPBACK), int16_t(port), 10, false, {}, {},
            [&, slot](ProbeStatus status, const QString &reply) {
                if (status == 1 && !reply.isEmpty())
                    ++ok;
                else
                    ++failed;
                probes[slot].reset();
                if (started < total)
                    launch(slot);
                else if (ok + failed == total)
                    loop.quit();
            });
    };
    QElapsedTimer clock;
    clock.start();
    for (size_t i = 0; i < probes.size() && started < total; ++i)
        launch(i);
    loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    std::printf("  %2d in flight: %d probes (%d failed) in %.3f s = %.0f probes/s\n", inFlight, total, failed,
        seconds, total / seconds);
}

// Sends `total` echoes to 127.0.0.1 at once through one service and reports
// how long it takes until every one of them has an outcome.
void runIcmp(int total)
{
    std::printf("ICMP: %d echoes to 127.0.0.1 in flight together:\n", total);
    if (!IcmpEchoService::canOpen(IcmpEchoService::SocketKind::Any)) {
        std::printf("  skipped: no ICMP socket can be opened (neither a datagram socket within "
                    "net.ipv4.ping_group_range nor a raw socket)\n");
        return;
    }
    IcmpEchoService service;
    std::vector<std::unique_ptr<IcmpEchoService::Echo>> echoes(static_cast<size_t>(total));
    int answered = 0;
    int unanswered = 0;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    for (size_t i = 0; i < echoes.size(); ++i) {
        echoes[i] = service.sendEcho(htonl(INADDR_LOOPBACK), 5000, [&, i](const EchoOutcome &outcome) {
            if (outcome.opened && outcome.reply.answered && outcome.reply.status == 0)
                ++answered;
            else
                ++unanswered;
            echoes[i].reset();
            if (answered + unanswered == total)
                loop.quit();
        });
    }
    const char *kind = service.activeKind() == IcmpEchoService::SocketKind::Raw ? "raw" : "datagram";
    loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    std::printf(
        "  %s socket: %d answered, %d not answered, total %.3f s\n", kind, answered, unanswered, seconds);
}

} // namespace

int main(int argc, char **argv)
{
    // Forked before Qt starts any machinery of its own.
    const BannerServer server = startBannerServer();
    QCoreApplication app(argc, argv);
    if (server.pid <= 0) {
        std::printf("TCP: skipped, no loopback banner server could be started\n");
    } else {
        std::printf("TCP probes against a loopback banner server in a child process, %d probes per run:\n",
            ProbesPerRun);
        for (const int inFlight : {1, 16, 64})
            runTcp(server.port, inFlight, ProbesPerRun);
        stopBannerServer(server);
    }
    runIcmp(1000);
    return 0;
}
