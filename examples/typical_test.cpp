/* A typical qorb test, step by step:
 *
 *   typical_test PLATFORM.xml [LOG.xml]
 *
 * opens the library through ini/VERDAapp.ini in the current directory (its
 * [DLL] DLLName names the driver, which sits in the current directory too),
 * reads the platform file, finds and opens its first DUT, and writes an XML
 * log of one test: the DUT's PCI Express capability and link, a retrain of
 * its link, and its Bad TLP status. Exit status 0 when every check passed.
 *
 * Set-up for the simulated platform, from the build tree:
 *   mkdir -p run/ini && cd run
 *   cp ../drivers/sim/libqorbsim.so .
 *   printf '[DLL]\nDLLName=libqorbsim.so\n' > ini/VERDAapp.ini
 *   ../examples/typical_test ../../examples/builtin-platform.xml */
#include <stdio.h>
#include <string.h>

#include <qorb/qorb.h>

namespace {

_QORB_TEST_NUM_t Assertion(_QORB_LAYER_t layer, const char* major, const char* minor, const char* item,
                           const char* subitem)
{
    _QORB_TEST_NUM_t num;
    memset(&num, 0, sizeof num);
    num.layer = layer;
    snprintf(num.major, sizeof num.major, "%s", major);
    snprintf(num.minor, sizeof num.minor, "%s", minor);
    snprintf(num.item, sizeof num.item, "%s", item);
    snprintf(num.subitem, sizeof num.subitem, "%s", subitem);
    return num;
}

int Fail(const char* what, _QORB_STATUS_t status)
{
    fprintf(stderr, "typical_test: %s: %s\n", what, QORBGetErrorDesc(status));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: typical_test PLATFORM.xml [LOG.xml]\n");
        return 2;
    }
    const char* logName = argc == 3 ? argv[2] : "typical_test.xml";

    /* 1. Open the library: ini/VERDAapp.ini names the driver. */
    void* instance = nullptr;
    _QORB_STATUS_t status = OpenQORB(&instance, 0, 0xE0000000ull, nullptr, nullptr);
    if (status != QORB_SUCCESS)
        return Fail("OpenQORB", status);

    /* 2. Read the platform file. */
    _QORB_DAT_INFO_t info;
    memset(&info, 0, sizeof info);
    status = parseDatFile(argv[1], &info);
    if (status != QORB_SUCCESS || info.dutCount < 1) {
        CloseQORB(instance);
        return Fail("parseDatFile", status != QORB_SUCCESS ? status : QORB_FIND_DEVICE_FAILED);
    }

    /* 3. Find the first DUT (a new record) and open it: this links it to
     *    the port above its link. */
    void* dut = nullptr;
    status = FindDevice(instance, &dut, info.dutFindFlags[0], &info.dutFindInfo[0]);
    QORB_FreeDatInfo(&info);
    if (status != QORB_SUCCESS) {
        CloseQORB(instance);
        return Fail("FindDevice", status);
    }
    OpenDevice(dut, QORB_ACCESS_READ_WRITE);
    /* The parent record OpenDevice linked belongs to us too: closed below. */
    void* parent = nullptr;
    GetParentDevice(dut, &parent);

    /* 4. An XML log, and one test with its checklist assertions and DUT. */
    void* log = nullptr;
    CreateLog(instance, &log, QORB_LOG_TYPE_XML, logName, QORB_LOG_ACTION_CREATE);
    _QORB_TEST_NUM_t assertions[] = {
        Assertion(QORB_LAYER_CFG, "1", "4", "1", "1"),     /* PCI Express capability and link */
        Assertion(QORB_LAYER_PHYLINK, "1", "1", "1", "1"), /* link retrain */
        Assertion(QORB_LAYER_EM, "1", "1", "1", "1"),      /* AER status */
    };
    StartTest(log, "typical test", assertions, 3, dut);
    int failures = 0;

    /* 5. Check registers of the PCI Express capability. */
    _PCIE_CAPABILITY_STRUCT_t pcie;
    void* capHandle = nullptr;
    status = GetPCIECapability(dut, &pcie, &capHandle);
    uint16_t linkStatus = 0;
    uint32_t length = sizeof linkStatus;
    if (status == QORB_SUCCESS)
        status = ReadCapability(capHandle, reinterpret_cast<uint8_t*>(&linkStatus), 0x12, &length);
    QORB_FreeCapabilityHandle(capHandle);
    unsigned width = (linkStatus >> 4) & 0x3f, maxWidth = (pcie.linkCapabilities >> 4) & 0x3f;
    bool linkOk = status == QORB_SUCCESS && width >= 1 && width <= maxWidth;
    char text[256];
    snprintf(text, sizeof text, "Negotiated link width x%u within the maximum x%u\n", width, maxWidth);
    LogAssert(log, linkOk ? QORB_LOG_SUCCESS : QORB_LOG_FAIL, &assertions[0], text);
    failures += !linkOk;

    /* 6. Retrain the DUT's link, and wait on the port that trains it. */
    void* port = nullptr;
    status = QORB_RetrainDUTLink(dut);
    if (status == QORB_SUCCESS)
        status = QORB_GetPortToResetOrRetrain(dut, &port);
    /* Link Training still set gives QORB_STATUS_FAILED: test again, up to
     * ten times 10 ms. */
    if (status == QORB_SUCCESS) {
        for (int i = 0; i < 10; i++) {
            status = QORB_WaitForDeviceToRetrain(port, 10);
            if (status != QORB_STATUS_FAILED)
                break;
        }
    }
    LogAssert(log, status == QORB_SUCCESS ? QORB_LOG_SUCCESS : QORB_LOG_FAIL, &assertions[1],
              status == QORB_SUCCESS ? "Link retrained\n" : "Link did not retrain\n");
    failures += status != QORB_SUCCESS;

    /* 7. The Bad TLP status must be clear; the assertion logs its verdict. */
    status = QORB_ADVERR_Util_AssertBadTLPStatus(dut, log, 0, 1);
    failures += status != QORB_SUCCESS;

    /* 8. Stop the test and close everything. */
    StopTest(log);
    CloseLog(log);
    CloseDevice(dut);
    CloseDevice(parent);   /* a null handle (no port above) is accepted */
    CloseQORB(instance);
    printf("typical_test: %s, log %s\n", failures ? "FAILED" : "passed", logName);
    return failures ? 1 : 0;
}
