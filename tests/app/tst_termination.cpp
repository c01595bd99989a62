// The signal path shared by the window and --serve: a signal runs the program's own exit from
// the event loop, and a second one ends the process even when that exit is stuck.
#include "app/Termination.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int ExitByHandler = 7;

// The child: its exit takes handlerMs (a save on a disk that does not answer), then exits 7.
int runChild(int argc, char *argv[], int handlerMs)
{
    QCoreApplication app(argc, argv);
    QObject context;
    if (!sentrel::onTermination(&context, [handlerMs] {
            std::puts("handling");
            std::fflush(stdout);
            ::usleep(static_cast<useconds_t>(handlerMs) * 1000);
            QCoreApplication::exit(ExitByHandler);
        }))
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

bool waitForLine(QProcess &p, const QByteArray &line)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        if (p.canReadLine())
            return p.readLine().trimmed() == line;
        p.waitForReadyRead(100);
    }
    return false;
}

} // namespace

class TstTermination : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void secondSignalEndsAStuckExit_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second"); // 0: none
        QTest::newRow("TERM") << SIGTERM << 0;
        QTest::newRow("INT") << SIGINT << 0;
        QTest::newRow("HUP") << SIGHUP << 0;
        QTest::newRow("TERM, TERM") << SIGTERM << SIGTERM;
        QTest::newRow("INT, HUP") << SIGINT << SIGHUP;
    }
    void secondSignalEndsAStuckExit()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--child-handler-ms"), QString::number(second ? 60000 : 0)});
        QVERIFY(waitForLine(child, "ready"));
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(child.processId()), first);
        QVERIFY(waitForLine(child, "handling"));
        if (second == 0) {
            QVERIFY(child.waitForFinished(10000));
            QCOMPARE(child.exitStatus(), QProcess::NormalExit);
            QCOMPARE(child.exitCode(), ExitByHandler);
            return;
        }
        ::kill(static_cast<pid_t>(child.processId()), second);
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY2(clock.elapsed() < 10000, "the second signal waited for the stuck exit");
    }
};

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--child-handler-ms") == 0)
        return runChild(1, argv, std::atoi(argv[2]));
    QCoreApplication app(argc, argv);
    TstTermination test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_termination.moc"
