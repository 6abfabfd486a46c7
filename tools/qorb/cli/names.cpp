/* Tables of names for configuration space numbers. */
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
    char text[24];
    snprintf(text, sizeof text, "%0*llx", width, static_cast<unsigned long long>(value));
    return text;
}

namespace {

struct ClassEntry {
    int base;
    int sub; /* -1: the base class alone */
    const char* name;
};

constexpr ClassEntry kClasses[] = {
    {0x00, -1, "Unclassified device"},
    {0x01, -1, "Mass storage controller"}, {0x01, 0x01, "IDE interface"}, {0x01, 0x04, "RAID bus controller"},
    {0x01, 0x06, "SATA controller"}, {0x01, 0x07, "Serial Attached SCSI controller"},
    {0x01, 0x08, "Non-Volatile memory controller"},
    {0x02, -1, "Network controller"}, {0x02, 0x00, "Ethernet controller"}, {0x02, 0x80, "Network controller"},
    {0x03, -1, "Display controller"}, {0x03, 0x00, "VGA compatible controller"}, {0x03, 0x02, "3D controller"},
    {0x04, -1, "Multimedia controller"}, {0x04, 0x03, "Audio device"},
    {0x05, -1, "Memory controller"}, {0x05, 0x00, "RAM memory"},
    {0x06, -1, "Bridge"}, {0x06, 0x00, "Host bridge"}, {0x06, 0x01, "ISA bridge"}, {0x06, 0x04, "PCI bridge"},
    {0x06, 0x80, "Bridge"},
    {0x07, -1, "Communication controller"}, {0x07, 0x00, "Serial controller"},
    {0x08, -1, "Generic system peripheral"}, {0x08, 0x80, "System peripheral"},
    {0x09, -1, "Input device controller"},
    {0x0a, -1, "Docking station"},
    {0x0b, -1, "Processor"},
    {0x0c, -1, "Serial bus controller"}, {0x0c, 0x03, "USB controller"}, {0x0c, 0x05, "SMBus"},
    {0x0d, -1, "Wireless controller"},
    {0x0e, -1, "Intelligent controller"},
    {0x0f, -1, "Satellite communications controller"},
    {0x10, -1, "Encryption controller"},
    {0x11, -1, "Signal processing controller"},
    {0x12, -1, "Processing accelerators"},
    {0x13, -1, "Non-Essential Instrumentation"},
    {0x40, -1, "Coprocessor"},
    {0xff, -1, "Unassigned class"},
};

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

const char* const kLegacyCaps[] = {
    nullptr, "Power Management", "AGP", "Vital Product Data", "Slot ID", "MSI", "CompactPCI hot-swap", "PCI-X",
    "HyperTransport", "Vendor Specific Information", "Debug port", "CompactPCI central resource control",
    "Hot-plug capable", "Subsystem", "AGP3", "Secure device", "Express", "MSI-X", "SATA HBA",
    "PCI Advanced Features", "Enhanced Allocation", "Flattening Portal Bridge",
};

const char* const kExtendedCaps[] = {
    nullptr, "Advanced Error Reporting", "Virtual Channel", "Device Serial Number", "Power Budgeting",
    "Root Complex Link", "Root Complex Internal Link", "Root Complex Event Collector",
    "Multi-Function Virtual Channel", "Virtual Channel", "Root Complex Register Block", "Vendor Specific Information",
    "Configuration Access Correlation", "Access Control Services", "Alternative Routing-ID Interpretation",
    "Address Translation Service", "Single Root I/O Virtualization", "Multi-Root I/O Virtualization", "Multicast",
    "Page Request Interface", "AMD Reserved", "Physical Resizable BAR", "Dynamic Power Allocation",
    "TPH Requester", "Latency Tolerance Reporting", "Secondary PCI Express", "Protocol Multiplexing",
    "Process Address Space ID", "LN Requester", "Downstream Port Containment", "L1 PM Substates",
    "Precision Time Measurement", "PCI Express over M_PHY", "FRS Queueing", "Readiness Time Reporting",
    "Designated Vendor-Specific", "VF Resizable BAR", "Data Link Feature", "Physical Layer 16.0 GT/s",
    "Lane Margining at the Receiver", "Hierarchy ID", "Native PCIe Enclosure Management",
    "Physical Layer 32.0 GT/s", "Alternate Protocol", "System Firmware Intermediary",
};

template <size_t N>
std::string Lookup(const char* const (&table)[N], uint32_t index)
{
    return index < N && table[index] ? table[index] : "";
}

} // namespace

std::string ClassName(uint8_t baseClass, uint8_t subClass)
{
    const char* baseName = nullptr;
    for (const ClassEntry& entry : kClasses) {
        if (entry.base != baseClass)
            continue;
        if (entry.sub == subClass)
            return entry.name;
        if (entry.sub < 0)
            baseName = entry.name;
    }
    if (baseName)
        return baseName;
    return "Class " + Hex(static_cast<uint32_t>(baseClass) << 8 | subClass, 4);
}

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
