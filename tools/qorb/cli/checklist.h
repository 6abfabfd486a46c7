/* The checklist that "qorb check" runs, and the bookkeeping of its results:
 * every check has a checklist name (the _QORB_TEST_NUM_t logged with each
 * assertion), and every run of a check on one DUT gives one result that goes
 * to the console, the logs and the JUnit report. */
#ifndef QORB_CLI_CHECKLIST_H
#define QORB_CLI_CHECKLIST_H

#include <stdint.h>

#include <string>
#include <vector>

#include <qorb/qorb_types.h>

namespace qorbcli {

enum class CheckKind {
    kPresent, /* the DUT of the platform file is found */
    kHeader, /* configuration header sanity */
    kCapList, /* capability list integrity */
    kPcieCap, /* PCI Express capability, link width and speed */
    kRegisterRules, /* the read-only rules of every register (verify.h) */
    kWriteProbes, /* the write probes of every register, with --writes */
    kAerClear, /* AER status clear at start */
    kRetrain, /* link retrain */
    kDisableEnable, /* link disable and enable */
    kInjectBadTlp, /* the test card's error injections, one check each */
    kInjectBadDllp,
    kInjectReplayTimeout,
    kInjectReplayRollover,
    kInjectReceiverError,
    kInjectUnsupportedRequest,
    kInjectCompletionTimeout,
    kInjectDlProtocol,
    kInjectFcProtocol,
};

struct CheckDef {
    CheckKind kind;
    _QORB_LAYER_t layer;
    const char* major;
    const char* minor;
    const char* item;
    const char* subitem;
    const char* title;
};

/* Every check, in the order "qorb check" runs them. */
const std::vector<CheckDef>& Checklist();
const CheckDef& FindCheck(CheckKind kind);

/* The assertion record logged for a check. */
_QORB_TEST_NUM_t TestNumber(const CheckDef& def);
/* Its name as the XML log prints it: "CFG.1.2#1.1". */
std::string CheckName(const CheckDef& def);

enum class Outcome { kPass, kFail, kSkip };
const char* OutcomeWord(Outcome outcome); /* "PASS", "FAIL", "SKIP" */
const char* OutcomeName(Outcome outcome); /* "pass", "fail", "skip": JSON verdicts and HTML classes */

/* One field-level rule evaluated on one DUT: where it looked, what it saw,
 * and the verdict. A check (one line of the console) gathers many. */
struct RuleResult {
    std::string rule; /* checklist name, e.g. "PCIE.LNKCAP.MLS" */
    Outcome verdict = Outcome::kPass;
    std::string structure; /* "PCI Express", "Type 0 header", ... */
    std::string reg; /* "Link Capabilities" */
    std::string field; /* "Max Link Speed" */
    uint32_t offset = 0; /* the register's offset in configuration space */
    uint8_t lo = 0, hi = 31; /* the field's bit range in the register */
    uint32_t value = 0; /* the field's value as read */
    std::string message; /* the rule in a sentence, or what broke it */
    std::string section; /* its section of the PCI Express Base Specification, e.g. "7.5.3.6" */
};

/* One entry of the test card's trace, kept with an injection check so that
 * the reports can show what the card saw on the link. */
struct TraceEvent {
    uint32_t micros = 0; /* the entry's time stamp */
    unsigned kind = 0; /* 0-2 TLP, 3 DLLP, 4-7 card events */
    std::string text; /* the decoded entry */
};

struct CheckResult {
    CheckKind kind;
    std::string dut;                  /* "01:00.0", or the DUT entry when not found */
    Outcome outcome = Outcome::kPass;
    std::string message;              /* one line: what passed, failed, or why skipped */
    std::vector<std::string> details; /* findings and measurements, one a line */
    std::vector<RuleResult> rules; /* the field-level rules behind the verdict, when it has them */
    std::vector<TraceEvent> trace; /* injection checks: the card's trace of the injection */
    double seconds = 0;
};

class CheckReport {
public:
    void Add(CheckResult result) { m_results.push_back(std::move(result)); }
    const std::vector<CheckResult>& Results() const { return m_results; }
    unsigned Count(Outcome outcome) const;
    /* True when no check failed (skipped checks do not fail a run). */
    bool Passed() const { return Count(Outcome::kFail) == 0; }
    /* "N passed, N failed, N skipped". */
    std::string Summary() const;
    /* The results as a JUnit XML report: one test suite per DUT, one test
     * case per check, <failure> and <skipped> with the message. */
    std::string JUnitXml() const;

private:
    std::vector<CheckResult> m_results;
};

/* Text with the five XML special characters escaped. */
std::string XmlEscape(const std::string& text);

} // namespace qorbcli

#endif
