#include <espeakengine_p.h>
#include <spobjecttokencategory.h>
#include <spvoice.h>

#include <cmath>
#include <future>
#include <gtest/gtest.h>

using namespace zq::speech;

namespace {

const std::string kText = "Speech demo program.";

std::shared_ptr<SpMemoryStream> StreamOf(int rate, int bits, int channels)
{
    auto stream = std::make_shared<SpMemoryStream>();
    auto wave = stream->get_Format()->GetWaveFormatEx();
    wave->put_FormatTag(WAVE_FORMAT_PCM);
    wave->put_Channels(channels);
    wave->put_SamplesPerSec(rate);
    wave->put_BitsPerSample(bits);
    wave->put_BlockAlign(wave->get_Channels() * (wave->get_BitsPerSample() / 8));
    wave->put_AvgBytesPerSec(wave->get_BlockAlign() * wave->get_SamplesPerSec());
    stream->get_Format()->SetWaveFormatEx(wave);
    return stream;
}

std::vector<uint8_t> Render(const std::shared_ptr<SpMemoryStream>& stream, int32_t volume = 100)
{
    SpVoice voice;
    voice.putref_AudioOutputStream(stream);
    voice.put_Volume(volume);
    voice.Speak(kText, SVSFlagsAsync);
    EXPECT_TRUE(voice.WaitUntilDone(-1));
    return stream->GetData();
}

// Samples the engine itself renders for the text with its default voice.
size_t EngineSamples()
{
    static const size_t count = [] {
        RenderRequest request { kText, "", 175, 100, std::make_shared<std::atomic<bool>>(false) };
        const auto speech = EspeakEngine::Instance().Render(request);
        EXPECT_EQ(speech.sampleRate, 22050);
        return speech.samples.size();
    }();
    return count;
}

} // namespace

TEST(SpVoice, RendersTelephoneFormatAsLongAsTheEngineSpeaks)
{
    auto stream = StreamOf(8000, 16, 1);
    EXPECT_EQ(stream->get_Format()->GetWaveFormatEx()->get_BlockAlign(), 2);
    const auto bytes = Render(stream);
    ASSERT_EQ(bytes.size() % 2, 0u);

    const double expected = EngineSamples() * 8000.0 / 22050;
    EXPECT_NEAR(bytes.size() / 2.0, expected, 8000 * 0.002); // within 2 ms

    double sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        const double s = static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8);
        sum += s * s;
    }
    EXPECT_GT(std::sqrt(sum / (bytes.size() / 2)), 500.0);

    // The rendered length is where the stream ends; reading goes no further.
    EXPECT_EQ(stream->Seek(0, SSSPTRelativeToEnd), static_cast<int64_t>(bytes.size()));
    std::vector<uint8_t> rest;
    EXPECT_EQ(stream->Read(rest, 16000), 0);
}

TEST(SpVoice, RendersEightBitStereoCentredOnMidScale)
{
    const auto bytes = Render(StreamOf(8000, 8, 2));
    EXPECT_NEAR(bytes.size() / 2.0, EngineSamples() * 8000.0 / 22050, 8000 * 0.002);
    double sum = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        ASSERT_EQ(bytes[i], bytes[i + 1]) << i;
        sum += bytes[i];
    }
    EXPECT_NEAR(sum / (bytes.size() / 2), 128.0, 2.0);
    EXPECT_EQ(bytes.front(), 128); // speech starts from silence
}

TEST(SpVoice, VolumeZeroIsSilent)
{
    const auto bytes = Render(StreamOf(22050, 16, 1), 0);
    EXPECT_NEAR(bytes.size() / 2.0, double(EngineSamples()), 22050 * 0.002);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), static_cast<ptrdiff_t>(bytes.size()));
}

TEST(SpVoice, RefusesValuesOutsideItsScalesAndBadRequests)
{
    SpVoice voice;
    EXPECT_THROW(voice.put_Rate(11), SpeechEngineError);
    EXPECT_THROW(voice.put_Rate(-11), SpeechEngineError);
    EXPECT_THROW(voice.put_Volume(101), SpeechEngineError);
    EXPECT_THROW(voice.put_Volume(-1), SpeechEngineError);
    voice.put_Rate(-10);
    voice.put_Volume(0);
    EXPECT_EQ(voice.get_Rate(), -10);
    EXPECT_EQ(voice.get_Volume(), 0);

    try {
        voice.Speak(kText, SVSFlagsAsync);
        FAIL() << "spoke without an output stream";
    } catch (const SpeechEngineError& e) {
        EXPECT_EQ(e.Code(), SPERR_UNINITIALIZED);
        EXPECT_STRNE(e.what(), "");
    }
    voice.putref_AudioOutputStream(std::make_shared<SpMemoryStream>());
    EXPECT_THROW(voice.Speak(kText, SVSFIsXML), SpeechEngineError);
    EXPECT_THROW(voice.WaitUntilDone(-2), SpeechEngineError);
    EXPECT_TRUE(voice.WaitUntilDone(0));
}

TEST(SpVoice, MissingVoiceFailsWhenWaitedForAndTheVoiceStaysUsable)
{
    auto stream = std::make_shared<SpMemoryStream>();
    SpVoice voice;
    voice.putref_AudioOutputStream(stream);
    voice.putref_Voice(std::make_shared<SpObjectToken>(u"x", u"Nobody", "xx/nobody"));
    voice.Speak("Hello.", SVSFlagsAsync);
    try {
        voice.WaitUntilDone(-1);
        FAIL() << "rendered with a voice that is not installed";
    } catch (const SpeechEngineError& e) {
        EXPECT_NE(std::string(e.what()).find("xx/nobody"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(stream->GetData().empty());

    voice.putref_Voice(nullptr);
    voice.Speak("Hi.");
    EXPECT_FALSE(stream->GetData().empty());
}

TEST(SpVoice, DestroyingAVoiceAbandonsItsQueuedWork)
{
    // Hold the engine so the render is still queued when its voice goes.
    std::promise<void> release;
    EspeakEngine::Instance().Post([held = release.get_future().share()] { held.wait(); });
    auto abandoned = std::make_shared<SpMemoryStream>();
    {
        SpVoice voice;
        voice.putref_AudioOutputStream(abandoned);
        voice.Speak(kText, SVSFlagsAsync);
    }
    release.set_value();
    // The engine runs jobs in order, so once this one is done the other is too.
    auto stream = std::make_shared<SpMemoryStream>();
    SpVoice next;
    next.putref_AudioOutputStream(stream);
    next.Speak("Hi.");
    EXPECT_FALSE(stream->GetData().empty());
    EXPECT_TRUE(abandoned->GetData().empty());
}

TEST(SpVoice, BlankTextsRenderWithoutError)
{
    for (const char* text : { "", "\n", "\r\n\r\n" }) {
        auto stream = StreamOf(8000, 16, 1);
        SpVoice voice;
        voice.putref_AudioOutputStream(stream);
        EXPECT_NO_THROW(voice.Speak(text)) << text;
        EXPECT_LT(stream->Seek(0, SSSPTRelativeToEnd), 16000) << text; // under a second of pause
    }
}

TEST(EspeakEngine, ASinkThatFailsEndsTheRenderWithItsErrorAndTheEngineGoesOn)
{
    class FailingSink : public SampleSink {
    public:
        void Start(int) override { }
        void Put(const int16_t*, size_t) override
        {
            if (++calls == 2)
                throw SpeechEngineError(E_OUTOFMEMORY, "no room");
        }
        int calls = 0;
    };
    EspeakEngine& engine = EspeakEngine::Instance();
    std::promise<int> calls;
    engine.Post([&engine, &calls] {
        FailingSink sink;
        RenderRequest request { kText, "", 175, 100, std::make_shared<std::atomic<bool>>(false) };
        try {
            engine.RenderHere(request, sink);
            calls.set_value(-1);
        } catch (const SpeechEngineError& e) {
            calls.set_value(e.Code() == E_OUTOFMEMORY ? sink.calls : -2);
        }
    });
    EXPECT_EQ(calls.get_future().get(), 2); // stopped at the failing piece
    EXPECT_NEAR(Render(StreamOf(8000, 16, 1)).size() / 2.0, EngineSamples() * 8000.0 / 22050, 8000 * 0.002)
        << "the next render is whole";
}
