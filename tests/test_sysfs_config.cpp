/* qorbsysfs.ini: the driver's settings and how it refuses bad ones. */
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "sysfs_test_support.h"

using namespace qorbtest;

namespace {

class SysfsConfigTest : public SysfsFixture {
protected:
    /* Opens with the given qorbsysfs.ini text and answers what went to
     * standard error; *opened tells whether OpenDriver succeeded. */
    std::string OpenWith(const std::string& ini, bool* opened)
    {
        WriteFile(fake.File("qorbsysfs.ini"), ini);
        CaptureFd err(2);
        *opened = driver.Open();
        return err.Text();
    }
};

TEST_F(SysfsConfigTest, KeysAreReadWithoutRegardToCaseAndSlashes)
{
    bool opened = false;
    std::string err = OpenWith("; comment\n[SYSFS]\nRoot = " + fake.Devices() + "///\nDomain = 0x0000\n"
                               "Allow_Writes = On\n", &opened);
    ASSERT_TRUE(opened) << err;
    uint8_t value[1] = {0x99};
    EXPECT_EQ(driver.Write(0, 0, 0, 0x3C, 1, value), 1u);
}

TEST_F(SysfsConfigTest, BadSettingsStopTheOpenNamingTheLine)
{
    struct Case {
        std::string ini;
        std::string expected;
    };
    const std::string root = "[sysfs]\nroot = " + fake.Devices() + "\n";
    const Case cases[] = {
        {root + "allow_writes = maybe\n", "qorbsysfs.ini line 3: bad value \"maybe\" for allow_writes"},
        {root + "domain = 00g0\n", "qorbsysfs.ini line 3: bad value \"00g0\" for domain"},
        {root + "domain = 123456789\n", "line 3: bad value"},
        {root + "allow_write = yes\n", "qorbsysfs.ini line 3: unknown key \"allow_write\""},
        {"[pci]\nroot = /x\n", "qorbsysfs.ini line 2: unknown section [pci]"},
        {root + "this line has no equals sign\n", "qorbsysfs.ini line 3: syntax error"},
        {"[sysfs]\nroot = " + fake.File("nowhere") + "\n", "cannot list " + fake.File("nowhere")},
    };
    for (const Case& c : cases) {
        bool opened = true;
        std::string err = OpenWith(c.ini, &opened);
        EXPECT_FALSE(opened) << c.ini;
        EXPECT_NE(err.find(c.expected), std::string::npos) << c.ini << "\ngave: " << err;
    }
}

TEST_F(SysfsConfigTest, AnUnreadableFileStopsTheOpen)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads files whatever their mode";
    WriteFile(fake.File("qorbsysfs.ini"), "[sysfs]\n");
    chmod(fake.File("qorbsysfs.ini").c_str(), 0);
    CaptureFd err(2);
    EXPECT_FALSE(driver.Open());
    EXPECT_NE(err.Text().find("cannot read qorbsysfs.ini"), std::string::npos);
}

TEST_F(SysfsConfigTest, WithoutAFileTheDefaultsServeLinux)
{
    if (!FileExists("/sys/bus/pci/devices"))
        GTEST_SKIP() << "this machine has no /sys/bus/pci/devices";
    ASSERT_TRUE(driver.Open());  /* no qorbsysfs.ini in the scratch folder */
    uint8_t buffer[4];
    EXPECT_EQ(driver.Read(0, 0, 0, 0, 4, buffer) == 4u, FileExists("/sys/bus/pci/devices/0000:00:00.0/config"));
    /* Device 32 is no location: nothing could be written even if the
     * refusal failed. */
    uint8_t value[4] = {};
    CaptureFd err(2);
    EXPECT_EQ(driver.Write(0, 32, 0, 0x40, 4, value), 0u);
    EXPECT_NE(err.Text().find("writes are disabled"), std::string::npos);
}

} // namespace
