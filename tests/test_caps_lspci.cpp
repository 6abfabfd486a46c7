/* The capability walk and the port type agree with lspci on real dumps and
 * on the simulated driver's built-in platform, up to where the library's own
 * rules end the walk:
 * - a legacy list whose first capability has no length (IDs 0x02 to 0x04) is
 *   skipped; one met later ends the walk;
 * - the extended list is walked only for a function whose PCI Express
 *   capability the typed lookup finds (exactly one, in a well-formed list),
 *   and ends before the first ID other than 1 to 4;
 * - functions with a header type other than 0 or 1 have no walk. */
#include <gtest/gtest.h>

#include "lspci_oracle.h"
#include "topology_test_platforms.h"

using qorbtest::SimPlatform;

namespace {

struct Seen {
    uint32_t offset;
    uint32_t id;
};

/* What the library's walk should yield for the function lspci describes. */
std::vector<lspci::Capability> ExpectedWalk(const lspci::Function& f, uint8_t headerType, bool* pcie)
{
    std::vector<lspci::Capability> legacy, extended, walk;
    for (const auto& c : f.caps)
        (c.extended ? extended : legacy).push_back(c);
    int expressCount = 0;
    bool legacyInRange = true;
    for (const auto& c : legacy) {
        expressCount += c.id == 0x10u;
        legacyInRange = legacyInRange && c.offset >= 0x40 && c.offset <= 0x100;
    }
    *pcie = expressCount == 1 && legacyInRange;
    uint8_t layout = headerType & 0x7F;
    if (layout != 0 && layout != 1)
        return walk;
    auto sized = [](const lspci::Capability& c) { return !(c.id && *c.id >= 0x02 && *c.id <= 0x04); };
    if (!legacy.empty() && legacy[0].offset >= 0x40 && legacy[0].offset <= 0x100 && sized(legacy[0])) {
        for (const auto& c : legacy) {
            if (!sized(c))
                return walk;
            walk.push_back(c);
        }
    }
    if (!*pcie)
        return walk;
    for (const auto& c : extended) {
        if (*c.id < 1 || *c.id > 4)
            break;
        walk.push_back(c);
    }
    return walk;
}

std::vector<Seen> LibraryWalk(void* device)
{
    std::vector<Seen> seen;
    void* cap = nullptr;
    _QORB_STATUS_t status = GetFirstCapability(device, &cap);
    while (status == QORB_SUCCESS && seen.size() < 2000) {
        _QORB_PCI_DEVICE_CAP_INFO_t info{};
        QORB_QueryCapInfo(cap, &info);
        seen.push_back({info.offset, info.capabilityId});
        void* next = nullptr;
        status = GetNextCapability(device, &next, cap);
        QORB_FreeCapabilityHandle(cap);
        cap = next;
    }
    QORB_FreeCapabilityHandle(cap);
    return seen;
}

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
        std::vector<lspci::Capability> expected = ExpectedWalk(f, headerType, &pcie);
        std::vector<Seen> seen = LibraryWalk(device);
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

} // namespace

TEST(CapsLspci, WalkAndPortTypeAgreeOnRealDumps)
{
    if (!qorbtest::HaveLspci())
        GTEST_SKIP() << "lspci is not installed";
    std::string dir = qorbtest::PlatformsDir();
    if (dir.empty())
        GTEST_SKIP() << "the platforms folder is missing";
    if (!topotest::HaveSim())
        GTEST_SKIP() << "the simulated driver is not built";
    std::vector<std::string> dumps = lspci::Dumps(dir);
    ASSERT_FALSE(dumps.empty());
    int compared = 0;
    for (const std::string& dump : dumps) {
        SimPlatform platform(std::vector<std::string>{dump});
        ASSERT_EQ(QORB_SUCCESS, platform.OpenStatus()) << dump;
        compared += CompareWithLspci(dump);
    }
    EXPECT_GT(compared, 20);
}

TEST(CapsLspci, WalkAndPortTypeAgreeOnTheBuiltInPlatform)
{
    if (!qorbtest::HaveLspci())
        GTEST_SKIP() << "lspci is not installed";
    SimPlatform platform;
    TOPO_REQUIRE_PLATFORM(platform);
    std::string dump = platform.File("builtin.txt");
    ASSERT_TRUE(lspci::WriteServedDump(dump));
    EXPECT_GT(CompareWithLspci(dump), 5);
}
