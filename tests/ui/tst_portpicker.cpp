#include "ui/PortPicker.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace sentrel;

namespace {

QListWidget *listOf(PortPicker &picker)
{
    return picker.findChild<QListWidget *>(QStringLiteral("lstports"));
}

QPushButton *buttonOf(PortPicker &picker, const char *name)
{
    return picker.findChild<QPushButton *>(QString::fromLatin1(name));
}

} // namespace

class TstPortPicker : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void toolWindowWithEntriesInTheirOrder()
    {
        PortPicker picker(0);
        QStringList entries;
        for (int i = 0; i < listOf(picker)->count(); ++i) {
            const QListWidgetItem *item = listOf(picker)->item(i);
            entries << item->text() + QLatin1Char('=') + item->data(Qt::UserRole).toString();
        }
        QCOMPARE(entries.join(QLatin1Char('|')),
            QStringLiteral("System status=11|Date and time=13|Network status=15|Quote of the day=17|"
                           "FTP server=21|Telnet server=23|SMTP Mail server=25|DNS Server=53|"
                           "NNTP News server=119|NetBIOS connection (NT)=139|SNMP Agent=161|"
                           "rlogind server=513|Web server=80|Lotus notes=1352|Oracle listener=1526|"
                           "MPRD Manugistics=8000|NADPLN Manugistics=8500"));
    }

    void select_data()
    {
        QTest::addColumn<int>("offered");
        QTest::addColumn<int>("row"); // entry chosen before Select, -1: none
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("chosen");
        QTest::newRow("keeps the offered port") << 80 << -1 << 80 << true;
        QTest::newRow("takes the chosen entry") << 80 << 14 << 1526 << true;
        QTest::newRow("nothing selected stays open, port above 32767 kept") << 45678 << -1 << 45678 << false;
    }
    void select()
    {
        QFETCH(int, offered);
        QFETCH(int, row);
        QFETCH(int, port);
        QFETCH(bool, chosen);
        PortPicker picker(static_cast<uint16_t>(offered));
        picker.open();
        if (row >= 0)
            listOf(picker)->setCurrentRow(row);
        QTest::mouseClick(buttonOf(picker, "cmdselect"), Qt::LeftButton);
        QCOMPARE(picker.isVisible(), !chosen);
        QCOMPARE(picker.portChosen(), chosen);
        QCOMPARE(picker.selectedPort(), uint16_t(port));
        QCOMPARE(picker.result(), int(chosen ? QDialog::Accepted : QDialog::Rejected));
    }

    void keyboardNeitherEntersNorEscapes()
    {
        PortPicker picker(80);
        QVERIFY(!buttonOf(picker, "cmdselect")->autoDefault());
        QVERIFY(!buttonOf(picker, "Command1")->autoDefault());
        picker.open();
        QVERIFY(QTest::qWaitForWindowActive(&picker));
        QCOMPARE(QApplication::focusWidget(), buttonOf(picker, "Command1"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), buttonOf(picker, "cmdselect"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), listOf(picker));
        QTest::keyClick(&picker, Qt::Key_Escape);
        QTest::keyClick(&picker, Qt::Key_Return);
        QVERIFY(picker.isVisible());
        QVERIFY(!picker.portChosen());
    }
};

SENTREL_TEST_MAIN(TstPortPicker)
#include "tst_portpicker.moc"
