/* The example platform file of the simulated built-in platform: it parses,
 * and every DUT it names is found with the flags and criteria it gives. */
#include <gtest/gtest.h>

#include <string>

#include "datfile_test_util.h"

namespace {

struct Location {
    uint8_t bus, dev, fn;
    uint16_t vendorId, deviceId;
};

/* Where the DUTs of examples/builtin-platform.xml sit on the built-in platform. */
constexpr Location kExampleDuts[] = {
    {3, 0, 0, 0x5153, 0x1010},
    {6, 0, 0, 0x5153, 0x1020},
    {9, 0, 0, 0x5153, 0x1050},
    {4, 0, 1, 0x5153, 0x1012},
};

const std::string kExample = std::string(QORB_SOURCE_DIR) + "/examples/builtin-platform.xml";

TEST(DatExample, ParsesIntoFourDutsFoundEachWay)
{
    qorbtest::ParsedDat dat;
    dat.Parse(kExample);
    ASSERT_EQ(dat.status, QORB_SUCCESS) << dat.stderrText;
    EXPECT_EQ(dat->testMode, QORB_TEST_MODE_SIMULATION);
    ASSERT_NE(dat->userName, nullptr);
    EXPECT_STREQ(dat->userName, "qorb_user");
    ASSERT_EQ(dat->dutCount, 4);
    EXPECT_EQ(dat->dutFindFlags[0], QORB_FIND_VENDOR_ID | QORB_FIND_DEVICE_ID);
    EXPECT_EQ(dat->dutFindFlags[1], QORB_FIND_LOCATION);
    EXPECT_EQ(dat->dutFindFlags[2], QORB_FIND_VENDOR_ID | QORB_FIND_DEVICE_ID | QORB_FIND_LOCATION);
    EXPECT_EQ(dat->dutFindFlags[3], QORB_FIND_VENDOR_ID | QORB_FIND_DEVICE_ID | QORB_FIND_LOCATION);
    EXPECT_EQ(dat->dutFindInfo[3].subsysVendorId, 0x5153);
    EXPECT_EQ(dat->dutFindInfo[3].subsysDeviceId, 0x1012);
    EXPECT_STREQ(dat->qorbIniFilePath, "ini\\");
    EXPECT_STREQ(dat->qorbIniFileName, "ini\\VERDAapp.ini");
    EXPECT_STREQ(dat->appIniFileName, "ini\\VERDAapp.ini");
    EXPECT_EQ(dat->pcieBaseAddress, 0xE0000000ull);
    EXPECT_EQ(dat->dutConfigIncr, 4);
    EXPECT_EQ(dat->dutConfigOffset, 0x10);
    EXPECT_EQ(dat->dutConfigLength, 4);
    EXPECT_EQ(dat->dutSerrEnable, 1);
}

TEST(DatExample, EveryDutIsFoundOnTheBuiltInPlatform)
{
    qorbtest::ParsedDat dat;
    dat.Parse(kExample);
    ASSERT_EQ(dat.status, QORB_SUCCESS) << dat.stderrText;
    ASSERT_EQ(dat->dutCount, static_cast<int16_t>(std::size(kExampleDuts)));

    qorbtest::SimPlatform platform;
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    for (int i = 0; i < dat->dutCount; ++i) {
        void* dut = nullptr;
        ASSERT_EQ(FindDevice(platform.Instance(), &dut, dat->dutFindFlags[i], &dat->dutFindInfo[i]), QORB_SUCCESS)
            << "DUT " << i;
        ASSERT_NE(dut, nullptr);
        uint8_t bus = 0xEE, dev = 0xEE, fn = 0xEE;
        uint16_t vendorId = 0, deviceId = 0;
        EXPECT_EQ(QORB_GetDeviceProperties(dut, &bus, &dev, &fn, &vendorId, &deviceId), QORB_SUCCESS);
        const Location& want = kExampleDuts[i];
        EXPECT_EQ(bus, want.bus) << "DUT " << i;
        EXPECT_EQ(dev, want.dev) << "DUT " << i;
        EXPECT_EQ(fn, want.fn) << "DUT " << i;
        EXPECT_EQ(vendorId, want.vendorId) << "DUT " << i;
        EXPECT_EQ(deviceId, want.deviceId) << "DUT " << i;
        EXPECT_EQ(CloseDevice(dut), QORB_SUCCESS);
    }
}

/* A DUT the platform does not have is reported, not invented. */
TEST(DatExample, ADutAtAnEmptyLocationIsNotFound)
{
    qorbtest::ScratchDir dir;
    qorbtest::ParsedDat dat;
    qorbtest::WriteFile(dir.File("p.xml"), "<p><DUT vendorid=\"5153\" deviceid=\"1010\" bus=\"6\" device=\"0\" "
                                           "function=\"0\"/><DUT bus=\"5\" device=\"0\" function=\"0\"/></p>");
    dat.Parse(dir.File("p.xml"));
    ASSERT_EQ(dat->dutCount, 2);
    qorbtest::SimPlatform platform;
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    for (int i = 0; i < dat->dutCount; ++i) {
        void* dut = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(FindDevice(platform.Instance(), &dut, dat->dutFindFlags[i], &dat->dutFindInfo[i]),
                  QORB_FIND_DEVICE_FAILED)
            << "DUT " << i;
        EXPECT_EQ(dut, nullptr);
    }
}

} // namespace
