/* Checklist table, results and the JUnit report. */
#include "checklist.h"

#include <stdio.h>
#include <string.h>

#include <map>

namespace qorbcli {

const std::vector<CheckDef>& Checklist()
{
    static const std::vector<CheckDef> list = {
        {CheckKind::kPresent, QORB_LAYER_CFG, "1", "1", "1", "1", "DUT present"},
        {CheckKind::kHeader, QORB_LAYER_CFG, "1", "2", "1", "1", "configuration header"},
        {CheckKind::kCapList, QORB_LAYER_CFG, "1", "3", "1", "1", "capability lists"},
        {CheckKind::kPcieCap, QORB_LAYER_CFG, "1", "4", "1", "1", "PCI Express capability and link"},
        {CheckKind::kRegisterRules, QORB_LAYER_CFG, "1", "5", "1", "1", "register rules"},
        {CheckKind::kWriteProbes, QORB_LAYER_CFG, "1", "6", "1", "1", "register write probes"},
        {CheckKind::kAerClear, QORB_LAYER_EM, "1", "1", "1", "1", "AER status clear at start"},
        {CheckKind::kRetrain, QORB_LAYER_PHYLINK, "1", "1", "1", "1", "link retrain"},
        {CheckKind::kDisableEnable, QORB_LAYER_PHYLINK, "1", "2", "1", "1", "link disable and enable"},
        {CheckKind::kInjectBadTlp, QORB_LAYER_DLL, "2", "1", "1", "1", "injected Bad TLP"},
        {CheckKind::kInjectBadDllp, QORB_LAYER_DLL, "2", "1", "1", "2", "injected Bad DLLP"},
        {CheckKind::kInjectReplayTimeout, QORB_LAYER_DLL, "2", "1", "1", "3", "injected Replay Timer Timeout"},
        {CheckKind::kInjectReplayRollover, QORB_LAYER_DLL, "2", "1", "1", "4", "injected Replay Number Rollover"},
        {CheckKind::kInjectReceiverError, QORB_LAYER_PHY, "2", "1", "1", "1", "injected Receiver Error"},
        {CheckKind::kInjectUnsupportedRequest, QORB_LAYER_TXN, "2", "1", "1", "1", "injected Unsupported Request"},
        {CheckKind::kInjectCompletionTimeout, QORB_LAYER_TXN, "2", "1", "1", "2", "injected Completion Timeout"},
        {CheckKind::kInjectDlProtocol, QORB_LAYER_DLL, "2", "1", "1", "5", "injected Data Link Protocol Error"},
        {CheckKind::kInjectFcProtocol, QORB_LAYER_DLL, "2", "1", "1", "6", "injected Flow Control Protocol Error"},
    };
    return list;
}

const CheckDef& FindCheck(CheckKind kind)
{
    for (const CheckDef& def : Checklist())
        if (def.kind == kind)
            return def;
    return Checklist().front(); /* every kind is in the table */
}

_QORB_TEST_NUM_t TestNumber(const CheckDef& def)
{
    _QORB_TEST_NUM_t num;
    memset(&num, 0, sizeof num);
    num.layer = def.layer;
    snprintf(num.major, sizeof num.major, "%s", def.major);
    snprintf(num.minor, sizeof num.minor, "%s", def.minor);
    snprintf(num.item, sizeof num.item, "%s", def.item);
    snprintf(num.subitem, sizeof num.subitem, "%s", def.subitem);
    return num;
}

std::string CheckName(const CheckDef& def)
{
    static const char* const prefixes[] = {"PHY.", "PHYLINK.", "CFG.", "EM.", "SYS.", "DLL.", "TXN."};
    std::string prefix = def.layer < 7 ? prefixes[def.layer] : "";
    return prefix + def.major + "." + def.minor + "#" + def.item + "." + def.subitem;
}

const char* OutcomeWord(Outcome outcome)
{
    switch (outcome) {
    case Outcome::kPass: return "PASS";
    case Outcome::kFail: return "FAIL";
    case Outcome::kSkip: return "SKIP";
    }
    return "?";
}

unsigned CheckReport::Count(Outcome outcome) const
{
    unsigned n = 0;
    for (const CheckResult& r : m_results)
        n += r.outcome == outcome;
    return n;
}

std::string CheckReport::Summary() const
{
    return std::to_string(Count(Outcome::kPass)) + " passed, " + std::to_string(Count(Outcome::kFail)) +
           " failed, " + std::to_string(Count(Outcome::kSkip)) + " skipped";
}

std::string XmlEscape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            /* XML 1.0 has no place for other control characters. */
            if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t')
                out += '?';
            else
                out += c;
        }
    }
    return out;
}

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

} // namespace

std::string CheckReport::JUnitXml() const
{
    /* Suites in the order their DUTs first appear. */
    std::vector<std::string> duts;
    std::map<std::string, std::vector<const CheckResult*>> byDut;
    for (const CheckResult& r : m_results) {
        if (byDut.find(r.dut) == byDut.end())
            duts.push_back(r.dut);
        byDut[r.dut].push_back(&r);
    }
    double total = 0;
    for (const CheckResult& r : m_results)
        total += r.seconds;

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<testsuites name=\"qorb check\" tests=\"" + std::to_string(m_results.size()) + "\" failures=\"" +
           std::to_string(Count(Outcome::kFail)) + "\" skipped=\"" + std::to_string(Count(Outcome::kSkip)) +
           "\" errors=\"0\" time=\"" + Seconds(total) + "\">\n";
    for (const std::string& dut : duts) {
        const std::vector<const CheckResult*>& results = byDut[dut];
        unsigned failures = 0, skipped = 0;
        double time = 0;
        for (const CheckResult* r : results) {
            failures += r->outcome == Outcome::kFail;
            skipped += r->outcome == Outcome::kSkip;
            time += r->seconds;
        }
        out += "  <testsuite name=\"DUT " + XmlEscape(dut) + "\" tests=\"" + std::to_string(results.size()) +
               "\" failures=\"" + std::to_string(failures) + "\" skipped=\"" + std::to_string(skipped) +
               "\" errors=\"0\" time=\"" + Seconds(time) + "\">\n";
        for (const CheckResult* r : results) {
            const CheckDef& def = FindCheck(r->kind);
            out += "    <testcase classname=\"qorb.check\" name=\"" + XmlEscape(CheckName(def) + " " + def.title) +
                   "\" time=\"" + Seconds(r->seconds) + "\">\n";
            if (r->outcome == Outcome::kFail)
                out += "      <failure message=\"" + XmlEscape(r->message) + "\">" + XmlEscape(Joined(r->details)) +
                       "</failure>\n";
            else if (r->outcome == Outcome::kSkip)
                out += "      <skipped message=\"" + XmlEscape(r->message) + "\"/>\n";
            if (!r->details.empty() || r->outcome == Outcome::kPass)
                out += "      <system-out>" + XmlEscape(r->message + "\n" + Joined(r->details)) + "</system-out>\n";
            out += "    </testcase>\n";
        }
        out += "  </testsuite>\n";
    }
    out += "</testsuites>\n";
    return out;
}

} // namespace qorbcli
