/* The tool's register decoding from the register model: every field of the lspci decoder resolves in the model, and
 * references that name nothing (or two things) do not. */
#include <gtest/gtest.h>
#include <linux/pci_regs.h>
#include "cap_decode.h"

using namespace qorbcli;

TEST(Decode, EveryLspciFieldResolvesInTheModel) {
    size_t refs = 0;
    for (const CapDecoder& d : CapDecoders())
        for (const FieldLine& line : d.lines)
            for (const Field& f : line.fields) {
                bool reads = f.format != FieldFormat::kText && f.format != FieldFormat::kBreak;
                EXPECT_TRUE(f.ref.reg || !reads) << d.id << " " << line.label << " " << f.text << " reads no register";
                refs += f.ref.reg != nullptr;
                EXPECT_TRUE(!f.ref.reg || f.resolved) << d.id << " " << line.label << " " << f.text << ": " << f.ref.reg
                                                      << " " << (f.ref.field ? f.ref.field : "");
            }
    EXPECT_GT(refs, 0u);
}

/* Capability, condition, reference, then the offset and bits it resolves to (lo > hi: it must not resolve). */
TEST(Decode, ReferencesResolveToTheModelsBits) {
    const std::vector<std::tuple<uint16_t, FieldWhen, ModelRef, int, int, int>> rows = {
        {PCI_CAP_ID_EXP, FieldWhen::kAlways, {"LNKCAP", "Max Link Speed"}, 0x0c, 0, 3},
        {PCI_CAP_ID_EXP, FieldWhen::kAlways, {"LNKCAP", "Max Link Sped"}, 0, 1, 0},
        {PCI_CAP_ID_EXP, FieldWhen::kAlways, {"LNKCAPS", "Max Link Speed"}, 0, 1, 0},
        {PCI_CAP_ID_EXP, FieldWhen::kAlways, {"SLTCAP", "Hot-Plug Capable"}, 0x14, 6, 6},
        {PCI_CAP_ID_EXP, FieldWhen::kAlways,
            {"DEVCAP", "Captured Slot Power Limit Value", "Captured Slot Power Limit Scale"}, 0x04, 18, 27},
        {PCI_CAP_ID_EXP, FieldWhen::kAlways,
            {"DEVCAP", "Captured Slot Power Limit Scale", "Captured Slot Power Limit Value"}, 0, 1, 0},
        {PCI_CAP_ID_EXP, FieldWhen::kAlways, {"DEVCAP2", "TPH Completer Supported", nullptr, 1}, 0x24, 13, 13},
        {PCI_CAP_ID_EXP, FieldWhen::kAlways, {"DEVCAP2", "TPH Completer Supported", nullptr, 2}, 0, 1, 0},
        {PCI_CAP_ID_EXP, FieldWhen::kAlways, {"DEVSTA", nullptr, nullptr, 7}, 0, 1, 0}, /* reserved */
        {PCI_CAP_ID_EXP, FieldWhen::kAlways, {"DEVSTA2"}, 0x2a, 0, 15},
        {PCI_CAP_ID_PM, FieldWhen::kAlways, {"PMC", "PME_Support", nullptr, 4}, 0x02, 15, 15},
        {PCI_CAP_ID_MSI, FieldWhen::kAlways, {"DATA", "Message Data"}, 0, 1, 0}, /* which layout? */
        {PCI_CAP_ID_MSI, FieldWhen::kMsi64, {"DATA", "Message Data"}, 0x0c, 0, 15},
        {PCI_CAP_ID_MSI, FieldWhen::kMsi32, {"PENDING", "Pending Bits"}, 0x10, 0, 31},
        {PCI_CAP_ID_VPD, FieldWhen::kAlways, {"HDR", "Capability ID"}, 0, 1, 0}, /* no model */
    };
    for (const auto& [id, when, ref, at, lo, hi] : rows) {
        CapDecoder d{false, id, {{"X:", when, {Field{ref, FieldFormat::kHex, "%s"}}}}};
        ResolveFields(d);
        const Field& f = d.lines[0].fields[0];
        std::string what = std::string(ref.reg) + " " + (ref.field ? ref.field : "") + " " + std::to_string(ref.bit);
        EXPECT_EQ(f.resolved, lo <= hi) << what;
        if (lo <= hi) {
            EXPECT_EQ(std::make_tuple(int(f.at), int(f.lo), int(f.hi)), std::make_tuple(at, lo, hi)) << what;
        }
    }
}
