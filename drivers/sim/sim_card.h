/* The simulated ZEB test card: two functions (vendor 5a45, device 0001 the
 * upstream function, 0002 the downstream function) in the link above a
 * device under test. It sees the traffic of the link below its downstream
 * function, records it in its trace buffer while armed, and carries out
 * programmed commands (injected errors), which set the matching error status
 * bits of the function below. */
#ifndef QORBSIM_CARD_H
#define QORBSIM_CARD_H

#include <stdint.h>

#include <qorb/qorb_types.h>

#include "sim_function.h"
#include "sim_trace.h"

namespace qorbsim {

constexpr uint16_t kZebUpstreamDevice = 0x0001;
constexpr uint16_t kZebDownstreamDevice = 0x0002;

class Platform;

class ZebCard {
public:
    ZebCard(const Platform& platform, SimFunction& upstream, SimFunction& downstream);

    SimFunction& Upstream() const { return m_upstream; }
    SimFunction& Downstream() const { return m_downstream; }
    bool Owns(uint32_t bus, uint32_t dev, uint32_t fn) const;
    /* The buses whose configuration traffic crosses the monitored link. */
    uint8_t FirstBus() const { return m_firstBus; }
    uint8_t LastBus() const { return m_lastBus; }

    /* A configuration access to a function below, after it was carried out:
     * served = bytes the function transferred (absent: no function there);
     * data = the bytes written (writes only). */
    void ConfigAccess(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length, bool write,
                      const uint8_t* data, uint32_t served);
    /* The monitored link starts training. */
    void LinkTrains();

    /* The test card library's operations; results are qorb status values. */
    uint32_t Arm();
    uint32_t Disarm();
    uint32_t Suspend();
    uint32_t Resume();
    uint32_t ChangeMode(_QORB_ZEB_OP_MODE_t mode);
    uint32_t QueryMode(_QORB_ZEB_OP_MODE_t* mode) const;
    uint32_t Program(const _qorb_cmd_map_t* command);
    uint32_t ActionCount(uint32_t* count) const;
    uint32_t GetConfig(uint32_t* config) const;
    uint32_t SetConfig(uint32_t config);
    uint32_t BufferSize(uint32_t* bytes) const;
    uint32_t ReadBuffer(uint32_t* bytes, uint8_t* buffer) const;
    uint32_t WritePattern(uint32_t pattern);
    uint32_t Properties(_qorb_zeb_query_prop_t* properties) const;

private:
    struct Packet {
        const Tlp* tlp;
        const Dllp* dllp;
    };
    bool LinkUp() const;
    bool Recording() const;
    _QORB_ZEB_CMD_t PickAction(const Packet& packet);
    void SendTlp(Direction direction, const Tlp& tlp, SimFunction* below);
    void SendDllp(Direction direction, Dllp dllp, SimFunction* below);
    void Record(TraceKind kind, const Tlp& tlp);
    void Record(Direction direction, const Dllp& dllp);
    void InjectAfter(_QORB_ZEB_CMD_t action, uint16_t sequence, SimFunction* below);
    void LogError(SimFunction* below, bool uncorrectable, uint32_t bit);

    const Platform& m_platform;
    SimFunction& m_upstream;
    SimFunction& m_downstream;
    uint8_t m_firstBus, m_lastBus;
    TraceBuffer m_trace;
    _QORB_ZEB_OP_MODE_t m_mode = QORB_ZEB_MODE_MONITOR;
    bool m_armed = false;
    bool m_suspended = false;
    _qorb_cmd_map_t m_command{};
    uint32_t m_remaining = 0;
    uint32_t m_matches = 0;
    uint32_t m_actions = 0;
    uint16_t m_sequence[2] = {0, 0};
    uint8_t m_tag = 0;
    friend struct StateFile; /* saves and restores the state (sim_state.cpp) */
};

} // namespace qorbsim

#endif
