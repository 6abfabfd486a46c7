/* The reports "qorb check" makes of its results: the console lines, the JSON
 * and HTML files, and the selection of rules by checklist name (--rules).
 * A check either carries field-level rules (RuleResult) or stands for one
 * rule itself; every report counts rules that way. */
#ifndef QORB_CLI_REPORT_H
#define QORB_CLI_REPORT_H

#include <stdint.h>

#include <string>
#include <vector>

#include "checklist.h"

namespace qorbcli {

/* --rules: patterns over checklist names separated by commas, '*' and '?'
 * matching as in file names ("CFG.1.*,PCIE.LNK*"); none selects all. */
class RuleSelection {
public:
    RuleSelection() = default;
    explicit RuleSelection(const std::string& patterns);
    bool Selects(const std::string& name) const;
    bool Everything() const { return m_patterns.empty(); }

private:
    std::vector<std::string> m_patterns;
};

/* Whether a check only reads configuration space and writes nothing to the
 * logs while it runs (every check but the AER, link and injection checks):
 * such a check runs even when its own name is not selected, for the rules
 * it reports, which are then narrowed. */
bool RunsQuietly(CheckKind kind);

/* Narrows a result to the selection: a check selected by its own name keeps
 * everything; otherwise it keeps only its selected rules, and its verdict
 * and message follow them. False when nothing of it is selected. */
bool Narrow(CheckResult& r, const RuleSelection& selection);

/* Failed when a rule failed, else passed when one passed, else skipped. */
Outcome VerdictOf(const std::vector<const RuleResult*>& rules);

/* The rules of one structure within a check: one console line. */
struct RuleFamily {
    std::string name; /* the rules' first name part: "PCIE" */
    std::string structure;
    std::vector<const RuleResult*> rules;
    Outcome verdict = Outcome::kPass;
    std::string message; /* "2 of 45 rules failed: ...", "45 rules passed" */
};
std::vector<RuleFamily> Families(const CheckResult& r);

/* "PCIE.LNKCAP.MLS Link Capabilities: Max Link Speed [3:0] = 0x7: text". */
std::string RuleText(const RuleResult& rule);

/* The console lines of one result: one for a check, one per rule family
 * for a check with field-level rules. Quiet: failures only. */
std::vector<std::string> ConsoleLines(const CheckResult& r, bool quiet);

/* Every rule of a report: a check's field-level rules, or the check itself
 * (rule null) when it has none. */
struct RuleRow {
    const CheckResult* check;
    const RuleResult* rule;
    std::string Name() const; /* the rule's checklist name */
    Outcome Verdict() const;
    std::string Message() const;
};
std::vector<RuleRow> RuleRows(const CheckReport& report);
/* "N rules: N passed, N failed, N skipped". */
std::string RuleSummary(const CheckReport& report);

/* --json: an array with one object per rule: dut, check, rule, verdict
 * ("pass", "fail", "skip"), structure, register, field, offset, bits, value,
 * message and section (null where a check has no field-level rules). */
std::string JsonReport(const CheckReport& report);

/* The platform as the HTML report draws it. */
struct PlatformFunction {
    std::string slot;
    uint8_t bus = 0;
    bool bridge = false; /* type 1 header */
    uint8_t secondary = 0, subordinate = 0;
    std::string label; /* "5153:1010 Endpoint" */
};
struct TopologyNode {
    std::string slot, label;
    int parent = -1; /* index of the bridge whose bus range holds this function's bus */
};
/* Each function below the bridge with the narrowest bus range holding its
 * bus; functions that no bridge covers are roots. */
std::vector<TopologyNode> Topology(const std::vector<PlatformFunction>& functions);

struct RunInfo {
    std::string platform, driver;
};
/* --html: one self-contained page (no script, no external resource): the
 * topology as inline SVG with each DUT coloured by its verdict, then per
 * DUT its checks, its findings with register, field and value, and for
 * injection checks the card's trace as a timeline. */
std::string HtmlReport(const CheckReport& report, const RunInfo& run, const std::vector<TopologyNode>& topology);

} // namespace qorbcli

#endif
