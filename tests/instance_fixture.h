/* A fixture for the open sequence: a scratch current directory, the test
 * drivers, and an open that captures both standard streams. */
#ifndef INSTANCE_FIXTURE_H
#define INSTANCE_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include <qorb/qorb.h>

#include "qorb_test_support.h"
#include "tdrv_harness.h"

namespace qorbtest {

struct OpenResult {
    _QORB_STATUS_t status;
    std::string out;
    std::string err;
};

class InstanceTest : public ::testing::Test {
protected:
    static constexpr uint64_t kConfigBase = 0xE0000000ull;

    /* Every test starts and ends with no driver bound. */
    void SetUp() override { CloseQORB(nullptr); }
    void TearDown() override
    {
        CloseQORB(handle != UntouchedHandle() ? handle : nullptr);
        handle = UntouchedHandle();
    }

    OpenResult OpenEx(const std::string& path, uint64_t configBase = kConfigBase)
    {
        CaptureFd out(1);
        CaptureFd err(2);
        _QORB_STATUS_t status = OpenQORBEx(&handle, 0, path.c_str(), configBase, 0);
        return {status, out.Text(), err.Text()};
    }

    OpenResult Open(const char* iniDirectory, const char* iniFile, uint64_t configBase = kConfigBase)
    {
        CaptureFd out(1);
        CaptureFd err(2);
        _QORB_STATUS_t status = OpenQORB(&handle, 0, configBase, iniDirectory, iniFile);
        return {status, out.Text(), err.Text()};
    }

    /* A refused open: its status, both printed texts, and the handle-out
     * argument left alone. */
    void ExpectRefused(const OpenResult& r, _QORB_STATUS_t status, const std::string& out, const std::string& err)
    {
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(handle, UntouchedHandle());
    }

    /* Hands over the instance of the last open: the fixture no longer closes it. */
    void* TakeHandle()
    {
        void* h = handle;
        handle = UntouchedHandle();
        return h;
    }
    _QORB_STATUS_t CloseHandle() { return CloseQORB(TakeHandle()); }

    ScratchDir scratch;
    void* handle = UntouchedHandle();
};

} // namespace qorbtest

#endif
