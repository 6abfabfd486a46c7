/* The tool's errors and AER view: statuses by name and sentence, every AER bit of a dump, platform-file values
 * refused with file:line, output files only when complete, the library's diagnostics only with --debug. */
#include <gtest/gtest.h>
#include <dirent.h>
#include <algorithm>
#include "qorb_test_support.h"
#include "status.h"

using namespace qorbtest;

TEST(ToolErrors, StatusSentencesPerFamily) {
    /* status, sentence given; the line (0x80000021 and 0x80000023 share one library text) */
    const std::vector<std::tuple<uint32_t, const char*, const char*>> rows = {
        {0x80000016, "no function at 0a:00.0", "QORB_DEVICE_NOT_FOUND (0x80000016): no function at 0a:00.0"},
        {0x8000001c, "", "QORB_FIND_DEVICE_FAILED (0x8000001c): no function matches the search"},
        {0x80000001, "", "QORB_DRIVER_INIT_FAILED (0x80000001): the configuration driver did not start"},
        {0x8000001f, "",
            "QORB_PCIE_CONFIG_READ_FAILED (0x8000001f): the configuration driver could not read the "
            "registers"},
        {0x80000021, "", "QORB_PCIE_CAP_DOES_NOT_EXIST (0x80000021): the capability list has no further entry"},
        {0x80000023, "", "QORB_PCIE_CAP_OUT_OF_RANGE (0x80000023): the function does not have this capability"},
        {0x8000000b, "", "QORB_LOG_NOT_OPEN (0x8000000b): the log is not open"},
        {0x8000000a, "", "QORB_NO_DAT_FILE (0x8000000a): the platform file cannot be opened or is not well-formed XML"},
        {0x80000010, "", "QORB_EVENT_TIMEOUT (0x80000010): the wait on the dialog event timed out"},
        {0x8000fa11, "",
            "status 0x8000fa11: a status the library does not define, passed on from the test card "
            "library"}};
    for (const auto& [status, sentence, line] : rows) EXPECT_EQ(qorbcli::StatusLine(status, sentence), line);
}

namespace {
/* 00:01.0, a root port: ERR_COR and a non-fatal message received from 01:00.0 (interrupt message 1); 01:00.0, an
 * endpoint with uncorrectable bits 22-26 (22 fatal), correctable 14-15 and a Header Log; 02:00.0 without AER. */
std::string AerPlatform() {
    ConfigSpace port, ep, plain;
    port.Header(0x5153, 0x1001, 0x06, 0x04, 0, 1).Buses(0, 1, 1).CapPointer(0x40).PcieCap(0x40, 4, 0);
    port.ExtCap(0x100, 1, 0).Set32(0x12c, 7).Set32(0x130, 0x08000025).Set32(0x134, 0x01000100);
    ep.Header(0x5153, 0x2000, 0x02, 0, 0, 0).CapPointer(0x40).PcieCap(0x40, 0, 0).ExtCap(0x100, 1, 0);
    ep.Set32(0x104, 0x07c00000).Set32(0x10c, 0x00400000).Set32(0x110, 0xc000).Set32(0x118, 0x36);
    ep.Set32(0x11c, 0x04000001).Set32(0x120, 0x0000010f).Set32(0x124, 0x01000004);
    plain.Header(0x5153, 0x3000, 0x02, 0, 0, 0).CapPointer(0x40).PcieCap(0x40, 0, 0);
    return DumpText({{0, 1, 0, port}, {1, 0, 0, ep}, {2, 0, 0, plain}});
}
constexpr const char* kAer = "[platform]\ndump = aer.txt\n";
/* qorbsim.ini, command line ("ENV qorb ARGS", @FAKE the fake driver), exit status, standard error and output as
 * "=whole text" or a part of it, and for runs that may write files, the output files there afterwards. */
struct Row {
    const char *ini, *args;
    int status;
    const char *err, *out, *files = nullptr;
};
bool Matches(const std::string& text, const std::string& want) {
    return want[0] == '=' ? text == want.substr(1) : text.find(want) != std::string::npos;
}
/* Output files (o-*, qorb-check*) and temporary ones (.*), sorted. */
std::string OutputFiles() {
    std::vector<std::string> names;
    DIR* dir = opendir(".");
    for (dirent* e; dir && (e = readdir(dir));) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && (n[0] == '.' || n.rfind("o-", 0) == 0 || n.rfind("qorb-check", 0) == 0))
            names.push_back(n);
    }
    if (dir) closedir(dir);
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : " ") + n, unlink(n.c_str());
    return out;
}
class ToolErrorsRun : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef QORB_TOOL_PATH
        GTEST_SKIP() << "the qorb tool is not built";
#endif
        WriteFile("aer.txt", AerPlatform()),
            WriteFile("one.xml", "<p>\n<DUT bus=\"6\" device=\"0\" function=\"0\"/></p>");
    }
    void Run(std::initializer_list<Row> rows) {
        for (const Row& row : rows) {
            std::string args = row.args, where = args + "\n" + row.ini;
            if (size_t at = args.find("@FAKE"); at != std::string::npos) args.replace(at, 5, QORB_FAKEDRV_PATH);
            size_t tool = args.find("qorb ");
            WriteFile("qorbsim.ini", row.ini);
            int status = -1;
            std::string out = RunCommand(
                args.substr(0, tool) + "'" QORB_TOOL_PATH "' " + args.substr(tool + 5) + " 2>err.txt </dev/null",
                &status);
            std::string err = ReadFile("err.txt");
            EXPECT_EQ(status, row.status) << where << "\n" << err;
            EXPECT_TRUE(Matches(err, row.err)) << where << "\nstandard error:\n" << err;
            EXPECT_TRUE(Matches(out, row.out)) << where << "\nstandard output:\n" << out;
            EXPECT_EQ(row.files ? OutputFiles() : "", row.files ? row.files : "") << where;
        }
    }
    ScratchDir m_dir;
};
} // namespace

TEST_F(ToolErrorsRun, AerShowsEveryBit) {
    Run({{kAer, "qorb aer", 0, "=",
             "=00:01.0 [100] UESta 00000000 CESta 00000000 RootSta 08000025 status set: ERR_COR Received, "
             "ERR_FATAL/NONFATAL Received, Non-Fatal Error Messages Received\n01:00.0 [100] UESta 07c00000 CESta "
             "0000c000 "
             "status set: Uncorrectable Internal Error (fatal), MC Blocked TLP (non-fatal), AtomicOp Egress Blocked "
             "(non-fatal), TLP Prefix Blocked Error (non-fatal), Poisoned TLP Egress Blocked (non-fatal), Corrected "
             "Internal Error, Header Log Overflow\n"},
        {kAer, "qorb aer -s 01:00.0", 0, "=",
            "ACSViol- UncorrIntErr+ BlockedTLP+ AtomicOpBlocked+ TLPBlockedErr+ PoisonTLPBlocked+ DMWrReqBlocked-"},
        {kAer, "qorb aer -s 01:00.0", 0, "=",
            "CESta:  0000c000 RxErr- BadTLP- BadDLLP- Rollover- Timeout- "
            "AdvNonFatalErr- CorrIntErr+ HeaderOF+\n"},
        {kAer, "qorb aer -s 01:00.0", 0, "=",
            "ECRCGenCap+ ECRCGenEn- ECRCChkCap- ECRCChkEn- MultHdrRecCap- MultHdrRecEn- TLPPfxPres- HdrLogCap- First "
            "Error Pointer: 16\n  HeaderLog: 04000001 0000010f 01000004 00000000\n"},
        {kAer, "qorb aer -s 00:01.0", 0, "=",
            "RootCmd: 00000007 CERptEn+ NFERptEn+ FERptEn+\n  RootSta: 08000025 CERcvd+ MultCERcvd- UERcvd+ "
            "MultUERcvd- "
            "FirstFatal- NonFatalMsg+ FatalMsg- IntMsgNum 1\n  ErrorSrc: 01000100 ERR_COR: 01:00.0 ERR_FATAL/NONFATAL: "
            "01:00.0\n"},
        {kAer, "qorb aer --json -s 1:", 0, "=", "\"TLPBlockedErr\": true,\n        \"PoisonTLPBlocked\": true,"},
        {kAer, "qorb aer --json", 0, "=", "\"interrupt_message_number\": 1\n"},
        {kAer, "qorb aer --clear -s 1:", 0, "=", "  cleared: UESta 07c00000 -> 00000000, CESta 0000c000 -> 00000000\n"},
        {kAer, "qorb aer --clear -s 00:01.0", 0, "=",
            "  cleared: UESta 00000000 -> 00000000, CESta 00000000 -> 00000000, RootSta 08000025 -> 08000000\n"},
        {kAer, "qorb aer -s 2:", 1, "=qorb: 02:00.0: no Advanced Error Reporting capability\n", "="},
        {kAer, "qorb aer --clear", 2, "=qorb: aer --clear needs -s or -d: it writes to the functions it clears\n",
            "="}});
}

TEST_F(ToolErrorsRun, PlatformFileValuesAreChecked) {
    const std::string numbers = " (decimal, or hexadecimal after 0x)\n", bus = "\" is not a bus number 0-255" + numbers;
    /* line 2 of p.xml; exit status, standard error (a refusal: after "qorb: platform file p.xml:"), output */
    const std::vector<std::tuple<std::string, int, std::string, std::string>> rows = {
        {"<DUT bus=\"0x9\" device=\"0\" function=\"0\"/>", 0,
            "qorb check: p.xml:2: the library reads DUT 1 00:00.0; the tool searches for DUT 1 09:00.0\n",
            "DUT present: DUT 1 09:00.0 found at 09:00.0\n"},
        {"<DUT vendorid=\"0x5153\" deviceid=\"1010\"/>", 0, "", "DUT 1 5153:1010 found at 03:00.0\n"},
        {"<DUT bus=\"a\" device=\"0\" function=\"0\"/>", 2, "2: DUT: bus=\"a" + bus, "="},
        {"<DUT bus=\"265\" device=\"0\" function=\"0\"/>", 2, "2: DUT: bus=\"265" + bus, "="},
        {"<DUT bus=\"99999999999\" device=\"0\" function=\"0\"/>", 2, "2: DUT: bus=\"99999999999" + bus, "="},
        {"<DUT bus=\"1\" device=\"0x20\" function=\"0\"/>", 2,
            "2: DUT: device=\"0x20\" is not a device number 0-31" + numbers, "="},
        {"<DUT vendorid=\"5153x\"/>", 2,
            "2: DUT: vendorid=\"5153x\" is not a hexadecimal vendor ID of at most 4 digits\n", "="},
        {"<DUT bus=\"1\"/>", 2, "2: DUT: bus, device and function go together; give all three or none\n", "="},
        {"<DUT bsu=\"1\"/>", 2,
            "2: DUT: unknown attribute bsu (vendorid, deviceid, bus, device, function, subsysvendor, subsysdeviceid)\n",
            "="},
        {"<DUT/>", 2, "2: DUT: names neither IDs (vendorid, deviceid) nor a location (bus, device, function)\n", "="},
        {"<PCIEBaseAddress a=\"E000000G\"/>", 2,
            "2: PCIEBaseAddress: a=\"E000000G\" is not a hexadecimal number of 64 bits\n", "="},
        {"<DUT bus=\"6\"", 2, "2: not well-formed XML: unclosed token\n", "="}};
    for (const auto& [line, status, err, out] : rows) {
        WriteFile("p.xml", "<p>\n" + line + (line.back() == '>' ? "</p>" : ""));
        std::string want = status ? "=qorb: platform file p.xml:" + err : err;
        Run({{"", "qorb check --platform p.xml --no-link --no-inject", status, want.c_str(), out.c_str()}});
    }
}

TEST_F(ToolErrorsRun, OutputFilesOnlyWhenComplete) {
    Run({{"", "qorb check --log /nonexistent/x.log", 2,
             "=qorb: cannot write the text log /nonexistent/x.log: No such file or directory\n", "=", ""},
        {"", "qorb check --platform nowhere.xml --xml o-x.xml", 2,
            "=qorb: platform file nowhere.xml: No such file or directory\n", "=", ""},
        {"", "qorb check --platform one.xml --xml o-x.xml --junit /dev/full", 2,
            "qorb: cannot write the JUnit report /dev/full: No space left on device\n", "", ""},
        {"", "qorb check --platform one.xml --xml o-x.xml --junit o-j.xml --log o-t.log", 0, "", "",
            "o-j.xml o-t.log o-x.xml"},
        {"", "qorb check --no-link --no-inject", 0, "", "example platform ", "qorb-check.xml"},
        {"", "qorb --driver @FAKE check --no-link --no-inject --xml o-x.xml", 0, "",
            "qorb check: no --platform file: the PCI Express endpoints of the scan (00:1f.0 03:00.0 04:00.0 04:00.1 "
            "06:00.0 09:00.0), 6 DUTs",
            "o-x.xml"}});
}

TEST_F(ToolErrorsRun, DiagnosticsOnlyWithDebug) {
    Run({{"", "FAKEDRV=1:2:0 qorb --driver @FAKE scan", 2,
             "=qorb: cannot open " QORB_FAKEDRV_PATH
             ": QORB_DRIVER_INIT_FAILED (0x80000001): the configuration driver did not start\n",
             "="},
        {"", "FAKEDRV=1:2:0 qorb --debug --driver @FAKE scan", 2,
            "QORB::PCIExpress QORB. Initializing software based driver failed\n", "="},
        {"", "qorb --driver /usr scan", 2,
            "=qorb: driver /usr: not a file (give the path of a driver library, sim or sysfs)\n", "="},
        {"[platform]\ndump = nowhere.txt\n", "qorb scan", 2,
            "QORB_DRIVER_INIT_FAILED (0x80000001): the configuration driver did not start (qorbsim: nowhere.txt: "
            "cannot open the dump file: No such file or directory; qorbsim: the simulated platform was not loaded; the "
            "driver does not open)\n",
            "="}});
}
