/* A test configuration driver that wraps the simulated driver: it forwards
 * every entry to the simulator, counts the reads the library makes, and can
 * be told to transfer fewer bytes than asked or to change a byte on its way.
 * Tests reach the controls below through dlopen(RTLD_NOLOAD) of this file
 * after the library has loaded it. */
#include <dlfcn.h>
#include <string.h>

#include <qorb/qorb_driver.h>

namespace {

_CONFIG_DRIVER_INTERFACE_t g_inner = {};
void* g_library = nullptr;

struct Limit {
    uint32_t from = 0, to = 0;   /* reads starting in [from, to) */
    uint32_t minLength = 0;      /* ... asking at least this many bytes */
    uint32_t maxBytes = 0;       /* transfer at most this many */
    bool active = false;
};

struct Patch {
    uint32_t offset = 0;
    uint8_t value = 0;
    uint32_t minLength = 0;      /* only reads of at least this many bytes */
    bool active = false;
};

struct Counters {
    uint64_t reads = 0;          /* every ReadConfig call */
    uint64_t probeReads = 0;     /* 64 bytes at offset 0 */
    uint64_t otherReads = 0;
    uint64_t bus255Reads = 0;
};

Limit g_limit;
Patch g_patch;
Counters g_counters;

uint32_t OpenDriver(uint32_t* context)
{
#ifdef QORB_SIM_DRIVER_PATH
    g_library = dlopen(QORB_SIM_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
#endif
    if (!g_library)
        return 0;
    auto get = reinterpret_cast<QORB_CONFIG_DRIVER_GET_INTERFACE>(dlsym(g_library, "ConfigDriver_GetInterface"));
    if (!get || !get(&g_inner) || !g_inner.OpenDriver)
        return 0;
    return g_inner.OpenDriver(context);
}

uint32_t MapConfigSpace(uint32_t context, uint64_t base, uint64_t length)
{
    return g_inner.MapConfigSpace ? g_inner.MapConfigSpace(context, base, length) : 1;
}

uint32_t ReadConfig(uint32_t context, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                    uint8_t* buffer)
{
    ++g_counters.reads;
    if (offset == 0 && length == 64)
        ++g_counters.probeReads;
    else
        ++g_counters.otherReads;
    if (bus == 255)
        ++g_counters.bus255Reads;
    if (!g_inner.ReadConfig)
        return 0;
    uint32_t count = g_inner.ReadConfig(context, bus, dev, fn, offset, length, buffer);
    if (g_patch.active && length >= g_patch.minLength && g_patch.offset >= offset && g_patch.offset < offset + count)
        buffer[g_patch.offset - offset] = g_patch.value;
    if (g_limit.active && offset >= g_limit.from && offset < g_limit.to && length >= g_limit.minLength &&
        count > g_limit.maxBytes)
        count = g_limit.maxBytes;
    return count;
}

uint32_t WriteConfig(uint32_t context, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                     uint8_t* buffer)
{
    return g_inner.WriteConfig ? g_inner.WriteConfig(context, bus, dev, fn, offset, length, buffer) : 0;
}

uint32_t CloseDriver(uint32_t context)
{
    if (g_inner.CloseDriver)
        g_inner.CloseDriver(context);
    if (g_library)
        dlclose(g_library);
    g_library = nullptr;
    g_inner = {};
    return 1;
}

} // namespace

extern "C" {

QORB_DRIVER_EXPORT uint32_t ConfigDriver_GetInterface(_CONFIG_DRIVER_INTERFACE_t* table)
{
    memset(table, 0, sizeof *table);
    table->OpenDriver = OpenDriver;
    table->MapConfigSpace = MapConfigSpace;
    table->ReadConfig = ReadConfig;
    table->WriteConfig = WriteConfig;
    table->CloseDriver = CloseDriver;
    return 1;
}

/* Reads starting in [from, to) that ask at least minLength bytes transfer at
 * most maxBytes. */
QORB_DRIVER_EXPORT void TopologyProbeLimit(uint32_t from, uint32_t to, uint32_t minLength, uint32_t maxBytes)
{
    g_limit = {from, to, minLength, maxBytes, true};
}

/* Reads of at least minLength bytes that cover offset see value there. */
QORB_DRIVER_EXPORT void TopologyProbePatch(uint32_t offset, uint8_t value, uint32_t minLength)
{
    g_patch = {offset, value, minLength, true};
}

QORB_DRIVER_EXPORT void TopologyProbeReset()
{
    g_limit = {};
    g_patch = {};
    g_counters = {};
}

QORB_DRIVER_EXPORT void TopologyProbeCounts(uint64_t* reads, uint64_t* probeReads, uint64_t* otherReads,
                                            uint64_t* bus255Reads)
{
    *reads = g_counters.reads;
    *probeReads = g_counters.probeReads;
    *otherReads = g_counters.otherReads;
    *bus255Reads = g_counters.bus255Reads;
}

} // extern "C"
