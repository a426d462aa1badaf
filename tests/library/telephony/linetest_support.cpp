#include "linetest_support.h"

#include "faketapi.h"

#include <QCoreApplication>

#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

std::string ProgramDir()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string path(buf, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind('/'));
}

FakeTapi* UseFakeTapi()
{
    static FakeTapi* fake = [] {
        const std::string path = ProgramDir() + "/libfaketapi.so";
        setenv("ZQ_TAPI_LIBRARY", path.c_str(), 1);
        void* handle = dlopen(path.c_str(), RTLD_NOW);
        return handle ? reinterpret_cast<FakeTapi* (*)()>(dlsym(handle, "FakeTapiState"))() : nullptr;
    }();
    return fake;
}
