#pragma once
// A wave component over a byte vector, and a recorder for its events, for
// the tests of the wave component.
#include "scopedenv.h"
#include "testaudio.h"
#include "thread.h"
#include "zqwavebase.h"

#include <gtest/gtest.h>

#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace wavetest {

using zqtest::Pattern;
using zqtest::Pcm;
using zqtest::ScopedEnv;

// Plays Data in the given format; every buffer offers OnBufferPlay first,
// as the speech component does.
class TTestWave : public TzqCustomWave {
public:
    using TzqCustomWave::TzqCustomWave;
    ~TTestWave() override
    {
        Destroying();
        AfterPlay = nullptr;
        AfterRecord = nullptr;
        StopPlay();
        StopRecord();
    }

    std::vector<uint8_t> Data;
    WAVEFORMATEX Format = Pcm(8000, 1, 8);
    bool HasData = true;
    // Added to the count of the first fill that delivers data.
    int OverReport = 0;
    std::atomic<int> Prepared { 0 };
    std::atomic<int> Finished { 0 };
    std::atomic<int> Fills { 0 };
    std::vector<int> Offered;

    // Recording: the format to record in and every byte handed over.
    WAVEFORMATEX RecordFormat = Pcm(8000, 1, 16);
    std::vector<uint8_t> Recorded;
    std::atomic<int> RecordsFinished { 0 };

    bool PreparePlay() override
    {
        ++Prepared;
        pos_ = 0;
        outputFormat_ = Format;
        return HasData;
    }
    void PlayFinished() override { ++Finished; }
    int FillBuffer(void* Buffer, int Size) override
    {
        ++Fills;
        Offered.push_back(Size);
        if (DoBufferPlay(Buffer, Size))
            return Size;
        const size_t n = std::min<size_t>(size_t(std::max(Size, 0)), Data.size() - pos_);
        if (n)
            std::memcpy(Buffer, Data.data() + pos_, n);
        pos_ += n;
        int count = int(n);
        if (n && OverReport) {
            count += OverReport;
            OverReport = 0;
        }
        return count;
    }

    bool PrepareRecord() override
    {
        inputFormat_ = RecordFormat;
        return true;
    }
    void StoreRecorded(const void* Buffer, int Size) override
    {
        auto* p = static_cast<const uint8_t*>(Buffer);
        Recorded.insert(Recorded.end(), p, p + Size);
    }
    void RecordFinished() override { ++RecordsFinished; }

private:
    size_t pos_ = 0;
};

// Counts the component's events and notes where they ran.
struct EventLog {
    std::atomic<int> afterPlay { 0 };
    std::atomic<int> afterRecord { 0 };
    std::atomic<bool> afterOnMain { true };
    std::vector<std::tuple<Cardinal, Cardinal, std::string>> fatal;
    bool raise = false;
    std::function<void()> onAfterPlay;

    void AfterPlay(TObject*)
    {
        afterOnMain = afterOnMain && zq::kernel::IsMainThread();
        ++afterPlay;
        if (onAfterPlay)
            onAfterPlay();
    }
    void AfterRecord(TObject*)
    {
        afterOnMain = afterOnMain && zq::kernel::IsMainThread();
        ++afterRecord;
    }
    void Fatal(TObject*, Cardinal code, Cardinal detail, const std::string& msg, bool& raiseException)
    {
        fatal.emplace_back(code, detail, msg);
        raiseException = raise;
    }
    void Attach(TzqCustomWave& w)
    {
        w.AfterPlay = TNotifyEvent(this, &EventLog::AfterPlay);
        w.AfterRecord = TNotifyEvent(this, &EventLog::AfterRecord);
        w.OnFatalError = TOnFatalErrorEvent(this, &EventLog::Fatal);
    }
};

struct TempDir {
    TempDir()
    {
        path = std::filesystem::temp_directory_path()
            / ("zqwave-component-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
    static inline int counter = 0;
};

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

} // namespace wavetest
