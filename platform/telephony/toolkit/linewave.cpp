// Line wave devices: the endpoints the wave layer drives, converting between
// the application's format and the line's own.
#include "linewave.h"

#include "wavedevices.h"

#include <soxr.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace zq::telephony {

namespace {

constexpr DWORD kMinRate = 4000;
constexpr DWORD kMaxRate = 192000;

WORD BlockAlign(const AudioFormat& f)
{
    return WORD(f.channels * f.bitsPerSample / 8);
}

bool SameFormat(const AudioFormat& a, const AudioFormat& b)
{
    return a.samplesPerSec == b.samplesPerSec && a.bitsPerSample == b.bitsPerSample
        && a.channels == b.channels;
}

// Which LineAudio the devices of one line key go to now.
struct Slot {
    std::mutex mutex;
    std::shared_ptr<LineAudio> audio;
    std::shared_ptr<LineAudio> Get()
    {
        std::lock_guard lock(mutex);
        return audio;
    }
};

// What both directions share: the slot of their line, the application's
// format and the converter between the two.
template <class Endpoint> class LineEndpoint : public Endpoint {
public:
    explicit LineEndpoint(std::shared_ptr<Slot> slot)
        : slot_(std::move(slot))
    {
    }
    MMRESULT Open(const WAVEFORMATEX& format) override
    {
        if (MMRESULT r = CheckLineFormat(format))
            return r;
        format_ = FormatOf(format);
        converter_.reset();
        Opened();
        return MMSYSERR_NOERROR;
    }
    bool RealTime() const override
    {
        auto audio = slot_->Get();
        return audio ? audio->RealTime() : true;
    }

protected:
    virtual void Opened() { }

    std::shared_ptr<Slot> slot_;
    AudioFormat format_;
    std::unique_ptr<PcmConverter> converter_;
};

class LineWaveOut : public LineEndpoint<zq::wave::WaveOutEndpoint> {
public:
    using LineEndpoint::LineEndpoint;
    void Write(const void* data, size_t bytes) override
    {
        std::shared_ptr<LineAudio> audio = slot_->Get();
        if (!audio)
            return;
        const AudioFormat line = audio->Format();
        if (!converter_ || !SameFormat(converter_->To(), line))
            converter_ = std::make_unique<PcmConverter>(format_, line);
        if (converter_->Identity()) {
            audio->Play(data, bytes);
            return;
        }
        converted_.clear();
        converter_->Convert(data, bytes, &converted_);
        if (!converted_.empty())
            audio->Play(converted_.data(), converted_.size());
    }
    void Reset() override
    {
        converter_.reset();
        if (auto audio = slot_->Get())
            audio->PlayStopped();
    }
    void Close() override
    {
        // What the resampler still holds is the end of what was played.
        if (auto audio = slot_->Get(); audio && converter_ && !converter_->Identity()) {
            converted_.clear();
            converter_->Flush(&converted_);
            if (!converted_.empty())
                audio->Play(converted_.data(), converted_.size());
        }
        Reset();
    }

private:
    std::vector<uint8_t> converted_;
};

class LineWaveIn : public LineEndpoint<zq::wave::WaveInEndpoint> {
public:
    using LineEndpoint::LineEndpoint;
    size_t Read(void* data, size_t bytes) override
    {
        std::shared_ptr<LineAudio> audio = slot_->Get();
        if (!audio)
            return 0;
        const AudioFormat line = audio->Format();
        const size_t outAlign = BlockAlign(format_);
        const size_t inAlign = BlockAlign(line);
        const uint8_t silence = line.bitsPerSample == 8 ? 0x80 : 0;
        if (!converter_ || !SameFormat(converter_->From(), line)) {
            converter_ = std::make_unique<PcmConverter>(line, format_);
            pending_.clear();
            delivered_ = lineRead_ = 0;
            // The resampler holds back its filter's length and gives in
            // pieces: lead in with 30 ms of silence beyond what it holds, so
            // each piece of the line's time then yields the same piece of the
            // application's, with one constant delay and no gaps.
            if (!converter_->Identity()) {
                const std::vector<uint8_t> ms(
                    inAlign * std::max<DWORD>(line.samplesPerSec / 1000, 1), silence);
                const size_t lead = std::max<size_t>(format_.samplesPerSec * 30 / 1000, 2) * outAlign;
                for (int i = 0; i < 1000 && pending_.size() < lead; ++i)
                    converter_->Convert(ms.data(), ms.size(), &pending_);
            }
        }
        const size_t wantFrames = bytes / outAlign;
        if (converter_->Identity()) {
            const size_t got = audio->Record(data, wantFrames * outAlign);
            return got - got % outAlign;
        }
        // The line's frames that belong to the application's frames asked
        // for so far, counted from the start so rounding never adds up.
        delivered_ += wantFrames;
        const uint64_t lineDue
            = (delivered_ * line.samplesPerSec + format_.samplesPerSec - 1) / format_.samplesPerSec;
        if (lineDue > lineRead_) {
            raw_.resize(size_t(lineDue - lineRead_) * inAlign);
            lineRead_ = lineDue;
            const size_t got = audio->Record(raw_.data(), raw_.size());
            // Time goes on where the line gave nothing: silence.
            std::memset(raw_.data() + got, silence, raw_.size() - got);
            converter_->Convert(raw_.data(), raw_.size(), &pending_);
        }
        const size_t give = std::min(pending_.size() / outAlign, wantFrames) * outAlign;
        if (give)
            std::memcpy(data, pending_.data(), give);
        pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(give));
        // What a stalled reader did not take is not kept for ever: the
        // recording stays close to the line.
        const size_t limit = format_.samplesPerSec * outAlign;
        if (pending_.size() > limit)
            pending_.erase(pending_.begin(), pending_.end() - ptrdiff_t(limit - limit % outAlign));
        return give;
    }
    void Start() override
    {
        pending_.clear();
        converter_.reset();
        if (auto audio = slot_->Get())
            audio->RecordStarted();
    }

private:
    void Opened() override { pending_.clear(); }

    std::vector<uint8_t> pending_, raw_;
    uint64_t delivered_ = 0, lineRead_ = 0;
};

struct Devices {
    LineWaveIds ids;
    std::shared_ptr<Slot> slot;
};

std::mutex tableMutex;
std::map<std::string, Devices>& Table()
{
    // Kept for the process: the devices stay registered.
    static auto* table = new std::map<std::string, Devices>;
    return *table;
}

} // namespace

LineWaveIds LineWaveDevices(const std::string& key, const std::string& name)
{
    std::lock_guard lock(tableMutex);
    Devices& d = Table()[key];
    if (!d.slot) {
        d.slot = std::make_shared<Slot>();
        d.ids.out
            = zq::wave::RegisterWaveOutDevice(name + " Playback", std::make_shared<LineWaveOut>(d.slot));
        d.ids.in = zq::wave::RegisterWaveInDevice(name + " Record", std::make_shared<LineWaveIn>(d.slot));
    }
    return d.ids;
}

void AttachLineAudio(const std::string& key, std::shared_ptr<LineAudio> audio)
{
    std::shared_ptr<Slot> slot;
    {
        std::lock_guard lock(tableMutex);
        auto it = Table().find(key);
        if (it == Table().end())
            return;
        slot = it->second.slot;
    }
    std::lock_guard lock(slot->mutex);
    slot->audio = std::move(audio);
}

AudioFormat FormatOf(const WAVEFORMATEX& format)
{
    return AudioFormat { format.nSamplesPerSec, format.wBitsPerSample, format.nChannels };
}

MMRESULT CheckLineFormat(const WAVEFORMATEX& f)
{
    const bool ok = f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2)
        && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= kMinRate
        && f.nSamplesPerSec <= kMaxRate && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
    return ok ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

// ---- PcmConverter -----------------------------------------------------------

PcmConverter::PcmConverter(AudioFormat from, AudioFormat to)
    : from_(from)
    , to_(to)
    , identity_(SameFormat(from, to))
{
    if (from.samplesPerSec != to.samplesPerSec) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        // Telephone bandwidth needs no more than the low-quality filter; small
        // transform blocks keep its output coming in pieces of about 10 ms
        // rather than 100 ms bursts, which a 20 ms device clock would feel.
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_LQ, 0);
        soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        runtime.log2_min_dft_size = 8;
        runtime.log2_large_dft_size = 8;
        soxr_ = soxr_create(
            double(from.samplesPerSec), double(to.samplesPerSec), 1, &error, &io, &quality, &runtime);
        if (error)
            soxr_ = nullptr;
    }
}

PcmConverter::~PcmConverter()
{
    if (soxr_)
        soxr_delete(static_cast<soxr_t>(soxr_));
}

void PcmConverter::Convert(const void* data, size_t bytes, std::vector<uint8_t>* out)
{
    if (identity_) {
        const auto* p = static_cast<const uint8_t*>(data);
        out->insert(out->end(), p, p + bytes);
        return;
    }
    // To 16-bit mono first: the resampler and the output side work on that.
    const size_t frames = bytes / BlockAlign(from_);
    std::vector<int16_t> mono(frames);
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < frames; ++i) {
        int sum = 0;
        for (int c = 0; c < from_.channels; ++c) {
            if (from_.bitsPerSample == 8) {
                sum += (int(p[0]) - 128) << 8;
                p += 1;
            } else {
                int16_t s;
                std::memcpy(&s, p, 2);
                sum += s;
                p += 2;
            }
        }
        mono[i] = int16_t(sum / from_.channels);
    }
    if (!soxr_) {
        Emit(mono, out);
        return;
    }
    const size_t capacity = size_t(double(frames) * to_.samplesPerSec / from_.samplesPerSec) + 64;
    std::vector<int16_t> resampled(capacity);
    size_t idone = 0, odone = 0;
    soxr_process(static_cast<soxr_t>(soxr_), mono.data(), frames, &idone, resampled.data(), capacity, &odone);
    resampled.resize(odone);
    Emit(resampled, out);
}

void PcmConverter::Flush(std::vector<uint8_t>* out)
{
    if (!soxr_)
        return;
    std::vector<int16_t> tail(4096);
    size_t odone = 0;
    soxr_process(static_cast<soxr_t>(soxr_), nullptr, 0, nullptr, tail.data(), tail.size(), &odone);
    tail.resize(odone);
    Emit(tail, out);
}

void PcmConverter::Emit(const std::vector<int16_t>& mono, std::vector<uint8_t>* out) const
{
    const size_t start = out->size();
    out->resize(start + mono.size() * BlockAlign(to_));
    uint8_t* q = out->data() + start;
    for (int16_t s : mono)
        for (int c = 0; c < to_.channels; ++c) {
            if (to_.bitsPerSample == 8) {
                *q++ = uint8_t((s >> 8) + 128);
            } else {
                std::memcpy(q, &s, 2);
                q += 2;
            }
        }
}

} // namespace zq::telephony
