/* The checklist that "qorb check" runs, and the bookkeeping of its results:
 * every check has a checklist name (the _QORB_TEST_NUM_t logged with each
 * assertion), and every run of a check on one DUT gives one result that goes
 * to the console, the logs and the JUnit report. */
#ifndef QORB_CLI_CHECKLIST_H
#define QORB_CLI_CHECKLIST_H

#include <stdint.h>

#include <string>
#include <string_view>
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

/* A rule's checklist name, held in its result: up to kInline characters
 * (every name the verifier makes: "SECPCI.LANEEQ15.RSVD[15:8]") without an
 * allocation, longer ones whole on the heap. The verifier makes one for
 * every rule it evaluates. */
class RuleName {
public:
    RuleName() = default;
    RuleName(std::string_view text) { Append(text); }
    RuleName(const char* text) : RuleName(std::string_view(text)) { }
    RuleName(const std::string& text) : RuleName(std::string_view(text)) { }

    RuleName& Append(std::string_view text)
    {
        if (m_long.empty() && m_size + text.size() <= kInline) {
            text.copy(m_inline + m_size, text.size());
            m_size = static_cast<uint8_t>(m_size + text.size());
        } else {
            if (m_long.empty())
                m_long.assign(m_inline, m_size);
            m_long += text;
        }
        return *this;
    }
    RuleName& operator+=(std::string_view text) { return Append(text); }

    std::string_view View() const { return m_long.empty() ? std::string_view(m_inline, m_size) : m_long; }
    operator std::string_view() const { return View(); }
    std::string Str() const { return std::string(View()); }

    friend bool operator==(const RuleName& a, std::string_view b) { return a.View() == b; }
    friend std::string operator+(const RuleName& a, std::string_view b) { return a.Str().append(b); }
    friend std::string operator+(std::string_view a, const RuleName& b) { return std::string(a).append(b.View()); }

private:
    static constexpr size_t kInline = 39;
    char m_inline[kInline] = {};
    uint8_t m_size = 0;
    std::string m_long;
};

/* One field-level rule evaluated on one DUT: where it looked, what it saw,
 * and the verdict. A check (one line of the console) gathers many. The
 * names of where it looked are texts of the register model, which live as
 * long as the program: a verifier run makes only the rule's name and its
 * message. */
struct RuleResult {
    RuleName rule; /* checklist name, e.g. "PCIE.LNKCAP.MLS" */
    Outcome verdict = Outcome::kPass;
    const char* structure = ""; /* "PCI Express", "Type 0 header", ... */
    const char* reg = ""; /* "Link Capabilities" */
    const char* field = ""; /* "Max Link Speed" */
    uint32_t offset = 0; /* the register's offset in configuration space */
    uint8_t lo = 0, hi = 31; /* the field's bit range in the register */
    uint32_t value = 0; /* the field's value as read */
    /* The rule in a sentence, or what broke it (Message()): a text of the
     * program's own, such as the sentence of a rule that passed, is kept as
     * it is (fixedMessage); one made for this result is madeMessage. */
    const char* fixedMessage = nullptr;
    const char* section = ""; /* its section of the PCI Express Base Specification, e.g. "7.5.3.6" */
    int instance = -1; /* which entry of a repeated register (Resizable BAR, lanes); -1: not repeated */
    std::string madeMessage;

    std::string Message() const { return fixedMessage ? std::string(fixedMessage) : madeMessage; }
    void SetMessage(std::string message)
    {
        madeMessage = std::move(message);
        fixedMessage = nullptr;
    }

    /* The register's name, with the entry of a repeated one: "Resizable BAR Control (2)". */
    std::string RegisterName() const
    {
        return instance < 0 ? std::string(reg) : std::string(reg) + " (" + std::to_string(instance) + ")";
    }
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
