/* The fake driver (drivers/fakedrv.h) from a test. FakeDriver holds its own handle of a fakedrv build, so its
 * controls outlive the library's unload at CloseQORB, and offers the FakeDrv_* exports as members without the
 * prefix (fake.Set(FK_READ, FK_FAIL, 0)). */
#ifndef QORB_FAKE_DRIVER_H
#define QORB_FAKE_DRIVER_H

#include <dlfcn.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <qorb/qorb.h>

#include "drivers/fakedrv.h"
#include "qorb_test_support.h"

namespace qorbtest {

class FakeDriver {
public:
    /* A build: "fakedrv", "fakedrv_nocard" (no card tables), "fakedrv_noiface" (no ConfigDriver_GetInterface). */
    static std::string Built(const std::string& name) { return std::string(QORB_TEST_DRIVER_DIR "/") + name + ".so"; }
    /* The driver file at path (a build or a copy of one), every entry forwarding. */
    explicit FakeDriver(const std::string& path = QORB_FAKEDRV_PATH)
        : path(path) {
        Reset();
    }
    ~FakeDriver() { dlclose(m_handle); }
    FakeDriver(const FakeDriver&) = delete;
    FakeDriver& operator=(const FakeDriver&) = delete;
    std::vector<FakeCall> Calls() const {
        std::vector<FakeCall> calls(4096);
        return calls.resize(Log(calls.data(), 4096)), calls;
    }
    std::vector<uint32_t> Entries() const {
        std::vector<uint32_t> entries;
        for (const FakeCall& call : Calls()) entries.push_back(call.entry);
        return entries;
    }
    const std::string path;

private:
    void* m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    template <typename Fn> Fn Find(const char* name) const {
        if (void* fn = m_handle ? dlsym(m_handle, name) : nullptr) return reinterpret_cast<Fn>(fn);
        throw std::runtime_error(path + " is no fake driver: " + name);
    }

public:
#define QORB_FAKE(name) decltype(&FakeDrv_##name) name = Find<decltype(&FakeDrv_##name)>("FakeDrv_" #name)
    QORB_FAKE(Reset);
    QORB_FAKE(Set);
    QORB_FAKE(SetAnswer);
    QORB_FAKE(Count);
    QORB_FAKE(Hits);
    QORB_FAKE(LastAnswer);
    QORB_FAKE(WrongContext);
    QORB_FAKE(Log);
    QORB_FAKE(Limit);
    QORB_FAKE(Patch);
    QORB_FAKE(SetMcfg);
    QORB_FAKE(SetTrace);
#undef QORB_FAKE
};

} // namespace qorbtest

#endif
