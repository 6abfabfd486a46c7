/* Agreement with lspci, an independent decoder, on real dumps and on the
 * simulated driver's built-in platform.
 *
 * The capability walk and the port type agree up to where the library's own
 * rules end the walk:
 * - a legacy list whose first capability has no length (IDs 0x02 to 0x04) is
 *   skipped; one met later ends the walk;
 * - the extended list is walked only for a function whose PCI Express
 *   capability the typed lookup finds (exactly one, in a well-formed list),
 *   and ends before the first ID other than 1 to 4;
 * - functions with a header type other than 0 or 1 have no walk.
 *
 * The parent link OpenDevice makes agrees with the tree lspci draws. lspci
 * hangs a function below the bridge whose secondary bus it sits on; the
 * library links endpoints, legacy endpoints, switch upstream ports and PCI
 * Express to PCI bridges to that bridge, downstream ports to the bridge above
 * it, and nothing else (root ports, other port types, functions without a
 * usable PCI Express capability). CardBus bridges (header type 2) draw a bus
 * in lspci's tree but are not type 1 bridges, so the library never links to
 * them. */
#include <gtest/gtest.h>

#include "lspci_oracle.h"
#include "topology_test_platforms.h"

using qorbtest::SimPlatform;

namespace {

/* Compares every function lspci lists in dump with what the open platform
 * serves; answers how many functions were compared. */
int CompareWithLspci(const std::string& dump)
{
    int compared = 0;
    for (const lspci::Function& f : lspci::Functions(dump)) {
        SCOPED_TRACE(dump + " " + lspci::Text(f.at));
        if (f.domain != 0)
            continue;   /* the simulated driver serves PCI domain 0 only */
        if (f.chainMarker) {
            /* lspci stops at a looped or broken chain where the library's
             * rules differ; such lists are covered by the unit tests. */
            continue;
        }
        void* device = nullptr;
        if (FindDevice(f.at.bus, f.at.dev, f.at.fn, &device) != QORB_SUCCESS) {
            ADD_FAILURE() << "lspci lists a function the library does not find";
            continue;
        }
        uint8_t headerType = 0;
        GetHeaderType(device, &headerType);
        bool pcie = false;
        std::vector<lspci::Capability> expected = lspci::ExpectedWalk(f, headerType, &pcie);
        std::vector<lspci::Seen> seen = lspci::LibraryWalk(device);
        EXPECT_EQ(expected.size(), seen.size());
        for (size_t i = 0; i < std::min(expected.size(), seen.size()); ++i) {
            EXPECT_EQ(expected[i].offset, seen[i].offset) << "step " << i << " (" << expected[i].name << ")";
            if (expected[i].id) {
                EXPECT_EQ(*expected[i].id, seen[i].id) << "step " << i << " (" << expected[i].name << ")";
            }
        }

        auto type = static_cast<_QORB_DEV_PORT_TYPE_t>(0xEE);
        _QORB_STATUS_t status = GetDeviceType(device, &type);
        if (pcie && f.portType) {
            EXPECT_EQ(QORB_SUCCESS, status);
            EXPECT_EQ(*f.portType, static_cast<uint32_t>(type));
        } else {
            EXPECT_EQ(QORB_PCIE_CAP_OUT_OF_RANGE, status) << "lspci shows no usable Express capability";
        }
        CloseDevice(device);
        ++compared;
    }
    return compared;
}


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

int CompareAll(const std::string& dump)
{
    int functions = CompareWithLspci(dump);
    EXPECT_EQ(functions, CompareParents(dump));
    return functions;
}

} // namespace

TEST(TopologyLspci, WalkPortTypeAndParentsAgreeOnRealDumps)
{
    std::string missing = lspci::MissingForRealDumps();
    if (!missing.empty())
        GTEST_SKIP() << missing;
    EXPECT_GT(lspci::ForEachRealDump(CompareAll), 20);
}

TEST(TopologyLspci, WalkPortTypeAndParentsAgreeOnTheBuiltInPlatform)
{
    if (!qorbtest::HaveLspci())
        GTEST_SKIP() << "lspci is not installed";
    SimPlatform platform;
    TOPO_REQUIRE_PLATFORM(platform);
    std::string dump = platform.File("builtin.txt");
    ASSERT_TRUE(lspci::WriteServedDump(dump));
    EXPECT_GT(CompareAll(dump), 5);
}
