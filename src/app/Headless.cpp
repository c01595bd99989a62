#include "app/Headless.h"

#include "app/Termination.h"
#include "engine/Monitor.h"
#include "engine/MonitorView.h"
#include "engine/StatusCounts.h"
#include "engine/StatusGrid.h"
#include "engine/UserPrompts.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "logging/LogFiles.h"
#include "logging/LogWriter.h"
#include "metrics/EngineMetrics.h"
#include "metrics/MetricsConfig.h"
#include "metrics/MetricsExporter.h"
#include "probes/HostResolver.h"
#include "probes/IcmpProbe.h"
#include "probes/NetWareProbe.h"
#include "probes/WinSock.h"
#include "probes/WireText.h"
#include "settings/ExportFile.h"
#include "settings/Registry.h"
#include "settings/RegularFile.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdio>
#include <optional>

namespace sentrel {

namespace {

void printTo(std::FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

void complain(const QString &text)
{
    printTo(stderr, QStringLiteral("sentrel: ") + text + u'\n');
}

// The messages a window would show in a box go to stderr; there is nobody to ask.
class StderrPrompts : public UserPrompts
{
public:
    Answer message(const QString &text, const QString &, Buttons, Icon) override
    {
        complain(QString(text).replace(u'\r', u' ').replace(u'\n', u' '));
        return Answer::Ok;
    }
    QString chooseFile(bool, const QString &, const QString &, const QString &, const QString &) override
    {
        return {};
    }
};

// Why the store cannot be read, if it cannot. A missing per-user store is a first start and
// reads as empty, like the window's; a missing file that was named explicitly is an error.
// A FIFO, a device or a huge file was refused by the store without being read.
std::optional<QString> storeProblem(const SettingsStore &store, bool named)
{
    const QString prefix =
        QStringLiteral("cannot read settings file ") + store.fileName() + QStringLiteral(": ");
    if (!store.readError().isEmpty())
        return prefix + store.readError();
    if (named && !QFileInfo::exists(store.fileName()))
        return prefix + QStringLiteral("No such file or directory");
    return std::nullopt;
}

// The store named on the command line, or the per-user one; none (after saying why) when it
// cannot be read.
std::unique_ptr<SettingsStore> openStore(const HeadlessOptions &options)
{
    const bool named = !options.storeFile.isEmpty();
    auto store =
        named ? std::make_unique<SettingsStore>(options.storeFile) : std::make_unique<SettingsStore>();
    if (const auto problem = storeProblem(*store, named)) {
        complain(*problem);
        return nullptr;
    }
    return store;
}

// Everything a check cycle needs, wired as the window wires it, minus the window.
struct Engine
{
    TargetTable table;
    GlobalSettings settings;
    WindowState window;
    TargetGrid grid {table};
    QuietMonitorView view;
    HostResolver resolver;
    IcmpEchoService icmp;
    UnavailableNetWareClient netware;
    std::unique_ptr<Monitor> monitor;

    void build()
    {
        ProbeKit kit;
        kit.resolver = &resolver;
        kit.icmp = &icmp;
        kit.netware = &netware;
        monitor = std::make_unique<Monitor>(table, settings, grid, view, kit);
        // Rows must exist for the cycle to paint, as in the window.
        grid.load_display();
    }
    ~Engine() { monitor.reset(); }
};

int exitCodeOf(int16_t status)
{
    switch (status) {
    case TargetStatus::Ok:
        return CheckExit::Ok;
    case TargetStatus::Warning:
        return CheckExit::Warning;
    case TargetStatus::Down:
        return CheckExit::Down;
    default:
        return CheckExit::Unknown;
    }
}

QString statusName(int16_t status)
{
    switch (status) {
    case TargetStatus::Ok:
        return QStringLiteral("OK");
    case TargetStatus::Warning:
        return QStringLiteral("WARNING");
    case TargetStatus::Down:
        return QStringLiteral("DOWN");
    default:
        return QStringLiteral("UNKNOWN");
    }
}

// One field of a tab-separated line: no tab or line break of its own, and nothing a
// terminal would act on (a hostile banner could retitle or recolour it).
QString field(QString text)
{
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return withoutControls(text);
}

// The result text of the line. A WARNING without one (a port that accepted and never
// answered) gives the reason its details hold, so that a script sees why.
QString shownInfo(const Target &t)
{
    if (t.Status != TargetStatus::Warning || !t.Info.trimmed().isEmpty())
        return t.Info;
    const QStringList lines = t.Output.split(QRegularExpression(QStringLiteral("[\r\n]+")));
    for (const QString &line : lines) {
        if (!line.trimmed().isEmpty())
            return line.trimmed();
    }
    return t.Info;
}

QString checkLine(const Target &t, int position, bool json)
{
    if (!json)
        return field(t.Desc) + u'\t' + statusName(t.Status) + u'\t' + field(shownInfo(t)) + u'\n';
    QJsonObject o;
    o.insert(QStringLiteral("index"), position);
    o.insert(QStringLiteral("host"), t.Hostname);
    o.insert(QStringLiteral("description"), t.Desc);
    o.insert(QStringLiteral("status"), statusName(t.Status));
    o.insert(QStringLiteral("code"), exitCodeOf(t.Status));
    o.insert(QStringLiteral("info"), t.Info);
    o.insert(QStringLiteral("output"), t.Output);
    o.insert(QStringLiteral("lastCheck"),
        t.LastCheck.toOffsetFromUtc(t.LastCheck.offsetFromUtc()).toString(Qt::ISODate));
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + u'\n';
}

QString isoTime(qint64 ms)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

QJsonValue ratioValue(const UptimeFigure &f)
{
    const auto ratio = f.ratio();
    return ratio ? QJsonValue(*ratio) : QJsonValue(QJsonValue::Null);
}

QString historyLines(const Target &t, const TargetHistory &h, int position, bool json)
{
    if (json) {
        QJsonObject o;
        o.insert(QStringLiteral("index"), position);
        o.insert(QStringLiteral("uid"), t.Uid);
        o.insert(QStringLiteral("host"), t.Hostname);
        o.insert(QStringLiteral("description"), t.Desc);
        o.insert(QStringLiteral("checked"), h.checked);
        QJsonObject uptime;
        uptime.insert(QStringLiteral("24h"), ratioValue(h.day));
        uptime.insert(QStringLiteral("7d"), ratioValue(h.week));
        uptime.insert(QStringLiteral("30d"), ratioValue(h.month));
        o.insert(QStringLiteral("uptime"), uptime);
        QJsonArray outages;
        for (const Outage &out : h.outages) {
            QJsonObject j;
            j.insert(QStringLiteral("start"), isoTime(out.start));
            j.insert(QStringLiteral("end"),
                out.end ? QJsonValue(isoTime(*out.end)) : QJsonValue(QJsonValue::Null));
            j.insert(QStringLiteral("durationSeconds"), static_cast<double>(out.durationMs(h.now) / 1000));
            j.insert(QStringLiteral("info"), out.info);
            outages.append(j);
        }
        o.insert(QStringLiteral("outages"), outages);
        return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + u'\n';
    }
    if (!h.checked)
        return field(t.Desc) + QStringLiteral("\tnever checked\n");
    QString out = field(t.Desc) + QStringLiteral("\t24 h ") + percentText(h.day.ratio())
        + QStringLiteral("\t7 days ") + percentText(h.week.ratio()) + QStringLiteral("\t30 days ")
        + percentText(h.month.ratio()) + u'\n';
    for (const Outage &o : h.outages) {
        out += QStringLiteral("\toutage\t") + isoTime(o.start) + u'\t'
            + (o.end ? isoTime(*o.end) : QStringLiteral("ongoing")) + u'\t'
            + durationText(o.durationMs(h.now)) + u'\t' + field(o.info) + u'\n';
    }
    return out;
}

} // namespace

int runCheck(const HeadlessOptions &options)
{
    StartWinsock();
    auto store = openStore(options);
    if (!store)
        return CheckExit::Unknown;
    Engine engine;
    // The log file is never written here, so no default (and no data folder) is made for it.
    read_registry(*store, engine.table, engine.settings, engine.window, QString());
    QString source = store->fileName();
    if (!options.importFile.isEmpty()) {
        source = options.importFile;
        const RegularFileRead read = readRegularFile(options.importFile);
        if (read.outcome != RegularFileRead::Outcome::Read) {
            complain(QStringLiteral("cannot read export file ") + options.importFile + QStringLiteral(": ")
                + read.error);
            return CheckExit::Unknown;
        }
        ExportParseResult parsed = parseExport(read.bytes);
        if (!parsed.ok) {
            complain(options.importFile + QStringLiteral(" is not a usable export file: ") + parsed.error);
            return CheckExit::Unknown;
        }
        engine.table.assign(std::move(parsed.targets));
        adoptTargetUids(engine.table, TargetTable {});
    }
    if (engine.table.usedCount() == 0) {
        // An empty list is far more often the wrong store (another user, another HOME under
        // cron) than a deliberate one, so it is not reported as OK.
        complain(QStringLiteral("no Targets to check in ") + source);
        return CheckExit::Unknown;
    }

    engine.build();
    engine.monitor->setMonitoringEnabled(false); // one cycle, then no timer
    engine.monitor->setLoggingEnabled(false);
    QObject::connect(engine.monitor.get(), &Monitor::cycleFinished, QCoreApplication::instance(),
        &QCoreApplication::quit, Qt::QueuedConnection);
    engine.monitor->do_check();
    QCoreApplication::exec();

    int position = 0;
    QString out;
    for (const Target &t : engine.table) {
        if (!t.isFree())
            out += checkLine(t, position++, options.json);
    }
    printTo(stdout, out);
    return exitCodeOf(countStatuses(engine.table).worst);
}

int runServe(const HeadlessOptions &options)
{
    StartWinsock();
    auto store = openStore(options);
    if (!store)
        return 1;
    Engine engine;
    engine.settings.Filename = defaultLogFile();
    read_registry(*store, engine.table, engine.settings, engine.window, defaultLogFile());
    const MetricsConfig metricsConfig = readMetricsConfig(*store);
    store.reset();

    std::unique_ptr<MetricsExporter> exporter;
    if (options.metrics) {
        QString error = metricsConfig.problem;
        if (error.isEmpty())
            exporter = MetricsExporter::start(metricsConfig.address, metricsConfig.port, error);
        if (!exporter) {
            complain(QStringLiteral("cannot serve metrics: ") + error);
            return 1;
        }
        complain(QStringLiteral("serving metrics at ") + exporter->url());
    }

    engine.build();
    HistoryRecorder history(defaultHistoryFile());
    history.attach(*engine.monitor, engine.table);
    QObject::connect(
        &history, &HistoryRecorder::notice, &history, [](const QString &text) { complain(text); });
    StderrPrompts prompts;
    Monitor &monitor = *engine.monitor;
    monitor.setLogWriter([&engine, &monitor, &prompts] {
        logentry(
            engine.table, engine.settings, monitor.loggingEnabled(), prompts, QDateTime::currentDateTime());
    });
    monitor.setLoggingEnabled(engine.window.LoggingEnabled);
    std::unique_ptr<MetricsPublisher> publisher;
    if (exporter) {
        publisher = std::make_unique<MetricsPublisher>(engine.table, monitor, *exporter);
        history.setDayUptimesWanted(true);
        publisher->setDayUptimes(&history.dayUptimes());
        QObject::connect(
            &history, &HistoryRecorder::batchDone, publisher.get(), &MetricsPublisher::publishNow);
        publisher->publishNow();
    }

    QObject guard;
    onTermination(&guard, [] { QCoreApplication::quit(); });
    monitor.setMonitoringEnabled(engine.window.Enable);
    if (engine.window.Enable)
        monitor.do_check();
    else
        complain(QStringLiteral("checking is switched off in the settings (Window/Enable); no cycle runs"));
    QCoreApplication::exec();

    // The engine stops its probes before the metrics go, and those before the server.
    history.flush();
    engine.monitor.reset();
    publisher.reset();
    exporter.reset();
    return 0;
}

int runHistory(const HeadlessOptions &options)
{
    auto store = openStore(options);
    if (!store)
        return 1;
    Engine engine;
    read_registry(*store, engine.table, engine.settings, engine.window, QString());
    const QString path = defaultHistoryFile();
    HistoryStore history(path);
    if (QFileInfo::exists(path)) {
        const HistoryResult opened = history.openForReading();
        if (!opened.ok()) {
            complain(QStringLiteral("cannot read history file ") + path + QStringLiteral(": ") + opened.text);
            return 1;
        }
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    int position = 0;
    QString out;
    for (const Target &t : engine.table) {
        if (t.isFree())
            continue;
        TargetHistory h;
        if (history.isOpen()) {
            h = history.history(t.Uid, now, 1);
        } else {
            h.uid = t.Uid;
            h.now = now;
        }
        out += historyLines(t, h, position++, options.json);
    }
    printTo(stdout, out);
    return 0;
}

} // namespace sentrel
