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
    runner.Run(CheckKind::kRegisterRules, dut.slot, device, [&](CheckResult& r) { CheckRegisterRules(dut, r); });
    if (settings.writes)
        runner.Run(CheckKind::kWriteProbes, dut.slot, device, [&](CheckResult& r) { CheckWriteProbes(dut, r); });
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
    /* Every output file is written under a temporary name and appears only
     * when the run is complete; a folder that cannot be written stops the
     * run before it starts. */
    OutputFile xml(o.xml, "XML log");
    std::unique_ptr<OutputFile> text, junit;
    if (!o.log.empty())
        text = std::make_unique<OutputFile>(o.log, "text log");
    if (!o.junit.empty())
        junit = std::make_unique<OutputFile>(o.junit, "JUnit report");
    std::unique_ptr<OutputFile> json, html;
    if (!o.json.empty())
        json = std::make_unique<OutputFile>(o.json, "JSON report");
    if (!o.html.empty())
        html = std::make_unique<OutputFile>(o.html, "HTML report");
    qorbcli::RuleSelection selection(o.rules);

    Session session;
    DutList list = LoadDuts(o.platform, session);
    int count = static_cast<int>(list.duts.size());
    if (!o.quiet)
        fprintf(Out(), "qorb check: %s, %d DUT%s, driver %s\n", list.source.c_str(), count, count == 1 ? "" : "s",
                session.DriverText().c_str());

    CheckLogs logs;
    logs.xml = MakeLog(QORB_LOG_TYPE_XML, xml.WritePath());
    if (o.verbose)
        logs.console = MakeLog(QORB_LOG_TYPE_CONSOLE, "");
    if (text)
        logs.text = MakeLog(QORB_LOG_TYPE_RAW_TEXT, text->WritePath());
    o.settings.linkChecks = !o.noLink;
    o.settings.injectChecks = !o.noInject;

    Runner runner(logs, selection, o.quiet);
    for (int i = 0; i < count; i++) {
        qorbcli::PlatformDut& dut = list.duts[i];
        std::string entry = qorbcli::DescribeDut(i, dut.flags, dut.find);
        void* device = nullptr;
        _QORB_STATUS_t status = FindDevice(session.Instance(), &device, dut.flags, &dut.find);
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
    const std::pair<OutputFile*, std::string> reports[] = {
        {junit.get(), junit ? report.JUnitXml() : ""},
        {json.get(), json ? qorbcli::JsonReport(report) : ""},
        {html.get(), html ? qorbcli::HtmlReport(report, {list.source, session.DriverText()}, PlatformTopology()) : ""}};
    for (const auto& [file, content] : reports)
        if (file)
            file->Write(content);
    xml.Commit();
    if (text)
        text->Commit();
    const char* names[] = {"JUnit report", "JSON report", "HTML report"};
    for (size_t i = 0; i < 3; i++) {
        if (!reports[i].first)
            continue;
        reports[i].first->Commit();
        written += std::string(", ") + names[i] + " " + reports[i].first->Path();
    }
    std::string summary = report.Summary();
    if (qorbcli::RuleRows(report).size() != report.Results().size())
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
                    "Platform file (XML) naming the DUTs; default: the example file on the simulated driver, the "
                    "PCI Express endpoints of the scan on any other");
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
    cmd->add_flag("--writes", o->settings.writes,
                  "Also probe every register with writes (read-only bits, read-write fields, write-one-to-clear "
                  "bits; each restored); fields with side effects are never written");
    cmd->add_option("--delay", o->settings.wait.delayMs, "Milliseconds before each test of Link Training")
        ->check(CLI::Range(0, 60000))
        ->capture_default_str();
    cmd->add_option("--tries", o->settings.wait.tries, "How often Link Training is tested at most")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    cmd->callback([o] { ExitStatus() = RunCheck(*o); });
}

} // namespace qorbtool
