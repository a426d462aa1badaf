#pragma once
// The text-to-speech component: on Speak the speech engine renders the
// whole text, with the chosen voice, rate and volume, into an in-memory PCM
// stream of the component's own format, which the wave layer then plays
// buffer by buffer into the linked line's call or the standard output.
#include "zqsapi.h"
#include "zqspeech_export.h"
#include "zqwavebase.h"

#include <QStringList>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ZQSPEECH_EXPORT TzqSpeech : public TzqCustomWave {
    Q_OBJECT
    Q_PROPERTY(QStringList Text READ TextProp WRITE SetTextProp)
    Q_PROPERTY(int Channels READ Channels WRITE SetChannels)
    Q_PROPERTY(TzqCustomWave::TWaveOptions PlayOptions READ PlayOptionsProp WRITE SetPlayOptionsProp)
    Q_PROPERTY(int Hz READ Hz WRITE SetHz)
    Q_PROPERTY(int Bits READ Bits WRITE SetBits)
    Q_PROPERTY(int Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(int Rate READ Rate WRITE SetRate)
public:
    // Enumerates the installed voices; raises when the speech platform
    // cannot be reached at all.
    explicit TzqSpeech(QObject* AOwner = nullptr);
    ~TzqSpeech() override;

    // Renders the text and starts playing it (with woSynchro: plays it).
    void Speak() { StartPlay(); }
    void Stop() { StopPlay(); }

    // The text to speak, one entry per line (UTF-8, handed to the engine
    // unchanged).
    TStringList& Text() { return text_; }
    // Copies the lines; null empties the list.
    void SetText(const TStringList* Value);

    // Taken at the next Speak; no value is checked here.
    int Channels() const { return channels_; }
    void SetChannels(int Value) { channels_ = Value; }
    int Hz() const { return hz_; }
    void SetHz(int Value) { hz_ = Value; }
    int Bits() const { return bits_; }
    void SetBits(int Value) { bits_ = Value; }
    int Volume() const { return volume_; }
    void SetVolume(int Value) { volume_ = Value; }
    int Rate() const { return rate_; }
    void SetRate(int Value) { rate_ = Value; }

    // The installed voices, in the order the platform enumerates them.
    void LoadVoices();
    int VoiceCount() const { return voices_.Count(); }
    std::string VoiceName(int Index) const;
    void SelectVoice(int Index);
    int VoiceIndex() const { return voiceIndex_; }
    // The chosen voice's token; null keeps the engine's default voice.
    zq::speech::SpObjectTokenPtr VoiceToken() const;

    bool CreateSpeechObjects();
    bool PreparePlay() override;
    void PlayFinished() override;
    int FillBuffer(void* Buffer, int Size) override;

    // Bytes the last rendering produced.
    int64_t RenderedBytes() const { return renderedBytes_; }

private:
    QStringList TextProp() const;
    void SetTextProp(const QStringList& Value);
    TWaveOptions PlayOptionsProp() const { return PlayOptions; }
    void SetPlayOptionsProp(TWaveOptions Value) { PlayOptions = Value; }
    void Render();

    TStringList text_;
    std::shared_ptr<zq::speech::SpVoice> voice_;
    std::shared_ptr<zq::speech::SpMemoryStream> stream_;
    std::vector<uint8_t> readBuffer_;
    std::string textToSpeak_;
    int bits_ = 16;
    int hz_ = 8000;
    int channels_ = 1;
    TStringList voices_;
    int voiceIndex_ = 0;
    std::shared_ptr<zq::speech::IEnumSpObjectTokens> tokens_;
    int rate_ = 0;
    int volume_ = 50;
    int64_t renderedBytes_ = 0;
};

namespace zq::audio {

// Makes TzqSpeech known to form resources (also done when the library loads).
ZQSPEECH_EXPORT void RegisterSpeechComponents();

} // namespace zq::audio
