/* A whole error-injection run on the built-in platform through the public
 * API: the card above the DUT injects a bad TLP, the trace shows the Nak and
 * the replay, the DUT's AER status says Bad TLP, and the XML log holds the
 * trace dump. */
#include <gtest/gtest.h>

#include "qorb_test_support.h"

using namespace qorbtest;

TEST(CardEndToEnd, InjectedBadTlpIsSeenInTraceAerAndLog)
{
    SimPlatform platform;
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    void* dut = nullptr;
    ASSERT_EQ(FindDevice(9, 0, 0, &dut), QORB_SUCCESS);
    void* card = nullptr;
    void* card2 = nullptr;
    ASSERT_EQ(QORB_GetUpstreamZEB(dut, &card, &card2), QORB_SUCCESS);

    void* xml = nullptr;
    ASSERT_EQ(CreateLog(nullptr, &xml, QORB_LOG_TYPE_XML, "run.xml", QORB_LOG_ACTION_CREATE), QORB_SUCCESS);
    ASSERT_EQ(StartTest(xml, "bad tlp", nullptr, 0, dut), QORB_SUCCESS);
    /* Nothing is set before the injection. */
    EXPECT_EQ(QORB_ADVERR_Util_AssertBadTLPStatus(dut, xml, 0, 0), QORB_SUCCESS);

    ASSERT_EQ(ChangeZEBMode(card, QORB_ZEB_MODE_INJECT), QORB_SUCCESS);
    _qorb_cmd_map_t cmd{};
    cmd.command = QORB_ZEB_CMD_BAD_TLP;
    cmd.count = 1;
    cmd.packetKind = 1;  /* the first completion with data */
    cmd.tlpType = 0x4A;
    ASSERT_EQ(ProgramZEBCmd(card, &cmd), QORB_SUCCESS);
    const int reads = 3;
    ASSERT_EQ(ArmZEB(card, 0), QORB_SUCCESS);
    for (int i = 0; i < reads; ++i) {
        uint8_t ids[4];
        uint32_t len = 4;
        ASSERT_EQ(ReadConfigSpace(dut, ids, 0, &len), QORB_SUCCESS);
    }
    ASSERT_EQ(DisarmZEB(card), QORB_SUCCESS);
    uint32_t actions = 0;
    EXPECT_EQ(QORB_ZEB_GetActionCount(card, &actions), QORB_SUCCESS);
    EXPECT_EQ(actions, 1u);

    ASSERT_EQ(ZEBGetTraceBuffer(card), QORB_SUCCESS);
    uint32_t bytes = 0;
    ASSERT_EQ(GetBytesInZEBTB(card, &bytes), QORB_SUCCESS);
    EXPECT_GT(bytes, 0u);

    /* Every read is one configuration read request in the trace. */
    uint8_t cfgRd0[4] = {0x04, 0x00, 0x00, 0x01};
    uint32_t requests = 0;
    EXPECT_EQ(GetNumTLPMatches(card, cfgRd0, QORB_TLP_MATCH_STRICT | QORB_TLP_MATCH_FMT | QORB_TLP_MATCH_TYPE,
                               &requests),
              QORB_SUCCESS);
    EXPECT_EQ(requests, static_cast<uint32_t>(reads));
    /* The corrupted TLP was answered by a Nak. */
    uint8_t nak[1] = {0x10};
    uint32_t naks = 0;
    EXPECT_EQ(GetNumDLLPMatches(card, nak, 0, &naks), QORB_SUCCESS);
    EXPECT_EQ(naks, 1u);

    /* The DUT logged the Bad TLP; the assertion passes and clears it. */
    EXPECT_EQ(QORB_ADVERR_Util_AssertBadTLPStatus(dut, xml, 1, 1), QORB_SUCCESS);
    EXPECT_EQ(QORB_ADVERR_Util_AssertBadTLPStatus(dut, xml, 0, 0), QORB_SUCCESS);

    uint32_t dumpBytes = 0;
    EXPECT_EQ(LogTBContents(xml, card, &dumpBytes), QORB_SUCCESS);
    EXPECT_EQ(StopTest(xml), QORB_SUCCESS);
    EXPECT_EQ(CloseLog(xml), QORB_SUCCESS);

    std::string doc = ReadFile("run.xml");
    char numBytes[64];
    snprintf(numBytes, sizeof numBytes, "<NumBytes> %u </NumBytes> \n", bytes);
    EXPECT_NE(doc.find(numBytes), std::string::npos);
    EXPECT_NE(doc.find("<ActionCount> 1\n"), std::string::npos);
    EXPECT_NE(doc.find("Bad TLP Status bit ) (Expected : SET) Actual value (SET)::"), std::string::npos);
    EXPECT_NE(doc.find("</QORBTest>\n</QORBXMLLog>\n"), std::string::npos);

    CloseDevice(card);
    CloseDevice(card2);
    CloseDevice(dut);
}
