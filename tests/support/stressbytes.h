#pragma once
// What the stress tests of a port move each way, and how often.
#include <cstddef>
#include <cstdlib>
#include <string>

namespace zqtest {

// A megabyte each way, in two different counting patterns, so a byte that
// took the wrong way or slipped shows.
struct StressBytes {
    static constexpr size_t kSize = 1 << 20;
    std::string out, in;
    StressBytes()
        : out(kSize, '\0')
        , in(kSize, '\0')
    {
        for (size_t i = 0; i < kSize; ++i) {
            out[i] = static_cast<char>(i * 7 + 1);
            in[i] = static_cast<char>(i * 13 + 5);
        }
    }
};

// ZQ_STRESS_ROUNDS when set; otherwise 200, or 20 under the sanitizers.
inline int StressRounds()
{
    if (const char* rounds = std::getenv("ZQ_STRESS_ROUNDS"))
        return std::atoi(rounds);
    return std::getenv("ZQ_SANITIZE_BUILD") ? 20 : 200;
}

} // namespace zqtest
