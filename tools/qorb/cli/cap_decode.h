/* Decoding of capability registers in lspci's terms (its -v and -vv lines),
 * driven by small field tables: each field names a field of the register
 * model (qorb_common/reg_model.h), which gives its register's offset in the
 * capability and its bit range, then lspci's short name and how the value
 * is shown. Covered: the PCI Express capability (Device, Link, Slot and Root
 * registers and their "2" companions), Advanced Error Reporting, Power
 * Management, MSI and MSI-X. Works on a byte image of configuration space. */
#ifndef QORB_CLI_CAP_DECODE_H
#define QORB_CLI_CAP_DECODE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "cap_list.h"

namespace qorbcli {

/* How a field's value is shown. */
enum class FieldFormat : uint8_t {
    kFlag, /* name+ or name- */
    kFlagClear, /* name+ when the bit is clear (active-low bits such as B2_B3#) */
    kDecimal, /* the value in decimal, in place of %s */
    kHex, /* the value in hex, as many digits as the field's bits need */
    kInPlace, /* the field's bits at their place in the register, 8 hex digits */
    kName, /* names[value], "unknown" past the table */
    kBytes128, /* 128 << value */
    kPowerOf2, /* 1 << value */
    kPlusOne, /* value + 1 */
    kTarget, /* Target Link Speed: as kSpeed, 0 (not implemented before version 2) read as 2.5GT/s */
    kSpeed, /* link speed code: "8GT/s" */
    kSpeeds, /* Supported Link Speeds vector: "2.5-8GT/s" */
    kStaSpeed, /* Link Status speed: as kSpeed, then " (downgraded)" or " (overdriven)" against Link Capabilities */
    kStaWidth, /* Link Status width: as kDecimal, compared the same way */
    kPower, /* slot power: value in bits 7:0 of the field, scale in bits 9:8 */
    kText, /* the text alone */
    kBreak, /* a new line */
};

/* Where a field applies. */
enum class FieldWhen : uint8_t {
    kAlways,
    kEndpoint, /* endpoints with a link (Device Capabilities latencies, FLR, ...) */
    kAnyEndpoint, /* endpoints, root complex integrated ones too */
    kPciBridge, /* PCI Express to PCI/PCI-X bridges */
    kBridgeHeader, /* type 1 and type 2 headers */
    kNotSwitch, /* all but switch ports (Read Completion Boundary) */
    kDownstream, /* switch downstream ports */
    kUpstream, /* functions on the upstream end of a link (Slot Power Limit) */
    kPort, /* ports with a Slot or downstream side */
    kSlot, /* Slot Implemented */
    kRoot, /* root ports and event collectors */
    kLink, /* functions with a link */
    kV2, /* capability version 2 or later */
    kV2Slot,
    kMsi32, /* MSI without 64-bit addresses */
    kMsi64,
    kMsiMask, /* MSI with per-vector masking */
};

/* A decoder field's place in the register model: a register of the
 * capability's structure by its tag, and one of its fields by name. */
struct ModelRef {
    const char* reg = nullptr; /* "LNKCAP"; nullptr: the field reads no register (kText, kBreak) */
    const char* field = nullptr; /* the field's name; nullptr: the whole register, or the field holding bit */
    const char* last = nullptr; /* with field: the range runs on through this later field */
    int8_t bit = -1; /* >= 0: that bit alone, counted from the field's lowest bit (or the register's) */
};

struct Field {
    ModelRef ref;
    FieldFormat format;
    const char* text; /* the name, or a pattern with %s; a leading ',', ';', '/', ')' or '|' joins
                         it to the item before without a blank ('|' is not printed) */
    FieldWhen when = FieldWhen::kAlways;
    const std::vector<const char*>* names = nullptr;
    uint32_t ifMask = 0; /* when not 0: shown only when the register's bits under the mask */
    uint32_t ifValue = 0; /* equal this value (kAnySet: are not all clear) */
    /* From the model when the tables are built: */
    uint16_t at = 0; /* register offset in the capability; 4 bytes are read there */
    uint8_t lo = 0, hi = 0; /* bit range */
    bool resolved = false; /* the reference names a field of the model */
};
constexpr uint32_t kAnySet = 0xffffffffu;

/* One line of lspci's decoding: a label ("DevCap:") and its fields; a title
 * line has the empty label. */
struct FieldLine {
    const char* label;
    FieldWhen when;
    std::vector<Field> fields;
};

struct CapDecoder {
    bool extended;
    uint16_t id;
    std::vector<FieldLine> lines; /* the first is the title that -v prints */
};

/* The decoder tables, their references resolved. */
const std::vector<CapDecoder>& CapDecoders();

/* Fills the offset and bit range of every field of the decoder that has a
 * reference from the model structure of its capability; a reference that
 * names nothing there, or more than one thing, leaves resolved false. */
void ResolveFields(CapDecoder& decoder);

/* The title of a capability (lspci's -v text after "Capabilities: [..]"),
 * and with registers also every register line (-vv): a label, a tab, then
 * the fields; a line a field table breaks starts with a tab. */
std::vector<std::string> DecodeCapability(const std::vector<uint8_t>& image, const RawCap& cap,
                                          const ExpressInfo& express, bool registers);

} // namespace qorbcli

#endif
