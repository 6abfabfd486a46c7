/* qorb scan and tree on every real dump and domain against libpci, then command sequences on small platforms: domains,
 * bus ff, the sysfs driver's domain, and the simulator's state kept across commands. */
#include <gtest/gtest.h>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include "pci_oracle.h"
#include "qorb_test_support.h"

using namespace qorbtest;

namespace {
/* Standard output and error of qorb commands run in turn (separated by ';', "!" before a shell command); the exit
 * status of the last. */
std::string Qorb(const std::string& commands, int* status = nullptr) {
    std::string out, command;
    for (std::istringstream list(commands); std::getline(list, command, ';');)
        out += RunCommand(
            command[0] == '!' ? command.substr(1) : "'" QORB_TOOL_PATH "' " + command + " 2>&1 </dev/null", status);
    return out;
}
std::string Hex4(uint32_t domain) {
    char text[12];
    snprintf(text, sizeof text, "%04x", domain);
    return text;
}
/* expected when its '|'-separated parts appear in the text in this order; otherwise the text. */
std::string InOrder(const std::string& text, const std::string& expected) {
    std::istringstream parts(expected);
    size_t at = 0;
    for (std::string part; std::getline(parts, part, '|'); at += part.size())
        if ((at = text.find(part, at)) == std::string::npos) return text;
    return expected;
}
std::string Slot(const oracle::Function& f) { /* as lspci writes it: the domain only when it is not 0 */
    char text[24];
    snprintf(text, sizeof text, f.domain ? "%04x:%02x:%02x.%x" : "%.0x%02x:%02x.%x", f.domain, f.bus, f.dev, f.fn);
    return text;
}
} // namespace

/* One row per dump, each domain in turn: scan lists libpci's functions, tree's upstream is the bridge whose secondary
 * bus the function sits on, and the drawing of a domain 0 dump is lspci -t's. */
TEST(Tree, EveryDumpAndDomainAgreesWithLibpci) {
#ifndef QORB_TOOL_PATH
    GTEST_SKIP() << "the qorb tool is not built";
#endif
    if (PlatformsDir().empty()) GTEST_SKIP() << "no dumps in " QORB_PLATFORMS_DIR;
    std::set<std::string> dumps;
    for (const auto& entry : std::filesystem::directory_iterator(PlatformsDir()))
        if (entry.path().extension() == ".txt") dumps.insert(entry.path());
    ScratchDir dir;
    for (const std::string& dump : dumps) {
        std::vector<oracle::Function> all = oracle::Read(dump);
        std::set<uint32_t> domains;
        std::string present;
        for (const oracle::Function& f : all) domains.insert(f.domain);
        for (uint32_t d : domains) present += " " + Hex4(d);
        WriteFile("qorbsim.ini", "[platform]\ndump = " + dump + "\n");
        for (uint32_t domain : domains) {
            std::string hex = Hex4(domain);
            std::string scan, upstream, wantScan, wantUpstream;
            for (const oracle::Function& f : all) {
                std::string above = "null";
                for (const oracle::Function& b : all)
                    above = b.domain == f.domain && b.Secondary() == f.bus ? "\"" + Slot(b) + "\"" : above;
                if (f.domain == domain) wantScan += Slot(f) + "\n", wantUpstream += Slot(f) + " " + above + "\n";
            }
            std::string text = Qorb("--domain " + hex + " scan"), domainLine;
            std::istringstream lines(text);
            for (std::string line; std::getline(lines, line); domainLine = line)
                scan += line.substr(0, line.find(' ')) + "\n";
            EXPECT_EQ(scan, wantScan + "domain\n") << dump << " domain " << hex;
            EXPECT_EQ(domainLine, "domain " + hex + " served; domains present:" + present);
            std::string tree = Qorb("--domain " + hex + " tree --json");
            const std::regex entry("\"slot\": \"([^\"]+)\",\\s*\"upstream\": (null|\"[^\"]+\")");
            for (std::smatch m; std::regex_search(tree, m, entry); tree = m.suffix())
                upstream += m[1].str() + " " + m[2].str() + "\n";
            EXPECT_EQ(upstream, wantUpstream) << dump << " domain " << hex;
            if (present == " 0000" && HaveLspci()) {
                EXPECT_EQ(Qorb("tree --no-links"), RunCommand("lspci -F '" + dump + "' -t")) << dump;
            }
        }
    }
}

/* qorbsim.ini, commands in turn, exit status of the last, parts of the output in order ('|'-separated). */
TEST(Tree, DomainsBusFfAndStateAcrossCommands) {
#ifndef QORB_TOOL_PATH
    GTEST_SKIP() << "the qorb tool is not built";
#endif
    ScratchDir dir;
    ConfigSpace port, ep, last(256), other(256);
    port.Header(0x5153, 0x1001, 0x06, 0x04, 0x00, 0x01).Buses(0, 1, 1).CapPointer(0x40).PcieCap(0x40, 4, 0);
    port.Set32(0x4c, 0x00100044).Set16(0x52, 0x0041); /* x4 16GT/s capable, x4 2.5GT/s with the Data Link down */
    ep.Header(0x5153, 0x2000, 0x02, 0x00, 0x00, 0x00).CapPointer(0x40).PcieCap(0x40, 0, 0).Set32(0x4c, 0x44);
    last.Header(0x8086, 0x3c00, 0x08, 0x80, 0x00, 0x00), other.Header(0x1af4, 0x1000, 0x02, 0x00, 0x00, 0x00);
    std::string domain1 = std::regex_replace(DumpText({{2, 0, 0, other}}), std::regex("^02:"), "0001:02:");
    WriteFile("two.txt", DumpText({{0, 0x1c, 0, port}, {1, 0, 0, ep}, {0xff, 0x1e, 3, last}}) + domain1);
    ConfigSpace narrow = port; /* up at 16GT/s but x2 of x4: degraded by width alone */
    WriteFile("narrow.txt", DumpText({{0, 0x1c, 0, narrow.Set16(0x52, 0x2024)}, {1, 0, 0, ep}}));
    WriteFile("sys/0000:00:00.0/config", std::string(last.Bytes().begin(), last.Bytes().end()));
    WriteFile("sys/0001:03:00.0/config", std::string(other.Bytes().begin(), other.Bytes().end()));
    WriteFile("qorbsysfs.ini", "[sysfs]\nroot = sys\n");
    const char *two = "[platform]\ndump = two.txt\n", *kept = "[platform]\nstate = st\n[link]\ntraining_ms = 0\n";
    const std::vector<std::tuple<const char*, const char*, int, const char*>> rows = {
        {two, "scan", 0, "00:1c.0 0604|01:00.0 0200|ff:1e.3 0880|domain 0000 served; domains present: 0000 0001"},
        {two, "--domain 1 scan -s 0001:02:00.0", 0, "0001:02:00.0 0200: 1af4:1000|domain 0001 served"},
        {"[platform]\ndump = two.txt\ndomain = 0x1\n", "scan --json", 0, "\"slot\": \"0001:02:00.0\""},
        {two, "scan -s 0001:2:0.0", 2, "qorb: -s 0001:2:0.0: domain 0001 is not the one served (0000)"},
        {two, "--domain 10000000z scan", 2, "qorb: --domain 10000000z: expected a PCI domain of 1 to 8 hex digits"},
        {two, "tree", 0, "-+-[0000:00]---1c.0 (down; max x4 16GT/s)-[01]----00.0\n \\-[0000:ff]---1e.3\n"},
        {"[platform]\ndump = narrow.txt\n", "tree", 0, "1c.0 (x2 16GT/s; max x4 16GT/s; degraded)-[01]"},
        {two, "tree -s ff:", 0, "\\-[0000:ff]---1e.3\n"}, {two, "tree -d ::0200 --json", 0, "00:1c.0\"|01:00.0"},
        {two, "tree -s 5:", 2, "qorb: no function matches -s 5:"},
        {"", "--driver sysfs --domain 0001 scan", 0, "0001:03:00.0 0200: 1af4:1000|domains present: 0000 0001"},
        {"", "--driver sysfs scan", 0, "00:00.0 0880: 8086:3c00|domain 0000 served; domains present: 0000 0001"},
        {"", "write -s 06:00.0 0x04.w=0x0146;read -s 06:00.0 COMMAND", 0, "0006"},
        {kept, "write -s 06:00.0 0x04.w=0x0146;read -s 06:00.0 COMMAND", 0, "0146"},
        {kept, "zeb mode inject;zeb arm;zeb inject bad-tlp;read -s 09:00.0 COMMAND;zeb trace;aer -s 09:00.0", 0,
            "TLP CfgRd0 len 1 req 00:00.0 tag 00 cfg 09:00.0 reg 000|DLLP Nak|BadTLP+"},
        {kept, "link disable -s 06:00.0;tree -s 00:02.0", 0, "+-02.0 (down; max x16 8GT/s)-[06]--\n"},
        {"[platform]\nstate = st\ndump = two.txt\n", "read -s 0:1c.0 COMMAND", 0,
            "qorbsim: st was saved for another platform; starting from power-on\n0000"},
        {kept, "!echo junk >st;scan", 2, "qorbsim: st: not a simulator state file (delete it to start from power-on)"},
        {kept, "!printf 'qorbsim-statf 1\\nplatform 0\\n' >st;scan", 2, "qorbsim: st: not a simulator state file"}};
    for (const auto& [ini, commands, status, expected] : rows) {
        int got = -1;
        WriteFile("qorbsim.ini", ini);
        std::string out = Qorb(commands, &got);
        EXPECT_EQ(InOrder(out, expected), expected) << commands << "\n" << ini;
        EXPECT_EQ(got, status) << commands << "\n" << ini << out;
    }
}
