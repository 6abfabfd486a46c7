/* Hexadecimal dumps of configuration space in lspci's -x format, which
 * lspci -F and the simulated driver read back:
 *   00: 86 80 10 9d 07 00 10 00 f1 00 04 06 00 00 81 00
 *   100: 01 00 01 14 00 00 00 00 ...
 * 16 bytes a line, the offset in two hex digits below 0x100, three above. */
#ifndef QORB_CLI_HEXDUMP_H
#define QORB_CLI_HEXDUMP_H

#include <stdint.h>

#include <string>
#include <vector>

namespace qorbcli {

/* How many bytes lspci dumps for a count of -x options: 64 for -x and -xx
 * (128 for a CardBus header), 256 for -xxx, 4096 for -xxxx; never more than
 * the image holds (whole lines only). 0 for no -x. */
size_t HexDumpLength(int xCount, const std::vector<uint8_t>& image);

/* The hex lines for the first length bytes of the image. */
std::string HexDump(const std::vector<uint8_t>& image, size_t length);

} // namespace qorbcli

#endif
