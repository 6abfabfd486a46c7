/* Every register of a structure of the register model, decoded field by
 * field from the model's tables alone (qorb_common/reg_model.h): what -vvv
 * shows beyond lspci's lines, for the header and every capability the
 * model knows. */
#ifndef QORB_CLI_REG_DECODE_H
#define QORB_CLI_REG_DECODE_H

#include <stdint.h>

#include <string>
#include <vector>

namespace qorbcli {

/* The lines of the structure the model places at offset in the function's
 * configuration bytes (offset 0 and not extended: its header); empty when
 * it places none there. First "Name, section S", then per register
 * "[offset] TAG Name: value" and under it, starting with a tab, each field
 * that applies to the function, in bit order, as "[hi:lo] Name=value
 * Attribute" (reserved bits only when they are not 0). */
std::vector<std::string> DecodeModelRegisters(const std::vector<uint8_t>& image, bool extended, uint16_t offset);

} // namespace qorbcli

#endif
