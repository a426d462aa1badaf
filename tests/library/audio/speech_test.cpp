// The speech component: its format, rendering and the buffer event. Playback
// goes to wave device 0, pointed at a raw file, so what was played can be
// compared with what was rendered.
#include "eventwait.h"
#include "zqformstream.h"
#include "zqspeech.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Events {
    int afterPlay = 0;
    std::vector<int> offered;
    std::vector<std::tuple<Cardinal, Cardinal, std::string>> fatal;
    // What the buffer handler does: Handled and the Size it leaves, per call.
    std::function<void(int call, int& size, bool& handled)> onBuffer;

    void AfterPlay(TObject*) { ++afterPlay; }
    void Buffer(TObject*, void*, int& size, bool& handled)
    {
        offered.push_back(size);
        if (onBuffer)
            onBuffer(int(offered.size()), size, handled);
    }
    void Fatal(TObject*, Cardinal code, Cardinal detail, const std::string& msg, bool& raise)
    {
        fatal.emplace_back(code, detail, msg);
        raise = false;
    }
};

std::vector<uint8_t> ReadFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

class Speech : public ::testing::Test {
protected:
    Speech()
    {
        dir = fs::temp_directory_path() / ("zqspeech-test-" + std::to_string(getpid()));
        fs::create_directories(dir);
        file = dir / "out.raw";
        setenv("ZQ_WAVE_OUT_PCM", ("file:\"" + file.string() + "\",raw").c_str(), 1);
        speech.AfterPlay = TNotifyEvent(&events, &Events::AfterPlay);
        speech.OnFatalError = TOnFatalErrorEvent(&events, &Events::Fatal);
    }
    ~Speech() override
    {
        unsetenv("ZQ_WAVE_OUT_PCM");
        fs::remove_all(dir);
    }
    void Say(std::initializer_list<const char*> lines)
    {
        speech.Text().Clear();
        for (const char* l : lines)
            speech.Text().Add(l);
    }
    void HandleBuffers() { speech.OnBufferPlay = TWaveBufferEvent(&events, &Events::Buffer); }
    bool WaitAfterPlay(int n = 1)
    {
        return zqtest::WaitUntil([&] { return events.afterPlay >= n; });
    }

    fs::path dir, file;
    TzqSpeech speech;
    Events events;
};

TEST_F(Speech, DefaultsAndPropertiesByName)
{
    EXPECT_EQ(speech.Channels(), 1);
    EXPECT_EQ(speech.Hz(), 8000);
    EXPECT_EQ(speech.Bits(), 16);
    EXPECT_EQ(speech.Volume(), 50);
    EXPECT_EQ(speech.Rate(), 0);
    EXPECT_EQ(speech.VoiceIndex(), 0);
    EXPECT_EQ(speech.PlayOptions, TWaveOptions(woMapping));
    EXPECT_EQ(speech.Text().Count(), 0);

    EXPECT_TRUE(speech.setProperty("Hz", 11025));
    EXPECT_TRUE(speech.setProperty("Rate", -3));
    EXPECT_TRUE(speech.setProperty("Text", QStringList { "one", "two" }));
    EXPECT_EQ(speech.Hz(), 11025);
    EXPECT_EQ(speech.Rate(), -3);
    ASSERT_EQ(speech.Text().Count(), 2);
    EXPECT_EQ(speech.Text().Strings(1), "two");
    speech.SetText(nullptr);
    EXPECT_EQ(speech.Text().Count(), 0);
}

TEST_F(Speech, PlayOptionsAreASetInFormResources)
{
    QObject form;
    const zq::framework::TFormObject desc
        = zq::framework::ParseForm("object Form1: TForm1\n"
                                   "  object zqSpeech1: TzqSpeech\n"
                                   "    PlayOptions = [woSynchro, woEventLast]\n"
                                   "    Hz = 16000\n"
                                   "  end\n"
                                   "end\n");
    zq::framework::ReadForm(&form, desc, {});
    auto* s = form.findChild<TzqSpeech*>("zqSpeech1");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->PlayOptions, woSynchro | woEventLast);
    EXPECT_EQ(s->Hz(), 16000);

    const std::string text = zq::framework::WriteFormText(zq::framework::WriteForm(&form, "TForm1", {}));
    EXPECT_NE(text.find("PlayOptions = [woSynchro, woEventLast]"), std::string::npos) << text;
}

TEST_F(Speech, TextIsReadFromAndWrittenToFormResources)
{
    QObject form;
    zq::framework::ReadForm(&form,
        zq::framework::ParseForm("object Form1: TForm1\n"
                                 "  object zqSpeech1: TzqSpeech\n"
                                 "    Text = (\n"
                                 "      'This is the memo.'\n"
                                 "      ''\n"
                                 "      'It''s spoken.')\n"
                                 "  end\n"
                                 "end\n"),
        {});
    auto* s = form.findChild<TzqSpeech*>("zqSpeech1");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->Text().Count(), 3);
    EXPECT_EQ(s->Text().Strings(2), "It's spoken.");

    const std::string text = zq::framework::WriteFormText(zq::framework::WriteForm(&form, "TForm1", {}));
    EXPECT_NE(
        text.find("Text = (\n      'This is the memo.'\n      ''\n      'It''s spoken.')"), std::string::npos)
        << text;
    QObject copy;
    zq::framework::ReadForm(&copy, zq::framework::ParseForm(text), {});
    auto* c = copy.findChild<TzqSpeech*>("zqSpeech1");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Text().Count(), 3);
    EXPECT_EQ(c->Text().Strings(0), "This is the memo.");
}

TEST_F(Speech, DefaultFormatGivesBlockAlign2AndOneSecondBuffersOf16000Bytes)
{
    Say({ "Hello there" });
    HandleBuffers();
    speech.Speak();
    EXPECT_EQ(speech.OutputFormat().nBlockAlign, 2);
    EXPECT_EQ(speech.OutputFormat().nAvgBytesPerSec, 16000u);
    EXPECT_EQ(speech.OutputFormat().wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(speech.RenderedBytes() % 2, 0);
    // A short text may be played and its buffers freed before Speak
    // returns: the size is the one the first buffer was offered with.
    ASSERT_TRUE(WaitAfterPlay());
    ASSERT_FALSE(events.offered.empty());
    EXPECT_EQ(events.offered[0], 16000);
    speech.Stop();
}

TEST_F(Speech, EightBitStereoGivesBlockAlign2AtTheSameByteRate)
{
    Say({ "Hi" });
    speech.SetBits(8);
    speech.SetChannels(2);
    ASSERT_TRUE(speech.PreparePlay());
    EXPECT_EQ(speech.OutputFormat().nBlockAlign, 2);
    EXPECT_EQ(speech.OutputFormat().nAvgBytesPerSec, 16000u);
    EXPECT_EQ(speech.OutputFormat().nChannels, 2);
    EXPECT_GT(speech.RenderedBytes(), 0);
    speech.PlayFinished();
}

TEST_F(Speech, OneEmptyLineIsSpokenAnEmptyListIsNot)
{
    speech.Speak();
    EXPECT_FALSE(speech.Playing());
    zq::kernel::ProcessMessages();
    EXPECT_EQ(events.afterPlay, 0);

    Say({ "" });
    speech.Speak();
    EXPECT_TRUE(WaitAfterPlay());
}

TEST_F(Speech, RenderedAudioIsPlayedExactlyAndIsNotSilent)
{
    Say({ "Testing one two three" });
    speech.PlayOptions = woSynchro;
    speech.Speak();
    EXPECT_EQ(events.afterPlay, 1);
    const std::vector<uint8_t> played = ReadFile(file);
    ASSERT_EQ(int64_t(played.size()), speech.RenderedBytes());
    double energy = 0;
    for (size_t i = 0; i + 1 < played.size(); i += 2) {
        const int16_t s = int16_t(played[i] | (played[i + 1] << 8));
        energy += double(s) * s;
    }
    const double rms = std::sqrt(energy / double(played.size() / 2));
    EXPECT_GT(rms, 100.0);
}

TEST_F(Speech, EventLastOffersTheFullCapacityEvenForThePartialLastBuffer)
{
    Say({ "Hi" }); // well under a second
    speech.PlayOptions = woEventLast | woSynchro;
    HandleBuffers();
    // The first buffer is taken as it stands, whole; then the stream decides.
    events.onBuffer = [](int call, int&, bool& handled) { handled = call == 1; };
    speech.Speak();
    EXPECT_EQ(events.afterPlay, 1);
    ASSERT_GE(events.offered.size(), 2u);
    for (int size : events.offered)
        EXPECT_EQ(size, 16000);
    EXPECT_LT(speech.RenderedBytes(), 16000);
    EXPECT_EQ(ReadFile(file).size(), 16000u);
}

TEST_F(Speech, AHandledBufferOfSizeZeroStaysEmptyAndPlaybackEnds)
{
    Say({ "This text is never heard" });
    HandleBuffers();
    events.onBuffer = [](int, int& size, bool& handled) {
        size = 0;
        handled = true;
    };
    speech.Speak();
    EXPECT_TRUE(WaitAfterPlay());
    // The first buffer is empty and the second was never filled: the end.
    EXPECT_EQ(events.offered.size(), 1u);
    EXPECT_TRUE(ReadFile(file).empty());
}

TEST_F(Speech, AnUnhandledLargerSizeNeverReadsPastTheBuffer)
{
    Say({ "Testing one two three four five six seven eight nine ten" });
    speech.SetHz(1000);
    speech.PlayOptions = woSynchro;
    HandleBuffers();
    events.onBuffer = [](int, int& size, bool&) { size *= 4; };
    speech.Speak();
    EXPECT_EQ(int64_t(ReadFile(file).size()), speech.RenderedBytes());
}

TEST_F(Speech, StopDuringPlaybackRaisesAfterPlayAndDoesNothingWhenIdle)
{
    speech.Stop();
    EXPECT_EQ(events.afterPlay, 0);
    Say({ "A sentence long enough to be stopped while it is still being played." });
    speech.Speak();
    ASSERT_TRUE(speech.Playing());
    speech.Stop();
    EXPECT_EQ(events.afterPlay, 1);
    EXPECT_FALSE(speech.Playing());
    speech.Stop();
    EXPECT_EQ(events.afterPlay, 1);
}

TEST_F(Speech, AFormatTheEngineRefusesRaisesOutOfSpeakWithNothingStarted)
{
    Say({ "Hi" });
    speech.SetBits(12);
    EXPECT_THROW(speech.Speak(), Exception);
    EXPECT_FALSE(speech.Playing());
    EXPECT_TRUE(events.fatal.empty());
}

TEST_F(Speech, VoicesAreListedAndChosenByIndex)
{
    ASSERT_GT(speech.VoiceCount(), 1);
    EXPECT_FALSE(speech.VoiceName(0).empty());
    EXPECT_EQ(speech.VoiceName(-1), "");
    EXPECT_EQ(speech.VoiceName(speech.VoiceCount()), "");
    speech.SelectVoice(speech.VoiceCount() - 1);
    EXPECT_EQ(speech.VoiceIndex(), speech.VoiceCount() - 1);
    ASSERT_NE(speech.VoiceToken(), nullptr);
    speech.SelectVoice(speech.VoiceCount());
    EXPECT_EQ(speech.VoiceIndex(), 0);
    speech.SelectVoice(-1);
    EXPECT_EQ(speech.VoiceIndex(), 0);
}

// The engine rendering the same text with the same voice in its own native
// format gives the length the component's telephone-format stream must have.
TEST_F(Speech, TheRenderedLengthIsTheEnginesOwn)
{
    const std::string text = "The quick brown fox jumps over the lazy dog.";
    Say({ text.c_str() });
    ASSERT_TRUE(speech.PreparePlay());
    const double rendered = double(speech.RenderedBytes()) / 16000.0;
    const zq::speech::SpObjectTokenPtr token = speech.VoiceToken();
    speech.PlayFinished();

    auto stream = std::make_shared<zq::speech::SpMemoryStream>();
    const auto native = stream->get_Format()->GetWaveFormatEx();
    zq::speech::SpVoice voice;
    voice.putref_AudioOutputStream(stream);
    voice.putref_Voice(token);
    voice.put_Volume(50);
    voice.Speak(text + "\n", zq::speech::SVSFlagsAsync);
    ASSERT_TRUE(voice.WaitUntilDone(-1));
    const double own = double(stream->Seek(0, zq::speech::SSSPTRelativeToEnd)) / native->get_AvgBytesPerSec();
    EXPECT_GT(own, 1.0);
    // The resampler to telephone format adds its filter's tail, about 10 ms.
    EXPECT_NEAR(rendered, own, 0.02);
}

} // namespace

// The first voice is the one selected, so the list starts with the voice of
// the user's own language and country.
TEST(SpeechVoices, TheFirstVoiceIsTheUsersOwn)
{
    const std::string saved = std::getenv("LANG") ? std::getenv("LANG") : "";
    const std::string savedAll = std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "";
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    for (const auto& [lang, first] :
        { std::pair { "en_US.UTF-8", "English (America)" },
            std::pair { "en_GB.UTF-8", "English (Great Britain)" }, std::pair { "de_AT.UTF-8", "German" } }) {
        setenv("LANG", lang, 1);
        TzqSpeech speech;
        EXPECT_EQ(speech.VoiceIndex(), 0);
        EXPECT_EQ(speech.VoiceName(0), first) << lang;
        if (std::string(lang) == "en_US.UTF-8") { // then the other English voices
            EXPECT_EQ(speech.VoiceName(1).rfind("English", 0), 0u) << speech.VoiceName(1);
        }
    }
    setenv("LANG", saved.c_str(), 1);
    if (!savedAll.empty())
        setenv("LC_ALL", savedAll.c_str(), 1);
}
