#include "app/Headless.h"
#include "app/Termination.h"
#include "history/HistoryRecorder.h"
#include "metrics/EngineMetrics.h"
#include "metrics/MetricsConfig.h"
#include "metrics/MetricsExporter.h"
#include "probes/Descriptors.h"
#include "settings/SettingsStore.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIcon>

#include <cstdio>
#include <cstring>

namespace {

// The options that make this run a command instead of the window. Anything else on the
// command line is left to the window's toolkit, as it always was.
bool isCommandOption(const char *arg)
{
    static const char *const names[] = {"--check", "--serve", "--history", "--json", "--store", "--import",
        "--no-metrics", "--help", "-h", "--help-all", "--version", "-v"};
    for (const char *name : names) {
        const size_t n = std::strlen(name);
        if (std::strncmp(arg, name, n) == 0 && (arg[n] == '\0' || arg[n] == '='))
            return true;
    }
    return false;
}

void setIdentity()
{
    // Without an organisation name the data folder is Sentrel/ itself, not Sentrel/Sentrel/.
    QCoreApplication::setApplicationName(QStringLiteral("Sentrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SENTREL_VERSION));
}

// `sentrel --check` and `sentrel --serve`: no window, no display, no GUI platform.
int runCommand(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    setIdentity();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Network status monitor. Without options it opens its window.\n"
        "--check exits 0 OK, 1 WARNING, 2 DOWN, 3 Unknown (the worst Target, or the check could not run)."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption check(
        QStringLiteral("check"), QStringLiteral("Check every Target once, print the results and exit."));
    const QCommandLineOption serve(QStringLiteral("serve"),
        QStringLiteral("Run the checks on schedule without a window until stopped, with metrics."));
    const QCommandLineOption history(QStringLiteral("history"),
        QStringLiteral("Print each Target's uptime and outages of the last 30 days and exit."));
    const QCommandLineOption json(
        QStringLiteral("json"), QStringLiteral("With --check or --history: one JSON object per line."));
    const QCommandLineOption store(QStringLiteral("store"),
        QStringLiteral("The settings file to use instead of the per-user one."), QStringLiteral("file"));
    const QCommandLineOption import(QStringLiteral("import"),
        QStringLiteral("With --check: check the Targets of this export file instead of the stored ones."),
        QStringLiteral("file"));
    const QCommandLineOption noMetrics(
        QStringLiteral("no-metrics"), QStringLiteral("With --serve: do not serve metrics."));
    for (const QCommandLineOption &o : {check, serve, history, json, store, import, noMetrics})
        parser.addOption(o);

    const QStringList args = QCoreApplication::arguments();
    const bool checking = args.contains(QStringLiteral("--check"));
    // --check keeps to the plugin convention even when it cannot run: 3 is Unknown.
    const int usageExit = checking ? sentrel::CheckExit::Unknown : 1;
    auto usageError = [&](const QString &text) {
        std::fprintf(stderr, "sentrel: %s\nTry 'sentrel --help'.\n", text.toLocal8Bit().constData());
        return usageExit;
    };
    if (!parser.parse(args))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("sentrel %s\n", SENTREL_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument: ") + parser.positionalArguments().first());
    if (int(parser.isSet(check)) + int(parser.isSet(serve)) + int(parser.isSet(history)) != 1)
        return usageError(QStringLiteral("give either --check or --serve, or --history"));
    if (parser.isSet(serve) && (parser.isSet(json) || parser.isSet(import)))
        return usageError(QStringLiteral("--json and --import work with --check only"));
    if (parser.isSet(history) && parser.isSet(import))
        return usageError(QStringLiteral("--import works with --check only"));
    if (!parser.isSet(serve) && parser.isSet(noMetrics))
        return usageError(QStringLiteral("--no-metrics works with --serve only"));
    if (parser.values(store).size() > 1 || parser.values(import).size() > 1)
        return usageError(QStringLiteral("--store and --import may be given once each"));

    sentrel::HeadlessOptions options;
    options.storeFile = parser.value(store);
    options.importFile = parser.value(import);
    options.json = parser.isSet(json);
    options.metrics = !parser.isSet(noMetrics);
    if ((parser.isSet(store) && options.storeFile.isEmpty())
        || (parser.isSet(import) && options.importFile.isEmpty()))
        return usageError(QStringLiteral("an empty file name was given"));
    if (parser.isSet(history))
        return sentrel::runHistory(options);
    return parser.isSet(check) ? sentrel::runCheck(options) : sentrel::runServe(options);
}

} // namespace

int main(int argc, char *argv[])
{
    // Before anything opens descriptors: the checks in flight are then bounded by Parallel
    // and by what is left of the limit, never by a default meant for select().
    sentrel::raiseOpenFileLimit();
    for (int i = 1; i < argc; ++i) {
        if (isCommandOption(argv[i]))
            return runCommand(argc, argv);
    }

    QApplication app(argc, argv);
    setIdentity();
    QApplication::setDesktopFileName(QStringLiteral("sentrel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/sentrel.svg")));

    sentrel::MainWindow::Options options;
    options.historyFile = sentrel::defaultHistoryFile();
    sentrel::MainWindow window(options);

    // A session ending or a plain `kill` ends the program as "E&xit" does, so the settings
    // are saved on the way out, also while the window is hidden in the tray.
    sentrel::onTermination(&window, [&window] { window.optexit_Click(); });

    // Metrics only when the store asks for them; the window works the same either way.
    std::unique_ptr<sentrel::MetricsExporter> exporter;
    std::unique_ptr<sentrel::MetricsPublisher> publisher;
    const sentrel::MetricsConfig metrics = sentrel::readMetricsConfig(sentrel::SettingsStore());
    if (metrics.windowEnabled) {
        QString error = metrics.problem;
        if (error.isEmpty())
            exporter = sentrel::MetricsExporter::start(metrics.address, metrics.port, error);
        if (exporter) {
            publisher =
                std::make_unique<sentrel::MetricsPublisher>(window.table(), window.monitor(), *exporter);
            if (sentrel::HistoryRecorder *history = window.history()) {
                history->setDayUptimesWanted(true);
                publisher->setDayUptimes(&history->dayUptimes());
                QObject::connect(history, &sentrel::HistoryRecorder::batchDone, publisher.get(),
                    &sentrel::MetricsPublisher::publishNow);
            }
            std::fprintf(
                stderr, "sentrel: serving metrics at %s\n", exporter->url().toLocal8Bit().constData());
        } else {
            std::fprintf(stderr, "sentrel: cannot serve metrics: %s\n", error.toLocal8Bit().constData());
        }
    }

    // 3, as --check says it could not run.
    if (!window.startup())
        return 3;
    if (publisher)
        publisher->publishNow();
    // Declared after the window, the metrics stop reading its engine before it goes.
    return QApplication::exec();
}
