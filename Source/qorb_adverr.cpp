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

constexpr Assertion kTrainingError{AerRegister::Uncorrectable, 0x00000001, "Training Error", false};
constexpr Assertion kDLProtocol{AerRegister::Uncorrectable, PCI_ERR_UNC_DLP, "Data Link Protocol", false};
constexpr Assertion kFlowControl{AerRegister::Uncorrectable, PCI_ERR_UNC_FCP, "Flow Control Protocol Error", false};
constexpr Assertion kCompletionTimeout{AerRegister::Uncorrectable, PCI_ERR_UNC_COMP_TIME, "Completion Timeout", false};
constexpr Assertion kCompleterAbort{AerRegister::Uncorrectable, PCI_ERR_UNC_COMP_ABORT, "Completer Abort", false};
constexpr Assertion kUnexpectedCompletion{AerRegister::Uncorrectable, PCI_ERR_UNC_UNX_COMP, "Unexpected Completion",
                                          false};
constexpr Assertion kReceiverOverflow{AerRegister::Uncorrectable, PCI_ERR_UNC_RX_OVER, "Receiver Overflow", false};
constexpr Assertion kUnsupportedRequest{AerRegister::Uncorrectable, PCI_ERR_UNC_UNSUP, "Unsupported Request Error",
                                        false};
constexpr Assertion kReceiverError{AerRegister::Correctable, PCI_ERR_COR_RCVR, "Receiver Error", false};
constexpr Assertion kBadTlp{AerRegister::Correctable, PCI_ERR_COR_BAD_TLP, "Bad TLP", false};
constexpr Assertion kBadDllp{AerRegister::Correctable, PCI_ERR_COR_BAD_DLLP, "Bad DLLP", false};
constexpr Assertion kReplayRollover{AerRegister::Correctable, PCI_ERR_COR_REP_ROLL, "Replay Number Rollover", true};
constexpr Assertion kReplayTimeout{AerRegister::Correctable, PCI_ERR_COR_REP_TIMER, "Replay Timer Timeout", true};

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
