/* The ACPI MCFG table: where the firmware placed the memory-mapped
 * configuration window of each PCI domain (segment).
 *
 * Layout: the 36-byte system description table header (signature "MCFG",
 * then the table's length as a little-endian 32-bit value at offset 4),
 * 8 reserved bytes, then 16-byte entries: base address (64-bit), segment
 * (16-bit), start bus, end bus, 4 reserved bytes. Linux exposes the table
 * readable by root only; an unprivileged process gets no window. */
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "sysfs_driver.h"

namespace qorbsysfs {
namespace {

constexpr size_t kHeaderSize = 36;
constexpr size_t kEntriesOffset = kHeaderSize + 8;
constexpr size_t kEntrySize = 16;
/* More than any firmware writes (4,000 entries); bounds the read. */
constexpr size_t kMaxTableSize = 64 * 1024;

uint64_t Le(const uint8_t* p, size_t bytes)
{
    uint64_t value = 0;
    for (size_t i = bytes; i-- > 0;)
        value = (value << 8) | p[i];
    return value;
}

} // namespace

bool ParseMcfg(const uint8_t* table, size_t size, uint32_t domain, McfgWindow* window)
{
    if (size < kEntriesOffset || memcmp(table, "MCFG", 4) != 0)
        return false;
    /* The header's length rules; bytes after it are not part of the table. */
    size_t length = static_cast<size_t>(Le(table + 4, 4));
    if (length < kEntriesOffset || length > size)
        return false;
    for (size_t at = kEntriesOffset; at + kEntrySize <= length; at += kEntrySize) {
        const uint8_t* entry = table + at;
        if (Le(entry + 8, 2) != domain)
            continue;
        uint8_t startBus = entry[10];
        uint8_t endBus = entry[11];
        if (endBus < startBus)
            return false;
        window->base = Le(entry, 8);
        window->startBus = startBus;
        window->endBus = endBus;
        window->length = static_cast<uint64_t>(endBus - startBus + 1) << 20;
        return true;
    }
    return false;
}

bool ReadMcfg(const std::string& path, uint32_t domain, McfgWindow* window)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::vector<uint8_t> table(kMaxTableSize);
    size_t size = 0;
    while (size < table.size()) {
        ssize_t n = read(fd, table.data() + size, table.size() - size);
        if (n <= 0)
            break;
        size += static_cast<size_t>(n);
    }
    close(fd);
    return ParseMcfg(table.data(), size, domain, window);
}

} // namespace qorbsysfs
