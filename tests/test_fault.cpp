/* Every exported operation that reaches the configuration driver or the test card, against every fault the
 * fake driver can put on each entry it reaches; and the qorb tool on a misbehaving driver.
 *
 * A cell (operation, entry, mode, calls passed before the fault) runs on a fresh instance over the built-in
 * platform: the DUT 09:00.0 (AER with Bad TLP and Data Link Protocol status set) below the card 07:00.0,
 * and the partner's root port 00:02.0. Every buffer the operation writes is followed by canary bytes that
 * must stay intact, and every record it hands out is released. An operation's row gives its status for a
 * missing entry, a failing one, a short or over-claimed count, and a driver that lies; where a lie cannot
 * be told, any documented status; where the fault never fired (later cells), the status without one. */
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "fake_driver.h"
#include "qorb_internal.h"

namespace {

using S = uint32_t;
constexpr S OK = QORB_SUCCESS, RF = QORB_PCIE_CONFIG_READ_FAILED, WF = QORB_PCIE_CONFIG_WRITE_FAILED,
            OOR = QORB_PCIE_CAP_OUT_OF_RANGE, IP = QORB_INVALID_PARAMETER, MI = QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP,
            UP = QORB_UNSUPPORTED_PARAMETER, NF = QORB_DEVICE_NOT_FOUND, SF = QORB_STATUS_FAILED,
            DNE = QORB_PCIE_CAP_DOES_NOT_EXIST, IR = QORB_INSUFFICIENT_RESOURCES, DIF = QORB_DRIVER_INIT_FAILED;
constexpr S kAny = ~0u - 1, kDriver = ~0u - 2, kNone = ~0u - 3; /* documented / the driver's answer / n.a. */
constexpr uint32_t Z(uint32_t slot) { return FK_ZEB + slot; }

/* One cell's world: the platform, the records the operations act on, the guarded buffers they write. */
struct Bench {
    void *instance = nullptr, *dut = nullptr, *parent = nullptr, *card = nullptr, *vokPort = nullptr, *log = nullptr;
    void *pcieCap = nullptr, *aerCap = nullptr;
    uint8_t intLine[4] = {};
    std::deque<std::vector<uint8_t>> buffers; /* each: the bytes, then 32 canary bytes */
    template <typename T = uint8_t> T* Buffer(size_t size = sizeof(T)) {
        auto& bytes = buffers.emplace_back(size + 32, 0xA5);
        return std::fill_n(bytes.begin(), size, 0), reinterpret_cast<T*>(bytes.data());
    }
    bool Intact() const {
        auto intact = [](auto& b) { return std::all_of(b.end() - 32, b.end(), [](uint8_t c) { return c == 0xA5; }); };
        return std::all_of(buffers.begin(), buffers.end(), intact);
    }
    /* A status and the record the operation stored at *out, released; a failure hands out none. */
    S Release(S status, void** out) {
        EXPECT_TRUE(status == OK || !*out) << "a failure handed out a record";
        return CloseDevice(*out), status;
    }
    /* A lookup may hand out a handle with a failure; a step through the list may not. */
    template <typename Record, typename Lookup> S Cap(Lookup lookup, size_t size = sizeof(Record), bool step = false) {
        void** handle = Buffer<void*>();
        S status = lookup(dut, Buffer<Record>(size), handle);
        EXPECT_TRUE(!step || status == OK || !*handle) << "a failed step left a capability handle";
        return QORB_FreeCapabilityHandle(*handle), status;
    }
    S Config(bool write, uint32_t offset, uint32_t length, void* cap = nullptr) {
        uint8_t* bytes = Buffer(length);
        uint32_t* n = Buffer<uint32_t>();
        *n = length, memcpy(bytes, intLine, std::min(length, 4u));
        S status = cap ? (write ? WriteCapability : ReadCapability)(cap, bytes, offset, n)
                       : (write ? WriteConfigSpace : ReadConfigSpace)(dut, bytes, offset, n);
        EXPECT_EQ(status == OK, *n == length) << "the count handed back tells the status";
        return status;
    }
    S Trace() { return ZEBGetTraceBuffer(card); }
};

struct Reach {
    uint32_t entry;
    S missing, fail, count, lying;
};
struct Op {
    std::string name;
    std::function<S(Bench&)> run;
    S normal;
    std::vector<S> documented;
    std::vector<Reach> reaches;
};

Op O(std::string name, std::function<S(Bench&)> run, S normal, std::vector<S> documented, std::vector<Reach> reaches) {
    return {name, run, normal, documented, reaches};
}
/* A step through the capability list: the first one, or the one after c. */
auto Step(void* c) {
    return [c](void* d, uint8_t*, void** h) { return c ? GetNextCapability(d, h, c) : GetFirstCapability(d, h); };
}
Reach ReadAs(S failed, S lying = kAny) { return {FK_READ, failed, failed, failed, lying}; }
Reach WriteAs(S failed, S lying = OK) { return {FK_WRITE, failed, failed, failed, lying}; }
Reach Card(uint32_t slot, bool output = false) { return {Z(slot), IP, kDriver, kNone, output ? OK : kDriver}; }
const std::vector<Reach> kTrace = {{Z(3), OK, OK, kNone, OK}, {Z(5), OK, OK, OK, OK}};
const std::vector<S> kLookup = {OK, RF, OOR, IP, MI, UP, IR}, kLink = {OK, SF, RF, OOR, MI, IP, WF, IR},
                     kFind = {OK, NF, IR}, kStep = {OK, IP, DNE, UP, IR}, kAer = {OK, SF, OOR, MI, IP};
#define RUN(...) [](Bench& b) -> S { __VA_ARGS__ }
#define FIND(name, ...)                                                                                                \
    O(name, RUN(void** out = b.Buffer<void*>(); return b.Release(__VA_ARGS__, out);), OK, kFind, {ReadAs(NF)})
#define LOOKUP(fn, record, onRead) O(#fn, RUN(return b.Cap<record>(fn);), OK, kLookup, {ReadAs(onRead)})
#define CARD(name, reach, ...) O(name, RUN(return __VA_ARGS__;), OK, {}, {reach})
#define TRACE(name, ...) O(name, RUN(b.Trace(); __VA_ARGS__), OK, {}, kTrace)
#define STEP(name, ...)                                                                                                \
    O(name, RUN(void* c = __VA_ARGS__; return b.Cap<uint8_t>(Step(c), 0, true);), OK, kStep, {ReadAs(IP)})
std::vector<Op> Ops() {
    std::vector<Op> ops = {
        O("OpenQORBEx", RUN(return OpenQORBEx(&b.instance, 0, QORB_FAKEDRV_PATH, 0xE0000000ull, 0);), OK,
            {OK, DIF, SF, IR},
            {{FK_OPEN, DIF, DIF, kNone, OK}, {FK_MAP, DIF, DIF, kNone, OK}, {FK_QUERY, OK, OK, kNone, OK}}),
        O("CloseQORB", RUN(return CloseQORB(std::exchange(b.instance, nullptr));), OK, {OK},
            {{FK_CLOSE, OK, OK, kNone, OK}}),
        O("QueryAcpiMcfgTableInfo",
            RUN(return S(QueryAcpiMcfgTableInfo(b.Buffer<uint64_t>(), b.Buffer(), b.Buffer(), b.Buffer<uint64_t>()));),
            1, {}, {{FK_QUERY, 0, kDriver, kNone, kDriver}}),
        O("QORB_ReadConfigSpace_Ex", RUN(return QORB_ReadConfigSpace_Ex(0, 9, 0, 0, 0, b.Buffer(4));), 4, {},
            {{FK_READ_EX, 0, kDriver, kDriver, kDriver}, {FK_READ, 0, kNone, kNone, kNone}}),
        FIND("FindDevice by location", FindDevice(uint8_t{9}, uint8_t{0}, uint8_t{0}, out)),
        FIND("FindDeviceByClassCode", FindDeviceByClassCode(0x00, 0x80, 0x11, out)),
        FIND("FindFirstEndpoint", FindFirstEndpoint(b.instance, out)),
        FIND("FindNextDownSwitch", FindNextDownSwitch(b.vokPort, out)),
        O("FindDevice with an instance",
            RUN(void** out = b.Buffer<void*>(); auto* info = b.Buffer<_QORB_DEVICE_FIND_INFO_t>(); info->busNumber = 9;
                return b.Release(FindDevice(b.instance, out, QORB_FIND_LOCATION, info), out);),
            OK, {OK, QORB_FIND_DEVICE_FAILED}, {ReadAs(QORB_FIND_DEVICE_FAILED)}),
        O("QORB_GetUpStreamPort",
            RUN(void* port = QORB_GetUpStreamPort(b.dut); return b.Release(port ? OK : NF, &port);), OK, {OK, NF},
            {ReadAs(NF)}),
        O("OpenDevice, GetParentDevice",
            RUN(S s = OpenDevice(b.dut, {}); return s ? s : GetParentDevice(b.dut, b.Buffer<void*>());), OK, {OK, IP},
            {ReadAs(IP)}),
        O("GetDeviceType", RUN(return GetDeviceType(b.dut, b.Buffer<_QORB_DEV_PORT_TYPE_t>());), OK, {OK, OOR},
            {ReadAs(OOR)}),
        O("QORB_GetDownstreamVOK",
            RUN(void** out = b.Buffer<void*>(); return b.Release(QORB_GetDownstreamVOK(b.vokPort, 0, 0, out), out);),
            OK, {OK, IP, IR}, {ReadAs(IP), {FK_VOK, IP, IP, kNone, OK}}),
        O("GetCapabilityHeader", RUN(return GetCapabilityHeader(b.dut, b.Buffer<_PCI_CAPABILITY_HEADER_t>(), 0);), OK,
            {OK, OOR, RF}, {ReadAs(OOR)}),
        O("GetCapabilityHeader at 0x70",
            RUN(return GetCapabilityHeader(b.dut, b.Buffer<_PCI_CAPABILITY_HEADER_t>(), 0x70);), OK, {OK, OOR, RF},
            {ReadAs(RF, OK)}),
        O("ReadCapability", RUN(return b.Config(false, PCI_EXP_LNKCTL, 4, b.pcieCap);), OK, {}, {ReadAs(RF, OK)}),
        O("WriteCapability", RUN(return b.Config(true, PCI_EXP_DEVCTL, 2, b.pcieCap);), OK, {}, {WriteAs(WF)}),
        LOOKUP(GetPCIECapability, _PCIE_CAPABILITY_STRUCT_t, RF),
        LOOKUP(GetPowerManagementCapability, _PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT, RF),
        LOOKUP(GetMSIXCapability, _PCI_MSI_X_CAPABILITY_STRUCT_t, RF),
        LOOKUP(Get64BitMSICapability, PCI_MSI_CAPABILITY_64_STRUCT_t, RF),
        LOOKUP(GetAdvErrRepCapability, _PCIE_ADV_ERR_REP_CAP_STRUCT_t, OOR),
        LOOKUP(GetDeviceVirtualChannelCapability, _PCIE_VIRTUAL_CHANNEL_CAPABILITY_STRUCT_t, OOR),
        LOOKUP(GetDeviceSerialNumberCapability, _PCIE_DEV_SERIAL_NUM_CAPABILITY_STRUCT, OOR),
        LOOKUP(GetPowerBudgetingCapability, _PCIE_POWER_BUDGET_CAPABILITY_STRUCT_t, OOR),
        O("Get32BitMSICapability", RUN(return b.Cap<PCI_MSI_CAPABILITY_32_STRUCT_t>(Get32BitMSICapability);), OOR,
            kLookup, {ReadAs(RF)}),
        O("HelpGetPCICapability from 0x50",
            RUN(return b.Cap<uint8_t>(
                [](void* d, uint8_t* r, void** h) { return HelpGetPCICapability(d, QORB_PCI_CAP_MSI, 0x50, 0, r, h); },
                64);),
            OK, kLookup, {ReadAs(RF)}),
        STEP("GetFirstCapability", nullptr),
        STEP("GetNextCapability after a legacy one", b.pcieCap),
        STEP("GetNextCapability after an extended one", b.aerCap),
        /* Around a cycle the walk stops itself after more steps than both lists hold headers. */
        O("capability walk",
            RUN(
                void* cap = nullptr; S s = GetFirstCapability(b.dut, &cap);
                for (int steps = 0; s == OK && steps < 48 + 960 + 2; ++steps) {
                    void* next = nullptr;
                    s = GetNextCapability(b.dut, &next, cap), QORB_FreeCapabilityHandle(std::exchange(cap, next));
                } return QORB_FreeCapabilityHandle(cap),
                s;),
            DNE, {DNE, IP, UP, IR, OK}, {ReadAs(IP)}),
        O("QORB_RetrainDUTLink", RUN(return QORB_RetrainDUTLink(b.dut);), OK, kLink, {ReadAs(RF), WriteAs(WF)}),
        O("QORB_DisableLink", RUN(return QORB_DisableLink(b.dut);), OK, kLink, {ReadAs(RF), WriteAs(WF)}),
        O("QORB_EnableLink", RUN(return QORB_EnableLink(b.dut);), OK, kLink, {ReadAs(RF), WriteAs(WF)}),
        O("QORB_WaitForDeviceToRetrain", RUN(return QORB_WaitForDeviceToRetrain(b.dut, 0);), OK, kLink, {ReadAs(RF)}),
        O("QORB_ADVERR_Util_GetAdvErrorRepCap",
            RUN(auto* info = b.Buffer<QORB_ADVERR_INFO_t>(); S s = QORB_ADVERR_Util_GetAdvErrorRepCap(b.dut, info);
                EXPECT_EQ(info->device, b.dut); return QORB_FreeCapabilityHandle(info->capHandle), s;),
            OK, kAer, {ReadAs(OOR)}),
        CARD("ArmZEB", Card(10), ArmZEB(b.card, 0)),
        CARD("DisarmZEB", Card(8), DisarmZEB(b.card)),
        CARD("ChangeZEBMode", Card(12), ChangeZEBMode(b.card, QORB_ZEB_MODE_MONITOR)),
        CARD("QueryZEBMode", Card(13, true), QueryZEBMode(b.card, b.Buffer<_QORB_ZEB_OP_MODE_t>())),
        CARD("ProgramZEBCmd", Card(11), ProgramZEBCmd(b.card, b.Buffer<_qorb_cmd_map_t>())),
        CARD("QORB_ZEB_GetActionCount", Card(9, true), QORB_ZEB_GetActionCount(b.card, b.Buffer<uint32_t>())),
        CARD("ZEBSuspendLogging", Card(14), ZEBSuspendLogging(b.card)),
        CARD("ZEBResumeLogging", Card(15), ZEBResumeLogging(b.card)),
        CARD("QORB_GetZEBProperties", Card(6, true), QORB_GetZEBProperties(b.card, b.Buffer<_qorb_zeb_query_prop_t>())),
        CARD("QORB_ZEBWritePatternToTB", Card(4), QORB_ZEBWritePatternToTB(b.card, 0x5A5A5A5A)),
        O("FindDevice of the card",
            RUN(void** out = b.Buffer<void*>();
                return b.Release(FindDevice(uint8_t{7}, uint8_t{0}, uint8_t{0}, out), out);),
            OK, {}, {{Z(0), OK, OK, kNone, OK}}),
        O("QORB_GetUpstreamZEB",
            RUN(void** cards = b.Buffer<void*>(2 * sizeof(void*));
                S s = QORB_GetUpstreamZEB(b.dut, &cards[0], &cards[1]);
                EXPECT_TRUE(s == OK || (!cards[0] && !cards[1])); CloseDevice(cards[1]);
                return b.Release(s, &cards[0]);),
            OK, {}, {Card(16, true), {Z(0), OK, OK, kNone, OK}}),
        O("SetConfigMaskTraceBuf", RUN(return SetConfigMaskTraceBuf(b.card, 0x1C);), OK, {},
            {{Z(1), IP, kDriver, kNone, OK}, Card(2)}),
        O("ZEBGetTraceBuffer", RUN(return b.Trace();), OK, {},
            {{Z(3), IP, IP, kNone, OK}, {Z(5), IP, kDriver, OK, OK}}),
        TRACE("GetBytesInZEBTB", return GetBytesInZEBTB(b.card, b.Buffer<uint32_t>());),
        TRACE("GetTBContents", uint32_t* n = b.Buffer<uint32_t>(); EXPECT_EQ(GetBytesInZEBTB(b.card, n), OK);
              uint32_t size = *n; S s = GetTBContents(b.card, b.Buffer(size), n); EXPECT_LE(*n, size); return s;),
        TRACE("FindTLPByTLPType", uint8_t* pattern = b.Buffer(4); uint32_t* n = b.Buffer<uint32_t>();
              EXPECT_EQ(GetNumTLPMatches(b.card, pattern, 0, n), OK); uint32_t count = *n;
              S s = FindTLPByTLPType(b.card, pattern, 0, b.Buffer<uint32_t>(4 * count + 4), n); EXPECT_EQ(*n, count);
              return s;),
        TRACE("FindDLLPTypeDLLPType", uint8_t* pattern = b.Buffer(6); pattern[0] = 0x80;
              uint32_t* n = b.Buffer<uint32_t>(); *n = 3;
              S s = FindDLLPTypeDLLPType(b.card, pattern, 0, b.Buffer(3 * 6), n); EXPECT_LE(*n, 3u); return s;),
        TRACE("GetNumDLLPMatches", return GetNumDLLPMatches(b.card, b.Buffer(6), 0, b.Buffer<uint32_t>());),
        TRACE(
            "GetNumTLPMatches", uint8_t* pattern = b.Buffer(4); pattern[0] = 0x4A; /* CplD */
            return GetNumTLPMatches(b.card, pattern, QORB_TLP_MATCH_FMT | QORB_TLP_MATCH_TYPE, b.Buffer<uint32_t>());),
        TRACE("QORB_ZEB_TB_GetTLPByIndex", S last = OK; for (uint32_t i = 0; i < 4 && last == OK; ++i) last
              = QORB_ZEB_TB_GetTLPByIndex(b.card, b.Buffer(16), 0, i);
              return last == IP ? OK : last;),
        O("LogTBContents",
            RUN(b.Trace(); void* xml = nullptr;
                EXPECT_EQ(CreateLog(nullptr, &xml, QORB_LOG_TYPE_XML, "tb.xml", QORB_LOG_ACTION_CREATE), OK);
                S s = LogTBContents(xml, b.card, b.Buffer<uint32_t>()); return CloseLog(xml), s;),
            OK, {}, {{Z(9), OK, OK, kNone, OK}, kTrace[0], kTrace[1]})
    };
    for (uint32_t length : {1u, 2u, 4u, 64u, 4096u})
        ops.push_back(O("ReadConfigSpace " + std::to_string(length),
            [=](Bench& b) { return b.Config(false, 0, length); }, OK, {}, {ReadAs(RF, OK)}));
    for (uint32_t length : {1u, 2u, 4u})
        ops.push_back(O("WriteConfigSpace " + std::to_string(length),
            [=](Bench& b) { return b.Config(true, PCI_INTERRUPT_LINE, length); }, OK, {}, {WriteAs(WF)}));
    /* The assertions expect what the platform set (Bad TLP, Data Link Protocol) set, every other bit clear. */
    using Assertion = _QORB_STATUS_t (*)(void*, void*, int32_t, int32_t);
    const std::pair<Assertion, int32_t> assertions[] = {{QORB_ADVERR_Util_AssertTrainingErrorStatus, 0},
        {QORB_ADVERR_Util_AssertDLProtocolErrorStatus, 1}, {QORB_ADVERR_Util_AssertFlowControlProtocolErrorStatus, 0},
        {QORB_ADVERR_Util_AssertCompletionTimeoutStatus, 0}, {QORB_ADVERR_Util_AssertCompleterAbortStatus, 0},
        {QORB_ADVERR_Util_AssertUnexpectedCompletionStatus, 0}, {QORB_ADVERR_Util_AssertReceiverOverflowStatus, 0},
        {QORB_ADVERR_Util_AssertUnsupportedRequestErrorStatus, 0}, {QORB_ADVERR_Util_AssertReceiverErrorStatus, 0},
        {QORB_ADVERR_Util_AssertBadTLPStatus, 1}, {QORB_ADVERR_Util_AssertBadDLLPStatus, 0},
        {QORB_ADVERR_Util_AssertReplayNumberRolloverStatus, 0}, {QORB_ADVERR_Util_AssertReplayTimerTimeoutStatus, 0}};
    for (auto [assertion, set] : assertions)
        ops.push_back(O("AER assertion " + std::to_string(ops.size()),
            [=](Bench& b) { return S(assertion(b.dut, b.log, set, 1)); }, OK, kAer, {ReadAs(OOR), WriteAs(OK)}));
    return ops;
}

struct Cell {
    uint32_t entry, mode, after;
    S expected;
};

/* Reads and writes also fail after the first and the third call: on a structure after its header, or on
 * a later header. */
std::vector<Cell> CellsOf(const Op& op) {
    std::vector<Cell> cells = {{FK_OPEN, FK_FORWARD, 0, op.normal}};
    for (const Reach& r : op.reaches)
        for (uint32_t mode = FK_MISSING; mode < FK_MODES; ++mode) {
            bool transfer = r.entry == FK_READ || r.entry == FK_WRITE || r.entry == FK_READ_EX || r.entry == Z(5);
            bool bends = r.entry == FK_READ || r.entry == Z(5);
            if (mode == FK_ANSWER || (!transfer && mode >= FK_SHORT && mode <= FK_OVER_PARTIAL)
                || (!bends && mode >= FK_GARBAGE_LOOP))
                continue;
            S expected = mode == FK_MISSING ? r.missing
                : mode == FK_FAIL           ? r.fail
                : mode <= FK_OVER           ? r.count
                                            : r.lying;
            if (expected == kNone) continue;
            cells.push_back({r.entry, mode, 0, expected});
            for (uint32_t after : {1u, 3u})
                if ((r.entry == FK_READ || r.entry == FK_WRITE) && mode != FK_MISSING)
                    cells.push_back({r.entry, mode, after, kAny});
        }
    return cells;
}

class FaultMatrix : public ::testing::TestWithParam<Op> {
protected:
    void Prepare(Bench& b) {
        ASSERT_EQ(OpenQORBEx(&b.instance, 0, QORB_FAKEDRV_PATH, 0xE0000000ull, 0), OK);
        for (auto [record, bus, dev] : {std::tuple{&b.dut, 9, 0}, {&b.card, 7, 0}, {&b.vokPort, 0, 2}})
            ASSERT_EQ(FindDevice(uint8_t(bus), uint8_t(dev), uint8_t{0}, record), OK);
        ASSERT_EQ(OpenDevice(b.dut, {}) | GetParentDevice(b.dut, &b.parent), OK);
        _PCIE_CAPABILITY_STRUCT_t pcie{};
        _PCIE_ADV_ERR_REP_CAP_STRUCT_t aer{};
        ASSERT_EQ(GetPCIECapability(b.dut, &pcie, &b.pcieCap) | GetAdvErrRepCapability(b.dut, &aer, &b.aerCap), OK);
        uint32_t n = 4;
        ASSERT_EQ(ReadConfigSpace(b.dut, b.intLine, PCI_INTERRUPT_LINE, &n), OK);
        ASSERT_EQ(CreateLog(nullptr, &b.log, QORB_LOG_TYPE_RAW_TEXT, "faults.log", QORB_LOG_ACTION_CREATE), OK);
        ASSERT_EQ(ArmZEB(b.card, 0), OK); /* traffic through the card while it records: its trace has entries */
        for (uint32_t offset = 0; offset < 64; offset += 16) n = 16, ReadConfigSpace(b.dut, b.Buffer(16), offset, &n);
    }
    void Release(Bench& b) { /* the parent records: the one opened here and any an operation linked since */
        void* linked = nullptr;
        GetParentDevice(b.dut, &linked), CloseDevice(linked), CloseDevice(b.parent);
        QORB_FreeCapabilityHandle(b.pcieCap), QORB_FreeCapabilityHandle(b.aerCap), CloseLog(b.log);
        CloseDevice(b.dut), CloseDevice(b.card), CloseDevice(b.vokPort), CloseQORB(b.instance);
    }
    void RunCell(const Op& op, const Cell& cell) {
        qorbtest::ScratchDir scratch;
        qorbtest::WriteFile(
            scratch.File("qorbsim.ini"), "[function 09:00.0]\naer_correctable = 0x40\naer_uncorrectable = 0x10\n");
        Bench b;
        fake.Reset();
        Prepare(b);
        bool open = op.name == "OpenQORBEx", rebind = open || (cell.entry < FK_ZEB && cell.mode == FK_MISSING);
        if (rebind) /* the configuration table is bound at open */
            CloseQORB(std::exchange(b.instance, nullptr));
        fake.Set(cell.entry, cell.mode, cell.after);
        S reopened = rebind && !open ? OpenQORBEx(&b.instance, 0, QORB_FAKEDRV_PATH, 0xE0000000ull, 0) : OK;
        EXPECT_EQ(reopened, OK);
        S status = HasFatalFailure() ? kNone : op.run(b);
        EXPECT_TRUE(b.Intact()) << "written past the end of a caller's buffer";
        S expected = cell.mode > FK_MISSING && fake.Hits(cell.entry) == 0 ? op.normal : cell.expected;
        EXPECT_TRUE(cell.mode <= FK_MISSING || fake.Hits(cell.entry) || cell.after)
            << "the row's entry is never reached";
        if (expected == kDriver)
            EXPECT_EQ(status, fake.LastAnswer(cell.entry)) << "the driver's answer is not handed back unchanged";
        else if (expected == kAny)
            EXPECT_TRUE(op.documented.empty() || std::count(op.documented.begin(), op.documented.end(), status))
                << "undocumented status 0x" << std::hex << status;
        else EXPECT_EQ(status, expected) << std::hex << "status 0x" << status << ", expected 0x" << expected;
        Release(b);
    }
    qorbtest::FakeDriver fake;
};

TEST_P(FaultMatrix, EveryFaultGivesTheDocumentedStatus) {
    for (const Cell& cell : CellsOf(GetParam())) {
        SCOPED_TRACE(testing::Message() << "entry " << cell.entry << " mode " << cell.mode << " after " << cell.after);
        RunCell(GetParam(), cell);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FaultMatrix, ::testing::ValuesIn(Ops()), [](const testing::TestParamInfo<Op>& info) {
        std::string name = info.param.name;
        std::replace_if(
            name.begin(), name.end(), [](char c) { return !isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });
/* The tool on the fake driver with one fault at a time (FAKEDRV): whatever the driver does, the tool ends
 * on its own with one of its exit statuses (0, 1 or 2) and no sanitizer report. */
class FaultTool : public ::testing::TestWithParam<const char*> { };

TEST_P(FaultTool, EndsWithAnExitStatusWhateverTheDriverDoes) {
#ifndef QORB_TOOL_PATH
    GTEST_SKIP() << "the qorb tool is not built";
#else
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> faults
        = {{FK_OPEN, FK_FAIL, 0}, {FK_MAP, FK_FAIL, 0}, {FK_READ, FK_FAIL, 200}, {FK_READ, FK_GARBAGE_RANDOM, 300}};
    for (uint32_t mode = FK_FAIL; mode < FK_MODES; mode += mode == FK_FAIL ? 2 : 1) /* FK_ANSWER aside */
        faults.insert(faults.end(), {{FK_READ, mode, 0}, {Z(5), mode, 0}, {FK_WRITE, mode, 0}});
    for (uint32_t slot : {0u, 3u, 6u, 16u})
        for (uint32_t mode : {FK_FAIL, FK_GARBAGE_FF, FK_GARBAGE_RANDOM}) faults.push_back({Z(slot), mode, 0});
    qorbtest::ScratchDir scratch;
    for (auto [entry, mode, after] : faults) {
        std::string setting = std::to_string(entry) + ":" + std::to_string(mode) + ":" + std::to_string(after);
        SCOPED_TRACE("FAKEDRV=" + setting);
        int status = -1;
        qorbtest::RunCommand("FAKEDRV=" + setting + " timeout 60 '" QORB_TOOL_PATH "' --driver '" QORB_FAKEDRV_PATH "' "
                + GetParam() + " >/dev/null 2>stderr.txt </dev/null",
            &status);
        std::string err = qorbtest::ReadFile(scratch.File("stderr.txt"));
        EXPECT_TRUE(status >= 0 && status <= 2) << "exit status " << status << "\n" << err;
        EXPECT_TRUE(err.find("Sanitizer") == std::string::npos && err.find("runtime error") == std::string::npos)
            << err;
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultTool,
    ::testing::Values("scan", "tree", "caps -s 09:00.0", "read -s 09:00.0 0x10.l CAP_EXP+12.w ECAP_AER+4.l",
        "write -s 09:00.0 0x3c.b=0x0b", "link -s 09:00.0 retrain", "aer -s 09:00.0 --clear", "zeb -s 07:00.0 info",
        "zeb -s 07:00.0 trace", "check --xml check.xml"),
    [](const testing::TestParamInfo<const char*>& info) {
        return std::string(info.param, strcspn(info.param, " ")) + std::to_string(info.index);
    });
} // namespace
