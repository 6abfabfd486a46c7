/* Checklist table and results. */
#include "checklist.h"

#include <stdio.h>
#include <string.h>

namespace qorbcli {

/* The text and console logs print a checklist name without its layer, and
 * the console log without its subitem ("CFG 4.2.1"): major, minor and item
 * together name one check of the whole list, so every log line says which
 * check it belongs to. */
const std::vector<CheckDef>& Checklist()
{
    static const std::vector<CheckDef> list = {
        {CheckKind::kPresent, QORB_LAYER_CFG, "1", "1", "1", "1", "DUT present"},
        {CheckKind::kHeader, QORB_LAYER_CFG, "1", "2", "1", "1", "configuration header"},
        {CheckKind::kCapList, QORB_LAYER_CFG, "1", "3", "1", "1", "capability lists"},
        {CheckKind::kPcieCap, QORB_LAYER_CFG, "1", "4", "1", "1", "PCI Express capability and link"},
        {CheckKind::kRegisterRules, QORB_LAYER_CFG, "1", "5", "1", "1", "register rules"},
        {CheckKind::kWriteProbes, QORB_LAYER_CFG, "1", "6", "1", "1", "register write probes"},
        {CheckKind::kAerClear, QORB_LAYER_EM, "2", "1", "1", "1", "AER status clear at start"},
        {CheckKind::kRetrain, QORB_LAYER_PHYLINK, "3", "1", "1", "1", "link retrain"},
        {CheckKind::kDisableEnable, QORB_LAYER_PHYLINK, "3", "2", "1", "1", "link disable and enable"},
        {CheckKind::kInjectBadTlp, QORB_LAYER_DLL, "4", "1", "1", "1", "injected Bad TLP"},
        {CheckKind::kInjectBadDllp, QORB_LAYER_DLL, "4", "2", "1", "1", "injected Bad DLLP"},
        {CheckKind::kInjectReplayTimeout, QORB_LAYER_DLL, "4", "3", "1", "1", "injected Replay Timer Timeout"},
        {CheckKind::kInjectReplayRollover, QORB_LAYER_DLL, "4", "4", "1", "1", "injected Replay Number Rollover"},
        {CheckKind::kInjectReceiverError, QORB_LAYER_PHY, "4", "5", "1", "1", "injected Receiver Error"},
        {CheckKind::kInjectUnsupportedRequest, QORB_LAYER_TXN, "4", "6", "1", "1", "injected Unsupported Request"},
        {CheckKind::kInjectCompletionTimeout, QORB_LAYER_TXN, "4", "7", "1", "1", "injected Completion Timeout"},
        {CheckKind::kInjectDlProtocol, QORB_LAYER_DLL, "4", "8", "1", "1", "injected Data Link Protocol Error"},
        {CheckKind::kInjectFcProtocol, QORB_LAYER_DLL, "4", "9", "1", "1", "injected Flow Control Protocol Error"},
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

const char* OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::kPass:
        return "pass";
    case Outcome::kFail:
        return "fail";
    case Outcome::kSkip:
        return "skip";
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

} // namespace qorbcli
