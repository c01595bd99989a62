#include "BuiltSentrel.h"
#include "CycleRig.h"
#include "TestFiles.h"
#include "probes/WinSock.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace sentrel;
using namespace sentrel::test;

class TstEndToEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The window checks at its start and logs to the user's data folder when the store names
    // no log file; on SIGTERM it saves the settings as a session's logout needs. Check results
    // and log lines of every kind are the --check and logging tests' business.
    void firstCycleIsLoggedAndSettingsAreSavedOnExit()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        auto mail = lowPortServer(PeerScript("220 mail.test ESMTP ready\r\n"));
        QVERIFY(mail);
        const QString config = home.filePath(QStringLiteral("config"));
        const QString data = home.filePath(QStringLiteral("data"));
        const QString log = data + QStringLiteral("/Sentrel/sentrel.log");
        QVERIFY(writeFile(config + QStringLiteral("/Sentrel/Sentrel.ini"),
            QStringLiteral("[Targets]\nMaxHostNo=0\n"
                           "Hostname 0=%1\nDesc 0=Mail\nPort 0=%2\nUsePX 0=False\nUseM 0=True\nTimeout 0=5\n"
                           "[Window]\nEnable=True\nDelay=\" 5\"\n"
                           "[Logging]\nEnable=True\nLogMode=0\nLogSep=\",\"\n[PopUp]\nError=False\n")
                .arg(FormatDottedAddress(mail->address()))
                .arg(mail->port())
                .toUtf8()));

        QProcess sentrel;
        startBuiltSentrel(sentrel, QStringLiteral(SENTREL_BINARY), config, data);
        QVERIFY2(sentrel.waitForStarted(10000), qPrintable(sentrel.errorString()));
        // The peer answers from this process's event loop while we wait.
        QTRY_COMPARE_WITH_TIMEOUT(logLines(log).size(), 1, 60000);
        // Past the date and the time.
        QCOMPARE(logLines(log)[0].section(QLatin1Char(','), 2),
            QStringLiteral("Mail, 1,220 mail.test ESMTP ready"));
        // Ended as a session's logout would: SIGTERM, and a clean exit with 0.
        ::kill(static_cast<pid_t>(sentrel.processId()), SIGTERM);
        QVERIFY(sentrel.waitForFinished(20000));
        QCOMPARE(sentrel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sentrel.exitCode(), 0);

        QSettings saved(config + QStringLiteral("/Sentrel/Sentrel.ini"), QSettings::IniFormat);
        QCOMPARE(saved.value(QStringLiteral("Targets/Hostname 0")).toString(),
            FormatDottedAddress(mail->address()));
        QCOMPARE(saved.value(QStringLiteral("Window/Delay")).toString(), QStringLiteral(" 5"));
        QCOMPARE(saved.value(QStringLiteral("Logging/Filename")).toString(), log);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
