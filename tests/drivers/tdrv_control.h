/* The control block of the test configuration drivers (tdrv_*.so): what the
 * tests set before an open and what the driver records of the calls it gets.
 * A test reaches a driver's block with dlsym(handle, "tdrv_control") on its
 * own handle of the same file, so the block outlives the library's close. */
#ifndef TDRV_CONTROL_H
#define TDRV_CONTROL_H

#include <stdint.h>

/* Table entries a driver fills, by slot. */
enum {
    TDRV_OPEN = 1u << 0,
    TDRV_MAP = 1u << 1,
    TDRV_QUERY = 1u << 2,
    TDRV_READ = 1u << 4,
    TDRV_READ_EX = 1u << 5,
    TDRV_WRITE = 1u << 6,
    TDRV_CLOSE = 1u << 7,
    TDRV_ALL = TDRV_OPEN | TDRV_MAP | TDRV_QUERY | TDRV_READ | TDRV_READ_EX | TDRV_WRITE | TDRV_CLOSE,
};

struct TDRV_CONTROL_t {
    /* Set by the test (tdrv_reset() gives the defaults in brackets). */
    uint32_t provide;            /* [TDRV_ALL] entries filled in the table */
    uint32_t getInterfaceAnswer; /* [1] */
    uint32_t openAnswer;         /* [1] */
    uint32_t context;            /* [0x5EED0001] stored by OpenDriver */
    uint32_t queryAnswer;        /* [1] */
    uint64_t mcfgBase;           /* [0xB0000000] answered by QueryMcfgTable */
    uint8_t mcfgStartBus;        /* [0] */
    uint8_t mcfgEndBus;          /* [0x3F] */
    uint64_t mcfgLength;         /* [0x4000000] */
    uint32_t mapAnswer;          /* [1] */
    uint32_t readShortBy;        /* [0] ReadConfig answers this many bytes fewer than asked */
    uint32_t readExAnswer;       /* [0xC0FFEE] */

    /* Recorded by the driver. */
    char calls[128];             /* one letter per call: G getInterface, O open, Q query, M map, R read,
                                    X readEx, W write, C close, Z ZEB open, V VOK open */
    uint32_t wrongContext;       /* entries called with another context than OpenDriver stored */
    uint64_t mapBase, mapLength; /* arguments of the last MapConfigSpace */
    uint32_t readArgs[5];        /* bus, device, function, offset, length of the last ReadConfig */
    uint32_t writeArgs[5];       /* the same for WriteConfig */
    uint8_t written[16];         /* first bytes of the last write */
    uint32_t readExArgs[5];
    const uint8_t* readExBuffer;
    const void* zebTableOut;     /* the address ZEB_LIB_Open_ZEB_Interface was given */
    const void* vokTableOut;
};

#endif
