/* Internal records and operations shared by the library's subsystems.
 * Not installed; applications see only opaque handles. */
#ifndef QORB_INTERNAL_H
#define QORB_INTERNAL_H

#include <stdint.h>

#include <complib/cl_qlist.h>
#include <linux/pci_regs.h>

#include <qorb/qorb.h>
#include <qorb/qorb_driver.h>

/* Marks internal entry points that the test suite reaches directly. They keep
 * hidden visibility: the test program links the library's code statically,
 * and libqorb.so exports nothing but the API. */
#define QORB_INTERNAL_API

#define QORB_MAX_PATH 255      /* path buffers of the open sequence */
#define QORB_DLL_NAME_LEN 32   /* DLL name buffer, terminator included */

/* Bus range the searches scan: bus 255 is never visited. */
#define QORB_SCAN_LAST_BUS 254
#define QORB_SCAN_DEVICES 32
#define QORB_SCAN_FUNCTIONS 8
#define QORB_PROBE_LENGTH 64
#define QORB_SHADOW_LENGTH 256

/* The record behind an instance handle. */
struct QORB_INSTANCE_t {
    const char* userName;      /* always "qorb_user"; not owned */
    cl_qlist_t deviceList;     /* records found by FindDevice with this instance */
};

/* The record behind a device handle. */
struct QORB_DEVICE_t {
    cl_list_item_t listItem;   /* first: links the record into an instance's list */
    QORB_DEVICE_t* parent;     /* port at the upstream end of the device's link */
    uint8_t bus;
    uint8_t device;
    uint8_t function;
    int32_t isOpen;
    uint16_t vendorId;
    uint16_t deviceId;
    int32_t isZeb;
    uint8_t* traceCopy;        /* owned */
    uint32_t traceCopyLength;
    uint8_t configShadow[QORB_SHADOW_LENGTH];
    QORB_INSTANCE_t* owner;
    /* On a record that is some device's parent link: that device. CloseDevice
     * of such a record clears the device's link, so the link never dangles. */
    QORB_DEVICE_t* linkedFrom;
};

/* The record behind a capability handle. */
struct QORB_CAP_HANDLE_t {
    QORB_DEVICE_t* device;     /* not owned */
    uint32_t offset;
    uint32_t capabilityId;
    uint32_t length;
    uint32_t nextOffset;
};

/* Library-wide driver state, shared by every instance. */
struct QORB_DRIVER_STATE_t {
    _CONFIG_DRIVER_INTERFACE_t table;
    uint32_t context;
    _ZEB_LIB_INTERFACE_t* zeb;
    _VOK_LIB_INTERFACE_t* vok;
    uint64_t libraryHandle;    /* 0 = none loaded */
};
extern QORB_INTERNAL_API QORB_DRIVER_STATE_t g_qorbDriver;

/* Configuration access: every access of the library goes through these two.
 * They answer the driver's byte count, 0 when the entry is missing. */
uint32_t DriverReadConfig(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                          uint8_t* buffer);
uint32_t DriverWriteConfig(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t length,
                           uint8_t* buffer);

/* Device records. */
QORB_INTERNAL_API QORB_DEVICE_t* CreateDeviceRecord(const uint8_t* header, uint8_t bus, uint8_t dev, uint8_t fn);
QORB_INTERNAL_API void ReleaseTraceCopy(QORB_DEVICE_t* device);

/* Capability length tables. */
_QORB_STATUS_t GetLegacyCapLength(uint32_t capabilityId, uint32_t* length);
_QORB_STATUS_t GetExtendedCapLength(uint32_t capabilityId, uint32_t* length);

struct QORB_EXT_CAP_LENGTH_t {
    uint16_t capabilityId;
    uint16_t length;
};
/* Extended capability lengths; any other ID is QORB_INVALID_PARAMETER. */
static constexpr QORB_EXT_CAP_LENGTH_t g_qorbExtCapLengths[] = {
    {0x0001, 60},  /* Advanced Error Reporting */
    {0x0002, 28},  /* Virtual Channel */
    {0x0003, 12},  /* Device Serial Number */
    {0x0004, 24},  /* Power Budgeting */
};

/* Every '/' of a zero-terminated text becomes a backslash, in place. */
void ToBackslashes(char* text);

/* Instance internals used by the search and open code. */
void InsertDeviceIntoInstance(QORB_INSTANCE_t* instance, QORB_DEVICE_t* device);

/* Device/Port Type field of a PCI Express capability structure. */
inline uint32_t PciePortType(const _PCIE_CAPABILITY_STRUCT_t& cap)
{
    return (cap.pcieCapabilities & PCI_EXP_FLAGS_TYPE) >> 4;
}

/* Parent resolution and the bridge search (device topology). */
QORB_DEVICE_t* ResolveParent(QORB_DEVICE_t* device);
QORB_DEVICE_t* FindUpstreamBridge(QORB_DEVICE_t* device);

#endif
