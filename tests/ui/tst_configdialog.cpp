#include "ScriptedPrompts.h"
#include "ui/ConfigDialog.h"
#include "ui/PortPicker.h"
#include "ui/Twips.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace sentrel;
using sentrel::test::ScriptedPrompts;
using Answer = UserPrompts::Answer;

Q_DECLARE_METATYPE(Answer)

namespace {

Target webTarget()
{
    Target t;
    t.Hostname = QStringLiteral("web1");
    t.Desc = QStringLiteral("  Web one  ");
    t.User = QStringLiteral(" call Bob\r\nor Ann ");
    t.UseM = true;
    t.Port = 80;
    t.PXPort = 3000;
    t.Timeout = 10;
    t.RTT = 250;
    t.MinSlots = 5;
    t.LoadLevel = 90;
    t.Status = TargetStatus::Down;
    t.Info = QStringLiteral("Connection refused");
    t.Output = QStringLiteral("details");
    t.SmoothedRtt = 12.5;
    return t;
}

struct Rig
{
    explicit Rig(const Target &t = webTarget())
        : dialog(t, prompts)
    { }
    template<class W>
    W *get(const char *name)
    {
        W *w = dialog.findChild<W *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    QLineEdit *box(const char *name) { return get<QLineEdit>(name); }
    QCheckBox *check(const char *name) { return get<QCheckBox>(name); }
    void click(const char *name) { QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton); }
    QStringList messageTexts() const
    {
        QStringList texts;
        for (const auto &m : prompts.messages)
            texts << m.text;
        return texts;
    }

    ScriptedPrompts prompts;
    ConfigDialog dialog;
};

} // namespace

class TstConfigDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void windowHasNoCloseButtonAndOpensNarrow()
    {
        Rig rig;
        const Qt::WindowFlags flags = rig.dialog.windowFlags();
        QVERIFY(flags & Qt::CustomizeWindowHint);
        QVERIFY(!(flags & Qt::WindowCloseButtonHint));
        QVERIFY(!(flags & Qt::WindowMinMaxButtonsHint));
        QCOMPARE(rig.dialog.objectName(), QStringLiteral("frmconfig"));
        QCOMPARE(rig.dialog.windowTitle(), QStringLiteral("Configure Monitored Device"));
        QCOMPARE(rig.dialog.widthTwips(), 3465);
        QVERIFY(rig.get<QPushButton>("cmdok")->isDefault());
    }

    void loadingShowsTheTarget()
    {
        Rig rig;
        QCOMPARE(rig.box("txthostname")->text(), QStringLiteral("web1"));
        QCOMPARE(rig.box("txtdesc")->text(), QStringLiteral("Web one"));
        QCOMPARE(rig.get<QPlainTextEdit>("txtuser")->toPlainText(), QStringLiteral("call Bob\nor Ann"));
        QCOMPARE(rig.box("txtmport")->text(), QStringLiteral("80"));
        QCOMPARE(rig.box("txtmport")->toolTip(), QStringLiteral("Web server"));
        QCOMPARE(rig.box("txtpxport")->text(), QStringLiteral("3000"));
        QCOMPARE(rig.box("txtpxport")->toolTip(), QStringLiteral("Default Pellix port"));
        QCOMPARE(rig.box("txttimeout")->text(), QStringLiteral(" 10"));
        QCOMPARE(rig.box("txtmaxrtt")->text(), QStringLiteral("250"));
        QCOMPARE(rig.box("txtslots")->text(), QStringLiteral("5"));
        QCOMPARE(rig.box("txtload")->text(), QStringLiteral("90"));
        QVERIFY(rig.check("chkm")->isChecked());
        QVERIFY(!rig.check("chkpx")->isChecked());
        QVERIFY(!rig.get<QGroupBox>("frameopt")->isHidden());
        QVERIFY(rig.get<QGroupBox>("frameipx")->isHidden());
        QVERIFY(rig.get<QGroupBox>("framedefault")->isHidden());

        Target negative;
        negative.Timeout = -5;
        Rig other(negative);
        QCOMPARE(other.box("txttimeout")->text(), QStringLiteral("-5"));
    }

    void loadingANetWareTargetStartsInNetWareMode()
    {
        Target t = webTarget();
        t.UseIPX = true;
        t.UsePX = true;
        Rig rig(t);
        for (const char *name : {"chkpx", "chkm", "chkp"}) {
            QVERIFY2(!rig.check(name)->isChecked(), name);
            QVERIFY2(!rig.check(name)->isEnabled(), name);
        }
        QVERIFY(rig.get<QGroupBox>("frameopt")->isHidden());
        QVERIFY(!rig.get<QGroupBox>("frameipx")->isHidden());
    }

    void netWareBoxSwitchesModes()
    {
        Rig rig;
        rig.check("chkp")->setChecked(true);
        QTest::mouseClick(rig.check("chkipx"), Qt::LeftButton);
        QVERIFY(!rig.check("chkm")->isChecked() && !rig.check("chkp")->isChecked());
        QVERIFY(!rig.check("chkm")->isEnabled());
        QVERIFY(rig.get<QGroupBox>("frameopt")->isHidden());
        QTest::mouseClick(rig.check("chkipx"), Qt::LeftButton);
        QVERIFY(rig.check("chkm")->isEnabled() && rig.check("chkpx")->isEnabled()
            && rig.check("chkp")->isEnabled());
        QVERIFY(!rig.check("chkm")->isChecked());
        QVERIFY(!rig.get<QGroupBox>("frameopt")->isHidden());
        QVERIFY(rig.get<QGroupBox>("frameipx")->isHidden());
    }

    void portBoxToolTipFollowsItsText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("tip");
        QTest::newRow("80") << "80"
                            << "Web server";
        QTest::newRow("81") << "81"
                            << "Port to attempt to connect to";
        QTest::newRow("42") << "42"
                            << "DNS Name server";
        QTest::newRow("8500") << "8500"
                              << "Manugistics";
        QTest::newRow("spaced 13") << " 13"
                                   << "Date and Time service";
        QTest::newRow("too large") << "65549"
                                   << "Port to attempt to connect to";
    }
    void portBoxToolTipFollowsItsText()
    {
        QFETCH(QString, text);
        QFETCH(QString, tip);
        Rig rig;
        for (const char *name : {"txtmport", "txtpxport"}) {
            rig.box(name)->clear();
            QTest::keyClicks(rig.box(name), text);
            QCOMPARE(rig.box(name)->toolTip(), tip);
        }
    }

    void validation_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("methods"); // letters of the checked boxes: x(Pellix) m p i(IPX)
        QTest::addColumn<QString>("pxport");
        QTest::addColumn<QString>("mport");
        QTest::addColumn<QList<Answer>>("answers");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("valid");

        const QString noHost = QStringLiteral("Hostname must be given");
        const QString noMethod = QStringLiteral("Warning: No monitoring methods are defined.\rAre you sure?");
        const QString pellix =
            QStringLiteral("You must give a port number for Pellix\rSuggested port is 3000");
        const QString checking = QStringLiteral(
            "You must give a port number for checking\rSuggested port is 13 (Date and Time service)");
        const QString chargen =
            QStringLiteral("You may not use port 19 (chargen)\rThat was a silly thing to do!");

        QTest::newRow("all fine") << "h"
                                  << "m"
                                  << "3000"
                                  << "80" << QList<Answer> {} << QStringList {} << true;
        QTest::newRow("no host, no method, yes")
            << ""
            << ""
            << "3000"
            << "80" << QList<Answer> {Answer::Yes} << QStringList {noHost, noMethod} << false;
        QTest::newRow("no method, yes")
            << "h"
            << ""
            << "0"
            << "0" << QList<Answer> {Answer::Yes} << QStringList {noMethod} << true;
        QTest::newRow("no method, no")
            << "h"
            << ""
            << "3000"
            << "80" << QList<Answer> {Answer::No} << QStringList {noMethod} << false;
        QTest::newRow("pellix port text") << "h"
                                          << "x"
                                          << "abc"
                                          << "80" << QList<Answer> {} << QStringList {pellix} << false;
        QTest::newRow("pellix off, port 0 fine") << "h"
                                                 << "m"
                                                 << "0"
                                                 << "80" << QList<Answer> {} << QStringList {} << true;
        QTest::newRow("port 0.4 rounds to 0") << "h"
                                              << "m"
                                              << "3000"
                                              << "0.4" << QList<Answer> {} << QStringList {checking} << false;
        QTest::newRow("chargen unchecked") << "h"
                                           << "p"
                                           << "19"
                                           << "80" << QList<Answer> {} << QStringList {chargen} << false;
        QTest::newRow("chargen both boxes one message")
            << "h"
            << "p"
            << "19"
            << "19" << QList<Answer> {} << QStringList {chargen} << false;
        QTest::newRow("everything wrong")
            << ""
            << "xm"
            << "0"
            << "19" << QList<Answer> {} << QStringList {noHost, pellix, chargen} << false;
        QTest::newRow("both ports missing")
            << "h"
            << "xm"
            << ""
            << "" << QList<Answer> {} << QStringList {pellix, checking} << false;
    }
    void validation()
    {
        QFETCH(QString, host);
        QFETCH(QString, methods);
        QFETCH(QString, pxport);
        QFETCH(QString, mport);
        QFETCH(QList<Answer>, answers);
        QFETCH(QStringList, expected);
        QFETCH(bool, valid);

        Rig rig;
        rig.box("txthostname")->setText(host);
        rig.check("chkpx")->setChecked(methods.contains(QLatin1Char('x')));
        rig.check("chkm")->setChecked(methods.contains(QLatin1Char('m')));
        rig.check("chkp")->setChecked(methods.contains(QLatin1Char('p')));
        rig.check("chkipx")->setChecked(methods.contains(QLatin1Char('i')));
        rig.box("txtpxport")->setText(pxport);
        rig.box("txtmport")->setText(mport);
        for (Answer a : answers)
            rig.prompts.queueAnswer(a);

        rig.click("cmdok");
        QCOMPARE(rig.messageTexts(), expected);
        QCOMPARE(rig.prompts.pendingAnswers(), 0);
        for (const auto &m : rig.prompts.messages) {
            const bool question = m.text.startsWith(QStringLiteral("Warning:"));
            QCOMPARE(m.title, question ? QStringLiteral("Sentrel") : QStringLiteral("Incorrect data"));
            QCOMPARE(m.buttons, question ? UserPrompts::Buttons::YesNo : UserPrompts::Buttons::Ok);
            QCOMPARE(m.icon, UserPrompts::Icon::None);
        }
        QCOMPARE(rig.dialog.editAccepted(), valid);
        QCOMPARE(rig.dialog.result() == QDialog::Accepted, valid);
    }

    void numbersThatDoNotFitAreRefused_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("pellix port") << "txtpxport"
                                     << "40000"
                                     << "Pellix port must be a number from -32768 to 32767";
        QTest::newRow("port") << "txtmport"
                              << "65536"
                              << "Monitoring port must be a number from -32768 to 32767";
        QTest::newRow("timeout") << "txttimeout"
                                 << "-40000"
                                 << "Socket timeout must be a number from -32768 to 32767";
        QTest::newRow("rtt") << "txtmaxrtt"
                             << "1e9"
                             << "Maximum roundtrip time must be a number from -32768 to 32767";
        QTest::newRow("slots") << "txtslots"
                               << "32768"
                               << "License slots must be a number from -32768 to 32767";
        QTest::newRow("load") << "txtload"
                              << "2147483648"
                              << "Load level must be a number from -2147483648 to 2147483647";
    }
    void numbersThatDoNotFitAreRefused()
    {
        QFETCH(QString, box);
        QFETCH(QString, text);
        QFETCH(QString, message);
        Rig rig;
        rig.box(box.toLatin1().constData())->setText(text);
        rig.click("cmdok");
        QCOMPARE(rig.messageTexts(), QStringList {message});
        QCOMPARE(rig.prompts.messages.constFirst().title, QStringLiteral("Incorrect data"));
        QVERIFY(!rig.dialog.editAccepted());
    }

    void longestFittingValuesAreAccepted()
    {
        Rig rig;
        rig.box("txttimeout")->setText(QStringLiteral("32767"));
        rig.box("txtload")->setText(QStringLiteral("-2147483648"));
        rig.box("txthostname")->setText(QString(255, QLatin1Char('a')));
        rig.click("cmdok");
        QVERIFY(rig.prompts.messages.isEmpty());
        Target t;
        rig.dialog.storeInto(t);
        QCOMPARE(t.Timeout, int16_t(32767));
        QCOMPARE(t.LoadLevel, std::numeric_limits<int32_t>::min());
    }

    void overlongHostnameIsRefused()
    {
        Rig rig;
        rig.box("txthostname")->setText(QString(256, QLatin1Char('a')));
        rig.click("cmdok");
        QCOMPARE(rig.messageTexts(),
            QStringList {QStringLiteral("Hostname may not be longer than 255 characters")});
        QVERIFY(!rig.dialog.editAccepted());
    }

    void emptyDescriptionTakesHostEvenWhenRefused()
    {
        Rig rig;
        rig.box("txtdesc")->clear();
        rig.box("txtmport")->setText(QStringLiteral("19"));
        rig.click("cmdok");
        QVERIFY(!rig.dialog.editAccepted());
        QCOMPARE(rig.box("txtdesc")->text(), QStringLiteral("web1"));
    }

    void storingWritesDefinitionAndResetsResult()
    {
        Rig rig;
        rig.box("txtpxport")->setText(QStringLiteral("abc"));
        rig.box("txtmport")->setText(QStringLiteral("0"));
        rig.check("chkm")->setChecked(false);
        rig.check("chkp")->setChecked(true);
        rig.box("txttimeout")->setText(QStringLiteral(" 7.5"));
        rig.check("chktimeout")->setChecked(true);
        rig.box("txtmaxrtt")->setText(QStringLiteral("-4"));
        rig.box("txtdesc")->setText(QStringLiteral(" spaced "));
        rig.get<QPlainTextEdit>("txtuser")->setPlainText(QStringLiteral("line1\nline2"));
        rig.click("cmdok");
        QVERIFY(rig.dialog.editAccepted());

        Target t = webTarget();
        const QDateTime checked = QDateTime::fromSecsSinceEpoch(1000);
        t.LastCheck = checked;
        t.Row = 4;
        rig.dialog.storeInto(t);
        QCOMPARE(t.PXPort, int16_t(3000));
        QCOMPARE(t.Port, int16_t(13));
        QCOMPARE(t.RTT, int16_t(99));
        QCOMPARE(t.Timeout, int16_t(8));
        QVERIFY(t.TimeOK);
        QCOMPARE(t.Desc, QStringLiteral(" spaced "));
        QCOMPARE(t.User, QStringLiteral("line1\r\nline2"));
        QVERIFY(!t.UseM && t.UseP && !t.UsePX && !t.UseIPX);
        QCOMPARE(t.SmoothedRtt, -1.0);
        QCOMPARE(t.Status, TargetStatus::Unknown);
        QVERIFY(t.Info.isEmpty() && t.Output.isEmpty());
        QCOMPARE(t.MinSlots, int16_t(5));
        QCOMPARE(t.LoadLevel, 90);
        QCOMPARE(t.LastCheck, checked);
        QCOMPARE(t.Row, int16_t(4));
    }

    void storingKeepsSmoothedRttWithoutEcho()
    {
        Rig rig;
        rig.box("txtmaxrtt")->setText(QStringLiteral("1"));
        rig.click("cmdok");
        Target t = webTarget();
        rig.dialog.storeInto(t);
        QCOMPARE(t.SmoothedRtt, 12.5);
        QCOMPARE(t.RTT, int16_t(1));
    }

    void presets_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("startInNetWare");
        QTest::addColumn<QString>("checked"); // x m p i t(timeout ok)
        QTest::addColumn<bool>("methodsEnabled");
        QTest::addColumn<QString>("mport");
        QTest::addColumn<QString>("pxport");
        QTest::addColumn<QString>("timeout");

        QTest::newRow("UNIX Svr") << "Command5" << false << "xmp" << true << "13"
                                  << "3000"
                                  << "5";
        QTest::newRow("Notes Svr") << "Command7" << false << "mp" << true << "1352"
                                   << "4711"
                                   << "1";
        QTest::newRow("DNS Svr") << "Command8" << false << "mt" << true << "53"
                                 << "4711"
                                 << "1";
        QTest::newRow("Oracle") << "Command10" << false << "m" << true << "1526"
                                << "4711"
                                << "5";
        QTest::newRow("NT Svr") << "Command3" << false << "mp" << true << "13"
                                << "4711"
                                << "5";
        QTest::newRow("Web Svr") << "Command1" << false << "m" << true << "80"
                                 << "4711"
                                 << "10";
        QTest::newRow("Telnet") << "Command4" << false << "mt" << true << "23"
                                << "4711"
                                << "5";
        QTest::newRow("NetBios") << "Command12" << false << "m" << true << "139"
                                 << "4711"
                                 << "5";
        QTest::newRow("AS/400") << "Command6" << false << "p" << true << "0"
                                << "4711"
                                << "5";
        QTest::newRow("Mail Svr") << "Command2" << false << "m" << true << "25"
                                  << "4711"
                                  << "15";
        QTest::newRow("Router") << "Command9" << false << "p" << true << "0"
                                << "4711"
                                << "2";
        QTest::newRow("Netware") << "Command11" << false << "i" << false << "13"
                                 << "4711"
                                 << "15";
        QTest::newRow("Web Svr leaves NetWare") << "Command1" << true << "m" << true << "80"
                                                << "4711"
                                                << "10";
        QTest::newRow("DNS Svr keeps NetWare") << "Command8" << true << "mit" << false << "53"
                                               << "4711"
                                               << "1";
        QTest::newRow("Netware from NetWare") << "Command11" << true << "i" << false << "13"
                                              << "4711"
                                              << "15";
    }
    void presets()
    {
        QFETCH(QString, button);
        QFETCH(bool, startInNetWare);
        QFETCH(QString, checked);
        QFETCH(bool, methodsEnabled);
        QFETCH(QString, mport);
        QFETCH(QString, pxport);
        QFETCH(QString, timeout);

        Target t = webTarget();
        t.PXPort = 4711;
        t.UseIPX = startInNetWare;
        t.RTT = 321;
        Rig rig(t);
        rig.click("cmddetails");
        rig.click(button.toLatin1().constData());

        const struct
        {
            const char *name;
            char letter;
        } boxes[] = {{"chkpx", 'x'}, {"chkm", 'm'}, {"chkp", 'p'}, {"chkipx", 'i'}, {"chktimeout", 't'}};
        for (const auto &b : boxes)
            QVERIFY2(rig.check(b.name)->isChecked() == checked.contains(QLatin1Char(b.letter)), b.name);
        for (const char *name : {"chkpx", "chkm", "chkp"})
            QVERIFY2(rig.check(name)->isEnabled() == methodsEnabled, name);
        QCOMPARE(rig.box("txtmport")->text(), mport);
        QCOMPARE(rig.box("txtpxport")->text(), pxport);
        QCOMPARE(rig.box("txttimeout")->text(), timeout);
        const bool netWare = checked.contains(QLatin1Char('i'));
        QCOMPARE(rig.get<QGroupBox>("frameipx")->isHidden(), !netWare);
        QCOMPARE(rig.get<QGroupBox>("frameopt")->isHidden(), netWare);
        // Presets touch neither the host, the description nor the round-trip limit.
        QCOMPARE(rig.box("txthostname")->text(), QStringLiteral("web1"));
        QCOMPARE(rig.box("txtdesc")->text(), QStringLiteral("Web one"));
        QCOMPARE(rig.box("txtmaxrtt")->text(), QStringLiteral("321"));
    }

    void twoLineCheckBoxTogglesOnItsSecondLine()
    {
        Target t = webTarget();
        t.UseIPX = true;
        Rig rig(t);
        QCheckBox *slots = rig.check("chkslots");
        QCOMPARE(slots->text(), QStringLiteral("Warn when available license slots less than"));
        QTest::mouseClick(slots, Qt::LeftButton, {}, QPoint(slots->width() / 2, slots->height() - 3));
        QVERIFY(slots->isChecked());
    }

    void presetButtonsCarryTheirToolTips()
    {
        Rig rig;
        QCOMPARE(rig.get<QPushButton>("Command5")->text(), QStringLiteral("UNIX Svr"));
        QCOMPARE(rig.get<QPushButton>("Command3")->toolTip(),
            QStringLiteral("NT Server with Simple TCPIP Services installed"));
        QCOMPARE(rig.get<QPushButton>("Command9")->toolTip(),
            QStringLiteral("Router, Hub or other network device"));
        QCOMPARE(rig.get<QPushButton>("Command11")->focusPolicy(), Qt::ClickFocus);
    }

    void detailsWidensAndNarrows()
    {
        Rig rig;
        const double dpiX = rig.dialog.logicalDpiX();
        const double dpiY = rig.dialog.logicalDpiY();
        QCOMPARE(rig.dialog.size(), twipsSize(3345, 5265, dpiX, dpiY));
        rig.click("cmddetails");
        QCOMPARE(rig.dialog.widthTwips(), 7545);
        QCOMPARE(rig.dialog.size(), twipsSize(7425, 5265, dpiX, dpiY));
        QVERIFY(!rig.get<QGroupBox>("framedefault")->isHidden());
        QVERIFY(!rig.get<QPlainTextEdit>("txtuser")->isHidden());
        QVERIFY(!rig.get<QLabel>("lbluser")->isHidden());
        rig.click("cmddetails");
        QCOMPARE(rig.dialog.widthTwips(), 3465);
        QCOMPARE(rig.dialog.size(), twipsSize(3345, 5265, dpiX, dpiY));
        QVERIFY(rig.get<QGroupBox>("framedefault")->isHidden());
        QVERIFY(rig.get<QPlainTextEdit>("txtuser")->isHidden());
    }

    void controlsSitAtTheirTwips()
    {
        Rig rig;
        const double dpi = rig.dialog.logicalDpiX();
        QCOMPARE(rig.box("txthostname")->geometry(), twipsRect(120, 960, 3135, 285, dpi, dpi));
        QCOMPARE(rig.box("txtmport")->geometry(), twipsRect(2280, 720, 495, 285, dpi, dpi));
        QCOMPARE(rig.get<QPushButton>("cmdprompt")->geometry(), twipsRect(2880, 2040, 255, 255, dpi, dpi));
        QCOMPARE(rig.get<QPushButton>("Command12")->geometry(), twipsRect(3000, 720, 855, 255, dpi, dpi));
    }

    void focusOrder()
    {
        Rig rig;
        rig.click("cmddetails");
        rig.dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&rig.dialog));
        rig.box("txtdesc")->setFocus();
        const QStringList expected {QStringLiteral("txthostname"), QStringLiteral("chkpx"),
            QStringLiteral("txtpxport"), QStringLiteral("chkm"), QStringLiteral("txtmport"),
            QStringLiteral("chkp"), QStringLiteral("chkipx"), QStringLiteral("txttimeout"),
            QStringLiteral("chktimeout"), QStringLiteral("txtuser"), QStringLiteral("cmdok"),
            QStringLiteral("cmdcancel"), QStringLiteral("cmddetails"), QStringLiteral("txtmaxrtt"),
            QStringLiteral("cmdprompt"), QStringLiteral("txtdesc")};
        QStringList seen;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            seen << QApplication::focusWidget()->objectName();
        }
        // The NetWare thresholds are hidden in TCP/IP mode, so Tab passes over them.
        QCOMPARE(seen, expected);
    }

    void accessKeysMoveToTheirBoxes()
    {
        Rig rig;
        rig.dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&rig.dialog));
        QTest::keyClick(&rig.dialog, Qt::Key_H, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), rig.box("txthostname"));
        QTest::keyClick(&rig.dialog, Qt::Key_T, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), rig.box("txttimeout"));
    }

    void cancelLeavesTargetUnchanged()
    {
        Target t = webTarget();
        const Target before = t;
        ScriptedPrompts prompts;
        QTimer::singleShot(0, this, [] {
            auto *dialog = qobject_cast<ConfigDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->findChild<QLineEdit *>(QStringLiteral("txthostname"))->setText(QStringLiteral("changed"));
            QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("cmdcancel")), Qt::LeftButton);
        });
        QVERIFY(!editTarget(nullptr, t, prompts));
        QCOMPARE(t.Hostname, before.Hostname);
        QCOMPARE(t.Status, before.Status);
        QCOMPARE(t.Info, before.Info);
    }

    void okThroughEditTargetStores()
    {
        Target t = webTarget();
        ScriptedPrompts prompts;
        QTimer::singleShot(0, this, [] {
            auto *dialog = qobject_cast<ConfigDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->findChild<QLineEdit *>(QStringLiteral("txthostname"))->setText(QStringLiteral("changed"));
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        QVERIFY(editTarget(nullptr, t, prompts));
        QCOMPARE(t.Hostname, QStringLiteral("changed"));
        QCOMPARE(t.Status, TargetStatus::Unknown);
    }

    void promptHandsThePortToThePicker_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("initiallySelected");
        QTest::addColumn<QString>("pick"); // entry to double-click, empty: Cancel
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("tip");
        QTest::newRow("80 selects Web server, cancel") << "80"
                                                       << "Web server"
                                                       << ""
                                                       << " 80"
                                                       << "Web server";
        QTest::newRow("3000 selects nothing, SNMP") << "3000"
                                                    << ""
                                                    << "SNMP Agent"
                                                    << " 161"
                                                    << "Port to attempt to connect to";
        QTest::newRow("pick then cancel keeps") << "23"
                                                << "Telnet server"
                                                << ""
                                                << " 23"
                                                << "Telnet service";
        QTest::newRow("text cancelled gives 0") << "abc"
                                                << ""
                                                << ""
                                                << " 0"
                                                << "Port to attempt to connect to";
        QTest::newRow("too large stays as typed") << "99999"
                                                  << ""
                                                  << ""
                                                  << "99999"
                                                  << "Port to attempt to connect to";
        QTest::newRow("too large then chosen") << "99999"
                                               << ""
                                               << "FTP server"
                                               << " 21"
                                               << "FTP service";
    }
    void promptHandsThePortToThePicker()
    {
        QFETCH(QString, start);
        QFETCH(QString, initiallySelected);
        QFETCH(QString, pick);
        QFETCH(QString, after);
        QFETCH(QString, tip);
        Rig rig;
        rig.box("txtmport")->setText(start);
        rig.click("cmdprompt");
        PortPicker *picker = rig.dialog.portPicker();
        QVERIFY(picker);
        QVERIFY(picker->isVisible());
        auto *list = picker->findChild<QListWidget *>(QStringLiteral("lstports"));
        const auto selected = list->selectedItems();
        QCOMPARE(selected.isEmpty() ? QString() : selected.constFirst()->text(), initiallySelected);
        if (pick.isEmpty()) {
            list->setCurrentRow(0);
            QTest::mouseClick(picker->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
        } else {
            QListWidgetItem *entry = list->findItems(pick, Qt::MatchExactly).constFirst();
            list->scrollToItem(entry);
            const QPoint at = list->visualItemRect(entry).center();
            // A double click counts on the entry that took the press before it.
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        }
        QVERIFY(!picker->isVisible());
        QCOMPARE(rig.box("txtmport")->text(), after);
        QCOMPARE(rig.box("txtmport")->toolTip(), tip);
        QTRY_VERIFY(!rig.dialog.portPicker());
    }
};

QTEST_MAIN(TstConfigDialog)
#include "tst_configdialog.moc"
