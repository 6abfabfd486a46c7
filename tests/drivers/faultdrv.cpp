/* A configuration driver that injects faults: see faultdrv.h. It wraps the
 * simulated driver, which serves the platform; each entry either forwards
 * to it or misbehaves in the mode the test set. A misbehaving entry never
 * writes past the bytes it was asked for: an over-claim transfers what was
 * asked and answers more. */
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include <qorb/qorb_driver.h>

#include "faultdrv.h"

namespace {

constexpr uint32_t kSeed = 0x2545F491u;
constexpr uint32_t kOverClaim = 64;             /* bytes an over-claim adds */
constexpr uint32_t kHeaderBytes = 256;          /* GetUpstreamZEB header buffers */
constexpr uint32_t kLegacyStart = 0x40, kExtendedStart = 0x100, kSpaceEnd = 0x1000;

struct Fault {
    uint32_t mode = FD_NORMAL;
    uint32_t after = 0;        /* calls still to pass untouched */
    uint32_t calls = 0;
    uint32_t hits = 0;
    uint32_t lastAnswer = 0;
};

Fault g_fault[FD_ENTRIES];
uint32_t g_random = kSeed;
void* g_sim = nullptr;
_CONFIG_DRIVER_INTERFACE_t g_inner = {};
_ZEB_LIB_INTERFACE_t* g_innerZeb = nullptr;
_VOK_LIB_INTERFACE_t* g_innerVok = nullptr;
_ZEB_LIB_INTERFACE_t g_zeb = {};
_VOK_LIB_INTERFACE_t g_vok = {};

uint32_t Random()
{
    g_random ^= g_random << 13;
    g_random ^= g_random >> 17;
    g_random ^= g_random << 5;
    return g_random;
}

/* The mode this call of the entry gets. */
uint32_t Mode(uint32_t entry)
{
    Fault& f = g_fault[entry];
    ++f.calls;
    if (f.mode == FD_NORMAL || f.mode == FD_MISSING)
        return FD_NORMAL;
    if (f.after > 0) {
        --f.after;
        return FD_NORMAL;
    }
    ++f.hits;
    return f.mode;
}

uint32_t Answer(uint32_t entry, uint32_t value)
{
    g_fault[entry].lastAnswer = value;
    return value;
}

bool Missing(uint32_t entry) { return g_fault[entry].mode == FD_MISSING; }

/* A flag answer in a garbage mode: non-zero and not 1. */
uint32_t OddFlag(uint32_t mode) { return mode == FD_GARBAGE_FF ? 0xFFFFFFFFu : (Random() | 2u); }

void FillRandom(uint8_t* bytes, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(Random());
}

/* Configuration bytes that make the capability lists misbehave: `offset` is
 * the configuration offset of bytes[0]. The bytes hold the real registers
 * and are patched where a list lives. */
void Adversarial(uint32_t mode, uint32_t offset, uint8_t* bytes, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t at = offset + i;
        uint32_t dword = at & ~3u, lane = at & 3u;
        uint8_t& b = bytes[i];
        if (at == 0x06)
            b |= 0x10;                                              /* Capabilities List */
        else if (at == 0x34)
            b = mode == FD_GARBAGE_LOOP ? kLegacyStart : 0xFF;
        else if (dword >= kLegacyStart && dword < kExtendedStart) {
            uint8_t next = static_cast<uint8_t>(dword + 4 == kExtendedStart ? kLegacyStart : dword + 4);
            if (mode == FD_GARBAGE_LOOP)
                b = lane == 0 ? 0x10 : lane == 1 ? next : b;        /* PCI Express, ring of 48 */
            else
                b = lane == 0 ? 0x09 : lane == 1 ? 0x3C : lane == 2 ? 0xFF : b; /* vendor, into the header */
        } else if (dword >= kExtendedStart && dword < kSpaceEnd) {
            uint32_t next = mode == FD_GARBAGE_LOOP ? (dword + 4 == kSpaceEnd ? kExtendedStart : dword + 4) : 0x0C0;
            uint32_t header = 0x0001u | 1u << 16 | next << 20;      /* AER */
            b = static_cast<uint8_t>(header >> (8 * lane));
        }
    }
}

/* A trace buffer of adversarial entries. Loop: zero-length TLPs, DLLPs and
 * header-only entries, the last one a TLP of the largest length. Edge:
 * one-doubleword TLPs, the last one cut off by the end of the buffer. */
void AdversarialTrace(uint32_t mode, uint8_t* buffer, uint32_t length)
{
    memset(buffer, 0, length);
    uint32_t pos = 0;
    for (uint32_t n = 0; pos + 8 <= length; ++n) {
        uint8_t* e = buffer + pos;
        e[0] = 0xF1;
        if (mode == FD_GARBAGE_EDGE) {
            e[1] = 0;
            e[2] = 1;
            if (pos + 12 <= length)
                e[8] = 0x4A;                                        /* CplD */
            pos += 12;
            continue;
        }
        uint8_t kind = static_cast<uint8_t>(n % 3 == 0 ? 0 : n % 3 == 1 ? 3 : 5);
        e[1] = kind;
        if (pos + 16 > length) {
            e[1] = 0;
            e[2] = e[3] = 0xFF;                                     /* 0xFFFF doublewords */
            break;
        }
        if (kind == 3)
            e[9] = static_cast<uint8_t>(0x80 | (n & 7));            /* UpdateFC-P */
        pos += kind == 3 ? 16 : 8;
    }
}

void FillGarbage(uint32_t mode, uint8_t* bytes, uint32_t length)
{
    if (mode == FD_GARBAGE_FF)
        memset(bytes, 0xFF, length);
    else
        FillRandom(bytes, length);
}

/* ------------------------------------------------ configuration table */

bool LoadSim()
{
#ifdef QORB_SIM_DRIVER_PATH
    if (!g_sim)
        g_sim = dlopen(QORB_SIM_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
#endif
    if (!g_sim)
        return false;
    auto get = reinterpret_cast<QORB_CONFIG_DRIVER_GET_INTERFACE>(dlsym(g_sim, "ConfigDriver_GetInterface"));
    auto zeb = reinterpret_cast<QORB_ZEB_LIB_OPEN_INTERFACE>(dlsym(g_sim, "ZEB_LIB_Open_ZEB_Interface"));
    auto vok = reinterpret_cast<QORB_VOK_LIB_OPEN_INTERFACE>(dlsym(g_sim, "VOK_LIB_Open_VOK_Interface"));
    return get && get(&g_inner) && zeb && zeb(&g_innerZeb) && vok && vok(&g_innerVok);
}

uint32_t OpenDriver(uint32_t* context)
{
    uint32_t mode = Mode(FD_OPEN);
    if (mode == FD_FAIL)
        return Answer(FD_OPEN, 0);
    uint32_t opened = g_inner.OpenDriver(context);
    return Answer(FD_OPEN, opened && mode != FD_NORMAL ? OddFlag(mode) : opened);
}

uint32_t MapConfigSpace(uint32_t context, uint64_t base, uint64_t length)
{
    uint32_t mode = Mode(FD_MAP);
    if (mode == FD_FAIL)
        return Answer(FD_MAP, 0);
    uint32_t mapped = g_inner.MapConfigSpace(context, base, length);
    return Answer(FD_MAP, mapped && mode != FD_NORMAL ? OddFlag(mode) : mapped);
}

uint32_t QueryMcfgTable(uint32_t context, uint64_t* base, uint8_t* startBus, uint8_t* endBus, uint64_t* length)
{
    uint32_t mode = Mode(FD_QUERY);
    if (mode == FD_FAIL)
        return Answer(FD_QUERY, 0);
    uint32_t answer = g_inner.QueryMcfgTable(context, base, startBus, endBus, length);
    if (mode != FD_NORMAL) {
        FillGarbage(mode, reinterpret_cast<uint8_t*>(base), sizeof *base);
        FillGarbage(mode, startBus, 1);
        FillGarbage(mode, endBus, 1);
        *length = mode == FD_GARBAGE_FF ? 0 : Random();             /* no window, or a wild one */
        answer = OddFlag(mode);
    }
    return Answer(FD_QUERY, answer);
}

uint32_t ReadConfig(uint32_t context, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                    uint8_t* buffer)
{
    uint32_t mode = Mode(FD_READ);
    uint32_t half = length / 2;
    switch (mode) {
    case FD_FAIL:
        return Answer(FD_READ, 0);
    case FD_SHORT:
        return Answer(FD_READ, g_inner.ReadConfig(context, bus, dev, fn, offset, half, buffer));
    case FD_OVER:
        g_inner.ReadConfig(context, bus, dev, fn, offset, length, buffer);
        return Answer(FD_READ, length + kOverClaim);
    case FD_OVER_PARTIAL:
        g_inner.ReadConfig(context, bus, dev, fn, offset, half, buffer);
        return Answer(FD_READ, length);
    case FD_GARBAGE_FF:
    case FD_GARBAGE_RANDOM:
        FillGarbage(mode, buffer, length);
        return Answer(FD_READ, length);
    case FD_GARBAGE_LOOP:
    case FD_GARBAGE_EDGE: {
        /* Only functions that are there get their lists bent. */
        uint32_t got = g_inner.ReadConfig(context, bus, dev, fn, offset, length, buffer);
        if (got == length)
            Adversarial(mode, offset, buffer, length);
        return Answer(FD_READ, got);
    }
    default:
        return Answer(FD_READ, g_inner.ReadConfig(context, bus, dev, fn, offset, length, buffer));
    }
}

/* The simulator's ReadConfigEx reads 4 bytes. */
uint32_t ReadConfigEx(uint32_t context, uint32_t v1, uint32_t v2, uint32_t v3, uint32_t v4, uint32_t v5,
                      uint8_t* buffer)
{
    uint32_t mode = Mode(FD_READ_EX);
    uint8_t bytes[4] = {};
    uint32_t answer = mode == FD_FAIL ? 0 : g_inner.ReadConfigEx(context, v1, v2, v3, v4, v5, bytes);
    uint32_t copied = answer < sizeof bytes ? answer : sizeof bytes;
    if (mode == FD_SHORT)
        copied = answer = answer / 2;
    else if (mode == FD_OVER)
        answer += kOverClaim;
    else if (mode == FD_OVER_PARTIAL)
        copied /= 2;
    else if (mode >= FD_GARBAGE_FF) {
        FillGarbage(mode, bytes, sizeof bytes);
        answer = mode == FD_GARBAGE_FF ? 0xFFFFFFFFu : Random();
    }
    memcpy(buffer, bytes, copied);
    return Answer(FD_READ_EX, answer);
}

uint32_t WriteConfig(uint32_t context, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                     uint8_t* buffer)
{
    uint32_t mode = Mode(FD_WRITE);
    uint8_t garbage[kSpaceEnd];
    switch (mode) {
    case FD_FAIL:
        return Answer(FD_WRITE, 0);
    case FD_SHORT:
        return Answer(FD_WRITE, g_inner.WriteConfig(context, bus, dev, fn, offset, length / 2, buffer));
    case FD_OVER:
        g_inner.WriteConfig(context, bus, dev, fn, offset, length, buffer);
        return Answer(FD_WRITE, length + kOverClaim);
    case FD_OVER_PARTIAL:
        g_inner.WriteConfig(context, bus, dev, fn, offset, length / 2, buffer);
        return Answer(FD_WRITE, length);
    case FD_NORMAL:
        return Answer(FD_WRITE, g_inner.WriteConfig(context, bus, dev, fn, offset, length, buffer));
    default: {
        /* The registers get other bytes than the caller gave. */
        uint32_t n = length < sizeof garbage ? length : sizeof garbage;
        FillGarbage(mode, garbage, n);
        return Answer(FD_WRITE, g_inner.WriteConfig(context, bus, dev, fn, offset, n, garbage) == n ? length : 0);
    }
    }
}

uint32_t CloseDriver(uint32_t context)
{
    uint32_t mode = Mode(FD_CLOSE);
    if (mode == FD_FAIL)
        return Answer(FD_CLOSE, 0);
    uint32_t closed = g_inner.CloseDriver(context);
    return Answer(FD_CLOSE, mode == FD_NORMAL ? closed : OddFlag(mode));
}

/* ------------------------------------------------------ card tables */

uint32_t Zeb(uint32_t slot) { return FD_ZEB + slot; }

/* Slots that answer a status and have no output: a failure is the card
 * failure, garbage an arbitrary value; both are what the library must hand
 * back unchanged. */
template <uint32_t Slot, auto Member, typename... Args>
uint32_t StatusSlot(uint32_t b, uint32_t d, uint32_t f, Args... args)
{
    auto inner = g_innerZeb->*Member;
    uint32_t mode = Mode(Zeb(Slot));
    if (mode == FD_FAIL)
        return Answer(Zeb(Slot), FD_CARD_FAILURE);
    uint32_t answer = inner(b, d, f, args...);
    return Answer(Zeb(Slot), mode == FD_NORMAL ? answer : mode == FD_GARBAGE_FF ? 0xFFFFFFFFu : Random());
}

/* Slots with one output of type T: a failure answers the card failure
 * (GetTraceConfig and GetTraceBufferSize store 0xFFFFFFFF first, which the
 * library must not trust); garbage fills the output and answers success. */
template <uint32_t Slot, auto Member, typename T>
uint32_t OutputSlot(uint32_t b, uint32_t d, uint32_t f, T* out)
{
    auto inner = g_innerZeb->*Member;
    uint32_t mode = Mode(Zeb(Slot));
    if (mode == FD_FAIL) {
        if constexpr (Slot == 1 || Slot == 3)
            memset(out, 0xFF, sizeof *out);
        return Answer(Zeb(Slot), FD_CARD_FAILURE);
    }
    uint32_t answer = inner(b, d, f, out);
    if (mode == FD_NORMAL)
        return Answer(Zeb(Slot), answer);
    FillGarbage(mode, reinterpret_cast<uint8_t*>(out), sizeof *out);
    if constexpr (Slot == 3)   /* buffer sizes that need not be whole words, and not too large to allocate */
        *out = mode == FD_GARBAGE_FF ? 0xFFFFu : 1 + Random() % 4099;
    return Answer(Zeb(Slot), 0);
}

uint32_t IsZeb(uint32_t b, uint32_t d, uint32_t f)
{
    uint32_t mode = Mode(Zeb(0));
    uint32_t answer = mode == FD_FAIL ? 0 : g_innerZeb->IsZEB(b, d, f);
    return Answer(Zeb(0), mode >= FD_GARBAGE_FF && answer ? OddFlag(mode) : answer);
}

uint32_t ReadTraceBuffer(uint32_t b, uint32_t d, uint32_t f, uint32_t* bytes, uint8_t* buffer)
{
    uint32_t mode = Mode(Zeb(5));
    uint32_t asked = *bytes;
    uint32_t answer = 0;
    switch (mode) {
    case FD_FAIL:
        return Answer(Zeb(5), FD_CARD_FAILURE);
    case FD_SHORT:
        *bytes = asked / 2;
        answer = g_innerZeb->ReadTraceBuffer(b, d, f, bytes, buffer);
        break;
    case FD_OVER:
        answer = g_innerZeb->ReadTraceBuffer(b, d, f, bytes, buffer);
        *bytes = asked + kOverClaim;
        break;
    case FD_OVER_PARTIAL:
        *bytes = asked / 2;
        answer = g_innerZeb->ReadTraceBuffer(b, d, f, bytes, buffer);
        *bytes = asked;
        break;
    case FD_GARBAGE_FF:
    case FD_GARBAGE_RANDOM:
        FillGarbage(mode, buffer, asked);
        break;
    case FD_GARBAGE_LOOP:
    case FD_GARBAGE_EDGE:
        AdversarialTrace(mode, buffer, asked);
        break;
    default:
        answer = g_innerZeb->ReadTraceBuffer(b, d, f, bytes, buffer);
    }
    return Answer(Zeb(5), answer);
}

uint32_t GetUpstreamZeb(uint32_t b, uint32_t d, uint32_t f, uint32_t* bus1, uint32_t* dev1, uint32_t* fn1,
                        uint8_t* header1, uint32_t* bus2, uint32_t* dev2, uint32_t* fn2, uint8_t* header2)
{
    uint32_t mode = Mode(Zeb(16));
    if (mode == FD_FAIL)
        return Answer(Zeb(16), FD_CARD_FAILURE);
    uint32_t answer = g_innerZeb->GetUpstreamZEB(b, d, f, bus1, dev1, fn1, header1, bus2, dev2, fn2, header2);
    if (mode != FD_NORMAL) {
        for (uint32_t* location : {bus1, dev1, fn1, bus2, dev2, fn2})
            FillGarbage(mode, reinterpret_cast<uint8_t*>(location), sizeof *location);
        FillGarbage(mode, header1, kHeaderBytes);
        FillGarbage(mode, header2, kHeaderBytes);
        answer = 0;
    }
    return Answer(Zeb(16), answer);
}

uint32_t IsVok(uint32_t b, uint32_t d, uint32_t f)
{
    uint32_t mode = Mode(FD_VOK);
    uint32_t answer = mode == FD_FAIL ? 0 : g_innerVok->IsVOK(b, d, f);
    return Answer(FD_VOK, mode >= FD_GARBAGE_FF ? OddFlag(mode) : answer);
}

/* The card table as the test asks for it now: a missing slot is null. */
void BuildCardTables()
{
    using Z = _ZEB_LIB_INTERFACE_t;
    g_zeb = Z{IsZeb,
              OutputSlot<1, &Z::GetTraceConfig, uint32_t>,
              StatusSlot<2, &Z::SetTraceConfig, uint32_t>,
              OutputSlot<3, &Z::GetTraceBufferSize, uint32_t>,
              StatusSlot<4, &Z::WritePatternToTB, uint32_t>,
              ReadTraceBuffer,
              OutputSlot<6, &Z::GetProperties, _qorb_zeb_query_prop_t>,
              nullptr,
              StatusSlot<8, &Z::Disarm>,
              OutputSlot<9, &Z::GetActionCount, uint32_t>,
              StatusSlot<10, &Z::Arm>,
              StatusSlot<11, &Z::ProgramCmd, _qorb_cmd_map_t*>,
              StatusSlot<12, &Z::ChangeMode, _QORB_ZEB_OP_MODE_t>,
              OutputSlot<13, &Z::QueryMode, _QORB_ZEB_OP_MODE_t>,
              StatusSlot<14, &Z::SuspendLogging>,
              StatusSlot<15, &Z::ResumeLogging>,
              GetUpstreamZeb};
    auto** slots = reinterpret_cast<void**>(&g_zeb);
    for (uint32_t slot = 0; slot <= 16; ++slot)
        if (Missing(Zeb(slot)))
            slots[slot] = nullptr;
    g_vok.IsVOK = Missing(FD_VOK) ? nullptr : IsVok;
}

void Unload()
{
    if (g_sim)
        dlclose(g_sim);
    g_sim = nullptr;
    g_inner = {};
    g_innerZeb = nullptr;
    g_innerVok = nullptr;
}

__attribute__((destructor)) void UnloadAtExit()
{
    Unload();
}

void SetFault(uint32_t entry, uint32_t mode, uint32_t after)
{
    if (entry >= FD_ENTRIES || mode >= FD_MODES)
        return;
    g_fault[entry].mode = mode;
    g_fault[entry].after = after;
    if (g_sim)
        BuildCardTables();
}

/* Faults for a process that cannot reach the controls (a tool run by a
 * test): FAULTDRV="entry:mode:after[,entry:mode:after...]", numbers as in
 * faultdrv.h, read once when the driver is first bound. */
void SetFaultsFromEnvironment()
{
    static bool done = false;
    const char* text = getenv("FAULTDRV");
    if (done || !text)
        return;
    done = true;
    while (*text) {
        char* end = nullptr;
        uint32_t entry = static_cast<uint32_t>(strtoul(text, &end, 0));
        uint32_t mode = *end == ':' ? static_cast<uint32_t>(strtoul(end + 1, &end, 0)) : FD_MODES;
        uint32_t after = *end == ':' ? static_cast<uint32_t>(strtoul(end + 1, &end, 0)) : 0;
        SetFault(entry, mode, after);
        text = *end == ',' ? end + 1 : end + strlen(end);
    }
}

} // namespace

extern "C" {

QORB_DRIVER_EXPORT uint32_t ConfigDriver_GetInterface(_CONFIG_DRIVER_INTERFACE_t* table)
{
    if (!LoadSim())
        return 0;
    SetFaultsFromEnvironment();
    *table = _CONFIG_DRIVER_INTERFACE_t{};
    table->OpenDriver = Missing(FD_OPEN) ? nullptr : OpenDriver;
    table->MapConfigSpace = Missing(FD_MAP) ? nullptr : MapConfigSpace;
    table->QueryMcfgTable = Missing(FD_QUERY) ? nullptr : QueryMcfgTable;
    table->ReadConfig = Missing(FD_READ) ? nullptr : ReadConfig;
    table->ReadConfigEx = Missing(FD_READ_EX) ? nullptr : ReadConfigEx;
    table->WriteConfig = Missing(FD_WRITE) ? nullptr : WriteConfig;
    table->CloseDriver = Missing(FD_CLOSE) ? nullptr : CloseDriver;
    BuildCardTables();
    return 1;
}

QORB_DRIVER_EXPORT uint32_t ZEB_LIB_Open_ZEB_Interface(_ZEB_LIB_INTERFACE_t** table)
{
    *table = &g_zeb;
    return 0;
}

QORB_DRIVER_EXPORT uint32_t VOK_LIB_Open_VOK_Interface(_VOK_LIB_INTERFACE_t** table)
{
    *table = &g_vok;
    return 0;
}

/* Every entry back to normal, the counters cleared, the random sequence
 * restarted. The simulator stays loaded while the library has it open. */
QORB_DRIVER_EXPORT void FaultDrv_Reset()
{
    for (Fault& f : g_fault)
        f = Fault{};
    g_random = kSeed;
    if (g_sim)
        BuildCardTables();
}

QORB_DRIVER_EXPORT void FaultDrv_Set(uint32_t entry, uint32_t mode, uint32_t after)
{
    SetFault(entry, mode, after);
}

QORB_DRIVER_EXPORT uint32_t FaultDrv_Calls(uint32_t entry)
{
    return entry < FD_ENTRIES ? g_fault[entry].calls : 0;
}

QORB_DRIVER_EXPORT uint32_t FaultDrv_Hits(uint32_t entry)
{
    return entry < FD_ENTRIES ? g_fault[entry].hits : 0;
}

QORB_DRIVER_EXPORT uint32_t FaultDrv_LastAnswer(uint32_t entry)
{
    return entry < FD_ENTRIES ? g_fault[entry].lastAnswer : 0;
}

} // extern "C"
