/* qorb_vm_probe: what the emulated-machine harness (tests/vm/) asks of the
 * library in the guest beyond the qorb tool.
 *
 *   qorb_vm_probe DRIVER --mcfg
 *     QORBVM-MCFG answer=<int> base=0x<hex> start=<n> end=<n> length=0x<hex>  (QueryAcpiMcfgTableInfo)
 *     QORBVM-READEX bytes=<n> dword=0x<8 hex>         (QORB_ReadConfigSpace_Ex of 01:00.0, domain 0)
 *
 *   qorb_vm_probe DRIVER BB:DD.F NAME=E[c] ...
 *     calls QORB_ADVERR_Util_Assert<NAME>Status on the function, found by its
 *     exported name, with expected state E and the clear flag when "c"
 *     follows, each with a console log; one line per call:
 *     QORBVM-ASSERT <NAME> expected=<E> clear=<0|1> status=0x<8 hex>
 *
 * Exit status 0 when every call was made (the harness judges the verdicts),
 * 2 for bad arguments or when the library or the function cannot be opened. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include <qorb/qorb.h>

using AssertFn = _QORB_STATUS_t (*)(void*, void*, int32_t, int32_t);

static int Fail(const std::string& why)
{
    fprintf(stderr, "qorb_vm_probe: %s\n", why.c_str());
    return 2;
}

int main(int argc, char** argv)
{
    void* instance = nullptr;
    if (argc < 3 || OpenQORBEx(&instance, 0, argv[1], 0xE0000000ull, 0) != QORB_SUCCESS)
        return Fail("usage: qorb_vm_probe DRIVER --mcfg | DRIVER BB:DD.F NAME=0|1[c] ... (or no library)");
    if (strcmp(argv[2], "--mcfg") == 0) {
        uint64_t base = 0, length = 0;
        uint8_t start = 0, end = 0, b[4] = {0, 0, 0, 0};
        int answer = QueryAcpiMcfgTableInfo(&base, &start, &end, &length);
        printf("QORBVM-MCFG answer=%d base=0x%llx start=%u end=%u length=0x%llx\n", answer,
               static_cast<unsigned long long>(base), start, end, static_cast<unsigned long long>(length));
        uint32_t n = QORB_ReadConfigSpace_Ex(0, 1, 0, 0, 4u, b);
        printf("QORBVM-READEX bytes=%u dword=0x%02x%02x%02x%02x\n", n, b[3], b[2], b[1], b[0]);
        CloseQORB(instance);
        return 0;
    }
    unsigned bus, dev, fn;
    void* device = nullptr;
    if (sscanf(argv[2], "%2x:%2x.%1x", &bus, &dev, &fn) != 3 ||
        FindDevice(static_cast<uint8_t>(bus), static_cast<uint8_t>(dev), static_cast<uint8_t>(fn), &device) !=
            QORB_SUCCESS) {
        CloseQORB(instance);
        return Fail(std::string("no function at ") + argv[2]);
    }
    OpenDevice(device, QORB_ACCESS_READ_WRITE);
    void* log = nullptr;
    CreateLog(instance, &log, QORB_LOG_TYPE_CONSOLE, "qorb_vm_probe", QORB_LOG_ACTION_CREATE);
    int rc = 0;
    for (int i = 3; i < argc && rc == 0; i++) {
        const char* eq = strchr(argv[i], '=');
        std::string name(argv[i], eq ? static_cast<size_t>(eq - argv[i]) : 0);
        auto call = reinterpret_cast<AssertFn>(dlsym(RTLD_DEFAULT, ("QORB_ADVERR_Util_Assert" + name + "Status").c_str()));
        if (!call || (eq[1] != '0' && eq[1] != '1') || (eq[2] && strcmp(eq + 2, "c") != 0)) {
            rc = Fail(std::string("bad assertion ") + argv[i]);
            break;
        }
        _QORB_STATUS_t status = call(device, log, eq[1] - '0', eq[2] == 'c');
        fflush(stderr);
        printf("QORBVM-ASSERT %s expected=%c clear=%d status=0x%08x\n", name.c_str(), eq[1], eq[2] == 'c',
               static_cast<unsigned>(status));
        fflush(stdout);
    }
    if (log)
        CloseLog(log);
    CloseDevice(device);
    CloseQORB(instance);
    return rc;
}
