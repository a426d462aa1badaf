// The registry store is a file any program (or a user with an editor) may
// have written: whatever it holds, reading it must either give a tree that
// every registry call can walk, or set the file aside as corrupt.
#include "registry.h"

#include <QtGlobal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string g_folder;
std::string g_store;

// Corrupt stores are moved aside, one file each: thousands in a fuzz run.
void RemoveSetAside()
{
    for (const auto& e : std::filesystem::directory_iterator(g_folder))
        if (e.path() != g_store)
            std::filesystem::remove_all(e.path());
}

void WriteStore(const uint8_t* data, size_t size)
{
    // A new file each time (written beside, then renamed over), so the
    // registry sees a changed store and reads it again.
    const std::string temp = g_store + ".new";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f)
        std::abort();
    if (size)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
    if (std::rename(temp.c_str(), g_store.c_str()) != 0)
        std::abort();
}

void Walk(HKEY key, int depth)
{
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameLen = sizeof name;
        DWORD type = 0;
        std::vector<BYTE> data(64);
        DWORD dataLen = static_cast<DWORD>(data.size());
        LONG r = RegEnumValue(key, i, name, &nameLen, nullptr, &type, data.data(), &dataLen);
        if (r == ERROR_MORE_DATA) {
            // Ask for the sizes, then read the whole value by name.
            nameLen = sizeof name;
            r = RegEnumValue(key, i, name, &nameLen, nullptr, &type, nullptr, nullptr);
            if (r != ERROR_SUCCESS)
                break;
            DWORD need = 0;
            if (RegQueryValueEx(key, name, nullptr, &type, nullptr, &need) == ERROR_SUCCESS) {
                data.resize(need + 1);
                dataLen = need;
                RegQueryValueEx(key, name, nullptr, &type, data.data(), &dataLen);
            }
        } else if (r != ERROR_SUCCESS) {
            break;
        }
    }
    if (depth > 64)
        return;
    for (DWORD i = 0;; ++i) {
        char name[REG_MAX_KEY_NAME + 1];
        DWORD nameLen = sizeof name;
        if (RegEnumKeyEx(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY sub = nullptr;
        if (RegOpenKeyEx(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            Walk(sub, depth + 1);
            RegCloseKey(sub);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char folder[] = "/tmp/zq-registry-fuzz-XXXXXX";
    if (!mkdtemp(folder))
        std::abort();
    g_folder = folder;
    g_store = g_folder + "/registry.json";
    setenv("ZQ_REGISTRY_FILE", g_store.c_str(), 1);
    std::atexit([] { std::filesystem::remove_all(g_folder); });
    // Each corrupt store is reported; millions of reports say nothing more.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    WriteStore(data, size);
    Walk(HKEY_CURRENT_USER, 0);
    Walk(HKEY_LOCAL_MACHINE, 0);
    // A store that was read must also take a change and keep it.
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\zqfuzz", 0, nullptr, REG_OPTION_NON_VOLATILE,
            KEY_ALL_ACCESS, nullptr, &key, nullptr)
        == ERROR_SUCCESS) {
        const BYTE value[] = "kept";
        RegSetValueEx(key, "probe", 0, REG_SZ, value, sizeof value);
        RegCloseKey(key);
    }
    RemoveSetAside();
    return 0;
}
