#include "lasterror.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
thread_local DWORD lastError = 0;

struct ErrorText {
    DWORD code;
    const char* text;
};

// The texts the system gives for the codes this platform reports.
constexpr ErrorText kTexts[] = {
    { ERROR_SUCCESS, "The operation completed successfully." },
    { ERROR_FILE_NOT_FOUND, "The system cannot find the file specified." },
    { ERROR_PATH_NOT_FOUND, "The system cannot find the path specified." },
    { ERROR_ACCESS_DENIED, "Access is denied." },
    { ERROR_INVALID_HANDLE, "The handle is invalid." },
    { ERROR_NOT_ENOUGH_MEMORY, "Not enough storage is available to process this command." },
    { ERROR_BAD_FORMAT, "An attempt was made to load a program with an incorrect format." },
    { ERROR_NOT_READY, "The device is not ready." },
    { ERROR_WRITE_FAULT, "The system cannot write to the specified device." },
    { ERROR_GEN_FAILURE, "A device attached to the system is not functioning." },
    { ERROR_SHARING_VIOLATION,
        "The process cannot access the file because it is being used by another process." },
    { ERROR_NOT_SUPPORTED, "The request is not supported." },
    { ERROR_DEV_NOT_EXIST, "The specified network resource or device is no longer available." },
    { ERROR_INVALID_PARAMETER, "The parameter is incorrect." },
    { ERROR_BROKEN_PIPE, "The pipe has been ended." },
    { ERROR_DISK_FULL, "There is not enough space on the disk." },
    { ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small." },
    { ERROR_MOD_NOT_FOUND, "The specified module could not be found." },
    { ERROR_PROC_NOT_FOUND, "The specified procedure could not be found." },
    { ERROR_BUSY, "The requested resource is in use." },
    { ERROR_MORE_DATA, "More data is available." },
    { ERROR_NO_MORE_ITEMS, "No more data is available." },
    { ERROR_OPERATION_ABORTED,
        "The I/O operation has been aborted because of either a thread exit or an application request." },
    { ERROR_IO_INCOMPLETE, "Overlapped I/O event is not in a signaled state." },
    { ERROR_IO_PENDING, "Overlapped I/O operation is in progress." },
    { ERROR_NOACCESS, "Invalid access to memory location." },
    { ERROR_INVALID_FLAGS, "Invalid flags." },
    { ERROR_BADDB, "The configuration registry database is corrupt." },
    { ERROR_BADKEY, "The configuration registry key is invalid." },
    { ERROR_CANTOPEN, "The configuration registry key could not be opened." },
    { ERROR_CANTREAD, "The configuration registry key could not be read." },
    { ERROR_CANTWRITE, "The configuration registry key could not be written." },
    { ERROR_KEY_DELETED, "Illegal operation attempted on a registry key that has been marked for deletion." },
    { ERROR_COUNTER_TIMEOUT, "A serial I/O operation completed because the time-out period expired." },
    { ERROR_INVALID_THREAD_ID, "Invalid thread identifier." },
    { ERROR_TIMEOUT, "This operation returned because the timeout period expired." },
};
} // namespace

DWORD GetLastError()
{
    return lastError;
}

void SetLastError(DWORD code)
{
    lastError = code;
}

DWORD zq::kernel::Win32ErrorFromErrno(int err)
{
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
        return ERROR_BUSY;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case EOPNOTSUPP:
        return ERROR_NOT_SUPPORTED;
    case EPIPE:
        return ERROR_BROKEN_PIPE;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EIO:
        return ERROR_GEN_FAILURE;
    case ETIMEDOUT:
        return ERROR_TIMEOUT;
    case ECANCELED:
        return ERROR_OPERATION_ABORTED;
    case EAGAIN:
        return ERROR_IO_PENDING;
    default:
        return ERROR_GEN_FAILURE;
    }
}

DWORD zq::kernel::SetLastErrorFromErrno(int err)
{
    DWORD code = zq::kernel::Win32ErrorFromErrno(err);
    SetLastError(code);
    return code;
}

std::string SysErrorMessage(DWORD code)
{
    for (const ErrorText& t : kTexts)
        if (t.code == code)
            return t.text;
    char buf[64];
    std::snprintf(buf, sizeof buf, "System error %u.", static_cast<unsigned>(code));
    return buf;
}
