/* Opening a device record (linking it to the port above its link) and
 * asking its PCI Express port type.
 *
 * Ownership of the parent link: the record behind it is a new record that
 * belongs to the caller, who takes it with GetParentDevice and closes it with
 * CloseDevice when done; closing the child does not release it. A repeated
 * OpenDevice links a fresh parent record and leaves the earlier one valid for
 * whoever holds it (a caller who wants no leak takes and closes each parent
 * before opening again).
 *
 * GetDeviceType asks for the PCI Express capability structure only: no
 * capability handle is made, so none is left behind. A null device handle
 * gives QORB_INVALID_PARAMETER from both operations. */
#include "qorb_internal.h"

QORB_API _QORB_STATUS_t OpenDevice(void* handle, _QORB_ACCESS_MODE_t /*mode*/)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!device)
        return QORB_INVALID_PARAMETER;
    QORB_DEVICE_t* parent = ResolveParent(device);
    if (device->parent)
        device->parent->linkedFrom = nullptr;
    device->parent = parent;
    if (parent)
        parent->linkedFrom = device;
    device->isOpen = 1;
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t GetDeviceType(void* handle, _QORB_DEV_PORT_TYPE_t* portType)
{
    if (!handle || !portType)
        return QORB_INVALID_PARAMETER;
    _PCIE_CAPABILITY_STRUCT_t cap{};
    if (GetPCIECapability(handle, &cap, nullptr) != QORB_SUCCESS)
        return QORB_PCIE_CAP_OUT_OF_RANGE;
    *portType = static_cast<_QORB_DEV_PORT_TYPE_t>(PciePortType(cap));
    return QORB_SUCCESS;
}
