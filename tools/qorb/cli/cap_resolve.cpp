/* The decoder's fields located through the register model: a field names a
 * register of its capability's structure and one of its fields, and takes
 * the register's offset and the field's bits from there, so lspci's lines
 * and the verifier read the same bits. */
#include <string.h>

#include <qorb_common/reg_model.h>

#include "cap_decode.h"

namespace qorbcli {

namespace {

using qorb_regs::Cond;

/* Registers that share a tag in different layouts (MSI's Message Data,
 * Mask and Pending Bits with and without 64-bit addresses): the layout the
 * field's condition names selects one. */
bool Fits(Cond cond, FieldWhen when)
{
    switch (when) {
    case FieldWhen::kMsi32:
        return cond == Cond::kAlways || cond == Cond::kMsi32 || cond == Cond::kMsi32Mask;
    case FieldWhen::kMsi64:
        return cond == Cond::kAlways || cond == Cond::kMsi64 || cond == Cond::kMsi64Mask;
    default:
        return true;
    }
}

/* The field by name; a name the register gives twice (by port type) must
 * mean the same bits. */
const qorb_regs::Field* FindField(const qorb_regs::Register& reg, const char* name, bool* ambiguous)
{
    const qorb_regs::Field* found = nullptr;
    for (unsigned k = 0; k < reg.count; ++k) {
        const qorb_regs::Field& f = reg.fields[k];
        if (strcmp(f.name, name) != 0)
            continue;
        if (found && (found->lo != f.lo || found->hi != f.hi))
            *ambiguous = true;
        found = found ? found : &f;
    }
    return found;
}

/* The named, not reserved field that holds the bit. */
const qorb_regs::Field* FieldAt(const qorb_regs::Register& reg, unsigned bit)
{
    for (unsigned k = 0; k < reg.count; ++k) {
        const qorb_regs::Field& f = reg.fields[k];
        if (f.lo <= bit && bit <= f.hi && !qorb_regs::IsReserved(f.attr))
            return &f;
    }
    return nullptr;
}

bool Resolve(const qorb_regs::Structure& s, FieldWhen when, const ModelRef& ref, Field& out)
{
    const qorb_regs::Register* reg = nullptr;
    for (unsigned r = 0; r < s.count; ++r) {
        if (strcmp(s.regs[r].tag, ref.reg) != 0 || !Fits(s.regs[r].cond, when))
            continue;
        if (reg)
            return false;
        reg = &s.regs[r];
    }
    if (!reg)
        return false;
    const unsigned bits = reg->width * 8u;
    unsigned lo = 0, hi = bits - 1;
    if (ref.field) {
        bool ambiguous = false;
        const qorb_regs::Field* first = FindField(*reg, ref.field, &ambiguous);
        const qorb_regs::Field* last = ref.last ? FindField(*reg, ref.last, &ambiguous) : first;
        if (!first || !last || ambiguous || (ref.last && last->lo <= first->hi))
            return false;
        lo = first->lo;
        hi = last->hi;
    } else if (ref.bit >= 0 && !FieldAt(*reg, static_cast<unsigned>(ref.bit))) {
        return false;
    }
    if (ref.bit >= 0) {
        if (static_cast<unsigned>(ref.bit) > hi - lo)
            return false;
        lo = hi = lo + static_cast<unsigned>(ref.bit);
    }
    out.at = reg->offset;
    out.lo = static_cast<uint8_t>(lo);
    out.hi = static_cast<uint8_t>(hi);
    return true;
}

} // namespace

void ResolveFields(CapDecoder& decoder)
{
    using qorb_regs::Space;
    const qorb_regs::Structure* s =
        qorb_regs::FindStructure(decoder.extended ? Space::kExtended : Space::kLegacy, decoder.id);
    for (FieldLine& line : decoder.lines)
        for (Field& f : line.fields)
            if (f.ref.reg)
                f.resolved = s && Resolve(*s, f.when != FieldWhen::kAlways ? f.when : line.when, f.ref, f);
}

} // namespace qorbcli
