/* The XML log document: header, test elements, messages, assertions and
 * trace buffer dumps. */
#include <inttypes.h>
#include <stdlib.h>

#include <functional>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include <qorb/qorb.h>

#include "log_test_util.h"
#include "qorb_internal.h"
#include "qorb_platform.h"
#include "qorb_test_support.h"
#include "zebfake_fixture.h"

using qorbtest::ReadFile;
using qorbtest::ScopedLog;
using qorbtest::ScratchDir;
using qorbtest::TestNum;

namespace {

std::string Timestamp(const QORB_LOCAL_TIME_t& t)
{
    return std::to_string(t.hour) + ":" + std::to_string(t.minute) + "/" + std::to_string(t.day) + "/" +
           std::to_string(t.month) + "/" + std::to_string(t.year);
}

bool SameMinute(const QORB_LOCAL_TIME_t& a, const QORB_LOCAL_TIME_t& b)
{
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute;
}

/* Everything after the header's platform block. */
std::string Body(const std::string& document)
{
    const std::string end = "</Platform>\n";
    size_t at = document.find(end);
    return at == std::string::npos ? document : document.substr(at + end.size());
}

/* A device record as a search would make it, from a header with these IDs. */
QORB_DEVICE_t* MakeDevice(uint16_t vendor, uint16_t device, uint8_t bus, uint8_t dev, uint8_t fn)
{
    qorbtest::ConfigSpace space(QORB_SHADOW_LENGTH);
    space.Header(vendor, device, 0x02, 0x00, 0x00, 0x00);
    return CreateDeviceRecord(space.Bytes().data(), bus, dev, fn);
}

/* A test card record holding a trace copy of the given bytes. */
QORB_DEVICE_t* MakeCard(const std::vector<uint8_t>& trace)
{
    QORB_DEVICE_t* card = MakeDevice(0x1556, 0x5555, 1, 0, 0);
    card->isZeb = 1;
    if (!trace.empty()) {
        card->traceCopy = static_cast<uint8_t*>(malloc(trace.size()));
        memcpy(card->traceCopy, trace.data(), trace.size());
        card->traceCopyLength = static_cast<uint32_t>(trace.size());
    }
    return card;
}

/* Runs write on a fresh XML log in a scratch folder, closes the log and
 * answers the document after its header. */
std::string WrittenBody(const std::function<void(ScopedLog&)>& write)
{
    ScratchDir dir;
    {
        ScopedLog log(QORB_LOG_TYPE_XML, dir.File("l.xml"));
        write(log);
    }
    return Body(ReadFile(dir.File("l.xml")));
}

std::string TraceDump(uint32_t actionCount, uint32_t n, const std::string& words)
{
    return "\n<INFO> <ActionCount> " + std::to_string(actionCount) +
           "\n</ActionCount>\n</INFO>\n <INFO> <TBContents>\n<NumBytes> " + std::to_string(n) +
           " </NumBytes> \n<TBData>\n" + words + "</TBData>\n</TBContents></INFO>\n";
}

} // namespace

/* --------------------------------------------------------- whole document */

TEST(XmlLog, TypicalRunGivesTheExpectedDocument)
{
    ScratchDir dir;
    std::string path = dir.File("run.xml");
    std::string document;
    QORB_LOCAL_TIME_t before{}, after{};
    /* The timestamps carry minutes: redo the run if the clock crossed a
     * minute while the document was written. */
    for (int attempt = 0; attempt < 3; attempt++) {
        PlatformGetLocalTime(&before);
        QORB_DEVICE_t* dut = MakeDevice(0x8086, 0x0A1B, 2, 0, 1);
        QORB_DEVICE_t* card = MakeCard({0x01, 0x02, 0x03, 0x04, 0xF1, 0x00, 0x00, 0x00});
        {
            ScopedLog log(QORB_LOG_TYPE_XML, path, QORB_LOG_ACTION_CREATE);
            ASSERT_EQ(log.Status(), QORB_SUCCESS);
            _QORB_TEST_NUM_t list[] = {TestNum(QORB_LAYER_CFG, "7", "5", "1", "2"),
                                       TestNum(QORB_LAYER_TXN, "2", "1", "3", "4")};
            EXPECT_EQ(StartTest(log.Handle(), "Link", list, 2, dut), QORB_SUCCESS);
            EXPECT_EQ(WriteToLog(log.Handle(), QORB_LOG_INFO, "Link width x%d\n", 4), QORB_SUCCESS);
            EXPECT_EQ(LogAssert(log.Handle(), QORB_LOG_FAIL, &list[0], "Max payload <128>\n"), QORB_SUCCESS);
            uint32_t n = 0;
            EXPECT_EQ(LogTBContents(log.Handle(), card, &n), QORB_SUCCESS);
            EXPECT_EQ(StopTest(log.Handle()), QORB_SUCCESS);
            EXPECT_EQ(StartTest(log.Handle(), "Retrain"), QORB_SUCCESS);
            EXPECT_EQ(WriteToLog(log.Handle(), QORB_LOG_ERROR, "timeout\n"), QORB_SUCCESS);
            EXPECT_EQ(StopTest(log.Handle()), QORB_SUCCESS);
        }
        CloseDevice(dut);
        CloseDevice(card);
        PlatformGetLocalTime(&after);
        document = ReadFile(path);
        if (SameMinute(before, after))
            break;
    }
    ASSERT_TRUE(SameMinute(before, after)) << "the clock kept crossing minutes";

    /* Free memory changes from one moment to the next: take what the log
     * wrote, check it against the platform's facts, and use it below. */
    QORB_SYSTEM_INFO_t system{};
    PlatformGetSystemInfo(&system);
    QORB_MEMORY_STATUS_t memory{};
    PlatformGetMemoryStatus(&memory);
    const uint64_t mib = 1048576;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(document, m, std::regex("availPhysRAM=\"([0-9]+)\"[^]*Free=\"([0-9]+)\"")))
        << document;
    uint64_t availPhys = std::stoull(m[1]);
    uint64_t freeVirtual = std::stoull(m[2]);
    EXPECT_LE(availPhys, memory.totalPhysical / mib);
    EXPECT_LE(freeVirtual, memory.totalVirtual / mib);
    EXPECT_GT(freeVirtual, 0u);

    std::string stamp = Timestamp(before);
    std::string expected =
        "<QORBXMLLog user=\"test_user\" timestamp=\"" + stamp + "\">\n"
        "<Platform>\n"
        "<CPU id=\"1\" speed=\"2000\" Type=\"" + std::string(system.processorArchitecture == 0 ? "Ardel" : "Unknown") +
        "\" numCPUs=\"" + std::to_string(system.numberOfProcessors) + "\">\n"
        "</CPU>\n"
        "<Memory pagesize=\"" + std::to_string(system.pageSize) + "\" totalPhysRAM=\"" +
        std::to_string(memory.totalPhysical / mib) + "\" availPhysRAM=\"" + std::to_string(availPhys) + "\">\n"
        "</Memory>\n"
        "<VirtualMemory Max=\"" + std::to_string(memory.totalVirtual / mib) + "\" Free=\"" +
        std::to_string(freeVirtual) + "\">\n"
        "</VirtualMemory>\n"
        "</Platform>\n"
        "<QORBTest user=\"test_user\" timestamp=\"" + stamp + "\">\n"
        "<Assertion name=\"CFG.7.5#1.2\">\n</Assertion>\n"
        "<Assertion name=\"TXN.2.1#3.4\">\n</Assertion>\n"
        "<DUT DeviceId=\"0Xa1b\" VendorId=\"0X8086\" Bus=\"2\" Device=\"0\" Function=\"1\">\n</DUT>\n"
        "<INFO>\nLink width x4\n</INFO>\n"
        "\n<ASSERTTAG assertion = \"CFG.7.5#1.2\" status = \"FAILED\">\nMax payload <128>\n</ASSERTTAG>\n\n" +
        TraceDump(0, 8, "0x04030201\n0x000000f1\n") +
        "</QORBTest>\n"
        "<INFO>\nNow Starting Test:Retrain\n</INFO>\n"
        "<QORBTest user=\"test_user\" timestamp=\"" + stamp + "\">\n"
        "<WARNING>\ntimeout\n</WARNING>\n"
        "</QORBTest>\n"
        "</QORBXMLLog>\n";
    EXPECT_EQ(document, expected);
}

/* ---------------------------------------------------------- file actions */

TEST(XmlLog, CreateAndOverwriteReplaceWhileAppendAddsADocument)
{
    ScratchDir dir;
    std::string path = dir.File("a.xml");
    for (auto action : {QORB_LOG_ACTION_CREATE, QORB_LOG_ACTION_OVERWRITE}) {
        qorbtest::WriteFile(path, "old contents\n");
        { ScopedLog log(QORB_LOG_TYPE_XML, path, action); }
        std::string text = ReadFile(path);
        EXPECT_EQ(text.rfind("<QORBXMLLog user=\"test_user\" timestamp=\"", 0), 0u) << action;
        EXPECT_EQ(text.find("old contents"), std::string::npos) << action;
    }
    std::string first = ReadFile(path);
    {
        ScopedLog log(QORB_LOG_TYPE_XML, path, QORB_LOG_ACTION_APPEND);
        WriteToLog(log.Handle(), QORB_LOG_SUCCESS, "second\n");
    }
    std::string both = ReadFile(path);
    ASSERT_EQ(both.rfind(first, 0), 0u);
    std::string second = both.substr(first.size());
    EXPECT_EQ(second.rfind("<QORBXMLLog user=\"test_user\"", 0), 0u);
    EXPECT_EQ(Body(second), "<SUCCESS>\nsecond\n</SUCCESS>\n</QORBXMLLog>\n");
}

TEST(XmlLog, LogWithoutFileReportsNotOpenAndWritesNothing)
{
    ScratchDir dir;
    auto unknownAction = static_cast<_QORB_LOG_ACTION_t>(7);
    struct Case {
        std::string name;
        _QORB_LOG_ACTION_t action;
    } cases[] = {{dir.File("never.xml"), unknownAction}, {dir.File("no/such/dir.xml"), QORB_LOG_ACTION_CREATE},
                 {"", QORB_LOG_ACTION_CREATE}};
    for (const Case& c : cases) {
        ScopedLog log(QORB_LOG_TYPE_XML, c.name, c.action);
        ASSERT_EQ(log.Status(), QORB_SUCCESS);
        auto tn = TestNum(QORB_LAYER_PHY, "1", "1", "1", "1");
        QORB_DEVICE_t* card = MakeCard({1, 2, 3, 4});
        EXPECT_EQ(StartTest(log.Handle(), "A"), QORB_LOG_NOT_OPEN);
        EXPECT_EQ(StartTest(log.Handle(), "A", &tn, 1, nullptr), QORB_LOG_NOT_OPEN);
        EXPECT_EQ(WriteToLog(log.Handle(), QORB_LOG_FAIL, "x\n"), QORB_SUCCESS);
        EXPECT_EQ(LogAssert(log.Handle(), QORB_LOG_FAIL, &tn, "x\n"), QORB_LOG_NOT_OPEN);
        EXPECT_EQ(LogTBContents(log.Handle(), card, nullptr), QORB_LOG_NOT_OPEN);
        EXPECT_EQ(StopTest(log.Handle()), QORB_LOG_NOT_OPEN);
        EXPECT_EQ(StartTestCase(log.Handle(), "c"), QORB_SUCCESS);
        EXPECT_EQ(log.Object()->ReopenFile(), QORB_LOG_NOT_OPEN);
        log.Close();
        CloseDevice(card);
    }
    EXPECT_FALSE(qorbtest::FileExists(dir.File("never.xml")));
    EXPECT_FALSE(qorbtest::FileExists(dir.File("no")));
}

/* ---------------------------------------------------------- elements */

TEST(XmlLog, AssertionNamesForEveryLayerAndStatusWordsForEveryKind)
{
    std::string body = WrittenBody([](ScopedLog& log) {
        _QORB_TEST_NUM_t list[8];
        for (uint32_t layer = 0; layer < 8; layer++)
            list[layer] = TestNum(layer, "4", "2", "1", std::to_string(layer).c_str());
        EXPECT_EQ(StartTest(log.Handle(), "unused", list, 8, nullptr), QORB_SUCCESS);
        const int32_t kinds[] = {QORB_LOG_SUCCESS, QORB_LOG_INFO,  QORB_LOG_WARNING, QORB_LOG_ERROR,
                                 QORB_LOG_ABORT,   QORB_LOG_FAIL,  0x7};
        for (size_t i = 0; i < sizeof kinds / sizeof kinds[0]; i++)
            EXPECT_EQ(LogAssert(log.Handle(), kinds[i], &list[i], "t\n"), QORB_SUCCESS);
    });
    const char* prefixes[] = {"PHY.", "PHYLINK.", "CFG.", "EM.", "SYS.", "DLL.", "TXN.", "UNKNOWN."};
    std::string expected = body.substr(0, body.find('\n') + 1);  /* the QORBTest line */
    for (uint32_t layer = 0; layer < 8; layer++)
        expected += "<Assertion name=\"" + std::string(prefixes[layer]) + "4.2#1." + std::to_string(layer) +
                    "\">\n</Assertion>\n";
    const char* words[] = {"SUCCESS", "INFORMATIONAL", "WARNING", "ERROR", "ABORT", "FAILED", "UNKNOWN STATUS"};
    for (uint32_t i = 0; i < 7; i++)
        expected += "\n<ASSERTTAG assertion = \"" + std::string(prefixes[i]) + "4.2#1." + std::to_string(i) +
                    "\" status = \"" + words[i] + "\">\nt\n</ASSERTTAG>\n\n";
    expected += "</QORBXMLLog>\n";
    EXPECT_EQ(body, expected);
}

TEST(XmlLog, MessageElementsByKind)
{
    EXPECT_EQ(WrittenBody([](ScopedLog& log) {
                  for (int32_t kind : {QORB_LOG_SUCCESS, QORB_LOG_INFO, QORB_LOG_WARNING, QORB_LOG_ERROR,
                                       QORB_LOG_ABORT, QORB_LOG_FAIL, 0x1})
                      WriteToLog(log.Handle(), kind, "<%d%%>", 1);
              }),
              "<SUCCESS>\n<1%></SUCCESS>\n<INFO>\n<1%></INFO>\n<WARNING>\n<1%></WARNING>\n"
              "<WARNING>\n<1%></WARNING>\n<ABORT>\n<1%></ABORT>\n<FAIL>\n<1%></FAIL>\n"
              "<WARNING>\n<1%></WARNING>\n</QORBXMLLog>\n");
}

TEST(XmlLog, LongFormStartTestWritesOnlyTheTestElement)
{
    QORB_DEVICE_t* dut = MakeDevice(0x10EC, 0x0001, 0xFE, 31, 7);
    std::string body = WrittenBody([&](ScopedLog& log) {
        EXPECT_EQ(StartTest(log.Handle(), nullptr, nullptr, 0, nullptr), QORB_SUCCESS);
        EXPECT_EQ(StartTest(log.Handle(), "x", nullptr, 0, dut), QORB_SUCCESS);
        EXPECT_EQ(log.Object()->TestsStarted(), 0u);
        EXPECT_EQ(log.Object()->TestInProgress(), 0);
        EXPECT_EQ(log.Object()->CurrentTestName(), "");
        WriteToLog(log.Handle(), QORB_LOG_FAIL, "f\n");
        EXPECT_EQ(log.Object()->CurrentTest().fails, 0);  /* no test in progress */
    });
    std::regex expected("<QORBTest user=\"test_user\" timestamp=\"[0-9]+:[0-9]+/[0-9]+/[0-9]+/[0-9]+\">\n"
                        "<QORBTest user=\"test_user\" timestamp=\"[^\"]*\">\n"
                        "<DUT DeviceId=\"0X1\" VendorId=\"0X10ec\" Bus=\"254\" Device=\"31\" Function=\"7\">\n"
                        "</DUT>\n<FAIL>\nf\n</FAIL>\n</QORBXMLLog>\n");
    EXPECT_TRUE(std::regex_match(body, expected)) << body;
    CloseDevice(dut);
}

TEST(XmlLog, ShortFormKeepsTestStateButStopTestAddsNoRecord)
{
    ScratchDir dir;
    ScopedLog log(QORB_LOG_TYPE_XML, dir.File("s.xml"));
    StartTest(log.Handle(), "A");
    WriteToLog(log.Handle(), QORB_LOG_FAIL, "f\n");
    EXPECT_EQ(log.Object()->TestsStarted(), 1u);
    EXPECT_EQ(StopTest(log.Handle()), QORB_SUCCESS);
    EXPECT_EQ(log.Object()->FinishedTests().size(), 0u);
    EXPECT_EQ(log.Object()->TestInProgress(), 1);
    EXPECT_EQ(log.Object()->CurrentTest().fails, 1);
}

/* ---------------------------------------------------------- trace dumps */

TEST(XmlLog, TraceDumpHonoursTheRequestedByteCount)
{
    QORB_DEVICE_t* card = MakeCard({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A});
    /* Each request and the count it is left holding (none: the whole copy). */
    uint32_t counts[][2] = {{0, 0}, {8, 8}, {1000, 10}, {6, 6}};
    std::string body = WrittenBody([&](ScopedLog& log) {
        for (auto& c : counts)
            EXPECT_EQ(LogTBContents(log.Handle(), card, &c[0]), QORB_SUCCESS);
        EXPECT_EQ(LogTBContents(log.Handle(), card, nullptr), QORB_SUCCESS);
    });
    for (auto& c : counts)
        EXPECT_EQ(c[0], c[1]);
    /* The bytes beyond a byte count that is not a multiple of 4 print as 0. */
    std::string whole = TraceDump(0, 10, "0x04030201\n0x08070605\n0x00000a09\n");
    EXPECT_EQ(body, whole + TraceDump(0, 8, "0x04030201\n0x08070605\n") + whole +
                                        TraceDump(0, 6, "0x04030201\n0x00000605\n") + whole + "</QORBXMLLog>\n");
    CloseDevice(card);
}

TEST(XmlLog, TraceDumpOfACardWithoutCopyIsEmpty)
{
    QORB_DEVICE_t* card = MakeCard({});
    uint32_t request = 64;
    std::string body =
        WrittenBody([&](ScopedLog& log) { EXPECT_EQ(LogTBContents(log.Handle(), card, &request), QORB_SUCCESS); });
    EXPECT_EQ(request, 0u);
    EXPECT_EQ(body, TraceDump(0, 0, "") + "</QORBXMLLog>\n");
    CloseDevice(card);
}

TEST(XmlLog, TraceDumpRefusesADeviceThatIsNotACard)
{
    QORB_DEVICE_t* plain = MakeDevice(0x8086, 0x1234, 0, 1, 0);
    QORB_DEVICE_t* odd = MakeCard({1, 2, 3, 4});
    odd->isZeb = 2;
    uint32_t request = 100;
    EXPECT_EQ(WrittenBody([&](ScopedLog& log) {
                  for (QORB_DEVICE_t* device : {plain, odd, static_cast<QORB_DEVICE_t*>(nullptr)})
                      EXPECT_EQ(LogTBContents(log.Handle(), device, &request), QORB_INVALID_PARAMETER);
              }),
              "</QORBXMLLog>\n");
    EXPECT_EQ(request, 100u);
    CloseDevice(plain);
    CloseDevice(odd);
}

TEST(XmlLog, LargeTraceDumpHasOneLinePerWord)
{
    const size_t bytes = 1 << 20;
    std::vector<uint8_t> trace(bytes);
    for (size_t i = 0; i < bytes; i += 4) {
        uint32_t word = static_cast<uint32_t>(i * 2654435761u);
        memcpy(&trace[i], &word, 4);
    }
    QORB_DEVICE_t* card = MakeCard(trace);
    std::string body =
        WrittenBody([&](ScopedLog& log) { EXPECT_EQ(LogTBContents(log.Handle(), card, nullptr), QORB_SUCCESS); });
    size_t at = body.find("<TBData>\n");
    ASSERT_NE(at, std::string::npos);
    at += 9;
    for (size_t i = 0; i < bytes; i += 4) {
        char line[16];
        snprintf(line, sizeof line, "0x%08x\n", static_cast<uint32_t>(i * 2654435761u));
        ASSERT_EQ(body.compare(at, 11, line), 0) << "word at byte " << i;
        at += 11;
    }
    EXPECT_EQ(body.substr(at), "</TBData>\n</TBContents></INFO>\n</QORBXMLLog>\n");
    CloseDevice(card);
}

/* With a card library bound, the dump carries the card's action count; a
 * failed query is written as 0 whatever the library left in the count. */
using LogTraceOnCard = ZebFakeTest;

TEST_F(LogTraceOnCard, DumpWritesTheActionCountOrZeroWhenTheQueryFails)
{
    QORB_DEVICE_t* card = Card();
    fake->actionCount = 42;
    EXPECT_EQ(WrittenBody([&](ScopedLog& log) {
                  EXPECT_EQ(LogTBContents(log.Handle(), card, nullptr), QORB_SUCCESS);
                  fake->slotResult[9] = QORB_STATUS_FAILED;
                  EXPECT_EQ(LogTBContents(log.Handle(), card, nullptr), QORB_SUCCESS);
              }),
              TraceDump(42, 0, "") + TraceDump(0, 0, "") + "</QORBXMLLog>\n");
    ASSERT_EQ(CardCalls().size(), 2u);
    EXPECT_EQ(CardCalls()[0].slot, 9u);
    EXPECT_EQ(CardCalls()[0].bus, 3u);
}
