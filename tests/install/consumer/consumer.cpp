/* Uses an installed qorb: the interface table and a status text. */
#include <stdio.h>
#include <string.h>

#include <qorb/qorb.h>

int main() {
    _QORB_INTF_t table;
    if (QORBGetIntf(&table) != QORB_SUCCESS || table.slot[0] != QORB_INTF_VERSION) return 1;
    const char* text = QORBGetErrorDesc(QORB_PCIE_CAP_DOES_NOT_EXIST);
    printf("%s\n", text);
    return strstr(text, "PCIE CAP DOES NOT EXIST") ? 0 : 1;
}
