// Configuration records are registry values that any program may have
// written: loading one into a line must take it or report a failure, never
// read or write past what the record holds.
#include "fuzz_service.h"
#include "registry.h"
#include "zqcommtapi.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr const char* kKey = "Software\\zqfuzz\\records";

struct SwallowFailures {
    void Handler(TObject*, Cardinal, Cardinal, const std::string&, bool& raise) { raise = false; }
};

SwallowFailures g_failures;
std::unique_ptr<TzqCommTAPI> g_line;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    zq::fuzz::StartService(argc, argv);
    g_line = std::make_unique<TzqCommTAPI>();
    g_line->OnFatalError = TOnFatalErrorEvent(&g_failures, &SwallowFailures::Handler);
    g_line->EnumDevices();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte: keep the line's device, or take the record's.
    const bool keepIndex = data[0] & 1;
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
            &key, nullptr)
        != ERROR_SUCCESS)
        std::abort();
    RegSetValueEx(key, "cfg", 0, REG_BINARY, data + 1, static_cast<DWORD>(size - 1));
    RegCloseKey(key);
    g_line->SetDeviceIndex(0);
    g_line->LoadConfig(HKEY_CURRENT_USER, kKey, "cfg", keepIndex);
    return 0;
}
