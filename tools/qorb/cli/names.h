/* Names the qorb tool prints for numbers found in configuration space:
 * vendors, devices and classes (from pci.ids), PCI Express port types,
 * capability IDs and link speeds. The wording follows what lspci prints. */
#ifndef QORB_CLI_NAMES_H
#define QORB_CLI_NAMES_H

#include <stdint.h>

#include <string>

namespace qorbcli {

/* "01:00.0": bus and slot in two hex digits, function in one. */
std::string SlotText(uint8_t bus, uint8_t dev, uint8_t fn);
/* Lower-case hexadecimal, zero-padded to width digits ("%0*x"). */
std::string Hex(uint64_t value, int width);

/* Names from the PCI ID database (pci.ids) through libpci, as lspci prints
 * them. ClassName: "Ethernet controller", the base class name with the
 * number when the sub-class is not known ("Network controller [0233]"),
 * "Class xxxx" when neither is. The others answer "" for an ID the
 * database does not hold. */
std::string ClassName(uint8_t baseClass, uint8_t subClass);
std::string VendorName(uint16_t vendor);
std::string DeviceName(uint16_t vendor, uint16_t device);
std::string SubsystemName(uint16_t vendor, uint16_t device, uint16_t subVendor, uint16_t subDevice);
/* "Intel Corporation 82574L Gigabit Network Connection", with "Device
 * xxxx" or "Vendor xxxx Device xxxx" for what the database lacks. */
std::string VendorDeviceText(uint16_t vendor, uint16_t device);

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
