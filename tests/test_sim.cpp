/* libqorbsim.so loaded directly: the built-in platform, dumps, qorbsim.ini, entry table, registers and the ZEB card. */
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <linux/pci_regs.h>
#include <chrono>
#include <functional>
#include <iomanip>
#include <map>
#include <sstream>
#include <thread>
#include <qorb/qorb_driver.h>
#include <qorb_common/trace_entry.h>
#include "pci_oracle.h"
#include "qorb_test_support.h"

using namespace qorbtest;

namespace {
/* v in lower-case hex, zero-padded to width digits. */
std::string Hex(uint32_t v, int width = 0) {
    std::ostringstream out;
    out << std::hex << std::setfill('0') << std::setw(width) << v;
    return out.str();
}
struct At {
    uint32_t bus, dev, fn;
};
constexpr At kDut{9, 0, 0};

/* libqorbsim.so opened in a scratch folder with qorbsim.ini (none for "") and the dumps d.txt and e.txt; one at a
 * time: the driver keeps one platform. */
struct Sim : ScratchDir {
    void* so = dlopen(QORB_SIM_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    _CONFIG_DRIVER_INTERFACE_t t{};
    _ZEB_LIB_INTERFACE_t* zeb = nullptr;
    uint32_t ctx = 0;
    bool opened = false;
    std::string errors;
    explicit Sim(const std::string& ini = "", const std::string& dump = "", const std::string& more = "") {
        WriteFile(File("d.txt"), dump), WriteFile(File("e.txt"), more);
        if (!ini.empty()) WriteFile(File("qorbsim.ini"), ini);
        EXPECT_EQ(reinterpret_cast<QORB_CONFIG_DRIVER_GET_INTERFACE>(dlsym(so, "ConfigDriver_GetInterface"))(&t)
                + reinterpret_cast<QORB_ZEB_LIB_OPEN_INTERFACE>(dlsym(so, "ZEB_LIB_Open_ZEB_Interface"))(&zeb),
            2u);
        CaptureFd err(2);
        opened = t.OpenDriver(&ctx) == 1, errors = err.Text();
    }
    ~Sim() { t.CloseDriver(ctx), dlclose(so); }
    uint32_t Read(At a, uint32_t at, uint32_t n, void* p) const {
        return t.ReadConfig(ctx, a.bus, a.dev, a.fn, at, n, (uint8_t*)p);
    }
    uint32_t Write(At a, uint32_t at, uint32_t n, uint32_t v) const {
        return t.WriteConfig(ctx, a.bus, a.dev, a.fn, at, n, (uint8_t*)&v);
    }
    uint32_t Get(At a, uint32_t at, uint32_t n = 4) const {
        uint32_t v = 0;
        return Read(a, at, n, &v) == n ? v : ~0u;
    }
    bool Present(At a) const { return Get(a, 0) != 0xFFFFFFFF; }
    /* The trace of the card (07:00.0 and 08:00.0): A(rmed), S(uspended), R(esumed), F(ull); TLPs by byte 0, ">" down,
     * "<" up, "!" sent by the card; DLLPs by type and direction (Ack/Nak sequence number, "~" when the CRC is unlike
     * that of the first DLLP of the same bytes). Or each packet in hex. */
    std::string Summary(bool hex = false) const {
        uint32_t n = 0;
        zeb->GetTraceBufferSize(8, 0, 0, &n);
        std::vector<uint8_t> b(n);
        std::map<std::vector<uint8_t>, std::vector<uint8_t>> crcs;
        std::string text;
        auto visit = [&](uint32_t, const uint8_t* h, uint32_t size) {
            std::vector<uint8_t> p(h + 8, h + 8 + size);
            uint8_t kind = h[1], tlp = kind <= 2, ack = kind % 8 == 3 && !(p[1] & 0xEF),
                    stamped = h[4] | h[5] | h[6] | h[7];
            for (uint32_t i = 0; hex && i < size; i += 4) /* "+": time-stamped */
                text += Hex(p[i], 2) + Hex(p[i + 1], 2) + Hex(p[i + 2], 2) + Hex(p[i + 3], 2)
                    + (i + 4 < size   ? "."
                            : stamped ? "+ "
                                      : " ");
            if (hex || (kind & 7) >= 4) text += hex ? "" : std::string("ASRF").substr((kind & 7) - 4, 1) + " ";
            else
                text += Hex(p[!tlp], 2) + (kind == 11 ? '<' : "><!>"[kind & 3])
                    + (ack ? Hex((p[3] & 0xF) << 8 | p[4]) : "")
                    + (!tlp && crcs.emplace(std::vector(&p[0], &p[5]), p).first->second != p ? "~ " : " ");
            return true;
        };
        EXPECT_EQ(zeb->ReadTraceBuffer(7, 0, 0, &n, b.data()), 0u);
        EXPECT_EQ(qorb_trace::WalkTrace(b.data(), n, visit), qorb_trace::WalkEnd::kEnd);
        return text.substr(0, text.size() - 1);
    }
    uint32_t Actions() const {
        uint32_t n = 0;
        return zeb->GetActionCount(7, 0, 0, &n) ? ~0u : n;
    }
    /* Every function that answers, with all its bytes, read by libpci. */
    std::vector<oracle::Function> Functions() const {
        std::vector<DumpFunction> functions;
        std::vector<uint8_t> bytes(4096);
        for (uint32_t at = 0; at < 1 << 16; ++at)
            if (uint32_t n = Read({at >> 8, at >> 3 & 31, at & 7}, 0, 4096, bytes.data())) {
                functions.push_back({uint8_t(at >> 8), uint8_t(at >> 3 & 31), uint8_t(at & 7), ConfigSpace(n)});
                for (uint32_t i = 0; i < n; ++i) functions.back().space.Set8(i, bytes[i]);
            }
        WriteFile(File("served.txt"), DumpText(functions));
        return oracle::Read(File("served.txt"));
    }
};
/* A function: location, IDs, class and revision, bridge buses, capabilities and a digest (FNV-1a) of its bytes. */
std::string Describe(const oracle::Function& f) {
    uint32_t digest = 2166136261u;
    for (uint8_t b : f.bytes) digest = (digest ^ b) * 16777619u;
    char text[64];
    snprintf(text, sizeof text, "%02x:%02x.%x %04x:%04x %08x %06x #%08x", f.bus, f.dev, f.fn, f.Get(0, 2), f.Get(2, 2),
        f.Get(8), f.HeaderType() == 1 ? f.Get(0x18) & 0xFFFFFF : 0, digest);
    return text + (f.caps.empty() ? "" : " " + oracle::Text(f.caps));
}
struct Say { /* answers in hex, in order: a comma expression runs its calls in order */
    std::string text;
    void operator()(uint64_t answer) { text += (std::ostringstream() << std::hex << answer).str() + " "; }
};
/* A dump of a type 0 function: IDs 1af4:1000, then each byte its offset. */
std::string Small(uint8_t bus, size_t size) {
    ConfigSpace s = ConfigSpace(size).Header(0x1AF4, 0x1000, 0x02, 0x00, 0x00, 0x00);
    for (uint32_t i = 0x10; i < size; ++i) s.Set8(i, static_cast<uint8_t>(i));
    return DumpText({{bus, 0, 0, s}});
}
} // namespace

/* The built-in platform of docs/simulator.md, all its bytes pinned by digests. */
TEST(SimBuiltin, ServesTheDocumentedPlatform) {
    Sim sim;
    std::vector<oracle::Function> functions = sim.Functions();
    const char* rows[] = {
        "00:00.0 5153:1000 06000001 000000 #28e5db74",
        "00:01.0 5153:1001 06040001 050100 #c86d68e5 10@40 1@80 5@90 e1@100 e2@148",
        "00:02.0 5153:1001 06040001 060600 #e2df324c 10@40 1@80 5@90 e1@100 e2@148",
        "00:03.0 5153:1001 06040001 090700 #f55a90b8 10@40 1@80 5@90 e1@100 e2@148",
        "00:1c.0 5153:1001 06040001 0b0a00 #7867c279 10@40 1@80 5@90 e1@100",
        "00:1d.0 5153:1001 06040001 0d0d00 #f309b521 10@40 1@80 5@90 e1@100 e2@148",
        "00:1f.0 5153:1040 08800001 000000 #5994658c 10@40 1@80 11@90 e3@100",
        "01:00.0 5153:1002 06040001 050201 #8a1ebac5 10@40 1@80 e1@100 e2@148 e3@168",
        "02:00.0 5153:1003 06040001 030302 #7193cf9d 10@40 1@80 5@90 e1@100 e2@148",
        "02:01.0 5153:1003 06040001 040402 #437d3942 10@40 1@80 5@90 e1@100 e2@148",
        "02:02.0 5153:1003 06040001 050502 #e301ec76 10@40 1@80 5@90 e1@100 e2@148",
        "03:00.0 5153:1010 02000001 000000 #cd9a67a5 1@40 5@50 11@70 10@a0 e1@100 e3@148 e4@158",
        "04:00.0 5153:1011 01080201 000000 #34da6889 1@40 11@50 9@60 10@70 e1@100 e3@148",
        "04:00.1 5153:1012 07000201 000000 #37e70c12 1@40 5@50 10@60 e1@100",
        "06:00.0 5153:1020 02800001 000000 #12559b06 1@40 5@50 10@70 11@b0 9@c0 e1@100 e2@148 e3@168 e4@178",
        "07:00.0 5a45:0001 06040001 090807 #013c9da9 10@40 1@80 9@90 e1@100",
        "08:00.0 5a45:0002 06040001 090908 #82086a05 10@40 1@80 5@90 e1@100 e2@148",
        "09:00.0 5153:1050 11800001 000000 #9d063611 1@40 5@50 10@70 11@b0 9@c0 e1@100 e2@148 e3@168 e4@178",
        "0a:00.0 5153:1030 06040001 0b0b0a #d1c2a487 10@40 1@80 e1@100",
        "0b:02.0 5153:1031 07800001 000000 #7ac4008b 1@40 5@50",
        "0d:00.0 5153:1060 12000001 000000 #6d38abb2 1@40 5@50 10@70 11@b0 e1@100 e3@148 e18@158 e1e@160",
    };
    ASSERT_EQ(functions.size(), std::size(rows)) << sim.errors;
    for (size_t i = 0; i < functions.size(); ++i) EXPECT_EQ(Describe(functions[i]), rows[i]);
}

/* Dumped bytes, short transfers past them; lspci -vv text and domains of 4 or
 * 8 digits read, other domains left out; ReadConfigEx, MCFG, contexts. */
TEST(SimDump, ServesTheDumpedBytesAndTheEntryTable) {
    std::string hex = Small(0, 64).substr(22);
    Sim sim("[platform]\ndump = d.txt\ndump = e.txt\n", Small(1, 64) + Small(2, 256) + Small(3, 4096),
        "00000000:05:00.0 x\n\tCapabilities: [40] Power\n" + hex + "\tKernel driver in use: x\n\n0000:05:00.1 x\n" + hex
            + "0001:06:00.0 x\n" + hex);
    EXPECT_EQ(sim.errors, "qorbsim: 1 function(s) outside PCI domain 0 skipped: only domain 0 is simulated\n");
    /* read (0) or write (1), location, offset, length, bytes transferred */
    const std::tuple<int, At, uint32_t, uint32_t, uint32_t> rows[] = {{0, {1, 0, 0}, 0, 4096, 64},
        {0, {1, 0, 0}, 60, 8, 4}, {0, {1, 0, 0}, 64, 4, 0}, {1, {2, 0, 0}, 0xFE, 4, 2}, {1, {2, 0, 0}, 0x100, 4, 0},
        {0, {3, 0, 0}, 0, 8192, 4096}, {0, {3, 0, 0}, 4092, 8, 4}, {0, {3, 0, 0}, 0xFFFFFFFF, 4, 0},
        {0, {5, 0, 0}, 0, 4096, 64}, {0, {5, 0, 1}, 0, 64, 64}, {0, {6, 0, 0}, 0, 4, 0}, {0, {1, 0, 1}, 0, 64, 0},
        {0, {256, 0, 0}, 0, 64, 0}, {0, {1, 32, 0}, 0, 64, 0}, {0, {1, 0, 8}, 0, 64, 0}};
    std::vector<uint8_t> buffer(8192, 0x5A);
    for (auto [write, at, offset, length, count] : rows) {
        uint32_t n = write ? sim.Write(at, offset, length, 0) : sim.Read(at, offset, length, buffer.data());
        EXPECT_EQ(std::tuple(n, n ? 0x5A : buffer[0]), std::tuple(count, 0x5A)) << at.bus << " " << offset;
        buffer[0] = 0x5A;
    }
    uint32_t value = 0, old = sim.ctx;
    uint64_t base = 0, length = 0;
    uint8_t start = 0xAA, end = 0, *to = reinterpret_cast<uint8_t*>(&value), at[4];
    auto& t = sim.t;
    Say say;
    say(t.ReadConfigEx(old, 0, 5, 0, 1, 0, to)), say(value), say(t.ReadConfigEx(old, 0, 1, 0, 0, 62, at)),
        say(t.ReadConfigEx(old, 1, 1, 0, 0, 0, at)), say(t.ReadConfig(old, 1, 0, 0, 0, 4, nullptr)),
        say(t.QueryMcfgTable(old, &base, &start, &end, &length)), say(base), say(start), say(end), say(length),
        say(t.QueryMcfgTable(old, nullptr, &start, &end, &length)),
        say(t.QueryMcfgTable(old, &base, &start, nullptr, &length)), say(t.MapConfigSpace(old, 0, 1)),
        say(t.MapConfigSpace(old, 0, 0)), say(sim.Write({1, 0, 0}, 0x10, 1, 7)), say(t.CloseDriver(old)),
        say(sim.Present({1, 0, 0})), say(t.OpenDriver(&sim.ctx)), say(sim.ctx != old), say(sim.Get({1, 0, 0}, 0x10, 1)),
        say(t.ReadConfig(old, 1, 0, 0, 0, 4, to)), say(t.WriteConfig(old, 1, 0, 0, 4, 2, to)),
        say(t.QueryMcfgTable(old, &base, &start, &end, &length)), say(t.MapConfigSpace(old, 0, 1)),
        say(t.CloseDriver(old)), say(t.OpenDriver(nullptr)), say(sim.Present({1, 0, 0}));
    /* ReadConfigEx; MCFG; a reopen from power-on refuses the old context. */
    EXPECT_EQ(say.text, "4 10001af4 2 0 0 1 e0000000 0 ff 10000000 0 0 1 0 1 1 0 1 1 10 0 0 0 0 0 0 0 ");
}

/* Bad input stops the open, each problem reported with its file and line. */
TEST(SimDump, BadDumpsAndSettingsAreReportedAndTheDriverDoesNotOpen) {
    const std::string good = Small(1, 64), hex = good.substr(22), f = "01:00.0 Test\n",
                      d = "[platform]\ndump = d.txt\n";
    const std::string line = "00: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\n", e = "[function 06:00.0]\n";
    const std::tuple<std::string, std::string, std::string> rows[] = {
        {d, f + "00: f4 1a zz 10\n", "d.txt:2: bad hex byte 'zz' (two hex digits expected)"},
        {d, f + line.substr(0, 51) + " 10\n", "d.txt:2: more than 16 bytes on one line"},
        {d, f + line + "20: 00\n", "d.txt:3: offset 020 does not follow the previous line (expected 010)"},
        {d, f + "08: 00 01\n", "d.txt:2: offset 008 is not a multiple of 0x10 below 0x1000"},
        {d, f + "00:\n", "d.txt:2: hex line without bytes"},
        {d, f + line, "d.txt:1: function 01:00.0 has 16 configuration bytes; at least 64 are needed"},
        {d, line + good, "d.txt:1: hex line before any function line"},
        {d, "01:00.0a x\n" + hex, "d.txt:2: hex line before any function line"},
        {d, "000000000:01:00.0 x\n" + hex, "d.txt:2: hex line before any function line"},
        {d, "00:20.0 x\n" + hex, "d.txt:1: function line 00:20.0: device must be 00 to 1f and function 0 to 7"},
        {d + "dump = d.txt\n", good, "d.txt:1: function 01:00.0 is already defined at d.txt:1"},
        {d, "just some text\n", "d.txt:1: no function line (BB:DD.F or DDDD:BB:DD.F) found"},
        {"[platform]\ndump = no.txt\n", "", "qorbsim: no.txt: cannot open the dump file: No such file or directory"},
        {"[link]\ntraining_ms = 60001\n", "", "training_ms = '60001' is not a number of milliseconds from 0 to 60000"},
        {"[function 0c:00.0]\nstatus = 1\n", "", "qorbsim.ini: [function 0c:00.0]: the platform has no such function"},
        {"[function 00:00.0]\naer_correctable = 1\n", "", "aer_correctable: the function has no such register"},
        {e + "secondary_status = 1\n", "", "[function 06:00.0] secondary_status: the function has no such register"},
        {e + "status = 0x1g\n", "", "qorbsim.ini: [function 06:00.0] status = '0x1g' is not a number from 0 to 0xffff"},
        {e + "aer_fatal = 1\n", "", "qorbsim.ini: unknown setting 'aer_fatal' in section [function 06:00.0]"},
        {e + "break_capabilities = all\n", "", "= 'all': expected legacy-loop, legacy-wild or extended-loop"},
        {"[function 00:00.0]\nbreak_capabilities = legacy-loop\n", "", "[function 00:00.0]: break_capabilities: the"},
        {"[function 03:00.0]\nlink_training_stuck = 1\n", "", "not a root port or switch downstream port"},
        {"[function 00:02.0]\nlink_training_stuck = 2\n", "", "link_training_stuck = '2' must be 0 or 1"},
    };
    for (const auto& [ini, dump, message] : rows) {
        Sim sim(ini, dump);
        EXPECT_FALSE(sim.opened) << ini << dump.substr(0, 30);
        EXPECT_NE(sim.errors.find(message), std::string::npos) << sim.errors;
        EXPECT_EQ(sim.errors.substr(sim.errors.rfind("qorbsim: ")),
            "qorbsim: the simulated platform was not loaded; the driver does not open\n");
    }
}

/* Zeros, then ones written over every function (Link Control aside): identity, structure (capability headers, of
 * lists broken on purpose too), and the capability and status registers keep their bits, but the error bits a 1
 * clears; bytes of no structure the register model knows (vendor-specific bodies, from 0x200 on) take the value. */
TEST(SimRegisters, WritesChangeAllButTheReadOnlyAndWriteOneToClearBits) {
    Sim sim(
        "[function 09:00.0]\nbreak_capabilities = legacy-loop\nbreak_capabilities = extended-loop\n[function 06:00.0]"
        "\nbreak_capabilities = LEGACY-WILD\naer_uncorrectable = 0x00104010\naer_correctable = 0x000010C1\n"
        "[function 00:02.0]\nstatus = 0xf900\nsecondary_status = 0x2000\ndevice_status = 0x000f\nlink_status = 0xc000\n"
        "[function 00:1c.0]\nsecondary_status = 0x8000\n[function 04:00.0]\nstatus = 0x0100\n[function 04:00.1]\n"
        "status = 0x8000\n");
    EXPECT_EQ(std::tuple(sim.Get(kDut, 0xC1, 1), sim.Get(kDut, 0x178), sim.Get({6, 0, 0}, 0xC1, 1),
                  sim.Get({6, 0, 0}, 0x104), sim.Get({0, 2, 0}, PCI_STATUS, 2), sim.Get({0, 2, 0}, 0x4A, 2),
                  sim.Get({0, 28, 0}, 0x1E, 2), sim.Get({4, 0, 0}, PCI_STATUS, 2), sim.Get({4, 0, 1}, PCI_STATUS, 2)),
        std::tuple(0x40u, 0x10010004u, 0x3Cu, 0x00104010u, 0xF910u, 0x000Fu, 0x8000u, 0x0110u, 0x8010u));
    std::vector<oracle::Function> functions = sim.Functions();
    for (auto f = functions.rbegin(); f != functions.rend(); ++f) { /* below a port before the port */
        if (f->bus == 0x0D) continue; /* the defective DUT breaks the attributes on purpose (test_verify.cpp) */
        uint32_t size = uint32_t(f->bytes.size()), control = size, e = 0;
        std::vector<uint8_t> kept(size), clear(size), after(size), free(size);
        for (uint32_t i = 0x200; i < size; ++i) free[i] = 1;
        for (const oracle::Cap& c : f->caps)
            for (uint32_t i = 3; c.id == PCI_CAP_ID_VNDR && !c.extended && i < f->bytes[c.offset + 2]; ++i)
                free[c.offset + i] = 1;
        auto keep = [&](uint32_t at, uint32_t n, uint64_t clears = 0) {
            for (uint32_t i = 0; i < n; ++i) kept[at + i] = 1, clear[at + i] = uint8_t(clears >> 8 * i);
        };
        keep(PCI_VENDOR_ID, 4), keep(PCI_STATUS, 2, 0xF900), keep(PCI_CLASS_REVISION, 4), keep(PCI_HEADER_TYPE, 1);
        keep(PCI_CAPABILITY_LIST, 1), keep(PCI_SEC_STATUS, f->HeaderType() == 1 ? 2 : 0, 0xF900);
        for (const oracle::Cap& c : f->caps)
            keep(c.offset, c.offset < 0x40 ? 0 : c.extended ? 4 : 2), e = c.id == 0x10 && !c.extended ? c.offset : e;
        if (e) {
            control = e + PCI_EXP_LNKCTL, keep(e + PCI_EXP_FLAGS, 6), keep(e + PCI_EXP_DEVSTA, 2, 0x000F);
            keep(e + PCI_EXP_LNKCAP, 4), keep(e + PCI_EXP_LNKSTA, 2, 0xC000), keep(e + PCI_EXP_SLTCAP, 4);
            keep(e + PCI_EXP_DEVCAP2, 4), keep(e + PCI_EXP_LNKCAP2, 4);
        }
        if (size > 0x100 && f->Get(0x100, 2) == PCI_EXT_CAP_ID_ERR) {
            keep(0x100 + PCI_ERR_UNCOR_STATUS, 4, ~0u), keep(0x100 + PCI_ERR_COR_STATUS, 4, ~0u);
            keep(0x100 + PCI_ERR_ROOT_STATUS, f->Get(e + PCI_EXP_FLAGS, 1) >> 4 == 4 ? 4 : 0, 0x7F);
        }
        for (uint8_t value : {0x00, 0xFF}) {
            std::vector<uint8_t> all(4096, value);
            uint32_t rest = size > control ? size - control - 2 : 0;
            EXPECT_EQ(sim.t.WriteConfig(sim.ctx, f->bus, f->dev, f->fn, 0, control, all.data()), control);
            EXPECT_EQ(sim.t.WriteConfig(sim.ctx, f->bus, f->dev, f->fn, control + 2, rest, all.data()), rest);
            ASSERT_EQ(sim.Read({f->bus, f->dev, f->fn}, 0, size, after.data()), size);
            std::string wrong;
            for (uint32_t i = 0; i < size; ++i)
                if (i - control > 1 && (kept[i] || free[i])
                    && after[i] != (kept[i] ? f->bytes[i] & ~(value & clear[i]) : value))
                    wrong += " " + std::to_string(i);
            EXPECT_EQ(wrong, "") << Describe(*f) << ", after writing " << int(value);
        }
    }
}

/* Card scenarios: a(rm), A(rm through 08:00.0), d(isarm), r(ead) or w(rite) the DUT, l(ong read), x: read the absent
 * 09:01.0, o: read other links, s(uspend), u(nsuspend), p(ass-through) and i(nject) modes, t(rain) or D(isable) the
 * card's link, h(eaders only with time stamps) or L(ink packets only) traced, z: wait. The trace (in hex unless it
 * begins with "A"), the action count, the DUT's AER Correctable and Uncorrectable Error Status and Device Status. */
TEST(SimCard, ScenariosLeaveTheirTraceAndErrors) {
    const struct {
        uint32_t program[6]; /* command, count, interval, packet kind, TLP type, DLLP type */
        const char *steps, *trace;
        uint32_t actions, correctable, uncorrectable, deviceStatus;
    } rows[] = {
        /* clang-format off */
        {{}, "arwxodr", "A 04> 00<0 90< 4a< 00>0 44> 00<1 90< 0a< 00>1 04> 00<2 90< 0a< 00>2", 0, 0, 0, 0},
        {{}, "al", "A 04> 00<0 90< 4a< 00>0 04> 00<1 90< 4a< 00>1 04> 00<2 90< 4a< 00>2", 0, 0, 0, 0},
        {{}, "asrur", "A S R 04> 00<1 90< 4a< 00>1", 0, 0, 0, 0},          {{}, "pAr", "A", 0, 0, 0, 0},
        {{}, "at", "A 40> 40< 50> 50< 60> 60< c0> c0< d0> d0< e0> e0<", 0, 0, 0, 0},
        {{}, "Dar", "A", 0, ~0u, ~0u, ~0u},                                 {{}, "Lar", "A 00<0 90< 00>0", 0, 0, 0, 0},
        {{1, 5}, "ar", "A 04> 00<0 90< 4a< 00>0", 0, 0, 0, 0},
        {{1}, "iar", "A 04> 10<fff 04! 00<0 90< 4a< 00>0", 1, PCI_ERR_COR_BAD_TLP, 0, 1},
        {{2}, "iar", "A 04> 00<0 90< 4a< 00>0~", 1, PCI_ERR_COR_BAD_DLLP, 0, 1},
        {{3}, "iar", "A 04> 04! 00<0 90< 4a< 00>0", 1, PCI_ERR_COR_REP_TIMER, 0, 1},
        {{4}, "iar", "A 04> 04! 04! 04! 04! 00<0 90< 4a< 00>0", 1, PCI_ERR_COR_REP_ROLL, 0, 1},
        {{5}, "iar", "A 04> 10<fff 04! 00<0 90< 4a< 00>0", 1, PCI_ERR_COR_RCVR, 0, 1},
        {{6}, "iar", "A 04> 00<0 90< 05! 0a< 4a< 00>0", 1, 0, PCI_ERR_UNC_UNSUP, 0xA},
        {{7}, "iar", "A 04> 00<0 90<", 1, 0, PCI_ERR_UNC_COMP_TIME, 2},
        {{8}, "iar", "A 04> 00<0 90< 00>800 4a< 00>0", 1, 0, PCI_ERR_UNC_DLP, 4},
        {{9}, "iar", "A 04> 00<0 90< 90> 4a< 00>0", 1, 0, PCI_ERR_UNC_FCP, 4},
        {{1, 1, 2, 1, 0x04}, "iarr", "A 04> 00<0 90< 4a< 00>0 04> 10<0 04! 00<1 90< 4a< 00>1", 1, 0x40, 0, 1},
        {{1, 1, 0, 1, 0x4A}, "iarr", "A 04> 00<0 90< 4a< 10>fff 4a! 00>0 04> 00<1 90< 4a< 00>1", 1, 0x40, 0, 1},
        {{2, 1, 2, 2, 0, 0x90}, "iarr", "A 04> 00<0 90< 4a< 00>0 04> 00<1 90<~ 4a< 00>1", 1, 0x80, 0, 1},
        {{1}, "iararr", "A 04> 00<1 90< 4a< 00>1 04> 00<2 90< 4a< 00>2", 0, PCI_ERR_COR_BAD_TLP, 0, 1},
        {{}, "ar", "04000001.0000000c.09000000 00000000.00cd4600 00900040.00526400 "
                   "4a000001.09000004.00000000.53515010 00000000.00cd4600", 0, 0, 0, 0},
        {{}, "aw", "44000001.00000003.09000004.06000000 00000000.00cd4600 00900040.00526400 "
                   "0a000000.09000004.00000000 00000000.00cd4600", 0, 0, 0, 0},
        {{}, "ax", "04000001.0000000f.09080000 00000000.00cd4600 00900040.00526400 "
                   "0a000000.09082004.00000000 00000000.00cd4600", 0, 0, 0, 0},
        {{}, "hazr", "04000001.0000000c.09000000+ 4a000001.09000004.00000000+", 0, 0, 0, 0},
        /* clang-format on */
    };
    for (const auto& r : rows) {
        Sim card;
        uint8_t bytes[64];
        const At absent{9, 1, 0}, other{0, 2, 0}, bridge{10, 0, 0}, card8{8, 0, 0};
        const std::map<char, std::function<void()>> steps = {
            /* clang-format off */
            {'a', [&] { card.zeb->Arm(7, 0, 0); }}, {'A', [&] { card.zeb->Arm(8, 0, 0); }},
            {'d', [&] { card.zeb->Disarm(7, 0, 0); }}, {'r', [&] { card.Read(kDut, 2, 2, bytes); }},
            {'l', [&] { card.Read(kDut, 0x0A, 9, bytes); }}, {'w', [&] { card.Write(kDut, PCI_COMMAND, 2, 6); }},
            {'x', [&] { card.Read(absent, 0, 64, bytes); }},
            {'o', [&] { card.Read(other, 0, 4, bytes), card.Read(bridge, 0, 4, bytes); }},
            {'s', [&] { card.zeb->SuspendLogging(7, 0, 0); }}, {'u', [&] { card.zeb->ResumeLogging(8, 0, 0); }},
            {'p', [&] { card.zeb->ChangeMode(7, 0, 0, QORB_ZEB_MODE_PASSTHROUGH); }},
            {'i', [&] { card.zeb->ChangeMode(8, 0, 0, QORB_ZEB_MODE_INJECT); }},
            {'t', [&] { card.Write(card8, 0x50, 2, 0x60), card.Write(other, 0x50, 2, 0x60); }}, /* Link Control: */
            {'D', [&] { card.Write(card8, 0x50, 2, 0x50); }}, /* Retrain Link, Link Disable */
            {'h', [&] { card.zeb->SetTraceConfig(7, 0, 0, qorb_trace::kCfgTlpHeaders | qorb_trace::kCfgTimestamps); }},
            {'L', [&] { card.zeb->SetTraceConfig(8, 0, 0, qorb_trace::kCfgRecordDllps); }},
            {'z', [&] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }},
            /* clang-format on */
        };
        const uint32_t* p = r.program;
        _qorb_cmd_map_t command{p[0], p[1], p[2], p[3], uint8_t(p[4]), uint8_t(p[5]), 0};
        ASSERT_EQ(card.zeb->ProgramCmd(8, 0, 0, &command), 0u);
        for (const char* step = r.steps; *step; ++step) steps.at (*step)();
        EXPECT_EQ(
            (std::tuple{card.Summary(r.trace[0] != 'A'), card.Actions(), card.Get(kDut, 0x100 + PCI_ERR_COR_STATUS),
                card.Get(kDut, 0x100 + PCI_ERR_UNCOR_STATUS), card.Get(kDut, 0x70 + PCI_EXP_DEVSTA, 2)}),
            std::tuple(r.trace, r.actions, r.correctable, r.uncorrectable, r.deviceStatus))
            << r.steps;
    }
}

/* The card's properties; the card above a bus; the partner device; what the
 * card's tables refuse, also once the driver is closed. */
TEST(SimCard, PropertiesAndTheCardAboveABus) {
    Sim card;
    uint32_t b1 = 0, d1 = 0, f1 = 0, b2 = 0, d2 = 0, f2 = 0;
    uint8_t h1[256], h2[256];
    _qorb_zeb_query_prop_t p{};
    _QORB_ZEB_OP_MODE_t mode{};
    _qorb_cmd_map_t command{10, 1, 0, 0, 0, 0, 0}, kind{1, 1, 0, 3, 0, 0, 0};
    _VOK_LIB_INTERFACE_t* vok = nullptr;
    auto& z = *card.zeb;
    Say say;
    z.ChangeMode(7, 0, 0, QORB_ZEB_MODE_INJECT), z.Arm(7, 0, 0), z.SuspendLogging(8, 0, 0);
    say(z.GetProperties(8, 0, 0, &p)), say(z.QueryMode(8, 0, 0, &mode)), say(mode), say(p.traceBufferSize),
        say(p.firmwareRevision), say(p.hardwareRevision), say(p.linkWidth), say(p.linkSpeed), say(p.mode), say(p.armed),
        say(p.loggingSuspended), say(p.bytesRecorded),
        say(z.GetUpstreamZEB(9, 0, 0, &b1, &d1, &f1, h1, &b2, &d2, &f2, h2)), say(b1), say(d1), say(f1),
        say(h1[0] | h1[2] << 8), say(b2), say(d2), say(f2), say(h2[2]),
        say(reinterpret_cast<QORB_VOK_LIB_OPEN_INTERFACE>(dlsym(card.so, "VOK_LIB_Open_VOK_Interface"))(&vok)),
        say(z.GetUpstreamZEB(6, 0, 0, &b1, &d1, &f1, h1, &b2, &d2, &f2, h2)),
        say(z.GetUpstreamZEB(8, 0, 0, &b1, &d1, &f1, h1, &b2, &d2, &f2, h2)),
        say(z.GetUpstreamZEB(9, 0, 0, &b1, &d1, &f1, h1, &b2, &d2, &f2, nullptr)),
        say(z.GetUpstreamZEB(9, 0, 0, nullptr, &d1, &f1, h1, &b2, &d2, &f2, h2)), say(z.Arm(6, 0, 0)),
        say(z.ChangeMode(7, 0, 0, _QORB_ZEB_OP_MODE_t(3))), say(z.ProgramCmd(7, 0, 0, nullptr)),
        say(z.ProgramCmd(7, 0, 0, &command)), say(z.ProgramCmd(7, 0, 0, &kind)), say(z.GetProperties(7, 0, 0, nullptr)),
        say(z.GetActionCount(7, 0, 0, nullptr)), say(z.GetTraceBufferSize(7, 0, 0, nullptr)), say(z.IsZEB(7, 0, 0)),
        say(z.IsZEB(8, 0, 0)), say(z.IsZEB(9, 0, 0)), say(z.IsZEB(7, 0, 1)), say(vok->IsVOK(6, 0, 0)),
        say(vok->IsVOK(3, 0, 0)), say(card.t.CloseDriver(card.ctx)), say(z.IsZEB(7, 0, 0)), say(z.Arm(7, 0, 0));
    EXPECT_EQ(say.text,
        "0 0 2 100000 10000 1 8 3 2 1 1 10 0 7 0 0 145 8 0 0 2 1 80000016 80000016 80000003 80000003 80000003 "
        "80000003 80000003 80000003 80000003 80000003 80000003 80000003 1 1 0 0 1 0 1 0 80000003 ");
}
