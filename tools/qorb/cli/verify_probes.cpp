/* The write probes: each register of each structure the register model
 * knows, written through the live access and read back (PCI Express Base
 * Specification, section 7.4, register attributes). A register is written
 * at its own width, so that no neighbour is touched; fields with side
 * effects are written back as they were read; write-one-to-clear bits not
 * under test are written 0. Every probe ends by writing the register back
 * as it was. */
#include "verify.h"

#include "names.h"

namespace qorbcli {

namespace {

using qorb_regs::FieldAt;

struct Masks {
    uint32_t readOnly = 0; /* compared after the complement is written */
    uint32_t rw1c = 0; /* all write-one-to-clear bits: written 0 */
};

class Prober {
public:
    Prober(const ConfigAccess& access, std::vector<RuleResult>& out) : m_access(access), m_out(out) { }

    /* One register: its fields as the model gives them. */
    void Register(const std::vector<FieldAt>& fields)
    {
        const FieldAt& first = fields.front();
        const uint32_t at = first.offset, width = first.reg->width;
        uint32_t original = 0;
        if (!m_access.read(at, width, &original))
            return;
        Masks m;
        for (const FieldAt& fa : fields) {
            if (qorb_regs::IsReadOnly(fa.attr) && !(fa.flags & qorb_regs::kVolatile))
                m.readOnly |= fa.Mask();
            if (qorb_regs::IsWriteOneToClear(fa.attr))
                m.rw1c |= fa.Mask();
        }
        const uint32_t base = original & ~m.rw1c;
        if (m.readOnly)
            ReadOnlyProbe(fields, at, width, original, base, m);
        for (const FieldAt& fa : fields) {
            if (fa.flags & qorb_regs::kSideEffect)
                continue;
            if (qorb_regs::IsReadWrite(fa.attr))
                ReadWriteProbe(fa, at, width, base);
            else if (qorb_regs::IsWriteOneToClear(fa.attr))
                WriteOneToClearProbe(fa, at, width, original, base);
        }
    }

private:
    bool Write(uint32_t at, uint32_t width, uint32_t value) { return m_access.write(at, width, value & Full(width)); }
    uint32_t Read(uint32_t at, uint32_t width)
    {
        uint32_t v = 0;
        return m_access.read(at, width, &v) ? v : ~0u;
    }
    static uint32_t Full(uint32_t width) { return width >= 4 ? ~0u : (1u << (8 * width)) - 1; }

    void Restore(uint32_t at, uint32_t width, uint32_t base) { Write(at, width, base); }

    void ReadOnlyProbe(const std::vector<FieldAt>& fields, uint32_t at, uint32_t width, uint32_t original,
                       uint32_t base, const Masks& m)
    {
        bool written = Write(at, width, base ^ m.readOnly);
        uint32_t after = Read(at, width);
        Restore(at, width, base);
        uint32_t changed = (after ^ original) & m.readOnly;
        const FieldAt* culprit = nullptr;
        std::string names;
        for (const FieldAt& fa : fields)
            if (changed & fa.Mask() && qorb_regs::IsReadOnly(fa.attr)) {
                culprit = culprit ? culprit : &fa;
                names += std::string(names.empty() ? "" : ", ") + fa.name + " " + Bits(fa);
            }
        const FieldAt& report = culprit ? *culprit : fields.front();
        std::string rule = verify::RuleName(report, "RO");
        RuleResult r = verify::Make(report, rule, written && !changed, after & Full(width), "");
        if (!culprit) {
            r.field = "read-only, hardware-initialised and reserved fields";
            r.lo = 0;
            r.hi = static_cast<uint8_t>(8 * width - 1);
        }
        r.SetMessage(!written ? "the write was refused"
                         : changed
                         ? "written with the complement of its read-only bits (" + Hex(base ^ m.readOnly, 0) + "), " +
                             names + " changed: " + Hex(original, 0) + " became " + Hex(after, 0)
                         : "the complement of the read-only bits " + Hex(m.readOnly, 0) + " left them unchanged");
        m_out.push_back(r);
    }

    void ReadWriteProbe(const FieldAt& fa, uint32_t at, uint32_t width, uint32_t base)
    {
        const uint32_t mask = fa.Mask(), want = (base ^ mask) & mask;
        bool written = Write(at, width, base ^ mask);
        uint32_t after = Read(at, width);
        Restore(at, width, base);
        uint32_t restored = Read(at, width);
        bool took = (after & mask) == want, kept = (after & mask) == (base & mask);
        bool back = (restored & mask) == (base & mask);
        /* An optional feature may be hardwired: the field then keeps its value. */
        bool pass = written && back && (took || ((fa.flags & qorb_regs::kOptional) && kept));
        std::string message = !written ? "the write was refused"
            : !back                    ? "the original value was not restored"
            : took                     ? "took " + Hex(want >> fa.lo, 0) + " and was restored"
            : pass                     ? "kept its value: the optional feature is hardwired"
                   : "written " + Hex(want >> fa.lo, 0) + " but read back " + Hex(verify::FieldValue(fa, after), 0);
        m_out.push_back(
            verify::Make(fa, verify::RuleName(fa, "RW", true), pass, verify::FieldValue(fa, after), message));
    }

    void WriteOneToClearProbe(const FieldAt& fa, uint32_t at, uint32_t width, uint32_t original, uint32_t base)
    {
        const uint32_t mask = fa.Mask(), set = original & mask;
        bool written = Write(at, width, base); /* a 0 to every write-one-to-clear bit */
        uint32_t afterZero = Read(at, width);
        written = Write(at, width, base | mask) && written;
        uint32_t afterOne = Read(at, width);
        Restore(at, width, base);
        bool keptOnZero = (afterZero & mask) == set, clearedOnOne = (afterOne & mask) == 0;
        bool pass = written && keptOnZero && clearedOnOne;
        std::string message = !written ? "the write was refused"
            : !keptOnZero              ? "a 0 written changed it to " + Hex(verify::FieldValue(fa, afterZero), 0)
            : !clearedOnOne ? "a 1 written did not clear it: it reads " + Hex(verify::FieldValue(fa, afterOne), 0)
            : set           ? "a 0 left it set and a 1 cleared it"
                            : "clear, and a 1 written left it clear";
        m_out.push_back(
            verify::Make(fa, verify::RuleName(fa, "RW1C", true), pass, verify::FieldValue(fa, afterOne), message));
    }

    static std::string Bits(const FieldAt& fa) { return verify::Bits(fa.lo, fa.hi); }

    const ConfigAccess& m_access;
    std::vector<RuleResult>& m_out;
};

} // namespace

std::vector<RuleResult> WriteProbes(const std::vector<uint8_t>& space, const ConfigAccess& access)
{
    std::vector<RuleResult> out;
    qorb_regs::Function f = qorb_regs::Describe(space.data(), static_cast<uint32_t>(space.size()));
    std::vector<qorb_regs::Placed> placed = qorb_regs::Place(f);
    Prober prober(access, out);
    for (const qorb_regs::Placed& p : placed) {
        std::vector<FieldAt> fields;
        qorb_regs::ForEachField(f, p, [&](const FieldAt& fa) {
            if (!fields.empty() && fields.front().offset != fa.offset) {
                prober.Register(fields);
                fields.clear();
            }
            fields.push_back(fa);
        });
        if (!fields.empty())
            prober.Register(fields);
    }
    return out;
}

} // namespace qorbcli
