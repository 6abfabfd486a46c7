/* The qorb tool on the sysfs driver, with config files as Linux gives them:
 * 4096 bytes to root, the 64-byte header to a process without
 * CAP_SYS_ADMIN. */
#include <gtest/gtest.h>

#include "sysfs_test_support.h"
#include "tool_run.h"

using namespace qorbtest;

namespace {

class ToolOnSysfs : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ToolBuilt())
            GTEST_SKIP() << "the qorb tool is not built";
        QORB_SKIP_WITHOUT_SYSFS_DRIVER();
        ConfigSpace ep;
        ep.Header(0x8086, 0x10d3, 0x02, 0x00, 0x00, 0x00).CapPointer(0xc8);
        ep.LegacyCap(0xc8, 0x01, 0xe0).PcieCap(0xe0, 0, 0x00).ExtCap(0x100, 0x0001, 0);
        fake.Add(0x01, 0x00, 0, ep, 4096);  /* as root sees it */
        fake.Add(0x02, 0x00, 0, ep, 64);    /* as any other user sees it */
        fake.Ini("mcfg = " + fake.File("no-MCFG") + "\n");
    }
    std::string Tool() const { return "--driver '" + std::string(SysfsDriverPath()) + "' "; }
    FakeSysfs fake;
};

} // namespace

TEST_F(ToolOnSysfs, ScanFindsFunctionsWhoseSpaceEndsAfterTheHeader)
{
    ToolRun run = RunTool(Tool() + "scan");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("01:00.0 0200: 8086:10d3"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("02:00.0 0200: 8086:10d3"), std::string::npos) << run.out;
}

TEST_F(ToolOnSysfs, CapsWalksTheWholeSpace)
{
    ToolRun run = RunTool(Tool() + "caps -s 01:00.0");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("[c8] 01 Power Management"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[100] 0001 Advanced Error Reporting"), std::string::npos) << run.out;
}

TEST_F(ToolOnSysfs, CapsOfAnUnreadableListFailsInsteadOfShowingNone)
{
    /* The header announces a list at c8 that the driver cannot read: that
     * is not "no capabilities". */
    ToolRun run = RunTool(Tool() + "caps -s 02:00.0");
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(run.out.find("(no capabilities)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(the capability list at c8 cannot be read"), std::string::npos) << run.out;
    run = RunTool(Tool() + "caps --json -s 02:00.0");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("\"stopped\": \"the capability list at c8 cannot be read"), std::string::npos) << run.out;
}

TEST_F(ToolOnSysfs, CheckSaysWhenOnlyTheHeaderCanBeRead)
{
    WriteFile(fake.File("dut.xml"), "<platform><DUT bus=\"1\" device=\"0\" function=\"0\"/>"
                                    "<DUT bus=\"2\" device=\"0\" function=\"0\"/></platform>\n");
    ToolRun run = RunTool(Tool() + "check --no-link --platform dut.xml");
    const std::string warning = ": configuration space beyond the 64-byte header cannot be read";
    EXPECT_NE(run.err.find("qorb check: 02:00.0" + warning), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("qorb check: 01:00.0" + warning), std::string::npos) << run.err;
}
