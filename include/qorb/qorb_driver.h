/* The interface between libqorb and a configuration driver.
 *
 * A configuration driver is a shared object that the library loads at
 * OpenQORB()/OpenQORBEx() time. It exports ConfigDriver_GetInterface(), which
 * fills a table of ten entry points, and may export the test card (ZEB) and
 * partner (VOK) tables. Every entry except OpenDriver receives the driver
 * context that OpenDriver stored; numbers are 32-bit values. An entry left
 * null counts as missing and the library never calls it.
 *
 * Byte counts: ReadConfig and WriteConfig answer the number of bytes they
 * transferred. A count different from the length asked is a failure to every
 * caller; a short read of a scanned location means no function is there. */
#ifndef QORB_DRIVER_H
#define QORB_DRIVER_H

#include <stdint.h>

#include <qorb/qorb_types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t (*QORB_DRV_OPEN_DRIVER)(uint32_t* context);
typedef uint32_t (*QORB_DRV_MAP_CONFIG_SPACE)(uint32_t context, uint64_t base, uint64_t length);
typedef uint32_t (*QORB_DRV_QUERY_MCFG_TABLE)(uint32_t context, uint64_t* base, uint8_t* startBus,
                                              uint8_t* endBus, uint64_t* length);
typedef uint32_t (*QORB_DRV_READ_CONFIG)(uint32_t context, uint32_t bus, uint32_t device, uint32_t function,
                                         uint32_t offset, uint32_t length, uint8_t* buffer);
typedef uint32_t (*QORB_DRV_READ_CONFIG_EX)(uint32_t context, uint32_t v1, uint32_t v2, uint32_t v3,
                                            uint32_t v4, uint32_t v5, uint8_t* buffer);
typedef uint32_t (*QORB_DRV_WRITE_CONFIG)(uint32_t context, uint32_t bus, uint32_t device, uint32_t function,
                                          uint32_t offset, uint32_t length, uint8_t* buffer);
typedef uint32_t (*QORB_DRV_CLOSE_DRIVER)(uint32_t context);

/* The ten-slot configuration driver table. */
typedef struct _CONFIG_DRIVER_INTERFACE_t {
    QORB_DRV_OPEN_DRIVER      OpenDriver;      /* 0: non-zero = opened, context stored */
    QORB_DRV_MAP_CONFIG_SPACE MapConfigSpace;  /* 1: non-zero = window usable */
    QORB_DRV_QUERY_MCFG_TABLE QueryMcfgTable;  /* 2: non-zero = base and length valid */
    void*                     Reserved3;       /* 3: not used */
    QORB_DRV_READ_CONFIG      ReadConfig;      /* 4: bytes read */
    QORB_DRV_READ_CONFIG_EX   ReadConfigEx;    /* 5: value handed back unchanged */
    QORB_DRV_WRITE_CONFIG     WriteConfig;     /* 6: bytes written */
    QORB_DRV_CLOSE_DRIVER     CloseDriver;     /* 7: answer ignored */
    void*                     Reserved8;       /* 8: not used */
    void*                     Reserved9;       /* 9: not used */
} _CONFIG_DRIVER_INTERFACE_t;

/* Test card library table. Every operation takes the bus, device and function
 * of the device concerned first and answers a 32-bit result. */
typedef struct _ZEB_LIB_INTERFACE_t {
    uint32_t (*IsZEB)(uint32_t bus, uint32_t dev, uint32_t fn);                                   /* 0: 1 = is a ZEB */
    uint32_t (*GetTraceConfig)(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t* config);        /* 1 */
    uint32_t (*SetTraceConfig)(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t config);         /* 2 */
    uint32_t (*GetTraceBufferSize)(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t* bytes);     /* 3 */
    uint32_t (*WritePatternToTB)(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t pattern);      /* 4 */
    uint32_t (*ReadTraceBuffer)(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t* bytes, uint8_t* buffer); /* 5 */
    uint32_t (*GetProperties)(uint32_t bus, uint32_t dev, uint32_t fn, _qorb_zeb_query_prop_t* props); /* 6 */
    void*    Reserved7;                                                                           /* 7: not used */
    uint32_t (*Disarm)(uint32_t bus, uint32_t dev, uint32_t fn);                                  /* 8 */
    uint32_t (*GetActionCount)(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t* count);         /* 9 */
    uint32_t (*Arm)(uint32_t bus, uint32_t dev, uint32_t fn);                                     /* 10 */
    uint32_t (*ProgramCmd)(uint32_t bus, uint32_t dev, uint32_t fn, _qorb_cmd_map_t* cmd);        /* 11 */
    uint32_t (*ChangeMode)(uint32_t bus, uint32_t dev, uint32_t fn, _QORB_ZEB_OP_MODE_t mode);    /* 12 */
    uint32_t (*QueryMode)(uint32_t bus, uint32_t dev, uint32_t fn, _QORB_ZEB_OP_MODE_t* mode);    /* 13 */
    uint32_t (*SuspendLogging)(uint32_t bus, uint32_t dev, uint32_t fn);                          /* 14 */
    uint32_t (*ResumeLogging)(uint32_t bus, uint32_t dev, uint32_t fn);                           /* 15 */
    /* 16: 0 = both card functions found; their locations (low 8 bits used)
     * and 256-byte configuration headers are stored. */
    uint32_t (*GetUpstreamZEB)(uint32_t bus, uint32_t dev, uint32_t fn,
                               uint32_t* bus1, uint32_t* dev1, uint32_t* fn1, uint8_t* header1,
                               uint32_t* bus2, uint32_t* dev2, uint32_t* fn2, uint8_t* header2);
} _ZEB_LIB_INTERFACE_t;

/* Partner device table; only slot 0 is used. */
typedef struct _VOK_LIB_INTERFACE_t {
    uint32_t (*IsVOK)(uint32_t bus, uint32_t dev, uint32_t fn);  /* 0: non-zero = is a VOK */
    void* Reserved[7];
} _VOK_LIB_INTERFACE_t;

/* Entry points a driver exports under these names. */
typedef uint32_t (*QORB_CONFIG_DRIVER_GET_INTERFACE)(_CONFIG_DRIVER_INTERFACE_t* table);
typedef uint32_t (*QORB_ZEB_LIB_OPEN_INTERFACE)(_ZEB_LIB_INTERFACE_t** table);
typedef uint32_t (*QORB_VOK_LIB_OPEN_INTERFACE)(_VOK_LIB_INTERFACE_t** table);

/* Declared for driver writers: define these in the driver, exported. */
uint32_t ConfigDriver_GetInterface(_CONFIG_DRIVER_INTERFACE_t* table);
uint32_t ZEB_LIB_Open_ZEB_Interface(_ZEB_LIB_INTERFACE_t** table);
uint32_t VOK_LIB_Open_VOK_Interface(_VOK_LIB_INTERFACE_t** table);

#ifdef __cplusplus
}
#endif

#define QORB_DRIVER_EXPORT __attribute__((visibility("default")))

#endif
