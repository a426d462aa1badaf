#include "modemclass.h"
#include "registry.h"
#include "zqmodemkeys.h"

#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr LONG OK = LONG(ERROR_SUCCESS);
const std::string kClass = zq::registry::kModemClassKey;

class ModemKeysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        qputenv("ZQ_REGISTRY_FILE", dir_.filePath("registry.json").toLocal8Bit());
        zq::telephony::ResetModemKeys();
    }
    void TearDown() override
    {
        zq::telephony::ResetModemKeys();
        qunsetenv("ZQ_REGISTRY_FILE");
    }

    // A key below HKEY_LOCAL_MACHINE with string values (name, text pairs).
    static void MakeKey(
        const std::string& path, const std::vector<std::pair<std::string, std::string>>& values)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr),
            OK);
        for (const auto& [name, text] : values) {
            ASSERT_EQ(RegSetValueEx(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          DWORD(text.size() + 1)),
                OK);
        }
        RegCloseKey(key);
    }

    static std::vector<std::string> Lines()
    {
        std::vector<std::string> lines;
        for (const zq::telephony::TModemKey& key : ModemKeys())
            lines.push_back(key.Line());
        return lines;
    }

    QTemporaryDir dir_;
};

TEST_F(ModemKeysTest, FindsAModemOfTheClassByNameInAnyCase)
{
    ASSERT_EQ(zq::registry::RegisterModem("0000", "Standard 56000 bps Modem", "COM1", "ATZ"), OK);
    ASSERT_EQ(zq::registry::RegisterModem("0001", "Voice Modem", "COM2", ""), OK);
    MakeKey(kClass + "\\0002", { { "AttachedTo", "COM3" } }); // no friendly name: not listed

    EXPECT_EQ(FindModemKey("voice MODEM"), kClass + "\\0001");
    EXPECT_EQ(FindModemKey("Standard 56000 bps Modem"), kClass + "\\0000");
    EXPECT_EQ(FindModemKey("Other Modem"), "");
    EXPECT_EQ(FindModemKey(""), "");
    EXPECT_EQ(Lines(),
        (std::vector<std::string> {
            "Standard 56000 bps Modem=" + kClass + "\\0000", "Voice Modem=" + kClass + "\\0001" }));
}

TEST_F(ModemKeysTest, TheModemListedFirstWinsAmongEqualNames)
{
    // Created in reverse; the class key lists its subkeys in name order.
    ASSERT_EQ(zq::registry::RegisterModem("0001", "Twin Modem", "COM2", ""), OK);
    ASSERT_EQ(zq::registry::RegisterModem("0000", "TWIN MODEM", "COM1", ""), OK);
    EXPECT_EQ(FindModemKey("twin modem"), kClass + "\\0000");
}

TEST_F(ModemKeysTest, ANameContainingAnEqualsSignIsFoundWhole)
{
    ASSERT_EQ(zq::registry::RegisterModem("0000", "Fast=Modem", "COM1", ""), OK);
    EXPECT_EQ(FindModemKey("Fast=Modem"), kClass + "\\0000");
    EXPECT_EQ(FindModemKey("Fast"), "");
}

TEST_F(ModemKeysTest, AnEmptyListIsBuiltAgainAtTheNextLookupAndThenKept)
{
    EXPECT_EQ(FindModemKey("Late Modem"), "");
    EXPECT_TRUE(ModemKeys().empty());

    ASSERT_EQ(zq::registry::RegisterModem("0000", "Late Modem", "COM1", ""), OK);
    EXPECT_EQ(FindModemKey("Late Modem"), kClass + "\\0000");

    // Once something was found the list stays as it is.
    ASSERT_EQ(zq::registry::RegisterModem("0001", "Later Modem", "COM2", ""), OK);
    EXPECT_EQ(FindModemKey("Later Modem"), "");
    zq::telephony::ResetModemKeys();
    EXPECT_EQ(FindModemKey("Later Modem"), kClass + "\\0001");
}

TEST_F(ModemKeysTest, TheEnumerationTreeIsSearchedForDevicesOfClassModem)
{
    MakeKey("Enum\\Root\\Modem\\0000",
        { { "Class", "Modem" }, { "FriendlyName", "Internal Modem" }, { "Driver", "Modem\\0000" } });
    MakeKey("Enum\\Serenum\\COM2\\0000",
        { { "Class", "MODEM" }, { "FriendlyName", "External Modem" }, { "Driver", "Modem\\0001" } });
    // A modem that cannot be named or located is left out.
    MakeKey("Enum\\Serenum\\COM3\\0000", { { "Class", "Modem" }, { "Driver", "Modem\\0002" } });
    MakeKey("Enum\\Serenum\\COM4\\0000", { { "Class", "Modem" }, { "FriendlyName", "No Driver" } });
    // Devices of another class are not searched below.
    MakeKey("Enum\\PCI\\Net", { { "Class", "Net" } });
    MakeKey(
        "Enum\\PCI\\Net\\Inner", { { "Class", "Modem" }, { "FriendlyName", "Hidden" }, { "Driver", "x" } });

    ScanModemKeys("Enum");
    const std::string services = "System\\CurrentControlSet\\Services\\Class\\";
    EXPECT_EQ(Lines(),
        (std::vector<std::string> {
            "Internal Modem=" + services + "Modem\\0000", "External Modem=" + services + "Modem\\0001" }));

    // A filled list answers lookups without scanning the modem class.
    ASSERT_EQ(zq::registry::RegisterModem("0000", "Class Modem", "COM1", ""), OK);
    EXPECT_EQ(FindModemKey("EXTERNAL modem"), services + "Modem\\0001");
    EXPECT_EQ(FindModemKey("Class Modem"), "");

    ScanModemKeys("Missing\\Path");
    EXPECT_EQ(ModemKeys().size(), 2u);
}

TEST_F(ModemKeysTest, PublishingAModemAgainKeepsTheUsersInitString)
{
    ASSERT_EQ(zq::registry::RegisterModem("0000", "Modem", "COM1", "ATZ"), OK);
    const std::string path = kClass + "\\0000";
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key), OK);
    ASSERT_EQ(RegSetValueEx(key, "UserInit", 0, REG_SZ, reinterpret_cast<const BYTE*>("AT&F"), 5), OK);

    ASSERT_EQ(zq::registry::RegisterModem("0000", "Renamed Modem", "COM9", "ATZ"), OK);
    auto read = [&](const char* name) {
        char text[64] = {};
        DWORD size = sizeof text - 1;
        EXPECT_EQ(RegQueryValueEx(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), OK)
            << name;
        return std::string(text);
    };
    EXPECT_EQ(read("UserInit"), "AT&F");
    EXPECT_EQ(read("FriendlyName"), "Renamed Modem");
    EXPECT_EQ(read("AttachedTo"), "COM9");
    RegCloseKey(key);

    EXPECT_EQ(zq::registry::RegisterModem("", "x", "COM1", ""), LONG(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(zq::registry::RegisterModem("a\\b", "x", "COM1", ""), LONG(ERROR_INVALID_PARAMETER));
}

} // namespace
