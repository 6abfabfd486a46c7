/* Searches and counts over a card record's trace copy, and the copy written
 * to an XML log. Traces are built by hand in the card's entry format and
 * attached to a record directly, allocated to the byte so that the sanitizer
 * build catches any read past the copy. */
#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qorb_internal.h"
#include "qorb_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t F = QORB_TLP_MATCH_FMT, T = QORB_TLP_MATCH_TYPE, L = QORB_TLP_MATCH_LENGTH,
                   S = QORB_TLP_MATCH_STRICT;

/* Entries of the card's trace: 8-byte header (marker, kind, length in
 * doublewords, time stamp), then the payload. */
struct Trace {
    Bytes bytes;
    Trace& Entry(uint8_t byte1, uint16_t length, const Bytes& payload = {})
    {
        bytes.insert(bytes.end(), {0xF1, byte1, uint8_t(length), uint8_t(length >> 8), 0x5A, 0x5A, 0x5A, 0x5A});
        return Raw(payload);
    }
    /* A TLP of `dwords` doublewords: byte 0 and the Length field, then 0x10, 0x11... */
    Trace& Tlp(uint8_t kind, uint8_t byte0, uint16_t length, uint16_t dwords = 3)
    {
        Bytes p = {byte0, 0, uint8_t(length >> 8 & 3), uint8_t(length)};
        for (uint16_t i = 1; i < dwords; ++i)
            p.insert(p.end(), 4, uint8_t(0x10 + i - 1));
        return Entry(kind, dwords, dwords ? p : Bytes{});
    }
    Trace& Dllp(uint8_t type, uint8_t tag = 0) { return Entry(3, 0, {0xEE, type, tag, 0xB2, 0xB3, 0xB4, 0xB5, 0xEE}); }
    Trace& Raw(const Bytes& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
};

/* A record holding the trace as its copy; isZeb as given. */
struct Card {
    explicit Card(const Bytes& trace, int32_t isZeb = 1) : record(CreateDeviceRecord(nullptr, 3, 0, 0))
    {
        record->isZeb = isZeb;
        record->traceCopy = static_cast<uint8_t*>(malloc(trace.size() + !trace.size()));
        memcpy(record->traceCopy, trace.data(), trace.size());
        record->traceCopyLength = static_cast<uint32_t>(trace.size());
    }
    ~Card() { CloseDevice(record); }
    operator void*() const { return record; }
    QORB_DEVICE_t* record;
};

uint32_t CountTlps(void* card, uint8_t byte0, uint16_t length, uint32_t flags)
{
    uint8_t pattern[4] = {byte0, 0, uint8_t(length >> 8), uint8_t(length)};
    uint32_t count = 0xDEAD;
    EXPECT_EQ(GetNumTLPMatches(card, pattern, flags, &count), QORB_SUCCESS);
    return count;
}

uint32_t CountDllps(void* card, uint8_t type)
{
    uint8_t pattern[6] = {type};
    uint32_t count = 5;   /* the count is added to */
    EXPECT_EQ(GetNumDLLPMatches(card, pattern, 0, &count), QORB_SUCCESS);
    return count - 5;
}

TEST(TraceWalk, EndsAtTheFirstEntryThatIsNotWholeAndReportsWhatCameBefore)
{
    const Bytes tlp = Trace().Tlp(0, 0x40, 1).bytes;
    Bytes cutDllp = Trace().Dllp(0).Dllp(0).bytes;
    cutDllp.pop_back();
    const struct {
        const char* name;
        Bytes trace;
        uint32_t tlps, acks;
    } rows[] = {
        {"empty", {}, 0, 0},
        {"first byte not the marker", Trace().Raw({0xF0, 0, 3, 0, 0, 0, 0, 0}).Raw(tlp).bytes, 0, 0},
        {"bad marker later", Trace().Tlp(0, 0x40, 1).Dllp(0).Raw({0x00}).Raw(tlp).Dllp(0).bytes, 1, 1},
        {"TLP past the end", Trace().Raw(tlp).Entry(1, 4, Bytes(12, 0)).bytes, 1, 0},
        {"DLLP past the end", cutDllp, 0, 1},
        {"header past the end", Trace().Raw(tlp).Raw({0xF1, 0, 0, 0, 0, 0, 0}).bytes, 1, 0},
        {"kinds 4 to 7 are a header", Trace().Entry(4, 9).Tlp(0, 0, 1).Entry(5, 9).Tlp(1, 0, 1).Entry(6, 9)
                                          .Tlp(2, 0, 1).Entry(7, 9).Dllp(0).bytes, 3, 1},
        {"kind in bits 2:0", Trace().Entry(0xF8, 1, {0x40, 0, 0, 1}).Entry(0x0B, 99, {0, 0, 0, 0, 0, 0, 0, 0})
                                 .Entry(0xFD, 99).Raw(tlp).bytes, 2, 1},
        {"length high byte", Trace().Entry(1, 0x100, Bytes(1024, 0)).Dllp(0).bytes, 1, 1},
        {"TLP without header", Trace().Tlp(1, 0, 0, 0).Dllp(0).bytes, 1, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Card card(row.trace);
        EXPECT_EQ(CountTlps(card, 0, 0, 0), row.tlps);
        EXPECT_EQ(CountDllps(card, 0x00), row.acks);
    }
}

TEST(TraceTlpMatch, FieldsAreComparedStrictlyOrByTheLastSelectedOne)
{
    /* TLPs: 0 MWr32 len 1; 1 CplD len 0x3FF; 2 CfgRd0 len 0x101; 3 Cpl len 1; 4 no header. */
    Trace trace;
    trace.Tlp(0, 0x40, 1).Dllp(0).Tlp(1, 0x4A, 0x3FF, 4).Entry(5, 0).Tlp(2, 0x04, 0x101).Tlp(0, 0x0A, 1);
    trace.Tlp(1, 0, 0, 0);
    const uint32_t firstDwords[] = {0x01000040, 0xFF03004A, 0x01010004, 0x0100000A, 0};
    Card card(trace.bytes);
    const struct {
        uint8_t byte0;
        uint16_t length;
        uint32_t flags;
        std::vector<uint32_t> tlps;
    } rows[] = {
        {0x7F, 9, 0, {0, 1, 2, 3, 4}},          {0x7F, 9, 0x7FFFFFF4, {0, 1, 2, 3, 4}},
        {0x7F, 9, S, {0, 1, 2, 3, 4}},          {0x40, 0, F, {0, 1}},
        {0x00, 0, F, {2, 3}},                   {0x0A, 0, T, {1, 3}},
        {0x00, 1, L, {0, 3}},                   {0x00, 0x3FF, L, {1}},
        {0x00, 0x101, L, {2}},                  {0x4A, 0, S | F | T, {1}},
        {0x0A, 1, S | F | T | L, {3}},          {0x0A, 2, S | F | T | L, {}},
        {0x4A, 2, S | F | T, {1}},              {0x0A, 0, F | T, {1, 3}},
        {0x4A, 1, F | T | L, {0, 3}},           {0x40, 0x101, F | L, {2}},
        {0x60, 0x3FF, S | F | L, {}},           {0x40, 0x3FF, T | F, {0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << int(row.byte0) << " " << row.length << " " << row.flags);
        uint8_t pattern[4] = {row.byte0, 0, uint8_t(row.length >> 8), uint8_t(row.length)};
        std::array<uint32_t, 7> found;
        found.fill(0xCCCCCCCC);
        uint32_t count = 0;
        ASSERT_EQ(FindTLPByTLPType(card, pattern, row.flags, found.data(), &count), QORB_SUCCESS);
        ASSERT_EQ(count, row.tlps.size());
        for (size_t i = 0; i < found.size(); ++i)
            EXPECT_EQ(found[i], i < count ? firstDwords[row.tlps[i]] : 0xCCCCCCCC) << i;
        EXPECT_EQ(CountTlps(card, row.byte0, row.length, row.flags), count);
    }
}

TEST(TraceDllpMatch, FlowControlTypesMatchOnAnyChannelOtherTypesWhole)
{
    Trace trace;
    for (uint8_t type : {0x41, 0x52, 0x63, 0xC4, 0xD5, 0xE6, 0x87, 0x91, 0xA2, 0x20, 0x21, 0x00, 0x10, 0x30})
        trace.Dllp(type, type).Tlp(0, 0, 1);
    Card card(trace.bytes);
    for (uint8_t base : {0x40, 0x50, 0x60, 0xC0, 0xD0, 0xE0, 0x80, 0x90, 0xA0})
        EXPECT_EQ(CountDllps(card, base | 7), 1u) << int(base);
    for (auto [type, count] : {std::pair{0x20, 1}, {0x21, 1}, {0x22, 0}, {0x00, 1}, {0x01, 0}, {0x10, 1},
                               {0x37, 0}, {0x3F, 0}, {0xF0, 0}})
        EXPECT_EQ(CountDllps(card, type), uint32_t(count)) << type;

    /* Find stores up to the capacity given in the count, six bytes each. */
    uint8_t pattern[6] = {0x60};
    Card many(Trace().Dllp(0x60, 1).Dllp(0x61, 2).Tlp(0, 0, 1).Dllp(0x10).Dllp(0x67, 3).bytes);
    std::array<uint8_t, 20> records;
    for (uint32_t capacity : {0u, 1u, 3u}) {
        records.fill(0xCC);
        uint32_t count = capacity;
        ASSERT_EQ(FindDLLPTypeDLLPType(many, pattern, 0, capacity ? records.data() : nullptr, &count), QORB_SUCCESS);
        EXPECT_EQ(count, capacity);
        for (uint32_t i = 0; i < capacity; ++i)
            EXPECT_EQ(Bytes(&records[6 * i], &records[6 * i + 6]),
                      (Bytes{uint8_t(i == 2 ? 0x67 : 0x60 + i), uint8_t(i + 1), 0xB2, 0xB3, 0xB4, 0xB5}));
        EXPECT_EQ(records[6 * capacity], 0xCC);
    }
}

TEST(TraceTlpByIndex, NumbersTlpsOnlyAndCopiesSixteenBytesZeroFilled)
{
    Card card(Trace().Tlp(0, 0x00, 1).Dllp(0).Entry(4, 0).Tlp(1, 0x4A, 8, 6).Tlp(2, 0x20, 2, 4).Tlp(0, 0, 0, 0).bytes);
    const auto dw = [](uint8_t b) { return Bytes(4, b); };
    const Bytes z4(4, 0);
    const std::vector<Bytes> expected = {
        Trace().Raw({0x00, 0, 0, 1}).Raw(dw(0x10)).Raw(dw(0x11)).Raw(z4).bytes,
        Trace().Raw({0x4A, 0, 0, 8}).Raw(dw(0x10)).Raw(dw(0x11)).Raw(dw(0x12)).bytes,
        Trace().Raw({0x20, 0, 0, 2}).Raw(dw(0x10)).Raw(dw(0x11)).Raw(dw(0x12)).bytes,
        Bytes(16, 0),
    };
    for (uint32_t index = 0; index <= expected.size(); ++index) {
        Bytes tlp(16, 0xCC);
        const bool there = index < expected.size();
        EXPECT_EQ(QORB_ZEB_TB_GetTLPByIndex(card, tlp.data(), 0, index),
                  there ? QORB_SUCCESS : QORB_INVALID_PARAMETER);
        EXPECT_EQ(tlp, there ? expected[index] : Bytes(16, 0xCC)) << index;
    }
}

TEST(TraceContents, BytesAndContentsAreLoweredToTheCopy)
{
    const Bytes trace = Trace().Tlp(0, 0, 1).Dllp(0x80).bytes;
    const uint32_t size = uint32_t(trace.size());
    Card card(trace);
    uint32_t bytes = 0;
    ASSERT_EQ(GetBytesInZEBTB(card, &bytes), QORB_SUCCESS);
    EXPECT_EQ(bytes, size);
    for (uint32_t asked : {size + 50, size, 5u, 0u}) {
        Bytes buffer(size + 50, 0xCC);
        uint32_t length = asked;
        ASSERT_EQ(GetTBContents(card, asked ? buffer.data() : nullptr, &length), QORB_SUCCESS);
        const uint32_t n = std::min(asked, size);
        EXPECT_EQ(length, n);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + n), Bytes(trace.begin(), trace.begin() + n));
        EXPECT_EQ(buffer[n], 0xCC);
    }
    /* A record without a copy holds nothing, whatever its length says. */
    free(card.record->traceCopy);
    card.record->traceCopy = nullptr;
    uint32_t length = 100;
    EXPECT_EQ(GetTBContents(card, nullptr, &length), QORB_SUCCESS);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(CountTlps(card, 0, 0, 0), 0u);
    EXPECT_EQ(CountDllps(card, 0x80), 0u);
}

TEST(TraceArguments, NonCardsAndNullArgumentsAreRefusedTouchingNothing)
{
    const Bytes trace = Trace().Tlp(0, 0, 1).Dllp(0).bytes;
    Card card(trace), notCard(trace, 0), odd(trace, 2);
    uint8_t pattern[6] = {}, out[24] = {}, *p = pattern, *o = out;
    uint32_t found[4] = {}, *fd = found, count = 7, *c = &count;
    using Call = std::function<_QORB_STATUS_t(void*)>;
    const std::vector<std::pair<Call, bool>> calls = {   /* the call, whether it names a null argument */
        {[&](void* d) { return FindTLPByTLPType(d, p, 0, fd, c); }, false},
        {[&](void* d) { return FindTLPByTLPType(d, nullptr, 0, fd, c); }, true},
        {[&](void* d) { return FindTLPByTLPType(d, p, 0, nullptr, c); }, true},
        {[&](void* d) { return FindTLPByTLPType(d, p, 0, fd, nullptr); }, true},
        {[&](void* d) { return GetNumTLPMatches(d, nullptr, 0, c); }, true},
        {[&](void* d) { return GetNumTLPMatches(d, p, 0, nullptr); }, true},
        {[&](void* d) { return FindDLLPTypeDLLPType(d, p, 0, o, c); }, false},
        {[&](void* d) { return FindDLLPTypeDLLPType(d, nullptr, 0, o, c); }, true},
        {[&](void* d) { return FindDLLPTypeDLLPType(d, p, 0, nullptr, c); }, true},
        {[&](void* d) { return FindDLLPTypeDLLPType(d, p, 0, o, nullptr); }, true},
        {[&](void* d) { return GetNumDLLPMatches(d, p, 0, c); }, false},
        {[&](void* d) { return GetNumDLLPMatches(d, nullptr, 0, c); }, true},
        {[&](void* d) { return GetNumDLLPMatches(d, p, 0, nullptr); }, true},
        {[&](void* d) { return QORB_ZEB_TB_GetTLPByIndex(d, o, 0, 0); }, false},
        {[&](void* d) { return QORB_ZEB_TB_GetTLPByIndex(d, nullptr, 0, 0); }, true},
        {[&](void* d) { return GetBytesInZEBTB(d, c); }, false},
        {[&](void* d) { return GetBytesInZEBTB(d, nullptr); }, true},
        {[&](void* d) { return GetTBContents(d, o, c); }, false},
        {[&](void* d) { return GetTBContents(d, nullptr, c); }, true},
        {[&](void* d) { return GetTBContents(d, o, nullptr); }, true},
        {[&](void* d) { return GetNumTLPMatchesEx(d, p, 0, c); }, true},
    };
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& [call, namesNull] = calls[i];
        for (void* device : {static_cast<void*>(notCard), static_cast<void*>(odd), static_cast<void*>(nullptr)})
            EXPECT_EQ(call(device), QORB_INVALID_PARAMETER);
        if (namesNull) {
            EXPECT_EQ(call(card), QORB_INVALID_PARAMETER);
        }
        EXPECT_EQ(count, 7u);
        EXPECT_EQ(Bytes(out, out + sizeof out), Bytes(sizeof out, 0));
        EXPECT_EQ(found[0], 0u);
    }
    /* Only the TLP count says why, and it clears the count first. */
    qorbtest::CaptureFd stdoutText(1);
    EXPECT_EQ(GetNumTLPMatches(odd, p, 0, c), QORB_INVALID_PARAMETER);
    EXPECT_EQ(stdoutText.Text(), "Device is not a ZEB\n");
    EXPECT_EQ(count, 0u);
    /* The extended set computes nothing. */
    count = 7;
    EXPECT_EQ(QORB_ZEB_TB_GetTotalTLP(card, c), QORB_SUCCESS);
    EXPECT_EQ(FindTLPByTLPTypeEx(card, p, 0, fd, c), QORB_SUCCESS);
    EXPECT_EQ(count, 7u);
}

TEST(TraceLog, XmlDumpHoldsTheRequestedBytesAsLittleEndianWords)
{
    qorbtest::ScratchDir dir;
    Card card({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), empty({}), odd({1, 2, 3, 4}, 2);
    free(empty.record->traceCopy);
    empty.record->traceCopy = nullptr;
    empty.record->traceCopyLength = 8;
    void* log = nullptr;
    ASSERT_EQ(CreateLog(nullptr, &log, QORB_LOG_TYPE_XML, "t.xml", QORB_LOG_ACTION_CREATE), QORB_SUCCESS);
    const std::string all = "10 </NumBytes> \n<TBData>\n0x04030201\n0x08070605\n0x00000a09\n";
    const struct {
        void* device;
        uint32_t asked, after;
        std::string dump;
    } rows[] = {
        {card, 0, 0, all}, {card, 8, 8, "8 </NumBytes> \n<TBData>\n0x04030201\n0x08070605\n"},
        {card, 6, 6, "6 </NumBytes> \n<TBData>\n0x04030201\n0x00000605\n"}, {card, 50, 10, all},
        {empty, 4, 0, "0 </NumBytes> \n<TBData>\n"}, {odd, 4, 4, ""}, {nullptr, 4, 4, ""},
    };
    std::string expected;
    for (const auto& row : rows) {
        uint32_t n = row.asked;
        EXPECT_EQ(LogTBContents(log, row.device, &n), row.dump.empty() ? QORB_INVALID_PARAMETER : QORB_SUCCESS);
        EXPECT_EQ(n, row.after);
        expected += row.dump.empty() ? "" : "<NumBytes> " + row.dump + "</TBData>\n";
    }
    EXPECT_EQ(CloseLog(log), QORB_SUCCESS);
    std::string document = qorbtest::ReadFile("t.xml"), dumps;
    for (size_t at = 0; (at = document.find("<NumBytes>", at)) != std::string::npos; at += 10)
        dumps += document.substr(at, document.find("</TBData>\n", at) + 10 - at);
    EXPECT_EQ(dumps, expected);
}

} // namespace
