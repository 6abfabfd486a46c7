/* The index of the domain's functions: which locations have a config file,
 * found once when the driver opens, and the files kept open.
 *
 * Folder entries are the names Linux gives functions, DDDD:BB:DD.F; entries
 * of other domains, other names and entries without a config file are left
 * out. A function that appears after the open (hot plug) is not in the
 * index: it answers 0 bytes until the driver is opened again.
 *
 * Files are opened at once and kept while the driver is open, up to half of
 * the process's open-file limit; functions beyond that (very large machines)
 * open their file for each access instead. A file that cannot be opened now
 * is tried again on its next access. */
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "sysfs_driver.h"

namespace qorbsysfs {
namespace {

/* Entries looked at in the devices folder; far above any machine's count of
 * functions, it only bounds the walk of a folder that is not what it seems. */
constexpr size_t kMaxEntries = 1u << 20;

size_t MaxKeptFiles()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 512;
    return static_cast<size_t>(limit.rlim_cur / 2);
}

bool IsHexDigits(const char* text, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (!isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

uint32_t HexValue(const char* text, size_t count)
{
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) {
        char c = text[i];
        uint32_t digit = (c >= '0' && c <= '9') ? static_cast<uint32_t>(c - '0')
                                                : static_cast<uint32_t>((c | 0x20) - 'a' + 10);
        value = (value << 4) | digit;
    }
    return value;
}

} // namespace

std::string FunctionName(uint32_t domain, uint32_t bus, uint32_t dev, uint32_t fn)
{
    char name[32];
    snprintf(name, sizeof name, "%04x:%02x:%02x.%x", domain, bus & 0xFF, dev & 0x1F, fn & 0x7);
    return name;
}

bool ParseFunctionName(const char* name, uint32_t* domain, uint32_t* bus, uint32_t* dev, uint32_t* fn)
{
    /* DDDD[DDDD] ":" BB ":" DD "." F */
    size_t length = strlen(name);
    if (length < 12 || length > 16)
        return false;
    size_t domainDigits = length - 8;
    const char* rest = name + domainDigits;
    if (!IsHexDigits(name, domainDigits) || rest[0] != ':' || !IsHexDigits(rest + 1, 2) || rest[3] != ':' ||
        !IsHexDigits(rest + 4, 2) || rest[6] != '.' || rest[7] < '0' || rest[7] > '7')
        return false;
    uint32_t device = HexValue(rest + 4, 2);
    if (device >= kDevices)
        return false;
    *domain = HexValue(name, domainDigits);
    *bus = HexValue(rest + 1, 2);
    *dev = device;
    *fn = static_cast<uint32_t>(rest[7] - '0');
    return true;
}

static int OpenConfig(const std::string& path, bool writable, bool* openedWritable)
{
    *openedWritable = false;
    if (writable) {
        int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            *openedWritable = true;
            return fd;
        }
        /* Not permitted (not root, read-only file system): serve reads, and
         * let writes fail with their own message. */
    }
    return open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

bool BuildIndex(const std::string& root, uint32_t domain, bool writable, Index* index)
{
    CloseIndex(index);
    index->writable = writable;
    index->maxKept = MaxKeptFiles();
    DIR* dir = opendir(root.c_str());
    if (!dir) {
        fprintf(stderr, "qorbsysfs: cannot list %s: %s\n", root.c_str(), strerror(errno));
        return false;
    }
    size_t seen = 0;
    while (struct dirent* entry = readdir(dir)) {
        if (++seen > kMaxEntries) {
            fprintf(stderr, "qorbsysfs: %s holds more than %zu entries; the rest are left out\n", root.c_str(),
                    kMaxEntries);
            break;
        }
        uint32_t entryDomain, bus, dev, fn;
        if (!ParseFunctionName(entry->d_name, &entryDomain, &bus, &dev, &fn))
            continue;
        auto known = std::lower_bound(index->domains.begin(), index->domains.end(), entryDomain);
        if (known == index->domains.end() || *known != entryDomain)
            index->domains.insert(known, entryDomain);
        if (entryDomain != domain)
            continue;
        std::string path = root + "/" + entry->d_name + "/config";
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        uint32_t location = LocationOf(bus, dev, fn);
        if (index->slot[location] >= 0)
            continue;  /* the same location under another spelling of the domain */
        Function function;
        function.configPath = std::move(path);
        function.bus = static_cast<uint8_t>(bus);
        function.dev = static_cast<uint8_t>(dev);
        function.fn = static_cast<uint8_t>(fn);
        index->slot[location] = static_cast<int32_t>(index->functions.size());
        index->functions.push_back(std::move(function));
    }
    closedir(dir);

    for (Function& f : index->functions)
        ReleaseFile(AcquireFile(index, &f));
    return true;
}

OpenFile AcquireFile(Index* index, Function* function)
{
    if (function->fd >= 0)
        return OpenFile{function->fd, false, function->writable};
    OpenFile file{-1, false, false};
    file.fd = OpenConfig(function->configPath, index->writable, &file.writable);
    if (file.fd < 0)
        return file;
    if (index->kept >= index->maxKept) {
        file.transient = true;
        return file;
    }
    function->fd = file.fd;
    function->writable = file.writable;
    ++index->kept;
    return file;
}

void ReleaseFile(const OpenFile& file)
{
    if (file.transient && file.fd >= 0)
        close(file.fd);
}

void DropFile(Index* index, Function* function)
{
    if (function->fd < 0)
        return;
    close(function->fd);
    function->fd = -1;
    function->writable = false;
    --index->kept;
}

void CloseIndex(Index* index)
{
    for (Function& f : index->functions)
        DropFile(index, &f);
    index->functions.clear();
    index->slot.fill(-1);
    index->kept = 0;
    index->domains.clear();
}

} // namespace qorbsysfs
