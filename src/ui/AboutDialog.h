#pragma once

#include "engine/UserPrompts.h"

#include <QDialog>
#include <QStringList>

namespace sentrel {

// The system-information programs tried in turn by "&System Info...".
QStringList systemInfoPrograms();

// The path of the first system-information program found in `searchPaths` (PATH when
// empty); empty when there is none.
QString findSystemInfoProgram(const QStringList &searchPaths = {});

// Starts the first system-information program found, detached and without a shell;
// when none is found or it cannot be started, says so in a message box.
void startSystemInfo(UserPrompts &prompts, const QStringList &searchPaths = {});

// The version text both informational windows show: "Version 2.3.4".
QString versionText();

// The About window `frmAbout`: product, version, description, credit line, OK and
// "&System Info...". Modal; OK closes it.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(UserPrompts &prompts, QWidget *parent = nullptr);

    // Where "&System Info..." looks for its programs; PATH when empty (the default).
    void setSystemInfoSearchPaths(const QStringList &paths) { m_searchPaths = paths; }

private:
    UserPrompts &m_prompts;
    QStringList m_searchPaths;
};

} // namespace sentrel
