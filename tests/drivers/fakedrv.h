/* The tests' one programmable configuration driver (fakedrv.so).
 *
 * It wraps the simulated driver (its built-in platform, or the dumps the
 * qorbsim.ini of the current directory names) and forwards every entry of the
 * configuration table and of the test card (ZEB) and partner (VOK) tables to
 * it, until a test changes an entry's mode. Every call is logged. A test
 * reaches the controls through the FakeDrv_* exports of its own dlopen handle
 * of fakedrv.so, so they outlive the library's unload at CloseQORB; tests use
 * the FakeDriver class of fake_driver.h rather than dlsym.
 *
 * FK_MISSING on a configuration entry takes effect at the next open (the
 * library copies that table when it binds); on a card entry at once. Every
 * other mode acts on the calls made after FakeDrv_Set: the first `after`
 * calls of the entry pass untouched, the later ones get the mode.
 *
 * A process a test runs (the tool) takes its modes from the environment:
 * FAKEDRV="entry:mode:after[,...]", read when the driver is first bound.
 *
 * The same source builds fakedrv_nocard.so (no table exports) and
 * fakedrv_noiface.so (no ConfigDriver_GetInterface). */
#ifndef FAKEDRV_H
#define FAKEDRV_H

#include <stdint.h>

enum FakeEntry : uint32_t {
    FK_GET_INTERFACE,              /* ConfigDriver_GetInterface: FK_FAIL answers 0 */
    FK_OPEN, FK_MAP, FK_QUERY, FK_READ, FK_READ_EX, FK_WRITE, FK_CLOSE,
    FK_ZEB,                        /* FK_ZEB + n: slot n of the ZEB table (0 to 16, 7 unused) */
    FK_VOK = FK_ZEB + 17,          /* IsVOK */
    FK_ZEB_TABLE, FK_VOK_TABLE,    /* the two table exports: every mode stores the table; FK_FAIL answers
                                      FK_CARD_FAILURE, which the library ignores */
    FK_ENTRIES
};

enum FakeMode : uint32_t {
    FK_FORWARD,
    FK_MISSING,          /* null in the table */
    FK_FAIL,             /* 0 for configuration entries, FK_CARD_FAILURE for card entries, outputs untouched
                            (GetTraceConfig and GetTraceBufferSize store 0xFFFFFFFF first; GetInterface fills
                            the table first) */
    FK_ANSWER,           /* outputs untouched, the value of FakeDrv_SetAnswer answered */
    FK_SHORT,            /* half the bytes asked transferred, that count answered */
    FK_OVER,             /* every byte asked transferred, more answered */
    FK_OVER_PARTIAL,     /* the count asked answered, only half of it transferred */
    FK_GARBAGE_FF,       /* every byte 0xFF; odd non-zero answers from entries that answer a flag */
    FK_GARBAGE_RANDOM,   /* random bytes (a fixed seed), random answers */
    FK_GARBAGE_LOOP,     /* capability lists that loop; trace entries of the largest length */
    FK_GARBAGE_EDGE,     /* pointers into the header, vendor lengths of 0xFF; trace entries cut off */
    FK_MODES
};

/* What a failing card entry answers: a status outside the library's own. */
#define FK_CARD_FAILURE 0x8000FA11u
/* The context OpenDriver stores for the library (the simulator's own context
 * stays inside the fake); entries called with another count as wrongContext. */
#define FK_CONTEXT 0x5EED0001u

struct FakeCall {
    uint32_t entry;      /* FakeEntry */
    uint32_t args[5];    /* configuration entries: bus, device, function, offset, length (ReadConfigEx: its
                            five values); card entries: bus, device, function, then the value passed, if any */
    uint64_t wide[2];    /* MapConfigSpace base and length */
    uint8_t data[16];    /* first bytes written (WriteConfig) or passed by pointer (ProgramCmd) */
    uint32_t answer;     /* what the entry answered */
    uint64_t whenNs;     /* CLOCK_MONOTONIC at the call */
};

extern "C" {
void FakeDrv_Reset(void);                                 /* every entry forwards; log, counts, limits cleared */
void FakeDrv_Set(uint32_t entry, uint32_t mode, uint32_t after);
void FakeDrv_SetAnswer(uint32_t entry, uint32_t answer);   /* for FK_ANSWER */
uint32_t FakeDrv_Count(uint32_t entry);                    /* calls since the reset */
uint32_t FakeDrv_Hits(uint32_t entry);                     /* ... of them that got the mode */
uint32_t FakeDrv_LastAnswer(uint32_t entry);
uint32_t FakeDrv_WrongContext(void);                       /* calls made with another context */
/* The call log, oldest first: copies up to `max` calls, answers the number logged
 * (the log keeps the last 4096). */
uint32_t FakeDrv_Log(FakeCall* out, uint32_t max);
/* Reads starting in [from, to) that ask at least minLength bytes transfer at most maxBytes. */
void FakeDrv_Limit(uint32_t from, uint32_t to, uint32_t minLength, uint32_t maxBytes);
/* Reads of at least minLength bytes covering `offset` see `value` there. */
void FakeDrv_Patch(uint32_t offset, uint8_t value, uint32_t minLength);
/* QueryMcfgTable answers 1 with these instead of forwarding. */
void FakeDrv_SetMcfg(uint64_t base, uint8_t startBus, uint8_t endBus, uint64_t length);
/* ReadTraceBuffer copies these bytes out instead of the card's trace; `reported`
 * (when not 0) is the count left in its length argument. */
void FakeDrv_SetTrace(const uint8_t* bytes, uint32_t length, uint32_t reported);
}

#endif
