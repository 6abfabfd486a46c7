/* The fault-injecting configuration driver (faultdrv.so) and its controls.
 *
 * The driver wraps the simulated driver (its built-in platform, or the dumps
 * qorbsim.ini names) and forwards every entry of the configuration table and
 * of the test card (ZEB) and partner (VOK) tables to it, until a test sets a
 * fault on an entry. A test reaches the controls with dlsym on its own handle
 * of faultdrv.so, so they outlive the library's unload at CloseQORB.
 *
 * FD_MISSING on a configuration entry takes effect at the next open (the
 * library copies that table when it binds); on a card entry it takes effect at
 * once (the library reads the card's table through the pointer it was given).
 * Every other mode acts on the calls made after FaultDrv_Set: the first
 * `after` calls pass untouched, the later ones get the fault.
 *
 * A process that cannot reach the controls (a tool a test runs) sets its
 * faults in the environment: FAULTDRV="entry:mode:after[,...]", read when
 * the driver is first bound. */
#ifndef FAULTDRV_H
#define FAULTDRV_H

#include <stdint.h>

enum FaultEntry : uint32_t {
    FD_OPEN, FD_MAP, FD_QUERY, FD_READ, FD_READ_EX, FD_WRITE, FD_CLOSE,
    FD_ZEB,                        /* FD_ZEB + n: slot n of the ZEB table (0 to 16, 7 unused) */
    FD_VOK = FD_ZEB + 17,          /* IsVOK */
    FD_ENTRIES
};

enum FaultMode : uint32_t {
    FD_NORMAL,
    FD_MISSING,          /* null in the table */
    FD_FAIL,             /* 0 for configuration entries, FD_CARD_FAILURE for card entries, outputs untouched
                            (GetTraceBufferSize and GetTraceConfig still store 0xFFFFFFFF) */
    FD_SHORT,            /* half the bytes asked transferred, that count answered */
    FD_OVER,             /* every byte asked transferred, more answered */
    FD_OVER_PARTIAL,     /* the count asked answered, only half of it transferred */
    FD_GARBAGE_FF,       /* every byte 0xFF; odd non-zero answers from entries that answer a flag */
    FD_GARBAGE_RANDOM,   /* random bytes (a fixed seed), random answers */
    FD_GARBAGE_LOOP,     /* capability lists that loop (legacy: 48 PCI Express headers in a ring,
                            extended: 960 AER headers in a ring); trace entries of the largest length */
    FD_GARBAGE_EDGE,     /* pointers into the header (0x3C, 0xC0), vendor lengths of 0xFF, a capability
                            pointer of 0xFF; trace entries cut off at the end of the buffer */
    FD_MODES
};

/* What a failing card entry answers: a status outside the library's own. */
#define FD_CARD_FAILURE 0x8000FA11u

extern "C" {
typedef void (*FAULTDRV_RESET)(void);
typedef void (*FAULTDRV_SET)(uint32_t entry, uint32_t mode, uint32_t after);
/* Calls of the entry since the last reset, and how many of them got the fault. */
typedef uint32_t (*FAULTDRV_COUNT)(uint32_t entry);
/* What the entry answered the last time it was called. */
typedef uint32_t (*FAULTDRV_LAST_ANSWER)(uint32_t entry);
}

#endif
