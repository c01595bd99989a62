#include "AgentConfig.h"
#include "AgentServer.h"
#include "Gatherer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

} // namespace

int main(int argc, char *argv[])
{
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
    parser.addOption(configOption);
    parser.addOption(listenOption);
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
    SystemReportSource source(*loaded.config);

    if (!parser.isSet(listenOption)) {
        int status = 0;
        QObject::connect(&source, &ReportSource::reportReady, &app, [&status](const QByteArray &report) {
            if (!writeAll(STDOUT_FILENO, report)) {
                complain(QStringLiteral("cannot write the report: %1")
                             .arg(QString::fromLocal8Bit(strerror(errno))));
                status = ExitRuntime;
            }
            finishConnection();
            QCoreApplication::exit(status);
        });
        source.requestReport();
        return app.exec();
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
