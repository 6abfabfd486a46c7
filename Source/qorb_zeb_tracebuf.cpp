/* Trace buffer analysis: taking a copy of the ZEB's trace buffer into the
 * card's device record, and answering questions about that copy.
 *
 * The copy is a run of entries in the card's trace format
 * (qorb_common/trace_entry.h). Every search walks the copy once with
 * WalkTrace(), which stops at the first byte that is not a marker, at a
 * header that does not fit, or at a payload that would run past the end; it
 * never reads outside the copy and allocates nothing.
 *
 * Choices made here:
 * - A TLP entry whose payload is shorter than one doubleword (length 0) has
 *   no header to compare: every selected field compares unequal, so it
 *   matches only when the flags select no field, and its first doubleword
 *   reads as zero wherever one is stored.
 * - QORB_ZEB_TB_GetTLPByIndex zero-fills the part of its 16-byte output that
 *   a shorter TLP does not cover.
 * - ZEBGetTraceBuffer keeps the old copy and its length untouched when the
 *   card cannot say how big its buffer is; when the new copy cannot be
 *   allocated the old one is already gone and the record holds no copy
 *   (QORB_INSUFFICIENT_RESOURCES, the card is not read). A card that reports
 *   more bytes read than the copy holds has the length lowered to the copy's
 *   size, so the length never exceeds what was allocated.
 * - Null out-pointers and a null pattern are refused with
 *   QORB_INVALID_PARAMETER; a null device handle fails the ZEB check. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <qorb_common/trace_entry.h>

#include "qorb_zeb.h"

namespace {

using qorb_trace::kTlpDwordBytes;
constexpr uint32_t kDllpRecordBytes = qorb_trace::kDllpBytes;
constexpr uint32_t kTlpCopyBytes = 16;     /* room for a four-doubleword header */

/* Trace configuration word bits the flags act on (meaning: docs/test-card.md). */
constexpr uint32_t kCfgRecordDllps = qorb_trace::kCfgRecordDllps;
constexpr uint32_t kCfgTlpCaptureMask = qorb_trace::kCfgTlpMask;
constexpr uint32_t kCfgTlpCaptureHeaders = qorb_trace::kCfgTlpHeaders;
constexpr uint32_t kCfgTimestamps = qorb_trace::kCfgTimestamps;

/* SetConfigMaskTraceBuf flags. */
constexpr uint32_t kFlagDllpOn = 0x01;
constexpr uint32_t kFlagDllpOff = 0x02;
constexpr uint32_t kFlagTlpNone = 0x04;
constexpr uint32_t kFlagTlpHeaders = 0x08;
constexpr uint32_t kFlagTlpFull = 0x10;
constexpr uint32_t kFlagTimestampOn = 0x20;
constexpr uint32_t kFlagTimestampOff = 0x40;

enum class EntryKind { Tlp, Dllp, Other };

struct TraceEntry {
    EntryKind kind;
    const uint8_t* payload;
    uint32_t payloadLength;
};

enum class Walk { Continue, Stop };

/* The one walk of the trace copy (the format's own walk). */
constexpr uint32_t kCacheLine = 64;
constexpr uint32_t kPrefetchBytes = 2048;

template <typename Visit>
void WalkTrace(const QORB_DEVICE_t* card, Visit&& visit)
{
    const uint8_t* copy = card->traceCopy;
    if (!copy)
        return;
    const uint32_t end = card->traceCopyLength;
    uint64_t fetched = 0; /* lines below this offset have been prefetched */
    qorb_trace::WalkTrace(copy, end, [&](uint32_t pos, const uint8_t* header, uint32_t payload) {
        /* Entry headers lie a payload apart, too far for the processor to
         * see the pattern: fetch the lines ahead. A prefetch never faults,
         * so this reads nothing outside the copy. */
        if (fetched < pos)
            fetched = pos;
        for (; fetched < end && fetched - pos < kPrefetchBytes; fetched += kCacheLine)
            __builtin_prefetch(copy + fetched);
        TraceEntry entry{EntryKind::Other, header + qorb_trace::kHeaderBytes, payload};
        if (qorb_trace::IsTlp(header[1]))
            entry.kind = EntryKind::Tlp;
        else if (qorb_trace::IsDllp(header[1]))
            entry.kind = EntryKind::Dllp;
        return visit(entry) == Walk::Continue;
    });
}

/* The first header doubleword of a TLP entry, or null when it has none. */
const uint8_t* TlpFirstDword(const TraceEntry& tlp)
{
    return tlp.payloadLength >= kTlpDwordBytes ? tlp.payload : nullptr;
}

uint32_t TlpFmt(const uint8_t* dw) { return (dw[0] >> 5) & 0x3; }
uint32_t TlpType(const uint8_t* dw) { return dw[0] & 0x1F; }
uint32_t TlpLength(const uint8_t* dw) { return static_cast<uint32_t>(((dw[2] & 0x3) << 8) | dw[3]); }

/* Pattern against a TLP entry. Fields are compared in the order Fmt, Type,
 * Length. Strict: every selected field must be equal. Otherwise the outcome
 * is that of the last selected field. Nothing selected: a match. */
bool TlpMatches(const uint8_t* pattern, uint32_t flags, const TraceEntry& tlp)
{
    static constexpr struct {
        uint32_t flag;
        uint32_t (*field)(const uint8_t*);
    } kFields[] = {
        {QORB_TLP_MATCH_FMT, TlpFmt},
        {QORB_TLP_MATCH_TYPE, TlpType},
        {QORB_TLP_MATCH_LENGTH, TlpLength},
    };
    const bool strict = (flags & QORB_TLP_MATCH_STRICT) != 0;
    const uint8_t* header = TlpFirstDword(tlp);
    bool matched = true;
    for (const auto& f : kFields) {
        if (!(flags & f.flag))
            continue;
        const bool equal = header && f.field(pattern) == f.field(header);
        if (strict && !equal)
            return false;
        matched = equal;
    }
    return matched;
}

/* Flow control DLLP types carry the virtual channel in their low three bits;
 * those are dropped so that any channel matches. Other types stay whole. */
uint8_t NormalisedDllpType(uint8_t type)
{
    const uint8_t base = type & 0xF8;
    switch (base) {
    case 0x40: case 0x50: case 0x60:   /* InitFC1-P, -NP, -Cpl */
    case 0xC0: case 0xD0: case 0xE0:   /* InitFC2-P, -NP, -Cpl */
    case 0x80: case 0x90: case 0xA0:   /* UpdateFC-P, -NP, -Cpl */
        return base;
    default:
        return type;
    }
}

bool DllpMatches(const uint8_t* pattern, const TraceEntry& dllp)
{
    return NormalisedDllpType(dllp.payload[1]) == NormalisedDllpType(pattern[0]);
}

/* Visits every TLP entry that matches the pattern and flags. */
template <typename Visit>
void ForEachMatchingTlp(const QORB_DEVICE_t* card, const uint8_t* pattern, uint32_t flags, Visit&& visit)
{
    WalkTrace(card, [&](const TraceEntry& entry) {
        if (entry.kind == EntryKind::Tlp && TlpMatches(pattern, flags, entry))
            visit(entry);
        return Walk::Continue;
    });
}

/* Visits every DLLP entry whose normalised type is the pattern's; the
 * visitor may stop the walk. */
template <typename Visit>
void ForEachMatchingDllp(const QORB_DEVICE_t* card, const uint8_t* pattern, Visit&& visit)
{
    WalkTrace(card, [&](const TraceEntry& entry) {
        if (entry.kind == EntryKind::Dllp && DllpMatches(pattern, entry))
            return visit(entry);
        return Walk::Continue;
    });
}

uint32_t ApplyTraceConfigFlags(uint32_t word, uint32_t flags)
{
    /* The order is fixed: a later flag overrides an earlier one on the same bits. */
    if (flags & kFlagDllpOn)
        word |= kCfgRecordDllps;
    if (flags & kFlagDllpOff)
        word &= ~kCfgRecordDllps;
    if (flags & kFlagTlpFull)
        word |= kCfgTlpCaptureMask;
    if (flags & kFlagTlpNone)
        word &= ~kCfgTlpCaptureMask;
    if (flags & kFlagTlpHeaders)
        word = (word & ~kCfgTlpCaptureMask) | kCfgTlpCaptureHeaders;
    if (flags & kFlagTimestampOn)
        word |= kCfgTimestamps;
    if (flags & kFlagTimestampOff)
        word &= ~kCfgTimestamps;
    return word;
}

} // namespace

QORB_EXTERN_C QORB_API _QORB_STATUS_t ZEBGetTraceBuffer(void* handle)
{
    QORB_DEVICE_t* card = ZebRecord(handle);
    auto getSize = ZebSlot(&_ZEB_LIB_INTERFACE_t::GetTraceBufferSize);
    auto read = ZebSlot(&_ZEB_LIB_INTERFACE_t::ReadTraceBuffer);
    if (!card || !getSize || !read)
        return QORB_INVALID_PARAMETER;
    uint32_t size = 0;
    if (getSize(card->bus, card->device, card->function, &size) != 0)
        return QORB_INVALID_PARAMETER;

    ReleaseTraceCopy(card);
    /* One byte at least, so that an empty buffer still has an address to hand the card. */
    auto* copy = static_cast<uint8_t*>(malloc(size > 0 ? size : 1));
    if (!copy)
        return QORB_INSUFFICIENT_RESOURCES;
    card->traceCopy = copy;
    card->traceCopyLength = size;
    uint32_t result = read(card->bus, card->device, card->function, &card->traceCopyLength, copy);
    if (card->traceCopyLength > size)
        card->traceCopyLength = size;
    return QORB_STATUS_FROM(result);
}

QORB_EXTERN_C QORB_API _QORB_STATUS_t QORB_ZEBWritePatternToTB(void* handle, uint32_t pattern)
{
    return ForwardToZeb(handle, &_ZEB_LIB_INTERFACE_t::WritePatternToTB, pattern);
}

QORB_EXTERN_C QORB_API _QORB_STATUS_t SetConfigMaskTraceBuf(void* handle, uint32_t flags)
{
    QORB_DEVICE_t* card = ZebRecord(handle);
    auto get = ZebSlot(&_ZEB_LIB_INTERFACE_t::GetTraceConfig);
    if (!card || !get || !ZebSlot(&_ZEB_LIB_INTERFACE_t::SetTraceConfig))
        return QORB_INVALID_PARAMETER;
    uint32_t word = 0;
    uint32_t result = get(card->bus, card->device, card->function, &word);
    if (result != 0)
        return QORB_STATUS_FROM(result);
    return CallZebSlot(card, &_ZEB_LIB_INTERFACE_t::SetTraceConfig, ApplyTraceConfigFlags(word, flags));
}

QORB_EXTERN_C QORB_API _QORB_STATUS_t GetBytesInZEBTB(void* handle, uint32_t* bytes)
{
    QORB_DEVICE_t* card = ZebRecord(handle);
    if (!card || !bytes)
        return QORB_INVALID_PARAMETER;
    *bytes = card->traceCopyLength;
    return QORB_SUCCESS;
}

QORB_EXTERN_C QORB_API _QORB_STATUS_t GetTBContents(void* handle, uint8_t* buffer, uint32_t* length)
{
    QORB_DEVICE_t* card = ZebRecord(handle);
    if (!card || !length)
        return QORB_INVALID_PARAMETER;
    const uint32_t available = card->traceCopy ? card->traceCopyLength : 0;
    const uint32_t count = *length < available ? *length : available;
    if (count > 0 && !buffer)
        return QORB_INVALID_PARAMETER;
    if (count > 0)
        memcpy(buffer, card->traceCopy, count);
    *length = count;
    return QORB_SUCCESS;
}

/* The output array needs room for every match: GetNumTLPMatches with the
 * same pattern and flags tells how many there are. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t FindTLPByTLPType(void* handle, uint8_t* pattern, uint32_t matchFlags,
                                                       uint32_t* matches, uint32_t* count)
{
    QORB_DEVICE_t* card = ZebRecord(handle);
    if (!card || !pattern || !matches || !count)
        return QORB_INVALID_PARAMETER;
    uint32_t stored = 0;
    ForEachMatchingTlp(card, pattern, matchFlags, [&](const TraceEntry& tlp) {
        uint32_t dword = 0;
        if (const uint8_t* header = TlpFirstDword(tlp))
            memcpy(&dword, header, sizeof dword);
        matches[stored++] = dword;
    });
    *count = stored;
    return QORB_SUCCESS;
}

QORB_EXTERN_C QORB_API _QORB_STATUS_t GetNumTLPMatches(void* handle, uint8_t* pattern, uint32_t matchFlags,
                                                       uint32_t* count)
{
    if (!count || !pattern)
        return QORB_INVALID_PARAMETER;
    *count = 0;
    QORB_DEVICE_t* card = ZebRecord(handle);
    if (!card) {
        printf("Device is not a ZEB\n");
        return QORB_INVALID_PARAMETER;
    }
    uint32_t found = 0;
    ForEachMatchingTlp(card, pattern, matchFlags, [&](const TraceEntry&) { ++found; });
    *count = found;
    return QORB_SUCCESS;
}

/* Records are the DLLP's six bytes, packed. Matches beyond the capacity
 * given in *count are neither stored nor counted. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t FindDLLPTypeDLLPType(void* handle, uint8_t* pattern, uint32_t /*unused*/,
                                                           uint8_t* records, uint32_t* count)
{
    QORB_DEVICE_t* card = ZebRecord(handle);
    if (!card || !pattern || !count)
        return QORB_INVALID_PARAMETER;
    const uint32_t capacity = *count;
    if (capacity > 0 && !records)
        return QORB_INVALID_PARAMETER;
    uint32_t stored = 0;
    if (capacity > 0)
        ForEachMatchingDllp(card, pattern, [&](const TraceEntry& dllp) {
            memcpy(records + static_cast<size_t>(stored) * kDllpRecordBytes, dllp.payload + 1, kDllpRecordBytes);
            return ++stored < capacity ? Walk::Continue : Walk::Stop;
        });
    *count = stored;
    return QORB_SUCCESS;
}

/* Adds to the caller's count; it is not cleared first. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t GetNumDLLPMatches(void* handle, uint8_t* pattern, uint32_t /*unused*/,
                                                        uint32_t* count)
{
    QORB_DEVICE_t* card = ZebRecord(handle);
    if (!card || !pattern || !count)
        return QORB_INVALID_PARAMETER;
    uint32_t found = 0;
    ForEachMatchingDllp(card, pattern, [&](const TraceEntry&) {
        ++found;
        return Walk::Continue;
    });
    *count += found;
    return QORB_SUCCESS;
}

/* TLP entries are numbered from 0 in trace order; other entries get no
 * number. A TLP shorter than 16 bytes leaves zeros in the rest of tlp. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t QORB_ZEB_TB_GetTLPByIndex(void* handle, uint8_t* tlp, uint32_t /*unused*/,
                                                                uint32_t index)
{
    QORB_DEVICE_t* card = ZebRecord(handle);
    if (!card || !tlp)
        return QORB_INVALID_PARAMETER;
    _QORB_STATUS_t status = QORB_INVALID_PARAMETER;
    uint32_t number = 0;
    WalkTrace(card, [&](const TraceEntry& entry) {
        if (entry.kind != EntryKind::Tlp)
            return Walk::Continue;
        if (number++ != index)
            return Walk::Continue;
        const uint32_t n = entry.payloadLength < kTlpCopyBytes ? entry.payloadLength : kTlpCopyBytes;
        memcpy(tlp, entry.payload, n);
        memset(tlp + n, 0, kTlpCopyBytes - n);
        status = QORB_SUCCESS;
        return Walk::Stop;
    });
    return status;
}

/* Offered for applications written against the extended set; they compute
 * nothing and read none of their arguments. */
QORB_API _QORB_STATUS_t QORB_ZEB_TB_GetTotalTLP(void* /*handle*/, uint32_t* /*total*/)
{
    return QORB_SUCCESS;
}

QORB_EXTERN_C QORB_API _QORB_STATUS_t FindTLPByTLPTypeEx(void*, uint8_t*, uint32_t, uint32_t*, uint32_t*)
{
    return QORB_SUCCESS;
}

QORB_EXTERN_C QORB_API _QORB_STATUS_t GetNumTLPMatchesEx(void*, uint8_t*, uint32_t, uint32_t*)
{
    return QORB_INVALID_PARAMETER;
}
