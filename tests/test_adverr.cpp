/* AER status assertions: verdict texts, statuses and the clearing write. */
#include <gtest/gtest.h>

#include <string.h>

#include <iterator>

#include "qorb_test_support.h"

using namespace qorbtest;

namespace {

constexpr uint8_t kPcieCap = 0x40;
constexpr uint16_t kAer = 0x100;

ConfigSpace EndpointWithAer(uint32_t uncorrectable, uint32_t correctable, bool secondAer = false)
{
    ConfigSpace s;
    s.Header(0x1AF4, 0x1041, 0x02, 0x00, 0x00, 0x00).CapPointer(kPcieCap);
    s.PcieCap(kPcieCap, QORB_PCIE_ENDPOINT, 0x00);
    s.ExtCap(kAer, 0x0001, secondAer ? 0x200 : 0x000);
    s.Set32(kAer + 0x04, uncorrectable);
    s.Set32(kAer + 0x10, correctable);
    if (secondAer)
        s.ExtCap(0x200, 0x0001, 0x000);
    return s;
}

ConfigSpace EndpointWithoutAer()
{
    ConfigSpace s;
    s.Header(0x1AF4, 0x1042, 0x02, 0x00, 0x00, 0x00).CapPointer(kPcieCap);
    s.PcieCap(kPcieCap, QORB_PCIE_ENDPOINT, 0x00);
    s.ExtCap(kAer, 0x0003, 0x000); /* serial number only */
    return s;
}

using AssertFn = _QORB_STATUS_t (*)(void*, void*, int32_t, int32_t);

struct Row {
    AssertFn fn;
    bool uncorrectable;
    uint32_t mask;
    const char* field;
    bool twoSpaces;
};

const Row kRows[] = {
    {QORB_ADVERR_Util_AssertTrainingErrorStatus, true, 0x00000001, "Training Error", false},
    {QORB_ADVERR_Util_AssertDLProtocolErrorStatus, true, 0x00000010, "Data Link Protocol", false},
    {QORB_ADVERR_Util_AssertFlowControlProtocolErrorStatus, true, 0x00002000, "Flow Control Protocol Error", false},
    {QORB_ADVERR_Util_AssertCompletionTimeoutStatus, true, 0x00004000, "Completion Timeout", false},
    {QORB_ADVERR_Util_AssertCompleterAbortStatus, true, 0x00008000, "Completer Abort", false},
    {QORB_ADVERR_Util_AssertUnexpectedCompletionStatus, true, 0x00010000, "Unexpected Completion", false},
    {QORB_ADVERR_Util_AssertReceiverOverflowStatus, true, 0x00020000, "Receiver Overflow", false},
    {QORB_ADVERR_Util_AssertUnsupportedRequestErrorStatus, true, 0x00100000, "Unsupported Request Error", false},
    {QORB_ADVERR_Util_AssertReceiverErrorStatus, false, 0x00000001, "Receiver Error", false},
    {QORB_ADVERR_Util_AssertBadTLPStatus, false, 0x00000040, "Bad TLP", false},
    {QORB_ADVERR_Util_AssertBadDLLPStatus, false, 0x00000080, "Bad DLLP", false},
    {QORB_ADVERR_Util_AssertReplayNumberRolloverStatus, false, 0x00000100, "Replay Number Rollover", true},
    {QORB_ADVERR_Util_AssertReplayTimerTimeoutStatus, false, 0x00001000, "Replay Timer Timeout", true},
};

std::string Verdict(const Row& r, const char* expected, const char* actual)
{
    bool failing = std::string(expected) != actual;
    return std::string("::(Adv Error ") + (r.uncorrectable ? "Uncorrectable" : "Correctable") +
           ((failing && r.twoSpaces) ? " Status Register :  " : " Status Register : ") + r.field +
           " Status bit ) (Expected : " + expected + ") Actual value (" + actual + ")::";
}

/* A text log in the scratch folder; its file holds exactly what was logged. */
struct TextLog {
    void* log = nullptr;
    std::string path;
    explicit TextLog(const std::string& p) : path(p)
    {
        EXPECT_EQ(CreateLog(nullptr, &log, QORB_LOG_TYPE_RAW_TEXT, path.c_str(), QORB_LOG_ACTION_CREATE),
                  QORB_SUCCESS);
    }
    ~TextLog() { CloseLog(log); }
    std::string Take()
    {
        std::string text = ReadFile(path);
        WriteFile(path, "");
        CloseLog(log);
        EXPECT_EQ(CreateLog(nullptr, &log, QORB_LOG_TYPE_RAW_TEXT, path.c_str(), QORB_LOG_ACTION_CREATE),
                  QORB_SUCCESS);
        return text;
    }
};

/* 01:00.0 on a platform of its own, its record and a text log. */
struct Rig {
    SimPlatform platform;
    FoundDevice found{1, 0, 0};
    void* dev = *found;
    TextLog text{platform.File("aer.log")};
    void* log() const { return text.log; }
    explicit Rig(const ConfigSpace& endpoint) : platform({{1, 0, 0, endpoint}}) {}
};

uint32_t Read32(void* device, uint32_t offset)
{
    uint8_t b[4] = {};
    uint32_t len = 4;
    EXPECT_EQ(ReadConfigSpace(device, b, offset, &len), QORB_SUCCESS);
    return static_cast<uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (b[3] << 24));
}

} // namespace

TEST(AerAssertions, EveryAssertionPassesAndFailsWithItsExactText)
{
    for (const Row& r : kRows) {
        SCOPED_TRACE(r.field);
        Rig rig(EndpointWithAer(r.uncorrectable ? r.mask : 0, r.uncorrectable ? 0 : r.mask));
        ASSERT_EQ(rig.found.Status(), QORB_SUCCESS);
        /* expected, clear, status, verdict texts; the third step's expected 2
         * never equals the bit; the clearing write comes after the fourth. */
        const struct {
            int32_t expected, clear;
            _QORB_STATUS_t status;
            const char *wanted, *actual;
        } steps[] = {{1, 0, QORB_SUCCESS, "SET", "SET"},       {0, 1, QORB_STATUS_FAILED, "CLEAR", "SET"},
                     {2, 1, QORB_STATUS_FAILED, "SET", "CLEAR"}, {1, 1, QORB_SUCCESS, "SET", "SET"},
                     {0, 0, QORB_SUCCESS, "CLEAR", "CLEAR"},     {1, 0, QORB_STATUS_FAILED, "SET", "CLEAR"}};
        for (size_t i = 0; i < std::size(steps); ++i) {
            EXPECT_EQ(r.fn(rig.dev, rig.log(), steps[i].expected, steps[i].clear), steps[i].status) << i;
            EXPECT_EQ(rig.text.Take(), Verdict(r, steps[i].wanted, steps[i].actual)) << i;
            if (i == 2) { /* the failing checks wrote nothing: the bit is still set */
                EXPECT_EQ(Read32(rig.dev, kAer + (r.uncorrectable ? 0x04 : 0x10)) & r.mask, r.mask);
            }
        }
    }
}

TEST(AerAssertions, ClearingWriteClearsEveryBitThatWasSet)
{
    /* Receiver Error and Bad DLLP set; asserting Receiver Error clears both. */
    Rig rig(EndpointWithAer(0x00100010, 0x00000081));
    ASSERT_EQ(rig.found.Status(), QORB_SUCCESS);
    void* dev = rig.dev;
    EXPECT_EQ(QORB_ADVERR_Util_AssertReceiverErrorStatus(dev, rig.log(), 1, 1), QORB_SUCCESS);
    EXPECT_EQ(Read32(dev, kAer + 0x10), 0u);
    EXPECT_EQ(Read32(dev, kAer + 0x04), 0x00100010u);
    /* A passing check with expected CLEAR still writes, clearing the others. */
    EXPECT_EQ(QORB_ADVERR_Util_AssertTrainingErrorStatus(dev, rig.log(), 0, 1), QORB_SUCCESS);
    EXPECT_EQ(Read32(dev, kAer + 0x04), 0u);
}

TEST(AerAssertions, DeviceWithoutAerLogsNotImplemented)
{
    Rig rig(EndpointWithoutAer());
    ASSERT_EQ(rig.found.Status(), QORB_SUCCESS);
    void* dev = rig.dev;
    for (const Row& r : kRows) {
        EXPECT_EQ(r.fn(dev, rig.log(), 1, 1), QORB_PCIE_CAP_OUT_OF_RANGE) << r.field;
        EXPECT_EQ(rig.text.Take(), "::Advanced Error Caps not implemented::") << r.field;
    }
    QORB_ADVERR_INFO_t info;
    memset(&info, 0xAB, sizeof info);
    EXPECT_EQ(QORB_ADVERR_Util_GetAdvErrorRepCap(dev, &info), QORB_PCIE_CAP_OUT_OF_RANGE);
    EXPECT_EQ(info.device, dev);
    EXPECT_EQ(info.capHandle, nullptr);
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&info.aer);
    for (size_t i = 0; i < sizeof info.aer; ++i)
        ASSERT_EQ(raw[i], 0) << i;
}

TEST(AerAssertions, TwoAerCapabilitiesAreReported)
{
    Rig rig(EndpointWithAer(0, 0x40, true));
    ASSERT_EQ(rig.found.Status(), QORB_SUCCESS);
    void* dev = rig.dev;
    CaptureFd out(1);
    EXPECT_EQ(QORB_ADVERR_Util_AssertBadTLPStatus(dev, rig.log(), 1, 1), QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP);
    out.Text();
    EXPECT_EQ(rig.text.Take(), "::Advanced Error Caps not implemented::");
}

TEST(AerAssertions, GetAdvErrorRepCapHandsOutTheHandle)
{
    Rig rig(EndpointWithAer(0x10, 0x40));
    ASSERT_EQ(rig.found.Status(), QORB_SUCCESS);
    void* dev = rig.dev;
    QORB_ADVERR_INFO_t info{};
    ASSERT_EQ(QORB_ADVERR_Util_GetAdvErrorRepCap(dev, &info), QORB_SUCCESS);
    EXPECT_EQ(info.device, dev);
    EXPECT_EQ(info.aer.uncorrectableErrorStatus, 0x10u);
    EXPECT_EQ(info.aer.correctableErrorStatus, 0x40u);
    uint32_t offset = 0;
    ASSERT_NE(info.capHandle, nullptr);
    EXPECT_EQ(GetCapOffset(info.capHandle, &offset), QORB_SUCCESS);
    EXPECT_EQ(offset, kAer);
    QORB_FreeCapabilityHandle(info.capHandle);
}
