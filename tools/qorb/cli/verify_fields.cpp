/* The read-only rules field by field: every reserved bit range reads 0, and
 * every encoded field holds a value its register defines. */
#include "verify.h"

#include <string.h>

#include <algorithm>
#include <charconv>
#include <functional>
#include <memory>

#include "names.h"

namespace qorbcli {
namespace verify {

using qorb_regs::FieldAt;

namespace {

/* A rule's name written into a buffer in one pass (a verifier run names
 * every rule it evaluates); its length, or size when it does not fit. */
size_t FormatRuleName(char* out, size_t size, const FieldAt& fa, const char* what, bool bits)
{
    char* at = out;
    char* const end = out + size;
    auto put = [&](const char* text) {
        while (*text && at < end)
            *at++ = *text++;
    };
    auto number = [&](unsigned n) {
        auto [next, ec] = std::to_chars(at, end, n);
        at = ec == std::errc() ? next : end;
    };
    put(fa.where->s->tag);
    put(".");
    put(fa.reg->tag);
    if (fa.reg->stride)
        number(fa.instance);
    put(".");
    put(what);
    if (bits) {
        put("[");
        number(fa.hi);
        put(":");
        number(fa.lo);
        put("]");
    }
    return static_cast<size_t>(at - out);
}

/* Where the result looked and what it saw, from the field. */
void Fill(RuleResult& r, const FieldAt& fa, bool pass, uint32_t value)
{
    r.verdict = pass ? Outcome::kPass : Outcome::kFail;
    r.structure = fa.where->s->name;
    r.reg = fa.reg->name;
    r.field = fa.name;
    r.offset = fa.offset;
    r.lo = fa.lo;
    r.hi = fa.hi;
    r.value = value;
    r.section = fa.where->s->section;
    if (fa.reg->stride)
        r.instance = static_cast<int>(fa.instance);
}

} // namespace

std::string RuleName(const FieldAt& fa, const char* what, bool bits)
{
    /* Room for the three texts, the separators and three numbers. */
    std::string name(strlen(fa.where->s->tag) + strlen(fa.reg->tag) + strlen(what) + 40, '\0');
    name.resize(FormatRuleName(name.data(), name.size(), fa, what, bits));
    return name;
}

RuleResult& Add(std::vector<RuleResult>& out, const FieldAt& fa, const char* what, bool bits, bool pass, uint32_t value)
{
    /* Filled where it stays, its name in place: a verifier run makes one
     * for every rule. */
    RuleResult& r = out.emplace_back();
    char name[96];
    if (size_t n = FormatRuleName(name, sizeof name, fa, what, bits); n < sizeof name)
        r.rule.Append(std::string_view(name, n));
    else
        r.rule = RuleName(fa, what, bits);
    Fill(r, fa, pass, value);
    return r;
}

std::string Bits(unsigned lo, unsigned hi) { return "[" + std::to_string(hi) + ":" + std::to_string(lo) + "]"; }

uint32_t FieldValue(const FieldAt& fa, uint32_t reg) { return (reg & fa.Mask()) >> fa.lo; }

RuleResult Plain(std::string rule, bool pass, const char* structure, const char* reg, const char* field,
                 uint32_t offset, unsigned lo, unsigned hi, uint32_t value, std::string message, const char* section)
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
    r.madeMessage = std::move(message);
    r.section = section;
    return r;
}

RuleResult Make(const FieldAt& fa, std::string rule, bool pass, uint32_t value, std::string message)
{
    RuleResult r;
    r.rule = rule;
    Fill(r, fa, pass, value);
    r.madeMessage = std::move(message);
    return r;
}

const qorb_regs::Placed* FindPlaced(const std::vector<qorb_regs::Placed>& placed, const char* structure)
{
    for (const qorb_regs::Placed& p : placed)
        if (strcmp(p.s->tag, structure) == 0)
            return &p;
    return nullptr;
}

namespace {

/* A field named by its texts, resolved against the model once: its
 * structure and the registers that carry the tag (a structure may hold one
 * tag at several offsets, one per layout). */
struct Resolved {
    const char *structure, *reg, *field;
    const qorb_regs::Structure* s;
    std::vector<const qorb_regs::Register*> regs;
};

const Resolved& Resolve(const char* structure, const char* reg, const char* field)
{
    /* Keyed by the texts' addresses: the rules name fields by literals and
     * the model's own tags, so the set stays as small as the rule files. */
    thread_local std::vector<std::unique_ptr<Resolved>> known;
    for (const auto& k : known)
        if (k->structure == structure && k->reg == reg && k->field == field)
            return *k;
    auto k = std::make_unique<Resolved>(Resolved{structure, reg, field, nullptr, {}});
    for (const qorb_regs::Structure& st : qorb_regs::Structures())
        if (strcmp(st.tag, structure) == 0) {
            k->s = &st;
            for (unsigned r = 0; r < st.count; ++r)
                if (strcmp(st.regs[r].tag, reg) == 0)
                    k->regs.push_back(&st.regs[r]);
        }
    known.push_back(std::move(k));
    return *known.back();
}

} // namespace

bool FindField(const qorb_regs::Function& f, const std::vector<qorb_regs::Placed>& placed, const char* structure,
               const char* reg, const char* field, FieldAt* out)
{
    const Resolved& k = Resolve(structure, reg, field);
    const qorb_regs::Placed* p = nullptr;
    for (const qorb_regs::Placed& q : placed)
        if (q.s == k.s) {
            p = &q;
            break;
        }
    bool found = false;
    for (const qorb_regs::Register* r : k.regs) {
        if (!p || found)
            break;
        qorb_regs::ForEachFieldOf(f, *p, *r, [&](const FieldAt& fa) {
            if (!found && strcmp(fa.name, field) == 0) {
                *out = fa;
                found = true;
            }
        });
    }
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

namespace {

/* The encodings by register of the model, found once, in the order of
 * their registers' addresses (looked up by register). */
struct EncodedRegister {
    const qorb_regs::Structure* s; /* structures may share a register table */
    const qorb_regs::Register* reg;
    const Encoding* encoding;
    std::string sentence; /* "Max Link Speed is a defined link speed (1 to 6)" */
};

const std::vector<EncodedRegister>& EncodedRegisters()
{
    static const std::vector<EncodedRegister> all = [] {
        std::vector<EncodedRegister> v;
        for (const Encoding& e : kEncodings)
            for (const Resolved& k = Resolve(e.structure, e.reg, e.field); const qorb_regs::Register* r : k.regs)
                v.push_back({k.s, r, &e, std::string(e.field) + " is " + e.what});
        std::stable_sort(v.begin(), v.end(), [](const EncodedRegister& a, const EncodedRegister& b) {
            return std::less<const qorb_regs::Register*>()(a.reg, b.reg);
        });
        return v;
    }();
    return all;
}

} // namespace

void FieldRules(const qorb_regs::Function& f, const std::vector<qorb_regs::Placed>& placed,
                std::vector<RuleResult>& out)
{
    const qorb_regs::Register* last = nullptr;
    const qorb_regs::Structure* lastStructure = nullptr;
    std::vector<const EncodedRegister*> encodings; /* those of the register last visited */
    for (const qorb_regs::Placed& p : placed)
        qorb_regs::ForEachField(f, p, [&](const FieldAt& fa) {
            if (qorb_regs::IsReserved(fa.attr)) {
                const uint32_t value = FieldValue(fa, f.Get(fa.offset, fa.reg->width));
                const char* what = fa.zeroRegister ? "the register is not implemented by this function and reads 0"
                                                   : "reserved bits read 0";
                RuleResult& r = Add(out, fa, "RSVD", true, value == 0, value);
                if (value == 0)
                    r.fixedMessage = what;
                else
                    r.madeMessage = what + (", but read " + Hex(value, 0));
                return;
            }
            if (fa.reg != last || fa.where->s != lastStructure) {
                last = fa.reg;
                lastStructure = fa.where->s;
                encodings.clear();
                const std::vector<EncodedRegister>& all = EncodedRegisters();
                auto er = std::lower_bound(all.begin(), all.end(), fa.reg,
                                           [](const EncodedRegister& e, const qorb_regs::Register* r) {
                                               return std::less<const qorb_regs::Register*>()(e.reg, r);
                                           });
                for (; er != all.end() && er->reg == fa.reg; ++er)
                    if (er->s == fa.where->s)
                        encodings.push_back(&*er);
            }
            if (encodings.empty())
                return;
            const uint32_t value = FieldValue(fa, f.Get(fa.offset, fa.reg->width));
            for (const EncodedRegister* er : encodings) {
                const Encoding* e = er->encoding;
                if (strcmp(e->field, fa.name) != 0 || IndicatorAbsent(f, fa))
                    continue;
                bool pass = value < 64 && (e->allowed >> value & 1);
                RuleResult& r = Add(out, fa, e->tag, false, pass, value);
                if (pass)
                    r.fixedMessage = er->sentence.c_str();
                else
                    r.madeMessage = er->sentence + ", but holds " + std::to_string(value);
            }
        });
}

} // namespace verify

std::vector<RuleResult> ReadOnlyRules(const std::vector<uint8_t>& space, const RuleContext& context)
{
    std::vector<RuleResult> out;
    out.reserve(128); /* a PCI Express endpoint with the usual capabilities gives about 100 */
    qorb_regs::Function f = qorb_regs::Describe(space.data(), static_cast<uint32_t>(space.size()));
    std::vector<qorb_regs::Placed> placed = qorb_regs::Place(f);
    verify::FieldRules(f, placed, out);
    verify::PcieRules(f, placed, context, out);
    verify::CapabilityRules(f, placed, out);
    return out;
}

} // namespace qorbcli
