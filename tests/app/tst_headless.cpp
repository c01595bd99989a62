#include "CycleRig.h"
#include "TestFiles.h"
#include "probes/WinSock.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace sentrel;
using namespace sentrel::test;
using namespace Qt::StringLiterals;

namespace {

// The built program with its per-user folders under home and no display at all: a
// QApplication would fail to find its platform here, so the commands prove they need none.
void startSentrel(QProcess &sentrel, const QString &home, const QStringList &args, bool window = false)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(
        QStringLiteral("QT_QPA_PLATFORM"), window ? QStringLiteral("offscreen") : QStringLiteral("xcb"));
    sentrel.setProcessEnvironment(env);
    sentrel.start(QStringLiteral(SENTREL_BINARY), args);
}

// Runs the program to its end while this process's event loop serves the peers.
bool runSentrel(QProcess &sentrel, const QString &home, const QStringList &args)
{
    startSentrel(sentrel, home, args);
    if (!sentrel.waitForStarted(10000))
        return false;
    return QTest::qWaitFor([&] { return sentrel.state() == QProcess::NotRunning; }, 60000)
        && sentrel.state() == QProcess::NotRunning && sentrel.exitStatus() == QProcess::NormalExit;
}

struct Peers
{
    std::unique_ptr<LoopbackServer> mail = lowPortServer(PeerScript("220 mail.test ready\r\n"));
    std::unique_ptr<LoopbackServer> agent =
        lowPortServer(PeerScript("WARNING\r\nDisk 91% full\r\n/var 91%\r\n"));
    QString refused = refusingHost();

    // The store lines of one Target at index i, by the result it is to give.
    QString target(const QString &kind, int i) const
    {
        const QString n = QStringLiteral("%20") + QString::number(i);
        if (kind == u"ok")
            return QStringLiteral(
                "Hostname%1=%2\nDesc%1=Mail\nPort%1=%3\nUsePX%1=False\nUseM%1=True\nTimeout%1=5\n")
                .arg(n, FormatDottedAddress(mail->address()))
                .arg(mail->port());
        if (kind == u"warning")
            return QStringLiteral("Hostname%1=%2\nDesc%1=Agent\nPXPort%1=%3\nUsePX%1=True\nUseM%1=False\n")
                .arg(n, FormatDottedAddress(agent->address()))
                .arg(agent->port());
        if (kind == u"down")
            return QStringLiteral("Hostname%1=%2\nDesc%1=Closed\nPort%1=25\nUsePX%1=False\n").arg(n, refused);
        return QStringLiteral("Hostname%1=localhost\nDesc%1=Nothing\nUsePX%1=False\nUseM%1=False\n").arg(n);
    }
};

// What --check prints for a Target of each kind: description, status word, information.
QString checkLine(const QString &kind)
{
    static const QHash<QString, QString> lines {{u"ok"_s, u"Mail\tOK\t220 mail.test ready"_s},
        {u"warning"_s, u"Agent\tWARNING\tDisk 91% full"_s},
        {u"down"_s, u"Closed\tDOWN\tAll checks failed."_s},
        {u"unknown"_s, u"Nothing\tUNKNOWN\tNo test method defined."_s}};
    return lines.value(kind);
}

// One HTTP/1.0 GET on loopback: the status code and the body, or -1 when no complete
// answer came within timeoutMs.
std::pair<int, QByteArray> httpGet(quint16 port, const QByteArray &path, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(timeoutMs))
        return {-1, {}};
    socket.write("GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < timeoutMs) {
        socket.waitForReadyRead(50);
        reply += socket.readAll();
    }
    reply += socket.readAll();
    if (socket.state() == QAbstractSocket::ConnectedState)
        return {-1, {}};
    const qsizetype headerEnd = reply.indexOf("\r\n\r\n");
    const QList<QByteArray> statusLine = reply.left(reply.indexOf("\r\n")).split(' ');
    if (headerEnd < 0 || statusLine.size() < 2)
        return {-1, {}};
    return {statusLine[1].toInt(), reply.mid(headerEnd + 4)};
}

// The value of the first sample of `name` whose labels include every one given. The text
// format itself is the serializer library's; its escapes are spelled out here so that the
// description's quote, backslash and line break are checked as a scraper reads them.
std::optional<double> valueOf(
    const QByteArray &body, const QString &name, const QMap<QString, QString> &labels = {})
{
    for (const QString &line : QString::fromUtf8(body).split(u'\n')) {
        if (!line.startsWith(name + u'{') && !line.startsWith(name + u' '))
            continue;
        bool match = true;
        for (auto it = labels.cbegin(); it != labels.cend(); ++it) {
            QString v = it.value();
            v.replace(u"\\"_s, u"\\\\"_s).replace(u"\""_s, u"\\\""_s).replace(u"\n"_s, u"\\n"_s);
            const QString label = it.key() + u"=\""_s + v + u'"';
            match = match && (line.contains(u'{' + label) || line.contains(u',' + label));
        }
        bool ok = false;
        const double value = line.section(u' ', -1).toDouble(&ok);
        if (match && ok)
            return value;
    }
    return std::nullopt;
}

} // namespace

class TstHeadless : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void checkPrintsEveryTargetAndExitsWithTheWorst_data()
    {
        QTest::addColumn<QStringList>("kinds");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("all OK") << QStringList {u"ok"_s, u"ok"_s} << 0;
        QTest::newRow("an Unknown") << QStringList {u"unknown"_s, u"ok"_s} << 3;
        QTest::newRow("WARNING beats Unknown") << QStringList {u"unknown"_s, u"warning"_s} << 1;
        QTest::newRow("DOWN beats all") << QStringList {u"ok"_s, u"warning"_s, u"down"_s, u"unknown"_s} << 2;
    }
    void checkPrintsEveryTargetAndExitsWithTheWorst()
    {
        QFETCH(QStringList, kinds);
        QFETCH(int, exitCode);
        QTemporaryDir home;
        Peers peers;
        QVERIFY(peers.mail && peers.agent);
        const QString log = home.filePath(QStringLiteral("monitor.log"));
        QString ini = QStringLiteral("[Targets]\nMaxHostNo=%1\n").arg(kinds.size() - 1);
        for (int i = 0; i < kinds.size(); ++i)
            ini += peers.target(kinds[i], i);
        // Logging and alerts are on: the command still writes and raises nothing.
        ini +=
            QStringLiteral("[Logging]\nEnable=True\nFilename=%1\n[PopUp]\nWarn=True\nError=True\n").arg(log);
        const QString store = home.filePath(QStringLiteral("config/Sentrel/Sentrel.ini"));
        QVERIFY(writeFile(store, ini.toUtf8()));

        for (const bool json : {false, true}) {
            QProcess sentrel;
            const QStringList args =
                json ? QStringList {u"--check"_s, u"--json"_s} : QStringList {u"--check"_s};
            QVERIFY2(runSentrel(sentrel, home.path(), args), qPrintable(sentrel.errorString()));
            const QStringList lines =
                QString::fromUtf8(sentrel.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
            QCOMPARE(sentrel.exitCode(), exitCode);
            QCOMPARE(lines.size(), kinds.size());
            for (int i = 0; i < kinds.size(); ++i) {
                const QJsonObject o = QJsonDocument::fromJson(lines[i].toUtf8()).object();
                const QStringList fields {
                    o[u"description"_s].toString(), o[u"status"_s].toString(), o[u"info"_s].toString()};
                QCOMPARE(json ? fields.join(u'\t') : lines[i], checkLine(kinds[i]));
                QVERIFY(
                    !json || (o[u"index"_s].toInt(-1) == i && o[u"lastCheck"_s].toString().startsWith(u'2')));
            }
        }
        QCOMPARE(readAll(store), ini.toUtf8());
        QVERIFY(!QFileInfo::exists(log));
        QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral("data"))));
    }

    void commandLineAndFileErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("text"); // on stderr, or on stdout for a success
        // %dir is a temporary folder holding store.ini (one Target), garbage.exp, fifo, and the
        // metrics sections taken.ini (a port taken on loopback, %port) and range.ini.
        QTest::newRow("bad export file") << QStringList {u"--check"_s, u"--store"_s, u"%dir/store.ini"_s,
            u"--import"_s, u"%dir/garbage.exp"_s}
                                         << 3 << u"%dir/garbage.exp is not a usable export file"_s;
        QTest::newRow("no Targets in the user's store")
            << QStringList {u"--check"_s} << 3 << u"no Targets to check in"_s;
        QTest::newRow("unknown option")
            << QStringList {u"--check"_s, u"--bogus"_s} << 3 << u"Unknown option 'bogus'"_s;
        QTest::newRow("both commands")
            << QStringList {u"--check"_s, u"--serve"_s} << 3 << u"either --check or --serve"_s;
        QTest::newRow("json without check")
            << QStringList {u"--serve"_s, u"--json"_s} << 1 << u"with --check only"_s;
        QTest::newRow("serve with a missing store")
            << QStringList {u"--serve"_s, u"--store"_s, u"%dir/none.ini"_s} << 1 << u"No such file"_s;
        // A FIFO is refused without being opened for a wait; the store's own tests cover the
        // other special files.
        QTest::newRow("store is a FIFO") << QStringList {u"--check"_s, u"--store"_s, u"%dir/fifo"_s} << 3
                                         << u"cannot read settings file %dir/fifo: not a regular file"_s;
        QTest::newRow("export file is a FIFO")
            << QStringList {u"--check"_s, u"--store"_s, u"%dir/store.ini"_s, u"--import"_s, u"%dir/fifo"_s}
            << 3 << u"cannot read export file %dir/fifo: not a regular file"_s;
        // One refusal of each kind to serve metrics: the exporter's and the metrics settings' own
        // tests hold every message.
        QTest::newRow("metrics port taken") << QStringList {u"--serve"_s, u"--store"_s,
            u"%dir/taken.ini"_s} << 1 << u"cannot serve metrics: 127.0.0.1:%port: address already in use"_s;
        QTest::newRow("metrics port out of range")
            << QStringList {u"--serve"_s, u"--store"_s, u"%dir/range.ini"_s} << 1
            << u"cannot serve metrics: Metrics/Port: 70000 is not a port number from 0 to 65535"_s;
        QTest::newRow("help") << QStringList {u"--help"_s} << 0 << u"--check"_s;
    }
    void commandLineAndFileErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, text);
        QTemporaryDir home;
        const QString dir = home.filePath(QStringLiteral("files"));
        QVERIFY(writeFile(
            dir + QStringLiteral("/store.ini"), "[Targets]\nMaxHostNo=0\nHostname%200=localhost\n"));
        QVERIFY(writeFile(dir + QStringLiteral("/garbage.exp"), "2\r\n\"only\",one\r\n"));
        QVERIFY(::mkfifo(QFile::encodeName(dir + QStringLiteral("/fifo")).constData(), 0600) == 0);
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        const QString port = QString::number(taken.serverPort());
        QVERIFY(writeFile(dir + u"/taken.ini"_s, (u"[Metrics]\nAddress=127.0.0.1\nPort="_s + port).toUtf8()));
        QVERIFY(writeFile(dir + u"/range.ini"_s, "[Metrics]\nPort=70000\n"));
        args.replaceInStrings(QStringLiteral("%dir"), dir);

        QProcess sentrel;
        QVERIFY(runSentrel(sentrel, home.path(), args));
        const QString err = QString::fromLocal8Bit(sentrel.readAllStandardError());
        const QString out = QString::fromLocal8Bit(sentrel.readAllStandardOutput());
        QCOMPARE(sentrel.exitCode(), exitCode);
        const QString &shown = exitCode == 0 ? out : err;
        QVERIFY2(shown.contains(text.replace(u"%dir"_s, dir).replace(u"%port"_s, port)), qPrintable(shown));
        QVERIFY(exitCode == 0 || out.isEmpty());
    }

    // Targets imported from an export file replace the stored ones for the run, and text from
    // the wire reaches the terminal as text: valid UTF-8 decoded as such, controls replaced, and
    // a WARNING without an information line says why.
    void checkTextIsDecodedCleanedAndExplained()
    {
        QTemporaryDir home;
        LoopbackServer hostile(PeerScript("220 \x1b]0;owned\x07\x1b[31mred\x9b\xe9\r\n"));
        LoopbackServer agent(PeerScript("OK\r\nTemp\xc3\xa9rature 45 \xc2\xb0"
                                        "C \xe2\x80\x93 \xc3\xa7"
                                        "a va\r\n"));
        LoopbackServer silent(PeerScript({}, PeerScript::Then::Silent));
        QVERIFY(hostile.isListening() && agent.isListening() && silent.isListening());
        const QString store = home.filePath(QStringLiteral("store.ini"));
        QVERIFY(writeFile(store,
            u"[Targets]\nMaxHostNo=0\nHostname%200=%1\nDesc%200=Stored\nPort%200=25\nUsePX%200=False\n"_s
                .arg(refusingHost())
                .toUtf8()));
        const QString exp = home.filePath(QStringLiteral("settings.exp"));
        QVERIFY(writeFile(exp,
            u"2\r\n\"127.0.0.1\",%1,3000,#FALSE#,#TRUE#,#FALSE#,\"Banner\",\"\",5,#FALSE#\r\n"
            "\"127.0.0.1\",13,%2,#TRUE#,#FALSE#,#FALSE#,\"Agent, imported\",\"\",5,#FALSE#\r\n"
            "\"127.0.0.1\",%3,3000,#FALSE#,#TRUE#,#FALSE#,\"Silent\",\"\",1,#FALSE#\r\n"_s.arg(hostile.port())
                .arg(agent.port())
                .arg(silent.port())
                .toUtf8()));
        QProcess sentrel;
        QVERIFY(runSentrel(sentrel, home.path(), {u"--check"_s, u"--store"_s, store, u"--import"_s, exp}));
        const QString replaced(QChar::ReplacementCharacter);
        QCOMPARE(QString::fromUtf8(sentrel.readAllStandardOutput()),
            u"Banner\tOK\t220 "_s + replaced + u"]0;owned"_s + replaced + replaced + u"[31mred"_s + replaced
                + u"\u00e9\n"_s + u"Agent, imported\tOK\tTemp\u00e9rature 45 \u00b0C \u2013 \u00e7a va\n"_s
                + u"Silent\tWARNING\t*** Timeout on read ***\n"_s);
        QCOMPARE(sentrel.exitCode(), 1);
    }

    // Under a low open-file limit that cannot be raised, 200 checks at Parallel 128 still all
    // run, none is blamed on its host, and the command ends.
    void checkRunsUnderALowOpenFileLimit()
    {
        QTemporaryDir home;
        Peers peers;
        QVERIFY(peers.mail);
        const int count = 200;
        QString ini = QStringLiteral("[Targets]\nMaxHostNo=%1\n").arg(count - 1);
        for (int i = 0; i < count; ++i)
            ini += peers.target(u"ok"_s, i);
        ini += QStringLiteral("[Window]\nParallel=128\n");
        const QString store = home.filePath(QStringLiteral("many.ini"));
        QVERIFY(writeFile(store, ini.toUtf8()));
        QProcess sentrel;
        sentrel.setChildProcessModifier([] {
            const rlimit low {128, 128};
            ::setrlimit(RLIMIT_NOFILE, &low);
        });
        QVERIFY(runSentrel(sentrel, home.path(), {u"--check"_s, u"--store"_s, store}));
        const QStringList lines =
            QString::fromUtf8(sentrel.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines, QStringList(count, checkLine(u"ok"_s)));
        QCOMPARE(sentrel.exitCode(), 0);
    }

    void metricsAreScrapedFromTheServerAndTheWindow_data()
    {
        QTest::addColumn<bool>("window");
        QTest::newRow("--serve") << false;
        QTest::newRow("window") << true;
    }
    void metricsAreScrapedFromTheServerAndTheWindow()
    {
        QFETCH(bool, window);
        QTemporaryDir home;
        Peers peers;
        QVERIFY(peers.mail);
        // No log file is named: both log to the user's data folder.
        const QString log = home.filePath(QStringLiteral("data/Sentrel/sentrel.log"));
        const QString desc = QStringLiteral("Mail \"north\" C:\\mail\nsecond line");
        const QString ini =
            QStringLiteral(
                "[Targets]\nMaxHostNo=1\n%1%2Desc%200=\"Mail \\\"north\\\" C:\\\\mail\\nsecond line\"\n"
                "[Window]\nDelay=\" 5\"\n[Logging]\nEnable=True\n[Metrics]\nEnable=%3\nPort=0\n")
                .arg(peers.target(QStringLiteral("ok"), 0).remove(QStringLiteral("Desc%200=Mail\n")),
                    peers.target(QStringLiteral("down"), 1),
                    window ? QStringLiteral("True") : QStringLiteral("False"));
        const QString store = home.filePath(QStringLiteral("config/Sentrel/Sentrel.ini"));
        QVERIFY(writeFile(store, ini.toUtf8()));

        QProcess sentrel;
        startSentrel(sentrel, home.path(), window ? QStringList {} : QStringList {u"--serve"_s}, window);
        QVERIFY(sentrel.waitForStarted(10000));
        static const QRegularExpression announced(
            QStringLiteral("serving metrics at http://127\\.0\\.0\\.1:(\\d+)/metrics"));
        QString err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += QString::fromLocal8Bit(sentrel.readAllStandardError()), announced.match(err).hasMatch()),
            20000);
        const auto port = static_cast<quint16>(announced.match(err).captured(1).toUInt());

        QByteArray samples;
        const auto scraped = [&] {
            const auto [status, body] = httpGet(port, "/metrics", 2000);
            if (status != 200)
                return false;
            samples = body;
            return valueOf(samples, QStringLiteral("sentrel_cycles_total")).value_or(0) >= 1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(scraped(), 30000);

        // A client that connects and says nothing must not hold up anyone else's scrape: the
        // next one is answered at once, long before the server gives up on the silent one.
        QTcpSocket idle;
        idle.connectToHost(QStringLiteral("127.0.0.1"), port);
        QVERIFY(idle.waitForConnected(5000));
        QTest::qWait(200);
        QVERIFY(scraped());
        QCOMPARE(idle.state(), QAbstractSocket::ConnectedState);

        // Series are named by the Targets' identities, here derived from their hosts.
        const QString mailHost = FormatDottedAddress(peers.mail->address());
        const QString closedId = derivedTargetUid(peers.refused, 0);
        QCOMPARE(
            valueOf(samples, QStringLiteral("sentrel_target_status"),
                {{u"id"_s, derivedTargetUid(mailHost, 0)}, {u"host"_s, mailHost}, {u"description"_s, desc}}),
            std::optional(1.0));
        QCOMPARE(valueOf(samples, QStringLiteral("sentrel_target_status"),
                     {{u"id"_s, closedId}, {u"host"_s, peers.refused}, {u"description"_s, u"Closed"_s}}),
            std::optional(3.0));
        for (const auto &[status, count] :
            {std::pair {u"ok"_s, 1.0}, {u"warning"_s, 0.0}, {u"down"_s, 1.0}, {u"unknown"_s, 0.0}})
            QCOMPARE(valueOf(samples, QStringLiteral("sentrel_targets"), {{u"status"_s, status}}),
                std::optional(count));
        const double now = static_cast<double>(QDateTime::currentSecsSinceEpoch());
        const double checked = valueOf(samples, QStringLiteral("sentrel_target_last_check_timestamp_seconds"),
            {{u"id"_s, closedId}}).value_or(0);
        QVERIFY2(checked > now - 120 && checked <= now + 1, qPrintable(QString::number(checked, 'f')));
        QVERIFY(valueOf(samples, QStringLiteral("sentrel_cycle_duration_seconds")).value_or(-1) >= 0);
        QVERIFY(
            valueOf(samples, QStringLiteral("sentrel_last_cycle_timestamp_seconds")).value_or(0) >= checked);
        // Neither Target has had an echo, so no round-trip time is claimed for either.
        QVERIFY(!valueOf(samples, QStringLiteral("sentrel_target_rtt_seconds")));

        for (const QByteArray &path : {QByteArray("/"), QByteArray("/metrics/x"), QByteArray("/other")})
            QCOMPARE(httpGet(port, path, 5000).first, 404);
        // Logging as configured: the cycle's entry is in the file.
        QTRY_VERIFY_WITH_TIMEOUT(readAll(log).contains(", 3,All checks failed."), 10000);
        // Once the cycle is in the history, its uptime over 24 hours: the refused Target was never up.
        const auto uptime = [&] {
            return valueOf(samples, QStringLiteral("sentrel_target_uptime_ratio"), {{u"id"_s, closedId}});
        };
        QTRY_VERIFY_WITH_TIMEOUT((scraped(), uptime().has_value()), 10000);
        QCOMPARE(uptime(), std::optional(0.0));

        // Clients of the metrics, idle or in the middle of a request, do not hold up the end.
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < 20; ++i) {
            auto &c = clients.emplace_back(std::make_unique<QTcpSocket>());
            c->connectToHost(QStringLiteral("127.0.0.1"), port);
            QVERIFY(c->waitForConnected(5000));
            if (i % 2)
                c->write("GET /metrics HTTP/1.1\r\n");
            c->flush();
        }
        QTest::qWait(200);
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(sentrel.processId()), SIGTERM);
        QVERIFY(sentrel.waitForFinished(20000));
        // Half a second is the goal for --serve; a loaded machine gets some slack.
        QVERIFY2(window || clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(sentrel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sentrel.exitCode(), 0);
        if (window) {
            // Saved on SIGTERM, as a session's logout needs, the log file in use among them.
            QSettings saved(store, QSettings::IniFormat);
            QCOMPARE(saved.value(u"Targets/Hostname 0"_s).toString(), mailHost);
            QCOMPARE(saved.value(u"Window/Delay"_s).toString(), u" 5"_s);
            QCOMPARE(saved.value(u"Logging/Filename"_s).toString(), log);
        } else {
            QCOMPARE(readAll(store), ini.toUtf8());
        }

        // The history of that cycle, beside the log in the data folder, ended where the run ended.
        QVERIFY(QFileInfo::exists(home.filePath(QStringLiteral("data/Sentrel/history.sqlite"))));
        QProcess history;
        QVERIFY(runSentrel(history, home.path(), {u"--history"_s, u"--json"_s}));
        QCOMPARE(history.exitCode(), 0);
        const QList<QByteArray> lines = history.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        const QJsonObject mail = QJsonDocument::fromJson(lines[0]).object();
        const QJsonObject closed = QJsonDocument::fromJson(lines[1]).object();
        QVERIFY(mail[u"checked"_s].toBool());
        QCOMPARE(mail[u"uptime"_s].toObject()[u"24h"_s].toDouble(), 1.0);
        QCOMPARE(mail[u"outages"_s].toArray().size(), 0);
        QCOMPARE(closed[u"uptime"_s].toObject()[u"30d"_s].toDouble(), 0.0);
        const QJsonArray outages = closed[u"outages"_s].toArray();
        QCOMPARE(outages.size(), 1);
        QCOMPARE(outages[0].toObject()[u"info"_s].toString(), u"All checks failed."_s);
        QVERIFY(outages[0].toObject()[u"end"_s].isString());
    }
};

SENTREL_TEST_GUILESS_MAIN(TstHeadless)
#include "tst_headless.moc"
