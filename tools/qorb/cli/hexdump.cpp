/* lspci's hex dump format. */
#include "hexdump.h"

#include <linux/pci_regs.h>
#include <stdio.h>

namespace qorbcli {

size_t HexDumpLength(int xCount, const std::vector<uint8_t>& image)
{
    size_t length = 0;
    if (xCount >= 4)
        length = 4096;
    else if (xCount == 3)
        length = 256;
    else if (xCount > 0)
        length =
            image.size() > PCI_HEADER_TYPE && (image[PCI_HEADER_TYPE] & 0x7f) == PCI_HEADER_TYPE_CARDBUS ? 128 : 64;
    length = length < image.size() ? length : image.size();
    return length & ~size_t(15);
}

std::string HexDump(const std::vector<uint8_t>& image, size_t length)
{
    std::string out;
    char item[8];
    for (size_t line = 0; line < length && line < image.size(); line += 16) {
        snprintf(item, sizeof item, line < 0x100 ? "%02zx:" : "%03zx:", line);
        out += item;
        for (size_t i = line; i < line + 16 && i < image.size(); i++) {
            snprintf(item, sizeof item, " %02x", image[i]);
            out += item;
        }
        out += '\n';
    }
    return out;
}

} // namespace qorbcli
