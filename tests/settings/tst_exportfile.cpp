#include "CycleRig.h"
#include "ScriptedPrompts.h"
#include "TestFiles.h"
#include "settings/ExportFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <sys/stat.h>

using namespace sentrel;
using namespace sentrel::test;

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

// The example Target under another host name, which is also its description.
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

// A table whose slots carry non-exported fields, so a replaced table is easy to tell.
TargetTable oldTable()
{
    Target t = named(QStringLiteral("old.example"));
    t.Slots = true;
    t.MinSlots = 7;
    t.RTT = 300;
    t.Info = QStringLiteral("old info");
    return tableOf({t, named(QStringLiteral("old2.example"))});
}

// Every field of a Target that an import sets.
QVariantList fieldsOf(const Target &t)
{
    return {t.Hostname, t.Port, t.PXPort, t.UsePX, t.UseM, t.UseP, t.Desc, t.User, t.Timeout, t.TimeOK,
        t.UseIPX, t.Load, t.LoadLevel, t.Slots, t.MinSlots, t.RTT, t.Status, t.SmoothedRtt, t.Info,
        t.Alerted};
}

// t as an import gives it back: no result yet, no measurement yet.
Target imported(Target t)
{
    t.Status = TargetStatus::Unknown;
    t.SmoothedRtt = -1.0;
    return t;
}

} // namespace

class TstExportFile : public QObject
{
    Q_OBJECT
private:
    std::optional<QTemporaryDir> m_dir;

    QString path(const char *name) const { return m_dir->filePath(QString::fromLatin1(name)); }

    // Runs the export command, choosing file in its dialog.
    bool exportTo(const TargetTable &table, const QString &file, ScriptedPrompts &prompts)
    {
        prompts.queueFile(file);
        return exportSettings(table, prompts, m_dir->path());
    }

    bool importFrom(TargetTable &table, const QString &file, ScriptedPrompts &prompts)
    {
        prompts.queueFile(file);
        return importSettings(table, prompts, m_dir->path());
    }

private Q_SLOTS:
    void init()
    {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
    }

    void writesCountAndUsedSlots()
    {
        QCOMPARE(writeExport(tableOf({exampleTarget()})), "0\r\n" + exampleLine + "\r\n");
        Target free;
        free.Status = TargetStatus::Free;
        QCOMPARE(writeExport(tableOf({named(QStringLiteral("a")), free, named(QStringLiteral("c"))})),
            "1\r\n\"a\",25,3000,#FALSE#,#TRUE#,#TRUE#,\"a\",\"Mail is down\",60,#FALSE#\r\n"
            "\"c\",25,3000,#FALSE#,#TRUE#,#TRUE#,\"c\",\"Mail is down\",60,#FALSE#\r\n");
        // Quotes doubled; a port above 32767 as the signed 16-bit number other readers expect.
        Target quoted = exampleTarget();
        quoted.Desc = QStringLiteral("a\"b");
        quoted.Port = int16_t(45678);
        QCOMPARE(writeExport(tableOf({quoted})),
            "0\r\n" + QByteArray(exampleLine).replace("Mail server", "a\"\"b").replace(",25,", ",-19858,")
                + "\r\n");
        const QByteArray largest =
            writeExport(tableOf(std::vector<Target>(TargetTable::MaxSlots, named(QStringLiteral("h")))));
        QVERIFY(largest.startsWith("32766\r\n"));
        const ExportParseResult r = parseExport(largest);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.targets.size(), size_t(TargetTable::MaxSlots));
    }

    // Fields are read one after another, whatever the line structure; texts as UTF-8 or else Windows-1252.
    void reads_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("fields"); // each Target's ten fields, Booleans as 1 or 0
        const QByteArray a = "\"a\",1,2,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",3,#TRUE#";
        const QByteArray b = "\"b\",4,5,#FALSE#,#TRUE#,#FALSE#,\"e\",\"v\",6,#FALSE#";
        const QString ab = QStringLiteral("a,1,2,1,0,1,d,u,3,1 | b,4,5,0,1,0,e,v,6,0");
        auto withDesc = [](const QByteArray &desc) {
            return "0\r\n\"h\",1,2,#TRUE#,#TRUE#,#TRUE#,\"" + desc + "\",\"u\",3,#TRUE#\r\n";
        };
        QTest::newRow("one field a line") << "1\r\n" + QByteArray(a).replace(',', "\r\n") + "\r\n" + b << ab;
        QTest::newRow("unquoted texts and blanks")
            << QByteArray(" 1 \r\n a , 1 ,2,#TRUE#,#FALSE#,#TRUE#,d,u,3,#TRUE#\r\n\r\n"
                          "b,4,5,#FALSE#,#TRUE#,#FALSE#,e,v,6,#FALSE#\r\n")
            << ab;
        QTest::newRow("lines after the last record")
            << "0\r\n" + a + "\r\ngarbage,,,\"unterminated\r\nmore" << QStringLiteral("a,1,2,1,0,1,d,u,3,1");
        QTest::newRow("utf-8") << withDesc("Caf\xc3\xa9") << QStringLiteral("h,1,2,1,1,1,Caf\u00e9,u,3,1");
        // 0x81 is one of the five bytes Windows-1252 leaves unassigned.
        QTest::newRow("windows-1252")
            << withDesc("Caf\xe9 \x80 \x93q\x94 \x96 \x85 \x81 \xc3\x28")
            << QStringLiteral(
                   "h,1,2,1,1,1,Caf\u00e9 \u20ac \u201cq\u201d \u2013 \u2026 \u0081 \u00c3(,u,3,1");
        QTest::newRow("ports as the user sees them or signed")
            << QByteArray("0,\"h\",45678,-2,#TRUE#,#TRUE#,#TRUE#,\"d\",\"u\",3,#TRUE#")
            << QStringLiteral("h,-19858,-2,1,1,1,d,u,3,1");
        // Written by a program that did not double quotes: the text ends at the second quote and the rest
        // of the field is dropped.
        QTest::newRow("undoubled quote")
            << withDesc("say \"hi\"") << QStringLiteral("h,1,2,1,1,1,say ,u,3,1");
    }
    void reads()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, fields);
        const ExportParseResult r = parseExport(bytes);
        QVERIFY2(r.ok, qPrintable(r.error));
        QStringList got;
        for (const Target &t : r.targets)
            got << QStringList {t.Hostname, QString::number(t.Port), QString::number(t.PXPort),
                QString::number(t.UsePX), QString::number(t.UseM), QString::number(t.UseP), t.Desc, t.User,
                QString::number(t.Timeout), QString::number(t.TimeOK)}
                       .join(u',');
        QCOMPARE(got.join(QLatin1String(" | ")), fields);
    }

    void exportAsksAndReports()
    {
        ScriptedPrompts prompts;
        QVERIFY(exportTo(tableOf({exampleTarget()}), path("settings.exp"), prompts));
        QCOMPARE(readAll(path("settings.exp")), "0\r\n" + exampleLine + "\r\n");

        // An existing file loses its whole content.
        QVERIFY(writeBytes(path("old.exp"), QByteArray(10000, 'z')));
        QVERIFY(exportTo(TargetTable(), path("old.exp"), prompts));
        QCOMPARE(readAll(path("old.exp")), QByteArray("-1\r\n"));

        // A new bare name gets the default extension.
        QVERIFY(exportTo(TargetTable(), path("backup"), prompts));
        QCOMPARE(readAll(path("backup.exp")), QByteArray("-1\r\n"));
        QCOMPARE(prompts.messages.last().text, QStringLiteral("Data exported to file ") + path("backup.exp"));

        QVERIFY(!exportTo(oldTable(), path("gone/settings.exp"), prompts));
        QCOMPARE(prompts.messages.last().text, QStringLiteral("Unable to create export file."));
        QCOMPARE(prompts.messages.size(), 4);
    }

    void cancelledDialogsEndSilently()
    {
        ScriptedPrompts prompts;
        TargetTable table = oldTable();
        QVERIFY(!exportSettings(table, prompts, m_dir->path()));
        QVERIFY(!importSettings(table, prompts, m_dir->path()));
        QCOMPARE(prompts.fileRequests.size(), 2);
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(hostsOf(table), hostsOf(oldTable()));
        QVERIFY(QDir(m_dir->path()).isEmpty());
    }

    // A full disk, simulated by a file size limit: the old export stays intact.
    void exportWriteFailureKeepsOldFile()
    {
        const QByteArray old = writeExport(oldTable());
        QVERIFY(writeBytes(path("settings.exp"), old));
        const TargetTable table =
            tableOf(std::vector<Target>(400, named(QStringLiteral("a-rather-long-host-name.example"))));
        QVERIFY(writeExport(table).size() > 16 * 1024);
        ScriptedPrompts prompts;
        QVERIFY(!withFileSizeLimit(4096, [&] { return exportTo(table, path("settings.exp"), prompts); }));
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text, QStringLiteral("Unable to write export file."));
        QCOMPARE(readAll(path("settings.exp")), old);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
            QStringList {QStringLiteral("settings.exp")});
    }

    void importReplacesTable()
    {
        QVERIFY(writeBytes(path("settings.exp"), "0\r\n" + exampleLine + "\r\n"));
        TargetTable table = oldTable();
        const quint64 generation = table.generation();
        ScriptedPrompts prompts;
        QVERIFY(importFrom(table, path("settings.exp"), prompts));
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(prompts.fileRequests.value(0).fileName, QStringLiteral("settings.exp"));
        QVERIFY(table.generation() != generation);
        // Nothing of the old slots survives, not even the fields the file does not hold.
        QCOMPARE(table.size(), int16_t(1));
        QCOMPARE(fieldsOf(table[0]), fieldsOf(imported(exampleTarget())));

        QVERIFY(writeBytes(path("empty.exp"), "-1\r\n"));
        QVERIFY(importFrom(table, path("empty.exp"), prompts));
        QCOMPARE(hostsOf(table), QStringLiteral("<free>"));

        QVERIFY(writeBytes(path("backup.exp"), "0\r\n" + exampleLine + "\r\n"));
        QVERIFY(importFrom(table, path("backup"), prompts));
        QCOMPARE(hostsOf(table), QStringLiteral("192.0.2.10"));
    }

    void importFailuresKeepOldTable_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file at all
        QTest::addColumn<QString>("message");
        const QString invalid = QStringLiteral("Invalid export file.");
        const QByteArray rec = "\"a\",1,2,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",3,#TRUE#\r\n";
        auto broken = [&](const char *tag, const QByteArray &bytes) {
            QTest::newRow(tag) << bytes << invalid;
        };
        QTest::newRow("missing file") << QByteArray() << QStringLiteral("Unable to open file.");
        broken("empty file", QByteArray(""));
        broken("more than 32767 announced", "32767\r\n" + rec);
        broken("ends before a record", "1\r\n" + rec);
        broken("ends inside a record", "0\r\n\"a\",1,2,#TRUE#\r\n");
        broken("unterminated text", "0\r\n\"a,1,2,#TRUE#,#FALSE#,#TRUE#,d,u,3,#TRUE#\r\n");
        broken("empty timeout", "0\r\n\"a\",1,2,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",,#TRUE#\r\n");
        broken("port beyond 16 bits", "0\r\n\"a\",65536,2,#TRUE#,#FALSE#,#TRUE#,\"d\",\"u\",3,#TRUE#\r\n");
        broken("boolean word", "0\r\n\"a\",1,2,True,#FALSE#,#TRUE#,\"d\",\"u\",3,#TRUE#\r\n");
    }
    void importFailuresKeepOldTable()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        if (!bytes.isNull())
            QVERIFY(writeBytes(path("bad.exp"), bytes));
        TargetTable table = oldTable();
        const quint64 generation = table.generation();
        ScriptedPrompts prompts;
        QVERIFY(!importFrom(table, path("bad.exp"), prompts));
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text, message);
        QCOMPARE(table.generation(), generation);
        QCOMPARE(fieldsOf(table[0]), fieldsOf(oldTable()[0]));
    }

    // A FIFO would hang the window in open(), a device would be read until memory runs out;
    // a device is written in place: the node itself is never replaced.
    void specialFilesNeitherHangNorExhaustMemory()
    {
        QVERIFY(::mkfifo(QFile::encodeName(path("fifo.exp")).constData(), 0600) == 0);
        for (const QString &file : {path("fifo.exp"), QStringLiteral("/dev/zero")}) {
            TargetTable table = oldTable();
            ScriptedPrompts prompts;
            QVERIFY(!importFrom(table, file, prompts));
            QCOMPARE(prompts.messages.size(), 1);
            QCOMPARE(prompts.messages[0].text,
                QStringLiteral("Unable to open file.\r") + file + QStringLiteral(": not a regular file"));
            QCOMPARE(fieldsOf(table[0]), fieldsOf(oldTable()[0]));
        }
        // Nobody reads the FIFO: the export says so instead of waiting for a reader for ever.
        ScriptedPrompts prompts;
        QVERIFY(!exportTo(oldTable(), path("fifo.exp"), prompts));
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text, QStringLiteral("Unable to create export file."));

        struct stat st = {};
        if (::stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode)
            || !QFileInfo(QStringLiteral("/dev/full")).isWritable())
            QSKIP("/dev/full is not a writable character device on this machine");
        QVERIFY(!exportTo(oldTable(), QStringLiteral("/dev/full"), prompts));
        QVERIFY2(::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode), "the device node was replaced");
        QCOMPARE(prompts.messages.size(), 2);
        QCOMPARE(prompts.messages[1].text, QStringLiteral("Unable to write export file."));
    }
};

SENTREL_TEST_GUILESS_MAIN(TstExportFile)
#include "tst_exportfile.moc"
