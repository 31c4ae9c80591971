// Console output plus the ratio of two benchmarks of the same run, each taken by one statistic.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace ondrevo::bench {

enum class Statistic {
  FastestCpu,   // the fastest run's CPU time: the one least disturbed by other work
  FastestReal,  // the same in wall time, for work that waits (drawing)
  MedianReal,   // for sub-millisecond cases, where the fastest of a few runs is luck
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(Statistic statistic = Statistic::FastestCpu) : statistic_(statistic) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      const std::string name = r.run_name.function_name;
      if (statistic_ == Statistic::MedianReal) {
        if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
          times[name] = r.GetAdjustedRealTime();
        continue;
      }
      if (r.run_type != Run::RT_Iteration) continue;
      const double t =
          statistic_ == Statistic::FastestCpu ? r.GetAdjustedCPUTime() : r.GetAdjustedRealTime();
      if (!times.count(name) || t < times[name]) times[name] = t;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  std::map<std::string, double> times;

 private:
  Statistic statistic_;
};

inline void PrintRatio(const RatioReporter& r, const char* what, const char* a, const char* b,
                       const char* target) {
  const auto x = r.times.find(a), y = r.times.find(b);
  if (x == r.times.end() || y == r.times.end() || y->second <= 0) return;
  std::printf("%-62s %6.2f  (target %s)\n", what, x->second / y->second, target);
}

}  // namespace ondrevo::bench
