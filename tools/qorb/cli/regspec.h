/* Register operands of "qorb read" and "qorb write", in setpci's syntax:
 *   REG[+OFFSET][.WIDTH][=VALUE[:MASK]]
 * REG is a hexadecimal offset, a header register name (COMMAND, STATUS,
 * BASE_ADDRESS_0...), or a capability: CAP_EXP, CAP10, ECAP_AER, ECAP0001,
 * whose offset is found by walking the function's capability lists. WIDTH
 * is b, w or l (8, 16, 32 bits); named registers have their own width, a
 * numeric offset needs one. VALUE and MASK are hexadecimal; with a mask only
 * the bits set in it are changed. */
#ifndef QORB_CLI_REGSPEC_H
#define QORB_CLI_REGSPEC_H

#include <stdint.h>

#include <string>

namespace qorbcli {

struct RegisterSpec {
    enum Base { kAbsolute, kLegacyCap, kExtendedCap };
    Base base = kAbsolute;
    uint32_t capId = 0;     /* for kLegacyCap and kExtendedCap */
    uint32_t offset = 0;    /* absolute, or relative to the capability */
    unsigned width = 0;     /* bytes: 1, 2 or 4 */
    bool hasValue = false;
    uint32_t value = 0;
    uint32_t mask = 0xffffffffu;
};

/* Answers "" or the reason the operand was refused. A value is accepted only
 * when withValue is true, and then required. */
std::string ParseRegisterSpec(const std::string& text, bool withValue, RegisterSpec* out);

/* Checks an absolute address for the width: inside 4096 bytes and naturally
 * aligned, as configuration accesses must be. Answers "" or the reason. */
std::string CheckRegisterAddress(uint32_t address, unsigned width);

/* The value printed as setpci prints it: 2, 4 or 8 hex digits. */
std::string RegisterValueText(uint32_t value, unsigned width);

} // namespace qorbcli

#endif
