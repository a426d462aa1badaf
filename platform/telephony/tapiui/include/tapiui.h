#pragma once
// The error-text library (libtapiui.so): readable texts of the telephony
// service's LINEERR codes, kept as a message table under the identifiers
// 0xE000 + (code - 0x80000000). It plays the part of a Windows message
// module read with FormatMessage(FROM_HMODULE): load the library, look
// LoadMessage up by name, ask for an identifier.
#include "tapiui_export.h"
#include "win32types.h"

#define ZQ_TAPIUI_LOADMESSAGE "LoadMessage"

// Copies the text of message `id` (NUL-terminated, cut to fit) into buffer
// and returns its length in characters without the NUL; 0 when there is no
// such message or no room (size 0 or a null buffer).
extern "C" ZQTAPIUI_EXPORT DWORD LoadMessage(DWORD id, char* buffer, DWORD size);
using PFN_LoadMessage = DWORD (*)(DWORD id, char* buffer, DWORD size);
