/* The Advanced Error Reporting capability of a function, read from the raw
 * bytes of its configuration space and decoded by the tool: every defined
 * bit by name, the raw values, the Header Log, and the root registers on
 * Root Ports and Root Complex Event Collectors (PCI Express Base
 * Specification, section 7.8.4). */
#ifndef QORB_CLI_AER_REGS_H
#define QORB_CLI_AER_REGS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "json.h"

namespace qorbcli {

struct AerRegisters {
    uint32_t offset = 0; /* of the capability */
    uint32_t uncStatus = 0, uncMask = 0, uncSeverity = 0;
    uint32_t corStatus = 0, corMask = 0;
    uint32_t capControl = 0;
    uint32_t headerLog[4] = {};
    bool root = false; /* a Root Port or Root Complex Event Collector: the three below are defined */
    uint32_t rootCommand = 0, rootStatus = 0, sourceId = 0;
    /* Whether a status bit is set: uncorrectable, correctable, or root. */
    bool AnySet() const;
};

/* Finds the capability by the raw walk of the extended list (and the port
 * type in the PCI Express capability); false when the image holds none. */
bool ReadAer(const std::vector<uint8_t>& image, AerRegisters* aer);

/* The full decoding, one line per register, lspci's names with + and -
 * after the raw value. */
std::vector<std::string> AerLines(const AerRegisters& aer);
/* One line: the raw status values, then "status set:" and the titles of the
 * bits set (uncorrectable ones marked fatal or non-fatal by the severity),
 * or "clear". */
std::string AerSummary(const AerRegisters& aer);
/* The function's slot, then every register with its value and each
 * defined bit by name. */
Json AerJson(const AerRegisters& aer, const std::string& slot);

} // namespace qorbcli

#endif
