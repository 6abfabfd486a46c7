/* Every capability lookup and the capability walk over any configuration
 * space.
 *
 * A configuration driver table served in this process answers for one
 * function from a 4096-byte space built from the input: reads and writes
 * past the length the function answers are short, as on a dump of
 * lspci -x (64 bytes) or -xxx (256 bytes). The device record's shadow is
 * the space's first 256 bytes, as a search would have stored it.
 *
 * Input: a 9-byte head, then the configuration space (shorter input is
 * zero-filled to 4096 bytes).
 *   0     bits 1:0 bytes answered: 4096, 256, 64 or bytes 1-2 (up to 4096);
 *         bit 2: writes are refused; bit 3: the AER assertion expects a set bit
 *   1-2   bytes answered, for bits 1:0 = 3
 *   3     legacy capability ID looked up with HelpGetPCICapability
 *   4     its start offset
 *   5     bit 0: instance check of both lookups
 *   6-7   extended capability ID looked up with HelpGetPCIECapability
 *   8     offset given to GetCapabilityHeader */
#include <stdlib.h>
#include <string.h>

#include <array>

#include "fuzz_support.h"
#include "qorb_internal.h"

namespace {

using qorbfuzz::Require;

constexpr uint32_t kSpace = 4096;
/* A walk step keeps no count: around a ring of capabilities the walk goes
 * on while it is called, so a caller that walks an untrusted list bounds
 * its loop, as the qorb tool does, after more steps than both areas hold. */
constexpr uint32_t kMaxWalkSteps = 1024;

struct FakeFunction {
    std::array<uint8_t, kSpace> bytes{};
    uint32_t length = kSpace;
    bool writable = true;
} g_function;

uint32_t Served(uint32_t offset, uint32_t length)
{
    if (offset >= g_function.length)
        return 0;
    return length < g_function.length - offset ? length : g_function.length - offset;
}

uint32_t ReadConfig(uint32_t, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                    uint8_t* buffer)
{
    if (bus != 1 || dev != 0 || fn != 0)
        return 0;
    uint32_t n = Served(offset, length);
    if (n)
        memcpy(buffer, &g_function.bytes[offset], n);
    return n;
}

uint32_t WriteConfig(uint32_t, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                     uint8_t* buffer)
{
    if (bus != 1 || dev != 0 || fn != 0 || !g_function.writable)
        return 0;
    uint32_t n = Served(offset, length);
    if (n)
        memcpy(&g_function.bytes[offset], buffer, n);
    return n;
}

void* Setup()
{
    g_qorbDriver.table.ReadConfig = ReadConfig;
    g_qorbDriver.table.WriteConfig = WriteConfig;
    void* log = nullptr;
    if (CreateLog(nullptr, &log, QORB_LOG_TYPE_XML, "/dev/null", QORB_LOG_ACTION_APPEND) != QORB_SUCCESS || !log)
        abort();
    return log;
}

void* const g_log = Setup();

/* A handle a lookup hands out must describe a place in the space, and is
 * released here whatever the lookup answered. */
void Release(void* handle)
{
    if (!handle)
        return;
    uint32_t offset = 0xFFFFFFFF;
    Require(GetCapOffset(handle, &offset) == QORB_SUCCESS && offset < kSpace, "a handle lies in the space");
    QORB_FreeCapabilityHandle(handle);
}

template <typename Record, typename Lookup>
void Typed(void* device, Lookup lookup)
{
    Record record{};
    void* handle = nullptr;
    lookup(device, &record, &handle);
    Release(handle);
    lookup(device, &record, nullptr);
}

void Walk(void* device)
{
    void* cap = nullptr;
    _QORB_STATUS_t status = GetFirstCapability(device, &cap);
    uint32_t steps = 0;
    while (status == QORB_SUCCESS && cap && steps++ < kMaxWalkSteps) {
        _QORB_PCI_DEVICE_CAP_INFO_t info{};
        Require(QORB_QueryCapInfo(cap, &info) == QORB_SUCCESS && info.offset < kSpace, "a step lies in the space");
        uint8_t bytes[64];
        uint32_t length = info.length < sizeof bytes ? info.length : sizeof bytes;
        (void)ReadCapability(cap, bytes, 0, &length);
        void* next = nullptr;
        status = GetNextCapability(device, &next, cap);
        Require(status == QORB_SUCCESS || next == nullptr, "a failed step stores no handle");
        Release(cap);
        cap = next;
    }
    Require(status == QORB_SUCCESS || cap == nullptr, "a failed step leaves no handle");
    Release(cap);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qorbfuzz::InputReader in(data, size);
    uint8_t mode = in.U8();
    uint16_t answered = in.U16();
    uint8_t legacyType = in.U8();
    uint8_t legacyStart = in.U8();
    int instanceCheck = in.U8() & 1;
    uint16_t extendedType = in.U16();
    uint8_t headerOffset = in.U8();

    g_function = FakeFunction{};
    memcpy(g_function.bytes.data(), in.Rest(), in.RestSize() < kSpace ? in.RestSize() : kSpace);
    static constexpr uint32_t kLengths[] = {kSpace, 256, 64};
    g_function.length = (mode & 3) < 3 ? kLengths[mode & 3] : answered % (kSpace + 1);
    g_function.writable = (mode & 4) == 0;

    QORB_DEVICE_t* device = CreateDeviceRecord(g_function.bytes.data(), 1, 0, 0);
    Require(device != nullptr, "CreateDeviceRecord");

    _QORB_DEV_PORT_TYPE_t portType;
    (void)GetDeviceType(device, &portType);
    Typed<_PCIE_CAPABILITY_STRUCT_t>(device, GetPCIECapability);
    Typed<_PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT>(device, GetPowerManagementCapability);
    Typed<_PCI_MSI_X_CAPABILITY_STRUCT_t>(device, GetMSIXCapability);
    Typed<PCI_MSI_CAPABILITY_32_STRUCT_t>(device, Get32BitMSICapability);
    Typed<PCI_MSI_CAPABILITY_64_STRUCT_t>(device, Get64BitMSICapability);
    Typed<_PCIE_ADV_ERR_REP_CAP_STRUCT_t>(device, GetAdvErrRepCapability);
    Typed<_PCIE_VIRTUAL_CHANNEL_CAPABILITY_STRUCT_t>(device, GetDeviceVirtualChannelCapability);
    Typed<_PCIE_DEV_SERIAL_NUM_CAPABILITY_STRUCT>(device, GetDeviceSerialNumberCapability);
    Typed<_PCIE_POWER_BUDGET_CAPABILITY_STRUCT_t>(device, GetPowerBudgetingCapability);

    /* The generic lookups copy at most 64 bytes (the largest structure). */
    uint8_t record[64];
    void* handle = nullptr;
    (void)HelpGetPCICapability(device, static_cast<_QORB_PCI_CAPABILITY_TYPE_t>(legacyType), legacyStart,
                               instanceCheck, record, &handle);
    Release(handle);
    handle = nullptr;
    (void)HelpGetPCIECapability(device, static_cast<_QORB_PCIE_CAPABILITY_TYPE_t>(extendedType), 0, instanceCheck,
                                record, &handle);
    Release(handle);

    _PCI_CAPABILITY_HEADER_t header{};
    (void)GetCapabilityHeader(device, &header, headerOffset);

    QORB_ADVERR_INFO_t aer{};
    (void)QORB_ADVERR_Util_GetAdvErrorRepCap(device, &aer);
    Release(aer.capHandle);
    (void)QORB_ADVERR_Util_AssertBadTLPStatus(device, g_log, (mode & 8) ? 1 : 0, 1);
    (void)QORB_ADVERR_Util_AssertUnsupportedRequestErrorStatus(device, g_log, (mode & 8) ? 1 : 0, 1);

    Walk(device);
    CloseDevice(device);
    return 0;
}
