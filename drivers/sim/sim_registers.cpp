/* Which bits of which registers a write may change. Everything the
 * simulator has no rule for is plain read-write, so that tests can set up
 * any register they like; identity and structure stay read-only as on
 * hardware, so the topology cannot be broken by a stray write. */
#include <linux/pci_regs.h>

#include "sim_function.h"

namespace qorbsim {

void ApplyRegisterRules(SimFunction& f)
{
    /* Identity: Vendor ID, Device ID, Revision ID, Class Code, Header Type. */
    f.MakeReadOnly(PCI_VENDOR_ID, 4);
    f.MakeReadOnly(PCI_CLASS_REVISION, 4);
    f.MakeReadOnly(PCI_HEADER_TYPE, 1);
    /* Structure: the Capabilities Pointer and every capability's header. */
    f.MakeReadOnly(f.HeaderType() == PCI_HEADER_TYPE_CARDBUS ? PCI_CB_CAPABILITY_LIST : PCI_CAPABILITY_LIST, 1);
    for (const Capability& cap : f.LegacyCaps())
        f.MakeReadOnly(cap.offset, 2);
    for (const Capability& cap : f.ExtendedCaps())
        f.MakeReadOnly(cap.offset, 4);
}

} // namespace qorbsim
