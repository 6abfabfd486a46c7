/* Where the tool's output goes: results on the original standard output,
 * one line per problem on standard error, and the library's diagnostic
 * lines kept out of both unless --debug asks for them. Output files appear
 * under their names only once they are complete. */
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tool.h"

namespace qorbtool {

namespace {

FILE* g_out = stdout;
bool g_debug = false;

/* The temporary files of the output files not yet renamed, removed when a
 * signal ends the tool (a closed pipe, Ctrl-C) as when it stops early. */
constexpr int kMaxTemporaries = 8;
char g_temporaries[kMaxTemporaries][PATH_MAX];

void RemoveTemporaries(int signal)
{
    for (char* path : g_temporaries)
        if (path[0])
            unlink(path);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

void Track(const std::string& path, bool add)
{
    static bool handlers = false;
    if (!handlers) {
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            signal(s, RemoveTemporaries);
        handlers = true;
    }
    for (char* slot : g_temporaries) {
        if (add && !slot[0] && path.size() < PATH_MAX) {
            memcpy(slot, path.c_str(), path.size() + 1);
            return;
        }
        if (!add && path == slot) {
            slot[0] = '\0';
            return;
        }
    }
}

} // namespace

FILE* Out() { return g_out; }

void InitOutput(bool libraryDiagnostics)
{
    g_debug = libraryDiagnostics;
    fflush(stdout);
    int results = dup(STDOUT_FILENO);
    if (results < 0)
        return;
    FILE* out = fdopen(results, "w");
    if (!out) {
        close(results);
        return;
    }
    setvbuf(out, nullptr, _IOLBF, 0);
    /* The library prints its diagnostics with printf: they go to standard
     * error with --debug, else nowhere. */
    int target = libraryDiagnostics ? dup(STDERR_FILENO) : open("/dev/null", O_WRONLY);
    if (target >= 0) {
        dup2(target, STDOUT_FILENO);
        close(target);
    }
    if (libraryDiagnostics)
        setvbuf(stdout, nullptr, _IOLBF, 0); /* in order with the tool's lines */
    g_out = out;
}

std::string OneLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

Quiet::Quiet()
{
    if (g_debug)
        return;
    m_capture = memfd_create("qorb-diagnostics", MFD_CLOEXEC);
    if (m_capture < 0)
        return;
    fflush(stdout);
    fflush(stderr);
    m_savedOut = dup(STDOUT_FILENO);
    m_savedErr = dup(STDERR_FILENO);
    dup2(m_capture, STDOUT_FILENO);
    dup2(m_capture, STDERR_FILENO);
}

Quiet::~Quiet()
{
    if (m_capture < 0)
        return;
    Restore();
    close(m_capture);
}

void Quiet::Restore()
{
    if (m_savedOut < 0)
        return;
    fflush(stdout);
    fflush(stderr);
    dup2(m_savedOut, STDOUT_FILENO);
    dup2(m_savedErr, STDERR_FILENO);
    close(m_savedOut);
    close(m_savedErr);
    m_savedOut = m_savedErr = -1;
}

std::vector<std::string> Quiet::DriverLines()
{
    std::vector<std::string> lines;
    if (m_capture < 0)
        return lines;
    Restore();
    std::string text;
    char block[4096];
    ssize_t n;
    /* Bounded: the capture holds what a few library calls printed. */
    for (off_t at = 0; text.size() < (1u << 20) && (n = pread(m_capture, block, sizeof block, at)) > 0; at += n)
        text.append(block, static_cast<size_t>(n));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        /* The drivers' own lines name them ("qorbsim: ", "qorbsysfs: "); the
         * library's never start that way. */
        size_t colon = line.find(": ");
        if (line.compare(0, 4, "qorb") == 0 && colon != std::string::npos && colon > 4 &&
            line.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == colon)
            lines.push_back(OneLine(line));
    }
    return lines;
}

OutputFile::OutputFile(const std::string& path, const char* what) : m_path(path), m_what(what)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        /* A device or a pipe (/dev/stdout): written in place. */
        m_writePath = path;
        int fd = open(path.c_str(), O_WRONLY);
        if (fd < 0)
            throw UsageError("cannot write the " + m_what + " " + path + ": " + strerror(errno));
        close(fd);
        return;
    }
    std::vector<char> copy(path.begin(), path.end());
    copy.push_back('\0');
    std::string dir = dirname(copy.data());
    std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    std::vector<char> temp;
    std::string pattern = dir + "/." + name + ".XXXXXX";
    temp.assign(pattern.begin(), pattern.end());
    temp.push_back('\0');
    int fd = mkstemp(temp.data());
    if (fd < 0)
        throw UsageError("cannot write the " + m_what + " " + path + ": " + strerror(errno));
    /* mkstemp makes the file private; the finished file gets the usual mode. */
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    m_writePath = temp.data();
    m_temporary = true;
    Track(m_writePath, true);
}

OutputFile::~OutputFile()
{
    if (!m_temporary)
        return;
    unlink(m_writePath.c_str());
    Track(m_writePath, false);
}

void OutputFile::Write(const std::string& text)
{
    FILE* f = fopen(m_writePath.c_str(), "w");
    bool ok = f && fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f && fclose(f) != 0)
        ok = false;
    if (!ok)
        throw UsageError("cannot write the " + m_what + " " + m_path +
                         (errno ? std::string(": ") + strerror(errno) : ""));
}

void OutputFile::Commit()
{
    if (!m_temporary)
        return;
    if (rename(m_writePath.c_str(), m_path.c_str()) != 0)
        throw UsageError("cannot write the " + m_what + " " + m_path + ": " + strerror(errno));
    Track(m_writePath, false);
    m_temporary = false;
}

} // namespace qorbtool
