#include "ScriptedPrompts.h"
#include "settings/ExportFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace sentrel;
using sentrel::test::ScriptedPrompts;

namespace {

const QByteArray exampleLine =
    "\"192.0.2.10\",25,3000,#FALSE#,#TRUE#,#TRUE#,\"Mail server\",\"Mail is down\",60,#FALSE#";

Target exampleTarget()
{
    Target t;
    t.Hostname = QStringLiteral("192.0.2.10");
    t.Port = 25;
    t.PXPort = 3000;
    t.UseM = true;
    t.UseP = true;
    t.Desc = QStringLiteral("Mail server");
    t.User = QStringLiteral("Mail is down");
    t.Timeout = 60;
    t.Status = TargetStatus::Ok;
    return t;
}

Target named(const QString &host)
{
    Target t = exampleTarget();
    t.Hostname = host;
    t.Desc = host;
    return t;
}

TargetTable tableOf(std::vector<Target> slots)
{
    TargetTable table;
    table.assign(std::move(slots));
    return table;
}

Target freeSlot()
{
    Target t;
    t.Status = TargetStatus::Free;
    return t;
}

// A table whose slots carry every non-exported field, so a replaced table is easy to tell.
TargetTable oldTable()
{
    Target t = named(QStringLiteral("old.example"));
    t.UseIPX = true;
    t.Load = true;
    t.LoadLevel = 90;
    t.Slots = true;
    t.MinSlots = 7;
    t.RTT = 300;
    t.Info = QStringLiteral("old info");
    return tableOf({t, named(QStringLiteral("old2.example"))});
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return f.readAll();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QStringList hostsOf(const TargetTable &table)
{
    QStringList hosts;
    for (const Target &t : table)
        hosts << (t.isFree() ? QStringLiteral("<free>") : t.Hostname);
    return hosts;
}

} // namespace

class TstExportFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void writesExampleLineExactly()
    {
        QCOMPARE(writeExport(tableOf({exampleTarget()})), "0\r\n" + exampleLine + "\r\n");
    }

    void writesUsedSlotsOnly()
    {
        const QByteArray bytes =
            writeExport(tableOf({named(QStringLiteral("a")), freeSlot(), named(QStringLiteral("c"))}));
        const QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.size(), 4); // three lines and the empty rest after the last LF
        QCOMPARE(lines[0], QByteArray("1\r"));
        QVERIFY(lines[1].startsWith("\"a\","));
        QVERIFY(lines[2].startsWith("\"c\","));
        QCOMPARE(lines[3], QByteArray());
    }

    void emptyTableWritesMinusOne()
    {
        QCOMPARE(writeExport(TargetTable()), QByteArray("-1\r\n"));
        const ExportParseResult r = parseExport("-1\r\n");
        QVERIFY(r.ok);
        QVERIFY(r.targets.empty());
    }

    void readsExampleIntoFreshRecord()
    {
        const ExportParseResult r = parseExport("0\r\n" + exampleLine + "\r\n");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.targets.size(), size_t(1));
        const Target &t = r.targets[0];
        QCOMPARE(t.Hostname, QStringLiteral("192.0.2.10"));
        QCOMPARE(t.Port, int16_t(25));
        QCOMPARE(t.PXPort, int16_t(3000));
        QVERIFY(!t.UsePX && t.UseM && t.UseP && !t.TimeOK);
        QCOMPARE(t.Desc, QStringLiteral("Mail server"));
        QCOMPARE(t.User, QStringLiteral("Mail is down"));
        QCOMPARE(t.Timeout, int16_t(60));
        QVERIFY(!t.UseIPX && !t.Load && !t.Slots && !t.Alerted);
        QCOMPARE(t.LoadLevel, 0);
        QCOMPARE(t.MinSlots, int16_t(0));
        QCOMPARE(t.RTT, int16_t(0));
        QCOMPARE(t.Status, TargetStatus::Unknown);
        QCOMPARE(t.SmoothedRtt, -1.0);
    }

    void textsRoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("comma") << QStringLiteral("Mail, main building");
        QTest::newRow("double quotes") << QStringLiteral("the \"big\" one \"");
        QTest::newRow("only a quote") << QStringLiteral("\"");
        QTest::newRow("empty") << QString();
        QTest::newRow("line break") << QStringLiteral("first\r\nsecond");
        QTest::newRow("hash words") << QStringLiteral("#TRUE#");
        QTest::newRow("non-latin") << QStringLiteral("Caf\u00e9 \u4e2d\u6587");
        QTest::newRow("blanks") << QStringLiteral("  padded  ");
    }
    void textsRoundTrip()
    {
        QFETCH(QString, text);
        Target t = exampleTarget();
        t.Desc = text;
        t.User = text;
        const ExportParseResult r = parseExport(writeExport(tableOf({t, named(QStringLiteral("next"))})));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.targets.size(), size_t(2));
        QCOMPARE(r.targets[0].Desc, text);
        QCOMPARE(r.targets[0].User, text);
        QCOMPARE(r.targets[0].Timeout, int16_t(60));
        QCOMPARE(r.targets[1].Hostname, QStringLiteral("next"));
    }

    void doubledQuotesAreWritten()
    {
        Target t = exampleTarget();
        t.Desc = QStringLiteral("a\"b");
        QVERIFY(writeExport(tableOf({t})).contains(",\"a\"\"b\","));
    }

    void readingIsLineIndependent_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("hosts");
        const QStringList ab = {QStringLiteral("a"), QStringLiteral("b")};
        QTest::newRow("one field a line") << QByteArray(
            "1\r\n\"a\"\r\n1\r\n2\r\n#TRUE#\r\n#FALSE#\r\n#TRUE#\r\n\"d\"\r\n\"u\"\r\n3\r\n#TRUE#\r\n"
            "\"b\",4,5,#FALSE#,#TRUE#,#FALSE#,\"e\",\"v\",6,#FALSE#\r\n")
                                          << ab;
        QTest::newRow("all on one line")
            << QByteArray("1,\"a\",1,2,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",3,#TRUE#,"
                          "\"b\",4,5,#FALSE#,#TRUE#,#FALSE#,\"e\",\"v\",6,#FALSE#")
            << ab;
        QTest::newRow("bare line feeds and no final break")
            << QByteArray("1\n\"a\",1,2,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",3,#TRUE#\n"
                          "\"b\",4,5,#FALSE#,#TRUE#,#FALSE#,\"e\",\"v\",6,#FALSE#")
            << ab;
        QTest::newRow("unquoted texts and blanks")
            << QByteArray(" 1 \r\n a , 1 ,2,#TRUE#,#FALSE#,#TRUE#,d,u,3,#TRUE#\r\n\r\n"
                          "b,4,5,#FALSE#,#TRUE#,#FALSE#,e,v,6,#FALSE#\r\n")
            << ab;
        QTest::newRow("lines after the last record") << QByteArray(
            "0\r\n\"a\",1,2,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",3,#TRUE#\r\n"
            "garbage,,,\"unterminated\r\nmore") << QStringList {QStringLiteral("a")};
    }
    void readingIsLineIndependent()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, hosts);
        const ExportParseResult r = parseExport(bytes);
        QVERIFY2(r.ok, qPrintable(r.error));
        QStringList got;
        for (const Target &t : r.targets)
            got << t.Hostname;
        QCOMPARE(got, hosts);
        QCOMPARE(r.targets[0].Port, int16_t(1));
        QCOMPARE(r.targets[0].Desc, QStringLiteral("d"));
        QVERIFY(r.targets[0].TimeOK);
        if (r.targets.size() > 1)
            QCOMPARE(r.targets[1].Timeout, int16_t(6));
    }

    void undoubledQuoteReadsAsBefore()
    {
        // Written by a program that did not double quotes: the text ends at the
        // second quote and the rest of the field is dropped.
        const ExportParseResult r =
            parseExport("0\r\n\"h\",1,2,#TRUE#,#TRUE#,#TRUE#,\"say \"hi\"\",\"u\",3,#TRUE#\r\n");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.targets[0].Desc, QStringLiteral("say "));
        QCOMPARE(r.targets[0].User, QStringLiteral("u"));
    }

    void refusesBrokenFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray rec = "\"a\",1,2,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",3,#TRUE#\r\n";
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("blank file") << QByteArray("\r\n  \r\n");
        QTest::newRow("count not a number") << QByteArray("x\r\n") + rec;
        QTest::newRow("count beyond 16 bits") << QByteArray("40000\r\n") + rec;
        QTest::newRow("more than 32767 announced") << QByteArray("32767\r\n") + rec;
        QTest::newRow("ends before a record") << QByteArray("1\r\n") + rec;
        QTest::newRow("ends inside a record") << QByteArray("0\r\n\"a\",1,2,#TRUE#\r\n");
        QTest::newRow("unterminated text")
            << QByteArray("0\r\n\"a,1,2,#TRUE#,#FALSE#,#TRUE#,d,u,3,#TRUE#\r\n");
        QTest::newRow("letters in port")
            << QByteArray("0\r\n\"a\",x1,2,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",3,#TRUE#\r\n");
        QTest::newRow("empty timeout")
            << QByteArray("0\r\n\"a\",1,2,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",,#TRUE#\r\n");
        QTest::newRow("port beyond 16 bits")
            << QByteArray("0\r\n\"a\",65536,2,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",3,#TRUE#\r\n");
        QTest::newRow("boolean word")
            << QByteArray("0\r\n\"a\",1,2,True,#FALSE#,#TRUE#,\"d\",\"u\",3,#TRUE#\r\n");
        QTest::newRow("boolean number")
            << QByteArray("0\r\n\"a\",1,2,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",3,-1\r\n");
        QTest::newRow("fields shifted")
            << QByteArray("0\r\n\"a\",1,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",3,#TRUE#,\"x\"\r\n");
    }
    void refusesBrokenFiles()
    {
        QFETCH(QByteArray, bytes);
        const ExportParseResult r = parseExport(bytes);
        QVERIFY(!r.ok);
        QVERIFY(!r.error.isEmpty());
        QVERIFY(r.targets.empty());
    }

    void largestTableIsAccepted()
    {
        std::vector<Target> slots(TargetTable::MaxSlots, named(QStringLiteral("h")));
        const QByteArray bytes = writeExport(tableOf(std::move(slots)));
        QVERIFY(bytes.startsWith("32766\r\n"));
        const ExportParseResult r = parseExport(bytes);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.targets.size(), size_t(TargetTable::MaxSlots));
    }

    void decodesUtf8OrLatin1_data()
    {
        QTest::addColumn<QByteArray>("desc");
        QTest::addColumn<QString>("expected");
        QTest::newRow("utf-8") << QByteArray("Caf\xc3\xa9") << QStringLiteral("Caf\u00e9");
        QTest::newRow("latin-1") << QByteArray("Caf\xe9") << QStringLiteral("Caf\u00e9");
        QTest::newRow("latin-1 pair that is no utf-8") << QByteArray("\xc3\x28") << QStringLiteral("\u00c3(");
        QTest::newRow("ascii") << QByteArray("Cafe") << QStringLiteral("Cafe");
    }
    void decodesUtf8OrLatin1()
    {
        QFETCH(QByteArray, desc);
        QFETCH(QString, expected);
        const ExportParseResult r =
            parseExport("0\r\n\"h\",1,2,#TRUE#,#TRUE#,#TRUE#,\"" + desc + "\",\"\",3,#TRUE#\r\n");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.targets[0].Desc, expected);
    }

    void exportAsksAndReports()
    {
        QTemporaryDir dir;
        ScriptedPrompts prompts;
        const QString path = dir.filePath(QStringLiteral("settings.exp"));
        prompts.queueFile(path);
        QVERIFY(exportSettings(tableOf({exampleTarget()}), prompts, dir.path()));
        QCOMPARE(prompts.fileRequests.size(), 1);
        const auto &request = prompts.fileRequests[0];
        QVERIFY(request.save);
        QCOMPARE(request.title, QStringLiteral("Sentrel"));
        QCOMPARE(request.directory, dir.path());
        QCOMPARE(request.fileName, QStringLiteral("settings.exp"));
        QCOMPARE(request.filter, QStringLiteral("Export files (*.exp)|*.exp"));
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text, QStringLiteral("Data exported to file ") + path);
        QCOMPARE(prompts.messages[0].title, QStringLiteral("Sentrel"));
        QCOMPARE(prompts.messages[0].buttons, UserPrompts::Buttons::Ok);
        QCOMPARE(prompts.messages[0].icon, UserPrompts::Icon::None);
        QCOMPARE(readAll(path), "0\r\n" + exampleLine + "\r\n");
    }

    void exportAddsDefaultExtensionToNewBareName()
    {
        QTemporaryDir dir;
        ScriptedPrompts prompts;
        prompts.queueFile(dir.filePath(QStringLiteral("backup")));
        QVERIFY(exportSettings(TargetTable(), prompts, dir.path()));
        QCOMPARE(readAll(dir.filePath(QStringLiteral("backup.exp"))), QByteArray("-1\r\n"));
        QCOMPARE(prompts.messages.value(0).text,
            QStringLiteral("Data exported to file ") + dir.filePath(QStringLiteral("backup.exp")));
    }

    void exportReplacesWholeContent()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("old.exp"));
        QVERIFY(writeBytes(path, QByteArray(10000, 'z')));
        ScriptedPrompts prompts;
        prompts.queueFile(path);
        QVERIFY(exportSettings(TargetTable(), prompts, dir.path()));
        QCOMPARE(readAll(path), QByteArray("-1\r\n"));
    }

    void cancelledDialogsEndSilently()
    {
        QTemporaryDir dir;
        ScriptedPrompts prompts;
        TargetTable table = oldTable();
        QVERIFY(!exportSettings(table, prompts, dir.path()));
        QVERIFY(!importSettings(table, prompts, dir.path()));
        QCOMPARE(prompts.fileRequests.size(), 2);
        QVERIFY(!prompts.fileRequests[1].save);
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(hostsOf(table), hostsOf(oldTable()));
        QVERIFY(QDir(dir.path()).isEmpty());
    }

    void exportToVanishedFolderCannotCreate()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("gone"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QDir(folder).removeRecursively());
        ScriptedPrompts prompts;
        prompts.queueFile(folder + QStringLiteral("/settings.exp"));
        QVERIFY(!exportSettings(oldTable(), prompts, dir.path()));
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text, QStringLiteral("Unable to create export file."));
    }

    void exportWriteFailureOnDeviceIsReported()
    {
        struct stat before = {};
        if (::stat("/dev/full", &before) != 0 || !S_ISCHR(before.st_mode)
            || !QFileInfo(QStringLiteral("/dev/full")).isWritable())
            QSKIP("/dev/full is not a writable character device on this machine");
        ScriptedPrompts prompts;
        prompts.queueFile(QStringLiteral("/dev/full"));
        QVERIFY(!exportSettings(oldTable(), prompts, QDir::tempPath()));
        struct stat after = {};
        QVERIFY2(::stat("/dev/full", &after) == 0 && S_ISCHR(after.st_mode), "the device node was replaced");
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text, QStringLiteral("Unable to write export file."));
        QCOMPARE(prompts.messages[0].title, QStringLiteral("Sentrel"));
    }

    // A full disk, simulated by a file size limit: the old export stays intact.
    void exportWriteFailureKeepsOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.exp"));
        const QByteArray old = writeExport(oldTable());
        QVERIFY(writeBytes(path, old));
        std::vector<Target> many(400, named(QStringLiteral("a-rather-long-host-name.example")));
        const TargetTable table = tableOf(std::move(many));
        QVERIFY(writeExport(table).size() > 16 * 1024);

        ScriptedPrompts prompts;
        prompts.queueFile(path);
        rlimit saved = {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small = saved;
        small.rlim_cur = 4096;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        const bool written = exportSettings(table, prompts, dir.path());
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(!written);
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text, QStringLiteral("Unable to write export file."));
        QCOMPARE(readAll(path), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList {QStringLiteral("settings.exp")});
    }

    void importReplacesTable()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.exp"));
        QVERIFY(writeBytes(path, "0\r\n" + exampleLine + "\r\n"));
        TargetTable table = oldTable();
        const quint64 generation = table.generation();
        ScriptedPrompts prompts;
        prompts.queueFile(path);
        QVERIFY(importSettings(table, prompts, dir.path()));
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(prompts.fileRequests.value(0).save, false);
        QCOMPARE(prompts.fileRequests.value(0).fileName, QStringLiteral("settings.exp"));
        QVERIFY(table.generation() != generation);
        QCOMPARE(table.size(), int16_t(1));
        const Target &t = table[0];
        QCOMPARE(t.Hostname, QStringLiteral("192.0.2.10"));
        QVERIFY(!t.UseIPX && !t.Load && !t.Slots);
        QCOMPARE(t.LoadLevel, 0);
        QCOMPARE(t.MinSlots, int16_t(0));
        QCOMPARE(t.RTT, int16_t(0));
        QVERIFY(t.Info.isEmpty());
        QCOMPARE(t.Status, TargetStatus::Unknown);
    }

    void importOfEmptyFileGivesEmptyTable()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("empty.exp"));
        QVERIFY(writeBytes(path, "-1\r\n"));
        TargetTable table = oldTable();
        ScriptedPrompts prompts;
        prompts.queueFile(path);
        QVERIFY(importSettings(table, prompts, dir.path()));
        QCOMPARE(hostsOf(table), QStringList {QStringLiteral("<free>")});
    }

    void importFindsBareNameWithExtension()
    {
        QTemporaryDir dir;
        QVERIFY(writeBytes(dir.filePath(QStringLiteral("backup.exp")), "0\r\n" + exampleLine + "\r\n"));
        TargetTable table = oldTable();
        ScriptedPrompts prompts;
        prompts.queueFile(dir.filePath(QStringLiteral("backup")));
        QVERIFY(importSettings(table, prompts, dir.path()));
        QCOMPARE(hostsOf(table), QStringList {QStringLiteral("192.0.2.10")});
    }

    void importFailuresKeepOldTable_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file at all
        QTest::addColumn<QString>("message");
        const QString invalid = QStringLiteral("Invalid export file.");
        QTest::newRow("missing file") << QByteArray() << QStringLiteral("Unable to open file.");
        QTest::newRow("ends early") << QByteArray("2\r\n" + exampleLine + "\r\n") << invalid;
        QTest::newRow("letters in integer")
            << QByteArray("0\r\n\"h\",port,2,#TRUE#,#TRUE#,#TRUE#,\"d\",\"u\",3,#TRUE#\r\n") << invalid;
        QTest::newRow("bad boolean") << QByteArray(
            "0\r\n\"h\",1,2,#YES#,#TRUE#,#TRUE#,\"d\",\"u\",3,#TRUE#\r\n")
                                     << invalid;
        QTest::newRow("integer beyond 16 bits")
            << QByteArray("0\r\n\"h\",1,2,#TRUE#,#TRUE#,#TRUE#,\"d\",\"u\",99999,#TRUE#\r\n") << invalid;
        QTest::newRow("too many announced") << QByteArray("99999\r\n" + exampleLine + "\r\n") << invalid;
        QTest::newRow("empty") << QByteArray("") << invalid;
    }
    void importFailuresKeepOldTable()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bad.exp"));
        if (!bytes.isNull())
            QVERIFY(writeBytes(path, bytes));
        TargetTable table = oldTable();
        const quint64 generation = table.generation();
        ScriptedPrompts prompts;
        prompts.queueFile(path);
        QVERIFY(!importSettings(table, prompts, dir.path()));
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text, message);
        QCOMPARE(prompts.messages[0].title, QStringLiteral("Sentrel"));
        QCOMPARE(prompts.messages[0].icon, UserPrompts::Icon::None);
        QCOMPARE(table.generation(), generation);
        QCOMPARE(hostsOf(table), hostsOf(oldTable()));
        QCOMPARE(table[0].MinSlots, int16_t(7));
        QCOMPARE(table[0].Info, QStringLiteral("old info"));
    }

    void exportThenImportKeepsExportedFields()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("round.exp"));
        Target t = exampleTarget();
        t.Desc = QStringLiteral("Mail, \"north\"");
        t.Port = -1;
        t.UsePX = true;
        t.TimeOK = true;
        ScriptedPrompts prompts;
        prompts.queueFile(path);
        prompts.queueFile(path);
        QVERIFY(exportSettings(tableOf({freeSlot(), t, named(QStringLiteral("b"))}), prompts, dir.path()));
        TargetTable table = oldTable();
        QVERIFY(importSettings(table, prompts, dir.path()));
        QCOMPARE(hostsOf(table), (QStringList {QStringLiteral("192.0.2.10"), QStringLiteral("b")}));
        QCOMPARE(table[0].Desc, t.Desc);
        QCOMPARE(table[0].Port, int16_t(-1));
        QVERIFY(table[0].UsePX && table[0].TimeOK);
    }
};

QTEST_GUILESS_MAIN(TstExportFile)
#include "tst_exportfile.moc"
