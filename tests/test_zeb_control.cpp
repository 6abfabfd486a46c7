/* Test card control on the fake test card driver: the ZEB check, forwarding
 * to the card library, and the card and partner searches. */
#include <chrono>
#include <functional>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "zebfake_fixture.h"

namespace {

struct ControlOp {
    const char* name;
    uint32_t slot;                                /* card library slot it reaches */
    std::function<_QORB_STATUS_t(void*)> call;
    uint64_t argument;                            /* what the card should receive after the location */
};

_QORB_ZEB_OP_MODE_t g_mode;
_qorb_cmd_map_t g_command;
uint32_t g_count;
_qorb_zeb_query_prop_t g_props;

uint64_t Ptr(const void* p) { return reinterpret_cast<uint64_t>(p); }

std::vector<ControlOp> ControlOps()
{
    return {
        {"ArmZEB", 10, [](void* d) { return ArmZEB(d, 0x55); }, 0},
        {"DisarmZEB", 8, [](void* d) { return DisarmZEB(d); }, 0},
        {"ChangeZEBMode", 12, [](void* d) { return ChangeZEBMode(d, QORB_ZEB_MODE_INJECT); }, QORB_ZEB_MODE_INJECT},
        {"QueryZEBMode", 13, [](void* d) { return QueryZEBMode(d, &g_mode); }, Ptr(&g_mode)},
        {"ProgramZEBCmd", 11, [](void* d) { return ProgramZEBCmd(d, &g_command); }, Ptr(&g_command)},
        {"QORB_ZEB_GetActionCount", 9, [](void* d) { return QORB_ZEB_GetActionCount(d, &g_count); }, Ptr(&g_count)},
        {"ZEBSuspendLogging", 14, [](void* d) { return ZEBSuspendLogging(d); }, 0},
        {"ZEBResumeLogging", 15, [](void* d) { return ZEBResumeLogging(d); }, 0},
        {"QORB_GetZEBProperties", 6, [](void* d) { return QORB_GetZEBProperties(d, &g_props); }, Ptr(&g_props)},
    };
}

using ZebControl = ZebFakeTest;

TEST_F(ZebControl, EachOperationForwardsLocationAndArgumentAndReturnsTheCardStatus)
{
    AddFunction(7, 12, 5, 1);
    QORB_DEVICE_t* card = Record(7, 12, 5);
    ASSERT_EQ(card->isZeb, 1);
    for (const ControlOp& op : ControlOps()) {
        SCOPED_TRACE(op.name);
        fake->callCount = 0;
        fake->slotResult[op.slot] = 0xC0DE0000u + op.slot;
        EXPECT_EQ(static_cast<uint32_t>(op.call(card)), 0xC0DE0000u + op.slot);
        auto calls = CardCalls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(std::tuple(calls[0].slot, calls[0].bus, calls[0].dev, calls[0].fn, calls[0].argument),
                  std::tuple(op.slot, 7u, 12u, 5u, op.argument));
    }
}

TEST_F(ZebControl, CardAnswersReachTheCaller)
{
    QORB_DEVICE_t* card = Card();
    fake->mode = QORB_ZEB_MODE_MONITOR;
    fake->actionCount = 17;
    fake->properties.traceBufferSize = 4096;
    _QORB_ZEB_OP_MODE_t mode = QORB_ZEB_MODE_PASSTHROUGH;
    uint32_t count = 0;
    _qorb_zeb_query_prop_t props{};
    EXPECT_EQ(QueryZEBMode(card, &mode), QORB_SUCCESS);
    EXPECT_EQ(mode, QORB_ZEB_MODE_MONITOR);
    EXPECT_EQ(QORB_ZEB_GetActionCount(card, &count), QORB_SUCCESS);
    EXPECT_EQ(count, 17u);
    EXPECT_EQ(QORB_GetZEBProperties(card, &props), QORB_SUCCESS);
    EXPECT_EQ(props.traceBufferSize, 4096u);
    _qorb_cmd_map_t command{QORB_ZEB_CMD_BAD_TLP, 3, 1, 1, 0x40, 0, 0};
    EXPECT_EQ(ProgramZEBCmd(card, &command), QORB_SUCCESS);
    EXPECT_EQ(fake->lastCommand.command, static_cast<uint32_t>(QORB_ZEB_CMD_BAD_TLP));
    EXPECT_EQ(fake->lastCommand.tlpType, 0x40);
}

TEST_F(ZebControl, RecordWhoseIsZebAnsweredTwoIsRefusedByEveryOperation)
{
    AddFunction(4, 0, 0, 2);
    QORB_DEVICE_t* notCard = Record(4, 0, 0);
    EXPECT_EQ(notCard->isZeb, 0);
    for (const ControlOp& op : ControlOps()) {
        SCOPED_TRACE(op.name);
        EXPECT_EQ(op.call(notCard), QORB_INVALID_PARAMETER);
        EXPECT_EQ(op.call(nullptr), QORB_INVALID_PARAMETER);
    }
    EXPECT_TRUE(CardCalls().empty());
}

TEST_F(ZebControl, MissingSlotOrUnboundTableIsRefusedWithoutCalling)
{
    QORB_DEVICE_t* card = Card();
    fake->zeb.ChangeMode = nullptr;
    EXPECT_EQ(ChangeZEBMode(card, QORB_ZEB_MODE_MONITOR), QORB_INVALID_PARAMETER);

    _ZEB_LIB_INTERFACE_t* bound = g_qorbDriver.zeb;
    g_qorbDriver.zeb = nullptr;
    for (const ControlOp& op : ControlOps()) {
        SCOPED_TRACE(op.name);
        EXPECT_EQ(op.call(card), QORB_INVALID_PARAMETER);
    }
    void* first = &first;
    void* second = &second;
    EXPECT_EQ(QORB_GetUpstreamZEB(card, &first, &second), QORB_INVALID_PARAMETER);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(second, nullptr);
    g_qorbDriver.zeb = bound;
    EXPECT_TRUE(CardCalls().empty());
}

TEST_F(ZebControl, ArmDiscardsTheTraceCopyWhateverTheCardAnswers)
{
    QORB_DEVICE_t* card = Card();
    for (uint32_t answer : {0u, 0x80000006u}) {
        card->traceCopy = static_cast<uint8_t*>(malloc(32));
        card->traceCopyLength = 32;
        fake->slotResult[10] = answer;
        EXPECT_EQ(static_cast<uint32_t>(ArmZEB(card, 0)), answer);
        EXPECT_EQ(card->traceCopy, nullptr);
        EXPECT_EQ(card->traceCopyLength, 0u);
        uint32_t bytes = 99;
        EXPECT_EQ(GetBytesInZEBTB(card, &bytes), QORB_SUCCESS);
        EXPECT_EQ(bytes, 0u);
    }
}

TEST_F(ZebControl, ArmOnDeviceThatIsNotACardKeepsItsTraceCopy)
{
    AddFunction(4, 0, 0, 0);
    QORB_DEVICE_t* notCard = Record(4, 0, 0);
    notCard->traceCopy = static_cast<uint8_t*>(malloc(16));
    notCard->traceCopyLength = 16;
    EXPECT_EQ(ArmZEB(notCard, 0), QORB_INVALID_PARAMETER);
    EXPECT_NE(notCard->traceCopy, nullptr);
    EXPECT_EQ(notCard->traceCopyLength, 16u);
}

uint64_t MonotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

/* The 10 ms settle time is part of the operation's behaviour, not a speed:
 * the card must not be told to disarm before it has passed. */
TEST_F(ZebControl, DisarmSettlesTenMillisecondsBeforeTheCheckAndTheCall)
{
    QORB_DEVICE_t* card = Card();
    uint64_t start = MonotonicNs();
    EXPECT_EQ(DisarmZEB(card), QORB_SUCCESS);
    auto calls = CardCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].slot, 8u);
    EXPECT_GE(calls[0].whenNs - start, 10'000'000u);

    AddFunction(4, 0, 0, 0);
    QORB_DEVICE_t* notCard = Record(4, 0, 0);
    start = MonotonicNs();
    EXPECT_EQ(DisarmZEB(notCard), QORB_INVALID_PARAMETER);
    EXPECT_GE(MonotonicNs() - start, 10'000'000u);
    EXPECT_EQ(CardCalls().size(), 1u);
}

/* ------------------------------------------------ card above a device */

TEST_F(ZebControl, UpstreamCardGivesTwoNewRecordsFromTheLowLocationBits)
{
    AddFunction(2, 0, 0, 0);                           /* the device asking */
    AddFunction(1, 3, 0, 1).config[PCI_HEADER_TYPE] = 0x81;
    AddFunction(1, 3, 1, 0).config[2] = 0x77;
    const uint32_t upstream[2][3] = {{1, 3, 0}, {1, 3, 1}};
    memcpy(fake->upstream, upstream, sizeof upstream);
    QORB_DEVICE_t* device = Record(2, 0, 0);
    ASSERT_EQ(device->isZeb, 0);   /* no ZEB check: any device may ask */

    void* first = nullptr;
    void* second = nullptr;
    ASSERT_EQ(QORB_GetUpstreamZEB(device, &first, &second), QORB_SUCCESS);
    Keep(first);
    Keep(second);
    auto* a = static_cast<QORB_DEVICE_t*>(first);
    auto* b = static_cast<QORB_DEVICE_t*>(second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, device);
    EXPECT_EQ(std::tuple(a->bus, a->device, a->function, a->isZeb, a->configShadow[PCI_HEADER_TYPE]),
              std::tuple(1, 3, 0, 1, 0x81));
    EXPECT_EQ(a->owner, nullptr);
    EXPECT_EQ(std::tuple(b->function, b->isZeb, b->deviceId), std::tuple(1, 0, 0x1077));
    auto calls = CardCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].slot, 16u);
    EXPECT_EQ(calls[0].bus, 2u);
}

TEST_F(ZebControl, UpstreamCardFailureLeavesBothOutputsNull)
{
    QORB_DEVICE_t* card = Card();
    fake->slotResult[16] = 0x80000016u;
    void* first = &first;
    void* second = &second;
    EXPECT_EQ(static_cast<uint32_t>(QORB_GetUpstreamZEB(card, &first, &second)), 0x80000016u);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(second, nullptr);
}

/* ------------------------------------------------ partner below a port */

class ZebPartner : public ZebFakeTest {
protected:
    /* A port at 0:1.0 with secondary bus 5, and a function at 5:0.0. */
    QORB_DEVICE_t* Port(uint8_t headerType)
    {
        ZebFakeFunction& port = AddFunction(0, 1, 0);
        port.config[PCI_HEADER_TYPE] = headerType;
        port.config[PCI_SECONDARY_BUS] = 5;
        return Record(0, 1, 0);
    }
};

TEST_F(ZebPartner, EndpointPortIsRefusedWithoutReadingBelowIt)
{
    QORB_DEVICE_t* port = Port(0x00);
    AddFunction(5, 0, 0, 0, 1);
    uint32_t readsBefore = fake->configReads;
    void* partner = &partner;
    EXPECT_EQ(QORB_GetDownstreamVOK(port, 0, 0, &partner), QORB_INVALID_PARAMETER);
    EXPECT_EQ(partner, &partner);
    EXPECT_EQ(fake->configReads, readsBefore + 1);   /* the port's own header only */
}

TEST_F(ZebPartner, MultiFunctionBridgeFindsThePartnerOnItsSecondaryBus)
{
    QORB_DEVICE_t* port = Port(0x81);
    AddFunction(5, 2, 1, 0, 1).config[PCI_HEADER_TYPE] = 0x00;
    void* partner = nullptr;
    ASSERT_EQ(QORB_GetDownstreamVOK(port, 2, 1, &partner), QORB_SUCCESS);
    Keep(partner);
    auto* record = static_cast<QORB_DEVICE_t*>(partner);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::tuple(record->bus, record->device, record->function, record->vendorId, record->deviceId),
              std::tuple(5, 2, 1, 0x8086, 0x1005));
    /* Only the first 64 bytes are read into the shadow. */
    EXPECT_EQ(record->configShadow[64], 0);
}

TEST_F(ZebPartner, FunctionThatIsNotAPartnerGivesNull)
{
    QORB_DEVICE_t* port = Port(0x01);
    AddFunction(5, 0, 0, 0, 0);
    void* partner = &partner;
    EXPECT_EQ(QORB_GetDownstreamVOK(port, 0, 0, &partner), QORB_INVALID_PARAMETER);
    EXPECT_EQ(partner, nullptr);
}

TEST_F(ZebPartner, ShortReadBelowThePortLeavesTheResultUntouched)
{
    QORB_DEVICE_t* port = Port(0x01);
    AddFunction(5, 0, 0, 0, 1).readCount = 60;
    void* partner = &partner;
    EXPECT_EQ(QORB_GetDownstreamVOK(port, 0, 0, &partner), QORB_INVALID_PARAMETER);
    EXPECT_EQ(partner, &partner);
    /* Nothing there at all. */
    EXPECT_EQ(QORB_GetDownstreamVOK(port, 9, 0, &partner), QORB_INVALID_PARAMETER);
    EXPECT_EQ(partner, &partner);
}

TEST_F(ZebPartner, NoPartnerTableMeansNoPartner)
{
    QORB_DEVICE_t* port = Port(0x01);
    AddFunction(5, 0, 0, 0, 1);
    _VOK_LIB_INTERFACE_t* bound = g_qorbDriver.vok;
    g_qorbDriver.vok = nullptr;
    void* partner = &partner;
    EXPECT_EQ(QORB_GetDownstreamVOK(port, 0, 0, &partner), QORB_INVALID_PARAMETER);
    EXPECT_EQ(partner, nullptr);
    g_qorbDriver.vok = bound;
}

TEST_F(ZebPartner, LocationsOutOfRangeAreRefused)
{
    QORB_DEVICE_t* port = Port(0x01);
    void* partner = &partner;
    EXPECT_EQ(QORB_GetDownstreamVOK(port, 32, 0, &partner), QORB_INVALID_PARAMETER);
    EXPECT_EQ(QORB_GetDownstreamVOK(port, 0, 8, &partner), QORB_INVALID_PARAMETER);
    EXPECT_EQ(QORB_GetDownstreamVOK(nullptr, 0, 0, &partner), QORB_INVALID_PARAMETER);
    EXPECT_EQ(partner, &partner);
}

} // namespace
