// Rendering speed of the speech component (voice list, format set-up,
// rendering into its 8000 Hz 16-bit mono stream) against the synthesiser's
// own command-line tool writing a wave file of the same text and voice.
#include "speech_reference.h"
#include "zqspeech.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>

namespace {

constexpr int kRuns = 5;

zq::bench::Timing RenderThroughComponent(TzqSpeech& speech, int64_t& bytes)
{
    return zq::bench::Measure([&] {
        speech.PreparePlay();
        bytes = speech.RenderedBytes();
        speech.PlayFinished();
    });
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TzqSpeech speech;
    for (int i = 0; i < speech.VoiceCount(); ++i)
        if (speech.VoiceName(i) == "English (America)")
            speech.SelectVoice(i);
    const zq::speech::SpObjectTokenPtr token = speech.VoiceToken();
    if (!token) {
        std::fprintf(stderr, "No voice is installed.\n");
        return 1;
    }
    const std::string engineVoice = token->EngineVoice();
    std::printf("voice %s, output %d Hz %d-bit %s, fastest of %d runs each\n", engineVoice.c_str(),
        speech.Hz(), speech.Bits(), speech.Channels() == 1 ? "mono" : "stereo", kRuns);
    std::printf("%-10s %10s %14s %12s %8s %14s %12s %8s\n", "text", "speech s", "component s", "espeak-ng s",
        "ratio", "component cpu", "espeak cpu", "ratio");

    const struct {
        const char* name;
        std::vector<std::string> lines;
    } cases[] = { { "memo", zq::bench::MemoLines() }, { "5 minutes", { zq::bench::Prose(4600) } } };
    for (const auto& c : cases) {
        speech.Text().Clear();
        std::string joined;
        for (const auto& l : c.lines) {
            speech.Text().Add(l);
            joined += l + "\n";
        }
        try {
            int64_t bytes = 0;
            const auto result = zq::bench::Compare(
                kRuns, [&] { return RenderThroughComponent(speech, bytes); }, joined, engineVoice);
            if (result.tool.wall < 0)
                return 1;
            std::printf("%-10s %10.1f %14.3f %12.3f %8.2f %14.3f %12.3f %8.2f\n", c.name, bytes / 16000.0,
                result.ours.wall, result.tool.wall, result.Ratio(), result.ours.cpu, result.tool.cpu,
                result.CpuRatio());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", c.name, e.what());
            return 1;
        }
    }
    return 0;
}
