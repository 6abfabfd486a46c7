/* examples/typical_test: the typical test, run as an application runs it,
 * with ini/VERDAapp.ini naming the simulated driver in the current folder. */
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "qorb_test_support.h"
#include "tool_run.h"

using namespace qorbtest;

namespace {

class TypicalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
#if !defined(QORB_TYPICAL_TEST_PATH) || !defined(QORB_SIM_DRIVER_PATH)
        GTEST_SKIP() << "the example or the simulated driver is not built";
#else
        mkdir(m_dir.File("ini").c_str(), 0755);
        WriteFile(m_dir.File("ini/VERDAapp.ini"), "[DLL]\nDLLName=libqorbsim.so\n");
        ASSERT_EQ(symlink(QORB_SIM_DRIVER_PATH, m_dir.File("libqorbsim.so").c_str()), 0);
#endif
    }

    int Run(std::string* out)
    {
        int status = -1;
#ifdef QORB_TYPICAL_TEST_PATH
        *out = RunCommand(std::string(QORB_TYPICAL_TEST_PATH) + " " + QORB_SOURCE_DIR +
                              "/examples/builtin-platform.xml log.xml 2>&1",
                          &status);
#else
        (void)out;
#endif
        return status;
    }
    ScratchDir m_dir;
};

} // namespace

TEST_F(TypicalTest, PassesOnTheBuiltinPlatformAndWritesItsLog)
{
    std::string out;
    EXPECT_EQ(Run(&out), 0) << out;
    EXPECT_NE(out.find("typical_test: passed, log log.xml"), std::string::npos) << out;
    std::string log = ReadFile("log.xml");
    /* The first DUT of the example file is 03:00.0, a Gen3 x4 endpoint. */
    EXPECT_NE(log.find("Negotiated link width x4 within the maximum x4"), std::string::npos) << log;
    EXPECT_NE(log.find("Link retrained"), std::string::npos);
    EXPECT_NE(log.find("::(Adv Error Correctable Status Register : Bad TLP Status bit ) (Expected : CLEAR) "
                       "Actual value (CLEAR)::"),
              std::string::npos);
    EXPECT_NE(log.find("</QORBTest>"), std::string::npos);
}

TEST_F(TypicalTest, FailsWhenTheDutReportsABadTlp)
{
    if (!SimHasFaultSettings())
        GTEST_SKIP() << "the simulated driver does not plant faults yet";
    WriteFile(m_dir.File("qorbsim.ini"), "[function 03:00.0]\naer_correctable = 0x40\n");
    std::string out;
    EXPECT_EQ(Run(&out), 1) << out;
    EXPECT_NE(ReadFile("log.xml").find("(Expected : CLEAR) Actual value (SET)::"), std::string::npos);
}
