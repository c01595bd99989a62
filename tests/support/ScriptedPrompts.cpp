#include "ScriptedPrompts.h"

namespace sentrel::test {

UserPrompts::Answer ScriptedPrompts::message(
    const QString &text, const QString &title, Buttons buttons, Icon icon)
{
    messages.append({text, title, buttons, icon});
    if (!m_answers.isEmpty())
        return m_answers.dequeue();
    ++unscriptedMessages;
    return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
}

QString ScriptedPrompts::chooseFile(
    bool save, const QString &title, const QString &directory, const QString &fileName, const QString &filter)
{
    fileRequests.append({save, title, directory, fileName, filter});
    if (!m_files.isEmpty())
        return m_files.dequeue();
    ++unscriptedFiles;
    return QString();
}

} // namespace sentrel::test
