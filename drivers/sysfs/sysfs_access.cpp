/* Reads and writes of configuration space through the functions' config
 * files.
 *
 * The kernel decides how much of a function it gives: 64 bytes of header to
 * a process without CAP_SYS_ADMIN, 256 bytes for a conventional function,
 * 4096 for a PCI Express one. A transfer answers exactly what pread()/pwrite()
 * moved, and the bytes are passed through unchanged (all-ones from a function
 * that stopped answering included). Nothing is cached, so nothing is stale.
 *
 * A function that goes away while the driver is open (hot removal, a
 * disabled link that takes the device with it) shows as a failed transfer or
 * a config file that is no longer linked into the tree: either answers 0
 * bytes. The location is then opened anew once, so that a function that came
 * back at the same place is served from its new file. */
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sysfs_driver.h"

namespace qorbsysfs {
namespace {

/* Interrupted system calls are retried this many times at most. */
constexpr int kMaxInterrupts = 8;

/* The part of [offset, offset + length) that lies in configuration space. */
uint32_t Clamp(uint32_t offset, uint32_t length)
{
    if (offset >= kConfigSpaceSize)
        return 0;
    return length < kConfigSpaceSize - offset ? length : kConfigSpaceSize - offset;
}

/* pread() or pwrite() until length bytes moved, the file ends, or an error.
 * Answers the bytes moved, or -1 when the first call failed. Every call
 * that moves nothing ends the loop, so it runs at most length + kMaxInterrupts
 * times. */
template <typename Call>
ssize_t TransferAll(Call call, uint32_t length)
{
    uint32_t done = 0;
    int interrupts = 0;
    while (done < length) {
        ssize_t n = call(done);
        if (n < 0 && errno == EINTR && ++interrupts <= kMaxInterrupts)
            continue;
        if (n < 0)
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        if (n == 0)
            break;
        done += static_cast<uint32_t>(n);
    }
    return static_cast<ssize_t>(done);
}

/* A config file that is no longer in the tree (its function was removed). */
bool Removed(int fd)
{
    struct stat st;
    return fstat(fd, &st) != 0 || st.st_nlink == 0;
}

constexpr ssize_t kNotWritable = -2;

/* Runs one transfer on the function's file; see the comment at the top for
 * what a failure leads to. */
template <typename Op>
ssize_t OnFunction(Index* index, Function* function, Op op)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        OpenFile file = AcquireFile(index, function);
        if (file.fd < 0)
            return -1;
        ssize_t n = op(file);
        bool gone = n != kNotWritable && Removed(file.fd);
        ReleaseFile(file);
        if (n == kNotWritable || (n >= 0 && !gone))
            return n;
        if (file.transient)
            return -1;  /* a file opened just now: opening again tells nothing new */
        DropFile(index, function);
    }
    return -1;
}

} // namespace

uint32_t ReadFunction(Index* index, Function* function, uint32_t offset, uint32_t length, uint8_t* buffer)
{
    length = Clamp(offset, length);
    if (length == 0)
        return 0;
    ssize_t n = OnFunction(index, function, [&](const OpenFile& file) {
        return TransferAll([&](uint32_t done) { return pread(file.fd, buffer + done, length - done,
                                                             static_cast<off_t>(offset) + done); },
                           length);
    });
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

uint32_t WriteFunction(Index* index, Function* function, uint32_t offset, uint32_t length,
                       const uint8_t* buffer, int* error)
{
    *error = 0;
    length = Clamp(offset, length);
    if (length == 0)
        return 0;
    errno = 0;
    ssize_t n = OnFunction(index, function, [&](const OpenFile& file) -> ssize_t {
        if (!file.writable)
            return kNotWritable;
        return TransferAll([&](uint32_t done) { return pwrite(file.fd, buffer + done, length - done,
                                                              static_cast<off_t>(offset) + done); },
                           length);
    });
    if (n == kNotWritable)
        *error = EACCES;
    else if (n < 0)
        *error = errno ? errno : ENODEV;
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

uint32_t ReadPath(const std::string& path, uint32_t offset, uint32_t length, uint8_t* buffer)
{
    length = Clamp(offset, length);
    if (length == 0)
        return 0;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    ssize_t n = TransferAll([&](uint32_t done) { return pread(fd, buffer + done, length - done,
                                                              static_cast<off_t>(offset) + done); },
                            length);
    close(fd);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

} // namespace qorbsysfs
