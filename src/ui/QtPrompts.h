#pragma once

#include "engine/UserPrompts.h"

#include <QPointer>
#include <QWidget>

namespace sentrel {

// A filter "Log files (*.log)|*.log|All files|*.*" (description|patterns pairs) in Qt's
// form "Log files (*.log);;All files (*)", "*.*" matching every file; a filter without
// "|" is returned as it is.
QString qtFileFilter(const QString &filter);

// The extension of the first pattern of a filter when it is one plain "*.ext" ("log"), else empty.
QString defaultSuffixOf(const QString &filter);

// The desktop program's message boxes (QMessageBox) and file choosers (QFileDialog).
// Each is modal over the window that is modal at the time, else over the given parent.
class QtPrompts : public UserPrompts
{
public:
    explicit QtPrompts(QWidget *parent = nullptr);

    Answer message(const QString &text, const QString &title, Buttons buttons, Icon icon) override;
    // A save chooser accepts a file that does not exist yet and does not ask before
    // naming an existing one (the log file is appended to). An empty title keeps Qt's own.
    QString chooseFile(bool save, const QString &title, const QString &directory, const QString &fileName,
        const QString &filter) override;

private:
    QWidget *owner() const;

    QPointer<QWidget> m_parent;
};

} // namespace sentrel
