/* Recording into the trace buffer. When an entry no longer fits, a "buffer
 * full" event ends the recording (room for it is always kept). */
#include "sim_trace.h"

namespace qorbsim {
namespace {

using qorb_trace::kHeaderBytes;
constexpr uint32_t kDllpPayload = qorb_trace::kDllpPayloadBytes;

} // namespace

void TraceBuffer::Restart()
{
    m_bytes.clear();
    m_full = false;
    m_start = std::chrono::steady_clock::now();
}

bool TraceBuffer::Entry(uint8_t kindByte, uint16_t dwords, const uint8_t* payload, uint32_t payloadBytes)
{
    if (m_full)
        return false;
    if (m_bytes.size() + kHeaderBytes + payloadBytes + kHeaderBytes > kTraceCapacity) {
        m_full = true;
        kindByte = static_cast<uint8_t>(TraceKind::kFull);
        dwords = 0;
        payloadBytes = 0;
    }
    uint32_t stamp = 0;
    if (config & kTraceTimeStamps)
        stamp = static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_start).count());
    uint8_t header[kHeaderBytes];
    qorb_trace::WriteHeader(header, kindByte, dwords, stamp);
    m_bytes.insert(m_bytes.end(), header, header + kHeaderBytes);
    m_bytes.insert(m_bytes.end(), payload, payload + payloadBytes);
    return !m_full;
}

void TraceBuffer::Tlp(TraceKind kind, const qorbsim::Tlp& tlp)
{
    uint32_t capture = config & kTraceTlpMask;
    if (capture == 0)
        return;
    uint8_t dwords = capture == kTraceTlpHeaders ? tlp.headerDwords : tlp.dwords;
    Entry(static_cast<uint8_t>(kind), dwords, tlp.bytes, dwords * 4u);
}

void TraceBuffer::Dllp(Direction direction, const qorbsim::Dllp& dllp)
{
    if (!(config & kTraceDllps))
        return;
    uint8_t payload[kDllpPayload] = {};
    for (uint32_t i = 0; i < qorb_trace::kDllpBytes; ++i)
        payload[qorb_trace::kDllpFirstByte + i] = dllp.bytes[i];
    Entry(static_cast<uint8_t>(static_cast<uint8_t>(TraceKind::kDllp) | static_cast<uint8_t>(direction) << 3), 0,
          payload, kDllpPayload);
}

void TraceBuffer::Event(TraceKind kind) { Entry(static_cast<uint8_t>(kind), 0, nullptr, 0); }

void TraceBuffer::Pattern(uint32_t pattern)
{
    m_bytes.resize(kTraceCapacity);
    for (uint32_t i = 0; i < kTraceCapacity; ++i)
        m_bytes[i] = static_cast<uint8_t>(pattern >> (8 * (i % 4)));
    m_full = true;
}

} // namespace qorbsim
