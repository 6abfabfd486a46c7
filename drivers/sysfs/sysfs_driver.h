/* libqorbsysfs: the configuration driver that reaches real hardware through
 * the configuration files Linux exposes under /sys/bus/pci/devices.
 *
 * The driver serves one PCI domain. At open it reads its own configuration
 * (qorbsysfs.ini in the current directory), lists the functions of the domain
 * and opens their "config" files. A read of a location is then one table
 * lookup: an absent location answers 0 bytes without a system call, a present
 * one is a pread() of its config file, answering the bytes the kernel gave. */
#ifndef QORB_SYSFS_DRIVER_H
#define QORB_SYSFS_DRIVER_H

#include <stdint.h>

#include <array>
#include <string>
#include <vector>

namespace qorbsysfs {

/* Configuration space of one function is at most 4096 bytes; no transfer
 * reaches beyond it. */
constexpr uint32_t kConfigSpaceSize = 4096;
constexpr uint32_t kBuses = 256;
constexpr uint32_t kDevices = 32;
constexpr uint32_t kFunctions = 8;
constexpr uint32_t kLocations = kBuses * kDevices * kFunctions;

/* --------------------------------------------------------- configuration */

/* The driver's settings, from section [sysfs] of qorbsysfs.ini. */
struct Settings {
    std::string root = "/sys/bus/pci/devices";            /* key "root" */
    uint32_t domain = 0;                                  /* key "domain", hex */
    bool allowWrites = false;                             /* key "allow_writes" */
    std::string mcfgPath = "/sys/firmware/acpi/tables/MCFG"; /* key "mcfg" */
};

constexpr const char* kSettingsFile = "qorbsysfs.ini";

/* Reads the settings from file. A missing file leaves the defaults. Answers
 * false, after a message on standard error, when the file exists but cannot
 * be read or holds an unknown section, key or value. */
bool LoadSettings(const char* file, Settings* settings);

/* --------------------------------------------------------------- index */

/* One function of the domain and its config file. */
struct Function {
    std::string configPath;
    int fd = -1;               /* kept open while the driver is open; -1: none */
    bool writable = false;     /* fd is open for writing */
    uint8_t bus = 0, dev = 0, fn = 0;
};

/* The functions of the domain and the table that finds them by location. */
struct Index {
    std::vector<Function> functions;
    std::array<int32_t, kLocations> slot;  /* location -> functions[] index, -1 = absent */
    bool writable = false;                 /* files are opened for writing too */
    size_t kept = 0;                       /* files held open */
    size_t maxKept = 0;                    /* at most this many */
    std::vector<uint32_t> domains; /* every domain under root, ascending */
};

inline uint32_t LocationOf(uint32_t bus, uint32_t dev, uint32_t fn)
{
    return (bus << 8) | (dev << 3) | fn;
}

/* The folder name Linux gives a function: DDDD:BB:DD.F. */
std::string FunctionName(uint32_t domain, uint32_t bus, uint32_t dev, uint32_t fn);

/* Parses a folder name DDDD:BB:DD.F (4 to 8 hex digits of domain, bus and
 * device in two hex digits, device below 32, function 0 to 7). */
bool ParseFunctionName(const char* name, uint32_t* domain, uint32_t* bus, uint32_t* dev, uint32_t* fn);

/* Lists the functions of the domain under root and opens their config files
 * (for writing too when writable). Answers false, after a message on
 * standard error, when root cannot be listed. */
bool BuildIndex(const std::string& root, uint32_t domain, bool writable, Index* index);

/* Empties the index and closes every file it holds open. */
void CloseIndex(Index* index);

/* The open config file of a function: the kept one, or a newly opened one
 * that is kept when the limit allows and is otherwise transient (closed again
 * by ReleaseFile). -1 when the file cannot be opened. */
struct OpenFile {
    int fd;
    bool transient;
    bool writable;
};
OpenFile AcquireFile(Index* index, Function* function);
void ReleaseFile(const OpenFile& file);

/* Closes the function's kept file, so that the next access opens it anew. */
void DropFile(Index* index, Function* function);

/* ---------------------------------------------------------------- access */

/* Reads up to length bytes at offset of the function's config file into
 * buffer and answers the count the kernel gave; 0 when the file is gone. */
uint32_t ReadFunction(Index* index, Function* function, uint32_t offset, uint32_t length, uint8_t* buffer);

/* Writes up to length bytes at offset and answers the count written. When
 * nothing was written *error says why (EACCES: the file could only be opened
 * for reading). */
uint32_t WriteFunction(Index* index, Function* function, uint32_t offset, uint32_t length,
                       const uint8_t* buffer, int* error);

/* Reads a config file given by path, opened for this read only. */
uint32_t ReadPath(const std::string& path, uint32_t offset, uint32_t length, uint8_t* buffer);

/* ------------------------------------------------------------------ MCFG */

/* The memory-mapped configuration window of one domain. */
struct McfgWindow {
    uint64_t base;      /* physical address of the window (its bus 0) */
    uint8_t startBus;
    uint8_t endBus;
    uint64_t length;    /* (endBus - startBus + 1) << 20 */
};

/* Parses an ACPI MCFG table image and finds the first entry of the domain. */
bool ParseMcfg(const uint8_t* table, size_t size, uint32_t domain, McfgWindow* window);

/* Reads the MCFG table file and finds the domain's window; false when the
 * file cannot be read (it is readable by root only) or has no such entry. */
bool ReadMcfg(const std::string& path, uint32_t domain, McfgWindow* window);

} // namespace qorbsysfs

#endif
