// Configuration blocks reach the service from applications and from records
// saved on disk: any bytes must be taken or refused, and what was taken must
// read back as a well-formed block.
#include "fuzz_service.h"
#include "zqtapi.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr DWORD kBlockSize = 4096;

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "configuration block: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    zq::fuzz::StartService(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the device (one past the last is refused).
    const DWORD device = data[0] % 3;
    const std::vector<uint8_t> block(data + 1, data + size);
    const LONG set
        = lineSetDevConfig(device, block.data(), static_cast<DWORD>(block.size()), "comm/datamodem");
    std::vector<uint8_t> out(kBlockSize);
    auto* var = reinterpret_cast<VARSTRING*>(out.data());
    var->dwTotalSize = kBlockSize;
    const LONG get = lineGetDevConfig(device, var, "comm/datamodem");
    if (set == 0) {
        Check(get == 0, "a block that was taken does not read back");
        Check(var->dwUsedSize <= kBlockSize, "used size past the block");
        Check(var->dwStringOffset + var->dwStringSize <= var->dwUsedSize, "configuration past the used size");
    }
    return 0;
}
