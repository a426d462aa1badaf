// The speech demo's headless runs on a modem line, the modem being the
// simulator on a pseudo-terminal: a call out that speaks, and a call in whose
// memo is recorded.
#include "childprocess.h"
#include "modemclass.h"
#include "modemsim_process.h"
#include "providerswitch.h"
#include "registry.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using zq::modem::test::ModemSimProcess;

namespace {

constexpr const char* kName = "ZQ Sim Voice Modem";

struct ProgramRun {
    int exitCode = -1;
    QString out, err;
};

class ModemHeadless : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        setenv("ZQ_REGISTRY_FILE", dir_.filePath("registry.json").toLocal8Bit().constData(), 1);
    }
    void TearDown() override { unsetenv("ZQ_REGISTRY_FILE"); }

    // The simulator as the registry's one modem, with the provider switched on.
    void Install(const ModemSimProcess& sim)
    {
        ASSERT_FALSE(sim.device().empty());
        ASSERT_EQ(zq::registry::RegisterModem("0000", kName, sim.device(), ""), 0);
        ASSERT_TRUE(zqtest::EnableProvider("Modem"));
    }

    ProgramRun Speechdemo(const QStringList& args)
    {
        zqtest::ChildProcess p;
        ProgramRun r;
        if (!p.Start(QCoreApplication::applicationDirPath() + "/speechdemo", args)
            || !p.WaitForExit(180000)) {
            p.Kill();
            r.err = "did not finish";
            return r;
        }
        r.exitCode = p.ExitCode();
        r.out = QString::fromLocal8Bit(p.Out());
        r.err = QString::fromLocal8Bit(p.Err());
        return r;
    }

    void CallOut(const std::string& script, const char* streamEnd);
    void MemoIn(const std::string& script);

    QTemporaryDir dir_;
};

std::string Script(const char* name)
{
    return zq::modem::test::readWhole(std::string(ZQ_MODEM_SCRIPTS) + "/" + name);
}

std::vector<int16_t> Samples(const std::string& bytes)
{
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

double Rms(const std::vector<int16_t>& s)
{
    double sum = 0;
    for (int16_t x : s)
        sum += double(x) * x;
    return s.empty() ? 0 : std::sqrt(sum / double(s.size()));
}

// The data chunk of a 16-bit PCM WAV file as samples.
std::vector<int16_t> WavSamples(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    const qsizetype data = b.indexOf("data");
    if (data < 0 || data + 8 > b.size())
        return {};
    return Samples(b.mid(data + 8).toStdString());
}

} // namespace

// The same runs on a modem that plays or records at a time (AT+VTX, AT+VRX)
// and on one that does both at once (AT+VTR).
void ModemHeadless::CallOut(const std::string& script, const char* streamEnd)
{
    ModemSimProcess sim(script);
    Install(sim);
    const ProgramRun r = Speechdemo({ "--device", kName, "--call", "5551234", "--text",
        "Hello, this is the modem speaking to you.", "--timeout", "120" });
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString() << sim.log();
    EXPECT_TRUE(r.out.contains("Connection established")) << r.out.toStdString();
    EXPECT_TRUE(sim.waitLog("dial T5551234")) << sim.log();
    EXPECT_TRUE(sim.waitLog(streamEnd)) << sim.log();
    // The memo reached the modem: more than a second of sound at 16 bits.
    const std::vector<int16_t> heard = Samples(sim.record());
    EXPECT_GT(heard.size(), 8000u) << sim.log();
    EXPECT_GT(Rms(heard), 100.0);
}

void ModemHeadless::MemoIn(const std::string& script)
{
    std::vector<int16_t> memo;
    for (int i = 0; i < 16000; ++i) // two seconds
        memo.push_back(static_cast<int16_t>(9000 * std::sin(i * 0.05) + (i % 97) * 20));
    std::vector<uint8_t> memoBytes(memo.size() * 2);
    std::memcpy(memoBytes.data(), memo.data(), memoBytes.size());
    ModemSimProcess sim(script, memoBytes);
    Install(sim);
    const QString wav = dir_.filePath("memo.wav");
    const ProgramRun r = Speechdemo({ "--device", kName, "--wait", "--record", wav, "--timeout", "120" });
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString() << sim.log();
    EXPECT_TRUE(r.out.contains("Connection established")) << r.out.toStdString();
    EXPECT_TRUE(sim.waitLog("answered"));
    const std::vector<int16_t> got = WavSamples(wav);
    ASSERT_GE(got.size(), memo.size());
    // Line silence before and after; the memo itself sample for sample.
    const auto at = std::search(got.begin(), got.end(), memo.begin(), memo.begin() + 100);
    ASSERT_NE(at, got.end()) << got.size() << sim.log();
    const size_t from = size_t(at - got.begin());
    size_t same = 0;
    while (same < memo.size() && from + same < got.size() && got[from + same] == memo[same])
        ++same;
    EXPECT_EQ(same, memo.size()) << "memo at " << from << " of " << got.size();
}

TEST_F(ModemHeadless, ACallOutSpeaksTheTextIntoTheModem)
{
    CallOut(Script("call_out.sim"), "VTX end");
}

TEST_F(ModemHeadless, ACallInIsAnsweredAndItsMemoRecordedIntact)
{
    MemoIn(Script("memo_in.sim"));
}

TEST_F(ModemHeadless, BothRunsOnAFullDuplexModem)
{
    CallOut("duplex\n" + Script("call_out.sim"), "VTR end");
    std::string memoIn = Script("memo_in.sim");
    memoIn.replace(memoIn.find("after AT+VRX"), 12, "after AT+VTR");
    MemoIn("duplex\n" + memoIn);
}
