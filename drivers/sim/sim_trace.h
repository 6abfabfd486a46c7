/* The test card's trace buffer, in the entry format qorb reads
 * (qorb_common/trace_entry.h). */
#ifndef QORBSIM_TRACE_H
#define QORBSIM_TRACE_H

#include <stdint.h>

#include <chrono>
#include <vector>

#include <qorb_common/trace_entry.h>

#include "sim_packets.h"

namespace qorbsim {

enum class TraceKind : uint8_t {
    kTlpDownstream = qorb_trace::kTlpDownstream,
    kTlpUpstream = qorb_trace::kTlpUpstream,
    kTlpByCard = qorb_trace::kTlpByCard,
    kDllp = qorb_trace::kDllp,
    kArmed = qorb_trace::kArmed,
    kSuspended = qorb_trace::kSuspended,
    kResumed = qorb_trace::kResumed,
    kFull = qorb_trace::kFull,
};

enum class Direction : uint8_t { kDownstream = 0, kUpstream = 1 };

/* Bits of the trace configuration word. */
constexpr uint32_t kTraceDllps = qorb_trace::kCfgRecordDllps;
constexpr uint32_t kTraceTlpMask = qorb_trace::kCfgTlpMask;
constexpr uint32_t kTraceTlpHeaders = qorb_trace::kCfgTlpHeaders;
constexpr uint32_t kTraceTimeStamps = qorb_trace::kCfgTimestamps;
/* At power-on: DLLPs and whole TLPs, no time stamps. */
constexpr uint32_t kTraceConfigDefault = kTraceDllps | kTraceTlpMask;
constexpr uint32_t kTraceCapacity = 1u << 20;

class TraceBuffer {
public:
    /* Empties the buffer and starts the time stamps at 0. */
    void Restart();
    void Tlp(TraceKind kind, const qorbsim::Tlp& tlp);
    void Dllp(Direction direction, const qorbsim::Dllp& dllp);
    void Event(TraceKind kind);
    /* Fills the buffer with a 32-bit pattern (little-endian) to its
     * capacity; recording stops until the next Restart. */
    void Pattern(uint32_t pattern);

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    uint32_t config = kTraceConfigDefault;

private:
    bool Entry(uint8_t kindByte, uint16_t dwords, const uint8_t* payload, uint32_t payloadBytes);

    std::vector<uint8_t> m_bytes;
    bool m_full = false;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    friend struct StateFile; /* saves and restores the state (sim_state.cpp) */
};

} // namespace qorbsim

#endif
