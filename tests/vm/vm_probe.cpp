/* qorb_vm_probe DRIVER BB:DD.F NAME=E[c|f] ...: the AER assertions of the emulated-machine harness
 * (tests/vm/), run in the guest. Calls QORB_ADVERR_Util_Assert<NAME>Status on the function, found by its
 * exported name, with expected state E and a console log, in order; "c" sets the clear flag, "f" says the
 * call must answer QORB_STATUS_FAILED (else QORB_SUCCESS). One line a call:
 *   QORBVM-ASSERT <NAME> expected=<E> clear=<0|1> status=0x<8 hex digits>[ unexpected]
 * Exit status 0 when every call answered as said, 1 when one did not, 2 for bad arguments or when the
 * library or the function cannot be opened. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include <qorb/qorb.h>

using AssertFn = _QORB_STATUS_t (*)(void*, void*, int32_t, int32_t);

int main(int argc, char** argv) {
    unsigned bus, dev, fn;
    void *instance = nullptr, *device = nullptr, *log = nullptr;
    if (argc < 3 || sscanf(argv[2], "%2x:%2x.%1x", &bus, &dev, &fn) != 3
        || OpenQORBEx(&instance, 0, argv[1], 0xE0000000ull, 0) != QORB_SUCCESS) {
        fprintf(stderr, "usage: qorb_vm_probe DRIVER BB:DD.F NAME=0|1[c|f] ... (DRIVER a configuration driver)\n");
        return 2;
    }
    int rc = 2;
    if (FindDevice(static_cast<uint8_t>(bus), static_cast<uint8_t>(dev), static_cast<uint8_t>(fn), &device)
        == QORB_SUCCESS) {
        OpenDevice(device, QORB_ACCESS_READ_WRITE);
        CreateLog(instance, &log, QORB_LOG_TYPE_CONSOLE, "qorb_vm_probe", QORB_LOG_ACTION_CREATE);
        rc = 0;
    } else {
        fprintf(stderr, "qorb_vm_probe: no function at %s\n", argv[2]);
    }
    for (int i = 3; i < argc && rc < 2; i++) {
        const char* eq = strchr(argv[i], '=');
        std::string name(argv[i], eq ? static_cast<size_t>(eq - argv[i]) : 0);
        void* symbol = dlsym(RTLD_DEFAULT, ("QORB_ADVERR_Util_Assert" + name + "Status").c_str());
        auto call = reinterpret_cast<AssertFn>(symbol);
        if (!eq || !call || (eq[1] != '0' && eq[1] != '1') || (eq[2] && (!strchr("cf", eq[2]) || eq[3]))) {
            fprintf(stderr, "qorb_vm_probe: bad assertion %s\n", argv[i]);
            rc = 2;
            break;
        }
        _QORB_STATUS_t status = call(device, log, eq[1] - '0', eq[2] == 'c');
        bool expected = status == (eq[2] == 'f' ? QORB_STATUS_FAILED : QORB_SUCCESS);
        fflush(stderr);
        printf("QORBVM-ASSERT %s expected=%c clear=%d status=0x%08x%s\n", name.c_str(), eq[1], eq[2] == 'c',
            static_cast<unsigned>(status), expected ? "" : " unexpected");
        fflush(stdout);
        rc = expected ? rc : 1;
    }
    if (log) CloseLog(log);
    if (device) CloseDevice(device);
    CloseQORB(instance);
    return rc;
}
