#pragma once
// A log sink that keeps what it is given, for tests that check what a
// component reported. Lines may come from any thread; the test reads them
// directly once the writers are done, or through Has and Count meanwhile.
// Tests using it link zqclasses.
#include "zqlogfile.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace zqtest {

class RecordingLog : public TzqCustomLogFile {
public:
    using TzqCustomLogFile::TzqCustomLogFile;

    std::vector<std::string> lines; // in the order written
    std::vector<int> levels; // the level of each line
    int separators = 0;

    void AddSeparator() override
    {
        std::lock_guard lock(mutex_);
        ++separators;
    }
    void WriteLine(int Level, const std::string& Text) override { Add(Level, Text); }
    void WriteLineFmt(int Level, const std::string& Fmt, const TVarRecs& Args) override
    {
        Add(Level, Format(Fmt, Args));
    }

    int Count(const std::string& line) const
    {
        std::lock_guard lock(mutex_);
        return int(std::count(lines.begin(), lines.end(), line));
    }
    bool Has(const std::string& line) const { return Count(line) > 0; }

private:
    void Add(int level, const std::string& text)
    {
        std::lock_guard lock(mutex_);
        lines.push_back(text);
        levels.push_back(level);
    }

    mutable std::mutex mutex_;
};

} // namespace zqtest
