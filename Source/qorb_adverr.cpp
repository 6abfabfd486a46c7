/* Advanced Error Reporting status assertions. Each assertion reads the
 * device's AER capability afresh, compares one status bit with the expected
 * state, writes its verdict into the log as an informational message and,
 * on a passing check with the clear flag, writes the register value it read
 * OR the bit back: the registers are write-one-to-clear, so that clears the
 * bit and every other bit that was set when it was read.
 *
 * The capability handle an assertion obtains is released before it returns,
 * on every path. */
#include <string>

#include <qorb_common/aer_bits.h>

#include "qorb_internal.h"

namespace {

constexpr const char* kNoAer = "::Advanced Error Caps not implemented::";

enum class AerRegister { Uncorrectable, Correctable };

struct Assertion {
    AerRegister reg;
    uint32_t mask;
    const char* field;
    bool twoSpacesWhenFailing;  /* the replay assertions' failing texts */
};

/* Logs a text the library composed itself; it holds no conversion. */
void LogInfo(void* log, const std::string& text)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
    WriteToLog(log, QORB_LOG_INFO, text.c_str());
#pragma GCC diagnostic pop
}

std::string VerdictText(const Assertion& a, bool expectedSet, bool actualSet)
{
    bool failing = expectedSet != actualSet;
    std::string text = "::(Adv Error ";
    text += a.reg == AerRegister::Uncorrectable ? "Uncorrectable" : "Correctable";
    text += (failing && a.twoSpacesWhenFailing) ? " Status Register :  " : " Status Register : ";
    text += a.field;
    text += " Status bit ) (Expected : ";
    text += expectedSet ? "SET" : "CLEAR";
    text += ") Actual value (";
    text += actualSet ? "SET" : "CLEAR";
    text += ")::";
    return text;
}

_QORB_STATUS_t Assert(const Assertion& a, void* device, void* log, int32_t expected, int32_t clear)
{
    QORB_ADVERR_INFO_t info{};
    _QORB_STATUS_t status = QORB_ADVERR_Util_GetAdvErrorRepCap(device, &info);
    if (status != QORB_SUCCESS) {
        QORB_FreeCapabilityHandle(info.capHandle);
        LogInfo(log, kNoAer);
        return status;
    }
    uint32_t value = a.reg == AerRegister::Uncorrectable ? info.aer.uncorrectableErrorStatus
                                                         : info.aer.correctableErrorStatus;
    int32_t actual = (value & a.mask) ? 1 : 0;
    if (expected == actual) {
        if (clear) {
            uint32_t toClear = value | a.mask;
            uint8_t bytes[4] = {static_cast<uint8_t>(toClear), static_cast<uint8_t>(toClear >> 8),
                                static_cast<uint8_t>(toClear >> 16), static_cast<uint8_t>(toClear >> 24)};
            uint32_t length = sizeof bytes;
            uint32_t offset = a.reg == AerRegister::Uncorrectable ? PCI_ERR_UNCOR_STATUS : PCI_ERR_COR_STATUS;
            (void)WriteCapability(info.capHandle, bytes, offset, &length);
        }
        QORB_FreeCapabilityHandle(info.capHandle);
        LogInfo(log, VerdictText(a, expected == 1, expected == 1));
        return QORB_SUCCESS;
    }
    QORB_FreeCapabilityHandle(info.capHandle);
    LogInfo(log, VerdictText(a, expected != 0, expected == 0));
    return QORB_STATUS_FAILED;
}

/* One row per assertion operation, in the order of qorb_aer::kAssertions;
 * the replay assertions' failing verdicts carry two spaces. */
constexpr Assertion Row(int i, bool twoSpacesWhenFailing = false)
{
    return {qorb_aer::kAssertions[i].correctable ? AerRegister::Correctable : AerRegister::Uncorrectable,
            qorb_aer::kAssertions[i].mask, qorb_aer::kAssertions[i].field, twoSpacesWhenFailing};
}

constexpr Assertion kTrainingError = Row(0);
constexpr Assertion kDLProtocol = Row(1);
constexpr Assertion kFlowControl = Row(2);
constexpr Assertion kCompletionTimeout = Row(3);
constexpr Assertion kCompleterAbort = Row(4);
constexpr Assertion kUnexpectedCompletion = Row(5);
constexpr Assertion kReceiverOverflow = Row(6);
constexpr Assertion kUnsupportedRequest = Row(7);
constexpr Assertion kReceiverError = Row(8);
constexpr Assertion kBadTlp = Row(9);
constexpr Assertion kBadDllp = Row(10);
constexpr Assertion kReplayRollover = Row(11, true);
constexpr Assertion kReplayTimeout = Row(12, true);
static_assert(qorb_aer::kAssertionCount == 13);

} // namespace

QORB_EXTERN_C QORB_API _QORB_STATUS_t QORB_ADVERR_Util_GetAdvErrorRepCap(void* device, QORB_ADVERR_INFO_t* info)
{
    if (!info)
        return QORB_INVALID_PARAMETER;
    info->capHandle = nullptr;
    info->aer = _PCIE_ADV_ERR_REP_CAP_STRUCT_t{};
    _QORB_STATUS_t status = device ? GetAdvErrRepCapability(device, &info->aer, &info->capHandle)
                                   : QORB_INVALID_PARAMETER;
    info->device = device;
    return status;
}

#define QORB_DEFINE_ASSERTION(name, row)                                                              \
    QORB_EXTERN_C QORB_API _QORB_STATUS_t name(void* device, void* log, int32_t expected, int32_t clear) \
    {                                                                                                 \
        return Assert(row, device, log, expected, clear);                                             \
    }

QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertTrainingErrorStatus, kTrainingError)
QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertDLProtocolErrorStatus, kDLProtocol)
QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertFlowControlProtocolErrorStatus, kFlowControl)
QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertCompletionTimeoutStatus, kCompletionTimeout)
QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertCompleterAbortStatus, kCompleterAbort)
QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertUnexpectedCompletionStatus, kUnexpectedCompletion)
QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertReceiverOverflowStatus, kReceiverOverflow)
QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertUnsupportedRequestErrorStatus, kUnsupportedRequest)
QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertReceiverErrorStatus, kReceiverError)
QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertBadTLPStatus, kBadTlp)
QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertBadDLLPStatus, kBadDllp)
QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertReplayNumberRolloverStatus, kReplayRollover)
QORB_DEFINE_ASSERTION(QORB_ADVERR_Util_AssertReplayTimerTimeoutStatus, kReplayTimeout)
