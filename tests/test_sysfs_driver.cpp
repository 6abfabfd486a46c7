/* The sysfs configuration driver on a fake devices folder, loaded directly. */
#include <gtest/gtest.h>

#include <dirent.h>
#include <string.h>
#include <sys/resource.h>

#include <filesystem>

#include "sysfs_test_support.h"

using namespace qorbtest;

namespace {

size_t OpenFiles()
{
    size_t count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

ConfigSpace Function(uint16_t vendor, uint16_t device)
{
    ConfigSpace space;
    space.Header(vendor, device, 0x02, 0x00, 0x00, 0x00);
    for (uint32_t off = 0x40; off < space.Size(); ++off)
        space.Set8(off, static_cast<uint8_t>(off * 7 + vendor));
    return space;
}

/* The platform most tests use: a PCI Express function (4096 bytes), a
 * conventional one (256), one that gives only its 64-byte header, as for an
 * unprivileged process, and entries the driver must leave out. */
class SysfsDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QORB_SKIP_WITHOUT_SYSFS_DRIVER();
        ASSERT_TRUE(driver.Bound());
        fake.Add(0x00, 0x00, 0, pcie, 4096);
        fake.Add(0x00, 0x1f, 3, conventional, 256);
        fake.Add(0x03, 0x00, 0, header, 64);
        fake.Add(0x05, 0x00, 0, std::vector<uint8_t>(256, 0x11), 1);    /* another domain */
        std::filesystem::create_directories(fake.Devices() + "/0000:04:00.0");  /* no config file */
        WriteFile(fake.Devices() + "/0000:00:20.0/config", std::string(64, '\x22'));  /* device 32 */
        WriteFile(fake.Devices() + "/0000:06:00.8/config", std::string(64, '\x22'));  /* function 8 */
        WriteFile(fake.Devices() + "/pci0000:00/config", std::string(64, '\x22'));
        WriteFile(fake.Devices() + "/0000:07:00.0.bak/config", std::string(64, '\x22'));
    }

    FakeSysfs fake;
    SysfsDriver driver;
    ConfigSpace pcie = Function(0x8086, 0x1234);
    ConfigSpace conventional = Function(0x10ec, 0x8168);
    ConfigSpace header = Function(0x1af4, 0x1041);
};

TEST_F(SysfsDriverTest, ExactlyTheFunctionsOfTheDomainAnswer)
{
    ASSERT_TRUE(OpenOn(fake, driver));
    std::vector<std::string> found;
    uint8_t buffer[64];
    for (uint32_t bus = 0; bus < 256; ++bus)
        for (uint32_t dev = 0; dev < 32; ++dev)
            for (uint32_t fn = 0; fn < 8; ++fn) {
                memset(buffer, 0xEE, sizeof buffer);
                uint32_t n = driver.Read(bus, dev, fn, 0, 64, buffer);
                if (n != 0) {
                    EXPECT_EQ(n, 64u);
                    found.push_back(FakeSysfs::Name(0, bus, dev, fn));
                } else {
                    EXPECT_EQ(buffer[0], 0xEE) << "an absent location wrote into the buffer";
                }
            }
    EXPECT_EQ(found, (std::vector<std::string>{"0000:00:00.0", "0000:00:1f.3", "0000:03:00.0"}));
}

TEST_F(SysfsDriverTest, ReadsAnswerWhatTheKernelGives)
{
    ASSERT_TRUE(OpenOn(fake, driver));
    std::vector<uint8_t> buffer(8192, 0);

    /* The whole of a PCI Express function, byte for byte. */
    ASSERT_EQ(driver.Read(0, 0, 0, 0, 4096, buffer.data()), 4096u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 4096, pcie.Bytes().begin()));
    ASSERT_EQ(driver.Read(0, 0, 0, 0x100, 4, buffer.data()), 4u);
    EXPECT_EQ(buffer[0], pcie.Get8(0x100));

    /* A conventional function ends at 256 bytes. */
    EXPECT_EQ(driver.Read(0, 0x1f, 3, 0, 4096, buffer.data()), 256u);
    EXPECT_EQ(driver.Read(0, 0x1f, 3, 0xFC, 8, buffer.data()), 4u);
    EXPECT_EQ(buffer[3], conventional.Get8(0xFF));
    EXPECT_EQ(driver.Read(0, 0x1f, 3, 0x100, 4, buffer.data()), 0u);

    /* Unprivileged: the header and nothing after it. */
    EXPECT_EQ(driver.Read(3, 0, 0, 0, 256, buffer.data()), 64u);
    EXPECT_EQ(buffer[0], 0xf4);
    EXPECT_EQ(buffer[1], 0x1a);
    EXPECT_EQ(driver.Read(3, 0, 0, 0x40, 4, buffer.data()), 0u);
}

TEST_F(SysfsDriverTest, TransfersStayInsideConfigurationSpace)
{
    fake.Add(0, 0x10, 0, std::vector<uint8_t>(6000, 0x5A));  /* a file longer than any function */
    ASSERT_TRUE(OpenOn(fake, driver));
    std::vector<uint8_t> buffer(8192, 0);
    EXPECT_EQ(driver.Read(0, 0x10, 0, 0, 8192, buffer.data()), 4096u);
    EXPECT_EQ(driver.Read(0, 0x10, 0, 4094, 100, buffer.data()), 2u);
    EXPECT_EQ(driver.Read(0, 0x10, 0, 4096, 4, buffer.data()), 0u);
    EXPECT_EQ(driver.Read(0, 0x10, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, buffer.data()), 0u);
    /* Numbers outside the location ranges are absent locations. */
    EXPECT_EQ(driver.Read(256, 0, 0, 0, 4, buffer.data()), 0u);
    EXPECT_EQ(driver.Read(0, 32, 0, 0, 4, buffer.data()), 0u);
    EXPECT_EQ(driver.Read(0, 0, 8, 0, 4, buffer.data()), 0u);
    EXPECT_EQ(driver.Read(0, 0, 0, 0, 4, nullptr), 0u);
}

TEST_F(SysfsDriverTest, AllOnesFromAPresentFunctionArePassedThrough)
{
    fake.Add(0x08, 0, 0, std::vector<uint8_t>(256, 0xFF));
    ASSERT_TRUE(OpenOn(fake, driver));
    uint8_t buffer[64] = {};
    ASSERT_EQ(driver.Read(8, 0, 0, 0, 64, buffer), 64u);
    for (uint8_t b : buffer)
        EXPECT_EQ(b, 0xFF);
}

TEST_F(SysfsDriverTest, TheDomainKeyChoosesTheDomain)
{
    ASSERT_TRUE(OpenOn(fake, driver, "domain = 0001\n"));
    uint8_t buffer[64];
    EXPECT_EQ(driver.Read(5, 0, 0, 0, 64, buffer), 64u);
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(driver.Read(0, 0, 0, 0, 64, buffer), 0u);
}

TEST_F(SysfsDriverTest, AFunctionRemovedWhileOpenAnswersNothingUntilItReturns)
{
    ASSERT_TRUE(OpenOn(fake, driver));
    uint8_t buffer[64];
    ASSERT_EQ(driver.Read(0, 0x1f, 3, 0, 64, buffer), 64u);

    std::filesystem::remove_all(fake.Devices() + "/0000:00:1f.3");
    EXPECT_EQ(driver.Read(0, 0x1f, 3, 0, 64, buffer), 0u) << "stale bytes from a removed function";
    EXPECT_EQ(driver.Read(0, 0x1f, 3, 0, 64, buffer), 0u);
    EXPECT_EQ(driver.Read(0, 0, 0, 0, 64, buffer), 64u) << "other functions are unaffected";

    /* Plugged back in at the same place, with another identity. */
    fake.Add(0, 0x1f, 3, std::vector<uint8_t>(256, 0x42));
    ASSERT_EQ(driver.Read(0, 0x1f, 3, 0, 64, buffer), 64u);
    EXPECT_EQ(buffer[0], 0x42);
}

TEST_F(SysfsDriverTest, AFunctionThatAppearsIsSeenAtTheNextOpen)
{
    ASSERT_TRUE(OpenOn(fake, driver));
    fake.Add(0x09, 0, 0, std::vector<uint8_t>(256, 0x33));
    uint8_t buffer[64];
    EXPECT_EQ(driver.Read(9, 0, 0, 0, 64, buffer), 0u);
    driver.Close();
    ASSERT_TRUE(driver.Open());
    EXPECT_EQ(driver.Read(9, 0, 0, 0, 64, buffer), 64u);
}

TEST_F(SysfsDriverTest, WritesAreRefusedWithOneMessageUnlessEnabled)
{
    ASSERT_TRUE(OpenOn(fake, driver));
    uint8_t value[4] = {0x07, 0x01, 0x00, 0x00};
    CaptureFd err(2);
    EXPECT_EQ(driver.Write(0, 0, 0, 0x04, 4, value), 0u);
    EXPECT_EQ(driver.Write(0, 0x1f, 3, 0x04, 4, value), 0u);
    std::string text = err.Text();
    EXPECT_NE(text.find("allow_writes = yes"), std::string::npos) << text;
    EXPECT_EQ(text.find("qorbsysfs:"), text.rfind("qorbsysfs:")) << "more than one message: " << text;
    EXPECT_EQ(ReadFile(fake.ConfigPath(0, 0, 0, 0)), std::string(pcie.Bytes().begin(), pcie.Bytes().end()));
}

TEST_F(SysfsDriverTest, EnabledWritesReachTheFunction)
{
    ASSERT_TRUE(OpenOn(fake, driver, "allow_writes = yes\n"));
    uint8_t value[4] = {0x07, 0x01, 0xA5, 0x5A};
    CaptureFd err(2);
    ASSERT_EQ(driver.Write(0, 0x1f, 3, 0x04, 4, value), 4u);
    EXPECT_EQ(driver.Write(0, 0x1f, 3, 0x1000, 4, value), 0u) << "beyond configuration space";
    EXPECT_EQ(driver.Write(0, 0x1e, 0, 0x04, 4, value), 0u) << "absent location";
    EXPECT_EQ(err.Text(), "");
    uint8_t back[4] = {};
    ASSERT_EQ(driver.Read(0, 0x1f, 3, 0x04, 4, back), 4u);
    EXPECT_EQ(memcmp(back, value, 4), 0);
    std::string file = ReadFile(fake.ConfigPath(0, 0, 0x1f, 3));
    ASSERT_EQ(file.size(), 256u);
    EXPECT_EQ(static_cast<uint8_t>(file[6]), 0xA5);
}

TEST_F(SysfsDriverTest, ReadConfigExReadsAnyDomain)
{
    ASSERT_TRUE(OpenOn(fake, driver));
    const auto& t = driver.Table();
    uint8_t buffer[64] = {};
    /* v5 = offset << 16 | length */
    EXPECT_EQ(t.ReadConfigEx(driver.Context(), 0, 0, 0x1f, 3, (0xFC << 16) | 8, buffer), 4u);
    EXPECT_EQ(buffer[0], conventional.Get8(0xFC));
    EXPECT_EQ(t.ReadConfigEx(driver.Context(), 1, 5, 0, 0, (0 << 16) | 64, buffer), 64u);
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(t.ReadConfigEx(driver.Context(), 2, 5, 0, 0, 64, buffer), 0u);
    EXPECT_EQ(t.ReadConfigEx(driver.Context(), 1, 5, 32, 0, 64, buffer), 0u);
}

TEST_F(SysfsDriverTest, OnlyTheCurrentContextIsServed)
{
    ASSERT_TRUE(OpenOn(fake, driver, "allow_writes = yes\n"));
    uint32_t first = driver.Context();
    uint8_t buffer[64];
    const auto& t = driver.Table();
    EXPECT_EQ(t.ReadConfig(first + 1, 0, 0, 0, 0, 64, buffer), 0u);
    EXPECT_EQ(t.WriteConfig(first + 1, 0, 0x1f, 3, 0x04, 4, buffer), 0u);
    EXPECT_EQ(t.MapConfigSpace(first + 1, 0, 0), 0u);
    EXPECT_EQ(t.MapConfigSpace(first, 0xE0000000ull, 1u << 20), 1u);
    driver.Close();
    EXPECT_EQ(t.ReadConfig(first, 0, 0, 0, 0, 64, buffer), 0u);
    EXPECT_EQ(t.CloseDriver(first), 0u);

    /* Open, close, open again: the second open starts from scratch. */
    ASSERT_TRUE(driver.Open());
    EXPECT_NE(driver.Context(), first);
    EXPECT_EQ(driver.Read(0, 0, 0, 0, 64, buffer), 64u);
}

TEST_F(SysfsDriverTest, ConfigFilesStayOpenUntilTheDriverCloses)
{
    fake.Ini();
    size_t before = OpenFiles();
    ASSERT_TRUE(driver.Open());
    EXPECT_EQ(OpenFiles(), before + 3);
    uint8_t buffer[64];
    EXPECT_EQ(driver.Read(0, 0, 0, 0, 64, buffer), 64u);
    EXPECT_EQ(OpenFiles(), before + 3);
    driver.Close();
    EXPECT_EQ(OpenFiles(), before);
}

/* With a low open-file limit the driver keeps half of it and opens the other
 * functions' files for each access. */
TEST_F(SysfsDriverTest, FunctionsBeyondTheOpenFileLimitAreStillServed)
{
    for (uint32_t dev = 0; dev < 32; ++dev)
        fake.Add(0x20, dev, 0, std::vector<uint8_t>(64, static_cast<uint8_t>(dev)));
    fake.Ini();
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    size_t before = OpenFiles();
    struct rlimit low = saved;
    low.rlim_cur = before + 24;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    bool opened = driver.Open();
    size_t kept = OpenFiles() - before;
    uint32_t served = 0;
    uint8_t buffer[64];
    for (uint32_t dev = 0; dev < 32; ++dev)
        if (driver.Read(0x20, dev, 0, 0, 64, buffer) == 64 && buffer[0] == dev)
            ++served;
    size_t keptAfter = OpenFiles() - before;
    setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_TRUE(opened);
    EXPECT_EQ(kept, (before + 24) / 2);
    EXPECT_EQ(keptAfter, kept) << "files opened for one access must be closed again";
    EXPECT_EQ(served, 32u);
}

TEST(SysfsDriverExports, OnlyTheTableEntryIsExported)
{
    QORB_SKIP_WITHOUT_SYSFS_DRIVER();
    SysfsDriver driver;
    ASSERT_TRUE(driver.Bound());
    int code = -1;
    std::string symbols = RunCommand(std::string("nm -D --defined-only ") + SysfsDriverPath() +
                                         " | awk '{print $NF}'", &code);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(symbols, "ConfigDriver_GetInterface\n") << "no test card tables either";
    const auto& t = driver.Table();
    EXPECT_EQ(t.Reserved3, nullptr);
    EXPECT_EQ(t.Reserved8, nullptr);
    EXPECT_EQ(t.Reserved9, nullptr);
}

} // namespace
