/* The JUnit report of "qorb check": one test suite per DUT, one test case
 * per rule (a check without field-level rules is one rule). */
#include <stdio.h>

#include <map>

#include "report.h"

namespace qorbcli {

namespace {

std::string Seconds(double s)
{
    char text[32];
    snprintf(text, sizeof text, "%.3f", s);
    return text;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

struct Case {
    std::string name, message, out;
    Outcome verdict;
    double seconds;
};

Case CaseOf(const RuleRow& row)
{
    const CheckResult& r = *row.check;
    const CheckDef& def = FindCheck(r.kind);
    if (!row.rule)
        return {CheckName(def) + " " + def.title, r.message, Joined(r.details), r.outcome, r.seconds};
    const RuleResult& rule = *row.rule;
    std::string where = std::string(rule.structure) + ", " + rule.RegisterName() + ": " + rule.field;
    return {rule.rule + " " + where, RuleText(rule),
            where + (*rule.section ? " (" + std::string(rule.section) + ")" : ""), rule.verdict,
            r.seconds / static_cast<double>(r.rules.size())};
}

std::string Counts(size_t tests, unsigned failures, unsigned skipped, double time)
{
    return "tests=\"" + std::to_string(tests) + "\" failures=\"" + std::to_string(failures) + "\" skipped=\"" +
        std::to_string(skipped) + "\" errors=\"0\" time=\"" + Seconds(time) + "\"";
}

} // namespace

std::string CheckReport::JUnitXml() const
{
    /* Suites in the order their DUTs first appear. */
    std::vector<std::string> duts;
    std::map<std::string, std::vector<Case>> byDut;
    unsigned failures = 0, skipped = 0;
    size_t tests = 0;
    double total = 0;
    for (const RuleRow& row : RuleRows(*this)) {
        if (byDut.find(row.check->dut) == byDut.end())
            duts.push_back(row.check->dut);
        Case c = CaseOf(row);
        failures += c.verdict == Outcome::kFail;
        skipped += c.verdict == Outcome::kSkip;
        total += c.seconds;
        tests++;
        byDut[row.check->dut].push_back(std::move(c));
    }

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<testsuites name=\"qorb check\" " + Counts(tests, failures, skipped, total) + ">\n";
    for (const std::string& dut : duts) {
        const std::vector<Case>& cases = byDut[dut];
        unsigned f = 0, s = 0;
        double time = 0;
        for (const Case& c : cases) {
            f += c.verdict == Outcome::kFail;
            s += c.verdict == Outcome::kSkip;
            time += c.seconds;
        }
        out += "  <testsuite name=\"DUT " + XmlEscape(dut) + "\" " + Counts(cases.size(), f, s, time) + ">\n";
        for (const Case& c : cases) {
            out += "    <testcase classname=\"qorb.check\" name=\"" + XmlEscape(c.name) + "\" time=\"" +
                Seconds(c.seconds) + "\">\n";
            if (c.verdict == Outcome::kFail)
                out += "      <failure message=\"" + XmlEscape(c.message) + "\">" + XmlEscape(c.out) + "</failure>\n";
            else if (c.verdict == Outcome::kSkip)
                out += "      <skipped message=\"" + XmlEscape(c.message) + "\"/>\n";
            if (!c.out.empty() || c.verdict == Outcome::kPass)
                out += "      <system-out>" + XmlEscape(c.message + "\n" + c.out) + "</system-out>\n";
            out += "    </testcase>\n";
        }
        out += "  </testsuite>\n";
    }
    out += "</testsuites>\n";
    return out;
}

} // namespace qorbcli
