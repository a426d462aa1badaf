#pragma once
// Waiting in tests: serve the main thread's events until a condition holds.
// The limit only turns a hang into a failure; tests never rely on it passing.
#include <functional>

namespace zqtest {

constexpr int kEventWaitLimitMs = 30000;

// Processes events until pred() is true; returns pred().
bool WaitUntil(const std::function<bool()>& pred, int limitMs = kEventWaitLimitMs);

} // namespace zqtest
