/* The qorb tool's helper library: selector and register syntax, checklist
 * rules over configuration images, trace decoding, JSON and JUnit output. */
#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <tuple>
#include <utility>

#include "checklist.h"
#include "config_rules.h"
#include "json.h"
#include "names.h"
#include "qorb_test_support.h"
#include "regspec.h"
#include "selector.h"
#include "trace.h"

using namespace qorbcli;
using qorbtest::ConfigSpace;

namespace {

std::vector<uint8_t> Image(const ConfigSpace& space, size_t size = 4096)
{
    return std::vector<uint8_t>(space.Bytes().begin(), space.Bytes().begin() + static_cast<long>(size));
}

/* A slot selector's fields (-1: any). */
std::tuple<int, int, int> Fields(const SlotSelector& s)
{
    return {s.bus, s.dev, s.fn};
}

/* A register operand's base, capability ID, offset and width. */
std::tuple<RegisterSpec::Base, uint32_t, uint32_t, uint32_t> Fields(const RegisterSpec& r)
{
    return {r.base, r.capId, r.offset, r.width};
}

bool Mentions(const std::vector<std::string>& lines, const std::string& word)
{
    for (const std::string& line : lines)
        if (line.find(word) != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST(ToolSelector, SlotFormsFollowLspci)
{
    SlotSelector s;
    ASSERT_EQ(ParseSlotSelector("01:00.0", &s), "");
    EXPECT_EQ(Fields(s), std::tuple(1, 0, 0));
    EXPECT_TRUE(s.Exact());

    ASSERT_EQ(ParseSlotSelector("1c", &s), "");  /* slot only: any bus, any function */
    EXPECT_EQ(Fields(s), std::tuple(-1, 0x1c, -1));
    EXPECT_TRUE(s.Matches(3, 0x1c, 5));
    EXPECT_FALSE(s.Matches(3, 0x1b, 5));

    ASSERT_EQ(ParseSlotSelector("2:", &s), "");  /* bus only */
    EXPECT_EQ(Fields(s), std::tuple(2, -1, -1));
    ASSERT_EQ(ParseSlotSelector(".3", &s), "");
    EXPECT_EQ(Fields(s), std::tuple(-1, -1, 3));
    ASSERT_EQ(ParseSlotSelector("0000:ff:1f.7", &s), "");
    EXPECT_EQ(Fields(s), std::tuple(0xff, 0x1f, 7));
    ASSERT_EQ(ParseSlotSelector("*:*.*", &s), "");
    EXPECT_TRUE(s.Matches(9, 9, 1));
}

TEST(ToolSelector, SlotErrorsNameTheField)
{
    SlotSelector s;
    s.bus = 5;
    EXPECT_EQ(ParseSlotSelector("100:00.0", &s), "Invalid bus number");
    EXPECT_EQ(ParseSlotSelector("00:20.0", &s), "Invalid slot number");
    EXPECT_EQ(ParseSlotSelector("00:1f.8", &s), "Invalid function number");
    EXPECT_EQ(ParseSlotSelector("zz:00.0", &s), "Invalid bus number");
    EXPECT_NE(ParseSlotSelector("0001:00:00.0", &s), "");
    EXPECT_NE(ParseSlotSelector("1:2:3:4", &s), "");
    EXPECT_EQ(s.bus, 5) << "a refused selector leaves the output alone";
}

TEST(ToolSelector, IdForms)
{
    IdSelector d;
    ASSERT_EQ(ParseIdSelector("8086:", &d), "");
    EXPECT_EQ(d.vendor, 0x8086);
    EXPECT_EQ(d.device, -1);
    EXPECT_TRUE(d.Matches(0x8086, 0x1234, 0x0200));
    ASSERT_EQ(ParseIdSelector(":1533", &d), "");
    EXPECT_FALSE(d.Matches(0x8086, 0x1534, 0));
    ASSERT_EQ(ParseIdSelector("10ee:7024:0604", &d), "");
    EXPECT_TRUE(d.Matches(0x10ee, 0x7024, 0x0604));
    EXPECT_FALSE(d.Matches(0x10ee, 0x7024, 0x0200));
    EXPECT_NE(ParseIdSelector("8086", &d), "");
    EXPECT_EQ(ParseIdSelector("18086:1", &d), "Invalid vendor ID");
    EXPECT_EQ(ParseIdSelector("8086:x", &d), "Invalid device ID");
}

TEST(ToolRegisterSpec, NumericNamedAndCapabilityOperands)
{
    using R = RegisterSpec;
    const std::pair<const char*, std::tuple<R::Base, uint32_t, uint32_t, uint32_t>> operands[] = {
        {"0x10.l", {R::kAbsolute, 0, 0x10, 4}},
        {"COMMAND", {R::kAbsolute, 0, 0x04, 2}},  /* a name brings its width */
        {"status.b", {R::kAbsolute, 0, 0x06, 1}},
        {"CAPABILITIES", {R::kAbsolute, 0, 0x34, 1}},
        {"CAP_EXP+10.w", {R::kLegacyCap, 0x10, 0x10, 2}},
        {"ECAP_AER+4.l", {R::kExtendedCap, 1, 4, 4}},
        {"ECAP0019.l", {R::kExtendedCap, 0x19, 0, 4}},
    };
    for (const auto& [text, fields] : operands) {
        RegisterSpec r;
        ASSERT_EQ(ParseRegisterSpec(text, false, &r), "") << text;
        EXPECT_EQ(Fields(r), fields) << text;
    }
}

TEST(ToolRegisterSpec, ValuesMasksAndRefusals)
{
    RegisterSpec r;
    ASSERT_EQ(ParseRegisterSpec("0x04.w=0x0146", true, &r), "");
    EXPECT_TRUE(r.hasValue);
    EXPECT_EQ(r.value, 0x0146u);
    EXPECT_EQ(r.mask, 0xffffu);
    ASSERT_EQ(ParseRegisterSpec("COMMAND=4:4", true, &r), "");
    EXPECT_EQ(r.value, 4u);
    EXPECT_EQ(r.mask, 4u);

    EXPECT_NE(ParseRegisterSpec("0x10", false, &r), "") << "a numeric offset needs a width";
    EXPECT_NE(ParseRegisterSpec("0x10.q", false, &r), "");
    EXPECT_NE(ParseRegisterSpec("0x04.b=0x100", true, &r), "") << "value wider than the register";
    EXPECT_NE(ParseRegisterSpec("0x04.w", true, &r), "") << "write without value";
    EXPECT_NE(ParseRegisterSpec("0x04.w=1", false, &r), "") << "read with value";
    EXPECT_NE(ParseRegisterSpec("NOSUCH.w", false, &r), "");
    EXPECT_NE(ParseRegisterSpec("CAP_NOPE", false, &r), "");
    EXPECT_NE(ParseRegisterSpec("0x1000.b", false, &r), "");

    EXPECT_EQ(CheckRegisterAddress(0x10, 4), "");
    EXPECT_NE(CheckRegisterAddress(0x12, 4), "");
    EXPECT_NE(CheckRegisterAddress(0xffe, 4), "");
    EXPECT_EQ(RegisterValueText(0x146, 2), "0146");
    EXPECT_EQ(RegisterValueText(0xc, 4), "0000000c");
}

TEST(ToolNames, NumbersAsLspciPrintsThem)
{
    EXPECT_EQ(SlotText(1, 0x1c, 7), "01:1c.7");
    EXPECT_EQ(ClassName(0x06, 0x04), "PCI bridge");
    EXPECT_EQ(ClassName(0x02, 0x33), "Network controller");
    EXPECT_EQ(ClassName(0x77, 0x01), "Class 7701");
    EXPECT_EQ(PortTypeName(4), "Root Port");
    EXPECT_EQ(PortTypeName(3), "Unknown type 3");
    EXPECT_EQ(ExtendedCapName(1), "Advanced Error Reporting");
    EXPECT_EQ(LegacyCapName(0x10), "Express");
    EXPECT_EQ(LegacyCapName(0xee), "");
    EXPECT_EQ(LinkSpeedText(3), "8GT/s");
}

TEST(ToolConfigRules, HeaderMatchesPortType)
{
    ConfigSpace ep;
    ep.Header(0x8086, 0x1533, 0x02, 0x00, 0x00, 0x00).CapPointer(0x40).PcieCap(0x40, 0, 0);
    EXPECT_TRUE(CheckHeader(Image(ep, 256), 0).empty());
    EXPECT_TRUE(Mentions(CheckHeader(Image(ep, 256), 4), "does not match the port type Root Port"));

    ConfigSpace rp;
    rp.Header(0x8086, 0xa110, 0x06, 0x04, 0x00, 0x01).CapPointer(0x40).Buses(0, 1, 1);
    EXPECT_TRUE(CheckHeader(Image(rp, 256), 4).empty());
    EXPECT_TRUE(Mentions(CheckHeader(Image(rp, 256), 0), "which has a type 0 header"));
    rp.Buses(0, 3, 2);
    EXPECT_TRUE(Mentions(CheckHeader(Image(rp, 256), 4), "Subordinate Bus Number"));
    rp.Buses(0, 1, 1).Set8(0x0a, 0x80);
    EXPECT_TRUE(Mentions(CheckHeader(Image(rp, 256), 4), "is not 0604"));
}

TEST(ToolConfigRules, HeaderIdentityAndPointerRules)
{
    ConfigSpace f;
    f.Header(0xffff, 0xffff, 0x02, 0x00, 0x00, 0x02).CapPointer(0x42);
    std::vector<std::string> problems = CheckHeader(Image(f, 256), -1);
    EXPECT_TRUE(Mentions(problems, "Vendor ID ffff"));
    EXPECT_TRUE(Mentions(problems, "Device ID ffff"));
    EXPECT_TRUE(Mentions(problems, "neither type 0 nor type 1"));
    EXPECT_TRUE(Mentions(problems, "42 is not dword-aligned"));

    ConfigSpace g;
    g.Header(0x1234, 0x0001, 0x02, 0x00, 0x00, 0x00).CapPointer(0x20);
    EXPECT_TRUE(Mentions(CheckHeader(Image(g, 256), -1), "points into the header"));
    g.CapPointer(0);
    EXPECT_TRUE(Mentions(CheckHeader(Image(g, 256), 0), "Capabilities List bit"));
    EXPECT_TRUE(CheckHeader(Image(g, 256), -1).empty()) << "a conventional function without capabilities is fine";
    g.Set16(0x06, 0x0010);
    EXPECT_TRUE(Mentions(CheckHeader(Image(g, 256), -1), "Pointer is 00"));
    EXPECT_FALSE(CheckHeader(std::vector<uint8_t>(32), 0).empty());
}

TEST(ToolConfigRules, CapabilityListsWellFormed)
{
    ConfigSpace f;
    f.Header(0x1234, 0x0001, 0x02, 0x00, 0x00, 0x00).CapPointer(0x40);
    f.LegacyCap(0x40, 0x01, 0x50).PcieCap(0x50, 0, 0x70).LegacyCap(0x70, 0x11, 0x00);
    f.ExtCap(0x100, 0x0001, 0x140).ExtCap(0x140, 0x0003, 0x000);
    CapListReport r = CheckCapabilityLists(Image(f));
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    EXPECT_EQ(r.legacyIds, (std::vector<uint32_t>{0x01, 0x10, 0x11}));
    EXPECT_EQ(r.extendedIds, (std::vector<uint32_t>{0x0001, 0x0003}));

    CapListReport low = CheckCapabilityLists(Image(f, 256));
    EXPECT_TRUE(low.problems.empty());
    EXPECT_TRUE(Mentions(low.notes, "extended configuration space could not be read"));
}

TEST(ToolConfigRules, CapabilityListFaultsAreFound)
{
    ConfigSpace loop;
    loop.Header(0x1234, 0x0001, 0x02, 0x00, 0x00, 0x00).CapPointer(0x40);
    loop.LegacyCap(0x40, 0x01, 0x50).LegacyCap(0x50, 0x05, 0x40);
    EXPECT_TRUE(Mentions(CheckCapabilityLists(Image(loop)).problems, "loops back to 40"));

    ConfigSpace misaligned = loop;
    misaligned.LegacyCap(0x50, 0x05, 0x61);
    EXPECT_TRUE(Mentions(CheckCapabilityLists(Image(misaligned)).problems, "61 is not dword-aligned"));

    ConfigSpace intoHeader = loop;
    intoHeader.LegacyCap(0x50, 0x05, 0x10);
    EXPECT_TRUE(Mentions(CheckCapabilityLists(Image(intoHeader)).problems, "points into the header"));

    ConfigSpace twice;
    twice.Header(0x1234, 0x0001, 0x02, 0x00, 0x00, 0x00).CapPointer(0x40);
    twice.PcieCap(0x40, 0, 0x80).PcieCap(0x80, 0, 0);
    twice.ExtCap(0x100, 0x0001, 0x200).ExtCap(0x200, 0x0001, 0);
    CapListReport r = CheckCapabilityLists(Image(twice));
    EXPECT_TRUE(Mentions(r.problems, "PCI Express capability appears 2 times"));
    EXPECT_TRUE(Mentions(r.problems, "Advanced Error Reporting capability appears 2 times"));

    ConfigSpace extLoop;
    extLoop.Header(0x1234, 0x0001, 0x02, 0x00, 0x00, 0x00);
    extLoop.ExtCap(0x100, 0x0002, 0x180).ExtCap(0x180, 0x0003, 0x100);
    EXPECT_TRUE(Mentions(CheckCapabilityLists(Image(extLoop)).problems, "extended list loops back to 100"));
    extLoop.ExtCap(0x180, 0x0003, 0x0c0);
    EXPECT_TRUE(Mentions(CheckCapabilityLists(Image(extLoop)).problems, "outside the extended space"));
    extLoop.ExtCap(0x180, 0x0003, 0x182);
    EXPECT_TRUE(Mentions(CheckCapabilityLists(Image(extLoop)).problems, "182 is not dword-aligned"));
}

TEST(ToolConfigRules, PcieLinkWithinCapabilities)
{
    _PCIE_CAPABILITY_STRUCT_t cap;
    memset(&cap, 0, sizeof cap);
    cap.capabilityId = 0x10;
    cap.pcieCapabilities = 0x0002;               /* version 2, endpoint */
    cap.linkCapabilities = 0x3 | 8 << 4;         /* 8GT/s x8 */
    cap.linkStatus = static_cast<uint16_t>(0x3 | 4 << 4); /* 8GT/s x4 */
    std::vector<std::string> notes;
    EXPECT_TRUE(CheckPcieCapability(cap, &notes).empty());
    EXPECT_TRUE(Mentions(notes, "link x4 at 8GT/s, capable of x8 at 8GT/s"));

    cap.linkStatus = static_cast<uint16_t>(0x4 | 16 << 4);
    std::vector<std::string> problems = CheckPcieCapability(cap, &notes);
    EXPECT_TRUE(Mentions(problems, "x16 exceeds the maximum x8"));
    EXPECT_TRUE(Mentions(problems, "16GT/s exceeds the maximum 8GT/s"));

    cap.linkStatus = 0;
    EXPECT_TRUE(Mentions(CheckPcieCapability(cap, &notes), "x0 is not a valid link width"));
    cap.pcieCapabilities = 0x0042;               /* a root port may have its link down */
    notes.clear();
    EXPECT_TRUE(CheckPcieCapability(cap, &notes).empty());
    EXPECT_TRUE(Mentions(notes, "link down"));

    cap.pcieCapabilities = 0x0033;               /* reserved type 3, version 3 */
    problems = CheckPcieCapability(cap, &notes);
    EXPECT_TRUE(Mentions(problems, "version 3"));
    EXPECT_TRUE(Mentions(problems, "Device/Port Type 3 is reserved"));
}

TEST(ToolConfigRules, AerDecodeAsLspci)
{
    EXPECT_EQ(DecodeCorrectable(0x40), "RxErr- BadTLP+ BadDLLP- Rollover- Timeout- AdvNonFatalErr- CorrIntErr- HeaderOF-");
    std::string unc = DecodeUncorrectable(0x00100001);
    EXPECT_EQ(unc.rfind("Train+ DLP-", 0), 0u);
    EXPECT_NE(unc.find("UnsupReq+"), std::string::npos);
}

namespace {

void Entry(std::vector<uint8_t>& copy, unsigned kind, const std::vector<uint8_t>& payload)
{
    uint16_t dwords = static_cast<uint16_t>(payload.size() / 4);
    std::vector<uint8_t> header = {0xf1, static_cast<uint8_t>(kind), static_cast<uint8_t>(dwords),
                                   static_cast<uint8_t>(dwords >> 8), 0, 0, 0, 0};
    copy.insert(copy.end(), header.begin(), header.end());
    copy.insert(copy.end(), payload.begin(), payload.end());
}

} // namespace

TEST(ToolTrace, WalkAndDecodeEntries)
{
    std::vector<uint8_t> copy;
    /* MWr32, length 1, requester 01:00.0, tag 5, address f7c00010, one data dword */
    Entry(copy, 0, {0x40, 0x00, 0x00, 0x01, 0x01, 0x00, 0x05, 0x0f, 0xf7, 0xc0, 0x00, 0x10, 1, 2, 3, 4});
    /* UpdateFC-P on VC 2: HdrFC 8, DataFC 64 */
    Entry(copy, 3, {0, 0x82, 0x02, 0x00, 0x40, 0, 0, 0});
    /* Nak for sequence 0x123 */
    Entry(copy, 3, {0, 0x10, 0, 0x01, 0x23, 0, 0, 0});
    Entry(copy, 5, {});
    /* CplD with status UR from 00:1c.0 to 01:00.0 tag 7 */
    Entry(copy, 1, {0x4a, 0, 0, 1, 0x00, 0xe0, 0x20, 0x04, 0x01, 0x00, 0x07, 0x00});
    /* CfgRd0 of 02:00.0 register 0x104 */
    Entry(copy, 2, {0x04, 0, 0, 1, 0, 0, 1, 0x0f, 0x02, 0x00, 0x01, 0x04});

    std::string stop = "x";
    std::vector<TraceEntry> entries = WalkTrace(copy, &stop);
    EXPECT_EQ(stop, "");
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(DescribeEntry(entries[0]), "TLP MWr32 len 1 req 01:00.0 tag 05 addr f7c00010");
    EXPECT_EQ(DescribeEntry(entries[1]), "DLLP UpdateFC-P vc 2 hdr 8 data 64");
    EXPECT_EQ(DescribeEntry(entries[2]), "DLLP Nak vc - seq 123");
    EXPECT_EQ(DescribeEntry(entries[3]), "other (kind 5)");
    EXPECT_EQ(DescribeEntry(entries[4]), "TLP CplD len 1 cpl 00:1c.0 status UR bytes 4 req 01:00.0 tag 07");
    EXPECT_EQ(DescribeEntry(entries[5]), "TLP CfgRd0 len 1 req 00:00.0 tag 01 cfg 02:00.0 reg 104");
    EXPECT_EQ(TlpTypeName(0x30), "Msg");
    EXPECT_EQ(TlpTypeName(0x7f), "TLP(fmt 3 type 1f)");
    EXPECT_EQ(DllpTypeName(0xe5), "InitFC2-Cpl");
}

TEST(ToolTrace, WalkStopsAtMalformedEntries)
{
    std::vector<uint8_t> copy;
    Entry(copy, 3, {0, 0x00, 0, 0, 1, 0, 0, 0});
    std::vector<uint8_t> badMarker = copy;
    badMarker.push_back(0x00);
    badMarker.resize(badMarker.size() + 7);
    std::string stop;
    EXPECT_EQ(WalkTrace(badMarker, &stop).size(), 1u);
    EXPECT_NE(stop.find("no entry marker at offset 16"), std::string::npos);

    std::vector<uint8_t> pastEnd = copy;
    Entry(pastEnd, 0, {0x40, 0, 0, 1, 0, 0, 0, 0});
    pastEnd[16 + 2] = 200; /* claims 800 payload bytes */
    EXPECT_EQ(WalkTrace(pastEnd, &stop).size(), 1u);
    EXPECT_NE(stop.find("runs past the end"), std::string::npos);

    std::vector<uint8_t> partial = copy;
    partial.push_back(0xf1);
    EXPECT_EQ(WalkTrace(partial, &stop).size(), 1u);
    EXPECT_NE(stop.find("partial entry header"), std::string::npos);

    std::vector<uint8_t> shortTlp;
    Entry(shortTlp, 0, {0x00, 0, 0, 1});
    EXPECT_EQ(DescribeEntry(WalkTrace(shortTlp).at(0)), "TLP MRd32 len 1 (header cut short)");
}

TEST(ToolTrace, TallyTellsWhatTheCardDid)
{
    std::vector<uint8_t> copy;
    std::vector<uint8_t> cfgRd = {0x04, 0, 0, 1, 0, 0, 1, 0x0f, 0x09, 0x00, 0x00, 0x00};
    Entry(copy, 0, cfgRd);                                                      /* request */
    Entry(copy, 2, cfgRd);                                                      /* its replay */
    Entry(copy, 1, {0x4a, 0, 0, 1, 0x09, 0x00, 0x00, 0x04, 0, 0, 1, 0, 1, 2, 3, 4}); /* CplD, SC */
    Entry(copy, 0, cfgRd);                                                      /* unanswered */
    Entry(copy, 0, {0x40, 0, 0, 1, 0, 0, 2, 0x0f, 0, 0, 0, 0, 9, 9, 9, 9});     /* MWr32: posted */
    Entry(copy, 1, {0x0a, 0, 0, 0, 0x09, 0x00, 0x20, 0x04, 0, 0, 3, 0});      /* Cpl, UR */
    Entry(copy, 3, {0, 0x10, 0, 0, 1, 0, 0, 0});
    Entry(copy, 4, {});
    TraceTally t = TallyTrace(WalkTrace(copy));
    EXPECT_EQ(t.tlps, 6u);
    EXPECT_EQ(t.dllps, 1u);
    EXPECT_EQ(t.replays, 1u);
    EXPECT_EQ(t.requests, 2u);
    EXPECT_EQ(t.completions, 2u);
    EXPECT_EQ(t.urCompletions, 1u);
}

TEST(ToolOutput, JsonKeepsOrderAndEscapes)
{
    Json doc = Json::Object();
    doc.Set("slot", "01:00.0").Set("count", 3).Set("ok", true).Set("text", "a\"b\\\n\x01");
    Json list = Json::Array();
    list.Push(Json(1)).Push(Json::Object());
    doc.Set("list", list).Set("none", Json());
    EXPECT_EQ(doc.Dump(), "{\n  \"slot\": \"01:00.0\",\n  \"count\": 3,\n  \"ok\": true,\n"
                          "  \"text\": \"a\\\"b\\\\\\n\\u0001\",\n  \"list\": [\n    1,\n    {}\n  ],\n"
                          "  \"none\": null\n}\n");
    EXPECT_EQ(Json::Array().Dump(), "[]\n");
}

TEST(ToolChecklist, NamesAndJUnitReport)
{
    const CheckDef& header = FindCheck(CheckKind::kHeader);
    EXPECT_EQ(CheckName(header), "CFG.1.2#1.1");
    _QORB_TEST_NUM_t num = TestNumber(FindCheck(CheckKind::kInjectBadDllp));
    EXPECT_EQ(num.layer, QORB_LAYER_DLL);
    EXPECT_STREQ(num.major, "2");
    EXPECT_STREQ(num.subitem, "2");
    /* Every check has a distinct checklist name. */
    std::set<std::string> names;
    for (const CheckDef& def : Checklist())
        EXPECT_TRUE(names.insert(CheckName(def)).second) << CheckName(def);

    CheckReport report;
    report.Add({CheckKind::kHeader, "01:00.0", Outcome::kPass, "header fine", {}, 0.5});
    report.Add({CheckKind::kAerClear, "01:00.0", Outcome::kFail, "Bad TLP <set>", {"CESta: BadTLP+"}, 0.25});
    report.Add({CheckKind::kInjectBadTlp, "02:00.0", Outcome::kSkip, "no ZEB above 02:00.0", {}, 0});
    EXPECT_FALSE(report.Passed());
    EXPECT_EQ(report.Summary(), "1 passed, 1 failed, 1 skipped");
    std::string xml = report.JUnitXml();
    EXPECT_NE(xml.find("<testsuites name=\"qorb check\" tests=\"3\" failures=\"1\" skipped=\"1\""), std::string::npos);
    EXPECT_NE(xml.find("<testsuite name=\"DUT 01:00.0\" tests=\"2\" failures=\"1\" skipped=\"0\""), std::string::npos);
    EXPECT_NE(xml.find("<failure message=\"Bad TLP &lt;set&gt;\">CESta: BadTLP+\n</failure>"), std::string::npos);
    EXPECT_NE(xml.find("<skipped message=\"no ZEB above 02:00.0\"/>"), std::string::npos);
    EXPECT_NE(xml.find("name=\"CFG.1.2#1.1 configuration header\" time=\"0.500\""), std::string::npos);
    EXPECT_LT(xml.find("DUT 01:00.0"), xml.find("DUT 02:00.0"));

    CheckReport clean;
    clean.Add({CheckKind::kRetrain, "01:00.0", Outcome::kSkip, "no port", {}, 0});
    EXPECT_TRUE(clean.Passed()) << "a skipped check does not fail the run";
}
