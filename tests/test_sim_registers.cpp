/* The simulated driver's register model and entry table: absent locations,
 * read-only identity and structure bytes, writable registers, the extra
 * entries (ReadConfigEx, QueryMcfgTable) and reopening from scratch. */
#include <gtest/gtest.h>

#include <tuple>

#include "qorb_test_support.h"
#include "sim_driver_client.h"

using namespace qorbtest;

namespace {

/* 01:00.0: an endpoint with PM at 0x40, PCI Express at 0x50 and AER at
 * 0x100 followed by a Device Serial Number at 0x140. */
ConfigSpace Endpoint()
{
    ConfigSpace s;
    s.Header(0x1AF4, 0x1041, 0x02, 0x00, 0x00, 0x00).CapPointer(0x40);
    s.LegacyCap(0x40, 0x01, 0x50).PcieCap(0x50, QORB_PCIE_ENDPOINT, 0x00);
    s.ExtCap(0x100, 0x0001, 0x140).ExtCap(0x140, 0x0003, 0x000);
    s.Set32(0x10, 0xF0000000);
    return s;
}

struct Sim : ScratchDir {
    SimDriverClient driver;
    bool opened = false;
    explicit Sim(const std::vector<DumpFunction>& functions)
    {
        WriteFile(File("d.txt"), DumpText(functions));
        WriteFile(File("qorbsim.ini"), "[platform]\ndump = d.txt\n");
        opened = driver.Open();
    }
};

std::vector<uint8_t> Bytes(const SimDriverClient& d, unsigned b, unsigned dv, unsigned f, uint32_t off, uint32_t n)
{
    std::vector<uint8_t> out(n);
    out.resize(d.Read(b, dv, f, off, n, out.data()));
    return out;
}

/* The simulator on a platform of the one endpoint, opened directly. */
class SimOneEndpoint : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.opened); }
    Sim sim{{{1, 0, 0, Endpoint()}}};
};

} // namespace

TEST_F(SimOneEndpoint, AbsentLocationsAnswerNoBytesAndLeaveTheBufferAlone)
{
    uint8_t buffer[64];
    memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(sim.driver.Read(1, 0, 1, 0, 64, buffer), 0u);
    EXPECT_EQ(sim.driver.Read(0, 0, 0, 0, 64, buffer), 0u);
    EXPECT_EQ(sim.driver.Read(255, 31, 7, 0, 64, buffer), 0u);
    /* Numbers past the bus, device and function ranges. */
    EXPECT_EQ(sim.driver.Read(256, 0, 0, 0, 64, buffer), 0u);
    EXPECT_EQ(sim.driver.Read(1, 32, 0, 0, 64, buffer), 0u);
    EXPECT_EQ(sim.driver.Read(1, 0, 8, 0, 64, buffer), 0u);
    EXPECT_EQ(sim.driver.Read(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0, 64, buffer), 0u);
    EXPECT_EQ(buffer[0], 0x5A);
    EXPECT_EQ(buffer[63], 0x5A);
    EXPECT_EQ(sim.driver.WriteBytes(1, 0, 1, 0x04, 2, {0x06, 0x00}), 0u);
    /* Reads of zero bytes and a null buffer transfer nothing. */
    EXPECT_EQ(sim.driver.Read(1, 0, 0, 0, 0, buffer), 0u);
    EXPECT_EQ(sim.driver.Table().ReadConfig(sim.driver.Context(), 1, 0, 0, 0, 4, nullptr), 0u);
}

TEST_F(SimOneEndpoint, IdentityAndCapabilityHeadersStayReadOnly)
{
    const SimDriverClient& d = sim.driver;
    std::vector<uint8_t> before = Bytes(d, 1, 0, 0, 0, 4096);
    ASSERT_EQ(before.size(), 4096u);
    std::vector<uint8_t> ones(4096, 0xFF);
    /* One write over the whole space: only the writable bytes change. */
    EXPECT_EQ(d.WriteBytes(1, 0, 0, 0, 4096, ones), 4096u);
    std::vector<uint8_t> after = Bytes(d, 1, 0, 0, 0, 4096);
    /* Identity, structure, and the capability registers of PCI Express
     * (capabilities, device and link capabilities). */
    const uint32_t readOnly[] = {0x00, 0x01, 0x02, 0x03, 0x08, 0x09, 0x0A, 0x0B, 0x0E, 0x34, 0x40, 0x41,
                                 0x50, 0x51, 0x52, 0x53, 0x54, 0x57, 0x5C, 0x5F, 0x100, 0x101, 0x102, 0x103,
                                 0x140, 0x141, 0x142, 0x143};
    for (uint32_t off : readOnly)
        EXPECT_EQ(after[off], before[off]) << "offset " << std::hex << off;
    const uint32_t writable[] = {0x04, 0x0C, 0x10, 0x13, 0x3C, 0x44, 0x58, 0x61, 0x108, 0x114, 0x144, 0x200, 0xFFF};
    for (uint32_t off : writable)
        EXPECT_EQ(after[off], 0xFF) << "offset " << std::hex << off;
    /* Writes of part of a register work byte by byte. */
    EXPECT_EQ(d.WriteBytes(1, 0, 0, 0x11, 1, {0x12}), 1u);
    EXPECT_EQ(d.Read32(1, 0, 0, 0x10), 0xFFFF12FFu);
}

TEST(SimRegisters, LoopedOrWildCapabilityListsLoadAndProtectWhatTheyReach)
{
    ConfigSpace looped = Endpoint();
    looped.LegacyCap(0x50, 0x10, 0x40);     /* 0x40 -> 0x50 -> 0x40 ... */
    looped.ExtCap(0x140, 0x0003, 0x100);    /* 0x100 -> 0x140 -> 0x100 ... */
    ConfigSpace wild = Endpoint();
    wild.LegacyCap(0x50, 0x10, 0x03);       /* a pointer below 0x40 ends the list */
    wild.ExtCap(0x140, 0x0003, 0x0FC);      /* so does an extended one below 0x100 */
    Sim sim({{1, 0, 0, looped}, {2, 0, 0, wild}});
    ASSERT_TRUE(sim.opened);
    for (unsigned bus : {1u, 2u}) {
        EXPECT_EQ(sim.driver.WriteBytes(bus, 0, 0, 0x50, 2, {0x00, 0x00}), 2u);
        EXPECT_EQ(sim.driver.Read16(bus, 0, 0, 0x50), bus == 1 ? 0x4010 : 0x0310);
        EXPECT_EQ(sim.driver.WriteBytes(bus, 0, 0, 0x140, 4, {0, 0, 0, 0}), 4u);
        EXPECT_NE(sim.driver.Read32(bus, 0, 0, 0x140), 0u);
    }
}

TEST_F(SimOneEndpoint, ReadConfigExReadsFourBytesOfDomainZero)
{
    auto readEx = sim.driver.Table().ReadConfigEx;
    ASSERT_NE(readEx, nullptr);
    uint8_t b[4] = {};
    EXPECT_EQ(readEx(sim.driver.Context(), 0, 1, 0, 0, 0, b), 4u);
    EXPECT_EQ(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24, 0x10411AF4);
    EXPECT_EQ(readEx(sim.driver.Context(), 0, 1, 0, 0, 4094, b), 2u);
    EXPECT_EQ(readEx(sim.driver.Context(), 1, 1, 0, 0, 0, b), 0u);
    EXPECT_EQ(readEx(sim.driver.Context(), 0, 1, 0, 1, 0, b), 0u);
}

TEST_F(SimOneEndpoint, McfgTableDescribesTheWholeBusRange)
{
    uint64_t base = 0, length = 0;
    uint8_t start = 0xAA, end = 0;
    const auto& t = sim.driver.Table();
    ASSERT_EQ(t.QueryMcfgTable(sim.driver.Context(), &base, &start, &end, &length), 1u);
    EXPECT_EQ(std::tuple(base, start, end, length), std::tuple(0xE0000000ull, 0, 255, 256ull << 20));
    EXPECT_EQ(t.MapConfigSpace(sim.driver.Context(), base, length), 1u);
    EXPECT_EQ(t.MapConfigSpace(sim.driver.Context(), base, 0), 0u);
    EXPECT_EQ(t.QueryMcfgTable(sim.driver.Context(), nullptr, &start, &end, &length), 0u);
}

TEST_F(SimOneEndpoint, ReopeningStartsFromThePowerOnContentsAndOldContextsAreRefused)
{
    uint32_t oldContext = sim.driver.Context();
    EXPECT_EQ(sim.driver.WriteBytes(1, 0, 0, 0x04, 2, {0x06, 0x00}), 2u);
    EXPECT_EQ(sim.driver.Read16(1, 0, 0, 0x04), 0x0006);
    sim.driver.Close();
    uint8_t b[4];
    EXPECT_EQ(sim.driver.Read(1, 0, 0, 0, 4, b), 0u) << "a closed driver serves nothing";
    ASSERT_TRUE(sim.driver.Open());
    EXPECT_NE(sim.driver.Context(), oldContext);
    EXPECT_EQ(sim.driver.Read16(1, 0, 0, 0x04), 0x0000);
    EXPECT_EQ(sim.driver.Table().ReadConfig(oldContext, 1, 0, 0, 0, 4, b), 0u);
}

TEST(SimRegisters, TheLibraryReachesTheDriverThroughItsPassThroughCalls)
{
    SimPlatform platform({{1, 0, 0, Endpoint()}});
    ASSERT_EQ(platform.OpenStatus(), QORB_SUCCESS);
    uint64_t base = 0, length = 0;
    uint8_t start = 1, end = 0;
    EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 1);
    EXPECT_EQ(end, 255);
    uint8_t b[4] = {};
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 1, 0, 0, 0x08, b), 4u);
    EXPECT_EQ(b[3], 0x02);   /* class code: network controller */
}
