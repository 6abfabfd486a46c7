/* Limits the other tests leave open at their very edge: a short TLP that
 * ends the trace copy, trace dumps of copies whose size is not a multiple of
 * 4, and platform file values of 998 to 1000 characters. Trace copies are
 * allocated to the byte, so a read past the end is caught by the sanitizer
 * build; the outputs carry canary bytes after them. Paths, DLL names, log
 * texts and DUT tables are bounded in test_instance_ini, test_log_text and
 * test_datfile_errors. */
#include <array>
#include <string>

#include <gtest/gtest.h>

#include "datfile_test_util.h"
#include "qorb_test_support.h"
#include "trace_builder.h"

namespace {

/* A TLP of `dwords` doublewords is the last entry of the copy: the 16-byte
 * copy takes what the TLP has and zeros for the rest, and the canary after
 * the 16 bytes stays. */
class ShortTlpAtTheEnd : public ::testing::TestWithParam<uint32_t> {};

TEST_P(ShortTlpAtTheEnd, CopiesWhatItHasAndZerosTheRest)
{
    const uint32_t dwords = GetParam();
    std::vector<uint8_t> payload(4 * dwords);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(0x40 + i);
    QORB_DEVICE_t* card = CardWithTrace(TraceBuilder().Dllp(0x80).Tlp(0, payload).Bytes());
    std::array<uint8_t, 16 + 8> out;
    out.fill(0xCC);
    ASSERT_EQ(QORB_ZEB_TB_GetTLPByIndex(card, out.data(), 0, 0), QORB_SUCCESS);
    for (size_t i = 0; i < 16; ++i)
        EXPECT_EQ(out[i], i < payload.size() ? payload[i] : 0) << "byte " << i;
    for (size_t i = 16; i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xCC) << "written past the 16 bytes";
    EXPECT_EQ(QORB_ZEB_TB_GetTLPByIndex(card, out.data(), 0, 1), QORB_INVALID_PARAMETER);
    CloseDevice(card);
}

INSTANTIATE_TEST_SUITE_P(Dwords, ShortTlpAtTheEnd, ::testing::Values(0u, 1u, 2u, 3u, 4u, 5u));

/* A copy of 1 to 7 bytes dumped whole: the last word holds the bytes there
 * are and zeros beyond them, and the byte count printed is the copy's. */
class OddTraceDump : public ::testing::TestWithParam<uint32_t> {};

TEST_P(OddTraceDump, LastWordHoldsTheRemainingBytes)
{
    const uint32_t length = GetParam();
    std::vector<uint8_t> trace(length);
    for (uint32_t i = 0; i < length; ++i)
        trace[i] = static_cast<uint8_t>(0xA1 + i);
    qorbtest::ScratchDir dir;
    QORB_DEVICE_t* card = CardWithTrace(trace);
    void* log = nullptr;
    ASSERT_EQ(CreateLog(nullptr, &log, QORB_LOG_TYPE_XML, "dump.xml", QORB_LOG_ACTION_CREATE), QORB_SUCCESS);
    uint32_t requested = 0;
    EXPECT_EQ(LogTBContents(log, card, &requested), QORB_SUCCESS);
    CloseLog(log);
    CloseDevice(card);

    std::string words;
    for (uint32_t offset = 0; offset < length; offset += 4) {
        uint32_t word = 0;
        for (uint32_t i = 0; i < 4 && offset + i < length; ++i)
            word |= static_cast<uint32_t>(trace[offset + i]) << (8 * i);
        char line[16];
        snprintf(line, sizeof line, "0x%08x\n", word);
        words += line;
    }
    std::string xml = qorbtest::ReadFile(dir.File("dump.xml"));
    EXPECT_NE(xml.find("<NumBytes> " + std::to_string(length) + " </NumBytes> \n<TBData>\n" + words + "</TBData>"),
              std::string::npos)
        << xml;
}

INSTANTIATE_TEST_SUITE_P(Lengths, OddTraceDump, ::testing::Values(1u, 2u, 3u, 5u, 6u, 7u));

/* A platform file value keeps up to 999 characters; a longer one is cut to
 * its first 999, and the field next to it is untouched. */
class DatValueLength : public ::testing::TestWithParam<size_t>, protected qorbtest::DatFileTest {};

TEST_P(DatValueLength, KeepsAtMost999Characters)
{
    const size_t length = GetParam();
    std::string value;
    for (size_t i = 0; i < length; ++i)
        value += static_cast<char>('a' + i % 26);
    ParseText("<p><QORBINIFileName v=\"" + value + "\"/><ReplayCount n=\"5\"/></p>");
    ASSERT_EQ(dat.status, QORB_SUCCESS) << dat.stderrText;
    EXPECT_EQ(std::string(dat->qorbIniFileName), value.substr(0, 999));
    EXPECT_EQ(dat->replayCount, 5);
}

INSTANTIATE_TEST_SUITE_P(Lengths, DatValueLength, ::testing::Values(size_t{998}, size_t{999}, size_t{1000}));

} // namespace
