#include "ui/MainWindow.h"

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminate(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Without an organisation name the data folder is Sentrel/ itself, not Sentrel/Sentrel/.
    QApplication::setApplicationName(QStringLiteral("Sentrel"));
    QApplication::setApplicationVersion(QStringLiteral(SENTREL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("sentrel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/sentrel.svg")));

    sentrel::MainWindow window({});

    // A session ending or a plain `kill` closes the window as the user would,
    // so the settings are saved on the way out.
    std::unique_ptr<QSocketNotifier> terminate;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        terminate = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
        QObject::connect(terminate.get(), &QSocketNotifier::activated, &window, [&window] {
            char byte;
            [[maybe_unused]] const ssize_t n = ::read(signalPipe[1], &byte, 1);
            window.close();
        });
        struct sigaction sa
        {
        };
        sa.sa_handler = onTerminate;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGHUP, &sa, nullptr);
    }

    if (!window.startup())
        return 1;
    return QApplication::exec();
}
