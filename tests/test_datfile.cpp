/* The platform file: how its values convert, its defaults, its failures and
 * their messages, the limits of the record, and the example file of the
 * built-in platform. */
#include <string.h>

#include <functional>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "qorb_test_support.h"

using namespace qorbtest;

namespace {

using Dat = _QORB_DAT_INFO_t;

/* Parses a file into a record prefilled with 0xA5 and testMode 77, so that
 * defaults that were not set show up; stderr is kept with its line numbers
 * and the scratch folder masked. */
struct Parsed {
    _QORB_STATUS_t status = QORB_STATUS_FAILED;
    Dat dat;
    std::string err;
    ScratchDir dir;
    Parsed() { memset(&dat, 0xA5, sizeof dat), dat.userName = nullptr, dat.testMode = 77; }
    explicit Parsed(const std::string& text) : Parsed() { Text(text); }
    ~Parsed() { QORB_FreeDatInfo(&dat); }
    void File(const std::string& path)
    {
        QORB_FreeDatInfo(&dat);
        CaptureFd capture(2);
        status = parseDatFile(const_cast<char*>(path.c_str()), &dat);
        err = std::regex_replace(capture.Text(), std::regex("LINE\\[[1-9][0-9]*\\]"), "LINE[n]");
        for (size_t at; (at = err.find(dir.Path())) != std::string::npos;)
            err.replace(at, dir.Path().size(), "DIR");
    }
    void Text(const std::string& text)
    {
        WriteFile(dir.File("dat.xml"), text);
        File(dir.File("dat.xml"));
    }
};

int64_t Dut0(const Dat& d, int field, int i = 0)
{
    const _QORB_DEVICE_FIND_INFO_t& e = d.dutFindInfo[i];
    const int64_t fields[] = {e.vendorId, e.deviceId,  e.busNumber,      e.deviceNumber,  e.functionNumber,
                              e.baseClass, e.subClass, e.progIf,          e.subsysVendorId, e.subsysDeviceId,
                              d.dutFindFlags[i], d.dutCount};
    return fields[field];
}
enum { VENDOR, DEVICE, BUS, DEV, FN, SUBSYS_VENDOR = 8, SUBSYS_DEVICE, FLAGS, COUNT };

/* One element (or a few) inside <p>, the field read back, its value. */
struct Conversion {
    const char* elements;
    std::function<int64_t(const Dat&)> field;
    int64_t value;
};
#define FIELD(expr) [](const Dat& d) -> int64_t { return expr; }
#define DUT(f) [](const Dat& d) { return Dut0(d, f); }
const Conversion kConversions[] = {
    /* Hexadecimal: another character repeats the last digit (0 before any). */
    {"<DUT vendorid=\"1x\"/>", DUT(VENDOR), 0x11},
    {"<DUT deviceid=\"0x1F\"/>", DUT(DEVICE), 0x1F},
    {"<DUT vendorid=\"abCD\"/>", DUT(VENDOR), 0xABCD},
    {"<DUT vendorid=\"12345\"/>", DUT(VENDOR), 0x2345},
    {"<DUT deviceid=\"zz\"/>", DUT(DEVICE), 0},
    {"<DUTConfig offset=\" 1f\"/>", FIELD(d.dutConfigOffset), 0x1F},
    {"<DUTConfig length=\"10\"/>", FIELD(d.dutConfigLength), 0x10},
    {"<DUTConfig incr=\"7fff\"/>", FIELD(d.dutConfigIncr), 0x7FFF},
    {"<DUTConfig incr=\"-4\"/>", FIELD(d.dutConfigIncr), -4},
    {"<DUTConfig incr=\"-10\" offset=\"-1\"/>", FIELD(d.dutConfigIncr * 0x10000 + d.dutConfigOffset), -0x10 * 0x10000 + 1},
    {"<DUTConfig incr=\"-4\"/>", FIELD(d.dutConfigOffset * 0x10000 + d.dutConfigLength), 4},
    {"<PCIEBaseAddress a=\"0xFEDCBA9876543210\"/>", FIELD(static_cast<int64_t>(d.pcieBaseAddress)),
     static_cast<int64_t>(0xFEDCBA9876543210ull)},
    /* Decimal as atoi reads it, cut to the field's width. */
    {"<DUT subsysvendor=\"4660\"/>", DUT(SUBSYS_VENDOR), 0x1234},
    {"<DUT subsysdeviceid=\"70000\"/>", DUT(SUBSYS_DEVICE), 70000 & 0xFFFF},
    {"<DUT subsysvendor=\"1\" subsysdeviceid=\"2\"/>", DUT(FLAGS), 0},
    {"<DUT bus=\"300\"/>", DUT(BUS), 300},
    {"<DUT device=\"300\"/>", DUT(DEV), 300 & 0xFF},
    {"<DUT function=\" +7z\"/>", DUT(FN), 7},
    {"<DUT bus=\"-1\"/>", DUT(BUS), 0xFFFF},
    {"<DUT device=\"abc\"/>", DUT(DEV), 0},
    {"<DUT function=\"12abc\"/>", DUT(FN), 12},
    {"<ReplayCount n=\"-12\"/>", FIELD(d.replayCount), -12},
    {"<DUTSerrEnable v=\"65536\"/>", FIELD(d.dutSerrEnable), 0},
    /* DUT entries: criteria flags, untouched fields, one entry per element. */
    {"<DUT bus=\"3\" device=\"1\" function=\"2\"/>", DUT(FLAGS), QORB_FIND_LOCATION},
    {"<DUT bus=\"3\"/>", FIELD(Dut0(d, VENDOR) << 16 | Dut0(d, SUBSYS_DEVICE)), 0xFFFFFFFFll},
    {"<DUT bus=\"3\"/>", FIELD(Dut0(d, 5) << 16 | Dut0(d, 6) << 8 | Dut0(d, 7)), 0xFFFFFF},
    {"<DUT VENDORID=\"8086\" DeviceID=\"10d3\"/>", DUT(FLAGS), QORB_FIND_VENDOR_ID | QORB_FIND_DEVICE_ID},
    {"<DUT vendorid=\"10ee\"/><DUT bus=\"4\"/>", FIELD(d.dutFindFlags[1] << 16 | d.dutFindInfo[1].vendorId),
     int64_t{QORB_FIND_LOCATION} << 16 | 0xFFFF},
    {"<DUT colour=\"red\"/><dut/><Tests/>", FIELD(Dut0(d, COUNT) << 8 | Dut0(d, FLAGS)), 2 << 8},
    {"<DUT bus=\"9\">text <ReplayCount n=\"8\">42</ReplayCount></DUT><ReplayCount>13</ReplayCount>",
     FIELD(d.replayCount * 100 + d.dutCount * 10 + d.dutFindInfo[0].busNumber), 819},
    /* Names and mode values without case; the first attribute whatever its
     * name; the last element wins; no attribute changes nothing. */
    {"<TEST MODE=\"SIMULATION\"/>", FIELD(d.testMode), QORB_TEST_MODE_SIMULATION},
    {"<test Mode=\"addin\"/>", FIELD(d.testMode), QORB_TEST_MODE_ADDIN},
    {"<Test mode=\"AddIn\"/><Test mode=\"Platform\"/>", FIELD(d.testMode), QORB_TEST_MODE_PLATFORM},
    {"<Test mode=\"bench\" other=\"simulation\"/><Tests mode=\"platform\"/>", FIELD(d.testMode), 77},
    {"<replaycount x=\"9\"/><Replay n=\"1\"/>", FIELD(d.replayCount), 9},
    {"<pciebaseaddress x=\"c0000000\"/>", FIELD(static_cast<int64_t>(d.pcieBaseAddress)), 0xC0000000ll},
    {"<ReplayCount times=\"5\" n=\"6\"/>", FIELD(d.replayCount), 5},
    {"<ReplayCount n=\"7\"/><ReplayCount n=\"11\"/>", FIELD(d.replayCount), 11},
    {"<ReplayCount n=\"5\"/><ReplayCount/><!-- <ReplayCount n=\"99\"/> -->", FIELD(d.replayCount), 5},
    {"<PCIEBaseAddress/><DUTSerrEnable/>", FIELD(static_cast<int64_t>(d.pcieBaseAddress) + d.dutSerrEnable),
     0xE0000001ll},
};
#undef FIELD
#undef DUT

TEST(DatFile, ValuesConvertAsTheParserReadsThem)
{
    for (const Conversion& c : kConversions) {
        Parsed p("<p>" + std::string(c.elements) + "</p>");
        ASSERT_EQ(p.status, QORB_SUCCESS) << c.elements << p.err;
        EXPECT_EQ(c.field(p.dat), c.value) << c.elements;
        EXPECT_EQ(p.err, "") << c.elements;
    }
}

/* File names: cut to 999 characters, slashes turned into backslashes, the
 * INI file name copied into an empty application INI file name. */
TEST(DatFile, NamesAreCutConvertedAndCopied)
{
    std::string name;
    for (int i = 0; i < 1200; ++i)
        name += (i % 10 == 9) ? '/' : static_cast<char>('a' + i % 9);
    std::string cut = Backslashed(name.substr(0, 999));
    const struct {
        std::string elements, path, ini, app, user;
    } rows[] = {
        {"", "", "", "", ""},
        {"<QORBINIFilePath v=\"" + name + "\"/><QORBINIFileName v=\"" + name + "\"/><User v=\"" + name + "\"/>", cut,
         cut, cut, name},
        {"<AppINIFileName v=\"" + name + "\"/>", "", "", cut, ""},
        {"<QORBINIFileName f=\"a/b.ini\"/><AppINIFileName f=\"c/d/e.ini\"/>", "", "a\\b.ini", "c\\d\\e.ini", ""},
        {"<AppINIFileName f=\"app.ini\"/><QORBINIFileName f=\"a/b.ini\"/>", "", "a\\b.ini", "app.ini", ""},
        {"<QORBINIFileName f=\"one\"/><qorbinifilename f=\"two\"/><QORBINIFileName/>", "", "two", "one", ""},
        {"<User n=\"first\"/><User n=\"second\"/><User/><qorbinifilepath p=\"x/y\"/>", "x\\y", "", "", "second"},
    };
    for (const auto& r : rows) {
        Parsed p("<p>" + r.elements + "<ReplayCount n=\"17\"/></p>");
        ASSERT_EQ(p.status, QORB_SUCCESS) << r.elements;
        EXPECT_EQ(std::tuple(p.dat.qorbIniFilePath, p.dat.qorbIniFileName, p.dat.appIniFileName, p.dat.replayCount),
                  std::tuple(r.path, r.ini, r.app, 17)) << r.elements;
        EXPECT_EQ(p.dat.userName ? p.dat.userName : "", r.user);
    }
}

TEST(DatFile, EmptyDocumentGivesEveryDefault)
{
    Parsed p("<?xml version=\"1.0\"?>\n<platform/>\n");
    ASSERT_EQ(p.status, QORB_SUCCESS);
    EXPECT_EQ(std::tuple(p.dat.testMode, p.dat.dutCount, p.dat.replayCount, p.dat.pcieBaseAddress, p.dat.dutConfigIncr,
                         p.dat.dutConfigOffset, p.dat.dutConfigLength, p.dat.dutSerrEnable, p.dat.reserved),
              std::tuple(77u, 0, 3, 0xE0000000ull, 0, 0, 4, 1, 0));
    for (int i = 0; i < QORB_MAX_DUTS; ++i) {
        EXPECT_EQ(p.dat.dutFindFlags[i], 0u) << i;
        for (int f = 0; f < 10; ++f)
            EXPECT_EQ(Dut0(p.dat, f, i) & 0xFF, 0xFF) << i << " " << f;
    }
}

std::string Duts(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "<DUT bus=\"" + std::to_string(i) + "\" vendorid=\"" + std::to_string(1000 + i) + "\"/>\n";
    return text;
}

/* Failures and warnings: status, stderr, and what the record holds after. */
TEST(DatFile, FailuresAndWarningsAreReported)
{
    const std::string expat = "EXPAT XML PARSER . ERROR (desc(", open = "***ERROR***. FILE[Source/qorb_parse_dat.cpp] "
                              "LINE[n] cannot open file[", drop = "***WARNING***. FILE[Source/qorb_parse_dat.cpp] LINE[n] ";
    std::string lines = "<p>\n";
    for (int i = 0; i < 60; ++i)
        lines += "  <ReplayCount n=\"" + std::to_string(i) + "\"/>\n";
    const struct {
        std::string text;  /* empty: the missing file DIR/no/dat.xml; "/": the scratch folder */
        _QORB_STATUS_t status;
        std::string err;
        int64_t replayCount, dutCount;
    } rows[] = {
        {"", QORB_NO_DAT_FILE, open + "DIR/no/dat.xml]\n", 3, 0},
        {"/", QORB_NO_DAT_FILE, open + "DIR]\n", 3, 0},
        {" ", QORB_NO_DAT_FILE, expat + "no element found))  in dat file at line 1\n", 3, 0},
        {"\n\nplatform\n", QORB_NO_DAT_FILE, expat + "syntax error))  in dat file at line 3\n", 3, 0},
        {"<p>\n<ReplayCount n=\"6\"/>\n<DUT bus=\"1\">\n</p>\n<ReplayCount n=\"7\"/>", QORB_NO_DAT_FILE,
         expat + "mismatched tag))  in dat file at line 4\n", 6, 1},
        {lines + "<DUT bus=\"1\" bus=\"2\"/>\n</p>\n", QORB_NO_DAT_FILE,
         expat + "duplicate attribute))  in dat file at line 62\n", 59, 0},
        {"<p>" + Duts(100) + "</p>", QORB_SUCCESS, "", 3, 100},
        {"<p>" + Duts(101) + "<ReplayCount n=\"21\"/></p>", QORB_SUCCESS,
         drop + "1 DUT element(s) beyond the first 100 dropped from file[DIR/dat.xml]\n", 21, 100},
        {"<p>" + Duts(350) + "</p>", QORB_SUCCESS,
         drop + "250 DUT element(s) beyond the first 100 dropped from file[DIR/dat.xml]\n", 3, 100},
        {"<p>" + Duts(102) + "<broken", QORB_NO_DAT_FILE, expat + "unclosed token))  in dat file at line 103\n" +
         drop + "2 DUT element(s) beyond the first 100 dropped from file[DIR/dat.xml]\n", 3, 100},
    };
    for (const auto& r : rows) {
        Parsed p;
        if (r.text.empty() || r.text == "/")
            p.File(r.text.empty() ? p.dir.File("no/dat.xml") : p.dir.Path());
        else
            p.Text(r.text);
        EXPECT_EQ(std::tuple(p.status, p.err, p.dat.replayCount, p.dat.dutCount),
                  std::tuple(r.status, r.err, r.replayCount, r.dutCount)) << r.text.substr(0, 60);
        EXPECT_EQ(p.dat.testMode, 77u);
        for (int i = 0; i < p.dat.dutCount && r.dutCount == 100; ++i)
            ASSERT_EQ(std::tuple(p.dat.dutFindInfo[i].busNumber, p.dat.dutFindFlags[i]),
                      std::tuple(i, QORB_FIND_LOCATION | QORB_FIND_VENDOR_ID)) << i;
    }
    Parsed p;
    CaptureFd err(2);
    EXPECT_EQ(parseDatFile(nullptr, &p.dat), QORB_NO_DAT_FILE);
    EXPECT_EQ(p.dat.replayCount, 3);  /* the defaults are set all the same */
    EXPECT_EQ(parseDatFile(const_cast<char*>("x.xml"), nullptr), QORB_NO_DAT_FILE);
    EXPECT_EQ(std::regex_replace(err.Text(), std::regex("LINE\\[[0-9]+\\]"), "LINE[n]"),
              open + "(null)]\n***ERROR***. FILE[Source/qorb_parse_dat.cpp] LINE[n] no record to fill for file[x.xml]\n");
}

/* The file is read in 512-byte blocks: values straddling a boundary, files of
 * whole blocks (an empty last block) and backslashed paths. */
TEST(DatFile, BlocksAndPaths)
{
    for (size_t pad = 470; pad <= 530; ++pad) {
        Parsed p("<p><!--" + std::string(pad, 'x') + "--><ReplayCount n=\"123456789\"/><User n=\"" +
                 std::string(600, 'u') + "\"/><DUT vendorid=\"BEEF\"/></p>\n" + std::string(pad, '\n'));
        ASSERT_EQ(p.status, QORB_SUCCESS) << pad << p.err;
        ASSERT_EQ(std::tuple(p.dat.replayCount, strlen(p.dat.userName), p.dat.dutFindInfo[0].vendorId),
                  std::tuple(123456789, 600u, 0xBEEF)) << pad;
    }
    Parsed p;
    std::string text = "<p><ReplayCount n=\"31\"/></p>";
    WriteFile(p.dir.File("sub/p.xml"), text + std::string(1024 - text.size(), '\n'));  /* an empty last block */
    p.File(Backslashed(p.dir.Path()) + "\\sub\\p.xml");
    EXPECT_EQ(std::tuple(p.status, p.dat.replayCount), std::tuple(QORB_SUCCESS, 31));
}

/* The example file of the built-in platform: every DUT is found where it is. */
TEST(DatFile, ExampleDutsAreFoundOnTheBuiltInPlatform)
{
    Parsed p;
    p.File(QORB_SOURCE_DIR "/examples/builtin-platform.xml");
    ASSERT_EQ(p.status, QORB_SUCCESS) << p.err;
    EXPECT_EQ(std::tuple(p.dat.testMode, std::string(p.dat.userName), p.dat.dutCount, p.dat.pcieBaseAddress),
              std::tuple(QORB_TEST_MODE_SIMULATION, "qorb_user", 4, 0xE0000000ull));
    EXPECT_EQ(std::tuple(p.dat.dutConfigIncr, p.dat.dutConfigOffset, p.dat.dutConfigLength, p.dat.dutSerrEnable),
              std::tuple(4, 0x10, 4, 1));
    const uint32_t ids = QORB_FIND_VENDOR_ID | QORB_FIND_DEVICE_ID;
    const uint32_t where[][3] = {{0x031010, ids}, {0x061020, QORB_FIND_LOCATION},
                                 {0x091050, ids | QORB_FIND_LOCATION}, {0x041012, ids | QORB_FIND_LOCATION}};
    SimPlatform platform;
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p.dat.dutFindFlags[i], where[i][1]) << i;
        void* dut = nullptr;
        ASSERT_EQ(FindDevice(platform.Instance(), &dut, p.dat.dutFindFlags[i], &p.dat.dutFindInfo[i]), QORB_SUCCESS);
        uint8_t bus = 0, dev = 0, fn = 0;
        uint16_t vendor = 0, device = 0;
        EXPECT_EQ(QORB_GetDeviceProperties(dut, &bus, &dev, &fn, &vendor, &device), QORB_SUCCESS);
        EXPECT_EQ(bus << 16 | device | fn << 24, where[i][0] | (i == 3) << 24) << i;
        EXPECT_EQ(vendor, 0x5153);
        CloseDevice(dut);
    }
}

} // namespace
