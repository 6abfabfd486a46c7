/* Link retrain, disable and enable from the port above the DUT. */
#include <gtest/gtest.h>

#include <utility>

#include "qorb_test_support.h"

using namespace qorbtest;

namespace {

constexpr uint8_t kPcieCap = 0x40;

ConfigSpace RootPort(uint8_t secondary, uint16_t linkControl)
{
    ConfigSpace s;
    s.Header(0x8086, 0x1234, 0x06, 0x04, 0x00, 0x01).Buses(0, secondary, secondary).CapPointer(kPcieCap);
    s.PcieCap(kPcieCap, QORB_ROOT_PORT, 0x00);
    s.Set16(kPcieCap + 0x10, linkControl);
    s.Set16(kPcieCap + 0x12, 0x2011); /* x1, 2.5 GT/s, DLL Link Active */
    return s;
}

ConfigSpace SwitchPort(uint8_t portType, uint8_t primary, uint8_t secondary, uint8_t subordinate)
{
    ConfigSpace s;
    s.Header(0x10B5, static_cast<uint16_t>(0x8700 + portType), 0x06, 0x04, 0x00, 0x01)
        .Buses(primary, secondary, subordinate)
        .CapPointer(kPcieCap);
    s.PcieCap(kPcieCap, portType, 0x00);
    s.Set16(kPcieCap + 0x10, 0x0040);
    return s;
}

ConfigSpace Endpoint(uint16_t device)
{
    ConfigSpace s;
    s.Header(0x1AF4, device, 0x02, 0x00, 0x00, 0x00).CapPointer(kPcieCap);
    s.PcieCap(kPcieCap, QORB_PCIE_ENDPOINT, 0x00);
    return s;
}

/* Root port 00:1c.0 with an endpoint 01:00.0 below it; root port 00:1d.0
 * with a switch (02:00.0 up, 03:01.0 down) and an endpoint 04:00.0. */
std::vector<DumpFunction> Platform(uint16_t linkControl = 0x0043)
{
    return {
        {0, 0x1c, 0, RootPort(1, linkControl)},
        {0, 0x1d, 0, RootPort(2, 0x0040).Buses(0, 2, 4)},
        {1, 0, 0, Endpoint(0x1001)},
        {2, 0, 0, SwitchPort(QORB_SWITCH_UPSTREAM_PORT, 2, 3, 4)},
        {3, 1, 0, SwitchPort(QORB_SWITCH_DOWNSTREAM_PORT, 3, 4, 4)},
        {4, 0, 0, Endpoint(0x1002)},
    };
}

uint16_t Read16(void* device, uint32_t offset)
{
    uint8_t b[2] = {};
    uint32_t len = 2;
    EXPECT_EQ(ReadConfigSpace(device, b, offset, &len), QORB_SUCCESS);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

/* The port QORB_GetPortToResetOrRetrain names for a device, as (bus, device). */
std::pair<int, int> PortAbove(void* device, void** port)
{
    EXPECT_EQ(QORB_GetPortToResetOrRetrain(device, port), QORB_SUCCESS);
    uint8_t bus = 0xFF, d = 0, f = 0;
    QORB_GetDeviceProperties(*port, &bus, &d, &f, nullptr, nullptr);
    return {bus, d};
}

struct Opened {
    void* dev = nullptr;
    explicit Opened(uint8_t bus, uint8_t d, uint8_t f)
    {
        EXPECT_EQ(FindDevice(bus, d, f, &dev), QORB_SUCCESS);
        EXPECT_EQ(OpenDevice(dev, QORB_ACCESS_READ_WRITE), QORB_SUCCESS);
    }
    ~Opened() { CloseDevice(dev); }
};

} // namespace

TEST(Link, DisableThenEnableTogglesOnlyLinkDisableInThePort)
{
    SimPlatform platform(Platform(0x0043));
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    Opened dut(1, 0, 0);
    void* port = nullptr;
    ASSERT_EQ(PortAbove(dut.dev, &port), std::pair(0, 0x1c));

    EXPECT_EQ(QORB_DisableLink(dut.dev), QORB_SUCCESS);
    EXPECT_EQ(Read16(port, kPcieCap + 0x10), 0x0053);
    EXPECT_EQ(QORB_EnableLink(dut.dev), QORB_SUCCESS);
    EXPECT_EQ(Read16(port, kPcieCap + 0x10), 0x0043);
    /* Enabling a link that is not disabled writes Link Control back unchanged. */
    EXPECT_EQ(QORB_EnableLink(dut.dev), QORB_SUCCESS);
    EXPECT_EQ(Read16(port, kPcieCap + 0x10), 0x0043);
}

TEST(Link, RootPortHasNoPortAbove)
{
    SimPlatform platform(Platform());
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    Opened root(0, 0x1c, 0);
    EXPECT_EQ(QORB_RetrainDUTLink(root.dev), QORB_STATUS_FAILED);

    CaptureFd out(1);
    EXPECT_EQ(QORB_DisableLink(root.dev), QORB_STATUS_FAILED);
    EXPECT_EQ(out.Text(), "QORB_DisableLink. ERROR . Cannot find upstream device for \t\t\t\tdevice @ BDF[0,28,0]\n");

    void* port = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QORB_GetPortToResetOrRetrain(root.dev, &port), QORB_INVALID_PARAMETER);
    EXPECT_EQ(port, nullptr);
}

TEST(Link, NullDeviceIsRefused)
{
    EXPECT_EQ(QORB_RetrainDUTLink(nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(QORB_DisableLink(nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(QORB_EnableLink(nullptr), QORB_INVALID_PARAMETER);
}

TEST(Link, SwitchDownstreamPortActsTwoLevelsUp)
{
    SimPlatform platform(Platform());
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    Opened down(3, 1, 0);
    void* port = nullptr;
    EXPECT_EQ(PortAbove(down.dev, &port), std::pair(0, 0x1d));
    Opened ep(4, 0, 0);
    EXPECT_EQ(PortAbove(ep.dev, &port), std::pair(3, 1));
}

TEST(Link, RetrainSetsLinkTrainingInThePortUntilTrainingEnds)
{
    SimPlatform platform(Platform(0x0040), "[link]\ntraining_ms = 3000\n");
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    Opened dut(1, 0, 0);
    void* port = nullptr;
    ASSERT_EQ(QORB_GetPortToResetOrRetrain(dut.dev, &port), QORB_SUCCESS);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(port, 0), QORB_SUCCESS);
    EXPECT_EQ(QORB_RetrainDUTLink(dut.dev), QORB_SUCCESS);
    /* Retrain Link reads back 0; Link Training is set while the link trains. */
    EXPECT_EQ(Read16(port, kPcieCap + 0x10), 0x0040);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(port, 0), QORB_STATUS_FAILED);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(port, 3200), QORB_SUCCESS);
}

TEST(Link, DisabledLinkHidesTheDeviceUntilEnabled)
{
    SimPlatform platform(Platform());
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    Opened dut(1, 0, 0);
    /* A register changed before the disable comes back at its power-on value. */
    uint8_t cmd[2] = {0x06, 0x00};
    uint32_t len = 2;
    ASSERT_EQ(WriteConfigSpace(dut.dev, cmd, 0x04, &len), QORB_SUCCESS);
    EXPECT_EQ(Read16(dut.dev, 0x04), 0x0006);

    ASSERT_EQ(QORB_DisableLink(dut.dev), QORB_SUCCESS);
    void* probe = nullptr;
    EXPECT_EQ(FindDevice(1, 0, 0, &probe), QORB_DEVICE_NOT_FOUND);
    EXPECT_EQ(probe, nullptr);

    ASSERT_EQ(QORB_EnableLink(dut.dev), QORB_SUCCESS);
    ASSERT_EQ(FindDevice(1, 0, 0, &probe), QORB_SUCCESS);
    EXPECT_EQ(Read16(probe, 0x04), 0x0000);
    CloseDevice(probe);
}

TEST(Link, AspmOperationsChangeNothing)
{
    SimPlatform platform(Platform(0x0043));
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    Opened root(0, 0x1c, 0);
    for (auto state : {QORB_ASPM_DISABLED, QORB_ASPM_L0S, QORB_ASPM_L1, QORB_ASPM_L0S_L1}) {
        EXPECT_EQ(SetASPMState(root.dev, state), QORB_SUCCESS);
        EXPECT_EQ(SetUpstreamASPMState(root.dev, state), QORB_SUCCESS);
    }
    EXPECT_EQ(Read16(root.dev, kPcieCap + 0x10), 0x0043);
}

TEST(Link, NegativeDelayTestsAtOnce)
{
    SimPlatform platform(Platform());
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    Opened root(0, 0x1c, 0);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(root.dev, -5), QORB_SUCCESS);
}

TEST(Link, RetrainBelowASwitchTrainsTheDownstreamPort)
{
    SimPlatform platform(Platform(), "[link]\ntraining_ms = 3000\n");
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    Opened dut(4, 0, 0);
    Opened down(3, 1, 0);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(down.dev, 0), QORB_SUCCESS);
    EXPECT_EQ(QORB_RetrainDUTLink(dut.dev), QORB_SUCCESS);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(down.dev, 0), QORB_STATUS_FAILED);
    /* The switch downstream port as DUT retrains the root port above the switch. */
    Opened root(0, 0x1d, 0);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(root.dev, 0), QORB_SUCCESS);
    EXPECT_EQ(QORB_RetrainDUTLink(down.dev), QORB_SUCCESS);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(root.dev, 0), QORB_STATUS_FAILED);
}
