/* The calls beside the open sequence (command line, MCFG query, raw read)
 * and the library-wide driver state: every open rebinds it, every close
 * clears it for all instances. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <tuple>
#include <vector>

#include <qorb/qorb.h>

#include "instance_fixture.h"
#include "qorb_internal.h"

using qorbtest::TestDriver;
using qorbtest::UntouchedHandle;

namespace {

/* ------------------------------------------------------------ command line */

struct Parsed {
    int result;
    std::string d, l;
};

Parsed Parse(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    char d[64], l[64];
    memset(d, 'x', sizeof d);
    memset(l, 'x', sizeof l);
    int result = ParseCmdLineOptions(static_cast<int>(args.size()), argv.data(), d, l);
    return {result, d, l};
}

TEST(ParseCmdLine, OptionsHelpAndValues)
{
    struct Row {
        std::vector<std::string> args;
        int result;
        const char* d;
        const char* l;
        const char* why;
    } rows[] = {
        {{"prog", "-D", "x", "-L", "y"}, 0, "x", "y", "options without regard to case"},
        {{"prog", "-l", "log.txt", "-d", "dat.xml", "-H"}, 1, "dat.xml", "log.txt", "help after the values"},
        {{"prog"}, 0, "", "", "the buffers start empty"},
        {{"prog", "-d"}, 0, "", "", "an option without a value leaves its buffer empty"},
        {{"prog", "-l"}, 0, "", "", "the same for -l"},
        {{"prog", "extra", "-h"}, 1, "", "", "help anywhere"},
        {{"prog", "-h", "-d", "x"}, 1, "x", "", "help first"},
        {{"prog", "-help"}, 0, "", "", "only the exact option counts"},
        {{"prog", "h"}, 0, "", "", "a word is no option"},
        {{"prog", "-d", "-h"}, 0, "-h", "", "the value is never an option"},
        {{"-h", "-l", "a", "-l", "b"}, 0, "", "b", "the first entry is the program; the last value is kept"},
    };
    for (const Row& row : rows) {
        Parsed p = Parse(row.args);
        EXPECT_EQ(std::tuple(p.result, p.d, p.l), std::tuple(row.result, row.d, row.l)) << row.why;
    }
}

TEST(ParseCmdLine, CountBoundsTheScan)
{
    std::string prog = "prog", d = "-d", v = "value", h = "-h";
    char* argv[] = {prog.data(), d.data(), v.data(), h.data(), nullptr};
    char dv[16] = "old", lv[16] = "old";
    EXPECT_EQ(ParseCmdLineOptions(2, argv, dv, lv), 0);
    EXPECT_STREQ(dv, "") << "the value lies beyond the count";
    EXPECT_EQ(ParseCmdLineOptions(3, argv, dv, lv), 0);
    EXPECT_STREQ(dv, "value");
    EXPECT_EQ(ParseCmdLineOptions(0, argv, dv, lv), 0);
    EXPECT_STREQ(dv, "");
    EXPECT_EQ(ParseCmdLineOptions(4, argv, dv, lv), 1);
}

/* ---------------------------------------------------------- pass-through */

class PassThrough : public qorbtest::InstanceTest {
protected:
    TestDriver full{TestDriver::BuiltPath("tdrv_full")};
};

TEST_F(PassThrough, McfgQueryForwardsTheDriversAnswer)
{
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    full->queryAnswer = 7;
    full->mcfgBase = 0xE0000000ull;
    full->mcfgStartBus = 0x10;
    full->mcfgEndBus = 0x7F;
    full->mcfgLength = 0x7000000ull;
    uint64_t base = 0, length = 0;
    uint8_t start = 0, end = 0;
    EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 7);
    EXPECT_EQ(std::tuple(base, start, end, length), std::tuple(0xE0000000ull, 0x10, 0x7F, 0x7000000ull));
    full->queryAnswer = 0;
    EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 0);
    EXPECT_EQ(full->wrongContext, 0u);
}

TEST_F(PassThrough, McfgQueryWithoutTheEntryOrAfterClose)
{
    uint64_t base = 1, length = 1;
    uint8_t start = 1, end = 1;
    EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 0) << "no driver bound";

    full->provide = TDRV_ALL & ~TDRV_QUERY;
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 0);
    EXPECT_EQ(CloseHandle(), QORB_SUCCESS);

    full->provide = TDRV_ALL;
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 1);
    EXPECT_EQ(CloseHandle(), QORB_SUCCESS);
    std::string before = full.Calls();
    EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 0);
    EXPECT_EQ(full.Calls(), before) << "the closed driver is not called";
}

TEST_F(PassThrough, RawReadForwardsItsValuesAndAnswer)
{
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    full->readExAnswer = 0xDEADBEEFu;
    uint8_t buffer[8] = {};
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(1, 2, 3, 0x100, 0xFFFFFFFFu, buffer), 0xDEADBEEFu);
    const uint32_t expected[5] = {1, 2, 3, 0x100, 0xFFFFFFFFu};
    EXPECT_EQ(memcmp(full->readExArgs, expected, sizeof expected), 0);
    EXPECT_EQ(full->readExBuffer, buffer);
    EXPECT_EQ(full->wrongContext, 0u);
}

TEST_F(PassThrough, RawReadNeedsBothReadEntries)
{
    uint8_t buffer[8] = {};
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 0, 0, 0, 4, buffer), 0u) << "no driver bound";
    full->provide = TDRV_ALL & ~TDRV_READ;
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 0, 0, 0, 4, buffer), 0u);
    EXPECT_EQ(full.Calls().find('X'), std::string::npos) << "ReadConfigEx is not called without ReadConfig";
    CloseHandle();

    full->provide = TDRV_ALL & ~TDRV_READ_EX;
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 0, 0, 0, 4, buffer), 0u);
    CloseHandle();

    full->provide = TDRV_ALL;
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    CloseHandle();
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 0, 0, 0, 4, buffer), 0u) << "answers 0 after the close";
    EXPECT_EQ(full.Calls().find('X'), std::string::npos);
}

/* ---------------------------------------------------- driver state rules */

/* A device record at a location, as the searches build them. */
QORB_DEVICE_t RecordAt(uint8_t bus, uint8_t dev, uint8_t fn)
{
    QORB_DEVICE_t record{};
    record.bus = bus;
    record.device = dev;
    record.function = fn;
    return record;
}

class DriverState : public qorbtest::InstanceTest {
protected:
    TestDriver full{TestDriver::BuiltPath("tdrv_full")};
    TestDriver nocard{TestDriver::BuiltPath("tdrv_nocard")};
};

TEST_F(DriverState, ConfigurationCyclesReachTheDriver)
{
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    QORB_DEVICE_t record = RecordAt(3, 0x1F, 7);
    uint8_t buffer[16] = {};
    uint32_t length = 8;
    EXPECT_EQ(ReadConfigSpace(&record, buffer, 0x40, &length), QORB_SUCCESS);
    EXPECT_EQ(length, 8u);
    const uint32_t readArgs[5] = {3, 0x1F, 7, 0x40, 8};
    EXPECT_EQ(memcmp(full->readArgs, readArgs, sizeof readArgs), 0);
    EXPECT_EQ(buffer[0], 0x40);
    EXPECT_EQ(buffer[7], 0x47);

    full->readShortBy = 2;
    length = 8;
    EXPECT_EQ(ReadConfigSpace(&record, buffer, 0, &length), QORB_PCIE_CONFIG_READ_FAILED);
    EXPECT_EQ(length, 6u);

    uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    length = 4;
    EXPECT_EQ(WriteConfigSpace(&record, data, 0x104, &length), QORB_SUCCESS);
    const uint32_t writeArgs[5] = {3, 0x1F, 7, 0x104, 4};
    EXPECT_EQ(memcmp(full->writeArgs, writeArgs, sizeof writeArgs), 0);
    EXPECT_EQ(memcmp(full->written, data, sizeof data), 0);
    EXPECT_EQ(full->wrongContext, 0u);
}

TEST_F(DriverState, SecondOpenRebindsTheDriverForEveryInstance)
{
    full->context = 0xAAAA0001u;
    nocard->context = 0xBBBB0002u;
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    void* first = TakeHandle();
    ASSERT_EQ(OpenEx(nocard.Path()).status, QORB_SUCCESS);
    void* second = TakeHandle();

    QORB_DEVICE_t record = RecordAt(1, 2, 3);
    uint8_t buffer[4];
    uint32_t length = 4;
    EXPECT_EQ(ReadConfigSpace(&record, buffer, 0, &length), QORB_SUCCESS);
    EXPECT_EQ(full.Calls(), "GZVOQM");
    EXPECT_EQ(nocard.Calls(), "GOQMR") << "the second driver serves the reads of both instances";
    EXPECT_EQ(nocard->wrongContext, 0u) << "with its own context";

    /* Closing either instance closes the one bound driver for both. */
    EXPECT_EQ(CloseQORB(first), QORB_SUCCESS);
    EXPECT_EQ(nocard.Calls(), "GOQMRC");
    EXPECT_EQ(full.Calls(), "GZVOQM");
    length = 4;
    EXPECT_EQ(ReadConfigSpace(&record, buffer, 0, &length), QORB_PCIE_CONFIG_READ_FAILED);
    EXPECT_EQ(length, 0u);
    length = 4;
    EXPECT_EQ(WriteConfigSpace(&record, buffer, 0, &length), QORB_PCIE_CONFIG_WRITE_FAILED);
    EXPECT_EQ(CloseQORB(second), QORB_SUCCESS);
    EXPECT_EQ(nocard.Calls(), "GOQMRC") << "a second close finds no driver to close";
    EXPECT_EQ(nocard->wrongContext, 0u);
}

TEST_F(DriverState, RebindingForgetsTheEntriesTheNewDriverLacks)
{
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    void* first = TakeHandle();
    nocard->provide = TDRV_ALL & ~(TDRV_QUERY | TDRV_READ_EX | TDRV_WRITE | TDRV_CLOSE);
    ASSERT_EQ(OpenEx(nocard.Path()).status, QORB_SUCCESS);
    uint64_t base = 0, length = 0;
    uint8_t start = 0, end = 0;
    uint8_t buffer[4] = {};
    EXPECT_EQ(QueryAcpiMcfgTableInfo(&base, &start, &end, &length), 0);
    EXPECT_EQ(QORB_ReadConfigSpace_Ex(0, 0, 0, 0, 4, buffer), 0u);
    QORB_DEVICE_t record = RecordAt(0, 0, 0);
    uint32_t count = 4;
    EXPECT_EQ(WriteConfigSpace(&record, buffer, 0, &count), QORB_PCIE_CONFIG_WRITE_FAILED);
    EXPECT_EQ(CloseQORB(first), QORB_SUCCESS);
    EXPECT_EQ(full.Calls(), "GZVOQM") << "the first driver's entries are gone";
    EXPECT_EQ(nocard.Calls(), "GOM");
}

TEST_F(DriverState, CardTablesOutliveARebindWithoutThemAndGoAtClose)
{
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    void* first = TakeHandle();
    ASSERT_NE(g_qorbDriver.zeb, nullptr);
    ASSERT_NE(g_qorbDriver.vok, nullptr);
    EXPECT_EQ(g_qorbDriver.zeb->IsZEB(0x42, 0, 0), 1u);
    EXPECT_EQ(g_qorbDriver.vok->IsVOK(0x43, 0, 0), 1u);
    _ZEB_LIB_INTERFACE_t* zeb = g_qorbDriver.zeb;
    _VOK_LIB_INTERFACE_t* vok = g_qorbDriver.vok;

    /* A driver without card tables leaves the bound ones in place. */
    ASSERT_EQ(OpenEx(nocard.Path()).status, QORB_SUCCESS);
    EXPECT_EQ(g_qorbDriver.zeb, zeb);
    EXPECT_EQ(g_qorbDriver.vok, vok);

    EXPECT_EQ(CloseQORB(first), QORB_SUCCESS);
    EXPECT_EQ(g_qorbDriver.zeb, nullptr);
    EXPECT_EQ(g_qorbDriver.vok, nullptr);
    EXPECT_EQ(g_qorbDriver.libraryHandle, 0u);
    const _CONFIG_DRIVER_INTERFACE_t empty{};
    EXPECT_EQ(memcmp(&g_qorbDriver.table, &empty, sizeof empty), 0) << "every entry cleared";
}

TEST_F(DriverState, CloseWithoutAnInstanceStillClosesTheDriver)
{
    EXPECT_EQ(CloseQORB(nullptr), QORB_SUCCESS);
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    EXPECT_EQ(CloseQORB(nullptr), QORB_SUCCESS);
    EXPECT_EQ(full.Calls(), "GZVOQMC");
    EXPECT_EQ(CloseHandle(), QORB_SUCCESS);
    EXPECT_EQ(full.Calls(), "GZVOQMC");
}

TEST_F(DriverState, ReopenAfterCloseBindsAgain)
{
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    CloseHandle();
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    QORB_DEVICE_t record = RecordAt(0, 0, 0);
    uint8_t buffer[4];
    uint32_t length = 4;
    EXPECT_EQ(ReadConfigSpace(&record, buffer, 0, &length), QORB_SUCCESS);
    EXPECT_EQ(full.Calls(), "GZVOQMCGZVOQMR");
}

/* The records an instance lists are detached when it closes and remain the
 * finder's to close. */
TEST_F(DriverState, CloseDetachesTheInstancesDeviceRecords)
{
    ASSERT_EQ(OpenEx(full.Path()).status, QORB_SUCCESS);
    auto* instance = static_cast<QORB_INSTANCE_t*>(handle);
    EXPECT_STREQ(instance->userName, "qorb_user");
    EXPECT_EQ(instance->deviceList.state, CL_INITIALIZED);
    EXPECT_EQ(cl_qlist_count(&instance->deviceList), 0u);
    QORB_DEVICE_t a = RecordAt(1, 0, 0), b = RecordAt(2, 0, 0);
    cl_qlist_insert_tail(&instance->deviceList, &a.listItem);
    a.owner = instance;
    cl_qlist_insert_tail(&instance->deviceList, &b.listItem);
    b.owner = instance;
    EXPECT_EQ(CloseHandle(), QORB_SUCCESS);
    EXPECT_EQ(a.owner, nullptr);
    EXPECT_EQ(b.owner, nullptr);
}

} // namespace
