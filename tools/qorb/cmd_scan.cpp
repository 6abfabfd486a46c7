/* qorb scan: every function of the domain served, then the domains. */
#include <linux/pci_regs.h>

#include "inspect.h"
#include "json.h"
#include "names.h"
#include <CLI/CLI.hpp>

#include "tool.h"

namespace qorbtool {

namespace {

struct ScanOptions {
    Selection selection;
    DetailOptions details;
    bool json = false;
};

std::string PortTypeLabel(const Function& f)
{
    return f.portType < 0 ? "conventional PCI" : qorbcli::PortTypeName(static_cast<uint32_t>(f.portType));
}

void PrintLine(const Function& f)
{
    using qorbcli::Hex;
    std::string line = f.Slot() + " " + Hex(f.ClassCode(), 4) + ": " + Hex(f.Vendor(), 4) + ":" + Hex(f.DeviceId(), 4);
    if (f.header[PCI_REVISION_ID])
        line += " (rev " + Hex(f.header[PCI_REVISION_ID], 2) + ")";
    if (f.header[PCI_CLASS_PROG])
        line += " (prog-if " + Hex(f.header[PCI_CLASS_PROG], 2) + ")";
    line += " " + qorbcli::ClassName(f.header[PCI_CLASS_DEVICE + 1], f.header[PCI_CLASS_DEVICE]);
    line += " [" + PortTypeLabel(f) + "]";
    fprintf(Out(), "%s\n", line.c_str());
}

/* The last line: the domain served and every domain the driver found. */
void PrintDomains()
{
    std::string line = "domain " + DomainText(Globals().domain) + " served";
    if (Globals().domains.empty()) {
        line += " (the driver does not list the domains it found)";
    } else {
        line += "; domains present:";
        for (uint32_t domain : Globals().domains)
            line += " " + DomainText(domain);
    }
    fprintf(Out(), "%s\n", line.c_str());
}

qorbcli::Json ToJson(const Function& f)
{
    using qorbcli::Hex;
    using qorbcli::Json;
    Json entry = Json::Object();
    entry.Set("slot", f.Slot())
        .Set("domain", DomainText(Globals().domain))
        .Set("bus", f.bus)
        .Set("device", f.dev)
        .Set("function", f.fn)
        .Set("vendor_id", Hex(f.Vendor(), 4))
        .Set("device_id", Hex(f.DeviceId(), 4))
        .Set("class", Hex(f.ClassCode(), 4))
        .Set("class_name", qorbcli::ClassName(f.header[PCI_CLASS_DEVICE + 1], f.header[PCI_CLASS_DEVICE]))
        .Set("prog_if", Hex(f.header[PCI_CLASS_PROG], 2))
        .Set("revision", Hex(f.header[PCI_REVISION_ID], 2))
        .Set("header_type", static_cast<int>(f.header[PCI_HEADER_TYPE] & 0x7f))
        .Set("multifunction", (f.header[PCI_HEADER_TYPE] & 0x80) != 0);
    if (f.portType < 0)
        entry.Set("port_type", Json()).Set("port_type_name", Json());
    else
        entry.Set("port_type", f.portType).Set("port_type_name", PortTypeLabel(f));
    return entry;
}

} // namespace

void AddScanCommand(CLI::App& app)
{
    auto options = std::make_shared<ScanOptions>();
    CLI::App* cmd = app.add_subcommand("scan",
                                       "List every function of the domain served (buses 00-ff): location, "
                                       "class, IDs and PCI Express port type; then the domains present");
    options->selection.AddOptions(cmd);
    options->details.AddOptions(cmd);
    cmd->add_flag("--json", options->json, "Print the functions as a JSON array");
    cmd->callback([options] {
        options->selection.Parse();
        Session session;
        std::vector<Function> found = Scan(options->selection);
        if (options->json) {
            qorbcli::Json list = qorbcli::Json::Array();
            for (const Function& f : found)
                list.Push(ToJson(f));
            fputs(list.Dump().c_str(), Out());
            return;
        }
        for (const Function& f : found) {
            PrintLine(f);
            Device record = OpenFunction(f);
            PrintDetails(record.Get(), options->details);
        }
        PrintDomains();
    });
}

} // namespace qorbtool
