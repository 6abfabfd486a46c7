/* The capability walk over both lists, capability handles, the legacy
 * header reader and register access through handles. */
#include <gtest/gtest.h>
#include <string.h>

#include "topology_test_platforms.h"

using namespace topotest;
using qorbtest::CaptureFd;
using qorbtest::SimPlatform;

namespace {

struct Step {
    uint32_t offset, id, length, next;
    bool operator==(const Step&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Step& s)
{
    return os << "{0x" << std::hex << s.offset << ", 0x" << s.id << ", " << std::dec << s.length << ", 0x"
              << std::hex << s.next << std::dec << "}";
}

/* Walks the device's capabilities; the status that ended the walk goes to
 * *end. At most limit steps are taken. */
std::vector<Step> Walk(void* device, _QORB_STATUS_t* end, size_t limit = 2000)
{
    std::vector<Step> steps;
    void* cap = nullptr;
    _QORB_STATUS_t status = GetFirstCapability(device, &cap);
    while (status == QORB_SUCCESS && steps.size() < limit) {
        _QORB_PCI_DEVICE_CAP_INFO_t info{};
        EXPECT_EQ(QORB_SUCCESS, QORB_QueryCapInfo(cap, &info));
        steps.push_back({info.offset, info.capabilityId, info.length, info.nextOffset});
        void* next = reinterpret_cast<void*>(0x1);
        status = GetNextCapability(device, &next, cap);
        if (status != QORB_SUCCESS) {
            EXPECT_EQ(nullptr, next) << "a failed step stores null";
        }
        QORB_FreeCapabilityHandle(cap);
        cap = next;
    }
    if (status == QORB_SUCCESS)
        QORB_FreeCapabilityHandle(cap);
    *end = status;
    return steps;
}

ConfigSpace Function(bool express)
{
    ConfigSpace s;
    s.Header(0x1234, 0x0001, 0x02, 0x00, 0x00, 0x00).CapPointer(0x40);
    if (express)
        s.PcieCap(0xA0, 0, 0x00);
    return s;
}

struct Device : qorbtest::FoundDevice {
    explicit Device(uint8_t dev) : FoundDevice(0, dev, 0) { EXPECT_EQ(QORB_SUCCESS, Status()); }
};

std::vector<DumpFunction> One(ConfigSpace space)
{
    return {{0, 1, 0, space}};
}

} // namespace

TEST(CapsWalk, VisitsLegacyThenExtendedList)
{
    ConfigSpace s = Function(true);
    s.LegacyCap(0x40, 0x01, 0x4B)               /* next pointer with low bits set */
        .LegacyCap(0x48, 0x05, 0x60)
        .LegacyCap(0x60, 0x09, 0xA0).Set8(0x62, 0x18)
        .PcieCap(0xA0, 0, 0x00)
        .ExtCap(0x100, 0x0001, 0x150).ExtCap(0x150, 0x0003, 0x163).ExtCap(0x160, 0x0004, 0x000);
    SimPlatform platform(One(s));
    TOPO_REQUIRE_PLATFORM(platform);
    Device device(1);
    _QORB_STATUS_t end;
    std::vector<Step> expected = {
        {0x40, 0x01, 8, 0x4B}, {0x48, 0x05, 20, 0x60}, {0x60, 0x09, 24, 0xA0}, {0xA0, 0x10, 36, 0x00},
        {0x100, 0x0001, 60, 0x150}, {0x150, 0x0003, 12, 0x163}, {0x160, 0x0004, 24, 0x000},
    };
    EXPECT_EQ(expected, Walk(*device, &end));
    EXPECT_EQ(QORB_PCIE_CAP_DOES_NOT_EXIST, end);
}

TEST(CapsWalk, LegacyListEndsWalkOfConventionalDevice)
{
    ConfigSpace s = Function(false);
    s.LegacyCap(0x40, 0x01, 0x00).ExtCap(0x100, 0x0001, 0x000);
    SimPlatform platform(One(s));
    TOPO_REQUIRE_PLATFORM(platform);
    Device device(1);
    _QORB_STATUS_t end;
    EXPECT_EQ((std::vector<Step>{{0x40, 0x01, 8, 0x00}}), Walk(*device, &end))
        << "without a PCI Express capability the extended list is never read";
    EXPECT_EQ(QORB_PCIE_CAP_DOES_NOT_EXIST, end);
}

TEST(CapsWalk, LegacyIdsWithoutLengthEndOrSkipTheLegacyList)
{
    ConfigSpace vpdFirst = Function(true);
    vpdFirst.LegacyCap(0x40, 0x03, 0xA0).ExtCap(0x100, 0x0002, 0x000);
    ConfigSpace vpdFirstConventional = Function(false);
    vpdFirstConventional.LegacyCap(0x40, 0x03, 0x00);
    ConfigSpace vpdLater = Function(true);
    vpdLater.LegacyCap(0x40, 0x01, 0x50).LegacyCap(0x50, 0x02, 0xA0).ExtCap(0x100, 0x0002, 0x000);
    SimPlatform platform({{0, 1, 0, vpdFirst}, {0, 2, 0, vpdFirstConventional}, {0, 3, 0, vpdLater}});
    TOPO_REQUIRE_PLATFORM(platform);
    Device first(1), conventional(2), later(3);
    _QORB_STATUS_t end;
    EXPECT_EQ((std::vector<Step>{{0x100, 0x0002, 28, 0x000}}), Walk(*first, &end));
    EXPECT_EQ(QORB_PCIE_CAP_DOES_NOT_EXIST, end);

    void* cap = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetFirstCapability(*conventional, &cap));
    EXPECT_EQ(nullptr, cap);

    EXPECT_EQ((std::vector<Step>{{0x40, 0x01, 8, 0x50}}), Walk(*later, &end));
    EXPECT_EQ(QORB_UNSUPPORTED_PARAMETER, end) << "AGP in the middle ends the walk";
}

TEST(CapsWalk, EmptyOrUnknownExtendedHeaders)
{
    ConfigSpace allOnes = Function(true);
    allOnes.CapPointer(0xA0).Set32(0x100, 0xFFFFFFFF);
    ConfigSpace zero = Function(true);
    zero.CapPointer(0xA0);
    ConfigSpace unusableLegacy = Function(true);
    unusableLegacy.LegacyCap(0x40, 0x04, 0xA0).Set32(0x100, 0xFFFFFFFF);
    ConfigSpace middle = Function(true);
    middle.CapPointer(0xA0).ExtCap(0x100, 0x0001, 0x140).ExtCap(0x140, 0x0005, 0x180).ExtCap(0x180, 0x0003, 0);
    SimPlatform platform({{0, 1, 0, allOnes}, {0, 2, 0, zero}, {0, 3, 0, unusableLegacy}, {0, 4, 0, middle}});
    TOPO_REQUIRE_PLATFORM(platform);
    Device a(1), b(2), c(3), d(4);
    _QORB_STATUS_t end;
    EXPECT_EQ((std::vector<Step>{{0xA0, 0x10, 36, 0}}), Walk(*a, &end));
    EXPECT_EQ(QORB_PCIE_CAP_DOES_NOT_EXIST, end);
    EXPECT_EQ((std::vector<Step>{{0xA0, 0x10, 36, 0}}), Walk(*b, &end));
    EXPECT_EQ(QORB_PCIE_CAP_DOES_NOT_EXIST, end);

    void* cap = nullptr;
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetFirstCapability(*c, &cap));
    EXPECT_EQ(nullptr, cap);

    EXPECT_EQ((std::vector<Step>{{0xA0, 0x10, 36, 0}, {0x100, 0x0001, 60, 0x140}}), Walk(*d, &end));
    EXPECT_EQ(QORB_INVALID_PARAMETER, end) << "ID 0x0005 has no length: the walk cannot pass it";
}

TEST(CapsWalk, FirstCapabilityWithoutOutLocationReportsTheExtendedAttempt)
{
    ConfigSpace express = Function(true);
    express.LegacyCap(0x40, 0x01, 0xA0).ExtCap(0x100, 0x0001, 0);
    ConfigSpace conventional = Function(false);
    conventional.LegacyCap(0x40, 0x01, 0x00);
    ConfigSpace cardBus;
    cardBus.Header(0x1234, 0x0002, 0x06, 0x07, 0x00, 0x02).CapPointer(0x80).LegacyCap(0x80, 0x01, 0);
    SimPlatform platform({{0, 1, 0, express}, {0, 2, 0, conventional}, {0, 3, 0, cardBus}});
    TOPO_REQUIRE_PLATFORM(platform);
    Device a(1), b(2), c(3);
    EXPECT_EQ(QORB_SUCCESS, GetFirstCapability(*a, nullptr));
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetFirstCapability(*b, nullptr)) << "its legacy list alone does not count";
    void* cap = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetFirstCapability(*c, &cap)) << "header type 2";
    EXPECT_EQ(nullptr, cap);
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetFirstCapability(nullptr, &cap));
}

TEST(CapsWalk, NextCapabilityRefusesMissingArguments)
{
    ConfigSpace s = Function(true);
    s.LegacyCap(0x40, 0x01, 0xA0);
    SimPlatform platform(One(s));
    TOPO_REQUIRE_PLATFORM(platform);
    Device device(1);
    void* cap = nullptr;
    ASSERT_EQ(QORB_SUCCESS, GetFirstCapability(*device, &cap));
    void* next = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetNextCapability(*device, &next, nullptr));
    EXPECT_EQ(reinterpret_cast<void*>(0x1), next) << "touch nothing";
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetNextCapability(*device, nullptr, cap));
    QORB_FreeCapabilityHandle(cap);
}

TEST(CapsWalk, CyclicListsRepeatWhileLookupsEnd)
{
    ConfigSpace legacyCycle = Function(true);
    legacyCycle.LegacyCap(0x40, 0x01, 0x50).LegacyCap(0x50, 0x01, 0x40);
    ConfigSpace extendedCycle = Function(true);
    extendedCycle.CapPointer(0xA0).ExtCap(0x100, 0x0001, 0x140).ExtCap(0x140, 0x0003, 0x100);
    /* An extended pointer below 0x100 leads back into the legacy area. */
    ConfigSpace intoLegacy = Function(true);
    intoLegacy.CapPointer(0xA0).ExtCap(0x100, 0x0001, 0x0C0).Set32(0xC0, 0x00000003);
    SimPlatform platform({{0, 1, 0, legacyCycle}, {0, 2, 0, extendedCycle}, {0, 3, 0, intoLegacy}});
    TOPO_REQUIRE_PLATFORM(platform);
    Device legacy(1), extended(2), back(3);
    /* The walk keeps no count: around a cycle every step succeeds for as
     * long as the caller goes on calling. */
    _QORB_STATUS_t end;
    std::vector<Step> steps = Walk(*legacy, &end, 1500);
    EXPECT_EQ(QORB_SUCCESS, end);
    ASSERT_EQ(1500u, steps.size());
    EXPECT_EQ(0x50u, steps[1499].offset);

    steps = Walk(*extended, &end, 1500);
    EXPECT_EQ(QORB_SUCCESS, end);
    ASSERT_EQ(1500u, steps.size());
    EXPECT_EQ((Step{0x140, 0x0003, 12, 0x100}), steps[2]);

    steps = Walk(*back, &end, 7);
    EXPECT_EQ(QORB_SUCCESS, end);
    ASSERT_EQ(7u, steps.size());
    EXPECT_EQ((Step{0xC0, 0x0003, 12, 0}), steps[2]) << "an extended header, read where the pointer says";
    EXPECT_EQ(0x100u, steps[3].offset) << "below 0x100 it counts as legacy: its end leads to 0x100";
    EXPECT_EQ(0xC0u, steps[6].offset);

    /* The typed lookups bound their own loops. */
    _PCIE_DEV_SERIAL_NUM_CAPABILITY_STRUCT dsn{};
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetPowerBudgetingCapability(*extended, nullptr, nullptr));
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetDeviceSerialNumberCapability(*extended, &dsn, nullptr))
        << "counting instances around a cycle ends";
}

TEST(CapsWalk, VendorSpecificLengthComesFromTheStructure)
{
    ConfigSpace first = Function(false);
    first.LegacyCap(0x40, 0x09, 0x00).Set8(0x42, 0x18);
    SimPlatform platform(One(first), "", ProbeDriver::Path());
    ProbeDriver probe;
    TOPO_REQUIRE_PROBE_PLATFORM(platform, probe);
    Device device(1);
    _QORB_STATUS_t end;
    EXPECT_EQ((std::vector<Step>{{0x40, 0x09, 24, 0}}), Walk(*device, &end));

    /* The length byte cannot be read: the legacy list is given up. */
    probe.limit(0x42, 0x43, 1, 0);
    void* cap = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetFirstCapability(*device, &cap));
    EXPECT_EQ(nullptr, cap);
}

TEST(CapsWalk, UnreadableHeadersEndTheStep)
{
    ConfigSpace s = Function(true);
    s.LegacyCap(0x40, 0x01, 0x50).LegacyCap(0x50, 0x09, 0xA0).Set8(0x52, 0x10).ExtCap(0x100, 0x0001, 0x140)
        .ExtCap(0x140, 0x0002, 0);
    SimPlatform platform(One(s), "", ProbeDriver::Path());
    ProbeDriver probe;
    TOPO_REQUIRE_PROBE_PLATFORM(platform, probe);
    Device device(1);
    void* first = nullptr;
    ASSERT_EQ(QORB_SUCCESS, GetFirstCapability(*device, &first));
    void* next = nullptr;
    probe.limit(0x52, 0x53, 1, 0);
    EXPECT_EQ(QORB_PCIE_CONFIG_READ_FAILED, GetNextCapability(*device, &next, first))
        << "the vendor-specific length read's status";
    probe.limit(0x50, 0x51, 2, 1);
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetNextCapability(*device, &next, first));
    QORB_FreeCapabilityHandle(first);

    probe.reset();
    _PCIE_ADV_ERR_REP_CAP_STRUCT_t aer{};
    void* aerCap = nullptr;
    ASSERT_EQ(QORB_SUCCESS, GetAdvErrRepCapability(*device, &aer, &aerCap));
    probe.limit(0x140, 0x141, 4, 2);
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetNextCapability(*device, &next, aerCap));
    EXPECT_EQ(nullptr, next);
    QORB_FreeCapabilityHandle(aerCap);
}

TEST(CapsWalk, CapabilityHeaderReaderPrintsWhatItReads)
{
    ConfigSpace s = Function(true);
    s.LegacyCap(0x40, 0x01, 0xA0);
    ConfigSpace noList;
    noList.Header(0x1234, 0x0002, 0x02, 0x00, 0x00, 0x00).Set8(0x34, 0x40).LegacyCap(0x40, 0x01, 0);
    SimPlatform platform({{0, 1, 0, s}, {0, 2, 0, noList}});
    TOPO_REQUIRE_PLATFORM(platform);
    Device device(1), bare(2);
    const std::string pm = "Capability Pointer 0x40 \nCapability TYPE = 0x01 \nNext capability Offset : 0xA0\n";
    struct Row {
        void* device;
        uint32_t pointer;
        _QORB_STATUS_t status;
        std::string text;
    } rows[] = {
        {*device, 0x3C, QORB_PCIE_CAP_OUT_OF_RANGE, "Capability Pointer 0x3C \n"},
        {*device, 0x41, QORB_SUCCESS, pm},  /* the low bits are dropped */
        {*device, 0, QORB_SUCCESS, pm},     /* 0: the header's pointer */
        {*device, 0xA0, QORB_SUCCESS,
         "Capability Pointer 0xA0 \nCapability TYPE = 0x10 \nNext capability Offset : 0x00\n"},
        {*device, 0x140, QORB_PCIE_CAP_OUT_OF_RANGE, "Capability Pointer 0x140 \n"},
        {*bare, 0x40, QORB_PCIE_CAP_OUT_OF_RANGE, ""},  /* the Capabilities List bit is clear */
    };
    for (const Row& row : rows) {
        _PCI_CAPABILITY_HEADER_t header{};
        CaptureFd out(1);
        EXPECT_EQ(row.status, GetCapabilityHeader(row.device, &header, row.pointer)) << row.pointer;
        EXPECT_EQ(row.text, out.Text()) << row.pointer;
        if (row.pointer == 0x41) {
            EXPECT_EQ(std::pair(0x01, 0xA0), std::pair(int{header.capabilityId}, int{header.nextPointer}));
        }
    }
}

TEST(CapsWalk, HandlesReachRegistersRelativeToTheCapability)
{
    ConfigSpace s = Function(true);
    s.CapPointer(0xA0).ExtCap(0x100, 0x0001, 0).Set32(0x104, 0xCAFEF00D).Set32(0x108, 0x11223344);
    SimPlatform platform(One(s), "", ProbeDriver::Path());
    ProbeDriver probe;
    TOPO_REQUIRE_PROBE_PLATFORM(platform, probe);
    Device device(1);
    void* aer = nullptr;
    ASSERT_EQ(QORB_SUCCESS, GetAdvErrRepCapability(*device, nullptr, &aer));

    uint32_t value = 0, length = 4;
    EXPECT_EQ(QORB_SUCCESS, ReadCapability(aer, reinterpret_cast<uint8_t*>(&value), 4, &length));
    EXPECT_EQ(0xCAFEF00Du, value);
    EXPECT_EQ(4u, length);

    value = 0x00000001;
    EXPECT_EQ(QORB_SUCCESS, WriteCapability(aer, reinterpret_cast<uint8_t*>(&value), 0x8, &length));
    uint32_t back = 0;
    length = 4;
    ASSERT_EQ(QORB_SUCCESS, ReadConfigSpace(*device, reinterpret_cast<uint8_t*>(&back), 0x108, &length));
    EXPECT_EQ(0x00000001u, back) << "the write reached configuration offset 0x108";

    probe.limit(0x104, 0x105, 4, 2);
    length = 4;
    EXPECT_EQ(QORB_PCIE_CONFIG_READ_FAILED, ReadCapability(aer, reinterpret_cast<uint8_t*>(&value), 4, &length));
    EXPECT_EQ(2u, length);

    EXPECT_EQ(QORB_INVALID_PARAMETER, ReadCapability(nullptr, reinterpret_cast<uint8_t*>(&value), 0, &length));
    EXPECT_EQ(QORB_INVALID_PARAMETER, QORB_QueryCapInfo(nullptr, nullptr));
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetCapOffset(nullptr, &length));
    EXPECT_EQ(QORB_SUCCESS, QORB_FreeCapabilityHandle(aer));
    EXPECT_EQ(QORB_SUCCESS, QORB_FreeCapabilityHandle(nullptr));
}

TEST(CapsWalk, BuiltInDutWalksBothLists)
{
    SimPlatform platform;
    TOPO_REQUIRE_PLATFORM(platform);
    void* dut = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{9}, uint8_t{0}, uint8_t{0}, &dut));
    _QORB_STATUS_t end;
    std::vector<Step> steps = Walk(dut, &end);
    std::vector<std::pair<uint32_t, uint32_t>> seen;
    for (const Step& s : steps)
        seen.push_back({s.offset, s.id});
    std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {0x40, 0x01}, {0x50, 0x05}, {0x70, 0x10}, {0xB0, 0x11}, {0xC0, 0x09},
        {0x100, 0x0001}, {0x148, 0x0002}, {0x168, 0x0003}, {0x178, 0x0004},
    };
    EXPECT_EQ(expected, seen);
    ASSERT_EQ(expected.size(), steps.size());
    EXPECT_EQ(24u, steps[4].length) << "vendor-specific length from the structure";
    EXPECT_EQ(0u, steps[3].length) << "MSI-X: the table gives 0";
    EXPECT_EQ(QORB_PCIE_CAP_DOES_NOT_EXIST, end);
    CloseDevice(dut);
}
