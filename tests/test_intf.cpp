/* The exported interface table: layout, version and slots that reach the
 * same operations as the exported functions. */
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "qorb_test_support.h"
#include "zebfake_fixture.h"

namespace {

template <typename Fn>
Fn* SlotAs(const _QORB_INTF_t& table, int index)
{
    return reinterpret_cast<Fn*>(table.slot[index]);
}

_QORB_INTF_t Table()
{
    _QORB_INTF_t table;
    memset(&table, 0xA5, sizeof table);
    EXPECT_EQ(QORBGetIntf(&table), QORB_SUCCESS);
    return table;
}

TEST(InterfaceTable, NullTableIsRefused)
{
    EXPECT_EQ(QORBGetIntf(nullptr), QORB_INVALID_PARAMETER);
}

TEST(InterfaceTable, VersionAndNullSlotsWithoutAnInstance)
{
    _QORB_INTF_t table = Table();
    EXPECT_EQ(table.slot[0], 0x00010001u);
    EXPECT_EQ(table.slot[10], 0u);
    EXPECT_EQ(table.slot[11], 0u);
    EXPECT_EQ(table.slot[19], 0u);
    for (int i : {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13, 14, 15, 16, 17, 18})
        EXPECT_NE(table.slot[i], 0u) << "slot " << i;
}

TEST(InterfaceTable, SlotsHoldTheExportedOperations)
{
    _QORB_INTF_t table = Table();
    auto addr = [](auto* fn) { return reinterpret_cast<uintptr_t>(fn); };
    EXPECT_EQ(table.slot[1], addr(&OpenQORB));
    EXPECT_EQ(table.slot[2], addr(&CloseQORB));
    EXPECT_EQ(table.slot[3], addr(&ChangeZEBMode));
    EXPECT_EQ(table.slot[4], addr(&QueryZEBMode));
    EXPECT_EQ(table.slot[5], addr(&ProgramZEBCmd));
    EXPECT_EQ(table.slot[6], addr(&ArmZEB));
    EXPECT_EQ(table.slot[7], addr(&DisarmZEB));
    EXPECT_EQ(table.slot[8], addr(&OpenDevice));
    EXPECT_EQ(table.slot[9], addr(&CloseDevice));
    EXPECT_EQ(table.slot[12], addr(&ReadConfigSpace));
    EXPECT_EQ(table.slot[13], addr(&WriteConfigSpace));
    EXPECT_EQ(table.slot[14], addr(&SetConfigMaskTraceBuf));
    EXPECT_EQ(table.slot[15], addr(&FindDeviceByLocation));
    EXPECT_EQ(table.slot[16], addr(&FindDeviceById));
    EXPECT_EQ(table.slot[17], addr(&FindDeviceByInfo));
    EXPECT_EQ(table.slot[18], addr(&WriteDeviceStatusReg));
}

TEST(InterfaceTable, SlotOneOpensAnInstanceAsOpenQORBDoes)
{
    qorbtest::ScratchDir dir;
    ASSERT_EQ(mkdir(dir.File("ini").c_str(), 0755), 0);
    qorbtest::WriteFile(dir.File("ini/VERDAapp.ini"), "[DLL]\nDLLName=zebfake.so\n");
    ASSERT_EQ(symlink(QORB_TEST_DRIVER_DIR "/zebfake.so", dir.File("zebfake.so").c_str()), 0);

    _QORB_INTF_t table = Table();
    using OpenFn = _QORB_STATUS_t(void**, int, uint64_t, const char*, const char*);
    using CloseFn = _QORB_STATUS_t(void*);
    void* viaSlot = nullptr;
    ASSERT_EQ(SlotAs<OpenFn>(table, 1)(&viaSlot, 0, 0, nullptr, nullptr), QORB_SUCCESS);
    ASSERT_NE(viaSlot, nullptr);
    EXPECT_NE(g_qorbDriver.zeb, nullptr);   /* the card table came with the driver */
    EXPECT_EQ(SlotAs<CloseFn>(table, 2)(viaSlot), QORB_SUCCESS);
    EXPECT_EQ(g_qorbDriver.zeb, nullptr);

    void* direct = nullptr;
    ASSERT_EQ(OpenQORB(&direct, 0, 0, nullptr, nullptr), QORB_SUCCESS);
    EXPECT_NE(g_qorbDriver.zeb, nullptr);
    EXPECT_EQ(CloseQORB(direct), QORB_SUCCESS);
}

using InterfaceTableCalls = ZebFakeTest;

TEST_F(InterfaceTableCalls, CardSlotsReachTheCard)
{
    QORB_DEVICE_t* card = Card();
    _QORB_INTF_t table = Table();
    EXPECT_EQ(SlotAs<_QORB_STATUS_t(void*, _QORB_ZEB_OP_MODE_t)>(table, 3)(card, QORB_ZEB_MODE_MONITOR), QORB_SUCCESS);
    EXPECT_EQ(fake->mode, QORB_ZEB_MODE_MONITOR);
    _QORB_ZEB_OP_MODE_t mode = QORB_ZEB_MODE_PASSTHROUGH;
    EXPECT_EQ(SlotAs<_QORB_STATUS_t(void*, _QORB_ZEB_OP_MODE_t*)>(table, 4)(card, &mode), QORB_SUCCESS);
    EXPECT_EQ(mode, QORB_ZEB_MODE_MONITOR);
    fake->traceConfig = 0;
    EXPECT_EQ(SlotAs<_QORB_STATUS_t(void*, uint32_t)>(table, 14)(card, 0x21), QORB_SUCCESS);
    EXPECT_EQ(fake->traceConfig, 0x1200u);

    card->traceCopy = static_cast<uint8_t*>(malloc(8));
    card->traceCopyLength = 8;
    EXPECT_EQ(SlotAs<_QORB_STATUS_t(void*, uint32_t)>(table, 6)(card, 0), QORB_SUCCESS);
    EXPECT_EQ(card->traceCopy, nullptr);
    EXPECT_EQ(SlotAs<_QORB_STATUS_t(void*)>(table, 7)(card), QORB_SUCCESS);

    auto calls = CardCalls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].slot, 12u);
    EXPECT_EQ(calls[4].slot, 10u);
    EXPECT_EQ(calls[5].slot, 8u);
}

TEST_F(InterfaceTableCalls, ConfigurationSlotsReachTheDriver)
{
    AddFunction(6, 1, 2).config[0x40] = 0x5C;
    QORB_DEVICE_t* device = Record(6, 1, 2);
    _QORB_INTF_t table = Table();
    using AccessFn = _QORB_STATUS_t(void*, uint8_t*, uint32_t, uint32_t*);
    uint8_t value = 0;
    uint32_t length = 1;
    ASSERT_EQ(SlotAs<AccessFn>(table, 12)(device, &value, 0x40, &length), QORB_SUCCESS);
    EXPECT_EQ(value, 0x5C);
    value = 0x77;
    ASSERT_EQ(SlotAs<AccessFn>(table, 13)(device, &value, 0x41, &length), QORB_SUCCESS);
    EXPECT_EQ(fake->functions[0].config[0x41], 0x77);

    void* found = nullptr;
    ASSERT_EQ(SlotAs<_QORB_STATUS_t(uint8_t, uint8_t, uint8_t, void**)>(table, 15)(6, 1, 2, &found), QORB_SUCCESS);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(static_cast<QORB_DEVICE_t*>(found)->deviceId, 0x1006);
    EXPECT_EQ(SlotAs<_QORB_STATUS_t(void*)>(table, 9)(found), QORB_SUCCESS);
}

} // namespace
