#include "ui/ConfigDialog.h"

#include "probes/ProbeTypes.h"
#include "ui/FieldText.h"
#include "ui/Fonts.h"
#include "ui/PortPicker.h"
#include "ui/Twips.h"
#include "ui/WrappedCheckBox.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <iterator>

namespace sentrel {

namespace {

const QString IncorrectData = QStringLiteral("Incorrect data");
constexpr int MaxHostnameLength = 255;

enum class IpxEffect { Off, On, Untouched };

template<class W>
W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel *label(QWidget *parent, const char *name, const char *caption, int l, int t, int w, int h)
{
    auto *lbl = named(new QLabel(QString::fromLatin1(caption), parent), name);
    placeTwips(lbl, l, t, w, h);
    return lbl;
}

QLineEdit *textBox(QWidget *parent, const char *name, int l, int t, int w, int h, const char *tip = nullptr)
{
    auto *box = named(new QLineEdit(parent), name);
    // The number boxes are sized for a five-digit port in the original's narrower font;
    // Qt's frame and padding would clip the first digit, so they get no padding.
    if (w < 600)
        box->setTextMargins(-1, 0, -1, 0);
    placeTwips(box, l, t, w, h);
    if (tip)
        box->setToolTip(QString::fromLatin1(tip));
    return box;
}

QCheckBox *checkBox(QWidget *parent, const char *name, const char *caption, int l, int t, int w, int h,
    const char *tip = nullptr)
{
    auto *box = named(new QCheckBox(QString::fromLatin1(caption), parent), name);
    placeTwips(box, l, t, w, h);
    if (tip)
        box->setToolTip(QString::fromLatin1(tip));
    return box;
}

QGroupBox *frame(QWidget *parent, const char *name, const char *caption, int l, int t, int w, int h)
{
    auto *box = named(new QGroupBox(QString::fromLatin1(caption), parent), name);
    placeTwips(box, l, t, w, h);
    return box;
}

QPushButton *button(QWidget *parent, const char *name, const char *caption, int l, int t, int w, int h)
{
    auto *btn = named(new QPushButton(QString::fromLatin1(caption), parent), name);
    placeTwips(btn, l, t, w, h);
    return btn;
}

// The number of a box as the dialog reads it, before any range check.
double numberOf(const QLineEdit *box)
{
    return roundHalfEven(leadingNumber(box->text()));
}

} // namespace

struct ConfigDialog::Preset
{
    const char *name;
    const char *caption;
    const char *tip;
    int top;
    int left;
    bool px;
    bool m;
    bool p;
    const char *mport;
    const char *pxport; // nullptr: left as it is
    bool timeOk;
    const char *timeout;
    IpxEffect ipx;
};

const ConfigDialog::Preset ConfigDialog::presets[12] = {
    {"Command5", "UNIX Svr", "UNIX Host with Pellix installed", 360, 120, true, true, true, "13", "3000",
        false, "5", IpxEffect::Off},
    {"Command7", "Notes Svr", "Lotus Notes service", 360, 1080, false, true, true, "1352", nullptr, false,
        "1", IpxEffect::Off},
    {"Command8", "DNS Svr", "DNS Name Service", 360, 2040, false, true, false, "53", nullptr, true, "1",
        IpxEffect::Untouched},
    {"Command10", "Oracle", "Oracle TCP/IP listener", 360, 3000, false, true, false, "1526", nullptr, false,
        "5", IpxEffect::Off},
    {"Command3", "NT Svr", "NT Server with Simple TCPIP Services installed", 720, 120, false, true, true,
        "13", nullptr, false, "5", IpxEffect::Off},
    {"Command1", "Web Svr", "Web Service", 720, 1080, false, true, false, "80", nullptr, false, "10",
        IpxEffect::Off},
    {"Command4", "Telnet", "Telnet server", 720, 2040, false, true, false, "23", nullptr, true, "5",
        IpxEffect::Off},
    {"Command12", "NetBios", "NT Server or any other NetBios Server", 720, 3000, false, true, false, "139",
        nullptr, false, "5", IpxEffect::Off},
    {"Command6", "AS/400", "AS/400 (basic)", 1080, 120, false, false, true, "0", nullptr, false, "5",
        IpxEffect::Off},
    {"Command2", "Mail Svr", "SMTP Mail service", 1080, 1080, false, true, false, "25", nullptr, false, "15",
        IpxEffect::Off},
    {"Command9", "Router", "Router, Hub or other network device", 1080, 2040, false, false, true, "0",
        nullptr, false, "2", IpxEffect::Off},
    {"Command11", "Netware", "Netware Server", 1080, 3000, false, false, false, "13", nullptr, false, "15",
        IpxEffect::On},
};

ConfigDialog::ConfigDialog(const Target &target, UserPrompts &prompts, QWidget *parent)
    : QDialog(parent)
    , m_prompts(prompts)
    , m_widthTwips(ConfigLayout::NarrowWidth)
{
    setObjectName(QStringLiteral("frmconfig"));
    setWindowTitle(QStringLiteral("Configure Monitored Device"));
    // A title bar without control box: no close, minimise or maximise button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
    setFont(dialogFont());
    buildControls();
    load(target);
    applyWidth();
    centreOnScreen(this);
}

void ConfigDialog::buildControls()
{
    auto *Label4 = label(this, "Label4", "&Description", 120, 120, 1095, 255);
    txtdesc = textBox(this, "txtdesc", 120, 360, 3135, 285, "Description to put in list");
    Label4->setBuddy(txtdesc);
    auto *Label1 = label(this, "Label1", "&Hostname", 120, 720, 975, 255);
    txthostname =
        textBox(this, "txthostname", 120, 960, 3135, 285, "IPv4 or IPv6 address, or resolvable host name");
    Label1->setBuddy(txthostname);

    Frame1 = frame(this, "Frame1", "Monitoring method", 120, 1320, 3135, 1815);
    chkpx = checkBox(Frame1, "chkpx", "P&ellix Monitoring", 120, 390, 1575, 255,
        "Connect to a Pellix program on specified port");
    label(Frame1, "Label3", "Port:", 1800, 360, 375, 255);
    txtpxport = textBox(Frame1, "txtpxport", 2280, 360, 495, 285);
    chkm = checkBox(Frame1, "chkm", "Normal &Monitoring", 120, 750, 1695, 255,
        "Attempt to connect to specified port to see if host answers");
    label(Frame1, "Label6", "Port:", 1800, 720, 375, 255);
    txtmport = textBox(Frame1, "txtmport", 2280, 720, 495, 285);
    chkp = checkBox(Frame1, "chkp", "ICMP &Ping checking", 120, 1110, 1815, 255,
        "Send an ICMP echo request to see if host is alive");
    chkipx = checkBox(Frame1, "chkipx", "Netware Server (IPX only)", 120, 1440, 2415, 255);

    frameopt = frame(this, "frameopt", "Options", 120, 3240, 3135, 1455);
    auto *Label7 = label(frameopt, "Label7", "Socket &timeout:", 120, 360, 1215, 255);
    txttimeout = textBox(
        frameopt, "txttimeout", 1320, 360, 615, 285, "How many seconds to wait for data after a connect");
    Label7->setBuddy(txttimeout);
    label(frameopt, "Label8", "seconds", 2040, 360, 735, 255);
    // 2295 twips would cut off the question mark in the metric-compatible Arial.
    chktimeout = checkBox(frameopt, "chktimeout", "No error on socket timeout?", 120, 720, 2895, 255,
        "Do not treat a read timeout on monitor port as an error");
    label(frameopt, "Label5", "Maximum roundtrip time:", 120, 1080, 1815, 255);
    txtmaxrtt = textBox(frameopt, "txtmaxrtt", 2040, 1080, 615, 285);
    label(frameopt, "Label9", "ms", 2760, 1080, 255, 255);

    frameipx = frame(this, "frameipx", "IPX Options", 120, 3240, 3135, 1455);
    // The caption needs two lines in its 375 twips; a plain check box would cut it off.
    chkslots =
        named(new WrappedCheckBox(QStringLiteral("Warn when available license slots less than"), frameipx),
            "chkslots");
    placeTwips(chkslots, 120, 360, 2055, 375);
    txtslots = textBox(frameipx, "txtslots", 2400, 360, 495, 285);
    chkload = checkBox(frameipx, "chkload", "Warn when load over", 120, 840, 1935, 255);
    txtload = textBox(frameipx, "txtload", 2400, 840, 495, 285);
    label(frameipx, "Label2", "%", 2880, 840, 135, 255);
    frameipx->hide();

    // The "?" button lies over the frame, next to the port box it fills.
    cmdprompt = button(this, "cmdprompt", "?", 2880, 2040, 255, 255);
    cmdprompt->raise();

    cmdok = button(this, "cmdok", "OK", 120, 4800, 975, 375);
    cmdok->setDefault(true);
    cmdcancel = button(this, "cmdcancel", "Cancel", 1200, 4800, 975, 375);
    cmddetails = button(this, "cmddetails", "Details", 2280, 4800, 975, 375);

    lbluser = label(this, "lbluser", "&User Text", 3360, 120, 1095, 255);
    txtuser = named(new QPlainTextEdit(this), "txtuser");
    placeTwips(txtuser, 3360, 360, 3975, 2775);
    txtuser->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtuser->setTabChangesFocus(true);
    txtuser->setToolTip(QStringLiteral("Text to be shown when device is in ERROR condition"));
    lbluser->setBuddy(txtuser);

    framedefault = frame(this, "framedefault", "Fast default configurations", 3360, 3240, 3975, 1455);
    for (const Preset &preset : presets) {
        auto *btn = button(framedefault, preset.name, preset.caption, preset.left, preset.top, 855, 255);
        btn->setToolTip(QString::fromLatin1(preset.tip));
        btn->setAutoDefault(false);
        // Tab passes over the presets; a click still works.
        btn->setFocusPolicy(Qt::ClickFocus);
        connect(btn, &QPushButton::clicked, this, [this, &preset] { applyPreset(preset); });
    }

    QWidget *order[] = {txtdesc, txthostname, chkpx, txtpxport, chkm, txtmport, chkp, chkipx, txttimeout,
        chktimeout, txtuser, cmdok, cmdcancel, cmddetails, chkslots, txtslots, chkload, txtload, txtmaxrtt,
        cmdprompt};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    txtdesc->setFocus();

    connect(txtpxport, &QLineEdit::textChanged, this,
        [this](const QString &text) { txtpxport->setToolTip(portdesc(portNumber(text).value_or(0))); });
    connect(txtmport, &QLineEdit::textChanged, this,
        [this](const QString &text) { txtmport->setToolTip(portdesc(portNumber(text).value_or(0))); });
    connect(chkipx, &QCheckBox::toggled, this, &ConfigDialog::setNetWareMode);
    connect(cmdok, &QPushButton::clicked, this, &ConfigDialog::cmdokClicked);
    connect(cmdcancel, &QPushButton::clicked, this, &ConfigDialog::reject);
    connect(cmddetails, &QPushButton::clicked, this, &ConfigDialog::cmddetailsClicked);
    connect(cmdprompt, &QPushButton::clicked, this, &ConfigDialog::cmdpromptClicked);
}

void ConfigDialog::load(const Target &target)
{
    txthostname->setText(target.Hostname);
    // The record holds a port in a signed 16-bit field; the user sees the port itself.
    txtpxport->setText(QString::number(uint16_t(target.PXPort)));
    txtpxport->setToolTip(portdesc(uint16_t(target.PXPort)));
    txtmport->setText(QString::number(uint16_t(target.Port)));
    txtmport->setToolTip(portdesc(uint16_t(target.Port)));
    // The box breaks lines at LF; the record keeps CR LF like every other text of the program.
    txtuser->setPlainText(trimBlanks(target.User).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    txtdesc->setText(trimBlanks(target.Desc));
    txtload->setText(QString::number(target.LoadLevel));
    txtslots->setText(QString::number(target.MinSlots));
    txtmaxrtt->setText(QString::number(target.RTT));
    chkpx->setChecked(target.UsePX);
    chkm->setChecked(target.UseM);
    chkp->setChecked(target.UseP);
    // Checking the NetWare box switches the dialog into NetWare mode at once.
    chkipx->setChecked(target.UseIPX);
    chkload->setChecked(target.Load);
    chkslots->setChecked(target.Slots);
    chktimeout->setChecked(target.TimeOK);
    txttimeout->setText(spaced(target.Timeout));
}

QString ConfigDialog::portdesc(uint16_t port)
{
    switch (port) {
    case 13:
        return QStringLiteral("Date and Time service");
    case 15:
        return QStringLiteral("netstat service");
    case 21:
        return QStringLiteral("FTP service");
    case 23:
        return QStringLiteral("Telnet service");
    case 25:
        return QStringLiteral("SMTP mail server");
    case 42:
        return QStringLiteral("DNS Name server");
    case 80:
        return QStringLiteral("Web server");
    case 139:
        return QStringLiteral("NetBios session");
    case 1352:
        return QStringLiteral("Lotus Notes service");
    case 1526:
        return QStringLiteral("Oracle listener");
    case 3000:
        return QStringLiteral("Default Pellix port");
    case 8000:
    case 8500:
        return QStringLiteral("Manugistics");
    default:
        return QStringLiteral("Port to attempt to connect to");
    }
}

bool ConfigDialog::validate()
{
    bool ok = true;
    auto refuse = [this, &ok](const QString &text) {
        m_prompts.message(text, IncorrectData, UserPrompts::Buttons::Ok, UserPrompts::Icon::None);
        ok = false;
    };

    if (txthostname->text().isEmpty())
        refuse(QStringLiteral("Hostname must be given"));
    if (!chkpx->isChecked() && !chkm->isChecked() && !chkp->isChecked() && !chkipx->isChecked()) {
        const auto answer =
            m_prompts.message(QStringLiteral("Warning: No monitoring methods are defined.\rAre you sure?"),
                programTitle(), UserPrompts::Buttons::YesNo, UserPrompts::Icon::None);
        if (answer != UserPrompts::Answer::Yes)
            ok = false;
    }
    if (chkpx->isChecked() && numberOf(txtpxport) == 0)
        refuse(QStringLiteral("You must give a port number for Pellix\rSuggested port is 3000"));
    if (chkm->isChecked() && numberOf(txtmport) == 0)
        refuse(QStringLiteral(
            "You must give a port number for checking\rSuggested port is 13 (Date and Time service)"));
    if (numberOf(txtmport) == 19 || numberOf(txtpxport) == 19)
        refuse(QStringLiteral("You may not use port 19 (chargen)\rThat was a silly thing to do!"));

    // The record holds 16-bit numbers (32-bit for the load level); a number that does
    // not fit is refused rather than silently cut to its low bits.
    if (txthostname->text().size() > MaxHostnameLength)
        refuse(QStringLiteral("Hostname may not be longer than 255 characters"));
    const struct
    {
        const QLineEdit *box;
        const char *what;
    } portFields[] = {{txtpxport, "Pellix port"}, {txtmport, "Monitoring port"}},
      shortFields[] = {
          {txttimeout, "Socket timeout"}, {txtmaxrtt, "Maximum roundtrip time"}, {txtslots, "License slots"}};
    for (const auto &field : portFields) {
        if (!portNumber(field.box->text()))
            refuse(QString::fromLatin1(field.what) + QStringLiteral(" must be a number from 0 to 65535"));
    }
    for (const auto &field : shortFields) {
        if (!number16(field.box->text()))
            refuse(
                QString::fromLatin1(field.what) + QStringLiteral(" must be a number from -32768 to 32767"));
    }
    if (!number32(txtload->text()))
        refuse(QStringLiteral("Load level must be a number from -2147483648 to 2147483647"));

    if (txtdesc->text().isEmpty())
        txtdesc->setText(txthostname->text());
    return ok;
}

void ConfigDialog::storeInto(Target &target) const
{
    target.Timeout = number16(txttimeout->text()).value_or(0);
    target.TimeOK = chktimeout->isChecked();
    target.Desc = txtdesc->text();
    target.User = txtuser->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    if (target.Hostname != txthostname->text()) {
        // Another host is another system: its history starts afresh.
        target.Hostname = txthostname->text();
        target.Uid = newTargetUid();
    }
    target.PXPort = int16_t(portNumber(txtpxport->text()).value_or(0));
    if (target.PXPort == 0)
        target.PXPort = 3000;
    target.Port = int16_t(portNumber(txtmport->text()).value_or(0));
    if (target.Port == 0)
        target.Port = 13;
    target.RTT = number16(txtmaxrtt->text()).value_or(0);
    if (target.RTT < 1)
        target.RTT = 99;
    target.UsePX = chkpx->isChecked();
    target.UseM = chkm->isChecked();
    target.UseP = chkp->isChecked();
    if (target.UseP)
        target.SmoothedRtt = -1;
    target.UseIPX = chkipx->isChecked();
    target.Slots = chkslots->isChecked();
    target.Load = chkload->isChecked();
    target.MinSlots = number16(txtslots->text()).value_or(0);
    target.LoadLevel = number32(txtload->text()).value_or(0);
    target.Status = TargetStatus::Unknown;
    target.Output.clear();
    target.Info.clear();
}

void ConfigDialog::cmdokClicked()
{
    if (!validate())
        return;
    m_editAccepted = true;
    accept();
}

void ConfigDialog::reject()
{
    m_editAccepted = false;
    QDialog::reject();
}

void ConfigDialog::cmddetailsClicked()
{
    m_widthTwips = ConfigLayout::widthAfterDetails(m_widthTwips);
    applyWidth();
}

void ConfigDialog::applyWidth()
{
    const bool wide = ConfigLayout::detailsShown(m_widthTwips);
    lbluser->setVisible(wide);
    txtuser->setVisible(wide);
    framedefault->setVisible(wide);
    fixClientSizeTwips(this, ConfigLayout::clientWidth(m_widthTwips), ConfigLayout::ClientHeight);
}

void ConfigDialog::setNetWareMode(bool on)
{
    if (on) {
        chkpx->setChecked(false);
        chkm->setChecked(false);
        chkp->setChecked(false);
    }
    chkpx->setEnabled(!on);
    chkm->setEnabled(!on);
    chkp->setEnabled(!on);
    frameopt->setVisible(!on);
    frameipx->setVisible(on);
}

void ConfigDialog::applyPreset(const Preset &preset)
{
    chkpx->setChecked(preset.px);
    chkm->setChecked(preset.m);
    chkp->setChecked(preset.p);
    txtmport->setText(QString::fromLatin1(preset.mport));
    if (preset.pxport)
        txtpxport->setText(QString::fromLatin1(preset.pxport));
    chktimeout->setChecked(preset.timeOk);
    txttimeout->setText(QString::fromLatin1(preset.timeout));
    if (preset.ipx == IpxEffect::Untouched)
        return;
    chkipx->setChecked(preset.ipx == IpxEffect::On);
    const bool enable = preset.ipx == IpxEffect::Off;
    chkpx->setEnabled(enable);
    chkm->setEnabled(enable);
    chkp->setEnabled(enable);
}

void ConfigDialog::cmdpromptClicked()
{
    // A box that holds no port cannot be handed over; its text then stays as it is
    // unless the user picks a service.
    const std::optional<uint16_t> current = portNumber(txtmport->text());
    auto *picker = new PortPicker(current.value_or(0), this);
    m_picker = picker;
    connect(picker, &QDialog::finished, this, [this, picker, fits = current.has_value()] {
        if (picker->portChosen() || fits)
            txtmport->setText(spaced(picker->selectedPort()));
        picker->deleteLater();
    });
    picker->open();
}

bool editTarget(QWidget *parent, Target &target, UserPrompts &prompts)
{
    ConfigDialog dialog(target, prompts, parent);
    dialog.exec();
    if (dialog.editAccepted())
        dialog.storeInto(target);
    return dialog.editAccepted();
}

} // namespace sentrel
