/* Decoding of a test card trace copy: the entries laid end to end, each an
 * 8-byte header (marker 0xf1, kind in bits 2:0 of byte 1, TLP length in
 * doublewords at bytes 2-3) and its payload (a TLP for kinds 0-2, 8 bytes
 * holding a DLLP at bytes 1-6 for kind 3, nothing for kinds 4-7). The walk
 * stops where an entry does not begin with the marker or runs past the end,
 * as the library's trace searches do. */
#ifndef QORB_CLI_TRACE_H
#define QORB_CLI_TRACE_H

#include <stdint.h>

#include <string>
#include <vector>

namespace qorbcli {

struct TraceEntry {
    size_t offset;                 /* of the entry header in the copy */
    unsigned kind;                 /* 0-2 TLP, 3 DLLP, 4-7 other */
    std::vector<uint8_t> payload;
};

/* The entries of a trace copy; *stop (when given) tells why the walk ended
 * before the end of the copy, "" when it reached the end. */
std::vector<TraceEntry> WalkTrace(const std::vector<uint8_t>& copy, std::string* stop = nullptr);

/* TLP type from the first header byte: "MRd32", "MWr64", "CfgRd0", "CplD",
 * "Msg"...; "TLP(fmt f type tt)" when the pair is not defined. */
std::string TlpTypeName(uint8_t fmtType);
/* DLLP type: "Ack", "Nak", "UpdateFC-P"...; the flow control types lose
 * their virtual channel bits. */
std::string DllpTypeName(uint8_t type);

/* One line for an entry: TLP type and header fields, DLLP type and virtual
 * channel (with sequence number or credits where the type has them). */
std::string DescribeEntry(const TraceEntry& entry);

/* Counts over a trace that tell what the test card did. */
struct TraceTally {
    unsigned tlps = 0;
    unsigned dllps = 0;
    unsigned replays = 0;        /* kind 2: TLPs the card put on the link itself */
    unsigned requests = 0;       /* non-posted requests (reads, configuration and I/O) of kinds 0 and 1 */
    unsigned completions = 0;    /* Cpl, CplD, CplLk, CplDLk of kinds 0 and 1 */
    unsigned urCompletions = 0;  /* completions with status Unsupported Request */
};
TraceTally TallyTrace(const std::vector<TraceEntry>& entries);

} // namespace qorbcli

#endif
