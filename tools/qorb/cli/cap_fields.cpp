/* The field tables of the capability decoder: for each of lspci's items,
 * the field of the register model it shows (qorb_common/reg_tables_pci.h
 * and reg_tables_ext.h, which give the register offset and bits), the short
 * name lspci prints and how the value is shown. Power Management, MSI,
 * MSI-X, PCI Express and Advanced Error Reporting. */
#include <linux/pci_regs.h>

#include <qorb_common/aer_bits.h>

#include "cap_decode.h"

namespace qorbcli {

namespace {

using W = FieldWhen;
using Names = std::vector<const char*>;

/* References into the model: a field of a register, one bit of it, fields
 * a through b as one value, the whole register, the field holding a bit. */
ModelRef R(const char* reg, const char* field) { return {reg, field, nullptr, -1}; }
ModelRef Bit(const char* reg, const char* field, int bit) { return {reg, field, nullptr, static_cast<int8_t>(bit)}; }
ModelRef Span(const char* reg, const char* a, const char* b) { return {reg, a, b, -1}; }
ModelRef Whole(const char* reg) { return {reg, nullptr, nullptr, -1}; }
ModelRef BitOf(const char* reg, int bit) { return {reg, nullptr, nullptr, static_cast<int8_t>(bit)}; }

Field Flag(ModelRef ref, const char* name, W when = W::kAlways) { return {ref, FieldFormat::kFlag, name, when}; }
Field Val(ModelRef ref, FieldFormat format, const char* text, W when = W::kAlways) { return {ref, format, text, when}; }
Field Pick(ModelRef ref, const char* text, const Names& names, W when = W::kAlways)
{
    return {ref, FieldFormat::kName, text, when, &names};
}
Field Text(const char* text, W when = W::kAlways, ModelRef ref = {}) { return {ref, FieldFormat::kText, text, when}; }
/* The field, shown only when the register's bits under mask equal value. */
Field If(Field f, uint32_t mask, uint32_t value)
{
    f.ifMask = mask;
    f.ifValue = value;
    return f;
}
const Field kBr = {{}, FieldFormat::kBreak, ""};

/* The AER error bits of <qorb_common/aer_bits.h> as flags of one register. */
std::vector<Field> AerFlags(const char* reg, bool correctable)
{
    std::vector<Field> fields;
    auto add = [&](const auto& table) {
        for (const qorb_aer::Bit& b : table)
            fields.push_back(Flag(BitOf(reg, __builtin_ctz(b.mask)), b.name));
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
    const char* const kAttn = "Undefined (Attention Button/Indicator, Power Indicator Present in 1.0a)";

    d.push_back(
        {false,
         PCI_CAP_ID_PM,
         {{"", W::kAlways, {Val(R("PMC", "Version"), F::kDecimal, "version %s")}},
          {"Flags:",
           W::kAlways,
           {Flag(R("PMC", "PME Clock"), "PMEClk"), Flag(R("PMC", "Device Specific Initialization"), "DSI"),
            Flag(R("PMC", "D1_Support"), "D1"), Flag(R("PMC", "D2_Support"), "D2"),
            Pick(R("PMC", "Aux_Current"), "AuxCurrent=%smA", kAuxCurrent), Flag(Bit("PMC", "PME_Support", 0), "PME(D0"),
            Flag(Bit("PMC", "PME_Support", 1), ",D1"), Flag(Bit("PMC", "PME_Support", 2), ",D2"),
            Flag(Bit("PMC", "PME_Support", 3), ",D3hot"), Flag(Bit("PMC", "PME_Support", 4), ",D3cold"), Text(")")}},
          {"Status:",
           W::kAlways,
           {Pick(R("PMCSR", "PowerState"), "%s", kPowerStates), Flag(R("PMCSR", "No_Soft_Reset"), "NoSoftRst"),
            Flag(R("PMCSR", "PME_En"), "PME-Enable"), Val(R("PMCSR", "Data_Select"), F::kDecimal, "DSel=%s"),
            Val(R("PMCSR", "Data_Scale"), F::kDecimal, "DScale=%s"), Flag(R("PMCSR", "PME_Status"), "PME")}},
          {"Bridge:",
           W::kAlways,
           {Flag(R("PMCSR", "Bus Power/Clock Control Enable (obsolete)"), "PM"),
            {R("PMCSR", "B2_B3# (obsolete)"), F::kFlagClear, "B3"}}}}});

    d.push_back({false,
                 PCI_CAP_ID_MSI,
                 {{"",
                   W::kAlways,
                   {Flag(R("CTRL", "MSI Enable"), ": Enable"),
                    Val(R("CTRL", "Multiple Message Enable"), F::kPowerOf2, "Count=%s"),
                    Val(R("CTRL", "Multiple Message Capable"), F::kPowerOf2, "/%s"),
                    Flag(R("CTRL", "Per-Vector Masking Capable"), "Maskable"),
                    Flag(R("CTRL", "64 bit address capable"), "64bit")}},
                  {"Address:",
                   W::kMsi32,
                   {Val(Whole("ADDR"), F::kHex, "%s"), Val(R("DATA", "Message Data"), F::kHex, " Data: %s")}},
                  {"Address:",
                   W::kMsi64,
                   {Val(Whole("ADDRU"), F::kHex, "%s"), Val(Whole("ADDR"), F::kHex, "|%s"),
                    Val(R("DATA", "Message Data"), F::kHex, " Data: %s")}},
                  {"Masking:",
                   W::kMsiMask,
                   {Val(R("MASK", "Mask Bits"), F::kHex, "%s", W::kMsi32),
                    Val(R("PENDING", "Pending Bits"), F::kHex, " Pending: %s", W::kMsi32),
                    Val(R("MASK", "Mask Bits"), F::kHex, "%s", W::kMsi64),
                    Val(R("PENDING", "Pending Bits"), F::kHex, " Pending: %s", W::kMsi64)}}}});

    d.push_back(
        {false,
         PCI_CAP_ID_MSIX,
         {{"",
           W::kAlways,
           {Flag(R("CTRL", "MSI-X Enable"), ": Enable"), Val(R("CTRL", "Table Size"), F::kPlusOne, "Count=%s"),
            Flag(R("CTRL", "Function Mask"), "Masked")}},
          {"Vector table:",
           W::kAlways,
           {Val(R("TABLE", "Table BIR"), F::kDecimal, "BAR=%s"),
            Val(R("TABLE", "Table Offset"), F::kInPlace, "offset=%s")}},
          {"PBA:",
           W::kAlways,
           {Val(R("PBA", "PBA BIR"), F::kDecimal, "BAR=%s"), Val(R("PBA", "PBA Offset"), F::kInPlace, "offset=%s")}}}});

    d.push_back(
        {false,
         PCI_CAP_ID_EXP,
         {{"",
           W::kAlways,
           {Val(R("FLAGS", "Capability Version"), F::kDecimal, "(v%s)"),
            Pick(R("FLAGS", "Device/Port Type"), "%s", kPortTypes),
            Flag(R("FLAGS", "Slot Implemented"), "(Slot", W::kPort), Text(")", W::kPort),
            Val(R("FLAGS", "Interrupt Message Number"), F::kHex, ", MSI %s")}},
          {"DevCap:",
           W::kAlways,
           {Val(R("DEVCAP", "Max_Payload_Size Supported"), F::kBytes128, "MaxPayload %s bytes"),
            Val(R("DEVCAP", "Phantom Functions Supported"), F::kDecimal, ", PhantFunc %s"),
            Pick(R("DEVCAP", "Endpoint L0s Acceptable Latency"), ", Latency L0s %s", kL0sLatency, W::kEndpoint),
            Pick(R("DEVCAP", "Endpoint L1 Acceptable Latency"), ", L1 %s", kL1Latency, W::kEndpoint), kBr,
            Flag(R("DEVCAP", "Extended Tag Field Supported"), "ExtTag"),
            Flag(Bit("DEVCAP", kAttn, 0), "AttnBtn", W::kUpstream),
            Flag(Bit("DEVCAP", kAttn, 1), "AttnInd", W::kUpstream),
            Flag(Bit("DEVCAP", kAttn, 2), "PwrInd", W::kUpstream),
            Flag(R("DEVCAP", "Role-Based Error Reporting"), "RBE"),
            Flag(R("DEVCAP", "Function Level Reset Capability"), "FLReset", W::kAnyEndpoint),
            Val(Span("DEVCAP", "Captured Slot Power Limit Value", "Captured Slot Power Limit Scale"), F::kPower,
                "SlotPowerLimit %s", W::kUpstream)}},
          {"DevCtl:",
           W::kAlways,
           {Flag(R("DEVCTL", "Correctable Error Reporting Enable"), "CorrErr"),
            Flag(R("DEVCTL", "Non-Fatal Error Reporting Enable"), "NonFatalErr"),
            Flag(R("DEVCTL", "Fatal Error Reporting Enable"), "FatalErr"),
            Flag(R("DEVCTL", "Unsupported Request Reporting Enable"), "UnsupReq"), kBr,
            Flag(R("DEVCTL", "Enable Relaxed Ordering"), "RlxdOrd"),
            Flag(R("DEVCTL", "Extended Tag Field Enable"), "ExtTag"),
            Flag(R("DEVCTL", "Phantom Functions Enable"), "PhantFunc"),
            Flag(R("DEVCTL", "Aux Power PM Enable"), "AuxPwr"), Flag(R("DEVCTL", "Enable No Snoop"), "NoSnoop"),
            Flag(R("DEVCTL", "Initiate Function Level Reset"), "FLReset", W::kAnyEndpoint),
            Flag(R("DEVCTL", "Bridge Configuration Retry Enable"), "BrConfRtry", W::kPciBridge), kBr,
            Val(R("DEVCTL", "Max_Payload_Size"), F::kBytes128, "MaxPayload %s bytes"),
            Val(R("DEVCTL", "Max_Read_Request_Size"), F::kBytes128, ", MaxReadReq %s bytes")}},
          {"DevSta:",
           W::kAlways,
           {Flag(R("DEVSTA", "Correctable Error Detected"), "CorrErr"),
            Flag(R("DEVSTA", "Non-Fatal Error Detected"), "NonFatalErr"),
            Flag(R("DEVSTA", "Fatal Error Detected"), "FatalErr"),
            Flag(R("DEVSTA", "Unsupported Request Detected"), "UnsupReq"),
            Flag(R("DEVSTA", "AUX Power Detected"), "AuxPwr"), Flag(R("DEVSTA", "Transactions Pending"), "TransPend")}},
          {"LnkCap:",
           W::kLink,
           {Val(R("LNKCAP", "Port Number"), F::kDecimal, "Port #%s"),
            Val(R("LNKCAP", "Max Link Speed"), F::kSpeed, ", Speed %s"),
            Val(R("LNKCAP", "Maximum Link Width"), F::kDecimal, ", Width x%s"),
            Pick(R("LNKCAP", "ASPM Support"), ", ASPM %s", kAspmSupport),
            If(Text(", Exit Latency", W::kAlways, R("LNKCAP", "ASPM Support")), PCI_EXP_LNKCAP_ASPMS, kAnySet),
            If(Pick(R("LNKCAP", "L0s Exit Latency"), "L0s %s", kL0sLatency), PCI_EXP_LNKCAP_ASPM_L0S,
               PCI_EXP_LNKCAP_ASPM_L0S),
            If(Pick(R("LNKCAP", "L1 Exit Latency"), ", L1 %s", kL1Latency), PCI_EXP_LNKCAP_ASPMS, PCI_EXP_LNKCAP_ASPMS),
            If(Pick(R("LNKCAP", "L1 Exit Latency"), "L1 %s", kL1Latency), PCI_EXP_LNKCAP_ASPMS, PCI_EXP_LNKCAP_ASPM_L1),
            kBr, Flag(R("LNKCAP", "Clock Power Management"), "ClockPM"),
            Flag(R("LNKCAP", "Surprise Down Error Reporting Capable"), "Surprise"),
            Flag(R("LNKCAP", "Data Link Layer Link Active Reporting Capable"), "LLActRep"),
            Flag(R("LNKCAP", "Link Bandwidth Notification Capability"), "BwNot"),
            Flag(R("LNKCAP", "ASPM Optionality Compliance"), "ASPMOptComp")}},
          {"LnkCtl:",
           W::kLink,
           {Pick(R("LNKCTL", "ASPM Control"), "ASPM %s", kAspmControl),
            Pick(R("LNKCTL", "Read Completion Boundary"), "; RCB %s bytes", kRcb, W::kNotSwitch),
            Flag(R("LNKCTL", "Link Disable"), ", Disabled"), Flag(R("LNKCTL", "Common Clock Configuration"), "CommClk"),
            kBr, Flag(R("LNKCTL", "Extended Synch"), "ExtSynch"),
            Flag(R("LNKCTL", "Enable Clock Power Management"), "ClockPM"),
            Flag(R("LNKCTL", "Hardware Autonomous Width Disable"), "AutWidDis"),
            Flag(R("LNKCTL", "Link Bandwidth Management Interrupt Enable"), "BWInt"),
            Flag(R("LNKCTL", "Link Autonomous Bandwidth Interrupt Enable"), "AutBWInt")}},
          {"LnkSta:",
           W::kLink,
           {Val(R("LNKSTA", "Current Link Speed"), F::kStaSpeed, "Speed %s"),
            Val(R("LNKSTA", "Negotiated Link Width"), F::kStaWidth, ", Width x%s"), kBr,
            Flag(R("LNKSTA", "Undefined (Training Error in 1.0a)"), "TrErr"),
            Flag(R("LNKSTA", "Link Training"), "Train"), Flag(R("LNKSTA", "Slot Clock Configuration"), "SlotClk"),
            Flag(R("LNKSTA", "Data Link Layer Link Active"), "DLActive"),
            Flag(R("LNKSTA", "Link Bandwidth Management Status"), "BWMgmt"),
            Flag(R("LNKSTA", "Link Autonomous Bandwidth Status"), "ABWMgmt")}},
          {"SltCap:",
           W::kSlot,
           {Flag(R("SLTCAP", "Attention Button Present"), "AttnBtn"),
            Flag(R("SLTCAP", "Power Controller Present"), "PwrCtrl"), Flag(R("SLTCAP", "MRL Sensor Present"), "MRL"),
            Flag(R("SLTCAP", "Attention Indicator Present"), "AttnInd"),
            Flag(R("SLTCAP", "Power Indicator Present"), "PwrInd"), Flag(R("SLTCAP", "Hot-Plug Capable"), "HotPlug"),
            Flag(R("SLTCAP", "Hot-Plug Surprise"), "Surprise"), kBr,
            Val(R("SLTCAP", "Physical Slot Number"), F::kDecimal, "Slot #%s"),
            Val(Span("SLTCAP", "Slot Power Limit Value", "Slot Power Limit Scale"), F::kPower, ", PowerLimit %s"),
            Flag(R("SLTCAP", "Electromechanical Interlock Present"), "; Interlock"),
            Flag(R("SLTCAP", "No Command Completed Support"), "NoCompl")}},
          {"SltCtl:",
           W::kSlot,
           {Flag(R("SLTCTL", "Attention Button Pressed Enable"), "Enable: AttnBtn"),
            Flag(R("SLTCTL", "Power Fault Detected Enable"), "PwrFlt"),
            Flag(R("SLTCTL", "MRL Sensor Changed Enable"), "MRL"),
            Flag(R("SLTCTL", "Presence Detect Changed Enable"), "PresDet"),
            Flag(R("SLTCTL", "Command Completed Interrupt Enable"), "CmdCplt"),
            Flag(R("SLTCTL", "Hot-Plug Interrupt Enable"), "HPIrq"),
            Flag(R("SLTCTL", "Data Link Layer State Changed Enable"), "LinkChg"), kBr,
            Pick(R("SLTCTL", "Attention Indicator Control"), "Control: AttnInd %s", kIndicator),
            Pick(R("SLTCTL", "Power Indicator Control"), ", PwrInd %s", kIndicator),
            Flag(R("SLTCTL", "Power Controller Control"), ", Power"),
            Flag(R("SLTCTL", "Electromechanical Interlock Control"), "Interlock")}},
          {"SltSta:",
           W::kSlot,
           {Flag(R("SLTSTA", "Attention Button Pressed"), "Status: AttnBtn"),
            Flag(R("SLTSTA", "Power Fault Detected"), "PowerFlt"), Flag(R("SLTSTA", "MRL Sensor State"), "MRL"),
            Flag(R("SLTSTA", "Command Completed"), "CmdCplt"), Flag(R("SLTSTA", "Presence Detect State"), "PresDet"),
            Flag(R("SLTSTA", "Electromechanical Interlock Status"), "Interlock"), kBr,
            Flag(R("SLTSTA", "MRL Sensor Changed"), "Changed: MRL"),
            Flag(R("SLTSTA", "Presence Detect Changed"), "PresDet"),
            Flag(R("SLTSTA", "Data Link Layer State Changed"), "LinkState")}},
          {"RootCap:", W::kRoot, {Flag(R("ROOTCAP", "Configuration RRS Software Visibility"), "CRSVisible")}},
          {"RootCtl:",
           W::kRoot,
           {Flag(R("ROOTCTL", "System Error on Correctable Error Enable"), "ErrCorrectable"),
            Flag(R("ROOTCTL", "System Error on Non-Fatal Error Enable"), "ErrNon-Fatal"),
            Flag(R("ROOTCTL", "System Error on Fatal Error Enable"), "ErrFatal"),
            Flag(R("ROOTCTL", "PME Interrupt Enable"), "PMEIntEna"),
            Flag(R("ROOTCTL", "Configuration RRS Software Visibility Enable"), "CRSVisible")}},
          {"RootSta:",
           W::kRoot,
           {Val(R("ROOTSTA", "PME Requester ID"), F::kHex, "PME ReqID %s"),
            Flag(R("ROOTSTA", "PME Status"), ", PMEStatus"), Flag(R("ROOTSTA", "PME Pending"), "PMEPending")}},
          {"DevCap2:",
           W::kV2,
           {Pick(R("DEVCAP2", "Completion Timeout Ranges Supported"), "Completion Timeout: %s", kTimeoutRanges),
            Flag(R("DEVCAP2", "Completion Timeout Disable Supported"), ", TimeoutDis"),
            Flag(R("DEVCAP2", "No RO-enabled PR-PR Passing"), "NROPrPrP"),
            Flag(R("DEVCAP2", "LTR Mechanism Supported"), "LTR"),
            kBr,
            Flag(R("DEVCAP2", "10-Bit Tag Completer Supported"), "10BitTagComp"),
            Flag(R("DEVCAP2", "10-Bit Tag Requester Supported"), "10BitTagReq"),
            Pick(R("DEVCAP2", "OBFF Supported"), "OBFF %s", kObffSupport),
            Flag(R("DEVCAP2", "Extended Fmt Field Supported"), ", ExtFmt"),
            Flag(R("DEVCAP2", "End-End TLP Prefix Supported"), "EETLPPrefix"),
            If(Pick(R("DEVCAP2", "Max End-End TLP Prefixes"), ", MaxEETLPPrefixes %s", kPrefixes),
               PCI_EXP_DEVCAP2_EE_PREFIX, PCI_EXP_DEVCAP2_EE_PREFIX),
            kBr,
            Pick(R("DEVCAP2", "Emergency Power Reduction Supported"), "EmergencyPowerReduction %s", kPowerReduction),
            Flag(R("DEVCAP2", "Emergency Power Reduction Initialization Required"), ", EmergencyPowerReductionInit"),
            kBr,
            Flag(R("DEVCAP2", "FRS Supported"), "FRS"),
            Pick(R("DEVCAP2", "LN System CLS (obsolete)"), "LN System CLS %s,", kLnCls, W::kRoot),
            Flag(Bit("DEVCAP2", "TPH Completer Supported", 0), "TPHComp"),
            Flag(Bit("DEVCAP2", "TPH Completer Supported", 1), "ExtTPHComp"),
            Flag(R("DEVCAP2", "ARI Forwarding Supported"), "ARIFwd", W::kPort),
            kBr,
            Flag(R("DEVCAP2", "AtomicOp Routing Supported"), "AtomicOpsCap: Routing"),
            Flag(R("DEVCAP2", "32-bit AtomicOp Completer Supported"), "32bit"),
            Flag(R("DEVCAP2", "64-bit AtomicOp Completer Supported"), "64bit"),
            Flag(R("DEVCAP2", "128-bit CAS Completer Supported"), "128bitCAS")}},
          {"DevCtl2:",
           W::kV2,
           {Pick(R("DEVCTL2", "Completion Timeout Value"), "Completion Timeout: %s", kTimeoutValues),
            Flag(R("DEVCTL2", "Completion Timeout Disable"), ", TimeoutDis"),
            Flag(R("DEVCTL2", "LTR Mechanism Enable"), "LTR"),
            Flag(R("DEVCTL2", "10-Bit Tag Requester Enable"), "10BitTagReq"),
            Pick(R("DEVCTL2", "OBFF Enable"), "OBFF %s", kObffControl),
            Flag(R("DEVCTL2", "ARI Forwarding Enable"), ", ARIFwd", W::kPort), kBr,
            Flag(R("DEVCTL2", "AtomicOp Requester Enable"), "AtomicOpsCtl: ReqEn"),
            Flag(R("DEVCTL2", "AtomicOp Egress Blocking"), "EgressBlck")}},
          {"DevSta2:", W::kV2, {Val(Whole("DEVSTA2"), F::kHex, "%s")}},
          {"LnkCap2:",
           W::kV2,
           {Val(R("LNKCAP2", "Supported Link Speeds Vector"), F::kSpeeds, "Supported Link Speeds: %s"),
            Flag(R("LNKCAP2", "Crosslink Supported"), ", Crosslink"),
            Flag(R("LNKCAP2", "Retimer Presence Detect Supported"), "Retimer"),
            Flag(R("LNKCAP2", "Two Retimers Presence Detect Supported"), "2Retimers"),
            Flag(R("LNKCAP2", "DRS Supported"), "DRS")}},
          {"LnkCtl2:",
           W::kV2,
           {Val(R("LNKCTL2", "Target Link Speed"), F::kTarget, "Target Link Speed: %s"),
            Flag(R("LNKCTL2", "Enter Compliance"), ", EnterCompliance"),
            Flag(R("LNKCTL2", "Hardware Autonomous Speed Disable"), "SpeedDis"),
            Pick(R("LNKCTL2", "Selectable De-emphasis"), ", Selectable De-emphasis: %s", kDeemphasis, W::kDownstream),
            kBr, Pick(R("LNKCTL2", "Transmit Margin"), "Transmit Margin: %s", kMargin),
            Flag(R("LNKCTL2", "Enter Modified Compliance"), ", EnterModifiedCompliance"),
            Flag(R("LNKCTL2", "Compliance SOS"), "ComplianceSOS"), kBr,
            Pick(R("LNKCTL2", "Compliance Preset/De-emphasis"), "Compliance Preset/De-emphasis: %s", kPresets)}},
          {"LnkSta2:",
           W::kV2,
           {Pick(R("LNKSTA2", "Current De-emphasis Level"), "Current De-emphasis Level: %s", kDeemphasis),
            Flag(R("LNKSTA2", "Equalization 8.0 GT/s Complete"), ", EqualizationComplete"),
            Flag(R("LNKSTA2", "Equalization 8.0 GT/s Phase 1 Successful"), "EqualizationPhase1"), kBr,
            Flag(R("LNKSTA2", "Equalization 8.0 GT/s Phase 2 Successful"), "EqualizationPhase2"),
            Flag(R("LNKSTA2", "Equalization 8.0 GT/s Phase 3 Successful"), "EqualizationPhase3"),
            Flag(R("LNKSTA2", "Link Equalization Request 8.0 GT/s"), "LinkEqualizationRequest"), kBr,
            Flag(R("LNKSTA2", "Retimer Presence Detected"), "Retimer"),
            Flag(R("LNKSTA2", "Two Retimers Presence Detected"), "2Retimers"),
            Pick(R("LNKSTA2", "Crosslink Resolution"), "CrosslinkRes: %s", kCrosslink)}},
          {"SltCap2:", W::kV2Slot, {Flag(R("SLTCAP2", "In-Band PD Disable Supported"), "IbPresDis")}},
          {"SltCtl2:", W::kV2Slot, {Val(Whole("SLTCTL2"), F::kHex, "%s")}},
          {"SltSta2:", W::kV2Slot, {Val(Whole("SLTSTA2"), F::kHex, "%s")}}}});

    d.push_back(
        {true,
         PCI_EXT_CAP_ID_ERR,
         {{"", W::kAlways, {}},
          {"UESta:", W::kAlways, AerFlags("UNCSTA", false)},
          {"UEMsk:", W::kAlways, AerFlags("UNCMASK", false)},
          {"UESvrt:", W::kAlways, AerFlags("UNCSEV", false)},
          {"CESta:", W::kAlways, AerFlags("CORSTA", true)},
          {"CEMsk:", W::kAlways, AerFlags("CORMASK", true)},
          {"AERCap:",
           W::kAlways,
           {Val(R("CAP", "First Error Pointer"), F::kHex, "First Error Pointer: %s"),
            Flag(R("CAP", "ECRC Generation Capable"), ", ECRCGenCap"),
            Flag(R("CAP", "ECRC Generation Enable"), "ECRCGenEn"), Flag(R("CAP", "ECRC Check Capable"), "ECRCChkCap"),
            Flag(R("CAP", "ECRC Check Enable"), "ECRCChkEn"), kBr,
            Flag(R("CAP", "Multiple Header Recording Capable"), "MultHdrRecCap"),
            Flag(R("CAP", "Multiple Header Recording Enable"), "MultHdrRecEn"),
            Flag(R("CAP", "TLP Prefix Log Present"), "TLPPfxPres"),
            Flag(R("CAP", "Completion Timeout Prefix/Header Log Capable"), "HdrLogCap")}},
          {"HeaderLog:",
           W::kAlways,
           {Val(R("HDRLOG0", "Header Log"), F::kHex, "%s"), Val(R("HDRLOG1", "Header Log"), F::kHex, "%s"),
            Val(R("HDRLOG2", "Header Log"), F::kHex, "%s"), Val(R("HDRLOG3", "Header Log"), F::kHex, "%s")}},
          {"RootCmd:",
           W::kRoot,
           {Flag(R("ROOTCMD", "Correctable Error Reporting Enable"), "CERptEn"),
            Flag(R("ROOTCMD", "Non-Fatal Error Reporting Enable"), "NFERptEn"),
            Flag(R("ROOTCMD", "Fatal Error Reporting Enable"), "FERptEn")}},
          {"RootSta:",
           W::kRoot,
           {Flag(R("ROOTSTA", "ERR_COR Received"), "CERcvd"),
            Flag(R("ROOTSTA", "Multiple ERR_COR Received"), "MultCERcvd"),
            Flag(R("ROOTSTA", "ERR_FATAL/NONFATAL Received"), "UERcvd"),
            Flag(R("ROOTSTA", "Multiple ERR_FATAL/NONFATAL Received"), "MultUERcvd"), kBr,
            Flag(R("ROOTSTA", "First Uncorrectable Fatal"), "FirstFatal"),
            Flag(R("ROOTSTA", "Non-Fatal Error Messages Received"), "NonFatalMsg"),
            Flag(R("ROOTSTA", "Fatal Error Messages Received"), "FatalMsg"),
            Val(R("ROOTSTA", "Advanced Error Interrupt Message Number"), F::kDecimal, "IntMsg %s")}},
          {"ErrorSrc:",
           W::kRoot,
           {Val(R("ERRSRC", "ERR_COR Source Identification"), F::kHex, "ERR_COR: %s"),
            Val(R("ERRSRC", "ERR_FATAL/NONFATAL Source Identification"), F::kHex, "ERR_FATAL/NONFATAL: %s")}}}});
    for (CapDecoder& decoder : d)
        ResolveFields(decoder);
    return d;
}

} // namespace

const std::vector<CapDecoder>& CapDecoders()
{
    static const std::vector<CapDecoder> decoders = Build();
    return decoders;
}

} // namespace qorbcli
