#include "AgentConfig.h"
#include "AgentServer.h"
#include "Gatherer.h"
#include "ReportCache.h"
#include "UniqueFd.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pellix;

namespace {

constexpr int ExitConfig = 1;
constexpr int ExitUsage = 2;
constexpr int ExitRuntime = 3;

void complain(const QString &message)
{
    std::fprintf(stderr, "pellix-agent: %s\n", qPrintable(message));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Under socket activation or inetd stdout is the connection.
bool stdoutIsConnection()
{
    struct stat st = {};
    return ::fstat(STDOUT_FILENO, &st) == 0 && S_ISSOCK(st.st_mode);
}

// Closing the connection while the client's bytes sit unread would reset it and could
// destroy the report in flight, so the sending side is shut first and what the client sends
// is drained, for two seconds at most.
void finishConnection()
{
    if (!stdoutIsConnection())
        return;
    ::shutdown(STDOUT_FILENO, SHUT_WR);
    char sink[4096];
    for (int waits = 0; waits < 20; ++waits) {
        pollfd p {STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, 100) < 0 && errno != EINTR)
            return;
        if (p.revents == 0)
            continue;
        const ssize_t n = ::read(STDIN_FILENO, sink, sizeof sink);
        if (n <= 0 && !(n < 0 && errno == EINTR))
            return;
    }
}

// As the first process of a PID namespace (a container's PID 1) the agent would inherit
// every orphan of its commands, and the kernel drops signals that PID 1 does not handle.
// So PID 1 becomes a small init: the agent runs as its child, orphans are reaped, SIGTERM,
// SIGINT and SIGHUP are passed on, and the init ends with the agent's status (its own end
// then kills whatever is left in the namespace). Returns in the child, with -1.
int runAsInit()
{
    sigset_t handled, previous;
    sigemptyset(&handled);
    for (const int sig : {SIGCHLD, SIGTERM, SIGINT, SIGHUP, SIGQUIT})
        sigaddset(&handled, sig);
    ::sigprocmask(SIG_BLOCK, &handled, &previous);
    const pid_t agent = ::fork();
    if (agent <= 0) {
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        return -1; // the agent itself, or no child to be had: the agent runs as PID 1
    }
    for (;;) {
        const int sig = ::sigwaitinfo(&handled, nullptr);
        if (sig < 0)
            continue;
        if (sig != SIGCHLD) {
            ::kill(agent, sig);
            continue;
        }
        int status = 0;
        for (pid_t pid; (pid = ::waitpid(-1, &status, WNOHANG)) > 0;) {
            if (pid == agent)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
    }
}

// SIGTERM, SIGINT and SIGHUP end the event loop, and so the agent by its normal path, which
// kills the commands it runs; the handler only writes to a pipe the event loop watches.
int g_signalPipe = -1;

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe, &byte, 1);
    errno = saved;
}

std::unique_ptr<QSocketNotifier> watchSignals(UniqueFd &readEnd, UniqueFd &writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    g_signalPipe = fds[1];
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    auto notifier = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [] { QCoreApplication::exit(0); });
    return notifier;
}

// systemd's RuntimeDirectory= (the first, when several are given).
QString defaultCacheDirectory()
{
    return qEnvironmentVariable("RUNTIME_DIRECTORY").section(QLatin1Char(':'), 0, 0);
}

} // namespace

int main(int argc, char *argv[])
{
    if (::getpid() == 1) {
        const int status = runAsInit();
        if (status >= 0)
            return status;
    }
    // A client that goes away must not kill the agent in the middle of a write.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pellix-agent"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SENTREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reports this host's state (load, disk space, memory, check commands) to Sentrel's agent "
        "query.\nWithout --listen it writes one report to stdout and exits (inetd, systemd "
        "socket activation)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOption(QStringLiteral("config"),
        QStringLiteral("Read the configuration from FILE (default /etc/pellix-agent.ini)."),
        QStringLiteral("FILE"));
    const QCommandLineOption listenOption(QStringLiteral("listen"),
        QStringLiteral("Serve reports on ADDR:PORT (such as 0.0.0.0:3000 or [::]:3000)."),
        QStringLiteral("ADDR:PORT"));
    const QCommandLineOption cacheOption(QStringLiteral("cache-dir"),
        QStringLiteral("Without --listen: share reports between agents through a file in DIR, so "
                       "that one is gathered at most once a second (default $RUNTIME_DIRECTORY)."),
        QStringLiteral("DIR"));
    parser.addOption(configOption);
    parser.addOption(listenOption);
    parser.addOption(cacheOption);
    if (!parser.parse(QCoreApplication::arguments())) {
        complain(parser.errorText());
        return ExitUsage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        complain(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
        return ExitUsage;
    }

    const bool explicitConfig = parser.isSet(configOption);
    const QString configPath =
        explicitConfig ? parser.value(configOption) : QStringLiteral("/etc/pellix-agent.ini");
    const ConfigResult loaded = loadAgentConfig(configPath, explicitConfig);
    if (!loaded.config) {
        complain(loaded.error);
        // The client learns that there is no report and where to look; the file's details
        // stay in the log, not on the network. Sentrel shows the unknown word as Unknown.
        if (!parser.isSet(listenOption) && stdoutIsConnection()) {
            writeAll(STDOUT_FILENO, "UNKNOWN\r\nThe agent's configuration is invalid; see its log\r\n");
            finishConnection();
        }
        return ExitConfig;
    }
    UniqueFd signalRead, signalWrite;
    const auto signalNotifier = watchSignals(signalRead, signalWrite);
    SystemReportSource source(*loaded.config);

    if (!parser.isSet(listenOption)) {
        int status = 0;
        const auto answer = [&status](const QByteArray &report) {
            if (!writeAll(STDOUT_FILENO, report)) {
                complain(QStringLiteral("cannot write the report: %1")
                             .arg(QString::fromLocal8Bit(strerror(errno))));
                status = ExitRuntime;
            }
            finishConnection();
        };
        const QString cacheDir =
            parser.isSet(cacheOption) ? parser.value(cacheOption) : defaultCacheDirectory();
        ReportCache cache(cacheDir);
        if (!cacheDir.isEmpty()) {
            std::optional<QByteArray> cached = cache.fresh();
            // One agent gathers; the others wait for its report rather than run it all again.
            // The gatherer keeps its deadline, so waiting a little longer sees its report.
            if (!cached && cache.lock(loaded.config->deadlineSeconds * 1000 + 500))
                cached = cache.fresh();
            if (cached) {
                answer(*cached);
                return status;
            }
        }
        QObject::connect(&source, &ReportSource::reportReady, &app, [&](const QByteArray &report) {
            if (!cacheDir.isEmpty() && !cache.store(report))
                complain(QStringLiteral("cannot store the report in %1").arg(cacheDir));
            cache.unlock();
            answer(report);
            QCoreApplication::exit(status);
        });
        source.requestReport();
        const int code = app.exec();
        return code != 0 ? code : status;
    }

    QHostAddress address;
    quint16 port = 0;
    if (!parseListenAddress(parser.value(listenOption), address, port)) {
        complain(QStringLiteral("--listen \"%1\": expected ADDR:PORT, such as 127.0.0.1:3000 or [::1]:3000")
                     .arg(parser.value(listenOption)));
        return ExitUsage;
    }
    AgentServer server(source, loaded.config->maxConnections, loaded.config->maxPerAddress);
    if (!server.listen(address, port)) {
        complain(
            QStringLiteral("cannot listen on %1: %2").arg(parser.value(listenOption), server.errorString()));
        return ExitRuntime;
    }
    return app.exec();
}
