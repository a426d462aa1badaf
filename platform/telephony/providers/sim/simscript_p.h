#pragma once
// How a called party behaves, from its line settings and the dialled string.
#include "win32types.h"

#include <optional>
#include <string>

namespace zq::sim {

struct CallScript {
    bool busy = false;
    bool noAnswer = false;
    DWORD noAnswerMs = 0; // 0: the caller's call set-up time-out
    int answerRings = -1; // -1: not set
    DWORD hangUpMs = 0; // 0: never
    std::string digits;
    std::optional<std::string> callerId, callerName;
    DWORD ringMs = 0; // 0: the exchange's interval
    bool operator==(const CallScript&) const = default;
};

struct DialString {
    std::string number; // digits, "*" and "#" of the part before the options
    CallScript script; // only the options the string sets
    bool hasAnswerRings = false;
};

DialString ParseDialString(const std::string& dialled);

// Overlays the options the dialled string set on a line's own script.
CallScript Overlay(CallScript base, const DialString& dialled);

// "250ms", "2s", "0.5" (seconds); false when malformed.
bool ParseDuration(const std::string& text, DWORD* ms);

} // namespace zq::sim
