/* The exported interface table: the library's entry points in the fixed
 * slots applications index by position. It needs neither an instance nor
 * the driver, and stays valid while the library is loaded. */
#include <string.h>

#include "qorb_internal.h"

namespace {

/* An operation's address in a slot. The function-pointer type is spelled
 * out so that an overloaded name resolves to the one entry point wanted. */
template <typename Fn>
uintptr_t Slot(Fn* operation)
{
    return reinterpret_cast<uintptr_t>(operation);
}

using OpenQORBFn = _QORB_STATUS_t(void**, int, uint64_t, const char*, const char*);
using DeviceFn = _QORB_STATUS_t(void*);
using ChangeModeFn = _QORB_STATUS_t(void*, _QORB_ZEB_OP_MODE_t);
using QueryModeFn = _QORB_STATUS_t(void*, _QORB_ZEB_OP_MODE_t*);
using ProgramCmdFn = _QORB_STATUS_t(void*, _qorb_cmd_map_t*);
using ArmFn = _QORB_STATUS_t(void*, uint32_t);
using OpenDeviceFn = _QORB_STATUS_t(void*, _QORB_ACCESS_MODE_t);
using ConfigAccessFn = _QORB_STATUS_t(void*, uint8_t*, uint32_t, uint32_t*);
using ByLocationFn = _QORB_STATUS_t(uint8_t, uint8_t, uint8_t, void**);
using ByIdFn = _QORB_STATUS_t(uint16_t, uint16_t, void**);
using ByInfoFn = _QORB_STATUS_t(void*, void**, uint32_t, _QORB_DEVICE_FIND_INFO_t*);
using StatusRegFn = _QORB_STATUS_t(void*, int, int, int, int);

} // namespace

QORB_EXTERN_C QORB_API _QORB_STATUS_t QORBGetIntf(_QORB_INTF_t* table)
{
    if (!table)
        return QORB_INVALID_PARAMETER;
    memset(table, 0, sizeof *table);
    uintptr_t* slot = table->slot;
    slot[0] = QORB_INTF_VERSION;
    slot[1] = Slot(static_cast<OpenQORBFn*>(&OpenQORB));
    slot[2] = Slot(static_cast<DeviceFn*>(&CloseQORB));
    slot[3] = Slot(static_cast<ChangeModeFn*>(&ChangeZEBMode));
    slot[4] = Slot(static_cast<QueryModeFn*>(&QueryZEBMode));
    slot[5] = Slot(static_cast<ProgramCmdFn*>(&ProgramZEBCmd));
    slot[6] = Slot(static_cast<ArmFn*>(&ArmZEB));
    slot[7] = Slot(static_cast<DeviceFn*>(&DisarmZEB));
    slot[8] = Slot(static_cast<OpenDeviceFn*>(&OpenDevice));
    slot[9] = Slot(static_cast<DeviceFn*>(&CloseDevice));
    /* 10 and 11 stay null. */
    slot[12] = Slot(static_cast<ConfigAccessFn*>(&ReadConfigSpace));
    slot[13] = Slot(static_cast<ConfigAccessFn*>(&WriteConfigSpace));
    slot[14] = Slot(static_cast<ArmFn*>(&SetConfigMaskTraceBuf));
    slot[15] = Slot(static_cast<ByLocationFn*>(&FindDeviceByLocation));
    slot[16] = Slot(static_cast<ByIdFn*>(&FindDeviceById));
    slot[17] = Slot(static_cast<ByInfoFn*>(&FindDeviceByInfo));
    slot[18] = Slot(static_cast<StatusRegFn*>(&WriteDeviceStatusReg));
    /* 19 stays null. */
    return QORB_SUCCESS;
}
