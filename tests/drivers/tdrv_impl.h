/* The body of the test configuration drivers. Each tdrv_NAME.cpp defines
 * which exports its driver has, then includes this file:
 *   TDRV_GET_INTERFACE  ConfigDriver_GetInterface is exported
 *   TDRV_CARD_TABLES    ZEB_LIB_Open_ZEB_Interface and VOK_LIB_Open_VOK_Interface are exported
 * The driver serves configuration space from nowhere: every byte it reads is
 * the low byte of its offset. */
#ifndef TDRV_IMPL_H
#define TDRV_IMPL_H

#include <string.h>

#include <qorb/qorb_driver.h>

#include "tdrv_control.h"

extern "C" QORB_DRIVER_EXPORT TDRV_CONTROL_t tdrv_control;
TDRV_CONTROL_t tdrv_control;

namespace {

void Called(char letter)
{
    size_t n = strlen(tdrv_control.calls);
    if (n + 1 < sizeof tdrv_control.calls)
        tdrv_control.calls[n] = letter;
}

} // namespace

#ifdef TDRV_GET_INTERFACE
namespace {

void Context(uint32_t context)
{
    if (context != tdrv_control.context)
        ++tdrv_control.wrongContext;
}

uint32_t OpenDriver(uint32_t* context)
{
    Called('O');
    if (tdrv_control.openAnswer)
        *context = tdrv_control.context;
    return tdrv_control.openAnswer;
}

uint32_t MapConfigSpace(uint32_t context, uint64_t base, uint64_t length)
{
    Called('M');
    Context(context);
    tdrv_control.mapBase = base;
    tdrv_control.mapLength = length;
    return tdrv_control.mapAnswer;
}

uint32_t QueryMcfgTable(uint32_t context, uint64_t* base, uint8_t* startBus, uint8_t* endBus, uint64_t* length)
{
    Called('Q');
    Context(context);
    if (tdrv_control.queryAnswer) {
        *base = tdrv_control.mcfgBase;
        *startBus = tdrv_control.mcfgStartBus;
        *endBus = tdrv_control.mcfgEndBus;
        *length = tdrv_control.mcfgLength;
    }
    return tdrv_control.queryAnswer;
}

uint32_t ReadConfig(uint32_t context, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                    uint8_t* buffer)
{
    Called('R');
    Context(context);
    uint32_t args[5] = {bus, dev, fn, offset, length};
    memcpy(tdrv_control.readArgs, args, sizeof args);
    uint32_t count = length > tdrv_control.readShortBy ? length - tdrv_control.readShortBy : 0;
    for (uint32_t i = 0; i < count; ++i)
        buffer[i] = static_cast<uint8_t>(offset + i);
    return count;
}

uint32_t ReadConfigEx(uint32_t context, uint32_t v1, uint32_t v2, uint32_t v3, uint32_t v4, uint32_t v5,
                      uint8_t* buffer)
{
    Called('X');
    Context(context);
    uint32_t args[5] = {v1, v2, v3, v4, v5};
    memcpy(tdrv_control.readExArgs, args, sizeof args);
    tdrv_control.readExBuffer = buffer;
    return tdrv_control.readExAnswer;
}

uint32_t WriteConfig(uint32_t context, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                     uint8_t* buffer)
{
    Called('W');
    Context(context);
    uint32_t args[5] = {bus, dev, fn, offset, length};
    memcpy(tdrv_control.writeArgs, args, sizeof args);
    memcpy(tdrv_control.written, buffer, length < sizeof tdrv_control.written ? length : sizeof tdrv_control.written);
    return length;
}

uint32_t CloseDriver(uint32_t context)
{
    Called('C');
    Context(context);
    return 0;
}

} // namespace
#endif

extern "C" QORB_DRIVER_EXPORT void tdrv_reset()
{
    tdrv_control = TDRV_CONTROL_t{};
    tdrv_control.provide = TDRV_ALL;
    tdrv_control.getInterfaceAnswer = 1;
    tdrv_control.openAnswer = 1;
    tdrv_control.context = 0x5EED0001u;
    tdrv_control.queryAnswer = 1;
    tdrv_control.mcfgBase = 0xB0000000ull;
    tdrv_control.mcfgEndBus = 0x3F;
    tdrv_control.mcfgLength = 0x4000000ull;
    tdrv_control.mapAnswer = 1;
    tdrv_control.readExAnswer = 0xC0FFEEu;
}

#ifdef TDRV_GET_INTERFACE
extern "C" QORB_DRIVER_EXPORT uint32_t ConfigDriver_GetInterface(_CONFIG_DRIVER_INTERFACE_t* table)
{
    Called('G');
    uint32_t p = tdrv_control.provide;
    if (p & TDRV_OPEN)
        table->OpenDriver = OpenDriver;
    if (p & TDRV_MAP)
        table->MapConfigSpace = MapConfigSpace;
    if (p & TDRV_QUERY)
        table->QueryMcfgTable = QueryMcfgTable;
    if (p & TDRV_READ)
        table->ReadConfig = ReadConfig;
    if (p & TDRV_READ_EX)
        table->ReadConfigEx = ReadConfigEx;
    if (p & TDRV_WRITE)
        table->WriteConfig = WriteConfig;
    if (p & TDRV_CLOSE)
        table->CloseDriver = CloseDriver;
    return tdrv_control.getInterfaceAnswer;
}
#endif

#ifdef TDRV_CARD_TABLES
namespace {

/* The card sits on bus 0x42, the partner on bus 0x43. */
uint32_t IsZEB(uint32_t bus, uint32_t, uint32_t)
{
    return bus == 0x42 ? 1 : 0;
}

uint32_t IsVOK(uint32_t bus, uint32_t, uint32_t)
{
    return bus == 0x43 ? 1 : 0;
}

_ZEB_LIB_INTERFACE_t g_zebTable = {};
_VOK_LIB_INTERFACE_t g_vokTable = {};

} // namespace

extern "C" QORB_DRIVER_EXPORT uint32_t ZEB_LIB_Open_ZEB_Interface(_ZEB_LIB_INTERFACE_t** table)
{
    Called('Z');
    tdrv_control.zebTableOut = table;
    g_zebTable.IsZEB = IsZEB;
    *table = &g_zebTable;
    return 0x80000006u; /* ignored by the library */
}

extern "C" QORB_DRIVER_EXPORT uint32_t VOK_LIB_Open_VOK_Interface(_VOK_LIB_INTERFACE_t** table)
{
    Called('V');
    tdrv_control.vokTableOut = table;
    g_vokTable.IsVOK = IsVOK;
    *table = &g_vokTable;
    return 0x80000006u;
}
#endif

#endif
