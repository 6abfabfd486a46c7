/* Device records: building them, the identification accessors, closing.
 *
 * CloseDevice releases the record's trace copy with the record. The record
 * behind the parent link is a separate record that belongs to the caller, as
 * every record does: CloseDevice of the child leaves it alive, and the caller
 * closes it (GetParentDevice hands it out). Closing a parent record while a
 * child still links to it clears the child's link, so the child's link
 * operations then find no port instead of touching freed memory.
 *
 * CloseDevice ignores a handle that is not a live device record (one closed
 * already, or one the library never made); see qorb_registry.h. */
#include <stdlib.h>
#include <string.h>

#include "qorb_internal.h"
#include "qorb_registry.h"

QORB_DEVICE_t* CreateDeviceRecord(const uint8_t* header, uint8_t bus, uint8_t dev, uint8_t fn)
{
    auto* record = static_cast<QORB_DEVICE_t*>(calloc(1, sizeof(QORB_DEVICE_t)));
    if (!record)
        return nullptr;
    record->bus = bus;
    record->device = dev;
    record->function = fn;
    if (header) {
        record->deviceId = static_cast<uint16_t>(header[2] | (header[3] << 8));
        record->vendorId = static_cast<uint16_t>(header[0] | (header[1] << 8));
        memcpy(record->configShadow, header, QORB_SHADOW_LENGTH);
    }
    record->isOpen = 0;
    record->isZeb = 0;
    if (g_qorbDriver.zeb && g_qorbDriver.zeb->IsZEB && g_qorbDriver.zeb->IsZEB(bus, dev, fn) == 1)
        record->isZeb = 1;
    if (!RegisterRecord(QorbRecordKind::kDevice, record)) {
        free(record);
        return nullptr;
    }
    return record;
}

void ReleaseTraceCopy(QORB_DEVICE_t* device)
{
    free(device->traceCopy);
    device->traceCopy = nullptr;
    device->traceCopyLength = 0;
}

QORB_API _QORB_STATUS_t EnumerateDevice(void*, _QORB_ENUM_METHOD_t, _QORB_ENUM_STOP_POINT_t, uint16_t, uint32_t)
{
    return QORB_SUCCESS;
}

/* A record is in its owner's device list only when it was inserted there:
 * test cards found through an instance carry the owner but are not listed. */
QORB_API _QORB_STATUS_t CloseDevice(void* handle)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!UnregisterRecord(QorbRecordKind::kDevice, device))
        return QORB_SUCCESS;
    if (device->owner && device->listItem.p_next) {
        cl_qlist_remove_item(&device->owner->deviceList, &device->listItem);
        device->listItem.p_next = device->listItem.p_prev = nullptr;
    }
    device->owner = nullptr;
    if (device->linkedFrom) {
        device->linkedFrom->parent = nullptr;
        device->linkedFrom = nullptr;
    }
    if (device->parent) {
        device->parent->linkedFrom = nullptr;
        device->parent = nullptr;
    }
    ReleaseTraceCopy(device);
    free(device);
    return QORB_SUCCESS;
}

namespace {

template <typename T, typename F>
_QORB_STATUS_t Identify(void* handle, T* out, F field)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!device) {
        if (out)
            *out = 0;
        return QORB_INVALID_DEVICE_HANDLE;
    }
    if (out)
        *out = field(device);
    return QORB_SUCCESS;
}

} // namespace

QORB_API _QORB_STATUS_t GetVendorID(void* device, uint16_t* out)
{
    return Identify(device, out, [](QORB_DEVICE_t* d) { return d->vendorId; });
}

QORB_API _QORB_STATUS_t GetDeviceID(void* device, uint16_t* out)
{
    return Identify(device, out, [](QORB_DEVICE_t* d) { return d->deviceId; });
}

QORB_API _QORB_STATUS_t GetBusNumber(void* device, uint8_t* out)
{
    return Identify(device, out, [](QORB_DEVICE_t* d) { return d->bus; });
}

QORB_API _QORB_STATUS_t GetDeviceNumber(void* device, uint8_t* out)
{
    return Identify(device, out, [](QORB_DEVICE_t* d) { return d->device; });
}

QORB_API _QORB_STATUS_t GetFunctionNumber(void* device, uint8_t* out)
{
    return Identify(device, out, [](QORB_DEVICE_t* d) { return d->function; });
}

/* A null handle is answered with QORB_INVALID_DEVICE_HANDLE, as the
 * identification accessors do. */
QORB_API _QORB_STATUS_t GetHeaderType(void* handle, uint8_t* headerType)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!device || !headerType)
        return QORB_INVALID_DEVICE_HANDLE;
    *headerType = device->configShadow[PCI_HEADER_TYPE];
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t IsMultiFunction(void* handle, int* multiFunction)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!device || !multiFunction)
        return QORB_INVALID_DEVICE_HANDLE;
    *multiFunction = device->function != 0 ? 1 : 0;
    return QORB_SUCCESS;
}
