/* The tests' one programmable configuration driver (fakedrv.h). It never writes past the bytes it was asked
 * for: an over-claim transfers what was asked and answers more. */
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <initializer_list>
#include <type_traits>
#include <vector>

#include <qorb/qorb_driver.h>

#include "fakedrv.h"

namespace {

constexpr uint32_t kSeed = 0x2545F491u, kOverClaim = 64, kLogSize = 4096;

struct State {
    struct {
        uint32_t mode, after, calls, hits, lastAnswer, answer;
    } entry[FK_ENTRIES] = {};
    FakeCall log[kLogSize] = {};
    uint32_t logged = 0, wrongContext = 0, random = kSeed, traceReported = 0;
    uint32_t limitFrom = 0, limitTo = 0, limitMin = 0, limitMax = 0, patchOffset = 0, patchMin = 0;
    uint64_t mcfgBase = 0, mcfgLength = 0;
    uint8_t patchValue = 0, mcfgStart = 0, mcfgEnd = 0;
    bool limitOn = false, patchOn = false, mcfgOn = false, traceOn = false;
    std::vector<uint8_t> trace;
} g;

void* g_sim;
uint32_t g_simContext;
_CONFIG_DRIVER_INTERFACE_t g_inner;
_ZEB_LIB_INTERFACE_t *g_innerZeb, g_zeb;
_VOK_LIB_INTERFACE_t *g_innerVok, g_vok;

uint32_t Random() {
    g.random ^= g.random << 13, g.random ^= g.random >> 17;
    return g.random ^= g.random << 5;
}

void Fill(uint32_t mode, void* out, size_t length) {
    for (size_t i = 0; i < length; ++i)
        static_cast<uint8_t*>(out)[i] = mode == FK_GARBAGE_FF ? 0xFF : uint8_t(Random());
}

/* One call of an entry: logged, counted, given its mode. */
struct Call {
    uint32_t entry, mode = FK_FORWARD, result = 0;
    FakeCall* rec;
    Call(uint32_t e, std::initializer_list<uint32_t> args, uint32_t context = FK_CONTEXT)
        : entry(e)
        , rec(&(g.log[g.logged++ % kLogSize] = FakeCall{e, {}, {}, {}, 0})) {
        std::copy(args.begin(), args.end(), rec->args);
        g.wrongContext += context != FK_CONTEXT;
        auto& s = g.entry[e];
        ++s.calls;
        if (s.mode != FK_FORWARD && s.mode != FK_MISSING && !(s.after > 0 && s.after--)) ++s.hits, mode = s.mode;
    }
    uint32_t Answer(uint32_t value) { return rec->answer = g.entry[entry].lastAnswer = result = value; }
    /* FK_FAIL and FK_ANSWER end the call with the outputs untouched. */
    bool Fixed(uint32_t failure = 0) {
        return (mode == FK_FAIL || mode == FK_ANSWER)
            && (Answer(mode == FK_FAIL ? failure : g.entry[entry].answer), true);
    }
    bool Garbage() const { return mode >= FK_GARBAGE_FF; }
    uint32_t Lie() { return mode == FK_GARBAGE_FF ? ~0u : Random() | 2u; } /* neither 0 nor 1 */
    uint32_t Flag(uint32_t value) { return Answer(Garbage() && value ? Lie() : value); }
};

/* Loop: 48 PCI Express headers in a ring, 960 AER headers in a ring. Edge: a capability pointer of 0xFF,
 * vendor capabilities of length 0xFF pointing into the header, extended headers pointing at 0xC0. */
void BendCapabilities(uint32_t mode, uint32_t offset, uint8_t* bytes, uint32_t length) {
    bool loop = mode == FK_GARBAGE_LOOP;
    for (uint32_t i = 0, at = offset; i < length; ++i, ++at) {
        uint32_t dword = at & ~3u, lane = at & 3u, next = loop ? dword + 4 : 0xC0;
        if (at == 0x06 || at == 0x34) bytes[i] = at == 0x06 ? bytes[i] | 0x10 : loop ? 0x40 : 0xFF;
        else if (dword >= 0x40 && dword < 0x100 && lane < (loop ? 2u : 3u))
            bytes[i] = loop ? (lane == 0 ? 0x10 : next == 0x100 ? 0x40 : next) : "\x09\x3C\xFF"[lane];
        else if (dword >= 0x100 && dword < 0x1000)
            bytes[i] = uint8_t((0x10001u | (next == 0x1000 ? 0x100 : next) << 20) >> 8 * lane);
    }
}

/* Trace entries. Loop: TLPs without payload, UpdateFC-P DLLPs and header-only entries, the last a TLP of
 * 0xFFFF doublewords. Edge: one-doubleword CplD TLPs, the last cut off by the end of the buffer. */
void BendTrace(uint32_t mode, uint8_t* buffer, uint32_t length) {
    memset(buffer, 0, length);
    bool edge = mode == FK_GARBAGE_EDGE;
    for (uint32_t pos = 0, n = 0; pos + 8 <= length; pos += edge ? 12 : buffer[pos + 1] == 3 ? 16 : 8, ++n) {
        uint8_t* e = buffer + pos;
        bool last = !edge && pos + 16 > length;
        e[0] = 0xF1, e[1] = edge || last ? 0 : "\0\3\5"[n % 3], e[2] = last ? 0xFF : edge, e[3] = last ? 0xFF : 0;
        if (last) break;
        if (pos + 12 <= length) /* the last edge entry is cut off before its header */
            e[8] = edge ? 0x4A : 0, e[9] = e[1] == 3 ? uint8_t(0x80 | (n & 7)) : 0;
    }
}

enum Kind { kRead, kWrite, kTrace };

/* A transfer of `length` bytes at `offset`; move(n, bytes) moves n bytes and answers how many it moved. */
template <typename Move>
uint32_t Transfer(Call& c, Kind kind, uint32_t offset, uint32_t length, uint8_t* buffer, Move move) {
    if (c.Fixed()) return c.result;
    if (c.Garbage() && kind == kWrite) { /* the registers get other bytes than the caller gave */
        std::vector<uint8_t> other(length);
        Fill(c.mode, other.data(), length);
        return c.Answer(move(length, other.data()));
    }
    if (c.Garbage() && (kind == kTrace || c.mode <= FK_GARBAGE_RANDOM)) {
        c.mode <= FK_GARBAGE_RANDOM ? Fill(c.mode, buffer, length) : BendTrace(c.mode, buffer, length);
        return c.Answer(length);
    }
    uint32_t got = move(c.mode == FK_SHORT || c.mode == FK_OVER_PARTIAL ? length / 2 : length, buffer);
    if (c.Garbage() && got == length) /* only functions that are there get their lists bent */
        BendCapabilities(c.mode, offset, buffer, length);
    return c.Answer(c.mode == FK_OVER ? length + kOverClaim : c.mode == FK_OVER_PARTIAL ? length : got);
}

uint32_t Sim(uint32_t context) { return context == FK_CONTEXT ? g_simContext : 0; }

uint32_t OpenDriver(uint32_t* context) {
    Call c(FK_OPEN, {});
    return c.Fixed() ? c.result : c.Flag(g_inner.OpenDriver(&g_simContext) ? (*context = FK_CONTEXT, 1) : 0);
}

uint32_t MapConfigSpace(uint32_t context, uint64_t base, uint64_t length) {
    Call c(FK_MAP, {}, context);
    c.rec->wide[0] = base, c.rec->wide[1] = length;
    return c.Fixed() ? c.result : c.Flag(g_inner.MapConfigSpace(Sim(context), base, length));
}

uint32_t QueryMcfgTable(uint32_t context, uint64_t* base, uint8_t* startBus, uint8_t* endBus, uint64_t* length) {
    Call c(FK_QUERY, {}, context);
    if (c.Fixed()) return c.result;
    uint32_t answer = g.mcfgOn ? 1 : g_inner.QueryMcfgTable(Sim(context), base, startBus, endBus, length);
    if (g.mcfgOn) *base = g.mcfgBase, *startBus = g.mcfgStart, *endBus = g.mcfgEnd, *length = g.mcfgLength;
    if (c.Garbage()) /* no window, or a wild one */
        Fill(c.mode, base, 8), Fill(c.mode, startBus, 1), Fill(c.mode, endBus, 1), *length = c.Lie() & ~1u;
    return c.Flag(answer);
}

uint32_t ReadConfig(
    uint32_t context, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length, uint8_t* buffer) {
    Call c(FK_READ, {bus, dev, fn, offset, length}, context);
    bool limited = g.limitOn && offset >= g.limitFrom && offset < g.limitTo && length >= g.limitMin;
    uint32_t got = Transfer(c, kRead, offset, length, buffer, [&](uint32_t n, uint8_t* bytes) {
        return g_inner.ReadConfig(Sim(context), bus, dev, fn, offset, limited ? std::min(n, g.limitMax) : n, bytes);
    });
    if (g.patchOn && length >= g.patchMin && g.patchOffset - offset < std::min(got, length))
        buffer[g.patchOffset - offset] = g.patchValue;
    return got;
}

/* The simulator's ReadConfigEx reads 4 bytes. */
uint32_t ReadConfigEx(
    uint32_t context, uint32_t v1, uint32_t v2, uint32_t v3, uint32_t v4, uint32_t v5, uint8_t* buffer) {
    Call c(FK_READ_EX, {v1, v2, v3, v4, v5}, context);
    return Transfer(c, kRead, v5, 4, buffer, [&](uint32_t n, uint8_t* bytes) {
        uint8_t four[4] = {};
        uint32_t got = std::min(g_inner.ReadConfigEx(Sim(context), v1, v2, v3, v4, v5, four), n);
        return memcpy(bytes, four, got), got;
    });
}

uint32_t WriteConfig(
    uint32_t context, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length, uint8_t* buffer) {
    Call c(FK_WRITE, {bus, dev, fn, offset, length}, context);
    if (buffer) memcpy(c.rec->data, buffer, std::min<size_t>(length, sizeof c.rec->data));
    return Transfer(c, kWrite, offset, length, buffer,
        [&](uint32_t n, uint8_t* bytes) { return g_inner.WriteConfig(Sim(context), bus, dev, fn, offset, n, bytes); });
}

uint32_t CloseDriver(uint32_t context) {
    Call c(FK_CLOSE, {}, context);
    return c.Fixed() ? c.result : c.Flag(g_inner.CloseDriver(Sim(context)));
}

/* A card slot; values and input bytes are logged. Failing, IsZEB answers 0, the others FK_CARD_FAILURE.
 * Garbage: IsZEB answers an odd flag, an output slot gets its outputs filled and answers success, and a
 * slot without output answers an arbitrary status, which the library must hand back unchanged. */
template <uint32_t Slot, auto Member, typename... Args>
uint32_t CardSlot(uint32_t b, uint32_t d, uint32_t f, Args... args) {
    constexpr bool output = Slot == 1 || Slot == 3 || Slot == 6 || Slot == 9 || Slot == 13 || Slot == 16;
    Call c(FK_ZEB + Slot, {b, d, f});
    [[maybe_unused]] auto note = [&](auto arg) {
        if constexpr (!std::is_pointer_v<decltype(arg)>) c.rec->args[3] = uint32_t(arg);
        else if (!output && arg) memcpy(c.rec->data, arg, std::min(sizeof c.rec->data, sizeof *arg));
    };
    (note(args), ...);
    if constexpr (Slot == 1 || Slot == 3) /* the library must not trust the output of a failed call */
        if (c.mode == FK_FAIL) (memset(args, 0xFF, sizeof *args), ...);
    if (c.Fixed(Slot == 0 ? 0 : FK_CARD_FAILURE)) return c.result;
    uint32_t answer = (g_innerZeb->*Member)(b, d, f, args...);
    if (Slot == 0 || !c.Garbage()) return c.Flag(answer);
    if constexpr (output) /* the card's headers are 256 bytes */
        (Fill(c.mode, args, std::is_same_v<Args, uint8_t*> ? 256 : sizeof *args), ...);
    if constexpr (Slot == 3) /* sizes that need not be whole words, and not too large to allocate */
        ((*args = c.mode == FK_GARBAGE_FF ? 0xFFFFu : 1 + Random() % 4099), ...);
    return c.Answer(output ? 0 : c.Lie());
}

uint32_t IsVok(uint32_t b, uint32_t d, uint32_t f) {
    Call c(FK_VOK, {b, d, f});
    return c.Fixed() ? c.result : c.Flag(g_innerVok->IsVOK(b, d, f));
}

uint32_t ReadTraceBuffer(uint32_t b, uint32_t d, uint32_t f, uint32_t* bytes, uint8_t* buffer) {
    Call c(FK_ZEB + 5, {b, d, f, *bytes});
    uint32_t status = 0;
    if (c.Fixed(FK_CARD_FAILURE)) return c.result;
    *bytes = Transfer(c, kTrace, 0, *bytes, buffer, [&](uint32_t n, uint8_t* out) {
        if (!g.traceOn) return *bytes = n, status = g_innerZeb->ReadTraceBuffer(b, d, f, bytes, out), *bytes;
        std::copy_n(g.trace.begin(), n = std::min(n, uint32_t(g.trace.size())), out);
        return g.traceReported ? g.traceReported : n;
    });
    return c.Answer(status);
}

/* The card tables as set now: a missing slot is null. */
void BuildCardTables() {
    using Z = _ZEB_LIB_INTERFACE_t;
    using U = uint32_t*;
    g_zeb = Z{CardSlot<0, &Z::IsZEB>, CardSlot<1, &Z::GetTraceConfig, U>, CardSlot<2, &Z::SetTraceConfig, uint32_t>,
        CardSlot<3, &Z::GetTraceBufferSize, U>, CardSlot<4, &Z::WritePatternToTB, uint32_t>, ReadTraceBuffer,
        CardSlot<6, &Z::GetProperties, _qorb_zeb_query_prop_t*>, nullptr, CardSlot<8, &Z::Disarm>,
        CardSlot<9, &Z::GetActionCount, U>, CardSlot<10, &Z::Arm>, CardSlot<11, &Z::ProgramCmd, _qorb_cmd_map_t*>,
        CardSlot<12, &Z::ChangeMode, _QORB_ZEB_OP_MODE_t>, CardSlot<13, &Z::QueryMode, _QORB_ZEB_OP_MODE_t*>,
        CardSlot<14, &Z::SuspendLogging>, CardSlot<15, &Z::ResumeLogging>,
        CardSlot<16, &Z::GetUpstreamZEB, U, U, U, uint8_t*, U, U, U, uint8_t*>};
    for (uint32_t slot = 0; slot <= 16; ++slot)
        if (g.entry[FK_ZEB + slot].mode == FK_MISSING) reinterpret_cast<void**>(&g_zeb)[slot] = nullptr;
    g_vok.IsVOK = g.entry[FK_VOK].mode == FK_MISSING ? nullptr : IsVok;
}

bool LoadSim() {
#ifdef QORB_SIM_DRIVER_PATH
    g_sim = g_sim ? g_sim : dlopen(QORB_SIM_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
#endif
    auto sym = [](const char* name) { return g_sim ? dlsym(g_sim, name) : nullptr; };
    auto get = reinterpret_cast<QORB_CONFIG_DRIVER_GET_INTERFACE>(sym("ConfigDriver_GetInterface"));
    auto zeb = reinterpret_cast<QORB_ZEB_LIB_OPEN_INTERFACE>(sym("ZEB_LIB_Open_ZEB_Interface"));
    auto vok = reinterpret_cast<QORB_VOK_LIB_OPEN_INTERFACE>(sym("VOK_LIB_Open_VOK_Interface"));
    return get && get(&g_inner) && zeb && vok && (zeb(&g_innerZeb), vok(&g_innerVok), g_innerZeb && g_innerVok);
}

__attribute__((destructor)) void UnloadSim() { g_sim ? dlclose(g_sim) : 0; }

[[maybe_unused]] uint32_t TableOpened(uint32_t entry) {
    Call c(entry, {});
    return c.Fixed(FK_CARD_FAILURE) ? c.result : c.Answer(0);
}

} // namespace

#define EXPORT extern "C" QORB_DRIVER_EXPORT

EXPORT void FakeDrv_Set(uint32_t entry, uint32_t mode, uint32_t after) {
    if (entry < FK_ENTRIES && mode < FK_MODES) g.entry[entry].mode = mode, g.entry[entry].after = after;
    BuildCardTables();
}

#ifdef FAKEDRV_NO_INTERFACE /* under a name the library does not look up */
#define ConfigDriver_GetInterface FakeDrv_NoInterface
#endif
EXPORT uint32_t ConfigDriver_GetInterface(_CONFIG_DRIVER_INTERFACE_t* table) {
    static const char* modes = getenv("FAKEDRV"); /* "entry:mode:after[,...]", read once */
    for (char* end = nullptr; modes && *modes; modes = *end == ',' ? end + 1 : end + strlen(end)) {
        uint32_t entry = uint32_t(strtoul(modes, &end, 0));
        uint32_t mode = *end == ':' ? uint32_t(strtoul(end + 1, &end, 0)) : FK_MODES;
        FakeDrv_Set(entry, mode, *end == ':' ? uint32_t(strtoul(end + 1, &end, 0)) : 0);
    }
    Call c(FK_GET_INTERFACE, {});
    if (!LoadSim()) return c.Answer(0);
    /* As a real driver does, only the entries it has are filled: the library must clear the table first. */
    auto put = [](uint32_t entry, auto& slot, auto fn) { slot = g.entry[entry].mode == FK_MISSING ? slot : fn; };
    put(FK_OPEN, table->OpenDriver, OpenDriver), put(FK_MAP, table->MapConfigSpace, MapConfigSpace);
    put(FK_QUERY, table->QueryMcfgTable, QueryMcfgTable), put(FK_READ, table->ReadConfig, ReadConfig);
    put(FK_READ_EX, table->ReadConfigEx, ReadConfigEx), put(FK_WRITE, table->WriteConfig, WriteConfig);
    put(FK_CLOSE, table->CloseDriver, CloseDriver);
    BuildCardTables();
    return c.Fixed() ? c.result : c.Answer(1);
}

#ifndef FAKEDRV_NO_CARD
EXPORT uint32_t ZEB_LIB_Open_ZEB_Interface(_ZEB_LIB_INTERFACE_t** t) { return *t = &g_zeb, TableOpened(FK_ZEB_TABLE); }
EXPORT uint32_t VOK_LIB_Open_VOK_Interface(_VOK_LIB_INTERFACE_t** t) { return *t = &g_vok, TableOpened(FK_VOK_TABLE); }
#endif

EXPORT void FakeDrv_Reset(void) { g = State{}, BuildCardTables(); }
EXPORT void FakeDrv_SetAnswer(uint32_t entry, uint32_t answer) { g.entry[entry % FK_ENTRIES].answer = answer; }
EXPORT uint32_t FakeDrv_Count(uint32_t entry) { return g.entry[entry % FK_ENTRIES].calls; }
EXPORT uint32_t FakeDrv_Hits(uint32_t entry) { return g.entry[entry % FK_ENTRIES].hits; }
EXPORT uint32_t FakeDrv_LastAnswer(uint32_t entry) { return g.entry[entry % FK_ENTRIES].lastAnswer; }
EXPORT uint32_t FakeDrv_WrongContext(void) { return g.wrongContext; }
EXPORT uint32_t FakeDrv_Log(FakeCall* out, uint32_t max) {
    uint32_t held = std::min(g.logged, kLogSize);
    for (uint32_t i = 0; i < held && i < max; ++i) out[i] = g.log[(g.logged - held + i) % kLogSize];
    return held;
}
EXPORT void FakeDrv_Limit(uint32_t from, uint32_t to, uint32_t min, uint32_t max) {
    g.limitFrom = from, g.limitTo = to, g.limitMin = min, g.limitMax = max, g.limitOn = true;
}
EXPORT void FakeDrv_Patch(uint32_t offset, uint8_t value, uint32_t min) {
    g.patchOffset = offset, g.patchValue = value, g.patchMin = min, g.patchOn = true;
}
EXPORT void FakeDrv_SetMcfg(uint64_t base, uint8_t start, uint8_t end, uint64_t n) {
    g.mcfgBase = base, g.mcfgStart = start, g.mcfgEnd = end, g.mcfgLength = n, g.mcfgOn = true;
}
EXPORT void FakeDrv_SetTrace(const uint8_t* bytes, uint32_t length, uint32_t reported) {
    g.trace.assign(bytes, bytes + length), g.traceReported = reported, g.traceOn = true;
}
