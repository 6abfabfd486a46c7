/* The platform layer: every service of the operating system that the library
 * uses goes through here, so that a port to another system replaces one file.
 *
 * Paths handed to the file system may be written with backslashes, as the
 * library composes them; the layer turns every backslash into '/' before the
 * path reaches the file system. */
#ifndef QORB_PLATFORM_H
#define QORB_PLATFORM_H

#include <stdint.h>
#include <stdio.h>

#include <string>

/* INI files: GetPrivateProfileString semantics. A missing file, section or
 * key yields the default; section and key are compared without case; the
 * first matching key wins; a value in matching quotes loses them; the value
 * is cut to size - 1 characters. Lines starting with ';' or '#' are comments,
 * and so is the rest of a line from a ';' that follows a blank. A file name
 * without a folder is taken from the current directory. Answers the number
 * of characters stored, terminator excluded. */
uint32_t PlatformGetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                         char* out, uint32_t size, const char* fileName);

/* The current directory. Answers its length, or 0 when it cannot be had or
 * does not fit in size - 1 characters (the buffer then holds an empty text). */
uint32_t PlatformGetCurrentDirectory(uint32_t size, char* out);

/* A path as the file system takes it: backslashes become '/'. */
std::string PlatformFileSystemPath(const char* path);

/* fopen() of a plain file whose path is written with either separator; a
 * folder does not open. */
FILE* PlatformOpenFile(const char* path, const char* mode);

/* Shared objects: the driver "DLL". A path without a folder names a file
 * in the current directory (never one found through the library path). */
void* PlatformLoadLibrary(const char* path);
void* PlatformGetProcAddress(void* library, const char* name);
void PlatformFreeLibrary(void* library);

/* Suspends the calling thread. */
void PlatformSleep(uint32_t milliseconds);

struct QORB_LOCAL_TIME_t {
    uint32_t year, month, day, hour, minute, second;
};
/* The local clock; always succeeds. */
void PlatformGetLocalTime(QORB_LOCAL_TIME_t* time);

struct QORB_SYSTEM_INFO_t {
    uint32_t processorArchitecture; /* 0: the x86 family (x86 and x86-64); 0xFFFF: anything else */
    uint32_t numberOfProcessors;
    uint32_t pageSize;              /* bytes */
};
void PlatformGetSystemInfo(QORB_SYSTEM_INFO_t* info);

struct QORB_MEMORY_STATUS_t {
    uint64_t totalPhysical;         /* bytes */
    uint64_t availablePhysical;
    uint64_t totalVirtual;          /* address space of the build's pointer width */
    uint64_t availableVirtual;      /* that, less what the process has mapped */
};
void PlatformGetMemoryStatus(QORB_MEMORY_STATUS_t* status);

/* Auto-reset events. */
enum QORB_WAIT_RESULT_t { QORB_WAIT_SIGNALED, QORB_WAIT_TIMEOUT, QORB_WAIT_FAILED };
void* PlatformCreateEvent();              /* non-signalled; null on failure */
void PlatformCloseEvent(void* event);
QORB_WAIT_RESULT_t PlatformWaitEvent(void* event, uint32_t timeoutMs); /* 0xFFFFFFFF waits for ever */
int PlatformSetEvent(void* event);
int PlatformResetEvent(void* event);

#endif
