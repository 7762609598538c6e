#pragma once
// The timing every ratio benchmark shares: two workloads run in the same iteration, taking turns going first (the
// second of a pair tends to pay for the first's cache and allocator state), their times summed, and the ratio of
// ours to bare reported as one counter. A workload answers false when its result is wrong, which ends the run.
#include <benchmark/benchmark.h>

#include <chrono>

namespace bench {

template <typename Ours, typename Bare>
void Paired(benchmark::State& state, const char* name, Ours ours, Bare bare) {
  using Clock = std::chrono::steady_clock;
  Clock::duration oursTime{}, bareTime{};
  const auto timed = [](auto& work, Clock::duration& total) {
    const auto start = Clock::now();
    const bool ok = work();
    total += Clock::now() - start;
    return ok;
  };
  bool oursFirst = true;
  for (auto _ : state) {
    const bool ok =
        oursFirst ? (timed(ours, oursTime) && timed(bare, bareTime)) : (timed(bare, bareTime) && timed(ours, oursTime));
    if (!ok) {
      state.SkipWithError("wrong result");
      return;
    }
    oursFirst = !oursFirst;
  }
  const double bareNs = std::chrono::duration<double, std::nano>(bareTime).count();
  if (bareNs > 0) state.counters[name] = std::chrono::duration<double, std::nano>(oursTime).count() / bareNs;
}

}  // namespace bench
