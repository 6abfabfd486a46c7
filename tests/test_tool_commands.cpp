/* The qorb tool's inspection commands on a small simulated platform, and
 * its answers to bad arguments. */
#include <gtest/gtest.h>

#include "qorb_test_support.h"
#include "tool_run.h"

using namespace qorbtest;

namespace {

/* 00:00.0 host bridge; 00:01.0 root port (Gen3 x4 link) above 01:00.0, an
 * Ethernet endpoint with PM, PCI Express, AER and DSN. */
std::vector<DumpFunction> SmallPlatform()
{
    ConfigSpace host;
    host.Header(0x5153, 0x1000, 0x06, 0x00, 0x00, 0x00);

    ConfigSpace port;
    port.Header(0x5153, 0x1001, 0x06, 0x04, 0x00, 0x01).Buses(0, 1, 1).CapPointer(0x40);
    port.PcieCap(0x40, 4, 0x80).Set32(0x4c, 0x43).Set16(0x52, 0x2043);
    port.LegacyCap(0x80, 0x01, 0x00);
    port.ExtCap(0x100, 0x0001, 0);

    ConfigSpace ep;
    ep.Header(0x5153, 0x2000, 0x02, 0x00, 0x00, 0x00).Set8(0x08, 0x03).CapPointer(0x40);
    ep.LegacyCap(0x40, 0x01, 0x50).PcieCap(0x50, 0, 0x00).Set32(0x5c, 0x43).Set16(0x62, 0x0043);
    ep.Set32(0x10, 0xf7c0000c);
    ep.ExtCap(0x100, 0x0001, 0x140).ExtCap(0x140, 0x0003, 0);
    return {{0, 0, 0, host}, {0, 1, 0, port}, {1, 0, 0, ep}};
}

class ToolCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ToolBuilt())
            GTEST_SKIP() << "the qorb tool is not built";
        WriteFile(m_dir.File("platform.txt"), DumpText(SmallPlatform()));
        WriteFile(m_dir.File("qorbsim.ini"), "[platform]\ndump = platform.txt\n");
    }
    ScratchDir m_dir;
};

} // namespace

TEST_F(ToolCommands, ScanListsEveryFunctionWithClassAndPortType)
{
    ToolRun run = RunTool("scan");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "00:00.0 0600: 5153:1000 Host bridge [conventional PCI]\n"
                       "00:01.0 0604: 5153:1001 PCI bridge [Root Port]\n"
                       "01:00.0 0200: 5153:2000 (rev 03) Ethernet controller [Endpoint]\n");

    run = RunTool("scan -d :2000");
    EXPECT_EQ(run.out, "01:00.0 0200: 5153:2000 (rev 03) Ethernet controller [Endpoint]\n");
    run = RunTool("scan -s 00:");
    EXPECT_EQ(run.out.find("01:00.0"), std::string::npos);
    EXPECT_NE(run.out.find("00:01.0"), std::string::npos);

    run = RunTool("scan --json -s 01:00.0");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[\n  {\n    \"slot\": \"01:00.0\",\n    \"bus\": 1,\n    \"device\": 0,\n    \"function\": 0,\n"
                       "    \"vendor_id\": \"5153\",\n    \"device_id\": \"2000\",\n    \"class\": \"0200\",\n"
                       "    \"class_name\": \"Ethernet controller\",\n    \"prog_if\": \"00\",\n"
                       "    \"revision\": \"03\",\n    \"header_type\": 0,\n    \"multifunction\": false,\n"
                       "    \"port_type\": 0,\n    \"port_type_name\": \"Endpoint\"\n  }\n]\n");
}

TEST_F(ToolCommands, CapsWalksLegacyThenExtended)
{
    ToolRun run = RunTool("caps -s 01:00.0");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "01:00.0 5153:2000\n"
                       "  [40] 01 Power Management, length 8, next 50\n"
                       "  [50] 10 Express, length 36, next 00\n"
                       "  [100] 0001 Advanced Error Reporting, length 60, next 140\n"
                       "  [140] 0003 Device Serial Number, length 12, next 000\n");
    run = RunTool("caps -s 00:00.0");
    EXPECT_EQ(run.out, "00:00.0 5153:1000\n  (no capabilities)\n");
    run = RunTool("caps --json -s 00:01.0");
    EXPECT_NE(run.out.find("\"list\": \"extended\",\n        \"offset\": 256,\n        \"id\": 1,"), std::string::npos)
        << run.out;
}

TEST_F(ToolCommands, TreeFollowsTheParentLinks)
{
    ToolRun run = RunTool("tree");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "00:00.0 [5153:1000] Host bridge\n"
                       "00:01.0 [5153:1001] Root Port\n"
                       "\\- 01:00.0 [5153:2000] Endpoint\n");
}

TEST_F(ToolCommands, ReadAndWriteRegistersAsSetpci)
{
    ToolRun run = RunTool("read -s 01:00.0 0x10.l VENDOR_ID CAP_EXP+12.w ECAP_AER+0.l 0x08.b");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "f7c0000c\n5153\n0043\n14010001\n03\n");

    run = RunTool("write -v -s 01:00.0 0x04.w=0x0146 COMMAND=0:4");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "01:00.0 @004 <- 0146\n01:00.0 @004 <- 0142\n");

    run = RunTool("read -s 00:00.0 CAP_EXP+0.w");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no capability for CAP_EXP+0.w"), std::string::npos);
}

TEST_F(ToolCommands, AerDecodesTheStatusRegisters)
{
    ToolRun run = RunTool("aer -s 01:00.0");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("01:00.0 Advanced Error Reporting [100]\n"), std::string::npos);
    EXPECT_NE(run.out.find("  CESta:  RxErr- BadTLP- BadDLLP- Rollover- Timeout- AdvNonFatalErr- CorrIntErr- HeaderOF-\n"), std::string::npos);
    run = RunTool("aer -s 00:00.0");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no usable Advanced Error Reporting capability"), std::string::npos);
}

TEST_F(ToolCommands, BadArgumentsGiveStatusTwoAndOneLine)
{
    struct Case {
        const char* args;
        const char* message;
    } cases[] = {
        {"", "A subcommand is required"},
        {"frobnicate", "A subcommand is required"},
        {"scan -s 1:2:3:4", "-s 1:2:3:4: Invalid slot selector"},
        {"scan -s 00:20.0", "Invalid slot number"},
        {"scan -d 8086", "Invalid ID selector"},
        {"read -s 01:00.0 0x10", "Missing width in 0x10"},
        {"read -s 01:00.0 0x11.w", "Unaligned register address"},
        {"read -s 01:00.0", "register is required"},
        {"write 0x04.w=1", "write needs -s or -d"},
        {"write -s 01:00.0 0x04.b=0x100", "Invalid value"},
        {"caps -s 05:00.0", "no function matches -s 05:00.0"},
        {"link retrain -s 00:", "matches 2 functions"},
        {"link retrain", "needs a function"},
        {"link sideways -s 01:00.0", "A subcommand is required"},
        {"zeb arm", "no ZEB test card was found"},
        {"zeb inject nothing", "nothing"},
        {"--driver ./missing.so scan", "driver ./missing.so: No such file or directory"},
        {"check --platform missing.xml", "cannot read the platform file missing.xml"},
    };
    for (const Case& c : cases) {
        ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.status, 2) << "qorb " << c.args << "\n" << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << "qorb " << c.args << "\n" << run.err;
        size_t last = run.err.rfind("qorb: ");
        ASSERT_NE(last, std::string::npos) << c.args;
        EXPECT_EQ(run.err.find('\n', last), run.err.size() - 1) << "one line: " << run.err;
        EXPECT_EQ(run.out, "") << c.args;
    }
}

TEST_F(ToolCommands, HelpOnEverySubcommand)
{
    for (const char* cmd : {"", "scan", "tree", "caps", "read", "write", "link", "link retrain", "link wait", "aer",
                            "zeb", "zeb inject", "zeb trace", "check"}) {
        ToolRun run = RunTool(std::string(cmd) + " --help");
        EXPECT_EQ(run.status, 0) << cmd;
        EXPECT_NE(run.out.find("Usage:"), std::string::npos) << cmd;
    }
}

TEST_F(ToolCommands, DriverThatDoesNotOpenIsASetupError)
{
    WriteFile(m_dir.File("qorbsim.ini"), "[platform]\ndump = nowhere.txt\n");
    ToolRun run = RunTool("scan");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("qorb: cannot open "), std::string::npos) << run.err;
}
