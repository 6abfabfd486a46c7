/* The engine that turns field tables into lspci's lines. */
#include "cap_decode.h"

#include <linux/pci_regs.h>
#include <stdio.h>
#include <string.h>

#include "names.h"

namespace qorbcli {

namespace {

bool Applies(FieldWhen when, const std::vector<uint8_t>& image, const RawCap& cap, const ExpressInfo& e)
{
    unsigned t = e.portType;
    bool root = t == PCI_EXP_TYPE_ROOT_PORT || t == PCI_EXP_TYPE_RC_EC;
    uint32_t msi = ImageGet(image, cap.offset + PCI_MSI_FLAGS, 2);
    switch (when) {
    case FieldWhen::kAlways:
        return true;
    case FieldWhen::kEndpoint:
        return t == PCI_EXP_TYPE_ENDPOINT || t == PCI_EXP_TYPE_LEG_END;
    case FieldWhen::kAnyEndpoint:
        return t == PCI_EXP_TYPE_ENDPOINT || t == PCI_EXP_TYPE_LEG_END || t == PCI_EXP_TYPE_RC_END;
    case FieldWhen::kPciBridge:
        return t == PCI_EXP_TYPE_PCI_BRIDGE;
    case FieldWhen::kBridgeHeader:
        return (ImageGet(image, PCI_HEADER_TYPE, 1) & 0x7f) != PCI_HEADER_TYPE_NORMAL;
    case FieldWhen::kNotSwitch:
        return t != PCI_EXP_TYPE_UPSTREAM && t != PCI_EXP_TYPE_DOWNSTREAM;
    case FieldWhen::kDownstream:
        return t == PCI_EXP_TYPE_DOWNSTREAM;
    case FieldWhen::kUpstream:
        return t == PCI_EXP_TYPE_ENDPOINT || t == PCI_EXP_TYPE_LEG_END || t == PCI_EXP_TYPE_UPSTREAM ||
            t == PCI_EXP_TYPE_PCI_BRIDGE;
    case FieldWhen::kPort:
        return t == PCI_EXP_TYPE_ROOT_PORT || t == PCI_EXP_TYPE_DOWNSTREAM || t == PCI_EXP_TYPE_PCIE_BRIDGE;
    case FieldWhen::kSlot:
        return e.slot;
    case FieldWhen::kRoot:
        return root;
    case FieldWhen::kLink:
        return t != PCI_EXP_TYPE_RC_END && t != PCI_EXP_TYPE_RC_EC;
    case FieldWhen::kV2:
        return e.version >= 2;
    case FieldWhen::kV2Slot:
        return e.version >= 2 && e.slot;
    case FieldWhen::kMsi32:
        return !(msi & PCI_MSI_FLAGS_64BIT);
    case FieldWhen::kMsi64:
        return msi & PCI_MSI_FLAGS_64BIT;
    case FieldWhen::kMsiMask:
        return msi & PCI_MSI_FLAGS_MASKBIT;
    }
    return false;
}

std::string Speeds(uint32_t vector)
{
    int low = 0, high = 0;
    for (int bit = 0; bit < 7; bit++) {
        if (vector & (1u << bit)) {
            low = low ? low : bit + 1;
            high = bit + 1;
        }
    }
    if (!low)
        return "RsvdP";
    std::string top = LinkSpeedText(static_cast<uint32_t>(high));
    if (low == high)
        return top;
    std::string bottom = LinkSpeedText(static_cast<uint32_t>(low));
    return bottom.substr(0, bottom.find('G')) + "-" + top;
}

/* Slot power: the value times 1, 0.1, 0.01 or 0.001 W by the scale. */
std::string Power(uint32_t field)
{
    static const double scales[] = {1.0, 0.1, 0.01, 0.001};
    char text[32];
    snprintf(text, sizeof text, "%gW", (field & 0xff) * scales[field >> 8 & 3]);
    return text;
}

std::string Value(const Field& f, uint32_t reg)
{
    unsigned bits = f.hi - f.lo + 1u;
    uint32_t value = bits >= 32 ? reg : (reg >> f.lo) & ((1u << bits) - 1);
    switch (f.format) {
    case FieldFormat::kDecimal:
    case FieldFormat::kStaWidth:
        return std::to_string(value);
    case FieldFormat::kHex:
        return Hex(value, static_cast<int>((bits + 3) / 4));
    case FieldFormat::kInPlace:
        return Hex(bits >= 32 ? reg : value << f.lo, 8);
    case FieldFormat::kName:
        return f.names && value < f.names->size() && (*f.names)[value] ? (*f.names)[value] : "unknown";
    case FieldFormat::kBytes128:
        return std::to_string(128u << (value & 7));
    case FieldFormat::kPowerOf2:
        return std::to_string(1u << (value & 31));
    case FieldFormat::kPlusOne:
        return std::to_string(value + 1);
    case FieldFormat::kSpeed:
    case FieldFormat::kStaSpeed:
        return LinkSpeedText(value);
    case FieldFormat::kTarget:
        return LinkSpeedText(value ? value : 1);
    case FieldFormat::kSpeeds:
        return Speeds(value);
    case FieldFormat::kPower:
        return Power(value);
    default:
        return "";
    }
}

std::string Item(const Field& f, uint32_t reg)
{
    const char* text = f.text[0] == '|' ? f.text + 1 : f.text;
    if (f.format == FieldFormat::kFlag)
        return std::string(text) + ((reg >> f.lo) & 1 ? "+" : "-");
    if (f.format == FieldFormat::kFlagClear)
        return std::string(text) + ((reg >> f.lo) & 1 ? "-" : "+");
    if (f.format == FieldFormat::kText)
        return text;
    std::string pattern = text;
    size_t at = pattern.find("%s");
    std::string value = Value(f, reg);
    return at == std::string::npos ? pattern + " " + value : pattern.replace(at, 2, value);
}

/* lspci's note on a Link Status speed or width against Link Capabilities:
 * above it is overdriven; below it is downgraded, except on the ports that
 * face downstream, whose link may run below what they offer. */
std::string LinkCompare(const Field& f, uint32_t sta, const std::vector<uint8_t>& image, const RawCap& cap,
                        const ExpressInfo& e)
{
    uint32_t lnkcap = ImageGet(image, cap.offset + PCI_EXP_LNKCAP, 4);
    bool speed = f.format == FieldFormat::kStaSpeed;
    uint32_t now = speed ? sta & PCI_EXP_LNKSTA_CLS : (sta & PCI_EXP_LNKSTA_NLW) >> PCI_EXP_LNKSTA_NLW_SHIFT;
    uint32_t most = speed ? lnkcap & PCI_EXP_LNKCAP_SLS : (lnkcap & PCI_EXP_LNKCAP_MLW) >> 4;
    if (now > most)
        return " (overdriven)";
    unsigned t = e.portType;
    if (now == most || t == PCI_EXP_TYPE_ROOT_PORT || t == PCI_EXP_TYPE_DOWNSTREAM || t == PCI_EXP_TYPE_PCI_BRIDGE)
        return "";
    return " (downgraded)";
}

bool Joins(const char* text) { return strchr(",;:/)|", text[0]) != nullptr; }

} // namespace

std::vector<std::string> DecodeCapability(const std::vector<uint8_t>& image, const RawCap& cap,
                                          const ExpressInfo& express, bool registers)
{
    const CapDecoder* decoder = nullptr;
    for (const CapDecoder& d : CapDecoders())
        if (d.extended == cap.extended && d.id == cap.id)
            decoder = &d;
    if (!decoder)
        return {cap.name};
    std::vector<std::string> out;
    for (const FieldLine& line : decoder->lines) {
        if (!out.empty() && !registers)
            break;
        if (!Applies(line.when, image, cap, express))
            continue;
        std::string text = line.label[0] ? std::string(line.label) + "\t" : "";
        bool start = true, joinFirst = false;
        for (const Field& f : line.fields) {
            if (!Applies(f.when, image, cap, express))
                continue;
            if (f.format == FieldFormat::kBreak) {
                out.push_back(text);
                text = "\t";
                start = true;
                continue;
            }
            uint32_t reg = ImageGet(image, cap.offset + f.at, 4);
            if (f.ifMask && (f.ifValue == kAnySet ? !(reg & f.ifMask) : (reg & f.ifMask) != f.ifValue))
                continue;
            std::string item = Item(f, reg);
            if (f.format == FieldFormat::kStaSpeed || f.format == FieldFormat::kStaWidth)
                item += LinkCompare(f, reg, image, cap, express);
            joinFirst = joinFirst || (text.empty() && Joins(f.text));
            text += (start || Joins(f.text) ? "" : " ") + item;
            start = false;
        }
        if (!line.label[0])
            text = cap.name.substr(0, cap.name.find(':')) + (text.empty() || joinFirst ? "" : " ") + text;
        out.push_back(text);
    }
    return out;
}

} // namespace qorbcli
