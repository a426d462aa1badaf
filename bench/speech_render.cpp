// Rendering speed of the speech layer (synthesis, resampling to telephone
// format, memory stream) against the synthesiser's own command-line tool
// writing a wave file of the same text with the same voice.
#include <spobjecttokencategory.h>
#include <spvoice.h>

#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace sapi;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kMemo = "This is Brellow zqComm Lib \n"
                          "Speech demo program.\n"
                          "It is using the Microsoft Speech API \n"
                          "v5.1 (or above) which you should \n"
                          "install before.\n";

// About five minutes at the normal rate of 175 words a minute.
std::string LongText()
{
    const std::string paragraph
        = "When the call is connected, the text of the memo is spoken into the line with the chosen voice. "
          "The engine renders the whole text into memory first, and the wave device then plays it buffer by "
          "buffer, one second at a time, until the data runs out or the far end hangs up. "
          "Numbers such as 1234 and dates such as the 3rd of May are read out in words. ";
    std::string text;
    while (text.size() < 4600) // the voice speaks about 15 characters a second
        text += paragraph;
    return text;
}

SpObjectTokenPtr FindVoice(const char16_t* language)
{
    SpObjectTokenCategory category;
    std::shared_ptr<IEnumSpObjectTokens> tokens;
    SpObjectTokenPtr token;
    const std::u16string required = std::u16string(u"Language=") + language;
    if (category.SetId(SPCAT_VOICES, false) == S_OK
        && category.EnumTokens(required.c_str(), nullptr, tokens) == S_OK)
        tokens->Item(0, token);
    return token;
}

double RenderThroughLayer(const std::string& text, const SpObjectTokenPtr& token, int64_t& bytes)
{
    const auto start = Clock::now();
    auto stream = std::make_shared<SpMemoryStream>();
    auto wave = stream->get_Format()->GetWaveFormatEx();
    wave->put_SamplesPerSec(8000);
    wave->put_AvgBytesPerSec(16000);
    stream->get_Format()->SetWaveFormatEx(wave);
    SpVoice voice;
    voice.putref_AudioOutputStream(stream);
    voice.putref_Voice(token);
    voice.Speak(text, SVSFlagsAsync);
    voice.WaitUntilDone(-1);
    bytes = stream->Seek(0, SSSPTRelativeToEnd);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double RenderWithTool(const std::string& text, const std::string& voice)
{
    const auto dir = std::filesystem::temp_directory_path();
    const auto textFile = dir / "zq_speech_bench.txt";
    const auto waveFile = dir / "zq_speech_bench.wav";
    std::ofstream(textFile) << text;
    const std::string command
        = "espeak-ng -v " + voice + " -w '" + waveFile.string() + "' -f '" + textFile.string() + "'";
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::filesystem::remove(textFile);
    std::filesystem::remove(waveFile);
    if (status != 0) {
        std::fprintf(stderr, "espeak-ng failed (%d): %s\n", status, command.c_str());
        return -1;
    }
    return seconds;
}

} // namespace

int main()
{
    const SpObjectTokenPtr token = FindVoice(u"en-us");
    if (!token) {
        std::fprintf(stderr, "No en-us voice is installed.\n");
        return 1;
    }
    const std::string engineVoice = token->EngineVoice();
    std::printf("voice %s, output 8000 Hz 16-bit mono\n", engineVoice.c_str());
    std::printf("%-10s %10s %12s %12s %8s\n", "text", "speech s", "layer s", "espeak-ng s", "ratio");

    const struct {
        const char* name;
        std::string text;
    } cases[] = { { "memo", kMemo }, { "5 minutes", LongText() } };
    for (const auto& c : cases) {
        try {
            int64_t bytes = 0;
            const double layer = RenderThroughLayer(c.text, token, bytes);
            const double tool = RenderWithTool(c.text, engineVoice);
            std::printf("%-10s %10.1f %12.3f %12.3f %8.2f\n", c.name, bytes / 16000.0, layer, tool,
                tool > 0 ? layer / tool : 0.0);
        } catch (const SpeechEngineError& e) {
            std::fprintf(stderr, "%s: %s\n", c.name, e.what());
            return 1;
        }
    }
    return 0;
}
