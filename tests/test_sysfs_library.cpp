/* The sysfs driver opened by the library, as applications use it. */
#include <gtest/gtest.h>

#include "qorb_internal.h"
#include "sysfs_test_support.h"

using namespace qorbtest;

namespace {

class SysfsLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QORB_SKIP_WITHOUT_SYSFS_DRIVER();
        ConfigSpace space;
        space.Header(0x8086, 0x10d3, 0x02, 0x00, 0x00, 0x00);
        space.Set8(0xFF, 0x77);
        fake.Add(0x02, 0x00, 0, space, 256);
        fake.Add(0x02, 0x00, 1, space, 64);
        fake.Add(0x40, 0x00, 0, std::vector<uint8_t>(256, 0x44), 1);
        fake.Ini("mcfg = " + fake.File("no-MCFG") + "\n");
    }

    void* Open()
    {
        void* instance = nullptr;
        CaptureFd out(1);  /* the window falls back to PCIECfgInfo.ini, which is missing */
        _QORB_STATUS_t status = OpenQORBEx(&instance, 0, SysfsDriverPath(), 0xE0000000ull, 0);
        std::string text = out.Text();
        EXPECT_EQ(status, QORB_SUCCESS);
        EXPECT_NE(text.find("PCIECfgInfo.ini"), std::string::npos);
        return instance;
    }

    FakeSysfs fake;
};

TEST_F(SysfsLibraryTest, RawReadsThroughTheLibrary)
{
    void* instance = Open();
    ASSERT_NE(instance, nullptr);
    uint8_t buffer[256] = {};
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 2, 0, 0, (0 << 16) | 256, buffer), 256u);
    EXPECT_EQ(buffer[0], 0x86);
    EXPECT_EQ(buffer[0xFF], 0x77);
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 2, 0, 1, (0 << 16) | 256, buffer), 64u) << "unprivileged short read";
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(1, 0x40, 0, 0, (0x10 << 16) | 4, buffer), 4u);
    EXPECT_EQ(buffer[0], 0x44);
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 3, 0, 0, 64, buffer), 0u);
    CloseQORB(instance);
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 2, 0, 0, 64, buffer), 0u) << "after CloseQORB";
}

TEST_F(SysfsLibraryTest, DeviceRecordsReadAndAreRefusedWrites)
{
    void* instance = Open();
    ASSERT_NE(instance, nullptr);
    uint8_t header[QORB_SHADOW_LENGTH] = {};
    QORB_DEVICE_t* full = CreateDeviceRecord(header, 2, 0, 0);
    QORB_DEVICE_t* unprivileged = CreateDeviceRecord(header, 2, 0, 1);
    ASSERT_TRUE(full && unprivileged);

    uint8_t buffer[256] = {};
    uint32_t length = 256;
    EXPECT_EQ(ReadConfigSpace(full, buffer, 0, &length), QORB_SUCCESS);
    EXPECT_EQ(length, 256u);
    EXPECT_EQ(buffer[0xFF], 0x77);
    length = 4;
    EXPECT_EQ(ReadConfigSpace(unprivileged, buffer, 0x40, &length), QORB_PCIE_CONFIG_READ_FAILED);
    EXPECT_EQ(length, 0u);
    length = 256;
    EXPECT_EQ(ReadConfigSpace(unprivileged, buffer, 0, &length), QORB_PCIE_CONFIG_READ_FAILED);
    EXPECT_EQ(length, 64u);

    CaptureFd err(2);
    length = 2;
    EXPECT_EQ(WriteConfigSpace(full, buffer, 0x04, &length), QORB_PCIE_CONFIG_WRITE_FAILED);
    EXPECT_EQ(length, 0u);
    EXPECT_NE(err.Text().find("writes are disabled"), std::string::npos);

    CloseDevice(full);
    CloseDevice(unprivileged);
    CloseQORB(instance);
}

TEST_F(SysfsLibraryTest, OpenCloseOpenStartsAfresh)
{
    void* first = Open();
    ASSERT_NE(first, nullptr);
    CloseQORB(first);
    fake.Add(0x05, 0x00, 0, std::vector<uint8_t>(256, 0x55));
    void* second = Open();
    ASSERT_NE(second, nullptr);
    uint8_t buffer[64] = {};
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 5, 0, 0, 64, buffer), 64u);
    EXPECT_EQ(buffer[63], 0x55);
    CloseQORB(second);
}

TEST_F(SysfsLibraryTest, ABadConfigurationFailsTheOpen)
{
    fake.Ini("allow_writes = perhaps\n");
    void* instance = reinterpret_cast<void*>(0x1);
    CaptureFd out(1);
    CaptureFd err(2);
    _QORB_STATUS_t status = OpenQORBEx(&instance, 0, SysfsDriverPath(), 0, 0);
    std::string errText = err.Text();
    std::string outText = out.Text();
    EXPECT_EQ(status, QORB_DRIVER_INIT_FAILED);
    EXPECT_NE(errText.find("bad value \"perhaps\" for allow_writes"), std::string::npos);
    EXPECT_NE(outText.find("Initializing software based driver failed"), std::string::npos);
    EXPECT_EQ(instance, reinterpret_cast<void*>(0x1));
    uint64_t base;
    uint8_t start, end;
    uint64_t length;
    CloseQORB(nullptr);  /* unloads the driver the failed open left loaded */
    EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 0);
}

} // namespace
