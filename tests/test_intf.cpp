/* The exported interface table: version, empty slots and slots that hold
 * the exported functions. */
#include <string.h>

#include <gtest/gtest.h>

#include <qorb/qorb.h>

namespace {

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

TEST(InterfaceTable, VersionNullSlotsAndTheExportedOperations)
{
    _QORB_INTF_t table = Table();
    EXPECT_EQ(table.slot[0], 0x00010001u);
    for (int i : {10, 11, 19})
        EXPECT_EQ(table.slot[i], 0u) << "slot " << i;
    /* The other slots hold the exported functions themselves, so calling
     * through a slot is calling the function its own tests cover. */
    auto addr = [](auto* fn) { return reinterpret_cast<uintptr_t>(fn); };
    const std::pair<int, uintptr_t> slots[] = {
        {1, addr(&OpenQORB)},          {2, addr(&CloseQORB)},         {3, addr(&ChangeZEBMode)},
        {4, addr(&QueryZEBMode)},      {5, addr(&ProgramZEBCmd)},     {6, addr(&ArmZEB)},
        {7, addr(&DisarmZEB)},         {8, addr(&OpenDevice)},        {9, addr(&CloseDevice)},
        {12, addr(&ReadConfigSpace)},  {13, addr(&WriteConfigSpace)}, {14, addr(&SetConfigMaskTraceBuf)},
        {15, addr(&FindDeviceByLocation)}, {16, addr(&FindDeviceById)}, {17, addr(&FindDeviceByInfo)},
        {18, addr(&WriteDeviceStatusReg)},
    };
    for (const auto& [index, function] : slots)
        EXPECT_EQ(table.slot[index], function) << "slot " << index;
}

} // namespace
