#pragma once
// What the line component tests share: their own registry store, the
// service they load, a log that keeps lines, and fatal errors collected
// instead of raised.
#include "zqcommtapi.h"
#include "zqlogfile.h"

#include <QDir>
#include <QTemporaryDir>

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

class KeptLog : public TzqCustomLogFile {
public:
    std::vector<std::string> lines;
    void AddSeparator() override { lines.push_back("--"); }
    void WriteLine(int, const std::string& Text) override { lines.push_back(Text); }
    void WriteLineFmt(int, const std::string& Fmt, const TVarRecs& Args) override
    {
        lines.push_back(Format(Fmt, Args));
    }
    bool Has(const std::string& line) const
    {
        for (const auto& l : lines)
            if (l == line)
                return true;
        return false;
    }
};

// The folder of the running test program, where the libraries are built.
std::string ProgramDir();
// A registry store of this test process's own.
void UseOwnRegistry();

struct FakeTapi;
// Has the binding load the scripted service, kept loaded for the whole run
// so that its state outlives the binding's unloading at every shutdown.
FakeTapi* UseFakeTapi();
