/* Error status registers of the simulated functions: write-one-to-clear
 * bits, presets from qorbsim.ini, and capability lists broken on purpose,
 * through the library's ReadConfigSpace / WriteConfigSpace. */
#include <gtest/gtest.h>

#include <linux/pci_regs.h>

#include "sim_driver_client.h"
#include "sim_record.h"

using namespace qorbtest;

namespace {

/* 06:00.0 (endpoint below root port 00:02.0): PCI Express at 0x70, AER at
 * 0x100. 00:02.0: PCI Express at 0x40, AER at 0x100. */
constexpr uint32_t kAer = 0x100;
constexpr uint32_t kEndpointExpress = 0x70;
constexpr uint32_t kPortExpress = 0x40;

} // namespace

TEST(SimErrors, AerStatusRegistersAreWriteOneToClear)
{
    BuiltinSim sim("[function 06:00.0]\naer_uncorrectable = 0x00104010\naer_correctable = 0x000010C1\n");
    ASSERT_EQ(sim.OpenStatus(), QORB_SUCCESS) << sim.Errors();
    Record ep(0x06, 0x00, 0);
    EXPECT_EQ(ep.Read32(kAer + PCI_ERR_UNCOR_STATUS), 0x00104010u);
    EXPECT_EQ(ep.Read32(kAer + PCI_ERR_COR_STATUS), 0x000010C1u);
    /* A plain write of zeros changes nothing; writing ones sets nothing. */
    ep.Write32(kAer + PCI_ERR_COR_STATUS, 0);
    EXPECT_EQ(ep.Read32(kAer + PCI_ERR_COR_STATUS), 0x000010C1u);
    /* Ones clear exactly their bits, even ones written to clear bits. */
    ep.Write32(kAer + PCI_ERR_COR_STATUS, 0x00000041 | 0x00000100);
    EXPECT_EQ(ep.Read32(kAer + PCI_ERR_COR_STATUS), 0x00001080u);
    ep.Write32(kAer + PCI_ERR_UNCOR_STATUS, 0xFFFFFFFF);
    EXPECT_EQ(ep.Read32(kAer + PCI_ERR_UNCOR_STATUS), 0u);
    /* The registers beside them stay read-write. */
    ep.Write32(kAer + PCI_ERR_UNCOR_MASK, 0x00400000);
    EXPECT_EQ(ep.Read32(kAer + PCI_ERR_UNCOR_MASK), 0x00400000u);
    /* Another function keeps its own registers. */
    EXPECT_EQ(Record(0x03, 0x00, 0).Read32(kAer + PCI_ERR_COR_STATUS), 0u);
}

TEST(SimErrors, StatusRegistersClearTheirErrorBitsAndKeepTheRest)
{
    BuiltinSim sim("[function 00:02.0]\nstatus = 0xf900\nsecondary_status = 0x2000\ndevice_status = 0x000f\n"
                   "link_status = 0xc000\n");
    ASSERT_EQ(sim.OpenStatus(), QORB_SUCCESS) << sim.Errors();
    Record port(0x00, 0x02, 0);
    EXPECT_EQ(port.Read16(PCI_STATUS), 0xF910);   /* errors and Capabilities List */
    port.Write16(PCI_STATUS, 0x0000);
    EXPECT_EQ(port.Read16(PCI_STATUS), 0xF910);
    port.Write16(PCI_STATUS, PCI_STATUS_PARITY | PCI_STATUS_CAP_LIST);
    EXPECT_EQ(port.Read16(PCI_STATUS), 0xF810) << "the Capabilities List bit is read-only";
    port.Write16(PCI_STATUS, 0xFFFF);
    EXPECT_EQ(port.Read16(PCI_STATUS), PCI_STATUS_CAP_LIST);

    EXPECT_EQ(port.Read16(PCI_SEC_STATUS), 0x2000);
    port.Write16(PCI_SEC_STATUS, 0x2000);
    EXPECT_EQ(port.Read16(PCI_SEC_STATUS), 0x0000);

    EXPECT_EQ(port.Read16(kPortExpress + PCI_EXP_DEVSTA), 0x000F);
    port.Write16(kPortExpress + PCI_EXP_DEVSTA, PCI_EXP_DEVSTA_CED | PCI_EXP_DEVSTA_TRPND);
    EXPECT_EQ(port.Read16(kPortExpress + PCI_EXP_DEVSTA), 0x000E);

    uint16_t link = port.Read16(kPortExpress + PCI_EXP_LNKSTA);
    EXPECT_EQ(link & 0xC000, 0xC000);
    port.Write16(kPortExpress + PCI_EXP_LNKSTA, PCI_EXP_LNKSTA_LBMS);
    EXPECT_EQ(port.Read16(kPortExpress + PCI_EXP_LNKSTA), link & ~PCI_EXP_LNKSTA_LBMS);
    port.Write16(kPortExpress + PCI_EXP_LNKSTA, 0x3FFF);
    EXPECT_EQ(port.Read16(kPortExpress + PCI_EXP_LNKSTA), link & ~PCI_EXP_LNKSTA_LBMS)
        << "speed, width and link state are read-only";

    /* Device Control beside Device Status stays read-write. */
    port.Write16(kPortExpress + PCI_EXP_DEVCTL, 0x000F);
    EXPECT_EQ(port.Read16(kPortExpress + PCI_EXP_DEVCTL), 0x000F);
}

TEST(SimErrors, BadPresetsAreReportedAndTheDriverDoesNotOpen)
{
    struct {
        const char* ini;
        const char* message;
    } cases[] = {
        {"[function 0c:00.0]\naer_correctable = 1\n", "[function 0c:00.0]: the platform has no such function"},
        {"[function 00:00.0]\naer_correctable = 1\n", "[function 00:00.0] aer_correctable: the function has no such"},
        {"[function 06:00.0]\nsecondary_status = 1\n", "secondary_status: the function has no such register"},
        {"[function 0b:02.0]\ndevice_status = 1\n", "device_status: the function has no such register"},
        {"[function 06:00.0]\naer_correctable = 0x1g\n", "aer_correctable = '0x1g' is not a number"},
        {"[function 06:00.0]\nstatus = 0x10000\n", "status = '0x10000' is not a number from 0 to 0xffff"},
        {"[function 06:00.0]\naer_fatal = 1\n", "unknown setting 'aer_fatal' in section [function 06:00.0]"},
        {"[function 06:20.0]\nstatus = 1\n", "section [function 06:20.0]: expected [function BB:DD.F]"},
        {"[function 6]\nstatus = 1\n", "expected [function BB:DD.F]"},
        {"[function 06:00.0]\nbreak_capabilities = all\n", "break_capabilities = 'all'"},
        {"[function 0b:02.0]\nbreak_capabilities = extended-loop\n", "the function has no such list"},
        {"[function 00:00.0]\nbreak_capabilities = legacy-loop\n", "the function has no such list"},
    };
    for (const auto& c : cases)
        ExpectOpenFails(c.ini, c.message);
}

TEST(SimErrors, CapabilityListsCanBeBrokenOnPurpose)
{
    ScratchDir dir;
    WriteFile(dir.File("qorbsim.ini"), "[function 09:00.0]\nbreak_capabilities = legacy-loop\n"
                                       "break_capabilities = extended-loop\n"
                                       "[function 06:00.0]\nbreak_capabilities = legacy-wild\n");
    SimDriverClient driver;
    ASSERT_TRUE(driver.Open());
    /* 09:00.0: PM 40, MSI 50, PCIe 70, MSI-X b0, vendor-specific c0 (last);
     * AER 100 ... Power Budgeting 178 (last). */
    EXPECT_EQ(driver.Read16(9, 0, 0, 0xC0) >> 8, 0x40);
    EXPECT_EQ(driver.Read32(9, 0, 0, 0x178) >> 20, 0x100u);
    EXPECT_EQ(driver.Read32(9, 0, 0, 0x178) & 0xFFFFF, 0x10004u) << "ID and version stay";
    EXPECT_EQ(driver.Read16(6, 0, 0, 0xC0) >> 8, 0x3C);
    /* The broken list is what power-on holds: it stays read-only. */
    EXPECT_EQ(driver.WriteBytes(9, 0, 0, 0xC1, 1, {0x00}), 1u);
    EXPECT_EQ(driver.Read16(9, 0, 0, 0xC0) >> 8, 0x40);
    /* The rest of the platform is untouched. */
    EXPECT_EQ(driver.Read16(3, 0, 0, 0xA0) >> 8, 0x00);
}
