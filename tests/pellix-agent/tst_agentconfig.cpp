#include "AgentConfig.h"

#include <QFile>
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
                             "deadline = 9\n"
                             "[load]\nenabled = no\nwarning = 1.5\ndown=3\n"
                             "[disk]\nmounts = /, /var , /srv/data,\nwarning = 80\ndown = 80\n"
                             "[memory]\nenabled = off\nwarning = 20\ndown = 15\n"
                             "[command ntp]\ncommand = /usr/bin/check \"two words\" -x \"\"\"q\"\"\"\n"
                             "timeout = 3\n"
                             "[command backup.age]\ncommand = check-backup\n",
                QStringLiteral("agent.ini"));
        QVERIFY2(r.config, qPrintable(r.error));
        const AgentConfig &c = *r.config;
        QCOMPARE(c.maxConnections, 4);
        QCOMPARE(c.maxPerAddress, 2);
        QCOMPARE(c.deadlineSeconds, 9);
        QCOMPARE(c.loadEnabled, false);
        QCOMPARE(c.loadWarning, 1.5);
        QCOMPARE(c.loadDown, 3.0);
        QCOMPARE(c.mounts,
            (QStringList {QStringLiteral("/"), QStringLiteral("/var"), QStringLiteral("/srv/data")}));
        QCOMPARE(c.diskWarning, 80);
        QCOMPARE(c.diskDown, 80);
        QCOMPARE(c.memoryEnabled, false);
        QCOMPARE(c.memoryWarning, 20);
        QCOMPARE(c.memoryDown, 15);
        QCOMPARE(c.commands.size(), size_t(2));
        QCOMPARE(c.commands[0].name, QStringLiteral("ntp"));
        QCOMPARE(c.commands[0].program, QStringLiteral("/usr/bin/check"));
        QCOMPARE(c.commands[0].arguments,
            (QStringList {QStringLiteral("two words"), QStringLiteral("-x"), QStringLiteral("\"q\"")}));
        QCOMPARE(c.commands[0].timeoutSeconds, 3);
        QCOMPARE(c.commands[1].name, QStringLiteral("backup.age"));
        QCOMPARE(c.commands[1].timeoutSeconds, 10);
    }

    void badFilesAreRefusedWhole_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("key outside a section")
            << QByteArray("warning = 3\n") << QStringLiteral("f:1: \"warning = 3\" is outside any section");
        QTest::newRow("unknown section")
            << QByteArray("[load]\n[disks]\n")
            << QStringLiteral(
                   "f:2: unknown section [disks] (known: [agent], [load], [disk], [memory], [command NAME])");
        QTest::newRow("unclosed header")
            << QByteArray("[load\n") << QStringLiteral("f:1: section header \"[load\" has no closing \"]\"");
        QTest::newRow("unknown key") << QByteArray("[load]\nwarnng = 3\n")
                                     << QStringLiteral("f:2: unknown key \"warnng\" in [load]");
        QTest::newRow("repeated key") << QByteArray("[disk]\nwarning = 3\nwarning = 4\n")
                                      << QStringLiteral("f:3: \"warning\" is given twice in [disk]");
        QTest::newRow("percent above 100")
            << QByteArray("[disk]\nwarning = 101\n")
            << QStringLiteral("f:2: [disk] warning = \"101\": expected a whole percentage from 0 to 100");
        QTest::newRow("negative load")
            << QByteArray("[load]\ndown = -1\n")
            << QStringLiteral("f:2: [load] down = \"-1\": expected a load per CPU such as 1.5");
        QTest::newRow("relative mount")
            << QByteArray("[disk]\nmounts = /, var\n")
            << QStringLiteral("f:2: [disk] mounts = \"/, var\": expected absolute paths separated by commas");
        QTest::newRow("connections zero")
            << QByteArray("[agent]\nconnections = 0\n")
            << QStringLiteral(
                   "f:2: [agent] connections = \"0\": expected a number of connections from 1 to 1024");
        QTest::newRow("timeout too long")
            << QByteArray("[command a]\ncommand = x\ntimeout = 301\n")
            << QStringLiteral("f:3: [command a] timeout = \"301\": expected whole seconds from 1 to 300");
        QTest::newRow("empty command")
            << QByteArray("[command a]\ncommand =\n")
            << QStringLiteral("f:2: [command a] command = \"\": expected a program and its arguments");
        QTest::newRow("unterminated quote")
            << QByteArray("[command a]\ncommand = /bin/echo \"x\"\"\"y\n")
            << QStringLiteral(
                   "f:2: [command a] command = \"/bin/echo \"x\"\"\"y\": expected a closing double quote");
        QTest::newRow("long line is cut")
            << QByteArray("[load]\n") + QByteArray(1 << 19, 'x') + "\n"
            << QStringLiteral("f:2: expected \"key = value\" or \"[section]\", found \"%1...\"")
                   .arg(QString(77, QLatin1Char('x')));
        QTest::newRow("command missing")
            << QByteArray("[load]\n\n[command a]\ntimeout = 5\n")
            << QStringLiteral("f:3: [command a] has no \"command = PROGRAM ARGUMENTS...\"");
        QTest::newRow("load thresholds reversed") << QByteArray(
            "[load]\ndown = 1\nwarning = 2\n") << QStringLiteral("f:1: [load] warning (2) is above down (1)");
        QTest::newRow("memory thresholds reversed")
            << QByteArray("[load]\n[memory]\ndown = 20\n")
            << QStringLiteral("f:2: [memory] warning (10) is below down (20): both are the available "
                              "percentage under which the state begins");
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
        QFile f(big);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray((1 << 20) + 1, ';'));
        f.close();
        QCOMPARE(loadAgentConfig(big, false).error,
            big + QStringLiteral(": larger than 1 MiB, not a configuration file"));
    }
};

SENTREL_TEST_GUILESS_MAIN(TstAgentConfig)
#include "tst_agentconfig.moc"
