#pragma once
// The fixture of the tests that run a line component on the scripted
// service: a registry store of the process's own, the service's script
// reset before each test, and fatal errors collected instead of raised.
#include "faketapi.h"
#include "linetest_support.h"

#include <gtest/gtest.h>

#include <string>

class ScriptedLineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        zqtest::UseScratchStore();
        fake = UseFakeTapi();
        ASSERT_NE(fake, nullptr);
    }
    void SetUp() override
    {
        *fake = FakeTapi {};
        line.OnFatalError = fatals.Event();
    }

    // Adds a device to the script that opens, answers every query and
    // takes a modem configuration; its wave devices are numbered from 11
    // (in) and 21 (out) on.
    FakeDevice& AddDevice(const std::string& name)
    {
        fake->devices.emplace_back();
        FakeDevice& d = fake->devices.back();
        d.name = name;
        d.port = "P" + name;
        d.waveIn = 10 + static_cast<DWORD>(fake->devices.size());
        d.waveOut = 20 + static_cast<DWORD>(fake->devices.size());
        d.config = FakeModemConfig(0);
        return d;
    }

    static inline FakeTapi* fake = nullptr;

    // Declared before the line, which writes to both until it is gone.
    Fatals fatals;
    zqtest::RecordingLog log;
    TzqCommTAPI line;
};
