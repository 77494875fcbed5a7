// Shared by the benchmarks: best-of-three timing and a failure exit.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace bench {

constexpr int kRepeats = 3;

// The best of kRepeats runs, in seconds.
inline double Seconds(const std::function<void()>& run) {
  double best = 1e30;
  for (int i = 0; i < kRepeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

[[noreturn]] inline void Fail(const char* program, const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", program, what.c_str());
  std::exit(1);
}

}  // namespace bench
