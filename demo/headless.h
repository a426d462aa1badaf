#pragma once
// Runs without a window: speak a text to the speakers or into an audio
// file, dial a number and speak when connected, or wait for a call and
// speak (or record) when answered. The window's log lines go to stdout,
// with what a user of a call machine wants to see: the number dialled,
// ringing, the caller, digits received, how long the call lasted and why it
// ended.
#include "headlessoptions.h"

namespace zq::demo {

// Returns the exit status: 0 on success, 1 on failure, 128 + the signal's
// number when SIGINT or SIGTERM ended the run.
int RunHeadless(const HeadlessOptions& options);

} // namespace zq::demo
