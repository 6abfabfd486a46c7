/* Library-wide driver state and the two configuration access paths that
 * every configuration cycle of the library takes. */
#include "qorb_internal.h"

QORB_DRIVER_STATE_t g_qorbDriver = {};

uint32_t DriverReadConfig(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                          uint8_t* buffer)
{
    if (!g_qorbDriver.table.ReadConfig)
        return 0;
    return g_qorbDriver.table.ReadConfig(g_qorbDriver.context, bus, dev, fn, offset, length, buffer);
}

uint32_t DriverWriteConfig(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                           uint8_t* buffer)
{
    if (!g_qorbDriver.table.WriteConfig)
        return 0;
    return g_qorbDriver.table.WriteConfig(g_qorbDriver.context, bus, dev, fn, offset, length, buffer);
}
