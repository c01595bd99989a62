#pragma once

#include "engine/Target.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

namespace sentrel {

class UserPrompts;

// What reading an export file gave: the Targets, or why the file was refused.
struct ExportParseResult
{
    bool ok = false;
    QString error;
    // Every record is fresh apart from its ten exported fields, with Status 0
    // and SmoothedRtt -1; empty for a file that announces no Target.
    std::vector<Target> targets;
};

// Text written on Linux (UTF-8) or by older programs on Windows: UTF-8 when the bytes are
// valid UTF-8, otherwise Windows-1252, in which every byte has a meaning.
QString decodeUtf8OrWindows1252(QByteArrayView bytes);

// The export file for the used slots of table, in UTF-8 with CR LF line ends:
// the count line, then ten comma-separated fields per Target. Double quotes in
// texts are doubled.
QByteArray writeExport(const TargetTable &table);

// Reads an export file (UTF-8, or Windows-1252 when the bytes are not valid UTF-8).
// Refuses a file that ends early, holds a field of the wrong kind or announces
// more than 32767 Targets. Anything after the last announced record is ignored.
ExportParseResult parseExport(const QByteArray &bytes);

// The export command: asks for a file in directory and writes the table to it,
// telling the user the outcome. True when the file was written.
bool exportSettings(const TargetTable &table, UserPrompts &prompts, const QString &directory);

// The import command: asks for a file in directory and replaces table by its
// Targets. True when the table was replaced (the caller then rebuilds the grid);
// on any failure the user is told and the table is unchanged.
bool importSettings(TargetTable &table, UserPrompts &prompts, const QString &directory);

} // namespace sentrel
