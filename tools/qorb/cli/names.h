/* Names the qorb tool prints for numbers found in configuration space:
 * class codes, PCI Express port types, capability IDs and link speeds. The
 * wording follows what lspci prints. */
#ifndef QORB_CLI_NAMES_H
#define QORB_CLI_NAMES_H

#include <stdint.h>

#include <string>

namespace qorbcli {

/* "01:00.0": bus and slot in two hex digits, function in one. */
std::string SlotText(uint8_t bus, uint8_t dev, uint8_t fn);
/* Lower-case hexadecimal, zero-padded to width digits ("%0*x"). */
std::string Hex(uint64_t value, int width);

/* "Ethernet controller", "PCI bridge"...; the base class name when the
 * sub-class is not known, "Class xxxx" when neither is. */
std::string ClassName(uint8_t baseClass, uint8_t subClass);

/* Device/Port Type field: "Endpoint", "Root Port"...; "Unknown type N". */
std::string PortTypeName(uint32_t portType);
/* Whether the port type is one that sits on a type 1 (bridge) header:
 * root port, switch ports and the two PCI bridges. */
bool PortTypeIsBridge(uint32_t portType);
/* Whether functions of this port type have a Link (all but the root
 * complex integrated endpoint and event collector). */
bool PortTypeHasLink(uint32_t portType);
/* Whether the value is a port type the PCI Express Base Specification
 * defines (0, 1, 4 to 10). */
bool PortTypeDefined(uint32_t portType);

/* Capability names; "" when the ID is not known. */
std::string LegacyCapName(uint32_t id);
std::string ExtendedCapName(uint32_t id);

/* Link speed code of Link Capabilities/Status: "2.5GT/s"...; "unknown". */
std::string LinkSpeedText(uint32_t code);

} // namespace qorbcli

#endif
