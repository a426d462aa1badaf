// The "comm/datamodem" configuration block: its layout and defaults, the
// round trip, persistence and the configuration dialog.
#include "devconfig.h"
#include "tapitest.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QSpinBox>
#include <QTimer>

namespace {

std::vector<uint8_t> GetConfig(DWORD device)
{
    VarBlock v(2048);
    EXPECT_EQ(lineGetDevConfig(device, v.Var(), "comm/datamodem"), 0);
    EXPECT_EQ(v.Var()->dwStringOffset, 24u);
    return std::vector<uint8_t>(v.bytes.begin() + 24, v.bytes.begin() + 24 + v.Var()->dwStringSize);
}

template <class T> T At(const std::vector<uint8_t>& b, size_t offset)
{
    T v {};
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

template <class T> void Put(std::vector<uint8_t>& b, size_t offset, T v)
{
    std::memcpy(b.data() + offset, &v, sizeof v);
}

} // namespace

TEST_F(TapiTest, TheConfigurationBlockHasTheModemLayoutAndDefaults)
{
    Register();
    const std::vector<uint8_t> b = GetConfig(0);
    ASSERT_GE(b.size(), 104u);
    EXPECT_EQ(At<DWORD>(b, 48), 6u) << "provider subtype";
    EXPECT_EQ(At<DWORD>(b, 24), 57600u) << "maximum speed";
    EXPECT_EQ(At<DWORD>(b, 76), 60u) << "call set-up time-out";
    EXPECT_EQ(At<DWORD>(b, 84), MDMVOL_MEDIUM);
    EXPECT_EQ(At<DWORD>(b, 88), MDMSPKR_CALLSETUP);
    const DWORD pref = At<DWORD>(b, 92);
    EXPECT_TRUE(pref & MDM_ERROR_CONTROL);
    EXPECT_TRUE(pref & MDM_COMPRESSION);
    EXPECT_TRUE(pref & MDM_FLOWCONTROL_HARD);
    EXPECT_FALSE(pref & MDM_BLIND_DIAL) << "waits for the dial tone";

    VarBlock small(30);
    EXPECT_EQ(DWORD(lineGetDevConfig(0, small.Var(), "comm/datamodem")), LINEERR_STRUCTURETOOSMALL);
    EXPECT_EQ(small.Var()->dwNeededSize, 24 + b.size());
    EXPECT_EQ(DWORD(lineGetDevConfig(0, small.Var(), "wave/in")), LINEERR_INVALDEVICECLASS);
    EXPECT_EQ(DWORD(lineGetDevConfig(9, small.Var(), "comm/datamodem")), LINEERR_BADDEVICEID);
}

TEST_F(TapiTest, ConfigurationRoundTripsAndPersists)
{
    Register();
    std::vector<uint8_t> b = GetConfig(1);
    Put<DWORD>(b, 88, MDMSPKR_ON);
    Put<DWORD>(b, 76, 45);
    Put<DWORD>(b, 24, 19200);
    Put<WORD>(b, 8, 0x3);
    ASSERT_EQ(lineSetDevConfig(1, b.data(), DWORD(b.size()), "comm/datamodem"), 0);
    EXPECT_EQ(GetConfig(1), b);
    EXPECT_NE(GetConfig(0), b) << "per device";

    lineShutdown(&app_);
    Register();
    EXPECT_EQ(GetConfig(1), b) << "kept in the registry";

    std::vector<uint8_t> notModem = b;
    Put<DWORD>(notModem, 48, 1);
    EXPECT_EQ(DWORD(lineSetDevConfig(1, notModem.data(), DWORD(notModem.size()), "comm/datamodem")),
        LINEERR_INVALPARAM);
    EXPECT_EQ(DWORD(lineSetDevConfig(1, b.data(), 20, "comm/datamodem")), LINEERR_INVALPARAM);
    EXPECT_EQ(GetConfig(1), b);
}

TEST_F(TapiTest, ADataConnectionShowsTheNegotiatedRate)
{
    Register();
    std::vector<uint8_t> b = GetConfig(1);
    Put<DWORD>(b, 24, 33600);
    Put<DWORD>(b, 92, MDM_ERROR_CONTROL | MDM_FLOWCONTROL_SOFT);
    ASSERT_EQ(lineSetDevConfig(1, b.data(), DWORD(b.size()), "comm/datamodem"), 0);
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_NONE, LINEMEDIAMODE_DATAMODEM);
    Dial(line, "1002/rings=0", LINEMEDIAMODE_DATAMODEM);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
    const std::vector<uint8_t> mine = GetConfig(0);
    EXPECT_EQ(At<DWORD>(mine, 100), 33600u);
    EXPECT_EQ(At<DWORD>(mine, 96), MDM_ERROR_CONTROL | MDM_FLOWCONTROL_HARD);
}

TEST_F(TapiTest, TheConfigDialogEditsTheBlock)
{
    Register();
    const std::vector<uint8_t> before = GetConfig(0);
    QTimer::singleShot(0, [] {
        auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dlg);
        EXPECT_EQ(dlg->objectName(), "modemConfigDialog");
        dlg->findChild<QComboBox*>("speakerMode")->setCurrentIndex(int(MDMSPKR_OFF));
        dlg->findChild<QComboBox*>("speakerVolume")->setCurrentIndex(int(MDMVOL_HIGH));
        dlg->findChild<QSpinBox*>("callSetupFailTimer")->setValue(30);
        dlg->findChild<QComboBox*>("maxSpeed")->setCurrentText("9600");
        dlg->findChild<QCheckBox*>("waitForDialTone")->setChecked(false);
        dlg->findChild<QCheckBox*>("compression")->setChecked(false);
        dlg->findChild<QComboBox*>("flowControl")->setCurrentIndex(1);
        dlg->findChild<QCheckBox*>("terminalBefore")->setChecked(true);
        dlg->accept();
    });
    ASSERT_EQ(lineConfigDialog(0, nullptr, "comm/datamodem"), 0);
    const std::vector<uint8_t> after = GetConfig(0);
    EXPECT_EQ(At<DWORD>(after, 88), MDMSPKR_OFF);
    EXPECT_EQ(At<DWORD>(after, 84), MDMVOL_HIGH);
    EXPECT_EQ(At<DWORD>(after, 76), 30u);
    EXPECT_EQ(At<DWORD>(after, 24), 9600u);
    const DWORD pref = At<DWORD>(after, 92);
    EXPECT_TRUE(pref & MDM_BLIND_DIAL);
    EXPECT_FALSE(pref & MDM_COMPRESSION);
    EXPECT_TRUE(pref & MDM_ERROR_CONTROL);
    EXPECT_TRUE(pref & MDM_FLOWCONTROL_SOFT);
    EXPECT_FALSE(pref & MDM_FLOWCONTROL_HARD);
    EXPECT_EQ(At<DWORD>(after, 28) & (DCB_fOutX | DCB_fInX | DCB_fOutxCtsFlow), DCB_fOutX | DCB_fInX);
    EXPECT_EQ(At<WORD>(after, 8), WORD(UMTERMINAL_PRE | UMLAUNCH_LIGHTS));

    // Cancelling leaves the block alone.
    QTimer::singleShot(0, [] {
        auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dlg);
        dlg->findChild<QSpinBox*>("callSetupFailTimer")->setValue(99);
        dlg->reject();
    });
    ASSERT_EQ(lineConfigDialog(0, nullptr, "comm/datamodem"), 0);
    EXPECT_EQ(GetConfig(0), after);
    EXPECT_NE(after, before);
}
