/* "qorb check" without its link and injection checks (the read-only part of
 * the checklist), run as a user runs it: the tool started on the simulated
 * driver, on the built-in platform and on a generated platform of 256
 * functions; next to the bare reads of every DUT's 4 KiB of configuration
 * space through the driver table. */
#include <linux/pci_regs.h>
#include <unistd.h>

#include <string>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "qorb_internal.h"
#include "verify.h"

namespace {

constexpr int kRootPorts = 16, kEndpointsPerPort = 15;
constexpr int kFunctions = kRootPorts * (1 + kEndpointsPerPort);
constexpr uint32_t kSpace = 4096;
/* A platform file names at most this many DUTs (QORB_MAX_DUTS). */
constexpr int kDutsPerFile = 100;

struct Location {
    int bus, dev, fn;
};

std::vector<Location> Generated()
{
    std::vector<Location> all;
    for (int r = 1; r <= kRootPorts; ++r) {
        all.push_back({0, r, 0});
        for (int e = 0; e < kEndpointsPerPort; ++e)
            all.push_back({r, e / 4, e % 4});
    }
    return all;
}

/* One function as "lspci -xxxx" text: a root port (type 1 header above bus
 * dev) or an endpoint, each with a PCI Express capability at 0x40 whose link
 * is x4 at 8GT/s (2.5 to 8GT/s supported), and an AER capability at 0x100:
 * every register rule passes on it. */
void AddFunction(std::string& text, const Location& at)
{
    uint8_t space[kSpace] = {};
    bool port = at.bus == 0;
    space[0] = 0x53, space[1] = 0x51, space[2] = static_cast<uint8_t>(at.dev), space[3] = port ? 0x10 : 0x20;
    space[PCI_STATUS] = PCI_STATUS_CAP_LIST;
    space[PCI_CLASS_DEVICE] = port ? 0x04 : 0x00;
    space[PCI_CLASS_DEVICE + 1] = port ? 0x06 : 0x02;
    space[PCI_HEADER_TYPE] = port ? PCI_HEADER_TYPE_BRIDGE : PCI_HEADER_TYPE_NORMAL;
    if (port)
        space[PCI_SECONDARY_BUS] = space[PCI_SUBORDINATE_BUS] = static_cast<uint8_t>(at.dev);
    space[PCI_CAPABILITY_LIST] = 0x40;
    space[0x40] = PCI_CAP_ID_EXP;
    space[0x40 + PCI_EXP_FLAGS] = static_cast<uint8_t>(0x02 | (port ? PCI_EXP_TYPE_ROOT_PORT : 0) << 4);
    space[0x40 + PCI_EXP_LNKCAP] = 0x43;
    space[0x40 + PCI_EXP_LNKSTA] = 0x43;
    space[0x40 + PCI_EXP_LNKCAP2] = PCI_EXP_LNKCAP2_SLS_2_5GB | PCI_EXP_LNKCAP2_SLS_5_0GB | PCI_EXP_LNKCAP2_SLS_8_0GB;
    space[0x100] = PCI_EXT_CAP_ID_ERR, space[0x102] = 0x01;
    qorbbench::AppendDumpFunction(text, at.bus, at.dev, at.fn, space, kSpace);
}

/* The work folder with qorbsim.ini over the generated dump (or none, for
 * the built-in platform) and the platform files naming every function,
 * kDutsPerFile each; answers their names. */
std::vector<std::string> Prepare(bool generated)
{
    const std::string& dir = qorbbench::WorkDir();
    std::string ini = "[platform]\n";
    std::vector<std::string> files;
    if (generated) {
        std::string dump;
        std::vector<Location> all = Generated();
        for (const Location& at : all)
            AddFunction(dump, at);
        qorbbench::WriteBytes(dir + "/generated.txt", dump.data(), dump.size());
        ini += "dump = generated.txt\n";
        for (size_t first = 0; first < all.size(); first += kDutsPerFile) {
            std::string xml = "<platform>\n";
            for (size_t i = first; i < all.size() && i < first + kDutsPerFile; ++i)
                xml += "<DUT bus=\"" + std::to_string(all[i].bus) + "\" device=\"" + std::to_string(all[i].dev) +
                    "\" function=\"" + std::to_string(all[i].fn) + "\"/>\n";
            files.push_back(dir + "/duts" + std::to_string(files.size()) + ".xml");
            xml += "</platform>\n";
            qorbbench::WriteBytes(files.back(), xml.data(), xml.size());
        }
    }
    qorbbench::WriteBytes(dir + "/qorbsim.ini", ini.data(), ini.size());
    if (chdir(dir.c_str()) != 0)
        files.clear();
    return files;
}

/* One run of the tool per platform file; false when one did not pass. */
bool RunCheck(const std::vector<std::string>& files)
{
    std::vector<std::string> argv = {QORB_TOOL_PATH, "--driver",  QORB_SIM_DRIVER_PATH,
                                     "check",        "--no-link", "--no-inject",
                                     "--quiet",      "--xml",     qorbbench::WorkDir() + "/check.xml"};
    if (files.empty())
        return qorbbench::RunCommand(argv, "/dev/null") == 0;
    argv.push_back("--platform");
    argv.push_back("");
    for (const std::string& file : files) {
        argv.back() = file;
        if (qorbbench::RunCommand(argv, "/dev/null") != 0)
            return false;
    }
    return true;
}

void BM_CheckBuiltin(benchmark::State& state)
{
    Prepare(false);
    for (auto _ : state)
        if (!RunCheck({})) {
            state.SkipWithError("qorb check failed on the built-in platform");
            break;
        }
}

void BM_CheckGenerated(benchmark::State& state)
{
    std::vector<std::string> files = Prepare(true);
    if (files.empty())
        return state.SkipWithError("cannot enter the work folder");
    for (auto _ : state)
        if (!RunCheck(files)) {
            state.SkipWithError("qorb check failed on the generated platform");
            break;
        }
    state.counters["items"] = kFunctions;
}

/* Every generated function's 4 KiB read through the driver table:
 * - kWhole: one call per function (the tool run's reference);
 * - kDwords: a double word at a time, as the tool reads configuration space
 *   (the in-process verifier's reference);
 * - kJudged: as kDwords, then judged by every read-only register rule (the
 *   verifier in process, without the tool around it). */
enum class Reads { kWhole, kDwords, kJudged };

void GeneratedReads(benchmark::State& state, Reads mode)
{
    Prepare(true);
    void* instance = nullptr;
    if (OpenQORBEx(&instance, 0, QORB_SIM_DRIVER_PATH, 0, 0) != QORB_SUCCESS)
        return state.SkipWithError("the simulated driver does not open the generated platform");
    std::vector<Location> all = Generated();
    const auto read = g_qorbDriver.table.ReadConfig;
    const uint32_t context = g_qorbDriver.context;
    const uint32_t step = mode == Reads::kWhole ? kSpace : 4;
    std::vector<uint8_t> space(kSpace);
    size_t rules = 0;
    for (auto _ : state) {
        for (const Location& at : all) {
            for (uint32_t offset = 0; offset < kSpace; offset += step)
                if (read(context, at.bus, at.dev, at.fn, offset, step, &space[offset]) != step) {
                    state.SkipWithError("a read through the driver failed");
                    CloseQORB(instance);
                    return;
                }
            if (mode == Reads::kJudged)
                rules += qorbcli::ReadOnlyRules(space, qorbcli::RuleContext{}).size();
        }
        benchmark::DoNotOptimize(space.data());
    }
    state.counters["items"] = kFunctions;
    if (mode == Reads::kJudged)
        state.counters["rules/fn"] = static_cast<double>(rules) / kFunctions / static_cast<double>(state.iterations());
    CloseQORB(instance);
}

void BM_GeneratedBareReads(benchmark::State& state) { GeneratedReads(state, Reads::kWhole); }
void BM_GeneratedVerify(benchmark::State& state) { GeneratedReads(state, Reads::kJudged); }
void BM_GeneratedDwordReads(benchmark::State& state) { GeneratedReads(state, Reads::kDwords); }

BENCHMARK(BM_CheckBuiltin)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckGenerated)->UseRealTime()->Unit(benchmark::kMillisecond);
/* In process and on one thread: timed by processor time, which other work
 * on the machine disturbs less than the clock on the wall. */
BENCHMARK(BM_GeneratedBareReads);
BENCHMARK(BM_GeneratedVerify);
BENCHMARK(BM_GeneratedDwordReads);

const bool g_rows = [] {
    using qorbbench::Unit;
    /* The tool as a user runs it, with its process starts and the driver's
     * dump parsing, next to one memory copy per function: a figure to
     * watch, not the verifier's target (the next row). */
    qorbbench::AddRow({"qorb check read-only, 256 fns, per fn", "BM_CheckGenerated/real_time", "BM_GeneratedBareReads",
                       "bare 4 KiB reads / fn", Unit::PerItem, 0});
    qorbbench::AddRow({"read-only verifier in process, 256 fns, per fn", "BM_GeneratedVerify", "BM_GeneratedDwordReads",
                       "4 KiB dword reads / fn", Unit::PerItem, 3.0});
    qorbbench::AddLimit({"qorb check read-only, built-in platform", "BM_CheckBuiltin/real_time", 0.5});
    return true;
}();

} // namespace
