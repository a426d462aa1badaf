// The registry store on a disk with no room left, as programs meet it: the
// simulated exchange's first start and a line's saved configuration fail
// with one clear message, and nothing claims success.
#include "childprocess.h"
#include "devconfig.h"
#include "eventwait.h"
#include "smallfilesystem.h"
#include "tapi.h"
#include "zqtapi.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A small file system of its own, filled up on demand.
class FullStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        mountPoint_ = dir_.filePath("small");
        if (!small_.Mount(mountPoint_))
            GTEST_SKIP() << small_.Refusal();
    }
    // Writes a filler file until the file system has no room left.
    bool Fill()
    {
        const QByteArray block(4096, 'f');
        QFile rest(Filler());
        if (!rest.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        while (rest.write(block) == block.size()) { }
        return true;
    }
    QString Filler() const { return mountPoint_ + "/filler"; }
    QString StoreFile() const { return mountPoint_ + "/zqcomm/registry.json"; }

    QTemporaryDir dir_;
    QString mountPoint_;
    zqtest::SmallFileSystem small_;
};

struct ProgramRun {
    int exitCode = -1;
    QString out, err;
};

ProgramRun Zqlines(const QString& configHome)
{
    zqtest::ChildProcess p;
    ProgramRun r;
    if (!p.Start(
            QStringLiteral(ZQLINES_PATH), {}, { {}, { "ZQ_REGISTRY_FILE", "XDG_CONFIG_HOME=" + configHome } })
        || !p.WaitForExit(120000) || p.Crashed())
        return r;
    r.exitCode = p.ExitCode();
    r.out = QString::fromLocal8Bit(p.Out());
    r.err = QString::fromLocal8Bit(p.Err());
    return r;
}

TEST_F(FullStoreTest, FirstStartOnAFullDiskFailsOnceAndClearly)
{
    ASSERT_TRUE(Fill());
    const ProgramRun full = Zqlines(mountPoint_);
    EXPECT_NE(full.exitCode, 0) << full.out.toStdString();
    EXPECT_FALSE(full.out.contains("line device(s)")) << full.out.toStdString();
    EXPECT_EQ(full.err.count("cannot write the registry store"), 1) << full.err.toStdString();
    EXPECT_TRUE(full.err.contains(StoreFile())) << full.err.toStdString();
    EXPECT_TRUE(full.err.contains("zqlines: lineInitialize failed")) << full.err.toStdString();

    // With room again the next start sets the lines up whole.
    ASSERT_TRUE(QFile::remove(Filler()));
    const ProgramRun room = Zqlines(mountPoint_);
    EXPECT_EQ(room.exitCode, 0) << room.err.toStdString();
    EXPECT_TRUE(room.out.startsWith("2 line device(s)")) << room.out.toStdString();
    EXPECT_TRUE(room.out.contains("Simulated line 1")) << room.out.toStdString();
    EXPECT_TRUE(room.out.contains("Simulated line 2")) << room.out.toStdString();
    EXPECT_FALSE(room.err.contains("cannot write")) << room.err.toStdString();
}

std::vector<uint8_t> DevConfig(DWORD device)
{
    std::vector<uint8_t> bytes(2048);
    auto* var = reinterpret_cast<VARSTRING*>(bytes.data());
    var->dwTotalSize = DWORD(bytes.size());
    if (lineGetDevConfig(device, var, "comm/datamodem") != 0)
        return {};
    return std::vector<uint8_t>(
        bytes.begin() + var->dwStringOffset, bytes.begin() + var->dwStringOffset + var->dwStringSize);
}

TEST_F(FullStoreTest, ALineConfigurationThatCannotBeSavedIsRefusedAndTheOldOneKept)
{
    qputenv("ZQ_REGISTRY_FILE", StoreFile().toLocal8Bit());
    HLINEAPP app = 0;
    DWORD devices = 0;
    ASSERT_EQ(lineInitialize(
                  &app, nullptr, [](DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}, nullptr,
                  &devices),
        0);
    ASSERT_GE(devices, 1u);
    const std::vector<uint8_t> before = DevConfig(0);
    ASSERT_GE(before.size(), 104u);

    ASSERT_TRUE(Fill());
    std::vector<uint8_t> changed = before;
    const DWORD volume = MDMVOL_HIGH;
    std::memcpy(changed.data() + 84, &volume, sizeof volume);
    EXPECT_EQ(DWORD(lineSetDevConfig(0, changed.data(), DWORD(changed.size()), "comm/datamodem")),
        LINEERR_OPERATIONFAILED);
    EXPECT_TRUE(DevConfig(0) == before);

    ASSERT_TRUE(QFile::remove(Filler()));
    EXPECT_EQ(lineSetDevConfig(0, changed.data(), DWORD(changed.size()), "comm/datamodem"), 0);
    EXPECT_TRUE(DevConfig(0) == changed);
    lineShutdown(&app);
    // Messages already queued for the registration are dropped.
    zqtest::WaitUntil([] { return false; }, 0);
    qunsetenv("ZQ_REGISTRY_FILE");
}

} // namespace
