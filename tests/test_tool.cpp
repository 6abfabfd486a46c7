/* The qorb tool: its helpers called directly, then the tool on the simulated driver, one row per command line. */
#include <gtest/gtest.h>
#include <algorithm>
#include <sstream>
#include <qorb_common/trace_entry.h>
#include "checklist.h"
#include "config_rules.h"
#include "json.h"
#include "names.h"
#include "qorb_test_support.h"
#include "regspec.h"
#include "selector.h"
#include "trace.h"

using namespace qorbcli;
using namespace qorbtest;

namespace {
/* expected if the text matches it (all of it; after a '~', lines in this order, those after '!' nowhere). */
std::string Seen(const std::string& text, const std::string& expected) {
    std::istringstream lines(expected.substr(expected.empty() ? 0 : 1));
    size_t at = 0;
    for (std::string line; expected[0] == '~' && std::getline(lines, line);) {
        size_t found = text.find(line[0] == '!' ? line.substr(1) : line, line[0] == '!' ? 0 : at);
        if ((found == std::string::npos) != (line[0] == '!')) return text;
        at = line[0] == '!' ? at : found + line.size();
    }
    return expected[0] == '~' ? expected : text;
}
/* The texts joined with '|', each cut to its fragment of expected (between '|') when it holds it. */
std::string Cut(const std::vector<std::string>& texts, const std::string& expected) {
    std::istringstream fragments(expected);
    std::string out, part;
    for (const std::string& text : texts) {
        if (!std::getline(fragments, part, '|') || text.find(part) == std::string::npos) part = text;
        out += (out.empty() ? "" : "|") + part;
    }
    return out;
}
std::vector<uint8_t> Image(const ConfigSpace& f, size_t n) { return {f.Bytes().begin(), f.Bytes().begin() + long(n)}; }
/* 00:01.0, a root port above 01:00.0, an endpoint with Link Status 0 (valid); as Linux shows them to users, 64-byte
 * functions: 02:00.0 with a CardBus header, 03:00.0 with a capability list that cannot be read (not "none"). */
std::string SmallPlatform() {
    ConfigSpace host, port, ep, cardBus(64), headerOnly(64);
    host.Header(0x5153, 0x1000, 0x06, 0x00, 0x00, 0x00);
    port.Header(0x5153, 0x1001, 0x06, 0x04, 0x00, 0x01).Buses(0, 1, 1).CapPointer(0x40).PcieCap(0x40, 4, 0x80);
    port.Set32(0x4c, 0x43).Set16(0x52, 0x2043).LegacyCap(0x80, 0x01, 0x00).ExtCap(0x100, 0x0001, 0);
    ep.Header(0x5153, 0x2000, 0x02, 0x00, 0x00, 0x00).Set8(0x08, 0x03).Set32(0x10, 0xf7c0000c).CapPointer(0x40);
    ep.LegacyCap(0x40, 1, 0x50).PcieCap(0x50, 0, 0).Set32(0x5c, 0x43).ExtCap(0x100, 1, 0x140).ExtCap(0x140, 3, 0);
    cardBus.Header(0x5153, 0x3000, 0x05, 0x00, 0x00, 0x02).CapPointer(0x40);
    headerOnly.Header(0x8086, 0x10d3, 0x02, 0x00, 0x00, 0x00).CapPointer(0xc8);
    return DumpText({{0, 0, 0, host}, {0, 1, 0, port}, {1, 0, 0, ep}, {2, 0, 0, cardBus}, {3, 0, 0, headerOnly}});
}
/* A test card (07:00.0, 08:00.0) above 09:00.0, whose extended list leads back to Power Management at 0x40: the
 * library's AER, unknown to the card; its Correctable Error Status is the MSI header at 0x50 (Receiver Error). */
std::string CardPlatform() {
    ConfigSpace up, down, dut;
    up.Header(0x5a45, 0x0001, 0x06, 0x04, 0x00, 0x01).Buses(7, 8, 9);
    down.Header(0x5a45, 0x0002, 0x06, 0x04, 0x00, 0x01).Buses(8, 9, 9).CapPointer(0x40).PcieCap(0x40, 6, 0);
    dut.Header(0x5153, 0x1050, 0x11, 0x80, 0x00, 0x00).CapPointer(0x60).PcieCap(0x60, 0, 0x50);
    dut.LegacyCap(0x50, 0x05, 0x40).LegacyCap(0x40, 0x01, 0x00).ExtCap(0x100, 0x0003, 0x040);
    return DumpText({{7, 0, 0, up}, {8, 0, 0, down}, {9, 0, 0, dut}});
}

constexpr const char* kSmall = "[platform]\ndump = small.txt\n[link]\ntraining_ms = 0\n";
constexpr const char* kAerSet = "[function 06:00.0]\naer_correctable = 0x40\naer_uncorrectable = 0x100000\n";
/* qorbsim.ini, command line, exit status, standard error and output; "@FILE" matches a file the run before wrote. */
struct Row {
    const char *ini, *args;
    int status;
    const char *err, *out = "";
};
class Tool : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef QORB_TOOL_PATH
        GTEST_SKIP() << "the qorb tool is not built";
#endif
        auto dut = [](int bus) { return "<DUT bus=\"" + std::to_string(bus) + "\" device=\"0\" function=\"0\"/>"; };
        WriteFile("small.txt", SmallPlatform()), WriteFile("card.txt", CardPlatform()), WriteFile("none.xml", "<p/>");
        WriteFile("one.xml", "<p>" + dut(6) + "</p>"), WriteFile("small.xml", "<p>" + dut(1) + dut(3) + "</p>");
        WriteFile("card.xml", "<p>" + dut(9) + "</p>");
        WriteFile("absent.xml", "<p><DUT vendorid=\"dead\" deviceid=\"beef\"/></p>");
    }
    void Run(std::initializer_list<Row> rows) {
        for (const Row& row : rows) {
            std::string where = std::string("qorb ") + row.args + "\n" + row.ini, out;
            int status = row.status;
            if (row.args[0] == '@') out = ReadFile(row.args + 1);
            else {
                WriteFile("qorbsim.ini", row.ini);
                out = RunCommand("'" QORB_TOOL_PATH "' " + std::string(row.args) + " 2>err.txt </dev/null", &status);
                EXPECT_EQ(Seen(ReadFile("err.txt"), row.err), row.err) << where;
            }
            EXPECT_EQ(status, row.status) << where << "\n" << out << ReadFile("err.txt");
            EXPECT_EQ(Seen(out, row.out), row.out) << where;
        }
    }
    ScratchDir m_dir;
};
} // namespace

TEST(ToolCli, SelectorsAndRegisterOperands) {
    /* -s or -d; the error (its start) or bus, slot, function / vendor, device, class (-1: any; 5: left alone) */
    const std::vector<std::tuple<const char*, bool, std::string, int, int, int>> selectors
        = {{"1c", true, "", -1, 0x1c, -1}, {"2:", true, "", 2, -1, -1}, {"0000:ff:1f.7", true, "", 0xff, 0x1f, 7},
            {"*:*.*", true, "", -1, -1, -1}, {"100:0.0", true, "Invalid bus", 5, 5, 5}, {"1:0:0.0", true, "", 0, 0, 0},
            {"1:2:0:0.0", true, "Invalid slot selector (too many", 5, 5, 5},
            {"10ee:7024:0604", false, "", 0x10ee, 0x7024, 0x0604}, {"1:2:10000", false, "Invalid class", 5, 5, 5},
            {"18086:1", false, "Invalid vendor", 5, 5, 5}};
    for (const auto& [text, slot, error, a, b, c] : selectors) {
        SlotSelector s{5, 5, 5};
        IdSelector d{5, 5, 5};
        std::string why = slot ? ParseSlotSelector(text, &s) : ParseIdSelector(text, &d);
        EXPECT_EQ(why.substr(0, error.size()), error) << text;
        EXPECT_EQ(
            slot ? std::tuple(s.bus, s.dev, s.fn) : std::tuple(d.vendor, d.device, d.classCode), std::tuple(a, b, c));
    }
    /* the operand, with a value; the error (its start) or base, capability, offset, width =value/mask */
    const std::vector<std::tuple<const char*, bool, std::string>> operands
        = {{"CAPABILITIES", false, "A 0 34 1 =0/ffffffff"}, {"cap10.b", false, "L 10 0 1 =0/ffffffff"},
            {"ECAP0019+8.l", false, "E 19 8 4 =0/ffffffff"}, {"status=4:4", true, "A 0 6 2 =4/4"},
            {"BRIDGE_CONTROL+1.l=ffffffff", true, "A 0 3f 4 =ffffffff/ffffffff"},
            {"0x04.b=0x100", true, "Invalid value \"0x100\" for a 8-bit register in 0x04.b=0x100"},
            {"0x10.q", false, "Invalid width \"q\""}, {"COMMAND=1:10000", true, "Invalid mask \"10000\""},
            {"0x04.w=1", false, "Unexpected value"}, {"NOSUCH.w", false, "Unknown register \"NOSUCH\""},
            {"CAP_NOPE", false, "Unknown capability name"}, {"ECAPzz+zz", false, "Invalid offset"},
            {"cap100.b", false, "Invalid capability ID in cap100"}};
    for (const auto& [text, write, expected] : operands) {
        RegisterSpec r;
        std::string got = ParseRegisterSpec(text, write, &r);
        std::string fields = std::string(1, "ALE"[r.base]) + " " + Hex(r.capId, 1) + " " + Hex(r.offset, 1) + " "
            + std::to_string(r.width) + " =" + Hex(r.value, 1) + "/" + Hex(r.mask, 1);
        EXPECT_EQ((got.empty() ? fields : got).substr(0, expected.size()), expected) << text;
    }
    EXPECT_EQ(CheckRegisterAddress(0xffc, 4) + CheckRegisterAddress(0xfff, 2),
        "Register number fff out of range for a 16-bit access: configuration space has 4096 bytes, 000 to fff");
    EXPECT_EQ(XmlEscape("<a & 'b' \"c\">\x01\n"), "&lt;a &amp; &apos;b&apos; &quot;c&quot;&gt;?\n");
    EXPECT_EQ(JsonQuote("a\"b\\\n\r\t\x01"), "\"a\\\"b\\\\\\n\\r\\t\\u0001\"");
}

TEST(ToolCli, ConfigurationRules) {
    /* vendor, device, class, header type, Capabilities Pointer, Status bit, buses, port type, size; problems */
    const std::vector<std::tuple<int, int, int, int, int, int, int, int, int, size_t, const char*>> headers
        = {{0x1234, 1, 0x0200, 0, 0x40, 1, 0, 0, 0, 256, ""}, {0x1234, 1, 0x0200, 0, 0, 0, 0, 0, -1, 256, ""},
            {0, 1, 0x0200, 0, 0x20, 1, 0, 0, 4, 256, "ID 0000|Root Port, which has a type 1|class 0200 of|Pointer 20"},
            {0x1234, 1, 0x0604, 1, 0x40, 1, 3, 2, 0, 256,
                "Endpoint, which has a type 0|02 is below the Secondary Bus Number 03"},
            {0xffff, 0xffff, 0x0604, 2, 0x42, 1, 0, 0, 6, 256, "ID ffff|ID ffff|type 02 is neither|Pointer 42 is not"},
            {0x1234, 1, 0x0200, 0, 0, 0, 0, 0, 0, 256, "List bit of the Status register is clear"},
            {0x1234, 1, 0x0200, 0, 0, 1, 0, 0, -1, 256, "is set but the Capabilities Pointer is 00"},
            {0x1234, 1, 0x0200, 0, 0x40, 1, 0, 0, 0, 32, "the configuration header could not be read"}};
    for (const auto& [vendor, device, cls, type, pointer, capBit, sec, sub, portType, size, problems] : headers) {
        ConfigSpace f(256);
        f.Header(vendor, device, cls >> 8, cls & 0xff, 0, type).Buses(0, sec, sub).Set8(0x34, pointer);
        EXPECT_EQ(Cut(CheckHeader(Image(f.Set8(0x06, capBit ? 0x10 : 0), size), portType), problems), problems);
    }
    /* Capabilities register (version, port type), Link Capabilities, Link Status; problems|notes */
    const std::vector<std::tuple<uint16_t, uint32_t, uint16_t, std::string>> links
        = {{0x0002, 0x83, 0x104, "x16 exceeds the maximum x8|16GT/s exceeds the maximum 8GT/s|Endpoint|link x16"},
            {0x0051, 0x83, 0, "width x0 is not a valid|speed code 0 is not|version 1, Upstream Port|link x0"},
            {0x0042, 0x83, 0, "version 2, Root Port|link down (capable of x8 at 8GT/s)"},
            {0x0062, 0x83, 0x43, "version 2, Downstream Port|link x4 at 8GT/s, capable of x8"},
            {0x0092, 0, 0, "version 2, Root Complex Integrated Endpoint"},
            {0x0002, 0x37, 0x37, "speed (7)|width (x3)|width x3 is not|code 7 is not|Endpoint|x3 at unknown"},
            {0x0033, 0x83, 0x43, "capability version 3 is neither 1 nor 2|Device/Port Type 3 is reserved"},
            {0x00b2, 0x83, 0x43, "Device/Port Type 11 is reserved"}};
    for (const auto& [flags, linkCap, linkStatus, report] : links) {
        _PCIE_CAPABILITY_STRUCT_t cap{};
        cap.pcieCapabilities = flags, cap.linkCapabilities = linkCap, cap.linkStatus = linkStatus;
        std::vector<std::string> notes, texts = CheckPcieCapability(cap, &notes);
        texts.insert(texts.end(), notes.begin(), notes.end());
        EXPECT_EQ(Cut(texts, report), report);
    }
    using Caps = std::vector<std::array<uint16_t, 3>>; /* offset, ID, next */
    const Caps good = {{0x40, 1, 0x50}, {0x50, 0x10, 0x70}, {0x70, 0x11, 0}}, loop = {{0x40, 1, 0x50}, {0x50, 5, 0x40}};
    const Caps twice = {{0x40, 0x10, 0x80}, {0x80, 0x10, 0}}, twiceExt = {{0x100, 1, 0x200}, {0x200, 1, 0}};
    /* Capabilities Pointer, lists, space size; problems|notes */
    const std::vector<std::tuple<uint8_t, Caps, Caps, size_t, std::string>> lists = {
        {0x40, good, {{0x100, 1, 0x140}, {0x140, 3, 0}}, 4096, ""},
        {0x40, good, {{0x100, 1, 0}}, 256, "the extended configuration space could not be read"},
        {0x40, loop, {}, 4096, "the legacy list loops back to 40|no extended"},
        {0x40, {{0x40, 1, 0x61}}, {{0x100, 2, 0x182}}, 4096, "pointer 61 is not dword|extended pointer 182 is not"},
        {0x40, {{0x40, 1, 0x10}}, {{0x100, 2, 0x0c0}}, 4096, "pointer 10 points into|pointer 0c0 lies outside the"},
        {0x40, twice, twiceExt, 4096, "PCI Express capability appears 2 times|Reporting capability appears 2 times"},
        {0, {}, {{0x100, 2, 0x180}, {0x180, 3, 0x100}}, 4096, "extended list loops back to 100|no legacy"},
        {0x40, good, {}, 4096, "no extended capability list"}};
    for (const auto& [pointer, legacy, extended, size, report] : lists) {
        ConfigSpace f = ConfigSpace().Header(0x1234, 0x0001, 0x02, 0x00, 0x00, 0x00).CapPointer(pointer);
        for (const auto& [offset, id, next] : legacy) f.LegacyCap(uint8_t(offset), uint8_t(id), uint8_t(next));
        for (const auto& [offset, id, next] : extended) f.ExtCap(offset, id, next);
        CapListReport r = CheckCapabilityLists(Image(f, size));
        r.problems.insert(r.problems.end(), r.notes.begin(), r.notes.end());
        EXPECT_EQ(Cut(r.problems, report), report);
    }
}

/* Trace copies: entries of marker f1, kind and payload length in dwords (the common format), then payload. */
TEST(ToolCli, TraceDecodedAndTallied) {
    const std::vector<uint8_t> cfgRd = {0x04, 0, 0, 1, 0, 0, 1, 0x0f, 0x02, 0x00, 0x01, 0x04};
    std::vector<uint8_t> copy;
    for (const auto& [kind, payload] : std::vector<std::pair<uint8_t, std::vector<uint8_t>>>{
             {0, {0x20, 0, 0, 1, 1, 0, 6, 15, 0, 0, 0, 1, 0xf7, 0xc0, 0, 0x13}}, {3, {0, 0x82, 2, 0, 0x40, 0, 0, 0}},
             {3, {0, 0x10, 0, 1, 0x23, 0, 0, 0}}, {5, {}}, {1, {0x4a, 0, 0, 1, 0, 0xe0, 0x20, 4, 1, 0, 7, 0}},
             {2, cfgRd}, {0, cfgRd}, {0, {0, 0, 0, 1, 0, 0, 3, 15, 0, 0, 0, 0}}, {0, {0x7f, 0, 0, 1}},
             {0, {0x40, 0, 0, 1, 0, 0, 2, 15, 0xf7, 0xc0, 0, 0x10, 9, 9, 9, 9}},
             {1, {0x4a, 0, 0, 1, 2, 0, 0, 4, 0, 0, 1, 0}}}) {
        copy.resize(copy.size() + qorb_trace::kHeaderBytes);
        qorb_trace::WriteHeader(&copy.end()[-8], kind, uint16_t(payload.size() / 4));
        copy.insert(copy.end(), payload.begin(), payload.end());
    }
    std::string stop = "x";
    std::vector<TraceEntry> entries = WalkTrace(copy, &stop);
    std::vector<std::string> texts(entries.size());
    std::transform(entries.begin(), entries.end(), texts.begin(), DescribeEntry);
    const std::string expected = "TLP MRd64 len 1 req 01:00.0 tag 06 addr 00000001f7c00010|UpdateFC-P vc 2 hdr 8 data "
                                 "64|DLLP Nak vc - seq 123|other (kind 5)|CplD len 1 cpl 00:1c.0 status UR bytes 4 req "
                                 "01:00.0 tag 07|CfgRd0 len 1 req 00:00.0 tag 01 cfg 02:00.0 reg 104|CfgRd0|MRd32|TLP "
                                 "TLP(fmt 3 type 1f) len 1 (header cut short)|MWr32 len 1 req 00:00.0 tag 02 addr "
                                 "f7c00010|CplD len 1 cpl 02:00.0 status SC";
    EXPECT_EQ(Cut(texts, expected) + stop, expected);
    TraceTally t = TallyTrace(entries);
    EXPECT_EQ(std::tuple(t.tlps, t.dllps, t.replays, t.requests, t.completions, t.urCompletions),
        std::tuple(8u, 2u, 1u, 3u, 2u, 1u));
    for (const auto& [tail, why] : std::vector<std::pair<std::vector<uint8_t>, std::string>>{
             {{0, 0, 0, 0, 0, 0, 0, 0}, "no entry marker at offset 200"},
             {{0xf1}, "a partial entry header at offset 200"},
             {{0xf1, 0, 200, 0, 0, 0, 0, 0}, "an entry at offset 200 runs past the end"}}) {
        std::vector<uint8_t> bad = copy;
        bad.insert(bad.end(), tail.begin(), tail.end());
        EXPECT_EQ(WalkTrace(bad, &stop).size(), entries.size());
        EXPECT_EQ(stop, why);
    }
}

TEST_F(Tool, InspectsAndDrivesFunctions) {
    Run({{kSmall, "scan", 0, "",
             "~00:00.0 0600: 5153:1000 Host bridge [conventional PCI]\n00:01.0 0604: 5153:1001 PCI bridge [Root Port]\n"
             "01:00.0 0200: 5153:2000 (rev 03) Ethernet controller [Endpoint]\n03:00.0 0200: 8086:10d3\n!(rev 00)\n"
             "!prog"},
        {kSmall, "scan --json -d ::0600", 0, "", "~[\n  {\n    \"slot\": \"00:00.0\",\n    \"port_type\": null,\n"},
        {kSmall, "tree", 0, "",
            "-+-[0000:00]-+-00.0\n |           \\-01.0 (x4 8GT/s; max x4 8GT/s)-[01]----00.0\n +-[0000:02]---00.0\n "
            "\\-[0000:03]---00.0\n"},
        {kSmall, "caps -d :2000", 0, "",
            "01:00.0 5153:2000 Ethernet controller\n  [40] 01 Power Management, size 0x08, library walk+ lookup+\n  "
            "[50] 10 Express, size 0x34, library walk+ lookup+\n  [100 v1] 0001 Advanced Error Reporting, size 0x2c, "
            "library walk+ lookup+\n  [140 v1] 0003 Device Serial Number, size 0x0c, library walk+ lookup+\n"},
        {kSmall, "caps -s 02:00.0", 0, "", "02:00.0 5153:3000 RAM memory\n  (no capabilities)\n"},
        {kSmall, "caps -s 03:00.0", 1, "",
            "~03:00.0 8086:10d3 Ethernet controller: Intel Corporation 82574L\n  finding: the legacy list at c8 cannot "
            "be read: only 64 bytes\n!(no capab"},
        {kSmall, "caps --json", 1, "", "~\"capabilities\": []\n\"offset\": 256,\n\"size\": 44,\n\"findings\": [\n  "},
        {kSmall, "read -s 1: 0x10.l VENDOR_ID CAP_EXP+12.w ECAP_AER+0.l", 0, "", "f7c0000c\n5153\n0000\n14010001\n"},
        {kSmall, "read -v -s 01:00.0 COMMAND CAP_EXP+0.b", 0, "", "01:00.0 @004 = 0000\n01:00.0 @050 = 10\n"},
        {kSmall, "write -v -s 1: 0x04.w=0x0146 COMMAND=0:4", 0, "", "01:00.0 @004 <- 0146\n01:00.0 @004 <- 0142\n"},
        {kSmall, "read -s 00:00.0 CAP_EXP+0.w", 1, "qorb: 00:00.0: no capability for CAP_EXP+0.w\n"},
        {kAerSet, "aer --clear -s 06:00.0", 0, "",
            "~06:00.0 Advanced Error Reporting [100]\n  UESta:  00100000 Train- DLP- SDES- TLP- FCP- CmpltTO- "
            "CmpltAbrt- UnxCmplt- RxOF- MalfTLP- ECRC- UnsupReq+ ACSViol-\n  CESta:  00000040 RxErr- BadTLP+ BadDLLP- "
            "Rollover- Timeout- AdvNonFatalErr- CorrIntErr- HeaderOF-\n  cleared: UESta 00100000 -> 00000000, CESta "
            "00000040 -> 00000000\n"},
        {"", "aer -s 00:00.0", 1, "qorb: 00:00.0: no Advanced Error Reporting capability\n"},
        {"", "link retrain -s 06:00.0", 0, "", "06:00.0: link retrained at 00:02.0, x4 at 8GT/s\n"},
        {"", "link disable -s 06:00.0", 0, "", "06:00.0: link disabled at 00:02.0\n"},
        {"", "link enable -s 06:00.0", 0, "", "06:00.0: link enabled at 00:02.0, x4 at 8GT/s\n"},
        {"", "link retrain -s 00:02.0", 1, "~qorb: 00:02.0 has no port above its link (a root port, or not PCI"},
        {"[function 00:02.0]\nlink_training_stuck = 1\n", "link wait -s 06:00.0 --tries 2 --delay 1", 1,
            "qorb: Link Training of 00:02.0 is still set after 2 x 1 ms\n"},
        {"", "zeb info", 0, "",
            "07:00.0 ZEB test card\n  firmware 1.0, hardware 1\n  link x8 at 8GT/s\n  mode monitor, disarmed, logging "
            "running\n  trace buffer 0 of 1048576 bytes used, 0 actions\n"},
        {"", "zeb arm", 0, "", "07:00.0 armed\n"}, {"", "zeb -s 07:00.0 disarm", 0, "", "07:00.0 disarmed\n"},
        {"", "zeb mode", 0, "", "monitor\n"}, {"", "zeb mode INJECT", 0, "", "07:00.0 mode inject\n"},
        {"", "zeb inject bad-tlp --count 3 --interval 2 --tlp-type 4a", 0, "", "programmed bad-tlp (3 times)\n"}});
}

/* Bad arguments, absent devices, a driver that does not open, a file that cannot be written: status 2. */
TEST_F(Tool, RefusesWhatItCannotDo) {
    Run({{"", "", 2, "qorb: A subcommand is required (see qorb --help)\n"},
        {"", "aer --clear", 2, "~qorb: aer --clear needs -s or -d"},
        {"", "write 0x04.w=1", 2, "~qorb: write needs -s or -d"},
        {"", "zeb inject bad-dllp --dllp-type zz", 2, "qorb: --dllp-type zz: expected a hexadecimal byte\n"},
        {"", "zeb -s 06:00.0 info", 2, "~qorb: 06:00.0 is not a ZEB"}, {kSmall, "zeb arm", 2, "~qorb: no ZEB"},
        {"", "scan -s 1:2:3:4", 2, "~qorb: -s 1:2:3:4: Invalid slot"},
        {"", "read -s 06:00.0 0x11.w", 2, "qorb: Unaligned register address 011 for a 16-bit access\n"},
        {"", "read -s 05:00.0 COMMAND", 2, "qorb: no function matches -s 05:00.0\n"},
        {"", "link retrain -s 00:", 2, "~qorb: -s 00: matches 7 functions; link retrain acts on one"},
        {"", "--driver ./missing.so scan", 2, "qorb: driver ./missing.so: No such file or directory\n"},
        {"[platform]\ndump = nowhere.txt\n", "scan", 2,
            "~qorb: cannot open /\nQORB_DRIVER_INIT_FAILED (0x80000001): the configuration driver did not start "
            "(qorbsim: nowhere.txt: cannot open"},
        {"", "check --platform missing.xml", 2, "qorb: platform file missing.xml: No such file or directory\n"},
        {"", "check --platform none.xml", 2, "qorb: the platform file none.xml names no DUT\n"},
        {"", "check --platform one.xml --xml /none/log.xml", 2, "~qorb: cannot write the XML log /none/log.xml"},
        {"", "check --platform absent.xml --junit /dev/full", 2, "~qorb: cannot write the JUnit report /dev/full\n",
            "~FAIL  CFG.1.1#1.1      DUT 1 dead:beef"}});
}

TEST_F(Tool, ChecksEveryDutOfAPlatform) {
    Run({{"", "check --platform " QORB_SOURCE_DIR "/examples/builtin-platform.xml --junit junit.xml --log check.log -v",
             0, "~Now Starting Test:CFG.1.2#1.1 configuration header (09:00.0)\nWarnings (27) ]",
             "~PASS  CFG.1.1#1.1      03:00.0  DUT present: DUT 1 5153:1010 found at 03:00.0\nPASS  PHYLINK.3.1#1.1  "
             "09:00.0  link retrain: retrained from 08:00.0; 09:00.0 answers, link still x8\nPASS  DLL.4.1#1.1      "
             "09:00.0  injected Bad TLP: Bad TLP status set\nSKIP  DLL.4.1#1.1      04:00.1  injected Bad TLP: no ZEB "
             "test card above 04:00.1\nqorb check: 41 passed, 0 failed, 27 skipped; 493 rules: 466 passed, 0 "
             "failed, 27 skipped; XML log qorb-check.xml, JUnit report junit.xml\n!FAIL"},
        {"", "@junit.xml", 0, "", "~<testsuites name=\"qorb check\" tests=\"493\" failures=\"0\" skipped=\"27\""},
        {"", "@check.log", 0, "",
            "~Flow Control Protocol Error Status bit ) (Expected : SET) Actual value (SET)::\nevidence in the trace: 2 "
            "(an UpdateFC-NP DLLP"},
        {"", "check --no-link --no-inject --xml x.xml", 0, "~",
            "~builtin-platform.xml, 4 DUTs\nlink checks were turned off\ninjection was turned off\nXML log x.xml"},
        {kAerSet, "check --platform one.xml --junit junit.xml -v", 1, "~(Expected : CLEAR) Actual value (SET)::",
            "~FAIL  EM.2.1#1.1       06:00.0  AER status clear at start: AER status set at start: Unsupported Request "
            "Error, Bad TLP\nqorb check: 7 passed, 1 failed, 9 skipped"},
        {"", "@junit.xml", 1, "",
            "~<system-out>DUT 1 06:00.0 found at 06:00.0\n<failure message=\"AER status set at start: Unsupported "
            "Request Error, Bad TLP\">UESta: Train- DLP-\n<skipped message=\"no ZEB test card above 06:00.0\"/>\n"
            "!<system-out>no ZEB"},
        {kSmall, "check --platform small.xml --verbose", 1,
            "~list order: 01 10 0001 0003\n!01:00.0: configuration\n03:00.0: configuration space beyond the 64-byte",
            "~PASS  PHYLINK.3.1#1.1  01:00.0  link retrain: retrained from 00:01.0; 01:00.0 answers, link still x0 at "
            "unknown\nPASS  PHYLINK.3.2#1.1 \nheader: the configuration header cannot be read\nlists: the "
            "configuration space could not be read\n"},
        {"[platform]\ndump = card.txt\n", "check --platform card.xml --no-link -v", 1,
            "~evidence in the trace: 1 (a Nak",
            "~FAIL  EM.2.1#1.1       09:00.0  AER status clear at start: AER status set at start: Receiver Error\nFAIL "
            " DLL.4.1#1.1      09:00.0  injected Bad TLP: Bad TLP status is not set after the card injected\nFAIL  "
            "PHY.4.5#1.1      09:00.0  injected Receiver Error: Receiver Error status stays set after it was\nFAIL  "
            "DLL.4.8#1.1      09:00.0  injected Data Link Protocol Error: Data Link Protocol status is not set\nqorb "
            "check: 2 passed, 13 failed, 2 skipped"}});
}

/* examples/typical_test as an application runs it, ini/VERDAapp.ini naming the driver; its first DUT is x4. */
TEST_F(Tool, TypicalTestExample) {
#if defined(QORB_TYPICAL_TEST_PATH) && defined(QORB_SIM_DRIVER_PATH)
    std::string out
        = RunCommand("mkdir ini; echo '[DLL]\nDLLName=libqorbsim.so' >ini/VERDAapp.ini; ln -s " QORB_SIM_DRIVER_PATH
                     " .; " QORB_TYPICAL_TEST_PATH " " QORB_SOURCE_DIR "/examples/builtin-platform.xml log.xml"
                     " 2>&1 && cat log.xml");
    const char* expected = "~typical_test: passed, log log.xml\nwidth x4 within the maximum x4\n</QORBTest>";
    EXPECT_EQ(Seen(out, expected), expected);
#endif
}
