// Two ways of doing the same work, timed in turns so that both see the same load on the
// machine; which of them goes first alternates from turn to turn.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

namespace ondrevo::bench {

// The q-quantile of v (0.5: the median).
inline double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0.0;
  const auto at = v.begin() + static_cast<std::ptrdiff_t>(q * static_cast<double>(v.size() - 1));
  std::nth_element(v.begin(), at, v.end());
  return *at;
}

struct TurnTimes {
  std::vector<double> subject, baseline;  // ms per run

  // subject / baseline of their q-quantiles (0.5: the medians; 0.1: the fastest tenths, the
  // cost without other programs in the way); 0 without a baseline.
  double Ratio(double q = 0.5) const {
    const double base = Quantile(baseline, q);
    return base > 0 ? Quantile(subject, q) / base : 0.0;
  }
};

// Calls run(true) for the subject and run(false) for the baseline once in each turn; run
// returns the milliseconds it took, or nothing after it has ended the benchmark with an error.
template <typename Run>
TurnTimes InTurns(benchmark::State& state, Run&& run) {
  TurnTimes times;
  bool subjectFirst = true;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      const bool subject = (turn == 0) == subjectFirst;
      const std::optional<double> ms = run(subject);
      if (!ms) return times;
      (subject ? times.subject : times.baseline).push_back(*ms);
    }
    subjectFirst = !subjectFirst;
  }
  return times;
}

// As above for a subject that cannot fail and a baseline that returns an error text, or
// nullptr when it went well.
template <typename Subject, typename Baseline>
TurnTimes InTurns(benchmark::State& state, Subject&& subject, Baseline&& baseline);

// Milliseconds that `work` takes.
template <typename Work>
double TimedMs(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

template <typename Subject, typename Baseline>
TurnTimes InTurns(benchmark::State& state, Subject&& subject, Baseline&& baseline) {
  return InTurns(state, [&](bool isSubject) -> std::optional<double> {
    if (isSubject) return TimedMs(subject);
    const char* error = nullptr;
    const double ms = TimedMs([&] { error = baseline(); });
    if (error) state.SkipWithError(error);
    return error ? std::nullopt : std::optional(ms);
  });
}

}  // namespace ondrevo::bench
