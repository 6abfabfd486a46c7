/* Small platforms and helpers shared by the topology and capability tests. */
#ifndef TOPOLOGY_TEST_PLATFORMS_H
#define TOPOLOGY_TEST_PLATFORMS_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "qorb_test_support.h"

namespace topotest {

using qorbtest::ConfigSpace;
using qorbtest::DumpFunction;

inline bool HaveSim()
{
#ifdef QORB_SIM_DRIVER_PATH
    return true;
#else
    return false;
#endif
}

/* Skips when the simulated driver is not built; fails when it is built but
 * the platform does not open. */
#define TOPO_REQUIRE_PLATFORM(platform)                                              \
    do {                                                                             \
        if (!topotest::HaveSim())                                                    \
            GTEST_SKIP() << "the simulated driver is not built";                     \
        ASSERT_EQ(QORB_SUCCESS, (platform).OpenStatus()) << "platform did not open"; \
    } while (0)

/* A type 0 PCI Express function of the given port type (capability at 0x40). */
inline ConfigSpace PcieFunction(uint16_t vendor, uint16_t device, uint8_t portType)
{
    ConfigSpace s;
    s.Header(vendor, device, 0x02, 0x00, 0x00, 0x00).CapPointer(0x40).PcieCap(0x40, portType, 0);
    return s;
}

/* A type 1 PCI Express port with its bus numbers. */
inline ConfigSpace PciePort(uint16_t device, uint8_t portType, uint8_t primary, uint8_t secondary, uint8_t subordinate)
{
    ConfigSpace s;
    s.Header(0x8086, device, 0x06, 0x04, 0x00, 0x01)
        .Buses(primary, secondary, subordinate)
        .CapPointer(0x40)
        .PcieCap(0x40, portType, 0);
    return s;
}

/* A conventional PCI function without capabilities. */
inline ConfigSpace PciFunction(uint16_t vendor, uint16_t device)
{
    ConfigSpace s;
    s.Header(vendor, device, 0x01, 0x80, 0x00, 0x00);
    return s;
}

/*   00:00.0 host bridge
 *   00:01.0 root port [01-04] -- 01:00.0 switch upstream port [02-04]
 *                                   02:00.0 downstream port [03] -- 03:00.0 endpoint
 *                                   02:01.0 downstream port [04] -- 04:00.0 legacy endpoint
 *   00:02.0 root port [05-06] -- 05:00.0 PCI Express to PCI bridge [06] -- 06:01.0 PCI device */
inline std::vector<DumpFunction> SwitchTopology()
{
    ConfigSpace host;
    host.Header(0x8086, 0x0001, 0x06, 0x00, 0x00, 0x00);
    ConfigSpace pciBridge;
    pciBridge.Header(0x8086, 0x0050, 0x06, 0x04, 0x00, 0x01).Buses(5, 6, 6).CapPointer(0x40).PcieCap(0x40, 7, 0);
    return {
        {0x00, 0x00, 0, host},
        {0x00, 0x01, 0, PciePort(0x0010, 4, 0, 1, 4)},
        {0x00, 0x02, 0, PciePort(0x0020, 4, 0, 5, 6)},
        {0x01, 0x00, 0, PciePort(0x0011, 5, 1, 2, 4)},
        {0x02, 0x00, 0, PciePort(0x0012, 6, 2, 3, 3)},
        {0x02, 0x01, 0, PciePort(0x0013, 6, 2, 4, 4)},
        {0x03, 0x00, 0, PcieFunction(0x1234, 0x0030, 0)},
        {0x04, 0x00, 0, PcieFunction(0x1234, 0x0040, 1)},
        {0x05, 0x00, 0, pciBridge},
        {0x06, 0x01, 0, PciFunction(0x1234, 0x0060)},
    };
}

/* The location of a device record. */
struct Bdf {
    uint8_t bus, dev, fn;
    bool operator==(const Bdf&) const = default;
};

inline Bdf LocationOf(void* device)
{
    Bdf l{0xEE, 0xEE, 0xEE};
    EXPECT_EQ(QORB_SUCCESS, QORB_GetDeviceProperties(device, &l.bus, &l.dev, &l.fn, nullptr, nullptr));
    return l;
}

inline std::ostream& operator<<(std::ostream& os, const Bdf& l)
{
    char text[16];
    snprintf(text, sizeof text, "%02x:%02x.%x", l.bus, l.dev, l.fn);
    return os << text;
}

/* The controls of the wrapping test driver (tests/drivers/topology_probe). */
struct ProbeDriver {
    void (*limit)(uint32_t from, uint32_t to, uint32_t minLength, uint32_t maxBytes) = nullptr;
    void (*patch)(uint32_t offset, uint8_t value, uint32_t minLength) = nullptr;
    void (*reset)() = nullptr;
    void (*counts)(uint64_t* reads, uint64_t* probeReads, uint64_t* otherReads, uint64_t* bus255Reads) = nullptr;

    static std::string Path() { return std::string(QORB_TEST_DRIVER_DIR) + "/topology_probe.so"; }

    /* Binds the controls of the driver the library has loaded. */
    bool Bind()
    {
        void* library = dlopen(Path().c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!library)
            return false;
        limit = reinterpret_cast<decltype(limit)>(dlsym(library, "TopologyProbeLimit"));
        patch = reinterpret_cast<decltype(patch)>(dlsym(library, "TopologyProbePatch"));
        reset = reinterpret_cast<decltype(reset)>(dlsym(library, "TopologyProbeReset"));
        counts = reinterpret_cast<decltype(counts)>(dlsym(library, "TopologyProbeCounts"));
        dlclose(library);   /* drops only the reference taken here */
        return limit && patch && reset && counts;
    }
};

/* A platform served through the wrapping driver, with its controls bound. */
#define TOPO_REQUIRE_PROBE_PLATFORM(platform, probe)                        \
    do {                                                                     \
        TOPO_REQUIRE_PLATFORM(platform);                                     \
        ASSERT_TRUE((probe).Bind()) << "controls of the test driver missing"; \
        (probe).reset();                                                     \
    } while (0)

/* The source line holding text (which must occur once) in a library file. */
inline int SourceLine(const std::string& file, const std::string& text)
{
    std::ifstream in(std::string(QORB_SOURCE_DIR) + "/" + file);
    std::string line;
    int number = 0, found = 0, hits = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.find(text) != std::string::npos) {
            found = number;
            ++hits;
        }
    }
    EXPECT_EQ(1, hits) << "text must occur once in " << file << ": " << text;
    return found;
}

constexpr const char* kCapFile = "Source/qorb_config_cap_access.cpp";

} // namespace topotest

#endif
