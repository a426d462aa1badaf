// Dial strings come from users: any text must translate, or be refused,
// leaving an output whose strings lie inside the caller's block and end
// with their NUL.
#include "fuzz_service.h"
#include "zqtapi.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HLINEAPP g_app = 0;
DWORD g_version = 0;

void Check(bool ok, const char* what, const std::string& in)
{
    if (!ok) {
        std::fprintf(stderr, "dial string \"%s\": %s\n", in.c_str(), what);
        std::abort();
    }
}

void CheckString(const std::vector<char>& block, DWORD offset, DWORD size, DWORD used, const std::string& in)
{
    if (size == 0)
        return;
    Check(
        offset >= sizeof(LINETRANSLATEOUTPUT) && offset + size <= used, "a string outside the used part", in);
    Check(block[offset + size - 1] == '\0', "a string without its NUL", in);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    zq::fuzz::StartService(argc, argv);
    DWORD devices = 0;
    if (lineInitialize(
            &g_app, nullptr, [](DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}, "fuzz",
            &devices)
        != 0)
        std::abort();
    LINEEXTENSIONID ext {};
    if (lineNegotiateAPIVersion(g_app, 0, 0x00010000, 0x00090000, &g_version, &ext) != 0)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte sizes the caller's block: from too small for the
    // header to room for everything.
    const DWORD total = sizeof(LINETRANSLATEOUTPUT) - 8 + data[0] * 2u;
    const std::string in(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string address = in.substr(0, in.find('\0'));
    std::vector<char> block(total);
    auto* out = reinterpret_cast<LINETRANSLATEOUTPUT*>(block.data());
    if (total < sizeof(LINETRANSLATEOUTPUT)) {
        // Too small for the header: only dwTotalSize may be read.
        std::vector<char> small(sizeof(LINETRANSLATEOUTPUT));
        auto* s = reinterpret_cast<LINETRANSLATEOUTPUT*>(small.data());
        s->dwTotalSize = total;
        const LONG r = lineTranslateAddress(g_app, 0, g_version, address.c_str(), 0, 0, s);
        Check(r != 0, "a block smaller than its header was filled", address);
        return 0;
    }
    out->dwTotalSize = total;
    const LONG r = lineTranslateAddress(g_app, 0, g_version, address.c_str(), 0, 0, out);
    if (r != 0)
        return 0;
    Check(out->dwUsedSize <= total && out->dwUsedSize <= out->dwNeededSize, "used size past the block",
        address);
    CheckString(block, out->dwDialableStringOffset, out->dwDialableStringSize, out->dwUsedSize, address);
    CheckString(
        block, out->dwDisplayableStringOffset, out->dwDisplayableStringSize, out->dwUsedSize, address);
    return 0;
}
