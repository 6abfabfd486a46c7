/* The register model of the configuration headers and the legacy
 * capabilities: type 0 and type 1 headers (PCI Express Base Specification,
 * sections 7.5.1.1 to 7.5.1.3), Power Management (7.5.2), MSI (7.7.1),
 * MSI-X (7.7.2) and PCI Express (7.5.3). Bits no field covers are
 * reserved; a field whose port types exclude a function is reserved there. */
#ifndef QORB_COMMON_REG_TABLES_PCI_H
#define QORB_COMMON_REG_TABLES_PCI_H

#include "reg_types.h"

namespace qorb_regs {
namespace tables {
using namespace shorthand;

/* ---------------------------------------------------------------- headers */
inline constexpr Field kIds[] = {{0, 15, RO, "Vendor ID"}, {16, 31, RO, "Device ID"}};
inline constexpr Field kCommand[] = {
    {0, 0, RW, "I/O Space Enable", kAll, SE | OPT},
    {1, 1, RW, "Memory Space Enable", kAll, SE | OPT},
    {2, 2, RW, "Bus Master Enable", kAll, SE},
    {3, 3, RO, "Special Cycle Enable"},
    {4, 4, RO, "Memory Write and Invalidate", kPcie},
    {4, 4, RW, "Memory Write and Invalidate", kConv, OPT},
    {5, 5, RO, "VGA Palette Snoop", kPcie},
    {5, 5, RW, "VGA Palette Snoop", kConv, OPT},
    {6, 6, RW, "Parity Error Response", kAll, OPT},
    {7, 7, RO, "IDSEL Stepping/Wait Cycle Control"},
    {8, 8, RW, "SERR# Enable", kAll, OPT},
    {9, 9, RO, "Fast Back-to-Back Transactions Enable", kPcie},
    {9, 9, RW, "Fast Back-to-Back Transactions Enable", kConv, OPT},
    {10, 10, RW, "Interrupt Disable", kAll, SE | OPT},
};
inline constexpr Field kStatus[] = {
    {0, 0, RO, "Immediate Readiness"},
    {3, 3, RO, "Interrupt Status", kAll, VOL},
    {4, 4, RO, "Capabilities List"},
    {5, 5, RO, "66 MHz Capable"},
    {7, 7, RO, "Fast Back-to-Back Transactions Capable"},
    {8, 8, RW1C, "Master Data Parity Error"},
    {9, 10, RO, "DEVSEL Timing"},
    {11, 11, RW1C, "Signaled Target Abort"},
    {12, 12, RW1C, "Received Target Abort"},
    {13, 13, RW1C, "Received Master Abort"},
    {14, 14, RW1C, "Signaled System Error"},
    {15, 15, RW1C, "Detected Parity Error"},
};
inline constexpr Field kClass[] = {{0, 7, RO, "Revision ID"}, {8, 31, RO, "Class Code"}};
inline constexpr Field kMisc[] = {
    {0, 7, RW, "Cache Line Size", kAll, OPT},   {8, 15, RO, "Latency Timer", kPcie},
    {8, 15, RW, "Latency Timer", kConv, OPT},   {16, 22, RO, "Header Layout"},
    {23, 23, RO, "Multi-Function Device"},      {24, 27, RO, "BIST Completion Code", kAll, VOL},
    {30, 30, RW, "Start BIST", kAll, SE | OPT}, {31, 31, RO, "BIST Capable"},
};
/* A BAR's size is known only by writing it: the address bits are side
 * effects, the type bits read-only. */
inline constexpr Field kBar[] = {{0, 3, RO, "Type and Prefetchable"}, {4, 31, RW, "Base Address", kAll, SE | OPT}};
inline constexpr Field kWhole32Ro[] = {{0, 31, RO, "Value"}};
inline constexpr Field kSubsystem[] = {{0, 15, HWI, "Subsystem Vendor ID"}, {16, 31, HWI, "Subsystem ID"}};
inline constexpr Field kRom[] = {{0, 0, RW, "Expansion ROM Enable", kAll, SE | OPT},
                                 {11, 31, RW, "Expansion ROM Base Address", kAll, SE | OPT}};
inline constexpr Field kCapPtr[] = {{0, 7, RO, "Capabilities Pointer"}};
inline constexpr Field kNone[] = {{0, 0, RSP, "Reserved"}};
inline constexpr Field kInterrupt0[] = {
    {0, 7, RW, "Interrupt Line"}, {8, 15, RO, "Interrupt Pin"}, {16, 23, RO, "Min_Gnt"}, {24, 31, RO, "Max_Lat"}};
inline constexpr Field kBuses[] = {{0, 7, RW, "Primary Bus Number", kAll, SE},
                                   {8, 15, RW, "Secondary Bus Number", kAll, SE},
                                   {16, 23, RW, "Subordinate Bus Number", kAll, SE},
                                   {24, 31, RO, "Secondary Latency Timer", kPcie},
                                   {24, 31, RW, "Secondary Latency Timer", kConv, OPT}};
inline constexpr Field kIoSecStatus[] = {
    {0, 3, RO, "I/O Addressing Capability"},
    {4, 7, RW, "I/O Base", kAll, SE | OPT},
    {8, 11, RO, "I/O Addressing Capability (limit)"},
    {12, 15, RW, "I/O Limit", kAll, SE | OPT},
    {21, 21, RO, "66 MHz Capable"},
    {23, 23, RO, "Fast Back-to-Back Transactions Capable"},
    {24, 24, RW1C, "Master Data Parity Error"},
    {25, 26, RO, "DEVSEL Timing"},
    {27, 27, RW1C, "Signaled Target Abort"},
    {28, 28, RW1C, "Received Target Abort"},
    {29, 29, RW1C, "Received Master Abort"},
    {30, 30, RW1C, "Received System Error"},
    {31, 31, RW1C, "Detected Parity Error"},
};
inline constexpr Field kMemory[] = {{4, 15, RW, "Memory Base", kAll, SE}, {20, 31, RW, "Memory Limit", kAll, SE}};
inline constexpr Field kPrefetch[] = {{0, 3, RO, "Prefetchable Addressing Capability"},
                                      {4, 15, RW, "Prefetchable Memory Base", kAll, SE | OPT},
                                      {16, 19, RO, "Prefetchable Addressing Capability (limit)"},
                                      {20, 31, RW, "Prefetchable Memory Limit", kAll, SE | OPT}};
inline constexpr Field kUpper32[] = {{0, 31, RW, "Upper 32 Bits", kAll, SE | OPT}};
inline constexpr Field kIoUpper[] = {{0, 15, RW, "I/O Base Upper 16 Bits", kAll, SE | OPT},
                                     {16, 31, RW, "I/O Limit Upper 16 Bits", kAll, SE | OPT}};
inline constexpr Field kInterrupt1[] = {
    {0, 7, RW, "Interrupt Line"},
    {8, 15, RO, "Interrupt Pin"},
    {16, 16, RW, "Parity Error Response Enable", kAll, OPT},
    {17, 17, RW, "SERR# Enable", kAll, OPT},
    {18, 18, RW, "ISA Enable", kAll, SE | OPT},
    {19, 19, RW, "VGA Enable", kAll, SE | OPT},
    {20, 20, RW, "VGA 16-bit Decode", kAll, SE | OPT},
    {21, 21, RO, "Master Abort Mode", kPcie},
    {21, 21, RW, "Master Abort Mode", kConv, OPT},
    {22, 22, RW, "Secondary Bus Reset", kAll, SE},
    {23, 23, RO, "Fast Back-to-Back Transactions Enable", kPcie},
    {23, 23, RW, "Fast Back-to-Back Transactions Enable", kConv | kPciBr, OPT},
    {24, 27, RO, "Discard Timers", kPcie & ~kPciBr},
    {24, 27, RW, "Discard Timers", kConv | kPciBr, OPT},
};

inline constexpr Register kHeader0Regs[] = {
    Reg(0x00, 4, "ID", "Vendor and Device ID", kIds),
    Reg(0x04, 2, "COMMAND", "Command", kCommand),
    Reg(0x06, 2, "STATUS", "Status", kStatus, kAll, Cond::kAlways, RSZ),
    Reg(0x08, 4, "CLASS", "Revision ID and Class Code", kClass),
    Reg(0x0C, 4, "MISC", "Cache Line Size, Latency Timer, Header Type, BIST", kMisc),
    Reg(0x10, 4, "BAR0", "Base Address Register 0", kBar),
    Reg(0x14, 4, "BAR1", "Base Address Register 1", kBar),
    Reg(0x18, 4, "BAR2", "Base Address Register 2", kBar),
    Reg(0x1C, 4, "BAR3", "Base Address Register 3", kBar),
    Reg(0x20, 4, "BAR4", "Base Address Register 4", kBar),
    Reg(0x24, 4, "BAR5", "Base Address Register 5", kBar),
    Reg(0x28, 4, "CIS", "Cardbus CIS Pointer", kWhole32Ro),
    Reg(0x2C, 4, "SUBSYS", "Subsystem Vendor ID and Subsystem ID", kSubsystem),
    Reg(0x30, 4, "ROM", "Expansion ROM Base Address", kRom),
    Reg(0x34, 4, "CAPPTR", "Capabilities Pointer", kCapPtr),
    Reg(0x38, 4, "RSVD38", "Reserved", kNone),
    Reg(0x3C, 4, "INTR", "Interrupt Line, Interrupt Pin, Min_Gnt, Max_Lat", kInterrupt0),
};
inline constexpr Register kHeader1Regs[] = {
    Reg(0x00, 4, "ID", "Vendor and Device ID", kIds),
    Reg(0x04, 2, "COMMAND", "Command", kCommand),
    Reg(0x06, 2, "STATUS", "Status", kStatus, kAll, Cond::kAlways, RSZ),
    Reg(0x08, 4, "CLASS", "Revision ID and Class Code", kClass),
    Reg(0x0C, 4, "MISC", "Cache Line Size, Latency Timer, Header Type, BIST", kMisc),
    Reg(0x10, 4, "BAR0", "Base Address Register 0", kBar),
    Reg(0x14, 4, "BAR1", "Base Address Register 1", kBar),
    Reg(0x18, 4, "BUSES", "Primary, Secondary, Subordinate Bus Number", kBuses),
    Reg(0x1C, 4, "IOSEC", "I/O Base and Limit, Secondary Status", kIoSecStatus, kAll, Cond::kAlways, RSZ),
    Reg(0x20, 4, "MEM", "Memory Base and Limit", kMemory),
    Reg(0x24, 4, "PREF", "Prefetchable Memory Base and Limit", kPrefetch),
    Reg(0x28, 4, "PREFBASEU", "Prefetchable Base Upper 32 Bits", kUpper32),
    Reg(0x2C, 4, "PREFLIMU", "Prefetchable Limit Upper 32 Bits", kUpper32),
    Reg(0x30, 4, "IOU", "I/O Base and Limit Upper 16 Bits", kIoUpper),
    Reg(0x34, 4, "CAPPTR", "Capabilities Pointer", kCapPtr),
    Reg(0x38, 4, "ROM", "Expansion ROM Base Address", kRom),
    Reg(0x3C, 4, "INTR", "Interrupt Line, Interrupt Pin, Bridge Control", kInterrupt1),
};

/* ------------------------------------------------------ legacy capabilities */
inline constexpr Field kLegacyHeader[] = {{0, 7, RO, "Capability ID"}, {8, 15, RO, "Next Capability Pointer"}};

inline constexpr Field kPmc[] = {
    {0, 2, RO, "Version"},
    {3, 3, RO, "PME Clock"},
    {4, 4, RO, "Immediate Readiness on Return to D0"},
    {5, 5, RO, "Device Specific Initialization"},
    {6, 8, RO, "Aux_Current"},
    {9, 9, RO, "D1_Support"},
    {10, 10, RO, "D2_Support"},
    {11, 15, RO, "PME_Support"},
};
inline constexpr Field kPmcsr[] = {
    {0, 1, RW, "PowerState", kAll, SE},
    {3, 3, RO, "No_Soft_Reset"},
    {8, 8, RWS, "PME_En", kAll, OPT},
    {9, 12, RW, "Data_Select", kAll, OPT},
    {13, 14, RO, "Data_Scale", kAll, VOL},
    {15, 15, RW1CS, "PME_Status", kAll, SE},
    {22, 22, RO, "B2_B3# (obsolete)", kConv | kPciBr},
    {23, 23, RO, "Bus Power/Clock Control Enable (obsolete)", kConv | kPciBr},
    {24, 31, RO, "Data", kAll, VOL},
};
inline constexpr Register kPmRegs[] = {
    Reg(0x00, 2, "HDR", "Capability header", kLegacyHeader),
    Reg(0x02, 2, "PMC", "Power Management Capabilities", kPmc),
    Reg(0x04, 4, "PMCSR", "Power Management Control/Status", kPmcsr),
};

inline constexpr Field kMsiControl[] = {
    {0, 0, RW, "MSI Enable", kAll, SE},
    {1, 3, RO, "Multiple Message Capable"},
    {4, 6, RW, "Multiple Message Enable", kAll, SE | OPT},
    {7, 7, RO, "64 bit address capable"},
    {8, 8, RO, "Per-Vector Masking Capable"},
    {9, 9, RO, "Extended Message Data Capable"},
    {10, 10, RW, "Extended Message Data Enable", kAll, SE | OPT},
};
inline constexpr Field kMsiAddress[] = {{2, 31, RW, "Message Address", kAll, SE}};
inline constexpr Field kMsiUpper[] = {{0, 31, RW, "Message Upper Address", kAll, SE}};
inline constexpr Field kMsiData[] = {{0, 15, RW, "Message Data", kAll, SE},
                                     {16, 31, RW, "Extended Message Data", kAll, SE | OPT}};
inline constexpr Field kMsiMask[] = {{0, 31, RW, "Mask Bits", kAll, SE | OPT}};
inline constexpr Field kMsiPending[] = {{0, 31, RO, "Pending Bits", kAll, VOL}};
inline constexpr Register kMsiRegs[] = {
    Reg(0x00, 2, "HDR", "Capability header", kLegacyHeader),
    Reg(0x02, 2, "CTRL", "Message Control", kMsiControl),
    Reg(0x04, 4, "ADDR", "Message Address", kMsiAddress),
    Reg(0x08, 4, "DATA", "Message Data", kMsiData, kAll, Cond::kMsi32),
    Reg(0x0C, 4, "MASK", "Mask Bits", kMsiMask, kAll, Cond::kMsi32Mask),
    Reg(0x10, 4, "PENDING", "Pending Bits", kMsiPending, kAll, Cond::kMsi32Mask),
    Reg(0x08, 4, "ADDRU", "Message Upper Address", kMsiUpper, kAll, Cond::kMsi64),
    Reg(0x0C, 4, "DATA", "Message Data", kMsiData, kAll, Cond::kMsi64),
    Reg(0x10, 4, "MASK", "Mask Bits", kMsiMask, kAll, Cond::kMsi64Mask),
    Reg(0x14, 4, "PENDING", "Pending Bits", kMsiPending, kAll, Cond::kMsi64Mask),
};

inline constexpr Field kMsixControl[] = {
    {0, 10, RO, "Table Size"}, {14, 14, RW, "Function Mask", kAll, SE}, {15, 15, RW, "MSI-X Enable", kAll, SE}};
inline constexpr Field kMsixTable[] = {{0, 2, RO, "Table BIR"}, {3, 31, RO, "Table Offset"}};
inline constexpr Field kMsixPba[] = {{0, 2, RO, "PBA BIR"}, {3, 31, RO, "PBA Offset"}};
inline constexpr Register kMsixRegs[] = {
    Reg(0x00, 2, "HDR", "Capability header", kLegacyHeader),
    Reg(0x02, 2, "CTRL", "Message Control", kMsixControl),
    Reg(0x04, 4, "TABLE", "Table Offset/Table BIR", kMsixTable),
    Reg(0x08, 4, "PBA", "PBA Offset/PBA BIR", kMsixPba),
};

/* ------------------------------------------------------------ PCI Express */
inline constexpr Field kPcieFlags[] = {
    {0, 3, RO, "Capability Version"},
    {4, 7, RO, "Device/Port Type"},
    {8, 8, HWI, "Slot Implemented"},
    {9, 13, RO, "Interrupt Message Number"},
    {14, 14, RO, "TCS Routing Supported (obsolete)"},
    {15, 15, HWI, "Flit Mode Supported"},
};
inline constexpr Field kDevCap[] = {
    {0, 2, RO, "Max_Payload_Size Supported"},
    {3, 4, RO, "Phantom Functions Supported"},
    {5, 5, RO, "Extended Tag Field Supported"},
    {6, 8, RO, "Endpoint L0s Acceptable Latency", kEndpoints | kLegEp | kPciBr | kUp},
    {9, 11, RO, "Endpoint L1 Acceptable Latency", kEndpoints | kLegEp | kPciBr | kUp},
    {12, 14, RO, "Undefined (Attention Button/Indicator, Power Indicator Present in 1.0a)"},
    {15, 15, RO, "Role-Based Error Reporting"},
    {16, 16, RO, "ERR_COR Subclass Capable"},
    {17, 17, RO, "Rx_MPS_Fixed"},
    {18, 25, RO, "Captured Slot Power Limit Value", kUpstream},
    {26, 27, RO, "Captured Slot Power Limit Scale", kUpstream},
    {28, 28, RO, "Function Level Reset Capability", kEndpoints | kRcec | kPciBr},
    {29, 29, RO, "Mixed_MPS_Supported"},
};
inline constexpr Field kDevCtl[] = {
    {0, 0, RW, "Correctable Error Reporting Enable"},
    {1, 1, RW, "Non-Fatal Error Reporting Enable"},
    {2, 2, RW, "Fatal Error Reporting Enable"},
    {3, 3, RW, "Unsupported Request Reporting Enable"},
    {4, 4, RW, "Enable Relaxed Ordering", kAll, OPT},
    {5, 7, RW, "Max_Payload_Size", kAll, SE},
    {8, 8, RW, "Extended Tag Field Enable", kAll, SE | OPT},
    {9, 9, RW, "Phantom Functions Enable", kAll, SE | OPT},
    {10, 10, RWS, "Aux Power PM Enable", kAll, OPT},
    {11, 11, RW, "Enable No Snoop", kAll, OPT},
    {12, 14, RW, "Max_Read_Request_Size", kAll, SE},
    {15, 15, RW, "Bridge Configuration Retry Enable", kPciBr, OPT},
    {15, 15, RW, "Initiate Function Level Reset", kEndpoints | kRcec, SE | OPT},
};
inline constexpr Field kDevSta[] = {
    {0, 0, RW1C, "Correctable Error Detected"},
    {1, 1, RW1C, "Non-Fatal Error Detected"},
    {2, 2, RW1C, "Fatal Error Detected"},
    {3, 3, RW1C, "Unsupported Request Detected"},
    {4, 4, RO, "AUX Power Detected"},
    {5, 5, RO, "Transactions Pending", kAll, VOL},
    {6, 6, RW1C, "Emergency Power Reduction Detected", kAll, OPT},
};
inline constexpr Field kLnkCap[] = {
    {0, 3, RO, "Max Link Speed"},
    {4, 9, RO, "Maximum Link Width"},
    {10, 11, RO, "ASPM Support"},
    {12, 14, RO, "L0s Exit Latency"},
    {15, 17, RO, "L1 Exit Latency"},
    {18, 18, RO, "Clock Power Management", kUpstream},
    {19, 19, RO, "Surprise Down Error Reporting Capable", kDownstream | kPcieBr},
    {20, 20, RO, "Data Link Layer Link Active Reporting Capable", kDownstream | kPcieBr},
    {21, 21, RO, "Link Bandwidth Notification Capability", kDownstream | kPcieBr},
    {22, 22, RO, "ASPM Optionality Compliance"},
    {24, 31, HWI, "Port Number"},
};
inline constexpr Field kLnkCtl[] = {
    {0, 1, RW, "ASPM Control", kAll, SE | OPT},
    {2, 2, RW, "PTM Propagation Delay Adaptation Interpretation B", kAll, OPT},
    {3, 3, RO, "Read Completion Boundary", kRp},
    {3, 3, RW, "Read Completion Boundary", kEp | kLegEp | kPciBr | kPcieBr, SE | OPT},
    {4, 4, RW, "Link Disable", kDownstream | kPcieBr, SE},
    {5, 5, RW, "Retrain Link", kDownstream | kPcieBr, SE},
    {6, 6, RW, "Common Clock Configuration", kAll, SE},
    {7, 7, RW, "Extended Synch", kAll, SE},
    {8, 8, RW, "Enable Clock Power Management", kUpstream, SE | OPT},
    {9, 9, RW, "Hardware Autonomous Width Disable", kAll, SE | OPT},
    {10, 10, RW, "Link Bandwidth Management Interrupt Enable", kDownstream | kPcieBr, SE | OPT},
    {11, 11, RW, "Link Autonomous Bandwidth Interrupt Enable", kDownstream | kPcieBr, SE | OPT},
    {13, 13, RW, "Flit Mode Disable", kAll, SE | OPT},
    {14, 15, RW, "DRS Signaling Control", kDownstream, SE | OPT},
};
inline constexpr Field kLnkSta[] = {
    {0, 3, RO, "Current Link Speed", kAll, VOL},
    {4, 9, RO, "Negotiated Link Width", kAll, VOL},
    {10, 10, RO, "Undefined (Training Error in 1.0a)"},
    {11, 11, RO, "Link Training", kDownstream | kPcieBr, VOL},
    {12, 12, HWI, "Slot Clock Configuration"},
    {13, 13, RO, "Data Link Layer Link Active", kDownstream | kPcieBr, VOL},
    {14, 14, RW1C, "Link Bandwidth Management Status", kDownstream | kPcieBr},
    {15, 15, RW1C, "Link Autonomous Bandwidth Status", kDownstream | kPcieBr},
};
inline constexpr Field kSltCap[] = {
    {0, 0, HWI, "Attention Button Present"},
    {1, 1, HWI, "Power Controller Present"},
    {2, 2, HWI, "MRL Sensor Present"},
    {3, 3, HWI, "Attention Indicator Present"},
    {4, 4, HWI, "Power Indicator Present"},
    {5, 5, HWI, "Hot-Plug Surprise"},
    {6, 6, HWI, "Hot-Plug Capable"},
    {7, 14, HWI, "Slot Power Limit Value"},
    {15, 16, HWI, "Slot Power Limit Scale"},
    {17, 17, HWI, "Electromechanical Interlock Present"},
    {18, 18, HWI, "No Command Completed Support"},
    {19, 31, HWI, "Physical Slot Number"},
};
/* Slot Control drives the slot's power, indicators and hot-plug
 * interrupts: no field of it is probed. */
inline constexpr Field kSltCtl[] = {
    {0, 0, RW, "Attention Button Pressed Enable", kAll, SE | OPT},
    {1, 1, RW, "Power Fault Detected Enable", kAll, SE | OPT},
    {2, 2, RW, "MRL Sensor Changed Enable", kAll, SE | OPT},
    {3, 3, RW, "Presence Detect Changed Enable", kAll, SE | OPT},
    {4, 4, RW, "Command Completed Interrupt Enable", kAll, SE | OPT},
    {5, 5, RW, "Hot-Plug Interrupt Enable", kAll, SE | OPT},
    {6, 7, RW, "Attention Indicator Control", kAll, SE | OPT},
    {8, 9, RW, "Power Indicator Control", kAll, SE | OPT},
    {10, 10, RW, "Power Controller Control", kAll, SE | OPT},
    {11, 11, RW, "Electromechanical Interlock Control", kAll, SE | OPT},
    {12, 12, RW, "Data Link Layer State Changed Enable", kAll, SE | OPT},
    {13, 13, RW, "Auto Slot Power Limit Disable", kAll, SE | OPT},
    {14, 14, RW, "In-Band PD Disable", kAll, SE | OPT},
};
inline constexpr Field kSltSta[] = {
    {0, 0, RW1C, "Attention Button Pressed", kAll, SE},
    {1, 1, RW1C, "Power Fault Detected", kAll, SE},
    {2, 2, RW1C, "MRL Sensor Changed", kAll, SE},
    {3, 3, RW1C, "Presence Detect Changed", kAll, SE},
    {4, 4, RW1C, "Command Completed", kAll, SE},
    {5, 5, RO, "MRL Sensor State", kAll, VOL},
    {6, 6, RO, "Presence Detect State", kAll, VOL},
    {7, 7, RO, "Electromechanical Interlock Status", kAll, VOL},
    {8, 8, RW1C, "Data Link Layer State Changed", kAll, SE},
};
inline constexpr Field kRootCtl[] = {
    {0, 0, RW, "System Error on Correctable Error Enable", kAll, SE},
    {1, 1, RW, "System Error on Non-Fatal Error Enable", kAll, SE},
    {2, 2, RW, "System Error on Fatal Error Enable", kAll, SE},
    {3, 3, RW, "PME Interrupt Enable", kAll, SE},
    {4, 4, RW, "Configuration RRS Software Visibility Enable", kAll, SE | OPT},
    {5, 5, RW, "No NFM Subtree Below This Root Port", kRp, SE | OPT},
};
inline constexpr Field kRootCap[] = {{0, 0, RO, "Configuration RRS Software Visibility"}};
inline constexpr Field kRootSta[] = {
    {0, 15, RO, "PME Requester ID", kAll, VOL},
    {16, 16, RW1C, "PME Status", kAll, SE},
    {17, 17, RO, "PME Pending", kAll, VOL},
};
inline constexpr Field kDevCap2[] = {
    {0, 3, RO, "Completion Timeout Ranges Supported"},
    {4, 4, RO, "Completion Timeout Disable Supported"},
    {5, 5, RO, "ARI Forwarding Supported", kDownstream},
    {6, 6, RO, "AtomicOp Routing Supported", kRp | kUp | kDp},
    {7, 7, RO, "32-bit AtomicOp Completer Supported"},
    {8, 8, RO, "64-bit AtomicOp Completer Supported"},
    {9, 9, RO, "128-bit CAS Completer Supported"},
    {10, 10, RO, "No RO-enabled PR-PR Passing"},
    {11, 11, RO, "LTR Mechanism Supported"},
    {12, 13, RO, "TPH Completer Supported"},
    {14, 15, RO, "LN System CLS (obsolete)"},
    {16, 16, RO, "10-Bit Tag Completer Supported"},
    {17, 17, RO, "10-Bit Tag Requester Supported"},
    {18, 19, RO, "OBFF Supported"},
    {20, 20, RO, "Extended Fmt Field Supported"},
    {21, 21, RO, "End-End TLP Prefix Supported"},
    {22, 23, RO, "Max End-End TLP Prefixes"},
    {24, 25, RO, "Emergency Power Reduction Supported"},
    {26, 26, RO, "Emergency Power Reduction Initialization Required"},
    {27, 27, RO, "DMWr Completer Supported"},
    {28, 29, RO, "DMWr Lengths Supported"},
    {31, 31, RO, "FRS Supported"},
};
inline constexpr Field kDevCtl2[] = {
    {0, 3, RW, "Completion Timeout Value", kAll, OPT},
    {4, 4, RW, "Completion Timeout Disable", kAll, OPT},
    {5, 5, RW, "ARI Forwarding Enable", kDownstream, SE | OPT},
    {6, 6, RW, "AtomicOp Requester Enable", kAll, OPT},
    {7, 7, RW, "AtomicOp Egress Blocking", kAll, OPT},
    {8, 8, RW, "IDO Request Enable", kAll, OPT},
    {9, 9, RW, "IDO Completion Enable", kAll, OPT},
    {10, 10, RW, "LTR Mechanism Enable", kAll, OPT},
    {11, 11, RW, "Emergency Power Reduction Request", kAll, SE | OPT},
    {12, 12, RW, "10-Bit Tag Requester Enable", kAll, SE | OPT},
    {13, 14, RW, "OBFF Enable", kAll, OPT},
    {15, 15, RW, "End-End TLP Prefix Blocking", kAll, OPT},
};
inline constexpr Field kLnkCap2[] = {
    {1, 7, RO, "Supported Link Speeds Vector"},
    {8, 8, RO, "Crosslink Supported"},
    {9, 15, RO, "Lower SKP OS Generation Supported Speeds Vector"},
    {16, 22, RO, "Lower SKP OS Reception Supported Speeds Vector"},
    {23, 23, RO, "Retimer Presence Detect Supported"},
    {24, 24, RO, "Two Retimers Presence Detect Supported"},
    {31, 31, RO, "DRS Supported"},
};
/* Link Control 2 steers the next training and the compliance modes. */
inline constexpr Field kLnkCtl2[] = {
    {0, 3, RWS, "Target Link Speed", kAll, SE | OPT},
    {4, 4, RWS, "Enter Compliance", kAll, SE | OPT},
    {5, 5, RWS, "Hardware Autonomous Speed Disable", kAll, SE | OPT},
    {6, 6, HWI, "Selectable De-emphasis"},
    {7, 9, RWS, "Transmit Margin", kAll, SE | OPT},
    {10, 10, RWS, "Enter Modified Compliance", kAll, SE | OPT},
    {11, 11, RWS, "Compliance SOS", kAll, SE | OPT},
    {12, 15, RWS, "Compliance Preset/De-emphasis", kAll, SE | OPT},
};
inline constexpr Field kLnkSta2[] = {
    {0, 0, RO, "Current De-emphasis Level", kAll, VOL},
    {1, 1, ROS, "Equalization 8.0 GT/s Complete", kAll, VOL},
    {2, 2, ROS, "Equalization 8.0 GT/s Phase 1 Successful", kAll, VOL},
    {3, 3, ROS, "Equalization 8.0 GT/s Phase 2 Successful", kAll, VOL},
    {4, 4, ROS, "Equalization 8.0 GT/s Phase 3 Successful", kAll, VOL},
    {5, 5, RW1CS, "Link Equalization Request 8.0 GT/s", kAll, SE},
    {6, 6, ROS, "Retimer Presence Detected", kAll, VOL},
    {7, 7, ROS, "Two Retimers Presence Detected", kAll, VOL},
    {8, 9, RO, "Crosslink Resolution", kAll, VOL},
    {10, 10, RO, "Flit Mode Status", kAll, VOL},
    {12, 14, RO, "Downstream Component Presence", kDownstream, VOL},
    {15, 15, RW1C, "DRS Message Received", kDownstream, SE},
};
inline constexpr Field kSltCap2[] = {{0, 0, RO, "In-Band PD Disable Supported"}};
inline constexpr Field kSlot2[] = {{0, 0, RSP, "Reserved"}};

inline constexpr Register kPcieRegs[] = {
    Reg(0x00, 2, "HDR", "Capability header", kLegacyHeader),
    Reg(0x02, 2, "FLAGS", "PCI Express Capabilities", kPcieFlags),
    Reg(0x04, 4, "DEVCAP", "Device Capabilities", kDevCap),
    Reg(0x08, 2, "DEVCTL", "Device Control", kDevCtl),
    Reg(0x0A, 2, "DEVSTA", "Device Status", kDevSta, kAll, Cond::kAlways, RSZ),
    Reg(0x0C, 4, "LNKCAP", "Link Capabilities", kLnkCap, kLinked, Cond::kAlways, RSP, true),
    Reg(0x10, 2, "LNKCTL", "Link Control", kLnkCtl, kLinked, Cond::kAlways, RSP, true),
    Reg(0x12, 2, "LNKSTA", "Link Status", kLnkSta, kLinked, Cond::kAlways, RSZ, true),
    Reg(0x14, 4, "SLTCAP", "Slot Capabilities", kSltCap, kDownstream, Cond::kSlot, RSP, true),
    Reg(0x18, 2, "SLTCTL", "Slot Control", kSltCtl, kDownstream, Cond::kSlot, RSP, true),
    Reg(0x1A, 2, "SLTSTA", "Slot Status", kSltSta, kDownstream, Cond::kSlot, RSZ, true),
    Reg(0x1C, 2, "ROOTCTL", "Root Control", kRootCtl, kRoot, Cond::kAlways, RSP, true),
    Reg(0x1E, 2, "ROOTCAP", "Root Capabilities", kRootCap, kRoot, Cond::kAlways, RSP, true),
    Reg(0x20, 4, "ROOTSTA", "Root Status", kRootSta, kRoot, Cond::kAlways, RSZ, true),
    Reg(0x24, 4, "DEVCAP2", "Device Capabilities 2", kDevCap2, kAll, Cond::kPcieV2),
    Reg(0x28, 2, "DEVCTL2", "Device Control 2", kDevCtl2, kAll, Cond::kPcieV2),
    Reg(0x2A, 2, "DEVSTA2", "Device Status 2", kSlot2, kAll, Cond::kPcieV2, RSZ),
    Reg(0x2C, 4, "LNKCAP2", "Link Capabilities 2", kLnkCap2, kLinked, Cond::kPcieV2, RSP, true),
    Reg(0x30, 2, "LNKCTL2", "Link Control 2", kLnkCtl2, kLinked, Cond::kPcieV2, RSP, true),
    Reg(0x32, 2, "LNKSTA2", "Link Status 2", kLnkSta2, kLinked, Cond::kPcieV2, RSZ, true),
    Reg(0x34, 4, "SLTCAP2", "Slot Capabilities 2", kSltCap2, kDownstream, Cond::kSlotV2, RSP, true),
    Reg(0x38, 2, "SLTCTL2", "Slot Control 2", kSlot2, kAll, Cond::kPcieV2, RSP),
    Reg(0x3A, 2, "SLTSTA2", "Slot Status 2", kSlot2, kAll, Cond::kPcieV2, RSZ),
};

} // namespace tables
} // namespace qorb_regs

#endif
