/* The platform file: value conversions, defaults, failures and their messages, limits, the built-in example. */
#include <string.h>

#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "qorb_test_support.h"

using namespace qorbtest;

namespace {

/* Parses into a record prefilled with 0xA5 and testMode 77, so that defaults that were not set show up;
 * stderr is kept with its line numbers and the scratch folder masked. */
struct Parsed {
    _QORB_STATUS_t status = QORB_STATUS_FAILED;
    _QORB_DAT_INFO_t dat;
    std::string err;
    ScratchDir dir;
    Parsed() { memset(&dat, 0xA5, sizeof dat), dat.userName = nullptr, dat.testMode = 77; }
    explicit Parsed(const std::string& text)
        : Parsed() {
        Text(text);
    }
    ~Parsed() { QORB_FreeDatInfo(&dat); }
    void File(const std::string& path) {
        QORB_FreeDatInfo(&dat);
        CaptureFd capture(2);
        status = parseDatFile(const_cast<char*>(path.c_str()), &dat);
        err = std::regex_replace(std::regex_replace(capture.Text(), std::regex("LINE\\[[1-9][0-9]*\\]"), "LINE[n]"),
            std::regex(dir.Path()), "DIR");
    }
    void Text(const std::string& text) { WriteFile(dir.File("dat.xml"), text), File(dir.File("dat.xml")); }
};

/* The record as words name=value (hexadecimal, but mode, replay, incr and serr in decimal), and its first four
 * DUT entries as N=flags:vendor:device:bus.device.function:class:subsystem vendor:subsystem device. */
std::string Show(const _QORB_DAT_INFO_t& d) {
    char s[8192];
    int n = snprintf(s, sizeof s, " mode=%u user=%s duts=%d path=%s ini=%s app=%s replay=%d base=%lx", d.testMode,
        d.userName ? d.userName : "", d.dutCount, d.qorbIniFilePath, d.qorbIniFileName, d.appIniFileName, d.replayCount,
        d.pcieBaseAddress);
    n += snprintf(s + n, sizeof s - n, " incr=%d off=%x len=%x serr=%d rsvd=%d", d.dutConfigIncr, d.dutConfigOffset,
        d.dutConfigLength, d.dutSerrEnable, d.reserved);
    for (int i = 0; i < 4; ++i) {
        const _QORB_DEVICE_FIND_INFO_t& e = d.dutFindInfo[i];
        n += snprintf(s + n, sizeof s - n, " %d=%x:%x:%x:%x.%x.%x:%02x%02x%02x:%x:%x", i, d.dutFindFlags[i], e.vendorId,
            e.deviceId, e.busNumber, e.deviceNumber, e.functionNumber, e.baseClass, e.subClass, e.progIf,
            e.subsysVendorId, e.subsysDeviceId);
    }
    return std::string(s) + " ";
}

/* Each word must be a word of Show(d); in an entry, "~" stands for an unset location, class and subsystem,
 * and "U" for an entry that is all unset. */
void ExpectWords(const std::string& context, const _QORB_DAT_INFO_t& d, std::string words) {
    words = std::regex_replace(
        std::regex_replace(words, std::regex("U"), "ffff:ffff:~"), std::regex("~"), "ffff.ff.ff:ffffff:ffff:ffff");
    std::string shown = Show(d), word;
    for (std::istringstream in(words); in >> word;)
        EXPECT_NE(shown.find(" " + word + " "), std::string::npos) << context << ": " << word << " not in" << shown;
}

/* count copies of text, each with # replaced by its index. */
std::string Repeat(int count, const std::string& text) {
    std::string all;
    for (int i = 0; i < count; ++i) all += std::regex_replace(text, std::regex("#"), std::to_string(i));
    return all;
}

/* Elements inside <p>, words of the record they give (mode 0 platform, 1 add-in, 2 simulation, 77 untouched). */
const std::pair<const char*, const char*> kConversions[] = {
    {"", "mode=77 user= duts=0 path= ini= app= replay=3 base=e0000000 incr=0 off=0 len=4 serr=1 rsvd=0 0=0:U 3=0:U"},
    /* Hexadecimal: a character that is no digit repeats the last digit (0 before any); cut to the field. */
    {"<DUT vendorid=\"1x\" deviceid=\"0x1F\"/>", "duts=1 0=3:11:1f:~ 1=0:U"},
    {"<DUT vendorid=\"abCD\" deviceid=\"zz\"/><DUT VENDORID=\"12345\"/>", "duts=2 0=3:abcd:0:~ 1=1:2345:ffff:~"},
    {"<DUTConfig offset=\" 1f\" length=\"10\" incr=\"7fff\"/>", "off=1f len=10 incr=32767"},
    {"<dutconfig INCR=\"-10\" offset=\"-1\"/>", "incr=-16 off=1 len=4"}, /* only incr takes a sign */
    {"<PCIEBaseAddress a=\"0xFEDCBA9876543210\"/>", "base=fedcba9876543210"},
    /* Decimal as atoi reads it, cut to the field; subsystem IDs set no flag. */
    {"<DUT subsysvendor=\"4660\" subsysdeviceid=\"70000\"/>", "0=0:ffff:ffff:ffff.ff.ff:ffffff:1234:1170"},
    {"<DUT bus=\"300\" device=\"300\" function=\" +7z\"/>", "0=1000:ffff:ffff:12c.2c.7:ffffff:ffff:ffff"},
    {"<DUT bus=\"-1\" device=\"abc\" function=\"12abc\"/>", "0=1000:ffff:ffff:ffff.0.c:ffffff:ffff:ffff"},
    {"<ReplayCount n=\"-12\"/><DUTSerrEnable v=\"65536\"/>", "replay=-12 serr=0"},
    /* Every DUT element adds an entry with flags of its own, wherever it stands; text carries nothing. */
    {"<DUT vendorid=\"10ee\"/><DUT bus=\"4\"/>", "duts=2 0=1:10ee:ffff:~ 1=1000:ffff:ffff:4.ff.ff:ffffff:ffff:ffff"},
    {"<DUT colour=\"red\"/><dut/><Tests/>", "duts=2 0=0:U 1=0:U"},
    {"<g><DUT bus=\"9\">text <ReplayCount n=\"8\">42</ReplayCount></DUT></g><ReplayCount>13</ReplayCount>",
        "replay=8 duts=1 0=1000:ffff:ffff:9.ff.ff:ffffff:ffff:ffff"},
    /* Names and modes in any case; the first attribute, any name; the last wins; none or other names: no change. */
    {"<TEST MODE='SIMULATION'/>", "mode=2"},
    {"<test Mode='addin'/>", "mode=1"},
    {"<Test mode='AddIn'/><Test mode='Platform'/>", "mode=0"},
    {"<Test mode=\"bench\" other=\"simulation\"/><Tests mode=\"platform\"/>", "mode=77"},
    {"<replaycount x=\"9\"/><Replay n=\"1\"/><pciebaseaddress x=\"c0000000\"/>", "replay=9 base=c0000000"},
    {"<ReplayCount times=\"5\" n=\"6\"/><User login=\"bob\" name=\"carol\"/>", "replay=5 user=bob"},
    {"<ReplayCount n=\"5\"/><ReplayCount/><!-- <ReplayCount n=\"9\"/> --><PCIEBaseAddress/><DUTSerrEnable/>",
        "replay=5 base=e0000000 serr=1"},
    /* File names: slashes turned into backslashes, the INI file name copied into an empty application one. */
    {"<QORBINIFileName f=\"a/b.ini\"/><AppINIFileName f=\"c/d/e.ini\"/>", "ini=a\\b.ini app=c\\d\\e.ini"},
    {"<AppINIFileName f=\"app.ini\"/><QORBINIFileName f=\"a/b.ini\"/>", "ini=a\\b.ini app=app.ini"},
    {"<QORBINIFileName f=\"one\"/><qorbinifilename f=\"two\"/><QORBINIFileName/>", "ini=two app=one"},
    {"<User n=\"first\"/><User n=\"second\"/><User/><qorbinifilepath p=\"x/y\"/>", "user=second path=x\\y"},
};

TEST(DatFile, ValuesNamesBlocksAndTheExample) {
    for (const auto& [elements, words] : kConversions) {
        Parsed p("<p>" + std::string(elements) + "</p>");
        EXPECT_EQ(std::tuple(p.status, p.err), std::tuple(QORB_SUCCESS, "")) << elements;
        ExpectWords(elements, p.dat, words);
    }
    /* Names longer than 999 characters are cut, but for the user name; the first free releases it. */
    std::string name = Repeat(120, "abcdefghi/"), cut = Backslashed(name.substr(0, 999));
    Parsed p("<p><QORBINIFilePath v='" + name + "'/><QORBINIFileName v='" + name + "'/><User v='" + name + "'/></p>");
    ExpectWords("long names", p.dat, "path=" + cut + " ini=" + cut + " app=" + cut + " user=" + name);
    QORB_FreeDatInfo(&p.dat), QORB_FreeDatInfo(nullptr);
    EXPECT_EQ(p.dat.userName, nullptr);
    /* The file is read in 512-byte blocks: values straddling a boundary are read whole; a file of whole blocks
     * (an empty last block) and a backslashed path are read. */
    for (size_t pad = 470; pad <= 530; ++pad) {
        std::string user(600, 'u');
        Parsed q("<p><!--" + std::string(pad, 'x') + "--><ReplayCount n=\"123456789\"/><User n=\"" + user
            + "\"/><DUT vendorid=\"BEEF\"/></p>\n" + std::string(pad, '\n'));
        EXPECT_EQ(q.status, QORB_SUCCESS) << pad << q.err;
        ExpectWords(std::to_string(pad), q.dat, "replay=123456789 0=1:beef:ffff:~ user=" + user);
    }
    std::string text = "<p><ReplayCount n=\"31\"/></p>";
    WriteFile(p.dir.File("sub/p.xml"), text + std::string(1024 - text.size(), '\n'));
    p.File(Backslashed(p.dir.Path()) + "\\sub\\p.xml");
    EXPECT_EQ(std::tuple(p.status, p.dat.replayCount), std::tuple(QORB_SUCCESS, 31));
    /* The example file of the built-in platform: every DUT is found where it is. */
    p.File(QORB_SOURCE_DIR "/examples/builtin-platform.xml");
    EXPECT_EQ(std::tuple(p.status, p.err), std::tuple(QORB_SUCCESS, ""));
    ExpectWords("example", p.dat,
        "mode=2 user=qorb_user duts=4 path=ini\\ ini=ini\\VERDAapp.ini app=ini\\VERDAapp.ini replay=3 "
        "base=e0000000 incr=4 off=10 len=4 serr=1 0=3:5153:1010:ffff.ff.ff:ffffff:ffff:ffff "
        "1=1000:ffff:ffff:6.0.0:ffffff:ffff:ffff 2=1003:5153:1050:9.0.0:ffffff:ffff:ffff "
        "3=1003:5153:1012:4.0.1:ffffff:5153:1012");
    const uint32_t where[] = {0x031010, 0x061020, 0x091050, 0x041012}; /* bus, device ID */
    SimPlatform platform;
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    for (int i = 0; i < 4; ++i) {
        void* dut = nullptr;
        uint8_t bus = 0, dev = 0, fn = 0;
        uint16_t vendor = 0, device = 0;
        ASSERT_EQ(FindDevice(platform.Instance(), &dut, p.dat.dutFindFlags[i], &p.dat.dutFindInfo[i]), QORB_SUCCESS);
        EXPECT_EQ(QORB_GetDeviceProperties(dut, &bus, &dev, &fn, &vendor, &device), QORB_SUCCESS);
        EXPECT_EQ(std::tuple(bus << 16 | device, dev, fn, vendor), std::tuple(where[i], 0, i == 3, 0x5153)) << i;
        CloseDevice(dut);
    }
}

/* Failures and warnings: status, stderr, and what the record holds after. */
TEST(DatFile, FailuresAndWarningsAreReported) {
    const std::string expat = "EXPAT XML PARSER . ERROR (desc(", dut = "<DUT bus=\"#\" vendorid=\"1#\"/>\n",
                      error = "***ERROR***. FILE[Source/qorb_parse_dat.cpp] LINE[n] ", open = error + "cannot open",
                      drop = "***WARNING***. FILE[Source/qorb_parse_dat.cpp] LINE[n] ",
                      dropped = " DUT element(s) beyond the first 100 dropped from file[DIR/dat.xml]\n";
    /* Text of the file (none: DIR/no/dat.xml is missing; "/": the scratch folder), status, stderr, replay count
     * and DUT count of the record. */
    const std::tuple<std::string, _QORB_STATUS_t, std::string, int, int> rows[] = {
        {"", QORB_NO_DAT_FILE, open + " file[DIR/no/dat.xml]\n", 3, 0},
        {"/", QORB_NO_DAT_FILE, open + " file[DIR]\n", 3, 0},
        {"  ", QORB_NO_DAT_FILE, expat + "no element found))  in dat file at line 1\n", 3, 0},
        {"\n\nplatform\n", QORB_NO_DAT_FILE, expat + "syntax error))  in dat file at line 3\n", 3, 0},
        {"<p>\n<ReplayCount n=\"6\"/>\n<DUT bus=\"1\">\n</p>\n<ReplayCount n=\"7\"/>", QORB_NO_DAT_FILE,
            expat + "mismatched tag))  in dat file at line 4\n", 6, 1},
        {"<p>\n" + Repeat(60, "  <ReplayCount n=\"#\"/>\n") + "<DUT bus=\"1\" bus=\"2\"/>\n</p>\n", QORB_NO_DAT_FILE,
            expat + "duplicate attribute))  in dat file at line 62\n", 59, 0},
        {"<p>" + Repeat(100, dut) + "</p>", QORB_SUCCESS, "", 3, 100},
        {"<p>" + Repeat(101, dut) + "<ReplayCount n=\"21\"/></p>", QORB_SUCCESS, drop + "1" + dropped, 21, 100},
        {"<p>" + Repeat(350, dut) + "</p>", QORB_SUCCESS, drop + "250" + dropped, 3, 100},
        {"<p>" + Repeat(102, dut) + "<broken", QORB_NO_DAT_FILE,
            expat + "unclosed token))  in dat file at line 103\n" + drop + "2" + dropped, 3, 100},
    };
    for (const auto& [text, status, message, replays, duts] : rows) {
        Parsed p;
        text.size() > 1 ? p.Text(text) : p.File(text.empty() ? p.dir.File("no/dat.xml") : p.dir.Path());
        EXPECT_EQ(std::tuple(p.status, p.err, p.dat.replayCount, p.dat.dutCount, p.dat.testMode),
            std::tuple(status, message, replays, duts, 77u));
        for (int i = 0; i < p.dat.dutCount && duts == 100; ++i)
            ASSERT_EQ(std::tuple(p.dat.dutFindInfo[i].busNumber, p.dat.dutFindFlags[i]),
                std::tuple(i, QORB_FIND_LOCATION | QORB_FIND_VENDOR_ID));
    }
    Parsed p;
    CaptureFd err(2);
    EXPECT_EQ((std::pair{parseDatFile(nullptr, &p.dat), p.dat.replayCount}), std::pair(QORB_NO_DAT_FILE, 3));
    EXPECT_EQ(parseDatFile(const_cast<char*>("x.xml"), nullptr), QORB_NO_DAT_FILE);
    EXPECT_EQ(std::regex_replace(err.Text(), std::regex("LINE\\[[0-9]+\\]"), "LINE[n]"),
        open + " file[(null)]\n" + error + "no record to fill for file[x.xml]\n");
}

} // namespace
