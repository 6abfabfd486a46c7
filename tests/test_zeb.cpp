/* Test card control on the fake driver over the simulated card (07:00.0, 08:00.0, the DUT 09:00.0 below): every
 * card operation, the card above and the partner below, the trace copy and an error-injection run to the log. */
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_driver.h"
#include "qorb_internal.h"

namespace {

_QORB_ZEB_OP_MODE_t g_mode;
uint32_t g_count;
_qorb_cmd_map_t g_command{QORB_ZEB_CMD_BAD_DLLP, 2, 1, 2, 0, 0x10, {}};
_qorb_zeb_query_prop_t g_props;

/* Every card operation: the slot of the card table it ends in and the value that slot gets. */
struct Op {
    uint32_t slot, value;
    _QORB_STATUS_t (*call)(void*);
};
#define OP(slot, value, call) Op(slot, value, [](void* d) { return call; })
const Op kOps[]
    = {OP(10, 0, ArmZEB(d, 0x55)), OP(8, 0, DisarmZEB(d)), OP(12, 2, ChangeZEBMode(d, QORB_ZEB_MODE_INJECT)),
        OP(13, 0, QueryZEBMode(d, &g_mode)), OP(11, 0, ProgramZEBCmd(d, &g_command)),
        OP(9, 0, QORB_ZEB_GetActionCount(d, &g_count)), OP(14, 0, ZEBSuspendLogging(d)), OP(15, 0, ZEBResumeLogging(d)),
        OP(6, 0, QORB_GetZEBProperties(d, &g_props)), OP(4, 0xA5A5F00D, QORB_ZEBWritePatternToTB(d, 0xA5A5F00D)),
        OP(5, 1 << 20, ZEBGetTraceBuffer(d)) /* the size after the pattern */,
        OP(2, 0x1E00, SetConfigMaskTraceBuf(d, 0x20))};
#undef OP

class Zeb : public testing::Test {
protected:
    void* Record(uint8_t bus, uint8_t dev, uint8_t fn) { return FindDevice(bus, dev, fn, &m_found), Keep(m_found); }
    void* Keep(void* record) { return m_records.push_back(record), record; }
    void TearDown() override { std::for_each(m_records.begin(), m_records.end(), CloseDevice); }
    qorbtest::FakeDriver fake;
    qorbtest::SimPlatform m_platform{fake.path};
    std::vector<void*> m_records;
    void* m_found = nullptr;
};

TEST_F(Zeb, EveryOperationForwardsToTheCardOrRefusesWithoutCallingIt) {
    void *card = Record(8, 0, 0), *dut = Record(9, 0, 0);
    auto* odd = static_cast<QORB_DEVICE_t*>(Record(8, 0, 0));
    odd->isZeb = 2;
    fake.Set(FK_ZEB, FK_ANSWER, 0);
    fake.SetAnswer(FK_ZEB, 2);
    void* says2 = Record(7, 0, 0);
    for (const Op& op : kOps) {
        for (uint32_t mode : {FK_ANSWER, FK_FAIL, FK_MISSING, FK_FORWARD}) {
            SCOPED_TRACE(testing::Message() << "slot " << op.slot << " mode " << mode);
            fake.Reset();
            fake.Set(FK_ZEB + op.slot, mode, 0);
            fake.SetAnswer(FK_ZEB + op.slot, 0xC0DE0000 + op.slot);
            for (void* other : {dut, static_cast<void*>(odd), says2, static_cast<void*>(nullptr)})
                EXPECT_EQ(op.call(other), QORB_INVALID_PARAMETER);
            const uint32_t status[] = {QORB_SUCCESS, QORB_INVALID_PARAMETER, FK_CARD_FAILURE, 0xC0DE0000 + op.slot};
            EXPECT_EQ(uint32_t(op.call(card)), status[mode]);
            auto calls = fake.Calls(); /* the trace copy and the configuration read a value first */
            ASSERT_EQ(calls.size(), mode == FK_MISSING ? 0u : op.slot == 5 || op.slot == 2 ? 2u : 1u);
            if (calls.empty()) continue;
            const FakeCall& last = calls.back();
            EXPECT_EQ((std::vector<uint32_t>{last.entry, last.args[0], last.args[1], last.args[2], last.args[3]}),
                (std::vector<uint32_t>{FK_ZEB + op.slot, 8, 0, 0, op.value}));
            EXPECT_TRUE(op.slot != 11 || memcmp(last.data, &g_command, 16) == 0); /* the command, whole */
        }
    }
    EXPECT_EQ(std::tuple(g_mode, g_props.mode, g_props.traceBufferSize), std::tuple(2, 2, 1u << 20)); /* by the card */
    _ZEB_LIB_INTERFACE_t* bound = std::exchange(g_qorbDriver.zeb, nullptr); /* the card's table unbound */
    for (const Op& op : kOps) EXPECT_EQ(op.call(card), QORB_INVALID_PARAMETER) << op.slot;
    g_qorbDriver.zeb = bound;
}

TEST_F(Zeb, UpstreamCardIsTwoNewRecordsOfItsFunctions) {
    void* dut = Record(9, 0, 0);
    void *found[2] = {}, *host = Record(0, 0, 0);
    ASSERT_EQ(QORB_GetUpstreamZEB(dut, &found[0], &found[1]), QORB_SUCCESS);
    auto *a = static_cast<QORB_DEVICE_t*>(Keep(found[0])), *b = static_cast<QORB_DEVICE_t*>(Keep(found[1]));
    EXPECT_EQ(std::tuple(a->bus, a->isZeb, a->deviceId, b->bus, b->isZeb, b->deviceId, b->configShadow[0x40]),
        std::tuple(7, 1, 1, 8, 1, 2, PCI_CAP_ID_EXP)); /* the functions' own headers, 256 bytes each */
    /* Not below a card, the card failing or missing, no device: both outputs null. */
    for (auto [device, mode, status] :
        {std::tuple{host, FK_FORWARD, uint32_t(QORB_DEVICE_NOT_FOUND)}, {dut, FK_FAIL, FK_CARD_FAILURE},
            {dut, FK_MISSING, QORB_INVALID_PARAMETER}, {nullptr, FK_FORWARD, QORB_INVALID_PARAMETER}}) {
        fake.Reset();
        fake.Set(FK_ZEB + 16, mode, 0);
        found[0] = found[1] = &found;
        EXPECT_EQ(uint32_t(QORB_GetUpstreamZEB(device, &found[0], &found[1])), status);
        EXPECT_EQ(std::tuple(found[0], found[1]), std::tuple(nullptr, nullptr));
    }
    EXPECT_EQ(QORB_GetUpstreamZEB(dut, &found[0], nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(QORB_GetUpstreamZEB(dut, nullptr, &found[0]), QORB_INVALID_PARAMETER);
}

TEST_F(Zeb, PartnerIsTheFunctionBelowABridgeThatTheCardLibraryNames) {
    /* 00:02.0 leads to bus 6, whose 06:00.0 is a partner; below 00:01.0 is a switch; 06:00.0 is no bridge.
     * Faults: none, a multi-function bridge, a short read below, no partner check in the card library. */
    void *port = Record(0, 2, 0), *switchPort = Record(0, 1, 0), *endpoint = Record(6, 0, 0);
    const std::function<void()> faults[] = {[] {}, [&] { fake.Patch(PCI_HEADER_TYPE, 0x81, 28); },
        [&] { fake.Limit(0, 1, 64, 60); }, [&] { fake.Set(FK_VOK, FK_MISSING, 0); }};
    /* port, device, function, fault, found (1: 06:00.0, 0: null, -1: untouched), reads */
    const std::tuple<void*, uint32_t, uint32_t, int, int, uint32_t> rows[]
        = {{port, 0, 0, 0, 1, 2}, {switchPort, 0, 0, 0, 0, 2}, {endpoint, 0, 0, 0, -1, 1}, {port, 1, 0, 0, -1, 2},
            {port, 32, 0, 0, -1, 1}, {port, 0, 8, 0, -1, 1}, {nullptr, 0, 0, 0, -1, 0}, {port, 0, 0, 1, 1, 2},
            {port, 0, 0, 2, -1, 2}, {port, 0, 0, 3, 0, 2}};
    for (const auto& [at, dev, fn, fault, found, reads] : rows) {
        fake.Reset();
        faults[fault]();
        void* partner = &partner;
        EXPECT_EQ(QORB_GetDownstreamVOK(at, dev, fn, &partner), found == 1 ? QORB_SUCCESS : QORB_INVALID_PARAMETER);
        EXPECT_EQ(fake.Count(FK_READ), reads) << dev; /* the port's header, then the function below */
        auto* r = static_cast<QORB_DEVICE_t*>(found == 1 ? Keep(partner) : nullptr);
        EXPECT_EQ(partner, found == 1 ? static_cast<void*>(r) : found ? &partner : nullptr);
        EXPECT_TRUE(!r || (r->bus == 6 && r->deviceId == 0x1020 && !r->configShadow[QORB_PROBE_LENGTH])); /* probed */
    }
    EXPECT_EQ(QORB_GetDownstreamVOK(port, 0, 0, nullptr), QORB_INVALID_PARAMETER);
}

TEST_F(Zeb, TraceCopyHoldsWhatTheCardReadWithinItsSize) {
    void* card = Record(8, 0, 0);
    ASSERT_EQ(ArmZEB(card, 0), QORB_SUCCESS); /* the card records the armed event: 8 bytes */
    const uint8_t trace[12] = {0xF1, 4, 0, 0, 0, 0, 0, 0, 0xF1, 3, 0, 0};
    /* count the card reports, slot failing, status, bytes in the copy */
    const std::tuple<uint32_t, uint32_t, uint32_t, uint32_t> rows[] = {{0, 0, QORB_SUCCESS, 8},
        {200, 0, QORB_SUCCESS, 8}, {7, 0, QORB_SUCCESS, 7}, {0, 3, QORB_INVALID_PARAMETER, 7} /* the old copy stays */,
        {0, 5, FK_CARD_FAILURE, 8}, {0, 10, FK_CARD_FAILURE, 0}};
    for (auto [reported, slot, status, length] : rows) {
        fake.Reset();
        fake.SetTrace(trace, sizeof trace, reported);
        fake.Set(FK_ZEB + slot, slot ? FK_FAIL : FK_FORWARD, 0);
        EXPECT_EQ(uint32_t(slot == 10 ? ArmZEB(card, 0) : ZEBGetTraceBuffer(card)), status);
        uint32_t bytes = 0;
        EXPECT_EQ(GetBytesInZEBTB(card, &bytes), QORB_SUCCESS);
        EXPECT_EQ(bytes, length);
        EXPECT_TRUE(
            slot == 5 || !bytes || memcmp(static_cast<QORB_DEVICE_t*>(card)->traceCopy, trace, bytes) == 0); /* read */
    }
}

TEST_F(Zeb, TraceConfigurationFlagsActInTheirOrderOnTheirBitsAlone) {
    void* card = Record(7, 0, 0);
    ASSERT_EQ(SetConfigMaskTraceBuf(card, 0x06), QORB_SUCCESS); /* the card's word is 0 from here */
    /* Flags, the word written after reading 0 and after reading all ones; a failed read is followed by no write. */
    const std::tuple<uint32_t, uint32_t, uint32_t> rows[]
        = {{0x01, 0x200, ~0u}, {0x02, 0, ~0x200u}, {0x10, 0xC00, ~0u}, {0x04, 0, ~0xC00u}, {0x08, 0x400, ~0x800u},
            {0x20, 0x1000, ~0u}, {0x40, 0, ~0x1000u}, {0x00, 0, ~0u}, {0x80, 0, ~0u}, {0x1C, 0x400, ~0x800u},
            {0x14, 0, ~0xC00u}, {0x03, 0, ~0x200u}, {0x60, 0, ~0x1000u}, {0x7F, 0x400, ~0x1A00u}};
    for (auto [flags, fromZero, fromOnes] : rows) {
        for (auto [read, word] : {std::pair{FK_FORWARD, fromZero}, {FK_GARBAGE_FF, fromOnes}, {FK_FAIL, 1u}}) {
            fake.Reset();
            fake.Set(FK_ZEB + 1, read, 0);
            fake.Set(FK_ZEB + 2, FK_ANSWER, 0);
            EXPECT_EQ(uint32_t(SetConfigMaskTraceBuf(card, flags)), read == FK_FAIL ? FK_CARD_FAILURE : 0) << flags;
            EXPECT_EQ(fake.Count(FK_ZEB + 2) ? fake.Calls().back().args[3] : 1, word) << flags;
        }
    }
}

} // namespace
