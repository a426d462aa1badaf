#pragma once
// The per-thread last-error value and the system's text for an error code.
#include "win32types.h"
#include "zqkernel_export.h"

#include <string>

ZQKERNEL_EXPORT DWORD GetLastError();
ZQKERNEL_EXPORT void SetLastError(DWORD code);

namespace zq::kernel {

// Windows error code for an errno value (unknown ones map to ERROR_GEN_FAILURE).
ZQKERNEL_EXPORT DWORD Win32ErrorFromErrno(int err);
// Sets the last error from errno and returns it.
ZQKERNEL_EXPORT DWORD SetLastErrorFromErrno(int err);

} // namespace zq::kernel

// The system's message text for an error code, like FormatMessage with
// FORMAT_MESSAGE_FROM_SYSTEM: a sentence ending with a period.
ZQKERNEL_EXPORT std::string SysErrorMessage(DWORD code);
