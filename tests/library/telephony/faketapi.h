#pragma once
// A scripted telephony service for tests of the line component: loaded by
// the binding in place of the real service (ZQ_TAPI_LIBRARY), configured
// by the test through FakeTapiState().
#include "tapi.h"

#include <QCoreApplication>

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

// A message the service sends to the application, about the current call
// unless hDevice is given.
struct FakeMessage {
    DWORD msg;
    DWORD_PTR p1 = 0, p2 = 0, p3 = 0;
    DWORD hDevice = 0;
};

struct FakeTapi {
    std::vector<FakeDevice> devices;
    LONG initResult = 0;
    int initCalls = 0;
    int shutdownCalls = 0;
    int openLines = 0;

    // Calls. Every message goes through the application's event loop, as
    // the service's do; a request's reply is posted as the request returns.
    LINECALLBACK callback = nullptr;
    DWORD_PTR instance = 0;
    LONG nextRequest = 1;
    HCALL nextCall = 0x500;
    HCALL call = 0; // the current call
    DWORD callState = 0; // what lineGetCallStatus reports
    LONG makeCallReply = 0; // result carried by the reply of lineMakeCall
    LONG answerResult = 0; // what lineAnswer returns
    bool dropGoesIdle = true; // lineDrop's call reports idle afterwards
    bool statesBeforeReply = false;
    std::vector<FakeMessage> afterMakeCall; // posted with the reply
    std::vector<FakeMessage> afterAnswer;
    int deallocated = 0;
    int drops = 0;
    bool translateFails = false;
    std::vector<std::string> dialled;
};

// Posts a message to the application as the service does.
inline void FakePost(FakeTapi* s, FakeMessage m)
{
    const DWORD hDevice = m.hDevice ? m.hDevice : static_cast<DWORD>(s->call);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [s, m, hDevice] {
            if (m.msg == LINE_CALLSTATE)
                s->callState = static_cast<DWORD>(m.p1);
            if (s->callback)
                s->callback(hDevice, m.msg, s->instance, m.p1, m.p2, m.p3);
        },
        Qt::QueuedConnection);
}

// A modem block of the given size with provider subtype 6 and the given
// preferred options.
inline std::vector<unsigned char> FakeModemConfig(DWORD preferredOptions, size_t size = 120)
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
