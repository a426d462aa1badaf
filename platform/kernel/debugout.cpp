#include "debugout.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {
std::mutex& HookMutex()
{
    static std::mutex m;
    return m;
}
zq::kernel::DebugOutputHook& Hook()
{
    static zq::kernel::DebugOutputHook h;
    return h;
}
} // namespace

void OutputDebugString(const std::string& text)
{
    zq::kernel::DebugOutputHook hook;
    {
        std::lock_guard lock(HookMutex());
        hook = Hook();
    }
    if (hook)
        hook(text);
    static const bool toStderr = std::getenv("ZQ_DEBUG_OUTPUT") != nullptr;
    if (toStderr)
        std::fprintf(stderr, "[debug] %s\n", text.c_str());
}

zq::kernel::DebugOutputHook zq::kernel::SetDebugOutputHook(DebugOutputHook hook)
{
    std::lock_guard lock(HookMutex());
    zq::kernel::DebugOutputHook old = std::move(Hook());
    Hook() = std::move(hook);
    return old;
}
