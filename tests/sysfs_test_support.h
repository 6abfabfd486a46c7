/* Helpers for the sysfs driver's tests: a fake devices folder in a scratch
 * directory, the driver loaded directly, and ACPI MCFG table images. */
#ifndef QORB_SYSFS_TEST_SUPPORT_H
#define QORB_SYSFS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "driver_client.h"
#include "qorb_test_support.h"

namespace qorbtest {

/* The built driver's path, or "" when the build has none. */
inline const char* SysfsDriverPath()
{
#ifdef QORB_SYSFS_DRIVER_PATH
    return QORB_SYSFS_DRIVER_PATH;
#else
    return "";
#endif
}


/* A scratch folder (the current directory) holding "devices/", laid out as
 * Linux lays out /sys/bus/pci/devices, and the driver's qorbsysfs.ini. */
class FakeSysfs : public ScratchDir {
public:
    std::string Devices() const { return File("devices"); }

    static std::string Name(uint32_t domain, uint32_t bus, uint32_t dev, uint32_t fn)
    {
        char name[32];
        snprintf(name, sizeof name, "%04x:%02x:%02x.%x", domain, bus, dev, fn);
        return name;
    }
    std::string ConfigPath(uint32_t domain, uint32_t bus, uint32_t dev, uint32_t fn) const
    {
        return Devices() + "/" + Name(domain, bus, dev, fn) + "/config";
    }

    /* A function whose config file holds exactly these bytes: 64 for what an
     * unprivileged process is given, 256 for a conventional function, 4096
     * for a PCI Express one. */
    void Add(uint32_t bus, uint32_t dev, uint32_t fn, const std::vector<uint8_t>& bytes, uint32_t domain = 0)
    {
        WriteFile(ConfigPath(domain, bus, dev, fn), std::string(bytes.begin(), bytes.end()));
    }
    void Add(uint32_t bus, uint32_t dev, uint32_t fn, const ConfigSpace& space, size_t size)
    {
        std::vector<uint8_t> bytes(space.Bytes().begin(), space.Bytes().begin() + static_cast<long>(size));
        Add(bus, dev, fn, bytes);
    }

    /* qorbsysfs.ini with root = the fake devices folder and more lines. */
    void Ini(const std::string& moreLines = "")
    {
        WriteFile(File("qorbsysfs.ini"), "[sysfs]\nroot = " + Devices() + "\n" + moreLines);
    }
};

/* The sysfs driver loaded with dlopen and its table bound. */
class SysfsDriver : public DriverClient {
public:
    SysfsDriver() : DriverClient(SysfsDriverPath()) {}
};

/* Writes qorbsysfs.ini (root = the fake folder, and more lines) and opens
 * the driver on it. */
inline bool OpenOn(FakeSysfs& fake, SysfsDriver& driver, const std::string& moreLines = "")
{
    fake.Ini(moreLines);
    return driver.Open();
}

/* An ACPI MCFG table image with the given entries. */
struct McfgEntry {
    uint64_t base;
    uint16_t segment;
    uint8_t startBus, endBus;
};
inline std::string McfgTable(const std::vector<McfgEntry>& entries)
{
    std::string table(44 + 16 * entries.size(), '\0');
    auto put = [&](size_t at, uint64_t value, size_t bytes) {
        for (size_t i = 0; i < bytes; ++i)
            table[at + i] = static_cast<char>(value >> (8 * i));
    };
    table.replace(0, 4, "MCFG");
    put(4, table.size(), 4);
    table[8] = 1;  /* revision */
    table.replace(10, 6, "QORBTS");
    size_t at = 44;
    for (const McfgEntry& e : entries) {
        put(at, e.base, 8);
        put(at + 8, e.segment, 2);
        put(at + 10, e.startBus, 1);
        put(at + 11, e.endBus, 1);
        at += 16;
    }
    uint8_t sum = 0;
    for (char c : table)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    table[9] = static_cast<char>(-sum);  /* checksum: all bytes add up to 0 */
    return table;
}

} // namespace qorbtest

#define QORB_SKIP_WITHOUT_SYSFS_DRIVER()                                                   \
    do {                                                                                   \
        if (!*qorbtest::SysfsDriverPath())                                                 \
            GTEST_SKIP() << "the sysfs driver is not part of this build";                  \
    } while (0)

/* A fake devices folder holding function 0000:00:00.0 (its 64-byte
 * header) and the driver loaded directly. */
class SysfsFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        QORB_SKIP_WITHOUT_SYSFS_DRIVER();
        ASSERT_TRUE(driver.Bound());
        fake.Add(0, 0, 0, std::vector<uint8_t>(64, 0x01));
    }

    qorbtest::FakeSysfs fake;
    qorbtest::SysfsDriver driver;
};

#endif
