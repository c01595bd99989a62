#include "AgentProcess.h"
#include "Gatherer.h"
#include "SystemReadings.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <thread>

using namespace pellix;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(pellix::CommandReading::Outcome)
Q_DECLARE_METATYPE(pellix::CommandDef)

namespace {

CommandDef shell(const char *name, const QString &script, int timeoutSeconds = 5)
{
    return {
        QString::fromLatin1(name), QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, timeoutSeconds};
}

// The readings, or nothing when they came from inside run() instead of from the event loop,
// or never.
std::optional<std::vector<CommandReading>> runAll(const std::vector<CommandDef> &defs)
{
    CommandRunner runner;
    std::vector<CommandReading> readings;
    bool done = false;
    runner.run(defs, 30000, [&](std::vector<CommandReading> r) {
        readings = std::move(r);
        done = true;
    });
    if (done)
        return std::nullopt;
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < 30000)
        QTest::qWait(10);
    return done ? std::optional(readings) : std::nullopt;
}

} // namespace

class TstCommandRunner : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void outcomes_data()
    {
        using O = CommandReading::Outcome;
        QTest::addColumn<CommandDef>("def");
        QTest::addColumn<O>("outcome");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output");

        QTest::newRow("ok") << shell("a", QStringLiteral("echo fine; echo more")) << O::Exited << 0
                            << QByteArray("fine\nmore\n");
        QTest::newRow("crashes") << shell("a", QStringLiteral("echo half; kill -SEGV $$")) << O::Crashed << -1
                                 << QByteArray("half\n");
        QTest::newRow("missing program")
            << CommandDef {QStringLiteral("a"), QStringLiteral("/no/such/program"), {}, 5} << O::FailedToStart
            << -1 << QByteArray();
        // Arguments reach the program as they are: nothing here is a shell's business.
        QTest::newRow("no shell in between") << CommandDef {QStringLiteral("a"), QStringLiteral("/bin/echo"),
            {QStringLiteral("$HOME;"), QStringLiteral("a b")}, 5}
                                             << O::Exited << 0 << QByteArray("$HOME; a b\n");
        QTest::newRow("stdin is empty")
            << shell("a", QStringLiteral("cat; echo end")) << O::Exited << 0 << QByteArray("end\n");
        QTest::newRow("output is capped")
            << shell("a", QStringLiteral("head -c 100000 /dev/zero | tr '\\0' x")) << O::Exited << 0
            << QByteArray(4096, 'x');
    }
    void outcomes()
    {
        QFETCH(CommandDef, def);
        QFETCH(CommandReading::Outcome, outcome);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        const auto run = runAll({def});
        QVERIFY(run);
        const auto &r = *run;
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(r[0].outcome, outcome);
        if (exitCode >= 0)
            QCOMPARE(r[0].exitCode, exitCode);
        QCOMPARE(r[0].output, output);
        if (outcome == CommandReading::Outcome::FailedToStart)
            QVERIFY2(r[0].error.contains(QStringLiteral("No such file")), qPrintable(r[0].error));
    }

    // A hung command dies with what it started; a finished one's leftovers in its group die
    // with it too, so that a check script cannot pile processes up.
    void commandsDieWithWhatTheyStarted()
    {
        QTemporaryDir dir;
        const QString hangPid = dir.filePath(QStringLiteral("hang"));
        const QString leftPid = dir.filePath(QStringLiteral("left"));
        // The background sleep keeps stdout open and would outlive a kill of the shell alone.
        const CommandDef hang =
            shell("hang", QStringLiteral("sleep 60 & echo $! > %1; echo started; wait").arg(hangPid), 1);
        QElapsedTimer clock;
        clock.start();
        const auto run = runAll(
            {hang, shell("leaves", QStringLiteral("sleep 1002 & echo $! > %1; echo ok").arg(leftPid))});
        QVERIFY(run);
        QVERIFY(clock.elapsed() < 10000);
        const auto &r = *run;
        QCOMPARE(r.size(), size_t(2));
        QCOMPARE(r[0].name, QStringLiteral("hang"));
        QCOMPARE(r[0].outcome, CommandReading::Outcome::TimedOut);
        QCOMPARE(r[0].output, QByteArray("started\n"));
        QCOMPARE(r[1].outcome, CommandReading::Outcome::Exited);
        QCOMPARE(r[1].output, QByteArray("ok\n"));
        for (const QString &pidFile : {hangPid, leftPid}) {
            QFile f(pidFile);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const pid_t child = pid_t(f.readAll().trimmed().toInt());
            QVERIFY(child > 0);
            QTRY_VERIFY2_WITH_TIMEOUT(
                !running(child), qPrintable(pidFile + u" outlived its command"_s), 5000);
        }
        // Nothing to run still answers, and from the event loop.
        const auto none = runAll({});
        QVERIFY(none && none->empty());
    }

    // A command beyond the deadline and a file system that hangs give a report on time,
    // without stalling the event loop; a request meanwhile joins the running one, a later one
    // gathers again, but does not start the hung reading a second time.
    void reportKeepsItsDeadline()
    {
        AgentConfig config;
        config.deadlineSeconds = 1;
        config.loadEnabled = false;
        config.memoryEnabled = false;
        config.mounts = {QStringLiteral("/"), QStringLiteral("/hung")};
        config.commands = {shell("slow", QStringLiteral("echo partial; sleep 30"), 300),
            shell("fast", QStringLiteral("echo hi; exit 1"))};
        auto calls = std::make_shared<std::atomic<int>>(0);
        auto returned = std::make_shared<std::atomic<int>>(0);
        SystemReportSource source(config, [calls, returned](const QString &mount) {
            if (mount == QLatin1String("/hung")) {
                ++*calls;
                std::this_thread::sleep_for(std::chrono::milliseconds(2500));
                ++*returned;
            }
            return readDisk(mount);
        });
        QSignalSpy ready(&source, &ReportSource::reportReady);
        QElapsedTimer clock, gap;
        qint64 longestGap = 0;
        QTimer ticker;
        QObject::connect(
            &ticker, &QTimer::timeout, [&] { longestGap = std::max(longestGap, gap.restart()); });
        clock.start();
        gap.start();
        ticker.start(20);
        source.requestReport();
        source.requestReport();
        QVERIFY(ready.wait(5000));
        const qint64 took = clock.elapsed();
        QVERIFY2(took >= 900 && took < 2500, qPrintable(QString::number(took)));
        QVERIFY2(longestGap < 500, qPrintable(QString::number(longestGap)));
        const QByteArray report = ready.at(0).at(0).toByteArray();
        QVERIFY2(report.contains(": Disk / "), report.constData());
        QVERIFY2(report.contains("\r\nERROR: Disk /hung unreadable: no answer within 1 s\r\n"),
            report.constData());
        QVERIFY2(report.contains("\r\nERROR: slow gave no answer within 1 s and was killed\r\n"),
            report.constData());
        QVERIFY2(report.contains("\r\nWARNING: fast: hi\r\n"), report.constData());
        QTest::qWait(200);
        QCOMPARE(ready.size(), 1);

        source.requestReport();
        QVERIFY(ready.wait(5000));
        QVERIFY(
            ready.at(1).at(0).toByteArray().contains("ERROR: Disk /hung unreadable: no answer within 1 s"));
        QCOMPARE(calls->load(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(returned->load(), 1, 5000);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstCommandRunner)
#include "tst_commandrunner.moc"
