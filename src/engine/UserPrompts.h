#pragma once

#include <QString>

namespace sentrel {

// Message boxes and file choosers as the engine asks for them. The desktop
// program answers with real dialogs; tests answer from a script.
class UserPrompts
{
public:
    enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
    enum class Icon { None, Information, Exclamation, Question, Critical };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~UserPrompts() = default;

    // Shows a message box and returns the button pressed (Cancel/No when closed otherwise).
    virtual Answer message(const QString &text, const QString &title, Buttons buttons, Icon icon) = 0;

    // Asks for a file to open or save; the empty text means the user cancelled.
    virtual QString chooseFile(bool save, const QString &title, const QString &directory,
        const QString &fileName, const QString &filter) = 0;
};

// The program's title, used as the title of every message box that names no other.
inline QString programTitle()
{
    return QStringLiteral("Sentrel");
}

} // namespace sentrel
