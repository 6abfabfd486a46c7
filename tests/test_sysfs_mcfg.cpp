/* The sysfs driver's MCFG answer, from table files the tests build. */
#include <gtest/gtest.h>

#include "sysfs_test_support.h"

using namespace qorbtest;

namespace {

struct Window {
    uint32_t answer;
    uint64_t base = 0, length = 0;
    uint8_t startBus = 0, endBus = 0;
};

class SysfsMcfgTest : public SysfsFixture {
protected:
    Window Query(const std::string& table, const std::string& domain = "0000")
    {
        WriteFile(fake.File("MCFG"), table);
        fake.Ini("domain = " + domain + "\nmcfg = " + fake.File("MCFG") + "\n");
        Window w{};
        if (!driver.Open())
            return w;
        w.answer = driver.Table().QueryMcfgTable(driver.Context(), &w.base, &w.startBus, &w.endBus, &w.length);
        return w;
    }
};

TEST_F(SysfsMcfgTest, TheEntryOfTheDomainGivesTheWindow)
{
    std::string table = McfgTable({{0xF8000000ull, 1, 0x00, 0x3F}, {0x1E0000000ull, 0, 0x00, 0xFF},
                                    {0xC0000000ull, 0, 0x80, 0x80}});
    Window w = Query(table);
    EXPECT_EQ(w.answer, 1u);
    EXPECT_EQ(w.base, 0x1E0000000ull);
    EXPECT_EQ(w.startBus, 0x00);
    EXPECT_EQ(w.endBus, 0xFF);
    EXPECT_EQ(w.length, 256ull << 20);

    w = Query(table, "0001");
    EXPECT_EQ(w.answer, 1u);
    EXPECT_EQ(w.base, 0xF8000000ull);
    EXPECT_EQ(w.length, 64ull << 20);

    w = Query(McfgTable({{0xE0000000ull, 0, 0x10, 0x1F}}));
    EXPECT_EQ(w.startBus, 0x10);
    EXPECT_EQ(w.endBus, 0x1F);
    EXPECT_EQ(w.length, 16ull << 20);
}

TEST_F(SysfsMcfgTest, NoUsableEntryAnswersZero)
{
    std::string good = McfgTable({{0xE0000000ull, 0, 0, 0xFF}});
    EXPECT_EQ(Query(good, "0002").answer, 0u) << "no entry for the domain";
    EXPECT_EQ(Query(McfgTable({})).answer, 0u) << "no entries at all";
    EXPECT_EQ(Query(McfgTable({{0xE0000000ull, 0, 0x20, 0x10}})).answer, 0u) << "end bus below start bus";

    std::string wrongSignature = good;
    wrongSignature[0] = 'X';
    EXPECT_EQ(Query(wrongSignature).answer, 0u);
    EXPECT_EQ(Query(good.substr(0, 50)).answer, 0u) << "file shorter than its header says";
    EXPECT_EQ(Query(good.substr(0, 20)).answer, 0u) << "file shorter than a header";

    /* A header length that leaves the entry out hides it. */
    std::string shortLength = good;
    shortLength[4] = 44;
    EXPECT_EQ(Query(shortLength).answer, 0u);

    /* No table file (an unprivileged process cannot read Linux's). */
    ASSERT_TRUE(OpenOn(fake, driver, "mcfg = " + fake.File("missing") + "\n"));
    uint64_t base = 7, length = 7;
    uint8_t start = 7, end = 7;
    EXPECT_EQ(driver.Table().QueryMcfgTable(driver.Context(), &base, &start, &end, &length), 0u);
    EXPECT_EQ(base, 7u);
}

TEST_F(SysfsMcfgTest, TheLibraryPassesTheWindowOn)
{
    WriteFile(fake.File("MCFG"), McfgTable({{0xB0000000ull, 0, 0, 0x3F}}));
    fake.Ini("mcfg = " + fake.File("MCFG") + "\n");
    void* instance = nullptr;
    ASSERT_EQ(OpenQORBEx(&instance, 0, SysfsDriverPath(), 0, 0), QORB_SUCCESS);
    uint64_t base = 0, length = 0;
    uint8_t start = 0xFF, end = 0;
    EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 1);
    EXPECT_EQ(base, 0xB0000000ull);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 0x3F);
    EXPECT_EQ(length, 64ull << 20);
    CloseQORB(instance);
    EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 0);
}

} // namespace
