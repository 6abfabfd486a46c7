/* The library's searches and capability walk on this machine, through the
 * sysfs driver, read only, checked against lspci. */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

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

/* One capability as lspci -vv lists it: offset (below 0x100: legacy) and
 * ID (the oracle's; an extended ID outside 1 to 4 is 0xFFFFFFFF). */
struct Cap {
    uint32_t offset;
    uint32_t id;
    bool operator==(const Cap&) const = default;
};

/* What lspci says about one function of domain 0. */
struct LspciFunction {
    bool capsDenied = false;       /* "Capabilities: <access denied>" */
    std::vector<Cap> caps;         /* in list order, legacy then extended */
    int portType = -1;             /* from the "Express" line; -1: none, -2: unnamed */
};

std::map<Location, LspciFunction> LspciDomain0()
{
    std::map<Location, LspciFunction> functions;
    for (const lspci::Function& f : lspci::ParseVerbose(RunCommand("lspci -vv -D 2>/dev/null"))) {
        if (f.domain != 0 || f.at.bus > 254)
            continue;
        LspciFunction& out = functions[{f.at.bus, f.at.dev, f.at.fn}];
        out.capsDenied = f.accessDenied;
        for (const lspci::Capability& c : f.caps)
            out.caps.push_back({c.offset, c.id.value_or(0u)});  /* the one unnamed legacy ID is lspci's "Null" */
        bool express = false;
        for (const lspci::Capability& c : f.caps)
            express = express || (!c.extended && c.id == 0x10u);
        out.portType = f.portType ? static_cast<int>(*f.portType) : express ? -2 : -1;  /* -2: a type unnamed */
    }
    return functions;
}

/* The capabilities the library's walk can reach of those lspci lists: the
 * legacy list up to a capability of ID 0x02 to 0x04 (one first in the list
 * makes the walk start at 0x100), then, on a PCI Express function whose
 * legacy list ran to its end, the extended list up to the first ID that is
 * not 1 to 4. */
std::vector<Cap> Walkable(const LspciFunction& f)
{
    std::vector<Cap> legacy, extended, walk;
    for (const Cap& c : f.caps)
        (c.offset < 0x100 ? legacy : extended).push_back(c);
    auto stopsLegacy = [](const Cap& c) { return c.id >= 0x02 && c.id <= 0x04; };
    bool legacyComplete = true;
    if (!legacy.empty() && !stopsLegacy(legacy.front())) {
        for (const Cap& c : legacy) {
            if (stopsLegacy(c)) {
                legacyComplete = false;
                break;
            }
            walk.push_back(c);
        }
    }
    if (legacyComplete && f.portType != -1)
        for (const Cap& c : extended) {
            if (c.id < 1 || c.id > 4)
                break;
            walk.push_back(c);
        }
    return walk;
}

/* The library's walk of a device, bounded. */
std::vector<Cap> Walk(void* device)
{
    std::vector<Cap> walk;
    void* cap = nullptr;
    if (GetFirstCapability(device, &cap) != QORB_SUCCESS)
        return walk;
    for (int step = 0; cap && step < 96; ++step) {
        auto* handle = static_cast<QORB_CAP_HANDLE_t*>(cap);
        walk.push_back({handle->offset, handle->capabilityId});
        void* next = nullptr;
        _QORB_STATUS_t status = GetNextCapability(device, &next, cap);
        QORB_FreeCapabilityHandle(cap);
        cap = status == QORB_SUCCESS ? next : nullptr;
    }
    if (cap)
        QORB_FreeCapabilityHandle(cap);
    return walk;
}

std::string Text(const std::vector<Cap>& caps)
{
    std::string text;
    char item[32];
    for (const Cap& c : caps) {
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
        lspci = LspciDomain0();
        ASSERT_FALSE(lspci.empty());
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
    std::map<Location, LspciFunction> lspci;
    void* instance = nullptr;
};

TEST_F(SysfsLiveLibrary, TheScanFindsExactlyTheFunctionsLspciLists)
{
    std::set<Location> found;
    lspci::ForEachFoundDevice([&](void*, uint32_t bus, uint32_t dev, uint32_t fn) { found.insert({bus, dev, fn}); },
                              254);
    std::set<Location> listed;
    for (const auto& [location, f] : lspci)
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
        for (const auto& [location, f] : lspci)
            if (f.portType == p.type)
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
    std::map<Location, std::vector<Cap>> walks;
    {
        CaptureFd out(1);  /* the lookups report unreadable capabilities on standard output */
        for (const auto& [location, f] : lspci) {
            void* device = nullptr;
            if (FindDevice(static_cast<uint8_t>(std::get<0>(location)), static_cast<uint8_t>(std::get<1>(location)),
                           static_cast<uint8_t>(std::get<2>(location)), &device) != QORB_SUCCESS)
                continue;
            walks[location] = Walk(device);
            CloseDevice(device);
        }
    }
    int denied = 0;
    for (const auto& [location, f] : lspci) {
        ASSERT_TRUE(walks.count(location)) << Name(location) << " not found";
        const std::vector<Cap>& walk = walks[location];
        if (f.capsDenied) {
            /* Unprivileged: the kernel gives the 64-byte header only, so no
             * capability is readable, by lspci or by the walk. */
            ++denied;
            EXPECT_TRUE(walk.empty()) << Name(location) << ":" << Text(walk);
            continue;
        }
        std::vector<Cap> expected = Walkable(f);
        EXPECT_EQ(walk, expected) << Name(location) << "\n  walk:" << Text(walk) << "\n  lspci:" << Text(expected);
    }
    if (denied > 0)
        printf("note: capabilities of %d functions are readable by root only; their walks were checked to be "
               "empty\n", denied);
}

} // namespace
