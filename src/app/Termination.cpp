#include "app/Termination.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace sentrel {

namespace {

int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t signalsSeen = 0;

void onTerminate(int sig)
{
    // Only async-signal-safe work here; the event loop does the rest.
    const bool again = signalsSeen != 0;
    signalsSeen = 1;
    if (again) {
        // The first one is being handled and the user insists (a save stuck on a dead
        // disk, an event loop that never comes back): the default action ends us now.
        // The signal is blocked while its handler runs, so it lands as the handler returns.
        struct sigaction dfl
        {
        };
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(sig, &dfl, nullptr);
        raise(sig);
        return;
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}

} // namespace

bool onTermination(QObject *context, std::function<void()> onSignal)
{
    if (signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [onSignal = std::move(onSignal)] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[1], &byte, 1);
        onSignal();
    });
    struct sigaction sa
    {
    };
    sa.sa_handler = onTerminate;
    // The three are blocked in each other's handler, so two arriving together cannot both
    // be taken for the first.
    sigemptyset(&sa.sa_mask);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&sa.sa_mask, sig);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    return true;
}

} // namespace sentrel
