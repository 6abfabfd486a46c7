/* The tool's own reading of a platform file, done before the library sees
 * it. The library converts numbers as it always has (bus="0x9" reads as bus
 * 0, bus="265" as bus 9); the tool checks every number first and hands the
 * library's searches its own values. */
#ifndef QORB_CLI_PLATFORM_FILE_H
#define QORB_CLI_PLATFORM_FILE_H

#include <stdint.h>

#include <string>
#include <vector>

#include <qorb/qorb_types.h>

namespace qorbcli {

/* One DUT element: the find flags and criteria to hand to FindDevice. */
struct PlatformDut {
    uint32_t flags = 0;
    _QORB_DEVICE_FIND_INFO_t find; /* all ones where the element gives nothing */
    int line = 0;
    PlatformDut();
};

/* "DUT 2 5153:1010 at 04:00.1": the entry's number (from 1), its IDs and
 * its location, as far as they are given. */
std::string DescribeDut(int index, uint32_t flags, const _QORB_DEVICE_FIND_INFO_t& find);

/* Reads the file and checks it: well-formed XML; in DUT elements vendorid
 * and deviceid hexadecimal (an optional 0x, at most 4 digits), bus, device
 * and function all three or none, within 0-255, 0-31 and 0-7, decimal or
 * 0x hexadecimal, the subsystem IDs 16-bit numbers the same way, no other
 * attribute, and at most QORB_MAX_DUTS of them; ReplayCount and
 * DUTSerrEnable decimal, PCIEBaseAddress and DUTConfig hexadecimal. Answers
 * "" and the DUTs, or the first problem as "FILE:LINE: problem" ("FILE:
 * problem" when the file cannot be read). */
std::string ReadPlatformFile(const std::string& path, std::vector<PlatformDut>* duts);

} // namespace qorbcli

#endif
