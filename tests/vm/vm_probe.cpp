/* qorb_vm_probe: what the emulated-machine harness (tests/vm/) asks of the
 * library in the guest beyond the qorb tool.
 *
 *   qorb_vm_probe DRIVER --mcfg
 *
 * prints the driver's memory-mapped configuration window as the library's
 * QueryAcpiMcfgTableInfo answers it, and the first dword of 01:00.0 read
 * through QORB_ReadConfigSpace_Ex (domain 0):
 *
 *   QORBVM-MCFG answer=<int> base=0x<hex> start=<n> end=<n> length=0x<hex>
 *   QORBVM-READEX bytes=<n> dword=0x<8 hex digits>
 *
 *   qorb_vm_probe DRIVER BB:DD.F NAME=E[c] ...
 *
 * opens the library on DRIVER (a configuration driver's path), finds the
 * function at BB:DD.F (hexadecimal, as lspci writes it), and calls
 * QORB_ADVERR_Util_Assert<NAME>Status for each item in order with expected
 * state E (0 or 1) and, when "c" follows, the clear flag. The assertions are
 * looked up by their exported plain names, so the harness names them as the
 * library exports them (BadTLP, DLProtocolError, ...). The verdicts go to a
 * console log; one line per item on standard output reports the returned
 * status:
 *
 *   QORBVM-ASSERT <NAME> expected=<E> clear=<0|1> status=0x<8 hex digits>
 *
 * Exit status 0 when every call was made (whatever the verdicts: the harness
 * judges them), 2 for bad arguments or when the library or the function
 * cannot be opened. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include <qorb/qorb.h>

namespace {

using AssertFn = _QORB_STATUS_t (*)(void*, void*, int32_t, int32_t);

struct Item {
    std::string name;
    int32_t expected = 0;
    int32_t clear = 0;
};

bool ParseItem(const char* text, Item* item)
{
    const char* eq = strchr(text, '=');
    if (!eq || eq == text || (eq[1] != '0' && eq[1] != '1'))
        return false;
    if (eq[2] != '\0' && strcmp(eq + 2, "c") != 0)
        return false;
    item->name.assign(text, static_cast<size_t>(eq - text));
    item->expected = eq[1] - '0';
    item->clear = eq[2] == 'c' ? 1 : 0;
    return true;
}

bool ParseSlot(const char* text, uint8_t* bus, uint8_t* dev, uint8_t* fn)
{
    unsigned b, d, f;
    char tail;
    if (sscanf(text, "%2x:%2x.%1x%c", &b, &d, &f, &tail) != 3 || d > 31 || f > 7)
        return false;
    *bus = static_cast<uint8_t>(b);
    *dev = static_cast<uint8_t>(d);
    *fn = static_cast<uint8_t>(f);
    return true;
}

int Usage(const char* why)
{
    fprintf(stderr, "qorb_vm_probe: %s\nusage: qorb_vm_probe DRIVER --mcfg | DRIVER BB:DD.F NAME=0|1[c] ...\n", why);
    return 2;
}

} // namespace

/* The window and a read of another domain's form. */
int Mcfg(const char* driver)
{
    void* instance = nullptr;
    _QORB_STATUS_t status = OpenQORBEx(&instance, 0, driver, 0xE0000000ull, 0);
    if (status != QORB_SUCCESS) {
        fprintf(stderr, "qorb_vm_probe: cannot open the library on %s: %s\n", driver, QORBGetErrorDesc(status));
        return 2;
    }
    uint64_t base = 0, length = 0;
    uint8_t start = 0, end = 0;
    int answer = QueryAcpiMcfgTableInfo(&base, &start, &end, &length);
    printf("QORBVM-MCFG answer=%d base=0x%llx start=%u end=%u length=0x%llx\n", answer,
           static_cast<unsigned long long>(base), start, end, static_cast<unsigned long long>(length));
    uint8_t bytes[4] = {0, 0, 0, 0};
    uint32_t n = QORB_ReadConfigSpace_Ex(0, 1, 0, 0, (0u << 16) | 4u, bytes);
    printf("QORBVM-READEX bytes=%u dword=0x%02x%02x%02x%02x\n", n, bytes[3], bytes[2], bytes[1], bytes[0]);
    CloseQORB(instance);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[2], "--mcfg") == 0)
        return Mcfg(argv[1]);
    if (argc < 4)
        return Usage("too few arguments");
    uint8_t bus, dev, fn;
    if (!ParseSlot(argv[2], &bus, &dev, &fn))
        return Usage(std::string("bad location ").append(argv[2]).c_str());
    Item items[64];
    int count = argc - 3;
    if (count > 64)
        return Usage("at most 64 assertions per run");
    AssertFn calls[64];
    for (int i = 0; i < count; i++) {
        if (!ParseItem(argv[3 + i], &items[i]))
            return Usage(std::string("bad assertion ").append(argv[3 + i]).c_str());
        std::string symbol = "QORB_ADVERR_Util_Assert" + items[i].name + "Status";
        calls[i] = reinterpret_cast<AssertFn>(dlsym(RTLD_DEFAULT, symbol.c_str()));
        if (!calls[i])
            return Usage(("the library exports no " + symbol).c_str());
    }

    void* instance = nullptr;
    _QORB_STATUS_t status = OpenQORBEx(&instance, 0, argv[1], 0xE0000000ull, 0);
    if (status != QORB_SUCCESS) {
        fprintf(stderr, "qorb_vm_probe: cannot open the library on %s: %s\n", argv[1], QORBGetErrorDesc(status));
        return 2;
    }
    void* device = nullptr;
    status = FindDevice(bus, dev, fn, &device);
    if (status != QORB_SUCCESS) {
        fprintf(stderr, "qorb_vm_probe: no function at %s: %s\n", argv[2], QORBGetErrorDesc(status));
        CloseQORB(instance);
        return 2;
    }
    OpenDevice(device, QORB_ACCESS_READ_WRITE);
    void* log = nullptr;
    CreateLog(instance, &log, QORB_LOG_TYPE_CONSOLE, "qorb_vm_probe", QORB_LOG_ACTION_CREATE);
    for (int i = 0; i < count; i++) {
        status = calls[i](device, log, items[i].expected, items[i].clear);
        fflush(stderr);
        printf("QORBVM-ASSERT %s expected=%d clear=%d status=0x%08x\n", items[i].name.c_str(), items[i].expected,
               items[i].clear, static_cast<unsigned>(status));
        fflush(stdout);
    }
    if (log)
        CloseLog(log);
    CloseDevice(device);
    CloseQORB(instance);
    return 0;
}
