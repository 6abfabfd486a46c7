/* Which bits of which registers a write may change. Registers the
 * simulator has no rule for are plain read-write, so that tests can set up
 * any register they like; identity, structure, capability and status
 * registers behave as on hardware. Behaviour beyond one register (Retrain
 * Link, Link Disable) is the link model's. */
#include <linux/pci_regs.h>

#include "sim_function.h"

namespace qorbsim {
namespace {

/* Error bits of Status and Secondary Status: Master Data Parity Error,
 * Signaled and Received Target Abort, Received Master Abort, Signaled or
 * Received System Error, Detected Parity Error. */
constexpr uint32_t kStatusErrors = PCI_STATUS_PARITY | PCI_STATUS_SIG_TARGET_ABORT | PCI_STATUS_REC_TARGET_ABORT |
                                   PCI_STATUS_REC_MASTER_ABORT | PCI_STATUS_SIG_SYSTEM_ERROR |
                                   PCI_STATUS_DETECTED_PARITY;
constexpr uint32_t kDeviceStatusErrors = PCI_EXP_DEVSTA_CED | PCI_EXP_DEVSTA_NFED | PCI_EXP_DEVSTA_FED |
                                         PCI_EXP_DEVSTA_URD;
/* Link Bandwidth Management Status and Link Autonomous Bandwidth Status. */
constexpr uint32_t kLinkStatusRw1c = PCI_EXP_LNKSTA_LBMS | PCI_EXP_LNKSTA_LABS;
/* Root Error Status: the received-message bits. */
constexpr uint32_t kRootErrorStatusRw1c = 0x0000007F;

/* A 16-bit status register: error bits write-one-to-clear, the rest
 * read-only. */
void StatusRegister(SimFunction& f, uint32_t offset, uint32_t errorBits)
{
    f.MakeWriteOneToClear(offset, errorBits, 2);
    f.MakeReadOnlyBits(offset, 0xFFFF & ~errorBits, 2);
}

void PciExpressRules(SimFunction& f, uint16_t cap)
{
    f.MakeReadOnly(cap + PCI_EXP_FLAGS, 2);
    f.MakeReadOnly(cap + PCI_EXP_DEVCAP, 4);
    f.MakeReadOnly(cap + PCI_EXP_LNKCAP, 4);
    f.MakeReadOnly(cap + PCI_EXP_SLTCAP, 4);
    f.MakeReadOnly(cap + PCI_EXP_DEVCAP2, 4);
    f.MakeReadOnly(cap + PCI_EXP_LNKCAP2, 4);
    StatusRegister(f, cap + PCI_EXP_DEVSTA, kDeviceStatusErrors);
    StatusRegister(f, cap + PCI_EXP_LNKSTA, kLinkStatusRw1c);
}

void AerRules(SimFunction& f, uint16_t cap, bool rootPort)
{
    f.MakeWriteOneToClear(cap + PCI_ERR_UNCOR_STATUS, 0xFFFFFFFF, 4);
    f.MakeWriteOneToClear(cap + PCI_ERR_COR_STATUS, 0xFFFFFFFF, 4);
    if (rootPort) {
        f.MakeWriteOneToClear(cap + PCI_ERR_ROOT_STATUS, kRootErrorStatusRw1c, 4);
        f.MakeReadOnlyBits(cap + PCI_ERR_ROOT_STATUS, ~kRootErrorStatusRw1c, 4);
    }
}

} // namespace

void ApplyRegisterRules(SimFunction& f)
{
    /* Identity: Vendor ID, Device ID, Revision ID, Class Code, Header Type. */
    f.MakeReadOnly(PCI_VENDOR_ID, 4);
    f.MakeReadOnly(PCI_CLASS_REVISION, 4);
    f.MakeReadOnly(PCI_HEADER_TYPE, 1);
    StatusRegister(f, PCI_STATUS, kStatusErrors);
    if (f.HeaderType() == PCI_HEADER_TYPE_BRIDGE)
        StatusRegister(f, PCI_SEC_STATUS, kStatusErrors);
    /* Structure: the Capabilities Pointer and every capability's header. */
    f.MakeReadOnly(f.HeaderType() == PCI_HEADER_TYPE_CARDBUS ? PCI_CB_CAPABILITY_LIST : PCI_CAPABILITY_LIST, 1);
    for (const Capability& cap : f.LegacyCaps()) {
        f.MakeReadOnly(cap.offset, 2);
        if (cap.id == PCI_CAP_ID_EXP)
            PciExpressRules(f, cap.offset);
    }
    for (const Capability& cap : f.ExtendedCaps()) {
        f.MakeReadOnly(cap.offset, 4);
        if (cap.id == PCI_EXT_CAP_ID_ERR)
            AerRules(f, cap.offset, f.PortType() == PCI_EXP_TYPE_ROOT_PORT);
    }
}

} // namespace qorbsim
