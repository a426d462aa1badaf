#include "configdialog_p.h"

#include "devconfig.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstring>

namespace zq::telephony {

namespace {

const DWORD kSpeeds[] = { 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600 };

QComboBox* Combo(QWidget* parent, const char* name, const QStringList& items, int current)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->addItems(items);
    c->setCurrentIndex(current);
    return c;
}

QCheckBox* Check(QWidget* parent, const char* name, const QString& text, bool on)
{
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(name);
    c->setChecked(on);
    return c;
}

QSpinBox* Spin(QWidget* parent, const char* name, int lo, int hi, int value, const QString& suffix)
{
    auto* s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(lo, hi);
    s->setValue(value);
    s->setSuffix(suffix);
    return s;
}

QWidget* OwnerWidget(HWND owner)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w == owner)
            return w;
    return nullptr;
}

} // namespace

bool RunModemConfigDialog(const std::string& lineName, HWND owner, std::vector<uint8_t>* block)
{
    ModemDevConfig cfg;
    if (!IsModemDevConfig(block->data(), block->size()))
        return false;
    std::memcpy(&cfg, block->data(), sizeof cfg);
    MODEMSETTINGS& m = cfg.modemsettings;
    DCB& dcb = cfg.commconfig.dcb;
    const DWORD pref = m.dwPreferredModemOptions;

    QDialog dlg(OwnerWidget(owner));
    dlg.setObjectName("modemConfigDialog");
    dlg.setWindowTitle(QString::fromLocal8Bit(lineName.c_str()) + " Properties");
    auto* layout = new QVBoxLayout(&dlg);

    auto* general = new QGroupBox("Connection", &dlg);
    auto* form = new QFormLayout(general);
    auto* volume = Combo(
        general, "speakerVolume", { "Low", "Medium", "High" }, int(std::min<DWORD>(m.dwSpeakerVolume, 2)));
    auto* mode
        = Combo(general, "speakerMode", { "Off", "On while dialling", "Always on", "On until connected" },
            int(std::min<DWORD>(m.dwSpeakerMode, 3)));
    int speedIndex = 0;
    QStringList speeds;
    for (size_t i = 0; i < std::size(kSpeeds); ++i) {
        speeds << QString::number(kSpeeds[i]);
        if (kSpeeds[i] <= dcb.BaudRate)
            speedIndex = int(i);
    }
    auto* speed = Combo(general, "maxSpeed", speeds, speedIndex);
    auto* setup = Spin(
        general, "callSetupFailTimer", 1, 255, int(std::clamp<DWORD>(m.dwCallSetupFailTimer, 1, 255)), " s");
    auto* idle = Spin(
        general, "inactivityTimeout", 0, 65535, int(std::min<DWORD>(m.dwInactivityTimeout, 65535)), " s");
    auto* waitTone
        = Check(general, "waitForDialTone", "Wait for dial tone before dialling", !(pref & MDM_BLIND_DIAL));
    form->addRow("Speaker volume", volume);
    form->addRow("Speaker", mode);
    form->addRow("Maximum speed", speed);
    form->addRow("Cancel the call if not connected within", setup);
    form->addRow("Disconnect a call if idle for more than (0 = never)", idle);
    form->addRow(waitTone);
    layout->addWidget(general);

    auto* data = new QGroupBox("Data protocol", &dlg);
    auto* dataForm = new QFormLayout(data);
    auto* ec = Check(data, "errorControl", "Use error control", pref & MDM_ERROR_CONTROL);
    auto* forced = Check(data, "forcedErrorControl", "Required to connect", pref & MDM_FORCED_EC);
    auto* compression = Check(data, "compression", "Compress data", pref & MDM_COMPRESSION);
    const int flowIndex = (pref & MDM_FLOWCONTROL_SOFT) ? 1 : (pref & MDM_FLOWCONTROL_HARD) ? 2 : 0;
    auto* flow = Combo(data, "flowControl", { "None", "Xon / Xoff", "Hardware" }, flowIndex);
    dataForm->addRow(ec);
    dataForm->addRow(forced);
    dataForm->addRow(compression);
    dataForm->addRow("Flow control", flow);
    layout->addWidget(data);

    auto* options = new QGroupBox("Options", &dlg);
    auto* optionsLayout = new QVBoxLayout(options);
    auto* before = Check(options, "terminalBefore", "Bring up terminal window before dialling",
        cfg.fwOptions & UMTERMINAL_PRE);
    auto* after = Check(
        options, "terminalAfter", "Bring up terminal window after dialling", cfg.fwOptions & UMTERMINAL_POST);
    auto* icon = Check(options, "statusIcon", "Display modem status", cfg.fwOptions & UMLAUNCH_LIGHTS);
    optionsLayout->addWidget(before);
    optionsLayout->addWidget(after);
    optionsLayout->addWidget(icon);
    layout->addWidget(options);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    layout->addWidget(buttons);

    if (dlg.exec() != QDialog::Accepted)
        return false;

    m.dwSpeakerVolume = DWORD(volume->currentIndex());
    m.dwSpeakerMode = DWORD(mode->currentIndex());
    m.dwCallSetupFailTimer = DWORD(setup->value());
    m.dwInactivityTimeout = DWORD(idle->value());
    dcb.BaudRate = kSpeeds[speed->currentIndex()];
    DWORD p = pref
        & ~(MDM_COMPRESSION | MDM_ERROR_CONTROL | MDM_FORCED_EC | MDM_FLOWCONTROL_HARD | MDM_FLOWCONTROL_SOFT
            | MDM_SPEED_ADJUST | MDM_BLIND_DIAL);
    if (ec->isChecked())
        p |= MDM_ERROR_CONTROL | MDM_SPEED_ADJUST;
    if (forced->isChecked())
        p |= MDM_FORCED_EC | MDM_SPEED_ADJUST;
    if (compression->isChecked())
        p |= MDM_COMPRESSION | MDM_SPEED_ADJUST;
    dcb.Flags &= ~(DCB_fOutxCtsFlow | DCB_fOutX | DCB_fInX | DCB_fRtsControlMask);
    if (flow->currentIndex() == 1) {
        p |= MDM_FLOWCONTROL_SOFT;
        dcb.Flags |= DCB_fOutX | DCB_fInX;
    } else if (flow->currentIndex() == 2) {
        p |= MDM_FLOWCONTROL_HARD;
        dcb.Flags |= DCB_fOutxCtsFlow | (RTS_CONTROL_HANDSHAKE << DCB_fRtsControlShift);
    }
    if (!waitTone->isChecked())
        p |= MDM_BLIND_DIAL;
    m.dwPreferredModemOptions = p;
    cfg.fwOptions = WORD((cfg.fwOptions & UMMANUAL_DIAL) | (before->isChecked() ? UMTERMINAL_PRE : 0)
        | (after->isChecked() ? UMTERMINAL_POST : 0) | (icon->isChecked() ? UMLAUNCH_LIGHTS : 0));
    std::memcpy(block->data(), &cfg, sizeof cfg);
    return true;
}

} // namespace zq::telephony
