/* The logs: XML documents and trace dumps, text and console lines, test counting, the entry points' checks. */
#include <string.h>

#include <time.h>
#include <unistd.h>

#include <regex>

#include <gtest/gtest.h>

#include "qorb_internal.h"
#include "qorb_test_support.h"

using namespace qorbtest;

namespace {

/* An assertion record "<layer> major.2.1 : sub"; a 5-character major keeps no terminator. */
_QORB_TEST_NUM_t Num(uint32_t layer, const char* major, const std::string& sub = "3") {
    _QORB_TEST_NUM_t t{};
    t.layer = static_cast<_QORB_LAYER_t>(layer);
    memcpy(t.major, major, std::min(strlen(major), sizeof t.major));
    strcpy(t.minor, "2"), strcpy(t.item, "1"), strncpy(t.subitem, sub.c_str(), sizeof t.subitem - 1);
    return t;
}

/* A log from CreateLog, closed at the end of the scope. */
struct Log {
    Log(_QORB_LOG_TYPE_t type, const std::string& name, _QORB_LOG_ACTION_t action = QORB_LOG_ACTION_CREATE)
        : status(CreateLog(nullptr, &h, type, name.empty() ? nullptr : name.c_str(), action)) { }
    ~Log() { CloseLog(h); }
    CQORBLog* operator->() const { return static_cast<CQORBLog*>(h); }
    void* h = nullptr;
    _QORB_STATUS_t status;
};

auto Record(const CTestRecord& r) { return std::tuple(r.name, r.fails, r.aborts, r.warnings, r.informational); }
std::string Counts(int f, int a, int w) {
    using std::to_string;
    return "Fails (" + to_string(f) + "); Aborts (" + to_string(a) + "); Warnings (" + to_string(w) + ")";
}
std::string Stop(const std::string& name, int f, int a, int w) {
    return "Stopping Test [ " + name + ":\n     Number of: " + Counts(f, a, w) + " ]\n\n";
}
std::string Summary(int f, int a, int w) { return "INFO    Summary Log Counts [ " + Counts(f, a, w) + " ]\n"; }

/* The XML document after its platform block, every timestamp written as T. */
std::string Body(const std::string& document) {
    std::string body = document.substr(document.find("</Platform>\n") + 12);
    return std::regex_replace(body, std::regex("timestamp=\"[0-9:/]+\""), "timestamp=\"T\"");
}

/* The trace dump of the first n bytes of a copy (zeros past n in the last word). */
std::string TraceDump(uint32_t actions, const uint8_t* bytes, uint32_t n) {
    std::string words;
    for (uint32_t at = 0; at < n; at += 4) {
        uint8_t b[4] = {};
        memcpy(b, bytes + at, std::min(4u, n - at));
        char line[16];
        snprintf(line, sizeof line, "0x%02x%02x%02x%02x\n", b[3], b[2], b[1], b[0]);
        words += line;
    }
    return "\n<INFO> <ActionCount> " + std::to_string(actions) + "\n</ActionCount>\n</INFO>\n <INFO> <TBContents>\n"
        + "<NumBytes> " + std::to_string(n) + " </NumBytes> \n<TBData>\n" + words + "</TBData>\n</TBContents></INFO>\n";
}

/* Per message kind: console prefix, XML element and assertion status, counts it adds (fails, aborts, warnings, info).
 */
const std::tuple<int32_t, std::string, std::string, std::string, int, int, int, int> kKinds[] = {
    {QORB_LOG_FAIL, "FAIL    ", "FAIL", "FAILED", 1, 0, 0, 0},
    {QORB_LOG_ABORT, "ABORT   ", "ABORT", "ABORT", 0, 1, 0, 0},
    {QORB_LOG_WARNING, "WARNING ", "WARNING", "WARNING", 0, 0, 1, 0},
    {QORB_LOG_INFO, "INFO    ", "INFO", "INFORMATIONAL", 0, 0, 0, 1},
    {QORB_LOG_ERROR, "ERROR   ", "WARNING", "ERROR", 0, 0, 0, 0},
    {QORB_LOG_SUCCESS, "", "SUCCESS", "SUCCESS", 0, 0, 0, 0},
    {0x12345, "", "WARNING", "UNKNOWN STATUS", 0, 0, 0, 0},
};

} // namespace

/* One test on each log kind: the lines, the counts, the stop line and the console summary. */
TEST(Log, EveryKindHasItsLineElementStatusAndCounter) {
    for (const auto& [kind, prefix, element, status, f, a, w, i] : kKinds) {
        ScratchDir dir;
        auto num = Num(QORB_LAYER_PHY, "4");
        CaptureFd err(2);
        {
            Log logs[] = {{QORB_LOG_TYPE_RAW_TEXT, "t"}, {QORB_LOG_TYPE_CONSOLE, "c"}, {QORB_LOG_TYPE_XML, "x"}};
            for (Log& log : logs) {
                int n = &log == &logs[1] ? 2 : 1; /* the console assertion is a counted message */
                for (_QORB_STATUS_t s : {log.status, StartTest(log.h, "T"), StartTestCase(log.h, "case"),
                         WriteToLog(log.h, kind, "m%s\n", "%"), LogAssert(log.h, kind, &num, "a\n"),
                         StopTestCase(log.h)})
                    EXPECT_EQ(s, QORB_SUCCESS); /* test cases are recorded nowhere */
                EXPECT_EQ(Record(log->CurrentTest()), std::tuple("T", n * f, n * a, n * w, n * i));
                EXPECT_EQ(StopTest(log.h), QORB_SUCCESS);
            }
            EXPECT_EQ(Record(logs[0]->FinishedTests().at(0)), std::tuple("T", f, a, w, i));
            EXPECT_EQ(ReadFile("t"), "Now Starting Test:T\nm%\nCFG 4.2.1 : 3 : a\n" + Stop("T", f, a, w));
            EXPECT_TRUE(ReadFile("x").ends_with("m%\n</" + element + ">\n")); /* a message is flushed at once */
        }
        const std::string con = "INFO    Now Starting Test:T\n" + prefix + "m%\n" + prefix + "CFG 4.2.1 : a\nINFO    "
            + Stop("T", 2 * f, 2 * a, 2 * w) + Summary(2 * f, 2 * a, 2 * w);
        EXPECT_EQ(err.Text(), con);
        EXPECT_EQ(ReadFile("c"), con);
        EXPECT_EQ(Body(ReadFile("x")),
            "<INFO>\nNow Starting Test:T\n</INFO>\n<QORBTest user=\"test_user\" timestamp=\"T\">\n<" + element
                + ">\nm%\n</" + element + ">\n\n<ASSERTTAG assertion = \"PHY.4.2#1.3\" status = \"" + status
                + "\">\na\n</ASSERTTAG>\n\n</QORBTest>\n</QORBXMLLog>\n");
    }
}

/* The text log appends, flushes every line (it is read while open) and reopens its file after a test. A second
 * StartTest merges into the first; a StopTest without a test still adds a record. Nothing is counted outside a
 * test or while disabled, when the text log's test and assertion lines are still written, the console's not.
 * Messages and console assertions are cut to 2047 bytes. */
TEST(Log, TestStateAcrossOneRun) {
    ScratchDir dir;
    CaptureFd err(2);
    WriteFile("t.log", "earlier\n");
    std::string big(3000, 'x'), line = "CFG ABCDE.2.1 : ", cut = ("50% %n|" + big).substr(0, 2047);
    auto full = Num(QORB_LAYER_TXN, "ABCDE", "4");
    {
        Log log(QORB_LOG_TYPE_RAW_TEXT, "t.log"), console(QORB_LOG_TYPE_CONSOLE, "");
        std::rename("t.log", "t.old"); /* written up to the end of the test, then the file is opened again */
        for (Log* l : {&log, &console}) {
            for (_QORB_STATUS_t s : {WriteToLog(l->h, QORB_LOG_FAIL, "before\n"), StartTest(l->h, "First"),
                     WriteToLog(l->h, QORB_LOG_FAIL, "%s", "f\n"), StartTest(l->h, "Second"),
                     WriteToLog(l->h, QORB_LOG_WARNING, "50%% %s|%s", "%n", big.c_str()), DisableLogging(l->h),
                     WriteToLog(l->h, QORB_LOG_FAIL, "lost\n"), LogAssert(l->h, QORB_LOG_FAIL, &full, big.c_str()),
                     StopTest(l->h), EnableLogging(l->h), WriteToLog(l->h, QORB_LOG_FAIL, "%s", ""), StopTest(l->h),
                     LogAssert(l->h, QORB_LOG_SUCCESS, &full, big.c_str()),
                     StartTest(l->h, "Third")}) /* running, so not in the summary */
                EXPECT_EQ(s, QORB_SUCCESS);
            EXPECT_EQ(std::tuple((*l)->TestsStarted(), (*l)->TestInProgress(), (*l)->CurrentTestName()),
                std::tuple(3u, 1, "Third"));
            EXPECT_EQ(Record((*l)->FinishedTests().at(0)), std::tuple("Second", 1, 0, 1, 0));
            EXPECT_EQ(Record((*l)->FinishedTests().at(1)), std::tuple("", 0, 0, 0, 0));
        }
        EXPECT_EQ((std::vector{console->WriteText(QORB_LOG_INFO, "\n"), console->ReopenFile(), log->WriteText(0, ""),
                      CloseLog(console.h)}),
            std::vector<_QORB_STATUS_t>(4, QORB_SUCCESS)); /* no file is no failure; a second close is ignored */
        EXPECT_EQ(ReadFile("t.old"),
            "earlier\nbefore\nNow Starting Test:First\nf\nNow Starting Test:Second\n" + cut + line + "4 : " + big
                + Stop("Second", 1, 0, 1));
        EXPECT_EQ(ReadFile("t.log"), Stop("Second", 0, 0, 0) + line + "4 : " + big + "Now Starting Test:Third\n");
    }
    EXPECT_EQ(err.Text(),
        "FAIL    before\nINFO    Now Starting Test:First\nFAIL    f\nINFO    Now Starting Test:Second\n"
            + std::string("WARNING ") + cut + "INFO    " + Stop("Second", 1, 0, 1) + "FAIL    INFO    "
            + Stop("Second", 0, 0, 0) + (line + big).substr(0, 2047) + "INFO    Now Starting Test:Third\nINFO    \n"
            + Summary(1, 0, 1));
}

/* A typical run on the built-in platform: the card above the DUT corrupts a TLP (action count 1);
 * its trace copy is dumped at several byte counts (0: all; more than the copy: the copy, and the
 * count says so), a device that is not a card is refused, after an arm there is no copy. */
TEST(XmlLog, TypicalRunGivesTheExpectedDocument) {
    SimPlatform platform;
    FoundDevice dut(9, 0, 0), other(4, 0, 1);
    void *card = nullptr, *card2 = nullptr;
    _qorb_cmd_map_t cmd{QORB_ZEB_CMD_BAD_TLP, 0, 0, 0, 0, 0, 0}; /* once, on the first packet */
    uint32_t ids = 0, length = 4;
    for (_QORB_STATUS_t s : {platform.OpenStatus(), QORB_GetUpstreamZEB(*dut, &card, &card2),
             ChangeZEBMode(card, QORB_ZEB_MODE_INJECT), ProgramZEBCmd(card, &cmd), ArmZEB(card, 0),
             ReadConfigSpace(*dut, reinterpret_cast<uint8_t*>(&ids), 0, &length), ZEBGetTraceBuffer(card)})
        ASSERT_EQ(s, QORB_SUCCESS);
    auto* copy = static_cast<QORB_DEVICE_t*>(card);
    uint32_t whole = copy->traceCopyLength;
    uint32_t counts[][2] = {{10, 10}, {0, 0}, {whole + 9, whole}, {whole - 3, whole - 3}}; /* asked, then held */
    std::string dumps, doc;
    const time_t before = time(nullptr);
    _QORB_TEST_NUM_t list[8];
    for (uint32_t layer = 0; layer < 8; layer++) list[layer] = Num(layer, "7", std::to_string(layer));
    {
        Log log(QORB_LOG_TYPE_XML, "run.xml");
        for (_QORB_STATUS_t s : {StartTest(log.h, "", list, 8, *other), WriteToLog(log.h, QORB_LOG_INFO, "x%d\n", 4),
                 LogAssert(log.h, QORB_LOG_FAIL, &list[2], "MPS <128>\n")})
            EXPECT_EQ(s, QORB_SUCCESS);
        for (auto& c : counts) {
            EXPECT_EQ(LogTBContents(log.h, card, &c[0]), QORB_SUCCESS);
            EXPECT_EQ(c[0], c[1]);
            dumps += TraceDump(1, copy->traceCopy, c[1] ? c[1] : whole);
        }
        EXPECT_EQ((std::vector{LogTBContents(log.h, *dut, &whole), LogTBContents(log.h, nullptr, &whole)}),
            (std::vector{QORB_INVALID_PARAMETER, QORB_INVALID_PARAMETER}));
        EXPECT_EQ(whole, copy->traceCopyLength);
        EXPECT_EQ(std::tuple(log->TestsStarted(), log->TestInProgress(), log->CurrentTest().informational),
            std::tuple(0u, 0, 0)); /* the long form keeps no test state */
        for (_QORB_STATUS_t s : {StopTest(log.h), StartTest(log.h, "Pattern"), WriteToLog(log.h, QORB_LOG_ERROR, "t\n"),
                 ArmZEB(card, 0), LogTBContents(log.h, card, &whole), QORB_ZEBWritePatternToTB(card, 0x89ABCDEF),
                 ZEBGetTraceBuffer(card), LogTBContents(log.h, card, nullptr), StopTest(log.h)})
            EXPECT_EQ(s, QORB_SUCCESS);
        EXPECT_EQ(std::tuple(whole, copy->traceCopyLength), std::tuple(0u, 1u << 20));
    }
    /* Time stamps, processors, page size and memory as the C library tells them; free memory is masked. */
    auto stamp = [](time_t at) {
        struct tm t;
        localtime_r(&at, &t);
        return "timestamp=\"" + std::to_string(t.tm_hour) + ":" + std::to_string(t.tm_min) + "/"
            + std::to_string(t.tm_mday) + "/" + std::to_string(t.tm_mon + 1) + "/" + std::to_string(t.tm_year + 1900)
            + "\"";
    };
    doc = std::regex_replace(ReadFile("run.xml"), std::regex(stamp(before) + "|" + stamp(time(nullptr))), "T");
    const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE)), physical = uint64_t(sysconf(_SC_PHYS_PAGES)) * page >> 20,
                   virt = (uint64_t{1} << 47) >> 20;
    std::smatch m;
    const std::string head = doc.substr(0, doc.find("</Platform>"));
    ASSERT_TRUE(std::regex_search(head, m, std::regex("availPhysRAM=\"([0-9]+)\"[^]*Free=\"([0-9]+)\""))) << doc;
    EXPECT_TRUE(
        std::stoull(m[1]) <= physical && std::stoull(m[1]) > 0 && std::stoull(m[2]) < virt && std::stoull(m[2]) > 0)
        << doc << "the process maps something";
    doc = std::regex_replace(doc, std::regex("(availPhysRAM|Free)=\"[0-9]+\""), "$1");
    std::string expected
        = std::string("<QORBXMLLog user=\"test_user\" T>\n<Platform>\n<CPU id=\"1\" speed=\"2000\" Type=\"")
#if defined(__x86_64__) || defined(__i386__)
        + "Ardel"
#else
        + "Unknown"
#endif
        + "\" numCPUs=\"" + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + "\">\n</CPU>\n<Memory pagesize=\""
        + std::to_string(page) + "\" totalPhysRAM=\"" + std::to_string(physical)
        + "\" availPhysRAM>\n</Memory>\n<VirtualMemory Max=\"" + std::to_string(virt)
        + "\" Free>\n</VirtualMemory>\n</Platform>\n<QORBTest user=\"test_user\" T>\n";
    const char* layers[] = {"PHY", "PHYLINK", "CFG", "EM", "SYS", "DLL", "TXN", "UNKNOWN"};
    for (uint32_t layer = 0; layer < 8; layer++)
        expected += "<Assertion name=\"" + std::string(layers[layer]) + ".7.2#1." + std::to_string(layer)
            + "\">\n</Assertion>\n";
    expected += "<DUT DeviceId=\"0X1012\" VendorId=\"0X5153\" Bus=\"4\" Device=\"0\" Function=\"1\">\n</DUT>\n"
        + std::string("<INFO>\nx4\n</INFO>\n\n<ASSERTTAG assertion = \"CFG.7.2#1.2\" status = \"FAILED\">\nMPS <128>\n")
        + "</ASSERTTAG>\n\n" + dumps + "</QORBTest>\n<INFO>\nNow Starting Test:Pattern\n</INFO>\n<QORBTest user="
        + "\"test_user\" T>\n<WARNING>\nt\n</WARNING>\n" + TraceDump(0, nullptr, 0)
        + TraceDump(0, copy->traceCopy, 1u << 20) + "</QORBTest>\n</QORBXMLLog>\n";
    /* Shown from the first difference: a diff of the whole 3 MB document would not fit in memory. */
    size_t at = std::mismatch(doc.begin(), doc.end(), expected.begin(), expected.end()).first - doc.begin();
    EXPECT_EQ(doc.substr(at - std::min(at, 200ul), 400), expected.substr(at - std::min(at, 200ul), 400)) << at;
    CloseDevice(card), CloseDevice(card2);
}

/* Create and overwrite replace a file, append adds a document. Without a file (no name, an unknown action,
 * a missing folder) the XML log reports that it is not open, the text log accepts everything; neither creates
 * a file. Null handles, missing texts and lists, and the XML-only forms elsewhere are refused, changing nothing. */
TEST(Log, FilesAndRefusedCalls) {
    using Statuses = std::vector<_QORB_STATUS_t>;
    ScratchDir dir;
    CaptureFd err(2);
    auto num = Num(QORB_LAYER_CFG, "1");
    for (auto action : {QORB_LOG_ACTION_CREATE, QORB_LOG_ACTION_OVERWRITE, QORB_LOG_ACTION_APPEND}) {
        WriteFile("a.xml", "old\n");
        EXPECT_EQ(Log(QORB_LOG_TYPE_XML, "a.xml", action)->WriteText(QORB_LOG_SUCCESS, "new\n"), QORB_SUCCESS);
        std::string text = ReadFile("a.xml");
        EXPECT_EQ(text.substr(0, text.find("<QORBXMLLog user=")), action == QORB_LOG_ACTION_APPEND ? "old\n" : "");
        EXPECT_EQ(Body(text), "<SUCCESS>\nnew\n</SUCCESS>\n</QORBXMLLog>\n");
    }
    const auto xmlLog = QORB_LOG_TYPE_XML, textLog = QORB_LOG_TYPE_RAW_TEXT;
    for (auto [type, name, action] : {std::tuple(xmlLog, "never.xml", 7u), std::tuple(xmlLog, "no/x.xml", 0u),
             std::tuple(xmlLog, "", 0u), std::tuple(textLog, "no/t.log", 0u), std::tuple(textLog, "", 0u)}) {
        Log log(type, name, static_cast<_QORB_LOG_ACTION_t>(action));
        _QORB_STATUS_t xml = type == QORB_LOG_TYPE_XML ? QORB_LOG_NOT_OPEN : QORB_SUCCESS;
        _QORB_STATUS_t xmlOnly = type == QORB_LOG_TYPE_XML ? QORB_LOG_NOT_OPEN : QORB_INVALID_PARAMETER;
        EXPECT_EQ((Statuses{log.status, StartTest(log.h, "A"), LogAssert(log.h, 0, &num, "x\n"), StopTest(log.h),
                      StartTest(log.h, "A", &num, 1, nullptr), LogTBContents(log.h, &num, nullptr),
                      WriteToLog(log.h, QORB_LOG_FAIL, "x\n"), log->WriteText(0, "x"), log->ReopenFile()}),
            (Statuses{
                QORB_SUCCESS, xml, xml, xml, xmlOnly, xmlOnly, QORB_SUCCESS, QORB_LOG_NOT_OPEN, QORB_LOG_NOT_OPEN}));
    }
    EXPECT_FALSE(FileExists("never.xml") || FileExists("no"));
    void* handle = &num;
    EXPECT_EQ((Statuses{StartTest(nullptr, "A"), StartTest(nullptr, "A", &num, 1, nullptr), StopTest(nullptr),
                  StartTestCase(nullptr, "c"), StartTestCase(nullptr, "c", &num, 1), StopTestCase(nullptr),
                  WriteToLog(nullptr, QORB_LOG_INFO, "x"), EnableLogging(nullptr), DisableLogging(nullptr),
                  LogAssert(nullptr, QORB_LOG_INFO, &num, "x"), LogTBContents(nullptr, &num, nullptr),
                  CreateLog(nullptr, nullptr, QORB_LOG_TYPE_XML, "x", QORB_LOG_ACTION_CREATE),
                  CreateLog(nullptr, &handle, static_cast<_QORB_LOG_TYPE_t>(3), "x", QORB_LOG_ACTION_CREATE)}),
        Statuses(13, QORB_INVALID_PARAMETER));
    EXPECT_EQ(std::tuple(handle, CloseLog(nullptr), CloseLog(&num)), std::tuple(&num, QORB_SUCCESS, QORB_SUCCESS));
    for (auto type : {QORB_LOG_TYPE_RAW_TEXT, QORB_LOG_TYPE_CONSOLE, QORB_LOG_TYPE_XML}) {
        Log log(type, "n");
        StartTest(log.h, "A");
        std::string before = ReadFile("n");
        EXPECT_EQ((Statuses{StartTest(log.h, nullptr), StartTestCase(log.h, nullptr), LogAssert(log.h, 0, nullptr, "x"),
                      WriteToLog(log.h, QORB_LOG_FAIL, nullptr), LogAssert(log.h, QORB_LOG_FAIL, &num, nullptr),
                      StartTest(log.h, "A", nullptr, 2, nullptr), StartTestCase(log.h, "c", nullptr, 2),
                      LogTBContents(log.h, nullptr, nullptr), log->WriteAssertion(0, nullptr, "x"),
                      log->WriteAssertion(0, &num, nullptr), log->WriteText(0, nullptr)}),
            Statuses(11, QORB_INVALID_PARAMETER));
        EXPECT_EQ((Statuses{StartTestCase(log.h, "c", &num, 1), StartTestCase(log.h, nullptr, nullptr, 0)}),
            Statuses(2, type == QORB_LOG_TYPE_XML ? QORB_SUCCESS : QORB_INVALID_PARAMETER));
        EXPECT_EQ(std::tuple(log->TestsStarted(), log->CurrentTestName(), log->CurrentTest().fails, ReadFile("n")),
            std::tuple(1u, "A", 0, before));
    }
}
