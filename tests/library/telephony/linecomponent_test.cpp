// The line component against a scripted service: device listing, selection,
// the voice check, the comm handle, error reports, modem settings and
// configuration records.
#include "scriptedlinetest.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace zq::telephony::modemconfig;

class LineComponent : public ScriptedLineTest {
protected:
    TzqDeviceTAPI* Dev(int i) { return static_cast<TzqDeviceTAPI*>(line.GetDevice(i)); }
    uint32_t ConfigAt(int device, size_t offset)
    {
        uint32_t v;
        std::memcpy(&v, fake->devices[device].config.data() + offset, 4);
        return v;
    }
};

TEST_F(LineComponent, ListsTheDevicesThatOpenAndAnswerTheDataModemQuery)
{
    AddDevice("A");
    AddDevice("opens not").openFails = true;
    AddDevice("no comm").commFails = true;
    FakeDevice& waveOutOnly = AddDevice("B");
    waveOutOnly.waveInOut = false;
    waveOutOnly.waveIn = 0;
    AddDevice("C").portFails = true;

    line.EnumDevices();
    ASSERT_EQ(line.DeviceCount(), 3);
    EXPECT_EQ(Dev(0)->Name, "A");
    EXPECT_EQ(Dev(0)->DeviceID, 0u);
    EXPECT_EQ(Dev(0)->PortName, "PA");
    EXPECT_EQ(Dev(0)->WaveInID, 11u);
    EXPECT_EQ(Dev(0)->WaveOutID, 21u);
    EXPECT_EQ(Dev(0)->MediaModes, 0x18u);
    EXPECT_EQ(Dev(1)->LineName, "B");
    EXPECT_EQ(Dev(1)->DeviceID, 3u);
    EXPECT_EQ(Dev(1)->WaveOutID, 24u);
    EXPECT_EQ(Dev(1)->WaveInID, 0u);
    EXPECT_EQ(Dev(2)->PortName, "???");
    // Probe lines are closed and the registration is over.
    EXPECT_EQ(fake->openLines, 0);
    EXPECT_EQ(line.LineAppHandle, 0u);
    EXPECT_EQ(line.TAPIRefCount, 0);
    EXPECT_TRUE(fatals.seen.empty());
}

TEST_F(LineComponent, VoiceNeedsBothWaveDevices)
{
    AddDevice("A");
    FakeDevice& b = AddDevice("B");
    b.waveInOut = false;
    b.waveIn = 0;
    line.EnumDevices();

    line.SetVoice(true); // no device selected
    ASSERT_EQ(fatals.seen.size(), 1u);
    EXPECT_EQ(fatals.seen[0].code, 2u);
    EXPECT_EQ(fatals.seen[0].detail, 10u);
    EXPECT_FALSE(line.Voice());

    line.SetDeviceIndex(1);
    line.SetVoice(true);
    EXPECT_EQ(fatals.seen.size(), 2u);
    EXPECT_FALSE(line.Voice());

    line.SetDeviceIndex(0);
    line.SetVoice(true);
    EXPECT_EQ(fatals.seen.size(), 2u);
    EXPECT_TRUE(line.Voice());
    line.SetVoice(false);
    EXPECT_FALSE(line.Voice());
}

TEST_F(LineComponent, DeviceIndexIsClampedToTheList)
{
    line.SetDeviceIndex(1); // no devices
    EXPECT_EQ(line.GetDeviceIndex(), -1);
    AddDevice("A");
    AddDevice("B");
    AddDevice("C");
    line.EnumDevices();
    line.SetDeviceIndex(7);
    EXPECT_EQ(line.GetDeviceIndex(), 2);
    EXPECT_EQ(line.CurrentDeviceName(), "C");
    line.SetDeviceIndex(-5);
    EXPECT_EQ(line.GetDeviceIndex(), -5);
    EXPECT_EQ(line.CurrentDeviceID(), -1);
    EXPECT_EQ(line.CurrentDeviceName(), "Error TAPI Device Name");
    EXPECT_TRUE(line.setProperty("DeviceIndex", 1));
    EXPECT_EQ(line.CurrentDeviceID(), 1);
}

TEST_F(LineComponent, SettingsAsTheyAreStored)
{
    line.SetAreaCode("  030 ");
    EXPECT_EQ(line.AreaCode(), "030");
    EXPECT_EQ(line.Retries(), 3);
    EXPECT_EQ(line.PauseOnRepeat(), 3000);
    EXPECT_EQ(line.LogPrefix, "zqCommTAPI: ");
    EXPECT_EQ(line.GetDeviceIndex(), -1);
    line.SetCountryCode(49);
    line.SetAreaCode("30");
    line.SetPhone("1234");
    EXPECT_EQ(line.CanonicalAddress(), "+49 (30) 1234");
    line.SetCountryCode(0);
    EXPECT_EQ(line.CanonicalAddress(), "t1234"); // the area code needs a country
    line.SetPulse(true);
    EXPECT_EQ(line.CanonicalAddress(), "p1234");
}

TEST_F(LineComponent, CommActiveWithoutALineReportsTheOpenFailure)
{
    AddDevice("A");
    line.EnumDevices();
    line.SetDeviceIndex(0);
    EXPECT_FALSE(line.CommActive());
    line.SetCommActive(true);
    ASSERT_EQ(fatals.seen.size(), 1u);
    EXPECT_EQ(fatals.seen[0].code, 1u);
    EXPECT_EQ(fatals.seen[0].message.rfind("Device \"PA\" Open Error !!!\r", 0), 0u)
        << fatals.seen[0].message;
    EXPECT_FALSE(line.CommActive());
}

TEST_F(LineComponent, RegistrationFailuresAreReportedWithTheirNumbers)
{
    line.AcquireTAPI(); // no devices
    ASSERT_EQ(fatals.seen.size(), 1u);
    EXPECT_EQ(fatals.seen[0].detail, 2u);
    EXPECT_EQ(fatals.seen[0].message.rfind(
                  "zqCommLib TAPI error:\rzqTAPI Fatal Error: no one TAPI devices was found\r"
                  "TAPI Error Code [0h]\r",
                  0),
        0u)
        << fatals.seen[0].message;
    EXPECT_EQ(line.LineAppHandle, 0u);
    EXPECT_EQ(line.TAPIRefCount, 1); // counted even though it failed
    line.ReleaseTAPI();

    fake->initResult = static_cast<LONG>(LINEERR_OPERATIONFAILED);
    line.AcquireTAPI();
    ASSERT_EQ(fatals.seen.size(), 2u);
    EXPECT_EQ(fatals.seen[1].detail, 3u);
    EXPECT_NE(fatals.seen[1].message.find("TAPI Error Code [80000048h]"), std::string::npos);
    line.ReleaseTAPI();
}

TEST_F(LineComponent, RegistrationIsCounted)
{
    AddDevice("A");
    line.AcquireTAPI();
    line.AcquireTAPI();
    EXPECT_EQ(fake->initCalls, 1);
    line.ReleaseTAPI();
    EXPECT_NE(line.LineAppHandle, 0u);
    line.ReleaseTAPI();
    EXPECT_EQ(line.LineAppHandle, 0u);
    EXPECT_EQ(fake->shutdownCalls, 1);
}

// Modem settings ------------------------------------------------------------------------

class ModemSettings : public LineComponent {
protected:
    void SetUp() override
    {
        LineComponent::SetUp();
        AddDevice("A");
        AddDevice("B");
        line.EnumDevices();
        line.SetDeviceIndex(0);
        line.AcquireTAPI(); // reads and writes reach the device only while registered
    }
    void TearDown() override { line.ReleaseTAPI(); }
    TzqModemDevice* modem() { return line.DeviceModem(); }
};

TEST_F(ModemSettings, WithoutADeviceOnlyTheCacheChanges)
{
    TzqModemDevice m(&line);
    EXPECT_EQ(m.DeviceID(), -1);
    m.SetSpeakerMode(smOn);
    EXPECT_EQ(m.GetSpeakerMode(), smOn);
    EXPECT_EQ(fake->devices[0].setConfigCalls, 0);
    EXPECT_FALSE(m.HasWaveDevice(0) && m.DeviceID() >= 0);
}

TEST_F(ModemSettings, ReadingTheBlock)
{
    auto& cfg = fake->devices[0].config;
    cfg = FakeModemConfig(MDM_FLOWCONTROL_HARD | MDM_FLOWCONTROL_SOFT | MDM_ERROR_CONTROL | MDM_BLIND_DIAL);
    auto put = [&](size_t at, uint32_t v) { std::memcpy(cfg.data() + at, &v, 4); };
    put(kInactivityTimeout, 33);
    put(kCallSetupFailTimer, 44);
    put(kSpeakerMode, 0x101); // only the low byte counts
    put(kSpeakerVolume, 2);
    put(kBaudRate, 9600);
    put(kNegotiatedDCERate, 2400);
    put(kNegotiatedOptions, MDM_FLOWCONTROL_HARD | MDM_COMPRESSION);
    cfg[kOptionsWord] = 0x1 | 0x8;

    EXPECT_EQ(modem()->FlowControl(), spXonXoff); // the soft bit wins
    EXPECT_EQ(modem()->Options(),
        ModemOption(moErrorControl) | ModemOption(moPreTerminal)
            | ModemOption(moShowIcon)); // blind dial: no moWaitTone
    EXPECT_EQ(modem()->InactivityTimeout(), 33u);
    EXPECT_EQ(modem()->CallFailTimer(), 44u);
    EXPECT_EQ(modem()->GetSpeakerMode(), smCallSetup);
    EXPECT_EQ(modem()->GetSpeakerVol(), svHigh);
    EXPECT_EQ(modem()->BaudRateMax(), 9600u);
    EXPECT_EQ(modem()->BaudRateOfConnect(), 2400u);
    EXPECT_EQ(modem()->FlowControlOfConnect(), spHardware);
    EXPECT_EQ(modem()->OptionsOfConnect(), ModemOption(moCompression));
}

TEST_F(ModemSettings, WritingTheBlock)
{
    fake->devices[0].config = FakeModemConfig(0x2B7 | 0x1000);
    modem()->SetFlow(spHardware);
    EXPECT_EQ(ConfigAt(0, kDcbFlags) & 0x3304, 0x2004u);
    modem()->SetOptions(ModemOption(moWaitTone) | ModemOption(moCompression) | ModemOption(moPostTerminal));
    EXPECT_EQ(
        ConfigAt(0, kPreferredOptions), 0x1000u | MDM_FLOWCONTROL_HARD | MDM_COMPRESSION | MDM_SPEED_ADJUST);
    EXPECT_EQ(fake->devices[0].config[kOptionsWord], 0x2);

    modem()->SetOptions(0);
    EXPECT_EQ(ConfigAt(0, kPreferredOptions), 0x1000u | MDM_FLOWCONTROL_HARD | MDM_BLIND_DIAL);
    EXPECT_EQ(fake->devices[0].config[kOptionsWord], 0);

    modem()->SetSpeakerMode(smCallSetup);
    EXPECT_EQ(ConfigAt(0, kSpeakerMode), 1u);
    const int writes = fake->devices[0].setConfigCalls;
    modem()->SetIndexed(2, 12345); // read-only index: no field, still written back
    EXPECT_EQ(fake->devices[0].setConfigCalls, writes + 1);
    EXPECT_EQ(ConfigAt(0, kNegotiatedDCERate), 0u);
}

TEST_F(ModemSettings, AFailedReadCancelsTheWrite)
{
    fake->devices[0].getConfigFails = true;
    modem()->SetSpeakerVol(svMedium);
    EXPECT_EQ(fake->devices[0].setConfigCalls, 0);
    // A block that is not a modem's goes back unchanged.
    fake->devices[0].getConfigFails = false;
    fake->devices[0].config = FakeModemConfig(0);
    fake->devices[0].config[48] = 5;
    const auto before = fake->devices[0].config;
    modem()->SetSpeakerVol(svHigh);
    EXPECT_EQ(fake->devices[0].config, before);
}

TEST_F(ModemSettings, AssignCopiesSixValues)
{
    TzqCommTAPI other;
    other.EnumDevices();
    TzqModemDevice* source = other.DeviceModem();
    source->SetIndexed(0, 77);
    source->SetIndexed(1, 88);
    source->SetIndexed(3, 300);
    source->SetSpeakerMode(smOff);
    source->SetSpeakerVol(svMedium);
    source->SetOptions(ModemOption(moWaitTone));
    source->SetFlow(spNone);
    modem()->Assign(source);
    EXPECT_EQ(ConfigAt(0, kInactivityTimeout), 77u);
    EXPECT_EQ(ConfigAt(0, kCallSetupFailTimer), 88u);
    EXPECT_EQ(ConfigAt(0, kSpeakerMode), 0u);
    EXPECT_EQ(ConfigAt(0, kSpeakerVolume), 1u);
    EXPECT_EQ(ConfigAt(0, kPreferredOptions), 0u);
    EXPECT_EQ(ConfigAt(0, kBaudRate), 0u); // not copied: the device keeps its own
    EXPECT_THROW(modem()->Assign(nullptr), Exception);
    modem()->Assign(modem()); // itself: nothing happens
}

TEST_F(ModemSettings, WaveDevicesOfTheSelection)
{
    EXPECT_TRUE(modem()->HasWaveDevice(0));
    EXPECT_EQ(modem()->WaveDeviceID(0), 21);
    EXPECT_EQ(modem()->WaveDeviceID(1), 11);
    line.SetDeviceIndex(-1);
    EXPECT_EQ(modem()->WaveDeviceID(0), -1);
    EXPECT_FALSE(modem()->HasWaveDevice(1));
}

// Configuration records ------------------------------------------------------------------

class ConfigRecords : public LineComponent {
protected:
    void SetUp() override
    {
        LineComponent::SetUp();
        AddDevice("A").config = FakeModemConfig(0x20, 110);
        AddDevice("B").config = FakeModemConfig(0x10, 110);
        line.EnumDevices();
    }
    const std::string key = "Software\\zqtest\\records";
};

TEST_F(ConfigRecords, SaveAndLoadKeepingTheIndex)
{
    line.SetDeviceIndex(0);
    line.SaveConfig(HKEY_CURRENT_USER, key, "cfg");
    const auto saved = fake->devices[0].config;
    line.SetDeviceIndex(1);
    line.LoadConfig(HKEY_CURRENT_USER, key, "cfg", true);
    EXPECT_TRUE(fatals.seen.empty());
    EXPECT_EQ(fake->devices[1].config, saved);
}

TEST_F(ConfigRecords, LoadingWithoutKeepIndexSelectsTheSavedPositionClamped)
{
    AddDevice("C").config = FakeModemConfig(0x200, 110);
    line.EnumDevices();
    line.SetDeviceIndex(2);
    line.SaveConfig(HKEY_CURRENT_USER, key, "third");
    fake->devices.pop_back();
    line.EnumDevices();
    line.SetDeviceIndex(0);
    line.LoadConfig(HKEY_CURRENT_USER, key, "third", false);
    EXPECT_EQ(line.GetDeviceIndex(), 1);
    EXPECT_EQ(fake->devices[1].config, FakeModemConfig(0x200, 110));
}

TEST_F(ConfigRecords, MissingValuesAndDevices)
{
    line.SetDeviceIndex(0);
    line.LoadConfig(HKEY_CURRENT_USER, "Software\\zqtest\\fresh", "none", true);
    EXPECT_TRUE(fatals.seen.empty());
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\zqtest\\fresh", 0, KEY_READ, &k), 0); // created
    RegCloseKey(k);

    line.SetDeviceIndex(-1);
    line.SaveConfig(HKEY_CURRENT_USER, key, "x");
    line.LoadConfig(HKEY_CURRENT_USER, key, "x", true);
    ASSERT_EQ(fatals.seen.size(), 2u);
    EXPECT_EQ(fatals.seen[0].detail, 8u);
    EXPECT_NE(fatals.seen[0].message.find("Save config Error Device"), std::string::npos);
    EXPECT_EQ(fatals.seen[1].detail, 5u);
    EXPECT_NE(fatals.seen[1].message.find("Load config Error Device Not Found"), std::string::npos);
    EXPECT_EQ(line.TAPIRefCount, 0);
}

TEST_F(ConfigRecords, RecordsThatDoNotFitAreRefused)
{
    line.SetDeviceIndex(0);
    HKEY k = nullptr;
    ASSERT_EQ(
        RegCreateKeyEx(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
        0);
    // Longer than the device's configuration takes.
    std::vector<unsigned char> longRecord(1 + 24 + 500, 0);
    RegSetValueEx(k, "long", 0, REG_BINARY, longRecord.data(), static_cast<DWORD>(longRecord.size()));
    // A header that claims more bytes than the record holds.
    std::vector<unsigned char> shortRecord(1 + 24 + 10, 0);
    const DWORD claimed = 100;
    std::memcpy(shortRecord.data() + 1 + 16, &claimed, 4);
    RegSetValueEx(k, "short", 0, REG_BINARY, shortRecord.data(), static_cast<DWORD>(shortRecord.size()));
    RegCloseKey(k);
    const auto before = fake->devices[0].config;
    line.LoadConfig(HKEY_CURRENT_USER, key, "long", true);
    line.LoadConfig(HKEY_CURRENT_USER, key, "short", true);
    ASSERT_EQ(fatals.seen.size(), 2u);
    EXPECT_EQ(fatals.seen[0].detail, 6u);
    EXPECT_NE(fatals.seen[0].message.find("more than"), std::string::npos);
    EXPECT_NE(fatals.seen[1].message.find("shorter than its header says"), std::string::npos);
    EXPECT_EQ(fake->devices[0].config, before);
}

TEST_F(ConfigRecords, AStoreThatCannotBeWrittenIsReported)
{
    line.SetDeviceIndex(0);
    const std::string store = getenv("ZQ_REGISTRY_FILE");
    // Nothing can be created below a plain file.
    setenv("ZQ_REGISTRY_FILE", "/proc/version/registry.json", 1);
    line.SaveConfig(HKEY_CURRENT_USER, key, "unsaved");
    setenv("ZQ_REGISTRY_FILE", store.c_str(), 1);
    ASSERT_EQ(fatals.seen.size(), 1u);
    EXPECT_EQ(fatals.seen[0].detail, 9u);
    EXPECT_NE(fatals.seen[0].message.find("Save config Error Device"), std::string::npos);
    EXPECT_EQ(line.TAPIRefCount, 0);
}

} // namespace
