// Timing and the report line of the settings benchmarks: a figure of ours
// beside its peer's, measured in the same run, and their ratio to the goal.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace zq::bench {

// Seconds per call of `f`, the best of a few rounds of `n` calls.
template <class F>
double Time(int n, F f) {
    using Clock = std::chrono::steady_clock;
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        const auto start = Clock::now();
        for (int i = 0; i < n; ++i) f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count() / n);
    }
    return best;
}

inline void Report(const char* what, double ours, double peer, const char* peerName, double goal) {
    const double ratio = ours / peer;
    std::printf("%-44s %10.2f us  %-28s %10.2f us  ratio %7.3f  (goal <= %g%s)\n", what, ours * 1e6, peerName,
                peer * 1e6, ratio, goal, ratio <= goal ? "" : ", missed");
}

}  // namespace zq::bench
