/* The [function BB:DD.F] sections of qorbsim.ini: capability list breaks,
 * error status presets and stuck link training. A section naming a function
 * the platform lacks, or a register the function does not have, is an
 * error. */
#include <linux/pci_regs.h>

#include "sim_platform.h"

namespace qorbsim {
namespace {

constexpr uint8_t kIntoTheHeader = 0x3C;

bool BreakList(SimFunction& f, ListBreak kind)
{
    if (kind == ListBreak::kExtendedLoop) {
        if (f.ExtendedCaps().empty())
            return false;
        uint32_t last = f.ExtendedCaps().back().offset;
        f.Preset32(last, (f.Get32(last) & 0x000FFFFF) | kLegacySpaceSize << 20);
        return true;
    }
    if (f.LegacyCaps().empty())
        return false;
    uint32_t last = f.LegacyCaps().back().offset;
    uint8_t target = kind == ListBreak::kLegacyLoop ? static_cast<uint8_t>(f.LegacyCaps().front().offset)
                                                    : kIntoTheHeader;
    f.Preset8(last + PCI_CAP_LIST_NEXT, target);
    return true;
}

/* ORs a preset into the live register of the given width (2 or 4) at
 * offset. The power-on contents stay as they are: a reset clears it. */
void Preset(SimFunction& f, uint32_t offset, uint32_t value, int width)
{
    if (width == 4)
        f.Set32(offset, f.Get32(offset) | value);
    else
        f.Set16(offset, static_cast<uint16_t>(f.Get16(offset) | value));
}

} // namespace

bool Platform::ApplyListBreaks(const SimConfig& config)
{
    bool ok = true;
    for (const FunctionSettings& s : config.functions) {
        SimFunction* f = At(s.bus, s.dev, s.fn);
        if (!f) {
            Report("%s: [function %02x:%02x.%x]: the platform has no such function", kConfigFile, s.bus, s.dev,
                   s.fn);
            ok = false;
            continue;
        }
        for (ListBreak kind : s.breaks) {
            if (!BreakList(*f, kind)) {
                Report("%s: [function %02x:%02x.%x]: break_capabilities: the function has no such list",
                       kConfigFile, s.bus, s.dev, s.fn);
                ok = false;
            }
        }
        f->Rescan();
    }
    return ok;
}

bool Platform::ApplyPresets(const SimConfig& config)
{
    bool ok = true;
    for (const FunctionSettings& s : config.functions) {
        SimFunction& f = *At(s.bus, s.dev, s.fn);
        uint32_t pcie = f.FindLegacyCap(PCI_CAP_ID_EXP);
        uint32_t aer = f.FindExtendedCap(PCI_EXT_CAP_ID_ERR);
        bool bridge = f.HeaderType() == PCI_HEADER_TYPE_BRIDGE;
        struct {
            const char* key;
            const std::optional<uint32_t>& value;
            bool present;
            uint32_t offset;
            int width;
        } presets[] = {
            {"aer_uncorrectable", s.aerUncorrectable, aer != 0, aer + PCI_ERR_UNCOR_STATUS, 4},
            {"aer_correctable", s.aerCorrectable, aer != 0, aer + PCI_ERR_COR_STATUS, 4},
            {"status", s.status, true, PCI_STATUS, 2},
            {"secondary_status", s.secondaryStatus, bridge, PCI_SEC_STATUS, 2},
            {"device_status", s.deviceStatus, pcie != 0, pcie + PCI_EXP_DEVSTA, 2},
            {"link_status", s.linkStatus, pcie != 0, pcie + PCI_EXP_LNKSTA, 2},
        };
        for (const auto& p : presets) {
            if (!p.value)
                continue;
            if (!p.present || p.offset + p.width > f.Length()) {
                Report("%s: [function %02x:%02x.%x] %s: the function has no such register", kConfigFile, s.bus,
                       s.dev, s.fn, p.key);
                ok = false;
                continue;
            }
            Preset(f, p.offset, *p.value, p.width);
        }
        if (s.linkTrainingStuck) {
            if (f.linkPort < 0) {
                Report("%s: [function %02x:%02x.%x] link_training_stuck: not a root port or switch downstream port",
                       kConfigFile, s.bus, s.dev, s.fn);
                ok = false;
                continue;
            }
            m_links.SetStuck(f);
        }
    }
    return ok;
}

} // namespace qorbsim
