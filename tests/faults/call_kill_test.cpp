// A program killed in the middle of a call to another program: the other
// side sees the line disconnect soon after, and its line takes the next call.
#include "childprocess.h"
#include "eventwait.h"
#include "linelistens.h"
#include "registry.h"
#include "scratchstoreenvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

using zqtest::Scratch;

// Both programs share this store; the exchange rings quickly there.
[[maybe_unused]] ::testing::Environment* const kSharedRegistry
    = ::testing::AddGlobalTestEnvironment(new zqtest::ScratchStoreEnvironment);

// A run of the program whose output lines are watched as they come.
class ProgramRun {
public:
    explicit ProgramRun(const QStringList& args)
    {
        process_.Start(QCoreApplication::applicationDirPath() + "/speechdemo", args);
    }
    // Until the line is printed or the program ends.
    bool WaitForLine(const QString& line)
    {
        auto seen = [&] { return QString::fromLocal8Bit(process_.Out()).split('\n').contains(line); };
        const QDeadlineTimer limit(zqtest::kEventWaitLimitMs);
        while (!seen() && process_.WaitForMoreOut(int(limit.remainingTime()))) { }
        return seen();
    }
    void Kill() { process_.Kill(); }
    int Finish() { return process_.WaitForExit(120000) ? process_.ExitCode() : -1; }
    std::string Output()
    {
        return (process_.Error() + QString::fromLocal8Bit(process_.Out() + process_.Err())).toStdString();
    }

private:
    zqtest::ChildProcess process_;
};

// A waiting run is reachable once its line's socket exists.
bool LineWaits()
{
    return zqtest::WaitUntil([] { return zqtest::LineListens("1002"); });
}

TEST(CallKill, TheOtherSideSeesTheDisconnectionAndTakesTheNextCall)
{
    const QString longText = "This call goes on for a long while, so that the program that placed it "
                             "is killed while it is still speaking. It says the same again and again. "
                             "This call goes on for a long while, so that the program that placed it "
                             "is killed while it is still speaking.";
    {
        ProgramRun waiting({ "--wait", "--record", Scratch().filePath("first.wav"), "--timeout", "90" });
        ASSERT_TRUE(LineWaits()) << waiting.Output();
        ProgramRun caller(
            { "--device", "Simulated line 1", "--call", "1002", "--text", longText, "--timeout", "90" });
        ASSERT_TRUE(caller.WaitForLine("Connection established")) << caller.Output();
        ASSERT_TRUE(waiting.WaitForLine("Connection established")) << waiting.Output();
        caller.Kill();
        QElapsedTimer noticed;
        noticed.start();
        // The bound only turns a hang into a failure; the time is printed.
        ASSERT_TRUE(waiting.WaitForLine("Line disconnected")) << waiting.Output();
        std::printf("the waiting side saw the disconnection %lld ms after the kill\n",
            static_cast<long long>(noticed.elapsed()));
        EXPECT_EQ(waiting.Finish(), 0) << waiting.Output();
    }
    // The line is free again: a new wait on it answers the next call.
    ProgramRun waiting({ "--wait", "--record", Scratch().filePath("second.wav"), "--timeout", "90" });
    ASSERT_TRUE(LineWaits()) << waiting.Output();
    ProgramRun caller(
        { "--device", "Simulated line 1", "--call", "1002", "--text", "The next call.", "--timeout", "90" });
    EXPECT_EQ(caller.Finish(), 0) << caller.Output();
    EXPECT_EQ(waiting.Finish(), 0) << waiting.Output();
    EXPECT_NE(waiting.Output().find("Line disconnected"), std::string::npos) << waiting.Output();
}

} // namespace
