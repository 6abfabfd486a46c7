/* The fault matrix: every exported operation that reaches the configuration
 * driver or the test card library, run against every fault the fault driver
 * (tests/drivers/faultdrv.cpp) can put on each entry the operation reaches.
 *
 * A cell is (operation, entry, mode, calls passed before the fault). Each
 * cell runs on a fresh instance over the simulator's built-in platform: the
 * DUT 09:00.0 (PCI Express, MSI, MSI-X, AER with Bad TLP and Data Link
 * Protocol status set) below the ZEB pair 07:00.0/08:00.0, and the partner
 * device below root port 00:02.0. Every buffer the operation writes into is
 * a guarded allocation whose canary bytes are checked afterwards; the
 * records and handles it hands out are released.
 *
 * The expected result of a cell comes from the operation's row: the status
 * documented for a missing entry, for a failing one, for a short or
 * over-claimed count, and for a driver that lies (fills part of what it
 * claims, or garbage). Where a lie cannot be detected the cell asks for one
 * of the operation's documented statuses; a fault that never fired (the
 * operation made fewer calls than the fault let pass) asks for the normal
 * result. */
#include <dlfcn.h>
#include <string.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/faultdrv.h"
#include "qorb_internal.h"
#include "qorb_test_support.h"

namespace {

using S = uint32_t;
constexpr S OK = QORB_SUCCESS, RF = QORB_PCIE_CONFIG_READ_FAILED, WF = QORB_PCIE_CONFIG_WRITE_FAILED,
            OOR = QORB_PCIE_CAP_OUT_OF_RANGE, IP = QORB_INVALID_PARAMETER, MI = QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP,
            UP = QORB_UNSUPPORTED_PARAMETER, NF = QORB_DEVICE_NOT_FOUND, FDF = QORB_FIND_DEVICE_FAILED,
            SF = QORB_STATUS_FAILED, DNE = QORB_PCIE_CAP_DOES_NOT_EXIST, IR = QORB_INSUFFICIENT_RESOURCES,
            DIF = QORB_DRIVER_INIT_FAILED;
constexpr S kAny = 0xFFFFFFF0u;     /* one of the operation's documented results */
constexpr S kDriver = 0xFFFFFFF1u;  /* what the faulted entry answered, unchanged */
constexpr S kNone = 0xFFFFFFF2u;    /* the operation cannot meet this class of fault */

constexpr uint32_t Z(uint32_t slot) { return FD_ZEB + slot; }

/* The fault modes each entry can be given. */
std::vector<uint32_t> ModesOf(uint32_t entry)
{
    const std::vector<uint32_t> all = {FD_MISSING, FD_FAIL, FD_SHORT, FD_OVER, FD_OVER_PARTIAL,
                                       FD_GARBAGE_FF, FD_GARBAGE_RANDOM, FD_GARBAGE_LOOP, FD_GARBAGE_EDGE};
    const std::vector<uint32_t> flag = {FD_MISSING, FD_FAIL, FD_GARBAGE_FF, FD_GARBAGE_RANDOM};
    if (entry == FD_READ || entry == Z(5))
        return all;
    if (entry == FD_WRITE || entry == FD_READ_EX)
        return {all.begin(), all.begin() + 7};
    return flag;
}

const char* ModeName(uint32_t mode)
{
    static const char* names[] = {"normal", "missing", "fail", "short", "over", "over-partial",
                                  "garbage-ff", "garbage-random", "garbage-loop", "garbage-edge"};
    return names[mode];
}

/* A caller's buffer with canary bytes after it. */
class Guarded {
public:
    explicit Guarded(size_t size) : m_size(size), m_bytes(size + kCanary, kCanaryByte)
    {
        memset(m_bytes.data(), 0, size);
    }
    uint8_t* Data() { return m_bytes.data(); }
    template <typename T> T* As() { return reinterpret_cast<T*>(m_bytes.data()); }
    bool Intact() const
    {
        for (size_t i = m_size; i < m_bytes.size(); ++i)
            if (m_bytes[i] != kCanaryByte)
                return false;
        return true;
    }

private:
    static constexpr size_t kCanary = 32;
    static constexpr uint8_t kCanaryByte = 0xA5;
    size_t m_size;
    std::vector<uint8_t> m_bytes;
};

/* One cell's world: the platform, the records the operations act on, the
 * buffers they write into. */
struct Bench {
    void* instance = nullptr;
    void* dut = nullptr;       /* 09:00.0, opened: parent link 08:00.0 */
    void* card = nullptr;      /* ZEB upstream function 07:00.0 */
    void* vokPort = nullptr;   /* root port 00:02.0 */
    void* pcieCap = nullptr;   /* the DUT's PCI Express capability (legacy) */
    void* aerCap = nullptr;    /* the DUT's AER capability (extended) */
    void* log = nullptr;       /* text log for the error assertions */
    uint8_t intLine[4] = {};   /* DUT bytes 0x3C-0x3F as found */
    std::deque<Guarded> buffers;

    template <typename T = uint8_t> T* Buffer(size_t size = sizeof(T))
    {
        return buffers.emplace_back(size).template As<T>();
    }
    bool Intact() const
    {
        for (const Guarded& g : buffers)
            if (!g.Intact())
                return false;
        return true;
    }
};

/* A status from a record-handing operation, with the record it stored at
 * *out released (read after the operation has run). A failure hands out
 * no record. */
S Release(S status, void** out)
{
    EXPECT_TRUE(status == OK || !*out) << "a failed search handed out a record";
    CloseDevice(*out);
    return status;
}

S ReadCfg(Bench& b, uint32_t length)
{
    uint32_t* n = b.Buffer<uint32_t>();
    *n = length;
    S status = ReadConfigSpace(b.dut, b.Buffer(length), 0, n);
    EXPECT_EQ(status == OK, *n == length) << "the count handed back is the driver's, and tells the status";
    return status;
}

S WriteCfg(Bench& b, uint32_t length)
{
    uint8_t* bytes = b.Buffer(length);
    memcpy(bytes, b.intLine, length);
    uint32_t* n = b.Buffer<uint32_t>();
    *n = length;
    S status = WriteConfigSpace(b.dut, bytes, PCI_INTERRUPT_LINE, n);
    EXPECT_EQ(status == OK, *n == length);
    return status;
}

template <typename Record, typename Lookup>
S Lookup_(Bench& b, Lookup lookup)
{
    void** handle = b.Buffer<void*>();
    S status = lookup(b.dut, b.Buffer<Record>(), handle);
    QORB_FreeCapabilityHandle(*handle);
    return status;
}

S NextCap(Bench& b, void* current)
{
    void** handle = b.Buffer<void*>();
    S status = GetNextCapability(b.dut, handle, current);
    EXPECT_TRUE(status == OK || !*handle) << "a failed step left a handle";
    QORB_FreeCapabilityHandle(*handle);
    return status;
}

/* A whole walk: its last status. Around a cycle the walk goes on for as
 * long as it is called; the walk stops itself after more steps than both
 * lists can hold headers, and answers the success of the last step. */
S Walk(Bench& b)
{
    void* cap = nullptr;
    S status = GetFirstCapability(b.dut, &cap);
    int steps = 0;
    for (; status == OK && steps < 48 + 960 + 2; ++steps) {
        void* next = nullptr;
        status = GetNextCapability(b.dut, &next, cap);
        QORB_FreeCapabilityHandle(cap);
        cap = next;
    }
    QORB_FreeCapabilityHandle(cap);
    return status;
}

using Assertion = _QORB_STATUS_t (*)(void*, void*, int32_t, int32_t);

/* The assertion expects the bit the platform set (Bad TLP, Data Link
 * Protocol) set and every other clear, and clears what it checked. */
S Assert(Bench& b, Assertion assertion, int32_t expected)
{
    return assertion(b.dut, b.log, expected, 1);
}

/* The card's trace copy, taken anew. */
void TakeTrace(Bench& b)
{
    (void)ZEBGetTraceBuffer(b.card);
}

struct Reach {
    uint32_t entry;
    S missing, fail, count, lying;   /* by class of fault; count: short and over-claims */
};

struct Op {
    const char* name;
    S (*run)(Bench&);
    S normal;
    std::vector<S> documented;
    std::vector<Reach> reaches;
};

/* What the ordinary configuration operations do with a read or write fault. */
Reach ReadAs(S failed, S lying = kAny) { return {FD_READ, failed, failed, failed, lying}; }
Reach WriteAs(S failed, S lying = OK) { return {FD_WRITE, failed, failed, failed, lying}; }
/* A card slot whose status comes back unchanged. */
Reach CardStatus(uint32_t slot) { return {Z(slot), IP, kDriver, kNone, kDriver}; }
Reach CardOutput(uint32_t slot) { return {Z(slot), IP, kDriver, kNone, OK}; }
/* The trace copy feeding a search. */
const std::vector<Reach> kTraceReaches = {{Z(3), OK, OK, kNone, OK}, {Z(5), OK, OK, OK, OK}};

const std::vector<S> kLookupStatuses = {OK, RF, OOR, IP, MI, UP, IR};
const std::vector<S> kLinkStatuses = {OK, SF, RF, OOR, MI, IP, WF, IR};
const std::vector<S> kAerStatuses = {OK, SF, OOR, MI, IP};

#define OP(name, body) name, [](Bench & b) -> S body

const std::vector<Op>& Ops()
{
    static const std::vector<Op> ops = {
        /* ------------------------------------------------ instance and driver */
        {OP("OpenQORBEx", { return OpenQORBEx(&b.instance, 0, QORB_TEST_DRIVER_DIR "/faultdrv.so", 0xE0000000ull, 0); }),
         OK, {OK, DIF, SF, IR},
         {{FD_OPEN, DIF, DIF, kNone, OK}, {FD_MAP, DIF, DIF, kNone, OK}, {FD_QUERY, OK, OK, kNone, OK}}},
        {OP("CloseQORB", {
             S status = CloseQORB(b.instance);
             b.instance = nullptr;
             return status;
         }),
         OK, {OK}, {{FD_CLOSE, OK, OK, kNone, OK}}},
        {OP("QueryAcpiMcfgTableInfo", {
             return static_cast<S>(QueryAcpiMcfgTableInfo(b.Buffer<uint64_t>(), b.Buffer(), b.Buffer(), b.Buffer<uint64_t>()));
         }),
         1, {}, {{FD_QUERY, 0, kDriver, kNone, kDriver}}},
        {OP("QORB_ReadConfigSpace_Ex", { return QORB_ReadConfigSpace_Ex(0, 9, 0, 0, 0, b.Buffer(4)); }),
         4, {}, {{FD_READ_EX, 0, kDriver, kDriver, kDriver}, {FD_READ, 0, kNone, kNone, kNone}}},
        {OP("QORBGetIntf slot 12 ReadConfigSpace", {
             _QORB_INTF_t table{};
             EXPECT_EQ(QORBGetIntf(&table), OK);
             uint32_t* n = b.Buffer<uint32_t>();
             *n = 4;
             auto read = reinterpret_cast<decltype(&ReadConfigSpace)>(table.slot[12]);
             return read(b.dut, b.Buffer(4), 0, n);
         }),
         OK, {}, {ReadAs(RF, OK)}},
        {OP("QORBGetIntf slot 15 FindDeviceByLocation", {
             _QORB_INTF_t table{};
             EXPECT_EQ(QORBGetIntf(&table), OK);
             void** out = b.Buffer<void*>();
             auto find = reinterpret_cast<decltype(&FindDeviceByLocation)>(table.slot[15]);
             return Release(find(9, 0, 0, out), out);
         }),
         OK, {OK, NF, IR}, {ReadAs(NF)}},

        /* ------------------------------------------------------- device search */
        {OP("FindDevice by location", {
             void** out = b.Buffer<void*>();
             return Release(FindDevice(uint8_t{9}, uint8_t{0}, uint8_t{0}, out), out);
         }),
         OK, {OK, NF, IR}, {ReadAs(NF)}},
        {OP("FindDevice by IDs", {
             void** out = b.Buffer<void*>();
             return Release(FindDevice(uint16_t{0x1050}, uint16_t{0x5153}, out), out);
         }),
         OK, {OK, NF, IR}, {ReadAs(NF)}},
        {OP("FindDevice by IDs and location", {
             void** out = b.Buffer<void*>();
             return Release(FindDevice(uint16_t{0x1050}, uint16_t{0x5153}, uint8_t{9}, uint8_t{0}, uint8_t{0}, out),
                            out);
         }),
         OK, {OK, NF, IR}, {ReadAs(NF)}},
        {OP("FindDevice with an instance", {
             void** out = b.Buffer<void*>();
             auto* info = b.Buffer<_QORB_DEVICE_FIND_INFO_t>();
             info->busNumber = 9;
             return Release(FindDevice(b.instance, out, QORB_FIND_LOCATION, info), out);
         }),
         OK, {OK, FDF}, {ReadAs(FDF)}},
        {OP("FindDeviceByClassCode", {
             void** out = b.Buffer<void*>();
             return Release(FindDeviceByClassCode(0x00, 0x80, 0x11, out), out);
         }),
         OK, {OK, NF, IR}, {ReadAs(NF)}},
        {OP("FindFirstEndpoint", {
             void** out = b.Buffer<void*>();
             return Release(FindFirstEndpoint(b.instance, out), out);
         }),
         OK, {OK, NF, IR}, {ReadAs(NF)}},
        {OP("FindNextDownSwitch", {
             void** out = b.Buffer<void*>();
             return Release(FindNextDownSwitch(b.vokPort, out), out);
         }),
         OK, {OK, NF, IR}, {ReadAs(NF)}},
        {OP("QORB_GetUpStreamPort", {
             void* port = QORB_GetUpStreamPort(b.dut);
             return Release(port ? OK : NF, &port);
         }),
         OK, {OK, NF}, {ReadAs(NF)}},
        {OP("OpenDevice then GetParentDevice", {
             S status = OpenDevice(b.dut, _QORB_ACCESS_MODE_t{});
             return status != OK ? status : GetParentDevice(b.dut, b.Buffer<void*>());
         }),
         OK, {OK, IP}, {ReadAs(IP)}},
        {OP("GetDeviceType", { return GetDeviceType(b.dut, b.Buffer<_QORB_DEV_PORT_TYPE_t>()); }),
         OK, {OK, OOR}, {ReadAs(OOR)}},
        {OP("QORB_GetDownstreamVOK", {
             void** out = b.Buffer<void*>();
             return Release(QORB_GetDownstreamVOK(b.vokPort, 0, 0, out), out);
         }),
         OK, {OK, IP, IR}, {ReadAs(IP), {FD_VOK, IP, IP, kNone, OK}}},

        /* ------------------------------------------ configuration space access */
        {OP("ReadConfigSpace 1 byte", { return ReadCfg(b, 1); }), OK, {}, {ReadAs(RF, OK)}},
        {OP("ReadConfigSpace 2 bytes", { return ReadCfg(b, 2); }), OK, {}, {ReadAs(RF, OK)}},
        {OP("ReadConfigSpace 4 bytes", { return ReadCfg(b, 4); }), OK, {}, {ReadAs(RF, OK)}},
        {OP("ReadConfigSpace 64 bytes", { return ReadCfg(b, 64); }), OK, {}, {ReadAs(RF, OK)}},
        {OP("ReadConfigSpace 4096 bytes", { return ReadCfg(b, 4096); }), OK, {}, {ReadAs(RF, OK)}},
        {OP("WriteConfigSpace 1 byte", { return WriteCfg(b, 1); }), OK, {}, {WriteAs(WF)}},
        {OP("WriteConfigSpace 2 bytes", { return WriteCfg(b, 2); }), OK, {}, {WriteAs(WF)}},
        {OP("WriteConfigSpace 4 bytes", { return WriteCfg(b, 4); }), OK, {}, {WriteAs(WF)}},

        /* --------------------------------------------------------- capabilities */
        {OP("GetCapabilityHeader at the Capabilities Pointer", {
             return GetCapabilityHeader(b.dut, b.Buffer<_PCI_CAPABILITY_HEADER_t>(), 0);
         }),
         OK, {OK, OOR, RF}, {ReadAs(OOR)}},
        {OP("GetCapabilityHeader at 0x70", {
             return GetCapabilityHeader(b.dut, b.Buffer<_PCI_CAPABILITY_HEADER_t>(), 0x70);
         }),
         OK, {OK, OOR, RF}, {ReadAs(RF, OK)}},
        {OP("ReadCapability", {
             uint32_t* n = b.Buffer<uint32_t>();
             *n = 4;
             return ReadCapability(b.pcieCap, b.Buffer(4), PCI_EXP_LNKCTL, n);
         }),
         OK, {}, {ReadAs(RF, OK)}},
        {OP("WriteCapability", {
             uint8_t* control = b.Buffer(2);
             uint32_t* n = b.Buffer<uint32_t>();
             *n = 2;
             EXPECT_EQ(ReadCapability(b.pcieCap, control, PCI_EXP_DEVCTL, n), OK);
             return WriteCapability(b.pcieCap, control, PCI_EXP_DEVCTL, n);
         }),
         OK, {}, {WriteAs(WF)}},
        {OP("GetPCIECapability", { return Lookup_<_PCIE_CAPABILITY_STRUCT_t>(b, GetPCIECapability); }),
         OK, kLookupStatuses, {ReadAs(RF)}},
        {OP("GetPowerManagementCapability", {
             return Lookup_<_PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT>(b, GetPowerManagementCapability);
         }),
         OK, kLookupStatuses, {ReadAs(RF)}},
        {OP("GetMSIXCapability", { return Lookup_<_PCI_MSI_X_CAPABILITY_STRUCT_t>(b, GetMSIXCapability); }),
         OK, kLookupStatuses, {ReadAs(RF)}},
        {OP("Get32BitMSICapability", { return Lookup_<PCI_MSI_CAPABILITY_32_STRUCT_t>(b, Get32BitMSICapability); }),
         OOR, kLookupStatuses, {ReadAs(RF)}},
        {OP("Get64BitMSICapability", { return Lookup_<PCI_MSI_CAPABILITY_64_STRUCT_t>(b, Get64BitMSICapability); }),
         OK, kLookupStatuses, {ReadAs(RF)}},
        {OP("HelpGetPCICapability from 0x50", {
             void** handle = b.Buffer<void*>();
             S status = HelpGetPCICapability(b.dut, QORB_PCI_CAP_MSI, 0x50, 0, b.Buffer(64), handle);
             QORB_FreeCapabilityHandle(*handle);
             return status;
         }),
         OK, kLookupStatuses, {ReadAs(RF)}},
        {OP("GetAdvErrRepCapability", { return Lookup_<_PCIE_ADV_ERR_REP_CAP_STRUCT_t>(b, GetAdvErrRepCapability); }),
         OK, kLookupStatuses, {ReadAs(OOR)}},
        {OP("GetDeviceVirtualChannelCapability", {
             return Lookup_<_PCIE_VIRTUAL_CHANNEL_CAPABILITY_STRUCT_t>(b, GetDeviceVirtualChannelCapability);
         }),
         OK, kLookupStatuses, {ReadAs(OOR)}},
        {OP("GetDeviceSerialNumberCapability", {
             return Lookup_<_PCIE_DEV_SERIAL_NUM_CAPABILITY_STRUCT>(b, GetDeviceSerialNumberCapability);
         }),
         OK, kLookupStatuses, {ReadAs(OOR)}},
        {OP("GetPowerBudgetingCapability", {
             return Lookup_<_PCIE_POWER_BUDGET_CAPABILITY_STRUCT_t>(b, GetPowerBudgetingCapability);
         }),
         OK, kLookupStatuses, {ReadAs(OOR)}},
        {OP("GetFirstCapability", {
             void** handle = b.Buffer<void*>();
             S status = GetFirstCapability(b.dut, handle);
             EXPECT_TRUE(status == OK || !*handle) << "a failed step left a handle";
             QORB_FreeCapabilityHandle(*handle);
             return status;
         }),
         OK, {OK, IP, IR}, {ReadAs(IP)}},
        {OP("GetNextCapability after a legacy one", { return NextCap(b, b.pcieCap); }),
         OK, {OK, IP, DNE, UP, IR}, {ReadAs(IP)}},
        {OP("GetNextCapability after an extended one", { return NextCap(b, b.aerCap); }),
         OK, {OK, IP, DNE, UP, IR}, {ReadAs(IP)}},
        {OP("capability walk", { return Walk(b); }), DNE, {DNE, IP, UP, IR, OK}, {ReadAs(IP)}},

        /* -------------------------------------------------------- link control */
        {OP("QORB_RetrainDUTLink", { return QORB_RetrainDUTLink(b.dut); }), OK, kLinkStatuses,
         {ReadAs(RF), WriteAs(WF)}},
        {OP("QORB_DisableLink", { return QORB_DisableLink(b.dut); }), OK, kLinkStatuses, {ReadAs(RF), WriteAs(WF)}},
        {OP("QORB_EnableLink", { return QORB_EnableLink(b.dut); }), OK, kLinkStatuses, {ReadAs(RF), WriteAs(WF)}},
        {OP("QORB_WaitForDeviceToRetrain", { return QORB_WaitForDeviceToRetrain(b.dut, 0); }), OK, kLinkStatuses,
         {ReadAs(RF)}},

        /* ------------------------------------------ error status assertions */
        {OP("QORB_ADVERR_Util_GetAdvErrorRepCap", {
             auto* info = b.Buffer<QORB_ADVERR_INFO_t>();
             S status = QORB_ADVERR_Util_GetAdvErrorRepCap(b.dut, info);
             EXPECT_EQ(info->device, b.dut);
             QORB_FreeCapabilityHandle(info->capHandle);
             return status;
         }),
         OK, kAerStatuses, {ReadAs(OOR)}},
#define AER_OP(name, expected) \
    {OP(#name, { return Assert(b, name, expected); }), OK, kAerStatuses, {ReadAs(OOR), WriteAs(OK)}}
        AER_OP(QORB_ADVERR_Util_AssertTrainingErrorStatus, 0),
        AER_OP(QORB_ADVERR_Util_AssertDLProtocolErrorStatus, 1),
        AER_OP(QORB_ADVERR_Util_AssertFlowControlProtocolErrorStatus, 0),
        AER_OP(QORB_ADVERR_Util_AssertCompletionTimeoutStatus, 0),
        AER_OP(QORB_ADVERR_Util_AssertCompleterAbortStatus, 0),
        AER_OP(QORB_ADVERR_Util_AssertUnexpectedCompletionStatus, 0),
        AER_OP(QORB_ADVERR_Util_AssertReceiverOverflowStatus, 0),
        AER_OP(QORB_ADVERR_Util_AssertUnsupportedRequestErrorStatus, 0),
        AER_OP(QORB_ADVERR_Util_AssertReceiverErrorStatus, 0),
        AER_OP(QORB_ADVERR_Util_AssertBadTLPStatus, 1),
        AER_OP(QORB_ADVERR_Util_AssertBadDLLPStatus, 0),
        AER_OP(QORB_ADVERR_Util_AssertReplayNumberRolloverStatus, 0),
        AER_OP(QORB_ADVERR_Util_AssertReplayTimerTimeoutStatus, 0),
#undef AER_OP

        /* --------------------------------------------------------- test card */
        {OP("ArmZEB", { return ArmZEB(b.card, 0); }), OK, {}, {CardStatus(10)}},
        {OP("DisarmZEB", { return DisarmZEB(b.card); }), OK, {}, {CardStatus(8)}},
        {OP("ChangeZEBMode", { return ChangeZEBMode(b.card, QORB_ZEB_MODE_MONITOR); }), OK, {}, {CardStatus(12)}},
        {OP("QueryZEBMode", { return QueryZEBMode(b.card, b.Buffer<_QORB_ZEB_OP_MODE_t>()); }), OK, {},
         {CardOutput(13)}},
        {OP("ProgramZEBCmd", { return ProgramZEBCmd(b.card, b.Buffer<_qorb_cmd_map_t>()); }), OK, {},
         {CardStatus(11)}},
        {OP("QORB_ZEB_GetActionCount", { return QORB_ZEB_GetActionCount(b.card, b.Buffer<uint32_t>()); }), OK, {},
         {CardOutput(9)}},
        {OP("ZEBSuspendLogging", { return ZEBSuspendLogging(b.card); }), OK, {}, {CardStatus(14)}},
        {OP("ZEBResumeLogging", { return ZEBResumeLogging(b.card); }), OK, {}, {CardStatus(15)}},
        {OP("QORB_GetZEBProperties", { return QORB_GetZEBProperties(b.card, b.Buffer<_qorb_zeb_query_prop_t>()); }),
         OK, {}, {CardOutput(6)}},
        {OP("QORB_GetUpstreamZEB", {
             void** cards = b.Buffer<void*>(2 * sizeof(void*));
             S status = QORB_GetUpstreamZEB(b.dut, &cards[0], &cards[1]);
             if (status != OK) {
                 EXPECT_TRUE(!cards[0] && !cards[1]) << "a failed search hands out no card";
             }
             CloseDevice(cards[1]);
             return Release(status, &cards[0]);
         }),
         OK, {}, {CardOutput(16), {Z(0), OK, OK, kNone, OK}}},
        {OP("FindDevice of the card", {
             void** out = b.Buffer<void*>();
             return Release(FindDevice(uint8_t{7}, uint8_t{0}, uint8_t{0}, out), out);
         }),
         OK, {}, {{Z(0), OK, OK, kNone, OK}}},
        {OP("QORB_ZEBWritePatternToTB", { return QORB_ZEBWritePatternToTB(b.card, 0x5A5A5A5A); }), OK, {},
         {CardStatus(4)}},
        {OP("SetConfigMaskTraceBuf", { return SetConfigMaskTraceBuf(b.card, 0x1C); }), OK, {},
         {{Z(1), IP, kDriver, kNone, OK}, CardStatus(2)}},
        {OP("ZEBGetTraceBuffer", { return ZEBGetTraceBuffer(b.card); }), OK, {},
         {{Z(3), IP, IP, kNone, OK}, {Z(5), IP, kDriver, OK, OK}}},

        /* ------------------------------------------- searches of the trace copy */
        {OP("GetBytesInZEBTB", {
             TakeTrace(b);
             return GetBytesInZEBTB(b.card, b.Buffer<uint32_t>());
         }),
         OK, {}, kTraceReaches},
        {OP("GetTBContents", {
             TakeTrace(b);
             uint32_t* n = b.Buffer<uint32_t>();
             EXPECT_EQ(GetBytesInZEBTB(b.card, n), OK);
             uint32_t size = *n;
             S status = GetTBContents(b.card, b.Buffer(size), n);
             EXPECT_LE(*n, size);
             return status;
         }),
         OK, {}, kTraceReaches},
        {OP("FindTLPByTLPType", {
             TakeTrace(b);
             uint8_t* pattern = b.Buffer(4);
             uint32_t* n = b.Buffer<uint32_t>();
             EXPECT_EQ(GetNumTLPMatches(b.card, pattern, 0, n), OK);
             uint32_t count = *n;
             S status = FindTLPByTLPType(b.card, pattern, 0, b.Buffer<uint32_t>(4 * count + 4), n);
             EXPECT_EQ(*n, count);
             return status;
         }),
         OK, {}, kTraceReaches},
        {OP("FindDLLPTypeDLLPType", {
             TakeTrace(b);
             uint8_t* pattern = b.Buffer(6);
             pattern[0] = 0x80;
             uint32_t* n = b.Buffer<uint32_t>();
             *n = 3;
             S status = FindDLLPTypeDLLPType(b.card, pattern, 0, b.Buffer(3 * 6), n);
             EXPECT_LE(*n, 3u);
             return status;
         }),
         OK, {}, kTraceReaches},
        {OP("GetNumDLLPMatches", {
             TakeTrace(b);
             uint8_t* pattern = b.Buffer(6);
             return GetNumDLLPMatches(b.card, pattern, 0, b.Buffer<uint32_t>());
         }),
         OK, {}, kTraceReaches},
        {OP("GetNumTLPMatches", {
             TakeTrace(b);
             uint8_t* pattern = b.Buffer(4);
             pattern[0] = 0x4A;   /* CplD */
             return GetNumTLPMatches(b.card, pattern, QORB_TLP_MATCH_FMT | QORB_TLP_MATCH_TYPE, b.Buffer<uint32_t>());
         }),
         OK, {}, kTraceReaches},
        {OP("LogTBContents", {
             TakeTrace(b);
             void* xml = nullptr;
             EXPECT_EQ(CreateLog(nullptr, &xml, QORB_LOG_TYPE_XML, "tb.xml", QORB_LOG_ACTION_CREATE), OK);
             S status = LogTBContents(xml, b.card, b.Buffer<uint32_t>());
             CloseLog(xml);
             return status;
         }),
         OK, {}, {{Z(9), OK, OK, kNone, OK}, kTraceReaches[0], kTraceReaches[1]}},
        {OP("QORB_ZEB_TB_GetTLPByIndex", {
             TakeTrace(b);
             S last = OK;
             for (uint32_t index = 0; index < 4 && last == OK; ++index)
                 last = QORB_ZEB_TB_GetTLPByIndex(b.card, b.Buffer(16), 0, index);
             return last == IP ? OK : last;   /* the walk ends somewhere */
         }),
         OK, {}, kTraceReaches},
    };
    return ops;
}

#undef OP

void PrintTo(const Op& op, std::ostream* os)
{
    *os << op.name;
}

/* One cell of the matrix. */
struct Cell {
    uint32_t entry, mode, after;
    S expected;
};

/* The fault classes of a mode. */
S ExpectedFor(const Reach& r, uint32_t mode)
{
    switch (mode) {
    case FD_MISSING: return r.missing;
    case FD_FAIL: return r.fail;
    case FD_SHORT:
    case FD_OVER: return r.count;
    default: return r.lying;
    }
}

/* Configuration reads and writes also get faults after the first and the
 * third call, where a lookup has read a header and fails on the structure
 * or on a later header. */
std::vector<Cell> CellsOf(const Op& op)
{
    std::vector<Cell> cells;
    for (const Reach& r : op.reaches)
        for (uint32_t mode : ModesOf(r.entry)) {
            S expected = ExpectedFor(r, mode);
            if (expected == kNone)
                continue;
            cells.push_back({r.entry, mode, 0, expected});
            if ((r.entry == FD_READ || r.entry == FD_WRITE) && mode != FD_MISSING)
                for (uint32_t after : {1u, 3u})
                    cells.push_back({r.entry, mode, after, kAny});
        }
    return cells;
}

class FaultMatrix : public ::testing::TestWithParam<Op> {
protected:
    void SetUp() override
    {
        m_driver = dlopen(kFaultDriver, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_driver, nullptr) << dlerror();
        m_reset = reinterpret_cast<FAULTDRV_RESET>(dlsym(m_driver, "FaultDrv_Reset"));
        m_set = reinterpret_cast<FAULTDRV_SET>(dlsym(m_driver, "FaultDrv_Set"));
        m_hits = reinterpret_cast<FAULTDRV_COUNT>(dlsym(m_driver, "FaultDrv_Hits"));
        m_answer = reinterpret_cast<FAULTDRV_LAST_ANSWER>(dlsym(m_driver, "FaultDrv_LastAnswer"));
        ASSERT_TRUE(m_reset && m_set && m_hits && m_answer);
    }
    void TearDown() override
    {
        if (m_driver)
            dlclose(m_driver);
    }

    /* The platform and the records, before any fault. */
    void Prepare(Bench& b)
    {
        m_reset();
        ASSERT_EQ(OpenQORBEx(&b.instance, 0, kFaultDriver, 0xE0000000ull, 0), OK);
        ASSERT_EQ(FindDevice(uint8_t{9}, uint8_t{0}, uint8_t{0}, &b.dut), OK);
        ASSERT_EQ(OpenDevice(b.dut, _QORB_ACCESS_MODE_t{}), OK);
        ASSERT_EQ(FindDevice(uint8_t{7}, uint8_t{0}, uint8_t{0}, &b.card), OK);
        ASSERT_EQ(FindDevice(uint8_t{0}, uint8_t{2}, uint8_t{0}, &b.vokPort), OK);
        _PCIE_CAPABILITY_STRUCT_t pcie{};
        ASSERT_EQ(GetPCIECapability(b.dut, &pcie, &b.pcieCap), OK);
        _PCIE_ADV_ERR_REP_CAP_STRUCT_t aer{};
        ASSERT_EQ(GetAdvErrRepCapability(b.dut, &aer, &b.aerCap), OK);
        uint32_t n = sizeof b.intLine;
        ASSERT_EQ(ReadConfigSpace(b.dut, b.intLine, PCI_INTERRUPT_LINE, &n), OK);
        ASSERT_EQ(CreateLog(nullptr, &b.log, QORB_LOG_TYPE_RAW_TEXT, "faults.log", QORB_LOG_ACTION_CREATE), OK);
        /* Traffic through the card while it records, so its trace has entries. */
        ASSERT_EQ(ArmZEB(b.card, 0), OK);
        for (uint32_t offset = 0; offset < 64; offset += 16) {
            uint8_t bytes[16];
            n = sizeof bytes;
            ReadConfigSpace(b.dut, bytes, offset, &n);
        }
    }

    void Release(Bench& b)
    {
        QORB_FreeCapabilityHandle(b.pcieCap);
        QORB_FreeCapabilityHandle(b.aerCap);
        CloseLog(b.log);
        for (void* record : {b.dut, b.card, b.vokPort})
            CloseDevice(record);
        CloseQORB(b.instance);
    }

    /* Runs one cell; answers the status the operation returned. */
    void RunCell(const Op& op, const Cell& cell)
    {
        qorbtest::ScratchDir scratch;
        qorbtest::WriteFile(scratch.File("qorbsim.ini"),
                            "[function 09:00.0]\naer_correctable = 0x40\naer_uncorrectable = 0x10\n");
        Bench b;
        Prepare(b);
        if (HasFatalFailure())
            return Release(b);
        const bool configEntry = cell.entry < FD_ZEB;
        const bool isOpen = std::string(op.name) == "OpenQORBEx";
        if (isOpen || (configEntry && cell.mode == FD_MISSING)) {
            /* The configuration table is bound at open. */
            CloseQORB(b.instance);
            b.instance = nullptr;
            m_set(cell.entry, cell.mode, cell.after);
            if (!isOpen) {
                ASSERT_EQ(OpenQORBEx(&b.instance, 0, kFaultDriver, 0xE0000000ull, 0), OK);
            }
        } else {
            m_set(cell.entry, cell.mode, cell.after);
        }
        S status = op.run(b);
        EXPECT_TRUE(b.Intact()) << "written past the end of a caller's buffer";
        S expected = cell.expected;
        if (cell.mode != FD_MISSING && cell.mode != FD_NORMAL && m_hits(cell.entry) == 0) {
            EXPECT_NE(cell.after, 0u) << "the operation never reached the entry its row names";
            expected = op.normal;   /* the fault never fired */
        }
        if (expected == kDriver) {
            EXPECT_EQ(status, m_answer(cell.entry)) << "the driver's answer is not handed back unchanged";
        } else if (expected == kAny) {
            const auto& doc = op.documented;
            EXPECT_TRUE(doc.empty() || std::find(doc.begin(), doc.end(), status) != doc.end())
                << "undocumented status 0x" << std::hex << status;
        } else {
            EXPECT_EQ(status, expected) << std::hex << "status 0x" << status << ", expected 0x" << expected;
        }
        Release(b);
    }

    static constexpr const char* kFaultDriver = QORB_TEST_DRIVER_DIR "/faultdrv.so";
    void* m_driver = nullptr;
    FAULTDRV_RESET m_reset = nullptr;
    FAULTDRV_SET m_set = nullptr;
    FAULTDRV_COUNT m_hits = nullptr;
    FAULTDRV_LAST_ANSWER m_answer = nullptr;
};

TEST_P(FaultMatrix, EveryFaultGivesTheDocumentedStatus)
{
    const Op& op = GetParam();
    {
        SCOPED_TRACE("no fault");
        RunCell(op, Cell{FD_OPEN, FD_NORMAL, 0, op.normal});
    }
    for (const Cell& cell : CellsOf(op)) {
        SCOPED_TRACE(testing::Message() << "entry " << cell.entry << " " << ModeName(cell.mode) << " after "
                                        << cell.after);
        RunCell(op, cell);
    }
}

std::string OpName(const testing::TestParamInfo<Op>& info)
{
    std::string name;
    for (const char* p = info.param.name; *p; ++p)
        name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultMatrix, ::testing::ValuesIn(Ops()), OpName);

/* The size of the matrix, for the record (docs/robustness.md). */
TEST(FaultMatrixSize, CountsTheCells)
{
    size_t cells = 0, card = 0, later = 0;
    for (const Op& op : Ops()) {
        cells += CellsOf(op).size() + 1;
        for (const Cell& cell : CellsOf(op)) {
            card += cell.entry >= FD_ZEB;
            later += cell.after > 0;
        }
    }
    RecordProperty("cells", static_cast<int>(cells));
    std::printf("fault matrix: %zu operations, %zu cells (%zu without a fault, %zu on card entries, "
                "%zu with the fault after the first or third call)\n",
                Ops().size(), cells, Ops().size(), card, later);
    EXPECT_GT(cells, Ops().size());
}

} // namespace
