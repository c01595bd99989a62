#include "ui/LogOptionsDialog.h"

#include "logging/LogFiles.h"
#include "ui/Fonts.h"
#include "ui/Twips.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace sentrel {

namespace {

template<class W>
W *placed(W *widget, const char *name, int l, int t, int w, int h)
{
    widget->setObjectName(QString::fromLatin1(name));
    placeTwips(widget, l, t, w, h);
    return widget;
}

} // namespace

LogOptionsDialog::LogOptionsDialog(GlobalSettings &settings, UserPrompts &prompts, QWidget *parent)
    : QDialog(parent)
    , m_settings(settings)
    , m_prompts(prompts)
{
    setObjectName(QStringLiteral("frmlogopts"));
    setWindowTitle(QStringLiteral("Logging options"));
    setModal(true);
    setFont(dialogFont());

    auto *Frame2 = placed(new QGroupBox(QStringLiteral("Format"), this), "Frame2", 120, 120, 2655, 1335);
    optmultiline = placed(
        new QRadioButton(QStringLiteral("Multiline output"), Frame2), "optmultiline", 120, 300, 2415, 255);
    chkheadings = placed(
        new QCheckBox(QStringLiteral("Output column headings"), Frame2), "chkheadings", 360, 600, 2175, 255);
    optsingle = placed(
        new QRadioButton(QStringLiteral("Single line output"), Frame2), "optsingle", 120, 900, 2415, 255);

    auto *Frame1 = placed(new QGroupBox(QStringLiteral("Options"), this), "Frame1", 2880, 120, 2535, 1335);
    opttab =
        placed(new QRadioButton(QStringLiteral("Tab separated data"), Frame1), "opttab", 120, 300, 2295, 255);
    optcomma = placed(
        new QRadioButton(QStringLiteral("Comma separated data"), Frame1), "optcomma", 120, 600, 2295, 255);
    optfwo =
        placed(new QRadioButton(QStringLiteral("Fixed width output"), Frame1), "optfwo", 120, 900, 2295, 255);

    // No log layout with headings or fixed-width columns exists, so these two only show what might be.
    chkheadings->setEnabled(false);
    optfwo->setEnabled(false);

    placed(new QLabel(QStringLiteral("Log file:"), this), "Label1", 120, 1560, 1215, 255);
    txtfilename = placed(new QLineEdit(this), "txtfilename", 120, 1800, 4815, 285);
    auto *cmdfilename =
        placed(new QPushButton(QStringLiteral("..."), this), "cmdfilename", 5040, 1800, 375, 285);
    auto *cmdok = placed(new QPushButton(QStringLiteral("OK"), this), "cmdok", 2880, 2280, 1215, 375);
    auto *cmdcancel =
        placed(new QPushButton(QStringLiteral("Cancel"), this), "cmdcancel", 4200, 2280, 1215, 375);
    cmdok->setDefault(true);
    cmdfilename->setAutoDefault(false);
    cmdcancel->setAutoDefault(false);

    fixClientSizeTwips(this, 5535, 2775);
    centreOnScreen(this);

    optmultiline->setChecked(true);
    optcomma->setChecked(true);
    txtfilename->setText(settings.Filename);
    if (settings.LogSep == QStringLiteral(","))
        optcomma->setChecked(true);
    if (settings.LogSep == QStringLiteral("\t"))
        opttab->setChecked(true);
    if (settings.LogMode == 0)
        optmultiline->setChecked(true);
    if (settings.LogMode == 1)
        optsingle->setChecked(true);

    connect(cmdfilename, &QPushButton::clicked, this, &LogOptionsDialog::cmdfilenameClicked);
    connect(cmdok, &QPushButton::clicked, this, &LogOptionsDialog::cmdokClicked);
    connect(cmdcancel, &QPushButton::clicked, this, &QDialog::reject);
}

void LogOptionsDialog::cmdfilenameClicked()
{
    const QString current = txtfilename->text();
    QString folder = DirectoryOf(current);
    if (folder.isEmpty())
        folder = programDataFolder();
    const QString chosen = m_prompts.chooseFile(true, QString(), folder, current, QString());
    if (!chosen.isEmpty())
        txtfilename->setText(chosen);
}

void LogOptionsDialog::cmdokClicked()
{
    m_settings.Filename = txtfilename->text();
    if (optcomma->isChecked())
        m_settings.LogSep = QStringLiteral(",");
    else if (opttab->isChecked())
        m_settings.LogSep = QStringLiteral("\t");
    else
        m_settings.LogSep.clear();
    m_settings.LogMode = optsingle->isChecked() ? 1 : 0;
    accept();
}

} // namespace sentrel
