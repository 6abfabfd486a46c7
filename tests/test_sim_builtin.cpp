/* The simulated driver's built-in platform, checked with lspci -F on a dump
 * of what the driver serves: the topology, port types, link state and the
 * capabilities the library sizes. */
#include <gtest/gtest.h>

#include <linux/pci_regs.h>

#include <regex>

#include "qorb_test_support.h"
#include "sim_driver_client.h"

using namespace qorbtest;

namespace {

/* The built-in platform (no qorbsim.ini), dumped to builtin.txt. */
struct Builtin : ScratchDir {
    SimDriverClient driver;
    bool opened = false;
    std::string dump;
    Builtin()
    {
        opened = driver.Open();
        if (opened)
            WriteFile(dump = File("builtin.txt"), driver.DumpText());
    }
    std::string Lspci(const std::string& options) const
    {
        return RunCommand("lspci -F '" + dump + "' " + options + " 2>/dev/null");
    }
};

/* The -vv text of one function. */
std::string Verbose(const Builtin& b, const std::string& slot) { return b.Lspci("-vv -s " + slot); }

/* The built-in platform's dump, read back by lspci. */
class SimBuiltinLspci : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveLspci())
            GTEST_SKIP() << "lspci is not installed";
        ASSERT_TRUE(b.opened);
    }
    Builtin b;
};

} // namespace

TEST_F(SimBuiltinLspci, TopologyIsTheDocumentedTree)
{
    EXPECT_EQ(b.Lspci("-t"),
              "-[0000:00]-+-00.0\n"
              "           +-01.0-[01-05]----00.0-[02-05]--+-00.0-[03]----00.0\n"
              "           |                               +-01.0-[04]--+-00.0\n"
              "           |                               |            \\-00.1\n"
              "           |                               \\-02.0-[05]--\n"
              "           +-02.0-[06]----00.0\n"
              "           +-03.0-[07-09]----00.0-[08-09]----00.0-[09]----00.0\n"
              "           +-1c.0-[0a-0b]----00.0-[0b]----02.0\n"
              "           \\-1f.0\n");
}

TEST_F(SimBuiltinLspci, PortTypesAndIdsAreTheDocumentedOnes)
{
    struct Expect {
        const char* slot;
        const char* ids;
        const char* express;   /* "" = no PCI Express capability */
    } expected[] = {
        {"00:00.0", "5153:1000", ""},
        {"00:01.0", "5153:1001", "Root Port (Slot+)"},
        {"00:02.0", "5153:1001", "Root Port (Slot+)"},
        {"00:03.0", "5153:1001", "Root Port (Slot+)"},
        {"00:1c.0", "5153:1001", "Root Port (Slot+)"},
        {"00:1f.0", "5153:1040", "Root Complex Integrated Endpoint"},
        {"01:00.0", "5153:1002", "Upstream Port"},
        {"02:00.0", "5153:1003", "Downstream Port (Slot-)"},
        {"02:01.0", "5153:1003", "Downstream Port (Slot-)"},
        {"02:02.0", "5153:1003", "Downstream Port (Slot+)"},
        {"03:00.0", "5153:1010", "Endpoint"},
        {"04:00.0", "5153:1011", "Endpoint"},
        {"04:00.1", "5153:1012", "Legacy Endpoint"},
        {"06:00.0", "5153:1020", "Endpoint"},
        {"07:00.0", "5a45:0001", "Upstream Port"},
        {"08:00.0", "5a45:0002", "Downstream Port (Slot-)"},
        {"09:00.0", "5153:1050", "Endpoint"},
        {"0a:00.0", "5153:1030", "PCI-Express to PCI/PCI-X Bridge"},
        {"0b:02.0", "5153:1031", ""},
    };
    std::string all = b.Lspci("-n");
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), static_cast<long>(std::size(expected)));
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.slot);
        EXPECT_NE(b.Lspci("-n -s " + std::string(e.slot)).find(e.ids), std::string::npos);
        std::string vv = Verbose(b, e.slot);
        if (*e.express)
            EXPECT_NE(vv.find(std::string("Express (v2) ") + e.express + ","), std::string::npos) << vv;
        else
            EXPECT_EQ(vv.find("Express"), std::string::npos) << vv;
    }
}

TEST_F(SimBuiltinLspci, DownstreamPortsReportTheirLinkActiveOnlyWithADeviceBelow)
{
    for (const char* port : {"00:01.0", "00:02.0", "00:03.0", "00:1c.0", "02:00.0", "02:01.0", "08:00.0"}) {
        std::string vv = Verbose(b, port);
        EXPECT_NE(vv.find("DLActive+"), std::string::npos) << port;
        EXPECT_NE(vv.find("LLActRep+"), std::string::npos) << port;
        EXPECT_NE(vv.find("Train-"), std::string::npos) << port;
    }
    std::string empty = Verbose(b, "02:02.0");
    EXPECT_NE(empty.find("DLActive-"), std::string::npos);
    EXPECT_NE(empty.find("Width x0"), std::string::npos);
    EXPECT_NE(empty.find("PresDet-"), std::string::npos);
    /* Both ends of a link agree on its speed and width. */
    EXPECT_NE(Verbose(b, "00:02.0").find("LnkSta:\tSpeed 8GT/s, Width x4"), std::string::npos);
    EXPECT_NE(Verbose(b, "06:00.0").find("LnkSta:\tSpeed 8GT/s, Width x4"), std::string::npos);
    EXPECT_NE(Verbose(b, "00:1c.0").find("LnkSta:\tSpeed 2.5GT/s, Width x1"), std::string::npos);
    EXPECT_NE(Verbose(b, "0a:00.0").find("LnkSta:\tSpeed 2.5GT/s, Width x1"), std::string::npos);
}

TEST_F(SimBuiltinLspci, TheDutCarriesEveryCapabilityTheLibrarySizes)
{
    std::string dut = Verbose(b, "09:00.0");
    for (const char* cap : {"[40] Power Management version 3", "[50] MSI: Enable- Count=1/8 Maskable- 64bit+",
                            "[70] Express (v2) Endpoint", "[b0] MSI-X: Enable- Count=8",
                            "[c0] Vendor Specific Information: Len=18", "[100 v2] Advanced Error Reporting",
                            "[148 v1] Virtual Channel", "[168 v1] Device Serial Number",
                            "[178 v1] Power Budgeting"})
        EXPECT_NE(dut.find(cap), std::string::npos) << cap;
    EXPECT_NE(Verbose(b, "00:01.0").find("MSI: Enable- Count=1/1 Maskable- 64bit-"), std::string::npos);
}

TEST(SimBuiltin, BridgeBusNumbersEncloseExactlyTheFunctionsBelow)
{
    Builtin b;
    ASSERT_TRUE(b.opened);
    auto functions = b.driver.Functions();
    for (const auto& [loc, bytes] : functions) {
        if ((bytes[PCI_HEADER_TYPE] & 0x7F) != PCI_HEADER_TYPE_BRIDGE)
            continue;
        unsigned bus = std::get<0>(loc);
        SCOPED_TRACE(bus);
        EXPECT_EQ(bytes[PCI_PRIMARY_BUS], bus);
        unsigned secondary = bytes[PCI_SECONDARY_BUS], subordinate = bytes[PCI_SUBORDINATE_BUS];
        EXPECT_GT(secondary, bus);
        EXPECT_GE(subordinate, secondary);
        /* The bridges' ranges nest: every bus in the range is reached
         * through this bridge, and no function sits in a bus range that no
         * bridge claims. */
        for (const auto& [other, otherBytes] : functions) {
            unsigned otherBus = std::get<0>(other);
            if (otherBus == secondary && (otherBytes[PCI_HEADER_TYPE] & 0x7F) == PCI_HEADER_TYPE_BRIDGE) {
                EXPECT_LE(otherBytes[PCI_SUBORDINATE_BUS], subordinate);
            }
        }
    }
    for (const auto& [loc, bytes] : functions) {
        unsigned bus = std::get<0>(loc);
        if (bus == 0)
            continue;
        int claims = 0;
        for (const auto& [other, otherBytes] : functions) {
            if ((otherBytes[PCI_HEADER_TYPE] & 0x7F) == PCI_HEADER_TYPE_BRIDGE &&
                otherBytes[PCI_SECONDARY_BUS] == bus)
                ++claims;
        }
        EXPECT_EQ(claims, 1) << "bus " << bus;
    }
}

TEST(SimBuiltin, OpensThroughTheLibraryWithoutAConfigFile)
{
    SimPlatform platform;
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    uint8_t b[4] = {};
    ASSERT_EQ(QORB_ReadConfigSpace_Ex(0, 9, 0, 0, 0, b), 4u);
    EXPECT_EQ(b[0] | b[1] << 8, 0x5153);
    EXPECT_EQ(b[2] | b[3] << 8, 0x1050);
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 5, 0, 0, 0, b), 0u) << "nothing below the empty downstream port";
}
