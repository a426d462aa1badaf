// A program killed while it rewrites the registry store, over and over: the
// store left behind is always the one before or the one after the change
// being written, and it reads.
#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>
#include <QtGlobal>

#include "childprocess.h"
#include "registry.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

constexpr int kProcessLimitMs = 60000;
constexpr LONG OK = LONG(ERROR_SUCCESS);

std::string Expected(int n)
{
    return "value " + std::to_string(n) + std::string(size_t(n % 64) * 16, 'x');
}

// Starts the churning writer, lets it acknowledge `wanted` values and kills
// it; returns the last value it acknowledged.
int ChurnAndKill(const char* key, int wanted)
{
    zqtest::ChildProcess child;
    EXPECT_TRUE(child.Start(QStringLiteral(ZQ_REGISTRY_CHILD), { "churn", key }))
        << child.Error().toStdString();
    int acked = -1;
    QByteArray pending;
    qsizetype taken = 0;
    while (acked < wanted) {
        if (!child.WaitForMoreOut(kProcessLimitMs)) {
            ADD_FAILURE() << child.Err().toStdString();
            break;
        }
        const QByteArray& out = child.Out();
        pending += out.mid(taken);
        taken = out.size();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (line.startsWith("acked "))
                acked = line.mid(6).toInt();
        }
    }
    child.Signal(SIGKILL);
    EXPECT_TRUE(child.WaitForExit(kProcessLimitMs));
    pending += child.Out().mid(taken);
    for (const QByteArray& line : pending.split('\n'))
        if (line.startsWith("acked "))
            acked = line.mid(6).toInt();
    return acked;
}

TEST(RegistryKill, AStoreKilledMidSaveIsTheOldOrTheNewOne)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("ZQ_REGISTRY_FILE", dir.filePath("registry.json").toLocal8Bit());
    for (int round = 0; round < 100; ++round) {
        const std::string key = "Round" + std::to_string(round);
        // A different count each round moves the kill across the write.
        const int acked = ChurnAndKill(key.c_str(), round % 9);
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
            EXPECT_STREQ(text.data(), Expected(n).c_str()) << "round " << round;
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
