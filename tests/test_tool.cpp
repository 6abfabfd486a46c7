/* The qorb tool: its helper library called directly, then the tool itself
 * run on the simulated driver, one row per command line with its exit status
 * and output. */
#include <gtest/gtest.h>

#include <string.h>

#include <sstream>

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

/* expected when the text matches it (the whole text; or after a leading '~'
 * lines found in it in this order, those starting with '!' nowhere), else the text. */
std::string Seen(const std::string& text, const std::string& expected)
{
    std::istringstream lines(expected.substr(expected.empty() ? 0 : 1));
    size_t at = 0;
    for (std::string line; expected[0] == '~' && std::getline(lines, line);) {
        size_t found = text.find(line[0] == '!' ? line.substr(1) : line, line[0] == '!' ? 0 : at);
        if ((found == std::string::npos) != (line[0] == '!'))
            return text;
        at = line[0] == '!' ? at : found + line.size();
    }
    return expected[0] == '~' ? expected : text;
}

/* The texts joined with '|', each cut to its fragment of expected (between '|') when it holds it. */
std::string Cut(const std::vector<std::string>& texts, const std::string& expected)
{
    std::istringstream fragments(expected);
    std::string out, part;
    for (const std::string& text : texts) {
        if (!std::getline(fragments, part, '|') || text.find(part) == std::string::npos)
            part = text;
        out += (out.empty() ? "" : "|") + part;
    }
    return out;
}

std::vector<uint8_t> Image(const ConfigSpace& f, size_t n) { return {f.Bytes().begin(), f.Bytes().begin() + long(n)}; }

} // namespace

TEST(ToolCli, SelectorsAndRegisterOperands)
{
    /* -s or -d; the error; bus, slot, function or vendor, device, class (-1: any; 5: left alone) */
    const struct { const char* text; bool slot; const char* error; int a = 5, b = 5, c = 5; } selectors[] = {
        {"1c", true, "", -1, 0x1c, -1}, {"2:", true, "", 2, -1, -1}, {".3", true, "", -1, -1, 3}, {"100:0.0", true,
        "Invalid bus"}, {"0000:ff:1f.7", true, "", 0xff, 0x1f, 7}, {"*:*.*", true, "", -1, -1, -1}, {"0:20.0", true,
        "Invalid slot"}, {"0:1f.8", true, "Invalid function"}, {"1:0:0.0", true, "Invalid domain number (only domain"},
        {"x:0:0.0", true, "Invalid domain"}, {"1:2:3:4", true, "Invalid slot selector (too"}, {"1:2:3:4", false,
        "Invalid ID selector (too"}, {"10ee:7024:0604", false, "", 0x10ee, 0x7024, 0x0604}, {"1:2:10000", false,
        "Invalid class"}, {"18086:1", false, "Invalid vendor"}, {"8086:x", false, "Invalid device"},
    };
    for (const auto& row : selectors) {
        SlotSelector s{5, 5, 5};
        IdSelector d{5, 5, 5};
        std::string error = row.slot ? ParseSlotSelector(row.text, &s) : ParseIdSelector(row.text, &d);
        EXPECT_EQ(error.substr(0, strlen(row.error)), row.error) << row.text;
        EXPECT_EQ(row.slot ? std::tuple(s.bus, s.dev, s.fn) : std::tuple(d.vendor, d.device, d.classCode),
                  std::tuple(row.a, row.b, row.c)) << row.text;
    }
    using R = RegisterSpec;
    const struct { const char* text; bool write; const char* error; R::Base base = R::kAbsolute;
                   uint32_t capId = 0, offset = 0, width = 0, value = 0, mask = 0xffffffff; } operands[] = {
        {"status.b", false, "", R::kAbsolute, 0, 0x06, 1}, {"CAPABILITIES", false, "", R::kAbsolute, 0, 0x34, 1},
        {"CAP_EXP+10.w", false, "", R::kLegacyCap, 0x10, 0x10, 2}, {"cap10.b", false, "", R::kLegacyCap, 0x10, 0, 1},
        {"ECAP0019.l", false, "", R::kExtendedCap, 0x19, 0, 4}, {"COMMAND=4:4", true, "", R::kAbsolute, 0, 4, 2, 4, 4},
        {"BRIDGE_CONTROL+1.l=ffffffff", true, "", R::kAbsolute, 0, 0x3f, 4, 0xffffffff, 0xffffffff},
        {"0x04.b=0x100", true, "Invalid value \"0x100\" for a 8-bit register in 0x04.b=0x100"},
        {"0x10.q", false, "Invalid width \"q\""}, {"COMMAND=1:10000", true, "Invalid mask \"10000\""},
        {"0x04.w", true, "Missing value"}, {"0x04.w=1", false, "Unexpected value"}, {"+4.w", false, "Missing register"},
        {"NOSUCH.w", false, "Unknown register \"NOSUCH\""}, {"0x1000.b", false, "Unknown register \"0x1000\""},
        {"ECAPzz.w", false, "Invalid capability ID"}, {"CAP_NOPE", false, "Unknown capability name"}, {"COMMAND+zz",
        false, "Invalid offset"},
    };
    for (const auto& row : operands) {
        RegisterSpec r;
        EXPECT_EQ(ParseRegisterSpec(row.text, row.write, &r).substr(0, strlen(row.error)), row.error) << row.text;
        if (!*row.error) {
            EXPECT_EQ(std::tuple(r.base, r.capId, r.offset, r.width, r.hasValue, r.value, r.mask),
                      std::tuple(row.base, row.capId, row.offset, row.width, row.write, row.value, row.mask));
        }
    }
    EXPECT_EQ(CheckRegisterAddress(0xffc, 4) + CheckRegisterAddress(0xfff, 2), "Register fff lies outside the 4096-"
                                                                               "byte configuration space");
}

TEST(ToolCli, OutputFormats)
{
    EXPECT_EQ(ClassName(0x02, 0x33) + ", " + ClassName(0x77, 0x01), "Network controller, Class 7701");
    EXPECT_EQ(XmlEscape("<a & 'b' \"c\">\x01\n"), "&lt;a &amp; &apos;b&apos; &quot;c&quot;&gt;?\n");
    Json doc = Json::Object();
    doc.Set("ok", true).Set("text", "a\"b\\\n\r\t\x01").Set("list", Json::Array().Push(Json(-1)).Push(Json::Object()));
    EXPECT_EQ(doc.Set("none", Json()).Dump(), "{\n  \"ok\": true,\n  \"text\": \"a\\\"b\\\\\\n\\r\\t\\u0001\",\n"
                                              "  \"list\": [\n    -1,\n    {}\n  ],\n  \"none\": null\n}\n");
}

TEST(ToolCli, ConfigurationRules)
{
    const struct { uint16_t vendor, device, cls; uint8_t type, pointer, capBit, secondary, subordinate; int portType;
                   const char* problems; size_t size = 256; } headers[] = {
        {0x1234, 1, 0x0200, 0, 0x40, 1, 0, 0, 0, ""}, {0x1234, 1, 0x0200, 0, 0, 0, 0, 0, -1, ""},
        {0, 1, 0x0200, 0, 0x20, 1, 0, 0, 4, "Vendor ID 0000|type 00 does not match the port type Root Port, which has a "
                                            "type 1|class 0200 of a Root Port is not 0604|Pointer 20 points into"},
        {0x1234, 1, 0x0604, 1, 0x40, 1, 3, 2, 0, "type 01 does not match the port type Endpoint, which has a type 0|"
                                                  "the Subordinate Bus Number 02 is below the Secondary Bus Number 03"},
        {0xffff, 0xffff, 0x0604, 2, 0x42, 1, 0, 0, 6, "Vendor ID ffff|Device ID ffff|type 02 is neither|Pointer 42 is not"},
        {0x1234, 1, 0x0200, 0, 0, 0, 0, 0, 0, "List bit of the Status register is clear"}, {0x1234, 1, 0x0200, 0, 0,
         1, 0, 0, -1, "is set but the Capabilities Pointer is 00"},
        {0x1234, 1, 0x0200, 0, 0x40, 1, 0, 0, 0, "the configuration header could not be read", 32},
    };
    for (const auto& row : headers) {
        ConfigSpace f(256);
        f.Header(row.vendor, row.device, row.cls >> 8, row.cls & 0xff, 0, row.type);
        f.Buses(0, row.secondary, row.subordinate).Set8(0x34, row.pointer).Set8(0x06, row.capBit ? 0x10 : 0);
        EXPECT_EQ(Cut(CheckHeader(Image(f, row.size), row.portType), row.problems), row.problems);
    }
    /* Capabilities register (version, port type), Link Capabilities, Link Status; problems|notes */
    const struct { uint16_t flags; uint32_t linkCap; uint16_t linkStatus; const char* report; } links[] = {
        {0x0002, 0x83, 0x104, "width x16 exceeds the maximum x8|speed 16GT/s exceeds the maximum 8GT/s|version 2, "
                              "Endpoint|link x16 at 16GT/s, capable of x8 at 8GT/s"},
        {0x0051, 0x83, 0, "width x0 is not a valid link width|speed code 0 is not|version 1, Upstream Port|link x0"},
        {0x0042, 0x83, 0, "version 2, Root Port|link down (capable of x8 at 8GT/s)"},
        {0x0062, 0x83, 0x43, "version 2, Downstream Port|link x4 at 8GT/s"}, {0x0092, 0, 0, "Root Complex Integrated"},
        {0x0002, 0x37, 0x37, "maximum speed (7)|maximum width (x3)|width x3 is not|code 7 is not|Endpoint|x3 at unknown"},
        {0x0033, 0x83, 0x43, "capability version 3 is neither 1 nor 2|Device/Port Type 3 is reserved"},
        {0x00b2, 0x83, 0x43, "Device/Port Type 11 is reserved"},
    };
    for (const auto& row : links) {
        _PCIE_CAPABILITY_STRUCT_t cap{};
        cap.pcieCapabilities = row.flags, cap.linkCapabilities = row.linkCap, cap.linkStatus = row.linkStatus;
        std::vector<std::string> notes, texts = CheckPcieCapability(cap, &notes);
        texts.insert(texts.end(), notes.begin(), notes.end());
        EXPECT_EQ(Cut(texts, row.report), row.report);
    }
    using Caps = std::vector<std::array<uint16_t, 3>>; /* offset, ID, next */
    const Caps good = {{0x40, 1, 0x50}, {0x50, 0x10, 0x70}, {0x70, 0x11, 0}}, loop = {{0x40, 1, 0x50}, {0x50, 5, 0x40}};
    /* Capabilities Pointer, lists, space size; problems|notes */
    const struct { uint8_t pointer; Caps legacy, extended; size_t size; const char* report; } lists[] = {
        {0x40, good, {{0x100, 1, 0x140}, {0x140, 3, 0}}, 4096, ""},
        {0x40, good, {{0x100, 1, 0}}, 256, "the extended configuration space could not be read"},
        {0x40, loop, {}, 4096, "the legacy list loops back to 40|no extended capability list"},
        {0x40, {{0x40, 1, 0x61}}, {}, 4096, "legacy pointer 61 is not dword-aligned|no extended"},
        {0x40, {{0x40, 1, 0x10}}, {{0x100, 2, 0x182}}, 4096, "legacy pointer 10 points into the header|extended "
                                                             "pointer 182 is not dword-aligned"},
        {0x40, {{0x40, 0x10, 0x80}, {0x80, 0x10, 0}}, {{0x100, 1, 0x200}, {0x200, 1, 0}}, 4096,
         "the PCI Express capability appears 2 times|the Advanced Error Reporting capability appears 2 times"},
        {0, {}, {{0x100, 2, 0x180}, {0x180, 3, 0x100}}, 4096, "extended list loops back to 100|no legacy"},
        {0, {}, {{0x100, 2, 0x0c0}}, 4096, "extended pointer 0c0 lies outside the extended space|no legacy"},
        {0x40, good, {}, 128, "the configuration space could not be read"},
    };
    for (const auto& row : lists) {
        ConfigSpace f;
        f.Header(0x1234, 0x0001, 0x02, 0x00, 0x00, 0x00).CapPointer(row.pointer);
        for (const auto& [offset, id, next] : row.legacy)
            f.LegacyCap(uint8_t(offset), uint8_t(id), uint8_t(next));
        for (const auto& [offset, id, next] : row.extended)
            f.ExtCap(offset, id, next);
        CapListReport r = CheckCapabilityLists(Image(f, row.size));
        r.problems.insert(r.problems.end(), r.notes.begin(), r.notes.end());
        EXPECT_EQ(Cut(r.problems, row.report), row.report);
    }
}

/* A copy of the card's trace: entries of marker f1, kind, payload length in
 * dwords, five bytes more, then the payload. */
TEST(ToolCli, TraceDecodedAndTallied)
{
    auto copyOf = [](const std::vector<std::pair<unsigned, std::vector<uint8_t>>>& entries, std::vector<uint8_t> tail) {
        for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
            tail.insert(tail.begin(), entry->second.begin(), entry->second.end());
            tail.insert(tail.begin(), {0xf1, uint8_t(entry->first), uint8_t(entry->second.size() / 4), 0, 0, 0, 0, 0});
        }
        return tail;
    };
    const std::vector<uint8_t> cfgRd = {0x04, 0, 0, 1, 0, 0, 1, 0x0f, 0x02, 0x00, 0x01, 0x04};
    std::string stop = "x";
    std::vector<TraceEntry> entries = WalkTrace(copyOf({
        {0, {0x20, 0, 0, 1, 1, 0, 6, 15, 0, 0, 0, 1, 0xf7, 0xc0, 0, 0x13}}, {3, {0, 0x82, 0x02, 0x00, 0x40, 0, 0, 0}},
        {3, {0, 0x10, 0, 0x01, 0x23, 0, 0, 0}}, {5, {}}, {1, {0x4a, 0, 0, 1, 0, 0xe0, 0x20, 4, 1, 0, 7, 0}},
        {2, cfgRd}, {0, cfgRd}, {0, {0x00, 0, 0, 1, 0, 0, 3, 15, 0, 0, 0, 0}}, {0, {0x7f, 0, 0, 1}},
        {0, {0x40, 0, 0, 1, 0, 0, 2, 15, 0xf7, 0xc0, 0, 0x10, 9, 9, 9, 9}}, {1, {0x4a, 0, 0, 1, 2, 0, 0, 4, 0, 0, 1, 0}},
    }, {}), &stop);
    std::vector<std::string> texts;
    for (const TraceEntry& entry : entries)
        texts.push_back(DescribeEntry(entry));
    const std::string expected = "TLP MRd64 len 1 req 01:00.0 tag 06 addr 00000001f7c00010|DLLP UpdateFC-P vc 2 hdr 8 "
                                 "data 64|DLLP Nak vc - seq 123|other (kind 5)|TLP CplD len 1 cpl 00:1c.0 status UR bytes "
                                 "4 req 01:00.0 tag 07|TLP CfgRd0 len 1 req 00:00.0 tag 01 cfg 02:00.0 reg 104|CfgRd0|"
                                 "MRd32|TLP TLP(fmt 3 type 1f) len 1 (header cut short)|MWr32 len 1 req 00:00.0 tag 02 "
                                 "addr f7c00010|CplD len 1 cpl 02:00.0 status SC";
    EXPECT_EQ(Cut(texts, expected) + stop, expected);
    TraceTally t = TallyTrace(entries);
    EXPECT_EQ(std::tuple(t.tlps, t.dllps, t.replays, t.requests, t.completions, t.urCompletions),
              std::tuple(8u, 2u, 1u, 3u, 2u, 1u));
    for (const auto& [tail, why] : std::vector<std::pair<std::vector<uint8_t>, std::string>>{{{0, 0, 0, 0, 0, 0, 0, 0},
             "no entry marker at offset 20"}, {{0xf1}, "partial entry"}, {{0xf1, 0, 200, 0, 0, 0, 0, 0}, "runs past"}}) {
        size_t walked = WalkTrace(copyOf({{2, cfgRd}}, tail), &stop).size();
        EXPECT_EQ(std::to_string(walked) + Cut({stop}, why), "1" + why);
    }
}

namespace {

/* 00:01.0, a root port above 01:00.0, an endpoint whose Link Status reads 0; 64-byte functions (as Linux shows
 * them to a user): 02:00.0 with a CardBus header, 03:00.0 with a capability list that cannot be read. */
std::string SmallPlatform()
{
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

/* A test card (07:00.0, 08:00.0) above 09:00.0, whose extended list leads back to 0x40: the library takes the
 * Power Management capability there for AER, the card sets the status of the AER it knows: none. That AER's
 * Correctable Error Status is the MSI header at 0x50: Receiver Error, set and read-only. */
std::string CardPlatform()
{
    ConfigSpace up, down, dut;
    up.Header(0x5a45, 0x0001, 0x06, 0x04, 0x00, 0x01).Buses(7, 8, 9);
    down.Header(0x5a45, 0x0002, 0x06, 0x04, 0x00, 0x01).Buses(8, 9, 9).CapPointer(0x40).PcieCap(0x40, 6, 0);
    dut.Header(0x5153, 0x1050, 0x11, 0x80, 0x00, 0x00).CapPointer(0x60).PcieCap(0x60, 0, 0x50);
    dut.LegacyCap(0x50, 0x05, 0x40).LegacyCap(0x40, 0x01, 0x00).ExtCap(0x100, 0x0003, 0x040);
    return DumpText({{7, 0, 0, up}, {8, 0, 0, down}, {9, 0, 0, dut}});
}

constexpr const char* kSmall = "[platform]\ndump = small.txt\n[link]\ntraining_ms = 0\n";
constexpr const char* kAerSet = "[function 06:00.0]\naer_correctable = 0x40\naer_uncorrectable = 0x100000\n";
constexpr const char* kStuck = "[function 00:02.0]\nlink_training_stuck = 1\n";

/* The simulator's settings (qorbsim.ini), the command line, the exit status, standard output and standard
 * error. A command line "@FILE" matches the text of a file the run before wrote. */
struct Row {
    const char *ini, *args;
    int status;
    const char *out, *err = "~";
};

class Tool : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifndef QORB_TOOL_PATH
        GTEST_SKIP() << "the qorb tool is not built";
#endif
        WriteFile("small.txt", SmallPlatform());
        WriteFile("card.txt", CardPlatform());
        /* Platform files: a digit is the DUT at that bus, 'x' one found nowhere. */
        for (std::string duts : {"one.6", "two.x6", "absent.x", "none.", "small.13", "card.9"}) {
            std::string xml = "<platform>";
            for (char c : duts.substr(duts.find('.') + 1))
                xml += c == 'x' ? "<DUT vendorid=\"dead\" deviceid=\"beef\"/>"
                                : "<DUT bus=\"" + std::string(1, c) + "\" device=\"0\" function=\"0\"/>";
            WriteFile(duts.substr(0, duts.find('.')) + ".xml", xml + "</platform>\n");
        }
    }
    void Run(std::initializer_list<Row> rows)
    {
        for (const Row& row : rows) {
            std::string where = std::string("qorb ") + row.args + "\n" + row.ini, out;
            int status = row.status;
            if (row.args[0] == '@')
                out = ReadFile(row.args + 1);
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

TEST_F(Tool, InspectsAndDrivesFunctions)
{
    Run({
        {kSmall, "scan", 0, "00:00.0 0600: 5153:1000 Host bridge [conventional PCI]\n00:01.0 0604: 5153:1001 PCI bridge "
                            "[Root Port]\n01:00.0 0200: 5153:2000 (rev 03) Ethernet controller [Endpoint]\n02:00.0 "
                            "0500: 5153:3000 RAM memory [conventional PCI]\n03:00.0 0200: 8086:10d3 Ethernet "
                            "controller [conventional PCI]\n", ""},
        {kSmall, "scan --json -d ::0600", 0, "~[\n  {\n    \"slot\": \"00:00.0\",\n    \"bus\": 0,\n    \"revision\": "
                                             "\"00\",\n    \"port_type\": null,\n    \"port_type_name\": null\n  }\n]\n", ""},
        {kSmall, "tree", 0, "00:00.0 [5153:1000] Host bridge\n00:01.0 [5153:1001] Root Port\n\\- 01:00.0 [5153:2000] "
                            "Endpoint\n02:00.0 [5153:3000] RAM memory\n03:00.0 [8086:10d3] Ethernet controller\n", ""},
        {kSmall, "caps -d :2000", 0, "01:00.0 5153:2000\n  [40] 01 Power Management, length 8, next 50\n  [50] 10 "
                                     "Express, length 36, next 00\n  [100] 0001 Advanced Error Reporting, length 60, "
                                     "next 140\n  [140] 0003 Device Serial Number, length 12, next 000\n", ""},
        /* A header that announces a list that cannot be read is not "no capabilities". */
        {kSmall, "caps -s 02:00.0", 0, "02:00.0 5153:3000\n  (no capabilities)\n", ""},
        {kSmall, "caps -s 03:00.0", 1, "03:00.0 8086:10d3\n  (the capability list at c8 cannot be read: QORB :: PCIE "
                                       "CONFIG READ FAILED (0x8000001f) (reading beyond the header needs root))\n", ""},
        {kSmall, "caps --json", 1, "~\"capabilities\": []\n\"offset\": 256,\n\"length\": 60,\n\"stopped\": \"the", ""},
        {kSmall, "read -s 01:00.0 0x10.l VENDOR_ID CAP_EXP+12.w ECAP_AER+0.l 0x08.b", 0, "f7c0000c\n5153\n0000\n1401"
                                                                                          "0001\n03\n", ""},
        {kSmall, "read -v -s 01:00.0 COMMAND CAP_EXP+0.b", 0, "01:00.0 @004 = 0000\n01:00.0 @050 = 10\n", ""},
        {kSmall, "write -v -s 01:00.0 0x04.w=0x0146 COMMAND=0:4", 0, "01:00.0 @004 <- 0146\n01:00.0 @004 <- 0142\n", ""},
        {kSmall, "read -s 00:00.0 CAP_EXP+0.w", 1, "", "qorb: 00:00.0: no capability for CAP_EXP+0.w\n"},
        {kAerSet, "aer --clear -s 06:00.0", 0, "~06:00.0 Advanced Error Reporting [100]\n  UESta:  Train- DLP- SDES- TLP-"
                                              " FCP- CmpltTO- CmpltAbrt- UnxCmplt- RxOF- MalfTLP- ECRC- UnsupReq+ ACSViol"
                                              "-\n  CESta:  RxErr- BadTLP+ BadDLLP- Rollover- Timeout- AdvNonFatalErr-\n"
                                              "  cleared: UESta 00000000, CESta 00000000\n", ""},
        {"", "aer -s 00:00.0", 1, "", "~qorb: 00:00.0: no usable Advanced Error Reporting capability: QORB :: PCIE CAP"},
        {"", "link retrain -s 06:00.0", 0, "06:00.0: link retrained at 00:02.0, x4 at 8GT/s\n", ""},
        {"", "link disable -s 06:00.0", 0, "06:00.0: link disabled at 00:02.0\n", ""},
        {"", "link enable -s 06:00.0", 0, "06:00.0: link enabled at 00:02.0, x4 at 8GT/s\n", ""},
        {"", "link retrain -s 00:02.0", 1, "", "~qorb: 00:02.0 has no port above its link (a root port, or not PCI"},
        {kStuck, "link wait -s 06:00.0 --tries 2 --delay 1", 1, "", "qorb: Link Training of 00:02.0 is still set after 2"
                                                                    " x 1 ms\n"},
        {"", "zeb info", 0, "07:00.0 ZEB test card\n  firmware 1.0, hardware 1\n  link x8 at 8GT/s\n  mode monitor, "
                            "disarmed, logging running\n  trace buffer 0 of 1048576 bytes used, 0 actions\n", ""},
        {"", "zeb arm", 0, "07:00.0 armed\n", ""}, {"", "zeb -s 07:00.0 disarm", 0, "07:00.0 disarmed\n", ""}, {"",
         "zeb mode", 0, "monitor\n", ""}, {"", "zeb mode INJECT", 0, "07:00.0 mode inject\n", ""},
        {"", "zeb inject bad-tlp --count 3 --interval 2 --tlp-type 4a", 0, "programmed bad-tlp (3 times)\n", ""},
        {"", "zeb trace", 0, "(0 entries in 0 bytes)\n", ""}, {"", "zeb inject --help", 0, "~Usage:"},
    });
}

/* Bad arguments, absent devices, a driver that does not open, a file that cannot be written: status 2. */
TEST_F(Tool, RefusesWhatItCannotDo)
{
    Run({
        {"", "", 2, "", "qorb: A subcommand is required (see qorb --help)\n"}, {"", "aer", 2, "", "qorb: aer needs -s or -d\n"},
        {"", "zeb inject bad-dllp --dllp-type zz", 2, "", "qorb: --dllp-type zz: expected a hexadecimal byte\n"},
        {"", "zeb -s 06:00.0 info", 2, "", "qorb: 06:00.0 is not a ZEB test card\n"},
        {kSmall, "zeb arm", 2, "", "qorb: no ZEB test card was found\n"},
        {"", "scan -s 1:2:3:4", 2, "", "~qorb: -s 1:2:3:4: Invalid slot"}, {"", "scan -d 8086", 2, "", "~qorb: -d 8086: "},
        {"", "read -s 06:00.0 0x11.w", 2, "", "qorb: Unaligned register address 011 for a 16-bit access\n"},
        {"", "read -s 05:00.0 COMMAND", 2, "", "qorb: no function matches -s 05:00.0\n"}, {"", "write 0x04.w=1", 2, "",
         "qorb: write needs -s or -d: it does not change every function at once\n"},
        {"", "link retrain -s 00:", 2, "", "~qorb: -s 00: matches 6 functions; link retrain acts on one (for example"},
        {"", "--driver ./missing.so scan", 2, "", "qorb: driver ./missing.so: No such file or directory\n"},
        {"[platform]\ndump = nowhere.txt\n", "scan", 2, "", "~qorbsim: nowhere.txt: cannot open\nqorb: cannot open /"},
        {"", "check --platform missing.xml", 2, "", "~\nqorb: cannot read the platform file missing.xml: QORB :: NO DAT"},
        {"", "check --platform none.xml", 2, "", "qorb: the platform file none.xml names no DUT\n"},
        {"", "check --platform one.xml --xml /none/log.xml", 2, "", "~qorb: cannot write the XML log /none/log.xml: No"},
        {"", "check --platform absent.xml --junit /dev/full", 2, "~FAIL  CFG.1.1#1.1      DUT 1 dead:beef DUT present",
         "~qorb: cannot write the JUnit report /dev/full\n"},
    });
}

TEST_F(Tool, ChecksEveryDutOfAPlatform)
{
    Run({
        {"", "check --platform " QORB_SOURCE_DIR "/examples/builtin-platform.xml --junit junit.xml --log check.log", 0,
         "~PASS  CFG.1.1#1.1      03:00.0  DUT present: DUT 1 5153:1010 found at 03:00.0\nPASS  PHYLINK.1.1#1.1  "
         "09:00.0  link retrain: retrained from 08:00.0; 09:00.0 answers, link still x8\nPASS  DLL.2.1#1.1      09:00.0"
         "  injected Bad TLP: Bad TLP status set\nPASS  TXN.2.1#1.2      09:00.0  injected Completion Timeout: Completion"
         " Timeout status set\nSKIP  DLL.2.1#1.1      04:00.1  injected Bad TLP: no ZEB test card above 04:00.1\nqorb "
         "check: 37 passed, 0 failed, 27 skipped; XML log qorb-check.xml, JUnit report junit.xml\n!FAIL",
         "~INFO      capability IDs in list order: 01 05 11 10 0001 0003 0004\n"
         "INFO    Now Starting Test:CFG.1.2#1.1 configuration header (09:00.0)\nWarnings (27) ]"},
        {"", "@junit.xml", 0, "~<testsuites name=\"qorb check\" tests=\"64\" failures=\"0\" skipped=\"27\""},
        {"", "@check.log", 0, "~injected Flow Control Protocol Error (09:00.0)\n::(Adv Error Uncorrectable Status Regist"
                              "er : Flow Control Protocol Error Status bit ) (Expected : SET) Actual value (SET)::\n"
                              "evidence in the trace: 2 (an UpdateFC-NP DLLP"},
        {"", "@qorb-check.xml", 0, "~<Assertion name=\"DLL.2.1#1.1\">\n</QORBTest>"},
        {"", "check --no-link --no-inject --xml x.xml", 0, "~builtin-platform.xml, 4 DUTs\nlink retrain: link checks "
                                                           "were turned off (--no-link)\ninjected Bad TLP: error injectio"
                                                           "n was turned off (--no-inject)\nXML log x.xml"},
        {kAerSet, "check --platform one.xml --junit junit.xml", 1, "~FAIL  EM.1.1#1.1       06:00.0  AER status clear at "
                                                                   "start: AER status set at start: Unsupported Request "
                                                                   "Error, Bad TLP\nqorb check: 6 passed, 1 failed, 9 "
                                                                   "skipped", "~(Expected : CLEAR) Actual value (SET)::"},
        {"", "@junit.xml", 1, "~<system-out>DUT 1 06:00.0 found at 06:00.0\n<failure message=\"AER status set at "
                              "start: Unsupported Request Error, Bad TLP\">UESta: Train- DLP- SDES- TLP- FCP-\n"
                              "<skipped message=\"no ZEB test card above 06:00.0\"/>\n!<system-out>no ZEB"},
        {kStuck, "check --platform one.xml --tries 3", 1, "~FAIL  PHYLINK.1.1#1.1  06:00.0  link retrain: Link Training "
                                                          "of 00:02.0 is still set after 30 ms\nFAIL  PHYLINK.1.2#1.1"},
        {"", "check --platform two.xml --no-link", 1, "~FAIL  CFG.1.1#1.1      DUT 1 dead:beef DUT present: DUT 1 dead:"
                                                      "beef was not found: QORB :: \nPASS  EM.1.1#1.1       06:00.0"},
        /* 01:00.0's Link Status reads 0: a valid value, the same after the retrain. */
        {kSmall, "check --platform small.xml", 1, "~PASS  PHYLINK.1.1#1.1  01:00.0  link retrain: retrained from 00:01.0"
                                                  "; 01:00.0 answers, link still x0 at unknown\nPASS  PHYLINK.1.2#1.1 "
                                                  "\nFAIL  CFG.1.2#1.1      03:00.0  configuration header: the configura"
                                                  "tion header cannot be read\n",
         "~INFO      capability IDs in list order: 01 10 0001 0003\n!qorb check: 01:00.0: configuration space\nqorb "
         "check: 03:00.0: configuration space beyond the 64-byte header cannot be read (on Linux that needs root)\n"},
        {"[platform]\ndump = card.txt\n", "check --platform card.xml --no-link", 1,
         "~FAIL  EM.1.1#1.1       09:00.0  AER status clear at start: AER status set at start: Receiver Error\n"
         "FAIL  DLL.2.1#1.1      09:00.0  injected Bad TLP: Bad TLP status is not set after the card injected bad-tlp\n"
         "FAIL  PHY.2.1#1.1      09:00.0  injected Receiver Error: Receiver Error status stays set after it was cleared\n"
         "FAIL  DLL.2.1#1.5      09:00.0  injected Data Link Protocol Error: Data Link Protocol status is not set\n"
         "qorb check: 2 passed, 12 failed, 2 skipped", "~evidence in the trace: 1 (a Nak DLLP, 1 needed)"},
    });
}

/* examples/typical_test, run as an application runs it: ini/VERDAapp.ini names the simulated driver in the
 * current folder. The first DUT of the example file is 03:00.0, a Gen3 x4 endpoint. */
TEST_F(Tool, TypicalTestExample)
{
#if defined(QORB_TYPICAL_TEST_PATH) && defined(QORB_SIM_DRIVER_PATH)
    int status = -1;
    std::string out = RunCommand("mkdir ini && echo '[DLL]\nDLLName=libqorbsim.so' >ini/VERDAapp.ini && ln -s "
                                 QORB_SIM_DRIVER_PATH " . && " QORB_TYPICAL_TEST_PATH " " QORB_SOURCE_DIR
                                 "/examples/builtin-platform.xml log.xml 2>&1", &status);
    const char* expected = "~typical_test: passed, log log.xml\nNegotiated link width x4 within the maximum x4\nBad "
                           "TLP Status bit ) (Expected : CLEAR) Actual value (CLEAR)::\n</QORBTest>";
    EXPECT_EQ(Seen(out + ReadFile("log.xml"), expected), expected) << status;
#endif
}
