/* Shared pieces of the benchmark program: the comparison table, running a
 * reference command, and the folder the benchmarks work in. */
#ifndef QORB_BENCH_SUPPORT_H
#define QORB_BENCH_SUPPORT_H

#include <stdint.h>

#include <string>
#include <vector>

namespace qorbbench {

/* How a row of the table shows its two times. */
enum class Unit {
    PerCall,   /* time of one call (ms) */
    PerItem,   /* time per item found (us); the benchmark sets counters["items"] */
    Rate,      /* bytes per second (GB/s); the benchmark sets counters["bytes"] */
};

/* One row: a library figure and its reference, both benchmark names. The
 * ratio is always library time / reference time for the same work, so lower
 * is better; maxRatio 0 means the row has no target. */
struct Row {
    std::string figure;
    std::string ours;
    std::string reference;
    std::string referenceLabel;
    Unit unit;
    double maxRatio;
};

/* Rows are registered by the benchmark files next to their benchmarks. */
void AddRow(const Row& row);
const std::vector<Row>& Rows();

/* An absolute target: one benchmark's wall time per call against a limit. */
struct Limit {
    std::string figure;
    std::string benchmark;
    double maxSeconds;
};
void AddLimit(const Limit& limit);
const std::vector<Limit>& Limits();

/* Runs argv[0] (searched in PATH) with standard output into outPath
 * ("/dev/null" to discard) and standard error discarded. Answers the exit
 * status, or -1 when the command could not be started. */
int RunCommand(const std::vector<std::string>& argv, const std::string& outPath);

/* A folder under /tmp made at the first call, removed at exit. */
const std::string& WorkDir();

/* Appends one function as "lspci -xxx" (256 bytes) or "lspci -xxxx" text
 * (4096 bytes): "BB:DD.F function", then 16 bytes a line. */
void AppendDumpFunction(std::string& text, int bus, int dev, int fn, const uint8_t* space, size_t length);

/* Writes bytes to a file; false on any failure. */
bool WriteBytes(const std::string& path, const void* bytes, size_t length);

} // namespace qorbbench

#endif
