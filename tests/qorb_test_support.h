/* Helpers shared by the tests: scratch folders, dump writing, platforms on
 * the simulated driver, and capture of standard output and error. */
#ifndef QORB_TEST_SUPPORT_H
#define QORB_TEST_SUPPORT_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include <qorb/qorb.h>

namespace qorbtest {

/* A fresh folder under /tmp that becomes the current directory for the
 * object's lifetime; the old directory is restored and the folder removed
 * at the end. */
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

private:
    std::string m_path;
    std::string m_oldCwd;
};

void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
/* path with every '/' turned into a backslash, as a Windows caller writes it. */
inline std::string Backslashed(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

/* One function's configuration space, built byte by byte. */
class ConfigSpace {
public:
    explicit ConfigSpace(size_t size = 4096) : m_bytes(size, 0) {}
    ConfigSpace& Set8(uint32_t offset, uint8_t value);
    ConfigSpace& Set16(uint32_t offset, uint16_t value);
    ConfigSpace& Set32(uint32_t offset, uint32_t value);
    uint8_t Get8(uint32_t offset) const { return m_bytes.at(offset); }
    size_t Size() const { return m_bytes.size(); }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

    /* Shorthands for a header: IDs, class, header type, and a capability
     * pointer (sets the Capabilities List status bit when non-zero). */
    ConfigSpace& Header(uint16_t vendor, uint16_t device, uint8_t baseClass, uint8_t subClass, uint8_t progIf,
                        uint8_t headerType);
    ConfigSpace& CapPointer(uint8_t pointer);
    /* A type 1 header's bus numbers. */
    ConfigSpace& Buses(uint8_t primary, uint8_t secondary, uint8_t subordinate);
    /* A legacy capability at offset: ID and next pointer. */
    ConfigSpace& LegacyCap(uint8_t offset, uint8_t id, uint8_t next);
    /* A PCI Express capability at offset with the port type (bits 7:4 of the
     * capabilities register, version 2) and next pointer. */
    ConfigSpace& PcieCap(uint8_t offset, uint8_t portType, uint8_t next);
    /* An extended capability header at offset (ID, version 1, next). */
    ConfigSpace& ExtCap(uint16_t offset, uint16_t id, uint16_t next);

private:
    std::vector<uint8_t> m_bytes;
};

struct DumpFunction {
    uint8_t bus, dev, fn;
    ConfigSpace space;
};

/* The functions as "lspci -xxxx" text ("BB:DD.F description" then hex lines). */
std::string DumpText(const std::vector<DumpFunction>& functions);

/* A platform on the simulated driver: a scratch folder holding the dumps and
 * the simulator's configuration (qorbsim.ini), opened with OpenQORBEx. The
 * instance is closed at the end. extraIni is appended to qorbsim.ini. */
class SimPlatform : public ScratchDir {
public:
    explicit SimPlatform(const std::vector<DumpFunction>& functions, const std::string& extraIni = "");
    /* The same, opened through another configuration driver (for example a
     * test driver that wraps the simulator). */
    SimPlatform(const std::vector<DumpFunction>& functions, const std::string& extraIni, const std::string& driverPath);
    /* The simulator on existing dump files (absolute paths). */
    explicit SimPlatform(const std::vector<std::string>& dumpFiles);
    /* The simulator's built-in platform. */
    SimPlatform();
    ~SimPlatform();
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
    FoundDevice(uint8_t bus, uint8_t dev, uint8_t fn) : m_status(FindDevice(bus, dev, fn, &m_handle)) {}
    ~FoundDevice()
    {
        if (m_handle)
            CloseDevice(m_handle);
    }
    void* operator*() const { return m_handle; }
    _QORB_STATUS_t Status() const { return m_status; }
    FoundDevice(const FoundDevice&) = delete;
    FoundDevice& operator=(const FoundDevice&) = delete;

private:
    void* m_handle = nullptr;
    _QORB_STATUS_t m_status;
};

/* Captures what is written to a standard stream (1 or 2) between
 * construction and Text(). */
class CaptureFd {
public:
    explicit CaptureFd(int fd);
    ~CaptureFd();
    std::string Text();   /* stops capturing and returns what was written */
    CaptureFd(const CaptureFd&) = delete;
    CaptureFd& operator=(const CaptureFd&) = delete;

private:
    void Stop();
    int m_fd;
    int m_saved = -1;
    std::string m_file;
    std::string m_text;
    bool m_done = false;
};

/* Runs a shell command and returns its standard output; status in *exitCode. */
std::string RunCommand(const std::string& command, int* exitCode = nullptr);

/* The folder of real dumps, or "" when it is not there. */
std::string PlatformsDir();
bool HaveLspci();

} // namespace qorbtest

#endif
