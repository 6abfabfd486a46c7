/* The logging entry points: handles, argument checks and the run-time class
 * checks of the XML-only operations. */
#include <string>

#include <gtest/gtest.h>

#include <qorb/qorb.h>

#include "log_test_util.h"
#include "qorb_internal.h"
#include "qorb_test_support.h"

using qorbtest::ReadFile;
using qorbtest::ScopedLog;
using qorbtest::ScratchDir;
using qorbtest::TestNum;

TEST(LogApi, CreateLogChecksItsPointerAndType)
{
    ScratchDir dir;
    EXPECT_EQ(CreateLog(nullptr, nullptr, QORB_LOG_TYPE_RAW_TEXT, "x.log", QORB_LOG_ACTION_CREATE),
              QORB_INVALID_PARAMETER);
    void* log = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(CreateLog(nullptr, &log, static_cast<_QORB_LOG_TYPE_t>(3), "x.log", QORB_LOG_ACTION_CREATE),
              QORB_INVALID_PARAMETER);
    EXPECT_EQ(log, reinterpret_cast<void*>(0x1234));
    EXPECT_FALSE(qorbtest::FileExists(dir.File("x.log")));
    EXPECT_EQ(CloseLog(nullptr), QORB_SUCCESS);
}

TEST(LogApi, CreateLogMakesTheClassOfTheType)
{
    ScratchDir dir;
    ScopedLog xml(QORB_LOG_TYPE_XML, dir.File("a.xml"));
    ScopedLog text(QORB_LOG_TYPE_RAW_TEXT, dir.File("a.log"));
    ScopedLog console(QORB_LOG_TYPE_CONSOLE, "");
    EXPECT_NE(dynamic_cast<CXmlQORBLog*>(xml.Object()), nullptr);
    EXPECT_EQ(typeid(*text.Object()), typeid(CRawTextQORBLog));
    EXPECT_EQ(typeid(*console.Object()), typeid(CConsoleOutQORBLog));
    /* The instance handle plays no part: a log needs no open library. */
    void* other = nullptr;
    EXPECT_EQ(CreateLog(reinterpret_cast<void*>(0x10), &other, QORB_LOG_TYPE_RAW_TEXT, nullptr,
                        static_cast<_QORB_LOG_ACTION_t>(99)),
              QORB_SUCCESS);
    EXPECT_NE(other, nullptr);
    CloseLog(other);
}

TEST(LogApi, NullLogHandleIsRefusedEverywhere)
{
    auto tn = TestNum(QORB_LAYER_CFG, "1", "2", "3", "4");
    uint32_t n = 0;
    EXPECT_EQ(StartTest(nullptr, "A"), QORB_INVALID_PARAMETER);
    EXPECT_EQ(StartTest(nullptr, "A", &tn, 1, nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(StopTest(nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(StartTestCase(nullptr, "c"), QORB_INVALID_PARAMETER);
    EXPECT_EQ(StartTestCase(nullptr, "c", &tn, 1), QORB_INVALID_PARAMETER);
    EXPECT_EQ(StopTestCase(nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(WriteToLog(nullptr, QORB_LOG_INFO, "x"), QORB_INVALID_PARAMETER);
    EXPECT_EQ(EnableLogging(nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(DisableLogging(nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(LogAssert(nullptr, QORB_LOG_INFO, &tn, "x"), QORB_INVALID_PARAMETER);
    EXPECT_EQ(LogTBContents(nullptr, nullptr, &n), QORB_INVALID_PARAMETER);
}

TEST(LogApi, MissingRequiredArgumentsChangeNothing)
{
    ScratchDir dir;
    for (auto type : {QORB_LOG_TYPE_RAW_TEXT, QORB_LOG_TYPE_XML}) {
        std::string path = dir.File("n" + std::to_string(type));
        ScopedLog log(type, path);
        StartTest(log.Handle(), "A");
        std::string before = ReadFile(path);
        auto tn = TestNum(QORB_LAYER_CFG, "1", "2", "3", "4");
        EXPECT_EQ(StartTest(log.Handle(), nullptr), QORB_INVALID_PARAMETER);
        EXPECT_EQ(StartTestCase(log.Handle(), nullptr), QORB_INVALID_PARAMETER);
        EXPECT_EQ(WriteToLog(log.Handle(), QORB_LOG_FAIL, nullptr), QORB_INVALID_PARAMETER);
        EXPECT_EQ(LogAssert(log.Handle(), QORB_LOG_FAIL, nullptr, "x"), QORB_INVALID_PARAMETER);
        EXPECT_EQ(LogAssert(log.Handle(), QORB_LOG_FAIL, &tn, nullptr), QORB_INVALID_PARAMETER);
        EXPECT_EQ(log.Object()->TestsStarted(), 1u);
        EXPECT_EQ(log.Object()->CurrentTestName(), "A");
        EXPECT_EQ(log.Object()->CurrentTest().fails, 0);
        EXPECT_EQ(ReadFile(path), before) << type;
    }
}

TEST(LogApi, LongFormsNeedAListWhenTheCountIsNotZero)
{
    ScratchDir dir;
    std::string path = dir.File("l.xml");
    ScopedLog log(QORB_LOG_TYPE_XML, path);
    EXPECT_EQ(StartTest(log.Handle(), "A", nullptr, 2, nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(StartTestCase(log.Handle(), "c", nullptr, 2), QORB_INVALID_PARAMETER);
    auto tn = TestNum(QORB_LAYER_CFG, "1", "2", "3", "4");
    EXPECT_EQ(StartTestCase(log.Handle(), "c", &tn, 1), QORB_SUCCESS);
    EXPECT_EQ(StartTestCase(log.Handle(), nullptr, nullptr, 0), QORB_SUCCESS);
    log.Close();
    EXPECT_EQ(ReadFile(path).find("QORBTest"), std::string::npos);
}

TEST(LogApi, XmlOnlyOperationsRefuseTextAndConsoleLogs)
{
    ScratchDir dir;
    QORB_DEVICE_t* card = CreateDeviceRecord(nullptr, 1, 0, 0);
    ASSERT_NE(card, nullptr);
    card->isZeb = 1;
    auto tn = TestNum(QORB_LAYER_CFG, "1", "2", "3", "4");
    uint32_t n = 0;
    qorbtest::CaptureFd err(2);
    for (auto type : {QORB_LOG_TYPE_RAW_TEXT, QORB_LOG_TYPE_CONSOLE}) {
        std::string path = dir.File("t" + std::to_string(type));
        ScopedLog log(type, path);
        EXPECT_EQ(StartTest(log.Handle(), "A", &tn, 1, card), QORB_INVALID_PARAMETER);
        EXPECT_EQ(StartTestCase(log.Handle(), "c", &tn, 1), QORB_INVALID_PARAMETER);
        EXPECT_EQ(LogTBContents(log.Handle(), card, &n), QORB_INVALID_PARAMETER);
        EXPECT_EQ(ReadFile(path), "") << type;
        EXPECT_EQ(log.Object()->TestsStarted(), 0u);
    }
    std::string console = err.Text();
    EXPECT_EQ(console, "INFO    Summary Log Counts [ Fails (0); Aborts (0); Warnings (0) ]\n");
    CloseDevice(card);
}
