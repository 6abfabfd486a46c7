/* Configuration space rules of the checklist. */
#include "config_rules.h"

#include <linux/pci_regs.h>

#include <set>

#include "names.h"

namespace qorbcli {

namespace {

uint16_t Get16(const std::vector<uint8_t>& s, size_t off) { return static_cast<uint16_t>(s[off] | s[off + 1] << 8); }
uint32_t Get32(const std::vector<uint8_t>& s, size_t off)
{
    return static_cast<uint32_t>(Get16(s, off)) | static_cast<uint32_t>(Get16(s, off + 2)) << 16;
}

/* Legacy capabilities fit 0x40-0xff in dword steps; extended ones
 * 0x100-0xfff. No list can have more entries than that without a repeat. */
constexpr unsigned kMaxLegacy = (0x100 - 0x40) / 4;
constexpr unsigned kMaxExtended = (0x1000 - 0x100) / 4;

} // namespace

std::vector<std::string> CheckHeader(const std::vector<uint8_t>& space, int portType)
{
    std::vector<std::string> problems;
    if (space.size() < 64) {
        problems.push_back("the configuration header could not be read");
        return problems;
    }
    uint16_t vendor = Get16(space, PCI_VENDOR_ID);
    uint16_t device = Get16(space, PCI_DEVICE_ID);
    uint16_t status = Get16(space, PCI_STATUS);
    uint8_t layout = space[PCI_HEADER_TYPE] & 0x7f;
    if (vendor == 0x0000 || vendor == 0xffff)
        problems.push_back("Vendor ID " + Hex(vendor, 4) + " is not a valid vendor");
    if (device == 0xffff)
        problems.push_back("Device ID ffff is not a valid device");
    if (layout != PCI_HEADER_TYPE_NORMAL && layout != PCI_HEADER_TYPE_BRIDGE) {
        problems.push_back("header type " + Hex(layout, 2) + " is neither type 0 nor type 1");
    } else if (portType >= 0 && PortTypeDefined(static_cast<uint32_t>(portType))) {
        bool bridge = PortTypeIsBridge(static_cast<uint32_t>(portType));
        if (bridge != (layout == PCI_HEADER_TYPE_BRIDGE))
            problems.push_back("header type " + Hex(layout, 2) + " does not match the port type " +
                               PortTypeName(static_cast<uint32_t>(portType)) + ", which has a type " +
                               (bridge ? "1" : "0") + " header");
    }
    if (portType == 4 || portType == 5 || portType == 6) {
        if (space[PCI_CLASS_DEVICE + 1] != 0x06 || space[PCI_CLASS_DEVICE] != 0x04)
            problems.push_back("class " + Hex(Get16(space, PCI_CLASS_DEVICE), 4) + " of a " +
                               PortTypeName(static_cast<uint32_t>(portType)) + " is not 0604 (PCI bridge)");
    }
    uint8_t pointer = space[PCI_CAPABILITY_LIST];
    if (!(status & PCI_STATUS_CAP_LIST)) {
        if (portType >= 0)
            problems.push_back("the Capabilities List bit of the Status register is clear on a PCI Express function");
    } else if (pointer == 0) {
        problems.push_back("the Capabilities List bit is set but the Capabilities Pointer is 00");
    } else {
        if (pointer & 3)
            problems.push_back("the Capabilities Pointer " + Hex(pointer, 2) + " is not dword-aligned");
        if (pointer < 0x40)
            problems.push_back("the Capabilities Pointer " + Hex(pointer, 2) + " points into the header");
    }
    if (layout == PCI_HEADER_TYPE_BRIDGE) {
        uint8_t secondary = space[PCI_SECONDARY_BUS];
        uint8_t subordinate = space[PCI_SUBORDINATE_BUS];
        if (subordinate < secondary)
            problems.push_back("the Subordinate Bus Number " + Hex(subordinate, 2) +
                               " is below the Secondary Bus Number " + Hex(secondary, 2));
    }
    return problems;
}

CapListReport CheckCapabilityLists(const std::vector<uint8_t>& space)
{
    CapListReport report;
    if (space.size() < 256) {
        report.problems.push_back("the configuration space could not be read");
        return report;
    }
    if (!(Get16(space, PCI_STATUS) & PCI_STATUS_CAP_LIST)) {
        report.notes.push_back("no legacy capability list (Capabilities List bit clear)");
    } else {
        std::set<uint32_t> visited;
        uint32_t ptr = space[PCI_CAPABILITY_LIST];
        unsigned count = 0;
        while (ptr != 0) {
            if (++count > kMaxLegacy) {
                report.problems.push_back("the legacy list has more than " + std::to_string(kMaxLegacy) + " entries");
                break;
            }
            if (ptr & 3) {
                report.problems.push_back("legacy pointer " + Hex(ptr, 2) + " is not dword-aligned");
                break;
            }
            if (ptr < 0x40) {
                report.problems.push_back("legacy pointer " + Hex(ptr, 2) + " points into the header");
                break;
            }
            if (!visited.insert(ptr).second) {
                report.problems.push_back("the legacy list loops back to " + Hex(ptr, 2));
                break;
            }
            report.legacyIds.push_back(space[ptr]);
            ptr = space[ptr + PCI_CAP_LIST_NEXT];
        }
    }

    if (space.size() < 4096) {
        report.notes.push_back("the extended configuration space could not be read; its list was not checked");
    } else {
        uint32_t header = Get32(space, 0x100);
        if (header == 0 || header == 0xffffffffu) {
            report.notes.push_back("no extended capability list");
        } else {
            std::set<uint32_t> visited;
            uint32_t off = 0x100;
            unsigned count = 0;
            while (off != 0) {
                if (++count > kMaxExtended) {
                    report.problems.push_back("the extended list has more than " + std::to_string(kMaxExtended) +
                                              " entries");
                    break;
                }
                if (off & 3) {
                    report.problems.push_back("extended pointer " + Hex(off, 3) + " is not dword-aligned");
                    break;
                }
                if (off < 0x100 || off > 0xffc) {
                    report.problems.push_back("extended pointer " + Hex(off, 3) +
                                              " lies outside the extended space (100-fff)");
                    break;
                }
                if (!visited.insert(off).second) {
                    report.problems.push_back("the extended list loops back to " + Hex(off, 3));
                    break;
                }
                header = Get32(space, off);
                if (header == 0xffffffffu) {
                    report.problems.push_back("the extended capability at " + Hex(off, 3) + " reads all ones");
                    break;
                }
                report.extendedIds.push_back(PCI_EXT_CAP_ID(header));
                off = header >> 20; /* all 12 bits: an unaligned pointer is a finding */
            }
        }
    }

    unsigned pcie = 0, aer = 0;
    for (uint32_t id : report.legacyIds)
        pcie += id == PCI_CAP_ID_EXP;
    for (uint32_t id : report.extendedIds)
        aer += id == PCI_EXT_CAP_ID_ERR;
    if (pcie > 1)
        report.problems.push_back("the PCI Express capability appears " + std::to_string(pcie) + " times");
    if (aer > 1)
        report.problems.push_back("the Advanced Error Reporting capability appears " + std::to_string(aer) + " times");
    return report;
}

std::string LinkText(uint16_t linkStatus)
{
    return "x" + std::to_string(LinkWidth(linkStatus)) + " at " + LinkSpeedText(LinkSpeed(linkStatus));
}

std::vector<std::string> CheckPcieCapability(const _PCIE_CAPABILITY_STRUCT_t& cap, std::vector<std::string>* notes)
{
    std::vector<std::string> problems;
    uint32_t version = cap.pcieCapabilities & PCI_EXP_FLAGS_VERS;
    uint32_t portType = (cap.pcieCapabilities & PCI_EXP_FLAGS_TYPE) >> 4;
    if (version != 1 && version != 2)
        problems.push_back("capability version " + std::to_string(version) + " is neither 1 nor 2");
    if (!PortTypeDefined(portType)) {
        problems.push_back("Device/Port Type " + std::to_string(portType) + " is reserved");
        return problems;
    }
    notes->push_back("version " + std::to_string(version) + ", " + PortTypeName(portType));
    if (!PortTypeHasLink(portType))
        return problems;

    uint32_t maxSpeed = cap.linkCapabilities & PCI_EXP_LNKCAP_SLS;
    uint32_t maxWidth = (cap.linkCapabilities & PCI_EXP_LNKCAP_MLW) >> 4;
    uint32_t speed = LinkSpeed(cap.linkStatus);
    uint32_t width = LinkWidth(cap.linkStatus);
    static const std::set<uint32_t> widths = {1, 2, 4, 8, 12, 16, 32};
    if (maxSpeed == 0 || LinkSpeedText(maxSpeed) == "unknown")
        problems.push_back("Link Capabilities offers no valid maximum speed (" + std::to_string(maxSpeed) + ")");
    if (!widths.count(maxWidth))
        problems.push_back("Link Capabilities offers no valid maximum width (x" + std::to_string(maxWidth) + ")");
    /* A downstream-facing port may have nothing attached; its link is then
     * down and there is nothing negotiated to compare. */
    bool downstream = portType == 4 || portType == 6 || portType == 8;
    if (width == 0 && downstream) {
        notes->push_back("link down (capable of x" + std::to_string(maxWidth) + " at " + LinkSpeedText(maxSpeed) + ")");
        return problems;
    }
    notes->push_back("link " + LinkText(cap.linkStatus) + ", capable of x" + std::to_string(maxWidth) + " at " +
                     LinkSpeedText(maxSpeed));
    if (!widths.count(width))
        problems.push_back("negotiated width x" + std::to_string(width) + " is not a valid link width");
    else if (width > maxWidth)
        problems.push_back("negotiated width x" + std::to_string(width) + " exceeds the maximum x" +
                           std::to_string(maxWidth));
    if (speed == 0 || LinkSpeedText(speed) == "unknown")
        problems.push_back("current link speed code " + std::to_string(speed) + " is not a valid speed");
    else if (speed > maxSpeed)
        problems.push_back("current link speed " + LinkSpeedText(speed) + " exceeds the maximum " +
                           LinkSpeedText(maxSpeed));
    return problems;
}

namespace {

struct Bit {
    uint32_t mask;
    const char* name;
};

template <size_t N>
std::string Decode(const Bit (&bits)[N], uint32_t value)
{
    std::string out;
    for (const Bit& bit : bits) {
        if (!out.empty())
            out += ' ';
        out += bit.name;
        out += (value & bit.mask) ? '+' : '-';
    }
    return out;
}

} // namespace

std::string DecodeUncorrectable(uint32_t value)
{
    static const Bit bits[] = {
        {PCI_ERR_UNC_UND, "Train"},  {PCI_ERR_UNC_DLP, "DLP"},       {PCI_ERR_UNC_SURPDN, "SDES"},
        {PCI_ERR_UNC_POISON_TLP, "TLP"}, {PCI_ERR_UNC_FCP, "FCP"},   {PCI_ERR_UNC_COMP_TIME, "CmpltTO"},
        {PCI_ERR_UNC_COMP_ABORT, "CmpltAbrt"}, {PCI_ERR_UNC_UNX_COMP, "UnxCmplt"}, {PCI_ERR_UNC_RX_OVER, "RxOF"},
        {PCI_ERR_UNC_MALF_TLP, "MalfTLP"}, {PCI_ERR_UNC_ECRC, "ECRC"}, {PCI_ERR_UNC_UNSUP, "UnsupReq"},
        {PCI_ERR_UNC_ACSV, "ACSViol"},
    };
    return Decode(bits, value);
}

std::string DecodeCorrectable(uint32_t value)
{
    static const Bit bits[] = {
        {PCI_ERR_COR_RCVR, "RxErr"},         {PCI_ERR_COR_BAD_TLP, "BadTLP"}, {PCI_ERR_COR_BAD_DLLP, "BadDLLP"},
        {PCI_ERR_COR_REP_ROLL, "Rollover"},  {PCI_ERR_COR_REP_TIMER, "Timeout"},
        {PCI_ERR_COR_ADV_NFAT, "AdvNonFatalErr"},
    };
    return Decode(bits, value);
}

} // namespace qorbcli
