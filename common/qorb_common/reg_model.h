/* The register model on a function's bytes: which structures it has, where,
 * and per register the attribute of every bit for this function (its port
 * type, capability version and layout). The verifier judges registers with
 * it and the simulated driver applies it to writes. Every walk is bounded
 * (qorb_common/cap_walk.h): a broken list ends the walk, and the structures
 * found before the break are still placed. */
#ifndef QORB_COMMON_REG_MODEL_H
#define QORB_COMMON_REG_MODEL_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "cap_walk.h"
#include "reg_tables_ext.h"
#include "reg_tables_pci.h"

namespace qorb_regs {

inline const std::vector<Structure>& Structures()
{
    using namespace tables;
    static const std::vector<Structure> all = {
        Struct(Space::kHeader, 0, "HDR0", "Type 0 header", "7.5.1.2", kHeader0Regs),
        Struct(Space::kHeader, 1, "HDR1", "Type 1 header", "7.5.1.3", kHeader1Regs),
        Struct(Space::kLegacy, 0x01, "PM", "Power Management", "7.5.2", kPmRegs, 3),
        Struct(Space::kLegacy, 0x05, "MSI", "MSI", "7.7.1", kMsiRegs),
        Struct(Space::kLegacy, 0x11, "MSIX", "MSI-X", "7.7.2", kMsixRegs),
        Struct(Space::kLegacy, 0x10, "PCIE", "PCI Express", "7.5.3", kPcieRegs, 2),
        Struct(Space::kExtended, 0x0001, "AER", "Advanced Error Reporting", "7.8.4", kAerRegs, 2, kPcie),
        Struct(Space::kExtended, 0x0002, "VC", "Virtual Channel", "7.9.1", kVcRegs, 1, kPcie),
        Struct(Space::kExtended, 0x0009, "VC9", "Virtual Channel (MFVC present)", "7.9.1", kVcRegs, 1, kPcie),
        Struct(Space::kExtended, 0x0003, "DSN", "Device Serial Number", "7.9.3", kDsnRegs, 1, kPcie),
        Struct(Space::kExtended, 0x0004, "PB", "Power Budgeting", "7.8.1", kPbRegs, 1, kPcie),
        Struct(Space::kExtended, 0x000D, "ACS", "Access Control Services", "7.7.8", kAcsRegs, 1, kPcie),
        Struct(Space::kExtended, 0x000E, "ARI", "Alternative Routing-ID Interpretation", "7.8.7", kAriRegs, 1, kPcie),
        Struct(Space::kExtended, 0x0018, "LTR", "Latency Tolerance Reporting", "7.8.2", kLtrRegs, 1, kPcie),
        Struct(Space::kExtended, 0x0019, "SECPCI", "Secondary PCI Express", "7.7.3", kSecPcieRegs, 1, kLinked),
        Struct(Space::kExtended, 0x001D, "DPC", "Downstream Port Containment", "7.9.14", kDpcRegs, 1, kDownstream),
        Struct(Space::kExtended, 0x001E, "L1SS", "L1 PM Substates", "7.8.3", kL1ssRegs, 1, kLinked),
        Struct(Space::kExtended, 0x001F, "PTM", "Precision Time Measurement", "7.9.15", kPtmRegs, 1, kPcie),
        Struct(Space::kExtended, 0x0015, "REBAR", "Resizable BAR", "7.8.6", kRebarRegs, 1, kPcie),
    };
    return all;
}

inline const Structure* FindStructure(Space space, uint16_t id)
{
    for (const Structure& s : Structures())
        if (s.space == space && s.id == id)
            return &s;
    return nullptr;
}

/* A function as the model needs to know it. */
struct Function {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    uint8_t layout = 0xFF; /* header layout, 0x7F bits of Header Type */
    int portType = -1; /* -1: no PCI Express capability */
    uint16_t pcie = 0; /* offset of the PCI Express capability, 0 when none */
    uint8_t pcieVersion = 0;
    bool slot = false; /* Slot Implemented */
    uint8_t maxWidth = 0; /* Maximum Link Width */
    qorb_caps::List legacy, extended;

    uint32_t Get(uint32_t at, uint32_t width) const
    {
        if (width == 4 && at + 4 <= length && at + 4 > at)
            return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
                static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
        uint32_t v = 0;
        for (uint32_t i = 0; i < width && at + i < length; ++i)
            v |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
        return v;
    }
};

inline Function Describe(const uint8_t* bytes, uint32_t length)
{
    Function f;
    f.bytes = bytes;
    f.length = length;
    if (length < 0x40)
        return f;
    f.layout = bytes[0x0E] & 0x7F;
    f.legacy = qorb_caps::WalkLegacy(bytes, length);
    if (length > qorb_caps::kExtendedStart)
        f.extended = qorb_caps::WalkExtended(bytes, length);
    else
        f.extended.end = qorb_caps::End::kNoList;
    for (const qorb_caps::Cap& c : f.legacy.caps) {
        if (c.id != 0x10 || f.pcie)
            continue;
        f.pcie = c.offset;
        uint32_t flags = f.Get(c.offset + 2, 2);
        f.pcieVersion = flags & 0xF;
        f.portType = (flags >> 4) & 0xF;
        f.slot = flags & 0x100;
        f.maxWidth = (f.Get(c.offset + 0x0C, 4) >> 4) & 0x3F;
    }
    return f;
}

/* One structure of a function, where it is. */
struct Placed {
    const Structure* s;
    uint16_t base;
    uint8_t version; /* extended capabilities and PCI Express */
};

/* The function's structures the model knows: its header first, then the
 * capabilities in list order (the first instance of each). */
inline std::vector<Placed> Place(const Function& f)
{
    std::vector<Placed> out;
    if (const Structure* h = f.layout <= 1 ? FindStructure(Space::kHeader, f.layout) : nullptr)
        out.push_back({h, 0, 0});
    auto once = [&](const Structure* s) {
        for (const Placed& p : out)
            if (p.s == s)
                return false;
        return true;
    };
    for (const qorb_caps::Cap& c : f.legacy.caps)
        if (const Structure* s = FindStructure(Space::kLegacy, c.id); s && once(s))
            out.push_back({s, c.offset, static_cast<uint8_t>(c.id == 0x10 ? f.pcieVersion : 0)});
    for (const qorb_caps::Cap& c : f.extended.caps)
        if (const Structure* s = FindStructure(Space::kExtended, c.id); s && once(s))
            out.push_back({s, c.offset, c.version});
    return out;
}

enum class Presence { kPresent, kZero, kAbsent };

/* How many instances of a register the structure holds at base (1 for most;
 * Resizable BAR entries, lanes). */
inline unsigned Instances(const Function& f, const Register& r, uint16_t base)
{
    if (r.cond == Cond::kRebar) {
        unsigned n = (f.Get(base + 8, 4) >> 5) & 7;
        return n > 6 ? 6 : n;
    }
    if (r.cond == Cond::kLanes)
        return f.maxWidth > 32 ? 32 : f.maxWidth;
    return 1;
}

inline Presence RegisterPresence(const Function& f, const Register& r, uint16_t base)
{
    const bool msiLayout = r.cond >= Cond::kMsi32 && r.cond <= Cond::kMsi64Mask;
    const uint32_t msi = msiLayout ? f.Get(base + 2, 2) : 0;
    const bool is64 = msi & 0x80, mask = msi & 0x100;
    bool cond = true, zero = false;
    switch (r.cond) {
    case Cond::kAlways:
        break;
    case Cond::kPcieV2:
        cond = f.pcieVersion >= 2;
        break;
    case Cond::kSlot:
        zero = !f.slot;
        break;
    case Cond::kSlotV2:
        cond = f.pcieVersion >= 2;
        zero = !f.slot;
        break;
    case Cond::kMsi32:
        cond = !is64;
        break;
    case Cond::kMsi64:
        cond = is64;
        break;
    case Cond::kMsi32Mask:
        cond = !is64 && mask;
        break;
    case Cond::kMsi64Mask:
        cond = is64 && mask;
        break;
    case Cond::kRebar:
    case Cond::kLanes:
        break;
    }
    if (!cond)
        return Presence::kAbsent;
    /* Version 1 of the PCI Express capability need not hold the registers
     * a function does not implement; version 2 hardwires them to 0. */
    if (zero || !(r.ports & PortBit(f.portType)))
        return r.zeroWhenAbsent && f.pcieVersion >= 2 ? Presence::kZero : Presence::kAbsent;
    return Presence::kPresent;
}

/* One field of one register as it applies to this function. Bits no
 * applicable field covers come as reserved fields named "Reserved". */
struct FieldAt {
    const Placed* where;
    const Register* reg;
    uint32_t offset; /* the register's offset in configuration space */
    unsigned instance; /* of repeated registers */
    uint8_t lo, hi; /* in the register */
    Attr attr;
    const char* name;
    uint8_t flags;
    bool zeroRegister; /* the register is hardwired to 0 for this function */

    uint32_t Mask() const { return (hi >= 31 ? 0xFFFFFFFFu : (1u << (hi + 1)) - 1) & ~((1u << lo) - 1); }
};

/* Calls visit(const FieldAt&) for every bit range of one register of the
 * structure (reg: one of p.s->regs) as the function holds it (inside its
 * configuration bytes): nothing when the register is not there. */
template <typename Visit>
void ForEachFieldOf(const Function& f, const Placed& p, const Register& reg, Visit&& visit)
{
    const Ports port = PortBit(f.portType);
    Presence presence = RegisterPresence(f, reg, p.base);
    if (presence == Presence::kAbsent)
        return;
    unsigned instances = Instances(f, reg, p.base);
    const uint32_t area = p.s->space == Space::kExtended ? qorb_caps::kExtendedEnd : qorb_caps::kLegacyEnd;
    for (unsigned i = 0; i < instances; ++i) {
        const uint32_t at = p.base + reg.offset + i * reg.stride;
        if (at + reg.width > f.length || at + reg.width > area)
            break;
        const uint8_t bits = static_cast<uint8_t>(reg.width * 8);
        /* Without a slot, a downstream port's Presence Detect State is
         * hardwired to 1 (a device is always there). */
        if (presence == Presence::kZero && reg.cond == Cond::kSlot && reg.reserved == Attr::kRsvdZ &&
            (port & kDownstream)) {
            visit(FieldAt{&p, &reg, at, i, 0, 5, reg.reserved, "Reserved", 0, true});
            visit(FieldAt{&p, &reg, at, i, 6, 6, Attr::kRO, "Presence Detect State", 0, false});
            visit(FieldAt{&p, &reg, at, i, 7, 15, reg.reserved, "Reserved", 0, true});
            continue;
        }
        if (presence == Presence::kZero) {
            visit(FieldAt{&p, &reg, at, i, 0, static_cast<uint8_t>(bits - 1), reg.reserved, "Reserved", 0, true});
            continue;
        }
        uint32_t covered = 0;
        for (unsigned k = 0; k < reg.count; ++k) {
            const Field& fd = reg.fields[k];
            if (!(fd.ports & port) || p.version < fd.minVersion || fd.hi >= bits || IsReserved(fd.attr))
                continue;
            FieldAt at1{&p, &reg, at, i, fd.lo, fd.hi, fd.attr, fd.name, fd.flags, false};
            if (covered & at1.Mask())
                continue; /* a bit belongs to its first field */
            covered |= at1.Mask();
            visit(at1);
        }
        /* The rest, in runs, is reserved. */
        uint32_t rest = ~covered & (bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1);
        while (rest) {
            const unsigned lo = static_cast<unsigned>(__builtin_ctz(rest));
            const uint32_t above = ~(rest >> lo); /* its lowest 1: the run's end */
            const unsigned hi = above ? lo + static_cast<unsigned>(__builtin_ctz(above)) - 1 : 31;
            visit(FieldAt{&p, &reg, at, i, static_cast<uint8_t>(lo), static_cast<uint8_t>(hi), reg.reserved, "Reserved",
                          0, false});
            rest &= hi >= 31 ? 0 : ~0u << (hi + 1);
        }
    }
}

/* Calls visit(const FieldAt&) for every bit range of every register of the
 * structure that the function holds. */
template <typename Visit>
void ForEachField(const Function& f, const Placed& p, Visit&& visit)
{
    for (unsigned r = 0; r < p.s->count; ++r)
        ForEachFieldOf(f, p, p.s->regs[r], visit);
}

/* Per byte of configuration space: the bits a write leaves alone, and the
 * bits a 1 clears. Bytes of no known structure stay 0 in both. */
inline void WriteMasks(const uint8_t* bytes, uint32_t length, uint8_t* readOnly, uint8_t* writeOneToClear)
{
    Function f = Describe(bytes, length);
    for (const Placed& p : Place(f))
        ForEachField(f, p, [&](const FieldAt& fa) {
            uint32_t mask = fa.Mask();
            uint8_t* target = IsReadOnly(fa.attr) ? readOnly : IsWriteOneToClear(fa.attr) ? writeOneToClear : nullptr;
            if (!target)
                return;
            for (uint32_t b = 0; b < fa.reg->width && fa.offset + b < length; ++b)
                target[fa.offset + b] |= static_cast<uint8_t>(mask >> (8 * b));
        });
}

} // namespace qorb_regs

#endif
