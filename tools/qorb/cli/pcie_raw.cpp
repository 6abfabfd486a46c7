/* The PCI Express capability by the raw walk of the legacy list. */
#include "pcie_raw.h"

#include <string.h>

#include <algorithm>

#include <linux/pci_regs.h>
#include <qorb_common/cap_walk.h>

#include "names.h"

namespace qorbcli {

RawPcie FindRawPcie(const std::vector<uint8_t>& space)
{
    RawPcie found;
    qorb_caps::List list = qorb_caps::WalkLegacy(space.data(), space.size());
    for (const qorb_caps::Cap& c : list.caps) {
        if (c.id != PCI_CAP_ID_EXP)
            continue;
        found.offset = c.offset;
        size_t n = std::min(sizeof found.cap, space.size() - c.offset);
        memcpy(&found.cap, space.data() + c.offset, n);
        break;
    }
    if (!found.offset)
        return found;
    switch (list.end) {
    case qorb_caps::End::kLoop:
        found.listEnd = "loops back to " + Hex(list.at, 2);
        break;
    case qorb_caps::End::kIntoHeader:
        found.listEnd = "points into the header (" + Hex(list.at, 2) + ")";
        break;
    case qorb_caps::End::kOutOfSpace:
        found.listEnd = "points outside the space (" + Hex(list.at, 2) + ")";
        break;
    case qorb_caps::End::kTooMany:
        found.listEnd = "does not end";
        break;
    default:
        break;
    }
    return found;
}

} // namespace qorbcli
