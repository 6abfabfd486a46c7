/* The simulated driver, libqorbsim.so, loaded directly: its built-in
 * platform checked with libpci, the dump reader, qorbsim.ini, the register
 * model, the link model of downstream ports and the ZEB test card; and the
 * library agreeing with libpci on every real dump the driver serves. */
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <linux/pci_regs.h>

#include <chrono>
#include <thread>

#include <qorb/qorb_driver.h>
#include <qorb_common/trace_entry.h>

#include "pci_oracle.h"
#include "qorb_test_support.h"

using namespace qorbtest;

namespace {

struct At {
    uint32_t bus, dev, fn;
};

/* libqorbsim.so opened in a scratch folder holding qorbsim.ini (none for "")
 * and the given files; what the open printed is in errors. One at a time:
 * the driver keeps one platform per process. */
struct Sim : ScratchDir {
    void* so = dlopen(QORB_SIM_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    _CONFIG_DRIVER_INTERFACE_t t{};
    _ZEB_LIB_INTERFACE_t* zeb = nullptr;
    uint32_t ctx = 0;
    bool opened = false;
    std::string errors;

    explicit Sim(const std::string& ini = "", const std::vector<std::pair<std::string, std::string>>& files = {})
    {
        for (const auto& [name, text] : files)
            WriteFile(File(name), text);
        if (!ini.empty())
            WriteFile(File("qorbsim.ini"), ini);
        reinterpret_cast<QORB_CONFIG_DRIVER_GET_INTERFACE>(dlsym(so, "ConfigDriver_GetInterface"))(&t);
        reinterpret_cast<QORB_ZEB_LIB_OPEN_INTERFACE>(dlsym(so, "ZEB_LIB_Open_ZEB_Interface"))(&zeb);
        CaptureFd err(2);
        opened = t.OpenDriver(&ctx) == 1;
        errors = err.Text();
    }
    ~Sim()
    {
        t.CloseDriver(ctx);
        dlclose(so);
    }
    uint32_t Read(At a, uint32_t offset, uint32_t length, void* buffer) const
    {
        return t.ReadConfig(ctx, a.bus, a.dev, a.fn, offset, length, static_cast<uint8_t*>(buffer));
    }
    uint32_t Write(At a, uint32_t offset, uint32_t length, uint32_t value) const
    {
        return t.WriteConfig(ctx, a.bus, a.dev, a.fn, offset, length, reinterpret_cast<uint8_t*>(&value));
    }
    /* A register of 1 to 4 bytes; all ones unless all of it was read. */
    uint32_t Get(At a, uint32_t offset, uint32_t width = 4) const
    {
        uint32_t value = 0;
        return Read(a, offset, width, &value) == width ? value : 0xFFFFFFFF;
    }
    bool Present(At a) const { return Get(a, 0) != 0xFFFFFFFF; }
    /* Every function that answers, with all its bytes, as lspci -xxxx text. */
    std::string Dump() const
    {
        std::vector<DumpFunction> functions;
        std::vector<uint8_t> bytes(4096);
        for (uint32_t bus = 0; bus < 256; ++bus)
            for (uint32_t slot = 0; slot < 256; ++slot)
                if (uint32_t n = Read({bus, slot >> 3, slot & 7}, 0, 4096, bytes.data())) {
                    functions.push_back({uint8_t(bus), uint8_t(slot >> 3), uint8_t(slot & 7), ConfigSpace(n)});
                    for (uint32_t i = 0; i < n; ++i)
                        functions.back().space.Set8(i, bytes[i]);
                }
        return DumpText(functions);
    }
    /* The same, read by libpci. */
    std::vector<oracle::Function> Functions() const
    {
        WriteFile(File("served.txt"), Dump());
        return oracle::Read(File("served.txt"));
    }
};

std::string Name(uint32_t bus, uint32_t dev, uint32_t fn)
{
    char name[16];
    snprintf(name, sizeof name, "%02x:%02x.%x", bus, dev, fn);
    return name;
}

/* Capabilities as "ID@offset" (extended: "eID@offset"), with "/n" for a
 * vendor-specific one's length, MSI-X vectors, the PCI Express port type,
 * and "/64" for 64-bit MSI. */
std::string Text(const oracle::Function& f, const std::vector<oracle::Cap>& caps)
{
    std::string text;
    char item[32];
    for (const oracle::Cap& c : caps) {
        uint32_t flags = f.Get(c.offset + 2, 2);
        uint32_t detail = c.extended ? 0
                          : c.id == PCI_CAP_ID_VNDR ? flags & 0xFF
                          : c.id == PCI_CAP_ID_MSI  ? (flags & PCI_MSI_FLAGS_64BIT ? 64 : 0)
                          : c.id == PCI_CAP_ID_MSIX ? (flags & PCI_MSIX_FLAGS_QSIZE) + 1
                          : c.id == PCI_CAP_ID_EXP  ? flags >> 4 & 0xF
                                                    : 0;
        snprintf(item, sizeof item, detail ? " %s%x@%x/%u" : " %s%x@%x", c.extended ? "e" : "", c.id, c.offset, detail);
        text += item;
    }
    return text.empty() ? "" : text.substr(1);
}

} // namespace

TEST(SimBuiltin, ServesTheDocumentedPlatform)
{
    Sim sim;
    ASSERT_TRUE(sim.opened) << sim.errors;
    std::vector<oracle::Function> functions = sim.Functions();
    /* IDs, class and revision, header type, bridge buses (subordinate,
     * secondary, primary), bytes, capabilities; PCI Express Link
     * Capabilities, Link Status and Slot Capabilities. */
    const struct {
        const char* at;
        uint32_t ids, classRev, header, buses, size;
        const char* caps;
        uint32_t linkCap, linkStatus, slotCap;
    } rows[] = {
        {"00:00.0", 0x10005153, 0x06000001, 0x00, 0x000000, 4096, "", 0, 0, 0},
        {"00:01.0", 0x10015153, 0x06040001, 1, 0x050100, 4096, "10@40/4 1@80 5@90 e1@100 e2@148", 0x01135d03, 0x3083, 0x80c80},
        {"00:02.0", 0x10015153, 0x06040001, 1, 0x060600, 4096, "10@40/4 1@80 5@90/64 e1@100 e2@148", 0x02135d03, 0x3043, 0x100c80},
        {"00:03.0", 0x10015153, 0x06040001, 1, 0x090700, 4096, "10@40/4 1@80 5@90/64 e1@100 e2@148", 0x03135c83, 0x3083, 0x180c80},
        {"00:1c.0", 0x10015153, 0x06040001, 1, 0x0b0a00, 4096, "10@40/4 1@80 5@90 e1@100", 0x04135c12, 0x3011, 0x200c80},
        {"00:1f.0", 0x10405153, 0x08800001, 0x00, 0x000000, 4096, "10@40/9 1@80 11@90/4 e3@100", 0, 0, 0},
        {"01:00.0", 0x10025153, 0x06040001, 1, 0x050201, 4096, "10@40/5 1@80 e1@100 e2@148 e3@168", 0x35c83, 0x1083, 0},
        {"02:00.0", 0x10035153, 0x06040001, 1, 0x030302, 4096, "10@40/6 1@80 5@90 e1@100 e2@148", 0x01135c43, 0x3043, 0},
        {"02:01.0", 0x10035153, 0x06040001, 1, 0x040402, 4096, "10@40/6 1@80 5@90 e1@100 e2@148", 0x02135c43, 0x3043, 0},
        {"02:02.0", 0x10035153, 0x06040001, 1, 0x050502, 4096, "10@40/6 1@80 5@90 e1@100 e2@148", 0x03135c43, 0x0001, 0x280c80},
        {"03:00.0", 0x10105153, 0x02000001, 0, 0, 4096, "1@40 5@50/64 11@70/16 10@a0 e1@100 e3@148 e4@158", 0x35c43, 0x1043, 0},
        {"04:00.0", 0x10115153, 0x01080201, 0x80, 0, 4096, "1@40 11@50/32 9@60/16 10@70 e1@100 e3@148", 0x35c43, 0x1043, 0},
        {"04:00.1", 0x10125153, 0x07000201, 0x80, 0, 4096, "1@40 5@50 10@60/1 e1@100", 0x35c43, 0x1043, 0},
        {"06:00.0", 0x10205153, 0x02800001, 0, 0, 4096, "1@40 5@50/64 10@70 11@b0/8 9@c0/20 e1@100 e2@148 e3@168 e4@178",
         0x35c43, 0x1043, 0},
        {"07:00.0", 0x00015a45, 0x06040001, 1, 0x090807, 4096, "10@40/5 1@80 9@90/12 e1@100", 0x35c83, 0x1083, 0},
        {"08:00.0", 0x00025a45, 0x06040001, 1, 0x090908, 4096, "10@40/6 1@80 5@90 e1@100 e2@148", 0x01135c83, 0x3083, 0},
        {"09:00.0", 0x10505153, 0x11800001, 0, 0, 4096, "1@40 5@50/64 10@70 11@b0/8 9@c0/24 e1@100 e2@148 e3@168 e4@178",
         0x35c83, 0x1083, 0},
        {"0a:00.0", 0x10305153, 0x06040001, 1, 0x0b0b0a, 4096, "10@40/7 1@80 e1@100", 0x35c11, 0x1011, 0},
        {"0b:02.0", 0x10315153, 0x07800001, 0, 0, 256, "1@40 5@50", 0, 0, 0},
    };
    /* Registers every instance of a capability holds (0x100 + ID for an
     * extended one): PM version 3 with PME from D0, D3hot and D3cold, No
     * Soft Reset; the MSI-X table and PBA in BAR 0; AER version 2, the
     * severities after reset, Advisory Non-Fatal masked, ECRC capable; VC0
     * carrying every traffic class; Power Budgeting in the system allocation. */
    const std::tuple<uint32_t, uint32_t, uint32_t> same[] = {
        {PCI_CAP_ID_PM, PCI_PM_PMC, 0x0008C803}, {PCI_CAP_ID_MSIX, PCI_MSIX_TABLE, 0x2000},
        {PCI_CAP_ID_MSIX, PCI_MSIX_PBA, 0x3000}, {0x101, PCI_ERR_UNCOR_SEVER, 0x00462030},
        {0x101, PCI_ERR_COR_MASK, 0x2000}, {0x101, PCI_ERR_CAP, 0xA0}, {0x102, PCI_VC_RES_CAP, 1},
        {0x102, PCI_VC_RES_CTRL, 0x800000FF}, {0x104, PCI_PWR_CAP, 1},
    };
    ASSERT_EQ(functions.size(), std::size(rows));
    for (size_t i = 0; i < functions.size(); ++i) {
        const oracle::Function& f = functions[i];
        const auto& r = rows[i];
        SCOPED_TRACE(r.at);
        uint32_t buses = f.HeaderType() == 1 ? f.Get(PCI_PRIMARY_BUS) & 0xFFFFFF : 0;
        EXPECT_EQ(std::tuple(Name(f.bus, f.dev, f.fn), f.Get(0), f.Get(8), f.Get(0x0E, 1), buses, f.bytes.size(),
                             Text(f, f.caps)),
                  std::tuple(std::string(r.at), r.ids, r.classRev, r.header, r.buses, size_t{r.size}, std::string(r.caps)));
        /* Memory and bus master on (and I/O for bridges), no error status;
         * bridges' windows closed, other functions with a memory BAR 0 on a
         * 64 KiB boundary, INTA, and their IDs as subsystem. */
        EXPECT_EQ(f.Get(PCI_COMMAND), (f.caps.empty() ? 0u : PCI_STATUS_CAP_LIST << 16) | (buses ? 7u : 6u));
        EXPECT_EQ(std::tuple(f.Get(PCI_IO_BASE, 2), f.Get(PCI_MEMORY_BASE), f.Get(PCI_PREF_MEMORY_BASE)),
                  buses ? std::tuple(0xF0u, 0xFFF0u, 0x1FFF1u) : std::tuple(0u, 0u, 0u));
        if (!buses && f.Get(PCI_BASE_ADDRESS_0)) {
            EXPECT_EQ(std::tuple(f.Get(PCI_BASE_ADDRESS_0) & 0xFFFF, f.Get(PCI_INTERRUPT_PIN, 1),
                                 f.Get(PCI_SUBSYSTEM_VENDOR_ID)),
                      std::tuple(0u, 1u, f.Get(0)));
        }
        /* Each capability: the registers above; MSI with one vector (32-bit)
         * or eight (64-bit); the serial number with the location; PCI Express
         * version 2, endpoints with FLR, any latency and 256-byte payloads,
         * completion timeout ranges A to D, ARI forwarding in downstream
         * ports, the speeds up to the maximum. */
        for (const oracle::Cap& c : f.caps) {
            uint32_t at = c.offset, id = c.extended ? 0x100 | c.id : c.id, type = f.Get(at + PCI_EXP_FLAGS, 1) >> 4;
            bool fn = type <= 1 || type == 9, down = type == 4 || type == 6;
            EXPECT_EQ(c.extended ? f.Get(at + 2, 1) & 0xF : 0u, c.extended ? 1u + (c.id == 1) : 0u) << "version";
            for (auto [cap, reg, value] : same)
                EXPECT_EQ(id == cap ? f.Get(at + reg) : value, value) << std::hex << cap << "+" << reg;
            uint32_t msi = id == PCI_CAP_ID_MSI ? f.Get(at + PCI_MSI_FLAGS, 2) : 0;
            EXPECT_EQ(msi, msi ? 0x86u : 0u);
            EXPECT_EQ(id == 0x103 ? uint64_t{f.Get(at + 8)} << 32 | f.Get(at + 4) : 0,
                      id == 0x103 ? 0x5153000000000000ull | f.bus << 16 | f.dev << 8 : 0);
            if (id != PCI_CAP_ID_EXP)
                continue;
            EXPECT_EQ(std::tuple(f.Get(at + PCI_EXP_FLAGS, 2) & 0xF0F, f.Get(at + PCI_EXP_DEVCAP), f.Get(at + PCI_EXP_DEVCTL, 2),
                                 f.Get(at + PCI_EXP_LNKCAP), f.Get(at + PCI_EXP_LNKCTL), f.Get(at + PCI_EXP_SLTCAP),
                                 f.Get(at + PCI_EXP_SLTSTA, 2)),
                      std::tuple(r.slotCap ? 0x102u : 2u, fn ? 0x10008FC1u : 0x8001u, fn ? 0x2810u : 0u, r.linkCap,
                                 r.linkStatus << 16 | (type == 9 ? 0 : 0x40), r.slotCap,
                                 r.slotCap && (r.linkStatus & 0x3F0) ? PCI_EXP_SLTSTA_PDS : 0u));
            EXPECT_EQ(std::tuple(f.Get(at + PCI_EXP_DEVCAP2), f.Get(at + PCI_EXP_LNKCAP2), f.Get(at + PCI_EXP_LNKCTL2, 2)),
                      std::tuple(down ? 0x3Fu : 0x1Fu, (2u << (r.linkCap & 0xF)) - 2, r.linkCap & 0xF));
        }
    }
}

namespace {

/* The library's capability walk of a device (bounded: a looped list would
 * repeat for ever). */
std::vector<oracle::Cap> LibraryWalk(void* device)
{
    std::vector<oracle::Cap> walk;
    void* cap = nullptr;
    for (auto status = GetFirstCapability(device, &cap); status == QORB_SUCCESS && walk.size() < 100;) {
        _QORB_PCI_DEVICE_CAP_INFO_t info{};
        QORB_QueryCapInfo(cap, &info);
        walk.push_back({info.offset, info.capabilityId, info.offset >= 0x100});
        void* next = nullptr;
        status = GetNextCapability(device, &next, cap);
        QORB_FreeCapabilityHandle(cap);
        cap = next;
    }
    QORB_FreeCapabilityHandle(cap);
    return walk;
}

/* The bridge (type 1 header) whose secondary bus f sits on, the first in
 * location order. */
const oracle::Function* Above(const std::vector<oracle::Function>& functions, const oracle::Function* f)
{
    for (const oracle::Function& g : functions)
        if (f && g.HeaderType() == 1 && g.bytes[PCI_SECONDARY_BUS] == f->bus && &g != f)
            return &g;
    return nullptr;
}

} // namespace

/* Every dump, served by the simulated driver, read by the library and by
 * libpci: the location search finds exactly the functions of domain 0 on
 * buses 0 to 254 and reads their bytes; the capability walk, the port type
 * and the parent link follow from libpci's lists by the library's rules. */
TEST(LibraryOnDumps, AgreesWithLibpci)
{
    if (PlatformsDir().empty())
        GTEST_SKIP() << "no platforms folder beside the source tree";
    const std::pair<const char*, size_t> rows[] = {   /* dump, functions in domain 0 */
        {"", 19}, {"bridge-ctl-vga16.txt", 2}, {"broken-ecaps.txt", 1}, {"cap-MSI-mapping.txt", 1},
        {"cap-aer-hdr.txt", 1}, {"cap-aer-root.txt", 2}, {"cap-dpc.txt", 1}, {"cap-exp-lnkcap2.txt", 4},
        {"cap-ht.txt", 2}, {"cap-l1-pm.txt", 1}, {"cap-pci-af.txt", 1}, {"cap-pcie-1.txt", 1}, {"cap-pcie-2.txt", 1},
        {"cap-ptm-1.txt", 0}, {"cap-rebar.txt", 1}, {"cap-vendor-virtio.txt", 2}, {"tree-fujitsu-p8010.txt", 22},
    };
    ScratchDir scratch;
    for (auto [name, count] : rows) {
        std::string dump = *name ? PlatformsDir() + "/" + name : scratch.File("builtin.txt");
        if (!*name)   /* the built-in platform, as the driver serves it */
            WriteFile(dump, Sim().Dump());
        SCOPED_TRACE(dump);
        std::vector<oracle::Function> functions;
        std::vector<std::string> listed, found;
        for (const oracle::Function& f : oracle::Read(dump))
            if (f.domain == 0 && f.bus < 255)
                functions.push_back(f), listed.push_back(Name(f.bus, f.dev, f.fn));
        EXPECT_EQ(functions.size(), count);
        SimPlatform platform(std::vector<std::string>{dump});
        ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
        for (uint32_t bus = 0; bus < 255; ++bus)
            for (uint32_t slot = 0; slot < 256; ++slot)
                if (FoundDevice(uint8_t(bus), uint8_t(slot >> 3), uint8_t(slot & 7)).Status() == QORB_SUCCESS)
                    found.push_back(Name(bus, slot >> 3, slot & 7));
        EXPECT_EQ(found, listed);
        for (const oracle::Function& f : functions) {
            SCOPED_TRACE(Name(f.bus, f.dev, f.fn));
            FoundDevice device(uint8_t(f.bus), uint8_t(f.dev), uint8_t(f.fn));
            ASSERT_EQ(device.Status(), QORB_SUCCESS);
            std::vector<uint8_t> bytes(4096);
            uint32_t n = 4096, express = 0;
            ReadConfigSpace(*device, bytes.data(), 0, &n);
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + n, f.bytes.begin(), f.bytes.end())) << n << " bytes";
            std::vector<oracle::Cap> expected = oracle::ExpectedWalk(f, &express);
            EXPECT_EQ(Text(f, LibraryWalk(*device)), Text(f, expected));
            auto type = static_cast<_QORB_DEV_PORT_TYPE_t>(0xEE);
            EXPECT_EQ(GetDeviceType(*device, &type), express ? QORB_SUCCESS : QORB_PCIE_CAP_OUT_OF_RANGE);
            EXPECT_EQ(uint32_t(type), express ? f.Get(express + PCI_EXP_FLAGS, 1) >> 4 : 0xEEu);
            /* The parent: the bridge above an endpoint, an upstream port or a
             * PCI Express to PCI bridge, the one above that for a downstream
             * port, none for any other. */
            const oracle::Function* parent = !express                                   ? nullptr
                                             : type <= 1 || type == 5 || type == 7 ? Above(functions, &f)
                                             : type == 6 ? Above(functions, Above(functions, &f))
                                                         : nullptr;
            void* linked = nullptr;
            uint8_t b = 0, d = 0, fn = 0;
            OpenDevice(*device, QORB_ACCESS_READ_ONLY);
            if (GetParentDevice(*device, &linked) == QORB_SUCCESS)
                QORB_GetDeviceProperties(linked, &b, &d, &fn, nullptr, nullptr);
            EXPECT_EQ(linked ? Name(b, d, fn) : "none", parent ? Name(parent->bus, parent->dev, parent->fn) : "none");
            CloseDevice(linked);
        }
    }
}

namespace {

/* A type 0 function of size bytes: IDs 1af4:1000, then each byte its offset. */
ConfigSpace Small(size_t size)
{
    ConfigSpace s(size);
    s.Header(0x1AF4, 0x1000, 0x02, 0x00, 0x00, 0x00);
    for (uint32_t i = 0x10; i < size; ++i)
        s.Set8(i, static_cast<uint8_t>(i));
    return s;
}

} // namespace

/* The dumped bytes, and transfers short past them; a domain of 4 or 8
 * digits and lspci -vv text between functions are read; several dumps make
 * one platform; other domains are left out with one notice. */
TEST(SimDump, ServesTheDumpedBytesAndTransfersShortPastThem)
{
    std::string hex = DumpText({{0, 0, 0, Small(64)}});
    hex = hex.substr(hex.find('\n') + 1);
    Sim sim("[platform]\ndump = a.txt\ndump = b.txt\n",
            {{"a.txt", DumpText({{1, 0, 0, Small(64)}, {2, 0, 0, Small(256)}, {3, 0, 0, Small(4096)}})},
             {"b.txt", "00000000:05:00.0 Ethernet controller: Test\n\tCapabilities: [40] Power Management\n" + hex +
                           "\tKernel driver in use: e1000e\n\n0000:05:00.1 Test\n" + hex + "0001:06:00.0 Test\n" + hex}});
    ASSERT_TRUE(sim.opened) << sim.errors;
    EXPECT_EQ(sim.errors, "qorbsim: 1 function(s) outside PCI domain 0 skipped: only domain 0 is simulated\n");
    const struct {
        bool write;
        At at;
        uint32_t offset, length, count;
    } rows[] = {
        {0, {1, 0, 0}, 0, 4096, 64}, {0, {1, 0, 0}, 60, 8, 4}, {0, {1, 0, 0}, 64, 4, 0}, {0, {2, 0, 0}, 0, 4096, 256},
        {0, {2, 0, 0}, 0xFC, 8, 4}, {0, {2, 0, 0}, 0x100, 4, 0}, {1, {2, 0, 0}, 0xFE, 4, 2}, {1, {2, 0, 0}, 0x100, 4, 0},
        {0, {3, 0, 0}, 0, 8192, 4096}, {0, {3, 0, 0}, 4092, 8, 4}, {0, {3, 0, 0}, 4096, 4, 0},
        {0, {3, 0, 0}, 0xFFFFFFFF, 4, 0}, {0, {5, 0, 0}, 0, 4096, 64}, {0, {5, 0, 1}, 0, 64, 64}, {0, {6, 0, 0}, 0, 4, 0},
        {0, {1, 0, 1}, 0, 64, 0}, {0, {255, 31, 7}, 0, 64, 0}, {0, {256, 0, 0}, 0, 64, 0}, {0, {1, 32, 0}, 0, 64, 0},
        {0, {1, 0, 8}, 0, 64, 0}, {1, {1, 0, 1}, 4, 2, 0}, {0, {1, 0, 0}, 0, 0, 0},
    };
    std::vector<uint8_t> buffer(8192, 0x5A);
    for (const auto& r : rows) {
        uint32_t n = r.write ? sim.Write(r.at, r.offset, r.length, 0) : sim.Read(r.at, r.offset, r.length, buffer.data());
        EXPECT_EQ(n, r.count) << r.write << " " << Name(r.at.bus, r.at.dev, r.at.fn) << " at " << r.offset;
        EXPECT_EQ(n ? 0x5A : buffer[0], 0x5A) << "a transfer of nothing left bytes in the buffer";
        buffer[0] = 0x5A;
    }
    EXPECT_EQ(std::tuple(sim.Get({1, 0, 0}, 0x3C), sim.Get({3, 0, 0}, 0xFFC), sim.Get({5, 0, 1}, 0)),
              std::tuple(0x3F3E3D3Cu, 0xFFFEFDFCu, 0x10001AF4u));
    EXPECT_EQ(sim.t.ReadConfig(sim.ctx, 1, 0, 0, 0, 4, nullptr), 0u);
}

/* Bad input stops the open: each problem is reported with its file and
 * line, then the driver says it does not open. */
TEST(SimDump, BadDumpsAndSettingsAreReportedAndTheDriverDoesNotOpen)
{
    const std::string good = DumpText({{1, 0, 0, Small(64)}}), fn = "01:00.0 Test\n", hex = good.substr(good.find('\n') + 1);
    const std::string line = "00: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\n", d = "[platform]\ndump = d.txt\n";
    std::string junk(200000, ' '), many;
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<char>((i * 7919) & 0xFF);
    for (int i = 0; i < 25; ++i)
        many += "00: 00\n";
    const struct {
        std::string ini, dump, message;
    } cases[] = {
        {d, fn + "00: f4 1a zz 10\n", "d.txt:2: bad hex byte 'zz' (two hex digits expected)"},
        {d, fn + "00: f4 1a 100 10\n", "d.txt:2: bad hex byte '100'"},
        {d, fn + line.substr(0, line.size() - 1) + " 10\n", "d.txt:2: more than 16 bytes on one line"},
        {d, fn + line + "20: 00\n", "d.txt:3: offset 020 does not follow the previous line (expected 010)"},
        {d, fn + "08: 00 01\n", "d.txt:2: offset 008 is not a multiple of 0x10 below 0x1000"},
        {d, fn + "00:\n", "d.txt:2: hex line without bytes"},
        {d, fn + "1000: 00\n", "d.txt:1: function 01:00.0 has 0 configuration bytes; at least 64 are needed"},
        {d, fn + line, "d.txt:1: function 01:00.0 has 16 configuration bytes"},
        {d, line + good, "d.txt:1: hex line before any function line"},
        {d, "01:00.0a Test\n" + hex, "d.txt:2: hex line before any function line"},
        {d, "000000000:01:00.0 Test\n" + hex, "d.txt:2: hex line before any function line"},
        {d, "00:20.0 Test\n" + hex, "d.txt:1: function line 00:20.0: device must be 00 to 1f and function 0 to 7"},
        {d, "00:00.8 Test\n" + hex, "d.txt:1: function line 00:00.8: device must be"},
        {d, good + good, "d.txt:7: function 01:00.0 is already defined at d.txt:1"},
        {d, "just some text\n", "d.txt:1: no function line (BB:DD.F or DDDD:BB:DD.F) found"},
        {d, many, "d.txt: 5 further errors not shown"},
        {d, junk, ""},
        {"[platform]\ndump = nowhere.txt\n", "", "nowhere.txt: cannot open the dump file: No such file or directory"},
        {d + "dump = e.txt\n", good, "e.txt:1: function 01:00.0 is already defined at d.txt:1"},
        {"[platform]\ndump =\n", "", "qorbsim.ini: [platform] dump has no file name"},
        {"[platform]\ndumps = d.txt\n", "", "qorbsim.ini: unknown setting 'dumps' in section [platform]"},
        {"not an ini file\n", "", "qorbsim.ini:1: not a [section], key = value or comment line"},
        {"[link]\ntraining_ms = 60001\n", "", "[link] training_ms = '60001' is not a number of milliseconds from 0 to 60000"},
        {"[link]\ntraining_ms = -1\n", "", "[link] training_ms = '-1'"},
        {"[link]\ntrain_ms = 5\n", "", "qorbsim.ini: unknown setting 'train_ms' in section [link]"},
        {"[function 0c:00.0]\nstatus = 1\n", "", "qorbsim.ini: [function 0c:00.0]: the platform has no such function"},
        {"[function 00:00.0]\naer_correctable = 1\n", "", "[function 00:00.0] aer_correctable: the function has no such register"},
        {"[function 06:00.0]\nsecondary_status = 1\n", "", "[function 06:00.0] secondary_status: the function has no"},
        {"[function 0b:02.0]\nlink_status = 1\n", "", "[function 0b:02.0] link_status: the function has no such"},
        {"[function 06:00.0]\nstatus = 0x1g\n", "", "qorbsim.ini: [function 06:00.0] status = '0x1g' is not a number"},
        {"[function 06:00.0]\nstatus = 0x10000\n", "", "[function 06:00.0] status = '0x10000' is not a number from 0 to 0xffff"},
        {"[function 06:00.0]\naer_fatal = 1\n", "", "qorbsim.ini: unknown setting 'aer_fatal' in section [function 06:00.0]"},
        {"[function 06:20.0]\nstatus = 1\n", "", "section [function 06:20.0]: expected [function BB:DD.F] with device 00-1f"},
        {"[function 6]\nstatus = 1\n", "", "qorbsim.ini: section [function 6]: expected [function BB:DD.F]"},
        {"[function 06:00.0]\nbreak_capabilities = all\n", "", "break_capabilities = 'all': expected legacy-loop, legacy-wild"},
        {"[function 0b:02.0]\nbreak_capabilities = extended-loop\n", "", "[function 0b:02.0]: break_capabilities: the function has no such list"},
        {"[function 00:00.0]\nbreak_capabilities = legacy-loop\n", "", "[function 00:00.0]: break_capabilities: the function has no"},
        {"[function 03:00.0]\nlink_training_stuck = 1\n", "", "link_training_stuck: not a root port or switch downstream port"},
        {"[function 00:02.0]\nlink_training_stuck = 2\n", "", "[function 00:02.0] link_training_stuck = '2' must be 0 or 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini + c.dump.substr(0, 40));
        Sim sim(c.ini, {{"d.txt", c.dump}, {"e.txt", good}});
        EXPECT_FALSE(sim.opened);
        EXPECT_NE(sim.errors.find(c.message), std::string::npos) << sim.errors;
        EXPECT_NE(sim.errors.find("qorbsim: the simulated platform was not loaded; the driver does not open\n"),
                  std::string::npos);
    }
}

/* Writes of zeros, then of ones, over each function (Link Control aside)
 * change every byte but those the register model keeps: identity, Header
 * Type, the Capabilities Pointer, each capability header (lists broken on
 * purpose too), the status registers, whose error bits a 1 clears (with
 * the qorbsim.ini presets), and the capability and status registers of PCI
 * Express and AER (Root Error Status of root ports). */
TEST(SimRegisters, WritesChangeAllButTheReadOnlyAndWriteOneToClearBits)
{
    Sim sim("[function 09:00.0]\nbreak_capabilities = legacy-loop\nbreak_capabilities = extended-loop\n"
            "[function 06:00.0]\nbreak_capabilities = LEGACY-WILD\naer_uncorrectable = 0x00104010\n"
            "aer_correctable = 0x000010C1\n[function 00:02.0]\nstatus = 0xf900\nsecondary_status = 0x2000\n"
            "device_status = 0x000f\nlink_status = 0xc000\n");
    ASSERT_TRUE(sim.opened) << sim.errors;
    EXPECT_EQ(std::tuple(sim.Get({9, 0, 0}, 0xC1, 1), sim.Get({9, 0, 0}, 0x178), sim.Get({6, 0, 0}, 0xC1, 1)),
              std::tuple(0x40u, 0x10010004u, 0x3Cu)) << "the broken lists";
    std::vector<oracle::Function> functions = sim.Functions();
    for (auto f = functions.rbegin(); f != functions.rend(); ++f) {   /* below a port before the port */
        SCOPED_TRACE(Name(f->bus, f->dev, f->fn));
        uint32_t size = uint32_t(f->bytes.size()), control = size;
        std::vector<uint8_t> kept(size), clear(size), after(size), all(4096);
        auto keep = [&](uint32_t at, uint32_t n, uint32_t clears = 0) {
            for (uint32_t i = 0; i < n; ++i)
                kept[at + i] = 1, clear[at + i] = uint8_t(i < 4 ? clears >> 8 * i : 0);
        };
        keep(PCI_VENDOR_ID, 4), keep(PCI_STATUS, 2, 0xF900), keep(PCI_CLASS_REVISION, 4), keep(PCI_HEADER_TYPE, 1);
        keep(PCI_CAPABILITY_LIST, 1);
        keep(PCI_SEC_STATUS, f->HeaderType() == 1 ? 2 : 0, 0xF900);
        bool root = f->Get(0x40, 1) == PCI_CAP_ID_EXP && f->Get(0x42, 1) >> 4 == PCI_EXP_TYPE_ROOT_PORT;
        for (const oracle::Cap& c : f->caps) {
            keep(c.offset, c.offset < 0x40 ? 0 : c.extended ? 4 : 2);
            if (!c.extended && c.id == PCI_CAP_ID_EXP) {
                control = c.offset + PCI_EXP_LNKCTL;
                keep(c.offset + PCI_EXP_FLAGS, 6), keep(c.offset + PCI_EXP_DEVSTA, 2, 0x000F);
                keep(c.offset + PCI_EXP_LNKCAP, 4), keep(c.offset + PCI_EXP_LNKSTA, 2, 0xC000);
                keep(c.offset + PCI_EXP_SLTCAP, 4), keep(c.offset + PCI_EXP_DEVCAP2, 4), keep(c.offset + PCI_EXP_LNKCAP2, 4);
            }
            if (c.extended && c.id == PCI_EXT_CAP_ID_ERR) {
                keep(c.offset + PCI_ERR_UNCOR_STATUS, 4, ~0u), keep(c.offset + PCI_ERR_COR_STATUS, 4, ~0u);
                keep(c.offset + PCI_ERR_ROOT_STATUS, root ? 4 : 0, 0x7F);
            }
        }
        At at{f->bus, f->dev, f->fn};
        for (uint8_t value : {0x00, 0xFF}) {
            std::fill(all.begin(), all.end(), value);
            EXPECT_EQ(sim.t.WriteConfig(sim.ctx, at.bus, at.dev, at.fn, 0, control, all.data()), control);
            uint32_t rest = size > control ? size - control - 2 : 0;
            EXPECT_EQ(sim.t.WriteConfig(sim.ctx, at.bus, at.dev, at.fn, control + 2, rest, all.data()), rest);
            ASSERT_EQ(sim.Read(at, 0, size, after.data()), size);
            std::string wrong;
            for (uint32_t i = 0; i < size; ++i)
                if (i - control > 1 && after[i] != (kept[i] ? f->bytes[i] & ~(value & clear[i]) : value))
                    wrong += " " + std::to_string(i);
            EXPECT_EQ(wrong, "") << "after writing " << int(value);
        }
    }
}

/* ReadConfigEx reads four bytes of domain 0; the ECAM window is the whole
 * bus range; a reopen starts from power-on and refuses the old context. */
TEST(SimEntries, ReadConfigExMcfgAndContexts)
{
    Sim sim;
    ASSERT_TRUE(sim.opened) << sim.errors;
    uint32_t value = 0, old = sim.ctx;
    auto readEx = [&](uint32_t domain, uint32_t fn, uint32_t offset) {
        return sim.t.ReadConfigEx(sim.ctx, domain, 9, 0, fn, offset, reinterpret_cast<uint8_t*>(&value));
    };
    EXPECT_EQ((std::tuple{readEx(0, 0, 0), value}), std::tuple(4u, 0x10505153u));
    EXPECT_EQ(std::tuple(readEx(0, 0, 4094), readEx(1, 0, 0), readEx(0, 1, 0)), std::tuple(2u, 0u, 0u));
    uint64_t base = 0, length = 0;
    uint8_t start = 0xAA, end = 0;
    EXPECT_EQ((std::tuple{sim.t.QueryMcfgTable(sim.ctx, &base, &start, &end, &length), base, start, end, length}),
              std::tuple(1u, 0xE0000000ull, 0, 255, 256ull << 20));
    EXPECT_EQ(std::tuple(sim.t.QueryMcfgTable(sim.ctx, nullptr, &start, &end, &length), sim.t.MapConfigSpace(sim.ctx, base, 1),
                         sim.t.MapConfigSpace(sim.ctx, base, 0)),
              std::tuple(0u, 1u, 0u));
    EXPECT_EQ(sim.Write({9, 0, 0}, PCI_COMMAND, 2, 0), 2u);
    EXPECT_EQ((std::tuple{sim.t.CloseDriver(old), sim.Present({9, 0, 0})}), std::tuple(1u, false));
    ASSERT_EQ(sim.t.OpenDriver(&sim.ctx), 1u);
    EXPECT_EQ(std::tuple(sim.ctx != old, sim.Get({9, 0, 0}, PCI_COMMAND, 2)), std::tuple(true, 0x0006u));
    for (uint32_t context : {old, 0u})
        EXPECT_EQ(std::tuple(sim.t.ReadConfig(context, 9, 0, 0, 0, 4, reinterpret_cast<uint8_t*>(&value)),
                             sim.t.WriteConfig(context, 9, 0, 0, 4, 2, reinterpret_cast<uint8_t*>(&value)),
                             sim.t.QueryMcfgTable(context, &base, &start, &end, &length),
                             sim.t.MapConfigSpace(context, 0, 1), sim.t.CloseDriver(context)),
                  std::tuple(0u, 0u, 0u, 0u, 0u));
    EXPECT_EQ(sim.t.OpenDriver(nullptr), 0u);
    EXPECT_EQ(sim.zeb->Arm(7, 0, 0), uint32_t{QORB_INVALID_PARAMETER}) << "the failed open closed the platform";
}

namespace {

/* Link Control and Status of a port (PCI Express capability at 0x40). */
constexpr uint32_t kControl = 0x40 + PCI_EXP_LNKCTL, kStatus = 0x40 + PCI_EXP_LNKSTA;
constexpr uint32_t kCcc = PCI_EXP_LNKCTL_CCC, kRetrain = PCI_EXP_LNKCTL_RL, kDisable = PCI_EXP_LNKCTL_LD;

/* Link Training ("T") and Data Link Layer Link Active ("A") of a port,
 * read until training ends when wait (for at most 10 s). */
std::string Link(const Sim& sim, At port, bool wait = false)
{
    for (int i = 0; wait && i < 1000 && (sim.Get(port, kStatus, 2) & PCI_EXP_LNKSTA_LT); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    uint32_t status = sim.Get(port, kStatus, 2);
    return std::string(status & PCI_EXP_LNKSTA_LT ? "T" : "") + (status & PCI_EXP_LNKSTA_DLLLA ? "A" : "");
}

} // namespace

/* Retrain Link reads back 0 and sets Link Training for the training time,
 * in downstream ports only; a port with nothing below never comes up; a
 * stuck port trains for ever. */
TEST(SimLink, RetrainLinkTrainsDownstreamPortsForTheTrainingTime)
{
    for (const char* ini : {"[link]\ntraining_ms = 0x0\n", ""}) {   /* "": the default time */
        Sim sim(ini);
        ASSERT_TRUE(sim.opened) << sim.errors;
        for (At port : {At{2, 0, 0}, At{2, 2, 0}}) {
            EXPECT_EQ(sim.Write(port, kControl, 2, kCcc | kRetrain), 2u);
            EXPECT_EQ(std::tuple(Link(sim, port, true), sim.Get(port, kControl, 2)), std::tuple(port.dev ? "" : "A", kCcc));
        }
    }
    Sim sim("[link]\ntraining_ms = 60000\n[function 00:03.0]\nlink_training_stuck = 1\n");
    ASSERT_TRUE(sim.opened) << sim.errors;
    const At port{0, 2, 0}, stuck{0, 3, 0};
    EXPECT_EQ(std::tuple(Link(sim, port), Link(sim, stuck)), std::tuple("A", "T"));
    sim.Write(port, kControl, 2, kCcc | kRetrain);
    EXPECT_EQ(std::tuple(Link(sim, port), sim.Get(port, kControl, 2), sim.Get(port, kStatus, 2) & 0x3FF, sim.Present({6, 0, 0})),
              std::tuple("T", kCcc, 0x43u, true)) << "speed and width stay, the device below answers";
    for (auto [control, link] : {std::pair{kCcc | kRetrain, "T"}, {kCcc | kDisable, ""}, {kCcc, "T"}}) {
        sim.Write(stuck, kControl, 2, control);
        EXPECT_EQ(Link(sim, stuck), link);
    }
    /* Elsewhere Retrain Link and Link Disable are reserved and Link Status
     * read-only: nothing trains, nothing hides. */
    for (auto [at, cap] : {std::pair{At{1, 0, 0}, 0x40u}, {At{3, 0, 0}, 0xA0u}, {At{9, 0, 0}, 0x70u}, {At{10, 0, 0}, 0x40u}}) {
        uint32_t status = sim.Get(at, cap + PCI_EXP_LNKSTA, 2);
        sim.Write(at, cap + PCI_EXP_LNKCTL, 2, kCcc | kRetrain | kDisable);
        sim.Write(at, cap + PCI_EXP_LNKSTA, 2, PCI_EXP_LNKSTA_LT);
        EXPECT_EQ(std::tuple(sim.Get(at, cap + PCI_EXP_LNKCTL, 2), sim.Get(at, cap + PCI_EXP_LNKSTA, 2)), std::tuple(kCcc, status));
    }
    EXPECT_TRUE(sim.Present({2, 0, 0}) && sim.Present({0x0B, 2, 0}));
}

/* Link Disable hides every function below until it is cleared; then they
 * come back from reset with their power-on contents (presets gone, links
 * below enabled) and the link trains. */
TEST(SimLink, LinkDisableHidesWhatIsBelowUntilItComesBackFromReset)
{
    Sim sim("[link]\ntraining_ms = 60000\n[function 03:00.0]\naer_correctable = 0x40\n");
    ASSERT_TRUE(sim.opened) << sim.errors;
    const At root{0, 1, 0}, downstream{2, 0, 0}, endpoint{3, 0, 0};
    sim.Write(endpoint, PCI_COMMAND, 2, 0);
    sim.Write({2, 1, 0}, kControl, 2, 0x0043);   /* ASPM L0s and L1 */
    sim.Write(downstream, kControl, 2, kCcc | kDisable);
    sim.Write(downstream, kControl, 2, kCcc | kDisable | kRetrain);
    sim.Write(root, kControl, 2, kCcc);   /* enabling an enabled link changes nothing */
    EXPECT_EQ(std::tuple(Link(sim, downstream), sim.Present(endpoint), sim.Present({4, 0, 0}), Link(sim, root)),
              std::tuple("", false, true, "A"));
    sim.Write(root, kControl, 2, kCcc | kDisable);
    EXPECT_EQ(std::tuple(Link(sim, root), sim.Get(root, kControl, 2)), std::tuple("", kCcc | kDisable));
    for (At at : {At{1, 0, 0}, At{2, 0, 0}, At{2, 1, 0}, At{2, 2, 0}, At{3, 0, 0}, At{4, 0, 0}, At{4, 0, 1}})
        EXPECT_FALSE(sim.Present(at)) << Name(at.bus, at.dev, at.fn);
    EXPECT_EQ(std::tuple(sim.Write(endpoint, PCI_COMMAND, 2, 6), sim.Present({6, 0, 0}), Link(sim, {0, 2, 0})),
              std::tuple(0u, true, "A")) << "other links stay as they are";
    sim.Write(root, kControl, 2, kCcc);
    EXPECT_EQ(std::tuple(Link(sim, root), sim.Get(endpoint, PCI_COMMAND, 2), sim.Get({2, 1, 0}, kControl, 2),
                         sim.Get(downstream, kControl, 2), sim.Get(endpoint, 0x100 + PCI_ERR_COR_STATUS), sim.Present({4, 0, 1})),
              std::tuple("T", 0x0006u, kCcc, kCcc, 0u, true));
}

namespace {

/* The ZEB card of the built-in platform (07:00.0 and 08:00.0, on the link
 * above the DUT 09:00.0), through the driver's test card table. */
struct Card : Sim {
    static constexpr At kDut{9, 0, 0};
    using Sim::Sim;
    /* The trace entries: kind byte, time stamp, payload. */
    std::vector<std::tuple<uint8_t, uint32_t, std::vector<uint8_t>>> Trace() const
    {
        uint32_t n = 0;
        EXPECT_EQ(zeb->GetTraceBufferSize(8, 0, 0, &n), 0u);
        std::vector<uint8_t> b(n);
        EXPECT_EQ((std::tuple{zeb->ReadTraceBuffer(7, 0, 0, &n, b.data()), n}), std::tuple(0u, uint32_t(b.size())));
        std::vector<std::tuple<uint8_t, uint32_t, std::vector<uint8_t>>> out;
        auto visit = [&](uint32_t, const uint8_t* h, uint32_t bytes) {
            out.emplace_back(h[1], h[4] | h[5] << 8 | h[6] << 16 | uint32_t(h[7]) << 24, std::vector<uint8_t>(h + 8, h + 8 + bytes));
            return true;
        };
        EXPECT_EQ(qorb_trace::WalkTrace(b.data(), n, visit), qorb_trace::WalkEnd::kEnd);
        return out;
    }
    /* The trace in short: the events A(rmed), S(uspended), R(esumed),
     * F(ull); TLPs by byte 0 and ">" downstream, "<" upstream, "!" sent by
     * the card; DLLPs by type and direction, Acks and Naks with their
     * sequence number. */
    std::string Summary() const
    {
        std::string text;
        char item[16];
        for (const auto& [kind, stamp, p] : Trace()) {
            if ((kind & 7) >= 4) {
                text += std::string(" ") + "ASRF"[(kind & 7) - 4];
                continue;
            }
            snprintf(item, sizeof item, " %02x%c", kind <= 2 ? p[0] : p[1], kind <= 2 ? "><!"[kind] : kind & 8 ? '<' : '>');
            text += item;
            snprintf(item, sizeof item, "%x", (p[3] & 0xF) << 8 | p[4]);
            text += kind > 2 && !(p[1] & 0xEF) ? item : "";
        }
        return text.substr(1);
    }
    uint32_t Actions() const
    {
        uint32_t n = 0xFFFF;
        EXPECT_EQ(zeb->GetActionCount(7, 0, 0, &n), 0u);
        return n;
    }
    uint32_t Program(uint32_t command, uint32_t count = 1, uint32_t interval = 0, uint32_t kind = 0, uint8_t tlp = 0, uint8_t dllp = 0)
    {
        _qorb_cmd_map_t c{command, count, interval, kind, tlp, dllp, 0};
        return zeb->ProgramCmd(8, 0, 0, &c);
    }
};

} // namespace

/* The card records the configuration traffic of its link while armed: one
 * request per doubleword with its byte enables, and its completion, each
 * acknowledged, each request's credit returned; nothing of other links. */
TEST(SimCard, RecordsTheConfigurationTrafficOfItsLink)
{
    Card card;
    ASSERT_TRUE(card.opened) << card.errors;
    EXPECT_EQ(std::tuple(card.zeb->IsZEB(7, 0, 0), card.zeb->IsZEB(8, 0, 0), card.zeb->IsZEB(9, 0, 0), card.zeb->IsZEB(7, 0, 1)),
              std::tuple(1u, 1u, 0u, 0u));
    ASSERT_EQ(card.zeb->Arm(7, 0, 0), 0u);
    uint32_t value = 0;
    EXPECT_EQ((std::tuple{card.Read(Card::kDut, 2, 2, &value), card.Write(Card::kDut, PCI_COMMAND, 2, 6)}), std::tuple(2u, 2u));
    EXPECT_FALSE(card.Present({9, 1, 0}));
    EXPECT_TRUE(card.Present({6, 0, 0}) && card.Present({0x0A, 0, 0}) && card.Present({0x0B, 2, 0}));
    EXPECT_EQ(card.Summary(), "A 04> 00<0 90< 4a< 00>0 44> 00<1 90< 0a< 00>1 04> 00<2 90< 0a< 00>2");
    /* CfgRd0 from the root complex to 09:00.0, tag 0, bytes 2-3 of register
     * 0; CplD, successful, byte count 4, the register; CfgWr0 of bytes 0-1
     * of register 4, its Cpl; a read of the absent 09:01.0, Unsupported
     * Request. */
    std::vector<std::vector<uint8_t>> tlps;
    for (const auto& [kind, stamp, payload] : card.Trace())
        if (kind <= 2)
            tlps.push_back(payload);
    EXPECT_EQ(tlps, (std::vector<std::vector<uint8_t>>{{0x04, 0, 0, 1, 0, 0, 0, 0x0C, 0x09, 0x00, 0, 0x00},
                                                       {0x4A, 0, 0, 1, 0x09, 0x00, 0x00, 4, 0, 0, 0, 0, 0x53, 0x51, 0x50, 0x10},
                                                       {0x44, 0, 0, 1, 0, 0, 1, 0x03, 0x09, 0x00, 0, 0x04, 0x06, 0, 0, 0},
                                                       {0x0A, 0, 0, 0, 0x09, 0x00, 0x00, 4, 0, 0, 1, 0},
                                                       {0x04, 0, 0, 1, 0, 0, 2, 0x0F, 0x09, 0x08, 0, 0x00},
                                                       {0x0A, 0, 0, 0, 0x09, 0x08, 0x20, 4, 0, 0, 2, 0}}));
    /* A read of 9 bytes: register and byte enables of each request. */
    ASSERT_EQ(card.zeb->Arm(8, 0, 0), 0u);
    uint8_t bytes[9];
    EXPECT_EQ(card.Read(Card::kDut, 0x0A, 9, bytes), 9u);
    std::string requests;
    for (const auto& [kind, stamp, payload] : card.Trace())
        requests += kind == 0 ? std::to_string(payload[11]) + ":" + std::to_string(payload[7]) + " " : "";
    EXPECT_EQ(requests, "8:12 12:15 16:7 ");
    ASSERT_EQ(card.zeb->Disarm(7, 0, 0), 0u);
    card.Get(Card::kDut, 0);
    EXPECT_EQ(card.Trace().size(), 16u) << "a disarmed card records nothing";
}

/* Each command, in inject mode, on the first packet it acts on: the trace
 * shows it, the DUT's AER and Device Status record the error, the access is
 * still answered. Cleared, it is not set again. */
TEST(SimCard, EachInjectedErrorShowsInTheTraceAndTheDutsErrorStatus)
{
    const struct {
        uint32_t command;
        const char* trace;
        uint32_t status, bit, device;
    } rows[] = {
        {1, "A 04> 10<fff 04! 00<0 90< 4a< 00>0", PCI_ERR_COR_STATUS, PCI_ERR_COR_BAD_TLP, PCI_EXP_DEVSTA_CED},
        {2, "A 04> 00<0 90< 4a< 00>0", PCI_ERR_COR_STATUS, PCI_ERR_COR_BAD_DLLP, PCI_EXP_DEVSTA_CED},
        {3, "A 04> 04! 00<0 90< 4a< 00>0", PCI_ERR_COR_STATUS, PCI_ERR_COR_REP_TIMER, PCI_EXP_DEVSTA_CED},
        {4, "A 04> 04! 04! 04! 04! 00<0 90< 4a< 00>0", PCI_ERR_COR_STATUS, PCI_ERR_COR_REP_ROLL, PCI_EXP_DEVSTA_CED},
        {5, "A 04> 10<fff 04! 00<0 90< 4a< 00>0", PCI_ERR_COR_STATUS, PCI_ERR_COR_RCVR, PCI_EXP_DEVSTA_CED},
        {6, "A 04> 00<0 90< 05! 0a< 4a< 00>0", PCI_ERR_UNCOR_STATUS, PCI_ERR_UNC_UNSUP, PCI_EXP_DEVSTA_NFED | PCI_EXP_DEVSTA_URD},
        {7, "A 04> 00<0 90<", PCI_ERR_UNCOR_STATUS, PCI_ERR_UNC_COMP_TIME, PCI_EXP_DEVSTA_NFED},
        {8, "A 04> 00<0 90< 00>800 4a< 00>0", PCI_ERR_UNCOR_STATUS, PCI_ERR_UNC_DLP, PCI_EXP_DEVSTA_FED},
        {9, "A 04> 00<0 90< 90> 4a< 00>0", PCI_ERR_UNCOR_STATUS, PCI_ERR_UNC_FCP, PCI_EXP_DEVSTA_FED},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.command);
        Card card;
        ASSERT_EQ((std::tuple{card.zeb->ChangeMode(7, 0, 0, QORB_ZEB_MODE_INJECT), card.Program(r.command), card.zeb->Arm(7, 0, 0)}),
                  std::tuple(0u, 0u, 0u));
        EXPECT_EQ(card.Get(Card::kDut, 0), 0x10505153u);
        EXPECT_EQ(card.Summary(), r.trace);
        EXPECT_EQ(std::tuple(card.Actions(), card.Get(Card::kDut, 0x100 + r.status), card.Get(Card::kDut, 0x70 + PCI_EXP_DEVSTA, 2)),
                  std::tuple(1u, r.bit, r.device));
        card.Write(Card::kDut, 0x100 + r.status, 4, r.bit);
        card.Get(Card::kDut, 0);
        EXPECT_EQ(std::tuple(card.Actions(), card.Get(Card::kDut, 0x100 + r.status)), std::tuple(1u, 0u));
    }
}

/* The packet kind, interval and count choose the packets a command acts on;
 * monitor mode carries nothing out; arming counts afresh. */
TEST(SimCard, KindIntervalCountAndModeChooseWhereACommandActs)
{
    Card card;
    ASSERT_EQ((std::tuple{card.Program(QORB_ZEB_CMD_BAD_TLP, 5), card.zeb->Arm(7, 0, 0)}), std::tuple(0u, 0u));
    card.Get(Card::kDut, 0);
    EXPECT_EQ(card.Actions(), 0u) << "monitor mode";
    ASSERT_EQ(card.zeb->ChangeMode(8, 0, 0, QORB_ZEB_MODE_INJECT), 0u);
    EXPECT_EQ(card.Program(QORB_ZEB_CMD_BAD_TLP, 2, 2, 1, 0x04), 0u);   /* every second CfgRd0, twice */
    std::string actions;
    for (int i = 0; i < 6; ++i)
        card.Get(Card::kDut, 0), actions += std::to_string(card.Actions());
    EXPECT_EQ(actions, "011222");
    /* The first CplD, sequence number 7 after seven reads: a Nak of 6. */
    ASSERT_EQ((std::tuple{card.Program(QORB_ZEB_CMD_BAD_TLP, 1, 0, 1, 0x4A), card.zeb->Arm(7, 0, 0)}), std::tuple(0u, 0u));
    card.Get(Card::kDut, 0), card.Get(Card::kDut, 0);
    EXPECT_EQ(card.Summary(), "A 04> 00<7 90< 4a< 10>6 4a! 00>7 04> 00<8 90< 4a< 00>8");
    /* The second UpdateFC: only its CRC differs. */
    ASSERT_EQ((std::tuple{card.Program(QORB_ZEB_CMD_BAD_DLLP, 1, 2, 2, 0, 0x90), card.zeb->Arm(7, 0, 0)}), std::tuple(0u, 0u));
    card.Get(Card::kDut, 0), card.Get(Card::kDut, 0);
    std::vector<std::vector<uint8_t>> updates;
    for (const auto& [kind, stamp, payload] : card.Trace())
        if (kind == 0xB && payload[1] == 0x90)
            updates.push_back(payload);
    ASSERT_EQ(std::tuple(updates.size(), card.Actions()), std::tuple(size_t{2}, 1u));
    EXPECT_TRUE(std::equal(updates[0].begin(), updates[0].begin() + 5, updates[1].begin()));
    EXPECT_EQ(std::tuple(updates[1][5], updates[1][6]), std::tuple(uint8_t(~updates[0][5]), uint8_t(~updates[0][6])));
    /* Arming counts afresh; a new program replaces the old; bad ones are refused. */
    ASSERT_EQ((std::tuple{card.zeb->Arm(7, 0, 0), card.Program(QORB_ZEB_CMD_NONE)}), std::tuple(0u, 0u));
    card.Get(Card::kDut, 0);
    EXPECT_EQ(std::tuple(card.Actions(), card.Program(10), card.Program(1, 1, 0, 3), card.zeb->ProgramCmd(7, 0, 0, nullptr)),
              std::tuple(0u, 0x80000003u, 0x80000003u, 0x80000003u));
}

/* Suspended or in pass-through the card records nothing but its events;
 * the trace configuration word chooses DLLPs, TLP headers or whole TLPs,
 * and time stamps; a pattern fills the buffer and recording stops, as it
 * does when the buffer is full. */
TEST(SimCard, ModesAndTheTraceConfigurationChooseWhatIsRecorded)
{
    Card card;
    _QORB_ZEB_OP_MODE_t mode = QORB_ZEB_MODE_INJECT;
    uint32_t config = 0, bytes = 0, length = 5;
    EXPECT_EQ((std::tuple{card.zeb->QueryMode(7, 0, 0, &mode), mode, card.zeb->GetTraceConfig(8, 0, 0, &config), config}),
              std::tuple(0u, QORB_ZEB_MODE_MONITOR, 0u, 0x0E00u));
    ASSERT_EQ((std::tuple{card.zeb->Arm(7, 0, 0), card.zeb->SuspendLogging(7, 0, 0)}), std::tuple(0u, 0u));
    card.Get(Card::kDut, 0);
    ASSERT_EQ(card.zeb->ResumeLogging(8, 0, 0), 0u);
    card.Get(Card::kDut, 0);
    EXPECT_EQ(card.Summary(), "A S R 04> 00<1 90< 4a< 00>1");
    ASSERT_EQ((std::tuple{card.zeb->ChangeMode(7, 0, 0, QORB_ZEB_MODE_PASSTHROUGH), card.zeb->Arm(7, 0, 0)}), std::tuple(0u, 0u));
    card.Get(Card::kDut, 0);
    EXPECT_EQ(std::tuple(card.Summary(), card.zeb->ChangeMode(7, 0, 0, _QORB_ZEB_OP_MODE_t(3))), std::tuple(std::string("A"), 0x80000003u));
    ASSERT_EQ(card.zeb->ChangeMode(7, 0, 0, QORB_ZEB_MODE_MONITOR), 0u);
    using namespace qorb_trace;
    const std::tuple<uint32_t, const char*, size_t> rows[] = {   /* configuration, trace, bytes of a CplD */
        {kCfgTlpHeaders | kCfgTimestamps, "A 04> 4a<", 12}, {2u << 10, "A 04> 4a<", 16}, {kCfgRecordDllps | 0x8000, "A 00<5 90< 00>5", 0}};
    for (auto [set, trace, cpl] : rows) {
        ASSERT_EQ((std::tuple{card.zeb->SetTraceConfig(7, 0, 0, set), card.zeb->Arm(7, 0, 0)}), std::tuple(0u, 0u));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        card.Get(Card::kDut, 0);
        EXPECT_EQ((std::tuple{card.zeb->GetTraceConfig(7, 0, 0, &config), config, card.Summary()}), std::tuple(0u, set, trace));
        for (const auto& [kind, stamp, payload] : card.Trace())
            EXPECT_EQ(std::tuple(kind == 1 ? payload.size() : cpl, stamp > 0), std::tuple(cpl, (set & kCfgTimestamps) && kind != 4));
    }
    uint8_t head[5] = {};
    ASSERT_EQ(card.zeb->WritePatternToTB(7, 0, 0, 0x11223344), 0u);
    card.Get(Card::kDut, 0);
    EXPECT_EQ((std::tuple{card.zeb->GetTraceBufferSize(7, 0, 0, &bytes), bytes, card.zeb->ReadTraceBuffer(7, 0, 0, &length, head),
                         length, head[0], head[3], head[4]}),
              std::tuple(0u, 1u << 20, 0u, 5u, 0x44, 0x11, 0x44));
    ASSERT_EQ((std::tuple{card.zeb->SetTraceConfig(7, 0, 0, 0x0E00), card.zeb->Arm(7, 0, 0)}), std::tuple(0u, 0u));
    for (int i = 0; i < 12000; ++i)
        card.Get(Card::kDut, 0);
    EXPECT_EQ((std::tuple{card.zeb->GetTraceBufferSize(7, 0, 0, &bytes), bytes <= 1u << 20, card.Summary().back()}),
              std::tuple(0u, true, 'F'));
}

/* The card on its link: training sends InitFC1 and InitFC2 of each credit
 * type both ways, and nothing crosses a disabled link; its properties; the
 * card above a bus; the partner device. */
TEST(SimCard, LinkTrainingPropertiesAndTheCardAboveABus)
{
    Card card("[link]\ntraining_ms = 0\n");
    ASSERT_EQ(card.zeb->Arm(7, 0, 0), 0u);
    card.Write({8, 0, 0}, kControl, 2, kCcc | kRetrain);
    card.Write({0, 2, 0}, kControl, 2, kCcc | kRetrain);   /* another link */
    EXPECT_EQ(card.Summary(), "A 40> 40< 50> 50< 60> 60< c0> c0< d0> d0< e0> e0<");
    _qorb_zeb_query_prop_t p{};
    ASSERT_EQ(card.zeb->GetProperties(8, 0, 0, &p), 0u);
    EXPECT_EQ(std::tuple(p.traceBufferSize, p.firmwareRevision, p.hardwareRevision, p.linkWidth, p.linkSpeed, p.mode, p.armed,
                         p.loggingSuspended, p.bytesRecorded),
              std::tuple(1u << 20, 1u << 16, 1u, 8u, 3u, 1u, 1u, 0u, 8u + 12 * 16));
    card.Write({8, 0, 0}, kControl, 2, kCcc | kDisable);
    ASSERT_EQ(card.zeb->Arm(7, 0, 0), 0u);
    EXPECT_EQ(std::tuple(card.Present(Card::kDut), card.Summary()), std::tuple(false, std::string("A")));
    uint32_t b1 = 0, d1 = 0, f1 = 0, b2 = 0, d2 = 0, f2 = 0;
    uint8_t h1[256], h2[256];
    EXPECT_EQ(card.zeb->GetUpstreamZEB(9, 0, 0, &b1, &d1, &f1, h1, &b2, &d2, &f2, h2), 0u);
    EXPECT_EQ(std::tuple(b1, d1, f1, h1[0] | h1[1] << 8 | h1[2] << 16, b2, d2, f2, h2[2]),
              std::tuple(7u, 0u, 0u, 0x015A45, 8u, 0u, 0u, 2));
    std::string statuses;
    for (uint32_t bus : {6u, 8u, 0x0Au})
        statuses += std::to_string(card.zeb->GetUpstreamZEB(bus, 0, 0, &b1, &d1, &f1, h1, &b2, &d2, &f2, h2)) + " ";
    for (uint32_t status : {card.zeb->GetUpstreamZEB(9, 0, 0, &b1, &d1, &f1, h1, &b2, &d2, &f2, nullptr), card.zeb->Arm(6, 0, 0),
                            card.zeb->GetProperties(7, 0, 0, nullptr), card.zeb->QueryMode(7, 0, 0, nullptr),
                            card.zeb->GetActionCount(7, 0, 0, nullptr), card.zeb->GetTraceBufferSize(7, 0, 0, nullptr)})
        statuses += std::to_string(status) + " ";
    EXPECT_EQ(statuses, "2147483670 2147483670 2147483670 2147483651 2147483651 2147483651 2147483651 2147483651 2147483651 ");
    _VOK_LIB_INTERFACE_t* vok = nullptr;
    reinterpret_cast<QORB_VOK_LIB_OPEN_INTERFACE>(dlsym(card.so, "VOK_LIB_Open_VOK_Interface"))(&vok);
    EXPECT_EQ(std::tuple(vok->IsVOK(6, 0, 0), vok->IsVOK(3, 0, 0)), std::tuple(1u, 0u));
}
