// The tests' child-process runner, on the shell: what the suites that run
// programs rely on.
#include "childprocess.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using zqtest::ChildProcess;

constexpr int kLimitMs = 60000;

TEST(ChildProcess, InputOutputEnvironmentAndFolderReachTheChild)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("ZQ_CHILD_KEPT", "kept");
    qputenv("ZQ_CHILD_GONE", "gone");
    ChildProcess p;
    ASSERT_TRUE(p.Start("sh",
        { "-c",
            "cat; echo \"$ZQ_CHILD_KEPT/${ZQ_CHILD_GONE-unset}/$ZQ_CHILD_NEW\"; pwd; echo oops >&2; exit 3" },
        { dir.path(), { "ZQ_CHILD_GONE", "ZQ_CHILD_NEW=a=b" } }))
        << p.Error().toStdString();
    ASSERT_TRUE(p.Write("typed\n"));
    p.CloseInput();
    ASSERT_TRUE(p.WaitForExit(kLimitMs));
    EXPECT_EQ(p.Out(), "typed\nkept/unset/a=b\n" + dir.path().toLocal8Bit() + "\n");
    EXPECT_EQ(p.Err(), "oops\n");
    EXPECT_EQ(p.ExitCode(), 3);
    EXPECT_FALSE(p.Crashed());
    qunsetenv("ZQ_CHILD_KEPT");
    qunsetenv("ZQ_CHILD_GONE");
}

// Far more than a pipe holds, both ways at once: neither side stalls.
TEST(ChildProcess, LargeInputAndOutputDoNotStall)
{
    ChildProcess p;
    ASSERT_TRUE(p.Start("sh", { "-c", "cat; head -c 1000000 /dev/zero >&2" }));
    const QByteArray input(1 << 20, 'x');
    ASSERT_TRUE(p.Write(input));
    p.CloseInput();
    ASSERT_TRUE(p.WaitForExit(kLimitMs));
    EXPECT_EQ(p.Out(), input);
    EXPECT_EQ(p.Err().size(), 1000000);
    EXPECT_EQ(p.ExitCode(), 0);
}

TEST(ChildProcess, OutputIsWatchedAsItComesAndSignalsEndTheChild)
{
    ChildProcess p;
    ASSERT_TRUE(p.Start("sh", { "-c", "echo ready; read line; echo \"got $line\"; exec sleep 600" }));
    ASSERT_TRUE(p.WaitForOut("ready\n", kLimitMs));
    EXPECT_EQ(p.Out(), "ready\n");
    ASSERT_TRUE(p.Write("one\n"));
    ASSERT_TRUE(p.WaitForMoreOut(kLimitMs));
    EXPECT_TRUE(p.WaitForOut("got one\n", kLimitMs));
    EXPECT_EQ(p.Out(), "ready\ngot one\n");
    EXPECT_TRUE(p.Running());
    EXPECT_FALSE(p.WaitForExit(0));
    p.Terminate();
    ASSERT_TRUE(p.WaitForExit(kLimitMs));
    EXPECT_TRUE(p.Crashed());
    EXPECT_EQ(p.ExitCode(), -1);
    // Its output has ended: nothing more is waited for.
    EXPECT_FALSE(p.WaitForMoreOut(kLimitMs));
    EXPECT_FALSE(p.WaitForOut("never", kLimitMs));

    ChildProcess killed;
    ASSERT_TRUE(killed.Start("sleep", { "600" }));
    killed.Kill();
    EXPECT_FALSE(killed.Running());
    EXPECT_TRUE(killed.Crashed());
}

TEST(ChildProcess, AChildThatStopsReadingOrCannotStartIsReported)
{
    ChildProcess p;
    ASSERT_TRUE(p.Start("true"));
    ASSERT_TRUE(p.WaitForExit(kLimitMs));
    // No SIGPIPE ends this process.
    EXPECT_FALSE(p.Write(QByteArray(1 << 20, 'x')));
    EXPECT_EQ(p.ExitCode(), 0);

    ChildProcess missing;
    EXPECT_FALSE(missing.Start("/no/such/program"));
    EXPECT_TRUE(missing.Error().contains("/no/such/program")) << missing.Error().toStdString();
    EXPECT_FALSE(missing.Running());
    EXPECT_FALSE(missing.WaitForExit(0));
}

// A child left running goes with its runner: nothing waits on it afterwards.
TEST(ChildProcess, TheRunnerEndsAChildStillRunning)
{
    pid_t pid = -1;
    {
        ChildProcess p;
        ASSERT_TRUE(p.Start("sleep", { "600" }));
        pid = p.Pid();
    }
    EXPECT_NE(::kill(pid, 0), 0); // reaped, so no such process
}

} // namespace
