/* The trace buffer searches and the trace dump on any trace copy.
 *
 * The copy reaches the card record the way an application gets it: through
 * ZEBGetTraceBuffer from a test card table served in this process, whose
 * card holds the input's trace bytes and may claim to have read more bytes
 * than its buffer has. Then every search runs over the copy, and
 * LogTBContents dumps it into an XML log written to /dev/null.
 *
 * Input: a 20-byte head, then the trace bytes.
 *   0-3   TLP pattern (first header doubleword)
 *   4-7   TLP match flags
 *   8     DLLP pattern type
 *   9     DLLP record capacity
 *   10-11 TLP index asked for
 *   12-15 byte count asked of GetTBContents and LogTBContents
 *   16    bit 0: the card claims byte 17 more bytes read than it has;
 *         bit 1: the trace is fetched twice;
 *         bit 2: the second fetch finds the card unable to say its size */
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <qorb_common/trace_entry.h>

#include "fuzz_support.h"
#include "qorb_internal.h"

namespace {

struct FakeCard {
    const uint8_t* trace = nullptr;
    uint32_t size = 0;
    uint32_t claimedExtra = 0;
    bool sizeFails = false;
} g_card;

uint32_t IsZeb(uint32_t, uint32_t, uint32_t) { return 1; }

uint32_t GetTraceBufferSize(uint32_t, uint32_t, uint32_t, uint32_t* bytes)
{
    if (g_card.sizeFails)
        return 1;
    *bytes = g_card.size;
    return 0;
}

uint32_t ReadTraceBuffer(uint32_t, uint32_t, uint32_t, uint32_t* bytes, uint8_t* buffer)
{
    uint32_t n = *bytes < g_card.size ? *bytes : g_card.size;
    if (n)
        memcpy(buffer, g_card.trace, n);
    *bytes = n + g_card.claimedExtra;
    return 0;
}

uint32_t GetActionCount(uint32_t, uint32_t, uint32_t, uint32_t* count)
{
    *count = 7;
    return 0;
}

_ZEB_LIB_INTERFACE_t g_zebTable = [] {
    _ZEB_LIB_INTERFACE_t t{};
    t.IsZEB = IsZeb;
    t.GetTraceBufferSize = GetTraceBufferSize;
    t.ReadTraceBuffer = ReadTraceBuffer;
    t.GetActionCount = GetActionCount;
    return t;
}();

void* OpenLog()
{
    g_qorbDriver.zeb = &g_zebTable;
    void* log = nullptr;
    if (CreateLog(nullptr, &log, QORB_LOG_TYPE_XML, "/dev/null", QORB_LOG_ACTION_APPEND) != QORB_SUCCESS || !log)
        abort();
    return log;
}

void* const g_log = OpenLog();

void Searches(void* card, qorbfuzz::InputReader head, uint32_t copyLength)
{
    using qorbfuzz::Require;
    uint8_t tlpPattern[4];
    for (uint8_t& b : tlpPattern)
        b = head.U8();
    uint32_t flags = head.U32();
    uint8_t dllpPattern[6] = {head.U8()};
    uint32_t capacity = head.U8();
    uint32_t index = head.U16();
    uint32_t asked = head.U32();

    uint32_t bytes = 0xDEAD;
    Require(GetBytesInZEBTB(card, &bytes) == QORB_SUCCESS && bytes == copyLength, "GetBytesInZEBTB is the copy");

    uint32_t matches = 0;
    Require(GetNumTLPMatches(card, tlpPattern, flags, &matches) == QORB_SUCCESS, "GetNumTLPMatches");
    Require(matches <= copyLength / 8, "a TLP match per entry at most");
    std::vector<uint32_t> found(matches > 0 ? matches : 1);
    uint32_t stored = 0xDEAD;
    Require(FindTLPByTLPType(card, tlpPattern, flags, found.data(), &stored) == QORB_SUCCESS, "FindTLPByTLPType");
    Require(stored == matches, "FindTLPByTLPType stores what GetNumTLPMatches counts");

    uint32_t tlps = 0;
    Require(GetNumTLPMatches(card, tlpPattern, 0, &tlps) == QORB_SUCCESS && tlps >= matches,
            "no flags count every TLP");
    const auto* record = static_cast<const QORB_DEVICE_t*>(card);
    uint32_t walked = 0;
    qorb_trace::WalkTrace(record->traceCopy, record->traceCopy ? copyLength : 0,
                          [&](uint32_t, const uint8_t* header, uint32_t) {
                              walked += qorb_trace::IsTlp(header[1]);
                              return true;
                          });
    Require(tlps == walked, "no flags count the TLP entries the format's own walk finds");
    uint8_t tlp[16];
    for (uint32_t i : {index, tlps, tlps > 0 ? tlps - 1 : 0u}) {
        _QORB_STATUS_t status = QORB_ZEB_TB_GetTLPByIndex(card, tlp, 0, i);
        Require((status == QORB_SUCCESS) == (i < tlps), "GetTLPByIndex finds the TLPs numbered");
    }

    uint32_t dllps = 0;
    Require(GetNumDLLPMatches(card, dllpPattern, 0, &dllps) == QORB_SUCCESS, "GetNumDLLPMatches");
    std::vector<uint8_t> records(capacity * 6 + 1);
    uint32_t count = capacity;
    Require(FindDLLPTypeDLLPType(card, dllpPattern, 0, capacity > 0 ? records.data() : nullptr, &count) ==
                    QORB_SUCCESS &&
                count == (dllps < capacity ? dllps : capacity),
            "FindDLLPTypeDLLPType stores the matches that fit");

    std::vector<uint8_t> contents(copyLength > 0 ? copyLength : 1);
    uint32_t length = asked;
    Require(GetTBContents(card, contents.data(), &length) == QORB_SUCCESS &&
                length == (asked < copyLength ? asked : copyLength),
            "GetTBContents copies what was asked and is there");

    uint32_t none = 0;
    Require(GetTBContents(card, nullptr, &none) == QORB_SUCCESS && none == 0, "GetTBContents of nothing");
    Require(LogTBContents(g_log, card, nullptr) == QORB_SUCCESS, "LogTBContents of the whole copy");
    uint32_t dumped = asked;
    Require(LogTBContents(g_log, card, &dumped) == QORB_SUCCESS, "LogTBContents");
    Require(dumped == (asked > copyLength ? copyLength : asked), "LogTBContents lowers a count past the copy");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr size_t kHead = 20;
    qorbfuzz::InputReader head(data, size);
    const uint8_t* trace = size > kHead ? data + kHead : data + size;
    uint32_t traceSize = size > kHead ? static_cast<uint32_t>(size - kHead) : 0;
    qorbfuzz::InputReader behaviour(data + (size > 16 ? 16 : size), size > 16 ? size - 16 : 0);
    uint8_t mode = behaviour.U8();
    uint8_t extra = behaviour.U8();

    g_card = FakeCard{trace, traceSize, (mode & 1) ? extra : 0u, false};
    QORB_DEVICE_t* card = CreateDeviceRecord(nullptr, 3, 0, 0);
    qorbfuzz::Require(card && card->isZeb == 1, "the served card is a ZEB");
    qorbfuzz::Require(ZEBGetTraceBuffer(card) == QORB_SUCCESS, "ZEBGetTraceBuffer");
    if (mode & 2) {
        g_card.sizeFails = (mode & 4) != 0;
        _QORB_STATUS_t again = ZEBGetTraceBuffer(card);
        qorbfuzz::Require(again == (g_card.sizeFails ? QORB_INVALID_PARAMETER : QORB_SUCCESS),
                          "a second fetch answers as the card does");
    }
    qorbfuzz::Require(card->traceCopyLength == traceSize, "the copy is as long as the card's buffer");
    Searches(card, head, card->traceCopyLength);
    CloseDevice(card);
    return 0;
}
