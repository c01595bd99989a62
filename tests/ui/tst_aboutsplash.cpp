#include "ScriptedPrompts.h"
#include "ui/AboutDialog.h"
#include "ui/SplashWindow.h"

#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace sentrel;
using sentrel::test::ScriptedPrompts;

namespace {

QString labelText(QWidget &window, const char *name)
{
    auto *label = window.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
}

void writeProgram(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

const QString Unavailable = QStringLiteral("System Information Is Unavailable At This Time");

} // namespace

class TstAboutSplash : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aboutShowsProductVersionAndDescription()
    {
        ScriptedPrompts prompts;
        AboutDialog about(prompts);
        QCOMPARE(about.objectName(), QStringLiteral("frmAbout"));
        QCOMPARE(about.windowTitle(), QStringLiteral("About Sentrel"));
        QCOMPARE(labelText(about, "lblTitle"), QStringLiteral("Sentrel"));
        QCOMPARE(labelText(about, "lblVersion"), QStringLiteral("Version 2.3.4"));
        QCOMPARE(labelText(about, "lblDescription"),
            QStringLiteral(
                "Provides real-time status monitoring of TCP/IP servers and devices with user-extendible "
                "daemons.  Intended to allow the monitoring of TCP/IP hosts with additional user "
                "configurable data without having to resort to SNMP.  Version 2 now also checks Netware "
                "IPX servers and examines available license slots."));
        QVERIFY(!labelText(about, "lblDisclaimer").isEmpty());
        QVERIFY(about.findChild<QLabel *>(QStringLiteral("picIcon"))->pixmap().width() > 0);
        QCOMPARE(about.findChild<QPushButton *>(QStringLiteral("cmdSysInfo"))->text(),
            QStringLiteral("&System Info..."));
        QVERIFY(about.isModal());
    }

    void okCloses()
    {
        ScriptedPrompts prompts;
        AboutDialog about(prompts);
        about.open();
        QTest::mouseClick(about.findChild<QPushButton *>(QStringLiteral("cmdOK")), Qt::LeftButton);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }

    void systemInfoWithoutProgramSaysSo()
    {
        QTemporaryDir empty;
        ScriptedPrompts prompts;
        AboutDialog about(prompts);
        about.setSystemInfoSearchPaths({empty.path()});
        QTest::mouseClick(about.findChild<QPushButton *>(QStringLiteral("cmdSysInfo")), Qt::LeftButton);
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text, Unavailable);
        QCOMPARE(prompts.messages[0].title, QStringLiteral("Sentrel"));
        QCOMPARE(prompts.messages[0].buttons, UserPrompts::Buttons::Ok);
        QCOMPARE(prompts.messages[0].icon, UserPrompts::Icon::None);
    }

    void systemInfoStartsFirstProgramFound()
    {
        QTemporaryDir dir;
        const QString marker = dir.filePath(QStringLiteral("started"));
        writeProgram(dir.filePath(QStringLiteral("xfce4-taskmanager")),
            "#!/bin/sh\necho xfce > '" + QFile::encodeName(marker) + "'\n");
        writeProgram(dir.filePath(QStringLiteral("ksysguard")),
            "#!/bin/sh\necho ksysguard > '" + QFile::encodeName(marker) + "'\n");
        QCOMPARE(findSystemInfoProgram({dir.path()}), dir.filePath(QStringLiteral("ksysguard")));
        ScriptedPrompts prompts;
        startSystemInfo(prompts, {dir.path()});
        const auto written = [&marker] {
            QFile file(marker);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_COMPARE(written(), QByteArray("ksysguard\n"));
        QVERIFY(prompts.messages.isEmpty());
    }

    void systemInfoThatCannotStartSaysSo()
    {
        QTemporaryDir dir;
        // Executable but neither a script nor a binary: exec fails.
        writeProgram(dir.filePath(QStringLiteral("hardinfo")), QByteArray("\x7f\x01\x02\x03 not a program"));
        ScriptedPrompts prompts;
        startSystemInfo(prompts, {dir.path()});
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages[0].text, Unavailable);
    }

    void splashShowsProductVersionAndPlatform()
    {
        SplashWindow splash;
        QCOMPARE(splash.objectName(), QStringLiteral("frmSplash"));
        QCOMPARE(labelText(splash, "lblProductName"), QStringLiteral("Sentrel"));
        QCOMPARE(labelText(splash, "lblVersion"), QStringLiteral("Version 2.3.4"));
        QCOMPARE(labelText(splash, "lblPlatform"), QStringLiteral("Linux"));
        QVERIFY(splash.testAttribute(Qt::WA_DeleteOnClose));
        splash.setAttribute(Qt::WA_DeleteOnClose, false);
    }

    void splashClosesOnKey()
    {
        QPointer<SplashWindow> splash = new SplashWindow;
        splash->show();
        QVERIFY(QTest::qWaitForWindowActive(splash));
        QTest::keyClick(splash, Qt::Key_Space);
        QTRY_VERIFY(!splash);
    }

    void splashClosesOnClickOnItsFrame()
    {
        QPointer<SplashWindow> splash = new SplashWindow;
        splash->show();
        QVERIFY(QTest::qWaitForWindowExposed(splash));
        QWidget *frame = splash->findChild<QWidget *>(QStringLiteral("Frame1"));
        QTest::mouseClick(frame, Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_VERIFY(!splash);
    }

    void splashClosedByStartUpEnd()
    {
        QPointer<SplashWindow> splash = new SplashWindow;
        splash->show();
        splash->close();
        QTRY_VERIFY(!splash);
    }
};

QTEST_MAIN(TstAboutSplash)
#include "tst_aboutsplash.moc"
