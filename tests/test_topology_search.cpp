/* Device searches: by location, by IDs (with and without location), by class
 * code, through an instance, by port type; scan order, bus-ending Vendor IDs,
 * bus 255, and the one-read-per-location cost of a search that finds nothing. */
#include <gtest/gtest.h>

#include <tuple>

#include "qorb_internal.h"
#include "topology_test_platforms.h"
#include "zebfake_fixture.h"

using namespace topotest;
using qorbtest::SimPlatform;

namespace {

ConfigSpace Plain(uint16_t vendor, uint16_t device, uint8_t base = 0x02, uint8_t sub = 0x00, uint8_t progIf = 0x00)
{
    ConfigSpace s;
    s.Header(vendor, device, base, sub, progIf, 0x00);
    return s;
}

/* Bus 5: a function with Vendor ID 0x0000 at 05:01.0, then the target at
 * 05:02.0. Bus 6: a function with Vendor ID 0x00FF, then the target again.
 * Bus 7: the target after nothing. Bus 255: another function. */
std::vector<DumpFunction> BusEndingPlatform()
{
    return {
        {0x05, 0x01, 0, Plain(0x0000, 0x1111)},
        {0x05, 0x02, 0, Plain(0xABCD, 0x5555, 0x0C, 0x03, 0x30)},
        {0x06, 0x00, 0, Plain(0x00FF, 0x2222)},
        {0x06, 0x03, 0, Plain(0xABCD, 0x5555)},
        {0x07, 0x04, 2, Plain(0xABCD, 0x5555)},
        {0xFF, 0x00, 0, Plain(0xFEED, 0x7777, 0x0B, 0x40, 0x01)},
    };
}

} // namespace

TEST(TopologySearch, LocationFindsPresentFunctionsOnly)
{
    SimPlatform platform(BusEndingPlatform());
    TOPO_REQUIRE_PLATFORM(platform);

    void* device = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindDevice(uint8_t{0x05}, uint8_t{0x03}, uint8_t{0}, &device));
    EXPECT_EQ(nullptr, device);
    device = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindDevice(uint8_t{0x05}, uint8_t{0x01}, uint8_t{0}, &device))
        << "Vendor ID 0x0000 is not a device";
    EXPECT_EQ(nullptr, device);

    ASSERT_EQ(QORB_SUCCESS, FindDeviceByLocation(0x05, 0x02, 0, &device));
    uint16_t vendor = 0, id = 0;
    EXPECT_EQ(QORB_SUCCESS, QORB_GetDeviceProperties(device, nullptr, nullptr, nullptr, &vendor, &id));
    EXPECT_EQ(std::pair(0xABCD, 0x5555), std::pair(int{vendor}, int{id}));
    EXPECT_EQ((Bdf{5, 2, 0}), LocationOf(device));
    CloseDevice(device);
}

TEST(TopologySearch, IdSearchTakesLowestLocationAndStopsBusAtVendorZero)
{
    SimPlatform platform(BusEndingPlatform());
    TOPO_REQUIRE_PLATFORM(platform);

    void* device = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDeviceById(0x5555, 0xABCD, &device));
    EXPECT_EQ((Bdf{6, 3, 0}), LocationOf(device))
        << "05:02.0 follows a Vendor ID 0x0000 function on its bus and is never reached";
    CloseDevice(device);

    device = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindDevice(uint16_t{0x1111}, uint16_t{0x0000}, &device))
        << "Vendor ID 0x0000 ends the bus before it can match";
    EXPECT_EQ(nullptr, device);
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindDevice(uint16_t{0x7777}, uint16_t{0xFEED}, &device)) << "bus 255";
    EXPECT_EQ(nullptr, device);
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint16_t{0x2222}, uint16_t{0x00FF}, &device))
        << "0x00FF ends a bus only for the search with a location";
    CloseDevice(device);
}

TEST(TopologySearch, IdAndLocationSearchEndsBusAtVendor00FF)
{
    SimPlatform platform(BusEndingPlatform());
    TOPO_REQUIRE_PLATFORM(platform);

    void* device = reinterpret_cast<void*>(0x1);
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint16_t{0x5555}, uint16_t{0xABCD}, 5, 2, 0, &device))
        << "Vendor ID 0x0000 does not end a bus for this search";
    EXPECT_EQ((Bdf{5, 2, 0}), LocationOf(device));
    CloseDevice(device);

    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindDevice(uint16_t{0x5555}, uint16_t{0xABCD}, 6, 3, 0, &device))
        << "06:03.0 follows a Vendor ID 0x00FF function";
    EXPECT_EQ(nullptr, device);
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindDevice(uint16_t{0x2222}, uint16_t{0x00FF}, 6, 0, 0, &device));
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindDevice(uint16_t{0x7777}, uint16_t{0xFEED}, 255, 0, 0, &device));
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindDevice(uint16_t{0x5555}, uint16_t{0xABCD}, 7, 4, 1, &device))
        << "all five values must match";
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint16_t{0x5555}, uint16_t{0xABCD}, 7, 4, 2, &device));
    CloseDevice(device);
}

TEST(TopologySearch, ClassCodeSearchIgnoresBusEndingValuesAndBus255)
{
    SimPlatform platform(BusEndingPlatform());
    TOPO_REQUIRE_PLATFORM(platform);

    void* device = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDeviceByClassCode(0x30, 0x03, 0x0C, &device));
    EXPECT_EQ((Bdf{5, 2, 0}), LocationOf(device));
    CloseDevice(device);
    device = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindDeviceByClassCode(0x01, 0x40, 0x0B, &device));
    EXPECT_EQ(nullptr, device);
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindDeviceByClassCode(0x30, 0x0C, 0x03, &device)) << "byte order matters";
}

TEST(TopologySearch, InstanceSearchChoosesByFlagsAndListsRecords)
{
    SimPlatform platform(BusEndingPlatform());
    TOPO_REQUIRE_PLATFORM(platform);
    auto* instance = static_cast<QORB_INSTANCE_t*>(platform.Instance());

    _QORB_DEVICE_FIND_INFO_t criteria{};
    criteria.vendorId = 0xABCD;
    criteria.deviceId = 0x5555;
    criteria.busNumber = 0x0105;   /* only the low 8 bits count */
    criteria.deviceNumber = 2;
    criteria.functionNumber = 0;
    criteria.baseClass = 0x02;

    void* device = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_FIND_DEVICE_FAILED, FindDevice(instance, &device, 0x8, &criteria));
    EXPECT_EQ(nullptr, device);

    void* byId = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(instance, &byId, QORB_FIND_DEVICE_ID, &criteria));
    EXPECT_EQ((Bdf{6, 3, 0}), LocationOf(byId));
    void* byIdAndLocation = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDeviceByInfo(instance, &byIdAndLocation, QORB_FIND_VENDOR_ID | QORB_FIND_LOCATION,
                                             &criteria));
    EXPECT_EQ((Bdf{5, 2, 0}), LocationOf(byIdAndLocation));
    void* byClass = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(instance, &byClass, QORB_FIND_VENDOR_ID | QORB_FIND_CLASS_CODE, &criteria))
        << "class code wins over the other flags";
    EXPECT_EQ((Bdf{5, 1, 0}), LocationOf(byClass))
        << "first function of class 02/00/00: a Vendor ID of 0x0000 does not stop the class-code search";

    criteria.deviceNumber = 3;
    EXPECT_EQ(QORB_FIND_DEVICE_FAILED, FindDevice(instance, &device, QORB_FIND_LOCATION, &criteria))
        << "05:03.0 is absent; the search's own status is not passed on";
    EXPECT_EQ(nullptr, device);

    ASSERT_EQ(3u, cl_qlist_count(&instance->deviceList));
    cl_list_item_t* item = cl_qlist_head(&instance->deviceList);
    EXPECT_EQ(byId, static_cast<void*>(item));
    item = cl_qlist_next(item);
    EXPECT_EQ(byIdAndLocation, static_cast<void*>(item));
    EXPECT_EQ(byClass, static_cast<void*>(cl_qlist_next(item))) << "appended at the tail";

    CloseDevice(byIdAndLocation);
    ASSERT_EQ(2u, cl_qlist_count(&instance->deviceList));
    EXPECT_EQ(byClass, static_cast<void*>(cl_qlist_next(cl_qlist_head(&instance->deviceList))));
    CloseDevice(byId);
    CloseDevice(byClass);
    EXPECT_EQ(0u, cl_qlist_count(&instance->deviceList));
}

TEST(TopologySearch, NullArgumentsAreRefused)
{
    SimPlatform platform(BusEndingPlatform());
    TOPO_REQUIRE_PLATFORM(platform);
    _QORB_DEVICE_FIND_INFO_t criteria{};
    void* device = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_INVALID_PARAMETER, FindDevice(nullptr, &device, QORB_FIND_LOCATION, &criteria));
    EXPECT_EQ(nullptr, device);
    EXPECT_EQ(QORB_INVALID_PARAMETER, FindDevice(platform.Instance(), &device, QORB_FIND_LOCATION, nullptr));
    EXPECT_EQ(QORB_INVALID_PARAMETER, FindDevice(uint8_t{5}, uint8_t{2}, uint8_t{0}, nullptr));
    EXPECT_EQ(QORB_INVALID_PARAMETER, FindDevice(uint16_t{0x5555}, uint16_t{0xABCD}, nullptr));
    EXPECT_EQ(QORB_INVALID_PARAMETER, FindDeviceByClassCode(0, 0, 0, nullptr));
    EXPECT_EQ(QORB_INVALID_PARAMETER, FindFirstEndpoint(nullptr, nullptr));
    EXPECT_EQ(QORB_INVALID_PARAMETER, FindNextEndpoint(nullptr, &device));
    EXPECT_EQ(QORB_INVALID_PARAMETER, QORB_GetDeviceProperties(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(nullptr, QORB_GetUpStreamPort(nullptr));
}

TEST(TopologySearch, DevicePropertiesAndParentPort)
{
    SimPlatform platform(BusEndingPlatform());
    TOPO_REQUIRE_PLATFORM(platform);
    void* device = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{7}, uint8_t{4}, uint8_t{2}, &device));
    EXPECT_EQ(QORB_SUCCESS, QORB_GetDeviceProperties(device, nullptr, nullptr, nullptr, nullptr, nullptr));
    uint8_t bus = 0, dev = 0, fn = 0;
    uint16_t vendor = 0, id = 0;
    EXPECT_EQ(QORB_SUCCESS, QORB_GetDeviceProperties(device, &bus, &dev, &fn, &vendor, &id));
    EXPECT_EQ(std::tuple(7, 4, 2, 0xABCD, 0x5555), std::tuple(bus, dev, fn, vendor, id));
    void* parent = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(QORB_NOT_IMPLEMENTED, GetParentPort(device, &parent));
    EXPECT_EQ(reinterpret_cast<void*>(0x1234), parent);
    CloseDevice(device);
}

TEST(TopologySearch, PortTypeWalksVisitEveryMatchInScanOrder)
{
    SimPlatform platform(SwitchTopology());
    TOPO_REQUIRE_PLATFORM(platform);

    struct Pair {
        _QORB_STATUS_t (*first)(void*, void**);
        _QORB_STATUS_t (*next)(void*, void**);
        std::vector<Bdf> expected;
    };
    const Pair pairs[] = {
        {FindFirstRootPort, FindNextRootPort, {{0, 1, 0}, {0, 2, 0}}},
        {FindFirstEndpoint, FindNextEndpoint, {{3, 0, 0}}},
        {FindFirstLegacyEndpoint, FindNextLegacyEndpoint, {{4, 0, 0}}},
        {FindFirstBridge, FindNextBridge, {{5, 0, 0}}},
        {FindFirstSwitch, FindNextSwitch, {{1, 0, 0}}},
        {FindFirstDownSwitch, FindNextDownSwitch, {{2, 0, 0}, {2, 1, 0}}},
    };
    for (const Pair& pair : pairs) {
        std::vector<Bdf> seen;
        void* device = nullptr;
        _QORB_STATUS_t status = pair.first(nullptr, &device);
        while (status == QORB_SUCCESS) {
            seen.push_back(LocationOf(device));
            void* next = reinterpret_cast<void*>(0x1);
            status = pair.next(device, &next);
            CloseDevice(device);
            device = next;
            ASSERT_LT(seen.size(), 10u);
        }
        EXPECT_EQ(QORB_DEVICE_NOT_FOUND, status);
        EXPECT_EQ(nullptr, device) << "a search that finds nothing sets out to null";
        EXPECT_EQ(pair.expected, seen);
    }
}

TEST(TopologySearch, NextStepsAcrossDeviceAndBusAndStopsAtBus254)
{
    SimPlatform platform({
        {0x00, 0x1F, 7, PcieFunction(0x1234, 0x0001, 0)},
        {0x01, 0x00, 0, PcieFunction(0x1234, 0x0002, 0)},
        {0xFE, 0x1F, 7, PcieFunction(0x1234, 0x0003, 0)},
    });
    TOPO_REQUIRE_PLATFORM(platform);

    void* last = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{0}, uint8_t{0x1F}, uint8_t{7}, &last));
    void* next = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindNextEndpoint(last, &next));
    EXPECT_EQ((Bdf{1, 0, 0}), LocationOf(next));
    CloseDevice(next);
    CloseDevice(last);

    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{0xFE}, uint8_t{0x1F}, uint8_t{7}, &last));
    next = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(QORB_INVALID_PARAMETER, FindNextEndpoint(last, &next));
    EXPECT_EQ(reinterpret_cast<void*>(0x1234), next) << "out is left unchanged at the end of the bus range";
    CloseDevice(last);
}

TEST(TopologySearch, FailedSearchReadsEachLocationOnceAndNeverBus255)
{
    SimPlatform platform(BusEndingPlatform(), "", ProbeDriver::Path());
    ProbeDriver probe;
    TOPO_REQUIRE_PROBE_PLATFORM(platform, probe);
    constexpr uint64_t kLocations = 255ull * 32 * 8;

    struct Search {
        const char* name;
        _QORB_STATUS_t (*run)(void**);
        uint64_t skipped;   /* locations after a bus-ending function */
    };
    const Search searches[] = {
        /* 05:01.0 (Vendor ID 0x0000) ends bus 5 after 9 locations. */
        {"ids", [](void** out) { return FindDevice(uint16_t{0x9999}, uint16_t{0x9999}, out); }, 256 - 9},
        /* 06:00.0 (Vendor ID 0x00FF) ends bus 6 after 1 location. */
        {"ids and location",
         [](void** out) { return FindDevice(uint16_t{0x9999}, uint16_t{0x9999}, 9, 0, 0, out); }, 256 - 1},
        {"class code", [](void** out) { return FindDeviceByClassCode(0xEE, 0xEE, 0xEE, out); }, 0},
    };
    for (const Search& search : searches) {
        probe.reset();
        void* device = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(QORB_DEVICE_NOT_FOUND, search.run(&device)) << search.name;
        EXPECT_EQ(nullptr, device);
        uint64_t reads = 0, probes = 0, others = 0, bus255 = 0;
        probe.counts(&reads, &probes, &others, &bus255);
        EXPECT_EQ(kLocations - search.skipped, reads) << search.name;
        EXPECT_EQ(reads, probes) << search.name << ": only 64-byte probes at offset 0";
        EXPECT_EQ(0u, others) << search.name;
        EXPECT_EQ(0u, bus255) << search.name;
    }
}

TEST(TopologySearch, PortTypeSearchReadsCapabilitiesOfPresentFunctionsOnly)
{
    SimPlatform platform(SwitchTopology(), "", ProbeDriver::Path());
    ProbeDriver probe;
    TOPO_REQUIRE_PROBE_PLATFORM(platform, probe);
    void* root = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{0}, uint8_t{2}, uint8_t{0}, &root));
    probe.reset();
    void* device = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindNextRootPort(root, &device));
    EXPECT_EQ(nullptr, device);
    CloseDevice(root);
    uint64_t reads = 0, probes = 0, others = 0, bus255 = 0;
    probe.counts(&reads, &probes, &others, &bus255);
    constexpr uint64_t kLocationsAfter0020 = 255ull * 256 - (2 * 8 + 1);
    EXPECT_EQ(kLocationsAfter0020, probes);
    /* Six PCI Express functions follow 00:02.0: a header read and a structure
     * read each; 06:01.0 has no capability list and costs nothing more. */
    EXPECT_EQ(6u * 2, others);
    EXPECT_EQ(0u, bus255);
}

using TopologyTestCard = ZebFakeTest;

TEST_F(TopologyTestCard, CardsFoundThroughAnInstanceAreNotListed)
{
    AddFunction(3, 0, 0, 1);
    AddFunction(4, 0, 0, 0);
    auto* instance = static_cast<QORB_INSTANCE_t*>(Instance());
    _QORB_DEVICE_FIND_INFO_t card{};
    card.busNumber = 3;
    void* found = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(instance, &found, QORB_FIND_LOCATION, &card));
    EXPECT_EQ(1, static_cast<QORB_DEVICE_t*>(found)->isZeb);
    EXPECT_EQ(0u, cl_qlist_count(&instance->deviceList));
    _QORB_DEVICE_FIND_INFO_t other{};
    other.busNumber = 4;
    void* listed = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(instance, &listed, QORB_FIND_LOCATION, &other));
    EXPECT_EQ(0, static_cast<QORB_DEVICE_t*>(listed)->isZeb);
    EXPECT_EQ(1u, cl_qlist_count(&instance->deviceList));
    EXPECT_EQ(QORB_SUCCESS, CloseDevice(found));
    EXPECT_EQ(1u, cl_qlist_count(&instance->deviceList)) << "closing the card leaves the list alone";
    EXPECT_EQ(QORB_SUCCESS, CloseDevice(listed));
    EXPECT_EQ(0u, cl_qlist_count(&instance->deviceList));
}
