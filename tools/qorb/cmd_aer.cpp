/* qorb aer: the Advanced Error Reporting status of functions, decoded as
 * lspci prints it; --clear writes the set status bits back to clear them. */
#include "config_rules.h"
#include "names.h"
#include <CLI/CLI.hpp>
#include <qorb_common/aer_bits.h>

#include "tool.h"

namespace qorbtool {

const std::vector<AerAssertion>& AerAssertions()
{
    /* The library's assertion operations, in the order of qorb_aer::kAssertions. */
    static constexpr AerAssertFn kFns[qorb_aer::kAssertionCount] = {
        QORB_ADVERR_Util_AssertTrainingErrorStatus,       QORB_ADVERR_Util_AssertDLProtocolErrorStatus,
        QORB_ADVERR_Util_AssertFlowControlProtocolErrorStatus, QORB_ADVERR_Util_AssertCompletionTimeoutStatus,
        QORB_ADVERR_Util_AssertCompleterAbortStatus,      QORB_ADVERR_Util_AssertUnexpectedCompletionStatus,
        QORB_ADVERR_Util_AssertReceiverOverflowStatus,    QORB_ADVERR_Util_AssertUnsupportedRequestErrorStatus,
        QORB_ADVERR_Util_AssertReceiverErrorStatus,       QORB_ADVERR_Util_AssertBadTLPStatus,
        QORB_ADVERR_Util_AssertBadDLLPStatus,             QORB_ADVERR_Util_AssertReplayNumberRolloverStatus,
        QORB_ADVERR_Util_AssertReplayTimerTimeoutStatus,
    };
    static const std::vector<AerAssertion> list = [] {
        std::vector<AerAssertion> rows;
        for (int i = 0; i < qorb_aer::kAssertionCount; i++) {
            const qorb_aer::Assertion& a = qorb_aer::kAssertions[i];
            rows.push_back({a.field, a.correctable, a.mask, kFns[i]});
        }
        return rows;
    }();
    return list;
}

const AerAssertion* FindAerAssertion(AerAssertFn fn)
{
    for (const AerAssertion& a : AerAssertions())
        if (a.assert == fn)
            return &a;
    return nullptr;
}

namespace {

struct AerOptions {
    Selection selection;
    bool clear = false;
};

constexpr uint32_t kUncorrectableStatus = 0x04;
constexpr uint32_t kCorrectableStatus = 0x10;

void Print(const std::string& slot, uint32_t offset, const _PCIE_ADV_ERR_REP_CAP_STRUCT_t& aer)
{
    FILE* out = Out();
    fprintf(out, "%s Advanced Error Reporting [%s]\n", slot.c_str(), qorbcli::Hex(offset, 3).c_str());
    fprintf(out, "  UESta:  %s\n", qorbcli::DecodeUncorrectable(aer.uncorrectableErrorStatus).c_str());
    fprintf(out, "  UEMsk:  %s\n", qorbcli::DecodeUncorrectable(aer.uncorrectableErrorMask).c_str());
    fprintf(out, "  UESvrt: %s\n", qorbcli::DecodeUncorrectable(aer.uncorrectableErrorSeverity).c_str());
    fprintf(out, "  CESta:  %s\n", qorbcli::DecodeCorrectable(aer.correctableErrorStatus).c_str());
    fprintf(out, "  CEMsk:  %s\n", qorbcli::DecodeCorrectable(aer.correctableErrorMask).c_str());
    fprintf(out, "  AERCap: First Error Pointer: %s\n",
            qorbcli::Hex(aer.capabilitiesAndControl & 0x1f, 2).c_str());
}

/* One function; false when its status could not be had or stays set after
 * clearing. */
bool ShowOne(const Function& f, bool clear)
{
    Device record = OpenFunction(f);
    QORB_ADVERR_INFO_t info;
    _QORB_STATUS_t status = QORB_ADVERR_Util_GetAdvErrorRepCap(record.Get(), &info);
    if (status != QORB_SUCCESS) {
        QORB_FreeCapabilityHandle(info.capHandle);
        fprintf(stderr, "qorb: %s: no usable Advanced Error Reporting capability: %s\n", f.Slot().c_str(),
                StatusText(status).c_str());
        return false;
    }
    uint32_t offset = 0;
    GetCapOffset(info.capHandle, &offset);
    Print(f.Slot(), offset, info.aer);
    bool ok = true;
    if (clear) {
        /* Both status registers are write-one-to-clear: writing back what
         * was read clears exactly the bits that were set. */
        struct {
            uint32_t reg;
            uint32_t value;
        } writes[] = {{kUncorrectableStatus, info.aer.uncorrectableErrorStatus},
                      {kCorrectableStatus, info.aer.correctableErrorStatus}};
        for (auto& w : writes) {
            uint32_t n = 4;
            uint8_t bytes[4] = {static_cast<uint8_t>(w.value), static_cast<uint8_t>(w.value >> 8),
                                static_cast<uint8_t>(w.value >> 16), static_cast<uint8_t>(w.value >> 24)};
            status = WriteCapability(info.capHandle, bytes, w.reg, &n);
            if (status != QORB_SUCCESS) {
                fprintf(stderr, "qorb: %s: clearing AER status failed: %s\n", f.Slot().c_str(),
                        StatusText(status).c_str());
                ok = false;
            }
        }
        QORB_ADVERR_INFO_t after;
        if (QORB_ADVERR_Util_GetAdvErrorRepCap(record.Get(), &after) == QORB_SUCCESS) {
            fprintf(Out(), "  cleared: UESta %s, CESta %s\n", qorbcli::Hex(after.aer.uncorrectableErrorStatus, 8).c_str(),
                    qorbcli::Hex(after.aer.correctableErrorStatus, 8).c_str());
            if (after.aer.uncorrectableErrorStatus || after.aer.correctableErrorStatus) {
                fprintf(stderr, "qorb: %s: AER status bits are still set after clearing\n", f.Slot().c_str());
                ok = false;
            }
        }
        QORB_FreeCapabilityHandle(after.capHandle);
    }
    QORB_FreeCapabilityHandle(info.capHandle);
    return ok;
}

} // namespace

void AddAerCommand(CLI::App& app)
{
    auto options = std::make_shared<AerOptions>();
    CLI::App* cmd = app.add_subcommand("aer", "Decode the Advanced Error Reporting status of functions");
    options->selection.AddOptions(cmd);
    cmd->add_flag("--clear", options->clear, "Clear the status bits that are set (write-one-to-clear)");
    cmd->callback([options] {
        options->selection.Parse();
        if (!options->selection.Given())
            throw UsageError("aer needs -s or -d");
        Session session;
        std::vector<Function> found = Scan(options->selection);
        if (found.empty())
            throw UsageError("no function matches " + options->selection.Text());
        for (const Function& f : found)
            if (!ShowOne(f, options->clear))
                ExitStatus() = kExitFailed;
    });
}

} // namespace qorbtool
