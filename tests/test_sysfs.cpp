/* The sysfs driver on a devices folder the tests write; the library agreeing
 * with libpci on every real dump (served by qorbsim) and on this machine. */
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <qorb/qorb_driver.h>
#include <sys/resource.h>
#include <filesystem>
#include <numeric>

#include "pci_oracle.h"
#include "qorb_test_support.h"

using namespace qorbtest;

namespace {

size_t OpenFiles() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

/* libqorbsysfs.so on devices/ of a scratch folder; at: bus << 8 | dev << 3 | fn. */
struct Sysfs : ScratchDir {
    void* so = dlopen(QORB_SYSFS_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    _CONFIG_DRIVER_INTERFACE_t t{};
    uint32_t ctx = 0;
    Sysfs() { reinterpret_cast<QORB_CONFIG_DRIVER_GET_INTERFACE>(dlsym(so, "ConfigDriver_GetInterface"))(&t); }
    ~Sysfs() { t.CloseDriver(ctx), dlclose(so); }
    void Add(const std::string& name, const std::string& b) { WriteFile(File("devices/" + name + "/config"), b); }
    /* Opens on [sysfs] and these lines: what it said, and "-" if it failed. */
    std::string Open(const std::string& lines = "root = devices\n") {
        WriteFile(File("qorbsysfs.ini"), "[sysfs]\n" + lines);
        CaptureFd err(2);
        return t.OpenDriver(&ctx) == 1 ? err.Text() : err.Text() + "-";
    }
    uint32_t Read(uint32_t at, uint32_t offset, uint32_t length, uint8_t* to, uint32_t domain = 0) const {
        return domain ? t.ReadConfigEx(ctx, domain, at >> 8, at >> 3 & 31, at & 7, offset << 16 | length, to)
                      : t.ReadConfig(ctx, at >> 8, at >> 3 & 31, at & 7, offset, length, to);
    }
    uint32_t Write(int at, int o, int n, auto* b) { return t.WriteConfig(ctx, at >> 8, at >> 3 & 31, at & 7, o, n, b); }
};

/* The library's walk of libpci's list by its rules: none unless header type 0
 * or 1; legacy: skipped if the first entry has no length (IDs 2-4) or is out
 * of 0x40-0x100, else up to such an entry; extended: up to an ID other than
 * 1-4, if the legacy list is in 0x40-0x100 with one PCI Express capability. */
std::vector<oracle::Cap> ExpectedWalk(const oracle::Function& f) {
    auto sized = [](const oracle::Cap& c) { return c.extended ? c.id >= 1 && c.id <= 4 : c.id < 2 || c.id > 4; };
    auto out = [](const oracle::Cap& c) { return !c.extended && (c.offset < 0x40 || c.offset > 0x100); };
    auto pcie = [](const oracle::Cap& c) { return !c.extended && c.id == 0x10; };
    auto begin = f.caps.begin(), end = f.caps.end();
    bool one = std::count_if(begin, end, pcie) == 1 && std::none_of(begin, end, out);
    bool skip = begin != end && (!sized(*begin) || out(*begin));
    std::vector<oracle::Cap> walk;
    for (auto c = begin; c != end && (c->extended ? sized(*c) && one : skip || sized(*c)) && f.HeaderType() <= 1; ++c)
        if (c->extended || !skip) walk.push_back(*c);
    return walk;
}

} // namespace

/* The domain's functions answer what their config file gives (64 bytes to an
 * unprivileged process, 256 conventional, 4096 at most), other domains through
 * ReadConfigEx; writes are refused, said once, unless allowed; a function gone
 * answers nothing till back; a new one is seen at the next open, which refuses
 * the old context; up to half the open-file limit stay open. */
TEST(SysfsDriver, ServesTheFunctionsOfItsDomainAsTheKernelGivesThem) {
    Sysfs fs;
    std::string pcie(6000, 0), conventional(256, 0), header(64, 0), ones(256, -1), other(256, 0);
    for (auto [file, first] : {std::pair{&pcie, 0}, {&conventional, 3}, {&header, 0x40}, {&other, 0x81}})
        std::iota(file->begin(), file->end(), char(first));
    fs.Add("0000:00:00.0", pcie), fs.Add("0000:00:1f.3", conventional), fs.Add("0000:03:00.0", header);
    fs.Add("0000:08:00.0", ones), fs.Add("0002:05:00.0", other);
    for (const char* name : {"0000:00:20.0", "0000:06:00.8", "000:00:02.0", "000000000:07:00.0"}) fs.Add(name, header);
    std::filesystem::create_directories(fs.File("devices/0000:04:00.0")); /* no config file */
    size_t before = OpenFiles(), served = 0;
    ASSERT_EQ(fs.Open(), "");
    std::string found, name = "0000:10:00.0";
    uint8_t b[8192];
    for (uint32_t at = 0; at < 1 << 16; ++at) found += fs.Read(at, 0, 64, b) ? std::to_string(at) + " " : "";
    EXPECT_EQ(found, "0 251 768 2048 ") << "00:00.0, 00:1f.3, 03:00.0 and 08:00.0";
    /* clang-format off */
    const std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, const std::string&> rows[] = {
        /* domain, location, offset, length; how many bytes of which file answer */
        {0, 0, 0, 8192, 4096, pcie}, {0, 0, 4094, 100, 2, pcie}, {0, 0, 4096, 4, 0, pcie}, {0, 0, ~0u, ~0u, 0, pcie},
        {0, 251, 0, 4096, 256, conventional}, {0, 251, 0xFC, 8, 4, conventional}, {0, 251, 0x100, 4, 0, conventional},
        {0, 768, 0, 256, 64, header}, {0, 768, 0x40, 4, 0, header}, {0, 2048, 0, 64, 64, ones},
        {0, 0x10000, 0, 4, 0, pcie}, {0, 8, 0, 4, 0, pcie}, {0, 0, 0, 0, 0, pcie}, {2, 0x500, 0, 64, 64, other},
        {2, 0x500, 0xF0, 0x20, 16, other}, {2, 0x500, 0x100, 4, 0, other}, {1, 0x500, 0, 64, 0, other},
        {2, 0x100, 0, 4, 0, other}};
    /* clang-format on */
    for (auto [domain, at, offset, length, count, file] : rows) {
        uint32_t n = fs.Read(at, offset, length, b, domain);
        EXPECT_EQ(std::string(b, b + n), file.substr(std::min<size_t>(offset, file.size()), count)) << domain << at;
    }
    CaptureFd err(2);
    EXPECT_EQ((std::tuple{fs.Read(0, 0, 4, nullptr), fs.Write(0, 4, 4, b), fs.Write(0xFB, 4, 4, b), err.Text()}),
        std::tuple(0u, 0u, 0u,
            "qorbsysfs: configuration writes are disabled; to enable them set \"allow_writes = yes\" in "
            "section [sysfs] of qorbsysfs.ini in the current directory and run as root\n"));
    for (uint32_t dev = 0; dev < 32; ++dev)
        snprintf(&name[8], 5, "%02x.0", dev), fs.Add(name, std::string(256, char(dev)));
    struct rlimit saved, low;
    getrlimit(RLIMIT_NOFILE, &saved), low = saved, low.rlim_cur = before + 24, setrlimit(RLIMIT_NOFILE, &low);
    uint32_t old = fs.ctx;
    EXPECT_EQ(fs.Open("root = devices\nallow_writes = yes\n"), "");
    for (uint32_t dev = 0; dev < 32; ++dev) served += fs.Read(0x1000 | dev << 3, 0, 64, b) == 64 && b[0] == dev;
    EXPECT_EQ(std::tuple(served, OpenFiles() - before), std::tuple(32u, (before + 24) / 2));
    setrlimit(RLIMIT_NOFILE, &saved);
    memcpy(b, "\x07\x01\xA5\x5A", 4), std::filesystem::remove_all(fs.File("devices/0000:10:05.0"));
    CaptureFd quiet(2);
    EXPECT_EQ((std::tuple{fs.Write(0x10F8, 4, 4, b), fs.Write(0x10F8, 0x1000, 4, b), fs.Write(0x1100, 4, 4, b),
                  ReadFile(fs.File("devices/0000:10:1f.0/config")).substr(4, 4), fs.Read(0x1028, 0, 64, b),
                  fs.Read(0x1028, 0, 64, b), fs.Read(0x1030, 0, 64, b), quiet.Text()}),
        std::tuple(4u, 0u, 0u, "\x07\x01\xA5\x5A", 0u, 0u, 64u, ""));
    fs.Add("0000:10:05.0", std::string(256, '\x42')), fs.Add("0000:09:00.0", std::string(256, '\x33'));
    EXPECT_EQ((std::tuple{fs.Read(0x1028, 0, 64, b), uint8_t(b[0]), fs.Read(0x900, 0, 64, b),
                  fs.t.ReadConfig(old, 0, 0, 0, 0, 4, b), fs.t.MapConfigSpace(old, 0, 0), fs.t.CloseDriver(old),
                  fs.t.WriteConfig(old, 0, 0, 0, 4, 4, b), fs.t.CloseDriver(fs.ctx), OpenFiles() - before}),
        std::tuple(64u, 0x42, 0u, 0u, 0u, 0u, 0u, 1u, size_t{0}));
}

/* qorbsysfs.ini (keys in any case): a bad setting stops the open, naming its
 * line; the MCFG table named there: the domain's entry gives the window. */
TEST(SysfsDriver, SettingsAndTheMcfgWindow) {
    Sysfs fs;
    fs.Add("0000:00:00.0", std::string(64, '\x01'));
    /* An ACPI MCFG table; each entry: base, segment | start bus << 16 | end bus << 24. */
    auto mcfg = [](std::vector<std::array<uint64_t, 2>> entries) {
        std::string t = "MCFG" + std::string(40 + 16 * entries.size(), '\0');
        return std::copy_n(reinterpret_cast<const char*>(entries.data()), 16 * entries.size(), &t[44]),
               t[4] = char(t.size()), t;
    };
    const std::string three = mcfg({{0xF8000000, 0x3F000001}, {0x1E0000000, 0xFF000000}, {0xC0000000, 0x80800000}});
    const std::string line = "qorbsysfs: qorbsysfs.ini line ";
    /* clang-format off */
    const std::tuple<std::string, std::string, std::string> rows[] = { /* more lines, the MCFG file; what the
        open said, or w and what a write answers, then the MCFG window if any */
        {"allow_writes = maybe", "", line + "4: bad value \"maybe\" for allow_writes\n-"},
        {"domain = 00g0", "", line + "4: bad value \"00g0\" for domain\n-"}, {"x", "", line + "4: syntax error\n-"},
        {"domain = 123456789", "", line + "4: bad value \"123456789\" for domain\n-"},
        {"allow_write = yes", "", line + "4: unknown key \"allow_write\"\n-"},
        {"[pci]\nroot = /x", "", line + "5: unknown section [pci] (expected [sysfs])\n-"},
        {"root = /no/such", "", "qorbsysfs: cannot list /no/such: No such file or directory\n-"},
        {"; note\n[SYSFS]\nRoot = devices///\nDomain = 0x0000\nAllow_Writes = On\nMcfg = MCFG", three,
         "w1 1e0000000 0 ff 10000000"},
        {"allow_writes = TRUE", mcfg({{0xE0000000, 0x1F100000}}), "w1 e0000000 10 1f 1000000"},
        {"allow_writes = 1", "", "w1"}, {"allow_writes = off", "", "w0"}, {"allow_writes = yes\ndomain = 1", "", "w0"},
        {"domain = 1", three, "w0 f8000000 0 3f 4000000"}, {"domain = 2", three, "w0"}, {"", mcfg({}), "w0"},
        {"", mcfg({{0xE0000000, 0x10200000}}), "w0"}, {"", "X" + three.substr(1), "w0"}, {"", three.substr(0, 9), "w0"},
        {"", three.substr(0, 50), "w0"}, {"", three.substr(0, 4) + ',' + three.substr(5), "w0"}};
    /* clang-format on */
    for (const auto& [ini, table, said] : rows) {
        WriteFile("MCFG", table);
        std::string text = fs.Open("root = devices\nmcfg = MCFG\n" + ini + "\n");
        uint64_t base = 7, length = 7;
        uint8_t start = 7, end = 7;
        CaptureFd err(2);
        uint32_t wrote = fs.Write(0, 0x3C, 1, &end), answer = fs.t.QueryMcfgTable(fs.ctx, &base, &start, &end, &length);
        char got[64];
        snprintf(got, 64, answer ? "w%u %llx %x %x %llx" : "w%u", wrote, base + 0ull, start, end, length + 0ull);
        EXPECT_EQ(text.empty() ? got : text, said) << ini;
    }
}

/* The library on each real dump (through qorbsim) and on this machine (through
 * qorbsysfs, read only): its search finds exactly libpci's functions of domain
 * 0, buses 0-254, and reads their bytes and capability lists as expected. */
TEST(LibraryWithLibpci, AgreeOnEveryRealDumpAndOnThisMachine) {
    /* clang-format off */
    const std::pair<const char*, size_t> rows[] = { /* dump, functions compared */
        {"bridge-ctl-vga16.txt", 2}, {"broken-ecaps.txt", 1}, {"cap-MSI-mapping.txt", 1}, {"cap-aer-hdr.txt", 1},
        {"cap-aer-root.txt", 2}, {"cap-dpc.txt", 1}, {"cap-exp-lnkcap2.txt", 4}, {"cap-ht.txt", 2},
        {"cap-l1-pm.txt", 1}, {"cap-pci-af.txt", 1}, {"cap-pcie-1.txt", 1}, {"cap-pcie-2.txt", 1}, {"cap-ptm-1.txt", 0},
        {"cap-rebar.txt", 1}, {"cap-vendor-virtio.txt", 2}, {"tree-fujitsu-p8010.txt", 22}, {"", 0}};
    /* clang-format on */
    for (auto [name, count] : rows) {
        if (*name ? PlatformsDir().empty() : !FileExists("/sys/bus/pci/devices"))
            GTEST_SKIP() << (*name ? "no folder of real dumps" : "this machine has no /sys/bus/pci/devices");
        std::string dump = *name ? PlatformsDir() + "/" + name : "";
        SCOPED_TRACE(*name ? name : "this machine");
        ScratchDir scratch; /* no qorbsysfs.ini: the sysfs driver's defaults, read only */
        WriteFile("qorbsim.ini", "[platform]\ndump = " + dump + "\n");
        void* instance = nullptr;
        CaptureFd out(1); /* where the library reports a missing MCFG and unknown capabilities */
        _QORB_STATUS_t opened = OpenQORBEx(&instance, 0, *name ? QORB_SIM_DRIVER_PATH : QORB_SYSFS_DRIVER_PATH, 0, 0);
        std::vector<std::string> listed, found, library, expected;
        for (const oracle::Function& f : oracle::Read(dump)) {
            if (f.domain != 0 || f.bus > 254) continue;
            FoundDevice device(uint8_t(f.bus), uint8_t(f.dev), uint8_t(f.fn));
            std::vector<oracle::Cap> walk;
            std::vector<uint8_t> bytes(4096);
            uint32_t n = 4096, at = f.bus << 8 | f.dev << 3 | f.fn;
            ReadConfigSpace(*device, bytes.data(), 0, &n), bytes.resize(n);
            void *cap = nullptr, *next = nullptr; /* bounded: a looped list repeats for ever */
            for (auto s = GetFirstCapability(*device, &cap); s == QORB_SUCCESS && walk.size() < 100; cap = next) {
                _QORB_PCI_DEVICE_CAP_INFO_t info{};
                QORB_QueryCapInfo(cap, &info), walk.push_back({info.offset, info.capabilityId, info.offset >= 0x100});
                next = nullptr, s = GetNextCapability(*device, &next, cap), QORB_FreeCapabilityHandle(cap);
            }
            QORB_FreeCapabilityHandle(cap), listed.push_back(std::to_string(at));
            library.push_back(listed.back() + ": " + oracle::Text(walk) + (bytes == f.bytes ? "" : " (other bytes)"));
            expected.push_back(listed.back() + ": " + oracle::Text(ExpectedWalk(f)));
        }
        for (uint32_t at = 0; at < 255 << 8; ++at)
            if (FoundDevice(uint8_t(at >> 8), uint8_t(at >> 3 & 31), uint8_t(at & 7)).Status() == QORB_SUCCESS)
                found.push_back(std::to_string(at));
        CloseQORB(instance), out.Text();
        EXPECT_EQ(std::tuple(opened, listed.size(), found, library),
            std::tuple(QORB_SUCCESS, *name ? count : listed.size(), listed, expected));
    }
}
