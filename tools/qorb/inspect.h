/* What "qorb caps" and "qorb scan" show of a function beyond its scan line:
 * the raw configuration bytes, the capability lists the tool walks itself,
 * which of them the library's own walk and typed lookups reach, lspci's -v
 * and -vv decoding and -x hex dumps. */
#ifndef QORB_TOOL_INSPECT_H
#define QORB_TOOL_INSPECT_H

#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "cap_list.h"

namespace CLI {
class App;
}

namespace qorbtool {

/* The function's configuration bytes from offset 0: 4096 when the extended
 * space can be read, else as many as the driver transfers (256, or 64 for
 * a process that Linux shows only the header); empty when none. */
std::vector<uint8_t> ReadImage(void* device);

/* The capability offsets the library reaches: its walk (GetFirstCapability,
 * GetNextCapability) and its typed lookups (GetPCIECapability and the
 * eight others). walkEnd tells why the walk ended early, "" when it reached
 * the end of the lists. */
struct LibraryReach {
    std::set<uint32_t> walk, lookup;
    std::string walkEnd;
};
LibraryReach ReachOf(void* device);

/* -v / -vv and -x / -xxx / -xxxx, counted. */
struct DetailOptions {
    int verbose = 0;
    int hex = 0;
    void AddOptions(CLI::App* cmd);
};

/* The lines under a function, as lspci prints them: its subsystem and
 * capabilities (-v), their decoded registers (-vv), findings about its
 * capability lists, the hex dump (-x...), then a blank line; nothing
 * without -v or -x. With reach, each capability line also gives the size
 * and the library's reach, as "qorb caps" lists them. */
void PrintDetails(void* device, const DetailOptions& options, const LibraryReach* reach = nullptr);

/* One capability as "qorb caps" lists it. */
std::string CapLine(const qorbcli::RawCap& cap, const LibraryReach& reach);

} // namespace qorbtool

#endif
