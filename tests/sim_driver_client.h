/* Test access to the simulated driver without the library, and a dump of
 * everything it serves in the lspci -xxxx text format (for lspci -F as an
 * oracle). */
#ifndef QORB_SIM_DRIVER_CLIENT_H
#define QORB_SIM_DRIVER_CLIENT_H

#include <stdio.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "driver_client.h"
#include "qorb_test_support.h"

namespace qorbtest {

/* (bus, device, function) */
using Location = std::tuple<unsigned, unsigned, unsigned>;

inline const char* SimDriverPath()
{
#ifdef QORB_SIM_DRIVER_PATH
    return QORB_SIM_DRIVER_PATH;
#else
    return "";
#endif
}

class SimDriverClient : public DriverClient {
public:
    SimDriverClient() : DriverClient(SimDriverPath()) {}

    uint32_t Read32(unsigned bus, unsigned dev, unsigned fn, uint32_t offset) const
    {
        uint8_t b[4] = {};
        Read(bus, dev, fn, offset, 4, b);
        return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    }
    uint16_t Read16(unsigned bus, unsigned dev, unsigned fn, uint32_t offset) const
    {
        uint8_t b[2] = {};
        Read(bus, dev, fn, offset, 2, b);
        return static_cast<uint16_t>(b[0] | b[1] << 8);
    }

    /* Every function that answers a 64-byte probe, with all the bytes it
     * serves (read in one 4096-byte request: the count is its size). */
    std::map<Location, std::vector<uint8_t>> Functions() const
    {
        std::map<Location, std::vector<uint8_t>> out;
        for (unsigned bus = 0; bus < 256; ++bus)
            for (unsigned dev = 0; dev < 32; ++dev)
                for (unsigned fn = 0; fn < 8; ++fn) {
                    uint8_t probe[64];
                    if (Read(bus, dev, fn, 0, 64, probe) != 64)
                        continue;
                    std::vector<uint8_t> bytes(4096);
                    bytes.resize(Read(bus, dev, fn, 0, 4096, bytes.data()));
                    out[{bus, dev, fn}] = bytes;
                }
        return out;
    }

    /* The functions as lspci -xxxx text. */
    std::string DumpText() const
    {
        std::vector<DumpFunction> functions;
        for (const auto& [loc, bytes] : Functions()) {
            ConfigSpace space(bytes.size());
            for (size_t i = 0; i < bytes.size(); ++i)
                space.Set8(static_cast<uint32_t>(i), bytes[i]);
            functions.push_back({static_cast<uint8_t>(std::get<0>(loc)), static_cast<uint8_t>(std::get<1>(loc)),
                                 static_cast<uint8_t>(std::get<2>(loc)), space});
        }
        return qorbtest::DumpText(functions);
    }
};

} // namespace qorbtest

#endif
