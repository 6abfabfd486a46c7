/* Opens the library on the simulated platform and reports what it finds.
 *
 *   qorb_report [DRIVER]
 *
 * OpenQORBEx takes the driver's full path, so this works from any current
 * directory: DRIVER when given, else libqorbsim.so beside the libqorb.so the
 * program runs with (where cmake --install and the packages put it), else
 * the simulated driver of the build tree. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <qorb/qorb.h>

namespace {

/* The path of libqorbsim.so in the folder of the loaded libqorb.so. */
bool DriverBesideLibrary(char* path, size_t size)
{
    Dl_info info;
    memset(&info, 0, sizeof info);
    if (!dladdr(reinterpret_cast<void*>(&QORBGetErrorDesc), &info) || !info.dli_fname)
        return false;
    const char* slash = strrchr(info.dli_fname, '/');
    int folder = slash ? static_cast<int>(slash - info.dli_fname) : 1;
    int n = snprintf(path, size, "%.*s/libqorbsim.so", folder, slash ? info.dli_fname : ".");
    return n > 0 && static_cast<size_t>(n) < size;
}

} // namespace

int main(int argc, char** argv)
{
    char beside[4096] = "";
    const char* driver = argc > 1 ? argv[1] : nullptr;
    if (!driver && DriverBesideLibrary(beside, sizeof beside) && access(beside, R_OK) == 0)
        driver = beside;
#ifdef QORB_SIM_DRIVER_PATH
    if (!driver && access(QORB_SIM_DRIVER_PATH, R_OK) == 0)
        driver = QORB_SIM_DRIVER_PATH;
#endif
    if (!driver) {
        fprintf(stderr, "qorb_report: no driver found; usage: qorb_report [DRIVER]\n");
        return 2;
    }
    void* instance = nullptr;
    _QORB_STATUS_t status = OpenQORBEx(&instance, 0, driver, 0xE0000000ull, 0);
    printf("OpenQORBEx %s: %s\n", driver, QORBGetErrorDesc(status));
    if (status != QORB_SUCCESS)
        return 1;
    uint64_t base = 0, length = 0;
    uint8_t startBus = 0, endBus = 0;
    if (QueryAcpiMcfgTableInfo(&base, &startBus, &endBus, &length))
        printf("MCFG: base 0x%llx, buses %02x-%02x, window %llu bytes\n", (unsigned long long)base, startBus, endBus,
               (unsigned long long)length);
    CloseQORB(instance);
    return 0;
}
