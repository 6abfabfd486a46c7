/* Advanced Error Reporting status bits (PCI Express Base Specification,
 * sections 7.8.4.2 and 7.8.4.5): every defined bit of the Uncorrectable and
 * Correctable Error Status registers (the Mask and Severity registers share
 * the layout) with the short name lspci prints, and the status bits the
 * library's AER assertions test, with the field names their verdicts use.
 * Shared by the library, the simulated driver, the tool and the tests. */
#ifndef QORB_COMMON_AER_BITS_H
#define QORB_COMMON_AER_BITS_H

#include <stdint.h>

namespace qorb_aer {

struct Bit {
    uint32_t mask;
    const char* name;   /* lspci's */
};

/* Bit 0 was Training Error in PCI Express 1.0 and is undefined since. */
inline constexpr Bit kUncorrectable[] = {
    {1u << 0, "Train"},           {1u << 4, "DLP"},             {1u << 5, "SDES"},
    {1u << 12, "TLP"},            {1u << 13, "FCP"},            {1u << 14, "CmpltTO"},
    {1u << 15, "CmpltAbrt"},      {1u << 16, "UnxCmplt"},       {1u << 17, "RxOF"},
    {1u << 18, "MalfTLP"},        {1u << 19, "ECRC"},           {1u << 20, "UnsupReq"},
    {1u << 21, "ACSViol"},        {1u << 22, "UncorrIntErr"},   {1u << 23, "BlockedTLP"},
    {1u << 24, "AtomicOpBlocked"}, {1u << 25, "TLPBlockedErr"}, {1u << 26, "PoisonTLPBlocked"},
};

inline constexpr Bit kCorrectable[] = {
    {1u << 0, "RxErr"},    {1u << 6, "BadTLP"},           {1u << 7, "BadDLLP"},
    {1u << 8, "Rollover"}, {1u << 12, "Timeout"},         {1u << 13, "AdvNonFatalErr"},
    {1u << 14, "CorrIntErr"}, {1u << 15, "HeaderOF"},
};

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
