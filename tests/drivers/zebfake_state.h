/* State of the fake test card driver (zebfake.so), shared with the tests.
 *
 * The driver serves configuration reads from a few functions the test
 * describes, answers the test card (ZEB) and partner (VOK) tables from this
 * state, and records every test card call it receives. A test gets the state
 * with the driver's exported ZebFake_State() after OpenQORBEx; OpenDriver
 * resets it, so every open starts from the defaults. The tables the library
 * binds live here too: a test may null a slot to see how the library copes. */
#ifndef ZEBFAKE_STATE_H
#define ZEBFAKE_STATE_H

#include <stdint.h>

#include <qorb/qorb_driver.h>

#define ZEBFAKE_MAX_FUNCTIONS 8
#define ZEBFAKE_MAX_CALLS 64
#define ZEBFAKE_MAX_TRACE 4096
#define ZEBFAKE_SLOTS 17

struct ZebFakeFunction {
    uint32_t present;
    uint32_t bus, dev, fn;
    uint32_t isZeb;       /* what IsZEB answers */
    uint32_t isVok;       /* what IsVOK answers */
    uint32_t readCount;   /* when non-zero, ReadConfig answers this byte count */
    uint8_t config[256];
};

struct ZebFakeCall {
    uint32_t slot;        /* _ZEB_LIB_INTERFACE_t slot number; 100 = IsVOK */
    uint32_t bus, dev, fn;
    uint64_t argument;    /* the value or pointer passed after the location */
    uint64_t whenNs;      /* CLOCK_MONOTONIC at the call */
};

struct ZebFakeState {
    ZebFakeFunction functions[ZEBFAKE_MAX_FUNCTIONS];
    uint32_t slotResult[ZEBFAKE_SLOTS];  /* answer of each slot (IsZEB excluded); 0 by default */

    uint32_t traceConfig;                /* GetTraceConfig stores it, SetTraceConfig replaces it */
    uint32_t bufferSize;                 /* what GetTraceBufferSize stores */
    uint8_t trace[ZEBFAKE_MAX_TRACE];    /* what ReadTraceBuffer copies out */
    uint32_t traceLength;
    uint32_t reportedLength;             /* when non-zero, left in ReadTraceBuffer's count */

    uint32_t actionCount;
    _QORB_ZEB_OP_MODE_t mode;
    _qorb_zeb_query_prop_t properties;
    _qorb_cmd_map_t lastCommand;
    uint32_t lastPattern;
    uint32_t upstream[2][3];             /* GetUpstreamZEB locations; headers from functions[] */

    ZebFakeCall calls[ZEBFAKE_MAX_CALLS];
    uint32_t callCount;
    uint32_t configReads;                /* ReadConfig calls */

    _ZEB_LIB_INTERFACE_t zeb;            /* the tables the library binds */
    _VOK_LIB_INTERFACE_t vok;
};

typedef ZebFakeState* (*ZEBFAKE_STATE_FN)(void);

#endif
