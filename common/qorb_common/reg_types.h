/* The vocabulary of the register model: attributes, port types, fields,
 * registers and structures. The tables themselves are in reg_tables_*.h
 * and their evaluation on a function's bytes in reg_model.h. Attributes
 * are those of the PCI Express Base Specification, section 7.4. */
#ifndef QORB_COMMON_REG_TYPES_H
#define QORB_COMMON_REG_TYPES_H

#include <stddef.h>
#include <stdint.h>

namespace qorb_regs {

enum class Attr : uint8_t { kRO, kROS, kRW, kRWS, kRW1C, kRW1CS, kHwInit, kRsvdP, kRsvdZ };

inline const char* AttrName(Attr a)
{
    static const char* const names[] = {"RO", "ROS", "RW", "RWS", "RW1C", "RW1CS", "HwInit", "RsvdP", "RsvdZ"};
    return names[static_cast<int>(a)];
}
inline bool IsReserved(Attr a) { return a == Attr::kRsvdP || a == Attr::kRsvdZ; }
/* Bits a write never changes: read-only, hardware-initialised and reserved. */
inline bool IsReadOnly(Attr a) { return a == Attr::kRO || a == Attr::kROS || a == Attr::kHwInit || IsReserved(a); }
inline bool IsWriteOneToClear(Attr a) { return a == Attr::kRW1C || a == Attr::kRW1CS; }
inline bool IsReadWrite(Attr a) { return a == Attr::kRW || a == Attr::kRWS; }

/* Which functions a field or register applies to: bit N for Device/Port
 * Type N of the PCI Express Capabilities register, bit 15 for a function
 * without a PCI Express capability. */
using Ports = uint16_t;
constexpr Ports kEp = 1u << 0; /* PCI Express Endpoint */
constexpr Ports kLegEp = 1u << 1; /* Legacy PCI Express Endpoint */
constexpr Ports kRp = 1u << 4; /* Root Port */
constexpr Ports kUp = 1u << 5; /* Switch Upstream Port */
constexpr Ports kDp = 1u << 6; /* Switch Downstream Port */
constexpr Ports kPciBr = 1u << 7; /* PCI Express to PCI/PCI-X Bridge */
constexpr Ports kPcieBr = 1u << 8; /* PCI/PCI-X to PCI Express Bridge */
constexpr Ports kRcep = 1u << 9; /* Root Complex Integrated Endpoint */
constexpr Ports kRcec = 1u << 10; /* Root Complex Event Collector */
constexpr Ports kConv = 1u << 15; /* no PCI Express capability */
constexpr Ports kPcie = kEp | kLegEp | kRp | kUp | kDp | kPciBr | kPcieBr | kRcep | kRcec;
constexpr Ports kAll = kPcie | kConv;
constexpr Ports kDownstream = kRp | kDp; /* ports whose link leads away from the root */
constexpr Ports kUpstream = kEp | kLegEp | kUp | kPciBr; /* functions at the far end of a link */
constexpr Ports kLinked = kPcie & ~(kRcep | kRcec); /* functions with a link */
constexpr Ports kRoot = kRp | kRcec; /* root error and PME collection */
constexpr Ports kEndpoints = kEp | kLegEp | kRcep;

inline Ports PortBit(int portType) { return portType < 0 ? kConv : static_cast<Ports>(1u << (portType & 15)); }

/* What the write probes may do with a field. */
constexpr uint8_t kSideEffect = 1; /* writing it changes the device's behaviour: never written */
constexpr uint8_t kOptional = 2; /* read-write only when a feature is implemented, else hardwired */
constexpr uint8_t kVolatile = 4; /* hardware changes it at any time */

struct Field {
    uint8_t lo, hi;
    Attr attr;
    const char* name;
    Ports ports = kAll;
    uint8_t flags = 0;
    uint8_t minVersion = 0; /* the capability version that defines it */
};

/* When a register is there beyond its port types. */
enum class Cond : uint8_t {
    kAlways,
    kPcieV2, /* PCI Express capability version 2 or later */
    kSlot, /* Slot Implemented (and version 2 for the second slot registers) */
    kSlotV2,
    kMsi32, /* MSI layouts by 64-bit Address Capable and Per-Vector Masking Capable */
    kMsi64,
    kMsi32Mask,
    kMsi64Mask,
    kRebar, /* one entry per resizable BAR (Number of Resizable BARs) */
    kLanes, /* one entry per lane of Maximum Link Width */
};

struct Register {
    uint16_t offset; /* in the structure */
    uint8_t width; /* bytes: 1, 2 or 4 */
    const char* tag; /* short name in checklist names: "LNKCAP" */
    const char* name;
    const Field* fields;
    uint8_t count;
    Ports ports;
    Cond cond;
    Attr reserved; /* what bits no field covers are: RsvdP or RsvdZ */
    bool zeroWhenAbsent; /* a function it does not apply to hardwires it to 0 (else it is not there) */
    uint8_t stride; /* kRebar, kLanes: bytes between entries */
};

template <size_t N>
constexpr Register Reg(uint16_t offset, uint8_t width, const char* tag, const char* name, const Field (&fields)[N],
                       Ports ports = kAll, Cond cond = Cond::kAlways, Attr reserved = Attr::kRsvdP,
                       bool zeroWhenAbsent = false, uint8_t stride = 0)
{
    return Register{offset, width, tag,      name,           fields, static_cast<uint8_t>(N),
                    ports,  cond,  reserved, zeroWhenAbsent, stride};
}

enum class Space : uint8_t { kHeader, kLegacy, kExtended };

struct Structure {
    Space space;
    uint16_t id; /* header layout, or capability ID */
    const char* tag; /* "PCIE" */
    const char* name; /* "PCI Express" */
    const char* section;
    const Register* regs;
    uint8_t count;
    uint8_t maxVersion; /* highest version defined (extended capabilities, PCI Express) */
    Ports ports; /* the functions that may have it */
};

template <size_t N>
constexpr Structure Struct(Space space, uint16_t id, const char* tag, const char* name, const char* section,
                           const Register (&regs)[N], uint8_t maxVersion = 1, Ports ports = kAll)
{
    return Structure{space, id, tag, name, section, regs, static_cast<uint8_t>(N), maxVersion, ports};
}

/* Short names for the tables. */
namespace shorthand {
constexpr Attr RO = Attr::kRO, ROS = Attr::kROS, RW = Attr::kRW, RWS = Attr::kRWS, RW1C = Attr::kRW1C,
               RW1CS = Attr::kRW1CS, HWI = Attr::kHwInit, RSP = Attr::kRsvdP, RSZ = Attr::kRsvdZ;
constexpr uint8_t SE = kSideEffect, OPT = kOptional, VOL = kVolatile;
} // namespace shorthand

} // namespace qorb_regs

#endif
