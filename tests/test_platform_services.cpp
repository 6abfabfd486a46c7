/* The platform layer's services besides INI files: paths and files, shared
 * objects, sleeping, the clock, system facts and events. */
#include <gtest/gtest.h>

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <tuple>

#include "qorb_platform.h"
#include "qorb_test_support.h"
#include "tdrv_harness.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(PlatformFiles, CurrentDirectory)
{
    qorbtest::ScratchDir scratch;
    char out[512];
    EXPECT_EQ(PlatformGetCurrentDirectory(sizeof out, out), scratch.Path().size());
    EXPECT_EQ(std::string(out), scratch.Path());
    /* One character short of room for the terminator. */
    uint32_t size = static_cast<uint32_t>(scratch.Path().size());
    EXPECT_EQ(PlatformGetCurrentDirectory(size, out), 0u);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(PlatformGetCurrentDirectory(size + 1, out), size);
}

TEST(PlatformFiles, BackslashPathsOpenPlainFilesOnly)
{
    qorbtest::ScratchDir scratch;
    qorbtest::WriteFile(scratch.File("a/b.txt"), "content");
    EXPECT_EQ(PlatformFileSystemPath("a\\b.txt"), "a/b.txt");
    EXPECT_EQ(PlatformFileSystemPath(nullptr), "");
    FILE* f = PlatformOpenFile("a\\b.txt", "r");
    ASSERT_NE(f, nullptr);
    char text[16] = {};
    EXPECT_EQ(fread(text, 1, sizeof text - 1, f), 7u);
    fclose(f);
    EXPECT_STREQ(text, "content");
    EXPECT_EQ(PlatformOpenFile("a", "r"), nullptr) << "a folder is no file";
    EXPECT_EQ(PlatformOpenFile("a\\missing", "r"), nullptr);
    EXPECT_EQ(PlatformOpenFile(nullptr, "r"), nullptr);
    f = PlatformOpenFile("a\\new.txt", "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_TRUE(qorbtest::FileExists(scratch.File("a/new.txt")));
}

TEST(PlatformLibraries, LoadLookUpAndFree)
{
    qorbtest::ScratchDir scratch;
    fs::copy_file(qorbtest::TestDriver::BuiltPath("tdrv_full"), scratch.File("drv.so"));
    fs::create_directory(scratch.File("sub"));
    fs::copy_file(qorbtest::TestDriver::BuiltPath("tdrv_nocard"), scratch.File("sub/drv2.so"));

    void* byName = PlatformLoadLibrary("drv.so");
    ASSERT_NE(byName, nullptr) << "a bare name is a file of the current directory";
    EXPECT_NE(PlatformGetProcAddress(byName, "ConfigDriver_GetInterface"), nullptr);
    EXPECT_NE(PlatformGetProcAddress(byName, "ZEB_LIB_Open_ZEB_Interface"), nullptr);
    EXPECT_EQ(PlatformGetProcAddress(byName, "NoSuchEntry"), nullptr);
    void* byPath = PlatformLoadLibrary("sub\\drv2.so");
    ASSERT_NE(byPath, nullptr);
    EXPECT_NE(byPath, byName);
    EXPECT_EQ(PlatformGetProcAddress(byPath, "ZEB_LIB_Open_ZEB_Interface"), nullptr);
    PlatformFreeLibrary(byPath);
    PlatformFreeLibrary(byName);

    qorbtest::WriteFile(scratch.File("text.so"), "not an object");
    EXPECT_EQ(PlatformLoadLibrary("text.so"), nullptr);
    EXPECT_EQ(PlatformLoadLibrary("missing.so"), nullptr);
    EXPECT_EQ(PlatformLoadLibrary("libc.so.6"), nullptr) << "never found through the library path";
    EXPECT_EQ(PlatformLoadLibrary(""), nullptr);
    EXPECT_EQ(PlatformLoadLibrary(nullptr), nullptr);
    EXPECT_EQ(PlatformGetProcAddress(nullptr, "ConfigDriver_GetInterface"), nullptr);
    PlatformFreeLibrary(nullptr);
}

TEST(PlatformTime, SleepLastsAtLeastItsTime)
{
    Clock::time_point start = Clock::now();
    PlatformSleep(30);
    EXPECT_GE(MsSince(start), 30);
    start = Clock::now();
    PlatformSleep(1005);
    EXPECT_GE(MsSince(start), 1005) << "whole seconds and the rest";
    PlatformSleep(0);
}

TEST(PlatformTime, LocalTimeIsTheLocalClock)
{
    QORB_LOCAL_TIME_t t{};
    time_t before = 0, after = 1;
    for (int attempt = 0; attempt < 5 && before != after; ++attempt) {  /* within one second */
        before = time(nullptr);
        PlatformGetLocalTime(&t);
        after = time(nullptr);
    }
    ASSERT_EQ(before, after) << "the clock kept crossing seconds";
    struct tm l;
    localtime_r(&before, &l);
    EXPECT_EQ(std::tuple(t.year, t.month, t.day, t.hour, t.minute, t.second),
              std::tuple(l.tm_year + 1900u, l.tm_mon + 1u, l.tm_mday + 0u, l.tm_hour + 0u, l.tm_min + 0u, l.tm_sec + 0u));
}

TEST(PlatformSystem, ProcessorsAndPages)
{
    QORB_SYSTEM_INFO_t info{};
    PlatformGetSystemInfo(&info);
    EXPECT_EQ(info.numberOfProcessors, static_cast<uint32_t>(sysconf(_SC_NPROCESSORS_ONLN)));
    EXPECT_GE(info.pageSize, 4096u);
    EXPECT_EQ(info.pageSize & (info.pageSize - 1), 0u);
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_EQ(info.processorArchitecture, 0u);
#else
    EXPECT_EQ(info.processorArchitecture, 0xFFFFu);
#endif
}

TEST(PlatformSystem, MemoryFactsArePlausible)
{
    QORB_MEMORY_STATUS_t m{};
    PlatformGetMemoryStatus(&m);
    uint64_t pages = static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    EXPECT_EQ(m.totalPhysical, pages);
    EXPECT_GT(m.availablePhysical, 0u);
    EXPECT_LE(m.availablePhysical, m.totalPhysical);
    EXPECT_GT(m.availableVirtual, 0u);
    EXPECT_LT(m.availableVirtual, m.totalVirtual) << "the process maps something";
    EXPECT_GE(m.totalVirtual, uint64_t{1} << 32);
}

class PlatformEvents : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(event = PlatformCreateEvent(), nullptr); }
    void TearDown() override { PlatformCloseEvent(event); }
    void* event = nullptr;
};

TEST_F(PlatformEvents, StartsUnsignalledAndResetsItself)
{
    EXPECT_EQ(PlatformWaitEvent(event, 0), QORB_WAIT_TIMEOUT);
    EXPECT_EQ(PlatformSetEvent(event), 1);
    EXPECT_EQ(PlatformSetEvent(event), 1) << "setting a set event keeps one signal";
    EXPECT_EQ(PlatformWaitEvent(event, 0), QORB_WAIT_SIGNALED);
    EXPECT_EQ(PlatformWaitEvent(event, 0), QORB_WAIT_TIMEOUT) << "the wait consumed the signal";
    EXPECT_EQ(PlatformSetEvent(event), 1);
    EXPECT_EQ(PlatformResetEvent(event), 1);
    EXPECT_EQ(PlatformWaitEvent(event, 0), QORB_WAIT_TIMEOUT);
}

TEST_F(PlatformEvents, WaitTimesOutNoEarlier)
{
    Clock::time_point start = Clock::now();
    EXPECT_EQ(PlatformWaitEvent(event, 120), QORB_WAIT_TIMEOUT);
    EXPECT_GE(MsSince(start), 120);
    start = Clock::now();
    EXPECT_EQ(PlatformWaitEvent(event, 1010), QORB_WAIT_TIMEOUT);
    EXPECT_GE(MsSince(start), 1010);
}

TEST_F(PlatformEvents, SetFromAnotherThreadWakesAnEndlessWait)
{
    std::atomic<bool> about{false};
    std::thread setter([&] {
        about = true;
        PlatformSleep(50);
        PlatformSetEvent(event);
    });
    EXPECT_EQ(PlatformWaitEvent(event, 0xFFFFFFFFu), QORB_WAIT_SIGNALED);
    EXPECT_TRUE(about.load());
    setter.join();
    EXPECT_EQ(PlatformWaitEvent(event, 0), QORB_WAIT_TIMEOUT);
}

TEST_F(PlatformEvents, OneSetReleasesOneWaiter)
{
    std::atomic<int> signalled{0}, timedOut{0};
    auto waiter = [&] {
        QORB_WAIT_RESULT_t r = PlatformWaitEvent(event, 400);
        (r == QORB_WAIT_SIGNALED ? signalled : timedOut)++;
    };
    std::thread a(waiter), b(waiter);
    PlatformSleep(50);
    PlatformSetEvent(event);
    a.join();
    b.join();
    EXPECT_EQ(signalled.load(), 1);
    EXPECT_EQ(timedOut.load(), 1);
}

TEST(PlatformEventsNull, NullEventFails)
{
    EXPECT_EQ(PlatformWaitEvent(nullptr, 0), QORB_WAIT_FAILED);
    EXPECT_EQ(PlatformSetEvent(nullptr), 0);
    EXPECT_EQ(PlatformResetEvent(nullptr), 0);
    PlatformCloseEvent(nullptr);
}

} // namespace
