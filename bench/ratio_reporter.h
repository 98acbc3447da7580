// Reports benchmark results as ratios measured in the same run, since the
// machines that run them are too noisy for bare times to mean much.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  struct Ratio {
    std::string Label;
    std::string Numerator;    // benchmark name
    std::string Denominator;  // benchmark name
    double Target = 0.0;      // 0: no target; else the ratio should stay at or below it
  };

  explicit RatioReporter(std::vector<Ratio> ratios) : m_Ratios(std::move(ratios)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
      m_Times[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nRatios (same run):\n");
    for (const Ratio& r : m_Ratios) {
      auto n = m_Times.find(r.Numerator), d = m_Times.find(r.Denominator);
      if (n == m_Times.end() || d == m_Times.end() || d->second <= 0) {
        std::printf("  %-48s n/a (benchmark filtered out)\n", r.Label.c_str());
        continue;
      }
      double ratio = n->second / d->second;
      std::printf("  %-48s %6.2f", r.Label.c_str(), ratio);
      if (r.Target > 0)
        std::printf("   (target <= %.2f: %s)", r.Target, ratio <= r.Target ? "met" : "NOT met");
      std::printf("\n");
    }
  }

 private:
  std::vector<Ratio> m_Ratios;
  std::map<std::string, double> m_Times;
};

// main() for a benchmark program that ends with the given ratios.
inline int RunWithRatios(int argc, char** argv, std::vector<RatioReporter::Ratio> ratios) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter(std::move(ratios));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
