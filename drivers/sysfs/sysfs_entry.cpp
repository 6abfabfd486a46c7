/* The driver's entry points: the ten-slot table that the library binds.
 *
 * One open at a time: OpenDriver starts from scratch (it closes whatever an
 * earlier open left) and hands out a fresh context; every other entry
 * answers 0 for any other context, so a caller holding the context of a
 * closed driver reads nothing.
 *
 * ReadConfigEx(context, v1, v2, v3, v4, v5, buffer) reads any domain:
 *     v1 = domain, v2 = bus, v3 = device, v4 = function,
 *     v5 = offset << 16 | length (offset and length 16 bits each);
 * it answers the bytes read, 0 for a location that has no function. The
 * driver's own domain is served from the index; other domains open the
 * function's config file for the one read.
 *
 * Writes are refused unless qorbsysfs.ini sets allow_writes: a compliance
 * test that writes the wrong register of a live machine can hang it. The
 * first refused write of an open says so on standard error. */
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <new>
#include <type_traits>

#include <qorb/qorb_driver.h>
#include <qorb_common/driver_domains.h>

#include "sysfs_driver.h"

namespace qorbsysfs {
namespace {

struct Driver {
    uint32_t context = 0;
    Settings settings;
    Index index;
    bool refusalReported = false;
    bool writeFailureReported = false;
};

Driver* g_driver = nullptr;
uint32_t g_lastContext = 0;

Driver* DriverFor(uint32_t context)
{
    return (g_driver && context != 0 && g_driver->context == context) ? g_driver : nullptr;
}

/* The indexed function at a location; null when there is none. Only a table
 * lookup: an absent location costs no system call. */
Function* FunctionAt(Driver* driver, uint32_t bus, uint32_t dev, uint32_t fn)
{
    if (bus >= kBuses || dev >= kDevices || fn >= kFunctions)
        return nullptr;
    int32_t slot = driver->index.slot[LocationOf(bus, dev, fn)];
    return slot < 0 ? nullptr : &driver->index.functions[static_cast<size_t>(slot)];
}

void Shutdown()
{
    if (!g_driver)
        return;
    CloseIndex(&g_driver->index);
    delete g_driver;
    g_driver = nullptr;
}

uint32_t OpenDriver(uint32_t* context)
{
    if (!context)
        return 0;
    Shutdown();
    auto* driver = new (std::nothrow) Driver;
    if (!driver)
        return 0;
    if (!LoadSettings(kSettingsFile, &driver->settings) ||
        !BuildIndex(driver->settings.root, driver->settings.domain, driver->settings.allowWrites,
                    &driver->index)) {
        CloseIndex(&driver->index);
        delete driver;
        return 0;
    }
    if (++g_lastContext == 0)
        ++g_lastContext;
    driver->context = g_lastContext;
    g_driver = driver;
    *context = driver->context;
    return 1;
}

uint32_t MapConfigSpace(uint32_t context, uint64_t, uint64_t)
{
    /* Configuration space is reached through the kernel; there is no window
     * to map. */
    return DriverFor(context) ? 1 : 0;
}

uint32_t QueryMcfgTable(uint32_t context, uint64_t* base, uint8_t* startBus, uint8_t* endBus, uint64_t* length)
{
    Driver* driver = DriverFor(context);
    McfgWindow window;
    if (!driver || !ReadMcfg(driver->settings.mcfgPath, driver->settings.domain, &window))
        return 0;
    if (base)
        *base = window.base;
    if (startBus)
        *startBus = window.startBus;
    if (endBus)
        *endBus = window.endBus;
    if (length)
        *length = window.length;
    return 1;
}

uint32_t ReadConfig(uint32_t context, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                    uint8_t* buffer)
{
    Driver* driver = DriverFor(context);
    Function* function = driver && buffer ? FunctionAt(driver, bus, dev, fn) : nullptr;
    if (!function)
        return 0;
    return ReadFunction(&driver->index, function, offset, length, buffer);
}

uint32_t ReadConfigEx(uint32_t context, uint32_t domain, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t span,
                      uint8_t* buffer)
{
    uint32_t offset = span >> 16;
    uint32_t length = span & 0xFFFF;
    Driver* driver = DriverFor(context);
    if (!driver || !buffer || bus >= kBuses || dev >= kDevices || fn >= kFunctions)
        return 0;
    if (domain == driver->settings.domain)
        return ReadConfig(context, bus, dev, fn, offset, length, buffer);
    std::string path = driver->settings.root + "/" + FunctionName(domain, bus, dev, fn) + "/config";
    return ReadPath(path, offset, length, buffer);
}

uint32_t WriteConfig(uint32_t context, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                     uint8_t* buffer)
{
    Driver* driver = DriverFor(context);
    if (!driver || !buffer)
        return 0;
    if (!driver->settings.allowWrites) {
        if (!driver->refusalReported) {
            driver->refusalReported = true;
            fprintf(stderr, "qorbsysfs: configuration writes are disabled; to enable them set "
                            "\"allow_writes = yes\" in section [sysfs] of %s in the current directory "
                            "and run as root\n",
                    kSettingsFile);
        }
        return 0;
    }
    Function* function = FunctionAt(driver, bus, dev, fn);
    if (!function)
        return 0;
    int error = 0;
    uint32_t written = WriteFunction(&driver->index, function, offset, length, buffer, &error);
    if (written == 0 && error != 0 && !driver->writeFailureReported) {
        driver->writeFailureReported = true;
        fprintf(stderr, "qorbsysfs: cannot write %s: %s%s\n", function->configPath.c_str(), strerror(error),
                error == EACCES ? " (writes need root)" : "");
    }
    return written;
}

uint32_t CloseDriver(uint32_t context)
{
    if (!DriverFor(context))
        return 0;
    Shutdown();
    return 1;
}

} // namespace
} // namespace qorbsysfs

extern "C" QORB_DRIVER_EXPORT uint32_t QorbDriver_Domains(uint32_t* served, uint32_t* domains, uint32_t max)
{
    qorbsysfs::Driver* driver = qorbsysfs::g_driver;
    if (!driver || !served || (!domains && max))
        return 0;
    *served = driver->settings.domain;
    const std::vector<uint32_t>& all = driver->index.domains;
    for (uint32_t i = 0; i < max && i < all.size(); ++i)
        domains[i] = all[i];
    return static_cast<uint32_t>(all.size());
}
static_assert(std::is_same_v<decltype(&QorbDriver_Domains), qorb_domains::DomainsFn>);

extern "C" QORB_DRIVER_EXPORT uint32_t ConfigDriver_GetInterface(_CONFIG_DRIVER_INTERFACE_t* table)
{
    if (!table)
        return 0;
    *table = _CONFIG_DRIVER_INTERFACE_t{};
    table->OpenDriver = qorbsysfs::OpenDriver;
    table->MapConfigSpace = qorbsysfs::MapConfigSpace;
    table->QueryMcfgTable = qorbsysfs::QueryMcfgTable;
    table->ReadConfig = qorbsysfs::ReadConfig;
    table->ReadConfigEx = qorbsysfs::ReadConfigEx;
    table->WriteConfig = qorbsysfs::WriteConfig;
    table->CloseDriver = qorbsysfs::CloseDriver;
    return 1;
}
