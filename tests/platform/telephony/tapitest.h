#pragma once
// Common ground of the service tests: a registry of their own, the service
// reached through the binding, and a record of the line messages received.
#include "eventwait.h"
#include "tapi.h"
#include "zqtapi.h"

#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct LineMsg {
    DWORD device, msg;
    DWORD_PTR instance, p1, p2, p3;
    std::thread::id thread;
};

class MessageLog {
public:
    static MessageLog& Get()
    {
        static MessageLog log;
        return log;
    }
    static void Callback(DWORD dev, DWORD msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3)
    {
        Get().Add({ dev, msg, inst, p1, p2, p3, std::this_thread::get_id() });
    }
    void Add(const LineMsg& m)
    {
        std::lock_guard lock(mutex_);
        all_.push_back(m);
    }
    std::vector<LineMsg> All() const
    {
        std::lock_guard lock(mutex_);
        return all_;
    }
    // Messages for one callback instance, leaving out ring notifications.
    std::vector<LineMsg> For(DWORD_PTR instance) const
    {
        std::vector<LineMsg> out;
        for (const LineMsg& m : All())
            if (m.instance == instance && m.msg != LINE_LINEDEVSTATE)
                out.push_back(m);
        return out;
    }
    void Clear()
    {
        std::lock_guard lock(mutex_);
        all_.clear();
    }
    // Waits (serving events) for a call state message on a call.
    bool WaitState(DWORD_PTR instance, DWORD state, int limitMs = zqtest::kEventWaitLimitMs)
    {
        return zqtest::WaitUntil([&] { return FindState(instance, state) != nullptr; }, limitMs);
    }
    const LineMsg* FindState(DWORD_PTR instance, DWORD state)
    {
        std::lock_guard lock(mutex_);
        for (const LineMsg& m : all_)
            if (m.instance == instance && m.msg == LINE_CALLSTATE && m.p1 == state) {
                found_ = m;
                return &found_;
            }
        return nullptr;
    }
    bool WaitReply(LONG request, LONG* result = nullptr)
    {
        bool ok = zqtest::WaitUntil([&] {
            for (const LineMsg& m : All())
                if (m.msg == LINE_REPLY && LONG(m.p1) == request) {
                    if (result)
                        *result = LONG(DWORD(m.p2));
                    return true;
                }
            return false;
        });
        return ok;
    }

private:
    mutable std::mutex mutex_;
    std::vector<LineMsg> all_;
    LineMsg found_ {};
};

// Two simulated lines on a fresh registry, registered on the main thread.
class TapiTest : public ::testing::Test {
protected:
    static constexpr DWORD_PTR kInst1 = 0x1111, kInst2 = 0x2222;

    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        qputenv("ZQ_REGISTRY_FILE", dir_.filePath("registry.json").toLocal8Bit());
        MessageLog::Get().Clear();
    }
    void TearDown() override
    {
        if (app_)
            lineShutdown(&app_);
        // Messages already queued for the old registration are dropped.
        zqtest::WaitUntil([] { return false; }, 0);
        qunsetenv("ZQ_REGISTRY_FILE");
    }
    void Register()
    {
        ASSERT_EQ(lineInitialize(&app_, nullptr, &MessageLog::Callback, nullptr, &numDevs_), 0);
        LINEEXTENSIONID ext {};
        ASSERT_EQ(lineNegotiateAPIVersion(app_, 0, 0x00010000, 0x00090000, &version_, &ext), 0);
    }
    HLINE Open(
        DWORD device, DWORD_PTR instance, DWORD privileges, DWORD media = LINEMEDIAMODE_INTERACTIVEVOICE)
    {
        HLINE line = 0;
        EXPECT_EQ(lineOpen(app_, device, &line, version_, 0, instance, privileges, media, nullptr), 0);
        return line;
    }
    // The messages of one kind, to any instance.
    std::vector<LineMsg> Messages(DWORD msg)
    {
        std::vector<LineMsg> out;
        for (const LineMsg& m : MessageLog::Get().All())
            if (m.msg == msg)
                out.push_back(m);
        return out;
    }
    bool WaitMessage(DWORD msg, DWORD_PTR p1)
    {
        return zqtest::WaitUntil([&] {
            for (const LineMsg& m : Messages(msg))
                if (m.p1 == p1)
                    return true;
            return false;
        });
    }
    // Dials from line and waits for the reply; the call handle, or 0.
    HCALL Dial(HLINE line, const char* number, DWORD media = LINEMEDIAMODE_INTERACTIVEVOICE)
    {
        LINECALLPARAMS params {};
        params.dwTotalSize = sizeof params;
        params.dwBearerMode = LINEBEARERMODE_VOICE;
        params.dwMediaMode = media;
        params.dwCallParamFlags = LINECALLPARAMFLAGS_IDLE;
        params.dwAddressMode = LINEADDRESSMODE_DIALABLEADDR;
        HCALL call = 0;
        const LONG r = lineMakeCall(line, &call, number, 0, &params);
        EXPECT_GT(r, 0);
        LONG result = -1;
        EXPECT_TRUE(MessageLog::Get().WaitReply(r, &result));
        EXPECT_EQ(result, 0);
        return call;
    }
    // The offered call's handle on the owner's line.
    HCALL WaitOffer(DWORD_PTR instance)
    {
        if (!MessageLog::Get().WaitState(instance, LINECALLSTATE_OFFERING))
            return 0;
        return MessageLog::Get().FindState(instance, LINECALLSTATE_OFFERING)->device;
    }
    DWORD CallState(HCALL call)
    {
        LINECALLSTATUS st {};
        st.dwTotalSize = sizeof st;
        return lineGetCallStatus(call, &st) == 0 ? st.dwCallState : 0;
    }

    QTemporaryDir dir_;
    HLINEAPP app_ = 0;
    DWORD numDevs_ = 0;
    DWORD version_ = 0;
};

// A VARSTRING block of a given size.
struct VarBlock {
    explicit VarBlock(size_t size = 283)
        : bytes(size)
    {
        Var()->dwTotalSize = DWORD(size);
        Var()->dwStringFormat = STRINGFORMAT_BINARY;
    }
    VARSTRING* Var() { return reinterpret_cast<VARSTRING*>(bytes.data()); }
    const char* Data() { return bytes.data() + Var()->dwStringOffset; }
    DWORD Dword(int i)
    {
        DWORD v = 0;
        std::memcpy(&v, Data() + 4 * i, 4);
        return v;
    }
    std::vector<char> bytes;
};
