/* The sysfs driver on this machine, read only, checked against lspci. */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "lspci_oracle.h"
#include "sysfs_test_support.h"

using namespace qorbtest;

namespace {

constexpr const char* kLinuxDevices = "/sys/bus/pci/devices";

struct LiveFunction {
    uint32_t bus, dev, fn;
    uint16_t vendor, device;
    bool operator<(const LiveFunction& o) const
    {
        return std::tie(bus, dev, fn) < std::tie(o.bus, o.dev, o.fn);
    }
};

/* The functions "lspci -n -D" lists in domain 0 on buses 0 to 254. */
std::vector<LiveFunction> LspciFunctions()
{
    std::vector<LiveFunction> functions;
    for (const lspci::Function& f : lspci::ParseVerbose(RunCommand("lspci -n -D 2>/dev/null")))
        if (f.domain == 0 && f.at.bus <= 254)
            functions.push_back({f.at.bus, f.at.dev, f.at.fn, static_cast<uint16_t>(f.vendor),
                                 static_cast<uint16_t>(f.device)});
    return functions;
}

bool HaveLinuxDevices()
{
    std::error_code ec;
    return std::filesystem::is_directory(kLinuxDevices, ec) &&
           !std::filesystem::is_empty(kLinuxDevices, ec);
}

#define QORB_SKIP_WITHOUT_LIVE_PCI()                                                            \
    do {                                                                                        \
        QORB_SKIP_WITHOUT_SYSFS_DRIVER();                                                       \
        if (!HaveLinuxDevices())                                                                \
            GTEST_SKIP() << kLinuxDevices << " is absent or empty: no PCI functions to read";   \
        if (!HaveLspci())                                                                       \
            GTEST_SKIP() << "lspci is not installed";                                           \
    } while (0)

TEST(SysfsLive, EveryFunctionLspciListsReadsAndNoOtherLocationAnswers)
{
    QORB_SKIP_WITHOUT_LIVE_PCI();
    ScratchDir scratch;  /* no qorbsysfs.ini: the defaults, read only */
    SysfsDriver driver;
    ASSERT_TRUE(driver.Bound());
    ASSERT_TRUE(driver.Open());

    std::vector<LiveFunction> expected = LspciFunctions();
    ASSERT_FALSE(expected.empty()) << "lspci lists nothing although " << kLinuxDevices << " is not empty";
    std::set<LiveFunction> listed(expected.begin(), expected.end());

    std::set<LiveFunction> answered;
    uint8_t header[64];
    for (uint32_t bus = 0; bus <= 254; ++bus)
        for (uint32_t dev = 0; dev < 32; ++dev)
            for (uint32_t fn = 0; fn < 8; ++fn) {
                uint32_t n = driver.Read(bus, dev, fn, 0, 64, header);
                if (n == 0)
                    continue;
                EXPECT_EQ(n, 64u) << FakeSysfs::Name(0, bus, dev, fn);
                answered.insert({bus, dev, fn, static_cast<uint16_t>(header[0] | header[1] << 8),
                                 static_cast<uint16_t>(header[2] | header[3] << 8)});
            }
    ASSERT_EQ(answered.size(), listed.size());
    auto a = answered.begin();
    for (const LiveFunction& f : listed) {
        const LiveFunction& got = *a++;
        std::string name = FakeSysfs::Name(0, f.bus, f.dev, f.fn);
        EXPECT_FALSE(got < f || f < got) << name << " is listed; " << FakeSysfs::Name(0, got.bus, got.dev, got.fn)
                                         << " answered";
        EXPECT_EQ(got.vendor, f.vendor) << name;
        EXPECT_EQ(got.device, f.device) << name;
    }
}

/* Beyond the header the kernel decides: 64 bytes for a process without
 * CAP_SYS_ADMIN, the function's whole space for root. The driver answers the
 * same count as reading the config file directly. */
TEST(SysfsLive, LongerReadsAnswerWhatTheConfigFileGives)
{
    QORB_SKIP_WITHOUT_LIVE_PCI();
    ScratchDir scratch;
    SysfsDriver driver;
    ASSERT_TRUE(driver.Bound());
    ASSERT_TRUE(driver.Open());
    for (const LiveFunction& f : LspciFunctions()) {
        std::string path = std::string(kLinuxDevices) + "/" + FakeSysfs::Name(0, f.bus, f.dev, f.fn) + "/config";
        std::vector<uint8_t> direct(4096), viaDriver(4096);
        int fd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0) << path;
        ssize_t expected = pread(fd, direct.data(), direct.size(), 0);
        close(fd);
        EXPECT_EQ(static_cast<ssize_t>(driver.Read(f.bus, f.dev, f.fn, 0, 4096, viaDriver.data())), expected)
            << path;
        EXPECT_EQ(viaDriver[0] | viaDriver[1] << 8, f.vendor) << path;
    }
}

} // namespace
