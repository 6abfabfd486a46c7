/* Encoding of configuration TLPs and DLLPs, byte 0 first as they cross the
 * link. */
#include "sim_packets.h"

namespace qorbsim {
namespace {

/* The DLLP's 16-bit CRC over its first four bytes: polynomial 0x100b,
 * seed 0xffff, result inverted. */
uint16_t DllpCrc(const uint8_t* bytes)
{
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < 4; ++i) {
        crc ^= static_cast<uint16_t>(bytes[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x100B : crc << 1);
    }
    return static_cast<uint16_t>(~crc);
}

void SetCrc(Dllp& d)
{
    uint16_t crc = DllpCrc(d.bytes);
    d.bytes[4] = static_cast<uint8_t>(crc >> 8);
    d.bytes[5] = static_cast<uint8_t>(crc);
}

void Put16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

} // namespace

Tlp ConfigRequest(bool write, bool type1, uint16_t requester, uint8_t tag, uint8_t bus, uint8_t dev, uint8_t fn,
                  uint32_t offset, uint8_t byteEnables, const uint8_t* data)
{
    Tlp t;
    t.bytes[0] = write ? (type1 ? kCfgWr1 : kCfgWr0) : (type1 ? kCfgRd1 : kCfgRd0);
    t.bytes[3] = 1;   /* Length: one doubleword */
    Put16(&t.bytes[4], requester);
    t.bytes[6] = tag;
    t.bytes[7] = byteEnables & 0x0F;   /* Last DW BE 0: a one-doubleword request */
    t.bytes[8] = bus;
    t.bytes[9] = static_cast<uint8_t>(dev << 3 | fn);
    t.bytes[10] = static_cast<uint8_t>((offset >> 8) & 0x0F);
    t.bytes[11] = static_cast<uint8_t>(offset & 0xFC);
    t.dwords = 3;
    if (write) {
        for (int i = 0; i < 4; ++i)
            t.bytes[12 + i] = data[i];
        t.dwords = 4;
    }
    return t;
}

Tlp ConfigCompletion(uint8_t status, uint16_t completer, uint16_t requester, uint8_t tag, const uint8_t* data)
{
    Tlp t;
    t.bytes[0] = data ? kCplD : kCpl;
    t.bytes[3] = data ? 1 : 0;
    Put16(&t.bytes[4], completer);
    t.bytes[6] = static_cast<uint8_t>(status << 5);
    t.bytes[7] = 4;   /* Byte Count */
    Put16(&t.bytes[8], requester);
    t.bytes[10] = tag;
    t.dwords = 3;
    if (data) {
        for (int i = 0; i < 4; ++i)
            t.bytes[12 + i] = data[i];
        t.dwords = 4;
    }
    return t;
}

Dllp AckNak(uint8_t type, uint16_t sequence)
{
    Dllp d;
    d.bytes[0] = type;
    d.bytes[2] = static_cast<uint8_t>((sequence >> 8) & 0x0F);
    d.bytes[3] = static_cast<uint8_t>(sequence);
    SetCrc(d);
    return d;
}

Dllp FlowControl(uint8_t type, uint8_t headerCredits, uint16_t dataCredits)
{
    Dllp d;
    d.bytes[0] = type;
    d.bytes[1] = static_cast<uint8_t>(headerCredits >> 2);
    d.bytes[2] = static_cast<uint8_t>((headerCredits & 3) << 6 | ((dataCredits >> 8) & 0x0F));
    d.bytes[3] = static_cast<uint8_t>(dataCredits);
    SetCrc(d);
    return d;
}

void CorruptCrc(Dllp& dllp)
{
    dllp.bytes[4] = static_cast<uint8_t>(~dllp.bytes[4]);
    dllp.bytes[5] = static_cast<uint8_t>(~dllp.bytes[5]);
}

uint8_t DllpKind(uint8_t type)
{
    switch (type & 0xF8) {
    case kDllpInitFc1P: case kDllpInitFc1Np: case kDllpInitFc1Cpl:
    case kDllpInitFc2P: case kDllpInitFc2Np: case kDllpInitFc2Cpl:
    case kDllpUpdateFcP: case kDllpUpdateFcNp: case kDllpUpdateFcCpl:
        return type & 0xF8;
    default:
        return type;
    }
}

} // namespace qorbsim
