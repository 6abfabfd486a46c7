/* The field-level rules of "qorb check" over one function's configuration
 * space, judged with the register model (qorb_common/reg_model.h): the
 * read-only rules on the bytes as read, and the write probes through an
 * access that reads and writes the live function. Every rule gives one
 * RuleResult, pass or fail, named "<structure>.<register>.<what>". */
#ifndef QORB_CLI_VERIFY_H
#define QORB_CLI_VERIFY_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include <qorb_common/reg_model.h>

#include "checklist.h"

namespace qorbcli {

/* Where the function sits, for the rule on its Device/Port Type. */
constexpr int kNoPortAbove = -2; /* on a root bus */
constexpr int kUnknownPosition = -3; /* not known: the rule is not evaluated */
struct RuleContext {
    /* The port type of the function above its link (-1: a function without
     * a PCI Express capability), kNoPortAbove or kUnknownPosition. */
    int portAbove = kUnknownPosition;
};

/* Every read-only rule on the bytes read from a function (64, 256 or 4096;
 * fewer leaves out what is not there). */
std::vector<RuleResult> ReadOnlyRules(const std::vector<uint8_t>& space, const RuleContext& context);

/* Configuration access of one function: each answers false when the
 * transfer failed. */
struct ConfigAccess {
    std::function<bool(uint32_t offset, uint32_t width, uint32_t* value)> read;
    std::function<bool(uint32_t offset, uint32_t width, uint32_t value)> write;
};

/* The write probes of every register of the structures the function has
 * (space: its bytes as read before): read-only, hardware-initialised and
 * reserved bits keep their value when written with their complement;
 * read-write fields take a value and give it back; write-one-to-clear bits
 * keep a 1 on a 0 and clear on a 1. Fields with side effects are never
 * written (only written back as read). Every register is restored. */
std::vector<RuleResult> WriteProbes(const std::vector<uint8_t>& space, const ConfigAccess& access);

/* Helpers shared by the rule files. */
namespace verify {
/* A rule's checklist name: "PCIE.LNKCAP" (with the entry of a repeated
 * register), then "." and what, then with bits the field's range:
 * "PCIE.LNKCAP.RSVD[31:23]". */
std::string RuleName(const qorb_regs::FieldAt& fa, const char* what, bool bits = false);
/* A result on the field appended to out, named by RuleName(fa, what, bits),
 * its message left for the caller. */
RuleResult& Add(std::vector<RuleResult>& out, const qorb_regs::FieldAt& fa, const char* what, bool bits, bool pass,
                uint32_t value);
/* "[9:4]" */
std::string Bits(unsigned lo, unsigned hi);
RuleResult Make(const qorb_regs::FieldAt& fa, std::string rule, bool pass, uint32_t value, std::string message);
uint32_t FieldValue(const qorb_regs::FieldAt& fa, uint32_t reg);
/* A rule on no single field of the model (lists, relations); the texts
 * structure, reg, field and section live as long as the program. */
RuleResult Plain(std::string rule, bool pass, const char* structure, const char* reg, const char* field,
                 uint32_t offset, unsigned lo, unsigned hi, uint32_t value, std::string message, const char* section);

/* A field of the function by structure tag, register tag and field name;
 * false when the function does not hold it. The three texts must live as
 * long as the program (literals, the model's tags): a lookup is resolved
 * once per set of texts. */
bool FindField(const qorb_regs::Function& f, const std::vector<qorb_regs::Placed>& placed, const char* structure,
               const char* reg, const char* field, qorb_regs::FieldAt* out);
const qorb_regs::Placed* FindPlaced(const std::vector<qorb_regs::Placed>& placed, const char* structure);

/* The rule families, each appending its results. */
void FieldRules(const qorb_regs::Function& f, const std::vector<qorb_regs::Placed>& placed,
                std::vector<RuleResult>& out);
void PcieRules(const qorb_regs::Function& f, const std::vector<qorb_regs::Placed>& placed, const RuleContext& context,
               std::vector<RuleResult>& out);
void CapabilityRules(const qorb_regs::Function& f, const std::vector<qorb_regs::Placed>& placed,
                     std::vector<RuleResult>& out);
} // namespace verify

} // namespace qorbcli

#endif
