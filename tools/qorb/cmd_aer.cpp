/* qorb aer: the Advanced Error Reporting registers of functions, read raw
 * and decoded by the tool; without a selection one line per function that
 * has the capability. --clear writes the set status bits back to clear
 * them and shows the values before and after. */
#include <linux/pci_regs.h>

#include "aer_regs.h"
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
    bool json = false;
};

/* The status registers --clear writes (all write-one-to-clear): the value
 * read is written back, which clears exactly the bits that were set. */
struct StatusRegister {
    const char* name;
    uint32_t reg;
    uint32_t qorbcli::AerRegisters::*value;
    bool rootOnly;
};
constexpr StatusRegister kStatusRegisters[] = {
    {"UESta", PCI_ERR_UNCOR_STATUS, &qorbcli::AerRegisters::uncStatus, false},
    {"CESta", PCI_ERR_COR_STATUS, &qorbcli::AerRegisters::corStatus, false},
    {"RootSta", PCI_ERR_ROOT_STATUS, &qorbcli::AerRegisters::rootStatus, true},
};

/* Clears the set status bits; the registers as read afterwards in *after.
 * One line on standard error per write that fails. */
bool Clear(void* device, const std::string& slot, const qorbcli::AerRegisters& before, qorbcli::AerRegisters* after)
{
    bool ok = true;
    for (const StatusRegister& r : kStatusRegisters) {
        uint32_t value = before.*r.value & (r.rootOnly ? qorb_aer::kRootStatusBits : ~0u);
        if (!value || (r.rootOnly && !before.root))
            continue;
        uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
        uint32_t n = sizeof bytes;
        _QORB_STATUS_t status = WriteConfigSpace(device, bytes, before.offset + r.reg, &n);
        if (status != QORB_SUCCESS || n != sizeof bytes) {
            fprintf(stderr, "qorb: %s: clearing %s failed: %s\n", slot.c_str(), r.name, StatusText(status).c_str());
            ok = false;
        }
    }
    if (!qorbcli::ReadAer(ReadConfigImage(device), after)) {
        fprintf(stderr, "qorb: %s: the AER capability cannot be read after clearing\n", slot.c_str());
        return false;
    }
    if (after->AnySet()) {
        fprintf(stderr, "qorb: %s: AER status bits are still set after clearing\n", slot.c_str());
        ok = false;
    }
    return ok;
}

std::string ClearedText(const qorbcli::AerRegisters& before, const qorbcli::AerRegisters& after)
{
    std::string text;
    for (const StatusRegister& r : kStatusRegisters)
        if (!r.rootOnly || before.root)
            text += std::string(text.empty() ? "" : ", ") + r.name + " " + qorbcli::Hex(before.*r.value, 8) + " -> " +
                qorbcli::Hex(after.*r.value, 8);
    return text;
}

qorbcli::Json ClearedJson(const qorbcli::AerRegisters& after)
{
    qorbcli::Json out = qorbcli::Json::Object();
    for (const StatusRegister& r : kStatusRegisters)
        out.Set(r.name, r.rootOnly && !after.root ? qorbcli::Json() : qorbcli::Json(after.*r.value));
    return out;
}

/* Whether a function has extended configuration space the tool could not
 * read: a PCI Express function read by a process that may see only the
 * header. */
bool ExtendedUnreadable(const Function& f, const std::vector<uint8_t>& image)
{
    return f.portType >= 0 && image.size() < 4096;
}

void Run(const AerOptions& o)
{
    o.selection.Parse();
    const bool all = !o.selection.Given();
    if (all && o.clear)
        throw UsageError("aer --clear needs -s or -d: it writes to the functions it clears");
    Session session;
    std::vector<Function> found = Scan(o.selection);
    if (!all && found.empty())
        throw UsageError("no function matches " + o.selection.Text());
    qorbcli::Json json = qorbcli::Json::Array();
    int unreadable = 0;
    size_t shown = 0;
    for (const Function& f : found) {
        Device record = OpenFunction(f);
        std::vector<uint8_t> image = ReadConfigImage(record.Get());
        qorbcli::AerRegisters aer;
        if (!qorbcli::ReadAer(image, &aer)) {
            unreadable += ExtendedUnreadable(f, image);
            /* A selection of several functions shows those that have AER. */
            if (found.size() == 1) {
                fprintf(stderr, "qorb: %s: no Advanced Error Reporting capability%s\n", f.Slot().c_str(),
                        ExtendedUnreadable(f, image) ? " found: the extended configuration space cannot be read "
                                                       "(reading beyond the header needs root)"
                                                     : "");
                ExitStatus() = kExitFailed;
            }
            continue;
        }
        shown++;
        qorbcli::AerRegisters after;
        bool cleared = o.clear && Clear(record.Get(), f.Slot(), aer, &after);
        if (o.clear && !cleared)
            ExitStatus() = kExitFailed;
        if (o.json) {
            qorbcli::Json entry = qorbcli::AerJson(aer, f.Slot());
            if (o.clear)
                entry.Set("after_clear", cleared ? ClearedJson(after) : qorbcli::Json());
            json.Push(entry);
        } else if (all) {
            fprintf(Out(), "%s %s\n", f.Slot().c_str(), qorbcli::AerSummary(aer).c_str());
        } else {
            fprintf(Out(), "%s Advanced Error Reporting [%s]\n", f.Slot().c_str(), qorbcli::Hex(aer.offset, 3).c_str());
            for (const std::string& line : qorbcli::AerLines(aer))
                fprintf(Out(), "  %s\n", line.c_str());
            if (o.clear && cleared)
                fprintf(Out(), "  cleared: %s\n", ClearedText(aer, after).c_str());
        }
    }
    if (!all && found.size() > 1 && shown == 0) {
        fprintf(stderr, "qorb: none of the %zu functions %s matches has Advanced Error Reporting\n", found.size(),
                o.selection.Text().c_str());
        ExitStatus() = kExitFailed;
    }
    if (o.json)
        fputs(json.Dump().c_str(), Out());
    if (all && unreadable)
        fprintf(stderr,
                "qorb: the extended configuration space of %d PCI Express function%s cannot be read (reading "
                "beyond the header needs root); %s left out\n",
                unreadable, unreadable == 1 ? "" : "s", unreadable == 1 ? "it is" : "they are");
}

} // namespace

void AddAerCommand(CLI::App& app)
{
    auto options = std::make_shared<AerOptions>();
    CLI::App* cmd = app.add_subcommand(
        "aer",
        "Decode the Advanced Error Reporting registers of functions; without -s or -d, one line for each "
        "function that has them, its status values and the bits set");
    options->selection.AddOptions(cmd);
    cmd->add_flag("--clear", options->clear,
                  "Clear the status bits that are set (write-one-to-clear) and show the values before and after; "
                  "needs -s or -d");
    cmd->add_flag("--json", options->json, "Print every register and each of its bits as JSON");
    cmd->callback([options] { Run(*options); });
}

} // namespace qorbtool
