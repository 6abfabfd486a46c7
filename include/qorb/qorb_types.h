/* Records and enumerations that cross the qorb API.
 *
 * Handles (instance, device, capability, log, user input) are opaque void*
 * values. Records below have exactly the field order and widths that the
 * operations rely on; the capability structures are byte-for-byte copies of
 * the standard register layouts and are packed. */
#ifndef QORB_TYPES_H
#define QORB_TYPES_H

#include <stddef.h>
#include <stdint.h>

#include <qorb/qorb_status.h>

/* ------------------------------------------------------------------------
 * Device topology
 * ------------------------------------------------------------------------ */

/* Device/Port Type field (bits 7:4) of the PCI Express Capabilities register,
 * taken unchanged; values 2, 3 and 9 to 15 pass through as numbers. */
enum _QORB_DEV_PORT_TYPE_t : uint32_t {
    QORB_PCIE_ENDPOINT           = 0,
    QORB_LEGACY_ENDPOINT         = 1,
    QORB_ROOT_PORT               = 4,
    QORB_SWITCH_UPSTREAM_PORT    = 5,
    QORB_SWITCH_DOWNSTREAM_PORT  = 6,
    QORB_PCIE_TO_PCI_BRIDGE      = 7,
    QORB_PCI_TO_PCIE_BRIDGE      = 8,
};

/* Arguments of EnumerateDevice(). No operation interprets them; they name the
 * walk orders and stopping points an enumerator would offer. */
enum _QORB_ENUM_METHOD_t : uint32_t {
    QORB_ENUM_METHOD_BREADTH_FIRST = 0,
    QORB_ENUM_METHOD_DEPTH_FIRST   = 1,
};
enum _QORB_ENUM_STOP_POINT_t : uint32_t {
    QORB_ENUM_STOP_NONE        = 0, /* enumerate everything */
    QORB_ENUM_STOP_AT_BUS      = 1, /* stop after the bus given */
    QORB_ENUM_STOP_AT_DEVICE   = 2, /* stop at the vendor/device given */
};

/* Access mode of OpenDevice(); no operation interprets it. */
enum _QORB_ACCESS_MODE_t : uint32_t {
    QORB_ACCESS_READ_ONLY  = 0,
    QORB_ACCESS_READ_WRITE = 1,
    QORB_ACCESS_EXCLUSIVE  = 2,
};

/* Find flags of FindDevice() with an instance; other bits are ignored. */
#define QORB_FIND_VENDOR_ID   0x00000001u
#define QORB_FIND_DEVICE_ID   0x00000002u
#define QORB_FIND_CLASS_CODE  0x00000004u
#define QORB_FIND_LOCATION    0x00001000u

/* Criteria of FindDevice() with an instance, and one DUT entry of the
 * platform file record. */
struct _QORB_DEVICE_FIND_INFO_t {
    uint16_t vendorId;
    uint16_t deviceId;
    uint16_t busNumber;       /* searches use the low 8 bits */
    uint8_t  deviceNumber;
    uint8_t  functionNumber;
    uint8_t  baseClass;
    uint8_t  subClass;
    uint8_t  progIf;
    uint16_t subsysDeviceId;  /* no search reads the two subsystem IDs */
    uint16_t subsysVendorId;
};
static_assert(offsetof(_QORB_DEVICE_FIND_INFO_t, subsysDeviceId) == 12, "find info layout");
static_assert(sizeof(_QORB_DEVICE_FIND_INFO_t) == 16, "find info layout");

/* ------------------------------------------------------------------------
 * Capability IDs and capability structures
 * ------------------------------------------------------------------------ */

/* 8-bit Capability ID of a capability in the legacy (PCI) list. */
enum _QORB_PCI_CAPABILITY_TYPE_t : uint32_t {
    QORB_PCI_CAP_POWER_MANAGEMENT  = 0x01,
    QORB_PCI_CAP_AGP               = 0x02,
    QORB_PCI_CAP_VPD               = 0x03,
    QORB_PCI_CAP_SLOT_ID           = 0x04,
    QORB_PCI_CAP_MSI               = 0x05,
    QORB_PCI_CAP_HOT_SWAP          = 0x06,
    QORB_PCI_CAP_PCIX              = 0x07,
    QORB_PCI_CAP_HYPERTRANSPORT    = 0x08,
    QORB_PCI_CAP_VENDOR_SPECIFIC   = 0x09,
    QORB_PCI_CAP_DEBUG_PORT        = 0x0A,
    QORB_PCI_CAP_CENTRAL_RESOURCE  = 0x0B,
    QORB_PCI_CAP_HOT_PLUG          = 0x0C,
    QORB_PCI_CAP_BRIDGE_SUBSYS_ID  = 0x0D,
    QORB_PCI_CAP_AGP_8X            = 0x0E,
    QORB_PCI_CAP_SECURE_DEVICE     = 0x0F,
    QORB_PCI_CAP_PCI_EXPRESS       = 0x10,
    QORB_PCI_CAP_MSIX              = 0x11,
    QORB_PCI_CAP_SATA              = 0x12,
    QORB_PCI_CAP_AF                = 0x13,
    QORB_PCI_CAP_EA                = 0x14,
};

/* 16-bit PCI Express Extended Capability ID. */
enum _QORB_PCIE_CAPABILITY_TYPE_t : uint32_t {
    QORB_PCIE_CAP_ADV_ERR_REPORTING = 0x0001,
    QORB_PCIE_CAP_VIRTUAL_CHANNEL   = 0x0002,
    QORB_PCIE_CAP_DEV_SERIAL_NUMBER = 0x0003,
    QORB_PCIE_CAP_POWER_BUDGETING   = 0x0004,
    QORB_PCIE_CAP_RCRB_LINK_DECL    = 0x0005,
    QORB_PCIE_CAP_RC_INTERNAL_LINK  = 0x0006,
    QORB_PCIE_CAP_RC_EVENT_COLLECT  = 0x0007,
    QORB_PCIE_CAP_MFVC              = 0x0008,
    QORB_PCIE_CAP_VC_MFVC_PRESENT   = 0x0009,
    QORB_PCIE_CAP_RCRB_HEADER       = 0x000A,
    QORB_PCIE_CAP_VENDOR_SPECIFIC   = 0x000B,
    QORB_PCIE_CAP_ACS               = 0x000D,
    QORB_PCIE_CAP_ARI               = 0x000E,
    QORB_PCIE_CAP_SRIOV             = 0x0010,
    QORB_PCIE_CAP_LTR               = 0x0018,
    QORB_PCIE_CAP_SECONDARY_PCIE    = 0x0019,
    QORB_PCIE_CAP_DPC               = 0x001D,
    QORB_PCIE_CAP_L1_PM_SUBSTATES   = 0x001E,
    QORB_PCIE_CAP_PTM               = 0x001F,
};

#pragma pack(push, 1)

/* Legacy capability header. */
struct _PCI_CAPABILITY_HEADER_t {
    uint8_t capabilityId;
    uint8_t nextPointer;
};

/* PCI Express Capability structure (36 bytes, to Root Status). */
struct _PCIE_CAPABILITY_STRUCT_t {
    uint8_t  capabilityId;        /* 0x00 */
    uint8_t  nextPointer;         /* 0x01 */
    uint16_t pcieCapabilities;    /* 0x02: Device/Port Type in bits 7:4 */
    uint32_t deviceCapabilities;  /* 0x04 */
    uint16_t deviceControl;       /* 0x08 */
    uint16_t deviceStatus;        /* 0x0A */
    uint32_t linkCapabilities;    /* 0x0C */
    uint16_t linkControl;         /* 0x10: bit 4 Link Disable, bit 5 Retrain Link */
    uint16_t linkStatus;          /* 0x12: bit 11 Link Training */
    uint32_t slotCapabilities;    /* 0x14 */
    uint16_t slotControl;         /* 0x18 */
    uint16_t slotStatus;          /* 0x1A */
    uint16_t rootControl;         /* 0x1C */
    uint16_t rootCapabilities;    /* 0x1E */
    uint32_t rootStatus;          /* 0x20 */
};

/* MSI capability, 32-bit message address, per-vector masking layout (20 bytes). */
struct PCI_MSI_CAPABILITY_32_STRUCT_t {
    uint8_t  capabilityId;        /* 0x00 */
    uint8_t  nextPointer;         /* 0x01 */
    uint16_t messageControl;      /* 0x02: bit 7, 64 Bit Address Capable */
    uint32_t messageAddress;      /* 0x04 */
    uint16_t messageData;         /* 0x08 */
    uint16_t reserved;            /* 0x0A */
    uint32_t maskBits;            /* 0x0C */
    uint32_t pendingBits;         /* 0x10 */
};

/* MSI capability, 64-bit message address (24 bytes; lookups copy the first 20). */
struct PCI_MSI_CAPABILITY_64_STRUCT_t {
    uint8_t  capabilityId;        /* 0x00 */
    uint8_t  nextPointer;         /* 0x01 */
    uint16_t messageControl;      /* 0x02 */
    uint32_t messageAddressLow;   /* 0x04 */
    uint32_t messageAddressHigh;  /* 0x08 */
    uint16_t messageData;         /* 0x0C */
    uint16_t reserved;            /* 0x0E */
    uint32_t maskBits;            /* 0x10 */
    uint32_t pendingBits;         /* 0x14 */
};

/* MSI-X capability (12 bytes). */
struct _PCI_MSI_X_CAPABILITY_STRUCT_t {
    uint8_t  capabilityId;        /* 0x00 */
    uint8_t  nextPointer;         /* 0x01 */
    uint16_t messageControl;      /* 0x02 */
    uint32_t tableOffsetBir;      /* 0x04 */
    uint32_t pbaOffsetBir;        /* 0x08 */
};

/* Power Management capability (8 bytes). */
struct _PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT {
    uint8_t  capabilityId;        /* 0x00 */
    uint8_t  nextPointer;         /* 0x01 */
    uint16_t pmCapabilities;      /* 0x02 */
    uint16_t pmControlStatus;     /* 0x04 */
    uint8_t  bridgeExtensions;    /* 0x06 */
    uint8_t  data;                /* 0x07 */
};

/* Advanced Error Reporting capability (60 bytes). */
struct _PCIE_ADV_ERR_REP_CAP_STRUCT_t {
    uint32_t header;                   /* 0x00 */
    uint32_t uncorrectableErrorStatus; /* 0x04, write-one-to-clear */
    uint32_t uncorrectableErrorMask;   /* 0x08 */
    uint32_t uncorrectableErrorSeverity; /* 0x0C */
    uint32_t correctableErrorStatus;   /* 0x10, write-one-to-clear */
    uint32_t correctableErrorMask;     /* 0x14 */
    uint32_t capabilitiesAndControl;   /* 0x18 */
    uint32_t headerLog[4];             /* 0x1C */
    uint32_t rootErrorCommand;         /* 0x2C */
    uint32_t rootErrorStatus;          /* 0x30 */
    uint16_t correctableSourceId;      /* 0x34 */
    uint16_t errorSourceId;            /* 0x36 */
    uint32_t tlpPrefixLog0;            /* 0x38 */
};

/* Virtual Channel capability up to the VC0 resource registers (28 bytes). */
struct _PCIE_VIRTUAL_CHANNEL_CAPABILITY_STRUCT_t {
    uint32_t header;                   /* 0x00 */
    uint32_t portVcCapabilities1;      /* 0x04 */
    uint32_t portVcCapabilities2;      /* 0x08 */
    uint16_t portVcControl;            /* 0x0C */
    uint16_t portVcStatus;             /* 0x0E */
    uint32_t vc0ResourceCapability;    /* 0x10 */
    uint32_t vc0ResourceControl;       /* 0x14 */
    uint16_t reserved;                 /* 0x18 */
    uint16_t vc0ResourceStatus;        /* 0x1A */
};

/* Device Serial Number capability (12 bytes). */
struct _PCIE_DEV_SERIAL_NUM_CAPABILITY_STRUCT {
    uint32_t header;                   /* 0x00 */
    uint32_t serialNumberLow;          /* 0x04 */
    uint32_t serialNumberHigh;         /* 0x08 */
};

/* Power Budgeting capability. The structure itself is 16 bytes; lookups copy
 * 24, so the record carries the 8 bytes that follow it as well. */
struct _PCIE_POWER_BUDGET_CAPABILITY_STRUCT_t {
    uint32_t header;                   /* 0x00 */
    uint8_t  dataSelect;               /* 0x04 */
    uint8_t  reserved1[3];
    uint32_t data;                     /* 0x08 */
    uint8_t  powerBudgetCapability;    /* 0x0C */
    uint8_t  reserved2[3];
    uint8_t  following[8];             /* 0x10: bytes after the structure */
};

/* The 64-byte configuration header (type 0 and type 1 layouts). */
struct _PCI_CONFIG_SPACE_HEADER_t {
    uint16_t vendorId;                 /* 0x00 */
    uint16_t deviceId;                 /* 0x02 */
    uint16_t command;                  /* 0x04 */
    uint16_t status;                   /* 0x06 */
    uint8_t  revisionId;               /* 0x08 */
    uint8_t  progIf;                   /* 0x09 */
    uint8_t  subClass;                 /* 0x0A */
    uint8_t  baseClass;                /* 0x0B */
    uint8_t  cacheLineSize;            /* 0x0C */
    uint8_t  latencyTimer;             /* 0x0D */
    uint8_t  headerType;               /* 0x0E */
    uint8_t  bist;                     /* 0x0F */
    union {
        struct {
            uint32_t bar[6];           /* 0x10 */
            uint32_t cardbusCis;       /* 0x28 */
            uint16_t subsystemVendorId; /* 0x2C */
            uint16_t subsystemId;      /* 0x2E */
            uint32_t romBase;          /* 0x30 */
            uint8_t  capabilitiesPointer; /* 0x34 */
            uint8_t  reserved[7];
            uint8_t  interruptLine;    /* 0x3C */
            uint8_t  interruptPin;     /* 0x3D */
            uint8_t  minGrant;         /* 0x3E */
            uint8_t  maxLatency;       /* 0x3F */
        } type0;
        struct {
            uint32_t bar[2];           /* 0x10 */
            uint8_t  primaryBus;       /* 0x18 */
            uint8_t  secondaryBus;     /* 0x19 */
            uint8_t  subordinateBus;   /* 0x1A */
            uint8_t  secondaryLatency; /* 0x1B */
            uint8_t  ioBase;           /* 0x1C */
            uint8_t  ioLimit;          /* 0x1D */
            uint16_t secondaryStatus;  /* 0x1E */
            uint16_t memoryBase;       /* 0x20 */
            uint16_t memoryLimit;      /* 0x22 */
            uint16_t prefMemoryBase;   /* 0x24 */
            uint16_t prefMemoryLimit;  /* 0x26 */
            uint32_t prefBaseUpper;    /* 0x28 */
            uint32_t prefLimitUpper;   /* 0x2C */
            uint16_t ioBaseUpper;      /* 0x30 */
            uint16_t ioLimitUpper;     /* 0x32 */
            uint8_t  capabilitiesPointer; /* 0x34 */
            uint8_t  reserved[3];
            uint32_t romBase;          /* 0x38 */
            uint8_t  interruptLine;    /* 0x3C */
            uint8_t  interruptPin;     /* 0x3D */
            uint16_t bridgeControl;    /* 0x3E */
        } type1;
    } u;
};

#pragma pack(pop)

static_assert(sizeof(_PCI_CAPABILITY_HEADER_t) == 2, "capability header");
static_assert(sizeof(_PCIE_CAPABILITY_STRUCT_t) == 36, "PCI Express capability");
static_assert(sizeof(PCI_MSI_CAPABILITY_32_STRUCT_t) == 20, "MSI 32");
static_assert(sizeof(PCI_MSI_CAPABILITY_64_STRUCT_t) == 24, "MSI 64");
static_assert(sizeof(_PCI_MSI_X_CAPABILITY_STRUCT_t) == 12, "MSI-X");
static_assert(sizeof(_PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT) == 8, "PM");
static_assert(sizeof(_PCIE_ADV_ERR_REP_CAP_STRUCT_t) == 60, "AER");
static_assert(sizeof(_PCIE_VIRTUAL_CHANNEL_CAPABILITY_STRUCT_t) == 28, "VC");
static_assert(sizeof(_PCIE_DEV_SERIAL_NUM_CAPABILITY_STRUCT) == 12, "DSN");
static_assert(sizeof(_PCIE_POWER_BUDGET_CAPABILITY_STRUCT_t) == 24, "power budget");
static_assert(sizeof(_PCI_CONFIG_SPACE_HEADER_t) == 64, "config header");

/* What QORB_QueryCapInfo() copies out of a capability handle. */
struct _QORB_PCI_DEVICE_CAP_INFO_t {
    uint32_t offset;
    uint32_t capabilityId;
    uint32_t length;
    uint32_t nextOffset;
};

/* Filled by QORB_ADVERR_Util_GetAdvErrorRepCap(). */
struct QORB_ADVERR_INFO_t {
    void* device;                        /* the device asked about */
    void* capHandle;                     /* AER capability handle, or null */
    _PCIE_ADV_ERR_REP_CAP_STRUCT_t aer;  /* copy of the AER capability */
};

/* ------------------------------------------------------------------------
 * Link control
 * ------------------------------------------------------------------------ */

/* States of the ASPM Control field (Link Control bits 1:0). SetASPMState()
 * and SetUpstreamASPMState() accept them and change nothing. */
enum _QORB_ASPM_CONTROL_STATE_t : uint32_t {
    QORB_ASPM_DISABLED = 0,
    QORB_ASPM_L0S      = 1,
    QORB_ASPM_L1       = 2,
    QORB_ASPM_L0S_L1   = 3,
};

/* ------------------------------------------------------------------------
 * Logging
 * ------------------------------------------------------------------------ */

/* Message kinds: signed 32-bit values, compared for equality only. */
typedef int32_t QORB_LOG_KIND;
constexpr int32_t QORB_LOG_SUCCESS = 0x00000000;
constexpr int32_t QORB_LOG_INFO    = 0x04000000;
constexpr int32_t QORB_LOG_WARNING = 0x08000000;
constexpr int32_t QORB_LOG_ERROR   = 0x20000000;
constexpr int32_t QORB_LOG_ABORT   = 0x40000000;
constexpr int32_t QORB_LOG_FAIL    = static_cast<int32_t>(0x80000000u);

/* Protocol layer of a checklist assertion. */
enum _QORB_LAYER_t : uint32_t {
    QORB_LAYER_PHY     = 0,
    QORB_LAYER_PHYLINK = 1,
    QORB_LAYER_CFG     = 2,
    QORB_LAYER_EM      = 3,
    QORB_LAYER_SYS     = 4,
    QORB_LAYER_DLL     = 5,
    QORB_LAYER_TXN     = 6,
};

/* Names one assertion of a compliance checklist, e.g. PHY.4.2#1.3. */
struct _QORB_TEST_NUM_t {
    _QORB_LAYER_t layer;
    uint8_t reserved[10];   /* read by no logging operation */
    char major[5];          /* NUL-terminated, at most 4 characters */
    char minor[5];
    char item[5];
    char subitem[5];
};
static_assert(offsetof(_QORB_TEST_NUM_t, major) == 14, "test number layout");
static_assert(offsetof(_QORB_TEST_NUM_t, subitem) == 29, "test number layout");

enum _QORB_LOG_TYPE_t : uint32_t {
    QORB_LOG_TYPE_XML      = 0,
    QORB_LOG_TYPE_RAW_TEXT = 1,
    QORB_LOG_TYPE_CONSOLE  = 2,
};

enum _QORB_LOG_ACTION_t : uint32_t {
    QORB_LOG_ACTION_CREATE    = 0,
    QORB_LOG_ACTION_APPEND    = 1,
    QORB_LOG_ACTION_OVERWRITE = 2,
};

/* ------------------------------------------------------------------------
 * Test card (ZEB) and partner (VOK)
 * ------------------------------------------------------------------------ */

/* Operating modes of the ZEB test card, passed unchanged to the card library
 * (ChangeZEBMode by value, QueryZEBMode by pointer); docs/test-card.md. */
enum _QORB_ZEB_OP_MODE_t : uint32_t {
    QORB_ZEB_MODE_PASSTHROUGH = 0, /* forwards traffic, records nothing */
    QORB_ZEB_MODE_MONITOR     = 1, /* records link traffic while armed */
    QORB_ZEB_MODE_INJECT      = 2, /* records and carries out programmed commands */
};

/* Errors the card can be told to inject (_qorb_cmd_map_t::command). Each time
 * the card carries one out it adds 1 to its action count. */
enum _QORB_ZEB_CMD_t : uint32_t {
    QORB_ZEB_CMD_NONE                 = 0,
    QORB_ZEB_CMD_BAD_TLP              = 1, /* corrupt LCRC: Nak and replay follow */
    QORB_ZEB_CMD_BAD_DLLP             = 2, /* corrupt a DLLP's CRC */
    QORB_ZEB_CMD_REPLAY_TIMER_TIMEOUT = 3, /* drop the Ack so the replay timer expires */
    QORB_ZEB_CMD_REPLAY_NUM_ROLLOVER  = 4, /* force four replays of one TLP */
    QORB_ZEB_CMD_RECEIVER_ERROR       = 5, /* a symbol error on the receiver */
    QORB_ZEB_CMD_UNSUPPORTED_REQUEST  = 6, /* send a request the function does not support */
    QORB_ZEB_CMD_COMPLETION_TIMEOUT   = 7, /* swallow a completion */
    QORB_ZEB_CMD_DL_PROTOCOL_ERROR    = 8, /* an Ack for a sequence number never sent */
    QORB_ZEB_CMD_FC_PROTOCOL_ERROR    = 9, /* flow control update beyond the advertised credit */
};

/* A command for the card, handed unchanged to the card library by
 * ProgramZEBCmd; qorb reads no field of it. */
struct _qorb_cmd_map_t {
    uint32_t command;      /* _QORB_ZEB_CMD_t: which error to inject */
    uint32_t count;        /* how many times to carry it out (0 is taken as 1) */
    uint32_t interval;     /* carry it out on every interval-th matching packet (0 or 1: every one) */
    uint32_t packetKind;   /* 0: any packet; 1: TLP of tlpType; 2: DLLP of dllpType */
    uint8_t  tlpType;      /* Fmt/Type byte (byte 0 of the TLP header) to act on */
    uint8_t  dllpType;     /* DLLP type byte to act on */
    uint16_t reserved;
};

/* The card's properties, filled by the card library for
 * QORB_GetZEBProperties; qorb reads no field of it. */
struct _qorb_zeb_query_prop_t {
    uint32_t traceBufferSize;   /* trace buffer capacity in bytes */
    uint32_t firmwareRevision;  /* major << 16 | minor */
    uint32_t hardwareRevision;
    uint32_t linkWidth;         /* negotiated width of the monitored link (lanes) */
    uint32_t linkSpeed;         /* current speed of the monitored link (1 = 2.5 GT/s, 2 = 5 GT/s, ...) */
    uint32_t mode;              /* _QORB_ZEB_OP_MODE_t */
    uint32_t armed;             /* 1 while armed */
    uint32_t loggingSuspended;  /* 1 while logging is suspended */
    uint32_t bytesRecorded;     /* bytes currently in the trace buffer */
};

/* ------------------------------------------------------------------------
 * Platform configuration file
 * ------------------------------------------------------------------------ */

#define QORB_MAX_DUTS 100
#define QORB_DAT_PATH_LEN 1000

enum _QORB_TEST_MODE_t : uint32_t {
    QORB_TEST_MODE_PLATFORM   = 0,
    QORB_TEST_MODE_ADDIN      = 1,
    QORB_TEST_MODE_SIMULATION = 2,
};

struct _QORB_DAT_INFO_t {
    char* userName;                       /* owned by the record (malloc); see QORB_FreeDatInfo */
    uint32_t testMode;                    /* _QORB_TEST_MODE_t */
    uint32_t dutFindFlags[QORB_MAX_DUTS];
    _QORB_DEVICE_FIND_INFO_t dutFindInfo[QORB_MAX_DUTS];
    int16_t dutCount;
    char qorbIniFilePath[QORB_DAT_PATH_LEN];
    char qorbIniFileName[QORB_DAT_PATH_LEN];
    char appIniFileName[QORB_DAT_PATH_LEN];
    int32_t replayCount;
    uint64_t pcieBaseAddress;
    int16_t dutConfigIncr;
    uint16_t dutConfigOffset;
    uint16_t dutConfigLength;
    int16_t dutSerrEnable;
    int16_t reserved;                     /* never read from the file */
};

/* ------------------------------------------------------------------------
 * User interaction
 * ------------------------------------------------------------------------ */

enum _QORB_UI_TYPE_t : uint32_t {
    QORB_UI_TYPE_CONSOLE = 0, /* not offered by this library */
    QORB_UI_TYPE_GUI     = 1, /* not offered by this library */
    QORB_UI_TYPE_REMOTE  = 2, /* not offered by this library */
    QORB_UI_TYPE_DUMMY   = 3, /* CDummyUserInput: answers everything, asks nobody */
};

/* ------------------------------------------------------------------------
 * Exported interface table
 * ------------------------------------------------------------------------ */

#define QORB_INTF_VERSION 0x00010001u
#define QORB_INTF_SLOTS 20

/* The interface table filled by QORBGetIntf: 20 pointer-sized slots that an
 * application indexes by position. Slot 0 holds the version word
 * QORB_INTF_VERSION; slots 10, 11 and 19 are null; every other slot holds
 * the address of an exported operation (see QORBGetIntf). */
struct _QORB_INTF_t {
    uintptr_t slot[QORB_INTF_SLOTS];
};

#endif
