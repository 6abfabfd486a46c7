/* The field tables of the capability decoder: register offsets within the
 * capability (PCI Express Base Specification, sections 7.5.2 Power
 * Management, 7.7.1 MSI, 7.7.2 MSI-X, 7.5.3 PCI Express Capability, 7.8.4
 * Advanced Error Reporting), bit ranges and the short names lspci prints. */
#include <linux/pci_regs.h>

#include <qorb_common/aer_bits.h>

#include "cap_decode.h"

namespace qorbcli {

namespace {

using W = FieldWhen;
using Names = std::vector<const char*>;

Field Flag(uint16_t at, uint8_t bit, const char* name, W when = W::kAlways)
{
    return {at, bit, bit, FieldFormat::kFlag, name, when, nullptr};
}
Field Val(uint16_t at, uint8_t lo, uint8_t hi, FieldFormat format, const char* text, W when = W::kAlways,
          const Names* names = nullptr)
{
    return {at, lo, hi, format, text, when, names};
}
Field Pick(uint16_t at, uint8_t lo, uint8_t hi, const char* text, const Names& names, W when = W::kAlways)
{
    return {at, lo, hi, FieldFormat::kName, text, when, &names};
}
Field Text(const char* text, W when = W::kAlways, uint16_t at = 0)
{
    return {at, 0, 0, FieldFormat::kText, text, when, nullptr};
}
/* The field, shown only when the register's bits under mask equal value. */
Field If(Field f, uint32_t mask, uint32_t value)
{
    f.ifMask = mask;
    f.ifValue = value;
    return f;
}
const Field kBr = {0, 0, 0, FieldFormat::kBreak, "", W::kAlways, nullptr};

/* The AER error bits of <qorb_common/aer_bits.h> as flags of one register. */
std::vector<Field> AerFlags(uint16_t at, bool correctable)
{
    std::vector<Field> fields;
    auto add = [&](const auto& table) {
        for (const qorb_aer::Bit& b : table)
            fields.push_back(Flag(at, static_cast<uint8_t>(__builtin_ctz(b.mask)), b.name));
    };
    if (correctable)
        add(qorb_aer::kCorrectable);
    else
        add(qorb_aer::kUncorrectable);
    return fields;
}

const Names kPortTypes = {"Endpoint",
                          "Legacy Endpoint",
                          nullptr,
                          nullptr,
                          "Root Port",
                          "Upstream Port",
                          "Downstream Port",
                          "PCI-Express to PCI/PCI-X Bridge",
                          "PCI/PCI-X to PCI-Express Bridge",
                          "Root Complex Integrated Endpoint",
                          "Root Complex Event Collector"};
const Names kL0sLatency = {"<64ns", "<128ns", "<256ns", "<512ns", "<1us", "<2us", "<4us", "unlimited"};
const Names kL1Latency = {"<1us", "<2us", "<4us", "<8us", "<16us", "<32us", "<64us", "unlimited"};
const Names kAspmSupport = {"not supported", "L0s", "L1", "L0s L1"};
const Names kAspmControl = {"Disabled", "L0s Enabled", "L1 Enabled", "L0s L1 Enabled"};
const Names kRcb = {"64", "128"};
const Names kIndicator = {"Unknown", "On", "Blink", "Off"};
const Names kTimeoutRanges = {"Not Supported", "Range A",   "Range B",   "Range AB",  "Unknown", "Unknown",
                              "Range BC",      "Range ABC", "Unknown",   "Unknown",   "Unknown", "Unknown",
                              "Unknown",       "Unknown",   "Range BCD", "Range ABCD"};
const Names kTimeoutValues = {
    "50us to 50ms", "50us to 100us",  "1ms to 10ms", "Unknown", "Unknown", "16ms to 55ms", "65ms to 210ms", "Unknown",
    "Unknown",      "260ms to 900ms", "1s to 3.5s",  "Unknown", "Unknown", "4s to 13s",    "17s to 64s",    "Unknown"};
const Names kObffSupport = {"Not Supported", "Via message", "Via WAKE#", "Via message/WAKE#"};
const Names kObffControl = {"Disabled", "Via message A", "Via message B", "Via WAKE#"};
const Names kPowerReduction = {"Not Supported", "Dev Specific", "Form Factor Dev Specific", "Reserved"};
const Names kMargin = {
    "Normal Operating Range", "Value 1", "Value 2", "Value 3", "Value 4", "Value 5", "Value 6", "Value 7"};
/* Transmitter presets P0 to P10 (section 8.3.3.3). */
const Names kPresets = {"-6dB de-emphasis, 0dB preshoot",
                        "-3.5dB de-emphasis, 0dB preshoot",
                        "-4.4dB de-emphasis, 0dB preshoot",
                        "-2.5dB de-emphasis, 0dB preshoot",
                        "0dB de-emphasis, 0dB preshoot",
                        "0dB de-emphasis, 1.9dB preshoot",
                        "0dB de-emphasis, 2.5dB preshoot",
                        "-6.0dB de-emphasis, 3.5dB preshoot",
                        "-3.5dB de-emphasis, 3.5dB preshoot",
                        "0dB de-emphasis, 3.5dB preshoot",
                        "Reserved"};
const Names kDeemphasis = {"-6dB", "-3.5dB"};
const Names kCrosslink = {"unsupported", "Upstream Port", "Downstream Port", "reserved"};
const Names kLnCls = {"Not Supported", "64byte cachelines", "128byte cachelines", "Reserved"};
const Names kPrefixes = {"4", "1", "2", "3"};
const Names kAuxCurrent = {"0", "55", "100", "160", "220", "270", "320", "375"};
const Names kPowerStates = {"D0", "D1", "D2", "D3hot"};

std::vector<CapDecoder> Build()
{
    using F = FieldFormat;
    std::vector<CapDecoder> d;

    d.push_back(
        {false,
         PCI_CAP_ID_PM,
         {{"", W::kAlways, {Val(PCI_PM_PMC, 0, 2, F::kDecimal, "version %s")}},
          {"Flags:",
           W::kAlways,
           {Flag(PCI_PM_PMC, 3, "PMEClk"), Flag(PCI_PM_PMC, 5, "DSI"), Flag(PCI_PM_PMC, 9, "D1"),
            Flag(PCI_PM_PMC, 10, "D2"), Pick(PCI_PM_PMC, 6, 8, "AuxCurrent=%smA", kAuxCurrent),
            Flag(PCI_PM_PMC, 11, "PME(D0"), Flag(PCI_PM_PMC, 12, ",D1"), Flag(PCI_PM_PMC, 13, ",D2"),
            Flag(PCI_PM_PMC, 14, ",D3hot"), Flag(PCI_PM_PMC, 15, ",D3cold"), Text(")")}},
          {"Status:",
           W::kAlways,
           {Pick(PCI_PM_CTRL, 0, 1, "%s", kPowerStates), Flag(PCI_PM_CTRL, 3, "NoSoftRst"),
            Flag(PCI_PM_CTRL, 8, "PME-Enable"), Val(PCI_PM_CTRL, 9, 12, F::kDecimal, "DSel=%s"),
            Val(PCI_PM_CTRL, 13, 14, F::kDecimal, "DScale=%s"), Flag(PCI_PM_CTRL, 15, "PME")}},
          {"Bridge:", W::kAlways, {Flag(PCI_PM_CTRL, 23, "PM"), Field{PCI_PM_CTRL, 22, 22, F::kFlagClear, "B3"}}}}});

    d.push_back({false,
                 PCI_CAP_ID_MSI,
                 {{"",
                   W::kAlways,
                   {Flag(PCI_MSI_FLAGS, 0, ": Enable"), Val(PCI_MSI_FLAGS, 4, 6, F::kPowerOf2, "Count=%s"),
                    Val(PCI_MSI_FLAGS, 1, 3, F::kPowerOf2, "/%s"), Flag(PCI_MSI_FLAGS, 8, "Maskable"),
                    Flag(PCI_MSI_FLAGS, 7, "64bit")}},
                  {"Address:",
                   W::kMsi32,
                   {Val(PCI_MSI_ADDRESS_LO, 0, 31, F::kHex, "%s"), Val(PCI_MSI_DATA_32, 0, 15, F::kHex, " Data: %s")}},
                  {"Address:",
                   W::kMsi64,
                   {Val(PCI_MSI_ADDRESS_HI, 0, 31, F::kHex, "%s"), Val(PCI_MSI_ADDRESS_LO, 0, 31, F::kHex, "|%s"),
                    Val(PCI_MSI_DATA_64, 0, 15, F::kHex, " Data: %s")}},
                  {"Masking:",
                   W::kMsiMask,
                   {Val(PCI_MSI_MASK_32, 0, 31, F::kHex, "%s", W::kMsi32),
                    Val(PCI_MSI_PENDING_32, 0, 31, F::kHex, " Pending: %s", W::kMsi32),
                    Val(PCI_MSI_MASK_64, 0, 31, F::kHex, "%s", W::kMsi64),
                    Val(PCI_MSI_PENDING_64, 0, 31, F::kHex, " Pending: %s", W::kMsi64)}}}});

    d.push_back(
        {false,
         PCI_CAP_ID_MSIX,
         {{"",
           W::kAlways,
           {Flag(PCI_MSIX_FLAGS, 15, ": Enable"), Val(PCI_MSIX_FLAGS, 0, 10, F::kPlusOne, "Count=%s"),
            Flag(PCI_MSIX_FLAGS, 14, "Masked")}},
          {"Vector table:",
           W::kAlways,
           {Val(PCI_MSIX_TABLE, 0, 2, F::kDecimal, "BAR=%s"), Val(PCI_MSIX_TABLE, 3, 31, F::kInPlace, "offset=%s")}},
          {"PBA:",
           W::kAlways,
           {Val(PCI_MSIX_PBA, 0, 2, F::kDecimal, "BAR=%s"), Val(PCI_MSIX_PBA, 3, 31, F::kInPlace, "offset=%s")}}}});

    d.push_back(
        {false,
         PCI_CAP_ID_EXP,
         {{"",
           W::kAlways,
           {Val(PCI_EXP_FLAGS, 0, 3, F::kDecimal, "(v%s)"), Pick(PCI_EXP_FLAGS, 4, 7, "%s", kPortTypes),
            Flag(PCI_EXP_FLAGS, 8, "(Slot", W::kPort), Text(")", W::kPort),
            Val(PCI_EXP_FLAGS, 9, 13, F::kHex, ", MSI %s")}},
          {"DevCap:",
           W::kAlways,
           {Val(PCI_EXP_DEVCAP, 0, 2, F::kBytes128, "MaxPayload %s bytes"),
            Val(PCI_EXP_DEVCAP, 3, 4, F::kDecimal, ", PhantFunc %s"),
            Pick(PCI_EXP_DEVCAP, 6, 8, ", Latency L0s %s", kL0sLatency, W::kEndpoint),
            Pick(PCI_EXP_DEVCAP, 9, 11, ", L1 %s", kL1Latency, W::kEndpoint), kBr, Flag(PCI_EXP_DEVCAP, 5, "ExtTag"),
            Flag(PCI_EXP_DEVCAP, 12, "AttnBtn", W::kUpstream), Flag(PCI_EXP_DEVCAP, 13, "AttnInd", W::kUpstream),
            Flag(PCI_EXP_DEVCAP, 14, "PwrInd", W::kUpstream), Flag(PCI_EXP_DEVCAP, 15, "RBE"),
            Flag(PCI_EXP_DEVCAP, 28, "FLReset", W::kAnyEndpoint),
            Val(PCI_EXP_DEVCAP, 18, 27, F::kPower, "SlotPowerLimit %s", W::kUpstream)}},
          {"DevCtl:",
           W::kAlways,
           {Flag(PCI_EXP_DEVCTL, 0, "CorrErr"), Flag(PCI_EXP_DEVCTL, 1, "NonFatalErr"),
            Flag(PCI_EXP_DEVCTL, 2, "FatalErr"), Flag(PCI_EXP_DEVCTL, 3, "UnsupReq"), kBr,
            Flag(PCI_EXP_DEVCTL, 4, "RlxdOrd"), Flag(PCI_EXP_DEVCTL, 8, "ExtTag"), Flag(PCI_EXP_DEVCTL, 9, "PhantFunc"),
            Flag(PCI_EXP_DEVCTL, 10, "AuxPwr"), Flag(PCI_EXP_DEVCTL, 11, "NoSnoop"),
            Flag(PCI_EXP_DEVCTL, 15, "FLReset", W::kAnyEndpoint), Flag(PCI_EXP_DEVCTL, 15, "BrConfRtry", W::kPciBridge),
            kBr, Val(PCI_EXP_DEVCTL, 5, 7, F::kBytes128, "MaxPayload %s bytes"),
            Val(PCI_EXP_DEVCTL, 12, 14, F::kBytes128, ", MaxReadReq %s bytes")}},
          {"DevSta:",
           W::kAlways,
           {Flag(PCI_EXP_DEVSTA, 0, "CorrErr"), Flag(PCI_EXP_DEVSTA, 1, "NonFatalErr"),
            Flag(PCI_EXP_DEVSTA, 2, "FatalErr"), Flag(PCI_EXP_DEVSTA, 3, "UnsupReq"), Flag(PCI_EXP_DEVSTA, 4, "AuxPwr"),
            Flag(PCI_EXP_DEVSTA, 5, "TransPend")}},
          {"LnkCap:",
           W::kLink,
           {Val(PCI_EXP_LNKCAP, 24, 31, F::kDecimal, "Port #%s"), Val(PCI_EXP_LNKCAP, 0, 3, F::kSpeed, ", Speed %s"),
            Val(PCI_EXP_LNKCAP, 4, 9, F::kDecimal, ", Width x%s"),
            Pick(PCI_EXP_LNKCAP, 10, 11, ", ASPM %s", kAspmSupport),
            If(Text(", Exit Latency", W::kAlways, PCI_EXP_LNKCAP), PCI_EXP_LNKCAP_ASPMS, kAnySet),
            If(Pick(PCI_EXP_LNKCAP, 12, 14, "L0s %s", kL0sLatency), PCI_EXP_LNKCAP_ASPM_L0S, PCI_EXP_LNKCAP_ASPM_L0S),
            If(Pick(PCI_EXP_LNKCAP, 15, 17, ", L1 %s", kL1Latency), PCI_EXP_LNKCAP_ASPMS, PCI_EXP_LNKCAP_ASPMS),
            If(Pick(PCI_EXP_LNKCAP, 15, 17, "L1 %s", kL1Latency), PCI_EXP_LNKCAP_ASPMS, PCI_EXP_LNKCAP_ASPM_L1), kBr,
            Flag(PCI_EXP_LNKCAP, 18, "ClockPM"), Flag(PCI_EXP_LNKCAP, 19, "Surprise"),
            Flag(PCI_EXP_LNKCAP, 20, "LLActRep"), Flag(PCI_EXP_LNKCAP, 21, "BwNot"),
            Flag(PCI_EXP_LNKCAP, 22, "ASPMOptComp")}},
          {"LnkCtl:",
           W::kLink,
           {Pick(PCI_EXP_LNKCTL, 0, 1, "ASPM %s", kAspmControl),
            Pick(PCI_EXP_LNKCTL, 3, 3, "; RCB %s bytes", kRcb, W::kNotSwitch), Flag(PCI_EXP_LNKCTL, 4, ", Disabled"),
            Flag(PCI_EXP_LNKCTL, 6, "CommClk"), kBr, Flag(PCI_EXP_LNKCTL, 7, "ExtSynch"),
            Flag(PCI_EXP_LNKCTL, 8, "ClockPM"), Flag(PCI_EXP_LNKCTL, 9, "AutWidDis"), Flag(PCI_EXP_LNKCTL, 10, "BWInt"),
            Flag(PCI_EXP_LNKCTL, 11, "AutBWInt")}},
          {"LnkSta:",
           W::kLink,
           {Val(PCI_EXP_LNKSTA, 0, 3, F::kStaSpeed, "Speed %s"), Val(PCI_EXP_LNKSTA, 4, 9, F::kStaWidth, ", Width x%s"),
            kBr, Flag(PCI_EXP_LNKSTA, 10, "TrErr"), Flag(PCI_EXP_LNKSTA, 11, "Train"),
            Flag(PCI_EXP_LNKSTA, 12, "SlotClk"), Flag(PCI_EXP_LNKSTA, 13, "DLActive"),
            Flag(PCI_EXP_LNKSTA, 14, "BWMgmt"), Flag(PCI_EXP_LNKSTA, 15, "ABWMgmt")}},
          {"SltCap:",
           W::kSlot,
           {Flag(PCI_EXP_SLTCAP, 0, "AttnBtn"), Flag(PCI_EXP_SLTCAP, 1, "PwrCtrl"), Flag(PCI_EXP_SLTCAP, 2, "MRL"),
            Flag(PCI_EXP_SLTCAP, 3, "AttnInd"), Flag(PCI_EXP_SLTCAP, 4, "PwrInd"), Flag(PCI_EXP_SLTCAP, 5, "HotPlug"),
            Flag(PCI_EXP_SLTCAP, 6, "Surprise"), kBr, Val(PCI_EXP_SLTCAP, 19, 31, F::kDecimal, "Slot #%s"),
            Val(PCI_EXP_SLTCAP, 7, 16, F::kPower, ", PowerLimit %s"), Flag(PCI_EXP_SLTCAP, 17, "; Interlock"),
            Flag(PCI_EXP_SLTCAP, 18, "NoCompl")}},
          {"SltCtl:",
           W::kSlot,
           {Flag(PCI_EXP_SLTCTL, 0, "Enable: AttnBtn"), Flag(PCI_EXP_SLTCTL, 1, "PwrFlt"),
            Flag(PCI_EXP_SLTCTL, 2, "MRL"), Flag(PCI_EXP_SLTCTL, 3, "PresDet"), Flag(PCI_EXP_SLTCTL, 4, "CmdCplt"),
            Flag(PCI_EXP_SLTCTL, 5, "HPIrq"), Flag(PCI_EXP_SLTCTL, 12, "LinkChg"), kBr,
            Pick(PCI_EXP_SLTCTL, 6, 7, "Control: AttnInd %s", kIndicator),
            Pick(PCI_EXP_SLTCTL, 8, 9, ", PwrInd %s", kIndicator), Flag(PCI_EXP_SLTCTL, 10, ", Power"),
            Flag(PCI_EXP_SLTCTL, 11, "Interlock")}},
          {"SltSta:",
           W::kSlot,
           {Flag(PCI_EXP_SLTSTA, 0, "Status: AttnBtn"), Flag(PCI_EXP_SLTSTA, 1, "PowerFlt"),
            Flag(PCI_EXP_SLTSTA, 5, "MRL"), Flag(PCI_EXP_SLTSTA, 4, "CmdCplt"), Flag(PCI_EXP_SLTSTA, 6, "PresDet"),
            Flag(PCI_EXP_SLTSTA, 7, "Interlock"), kBr, Flag(PCI_EXP_SLTSTA, 2, "Changed: MRL"),
            Flag(PCI_EXP_SLTSTA, 3, "PresDet"), Flag(PCI_EXP_SLTSTA, 8, "LinkState")}},
          {"RootCap:", W::kRoot, {Flag(PCI_EXP_RTCAP, 0, "CRSVisible")}},
          {"RootCtl:",
           W::kRoot,
           {Flag(PCI_EXP_RTCTL, 0, "ErrCorrectable"), Flag(PCI_EXP_RTCTL, 1, "ErrNon-Fatal"),
            Flag(PCI_EXP_RTCTL, 2, "ErrFatal"), Flag(PCI_EXP_RTCTL, 3, "PMEIntEna"),
            Flag(PCI_EXP_RTCTL, 4, "CRSVisible")}},
          {"RootSta:",
           W::kRoot,
           {Val(PCI_EXP_RTSTA, 0, 15, F::kHex, "PME ReqID %s"), Flag(PCI_EXP_RTSTA, 16, ", PMEStatus"),
            Flag(PCI_EXP_RTSTA, 17, "PMEPending")}},
          {"DevCap2:",
           W::kV2,
           {Pick(PCI_EXP_DEVCAP2, 0, 3, "Completion Timeout: %s", kTimeoutRanges),
            Flag(PCI_EXP_DEVCAP2, 4, ", TimeoutDis"),
            Flag(PCI_EXP_DEVCAP2, 10, "NROPrPrP"),
            Flag(PCI_EXP_DEVCAP2, 11, "LTR"),
            kBr,
            Flag(PCI_EXP_DEVCAP2, 16, "10BitTagComp"),
            Flag(PCI_EXP_DEVCAP2, 17, "10BitTagReq"),
            Pick(PCI_EXP_DEVCAP2, 18, 19, "OBFF %s", kObffSupport),
            Flag(PCI_EXP_DEVCAP2, 20, ", ExtFmt"),
            Flag(PCI_EXP_DEVCAP2, 21, "EETLPPrefix"),
            If(Pick(PCI_EXP_DEVCAP2, 22, 23, ", MaxEETLPPrefixes %s", kPrefixes), PCI_EXP_DEVCAP2_EE_PREFIX,
               PCI_EXP_DEVCAP2_EE_PREFIX),
            kBr,
            Pick(PCI_EXP_DEVCAP2, 24, 25, "EmergencyPowerReduction %s", kPowerReduction),
            Flag(PCI_EXP_DEVCAP2, 26, ", EmergencyPowerReductionInit"),
            kBr,
            Flag(PCI_EXP_DEVCAP2, 31, "FRS"),
            Pick(PCI_EXP_DEVCAP2, 14, 15, "LN System CLS %s,", kLnCls, W::kRoot),
            Flag(PCI_EXP_DEVCAP2, 12, "TPHComp"),
            Flag(PCI_EXP_DEVCAP2, 13, "ExtTPHComp"),
            Flag(PCI_EXP_DEVCAP2, 5, "ARIFwd", W::kPort),
            kBr,
            Flag(PCI_EXP_DEVCAP2, 6, "AtomicOpsCap: Routing"),
            Flag(PCI_EXP_DEVCAP2, 7, "32bit"),
            Flag(PCI_EXP_DEVCAP2, 8, "64bit"),
            Flag(PCI_EXP_DEVCAP2, 9, "128bitCAS")}},
          {"DevCtl2:",
           W::kV2,
           {Pick(PCI_EXP_DEVCTL2, 0, 3, "Completion Timeout: %s", kTimeoutValues),
            Flag(PCI_EXP_DEVCTL2, 4, ", TimeoutDis"), Flag(PCI_EXP_DEVCTL2, 10, "LTR"),
            Flag(PCI_EXP_DEVCTL2, 12, "10BitTagReq"), Pick(PCI_EXP_DEVCTL2, 13, 14, "OBFF %s", kObffControl),
            Flag(PCI_EXP_DEVCTL2, 5, ", ARIFwd", W::kPort), kBr, Flag(PCI_EXP_DEVCTL2, 6, "AtomicOpsCtl: ReqEn"),
            Flag(PCI_EXP_DEVCTL2, 7, "EgressBlck")}},
          {"DevSta2:", W::kV2, {Val(PCI_EXP_DEVSTA2, 0, 15, F::kHex, "%s")}},
          {"LnkCap2:",
           W::kV2,
           {Val(PCI_EXP_LNKCAP2, 1, 7, F::kSpeeds, "Supported Link Speeds: %s"),
            Flag(PCI_EXP_LNKCAP2, 8, ", Crosslink"), Flag(PCI_EXP_LNKCAP2, 23, "Retimer"),
            Flag(PCI_EXP_LNKCAP2, 24, "2Retimers"), Flag(PCI_EXP_LNKCAP2, 31, "DRS")}},
          {"LnkCtl2:",
           W::kV2,
           {Val(PCI_EXP_LNKCTL2, 0, 3, F::kTarget, "Target Link Speed: %s"),
            Flag(PCI_EXP_LNKCTL2, 4, ", EnterCompliance"), Flag(PCI_EXP_LNKCTL2, 5, "SpeedDis"),
            Pick(PCI_EXP_LNKCTL2, 6, 6, ", Selectable De-emphasis: %s", kDeemphasis, W::kDownstream), kBr,
            Pick(PCI_EXP_LNKCTL2, 7, 9, "Transmit Margin: %s", kMargin),
            Flag(PCI_EXP_LNKCTL2, 10, ", EnterModifiedCompliance"), Flag(PCI_EXP_LNKCTL2, 11, "ComplianceSOS"), kBr,
            Pick(PCI_EXP_LNKCTL2, 12, 15, "Compliance Preset/De-emphasis: %s", kPresets)}},
          {"LnkSta2:",
           W::kV2,
           {Pick(PCI_EXP_LNKSTA2, 0, 0, "Current De-emphasis Level: %s", kDeemphasis),
            Flag(PCI_EXP_LNKSTA2, 1, ", EqualizationComplete"), Flag(PCI_EXP_LNKSTA2, 2, "EqualizationPhase1"), kBr,
            Flag(PCI_EXP_LNKSTA2, 3, "EqualizationPhase2"), Flag(PCI_EXP_LNKSTA2, 4, "EqualizationPhase3"),
            Flag(PCI_EXP_LNKSTA2, 5, "LinkEqualizationRequest"), kBr, Flag(PCI_EXP_LNKSTA2, 6, "Retimer"),
            Flag(PCI_EXP_LNKSTA2, 7, "2Retimers"), Pick(PCI_EXP_LNKSTA2, 8, 9, "CrosslinkRes: %s", kCrosslink)}},
          {"SltCap2:", W::kV2Slot, {Flag(PCI_EXP_SLTCAP2, 0, "IbPresDis")}},
          {"SltCtl2:", W::kV2Slot, {Val(PCI_EXP_SLTCTL2, 0, 15, F::kHex, "%s")}},
          {"SltSta2:", W::kV2Slot, {Val(PCI_EXP_SLTSTA2, 0, 15, F::kHex, "%s")}}}});

    d.push_back(
        {true,
         PCI_EXT_CAP_ID_ERR,
         {{"", W::kAlways, {}},
          {"UESta:", W::kAlways, AerFlags(PCI_ERR_UNCOR_STATUS, false)},
          {"UEMsk:", W::kAlways, AerFlags(PCI_ERR_UNCOR_MASK, false)},
          {"UESvrt:", W::kAlways, AerFlags(PCI_ERR_UNCOR_SEVER, false)},
          {"CESta:", W::kAlways, AerFlags(PCI_ERR_COR_STATUS, true)},
          {"CEMsk:", W::kAlways, AerFlags(PCI_ERR_COR_MASK, true)},
          {"AERCap:",
           W::kAlways,
           {Val(PCI_ERR_CAP, 0, 4, F::kHex, "First Error Pointer: %s"), Flag(PCI_ERR_CAP, 5, ", ECRCGenCap"),
            Flag(PCI_ERR_CAP, 6, "ECRCGenEn"), Flag(PCI_ERR_CAP, 7, "ECRCChkCap"), Flag(PCI_ERR_CAP, 8, "ECRCChkEn"),
            kBr, Flag(PCI_ERR_CAP, 9, "MultHdrRecCap"), Flag(PCI_ERR_CAP, 10, "MultHdrRecEn"),
            Flag(PCI_ERR_CAP, 11, "TLPPfxPres"), Flag(PCI_ERR_CAP, 12, "HdrLogCap")}},
          {"HeaderLog:",
           W::kAlways,
           {Val(PCI_ERR_HEADER_LOG, 0, 31, F::kHex, "%s"), Val(PCI_ERR_HEADER_LOG + 4, 0, 31, F::kHex, "%s"),
            Val(PCI_ERR_HEADER_LOG + 8, 0, 31, F::kHex, "%s"), Val(PCI_ERR_HEADER_LOG + 12, 0, 31, F::kHex, "%s")}},
          {"RootCmd:",
           W::kRoot,
           {Flag(PCI_ERR_ROOT_COMMAND, 0, "CERptEn"), Flag(PCI_ERR_ROOT_COMMAND, 1, "NFERptEn"),
            Flag(PCI_ERR_ROOT_COMMAND, 2, "FERptEn")}},
          {"RootSta:",
           W::kRoot,
           {Flag(PCI_ERR_ROOT_STATUS, 0, "CERcvd"), Flag(PCI_ERR_ROOT_STATUS, 1, "MultCERcvd"),
            Flag(PCI_ERR_ROOT_STATUS, 2, "UERcvd"), Flag(PCI_ERR_ROOT_STATUS, 3, "MultUERcvd"), kBr,
            Flag(PCI_ERR_ROOT_STATUS, 4, "FirstFatal"), Flag(PCI_ERR_ROOT_STATUS, 5, "NonFatalMsg"),
            Flag(PCI_ERR_ROOT_STATUS, 6, "FatalMsg"), Val(PCI_ERR_ROOT_STATUS, 27, 31, F::kDecimal, "IntMsg %s")}},
          {"ErrorSrc:",
           W::kRoot,
           {Val(PCI_ERR_ROOT_ERR_SRC, 0, 15, F::kHex, "ERR_COR: %s"),
            Val(PCI_ERR_ROOT_ERR_SRC, 16, 31, F::kHex, "ERR_FATAL/NONFATAL: %s")}}}});
    return d;
}

} // namespace

const std::vector<CapDecoder>& CapDecoders()
{
    static const std::vector<CapDecoder> decoders = Build();
    return decoders;
}

} // namespace qorbcli
