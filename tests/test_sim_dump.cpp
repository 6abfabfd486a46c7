/* The simulated driver's dump reader: every real dump is served byte for
 * byte as lspci -F reads it back, short where the dump ends, and bad input
 * makes the driver refuse to open with a message naming the line. */
#include <gtest/gtest.h>

#include "lspci_oracle.h"
#include "qorb_test_support.h"
#include "sim_driver_client.h"

using namespace qorbtest;

namespace {

/* Opens the driver on the given qorbsim.ini text in a scratch folder,
 * keeping what it printed on standard error. */
struct OpenedDriver : ScratchDir {
    SimDriverClient driver;
    bool opened = false;
    std::string errors;
    explicit OpenedDriver(const std::string& ini, const std::vector<std::pair<std::string, std::string>>& files = {})
    {
        for (const auto& [name, text] : files)
            WriteFile(File(name), text);
        WriteFile(File("qorbsim.ini"), ini);
        CaptureFd err(2);
        opened = driver.Open();
        errors = err.Text();
    }
};

ConfigSpace SmallFunction(size_t size)
{
    ConfigSpace s(size);
    s.Header(0x1AF4, 0x1000, 0x02, 0x00, 0x00, 0x00);
    for (size_t i = 0x10; i < size; ++i)
        s.Set8(static_cast<uint32_t>(i), static_cast<uint8_t>(i));
    return s;
}

} // namespace

TEST(SimDump, EveryRealDumpIsServedByteForByteAsLspciReadsIt)
{
    std::string dir = PlatformsDir();
    if (dir.empty())
        GTEST_SKIP() << "no platforms folder beside the source tree";
    if (!HaveLspci())
        GTEST_SKIP() << "lspci is not installed";
    std::vector<std::string> files = lspci::Dumps(dir);
    ASSERT_FALSE(files.empty());
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::vector<lspci::Function> expected = lspci::ParseVerbose(RunCommand("lspci -F '" + file + "' -xxxx 2>/dev/null"));
        ASSERT_FALSE(expected.empty());
        OpenedDriver sim("[platform]\ndump = " + file + "\n");
        ASSERT_TRUE(sim.opened) << sim.errors;
        auto served = sim.driver.Functions();
        size_t domain0 = 0;
        for (const lspci::Function& f : expected) {
            Location location{f.at.bus, f.at.dev, f.at.fn};
            auto [bus, dev, fn] = location;
            if (f.domain != 0) {
                /* Only domain 0 is simulated: the reader skips and says so. */
                EXPECT_NE(sim.errors.find("outside PCI domain 0 skipped"), std::string::npos);
                continue;
            }
            ++domain0;
            ASSERT_TRUE(served.count(location)) << bus << ":" << dev << "." << fn;
            EXPECT_EQ(served[location], f.bytes) << bus << ":" << dev << "." << fn;
            /* Past the dumped bytes a read is short, as on Linux. */
            uint8_t b[8];
            uint32_t end = static_cast<uint32_t>(f.bytes.size());
            EXPECT_EQ(sim.driver.Read(bus, dev, fn, end - 4, 8, b), 4u);
            EXPECT_EQ(sim.driver.Read(bus, dev, fn, end, 4, b), 0u);
        }
        EXPECT_EQ(served.size(), domain0) << "the driver serves functions lspci does not show";
    }
}

TEST(SimDump, ReadsPastA64Or256ByteDumpAreShort)
{
    std::vector<DumpFunction> functions = {{1, 0, 0, SmallFunction(64)}, {2, 0, 0, SmallFunction(256)}};
    OpenedDriver sim("[platform]\ndump = platform.txt\n", {{"platform.txt", DumpText(functions)}});
    ASSERT_TRUE(sim.opened) << sim.errors;
    uint8_t b[4096];
    EXPECT_EQ(sim.driver.Read(1, 0, 0, 0, 64, b), 64u);
    EXPECT_EQ(sim.driver.Read(1, 0, 0, 60, 8, b), 4u);
    EXPECT_EQ(b[0], 60);
    EXPECT_EQ(sim.driver.Read(1, 0, 0, 64, 4, b), 0u);
    EXPECT_EQ(sim.driver.Read(1, 0, 0, 0, 4096, b), 64u);
    EXPECT_EQ(sim.driver.Read(2, 0, 0, 0xFC, 8, b), 4u);
    EXPECT_EQ(sim.driver.Read(2, 0, 0, 0x100, 4, b), 0u);
    EXPECT_EQ(sim.driver.WriteBytes(2, 0, 0, 0xFE, 4, {1, 2, 3, 4}), 2u);
    EXPECT_EQ(sim.driver.WriteBytes(2, 0, 0, 0x100, 4, {1, 2, 3, 4}), 0u);
    /* A full function is short only past 4096. */
    OpenedDriver full("[platform]\ndump = p.txt\n", {{"p.txt", DumpText({{3, 0, 0, SmallFunction(4096)}})}});
    ASSERT_TRUE(full.opened) << full.errors;
    EXPECT_EQ(full.driver.Read(3, 0, 0, 4092, 8, b), 4u);
    EXPECT_EQ(full.driver.Read(3, 0, 0, 4096, 4, b), 0u);
    EXPECT_EQ(full.driver.Read(3, 0, 0, 0xFFFFFFFF, 4, b), 0u);
}

TEST(SimDump, FunctionLinesWithADomainAndVerboseTextBetweenFunctionsAreRead)
{
    std::string hex = DumpText({{0, 0, 0, SmallFunction(64)}});
    hex = hex.substr(hex.find('\n') + 1);
    std::string text = "0000:05:00.0 Ethernet controller: Test\n"
                       "\tControl: I/O- Mem+ BusMaster+\n"
                       "\tCapabilities: [40] Power Management version 3\n" +
                       hex +
                       "\tKernel driver in use: e1000e\n\n"
                       "05:00.1 Ethernet controller: Test\n"
                       "00: f4 1a 00 10 00 00 00 00 00 00 00 02 00 00 00 00\n"
                       "10: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                       "20: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                       "30: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";
    OpenedDriver sim("[platform]\ndump = d.txt\n", {{"d.txt", text}});
    ASSERT_TRUE(sim.opened) << sim.errors;
    EXPECT_EQ(sim.errors, "");
    auto served = sim.driver.Functions();
    ASSERT_EQ(served.size(), 2u);
    EXPECT_EQ(sim.driver.Read16(5, 0, 0, 0), 0x1AF4);
    EXPECT_EQ(sim.driver.Read16(5, 0, 1, 2), 0x1000);
}

TEST(SimDump, SeveralDumpsMakeOnePlatform)
{
    OpenedDriver sim("[platform]\ndump = a.txt\ndump = b.txt\n",
                     {{"a.txt", DumpText({{1, 0, 0, SmallFunction(256)}})},
                      {"b.txt", DumpText({{2, 3, 4, SmallFunction(256)}})}});
    ASSERT_TRUE(sim.opened) << sim.errors;
    EXPECT_EQ(sim.driver.Functions().size(), 2u);
    EXPECT_EQ(sim.driver.Read16(2, 3, 4, 0), 0x1AF4);
}

TEST(SimDump, BadInputIsReportedWithItsLineAndTheDriverDoesNotOpen)
{
    const std::string header = "01:00.0 Test\n";
    const std::string good = DumpText({{1, 0, 0, SmallFunction(64)}});
    struct Case {
        const char* what;
        std::string dump;
        std::string message;
    } cases[] = {
        {"bad hex", header + "00: f4 1a zz 10\n", "d.txt:2: bad hex byte 'zz'"},
        {"three-digit byte", header + "00: f4 1a 100 10\n", "bad hex byte '100'"},
        {"too many bytes", header + "00: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10\n",
         "more than 16 bytes on one line"},
        {"gap", header + "00: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\n20: 00\n",
         "d.txt:3: offset 020 does not follow"},
        {"unaligned", header + "08: 00 01\n", "not a multiple of 0x10"},
        {"offset of four digits", header + "1000: 00\n", "has 0 configuration bytes"},
        {"hex before function", "00: 00 01 02 03\n" + good, "d.txt:1: hex line before any function line"},
        {"too short", header + "00: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\n", "has 16 configuration bytes"},
        {"device out of range", "00:20.0 Test\n" + good.substr(good.find('\n') + 1), "device must be 00 to 1f"},
        {"duplicate", good + good, "function 01:00.0 is already defined at d.txt:1"},
        {"no function", "just some text\n", "no function line"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpenedDriver sim("[platform]\ndump = d.txt\n", {{"d.txt", c.dump}});
        EXPECT_FALSE(sim.opened);
        EXPECT_NE(sim.errors.find(c.message), std::string::npos) << sim.errors;
        EXPECT_NE(sim.errors.find("qorbsim: the simulated platform was not loaded"), std::string::npos);
    }
}

TEST(SimDump, MissingDumpAndUnknownSettingsAreErrors)
{
    OpenedDriver missing("[platform]\ndump = nowhere.txt\n");
    EXPECT_FALSE(missing.opened);
    EXPECT_NE(missing.errors.find("qorbsim: nowhere.txt: cannot open the dump file"), std::string::npos);

    OpenedDriver misspelt("[platform]\ndumps = a.txt\n");
    EXPECT_FALSE(misspelt.opened);
    EXPECT_NE(misspelt.errors.find("unknown setting 'dumps' in section [platform]"), std::string::npos);

    OpenedDriver garbage("this is not an ini file\n");
    EXPECT_FALSE(garbage.opened);
    EXPECT_NE(garbage.errors.find("qorbsim.ini:1:"), std::string::npos);

    /* A duplicate across two dump files names both places. */
    std::string dump = DumpText({{1, 0, 0, SmallFunction(64)}});
    OpenedDriver twice("[platform]\ndump = a.txt\ndump = b.txt\n", {{"a.txt", dump}, {"b.txt", dump}});
    EXPECT_FALSE(twice.opened);
    EXPECT_NE(twice.errors.find("b.txt:1: function 01:00.0 is already defined at a.txt:1"), std::string::npos);
}

TEST(SimDump, ABinaryOrHugeFileNeitherCrashesNorLoads)
{
    std::string junk;
    for (int i = 0; i < 200000; ++i)
        junk += static_cast<char>((i * 7919) & 0xFF);
    OpenedDriver sim("[platform]\ndump = junk.bin\n", {{"junk.bin", junk}});
    EXPECT_FALSE(sim.opened);
}
