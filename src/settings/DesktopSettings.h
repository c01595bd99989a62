#pragma once

namespace sentrel {

class SettingsStore;

// Choices for living on today's desktops: a tray icon to hide in, desktop
// notifications beside the alert windows, and one alert list for a mass outage.
// Every default keeps the program as it was without them.
struct DesktopSettings
{
    bool HideToTray = false; // "Window"/"HideToTray": minimising hides the window to the tray icon
    bool Notify = false; // "PopUp"/"Notify": every alert window also sends a desktop notification
    bool GroupAlerts = false; // "PopUp"/"GroupAlerts": one alert window lists all open problems
    bool History = true; // "Window"/"History": the details area shows the highlighted Target's history

    friend bool operator==(const DesktopSettings &, const DesktopSettings &) = default;
};

// A missing or unreadable key gives its default.
DesktopSettings readDesktopSettings(const SettingsStore &store);
// Writes the keys; the caller syncs the store.
void saveDesktopSettings(SettingsStore &store, const DesktopSettings &settings);

} // namespace sentrel
