#include "ui/LogCommands.h"

#include "logging/LogFiles.h"
#include "ui/FieldText.h"

namespace sentrel {

QString logFileFilter()
{
    return QStringLiteral("Log files (*.log)|*.log|All files|*.*");
}

bool chooseLogFile(GlobalSettings &settings, UserPrompts &prompts)
{
    QString folder = programDataFolder();
    QString fileName = QStringLiteral("sentrel.log");
    if (!settings.Filename.isEmpty()) {
        const QString directory = DirectoryOf(settings.Filename);
        if (!directory.isEmpty())
            folder = directory;
        fileName = settings.Filename;
    }
    const QString chosen =
        trimBlanks(prompts.chooseFile(true, programTitle(), folder, fileName, logFileFilter()));
    if (chosen.isEmpty())
        return false;
    settings.Filename = chosen;
    return true;
}

void clearLog(const GlobalSettings &settings, UserPrompts &prompts)
{
    const auto answer = prompts.message(QStringLiteral("Are you sure you want to clear the log file?"),
        QStringLiteral("Erase log file"), UserPrompts::Buttons::OkCancel, UserPrompts::Icon::Question);
    if (answer != UserPrompts::Answer::Ok)
        return;
    const FileOpResult removed = removeFile(settings.Filename);
    if (!removed.ok) {
        prompts.message(QStringLiteral("Failed to delete file:\r") + removed.errorText,
            QStringLiteral("Error"), UserPrompts::Buttons::Ok, UserPrompts::Icon::Exclamation);
        return;
    }
    prompts.message(QStringLiteral("Log file cleared."), programTitle(), UserPrompts::Buttons::Ok,
        UserPrompts::Icon::None);
}

void switchLog(const GlobalSettings &settings, UserPrompts &prompts)
{
    const FileOpResult switched = switchLogFile(settings.Filename);
    if (!switched.ok) {
        prompts.message(QStringLiteral("Failed to switch logfile:\r") + switched.errorText,
            QStringLiteral("Error"), UserPrompts::Buttons::Ok, UserPrompts::Icon::Exclamation);
        return;
    }
    prompts.message(QStringLiteral("Logfile moved to ") + backupNameOf(settings.Filename), programTitle(),
        UserPrompts::Buttons::Ok, UserPrompts::Icon::None);
}

} // namespace sentrel
