#include "ScriptedPrompts.h"
#include "TestFiles.h"
#include "logging/LogFiles.h"
#include "ui/LogCommands.h"
#include "ui/LogOptionsDialog.h"

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
using sentrel::test::writeBytes;
using Answer = UserPrompts::Answer;

namespace {

QString notFound()
{
    return QString::fromLocal8Bit(std::strerror(ENOENT));
}

// Compares a recorded message box with the one the user must see.
void checkMessage(const ScriptedPrompts::Message &m, const QString &text, const char *title,
    UserPrompts::Buttons buttons, UserPrompts::Icon icon)
{
    QCOMPARE(m.text, text);
    QCOMPARE(m.title, QString::fromLatin1(title));
    QCOMPARE(m.buttons, buttons);
    QCOMPARE(m.icon, icon);
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

    // The menu's log file chooser and the options dialog's "..." button.
    void fileChoosers_data()
    {
        QTest::addColumn<bool>("fromOptions");
        QTest::addColumn<QString>("filename"); // Filename, or the text of txtfilename
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("answer"); // empty: cancelled
        QTest::addColumn<QString>("after"); // Filename, or the text of txtfilename
        const QString data = programDataFolder();
        QTest::newRow("menu, bare name, cancelled")
            << false << "net.log" << data << "net.log" << QString() << QStringLiteral("net.log");
        QTest::newRow("menu, none, cancelled")
            << false << "" << data << "sentrel.log" << QString() << QString();
        QTest::newRow("menu, chosen is trimmed")
            << false << "/tmp/a.log" << QStringLiteral("/tmp") << "/tmp/a.log"
            << QStringLiteral("  /tmp/new log.log  ") << "/tmp/new log.log";
        QTest::newRow("options, chosen") << true << "/var/log/a.log" << QStringLiteral("/var/log")
                                         << "/var/log/a.log" << QStringLiteral("/srv/b.log") << "/srv/b.log";
        QTest::newRow("options, empty") << true << "" << data << "" << QStringLiteral("/x.log") << "/x.log";
    }
    void fileChoosers()
    {
        QFETCH(bool, fromOptions);
        QFETCH(QString, filename);
        QFETCH(QString, folder);
        QFETCH(QString, offered);
        QFETCH(QString, answer);
        QFETCH(QString, after);
        GlobalSettings settings;
        Options options(settings);
        ScriptedPrompts &prompts = options.prompts;
        if (!answer.isEmpty())
            prompts.queueFile(answer);
        if (fromOptions) {
            options.get<QLineEdit>("txtfilename")->setText(filename);
            options.click("cmdfilename");
            QCOMPARE(options.get<QLineEdit>("txtfilename")->text(), after);
            QCOMPARE(settings.Filename, QString());
        } else {
            settings.Filename = filename;
            QCOMPARE(chooseLogFile(settings, prompts), !answer.isEmpty());
            QCOMPARE(settings.Filename, after);
        }
        QCOMPARE(prompts.fileRequests.size(), 1);
        const auto &request = prompts.fileRequests.constFirst();
        QCOMPARE(
            std::tuple(request.save, request.directory, request.fileName), std::tuple(true, folder, offered));
        QVERIFY(prompts.messages.isEmpty());
    }

    void clearLog_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("outcome"); // the message after the question, empty: none
        QTest::newRow("ok deletes") << true << Answer::Ok << QStringLiteral("Log file cleared.");
        QTest::newRow("cancel keeps the file") << true << Answer::Cancel << QString();
        QTest::newRow("missing file fails")
            << false << Answer::Ok << QStringLiteral("Failed to delete file:\r") + notFound();
    }
    void clearLog()
    {
        QFETCH(bool, exists);
        QFETCH(Answer, answer);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        GlobalSettings settings;
        settings.Filename = dir.filePath(QStringLiteral("sentrel.log"));
        if (exists)
            QVERIFY(writeBytes(settings.Filename, "entry\r\n"));
        ScriptedPrompts prompts;
        prompts.queueAnswer(answer);
        sentrel::clearLog(settings, prompts);
        QCOMPARE(QFile::exists(settings.Filename), exists && answer == Answer::Cancel);
        QCOMPARE(prompts.messages.size(), outcome.isEmpty() ? 1 : 2);
        checkMessage(prompts.messages[0], QStringLiteral("Are you sure you want to clear the log file?"),
            "Erase log file", UserPrompts::Buttons::OkCancel, UserPrompts::Icon::Question);
        if (!outcome.isEmpty())
            checkMessage(prompts.messages[1], outcome, exists ? "Sentrel" : "Error", UserPrompts::Buttons::Ok,
                exists ? UserPrompts::Icon::None : UserPrompts::Icon::Exclamation);
    }

    void switchLogFailsWithoutFileThenReplacesTheBackup()
    {
        QTemporaryDir dir;
        GlobalSettings settings;
        settings.Filename = dir.filePath(QStringLiteral("sentrel.log"));
        ScriptedPrompts prompts;
        switchLog(settings, prompts);
        QCOMPARE(prompts.messages.size(), 1);
        checkMessage(prompts.messages[0], QStringLiteral("Failed to switch logfile:\r") + notFound(), "Error",
            UserPrompts::Buttons::Ok, UserPrompts::Icon::Exclamation);

        // The second switch replaces the first backup (the file operation itself is tested with LogFiles).
        const QString backup = settings.Filename + QStringLiteral(".old");
        for (const char *content : {"one", "two"}) {
            QVERIFY(writeBytes(settings.Filename, content));
            switchLog(settings, prompts);
            QVERIFY(!QFile::exists(settings.Filename));
            QVERIFY(QFile::exists(backup));
        }
        QCOMPARE(prompts.messages.size(), 3);
        for (const auto &m : prompts.messages.mid(1))
            checkMessage(m, QStringLiteral("Logfile moved to ") + backup, "Sentrel", UserPrompts::Buttons::Ok,
                UserPrompts::Icon::None);
    }

    void optionsDialogLoadsAndStoresOnlyOnOk()
    {
        GlobalSettings settings;
        settings.Filename = QStringLiteral("/tmp/x.log");
        settings.LogSep = QStringLiteral(";");
        settings.LogMode = 7;
        for (const bool ok : {false, true}) {
            Options options(settings);
            auto *name = options.get<QLineEdit>("txtfilename");
            QCOMPARE(name->text(), QStringLiteral("/tmp/x.log"));
            // A separator or mode of no known kind leaves the designed choices.
            QVERIFY(options.get<QRadioButton>("optcomma")->isChecked()
                && options.get<QRadioButton>("optmultiline")->isChecked());
            name->clear();
            QTest::keyClicks(name, QStringLiteral(" /tmp/typed.log "));
            QTest::mouseClick(options.get<QRadioButton>("opttab"), Qt::LeftButton);
            QTest::mouseClick(options.get<QRadioButton>("optsingle"), Qt::LeftButton);
            options.click(ok ? "cmdok" : "cmdcancel");
            QCOMPARE(options.dialog.result(), int(ok ? QDialog::Accepted : QDialog::Rejected));
        }
        // The path is stored as typed, blanks included.
        QCOMPARE(settings.Filename, QStringLiteral(" /tmp/typed.log "));
        QCOMPARE(settings.LogSep, QStringLiteral("\t"));
        QCOMPARE(settings.LogMode, int16_t(1));
        Options reopened(settings);
        QVERIFY(reopened.get<QRadioButton>("opttab")->isChecked()
            && reopened.get<QRadioButton>("optsingle")->isChecked());
    }
};

SENTREL_TEST_MAIN(TstLogCommands)
#include "tst_logcommands.moc"
