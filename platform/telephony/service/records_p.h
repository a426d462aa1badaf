#pragma once
// Filling TAPI's size-prefixed records: a fixed part, then variable data
// after it, all within the caller's dwTotalSize. Nothing is ever written past
// that size; what does not fit is only counted in dwNeededSize.
#include "win32types.h"

#include <cstring>
#include <string>

namespace zq::telephony {

class RecordWriter {
public:
    // rec starts with dwTotalSize, dwNeededSize, dwUsedSize. The caller has
    // checked that the fixed part fits.
    RecordWriter(void* rec, DWORD fixedSize)
        : base_(static_cast<char*>(rec))
        , total_(*reinterpret_cast<DWORD*>(rec))
        , used_(fixedSize)
        , needed_(fixedSize)
    {
        std::memset(base_ + 4, 0, fixedSize - 4);
    }
    // Appends data and points the size/offset pair at it, or leaves the pair
    // 0 when it does not fit.
    void Append(const void* data, DWORD size, DWORD* sizeField, DWORD* offsetField)
    {
        needed_ += size;
        if (size == 0 || used_ + size > total_) {
            if (size != 0)
                complete_ = false;
            return;
        }
        std::memcpy(base_ + used_, data, size);
        *sizeField = size;
        *offsetField = used_;
        used_ += size;
    }
    // A string with its terminating NUL, as TAPI counts string sizes.
    void AppendString(const std::string& s, DWORD* sizeField, DWORD* offsetField)
    {
        if (!s.empty())
            Append(s.c_str(), DWORD(s.size() + 1), sizeField, offsetField);
    }
    void Finish()
    {
        reinterpret_cast<DWORD*>(base_)[1] = needed_;
        reinterpret_cast<DWORD*>(base_)[2] = used_;
    }
    bool Complete() const { return complete_; }

private:
    char* base_;
    DWORD total_;
    DWORD used_;
    DWORD needed_;
    bool complete_ = true;
};

// The minimum every record must have for dwNeededSize to be reported.
constexpr DWORD kRecordHeaderSize = 12;

// Checks a caller's record: LINEERR_INVALPOINTER for null,
// LINEERR_STRUCTURETOOSMALL (with dwNeededSize where it fits) when the fixed
// part does not fit; 0 when it may be filled.
inline LONG CheckRecord(void* rec, DWORD fixedSize, DWORD neededIfKnown = 0)
{
    constexpr DWORD tooSmall = 0x8000004D;
    if (!rec)
        return LONG(0x80000035);
    DWORD* d = static_cast<DWORD*>(rec);
    if (d[0] < fixedSize) {
        if (d[0] >= kRecordHeaderSize) {
            d[1] = neededIfKnown ? neededIfKnown : fixedSize;
            d[2] = kRecordHeaderSize;
        }
        return LONG(tooSmall);
    }
    return 0;
}

} // namespace zq::telephony
