/* The example platform file of the simulated built-in platform: it parses,
 * and every DUT it names is found with the flags and criteria it gives. */
#include <gtest/gtest.h>

#include <string>

#include "datfile_test_util.h"

namespace {

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

} // namespace
