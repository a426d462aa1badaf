#pragma once
// The eSpeak NG synthesiser behind the voice objects: installed voices and
// rendering of text into 16-bit mono samples at the engine's own rate.
#include "enginethread_p.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zq::speech {

struct EngineVoice {
    std::string identifier; // what the engine selects it by, e.g. "gmw/en-US"
    std::string name; // readable, e.g. "English (America)"
    std::string language; // e.g. "en-us"
    int gender = 0; // 0 unknown, 1 male, 2 female
};

struct RenderRequest {
    std::string text; // UTF-8
    std::string voice; // engine identifier; empty for the default voice
    int wordsPerMinute = 175;
    int amplitude = 100;
    // Set by the owner to abandon a render that nobody will use.
    std::shared_ptr<std::atomic<bool>> cancelled;
};

struct RenderedSpeech {
    std::vector<int16_t> samples;
    int sampleRate = 0;
};

// Receives the samples of one render as the engine produces them, on the
// engine thread. Start comes first, once, with the engine's sample rate. An
// exception thrown here ends the render and is raised by RenderHere.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    virtual void Start(int sampleRate) = 0;
    virtual void Put(const int16_t* samples, size_t count) = 0;
};

class EspeakEngine {
public:
    // The process's one engine. Its data directory is taken from ZQ_ESPEAK_DATA
    // when that is set, from the engine's own default otherwise.
    static EspeakEngine& Instance();

    // Raises SpeechEngineError (REGDB_E_CLASSNOTREG) when the engine cannot
    // start, with what to install.
    void RequireInstalled();
    // Installed voices in the engine's order; empty when there is no voice
    // data. Listed once per process.
    std::vector<EngineVoice> Voices();
    // Renders on the engine thread and waits, keeping every sample; throws
    // SpeechEngineError.
    RenderedSpeech Render(const RenderRequest& request);
    // Queues a job for the engine thread, for work that ends in a render.
    void Post(std::function<void()> job) { thread_.Post(std::move(job)); }
    // Only on the engine thread (from a posted job): hands the samples to the
    // sink as they come, so nothing at the engine's rate is kept.
    void RenderHere(const RenderRequest& request, SampleSink& sink);

    ~EspeakEngine();

private:
    EspeakEngine();
    void EnsureInitialized();
    void SelectVoice(const std::string& identifier);

    std::string dataPath_;
    bool dataPathUsable_ = true;
    bool initTried_ = false;
    int initStatus_ = 0; // espeak_ng_STATUS of the first initialisation
    std::string initError_;
    int sampleRate_ = 0;
    // Engine thread only.
    bool voicesListed_ = false;
    std::vector<EngineVoice> voices_;
    bool voiceSelected_ = false;
    std::string selectedVoice_; // engine identifier, empty for the default
    // Last, so the thread is stopped before the state its jobs use goes away.
    EngineThread thread_;
};

} // namespace zq::speech
