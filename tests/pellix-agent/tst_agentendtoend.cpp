#include "AgentProcess.h"
#include "BuiltSentrel.h"
#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace sentrel;
using namespace sentrel::test;

namespace {

// A disk that is always at least a warning (only a full one is DOWN) and a failing RAID.
const QByteArray DownConfig =
    "[load]\nenabled = no\n[memory]\nenabled = no\n"
    "[disk]\nmounts = /\nwarning = 0\ndown = 100\n"
    "[command raid]\ncommand = /bin/sh -c \"echo 'RAID degraded: 1 of 2 disks'; exit 2\"\n";
const QByteArray OkConfig = "[load]\nenabled = no\n[memory]\nenabled = no\n[disk]\nmounts =\n"
                            "[command web]\ncommand = /bin/echo site answers\n";
const QByteArray ErrorConfig =
    "[load]\nenabled = no\n[memory]\nenabled = no\n[disk]\nmounts = /no/such/mount\n";

} // namespace

class TstAgentEndToEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sentrelShowsTheAgentsReport()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QVERIFY(writeTextFile(home.filePath(QStringLiteral("down.ini")), DownConfig));
        QVERIFY(writeTextFile(home.filePath(QStringLiteral("ok.ini")), OkConfig));
        QVERIFY(writeTextFile(home.filePath(QStringLiteral("error.ini")), ErrorConfig));
        auto down = startListeningAgent(home.filePath(QStringLiteral("down.ini")));
        auto ok = startListeningAgent(home.filePath(QStringLiteral("ok.ini")));
        auto error = startListeningAgent(home.filePath(QStringLiteral("error.ini")));
        QVERIFY(down && ok && error);

        const QString config = home.filePath(QStringLiteral("config"));
        const QString data = home.filePath(QStringLiteral("data"));
        const QString log = home.filePath(QStringLiteral("monitor.log"));
        QVERIFY(QDir().mkpath(config + QStringLiteral("/Sentrel")));
        QString targets;
        int i = 0;
        for (const auto *agent : {down.get(), ok.get(), error.get()}) {
            targets += QStringLiteral(
                "Hostname %1=%2\nDesc %1=Agent%1\nPXPort %1=%3\nUsePX %1=True\nUseM %1=False\n")
                           .arg(i++)
                           .arg(agent->address)
                           .arg(agent->port);
        }
        QVERIFY(writeTextFile(config + QStringLiteral("/Sentrel/Sentrel.ini"),
            (QStringLiteral("[Targets]\nMaxHostNo=2\n") + targets
                + QStringLiteral("[Window]\nEnable=True\nDelay=\" 5\"\n"
                                 "[Logging]\nEnable=True\nLogMode=0\nLogSep=\",\"\nFilename=%1\n"
                                 "[PopUp]\nError=False\nWarn=False\n")
                      .arg(log))
                .toUtf8()));

        QProcess sentrel;
        startBuiltSentrel(sentrel, QStringLiteral(SENTREL_BINARY), config, data);
        QVERIFY2(sentrel.waitForStarted(10000), qPrintable(sentrel.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(logLines(log).size(), 3, 60000);
        QStringList rest;
        for (const QString &line : logLines(log))
            rest << line.section(QLatin1Char(','), 2); // past the date and the time
        QCOMPARE(rest,
            (QStringList {QStringLiteral("Agent0, 3,raid: RAID degraded: 1 of 2 disks (+1 more)"),
                QStringLiteral("Agent1, 1,1 check OK"),
                QStringLiteral("Agent2, 2,Disk /no/such/mount unreadable: No such file or directory")}));
        ::kill(static_cast<pid_t>(sentrel.processId()), SIGTERM);
        QVERIFY(sentrel.waitForFinished(20000));
        QCOMPARE(sentrel.exitCode(), 0);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstAgentEndToEnd)
#include "tst_agentendtoend.moc"
