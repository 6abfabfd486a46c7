/* Configuration space access through a device record. Both operations reach
 * the live registers through the driver; the record's shadow is neither read
 * nor updated. A null device handle or length pointer gives
 * QORB_INVALID_PARAMETER and touches nothing. */
#include "qorb_internal.h"

namespace {

using DriverAccess = uint32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint8_t*);

/* One transfer through the driver; a count other than the length asked is
 * the failure status, and the count is stored either way, as the driver
 * answered it. A driver that answers more bytes than it was asked for has
 * still written at most what was asked; the transfer fails, and the count
 * it hands back tells the caller that the driver misbehaved. A caller uses
 * the bytes of a failed transfer only up to the length it asked. */
_QORB_STATUS_t Transfer(DriverAccess access, _QORB_STATUS_t failure, void* handle, uint8_t* buffer, uint32_t offset,
                        uint32_t* length)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!device || !length)
        return QORB_INVALID_PARAMETER;
    uint32_t asked = *length;
    uint32_t count = asked == 0 ? 0 : access(device->bus, device->device, device->function, offset, asked, buffer);
    *length = count;
    return count != asked ? failure : QORB_SUCCESS;
}

} // namespace

QORB_API _QORB_STATUS_t ReadConfigSpace(void* handle, uint8_t* buffer, uint32_t offset, uint32_t* length)
{
    return Transfer(DriverReadConfig, QORB_PCIE_CONFIG_READ_FAILED, handle, buffer, offset, length);
}

QORB_API _QORB_STATUS_t WriteConfigSpace(void* handle, uint8_t* buffer, uint32_t offset, uint32_t* length)
{
    return Transfer(DriverWriteConfig, QORB_PCIE_CONFIG_WRITE_FAILED, handle, buffer, offset, length);
}

QORB_API _QORB_STATUS_t GetDevConfigPtr(void*, _PCI_CONFIG_SPACE_HEADER_t** header)
{
    if (header)
        *header = nullptr;
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t GetDevConfigSpace(void*, _PCI_CONFIG_SPACE_HEADER_t**)
{
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t WriteDeviceStatusReg(void*, int, int, int, int)
{
    return QORB_INVALID_PARAMETER;
}
