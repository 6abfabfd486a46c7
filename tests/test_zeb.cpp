/* Test card control on the fake driver over the simulated card (07:00.0 and 08:00.0 of the built-in
 * platform, the DUT 09:00.0 below it): forwarding of every card operation, refusal of records that are
 * not a ZEB, the card above a device, the partner below a port, the trace copy and its configuration, and
 * a whole error-injection run down to the XML log. */
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_driver.h"
#include "qorb_internal.h"

namespace {

_QORB_ZEB_OP_MODE_t g_mode;
_qorb_cmd_map_t g_command{QORB_ZEB_CMD_BAD_DLLP, 2, 1, 2, 0, 0x10, {}};
uint32_t g_count;
_qorb_zeb_query_prop_t g_props;

/* Every card operation, the slot of the card table it ends in and the value that slot gets. */
struct Op {
    const char* name;
    uint32_t slot, value;
    std::function<_QORB_STATUS_t(void*)> call;
};
const Op kOps[] = {
    {"ArmZEB", 10, 0, [](void* d) { return ArmZEB(d, 0x55); }},
    {"DisarmZEB", 8, 0, [](void* d) { return DisarmZEB(d); }},
    {"ChangeZEBMode", 12, 2, [](void* d) { return ChangeZEBMode(d, QORB_ZEB_MODE_INJECT); }},
    {"QueryZEBMode", 13, 0, [](void* d) { return QueryZEBMode(d, &g_mode); }},
    {"ProgramZEBCmd", 11, 0, [](void* d) { return ProgramZEBCmd(d, &g_command); }},
    {"QORB_ZEB_GetActionCount", 9, 0, [](void* d) { return QORB_ZEB_GetActionCount(d, &g_count); }},
    {"ZEBSuspendLogging", 14, 0, [](void* d) { return ZEBSuspendLogging(d); }},
    {"ZEBResumeLogging", 15, 0, [](void* d) { return ZEBResumeLogging(d); }},
    {"QORB_GetZEBProperties", 6, 0, [](void* d) { return QORB_GetZEBProperties(d, &g_props); }},
    {"QORB_ZEBWritePatternToTB", 4, 0xA5A5F00D, [](void* d) { return QORB_ZEBWritePatternToTB(d, 0xA5A5F00D); }},
    {"ZEBGetTraceBuffer", 5, 1 << 20, [](void* d) { return ZEBGetTraceBuffer(d); }},   /* after the pattern */
    {"SetConfigMaskTraceBuf", 2, 0x1E00, [](void* d) { return SetConfigMaskTraceBuf(d, 0x20); }},
};

class Zeb : public testing::Test {
protected:
    void* Record(uint8_t bus, uint8_t dev, uint8_t fn)
    {
        void* record = nullptr;
        EXPECT_EQ(FindDevice(bus, dev, fn, &record), QORB_SUCCESS);
        return Keep(record);
    }
    void* Keep(void* record) { return m_records.push_back(record), record; }
    void TearDown() override
    {
        for (void* record : m_records)
            CloseDevice(record);
    }
    /* Card calls logged since the reset, IsZEB left out. */
    std::vector<FakeCall> CardCalls()
    {
        std::vector<FakeCall> calls;
        for (const FakeCall& call : fake.Calls())
            if (call.entry > FK_ZEB && call.entry < FK_ZEB_TABLE)
                calls.push_back(call);
        return calls;
    }
    qorbtest::FakeInstance m_instance;
    qorbtest::FakeDriver& fake = m_instance.fake;
    std::vector<void*> m_records;
};

TEST_F(Zeb, EveryOperationForwardsItsArgumentsAndHandsBackTheCardStatus)
{
    void* card = Record(8, 0, 0);
    g_mode = QORB_ZEB_MODE_PASSTHROUGH;
    for (const Op& op : kOps) {
        for (uint32_t mode : {FK_ANSWER, FK_FAIL, FK_MISSING, FK_FORWARD}) {
            SCOPED_TRACE(testing::Message() << op.name << " mode " << mode);
            fake.Reset();
            fake.Set(FK_ZEB + op.slot, mode, 0);
            fake.SetAnswer(FK_ZEB + op.slot, 0xC0DE0000 + op.slot);
            const uint32_t status[] = {QORB_SUCCESS, 0, FK_CARD_FAILURE, 0xC0DE0000 + op.slot};
            EXPECT_EQ(uint32_t(op.call(card)), mode == FK_MISSING ? QORB_INVALID_PARAMETER : status[mode]);
            auto calls = CardCalls();
            ASSERT_EQ(calls.size(), mode == FK_MISSING ? 0u : op.slot == 5 || op.slot == 2 ? 2u : 1u);
            if (mode == FK_MISSING)
                continue;
            const FakeCall& last = calls.back();
            EXPECT_EQ(std::vector<uint32_t>(last.args, last.args + 4),
                      (std::vector<uint32_t>{8, 0, 0, op.value}));
            EXPECT_EQ(last.entry, FK_ZEB + op.slot);
        }
    }
    /* What the card wrote reached the caller. */
    EXPECT_EQ(std::tuple(g_mode, g_props.mode, g_props.traceBufferSize), std::tuple(2, 2, 1u << 20));
    fake.Reset();
    EXPECT_EQ(ProgramZEBCmd(card, &g_command), QORB_SUCCESS);
    EXPECT_EQ(memcmp(CardCalls().at(0).data, &g_command, 16), 0);
}

TEST_F(Zeb, RecordsThatAreNotAZebAndCardsOutOfReachAreRefused)
{
    void* dut = Record(9, 0, 0);
    auto* odd = static_cast<QORB_DEVICE_t*>(Record(8, 0, 0));
    odd->isZeb = 2;
    fake.Set(FK_ZEB, FK_ANSWER, 0);
    fake.SetAnswer(FK_ZEB, 2);
    void* says2 = Record(7, 0, 0);
    fake.Reset();
    for (const Op& op : kOps)
        for (void* device : {dut, static_cast<void*>(odd), says2, static_cast<void*>(nullptr)})
            EXPECT_EQ(op.call(device), QORB_INVALID_PARAMETER) << op.name;
    /* A card whose table was unbound. */
    void* card = Record(8, 0, 0);
    _ZEB_LIB_INTERFACE_t* bound = g_qorbDriver.zeb;
    g_qorbDriver.zeb = nullptr;
    for (const Op& op : kOps)
        EXPECT_EQ(op.call(card), QORB_INVALID_PARAMETER) << op.name;
    void* first = &first;
    void* second = &second;
    EXPECT_EQ(QORB_GetUpstreamZEB(dut, &first, &second), QORB_INVALID_PARAMETER);
    EXPECT_EQ(std::tuple(first, second), std::tuple(nullptr, nullptr));
    g_qorbDriver.zeb = bound;
    EXPECT_EQ(CardCalls().size(), 0u);
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
    /* Not below a card, or the card failing: its status, both outputs null. */
    void* host = Record(0, 0, 0);
    for (auto [device, mode, status] : {std::tuple{host, FK_FORWARD, uint32_t(QORB_DEVICE_NOT_FOUND)},
                                        {dut, FK_FAIL, FK_CARD_FAILURE}}) {
        fake.Set(FK_ZEB + 16, mode, 0);
        first = second = &first;
        EXPECT_EQ(uint32_t(QORB_GetUpstreamZEB(device, &first, &second)), status);
        EXPECT_EQ(std::tuple(first, second), std::tuple(nullptr, nullptr));
    }
    first = &first;
    EXPECT_EQ(QORB_GetUpstreamZEB(dut, &first, nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(QORB_GetUpstreamZEB(dut, nullptr, &first), QORB_INVALID_PARAMETER);
    EXPECT_EQ(QORB_GetUpstreamZEB(nullptr, &first, &second), QORB_INVALID_PARAMETER);
}

TEST_F(Zeb, PartnerIsTheFunctionBelowABridgeThatTheCardLibraryNames)
{
    /* 00:02.0 leads to bus 6, whose 06:00.0 is a partner; below 00:01.0 is a switch. */
    void* port = Record(0, 2, 0);
    const struct {
        void* port;
        uint32_t dev, fn;
        std::function<void()> setup;
        int found;   /* 1: a record of 06:00.0; 0: null; -1: untouched */
        uint32_t reads;
    } rows[] = {
        {port, 0, 0, [] {}, 1, 2}, {Record(0, 1, 0), 0, 0, [] {}, 0, 2}, {Record(6, 0, 0), 0, 0, [] {}, -1, 1},
        {port, 1, 0, [] {}, -1, 2}, {port, 32, 0, [] {}, -1, 1}, {port, 0, 8, [] {}, -1, 1}, {nullptr, 0, 0, [] {}, -1, 0},
        {port, 0, 0, [&] { fake.Patch(PCI_HEADER_TYPE, 0x81, 28); }, 1, 2},   /* a multi-function bridge */
        {port, 0, 0, [&] { fake.Limit(0, 1, 64, 60); }, -1, 2},               /* a short read below */
        {port, 0, 0, [&] { fake.Set(FK_VOK, FK_MISSING, 0); }, 0, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        fake.Reset();
        row.setup();
        void* partner = &partner;
        EXPECT_EQ(QORB_GetDownstreamVOK(row.port, row.dev, row.fn, &partner),
                  row.found == 1 ? QORB_SUCCESS : QORB_INVALID_PARAMETER);
        EXPECT_EQ(fake.Count(FK_READ), row.reads);   /* the port's header, then the function below */
        if (row.found != 1) {
            EXPECT_EQ(partner, row.found ? &partner : nullptr);
            continue;
        }
        auto* r = static_cast<QORB_DEVICE_t*>(Keep(partner));
        EXPECT_EQ(std::tuple(r->bus, r->device, r->function, r->deviceId), std::tuple(6, 0, 0, 0x1020));
        EXPECT_EQ(r->configShadow[QORB_PROBE_LENGTH], 0);   /* the probe's bytes only */
    }
    EXPECT_EQ(QORB_GetDownstreamVOK(port, 0, 0, nullptr), QORB_INVALID_PARAMETER);
}

TEST_F(Zeb, TraceCopyHoldsWhatTheCardReadWithinItsSize)
{
    void* card = Record(8, 0, 0);
    ASSERT_EQ(ArmZEB(card, 0), QORB_SUCCESS);   /* the card records the armed event: 8 bytes */
    const uint8_t trace[12] = {0xF1, 4, 0, 0, 0, 0, 0, 0, 0xF1, 3, 0, 0};
    uint32_t bytes = 0;
    const struct {
        uint32_t reported, slot, mode;
        uint32_t status, length;
    } rows[] = {
        {0, 0, FK_FORWARD, QORB_SUCCESS, 8}, {200, 0, FK_FORWARD, QORB_SUCCESS, 8}, {7, 0, FK_FORWARD, QORB_SUCCESS, 7},
        {0, 3, FK_FAIL, QORB_INVALID_PARAMETER, 7},   /* the old copy stays */
        {0, 5, FK_FAIL, FK_CARD_FAILURE, 8}, {0, 10, FK_FAIL, FK_CARD_FAILURE, 0},
    };
    for (const auto& row : rows) {
        fake.Reset();
        fake.SetTrace(trace, sizeof trace, row.reported);
        fake.Set(FK_ZEB + row.slot, row.mode, 0);
        EXPECT_EQ(uint32_t(row.slot == 10 ? ArmZEB(card, 0) : ZEBGetTraceBuffer(card)), row.status);
        ASSERT_EQ(GetBytesInZEBTB(card, &bytes), QORB_SUCCESS);
        EXPECT_EQ(bytes, row.length);
        uint8_t copy[16] = {};
        EXPECT_EQ(GetTBContents(card, copy, &bytes), QORB_SUCCESS);
        EXPECT_TRUE(row.slot == 5 || memcmp(copy, trace, bytes) == 0);   /* a failed read writes nothing */
    }
}

TEST_F(Zeb, TraceConfigurationFlagsActInTheirOrderOnTheirBitsAlone)
{
    void* card = Record(7, 0, 0);
    ASSERT_EQ(SetConfigMaskTraceBuf(card, 0x06), QORB_SUCCESS);   /* the card's word is 0 from here */
    const struct {
        uint32_t flags, fromZero, fromOnes;
    } rows[] = {
        {0x01, 0x200, ~0u}, {0x02, 0, ~0x200u}, {0x10, 0xC00, ~0u}, {0x04, 0, ~0xC00u}, {0x08, 0x400, ~0x800u},
        {0x20, 0x1000, ~0u}, {0x40, 0, ~0x1000u}, {0x00, 0, ~0u}, {0x80, 0, ~0u}, {0x1C, 0x400, ~0x800u},
        {0x14, 0, ~0xC00u}, {0x03, 0, ~0x200u}, {0x60, 0, ~0x1000u}, {0x7F, 0x400, ~0x1A00u},
    };
    for (const auto& row : rows) {
        for (uint32_t ones : {0, 1}) {
            fake.Reset();
            fake.Set(FK_ZEB + 1, ones ? FK_GARBAGE_FF : FK_FORWARD, 0);
            fake.Set(FK_ZEB + 2, FK_ANSWER, 0);
            EXPECT_EQ(SetConfigMaskTraceBuf(card, row.flags), QORB_SUCCESS);
            EXPECT_EQ(CardCalls().back().args[3], ones ? row.fromOnes : row.fromZero) << row.flags;
        }
    }
    fake.Reset();
    fake.Set(FK_ZEB + 1, FK_FAIL, 0);
    EXPECT_EQ(uint32_t(SetConfigMaskTraceBuf(card, 0x01)), FK_CARD_FAILURE);
    EXPECT_EQ(fake.Count(FK_ZEB + 2), 0u);
}

/* The card above the DUT injects a bad TLP: the trace shows the requests and the Nak, the DUT's AER
 * status says Bad TLP, and the XML log holds the trace copy word by word. */
TEST_F(Zeb, InjectedBadTlpIsSeenInTraceAerAndLog)
{
    void* dut = Record(9, 0, 0);
    void* card = Record(8, 0, 0);
    void* xml = nullptr;
    ASSERT_EQ(CreateLog(nullptr, &xml, QORB_LOG_TYPE_XML, "run.xml", QORB_LOG_ACTION_CREATE), QORB_SUCCESS);
    ASSERT_EQ(StartTest(xml, "bad tlp", nullptr, 0, dut), QORB_SUCCESS);
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
    ASSERT_EQ(ZEBGetTraceBuffer(card), QORB_SUCCESS);
    uint32_t bytes = 0;
    ASSERT_EQ(GetBytesInZEBTB(card, &bytes), QORB_SUCCESS);
    std::vector<uint8_t> copy(bytes + 4);
    ASSERT_EQ(GetTBContents(card, copy.data(), &bytes), QORB_SUCCESS);
    uint8_t cfgRd0[4] = {0x04, 0x00, 0x00, 0x01};
    uint32_t requests = 0, naks = 0;
    EXPECT_EQ(GetNumTLPMatches(card, cfgRd0, QORB_TLP_MATCH_STRICT | QORB_TLP_MATCH_FMT | QORB_TLP_MATCH_TYPE,
                               &requests), QORB_SUCCESS);
    uint8_t nak[6] = {0x10};
    EXPECT_EQ(GetNumDLLPMatches(card, nak, 0, &naks), QORB_SUCCESS);
    EXPECT_EQ(std::tuple(requests, naks), std::tuple(3u, 1u));
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
    EXPECT_GT(bytes, 100u);
}

} // namespace
