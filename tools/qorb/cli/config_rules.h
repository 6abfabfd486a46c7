/* The configuration space rules of "qorb check", as pure functions over the
 * bytes read from a function, so that they can be tested on any image. Each
 * answers the problems it finds, one sentence each; none means the rule
 * holds. */
#ifndef QORB_CLI_CONFIG_RULES_H
#define QORB_CLI_CONFIG_RULES_H

#include <stdint.h>

#include <string>
#include <vector>

#include <qorb/qorb_types.h>

namespace qorbcli {

/* Header sanity of the first 64 bytes: valid IDs, a header layout of type 0
 * or 1 that matches the PCI Express port type (portType < 0: the function
 * has no PCI Express capability, nothing to match), a bridge class for
 * switch and root ports, the Capabilities Pointer rules and a type 1
 * header's bus numbers. */
std::vector<std::string> CheckHeader(const std::vector<uint8_t>& space, int portType);

/* Capability list integrity over 256 bytes, or 4096 when the extended space
 * could be read: every pointer dword-aligned, above the header (0x40) in the
 * legacy list and in 0x100-0xfff in the extended list, no cycle, no second
 * PCI Express or AER capability. Both walks are bounded by the number of
 * entries their space can hold. */
struct CapListReport {
    std::vector<std::string> problems;
    std::vector<std::string> notes;
    std::vector<uint32_t> legacyIds;   /* in list order */
    std::vector<uint32_t> extendedIds;
};
CapListReport CheckCapabilityLists(const std::vector<uint8_t>& space);

/* PCI Express capability: version 1 or 2, a defined port type, and for a
 * function with a link the negotiated width and speed within what Link
 * Capabilities offers. notes receives the link as found. */
std::vector<std::string> CheckPcieCapability(const _PCIE_CAPABILITY_STRUCT_t& cap, std::vector<std::string>* notes);

/* Link Status fields. */
inline uint32_t LinkWidth(uint16_t linkStatus) { return (linkStatus >> 4) & 0x3f; }
inline uint32_t LinkSpeed(uint16_t linkStatus) { return linkStatus & 0xf; }
/* "x4 at 8GT/s". */
std::string LinkText(uint16_t linkStatus);

/* AER status and mask registers decoded as lspci prints them:
 * "DLP- SDES- TLP+ ...". */
std::string DecodeUncorrectable(uint32_t value);
std::string DecodeCorrectable(uint32_t value);

} // namespace qorbcli

#endif
