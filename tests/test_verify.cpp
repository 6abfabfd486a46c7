/* The register rules and write probes of "qorb check" (tools/qorb/cli/verify.h) on the simulated driver's built-in
 * platform, its defective DUT, broken lists and the real dumps; the simulated registers' attributes. */
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <linux/pci_regs.h>
#include <map>
#include <set>
#include <qorb/qorb_driver.h>
#include "pci_oracle.h"
#include "qorb_test_support.h"
#include "verify.h"

using namespace qorbtest;
using qorbcli::RuleResult;

namespace {
struct Sim : ScratchDir { /* libqorbsim.so on its built-in platform */
    void* so = dlopen(QORB_SIM_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    _CONFIG_DRIVER_INTERFACE_t t{};
    uint32_t ctx = 0;
    Sim() {
        reinterpret_cast<QORB_CONFIG_DRIVER_GET_INTERFACE>(dlsym(so, "ConfigDriver_GetInterface"))(&t);
        EXPECT_EQ(t.OpenDriver(&ctx), 1u);
    }
    ~Sim() { t.CloseDriver(ctx), dlclose(so); }
    std::vector<uint8_t> Space(uint32_t b, uint32_t d, uint32_t f) const {
        std::vector<uint8_t> s(4096);
        s.resize(t.ReadConfig(ctx, b, d, f, 0, 4096, s.data()));
        return s;
    }
    qorbcli::ConfigAccess Access(uint32_t b, uint32_t d, uint32_t f) const {
        return {[=, this](uint32_t at, uint32_t n, uint32_t* v) {
                    return t.ReadConfig(ctx, b, d, f, at, n, (uint8_t*)v) == n;
                },
            [=, this](
                uint32_t at, uint32_t n, uint32_t v) { return t.WriteConfig(ctx, b, d, f, at, n, (uint8_t*)&v) == n; }};
    }
};
/* The port type above each function of a set: the bridge whose secondary bus it is on; a root bus is bus 0. */
int Above(const std::vector<oracle::Function>& all, const oracle::Function& f) {
    for (const oracle::Function& b : all)
        if (b.HeaderType() == 1 && b.bytes.size() >= 64 && b.bytes[PCI_SECONDARY_BUS] == f.bus && b.bus != f.bus)
            return qorb_regs::Describe(b.bytes.data(), uint32_t(b.bytes.size())).portType;
    return f.bus == 0 ? qorbcli::kNoPortAbove : qorbcli::kUnknownPosition;
}
/* "RULE field" of each failed rule; the count of rules in *total. */
std::multiset<std::string> Failed(const std::vector<RuleResult>& rules, size_t* total = nullptr) {
    std::multiset<std::string> out;
    for (const RuleResult& r : rules)
        if (r.verdict == qorbcli::Outcome::kFail) out.insert(r.rule + " " + r.field);
    if (total) *total = rules.size();
    return out;
}
} // namespace

/* Each planted defect of 0d:00.0 is reported by its rule, and by no other; read-only first, then with writes. */
TEST(Verify, EachPlantedDefectFailsExactlyItsRule) {
    Sim sim;
    std::vector<uint8_t> s = sim.Space(0x0D, 0, 0);
    const std::multiset<std::string> readOnly
        = {"PCIE.DEVSTA.RSVD[15:7] Reserved", "PCIE.LNKCAP.IN_SLSV Max Link Speed",
            "PCIE.LNKSTA.NLW_LE_MAX Negotiated Link Width", "MSIX.TABLE.BAR Table BIR",
            "MSI.CTRL.MMC Multiple Message Capable", "PCIE.FLAGS.SLOT Slot Implemented",
            "LTR.HDR.SUPPORTED Capability Version", "PCIE.DEVCTL.MRRS Max_Read_Request_Size",
            "L1SS.CAP.ASPM_L1 L1 PM Substates Supported", "DSN.HDR.VER Capability Version", "ECAP.LIST Next pointers"},
        writes = {"HDR0.SUBSYS.RO Subsystem ID", "HDR0.COMMAND.RO Reserved",
            "PCIE.DEVSTA.RW1C[0:0] Correctable Error Detected",
            "PCIE.DEVCTL.RW[0:0] Correctable Error Reporting Enable"};
    EXPECT_EQ(Failed(qorbcli::ReadOnlyRules(s, {PCI_EXP_TYPE_ROOT_PORT})), readOnly);
    EXPECT_EQ(Failed(qorbcli::WriteProbes(s, sim.Access(0x0D, 0, 0))), writes);
}

/* What a result says: its register (with the entry of a repeated one) and what it saw, on a conventional function whose
 * list has a misaligned pointer and an endpoint up at x1 with MSI-X and a Resizable BAR. */
TEST(Verify, ResultsNameTheirRegisterAndWhatTheySaw) {
    ConfigSpace conv, ep;
    conv.Header(0x5153, 0x3000, 0x02, 0, 0, 0).CapPointer(0x40).LegacyCap(0x40, PCI_CAP_ID_MSI, 0x51);
    conv.LegacyCap(0x50, PCI_CAP_ID_PM, 0).Set16(0x52, 3);
    ep.Header(0x5153, 0x3001, 0x02, 0, 0, 0).Set32(0x10, 0xf7000000).CapPointer(0x40).PcieCap(0x40, 0, 0x70);
    ep.Set32(0x4c, 0x43).Set16(0x52, 0x13).Set32(0x6c, 0x0e).LegacyCap(0x70, PCI_CAP_ID_MSIX, 0).Set32(0x78, 0x800);
    ep.ExtCap(0x100, PCI_EXT_CAP_ID_REBAR, 0).Set32(0x104, 0x10).Set32(0x108, 0x20);
    const std::vector<std::tuple<const ConfigSpace*, const char*, const char*, const char*>> rows = {
        {&conv, "CAP.LIST", "Capability list",
            "the list ends with a next pointer of 0; the pointer 051 has a reserved low bit set; 2 capabilities "
            "walked"},
        {&conv, "MSI.PORT", "Capability header", "MSI may be implemented by a function without PCI Express capability"},
        {&ep, "PCIE.LNKSTA.NLW_LE_MAX", "Link Status", "the link is x1, the function is at most x4"},
        {&ep, "MSIX.TABLE.BAR", "Table Offset/Table BIR", "Table BIR names BAR 0: BAR 0 is implemented"},
        {&ep, "REBAR.CTL0.BAR", "Resizable BAR Control (0)", "BAR Index names BAR 0: BAR 0 is implemented"}};
    for (const auto& [space, rule, reg, message] : rows) {
        std::string seen = "no result";
        for (const RuleResult& r : qorbcli::ReadOnlyRules(space->Bytes(), {}))
            if (r.rule == rule) seen = r.RegisterName() + ": " + r.Message();
        EXPECT_EQ(seen, std::string(reg) + ": " + message) << rule;
    }
}

/* Every other function of the built-in platform passes every rule and probe, and the probes restore its bytes
 * (but the status bits they clear); an endpoint is judged by at least 100 rules. */
TEST(Verify, EveryOtherBuiltinFunctionPassesAndIsRestored) {
    Sim sim;
    WriteFile(sim.File("d.txt"), "");
    std::vector<oracle::Function> all;
    for (uint32_t b = 0; b < 16; ++b)
        for (uint32_t d = 0; d < 32; ++d)
            for (uint32_t f = 0; f < 8; ++f)
                if (std::vector<uint8_t> s = sim.Space(b, d, f); s.size() && s[0] != 0xFF && !(b == 0x0D))
                    all.push_back({0, b, d, f, s, {}});
    ASSERT_EQ(all.size(), 20u);
    for (const oracle::Function& f : all) {
        size_t n = 0;
        EXPECT_EQ(Failed(qorbcli::ReadOnlyRules(f.bytes, {Above(all, f)}), &n), std::multiset<std::string>{})
            << f.bus << ":" << f.dev << "." << f.fn;
        EXPECT_TRUE((f.bus != 3 && f.bus != 6 && f.bus != 9) || n >= 100) << n; /* the three full endpoints */
        EXPECT_EQ(Failed(qorbcli::WriteProbes(f.bytes, sim.Access(f.bus, f.dev, f.fn))), std::multiset<std::string>{});
        EXPECT_EQ(sim.Space(f.bus, f.dev, f.fn), f.bytes) << f.bus << ":" << f.dev << "." << f.fn;
    }
}

/* The simulated registers: function, offset, width, value written, value read back after. */
TEST(Verify, SimulatedRegistersFollowTheirAttributes) {
    Sim sim;
    const struct {
        uint32_t bus, dev, offset, width, write, expect;
    } rows[] = {
        {6, 0, PCI_COMMAND, 2, 0xFFFF, 0x0547}, /* RO and reserved bits stay 0, the RW enables take it */
        {6, 0, PCI_SUBSYSTEM_ID, 2, 0, 0x1020}, /* HwInit */
        {6, 0, 0x70 + PCI_EXP_LNKCAP, 4, 0, 0x00035C43}, /* RO */
        {6, 0, 0x70 + PCI_EXP_DEVCTL, 2, 0x000F, 0x000F}, /* RW */
        {6, 0, 0x70 + PCI_EXP_DEVCTL2, 2, 0xFFFF, 0xFFDF}, /* RW, optional ones too; ARI: downstream ports */
        {6, 0, 0x70 + PCI_EXP_DEVSTA2, 2, 0xFFFF, 0}, /* RsvdZ */
        {6, 0, 0x100 + PCI_ERR_COR_MASK, 4, ~0u, 0xF1C1}, /* RWS, reserved bits stay 0 */
        {6, 0, 0x100 + PCI_ERR_UNCOR_STATUS, 4, ~0u, 0}, /* RW1CS: clear stays clear */
        {0, 1, 0x40 + PCI_EXP_LNKSTA, 2, 0xFFFF, 0x3083}, /* RW1C bits clear, the rest RO */
        {0x0D, 0, 0x70 + PCI_EXP_DEVSTA, 2, 0x0001, 0x8001}, /* the defective DUT: a stuck RW1C, a set reserved bit */
        {0x0D, 0, PCI_COMMAND, 2, 0xF800, 0xF800}, /* and writable reserved bits */
    };
    for (const auto& r : rows) {
        uint32_t v = r.write;
        ASSERT_EQ(sim.t.WriteConfig(sim.ctx, r.bus, r.dev, 0, r.offset, r.width, (uint8_t*)&v), r.width);
        v = 0;
        sim.t.ReadConfig(sim.ctx, r.bus, r.dev, 0, r.offset, r.width, (uint8_t*)&v);
        EXPECT_EQ(v, r.expect) << std::hex << r.bus << " " << r.offset;
    }
}

/* A list that loops or points wildly after a structure: the structure is still judged, the list rule fails, the
 * others run. Rows: the patch to 06:00.0 (offset, byte), the failed rules. */
TEST(Verify, BrokenListsHideNoStructure) {
    Sim sim;
    const std::vector<uint8_t> clean = sim.Space(6, 0, 0);
    const struct {
        uint32_t at;
        uint8_t value;
        std::multiset<std::string> failed;
    } rows[] = {
        {0xB1, 0x40, {"CAP.LIST Next pointers"}}, /* MSI-X, after PCI Express, back to PM */
        {0xC1, 0x3C, {"CAP.LIST Next pointers"}}, /* the last one into the header */
        {0x17B, 0x10, {"ECAP.LIST Next pointers"}}, /* Power Budgeting back to AER */
        {0x103, 0x00, {"ECAP.LIST Next pointers"}}, /* AER into the header */
    };
    for (const auto& r : rows) {
        std::vector<uint8_t> s = clean;
        s[r.at] = r.value;
        size_t n = 0;
        std::vector<RuleResult> rules = qorbcli::ReadOnlyRules(s, {PCI_EXP_TYPE_ROOT_PORT});
        EXPECT_EQ(Failed(rules, &n), r.failed) << std::hex << r.at;
        EXPECT_GE(n, r.at < 0x100 ? 110u : 60u);
        bool pcie = false;
        for (const RuleResult& x : rules) pcie |= x.rule == "PCIE.LNKSTA.NLW_LE_MAX";
        EXPECT_TRUE(pcie);
    }
}

/* The real dumps, read-only: no crash, and every finding is listed in docs/checklist-findings.md as
 * "| file | BB:DD.F | RULE |". */
TEST(Verify, RealDumpFindingsAreDocumented) {
    std::string dir = PlatformsDir();
    if (dir.empty()) GTEST_SKIP() << "no real dumps";
    std::string doc = ReadFile(QORB_SOURCE_DIR "/docs/checklist-findings.md"), missing;
    DIR* d = opendir(dir.c_str());
    int files = 0;
    for (dirent* e; (e = readdir(d));) {
        std::string name = e->d_name;
        if (name.size() < 5 || name.substr(name.size() - 4) != ".txt") continue;
        std::vector<oracle::Function> all = oracle::Read(dir + "/" + name);
        ++files;
        for (const oracle::Function& f : all)
            for (const RuleResult& r : qorbcli::ReadOnlyRules(f.bytes, {Above(all, f)})) {
                char slot[16];
                snprintf(slot, sizeof slot, "%02x:%02x.%x", f.bus, f.dev, f.fn);
                std::string row = "| " + name + " | " + slot + " | " + r.rule + " |";
                if (r.verdict == qorbcli::Outcome::kFail && doc.find(row) == std::string::npos)
                    missing += row + " " + r.Message() + "\n";
            }
    }
    closedir(d);
    EXPECT_EQ(files, 16);
    EXPECT_EQ(missing, "");
}
