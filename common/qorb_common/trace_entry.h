/* The ZEB trace buffer entry format, shared by everything that writes or
 * reads trace entries (the library's trace analysis, the simulated card, the
 * tool's decoder, benchmarks, fuzz targets and tests).
 *
 * A trace is a run of entries laid end to end. Each entry is an 8-byte header
 * followed by its payload:
 *   byte 0     marker 0xF1
 *   byte 1     kind in bits 2:0 (a DLLP's direction in bit 3)
 *   bytes 2-3  TLP payload length in doublewords, little-endian
 *   bytes 4-7  time stamp in microseconds, little-endian (0 when off)
 * The payload is 4 x length bytes for a TLP (kinds 0 to 2), 8 bytes for a
 * DLLP (kind 3: the DLLP's six bytes at payload bytes 1 to 6) and nothing
 * for the events (kinds 4 to 7). */
#ifndef QORB_COMMON_TRACE_ENTRY_H
#define QORB_COMMON_TRACE_ENTRY_H

#include <stdint.h>

namespace qorb_trace {

constexpr uint8_t kMarker = 0xF1;
constexpr uint32_t kHeaderBytes = 8;
constexpr uint8_t kKindMask = 0x07;
constexpr uint32_t kTlpDwordBytes = 4;
constexpr uint32_t kDllpPayloadBytes = 8;
constexpr uint32_t kDllpFirstByte = 1;   /* the DLLP's bytes within the payload */
constexpr uint32_t kDllpBytes = 6;

enum Kind : uint8_t {
    kTlpDownstream = 0,
    kTlpUpstream = 1,
    kTlpByCard = 2,
    kDllp = 3,
    kArmed = 4,
    kSuspended = 5,
    kResumed = 6,
    kFull = 7,
};
constexpr uint8_t kLastTlpKind = kTlpByCard;
constexpr uint8_t kDllpUpstream = 1u << 3;   /* direction bit of a DLLP's kind byte */

/* Bits of the card's trace configuration word. */
constexpr uint32_t kCfgRecordDllps = 1u << 9;
constexpr uint32_t kCfgTlpMask = 3u << 10;
constexpr uint32_t kCfgTlpHeaders = 1u << 10;   /* headers only; both bits: whole TLPs */
constexpr uint32_t kCfgTimestamps = 1u << 12;

constexpr bool IsTlp(uint8_t kindByte) { return (kindByte & kKindMask) <= kLastTlpKind; }
constexpr bool IsDllp(uint8_t kindByte) { return (kindByte & kKindMask) == kDllp; }

/* Payload bytes of the entry whose header starts at h (8 bytes readable). */
constexpr uint32_t PayloadBytes(const uint8_t* h)
{
    return IsTlp(h[1]) ? kTlpDwordBytes * static_cast<uint32_t>(h[2] | h[3] << 8)
                       : IsDllp(h[1]) ? kDllpPayloadBytes : 0;
}

/* Writes an entry header into out[0..7]. */
inline void WriteHeader(uint8_t* out, uint8_t kindByte, uint16_t dwords, uint32_t stamp = 0)
{
    out[0] = kMarker;
    out[1] = kindByte;
    out[2] = static_cast<uint8_t>(dwords);
    out[3] = static_cast<uint8_t>(dwords >> 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<uint8_t>(stamp >> (8 * i));
}

/* Why a walk ended. */
enum class WalkEnd {
    kEnd,            /* every byte was walked */
    kPartialHeader,  /* fewer than 8 bytes left */
    kNoMarker,       /* a header without the marker */
    kPastEnd,        /* a payload that runs past the end */
    kStopped,        /* the visitor asked to stop */
};

/* The one walk over a trace: visit(offset, header, payloadBytes) answers true
 * to go on. It never reads outside [trace, trace + length) and each step
 * moves on by at least the header, so it ends within length / 8 steps.
 * *at receives the offset where the walk ended. */
template <typename Visit>
WalkEnd WalkTrace(const uint8_t* trace, uint32_t length, Visit&& visit, uint32_t* at = nullptr)
{
    uint32_t pos = 0;
    WalkEnd end = WalkEnd::kEnd;
    while (pos < length) {
        if (length - pos < kHeaderBytes) {
            end = WalkEnd::kPartialHeader;
            break;
        }
        const uint8_t* header = trace + pos;
        if (header[0] != kMarker) {
            end = WalkEnd::kNoMarker;
            break;
        }
        const uint32_t payload = PayloadBytes(header);
        if (payload > length - pos - kHeaderBytes) {
            end = WalkEnd::kPastEnd;
            break;
        }
        if (!visit(pos, header, payload)) {
            end = WalkEnd::kStopped;
            break;
        }
        pos += kHeaderBytes + payload;
    }
    if (at)
        *at = pos;
    return end;
}

} // namespace qorb_trace

#endif
