#pragma once
// The churning writer (registry_child churn <key>): a program that sets
// values v0, v1, ... under a key for ever, printing "acked <n>" once value
// n is stored, killed by the test in the middle of its writes. Tests using
// it define ZQ_REGISTRY_CHILD as the program's path.
#include "childprocess.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace zqtest {

// What the writer stores as value n: sizes that vary, so writes do too.
inline std::string ChurnValue(int n)
{
    return "value " + std::to_string(n) + std::string(size_t(n % 64) * 16, 'x');
}

// Starts the writer on key, lets it acknowledge at least `wanted` values and
// kills it; the last value it acknowledged, acknowledgements written after
// the last one read before the kill included (-1 when there were none).
inline int ChurnAndKill(const char* key, int wanted, int limitMs = 60000)
{
    ChildProcess child;
    EXPECT_TRUE(child.Start(QStringLiteral(ZQ_REGISTRY_CHILD), { "churn", key }))
        << child.Error().toStdString();
    int acked = -1;
    QByteArray pending;
    qsizetype taken = 0;
    // Whole lines only: a line the kill cut short may hold part of a number.
    auto takeLines = [&] {
        pending += child.Out().mid(taken);
        taken = child.Out().size();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            EXPECT_TRUE(line.startsWith("acked ")) << line.toStdString();
            if (line.startsWith("acked "))
                acked = line.mid(6).toInt();
        }
    };
    while (acked < wanted) {
        if (!child.WaitForMoreOut(limitMs)) {
            ADD_FAILURE() << child.Err().toStdString();
            break;
        }
        takeLines();
    }
    child.Signal(SIGKILL);
    EXPECT_TRUE(child.WaitForExit(limitMs));
    takeLines();
    return acked;
}

} // namespace zqtest
