/* The read-only rules field by field: every reserved bit range reads 0, and
 * every encoded field holds a value its register defines. */
#include "verify.h"

#include <string.h>

#include "names.h"

namespace qorbcli {
namespace verify {

using qorb_regs::FieldAt;

std::string RegisterTag(const FieldAt& fa)
{
    std::string tag = std::string(fa.where->s->tag) + "." + fa.reg->tag;
    if (fa.reg->stride)
        tag += std::to_string(fa.instance);
    return tag;
}

std::string Bits(unsigned lo, unsigned hi) { return "[" + std::to_string(hi) + ":" + std::to_string(lo) + "]"; }

uint32_t FieldValue(const FieldAt& fa, uint32_t reg) { return (reg & fa.Mask()) >> fa.lo; }

RuleResult Plain(const std::string& rule, bool pass, const std::string& structure, const std::string& reg,
                 const std::string& field, uint32_t offset, unsigned lo, unsigned hi, uint32_t value,
                 const std::string& message, const std::string& section)
{
    RuleResult r;
    r.rule = rule;
    r.verdict = pass ? Outcome::kPass : Outcome::kFail;
    r.structure = structure;
    r.reg = reg;
    r.field = field;
    r.offset = offset;
    r.lo = static_cast<uint8_t>(lo);
    r.hi = static_cast<uint8_t>(hi);
    r.value = value;
    r.message = message;
    r.section = section;
    return r;
}

RuleResult Make(const FieldAt& fa, const std::string& rule, bool pass, uint32_t value, const std::string& message)
{
    std::string reg = fa.reg->name;
    if (fa.reg->stride)
        reg += " (" + std::to_string(fa.instance) + ")";
    return Plain(rule, pass, fa.where->s->name, reg, fa.name, fa.offset, fa.lo, fa.hi, value, message,
                 fa.where->s->section);
}

const qorb_regs::Placed* FindPlaced(const std::vector<qorb_regs::Placed>& placed, const char* structure)
{
    for (const qorb_regs::Placed& p : placed)
        if (strcmp(p.s->tag, structure) == 0)
            return &p;
    return nullptr;
}

bool FindField(const qorb_regs::Function& f, const std::vector<qorb_regs::Placed>& placed, const char* structure,
               const char* reg, const char* field, FieldAt* out)
{
    const qorb_regs::Placed* p = FindPlaced(placed, structure);
    bool found = false;
    if (p)
        qorb_regs::ForEachField(f, *p, [&](const FieldAt& fa) {
            if (!found && strcmp(fa.reg->tag, reg) == 0 && strcmp(fa.name, field) == 0) {
                *out = fa;
                found = true;
            }
        });
    return found;
}

namespace {

/* An encoded field and the values it may hold (bit N of allowed: value N). */
struct Encoding {
    const char* structure;
    const char* reg;
    const char* field;
    const char* tag;
    uint64_t allowed;
    const char* what;
};

constexpr uint64_t Upto(unsigned n) { return (uint64_t(2) << n) - 1; }
constexpr uint64_t Values(std::initializer_list<unsigned> values)
{
    uint64_t m = 0;
    for (unsigned v : values)
        m |= uint64_t(1) << v;
    return m;
}
/* Link speeds 2.5 to 64 GT/s. */
constexpr uint64_t kSpeeds = Upto(6) & ~uint64_t(1);
constexpr uint64_t kWidths = Values({1, 2, 4, 8, 12, 16, 32});

const Encoding kEncodings[] = {
    {"HDR0", "MISC", "Header Layout", "LAYOUT", Values({0}), "a type 0 header"},
    {"HDR1", "MISC", "Header Layout", "LAYOUT", Values({1}), "a type 1 header"},
    {"PM", "PMC", "Version", "VER", Values({1, 2, 3}), "1, 2 or 3"},
    {"MSI", "CTRL", "Multiple Message Capable", "MMC", Upto(5), "at most 5 (32 vectors)"},
    {"MSI", "CTRL", "Multiple Message Enable", "MME", Upto(5), "at most 5 (32 vectors)"},
    {"PCIE", "FLAGS", "Capability Version", "VER", Values({1, 2}), "1 or 2"},
    {"PCIE", "FLAGS", "Device/Port Type", "TYPE", Values({0, 1, 4, 5, 6, 7, 8, 9, 10}), "a defined port type"},
    {"PCIE", "DEVCAP", "Max_Payload_Size Supported", "MPSS", Upto(5), "at most 5 (4096 bytes)"},
    {"PCIE", "DEVCTL", "Max_Payload_Size", "MPS", Upto(5), "at most 5 (4096 bytes)"},
    {"PCIE", "DEVCTL", "Max_Read_Request_Size", "MRRS", Upto(5), "at most 5 (4096 bytes)"},
    {"PCIE", "LNKCAP", "Max Link Speed", "MLS", kSpeeds, "a defined link speed (1 to 6)"},
    {"PCIE", "LNKCAP", "Maximum Link Width", "MLW", kWidths, "x1, x2, x4, x8, x12, x16 or x32"},
    {"PCIE", "LNKSTA", "Negotiated Link Width", "NLW", kWidths | 1, "x1, x2, x4, x8, x12, x16, x32 or 0 (no link)"},
    {"PCIE", "DEVCTL2", "Completion Timeout Value", "CTV", Values({0, 1, 2, 5, 6, 9, 10, 13, 14}), "a defined range"},
    {"PCIE", "SLTCTL", "Attention Indicator Control", "AIC", Values({1, 2, 3}), "On, Blink or Off"},
    {"PCIE", "SLTCTL", "Power Indicator Control", "PIC", Values({1, 2, 3}), "On, Blink or Off"},
    {"AER", "CAP", "First Error Pointer", "FEP", Upto(31), "a bit of Uncorrectable Error Status"},
    {"VC", "RESCTL0", "TC/VC Map (TC0)", "TC0", Values({1}), "1: VC0 carries TC0"},
    {"VC", "RESCTL0", "VC ID", "VCID", Values({0}), "0 for VC0"},
    {"VC", "RESCTL0", "VC Enable", "VCEN", Values({1}), "1: VC0 is always enabled"},
    {"LTR", "LAT", "Max Snoop LatencyScale", "SNOOPSCALE", Upto(5), "at most 5 (2^25 ns)"},
    {"LTR", "LAT", "Max No-Snoop LatencyScale", "NOSNOOPSCALE", Upto(5), "at most 5 (2^25 ns)"},
    {"L1SS", "CAP", "Port T_POWER_ON Scale", "TPOSCALE", Upto(2), "2 us, 10 us or 100 us"},
    {"L1SS", "CTL2", "T_POWER_ON Scale", "TPOSCALE", Upto(2), "2 us, 10 us or 100 us"},
    {"L1SS", "CTL1", "LTR_L1.2_THRESHOLD_Scale", "THSCALE", Upto(5), "at most 5 (2^25 ns)"},
    {"PB", "CAP", "System Allocated", "SYSALLOC", Upto(1), "0 or 1"},
    {"REBAR", "CTL", "BAR Index", "BARIDX", Upto(5), "BAR 0 to 5"},
};

/* Slot Control's indicators read as the slot shows them; an absent
 * indicator leaves its field at 0 and the rule does not apply. */
bool IndicatorAbsent(const qorb_regs::Function& f, const FieldAt& fa)
{
    if (strcmp(fa.reg->tag, "SLTCTL") != 0)
        return false;
    uint32_t sltcap = f.Get(fa.where->base + 0x14, 4);
    bool attention = strstr(fa.name, "Attention");
    return !(sltcap & (attention ? 0x8u : 0x10u));
}

} // namespace

void FieldRules(const qorb_regs::Function& f, const std::vector<qorb_regs::Placed>& placed,
                std::vector<RuleResult>& out)
{
    for (const qorb_regs::Placed& p : placed)
        qorb_regs::ForEachField(f, p, [&](const FieldAt& fa) {
            uint32_t value = FieldValue(fa, f.Get(fa.offset, fa.reg->width));
            if (qorb_regs::IsReserved(fa.attr)) {
                std::string what = fa.zeroRegister ? "the register is not implemented by this function and reads 0"
                                                   : "reserved bits read 0";
                out.push_back(Make(fa, RegisterTag(fa) + ".RSVD" + Bits(fa.lo, fa.hi), value == 0, value,
                                   value == 0 ? what : what + ", but read " + Hex(value, 0)));
                return;
            }
            for (const Encoding& e : kEncodings) {
                if (strcmp(e.structure, fa.where->s->tag) != 0 || strcmp(e.reg, fa.reg->tag) != 0 ||
                    strcmp(e.field, fa.name) != 0 || IndicatorAbsent(f, fa))
                    continue;
                bool pass = value < 64 && (e.allowed >> value & 1);
                std::string tag = RegisterTag(fa) + "." + e.tag;
                out.push_back(Make(fa, tag, pass, value,
                                   std::string(fa.name) + " is " + e.what +
                                       (pass ? "" : ", but holds " + std::to_string(value))));
            }
        });
}

} // namespace verify

std::vector<RuleResult> ReadOnlyRules(const std::vector<uint8_t>& space, const RuleContext& context)
{
    std::vector<RuleResult> out;
    qorb_regs::Function f = qorb_regs::Describe(space.data(), static_cast<uint32_t>(space.size()));
    std::vector<qorb_regs::Placed> placed = qorb_regs::Place(f);
    verify::FieldRules(f, placed, out);
    verify::PcieRules(f, placed, context, out);
    verify::CapabilityRules(f, placed, out);
    return out;
}

} // namespace qorbcli
