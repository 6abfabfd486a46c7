/* The benchmark program's main: runs the benchmarks (progress on standard
 * error) and prints one table on standard output, each library figure next
 * to its reference from the same run. */
#include <stdio.h>

#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "bench_support.h"

namespace {

struct Result {
    double seconds = 0;   /* wall time per iteration */
    double items = 0;
    double bytes = 0;
    std::string error;
};

/* Keeps every run for the table and prints one line per run to stderr. */
class TableReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            Result r;
            if (run.error_occurred) {
                r.error = run.error_message;
            } else if (run.iterations > 0) {
                /* The clock a benchmark asked for: the wall's ("/real_time")
                 * or the processor time of its thread. */
                const std::string name = run.benchmark_name();
                const bool wall = name.size() >= 10 && name.compare(name.size() - 10, 10, "/real_time") == 0;
                r.seconds =
                    (wall ? run.real_accumulated_time : run.cpu_accumulated_time) / static_cast<double>(run.iterations);
                auto items = run.counters.find("items");
                if (items != run.counters.end())
                    r.items = items->second;
                auto bytes = run.counters.find("bytes");
                if (bytes != run.counters.end())
                    r.bytes = bytes->second;
            }
            std::string shown = r.error.empty()
                ? std::to_string(r.seconds * 1e3) + " ms x " + std::to_string(run.iterations)
                : "skipped: " + r.error;
            for (const auto& [name, counter] : run.counters)
                if (name != "items" && name != "bytes")
                    shown += "  " + name + " " + std::to_string(counter.value);
            fprintf(stderr, "  %-40s %s\n", run.benchmark_name().c_str(), shown.c_str());
            m_results[run.benchmark_name()] = r;
        }
    }
    const Result* Find(const std::string& name) const
    {
        auto it = m_results.find(name);
        return it == m_results.end() ? nullptr : &it->second;
    }

private:
    std::map<std::string, Result> m_results;
};

std::string Show(const Result& r, qorbbench::Unit unit)
{
    char text[64];
    switch (unit) {
    case qorbbench::Unit::PerCall:
        snprintf(text, sizeof text, "%.3f ms", r.seconds * 1e3);
        break;
    case qorbbench::Unit::PerItem:
        snprintf(text, sizeof text, "%.3f us/fn", r.items > 0 ? r.seconds * 1e6 / r.items : 0.0);
        break;
    case qorbbench::Unit::Rate:
        snprintf(text, sizeof text, "%.2f GB/s", r.seconds > 0 ? r.bytes / r.seconds / 1e9 : 0.0);
        break;
    }
    return text;
}

/* Time per unit of work, so that the ratio compares like with like. */
double PerUnit(const Result& r, qorbbench::Unit unit)
{
    if (unit == qorbbench::Unit::PerItem)
        return r.items > 0 ? r.seconds / r.items : 0;
    if (unit == qorbbench::Unit::Rate)
        return r.bytes > 0 ? r.seconds / r.bytes : 0;
    return r.seconds;
}

void PrintTable(const TableReporter& reporter)
{
    printf("%-46s %14s  %-26s %14s %7s  %-8s %s\n", "figure", "qorb", "reference", "ref", "ratio", "target", "");
    for (const qorbbench::Row& row : qorbbench::Rows()) {
        const Result* ours = reporter.Find(row.ours);
        const Result* ref = reporter.Find(row.reference);
        if (!ours || !ref)
            continue;  /* filtered out on the command line */
        if (!ours->error.empty() || !ref->error.empty()) {
            printf("%-46s skipped: %s\n", row.figure.c_str(), (ours->error.empty() ? ref->error : ours->error).c_str());
            continue;
        }
        double a = PerUnit(*ours, row.unit);
        double b = PerUnit(*ref, row.unit);
        double ratio = b > 0 ? a / b : 0;
        char target[32] = "-";
        const char* verdict = "";
        if (row.maxRatio > 0) {
            snprintf(target, sizeof target, "<= %.2g", row.maxRatio);
            verdict = ratio <= row.maxRatio ? "met" : "MISSED";
        }
        printf("%-46s %14s  %-26s %14s %7.2f  %-8s %s\n", row.figure.c_str(), Show(*ours, row.unit).c_str(),
               row.referenceLabel.c_str(), Show(*ref, row.unit).c_str(), ratio, target, verdict);
    }
    printf("ratio = qorb time / reference time for the same work (lower is better)\n");
    for (const qorbbench::Limit& limit : qorbbench::Limits()) {
        const Result* r = reporter.Find(limit.benchmark);
        if (!r)
            continue;
        if (!r->error.empty())
            printf("%-46s skipped: %s\n", limit.figure.c_str(), r->error.c_str());
        else
            printf("%-46s %11.3f ms  limit %.0f ms  %s\n", limit.figure.c_str(), r->seconds * 1e3,
                   limit.maxSeconds * 1e3, r->seconds <= limit.maxSeconds ? "met" : "MISSED");
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintTable(reporter);
    return 0;
}
