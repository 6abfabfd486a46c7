/* Searches of a trace copy: the walk's edge cases, TLP and DLLP matching,
 * TLPs by index and the raw contents. Traces are built by hand and attached
 * to a card record directly. */
#include <algorithm>
#include <array>

#include <gtest/gtest.h>

#include "qorb_test_support.h"
#include "trace_builder.h"

namespace {

constexpr uint8_t kMRd = 0x00;     /* Type of a memory request */
constexpr uint8_t kCpl = 0x0A;     /* Type of a completion */

/* A card record holding a trace, closed at the end of the scope. */
class Card {
public:
    explicit Card(const TraceBuilder& trace, int32_t isZeb = 1) : m_card(CardWithTrace(trace.Bytes(), isZeb)) {}
    ~Card() { CloseDevice(m_card); }
    operator void*() const { return m_card; }
    QORB_DEVICE_t* operator->() const { return m_card; }
    Card(const Card&) = delete;
    Card& operator=(const Card&) = delete;

private:
    QORB_DEVICE_t* m_card;
};

uint32_t CountTlps(void* card, uint8_t fmt, uint8_t type, uint16_t length, uint32_t flags)
{
    uint8_t pattern[4] = {static_cast<uint8_t>(fmt << 5 | type), 0, static_cast<uint8_t>(length >> 8),
                          static_cast<uint8_t>(length)};
    uint32_t count = 0xDEAD;
    EXPECT_EQ(GetNumTLPMatches(card, pattern, flags, &count), QORB_SUCCESS);
    return count;
}

std::vector<uint32_t> FindTlps(void* card, uint8_t fmt, uint8_t type, uint16_t length, uint32_t flags)
{
    uint8_t pattern[4] = {static_cast<uint8_t>(fmt << 5 | type), 0, static_cast<uint8_t>(length >> 8),
                          static_cast<uint8_t>(length)};
    std::vector<uint32_t> found(16, 0xFFFFFFFFu);
    uint32_t count = 0xDEAD;
    EXPECT_EQ(FindTLPByTLPType(card, pattern, flags, found.data(), &count), QORB_SUCCESS);
    EXPECT_LE(count, found.size());
    for (size_t i = count; i < found.size(); ++i)
        EXPECT_EQ(found[i], 0xFFFFFFFFu) << "slot " << i << " written past the count";
    found.resize(count);
    return found;
}

uint32_t CountDllps(void* card, uint8_t type, uint32_t start = 0)
{
    uint8_t pattern[6] = {type};
    uint32_t count = start;
    EXPECT_EQ(GetNumDLLPMatches(card, pattern, 0, &count), QORB_SUCCESS);
    return count - start;
}

/* ---------------------------------------------------------- the walk */

TEST(TraceWalk, CopyNotStartingWithTheMarkerHoldsNothing)
{
    Card card(TraceBuilder().Raw({0xF0, 0, 3, 0, 0, 0, 0, 0}).TlpHeader(0, 0, kMRd, 1));
    EXPECT_TRUE(FindTlps(card, 0, 0, 0, 0).empty());
    EXPECT_EQ(CountTlps(card, 0, 0, 0, 0), 0u);
    std::array<uint8_t, 16> tlp;
    tlp.fill(0xCC);
    EXPECT_EQ(QORB_ZEB_TB_GetTLPByIndex(card, tlp.data(), 0, 0), QORB_INVALID_PARAMETER);
    for (uint8_t b : tlp)
        EXPECT_EQ(b, 0xCC);
}

TEST(TraceWalk, EndsAtTheFirstBadMarkerAndReportsWhatCameBefore)
{
    Card card(TraceBuilder().TlpHeader(0, 2, kMRd, 1).Dllp(0x00).Raw({0x00}).Raw(TraceBuilder().TlpHeader(1, 0, kMRd, 1).Bytes()));
    EXPECT_EQ(CountTlps(card, 0, 0, 0, 0), 1u);
    EXPECT_EQ(CountDllps(card, 0x00), 1u);
}

TEST(TraceWalk, EntryRunningPastTheEndIsNotVisited)
{
    /* Length field says 4 doublewords, only 3 follow. */
    Card tlp(TraceBuilder().TlpHeader(0, 0, kMRd, 1).Tlp(0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 4));
    EXPECT_EQ(CountTlps(tlp, 0, 0, 0, 0), 1u);
    /* A DLLP cut short, and a header cut short. */
    std::vector<uint8_t> bytes = TraceBuilder().Dllp(0x00).Dllp(0x00).Bytes();
    bytes.resize(bytes.size() - 1);
    Card dllp{TraceBuilder().Raw(bytes)};
    EXPECT_EQ(CountDllps(dllp, 0x00), 1u);
    Card header(TraceBuilder().TlpHeader(0, 0, kMRd, 1).Raw({0xF1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(CountTlps(header, 0, 0, 0, 0), 1u);
}

TEST(TraceWalk, KindsFourToSevenAreStepsOfTheirHeaderAlone)
{
    TraceBuilder trace;
    for (uint8_t kind = 4; kind <= 7; ++kind)
        trace.Other(kind).TlpHeader(kind - 4 < 3 ? kind - 4 : 0, 0, kMRd, kind);
    Card card(trace);
    EXPECT_EQ(CountTlps(card, 0, 0, 0, 0), 4u);
    EXPECT_EQ(CountTlps(card, 0, 0, 7, QORB_TLP_MATCH_LENGTH), 1u);
}

TEST(TraceWalk, OnlyTheLowThreeBitsOfByteOneAreTheKind)
{
    /* 0xF8: kind 0 (TLP); 0x0B: kind 3 (DLLP); 0xFD: kind 5. */
    Card card(TraceBuilder()
                  .Header(0xF8, 3).Raw({0x40, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0})
                  .Header(0x0B, 0x7777).Raw({0, 0x80, 0, 0, 0, 0, 0, 0})
                  .Header(0xFD, 0x7777)
                  .TlpHeader(1, 2, kMRd, 1));
    EXPECT_EQ(CountTlps(card, 0, 0, 0, 0), 2u);
    EXPECT_EQ(CountDllps(card, 0x80), 1u);
}

TEST(TraceWalk, NoCopyAndEmptyCopyHoldNothing)
{
    Card empty{TraceBuilder()};
    EXPECT_EQ(CountTlps(empty, 0, 0, 0, 0), 0u);
    ReleaseTraceCopy(empty.operator->());
    EXPECT_EQ(CountTlps(empty, 0, 0, 0, 0), 0u);
    EXPECT_EQ(CountDllps(empty, 0x00), 0u);
    uint32_t length = 100;
    uint8_t buffer[4];
    EXPECT_EQ(GetTBContents(empty, buffer, &length), QORB_SUCCESS);
    EXPECT_EQ(length, 0u);
}

/* ---------------------------------------------------------- TLP matching */

TEST(TraceTlpMatch, NoFieldSelectedMatchesEveryTlpAndStoresFirstDoublewordsInOrder)
{
    Card card(TraceBuilder().TlpHeader(0, 2, kMRd, 1).Dllp(0x00).Other(6).TlpHeader(1, 2, kCpl, 0x3FF, 4));
    auto found = FindTlps(card, 3, 0x1F, 0, 0);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], 0x01000040u);   /* bytes 40 00 00 01, little-endian */
    EXPECT_EQ(found[1], 0xFF03004Au);
    EXPECT_EQ(CountTlps(card, 3, 0x1F, 0, 0), 2u);
    /* Bits other than the field and strict bits select nothing. */
    EXPECT_EQ(CountTlps(card, 3, 0x1F, 0, 0x7FFFFFF4u), 2u);
    EXPECT_EQ(CountTlps(card, 3, 0x1F, 0, QORB_TLP_MATCH_STRICT), 2u);
}

TEST(TraceTlpMatch, StrictRejectsOnAnyUnequalField)
{
    Card card(TraceBuilder().TlpHeader(0, 2, kCpl, 1));
    EXPECT_EQ(CountTlps(card, 2, kMRd, 1, 0x80000003u), 0u);   /* Fmt equal, Type differs */
    EXPECT_EQ(CountTlps(card, 0, kCpl, 1, 0x80000003u), 0u);   /* Fmt differs, Type equal */
    EXPECT_EQ(CountTlps(card, 2, kCpl, 5, 0x8000000Bu), 0u);   /* Length differs */
    EXPECT_EQ(CountTlps(card, 2, kCpl, 1, 0x8000000Bu), 1u);
}

TEST(TraceTlpMatch, WithoutStrictTheLastSelectedFieldDecides)
{
    Card card(TraceBuilder().TlpHeader(0, 2, kCpl, 1));
    EXPECT_EQ(CountTlps(card, 0, kCpl, 9, 0x3u), 1u);    /* Fmt differs, Type equal */
    EXPECT_EQ(CountTlps(card, 2, kMRd, 1, 0x3u), 0u);    /* Fmt equal, Type differs */
    EXPECT_EQ(CountTlps(card, 0, kMRd, 1, 0xBu), 1u);    /* only Length equal, and last */
    EXPECT_EQ(CountTlps(card, 2, kCpl, 2, 0xBu), 0u);    /* Length differs, last */
    EXPECT_EQ(CountTlps(card, 0, kCpl, 2, 0x9u), 0u);    /* Fmt and Length differ */
    EXPECT_EQ(CountTlps(card, 2, kMRd, 2, 0x1u), 1u);    /* one field: that field */
}

TEST(TraceTlpMatch, LengthFlagMatchesTheTenBitLengthWhateverFmtAndType)
{
    Card card(TraceBuilder()
                  .TlpHeader(0, 0, kMRd, 1)
                  .TlpHeader(1, 2, kCpl, 1)
                  .TlpHeader(2, 3, 0x04, 0x101)
                  .TlpHeader(0, 1, 0x05, 2));
    auto found = FindTlps(card, 3, 0x1F, 1, QORB_TLP_MATCH_LENGTH);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0] & 0xFF, 0x00u);
    EXPECT_EQ(found[1] & 0xFF, 0x4Au);
    EXPECT_EQ(CountTlps(card, 0, 0, 0x101, QORB_TLP_MATCH_LENGTH), 1u);
}

TEST(TraceTlpMatch, TlpWithoutPayloadMatchesOnlyWhenNothingIsSelected)
{
    Card card(TraceBuilder().Tlp(0, {}).TlpHeader(1, 0, kMRd, 0));
    EXPECT_EQ(CountTlps(card, 0, kMRd, 0, 0x3u), 1u);
    EXPECT_EQ(CountTlps(card, 0, kMRd, 0, QORB_TLP_MATCH_LENGTH), 1u);
    auto all = FindTlps(card, 0, 0, 0, 0);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], 0u);   /* no header: stored as zero */
    std::array<uint8_t, 16> tlp;
    tlp.fill(0xCC);
    ASSERT_EQ(QORB_ZEB_TB_GetTLPByIndex(card, tlp.data(), 0, 0), QORB_SUCCESS);
    for (uint8_t b : tlp)
        EXPECT_EQ(b, 0);
}

TEST(TraceTlpMatch, CountArgumentsAreCheckedBeforeTheCardAndANonCardSaysSo)
{
    Card notCard(TraceBuilder().TlpHeader(0, 0, kMRd, 1), 0);
    uint8_t pattern[4] = {};
    uint32_t count = 7;
    EXPECT_EQ(GetNumTLPMatches(notCard, nullptr, 0, &count), QORB_INVALID_PARAMETER);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(GetNumTLPMatches(notCard, pattern, 0, nullptr), QORB_INVALID_PARAMETER);

    qorbtest::CaptureFd out(1);
    EXPECT_EQ(GetNumTLPMatches(notCard, pattern, 0, &count), QORB_INVALID_PARAMETER);
    EXPECT_EQ(out.Text(), "Device is not a ZEB\n");
    EXPECT_EQ(count, 0u);
}

TEST(TraceTlpMatch, SearchesOfANonCardTouchNothing)
{
    Card notCard(TraceBuilder().TlpHeader(0, 0, kMRd, 1).Dllp(0x00), 2);
    uint8_t pattern[6] = {};
    uint32_t found[4] = {9, 9, 9, 9};
    uint32_t count = 5;
    uint8_t records[12] = {};
    uint8_t tlp[16] = {};
    uint8_t contents[8] = {};
    qorbtest::CaptureFd out(1);
    EXPECT_EQ(FindTLPByTLPType(notCard, pattern, 0, found, &count), QORB_INVALID_PARAMETER);
    EXPECT_EQ(FindDLLPTypeDLLPType(notCard, pattern, 0, records, &count), QORB_INVALID_PARAMETER);
    EXPECT_EQ(GetNumDLLPMatches(notCard, pattern, 0, &count), QORB_INVALID_PARAMETER);
    EXPECT_EQ(QORB_ZEB_TB_GetTLPByIndex(notCard, tlp, 0, 0), QORB_INVALID_PARAMETER);
    EXPECT_EQ(GetBytesInZEBTB(notCard, &count), QORB_INVALID_PARAMETER);
    EXPECT_EQ(GetTBContents(notCard, contents, &count), QORB_INVALID_PARAMETER);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(found[0], 9u);
}

/* ---------------------------------------------------------- DLLP matching */

TEST(TraceDllpMatch, FlowControlTypesMatchOnAnyVirtualChannel)
{
    Card card(TraceBuilder().Dllp(0x80).Dllp(0x87).Dllp(0x20).Dllp(0x21).Dllp(0x41).Dllp(0xE7).Dllp(0x00));
    /* UpdateFC-P on VC 2 and 0, a PM type (all bits count), InitFC1-P,
     * InitFC2-Cpl, Ack, an undefined type and Nak. */
    const std::pair<uint8_t, uint32_t> counts[] = {{0x82, 2}, {0x80, 2}, {0x21, 1}, {0x20, 1}, {0x46, 1},
                                                   {0xE0, 1}, {0x00, 1}, {0x01, 0}, {0x10, 0}};
    for (const auto& [type, count] : counts)
        EXPECT_EQ(CountDllps(card, type), count) << std::hex << int{type};
}

TEST(TraceDllpMatch, FindStoresUpToTheCapacityAndCountsOnlyWhatItStored)
{
    TraceBuilder trace;
    for (uint8_t i = 0; i < 5; ++i)
        trace.Dllp(0x90 | i, i).TlpHeader(0, 0, kMRd, 1);
    Card card(trace);
    uint8_t pattern[6] = {0x90};
    std::array<uint8_t, 18> records;
    records.fill(0xCC);
    uint32_t count = 2;
    ASSERT_EQ(FindDLLPTypeDLLPType(card, pattern, 0, records.data(), &count), QORB_SUCCESS);
    EXPECT_EQ(count, 2u);
    const uint8_t first[6] = {0x90, 0, 0xB2, 0xB3, 0xB4, 0xB5};
    const uint8_t second[6] = {0x91, 1, 0xB2, 0xB3, 0xB4, 0xB5};
    EXPECT_EQ(memcmp(records.data(), first, 6), 0);
    EXPECT_EQ(memcmp(records.data() + 6, second, 6), 0);
    for (size_t i = 12; i < records.size(); ++i)
        EXPECT_EQ(records[i], 0xCC);

    count = 0;
    EXPECT_EQ(FindDLLPTypeDLLPType(card, pattern, 0, nullptr, &count), QORB_SUCCESS);
    EXPECT_EQ(count, 0u);
}

TEST(TraceDllpMatch, CountAddsToWhatTheCallerGave)
{
    Card card(TraceBuilder().Dllp(0x00).TlpHeader(0, 0, kMRd, 1).Dllp(0x10).Dllp(0x00).Dllp(0x00));
    uint8_t pattern[6] = {0x00};
    uint32_t count = 5;
    ASSERT_EQ(GetNumDLLPMatches(card, pattern, 0, &count), QORB_SUCCESS);
    EXPECT_EQ(count, 8u);
}

/* ---------------------------------------------------------- TLP by index */

TEST(TraceTlpByIndex, NumbersOnlyTlpsAndCopiesSixteenBytes)
{
    Card card(TraceBuilder()
                  .TlpHeader(0, 0, kMRd, 1, 3)
                  .Dllp(0x00)
                  .Other(4)
                  .TlpHeader(1, 2, kCpl, 8, 6)
                  .TlpHeader(2, 1, kMRd, 2, 4));
    std::array<uint8_t, 16> tlp;
    tlp.fill(0xCC);
    ASSERT_EQ(QORB_ZEB_TB_GetTLPByIndex(card, tlp.data(), 0, 1), QORB_SUCCESS);
    const std::array<uint8_t, 16> second = {0x4A, 0, 0, 8, 0x10, 0x10, 0x10, 0x10,
                                            0x11, 0x11, 0x11, 0x11, 0x12, 0x12, 0x12, 0x12};
    EXPECT_EQ(tlp, second);

    /* Three doublewords: the fourth is zero. */
    ASSERT_EQ(QORB_ZEB_TB_GetTLPByIndex(card, tlp.data(), 0, 0), QORB_SUCCESS);
    const std::array<uint8_t, 16> first = {0x00, 0, 0, 1, 0x10, 0x10, 0x10, 0x10,
                                           0x11, 0x11, 0x11, 0x11, 0, 0, 0, 0};
    EXPECT_EQ(tlp, first);

    ASSERT_EQ(QORB_ZEB_TB_GetTLPByIndex(card, tlp.data(), 0, 2), QORB_SUCCESS);
    EXPECT_EQ(tlp[0], 0x20);

    tlp.fill(0xCC);
    EXPECT_EQ(QORB_ZEB_TB_GetTLPByIndex(card, tlp.data(), 0, 3), QORB_INVALID_PARAMETER);
    EXPECT_EQ(tlp[0], 0xCC);
}

/* ---------------------------------------------------------- raw contents */

TEST(TraceContents, LengthIsLoweredToTheCopy)
{
    TraceBuilder trace;
    trace.TlpHeader(0, 0, kMRd, 1).Dllp(0x80);
    Card card(trace);
    const uint32_t size = static_cast<uint32_t>(trace.Bytes().size());
    uint32_t bytes = 0;
    ASSERT_EQ(GetBytesInZEBTB(card, &bytes), QORB_SUCCESS);
    EXPECT_EQ(bytes, size);

    std::vector<uint8_t> buffer(size + 50, 0xCC);
    uint32_t length = size + 50;
    ASSERT_EQ(GetTBContents(card, buffer.data(), &length), QORB_SUCCESS);
    EXPECT_EQ(length, size);
    EXPECT_TRUE(std::equal(trace.Bytes().begin(), trace.Bytes().end(), buffer.begin()));
    EXPECT_EQ(buffer[size], 0xCC);

    std::fill(buffer.begin(), buffer.end(), 0xCC);
    length = 5;
    ASSERT_EQ(GetTBContents(card, buffer.data(), &length), QORB_SUCCESS);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(buffer[4], trace.Bytes()[4]);
    EXPECT_EQ(buffer[5], 0xCC);
}

TEST(TraceExtended, FixedAnswersWithoutTouchingArguments)
{
    Card card(TraceBuilder().TlpHeader(0, 0, kMRd, 1));
    uint32_t total = 1234;
    EXPECT_EQ(QORB_ZEB_TB_GetTotalTLP(card, &total), QORB_SUCCESS);
    EXPECT_EQ(total, 1234u);
    uint32_t count = 77;
    EXPECT_EQ(FindTLPByTLPTypeEx(nullptr, nullptr, 0, nullptr, &count), QORB_SUCCESS);
    EXPECT_EQ(GetNumTLPMatchesEx(card, nullptr, 0, &count), QORB_INVALID_PARAMETER);
    EXPECT_EQ(count, 77u);
}

} // namespace
