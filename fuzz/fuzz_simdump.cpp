/* The simulated driver's dump reader on any text, then the platform built
 * from it: the text is read as lspci -x/-xxx/-xxxx output from memory, and
 * the same text, written to a file, is loaded as the only dump of a
 * simulated platform (capability walks, register rules, link model, test
 * cards), whose every function is then read back in full. Last, every link
 * whose Link Control the function has is disabled, enabled and retrained,
 * each step followed by a read of every function. */
#include <linux/pci_regs.h>

#include <sstream>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sim_dump.h"
#include "sim_platform.h"

using namespace qorbsim;
using qorbfuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::istringstream text(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<FunctionImage> images;
    bool ok = ReadDump(text, "fuzz", images);
    for (const FunctionImage& f : images) {
        Require(f.length >= kHeaderSize && f.length <= kConfigSpaceSize, "a function has 64 to 4096 bytes");
        Require(f.dev < kDevices && f.fn < kFunctions, "device and function within range");
    }
    Require(!ok || !images.empty(), "a dump without a function is refused");

    /* A dump read with errors does not load (the platform reads it again
     * and finds the same errors); building a platform costs far more than
     * reading, so only clean dumps go on. */
    if (!ok)
        return 0;
    SimConfig config;
    config.trainingMs = 0;   /* training ends at the next read */
    config.dumps.push_back(qorbfuzz::WriteScratchFile("dump.txt", data, size));
    Platform platform;
    if (!platform.Load(config))
        return 0;
    std::vector<uint8_t> buffer(kConfigSpaceSize);
    for (const FunctionImage& f : images) {
        if (f.domain != 0)
            continue;
        SimFunction* function = platform.At(f.bus, f.dev, f.fn);
        Require(function != nullptr, "every function of the dump is on the platform");
        uint32_t n = platform.Read(f.bus, f.dev, f.fn, 0, kConfigSpaceSize, buffer.data());
        Require(n == 0 || n == function->Length(), "a read answers the function's bytes, or none when hidden");
        for (const Capability& cap : function->LegacyCaps())
            Require(cap.offset >= kHeaderSize && cap.offset < kLegacySpaceSize, "legacy capabilities lie after the header");
        for (const Capability& cap : function->ExtendedCaps())
            Require(cap.offset >= kLegacySpaceSize && cap.offset + 4 <= function->Length(),
                    "extended capabilities lie in the extended space");
    }

    auto readAll = [&] {
        for (const FunctionImage& f : images)
            if (f.domain == 0)
                (void)platform.Read(f.bus, f.dev, f.fn, 0, kConfigSpaceSize, buffer.data());
    };
    static const uint16_t kSteps[] = {PCI_EXP_LNKCTL_LD, 0, PCI_EXP_LNKCTL_RL};
    for (const FunctionImage& f : images) {
        SimFunction* function = f.domain == 0 ? platform.At(f.bus, f.dev, f.fn) : nullptr;
        uint16_t cap = function ? function->FindLegacyCap(PCI_CAP_ID_EXP) : 0;
        if (!cap)
            continue;
        for (uint16_t value : kSteps) {
            uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
            (void)platform.Write(f.bus, f.dev, f.fn, cap + PCI_EXP_LNKCTL, 2, bytes);
            readAll();
        }
    }
    return 0;
}
