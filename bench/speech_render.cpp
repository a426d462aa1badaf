// Rendering speed of the speech layer (synthesis, resampling to telephone
// format, memory stream) against the synthesiser's own command-line tool
// writing a wave file of the same text with the same voice.
#include "speech_reference.h"

#include <spobjecttokencategory.h>
#include <spvoice.h>

#include <cstdio>
#include <string>

using namespace zq::speech;

namespace {

constexpr int kRuns = 5;

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

zq::bench::Timing RenderThroughLayer(const std::string& text, const SpObjectTokenPtr& token, int64_t& bytes)
{
    return zq::bench::Measure([&] {
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
    });
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
    std::printf(
        "voice %s, output 8000 Hz 16-bit mono, fastest of %d runs each\n", engineVoice.c_str(), kRuns);
    std::printf("%-10s %10s %12s %12s %8s %12s %12s %8s\n", "text", "speech s", "layer s", "espeak-ng s",
        "ratio", "layer cpu", "espeak cpu", "ratio");

    const struct {
        const char* name;
        std::string text;
    } cases[] = { { "memo", zq::bench::Memo() }, { "5 minutes", zq::bench::Prose(4600) } };
    for (const auto& c : cases) {
        try {
            int64_t bytes = 0;
            const auto result = zq::bench::Compare(
                kRuns, [&] { return RenderThroughLayer(c.text, token, bytes); }, c.text, engineVoice);
            if (result.tool.wall < 0)
                return 1;
            std::printf("%-10s %10.1f %12.3f %12.3f %8.2f %12.3f %12.3f %8.2f\n", c.name, bytes / 16000.0,
                result.ours.wall, result.tool.wall, result.Ratio(), result.ours.cpu, result.tool.cpu,
                result.CpuRatio());
        } catch (const SpeechEngineError& e) {
            std::fprintf(stderr, "%s: %s\n", c.name, e.what());
            return 1;
        }
    }
    return 0;
}
