#pragma once

#include <QString>

namespace sentrel {

// The folder part of a "/"-separated path: the text before the last "/", except
// that a "/" standing first stays ("/a.log" gives "/"); empty when there is no "/".
QString DirectoryOf(const QString &path);

// The text after the last "/" of a path; the whole path when it has none.
QString FileNameOf(const QString &path);

// The per-user folder that stands in for the program's own folder, created when missing.
QString programDataFolder();

// The log file used until the user chooses another: "sentrel.log" in programDataFolder().
QString defaultLogFile();

// The caption of the log file's menu item: "File: " and the file's name.
QString logFileCaption(const QString &logFile);

// The name a switched log file is kept under: the whole name followed by ".old".
QString backupNameOf(const QString &logFile);

// The result of a file operation: on failure the errno and the system's text for it.
struct FileOpResult
{
    bool ok = true;
    int error = 0;
    QString errorText;
};

// The system's description of an errno value.
QString systemErrorText(int error);

// Deletes one file (never a folder).
FileOpResult removeFile(const QString &path);

// Keeps the log file as its backup, replacing an older backup; when it fails the older backup stays.
FileOpResult switchLogFile(const QString &logFile);

} // namespace sentrel
