#pragma once

#include <QHash>
#include <QLocale>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace sentrel {

// The per-user settings store: sections of keys holding one text each, in an INI
// file that QSettings reads and writes alike. Section and key names are matched
// without regard to letter case; saving over a key that exists in another case
// updates that key. The file is replaced as a whole, and only once the new content
// is completely on disk, so neither a killed process nor a full disk damages it. A file
// that is not UTF-8 is read line by line as Windows-1252 where a line is not UTF-8.
class SettingsStore
{
public:
    // The user's own store: Sentrel/Sentrel.ini under the configuration folder.
    SettingsStore();
    // The store held in the INI file at path (created by the first write).
    explicit SettingsStore(const QString &path);
    ~SettingsStore();

    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // The stored text, or defaultText when the key is missing.
    QString get(const QString &section, const QString &key, const QString &defaultText) const;
    // Stores text under section/key, creating both as needed.
    void save(const QString &section, const QString &key, const QString &text);
    // Writes pending saves to the file now (the destructor does it too); false when
    // the file could not be written, which leaves the file as it was.
    bool sync();

    QString fileName() const { return m_path; }
    // Why the file could not be read ("not a regular file", "larger than 64 MiB", the
    // system's words); empty when it was read or is missing. Such a store reads as empty
    // and never writes the file.
    QString readError() const { return m_readError; }
    // Every stored key as "Section/Key", spelled as in the file.
    QStringList keys() const { return m_values.keys(); }

private:
    void load();
    static QString folded(const QString &section, const QString &key);

    QString m_path;
    // "Section/Key" as spelled in the file -> text.
    QMap<QString, QString> m_values;
    // Case-folded "section/key" -> the spelling in m_values.
    QHash<QString, QString> m_index;
    QString m_readError;
    bool m_dirty = false;
};

// "True" or "False".
QString boolText(bool value);
// "True"/"False" in any letter case, blanks around allowed; anything else is no Boolean.
std::optional<bool> parseBool(QStringView text);

// A whole decimal number between min and max; blanks around it and a sign are
// allowed, anything else (letters, fractions, out of range) is no number.
std::optional<qint64> parseInteger(QStringView text, qint64 min, qint64 max);
// A port for a signed 16-bit field: written as the user sees it (0 to 65535) or as
// the signed value older files hold (-32768 to -1); both name the same 16 bits.
std::optional<int16_t> parsePort(QStringView text);

// A length in twips: whole twips as a plain integer, a fraction with the
// locale's decimal separator.
QString lengthText(double twips, const QLocale &locale = QLocale());
// A length written with "." or with the locale's decimal separator. Values
// beyond the 32-bit integer range are refused, so they convert to pixels safely.
std::optional<double> parseLength(QStringView text, const QLocale &locale = QLocale());

} // namespace sentrel
