/* Opening a device record (linking it to the port above its link) and
 * asking its PCI Express port type.
 *
 * Ownership of the parent link: the record behind it belongs to the device
 * record that links it (callers do not close it). CloseDevice releases it
 * with the device, and a repeated OpenDevice releases the record it replaces
 * once the fresh one has been resolved. A caller that closes the linked record
 * anyway only clears the link (see CloseDevice), so nothing is released twice.
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
        CloseDevice(device->parent);   /* also clears device->parent */
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
