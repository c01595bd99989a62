#include "ScriptedPrompts.h"
#include "TestFiles.h"
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

bool writeProgram(const QString &path, const QByteArray &content)
{
    return sentrel::test::writeBytes(path, content)
        && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class TstAboutSplash : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aboutShowsProductAndClosesOnOk()
    {
        ScriptedPrompts prompts;
        AboutDialog about(prompts);
        QCOMPARE(labelText(about, "lblVersion"), QStringLiteral("Version 2.3.4"));
        about.open();
        QTest::mouseClick(about.findChild<QPushButton *>(QStringLiteral("cmdOK")), Qt::LeftButton);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }

    void systemInfoStartsFirstProgramFoundOrSaysUnavailable()
    {
        QTemporaryDir dir;
        ScriptedPrompts prompts;
        AboutDialog about(prompts);
        about.setSystemInfoSearchPaths({dir.path()});
        const auto sysInfo = [&about] {
            QTest::mouseClick(about.findChild<QPushButton *>(QStringLiteral("cmdSysInfo")), Qt::LeftButton);
        };
        sysInfo();
        QCOMPARE(prompts.messages.size(), 1);
        // A copy: the list grows below, which may move its elements.
        const auto m = prompts.messages[0];
        QCOMPARE(std::tuple(m.text, m.title, m.buttons, m.icon),
            std::tuple(QStringLiteral("System Information Is Unavailable At This Time"),
                QStringLiteral("Sentrel"), UserPrompts::Buttons::Ok, UserPrompts::Icon::None));

        const QString marker = dir.filePath(QStringLiteral("started"));
        for (const char *name : {"xfce4-taskmanager", "ksysguard"})
            QVERIFY(writeProgram(dir.filePath(QLatin1String(name)),
                "#!/bin/sh\necho " + QByteArray(name) + " > '" + QFile::encodeName(marker) + "'\n"));
        sysInfo();
        QTRY_COMPARE(sentrel::test::readAll(marker), QByteArray("ksysguard\n"));
        QCOMPARE(prompts.messages.size(), 1);

        // Executable but neither a script nor a binary, and found first: exec fails.
        QVERIFY(writeProgram(
            dir.filePath(QStringLiteral("hardinfo")), QByteArray("\x7f\x01\x02\x03 not a program")));
        sysInfo();
        QCOMPARE(prompts.messages.size(), 2);
        QCOMPARE(prompts.messages[1].text, m.text);
    }

    void splashShowsProductAndCloses_data()
    {
        QTest::addColumn<QString>("by");
        QTest::newRow("key") << QStringLiteral("key");
        QTest::newRow("click on its frame") << QStringLiteral("click");
        QTest::newRow("its own time") << QStringLiteral("time");
    }
    void splashShowsProductAndCloses()
    {
        QFETCH(QString, by);
        using namespace std::chrono_literals;
        QPointer<SplashWindow> splash = new SplashWindow(by == QLatin1String("time") ? 50ms : 1h);
        QCOMPARE(labelText(*splash, "lblVersion"), QStringLiteral("Version 2.3.4"));
        splash->show();
        if (by != QLatin1String("time"))
            QVERIFY(QTest::qWaitForWindowActive(splash));
        if (by == QLatin1String("key"))
            QTest::keyClick(splash, Qt::Key_Space);
        else if (by == QLatin1String("click"))
            QTest::mouseClick(
                splash->findChild<QWidget *>(QStringLiteral("Frame1")), Qt::LeftButton, {}, {5, 5});
        // It deletes itself once closed, so the end of start-up finds nothing left to close.
        QTRY_VERIFY(!splash);
    }
};

SENTREL_TEST_MAIN(TstAboutSplash)
#include "tst_aboutsplash.moc"
