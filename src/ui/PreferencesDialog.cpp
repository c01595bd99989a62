#include "ui/PreferencesDialog.h"

#include "probes/ProbeTypes.h"
#include "ui/FieldText.h"
#include "ui/Fonts.h"
#include "ui/Twips.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <limits>
#include <utility>

namespace sentrel {

namespace {

constexpr int RowLabelLeft = 120;
constexpr int BoxLeft = 2040;
// Lines up the label's text with the text inside the slightly taller box.
constexpr int LabelDrop = 30;

QLineEdit *row(QWidget *parent, const char *boxName, const char *labelName, const char *caption, int top)
{
    auto *lbl = new QLabel(QString::fromLatin1(caption), parent);
    lbl->setObjectName(QString::fromLatin1(labelName));
    placeTwips(lbl, RowLabelLeft, top + LabelDrop, BoxLeft - RowLabelLeft - 60, 255);
    auto *box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(boxName));
    placeTwips(box, BoxLeft, top, 615, 285);
    return box;
}

constexpr int ButtonTop = 4080;

QCheckBox *desktopBox(QWidget *parent, const char *name, const char *caption, int top)
{
    auto *box = new QCheckBox(QString::fromLatin1(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    placeTwips(box, 120, top, 3135, 255);
    return box;
}

// The number of a box when it is above 0 and, rounded half to even, within [lowest, highest].
std::optional<int> positiveWhole(const QLineEdit *box, int lowest, int highest)
{
    const double value = leadingNumber(box->text());
    if (!(value > 0))
        return std::nullopt;
    const double rounded = roundHalfEven(value);
    if (rounded < lowest || rounded > highest)
        return std::nullopt;
    return static_cast<int>(rounded);
}

// The font size in a box the user has typed into, when it is above 0 and one the toolkit takes.
std::optional<double> typedFontSize(const QLineEdit *box)
{
    const double points = leadingNumber(box->text());
    if (!box->isModified() || !(points > 0) || points > PreferencesDialog::MaxFontSize)
        return std::nullopt;
    return points;
}

} // namespace

PreferencesDialog::PreferencesDialog(GlobalSettings &settings, double gridFontSize, double detailsFontSize,
    QWidget *parent, DesktopSettings *desktop)
    : QDialog(parent)
    , m_settings(settings)
    , m_desktop(desktop ? desktop : &m_ownDesktop)
{
    setObjectName(QStringLiteral("frmpref"));
    setWindowTitle(QStringLiteral("User Preferences"));
    setModal(false);
    setFont(dialogFont());

    chkwarn = new QCheckBox(QStringLiteral("Pop up on 'Warning' status?"), this);
    chkwarn->setObjectName(QStringLiteral("chkwarn"));
    placeTwips(chkwarn, 120, 120, 2535, 255);
    chkerror = new QCheckBox(QStringLiteral("Pop up on 'Error' status?"), this);
    chkerror->setObjectName(QStringLiteral("chkerror"));
    placeTwips(chkerror, 120, 480, 2535, 255);

    txtdecay = row(this, "txtdecay", "lbldecay", "Ping RTT decay rate", 960);
    txtfreq = row(this, "txtfreq", "lblfreq", "Update frequency", 1440);
    auto *mins = new QLabel(QStringLiteral("mins"), this);
    mins->setObjectName(QStringLiteral("lblmins"));
    placeTwips(mins, 2760, 1440 + LabelDrop, 495, 255);
    txtlbfont = row(this, "txtlbfont", "lbllbfont", "Listbox font size", 1920);
    txtdbfont = row(this, "txtdbfont", "lbldbfont", "Details box font size", 2280);
    txtparallel = row(this, "txtparallel", "lblparallel", "Parallel checks", 2640);
    chktray = desktopBox(this, "chktray", "Hide to tray when minimised", 3060);
    chknotify = desktopBox(this, "chknotify", "Desktop notifications", 3360);
    chkgroup = desktopBox(this, "chkgroup", "Group alerts", 3660);

    auto *cmdok = new QPushButton(QStringLiteral("OK"), this);
    cmdok->setObjectName(QStringLiteral("cmdok"));
    placeTwips(cmdok, 240, ButtonTop, 1335, 375);
    auto *cmdcancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdcancel->setObjectName(QStringLiteral("cmdcancel"));
    placeTwips(cmdcancel, 1680, ButtonTop, 1335, 375);
    cmdok->setDefault(true);
    cmdcancel->setAutoDefault(false);

    fixClientSizeTwips(this, 3375, ButtonTop + 495);
    centreOnScreen(this);

    txtdbfont->setText(spacedDecimal(detailsFontSize));
    txtlbfont->setText(spacedDecimal(gridFontSize));
    txtfreq->setText(spaced(settings.Delay));
    txtdecay->setText(spaced(settings.Decay));
    txtparallel->setText(spaced(settings.Parallel));
    for (auto [box, value] : {std::pair {chkwarn, settings.Warn}, std::pair {chkerror, settings.Error},
             std::pair {chktray, m_desktop->HideToTray}, std::pair {chknotify, m_desktop->Notify},
             std::pair {chkgroup, m_desktop->GroupAlerts}}) {
        box->setChecked(value);
        m_loadedChecks.insert(box, value);
    }

    connect(cmdok, &QPushButton::clicked, this, &PreferencesDialog::cmdokClicked);
    connect(cmdcancel, &QPushButton::clicked, this, &QDialog::reject);
}

PreferencesDialog *PreferencesDialog::showPreferences(QPointer<PreferencesDialog> &instance,
    GlobalSettings &settings, double gridFontSize, double detailsFontSize, QWidget *parent,
    DesktopSettings *desktop)
{
    if (!instance) {
        instance = new PreferencesDialog(settings, gridFontSize, detailsFontSize, parent, desktop);
        instance->setAttribute(Qt::WA_DeleteOnClose);
    }
    instance->show();
    instance->raise();
    instance->activateWindow();
    return instance;
}

void PreferencesDialog::cmdokClicked()
{
    constexpr int Max16 = std::numeric_limits<int16_t>::max();
    // A decay rate of 0 would make the ping average divide by zero, so it is ignored like "0".
    if (const auto decay = positiveWhole(txtdecay, 1, Max16))
        m_settings.Decay = static_cast<int16_t>(*decay);
    applyChanged(chkwarn, m_settings.Warn);
    applyChanged(chkerror, m_settings.Error);
    // An interval that rounds to 0 is kept: the scheduler runs it like 1.
    if (const auto delay = positiveWhole(txtfreq, 0, Max16))
        m_settings.Delay = static_cast<int16_t>(*delay);
    if (const auto parallel = positiveWhole(txtparallel, MinParallel, MaxParallel))
        m_settings.Parallel = static_cast<int16_t>(*parallel);
    if (const auto grid = typedFontSize(txtlbfont))
        Q_EMIT gridFontSizeChosen(*grid);
    if (const auto details = typedFontSize(txtdbfont))
        Q_EMIT detailsFontSizeChosen(*details);
    applyChanged(chktray, m_desktop->HideToTray);
    applyChanged(chknotify, m_desktop->Notify);
    applyChanged(chkgroup, m_desktop->GroupAlerts);
    accept();
}

void PreferencesDialog::applyChanged(const QCheckBox *box, bool &value) const
{
    // The window is modeless: a switch flipped elsewhere while it was open (Shift+F12) must
    // not be undone by a box the user left as it was loaded.
    if (box->isChecked() != m_loadedChecks.value(box))
        value = box->isChecked();
}

} // namespace sentrel
