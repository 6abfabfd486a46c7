/* Helpers shared by the tests: scratch folders, files, dumps, platforms on the simulated driver, captured output. */
#ifndef QORB_TEST_SUPPORT_H
#define QORB_TEST_SUPPORT_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include <qorb/qorb.h>

namespace qorbtest {

/* A fresh folder under /tmp, the current directory while the object lives; then removed. */
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

private:
    std::string m_path, m_oldCwd;
};

void WriteFile(const std::string& path, const std::string& text); /* makes the folders too */
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
/* path as a Windows caller writes it. */
inline std::string Backslashed(std::string path) {
    for (char& c : path) c = c == '/' ? '\\' : c;
    return path;
}

/* One function's configuration space, built byte by byte (little-endian). */
class ConfigSpace {
public:
    explicit ConfigSpace(size_t size = 4096)
        : m_bytes(size, 0) { }
    ConfigSpace& Set8(uint32_t offset, uint8_t value) { return m_bytes.at(offset) = value, *this; }
    ConfigSpace& Set16(uint32_t at, uint16_t value) { return Set8(at, uint8_t(value)).Set8(at + 1, value >> 8); }
    ConfigSpace& Set32(uint32_t at, uint32_t value) { return Set16(at, uint16_t(value)).Set16(at + 2, value >> 16); }
    uint8_t Get8(uint32_t offset) const { return m_bytes.at(offset); }
    size_t Size() const { return m_bytes.size(); }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    ConfigSpace& Header(
        uint16_t vendor, uint16_t device, uint8_t baseClass, uint8_t subClass, uint8_t progIf, uint8_t headerType) {
        Set16(0, vendor).Set16(2, device).Set8(9, progIf).Set8(10, subClass);
        return Set8(11, baseClass).Set8(14, headerType);
    }
    /* The capability pointer; the Capabilities List status bit follows it. */
    ConfigSpace& CapPointer(uint8_t pointer) {
        return Set8(0x34, pointer).Set8(6, uint8_t(pointer ? m_bytes[6] | 0x10 : m_bytes[6] & ~0x10));
    }
    ConfigSpace& Buses(uint8_t primary, uint8_t secondary, uint8_t subordinate) {
        return Set8(0x18, primary).Set8(0x19, secondary).Set8(0x1A, subordinate);
    }
    ConfigSpace& LegacyCap(uint8_t offset, uint8_t id, uint8_t next) { return Set8(offset, id).Set8(offset + 1, next); }
    /* A PCI Express capability (version 2) with the port type. */
    ConfigSpace& PcieCap(uint8_t offset, uint8_t portType, uint8_t next) {
        return LegacyCap(offset, 0x10, next).Set16(offset + 2, uint16_t(0x0002 | ((portType & 0xF) << 4)));
    }
    /* An extended capability header, version 1. */
    ConfigSpace& ExtCap(uint16_t offset, uint16_t id, uint16_t next) {
        return Set32(offset, uint32_t(id) | (1u << 16) | (uint32_t(next) << 20));
    }

private:
    std::vector<uint8_t> m_bytes;
};

struct DumpFunction {
    uint8_t bus, dev, fn;
    ConfigSpace space;
};

/* The functions as "lspci -xxxx" text ("BB:DD.F description" then hex lines). */
std::string DumpText(const std::vector<DumpFunction>& functions);

/* An instance on the simulated driver (or driverPath) in a scratch folder: over the functions' dump with
 * extraIni appended to qorbsim.ini, or the built-in platform. */
class SimPlatform : public ScratchDir {
public:
    SimPlatform(const std::vector<DumpFunction>& functions, const std::string& extraIni = "",
        const std::string& driverPath = "");
    explicit SimPlatform(const std::string& driverPath = "") { Open(driverPath); }
    ~SimPlatform() {
        if (m_status == QORB_SUCCESS) CloseQORB(m_instance);
    }
    void* Instance() const { return m_instance; }
    _QORB_STATUS_t OpenStatus() const { return m_status; }

private:
    void Open(const std::string& driverPath = "");
    void* m_instance = nullptr;
    _QORB_STATUS_t m_status = QORB_STATUS_FAILED;
};

/* A device record FindDevice made for a location, closed at the end. */
class FoundDevice {
public:
    FoundDevice(uint8_t bus, uint8_t dev, uint8_t fn)
        : m_status(FindDevice(bus, dev, fn, &m_handle)) { }
    ~FoundDevice() {
        if (m_handle) CloseDevice(m_handle);
    }
    void* operator*() const { return m_handle; }
    _QORB_STATUS_t Status() const { return m_status; }
    FoundDevice(const FoundDevice&) = delete;
    FoundDevice& operator=(const FoundDevice&) = delete;

private:
    void* m_handle = nullptr;
    _QORB_STATUS_t m_status;
};

/* What is written to standard stream fd (1 or 2) from construction to Text(). */
class CaptureFd {
public:
    explicit CaptureFd(int fd);
    ~CaptureFd() { Text(); }
    std::string Text();
    CaptureFd(const CaptureFd&) = delete;
    CaptureFd& operator=(const CaptureFd&) = delete;

private:
    int m_fd, m_saved = -1;
    std::string m_file, m_text;
    bool m_done = false;
};

/* A shell command's standard output; its exit status (-1: none) in *exitCode. */
std::string RunCommand(const std::string& command, int* exitCode = nullptr);

/* The folder of real dumps, or "" when it is not there. */
std::string PlatformsDir();
bool HaveLspci();

} // namespace qorbtest

#endif
