/* Storage, masked access and the load-time capability walks of one
 * simulated function. */
#include "sim_function.h"

#include <linux/pci_regs.h>
#include <string.h>

#include <qorb_common/cap_walk.h>

namespace qorbsim {
namespace {

uint32_t Available(uint32_t size, uint32_t offset, uint32_t length)
{
    if (offset >= size)
        return 0;
    return length < size - offset ? length : size - offset;
}

} // namespace

SimFunction::SimFunction(const FunctionImage& image)
    : m_bus(image.bus),
      m_dev(image.dev),
      m_fn(image.fn),
      m_length(image.length),
      m_origin(image.origin),
      m_regs(image.bytes),
      m_powerOn(image.bytes),
      m_quirks(image.quirks)
{
    WalkCapabilities();
}

uint32_t SimFunction::Read(uint32_t offset, uint32_t length, uint8_t* buffer) const
{
    uint32_t n = Available(m_length, offset, length);
    if (n)
        memcpy(buffer, &m_regs[offset], n);
    return n;
}

uint32_t SimFunction::Write(uint32_t offset, uint32_t length, const uint8_t* buffer)
{
    uint32_t n = Available(m_length, offset, length);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t at = offset + i;
        uint8_t value = buffer[i];
        uint8_t keep = m_readOnly[at] | m_rw1c[at];
        uint8_t next = static_cast<uint8_t>((m_regs[at] & keep) | (value & ~keep));
        next = static_cast<uint8_t>(next & ~(value & m_rw1c[at] & ~m_readOnly[at]));
        m_regs[at] = next;
    }
    return n;
}

uint16_t SimFunction::Get16(uint32_t offset) const
{
    return static_cast<uint16_t>(m_regs[offset] | m_regs[offset + 1] << 8);
}

uint32_t SimFunction::Get32(uint32_t offset) const
{
    return static_cast<uint32_t>(Get16(offset)) | static_cast<uint32_t>(Get16(offset + 2)) << 16;
}

void SimFunction::Set16(uint32_t offset, uint16_t value)
{
    m_regs[offset] = static_cast<uint8_t>(value);
    m_regs[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void SimFunction::Set32(uint32_t offset, uint32_t value)
{
    Set16(offset, static_cast<uint16_t>(value));
    Set16(offset + 2, static_cast<uint16_t>(value >> 16));
}

void SimFunction::Preset8(uint32_t offset, uint8_t value)
{
    m_regs[offset] = value;
    m_powerOn[offset] = value;
}

void SimFunction::Rescan()
{
    m_legacyCaps.clear();
    m_extendedCaps.clear();
    WalkCapabilities();
}

void SimFunction::Preset16(uint32_t offset, uint16_t value)
{
    Preset8(offset, static_cast<uint8_t>(value));
    Preset8(offset + 1, static_cast<uint8_t>(value >> 8));
}

void SimFunction::Preset32(uint32_t offset, uint32_t value)
{
    Preset16(offset, static_cast<uint16_t>(value));
    Preset16(offset + 2, static_cast<uint16_t>(value >> 16));
}

void SimFunction::MakeReadOnly(uint32_t offset, uint32_t length)
{
    for (uint32_t i = 0; i < length && offset + i < kConfigSpaceSize; ++i)
        m_readOnly[offset + i] = 0xFF;
}

void SimFunction::MakeReadOnlyBits(uint32_t offset, uint32_t mask, uint32_t length)
{
    for (uint32_t i = 0; i < length && offset + i < kConfigSpaceSize; ++i)
        m_readOnly[offset + i] |= static_cast<uint8_t>(mask >> (8 * i));
}

void SimFunction::MakeWriteOneToClear(uint32_t offset, uint32_t mask, uint32_t length)
{
    for (uint32_t i = 0; i < length && offset + i < kConfigSpaceSize; ++i)
        m_rw1c[offset + i] |= static_cast<uint8_t>(mask >> (8 * i));
}

void SimFunction::MakeReadWriteBits(uint32_t offset, uint32_t mask, uint32_t length)
{
    for (uint32_t i = 0; i < length && offset + i < kConfigSpaceSize; ++i) {
        m_readOnly[offset + i] &= static_cast<uint8_t>(~(mask >> (8 * i)));
        m_rw1c[offset + i] &= static_cast<uint8_t>(~(mask >> (8 * i)));
    }
}

uint16_t SimFunction::FindLegacyCap(uint8_t id) const
{
    for (const Capability& cap : m_legacyCaps)
        if (cap.id == id)
            return cap.offset;
    return 0;
}

uint16_t SimFunction::FindExtendedCap(uint16_t id) const
{
    for (const Capability& cap : m_extendedCaps)
        if (cap.id == id)
            return cap.offset;
    return 0;
}

int SimFunction::PortType() const
{
    uint16_t pcie = FindLegacyCap(PCI_CAP_ID_EXP);
    if (!pcie)
        return -1;
    return (Get16(pcie + PCI_EXP_FLAGS) & PCI_EXP_FLAGS_TYPE) >> 4;
}

/* Both walks follow the pointers the function holds, so they are bounded by
 * count and by a visited set: a looped or wild list ends the walk. */
void SimFunction::WalkCapabilities()
{
    for (const qorb_caps::Cap& c : qorb_caps::WalkLegacy(m_regs.data(), m_length).caps)
        m_legacyCaps.push_back({c.offset, c.id});
    for (const qorb_caps::Cap& c : qorb_caps::WalkExtended(m_regs.data(), m_length).caps)
        m_extendedCaps.push_back({c.offset, c.id});
}

} // namespace qorbsim
