/* Hand-built test card traces in the card's entry format, and a card record
 * holding one as its trace copy (no driver needed). */
#ifndef TRACE_BUILDER_H
#define TRACE_BUILDER_H

#include <stdlib.h>
#include <string.h>

#include <vector>

#include "qorb_internal.h"

class TraceBuilder {
public:
    /* A TLP entry; the payload length field is payload.size() / 4 unless given. */
    TraceBuilder& Tlp(uint8_t kind, const std::vector<uint8_t>& payload, int lengthField = -1)
    {
        uint16_t dws = lengthField >= 0 ? static_cast<uint16_t>(lengthField) : static_cast<uint16_t>(payload.size() / 4);
        Header(kind, dws);
        m_bytes.insert(m_bytes.end(), payload.begin(), payload.end());
        return *this;
    }

    /* A TLP whose first header doubleword carries fmt, type and length,
     * followed by dwords - 1 further doublewords numbered 0x10, 0x11... */
    TraceBuilder& TlpHeader(uint8_t kind, uint8_t fmt, uint8_t type, uint16_t length, uint32_t dwords = 3)
    {
        std::vector<uint8_t> payload = {static_cast<uint8_t>((fmt & 3) << 5 | (type & 0x1F)), 0x00,
                                        static_cast<uint8_t>((length >> 8) & 3), static_cast<uint8_t>(length & 0xFF)};
        for (uint32_t i = 1; i < dwords; ++i)
            payload.insert(payload.end(), 4, static_cast<uint8_t>(0x10 + i - 1));
        return Tlp(kind, payload);
    }

    /* A DLLP entry: type and five more DLLP bytes; payload bytes 0 and 7 are filler. */
    TraceBuilder& Dllp(uint8_t type, uint8_t tag = 0)
    {
        Header(3, 0);
        const uint8_t payload[8] = {0xEE, type, tag, 0xB2, 0xB3, 0xB4, 0xB5, 0xEE};
        m_bytes.insert(m_bytes.end(), payload, payload + 8);
        return *this;
    }

    /* An entry of kind 4 to 7: the header alone. */
    TraceBuilder& Other(uint8_t kind) { return Header(kind, 0x40); }

    TraceBuilder& Raw(const std::vector<uint8_t>& bytes)
    {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }

    /* The header alone, with any byte 1 (kind and uninterpreted bits). */
    TraceBuilder& Header(uint8_t byte1, uint16_t lengthField)
    {
        const uint8_t header[8] = {0xF1, byte1, static_cast<uint8_t>(lengthField & 0xFF),
                                   static_cast<uint8_t>(lengthField >> 8), 0x5A, 0x5A, 0x5A, 0x5A};
        m_bytes.insert(m_bytes.end(), header, header + 8);
        return *this;
    }

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

/* A ZEB record holding exactly these bytes as its trace copy (allocated to
 * the byte, so any read past the copy is caught by the sanitizer build).
 * Released with CloseDevice. */
inline QORB_DEVICE_t* CardWithTrace(const std::vector<uint8_t>& trace, int32_t isZeb = 1)
{
    QORB_DEVICE_t* card = CreateDeviceRecord(nullptr, 3, 0, 0);
    card->isZeb = isZeb;
    card->traceCopy = static_cast<uint8_t*>(malloc(trace.empty() ? 1 : trace.size()));
    if (!trace.empty())
        memcpy(card->traceCopy, trace.data(), trace.size());
    card->traceCopyLength = static_cast<uint32_t>(trace.size());
    return card;
}

#endif
