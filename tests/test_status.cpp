#include <gtest/gtest.h>

#include <qorb/qorb.h>

TEST(StatusText, KnownValuesHaveTheirTexts)
{
    EXPECT_STREQ(QORBGetErrorDesc(QORB_SUCCESS), "QORB :: SUCCESS");
    EXPECT_STREQ(QORBGetErrorDesc(QORB_MULTIPLE_INSTANCES_OF_CAP), "QORB :: MULTIPLE INSTANCES OF CAP FOUND");
    EXPECT_STREQ(QORBGetErrorDesc(QORB_NO_DAT_FILE), "QORB :: NO DAT FILE");
    EXPECT_STREQ(QORBGetErrorDesc(QORB_PCIE_CONFIG_WRITE_FAILED), "QORB :: PCIE CONFIG WRITE FAILED");
    EXPECT_STREQ(QORBGetErrorDesc(QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP),
                 "QORB :: PCIE MULTIPLE INSTANCES OF CAP FOUND");
}

TEST(StatusText, CapDoesNotExistAndOutOfRangeShareOneText)
{
    EXPECT_STREQ(QORBGetErrorDesc(0x80000021u), "QORB :: PCIE CAP DOES NOT EXIST");
    EXPECT_STREQ(QORBGetErrorDesc(0x80000023u), "QORB :: PCIE CAP DOES NOT EXIST");
}

TEST(StatusText, ValuesWithoutTextAreInvalid)
{
    for (uint32_t v : {0x80000016u, 0x80000012u, 0x8000000du, 0x80000002u, 0xFFFFFFFFu, 2u})
        EXPECT_STREQ(QORBGetErrorDesc(v), "QORB :: Invalid Error Code") << std::hex << v;
}

TEST(StatusText, SameValueSamePointer)
{
    EXPECT_EQ(QORBGetErrorDesc(QORB_INVALID_PARAMETER), QORBGetErrorDesc(QORB_INVALID_PARAMETER));
    EXPECT_EQ(QORBGetErrorDesc(0x12345678u), QORBGetErrorDesc(0x12345678u));
}
