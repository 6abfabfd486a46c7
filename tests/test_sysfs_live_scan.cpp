/* The library's searches and capability walk on this machine, through the
 * sysfs driver, read only, checked against lspci. */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <map>
#include <set>

#include "qorb_internal.h"
#include "lspci_oracle.h"
#include "sysfs_test_support.h"

using namespace qorbtest;

namespace {

using Location = std::tuple<uint32_t, uint32_t, uint32_t>;

std::string Name(const Location& l)
{
    return FakeSysfs::Name(0, std::get<0>(l), std::get<1>(l), std::get<2>(l));
}

/* What lspci -vv -D says about the functions of domain 0 below bus 255. */
std::map<Location, lspci::Function> LspciDomain0()
{
    std::map<Location, lspci::Function> functions;
    for (const lspci::Function& f : lspci::ParseVerbose(RunCommand("lspci -vv -D 2>/dev/null")))
        if (f.domain == 0 && f.at.bus <= 254)
            functions[{f.at.bus, f.at.dev, f.at.fn}] = f;
    return functions;
}

std::string Text(const std::vector<lspci::Seen>& caps)
{
    std::string text;
    char item[32];
    for (const lspci::Seen& c : caps) {
        snprintf(item, sizeof item, " [%x] %x", c.offset, c.id);
        text += item;
    }
    return text.empty() ? " (none)" : text;
}

class SysfsLiveLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        QORB_SKIP_WITHOUT_SYSFS_DRIVER();
        std::error_code ec;
        if (!std::filesystem::is_directory("/sys/bus/pci/devices", ec) ||
            std::filesystem::is_empty("/sys/bus/pci/devices", ec))
            GTEST_SKIP() << "/sys/bus/pci/devices is absent or empty: no PCI functions to read";
        if (!HaveLspci())
            GTEST_SKIP() << "lspci is not installed";
        functions = LspciDomain0();
        ASSERT_FALSE(functions.empty());
        CaptureFd out(1);  /* an unprivileged MCFG fallback names PCIECfgInfo.ini */
        _QORB_STATUS_t status = OpenQORBEx(&instance, 0, SysfsDriverPath(), 0, 0);
        out.Text();
        ASSERT_EQ(status, QORB_SUCCESS);
    }
    void TearDown() override
    {
        if (instance)
            CloseQORB(instance);
    }

    ScratchDir scratch;  /* no qorbsysfs.ini: the defaults, read only */
    std::map<Location, lspci::Function> functions;
    void* instance = nullptr;
};

TEST_F(SysfsLiveLibrary, TheScanFindsExactlyTheFunctionsLspciLists)
{
    std::set<Location> found;
    lspci::ForEachFoundDevice([&](void*, uint32_t bus, uint32_t dev, uint32_t fn) { found.insert({bus, dev, fn}); },
                              254);
    std::set<Location> listed;
    for (const auto& [location, f] : functions)
        listed.insert(location);
    EXPECT_EQ(found, listed);
}

TEST_F(SysfsLiveLibrary, PortTypeSearchesFindWhatLspciCalls)
{
    using First = _QORB_STATUS_t (*)(void*, void**);
    using Next = _QORB_STATUS_t (*)(void*, void**);
    struct Pair {
        int type;
        First first;
        Next next;
    };
    const Pair pairs[] = {{4, FindFirstRootPort, FindNextRootPort}, {0, FindFirstEndpoint, FindNextEndpoint},
                          {1, FindFirstLegacyEndpoint, FindNextLegacyEndpoint},
                          {7, FindFirstBridge, FindNextBridge}, {5, FindFirstSwitch, FindNextSwitch},
                          {6, FindFirstDownSwitch, FindNextDownSwitch}};
    for (const Pair& p : pairs) {
        std::set<Location> expected, found;
        for (const auto& [location, f] : functions)
            if (f.portType == static_cast<uint32_t>(p.type))
                expected.insert(location);
        void* device = nullptr;
        CaptureFd out(1);  /* the lookups report unreadable capabilities on standard output */
        _QORB_STATUS_t status = p.first(instance, &device);
        for (int step = 0; status == QORB_SUCCESS && step < 65280; ++step) {
            auto* record = static_cast<QORB_DEVICE_t*>(device);
            found.insert({record->bus, record->device, record->function});
            void* next = nullptr;
            status = p.next(device, &next);
            CloseDevice(device);
            device = next;
        }
        out.Text();
        EXPECT_EQ(found, expected) << "port type " << p.type;
    }
}

TEST_F(SysfsLiveLibrary, CapabilityWalksAgreeWithLspci)
{
    std::map<Location, std::pair<uint8_t, std::vector<lspci::Seen>>> walks;  /* header type, walk */
    {
        CaptureFd out(1);  /* the lookups report unreadable capabilities on standard output */
        lspci::ForEachFoundDevice(
            [&](void* device, uint32_t bus, uint32_t dev, uint32_t fn) {
                uint8_t type = 0;
                GetHeaderType(device, &type);
                walks[{bus, dev, fn}] = {type, lspci::LibraryWalk(device)};
            },
            254);
    }
    int denied = 0;
    for (const auto& [location, f] : functions) {
        ASSERT_TRUE(walks.count(location)) << Name(location) << " not found";
        const auto& [type, walk] = walks[location];
        if (f.accessDenied) {
            /* Unprivileged: the kernel gives the 64-byte header only, so no
             * capability is readable, by lspci or by the walk. */
            ++denied;
            EXPECT_TRUE(walk.empty()) << Name(location) << ":" << Text(walk);
            continue;
        }
        bool pcie = false;
        std::vector<lspci::Seen> expected;
        for (const lspci::Capability& c : lspci::ExpectedWalk(f, type, &pcie))
            expected.push_back({c.offset, c.id.value_or(0u)});  /* the one unnamed legacy ID is lspci's "Null" */
        EXPECT_EQ(walk, expected) << Name(location) << "\n  walk:" << Text(walk) << "\n  lspci:" << Text(expected);
    }
    if (denied > 0)
        printf("note: capabilities of %d functions are readable by root only; their walks were checked to be "
               "empty\n", denied);
}

} // namespace
