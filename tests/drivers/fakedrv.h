/* The tests' one programmable configuration driver (fakedrv.so): it forwards the configuration, card (ZEB) and
 * partner (VOK) tables to the simulated driver (built-in platform, or the dumps named by ./qorbsim.ini) until a
 * test sets an entry's mode, and logs every call. FK_MISSING takes effect on a configuration entry at the next
 * open (the library copies that table when it binds), on a card entry at once; other modes let the first `after`
 * calls pass. A process a test runs takes FAKEDRV="entry:mode:after[,...]" from its environment. Also built as
 * fakedrv_nocard.so (no card table exports) and fakedrv_noiface.so (no ConfigDriver_GetInterface). */
#ifndef FAKEDRV_H
#define FAKEDRV_H

#include <stdint.h>

enum FakeEntry : uint32_t {
    FK_GET_INTERFACE, /* FK_FAIL fills the table, then answers 0 */
    FK_OPEN,
    FK_MAP,
    FK_QUERY,
    FK_READ,
    FK_READ_EX,
    FK_WRITE,
    FK_CLOSE,
    FK_ZEB, /* FK_ZEB + n: slot n of the ZEB table (0 to 16, 7 unused) */
    FK_VOK = FK_ZEB + 17,
    FK_ZEB_TABLE,
    FK_VOK_TABLE, /* the table exports: the table always stored; FK_FAIL answers FK_CARD_FAILURE */
    FK_ENTRIES
};

enum FakeMode : uint32_t {
    FK_FORWARD,
    FK_MISSING, /* left out of the table */
    FK_FAIL, /* 0 or FK_CARD_FAILURE, outputs untouched (GetTraceConfig, GetTraceBufferSize store 0xFFFFFFFF) */
    FK_ANSWER, /* outputs untouched, the value of FakeDrv_SetAnswer answered */
    FK_SHORT, /* half the bytes asked transferred, that count answered */
    FK_OVER, /* every byte asked transferred, 64 more answered */
    FK_OVER_PARTIAL, /* the count asked answered, only half of it transferred */
    FK_GARBAGE_FF, /* every byte 0xFF; odd non-zero answers from entries that answer a flag */
    FK_GARBAGE_RANDOM, /* random bytes (a fixed seed), random answers */
    FK_GARBAGE_LOOP, /* capability lists that loop; trace entries of the largest length */
    FK_GARBAGE_EDGE, /* pointers into the header, vendor lengths of 0xFF; trace entries cut off */
    FK_MODES
};

#define FK_CARD_FAILURE 0x8000FA11u /* a failing card entry's answer: no status of the library's */
#define FK_CONTEXT 0x5EED0001u /* the context OpenDriver stores for the library */

struct FakeCall {
    uint32_t entry;
    uint32_t args[5]; /* bus, device, function, offset, length (ReadConfigEx: its five values); card: b, d, f, value */
    uint64_t wide[2]; /* MapConfigSpace base and length */
    uint8_t data[16]; /* first bytes written (WriteConfig) or passed by pointer (ProgramCmd) */
    uint32_t answer;
};

extern "C" {
void FakeDrv_Reset(void); /* every entry forwards; log, counts, settings cleared */
void FakeDrv_Set(uint32_t entry, uint32_t mode, uint32_t after);
void FakeDrv_SetAnswer(uint32_t entry, uint32_t answer); /* for FK_ANSWER */
uint32_t FakeDrv_Count(uint32_t entry); /* calls since the reset */
uint32_t FakeDrv_Hits(uint32_t entry); /* ... of them that got the mode */
uint32_t FakeDrv_LastAnswer(uint32_t entry);
uint32_t FakeDrv_WrongContext(void); /* calls made with another context than FK_CONTEXT */
uint32_t FakeDrv_Log(FakeCall* out, uint32_t max); /* oldest first, up to max; answers the count kept (<= 4096) */
/* Reads starting in [from, to) that ask at least minLength bytes transfer at most maxBytes. */
void FakeDrv_Limit(uint32_t from, uint32_t to, uint32_t minLength, uint32_t maxBytes);
/* Reads of at least minLength bytes covering `offset` see `value` there. */
void FakeDrv_Patch(uint32_t offset, uint8_t value, uint32_t minLength);
void FakeDrv_SetMcfg(uint64_t base, uint8_t startBus, uint8_t endBus, uint64_t length); /* QueryMcfgTable: 1 */
/* ReadTraceBuffer copies these bytes instead of the card's trace; `reported` (if not 0) is the count left. */
void FakeDrv_SetTrace(const uint8_t* bytes, uint32_t length, uint32_t reported);
}

#endif
