#include "logging/LogFiles.h"

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace sentrel;
using namespace sentrel::test;

class TstLogFiles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void directoryAndFileName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("fileName");
        const char *const cases[][3] = {{"/var/log/a.log", "/var/log", "a.log"}, {"/a.log", "/", "a.log"},
            {"a.log", "", "a.log"}, {"logs/a.log", "logs", "a.log"}, {"/var/log/", "/var/log", ""},
            {"", "", ""}, {"C:\\logs\\a.log", "", "C:\\logs\\a.log"}};
        for (const auto &c : cases)
            QTest::addRow("\"%s\"", c[0])
                << QString::fromLatin1(c[0]) << QString::fromLatin1(c[1]) << QString::fromLatin1(c[2]);
    }
    void directoryAndFileName()
    {
        QFETCH(QString, path);
        QFETCH(QString, directory);
        QFETCH(QString, fileName);
        QCOMPARE(DirectoryOf(path), directory);
        QCOMPARE(FileNameOf(path), fileName);
    }

    void removeFileDeletesAndReportsSystemError()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.log"));
        QVERIFY(writeBytes(path, "x"));
        QVERIFY(removeFile(path).ok);
        QVERIFY(!QFile::exists(path));

        const FileOpResult missing = removeFile(path);
        QVERIFY(!missing.ok);
        QCOMPARE(missing.error, ENOENT);
        QCOMPARE(missing.errorText, QString::fromLocal8Bit(std::strerror(ENOENT)));

        // A folder is never deleted as if it were the log file.
        const FileOpResult folder = removeFile(dir.path());
        QVERIFY(!folder.ok);
        QVERIFY(QFileInfo(dir.path()).isDir());
    }

    void switchKeepsOnlyTheLatestBackup()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("sentrel.log"));
        const QString backup = log + QStringLiteral(".old");
        const FileOpResult none = switchLogFile(log);
        QVERIFY(!none.ok);
        QCOMPARE(none.errorText, QString::fromLocal8Bit(std::strerror(ENOENT)));

        for (const char *content : {"first", "second"}) {
            QVERIFY(writeBytes(log, content));
            QVERIFY(switchLogFile(log).ok);
            QVERIFY(!QFile::exists(log));
            QCOMPARE(readAll(backup), QByteArray(content));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList {QStringLiteral("sentrel.log.old")});

        // A failed switch must not cost the user the backup kept by an earlier one.
        QVERIFY(!switchLogFile(log).ok);
        QCOMPARE(readAll(backup), QByteArray("second"));
    }
};

SENTREL_TEST_GUILESS_MAIN(TstLogFiles)
#include "tst_logfiles.moc"
