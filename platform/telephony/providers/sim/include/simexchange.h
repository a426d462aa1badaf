#pragma once
// The simulated exchange: the provider that runs when no other does, so the
// program works on any machine. Its lines are voice modems that call each other.
//
// Lines are listed in the registry under
// HKLM\SOFTWARE\zqcomm\Telephony\Simulated\Lines, one subkey each (0000, 0001, ...); without any, two are
// created: "Simulated line 1" (number 1001, port SIM1) and "Simulated
// line 2" (1002, SIM2). Values of a line key:
//   Name, Number, Port       what the line is called, its number, its port
//   CallerID, CallerName     identity shown to the lines it calls
//                            (default: its number and name)
//   FailOpen (DWORD)         1: opening the line fails (LINEERR_RESOURCEUNAVAIL)
//   and, for calls made to the line, the options below as values:
//   Busy, NoAnswer (DWORD 1), AnswerAfterRings (DWORD), HangUpAfterMs
//   (DWORD), Digits (SZ)
//   DevConfig (BINARY)       its modem configuration block, kept by the service
// The exchange's own key (...\Simulated) holds RingIntervalMs (DWORD,
// default 2000), ProgressDelayMs (DWORD, default 100: how long after a
// request's completion the call moves on, and the exchange takes to reach
// the far end; 0 lets tests run without delays) and Enabled (DWORD: 0
// switches the exchange off; without it, it runs when no other provider
// does).
//
// Dialling: the digits before the first "/" of the dialled string select the
// line with that number; any other number reaches the exchange's answering
// party, and an empty number goes off hook and connects at once. Options
// follow, each after a "/", and apply to that call:
//   busy           the called party is busy
//   noanswer[=T]   nobody answers; the call ends after T, or after the
//                  caller's call set-up time-out
//   rings=N        the called party answers after N rings
//   hangup=T       the called party hangs up T after the connection
//   dtmf=DIGITS    the called party sends these digits once the caller
//                  monitors digits (so none are lost before it listens)
//   callerid=X, callername=X   identity of the caller shown to the called line
//   ring=T         ring interval of this call
// T is a time: "250ms", "2s" or a number of seconds ("0.5").
//
// A line waiting for voice calls in one program can be called from another
// program using the same registry store: the waiting program listens on a
// socket in the abstract namespace named after the store and the number
// (WaitingLineSocketName), and a program dialling that
// number while its own copy of the line is not in use reaches it there; the
// call's states and audio cross between the two programs.
//
// A called line that an application owns offers the call to it and the
// application answers; a line nobody owns answers by itself after
// AnswerAfterRings rings (default 2; 0 = never), as does a number with no
// line. Connected lines hear each other: a line's wave-out plays into the
// peer's wave-in. A data call joins the two lines' ports through an
// in-process serial pair.
#include "provider.h"
#include "simsocket.h"

#include <memory>

namespace zq::sim {

inline constexpr const char* kSimulatedKey = "SOFTWARE\\zqcomm\\Telephony\\Simulated";
inline constexpr const char* kSimulatedLinesKey = "SOFTWARE\\zqcomm\\Telephony\\Simulated\\Lines";

std::unique_ptr<telephony::Provider> CreateSimulatedExchange();

} // namespace zq::sim
