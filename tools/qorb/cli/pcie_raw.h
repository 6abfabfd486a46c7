/* The PCI Express capability as the raw walk of the legacy list finds it.
 * The library's lookup walks the whole list to count instances, so a list
 * that loops or points wildly after the capability makes the lookup fail
 * although the capability is there; the checks then read it this way. */
#ifndef QORB_CLI_PCIE_RAW_H
#define QORB_CLI_PCIE_RAW_H

#include <stdint.h>

#include <string>
#include <vector>

#include <qorb/qorb_types.h>

namespace qorbcli {

struct RawPcie {
    uint32_t offset = 0; /* 0: the walk found none */
    _PCIE_CAPABILITY_STRUCT_t cap{}; /* copied from the image */
    std::string listEnd; /* how the list goes wrong after it ("loops back to 40"), "" when it ends well */
    int PortType() const { return offset ? (cap.pcieCapabilities & 0xf0) >> 4 : -1; }
};
RawPcie FindRawPcie(const std::vector<uint8_t>& space);

} // namespace qorbcli

#endif
