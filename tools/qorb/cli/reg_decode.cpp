/* The register model's decoding of a structure: no table of its own, the
 * model's registers and fields as they apply to the function. */
#include "reg_decode.h"

#include <algorithm>
#include <utility>

#include <qorb_common/reg_model.h>

#include "names.h"

namespace qorbcli {

namespace {

std::string Bits(const qorb_regs::FieldAt& fa)
{
    return "[" + (fa.hi == fa.lo ? "" : std::to_string(fa.hi) + ":") + std::to_string(fa.lo) + "]";
}

std::string RegisterLine(const qorb_regs::FieldAt& fa, uint32_t raw)
{
    const qorb_regs::Register& r = *fa.reg;
    std::string name = r.name;
    if (r.cond == qorb_regs::Cond::kRebar || r.cond == qorb_regs::Cond::kLanes)
        name += " (" + std::string(r.cond == qorb_regs::Cond::kLanes ? "lane " : "entry ") +
            std::to_string(fa.instance) + ")";
    return "[" + Hex(fa.offset, 3) + "] " + r.tag + " " + name + ": " + Hex(raw, r.width * 2);
}

} // namespace

std::vector<std::string> DecodeModelRegisters(const std::vector<uint8_t>& image, bool extended, uint16_t offset)
{
    using qorb_regs::Space;
    const qorb_regs::Function f = qorb_regs::Describe(image.data(), static_cast<uint32_t>(image.size()));
    const Space space = extended ? Space::kExtended : offset ? Space::kLegacy : Space::kHeader;
    std::vector<std::string> out;
    for (const qorb_regs::Placed& p : qorb_regs::Place(f)) {
        if (p.s->space != space || p.base != offset)
            continue;
        out.push_back(std::string(p.s->name) + ", section " + p.s->section);
        /* A register's fields come named first, then its reserved runs:
         * shown in bit order. */
        std::vector<std::pair<unsigned, std::string>> fields;
        auto flush = [&] {
            std::stable_sort(fields.begin(), fields.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            for (const auto& field : fields)
                out.push_back(field.second);
            fields.clear();
        };
        uint32_t lastAt = ~0u;
        qorb_regs::ForEachField(f, p, [&](const qorb_regs::FieldAt& fa) {
            const uint32_t raw = f.Get(fa.offset, fa.reg->width);
            if (fa.offset != lastAt) {
                flush();
                out.push_back(RegisterLine(fa, raw));
            }
            lastAt = fa.offset;
            const uint32_t value = (raw & fa.Mask()) >> fa.lo;
            if (qorb_regs::IsReserved(fa.attr) && value == 0)
                return;
            std::string shown = fa.hi == fa.lo ? std::to_string(value) : "0x" + Hex(value, 1);
            fields.emplace_back(fa.lo,
                                "\t" + Bits(fa) + " " + fa.name + "=" + shown + " " + qorb_regs::AttrName(fa.attr));
        });
        flush();
    }
    return out;
}

} // namespace qorbcli
