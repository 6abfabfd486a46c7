/* --html of "qorb check": one page that needs nothing but itself (styles
 * inline, drawings as inline SVG, no script): the platform's topology with
 * each DUT coloured by its verdict, then one section per DUT. */
#include <stdio.h>

#include <algorithm>
#include <map>

#include "report.h"

namespace qorbcli {

std::vector<TopologyNode> Topology(const std::vector<PlatformFunction>& functions)
{
    std::vector<TopologyNode> nodes;
    for (size_t i = 0; i < functions.size(); i++) {
        const PlatformFunction& f = functions[i];
        TopologyNode node{f.slot, f.label, -1};
        int range = 256;
        for (size_t j = 0; j < functions.size(); j++) {
            const PlatformFunction& b = functions[j];
            if (j == i || !b.bridge || f.bus < b.secondary || f.bus > b.subordinate)
                continue;
            if (b.subordinate - b.secondary < range) {
                range = b.subordinate - b.secondary;
                node.parent = static_cast<int>(j);
            }
        }
        nodes.push_back(node);
    }
    return nodes;
}

namespace {

std::string Esc(const std::string& text) { return XmlEscape(text); }

std::string Num(double value)
{
    char text[32];
    snprintf(text, sizeof text, "%.1f", value);
    return text;
}

struct Dut {
    std::string slot;
    std::vector<const CheckResult*> checks;
    Outcome verdict = Outcome::kSkip;
};

std::vector<Dut> Duts(const CheckReport& report)
{
    std::vector<Dut> duts;
    for (const CheckResult& r : report.Results()) {
        auto it = std::find_if(duts.begin(), duts.end(), [&](const Dut& d) { return d.slot == r.dut; });
        if (it == duts.end()) {
            duts.push_back({r.dut, {}, Outcome::kSkip});
            it = duts.end() - 1;
        }
        it->checks.push_back(&r);
        if (r.outcome == Outcome::kFail || (r.outcome == Outcome::kPass && it->verdict == Outcome::kSkip))
            it->verdict = r.outcome;
    }
    return duts;
}

/* Depth-first order of the tree; members of a parent loop become roots. */
void Order(const std::vector<TopologyNode>& nodes, int index, int depth, std::vector<bool>& seen,
           std::vector<std::pair<int, int>>& order)
{
    std::vector<std::pair<int, int>> stack = {{index, depth}};
    while (!stack.empty()) {
        auto [at, level] = stack.back();
        stack.pop_back();
        if (seen[static_cast<size_t>(at)])
            continue;
        seen[static_cast<size_t>(at)] = true;
        order.emplace_back(at, level);
        for (int child = static_cast<int>(nodes.size()) - 1; child >= 0; child--)
            if (nodes[static_cast<size_t>(child)].parent == at && !seen[static_cast<size_t>(child)])
                stack.emplace_back(child, level + 1);
    }
}

constexpr int kRow = 30, kIndent = 28, kBoxWidth = 380, kBoxHeight = 22;

std::string TopologySvg(const std::vector<TopologyNode>& nodes, const std::map<std::string, Outcome>& verdicts)
{
    std::vector<bool> seen(nodes.size(), false);
    std::vector<std::pair<int, int>> order;
    for (size_t i = 0; i < nodes.size(); i++)
        if (nodes[i].parent < 0)
            Order(nodes, static_cast<int>(i), 0, seen, order);
    for (size_t i = 0; i < nodes.size(); i++)
        Order(nodes, static_cast<int>(i), 0, seen, order);

    std::map<int, int> rowOf;
    int maxDepth = 0;
    for (size_t row = 0; row < order.size(); row++) {
        rowOf[order[row].first] = static_cast<int>(row);
        maxDepth = std::max(maxDepth, order[row].second);
    }
    int width = maxDepth * kIndent + kBoxWidth + 20, height = static_cast<int>(order.size()) * kRow + 10;
    std::string svg = "<svg class=\"topology\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
        "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) + " " +
        std::to_string(height) + "\" role=\"img\">\n" + "<title>Platform topology</title>\n";
    for (size_t row = 0; row < order.size(); row++) {
        auto [index, depth] = order[row];
        const TopologyNode& node = nodes[static_cast<size_t>(index)];
        int x = 10 + depth * kIndent, y = 5 + static_cast<int>(row) * kRow;
        auto parentRow = node.parent >= 0 ? rowOf.find(node.parent) : rowOf.end();
        if (parentRow != rowOf.end() && parentRow->second < static_cast<int>(row)) {
            int px = x - kIndent + 10, py = 5 + parentRow->second * kRow + kBoxHeight;
            svg += "<path class=\"edge\" d=\"M" + std::to_string(px) + " " + std::to_string(py) + " V" +
                std::to_string(y + kBoxHeight / 2) + " H" + std::to_string(x) + "\"/>\n";
        }
        auto verdict = verdicts.find(node.slot);
        std::string cls = verdict == verdicts.end() ? "node" : std::string("node dut ") + OutcomeName(verdict->second);
        std::string word = verdict == verdicts.end() ? "" : std::string(" ") + OutcomeWord(verdict->second);
        svg += "<g class=\"" + cls + "\" data-slot=\"" + Esc(node.slot) + "\"><title>" +
            Esc(node.slot + " " + node.label + word) + "</title><rect x=\"" + std::to_string(x) + "\" y=\"" +
            std::to_string(y) + "\" width=\"" + std::to_string(kBoxWidth) + "\" height=\"" +
            std::to_string(kBoxHeight) + "\" rx=\"4\"/><text x=\"" + std::to_string(x + 6) + "\" y=\"" +
            std::to_string(y + 15) + "\">" + Esc(node.slot + "  " + node.label + word) + "</text></g>\n";
    }
    return svg + "</svg>\n";
}

const char* KindName(unsigned kind)
{
    static const char* const names[] = {"TLP down", "TLP up",    "TLP by card", "DLLP",
                                        "armed",    "suspended", "resumed",     "full"};
    return kind < 8 ? names[kind] : "?";
}

/* The card's trace as a time line: one mark per entry at its time stamp
 * (in order when the card kept no time), and the entries listed below. */
std::string Timeline(const CheckResult& r)
{
    const CheckDef& def = FindCheck(r.kind);
    uint32_t first = r.trace.front().micros, last = first;
    for (const TraceEvent& e : r.trace) {
        first = std::min(first, e.micros);
        last = std::max(last, e.micros);
    }
    bool timed = last > first;
    const double left = 20, span = 760;
    std::string out = "<figure class=\"timeline\"><figcaption>" + Esc(CheckName(def) + " " + def.title) + ": " +
        std::to_string(r.trace.size()) + " trace entries" +
        (timed ? ", " + std::to_string(last - first) + " &#181;s" : "") + "</figcaption>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\"48\" viewBox=\"0 0 800 48\" "
           "role=\"img\"><title>trace time line</title><line class=\"axis\" x1=\"20\" y1=\"20\" x2=\"780\" "
           "y2=\"20\"/>\n";
    for (size_t i = 0; i < r.trace.size(); i++) {
        const TraceEvent& e = r.trace[i];
        double share = timed ? double(e.micros - first) / double(last - first)
                             : (r.trace.size() > 1 ? double(i) / double(r.trace.size() - 1) : 0.5);
        out += "<circle class=\"k" + std::to_string(e.kind) + "\" cx=\"" + Num(left + share * span) +
            "\" cy=\"20\" r=\"6\"><title>" + Esc(std::to_string(i + 1) + ". " + e.text) + "</title></circle>" +
            "<text class=\"mark\" x=\"" + Num(left + share * span) + "\" y=\"42\">" + std::to_string(i + 1) +
            "</text>\n";
    }
    out += "</svg>\n<table class=\"trace\"><tr><th>#</th><th>&#181;s</th><th>kind</th><th>entry</th></tr>\n";
    for (size_t i = 0; i < r.trace.size(); i++) {
        const TraceEvent& e = r.trace[i];
        out += "<tr class=\"k" + std::to_string(e.kind) + "\"><td>" + std::to_string(i + 1) + "</td><td>" +
            (timed ? std::to_string(e.micros - first) : "-") + "</td><td>" + KindName(e.kind) + "</td><td>" +
            Esc(e.text) + "</td></tr>\n";
    }
    return out + "</table></figure>\n";
}

std::string Cell(const std::string& text) { return "<td>" + Esc(text) + "</td>"; }

std::string Findings(const Dut& dut)
{
    std::string rows;
    for (const CheckResult* r : dut.checks) {
        const std::string check = CheckName(FindCheck(r->kind));
        for (const RuleResult& rule : r->rules) {
            if (rule.verdict != Outcome::kFail)
                continue;
            char bits[16], value[16];
            snprintf(bits, sizeof bits, rule.lo == rule.hi ? "%u" : "%u:%u", rule.lo == rule.hi ? rule.lo : rule.hi,
                     rule.lo);
            snprintf(value, sizeof value, "0x%x", rule.value);
            rows += "<tr>" + Cell(rule.rule.Str()) + Cell(rule.structure) + Cell(rule.RegisterName()) +
                Cell(rule.field) + Cell(bits) + Cell(value) + Cell(rule.Message()) + Cell(rule.section) + "</tr>\n";
        }
        if (r->rules.empty() && r->outcome == Outcome::kFail) {
            std::string text = r->message;
            for (const std::string& detail : r->details)
                text += "; " + detail;
            rows += "<tr>" + Cell(check) + "<td></td><td></td><td></td><td></td><td></td>" + Cell(text) +
                "<td></td></tr>\n";
        }
    }
    if (rows.empty())
        return "<p class=\"none\">No findings.</p>\n";
    return "<table class=\"findings\"><tr><th>rule</th><th>structure</th><th>register</th><th>field</th><th>bits</th>"
           "<th>value</th><th>finding</th><th>section</th></tr>\n" +
        rows + "</table>\n";
}

std::string DutSection(const Dut& dut)
{
    std::string out = "<section class=\"dut\" id=\"dut-" + Esc(dut.slot) + "\"><h2>DUT " + Esc(dut.slot) +
        " <span class=\"verdict " + OutcomeName(dut.verdict) + "\">" + OutcomeWord(dut.verdict) +
        "</span></h2>\n<table class=\"checks\"><tr><th>verdict</th><th>check</th><th>title</th>"
        "<th>result</th><th>rules</th></tr>\n";
    for (const CheckResult* r : dut.checks) {
        const CheckDef& def = FindCheck(r->kind);
        out += "<tr class=\"" + std::string(OutcomeName(r->outcome)) + "\"><td>" + OutcomeWord(r->outcome) + "</td>" +
            Cell(CheckName(def)) + Cell(def.title) + Cell(r->message) + "<td>" +
            std::to_string(r->rules.empty() ? 1 : r->rules.size()) + "</td></tr>\n";
    }
    out += "</table>\n<h3>Findings</h3>\n" + Findings(dut);
    std::string timelines;
    for (const CheckResult* r : dut.checks)
        if (!r->trace.empty())
            timelines += Timeline(*r);
    if (!timelines.empty())
        out += "<h3>Injected errors in the card's trace</h3>\n" + timelines;
    return out + "</section>\n";
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "table{border-collapse:collapse;margin:.5em 0}td,th{border:1px solid #ccc;padding:2px 6px;text-align:left;"
    "vertical-align:top;font-size:90%}th{background:#eee}"
    ".verdict{padding:1px 6px;border-radius:3px;color:#fff}.verdict.pass{background:#2e8b40}"
    ".verdict.fail{background:#c0392b}.verdict.skip{background:#8a8a8a}"
    "tr.fail td:first-child{color:#c0392b;font-weight:bold}tr.pass td:first-child{color:#2e8b40}"
    "tr.skip td:first-child{color:#777}"
    ".topology text{font:12px monospace;fill:#222}.node rect{fill:#fff;stroke:#999}"
    ".dut.pass rect{fill:#bfe8c6;stroke:#2e8b40;stroke-width:2}.dut.fail rect{fill:#f5c2bd;stroke:#c0392b;"
    "stroke-width:2}.dut.skip rect{fill:#e4e4e4;stroke:#777;stroke-width:2}.edge{fill:none;stroke:#999}"
    ".axis{stroke:#555}.mark{font:10px "
    "sans-serif;text-anchor:middle;fill:#444}.k0{fill:#2f6fb3}.k1{fill:#1b998b}.k2{fill:#8e44ad}.k3{fill:#e67e22}"
    ".k4,.k5,.k6,.k7{fill:#888}"
    ".legend span{display:inline-block;padding:0 6px;margin-right:4px;border-radius:3px}";

} // namespace

std::string HtmlReport(const CheckReport& report, const RunInfo& run, const std::vector<TopologyNode>& topology)
{
    std::vector<Dut> duts = Duts(report);
    std::map<std::string, Outcome> verdicts;
    for (const Dut& d : duts)
        verdicts[d.slot] = d.verdict;
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>qorb check: " +
        Esc(report.Summary()) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
    out += "<h1>qorb check</h1>\n<p>Platform file " + Esc(run.platform) + ", driver " + Esc(run.driver) + ".</p>\n";
    out += "<p class=\"summary\">Checks: " + Esc(report.Summary()) + ". " + Esc(RuleSummary(report)) + ".</p>\n";
    out += "<h2>Topology</h2>\n<p class=\"legend\">DUTs: <span class=\"verdict pass\">PASS</span><span "
           "class=\"verdict fail\">FAIL</span><span class=\"verdict skip\">SKIP</span> (every check skipped); "
           "other functions in white.</p>\n";
    out += TopologySvg(topology, verdicts);
    std::string absent;
    for (const Dut& d : duts) {
        bool drawn =
            std::any_of(topology.begin(), topology.end(), [&](const TopologyNode& n) { return n.slot == d.slot; });
        if (!drawn)
            absent += (absent.empty() ? "" : ", ") + d.slot;
    }
    if (!absent.empty())
        out += "<p class=\"absent\">Not in the drawing (not found): " + Esc(absent) + ".</p>\n";
    for (const Dut& d : duts)
        out += DutSection(d);
    return out + "</body>\n</html>\n";
}

} // namespace qorbcli
