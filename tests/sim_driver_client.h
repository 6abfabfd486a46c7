/* Test access to the simulated driver without the library: dlopen() of
 * libqorbsim.so, its entry table, and a dump of everything it serves in the
 * lspci -xxxx text format (for lspci -F as an oracle). */
#ifndef QORB_SIM_DRIVER_CLIENT_H
#define QORB_SIM_DRIVER_CLIENT_H

#include <dlfcn.h>
#include <stdio.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <qorb/qorb_driver.h>

namespace qorbtest {

/* (bus, device, function) */
using Location = std::tuple<unsigned, unsigned, unsigned>;

class SimDriverClient {
public:
    SimDriverClient()
    {
#ifdef QORB_SIM_DRIVER_PATH
        m_handle = dlopen(QORB_SIM_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
#endif
        if (!m_handle)
            return;
        auto get = reinterpret_cast<QORB_CONFIG_DRIVER_GET_INTERFACE>(dlsym(m_handle, "ConfigDriver_GetInterface"));
        m_bound = get && get(&m_table) != 0;
    }
    ~SimDriverClient()
    {
        Close();
        if (m_handle)
            dlclose(m_handle);
    }
    SimDriverClient(const SimDriverClient&) = delete;
    SimDriverClient& operator=(const SimDriverClient&) = delete;

    bool Bound() const { return m_bound; }
    const _CONFIG_DRIVER_INTERFACE_t& Table() const { return m_table; }
    uint32_t Context() const { return m_context; }

    /* OpenDriver on the qorbsim.ini of the current directory. */
    bool Open()
    {
        m_open = m_bound && m_table.OpenDriver(&m_context) != 0;
        return m_open;
    }
    void Close()
    {
        if (m_open)
            m_table.CloseDriver(m_context);
        m_open = false;
    }

    uint32_t Read(unsigned bus, unsigned dev, unsigned fn, uint32_t offset, uint32_t length, uint8_t* buffer) const
    {
        return m_table.ReadConfig(m_context, bus, dev, fn, offset, length, buffer);
    }
    uint32_t Write(unsigned bus, unsigned dev, unsigned fn, uint32_t offset, uint32_t length,
                   const std::vector<uint8_t>& bytes) const
    {
        std::vector<uint8_t> copy(bytes);
        return m_table.WriteConfig(m_context, bus, dev, fn, offset, length, copy.data());
    }
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
        std::string text;
        char line[64];
        for (const auto& [loc, bytes] : Functions()) {
            snprintf(line, sizeof line, "%02x:%02x.%x Simulated function\n", std::get<0>(loc), std::get<1>(loc),
                     std::get<2>(loc));
            text += line;
            for (size_t off = 0; off < bytes.size(); off += 16) {
                snprintf(line, sizeof line, off < 0x100 ? "%02zx:" : "%03zx:", off);
                text += line;
                for (size_t i = off; i < off + 16 && i < bytes.size(); ++i) {
                    snprintf(line, sizeof line, " %02x", bytes[i]);
                    text += line;
                }
                text += "\n";
            }
            text += "\n";
        }
        return text;
    }

private:
    void* m_handle = nullptr;
    bool m_bound = false;
    bool m_open = false;
    _CONFIG_DRIVER_INTERFACE_t m_table{};
    uint32_t m_context = 0;
};

} // namespace qorbtest

#endif
