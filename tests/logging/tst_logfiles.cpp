#include "logging/LogFiles.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace sentrel;

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TstLogFiles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void directoryAndFileName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("nested") << "/var/log/a.log"
                                << "/var/log"
                                << "a.log";
        QTest::newRow("in root") << "/a.log"
                                 << "/"
                                 << "a.log";
        QTest::newRow("bare name") << "a.log"
                                   << ""
                                   << "a.log";
        QTest::newRow("relative") << "logs/a.log"
                                  << "logs"
                                  << "a.log";
        QTest::newRow("trailing slash") << "/var/log/"
                                        << "/var/log"
                                        << "";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
        QTest::newRow("backslash is a name character") << "C:\\logs\\a.log"
                                                       << ""
                                                       << "C:\\logs\\a.log";
    }
    void directoryAndFileName()
    {
        QFETCH(QString, path);
        QFETCH(QString, directory);
        QFETCH(QString, fileName);
        QCOMPARE(DirectoryOf(path), directory);
        QCOMPARE(FileNameOf(path), fileName);
    }

    void captionAndBackupName()
    {
        QCOMPARE(logFileCaption(QStringLiteral("/var/log/net.log")), QStringLiteral("File: net.log"));
        QCOMPARE(backupNameOf(QStringLiteral("/tmp/sentrel.log")), QStringLiteral("/tmp/sentrel.log.old"));
    }

    void defaultLogFileLivesInCreatedDataFolder()
    {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QDir(folder).removeRecursively();
        QCOMPARE(defaultLogFile(), folder + QStringLiteral("/sentrel.log"));
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(programDataFolder(), folder);
    }

    void removeFileDeletesAndReportsSystemError()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.log"));
        writeFile(path, "x");
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

    void switchTwiceKeepsOnlyTheLatestBackup()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("sentrel.log"));
        writeFile(log, "first");
        QVERIFY(switchLogFile(log).ok);
        QVERIFY(!QFile::exists(log));
        QCOMPARE(readFile(log + QStringLiteral(".old")), QByteArray("first"));

        writeFile(log, "second");
        QVERIFY(switchLogFile(log).ok);
        QCOMPARE(readFile(log + QStringLiteral(".old")), QByteArray("second"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList {QStringLiteral("sentrel.log.old")});
    }

    void switchWithoutLogFileFailsAndKeepsBackup()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("sentrel.log"));
        const FileOpResult result = switchLogFile(log);
        QVERIFY(!result.ok);
        QCOMPARE(result.errorText, QString::fromLocal8Bit(std::strerror(ENOENT)));

        // A failed switch must not cost the user the backup kept by an earlier one.
        writeFile(log + QStringLiteral(".old"), "old");
        QVERIFY(!switchLogFile(log).ok);
        QCOMPARE(readFile(log + QStringLiteral(".old")), QByteArray("old"));
    }
};

QTEST_GUILESS_MAIN(TstLogFiles)
#include "tst_logfiles.moc"
