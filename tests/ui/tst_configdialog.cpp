#include "CycleRig.h"
#include "ScriptedPrompts.h"
#include "ui/ConfigDialog.h"
#include "ui/PortPicker.h"

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
using namespace Qt::StringLiterals;

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

struct DialogRig
{
    explicit DialogRig(const Target &t = webTarget())
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
    bool hidden(const char *name) { return get<QWidget>(name)->isHidden(); }
    void click(const char *name) { QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton); }
    // The check boxes in letters: x Pellix, m normal, p echo, i NetWare, t no error on timeout.
    static constexpr std::pair<const char *, char> boxes[] = {
        {"chkpx", 'x'}, {"chkm", 'm'}, {"chkp", 'p'}, {"chkipx", 'i'}, {"chktimeout", 't'}};
    QString checkedBoxes()
    {
        QString letters;
        for (const auto &[name, letter] : boxes) {
            if (check(name)->isChecked())
                letters += QLatin1Char(letter);
        }
        return letters;
    }
    void setCheckedBoxes(const QString &letters)
    {
        for (const auto &[name, letter] : boxes)
            check(name)->setChecked(letters.contains(QLatin1Char(letter)));
    }
    // The texts of the named boxes (separated by blanks), joined by "|".
    QString texts(const char *names)
    {
        QStringList joined;
        for (const QString &name : QString::fromLatin1(names).split(QLatin1Char(' ')))
            joined << box(name.toLatin1().constData())->text();
        return joined.join(QLatin1Char('|'));
    }
    // Types "box=text;box=text" into the named boxes.
    void edit(const QString &edits)
    {
        for (const QString &e : edits.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            box(e.section(QLatin1Char('='), 0, 0).toLatin1().constData())
                ->setText(e.section(QLatin1Char('='), 1));
    }
    int enabledMethods()
    {
        return check("chkpx")->isEnabled() + check("chkm")->isEnabled() + check("chkp")->isEnabled();
    }

    ScriptedPrompts prompts;
    ConfigDialog dialog;
};

} // namespace

class TstConfigDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void windowLoadsTheTargetAndWidensForDetails()
    {
        DialogRig rig;

        QCOMPARE(rig.texts("txthostname txtdesc txtmport txtpxport txttimeout txtmaxrtt txtslots txtload"),
            QStringLiteral("web1|Web one|80|3000| 10|250|5|90"));
        QCOMPARE(rig.get<QPlainTextEdit>("txtuser")->toPlainText(), QStringLiteral("call Bob\nor Ann"));
        QCOMPARE(rig.checkedBoxes(), QStringLiteral("m"));
        QVERIFY(!rig.hidden("frameopt") && rig.hidden("frameipx"));
        Target negative;
        negative.Timeout = -5;
        QCOMPARE(DialogRig(negative).box("txttimeout")->text(), QStringLiteral("-5"));
        // The port boxes' tooltips follow their text (the monitoring port's: the picker case).
        rig.box("txtpxport")->setText(QStringLiteral(" 13"));
        QCOMPARE(rig.box("txtpxport")->toolTip(), QStringLiteral("Date and Time service"));

        // Details widen the window and show the presets and the notes; a second press hides them.
        for (int round = 0; round < 2; ++round) {
            QVERIFY(rig.hidden("framedefault") && rig.hidden("txtuser") && rig.hidden("lbluser"));
            const int narrow = rig.dialog.width();
            rig.click("cmddetails");
            QVERIFY(rig.dialog.width() > narrow);
            QVERIFY(!rig.hidden("framedefault") && !rig.hidden("txtuser") && !rig.hidden("lbluser"));
            rig.click("cmddetails");
            QCOMPARE(rig.dialog.width(), narrow);
        }
    }

    void netWareMode()
    {
        Target t = webTarget();
        t.UseIPX = true;
        t.UsePX = true;
        DialogRig loaded(t);
        QCOMPARE(loaded.checkedBoxes(), QStringLiteral("i"));
        QCOMPARE(loaded.enabledMethods(), 0);
        QVERIFY(loaded.hidden("frameopt") && !loaded.hidden("frameipx"));

        DialogRig rig;
        rig.check("chkp")->setChecked(true);
        QTest::mouseClick(rig.check("chkipx"), Qt::LeftButton);
        QCOMPARE(rig.checkedBoxes(), QStringLiteral("i"));
        QCOMPARE(rig.enabledMethods(), 0);
        QVERIFY(rig.hidden("frameopt") && !rig.hidden("frameipx"));
        QTest::mouseClick(rig.check("chkipx"), Qt::LeftButton);
        QCOMPARE(rig.enabledMethods(), 3);
        QCOMPARE(rig.checkedBoxes(), QString());
        QVERIFY(!rig.hidden("frameopt") && rig.hidden("frameipx"));

        // The license slots box wraps its caption onto a second line, which still toggles it.
        QCheckBox *slots = loaded.check("chkslots");
        QTest::mouseClick(slots, Qt::LeftButton, {}, QPoint(slots->width() / 2, slots->height() - 3));
        QVERIFY(slots->isChecked());
    }

    // Each press of OK runs every check, so one press can show several boxes.
    void validation_data()
    {
        QTest::addColumn<QString>("methods"); // as DialogRig::checkedBoxes()
        QTest::addColumn<QString>("edits"); // "box=text;box=text" on top of webTarget()
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
        const auto row = [](const char *tag, const char *methods, const QString &edits,
                             const QList<Answer> &answers, const QStringList &expected, bool valid) {
            QTest::newRow(tag) << QString::fromLatin1(methods) << edits << answers << expected << valid;
        };
        const QString longHost = u"txthostname="_s + QString(255, QLatin1Char('a'));

        row("no host, no method, yes", "", u"txthostname="_s, {Answer::Yes}, {noHost, noMethod}, false);
        row("no method, yes", "", u"txtpxport=0;txtmport=0"_s, {Answer::Yes}, {noMethod}, true);
        row("no method, no", "", QString(), {Answer::No}, {noMethod}, false);
        row("pellix port text", "x", u"txtpxport=abc"_s, {}, {pellix}, false);
        row("port 0.4 rounds to 0", "m", u"txtmport=0.4"_s, {}, {checking}, false);
        row("chargen both boxes one message", "p", u"txtpxport=19;txtmport=19"_s, {}, {chargen}, false);
        row("everything wrong", "xm", u"txthostname=;txtpxport=0;txtmport=19"_s, {},
            {noHost, pellix, chargen}, false);
        row("negative pellix port", "m", u"txtpxport=-1"_s, {},
            {u"Pellix port must be a number from 0 to 65535"_s}, false);
        row("port beyond 16 bits", "m", u"txtmport=65536"_s, {},
            {u"Monitoring port must be a number from 0 to 65535"_s}, false);
        row("timeout below 16 bits", "m", u"txttimeout=-32769"_s, {},
            {u"Socket timeout must be a number from -32768 to 32767"_s}, false);
        row("slots beyond 16 bits by rounding", "m", u"txtslots=32767.5"_s, {},
            {u"License slots must be a number from -32768 to 32767"_s}, false);
        row("load beyond 32 bits", "m", u"txtload=2147483648"_s, {},
            {u"Load level must be a number from -2147483648 to 2147483647"_s}, false);
        row("host of 256 characters", "m", longHost + QLatin1Char('a'), {},
            {u"Hostname may not be longer than 255 characters"_s}, false);
        row("longest values that fit", "m",
            longHost
                + u";txtmport=65535;txtpxport=65535;txttimeout=32767;txtslots=-32768;txtload=-2147483648"_s,
            {}, {}, true);
    }
    void validation()
    {
        QFETCH(QString, methods);
        QFETCH(QString, edits);
        QFETCH(QList<Answer>, answers);
        QFETCH(QStringList, expected);
        QFETCH(bool, valid);

        DialogRig rig;
        rig.setCheckedBoxes(methods);
        rig.box("txtdesc")->clear();
        rig.edit(edits);
        for (Answer a : answers)
            rig.prompts.queueAnswer(a);

        rig.click("cmdok");
        QStringList texts;
        for (const auto &m : rig.prompts.messages) {
            texts << m.text;
            const bool question = m.text.startsWith(QStringLiteral("Warning:"));
            QCOMPARE(std::tuple(m.title, m.buttons, m.icon),
                std::tuple(question ? u"Sentrel"_s : u"Incorrect data"_s,
                    question ? UserPrompts::Buttons::YesNo : UserPrompts::Buttons::Ok,
                    UserPrompts::Icon::None));
        }
        QCOMPARE(texts, expected);
        QCOMPARE(rig.prompts.pendingAnswers(), 0);
        QCOMPARE(rig.dialog.editAccepted(), valid);
        QCOMPARE(rig.dialog.result() == QDialog::Accepted, valid);
        // An empty description takes the host name, whether or not the entries passed.
        QCOMPARE(rig.box("txtdesc")->text(), rig.box("txthostname")->text());
    }

    void storingWritesDefinitionAndResetsResult()
    {
        DialogRig rig;
        rig.edit(u"txtpxport=abc;txtmport=0;txttimeout= 7.5;txtmaxrtt=-4;txtdesc= spaced "_s);
        rig.setCheckedBoxes(QStringLiteral("pt"));
        rig.get<QPlainTextEdit>("txtuser")->setPlainText(QStringLiteral("line1\nline2"));
        rig.click("cmdok");
        QVERIFY(rig.dialog.editAccepted());

        Target t = webTarget();
        const QDateTime checked = QDateTime::fromSecsSinceEpoch(1000);
        t.LastCheck = checked;
        t.Row = 4;
        t.Uid = QStringLiteral("00000000000000aa");
        rig.dialog.storeInto(t);
        // A port of 0 or no number takes the suggested port, a limit below 1 takes 99, 7.5 rounds to even.
        QCOMPARE(std::tuple(t.PXPort, t.Port, t.RTT, t.Timeout),
            std::tuple(int16_t(3000), int16_t(13), int16_t(99), int16_t(8)));
        QVERIFY(t.TimeOK && !t.UseM && t.UseP && !t.UsePX && !t.UseIPX);
        QCOMPARE(std::tuple(t.Desc, t.User), std::tuple(u" spaced "_s, u"line1\r\nline2"_s));
        // With the echo check the averaged round-trip time and the last result are reset.
        QCOMPARE(std::tuple(t.SmoothedRtt, t.Status, t.Info, t.Output),
            std::tuple(-1.0, TargetStatus::Unknown, QString(), QString()));
        // Boxes left alone store what they loaded; the last check and the row are kept.
        QCOMPARE(std::tuple(t.MinSlots, t.LoadLevel, t.LastCheck, t.Row, t.Uid),
            std::tuple(int16_t(5), 90, checked, int16_t(4), u"00000000000000aa"_s));

        // Without the echo check the averaged round-trip time stays. Another host is another
        // Target to the history: a new identity.
        DialogRig noEcho;
        noEcho.edit(u"txtmaxrtt=1;txthostname=web2"_s);
        noEcho.click("cmdok");
        t = webTarget();
        t.Uid = QStringLiteral("00000000000000aa");
        noEcho.dialog.storeInto(t);
        QCOMPARE(std::tuple(t.SmoothedRtt, t.RTT), std::tuple(12.5, int16_t(1)));
        QVERIFY(isTargetUid(t.Uid));
        QVERIFY(t.Uid != u"00000000000000aa"_s);
    }

    void presets_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("startInNetWare");
        QTest::addColumn<QString>("expected"); // checkedBoxes()|txtmport|txtpxport|txttimeout
        // Every button is its own action for the user, so each has its row.
        QTest::newRow("UNIX Svr") << "Command5" << false << QStringLiteral("xmp|13|3000|5");
        QTest::newRow("Notes Svr") << "Command7" << false << QStringLiteral("mp|1352|4711|1");
        QTest::newRow("DNS Svr") << "Command8" << false << QStringLiteral("mt|53|4711|1");
        QTest::newRow("Oracle") << "Command10" << false << QStringLiteral("m|1526|4711|5");
        QTest::newRow("NT Svr") << "Command3" << false << QStringLiteral("mp|13|4711|5");
        QTest::newRow("Web Svr") << "Command1" << false << QStringLiteral("m|80|4711|10");
        QTest::newRow("Telnet") << "Command4" << false << QStringLiteral("mt|23|4711|5");
        QTest::newRow("NetBios") << "Command12" << false << QStringLiteral("m|139|4711|5");
        QTest::newRow("AS/400") << "Command6" << false << QStringLiteral("p|0|4711|5");
        QTest::newRow("Mail Svr") << "Command2" << false << QStringLiteral("m|25|4711|15");
        QTest::newRow("Router") << "Command9" << false << QStringLiteral("p|0|4711|2");
        QTest::newRow("Netware") << "Command11" << false << QStringLiteral("i|13|4711|15");
        QTest::newRow("Web Svr leaves NetWare") << "Command1" << true << QStringLiteral("m|80|4711|10");
        QTest::newRow("DNS Svr keeps NetWare") << "Command8" << true << QStringLiteral("mit|53|4711|1");
    }
    void presets()
    {
        QFETCH(QString, button);
        QFETCH(bool, startInNetWare);
        QFETCH(QString, expected);

        Target t = webTarget();
        t.PXPort = 4711;
        t.UseIPX = startInNetWare;
        t.RTT = 321;
        DialogRig rig(t);
        rig.click("cmddetails");
        rig.click(button.toLatin1().constData());

        QCOMPARE(
            rig.checkedBoxes() + QLatin1Char('|') + rig.texts("txtmport txtpxport txttimeout"), expected);
        // Presets touch neither the host, the description nor the round-trip limit.
        QCOMPARE(rig.texts("txthostname txtdesc txtmaxrtt"), QStringLiteral("web1|Web one|321"));
    }

    void tabOrder()
    {
        DialogRig rig;
        rig.click("cmddetails");
        rig.dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&rig.dialog));
        // Tab passes over the NetWare thresholds, hidden in TCP/IP mode, and over the preset buttons.
        const auto tabFrom = [](QWidget *from) {
            from->setFocus();
            QTest::keyClick(from, Qt::Key_Tab);
            return QApplication::focusWidget()->objectName();
        };
        QCOMPARE(tabFrom(rig.box("txtdesc")), QStringLiteral("txthostname"));
        QCOMPARE(tabFrom(rig.check("chktimeout")), QStringLiteral("txtuser"));
        QCOMPARE(tabFrom(rig.get<QPushButton>("cmddetails")), QStringLiteral("txtmaxrtt"));
        QCOMPARE(tabFrom(rig.get<QPushButton>("cmdprompt")), QStringLiteral("txtdesc"));
    }

    // OK through editTarget() is driven from the main window's tests.
    void editTargetCancelLeavesTargetUnchanged()
    {
        Target t = webTarget();
        ScriptedPrompts prompts;
        QTimer::singleShot(0, this, [] {
            auto *dialog = qobject_cast<ConfigDialog *>(QApplication::activeModalWidget());
            dialog->findChild<QLineEdit *>(QStringLiteral("txthostname"))->setText(QStringLiteral("changed"));
            QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("cmdcancel")), Qt::LeftButton);
        });
        QVERIFY(!editTarget(nullptr, t, prompts));
        QCOMPARE(t.Hostname, QStringLiteral("web1"));
    }

    // A port above 32767 typed into the box is shown as typed and checked on that port.
    void highPortIsCheckedOnThatPort()
    {
        const auto server = test::highPortServer({QByteArrayLiteral("220 ready\r\n")});
        Target t = webTarget();
        t.Hostname = FormatDottedAddress(server->address());
        DialogRig rig(t);
        rig.box("txtmport")->clear();
        QTest::keyClicks(rig.box("txtmport"), QString::number(server->port()));
        rig.click("cmdok");
        QVERIFY(rig.dialog.editAccepted());
        rig.dialog.storeInto(t);
        QCOMPARE(DialogRig(t).box("txtmport")->text(), QString::number(server->port()));
        test::CycleRig cycle;
        QVERIFY(cycle.runCycleOn(t));
        QCOMPARE(server->acceptedCount(), 1);
        QCOMPARE(cycle.table[0].Status, TargetStatus::Ok);
    }

    void promptHandsThePortToThePicker_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("initiallySelected");
        QTest::addColumn<QString>("pick"); // entry to double-click, empty: Cancel
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("tip");
        const QString other = QStringLiteral("Port to attempt to connect to");
        QTest::newRow("80 selects Web server, cancel")
            << "80" << QStringLiteral("Web server") << "" << QStringLiteral(" 80") << "Web server";
        QTest::newRow("above 32767 handed over and back")
            << "45678" << QString() << "" << QStringLiteral(" 45678") << other;
        QTest::newRow("text cancelled gives 0") << "abc" << QString() << "" << QStringLiteral(" 0") << other;
        QTest::newRow("too large stays as typed")
            << "99999" << QString() << "" << QStringLiteral("99999") << other;
        QTest::newRow("too large then chosen")
            << "99999" << QString() << "FTP server" << QStringLiteral(" 21") << "FTP service";
    }
    void promptHandsThePortToThePicker()
    {
        QFETCH(QString, start);
        QFETCH(QString, initiallySelected);
        QFETCH(QString, pick);
        QFETCH(QString, after);
        QFETCH(QString, tip);
        DialogRig rig;
        rig.box("txtmport")->setText(start);
        rig.click("cmdprompt");
        PortPicker *picker = rig.dialog.portPicker();
        QVERIFY(picker && picker->isVisible());
        auto *list = picker->findChild<QListWidget *>(QStringLiteral("lstports"));
        const auto selected = list->selectedItems();
        QCOMPARE(selected.isEmpty() ? QString() : selected.constFirst()->text(), initiallySelected);
        if (pick.isEmpty()) {
            // Choosing another entry before Cancel changes nothing.
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

    // The port picker on its own: its entries in their order, and the port each one stands for.
    void toolWindowWithEntriesInTheirOrder()
    {
        PortPicker picker(0);
        auto *list = picker.findChild<QListWidget *>(QStringLiteral("lstports"));
        QStringList entries;
        for (int i = 0; i < list->count(); ++i)
            entries << list->item(i)->text() + QLatin1Char('=')
                    + list->item(i)->data(Qt::UserRole).toString();
        QCOMPARE(entries.join(QLatin1Char('|')),
            QStringLiteral("System status=11|Date and time=13|Network status=15|Quote of the day=17|"
                           "FTP server=21|Telnet server=23|SMTP Mail server=25|DNS Server=53|"
                           "NNTP News server=119|NetBIOS connection (NT)=139|SNMP Agent=161|"
                           "rlogind server=513|Web server=80|Lotus notes=1352|Oracle listener=1526|"
                           "MPRD Manugistics=8000|NADPLN Manugistics=8500"));
    }

    void pickerSelect_data()
    {
        QTest::addColumn<int>("offered");
        QTest::addColumn<int>("row"); // entry chosen before Select, -1: none
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("chosen");
        QTest::newRow("takes the chosen entry") << 80 << 14 << 1526 << true;
        QTest::newRow("nothing selected stays open, port above 32767 kept") << 45678 << -1 << 45678 << false;
    }
    void pickerSelect()
    {
        QFETCH(int, offered);
        QFETCH(int, row);
        QFETCH(int, port);
        QFETCH(bool, chosen);
        PortPicker picker(static_cast<uint16_t>(offered));
        picker.open();
        if (row >= 0)
            picker.findChild<QListWidget *>(QStringLiteral("lstports"))->setCurrentRow(row);
        QTest::mouseClick(picker.findChild<QPushButton *>(QStringLiteral("cmdselect")), Qt::LeftButton);
        QCOMPARE(picker.isVisible(), !chosen);
        QCOMPARE(picker.portChosen(), chosen);
        QCOMPARE(picker.selectedPort(), uint16_t(port));
        QCOMPARE(picker.result(), int(chosen ? QDialog::Accepted : QDialog::Rejected));
    }

    void pickerKeyboardNeitherEntersNorEscapes()
    {
        PortPicker picker(80);
        auto *select = picker.findChild<QPushButton *>(QStringLiteral("cmdselect"));
        auto *cancel = picker.findChild<QPushButton *>(QStringLiteral("Command1"));
        picker.open();
        QVERIFY(QTest::qWaitForWindowActive(&picker));
        QCOMPARE(QApplication::focusWidget(), cancel);
        QTest::keyClick(cancel, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), select);
        QTest::keyClick(select, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), picker.findChild<QListWidget *>(QStringLiteral("lstports")));
        QTest::keyClick(&picker, Qt::Key_Escape);
        QTest::keyClick(&picker, Qt::Key_Return);
        QVERIFY(picker.isVisible());
        QVERIFY(!picker.portChosen());
    }
};

SENTREL_TEST_MAIN(TstConfigDialog)
#include "tst_configdialog.moc"
