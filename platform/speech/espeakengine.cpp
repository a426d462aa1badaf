#include "espeakengine_p.h"

#include "sapitypes.h"

#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>

namespace zq::speech {

namespace {

// Where the synthesiser's callback puts samples; only touched on the engine thread.
struct RenderTarget {
    SampleSink* sink;
    const std::atomic<bool>* cancelled;
    std::exception_ptr failure; // from the sink; must not unwind through the engine
};
RenderTarget* g_target = nullptr;

int OnSynth(short* wav, int numSamples, espeak_EVENT*)
{
    if (!g_target)
        return 0;
    if (g_target->failure || (g_target->cancelled && g_target->cancelled->load()))
        return 1;
    if (wav && numSamples > 0) {
        try {
            g_target->sink->Put(wav, static_cast<size_t>(numSamples));
        } catch (...) {
            g_target->failure = std::current_exception();
            return 1;
        }
    }
    return 0;
}

class CollectingSink : public SampleSink {
public:
    explicit CollectingSink(RenderedSpeech& speech)
        : speech_(speech)
    {
    }
    void Start(int sampleRate) override { speech_.sampleRate = sampleRate; }
    void Put(const int16_t* samples, size_t count) override
    {
        speech_.samples.insert(speech_.samples.end(), samples, samples + count);
    }

private:
    RenderedSpeech& speech_;
};

std::string StatusText(espeak_ng_STATUS status, espeak_ng_ERROR_CONTEXT context = nullptr)
{
    // The library only prints the file it failed on, so let it print into memory.
    char* text = nullptr;
    size_t length = 0;
    std::string result;
    if (FILE* out = open_memstream(&text, &length)) {
        espeak_ng_PrintStatusCodeMessage(status, out, context);
        std::fclose(out);
        result.assign(text, length);
        std::free(text);
    }
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r'))
        result.pop_back();
    if (result.empty()) {
        char buffer[256];
        espeak_ng_GetStatusCodeMessage(status, buffer, sizeof buffer);
        result = buffer;
    }
    return result;
}

void Check(espeak_ng_STATUS status, const std::string& what)
{
    if (status != ENS_OK)
        throw SpeechEngineError(E_FAIL, what + ": " + StatusText(status));
}

std::string ReadableName(const espeak_VOICE& voice)
{
    std::string name = voice.name ? voice.name : "";
    for (char& c : name)
        if (c == '_')
            c = ' ';
    if (name.empty() && voice.languages)
        name = voice.languages + 1; // past the priority byte
    if (name.empty() && voice.identifier)
        name = voice.identifier;
    return name;
}

} // namespace

EspeakEngine& EspeakEngine::Instance()
{
    static EspeakEngine engine;
    return engine;
}

EspeakEngine::EspeakEngine()
{
    if (const char* path = std::getenv("ZQ_ESPEAK_DATA"); path && *path) {
        dataPath_ = path;
        // Without this check the library would quietly fall back to its
        // default data, which is not what the caller pointed us at.
        std::error_code error;
        dataPathUsable_ = std::filesystem::is_directory(dataPath_, error);
    }
    thread_.SetShutdown([this] {
        if (initTried_ && initStatus_ == ENS_OK)
            espeak_ng_Terminate();
    });
}

EspeakEngine::~EspeakEngine() = default;

void EspeakEngine::EnsureInitialized()
{
    if (initTried_)
        return;
    initTried_ = true;
    if (!dataPathUsable_) {
        initStatus_ = ENS_NOT_INITIALIZED;
        initError_ = "The speech engine's data directory " + dataPath_ + " does not exist.";
        return;
    }
    espeak_ng_InitializePath(dataPath_.empty() ? nullptr : dataPath_.c_str());
    espeak_ng_ERROR_CONTEXT context = nullptr;
    auto status = espeak_ng_Initialize(&context);
    if (status == ENS_OK)
        status = espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, 0, nullptr);
    initStatus_ = status;
    if (status != ENS_OK) {
        initError_ = "The speech engine could not be initialized: " + StatusText(status, context);
        espeak_ng_ClearErrorContext(&context);
        return;
    }
    sampleRate_ = espeak_ng_GetSampleRate();
    espeak_SetSynthCallback(OnSynth);
}

void EspeakEngine::RequireInstalled()
{
    thread_.Call([this] {
        EnsureInitialized();
        if (initStatus_ != ENS_OK)
            throw SpeechEngineError(REGDB_E_CLASSNOTREG,
                initError_
                    + " Install the speech engine and its voices: the Debian packages espeak-ng-data and "
                      "libespeak-ng1.");
    });
}

std::vector<EngineVoice> EspeakEngine::Voices()
{
    return thread_.Call([this] {
        EnsureInitialized();
        if (!dataPathUsable_)
            return std::vector<EngineVoice> {};
        // The engine reads every voice file of its data directory for a
        // listing, which costs more than rendering a sentence; the voices are
        // listed at start and looked up again for each render, and one list
        // for the process also keeps the indexes of the two in step.
        if (!voicesListed_) {
            // Lists the voices of the data directory even when the phoneme
            // data failed to load, so a broken installation still shows what
            // it has.
            const espeak_VOICE** list = espeak_ListVoices(nullptr);
            for (size_t i = 0; list && list[i]; ++i) {
                const espeak_VOICE& v = *list[i];
                voices_.push_back({ v.identifier ? v.identifier : "", ReadableName(v),
                    v.languages ? v.languages + 1 : "", v.gender });
            }
            voicesListed_ = true;
        }
        return voices_;
    });
}

void EspeakEngine::SelectVoice(const std::string& identifier)
{
    // Selecting reloads the voice and its dictionary; plain text (no markup)
    // leaves the selection as it was, so a voice in use stays.
    if (voiceSelected_ && selectedVoice_ == identifier)
        return;
    voiceSelected_ = false;
    if (!identifier.empty()) {
        if (espeak_ng_SetVoiceByName(identifier.c_str()) != ENS_OK)
            throw SpeechEngineError(SPERR_NOT_FOUND, "The voice " + identifier + " is not installed.");
    } else if (espeak_ng_SetVoiceByName("en") != ENS_OK) {
        const espeak_VOICE** list = espeak_ListVoices(nullptr);
        if (!list || !list[0] || !list[0]->identifier)
            throw SpeechEngineError(SPERR_NOT_FOUND, "No voice is installed.");
        Check(espeak_ng_SetVoiceByName(list[0]->identifier), "The default voice cannot be selected");
    }
    selectedVoice_ = identifier;
    voiceSelected_ = true;
}

RenderedSpeech EspeakEngine::Render(const RenderRequest& request)
{
    return thread_.Call([this, &request] {
        RenderedSpeech speech;
        CollectingSink sink(speech);
        RenderHere(request, sink);
        return speech;
    });
}

void EspeakEngine::RenderHere(const RenderRequest& request, SampleSink& sink)
{
    if (request.cancelled && request.cancelled->load())
        return;
    EnsureInitialized();
    if (initStatus_ != ENS_OK)
        throw SpeechEngineError(E_FAIL, initError_);
    SelectVoice(request.voice);
    Check(espeak_ng_SetParameter(espeakRATE, request.wordsPerMinute, 0), "The speaking rate was refused");
    Check(espeak_ng_SetParameter(espeakVOLUME, request.amplitude, 0), "The volume was refused");

    sink.Start(sampleRate_);
    RenderTarget target { &sink, request.cancelled.get(), nullptr };
    g_target = &target;
    const auto status = espeak_ng_Synthesize(request.text.c_str(), request.text.size() + 1, 0, POS_CHARACTER,
        0, espeakCHARS_UTF8, nullptr, nullptr);
    g_target = nullptr;
    if (target.failure)
        std::rethrow_exception(target.failure);
    if (request.cancelled && request.cancelled->load())
        return;
    Check(status, "The text could not be rendered");
}

} // namespace zq::speech
