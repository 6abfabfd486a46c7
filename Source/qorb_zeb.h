/* The guard shared by every test card operation: the ZEB check and the
 * forwarding of a call to one slot of the test card library's table.
 *
 * The ZEB check accepts a device record whose is-ZEB flag is exactly 1; a
 * null handle is not a ZEB either. A record that passes the check while the
 * card's table is not bound (it was unbound by CloseQORB after the record was
 * made) or while the table leaves the slot null cannot reach the card: the
 * operation answers QORB_INVALID_PARAMETER, as for a device that is not a
 * ZEB, and never calls through a null pointer. */
#ifndef QORB_ZEB_H
#define QORB_ZEB_H

#include "qorb_internal.h"

/* The record behind handle when it is a ZEB, else null. */
inline QORB_DEVICE_t* ZebRecord(void* handle)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    return device && device->isZeb == 1 ? device : nullptr;
}

/* The bound table's slot, or null when there is no table or no such entry. */
template <typename Slot>
Slot ZebSlot(Slot _ZEB_LIB_INTERFACE_t::*member)
{
    return g_qorbDriver.zeb ? g_qorbDriver.zeb->*member : nullptr;
}

/* Calls the slot for the card's location with the further arguments and
 * answers its result unchanged; QORB_INVALID_PARAMETER when the slot cannot
 * be reached. The caller has done the ZEB check. */
template <typename Slot, typename... Args>
_QORB_STATUS_t CallZebSlot(const QORB_DEVICE_t* card, Slot _ZEB_LIB_INTERFACE_t::*member, Args... args)
{
    Slot slot = ZebSlot(member);
    if (!slot)
        return QORB_INVALID_PARAMETER;
    return QORB_STATUS_FROM(slot(card->bus, card->device, card->function, args...));
}

/* ZEB check, then the call. */
template <typename Slot, typename... Args>
_QORB_STATUS_t ForwardToZeb(void* handle, Slot _ZEB_LIB_INTERFACE_t::*member, Args... args)
{
    QORB_DEVICE_t* card = ZebRecord(handle);
    if (!card)
        return QORB_INVALID_PARAMETER;
    return CallZebSlot(card, member, args...);
}

#endif
