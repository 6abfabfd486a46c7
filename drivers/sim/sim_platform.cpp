/* Loading the platform and routing configuration accesses to functions. */
#include "sim_platform.h"

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
    return ok;
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
    ApplyRegisterRules(*slot);
    return true;
}

uint32_t Platform::Read(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length, uint8_t* buffer)
{
    SimFunction* f = Find(bus, dev, fn);
    return f ? f->Read(offset, length, buffer) : 0;
}

uint32_t Platform::Write(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                         const uint8_t* buffer)
{
    SimFunction* f = Find(bus, dev, fn);
    return f ? f->Write(offset, length, buffer) : 0;
}

} // namespace qorbsim
