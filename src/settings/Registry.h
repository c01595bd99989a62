#pragma once

#include "engine/Target.h"

#include <QString>

#include <cstdint>

namespace sentrel {

class SettingsStore;

// The main window's stored layout and switches, lengths in twips. The window
// fills it before save_registry and applies it after read_registry.
struct WindowState
{
    double Width = 0.0;
    double Height = 0.0;
    double GHeight = 0.0; // grid gridsys
    double DHeight = 0.0; // details box txtdata
    double DTop = 0.0;
    double Left = 0.0;
    double Top = 0.0;
    double Split = 0.0; // splitter bar cmdsize
    int32_t Col0 = 0;
    int32_t Col1 = 0;
    int32_t Col2 = 7500;
    bool Details = false; // optdetails
    bool Enable = true; // optenable: monitoring enabled
    bool LoggingEnabled = false; // optenablelogging
};

// The window's bounds that reading enforces.
namespace WindowLimits {
constexpr double MaxPosition = 9000.0;
constexpr double MinWidth = 4665.0;
constexpr double MinHeight = 1800.0;
} // namespace WindowLimits

// Replaces table, settings and window from the store. Window keys that are
// missing keep window's current values; every other missing or unreadable key
// gives its fixed default (Filename: defaultLogFile). The window position and
// size end inside their limits. Reads at most 32767 Targets; a store without
// any gives an empty table.
void read_registry(const SettingsStore &store, TargetTable &table, GlobalSettings &settings,
    WindowState &window, const QString &defaultLogFile);

// Writes every stored key: the used slots of table renumbered from 0, then the
// window, logging and pop-up sections. False when the store file could not be written.
bool save_registry(SettingsStore &store, const TargetTable &table, const GlobalSettings &settings,
    const WindowState &window);

// The caption of the interval label: "Mins: " and the spaced Delay ("Mins:  5").
QString delayCaption(int16_t delay);

} // namespace sentrel
