/* Names for configuration space numbers that pci.ids does not hold. */
#include "names.h"

#include <stdio.h>

namespace qorbcli {

std::string SlotText(uint8_t bus, uint8_t dev, uint8_t fn)
{
    char text[16];
    snprintf(text, sizeof text, "%02x:%02x.%x", bus, dev, fn);
    return text;
}

std::string Hex(uint64_t value, int width)
{
    /* Digits from the right, at least width of them ("%0*llx" without
     * the printf machinery: the verifier formats many). */
    char text[24];
    char* at = text + sizeof text;
    int digits = 0;
    do {
        *--at = "0123456789abcdef"[value & 0xF];
        value >>= 4;
        ++digits;
    } while ((value || digits < width) && at > text);
    return std::string(at, text + sizeof text);
}

namespace {

const char* const kPortTypes[] = {
    "Endpoint",                        /* 0 */
    "Legacy Endpoint",                 /* 1 */
    nullptr, nullptr,
    "Root Port",                       /* 4 */
    "Upstream Port",                   /* 5 */
    "Downstream Port",                 /* 6 */
    "PCI-Express to PCI/PCI-X Bridge", /* 7 */
    "PCI/PCI-X to PCI-Express Bridge", /* 8 */
    "Root Complex Integrated Endpoint",/* 9 */
    "Root Complex Event Collector",    /* 10 */
};

/* Capability names as lspci prints them; IDs it does not know stay empty. */
const char* const kLegacyCaps[] = {
    nullptr,
    "Power Management",
    "AGP",
    "Vital Product Data",
    "Slot ID",
    "MSI",
    "CompactPCI hot-swap",
    "PCI-X",
    "HyperTransport",
    "Vendor Specific Information",
    "Debug port",
    "CompactPCI central resource control",
    "Hot-plug capable",
    "Subsystem",
    "AGP3",
    "Secure device",
    "Express",
    "MSI-X",
    "SATA HBA",
    "PCI Advanced Features",
    "Enhanced Allocation (EA)",
};

const char* const kExtendedCaps[] = {
    nullptr,
    "Advanced Error Reporting",
    "Virtual Channel",
    "Device Serial Number",
    "Power Budgeting",
    "Root Complex Link",
    "Root Complex Internal Link",
    "Root Complex Event Collector Endpoint Association",
    "Multi-Function Virtual Channel",
    "Virtual Channel",
    "Root Complex Register Block",
    "Vendor Specific Information",
    nullptr,
    "Access Control Services",
    "Alternative Routing-ID Interpretation (ARI)",
    "Address Translation Service (ATS)",
    "Single Root I/O Virtualization (SR-IOV)",
    "Multi-Root I/O Virtualization",
    "Multicast",
    "Page Request Interface (PRI)",
    nullptr,
    "Physical Resizable BAR",
    "Dynamic Power Allocation",
    "Transaction Processing Hints",
    "Latency Tolerance Reporting",
    "Secondary PCI Express",
    "Protocol Multiplexing",
    "Process Address Space ID (PASID)",
    "LN Requester",
    "Downstream Port Containment",
    "L1 PM Substates",
    "Precision Time Measurement",
    "PCI Express over M_PHY",
    "FRS Queueing",
    "Readiness Time Reporting",
    "Designated Vendor-Specific",
    "Virtual Resizable BAR",
    "Data Link Feature",
    "Physical Layer 16.0 GT/s",
    "Lane Margining at the Receiver",
    "Hierarchy ID",
    "Native PCIe Enclosure Management",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    "Data Object Exchange",
};

template <size_t N>
std::string Lookup(const char* const (&table)[N], uint32_t index)
{
    return index < N && table[index] ? table[index] : "";
}

} // namespace

std::string PortTypeName(uint32_t portType)
{
    std::string name = Lookup(kPortTypes, portType);
    return name.empty() ? "Unknown type " + std::to_string(portType) : name;
}

bool PortTypeIsBridge(uint32_t portType) { return portType >= 4 && portType <= 8; }

bool PortTypeHasLink(uint32_t portType) { return portType != 9 && portType != 10; }

bool PortTypeDefined(uint32_t portType) { return portType < 11 && kPortTypes[portType] != nullptr; }

std::string LegacyCapName(uint32_t id) { return Lookup(kLegacyCaps, id); }

std::string ExtendedCapName(uint32_t id) { return Lookup(kExtendedCaps, id); }

std::string LinkSpeedText(uint32_t code)
{
    static const char* const speeds[] = {nullptr, "2.5GT/s", "5GT/s", "8GT/s", "16GT/s", "32GT/s", "64GT/s"};
    std::string text = Lookup(speeds, code);
    return text.empty() ? "unknown" : text;
}

} // namespace qorbcli
