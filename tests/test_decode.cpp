/* The tool's register decoding from the register model: every field of the lspci decoder resolves in the model,
 * references that name nothing (or two things) do not, and -vvv decodes the registers of a dump's structures. */
#include <gtest/gtest.h>
#include <linux/pci_regs.h>
#include "cap_decode.h"
#include "qorb_test_support.h"

using namespace qorbcli;

/* Text and line breaks read no register; every other field reads one, through the model. */
TEST(Decode, EveryLspciFieldResolvesInTheModel) {
    for (const CapDecoder& d : CapDecoders())
        for (const FieldLine& line : d.lines)
            for (const Field& f : line.fields) {
                EXPECT_TRUE(f.ref.reg ? f.resolved : f.format == FieldFormat::kText || f.format == FieldFormat::kBreak)
                    << d.id << " " << line.label << " " << f.text;
            }
}

/* Capability, condition, reference, then whether it resolves, to which offset and bits. */
TEST(Decode, ReferencesResolveToTheModelsBits) {
    const FieldWhen A = FieldWhen::kAlways;
    const char *value = "Captured Slot Power Limit Value", *scale = "Captured Slot Power Limit Scale";
    const std::vector<std::tuple<uint16_t, FieldWhen, ModelRef, bool, int, int, int>> rows
        = {{PCI_CAP_ID_EXP, A, {"LNKCAP", "Max Link Speed"}, true, 0x0c, 0, 3},
            {PCI_CAP_ID_EXP, A, {"LNKCAP", "Speed"}, false, 0, 0, 0},
            {PCI_CAP_ID_EXP, A, {"DEVCAP", value, scale}, true, 0x04, 18, 27},
            {PCI_CAP_ID_EXP, A, {"DEVCAP", scale, value}, false, 0, 0, 0},
            {PCI_CAP_ID_EXP, A, {"DEVCAP2", "TPH Completer Supported", nullptr, 1}, true, 0x24, 13, 13},
            {PCI_CAP_ID_EXP, A, {"DEVCAP2", "TPH Completer Supported", nullptr, 2}, false, 0, 0, 0},
            {PCI_CAP_ID_EXP, A, {"DEVSTA", nullptr, nullptr, 7}, false, 0, 0, 0} /* reserved */,
            {PCI_CAP_ID_EXP, A, {"DEVSTA2"}, true, 0x2a, 0, 15},
            {PCI_CAP_ID_PM, A, {"PMC", "PME_Support", nullptr, 4}, true, 2, 15, 15},
            {PCI_CAP_ID_MSI, A, {"DATA", "Message Data"}, false, 0, 0, 0} /* which layout? */,
            {PCI_CAP_ID_MSI, FieldWhen::kMsi64, {"DATA", "Message Data"}, true, 0x0c, 0, 15},
            {PCI_CAP_ID_MSI, FieldWhen::kMsi32, {"PENDING", "Pending Bits"}, true, 0x10, 0, 31},
            {PCI_CAP_ID_VPD, A, {"HDR", "Capability ID"}, false, 0, 0, 0} /* not in the model */};
    for (const auto& [id, when, ref, ok, at, lo, hi] : rows) {
        CapDecoder d{false, id, {{"X:", when, {Field{ref, FieldFormat::kHex, "%s"}}}}};
        ResolveFields(d);
        const Field& f = d.lines[0].fields[0];
        EXPECT_EQ(std::make_tuple(f.resolved, int(f.at), int(f.lo), int(f.hi)), std::make_tuple(ok, at, lo, hi))
            << ref.reg << " " << (ref.field ? ref.field : "") << " " << int(ref.bit);
    }
}

/* A downstream port (slot, x2 link, only Hot-Plug Surprise) with extended capabilities whose values would read
 * differently one bit or one register off; each row is a line -vvv must show. */
TEST(Decode, ModelRegistersOfEveryStructure) {
#ifndef QORB_TOOL_PATH
    GTEST_SKIP() << "the qorb tool is not built";
#endif
    qorbtest::ScratchDir dir;
    qorbtest::ConfigSpace p;
    p.Header(0x5153, 0x2100, 0, 0x04, 0x06, 0x01).CapPointer(0x40).PcieCap(0x40, 6, 0).Set16(0x42, 0x0162);
    p.Set32(0x4c, 0x23).Set32(0x54, 0x20).ExtCap(0x100, 0x0d, 0x140).Set32(0x104, 0x0001201f);
    p.ExtCap(0x140, 0x1d, 0x180).Set32(0x144, 0x503).Set32(0x148, 0x03000005).ExtCap(0x180, 0x1e, 0x1c0);
    p.Set32(0x184, 0x0029281f).ExtCap(0x1c0, 0x1f, 0x200).Set32(0x1c4, 0xa03).Set32(0x1c8, 0x10);
    p.ExtCap(0x200, 0x19, 0x240).Set16(0x20e, 0x3947).ExtCap(0x240, 0x15, 0x280).Set32(0x248, 0x340);
    p.Set32(0x250, 0x502).ExtCap(0x280, 0x18, 0x300).Set32(0x284, 0x0d0109e9).ExtCap(0x300, 2, 0);
    p.Set32(0x314, 0x800000ff);
    qorbtest::ConfigSpace e; /* an endpoint with an Attention Button but no Attention Indicator */
    e.Header(0x5153, 0x2101, 0x02, 0, 0, 0).CapPointer(0x40).PcieCap(0x40, 0, 0).Set32(0x44, 0x1000);
    qorbtest::WriteFile("p.txt", qorbtest::DumpText({{1, 0, 0, p}, {2, 0, 0, e}}));
    qorbtest::WriteFile("qorbsim.ini", "[platform]\ndump = p.txt\n");
    std::string out = qorbtest::RunCommand("'" QORB_TOOL_PATH "' caps -vvv 2>&1");
    for (const char* line : {"HotPlug- Surprise+", "ExtTag- AttnBtn+ AttnInd- PwrInd- RBE- FLReset- SlotPowerLimit 0W",
             "Header: Type 1 header, section 7.5.1.3", "Registers: Access Control Services, section 7.7.8",
             "[15:8] Egress Control Vector Size=0x20 HwInit", "[16] ACS Source Validation Enable=1 RW",
             "[148] STA DPC Status and Error Source ID: 03000005", "[2:1] DPC Trigger Reason=0x2 ROS",
             "[31:16] DPC Error Source ID=0x300 ROS", "[23:19] Port T_POWER_ON Value=0x5 HwInit",
             "[15:8] Local Clock Granularity=0xa RO", "[7:2] Reserved=0x4 RsvdP",
             "[20e] LANEEQ Lane Equalization Control (lane 1): 3947",
             "[11:8] Upstream Port 8.0 GT/s Transmitter Preset=0x9 HwInit",
             "[250] CTL Resizable BAR Control (entry 1): 00000502", "[13:8] BAR Size=0x5 RW",
             "[28:26] Max No-Snoop LatencyScale=0x3 RW", "[6] Hot-Plug Capable=0 HwInit", "[7:1] TC/VC Map=0x7f RW"})
        EXPECT_NE(out.find(line + std::string("\n")), std::string::npos) << line << "\n" << out;
}
