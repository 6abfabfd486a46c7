/* A fake configuration driver with a test card: see zebfake_state.h. */
#include <string.h>
#include <time.h>

#include "zebfake_state.h"

namespace {

ZebFakeState g_state;

uint64_t NowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

ZebFakeFunction* FindFunction(uint32_t bus, uint32_t dev, uint32_t fn)
{
    for (auto& f : g_state.functions)
        if (f.present && f.bus == bus && f.dev == dev && f.fn == fn)
            return &f;
    return nullptr;
}

uint32_t Record(uint32_t slot, uint32_t bus, uint32_t dev, uint32_t fn, uint64_t argument = 0)
{
    if (g_state.callCount < ZEBFAKE_MAX_CALLS)
        g_state.calls[g_state.callCount++] = ZebFakeCall{slot, bus, dev, fn, argument, NowNs()};
    return slot < ZEBFAKE_SLOTS ? g_state.slotResult[slot] : 0;
}

uint64_t Arg(const void* p) { return reinterpret_cast<uint64_t>(p); }

/* ------------------------------------------------------- ZEB table */
uint32_t IsZeb(uint32_t b, uint32_t d, uint32_t f)
{
    Record(0, b, d, f);
    ZebFakeFunction* fn = FindFunction(b, d, f);
    return fn ? fn->isZeb : 0;
}

uint32_t GetTraceConfig(uint32_t b, uint32_t d, uint32_t f, uint32_t* config)
{
    uint32_t r = Record(1, b, d, f, Arg(config));
    if (r == 0)
        *config = g_state.traceConfig;
    return r;
}

uint32_t SetTraceConfig(uint32_t b, uint32_t d, uint32_t f, uint32_t config)
{
    uint32_t r = Record(2, b, d, f, config);
    if (r == 0)
        g_state.traceConfig = config;
    return r;
}

uint32_t GetTraceBufferSize(uint32_t b, uint32_t d, uint32_t f, uint32_t* bytes)
{
    uint32_t r = Record(3, b, d, f, Arg(bytes));
    *bytes = g_state.bufferSize;   /* stored even on failure: the library must not trust it then */
    return r;
}

uint32_t WritePatternToTB(uint32_t b, uint32_t d, uint32_t f, uint32_t pattern)
{
    g_state.lastPattern = pattern;
    return Record(4, b, d, f, pattern);
}

uint32_t ReadTraceBuffer(uint32_t b, uint32_t d, uint32_t f, uint32_t* bytes, uint8_t* buffer)
{
    uint32_t r = Record(5, b, d, f, *bytes);
    uint32_t n = g_state.traceLength < *bytes ? g_state.traceLength : *bytes;
    memcpy(buffer, g_state.trace, n);
    *bytes = g_state.reportedLength ? g_state.reportedLength : n;
    return r;
}

uint32_t GetProperties(uint32_t b, uint32_t d, uint32_t f, _qorb_zeb_query_prop_t* props)
{
    uint32_t r = Record(6, b, d, f, Arg(props));
    *props = g_state.properties;
    return r;
}

uint32_t Disarm(uint32_t b, uint32_t d, uint32_t f) { return Record(8, b, d, f); }

uint32_t GetActionCount(uint32_t b, uint32_t d, uint32_t f, uint32_t* count)
{
    uint32_t r = Record(9, b, d, f, Arg(count));
    *count = g_state.actionCount;
    return r;
}

uint32_t Arm(uint32_t b, uint32_t d, uint32_t f) { return Record(10, b, d, f); }

uint32_t ProgramCmd(uint32_t b, uint32_t d, uint32_t f, _qorb_cmd_map_t* cmd)
{
    if (cmd)
        g_state.lastCommand = *cmd;
    return Record(11, b, d, f, Arg(cmd));
}

uint32_t ChangeMode(uint32_t b, uint32_t d, uint32_t f, _QORB_ZEB_OP_MODE_t mode)
{
    g_state.mode = mode;
    return Record(12, b, d, f, mode);
}

uint32_t QueryMode(uint32_t b, uint32_t d, uint32_t f, _QORB_ZEB_OP_MODE_t* mode)
{
    *mode = g_state.mode;
    return Record(13, b, d, f, Arg(mode));
}

uint32_t SuspendLogging(uint32_t b, uint32_t d, uint32_t f) { return Record(14, b, d, f); }
uint32_t ResumeLogging(uint32_t b, uint32_t d, uint32_t f) { return Record(15, b, d, f); }

void UpstreamOne(int i, uint32_t* bus, uint32_t* dev, uint32_t* fn, uint8_t* header)
{
    /* High bits set on purpose: only the low 8 bits count. */
    *bus = g_state.upstream[i][0] | 0xAB00;
    *dev = g_state.upstream[i][1] | 0xCD00;
    *fn = g_state.upstream[i][2] | 0xEF00;
    ZebFakeFunction* f = FindFunction(g_state.upstream[i][0], g_state.upstream[i][1], g_state.upstream[i][2]);
    if (f)
        memcpy(header, f->config, sizeof f->config);
}

uint32_t GetUpstreamZeb(uint32_t b, uint32_t d, uint32_t f, uint32_t* bus1, uint32_t* dev1, uint32_t* fn1,
                        uint8_t* header1, uint32_t* bus2, uint32_t* dev2, uint32_t* fn2, uint8_t* header2)
{
    uint32_t r = Record(16, b, d, f);
    if (r == 0) {
        UpstreamOne(0, bus1, dev1, fn1, header1);
        UpstreamOne(1, bus2, dev2, fn2, header2);
    }
    return r;
}

/* ------------------------------------------------------- VOK table */
uint32_t IsVok(uint32_t b, uint32_t d, uint32_t f)
{
    Record(100, b, d, f);
    ZebFakeFunction* fn = FindFunction(b, d, f);
    return fn ? fn->isVok : 0;
}

/* --------------------------------------------- configuration driver */
void Reset()
{
    g_state = ZebFakeState{};
    g_state.zeb = _ZEB_LIB_INTERFACE_t{IsZeb, GetTraceConfig, SetTraceConfig, GetTraceBufferSize,
                                       WritePatternToTB, ReadTraceBuffer, GetProperties, nullptr, Disarm,
                                       GetActionCount, Arm, ProgramCmd, ChangeMode, QueryMode,
                                       SuspendLogging, ResumeLogging, GetUpstreamZeb};
    g_state.vok.IsVOK = IsVok;
}

uint32_t OpenDriver(uint32_t* context)
{
    Reset();
    *context = 0x2EB;
    return 1;
}

uint32_t MapConfigSpace(uint32_t, uint64_t, uint64_t) { return 1; }

uint32_t QueryMcfgTable(uint32_t, uint64_t* base, uint8_t* startBus, uint8_t* endBus, uint64_t* length)
{
    *base = 0xE0000000ull;
    *startBus = 0;
    *endBus = 255;
    *length = 256ull << 20;
    return 1;
}

uint32_t ReadConfig(uint32_t, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                    uint8_t* buffer)
{
    ++g_state.configReads;
    ZebFakeFunction* f = FindFunction(bus, dev, fn);
    if (!f || offset >= sizeof f->config || length > sizeof f->config - offset)
        return 0;
    memcpy(buffer, f->config + offset, length);
    return f->readCount ? f->readCount : length;
}

uint32_t WriteConfig(uint32_t, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                     uint8_t* buffer)
{
    ZebFakeFunction* f = FindFunction(bus, dev, fn);
    if (!f || offset >= sizeof f->config || length > sizeof f->config - offset)
        return 0;
    memcpy(f->config + offset, buffer, length);
    return length;
}

uint32_t CloseDriver(uint32_t) { return 1; }

} // namespace

extern "C" QORB_DRIVER_EXPORT uint32_t ConfigDriver_GetInterface(_CONFIG_DRIVER_INTERFACE_t* table)
{
    *table = _CONFIG_DRIVER_INTERFACE_t{OpenDriver, MapConfigSpace, QueryMcfgTable, nullptr, ReadConfig,
                                        nullptr, WriteConfig, CloseDriver, nullptr, nullptr};
    return 1;
}

extern "C" QORB_DRIVER_EXPORT uint32_t ZEB_LIB_Open_ZEB_Interface(_ZEB_LIB_INTERFACE_t** table)
{
    Reset();
    *table = &g_state.zeb;
    return 0;
}

extern "C" QORB_DRIVER_EXPORT uint32_t VOK_LIB_Open_VOK_Interface(_VOK_LIB_INTERFACE_t** table)
{
    *table = &g_state.vok;
    return 0;
}

extern "C" QORB_DRIVER_EXPORT ZebFakeState* ZebFake_State()
{
    return &g_state;
}
