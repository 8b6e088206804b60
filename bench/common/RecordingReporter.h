// The benchmarks' shared reporter: Google Benchmark's usual console table, with each case's
// figures kept so that the program can print them beside its baseline once all have run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace orbel::bench {

// Nanoseconds in one unit of the times Google Benchmark reports.
inline double NanosecondsPer(benchmark::TimeUnit unit) {
    switch (unit) {
        case benchmark::kSecond:
            return 1e9;
        case benchmark::kMillisecond:
            return 1e6;
        case benchmark::kMicrosecond:
            return 1e3;
        default:
            return 1.0;
    }
}

// One case: its name as Google Benchmark gives it ("/iterations:3" and the like included),
// its label, its times per iteration in nanoseconds and its counters (rates per second).
struct CaseResult {
    std::string name;
    std::string label;
    double cpuNs = 0.0;
    double realNs = 0.0;
    std::map<std::string, double> counters;

    // 0 when the case has no such counter.
    double Counter(const std::string& key) const {
        const auto found = counters.find(key);
        return found == counters.end() ? 0.0 : found->second;
    }
};

// Keeps every case that ran without error, in the order they ran. With
// --benchmark_repetitions the median stands for the case.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    explicit RecordingReporter(OutputOptions options = OO_Defaults) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((run.run_type != Run::RT_Iteration && !median) || run.error_occurred) continue;
            Keep(median ? run.run_name.str() : run.benchmark_name(), run);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    const std::vector<CaseResult>& Results() const { return results_; }

    // The case of exactly that name, or null.
    const CaseResult* Find(const std::string& name) const {
        for (const CaseResult& result : results_) {
            if (result.name == name) return &result;
        }
        return nullptr;
    }

    // The first case whose name starts with `prefix`, or null.
    const CaseResult* FindPrefix(const std::string& prefix) const {
        for (const CaseResult& result : results_) {
            if (result.name.rfind(prefix, 0) == 0) return &result;
        }
        return nullptr;
    }

private:
    void Keep(std::string name, const Run& run) {
        CaseResult result;
        result.name = std::move(name);
        result.label = run.report_label;
        result.cpuNs = run.GetAdjustedCPUTime() * NanosecondsPer(run.time_unit);
        result.realNs = run.GetAdjustedRealTime() * NanosecondsPer(run.time_unit);
        for (const auto& [key, counter] : run.counters) result.counters[key] = counter.value;
        for (CaseResult& kept : results_) {
            if (kept.name == result.name) {
                kept = std::move(result);  // a later run of the case (its median) replaces it
                return;
            }
        }
        results_.push_back(std::move(result));
    }

    std::vector<CaseResult> results_;
};

}  // namespace orbel::bench
