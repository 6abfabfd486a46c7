/* The register model of one simulated function: its live configuration
 * bytes, its power-on contents, and per bit how a write treats it
 * (read-only, read-write, write-one-to-clear). Behaviour that reaches
 * beyond one register (link training, hiding the functions below a
 * disabled link) lives in the platform, which is told of every write. */
#ifndef QORBSIM_FUNCTION_H
#define QORBSIM_FUNCTION_H

#include <stdint.h>

#include <array>
#include <string>
#include <vector>

#include "sim_image.h"

namespace qorbsim {

struct Capability {
    uint16_t offset;
    uint16_t id;
};

class SimFunction {
public:
    explicit SimFunction(const FunctionImage& image);

    uint8_t Bus() const { return m_bus; }
    uint8_t Dev() const { return m_dev; }
    uint8_t Fn() const { return m_fn; }
    uint32_t Length() const { return m_length; }
    const std::string& Origin() const { return m_origin; }

    /* Configuration access as the driver entries do it: the answer is the
     * number of bytes transferred, short where the range leaves the bytes
     * the function has. */
    uint32_t Read(uint32_t offset, uint32_t length, uint8_t* buffer) const;
    uint32_t Write(uint32_t offset, uint32_t length, const uint8_t* buffer);

    /* Back to the power-on contents (a function coming out of reset). */
    void PowerOnReset() { m_regs = m_powerOn; }

    /* Raw register access for the platform's behaviour; no masks apply. */
    uint8_t Get8(uint32_t offset) const { return m_regs[offset]; }
    uint16_t Get16(uint32_t offset) const;
    uint32_t Get32(uint32_t offset) const;
    void Set16(uint32_t offset, uint16_t value);
    void Set32(uint32_t offset, uint32_t value);
    /* Changes a register both live and in the power-on contents. */
    void Preset8(uint32_t offset, uint8_t value);
    void Preset32(uint32_t offset, uint32_t value);
    void Preset16(uint32_t offset, uint16_t value);

    /* How writes treat the bits: mask bits set are read-only, or
     * write-one-to-clear. Both apply to the bytes starting at offset. */
    void MakeReadOnly(uint32_t offset, uint32_t length);
    void MakeReadOnlyBits(uint32_t offset, uint32_t mask, uint32_t length);
    void MakeWriteOneToClear(uint32_t offset, uint32_t mask, uint32_t length);

    /* The capability lists as found at load time (bounded walks). */
    const std::vector<Capability>& LegacyCaps() const { return m_legacyCaps; }
    const std::vector<Capability>& ExtendedCaps() const { return m_extendedCaps; }
    /* Offset of the first capability with this ID, 0 when there is none. */
    uint16_t FindLegacyCap(uint8_t id) const;
    uint16_t FindExtendedCap(uint16_t id) const;
    uint8_t HeaderType() const { return m_regs[0x0E] & 0x7F; }
    /* PCI Express port type, or -1 without a PCI Express capability. */
    int PortType() const;

    /* Walks the capability lists again (after a list was changed on
     * purpose at load time). */
    void Rescan();

    /* Hidden functions (below a disabled link) do not answer. */
    bool hidden = false;
    /* Index of the function's downstream port state in the link model;
     * -1 for every function that is not a downstream port. */
    int linkPort = -1;

private:
    void WalkCapabilities();

    uint8_t m_bus, m_dev, m_fn;
    uint32_t m_length;
    std::string m_origin;
    std::array<uint8_t, kConfigSpaceSize> m_regs;
    std::array<uint8_t, kConfigSpaceSize> m_powerOn;
    std::array<uint8_t, kConfigSpaceSize> m_readOnly{};
    std::array<uint8_t, kConfigSpaceSize> m_rw1c{};
    std::vector<Capability> m_legacyCaps;
    std::vector<Capability> m_extendedCaps;
    friend struct StateFile; /* saves and restores the state (sim_state.cpp) */
};

/* Sets the read-only and write-one-to-clear bits of the registers the
 * simulator knows (identity, capability structure, ...). */
void ApplyRegisterRules(SimFunction& function);

} // namespace qorbsim

#endif
