/* --json of "qorb check": one object per rule evaluated. */
#include <stdio.h>

#include "json.h"
#include "report.h"

namespace qorbcli {

namespace {

std::string Bits(const RuleResult& rule)
{
    return rule.lo == rule.hi ? std::to_string(rule.lo) : std::to_string(rule.hi) + ":" + std::to_string(rule.lo);
}

} // namespace

std::string JsonReport(const CheckReport& report)
{
    Json all = Json::Array();
    for (const RuleRow& row : RuleRows(report)) {
        const CheckResult& r = *row.check;
        Json o = Json::Object();
        o.Set("dut", r.dut).Set("check", CheckName(FindCheck(r.kind))).Set("rule", row.Name());
        o.Set("verdict", OutcomeName(row.Verdict()));
        if (row.rule) {
            const RuleResult& rule = *row.rule;
            o.Set("structure", rule.structure).Set("register", rule.RegisterName()).Set("field", rule.field);
            o.Set("offset", rule.offset).Set("bits", Bits(rule)).Set("value", rule.value);
            o.Set("message", rule.Message()).Set("section", rule.section);
        } else {
            o.Set("structure", Json()).Set("register", Json()).Set("field", Json()).Set("offset", Json());
            o.Set("bits", Json()).Set("value", Json()).Set("message", r.message).Set("section", Json());
            Json details = Json::Array();
            for (const std::string& line : r.details)
                details.Push(line);
            o.Set("details", std::move(details));
        }
        all.Push(std::move(o));
    }
    return all.Dump();
}

} // namespace qorbcli
