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

ScratchDir::ScratchDir() {
    char tmpl[] = "/tmp/qorbtest-XXXXXX", cwd[4096];
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    m_path = tmpl, m_oldCwd = getcwd(cwd, sizeof cwd) ? cwd : "";
    if (chdir(m_path.c_str()) != 0) throw std::runtime_error("chdir failed");
}

ScratchDir::~ScratchDir() {
    if (!m_oldCwd.empty() && chdir(m_oldCwd.c_str()) != 0) { }
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void WriteFile(const std::string& path, const std::string& text) {
    if (std::filesystem::path p(path); p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string ReadFile(const std::string& path) {
    std::ostringstream ss;
    ss << std::ifstream(path, std::ios::binary).rdbuf();
    return ss.str();
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string DumpText(const std::vector<DumpFunction>& functions) {
    std::string out;
    char line[128];
    for (const DumpFunction& f : functions) {
        snprintf(line, sizeof line, "%02x:%02x.%x Test function\n", f.bus, f.dev, f.fn);
        out += line;
        const auto& bytes = f.space.Bytes();
        for (size_t off = 0; off < bytes.size(); off += 16) {
            snprintf(line, sizeof line, off < 0x100 ? "%02zx:" : "%03zx:", off);
            out += line;
            for (size_t i = off; i < off + 16 && i < bytes.size(); ++i)
                snprintf(line, sizeof line, " %02x", bytes[i]), out += line;
            out += "\n";
        }
        out += "\n";
    }
    return out;
}

SimPlatform::SimPlatform(
    const std::vector<DumpFunction>& functions, const std::string& extraIni, const std::string& driverPath) {
    WriteFile(File("platform.txt"), DumpText(functions));
    WriteFile(File("qorbsim.ini"), "[platform]\ndump = platform.txt\n" + extraIni);
    Open(driverPath);
}

void SimPlatform::Open(const std::string& driverPath) {
#ifdef QORB_SIM_DRIVER_PATH
    const std::string path = driverPath.empty() ? QORB_SIM_DRIVER_PATH : driverPath;
#else
    const std::string path = driverPath;
#endif
    m_status = path.empty() ? QORB_STATUS_FAILED : OpenQORBEx(&m_instance, 0, path.c_str(), 0xE0000000ull, 0);
}

CaptureFd::CaptureFd(int fd)
    : m_fd(fd) {
    char tmpl[] = "/tmp/qorbcap-XXXXXX";
    int tmp = mkstemp(tmpl);
    if (tmp < 0) throw std::runtime_error("mkstemp failed");
    m_file = tmpl;
    fflush(fd == 1 ? stdout : stderr);
    m_saved = dup(fd), dup2(tmp, fd), close(tmp);
}

std::string CaptureFd::Text() {
    if (!m_done) {
        m_done = true;
        fflush(m_fd == 1 ? stdout : stderr);
        dup2(m_saved, m_fd), close(m_saved);
        m_text = ReadFile(m_file);
        unlink(m_file.c_str());
    }
    return m_text;
}

std::string RunCommand(const std::string& command, int* exitCode) {
    std::string out;
    int status = -1;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        status = pclose(pipe);
        status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (exitCode) *exitCode = status;
    return out;
}

std::string PlatformsDir() {
    struct stat st;
    return stat(QORB_PLATFORMS_DIR, &st) == 0 && S_ISDIR(st.st_mode) ? QORB_PLATFORMS_DIR : "";
}

bool HaveLspci() {
    int code = 0;
    RunCommand("lspci --version >/dev/null 2>&1", &code);
    return code == 0;
}

} // namespace qorbtest
