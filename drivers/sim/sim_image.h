/* One function's power-on configuration space as the simulator loads it:
 * from a dump file or from the built-in platform. */
#ifndef QORBSIM_IMAGE_H
#define QORBSIM_IMAGE_H

#include <stdint.h>

#include <array>
#include <string>
#include <vector>

namespace qorbsim {

constexpr uint32_t kConfigSpaceSize = 4096;   /* PCI Express configuration space */
constexpr uint32_t kLegacySpaceSize = 256;    /* conventional PCI configuration space */
constexpr uint32_t kHeaderSize = 64;          /* the header every function has */

/* Bits of one register that break the register model on purpose (the
 * built-in platform's defective DUT): they take every write, or ignore
 * every write. */
struct WriteQuirk {
    uint16_t offset;
    uint32_t mask; /* bits of the dword at offset */
    bool writable;
};

struct FunctionImage {
    uint32_t domain = 0;
    uint8_t bus = 0;
    uint8_t dev = 0;
    uint8_t fn = 0;
    /* Bytes the function answers: 64, 256 or 4096 for dumps of lspci -x,
     * -xxx and -xxxx. Reads and writes past it are short. */
    uint32_t length = 0;
    std::array<uint8_t, kConfigSpaceSize> bytes{};
    std::string origin;   /* "file:line" of the function line, or "built-in" */
    std::vector<WriteQuirk> quirks;
};

/* Diagnostics go to standard error, one line each, prefixed "qorbsim: ". */
void Report(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace qorbsim

#endif
