/* Loading the platform and routing configuration accesses to functions. */
#include "sim_platform.h"

#include <linux/pci_regs.h>

#include "sim_builtin.h"
#include "sim_dump.h"

namespace qorbsim {

Platform::Platform() : m_index(kBuses * kDevices * kFunctions, nullptr) {}

bool Platform::Load(const SimConfig& config)
{
    std::vector<FunctionImage> images;
    bool ok = true;
    if (config.dumps.empty()) {
        images = BuiltinPlatform();
    } else {
        for (const std::string& path : config.dumps)
            ok = ReadDumpFile(path, images) && ok;
    }
    int otherDomains = 0;
    for (const FunctionImage& image : images) {
        if (image.domain != 0) {
            ++otherDomains;
            continue;
        }
        ok = Add(image) && ok;
    }
    if (otherDomains)
        Report("%d function(s) outside PCI domain 0 skipped: only domain 0 is simulated", otherDomains);
    if (!ok || !ApplyListBreaks(config))
        return false;
    std::vector<SimFunction*> all;
    for (const auto& f : m_functions) {
        ApplyRegisterRules(*f);
        all.push_back(f.get());
    }
    m_links.Setup(all, config.trainingMs);
    return ApplyPresets(config);
}

bool Platform::Add(const FunctionImage& image)
{
    SimFunction*& slot = m_index[(image.bus * kDevices + image.dev) * kFunctions + image.fn];
    if (slot) {
        Report("%s: function %02x:%02x.%x is already defined at %s", image.origin.c_str(), image.bus, image.dev,
               image.fn, slot->Origin().c_str());
        return false;
    }
    m_functions.push_back(std::make_unique<SimFunction>(image));
    slot = m_functions.back().get();
    return true;
}

uint32_t Platform::Read(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length, uint8_t* buffer)
{
    SimFunction* f = Find(bus, dev, fn);
    if (!f)
        return 0;
    if (f->linkPort >= 0)
        m_links.Refresh(*f);
    return f->Read(offset, length, buffer);
}

uint32_t Platform::Write(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                         const uint8_t* buffer)
{
    SimFunction* f = Find(bus, dev, fn);
    if (!f)
        return 0;
    if (f->linkPort >= 0)
        m_links.Refresh(*f);
    uint16_t cap = f->FindLegacyCap(PCI_CAP_ID_EXP);
    uint64_t control = cap + PCI_EXP_LNKCTL;
    bool linkControl = cap && offset < control + 2 && uint64_t{offset} + length > control;
    uint16_t oldControl = linkControl ? f->Get16(static_cast<uint32_t>(control)) : 0;
    uint32_t n = f->Write(offset, length, buffer);
    if (linkControl && n > control - offset)
        m_links.AfterLinkControlWrite(*f, oldControl);
    return n;
}

} // namespace qorbsim
