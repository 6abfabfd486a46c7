/* Uses an installed qorb: the interface table, a status text, and the
 * installed simulated driver opened by its full path (any current directory). */
#include <stdio.h>
#include <string.h>

#include <qorb/qorb.h>

int main() {
    _QORB_INTF_t table;
    if (QORBGetIntf(&table) != QORB_SUCCESS || table.slot[0] != QORB_INTF_VERSION) return 1;
    const char* text = QORBGetErrorDesc(QORB_PCIE_CAP_DOES_NOT_EXIST);
    void *instance = nullptr, *dut = nullptr;
    uint16_t vendor = 0;
    bool found = OpenQORBEx(&instance, 0, QORB_DRIVER_DIR "/libqorbsim.so", 0xE0000000ull, 0) == QORB_SUCCESS
        && FindDevice(9, 0, 0, &dut) == QORB_SUCCESS && GetVendorID(dut, &vendor) == QORB_SUCCESS;
    CloseDevice(dut);
    CloseQORB(instance);
    printf("%s, 09:00.0 vendor %04x\n", text, vendor);
    return found && strstr(text, "PCIE CAP DOES NOT EXIST") ? 0 : 1;
}
