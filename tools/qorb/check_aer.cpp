/* The error checks: AER status clear at start, and every error the ZEB
 * above the DUT injects, seen set in the DUT's AER status, cleared, and
 * found in the card's trace. */
#include "check.h"
#include "config_rules.h"
#include "names.h"
#include "trace.h"

namespace qorbtool {

using qorbcli::Outcome;

_QORB_STATUS_t AssertOnLogs(AerAssertFn fn, void* dut, const CheckLogs& logs, int32_t expected, bool clear)
{
    std::vector<void*> all = logs.All();
    _QORB_STATUS_t status = QORB_STATUS_FAILED;
    for (size_t i = 0; i < all.size(); i++) {
        status = fn(dut, all[i], expected, clear && i + 1 == all.size() ? 1 : 0);
        /* The assertion's verdict text has no line end: in the text logs
         * the next one would run on in the same line. (The XML log gives
         * every message its own element.) */
        if (all[i] != logs.xml)
            WriteToLog(all[i], QORB_LOG_SUCCESS, "\n");
    }
    return status;
}

namespace {

/* The AER structure, or why there is none: "" when present. */
std::string ReadAer(void* device, _PCIE_ADV_ERR_REP_CAP_STRUCT_t* aer, bool* several)
{
    QORB_ADVERR_INFO_t info;
    _QORB_STATUS_t status = QORB_ADVERR_Util_GetAdvErrorRepCap(device, &info);
    QORB_FreeCapabilityHandle(info.capHandle);
    *aer = info.aer;
    *several = status == QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP;
    if (status == QORB_SUCCESS)
        return "";
    return *several ? "the Advanced Error Reporting capability is present more than once"
                    : "no Advanced Error Reporting capability";
}

void StatusDetails(const _PCIE_ADV_ERR_REP_CAP_STRUCT_t& aer, std::vector<std::string>& details)
{
    details.push_back("UESta: " + qorbcli::DecodeUncorrectable(aer.uncorrectableErrorStatus));
    details.push_back("CESta: " + qorbcli::DecodeCorrectable(aer.correctableErrorStatus));
}

} // namespace

void CheckAerClear(const CheckDut& dut, const CheckLogs& logs, qorbcli::CheckResult& r)
{
    _PCIE_ADV_ERR_REP_CAP_STRUCT_t aer;
    bool several = false;
    std::string missing = ReadAer(dut.device, &aer, &several);
    if (!missing.empty()) {
        r.outcome = several ? Outcome::kFail : Outcome::kSkip;
        r.message = missing;
        return;
    }
    std::vector<std::string> set;
    for (const AerAssertion& a : AerAssertions())
        if (AssertOnLogs(a.assert, dut.device, logs, 0, false) != QORB_SUCCESS)
            set.push_back(a.field);
    if (set.empty()) {
        r.outcome = Outcome::kPass;
        r.message = "all " + std::to_string(AerAssertions().size()) + " asserted AER status bits are clear";
        return;
    }
    r.outcome = Outcome::kFail;
    std::string names;
    for (const std::string& name : set)
        names += (names.empty() ? "" : ", ") + name;
    r.message = "AER status set at start: " + names;
    StatusDetails(aer, r.details);
}

ZebAbove::ZebAbove(const CheckDut& dut)
{
    void* first = nullptr;
    void* second = nullptr;
    _QORB_STATUS_t status = QORB_GetUpstreamZEB(dut.device, &first, &second);
    if (status != QORB_SUCCESS) {
        m_reason = "no ZEB test card above " + dut.slot;
        return;
    }
    m_first = Device(first);
    m_second = Device(second);
    _qorb_zeb_query_prop_t props;
    for (void* card : {first, second}) {
        if (card && QORB_GetZEBProperties(card, &props) == QORB_SUCCESS) {
            m_card = card;
            m_slot = DeviceSlot(card);
            return;
        }
    }
    m_reason = "the card functions above " + dut.slot + " do not answer as a ZEB";
}

qorbcli::CheckKind InjectionCheck(const Injection& injection)
{
    using qorbcli::CheckKind;
    switch (injection.command) {
    case QORB_ZEB_CMD_BAD_TLP: return CheckKind::kInjectBadTlp;
    case QORB_ZEB_CMD_BAD_DLLP: return CheckKind::kInjectBadDllp;
    case QORB_ZEB_CMD_REPLAY_TIMER_TIMEOUT: return CheckKind::kInjectReplayTimeout;
    case QORB_ZEB_CMD_REPLAY_NUM_ROLLOVER: return CheckKind::kInjectReplayRollover;
    case QORB_ZEB_CMD_RECEIVER_ERROR: return CheckKind::kInjectReceiverError;
    case QORB_ZEB_CMD_UNSUPPORTED_REQUEST: return CheckKind::kInjectUnsupportedRequest;
    case QORB_ZEB_CMD_COMPLETION_TIMEOUT: return CheckKind::kInjectCompletionTimeout;
    case QORB_ZEB_CMD_DL_PROTOCOL_ERROR: return CheckKind::kInjectDlProtocol;
    default: return CheckKind::kInjectFcProtocol;
    }
}

namespace {

/* The card's trace copy, as ZEBGetTraceBuffer last took it. */
std::vector<uint8_t> TraceCopy(void* zeb)
{
    uint32_t bytes = 0;
    GetBytesInZEBTB(zeb, &bytes);
    std::vector<uint8_t> copy(bytes);
    if (bytes && GetTBContents(zeb, copy.data(), &bytes) != QORB_SUCCESS)
        return {};
    copy.resize(std::min<size_t>(bytes, copy.size()));
    return copy;
}

/* The trace kept with the result for the reports; an injection's trace is
 * short, a long one is cut. */
constexpr size_t kTraceExcerpt = 256;

void KeepTrace(const std::vector<uint8_t>& copy, qorbcli::CheckResult& r)
{
    for (const qorbcli::TraceEntry& entry : qorbcli::WalkTrace(copy)) {
        if (r.trace.size() == kTraceExcerpt)
            break;
        const uint8_t* stamp = &copy[entry.offset + 4];
        uint32_t micros = stamp[0] | stamp[1] << 8 | stamp[2] << 16 | static_cast<uint32_t>(stamp[3]) << 24;
        r.trace.push_back({micros, entry.kind, qorbcli::DescribeEntry(entry)});
    }
}

/* How many packets of the injection's evidence the trace copy holds. */
uint32_t CountEvidence(void* zeb, const Injection& injection)
{
    uint32_t count = 0;
    switch (injection.evidence) {
    case Evidence::kDllp: {
        uint8_t pattern[6] = {injection.type, 0, 0, 0, 0, 0};
        return GetNumDLLPMatches(zeb, pattern, 0, &count) == QORB_SUCCESS ? count : 0;
    }
    case Evidence::kTlp: {
        uint8_t pattern[4] = {injection.type, 0, 0, 0};
        uint32_t flags = QORB_TLP_MATCH_FMT | QORB_TLP_MATCH_TYPE | QORB_TLP_MATCH_STRICT;
        return GetNumTLPMatches(zeb, pattern, flags, &count) == QORB_SUCCESS ? count : 0;
    }
    default:
        break;
    }
    qorbcli::TraceTally tally = qorbcli::TallyTrace(qorbcli::WalkTrace(TraceCopy(zeb)));
    switch (injection.evidence) {
    case Evidence::kReplay: return tally.replays;
    case Evidence::kUrCompletion: return tally.urCompletions;
    default: return tally.requests > tally.completions ? tally.requests - tally.completions : 0;
    }
}

} // namespace

void CheckInjection(const CheckDut& dut, const CheckLogs& logs, const ZebAbove& zeb, const Injection& injection,
                    qorbcli::CheckResult& r)
{
    void* card = zeb.Card();
    if (!card) {
        r.outcome = Outcome::kSkip;
        r.message = zeb.Reason();
        return;
    }
    _PCIE_ADV_ERR_REP_CAP_STRUCT_t aer;
    bool several = false;
    std::string missing = ReadAer(dut.device, &aer, &several);
    if (!missing.empty()) {
        r.outcome = Outcome::kSkip;
        r.message = missing + ": the injected error cannot be seen";
        return;
    }
    const AerAssertion* assertion = FindAerAssertion(injection.assertion);
    std::string field = assertion ? assertion->field : injection.name;

    _QORB_ZEB_OP_MODE_t oldMode = QORB_ZEB_MODE_MONITOR;
    QueryZEBMode(card, &oldMode);
    _QORB_STATUS_t status = ChangeZEBMode(card, QORB_ZEB_MODE_INJECT);
    if (status == QORB_SUCCESS)
        status = ArmZEB(card, 0);
    if (status != QORB_SUCCESS) {
        r.outcome = Outcome::kFail;
        r.message = "the ZEB at " + zeb.Slot() + " cannot be armed for injection: " + StatusText(status);
        return;
    }
    _qorb_cmd_map_t cmd = {};
    cmd.command = injection.command;
    cmd.count = 1;
    cmd.interval = 1;
    status = ProgramZEBCmd(card, &cmd);
    if (status != QORB_SUCCESS) {
        DisarmZEB(card);
        ChangeZEBMode(card, oldMode);
        r.outcome = Outcome::kSkip;
        r.message = "the ZEB at " + zeb.Slot() + " does not inject " + injection.name + ": " + StatusText(status);
        return;
    }
    /* The card acts on link traffic: a configuration read of the DUT makes
     * some (its request, completion and their DLLPs). */
    uint8_t header[4];
    ReadConfig(dut.device, 0, sizeof header, header);
    DisarmZEB(card);
    uint32_t actions = 0;
    QORB_ZEB_GetActionCount(card, &actions);
    status = ZEBGetTraceBuffer(card);
    LogTBContents(logs.xml, card, nullptr);
    uint32_t evidence = status == QORB_SUCCESS ? CountEvidence(card, injection) : 0;
    if (status == QORB_SUCCESS)
        KeepTrace(TraceCopy(card), r);
    bool enough = evidence >= injection.minimum;
    _qorb_cmd_map_t none = {};
    ProgramZEBCmd(card, &none);
    ChangeZEBMode(card, oldMode);

    r.details.push_back("the card carried the command out " + std::to_string(actions) + " time(s)");
    bool set = AssertOnLogs(injection.assertion, dut.device, logs, 1, true) == QORB_SUCCESS;
    bool cleared = set && AssertOnLogs(injection.assertion, dut.device, logs, 0, false) == QORB_SUCCESS;
    r.details.push_back(std::string(set ? "" : "not ") + "set after the injection" +
                        (set ? cleared ? ", clear after clearing" : ", still set after clearing" : ""));
    r.details.push_back("evidence in the trace: " + std::to_string(evidence) + " (" + injection.evidenceText + ", " +
                        std::to_string(injection.minimum) + " needed)");
    if (!set) {
        ReadAer(dut.device, &aer, &several);
        StatusDetails(aer, r.details);
    }
    if (set && cleared && enough) {
        r.outcome = Outcome::kPass;
        r.message = field + " status set by the injection, cleared, and " + injection.evidenceText +
                    " found in the trace";
        return;
    }
    r.outcome = Outcome::kFail;
    if (!set)
        r.message = field + " status is not set after the card injected " + injection.name;
    else if (!cleared)
        r.message = field + " status stays set after it was cleared";
    else
        r.message = "the trace holds no " + std::string(injection.evidenceText);
}

} // namespace qorbtool
