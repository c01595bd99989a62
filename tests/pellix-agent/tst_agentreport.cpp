#include "Report.h"
#include "SystemReadings.h"

#include <QTemporaryDir>
#include <QTest>

using namespace pellix;

Q_DECLARE_METATYPE(pellix::Readings)
Q_DECLARE_METATYPE(pellix::CommandReading)

namespace {

DiskReading disk(const char *mount, int usedPercentWanted)
{
    DiskReading d;
    d.mount = QString::fromLatin1(mount);
    d.usedBytes = uint64_t(usedPercentWanted) * 1000;
    d.availableBytes = uint64_t(100 - usedPercentWanted) * 1000;
    return d;
}

CommandReading exited(const char *name, int code, const QByteArray &output)
{
    CommandReading c;
    c.name = QString::fromLatin1(name);
    c.exitCode = code;
    c.output = output;
    return c;
}

// Load 0.5 per CPU on 4 CPUs, / at 40%, memory half free: everything OK by default.
Readings healthy()
{
    Readings r;
    r.load = LoadReading {1.0, 2.0, 3.0, 4, {}};
    r.disks = {disk("/", 40)};
    r.memory = MemoryReading {1000 * 1024, 500 * 1024, {}};
    return r;
}

} // namespace

class TstAgentReport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void worstCheckDecides_data()
    {
        QTest::addColumn<Readings>("readings");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QString>("summary");

        Readings r = healthy();
        r.disks.push_back(disk("/var", 91));
        QTest::newRow("disk at warning")
            << r << QByteArray("WARNING") << QStringLiteral("Disk /var 91% full");
        r.disks.push_back(disk("/srv", 95));
        QTest::newRow("down beats warning, others counted")
            << r << QByteArray("DOWN") << QStringLiteral("Disk /srv 95% full (+1 more)");

        r = healthy();
        r.load->five = 8.0; // 2.0 per CPU: the warning threshold itself
        QTest::newRow("load at warning")
            << r << QByteArray("WARNING")
            << QStringLiteral("Load 8.00 on 4 CPUs (1, 5, 15 min: 1.00 8.00 3.00)");

        r = healthy();
        r.memory->availableKiB = 100 * 1024; // 10%: not below the warning threshold
        QTest::newRow("memory at 10%") << r << QByteArray("OK") << QStringLiteral("All 3 checks OK");
        r.memory->availableKiB = 99 * 1024;
        QTest::newRow("memory below 10%")
            << r << QByteArray("WARNING") << QStringLiteral("Memory 9% available (99 of 1000 MiB)");

        r = healthy();
        r.disks.push_back(DiskReading {QStringLiteral("/data"), 0, 0, QStringLiteral("Permission denied")});
        r.commands.push_back(exited("raid", 1, "RAID degraded\nmore"));
        QTest::newRow("error outranks warning but says WARNING")
            << r << QByteArray("WARNING")
            << QStringLiteral("Disk /data unreadable: Permission denied (+1 more)");
        r.commands.push_back(exited("ups", 2, "On battery"));
        QTest::newRow("down outranks error")
            << r << QByteArray("DOWN") << QStringLiteral("ups: On battery (+2 more)");

        QTest::newRow("nothing configured")
            << Readings {} << QByteArray("OK") << QStringLiteral("No checks configured");
    }
    void worstCheckDecides()
    {
        QFETCH(Readings, readings);
        QFETCH(QByteArray, status);
        QFETCH(QString, summary);
        const QList<QByteArray> lines = formatReport(evaluate(AgentConfig {}, readings)).split('\n');
        QCOMPARE(lines.value(0), status + '\r');
        QCOMPARE(QString::fromUtf8(lines.value(1)), summary + QLatin1Char('\r'));
    }

    void commandOutcomes_data()
    {
        QTest::addColumn<CommandReading>("reading");
        QTest::addColumn<QString>("detail");
        using O = CommandReading::Outcome;

        QTest::newRow("0 is OK, first line only")
            << exited("ntp", 0, "NTP OK: offset 0.002 | offset=0.002s\nsecond")
            << QStringLiteral("OK: ntp: NTP OK: offset 0.002");
        QTest::newRow("2 is DOWN, CR line end")
            << exited("ups", 2, "on battery\r\nx") << QStringLiteral("DOWN: ups: on battery");
        QTest::newRow("3 is an error") << exited("x", 3,
            "UNKNOWN - bad args") << QStringLiteral("ERROR: x failed with exit code 3: UNKNOWN - bad args");
        CommandReading r = exited("err", 2, {});
        r.errorOutput = "only on stderr\n";
        QTest::newRow("stderr when stdout is empty") << r << QStringLiteral("DOWN: err: only on stderr");
        QTest::newRow("a status word cannot be smuggled in")
            << exited("s", 0, "\r\nDOWN") << QStringLiteral("OK: s: no output");
        QTest::newRow("long lines are cut")
            << exited("l", 0, QByteArray(500, 'x'))
            << QStringLiteral("OK: l: ") + QString(197 - 3, QLatin1Char('x')) + QStringLiteral("...");
        // A timed-out command's text is tst_commandrunner's (reportKeepsItsDeadline).
        r = {};
        r.name = QStringLiteral("hang");
        r.outcome = O::Crashed;
        QTest::newRow("crashed") << r << QStringLiteral("ERROR: hang crashed");
        r.outcome = O::FailedToStart;
        r.error = QStringLiteral("execvp: No such file or directory");
        QTest::newRow("missing program")
            << r << QStringLiteral("ERROR: hang did not start: execvp: No such file or directory");
    }
    void commandOutcomes()
    {
        QFETCH(CommandReading, reading);
        QFETCH(QString, detail);
        Readings r;
        r.commands.push_back(reading);
        const QList<QByteArray> lines = formatReport(evaluate(AgentConfig {}, r)).split('\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(QString::fromUtf8(lines[2]), detail + QLatin1Char('\r'));
    }

    void thresholdsComeFromTheConfiguration()
    {
        AgentConfig c;
        c.diskWarning = 30;
        c.diskDown = 50;
        c.loadWarning = 0.25;
        c.memoryWarning = 60;
        c.memoryDown = 55;
        const Report report = evaluate(c, healthy());
        QCOMPARE(report.status, Level::Down);
        QCOMPARE(report.checks[0].level, Level::Warning);
        QCOMPARE(report.checks[1].level, Level::Warning);
        QCOMPARE(report.checks[2].level, Level::Down);
    }

    void usedPercentRoundsUpAsDf_data()
    {
        QTest::addColumn<quint64>("used");
        QTest::addColumn<quint64>("available");
        QTest::addColumn<int>("percent");
        QTest::newRow("empty file system") << quint64(0) << quint64(0) << 0;
        QTest::newRow("exact") << quint64(91) << quint64(9) << 91;
        QTest::newRow("the least bit over rounds up") << quint64(1) << quint64(98) << 2;
        QTest::newRow("full") << quint64(5) << quint64(0) << 100;
        QTest::newRow("huge values do not overflow") << quint64(1) << (quint64(1) << 56) << 1;
    }
    void usedPercentRoundsUpAsDf()
    {
        QFETCH(quint64, used);
        QFETCH(quint64, available);
        QFETCH(int, percent);
        QCOMPARE(usedPercent(used, available), percent);
    }

    void mountInfo()
    {
        const QByteArray text = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                                "41 22 8:17 / /srv/back\\040up rw - ext4 /dev/sdb1 rw\n"
                                "42 22 0:5 / /odd\\134name\\0111 rw - tmpfs x rw\n"
                                "43 22 0:6 / /half\\04 rw - tmpfs x rw\n"
                                "short line\n\n";
        const std::vector<QByteArray> points = parseMountInfo(text);
        QCOMPARE(points, (std::vector<QByteArray> {"/", "/srv/back up", "/odd\\name\t1", "/half\\04"}));
    }

    void readsThisMachine()
    {
        const DiskReading root = readDisk(QStringLiteral("/"));
        QVERIFY2(root.error.isEmpty(), qPrintable(root.error));
        QVERIFY(root.usedBytes + root.availableBytes > 0);
        const DiskReading missing = readDisk(QStringLiteral("/no/such/mount/point"));
        QCOMPARE(missing.error, QStringLiteral("No such file or directory"));
        // A folder on the root file system, as an unmounted backup disk's mount point is.
        QTemporaryDir notMounted(QStringLiteral("/var/tmp/pellix-XXXXXX"));
        QVERIFY(notMounted.isValid());
        const DiskReading folder = readDisk(notMounted.path());
        QVERIFY(!folder.mounted);
        QCOMPARE(evaluate(AgentConfig {}, Readings {{}, {folder}, {}, {}}).checks.at(0).text,
            QStringLiteral("Disk %1: not a mount point").arg(notMounted.path()));
        QVERIFY(root.mounted && readDisk(QStringLiteral("/proc")).mounted);
        const MemoryReading memory = readMemory();
        QVERIFY2(memory.error.isEmpty(), qPrintable(memory.error));
        QVERIFY(memory.availableKiB <= memory.totalKiB);
        const LoadReading load = readLoad();
        QVERIFY(load.error.isEmpty());
        QVERIFY(load.cpus >= 1);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstAgentReport)
#include "tst_agentreport.moc"
