#include "qorb_test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qorbtest {

ScratchDir::ScratchDir()
{
    char tmpl[] = "/tmp/qorbtest-XXXXXX";
    if (!mkdtemp(tmpl))
        throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd))
        m_oldCwd = cwd;
    if (chdir(m_path.c_str()) != 0)
        throw std::runtime_error("chdir failed");
}

ScratchDir::~ScratchDir()
{
    if (!m_oldCwd.empty() && chdir(m_oldCwd.c_str()) != 0) {
    }
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::filesystem::path p(path);
    if (p.has_parent_path())
        std::filesystem::create_directories(p.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

ConfigSpace& ConfigSpace::Set8(uint32_t offset, uint8_t value)
{
    m_bytes.at(offset) = value;
    return *this;
}

ConfigSpace& ConfigSpace::Set16(uint32_t offset, uint16_t value)
{
    Set8(offset, static_cast<uint8_t>(value));
    return Set8(offset + 1, static_cast<uint8_t>(value >> 8));
}

ConfigSpace& ConfigSpace::Set32(uint32_t offset, uint32_t value)
{
    Set16(offset, static_cast<uint16_t>(value));
    return Set16(offset + 2, static_cast<uint16_t>(value >> 16));
}

ConfigSpace& ConfigSpace::Header(uint16_t vendor, uint16_t device, uint8_t baseClass, uint8_t subClass,
                                 uint8_t progIf, uint8_t headerType)
{
    Set16(0x00, vendor);
    Set16(0x02, device);
    Set8(0x09, progIf);
    Set8(0x0A, subClass);
    Set8(0x0B, baseClass);
    return Set8(0x0E, headerType);
}

ConfigSpace& ConfigSpace::CapPointer(uint8_t pointer)
{
    Set8(0x34, pointer);
    uint16_t status = static_cast<uint16_t>(m_bytes[6] | (m_bytes[7] << 8));
    if (pointer)
        status |= 0x0010;
    else
        status &= static_cast<uint16_t>(~0x0010);
    return Set16(0x06, status);
}

ConfigSpace& ConfigSpace::Buses(uint8_t primary, uint8_t secondary, uint8_t subordinate)
{
    Set8(0x18, primary);
    Set8(0x19, secondary);
    return Set8(0x1A, subordinate);
}

ConfigSpace& ConfigSpace::LegacyCap(uint8_t offset, uint8_t id, uint8_t next)
{
    Set8(offset, id);
    return Set8(offset + 1, next);
}

ConfigSpace& ConfigSpace::PcieCap(uint8_t offset, uint8_t portType, uint8_t next)
{
    LegacyCap(offset, 0x10, next);
    return Set16(offset + 2, static_cast<uint16_t>(0x0002 | ((portType & 0xF) << 4)));
}

ConfigSpace& ConfigSpace::ExtCap(uint16_t offset, uint16_t id, uint16_t next)
{
    return Set32(offset, static_cast<uint32_t>(id) | (1u << 16) | (static_cast<uint32_t>(next) << 20));
}

std::string DumpText(const std::vector<DumpFunction>& functions)
{
    std::string out;
    char line[128];
    for (const DumpFunction& f : functions) {
        snprintf(line, sizeof line, "%02x:%02x.%x Test function\n", f.bus, f.dev, f.fn);
        out += line;
        const auto& bytes = f.space.Bytes();
        for (size_t off = 0; off < bytes.size(); off += 16) {
            snprintf(line, sizeof line, "%02zx:", off & 0xFFF);
            std::string row = off < 0x100 ? line : "";
            if (off >= 0x100) {
                snprintf(line, sizeof line, "%03zx:", off);
                row = line;
            }
            for (size_t i = 0; i < 16 && off + i < bytes.size(); ++i) {
                snprintf(line, sizeof line, " %02x", bytes[off + i]);
                row += line;
            }
            out += row + "\n";
        }
        out += "\n";
    }
    return out;
}

SimPlatform::SimPlatform(const std::vector<DumpFunction>& functions, const std::string& extraIni)
{
    WriteFile(File("platform.txt"), DumpText(functions));
    WriteFile(File("qorbsim.ini"), "[platform]\ndump = platform.txt\n" + extraIni);
    Open();
}

SimPlatform::SimPlatform(const std::vector<DumpFunction>& functions, const std::string& extraIni,
                         const std::string& driverPath)
{
    WriteFile(File("platform.txt"), DumpText(functions));
    WriteFile(File("qorbsim.ini"), "[platform]\ndump = platform.txt\n" + extraIni);
    Open(driverPath);
}

SimPlatform::SimPlatform(const std::vector<std::string>& dumpFiles)
{
    std::string ini = "[platform]\n";
    for (const std::string& file : dumpFiles)
        ini += "dump = " + file + "\n";
    WriteFile(File("qorbsim.ini"), ini);
    Open();
}

SimPlatform::SimPlatform()
{
    Open();
}

void SimPlatform::Open(const std::string& driverPath)
{
    if (!driverPath.empty()) {
        m_status = OpenQORBEx(&m_instance, 0, driverPath.c_str(), 0xE0000000ull, 0);
        return;
    }
#ifdef QORB_SIM_DRIVER_PATH
    m_status = OpenQORBEx(&m_instance, 0, QORB_SIM_DRIVER_PATH, 0xE0000000ull, 0);
#else
    m_status = QORB_STATUS_FAILED;
#endif
}

SimPlatform::~SimPlatform()
{
    if (m_status == QORB_SUCCESS)
        CloseQORB(m_instance);
}

CaptureFd::CaptureFd(int fd) : m_fd(fd)
{
    char tmpl[] = "/tmp/qorbcap-XXXXXX";
    int tmp = mkstemp(tmpl);
    if (tmp < 0)
        throw std::runtime_error("mkstemp failed");
    m_file = tmpl;
    fflush(fd == 1 ? stdout : stderr);
    m_saved = dup(fd);
    dup2(tmp, fd);
    close(tmp);
}

void CaptureFd::Stop()
{
    if (m_done)
        return;
    m_done = true;
    fflush(m_fd == 1 ? stdout : stderr);
    dup2(m_saved, m_fd);
    close(m_saved);
    m_text = ReadFile(m_file);
    unlink(m_file.c_str());
}

std::string CaptureFd::Text()
{
    Stop();
    return m_text;
}

CaptureFd::~CaptureFd()
{
    Stop();
}

std::string RunCommand(const std::string& command, int* exitCode)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (exitCode)
            *exitCode = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    int status = pclose(pipe);
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string PlatformsDir()
{
    std::string dir = QORB_PLATFORMS_DIR;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return dir;
    return "";
}

bool HaveLspci()
{
    int code = 0;
    RunCommand("lspci --version >/dev/null 2>&1", &code);
    return code == 0;
}

} // namespace qorbtest
