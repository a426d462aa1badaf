#pragma once
// Event types and notification codes shared by every component of the library.
#include "zqcomponent.h"

#include <cstdint>
#include <string>

class TzqBaseIO;

using Cardinal = uint32_t;

// (Sender, ErrorCode, Detail, ErrorMsg, var RaiseException)
using TOnFatalErrorEvent = TEvent<TObject*, Cardinal, Cardinal, const std::string&, bool&>;
// (Com, Buffer, Received)
using TOnReceived = TEvent<TObject*, const void*, Cardinal>;
// (Com)
using TOnSent = TEvent<TObject*>;
// (Sender, Code)
using TNotifyHandler = TEvent<TzqBaseIO*, int>;

enum TTerminalUsage : uint8_t { tuNone = 0, tuSend = 1, tuReceive = 2, tuBoth = 3 };

constexpr int NOTIFY_CLOSED = 1;
constexpr int NOTIFY_OPENED = 2;
constexpr int NOTIFY_DEVICES = 3;
