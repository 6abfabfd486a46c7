/* Link control from the port at the upstream end of the DUT's link: retrain, disable, enable, the wait
 * for the end of training, ASPM; on the simulated driver's link model. */
#include <gtest/gtest.h>
#include <tuple>

#include "qorb_test_support.h"

using namespace qorbtest;

namespace {

ConfigSpace Function(uint8_t type, uint8_t secondary = 0, uint8_t subordinate = 0, uint16_t linkControl = 0x0040) {
    ConfigSpace s;
    s.Header(0x8086, 0x1234, secondary ? 0x06 : 0x02, secondary ? 0x04 : 0x00, 0x00, secondary ? 0x01 : 0x00);
    s.CapPointer(0x40).PcieCap(0x40, type, 0x00).Set16(0x50 /* Link Control */, linkControl).Set16(0x52, 0x2011);
    return secondary ? s.Buses(0, secondary, subordinate) : s;
}

// clang-format off
/* Root ports 00:1c.0 -- 01:00.0 and 00:1d.0 -- switch 02:00.0 / 03:01.0 -- 04:00.0; 00:1e.0 PCI bridge -- 05:00.0 */
const std::vector<DumpFunction> kPlatform = {
    {0, 0x1c, 0, Function(QORB_ROOT_PORT, 1, 1, 0x0043)}, {0, 0x1d, 0, Function(QORB_ROOT_PORT, 2, 4)},
    {0, 0x1e, 0, ConfigSpace().Header(0x8086, 0x2448, 0x06, 0x04, 0x01, 0x01).Buses(0, 5, 5)},
    {1, 0, 0, Function(QORB_PCIE_ENDPOINT)}, {2, 0, 0, Function(QORB_SWITCH_UPSTREAM_PORT, 3, 4)},
    {3, 1, 0, Function(QORB_SWITCH_DOWNSTREAM_PORT, 4, 4)}, {4, 0, 0, Function(QORB_PCIE_ENDPOINT)},
    {5, 0, 0, Function(QORB_PCIE_ENDPOINT)}};
// clang-format on

uint16_t Read16(void* device, uint32_t offset) {
    uint32_t value = 0, len = 2; /* little-endian, as the host */
    EXPECT_EQ(ReadConfigSpace(device, reinterpret_cast<uint8_t*>(&value), offset, &len), QORB_SUCCESS);
    return static_cast<uint16_t>(value);
}

struct Opened : FoundDevice {
    Opened(uint8_t bus, uint8_t dev)
        : FoundDevice(bus, dev, 0) {
        EXPECT_EQ(OpenDevice(**this, {}), QORB_SUCCESS);
    }
    ~Opened() {
        void* parent = nullptr; /* the caller's to close */
        GetParentDevice(**this, &parent);
        CloseDevice(parent);
    }
    /* The port QORB_GetPortToResetOrRetrain names, as (bus, device); {-1, 255}: none, the out location cleared. */
    std::pair<int, int> Port() const {
        void* port = reinterpret_cast<void*>(0x1);
        uint8_t bus = 0xFF, dev = 0xFF;
        if (QORB_GetPortToResetOrRetrain(**this, &port) == QORB_SUCCESS)
            QORB_GetDeviceProperties(port, &bus, &dev, nullptr, nullptr, nullptr);
        return {port ? bus : -1, dev};
    }
};

} // namespace

TEST(Link, PortAboveDisableEnableAndTheirFailures) {
    SimPlatform platform(kPlatform);
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    using Pair = std::pair<int, int>; /* a device, the port above it */
    for (auto [at, port] :
        {std::pair<Pair, Pair>{{1, 0}, {0, 0x1c}}, {{4, 0}, {3, 1}}, {{3, 1}, {0, 0x1d}}, {{0, 0x1c}, {-1, 255}}})
        EXPECT_EQ(Opened(at.first, at.second).Port(), port) << at.first << ":" << at.second;
    EXPECT_EQ(QORB_GetPortToResetOrRetrain(nullptr, nullptr), QORB_INVALID_PARAMETER);

    Opened root(0, 0x1c), dut(1, 0), belowPci(5, 0);
    uint32_t command = 0x0006, len = 2;
    ASSERT_EQ(WriteConfigSpace(*dut, reinterpret_cast<uint8_t*>(&command), 0x04, &len), QORB_SUCCESS);
    ASSERT_EQ(QORB_DisableLink(*dut), QORB_SUCCESS);
    EXPECT_EQ(Read16(*root, 0x50), 0x0053);
    EXPECT_EQ(FoundDevice(1, 0, 0).Status(), QORB_DEVICE_NOT_FOUND) << "a disabled link hides the device";
    ASSERT_EQ(QORB_EnableLink(*dut), QORB_SUCCESS);
    EXPECT_EQ(Read16(*root, 0x50), 0x0043);
    EXPECT_EQ(QORB_EnableLink(*dut), QORB_SUCCESS) << "a link that is not disabled is written back unchanged";
    EXPECT_EQ(Read16(*root, 0x50), 0x0043);
    FoundDevice back(1, 0, 0);
    EXPECT_EQ(Read16(*back, 0x04), 0x0000) << "the device comes back at its power-on values";
    for (auto state : {QORB_ASPM_DISABLED, QORB_ASPM_L0S, QORB_ASPM_L1, QORB_ASPM_L0S_L1})
        EXPECT_EQ(SetASPMState(*root, state) | SetUpstreamASPMState(*root, state), QORB_SUCCESS);
    EXPECT_EQ(Read16(*root, 0x50), 0x0043) << "ASPM operations change nothing";

    auto wait = +[](void* device) { return QORB_WaitForDeviceToRetrain(device, 0); };
    // clang-format off
    const std::string noUp = "QORB_DisableLink. ERROR . Cannot find upstream device for \t\t\t\tdevice @ BDF[0,28,0]\n";
    const std::string noCap = ". Getting PCI-Express Caps for device\t\t\t\t@ BDF[0,30,0] failed\n";
    const std::tuple<_QORB_STATUS_t (*)(void*), void*, _QORB_STATUS_t, std::string> rows[] = {
        {QORB_RetrainDUTLink, *root, QORB_STATUS_FAILED, ""}, {QORB_DisableLink, *root, QORB_STATUS_FAILED, noUp},
        {QORB_EnableLink, *root, QORB_STATUS_FAILED, noUp},
        {QORB_RetrainDUTLink, *belowPci, QORB_PCIE_CAP_OUT_OF_RANGE, "QORB_RetrainDUTLink" + noCap},
        {QORB_EnableLink, *belowPci, QORB_PCIE_CAP_OUT_OF_RANGE, "QORB_DisableLink" + noCap},
        {QORB_RetrainDUTLink, nullptr, QORB_INVALID_PARAMETER, ""}, {wait, nullptr, QORB_INVALID_PARAMETER, ""},
        {QORB_DisableLink, nullptr, QORB_INVALID_PARAMETER, ""}, {QORB_EnableLink, nullptr, QORB_INVALID_PARAMETER, ""},
    };
    // clang-format on
    for (const auto& [op, device, status, text] : rows) {
        CaptureFd out(1);
        EXPECT_EQ(op(device), status) << text;
        EXPECT_EQ(out.Text(), text);
    }
}

TEST(Link, RetrainTrainsThePortAboveUntilTrainingEnds) {
    SimPlatform platform(kPlatform, "[link]\ntraining_ms = 1000\n");
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    Opened root(0, 0x1c), dut(1, 0), down(3, 1), below(4, 0), otherRoot(0, 0x1d);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(*root, -5), QORB_SUCCESS) << "a negative delay tests at once";
    ASSERT_EQ(QORB_RetrainDUTLink(*dut), QORB_SUCCESS);
    EXPECT_EQ(Read16(*root, 0x50), 0x0043) << "Retrain Link reads back 0";
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(*root, 0), QORB_STATUS_FAILED) << "Link Training is set";
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(*down, 0), QORB_SUCCESS);
    ASSERT_EQ(QORB_RetrainDUTLink(*below), QORB_SUCCESS);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(*down, 0), QORB_STATUS_FAILED);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(*otherRoot, 0), QORB_SUCCESS);
    ASSERT_EQ(QORB_RetrainDUTLink(*down), QORB_SUCCESS);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(*otherRoot, 0), QORB_STATUS_FAILED);
    EXPECT_EQ(QORB_WaitForDeviceToRetrain(*root, 1200), QORB_SUCCESS) << "the wait sleeps before it tests";
}
