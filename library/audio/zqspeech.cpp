// Rendering the text into the memory stream and feeding the wave buffers
// from it. The voice list is in zqspeechvoices.cpp.
#include "zqspeech.h"

#include "zqformstream.h"

#include <algorithm>
#include <cstring>

TzqSpeech::TzqSpeech(QObject* AOwner)
    : TzqCustomWave(AOwner)
{
    channels_ = 1;
    hz_ = 8000;
    bits_ = 16;
    LoadVoices();
    voiceIndex_ = 0;
    rate_ = 0;
    volume_ = 50;
}

TzqSpeech::~TzqSpeech()
{
    Destroying();
    // Stopped here rather than in the wave destruction, while this object is
    // whole: the wave thread may be inside FillBuffer, and the engine
    // objects are released by this class's PlayFinished.
    AfterPlay = nullptr;
    StopPlay();
}

void TzqSpeech::SetText(const TStringList* Value)
{
    if (Value == &text_)
        return;
    text_.Clear();
    if (Value)
        for (int i = 0; i < Value->Count(); ++i)
            text_.Add(Value->Strings(i));
}

QStringList TzqSpeech::TextProp() const
{
    QStringList lines;
    for (int i = 0; i < text_.Count(); ++i)
        lines << QString::fromStdString(text_.Strings(i));
    return lines;
}

void TzqSpeech::SetTextProp(const QStringList& Value)
{
    text_.Clear();
    for (const QString& line : Value)
        text_.Add(line.toStdString());
}

bool TzqSpeech::CreateSpeechObjects()
{
    if (!voice_) {
        try {
            voice_ = std::make_shared<zq::speech::SpVoice>();
        } catch (...) {
            voice_.reset();
        }
    }
    if (!stream_) {
        try {
            stream_ = std::make_shared<zq::speech::SpMemoryStream>();
        } catch (...) {
            voice_.reset();
            stream_.reset();
        }
    }
    return voice_ && stream_;
}

bool TzqSpeech::PreparePlay()
{
    textToSpeak_.clear();
    for (int i = 0; i < text_.Count(); ++i)
        textToSpeak_ += text_.Strings(i) + "\n";
    stream_.reset();
    renderedBytes_ = 0;
    if (textToSpeak_.empty())
        return false;
    if (!CreateSpeechObjects()) {
        FatalError(5, 1, "zqSpeech Error: Microsoft Speech API initialization is failed.");
        return false;
    }
    try {
        Render();
    } catch (const zq::speech::SpeechEngineError& e) {
        throw Exception(e.what());
    }
    return true;
}

void TzqSpeech::Render()
{
    auto wave = stream_->get_Format()->GetWaveFormatEx();
    wave->put_FormatTag(zq::speech::WAVE_FORMAT_PCM);
    wave->put_Channels(channels_);
    wave->put_SamplesPerSec(hz_);
    wave->put_BitsPerSample(bits_);
    wave->put_BlockAlign(wave->get_Channels() * (wave->get_BitsPerSample() / 8));
    wave->put_AvgBytesPerSec(wave->get_BlockAlign() * wave->get_SamplesPerSec());

    outputFormat_ = WAVEFORMATEX {};
    outputFormat_.wFormatTag = WAVE_FORMAT_PCM;
    outputFormat_.nChannels = static_cast<WORD>(channels_);
    outputFormat_.nSamplesPerSec = static_cast<DWORD>(hz_);
    outputFormat_.wBitsPerSample = static_cast<WORD>(bits_);
    outputFormat_.nBlockAlign = static_cast<WORD>((bits_ / 8) * channels_);
    outputFormat_.nAvgBytesPerSec = outputFormat_.nBlockAlign * static_cast<DWORD>(hz_);
    outputFormat_.cbSize = 0;

    stream_->get_Format()->SetWaveFormatEx(wave);
    stream_->Seek(0, zq::speech::SSSPTRelativeToStart);

    voice_->putref_AudioOutputStream(stream_);
    voice_->putref_Voice(VoiceToken());
    voice_->put_Rate(rate_);
    voice_->put_Volume(volume_);
    voice_->Speak(textToSpeak_, zq::speech::SVSFlagsAsync);
    voice_->WaitUntilDone(-1);

    renderedBytes_ = stream_->Seek(0, zq::speech::SSSPTRelativeToEnd);
    stream_->Seek(0, zq::speech::SSSPTRelativeToStart);
}

int TzqSpeech::FillBuffer(void* Buffer, int Size)
{
    const int capacity = Size;
    int result = 0;
    bool handled = false;
    if (!(PlayOptions & woEventLast)) {
        handled = DoBufferPlay(Buffer, Size);
        if (handled)
            result = Size;
    }
    if (!handled && stream_) {
        // A handler may have changed Size without taking the buffer; the
        // read never goes past the buffer.
        const int wanted = std::clamp(Size, 0, capacity);
        const int read = stream_->Read(readBuffer_, wanted);
        result = read;
        if (read > 0)
            std::memcpy(Buffer, readBuffer_.data(), static_cast<size_t>(read));
    }
    if (PlayOptions & woEventLast) {
        Size = capacity;
        if (DoBufferPlay(Buffer, Size))
            result = Size;
    }
    return result;
}

void TzqSpeech::PlayFinished()
{
    voice_.reset();
    stream_.reset();
}

void zq::audio::RegisterSpeechComponents()
{
    zq::framework::RegisterComponentClass(
        "TzqSpeech", [](QObject* owner) -> QObject* { return new TzqSpeech(owner); });
}

namespace {

const bool registered = (zq::audio::RegisterSpeechComponents(), true);

} // namespace
