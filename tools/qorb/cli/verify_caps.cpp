/* The read-only rules on the capability lists and on the structures as a
 * whole: list integrity, versions, extents, port types, and the relations
 * between a capability and the registers it refers to (BARs, Device
 * Capabilities 2, Link Capabilities). */
#include "verify.h"

#include <string.h>

#include <algorithm>

#include "names.h"

namespace qorbcli {
namespace verify {

using qorb_regs::FieldAt;
using qorb_regs::Placed;

namespace {

const char* EndText(qorb_caps::End end)
{
    switch (end) {
    case qorb_caps::End::kEnd:
    case qorb_caps::End::kNoList:
        return "the list ends with a next pointer of 0";
    case qorb_caps::End::kIntoHeader:
        return "a next pointer points into the header";
    case qorb_caps::End::kOutOfSpace:
        return "a next pointer points outside configuration space";
    case qorb_caps::End::kLoop:
        return "the list loops back to a capability already walked";
    case qorb_caps::End::kAllOnes:
        return "a capability header reads all ones";
    case qorb_caps::End::kTooMany:
        return "the list holds more capabilities than its area can";
    }
    return "?";
}

void ListRule(std::vector<RuleResult>& out, const char* rule, const char* structure, const qorb_caps::List& list,
              const char* section)
{
    bool ended = list.end == qorb_caps::End::kEnd || list.end == qorb_caps::End::kNoList;
    bool ok = ended && !list.unaligned;
    std::string message = ended ? EndText(list.end) : std::string(EndText(list.end)) + " (at " + Hex(list.at, 3) + ")";
    if (list.unaligned)
        message += "; the pointer " + Hex(list.unaligned, 3) + " has a reserved low bit set";
    message += "; " + std::to_string(list.caps.size()) + " capabilities walked";
    out.push_back(Plain(rule, ok, structure, "Capability list", "Next pointers", list.caps.empty() ? 0 : list.at, 0,
                        ok ? 0 : 31, list.at, message, section));
}

/* Where the next structure of the same area starts. */
uint32_t NextStart(const qorb_regs::Function& f, const Placed& p)
{
    bool extended = p.s->space == qorb_regs::Space::kExtended;
    uint32_t next = extended ? qorb_caps::kExtendedEnd : qorb_caps::kLegacyEnd;
    for (const qorb_caps::Cap& c : (extended ? f.extended : f.legacy).caps)
        if (c.offset > p.base)
            next = std::min<uint32_t>(next, c.offset);
    return std::min(next, f.length);
}

/* Where the structure ends by its registers, whatever space follows. */
uint32_t StructureEnd(const qorb_regs::Function& f, const Placed& p)
{
    uint32_t end = p.base;
    for (unsigned r = 0; r < p.s->count; ++r) {
        const qorb_regs::Register& reg = p.s->regs[r];
        unsigned n = qorb_regs::Instances(f, reg, p.base);
        if (qorb_regs::RegisterPresence(f, reg, p.base) != qorb_regs::Presence::kAbsent && n)
            end = std::max<uint32_t>(end, p.base + reg.offset + (n - 1) * reg.stride + reg.width);
    }
    return end;
}

/* A BAR that a BIR may name: it reads non-zero and is not the upper half
 * of a 64-bit BAR. */
bool BarImplemented(const qorb_regs::Function& f, uint32_t bir, std::string* why)
{
    uint32_t bars = f.layout == 1 ? 2 : 6;
    if (bir >= bars) {
        *why = "a type " + std::to_string(f.layout) + " header has BARs 0 to " + std::to_string(bars - 1);
        return false;
    }
    if (bir > 0) {
        uint32_t below = f.Get(0x10 + 4 * (bir - 1), 4);
        if (!(below & 1) && (below & 6) == 4) {
            *why = "BAR " + std::to_string(bir) + " is the upper half of 64-bit BAR " + std::to_string(bir - 1);
            return false;
        }
    }
    if (f.Get(0x10 + 4 * bir, 4) == 0) {
        *why = "BAR " + std::to_string(bir) + " is not implemented (reads 0)";
        return false;
    }
    *why = "BAR " + std::to_string(bir) + " is implemented";
    return true;
}

void BirRule(std::vector<RuleResult>& out, const qorb_regs::Function& f, const std::vector<Placed>& placed,
             const char* structure, const char* reg, const char* field)
{
    FieldAt fa;
    if (!FindField(f, placed, structure, reg, field, &fa))
        return;
    uint32_t bir = FieldValue(fa, f.Get(fa.offset, fa.reg->width));
    std::string why;
    bool ok = BarImplemented(f, bir, &why);
    out.push_back(
        Make(fa, RuleName(fa, "BAR"), ok, bir, std::string(field) + " names BAR " + std::to_string(bir) + ": " + why));
}

uint32_t Value(const qorb_regs::Function& f, const FieldAt& fa)
{
    return FieldValue(fa, f.Get(fa.offset, fa.reg->width));
}

} // namespace

void CapabilityRules(const qorb_regs::Function& f, const std::vector<Placed>& placed, std::vector<RuleResult>& out)
{
    if (f.length >= 0x40 && f.legacy.end != qorb_caps::End::kNoList)
        ListRule(out, "CAP.LIST", "Capability list", f.legacy, "7.5.1.1");
    if (f.length > qorb_caps::kExtendedStart)
        ListRule(out, "ECAP.LIST", "Extended capability list", f.extended, "7.6.3");

    const qorb_regs::Ports port = qorb_regs::PortBit(f.portType);
    for (const Placed& p : placed) {
        if (p.s->space == qorb_regs::Space::kHeader)
            continue;
        std::string tag = p.s->tag;
        FieldAt hdr;
        bool haveHdr =
            FindField(f, placed, p.s->tag, "HDR",
                      p.s->space == qorb_regs::Space::kExtended ? "Capability Version" : "Capability ID", &hdr);
        if (!haveHdr)
            continue;
        if (p.s->space == qorb_regs::Space::kExtended) {
            bool ok = p.version >= 1 && p.version <= p.s->maxVersion;
            out.push_back(
                Make(hdr, tag + ".HDR.VER", ok, p.version,
                     std::string(p.s->name) + " version " + std::to_string(p.version) +
                         (ok ? " is defined" : " is not defined (1 to " + std::to_string(p.s->maxVersion) + ")")));
        }
        uint32_t end = StructureEnd(f, p), next = NextStart(f, p);
        out.push_back(Make(hdr, tag + ".EXTENT", end <= next, end,
                           std::string(p.s->name) + " at " + Hex(p.base, 3) + " ends at " + Hex(end, 3) +
                               (end <= next ? ", before " : ", past ") + "the next structure at " + Hex(next, 3)));
        bool portOk = p.s->ports & port;
        out.push_back(Make(hdr, tag + ".PORT", portOk, static_cast<uint32_t>(f.portType),
                           std::string(p.s->name) + (portOk ? " may be" : " may not be") + " implemented by a " +
                               (f.portType < 0 ? std::string("function without PCI Express capability")
                                               : PortTypeName(static_cast<uint32_t>(f.portType)))));
    }

    BirRule(out, f, placed, "MSIX", "TABLE", "Table BIR");
    BirRule(out, f, placed, "MSIX", "PBA", "PBA BIR");

    FieldAt a, b, c;
    if (FindField(f, placed, "MSI", "CTRL", "Multiple Message Enable", &a) &&
        FindField(f, placed, "MSI", "CTRL", "Multiple Message Capable", &b)) {
        uint32_t mme = Value(f, a), mmc = Value(f, b);
        out.push_back(Make(a, "MSI.CTRL.MME_LE_MMC", mme <= mmc, mme,
                           "Multiple Message Enable " + std::to_string(mme) + ", Multiple Message Capable " +
                               std::to_string(mmc)));
    }
    if (FindField(f, placed, "PM", "PMCSR", "PowerState", &a) && FindField(f, placed, "PM", "PMC", "D1_Support", &b) &&
        FindField(f, placed, "PM", "PMC", "D2_Support", &c)) {
        uint32_t state = Value(f, a);
        bool ok = (state != 1 || Value(f, b)) && (state != 2 || Value(f, c));
        out.push_back(Make(a, "PM.PMCSR.STATE", ok, state,
                           "the function is in D" + std::to_string(state) +
                               (ok ? ", a state it supports" : ", a state its capabilities do not offer")));
    }
    if (const Placed* ltr = FindPlaced(placed, "LTR");
        ltr && FindField(f, placed, "LTR", "HDR", "Capability Version", &a)) {
        bool supported = FindField(f, placed, "PCIE", "DEVCAP2", "LTR Mechanism Supported", &b) && Value(f, b);
        out.push_back(Make(a, "LTR.HDR.SUPPORTED", supported, supported,
                           supported ? "Device Capabilities 2 supports LTR"
                                     : "the LTR capability is present but Device Capabilities 2 does not support LTR"));
    }
    if (FindPlaced(placed, "L1SS") && FindField(f, placed, "L1SS", "CAP", "L1 PM Substates Supported", &a)) {
        uint32_t cap = f.Get(a.offset, 4), substates = cap & 0xF;
        bool flag = cap & 0x10;
        out.push_back(Make(a, "L1SS.CAP.SUPPORTED", flag == (substates != 0), flag,
                           flag == (substates != 0) ? "L1 PM Substates Supported agrees with the substates supported"
                                                    : "L1 PM Substates Supported disagrees with the substates "
                                                      "supported (" +
                                   Hex(substates, 1) + ")"));
        if (FindField(f, placed, "PCIE", "LNKCAP", "ASPM Support", &b)) {
            bool aspmL1 = Value(f, b) & 2, wantsL1 = cap & 0xC;
            out.push_back(Make(a, "L1SS.CAP.ASPM_L1", !wantsL1 || aspmL1, cap & 0xC,
                               !wantsL1 || aspmL1 ? "ASPM L1 substates only with ASPM L1 support in Link Capabilities"
                                                  : "ASPM L1.1 or L1.2 is supported but Link Capabilities has no "
                                                    "ASPM L1 support"));
        }
    }
    if (FindField(f, placed, "REBAR", "CTL", "BAR Index", &a)) {
        const Placed* rebar = FindPlaced(placed, "REBAR");
        qorb_regs::ForEachField(f, *rebar, [&](const FieldAt& fa) {
            if (strcmp(fa.reg->tag, "CTL") != 0 || strcmp(fa.name, "BAR Size") != 0)
                return;
            uint32_t ctl = f.Get(fa.offset, 4), supported = f.Get(fa.offset - 4, 4) >> 4 | (ctl >> 16) << 28;
            uint32_t size = FieldValue(fa, ctl), index = ctl & 7;
            std::string why;
            bool ok = BarImplemented(f, index, &why);
            out.push_back(
                Make(fa, RuleName(fa, "BAR"), ok, index, "BAR Index names BAR " + std::to_string(index) + ": " + why));
            bool sized = size < 32 && (supported >> size & 1);
            out.push_back(
                Make(fa, RuleName(fa, "SIZE"), sized, size,
                     "BAR Size " + std::to_string(size) + (sized ? " is" : " is not") + " among the supported sizes"));
        });
    }
}

} // namespace verify
} // namespace qorbcli
