/* Searches and counts over a card record's trace copy, and its contents. Traces are built by hand and attached
 * to a record directly, allocated to the byte so that the sanitizer build catches reads past them. */
#include <bit>
#include <functional>
#include <vector>

#include <gtest/gtest.h>
#include <qorb_common/trace_entry.h>

#include "qorb_internal.h"
#include "qorb_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
Bytes Entry(uint8_t kindByte, uint16_t length, const Bytes& payload = {}) {
    Bytes header(qorb_trace::kHeaderBytes);
    qorb_trace::WriteHeader(header.data(), kindByte, length, 0x5A5A5A5A);
    return header + payload;
}
/* A TLP of `dwords` doublewords: byte 0 and the Length field, then 0x10, 0x11... */
Bytes Tlp(uint8_t kind, uint8_t byte0, uint16_t length, uint16_t dwords = 3) {
    Bytes p = {byte0, 0, uint8_t(length >> 8 & 3), uint8_t(length)};
    for (uint16_t i = 1; i < dwords; ++i) p = p + Bytes(4, uint8_t(0x10 + i - 1));
    return Entry(kind, dwords, dwords ? p : Bytes{});
}
Bytes Dllp(uint8_t type, uint8_t tag = 0) { return Entry(3, 0, {0xEE, type, tag, 0xB2, 0xB3, 0xB4, 0xB5, 0xEE}); }

/* A record holding the bytes as its trace copy. */
struct Card {
    explicit Card(const Bytes& trace, int32_t isZeb = 1)
        : record(CreateDeviceRecord(nullptr, 3, 0, 0)) {
        record->isZeb = isZeb;
        record->traceCopy = static_cast<uint8_t*>(malloc(trace.size() + trace.empty()));
        std::copy(trace.begin(), trace.end(), record->traceCopy);
        record->traceCopyLength = uint32_t(trace.size());
    }
    ~Card() { CloseDevice(record); }
    operator void*() const { return record; }
    QORB_DEVICE_t* record;
};

uint32_t CountTlps(void* card, uint8_t byte0, uint16_t length, uint32_t flags) {
    uint8_t pattern[4] = {byte0, 0, uint8_t(length >> 8), uint8_t(length)};
    uint32_t count = 0xDEAD;
    return GetNumTLPMatches(card, pattern, flags, &count) == QORB_SUCCESS ? count : 0xBAD;
}

uint32_t CountDllps(void* card, uint8_t type) {
    uint8_t pattern[6] = {type};
    uint32_t count = 5; /* added to */
    return GetNumDLLPMatches(card, pattern, 0, &count) == QORB_SUCCESS ? count - 5 : 0xBAD;
}

TEST(Trace, WalkEndsAtTheFirstEntryThatIsNotWhole) {
    const Bytes tlp = Tlp(0, 0x40, 1), ack = Dllp(0);
    const std::tuple<const char*, Bytes, uint32_t, uint32_t> rows[] = {{"empty", {}, 0, 0},
        {"no marker first", Bytes{0xF0, 0, 3, 0, 0, 0, 0, 0} + tlp, 0, 0},
        {"bad marker later", tlp + ack + Bytes{0} + tlp + ack, 1, 1},
        {"TLP past the end", tlp + Entry(1, 4, Bytes(12, 0)), 1, 0},
        {"DLLP past the end", ack + Bytes(ack.begin(), ack.end() - 1), 0, 1},
        {"header past the end", tlp + Bytes{0xF1, 0, 0, 0, 0, 0, 0}, 1, 0},
        {"kinds 4 to 7: a header", Entry(4, 9) + tlp + Entry(5, 9) + tlp + Entry(6, 9) + tlp + Entry(7, 9) + ack, 3, 1},
        {"kind in bits 2:0", Entry(0xF8, 1, {0, 0, 0, 1}) + Entry(0x0B, 9, Bytes(8, 0)) + Entry(0xFD, 9) + tlp, 2, 1},
        {"length high byte", Entry(1, 0x100, Bytes(1024, 0)) + ack, 1, 1},
        {"TLP without header", Tlp(1, 0, 0, 0) + ack, 1, 1}};
    for (const auto& [name, trace, tlps, acks] : rows) {
        Card card(trace);
        EXPECT_EQ(std::tuple(CountTlps(card, 0, 0, 0), CountDllps(card, 0)), std::tuple(tlps, acks)) << name;
    }
}

TEST(Trace, TlpFieldsAreComparedStrictlyOrByTheLastSelectedOne) {
    /* TLPs: 0 MWr32 len 1; 1 CplD len 0x3FF; 2 CfgRd0 len 0x101; 3 Cpl len 1 (one doubleword); 4 no header. */
    Card card(Tlp(0, 0x40, 1) + Dllp(0) + Tlp(1, 0x4A, 0x3FF, 4) + Entry(5, 0) + Tlp(2, 0x04, 0x101)
        + Tlp(0, 0x0A, 1, 1) + Tlp(1, 0, 0, 0));
    const uint32_t firstDwords[] = {0x01000040, 0xFF03004A, 0x01010004, 0x0100000A, 0};
    /* Pattern byte 0, Length, flags (1 Fmt, 2 Type, 8 Length, 0x80000000 strict), TLPs found (bit n: TLP n). */
    const uint32_t rows[][4] = {{0x7F, 0x009, 0x00000000, 0x1F}, {0x7F, 0x009, 0x7FFFFFF4, 0x1F},
        {0x7F, 0x009, 0x80000000, 0x1F}, {0x40, 0x000, 0x00000001, 0x03}, {0x00, 0x000, 0x00000001, 0x0C},
        {0x0A, 0x000, 0x00000002, 0x0A}, {0x1A, 0x000, 0x00000002, 0x00}, {0x00, 0x001, 0x00000008, 0x09},
        {0x00, 0x3FF, 0x00000008, 0x02}, {0x00, 0x1FF, 0x00000008, 0x00}, {0x00, 0x101, 0x00000008, 0x04},
        {0x4A, 0x000, 0x80000003, 0x02}, {0x0A, 0x001, 0x8000000B, 0x08}, {0x0A, 0x002, 0x8000000B, 0x00},
        {0x4A, 0x002, 0x80000003, 0x02}, {0x0A, 0x000, 0x00000003, 0x0A}, {0x4A, 0x001, 0x0000000B, 0x09},
        {0x40, 0x101, 0x00000009, 0x04}, {0x60, 0x3FF, 0x80000009, 0x00}, {0x40, 0x3FF, 0x00000003, 0x01}};
    for (const auto& [byte0, length, flags, tlps] : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << byte0 << " " << length << " " << flags);
        uint8_t pattern[4] = {uint8_t(byte0), 0, uint8_t(length >> 8), uint8_t(length)};
        std::vector<uint32_t> found(7, 0xCCCCCCCC), expected(found);
        for (uint32_t i = 0, n = 0; i < 5; ++i)
            if (tlps >> i & 1) expected[n++] = firstDwords[i];
        uint32_t count = 0;
        ASSERT_EQ(FindTLPByTLPType(card, pattern, flags, found.data(), &count), QORB_SUCCESS);
        EXPECT_EQ(std::tuple(count, found), std::tuple(uint32_t(std::popcount(tlps)), expected));
        EXPECT_EQ(CountTlps(card, uint8_t(byte0), uint16_t(length), flags), count);
    }
}

TEST(Trace, FlowControlDllpsMatchOnAnyChannelOtherTypesWhole) {
    Bytes trace;
    for (uint8_t type : {0x41, 0x52, 0x63, 0xC4, 0xD5, 0xE6, 0x87, 0x91, 0xA2, 0x20, 0x21, 0x00, 0x10, 0x30})
        trace = trace + Dllp(type, type) + Tlp(0, 0, 1);
    Card card(trace);
    for (uint8_t type : {0x47, 0x57, 0x67, 0xC7, 0xD7, 0xE7, 0x87, 0x97, 0xA7, 0x20, 0x21, 0x00, 0x22, 0x01, 0x37})
        EXPECT_EQ(CountDllps(card, type), type == 0x22 || type == 0x01 || type == 0x37 ? 0u : 1u) << int(type);

    /* Find stores up to the capacity given in the count, six bytes each. */
    uint8_t pattern[6] = {0x60};
    Card many(Dllp(0x60, 1) + Dllp(0x61, 2) + Tlp(0, 0, 1) + Dllp(0x10) + Dllp(0x67, 3));
    const Bytes b = {0xB2, 0xB3, 0xB4, 0xB5}, all = Bytes{0x60, 1} + b + Bytes{0x61, 2} + b + Bytes{0x67, 3} + b;
    for (uint32_t capacity : {0u, 1u, 3u}) {
        Bytes records(20, 0xCC);
        uint32_t count = capacity;
        ASSERT_EQ(FindDLLPTypeDLLPType(many, pattern, 0, capacity ? records.data() : nullptr, &count), QORB_SUCCESS);
        const Bytes expected = Bytes(all.begin(), all.begin() + 6 * capacity) + Bytes(20 - 6 * capacity, 0xCC);
        EXPECT_EQ(std::tuple(count, records), std::tuple(capacity, expected));
    }
}

TEST(Trace, TlpByIndexNumbersTlpsOnlyAndFillsSixteenBytes) {
    Card card(Tlp(0, 0x00, 1) + Dllp(0) + Entry(4, 0) + Tlp(1, 0x4A, 8, 6) + Tlp(2, 0x20, 2, 4) + Tlp(0, 0, 0, 0));
    const Bytes x = Bytes(4, 0x10) + Bytes(4, 0x11);
    const Bytes expected[] = {Bytes{0x00, 0, 0, 1} + x + Bytes(4, 0), Bytes{0x4A, 0, 0, 8} + x + Bytes(4, 0x12),
        Bytes{0x20, 0, 0, 2} + x + Bytes(4, 0x12), Bytes(16, 0), Bytes(16, 0xCC)};
    for (uint32_t i = 0; i < 5; ++i) {
        Bytes out(16, 0xCC);
        EXPECT_EQ(QORB_ZEB_TB_GetTLPByIndex(card, out.data(), 0, i), i < 4 ? QORB_SUCCESS : QORB_INVALID_PARAMETER);
        EXPECT_EQ(out, expected[i]) << i;
    }
}

TEST(Trace, ContentsAreLoweredToTheCopy) {
    Card card({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), none({});
    ReleaseTraceCopy(none.record);
    none.record->traceCopyLength = 8; /* no copy, whatever the length says */
    for (auto [record, asked, copied] :
        {std::tuple{&card, 50u, 10u}, {&card, 10u, 10u}, {&card, 6u, 6u}, {&card, 0u, 0u}, {&none, 4u, 0u}}) {
        Bytes buffer(12, 0xCC);
        uint32_t n = asked;
        ASSERT_EQ(GetTBContents(*record, asked ? buffer.data() : nullptr, &n), QORB_SUCCESS);
        EXPECT_EQ(n, copied);
        EXPECT_EQ(buffer, Bytes(record->record->traceCopy, record->record->traceCopy + n) + Bytes(12 - n, 0xCC));
    }
    EXPECT_EQ(std::tuple(CountTlps(none, 0, 0, 0), CountDllps(none, 0)), std::tuple(0u, 0u));
}

TEST(Trace, NonCardsAndNullArgumentsAreRefusedTouchingNothing) {
    const Bytes trace = Tlp(0, 0, 1) + Dllp(0);
    Card card(trace), notCard(trace, 0), odd(trace, 2);
    uint8_t p[6] = {}, o[24] = {}; /* pattern and outputs */
    uint32_t f[4] = {}, c = 1;
    auto N = [](int k, int i, auto* q) { return k == i ? nullptr : q; }; /* the k-th pointer argument (from 1) null */
#define CALL(pointers, call) std::make_pair(pointers, std::function([&](void* d, int k) { return call; }))
    const std::pair<int, std::function<_QORB_STATUS_t(void*, int)>> calls[]
        = {CALL(3, FindTLPByTLPType(d, N(k, 1, p), 0, N(k, 2, f), N(k, 3, &c))),
            CALL(3, FindDLLPTypeDLLPType(d, N(k, 1, p), 0, N(k, 2, o), N(k, 3, &c))),
            CALL(2, GetNumDLLPMatches(d, N(k, 1, p), 0, N(k, 2, &c))),
            CALL(1, QORB_ZEB_TB_GetTLPByIndex(d, N(k, 1, o), 0, 0)), CALL(1, GetBytesInZEBTB(d, N(k, 1, &c))),
            CALL(2, GetTBContents(d, N(k, 1, o), N(k, 2, &c))),
            CALL(2, k ? GetNumTLPMatches(d, N(k, 1, p), 0, N(k, 2, &c)) : GetNumTLPMatchesEx(d, p, 0, &c))};
#undef CALL
    for (const auto& [pointers, call] : calls) {
        for (int k = 0; k <= pointers; ++k) {
            SCOPED_TRACE(testing::Message() << &call - &calls[0].second << " null " << k);
            for (void* device : {static_cast<void*>(notCard), static_cast<void*>(odd), static_cast<void*>(nullptr)})
                EXPECT_EQ(call(k ? card : device, k), QORB_INVALID_PARAMETER);
            EXPECT_EQ(std::tuple(c, f[0], Bytes(o, o + 24)), std::tuple(1u, 0u, Bytes(24, 0)));
        }
    }
    /* Only the TLP count says why, and it clears the count first. */
    qorbtest::CaptureFd stdoutText(1);
    EXPECT_EQ(GetNumTLPMatches(odd, p, 0, &c), QORB_INVALID_PARAMETER);
    EXPECT_EQ(stdoutText.Text(), "Device is not a ZEB\n");
    /* The extended set computes nothing. */
    EXPECT_EQ(QORB_ZEB_TB_GetTotalTLP(card, &c), QORB_SUCCESS);
    EXPECT_EQ(FindTLPByTLPTypeEx(card, p, 0, f, &c), QORB_SUCCESS);
    EXPECT_EQ(c, 0u);
}

} // namespace
