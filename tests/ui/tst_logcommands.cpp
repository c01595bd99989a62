#include "ScriptedPrompts.h"
#include "logging/LogFiles.h"
#include "ui/LogCommands.h"
#include "ui/LogOptionsDialog.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace sentrel;
using sentrel::test::ScriptedPrompts;
using Answer = UserPrompts::Answer;

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QString notFound()
{
    return QString::fromLocal8Bit(std::strerror(ENOENT));
}

struct Options
{
    Options(GlobalSettings &settings)
        : dialog(settings, prompts)
    { }
    template<class W>
    W *get(const char *name)
    {
        return dialog.findChild<W *>(QString::fromLatin1(name));
    }
    void click(const char *name) { QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton); }

    ScriptedPrompts prompts;
    LogOptionsDialog dialog;
};

} // namespace

class TstLogCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void chooseLogFileAsksWhereTheLogIs_data()
    {
        QTest::addColumn<QString>("filename");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("offered");
        QTest::newRow("full path") << "/var/log/net.log"
                                   << "/var/log"
                                   << "/var/log/net.log";
        QTest::newRow("bare name") << "net.log" << programDataFolder() << "net.log";
        QTest::newRow("none") << "" << programDataFolder() << "sentrel.log";
    }
    void chooseLogFileAsksWhereTheLogIs()
    {
        QFETCH(QString, filename);
        QFETCH(QString, folder);
        QFETCH(QString, offered);
        GlobalSettings settings;
        settings.Filename = filename;
        ScriptedPrompts prompts;
        QVERIFY(!chooseLogFile(settings, prompts));
        QCOMPARE(settings.Filename, filename);
        QCOMPARE(prompts.fileRequests.size(), 1);
        const auto &request = prompts.fileRequests.constFirst();
        QVERIFY(request.save);
        // The main window's one file dialog, shared with export and import, is titled like the program.
        QCOMPARE(request.title, QStringLiteral("Sentrel"));
        QCOMPARE(request.directory, folder);
        QCOMPARE(request.fileName, offered);
        QCOMPARE(request.filter, QStringLiteral("Log files (*.log)|*.log|All files|*.*"));
        QVERIFY(prompts.messages.isEmpty());
    }

    void chosenLogFileIsTrimmed()
    {
        GlobalSettings settings;
        settings.Filename = QStringLiteral("/tmp/a.log");
        ScriptedPrompts prompts;
        prompts.queueFile(QStringLiteral("  /tmp/new log.log  "));
        QVERIFY(chooseLogFile(settings, prompts));
        QCOMPARE(settings.Filename, QStringLiteral("/tmp/new log.log"));
        QCOMPARE(logFileCaption(settings.Filename), QStringLiteral("File: new log.log"));
    }

    void clearLogDeletesAfterOk()
    {
        QTemporaryDir dir;
        GlobalSettings settings;
        settings.Filename = dir.filePath(QStringLiteral("sentrel.log"));
        writeFile(settings.Filename, "entry\r\n");
        ScriptedPrompts prompts;
        prompts.queueAnswer(Answer::Ok);
        clearLog(settings, prompts);
        QVERIFY(!QFile::exists(settings.Filename));
        QCOMPARE(prompts.messages.size(), 2);
        const auto &ask = prompts.messages[0];
        QCOMPARE(ask.text, QStringLiteral("Are you sure you want to clear the log file?"));
        QCOMPARE(ask.title, QStringLiteral("Erase log file"));
        QCOMPARE(ask.buttons, UserPrompts::Buttons::OkCancel);
        QCOMPARE(ask.icon, UserPrompts::Icon::Question);
        QCOMPARE(prompts.messages[1].text, QStringLiteral("Log file cleared."));
        QCOMPARE(prompts.messages[1].title, QStringLiteral("Sentrel"));
    }

    void clearLogCancelledKeepsTheFile()
    {
        QTemporaryDir dir;
        GlobalSettings settings;
        settings.Filename = dir.filePath(QStringLiteral("sentrel.log"));
        writeFile(settings.Filename, "entry\r\n");
        ScriptedPrompts prompts;
        prompts.queueAnswer(Answer::Cancel);
        clearLog(settings, prompts);
        QVERIFY(QFile::exists(settings.Filename));
        QCOMPARE(prompts.messages.size(), 1);
    }

    void clearingAMissingLogFails()
    {
        QTemporaryDir dir;
        GlobalSettings settings;
        settings.Filename = dir.filePath(QStringLiteral("missing.log"));
        ScriptedPrompts prompts;
        prompts.queueAnswer(Answer::Ok);
        clearLog(settings, prompts);
        QCOMPARE(prompts.messages.size(), 2);
        const auto &failed = prompts.messages[1];
        QCOMPARE(failed.text, QStringLiteral("Failed to delete file:\r") + notFound());
        QCOMPARE(failed.title, QStringLiteral("Error"));
        QCOMPARE(failed.icon, UserPrompts::Icon::Exclamation);
        QCOMPARE(failed.buttons, UserPrompts::Buttons::Ok);
    }

    void switchingTwiceReplacesTheBackup()
    {
        QTemporaryDir dir;
        GlobalSettings settings;
        settings.Filename = dir.filePath(QStringLiteral("sentrel.log"));
        const QString backup = settings.Filename + QStringLiteral(".old");
        ScriptedPrompts prompts;
        writeFile(settings.Filename, "one");
        switchLog(settings, prompts);
        writeFile(settings.Filename, "two");
        switchLog(settings, prompts);
        QVERIFY(!QFile::exists(settings.Filename));
        QFile file(backup);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("two"));
        QCOMPARE(prompts.messages.size(), 2);
        for (const auto &m : prompts.messages) {
            QCOMPARE(m.text, QStringLiteral("Logfile moved to ") + backup);
            QCOMPARE(m.title, QStringLiteral("Sentrel"));
        }
    }

    void switchingAMissingLogFails()
    {
        QTemporaryDir dir;
        GlobalSettings settings;
        settings.Filename = dir.filePath(QStringLiteral("sentrel.log"));
        ScriptedPrompts prompts;
        switchLog(settings, prompts);
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text, QStringLiteral("Failed to switch logfile:\r") + notFound());
        QCOMPARE(prompts.messages[0].title, QStringLiteral("Error"));
        QCOMPARE(prompts.messages[0].icon, UserPrompts::Icon::Exclamation);
    }

    void optionsLoadFromSettings_data()
    {
        QTest::addColumn<QString>("sep");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("sepButton");
        QTest::addColumn<QString>("modeButton");
        QTest::newRow("comma, multiline") << "," << 0 << "optcomma"
                                          << "optmultiline";
        QTest::newRow("tab, single") << "\t" << 1 << "opttab"
                                     << "optsingle";
        QTest::newRow("other keeps design") << ";" << 7 << "optcomma"
                                            << "optmultiline";
    }
    void optionsLoadFromSettings()
    {
        QFETCH(QString, sep);
        QFETCH(int, mode);
        QFETCH(QString, sepButton);
        QFETCH(QString, modeButton);
        GlobalSettings settings;
        settings.Filename = QStringLiteral("/tmp/x.log");
        settings.LogSep = sep;
        settings.LogMode = static_cast<int16_t>(mode);
        Options options(settings);
        QCOMPARE(options.dialog.objectName(), QStringLiteral("frmlogopts"));
        QCOMPARE(options.dialog.windowTitle(), QStringLiteral("Logging options"));
        QCOMPARE(options.get<QLineEdit>("txtfilename")->text(), QStringLiteral("/tmp/x.log"));
        QVERIFY(options.get<QRadioButton>(sepButton.toLatin1().constData())->isChecked());
        QVERIFY(options.get<QRadioButton>(modeButton.toLatin1().constData())->isChecked());
        QVERIFY(!options.get<QCheckBox>("chkheadings")->isEnabled());
        QVERIFY(!options.get<QRadioButton>("optfwo")->isEnabled());
    }

    void optionsOkStoresAsTyped()
    {
        GlobalSettings settings;
        Options options(settings);
        auto *name = options.get<QLineEdit>("txtfilename");
        name->clear();
        QTest::keyClicks(name, QStringLiteral(" /tmp/typed.log "));
        QTest::mouseClick(options.get<QRadioButton>("opttab"), Qt::LeftButton);
        QTest::mouseClick(options.get<QRadioButton>("optsingle"), Qt::LeftButton);
        options.click("cmdok");
        QCOMPARE(options.dialog.result(), int(QDialog::Accepted));
        QCOMPARE(settings.Filename, QStringLiteral(" /tmp/typed.log "));
        QCOMPARE(settings.LogSep, QStringLiteral("\t"));
        QCOMPARE(settings.LogMode, int16_t(1));
    }

    void optionsCancelChangesNothing()
    {
        GlobalSettings settings;
        settings.Filename = QStringLiteral("/tmp/a.log");
        Options options(settings);
        options.get<QLineEdit>("txtfilename")->setText(QStringLiteral("/tmp/b.log"));
        QTest::mouseClick(options.get<QRadioButton>("opttab"), Qt::LeftButton);
        options.click("cmdcancel");
        QCOMPARE(settings.Filename, QStringLiteral("/tmp/a.log"));
        QCOMPARE(settings.LogSep, QStringLiteral(","));
    }

    void optionsFileButton_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("after");
        QTest::newRow("chosen") << "/var/log/a.log"
                                << "/var/log"
                                << "/srv/b.log"
                                << "/srv/b.log";
        QTest::newRow("cancelled") << "/var/log/a.log"
                                   << "/var/log"
                                   << ""
                                   << "/var/log/a.log";
        QTest::newRow("bare name opens data folder") << "a.log" << programDataFolder() << ""
                                                     << "a.log";
        QTest::newRow("empty opens data folder") << "" << programDataFolder() << "/x.log"
                                                 << "/x.log";
    }
    void optionsFileButton()
    {
        QFETCH(QString, typed);
        QFETCH(QString, folder);
        QFETCH(QString, answer);
        QFETCH(QString, after);
        GlobalSettings settings;
        Options options(settings);
        options.get<QLineEdit>("txtfilename")->setText(typed);
        if (!answer.isEmpty())
            options.prompts.queueFile(answer);
        options.click("cmdfilename");
        QCOMPARE(options.prompts.fileRequests.size(), 1);
        QCOMPARE(options.prompts.fileRequests[0].directory, folder);
        QCOMPARE(options.prompts.fileRequests[0].fileName, typed);
        QCOMPARE(options.get<QLineEdit>("txtfilename")->text(), after);
        QCOMPARE(settings.Filename, QString());
    }
};

QTEST_MAIN(TstLogCommands)
#include "tst_logcommands.moc"
