#pragma once

#include "engine/Target.h"
#include "engine/UserPrompts.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace sentrel {

// The logging options dialog `frmlogopts`: log file, record layout and separator.
// OK writes Filename (as typed), LogSep and LogMode; Cancel changes nothing. After
// acceptance the caller shows logFileCaption() of the new Filename.
class LogOptionsDialog : public QDialog
{
    Q_OBJECT
public:
    LogOptionsDialog(GlobalSettings &settings, UserPrompts &prompts, QWidget *parent = nullptr);

private:
    void cmdfilenameClicked();
    void cmdokClicked();

    GlobalSettings &m_settings;
    UserPrompts &m_prompts;
    QRadioButton *optmultiline;
    QCheckBox *chkheadings;
    QRadioButton *optsingle;
    QRadioButton *opttab;
    QRadioButton *optcomma;
    QRadioButton *optfwo;
    QLineEdit *txtfilename;
};

} // namespace sentrel
