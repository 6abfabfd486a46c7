/* setpci-style register operands. */
#include "regspec.h"

#include <linux/pci_regs.h>
#include <string.h>
#include <strings.h>

#include "names.h"
#include "selector.h"

namespace qorbcli {

namespace {

struct NamedRegister {
    const char* name;
    uint32_t offset;
    unsigned width;
};

constexpr NamedRegister kRegisters[] = {
    {"VENDOR_ID", PCI_VENDOR_ID, 2}, {"DEVICE_ID", PCI_DEVICE_ID, 2}, {"COMMAND", PCI_COMMAND, 2},
    {"STATUS", PCI_STATUS, 2}, {"REVISION", PCI_REVISION_ID, 1}, {"CLASS_PROG", PCI_CLASS_PROG, 1},
    {"CLASS_DEVICE", PCI_CLASS_DEVICE, 2}, {"CACHE_LINE_SIZE", PCI_CACHE_LINE_SIZE, 1},
    {"LATENCY_TIMER", PCI_LATENCY_TIMER, 1}, {"HEADER_TYPE", PCI_HEADER_TYPE, 1}, {"BIST", PCI_BIST, 1},
    {"BASE_ADDRESS_0", PCI_BASE_ADDRESS_0, 4}, {"BASE_ADDRESS_1", PCI_BASE_ADDRESS_1, 4},
    {"BASE_ADDRESS_2", PCI_BASE_ADDRESS_2, 4}, {"BASE_ADDRESS_3", PCI_BASE_ADDRESS_3, 4},
    {"BASE_ADDRESS_4", PCI_BASE_ADDRESS_4, 4}, {"BASE_ADDRESS_5", PCI_BASE_ADDRESS_5, 4},
    {"CARDBUS_CIS", PCI_CARDBUS_CIS, 4}, {"SUBSYSTEM_VENDOR_ID", PCI_SUBSYSTEM_VENDOR_ID, 2},
    {"SUBSYSTEM_ID", PCI_SUBSYSTEM_ID, 2}, {"ROM_ADDRESS", PCI_ROM_ADDRESS, 4},
    {"CAPABILITIES", PCI_CAPABILITY_LIST, 1}, {"INTERRUPT_LINE", PCI_INTERRUPT_LINE, 1},
    {"INTERRUPT_PIN", PCI_INTERRUPT_PIN, 1}, {"MIN_GNT", PCI_MIN_GNT, 1}, {"MAX_LAT", PCI_MAX_LAT, 1},
    {"PRIMARY_BUS", PCI_PRIMARY_BUS, 1}, {"SECONDARY_BUS", PCI_SECONDARY_BUS, 1},
    {"SUBORDINATE_BUS", PCI_SUBORDINATE_BUS, 1}, {"SEC_LATENCY_TIMER", PCI_SEC_LATENCY_TIMER, 1},
    {"IO_BASE", PCI_IO_BASE, 1}, {"IO_LIMIT", PCI_IO_LIMIT, 1}, {"SEC_STATUS", PCI_SEC_STATUS, 2},
    {"MEMORY_BASE", PCI_MEMORY_BASE, 2}, {"MEMORY_LIMIT", PCI_MEMORY_LIMIT, 2},
    {"PREF_MEMORY_BASE", PCI_PREF_MEMORY_BASE, 2}, {"PREF_MEMORY_LIMIT", PCI_PREF_MEMORY_LIMIT, 2},
    {"PREF_BASE_UPPER32", PCI_PREF_BASE_UPPER32, 4}, {"PREF_LIMIT_UPPER32", PCI_PREF_LIMIT_UPPER32, 4},
    {"IO_BASE_UPPER16", PCI_IO_BASE_UPPER16, 2}, {"IO_LIMIT_UPPER16", PCI_IO_LIMIT_UPPER16, 2},
    {"BRIDGE_ROM_ADDRESS", PCI_ROM_ADDRESS1, 4}, {"BRIDGE_CONTROL", PCI_BRIDGE_CONTROL, 2},
};

struct NamedCap {
    const char* name;
    uint32_t id;
};

constexpr NamedCap kLegacyCaps[] = {
    {"PM", PCI_CAP_ID_PM}, {"AGP", PCI_CAP_ID_AGP}, {"VPD", PCI_CAP_ID_VPD}, {"SLOTID", PCI_CAP_ID_SLOTID},
    {"MSI", PCI_CAP_ID_MSI}, {"CHSWP", PCI_CAP_ID_CHSWP}, {"PCIX", PCI_CAP_ID_PCIX}, {"HT", PCI_CAP_ID_HT},
    {"VNDR", PCI_CAP_ID_VNDR}, {"DBG", PCI_CAP_ID_DBG}, {"CCRC", PCI_CAP_ID_CCRC}, {"HOTPLUG", PCI_CAP_ID_SHPC},
    {"SSVID", PCI_CAP_ID_SSVID}, {"AGP3", PCI_CAP_ID_AGP3}, {"SECURE", PCI_CAP_ID_SECDEV},
    {"EXP", PCI_CAP_ID_EXP}, {"MSIX", PCI_CAP_ID_MSIX}, {"SATA", PCI_CAP_ID_SATA}, {"AF", PCI_CAP_ID_AF},
    {"EA", PCI_CAP_ID_EA},
};

constexpr NamedCap kExtendedCaps[] = {
    {"AER", PCI_EXT_CAP_ID_ERR},      {"VC", PCI_EXT_CAP_ID_VC},         {"DSN", PCI_EXT_CAP_ID_DSN},
    {"PB", PCI_EXT_CAP_ID_PWR},       {"RCLINK", PCI_EXT_CAP_ID_RCLD},   {"RCILINK", PCI_EXT_CAP_ID_RCILC},
    {"RCECOLL", PCI_EXT_CAP_ID_RCEC}, {"MFVC", PCI_EXT_CAP_ID_MFVC},     {"VC2", PCI_EXT_CAP_ID_VC9},
    {"RBCB", PCI_EXT_CAP_ID_RCRB},    {"VNDR", PCI_EXT_CAP_ID_VNDR},     {"ACS", PCI_EXT_CAP_ID_ACS},
    {"ARI", PCI_EXT_CAP_ID_ARI},      {"ATS", PCI_EXT_CAP_ID_ATS},       {"SRIOV", PCI_EXT_CAP_ID_SRIOV},
    {"LTR", PCI_EXT_CAP_ID_LTR},      {"SECPCI", PCI_EXT_CAP_ID_SECPCI}, {"DPC", PCI_EXT_CAP_ID_DPC},
    {"L1PM", PCI_EXT_CAP_ID_L1SS},    {"PTM", PCI_EXT_CAP_ID_PTM},       {"DVSEC", PCI_EXT_CAP_ID_DVSEC},
    {"DOE", PCI_EXT_CAP_ID_DOE},
};

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    size_t n = strlen(prefix);
    return text.size() >= n && strncasecmp(text.c_str(), prefix, n) == 0;
}

template <size_t N>
bool LookupCap(const NamedCap (&table)[N], const std::string& name, uint32_t* id)
{
    for (const NamedCap& cap : table) {
        if (strcasecmp(cap.name, name.c_str()) == 0) {
            *id = cap.id;
            return true;
        }
    }
    return false;
}

/* CAP_NAME / CAPnn and ECAP_NAME / ECAPnnnn. */
std::string ParseCapBase(const std::string& text, RegisterSpec* regSpec)
{
    bool extended = StartsWithNoCase(text, "ECAP");
    std::string rest = text.substr(extended ? 4 : 3);
    regSpec->base = extended ? RegisterSpec::kExtendedCap : RegisterSpec::kLegacyCap;
    if (!rest.empty() && rest[0] == '_') {
        if (!(extended ? LookupCap(kExtendedCaps, rest.substr(1), &regSpec->capId)
                       : LookupCap(kLegacyCaps, rest.substr(1), &regSpec->capId)))
            return "Unknown capability name " + text;
        return "";
    }
    uint64_t id = 0;
    if (!ParseHexField(rest, extended ? 0xffff : 0xff, &id))
        return "Invalid capability ID in " + text;
    regSpec->capId = static_cast<uint32_t>(id);
    return "";
}

} // namespace

std::string ParseRegisterSpec(const std::string& text, bool withValue, RegisterSpec* out)
{
    RegisterSpec regSpec;
    std::string reg = text;
    std::string valueText;
    size_t eq = reg.find('=');
    if (eq != std::string::npos) {
        valueText = reg.substr(eq + 1);
        reg = reg.substr(0, eq);
        if (!withValue)
            return "Unexpected value in " + text + " (use \"qorb write\" to change a register)";
    } else if (withValue) {
        return "Missing value in " + text + " (expected REG[.WIDTH]=VALUE[:MASK])";
    }

    size_t dot = reg.find('.');
    if (dot != std::string::npos) {
        std::string width = reg.substr(dot + 1);
        reg = reg.substr(0, dot);
        if (strcasecmp(width.c_str(), "b") == 0)
            regSpec.width = 1;
        else if (strcasecmp(width.c_str(), "w") == 0)
            regSpec.width = 2;
        else if (strcasecmp(width.c_str(), "l") == 0)
            regSpec.width = 4;
        else
            return "Invalid width \"" + width + "\" in " + text + " (expected b, w or l)";
    }

    std::string baseText = reg;
    size_t plus = reg.find('+');
    if (plus != std::string::npos) {
        baseText = reg.substr(0, plus);
        uint64_t offset = 0;
        if (!ParseHexField(reg.substr(plus + 1), 0xfff, &offset))
            return "Invalid offset in " + text;
        regSpec.offset = static_cast<uint32_t>(offset);
    }
    if (baseText.empty())
        return "Missing register in " + text;

    bool named = false;
    if (StartsWithNoCase(baseText, "CAP") || StartsWithNoCase(baseText, "ECAP")) {
        /* CAPABILITIES is a header register, not a capability. */
        if (strcasecmp(baseText.c_str(), "CAPABILITIES") != 0) {
            std::string error = ParseCapBase(baseText, &regSpec);
            if (!error.empty())
                return error;
            named = true;
        }
    }
    if (!named) {
        for (const NamedRegister& r : kRegisters) {
            if (strcasecmp(r.name, baseText.c_str()) == 0) {
                regSpec.offset += r.offset;
                if (regSpec.width == 0)
                    regSpec.width = r.width;
                named = true;
                break;
            }
        }
    }
    if (!named) {
        uint64_t offset = 0;
        if (!ParseHexField(baseText, 0xffffffffu, &offset))
            return "Unknown register \"" + baseText + "\" in " + text;
        if (offset > 0xfff)
            return CheckRegisterAddress(static_cast<uint32_t>(offset), 1);
        regSpec.offset += static_cast<uint32_t>(offset);
    }
    if (regSpec.width == 0)
        return "Missing width in " + text + " (add .b, .w or .l)";

    if (withValue) {
        std::string value = valueText;
        std::string mask;
        size_t colon = valueText.find(':');
        if (colon != std::string::npos) {
            value = valueText.substr(0, colon);
            mask = valueText.substr(colon + 1);
        }
        uint64_t max = regSpec.width == 4 ? 0xffffffffull : (1ull << (8 * regSpec.width)) - 1;
        uint64_t number = 0;
        if (!ParseHexField(value, max, &number))
            return "Invalid value \"" + value + "\" for a " + std::to_string(8 * regSpec.width) + "-bit register in " +
                   text;
        regSpec.value = static_cast<uint32_t>(number);
        regSpec.mask = static_cast<uint32_t>(max);
        if (colon != std::string::npos) {
            if (!ParseHexField(mask, max, &number))
                return "Invalid mask \"" + mask + "\" in " + text;
            regSpec.mask = static_cast<uint32_t>(number);
        }
        regSpec.hasValue = true;
    }
    *out = regSpec;
    return "";
}

std::string CheckRegisterAddress(uint32_t address, unsigned width)
{
    if (address >= 4096)
        return "Register number " + Hex(address, 3) + " out of range: configuration space has 4096 bytes, 000 to fff";
    if (address + width > 4096)
        return "Register number " + Hex(address, 3) + " out of range for a " + std::to_string(8 * width) +
            "-bit access: configuration space has 4096 bytes, 000 to fff";
    if (address % width != 0)
        return "Unaligned register address " + Hex(address, 3) + " for a " + std::to_string(8 * width) +
               "-bit access";
    return "";
}

std::string RegisterValueText(uint32_t value, unsigned width) { return Hex(value, static_cast<int>(2 * width)); }

} // namespace qorbcli
