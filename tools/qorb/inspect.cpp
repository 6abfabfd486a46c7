/* Raw configuration bytes, the library's reach and the detail lines under a
 * function. */
#include "inspect.h"

#include <linux/pci_regs.h>

#include "cap_decode.h"
#include "hexdump.h"
#include "names.h"
#include "reg_decode.h"
#include <CLI/CLI.hpp>

#include "tool.h"

namespace qorbtool {

std::vector<uint8_t> ReadImage(void* device)
{
    std::vector<uint8_t> image(4096, 0);
    uint32_t n = 4096;
    ReadConfigSpace(device, image.data(), 0, &n);
    if (n < PCI_STD_HEADER_SIZEOF) {
        /* A driver that transfers nothing of a long read: ask for less. */
        for (uint32_t size : {256u, 64u}) {
            n = size;
            if (ReadConfigSpace(device, image.data(), 0, &n) == QORB_SUCCESS)
                break;
            n = 0;
        }
    }
    image.resize(n & ~3u);
    return image;
}

namespace {

/* The offset a typed lookup hands out, when it succeeds. */
template <typename Record, typename Lookup>
void AddLookup(std::set<uint32_t>& reached, void* device, Lookup lookup)
{
    /* The library copies as many bytes as its length tables give, up to 60;
     * a record of every kind fits. */
    alignas(8) uint8_t record[256] = {};
    void* handle = nullptr;
    _QORB_STATUS_t status = lookup(device, reinterpret_cast<Record*>(record), &handle);
    uint32_t offset = 0;
    if (status == QORB_SUCCESS && handle && GetCapOffset(handle, &offset) == QORB_SUCCESS)
        reached.insert(offset);
    QORB_FreeCapabilityHandle(handle);
}

std::string Subsystem(const std::vector<uint8_t>& image)
{
    using qorbcli::ImageGet;
    if (image.size() < PCI_STD_HEADER_SIZEOF || (image[PCI_HEADER_TYPE] & 0x7f) != PCI_HEADER_TYPE_NORMAL)
        return "";
    uint32_t subVendor = ImageGet(image, PCI_SUBSYSTEM_VENDOR_ID, 2), subDevice = ImageGet(image, PCI_SUBSYSTEM_ID, 2);
    if (subVendor == 0 || subVendor == 0xffff)
        return "";
    return qorbcli::SubsystemName(static_cast<uint16_t>(ImageGet(image, PCI_VENDOR_ID, 2)),
                                  static_cast<uint16_t>(ImageGet(image, PCI_DEVICE_ID, 2)),
                                  static_cast<uint16_t>(subVendor), static_cast<uint16_t>(subDevice));
}

std::string Where(const qorbcli::RawCap& cap)
{
    if (!cap.extended)
        return "[" + qorbcli::Hex(cap.offset, 2) + "]";
    return "[" + qorbcli::Hex(cap.offset, 3) + " v" + std::to_string(cap.version) + "]";
}

std::string SizeText(const qorbcli::RawCap& cap)
{
    return cap.size < 0 ? "no size" : "size 0x" + qorbcli::Hex(static_cast<uint32_t>(cap.size), 2);
}

std::string Reach(const qorbcli::RawCap& cap, const LibraryReach& reach)
{
    return std::string("library walk") + (reach.walk.count(cap.offset) ? "+" : "-") + " lookup" +
        (reach.lookup.count(cap.offset) ? "+" : "-");
}

/* -vvv: the register model's decoding of the structure at offset, its
 * title after the label and its registers under it. */
void PrintModel(FILE* out, const DetailOptions& options, const std::vector<uint8_t>& image, const char* label,
                bool extended, uint32_t offset)
{
    if (options.verbose < 3)
        return;
    std::vector<std::string> lines = qorbcli::DecodeModelRegisters(image, extended, static_cast<uint16_t>(offset));
    for (size_t i = 0; i < lines.size(); i++)
        fprintf(out, "%s%s\n", i ? "\t\t" : label, lines[i].c_str());
}

} // namespace

LibraryReach ReachOf(void* device)
{
    LibraryReach reach;
    for (const _QORB_PCI_DEVICE_CAP_INFO_t& info : WalkCapabilities(device, &reach.walkEnd))
        reach.walk.insert(info.offset);
    std::set<uint32_t>& l = reach.lookup;
    AddLookup<_PCIE_CAPABILITY_STRUCT_t>(l, device, GetPCIECapability);
    AddLookup<_PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT>(l, device, GetPowerManagementCapability);
    AddLookup<_PCI_MSI_X_CAPABILITY_STRUCT_t>(l, device, GetMSIXCapability);
    AddLookup<PCI_MSI_CAPABILITY_32_STRUCT_t>(l, device, Get32BitMSICapability);
    AddLookup<PCI_MSI_CAPABILITY_64_STRUCT_t>(l, device, Get64BitMSICapability);
    AddLookup<_PCIE_ADV_ERR_REP_CAP_STRUCT_t>(l, device, GetAdvErrRepCapability);
    AddLookup<_PCIE_VIRTUAL_CHANNEL_CAPABILITY_STRUCT_t>(l, device, GetDeviceVirtualChannelCapability);
    AddLookup<_PCIE_DEV_SERIAL_NUM_CAPABILITY_STRUCT>(l, device, GetDeviceSerialNumberCapability);
    AddLookup<_PCIE_POWER_BUDGET_CAPABILITY_STRUCT_t>(l, device, GetPowerBudgetingCapability);
    return reach;
}

std::string CapLine(const qorbcli::RawCap& cap, const LibraryReach& reach)
{
    return Where(cap) + " " + qorbcli::Hex(cap.id, cap.extended ? 4 : 2) + " " + cap.name + ", " + SizeText(cap) +
        ", " + Reach(cap, reach);
}

void DetailOptions::AddOptions(CLI::App* cmd)
{
    cmd->add_flag("-v", verbose,
                  "Decode the capabilities as lspci does: -v their names, -vv their registers; -vvv adds every "
                  "register of the header and of each capability the register model knows, field by field with "
                  "its bits, value and attribute");
    cmd->add_flag("-x", hex, "Hex dump of configuration space as lspci prints it: -x 64 bytes, -xxx 256, -xxxx 4096");
}

void PrintDetails(void* device, const DetailOptions& options, const LibraryReach* reach)
{
    if (options.verbose <= 0 && options.hex <= 0)
        return;
    FILE* out = Out();
    std::vector<uint8_t> image = ReadImage(device);
    if (options.verbose > 0) {
        std::string subsystem = Subsystem(image);
        if (!subsystem.empty())
            fprintf(out, "\tSubsystem: %s\n", subsystem.c_str());
        PrintModel(out, options, image, "\tHeader: ", false, 0);
        qorbcli::RawCapList lists = qorbcli::ReadCapLists(image);
        for (const qorbcli::RawCap& cap : lists.caps) {
            std::vector<std::string> lines = qorbcli::DecodeCapability(image, cap, lists.express, options.verbose > 1);
            std::string extra = reach ? "  <" + SizeText(cap) + ", " + Reach(cap, *reach) + ">" : "";
            fprintf(out, "\tCapabilities: %s %s%s\n", Where(cap).c_str(), lines[0].c_str(), extra.c_str());
            for (size_t i = 1; i < lines.size(); i++)
                fprintf(out, "\t\t%s\n", lines[i].c_str());
            PrintModel(out, options, image, "\t\tRegisters: ", cap.extended, cap.offset);
        }
        for (const std::string& finding : lists.findings)
            fprintf(out, "\tFinding: %s\n", finding.c_str());
        if (reach && !reach->walkEnd.empty())
            fprintf(out, "\tLibrary: %s\n", reach->walkEnd.c_str());
    }
    size_t length = qorbcli::HexDumpLength(options.hex, image);
    fputs(qorbcli::HexDump(image, length).c_str(), out);
    fputs("\n", out);
}

} // namespace qorbtool
