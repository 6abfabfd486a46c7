/* The simulated ZEB test card and partner device, through the library's
 * test card operations on the built-in platform: the card above the DUT
 * 09:00.0 records the configuration traffic of its link, the DLLPs of the
 * data link layer, link training, and the errors it is told to inject. */
#include <gtest/gtest.h>

#include <linux/pci_regs.h>

#include "sim_record.h"

using namespace qorbtest;

namespace {

struct Entry {
    uint8_t kind;        /* bits 2:0 of the entry's second byte */
    bool upstream;       /* bit 3: a DLLP's direction */
    uint32_t stamp;
    std::vector<uint8_t> payload;
};

/* The built-in platform, the DUT 09:00.0 and the two card functions above
 * it, found with QORB_GetUpstreamZEB. */
struct CardRig : BuiltinSim {
    Record dut{0x09, 0x00, 0};
    void* card = nullptr;    /* 07:00.0 */
    void* card2 = nullptr;   /* 08:00.0 */
    explicit CardRig(const std::string& ini = "") : BuiltinSim(ini)
    {
        EXPECT_EQ(QORB_GetUpstreamZEB(dut.Handle(), &card, &card2), QORB_SUCCESS);
    }
    ~CardRig()
    {
        CloseDevice(card);
        CloseDevice(card2);
    }
    /* A fresh trace copy, entry by entry. */
    std::vector<Entry> Trace() const
    {
        EXPECT_EQ(ZEBGetTraceBuffer(card), QORB_SUCCESS);
        uint32_t length = 0;
        EXPECT_EQ(GetBytesInZEBTB(card, &length), QORB_SUCCESS);
        std::vector<uint8_t> bytes(length);
        EXPECT_EQ(GetTBContents(card, bytes.data(), &length), QORB_SUCCESS);
        std::vector<Entry> out;
        size_t at = 0;
        while (at + 8 <= bytes.size()) {
            EXPECT_EQ(bytes[at], 0xF1) << "entry at " << at;
            Entry e{static_cast<uint8_t>(bytes[at + 1] & 7), (bytes[at + 1] & 8) != 0,
                    static_cast<uint32_t>(bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 | bytes[at + 7] << 24),
                    {}};
            size_t payload = e.kind <= 2 ? 4u * (bytes[at + 2] | bytes[at + 3] << 8) : e.kind == 3 ? 8 : 0;
            EXPECT_LE(at + 8 + payload, bytes.size());
            e.payload.assign(bytes.begin() + static_cast<long>(at + 8), bytes.begin() + static_cast<long>(at + 8 + payload));
            out.push_back(e);
            at += 8 + payload;
        }
        EXPECT_EQ(at, bytes.size()) << "the trace ends on an entry boundary";
        return out;
    }
    /* The TLP entries (kinds 0-2), in order. */
    std::vector<Entry> Tlps() const
    {
        std::vector<Entry> out;
        for (const Entry& e : Trace())
            if (e.kind <= 2)
                out.push_back(e);
        return out;
    }
    /* DLLPs of a type in a fresh trace copy. */
    size_t DllpCount(uint8_t type) const
    {
        EXPECT_EQ(ZEBGetTraceBuffer(card), QORB_SUCCESS);
        uint8_t pattern[6] = {type};
        uint32_t count = 0;
        EXPECT_EQ(GetNumDLLPMatches(card, pattern, 0, &count), QORB_SUCCESS);
        return count;
    }
    uint32_t Actions() const
    {
        uint32_t count = 0xFFFF;
        EXPECT_EQ(QORB_ZEB_GetActionCount(card, &count), QORB_SUCCESS);
        return count;
    }
    void Program(uint32_t command, uint32_t count = 1, uint32_t interval = 0, uint32_t kind = 0, uint8_t tlpType = 0,
                 uint8_t dllpType = 0) const
    {
        _qorb_cmd_map_t cmd{command, count, interval, kind, tlpType, dllpType, 0};
        EXPECT_EQ(ProgramZEBCmd(card, &cmd), QORB_SUCCESS);
    }
};

uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

constexpr uint32_t kAer = 0x100;
constexpr uint32_t kDutExpress = 0x70;

/* The card on the built-in platform with the default settings. */
class SimCard : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(rig.OpenStatus(), QORB_SUCCESS) << rig.Errors();
        ASSERT_NE(rig.card, nullptr);
    }
    CardRig rig;
};

} // namespace

TEST_F(SimCard, TheCardIsTheTwoFunctionsAboveTheDut)
{
    auto identity = [](void* handle) {
        auto* d = static_cast<QORB_DEVICE_t*>(handle);
        return std::tuple<int, int, int, int, int>(d->bus, d->device, d->function, d->vendorId, d->deviceId);
    };
    EXPECT_EQ(identity(rig.card), std::tuple(7, 0, 0, 0x5A45, 0x0001));
    EXPECT_EQ(identity(rig.card2), std::tuple(8, 0, 0, 0x5A45, 0x0002));
    EXPECT_EQ(static_cast<QORB_DEVICE_t*>(rig.card)->isZeb, 1);
    EXPECT_EQ(static_cast<QORB_DEVICE_t*>(rig.card2)->isZeb, 1);
    for (auto [b, d, f] : {std::tuple{0, 3, 0}, {9, 0, 0}, {6, 0, 0}, {7, 0, 1}}) {
        QORB_DEVICE_t* other = CreateDeviceRecord(nullptr, b, d, f);
        EXPECT_EQ(other->isZeb, 0) << b << ":" << d << "." << f;
        CloseDevice(other);
    }
    /* Nothing above 06:00.0 or the card itself is a card. */
    for (auto [b, d] : {std::pair{6, 0}, {8, 0}}) {
        Record r(b, d, 0);
        void* c1 = &rig;
        void* c2 = &rig;
        EXPECT_EQ(QORB_GetUpstreamZEB(r.Handle(), &c1, &c2), QORB_DEVICE_NOT_FOUND);
        EXPECT_EQ(c1, nullptr);
        EXPECT_EQ(c2, nullptr);
    }
}

TEST_F(SimCard, ArmedCardRecordsConfigurationRequestsAndCompletionsWithTheirHeaders)
{
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    EXPECT_EQ(rig.dut.Read16(0x02), 0x1050);            /* one request, bytes 2-3 */
    rig.dut.Write16(PCI_COMMAND, 0x0006);               /* one write, bytes 0-1 */
    EXPECT_FALSE(Record(0x09, 0x01, 0).Present());      /* absent: Unsupported Request */
    EXPECT_TRUE(Record(0x06, 0x00, 0).Present());       /* not below the card */
    ASSERT_EQ(DisarmZEB(rig.card), QORB_SUCCESS);
    EXPECT_EQ(rig.dut.Read16(0x00), 0x5153) << "a disarmed card records nothing";

    std::vector<Entry> trace = rig.Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front().kind, 4) << "arming is the first entry";
    std::vector<Entry> tlps = rig.Tlps();
    ASSERT_EQ(tlps.size(), 6u);
    /* CfgRd0 to 09:00.0, register 0, First DW BE 1100b, from the root complex. */
    EXPECT_EQ(tlps[0].kind, 0);
    EXPECT_EQ(tlps[0].payload, (std::vector<uint8_t>{0x04, 0x00, 0x00, 0x01, 0x00, 0x00, tlps[0].payload[6], 0x0C,
                                                      0x09, 0x00, 0x00, 0x00}));
    /* CplD from 09:00.0, successful, byte count 4, the register's value. */
    EXPECT_EQ(tlps[1].kind, 1);
    ASSERT_EQ(tlps[1].payload.size(), 16u);
    EXPECT_EQ(tlps[1].payload[0], 0x4A);
    EXPECT_EQ(tlps[1].payload[3], 0x01);
    EXPECT_EQ(tlps[1].payload[4] << 8 | tlps[1].payload[5], 0x0900);
    EXPECT_EQ(tlps[1].payload[6] >> 5, 0) << "completion status";
    EXPECT_EQ(tlps[1].payload[10], tlps[0].payload[6]) << "the completion carries the request's tag";
    EXPECT_EQ(Le32(tlps[1].payload, 12), 0x10505153u);
    /* CfgWr0 with the data in lanes 0-1 and First DW BE 0011b; Cpl. */
    EXPECT_EQ(tlps[2].payload[0], 0x44);
    EXPECT_EQ(tlps[2].payload[7], 0x03);
    EXPECT_EQ(tlps[2].payload[11], 0x04);
    EXPECT_EQ(tlps[2].payload[12], 0x06);
    EXPECT_EQ(tlps[3].payload[0], 0x0A);
    EXPECT_EQ(tlps[3].payload[6] >> 5, 0);
    /* The absent function: a request to 09:01.0 answered Unsupported Request. */
    EXPECT_EQ(tlps[4].payload[9], 0x01 << 3);
    EXPECT_EQ(tlps[5].payload[0], 0x0A);
    EXPECT_EQ(tlps[5].payload[6] >> 5, 1);
    /* Each TLP is acknowledged; each request returns its credit. */
    EXPECT_EQ(rig.DllpCount(0x00), 6u);
    EXPECT_EQ(rig.DllpCount(0x90), 3u);
    /* The library's search agrees with the walk. */
    uint8_t cfgRd[4] = {0x04, 0, 0, 0x01};
    uint32_t count = 0;
    EXPECT_EQ(GetNumTLPMatches(rig.card, cfgRd, QORB_TLP_MATCH_STRICT | QORB_TLP_MATCH_FMT | QORB_TLP_MATCH_TYPE, &count),
              QORB_SUCCESS);
    EXPECT_EQ(count, 2u);
}

TEST_F(SimCard, LongerReadsAreOneRequestPerDoubleword)
{
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    uint8_t buffer[9];
    uint32_t len = sizeof buffer;
    ASSERT_EQ(ReadConfigSpace(rig.dut.Handle(), buffer, 0x0A, &len), QORB_SUCCESS);   /* 0x0a-0x12 */
    std::vector<Entry> tlps = rig.Tlps();
    ASSERT_EQ(tlps.size(), 6u);
    const uint8_t registers[] = {0x08, 0x0C, 0x10};
    const uint8_t enables[] = {0x0C, 0x0F, 0x07};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tlps[2 * i].payload[11], registers[i]);
        EXPECT_EQ(tlps[2 * i].payload[7], enables[i]);
    }
}

TEST_F(SimCard, SuspendedOrPassThroughCardsRecordNothingButTheirEvents)
{
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    ASSERT_EQ(ZEBSuspendLogging(rig.card), QORB_SUCCESS);
    rig.dut.Read32(0);
    ASSERT_EQ(ZEBResumeLogging(rig.card2), QORB_SUCCESS) << "either function names the card";
    rig.dut.Read32(0);
    std::vector<Entry> trace = rig.Trace();
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(trace[0].kind, 4);
    EXPECT_EQ(trace[1].kind, 5);
    EXPECT_EQ(trace[2].kind, 6);
    EXPECT_EQ(rig.Tlps().size(), 2u);

    _QORB_ZEB_OP_MODE_t mode = QORB_ZEB_MODE_INJECT;
    EXPECT_EQ(QueryZEBMode(rig.card, &mode), QORB_SUCCESS);
    EXPECT_EQ(mode, QORB_ZEB_MODE_MONITOR) << "the card starts in monitor mode";
    ASSERT_EQ(ChangeZEBMode(rig.card, QORB_ZEB_MODE_PASSTHROUGH), QORB_SUCCESS);
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    rig.dut.Read32(0);
    EXPECT_TRUE(rig.Tlps().empty());
    EXPECT_EQ(ChangeZEBMode(rig.card, static_cast<_QORB_ZEB_OP_MODE_t>(7)), QORB_INVALID_PARAMETER);
}

TEST(SimCardSettings, TrainingTheMonitoredLinkSendsInitFcOnBothSides)
{
    CardRig rig("[link]\ntraining_ms = 0\n");
    ASSERT_EQ(rig.OpenStatus(), QORB_SUCCESS) << rig.Errors();
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    Record port(0x08, 0x00, 0);   /* the card's downstream function acts on the DUT's link */
    port.Write16(0x40 + PCI_EXP_LNKCTL, PCI_EXP_LNKCTL_CCC | PCI_EXP_LNKCTL_RL);
    for (uint8_t type : {0x40, 0x50, 0x60, 0xC0, 0xD0, 0xE0})
        EXPECT_EQ(rig.DllpCount(type), 2u) << std::hex << int(type);
    size_t up = 0;
    for (const Entry& e : rig.Trace())
        up += e.kind == 3 && e.upstream;
    EXPECT_EQ(up, 6u);
    /* A retrain of another link is not the card's. */
    Record(0x00, 0x02, 0).Write16(0x40 + PCI_EXP_LNKCTL, PCI_EXP_LNKCTL_CCC | PCI_EXP_LNKCTL_RL);
    EXPECT_EQ(rig.DllpCount(0x40), 2u);
    /* While the monitored link is disabled nothing crosses it. */
    port.Write16(0x40 + PCI_EXP_LNKCTL, PCI_EXP_LNKCTL_CCC | PCI_EXP_LNKCTL_LD);
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    EXPECT_FALSE(rig.dut.Present());
    EXPECT_TRUE(rig.Tlps().empty());
}

TEST(SimCardSettings, EachInjectedErrorSetsItsStatusBitInTheDutAndIsCounted)
{
    struct {
        uint32_t command;
        bool uncorrectable;
        uint32_t bit;
    } cases[] = {
        {QORB_ZEB_CMD_BAD_TLP, false, PCI_ERR_COR_BAD_TLP},
        {QORB_ZEB_CMD_BAD_DLLP, false, PCI_ERR_COR_BAD_DLLP},
        {QORB_ZEB_CMD_REPLAY_TIMER_TIMEOUT, false, PCI_ERR_COR_REP_TIMER},
        {QORB_ZEB_CMD_REPLAY_NUM_ROLLOVER, false, PCI_ERR_COR_REP_ROLL},
        {QORB_ZEB_CMD_RECEIVER_ERROR, false, PCI_ERR_COR_RCVR},
        {QORB_ZEB_CMD_UNSUPPORTED_REQUEST, true, PCI_ERR_UNC_UNSUP},
        {QORB_ZEB_CMD_COMPLETION_TIMEOUT, true, PCI_ERR_UNC_COMP_TIME},
        {QORB_ZEB_CMD_DL_PROTOCOL_ERROR, true, PCI_ERR_UNC_DLP},
        {QORB_ZEB_CMD_FC_PROTOCOL_ERROR, true, PCI_ERR_UNC_FCP},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        CardRig rig;
        ASSERT_EQ(rig.OpenStatus(), QORB_SUCCESS) << rig.Errors();
        ASSERT_EQ(ChangeZEBMode(rig.card, QORB_ZEB_MODE_INJECT), QORB_SUCCESS);
        rig.Program(c.command);
        ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
        EXPECT_EQ(rig.dut.Read32(0), 0x10505153u) << "the access is still answered";
        rig.dut.Read32(0);
        EXPECT_EQ(rig.Actions(), 1u);
        uint32_t status = rig.dut.Read32(kAer + (c.uncorrectable ? PCI_ERR_UNCOR_STATUS : PCI_ERR_COR_STATUS));
        EXPECT_EQ(status, c.bit);
        uint16_t devsta = rig.dut.Read16(kDutExpress + PCI_EXP_DEVSTA);
        EXPECT_EQ(devsta & PCI_EXP_DEVSTA_CED, c.uncorrectable ? 0 : PCI_EXP_DEVSTA_CED);
        EXPECT_EQ((devsta & (PCI_EXP_DEVSTA_NFED | PCI_EXP_DEVSTA_FED)) != 0, c.uncorrectable);
        /* Cleared like any other status: the card does not set it again. */
        rig.dut.Write32(kAer + (c.uncorrectable ? PCI_ERR_UNCOR_STATUS : PCI_ERR_COR_STATUS), c.bit);
        rig.dut.Read32(0);
        EXPECT_EQ(rig.dut.Read32(kAer + (c.uncorrectable ? PCI_ERR_UNCOR_STATUS : PCI_ERR_COR_STATUS)), 0u);
        EXPECT_EQ(rig.Actions(), 1u);
    }
}

TEST_F(SimCard, InjectedErrorsLeaveTheirMarksInTheTrace)
{
    ASSERT_EQ(ChangeZEBMode(rig.card, QORB_ZEB_MODE_INJECT), QORB_SUCCESS);
    /* Bad TLP on the first CplD: a Nak, and the completion replayed by the card. */
    rig.Program(QORB_ZEB_CMD_BAD_TLP, 1, 0, 1, 0x4A);
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    rig.dut.Read32(0);
    std::vector<Entry> tlps = rig.Tlps();
    ASSERT_EQ(tlps.size(), 3u);
    EXPECT_EQ(tlps[1].payload[0], 0x4A);
    EXPECT_EQ(tlps[2].kind, 2);
    EXPECT_EQ(tlps[2].payload, tlps[1].payload);
    EXPECT_EQ(rig.DllpCount(0x10), 1u);

    /* Replay number rollover: four replays. */
    rig.Program(QORB_ZEB_CMD_REPLAY_NUM_ROLLOVER);
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    rig.dut.Read32(0);
    size_t replays = 0;
    for (const Entry& e : rig.Tlps())
        replays += e.kind == 2;
    EXPECT_EQ(replays, 4u);

    /* Completion timeout: the completion is swallowed. */
    rig.Program(QORB_ZEB_CMD_COMPLETION_TIMEOUT);
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    rig.dut.Read32(0);
    ASSERT_EQ(rig.Tlps().size(), 1u);
    EXPECT_EQ(rig.Tlps()[0].payload[0], 0x04);

    /* Bad DLLP on an UpdateFC: its CRC differs from a good one's. */
    rig.Program(QORB_ZEB_CMD_BAD_DLLP, 1, 0, 2, 0, 0x90);
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    rig.dut.Read32(0);
    rig.dut.Read32(0);
    std::vector<std::vector<uint8_t>> updates;
    for (const Entry& e : rig.Trace())
        if (e.kind == 3 && e.payload[1] == 0x90)
            updates.push_back(e.payload);
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(updates[0].begin(), updates[0].begin() + 5),
              std::vector<uint8_t>(updates[1].begin(), updates[1].begin() + 5));
    EXPECT_NE(updates[0], updates[1]);
}

TEST_F(SimCard, CountIntervalAndModeDecideHowOftenACommandActs)
{
    /* Monitor mode carries nothing out. */
    rig.Program(QORB_ZEB_CMD_BAD_TLP, 5);
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    rig.dut.Read32(0);
    EXPECT_EQ(rig.Actions(), 0u);

    ASSERT_EQ(ChangeZEBMode(rig.card, QORB_ZEB_MODE_INJECT), QORB_SUCCESS);
    /* Every second CfgRd0, twice: reads 2 and 4 of 6. */
    rig.Program(QORB_ZEB_CMD_BAD_TLP, 2, 2, 1, 0x04);
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    for (int i = 0; i < 6; ++i)
        rig.dut.Read32(0);
    EXPECT_EQ(rig.Actions(), 2u);
    std::vector<Entry> tlps = rig.Tlps();
    ASSERT_EQ(tlps.size(), 14u);
    EXPECT_EQ(tlps[2].kind, 0);
    EXPECT_EQ(tlps[3].kind, 2) << "the second read is replayed";
    EXPECT_EQ(tlps[8].kind, 2) << "and the fourth";
    /* Arming starts the count again; a new program replaces the old. */
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    EXPECT_EQ(rig.Actions(), 0u);
    rig.Program(QORB_ZEB_CMD_NONE);
    rig.dut.Read32(0);
    EXPECT_EQ(rig.Actions(), 0u);
    _qorb_cmd_map_t bad{42, 1, 0, 0, 0, 0, 0};
    EXPECT_EQ(ProgramZEBCmd(rig.card, &bad), QORB_INVALID_PARAMETER);
}

TEST_F(SimCard, TraceConfigurationSelectsWhatIsRecorded)
{
    /* Headers only, no DLLPs, time stamps. */
    ASSERT_EQ(SetConfigMaskTraceBuf(rig.card, 0x08 | 0x02 | 0x20), QORB_SUCCESS);
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    rig.dut.Read32(0);
    rig.dut.Read32(0);
    std::vector<Entry> trace = rig.Trace();
    ASSERT_EQ(trace.size(), 5u);
    uint32_t last = 0;
    for (const Entry& e : trace) {
        EXPECT_NE(e.kind, 3);
        if (e.kind <= 2) {
            EXPECT_EQ(e.payload.size(), 12u);
        }
        EXPECT_GE(e.stamp, last);
        last = e.stamp;
    }
    /* No TLPs. */
    ASSERT_EQ(SetConfigMaskTraceBuf(rig.card, 0x04 | 0x01), QORB_SUCCESS);
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    rig.dut.Read32(0);
    EXPECT_TRUE(rig.Tlps().empty());
    EXPECT_EQ(rig.DllpCount(0x00), 2u);
}

TEST_F(SimCard, PropertiesPatternAndPartner)
{
    _qorb_zeb_query_prop_t p{};
    ASSERT_EQ(ArmZEB(rig.card, 0), QORB_SUCCESS);
    ASSERT_EQ(QORB_GetZEBProperties(rig.card, &p), QORB_SUCCESS);
    EXPECT_EQ(p.linkWidth, 8u);
    EXPECT_EQ(p.linkSpeed, 3u);
    EXPECT_EQ(p.armed, 1u);
    EXPECT_EQ(p.mode, QORB_ZEB_MODE_MONITOR);
    EXPECT_EQ(p.bytesRecorded, 8u) << "the armed event";
    EXPECT_EQ(p.traceBufferSize, 1u << 20);

    ASSERT_EQ(QORB_ZEBWritePatternToTB(rig.card, 0xA5A5A5A5), QORB_SUCCESS);
    ASSERT_EQ(ZEBGetTraceBuffer(rig.card), QORB_SUCCESS);
    uint32_t bytes = 0;
    GetBytesInZEBTB(rig.card, &bytes);
    EXPECT_EQ(bytes, 1u << 20);
    uint8_t head[4] = {};
    uint32_t len = 4;
    GetTBContents(rig.card, head, &len);
    EXPECT_EQ(head[0], 0xA5);

    /* The partner device below root port 00:02.0 is 06:00.0. */
    Record port(0x00, 0x02, 0);
    void* partner = nullptr;
    ASSERT_EQ(QORB_GetDownstreamVOK(port.Handle(), 0, 0, &partner), QORB_SUCCESS);
    CloseDevice(partner);
    Record other(0x00, 0x03, 0);
    partner = nullptr;
    EXPECT_EQ(QORB_GetDownstreamVOK(other.Handle(), 0, 0, &partner), QORB_INVALID_PARAMETER);
    EXPECT_EQ(partner, nullptr);
}
