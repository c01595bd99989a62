#pragma once

#include "engine/Target.h"
#include "engine/UserPrompts.h"

namespace sentrel {

// The filter of the log file chooser.
QString logFileFilter();

// The log file menu item: asks for a log file (opening where the current one is, or in
// the program's folder) and takes the chosen name without its outer blanks. True when
// Filename changed: the caller then shows logFileCaption() and makes logging available.
bool chooseLogFile(GlobalSettings &settings, UserPrompts &prompts);

// "Clear log": after confirmation deletes the log file and reports the outcome.
void clearLog(const GlobalSettings &settings, UserPrompts &prompts);

// "Switch log file": keeps the log file as Filename + ".old" (replacing an older one) and reports the
// outcome.
void switchLog(const GlobalSettings &settings, UserPrompts &prompts);

} // namespace sentrel
