// A modem's replies are outside input: whatever bytes arrive, in whatever
// pieces, the response parser, the shielded voice stream decoder and the dial
// string check must neither crash nor lose their footing, and escaping then
// decoding must give the samples back.
#include "atresponse.h"
#include "dialstring.h"
#include "dlestream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace zq::modem;

namespace {

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "at fuzz: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the read size and the result form, so the same
    // text is also seen split in every way a port may deliver it.
    const size_t chunk = 1 + data[0] % 16;
    const ResultForm form = static_cast<ResultForm>(data[0] / 16 % 3);
    ++data;
    --size;

    AtResponseParser parser;
    parser.setForm(form);
    std::vector<AtLine> lines;
    size_t at = 0;
    while (at < size) {
        const size_t n = std::min(chunk, size - at);
        const size_t taken = parser.feed(data + at, n, lines);
        Check(taken <= n, "took more than it was given");
        // After CONNECT the caller hands the rest to the call; here it comes
        // back to the parser, as after a call ends.
        Check(taken > 0 || n == 0, "made no progress");
        at += taken;
    }
    for (const AtLine& l : lines) {
        Check(l.text.size() <= AtResponseParser::MaxLine, "line longer than the bound");
        if (l.kind == AtKind::CallerId)
            Check(!l.key.empty(), "caller id without a key");
    }

    DleDecoder dec;
    std::vector<uint8_t> samples;
    std::vector<DleCode> events;
    for (size_t i = 0; i < size; i += chunk)
        dec.decode(data + i, std::min(chunk, size - i), samples, events);
    Check(samples.size() <= size, "decoded more samples than bytes");

    std::vector<uint8_t> wire;
    dleEscape(data, size, wire);
    DleDecoder back;
    std::vector<uint8_t> again;
    std::vector<DleCode> none;
    back.decode(wire.data(), wire.size(), again, none);
    Check(none.empty() && again.size() == size && (size == 0 || std::memcmp(again.data(), data, size) == 0),
        "escaped data did not decode to itself");

    const std::string text(reinterpret_cast<const char*>(data), size);
    if (dialStringError(text).empty()) {
        for (char c : dialablePart(text))
            Check(std::strchr("0123456789*#+,WPT!@ABCD", c) != nullptr && c != 0,
                "non-dial character let through");
    }
    return 0;
}
