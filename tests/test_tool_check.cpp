/* qorb check on the simulated driver's built-in platform: every check of the
 * example platform file passes; faults that the simulator's configuration
 * plants (an AER status preset, a broken capability list, Link Training
 * stuck) fail the matching checks and only those. */
#include <gtest/gtest.h>

#include "qorb_test_support.h"
#include "tool_run.h"

using namespace qorbtest;

namespace {

/* The example file names four DUTs, 09:00.0 among them below the ZEB. */
std::string ExamplePlatform() { return std::string(QORB_SOURCE_DIR) + "/examples/builtin-platform.xml"; }

/* One DUT: 06:00.0, the endpoint directly below root port 00:02.0. */
constexpr const char* kOneDut = "<platform><DUT bus=\"6\" device=\"0\" function=\"0\"/></platform>\n";

/* The line of one check on standard output. */
std::string CheckLine(const std::string& out, const std::string& name, const std::string& dut)
{
    size_t pos = 0;
    while ((pos = out.find(name, pos)) != std::string::npos) {
        size_t start = out.rfind('\n', pos);
        start = start == std::string::npos ? 0 : start + 1;
        size_t end = out.find('\n', pos);
        std::string line = out.substr(start, end - start);
        if (line.find(" " + dut + " ") != std::string::npos)
            return line;
        pos = end;
    }
    return "";
}

class ToolCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ToolBuilt())
            GTEST_SKIP() << "the qorb tool is not built";
        WriteFile(m_dir.File("one.xml"), kOneDut);
    }
    /* The built-in platform with extra simulator settings; false (and the
     * test skipped) when the simulated driver does not offer them yet. */
    bool Settings(const std::string& ini)
    {
        if (!SimHasFaultSettings())
            return false;
        WriteFile(m_dir.File("qorbsim.ini"), ini);
        return true;
    }
    ScratchDir m_dir;
};

} // namespace

TEST_F(ToolCheck, BuiltinPlatformPassesEveryCheck)
{
    ToolRun run = RunTool("check --platform " + ExamplePlatform() + " --junit junit.xml --log check.log --xml check.xml");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out.find("FAIL "), std::string::npos) << run.out;
    /* Four DUTs, sixteen checks each; injections run only below the ZEB. */
    bool card = SimHasCard();
    std::string passed = card ? "37" : "28", skipped = card ? "27" : "36";
    EXPECT_NE(run.out.find("qorb check: " + passed + " passed, 0 failed, " + skipped + " skipped"), std::string::npos)
        << run.out;
    for (const char* dut : {"03:00.0", "06:00.0", "09:00.0", "04:00.1"})
        EXPECT_NE(CheckLine(run.out, "CFG.1.1#1.1", dut).find("PASS"), std::string::npos) << dut;
    if (card) {
        EXPECT_EQ(CheckLine(run.out, "DLL.2.1#1.1", "09:00.0").rfind("PASS", 0), 0u) << run.out;
    }
    EXPECT_NE(CheckLine(run.out, "DLL.2.1#1.1", "06:00.0").find("SKIP  DLL.2.1#1.1      06:00.0  injected Bad TLP: "
                                                               "no ZEB test card above 06:00.0"),
              std::string::npos);

    /* The console log shows each check as it runs. */
    EXPECT_NE(run.err.find("INFO    Now Starting Test:CFG.1.2#1.1 configuration header (09:00.0)"), std::string::npos);
    EXPECT_NE(run.err.find("CFG 1.4.1 : PASS PCI Express capability and link (09:00.0)"), std::string::npos);
    EXPECT_NE(run.err.find("Summary Log Counts [ Fails (0); Aborts (0); Warnings (" + skipped + ") ]"),
              std::string::npos);

    std::string junit = ReadFile("junit.xml");
    EXPECT_NE(junit.find("<testsuites name=\"qorb check\" tests=\"64\" failures=\"0\" skipped=\"" + skipped + "\""),
              std::string::npos);
    EXPECT_NE(junit.find("<testsuite name=\"DUT 09:00.0\" tests=\"16\" failures=\"0\" skipped=\"" +
                         std::string(card ? "0" : "9") + "\""),
              std::string::npos);
    std::string xml = ReadFile("check.xml");
    EXPECT_NE(xml.find("</QORBTest>"), std::string::npos);
    EXPECT_NE(xml.find("DLL.2.1#1.1"), std::string::npos);
    std::string text = ReadFile("check.log");
    EXPECT_NE(text.find("Now Starting Test:DLL.2.1#1.6 injected Flow Control Protocol Error (09:00.0)"),
              std::string::npos);
    if (card) {
        EXPECT_NE(text.find("::(Adv Error Uncorrectable Status Register : Flow Control Protocol Error Status bit ) "
                        "(Expected : SET) Actual value (SET)::"),
              std::string::npos);
    }
}

TEST_F(ToolCheck, DefaultPlatformIsTheShippedExample)
{
    ToolRun run = RunTool("check --no-link --no-inject");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("builtin-platform.xml, 4 DUTs"), std::string::npos) << run.out;
    EXPECT_NE(CheckLine(run.out, "PHYLINK.1.1#1.1", "03:00.0").find("SKIP"), std::string::npos);
    EXPECT_TRUE(FileExists(m_dir.File("qorb-check.xml")));
}

TEST_F(ToolCheck, AerStatusPresetFailsTheAerCheck)
{
    if (!Settings("[function 06:00.0]\naer_correctable = 0x40\naer_uncorrectable = 0x100000\n"))
        GTEST_SKIP() << "the simulated driver does not plant faults yet";
    ToolRun run = RunTool("check --platform one.xml --junit junit.xml");
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    std::string line = CheckLine(run.out, "EM.1.1#1.1", "06:00.0");
    EXPECT_EQ(line.rfind("FAIL", 0), 0u) << line;
    EXPECT_NE(line.find("Unsupported Request Error, Bad TLP"), std::string::npos) << line;
    EXPECT_NE(run.out.find("qorb check: 6 passed, 1 failed, 9 skipped"), std::string::npos) << run.out;
    EXPECT_NE(ReadFile("junit.xml").find("<failure message=\"AER status set at start"), std::string::npos);
    EXPECT_NE(run.err.find("(Expected : CLEAR) Actual value (SET)::"), std::string::npos);
}

TEST_F(ToolCheck, BrokenCapabilityListFailsTheListCheck)
{
    if (!Settings("[function 06:00.0]\nbreak_capabilities = legacy-loop\n"))
        GTEST_SKIP() << "the simulated driver does not plant faults yet";
    ToolRun run = RunTool("check --platform one.xml --no-link");
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    std::string line = CheckLine(run.out, "CFG.1.3#1.1", "06:00.0");
    EXPECT_EQ(line.rfind("FAIL", 0), 0u) << line;
    EXPECT_NE(line.find("loops back to 40"), std::string::npos) << line;
    EXPECT_EQ(CheckLine(run.out, "CFG.1.2#1.1", "06:00.0").rfind("PASS", 0), 0u);

    Settings("[function 06:00.0]\nbreak_capabilities = extended-loop\n");
    run = RunTool("check --platform one.xml --no-link");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(CheckLine(run.out, "CFG.1.3#1.1", "06:00.0").find("extended list loops back to 100"), std::string::npos)
        << run.out;
}

TEST_F(ToolCheck, StuckLinkTrainingFailsTheLinkChecks)
{
    if (!Settings("[function 00:02.0]\nlink_training_stuck = 1\n"))
        GTEST_SKIP() << "the simulated driver does not plant faults yet";
    ToolRun run = RunTool("check --platform one.xml --tries 3");
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(CheckLine(run.out, "PHYLINK.1.1#1.1", "06:00.0").find("FAIL"), std::string::npos) << run.out;
    EXPECT_NE(CheckLine(run.out, "PHYLINK.1.1#1.1", "06:00.0").find("Link Training of 00:02.0 is still set after 30 ms"),
              std::string::npos)
        << run.out;
    EXPECT_NE(CheckLine(run.out, "PHYLINK.1.2#1.1", "06:00.0").find("FAIL"), std::string::npos);
    EXPECT_EQ(CheckLine(run.out, "CFG.1.4#1.1", "06:00.0").rfind("PASS", 0), 0u);
}

TEST_F(ToolCheck, AbsentDutFailsAndTheRunGoesOn)
{
    WriteFile(m_dir.File("two.xml"), "<p><DUT vendorid=\"dead\" deviceid=\"beef\"/>"
                                     "<DUT bus=\"6\" device=\"0\" function=\"0\"/></p>\n");
    ToolRun run = RunTool("check --platform two.xml --no-link --no-inject");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("FAIL  CFG.1.1#1.1      DUT 1 dead:beef DUT present: DUT 1 dead:beef was not found"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(CheckLine(run.out, "CFG.1.2#1.1", "06:00.0").rfind("PASS", 0), 0u);
}

TEST_F(ToolCheck, PlatformWithoutDutsIsASetupError)
{
    WriteFile(m_dir.File("none.xml"), "<platform/>\n");
    ToolRun run = RunTool("check --platform none.xml");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("qorb: the platform file none.xml names no DUT"), std::string::npos);
    run = RunTool("check --platform one.xml --xml /nonexistent/dir/log.xml");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("cannot write the XML log /nonexistent/dir/log.xml"), std::string::npos);
}
