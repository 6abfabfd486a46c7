/* Taking a trace copy from the card, the trace configuration flags and the
 * pattern write, on the fake test card driver. */
#include <gtest/gtest.h>

#include "trace_builder.h"
#include "zebfake_fixture.h"

namespace {

class TraceCopy : public ZebFakeTest {
protected:
    /* Gives the fake card a trace and a buffer size. */
    void CardTrace(const TraceBuilder& trace, uint32_t bufferSize)
    {
        const auto& bytes = trace.Bytes();
        ASSERT_LE(bytes.size(), sizeof fake->trace);
        if (!bytes.empty())
            memcpy(fake->trace, bytes.data(), bytes.size());
        fake->traceLength = static_cast<uint32_t>(bytes.size());
        fake->bufferSize = bufferSize;
    }

    uint32_t TlpCount(void* card)
    {
        uint8_t pattern[4] = {};
        uint32_t count = 0xDEAD;
        EXPECT_EQ(GetNumTLPMatches(card, pattern, 0, &count), QORB_SUCCESS);
        return count;
    }
};

TEST_F(TraceCopy, CopyHoldsWhatTheCardReadAndReplacesTheOldOne)
{
    QORB_DEVICE_t* card = Card();
    TraceBuilder trace;
    trace.TlpHeader(0, 2, 0, 1).Dllp(0x80).TlpHeader(1, 2, 0x0A, 1);
    CardTrace(trace, 1024);
    ASSERT_EQ(ZEBGetTraceBuffer(card), QORB_SUCCESS);
    ASSERT_NE(card->traceCopy, nullptr);
    EXPECT_EQ(card->traceCopyLength, trace.Bytes().size());
    EXPECT_EQ(memcmp(card->traceCopy, trace.Bytes().data(), trace.Bytes().size()), 0);
    EXPECT_EQ(TlpCount(card), 2u);

    auto calls = CardCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].slot, 3u);
    EXPECT_EQ(calls[1].slot, 5u);
    EXPECT_EQ(calls[1].argument, 1024u);   /* the count handed over holds the copy's size */

    CardTrace(TraceBuilder().TlpHeader(0, 0, 0, 1), 64);
    ASSERT_EQ(ZEBGetTraceBuffer(card), QORB_SUCCESS);
    EXPECT_EQ(TlpCount(card), 1u);
    EXPECT_EQ(card->traceCopyLength, 20u);
}

TEST_F(TraceCopy, SizeFailureKeepsTheOldCopyAndAnswersInvalidParameter)
{
    QORB_DEVICE_t* card = Card();
    CardTrace(TraceBuilder().TlpHeader(0, 0, 0, 1).TlpHeader(0, 0, 0, 1), 40);
    ASSERT_EQ(ZEBGetTraceBuffer(card), QORB_SUCCESS);
    uint8_t* old = card->traceCopy;

    fake->slotResult[3] = 0x80000006u;
    fake->bufferSize = 4000;   /* written by the failing card: not to be believed */
    EXPECT_EQ(ZEBGetTraceBuffer(card), QORB_INVALID_PARAMETER);
    EXPECT_EQ(card->traceCopy, old);
    EXPECT_EQ(card->traceCopyLength, 40u);
    EXPECT_EQ(TlpCount(card), 2u);
}

TEST_F(TraceCopy, ReadFailureIsReturnedAndTheCopyStays)
{
    QORB_DEVICE_t* card = Card();
    CardTrace(TraceBuilder().TlpHeader(0, 0, 0, 1), 20);
    fake->slotResult[5] = 0x8000001Fu;
    EXPECT_EQ(static_cast<uint32_t>(ZEBGetTraceBuffer(card)), 0x8000001Fu);
    EXPECT_NE(card->traceCopy, nullptr);
    EXPECT_EQ(card->traceCopyLength, 20u);
}

TEST_F(TraceCopy, CardReportingMoreThanTheCopyHoldsIsLoweredToTheCopy)
{
    QORB_DEVICE_t* card = Card();
    CardTrace(TraceBuilder().TlpHeader(0, 0, 0, 1), 20);
    fake->reportedLength = 5000;
    ASSERT_EQ(ZEBGetTraceBuffer(card), QORB_SUCCESS);
    EXPECT_EQ(card->traceCopyLength, 20u);
    EXPECT_EQ(TlpCount(card), 1u);

    fake->reportedLength = 8;   /* fewer: that many stand */
    ASSERT_EQ(ZEBGetTraceBuffer(card), QORB_SUCCESS);
    EXPECT_EQ(card->traceCopyLength, 8u);
    EXPECT_EQ(TlpCount(card), 0u);
}

TEST_F(TraceCopy, EmptyCardBufferGivesAnEmptyCopy)
{
    QORB_DEVICE_t* card = Card();
    CardTrace(TraceBuilder(), 0);
    ASSERT_EQ(ZEBGetTraceBuffer(card), QORB_SUCCESS);
    EXPECT_EQ(card->traceCopyLength, 0u);
    EXPECT_EQ(TlpCount(card), 0u);
}

TEST_F(TraceCopy, AfterArmingNothingIsFound)
{
    QORB_DEVICE_t* card = Card();
    CardTrace(TraceBuilder().TlpHeader(0, 0, 0, 1).Dllp(0x00), 64);
    ASSERT_EQ(ZEBGetTraceBuffer(card), QORB_SUCCESS);
    ASSERT_EQ(TlpCount(card), 1u);
    ASSERT_EQ(ArmZEB(card, 0), QORB_SUCCESS);
    uint32_t bytes = 1;
    EXPECT_EQ(GetBytesInZEBTB(card, &bytes), QORB_SUCCESS);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(TlpCount(card), 0u);
    uint8_t pattern[6] = {0x00};
    uint32_t dllps = 0;
    EXPECT_EQ(GetNumDLLPMatches(card, pattern, 0, &dllps), QORB_SUCCESS);
    EXPECT_EQ(dllps, 0u);
    uint8_t tlp[16];
    EXPECT_EQ(QORB_ZEB_TB_GetTLPByIndex(card, tlp, 0, 0), QORB_INVALID_PARAMETER);
}

TEST_F(TraceCopy, NonCardOrMissingSlotsAreRefusedWithoutCallingTheCard)
{
    AddFunction(4, 0, 0, 2);
    QORB_DEVICE_t* notCard = Record(4, 0, 0);
    EXPECT_EQ(ZEBGetTraceBuffer(notCard), QORB_INVALID_PARAMETER);
    EXPECT_EQ(ZEBGetTraceBuffer(nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(SetConfigMaskTraceBuf(notCard, 0x01), QORB_INVALID_PARAMETER);
    EXPECT_EQ(QORB_ZEBWritePatternToTB(notCard, 1), QORB_INVALID_PARAMETER);
    EXPECT_EQ(QORB_ZEBWritePatternToTB(nullptr, 1), QORB_INVALID_PARAMETER);
    EXPECT_TRUE(CardCalls().empty());

    QORB_DEVICE_t* card = Card();
    fake->zeb.ReadTraceBuffer = nullptr;
    fake->zeb.SetTraceConfig = nullptr;
    EXPECT_EQ(ZEBGetTraceBuffer(card), QORB_INVALID_PARAMETER);
    EXPECT_EQ(SetConfigMaskTraceBuf(card, 0x01), QORB_INVALID_PARAMETER);
    EXPECT_TRUE(CardCalls().empty());
}

TEST_F(TraceCopy, PatternGoesToTheCardUnchanged)
{
    QORB_DEVICE_t* card = Card();
    fake->slotResult[4] = 0x80000004u;
    EXPECT_EQ(QORB_ZEBWritePatternToTB(card, 0xA5A5F00Du), QORB_UNSUPPORTED_PARAMETER);
    EXPECT_EQ(fake->lastPattern, 0xA5A5F00Du);
}

/* ------------------------------------------------ trace configuration */

class TraceConfig : public ZebFakeTest {
protected:
    uint32_t Apply(uint32_t before, uint32_t flags)
    {
        fake->traceConfig = before;
        EXPECT_EQ(SetConfigMaskTraceBuf(m_card, flags), QORB_SUCCESS);
        return fake->traceConfig;
    }
    void SetUp() override
    {
        ZebFakeTest::SetUp();
        m_card = Card();
    }
    QORB_DEVICE_t* m_card = nullptr;
};

TEST_F(TraceConfig, EachFlagActsOnItsBitsAlone)
{
    struct {
        uint32_t flags, fromZero, fromOnes;
    } const cases[] = {
        {0x01, 0x200, 0xFFFFFFFF},
        {0x02, 0x000, 0xFFFFFDFF},
        {0x10, 0xC00, 0xFFFFFFFF},
        {0x04, 0x000, 0xFFFFF3FF},
        {0x08, 0x400, 0xFFFFF7FF},
        {0x20, 0x1000, 0xFFFFFFFF},
        {0x40, 0x000, 0xFFFFEFFF},
        {0x00, 0x000, 0xFFFFFFFF},
        {0x80, 0x000, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        EXPECT_EQ(Apply(0, c.flags), c.fromZero);
        EXPECT_EQ(Apply(0xFFFFFFFFu, c.flags), c.fromOnes);
    }
}

TEST_F(TraceConfig, LaterFlagsWinOnTheSameBits)
{
    EXPECT_EQ(Apply(0xFFFFFFFFu, 0x1C), 0xFFFFF7FFu);   /* 0x08 over 0x04 over 0x10: bits 11:10 = 01 */
    EXPECT_EQ(Apply(0, 0x1C) & 0xC00, 0x400u);
    EXPECT_EQ(Apply(0, 0x14), 0u);                      /* 0x04 over 0x10 */
    EXPECT_EQ(Apply(0xFFFFFFFFu, 0x03), 0xFFFFFDFFu);   /* 0x02 over 0x01 */
    EXPECT_EQ(Apply(0, 0x03), 0u);
    EXPECT_EQ(Apply(0, 0x60), 0u);                      /* 0x40 over 0x20 */
    EXPECT_EQ(Apply(0x12345678u, 0x7F), (0x12345678u & ~0x1E00u) | 0x400u);
}

TEST_F(TraceConfig, ReadFailureIsReturnedAndNothingIsWritten)
{
    fake->slotResult[1] = 0x80000001u;
    fake->traceConfig = 0xABCD0000u;
    EXPECT_EQ(SetConfigMaskTraceBuf(m_card, 0x01), QORB_DRIVER_INIT_FAILED);
    EXPECT_EQ(fake->traceConfig, 0xABCD0000u);
    for (const auto& call : CardCalls())
        EXPECT_NE(call.slot, 2u);
}

TEST_F(TraceConfig, WriteStatusIsReturnedAndZeroFlagsStillWrite)
{
    fake->slotResult[2] = 0x80000020u;
    EXPECT_EQ(SetConfigMaskTraceBuf(m_card, 0), QORB_PCIE_CONFIG_WRITE_FAILED);
    auto calls = CardCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].slot, 2u);
}

} // namespace
