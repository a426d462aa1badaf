#pragma once
// A scripted telephony service for tests of the line component: loaded by
// the binding in place of the real service (ZQ_TAPI_LIBRARY), configured
// by the test through FakeTapiState().
#include "tapi.h"

#include <string>
#include <vector>

struct FakeDevice {
    std::string name = "Fake modem";
    std::string port = "FAKE0";
    bool openFails = false;
    bool commFails = false;
    bool portFails = false;
    bool waveInOut = true; // answers "wave/in/out"
    DWORD waveIn = 0;
    DWORD waveOut = 0;
    DWORD bearerModes = 0x1;
    DWORD mediaModes = 0x18;
    bool getConfigFails = false;
    std::vector<unsigned char> config; // the block behind the VARSTRING header
    int setConfigCalls = 0;
};

struct FakeTapi {
    std::vector<FakeDevice> devices;
    LONG initResult = 0;
    int initCalls = 0;
    int shutdownCalls = 0;
    int openLines = 0;
};

// A modem block of the given size with provider subtype 6 and the given
// preferred options.
inline std::vector<unsigned char> FakeModemBlock(DWORD preferredOptions, size_t size = 120)
{
    std::vector<unsigned char> b(size);
    auto put = [&](size_t at, DWORD v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    put(0, static_cast<DWORD>(size));
    put(48, 6);
    put(92, preferredOptions);
    return b;
}

extern "C" FakeTapi* FakeTapiState();
