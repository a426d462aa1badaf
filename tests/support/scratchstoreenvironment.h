#pragma once
// For suites whose test process and the programs it starts all share one
// scratch store with fast rings: the store's folder, which lasts as long as
// the process, and the test environment that sets it up before any test
// touches the registry.
#include "scratchstore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zqtest {

inline QTemporaryDir& Scratch()
{
    static QTemporaryDir dir;
    return dir;
}

class ScratchStoreEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(Scratch().isValid());
        UseScratchStoreWithFastRings(Scratch());
    }
};

} // namespace zqtest
