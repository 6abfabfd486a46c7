/* Linux implementation of the platform layer. */
#include "qorb_platform.h"

#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <string.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>

#include <ini.h>

#include <new>
#include <string>

std::string PlatformFileSystemPath(const char* path)
{
    std::string out = path ? path : "";
    for (char& c : out)
        if (c == '\\')
            c = '/';
    return out;
}

FILE* PlatformOpenFile(const char* path, const char* mode)
{
    if (!path || !mode)
        return nullptr;
    FILE* file = fopen(PlatformFileSystemPath(path).c_str(), mode);
    if (!file)
        return nullptr;
    /* Only plain files open: Linux lets a folder be opened for reading, and
     * the open sequence must not take a folder for a driver or INI file. */
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || S_ISDIR(st.st_mode)) {
        fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

namespace {

struct ProfileLookup {
    const char* section;
    const char* key;
    std::string value;
    bool found = false;
};

/* Profile files are read as the Windows profile reader reads them: leading
 * blanks of a line are dropped (an indented "key=value" is a key, never the
 * continuation of the one above), and a line longer than the parser's line
 * buffer is cut there with its rest skipped (the rest never turns into a
 * line of its own). */
char* ProfileReadLine(char* line, int size, void* stream)
{
    FILE* file = static_cast<FILE*>(stream);
    int c = getc(file);
    if (c == EOF)
        return nullptr;
    while (c == ' ' || c == '\t')
        c = getc(file);
    int n = 0;
    while (c != EOF && c != '\n') {
        if (n < size - 1)
            line[n++] = static_cast<char>(c);
        c = getc(file);
    }
    line[n] = '\0';
    return line;
}

/* A value written in matching double or single quotes is answered without
 * them, as the Windows profile reader does. */
std::string Unquote(const char* value)
{
    size_t n = strlen(value);
    if (n >= 2 && (value[0] == '"' || value[0] == '\'') && value[n - 1] == value[0])
        return std::string(value + 1, n - 2);
    return value;
}

int ProfileHandler(void* user, const char* section, const char* name, const char* value)
{
    auto* lookup = static_cast<ProfileLookup*>(user);
    if (!lookup->found && strcasecmp(section, lookup->section) == 0 && strcasecmp(name, lookup->key) == 0) {
        lookup->value = Unquote(value);
        lookup->found = true;
    }
    return 1;
}

uint32_t CopyCut(const char* text, char* out, uint32_t size)
{
    if (!out || size == 0)
        return 0;
    size_t n = strlen(text);
    if (n > size - 1)
        n = size - 1;
    memcpy(out, text, n);
    out[n] = '\0';
    return static_cast<uint32_t>(n);
}

} // namespace

uint32_t PlatformGetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                         char* out, uint32_t size, const char* fileName)
{
    const char* fallback = defaultValue ? defaultValue : "";
    if (!section || !key || !fileName)
        return CopyCut(fallback, out, size);
    ProfileLookup lookup{section, key, {}, false};
    FILE* file = PlatformOpenFile(fileName, "r");
    if (!file)
        return CopyCut(fallback, out, size);
    ini_parse_stream(ProfileReadLine, file, ProfileHandler, &lookup);
    fclose(file);
    return CopyCut(lookup.found ? lookup.value.c_str() : fallback, out, size);
}

uint32_t PlatformGetCurrentDirectory(uint32_t size, char* out)
{
    if (!out || size == 0)
        return 0;
    out[0] = '\0';
    char buffer[4096];
    if (!getcwd(buffer, sizeof buffer))
        return 0;
    size_t n = strlen(buffer);
    if (n > size - 1)
        return 0;
    memcpy(out, buffer, n + 1);
    return static_cast<uint32_t>(n);
}

void* PlatformLoadLibrary(const char* path)
{
    if (!path || !*path)
        return nullptr;
    /* dlopen() looks a name without a '/' up in the system's library path;
     * the driver is the file the caller named, so such a name is taken
     * relative to the current directory. */
    std::string fsPath = PlatformFileSystemPath(path);
    if (fsPath.find('/') == std::string::npos)
        fsPath = "./" + fsPath;
    return dlopen(fsPath.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* PlatformGetProcAddress(void* library, const char* name)
{
    return library ? dlsym(library, name) : nullptr;
}

void PlatformFreeLibrary(void* library)
{
    if (library)
        dlclose(library);
}

void PlatformSleep(uint32_t milliseconds)
{
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

void PlatformGetLocalTime(QORB_LOCAL_TIME_t* time)
{
    time_t now = ::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    time->year = static_cast<uint32_t>(local.tm_year + 1900);
    time->month = static_cast<uint32_t>(local.tm_mon + 1);
    time->day = static_cast<uint32_t>(local.tm_mday);
    time->hour = static_cast<uint32_t>(local.tm_hour);
    time->minute = static_cast<uint32_t>(local.tm_min);
    time->second = static_cast<uint32_t>(local.tm_sec);
}

void PlatformGetSystemInfo(QORB_SYSTEM_INFO_t* info)
{
#if defined(__i386__) || defined(__x86_64__)
    info->processorArchitecture = 0;
#else
    info->processorArchitecture = 0xFFFF;
#endif
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    info->numberOfProcessors = cpus > 0 ? static_cast<uint32_t>(cpus) : 1;
    long page = sysconf(_SC_PAGESIZE);
    info->pageSize = page > 0 ? static_cast<uint32_t>(page) : 4096;
}

namespace {

/* Bytes the process has mapped, from /proc/self/statm (first field, pages). */
uint64_t MappedBytes()
{
    FILE* f = fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    unsigned long long pages = 0;
    if (fscanf(f, "%llu", &pages) != 1)
        pages = 0;
    fclose(f);
    long page = sysconf(_SC_PAGESIZE);
    return pages * static_cast<uint64_t>(page > 0 ? page : 4096);
}

} // namespace

void PlatformGetMemoryStatus(QORB_MEMORY_STATUS_t* status)
{
    *status = QORB_MEMORY_STATUS_t{};
    struct sysinfo si;
    if (sysinfo(&si) == 0) {
        status->totalPhysical = static_cast<uint64_t>(si.totalram) * si.mem_unit;
        status->availablePhysical = static_cast<uint64_t>(si.freeram + si.bufferram) * si.mem_unit;
    }
    /* User address space: 2^47 on 64-bit Linux, 3 GiB for a 32-bit process. */
    uint64_t total = sizeof(void*) == 8 ? (uint64_t{1} << 47) : (uint64_t{3} << 30);
    status->totalVirtual = total;
    uint64_t mapped = MappedBytes();
    status->availableVirtual = mapped < total ? total - mapped : 0;
}

/* Events: a mutex, a condition variable and the signalled state. Waiting
 * consumes the signal (auto-reset). */
namespace {
struct PlatformEvent {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool signaled;
};
} // namespace

void* PlatformCreateEvent()
{
    auto* ev = new (std::nothrow) PlatformEvent;
    if (!ev)
        return nullptr;
    pthread_mutex_init(&ev->mutex, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&ev->cond, &attr);
    pthread_condattr_destroy(&attr);
    ev->signaled = false;
    return ev;
}

void PlatformCloseEvent(void* event)
{
    auto* ev = static_cast<PlatformEvent*>(event);
    if (!ev)
        return;
    pthread_cond_destroy(&ev->cond);
    pthread_mutex_destroy(&ev->mutex);
    delete ev;
}

QORB_WAIT_RESULT_t PlatformWaitEvent(void* event, uint32_t timeoutMs)
{
    auto* ev = static_cast<PlatformEvent*>(event);
    if (!ev)
        return QORB_WAIT_FAILED;
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&ev->mutex);
    int rc = 0;
    while (!ev->signaled && rc == 0) {
        if (timeoutMs == 0xFFFFFFFFu)
            rc = pthread_cond_wait(&ev->cond, &ev->mutex);
        else
            rc = pthread_cond_timedwait(&ev->cond, &ev->mutex, &deadline);
    }
    QORB_WAIT_RESULT_t result;
    if (ev->signaled) {
        ev->signaled = false;
        result = QORB_WAIT_SIGNALED;
    } else {
        result = rc == ETIMEDOUT ? QORB_WAIT_TIMEOUT : QORB_WAIT_FAILED;
    }
    pthread_mutex_unlock(&ev->mutex);
    return result;
}

int PlatformSetEvent(void* event)
{
    auto* ev = static_cast<PlatformEvent*>(event);
    if (!ev)
        return 0;
    pthread_mutex_lock(&ev->mutex);
    ev->signaled = true;
    pthread_cond_signal(&ev->cond);
    pthread_mutex_unlock(&ev->mutex);
    return 1;
}

int PlatformResetEvent(void* event)
{
    auto* ev = static_cast<PlatformEvent*>(event);
    if (!ev)
        return 0;
    pthread_mutex_lock(&ev->mutex);
    ev->signaled = false;
    pthread_mutex_unlock(&ev->mutex);
    return 1;
}
