/* Device records and the searches: by location, IDs, class code and port type over buses 0 to 254, what
 * a short probe means, the instance's device list, the parent link OpenDevice makes and who owns it. */
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <tuple>

#include "fake_driver.h"
#include "qorb_internal.h"

using namespace qorbtest;

namespace {

using Bdf = std::array<uint8_t, 3>; /* bus, device, function */
const Bdf kNone{0xEE, 0xEE, 0xEE}; /* no record, or no link */
Bdf LocationOf(void* device) {
    Bdf l = kNone;
    QORB_GetDeviceProperties(device, &l[0], &l[1], &l[2], nullptr, nullptr);
    return l;
}

ConfigSpace Plain(uint16_t vendor, uint16_t device, uint8_t base = 0x02, uint8_t sub = 0x00, uint8_t progIf = 0x00) {
    ConfigSpace s;
    s.Header(vendor, device, base, sub, progIf, 0x00);
    return s;
}
/* A PCI Express function of a port type; with a secondary bus, a type 1 port. */
ConfigSpace Express(uint8_t type, uint8_t secondary = 0) {
    ConfigSpace s;
    s.Header(0x8086, 1, secondary ? 6 : 2, secondary ? 4 : 0, 0, !!secondary).CapPointer(0x40).PcieCap(0x40, type, 0);
    return secondary ? s.Buses(0, secondary, secondary) : s;
}

// clang-format off
/* Vendor IDs 0x0000 (05:01.0) and 0x00FF (06:00.0) ahead of the targets; bus 255 is never scanned. */
const std::vector<DumpFunction> kBusEnding = {
    {0x05, 0x01, 0, Plain(0x0000, 0x1111)}, {0x05, 0x02, 0, Plain(0xABCD, 0x5555, 0x0C, 0x03, 0x30)},
    {0x06, 0x00, 0, Plain(0x00FF, 0x2222)}, {0x06, 0x03, 0, Plain(0xABCD, 0x5555)},
    {0x07, 0x04, 2, Plain(0xABCD, 0x5555)}, {0xFF, 0x00, 0, Plain(0xFEED, 0x7777, 0x0B, 0x40, 0x01)},
};

/* 00:00.0 host bridge; 00:01.0 root port [01-04] -- 01:00.0 switch [02-04] with downstream ports 02:00.0 [03]
 * -- 03:00.0 endpoint and 02:01.0 [04] -- 04:00.0 legacy endpoint; 00:02.0 root port [05-06] -- 05:00.0 PCI
 * Express to PCI bridge [06] -- 06:01.0 PCI device. On free buses: a downstream port with no bridge above,
 * port types 9 and 8, a switch whose upstream port's secondary bus is its own, the last functions of buses 47, 254. */
const std::vector<DumpFunction> kSwitch = {
    {0, 0, 0, Plain(0x8086, 0x0001, 0x06)},
    {0, 1, 0, Express(QORB_ROOT_PORT, 1).Buses(0, 1, 4)}, {0, 2, 0, Express(QORB_ROOT_PORT, 5).Buses(0, 5, 6)},
    {1, 0, 0, Express(QORB_SWITCH_UPSTREAM_PORT, 2).Buses(1, 2, 4)},
    {2, 0, 0, Express(QORB_SWITCH_DOWNSTREAM_PORT, 3)}, {2, 1, 0, Express(QORB_SWITCH_DOWNSTREAM_PORT, 4)},
    {3, 0, 0, Express(QORB_PCIE_ENDPOINT)}, {4, 0, 0, Express(QORB_LEGACY_ENDPOINT)},
    {5, 0, 0, Express(QORB_PCIE_TO_PCI_BRIDGE, 6)}, {6, 1, 0, Plain(0x1234, 0x0060, 0x01, 0x80)},
    {0x10, 0, 0, Express(QORB_SWITCH_DOWNSTREAM_PORT, 0x11)}, {0x20, 0, 0, Express(9)}, {0x20, 0, 1, Express(8)},
    {0x30, 0, 0, Express(QORB_SWITCH_UPSTREAM_PORT, 0x30)}, {0x30, 1, 0, Express(QORB_PCIE_ENDPOINT)},
    {0x30, 2, 0, Express(QORB_SWITCH_DOWNSTREAM_PORT, 0x31)},
    {0x2F, 0x1F, 7, Express(0)}, {0xFE, 0x1F, 6, Plain(0x8086, 0x0001)}, {0xFE, 0x1F, 7, Plain(0x8086, 0x0001)},
};
// clang-format on

/* A platform of the functions on the fake driver. */
class Topology : public ::testing::Test {
protected:
    void Open(const std::vector<DumpFunction>& functions) {
        platform = std::make_unique<SimPlatform>(functions, "", fake.path);
        ASSERT_EQ(QORB_SUCCESS, platform->OpenStatus());
        fake.Reset();
    }
    FakeDriver fake;
    std::unique_ptr<SimPlatform> platform;
};

/* Opens the function at a location and answers where its parent link leads (the record closed again). */
Bdf ParentOf(Bdf at) {
    FoundDevice device(at[0], at[1], at[2]);
    EXPECT_EQ(QORB_SUCCESS, OpenDevice(*device, QORB_ACCESS_READ_WRITE));
    void* parent = reinterpret_cast<void*>(0x1);
    if (GetParentDevice(*device, &parent) != QORB_SUCCESS)
        return parent == reinterpret_cast<void*>(0x1) ? kNone : Bdf{}; /* out left unchanged */
    Bdf location = LocationOf(parent);
    CloseDevice(parent);
    return location;
}

} // namespace

TEST_F(Topology, SearchesByLocationIdsClassAndFlags) {
    Open(kBusEnding);
    using Search = std::function<_QORB_STATUS_t(void**)>;
    auto at = [](uint8_t b, uint8_t d, uint8_t f) { return [=](void** o) { return FindDevice(b, d, f, o); }; };
    auto ids = [](uint16_t d, uint16_t v) { return [=](void** o) { return FindDevice(d, v, o); }; };
    auto idsAt = [](int d, int v, Bdf a) { return [=](void** o) { return FindDevice(d, v, a[0], a[1], a[2], o); }; };
    auto cls = [](int p, int s, int b) { return [=](void** o) { return FindDeviceByClassCode(p, s, b, o); }; };
    // clang-format off
    const std::tuple<Search, Bdf, const char*> rows[] = {
        {at(5, 2, 0), {5, 2, 0}, ""}, {at(5, 3, 0), kNone, "absent"}, {at(5, 1, 0), kNone, "Vendor ID 0x0000"},
        {at(7, 4, 2), {7, 4, 2}, ""}, {[](void** o) { return FindDeviceByLocation(7, 4, 2, o); }, {7, 4, 2}, ""},
        {[](void** o) { return FindDeviceById(0x5555, 0xABCD, o); }, {6, 3, 0}, ""},
        {ids(0x5555, 0xABCD), {6, 3, 0}, "05:02.0 follows a Vendor ID 0x0000 on its bus"},
        {ids(0x1111, 0x0000), kNone, "Vendor ID 0x0000 ends the bus first"},
        {ids(0x2222, 0x00FF), {6, 0, 0}, "0x00FF ends a bus only for the search with a location"},
        {ids(0x7777, 0xFEED), kNone, "bus 255 is not scanned"}, {ids(0xABCD, 0x5555), kNone, "IDs swapped"},
        {idsAt(0x5555, 0xABCD, {5, 2, 0}), {5, 2, 0}, "0x0000 does not end a bus here"},
        {idsAt(0x5555, 0xABCD, {6, 3, 0}), kNone, "06:03.0 follows a Vendor ID 0x00FF"},
        {idsAt(0x2222, 0x00FF, {6, 0, 0}), kNone, ""}, {idsAt(0x7777, 0xFEED, {255, 0, 0}), kNone, "bus 255"},
        {idsAt(0x5555, 0xABCD, {7, 4, 1}), kNone, "all five"}, {idsAt(0x5555, 0xABCD, {7, 4, 2}), {7, 4, 2}, ""},
        {cls(0x30, 0x03, 0x0C), {5, 2, 0}, ""}, {cls(0x30, 0x0C, 0x03), kNone, "byte order"},
        {cls(0x01, 0x40, 0x0B), kNone, "bus 255"}, {cls(0x00, 0x00, 0x02), {5, 1, 0}, "0x0000 is no end here"},
    };
    // clang-format on
    for (const auto& [search, expected, why] : rows) {
        void* device = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(expected == kNone ? QORB_DEVICE_NOT_FOUND : QORB_SUCCESS, search(&device)) << why;
        EXPECT_EQ(expected, device ? LocationOf(device) : kNone) << why << ": a search that fails stores null";
        CloseDevice(device);
    }
    /* A location is there when its 64-byte probe arrives whole and the Vendor ID is not 0xFFFF. */
    fake.Limit(0, 1, 64, 63);
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FoundDevice(5, 2, 0).Status()) << "a short probe";
    fake.Reset();
    fake.Set(FK_READ, FK_GARBAGE_FF, 0);
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FoundDevice(5, 2, 0).Status()) << "all ones";

    /* A search that finds nothing probes each location once, bus 255 never, and skips what follows a
     * bus-ending function: 9 locations of bus 5 are probed, 1 of bus 6. */
    const std::tuple<Search, uint32_t> failing[]
        = {{ids(0x9999, 0x9999), 256 - 9}, {idsAt(0x9999, 0x9999, {9, 0, 0}), 256 - 1}, {cls(0xEE, 0xEE, 0xEE), 0}};
    for (const auto& [search, skipped] : failing) {
        fake.Reset();
        void* device = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(QORB_DEVICE_NOT_FOUND, search(&device));
        EXPECT_EQ(nullptr, device);
        EXPECT_EQ(255u * 32 * 8 - skipped, fake.Count(FK_READ));
    }

    /* Through an instance: the flags choose the search, the records found are listed. */
    auto* instance = static_cast<QORB_INSTANCE_t*>(platform->Instance());
    _QORB_DEVICE_FIND_INFO_t criteria{};
    criteria.vendorId = 0xABCD, criteria.deviceId = 0x5555, criteria.busNumber = 0x0105; /* only the low 8 bits */
    criteria.functionNumber = 0, criteria.baseClass = 0x02;
    std::vector<void*> listed;
    // clang-format off
    const std::tuple<uint32_t, uint8_t, Bdf, const char*> byFlags[] = {
        {0x8, 2, kNone, "no search flag"}, {QORB_FIND_DEVICE_ID, 2, {6, 3, 0}, ""},
        {QORB_FIND_VENDOR_ID | QORB_FIND_LOCATION, 2, {5, 2, 0}, ""},
        {QORB_FIND_VENDOR_ID | QORB_FIND_CLASS_CODE, 2, {5, 1, 0}, "class code wins; Vendor ID 0x0000 is no end"},
        {QORB_FIND_LOCATION, 3, kNone, "05:03.0 is absent: the search's own status is not passed on"},
    };
    // clang-format on
    for (const auto& [flags, dev, expected, why] : byFlags) {
        criteria.deviceNumber = dev;
        void* device = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(expected == kNone ? QORB_FIND_DEVICE_FAILED : QORB_SUCCESS,
            flags & QORB_FIND_LOCATION ? FindDeviceByInfo(instance, &device, flags, &criteria)
                                       : FindDevice(instance, &device, flags, &criteria));
        EXPECT_EQ(expected, device ? LocationOf(device) : kNone) << why;
        if (device) listed.push_back(device);
    }
    cl_list_item_t* head = cl_qlist_head(&instance->deviceList);
    EXPECT_EQ(listed, (std::vector<void*>{head, cl_qlist_next(head), cl_qlist_next(cl_qlist_next(head))}));
    EXPECT_EQ(QORB_SUCCESS, CloseDevice(listed[1]));
    EXPECT_EQ(QORB_SUCCESS, CloseDevice(listed[1])) << "a second close is ignored";
    EXPECT_EQ(std::tuple(2u, listed[2]), std::tuple(cl_qlist_count(&instance->deviceList), cl_qlist_next(head)));
    CloseDevice(listed[0]);
    CloseDevice(listed[2]);
    EXPECT_EQ(0u, cl_qlist_count(&instance->deviceList));
    void *next = reinterpret_cast<void*>(0x1), *device = next;
    _QORB_DEV_PORT_TYPE_t type{};
    for (_QORB_STATUS_t status :
        {FindDevice(uint8_t{5}, uint8_t{2}, uint8_t{0}, nullptr),
            FindDevice(uint16_t{0x5555}, uint16_t{0xABCD}, nullptr),
            FindDevice(uint16_t{0x5555}, uint16_t{0xABCD}, 5, 2, 0, nullptr), FindDeviceByClassCode(0, 0, 0, nullptr),
            FindDevice(nullptr, &device, QORB_FIND_LOCATION, &criteria),
            FindDevice(instance, &device, QORB_FIND_LOCATION, nullptr), FindFirstEndpoint(nullptr, nullptr),
            FindNextEndpoint(nullptr, &next), GetDeviceType(nullptr, &type), OpenDevice(nullptr, QORB_ACCESS_READ_ONLY),
            QORB_GetDeviceProperties(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)})
        EXPECT_EQ(QORB_INVALID_PARAMETER, status);
    EXPECT_EQ(std::pair(reinterpret_cast<void*>(0x1), static_cast<void*>(nullptr)), std::pair(next, device));
}

TEST_F(Topology, PortTypesRecordsAndParents) {
    Open(kSwitch);
    using Pair = std::pair<_QORB_STATUS_t (*)(void*, void**), _QORB_STATUS_t (*)(void*, void**)>;
    // clang-format off
    const std::tuple<Pair, std::vector<Bdf>> walks[] = {
        {{FindFirstRootPort, FindNextRootPort}, {{0, 1, 0}, {0, 2, 0}}},
        {{FindFirstEndpoint, FindNextEndpoint}, {{3, 0, 0}, {0x2F, 0x1F, 7}, {0x30, 1, 0}}},
        {{FindFirstLegacyEndpoint, FindNextLegacyEndpoint}, {{4, 0, 0}}},
        {{FindFirstSwitch, FindNextSwitch}, {{1, 0, 0}, {48, 0, 0}}}, {{FindFirstBridge, FindNextBridge}, {{5, 0, 0}}},
        {{FindFirstDownSwitch, FindNextDownSwitch}, {{2, 0, 0}, {2, 1, 0}, {0x10, 0, 0}, {0x30, 2, 0}}},
    };
    // clang-format on
    for (const auto& [pair, expected] : walks) {
        std::vector<Bdf> seen;
        void* device = nullptr;
        _QORB_STATUS_t status = pair.first(nullptr, &device);
        for (void* next = nullptr; status == QORB_SUCCESS && seen.size() < 10; device = next) {
            seen.push_back(LocationOf(device));
            status = pair.second(device, &next);
            CloseDevice(device);
        }
        EXPECT_EQ(std::tuple(QORB_DEVICE_NOT_FOUND, expected), std::tuple(status, seen));
        EXPECT_EQ(nullptr, device) << "a search that finds nothing stores null";
    }
    /* From 00:02.0 on: a probe a location, and 2 reads for each of the 13 PCI Express functions that follow. */
    FoundDevice root(0, 2, 0), port(0, 1, 0), endpoint(3, 0, 0), bridge(0x30, 0, 0);
    FoundDevice lastButOne(0xFE, 0x1F, 6), last(0xFE, 0x1F, 7);
    fake.Reset();
    void* next = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindNextRootPort(*root, &next));
    EXPECT_EQ(255u * 256 - (2 * 8 + 1) + 13 * 2, fake.Count(FK_READ));
    EXPECT_EQ(QORB_DEVICE_NOT_FOUND, FindNextEndpoint(*lastButOne, &next)) << "254:31.7 is scanned";
    EXPECT_EQ(QORB_INVALID_PARAMETER, FindNextEndpoint(*last, &next)) << "nothing past 254:31.7";

    for (void* device : {*port, static_cast<void*>(nullptr)}) {
        uint8_t bus = 0xEE, dev = 0xEE, fn = 0xEE, header = 0xEE;
        uint16_t vendor = 0xEEEE, id = 0xEEEE;
        int multi = -1;
        for (_QORB_STATUS_t got : {GetBusNumber(device, &bus), GetDeviceNumber(device, &dev),
                 GetFunctionNumber(device, &fn), GetVendorID(device, &vendor), GetDeviceID(device, &id),
                 GetHeaderType(device, &header), IsMultiFunction(device, &multi)})
            EXPECT_EQ(device ? QORB_SUCCESS : QORB_INVALID_DEVICE_HANDLE, got);
        EXPECT_EQ(device ? std::tuple(0, 1, 0, 0x8086, 0x0001, 1, 0) : std::tuple(0, 0, 0, 0, 0, 0xEE, -1),
            std::tuple(bus, dev, fn, vendor, id, header, multi))
            << "a null handle zeroes them";
    }
    int multi = 0;
    EXPECT_EQ(QORB_SUCCESS, IsMultiFunction(*last, &multi));
    EXPECT_EQ(1, multi) << "a function other than 0";
    void* parent = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(QORB_NOT_IMPLEMENTED, GetParentPort(*endpoint, &parent));
    EXPECT_EQ(reinterpret_cast<void*>(0x1234), parent);

    // clang-format off
    const std::tuple<Bdf, int, Bdf, const char*> rows[] = {
        {{3, 0, 0}, QORB_PCIE_ENDPOINT, {2, 0, 0}, "below a switch: its downstream port"},
        {{4, 0, 0}, QORB_LEGACY_ENDPOINT, {2, 1, 0}, ""}, {{1, 0, 0}, QORB_SWITCH_UPSTREAM_PORT, {0, 1, 0}, ""},
        {{2, 1, 0}, QORB_SWITCH_DOWNSTREAM_PORT, {0, 1, 0}, "the port above its switch"},
        {{5, 0, 0}, QORB_PCIE_TO_PCI_BRIDGE, {0, 2, 0}, ""}, {{0, 1, 0}, QORB_ROOT_PORT, kNone, "a root port"},
        {{6, 1, 0}, 0x55, kNone, "no PCI Express capability: the type out keeps what it held"},
        {{0, 0, 0}, 0x55, kNone, "no capabilities"}, {{0x10, 0, 0}, QORB_SWITCH_DOWNSTREAM_PORT, kNone, "none above"},
        {{0x20, 0, 0}, 9, kNone, "port type 9"}, {{0x20, 0, 1}, 8, kNone, "port type 8"},
        {{0x30, 1, 0}, QORB_PCIE_ENDPOINT, {0x30, 0, 0}, "a bridge whose secondary bus is its own"},
        {{0x30, 0, 0}, QORB_SWITCH_UPSTREAM_PORT, kNone, "... is not above itself"},
        {{0x30, 2, 0}, QORB_SWITCH_DOWNSTREAM_PORT, kNone, "its switch has nothing above"},
    };
    // clang-format on
    for (const auto& [at, type, above, why] : rows) {
        auto portType = static_cast<_QORB_DEV_PORT_TYPE_t>(0x55);
        EXPECT_EQ(type == 0x55 ? QORB_PCIE_CAP_OUT_OF_RANGE : QORB_SUCCESS,
            GetDeviceType(*FoundDevice(at[0], at[1], at[2]), &portType));
        EXPECT_EQ(std::tuple(type, above), std::tuple(static_cast<int>(portType), ParentOf(at))) << why;
    }

    void* above = QORB_GetUpStreamPort(*endpoint);
    EXPECT_EQ((Bdf{2, 0, 0}), LocationOf(above)) << "00:01.0 and 01:00.0 span bus 3 too, but are not above it";
    CloseDevice(above);
    for (void* device : {*port, *bridge, static_cast<void*>(nullptr)})
        EXPECT_EQ(nullptr, QORB_GetUpStreamPort(device)) << "no bridge has secondary bus 0; a bridge is not its own";
}

/* Every record belongs to whoever got it: the child's close leaves its parent record, a new OpenDevice
 * leaves the earlier parent valid, and a parent closed first leaves the child without a link. */
TEST_F(Topology, ParentRecordsBelongToTheCaller) {
    Open(kSwitch);
    void *endpoint = nullptr, *first = nullptr, *second = nullptr, *parent = reinterpret_cast<void*>(0x1);
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{3}, uint8_t{0}, uint8_t{0}, &endpoint));
    ASSERT_EQ(QORB_SUCCESS, OpenDevice(endpoint, QORB_ACCESS_READ_ONLY));
    ASSERT_EQ(QORB_SUCCESS, GetParentDevice(endpoint, &first));
    ASSERT_EQ(QORB_SUCCESS, OpenDevice(endpoint, QORB_ACCESS_READ_ONLY));
    ASSERT_EQ(QORB_SUCCESS, GetParentDevice(endpoint, &second));
    EXPECT_TRUE(first != second && LocationOf(first) == LocationOf(second)) << "both parent records stay valid";
    EXPECT_EQ(QORB_SUCCESS, CloseDevice(first));
    ASSERT_EQ(QORB_SUCCESS, GetParentDevice(endpoint, &parent)) << "closing the replaced one leaves the link";
    EXPECT_EQ(second, parent);
    EXPECT_EQ(QORB_SUCCESS, CloseDevice(endpoint));
    EXPECT_EQ((Bdf{2, 0, 0}), LocationOf(second)) << "the child's close leaves its parent record";
    EXPECT_EQ(QORB_SUCCESS, CloseDevice(second));

    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{3}, uint8_t{0}, uint8_t{0}, &endpoint));
    ASSERT_EQ(QORB_SUCCESS, OpenDevice(endpoint, QORB_ACCESS_READ_WRITE));
    ASSERT_EQ(QORB_SUCCESS, GetParentDevice(endpoint, &parent));
    EXPECT_EQ(QORB_SUCCESS, CloseDevice(parent));
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetParentDevice(endpoint, &parent)) << "no port once the parent is closed";
    EXPECT_EQ(QORB_INVALID_PARAMETER, QORB_GetPortToResetOrRetrain(endpoint, &parent));
    EXPECT_EQ(QORB_STATUS_FAILED, QORB_RetrainDUTLink(endpoint));
    for (void* record : {endpoint, endpoint, static_cast<void*>(&parent), static_cast<void*>(nullptr)})
        EXPECT_EQ(QORB_SUCCESS, CloseDevice(record)) << "closed already, or never made: ignored";
}
