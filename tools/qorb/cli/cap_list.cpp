/* The tool's own walk of the capability lists, with structure sizes. */
#include "cap_list.h"

#include <linux/pci_regs.h>

#include <qorb_common/cap_walk.h>

#include "names.h"

namespace qorbcli {

namespace {

/* Registers of the PCI Express Base Specification that <linux/pci_regs.h>
 * does not name. */
constexpr uint32_t kMsiExtendedData = 0x0200; /* MSI Message Control: Extended Message Data Capable */
constexpr uint32_t kRcecAssocBuses = 0x08; /* RCEC Endpoint Association: bus numbers, version 2 */
constexpr uint32_t kRcldLinkEntries = 0x05; /* Root Complex Link Declaration: number of link entries */
constexpr uint32_t kAcsEgressControl = 0x0020; /* ACS Capability: Egress Control */
constexpr uint32_t kDpcRootPortExtensions = 0x0020; /* DPC Capability: RP Extensions for DPC */
constexpr uint32_t kDvsecHeader2 = 0x08; /* DVSEC Header 2: DVSEC ID */

unsigned RoundUp4(unsigned n) { return (n + 3) & ~3u; }

bool IsRootOrCollector(unsigned portType)
{
    return portType == PCI_EXP_TYPE_ROOT_PORT || portType == PCI_EXP_TYPE_RC_EC;
}

/* The PCI Express capability ends after the last register its version and
 * port type give it: version 1 ends at Link Status, Slot Status or Root
 * Status; version 2 adds the Device, Link and Slot 2 registers. */
int ExpressSize(const ExpressInfo& e)
{
    bool link = e.portType != PCI_EXP_TYPE_RC_END && e.portType != PCI_EXP_TYPE_RC_EC;
    bool slot = e.portType == PCI_EXP_TYPE_ROOT_PORT || e.portType == PCI_EXP_TYPE_DOWNSTREAM ||
        e.portType == PCI_EXP_TYPE_PCIE_BRIDGE;
    if (e.version >= 2) {
        if (!link)
            return PCI_CAP_EXP_RC_ENDPOINT_SIZEOF_V2;
        return slot ? PCI_EXP_SLTSTA2 + 2 : PCI_EXP_LNKSTA2 + 2;
    }
    if (IsRootOrCollector(e.portType))
        return PCI_EXP_RTSTA + 4;
    if (!link)
        return PCI_CAP_EXP_RC_ENDPOINT_SIZEOF_V1;
    return slot ? PCI_EXP_SLTSTA + 2 : PCI_CAP_EXP_ENDPOINT_SIZEOF_V1;
}

int MsiSize(uint32_t control)
{
    bool wide = control & PCI_MSI_FLAGS_64BIT;
    if (control & PCI_MSI_FLAGS_MASKBIT)
        return (wide ? PCI_MSI_PENDING_64 : PCI_MSI_PENDING_32) + 4;
    uint32_t data = wide ? PCI_MSI_DATA_64 : PCI_MSI_DATA_32;
    return static_cast<int>(data + (control & kMsiExtendedData ? 4 : 2));
}

/* Enhanced Allocation: a header (and a bus number dword in type 1 headers),
 * then entries whose own Entry Size says how many dwords follow them. */
int EaSize(const std::vector<uint8_t>& image, uint32_t at)
{
    uint32_t entries = ImageGet(image, at + PCI_EA_NUM_ENT, 1) & PCI_EA_NUM_ENT_MASK;
    bool bridge = (ImageGet(image, PCI_HEADER_TYPE, 1) & 0x7f) == PCI_HEADER_TYPE_BRIDGE;
    uint32_t size = bridge ? PCI_EA_FIRST_ENT_BRIDGE : PCI_EA_FIRST_ENT;
    for (uint32_t i = 0; i < entries; i++) {
        if (at + size >= 0x100)
            return -1;
        size += 4 + 4 * (ImageGet(image, at + size, 4) & PCI_EA_ES);
    }
    return at + size <= 0x100 ? static_cast<int>(size) : -1;
}

int VcSize(const std::vector<uint8_t>& image, uint32_t at)
{
    uint32_t count = ImageGet(image, at + PCI_VC_PORT_CAP1, 4) & PCI_VC_CAP1_EVCC;
    return PCI_CAP_VC_BASE_SIZEOF + PCI_CAP_VC_PER_VC_SIZEOF * static_cast<int>(count + 1);
}

int AcsSize(const std::vector<uint8_t>& image, uint32_t at)
{
    uint32_t cap = ImageGet(image, at + PCI_ACS_CAP, 2);
    if (!(cap & kAcsEgressControl))
        return 8;
    uint32_t bits = cap >> 8 ? cap >> 8 : 256; /* Egress Control Vector Size, 0 meaning 256 */
    return 8 + static_cast<int>(RoundUp4((bits + 7) / 8));
}

int DpcSize(const std::vector<uint8_t>& image, uint32_t at)
{
    uint32_t cap = ImageGet(image, at + PCI_EXP_DPC_CAP, 2);
    if (!(cap & kDpcRootPortExtensions))
        return PCI_EXP_DPC_STATUS + 4;
    uint32_t logDwords = (cap & PCI_EXP_DPC_RP_PIO_LOG_SIZE) >> 8;
    return PCI_EXP_DPC_RP_PIO_HEADER_LOG + 4 * static_cast<int>(logDwords);
}

int TphSize(const std::vector<uint8_t>& image, uint32_t at)
{
    uint32_t cap = ImageGet(image, at + PCI_TPH_CAP, 4);
    if ((cap & PCI_TPH_CAP_LOC_MASK) != PCI_TPH_LOC_CAP)
        return PCI_TPH_BASE_SIZEOF;
    uint32_t entries = ((cap & PCI_TPH_CAP_ST_MASK) >> PCI_TPH_CAP_ST_SHIFT) + 1;
    return PCI_TPH_BASE_SIZEOF + static_cast<int>(RoundUp4(2 * entries));
}

int LegacySize(const std::vector<uint8_t>& image, const RawCap& cap, const ExpressInfo& express)
{
    uint32_t at = cap.offset;
    switch (cap.id) {
    case PCI_CAP_ID_PM:
        return PCI_PM_SIZEOF;
    case PCI_CAP_ID_AGP:
        return PCI_AGP_SIZEOF;
    case PCI_CAP_ID_VPD:
        return PCI_CAP_VPD_SIZEOF;
    case PCI_CAP_ID_SLOTID:
    case PCI_CAP_ID_CHSWP:
    case PCI_CAP_ID_DBG:
        return 4;
    case PCI_CAP_ID_SHPC:
    case PCI_CAP_ID_SSVID:
        return 8;
    case PCI_CAP_ID_MSI:
        return MsiSize(ImageGet(image, at + PCI_MSI_FLAGS, 2));
    case PCI_CAP_ID_MSIX:
        return PCI_CAP_MSIX_SIZEOF;
    case PCI_CAP_ID_EXP:
        return express.offset == cap.offset ? ExpressSize(express) : -1;
    case PCI_CAP_ID_VNDR:
    case PCI_CAP_ID_AF:
        return static_cast<int>(ImageGet(image, at + 2, 1));
    case PCI_CAP_ID_SATA:
        return (ImageGet(image, at + PCI_SATA_REGS, 1) & PCI_SATA_REGS_MASK) == PCI_SATA_REGS_INLINE
            ? PCI_SATA_SIZEOF_LONG
            : PCI_SATA_SIZEOF_SHORT;
    case PCI_CAP_ID_EA:
        return EaSize(image, at);
    case PCI_CAP_ID_PCIX:
        if ((ImageGet(image, PCI_HEADER_TYPE, 1) & 0x7f) == PCI_HEADER_TYPE_BRIDGE)
            return ImageGet(image, at + PCI_X_BRIDGE_SSTATUS, 2) & PCI_X_SSTATUS_VERS ? 0x20 : 0x10;
        return PCI_X_CMD_VERSION(ImageGet(image, at + PCI_X_CMD, 2)) ? PCI_CAP_PCIX_SIZEOF_V1 : PCI_CAP_PCIX_SIZEOF_V0;
    case PCI_CAP_ID_HT: {
        uint32_t type = ImageGet(image, at + 3, 1) & HT_3BIT_CAP_MASK;
        return type == HT_CAPTYPE_SLAVE ? HT_CAP_SIZEOF_LONG : type == HT_CAPTYPE_HOST ? HT_CAP_SIZEOF_SHORT : -1;
    }
    default:
        return -1;
    }
}

int ExtendedSize(const std::vector<uint8_t>& image, const RawCap& cap, const ExpressInfo& express)
{
    uint32_t at = cap.offset;
    int width = static_cast<int>(express.maxWidth);
    switch (cap.id) {
    case PCI_EXT_CAP_ID_ERR: {
        int size = IsRootOrCollector(express.portType) ? PCI_ERR_ROOT_ERR_SRC + 4 : PCI_ERR_ROOT_COMMAND;
        return express.tlpPrefix ? PCI_ERR_ROOT_ERR_SRC + 4 + 16 : size;
    }
    case PCI_EXT_CAP_ID_VC:
    case PCI_EXT_CAP_ID_VC9:
    case PCI_EXT_CAP_ID_MFVC:
        return VcSize(image, at);
    case PCI_EXT_CAP_ID_DSN:
        return PCI_EXT_CAP_DSN_SIZEOF;
    case PCI_EXT_CAP_ID_PWR:
        return PCI_EXT_CAP_PWR_SIZEOF;
    case PCI_EXT_CAP_ID_RCLD:
        return 0x10 + 0x10 * static_cast<int>(ImageGet(image, at + kRcldLinkEntries, 1));
    case PCI_EXT_CAP_ID_RCILC:
        return 0x0c;
    case PCI_EXT_CAP_ID_RCEC:
        return cap.version >= 2 ? kRcecAssocBuses + 4 : kRcecAssocBuses;
    case PCI_EXT_CAP_ID_RCRB:
        return 0x14;
    case PCI_EXT_CAP_ID_VNDR:
    case PCI_EXT_CAP_ID_DVSEC:
        return static_cast<int>(PCI_VNDR_HEADER_LEN(ImageGet(image, at + PCI_VNDR_HEADER, 4)));
    case PCI_EXT_CAP_ID_ACS:
        return AcsSize(image, at);
    case PCI_EXT_CAP_ID_ARI:
        return PCI_EXT_CAP_ARI_SIZEOF;
    case PCI_EXT_CAP_ID_ATS:
        return PCI_EXT_CAP_ATS_SIZEOF;
    case PCI_EXT_CAP_ID_SRIOV:
        return PCI_EXT_CAP_SRIOV_SIZEOF;
    case PCI_EXT_CAP_ID_MCAST:
        return express.portType == PCI_EXP_TYPE_ENDPOINT ? PCI_EXT_CAP_MCAST_ENDPOINT_SIZEOF : 0x30;
    case PCI_EXT_CAP_ID_PRI:
        return PCI_EXT_CAP_PRI_SIZEOF;
    case PCI_EXT_CAP_ID_REBAR:
    case 0x24: /* VF Resizable BAR */ {
        uint32_t bars =
            (ImageGet(image, at + PCI_REBAR_CTRL, 4) & PCI_REBAR_CTRL_NBAR_MASK) >> PCI_REBAR_CTRL_NBAR_SHIFT;
        return 4 + 8 * static_cast<int>(bars);
    }
    case PCI_EXT_CAP_ID_DPA:
        return PCI_DPA_BASE_SIZEOF +
            static_cast<int>(RoundUp4((ImageGet(image, at + PCI_DPA_CAP, 4) & PCI_DPA_CAP_SUBSTATE_MASK) + 1));
    case PCI_EXT_CAP_ID_TPH:
        return TphSize(image, at);
    case PCI_EXT_CAP_ID_LTR:
        return PCI_EXT_CAP_LTR_SIZEOF;
    case PCI_EXT_CAP_ID_SECPCI:
        return width ? 0x0c + static_cast<int>(RoundUp4(2 * width)) : -1;
    case PCI_EXT_CAP_ID_PASID:
        return PCI_EXT_CAP_PASID_SIZEOF;
    case 0x1c: /* LN Requester */
        return 8;
    case PCI_EXT_CAP_ID_DPC:
        return DpcSize(image, at);
    case PCI_EXT_CAP_ID_L1SS:
        return 0x10;
    case PCI_EXT_CAP_ID_PTM:
        return 0x0c;
    case 0x21: /* FRS Queueing */
        return 0x10;
    case 0x22: /* Readiness Time Reporting */
        return 0x0c;
    case PCI_EXT_CAP_ID_DLF:
        return 0x0c;
    case PCI_EXT_CAP_ID_PL_16GT:
        return width ? 0x20 + static_cast<int>(RoundUp4(width)) : -1;
    case 0x27: /* Lane Margining at the Receiver */
        return width ? 8 + 4 * width : -1;
    case 0x29: /* Native PCIe Enclosure Management */
        return 0x10;
    case PCI_EXT_CAP_ID_DOE:
        return 0x18;
    default:
        return -1;
    }
}

ExpressInfo ReadExpress(const std::vector<uint8_t>& image, uint16_t at)
{
    ExpressInfo e;
    e.present = true;
    e.offset = at;
    uint32_t flags = ImageGet(image, at + PCI_EXP_FLAGS, 2);
    e.version = flags & PCI_EXP_FLAGS_VERS;
    e.portType = (flags & PCI_EXP_FLAGS_TYPE) >> 4;
    e.slot = flags & PCI_EXP_FLAGS_SLOT;
    if (at + PCI_EXP_LNKCAP + 4u <= image.size())
        e.maxWidth = (ImageGet(image, at + PCI_EXP_LNKCAP, 4) & PCI_EXP_LNKCAP_MLW) >> 4;
    if (e.version >= 2 && at + PCI_EXP_DEVCAP2 + 4u <= image.size())
        e.tlpPrefix = ImageGet(image, at + PCI_EXP_DEVCAP2, 4) & PCI_EXP_DEVCAP2_EE_PREFIX;
    return e;
}

std::string Hex2(uint32_t v) { return Hex(v, 2); }

/* lspci's identification of vendor-specific structures on their line. */
std::string DescribedName(const std::vector<uint8_t>& image, const RawCap& cap)
{
    std::string name = RawCapName(cap.extended, cap.id);
    if (!cap.extended && cap.id == PCI_CAP_ID_VNDR)
        return name + ": Len=" + Hex2(ImageGet(image, cap.offset + 2, 1));
    uint32_t header = ImageGet(image, cap.offset + PCI_VNDR_HEADER, 4);
    if (cap.extended && cap.id == PCI_EXT_CAP_ID_VNDR)
        return name + ": ID=" + Hex(PCI_VNDR_HEADER_ID(header), 4) +
            " Rev=" + std::to_string(PCI_VNDR_HEADER_REV(header)) + " Len=" + Hex(PCI_VNDR_HEADER_LEN(header), 3);
    if (cap.extended && cap.id == PCI_EXT_CAP_ID_DVSEC)
        return name + ": Vendor=" + Hex(PCI_VNDR_HEADER_ID(header), 4) +
            " ID=" + Hex(ImageGet(image, cap.offset + kDvsecHeader2, 2), 4) +
            " Rev=" + std::to_string(PCI_VNDR_HEADER_REV(header)) +
            " Len=" + std::to_string(PCI_VNDR_HEADER_LEN(header));
    return name;
}

/* A finding for how a walk ended, or "" when it ended well. */
std::string EndFinding(const qorb_caps::List& list, bool extended, size_t imageSize)
{
    const char* which = extended ? "extended" : "legacy";
    int digits = extended ? 3 : 2;
    std::string after = list.caps.empty() ? std::string(extended ? " at the start" : " in the Capabilities Pointer")
                                          : " after [" + Hex(list.caps.back().offset, digits) + "]";
    std::string at = Hex(list.at, digits);
    switch (list.end) {
    case qorb_caps::End::kEnd:
    case qorb_caps::End::kNoList:
        return "";
    case qorb_caps::End::kIntoHeader:
        return std::string("the ") + which + " list points into the header: pointer " + at + after;
    case qorb_caps::End::kOutOfSpace:
        if (!extended && imageSize < qorb_caps::kLegacyEnd)
            return "the legacy list at " + at + " cannot be read: only " + std::to_string(imageSize) +
                " bytes of configuration space could be read" +
                (imageSize <= 64 ? " (reading beyond the header needs root)" : "");
        return std::string("the ") + which + " list points outside configuration space: pointer " + at + after;
    case qorb_caps::End::kLoop:
        return std::string("the ") + which + " list loops back to " + at + after;
    case qorb_caps::End::kAllOnes:
        return "the extended header at " + at + after + " reads ffffffff";
    case qorb_caps::End::kTooMany:
        return std::string("the ") + which + " list holds more capabilities than fit; the walk stopped at " + at;
    }
    return "";
}

void AddList(RawCapList& out, const qorb_caps::List& list, bool extended, const std::vector<uint8_t>& image)
{
    for (const qorb_caps::Cap& c : list.caps) {
        RawCap cap;
        cap.offset = c.offset;
        cap.id = c.id;
        cap.extended = extended;
        cap.version = c.version;
        cap.next =
            static_cast<uint16_t>(extended ? ImageGet(image, c.offset, 4) >> 20 : ImageGet(image, c.offset + 1, 1));
        out.caps.push_back(cap);
    }
    std::string finding = EndFinding(list, extended, image.size());
    if (!finding.empty())
        out.findings.push_back(finding);
    if (list.unaligned)
        out.findings.push_back(std::string("the ") + (extended ? "extended" : "legacy") + " pointer " +
                               Hex(list.unaligned, extended ? 3 : 2) +
                               " has its reserved low bits set (followed as dword-aligned)");
}

} // namespace

uint32_t ImageGet(const std::vector<uint8_t>& image, uint32_t at, unsigned width)
{
    uint32_t value = 0;
    for (unsigned i = width; i-- > 0;)
        value = value << 8 | (at + i < image.size() ? image[at + i] : 0xff);
    return value;
}

std::string RawCapName(bool extended, uint16_t id)
{
    std::string name = extended ? ExtendedCapName(id) : LegacyCapName(id);
    if (!name.empty())
        return name;
    return (extended ? "Extended Capability ID 0x" : "Capability ID 0x") + Hex(id, 1);
}

int CapStructureSize(const std::vector<uint8_t>& image, const RawCap& cap, const ExpressInfo& express)
{
    int size = cap.extended ? ExtendedSize(image, cap, express) : LegacySize(image, cap, express);
    return size > 0 ? size : -1;
}

RawCapList ReadCapLists(const std::vector<uint8_t>& image)
{
    RawCapList out;
    AddList(out, qorb_caps::WalkLegacy(image.data(), image.size()), false, image);
    for (const RawCap& cap : out.caps) {
        if (cap.id == PCI_CAP_ID_EXP) {
            out.express = ReadExpress(image, cap.offset);
            break;
        }
    }
    if (out.express.present && image.size() > qorb_caps::kExtendedStart) {
        out.extendedWalked = true;
        AddList(out, qorb_caps::WalkExtended(image.data(), image.size()), true, image);
    }
    for (RawCap& cap : out.caps) {
        cap.size = CapStructureSize(image, cap, out.express);
        cap.name = DescribedName(image, cap);
    }
    return out;
}

const RawCap* FindRawCap(const RawCapList& list, bool extended, uint16_t id)
{
    for (const RawCap& cap : list.caps)
        if (cap.extended == extended && cap.id == id)
            return &cap;
    return nullptr;
}

} // namespace qorbcli
