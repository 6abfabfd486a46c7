/* Which bits of which registers a write may change. The registers of the
 * structures the register model knows (qorb_common/reg_model.h: headers,
 * PCI Express, AER, ...) behave as on hardware: read-only, hardware-
 * initialised and reserved bits ignore writes, write-one-to-clear bits clear
 * on a 1. Registers of other structures and bytes outside any structure are
 * plain read-write, so that tests can set up any register they like.
 * Behaviour beyond one register (Retrain Link, Link Disable) is the link
 * model's. */
#include <linux/pci_regs.h>

#include <qorb_common/reg_model.h>

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
    std::array<uint8_t, kConfigSpaceSize> bytes{}, readOnly{}, rw1c{};
    f.Read(0, f.Length(), bytes.data());
    qorb_regs::WriteMasks(bytes.data(), f.Length(), readOnly.data(), rw1c.data());
    for (uint32_t at = 0; at < f.Length(); ++at) {
        f.MakeReadOnlyBits(at, readOnly[at], 1);
        f.MakeWriteOneToClear(at, rw1c[at], 1);
    }
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
    for (const WriteQuirk& q : f.Quirks()) {
        f.MakeReadWriteBits(q.offset, q.mask, 4);
        if (!q.writable)
            f.MakeReadOnlyBits(q.offset, q.mask, 4);
    }
}

} // namespace qorbsim
