/* The reports of "qorb check": console modes, JSON, JUnit, HTML (also in a headless browser), --rules, and a
 * capability list that loops after the PCI Express capability. */
#include <gtest/gtest.h>
#include <algorithm>
#include <nlohmann/json.hpp>
#include "qorb_test_support.h"
#include "report.h"

using namespace qorbcli;
using namespace qorbtest;

namespace {
size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}
RuleResult Rule(const char* name, const char* structure, Outcome verdict) {
    return {name, verdict, structure, "Link Capabilities", "Max Link Speed", 0x5c, 0, 3, 7, "not in the vector",
        "7.5.3.6", -1, ""};
}
/* 01:00.0 below the root port 00:01.0; its legacy list goes PM 40, Express 50, MSI 60, and back to 40. */
std::string LoopPlatform() {
    ConfigSpace host, port, ep;
    host.Header(0x5153, 0x1000, 0x06, 0x00, 0x00, 0x00);
    port.Header(0x5153, 0x1001, 0x06, 0x04, 0x00, 0x01).Buses(0, 1, 1).CapPointer(0x40).PcieCap(0x40, 4, 0);
    port.Set32(0x4c, 0x43).Set16(0x52, 0x43);
    ep.Header(0x5153, 0x2000, 0x02, 0x00, 0x00, 0x00)
        .CapPointer(0x40)
        .LegacyCap(0x40, 1, 0x50)
        .LegacyCap(0x60, 5, 0x40);
    ep.PcieCap(0x50, 0, 0x60).Set32(0x5c, 0x43).Set16(0x62, 0x43);
    /* 03:00.0, a switch's downstream port below 00:02.0 and 02:00.0, whose list loops the same way */
    ConfigSpace root = port, up = port, down = ep;
    root.Buses(0, 2, 4), up.Buses(2, 3, 4).PcieCap(0x40, 5, 0),
        down.Buses(3, 4, 4).Set8(14, 1).Set16(10, 0x0604).Set16(0x52, 0x62);
    return DumpText({{0, 0, 0, host}, {0, 1, 0, port}, {1, 0, 0, ep}, {0, 2, 0, root}, {2, 0, 0, up}, {3, 0, 0, down}});
}
} // namespace

TEST(Report, RulesMakeLinesAndObjects) {
    CheckResult r;
    r.kind = CheckKind::kPcieCap, r.dut = "03:00.0", r.outcome = Outcome::kFail;
    r.rules = {Rule("PCIE.LNKCAP.MLS", "PCI Express", Outcome::kFail),
        Rule("PCIE.LNKCAP.MLW", "PCI Express", Outcome::kPass), Rule("AER.UESTA.RSVD", "AER", Outcome::kPass),
        Rule("AER.CESTA.RSVD", "AER", Outcome::kSkip)};
    /* --rules, then: console lines (normal, quiet), JSON objects, JUnit failures, first console line */
    const std::vector<std::tuple<const char*, size_t, size_t, size_t, size_t, std::string>> rows
        = {{"", 2, 1, 4, 1,
               "FAIL  PCIE.*           03:00.0  PCI Express: 1 of 2 rules failed: PCIE.LNKCAP.MLS Link "
               "Capabilities: Max Link Speed [3:0] = 0x7: not in the vector"},
            {"CFG.1.4*", 2, 1, 4, 1, "FAIL  PCIE.*"},
            {"AER.*", 1, 0, 2, 0, "PASS  AER.*            03:00.0  AER: 1 rule passed, 1 skipped"},
            {"*.RSVD,PCIE.*W", 2, 0, 3, 0, "PASS  PCIE.*           03:00.0  PCI Express: 1 rule passed"},
            {"NONE", 0, 0, 0, 0, ""}};
    for (const auto& [pattern, lines, quiet, objects, failures, first] : rows) {
        CheckResult copy = r;
        CheckReport report;
        if (Narrow(copy, RuleSelection(pattern))) report.Add(copy);
        std::vector<std::string> normal
            = report.Results().empty() ? std::vector<std::string>() : ConsoleLines(copy, false);
        EXPECT_EQ(normal.size(), lines) << pattern;
        EXPECT_EQ(normal.empty() ? "" : normal[0].substr(0, first.size()), first) << pattern;
        EXPECT_EQ(report.Results().empty() ? 0 : ConsoleLines(copy, true).size(), quiet) << pattern;
        nlohmann::json json = nlohmann::json::parse(JsonReport(report));
        EXPECT_EQ(json.size(), objects) << pattern;
        for (const auto& o : json)
            EXPECT_EQ(o["dut"].get<std::string>() + o["register"].get<std::string>() + o["field"].get<std::string>()
                    + std::to_string(o["value"].get<int>()) + o["bits"].get<std::string>(),
                "03:00.0Link CapabilitiesMax Link Speed73:0");
        EXPECT_EQ(Count(report.JUnitXml(), "<failure"), failures) << pattern;
        EXPECT_EQ(Count(report.JUnitXml(), "<testcase"), objects) << pattern;
    }
}

TEST(Report, RuleNamesKeepEveryCharacter) {
    // Names are kept in place up to 39 characters and whole beyond.
    const std::string longest(39, 'a'), longer(40, 'b');
    for (const std::string& text : {std::string(), longest, longer, longest + longer}) {
        qorbcli::RuleName built(text.substr(0, text.size() / 2));
        built += text.substr(text.size() / 2);
        EXPECT_EQ(built.Str(), text);
        EXPECT_EQ("<" + built + ">", "<" + text + ">");
        qorbcli::RuleName copy = built;
        EXPECT_TRUE(copy == text) << text.size();
    }
}

TEST(Report, TopologyByBusRanges) {
    /* slot, bus, bridge, secondary, subordinate; the parent found */
    const std::vector<std::tuple<const char*, int, bool, int, int, int>> rows = {{"00:01.0", 0, true, 1, 5, -1},
        {"01:00.0", 1, true, 2, 5, 0}, {"02:01.0", 2, true, 4, 5, 1}, {"04:00.0", 4, false, 0, 0, 2},
        {"06:00.0", 6, false, 0, 0, -1}, {"07:00.0", 7, true, 8, 8, 6}, {"08:00.0", 8, true, 7, 7, 5}};
    std::vector<PlatformFunction> functions;
    for (const auto& [slot, bus, bridge, secondary, subordinate, parent] : rows)
        functions.push_back({slot, uint8_t(bus), bridge, uint8_t(secondary), uint8_t(subordinate), "x"});
    std::vector<TopologyNode> nodes = Topology(functions);
    for (size_t i = 0; i < rows.size(); i++) EXPECT_EQ(nodes[i].parent, std::get<5>(rows[i])) << std::get<0>(rows[i]);
    CheckReport report; /* a parent loop (07:00.0, 08:00.0) is still drawn, once each */
    std::string html = HtmlReport(report, {"p.xml", "sim"}, nodes);
    EXPECT_EQ(Count(html, "<g class=\"node\""), rows.size());
}

class ReportTool : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef QORB_TOOL_PATH
        GTEST_SKIP() << "the qorb tool is not built";
#endif
        WriteFile("loop.txt", LoopPlatform()),
            WriteFile("loop.xml", "<p><DUT bus=\"1\" device=\"0\" function=\"0\"/></p>");
        WriteFile("one.xml", "<p><DUT bus=\"6\" device=\"0\" function=\"0\"/></p>");
        WriteFile("down.xml", "<p><DUT bus=\"3\" device=\"0\" function=\"0\"/></p>");
    }
    std::string Check(const std::string& ini, const std::string& args, int* status) {
        WriteFile("qorbsim.ini", ini);
        return RunCommand("'" QORB_TOOL_PATH "' check " + args + " 2>err.txt </dev/null", status);
    }
    ScratchDir m_dir;
};

TEST_F(ReportTool, ConsoleJsonJunitAndRules) {
    const std::string aer = "[function 06:00.0]\naer_correctable = 0x40\n";
    /* qorbsim.ini, arguments; exit status, lines on standard output, longest line on standard error, rules (JSON,
     * JUnit), text in the output */
    const std::vector<std::tuple<std::string, std::string, int, size_t, size_t, size_t, std::string>> rows = {
        {"", "", 0, 105, 0, 493, "SKIP  DLL.4.2#1.1      03:00.0  injected Bad DLLP: no ZEB test card above 03:00.0"},
        {"", "--quiet", 0, 1, 0, 493,
            "qorb check: 41 passed, 0 failed, 27 skipped; 493 rules: 466 passed, 0 failed, 27 skipped"},
        {"", "-v --no-inject", 0, 105, 200, 493, "CFG 4.2.1 : SKIP injected Bad DLLP"},
        {aer, "--platform one.xml -q", 1, 2, 0, 136, "FAIL  EM.2.1#1.1       06:00.0  AER status clear at start: AER "},
        {"", "--rules 'CFG.1.*'", 0, 57, 0, 445, "PASS  CFG.1.4#1.1      04:00.1"},
        {"", "--rules 'PHYLINK.3.2*,DLL.4.1*' -q", 0, 1, 0, 8, "qorb check: 5 passed, 0 failed, 3 skipped"},
        {"", "--rules NONE", 0, 2, 0, 0, "qorb check: 0 passed, 0 failed, 0 skipped"},
        {"[platform]\ndump = loop.txt\n[link]\ntraining_ms = 0\n", "--platform loop.xml --no-inject", 1, 24, 0, 85,
            "PASS  CFG.1.4#1.1      01:00.0  PCI Express capability and link: present once at 50 (found by walking "
            "the list, which loops back to 40 after it), version 2, Endpoint, link x4"},
        {"[platform]\ndump = loop.txt\n[link]\ntraining_ms = 0\n",
            "--platform down.xml --no-inject --rules 'PHYLINK.*'", 0, 4, 0, 2,
            "PASS  PHYLINK.3.1#1.1  03:00.0  link retrain: retrained from 00:02.0; 03:00.0 answers"}};
    for (const auto& [ini, args, status, lines, longest, rules, text] : rows) {
        int got = -1;
        std::string out = Check(ini, args + " --json r.json --junit r.xml --log r.log", &got),
                    err = ReadFile("err.txt");
        EXPECT_EQ(got, status) << args << "\n" << out << err;
        EXPECT_EQ(Count(out, "\n"), lines) << args << "\n" << out;
        size_t most = 0;
        for (size_t at = 0, end; (end = err.find('\n', at)) != std::string::npos; at = end + 1)
            most = std::max(most, end - at);
        EXPECT_LE(most, longest) << args << err;
        EXPECT_NE((out + err).find(text), std::string::npos) << args << "\n" << out;
        EXPECT_EQ(nlohmann::json::parse(ReadFile("r.json")).size(), rules) << args;
        EXPECT_EQ(Count(ReadFile("r.xml"), "<testcase "), rules) << args;
        std::string log = ReadFile("r.log"); /* every assertion on its own line: none starts within a line */
        EXPECT_EQ(Count(log, "::(Adv Error"), Count(log, "\n::(Adv Error")) << args;
    }
}

TEST_F(ReportTool, HtmlInAHeadlessBrowser) {
    int status = -1;
    Check("", "--html r.html --no-link", &status);
    std::string html = ReadFile("r.html");
    ASSERT_EQ(status, 0);
    for (const char* slot : {"03:00.0", "06:00.0", "09:00.0", "04:00.1"})
        EXPECT_NE(html.find("<g class=\"node dut pass\" data-slot=\"" + std::string(slot)), std::string::npos) << slot;
    EXPECT_EQ(Count(html, "<figure class=\"timeline\">"), 9u);
    EXPECT_EQ(Count(html, "<p class=\"none\">No findings.</p>"), 4u); /* every built-in DUT is clean */
    EXPECT_EQ(Count(html, "<script") + Count(html, "src=") + Count(html, "href=") + Count(html, "url("), 0u);
    if (RunCommand("command -v chromium").empty())
        GTEST_SKIP() << "chromium is not installed (apt-get install chromium)";
    std::string flags = "chromium --headless --no-sandbox --disable-gpu --enable-logging=stderr --v=0 ";
    std::string dom = RunCommand(flags + "--dump-dom file://" + m_dir.Path() + "/r.html 2>console.txt", &status);
    RunCommand(flags + "--window-size=1200,2000 --screenshot=" + m_dir.Path() + "/shot.png file://" + m_dir.Path()
        + "/r.html 2>>console.txt");
    EXPECT_EQ(status, 0);
    for (const char* slot : {"03:00.0", "06:00.0", "09:00.0", "04:00.1"})
        EXPECT_NE(dom.find("<section class=\"dut\" id=\"dut-" + std::string(slot)), std::string::npos) << slot;
    EXPECT_EQ(Count(ReadFile("console.txt"), "CONSOLE"), 0u) << ReadFile("console.txt");
    EXPECT_GT(ReadFile("shot.png").size(), 10000u);
}
