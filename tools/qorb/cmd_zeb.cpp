/* qorb zeb info|arm|disarm|mode|inject|trace: the ZEB test card. Without
 * -s/-d the first ZEB of the scan is used. "trace" takes a copy of the
 * card's trace buffer and lists it, one packet a line. */
#include <strings.h>

#include "names.h"
#include "trace.h"
#include <CLI/CLI.hpp>

#include "tool.h"

namespace qorbtool {

const std::vector<Injection>& Injections()
{
    /* The card acts on the first packet it can after it is programmed; the
     * evidence is what that leaves in the trace. */
    static const std::vector<Injection> list = {
        {"bad-tlp", QORB_ZEB_CMD_BAD_TLP, QORB_ADVERR_Util_AssertBadTLPStatus, Evidence::kDllp, 0x10, 1,
         "a Nak DLLP"},
        {"bad-dllp", QORB_ZEB_CMD_BAD_DLLP, QORB_ADVERR_Util_AssertBadDLLPStatus, Evidence::kDllp, 0x00, 1,
         "the corrupted Ack DLLP"},
        {"replay-timeout", QORB_ZEB_CMD_REPLAY_TIMER_TIMEOUT, QORB_ADVERR_Util_AssertReplayTimerTimeoutStatus,
         Evidence::kReplay, 0, 1, "a replayed TLP"},
        {"replay-rollover", QORB_ZEB_CMD_REPLAY_NUM_ROLLOVER, QORB_ADVERR_Util_AssertReplayNumberRolloverStatus,
         Evidence::kReplay, 0, 4, "four replays of a TLP"},
        {"receiver-error", QORB_ZEB_CMD_RECEIVER_ERROR, QORB_ADVERR_Util_AssertReceiverErrorStatus, Evidence::kDllp,
         0x10, 1, "a Nak DLLP"},
        {"unsupported-request", QORB_ZEB_CMD_UNSUPPORTED_REQUEST,
         QORB_ADVERR_Util_AssertUnsupportedRequestErrorStatus, Evidence::kUrCompletion, 0, 1,
         "a completion with status Unsupported Request"},
        {"completion-timeout", QORB_ZEB_CMD_COMPLETION_TIMEOUT, QORB_ADVERR_Util_AssertCompletionTimeoutStatus,
         Evidence::kUnanswered, 0, 1, "a request left without completion"},
        {"dl-protocol", QORB_ZEB_CMD_DL_PROTOCOL_ERROR, QORB_ADVERR_Util_AssertDLProtocolErrorStatus, Evidence::kDllp,
         0x00, 1, "an Ack DLLP"},
        {"fc-protocol", QORB_ZEB_CMD_FC_PROTOCOL_ERROR, QORB_ADVERR_Util_AssertFlowControlProtocolErrorStatus,
         Evidence::kDllp, 0x90, 1, "an UpdateFC-NP DLLP"},
    };
    return list;
}

const Injection* FindInjection(const std::string& name)
{
    for (const Injection& i : Injections())
        if (name == i.name)
            return &i;
    return nullptr;
}

namespace {

bool IsZeb(void* device)
{
    _qorb_zeb_query_prop_t props;
    return QORB_GetZEBProperties(device, &props) == QORB_SUCCESS;
}

} // namespace

Device OpenZeb(const Selection& selection, std::string* slot)
{
    if (selection.Given()) {
        Function f = ScanOne(selection, "zeb");
        Device record = OpenFunction(f);
        if (!IsZeb(record.Get()))
            throw UsageError(f.Slot() + " is not a ZEB test card");
        *slot = f.Slot();
        return record;
    }
    for (const Function& f : Scan(selection)) {
        Device record = OpenFunction(f);
        if (IsZeb(record.Get())) {
            *slot = f.Slot();
            return record;
        }
    }
    throw UsageError("no ZEB test card was found");
}

namespace {

struct ZebOptions {
    Selection selection;
    std::string mode;
    std::string injection;
    uint32_t count = 1;
    uint32_t interval = 1;
    std::string tlpType, dllpType;
};

const char* const kModes[] = {"passthrough", "monitor", "inject"};

void Check(_QORB_STATUS_t status, const std::string& what)
{
    if (status != QORB_SUCCESS)
        throw OperationFailed(what + " failed: " + StatusText(status));
}

void Info(void* zeb, const std::string& slot)
{
    _qorb_zeb_query_prop_t p;
    Check(QORB_GetZEBProperties(zeb, &p), "reading the card's properties");
    uint32_t actions = 0;
    QORB_ZEB_GetActionCount(zeb, &actions);
    FILE* out = Out();
    fprintf(out, "%s ZEB test card\n", slot.c_str());
    fprintf(out, "  firmware %u.%u, hardware %u\n", p.firmwareRevision >> 16, p.firmwareRevision & 0xffff,
            p.hardwareRevision);
    fprintf(out, "  link x%u at %s\n", p.linkWidth, qorbcli::LinkSpeedText(p.linkSpeed).c_str());
    fprintf(out, "  mode %s, %s, logging %s\n", p.mode < 3 ? kModes[p.mode] : std::to_string(p.mode).c_str(),
            p.armed ? "armed" : "disarmed", p.loggingSuspended ? "suspended" : "running");
    fprintf(out, "  trace buffer %u of %u bytes used, %u actions\n", p.bytesRecorded, p.traceBufferSize, actions);
}

void Trace(void* zeb)
{
    Check(ZEBGetTraceBuffer(zeb), "reading the trace buffer");
    uint32_t bytes = 0;
    GetBytesInZEBTB(zeb, &bytes);
    std::vector<uint8_t> copy(bytes);
    uint32_t length = bytes;
    if (bytes)
        Check(GetTBContents(zeb, copy.data(), &length), "copying the trace");
    copy.resize(length);
    std::string stop;
    std::vector<qorbcli::TraceEntry> entries = qorbcli::WalkTrace(copy, &stop);
    for (size_t i = 0; i < entries.size(); i++)
        fprintf(Out(), "%5zu  %s\n", i, qorbcli::DescribeEntry(entries[i]).c_str());
    fprintf(Out(), "(%zu entries in %u bytes%s%s)\n", entries.size(), length, stop.empty() ? "" : "; the trace ends at ",
            stop.c_str());
}

uint8_t HexByte(const std::string& text, const char* option)
{
    uint64_t value = 0;
    if (!qorbcli::ParseHexField(text, 0xff, &value))
        throw UsageError(std::string(option) + " " + text + ": expected a hexadecimal byte");
    return static_cast<uint8_t>(value);
}

void Inject(void* zeb, const ZebOptions& o)
{
    const Injection* injection = FindInjection(o.injection);
    _qorb_cmd_map_t cmd = {};
    cmd.command = injection->command;
    cmd.count = o.count;
    cmd.interval = o.interval;
    if (!o.tlpType.empty()) {
        cmd.packetKind = 1;
        cmd.tlpType = HexByte(o.tlpType, "--tlp-type");
    } else if (!o.dllpType.empty()) {
        cmd.packetKind = 2;
        cmd.dllpType = HexByte(o.dllpType, "--dllp-type");
    }
    Check(ProgramZEBCmd(zeb, &cmd), "programming " + o.injection);
    fprintf(Out(), "programmed %s (%u time%s)\n", injection->name, o.count, o.count == 1 ? "" : "s");
}

void Run(const ZebOptions& o, const std::string& action)
{
    o.selection.Parse();
    Session session;
    std::string slot;
    Device zeb = OpenZeb(o.selection, &slot);
    void* h = zeb.Get();
    if (action == "info") {
        Info(h, slot);
    } else if (action == "arm") {
        Check(ArmZEB(h, 0), "arming");
        fprintf(Out(), "%s armed\n", slot.c_str());
    } else if (action == "disarm") {
        Check(DisarmZEB(h), "disarming");
        fprintf(Out(), "%s disarmed\n", slot.c_str());
    } else if (action == "mode") {
        if (o.mode.empty()) {
            _QORB_ZEB_OP_MODE_t mode;
            Check(QueryZEBMode(h, &mode), "reading the mode");
            fprintf(Out(), "%s\n", mode < 3 ? kModes[mode] : std::to_string(mode).c_str());
            return;
        }
        for (uint32_t m = 0; m < 3; m++) {
            if (strcasecmp(o.mode.c_str(), kModes[m]) == 0) {
                Check(ChangeZEBMode(h, static_cast<_QORB_ZEB_OP_MODE_t>(m)), "changing the mode");
                fprintf(Out(), "%s mode %s\n", slot.c_str(), kModes[m]);
                return;
            }
        }
    } else if (action == "inject") {
        Inject(h, o);
    } else if (action == "trace") {
        Trace(h);
    }
}

} // namespace

void AddZebCommand(CLI::App& app)
{
    auto options = std::make_shared<ZebOptions>();
    CLI::App* zeb = app.add_subcommand("zeb", "Drive the ZEB test card: arm, disarm, mode, inject errors, list "
                                              "the trace");
    zeb->require_subcommand(1);
    zeb->fallthrough();
    options->selection.AddOptions(zeb);

    std::vector<std::string> injectionNames;
    for (const Injection& i : Injections())
        injectionNames.push_back(i.name);

    auto add = [&](const char* name, const char* help) {
        CLI::App* cmd = zeb->add_subcommand(name, help);
        cmd->fallthrough();
        std::string action = name;
        cmd->callback([options, action] { Run(*options, action); });
        return cmd;
    };
    add("info", "Show the card's properties");
    add("arm", "Arm the card (clears its trace and action count)");
    add("disarm", "Disarm the card");
    add("mode", "Show the operating mode, or change it")
        ->add_option("mode", options->mode, "passthrough, monitor or inject")
        ->check(CLI::IsMember({"passthrough", "monitor", "inject"}, CLI::ignore_case));
    CLI::App* inject = add("inject", "Program the card to inject an error (ProgramZEBCmd)");
    inject->add_option("error", options->injection, "The error to inject")
        ->required()
        ->check(CLI::IsMember(injectionNames));
    inject->add_option("--count", options->count, "How many times")->check(CLI::Range(1u, 0xffffu))->capture_default_str();
    inject->add_option("--interval", options->interval, "On every how many matching packets")
        ->check(CLI::Range(1u, 0xffffu))
        ->capture_default_str();
    auto* tlp = inject->add_option("--tlp-type", options->tlpType, "Act only on TLPs with this Fmt/Type byte (hex)");
    inject->add_option("--dllp-type", options->dllpType, "Act only on DLLPs of this type (hex)")->excludes(tlp);
    add("trace", "Copy the trace buffer and list it, one packet a line");
}

} // namespace qorbtool
