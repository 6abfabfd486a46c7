/* Capabilities: the walk, the typed lookups and their handles, short reads, registers, the AER assertions. */
#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <regex>
#include <tuple>

#include <qorb_common/aer_bits.h>

#include "fake_driver.h"

using namespace qorbtest;

namespace {

using Cap = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>; /* offset, ID, length, next offset */
const Cap kPcie40{0x40, 0x10, 36, 0};

Cap Info(void* handle) {
    _QORB_PCI_DEVICE_CAP_INFO_t i{};
    EXPECT_EQ(QORB_SUCCESS, QORB_QueryCapInfo(handle, &i));
    return {i.offset, i.capabilityId, i.length, i.nextOffset};
}
uint32_t Read32(void* device, uint32_t offset) {
    uint32_t value = 0, length = 4;
    EXPECT_EQ(QORB_SUCCESS, ReadConfigSpace(device, reinterpret_cast<uint8_t*>(&value), offset, &length));
    return value;
}

// clang-format off
/* The table's operations take a device, a record (the bytes of any capability structure), a handle location. */
struct Record {
    uint8_t* bytes;
    template <typename T> operator T*() const { return static_cast<T*>(static_cast<void*>(bytes)); }
};
using Lookup = std::function<_QORB_STATUS_t(void*, Record, void**)>;
/* Lookups with fixed arguments (the extended one ignores its start offset); the header reader, record untouched. */
struct Op {
    template <_QORB_PCI_CAPABILITY_TYPE_t type, int check, uint32_t start = 0>
    static auto Legacy(void* d, Record r, void** h) { return HelpGetPCICapability(d, type, start, check, r, h); }
    template <_QORB_PCIE_CAPABILITY_TYPE_t type, int check>
    static auto Extended(void* d, Record r, void** h) { return HelpGetPCIECapability(d, type, 0x300, check, r, h); }
    template <uint32_t pointer>
    static auto Header(void* d, Record, void**) { return GetCapabilityHeader(d, &header, pointer); }
    static inline _PCI_CAPABILITY_HEADER_t header;
};
/* A walk step from the handle a lookup made. */
template <auto from>
_QORB_STATUS_t Step(void* device, Record, void** next)
{
    void* cap = nullptr;
    EXPECT_EQ(QORB_SUCCESS, from(device, Record{nullptr}, &cap));
    _QORB_STATUS_t status = GetNextCapability(device, next, cap);
    QORB_FreeCapabilityHandle(cap);
    return status;
}

/* One case a device on bus 0. */
enum Dev : uint8_t {
    kComplete = 1, kConventional, kVpd, kAgpLater, kAllOnes, kEmptyNext, kSlotId, kExtUnknown, kExtUnknownFirst,
    kCardBus, kDoubled, kNarrowMsi, kSelfLoop, kCycle, kMsiCycle, kLowPointer, kLowNext, kExtLegacyNext, kUnknownId,
    kHidden, kChain49, kExtCycle, kDevices
};

ConfigSpace Space(uint8_t dev)
{
    ConfigSpace s;
    s.Header(0x1234, dev, 0x02, 0x00, 0x00, dev == kCardBus ? 0x02 : 0x00).CapPointer(0x40);
    switch (dev) {
    case kComplete: /* PM, 64-bit MSI, vendor-specific, MSI-X, PCI Express; AER, DSN, VC, Power Budgeting */
        return s.LegacyCap(0x40, 0x01, 0x4B).Set16(0x42, 0x0003).LegacyCap(0x48, 0x05, 0x60).Set16(0x4A, 0x0080)
            .Set32(0x4C, 0xFEE00000).LegacyCap(0x60, 0x09, 0x80).Set8(0x62, 0x18).LegacyCap(0x80, 0x11, 0xA0)
            .Set16(0x82, 0x0007).Set32(0x84, 0x2004).Set32(0x88, 0x3004).PcieCap(0xA0, 0, 0x00).Set16(0xB0, 0x0040)
            .ExtCap(0x100, 1, 0x150).Set32(0x104, 0x1000).Set32(0x110, 0x40).ExtCap(0x150, 3, 0x163)
            .Set32(0x154, 0x89ABCDEF).ExtCap(0x160, 2, 0x180).ExtCap(0x180, 4, 0x000);
    case kConventional: return s.LegacyCap(0x40, 0x01, 0x00).ExtCap(0x100, 1, 0);
    case kVpd: return s.LegacyCap(0x40, 0x03, 0x50).PcieCap(0x50, 0, 0).ExtCap(0x100, 2, 0); /* VPD first */
    case kAgpLater: return s.LegacyCap(0x40, 0x01, 0x50).LegacyCap(0x50, 0x02, 0x60).PcieCap(0x60, 0, 0);
    case kAllOnes: return s.PcieCap(0x40, 0, 0).Set32(0x100, 0xFFFFFFFF);
    case kEmptyNext: return s.PcieCap(0x40, 0, 0).ExtCap(0x100, 1, 0x140);
    case kSlotId: return s.LegacyCap(0x40, 0x04, 0x50).PcieCap(0x50, 0, 0);
    case kExtUnknown: return s.PcieCap(0x40, 0, 0).ExtCap(0x100, 1, 0x140).ExtCap(0x140, 5, 0x180).ExtCap(0x180, 3, 0);
    case kExtUnknownFirst: return s.PcieCap(0x40, 0, 0).ExtCap(0x100, 5, 0);
    case kCardBus: return s.CapPointer(0x80).LegacyCap(0x80, 0x01, 0x00);
    case kDoubled: return s.PcieCap(0x40, 0, 0x60).PcieCap(0x60, 0, 0).ExtCap(0x100, 1, 0x200).ExtCap(0x200, 1, 0);
    case kNarrowMsi: return s.LegacyCap(0x40, 5, 0x50).LegacyCap(0x50, 1, 0x60).LegacyCap(0x60, 5, 0).Set32(0x64, 7);
    case kSelfLoop: return s.LegacyCap(0x40, 0x01, 0x40);
    case kCycle: return s.LegacyCap(0x40, 0x01, 0x50).LegacyCap(0x50, 0x01, 0x40);
    case kMsiCycle: return s.LegacyCap(0x40, 0x05, 0x50).LegacyCap(0x50, 0x05, 0x40);
    case kLowPointer: return s.CapPointer(0x32).LegacyCap(0x30, 0x01, 0x00);
    case kLowNext: return s.LegacyCap(0x40, 0x01, 0x20);
    case kExtLegacyNext: return s.PcieCap(0x40, 0, 0).ExtCap(0x100, 3, 0x0C0).ExtCap(0x0C0, 1, 0);
    case kUnknownId: return s.LegacyCap(0x40, 0x13, 0x00).Set32(0x44, 0xAABBCCDD);
    case kHidden: return s.CapPointer(0).Set8(0x34, 0x50).LegacyCap(0x50, 0x01, 0x00); /* status bit clear */
    case kChain49: /* at 0x100, then all 48 headers of the legacy area */
        for (uint8_t at = 0x40; at < 0xFC; at += 4) s.LegacyCap(at, 0x01, static_cast<uint8_t>(at + 4));
        return s.Set16(0x100, 0x4001).LegacyCap(0xFC, 0x05, 0x00);
    default: return s.PcieCap(0x40, 0, 0).ExtCap(0x100, 1, 0x140).ExtCap(0x140, 3, 0x100);
    }
}

/* In the order of qorb_aer::kAssertions; the last two put two spaces in a failing verdict. */
_QORB_STATUS_t (*const kAssert[])(void*, void*, int32_t, int32_t) = {
    QORB_ADVERR_Util_AssertTrainingErrorStatus, QORB_ADVERR_Util_AssertDLProtocolErrorStatus,
    QORB_ADVERR_Util_AssertFlowControlProtocolErrorStatus, QORB_ADVERR_Util_AssertCompletionTimeoutStatus,
    QORB_ADVERR_Util_AssertCompleterAbortStatus, QORB_ADVERR_Util_AssertUnexpectedCompletionStatus,
    QORB_ADVERR_Util_AssertReceiverOverflowStatus, QORB_ADVERR_Util_AssertUnsupportedRequestErrorStatus,
    QORB_ADVERR_Util_AssertReceiverErrorStatus, QORB_ADVERR_Util_AssertBadTLPStatus,
    QORB_ADVERR_Util_AssertBadDLLPStatus, QORB_ADVERR_Util_AssertReplayNumberRolloverStatus,
    QORB_ADVERR_Util_AssertReplayTimerTimeoutStatus};

const Cap kUntouched{1, 1, 1, 1}, kNull{}; /* the handle location as it was, or null */
constexpr auto kOk = QORB_SUCCESS, kInvalid = QORB_INVALID_PARAMETER, kFailed = QORB_PCIE_CONFIG_READ_FAILED;
constexpr auto kMulti = QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP, kAbsent = QORB_PCIE_CAP_OUT_OF_RANGE;
constexpr auto kEnd = QORB_PCIE_CAP_DOES_NOT_EXIST, kUnsupported = QORB_UNSUPPORTED_PARAMETER;
const struct {
    uint8_t dev;
    std::vector<Cap> steps; /* the first steps */
    _QORB_STATUS_t end; /* kOk: a list that loops, walked as far as the steps given */
} kWalks[] = {
    {kComplete, {{0x40, 1, 8, 0x4B}, {0x48, 5, 20, 0x60}, {0x60, 9, 24, 0x80} /* its length byte */,
                 {0x80, 0x11, 0, 0xA0}, {0xA0, 0x10, 36, 0}, {0x100, 1, 60, 0x150}, {0x150, 3, 12, 0x163},
                 {0x160, 2, 28, 0x180}, {0x180, 4, 24, 0}}, kEnd},
    {kConventional, {{0x40, 0x01, 8, 0}}, kEnd}, /* the extended list unread */
    {kVpd, {{0x100, 2, 28, 0}}, kEnd}, {kAgpLater, {{0x40, 0x01, 8, 0x50}}, kUnsupported},
    {kAllOnes, {kPcie40}, kEnd}, {kSlotId, {}, kInvalid}, {kEmptyNext, {kPcie40, {0x100, 1, 60, 0x140}}, kEnd},
    {kExtUnknown, {kPcie40, {0x100, 1, 60, 0x140}}, kInvalid}, /* no length for ID 5 */
    {kExtUnknownFirst, {kPcie40}, kInvalid}, {kCardBus, {}, kInvalid},
    {kExtLegacyNext, {kPcie40, {0x100, 3, 12, 0xC0}, {0xC0, 1, 60, 0}, {0x100, 3, 12, 0xC0}}, kOk},
};

const std::string pm = "Capability Pointer 0x40 \nCapability TYPE = 0x01 \nNext capability Offset : 0x4B\n";
const struct {
    uint8_t dev;
    Lookup lookup;
    _QORB_STATUS_t status;
    Cap handle = {1, 1, 1, 1}; /* what the handle location holds after the lookup */
    uint32_t copied = 0;       /* bytes of the record, from the handle's offset */
    std::string text = "";
    uint32_t at = 0, min = 0, max = 0; /* reads of >= min bytes from `at` get max bytes (> 0xFF: see max - 0x100) */
} kLookups[] = {
    {kComplete, GetPCIECapability, kOk, {0xA0, 0x10, 36, 0}, 36},
    {kComplete, GetPowerManagementCapability, kOk, {0x40, 1, 8, 0x4B}, 8},
    {kComplete, Get64BitMSICapability, kOk, {0x48, 5, 20, 0x60}, 20},
    {kComplete, Get32BitMSICapability, kAbsent, {0x48, 5, 20, 0x60}, 20}, /* the one found */
    {kComplete, GetMSIXCapability, kOk, {0x80, 0x11, 0, 0xA0}, 12},
    {kComplete, Op::Legacy<QORB_PCI_CAP_VENDOR_SPECIFIC, 1>, kOk, {0x60, 9, 24, 0x80}, 0},
    {kComplete, GetAdvErrRepCapability, kOk, {0x100, 1, 60, 0x150}, 60},
    {kComplete, GetDeviceSerialNumberCapability, kOk, {0x150, 3, 12, 0x163}, 12},
    {kComplete, GetDeviceVirtualChannelCapability, kOk, {0x160, 2, 28, 0x180}, 28},
    {kComplete, GetPowerBudgetingCapability, kOk, {0x180, 4, 24, 0}, 24},
    {kDoubled, GetPCIECapability, kMulti, {0x60, 0x10, 36, 0}, 0, /* the last instance */
     "[HelpGetPCICapability] : POSSIBLE COMPLIANCE ERROR. [2] instances of cap type[16] have been found\n"},
    {kDoubled, GetAdvErrRepCapability, kMulti, kNull, 0, "****ERROR MULTI-INSTANCE CAP. "
     "file[HelpGetPCIECapability] line[X] file[X] found [2 instances] of type[1] at offset[512]\n"},
    {kDoubled, Op::Extended<QORB_PCIE_CAP_ADV_ERR_REPORTING, 0>, kOk, {0x100, 1, 60, 0x200}, 60},
    {kHidden, Get32BitMSICapability, kAbsent}, {kVpd, GetAdvErrRepCapability, kAbsent},
    {kSelfLoop, GetPCIECapability, kInvalid}, {kCycle, Op::Legacy<QORB_PCI_CAP_POWER_MANAGEMENT, 1>, kInvalid},
    {kNarrowMsi, Get32BitMSICapability, kMulti, {0x60, 5, 20, 0}, 20}, /* the second */
    {kNarrowMsi, Get64BitMSICapability, kAbsent, {0x60, 5, 20, 0}, 20},
    {kVpd, Op::Legacy<QORB_PCI_CAP_VPD, 0>, kUnsupported}, /* AGP: only a matching header is sized */
    {kVpd, Op::Legacy<QORB_PCI_CAP_AGP, 1, 0x40>, kAbsent}, {kHidden, Op::Header<0x50>, kAbsent} /* status bit clear */,
    {kCycle, Op::Legacy<QORB_PCI_CAP_POWER_MANAGEMENT, 0>, kOk, {0x40, 1, 8, 0x50}, 8},
    {kMsiCycle, Get32BitMSICapability, kInvalid, {0x50, 5, 20, 0x40}, 20},
    {kChain49, Op::Legacy<QORB_PCI_CAP_MSI, 1, 0x100>, kOk, {0xFC, 5, 20, 0}, 20},
    {kExtCycle, GetPowerBudgetingCapability, kInvalid}, {kExtCycle, GetDeviceSerialNumberCapability, kInvalid},
    {kLowPointer, GetPCIECapability, kInvalid, kUntouched, 0, "***ERROR**[HelpGetPCICapability] file[X] "
     "line[X] device implement pci caps but start offset[48] is outside of legal limit\n"},
    {kLowNext, GetPCIECapability, kInvalid, kUntouched, 0, "[HelpGetPCICapability] file[X] line[X] next "
     "cap pointer[32] for next cap points into the standard PCI legacy space\n"},
    {kExtLegacyNext, GetAdvErrRepCapability, kOk, {0xC0, 1, 60, 0}, 60, "**ERROR**:parsing PCIE Caps: [Help"
     "GetPCIECapability] file[X] line[X] next_cap_offset[192] cap id[0x3] expecting[1]is in the legacy config space\n"},
    {kUnknownId, Op::Legacy<QORB_PCI_CAP_AF, 1>, kOk, {0x40, 0x13, 0, 0}, 0, "Unknown cap[19]\n"},
    {kHidden, Op::Legacy<QORB_PCI_CAP_POWER_MANAGEMENT, 1, 0x50>, kOk, {0x50, 1, 8, 0}, 8},
    {kHidden, Op::Legacy<QORB_PCI_CAP_POWER_MANAGEMENT, 1, 0x100>, kAbsent},
    {kHidden, Op::Legacy<QORB_PCI_CAP_POWER_MANAGEMENT, 1, 0x104>, kInvalid, kUntouched, 0, "****ERROR. [HelpGetPCI"
     "Capability] file[X] line[X] offset[260] provided by user for pci caps is outside of the legacy config space\n"},
    {kComplete, Op::Header<0x3C>, kAbsent, kUntouched, 0, "Capability Pointer 0x3C \n"},
    {kComplete, Op::Header<0x43>, kOk, kUntouched, 0, pm}, {kComplete, Op::Header<0>, kOk, kUntouched, 0, pm},
    {kComplete, Op::Header<0x104>, kAbsent, kUntouched, 0, "Capability Pointer 0x104 \n"},
    {kComplete, Op::Header<0x100>, kOk, kUntouched, 0, "Capability Pointer 0x100 \nCapability TYPE = 0x01 \nNext "
     "capability Offset : 0x00\n"},
    /* Reads that transfer less than asked, or see a byte changed since the header was read. */
    {kComplete, GetPCIECapability, kFailed, kUntouched, 0, "**ERROR***:"
     "[HelpGetPCICapability] file[X] line[X] reading config space at offset[72] length[1] failed\n", 0x48, 2, 1},
    {kComplete, GetPCIECapability, kFailed, kUntouched, 0, "[HelpGetPCICapability] "
     "file[X] line[X] Reading PCI config space for CapType[16] at offset[160] length[10] failed\n", 0xA0, 3, 10},
    {kComplete, GetPCIECapability, kInvalid, kUntouched, 0, "****ERROR***"
     "[HelpGetPCICapability] file[X] line[X] capability id in whole cap not                                equal "
     "to cap id in header. Repeat configuration read error. offset[160] length[36]\n", 0xA0, 3, 0x111},
    {kComplete, GetAdvErrRepCapability, kAbsent, kUntouched, 0,
     "[HelpGetPCIECapability] file[X] line[X] ReadConfigSpace from offset[256] length[8] failed\n", 0x100, 5, 8},
    {kComplete, GetAdvErrRepCapability, kInvalid, kUntouched, 0, "", 0x100, 5, 0x102},
    {kComplete, GetPowerBudgetingCapability, kAbsent, kUntouched, 0, "", 0x150, 1, 3},
    {kComplete, Step<Op::Legacy<QORB_PCI_CAP_POWER_MANAGEMENT, 0>>, kInvalid, kNull, 0, "", 0x48, 1, 1},
    {kComplete, Step<Op::Legacy<QORB_PCI_CAP_MSI, 0>>, kFailed, kNull, 0, "", 0x62, 1, 0}, /* the vendor length byte */
    {kComplete, Step<GetPCIECapability>, kInvalid, kNull, 0, "", 0x100, 1, 2},
    {kComplete, Step<Op::Extended<QORB_PCIE_CAP_ADV_ERR_REPORTING, 0>>, kInvalid, kNull, 0, "", 0x150, 1, 2},
};
// clang-format on
static_assert(std::size(kAssert) == qorb_aer::kAssertionCount);

/* Bus 0 above; on bus 2, device i has the bit of assertion i set. */
std::vector<DumpFunction> Functions() {
    std::vector<DumpFunction> functions;
    for (uint8_t dev = 1; dev < kDevices; ++dev) functions.push_back({0, dev, 0, Space(dev)});
    for (uint8_t i = 0; i < std::size(kAssert); ++i) {
        const auto& bit = qorb_aer::kAssertions[i];
        functions.push_back({2, i, 0, Space(kEmptyNext).Set32(bit.correctable ? 0x110 : 0x104, bit.mask)});
    }
    return functions;
}

/* Every test runs on the fake driver, which forwards to the simulator until a test arms a fault. */
class Caps : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(QORB_SUCCESS, platform.OpenStatus()); }
    FakeDriver fake;
    SimPlatform platform{Functions(), "", fake.path};
};

} // namespace

TEST_F(Caps, WalkAndLookups) {
    for (const auto& row : kWalks) {
        FoundDevice device(0, row.dev, 0);
        std::vector<Cap> steps;
        void *cap = reinterpret_cast<void*>(0x1), *next = nullptr;
        _QORB_STATUS_t end = GetFirstCapability(*device, &cap);
        for (; end == QORB_SUCCESS && steps.size() < (row.end ? 100 : row.steps.size()); cap = next) {
            steps.push_back(Info(cap));
            end = GetNextCapability(*device, &next, cap);
            QORB_FreeCapabilityHandle(cap);
        }
        EXPECT_EQ(end == QORB_SUCCESS, cap != nullptr) << "a failed step stores null";
        QORB_FreeCapabilityHandle(cap);
        EXPECT_EQ(std::tuple(row.end, row.steps), std::tuple(end, steps)) << "device " << int{row.dev};
    }
    for (const auto& row : kLookups) {
        SCOPED_TRACE("device " + std::to_string(row.dev) + ", row " + std::to_string(&row - kLookups));
        fake.Reset();
        FoundDevice device(0, row.dev, 0);
        if (row.min)
            row.max > 0xFF ? fake.Patch(row.at, row.max - 0x100, row.min)
                           : fake.Limit(row.at, row.at + 1, row.min, row.max);
        std::vector<uint8_t> record(64 + 1, 0xA5);
        void *const untouched = reinterpret_cast<void*>(0x1), *handle = untouched;
        CaptureFd out(1);
        EXPECT_EQ(row.status, row.lookup(*device, Record{record.data()}, &handle));
        static const std::regex where(R"((line\[)\d+|(file\[)[^\]]*qorb_config_cap_access\.cpp)");
        EXPECT_EQ(row.text, std::regex_replace(out.Text(), where, "$1$2X")) << "file and line not compared";
        EXPECT_EQ(row.handle, handle == untouched ? kUntouched : handle ? Info(handle) : kNull);
        for (uint32_t b = 0; b < row.copied; ++b)
            EXPECT_EQ(Space(row.dev).Get8(std::get<0>(row.handle) + b), record[b]) << "byte " << b;
        EXPECT_EQ(0xA5, record[row.copied]) << "copied no more";
        QORB_FreeCapabilityHandle(handle); /* ignored when untouched: not a live handle */
    }
    FoundDevice express(0, kComplete, 0), conventional(0, kConventional, 0);
    void *cap = nullptr, *next = reinterpret_cast<void*>(0x1);
    ASSERT_EQ(kOk, GetFirstCapability(*express, &cap));
    EXPECT_EQ(kOk, GetFirstCapability(*express, nullptr)) << "the extended list is there";
    for (_QORB_STATUS_t status :
        {GetFirstCapability(*conventional, nullptr) /* a legacy list alone */, GetFirstCapability(nullptr, &next),
            GetNextCapability(*express, &next, nullptr), GetNextCapability(*express, nullptr, cap),
            GetNextCapability(nullptr, &next, cap), Get32BitMSICapability(*express, nullptr, nullptr) /* the count */,
            HelpGetPCICapability(nullptr, QORB_PCI_CAP_MSI, 0, 0, nullptr, nullptr),
            HelpGetPCIECapability(nullptr, QORB_PCIE_CAP_ADV_ERR_REPORTING, 0, 0, nullptr, nullptr),
            GetCapabilityHeader(nullptr, &Op::header, 0), GetCapabilityHeader(*express, nullptr, 0)})
        EXPECT_EQ(kInvalid, status);
    EXPECT_EQ(reinterpret_cast<void*>(0x1), next) << "null arguments touch nothing";
    QORB_FreeCapabilityHandle(cap);
}

TEST_F(Caps, AerAssertionsAndRegistersThroughHandles) {
    /* expected, clear: status, verdict. Expected 2 is never the bit; failing checks write nothing, step 4 clears. */
    const std::tuple<int32_t, int32_t, _QORB_STATUS_t, std::string, std::string> steps[]
        = {{1, 0, QORB_SUCCESS, "SET", "SET"}, {0, 1, QORB_STATUS_FAILED, "CLEAR", "SET"},
            {2, 1, QORB_STATUS_FAILED, "SET", "CLEAR"}, {1, 1, QORB_SUCCESS, "SET", "SET"},
            {0, 0, QORB_SUCCESS, "CLEAR", "CLEAR"}, {1, 0, QORB_STATUS_FAILED, "SET", "CLEAR"}};
    FoundDevice without(0, kAllOnes, 0), twice(0, kDoubled, 0), complete(0, kComplete, 0);
    void* log = nullptr;
    ASSERT_EQ(QORB_SUCCESS, CreateLog(nullptr, &log, QORB_LOG_TYPE_RAW_TEXT, "aer.log", QORB_LOG_ACTION_CREATE));
    std::string verdicts;
    for (uint8_t i = 0; i < std::size(kAssert); ++i) {
        const auto& bit = qorb_aer::kAssertions[i];
        FoundDevice device(2, i, 0);
        for (const auto& [expected, clear, status, wanted, actual] : steps) {
            EXPECT_EQ(status, kAssert[i](*device, log, expected, clear)) << bit.field << expected << clear;
            verdicts += std::string("::(Adv Error ") + (bit.correctable ? "Correctable" : "Uncorrectable")
                + (wanted != actual && i >= 11 ? " Status Register :  " : " Status Register : ") + bit.field
                + " Status bit ) (Expected : " + wanted + ") Actual value (" + actual + ")::";
        }
        CaptureFd out(1);
        EXPECT_EQ(QORB_PCIE_CAP_OUT_OF_RANGE, kAssert[i](*without, log, 1, 1)) << bit.field;
        EXPECT_EQ(QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP, kAssert[i](*twice, log, 1, 1)) << bit.field;
        verdicts += "::Advanced Error Caps not implemented::::Advanced Error Caps not implemented::";
    }
    EXPECT_EQ(QORB_SUCCESS, QORB_ADVERR_Util_AssertBadTLPStatus(*complete, log, 1, 1));
    EXPECT_EQ(std::pair(0x00001000u, 0u), std::pair(Read32(*complete, 0x104), Read32(*complete, 0x110)));
    EXPECT_EQ(QORB_SUCCESS, QORB_ADVERR_Util_AssertTrainingErrorStatus(*complete, log, 0, 1));
    EXPECT_EQ(0u, Read32(*complete, 0x104)) << "the clearing write clears every bit set, also after expected CLEAR";
    CloseLog(log);
    EXPECT_EQ(verdicts, ReadFile("aer.log").substr(0, verdicts.size()));
    QORB_ADVERR_INFO_t info;
    memset(&info, 0xAB, sizeof info);
    EXPECT_EQ(QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP, QORB_ADVERR_Util_GetAdvErrorRepCap(*twice, &info));
    EXPECT_EQ(std::tuple(*twice, nullptr, 0u), std::tuple(info.device, info.capHandle, info.aer.header));
    ASSERT_EQ(QORB_SUCCESS, QORB_ADVERR_Util_GetAdvErrorRepCap(*complete, &info));
    EXPECT_EQ(std::pair(*complete, 0x100u), std::pair(info.device, std::get<0>(Info(info.capHandle))));
    uint32_t value = 0x00000001, length = 4, offset = 0;
    EXPECT_EQ(QORB_SUCCESS, WriteCapability(info.capHandle, reinterpret_cast<uint8_t*>(&value), 0x8, &length));
    EXPECT_EQ(QORB_SUCCESS, ReadCapability(info.capHandle, reinterpret_cast<uint8_t*>(&value), 0x54, &length));
    EXPECT_EQ(QORB_SUCCESS, GetCapOffset(info.capHandle, &offset));
    EXPECT_EQ(std::tuple(1u, 0x89ABCDEFu, 0x100u), std::tuple(Read32(*complete, 0x108), value, offset));
    for (_QORB_STATUS_t status : {QORB_QueryCapInfo(info.capHandle, nullptr), QORB_QueryCapInfo(nullptr, nullptr),
             GetCapOffset(info.capHandle, nullptr), GetCapOffset(nullptr, &offset),
             ReadCapability(nullptr, reinterpret_cast<uint8_t*>(&value), 0, &length),
             WriteCapability(nullptr, reinterpret_cast<uint8_t*>(&value), 0, &length),
             QORB_ADVERR_Util_GetAdvErrorRepCap(*complete, nullptr)})
        EXPECT_EQ(QORB_INVALID_PARAMETER, status);
    for (void* handle : {info.capHandle, info.capHandle, static_cast<void*>(&value), static_cast<void*>(nullptr)})
        EXPECT_EQ(QORB_SUCCESS, QORB_FreeCapabilityHandle(handle)) << "released already, or never made: ignored";
}
