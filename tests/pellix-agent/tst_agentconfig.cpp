#include "AgentConfig.h"
#include "AgentProcess.h"

#include <QTemporaryDir>
#include <QTest>

using namespace pellix;

class TstAgentConfig : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fullFileIsRead()
    {
        const ConfigResult r =
            parseAgentConfig("; comment\n# another\n\n[agent]\nconnections = 4\nconnections_per_address = 2\n"
                             "deadline = 9\n[load]\nenabled = no\nwarning = 1.5\ndown=3\n"
                             "[disk]\nmounts = /, /var , /srv/data,\nwarning = 80\ndown = 80\n"
                             "[memory]\nenabled = off\nwarning = 20\ndown = 15\n"
                             "[command ntp]\ncommand = /usr/bin/check \"two words\" -x \"\"\"q\"\"\"\n"
                             "timeout = 3\n[command backup.age]\ncommand = check-backup\n",
                QStringLiteral("agent.ini"));
        QVERIFY2(r.config, qPrintable(r.error));
        const AgentConfig &c = *r.config;
        QCOMPARE((QVariantList {c.maxConnections, c.maxPerAddress, c.deadlineSeconds, c.loadEnabled,
                     c.loadWarning, c.loadDown, c.mounts, c.diskWarning, c.diskDown, c.memoryEnabled,
                     c.memoryWarning, c.memoryDown}),
            (QVariantList {4, 2, 9, false, 1.5, 3.0,
                QStringList {QStringLiteral("/"), QStringLiteral("/var"), QStringLiteral("/srv/data")}, 80,
                80, false, 20, 15}));
        QCOMPARE(c.commands.size(), size_t(2));
        const CommandDef &ntp = c.commands[0];
        QCOMPARE((QVariantList {ntp.name, ntp.program, ntp.arguments, ntp.timeoutSeconds, c.commands[1].name,
                     c.commands[1].timeoutSeconds}),
            (QVariantList {QStringLiteral("ntp"), QStringLiteral("/usr/bin/check"),
                QStringList {QStringLiteral("two words"), QStringLiteral("-x"), QStringLiteral("\"q\"")}, 3,
                QStringLiteral("backup.age"), 10}));
    }

    // One row for each kind of refusal; out-of-range values, reversed thresholds and empty
    // commands are also fed to the reader by its fuzz target, whose corpus holds them.
    void badFilesAreRefusedWhole_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        const char *const cases[][2] = {{"warning = 3\n", "1: \"warning = 3\" is outside any section"},
            {"[load]\n[disks]\n",
                "2: unknown section [disks] (known: [agent], [load], [disk], [memory], [command NAME])"},
            {"[load\n", "1: section header \"[load\" has no closing \"]\""},
            {"[load]\nwarnng = 3\n", "2: unknown key \"warnng\" in [load]"},
            {"[disk]\nwarning = 101\n",
                "2: [disk] warning = \"101\": expected a whole percentage from 0 to 100"},
            {"[command a]\ncommand = x\ntimeout = 301\n",
                "3: [command a] timeout = \"301\": expected whole seconds from 1 to 300"},
            {"[command a]\ncommand = /bin/echo \"x\"\"\"y\n",
                "2: [command a] command = \"/bin/echo \"x\"\"\"y\": expected a closing double quote"},
            {"[load]\n\n[command a]\ntimeout = 5\n",
                "3: [command a] has no \"command = PROGRAM ARGUMENTS...\""},
            {"[load]\n[memory]\ndown = 20\n",
                "2: [memory] warning (10) is below down (20): both are the available percentage under which "
                "the state begins"}};
        for (const auto &c : cases)
            QTest::newRow(c[1]) << QByteArray(c[0]) << QStringLiteral("f:") + QString::fromLatin1(c[1]);
        QTest::newRow("long line is cut")
            << QByteArray("[load]\n") + QByteArray(1 << 19, 'x') + "\n"
            << QStringLiteral("f:2: expected \"key = value\" or \"[section]\", found \"%1...\"")
                   .arg(QString(77, QLatin1Char('x')));
    }
    void badFilesAreRefusedWhole()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        const ConfigResult r = parseAgentConfig(text, QStringLiteral("f"));
        QVERIFY(!r.config);
        QCOMPARE(r.error, error);
    }

    void filesOnDisk()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("missing.ini"));
        const ConfigResult named = loadAgentConfig(missing, true);
        QVERIFY(!named.config);
        QCOMPARE(named.error, missing + QStringLiteral(": cannot read: No such file or directory"));
        // Unless named, a missing file or an empty one is the defaults; no mounts check no disk.
        const ConfigResult defaults = loadAgentConfig(missing, false);
        QVERIFY(defaults.config && defaults.config->loadEnabled && defaults.config->memoryEnabled);
        QCOMPARE(defaults.config->mounts, QStringList {QStringLiteral("/")});
        QVERIFY(defaults.config->commands.empty());
        QVERIFY(parseAgentConfig({}, QStringLiteral("x")).config);
        QVERIFY(parseAgentConfig("[disk]\nmounts =\n", QStringLiteral("x")).config->mounts.isEmpty());

        // A folder where the file should be, and a file too large to be a configuration.
        QVERIFY(!loadAgentConfig(dir.path(), false).config);
        const QString big = dir.filePath(QStringLiteral("big.ini"));
        QVERIFY(writeTextFile(big, QByteArray((1 << 20) + 1, ';')));
        QCOMPARE(loadAgentConfig(big, false).error,
            big + QStringLiteral(": larger than 1 MiB, not a configuration file"));
    }
};

SENTREL_TEST_GUILESS_MAIN(TstAgentConfig)
#include "tst_agentconfig.moc"
