#pragma once
// Small stand-ins shared by the framework tests: a minimal medium, a log
// sink that keeps what it is given, and a processor that records notices.
#include "recordinglog.h"
#include "zqclasses.h"

#include <string>
#include <vector>

using zqtest::RecordingLog;

// A medium whose handle is an event object: enough to open and close.
class TestIO : public TzqBaseIO {
public:
    using TzqBaseIO::TzqBaseIO;
    std::string sent;
    int index = -1;
    int enumCalls = 0;
    bool openSucceeds = true;
    void SendChar(char c) override { sent += c; }
    void SendString(const std::string& s) override { sent += s; }
    void SendData(const void* b, int n) override { sent.append(static_cast<const char*>(b), n); }
    int GetDeviceIndex() override { return index; }
    void EnumDevices() override { ++enumCalls; }
    HANDLE CreateHandle() override { return openSucceeds ? CreateEvent(FALSE, FALSE) : INVALID_HANDLE_VALUE; }
    void Open() override
    {
        TzqBaseIO::Open();
        if (IsOpened())
            BroadcastNotify(NOTIFY_OPENED);
    }
    void Close() override
    {
        if (!IsOpened())
            return;
        TzqBaseIO::Close();
        BroadcastNotify(NOTIFY_CLOSED);
    }
};

class TestProcessor : public TzqCustomDataProcessor {
public:
    using TzqCustomDataProcessor::TzqCustomDataProcessor;
    std::vector<int> codes;
    bool handles = false;
    int txEmpty = 0;
    void CommNotify(TzqBaseIO* Sender, int Code) override
    {
        codes.push_back(Code);
        TzqCustomDataProcessor::CommNotify(Sender, Code);
    }
    void ProcessData(const void*, int, bool& Handled) override { Handled = handles; }
    void DoTxEmpty(bool&) override { ++txEmpty; }
};
