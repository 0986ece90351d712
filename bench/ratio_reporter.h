// A console reporter for benchmarks that pair a "...Runtime..." case with a "...Peer..." case: it
// prints the usual table, then each Runtime time divided by the time of its Peer (the medians when
// repetitions are asked for), so that a run shows the ratios measured side by side.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qvbench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::string heading) : m_heading(std::move(heading)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Iteration || median)
        m_times[run.run_name.str()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-26s real    cpu\n", m_heading.c_str());
    for (const auto& [name, times] : m_times) {
      const size_t at = name.find("Runtime");
      if (at == std::string::npos) continue;
      const auto peer = m_times.find(std::string(name).replace(at, 7, "Peer"));
      if (peer == m_times.end() || peer->second.first <= 0 || peer->second.second <= 0) continue;
      std::printf("  %-22s %6.2f %6.2f\n", name.c_str(), times.first / peer->second.first,
                  times.second / peer->second.second);
    }
  }

 private:
  std::string m_heading;
  std::map<std::string, std::pair<double, double>> m_times;  // real, cpu
};

}  // namespace qvbench
