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

#include "pci_oracle.h"
#include "qorb_test_support.h"

using namespace qorbtest;
using Files = std::vector<std::pair<std::string, std::string>>;

namespace {

struct At {
    uint32_t bus, dev, fn;
};

/* libqorbsim.so opened in a scratch folder holding qorbsim.ini (none for "")
 * and the given files; what the open printed is in errors. */
struct Sim : ScratchDir {
    void* so = dlopen(QORB_SIM_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    _CONFIG_DRIVER_INTERFACE_t t{};
    _ZEB_LIB_INTERFACE_t* zeb = nullptr;
    uint32_t ctx = 0;
    bool opened = false;
    std::string errors;

    explicit Sim(const std::string& ini = "", const Files& files = {})
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
        if (opened)
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
    /* Every function that answers, with all the bytes it serves, as the text
     * of lspci -xxxx. */
    std::string Dump() const
    {
        std::vector<DumpFunction> functions;
        std::vector<uint8_t> bytes(4096);
        for (uint32_t bus = 0; bus < 256; ++bus)
            for (uint32_t dev = 0; dev < 32; ++dev)
                for (uint32_t fn = 0; fn < 8; ++fn)
                    if (uint32_t n = Read({bus, dev, fn}, 0, 4096, bytes.data())) {
                        ConfigSpace space(n);
                        for (uint32_t i = 0; i < n; ++i)
                            space.Set8(i, bytes[i]);
                        functions.push_back({uint8_t(bus), uint8_t(dev), uint8_t(fn), space});
                    }
        return DumpText(functions);
    }
};

/* Capabilities as "ID@offset" (extended ones "eID@offset"), with "/n" for a
 * vendor-specific one's length, MSI-X vectors, a PCI Express port type and
 * "/64" for 64-bit MSI. */
std::string Text(const oracle::Function& f, const std::vector<oracle::Cap>& caps)
{
    std::string text;
    char item[32];
    for (const oracle::Cap& c : caps) {
        uint32_t flags = f.Get(c.offset + 2, 2);
        uint32_t detail = c.extended ? 0 : c.id == 0x09 ? flags & 0xFF : c.id == 0x05 ? (flags & 0x80 ? 64 : 0)
                                         : c.id == 0x11 ? (flags & 0x7FF) + 1 : c.id == 0x10 ? flags >> 4 & 0xF : 0;
        snprintf(item, sizeof item, detail ? " %s%x@%x/%u" : " %s%x@%x", c.extended ? "e" : "", c.id, c.offset, detail);
        text += item;
    }
    return text.empty() ? "" : text.substr(1);
}

std::string Name(uint32_t bus, uint32_t dev, uint32_t fn)
{
    char name[16];
    snprintf(name, sizeof name, "%02x:%02x.%x", bus, dev, fn);
    return name;
}

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

/* The bridge whose secondary bus f sits on (the first in location order). */
const oracle::Function* Above(const std::vector<oracle::Function>& functions, const oracle::Function* f)
{
    for (const oracle::Function& g : functions)
        if (f && g.Secondary() == f->bus && &g != f)
            return &g;
    return nullptr;
}

} // namespace

TEST(SimBuiltin, ServesTheDocumentedPlatform)
{
    Sim sim;
    ASSERT_TRUE(sim.opened) << sim.errors;
    WriteFile(sim.File("builtin.txt"), sim.Dump());
    std::vector<oracle::Function> functions = oracle::Read(sim.File("builtin.txt"));
    /* IDs, class and revision, header type, bridge buses (subordinate,
     * secondary, primary), bytes served, capabilities; PCI Express Link
     * Capabilities, Link Status and Slot Capabilities. */
    const struct {
        const char* at;
        uint32_t ids, classRev, header, buses, size;
        const char* caps;
        uint32_t linkCap, linkStatus, slotCap;
    } rows[] = {
        {"00:00.0", 0x10005153, 0x06000001, 0x00, 0x000000, 4096, "", 0, 0, 0},
        {"00:01.0", 0x10015153, 0x06040001, 0x01, 0x050100, 4096, "10@40/4 1@80 5@90 e1@100 e2@148", 0x01135d03, 0x3083, 0x00080c80},
        {"00:02.0", 0x10015153, 0x06040001, 0x01, 0x060600, 4096, "10@40/4 1@80 5@90/64 e1@100 e2@148", 0x02135d03, 0x3043, 0x00100c80},
        {"00:03.0", 0x10015153, 0x06040001, 0x01, 0x090700, 4096, "10@40/4 1@80 5@90/64 e1@100 e2@148", 0x03135c83, 0x3083, 0x00180c80},
        {"00:1c.0", 0x10015153, 0x06040001, 0x01, 0x0b0a00, 4096, "10@40/4 1@80 5@90 e1@100", 0x04135c12, 0x3011, 0x00200c80},
        {"00:1f.0", 0x10405153, 0x08800001, 0x00, 0x000000, 4096, "10@40/9 1@80 11@90/4 e3@100", 0, 0, 0},
        {"01:00.0", 0x10025153, 0x06040001, 0x01, 0x050201, 4096, "10@40/5 1@80 e1@100 e2@148 e3@168", 0x00035c83, 0x1083, 0},
        {"02:00.0", 0x10035153, 0x06040001, 0x01, 0x030302, 4096, "10@40/6 1@80 5@90 e1@100 e2@148", 0x01135c43, 0x3043, 0},
        {"02:01.0", 0x10035153, 0x06040001, 0x01, 0x040402, 4096, "10@40/6 1@80 5@90 e1@100 e2@148", 0x02135c43, 0x3043, 0},
        {"02:02.0", 0x10035153, 0x06040001, 0x01, 0x050502, 4096, "10@40/6 1@80 5@90 e1@100 e2@148", 0x03135c43, 0x0001, 0x00280c80},
        {"03:00.0", 0x10105153, 0x02000001, 0x00, 0x000000, 4096, "1@40 5@50/64 11@70/16 10@a0 e1@100 e3@148 e4@158", 0x00035c43, 0x1043, 0},
        {"04:00.0", 0x10115153, 0x01080201, 0x80, 0x000000, 4096, "1@40 11@50/32 9@60/16 10@70 e1@100 e3@148", 0x00035c43, 0x1043, 0},
        {"04:00.1", 0x10125153, 0x07000201, 0x80, 0x000000, 4096, "1@40 5@50 10@60/1 e1@100", 0x00035c43, 0x1043, 0},
        {"06:00.0", 0x10205153, 0x02800001, 0x00, 0x000000, 4096, "1@40 5@50/64 10@70 11@b0/8 9@c0/20 e1@100 e2@148 e3@168 e4@178", 0x00035c43, 0x1043, 0},
        {"07:00.0", 0x00015a45, 0x06040001, 0x01, 0x090807, 4096, "10@40/5 1@80 9@90/12 e1@100", 0x00035c83, 0x1083, 0},
        {"08:00.0", 0x00025a45, 0x06040001, 0x01, 0x090908, 4096, "10@40/6 1@80 5@90 e1@100 e2@148", 0x01135c83, 0x3083, 0},
        {"09:00.0", 0x10505153, 0x11800001, 0x00, 0x000000, 4096, "1@40 5@50/64 10@70 11@b0/8 9@c0/24 e1@100 e2@148 e3@168 e4@178", 0x00035c83, 0x1083, 0},
        {"0a:00.0", 0x10305153, 0x06040001, 0x01, 0x0b0b0a, 4096, "10@40/7 1@80 e1@100", 0x00035c11, 0x1011, 0},
        {"0b:02.0", 0x10315153, 0x07800001, 0x00, 0x000000, 256, "1@40 5@50", 0, 0, 0},
    };
    ASSERT_EQ(functions.size(), std::size(rows));
    for (size_t i = 0; i < functions.size(); ++i) {
        const oracle::Function& f = functions[i];
        const auto& r = rows[i];
        SCOPED_TRACE(r.at);
        uint32_t buses = f.HeaderType() == 1 ? f.Get(PCI_PRIMARY_BUS) & 0xFFFFFF : 0;
        EXPECT_EQ(std::tuple(Name(f.bus, f.dev, f.fn), f.Get(0), f.Get(8), f.Get(0x0E, 1), buses, f.bytes.size(), Text(f, f.caps)),
                  std::tuple(std::string(r.at), r.ids, r.classRev, r.header, r.buses, size_t{r.size}, std::string(r.caps)));
        /* Memory and bus master enabled (I/O too for bridges), no error
         * status; bridges have their windows closed, other functions a
         * memory BAR 0 on a 64 KiB boundary, INTA and their IDs as subsystem. */
        EXPECT_EQ(f.Get(PCI_COMMAND), (f.caps.empty() ? 0u : PCI_STATUS_CAP_LIST << 16) | (buses ? 7u : 6u));
        if (buses) {
            EXPECT_EQ(std::tuple(f.Get(PCI_IO_BASE, 2), f.Get(PCI_MEMORY_BASE), f.Get(PCI_PREF_MEMORY_BASE)),
                      std::tuple(0x00F0u, 0x0000FFF0u, 0x0001FFF1u));
        } else if (f.Get(PCI_BASE_ADDRESS_0)) {
            EXPECT_EQ(std::tuple(f.Get(PCI_BASE_ADDRESS_0) & 0xFFFF, f.Get(PCI_INTERRUPT_PIN, 1), f.Get(PCI_SUBSYSTEM_VENDOR_ID)),
                      std::tuple(0u, 1u, f.Get(0)));
        }
        for (const oracle::Cap& c : f.caps) {
            uint32_t at = c.offset, type = f.Get(at + PCI_EXP_FLAGS, 1) >> 4;
            EXPECT_EQ(c.extended ? f.Get(at) >> 16 & 0xF : 0, c.extended ? 1u + (c.id == PCI_EXT_CAP_ID_ERR) : 0) << "version";
            switch (c.extended ? 0x100 | c.id : c.id) {
            case PCI_CAP_ID_PM:   /* version 3, PME from D0, D3hot and D3cold; No_Soft_Reset */
                EXPECT_EQ(f.Get(at + PCI_PM_PMC), 0x0008C803u);
                break;
            case PCI_CAP_ID_MSI:   /* one vector (32-bit) or eight (64-bit) */
                EXPECT_EQ(f.Get(at + PCI_MSI_FLAGS, 2) & 0x7F, f.Get(at + PCI_MSI_FLAGS, 2) & 0x80 ? 6u : 0u);
                break;
            case PCI_CAP_ID_MSIX:   /* table and PBA in BAR 0 */
                EXPECT_EQ(std::pair(f.Get(at + PCI_MSIX_TABLE), f.Get(at + PCI_MSIX_PBA)), std::pair(0x2000u, 0x3000u));
                break;
            case PCI_CAP_ID_EXP:   /* version 2; endpoints: FLR, any latency, 256-byte payload; slot */
                EXPECT_EQ(std::tuple(f.Get(at + PCI_EXP_FLAGS, 2) & 0xF0F, f.Get(at + PCI_EXP_DEVCAP),
                                     f.Get(at + PCI_EXP_DEVCTL, 2), f.Get(at + PCI_EXP_LNKCAP), f.Get(at + PCI_EXP_LNKCTL),
                                     f.Get(at + PCI_EXP_SLTCAP), f.Get(at + PCI_EXP_SLTSTA, 2)),
                          std::tuple(r.slotCap ? 0x102u : 2u, type <= 1 || type == 9 ? 0x10008FC1u : 0x8001u,
                                     type <= 1 || type == 9 ? 0x2810u : 0u, r.linkCap, r.linkStatus << 16 | (type == 9 ? 0 : 0x40),
                                     r.slotCap, r.slotCap && (r.linkStatus & 0x3F0) ? PCI_EXP_SLTSTA_PDS : 0u));
                /* Completion timeout ranges, ARI forwarding in downstream
                 * ports; the speeds up to the maximum, the maximum set. */
                EXPECT_EQ(std::tuple(f.Get(at + PCI_EXP_DEVCAP2), f.Get(at + PCI_EXP_LNKCAP2), f.Get(at + PCI_EXP_LNKCTL2, 2)),
                          std::tuple(type == 4 || type == 6 ? 0x3Fu : 0x1Fu, (2u << (r.linkCap & 0xF)) - 2, r.linkCap & 0xF));
                break;
            case 0x100 | PCI_EXT_CAP_ID_ERR:   /* severities after reset, Advisory Non-Fatal masked, ECRC capable */
                EXPECT_EQ(std::tuple(f.Get(at + PCI_ERR_UNCOR_SEVER), f.Get(at + PCI_ERR_COR_MASK), f.Get(at + PCI_ERR_CAP)),
                          std::tuple(0x00462030u, 0x2000u, 0xA0u));
                break;
            case 0x100 | PCI_EXT_CAP_ID_VC:   /* VC0 enabled for all traffic classes */
                EXPECT_EQ(std::pair(f.Get(at + PCI_VC_RES_CAP), f.Get(at + PCI_VC_RES_CTRL)), std::pair(1u, 0x800000FFu));
                break;
            case 0x100 | PCI_EXT_CAP_ID_DSN:
                EXPECT_EQ(uint64_t{f.Get(at + 8)} << 32 | f.Get(at + 4), 0x5153000000000000ull | f.bus << 16 | f.dev << 8);
                break;
            case 0x100 | PCI_EXT_CAP_ID_PWR:
                EXPECT_EQ(f.Get(at + PCI_PWR_CAP, 1), 1u) << "included in the system allocation";
                break;
            }
        }
    }
}

/* Every function libpci reads in a dump, served by the simulated driver:
 * the library's location search finds exactly those of domain 0 on buses 0
 * to 254 and reads their bytes; its capability walk, port type and parent
 * link follow from libpci's lists by the library's rules. */
TEST(LibraryOnDumps, AgreesWithLibpci)
{
    if (PlatformsDir().empty())
        GTEST_SKIP() << "no platforms folder beside the source tree";
    const struct {
        const char* dump;
        size_t functions;   /* of domain 0 */
    } rows[] = {
        {"builtin", 19}, {"bridge-ctl-vga16.txt", 2}, {"broken-ecaps.txt", 1}, {"cap-MSI-mapping.txt", 1},
        {"cap-aer-hdr.txt", 1}, {"cap-aer-root.txt", 2}, {"cap-dpc.txt", 1}, {"cap-exp-lnkcap2.txt", 4},
        {"cap-ht.txt", 2}, {"cap-l1-pm.txt", 1}, {"cap-pci-af.txt", 1}, {"cap-pcie-1.txt", 1}, {"cap-pcie-2.txt", 1},
        {"cap-ptm-1.txt", 0}, {"cap-rebar.txt", 1}, {"cap-vendor-virtio.txt", 2}, {"tree-fujitsu-p8010.txt", 22},
    };
    ScratchDir scratch;
    for (const auto& row : rows) {
        std::string dump = row.dump == std::string("builtin") ? scratch.File("builtin.txt") : PlatformsDir() + "/" + row.dump;
        if (row.dump == std::string("builtin")) {
            Sim sim;
            WriteFile(dump, sim.Dump());
        }
        SCOPED_TRACE(dump);
        std::vector<oracle::Function> functions;
        std::vector<std::string> listed, found;
        for (const oracle::Function& f : oracle::Read(dump))
            if (f.domain == 0 && f.bus < 255) {
                functions.push_back(f);
                listed.push_back(Name(f.bus, f.dev, f.fn));
            }
        EXPECT_EQ(functions.size(), row.functions);
        SimPlatform platform(std::vector<std::string>{dump});
        ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
        for (uint32_t bus = 0; bus < 255; ++bus)
            for (uint32_t dev = 0; dev < 32; ++dev)
                for (uint32_t fn = 0; fn < 8; ++fn)
                    if (FoundDevice(uint8_t(bus), uint8_t(dev), uint8_t(fn)).Status() == QORB_SUCCESS)
                        found.push_back(Name(bus, dev, fn));
        EXPECT_EQ(found, listed);
        for (const oracle::Function& f : functions) {
            SCOPED_TRACE(Name(f.bus, f.dev, f.fn));
            FoundDevice device(uint8_t(f.bus), uint8_t(f.dev), uint8_t(f.fn));
            ASSERT_EQ(device.Status(), QORB_SUCCESS);
            std::vector<uint8_t> bytes(4096);
            uint32_t n = 4096;
            ReadConfigSpace(*device, bytes.data(), 0, &n);
            bytes.resize(n);
            EXPECT_TRUE(bytes == f.bytes) << "the library reads " << n << " bytes, libpci has " << f.bytes.size();
            uint32_t express = 0;
            std::vector<oracle::Cap> expected = oracle::ExpectedWalk(f, &express);
            EXPECT_EQ(Text(f, LibraryWalk(*device)), Text(f, expected));
            auto type = static_cast<_QORB_DEV_PORT_TYPE_t>(0xEE);
            EXPECT_EQ(GetDeviceType(*device, &type), express ? QORB_SUCCESS : QORB_PCIE_CAP_OUT_OF_RANGE);
            EXPECT_EQ(uint32_t(type), express ? f.Get(express + PCI_EXP_FLAGS, 1) >> 4 : 0xEEu);
            /* The parent: the bridge above an endpoint, upstream port or
             * PCI Express to PCI bridge, the bridge above that for a
             * downstream port, none for any other. */
            const oracle::Function* parent = express && (type <= 1 || type == 5 || type == 7) ? Above(functions, &f)
                                             : express && type == 6 ? Above(functions, Above(functions, &f)) : nullptr;
            OpenDevice(*device, QORB_ACCESS_READ_ONLY);
            void* linked = nullptr;
            uint8_t b = 0, d = 0, fn = 0;
            if (GetParentDevice(*device, &linked) == QORB_SUCCESS)
                QORB_GetDeviceProperties(linked, &b, &d, &fn, nullptr, nullptr);
            EXPECT_EQ(linked ? Name(b, d, fn) : "none", parent ? Name(parent->bus, parent->dev, parent->fn) : "none");
        }
    }
}
