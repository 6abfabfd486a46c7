/* The open sequence over the test drivers: each row of the failure table,
 * the configuration window, the test card tables, and what a failed open
 * leaves behind. */
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <qorb/qorb.h>

#include "instance_fixture.h"
#include "qorb_internal.h"

using qorbtest::kNoCfgSpaceIni;
using qorbtest::kSoftwareDriverFailed;
using qorbtest::OpenResult;
using qorbtest::TestDriver;
using qorbtest::UntouchedHandle;

namespace {

class OpenFailure : public qorbtest::InstanceTest {
protected:
    TestDriver full{TestDriver::BuiltPath("tdrv_full")};
};

TEST_F(OpenFailure, DriverWithoutGetInterfaceFailsSilently)
{
    TestDriver noIface(TestDriver::BuiltPath("tdrv_noiface"));
    ExpectRefused(OpenEx(noIface.Path()), QORB_STATUS_FAILED, "", "");
    EXPECT_EQ(noIface.Calls(), "") << "the test card tables are looked up only after the driver table";
}

/* The driver refuses one step of the open: each row names the step, what
 * the open answers and prints, and the entries called (G GetInterface, Z/V
 * the test card tables, O OpenDriver, Q the MCFG query, M the map). */
TEST_F(OpenFailure, EachRefusedStepFailsTheOpen)
{
    const std::string noWindow = std::string(kNoCfgSpaceIni) + kSoftwareDriverFailed;
    struct Row {
        const char* what;
        std::function<void(TDRV_CONTROL_t&)> refuse;
        _QORB_STATUS_t status;
        std::string out;
        const char* calls;
    } rows[] = {
        {"GetInterface answers 0", [](TDRV_CONTROL_t& c) { c.getInterfaceAnswer = 0; }, QORB_STATUS_FAILED, "", "G"},
        {"no OpenDriver", [](TDRV_CONTROL_t& c) { c.provide = TDRV_ALL & ~TDRV_OPEN; }, QORB_DRIVER_INIT_FAILED,
         kSoftwareDriverFailed, "GZV"},
        {"OpenDriver answers 0", [](TDRV_CONTROL_t& c) { c.openAnswer = 0; }, QORB_DRIVER_INIT_FAILED,
         kSoftwareDriverFailed, "GZVO"},
        {"no map: the length file is read", [](TDRV_CONTROL_t& c) { c.provide = TDRV_ALL & ~TDRV_MAP; },
         QORB_DRIVER_INIT_FAILED, noWindow, "GZVOQ"},
        {"no map, no query", [](TDRV_CONTROL_t& c) { c.provide = TDRV_ALL & ~(TDRV_MAP | TDRV_QUERY); },
         QORB_DRIVER_INIT_FAILED, noWindow, "GZVO"},
        {"map answers 0: both windows are tried", [](TDRV_CONTROL_t& c) { c.mapAnswer = 0; },
         QORB_DRIVER_INIT_FAILED, noWindow, "GZVOQMM"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CloseQORB(nullptr);  /* each row starts with no driver bound */
        TestDriver driver(TestDriver::BuiltPath("tdrv_full"));  /* resets the control block */
        row.refuse(*driver.operator->());
        ExpectRefused(OpenEx(driver.Path()), row.status, row.out, "");
        EXPECT_EQ(driver.Calls(), row.calls);
        if (row.status == QORB_STATUS_FAILED) {
            /* The entries it filled before answering 0 stay bound: the table
             * is cleared before the call, not after a refusal. */
            uint64_t base = 0, length = 0;
            uint8_t start = 0, end = 0;
            EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 1);
        }
    }
    EXPECT_EQ(full->mapBase, kConfigBase) << "the last row's second try maps the configuration base of the open";
    EXPECT_EQ(full->mapLength, 52428800u);
}

TEST_F(OpenFailure, MissingDriverFile)
{
    ExpectRefused(OpenEx("/nonexistent/qorb/driver.so"), QORB_STATUS_FAILED, "", "Failed to open DLL file /nonexistent/qorb/driver.so. Exiting.\n");
}

TEST_F(OpenFailure, FolderIsNoDriverFile)
{
    std::filesystem::create_directory(scratch.File("drv.so"));
    ExpectRefused(OpenEx(scratch.File("drv.so")), QORB_STATUS_FAILED, "",
                  "Failed to open DLL file " + scratch.File("drv.so") + ". Exiting.\n");
}

TEST_F(OpenFailure, UnloadableFileOnFirstOpen)
{
    qorbtest::WriteFile(scratch.File("x.so"), "this is not a shared object\n");
    ExpectRefused(OpenEx(scratch.File("x.so")), QORB_DRIVER_INIT_FAILED, kSoftwareDriverFailed, "");
}

TEST_F(OpenFailure, NullHandleOutTouchesNoDriver)
{
    EXPECT_EQ(OpenQORBEx(nullptr, 0, full.Path().c_str(), kConfigBase, 0), QORB_INVALID_PARAMETER);
    EXPECT_EQ(OpenQORB(nullptr, 0, kConfigBase, nullptr, nullptr), QORB_INVALID_PARAMETER);
    void* h = UntouchedHandle();
    EXPECT_EQ(OpenQORBEx(&h, 0, nullptr, kConfigBase, 0), QORB_INVALID_PARAMETER);
    EXPECT_EQ(h, UntouchedHandle());
    EXPECT_EQ(full.Calls(), "");
}

class OpenSuccess : public qorbtest::InstanceTest {
protected:
    TestDriver full{TestDriver::BuiltPath("tdrv_full")};
};

TEST_F(OpenSuccess, WindowFromTheMcfgTable)
{
    full->mcfgBase = 0xC0000000ull;
    full->mcfgLength = 0x10000000ull;
    OpenResult r = OpenEx(full.Path());
    ASSERT_EQ(r.status, QORB_SUCCESS);
    EXPECT_EQ(r.out, "") << "the length file is not read when the MCFG window maps";
    EXPECT_EQ(r.err, "");
    EXPECT_NE(handle, UntouchedHandle());
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(full.Calls(), "GZVOQM");
    EXPECT_EQ(full->mapBase, 0xC0000000ull);
    EXPECT_EQ(full->mapLength, 0x10000000ull);
    EXPECT_EQ(full->wrongContext, 0u) << "every entry gets the context OpenDriver stored";
}

TEST_F(OpenSuccess, McfgQueryAnsweringZeroFallsBackToTheConfigurationBase)
{
    full->queryAnswer = 0;
    OpenResult r = OpenEx(full.Path(), 0xF8000000ull);
    ASSERT_EQ(r.status, QORB_SUCCESS);
    EXPECT_EQ(r.out, kNoCfgSpaceIni);
    EXPECT_EQ(full.Calls(), "GZVOQM");
    EXPECT_EQ(full->mapBase, 0xF8000000ull);
    EXPECT_EQ(full->mapLength, 52428800u);
}

TEST_F(OpenSuccess, WithoutTestCardTables)
{
    TestDriver nocard(TestDriver::BuiltPath("tdrv_nocard"));
    OpenResult r = OpenEx(nocard.Path());
    ASSERT_EQ(r.status, QORB_SUCCESS);
    EXPECT_EQ(nocard.Calls(), "GOQM");
}

TEST_F(OpenSuccess, TestCardTablesAreOpenedOnceAndTheirAnswerIgnored)
{
    OpenResult r = OpenEx(full.Path());
    ASSERT_EQ(r.status, QORB_SUCCESS);
    EXPECT_EQ(full.Calls(), "GZVOQM");
    EXPECT_NE(full->zebTableOut, nullptr);
    EXPECT_NE(full->vokTableOut, nullptr);
    EXPECT_NE(full->zebTableOut, full->vokTableOut);
}

TEST_F(OpenSuccess, BareNameIsTakenFromTheCurrentDirectory)
{
    std::filesystem::copy_file(TestDriver::BuiltPath("tdrv_full"), scratch.File("localdrv.so"));
    TestDriver local(scratch.File("localdrv.so"));
    OpenResult r = OpenEx("localdrv.so");
    ASSERT_EQ(r.status, QORB_SUCCESS) << r.out << r.err;
    EXPECT_EQ(local.Calls(), "GZVOQM");
    EXPECT_EQ(full.Calls(), "");
}

TEST_F(OpenSuccess, BackslashPathReachesTheFile)
{
    std::filesystem::create_directory(scratch.File("sub"));
    std::filesystem::copy_file(TestDriver::BuiltPath("tdrv_full"), scratch.File("sub/drv.so"));
    TestDriver local(scratch.File("sub/drv.so"));
    OpenResult r = OpenEx(scratch.Path() + "\\sub\\drv.so");
    ASSERT_EQ(r.status, QORB_SUCCESS) << r.out << r.err;
    EXPECT_EQ(local.Calls(), "GZVOQM");
}

TEST_F(OpenSuccess, EachOpenMakesItsOwnInstance)
{
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    void* second = UntouchedHandle();
    ASSERT_EQ(OpenQORBEx(&second, 7, full.Path().c_str(), kConfigBase, 0xFFFFFFFFu), QORB_SUCCESS);
    EXPECT_NE(second, handle);
    EXPECT_EQ(full.Calls(), "GZVOQMGZVOQM") << "every open binds and opens the driver again";
    EXPECT_EQ(CloseQORB(second), QORB_SUCCESS);
}

/* A file that does not load leaves the driver table as the earlier open
 * filled it: the open goes on with that driver. */
TEST_F(OpenSuccess, UnloadableFileAfterAnOpenReusesTheBoundDriver)
{
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    void* first = TakeHandle();
    qorbtest::WriteFile(scratch.File("x.so"), "not a shared object");
    ASSERT_NE(g_qorbDriver.libraryHandle, 0u);
    OpenResult r = OpenEx(scratch.File("x.so"));
    EXPECT_EQ(r.status, QORB_SUCCESS);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(full.Calls(), "GZVOQMOQM");
    EXPECT_EQ(g_qorbDriver.libraryHandle, 0u) << "the handle is what the failed load answered";
    EXPECT_EQ(CloseQORB(first), QORB_SUCCESS);
    EXPECT_EQ(full.Calls(), "GZVOQMOQMC");
}

/* The window length from PCIECfgInfo.ini when the driver has no MCFG query. */
struct LengthCase {
    const char* name;
    const char* ini;       /* contents of PCIECfgInfo.ini, or nullptr for no file */
    uint64_t length;
};

class CfgSpaceLength : public qorbtest::InstanceTest, public ::testing::WithParamInterface<LengthCase> {
protected:
    TestDriver nocard{TestDriver::BuiltPath("tdrv_nocard")};
};

TEST_P(CfgSpaceLength, MapsTheConfigurationBaseWithTheLength)
{
    const LengthCase& c = GetParam();
    if (c.ini)
        qorbtest::WriteFile(scratch.File("PCIECfgInfo.ini"), c.ini);
    nocard->provide = TDRV_ALL & ~TDRV_QUERY;
    OpenResult r = OpenEx(nocard.Path(), 0x0000000123400000ull);
    ASSERT_EQ(r.status, QORB_SUCCESS);
    EXPECT_EQ(r.out, c.ini ? "" : kNoCfgSpaceIni);
    EXPECT_EQ(nocard.Calls(), "GOM");
    EXPECT_EQ(nocard->mapBase, 0x0000000123400000ull);
    EXPECT_EQ(nocard->mapLength, c.length);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CfgSpaceLength,
    ::testing::Values(LengthCase{"NoFile", nullptr, 52428800u},
                      LengthCase{"Value", "[CfgSpaceInfo]\nCfgSpaceLength=268435456\n", 268435456u},
                      LengthCase{"AnyCase", "[cfgspaceinfo]\r\ncfgspacelength = 1048576\r\n", 1048576u},
                      LengthCase{"OtherSection", "[Other]\nCfgSpaceLength=1\n", 52428800u},
                      LengthCase{"OtherKey", "[CfgSpaceInfo]\nLength=1\n", 52428800u},
                      LengthCase{"MinusOne", "[CfgSpaceInfo]\nCfgSpaceLength=-1\n", 0xFFFFFFFFFFFFFFFFull},
                      LengthCase{"Negative", "[CfgSpaceInfo]\nCfgSpaceLength=-268435456\n", 0xFFFFFFFFF0000000ull},
                      LengthCase{"TrailingText", "[CfgSpaceInfo]\nCfgSpaceLength=12abc\n", 12u},
                      LengthCase{"NoDigits", "[CfgSpaceInfo]\nCfgSpaceLength=abc\n", 0u},
                      LengthCase{"Empty", "[CfgSpaceInfo]\nCfgSpaceLength=\n", 0u},
                      LengthCase{"Largest", "[CfgSpaceInfo]\nCfgSpaceLength=2147483647\n", 2147483647u},
                      LengthCase{"AboveRange", "[CfgSpaceInfo]\nCfgSpaceLength=4294967296\n", 2147483647u},
                      LengthCase{"BelowRange", "[CfgSpaceInfo]\nCfgSpaceLength=-99999999999\n",
                                 0xFFFFFFFF80000000ull},
                      LengthCase{"FirstOfTwo", "[CfgSpaceInfo]\nCfgSpaceLength=7\nCfgSpaceLength=9\n", 7u}),
    [](const ::testing::TestParamInfo<LengthCase>& info) { return std::string(info.param.name); });

TEST_F(OpenSuccess, LengthFileIsAFileNotAFolder)
{
    std::filesystem::create_directory(scratch.File("PCIECfgInfo.ini"));
    full->queryAnswer = 0;
    OpenResult r = OpenEx(full.Path());
    ASSERT_EQ(r.status, QORB_SUCCESS);
    EXPECT_EQ(r.out, kNoCfgSpaceIni);
    EXPECT_EQ(full->mapLength, 52428800u);
}

} // namespace
