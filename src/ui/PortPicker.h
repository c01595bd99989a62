#pragma once

#include <QDialog>

#include <cstdint>

class QListWidget;
class QPushButton;

namespace sentrel {

// The service port picker `frmports`: a modal list of well-known services from which
// the user picks the port of the normal TCP check.
class PortPicker : public QDialog
{
    Q_OBJECT
public:
    // One entry of the list: the text shown and the port attached to it.
    struct Service
    {
        const char *text;
        uint16_t port;
    };
    static const Service services[17];

    // Opens with the entry of `selectedPort` selected, if the list has one.
    explicit PortPicker(uint16_t selectedPort, QWidget *parent = nullptr);

    // SelectedPort as the picker leaves it: the chosen service's port, or the port handed in.
    uint16_t selectedPort() const { return m_selectedPort; }
    // Whether the user chose a service (Select or double click) rather than cancelling.
    bool portChosen() const { return m_chosen; }

    // Takes the selected entry's port and closes; with no entry selected nothing happens.
    void selectport();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void item(uint16_t port, const QString &text);

    // Ports 0 to 65535, as the user sees them.
    uint16_t m_selectedPort;
    uint16_t m_currentPort;
    bool m_chosen = false;
    QListWidget *m_list;
    QPushButton *m_select;
    QPushButton *m_cancel;
};

} // namespace sentrel
