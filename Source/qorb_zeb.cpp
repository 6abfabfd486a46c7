/* Test card control. */
#include "qorb_internal.h"

QORB_API _QORB_STATUS_t QORB_ZEB_GetActionCount(void* handle, uint32_t* count)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!device || device->isZeb != 1)
        return QORB_INVALID_PARAMETER;
    if (!g_qorbDriver.zeb || !g_qorbDriver.zeb->GetActionCount)
        return QORB_INVALID_PARAMETER;
    return static_cast<_QORB_STATUS_t>(
        g_qorbDriver.zeb->GetActionCount(device->bus, device->device, device->function, count));
}
