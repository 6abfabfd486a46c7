/* Device selectors of the qorb tool, written as lspci and setpci take them:
 *   -s [[[domain]:][bus]:][slot][.[func]]   location, hexadecimal fields
 *   -d [vendor]:[device][:class]              identity, hexadecimal fields
 * An empty field or "*" matches anything. */
#ifndef QORB_CLI_SELECTOR_H
#define QORB_CLI_SELECTOR_H

#include <stdint.h>

#include <string>

namespace qorbcli {

struct SlotSelector {
    int bus = -1;   /* -1: any */
    int dev = -1;
    int fn = -1;
    int64_t domain = -1; /* -1: any; the tool compares it with the domain served */
    bool Matches(uint8_t b, uint8_t d, uint8_t f) const
    {
        return (bus < 0 || bus == b) && (dev < 0 || dev == d) && (fn < 0 || fn == f);
    }
    bool Exact() const { return bus >= 0 && dev >= 0 && fn >= 0; }
};

struct IdSelector {
    int vendor = -1;
    int device = -1;
    int classCode = -1;  /* base class << 8 | sub-class */
    bool Matches(uint16_t v, uint16_t d, uint16_t cls) const
    {
        return (vendor < 0 || vendor == v) && (device < 0 || device == d) && (classCode < 0 || classCode == cls);
    }
};

/* Both parsers answer "" on success and otherwise the reason the text was
 * refused, in lspci's words ("Invalid bus number"). */
std::string ParseSlotSelector(const std::string& text, SlotSelector* out);
std::string ParseIdSelector(const std::string& text, IdSelector* out);

/* One hexadecimal field: digits only (an optional 0x prefix), at most max.
 * Answers false when the text is not such a number. */
bool ParseHexField(const std::string& text, uint64_t max, uint64_t* out);

} // namespace qorbcli

#endif
