#pragma once
// The debugger's output channel. Lines go to a hook when one is installed
// (tests read them there) and to stderr when ZQ_DEBUG_OUTPUT is set.
#include "zqkernel_export.h"

#include <functional>
#include <string>

ZQKERNEL_EXPORT void OutputDebugString(const std::string& text);

namespace zq::kernel {

using DebugOutputHook = std::function<void(const std::string&)>;
// Installs a hook (an empty one removes it); returns the previous hook.
ZQKERNEL_EXPORT DebugOutputHook SetDebugOutputHook(DebugOutputHook hook);

} // namespace zq::kernel
