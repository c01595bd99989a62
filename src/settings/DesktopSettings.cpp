#include "settings/DesktopSettings.h"

#include "settings/SettingsStore.h"

namespace sentrel {

namespace {

struct Key
{
    const char16_t *section;
    const char16_t *key;
    bool DesktopSettings::*field;
};

constexpr Key keys[] = {
    {u"Window", u"HideToTray", &DesktopSettings::HideToTray},
    {u"PopUp", u"Notify", &DesktopSettings::Notify},
    {u"PopUp", u"GroupAlerts", &DesktopSettings::GroupAlerts},
    {u"Window", u"History", &DesktopSettings::History},
};

} // namespace

DesktopSettings readDesktopSettings(const SettingsStore &store)
{
    DesktopSettings s;
    for (const Key &k : keys) {
        const QString text = store.get(QString::fromUtf16(k.section), QString::fromUtf16(k.key), QString());
        s.*k.field = parseBool(text).value_or(s.*k.field);
    }
    return s;
}

void saveDesktopSettings(SettingsStore &store, const DesktopSettings &settings)
{
    for (const Key &k : keys)
        store.save(QString::fromUtf16(k.section), QString::fromUtf16(k.key), boolText(settings.*k.field));
}

} // namespace sentrel
