/* Configuration space rules of the checklist. */
#include "config_rules.h"

#include <linux/pci_regs.h>

#include <set>

#include <qorb_common/aer_bits.h>
#include <qorb_common/cap_walk.h>

#include "names.h"

namespace qorbcli {

namespace {

uint16_t Get16(const std::vector<uint8_t>& s, size_t off) { return static_cast<uint16_t>(s[off] | s[off + 1] << 8); }

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
    qorb_caps::List legacy = qorb_caps::WalkLegacy(space.data(), space.size());
    if (!(Get16(space, PCI_STATUS) & PCI_STATUS_CAP_LIST))
        report.notes.push_back("no legacy capability list (Capabilities List bit clear)");
    if (legacy.unaligned)
        report.problems.push_back("legacy pointer " + Hex(legacy.unaligned, 2) + " is not dword-aligned");
    switch (legacy.end) {
    case qorb_caps::End::kTooMany:
        report.problems.push_back("the legacy list has more than " + std::to_string(qorb_caps::kMaxLegacy) +
                                  " entries");
        break;
    case qorb_caps::End::kIntoHeader:
        report.problems.push_back("legacy pointer " + Hex(legacy.at, 2) + " points into the header");
        break;
    case qorb_caps::End::kLoop:
        report.problems.push_back("the legacy list loops back to " + Hex(legacy.at, 2));
        break;
    default:
        break;
    }
    for (const qorb_caps::Cap& c : legacy.caps)
        report.legacyIds.push_back(c.id);

    if (space.size() < 4096) {
        report.notes.push_back("the extended configuration space could not be read; its list was not checked");
    } else {
        qorb_caps::List extended = qorb_caps::WalkExtended(space.data(), space.size());
        if (extended.unaligned)
            report.problems.push_back("extended pointer " + Hex(extended.unaligned, 3) + " is not dword-aligned");
        switch (extended.end) {
        case qorb_caps::End::kNoList:
            report.notes.push_back("no extended capability list");
            break;
        case qorb_caps::End::kTooMany:
            report.problems.push_back("the extended list has more than " + std::to_string(qorb_caps::kMaxExtended) +
                                      " entries");
            break;
        case qorb_caps::End::kIntoHeader:
            report.problems.push_back("extended pointer " + Hex(extended.at, 3) +
                                      " lies outside the extended space (100-fff)");
            break;
        case qorb_caps::End::kLoop:
            report.problems.push_back("the extended list loops back to " + Hex(extended.at, 3));
            break;
        case qorb_caps::End::kAllOnes:
            report.problems.push_back("the extended capability at " + Hex(extended.at, 3) + " reads all ones");
            break;
        default:
            break;
        }
        for (const qorb_caps::Cap& c : extended.caps)
            report.extendedIds.push_back(c.id);
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
    /* Built by appending: GCC 12 at -O3 takes "x" + std::to_string(...) for
     * an overlapping copy (-Werror=restrict, a known false positive). */
    std::string text = "x";
    text += std::to_string(LinkWidth(linkStatus));
    text += " at ";
    return text + LinkSpeedText(LinkSpeed(linkStatus));
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

template <size_t N>
std::string Decode(const qorb_aer::Bit (&bits)[N], uint32_t value)
{
    std::string out;
    for (const qorb_aer::Bit& bit : bits) {
        if (!out.empty())
            out += ' ';
        out += bit.name;
        out += (value & bit.mask) ? '+' : '-';
    }
    return out;
}

} // namespace

std::string DecodeUncorrectable(uint32_t value) { return Decode(qorb_aer::kUncorrectable, value); }

std::string DecodeCorrectable(uint32_t value) { return Decode(qorb_aer::kCorrectable, value); }

} // namespace qorbcli
