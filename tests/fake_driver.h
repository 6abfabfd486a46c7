/* The fake driver (tests/drivers/fakedrv.h) from a test. FakeDriver holds its own handle of a fakedrv build,
 * so its controls outlive the library's unload at CloseQORB, and offers the FakeDrv_* exports as members
 * of the same names without the prefix (fake.Set(FK_READ, FK_FAIL, 0)). FakeInstance opens an instance on
 * it in a scratch folder. */
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
    /* A build by name: "fakedrv", "fakedrv_nocard" (no card table exports), "fakedrv_noiface" (no
     * ConfigDriver_GetInterface). */
    static std::string Built(const std::string& name) { return std::string(QORB_TEST_DRIVER_DIR "/") + name + ".so"; }

    /* The driver file at path (a build or a copy of one), every entry forwarding. */
    explicit FakeDriver(const std::string& path = QORB_FAKEDRV_PATH) : path(path) { Reset(); }
    ~FakeDriver() { dlclose(m_handle); }
    FakeDriver(const FakeDriver&) = delete;
    FakeDriver& operator=(const FakeDriver&) = delete;

    /* The log, oldest first, and the entries it holds in order. */
    std::vector<FakeCall> Calls() const
    {
        std::vector<FakeCall> calls(4096);
        calls.resize(Log(calls.data(), 4096));
        return calls;
    }
    std::vector<uint32_t> Entries() const
    {
        std::vector<uint32_t> entries;
        for (const FakeCall& call : Calls())
            entries.push_back(call.entry);
        return entries;
    }

    const std::string path;

private:
    void* m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    template <typename Fn> Fn Find(const char* name) const
    {
        void* fn = m_handle ? dlsym(m_handle, name) : nullptr;
        if (!fn)
            throw std::runtime_error(path + " is no fake driver: " + name);
        return reinterpret_cast<Fn>(fn);
    }

public:
#define QORB_FAKE(name) decltype(&FakeDrv_##name) name = Find<decltype(&FakeDrv_##name)>("FakeDrv_" #name)
    QORB_FAKE(Reset); QORB_FAKE(Set); QORB_FAKE(SetAnswer); QORB_FAKE(Count); QORB_FAKE(Hits);
    QORB_FAKE(LastAnswer); QORB_FAKE(WrongContext); QORB_FAKE(Log); QORB_FAKE(Limit); QORB_FAKE(Patch);
    QORB_FAKE(SetMcfg); QORB_FAKE(SetTrace);
#undef QORB_FAKE
};

/* An instance opened with OpenQORBEx on a fake driver in a fresh scratch folder: the simulator's built-in
 * platform, or the qorbsim.ini text given. Closed at the end. */
struct FakeInstance : ScratchDir {
    explicit FakeInstance(const std::string& simIni = "", const std::string& driver = QORB_FAKEDRV_PATH) : fake(driver)
    {
        if (!simIni.empty())
            WriteFile(File("qorbsim.ini"), simIni);
        Reopen();
    }
    ~FakeInstance() { CloseQORB(instance); }
    /* Closes and opens again: configuration entries set FK_MISSING take effect. */
    _QORB_STATUS_t Reopen()
    {
        CloseQORB(instance);
        instance = nullptr;
        return status = OpenQORBEx(&instance, 0, fake.path.c_str(), 0xE0000000ull, 0);
    }

    FakeDriver fake;
    void* instance = nullptr;
    _QORB_STATUS_t status = QORB_STATUS_FAILED;
};

} // namespace qorbtest

#endif
