// Programs that start together on an empty store: each must see the
// simulated exchange's lines, and the store must hold each entry once.
#include "childprocess.h"
#include "modemclass.h"
#include "registrykey.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

namespace {

using zq::registry::RegistryKey;
using zqtest::ChildProcess;

// Where the simulated exchange keeps its lines, as a user edits it.
constexpr const char* kSimulatedLinesKey = "SOFTWARE\\zqcomm\\Telephony\\Simulated\\Lines";

TEST(FirstStart, EightProgramsOnAnEmptyStoreAgreeOnTheLines)
{
    constexpr int kRounds = 20;
    constexpr int kPrograms = 8;
    for (int round = 0; round < kRounds; ++round) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const ChildProcess::Setup setup { {}, { "ZQ_REGISTRY_FILE", "XDG_CONFIG_HOME=" + dir.path() } };
        std::vector<std::unique_ptr<ChildProcess>> programs;
        for (int i = 0; i < kPrograms; ++i) {
            programs.push_back(std::make_unique<ChildProcess>());
            ASSERT_TRUE(programs.back()->Start(QStringLiteral(ZQLINES_PATH), {}, setup))
                << programs.back()->Error().toStdString();
        }
        for (int i = 0; i < kPrograms; ++i) {
            ChildProcess& p = *programs[size_t(i)];
            ASSERT_TRUE(p.WaitForExit(120000)) << "round " << round;
            const QString out = QString::fromLocal8Bit(p.Out());
            EXPECT_EQ(p.ExitCode(), 0) << "round " << round;
            EXPECT_TRUE(out.startsWith("2 line device(s)")) << "round " << round << " program " << i << ":\n"
                                                            << out.toStdString();
        }

        qputenv("ZQ_REGISTRY_FILE", dir.filePath("zqcomm/registry.json").toLocal8Bit());
        EXPECT_EQ(RegistryKey(HKEY_LOCAL_MACHINE, kSimulatedLinesKey).SubKeys().size(), 2u)
            << "round " << round;
        std::map<std::string, int> published;
        const RegistryKey cls(HKEY_LOCAL_MACHINE, zq::registry::kModemClassKey);
        for (const std::string& n : cls.SubKeys())
            ++published[RegistryKey(HKEY_LOCAL_MACHINE, std::string(zq::registry::kModemClassKey) + "\\" + n)
                            .String("FriendlyName", "")];
        EXPECT_EQ(published.size(), 2u) << "round " << round;
        EXPECT_EQ(published["Simulated line 1"], 1) << "round " << round;
        EXPECT_EQ(published["Simulated line 2"], 1) << "round " << round;
        qunsetenv("ZQ_REGISTRY_FILE");
        if (HasFailure())
            break;
    }
}

} // namespace
