/* The read-only rules that relate fields of the PCI Express capability to
 * each other, to the header and to the function's place in the hierarchy
 * (PCI Express Base Specification, section 7.5.3). */
#include "verify.h"

#include <linux/pci_regs.h>

#include "names.h"

namespace qorbcli {
namespace verify {

using qorb_regs::FieldAt;

namespace {

bool IsBridgeType(int type)
{
    return type == PCI_EXP_TYPE_ROOT_PORT || type == PCI_EXP_TYPE_UPSTREAM || type == PCI_EXP_TYPE_DOWNSTREAM ||
        type == PCI_EXP_TYPE_PCI_BRIDGE || type == PCI_EXP_TYPE_PCIE_BRIDGE;
}

/* The port types that may sit directly above a function of this type;
 * kNoPortAbove stands for a root bus. */
bool PositionAllowed(int type, int above)
{
    switch (type) {
    case PCI_EXP_TYPE_ROOT_PORT:
    case PCI_EXP_TYPE_RC_END:
    case PCI_EXP_TYPE_RC_EC:
        return above == kNoPortAbove;
    case PCI_EXP_TYPE_DOWNSTREAM:
        return above == PCI_EXP_TYPE_UPSTREAM;
    case PCI_EXP_TYPE_PCIE_BRIDGE:
        return above == -1 || above == kNoPortAbove;
    default:
        return above == PCI_EXP_TYPE_ROOT_PORT || above == PCI_EXP_TYPE_DOWNSTREAM || above == PCI_EXP_TYPE_PCIE_BRIDGE;
    }
}

std::string AboveText(int above)
{
    if (above == kNoPortAbove)
        return "a root bus";
    if (above < 0)
        return "a function without a PCI Express capability";
    return "a " + PortTypeName(static_cast<uint32_t>(above));
}

/* A link speed by its code: "8GT/s". */
std::string Speed(uint32_t code)
{
    static const char* const speeds[] = {"?", "2.5GT/s", "5GT/s", "8GT/s", "16GT/s", "32GT/s", "64GT/s"};
    return code < 7 ? speeds[code] : "speed " + std::to_string(code);
}

/* A rule on one field: pass or fail with the message. */
void On(std::vector<RuleResult>& out, const FieldAt& fa, const char* tag, bool pass, uint32_t value,
        std::string message)
{
    Add(out, fa, tag, false, pass, value).SetMessage(std::move(message));
}

/* The same with a sentence of the program's own. */
void On(std::vector<RuleResult>& out, const FieldAt& fa, const char* tag, bool pass, uint32_t value,
        const char* sentence)
{
    Add(out, fa, tag, false, pass, value).fixedMessage = sentence;
}

} // namespace

void PcieRules(const qorb_regs::Function& f, const std::vector<qorb_regs::Placed>& placed, const RuleContext& context,
               std::vector<RuleResult>& out)
{
    FieldAt type, slot, mls, mlw, cls, nlw, slsv, mps, mpss, ltrEn, ltrCap;
    if (!FindField(f, placed, "PCIE", "FLAGS", "Device/Port Type", &type))
        return;
    const uint32_t portType = FieldValue(type, f.Get(type.offset, 2));

    bool type1 = f.layout == 1;
    On(out, type, "HEADER", type1 == IsBridgeType(static_cast<int>(portType)), portType,
       "a " + PortTypeName(portType) + " has a type " +
           std::string(IsBridgeType(static_cast<int>(portType)) ? "1" : "0") + " header" +
           (type1 == IsBridgeType(static_cast<int>(portType)) ? "" : ", this one a type " + std::to_string(f.layout)));
    if (context.portAbove != kUnknownPosition) {
        bool ok = PositionAllowed(static_cast<int>(portType), context.portAbove);
        On(out, type, "POSITION", ok, portType,
           "a " + PortTypeName(portType) + (ok ? " sits below " : " may not sit below ") +
               AboveText(context.portAbove));
    }
    if (FindField(f, placed, "PCIE", "FLAGS", "Slot Implemented", &slot)) {
        bool set = FieldValue(slot, f.Get(slot.offset, 2));
        bool ok = !set || portType == PCI_EXP_TYPE_ROOT_PORT || portType == PCI_EXP_TYPE_DOWNSTREAM;
        if (ok)
            On(out, slot, "SLOT", ok, set, "Slot Implemented only on a Root Port or Switch Downstream Port");
        else
            On(out, slot, "SLOT", ok, set,
               "Slot Implemented is set on a " + PortTypeName(portType) + "; only downstream ports have slots");
    }
    if (FindField(f, placed, "PCIE", "DEVCTL", "Max_Payload_Size", &mps) &&
        FindField(f, placed, "PCIE", "DEVCAP", "Max_Payload_Size Supported", &mpss)) {
        uint32_t set = FieldValue(mps, f.Get(mps.offset, 2)), cap = FieldValue(mpss, f.Get(mpss.offset, 4));
        On(out, mps, "MPS_LE_CAP", set <= cap, set,
           "Max_Payload_Size " + std::to_string(128u << (set & 7)) + " bytes, supported " +
               std::to_string(128u << (cap & 7)));
    }
    if (FindField(f, placed, "PCIE", "LNKCAP", "Max Link Speed", &mls) &&
        FindField(f, placed, "PCIE", "LNKCAP", "Maximum Link Width", &mlw)) {
        uint32_t lnkcap = f.Get(mls.offset, 4), maxSpeed = FieldValue(mls, lnkcap), maxWidth = FieldValue(mlw, lnkcap);
        uint32_t vector = 0;
        if (FindField(f, placed, "PCIE", "LNKCAP2", "Supported Link Speeds Vector", &slsv)) {
            vector = FieldValue(slsv, f.Get(slsv.offset, 4));
            bool contiguous = (vector & (vector + 1)) == 0;
            if (contiguous)
                On(out, slsv, "CONTIGUOUS", true, vector, "the supported speeds run from 2.5GT/s without a gap");
            else
                On(out, slsv, "CONTIGUOUS", false, vector,
                   "the Supported Link Speeds Vector " + Hex(vector, 2) + " leaves out a lower speed");
            /* Functions before 3.0 leave the vector 0; Max Link Speed then
             * codes 2.5 or 5 GT/s itself. */
            bool in = vector ? maxSpeed >= 1 && maxSpeed <= 7 && (vector >> (maxSpeed - 1) & 1)
                             : maxSpeed == 1 || maxSpeed == 2;
            On(out, mls, "IN_SLSV", in, maxSpeed,
               "Max Link Speed " + Speed(maxSpeed) + (in ? " is" : " is not") +
                   " in the Supported Link Speeds Vector " + Hex(vector, 2));
        }
        if (FindField(f, placed, "PCIE", "LNKSTA", "Current Link Speed", &cls) &&
            FindField(f, placed, "PCIE", "LNKSTA", "Negotiated Link Width", &nlw)) {
            uint32_t lnksta = f.Get(cls.offset, 2), speed = FieldValue(cls, lnksta), width = FieldValue(nlw, lnksta);
            if (width != 0) { /* a link that is up */
                bool speedOk = speed >= 1 && speed <= maxSpeed && (!vector || (vector >> (speed - 1) & 1));
                On(out, cls, "CLS_LE_MAX", speedOk, speed,
                   "the link runs at " + Speed(speed) + ", the function supports up to " + Speed(maxSpeed));
                On(out, nlw, "NLW_LE_MAX", width <= maxWidth, width,
                   "the link is x" + std::to_string(width) + ", the function is at most x" + std::to_string(maxWidth));
            }
        }
    }
    /* LTR Mechanism Enable may be set only when LTR is supported. */
    if (FindField(f, placed, "PCIE", "DEVCTL2", "LTR Mechanism Enable", &ltrEn) &&
        FindField(f, placed, "PCIE", "DEVCAP2", "LTR Mechanism Supported", &ltrCap)) {
        bool enabled = FieldValue(ltrEn, f.Get(ltrEn.offset, 2)),
             supported = FieldValue(ltrCap, f.Get(ltrCap.offset, 4));
        On(out, ltrEn, "LTR_SUPPORTED", !enabled || supported, enabled,
           enabled && !supported ? "LTR Mechanism Enable is set but Device Capabilities 2 does not support LTR"
                                 : "LTR Mechanism Enable only when LTR is supported");
    }
    /* Structures that need the registers of version 2. */
    const qorb_regs::Placed* pcie = FindPlaced(placed, "PCIE");
    std::string needV2;
    for (const char* tag : {"LTR", "L1SS", "SECPCI", "DPC", "PTM", "ARI"})
        if (FindPlaced(placed, tag))
            needV2 += std::string(needV2.empty() ? "" : ", ") + tag;
    FieldAt version;
    if (pcie && FindField(f, placed, "PCIE", "FLAGS", "Capability Version", &version)) {
        bool ok = pcie->version >= 2 || needV2.empty();
        if (ok)
            On(out, version, "VER_REGS", true, pcie->version,
               "the capability version holds the registers the other structures rely on");
        else
            On(out, version, "VER_REGS", false, pcie->version,
               "version 1 has no Device Capabilities 2 or Link Capabilities 2, which " + needV2 + " rely on");
    }
}

} // namespace verify
} // namespace qorbcli
