// Peak memory of rendering a long text (about two and a half hours of
// speech) through the speech component, against the size of the rendered
// 8000 Hz 16-bit stream that has to be held before playing starts.
#include "speech_reference.h"
#include "zqspeech.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const size_t characters = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 130'000;
    TzqSpeech speech;
    for (int i = 0; i < speech.VoiceCount(); ++i)
        if (speech.VoiceName(i) == "English (America)")
            speech.SelectVoice(i);
    speech.Text().Add(zq::bench::Prose(characters));
    // The engine's own data is loaded by a first small render, so the figures
    // below are the long render's alone.
    speech.Text().Clear();
    speech.Text().Add("Hello.");
    speech.PreparePlay();
    speech.PlayFinished();
    speech.Text().Clear();
    speech.Text().Add(zq::bench::Prose(characters));

    const double mib = 1024.0 * 1024.0;
    zq::bench::ResetPeak();
    const long long before = zq::bench::ResidentBytes();
    int64_t bytes = 0;
    const double seconds = zq::bench::Seconds([&] {
        speech.PreparePlay();
        bytes = speech.RenderedBytes();
    });
    const long long peak = zq::bench::PeakResidentBytes();
    speech.PlayFinished();
    if (bytes <= 0 || before < 0 || peak < 0) {
        std::fprintf(stderr, "Nothing was rendered or the memory figures are unavailable.\n");
        return 1;
    }
    std::printf(
        "text %zu characters, %.0f s of speech rendered in %.1f s\n", characters, bytes / 16000.0, seconds);
    std::printf("%-28s %10.1f MiB\n", "stream (8000 Hz 16-bit)", bytes / mib);
    std::printf("%-28s %10.1f MiB\n", "resident before rendering", before / mib);
    std::printf("%-28s %10.1f MiB\n", "peak resident while rendering", peak / mib);
    std::printf("%-28s %10.2f\n", "peak rise / stream", (peak - before) / static_cast<double>(bytes));
    std::printf("%-28s %10.2f\n", "peak / stream", peak / static_cast<double>(bytes));
    return 0;
}
