#include "ui/QtPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace sentrel {

QString qtFileFilter(const QString &filter)
{
    if (!filter.contains(QLatin1Char('|')))
        return filter;
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QString patterns = parts[i + 1].trimmed();
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt reads the patterns from the parentheses, so a description without them gets them.
        QString entry = description.contains(QLatin1Char('('))
            ? description
            : description + QStringLiteral(" (") + patterns + QLatin1Char(')');
        // "*.*" means every file where the filters come from, but here only names with a dot.
        static const QRegularExpression everyFile(QStringLiteral("(?<=[( ])\\*\\.\\*(?=[ )])"));
        entry.replace(everyFile, QStringLiteral("*"));
        entries.append(entry);
    }
    return entries.join(QStringLiteral(";;"));
}

QString defaultSuffixOf(const QString &filter)
{
    QString first = filter;
    if (filter.contains(QLatin1Char('|'))) {
        first = filter.section(QLatin1Char('|'), 1, 1);
    } else {
        const qsizetype open = filter.indexOf(QLatin1Char('('));
        const qsizetype close = filter.indexOf(QLatin1Char(')'), open);
        if (open >= 0 && close > open)
            first = filter.mid(open + 1, close - open - 1);
    }
    static const QRegularExpression plain(QStringLiteral("^\\*\\.([A-Za-z0-9_]+)$"));
    const auto match = plain.match(first.trimmed());
    return match.hasMatch() ? match.captured(1) : QString();
}

QtPrompts::QtPrompts(QWidget *parent)
    : m_parent(parent)
{ }

QWidget *QtPrompts::owner() const
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    return m_parent.data();
}

UserPrompts::Answer QtPrompts::message(const QString &text, const QString &title, Buttons buttons, Icon icon)
{
    QMessageBox box(owner());
    box.setWindowTitle(title);
    // The system's texts separate lines by a bare CR, which a label does not break at.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setText(shown);
    box.setTextFormat(Qt::PlainText);
    switch (icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    }
    box.exec();
    QAbstractButton *pressed = box.clickedButton();
    switch (pressed ? box.standardButton(pressed) : QMessageBox::NoButton) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    default:
        break;
    }
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
}

QString QtPrompts::chooseFile(
    bool save, const QString &title, const QString &directory, const QString &fileName, const QString &filter)
{
    QFileDialog dialog(owner());
    if (!title.isEmpty())
        dialog.setWindowTitle(title);
    dialog.setDirectory(directory);
    if (!filter.isEmpty())
        dialog.setNameFilter(qtFileFilter(filter));
    dialog.setDefaultSuffix(defaultSuffixOf(filter));
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace sentrel
