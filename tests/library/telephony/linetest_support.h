#pragma once
// What the line component tests share: their own registry store, the
// service they load, a log that keeps lines, and fatal errors collected
// instead of raised.
#include "recordinglog.h"
#include "scratchstore.h"
#include "zqcommtapi.h"

#include <string>
#include <vector>

struct FatalRecord {
    Cardinal code;
    Cardinal detail;
    std::string message;
};

class Fatals {
public:
    std::vector<FatalRecord> seen;
    void Handler(TObject*, Cardinal code, Cardinal detail, const std::string& msg, bool& raise)
    {
        seen.push_back({ code, detail, msg });
        raise = false;
    }
    TOnFatalErrorEvent Event() { return TOnFatalErrorEvent(this, &Fatals::Handler); }
};

using zqtest::RecordingLog;

// The folder of the running test program, where the libraries are built.
std::string ProgramDir();

struct FakeTapi;
// Has the binding load the scripted service, kept loaded for the whole run
// so that its state outlives the binding's unloading at every shutdown.
FakeTapi* UseFakeTapi();
