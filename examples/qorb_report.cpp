/* Opens the library on the simulated platform and reports what it finds. */
#include <stdio.h>

#include <qorb/qorb.h>

int main()
{
#ifndef QORB_SIM_DRIVER_PATH
    fprintf(stderr, "qorb_report: the simulated driver was not built\n");
    return 2;
#else
    void* instance = nullptr;
    _QORB_STATUS_t status = OpenQORBEx(&instance, 0, QORB_SIM_DRIVER_PATH, 0xE0000000ull, 0);
    printf("OpenQORBEx: %s\n", QORBGetErrorDesc(status));
    if (status != QORB_SUCCESS)
        return 1;
    uint64_t base = 0, length = 0;
    uint8_t startBus = 0, endBus = 0;
    if (QueryAcpiMcfgTableInfo(&base, &startBus, &endBus, &length))
        printf("MCFG: base 0x%llx, buses %02x-%02x, window %llu bytes\n", (unsigned long long)base, startBus, endBus,
               (unsigned long long)length);
    CloseQORB(instance);
    return 0;
#endif
}
