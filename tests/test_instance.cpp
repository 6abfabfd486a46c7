/* The instance lifecycle on the fake driver: the open sequence (driver binding, window set-up, the INI
 * lookup and its path bounds), the pass-through calls, the library-wide driver state that every open
 * rebinds and every close clears, the command-line parser, the interface table, the status texts, and
 * the platform layer underneath. */
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <tuple>

#include "fake_driver.h"
#include "qorb_internal.h"
#include "qorb_platform.h"

namespace {

namespace fs = std::filesystem;
using qorbtest::FakeDriver;
using qorbtest::WriteFile;
using E = std::vector<uint32_t>;

constexpr uint32_t GI = FK_GET_INTERFACE, ZT = FK_ZEB_TABLE, VT = FK_VOK_TABLE, O = FK_OPEN, Q = FK_QUERY,
                   M = FK_MAP, R = FK_READ, X = FK_READ_EX, W = FK_WRITE, C = FK_CLOSE;
const E kBound = {GI, ZT, VT, O, Q, M};
const std::string kInitFailed = "QORB::PCIExpress QORB. Initializing software based driver failed\n";
const std::string kNoLengthFile = "file with name[PCIECfgInfo.ini] cannot be opened\n";
const std::string kNoDll = "Failed to find DLL file . Exiting.\n";
constexpr uint64_t kBase = 0xE0000000ull, kDefaultLength = 52428800;
void* const kUntouched = reinterpret_cast<void*>(uintptr_t{0x5A5A5A5A});

struct Opened {
    _QORB_STATUS_t status;
    std::string out, err;
};

E operator+(E a, const E& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::vector<uint64_t> Window(const FakeCall& map) { return {map.wide[0], map.wide[1]}; }
[[maybe_unused]] std::vector<uint32_t> Args(const FakeCall& call) { return {call.args, call.args + 5}; }

class Instance : public ::testing::Test {
protected:
    void SetUp() override { CloseQORB(nullptr), fake.Reset(); }
    void TearDown() override { CloseQORB(handle != kUntouched ? handle : nullptr); }

    template <typename Open> Opened Capture(Open open)
    {
        qorbtest::CaptureFd out(1), err(2);
        _QORB_STATUS_t status = open();
        return {status, out.Text(), err.Text()};
    }
    Opened OpenEx(const std::string& path, uint64_t base = kBase)
    {
        return Capture([&] { return OpenQORBEx(&handle, 0, path.c_str(), base, 0); });
    }
    Opened Open(const char* dir, const char* file) { return Capture([&] { return OpenQORB(&handle, 0, kBase, dir, file); }); }
    /* A refused open: its status, both printed texts, and the handle-out argument left alone. */
    void ExpectRefused(const Opened& r, _QORB_STATUS_t status, const std::string& out, const std::string& err)
    {
        EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(status, out, err));
        EXPECT_EQ(handle, kUntouched);
    }
    void* Take() { return std::exchange(handle, kUntouched); }
    /* A copy of a fakedrv build at path, with its own controls. */
    std::unique_ptr<FakeDriver> CopyTo(const std::string& path, const char* build = "fakedrv")
    {
        fs::create_directories(fs::path(path).parent_path());
        fs::copy_file(FakeDriver::Built(build), path);
        return std::make_unique<FakeDriver>(path);
    }
    /* A folder below the scratch folder whose path has exactly `length` characters. */
    std::string FolderOfLength(size_t length)
    {
        std::string path = scratch.Path();
        while (path.size() < length)
            path += "/" + std::string(std::min<size_t>(length - path.size() - 1, 100), 'p');
        if (path.back() == '/')   /* a component of 0 characters: make the one before it longer */
            path.replace(path.size() - 3, 3, "/qq");
        fs::create_directories(path);
        return path;
    }

    qorbtest::ScratchDir scratch;
    FakeDriver fake;
    void* handle = kUntouched;
};

/* ------------------------------------------------------------------------------------ open sequence */

TEST_F(Instance, EachRefusedStepFailsTheOpen)
{
    const std::string noWindow = kNoLengthFile + kInitFailed;
    struct Row {
        const char* what;
        std::vector<std::pair<uint32_t, uint32_t>> modes;
        _QORB_STATUS_t status;
        std::string out;
        E calls;
    } rows[] = {
        {"GetInterface answers 0", {{GI, FK_FAIL}}, QORB_STATUS_FAILED, "", {GI}},
        {"no OpenDriver", {{O, FK_MISSING}}, QORB_DRIVER_INIT_FAILED, kInitFailed, {GI, ZT, VT}},
        {"OpenDriver answers 0", {{O, FK_FAIL}}, QORB_DRIVER_INIT_FAILED, kInitFailed, {GI, ZT, VT, O}},
        {"no map: the length file is read", {{M, FK_MISSING}}, QORB_DRIVER_INIT_FAILED, noWindow, {GI, ZT, VT, O, Q}},
        {"no map, no query", {{M, FK_MISSING}, {Q, FK_MISSING}}, QORB_DRIVER_INIT_FAILED, noWindow, {GI, ZT, VT, O}},
        {"map answers 0: both windows tried", {{M, FK_FAIL}}, QORB_DRIVER_INIT_FAILED, noWindow, kBound + E{M}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CloseQORB(nullptr), fake.Reset();
        for (auto [entry, mode] : row.modes)
            fake.Set(entry, mode, 0);
        ExpectRefused(OpenEx(fake.path), row.status, row.out, "");
        EXPECT_EQ(fake.Entries(), row.calls);
    }
    EXPECT_EQ(Window(fake.Calls().back()), (std::vector<uint64_t>{kBase, kDefaultLength}));
    FakeDriver noInterface(FakeDriver::Built("fakedrv_noiface"));
    ExpectRefused(OpenEx(noInterface.path), QORB_STATUS_FAILED, "", "");
    EXPECT_EQ(noInterface.Entries(), E{}) << "the card tables are looked up only after the driver table";
    /* The entries a refusing GetInterface filled stay bound: the table is cleared before the call. */
    fake.Reset(), fake.Set(GI, FK_FAIL, 0);
    ExpectRefused(OpenEx(fake.path), QORB_STATUS_FAILED, "", "");
    uint64_t base, length;
    uint8_t start, end;
    EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 1);
}

TEST_F(Instance, DriverFilesThatDoNotOpen)
{
    fs::create_directory(scratch.File("dir.so"));
    WriteFile(scratch.File("text.so"), "not a shared object\n");
    ExpectRefused(OpenEx("/nonexistent/drv.so"), QORB_STATUS_FAILED, "", "Failed to open DLL file /nonexistent/drv.so. Exiting.\n");
    ExpectRefused(OpenEx(scratch.File("dir.so")), QORB_STATUS_FAILED, "", "Failed to open DLL file " + scratch.File("dir.so") + ". Exiting.\n");
    ExpectRefused(OpenEx(scratch.File("text.so")), QORB_DRIVER_INIT_FAILED, kInitFailed, "");
    EXPECT_EQ(OpenQORBEx(nullptr, 0, fake.path.c_str(), kBase, 0), QORB_INVALID_PARAMETER);
    EXPECT_EQ(OpenQORB(nullptr, 0, kBase, nullptr, nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(OpenQORBEx(&handle, 0, nullptr, kBase, 0), QORB_INVALID_PARAMETER);
    EXPECT_EQ(handle, kUntouched);
    /* Paths hold 254 characters. */
    for (size_t length : {254u, 255u, 256u, 1000u}) {
        std::string path = FolderOfLength(length - 8) + "/drv1.so";
        auto copy = CopyTo(path);
        Opened r = OpenEx(path);
        if (length != 254)
            ExpectRefused(r, QORB_STATUS_FAILED, "", "Path too long: " + path + ". Exiting.\n");
        EXPECT_EQ(r.status == QORB_SUCCESS, length == 254);
        CloseQORB(handle != kUntouched ? Take() : nullptr);
        EXPECT_EQ(copy->Count(GI), length == 254 ? 1u : 0u);
    }
    EXPECT_EQ(fake.Entries(), E{});
}

TEST_F(Instance, WindowFromTheMcfgTableElseTheConfigurationBase)
{
    fake.SetMcfg(0xC0000000ull, 0, 0x7F, 0x8000000ull);
    Opened r = OpenEx(fake.path);
    ASSERT_EQ(r.status, QORB_SUCCESS);
    EXPECT_EQ(r.out + r.err, "") << "the length file is not read when the MCFG window maps";
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(fake.Entries(), kBound);
    EXPECT_EQ(Window(fake.Calls().back()), (std::vector<uint64_t>{0xC0000000ull, 0x8000000ull}));
    EXPECT_EQ(fake.WrongContext(), 0u) << "every entry gets the context OpenDriver stored";
    CloseQORB(Take()), fake.Reset(), fake.Set(Q, FK_FAIL, 0);
    r = OpenEx(fake.path, 0xF8000000ull);
    ASSERT_EQ(r.status, QORB_SUCCESS);
    EXPECT_EQ(r.out, kNoLengthFile);
    EXPECT_EQ(Window(fake.Calls().back()), (std::vector<uint64_t>{0xF8000000ull, kDefaultLength}));
}

/* Without the MCFG query, the window's length comes from PCIECfgInfo.ini. */
TEST_F(Instance, WindowLengthFromTheLengthFile)
{
    const struct {
        const char* ini;   /* nullptr: no file; "": a folder of that name */
        uint64_t length;
    } rows[] = {
        {nullptr, kDefaultLength}, {"", kDefaultLength}, {"[CfgSpaceInfo]\nCfgSpaceLength=268435456\n", 268435456},
        {"[cfgspaceinfo]\r\ncfgspacelength = 1048576\r\n", 1048576}, {"[Other]\nCfgSpaceLength=1\n", kDefaultLength},
        {"[CfgSpaceInfo]\nLength=1\n", kDefaultLength}, {"[CfgSpaceInfo]\nCfgSpaceLength=-1\n", ~0ull},
        {"[CfgSpaceInfo]\nCfgSpaceLength=-268435456\n", 0xFFFFFFFFF0000000ull},
        {"[CfgSpaceInfo]\nCfgSpaceLength=12abc\n", 12}, {"[CfgSpaceInfo]\nCfgSpaceLength=abc\n", 0},
        {"[CfgSpaceInfo]\nCfgSpaceLength=\n", 0}, {"[CfgSpaceInfo]\nCfgSpaceLength=2147483647\n", 2147483647},
        {"[CfgSpaceInfo]\nCfgSpaceLength=4294967296\n", 2147483647},
        {"[CfgSpaceInfo]\nCfgSpaceLength=-99999999999\n", 0xFFFFFFFF80000000ull},
        {"[CfgSpaceInfo]\nCfgSpaceLength=7\nCfgSpaceLength=9\n", 7},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ini ? row.ini : "no file");
        fs::remove_all(scratch.File("PCIECfgInfo.ini"));
        if (row.ini && *row.ini)
            WriteFile(scratch.File("PCIECfgInfo.ini"), row.ini);
        else if (row.ini)
            fs::create_directory(scratch.File("PCIECfgInfo.ini"));
        CloseQORB(handle != kUntouched ? Take() : nullptr), fake.Reset(), fake.Set(Q, FK_MISSING, 0);
        fake.Set(M, FK_ANSWER, 0), fake.SetAnswer(M, 1);   /* the simulator maps no window of length 0 */
        Opened r = OpenEx(fake.path, 0x123400000ull);
        ASSERT_EQ(r.status, QORB_SUCCESS);
        EXPECT_EQ(r.out, row.ini && *row.ini ? "" : kNoLengthFile);
        EXPECT_EQ(fake.Entries(), (E{GI, ZT, VT, O, M}));
        EXPECT_EQ(Window(fake.Calls().back()), (std::vector<uint64_t>{0x123400000ull, row.length}));
    }
}

TEST_F(Instance, CardTablesAreBoundOnceWhenThereAndTheirAnswersIgnored)
{
    fake.Set(ZT, FK_FAIL, 0), fake.Set(VT, FK_FAIL, 0);
    ASSERT_EQ(OpenEx(fake.path).status, QORB_SUCCESS);
    EXPECT_EQ(std::tuple(fake.Count(ZT), fake.Count(VT)), std::tuple(1u, 1u));
    ASSERT_TRUE(g_qorbDriver.zeb && g_qorbDriver.vok);
    EXPECT_EQ(g_qorbDriver.zeb->IsZEB(7, 0, 0), 1u);
    EXPECT_NE(g_qorbDriver.vok->IsVOK(6, 0, 0), 0u);
    CloseQORB(Take());
    FakeDriver noCard(FakeDriver::Built("fakedrv_nocard"));
    ASSERT_EQ(OpenEx(noCard.path).status, QORB_SUCCESS);
    EXPECT_EQ(noCard.Entries(), (E{GI, O, Q, M}));
    EXPECT_TRUE(!g_qorbDriver.zeb && !g_qorbDriver.vok);
}

TEST_F(Instance, DriverPathsWithoutAFolderOrWithBackslashes)
{
    auto local = CopyTo(scratch.File("localdrv.so")), sub = CopyTo(scratch.File("sub/drv.so"));
    ASSERT_EQ(OpenEx("localdrv.so").status, QORB_SUCCESS) << "a bare name is a file of the current directory";
    CloseQORB(Take());
    ASSERT_EQ(OpenEx(scratch.Path() + "\\sub\\drv.so").status, QORB_SUCCESS);
    EXPECT_EQ(local->Entries(), kBound + E{C});
    EXPECT_EQ(sub->Entries(), kBound);
    EXPECT_EQ(fake.Entries(), E{});
}

TEST_F(Instance, EveryOpenBindsAgainAndMakesItsOwnInstance)
{
    ASSERT_EQ(OpenEx(fake.path).status, QORB_SUCCESS);
    void* second = kUntouched;
    ASSERT_EQ(OpenQORBEx(&second, 7, fake.path.c_str(), kBase, 0xFFFFFFFFu), QORB_SUCCESS);
    EXPECT_NE(second, handle);
    EXPECT_EQ(fake.Entries(), kBound + kBound);
    EXPECT_EQ(CloseQORB(second), QORB_SUCCESS);
    /* A file that does not load leaves the table as the earlier open bound it: the open goes on with it. */
    ASSERT_EQ(OpenEx(fake.path).status, QORB_SUCCESS);
    void* first = Take();
    fake.Reset();
    WriteFile(scratch.File("x.so"), "not a shared object");
    Opened r = OpenEx(scratch.File("x.so"));
    EXPECT_EQ(std::tuple(r.status, r.out), std::tuple(QORB_SUCCESS, ""));
    EXPECT_EQ(g_qorbDriver.libraryHandle, 0u) << "the handle is what the failed load answered";
    EXPECT_EQ(CloseQORB(first), QORB_SUCCESS);
    EXPECT_EQ(fake.Entries(), (E{O, Q, M, C}));
}

} // namespace
