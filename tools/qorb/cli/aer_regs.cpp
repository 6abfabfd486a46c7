/* Decoding the Advanced Error Reporting registers. */
#include "aer_regs.h"

#include <linux/pci_regs.h>

#include <qorb_common/aer_bits.h>
#include <qorb_common/cap_walk.h>

#include "names.h"

namespace qorbcli {

namespace {

uint32_t Get32(const std::vector<uint8_t>& s, uint32_t at)
{
    return s[at] | s[at + 1] << 8 | s[at + 2] << 16 | static_cast<uint32_t>(s[at + 3]) << 24;
}

template <size_t N>
std::string Flags(const qorb_aer::Bit (&bits)[N], uint32_t value)
{
    std::string out = Hex(value, 8);
    for (const qorb_aer::Bit& bit : bits)
        out += std::string(" ") + bit.name + ((value & bit.mask) ? '+' : '-');
    return out;
}

template <size_t N>
Json Register(const qorb_aer::Bit (&bits)[N], uint32_t value)
{
    Json flags = Json::Object();
    for (const qorb_aer::Bit& bit : bits)
        flags.Set(bit.name, (value & bit.mask) != 0);
    return Json::Object().Set("value", value).Set("bits", flags);
}

template <size_t N>
void Titles(const qorb_aer::Bit (&bits)[N], uint32_t value, uint32_t severity, bool uncorrectable, std::string* out)
{
    for (const qorb_aer::Bit& bit : bits) {
        if (!(value & bit.mask))
            continue;
        *out += (out->empty() ? "" : ", ") + std::string(bit.title);
        if (uncorrectable)
            *out += (severity & bit.mask) ? " (fatal)" : " (non-fatal)";
    }
}

std::string SourceText(uint32_t id) { return SlotText(id >> 8 & 0xff, id >> 3 & 0x1f, id & 7); }

} // namespace

bool AerRegisters::AnySet() const
{
    return uncStatus || corStatus || (root && (rootStatus & qorb_aer::kRootStatusBits));
}

bool ReadAer(const std::vector<uint8_t>& image, AerRegisters* aer)
{
    *aer = AerRegisters();
    qorb_caps::List extended = qorb_caps::WalkExtended(image.data(), image.size());
    for (const qorb_caps::Cap& cap : extended.caps) {
        if (cap.id != PCI_EXT_CAP_ID_ERR)
            continue;
        /* The registers up to Error Source Identification; the walk only
         * vouched for the header. */
        if (cap.offset + PCI_ERR_ROOT_ERR_SRC + 4u > image.size())
            return false;
        aer->offset = cap.offset;
        auto reg = [&](uint32_t at) { return Get32(image, cap.offset + at); };
        aer->uncStatus = reg(PCI_ERR_UNCOR_STATUS), aer->uncMask = reg(PCI_ERR_UNCOR_MASK);
        aer->uncSeverity = reg(PCI_ERR_UNCOR_SEVER), aer->corStatus = reg(PCI_ERR_COR_STATUS);
        aer->corMask = reg(PCI_ERR_COR_MASK), aer->capControl = reg(PCI_ERR_CAP);
        for (uint32_t i = 0; i < 4; i++)
            aer->headerLog[i] = reg(PCI_ERR_HEADER_LOG + 4 * i);
        for (const qorb_caps::Cap& legacy : qorb_caps::WalkLegacy(image.data(), image.size()).caps) {
            if (legacy.id != PCI_CAP_ID_EXP || legacy.offset + PCI_EXP_FLAGS + 2u > image.size())
                continue;
            uint32_t type = (image[legacy.offset + PCI_EXP_FLAGS] & PCI_EXP_FLAGS_TYPE) >> 4;
            aer->root = type == PCI_EXP_TYPE_ROOT_PORT || type == PCI_EXP_TYPE_RC_EC;
            break;
        }
        if (aer->root) {
            aer->rootCommand = reg(PCI_ERR_ROOT_COMMAND);
            aer->rootStatus = reg(PCI_ERR_ROOT_STATUS);
            aer->sourceId = reg(PCI_ERR_ROOT_ERR_SRC);
        }
        return true;
    }
    return false;
}

std::vector<std::string> AerLines(const AerRegisters& aer)
{
    std::vector<std::string> lines = {
        "UESta:  " + Flags(qorb_aer::kUncorrectable, aer.uncStatus),
        "UEMsk:  " + Flags(qorb_aer::kUncorrectable, aer.uncMask),
        "UESvrt: " + Flags(qorb_aer::kUncorrectable, aer.uncSeverity),
        "CESta:  " + Flags(qorb_aer::kCorrectable, aer.corStatus),
        "CEMsk:  " + Flags(qorb_aer::kCorrectable, aer.corMask),
        "AERCap: " + Flags(qorb_aer::kCapControl, aer.capControl) +
            " First Error Pointer: " + Hex(aer.capControl & qorb_aer::kFirstErrorPointer, 2),
        "HeaderLog: " + Hex(aer.headerLog[0], 8) + " " + Hex(aer.headerLog[1], 8) + " " + Hex(aer.headerLog[2], 8) +
            " " + Hex(aer.headerLog[3], 8),
    };
    if (aer.root) {
        lines.push_back("RootCmd: " + Flags(qorb_aer::kRootCommand, aer.rootCommand));
        lines.push_back("RootSta: " + Flags(qorb_aer::kRootStatus, aer.rootStatus) + " IntMsgNum " +
                        std::to_string(aer.rootStatus >> qorb_aer::kInterruptMessageShift));
        lines.push_back("ErrorSrc: " + Hex(aer.sourceId, 8) + " ERR_COR: " + SourceText(aer.sourceId & 0xffff) +
                        " ERR_FATAL/NONFATAL: " + SourceText(aer.sourceId >> 16));
    }
    return lines;
}

std::string AerSummary(const AerRegisters& aer)
{
    std::string text =
        "[" + Hex(aer.offset, 3) + "] UESta " + Hex(aer.uncStatus, 8) + " CESta " + Hex(aer.corStatus, 8);
    if (aer.root)
        text += " RootSta " + Hex(aer.rootStatus, 8);
    if (!aer.AnySet())
        return text + " clear";
    std::string set;
    Titles(qorb_aer::kUncorrectable, aer.uncStatus, aer.uncSeverity, true, &set);
    Titles(qorb_aer::kCorrectable, aer.corStatus, 0, false, &set);
    if (aer.root)
        Titles(qorb_aer::kRootStatus, aer.rootStatus, 0, false, &set);
    return text + " status set: " + set;
}

Json AerJson(const AerRegisters& aer, const std::string& slot)
{
    Json log = Json::Array();
    for (uint32_t dword : aer.headerLog)
        log.Push(dword);
    Json out = Json::Object();
    out.Set("slot", slot)
        .Set("offset", aer.offset)
        .Set("status_set", aer.AnySet())
        .Set("uncorrectable_status", Register(qorb_aer::kUncorrectable, aer.uncStatus))
        .Set("uncorrectable_mask", Register(qorb_aer::kUncorrectable, aer.uncMask))
        .Set("uncorrectable_severity", Register(qorb_aer::kUncorrectable, aer.uncSeverity))
        .Set("correctable_status", Register(qorb_aer::kCorrectable, aer.corStatus))
        .Set("correctable_mask", Register(qorb_aer::kCorrectable, aer.corMask))
        .Set("capabilities_control",
             Register(qorb_aer::kCapControl, aer.capControl)
                 .Set("first_error_pointer", aer.capControl & qorb_aer::kFirstErrorPointer))
        .Set("header_log", log);
    if (!aer.root)
        return out.Set("root", Json());
    Json root = Json::Object();
    root.Set("command", Register(qorb_aer::kRootCommand, aer.rootCommand))
        .Set("status",
             Register(qorb_aer::kRootStatus, aer.rootStatus)
                 .Set("interrupt_message_number", aer.rootStatus >> qorb_aer::kInterruptMessageShift))
        .Set("error_source",
             Json::Object()
                 .Set("value", aer.sourceId)
                 .Set("err_cor", SourceText(aer.sourceId & 0xffff))
                 .Set("err_fatal_nonfatal", SourceText(aer.sourceId >> 16)));
    return out.Set("root", root);
}

} // namespace qorbcli
