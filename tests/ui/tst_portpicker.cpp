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

QString selectedText(PortPicker &picker)
{
    const auto selected = listOf(picker)->selectedItems();
    return selected.isEmpty() ? QString() : selected.constFirst()->text();
}

} // namespace

class TstPortPicker : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void windowIsAToolWindowWithoutCloseButton()
    {
        PortPicker picker(80);
        QCOMPARE(picker.objectName(), QStringLiteral("frmports"));
        QCOMPARE(picker.windowTitle(), QStringLiteral("Select Port"));
        QCOMPARE(picker.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
        QVERIFY(picker.windowFlags() & Qt::CustomizeWindowHint);
        QVERIFY(!(picker.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!buttonOf(picker, "cmdselect")->autoDefault());
        QVERIFY(!buttonOf(picker, "Command1")->autoDefault());
        QCOMPARE(buttonOf(picker, "Command1")->text(), QStringLiteral("Cancel"));
    }

    void entriesInTheirOrder()
    {
        PortPicker picker(0);
        const QStringList texts {QStringLiteral("System status"), QStringLiteral("Date and time"),
            QStringLiteral("Network status"), QStringLiteral("Quote of the day"),
            QStringLiteral("FTP server"), QStringLiteral("Telnet server"), QStringLiteral("SMTP Mail server"),
            QStringLiteral("DNS Server"), QStringLiteral("NNTP News server"),
            QStringLiteral("NetBIOS connection (NT)"), QStringLiteral("SNMP Agent"),
            QStringLiteral("rlogind server"), QStringLiteral("Web server"), QStringLiteral("Lotus notes"),
            QStringLiteral("Oracle listener"), QStringLiteral("MPRD Manugistics"),
            QStringLiteral("NADPLN Manugistics")};
        const QList<int> ports {
            11, 13, 15, 17, 21, 23, 25, 53, 119, 139, 161, 513, 80, 1352, 1526, 8000, 8500};
        QListWidget *list = listOf(picker);
        QCOMPARE(list->count(), texts.size());
        for (int i = 0; i < list->count(); ++i) {
            QCOMPARE(list->item(i)->text(), texts[i]);
            QCOMPARE(list->item(i)->data(Qt::UserRole).toInt(), ports[i]);
        }
    }

    void selectKeepsTheOfferedPort()
    {
        PortPicker picker(80);
        picker.open();
        QCOMPARE(selectedText(picker), QStringLiteral("Web server"));
        QTest::mouseClick(buttonOf(picker, "cmdselect"), Qt::LeftButton);
        QVERIFY(!picker.isVisible());
        QVERIFY(picker.portChosen());
        QCOMPARE(picker.selectedPort(), int16_t(80));
    }

    void selectTakesTheChosenEntry()
    {
        PortPicker picker(80);
        picker.open();
        listOf(picker)->setCurrentRow(7);
        QTest::mouseClick(buttonOf(picker, "cmdselect"), Qt::LeftButton);
        QCOMPARE(picker.selectedPort(), int16_t(53));
        QCOMPARE(picker.result(), int(QDialog::Accepted));
    }

    void selectWithoutSelectionStaysOpen()
    {
        PortPicker picker(3000);
        picker.open();
        QTest::mouseClick(buttonOf(picker, "cmdselect"), Qt::LeftButton);
        QVERIFY(picker.isVisible());
        QVERIFY(!picker.portChosen());
        QCOMPARE(picker.selectedPort(), int16_t(3000));
    }

    void neitherEnterNorEscapeCloses()
    {
        PortPicker picker(80);
        picker.open();
        QVERIFY(QTest::qWaitForWindowActive(&picker));
        QTest::keyClick(&picker, Qt::Key_Escape);
        QTest::keyClick(&picker, Qt::Key_Return);
        QVERIFY(picker.isVisible());
    }

    void focusStartsOnCancel()
    {
        PortPicker picker(80);
        picker.open();
        QVERIFY(QTest::qWaitForWindowActive(&picker));
        QCOMPARE(QApplication::focusWidget(), buttonOf(picker, "Command1"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), buttonOf(picker, "cmdselect"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), listOf(picker));
    }
};

QTEST_MAIN(TstPortPicker)
#include "tst_portpicker.moc"
