/* The test card library tables of libqorbsim.so: ZEB_LIB_Open_ZEB_Interface
 * and VOK_LIB_Open_VOK_Interface. Every operation names a card by the
 * location of either of its two functions; any other location, or a closed
 * driver, gives QORB_INVALID_PARAMETER (IsZEB and IsVOK answer 0). */
#include <qorb/qorb_driver.h>

#include <linux/pci_regs.h>
#include <string.h>

#include "sim_builtin.h"
#include "sim_platform.h"

namespace qorbsim {
namespace {

constexpr uint32_t kHeaderBytes = 256;

ZebCard* Card(uint32_t bus, uint32_t dev, uint32_t fn)
{
    Platform* p = OpenedPlatform();
    return p ? p->CardAt(bus, dev, fn) : nullptr;
}

/* Calls a card operation, or answers QORB_INVALID_PARAMETER without a card. */
template <typename Op>
uint32_t OnCard(uint32_t bus, uint32_t dev, uint32_t fn, Op op)
{
    ZebCard* card = Card(bus, dev, fn);
    return card ? op(*card) : QORB_INVALID_PARAMETER;
}

uint32_t IsZeb(uint32_t bus, uint32_t dev, uint32_t fn) { return Card(bus, dev, fn) ? 1 : 0; }

uint32_t GetTraceConfig(uint32_t b, uint32_t d, uint32_t f, uint32_t* config)
{
    return OnCard(b, d, f, [&](ZebCard& c) { return c.GetConfig(config); });
}

uint32_t SetTraceConfig(uint32_t b, uint32_t d, uint32_t f, uint32_t config)
{
    return OnCard(b, d, f, [&](ZebCard& c) { return c.SetConfig(config); });
}

uint32_t GetTraceBufferSize(uint32_t b, uint32_t d, uint32_t f, uint32_t* bytes)
{
    return OnCard(b, d, f, [&](ZebCard& c) { return c.BufferSize(bytes); });
}

uint32_t WritePatternToTB(uint32_t b, uint32_t d, uint32_t f, uint32_t pattern)
{
    return OnCard(b, d, f, [&](ZebCard& c) { return c.WritePattern(pattern); });
}

uint32_t ReadTraceBuffer(uint32_t b, uint32_t d, uint32_t f, uint32_t* bytes, uint8_t* buffer)
{
    return OnCard(b, d, f, [&](ZebCard& c) { return c.ReadBuffer(bytes, buffer); });
}

uint32_t GetProperties(uint32_t b, uint32_t d, uint32_t f, _qorb_zeb_query_prop_t* properties)
{
    return OnCard(b, d, f, [&](ZebCard& c) { return c.Properties(properties); });
}

uint32_t Disarm(uint32_t b, uint32_t d, uint32_t f)
{
    return OnCard(b, d, f, [](ZebCard& c) { return c.Disarm(); });
}

uint32_t GetActionCount(uint32_t b, uint32_t d, uint32_t f, uint32_t* count)
{
    return OnCard(b, d, f, [&](ZebCard& c) { return c.ActionCount(count); });
}

uint32_t Arm(uint32_t b, uint32_t d, uint32_t f)
{
    return OnCard(b, d, f, [](ZebCard& c) { return c.Arm(); });
}

uint32_t ProgramCmd(uint32_t b, uint32_t d, uint32_t f, _qorb_cmd_map_t* command)
{
    return OnCard(b, d, f, [&](ZebCard& c) { return c.Program(command); });
}

uint32_t ChangeMode(uint32_t b, uint32_t d, uint32_t f, _QORB_ZEB_OP_MODE_t mode)
{
    return OnCard(b, d, f, [&](ZebCard& c) { return c.ChangeMode(mode); });
}

uint32_t QueryMode(uint32_t b, uint32_t d, uint32_t f, _QORB_ZEB_OP_MODE_t* mode)
{
    return OnCard(b, d, f, [&](ZebCard& c) { return c.QueryMode(mode); });
}

uint32_t SuspendLogging(uint32_t b, uint32_t d, uint32_t f)
{
    return OnCard(b, d, f, [](ZebCard& c) { return c.Suspend(); });
}

uint32_t ResumeLogging(uint32_t b, uint32_t d, uint32_t f)
{
    return OnCard(b, d, f, [](ZebCard& c) { return c.Resume(); });
}

void Describe(const SimFunction& f, uint32_t* bus, uint32_t* dev, uint32_t* fn, uint8_t* header)
{
    *bus = f.Bus();
    *dev = f.Dev();
    *fn = f.Fn();
    memset(header, 0, kHeaderBytes);
    f.Read(0, kHeaderBytes, header);
}

/* The card whose monitored link leads to the location's bus: its upstream
 * function first, then its downstream function. */
uint32_t GetUpstreamZeb(uint32_t bus, uint32_t, uint32_t, uint32_t* bus1, uint32_t* dev1, uint32_t* fn1,
                        uint8_t* header1, uint32_t* bus2, uint32_t* dev2, uint32_t* fn2, uint8_t* header2)
{
    if (!bus1 || !dev1 || !fn1 || !header1 || !bus2 || !dev2 || !fn2 || !header2)
        return QORB_INVALID_PARAMETER;
    Platform* p = OpenedPlatform();
    ZebCard* card = p ? p->CardAbove(bus) : nullptr;
    if (!card)
        return QORB_DEVICE_NOT_FOUND;
    Describe(card->Upstream(), bus1, dev1, fn1, header1);
    Describe(card->Downstream(), bus2, dev2, fn2, header2);
    return QORB_SUCCESS;
}

uint32_t IsVok(uint32_t bus, uint32_t dev, uint32_t fn)
{
    Platform* p = OpenedPlatform();
    SimFunction* f = p ? p->Find(bus, dev, fn) : nullptr;
    return f && f->Get16(PCI_VENDOR_ID) == kBuiltinVendor && f->Get16(PCI_DEVICE_ID) == kVokDevice ? 1 : 0;
}

_ZEB_LIB_INTERFACE_t g_zebTable = {IsZeb,          GetTraceConfig, SetTraceConfig, GetTraceBufferSize,
                                   WritePatternToTB, ReadTraceBuffer, GetProperties,  nullptr,
                                   Disarm,         GetActionCount, Arm,            ProgramCmd,
                                   ChangeMode,     QueryMode,      SuspendLogging, ResumeLogging,
                                   GetUpstreamZeb};
_VOK_LIB_INTERFACE_t g_vokTable = {IsVok, {}};

} // namespace
} // namespace qorbsim

extern "C" QORB_DRIVER_EXPORT uint32_t ZEB_LIB_Open_ZEB_Interface(_ZEB_LIB_INTERFACE_t** table)
{
    if (!table)
        return 0;
    *table = &qorbsim::g_zebTable;
    return 1;
}

extern "C" QORB_DRIVER_EXPORT uint32_t VOK_LIB_Open_VOK_Interface(_VOK_LIB_INTERFACE_t** table)
{
    if (!table)
        return 0;
    *table = &qorbsim::g_vokTable;
    return 1;
}
