// Rendering speed of the speech component (voice list, format set-up,
// rendering into its 8000 Hz 16-bit mono stream) against the synthesiser's
// own command-line tool writing a wave file of the same text and voice.
#include "zqspeech.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using Clock = std::chrono::steady_clock;

namespace {

const char* const kMemoLines[] = { "This is Brellow zqComm Lib ", "Speech demo program.",
    "It is using the Microsoft Speech API ", "v5.1 (or above) which you should ", "install before." };

// About five minutes at the normal rate of 175 words a minute.
std::string LongText()
{
    const std::string paragraph
        = "When the call is connected, the text of the memo is spoken into the line with the chosen voice. "
          "The engine renders the whole text into memory first, and the wave device then plays it buffer by "
          "buffer, one second at a time, until the data runs out or the far end hangs up. "
          "Numbers such as 1234 and dates such as the 3rd of May are read out in words. ";
    std::string text;
    while (text.size() < 4600)
        text += paragraph;
    return text;
}

double RenderThroughComponent(TzqSpeech& speech, int64_t& bytes)
{
    const auto start = Clock::now();
    speech.PreparePlay();
    bytes = speech.RenderedBytes();
    speech.PlayFinished();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double RenderWithTool(const std::string& text, const std::string& voice)
{
    const auto dir = std::filesystem::temp_directory_path();
    const auto textFile = dir / "zq_speech_component_bench.txt";
    const auto waveFile = dir / "zq_speech_component_bench.wav";
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

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TzqSpeech speech;
    for (int i = 0; i < speech.VoiceCount(); ++i)
        if (speech.VoiceName(i) == "English (America)")
            speech.SelectVoice(i);
    const sapi::SpObjectTokenPtr token = speech.VoiceToken();
    if (!token) {
        std::fprintf(stderr, "No voice is installed.\n");
        return 1;
    }
    const std::string engineVoice = token->EngineVoice();
    std::printf("voice %s, output %d Hz %d-bit %s\n", engineVoice.c_str(), speech.Hz(), speech.Bits(),
        speech.Channels() == 1 ? "mono" : "stereo");
    std::printf("%-10s %10s %14s %12s %8s\n", "text", "speech s", "component s", "espeak-ng s", "ratio");

    std::string memo;
    for (const char* line : kMemoLines)
        memo += std::string(line) + "\n";
    const struct {
        const char* name;
        std::vector<std::string> lines;
        std::string joined;
    } cases[] = { { "memo", { std::begin(kMemoLines), std::end(kMemoLines) }, memo },
        { "5 minutes", { LongText() }, LongText() } };
    for (const auto& c : cases) {
        speech.Text().Clear();
        for (const auto& l : c.lines)
            speech.Text().Add(l);
        try {
            int64_t bytes = 0;
            const double component = RenderThroughComponent(speech, bytes);
            const double tool = RenderWithTool(c.joined, engineVoice);
            std::printf("%-10s %10.1f %14.3f %12.3f %8.2f\n", c.name, bytes / 16000.0, component, tool,
                tool > 0 ? component / tool : 0.0);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", c.name, e.what());
            return 1;
        }
    }
    return 0;
}
