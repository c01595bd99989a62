#pragma once

#include "engine/Target.h"
#include "settings/DesktopSettings.h"

#include <QDialog>
#include <QHash>
#include <QPointer>

class QCheckBox;
class QLineEdit;

namespace sentrel {

// The preferences window `frmpref`: update interval, ping decay rate, alert pop-ups,
// parallel checks and the font sizes of the grid and the details box. Modeless; OK
// writes the GlobalSettings it was given and reports the font sizes the user typed,
// Cancel changes nothing.
class PreferencesDialog : public QDialog
{
    Q_OBJECT
public:
    // Largest font size in points that OK accepts.
    static constexpr double MaxFontSize = 512.0;
    static constexpr int MinParallel = 1;
    static constexpr int MaxParallel = 256;

    // Loads the fields from the settings and the two current font sizes; the desktop
    // choices from desktop, when given (otherwise they are the dialog's own).
    PreferencesDialog(GlobalSettings &settings, double gridFontSize, double detailsFontSize,
        QWidget *parent = nullptr, DesktopSettings *desktop = nullptr);

    // Shows the one instance: creates and loads it when there is none, otherwise only
    // brings it forward without reloading. The window deletes itself when closed.
    static PreferencesDialog *showPreferences(QPointer<PreferencesDialog> &instance, GlobalSettings &settings,
        double gridFontSize, double detailsFontSize, QWidget *parent, DesktopSettings *desktop = nullptr);

Q_SIGNALS:
    // After OK, each only for a box the user typed a usable size into: the window stays open
    // while small mode changes the fonts, and a size merely shown at opening must not undo that.
    void gridFontSizeChosen(double points);
    void detailsFontSizeChosen(double points);

private:
    void cmdokClicked();
    // Writes the box to value only when the user changed it since the window was loaded.
    void applyChanged(const QCheckBox *box, bool &value) const;

    GlobalSettings &m_settings;
    QCheckBox *chkwarn;
    QCheckBox *chkerror;
    QLineEdit *txtdecay;
    QLineEdit *txtfreq;
    QLineEdit *txtlbfont;
    QLineEdit *txtdbfont;
    QLineEdit *txtparallel;
    DesktopSettings m_ownDesktop;
    DesktopSettings *m_desktop;
    QCheckBox *chktray;
    QCheckBox *chknotify;
    QCheckBox *chkgroup;
    // Each check box's state when the window was loaded.
    QHash<const QCheckBox *, bool> m_loadedChecks;
};

} // namespace sentrel
