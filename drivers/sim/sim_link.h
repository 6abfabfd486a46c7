/* The link behaviour of downstream ports (root ports and switch downstream
 * ports): Retrain Link, Link Training for the training time, Link Disable
 * hiding the functions below, and their reset when the link comes back. */
#ifndef QORBSIM_LINK_H
#define QORBSIM_LINK_H

#include <stdint.h>

#include <chrono>
#include <functional>
#include <vector>

#include "sim_function.h"

namespace qorbsim {

class LinkModel {
public:
    using Clock = std::chrono::steady_clock;

    /* Finds the downstream ports among the functions (all of the platform,
     * hidden or not) and brings them to their power-on link state. */
    void Setup(const std::vector<SimFunction*>& functions, uint32_t trainingMs);
    /* Makes a port's Link Training never clear (set from power-on on). */
    void SetStuck(SimFunction& port);

    /* Before a read of a downstream port: ends a training whose time is up. */
    void Refresh(SimFunction& port);
    /* After a write that reached a function's Link Control register, with
     * the value the register had before. */
    void AfterLinkControlWrite(SimFunction& f, uint16_t oldControl);

    /* Told when a port's link starts training (the test card listens). */
    std::function<void(SimFunction& port)> onTraining;

private:
    struct Port {
        SimFunction* function;
        uint16_t cap;                 /* PCI Express capability offset */
        uint8_t secondary;            /* bus range below the port, from power-on */
        uint8_t subordinate;
        bool linkActiveAtPowerOn;     /* Data Link Layer Link Active after training */
        bool stuck = false;
        bool training = false;
        Clock::time_point trainingEnds{};
    };

    uint16_t LinkStatus(const Port& p) const;
    void SetLinkStatus(Port& p, uint16_t value);
    void PowerOnState(Port& p);
    void StartTraining(Port& p);
    void Disable(Port& p);
    void Enable(Port& p);
    void UpdateHidden();
    bool Below(const Port& p, const SimFunction& f) const;

    std::vector<SimFunction*> m_functions;
    std::vector<Port> m_ports;
    Clock::duration m_trainingTime{};
    friend struct StateFile; /* saves and restores the state (sim_state.cpp) */
};

} // namespace qorbsim

#endif
