/* The qorb tool on a misbehaving driver: each command runs on the fault
 * driver (faultdrv.so over the simulator's built-in platform) with one fault
 * at a time set through its FAULTDRV environment variable. Whatever the
 * driver does, the tool must end on its own with one of its exit statuses
 * (0, 1 or 2), within a minute, and without a sanitizer report. */
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/faultdrv.h"
#include "qorb_test_support.h"

namespace {

struct Fault {
    uint32_t entry, mode, after;
};

/* Faults a command can meet: every way a configuration read can go wrong
 * (at once, and far into the run), failing and lying writes, a broken open,
 * and the card's trace, properties and card search lying. */
std::vector<Fault> Faults()
{
    std::vector<Fault> faults = {{FD_OPEN, FD_FAIL, 0}, {FD_MAP, FD_FAIL, 0}, {FD_READ, FD_FAIL, 200},
                                 {FD_READ, FD_GARBAGE_RANDOM, 300}};
    for (uint32_t mode = FD_FAIL; mode < FD_MODES; ++mode) {
        faults.push_back({FD_READ, mode, 0});
        faults.push_back({FD_ZEB + 5, mode, 0});
    }
    for (uint32_t mode : {FD_FAIL, FD_SHORT, FD_OVER, FD_OVER_PARTIAL, FD_GARBAGE_FF})
        faults.push_back({FD_WRITE, mode, 0});
    for (uint32_t slot : {0u, 3u, 6u, 16u})
        for (uint32_t mode : {FD_FAIL, FD_GARBAGE_FF, FD_GARBAGE_RANDOM})
            faults.push_back({FD_ZEB + slot, mode, 0});
    return faults;
}

class FaultTool : public ::testing::TestWithParam<const char*> {};

TEST_P(FaultTool, EndsWithAnExitStatusWhateverTheDriverDoes)
{
#ifndef QORB_TOOL_PATH
    GTEST_SKIP() << "the qorb tool is not built";
#else
    qorbtest::ScratchDir scratch;
    for (const Fault& f : Faults()) {
        std::string setting = std::to_string(f.entry) + ":" + std::to_string(f.mode) + ":" + std::to_string(f.after);
        SCOPED_TRACE("FAULTDRV=" + setting);
        int status = -1;
        qorbtest::RunCommand("FAULTDRV=" + setting + " timeout 60 '" QORB_TOOL_PATH "' --driver '" QORB_TEST_DRIVER_DIR
                             "/faultdrv.so' " + GetParam() + " >/dev/null 2>stderr.txt </dev/null",
                             &status);
        std::string err = qorbtest::ReadFile(scratch.File("stderr.txt"));
        EXPECT_TRUE(status >= 0 && status <= 2) << "exit status " << status << "\n" << err;
        EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
        EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultTool,
                         ::testing::Values("scan", "tree", "caps -s 09:00.0",
                                           "read -s 09:00.0 0x10.l CAP_EXP+12.w ECAP_AER+4.l",
                                           "write -s 09:00.0 0x3c.b=0x0b", "link -s 09:00.0 retrain",
                                           "aer -s 09:00.0 --clear", "zeb -s 07:00.0 info", "zeb -s 07:00.0 trace",
                                           "check --xml check.xml"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name;
                             for (const char* p = info.param; *p && *p != ' ' ; ++p)
                                 name += *p;
                             return name + std::to_string(info.index);
                         });

} // namespace
