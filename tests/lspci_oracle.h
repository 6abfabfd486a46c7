/* What lspci, an independent decoder, says about the functions of a dump:
 * each function's capability lists and PCI Express port type
 * ("lspci -F DUMP -vv") and the bridge each function sits below
 * ("lspci -F DUMP -t"). */
#ifndef LSPCI_ORACLE_H
#define LSPCI_ORACLE_H

#include <stdint.h>

#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <qorb/qorb.h>

#include "qorb_test_support.h"
#include "topology_test_platforms.h"

namespace lspci {

struct Bdf {
    uint8_t bus, dev, fn;
    auto operator<=>(const Bdf&) const = default;
};

inline std::string Text(const Bdf& l)
{
    char text[16];
    snprintf(text, sizeof text, "%02x:%02x.%x", l.bus, l.dev, l.fn);
    return text;
}

struct Capability {
    uint32_t offset;
    std::optional<uint32_t> id;   /* unknown when lspci's name is not one we map */
    std::string name;
    bool extended;
};

struct Function {
    Bdf at;
    uint32_t domain;
    std::vector<Capability> caps;          /* in the order lspci lists them */
    std::optional<uint32_t> portType;       /* from the "Express" line */
    bool chainMarker = false;               /* lspci flagged the list ("<...>") */
    bool accessDenied = false;              /* the flag was "<access denied>" */
    std::vector<uint8_t> bytes{};           /* the hex lines of "-x" to "-xxxx", in order */
    uint32_t vendor = 0, device = 0;        /* with "-n": the IDs of the function line */
};

/* Legacy capability names as lspci prints them, with their IDs. */
inline std::optional<uint32_t> LegacyId(const std::string& name)
{
    static const std::pair<const char*, uint32_t> names[] = {
        {"Power Management version", 0x01}, {"AGP version", 0x02}, {"Vital Product Data", 0x03},
        {"Slot ID", 0x04}, {"MSI:", 0x05}, {"CompactPCI hot-swap", 0x06}, {"PCI-X", 0x07},
        {"HyperTransport", 0x08}, {"Vendor Specific Information", 0x09}, {"Debug port", 0x0A},
        {"CompactPCI central resource control", 0x0B}, {"Hot-plug capable", 0x0C}, {"Subsystem:", 0x0D},
        {"AGP3", 0x0E}, {"Secure device", 0x0F}, {"Express", 0x10}, {"MSI-X:", 0x11}, {"SATA HBA", 0x12},
        {"PCI Advanced Features", 0x13}, {"Enhanced Allocation", 0x14},
    };
    for (const auto& [prefix, id] : names)
        if (name.rfind(prefix, 0) == 0)
            return id;
    std::smatch m;
    static const std::regex unknown(R"(^#([0-9a-f]{2}))");
    if (std::regex_search(name, m, unknown))
        return static_cast<uint32_t>(std::stoul(m[1], nullptr, 16));
    return std::nullopt;
}

/* Extended capability names for the four IDs the library has lengths for;
 * any other name is an ID outside 1 to 4. */
inline uint32_t ExtendedId(const std::string& name)
{
    static const std::pair<const char*, uint32_t> names[] = {
        {"Advanced Error Reporting", 1}, {"Virtual Channel", 2}, {"Device Serial Number", 3},
        {"Power Budgeting", 4},
    };
    for (const auto& [prefix, id] : names)
        if (name.rfind(prefix, 0) == 0)
            return id;
    return 0xFFFFFFFF;
}

inline std::optional<uint32_t> PortType(const std::string& text)
{
    static const std::pair<const char*, uint32_t> names[] = {
        {"Endpoint", 0}, {"Legacy Endpoint", 1}, {"Root Port", 4}, {"Upstream Port", 5},
        {"Downstream Port", 6}, {"PCI-Express to PCI/PCI-X Bridge", 7}, {"PCI/PCI-X to PCI-Express Bridge", 8},
        {"Root Complex Integrated Endpoint", 9}, {"Root Complex Event Collector", 10},
    };
    for (const auto& [prefix, type] : names)
        if (text.rfind(prefix, 0) == 0)
            return type;
    std::smatch m;
    static const std::regex unknown(R"(^Unknown type (\d+))");
    if (std::regex_search(text, m, unknown))
        return static_cast<uint32_t>(std::stoul(m[1]));
    return std::nullopt;
}

/* The functions of an "lspci" text ("-n", "-vv", "-xxxx" or several). */
inline std::vector<Function> ParseVerbose(const std::string& text)
{
    std::vector<Function> functions;
    static const std::regex head(R"(^(?:([0-9a-f]{4,8}):)?([0-9a-f]{2}):([0-9a-f]{2})\.([0-7]) )");
    static const std::regex hex(R"(^[0-9a-f]{2,3}:((?: [0-9a-f]{2})+)$)");
    static const std::regex ids(R"(^\S+ [0-9a-f]{4}: ([0-9a-f]{4}):([0-9a-f]{4}))");
    static const std::regex cap(R"(^\tCapabilities: \[([0-9a-f]+)( v\d+)?\] (.*)$)");
    static const std::regex express(R"(^Express \(v\d+\) (.*)$)");
    std::istringstream in(text);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, head)) {
            functions.push_back({{static_cast<uint8_t>(std::stoul(m[2], nullptr, 16)),
                                  static_cast<uint8_t>(std::stoul(m[3], nullptr, 16)),
                                  static_cast<uint8_t>(std::stoul(m[4]))},
                                 m[1].matched ? static_cast<uint32_t>(std::stoul(m[1], nullptr, 16)) : 0u,
                                 {}, std::nullopt, false});
            std::smatch n;
            if (std::regex_search(line, n, ids)) {
                functions.back().vendor = static_cast<uint32_t>(std::stoul(n[1], nullptr, 16));
                functions.back().device = static_cast<uint32_t>(std::stoul(n[2], nullptr, 16));
            }
            continue;
        }
        if (functions.empty())
            continue;
        Function& f = functions.back();
        if (std::regex_match(line, m, hex)) {
            std::istringstream bytes(m[1].str());
            unsigned b;
            while (bytes >> std::hex >> b)
                f.bytes.push_back(static_cast<uint8_t>(b));
            continue;
        }
        if (line.rfind("\tCapabilities: <", 0) == 0) {
            f.chainMarker = true;
            f.accessDenied = f.accessDenied || line.rfind("\tCapabilities: <access denied>", 0) == 0;
            continue;
        }
        if (!std::regex_match(line, m, cap))
            continue;
        std::string name = m[3];
        if (!name.empty() && name[0] == '<') {
            f.chainMarker = true;
            continue;
        }
        Capability c{static_cast<uint32_t>(std::stoul(m[1], nullptr, 16)), std::nullopt, name, m[2].matched};
        c.id = c.extended ? std::optional<uint32_t>(ExtendedId(name)) : LegacyId(name);
        std::smatch e;
        if (!c.extended && std::regex_match(name, e, express) && !f.portType)
            f.portType = PortType(e[1]);
        f.caps.push_back(c);
    }
    return functions;
}

/* What lspci says about the functions of a dump file. */
inline std::vector<Function> Functions(const std::string& dump)
{
    return ParseVerbose(qorbtest::RunCommand("lspci -F '" + dump + "' -vv 2>/dev/null"));
}

/* Calls visit(device, bus, dev, fn) for every function FindDevice finds on
 * buses 0 to lastBus, and closes the record after. */
template <typename Visit>
void ForEachFoundDevice(Visit visit, uint32_t lastBus = 255)
{
    for (uint32_t bus = 0; bus <= lastBus; ++bus)
        for (uint32_t dev = 0; dev < 32; ++dev)
            for (uint32_t fn = 0; fn < 8; ++fn) {
                void* device = nullptr;
                if (FindDevice(static_cast<uint8_t>(bus), static_cast<uint8_t>(dev), static_cast<uint8_t>(fn),
                               &device) != QORB_SUCCESS)
                    continue;
                visit(device, bus, dev, fn);
                CloseDevice(device);
            }
}

/* One step of the library's capability walk. */
struct Seen {
    uint32_t offset;
    uint32_t id;
    bool operator==(const Seen&) const = default;
};

/* What the library's walk should yield for the function lspci describes: a
 * legacy list whose first capability has no length (IDs 0x02 to 0x04) is
 * skipped and one met later ends the walk; the extended list is walked only
 * for a function with exactly one PCI Express capability in a well-formed
 * legacy list, up to the first ID other than 1 to 4; header types other
 * than 0 and 1 have no walk. *pcie: that capability was found. */
inline std::vector<Capability> ExpectedWalk(const Function& f, uint8_t headerType, bool* pcie)
{
    std::vector<Capability> legacy, extended, walk;
    for (const auto& c : f.caps)
        (c.extended ? extended : legacy).push_back(c);
    int expressCount = 0;
    bool legacyInRange = true;
    for (const auto& c : legacy) {
        expressCount += c.id == 0x10u;
        legacyInRange = legacyInRange && c.offset >= 0x40 && c.offset <= 0x100;
    }
    *pcie = expressCount == 1 && legacyInRange;
    uint8_t layout = headerType & 0x7F;
    if (layout != 0 && layout != 1)
        return walk;
    auto sized = [](const Capability& c) { return !(c.id && *c.id >= 0x02 && *c.id <= 0x04); };
    if (!legacy.empty() && legacy[0].offset >= 0x40 && legacy[0].offset <= 0x100 && sized(legacy[0])) {
        for (const auto& c : legacy) {
            if (!sized(c))
                return walk;
            walk.push_back(c);
        }
    }
    if (!*pcie)
        return walk;
    for (const auto& c : extended) {
        if (*c.id < 1 || *c.id > 4)
            break;
        walk.push_back(c);
    }
    return walk;
}

/* The library's walk of a device (bounded: a cycle repeats forever). */
inline std::vector<Seen> LibraryWalk(void* device)
{
    std::vector<Seen> seen;
    void* cap = nullptr;
    _QORB_STATUS_t status = GetFirstCapability(device, &cap);
    while (status == QORB_SUCCESS && seen.size() < 2000) {
        _QORB_PCI_DEVICE_CAP_INFO_t info{};
        QORB_QueryCapInfo(cap, &info);
        seen.push_back({info.offset, info.capabilityId});
        void* next = nullptr;
        status = GetNextCapability(device, &next, cap);
        QORB_FreeCapabilityHandle(cap);
        cap = next;
    }
    QORB_FreeCapabilityHandle(cap);
    return seen;
}

/* The bridge each function sits below in "lspci -t" (none for functions on
 * a root bus). Children of a bus are drawn in one column: the bus (and its
 * bridge) a column belongs to is the last one that opened it. */
inline std::map<Bdf, std::optional<Bdf>> TreeParents(const std::string& dump)
{
    std::string text = qorbtest::RunCommand("lspci -F '" + dump + "' -t 2>/dev/null");
    struct Bus {
        uint8_t number;
        std::optional<Bdf> bridge;
    };
    std::map<size_t, Bus> columns;
    std::map<Bdf, std::optional<Bdf>> parents;
    static const std::regex token(
        R"(\[[0-9a-f]{4}:([0-9a-f]{2})\]|([0-9a-f]{2})\.([0-7])(?:-\[([0-9a-f]{2})(?:-[0-9a-f]{2})?\])?)");
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::optional<Bus> opening;
        for (auto it = std::sregex_iterator(line.begin(), line.end(), token); it != std::sregex_iterator(); ++it) {
            const std::smatch& m = *it;
            if (m[1].matched) {
                opening = Bus{static_cast<uint8_t>(std::stoul(m[1], nullptr, 16)), std::nullopt};
                continue;
            }
            size_t column = static_cast<size_t>(m.position(0));
            if (opening) {
                columns[column] = *opening;
                opening.reset();
            }
            auto bus = columns.find(column);
            if (bus == columns.end())
                continue;
            Bdf at{bus->second.number, static_cast<uint8_t>(std::stoul(m[2], nullptr, 16)),
                   static_cast<uint8_t>(std::stoul(m[3]))};
            parents[at] = bus->second.bridge;
            if (m[4].matched)
                opening = Bus{static_cast<uint8_t>(std::stoul(m[4], nullptr, 16)), at};
        }
    }
    return parents;
}

/* The dumps of the platforms folder. */
inline std::vector<std::string> Dumps(const std::string& dir)
{
    std::string list = qorbtest::RunCommand("ls '" + dir + "'/*.txt 2>/dev/null");
    std::vector<std::string> files;
    std::istringstream in(list);
    std::string file;
    while (std::getline(in, file))
        if (!file.empty())
            files.push_back(file);
    return files;
}

} // namespace lspci

namespace lspci {

/* Writes what the open platform serves (every function found by location,
 * 4096 bytes each) as a dump file that lspci can read. */
inline bool WriteServedDump(const std::string& path)
{
    std::vector<qorbtest::DumpFunction> functions;
    ForEachFoundDevice([&](void* device, uint32_t bus, uint32_t dev, uint32_t fn) {
        qorbtest::ConfigSpace space;
        std::vector<uint8_t> bytes(4096, 0);
        uint32_t length = 4096;
        ReadConfigSpace(device, bytes.data(), 0, &length);
        for (uint32_t i = 0; i < length; ++i)
            space.Set8(i, bytes[i]);
        functions.push_back({static_cast<uint8_t>(bus), static_cast<uint8_t>(dev), static_cast<uint8_t>(fn), space});
    });
    qorbtest::WriteFile(path, qorbtest::DumpText(functions));
    return !functions.empty();
}

/* Why the real dumps cannot be compared with lspci here, or "". */
inline std::string MissingForRealDumps()
{
    if (!qorbtest::HaveLspci())
        return "lspci is not installed";
    if (qorbtest::PlatformsDir().empty())
        return "the platforms folder is missing";
    if (!topotest::HaveSim())
        return "the simulated driver is not built";
    return "";
}

/* Opens each dump of the platforms folder alone on the simulated driver and
 * runs compare(dump) on it; answers the sum of what compare answers. */
template <typename Compare>
int ForEachRealDump(Compare compare)
{
    int total = 0;
    std::vector<std::string> dumps = Dumps(qorbtest::PlatformsDir());
    EXPECT_FALSE(dumps.empty());
    for (const std::string& dump : dumps) {
        qorbtest::SimPlatform platform(std::vector<std::string>{dump});
        EXPECT_EQ(QORB_SUCCESS, platform.OpenStatus()) << dump;
        if (platform.OpenStatus() == QORB_SUCCESS)
            total += compare(dump);
    }
    return total;
}

} // namespace lspci

#endif
