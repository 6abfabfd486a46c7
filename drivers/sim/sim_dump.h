/* Reader for configuration dumps in the text format of lspci -x, -xxx and
 * -xxxx (also what lspci -F reads back):
 *
 *   00:1c.0 PCI bridge: ...            function line, BB:DD.F then text
 *   0003:01:00.0 PCI bridge: ...       the same with a domain in front
 *   00: 86 80 10 9d 07 00 10 00 ...    hex line: offset, then bytes
 *   100: 01 00 01 14 ...               offsets from 0x100 have three digits
 *
 * Every other line (lspci -vv text, blank lines) is skipped. */
#ifndef QORBSIM_DUMP_H
#define QORBSIM_DUMP_H

#include <istream>
#include <string>
#include <vector>

#include "sim_image.h"

namespace qorbsim {

/* Appends the functions of the dump to out. Every problem found is reported
 * on standard error with the file name and line number; the answer is false
 * when there was any (the functions read so far may then be incomplete). */
bool ReadDump(std::istream& in, const std::string& name, std::vector<FunctionImage>& out);
bool ReadDumpFile(const std::string& path, std::vector<FunctionImage>& out);

} // namespace qorbsim

#endif
