/* qorb check: reads the platform file, finds each DUT, and runs the
 * checklist on it (docs/checklist.md). Every check is one test in each log
 * (console, XML, and the text log when asked), reported with LogAssert under
 * its checklist name, one line on standard output and one JUnit test case.
 * Exit status 0 when no check failed, 1 otherwise; skipped checks (a check
 * that cannot run on this DUT) do not fail the run. */
#include <chrono>
#include <errno.h>
#include <string.h>

#include <linux/pci_regs.h>

#include <CLI/CLI.hpp>

#include "check.h"
#include "names.h"

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
    explicit Runner(const CheckLogs& logs) : m_logs(logs) {}

    void Run(CheckKind kind, const std::string& dut, void* device, const std::function<void(CheckResult&)>& body)
    {
        const qorbcli::CheckDef& def = qorbcli::FindCheck(kind);
        _QORB_TEST_NUM_t num = qorbcli::TestNumber(def);
        std::string title = qorbcli::CheckName(def) + " " + def.title + " (" + dut + ")";
        if (m_logs.console)
            StartTest(m_logs.console, title.c_str());
        if (m_logs.text)
            StartTest(m_logs.text, title.c_str());
        StartTest(m_logs.xml, title.c_str(), &num, 1, device);

        CheckResult r;
        r.kind = kind;
        r.dut = dut;
        auto start = std::chrono::steady_clock::now();
        body(r);
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        std::string text = std::string(qorbcli::OutcomeWord(r.outcome)) + " " + def.title + " (" + dut + "): " +
                           r.message + "\n";
        for (void* log : m_logs.All()) {
            for (const std::string& detail : r.details)
                WriteToLog(log, QORB_LOG_INFO, "  %s\n", detail.c_str());
            LogAssert(log, KindOf(r.outcome), &num, text.c_str());
            StopTest(log);
        }
        fprintf(Out(), "%-4s  %-16s %-8s %s: %s\n", qorbcli::OutcomeWord(r.outcome), qorbcli::CheckName(def).c_str(),
                dut.c_str(), def.title, r.message.c_str());
        m_report.Add(std::move(r));
    }

    const qorbcli::CheckReport& Report() const { return m_report; }

private:
    const CheckLogs& m_logs;
    qorbcli::CheckReport m_report;
};

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
    /* Every output file is written under a temporary name and appears only
     * when the run is complete; a folder that cannot be written stops the
     * run before it starts. */
    OutputFile xml(o.xml, "XML log");
    std::unique_ptr<OutputFile> text, junit;
    if (!o.log.empty())
        text = std::make_unique<OutputFile>(o.log, "text log");
    if (!o.junit.empty())
        junit = std::make_unique<OutputFile>(o.junit, "JUnit report");

    Session session;
    DutList list = LoadDuts(o.platform, session);
    int count = static_cast<int>(list.duts.size());
    fprintf(Out(), "qorb check: %s, %d DUT%s, driver %s\n", list.source.c_str(), count, count == 1 ? "" : "s",
            session.DriverText().c_str());

    CheckLogs logs;
    logs.xml = MakeLog(QORB_LOG_TYPE_XML, xml.WritePath());
    logs.console = MakeLog(QORB_LOG_TYPE_CONSOLE, "");
    if (text)
        logs.text = MakeLog(QORB_LOG_TYPE_RAW_TEXT, text->WritePath());
    o.settings.linkChecks = !o.noLink;
    o.settings.injectChecks = !o.noInject;

    Runner runner(logs);
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
    if (junit)
        junit->Write(report.JUnitXml());
    xml.Commit();
    if (text)
        text->Commit();
    if (junit)
        junit->Commit();
    fprintf(Out(), "qorb check: %s; XML log %s%s%s\n", report.Summary().c_str(), o.xml.c_str(),
            o.junit.empty() ? "" : ", JUnit report ", o.junit.c_str());
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
