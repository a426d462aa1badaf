#pragma once
// What leaves the wave library: the wave calls and the device, endpoint and
// file classes its public headers declare. Everything else stays inside.
#define ZQWAVE_EXPORT __attribute__((visibility("default")))
