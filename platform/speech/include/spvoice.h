#pragma once
// The voice object: renders text with a chosen voice, rate and volume into
// its audio output stream, in that stream's format.
#include "spmemorystream.h"
#include "spobjecttoken.h"
#include "zqspeechengine_export.h"

#include <memory>
#include <string>

namespace zq::speech {

class ZQSPEECHENGINE_EXPORT SpVoice {
public:
    SpVoice();
    // Abandons renders still queued; their stream is left as it was.
    ~SpVoice();
    SpVoice(const SpVoice&) = delete;
    SpVoice& operator=(const SpVoice&) = delete;

    void putref_AudioOutputStream(const std::shared_ptr<SpMemoryStream>& stream);
    std::shared_ptr<SpMemoryStream> get_AudioOutputStream() const { return stream_; }

    // Null keeps the engine's default voice.
    void putref_Voice(const SpObjectTokenPtr& token) { voice_ = token; }
    SpObjectTokenPtr get_Voice() const { return voice_; }

    // -10 (slowest) to 10 (fastest), 0 normal.
    void put_Rate(int32_t rate);
    int32_t get_Rate() const { return rate_; }
    // 0 (silent) to 100 (loudest).
    void put_Volume(int32_t volume);
    int32_t get_Volume() const { return volume_; }

    // Renders UTF-8 text into the output stream at its current position, with
    // the stream format, voice, rate and volume as they are now. With
    // SVSFlagsAsync it returns at once and the work goes on in the engine;
    // SVSFPurgeBeforeSpeak abandons earlier renders still queued. Returns the
    // stream number of this request.
    int32_t Speak(const std::string& text, int32_t flags = SVSFDefault);

    // Waits up to msTimeout ms (-1 for no limit) for all requested renders;
    // true when they are done. A render that failed raises its error here.
    bool WaitUntilDone(int32_t msTimeout);

private:
    struct Pending;

    std::shared_ptr<Pending> pending_;
    std::shared_ptr<SpMemoryStream> stream_;
    SpObjectTokenPtr voice_;
    int32_t rate_ = 0;
    int32_t volume_ = 100;
    int32_t streamNumber_ = 0;
};

} // namespace zq::speech
