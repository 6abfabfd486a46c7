/* The built-in platform, assembled register by register:
 *
 *   00:00.0 host bridge
 *   00:01.0 root port ---- 01:00.0 switch upstream port
 *                            02:00.0 downstream port -- 03:00.0 endpoint
 *                            02:01.0 downstream port -- 04:00.0 endpoint, 04:00.1 legacy endpoint
 *                            02:02.0 downstream port (empty slot, link down)
 *   00:02.0 root port ---- 06:00.0 endpoint
 *   00:03.0 root port ---- 07:00.0 ZEB upstream port -- 08:00.0 ZEB downstream port -- 09:00.0 DUT
 *   00:1c.0 root port ---- 0a:00.0 PCI Express to PCI bridge -- 0b:02.0 conventional PCI device
 *   00:1d.0 root port ---- 0d:00.0 defective endpoint (registers that break the rules on purpose)
 *   00:1f.0 root complex integrated endpoint */
#include "sim_builtin.h"

#include <linux/pci_regs.h>

namespace qorbsim {
namespace {

/* Link speeds as the Current Link Speed field codes them. */
constexpr uint8_t kGen1 = 1;
constexpr uint8_t kGen2 = 2;
constexpr uint8_t kGen3 = 3;

/* The PCI Express capability's port and link registers. */
struct Express {
    uint8_t type;          /* PCI_EXP_TYPE_* */
    uint8_t maxSpeed;      /* Link Capabilities */
    uint8_t maxWidth;
    uint8_t portNumber;
    uint8_t speed;         /* Link Status: the trained link; width 0 = no link */
    uint8_t width;
    uint8_t slot = 0;      /* physical slot number; 0 = no slot */
};

bool IsDownstreamPort(uint8_t type)
{
    return type == PCI_EXP_TYPE_ROOT_PORT || type == PCI_EXP_TYPE_DOWNSTREAM;
}

class Builder {
public:
    Builder(uint8_t bus, uint8_t dev, uint8_t fn, uint32_t length = kConfigSpaceSize)
    {
        m_image.bus = bus;
        m_image.dev = dev;
        m_image.fn = fn;
        m_image.length = length;
        m_image.origin = "built-in";
    }

    Builder& Id(uint16_t vendor, uint16_t device, uint32_t classCode, uint8_t headerType)
    {
        Set16(PCI_VENDOR_ID, vendor);
        Set16(PCI_DEVICE_ID, device);
        Set32(PCI_CLASS_REVISION, classCode << 8 | 0x01);
        Set8(PCI_HEADER_TYPE, headerType);
        Set16(PCI_COMMAND, PCI_COMMAND_MEMORY | PCI_COMMAND_MASTER);
        if ((headerType & 0x7F) == PCI_HEADER_TYPE_NORMAL) {
            Set16(PCI_SUBSYSTEM_VENDOR_ID, vendor);
            Set16(PCI_SUBSYSTEM_ID, device);
        }
        return *this;
    }

    /* Bus numbers and closed I/O and memory windows of a type 1 header. */
    Builder& Buses(uint8_t primary, uint8_t secondary, uint8_t subordinate)
    {
        Set8(PCI_PRIMARY_BUS, primary);
        Set8(PCI_SECONDARY_BUS, secondary);
        Set8(PCI_SUBORDINATE_BUS, subordinate);
        Set8(PCI_IO_BASE, 0xF0);
        Set16(PCI_MEMORY_BASE, 0xFFF0);
        Set16(PCI_PREF_MEMORY_BASE, 0xFFF1);
        Set16(PCI_PREF_MEMORY_LIMIT, 0x0001);
        Set16(PCI_COMMAND, PCI_COMMAND_IO | PCI_COMMAND_MEMORY | PCI_COMMAND_MASTER);
        return *this;
    }

    Builder& Bar0(uint32_t address)
    {
        Set32(PCI_BASE_ADDRESS_0, address);
        Set8(PCI_INTERRUPT_PIN, 1);
        return *this;
    }

    Builder& PowerManagement(uint8_t at)
    {
        Cap(at, PCI_CAP_ID_PM);
        Set16(at + PCI_PM_PMC, 0xC803);   /* version 3, PME from D0, D3hot, D3cold */
        Set16(at + PCI_PM_CTRL, PCI_PM_CTRL_NO_SOFT_RESET);
        return *this;
    }

    Builder& Msi(uint8_t at, bool is64)
    {
        Cap(at, PCI_CAP_ID_MSI);
        Set16(at + PCI_MSI_FLAGS, is64 ? PCI_MSI_FLAGS_64BIT | 0x0006 : 0x0000);   /* 64-bit: 8 vectors */
        return *this;
    }

    Builder& MsiX(uint8_t at, uint16_t vectors)
    {
        Cap(at, PCI_CAP_ID_MSIX);
        Set16(at + PCI_MSIX_FLAGS, static_cast<uint16_t>(vectors - 1));
        Set32(at + PCI_MSIX_TABLE, 0x00002000);   /* BAR 0, offset 0x2000 */
        Set32(at + PCI_MSIX_PBA, 0x00003000);
        return *this;
    }

    /* A vendor-specific capability: its third byte gives its length. */
    Builder& VendorSpecific(uint8_t at, uint8_t length)
    {
        Cap(at, PCI_CAP_ID_VNDR);
        Set8(at + 2, length);
        for (uint8_t i = 3; i < length; ++i)
            Set8(at + i, static_cast<uint8_t>(0xA0 + i));
        return *this;
    }

    Builder& PciExpress(uint8_t at, const Express& e)
    {
        Cap(at, PCI_CAP_ID_EXP);
        bool downstream = IsDownstreamPort(e.type);
        bool linkUp = e.width != 0;
        Set16(at + PCI_EXP_FLAGS, static_cast<uint16_t>(2 | e.type << 4 | (e.slot ? PCI_EXP_FLAGS_SLOT : 0)));
        bool function = e.type == PCI_EXP_TYPE_ENDPOINT || e.type == PCI_EXP_TYPE_LEG_END ||
                        e.type == PCI_EXP_TYPE_RC_END;
        /* Max payload 256 bytes, role-based error reporting; endpoints also
         * accept any L0s/L1 latency and can do a function level reset. */
        Set32(at + PCI_EXP_DEVCAP, function ? 0x10008FC1 : 0x00008001);
        Set16(at + PCI_EXP_DEVCTL, function ? 0x2810 : 0x0000);
        if (e.type != PCI_EXP_TYPE_RC_END) {
            uint32_t lnkcap = e.maxSpeed | e.maxWidth << 4 | PCI_EXP_LNKCAP_ASPMS | 5u << 12 | 6u << 15 |
                              static_cast<uint32_t>(e.portNumber) << 24;
            if (downstream)
                lnkcap |= PCI_EXP_LNKCAP_DLLLARC;
            Set32(at + PCI_EXP_LNKCAP, lnkcap);
            Set16(at + PCI_EXP_LNKCTL, PCI_EXP_LNKCTL_CCC);
            uint16_t lnksta = static_cast<uint16_t>((linkUp ? e.speed : kGen1) | e.width << 4);
            if (linkUp)
                lnksta |= PCI_EXP_LNKSTA_SLC;
            if (downstream && linkUp)
                lnksta |= PCI_EXP_LNKSTA_DLLLA;
            Set16(at + PCI_EXP_LNKSTA, lnksta);
            Set32(at + PCI_EXP_LNKCAP2, ((1u << e.maxSpeed) - 1) << 1);
            Set16(at + PCI_EXP_LNKCTL2, e.maxSpeed);
        }
        if (e.slot) {
            /* 25 W slot power limit, the slot number in bits 31:19. */
            Set32(at + PCI_EXP_SLTCAP, static_cast<uint32_t>(e.slot) << 19 | 25u << 7);
            Set16(at + PCI_EXP_SLTSTA, linkUp ? PCI_EXP_SLTSTA_PDS : 0);
        }
        /* Completion timeout ranges A to D and its disable; ARI forwarding
         * on downstream ports. */
        Set32(at + PCI_EXP_DEVCAP2, downstream ? 0x0000003F : 0x0000001F);
        return *this;
    }

    Builder& Aer(uint16_t at)
    {
        ExtCap(at, PCI_EXT_CAP_ID_ERR, 2);
        Set32(at + PCI_ERR_UNCOR_SEVER, 0x00462030);   /* the severities a reset leaves */
        Set32(at + PCI_ERR_COR_MASK, PCI_ERR_COR_ADV_NFAT);
        Set32(at + PCI_ERR_CAP, PCI_ERR_CAP_ECRC_GENC | PCI_ERR_CAP_ECRC_CHKC);
        return *this;
    }

    Builder& VirtualChannel(uint16_t at)
    {
        ExtCap(at, PCI_EXT_CAP_ID_VC, 1);
        Set32(at + PCI_VC_RES_CAP, 0x00000001);
        Set32(at + PCI_VC_RES_CTRL, PCI_VC_RES_CTRL_ENABLE | 0xFF);   /* VC0 carries all traffic classes */
        return *this;
    }

    Builder& SerialNumber(uint16_t at, uint64_t serial)
    {
        ExtCap(at, PCI_EXT_CAP_ID_DSN, 1);
        Set32(at + 4, static_cast<uint32_t>(serial));
        Set32(at + 8, static_cast<uint32_t>(serial >> 32));
        return *this;
    }

    Builder& PowerBudgeting(uint16_t at)
    {
        ExtCap(at, PCI_EXT_CAP_ID_PWR, 1);
        Set8(at + PCI_PWR_CAP, 0x01);   /* included in the system allocation */
        return *this;
    }

    Builder& Ltr(uint16_t at)
    {
        ExtCap(at, PCI_EXT_CAP_ID_LTR, 1);
        return *this;
    }

    Builder& L1Substates(uint16_t at, uint32_t capabilities)
    {
        ExtCap(at, PCI_EXT_CAP_ID_L1SS, 1);
        Set32(at + PCI_L1SS_CAP, capabilities);
        return *this;
    }

    /* Overwrites a register the steps above set. */
    Builder& Patch(uint32_t at, uint32_t value, int width)
    {
        for (int i = 0; i < width; ++i)
            Set8(at + i, static_cast<uint8_t>(value >> (8 * i)));
        return *this;
    }

    /* Bits that take every write (writable) or ignore every write. */
    Builder& Quirk(uint16_t at, uint32_t mask, bool writable)
    {
        m_image.quirks.push_back({at, mask, writable});
        return *this;
    }

    FunctionImage Done() { return m_image; }

private:
    void Set8(uint32_t at, uint8_t value) { m_image.bytes[at] = value; }
    void Set16(uint32_t at, uint16_t value)
    {
        Set8(at, static_cast<uint8_t>(value));
        Set8(at + 1, static_cast<uint8_t>(value >> 8));
    }
    void Set32(uint32_t at, uint32_t value)
    {
        Set16(at, static_cast<uint16_t>(value));
        Set16(at + 2, static_cast<uint16_t>(value >> 16));
    }

    /* Appends a legacy capability to the list. */
    void Cap(uint8_t at, uint8_t id)
    {
        if (m_lastCap)
            Set8(m_lastCap + PCI_CAP_LIST_NEXT, at);
        else
            Set8(PCI_CAPABILITY_LIST, at);
        Set16(PCI_STATUS, PCI_STATUS_CAP_LIST);
        Set8(at + PCI_CAP_LIST_ID, id);
        Set8(at + PCI_CAP_LIST_NEXT, 0);
        m_lastCap = at;
    }

    /* Appends an extended capability to the list starting at 0x100. */
    void ExtCap(uint16_t at, uint16_t id, uint8_t version)
    {
        if (m_lastExtCap)
            Set32(m_lastExtCap, (m_image.bytes[m_lastExtCap] | m_image.bytes[m_lastExtCap + 1] << 8 |
                                 m_image.bytes[m_lastExtCap + 2] << 16) | static_cast<uint32_t>(at) << 20);
        Set32(at, id | static_cast<uint32_t>(version) << 16);
        m_lastExtCap = at;
    }

    FunctionImage m_image;
    uint8_t m_lastCap = 0;
    uint16_t m_lastExtCap = 0;
};

constexpr uint32_t kBridgeClass = 0x060400;
/* Header Type of a type 0 function of a multi-function device. */
constexpr uint8_t kMultiFunction = PCI_HEADER_TYPE_NORMAL | 0x80;

FunctionImage RootPort(uint8_t dev, uint8_t secondary, uint8_t subordinate, const Express& e, bool msi64)
{
    Builder b(0, dev, 0);
    b.Id(kBuiltinVendor, 0x1001, kBridgeClass, PCI_HEADER_TYPE_BRIDGE)
        .Buses(0, secondary, subordinate)
        .PciExpress(0x40, e)
        .PowerManagement(0x80)
        .Msi(0x90, msi64)
        .Aer(0x100);
    if (e.maxWidth > 1)
        b.VirtualChannel(0x148);
    return b.Done();
}

FunctionImage SwitchDownstreamPort(uint16_t vendor, uint16_t device, uint8_t bus, uint8_t dev, uint8_t secondary,
                                   const Express& e)
{
    return Builder(bus, dev, 0)
        .Id(vendor, device, kBridgeClass, PCI_HEADER_TYPE_BRIDGE)
        .Buses(bus, secondary, secondary)
        .PciExpress(0x40, e)
        .PowerManagement(0x80)
        .Msi(0x90, false)
        .Aer(0x100)
        .VirtualChannel(0x148)
        .Done();
}

/* An endpoint at BB:00.0 with every capability the library sizes. */
FunctionImage FullEndpoint(uint8_t bus, uint16_t device, uint32_t classCode, uint32_t bar, uint8_t width,
                           uint8_t vendorLength)
{
    return Builder(bus, 0x00, 0)
        .Id(kBuiltinVendor, device, classCode, PCI_HEADER_TYPE_NORMAL)
        .Bar0(bar)
        .PowerManagement(0x40)
        .Msi(0x50, true)
        .PciExpress(0x70, Express{PCI_EXP_TYPE_ENDPOINT, kGen3, width, 0, kGen3, width})
        .MsiX(0xB0, 8)
        .VendorSpecific(0xC0, vendorLength)
        .Aer(0x100)
        .VirtualChannel(0x148)
        .SerialNumber(0x168, 0x5153000000000000ull | static_cast<uint64_t>(bus) << 16)
        .PowerBudgeting(0x178)
        .Done();
}

/* 0d:00.0: an endpoint whose registers break the rules of "qorb check",
 * one defect per rule (docs/checklist.md, "The defective DUT"). */
FunctionImage DefectiveEndpoint()
{
    constexpr uint8_t kPcie = 0x70;
    constexpr uint16_t kL1ss = 0x160;
    return Builder(0x0D, 0x00, 0)
        .Id(kBuiltinVendor, 0x1060, 0x120000, PCI_HEADER_TYPE_NORMAL)
        .Bar0(0xF3000000)
        .PowerManagement(0x40)
        .Msi(0x50, true)
        .PciExpress(kPcie, Express{PCI_EXP_TYPE_ENDPOINT, kGen3, 4, 0, kGen2, 8})
        .MsiX(0xB0, 8)
        .Aer(0x100)
        .SerialNumber(0x148, 0x51530000000D0000ull)
        .Ltr(0x158)
        .L1Substates(kL1ss, PCI_L1SS_CAP_ASPM_L1_1 | PCI_L1SS_CAP_L1_PM_SS)
        /* MSI: Multiple Message Capable 6, beyond 32 vectors. */
        .Patch(0x50 + PCI_MSI_FLAGS, PCI_MSI_FLAGS_64BIT | 6 << 1, 2)
        /* Slot Implemented on an endpoint. */
        .Patch(kPcie + PCI_EXP_FLAGS, 2 | PCI_EXP_TYPE_ENDPOINT << 4 | PCI_EXP_FLAGS_SLOT, 2)
        /* Max_Read_Request_Size 7, an undefined encoding. */
        .Patch(kPcie + PCI_EXP_DEVCTL, 0x7810, 2)
        /* Correctable Error Detected, and reserved bit 15 set. */
        .Patch(kPcie + PCI_EXP_DEVSTA, 0x8000 | PCI_EXP_DEVSTA_CED, 2)
        /* 8 GT/s at most, ASPM L0s only, while the vector offers 2.5 and 5
         * GT/s and the link trained x8 on an x4 function. */
        .Patch(kPcie + PCI_EXP_LNKCAP, kGen3 | 4 << 4 | 1 << 10 | 5 << 12 | 6 << 15, 4)
        .Patch(kPcie + PCI_EXP_LNKCAP2, PCI_EXP_LNKCAP2_SLS_2_5GB | PCI_EXP_LNKCAP2_SLS_5_0GB, 4)
        .Patch(kPcie + PCI_EXP_LNKCTL2, kGen2, 2)
        /* The MSI-X table in BAR 2, which is not implemented. */
        .Patch(0xB0 + PCI_MSIX_TABLE, 0x00002002, 4)
        /* Device Serial Number version 2; the extended list loops after
         * L1 PM Substates back to AER. */
        .Patch(0x148, PCI_EXT_CAP_ID_DSN | 2 << 16 | 0x158 << 20, 4)
        .Patch(kL1ss, PCI_EXT_CAP_ID_L1SS | 1 << 16 | 0x100 << 20, 4)
        /* Writes: Subsystem ID takes them, reserved Command bits take them,
         * Correctable Error Detected does not clear, Correctable Error
         * Reporting Enable ignores them. */
        .Quirk(PCI_SUBSYSTEM_VENDOR_ID, 0xFFFF0000, true)
        .Quirk(PCI_COMMAND, 0x0000F800, true)
        .Quirk(kPcie + PCI_EXP_DEVCTL, PCI_EXP_DEVSTA_CED << 16, false)
        .Quirk(kPcie + PCI_EXP_DEVCTL, PCI_EXP_DEVCTL_CERE, false)
        .Done();
}

} // namespace

std::vector<FunctionImage> BuiltinPlatform()
{
    using E = Express;
    constexpr uint8_t kEp = PCI_EXP_TYPE_ENDPOINT;
    std::vector<FunctionImage> f;

    /* Bus 0: the root complex. */
    f.push_back(Builder(0x00, 0x00, 0).Id(kBuiltinVendor, 0x1000, 0x060000, PCI_HEADER_TYPE_NORMAL).Done());
    f.push_back(RootPort(0x01, 0x01, 0x05, E{PCI_EXP_TYPE_ROOT_PORT, kGen3, 16, 1, kGen3, 8, 1}, false));
    f.push_back(RootPort(0x02, 0x06, 0x06, E{PCI_EXP_TYPE_ROOT_PORT, kGen3, 16, 2, kGen3, 4, 2}, true));
    f.push_back(RootPort(0x03, 0x07, 0x09, E{PCI_EXP_TYPE_ROOT_PORT, kGen3, 8, 3, kGen3, 8, 3}, true));
    f.push_back(RootPort(0x1C, 0x0A, 0x0B, E{PCI_EXP_TYPE_ROOT_PORT, kGen2, 1, 4, kGen1, 1, 4}, false));
    f.push_back(RootPort(0x1D, 0x0D, 0x0D, E{PCI_EXP_TYPE_ROOT_PORT, kGen3, 8, 5, kGen2, 8, 6}, true));
    f.push_back(Builder(0x00, 0x1F, 0)
                    .Id(kBuiltinVendor, 0x1040, 0x088000, PCI_HEADER_TYPE_NORMAL)
                    .Bar0(0xFE010000)
                    .PciExpress(0x40, E{PCI_EXP_TYPE_RC_END, 0, 0, 0, 0, 0})
                    .PowerManagement(0x80)
                    .MsiX(0x90, 4)
                    .SerialNumber(0x100, 0x5153000000001F00ull)
                    .Done());

    /* Below 00:01.0: a switch with three downstream ports. */
    f.push_back(Builder(0x01, 0x00, 0)
                    .Id(kBuiltinVendor, 0x1002, kBridgeClass, PCI_HEADER_TYPE_BRIDGE)
                    .Buses(0x01, 0x02, 0x05)
                    .PciExpress(0x40, E{PCI_EXP_TYPE_UPSTREAM, kGen3, 8, 0, kGen3, 8})
                    .PowerManagement(0x80)
                    .Aer(0x100)
                    .VirtualChannel(0x148)
                    .SerialNumber(0x168, 0x5153000000010000ull)
                    .Done());
    f.push_back(SwitchDownstreamPort(kBuiltinVendor, 0x1003, 0x02, 0x00, 0x03,
                                     E{PCI_EXP_TYPE_DOWNSTREAM, kGen3, 4, 1, kGen3, 4}));
    f.push_back(SwitchDownstreamPort(kBuiltinVendor, 0x1003, 0x02, 0x01, 0x04,
                                     E{PCI_EXP_TYPE_DOWNSTREAM, kGen3, 4, 2, kGen3, 4}));
    f.push_back(SwitchDownstreamPort(kBuiltinVendor, 0x1003, 0x02, 0x02, 0x05,
                                     E{PCI_EXP_TYPE_DOWNSTREAM, kGen3, 4, 3, 0, 0, 5}));
    f.push_back(Builder(0x03, 0x00, 0)
                    .Id(kBuiltinVendor, 0x1010, 0x020000, PCI_HEADER_TYPE_NORMAL)
                    .Bar0(0xF7000000)
                    .PowerManagement(0x40)
                    .Msi(0x50, true)
                    .MsiX(0x70, 16)
                    .PciExpress(0xA0, E{kEp, kGen3, 4, 0, kGen3, 4})
                    .Aer(0x100)
                    .SerialNumber(0x148, 0x5153000000030000ull)
                    .PowerBudgeting(0x158)
                    .Done());
    f.push_back(Builder(0x04, 0x00, 0)
                    .Id(kBuiltinVendor, 0x1011, 0x010802, kMultiFunction)
                    .Bar0(0xF7100000)
                    .PowerManagement(0x40)
                    .MsiX(0x50, 32)
                    .VendorSpecific(0x60, 0x10)
                    .PciExpress(0x70, E{kEp, kGen3, 4, 0, kGen3, 4})
                    .Aer(0x100)
                    .SerialNumber(0x148, 0x5153000000040000ull)
                    .Done());
    f.push_back(Builder(0x04, 0x00, 1)
                    .Id(kBuiltinVendor, 0x1012, 0x070002, kMultiFunction)
                    .Bar0(0xF7200000)
                    .PowerManagement(0x40)
                    .Msi(0x50, false)
                    .PciExpress(0x60, E{PCI_EXP_TYPE_LEG_END, kGen3, 4, 0, kGen3, 4})
                    .Aer(0x100)
                    .Done());

    /* Below 00:02.0: an endpoint directly below the root port, the partner
     * device. */
    f.push_back(FullEndpoint(0x06, kVokDevice, 0x028000, 0xF6000000, 4, 0x14));

    /* Below 00:03.0: the ZEB test card (an upstream and a downstream
     * function) on the link above the DUT. */
    f.push_back(Builder(0x07, 0x00, 0)
                    .Id(kZebVendor, 0x0001, kBridgeClass, PCI_HEADER_TYPE_BRIDGE)
                    .Buses(0x07, 0x08, 0x09)
                    .PciExpress(0x40, E{PCI_EXP_TYPE_UPSTREAM, kGen3, 8, 0, kGen3, 8})
                    .PowerManagement(0x80)
                    .VendorSpecific(0x90, 0x0C)
                    .Aer(0x100)
                    .Done());
    f.push_back(SwitchDownstreamPort(kZebVendor, 0x0002, 0x08, 0x00, 0x09,
                                     E{PCI_EXP_TYPE_DOWNSTREAM, kGen3, 8, 1, kGen3, 8}));
    f.push_back(FullEndpoint(0x09, 0x1050, 0x118000, 0xF5000000, 8, 0x18));

    /* Below 00:1c.0: a PCI Express to PCI bridge and a conventional PCI
     * device (256 bytes of configuration space) behind it. */
    f.push_back(Builder(0x0A, 0x00, 0)
                    .Id(kBuiltinVendor, 0x1030, kBridgeClass, PCI_HEADER_TYPE_BRIDGE)
                    .Buses(0x0A, 0x0B, 0x0B)
                    .PciExpress(0x40, E{PCI_EXP_TYPE_PCI_BRIDGE, kGen1, 1, 0, kGen1, 1})
                    .PowerManagement(0x80)
                    .Aer(0x100)
                    .Done());
    f.push_back(Builder(0x0B, 0x02, 0, kLegacySpaceSize)
                    .Id(kBuiltinVendor, 0x1031, 0x078000, PCI_HEADER_TYPE_NORMAL)
                    .Bar0(0xF4000000)
                    .PowerManagement(0x40)
                    .Msi(0x50, false)
                    .Done());

    /* Below 00:1d.0: the defective endpoint. */
    f.push_back(DefectiveEndpoint());
    return f;
}

} // namespace qorbsim
