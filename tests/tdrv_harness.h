/* Loading the test configuration drivers (tests/drivers/tdrv_*.cpp) from a
 * test: the test holds its own handle of the driver file, so it reaches the
 * driver's control block before the library opens it and after the library
 * has closed and unloaded it. */
#ifndef TDRV_HARNESS_H
#define TDRV_HARNESS_H

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "drivers/tdrv_control.h"

namespace qorbtest {

class TestDriver {
public:
    /* A driver built into QORB_TEST_DRIVER_DIR, by name ("tdrv_full"). */
    static std::string BuiltPath(const std::string& name)
    {
        return std::string(QORB_TEST_DRIVER_DIR) + "/" + name + ".so";
    }

    /* The driver file at path (a built driver or a copy of one); its control
     * block is reset to the defaults. */
    explicit TestDriver(const std::string& path) : m_path(path)
    {
        m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            throw std::runtime_error("cannot load " + path + ": " + dlerror());
        m_control = static_cast<TDRV_CONTROL_t*>(dlsym(m_handle, "tdrv_control"));
        auto reset = reinterpret_cast<void (*)()>(dlsym(m_handle, "tdrv_reset"));
        if (!m_control || !reset)
            throw std::runtime_error(path + " is not a test driver");
        reset();
    }
    ~TestDriver() { dlclose(m_handle); }
    TestDriver(const TestDriver&) = delete;
    TestDriver& operator=(const TestDriver&) = delete;

    const std::string& Path() const { return m_path; }
    TDRV_CONTROL_t* operator->() const { return m_control; }
    /* The letters of the calls the driver got, in order. */
    std::string Calls() const { return m_control->calls; }

private:
    std::string m_path;
    void* m_handle = nullptr;
    TDRV_CONTROL_t* m_control = nullptr;
};

/* What an unopened handle-out argument holds, to see that a failed open
 * leaves it alone. */
inline void* UntouchedHandle()
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(0x5A5A5A5Au));
}

inline const char* kSoftwareDriverFailed = "QORB::PCIExpress QORB. Initializing software based driver failed\n";
inline const char* kNoCfgSpaceIni = "file with name[PCIECfgInfo.ini] cannot be opened\n";

} // namespace qorbtest

#endif
