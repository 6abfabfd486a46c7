/* Device searches: the full-miss search on the simulated and the sysfs
 * drivers, and the endpoint iteration, each next to what it cannot beat: the
 * driver reads alone, or lspci reading the same machine. */
#include <linux/pci_regs.h>
#include <unistd.h>

#include <string>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "qorb_internal.h"

namespace {

/* IDs that no function of any platform used here carries. */
constexpr uint16_t kMissDeviceId = 0xBEEF;
constexpr uint16_t kMissVendorId = 0xFEED;

constexpr int kRootPorts = 16;
constexpr int kEndpointsPerBus = 15;
constexpr int kEndpoints = kRootPorts * kEndpointsPerBus;

/* The reference scan: the 65,280 reads of a full search straight through the
 * driver table into one 256-byte buffer, with nothing else around them. */
uint32_t BareScan()
{
    uint8_t buffer[QORB_SHADOW_LENGTH] = {};
    const auto read = g_qorbDriver.table.ReadConfig;
    const uint32_t context = g_qorbDriver.context;
    uint32_t present = 0;
    for (uint32_t bus = 0; bus <= QORB_SCAN_LAST_BUS; ++bus)
        for (uint32_t dev = 0; dev < QORB_SCAN_DEVICES; ++dev)
            for (uint32_t fn = 0; fn < QORB_SCAN_FUNCTIONS; ++fn)
                if (read(context, bus, dev, fn, 0, QORB_PROBE_LENGTH, buffer) == QORB_PROBE_LENGTH &&
                    (buffer[0] != 0xFF || buffer[1] != 0xFF))
                    ++present;
    benchmark::DoNotOptimize(buffer);
    return present;
}

/* The simulated driver opened in the work folder, on its built-in platform
 * (no dump text) or on the functions of an "lspci -xxx" text; closed at the
 * end. */
class SimRig {
public:
    explicit SimRig(const std::string& dump = "")
    {
        const std::string& dir = qorbbench::WorkDir();
        std::string ini = "[platform]\n";
        if (!dump.empty()) {
            qorbbench::WriteBytes(dir + "/platform.txt", dump.data(), dump.size());
            ini += "dump = platform.txt\n";
        }
        qorbbench::WriteBytes(dir + "/qorbsim.ini", ini.data(), ini.size());
        if (chdir(dir.c_str()) == 0)
            m_status = OpenQORBEx(&m_instance, 0, QORB_SIM_DRIVER_PATH, 0, 0);
    }
    ~SimRig()
    {
        if (m_status == QORB_SUCCESS)
            CloseQORB(m_instance);
    }
    _QORB_STATUS_t OpenStatus() const { return m_status; }
    void* Instance() const { return m_instance; }

private:
    void* m_instance = nullptr;
    _QORB_STATUS_t m_status = QORB_STATUS_FAILED;
};

/* One function as "lspci -xxx" text: a type 0 or 1 header with a PCI
 * Express capability at 0x40 of the given port type. */
void AddFunction(std::string& text, int bus, int dev, int fn, uint16_t vendor, uint16_t device, int portType)
{
    uint8_t space[256] = {};
    bool bridge = portType == PCI_EXP_TYPE_ROOT_PORT;
    space[0] = static_cast<uint8_t>(vendor), space[1] = static_cast<uint8_t>(vendor >> 8);
    space[2] = static_cast<uint8_t>(device), space[3] = static_cast<uint8_t>(device >> 8);
    space[PCI_STATUS] = PCI_STATUS_CAP_LIST;
    space[PCI_CLASS_DEVICE] = bridge ? 0x04 : 0x00;
    space[PCI_CLASS_DEVICE + 1] = bridge ? 0x06 : 0x02;
    space[PCI_HEADER_TYPE] = bridge ? PCI_HEADER_TYPE_BRIDGE : PCI_HEADER_TYPE_NORMAL;
    if (bridge)
        space[PCI_SECONDARY_BUS] = space[PCI_SUBORDINATE_BUS] = static_cast<uint8_t>(dev);
    space[PCI_CAPABILITY_LIST] = 0x40;
    space[0x40] = PCI_CAP_ID_EXP;
    space[0x40 + PCI_EXP_FLAGS] = static_cast<uint8_t>(0x02 | portType << 4);
    qorbbench::AppendDumpFunction(text, bus, dev, fn, space, sizeof space);
}

void FullMissLoop(benchmark::State& state)
{
    for (auto _ : state) {
        void* device = nullptr;
        if (FindDevice(kMissDeviceId, kMissVendorId, &device) != QORB_DEVICE_NOT_FOUND) {
            CloseDevice(device);
            state.SkipWithError("the miss search found a function");
            break;
        }
    }
}

void BareLoop(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(BareScan());
}

void BM_SimFullMiss(benchmark::State& state)
{
    SimRig sim;  /* the simulator's built-in platform */
    if (sim.OpenStatus() != QORB_SUCCESS)
        return state.SkipWithError("the simulated driver does not open");
    FullMissLoop(state);
}

void BM_SimBareReads(benchmark::State& state)
{
    SimRig sim;
    if (sim.OpenStatus() != QORB_SUCCESS)
        return state.SkipWithError("the simulated driver does not open");
    BareLoop(state);
}

/* Root ports on bus 0 (device r + 1 above bus r + 1), each above a bus of
 * endpoints. */
std::string EndpointPlatform()
{
    std::string text;
    for (int r = 1; r <= kRootPorts; ++r) {
        AddFunction(text, 0, r, 0, 0x8086, static_cast<uint16_t>(0x1000 + r), PCI_EXP_TYPE_ROOT_PORT);
        for (int e = 0; e < kEndpointsPerBus; ++e)
            AddFunction(text, r, e / 4, e % 4, 0x1234, 0x5678, PCI_EXP_TYPE_ENDPOINT);
    }
    return text;
}

void BM_EndpointIteration(benchmark::State& state)
{
    SimRig sim(EndpointPlatform());
    if (sim.OpenStatus() != QORB_SUCCESS)
        return state.SkipWithError("the simulated driver does not open the generated platform");
    for (auto _ : state) {
        int found = 0;
        void* device = nullptr;
        _QORB_STATUS_t status = FindFirstEndpoint(sim.Instance(), &device);
        while (status == QORB_SUCCESS) {
            ++found;
            void* next = nullptr;
            status = FindNextEndpoint(device, &next);
            CloseDevice(device);
            device = next;
        }
        if (found != kEndpoints) {
            state.SkipWithError("the iteration did not find every endpoint");
            break;
        }
    }
    state.counters["items"] = kEndpoints;
}

void BM_EndpointBareReads(benchmark::State& state)
{
    SimRig sim(EndpointPlatform());
    if (sim.OpenStatus() != QORB_SUCCESS)
        return state.SkipWithError("the simulated driver does not open the generated platform");
    BareLoop(state);
    state.counters["items"] = kEndpoints;
}

constexpr const char* kPciDevices = "/sys/bus/pci/devices";

void BM_SysfsFullMiss(benchmark::State& state)
{
    if (access(kPciDevices, R_OK) != 0)
        return state.SkipWithError("no /sys/bus/pci/devices on this machine: real hardware scan not measured");
    /* The work folder holds no qorbsysfs.ini: the driver's defaults. */
    if (chdir(qorbbench::WorkDir().c_str()) != 0)
        return state.SkipWithError("cannot enter the work folder");
    void* instance = nullptr;
    if (OpenQORBEx(&instance, 0, QORB_SYSFS_DRIVER_PATH, 0, 0) != QORB_SUCCESS)
        return state.SkipWithError("the sysfs driver does not open");
    FullMissLoop(state);
    CloseQORB(instance);
}

void BM_LspciN(benchmark::State& state)
{
    if (access(kPciDevices, R_OK) != 0)
        return state.SkipWithError("no /sys/bus/pci/devices on this machine: real hardware scan not measured");
    for (auto _ : state) {
        if (qorbbench::RunCommand({"lspci", "-n"}, "/dev/null") != 0) {
            state.SkipWithError("lspci -n failed or is not installed");
            break;
        }
    }
}

BENCHMARK(BM_SimFullMiss)->UseRealTime();
BENCHMARK(BM_SimBareReads)->UseRealTime();
BENCHMARK(BM_EndpointIteration)->UseRealTime();
BENCHMARK(BM_EndpointBareReads)->UseRealTime();
BENCHMARK(BM_SysfsFullMiss)->UseRealTime();
BENCHMARK(BM_LspciN)->UseRealTime();

const bool g_rows = [] {
    using qorbbench::Unit;
    qorbbench::AddRow({"FindDevice full miss, simulated (built-in)", "BM_SimFullMiss/real_time",
                       "BM_SimBareReads/real_time", "65,280 bare ReadConfig", Unit::PerCall, 1.5});
    qorbbench::AddRow({"FindFirst/NextEndpoint, simulated, per fn found", "BM_EndpointIteration/real_time",
                       "BM_EndpointBareReads/real_time", "one bare scan / fn found", Unit::PerItem, 0});
    qorbbench::AddRow({"FindDevice full miss, sysfs (this machine)", "BM_SysfsFullMiss/real_time",
                       "BM_LspciN/real_time", "lspci -n", Unit::PerCall, 1.0});
    return true;
}();

} // namespace
