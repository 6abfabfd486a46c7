/* The instance on the fake driver (open, window, INI lookup, pass-through calls, the library-wide driver every
 * open rebinds and every close clears), the command line, the interface table, status texts, the platform layer. */
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

constexpr uint32_t GI = FK_GET_INTERFACE, ZT = FK_ZEB_TABLE, VT = FK_VOK_TABLE, O = FK_OPEN, Q = FK_QUERY, M = FK_MAP,
                   R = FK_READ, X = FK_READ_EX, W = FK_WRITE, C = FK_CLOSE;
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

E operator+(E a, const E& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::vector<uint64_t> Window(const FakeCall& map) { return {map.wide[0], map.wide[1]}; }
std::vector<uint32_t> Args(const FakeCall& call) { return {call.args, call.args + 5}; }

class Instance : public ::testing::Test {
protected:
    void SetUp() override { CloseQORB(nullptr), fake.Reset(); }
    void TearDown() override { CloseQORB(handle != kUntouched ? handle : nullptr); }
    template <typename Open> Opened Capture(Open open) {
        qorbtest::CaptureFd out(1), err(2);
        _QORB_STATUS_t status = open();
        return {status, out.Text(), err.Text()};
    }
    Opened OpenEx(const std::string& path, uint64_t base = kBase) {
        return Capture([&] { return OpenQORBEx(&handle, 0, path.c_str(), base, 0); });
    }
    Opened Open(const char* dir, const char* file) {
        return Capture([&] { return OpenQORB(&handle, 0, kBase, dir, file); });
    }
    void ExpectRefused(const Opened& r, _QORB_STATUS_t status, const std::string& out, const std::string& err) {
        EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(status, out, err));
        EXPECT_EQ(handle, kUntouched);
    }
    void* Take() { return std::exchange(handle, kUntouched); }
    std::unique_ptr<FakeDriver> CopyTo(const std::string& path, const char* build = "fakedrv") {
        fs::create_directories(fs::path(path).parent_path());
        fs::copy_file(FakeDriver::Built(build), path);
        return std::make_unique<FakeDriver>(path);
    }
    /* A folder below the scratch folder whose path has exactly `length` characters. */
    std::string FolderOfLength(size_t length) {
        std::string path = scratch.Path();
        while (path.size() < length) path += "/" + std::string(std::min<size_t>(length - path.size() - 1, 100), 'p');
        if (path.back() == '/') /* a component of 0 characters: make the one before it longer */
            path.replace(path.size() - 3, 3, "/qq");
        fs::create_directories(path);
        return path;
    }
    qorbtest::ScratchDir scratch;
    FakeDriver fake;
    void* handle = kUntouched;
};

TEST_F(Instance, EachRefusedStepFailsTheOpen) {
    const std::string noWindow = kNoLengthFile + kInitFailed;
    struct Row {
        const char* what;
        std::vector<std::pair<uint32_t, uint32_t>> modes;
        _QORB_STATUS_t status;
        std::string out;
        E calls;
    } rows[] = {{"GetInterface answers 0", {{GI, FK_FAIL}}, QORB_STATUS_FAILED, "", {GI}},
        {"no OpenDriver", {{O, FK_MISSING}}, QORB_DRIVER_INIT_FAILED, kInitFailed, {GI, ZT, VT}},
        {"OpenDriver answers 0", {{O, FK_FAIL}}, QORB_DRIVER_INIT_FAILED, kInitFailed, {GI, ZT, VT, O}},
        {"no map: the length file is read", {{M, FK_MISSING}}, QORB_DRIVER_INIT_FAILED, noWindow, {GI, ZT, VT, O, Q}},
        {"no map, no query", {{M, FK_MISSING}, {Q, FK_MISSING}}, QORB_DRIVER_INIT_FAILED, noWindow, {GI, ZT, VT, O}},
        {"map answers 0: both windows tried", {{M, FK_FAIL}}, QORB_DRIVER_INIT_FAILED, noWindow, kBound + E{M}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CloseQORB(nullptr), fake.Reset();
        for (auto [entry, mode] : row.modes) fake.Set(entry, mode, 0);
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

TEST_F(Instance, DriverFilesThatDoNotOpen) {
    fs::create_directory(scratch.File("dir.so"));
    WriteFile(scratch.File("text.so"), "not a shared object\n");
    for (std::string path : {"/nonexistent/drv.so", "libc.so.6" /* never from the library path */})
        ExpectRefused(OpenEx(path), QORB_STATUS_FAILED, "", "Failed to open DLL file " + path + ". Exiting.\n");
    ExpectRefused(OpenEx(scratch.File("dir.so")), QORB_STATUS_FAILED, "",
        "Failed to open DLL file " + scratch.File("dir.so") + ". Exiting.\n");
    ExpectRefused(OpenEx(scratch.File("text.so")), QORB_DRIVER_INIT_FAILED, kInitFailed, "");
    EXPECT_EQ(OpenQORBEx(nullptr, 0, fake.path.c_str(), kBase, 0), QORB_INVALID_PARAMETER);
    EXPECT_EQ(OpenQORB(nullptr, 0, kBase, nullptr, nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(OpenQORBEx(&handle, 0, nullptr, kBase, 0), QORB_INVALID_PARAMETER);
    EXPECT_EQ(handle, kUntouched);
    for (size_t length : {254u, 255u, 256u, 1000u}) {
        std::string path = FolderOfLength(length - 8) + "/drv1.so";
        auto copy = CopyTo(path);
        Opened r = OpenEx(path);
        if (length != 254) ExpectRefused(r, QORB_STATUS_FAILED, "", "Path too long: " + path + ". Exiting.\n");
        EXPECT_EQ(r.status == QORB_SUCCESS, length == 254);
        CloseQORB(handle != kUntouched ? Take() : nullptr);
        EXPECT_EQ(copy->Count(GI), length == 254 ? 1u : 0u);
    }
    EXPECT_EQ(fake.Entries(), E{});
}

TEST_F(Instance, WindowFromTheMcfgTableElseTheConfigurationBase) {
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

TEST_F(Instance, WindowLengthFromTheLengthFile) {
    const struct {
        const char* ini; /* nullptr: no file; "": a folder of that name */
        uint64_t length;
    } rows[] = {{nullptr, kDefaultLength}, {"", kDefaultLength},
        {"[CfgSpaceInfo]\nCfgSpaceLength=268435456\n", 268435456},
        {"[cfgspaceinfo]\r\ncfgspacelength = 1048576\r\n", 1048576}, {"[Other]\nCfgSpaceLength=1\n", kDefaultLength},
        {"[CfgSpaceInfo]\nLength=1\n", kDefaultLength}, {"[CfgSpaceInfo]\nCfgSpaceLength=-1\n", ~0ull},
        {"[CfgSpaceInfo]\nCfgSpaceLength=-268435456\n", 0xFFFFFFFFF0000000ull},
        {"[CfgSpaceInfo]\nCfgSpaceLength=12abc\n", 12}, {"[CfgSpaceInfo]\nCfgSpaceLength=abc\n", 0},
        {"[CfgSpaceInfo]\nCfgSpaceLength=\n", 0}, {"[CfgSpaceInfo]\nCfgSpaceLength=2147483647\n", 2147483647},
        {"[CfgSpaceInfo]\nCfgSpaceLength=4294967296\n", 2147483647},
        {"[CfgSpaceInfo]\nCfgSpaceLength=-99999999999\n", 0xFFFFFFFF80000000ull},
        {"[CfgSpaceInfo]\nCfgSpaceLength=7\nCfgSpaceLength=9\n", 7}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ini ? row.ini : "no file");
        fs::remove_all(scratch.File("PCIECfgInfo.ini"));
        if (row.ini && *row.ini) WriteFile(scratch.File("PCIECfgInfo.ini"), row.ini);
        else if (row.ini) fs::create_directory(scratch.File("PCIECfgInfo.ini"));
        CloseQORB(handle != kUntouched ? Take() : nullptr), fake.Reset(), fake.Set(Q, FK_MISSING, 0);
        fake.Set(M, FK_ANSWER, 0), fake.SetAnswer(M, 1); /* the simulator maps no window of length 0 */
        Opened r = OpenEx(fake.path, 0x123400000ull);
        ASSERT_EQ(r.status, QORB_SUCCESS);
        EXPECT_EQ(r.out, row.ini && *row.ini ? "" : kNoLengthFile);
        EXPECT_EQ(fake.Entries(), (E{GI, ZT, VT, O, M}));
        EXPECT_EQ(Window(fake.Calls().back()), (std::vector<uint64_t>{0x123400000ull, row.length}));
    }
}

TEST_F(Instance, CardTablesAreBoundOnceWhenThereAndTheirAnswersIgnored) {
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

TEST_F(Instance, DriverPathsWithoutAFolderOrWithBackslashes) {
    auto local = CopyTo(scratch.File("localdrv.so")), sub = CopyTo(scratch.File("sub/drv.so"));
    ASSERT_EQ(OpenEx("localdrv.so").status, QORB_SUCCESS) << "a bare name is a file of the current directory";
    CloseQORB(Take());
    ASSERT_EQ(OpenEx(scratch.Path() + "\\sub\\drv.so").status, QORB_SUCCESS);
    EXPECT_EQ(local->Entries(), kBound + E{C});
    EXPECT_EQ(sub->Entries(), kBound);
    EXPECT_EQ(fake.Entries(), E{});
}

TEST_F(Instance, IniFileNamesTheDriverOfTheCurrentDirectory) {
    auto local = CopyTo(scratch.File("drv.so")), besideIni = CopyTo(scratch.File("ini/drv.so"), "fakedrv_nocard");
    CopyTo(scratch.File("Dll not found")), CopyTo(scratch.File("ini/other.so"));
    const std::string name31 = "abcdefghijklmnopqrstuvwxyz01234", cwd = scratch.Path();
    const std::string longName = "[DLL]\nDLLName=" + name31 + "56789.so\n"; /* cut to 31 characters */
    auto cut = CopyTo(scratch.File(name31));
    const std::string noIni
        = "file with name[" + qorbtest::Backslashed(cwd) + "\\ini\\\\VERDAapp.ini] cannot be opened\n";
    const struct {
        const char* ini; /* ini/VERDAapp.ini; nullptr: none */
        _QORB_STATUS_t status;
        std::string out, err;
        FakeDriver* opened;
    } rows[] = {{"; the driver\n[dll]\n  dllname = \"drv.so\"\n", QORB_SUCCESS, "", "", local.get()},
        {longName.c_str(), QORB_SUCCESS, "", "", cut.get()}, {nullptr, QORB_STATUS_FAILED, noIni, kNoDll, nullptr},
        {"[DLL]\nOther=drv.so\n", QORB_STATUS_FAILED, "", kNoDll, nullptr},
        {"[Driver]\nDLLName=drv.so\n", QORB_STATUS_FAILED, "", kNoDll, nullptr},
        {"DLLName=drv.so\n", QORB_STATUS_FAILED, "", kNoDll, nullptr},
        {"[DLL]\nDLLName=Dll not found\n", QORB_STATUS_FAILED, "", kNoDll, nullptr},
        {"[DLL]\nDLLName=\n", QORB_STATUS_FAILED, "", "Failed to open DLL file " + cwd + "\\. Exiting.\n", nullptr},
        {"[DLL]\nDLLName=other.so\n", QORB_STATUS_FAILED, "",
            "Failed to open DLL file " + cwd + "\\other.so. Exiting.\n", nullptr}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ini ? row.ini : "no INI file");
        fs::remove(scratch.File("ini/VERDAapp.ini"));
        if (row.ini) WriteFile(scratch.File("ini/VERDAapp.ini"), row.ini);
        Opened r = Open(nullptr, nullptr);
        if (row.opened) EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(row.status, row.out, row.err));
        else ExpectRefused(r, row.status, row.out, row.err);
        EXPECT_EQ(row.opened ? row.opened->Count(O) : 0u, row.opened ? 1u : 0u);
        CloseQORB(handle != kUntouched ? Take() : nullptr);
    }
    EXPECT_EQ(besideIni->Count(GI) + fake.Count(GI), 0u);
    /* A folder argument is taken as given (a relative one from the current directory; one ending in a
     * backslash gets no second one); a file argument alone is looked up in ini/. */
    WriteFile(scratch.File("conf/app.ini"), "[DLL]\nDLLName=drv.so\n");
    WriteFile(scratch.File("ini/app2.ini"), "[DLL]\nDLLName=drv.so\n");
    for (auto [dir, file] : {std::pair{scratch.File("conf"), "app.ini"}, {"conf\\", "app.ini"}, {"", "app2.ini"}}) {
        Opened r = Open(dir.empty() ? nullptr : dir.c_str(), file);
        EXPECT_EQ(r.status, QORB_SUCCESS) << r.out << r.err;
        CloseQORB(Take());
    }
    EXPECT_EQ(local->Count(O), 4u);
    Opened r = Open(scratch.File("conf").c_str(), "sub/app.ini");
    EXPECT_EQ(
        r.out, "file with name[" + qorbtest::Backslashed(scratch.File("conf")) + "\\sub\\app.ini] cannot be opened\n");
    EXPECT_EQ(Open("conf\\", "x.ini").out, "file with name[conf\\x.ini] cannot be opened\n");
    EXPECT_EQ(Open("", "x.ini").out, "file with name[\\x.ini] cannot be opened\n") << "an empty folder";
}

/* The INI path holds 254 characters; with the default folder the current directory takes 18 more. */
TEST_F(Instance, IniPathBounds) {
    auto local = CopyTo(scratch.File("drv.so"));
    const std::string cwd = scratch.Path(), dir = FolderOfLength(254 - 8), huge(300, 'h'), dir236 = FolderOfLength(236),
                      dir237 = FolderOfLength(237), dir250 = FolderOfLength(250), dir300 = FolderOfLength(300);
    WriteFile(dir + "/app.ini", "[DLL]\nDLLName=drv.so\n");
    WriteFile(dir236 + "/ini/VERDAapp.ini", "[DLL]\nDLLName=d.so\n");
    WriteFile(dir236 + "/app.ini", "[DLL]\nDLLName=d.so\n");
    auto d = CopyTo(dir236 + "/d.so");
    const struct {
        std::string cwd;
        const char *dir, *file;
        std::string tooLong; /* "": opens */
    } rows[] = {{cwd, dir.c_str(), "app.ini", ""}, {cwd, dir.c_str(), "app1.ini", dir + "\\app1.ini"},
        {cwd, huge.c_str(), "a.ini", huge + "\\a.ini"}, {dir236, nullptr, nullptr, ""},
        {dir237, nullptr, nullptr, dir237 + "/ini/\\VERDAapp.ini"}, {dir250, nullptr, nullptr, dir250 + "/ini/"},
        {dir300, nullptr, nullptr, dir300}, {dir300, dir236.c_str(), "app.ini", dir300}};
    for (const auto& row : rows) {
        ASSERT_EQ(chdir(row.cwd.c_str()), 0);
        Opened r = Open(row.dir, row.file);
        if (!row.tooLong.empty())
            ExpectRefused(r, QORB_STATUS_FAILED, "", "Path too long: " + row.tooLong + ". Exiting.\n");
        else EXPECT_EQ(std::tuple(r.status, CloseQORB(Take())), std::tuple(QORB_SUCCESS, QORB_SUCCESS)) << r.err;
    }
    EXPECT_EQ(Open(dir.c_str(), huge.c_str()).status, QORB_STATUS_FAILED);
    EXPECT_EQ(std::tuple(d->Count(O), local->Count(O)), std::tuple(1u, 1u));
    ASSERT_EQ(chdir(cwd.c_str()), 0);
}

/* The driver is the library's, not an instance's: every open binds it again for every instance, any close closes it
 * for all. The calls that go through forward its answers, at the record's location, with the context it stored. */
TEST_F(Instance, PassThroughCallsReachTheOneDriverTheLastOpenBound) {
    uint64_t base = 1, size = 1;
    uint8_t start = 1, end = 1, bytes[8] = {}, line = 0x0B;
    uint32_t length = 8;
    QORB_DEVICE_t record{};
    record.bus = 9;
    auto query = [&] { return QueryAcpiMcfgTableInfo(&base, &start, &end, &size); };
    auto raw = [&] { return QORB_ReadConfigSpace_Ex(0, 9, 0, 0, 0, bytes); };
    auto read = [&](uint32_t n) { return length = n, ReadConfigSpace(&record, bytes, 0, &length); };
    auto write = [&](uint8_t* data) { return WriteConfigSpace(&record, data, PCI_INTERRUPT_LINE, &length); };
    EXPECT_EQ(std::tuple(query(), raw()), std::tuple(0, 0u)) << "no driver";
    ASSERT_EQ(OpenEx(fake.path).status, QORB_SUCCESS);
    void* second = kUntouched;
    ASSERT_EQ(OpenQORBEx(&second, 7, fake.path.c_str(), kBase, 0xFFFFFFFFu), QORB_SUCCESS);
    EXPECT_NE(second, handle);
    EXPECT_EQ(fake.Entries(), kBound + kBound);
    fake.Reset();
    EXPECT_EQ(query(), 1);
    EXPECT_EQ(std::tuple(base, start, end, size), std::tuple(kBase, 0, 255, 0x10000000ull));
    EXPECT_EQ(raw(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{0x53, 0x51, 0x50, 0x10}));
    for (uint32_t entry : {Q, X}) fake.Set(entry, FK_ANSWER, 0), fake.SetAnswer(entry, entry == Q ? 7 : 0xDEADBEEFu);
    EXPECT_EQ(query(), 7);
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(1, 2, 3, 0x100, 0xFFFFFFFFu, bytes), 0xDEADBEEFu);
    EXPECT_EQ(Args(fake.Calls().back()), (std::vector<uint32_t>{1, 2, 3, 0x100, 0xFFFFFFFFu}));
    EXPECT_EQ(read(8), QORB_SUCCESS);
    EXPECT_EQ(Args(fake.Calls().back()), (std::vector<uint32_t>{9, 0, 0, 0, 8}));
    EXPECT_EQ(std::tuple(length, bytes[0], bytes[3]), std::tuple(8u, 0x53, 0x10));
    fake.Set(R, FK_SHORT, 0);
    EXPECT_EQ(read(8), QORB_PCIE_CONFIG_READ_FAILED);
    EXPECT_EQ(length, 4u) << "the driver's count is handed back";
    length = 1;
    EXPECT_EQ(write(&line), QORB_SUCCESS);
    EXPECT_EQ(Args(fake.Calls().back()), (std::vector<uint32_t>{9, 0, 0, PCI_INTERRUPT_LINE, 1}));
    EXPECT_EQ(std::tuple(fake.Calls().back().data[0], length), std::tuple(0x0B, 1u));
    fake.Set(W, FK_OVER, 0);
    EXPECT_EQ(write(&line), QORB_PCIE_CONFIG_WRITE_FAILED);
    EXPECT_EQ(length, 65u);
    EXPECT_EQ(read(0), QORB_SUCCESS) << "nothing asked, the driver not called";
    EXPECT_EQ(ReadConfigSpace(nullptr, bytes, 0, &length), QORB_INVALID_PARAMETER);
    EXPECT_EQ(WriteConfigSpace(&record, bytes, 0, nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(std::tuple(fake.Count(R), fake.Count(W), fake.WrongContext()), std::tuple(2u, 2u, 0u));
    _PCI_CONFIG_SPACE_HEADER_t* header = reinterpret_cast<_PCI_CONFIG_SPACE_HEADER_t*>(bytes);
    EXPECT_EQ(std::tuple(GetDevConfigPtr(&record, &header), header), std::tuple(QORB_SUCCESS, nullptr));
    EXPECT_EQ(GetDevConfigSpace(&record, &header), QORB_SUCCESS);
    EXPECT_EQ(WriteDeviceStatusReg(&record, 1, 1, 1, 1), QORB_INVALID_PARAMETER);
    EXPECT_EQ(CloseQORB(second) | CloseQORB(Take()), QORB_SUCCESS);
    for (uint32_t missing : {Q, R, X}) { /* each needs its entries: the raw read both read entries */
        fake.Reset(), fake.Set(missing, FK_MISSING, 0);
        ASSERT_EQ(OpenEx(fake.path).status, QORB_SUCCESS);
        EXPECT_EQ(missing == Q ? query() : int(raw()), 0);
        EXPECT_EQ(fake.Count(X), 0u);
        CloseQORB(Take());
    }
    fake.Reset();
    EXPECT_EQ(std::tuple(query(), raw()), std::tuple(0, 0u)) << "closed";
    EXPECT_EQ(fake.Entries(), E{}) << "the closed driver is not called";
    FakeDriver noCard(FakeDriver::Built("fakedrv_nocard"));
    noCard.Set(X, FK_MISSING, 0), noCard.Set(W, FK_MISSING, 0);
    ASSERT_EQ(OpenEx(fake.path).status, QORB_SUCCESS);
    void* first = Take();
    _ZEB_LIB_INTERFACE_t* zeb = g_qorbDriver.zeb;
    ASSERT_EQ(OpenEx(noCard.path).status, QORB_SUCCESS);
    EXPECT_EQ(g_qorbDriver.zeb, zeb) << "a driver without card tables leaves the bound ones";
    EXPECT_EQ(read(4), QORB_SUCCESS);
    EXPECT_EQ(write(bytes), QORB_PCIE_CONFIG_WRITE_FAILED) << "entries not rebound go";
    EXPECT_EQ(raw(), 0u);
    EXPECT_EQ(CloseQORB(first), QORB_SUCCESS);
    EXPECT_EQ(fake.Entries(), kBound);
    EXPECT_EQ(noCard.Entries(), (E{GI, O, Q, M, R, C})) << "the second driver served both and closed for both";
    EXPECT_EQ(noCard.WrongContext(), 0u);
    EXPECT_TRUE(!g_qorbDriver.zeb && !g_qorbDriver.vok && !g_qorbDriver.libraryHandle);
    const _CONFIG_DRIVER_INTERFACE_t empty{};
    EXPECT_EQ(memcmp(&g_qorbDriver.table, &empty, sizeof empty), 0) << "every entry cleared";
    EXPECT_EQ(read(4), QORB_PCIE_CONFIG_READ_FAILED);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(CloseQORB(Take()), QORB_SUCCESS);
    EXPECT_EQ(noCard.Count(C), 1u) << "a second close finds no driver to close";
    /* A file that does not load leaves the table as the earlier open bound it: the open goes on with it. */
    ASSERT_EQ(OpenEx(fake.path).status, QORB_SUCCESS);
    first = Take(), fake.Reset();
    WriteFile(scratch.File("x.so"), "not a shared object");
    Opened r = OpenEx(scratch.File("x.so"));
    EXPECT_EQ(std::tuple(r.status, r.out), std::tuple(QORB_SUCCESS, ""));
    EXPECT_EQ(g_qorbDriver.libraryHandle, 0u) << "the handle is what the failed load answered";
    EXPECT_EQ(CloseQORB(first) | CloseQORB(Take()), QORB_SUCCESS);
    ASSERT_EQ(OpenEx(fake.path).status, QORB_SUCCESS);
    EXPECT_EQ(CloseQORB(nullptr), QORB_SUCCESS) << "a close without an instance still closes the driver";
    EXPECT_EQ(fake.Entries(), (E{O, Q, M, C}) + kBound + E{C});
}

/* Applications index the interface table by position: each slot reaches its operation. */
TEST_F(Instance, InterfaceTableSlotsReachTheirOperations) {
    EXPECT_EQ(QORBGetIntf(nullptr), QORB_INVALID_PARAMETER);
    _QORB_INTF_t t;
    memset(&t, 0xA5, sizeof t);
    ASSERT_EQ(QORBGetIntf(&t), QORB_SUCCESS);
    EXPECT_EQ(std::tuple(t.slot[0], t.slot[10], t.slot[11], t.slot[19]), std::tuple(0x00010001u, 0u, 0u, 0u));
    ASSERT_EQ(OpenEx(fake.path).status, QORB_SUCCESS);
    using S = _QORB_STATUS_t;
    void *card = nullptr, *dut = nullptr, *found = nullptr;
    _QORB_DEVICE_FIND_INFO_t info{};
    info.busNumber = 9;
    _QORB_ZEB_OP_MODE_t mode{};
    _qorb_cmd_map_t command{};
    uint8_t bytes[4] = {};
    uint32_t four = 4;
    constexpr S OK = QORB_SUCCESS, IP = QORB_INVALID_PARAMETER;
    const struct {
        int slot;
        uint32_t entry; /* reached through the fake; FK_ENTRIES: none */
        S status;
        std::function<S()> call;
    } rows[] = {
#define ROW(i, entry, status, types, ...)                                                                              \
    {                                                                                                                  \
        i, entry, status, [&] { return reinterpret_cast<S(*) types>(t.slot[i])(__VA_ARGS__); }                         \
    }
        ROW(15, R, OK, (uint8_t, uint8_t, uint8_t, void**), 7, 0, 0, &card),
        ROW(16, R, OK, (uint16_t, uint16_t, void**), 0x1050, 0x5153, &dut),
        ROW(17, R, OK, (void*, void**, uint32_t, _QORB_DEVICE_FIND_INFO_t*), handle, &found, QORB_FIND_LOCATION, &info),
        ROW(8, R, OK, (void*, _QORB_ACCESS_MODE_t), dut, _QORB_ACCESS_MODE_t{}),
        ROW(12, R, OK, (void*, uint8_t*, uint32_t, uint32_t*), dut, bytes, 0, &four),
        ROW(13, W, OK, (void*, uint8_t*, uint32_t, uint32_t*), dut, bytes, 0x3C, &four),
        ROW(3, FK_ZEB + 12, OK, (void*, _QORB_ZEB_OP_MODE_t), card, QORB_ZEB_MODE_MONITOR),
        ROW(4, FK_ZEB + 13, OK, (void*, _QORB_ZEB_OP_MODE_t*), card, &mode),
        ROW(5, FK_ZEB + 11, OK, (void*, _qorb_cmd_map_t*), card, &command),
        ROW(6, FK_ZEB + 10, OK, (void*, uint32_t), card, 0), ROW(7, FK_ZEB + 8, OK, (void*), card),
        ROW(14, FK_ZEB + 2, OK, (void*, uint32_t), card, 0x1C),
        ROW(18, FK_ENTRIES, IP, (void*, int, int, int, int), dut, 1, 1, 1, 1),
        ROW(1, FK_ENTRIES, IP, (void**, int, uint64_t, const char*, const char*), 0, 0, 0, 0, 0),
        ROW(9, FK_ENTRIES, OK, (void*), std::exchange(card, nullptr)), ROW(2, C, OK, (void*), Take())};
#undef ROW
    for (const auto& row : rows) {
        fake.Reset();
        EXPECT_EQ(row.call(), row.status) << "slot " << row.slot;
        EXPECT_NE(row.entry == FK_ENTRIES ? 1u : fake.Count(row.entry), 0u) << "slot " << row.slot;
    }
    EXPECT_EQ(std::tuple(card != nullptr, dut != nullptr, found != nullptr), std::tuple(false, true, true));
    void* parent = nullptr;
    GetParentDevice(dut, &parent), CloseDevice(parent), CloseDevice(dut), CloseDevice(found);
}

TEST(StatusText, EachStatusItsTextOthersInvalid) {
    const std::pair<uint32_t, const char*> rows[] = {{QORB_SUCCESS, "QORB :: SUCCESS"},
        {QORB_MULTIPLE_INSTANCES_OF_CAP, "QORB :: MULTIPLE INSTANCES OF CAP FOUND"},
        {QORB_NO_DAT_FILE, "QORB :: NO DAT FILE"}, {QORB_PCIE_CONFIG_WRITE_FAILED, "QORB :: PCIE CONFIG WRITE FAILED"},
        {QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP, "QORB :: PCIE MULTIPLE INSTANCES OF CAP FOUND"},
        {0x80000021u, "QORB :: PCIE CAP DOES NOT EXIST"}, {0x80000023u, "QORB :: PCIE CAP DOES NOT EXIST"},
        {0x80000016u, "QORB :: Invalid Error Code"}, {0x80000012u, "QORB :: Invalid Error Code"},
        {0x8000000du, "QORB :: Invalid Error Code"}, {0x80000002u, "QORB :: Invalid Error Code"},
        {0xFFFFFFFFu, "QORB :: Invalid Error Code"}, {2u, "QORB :: Invalid Error Code"}};
    for (auto [status, text] : rows) EXPECT_STREQ(QORBGetErrorDesc(status), text) << std::hex << status;
    EXPECT_EQ(QORBGetErrorDesc(0x12345678u), QORBGetErrorDesc(0x12345678u)) << "the same text, not a copy";
}

TEST(CommandLine, OptionsHelpAndValues) {
    const struct {
        std::vector<std::string> args;
        int result;
        const char *d, *l;
        int argc = -1; /* -1: every argument */
    } rows[] = {{{"prog", "-D", "x", "-L", "y"}, 0, "x", "y"},
        {{"prog", "-l", "log.txt", "-d", "dat.xml", "-H"}, 1, "dat.xml", "log.txt"}, {{"prog"}, 0, "", ""},
        {{"prog", "-d"}, 0, "", ""}, {{"prog", "-l"}, 0, "", ""}, {{"prog", "x", "-h"}, 1, "", ""},
        {{"prog", "-h", "-d", "x"}, 1, "x", ""}, {{"prog", "-help"}, 0, "", ""}, {{"prog", "h"}, 0, "", ""},
        {{"prog", "-d", "-h"}, 0, "-h", "", /* the value is never an option */},
        {{"-h", "-l", "a", "-l", "b"}, 0, "", "b", /* the first is the program; the last value is kept */},
        {{"prog", "-d", "v", "-h"}, 0, "", "", 2}, {{"prog", "-d", "v", "-h"}, 0, "v", "", 3},
        {{"-h", "-h"}, 0, "", "", 0}, {{"prog", "-l", "v"}, 0, "", "", 2}};
    for (auto row : rows) {
        std::vector<char*> argv;
        for (std::string& a : row.args) argv.push_back(a.data());
        argv.push_back(nullptr);
        char d[16], l[16];
        memset(d, 'x', sizeof d), memset(l, 'x', sizeof l);
        int result = ParseCmdLineOptions(row.argc < 0 ? int(row.args.size()) : row.argc, argv.data(), d, l);
        EXPECT_EQ(std::tuple(result, std::string(d), std::string(l)), std::tuple(row.result, row.d, row.l))
            << argv.size();
    }
}

using Clock = std::chrono::steady_clock;
long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(Platform, FilesFoldersAndTheCurrentDirectory) {
    qorbtest::ScratchDir scratch;
    char out[512];
    uint32_t size = uint32_t(scratch.Path().size());
    EXPECT_EQ(PlatformGetCurrentDirectory(sizeof out, out), size);
    EXPECT_EQ(out, scratch.Path());
    EXPECT_EQ(std::tuple(PlatformGetCurrentDirectory(size, out), out[0]), std::tuple(0u, '\0'))
        << "no room for the end";
    EXPECT_EQ(PlatformGetCurrentDirectory(size + 1, out), size);
    WriteFile(scratch.File("a/b.txt"), "content");
    EXPECT_EQ(
        std::tuple(PlatformFileSystemPath("a\\b.txt"), PlatformFileSystemPath(nullptr)), std::tuple("a/b.txt", ""));
    FILE* f = PlatformOpenFile("a\\b.txt", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fread(out, 1, sizeof out, f), 7u);
    fclose(f);
    for (auto [path, mode] : {std::pair{"a", "r"}, {"a\\missing", "r"}, {nullptr, "r"}, {"a\\b.txt", nullptr}})
        EXPECT_EQ(PlatformOpenFile(path, mode), nullptr) << (path ? path : "null") << " " << (mode ? mode : "null");
    ASSERT_NE(f = PlatformOpenFile("a\\new.txt", "w"), nullptr);
    fclose(f);
    EXPECT_TRUE(qorbtest::FileExists(scratch.File("a/new.txt")));
}

/* Signals interrupt the sleep; it goes on for the rest of its time. */
TEST(Platform, SleepLastsItsTimeThroughSignals) {
    struct sigaction action {
    }, old{};
    action.sa_handler = [](int) {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &old), 0);
    std::atomic<bool> done{false};
    pthread_t sleeper = pthread_self();
    std::thread interrupter([&] {
        while (!done) pthread_kill(sleeper, SIGUSR1), std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    for (uint32_t ms : {0u, 150u, 1005u}) {
        Clock::time_point start = Clock::now();
        PlatformSleep(ms);
        EXPECT_GE(MsSince(start), ms);
    }
    done = true;
    interrupter.join();
    sigaction(SIGUSR1, &old, nullptr);
}

TEST(Platform, EventsResetThemselvesAndReleaseOneWaiter) {
    EXPECT_EQ(std::tuple(PlatformWaitEvent(nullptr, 0), PlatformSetEvent(nullptr), PlatformResetEvent(nullptr)),
        std::tuple(QORB_WAIT_FAILED, 0, 0));
    PlatformCloseEvent(nullptr);
    void* event = PlatformCreateEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(PlatformWaitEvent(event, 0), QORB_WAIT_TIMEOUT) << "created unsignalled";
    EXPECT_EQ(PlatformSetEvent(event) + PlatformSetEvent(event), 2) << "setting a set event keeps one signal";
    EXPECT_EQ(PlatformWaitEvent(event, 0), QORB_WAIT_SIGNALED);
    EXPECT_EQ(PlatformWaitEvent(event, 0), QORB_WAIT_TIMEOUT) << "the wait consumed the signal";
    EXPECT_EQ(PlatformSetEvent(event) + PlatformResetEvent(event), 2);
    for (uint32_t ms : {0u, 120u, 1010u}) {
        Clock::time_point start = Clock::now();
        EXPECT_EQ(PlatformWaitEvent(event, ms), QORB_WAIT_TIMEOUT);
        EXPECT_GE(MsSince(start), ms) << "no earlier than its time";
    }
    std::atomic<int> signalled{0};
    auto wait = [&](uint32_t ms) { signalled += PlatformWaitEvent(event, ms) == QORB_WAIT_SIGNALED; };
    std::thread a(wait, 400), b(wait, 400);
    PlatformSleep(50);
    PlatformSetEvent(event);
    a.join(), b.join();
    EXPECT_EQ(signalled, 1) << "one set releases one waiter";
    std::thread endless(wait, 0xFFFFFFFFu);
    PlatformSleep(50);
    PlatformSetEvent(event);
    endless.join();
    EXPECT_EQ(signalled, 2);
    PlatformCloseEvent(event);
}

TEST(Platform, ProfileLookupsAnswerTheValueOrTheDefault) {
    qorbtest::ScratchDir scratch;
    const std::string dll = "[DLL]\nOther=x\n \tDLLName=drv.so\n[Empty]\n", cut = "[S]\nk=0123456789\n";
    const std::string blanks
        = "\xEF\xBB\xBF[S]\r\n  key one  =  two words  \r\nq=\"quoted\"\nsq='x'\nodd=\"half\none=\"\nempty=\n";
    /* Lines are read 199 characters at a time: the rest of a long comment must not become a line. */
    const std::string comments = "; c\n# c\n[S]\n;k=no\n; " + std::string(197, 'x')
        + "k=tail\nk=real ; note\nlong=" + std::string(150, 'v') + "\n";
    const struct {
        const std::string* ini; /* nullptr: no file */
        const char *section, *key, *defaultValue;
        uint32_t size;
        std::string expected;
    } rows[] = {{nullptr, "DLL", "DLLName", "dflt", 64, "dflt"}, {&dll, "DLL", "DLLName", "dflt", 64, "drv.so"},
        {&dll, "Other", "DLLName", "dflt", 64, "dflt"}, {&dll, "DLL", "Missing", "dflt", 64, "dflt"},
        {&dll, "DLL", "Missing", nullptr, 64, ""}, {&dll, "Empty", "Other", "dflt", 64, "dflt"},
        {&dll, "dll", "DLLNAME", "dflt", 64, "drv.so"}, {&cut, "S", "k", "dflt", 11, "0123456789"},
        {&cut, "S", "k", "dflt", 10, "012345678"}, {&cut, "S", "k", "dflt", 1, ""},
        {&cut, "S", "no", "default", 5, "defa"}, {&blanks, "S", "key one", "dflt", 64, "two words"},
        {&blanks, "S", "q", "dflt", 64, "quoted"}, {&blanks, "S", "sq", "dflt", 64, "x"},
        {&blanks, "S", "odd", "dflt", 64, "\"half"}, {&blanks, "S", "one", "dflt", 64, "\""},
        {&blanks, "S", "empty", "dflt", 64, ""}, {&comments, "S", "k", "dflt", 64, "real"},
        {&comments, "S", "long", "", 400, std::string(150, 'v')}};
    for (const auto& row : rows) {
        fs::remove(scratch.File("app.ini"));
        if (row.ini) WriteFile(scratch.File("app.ini"), *row.ini);
        char out[512];
        memset(out, '#', sizeof out);
        uint32_t n = PlatformGetPrivateProfileString(row.section, row.key, row.defaultValue, out, row.size, "app.ini");
        EXPECT_EQ(std::tuple(std::string(out), n), std::tuple(row.expected, uint32_t(row.expected.size()))) << row.key;
    }
    WriteFile(scratch.File("ini/app.ini"), "[A]\nk=v\n[a]\nk=w\n");
    fs::create_directory(scratch.File("dir.ini"));
    char out[8] = "abc";
    for (std::string path : {qorbtest::Backslashed(scratch.File("ini/app.ini")), std::string("ini\\app.ini"),
             scratch.Path() + "/ini//app.ini"})
        EXPECT_EQ(std::tuple(PlatformGetPrivateProfileString("a", "K", "d", out, 8, path.c_str()), out[0]),
            std::tuple(1u, 'v'));
    EXPECT_EQ(PlatformGetPrivateProfileString("S", "k", "d", out, sizeof out, "dir.ini"), 1u);
    EXPECT_EQ(PlatformGetPrivateProfileString("S", "k", "dd", out, sizeof out, nullptr), 2u);
    EXPECT_EQ(PlatformGetPrivateProfileString("A", "k", "d", out, 0, "ini/app.ini"), 0u);
    EXPECT_STREQ(out, "dd") << "a buffer of size 0 is not written";
}

} // namespace

/* Closing twice, or closing a pointer that never came from an open, releases nothing twice; a close detaches the
 * instance's device records. */
TEST_F(Instance, ClosesAreHarmlessWhenRepeated) {
    ASSERT_EQ(OpenEx(fake.path).status, QORB_SUCCESS);
    auto* instance = static_cast<QORB_INSTANCE_t*>(handle);
    EXPECT_STREQ(instance->userName, "qorb_user");
    EXPECT_EQ(cl_qlist_count(&instance->deviceList), 0u);
    QORB_DEVICE_t a{}, b{};
    InsertDeviceIntoInstance(instance, &a), InsertDeviceIntoInstance(instance, &b);
    void* closed = Take();
    QORB_INSTANCE_t stranger{};
    EXPECT_EQ((std::vector{CloseQORB(closed), CloseQORB(closed), CloseQORB(&stranger)}),
        std::vector<_QORB_STATUS_t>(3, QORB_SUCCESS));
    EXPECT_TRUE(!a.owner && !b.owner) << "the instance's records are detached, and remain the finder's to close";
    EXPECT_EQ(fake.Count(C), 1u) << "the driver is closed once";
}
