/* Every register of a structure of the register model, decoded field by
 * field from the model's tables alone (qorb_common/reg_model.h): what -vvv
 * shows beyond lspci's lines, for the header and every capability the
 * model knows, and what the Python layer's registers() gives. */
#ifndef QORB_CLI_REG_DECODE_H
#define QORB_CLI_REG_DECODE_H

#include <stdint.h>

#include <string>
#include <vector>

#include <qorb_common/reg_types.h>

namespace qorbcli {

/* One field as it applies to the function, with its value. */
struct DecodedField {
    const char* name;
    uint8_t lo, hi;
    uint32_t value;
    qorb_regs::Attr attr;
};

/* One register (one entry of a repeated one) of a placed structure. */
struct DecodedRegister {
    const qorb_regs::Structure* structure;
    uint16_t base; /* where the structure is */
    const qorb_regs::Register* reg;
    unsigned instance; /* of repeated registers */
    uint32_t offset; /* in configuration space */
    uint32_t value;
    std::vector<DecodedField> fields; /* in bit order; reserved bits only when they are not 0 */
};

/* Every register of every structure the model places in the function's
 * configuration bytes: its header first, then the capabilities in list
 * order (the first instance of each). */
std::vector<DecodedRegister> DecodeRegisters(const std::vector<uint8_t>& image);

/* The lines of the structure the model places at offset in the function's
 * configuration bytes (offset 0 and not extended: its header); empty when
 * it places none there. First "Name, section S", then per register
 * "[offset] TAG Name: value" and under it, starting with a tab, each field
 * that applies to the function, in bit order, as "[hi:lo] Name=value
 * Attribute" (reserved bits only when they are not 0). */
std::vector<std::string> DecodeModelRegisters(const std::vector<uint8_t>& image, bool extended, uint16_t offset);

} // namespace qorbcli

#endif
