#include "ui/PortPicker.h"

#include "ui/Fonts.h"
#include "ui/Twips.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>

namespace sentrel {

const PortPicker::Service PortPicker::services[17] = {
    {"System status", 11},
    {"Date and time", 13},
    {"Network status", 15},
    {"Quote of the day", 17},
    {"FTP server", 21},
    {"Telnet server", 23},
    {"SMTP Mail server", 25},
    {"DNS Server", 53},
    {"NNTP News server", 119},
    {"NetBIOS connection (NT)", 139},
    {"SNMP Agent", 161},
    {"rlogind server", 513},
    {"Web server", 80},
    {"Lotus notes", 1352},
    {"Oracle listener", 1526},
    {"MPRD Manugistics", 8000},
    {"NADPLN Manugistics", 8500},
};

PortPicker::PortPicker(uint16_t selectedPort, QWidget *parent)
    : QDialog(parent)
    , m_selectedPort(selectedPort)
    , m_currentPort(selectedPort)
{
    setObjectName(QStringLiteral("frmports"));
    setWindowTitle(QStringLiteral("Select Port"));
    // A tool window with a title bar only: no close, minimise or maximise button.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
    setFont(dialogFont());

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("lstports"));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    placeTwips(m_list, 120, 120, 2535, 840);

    m_select = new QPushButton(QStringLiteral("Select"), this);
    m_select->setObjectName(QStringLiteral("cmdselect"));
    placeTwips(m_select, 2760, 120, 855, 375);

    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("Command1"));
    placeTwips(m_cancel, 2760, 600, 855, 375);

    // Neither button answers Enter.
    m_select->setAutoDefault(false);
    m_cancel->setAutoDefault(false);
    setTabOrder(m_cancel, m_select);
    setTabOrder(m_select, m_list);
    m_cancel->setFocus();

    fixClientSizeTwips(this, 3705, 1080);
    centreOnScreen(this);

    for (const Service &service : services)
        item(service.port, QString::fromLatin1(service.text));

    connect(m_select, &QPushButton::clicked, this, &PortPicker::selectport);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &PortPicker::selectport);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void PortPicker::item(uint16_t port, const QString &text)
{
    auto *entry = new QListWidgetItem(text, m_list);
    entry->setData(Qt::UserRole, int(port));
    if (port == m_currentPort)
        m_list->setCurrentItem(entry);
}

void PortPicker::selectport()
{
    const QList<QListWidgetItem *> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    m_selectedPort = static_cast<uint16_t>(selected.constFirst()->data(Qt::UserRole).toInt());
    m_chosen = true;
    accept();
}

void PortPicker::keyPressEvent(QKeyEvent *event)
{
    // No button is the cancel button, so Esc does not close the picker.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace sentrel
