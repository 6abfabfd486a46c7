/* The parent link OpenDevice makes agrees with the tree lspci draws, on real
 * dumps and on the simulated driver's built-in platform. lspci hangs a
 * function below the bridge whose secondary bus it sits on; the library
 * links endpoints, legacy endpoints, switch upstream ports and PCI Express to
 * PCI bridges to that bridge, downstream ports to the bridge above it, and
 * nothing else (root ports, other port types, functions without a usable
 * PCI Express capability). CardBus bridges (header type 2) draw a bus in
 * lspci's tree but are not type 1 bridges, so the library never links to
 * them. */
#include <gtest/gtest.h>

#include "lspci_oracle.h"
#include "topology_test_platforms.h"

using qorbtest::SimPlatform;

namespace {

std::optional<lspci::Bdf> Parent(const std::map<lspci::Bdf, std::optional<lspci::Bdf>>& tree, lspci::Bdf at)
{
    auto it = tree.find(at);
    return it == tree.end() ? std::nullopt : it->second;
}

bool IsType1(lspci::Bdf at)
{
    void* device = nullptr;
    if (FindDevice(at.bus, at.dev, at.fn, &device) != QORB_SUCCESS)
        return false;
    uint8_t headerType = 0;
    GetHeaderType(device, &headerType);
    CloseDevice(device);
    return (headerType & 0x7F) == 1;
}

int CompareParents(const std::string& dump)
{
    auto tree = lspci::TreeParents(dump);
    int compared = 0;
    for (const lspci::Function& f : lspci::Functions(dump)) {
        SCOPED_TRACE(dump + " " + lspci::Text(f.at));
        if (f.domain != 0)
            continue;   /* the simulated driver serves PCI domain 0 only */
        if (!tree.count(f.at)) {
            ADD_FAILURE() << "function missing from lspci's tree";
            continue;
        }
        void* device = nullptr;
        if (FindDevice(f.at.bus, f.at.dev, f.at.fn, &device) != QORB_SUCCESS) {
            ADD_FAILURE() << "lspci lists a function the library does not find";
            continue;
        }
        _QORB_DEV_PORT_TYPE_t type{};
        bool pcie = GetDeviceType(device, &type) == QORB_SUCCESS;

        std::optional<lspci::Bdf> expected;
        if (pcie) {
            switch (type) {
            case QORB_PCIE_ENDPOINT:
            case QORB_LEGACY_ENDPOINT:
            case QORB_SWITCH_UPSTREAM_PORT:
            case QORB_PCIE_TO_PCI_BRIDGE:
                expected = Parent(tree, f.at);
                break;
            case QORB_SWITCH_DOWNSTREAM_PORT:
                if (auto above = Parent(tree, f.at))
                    expected = Parent(tree, *above);
                break;
            default:
                break;
            }
        }
        if (expected && !IsType1(*expected))
            expected.reset();   /* a CardBus bridge: see above */

        EXPECT_EQ(QORB_SUCCESS, OpenDevice(device, QORB_ACCESS_READ_ONLY));
        void* parent = nullptr;
        if (GetParentDevice(device, &parent) == QORB_SUCCESS) {
            uint8_t bus = 0, dev = 0, fn = 0;
            QORB_GetDeviceProperties(parent, &bus, &dev, &fn, nullptr, nullptr);
            lspci::Bdf got{bus, dev, fn};
            EXPECT_TRUE(expected.has_value()) << "linked to " << lspci::Text(got) << " where lspci has none";
            if (expected) {
                EXPECT_EQ(lspci::Text(*expected), lspci::Text(got));
            }
        } else {
            EXPECT_FALSE(expected.has_value()) << "no link where lspci has " << lspci::Text(*expected);
        }
        CloseDevice(device);
        ++compared;
    }
    return compared;
}

} // namespace

TEST(TopologyLspci, ParentLinksAgreeOnRealDumps)
{
    if (!qorbtest::HaveLspci())
        GTEST_SKIP() << "lspci is not installed";
    std::string dir = qorbtest::PlatformsDir();
    if (dir.empty())
        GTEST_SKIP() << "the platforms folder is missing";
    if (!topotest::HaveSim())
        GTEST_SKIP() << "the simulated driver is not built";
    int compared = 0;
    for (const std::string& dump : lspci::Dumps(dir)) {
        SimPlatform platform(std::vector<std::string>{dump});
        ASSERT_EQ(QORB_SUCCESS, platform.OpenStatus()) << dump;
        compared += CompareParents(dump);
    }
    EXPECT_GT(compared, 20);
}

TEST(TopologyLspci, ParentLinksAgreeOnTheBuiltInPlatform)
{
    if (!qorbtest::HaveLspci())
        GTEST_SKIP() << "lspci is not installed";
    SimPlatform platform;
    TOPO_REQUIRE_PLATFORM(platform);
    std::string dump = platform.File("builtin.txt");
    ASSERT_TRUE(lspci::WriteServedDump(dump));
    EXPECT_GT(CompareParents(dump), 5);
}
