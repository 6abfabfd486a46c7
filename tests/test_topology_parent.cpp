/* Opening devices: the parent link through switches and bridges, the port
 * type, the bridge directly above a bus, and who releases parent records. */
#include <gtest/gtest.h>

#include "topology_test_platforms.h"

using namespace topotest;
using qorbtest::SimPlatform;

namespace {

/* Opens the function at a location and answers its parent's location, or
 * nothing when the parent link stays null. */
struct Opened {
    _QORB_STATUS_t status;
    bool hasParent;
    Bdf parent;
};

Opened OpenAt(Bdf at)
{
    void* device = nullptr;
    EXPECT_EQ(QORB_SUCCESS, FindDevice(at.bus, at.dev, at.fn, &device)) << at;
    if (!device)
        return {QORB_DEVICE_NOT_FOUND, false, {}};
    Opened result{OpenDevice(device, QORB_ACCESS_READ_WRITE), false, {}};
    void* parent = reinterpret_cast<void*>(0x1);
    _QORB_STATUS_t status = GetParentDevice(device, &parent);
    if (status == QORB_SUCCESS) {
        result.hasParent = true;
        result.parent = LocationOf(parent);
    } else {
        EXPECT_EQ(QORB_INVALID_PARAMETER, status);
        EXPECT_EQ(reinterpret_cast<void*>(0x1), parent) << "out is left unchanged";
    }
    CloseDevice(device);
    return result;
}

} // namespace

TEST(TopologyParent, LinksThePortAboveEachLink)
{
    SimPlatform platform(SwitchTopology());
    TOPO_REQUIRE_PLATFORM(platform);

    struct Case {
        Bdf device;
        bool hasParent;
        Bdf parent;
        const char* why;
    };
    const Case cases[] = {
        {{3, 0, 0}, true, {2, 0, 0}, "endpoint below a switch: its downstream port"},
        {{4, 0, 0}, true, {2, 1, 0}, "legacy endpoint: the downstream port above it"},
        {{2, 0, 0}, true, {0, 1, 0}, "downstream port: the port above the switch"},
        {{2, 1, 0}, true, {0, 1, 0}, "downstream port: the port above the switch"},
        {{1, 0, 0}, true, {0, 1, 0}, "switch upstream port: the root port"},
        {{5, 0, 0}, true, {0, 2, 0}, "PCI Express to PCI bridge: the root port"},
        {{0, 1, 0}, false, {}, "root port: none"},
        {{6, 1, 0}, false, {}, "conventional PCI device: no PCI Express capability"},
        {{0, 0, 0}, false, {}, "host bridge: no capabilities"},
    };
    for (const Case& c : cases) {
        Opened opened = OpenAt(c.device);
        EXPECT_EQ(QORB_SUCCESS, opened.status) << c.device;
        EXPECT_EQ(c.hasParent, opened.hasParent) << c.device << ": " << c.why;
        if (c.hasParent && opened.hasParent) {
            EXPECT_EQ(c.parent, opened.parent) << c.device << ": " << c.why;
        }
    }
}

TEST(TopologyParent, DownstreamPortWithoutSwitchAboveHasNoParent)
{
    /* A downstream port whose bus has no bridge above it, and one whose
     * switch upstream port has none. */
    SimPlatform platform({
        {0x02, 0x00, 0, PciePort(0x0012, 6, 2, 3, 3)},
        {0x05, 0x00, 0, PciePort(0x0011, 5, 5, 6, 6)},
        {0x06, 0x00, 0, PciePort(0x0012, 6, 6, 7, 7)},
    });
    TOPO_REQUIRE_PLATFORM(platform);
    EXPECT_FALSE(OpenAt({2, 0, 0}).hasParent);
    EXPECT_FALSE(OpenAt({6, 0, 0}).hasParent) << "the switch upstream port 05:00.0 has nothing above it";
}

TEST(TopologyParent, DeviceTypeReportsPortTypeOrFails)
{
    SimPlatform platform(SwitchTopology());
    TOPO_REQUIRE_PLATFORM(platform);
    const std::pair<Bdf, int> expected[] = {
        {{0, 1, 0}, QORB_ROOT_PORT},          {{1, 0, 0}, QORB_SWITCH_UPSTREAM_PORT},
        {{2, 1, 0}, QORB_SWITCH_DOWNSTREAM_PORT}, {{3, 0, 0}, QORB_PCIE_ENDPOINT},
        {{4, 0, 0}, QORB_LEGACY_ENDPOINT},    {{5, 0, 0}, QORB_PCIE_TO_PCI_BRIDGE},
    };
    for (const auto& [at, type] : expected) {
        void* device = nullptr;
        ASSERT_EQ(QORB_SUCCESS, FindDevice(at.bus, at.dev, at.fn, &device));
        auto portType = static_cast<_QORB_DEV_PORT_TYPE_t>(0x55);
        EXPECT_EQ(QORB_SUCCESS, GetDeviceType(device, &portType)) << at;
        EXPECT_EQ(type, static_cast<int>(portType)) << at;
        CloseDevice(device);
    }
    void* pci = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{6}, uint8_t{1}, uint8_t{0}, &pci));
    auto portType = static_cast<_QORB_DEV_PORT_TYPE_t>(0x55);
    EXPECT_EQ(QORB_PCIE_CAP_OUT_OF_RANGE, GetDeviceType(pci, &portType));
    EXPECT_EQ(0x55, static_cast<int>(portType)) << "out keeps what it held";
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetDeviceType(nullptr, &portType));
    EXPECT_EQ(QORB_INVALID_PARAMETER, OpenDevice(nullptr, QORB_ACCESS_READ_ONLY));
    CloseDevice(pci);
}

TEST(TopologyParent, OtherPortTypesPassThroughAndHaveNoParent)
{
    SimPlatform platform({
        {0x00, 0x01, 0, PciePort(0x0010, 4, 0, 1, 1)},
        {0x01, 0x00, 0, PcieFunction(0x1234, 0x0001, 9)},
        {0x01, 0x00, 1, PcieFunction(0x1234, 0x0002, 8)},
    });
    TOPO_REQUIRE_PLATFORM(platform);
    void* device = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{1}, uint8_t{0}, uint8_t{0}, &device));
    _QORB_DEV_PORT_TYPE_t portType{};
    EXPECT_EQ(QORB_SUCCESS, GetDeviceType(device, &portType));
    EXPECT_EQ(9, static_cast<int>(portType));
    CloseDevice(device);
    EXPECT_FALSE(OpenAt({1, 0, 0}).hasParent) << "type 9";
    EXPECT_FALSE(OpenAt({1, 0, 1}).hasParent) << "type 8";
}

TEST(TopologyParent, UpstreamPortIsOnlyTheBridgeDirectlyAbove)
{
    SimPlatform platform(SwitchTopology());
    TOPO_REQUIRE_PLATFORM(platform);
    void* endpoint = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{3}, uint8_t{0}, uint8_t{0}, &endpoint));
    void* above = QORB_GetUpStreamPort(endpoint);
    ASSERT_NE(nullptr, above);
    EXPECT_EQ((Bdf{2, 0, 0}), LocationOf(above)) << "00:01.0 and 01:00.0 also span bus 3 but are not above it";
    void* second = QORB_GetUpStreamPort(endpoint);
    EXPECT_NE(above, second) << "each call answers a new record";
    CloseDevice(second);
    CloseDevice(above);
    CloseDevice(endpoint);

    void* root = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{0}, uint8_t{1}, uint8_t{0}, &root));
    EXPECT_EQ(nullptr, QORB_GetUpStreamPort(root)) << "no bridge has secondary bus 0";
    CloseDevice(root);
}

TEST(TopologyParent, BridgeNeverFindsItself)
{
    /* A bridge whose secondary bus is its own bus (a broken dump) is skipped
     * when the bridge above its own location is looked for. */
    SimPlatform platform({
        {0x03, 0x00, 0, PciePort(0x0012, 5, 3, 3, 3)},
        {0x03, 0x01, 0, PcieFunction(0x1234, 0x0001, 0)},
    });
    TOPO_REQUIRE_PLATFORM(platform);
    void* bridge = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{3}, uint8_t{0}, uint8_t{0}, &bridge));
    EXPECT_EQ(nullptr, QORB_GetUpStreamPort(bridge));
    CloseDevice(bridge);
    EXPECT_EQ((Bdf{3, 0, 0}), OpenAt({3, 1, 0}).parent);
}

TEST(TopologyParent, RepeatedOpenGivesFreshParentAndParentBelongsToChild)
{
    SimPlatform platform(SwitchTopology());
    TOPO_REQUIRE_PLATFORM(platform);
    void* endpoint = nullptr;
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{3}, uint8_t{0}, uint8_t{0}, &endpoint));
    void* parent = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetParentDevice(endpoint, &parent)) << "not opened yet";
    EXPECT_EQ(reinterpret_cast<void*>(0x1), parent);

    ASSERT_EQ(QORB_SUCCESS, OpenDevice(endpoint, QORB_ACCESS_READ_ONLY));
    void* first = nullptr;
    ASSERT_EQ(QORB_SUCCESS, GetParentDevice(endpoint, &first));
    void* again = nullptr;
    ASSERT_EQ(QORB_SUCCESS, GetParentDevice(endpoint, &again));
    EXPECT_EQ(first, again) << "the same linked record on every call";

    ASSERT_EQ(QORB_SUCCESS, OpenDevice(endpoint, QORB_ACCESS_READ_ONLY));
    void* second = nullptr;
    ASSERT_EQ(QORB_SUCCESS, GetParentDevice(endpoint, &second));
    EXPECT_NE(first, second) << "resolved anew; the replaced record was released";
    EXPECT_EQ((Bdf{2, 0, 0}), LocationOf(second));

    /* A caller who closes the linked record anyway only clears the link. */
    EXPECT_EQ(QORB_SUCCESS, CloseDevice(second));
    EXPECT_EQ(QORB_INVALID_PARAMETER, GetParentDevice(endpoint, &parent));
    EXPECT_EQ(QORB_SUCCESS, CloseDevice(endpoint));

    /* The usual case: the child releases its parent record. */
    ASSERT_EQ(QORB_SUCCESS, FindDevice(uint8_t{2}, uint8_t{0}, uint8_t{0}, &endpoint));
    ASSERT_EQ(QORB_SUCCESS, OpenDevice(endpoint, QORB_ACCESS_READ_ONLY));
    EXPECT_EQ(QORB_SUCCESS, CloseDevice(endpoint));
}

TEST(TopologyParent, BuiltInDutBelowTheTestCard)
{
    SimPlatform platform;
    TOPO_REQUIRE_PLATFORM(platform);
    EXPECT_EQ((Bdf{8, 0, 0}), OpenAt({9, 0, 0}).parent) << "the DUT's link is the card's downstream function";
    EXPECT_EQ((Bdf{0, 3, 0}), OpenAt({8, 0, 0}).parent) << "the card's downstream function: above the card";
    EXPECT_EQ((Bdf{2, 0, 0}), OpenAt({3, 0, 0}).parent);
    EXPECT_EQ((Bdf{0, 1, 0}), OpenAt({2, 2, 0}).parent) << "an empty downstream port still has its switch";
    EXPECT_FALSE(OpenAt({0, 0x1F, 0}).hasParent) << "root complex integrated endpoint";
}
