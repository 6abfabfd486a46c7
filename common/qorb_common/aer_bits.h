/* Advanced Error Reporting registers (PCI Express Base Specification,
 * section 7.8.4): every defined bit of the Uncorrectable and Correctable
 * Error Status registers (the Mask and Severity registers share the layout),
 * of Advanced Error Capabilities and Control, Root Error Command and Root
 * Error Status, each with the short name lspci prints and a plain title; and
 * the status bits the library's AER assertions test, with the field names
 * their verdicts use. Shared by the library, the simulated driver, the tool
 * and the tests. */
#ifndef QORB_COMMON_AER_BITS_H
#define QORB_COMMON_AER_BITS_H

#include <stdint.h>

namespace qorb_aer {

struct Bit {
    uint32_t mask;
    const char* name; /* lspci's */
    const char* title; /* the register field's name, plainly */
};

/* Uncorrectable Error Status, Mask and Severity (7.8.4.2 to 7.8.4.4). Bit 0
 * was Training Error in PCI Express 1.0 and is undefined since; bits 27 to
 * 31 came with PCI Express 6. */
inline constexpr Bit kUncorrectable[] = {
    {1u << 0, "Train", "Training Error"},
    {1u << 4, "DLP", "Data Link Protocol Error"},
    {1u << 5, "SDES", "Surprise Down Error"},
    {1u << 12, "TLP", "Poisoned TLP Received"},
    {1u << 13, "FCP", "Flow Control Protocol Error"},
    {1u << 14, "CmpltTO", "Completion Timeout"},
    {1u << 15, "CmpltAbrt", "Completer Abort"},
    {1u << 16, "UnxCmplt", "Unexpected Completion"},
    {1u << 17, "RxOF", "Receiver Overflow"},
    {1u << 18, "MalfTLP", "Malformed TLP"},
    {1u << 19, "ECRC", "ECRC Error"},
    {1u << 20, "UnsupReq", "Unsupported Request Error"},
    {1u << 21, "ACSViol", "ACS Violation"},
    {1u << 22, "UncorrIntErr", "Uncorrectable Internal Error"},
    {1u << 23, "BlockedTLP", "MC Blocked TLP"},
    {1u << 24, "AtomicOpBlocked", "AtomicOp Egress Blocked"},
    {1u << 25, "TLPBlockedErr", "TLP Prefix Blocked Error"},
    {1u << 26, "PoisonTLPBlocked", "Poisoned TLP Egress Blocked"},
    {1u << 27, "DMWrReqBlocked", "DMWr Request Egress Blocked"},
    {1u << 28, "IDECheck", "IDE Check Failed"},
    {1u << 29, "MisIDETLP", "Misrouted IDE TLP"},
    {1u << 30, "PCRC_CHECK", "PCRC Check Failed"},
    {1u << 31, "TLPXlatBlocked", "TLP Translation Egress Blocked"},
};

/* Correctable Error Status and Mask (7.8.4.5, 7.8.4.6). */
inline constexpr Bit kCorrectable[] = {
    {1u << 0, "RxErr", "Receiver Error"},
    {1u << 6, "BadTLP", "Bad TLP"},
    {1u << 7, "BadDLLP", "Bad DLLP"},
    {1u << 8, "Rollover", "REPLAY_NUM Rollover"},
    {1u << 12, "Timeout", "Replay Timer Timeout"},
    {1u << 13, "AdvNonFatalErr", "Advisory Non-Fatal Error"},
    {1u << 14, "CorrIntErr", "Corrected Internal Error"},
    {1u << 15, "HeaderOF", "Header Log Overflow"},
};

/* Advanced Error Capabilities and Control (7.8.4.7); bits 4:0 are the
 * First Error Pointer. */
inline constexpr uint32_t kFirstErrorPointer = 0x1f;
inline constexpr Bit kCapControl[] = {
    {1u << 5, "ECRCGenCap", "ECRC Generation Capable"},
    {1u << 6, "ECRCGenEn", "ECRC Generation Enable"},
    {1u << 7, "ECRCChkCap", "ECRC Check Capable"},
    {1u << 8, "ECRCChkEn", "ECRC Check Enable"},
    {1u << 9, "MultHdrRecCap", "Multiple Header Recording Capable"},
    {1u << 10, "MultHdrRecEn", "Multiple Header Recording Enable"},
    {1u << 11, "TLPPfxPres", "TLP Prefix Log Present"},
    {1u << 12, "HdrLogCap", "Completion Timeout Prefix/Header Log Capable"},
};

/* Root Error Command and Root Error Status (7.8.4.9, 7.8.4.10), defined on
 * Root Ports and Root Complex Event Collectors; bits 31:27 of the status are
 * the Advanced Error Interrupt Message Number. */
inline constexpr Bit kRootCommand[] = {
    {1u << 0, "CERptEn", "Correctable Error Reporting Enable"},
    {1u << 1, "NFERptEn", "Non-Fatal Error Reporting Enable"},
    {1u << 2, "FERptEn", "Fatal Error Reporting Enable"},
};
inline constexpr Bit kRootStatus[] = {
    {1u << 0, "CERcvd", "ERR_COR Received"},
    {1u << 1, "MultCERcvd", "Multiple ERR_COR Received"},
    {1u << 2, "UERcvd", "ERR_FATAL/NONFATAL Received"},
    {1u << 3, "MultUERcvd", "Multiple ERR_FATAL/NONFATAL Received"},
    {1u << 4, "FirstFatal", "First Uncorrectable Fatal"},
    {1u << 5, "NonFatalMsg", "Non-Fatal Error Messages Received"},
    {1u << 6, "FatalMsg", "Fatal Error Messages Received"},
};
inline constexpr uint32_t kRootStatusBits = 0x7f; /* the write-one-to-clear bits above */
inline constexpr int kInterruptMessageShift = 27;

/* The status bits the AER assertions test, in the order of the library's
 * assertion operations. */
struct Assertion {
    bool correctable;    /* which status register */
    uint32_t mask;
    const char* field;   /* as the verdict text names it */
};

inline constexpr Assertion kAssertions[] = {
    {false, 1u << 0, "Training Error"},
    {false, 1u << 4, "Data Link Protocol"},
    {false, 1u << 13, "Flow Control Protocol Error"},
    {false, 1u << 14, "Completion Timeout"},
    {false, 1u << 15, "Completer Abort"},
    {false, 1u << 16, "Unexpected Completion"},
    {false, 1u << 17, "Receiver Overflow"},
    {false, 1u << 20, "Unsupported Request Error"},
    {true, 1u << 0, "Receiver Error"},
    {true, 1u << 6, "Bad TLP"},
    {true, 1u << 7, "Bad DLLP"},
    {true, 1u << 8, "Replay Number Rollover"},
    {true, 1u << 12, "Replay Timer Timeout"},
};
constexpr int kAssertionCount = sizeof kAssertions / sizeof kAssertions[0];

} // namespace qorb_aer

#endif
