/* The simulated platform: every function, found by location through a
 * table of 256 x 32 x 8 pointers so that a probe of an empty location costs
 * one table look-up, and the behaviour that spans functions. */
#ifndef QORBSIM_PLATFORM_H
#define QORBSIM_PLATFORM_H

#include <stdint.h>

#include <array>
#include <memory>
#include <vector>

#include "sim_card.h"
#include "sim_config.h"
#include "sim_function.h"
#include "sim_link.h"

namespace qorbsim {

constexpr uint32_t kBuses = 256;
constexpr uint32_t kDevices = 32;
constexpr uint32_t kFunctions = 8;

class Platform {
public:
    Platform();

    /* Loads the dumps the configuration names, or the built-in platform
     * when it names none, then applies the configuration's function
     * settings. False (with the reasons on standard error) on bad input;
     * the platform is then unusable. */
    bool Load(const SimConfig& config);

    /* The function at a location, hidden or not; null when there is none. */
    SimFunction* At(uint32_t bus, uint32_t dev, uint32_t fn) const
    {
        if (bus >= kBuses || dev >= kDevices || fn >= kFunctions)
            return nullptr;
        return m_index[(bus * kDevices + dev) * kFunctions + fn];
    }
    /* The function that answers at a location: null when there is none or
     * it is hidden below a disabled link. */
    SimFunction* Find(uint32_t bus, uint32_t dev, uint32_t fn) const
    {
        SimFunction* f = At(bus, dev, fn);
        return f && !f->hidden ? f : nullptr;
    }

    uint32_t Read(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length, uint8_t* buffer);
    uint32_t Write(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                   const uint8_t* buffer);

    LinkModel& Links() { return m_links; }

    /* The PCI domain served, and every domain the dumps hold (ascending). */
    uint32_t Domain() const { return m_domain; }
    const std::vector<uint32_t>& Domains() const { return m_domains; }

    /* The test card one of whose two functions is at the location. */
    ZebCard* CardAt(uint32_t bus, uint32_t dev, uint32_t fn) const;
    /* The nearest test card above a bus (whose monitored link leads to it). */
    ZebCard* CardAbove(uint32_t bus) const;

private:
    bool Add(const FunctionImage& image);
    /* [function] sections: the capability list breaks change a function's
     * power-on contents and come first; register presets and stuck link
     * training come once the register rules and link model are in place. */
    bool ApplyListBreaks(const SimConfig& config);
    bool ApplyPresets(const SimConfig& config);
    void FindCards();
    void CardSees(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length, bool write,
                  const uint8_t* data, uint32_t served)
    {
        if (bus < kBuses && m_cardOfBus[bus] >= 0)
            m_cards[static_cast<size_t>(m_cardOfBus[bus])]->ConfigAccess(bus, dev, fn, offset, length, write, data,
                                                                        served);
    }

    std::vector<std::unique_ptr<SimFunction>> m_functions;
    std::vector<SimFunction*> m_index;
    LinkModel m_links;
    std::vector<std::unique_ptr<ZebCard>> m_cards;
    std::vector<int> m_cardOfBus;   /* per bus: the nearest card above it, or -1 */
    uint32_t m_domain = 0;
    std::vector<uint32_t> m_domains;
    friend struct StateFile; /* saves and restores the state (sim_state.cpp) */
};

/* The platform of the open driver; null while it is closed. */
Platform* OpenedPlatform();

} // namespace qorbsim

#endif
