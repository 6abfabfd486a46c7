/* The register model's decoding of a structure: no table of its own, the
 * model's registers and fields as they apply to the function. */
#include "reg_decode.h"

#include <algorithm>

#include <qorb_common/reg_model.h>

#include "names.h"

namespace qorbcli {

namespace {

std::string Bits(const DecodedField& f)
{
    return "[" + (f.hi == f.lo ? "" : std::to_string(f.hi) + ":") + std::to_string(f.lo) + "]";
}

std::string RegisterLine(const DecodedRegister& d)
{
    const qorb_regs::Register& r = *d.reg;
    std::string name = r.name;
    if (r.cond == qorb_regs::Cond::kRebar || r.cond == qorb_regs::Cond::kLanes)
        name += " (" + std::string(r.cond == qorb_regs::Cond::kLanes ? "lane " : "entry ") +
            std::to_string(d.instance) + ")";
    return "[" + Hex(d.offset, 3) + "] " + r.tag + " " + name + ": " + Hex(d.value, r.width * 2);
}

} // namespace

std::vector<DecodedRegister> DecodeRegisters(const std::vector<uint8_t>& image)
{
    const qorb_regs::Function f = qorb_regs::Describe(image.data(), static_cast<uint32_t>(image.size()));
    std::vector<DecodedRegister> out;
    for (const qorb_regs::Placed& p : qorb_regs::Place(f))
        qorb_regs::ForEachField(f, p, [&](const qorb_regs::FieldAt& fa) {
            if (out.empty() || out.back().structure != p.s || out.back().offset != fa.offset)
                out.push_back({p.s, p.base, fa.reg, fa.instance, fa.offset, f.Get(fa.offset, fa.reg->width), {}});
            const uint32_t value = (out.back().value & fa.Mask()) >> fa.lo;
            if (!qorb_regs::IsReserved(fa.attr) || value != 0)
                out.back().fields.push_back({fa.name, fa.lo, fa.hi, value, fa.attr});
        });
    /* A register's fields come named first, then its reserved runs. */
    for (DecodedRegister& d : out)
        std::stable_sort(d.fields.begin(), d.fields.end(),
                         [](const DecodedField& a, const DecodedField& b) { return a.lo < b.lo; });
    return out;
}

std::vector<std::string> DecodeModelRegisters(const std::vector<uint8_t>& image, bool extended, uint16_t offset)
{
    using qorb_regs::Space;
    const Space space = extended ? Space::kExtended : offset ? Space::kLegacy : Space::kHeader;
    std::vector<std::string> out;
    for (const DecodedRegister& d : DecodeRegisters(image)) {
        if (d.structure->space != space || d.base != offset)
            continue;
        if (out.empty())
            out.push_back(std::string(d.structure->name) + ", section " + d.structure->section);
        out.push_back(RegisterLine(d));
        for (const DecodedField& field : d.fields) {
            std::string shown = field.hi == field.lo ? std::to_string(field.value) : "0x" + Hex(field.value, 1);
            out.push_back("\t" + Bits(field) + " " + field.name + "=" + shown + " " + qorb_regs::AttrName(field.attr));
        }
    }
    return out;
}

} // namespace qorbcli
