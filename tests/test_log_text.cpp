/* Test state, counting and the lines of the text and console logs. */
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include <qorb/qorb.h>

#include "log_test_util.h"
#include "qorb_test_support.h"

using qorbtest::ReadFile;
using qorbtest::ScopedLog;
using qorbtest::ScratchDir;
using qorbtest::TestNum;

namespace {

constexpr int32_t kUnknownKind = 0x12345;

std::string StopLine(const std::string& name, int fails, int aborts, int warnings)
{
    return "Stopping Test [ " + name + ":\n     Number of: Fails (" + std::to_string(fails) + "); Aborts (" +
           std::to_string(aborts) + "); Warnings (" + std::to_string(warnings) + ") ]\n\n";
}

/* A raw text log t.log in a scratch folder; h is its handle. */
class RawLog : public ::testing::Test {
protected:
    std::string Text() const { return ReadFile(dir.File("t.log")); }
    ScratchDir dir;
    ScopedLog log{QORB_LOG_TYPE_RAW_TEXT, dir.File("t.log")};
    void* h = log.Handle();
};

void ExpectCounts(const CTestRecord& r, const std::string& name, int fails, int aborts, int warnings, int info)
{
    EXPECT_EQ(r.name, name);
    EXPECT_EQ(std::tuple(r.fails, r.aborts, r.warnings, r.informational), std::tuple(fails, aborts, warnings, info));
}

} // namespace

/* ------------------------------------------------------------ counting */

TEST_F(RawLog, EachKindCountsOnlyItsOwnCounterWhileATestRuns)
{
    ASSERT_EQ(log.Status(), QORB_SUCCESS);
    ASSERT_EQ(StartTest(h, "Width"), QORB_SUCCESS);
    EXPECT_EQ(log.Object()->TestInProgress(), 1);
    for (int32_t kind : {QORB_LOG_FAIL, QORB_LOG_FAIL, QORB_LOG_ABORT, QORB_LOG_WARNING, QORB_LOG_INFO,
                         QORB_LOG_ERROR, QORB_LOG_SUCCESS, kUnknownKind, QORB_LOG_FAIL | QORB_LOG_INFO})
        EXPECT_EQ(WriteToLog(h, kind, "k%x\n", static_cast<unsigned>(kind)), QORB_SUCCESS);
    ExpectCounts(log.Object()->CurrentTest(), "Width", 2, 1, 1, 1);

    ASSERT_EQ(StopTest(h), QORB_SUCCESS);
    EXPECT_EQ(log.Object()->TestInProgress(), 0);
    ASSERT_EQ(log.Object()->FinishedTests().size(), 1u);
    ExpectCounts(log.Object()->FinishedTests()[0], "Width", 2, 1, 1, 1);
    ExpectCounts(log.Object()->CurrentTest(), "", 0, 0, 0, 0);
    EXPECT_EQ(log.Object()->CurrentTestName(), "Width");  /* never cleared */

    EXPECT_EQ(Text(),
              "Now Starting Test:Width\nk80000000\nk80000000\nk40000000\nk8000000\nk4000000\nk20000000\nk0\n"
              "k12345\nk84000000\n" + StopLine("Width", 2, 1, 1));
}

TEST_F(RawLog, MessagesOutsideATestAreWrittenButNotCounted)
{
    WriteToLog(h, QORB_LOG_FAIL, "before\n");
    StartTest(h, "A");
    WriteToLog(h, QORB_LOG_WARNING, "during\n");
    StopTest(h);
    WriteToLog(h, QORB_LOG_FAIL, "after\n");
    EXPECT_EQ(log.Object()->CurrentTest().fails, 0);
    ASSERT_EQ(log.Object()->FinishedTests().size(), 1u);
    ExpectCounts(log.Object()->FinishedTests()[0], "A", 0, 0, 1, 0);
    EXPECT_EQ(Text(),
              "before\nNow Starting Test:A\nduring\n" + StopLine("A", 0, 0, 1) + "after\n");
}

TEST_F(RawLog, DisabledLogDropsMessagesAndTheirCountsButKeepsTestLines)
{
    StartTest(h, "A");
    EXPECT_EQ(DisableLogging(h), QORB_SUCCESS);
    EXPECT_EQ(log.Object()->Enabled(), 0);
    EXPECT_EQ(WriteToLog(h, QORB_LOG_FAIL, "lost\n"), QORB_SUCCESS);
    EXPECT_EQ(log.Object()->CurrentTest().fails, 0);
    EXPECT_EQ(EnableLogging(h), QORB_SUCCESS);
    WriteToLog(h, QORB_LOG_FAIL, "kept\n");
    DisableLogging(h);
    StopTest(h);
    StartTest(h, "B");
    EXPECT_EQ(Text(),
              "Now Starting Test:A\nkept\n" + StopLine("A", 1, 0, 0) + "Now Starting Test:B\n");
}

TEST_F(RawLog, SecondStartTestWithoutStopMergesIntoOneRecord)
{
    StartTest(h, "First");
    WriteToLog(h, QORB_LOG_FAIL, "f\n");
    StartTest(h, "Second");
    WriteToLog(h, QORB_LOG_FAIL, "f\n");
    EXPECT_EQ(log.Object()->TestsStarted(), 2u);
    StopTest(h);
    ASSERT_EQ(log.Object()->FinishedTests().size(), 1u);
    ExpectCounts(log.Object()->FinishedTests()[0], "Second", 2, 0, 0, 0);
    /* StopTest without a test in progress still appends a record. */
    StopTest(h);
    EXPECT_EQ(log.Object()->FinishedTests().size(), 2u);
    EXPECT_EQ(Text(), "Now Starting Test:First\nf\nNow Starting Test:Second\nf\n" +
                                               StopLine("Second", 2, 0, 0) + StopLine("Second", 0, 0, 0));
}

TEST(LogCounting, TestCasesLeaveNoTraceInAnyLog)
{
    ScratchDir dir;
    for (auto type : {QORB_LOG_TYPE_RAW_TEXT, QORB_LOG_TYPE_CONSOLE, QORB_LOG_TYPE_XML}) {
        ScopedLog log(type, dir.File("case.log"));
        std::string before = ReadFile(dir.File("case.log"));
        qorbtest::CaptureFd err(2);
        EXPECT_EQ(StartTestCase(log.Handle(), "case"), QORB_SUCCESS);
        EXPECT_EQ(StopTestCase(log.Handle()), QORB_SUCCESS);
        EXPECT_EQ(StopTestCase(log.Handle()), QORB_SUCCESS);
        EXPECT_EQ(err.Text(), "");
        EXPECT_EQ(ReadFile(dir.File("case.log")), before) << type;
        EXPECT_EQ(log.Object()->TestsStarted(), 0u);
    }
}

/* ------------------------------------------------------------ text log */

TEST(TextLog, AppendsToAnExistingFileAcrossTestsAndClose)
{
    ScratchDir dir;
    qorbtest::WriteFile(dir.File("old.log"), "earlier run\n");
    {
        ScopedLog log(QORB_LOG_TYPE_RAW_TEXT, dir.File("old.log"));
        StartTest(log.Handle(), "A");
        StopTest(log.Handle());  /* reopens the file */
        WriteToLog(log.Handle(), QORB_LOG_INFO, "after reopen\n");
    }
    ScopedLog again(QORB_LOG_TYPE_RAW_TEXT, dir.File("old.log"));
    WriteToLog(again.Handle(), QORB_LOG_INFO, "second log\n");
    EXPECT_EQ(ReadFile(dir.File("old.log")),
              "earlier run\nNow Starting Test:A\n" + StopLine("A", 0, 0, 0) + "after reopen\nsecond log\n");
}

TEST(TextLog, LogWithoutFileAcceptsEverythingAndWritesNothing)
{
    ScratchDir dir;
    for (const std::string& name : {dir.File("missing/dir/t.log"), std::string()}) {
        ScopedLog log(QORB_LOG_TYPE_RAW_TEXT, name);
        ASSERT_EQ(log.Status(), QORB_SUCCESS);
        ASSERT_NE(log.Handle(), nullptr);
        auto tn = TestNum(QORB_LAYER_CFG, "1", "2", "3", "4");
        EXPECT_EQ(WriteToLog(log.Handle(), QORB_LOG_FAIL, "x\n"), QORB_SUCCESS);
        EXPECT_EQ(StartTest(log.Handle(), "A"), QORB_SUCCESS);
        EXPECT_EQ(StopTest(log.Handle()), QORB_SUCCESS);
        EXPECT_EQ(LogAssert(log.Handle(), QORB_LOG_FAIL, &tn, "x\n"), QORB_SUCCESS);
        EXPECT_EQ(log.Object()->WriteText(QORB_LOG_INFO, "x"), QORB_LOG_NOT_OPEN);
        EXPECT_EQ(log.Object()->ReopenFile(), QORB_LOG_NOT_OPEN);
    }
    EXPECT_FALSE(qorbtest::FileExists(dir.File("missing")));
}

TEST_F(RawLog, AssertionLineAlwaysSaysCfgAndIgnoresTheEnabledFlag)
{
    StartTest(h, "A");
    DisableLogging(h);
    auto phy = TestNum(QORB_LAYER_PHY, "4", "2", "1", "3");
    auto txn = TestNum(QORB_LAYER_TXN, "10", "20", "30", "40");
    EXPECT_EQ(LogAssert(h, QORB_LOG_FAIL, &phy, "lane 3 50% off\n"), QORB_SUCCESS);
    EXPECT_EQ(LogAssert(h, QORB_LOG_SUCCESS, &txn, "no line feed"), QORB_SUCCESS);
    EXPECT_EQ(log.Object()->CurrentTest().fails, 0);
    EXPECT_EQ(Text(),
              "Now Starting Test:A\nCFG 4.2.1 : 3 : lane 3 50% off\nCFG 10.20.30 : 40 : no line feed");
}

TEST_F(RawLog, AssertionFieldWithoutTerminatorIsReadToItsFifthByte)
{
    auto tn = TestNum(QORB_LAYER_CFG, "1", "2", "3", "4");
    memcpy(tn.major, "ABCDE", 5);  /* runs into minor without a NUL */
    LogAssert(h, QORB_LOG_INFO, &tn, "x\n");
    EXPECT_EQ(Text(), "CFG ABCDE.2.3 : 4 : x\n");
}

TEST_F(RawLog, PercentSignsPassUnchanged)
{
    StartTest(h, "100%s%d");
    WriteToLog(h, QORB_LOG_INFO, "%s\n", "50% %s %n %%");
    EXPECT_EQ(Text(), "Now Starting Test:100%s%d\n50% %s %n %%\n");
}

TEST_F(RawLog, OverLongMessageIsCutTo2047Bytes)
{
    std::string big(3000, 'x');
    big[2046] = 'L';
    big[2047] = 'C';
    EXPECT_EQ(WriteToLog(h, QORB_LOG_INFO, "%s", big.c_str()), QORB_SUCCESS);
    std::string exact(2047, 'y');
    WriteToLog(h, QORB_LOG_INFO, "%s", exact.c_str());
    EXPECT_EQ(Text(), big.substr(0, 2047) + exact);
}

TEST(TextLog, LinesWrittenBeforeAKillAreInTheFile)
{
    ScratchDir dir;
    std::string path = dir.File("killed.log");
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(acks[0]);
        void* log = nullptr;
        CreateLog(nullptr, &log, QORB_LOG_TYPE_RAW_TEXT, path.c_str(), QORB_LOG_ACTION_CREATE);
        StartTest(log, "Killed");
        for (int i = 0; i < 1000000; i++) {
            WriteToLog(log, QORB_LOG_INFO, "line %d\n", i);
            if (write(acks[1], &i, sizeof i) != sizeof i)
                break;
        }
        _exit(0);
    }
    close(acks[1]);
    int last = -1;
    while (last < 500 && read(acks[0], &last, sizeof last) == sizeof last) {
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    int n;
    while (read(acks[0], &n, sizeof n) == sizeof n)
        last = n;
    close(acks[0]);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(last, 500);

    std::string text = ReadFile(path);
    std::string expected = "Now Starting Test:Killed\n";
    for (int i = 0; i <= last; i++)
        expected += "line " + std::to_string(i) + "\n";
    ASSERT_GE(text.size(), expected.size());
    EXPECT_EQ(text.substr(0, expected.size()), expected);
}

/* --------------------------------------------------------- console log */

TEST(ConsoleLog, EveryKindGetsItsPrefixOnStderrAndInTheFile)
{
    ScratchDir dir;
    qorbtest::CaptureFd err(2);
    ScopedLog log(QORB_LOG_TYPE_CONSOLE, dir.File("c.log"));
    StartTest(log.Handle(), "P");
    for (int32_t kind : {QORB_LOG_FAIL, QORB_LOG_ABORT, QORB_LOG_WARNING, QORB_LOG_INFO, QORB_LOG_ERROR,
                         QORB_LOG_SUCCESS, kUnknownKind})
        WriteToLog(log.Handle(), kind, "m%%\n");
    EXPECT_EQ(log.Object()->CurrentTest().fails, 1);
    EXPECT_EQ(log.Object()->CurrentTest().aborts, 1);
    EXPECT_EQ(log.Object()->CurrentTest().warnings, 1);
    StopTest(log.Handle());
    log.Close();
    std::string expected = "INFO    Now Starting Test:P\n"
                           "FAIL    m%\nABORT   m%\nWARNING m%\nINFO    m%\nERROR   m%\nm%\nm%\n"
                           "INFO    " + StopLine("P", 1, 1, 1) +
                           "INFO    Summary Log Counts [ Fails (1); Aborts (1); Warnings (1) ]\n";
    EXPECT_EQ(err.Text(), expected);
    EXPECT_EQ(ReadFile(dir.File("c.log")), expected);
}

TEST(ConsoleLog, WithoutNameWritesOnlyToStderr)
{
    ScratchDir dir;
    qorbtest::CaptureFd err(2);
    {
        ScopedLog log(QORB_LOG_TYPE_CONSOLE, "");
        EXPECT_EQ(WriteToLog(log.Handle(), QORB_LOG_WARNING, "w\n"), QORB_SUCCESS);
        EXPECT_EQ(log.Object()->WriteText(QORB_LOG_INFO, "direct\n"), QORB_SUCCESS);
        EXPECT_EQ(log.Object()->ReopenFile(), QORB_SUCCESS);
    }
    EXPECT_EQ(err.Text(), "WARNING w\nINFO    direct\n"
                          "INFO    Summary Log Counts [ Fails (0); Aborts (0); Warnings (0) ]\n");
}

TEST(ConsoleLog, AssertionIsAShortMessageThatObeysTheEnabledFlag)
{
    ScratchDir dir;
    qorbtest::CaptureFd err(2);
    ScopedLog log(QORB_LOG_TYPE_CONSOLE, "");
    auto tn = TestNum(QORB_LAYER_PHY, "4", "2", "1", "3");
    StartTest(log.Handle(), "A");
    EXPECT_EQ(LogAssert(log.Handle(), QORB_LOG_FAIL, &tn, "bad 5%\n"), QORB_SUCCESS);
    EXPECT_EQ(log.Object()->CurrentTest().fails, 1);
    DisableLogging(log.Handle());
    EXPECT_EQ(LogAssert(log.Handle(), QORB_LOG_FAIL, &tn, "hidden\n"), QORB_SUCCESS);
    EXPECT_EQ(log.Object()->CurrentTest().fails, 1);
    std::string longText(3000, 'z');
    EnableLogging(log.Handle());
    LogAssert(log.Handle(), QORB_LOG_SUCCESS, &tn, longText.c_str());
    std::string text = err.Text();
    EXPECT_EQ(text, "INFO    Now Starting Test:A\nFAIL    CFG 4.2.1 : bad 5%\n" +
                        ("CFG 4.2.1 : " + longText).substr(0, 2047));
}

TEST(ConsoleLog, SummaryCountsOnlyFinishedTests)
{
    ScratchDir dir;
    qorbtest::CaptureFd err(2);
    {
        ScopedLog log(QORB_LOG_TYPE_CONSOLE, "");
        for (const char* name : {"A", "B"}) {
            StartTest(log.Handle(), name);
            WriteToLog(log.Handle(), QORB_LOG_FAIL, "f\n");
            WriteToLog(log.Handle(), QORB_LOG_WARNING, "w\n");
            StopTest(log.Handle());
        }
        StartTest(log.Handle(), "Running");
        WriteToLog(log.Handle(), QORB_LOG_ABORT, "a\n");
    }
    std::string text = err.Text();
    std::string summary = "INFO    Summary Log Counts [ Fails (2); Aborts (0); Warnings (2) ]\n";
    ASSERT_GE(text.size(), summary.size());
    EXPECT_EQ(text.substr(text.size() - summary.size()), summary);
}
