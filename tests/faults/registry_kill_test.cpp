// A program killed while it rewrites the registry store, over and over: the
// store left behind is always the one before or the one after the change
// being written, and it reads.
#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>
#include <QtGlobal>

#include "churnwriter.h"
#include "registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int kProcessLimitMs = 60000;
constexpr LONG OK = LONG(ERROR_SUCCESS);

TEST(RegistryKill, AStoreKilledMidSaveIsTheOldOrTheNewOne)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("ZQ_REGISTRY_FILE", dir.filePath("registry.json").toLocal8Bit());
    for (int round = 0; round < 100; ++round) {
        const std::string key = "Round" + std::to_string(round);
        // A different count each round moves the kill across the write.
        const int acked = zqtest::ChurnAndKill(key.c_str(), round % 9, kProcessLimitMs);
        ASSERT_GE(acked, 0) << "round " << round;

        // The store reads: nothing was set aside as corrupt.
        ASSERT_TRUE(QDir(dir.path()).entryList({ "registry.json.corrupt-*" }, QDir::Files).isEmpty())
            << "round " << round;
        HKEY k = nullptr;
        ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &k), OK)
            << "round " << round;
        // Every acknowledged value, and at most the one being written.
        int present = 0;
        for (int n = 0; n <= acked + 1; ++n) {
            const std::string name = "v" + std::to_string(n);
            DWORD size = 0;
            if (RegQueryValueEx(k, name.c_str(), nullptr, nullptr, nullptr, &size) != OK) {
                EXPECT_EQ(n, acked + 1) << "round " << round << ": acknowledged " << name << " is lost";
                continue;
            }
            std::vector<char> text(size);
            ASSERT_EQ(RegQueryValueEx(
                          k, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size),
                OK);
            EXPECT_STREQ(text.data(), zqtest::ChurnValue(n).c_str()) << "round " << round;
            ++present;
        }
        char name[64];
        DWORD nameLen = sizeof name;
        EXPECT_NE(RegEnumValue(k, DWORD(present), name, &nameLen, nullptr, nullptr, nullptr, nullptr), OK)
            << "round " << round << ": a value that was never written";
        RegCloseKey(k);
        // Keep the store small, so every round's writes take the same time.
        ASSERT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, key.c_str()), OK) << "round " << round;
    }
    qunsetenv("ZQ_REGISTRY_FILE");
}

} // namespace
