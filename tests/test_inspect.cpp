/* qorb caps, -vv and -xxxx on every real dump and domain (and the built-in platform) against libpci and lspci, then
 * rows of commands on small platforms: sizes, names, broken lists, registers found past the library's walk. */
#include <gtest/gtest.h>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include "pci_oracle.h"
#include "qorb_test_support.h"

using namespace qorbtest;

namespace {
std::string File(const std::string& name) { return std::filesystem::current_path() / name; }
std::string Qorb(const std::string& args, int* status = nullptr) {
    return RunCommand("'" QORB_TOOL_PATH "' " + args + " 2>/dev/null </dev/null", status);
}
std::string Hex(uint32_t value) {
    char text[12];
    snprintf(text, sizeof text, "%x", value);
    return text;
}
std::string Slot(const oracle::Function& f) {
    char text[24];
    snprintf(text, sizeof text, f.domain ? "%04x:%02x:%02x.%x" : "%.0x%02x:%02x.%x", f.domain, f.bus, f.dev, f.fn);
    return text;
}
/* "slot: offsets" a line per function, from the function and "[off" lines of qorb caps or lspci -v. */
std::string Offsets(const std::string& text) {
    std::string out;
    std::smatch m;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (std::regex_search(line, m, std::regex("^(\\S+) "))) out += (out.empty() ? "" : "\n") + m[1].str() + ":";
        else if (std::regex_search(line, m, std::regex("^(  |\tCapabilities: )\\[([0-9a-f]+)")))
            out += " " + m[2].str();
    return out + "\n";
}
/* The words lspci's -vv shows under the capabilities qorb decodes, by slot, offset and label; punctuation dropped. */
std::map<std::string, std::multiset<std::string>> Decoded(const std::string& text) {
    std::map<std::string, std::multiset<std::string>> out;
    std::string slot, cap, key;
    std::smatch m;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::string words;
        if (std::regex_search(line, m, std::regex("^(\\S+) "))) slot = m[1], cap = "";
        else if (std::regex_search(line, m, std::regex("^\tCapabilities: \\[([0-9a-f]+)[^\\]]*\\] (.*)$"))) {
            bool ours = std::regex_search(m[2].str(), std::regex("^(Power Man|MSI|Express|Advanced Error)"));
            cap = ours ? m[1].str() : "", key = slot + " " + cap + " title", words = m[2].str();
            words = words.substr(0, words.find("  <"));
        } else if (std::regex_search(line, m, std::regex("^\t\t([A-Za-z0-9 ]+):(.*)$")))
            key = slot + " " + cap + " " + m[1].str(), words = m[2];
        else if (line.rfind("\t\t\t", 0) == 0) words = line;
        std::istringstream in(words);
        for (std::string w; !cap.empty() && in >> w;) out[key].insert(w.substr(0, w.find_last_not_of(",;") + 1));
    }
    return out;
}
/* A dump file served by the simulator in each of its domains: caps lists lspci's offsets, -vv holds lspci's words,
 * -xxxx reads back through libpci and the simulator unchanged. */
void CheckDump(const std::string& dump) {
    std::vector<oracle::Function> all = oracle::Read(dump);
    std::set<uint32_t> domains;
    for (const oracle::Function& f : all) domains.insert(f.domain);
    WriteFile("qorbsim.ini", "[platform]\ndump = " + dump + "\n");
    for (uint32_t domain : domains) {
        std::string d = "--domain " + std::to_string(domain) + " ", want, lspci = HaveLspci() ? " " : "";
        for (const oracle::Function& f : all) {
            if (f.domain != domain) continue;
            if (lspci.size()) lspci = RunCommand("lspci -F '" + dump + "' -vv -s " + Slot(f) + " 2>/dev/null");
            std::string offsets = Slot(f) + ":";
            for (const oracle::Cap& c : f.caps) offsets += " " + Hex(c.offset);
            want += f.HeaderType() == 2 && lspci.size() ? Offsets(lspci) : offsets + "\n"; /* libpci skips CardBus */
            if (lspci.empty()) continue;
            std::map<std::string, std::multiset<std::string>> theirs = Decoded(lspci),
                                                              ours = Decoded(Qorb(d + "caps -vv -s " + Slot(f)));
            for (const auto& [key, words] : theirs)
                for (const std::string& w : words)
                    EXPECT_TRUE(ours[key].count(w)) << dump << ": " << key << " lacks " << w;
        }
        EXPECT_EQ(Offsets(Qorb(d + "caps")), want) << dump;
        WriteFile("out.txt", Qorb(d + "scan -xxxx"));
        std::vector<oracle::Function> back = oracle::Read(File("out.txt")), same;
        for (const oracle::Function& f : all)
            if (f.domain == domain) same.push_back(f);
        ASSERT_EQ(back.size(), same.size()) << dump;
        for (size_t i = 0; i < back.size(); i++)
            EXPECT_EQ(back[i].bytes, same[i].bytes) << dump << " " << Slot(same[i]);
        WriteFile("qorbsim.ini", "[platform]\ndump = out.txt\n");
        EXPECT_EQ(Qorb(d + "scan -xxxx"), ReadFile("out.txt")) << dump;
        WriteFile("qorbsim.ini", "[platform]\ndump = " + dump + "\n");
    }
}
} // namespace

/* One row per real dump, then the built-in platform as its own -xxxx dump. */
TEST(Inspect, EveryDumpAgreesWithLibpciAndLspci) {
#ifndef QORB_TOOL_PATH
    GTEST_SKIP() << "the qorb tool is not built";
#endif
    ScratchDir dir;
    WriteFile("builtin.txt", Qorb("scan -xxxx"));
    std::set<std::string> dumps = {File("builtin.txt")};
    if (!PlatformsDir().empty())
        for (const auto& entry : std::filesystem::directory_iterator(PlatformsDir()))
            if (entry.path().extension() == ".txt") dumps.insert(entry.path());
    for (const std::string& dump : dumps) CheckDump(dump);
}

/* qorbsim.ini additions to a small platform, command line, exit status, parts of the output in order ('|'). */
TEST(Inspect, SizesNamesFindingsAndRegisters) {
#ifndef QORB_TOOL_PATH
    GTEST_SKIP() << "the qorb tool is not built";
#endif
    ScratchDir dir;
    ConfigSpace ep, old(256);
    ep.Header(0x5153, 0x2000, 0x02, 0x00, 0x00, 0x00).CapPointer(0x40).LegacyCap(0x40, 0x05, 0x60).Set16(0x42, 0x0180);
    ep.PcieCap(0x60, 0, 0).Set32(0x6c, 0x0842).ExtCap(0x100, 0x000b, 0x140).Set32(0x104, 0x01010002);
    ep.ExtCap(0x140, 0x0001, 0x180).Set32(0x144, 0x10).ExtCap(0x180, 0x0023, 0x1c0).Set32(0x184, 0x00c11e98);
    ep.Set16(0x188, 2).ExtCap(0x1c0, 0x0019, 0).Set32(0x1c4, 0);
    old.Header(0x5153, 0x3000, 0x07, 0x00, 0x00, 0x00).CapPointer(0x40).LegacyCap(0x40, 0x09, 0).Set8(0x42, 0x0e);
    WriteFile("p.txt", DumpText({{1, 0, 0, ep}, {2, 0, 0, old}}));
    const std::string p = "[platform]\ndump = p.txt\n";
    const std::vector<std::tuple<std::string, const char*, int, const char*>> rows = {
        {p, "caps -s 1:", 0,
            "[40] 05 MSI, size 0x18, library walk+ lookup+|[60] 10 Express, size 0x34|[100 v1] 000b Vendor Specific "
            "Information: ID=0002 Rev=1 Len=010, size 0x10, library walk- lookup-|[140 v1] 0001 Advanced Error "
            "Reporting, "
            "size 0x2c, library walk- lookup+|Designated Vendor-Specific: Vendor=1e98 ID=0002 Rev=1 Len=12, size 0x0c|"
            "[1c0 v1] 0019 Secondary PCI Express, size 0x14|library: walk ended with"},
        {p, "caps -s 2: --json", 0,
            "\"name\": \"Vendor Specific Information: Len=0e\",|\"size\": 14,|\"library_walk\": true"},
        {p, "read -s 1: ECAP_AER+4.l ECAP_DVSEC+8.w CAP_MSI+2.w", 0, "00000010\n0002\n0180\n"},
        {p, "read -s 2: 0x100.l 0xff.b 0x102.w", 0, "ffffffff\n00\nffff\n"}, {p, "read -s 2: 0x1000.l", 2, ""},
        {p, "write -s 2: 0x100.l=1", 1, ""},
        {p, "caps -vv -s 1:", 0,
            "MSI: Enable- Count=1/1 Maskable+ 64bit+|Masking:\t00000000  Pending: 00000000|"
            "LnkCap:\tPort #0, Speed 5GT/s, Width x4, ASPM L1, Exit Latency L1 <1us|UESta:"},
        {"[function 09:00.0]\nbreak_capabilities = legacy-loop\n", "caps -s 9:", 1,
            "finding: the legacy list loops back to 40 after [c0]"},
        {"[function 09:00.0]\nbreak_capabilities = legacy-wild\nbreak_capabilities = extended-loop\n", "caps -s 9:", 1,
            "finding: the legacy list points into the header: pointer 3c after [c0]|finding: the extended list loops "
            "back to 100 after [178]"},
        {"", "scan -x -s 0b:02.0", 0, "0b:02.0 |\n00: 53 51 31 10|\n30: |\n\n"}};
    for (const auto& [ini, args, status, expected] : rows) {
        WriteFile("qorbsim.ini", ini);
        int got = -1;
        std::string out = Qorb(args, &got), part;
        EXPECT_EQ(got, status) << args << "\n" << out;
        size_t at = 0;
        std::istringstream parts(expected);
        while (std::getline(parts, part, '|') && at != std::string::npos) at = out.find(part, at);
        EXPECT_NE(at, std::string::npos) << args << "\n" << out << "\nwanted " << expected;
    }
}
