/* The capability lists of one function as its raw configuration bytes hold
 * them, walked by the tool itself (qorb_common/cap_walk.h) rather than by
 * the library: every capability of both lists with lspci's name and the size
 * its own registers give it, and what is wrong with the lists (a loop, a
 * pointer into the header or out of the bytes) as findings. The extended
 * list is walked for functions with a PCI Express capability, as lspci does.
 * Works on a byte image only, so the tests drive it directly. */
#ifndef QORB_CLI_CAP_LIST_H
#define QORB_CLI_CAP_LIST_H

#include <stdint.h>

#include <string>
#include <vector>

namespace qorbcli {

/* What the PCI Express capability tells about the function; the sizes of
 * several other structures depend on it. */
struct ExpressInfo {
    bool present = false;
    uint16_t offset = 0;
    unsigned version = 0, portType = 0;
    unsigned maxWidth = 0; /* Link Capabilities, lanes */
    bool slot = false; /* Slot Implemented */
    bool tlpPrefix = false; /* End-End TLP Prefix Supported (Device Capabilities 2) */
};

struct RawCap {
    uint16_t offset = 0;
    uint16_t id = 0;
    bool extended = false;
    uint8_t version = 0; /* extended capabilities */
    uint16_t next = 0; /* the next pointer as read (legacy byte 1, extended bits 31:20) */
    int size = -1; /* bytes; -1 when no register defines it */
    std::string name; /* lspci's, with the vendor-specific identification */
};

struct RawCapList {
    std::vector<RawCap> caps; /* the legacy list, then the extended list, in walk order */
    std::vector<std::string> findings; /* what is wrong with the lists, one sentence each */
    ExpressInfo express;
    bool extendedWalked = false; /* the function has a PCI Express capability and extended space */
};

/* image: the function's configuration bytes from offset 0 (64, 256 or 4096,
 * as many as could be read). */
RawCapList ReadCapLists(const std::vector<uint8_t>& image);

/* The first capability of the list with the ID, or null. */
const RawCap* FindRawCap(const RawCapList& list, bool extended, uint16_t id);

/* The size of a capability's structure from its registers; -1 when nothing
 * defines one (or the bytes it needs are not in the image). */
int CapStructureSize(const std::vector<uint8_t>& image, const RawCap& cap, const ExpressInfo& express);

/* lspci's name of a capability ID: "Capability ID 0x15" / "Extended
 * Capability ID 0x2a" for IDs it does not know. */
std::string RawCapName(bool extended, uint16_t id);

/* Little-endian register access into an image; all ones past its end, as a
 * function reads where it has no registers. */
uint32_t ImageGet(const std::vector<uint8_t>& image, uint32_t at, unsigned width);

} // namespace qorbcli

#endif
