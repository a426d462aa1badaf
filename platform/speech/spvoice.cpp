#include "spvoice.h"

#include "espeakengine_p.h"
#include "streamwriter_p.h"
#include "voiceparams_p.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

namespace zq::speech {

// Book-keeping shared with the engine jobs, which may outlive the voice.
struct SpVoice::Pending {
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<std::shared_ptr<std::atomic<bool>>> running;
    std::exception_ptr error;

    void CancelAll()
    {
        std::lock_guard lock(mutex);
        for (auto& flag : running)
            flag->store(true);
    }

    void Finish(const std::shared_ptr<std::atomic<bool>>& flag, std::exception_ptr failure)
    {
        {
            std::lock_guard lock(mutex);
            std::erase(running, flag);
            if (failure && !flag->load() && !error)
                error = failure;
        }
        finished.notify_all();
    }
};

SpVoice::SpVoice()
    : pending_(std::make_shared<Pending>())
{
}

SpVoice::~SpVoice()
{
    pending_->CancelAll();
}

void SpVoice::putref_AudioOutputStream(const std::shared_ptr<SpMemoryStream>& stream)
{
    if (!stream)
        throw SpeechEngineError(E_POINTER, "No audio output stream was given.");
    stream_ = stream;
}

void SpVoice::put_Rate(int32_t rate)
{
    CheckRate(rate);
    rate_ = rate;
}

void SpVoice::put_Volume(int32_t volume)
{
    CheckVolume(volume);
    volume_ = volume;
}

int32_t SpVoice::Speak(const std::string& text, int32_t flags)
{
    constexpr int32_t supported = SVSFlagsAsync | SVSFPurgeBeforeSpeak | SVSFIsNotXML;
    if (flags & ~supported) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(flags & ~supported));
        throw SpeechEngineError(
            SPERR_INVALID_FLAGS, std::string("The speak flags ") + hex + " are not supported.");
    }
    if (!stream_)
        throw SpeechEngineError(SPERR_UNINITIALIZED, "No audio output stream is set.");
    const auto format = stream_->get_Format()->GetWaveFormatEx();
    CheckRenderableFormat(*format);
    const PcmLayout layout { format->get_SamplesPerSec(), format->get_BitsPerSample(),
        format->get_Channels() };

    if (flags & SVSFPurgeBeforeSpeak)
        pending_->CancelAll();

    RenderRequest request { text, voice_ ? voice_->EngineVoice() : std::string(),
        WordsPerMinuteForRate(rate_), AmplitudeForVolume(volume_),
        std::make_shared<std::atomic<bool>>(false) };
    {
        std::lock_guard lock(pending_->mutex);
        pending_->running.push_back(request.cancelled);
    }
    EspeakEngine& engine = EspeakEngine::Instance();
    engine.Post([&engine, pending = pending_, stream = stream_, request, layout] {
        std::exception_ptr failure;
        try {
            StreamWriter writer(*stream, layout);
            engine.RenderHere(request, writer);
            if (!request.cancelled->load())
                writer.Finish();
        } catch (...) {
            failure = std::current_exception();
        }
        pending->Finish(request.cancelled, failure);
    });

    const int32_t number = ++streamNumber_;
    if (!(flags & SVSFlagsAsync))
        WaitUntilDone(-1);
    return number;
}

bool SpVoice::WaitUntilDone(int32_t msTimeout)
{
    if (msTimeout < -1)
        throw SpeechEngineError(
            E_INVALIDARG, "The time-out " + std::to_string(msTimeout) + " ms is negative.");
    std::unique_lock lock(pending_->mutex);
    auto done = [this] { return pending_->running.empty(); };
    if (msTimeout == -1)
        pending_->finished.wait(lock, done);
    else if (!pending_->finished.wait_for(lock, std::chrono::milliseconds(msTimeout), done))
        return false;
    if (auto error = std::exchange(pending_->error, nullptr))
        std::rethrow_exception(error);
    return true;
}

} // namespace zq::speech
