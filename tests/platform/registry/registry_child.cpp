// A second program on the registry store, for the tests that need one:
//   set-sz <key> <name> <text>   set a string value below HKEY_LOCAL_MACHINE
//   dump <key> <name>            print "<type> <hex data>" or "missing"
//   churn <key>                  set values v0, v1, ... for ever, printing
//                                "acked <n>" once value n is stored
#include "registry.h"

#include <QByteArray>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

HKEY CreateKey(const char* path)
{
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
        != LONG(ERROR_SUCCESS)) {
        std::fprintf(stderr, "cannot create %s\n", path);
        return nullptr;
    }
    return key;
}

int SetString(const char* path, const char* name, const char* text)
{
    HKEY key = CreateKey(path);
    if (!key)
        return 2;
    const LONG rc = RegSetValueEx(
        key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), DWORD(std::strlen(text) + 1));
    RegCloseKey(key);
    return rc == LONG(ERROR_SUCCESS) ? 0 : 3;
}

int Dump(const char* path, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != LONG(ERROR_SUCCESS)) {
        std::printf("missing\n");
        return 0;
    }
    DWORD type = 0;
    DWORD size = 0;
    std::vector<BYTE> data;
    LONG rc = RegQueryValueEx(key, name, nullptr, &type, nullptr, &size);
    if (rc == LONG(ERROR_SUCCESS)) {
        data.resize(size);
        rc = RegQueryValueEx(key, name, nullptr, &type, data.data(), &size);
    }
    RegCloseKey(key);
    if (rc != LONG(ERROR_SUCCESS)) {
        std::printf("missing\n");
        return 0;
    }
    const QByteArray hex = QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(size)).toHex();
    std::printf("%u %s\n", unsigned(type), hex.constData());
    return 0;
}

// Runs until killed; each value is larger than the last so that writes of
// the store take a while and a kill is likely to land in one.
int Churn(const char* path)
{
    HKEY key = CreateKey(path);
    if (!key)
        return 2;
    for (unsigned n = 0;; ++n) {
        const std::string name = "v" + std::to_string(n);
        const std::string text = "value " + std::to_string(n) + std::string(n % 64 * 16, 'x');
        if (RegSetValueEx(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                DWORD(text.size() + 1))
            != LONG(ERROR_SUCCESS))
            return 3;
        std::printf("acked %u\n", n);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "set-sz" && argc == 5)
        return SetString(argv[2], argv[3], argv[4]);
    if (command == "dump" && argc == 4)
        return Dump(argv[2], argv[3]);
    if (command == "churn" && argc == 3)
        return Churn(argv[2]);
    std::fprintf(stderr, "usage: %s set-sz|dump|churn ...\n", argv[0]);
    return 1;
}
