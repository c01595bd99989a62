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
#include <sys/resource.h>

using namespace sentrel;
using namespace sentrel::test;

namespace {

PeerScript greeting(const QByteArray &text)
{
    PeerScript p;
    p.greeting = text;
    return p;
}

// Ends the program as a session's logout would: SIGTERM, and it must exit cleanly with 0.
bool terminate(QProcess &sentrel)
{
    ::kill(static_cast<pid_t>(sentrel.processId()), SIGTERM);
    return sentrel.waitForFinished(20000) && sentrel.exitStatus() == QProcess::NormalExit
        && sentrel.exitCode() == 0;
}

} // namespace

class TstEndToEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstCycleIsLoggedAndTargetsAreSavedOnExit()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        auto mail = lowPortServer(greeting("220 mail.test ESMTP ready\r\n"));
        auto agent = lowPortServer(greeting("WARNING\r\nDisk 91% full\r\n/var 91%\r\n"));
        QVERIFY(mail && agent);
        const QString config = home.filePath(QStringLiteral("config"));
        const QString data = home.filePath(QStringLiteral("data"));
        const QString log = home.filePath(QStringLiteral("monitor.log"));
        const QString refused = refusingHost();
        QVERIFY(writeFile(config + QStringLiteral("/Sentrel/Sentrel.ini"),
            QStringLiteral("[Targets]\n"
                           "MaxHostNo=3\n"
                           "Hostname 0=%1\nDesc 0=Mail\nPort 0=%2\nUsePX 0=False\nUseM 0=True\nTimeout 0=5\n"
                           "Hostname 1=%3\nDesc 1=Agent\nPXPort 1=%4\nUsePX 1=True\nUseM 1=False\n"
                           "Hostname 2=%5\nDesc 2=Closed\nPort 2=25\nPXPort 2=3000\n"
                           "Hostname 3=localhost\nDesc 3=Nothing\nUsePX 3=False\nUseM 3=False\n"
                           "[Window]\nEnable=True\nDelay=\" 5\"\n"
                           "[Logging]\nEnable=True\nLogMode=0\nLogSep=\",\"\nFilename=%6\n"
                           "[PopUp]\nError=False\n")
                .arg(FormatDottedAddress(mail->address()))
                .arg(mail->port())
                .arg(FormatDottedAddress(agent->address()))
                .arg(agent->port())
                .arg(refused, log)
                .toUtf8()));

        QProcess sentrel;
        startBuiltSentrel(sentrel, QStringLiteral(SENTREL_BINARY), config, data);
        QVERIFY2(sentrel.waitForStarted(10000), qPrintable(sentrel.errorString()));

        // The peers answer from this process's event loop while we wait.
        QTRY_COMPARE_WITH_TIMEOUT(logLines(log).size(), 4, 60000);
        const QStringList lines = logLines(log);
        QStringList rest;
        for (const QString &line : lines)
            rest << line.section(QLatin1Char(','), 2); // past the date and the time
        QCOMPARE(rest,
            (QStringList {QStringLiteral("Mail, 1,220 mail.test ESMTP ready"),
                QStringLiteral("Agent, 2,Disk 91% full"), QStringLiteral("Closed, 3,All checks failed."),
                QStringLiteral("Nothing, 0,No test method defined.")}));

        QVERIFY(terminate(sentrel));

        QSettings saved(config + QStringLiteral("/Sentrel/Sentrel.ini"), QSettings::IniFormat);
        saved.beginGroup(QStringLiteral("Targets"));
        QCOMPARE(saved.value(QStringLiteral("MaxHostNo")).toString(), QStringLiteral("3"));
        const QStringList hosts {FormatDottedAddress(mail->address()), FormatDottedAddress(agent->address()),
            refused, QStringLiteral("localhost")};
        const QStringList descs {QStringLiteral("Mail"), QStringLiteral("Agent"), QStringLiteral("Closed"),
            QStringLiteral("Nothing")};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(saved.value(QStringLiteral("Hostname %1").arg(i)).toString(), hosts[i]);
            QCOMPARE(saved.value(QStringLiteral("Desc %1").arg(i)).toString(), descs[i]);
        }
        QCOMPARE(saved.value(QStringLiteral("Port 0")).toString(), QString::number(mail->port()));
        QCOMPARE(saved.value(QStringLiteral("UsePX 1")).toString(), QStringLiteral("True"));
        QCOMPARE(saved.value(QStringLiteral("UseM 3")).toString(), QStringLiteral("False"));
        saved.endGroup();
        QCOMPARE(saved.value(QStringLiteral("Window/Delay")).toString(), QStringLiteral(" 5"));
        QCOMPARE(saved.value(QStringLiteral("Logging/Filename")).toString(), log);
    }

    void defaultLogFileIsInTheUsersDataFolder()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString config = home.filePath(QStringLiteral("config"));
        const QString data = home.filePath(QStringLiteral("data"));
        QVERIFY(writeFile(config + QStringLiteral("/Sentrel/Sentrel.ini"),
            "[Targets]\nMaxHostNo=0\nHostname%200=localhost\nDesc%200=Nothing\nUsePX%200=False\n"
            "UseM%200=False\n[Window]\nEnable=True\n[Logging]\nEnable=True\n"));
        const QString log = data + QStringLiteral("/Sentrel/sentrel.log");

        QProcess sentrel;
        startBuiltSentrel(sentrel, QStringLiteral(SENTREL_BINARY), config, data);
        QVERIFY2(sentrel.waitForStarted(10000), qPrintable(sentrel.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(logLines(log).size(), 1, 30000);
        QVERIFY(terminate(sentrel));
        QSettings saved(config + QStringLiteral("/Sentrel/Sentrel.ini"), QSettings::IniFormat);
        QCOMPARE(saved.value(QStringLiteral("Logging/Filename")).toString(), log);
    }

    // Under a low open-file limit that cannot be raised, the window checks 200 Targets at
    // Parallel 128 without aborting or hanging, logs every one as OK, and ends on SIGTERM.
    void windowRunsUnderALowOpenFileLimit()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        LoopbackServer mail(PeerScript("220 ready\r\n"));
        QVERIFY(mail.isListening());
        const QString config = home.filePath(QStringLiteral("config"));
        const QString log = home.filePath(QStringLiteral("monitor.log"));
        const int count = 200;
        QString ini = QStringLiteral("[Targets]\nMaxHostNo=%1\n").arg(count - 1);
        for (int i = 0; i < count; ++i)
            ini += QStringLiteral("Hostname%20%1=127.0.0.1\nDesc%20%1=T%1\nPort%20%1=%2\nUsePX%20%1=False\n"
                                  "UseM%20%1=True\nUseP%20%1=False\n")
                       .arg(i)
                       .arg(mail.port());
        ini += QStringLiteral(
            "[Window]\nEnable=True\nDelay=\" 5\"\nParallel=128\n"
            "[Logging]\nEnable=True\nLogMode=0\nLogSep=\",\"\nFilename=%1\n[PopUp]\nError=False\n")
                   .arg(log);
        QVERIFY(writeFile(config + QStringLiteral("/Sentrel/Sentrel.ini"), ini.toUtf8()));

        QProcess sentrel;
        sentrel.setChildProcessModifier([] {
            const rlimit low {128, 128};
            ::setrlimit(RLIMIT_NOFILE, &low);
        });
        startBuiltSentrel(
            sentrel, QStringLiteral(SENTREL_BINARY), config, home.filePath(QStringLiteral("data")));
        QVERIFY2(sentrel.waitForStarted(10000), qPrintable(sentrel.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(logLines(log).size(), count, 60000);
        const QStringList lines = logLines(log);
        for (int i = 0; i < count; ++i)
            QCOMPARE(lines[i].section(QLatin1Char(','), 2), QStringLiteral("T%1, 1,220 ready").arg(i));
        QVERIFY(terminate(sentrel));
    }
};

SENTREL_TEST_GUILESS_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
