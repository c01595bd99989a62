#pragma once

#include "engine/UserPrompts.h"

#include <QList>
#include <QMetaType>
#include <QQueue>
#include <QString>

namespace sentrel::test {

// Answers message boxes and file choosers from queued answers and records every request.
// Without a queued answer a message is answered Ok when Ok is its only button and Cancel
// otherwise (as if closed), and a file chooser is cancelled; both are counted as unscripted.
class ScriptedPrompts : public UserPrompts
{
public:
    struct Message
    {
        QString text;
        QString title;
        Buttons buttons;
        Icon icon;
    };
    struct FileRequest
    {
        bool save;
        QString title;
        QString directory;
        QString fileName;
        QString filter;
    };

    void queueAnswer(Answer answer) { m_answers.enqueue(answer); }
    void queueFile(const QString &path) { m_files.enqueue(path); }

    Answer message(const QString &text, const QString &title, Buttons buttons, Icon icon) override;
    QString chooseFile(bool save, const QString &title, const QString &directory, const QString &fileName,
        const QString &filter) override;

    QList<Message> messages;
    QList<FileRequest> fileRequests;
    int unscriptedMessages = 0;
    int unscriptedFiles = 0;

    // Answers still queued (a test that queued too many did not see the prompts it expected).
    qsizetype pendingAnswers() const { return m_answers.size(); }
    qsizetype pendingFiles() const { return m_files.size(); }

private:
    QQueue<Answer> m_answers;
    QQueue<QString> m_files;
};

} // namespace sentrel::test

// For answers as data-driven columns.
Q_DECLARE_METATYPE(sentrel::UserPrompts::Answer)
