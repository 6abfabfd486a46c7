/* Test card control: the card operations on the simulated card (07:00.0 and
 * 08:00.0 of the built-in platform, the DUT 09:00.0 below), the refusal of
 * records that are not a ZEB, the card above a device and the partner below
 * a port, and a whole error-injection run down to the XML log. */
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qorb_internal.h"
#include "qorb_test_support.h"

namespace {

_QORB_ZEB_OP_MODE_t g_mode;
_qorb_cmd_map_t g_command{QORB_ZEB_CMD_BAD_DLLP, 2, 1, 2, 0, 0x10, {}};
uint32_t g_count;
_qorb_zeb_query_prop_t g_props;

/* Every card operation, with the slot of the card table it ends in. */
struct Op {
    const char* name;
    uint32_t slot;
    std::function<_QORB_STATUS_t(void*)> call;
};
const Op kOps[] = {
    {"ArmZEB", 10, [](void* d) { return ArmZEB(d, 0x55); }},
    {"DisarmZEB", 8, [](void* d) { return DisarmZEB(d); }},
    {"ChangeZEBMode", 12, [](void* d) { return ChangeZEBMode(d, QORB_ZEB_MODE_INJECT); }},
    {"QueryZEBMode", 13, [](void* d) { return QueryZEBMode(d, &g_mode); }},
    {"ProgramZEBCmd", 11, [](void* d) { return ProgramZEBCmd(d, &g_command); }},
    {"QORB_ZEB_GetActionCount", 9, [](void* d) { return QORB_ZEB_GetActionCount(d, &g_count); }},
    {"ZEBSuspendLogging", 14, [](void* d) { return ZEBSuspendLogging(d); }},
    {"ZEBResumeLogging", 15, [](void* d) { return ZEBResumeLogging(d); }},
    {"QORB_GetZEBProperties", 6, [](void* d) { return QORB_GetZEBProperties(d, &g_props); }},
    {"QORB_ZEBWritePatternToTB", 4, [](void* d) { return QORB_ZEBWritePatternToTB(d, 0xA5A5F00D); }},
    {"ZEBGetTraceBuffer", 5, [](void* d) { return ZEBGetTraceBuffer(d); }},
    {"SetConfigMaskTraceBuf", 2, [](void* d) { return SetConfigMaskTraceBuf(d, 0x01); }},
};

class Zeb : public testing::Test {
protected:
    void* Record(uint8_t bus, uint8_t dev, uint8_t fn)
    {
        void* record = nullptr;
        EXPECT_EQ(FindDevice(bus, dev, fn, &record), QORB_SUCCESS);
        return Keep(record);
    }
    void* Keep(void* record)
    {
        m_records.push_back(record);
        return record;
    }
    void TearDown() override
    {
        for (void* record : m_records)
            CloseDevice(record);
    }
    qorbtest::SimPlatform m_platform;
    std::vector<void*> m_records;
};

TEST_F(Zeb, OperationsReachTheCardAndItsAnswersComeBack)
{
    void* card = Record(7, 0, 0);
    auto props = [&] {
        g_props = {};
        EXPECT_EQ(QORB_GetZEBProperties(card, &g_props), QORB_SUCCESS);
        return std::vector<uint32_t>{g_props.mode, g_props.armed, g_props.loggingSuspended};
    };
    EXPECT_EQ(props(), (std::vector<uint32_t>{QORB_ZEB_MODE_MONITOR, 0, 0}));
    EXPECT_EQ(std::tuple(g_props.traceBufferSize, g_props.linkWidth), std::tuple(1u << 20, 8u));
    const struct {
        const char* name;
        std::function<_QORB_STATUS_t()> call;
        _QORB_STATUS_t status;
        std::vector<uint32_t> after;   /* mode, armed, suspended */
    } steps[] = {
        {"inject", [&] { return ChangeZEBMode(card, QORB_ZEB_MODE_INJECT); }, QORB_SUCCESS, {2, 0, 0}},
        {"bad mode", [&] { return ChangeZEBMode(card, _QORB_ZEB_OP_MODE_t(7)); }, QORB_INVALID_PARAMETER, {2, 0, 0}},
        {"arm", [&] { return ArmZEB(card, 0); }, QORB_SUCCESS, {2, 1, 0}},
        {"suspend", [&] { return ZEBSuspendLogging(card); }, QORB_SUCCESS, {2, 1, 1}},
        {"resume", [&] { return ZEBResumeLogging(card); }, QORB_SUCCESS, {2, 1, 0}},
        {"disarm", [&] { return DisarmZEB(card); }, QORB_SUCCESS, {2, 0, 0}},
        {"pass through", [&] { return ChangeZEBMode(card, QORB_ZEB_MODE_PASSTHROUGH); }, QORB_SUCCESS, {0, 0, 0}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        EXPECT_EQ(step.call(), step.status);
        EXPECT_EQ(props(), step.after);
    }
    g_mode = QORB_ZEB_MODE_INJECT;
    EXPECT_EQ(QueryZEBMode(card, &g_mode), QORB_SUCCESS);
    EXPECT_EQ(g_mode, QORB_ZEB_MODE_PASSTHROUGH);
    _qorb_cmd_map_t bad{QORB_ZEB_CMD_BAD_TLP, 1, 1, 3, 0, 0, {}};
    EXPECT_EQ(ProgramZEBCmd(card, &bad), QORB_INVALID_PARAMETER);   /* packet kind 3 */
    EXPECT_EQ(QueryZEBMode(card, nullptr), QORB_INVALID_PARAMETER);
}

TEST_F(Zeb, RecordsThatAreNotAZebAndCardsOutOfReachAreRefused)
{
    void* dut = Record(9, 0, 0);
    auto* odd = static_cast<QORB_DEVICE_t*>(Record(8, 0, 0));
    odd->isZeb = 2;
    void* card = Record(7, 0, 0);
    for (const Op& op : kOps) {
        SCOPED_TRACE(op.name);
        EXPECT_EQ(op.call(dut), QORB_INVALID_PARAMETER);
        EXPECT_EQ(op.call(odd), QORB_INVALID_PARAMETER);
        EXPECT_EQ(op.call(nullptr), QORB_INVALID_PARAMETER);
    }
    /* A card whose table was unbound. */
    _ZEB_LIB_INTERFACE_t* bound = g_qorbDriver.zeb;
    g_qorbDriver.zeb = nullptr;
    for (const Op& op : kOps)
        EXPECT_EQ(op.call(card), QORB_INVALID_PARAMETER) << op.name;
    void* first = &first;
    void* second = &second;
    EXPECT_EQ(QORB_GetUpstreamZEB(dut, &first, &second), QORB_INVALID_PARAMETER);
    EXPECT_EQ(std::tuple(first, second), std::tuple(nullptr, nullptr));
    g_qorbDriver.zeb = bound;
    EXPECT_EQ(ArmZEB(card, 0), QORB_SUCCESS);
}

TEST_F(Zeb, UpstreamCardIsTwoNewRecordsOfItsFunctions)
{
    void* dut = Record(9, 0, 0);
    void* first = nullptr;
    void* second = nullptr;
    ASSERT_EQ(QORB_GetUpstreamZEB(dut, &first, &second), QORB_SUCCESS);
    Keep(first);
    Keep(second);
    for (auto [record, bus] : {std::pair{first, 7}, {second, 8}}) {
        auto* r = static_cast<QORB_DEVICE_t*>(record);
        uint8_t header[QORB_SHADOW_LENGTH];
        uint32_t length = QORB_SHADOW_LENGTH;
        EXPECT_EQ(ReadConfigSpace(Record(uint8_t(bus), 0, 0), header, 0, &length), QORB_SUCCESS);
        EXPECT_EQ(std::tuple(r->bus, r->device, r->function, r->isZeb, r->vendorId), std::tuple(bus, 0, 0, 1, 0x5a45));
        EXPECT_EQ(memcmp(r->configShadow, header, QORB_SHADOW_LENGTH), 0);
    }
    EXPECT_EQ(static_cast<QORB_DEVICE_t*>(second)->deviceId, 0x0002);

    /* Not below a card: the card's status, both outputs null. */
    void* host = Record(0, 0, 0);
    first = second = &first;
    EXPECT_EQ(QORB_GetUpstreamZEB(host, &first, &second), QORB_DEVICE_NOT_FOUND);
    EXPECT_EQ(std::tuple(first, second), std::tuple(nullptr, nullptr));
    first = &first;
    EXPECT_EQ(QORB_GetUpstreamZEB(dut, &first, nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(QORB_GetUpstreamZEB(dut, nullptr, &first), QORB_INVALID_PARAMETER);
    EXPECT_EQ(QORB_GetUpstreamZEB(nullptr, &first, &second), QORB_INVALID_PARAMETER);
}

TEST_F(Zeb, PartnerIsTheFunctionBelowABridgeThatTheCardLibraryNames)
{
    /* 00:02.0 leads to bus 6, whose 06:00.0 is a partner; below 00:01.0 is a switch. */
    const struct {
        void* port;
        uint32_t dev, fn;
        _QORB_STATUS_t status;
        int found;   /* 1: a record of 06:00.0; 0: null; -1: untouched */
    } rows[] = {
        {Record(0, 2, 0), 0, 0, QORB_SUCCESS, 1},          {Record(0, 1, 0), 0, 0, QORB_INVALID_PARAMETER, 0},
        {Record(6, 0, 0), 0, 0, QORB_INVALID_PARAMETER, -1}, {Record(0, 2, 0), 1, 0, QORB_INVALID_PARAMETER, -1},
        {Record(0, 2, 0), 32, 0, QORB_INVALID_PARAMETER, -1}, {Record(0, 2, 0), 0, 8, QORB_INVALID_PARAMETER, -1},
        {nullptr, 0, 0, QORB_INVALID_PARAMETER, -1},
    };
    for (const auto& row : rows) {
        void* partner = &partner;
        EXPECT_EQ(QORB_GetDownstreamVOK(row.port, row.dev, row.fn, &partner), row.status);
        if (row.found != 1) {
            EXPECT_EQ(partner, row.found ? &partner : nullptr);
            continue;
        }
        auto* r = static_cast<QORB_DEVICE_t*>(Keep(partner));
        EXPECT_EQ(std::tuple(r->bus, r->device, r->function, r->deviceId), std::tuple(6, 0, 0, 0x1020));
        EXPECT_EQ(r->configShadow[QORB_PROBE_LENGTH], 0);   /* the probe's bytes only */
    }
    EXPECT_EQ(QORB_GetDownstreamVOK(rows[0].port, 0, 0, nullptr), QORB_INVALID_PARAMETER);
}

/* The card above the DUT injects a bad TLP: the trace shows the requests and
 * the Nak, the DUT's AER status says Bad TLP, the XML log holds the copy. */
TEST_F(Zeb, InjectedBadTlpIsSeenInTraceAerAndLog)
{
    void* dut = Record(9, 0, 0);
    void* card = Record(8, 0, 0);
    void* xml = nullptr;
    ASSERT_EQ(CreateLog(nullptr, &xml, QORB_LOG_TYPE_XML, "run.xml", QORB_LOG_ACTION_CREATE), QORB_SUCCESS);
    ASSERT_EQ(StartTest(xml, "bad tlp", nullptr, 0, dut), QORB_SUCCESS);
    EXPECT_EQ(QORB_ADVERR_Util_AssertBadTLPStatus(dut, xml, 0, 0), QORB_SUCCESS);
    ASSERT_EQ(ChangeZEBMode(card, QORB_ZEB_MODE_INJECT), QORB_SUCCESS);
    _qorb_cmd_map_t cmd{QORB_ZEB_CMD_BAD_TLP, 1, 0, 1, 0x4A, 0, {}};   /* the first completion with data */
    ASSERT_EQ(ProgramZEBCmd(card, &cmd), QORB_SUCCESS);
    ASSERT_EQ(ArmZEB(card, 0), QORB_SUCCESS);
    for (int i = 0; i < 3; ++i) {
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
    std::vector<uint8_t> copy(bytes + 4);
    uint32_t length = bytes + 4;
    ASSERT_EQ(GetTBContents(card, copy.data(), &length), QORB_SUCCESS);
    ASSERT_EQ(length, bytes);
    ASSERT_GT(bytes, 0u);
    uint8_t cfgRd0[4] = {0x04, 0x00, 0x00, 0x01};
    uint32_t requests = 0;
    EXPECT_EQ(GetNumTLPMatches(card, cfgRd0, QORB_TLP_MATCH_STRICT | QORB_TLP_MATCH_FMT | QORB_TLP_MATCH_TYPE,
                               &requests), QORB_SUCCESS);
    EXPECT_EQ(requests, 3u);
    uint8_t nak[6] = {0x10};
    uint32_t naks = 0;
    EXPECT_EQ(GetNumDLLPMatches(card, nak, 0, &naks), QORB_SUCCESS);
    EXPECT_EQ(naks, 1u);
    EXPECT_EQ(QORB_ADVERR_Util_AssertBadTLPStatus(dut, xml, 1, 1), QORB_SUCCESS);

    uint32_t dumped = 0;
    EXPECT_EQ(LogTBContents(xml, card, &dumped), QORB_SUCCESS);
    EXPECT_EQ(LogTBContents(xml, dut, &dumped), QORB_INVALID_PARAMETER);
    EXPECT_EQ(CloseLog(xml), QORB_SUCCESS);
    std::string words;
    for (uint32_t at = 0; at < bytes; at += 4) {
        char word[16];
        snprintf(word, sizeof word, "0x%02x%02x%02x%02x\n", copy[at + 3], copy[at + 2], copy[at + 1], copy[at]);
        words += word;
    }
    const std::string doc = qorbtest::ReadFile("run.xml");
    EXPECT_NE(doc.find("<ActionCount> 1\n</ActionCount>\n</INFO>\n <INFO> <TBContents>\n<NumBytes> " +
                       std::to_string(bytes) + " </NumBytes> \n<TBData>\n" + words + "</TBData>\n</TBContents>"),
              std::string::npos);
    EXPECT_EQ(doc.find("<TBContents>", doc.find("<TBContents>") + 1), std::string::npos);

    /* Arming again drops the copy. */
    ASSERT_EQ(ArmZEB(card, 0), QORB_SUCCESS);
    EXPECT_EQ(GetBytesInZEBTB(card, &bytes), QORB_SUCCESS);
    EXPECT_EQ(bytes, 0u);
}

} // namespace
