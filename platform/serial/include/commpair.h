#pragma once
// Two ports joined by a simulated null-modem cable, inside the process. What
// one side writes leaves its output queue at the side's baud rate (ten bits
// a byte) and arrives in the other side's input queue; a full input queue
// holds the line instead of losing bytes. The modem lines a side sees (CTS,
// DSR, RLSD, RING) are set from outside, by a test or by whoever simulates the
// line; with CTS flow control a side transmits only while it sees CTS. A side
// whose state asks for RTS_CONTROL_TOGGLE raises RTS while it has bytes to
// send and drops it once the last has left; that RTS reaches the other side
// as its CTS, as through a null-modem cable, raising EV_CTS there.
//
// Each side is an ordinary port handle: the two are closed independently
// (CloseHandle), and once one side is closed the other transmits into
// nothing. A new pair runs at 115200 baud, 8 data bits, no parity, one stop
// bit, with all modem lines off.
#include "commapi.h"
#include "zqserial_export.h"

namespace zq::serial {

ZQSERIAL_EXPORT BOOL CreateCommPortPair(HANDLE* first, HANDLE* second);

// Sets the modem lines side h sees: the MS_ bits in mask take their values
// from values. Changes raise EV_CTS, EV_DSR, EV_RLSD, and EV_RING as RING
// comes on.
ZQSERIAL_EXPORT BOOL SetCommPairModemStatus(HANDLE h, DWORD mask, DWORD values);

// Makes side h's receiver report CE_ error bits, as a line fault would:
// CE_FRAME, CE_OVERRUN and CE_RXPARITY raise EV_ERR, CE_BREAK raises EV_BREAK.
ZQSERIAL_EXPORT BOOL InjectCommErrors(HANDLE h, DWORD errors);

// The output lines side h drives, from EscapeCommFunction and the DTR and
// RTS control of its state.
constexpr DWORD PAIR_RTS_ON = 0x01;
constexpr DWORD PAIR_DTR_ON = 0x02;
constexpr DWORD PAIR_BREAK_ON = 0x04;
ZQSERIAL_EXPORT BOOL GetCommPairOutputLines(HANDLE h, DWORD* lines);

} // namespace zq::serial
