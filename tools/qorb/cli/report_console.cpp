/* Rule selection, rule families and the console lines of "qorb check". */
#include "report.h"

#include <fnmatch.h>
#include <stdio.h>

namespace qorbcli {

RuleSelection::RuleSelection(const std::string& patterns)
{
    size_t start = 0;
    while (start <= patterns.size()) {
        size_t comma = patterns.find(',', start);
        if (comma == std::string::npos)
            comma = patterns.size();
        std::string pattern = patterns.substr(start, comma - start);
        if (!pattern.empty())
            m_patterns.push_back(pattern);
        start = comma + 1;
    }
}

bool RuleSelection::Selects(const std::string& name) const
{
    if (m_patterns.empty())
        return true;
    for (const std::string& pattern : m_patterns)
        if (fnmatch(pattern.c_str(), name.c_str(), 0) == 0)
            return true;
    return false;
}

bool RunsQuietly(CheckKind kind)
{
    switch (kind) {
    case CheckKind::kWriteProbes: /* writes: only when its own name is selected */
    case CheckKind::kAerClear:
    case CheckKind::kRetrain:
    case CheckKind::kDisableEnable:
        return false;
    default:
        return kind < CheckKind::kInjectBadTlp || kind > CheckKind::kInjectFcProtocol;
    }
}

Outcome VerdictOf(const std::vector<const RuleResult*>& rules)
{
    Outcome verdict = Outcome::kSkip;
    for (const RuleResult* rule : rules) {
        if (rule->verdict == Outcome::kFail)
            return Outcome::kFail;
        if (rule->verdict == Outcome::kPass)
            verdict = Outcome::kPass;
    }
    return verdict;
}

namespace {

std::string Counted(size_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); }

/* "2 of 45 rules failed: <the first>", "45 rules passed", "3 rules skipped: <why>". */
std::string RulesMessage(const std::vector<const RuleResult*>& rules, Outcome verdict)
{
    size_t failed = 0, skipped = 0;
    const RuleResult* first = nullptr;
    for (const RuleResult* rule : rules) {
        failed += rule->verdict == Outcome::kFail;
        skipped += rule->verdict == Outcome::kSkip;
        if (!first && rule->verdict == verdict)
            first = rule;
    }
    switch (verdict) {
    case Outcome::kFail:
        return std::to_string(failed) + " of " + Counted(rules.size(), "rule") + " failed: " + RuleText(*first);
    case Outcome::kPass:
        return Counted(rules.size() - skipped, "rule") + " passed" +
            (skipped ? ", " + std::to_string(skipped) + " skipped" : "");
    case Outcome::kSkip:
        break;
    }
    return Counted(rules.size(), "rule") + " skipped" + (first ? ": " + first->Message() : "");
}

std::string FirstPart(const std::string& name) { return name.substr(0, name.find('.')); }

std::string Line(Outcome verdict, const std::string& name, const std::string& dut, const std::string& text)
{
    char head[64];
    snprintf(head, sizeof head, "%-4s  %-16s %-8s ", OutcomeWord(verdict), name.c_str(), dut.c_str());
    return head + text;
}

} // namespace

bool Narrow(CheckResult& r, const RuleSelection& selection)
{
    if (selection.Selects(CheckName(FindCheck(r.kind))))
        return true;
    std::vector<RuleResult> kept;
    for (RuleResult& rule : r.rules)
        if (selection.Selects(rule.rule.Str()))
            kept.push_back(std::move(rule));
    r.rules = std::move(kept);
    if (r.rules.empty())
        return false;
    std::vector<const RuleResult*> rules;
    for (const RuleResult& rule : r.rules)
        rules.push_back(&rule);
    r.outcome = VerdictOf(rules);
    r.message = RulesMessage(rules, r.outcome);
    return true;
}

std::string RuleText(const RuleResult& rule)
{
    char bits[16], value[16];
    if (rule.lo == rule.hi)
        snprintf(bits, sizeof bits, "[%u]", rule.lo);
    else
        snprintf(bits, sizeof bits, "[%u:%u]", rule.hi, rule.lo);
    snprintf(value, sizeof value, "0x%x", rule.value);
    return rule.rule + " " + rule.RegisterName() + ": " + rule.field + " " + bits + " = " + value + ": " +
        rule.Message();
}

std::vector<RuleFamily> Families(const CheckResult& r)
{
    std::vector<RuleFamily> families;
    for (const RuleResult& rule : r.rules) {
        RuleFamily* family = nullptr;
        for (RuleFamily& f : families)
            if (f.structure == rule.structure)
                family = &f;
        if (!family) {
            families.push_back({FirstPart(rule.rule.Str()), rule.structure, {}, Outcome::kPass, ""});
            family = &families.back();
        }
        family->rules.push_back(&rule);
    }
    for (RuleFamily& f : families) {
        f.verdict = VerdictOf(f.rules);
        f.message = RulesMessage(f.rules, f.verdict);
    }
    return families;
}

std::vector<std::string> ConsoleLines(const CheckResult& r, bool quiet)
{
    std::vector<std::string> lines;
    const CheckDef& def = FindCheck(r.kind);
    if (r.rules.empty()) {
        if (!quiet || r.outcome == Outcome::kFail)
            lines.push_back(Line(r.outcome, CheckName(def), r.dut, std::string(def.title) + ": " + r.message));
        return lines;
    }
    for (const RuleFamily& f : Families(r))
        if (!quiet || f.verdict == Outcome::kFail)
            lines.push_back(
                Line(f.verdict, f.name + ".*", r.dut,
                     f.structure + (r.kind == CheckKind::kWriteProbes ? " write probes: " : ": ") + f.message));
    return lines;
}

std::string RuleRow::Name() const { return rule ? rule->rule.Str() : CheckName(FindCheck(check->kind)); }

Outcome RuleRow::Verdict() const { return rule ? rule->verdict : check->outcome; }

std::string RuleRow::Message() const { return rule ? rule->Message() : check->message; }

std::vector<RuleRow> RuleRows(const CheckReport& report)
{
    std::vector<RuleRow> rows;
    for (const CheckResult& r : report.Results()) {
        if (r.rules.empty())
            rows.push_back({&r, nullptr});
        for (const RuleResult& rule : r.rules)
            rows.push_back({&r, &rule});
    }
    return rows;
}

std::string RuleSummary(const CheckReport& report)
{
    unsigned counts[3] = {0, 0, 0};
    std::vector<RuleRow> rows = RuleRows(report);
    for (const RuleRow& row : rows)
        counts[static_cast<int>(row.Verdict())]++;
    return Counted(rows.size(), "rule") + ": " + std::to_string(counts[0]) + " passed, " + std::to_string(counts[1]) +
        " failed, " + std::to_string(counts[2]) + " skipped";
}

} // namespace qorbcli
