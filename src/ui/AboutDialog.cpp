#include "ui/AboutDialog.h"

#include "ui/AppInfo.h"
#include "ui/Fonts.h"
#include "ui/Logo.h"
#include "ui/Twips.h"

#include <QFrame>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

namespace sentrel {

QStringList systemInfoPrograms()
{
    return {QStringLiteral("hardinfo"), QStringLiteral("gnome-system-monitor"),
        QStringLiteral("plasma-systemmonitor"), QStringLiteral("ksysguard"),
        QStringLiteral("xfce4-taskmanager")};
}

QString findSystemInfoProgram(const QStringList &searchPaths)
{
    for (const QString &program : systemInfoPrograms()) {
        const QString path = QStandardPaths::findExecutable(program, searchPaths);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

void startSystemInfo(UserPrompts &prompts, const QStringList &searchPaths)
{
    const QString program = findSystemInfoProgram(searchPaths);
    if (!program.isEmpty() && QProcess::startDetached(program, {}))
        return;
    prompts.message(QStringLiteral("System Information Is Unavailable At This Time"), programTitle(),
        UserPrompts::Buttons::Ok, UserPrompts::Icon::None);
}

QString versionText()
{
    return QStringLiteral("Version ") + programVersion();
}

AboutDialog::AboutDialog(UserPrompts &prompts, QWidget *parent)
    : QDialog(parent)
    , m_prompts(prompts)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About ") + programTitle());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFont(dialogFont());

    auto *picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    placeTwips(picIcon, 240, 240, 720, 720);
    picIcon->setPixmap(programIcon().pixmap(picIcon->size()));

    auto *lblTitle = new QLabel(programTitle(), this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = arialFont(14);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    placeTwips(lblTitle, 1200, 240, 4560, 480);

    auto *lblVersion = new QLabel(versionText(), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    placeTwips(lblVersion, 1200, 780, 4560, 255);

    auto *lblDescription = new QLabel(
        QStringLiteral(
            "Provides real-time status monitoring of TCP/IP servers and devices with user-extendible "
            "daemons.  Intended to allow the monitoring of TCP/IP hosts with additional user configurable "
            "data without having to resort to SNMP.  Version 2 now also checks Netware IPX servers and "
            "examines available license slots."),
        this);
    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    lblDescription->setWordWrap(true);
    lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(lblDescription, 1200, 1140, 4560, 1455);

    auto *line = new QFrame(this);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    placeTwips(line, 120, 2700, 5760, 30);

    auto *lblDisclaimer = new QLabel(
        QStringLiteral(
            "Sentrel watches TCP/IP hosts and services from a Linux desktop. Built with the Qt toolkit."),
        this);
    lblDisclaimer->setObjectName(QStringLiteral("lblDisclaimer"));
    lblDisclaimer->setWordWrap(true);
    lblDisclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(lblDisclaimer, 240, 2880, 3960, 855);

    auto *cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    placeTwips(cmdOK, 4440, 2880, 1440, 375);
    cmdOK->setDefault(true);
    auto *cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    placeTwips(cmdSysInfo, 4440, 3360, 1440, 375);
    cmdSysInfo->setAutoDefault(false);

    fixClientSizeTwips(this, 6000, 3855);
    centreOnScreen(this);

    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, [this] { startSystemInfo(m_prompts, m_searchPaths); });
}

} // namespace sentrel
