#pragma once

#include "engine/Target.h"
#include "engine/UserPrompts.h"

#include <QDialog>
#include <QPointer>

#include <cstdint>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace sentrel {

class PortPicker;

// The Target definition dialog `frmconfig`: shows one Target's definition, lets the user
// change it (by hand, by a preset or through the port picker), checks it on OK and
// keeps it ready to be stored. It never touches a Target itself: the caller stores the
// entries with storeInto() once the dialog is accepted.
class ConfigDialog : public QDialog
{
    Q_OBJECT
public:
    ConfigDialog(const Target &target, UserPrompts &prompts, QWidget *parent = nullptr);

    // The tool tip of a port box for a port number.
    static QString portdesc(uint16_t port);

    // Checks the entries, showing one message box per failed check (so one call can show
    // several); fills an empty description with the host name. True when they may be stored.
    bool validate();

    // Writes the entries into a Target: its definition fields, Status 0, empty Info and
    // Output, and SmoothedRtt -1 when the ICMP echo check is on. Call after acceptance.
    void storeInto(Target &target) const;

    // EditAccepted: true once OK passed validation, false after Cancel or any other close.
    bool editAccepted() const { return m_editAccepted; }

    // The window's outer width in twips: narrow or widened by Details.
    int widthTwips() const { return m_widthTwips; }

    // The port picker while it is open over this dialog.
    PortPicker *portPicker() const { return m_picker; }

public Q_SLOTS:
    void reject() override;

private:
    struct Preset;
    static const Preset presets[12];

    void buildControls();
    void load(const Target &target);
    void cmdokClicked();
    void cmddetailsClicked();
    void cmdpromptClicked();
    void setNetWareMode(bool on);
    void applyPreset(const Preset &preset);
    void applyWidth();

    UserPrompts &m_prompts;
    bool m_editAccepted = false;
    int m_widthTwips;
    QPointer<PortPicker> m_picker;

    QLineEdit *txtdesc = nullptr;
    QLineEdit *txthostname = nullptr;
    QGroupBox *Frame1 = nullptr;
    QCheckBox *chkpx = nullptr;
    QLineEdit *txtpxport = nullptr;
    QCheckBox *chkm = nullptr;
    QLineEdit *txtmport = nullptr;
    QPushButton *cmdprompt = nullptr;
    QCheckBox *chkp = nullptr;
    QCheckBox *chkipx = nullptr;
    QGroupBox *frameopt = nullptr;
    QLineEdit *txttimeout = nullptr;
    QCheckBox *chktimeout = nullptr;
    QLineEdit *txtmaxrtt = nullptr;
    QGroupBox *frameipx = nullptr;
    QCheckBox *chkslots = nullptr;
    QLineEdit *txtslots = nullptr;
    QCheckBox *chkload = nullptr;
    QLineEdit *txtload = nullptr;
    QPushButton *cmdok = nullptr;
    QPushButton *cmdcancel = nullptr;
    QPushButton *cmddetails = nullptr;
    QLabel *lbluser = nullptr;
    QPlainTextEdit *txtuser = nullptr;
    QGroupBox *framedefault = nullptr;
};

// `edititem`'s dialog step: shows the definition dialog for `target` modally and, when
// it ends with OK, stores the entries into `target`. Returns EditAccepted. The caller
// stops and restarts its timer and rebuilds the grid.
bool editTarget(QWidget *parent, Target &target, UserPrompts &prompts);

} // namespace sentrel
