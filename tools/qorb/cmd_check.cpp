/* qorb check: reads the platform file, finds each DUT, and runs the
 * checklist on it (docs/checklist.md). Every check is one test in each log
 * (XML, the text log when asked, the library's console log with --verbose),
 * reported with LogAssert under its checklist name; standard output gets one
 * line per check or rule family, and the JSON, JUnit and HTML reports one
 * entry per rule. Exit status 0 when no check failed, 1 otherwise; skipped
 * checks (a check that cannot run on this DUT) do not fail the run. */
#include <chrono>
#include <errno.h>
#include <string.h>

#include <linux/pci_regs.h>

#include <CLI/CLI.hpp>

#include "check.h"
#include "names.h"
#include "report.h"

namespace qorbtool {

using qorbcli::CheckKind;
using qorbcli::CheckResult;
using qorbcli::Outcome;

std::vector<void*> CheckLogs::All() const
{
    std::vector<void*> all;
    for (void* log : {xml, text, console})
        if (log)
            all.push_back(log);
    return all;
}

namespace {

struct CheckOptions {
    std::string platform;
    std::string xml = "qorb-check.xml";
    std::string log;
    std::string junit;
    std::string json;
    std::string html;
    std::string rules;
    bool verbose = false;
    bool quiet = false;
    bool noLink = false;
    bool noInject = false;
    CheckSettings settings;
};

int32_t KindOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::kPass: return QORB_LOG_SUCCESS;
    case Outcome::kFail: return QORB_LOG_FAIL;
    case Outcome::kSkip: return QORB_LOG_WARNING;
    }
    return QORB_LOG_INFO;
}

/* Runs the checks and keeps their results. */
class Runner {
public:
    Runner(const CheckLogs& logs, const qorbcli::RuleSelection& selection, bool quiet)
        : m_logs(logs), m_selection(selection), m_quiet(quiet)
    {
    }

    void Run(CheckKind kind, const std::string& dut, void* device, const std::function<void(CheckResult&)>& body)
    {
        const qorbcli::CheckDef& def = qorbcli::FindCheck(kind);
        bool named = m_selection.Selects(qorbcli::CheckName(def));
        bool quietly = qorbcli::RunsQuietly(kind);
        if (!named && !quietly)
            return;
        CheckResult r;
        r.kind = kind;
        r.dut = dut;
        if (quietly) {
            /* Nothing reaches the logs while it runs: it is logged once it
             * is known which of its rules are selected. A DUT that is not
             * found is always reported. */
            Evaluate(r, body);
            if (!qorbcli::Narrow(r, m_selection) && !(kind == CheckKind::kPresent && r.outcome == Outcome::kFail))
                return;
            Start(def, r, device);
        } else {
            Start(def, r, device);
            Evaluate(r, body);
        }
        Finish(def, std::move(r));
    }

    const qorbcli::CheckReport& Report() const { return m_report; }

private:
    static void Evaluate(CheckResult& r, const std::function<void(CheckResult&)>& body)
    {
        auto start = std::chrono::steady_clock::now();
        body(r);
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    void Start(const qorbcli::CheckDef& def, const CheckResult& r, void* device)
    {
        _QORB_TEST_NUM_t num = qorbcli::TestNumber(def);
        std::string title = qorbcli::CheckName(def) + " " + def.title + " (" + r.dut + ")";
        if (m_logs.console)
            StartTest(m_logs.console, title.c_str());
        if (m_logs.text)
            StartTest(m_logs.text, title.c_str());
        StartTest(m_logs.xml, title.c_str(), &num, 1, device);
    }

    void Finish(const qorbcli::CheckDef& def, CheckResult r)
    {
        _QORB_TEST_NUM_t num = qorbcli::TestNumber(def);
        std::string text =
            std::string(qorbcli::OutcomeWord(r.outcome)) + " " + def.title + " (" + r.dut + "): " + r.message + "\n";
        for (void* log : m_logs.All()) {
            for (const std::string& detail : r.details)
                WriteToLog(log, QORB_LOG_INFO, "  %s\n", detail.c_str());
            for (const qorbcli::RuleResult& rule : r.rules)
                WriteToLog(log, QORB_LOG_INFO, "  %s %s\n", qorbcli::OutcomeWord(rule.verdict),
                           qorbcli::RuleText(rule).c_str());
            LogAssert(log, KindOf(r.outcome), &num, text.c_str());
            StopTest(log);
        }
        for (const std::string& line : qorbcli::ConsoleLines(r, m_quiet))
            fprintf(Out(), "%s\n", line.c_str());
        m_report.Add(std::move(r));
    }

    const CheckLogs& m_logs;
    const qorbcli::RuleSelection& m_selection;
    bool m_quiet;
    qorbcli::CheckReport m_report;
};

std::string DescribeEntry(const _QORB_DAT_INFO_t& info, int i)
{
    uint32_t flags = info.dutFindFlags[i];
    const _QORB_DEVICE_FIND_INFO_t& f = info.dutFindInfo[i];
    std::string text = "DUT " + std::to_string(i + 1);
    std::string what;
    if (flags & (QORB_FIND_VENDOR_ID | QORB_FIND_DEVICE_ID))
        what = qorbcli::Hex(f.vendorId, 4) + ":" + qorbcli::Hex(f.deviceId, 4);
    if (flags & QORB_FIND_LOCATION)
        what += (what.empty() ? "" : " at ") + qorbcli::SlotText(static_cast<uint8_t>(f.busNumber), f.deviceNumber,
                                                                 f.functionNumber);
    return what.empty() ? text : text + " " + what;
}

void CheckWritable(const std::string& path, const char* what)
{
    FILE* f = fopen(path.c_str(), "a");
    if (!f)
        throw UsageError(std::string("cannot write the ") + what + " " + path + ": " + strerror(errno));
    fclose(f);
}

void WriteReport(const std::string& path, const char* what, const std::string& text)
{
    FILE* f = fopen(path.c_str(), "w");
    bool written = f && fputs(text.c_str(), f) >= 0;
    if (f && fclose(f) != 0)
        written = false;
    if (!written)
        throw UsageError(std::string("cannot write the ") + what + " " + path);
}

/* Every function of the platform, for the drawing of the HTML report. */
std::vector<qorbcli::TopologyNode> PlatformTopology()
{
    std::vector<qorbcli::PlatformFunction> functions;
    for (const Function& f : Scan(Selection())) {
        qorbcli::PlatformFunction p;
        p.slot = f.Slot();
        p.bus = f.bus;
        p.bridge = (f.header[PCI_HEADER_TYPE] & 0x7f) == PCI_HEADER_TYPE_BRIDGE;
        p.secondary = f.header[PCI_SECONDARY_BUS];
        p.subordinate = f.header[PCI_SUBORDINATE_BUS];
        p.label = qorbcli::Hex(f.Vendor(), 4) + ":" + qorbcli::Hex(f.DeviceId(), 4) + " " +
            (f.portType >= 0 ? qorbcli::PortTypeName(static_cast<uint32_t>(f.portType))
                             : qorbcli::ClassName(f.header[0x0b], f.header[0x0a]));
        functions.push_back(std::move(p));
    }
    return qorbcli::Topology(functions);
}

void* MakeLog(_QORB_LOG_TYPE_t type, const std::string& name)
{
    void* log = nullptr;
    _QORB_STATUS_t status = CreateLog(nullptr, &log, type, name.empty() ? nullptr : name.c_str(),
                                      QORB_LOG_ACTION_CREATE);
    if (status != QORB_SUCCESS)
        throw UsageError("cannot create a log: " + StatusText(status));
    return log;
}

void CheckOneDut(Runner& runner, const CheckLogs& logs, const CheckSettings& settings, void* device)
{
    CheckDut dut;
    dut.device = device;
    QORB_GetDeviceProperties(device, &dut.bus, &dut.dev, &dut.fn, &dut.vendor, &dut.deviceId);
    dut.slot = qorbcli::SlotText(dut.bus, dut.dev, dut.fn);
    Device parent = OpenLinked(device, QORB_ACCESS_READ_WRITE);

    runner.Run(CheckKind::kHeader, dut.slot, device, [&](CheckResult& r) { CheckConfigHeader(dut, r); });
    runner.Run(CheckKind::kCapList, dut.slot, device, [&](CheckResult& r) { CheckCapabilityLists(dut, r); });
    runner.Run(CheckKind::kPcieCap, dut.slot, device, [&](CheckResult& r) { CheckPcieCapability(dut, r); });
    runner.Run(CheckKind::kAerClear, dut.slot, device, [&](CheckResult& r) { CheckAerClear(dut, logs, r); });
    runner.Run(CheckKind::kRetrain, dut.slot, device, [&](CheckResult& r) { CheckRetrain(dut, settings, r); });
    runner.Run(CheckKind::kDisableEnable, dut.slot, device,
               [&](CheckResult& r) { CheckDisableEnable(dut, settings, r); });

    std::unique_ptr<ZebAbove> zeb;
    if (settings.injectChecks)
        zeb = std::make_unique<ZebAbove>(dut);
    for (const Injection& injection : Injections()) {
        runner.Run(InjectionCheck(injection), dut.slot, device, [&](CheckResult& r) {
            if (!zeb) {
                r.outcome = Outcome::kSkip;
                r.message = "error injection was turned off (--no-inject)";
                return;
            }
            CheckInjection(dut, logs, *zeb, injection, r);
        });
    }
}

int RunCheck(CheckOptions& o)
{
    std::string platform = o.platform;
    if (platform.empty()) {
        platform = FindShippedFile("builtin-platform.xml", {QORB_TOOL_REL_DATADIR, QORB_TOOL_DATADIR});
        if (platform.empty())
            throw UsageError("the example platform file builtin-platform.xml is not installed; give --platform FILE");
    }
    _QORB_DAT_INFO_t info;
    memset(&info, 0, sizeof info);
    std::vector<char> name(platform.begin(), platform.end());
    name.push_back('\0');
    _QORB_STATUS_t status = parseDatFile(name.data(), &info);
    std::unique_ptr<_QORB_DAT_INFO_t, void (*)(_QORB_DAT_INFO_t*)> owner(&info, QORB_FreeDatInfo);
    if (status != QORB_SUCCESS)
        throw UsageError("cannot read the platform file " + platform + ": " + StatusText(status));
    if (info.dutCount <= 0)
        throw UsageError("the platform file " + platform + " names no DUT");

    CheckWritable(o.xml, "XML log");
    if (!o.log.empty())
        CheckWritable(o.log, "text log");
    const std::pair<const std::string*, const char*> reports[] = {
        {&o.junit, "JUnit report"}, {&o.json, "JSON report"}, {&o.html, "HTML report"}};
    for (const auto& [path, what] : reports)
        if (!path->empty())
            CheckWritable(*path, what);
    qorbcli::RuleSelection selection(o.rules);

    Session session;
    if (!o.quiet)
        fprintf(Out(), "qorb check: platform %s, %d DUT%s, driver %s\n", platform.c_str(), info.dutCount,
                info.dutCount == 1 ? "" : "s", session.DriverText().c_str());

    CheckLogs logs;
    logs.xml = MakeLog(QORB_LOG_TYPE_XML, o.xml);
    if (o.verbose)
        logs.console = MakeLog(QORB_LOG_TYPE_CONSOLE, "");
    if (!o.log.empty())
        logs.text = MakeLog(QORB_LOG_TYPE_RAW_TEXT, o.log);
    o.settings.linkChecks = !o.noLink;
    o.settings.injectChecks = !o.noInject;

    Runner runner(logs, selection, o.quiet);
    int duts = std::min<int>(info.dutCount, QORB_MAX_DUTS);
    for (int i = 0; i < duts; i++) {
        std::string entry = DescribeEntry(info, i);
        void* device = nullptr;
        status = FindDevice(session.Instance(), &device, info.dutFindFlags[i], &info.dutFindInfo[i]);
        std::string slot = device ? DeviceSlot(device) : entry;
        runner.Run(CheckKind::kPresent, slot, device, [&](CheckResult& r) {
            if (status == QORB_SUCCESS) {
                r.outcome = Outcome::kPass;
                r.message = entry + " found at " + slot;
            } else {
                r.outcome = Outcome::kFail;
                r.message = entry + " was not found: " + StatusText(status);
            }
        });
        if (status != QORB_SUCCESS)
            continue;
        Device record(device);
        /* Linux gives a process without CAP_SYS_ADMIN only the 64-byte
         * header: the checks then cannot see the capabilities they check.
         * Say so once, rather than leave their verdicts unexplained. */
        uint8_t beyond[4];
        if (!ReadConfig(device, PCI_STD_HEADER_SIZEOF, sizeof beyond, beyond))
            fprintf(stderr, "qorb check: %s: configuration space beyond the 64-byte header cannot be read (on Linux "
                            "that needs root)\n", slot.c_str());
        CheckOneDut(runner, logs, o.settings, device);
    }

    for (void* log : {logs.text, logs.xml, logs.console})
        if (log)
            CloseLog(log);
    const qorbcli::CheckReport& report = runner.Report();
    std::string written = "XML log " + o.xml;
    for (const auto& [path, what] : reports) {
        if (path->empty())
            continue;
        if (path == &o.junit)
            WriteReport(*path, what, report.JUnitXml());
        else if (path == &o.json)
            WriteReport(*path, what, qorbcli::JsonReport(report));
        else
            WriteReport(*path, what, qorbcli::HtmlReport(report, {platform, session.DriverText()}, PlatformTopology()));
        written += std::string(", ") + what + " " + *path;
    }
    std::string summary = report.Summary();
    size_t rules = qorbcli::RuleRows(report).size();
    if (rules != report.Results().size())
        summary += "; " + qorbcli::RuleSummary(report);
    fprintf(Out(), "qorb check: %s; %s\n", summary.c_str(), written.c_str());
    return report.Passed() ? kExitOk : kExitFailed;
}

} // namespace

void AddCheckCommand(CLI::App& app)
{
    auto o = std::make_shared<CheckOptions>();
    CLI::App* cmd = app.add_subcommand("check", "Run the compliance checklist on every DUT of a platform file");
    cmd->add_option("--platform", o->platform,
                    "Platform file (XML) naming the DUTs; default: the example file of the simulated platform");
    cmd->add_option("--xml", o->xml, "XML log file")->capture_default_str();
    cmd->add_option("--log", o->log, "Also write a text log to this file");
    cmd->add_option("--junit", o->junit, "Also write the results as a JUnit XML report to this file");
    cmd->add_option("--json", o->json, "Also write every rule evaluated as JSON to this file");
    cmd->add_option("--html", o->html, "Also write a self-contained HTML report to this file");
    cmd->add_option("--rules", o->rules,
                    "Only the rules whose checklist names match these patterns (comma-separated, * and ? as in "
                    "file names)");
    CLI::Option* verbose =
        cmd->add_flag("--verbose,-v", o->verbose, "Also show the library's console log (on standard error)");
    cmd->add_flag("--quiet,-q", o->quiet, "Show only the failures and the summary")->excludes(verbose);
    cmd->add_flag("--no-link", o->noLink, "Skip the checks that retrain, disable and enable the DUT's link");
    cmd->add_flag("--no-inject", o->noInject, "Skip the test card's error injections");
    cmd->add_option("--delay", o->settings.wait.delayMs, "Milliseconds before each test of Link Training")
        ->check(CLI::Range(0, 60000))
        ->capture_default_str();
    cmd->add_option("--tries", o->settings.wait.tries, "How often Link Training is tested at most")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    cmd->callback([o] { ExitStatus() = RunCheck(*o); });
}

} // namespace qorbtool
