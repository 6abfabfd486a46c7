/* The register model of the extended capabilities: AER (PCI Express Base
 * Specification, section 7.8.4), Virtual Channel (7.9.1), Device Serial
 * Number (7.9.3), Power Budgeting (7.8.1), ACS (7.7.8), ARI (7.8.7), LTR
 * (7.8.2), L1 PM Substates (7.8.3), Secondary PCI Express (7.7.3), DPC
 * (7.9.14), PTM (7.9.15) and Resizable BAR (7.8.6). */
#ifndef QORB_COMMON_REG_TABLES_EXT_H
#define QORB_COMMON_REG_TABLES_EXT_H

#include "reg_types.h"

namespace qorb_regs {
namespace tables {
using namespace shorthand;

inline constexpr Field kExtHeader[] = {
    {0, 15, RO, "PCI Express Extended Capability ID"},
    {16, 19, RO, "Capability Version"},
    {20, 31, RO, "Next Capability Offset"},
};

/* -------------------------------------------------------------------- AER */
/* The Uncorrectable Error Status, Mask and Severity registers share their
 * layout; the attribute of each comes from the register. */
#define QORB_UNCORRECTABLE_FIELDS(A, F)                                                                                \
    {0, 0, A, "Undefined (Training Error in 1.0a)", kAll, F}, {4, 4, A, "Data Link Protocol Error", kAll, F},          \
        {5, 5, A, "Surprise Down Error", kAll, F}, {12, 12, A, "Poisoned TLP Received", kAll, F},                      \
        {13, 13, A, "Flow Control Protocol Error", kAll, F}, {14, 14, A, "Completion Timeout", kAll, F},               \
        {15, 15, A, "Completer Abort", kAll, F}, {16, 16, A, "Unexpected Completion", kAll, F},                        \
        {17, 17, A, "Receiver Overflow", kAll, F}, {18, 18, A, "Malformed TLP", kAll, F},                              \
        {19, 19, A, "ECRC Error", kAll, F}, {20, 20, A, "Unsupported Request Error", kAll, F},                         \
        {21, 21, A, "ACS Violation", kAll, F}, {22, 22, A, "Uncorrectable Internal Error", kAll, F},                   \
        {23, 23, A, "MC Blocked TLP", kAll, F}, {24, 24, A, "AtomicOp Egress Blocked", kAll, F},                       \
        {25, 25, A, "TLP Prefix Blocked Error", kAll, F}, {26, 26, A, "Poisoned TLP Egress Blocked", kAll, F},         \
        {27, 27, A, "DMWr Request Egress Blocked", kAll, F}, {28, 28, A, "IDE Check Failed", kAll, F},                 \
        {29, 29, A, "Misrouted IDE TLP", kAll, F}, {30, 30, A, "PCRC Check Failed", kAll, F},                          \
    {                                                                                                                  \
        31, 31, A, "TLP Translation Egress Blocked", kAll, F                                                           \
    }
#define QORB_CORRECTABLE_FIELDS(A, F)                                                                                  \
    {0, 0, A, "Receiver Error", kAll, F}, {6, 6, A, "Bad TLP", kAll, F}, {7, 7, A, "Bad DLLP", kAll, F},               \
        {8, 8, A, "REPLAY_NUM Rollover", kAll, F}, {12, 12, A, "Replay Timer Timeout", kAll, F},                       \
        {13, 13, A, "Advisory Non-Fatal Error", kAll, F}, {14, 14, A, "Corrected Internal Error", kAll, F},            \
    {                                                                                                                  \
        15, 15, A, "Header Log Overflow", kAll, F                                                                      \
    }
inline constexpr Field kUncStatus[] = {QORB_UNCORRECTABLE_FIELDS(RW1CS, 0)};
inline constexpr Field kUncMask[] = {QORB_UNCORRECTABLE_FIELDS(RWS, OPT)};
inline constexpr Field kCorStatus[] = {QORB_CORRECTABLE_FIELDS(RW1CS, 0)};
inline constexpr Field kCorMask[] = {QORB_CORRECTABLE_FIELDS(RWS, OPT)};
#undef QORB_UNCORRECTABLE_FIELDS
#undef QORB_CORRECTABLE_FIELDS
inline constexpr Field kAerCap[] = {
    {0, 4, ROS, "First Error Pointer", kAll, VOL},
    {5, 5, RO, "ECRC Generation Capable"},
    {6, 6, RWS, "ECRC Generation Enable", kAll, OPT},
    {7, 7, RO, "ECRC Check Capable"},
    {8, 8, RWS, "ECRC Check Enable", kAll, OPT},
    {9, 9, RO, "Multiple Header Recording Capable"},
    {10, 10, RWS, "Multiple Header Recording Enable", kAll, OPT},
    {11, 11, RO, "TLP Prefix Log Present"},
    {12, 12, RO, "Completion Timeout Prefix/Header Log Capable"},
    {13, 17, RO, "Header Log Size"},
    {18, 18, RO, "Logged TLP was Flit Mode", kAll, VOL},
    {19, 23, RO, "Logged TLP Size", kAll, VOL},
};
inline constexpr Field kHeaderLog[] = {{0, 31, ROS, "Header Log", kAll, VOL}};
inline constexpr Field kRootErrCmd[] = {{0, 0, RW, "Correctable Error Reporting Enable", kAll, SE},
                                        {1, 1, RW, "Non-Fatal Error Reporting Enable", kAll, SE},
                                        {2, 2, RW, "Fatal Error Reporting Enable", kAll, SE}};
inline constexpr Field kRootErrSta[] = {
    {0, 0, RW1CS, "ERR_COR Received"},
    {1, 1, RW1CS, "Multiple ERR_COR Received"},
    {2, 2, RW1CS, "ERR_FATAL/NONFATAL Received"},
    {3, 3, RW1CS, "Multiple ERR_FATAL/NONFATAL Received"},
    {4, 4, RW1CS, "First Uncorrectable Fatal"},
    {5, 5, RW1CS, "Non-Fatal Error Messages Received"},
    {6, 6, RW1CS, "Fatal Error Messages Received"},
    {7, 8, ROS, "ERR_COR Subclass", kAll, VOL},
    {27, 31, RO, "Advanced Error Interrupt Message Number"},
};
inline constexpr Field kErrSource[] = {{0, 15, ROS, "ERR_COR Source Identification", kAll, VOL},
                                       {16, 31, ROS, "ERR_FATAL/NONFATAL Source Identification", kAll, VOL}};
inline constexpr Register kAerRegs[] = {
    Reg(0x00, 4, "HDR", "Extended capability header", kExtHeader),
    Reg(0x04, 4, "UNCSTA", "Uncorrectable Error Status", kUncStatus, kAll, Cond::kAlways, RSZ),
    Reg(0x08, 4, "UNCMASK", "Uncorrectable Error Mask", kUncMask),
    Reg(0x0C, 4, "UNCSEV", "Uncorrectable Error Severity", kUncMask),
    Reg(0x10, 4, "CORSTA", "Correctable Error Status", kCorStatus, kAll, Cond::kAlways, RSZ),
    Reg(0x14, 4, "CORMASK", "Correctable Error Mask", kCorMask),
    Reg(0x18, 4, "CAP", "Advanced Error Capabilities and Control", kAerCap),
    Reg(0x1C, 4, "HDRLOG0", "Header Log (first dword)", kHeaderLog),
    Reg(0x20, 4, "HDRLOG1", "Header Log (second dword)", kHeaderLog),
    Reg(0x24, 4, "HDRLOG2", "Header Log (third dword)", kHeaderLog),
    Reg(0x28, 4, "HDRLOG3", "Header Log (fourth dword)", kHeaderLog),
    Reg(0x2C, 4, "ROOTCMD", "Root Error Command", kRootErrCmd, kRoot),
    Reg(0x30, 4, "ROOTSTA", "Root Error Status", kRootErrSta, kRoot, Cond::kAlways, RSZ),
    Reg(0x34, 4, "ERRSRC", "Error Source Identification", kErrSource, kRoot),
};

/* --------------------------------------------------------- Virtual Channel */
inline constexpr Field kVcCap1[] = {{0, 2, RO, "Extended VC Count"},
                                    {4, 6, RO, "Low Priority Extended VC Count"},
                                    {8, 9, RO, "Reference Clock"},
                                    {10, 11, RO, "Port Arbitration Table Entry Size"}};
inline constexpr Field kVcCap2[] = {{0, 7, RO, "VC Arbitration Capability"},
                                    {24, 31, RO, "VC Arbitration Table Offset"}};
inline constexpr Field kVcCtl[] = {{0, 0, RW, "Load VC Arbitration Table", kAll, SE | OPT},
                                   {1, 3, RW, "VC Arbitration Select", kAll, SE | OPT}};
inline constexpr Field kVcSta[] = {{0, 0, RO, "VC Arbitration Table Status", kAll, VOL}};
inline constexpr Field kVcResCap[] = {{0, 7, RO, "Port Arbitration Capability"},
                                      {14, 14, RO, "Undefined (Advanced Packet Switching)"},
                                      {15, 15, HWI, "Reject Snoop Transactions"},
                                      {16, 22, HWI, "Maximum Time Slots"},
                                      {24, 31, RO, "Port Arbitration Table Offset"}};
inline constexpr Field kVcResCtl[] = {{0, 0, RO, "TC/VC Map (TC0)"},
                                      {1, 7, RW, "TC/VC Map", kAll, SE},
                                      {16, 16, RW, "Load Port Arbitration Table", kAll, SE | OPT},
                                      {17, 19, RW, "Port Arbitration Select", kAll, SE | OPT},
                                      {24, 26, RO, "VC ID"},
                                      {31, 31, RO, "VC Enable"}};
inline constexpr Field kVcResSta[] = {{0, 0, RO, "Port Arbitration Table Status", kAll, VOL},
                                      {1, 1, RO, "VC Negotiation Pending", kAll, VOL}};
inline constexpr Register kVcRegs[] = {
    Reg(0x00, 4, "HDR", "Extended capability header", kExtHeader),
    Reg(0x04, 4, "CAP1", "Port VC Capability 1", kVcCap1),
    Reg(0x08, 4, "CAP2", "Port VC Capability 2", kVcCap2),
    Reg(0x0C, 2, "CTL", "Port VC Control", kVcCtl),
    Reg(0x0E, 2, "STA", "Port VC Status", kVcSta, kAll, Cond::kAlways, RSZ),
    Reg(0x10, 4, "RESCAP0", "VC Resource Capability (0)", kVcResCap),
    Reg(0x14, 4, "RESCTL0", "VC Resource Control (0)", kVcResCtl),
    Reg(0x1A, 2, "RESSTA0", "VC Resource Status (0)", kVcResSta, kAll, Cond::kAlways, RSZ),
};

/* ------------------------------------------- Serial Number, Power Budgeting */
inline constexpr Field kSerial[] = {{0, 31, RO, "Serial Number"}};
inline constexpr Register kDsnRegs[] = {
    Reg(0x00, 4, "HDR", "Extended capability header", kExtHeader),
    Reg(0x04, 4, "SNLO", "Serial Number (lower dword)", kSerial),
    Reg(0x08, 4, "SNHI", "Serial Number (upper dword)", kSerial),
};
inline constexpr Field kPbSelect[] = {{0, 7, RW, "Data Select"}};
inline constexpr Field kPbData[] = {{0, 7, RO, "Base Power", kAll, VOL},     {8, 9, RO, "Data Scale", kAll, VOL},
                                    {10, 12, RO, "PM Sub State", kAll, VOL}, {13, 14, RO, "PM State", kAll, VOL},
                                    {15, 17, RO, "Type", kAll, VOL},         {18, 20, RO, "Power Rail", kAll, VOL}};
inline constexpr Field kPbCap[] = {{0, 0, HWI, "System Allocated"}};
inline constexpr Register kPbRegs[] = {
    Reg(0x00, 4, "HDR", "Extended capability header", kExtHeader),
    Reg(0x04, 4, "SELECT", "Data Select", kPbSelect),
    Reg(0x08, 4, "DATA", "Data", kPbData),
    Reg(0x0C, 4, "CAP", "Power Budget Capability", kPbCap),
};

/* -------------------------------------------------------------------- ACS */
inline constexpr Field kAcsCapCtl[] = {
    {0, 0, RO, "ACS Source Validation"},
    {1, 1, RO, "ACS Translation Blocking"},
    {2, 2, RO, "ACS P2P Request Redirect"},
    {3, 3, RO, "ACS P2P Completion Redirect"},
    {4, 4, RO, "ACS Upstream Forwarding"},
    {5, 5, RO, "ACS P2P Egress Control"},
    {6, 6, RO, "ACS Direct Translated P2P"},
    {7, 7, RO, "ACS Enhanced Capability"},
    {8, 15, HWI, "Egress Control Vector Size"},
    {16, 16, RW, "ACS Source Validation Enable", kAll, OPT},
    {17, 17, RW, "ACS Translation Blocking Enable", kAll, OPT},
    {18, 18, RW, "ACS P2P Request Redirect Enable", kAll, SE | OPT},
    {19, 19, RW, "ACS P2P Completion Redirect Enable", kAll, SE | OPT},
    {20, 20, RW, "ACS Upstream Forwarding Enable", kAll, SE | OPT},
    {21, 21, RW, "ACS P2P Egress Control Enable", kAll, SE | OPT},
    {22, 22, RW, "ACS Direct Translated P2P Enable", kAll, SE | OPT},
    {23, 23, RW, "ACS I/O Request Blocking Enable", kAll, SE | OPT},
    {24, 25, RW, "ACS DSP Memory Target Access Control", kAll, SE | OPT},
    {26, 27, RW, "ACS USP Memory Target Access Control", kAll, SE | OPT},
    {28, 28, RW, "ACS Unclaimed Request Redirect Control", kAll, SE | OPT},
};
inline constexpr Register kAcsRegs[] = {
    Reg(0x00, 4, "HDR", "Extended capability header", kExtHeader),
    Reg(0x04, 4, "CAPCTL", "ACS Capability and Control", kAcsCapCtl),
};

/* -------------------------------------------------------------------- ARI */
inline constexpr Field kAriCapCtl[] = {
    {0, 0, RO, "MFVC Function Groups Capability"},
    {1, 1, RO, "ACS Function Groups Capability"},
    {8, 15, RO, "Next Function Number"},
    {16, 16, RW, "MFVC Function Groups Enable", kAll, OPT},
    {17, 17, RW, "ACS Function Groups Enable", kAll, OPT},
    {20, 22, RW, "Function Group", kAll, OPT},
};
inline constexpr Register kAriRegs[] = {
    Reg(0x00, 4, "HDR", "Extended capability header", kExtHeader),
    Reg(0x04, 4, "CAPCTL", "ARI Capability and Control", kAriCapCtl),
};

/* -------------------------------------------------------------------- LTR */
inline constexpr Field kLtrLatency[] = {{0, 9, RW, "Max Snoop LatencyValue"},
                                        {10, 12, RW, "Max Snoop LatencyScale"},
                                        {16, 25, RW, "Max No-Snoop LatencyValue"},
                                        {26, 28, RW, "Max No-Snoop LatencyScale"}};
inline constexpr Register kLtrRegs[] = {
    Reg(0x00, 4, "HDR", "Extended capability header", kExtHeader),
    Reg(0x04, 4, "LAT", "Max Snoop/No-Snoop Latency", kLtrLatency),
};

/* -------------------------------------------------------- L1 PM Substates */
inline constexpr Field kL1ssCap[] = {
    {0, 0, HWI, "PCI-PM L1.2 Supported"},
    {1, 1, HWI, "PCI-PM L1.1 Supported"},
    {2, 2, HWI, "ASPM L1.2 Supported"},
    {3, 3, HWI, "ASPM L1.1 Supported"},
    {4, 4, HWI, "L1 PM Substates Supported"},
    {5, 5, HWI, "Link Activation Supported"},
    {8, 15, HWI, "Port Common_Mode_Restore_Time"},
    {16, 17, HWI, "Port T_POWER_ON Scale"},
    {19, 23, HWI, "Port T_POWER_ON Value"},
};
/* The enables change the link's power states: not probed. */
inline constexpr Field kL1ssCtl1[] = {
    {0, 0, RW, "PCI-PM L1.2 Enable", kAll, SE | OPT},
    {1, 1, RW, "PCI-PM L1.1 Enable", kAll, SE | OPT},
    {2, 2, RW, "ASPM L1.2 Enable", kAll, SE | OPT},
    {3, 3, RW, "ASPM L1.1 Enable", kAll, SE | OPT},
    {4, 4, RW, "Link Activation Interrupt Enable", kAll, SE | OPT},
    {5, 5, RW, "Link Activation Control", kAll, SE | OPT},
    {8, 15, RW, "Common_Mode_Restore_Time", kAll, SE | OPT},
    {16, 25, RW, "LTR_L1.2_THRESHOLD_Value", kAll, SE | OPT},
    {29, 31, RW, "LTR_L1.2_THRESHOLD_Scale", kAll, SE | OPT},
};
inline constexpr Field kL1ssCtl2[] = {{0, 1, RW, "T_POWER_ON Scale", kAll, SE | OPT},
                                      {3, 7, RW, "T_POWER_ON Value", kAll, SE | OPT}};
inline constexpr Register kL1ssRegs[] = {
    Reg(0x00, 4, "HDR", "Extended capability header", kExtHeader),
    Reg(0x04, 4, "CAP", "L1 PM Substates Capabilities", kL1ssCap),
    Reg(0x08, 4, "CTL1", "L1 PM Substates Control 1", kL1ssCtl1),
    Reg(0x0C, 4, "CTL2", "L1 PM Substates Control 2", kL1ssCtl2),
};

/* ---------------------------------------------------- Secondary PCI Express */
inline constexpr Field kLnkCtl3[] = {
    {0, 0, RW, "Perform Equalization", kAll, SE},
    {1, 1, RW, "Link Equalization Request Interrupt Enable", kAll, SE | OPT},
    {9, 15, RW, "Enable Lower SKP OS Generation Vector", kAll, SE | OPT},
};
inline constexpr Field kLaneErr[] = {{0, 31, RW1CS, "Lane Error Status", kAll, OPT}};
inline constexpr Field kLaneEq[] = {{0, 3, HWI, "Downstream Port 8.0 GT/s Transmitter Preset"},
                                    {4, 6, HWI, "Downstream Port 8.0 GT/s Receiver Preset Hint"},
                                    {8, 11, HWI, "Upstream Port 8.0 GT/s Transmitter Preset"},
                                    {12, 14, HWI, "Upstream Port 8.0 GT/s Receiver Preset Hint"}};
inline constexpr Register kSecPcieRegs[] = {
    Reg(0x00, 4, "HDR", "Extended capability header", kExtHeader),
    Reg(0x04, 4, "LNKCTL3", "Link Control 3", kLnkCtl3),
    Reg(0x08, 4, "LANEERR", "Lane Error Status", kLaneErr, kAll, Cond::kAlways, RSZ),
    Reg(0x0C, 2, "LANEEQ", "Lane Equalization Control", kLaneEq, kAll, Cond::kLanes, RSP, false, 2),
};

/* -------------------------------------------------------------------- DPC */
inline constexpr Field kDpcCapCtl[] = {
    {0, 4, RO, "DPC Interrupt Message Number"},
    {5, 5, RO, "RP Extensions for DPC"},
    {6, 6, RO, "Poisoned TLP Egress Blocking Supported"},
    {7, 7, RO, "DPC Software Triggering Supported"},
    {8, 11, RO, "RP PIO Log Size"},
    {12, 12, RO, "DL_Active ERR_COR Signaling Supported"},
    {13, 13, RO, "RP PIO Log Size (bit 4)"},
    {16, 17, RW, "DPC Trigger Enable", kAll, SE},
    {18, 18, RW, "DPC Completion Control", kAll, SE},
    {19, 19, RW, "DPC Interrupt Enable", kAll, SE},
    {20, 20, RW, "DPC ERR_COR Enable", kAll, SE},
    {21, 21, RW, "Poisoned TLP Egress Blocking Enable", kAll, SE | OPT},
    {22, 22, RW, "DPC Software Trigger", kAll, SE},
    {23, 23, RW, "DL_Active ERR_COR Enable", kAll, SE | OPT},
    {24, 24, RW, "DPC SIG_SFW Enable", kAll, SE | OPT},
};
inline constexpr Field kDpcStatus[] = {
    {0, 0, RW1CS, "DPC Trigger Status", kAll, SE},          {1, 2, ROS, "DPC Trigger Reason", kAll, VOL},
    {3, 3, RW1CS, "DPC Interrupt Status", kAll, SE},        {4, 4, RO, "DPC RP Busy", kAll, VOL},
    {5, 6, ROS, "DPC Trigger Reason Extension", kAll, VOL}, {8, 12, ROS, "RP PIO First Error Pointer", kAll, VOL},
    {13, 13, RW1CS, "DPC SIG_SFW Status", kAll, SE},        {16, 31, ROS, "DPC Error Source ID", kAll, VOL},
};
inline constexpr Register kDpcRegs[] = {
    Reg(0x00, 4, "HDR", "Extended capability header", kExtHeader),
    Reg(0x04, 4, "CAPCTL", "DPC Capability and Control", kDpcCapCtl),
    Reg(0x08, 4, "STA", "DPC Status and Error Source ID", kDpcStatus, kAll, Cond::kAlways, RSZ),
};

/* -------------------------------------------------------------------- PTM */
inline constexpr Field kPtmCap[] = {{0, 0, RO, "PTM Requester Capable"},
                                    {1, 1, RO, "PTM Responder Capable"},
                                    {2, 2, RO, "PTM Root Capable"},
                                    {3, 3, RO, "ePTM Capable"},
                                    {4, 4, RO, "PTM Propagation Delay Adaptation Capable"},
                                    {8, 15, RO, "Local Clock Granularity"}};
inline constexpr Field kPtmCtl[] = {{0, 0, RW, "PTM Enable", kAll, SE | OPT},
                                    {1, 1, RW, "Root Select", kAll, SE | OPT},
                                    {8, 15, RW, "Effective Granularity", kAll, SE | OPT}};
inline constexpr Register kPtmRegs[] = {
    Reg(0x00, 4, "HDR", "Extended capability header", kExtHeader),
    Reg(0x04, 4, "CAP", "PTM Capability", kPtmCap),
    Reg(0x08, 4, "CTL", "PTM Control", kPtmCtl),
};

/* ----------------------------------------------------------- Resizable BAR */
inline constexpr Field kRebarCap[] = {{4, 31, RO, "Supported BAR Sizes"}};
inline constexpr Field kRebarCtl[] = {{0, 2, RO, "BAR Index"},
                                      {5, 7, RO, "Number of Resizable BARs"},
                                      {8, 13, RW, "BAR Size", kAll, SE},
                                      {16, 31, RO, "Supported BAR Sizes (upper)"}};
inline constexpr Register kRebarRegs[] = {
    Reg(0x00, 4, "HDR", "Extended capability header", kExtHeader),
    Reg(0x04, 4, "CAP", "Resizable BAR Capability", kRebarCap, kAll, Cond::kRebar, RSP, false, 8),
    Reg(0x08, 4, "CTL", "Resizable BAR Control", kRebarCtl, kAll, Cond::kRebar, RSP, false, 8),
};

} // namespace tables
} // namespace qorb_regs

#endif
