/* Trace copy walk and packet decoding. */
#include "trace.h"

#include "names.h"

#include <qorb_common/trace_entry.h>

namespace qorbcli {

namespace {

std::string Bdf(uint8_t hi, uint8_t lo) { return SlotText(hi, lo >> 3, lo & 7); }

bool IsFlowControl(uint8_t type)
{
    switch (type & 0xf8) {
    case 0x40: case 0x50: case 0x60: case 0xc0: case 0xd0: case 0xe0: case 0x80: case 0x90: case 0xa0:
        return true;
    default:
        return false;
    }
}

} // namespace

std::vector<TraceEntry> WalkTrace(const std::vector<uint8_t>& copy, std::string* stop)
{
    std::vector<TraceEntry> entries;
    uint32_t at = 0;
    qorb_trace::WalkEnd end = qorb_trace::WalkTrace(
        copy.data(), static_cast<uint32_t>(copy.size()),
        [&](uint32_t pos, const uint8_t* header, uint32_t payload) {
            const uint8_t* start = header + qorb_trace::kHeaderBytes;
            entries.push_back(TraceEntry{pos, static_cast<unsigned>(header[1] & qorb_trace::kKindMask),
                                         std::vector<uint8_t>(start, start + payload)});
            return true;
        },
        &at);
    std::string reason;
    switch (end) {
    case qorb_trace::WalkEnd::kPartialHeader: reason = "a partial entry header at offset "; break;
    case qorb_trace::WalkEnd::kNoMarker: reason = "no entry marker at offset "; break;
    case qorb_trace::WalkEnd::kPastEnd: reason = "an entry at offset "; break;
    default: break;
    }
    if (!reason.empty())
        reason += std::to_string(at);
    if (end == qorb_trace::WalkEnd::kPastEnd)
        reason += " runs past the end";
    if (stop)
        *stop = reason;
    return entries;
}

std::string TlpTypeName(uint8_t fmtType)
{
    unsigned fmt = (fmtType >> 5) & 3;
    unsigned type = fmtType & 0x1f;
    static const char* const memory[] = {"MRd32", "MRd64", "MWr32", "MWr64"};
    switch (type) {
    case 0x00: return memory[fmt];
    case 0x01: if (fmt < 2) return fmt ? "MRdLk64" : "MRdLk32"; break;
    case 0x02: if (fmt == 0 || fmt == 2) return fmt ? "IOWr" : "IORd"; break;
    case 0x04: if (fmt == 0 || fmt == 2) return fmt ? "CfgWr0" : "CfgRd0"; break;
    case 0x05: if (fmt == 0 || fmt == 2) return fmt ? "CfgWr1" : "CfgRd1"; break;
    case 0x0a: if (fmt == 0 || fmt == 2) return fmt ? "CplD" : "Cpl"; break;
    case 0x0b: if (fmt == 0 || fmt == 2) return fmt ? "CplDLk" : "CplLk"; break;
    default:
        if ((type & 0x18) == 0x10 && (fmt == 1 || fmt == 3))
            return fmt == 3 ? "MsgD" : "Msg";
    }
    return "TLP(fmt " + std::to_string(fmt) + " type " + Hex(type, 2) + ")";
}

std::string DllpTypeName(uint8_t type)
{
    switch (type) {
    case 0x00: return "Ack";
    case 0x10: return "Nak";
    case 0x20: return "PM_Enter_L1";
    case 0x21: return "PM_Enter_L23";
    case 0x23: return "PM_Active_State_Request_L1";
    case 0x24: return "PM_Request_Ack";
    case 0x30: return "Vendor";
    case 0x31: return "NOP";
    }
    switch (type & 0xf8) {
    case 0x40: return "InitFC1-P";
    case 0x50: return "InitFC1-NP";
    case 0x60: return "InitFC1-Cpl";
    case 0xc0: return "InitFC2-P";
    case 0xd0: return "InitFC2-NP";
    case 0xe0: return "InitFC2-Cpl";
    case 0x80: return "UpdateFC-P";
    case 0x90: return "UpdateFC-NP";
    case 0xa0: return "UpdateFC-Cpl";
    }
    return "DLLP(" + Hex(type, 2) + ")";
}

std::string DescribeEntry(const TraceEntry& entry)
{
    const std::vector<uint8_t>& p = entry.payload;
    if (entry.kind == 3) {
        const uint8_t* d = p.data() + 1; /* the six DLLP bytes */
        std::string line = "DLLP " + DllpTypeName(d[0]);
        if (IsFlowControl(d[0])) {
            unsigned hdr = (d[1] & 0x3f) << 2 | d[2] >> 6;
            unsigned data = (d[2] & 0x0f) << 8 | d[3];
            line += " vc " + std::to_string(d[0] & 7) + " hdr " + std::to_string(hdr) + " data " + std::to_string(data);
        } else {
            line += " vc -";
            if (d[0] == 0x00 || d[0] == 0x10)
                line += " seq " + Hex((d[2] & 0x0f) << 8 | d[3], 3);
        }
        return line;
    }
    if (entry.kind > 3)
        return "other (kind " + std::to_string(entry.kind) + ")";
    if (p.size() < 4)
        return "TLP (empty)";

    std::string name = TlpTypeName(p[0]);
    unsigned length = (p[2] & 3) << 8 | p[3];
    std::string line = "TLP " + name + " len " + std::to_string(length);
    if (p.size() < 12)
        return line + " (header cut short)";
    unsigned type = p[0] & 0x1f;
    bool fourDw = p[0] & 0x20;
    if (type == 0x0a || type == 0x0b) {
        static const char* const status[] = {"SC", "UR", "CRS", "3", "CA", "5", "6", "7"};
        unsigned count = (p[6] & 0x0f) << 8 | p[7];
        line += " cpl " + Bdf(p[4], p[5]) + " status " + status[p[6] >> 5] + " bytes " + std::to_string(count) +
                " req " + Bdf(p[8], p[9]) + " tag " + Hex(p[10], 2);
        return line;
    }
    line += " req " + Bdf(p[4], p[5]) + " tag " + Hex(p[6], 2);
    if (type == 0x04 || type == 0x05) {
        unsigned reg = ((p[10] & 0x0f) << 6 | p[11] >> 2) * 4;
        line += " cfg " + Bdf(p[8], p[9]) + " reg " + Hex(reg, 3);
    } else if ((type & 0x18) == 0x10) {
        line += " code " + Hex(p[7], 2);
    } else if (fourDw && p.size() >= 16) {
        uint64_t addr = static_cast<uint64_t>(p[8]) << 56 | static_cast<uint64_t>(p[9]) << 48 |
                        static_cast<uint64_t>(p[10]) << 40 | static_cast<uint64_t>(p[11]) << 32 |
                        static_cast<uint64_t>(p[12]) << 24 | p[13] << 16 | p[14] << 8 | (p[15] & 0xfc);
        line += " addr " + Hex(addr, 16);
    } else if (!fourDw) {
        uint32_t addr = static_cast<uint32_t>(p[8]) << 24 | p[9] << 16 | p[10] << 8 | (p[11] & 0xfc);
        line += " addr " + Hex(addr, 8);
    }
    return line;
}

TraceTally TallyTrace(const std::vector<TraceEntry>& entries)
{
    TraceTally t;
    for (const TraceEntry& e : entries) {
        if (e.kind == 3) {
            t.dllps++;
            continue;
        }
        if (e.kind > 3 || e.payload.empty())
            continue;
        t.tlps++;
        if (e.kind == 2) {
            t.replays++;
            continue;
        }
        unsigned fmt = (e.payload[0] >> 5) & 3;
        unsigned type = e.payload[0] & 0x1f;
        if (type == 0x0a || type == 0x0b) {
            t.completions++;
            if (e.payload.size() >= 8 && (e.payload[6] >> 5) == 1)
                t.urCompletions++;
        } else if ((type == 0x00 || type == 0x01) && fmt < 2) {
            t.requests++; /* memory read */
        } else if (type == 0x02 || type == 0x04 || type == 0x05) {
            t.requests++; /* I/O and configuration requests are all non-posted */
        }
    }
    return t;
}

} // namespace qorbcli
