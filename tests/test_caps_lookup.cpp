/* Typed capability lookups: copies, handles, instance counting, the MSI
 * count, the diagnostics (byte for byte, with file and line), malformed and
 * cyclic lists, and reads that transfer fewer bytes than asked. */
#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <tuple>

#include "topology_test_platforms.h"

using namespace topotest;
using qorbtest::CaptureFd;
using qorbtest::SimPlatform;

namespace {

ConfigSpace Express()
{
    ConfigSpace s;
    s.Header(0x1234, 0x0001, 0x02, 0x00, 0x00, 0x00).CapPointer(0x40);
    return s;
}

/* 00:01.0: PM, 64-bit MSI, PCI Express; AER, VC, DSN, Power Budgeting. */
ConfigSpace Complete()
{
    ConfigSpace s = Express();
    s.LegacyCap(0x40, 0x01, 0x50).Set16(0x42, 0x0003)
        .LegacyCap(0x50, 0x05, 0x70).Set16(0x52, 0x0080).Set32(0x54, 0xFEE00000)
        .PcieCap(0x70, 0, 0x00).Set16(0x80, 0x0040)
        .ExtCap(0x100, 0x0001, 0x150).Set32(0x104, 0x00001000).Set32(0x110, 0x00000040)
        .ExtCap(0x150, 0x0002, 0x180)
        .ExtCap(0x180, 0x0003, 0x1A0).Set32(0x184, 0x89ABCDEF)
        .ExtCap(0x1A0, 0x0004, 0x000);
    return s;
}

/* 00:02.0: two PCI Express capabilities and two AER capabilities. */
ConfigSpace Doubled()
{
    ConfigSpace s = Express();
    s.PcieCap(0x40, 0, 0x60).PcieCap(0x60, 0, 0x00).ExtCap(0x100, 0x0001, 0x200).ExtCap(0x200, 0x0001, 0x000);
    return s;
}

/* 00:04.0: 32-bit MSI, PM, 32-bit MSI. */
ConfigSpace TwoNarrowMsi()
{
    ConfigSpace s = Express();
    s.LegacyCap(0x40, 0x05, 0x50).LegacyCap(0x50, 0x01, 0x60).LegacyCap(0x60, 0x05, 0x00).Set32(0x64, 0x12345678);
    return s;
}

enum Location : uint8_t {
    kComplete = 1, kDoubled, kNoCaps, kTwoNarrowMsi, kVpd, kSelfLoop, kCycle, kMsiCycle, kLowPointer, kLowNext,
    kExtLegacyNext, kMsix, kUnknownId,
};

std::vector<DumpFunction> LookupPlatform()
{
    ConfigSpace noCaps;
    noCaps.Header(0x1234, 0x0003, 0x02, 0x00, 0x00, 0x00);
    ConfigSpace vpd = Express();
    vpd.LegacyCap(0x40, 0x03, 0x00);
    ConfigSpace selfLoop = Express();
    selfLoop.LegacyCap(0x40, 0x01, 0x40);
    ConfigSpace cycle = Express();
    cycle.LegacyCap(0x40, 0x01, 0x50).LegacyCap(0x50, 0x01, 0x40);
    ConfigSpace msiCycle = Express();
    msiCycle.LegacyCap(0x40, 0x05, 0x50).LegacyCap(0x50, 0x05, 0x40);
    ConfigSpace lowPointer = Express();
    lowPointer.CapPointer(0x32).LegacyCap(0x30, 0x01, 0x00);
    ConfigSpace lowNext = Express();
    lowNext.LegacyCap(0x40, 0x01, 0x20);
    ConfigSpace extLegacyNext = Express();
    extLegacyNext.PcieCap(0x40, 0, 0).ExtCap(0x100, 0x0003, 0x0C0).ExtCap(0x0C0, 0x0001, 0x000);
    ConfigSpace msix = Express();
    msix.LegacyCap(0x40, 0x11, 0x00).Set16(0x42, 0x0007).Set32(0x44, 0x00002004).Set32(0x48, 0x00003004);
    ConfigSpace unknownId = Express();
    unknownId.LegacyCap(0x40, 0x13, 0x00).Set32(0x44, 0xAABBCCDD);
    return {
        {0, kComplete, 0, Complete()},     {0, kDoubled, 0, Doubled()},       {0, kNoCaps, 0, noCaps},
        {0, kTwoNarrowMsi, 0, TwoNarrowMsi()}, {0, kVpd, 0, vpd},         {0, kSelfLoop, 0, selfLoop},
        {0, kCycle, 0, cycle},             {0, kMsiCycle, 0, msiCycle},       {0, kLowPointer, 0, lowPointer},
        {0, kLowNext, 0, lowNext},         {0, kExtLegacyNext, 0, extLegacyNext}, {0, kMsix, 0, msix},
        {0, kUnknownId, 0, unknownId},
    };
}

/* A device record for a function of the platform, closed at the end. */
struct Device : qorbtest::FoundDevice {
    explicit Device(uint8_t dev, uint8_t bus = 0) : FoundDevice(bus, dev, 0) { EXPECT_EQ(QORB_SUCCESS, Status()); }
};

/* A capability handle, released at the end. */
struct Cap {
    void* handle = nullptr;
    ~Cap() { QORB_FreeCapabilityHandle(handle); }
    _QORB_PCI_DEVICE_CAP_INFO_t Info() const
    {
        _QORB_PCI_DEVICE_CAP_INFO_t info{};
        EXPECT_EQ(QORB_SUCCESS, QORB_QueryCapInfo(handle, &info));
        return info;
    }
    /* offset, ID, length, next offset */
    std::tuple<uint32_t, uint32_t, uint32_t, uint32_t> Where() const
    {
        _QORB_PCI_DEVICE_CAP_INFO_t i = Info();
        return {i.offset, i.capabilityId, i.length, i.nextOffset};
    }
};

std::string Prefix(const char* format, const char* lookup, const std::string& marker)
{
    char text[256];
    snprintf(text, sizeof text, format, lookup, kCapFile, SourceLine(kCapFile, marker));
    return text;
}

} // namespace

TEST(CapsLookup, SingleInstancesAreCopiedWithTruthfulHandles)
{
    SimPlatform platform(LookupPlatform());
    TOPO_REQUIRE_PLATFORM(platform);
    Device device(kComplete);
    CaptureFd out(1);

    _PCIE_CAPABILITY_STRUCT_t pcie;
    memset(&pcie, 0xA5, sizeof pcie);
    Cap pcieCap;
    ASSERT_EQ(QORB_SUCCESS, GetPCIECapability(*device, &pcie, &pcieCap.handle));
    EXPECT_EQ(0x10, pcie.capabilityId);
    EXPECT_EQ(0x0002, pcie.pcieCapabilities);
    EXPECT_EQ(0x0040, pcie.linkControl);
    EXPECT_EQ(0u, pcie.rootStatus) << "all 36 bytes come from the device";
    EXPECT_EQ(std::tuple(0x70u, 0x10u, 36u, 0u), pcieCap.Where());
    uint32_t offset = 0;
    EXPECT_EQ(QORB_SUCCESS, GetCapOffset(pcieCap.handle, &offset));
    EXPECT_EQ(0x70u, offset);

    _PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT pm{};
    Cap pmCap;
    ASSERT_EQ(QORB_SUCCESS, GetPowerManagementCapability(*device, &pm, &pmCap.handle));
    EXPECT_EQ(std::tuple(0x40u, 0x01u, 8u, 0x50u), pmCap.Where());

    _PCIE_ADV_ERR_REP_CAP_STRUCT_t aer{};
    Cap aerCap;
    ASSERT_EQ(QORB_SUCCESS, GetAdvErrRepCapability(*device, &aer, &aerCap.handle));
    EXPECT_EQ(std::tuple(0x100u, 1u, 60u, 0x150u), aerCap.Where());
    uint32_t words[15];
    memcpy(words, &aer, sizeof words);
    EXPECT_EQ(0x00001000u, words[1]) << "Uncorrectable Error Status";
    EXPECT_EQ(0x00000040u, words[4]) << "Correctable Error Status";

    _PCIE_VIRTUAL_CHANNEL_CAPABILITY_STRUCT_t vc{};
    Cap vcCap;
    EXPECT_EQ(QORB_SUCCESS, GetDeviceVirtualChannelCapability(*device, &vc, &vcCap.handle));
    EXPECT_EQ(0x150u, vcCap.Info().offset);
    _PCIE_DEV_SERIAL_NUM_CAPABILITY_STRUCT dsn{};
    EXPECT_EQ(QORB_SUCCESS, GetDeviceSerialNumberCapability(*device, &dsn, nullptr));
    memcpy(words, &dsn, 8);
    EXPECT_EQ(0x89ABCDEFu, words[1]);
    _PCIE_POWER_BUDGET_CAPABILITY_STRUCT_t budget{};
    Cap budgetCap;
    EXPECT_EQ(QORB_SUCCESS, GetPowerBudgetingCapability(*device, &budget, &budgetCap.handle));
    EXPECT_EQ(0x1A0u, budgetCap.Info().offset);
    EXPECT_EQ(0u, budgetCap.Info().nextOffset);

    EXPECT_EQ("", out.Text()) << "no diagnostics on the success path";
}

TEST(CapsLookup, LookupHandlesContinueTheWalk)
{
    SimPlatform platform(LookupPlatform());
    TOPO_REQUIRE_PLATFORM(platform);
    Device device(kComplete);
    Cap pcieCap, next, afterAer;
    ASSERT_EQ(QORB_SUCCESS, GetPCIECapability(*device, nullptr, &pcieCap.handle));
    ASSERT_EQ(QORB_SUCCESS, GetNextCapability(*device, &next.handle, pcieCap.handle));
    EXPECT_EQ(0x100u, next.Info().offset) << "the legacy list ends at the PCI Express capability";
    Cap aer;
    ASSERT_EQ(QORB_SUCCESS, GetAdvErrRepCapability(*device, nullptr, &aer.handle));
    ASSERT_EQ(QORB_SUCCESS, GetNextCapability(*device, &afterAer.handle, aer.handle));
    EXPECT_EQ(0x150u, afterAer.Info().offset);
}

TEST(CapsLookup, TwoPciExpressCapabilitiesAreReportedWithHandle)
{
    SimPlatform platform(LookupPlatform());
    TOPO_REQUIRE_PLATFORM(platform);
    Device device(kDoubled);
    _PCIE_CAPABILITY_STRUCT_t pcie;
    memset(&pcie, 0xA5, sizeof pcie);
    Cap cap;
    CaptureFd out(1);
    EXPECT_EQ(QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP, GetPCIECapability(*device, &pcie, &cap.handle));
    EXPECT_EQ("[HelpGetPCICapability] : POSSIBLE COMPLIANCE ERROR. [2] instances of cap type[16] have been found\n",
              out.Text());
    EXPECT_EQ(0xA5, pcie.capabilityId) << "record untouched";
    ASSERT_NE(nullptr, cap.handle);
    EXPECT_EQ(0x60u, cap.Info().offset) << "the handle names the last instance";

    _QORB_DEV_PORT_TYPE_t type = QORB_ROOT_PORT;
    EXPECT_EQ(QORB_PCIE_CAP_OUT_OF_RANGE, GetDeviceType(*device, &type));
    EXPECT_EQ(QORB_ROOT_PORT, type);
}

TEST(CapsLookup, TwoAerCapabilitiesAreReportedWithoutHandle)
{
    SimPlatform platform(LookupPlatform());
    TOPO_REQUIRE_PLATFORM(platform);
    Device device(kDoubled);
    _PCIE_ADV_ERR_REP_CAP_STRUCT_t aer;
    memset(&aer, 0xA5, sizeof aer);
    void* handle = reinterpret_cast<void*>(0x1);
    CaptureFd out(1);
    EXPECT_EQ(QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP, GetAdvErrRepCapability(*device, &aer, &handle));
    char expected[256];
    snprintf(expected, sizeof expected,
             "****ERROR MULTI-INSTANCE CAP. file[HelpGetPCIECapability] line[%d] file[%s] found [2 instances] of "
             "type[1] at offset[512]\n",
             SourceLine(kCapFile, "ERROR MULTI-INSTANCE CAP."), kCapFile);
    EXPECT_EQ(expected, out.Text());
    EXPECT_EQ(nullptr, handle);
    uint8_t untouched[sizeof aer];
    memset(untouched, 0xA5, sizeof untouched);
    EXPECT_EQ(0, memcmp(&aer, untouched, sizeof aer));

    /* The instance check off stops at the first one. */
    Cap first;
    EXPECT_EQ(QORB_SUCCESS, HelpGetPCIECapability(*device, QORB_PCIE_CAP_ADV_ERR_REPORTING, 0x300, 0, &aer, &first.handle));
    EXPECT_EQ(0x100u, first.Info().offset) << "the start offset is not used";
}

TEST(CapsLookup, AbsentCapabilitiesAndUnusableLists)
{
    SimPlatform platform(LookupPlatform());
    TOPO_REQUIRE_PLATFORM(platform);
    Device noCaps(kNoCaps), vpd(kVpd), complete(kComplete);
    CaptureFd out(1);
    _PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT pm{};
    EXPECT_EQ(QORB_PCIE_CAP_OUT_OF_RANGE, GetPowerManagementCapability(*noCaps, &pm, nullptr));
    EXPECT_EQ(QORB_PCIE_CAP_OUT_OF_RANGE, GetAdvErrRepCapability(*noCaps, nullptr, nullptr))
        << "a 4096-byte function with nothing at 0x100";
    EXPECT_EQ(QORB_PCIE_CAP_OUT_OF_RANGE, GetMSIXCapability(*complete, nullptr, nullptr));
    EXPECT_EQ(QORB_UNSUPPORTED_PARAMETER, HelpGetPCICapability(*vpd, QORB_PCI_CAP_VPD, 0, 0, nullptr, nullptr));
    EXPECT_EQ(QORB_PCIE_CAP_OUT_OF_RANGE, HelpGetPCICapability(*vpd, QORB_PCI_CAP_AGP, 0x40, 1, nullptr, nullptr))
        << "only a matching header is sized";
    EXPECT_EQ(QORB_INVALID_PARAMETER, HelpGetPCICapability(nullptr, QORB_PCI_CAP_MSI, 0, 0, nullptr, nullptr));
    EXPECT_EQ(QORB_INVALID_PARAMETER, HelpGetPCIECapability(nullptr, QORB_PCIE_CAP_ADV_ERR_REPORTING, 0, 0, nullptr, nullptr));
    EXPECT_EQ("", out.Text());
}

TEST(CapsLookup, StartOffsetSkipsTheStatusBitAndIsBounded)
{
    std::vector<DumpFunction> functions = LookupPlatform();
    ConfigSpace hidden = Express();
    hidden.LegacyCap(0x50, 0x01, 0x00).CapPointer(0);
    functions.push_back({1, 0, 0, hidden});
    SimPlatform platform(functions);
    TOPO_REQUIRE_PLATFORM(platform);
    Device device(0, 1);
    Cap cap;
    _PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT pm{};
    EXPECT_EQ(QORB_PCIE_CAP_OUT_OF_RANGE, HelpGetPCICapability(*device, QORB_PCI_CAP_POWER_MANAGEMENT, 0, 1, &pm, nullptr));
    ASSERT_EQ(QORB_SUCCESS, HelpGetPCICapability(*device, QORB_PCI_CAP_POWER_MANAGEMENT, 0x50, 1, &pm, &cap.handle));
    EXPECT_EQ(0x50u, cap.Info().offset);

    CaptureFd out(1);
    EXPECT_EQ(QORB_INVALID_PARAMETER, HelpGetPCICapability(*device, QORB_PCI_CAP_POWER_MANAGEMENT, 0x104, 1, &pm, nullptr));
    EXPECT_EQ(Prefix("****ERROR. [%s] file[%s] line[%d]", "HelpGetPCICapability", "provided by user for pci caps") +
                  " offset[260] provided by user for pci caps is outside of the legacy config space\n",
              out.Text());
}

TEST(CapsLookup, MalformedListsPrintTheirMessages)
{
    SimPlatform platform(LookupPlatform());
    TOPO_REQUIRE_PLATFORM(platform);
    Device lowPointer(kLowPointer), lowNext(kLowNext), selfLoop(kSelfLoop), extLegacy(kExtLegacyNext);
    {
        CaptureFd out(1);
        EXPECT_EQ(QORB_INVALID_PARAMETER, GetPCIECapability(*lowPointer, nullptr, nullptr));
        EXPECT_EQ(Prefix("***ERROR**[%s] file[%s] line[%d]", "HelpGetPCICapability", "device implement pci caps") +
                      " device implement pci caps but start offset[48] is outside of legal limit\n",
                  out.Text());
    }
    {
        CaptureFd out(1);
        EXPECT_EQ(QORB_INVALID_PARAMETER, GetPCIECapability(*lowNext, nullptr, nullptr));
        EXPECT_EQ(Prefix("[%s] file[%s] line[%d]", "HelpGetPCICapability", "next cap pointer[%d]") +
                      " next cap pointer[32] for next cap points into the standard PCI legacy space\n",
                  out.Text());
    }
    {
        CaptureFd out(1);
        EXPECT_EQ(QORB_INVALID_PARAMETER, GetPCIECapability(*selfLoop, nullptr, nullptr));
        EXPECT_EQ("", out.Text()) << "a pointer to itself ends the search without a message";
    }
    {
        CaptureFd out(1);
        Cap cap;
        EXPECT_EQ(QORB_SUCCESS, GetAdvErrRepCapability(*extLegacy, nullptr, &cap.handle));
        EXPECT_EQ(Prefix("**ERROR**:parsing PCIE Caps: [%s] file[%s] line[%d]", "HelpGetPCIECapability",
                         "next_cap_offset[%d]") +
                      " next_cap_offset[192] cap id[0x3] expecting[1]is in the legacy config space\n",
                  out.Text());
        EXPECT_EQ(0xC0u, cap.Info().offset) << "the header at 0x0C0 is examined as an extended header";
    }
}

TEST(CapsLookup, CyclicListsEnd)
{
    SimPlatform platform(LookupPlatform());
    TOPO_REQUIRE_PLATFORM(platform);
    Device cycle(kCycle), msiCycle(kMsiCycle);
    void* handle = nullptr;
    EXPECT_EQ(QORB_INVALID_PARAMETER, HelpGetPCICapability(*cycle, QORB_PCI_CAP_MSI, 0, 1, nullptr, &handle));
    EXPECT_EQ(QORB_INVALID_PARAMETER, HelpGetPCICapability(*cycle, QORB_PCI_CAP_POWER_MANAGEMENT, 0, 1, nullptr, &handle))
        << "counting instances around a cycle ends too";
    EXPECT_EQ(nullptr, handle) << "a failing lookup makes no handle";
    _PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT pm{};
    EXPECT_EQ(QORB_SUCCESS, HelpGetPCICapability(*cycle, QORB_PCI_CAP_POWER_MANAGEMENT, 0, 0, &pm, nullptr))
        << "without the instance check the first one is enough";

    PCI_MSI_CAPABILITY_32_STRUCT_t msi{};
    Cap last;
    EXPECT_EQ(QORB_INVALID_PARAMETER, Get32BitMSICapability(*msiCycle, &msi, &last.handle));
    ASSERT_NE(nullptr, last.handle) << "the last successful lookup's handle stays with the caller";
}

TEST(CapsLookup, MsiCountsOneAddressWidth)
{
    SimPlatform platform(LookupPlatform());
    TOPO_REQUIRE_PLATFORM(platform);
    Device complete(kComplete), narrow(kTwoNarrowMsi), noCaps(kNoCaps);

    PCI_MSI_CAPABILITY_64_STRUCT_t wide{};
    Cap wideCap;
    EXPECT_EQ(QORB_SUCCESS, Get64BitMSICapability(*complete, &wide, &wideCap.handle));
    EXPECT_EQ(0xFEE00000u, wide.messageAddressLow);
    EXPECT_EQ(0x50u, wideCap.Info().offset);

    PCI_MSI_CAPABILITY_32_STRUCT_t msi;
    memset(&msi, 0, sizeof msi);
    Cap narrowCap;
    EXPECT_EQ(QORB_PCIE_CAP_OUT_OF_RANGE, Get32BitMSICapability(*complete, &msi, &narrowCap.handle));
    EXPECT_EQ(0x0080, msi.messageControl) << "the record holds the capability that was found";
    EXPECT_EQ(0xFEE00000u, msi.messageAddress);
    ASSERT_NE(nullptr, narrowCap.handle);
    EXPECT_EQ(0x50u, narrowCap.Info().offset);

    Cap two;
    EXPECT_EQ(QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP, Get32BitMSICapability(*narrow, &msi, &two.handle));
    EXPECT_EQ(0x12345678u, msi.messageAddress) << "the record holds the second";
    EXPECT_EQ(0x60u, two.Info().offset);
    Cap none;
    EXPECT_EQ(QORB_PCIE_CAP_OUT_OF_RANGE, Get64BitMSICapability(*narrow, &wide, &none.handle));

    void* untouched = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_PCIE_CAP_OUT_OF_RANGE, Get32BitMSICapability(*noCaps, &msi, &untouched));
    EXPECT_EQ(reinterpret_cast<void*>(0x1), untouched);
    EXPECT_EQ(QORB_INVALID_PARAMETER, Get32BitMSICapability(*narrow, nullptr, nullptr)) << "the record is needed";
}

TEST(CapsLookup, MsixCopiesTwelveBytesAndUnknownIdsCopyNothing)
{
    SimPlatform platform(LookupPlatform());
    TOPO_REQUIRE_PLATFORM(platform);
    Device msix(kMsix), unknown(kUnknownId);
    _PCI_MSI_X_CAPABILITY_STRUCT_t table{};
    Cap cap;
    ASSERT_EQ(QORB_SUCCESS, GetMSIXCapability(*msix, &table, &cap.handle));
    EXPECT_EQ(0x11, table.capabilityId);
    EXPECT_EQ(0x0007, table.messageControl);
    EXPECT_EQ(0x00002004u, table.tableOffsetBir);
    EXPECT_EQ(0x00003004u, table.pbaOffsetBir);
    EXPECT_EQ(0u, cap.Info().length) << "the handle records the table's length, as the walk does";

    uint8_t record[16];
    memset(record, 0xA5, sizeof record);
    CaptureFd out(1);
    Cap unknownCap;
    EXPECT_EQ(QORB_SUCCESS, HelpGetPCICapability(*unknown, QORB_PCI_CAP_AF, 0, 1, record, &unknownCap.handle));
    EXPECT_EQ("Unknown cap[19]\n", out.Text());
    EXPECT_EQ(0xA5, record[0]) << "nothing is copied for an ID without a length";
    EXPECT_EQ(std::tuple(0x40u, 0x13u, 0u, 0u), unknownCap.Where());
}

TEST(CapsLookup, ShortReadsAndChangingRegisters)
{
    SimPlatform platform(LookupPlatform(), "", ProbeDriver::Path());
    ProbeDriver probe;
    TOPO_REQUIRE_PROBE_PLATFORM(platform, probe);
    Device device(kComplete);

    auto pcie = [](void* d) { return GetPCIECapability(static_cast<void*>(d), nullptr, nullptr); };
    auto aer = [](void* d) { return GetAdvErrRepCapability(d, nullptr, nullptr); };
    struct Case {
        const char* what;
        std::function<void()> arm;
        _QORB_STATUS_t (*run)(void*);
        _QORB_STATUS_t status;
        std::string text;
    };
    const Case cases[] = {
        {"header read short", [&] { probe.limit(0x50, 0x51, 2, 1); }, pcie, QORB_PCIE_CONFIG_READ_FAILED,
         Prefix("**ERROR***:[%s] file[%s] line[%d]", "HelpGetPCICapability", "reading config space at offset") +
             " reading config space at offset[80] length[1] failed\n"},
        {"structure read short", [&] { probe.limit(0x70, 0x71, 3, 10); }, pcie, QORB_PCIE_CONFIG_READ_FAILED,
         Prefix("[%s] file[%s] line[%d]", "HelpGetPCICapability", "Reading PCI config space for CapType") +
             " Reading PCI config space for CapType[16] at offset[112] length[10] failed\n"},
        {"ID changed between reads", [&] { probe.patch(0x70, 0x11, 3); }, pcie, QORB_INVALID_PARAMETER,
         Prefix("****ERROR***[%s] file[%s] line[%d]", "HelpGetPCICapability", "capability id in whole cap") +
             " capability id in whole cap not                                equal to cap id in header. "
             "Repeat configuration read error. offset[112] length[36]\n"},
        {"extended structure read short", [&] { probe.limit(0x100, 0x101, 5, 8); }, aer, QORB_PCIE_CAP_OUT_OF_RANGE,
         Prefix("[%s] file[%s] line[%d]", "HelpGetPCIECapability", "ReadConfigSpace from offset") +
             " ReadConfigSpace from offset[256] length[8] failed\n"},
        {"extended ID changed between reads", [&] { probe.patch(0x100, 0x02, 5); }, aer, QORB_INVALID_PARAMETER, ""},
        {"extended space unreadable", [&] { probe.limit(0x100, 0x1000, 1, 3); },
         [](void* d) {
             _QORB_STATUS_t statuses[] = {
                 GetAdvErrRepCapability(d, nullptr, nullptr), GetDeviceVirtualChannelCapability(d, nullptr, nullptr),
                 GetDeviceSerialNumberCapability(d, nullptr, nullptr), GetPowerBudgetingCapability(d, nullptr, nullptr)};
             for (_QORB_STATUS_t status : statuses)
                 if (status != QORB_PCIE_CAP_OUT_OF_RANGE)
                     return status;
             return QORB_PCIE_CAP_OUT_OF_RANGE;
         },
         QORB_PCIE_CAP_OUT_OF_RANGE, ""},
    };
    for (const Case& c : cases) {
        probe.reset();
        c.arm();
        CaptureFd out(1);
        EXPECT_EQ(c.status, c.run(*device)) << c.what;
        EXPECT_EQ(c.text, out.Text()) << c.what;
    }
}
