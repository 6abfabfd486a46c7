/* Link packets as the simulated test card sees them: configuration TLPs
 * and their completions, and the DLLPs of the data link layer. */
#ifndef QORBSIM_PACKETS_H
#define QORBSIM_PACKETS_H

#include <stdint.h>

namespace qorbsim {

/* Byte 0 of a TLP header (Fmt and Type). */
constexpr uint8_t kCfgRd0 = 0x04;
constexpr uint8_t kCfgWr0 = 0x44;
constexpr uint8_t kCfgRd1 = 0x05;
constexpr uint8_t kCfgWr1 = 0x45;
constexpr uint8_t kCpl = 0x0A;
constexpr uint8_t kCplD = 0x4A;

/* Completion status. */
constexpr uint8_t kCplSuccess = 0;
constexpr uint8_t kCplUnsupported = 1;

/* DLLP types (flow control types with virtual channel 0). */
constexpr uint8_t kDllpAck = 0x00;
constexpr uint8_t kDllpNak = 0x10;
constexpr uint8_t kDllpInitFc1P = 0x40;
constexpr uint8_t kDllpInitFc1Np = 0x50;
constexpr uint8_t kDllpInitFc1Cpl = 0x60;
constexpr uint8_t kDllpInitFc2P = 0xC0;
constexpr uint8_t kDllpInitFc2Np = 0xD0;
constexpr uint8_t kDllpInitFc2Cpl = 0xE0;
constexpr uint8_t kDllpUpdateFcP = 0x80;
constexpr uint8_t kDllpUpdateFcNp = 0x90;
constexpr uint8_t kDllpUpdateFcCpl = 0xA0;

/* A TLP of up to a 3-doubleword header and one data doubleword. */
struct Tlp {
    uint8_t bytes[16] = {};
    uint8_t dwords = 0;       /* whole TLP */
    uint8_t headerDwords = 3;
    bool IsCompletion() const { return (bytes[0] & 0x1F) == kCpl; }
};

struct Dllp {
    uint8_t bytes[6] = {};
    uint8_t Type() const { return bytes[0]; }
};

/* A configuration read or write of one doubleword. offset is the
 * register's byte offset (its low two bits are ignored); byteEnables the
 * First DW Byte Enables; data (writes) the doubleword in lane order. */
Tlp ConfigRequest(bool write, bool type1, uint16_t requester, uint8_t tag, uint8_t bus, uint8_t dev, uint8_t fn,
                  uint32_t offset, uint8_t byteEnables, const uint8_t* data);
/* The completion of a configuration request: with data (CplD) when data is
 * given, else without (Cpl). */
Tlp ConfigCompletion(uint8_t status, uint16_t completer, uint16_t requester, uint8_t tag, const uint8_t* data);

/* Ack or Nak of a sequence number. */
Dllp AckNak(uint8_t type, uint16_t sequence);
/* InitFC1, InitFC2 or UpdateFC with header and data credits. */
Dllp FlowControl(uint8_t type, uint8_t headerCredits, uint16_t dataCredits);
/* Inverts the DLLP's CRC: a receiver takes it for a bad DLLP. */
void CorruptCrc(Dllp& dllp);

/* Normalised DLLP type: flow control types lose their virtual channel. */
uint8_t DllpKind(uint8_t type);

} // namespace qorbsim

#endif
