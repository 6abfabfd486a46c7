/* Test card control: finding the ZEB and its partner device, and the thin,
 * guarded forwardings of the card's operations to the test card library.
 *
 * Every operation that acts on a card does the ZEB check of qorb_zeb.h and
 * answers the card library's status unchanged. Null handles are refused with
 * QORB_INVALID_PARAMETER by every operation (not only ProgramZEBCmd), and so
 * are null out-pointers where the operation itself stores through them. No
 * operation here prints. */

#include "qorb_platform.h"
#include "qorb_zeb.h"

namespace {

/* DisarmZEB gives the card this long to finish what it is recording. */
constexpr uint32_t kDisarmSettleMs = 10;

/* Bytes of a port's header read to learn its type and secondary bus. */
constexpr uint32_t kBridgeHeaderBytes = 28;

} // namespace

/* The trace copy goes before the card is asked, so it is gone whatever the
 * card answers: a copy from before arming never describes the new run. */
QORB_API _QORB_STATUS_t ArmZEB(void* handle, uint32_t /*value*/)
{
    QORB_DEVICE_t* card = ZebRecord(handle);
    if (!card)
        return QORB_INVALID_PARAMETER;
    ReleaseTraceCopy(card);
    return CallZebSlot(card, &_ZEB_LIB_INTERFACE_t::Arm);
}

/* The settle time is spent even when the handle turns out not to be a ZEB. */
QORB_API _QORB_STATUS_t DisarmZEB(void* handle)
{
    PlatformSleep(kDisarmSettleMs);
    return ForwardToZeb(handle, &_ZEB_LIB_INTERFACE_t::Disarm);
}

QORB_API _QORB_STATUS_t ChangeZEBMode(void* handle, _QORB_ZEB_OP_MODE_t mode)
{
    return ForwardToZeb(handle, &_ZEB_LIB_INTERFACE_t::ChangeMode, mode);
}

QORB_API _QORB_STATUS_t QueryZEBMode(void* handle, _QORB_ZEB_OP_MODE_t* mode)
{
    return ForwardToZeb(handle, &_ZEB_LIB_INTERFACE_t::QueryMode, mode);
}

QORB_API _QORB_STATUS_t ProgramZEBCmd(void* handle, _qorb_cmd_map_t* command)
{
    if (!handle)
        return QORB_INVALID_PARAMETER;
    return ForwardToZeb(handle, &_ZEB_LIB_INTERFACE_t::ProgramCmd, command);
}

QORB_API _QORB_STATUS_t QORB_ZEB_GetActionCount(void* handle, uint32_t* count)
{
    return ForwardToZeb(handle, &_ZEB_LIB_INTERFACE_t::GetActionCount, count);
}

QORB_API _QORB_STATUS_t ZEBSuspendLogging(void* handle)
{
    return ForwardToZeb(handle, &_ZEB_LIB_INTERFACE_t::SuspendLogging);
}

QORB_API _QORB_STATUS_t ZEBResumeLogging(void* handle)
{
    return ForwardToZeb(handle, &_ZEB_LIB_INTERFACE_t::ResumeLogging);
}

QORB_API _QORB_STATUS_t QORB_GetZEBProperties(void* handle, _qorb_zeb_query_prop_t* properties)
{
    return ForwardToZeb(handle, &_ZEB_LIB_INTERFACE_t::GetProperties, properties);
}

/* Any device may ask for the card above it: there is no ZEB check. The two
 * records are new, belong to the caller and join no instance's list. When
 * the second record cannot be allocated the first is released again and
 * both outputs stay null (QORB_INSUFFICIENT_RESOURCES). */
QORB_API _QORB_STATUS_t QORB_GetUpstreamZEB(void* handle, void** card1, void** card2)
{
    if (!card1 || !card2)
        return QORB_INVALID_PARAMETER;
    *card1 = nullptr;
    *card2 = nullptr;
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    auto slot = ZebSlot(&_ZEB_LIB_INTERFACE_t::GetUpstreamZEB);
    if (!device || !slot)
        return QORB_INVALID_PARAMETER;

    uint32_t location[2][3] = {};
    uint8_t header[2][QORB_SHADOW_LENGTH] = {};
    uint32_t result = slot(device->bus, device->device, device->function,
                           &location[0][0], &location[0][1], &location[0][2], header[0],
                           &location[1][0], &location[1][1], &location[1][2], header[1]);
    if (result != 0)
        return QORB_STATUS_FROM(result);

    QORB_DEVICE_t* found[2] = {};
    for (int i = 0; i < 2; ++i) {
        found[i] = CreateDeviceRecord(header[i], static_cast<uint8_t>(location[i][0]),
                                      static_cast<uint8_t>(location[i][1]), static_cast<uint8_t>(location[i][2]));
        if (!found[i]) {
            CloseDevice(found[0]);
            return QORB_INSUFFICIENT_RESOURCES;
        }
    }
    *card1 = found[0];
    *card2 = found[1];
    return QORB_SUCCESS;
}

/* The partner sits on the port's secondary bus at the device and function
 * given. Device numbers above 31 and function numbers above 7 name no
 * location and are refused before anything below the port is read; a null
 * result pointer is refused before anything is read. */
QORB_API _QORB_STATUS_t QORB_GetDownstreamVOK(void* port, uint32_t dev, uint32_t fn, void** partner)
{
    if (!partner)
        return QORB_INVALID_PARAMETER;
    uint8_t bridge[kBridgeHeaderBytes] = {};
    uint32_t length = kBridgeHeaderBytes;
    if (ReadConfigSpace(port, bridge, 0, &length) != QORB_SUCCESS)
        return QORB_INVALID_PARAMETER;
    if ((bridge[PCI_HEADER_TYPE] & 0x7F) != PCI_HEADER_TYPE_BRIDGE)
        return QORB_INVALID_PARAMETER;
    if (dev >= QORB_SCAN_DEVICES || fn >= QORB_SCAN_FUNCTIONS)
        return QORB_INVALID_PARAMETER;

    uint8_t bus = bridge[PCI_SECONDARY_BUS];
    uint8_t header[QORB_SHADOW_LENGTH] = {};
    if (DriverReadConfig(bus, dev, fn, 0, QORB_PROBE_LENGTH, header) != QORB_PROBE_LENGTH)
        return QORB_INVALID_PARAMETER;
    QORB_DEVICE_t* record = CreateDeviceRecord(header, bus, static_cast<uint8_t>(dev), static_cast<uint8_t>(fn));
    if (!record)
        return QORB_INSUFFICIENT_RESOURCES;

    _VOK_LIB_INTERFACE_t* vok = g_qorbDriver.vok;
    if (vok && vok->IsVOK && vok->IsVOK(bus, dev, fn) != 0) {
        *partner = record;
        return QORB_SUCCESS;
    }
    CloseDevice(record);
    *partner = nullptr;
    return QORB_INVALID_PARAMETER;
}
