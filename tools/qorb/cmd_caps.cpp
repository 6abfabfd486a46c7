/* qorb caps: the capability lists of each selected function, walked by the
 * tool from the raw registers, legacy list first and then extended: offset,
 * ID, lspci's name, the size the structure's registers give it, and whether
 * the library's own walk and typed lookups reach it. What is wrong with a
 * list (a loop, a pointer into the header or out of the space) is a
 * finding, and makes the exit status 1. */
#include "inspect.h"
#include "json.h"
#include "names.h"
#include <CLI/CLI.hpp>

#include "tool.h"

namespace qorbtool {

namespace {

struct CapsOptions {
    Selection selection;
    DetailOptions details;
    bool json = false;
};

std::string HeadLine(const Function& f)
{
    using qorbcli::Hex;
    std::string line = f.Slot() + " " + Hex(f.Vendor(), 4) + ":" + Hex(f.DeviceId(), 4) + " " +
        qorbcli::ClassName(f.header[0x0b], f.header[0x0a]);
    if (!qorbcli::VendorName(f.Vendor()).empty())
        line += ": " + qorbcli::VendorDeviceText(f.Vendor(), f.DeviceId());
    return line;
}

qorbcli::Json ToJson(const Function& f, const qorbcli::RawCapList& lists, const LibraryReach& reach)
{
    using qorbcli::Json;
    Json caps = Json::Array();
    for (const qorbcli::RawCap& cap : lists.caps) {
        Json entry = Json::Object();
        entry.Set("list", cap.extended ? "extended" : "legacy").Set("offset", cap.offset).Set("id", cap.id);
        if (cap.extended)
            entry.Set("version", cap.version);
        entry.Set("name", cap.name)
            .Set("size", cap.size < 0 ? Json() : Json(cap.size))
            .Set("next", cap.next)
            .Set("library_walk", reach.walk.count(cap.offset) > 0)
            .Set("library_lookup", reach.lookup.count(cap.offset) > 0);
        caps.Push(entry);
    }
    Json findings = Json::Array();
    for (const std::string& finding : lists.findings)
        findings.Push(finding);
    Json entry = Json::Object();
    entry.Set("slot", f.Slot()).Set("capabilities", caps).Set("findings", findings);
    entry.Set("library_walk_end", reach.walkEnd.empty() ? Json() : Json(reach.walkEnd));
    return entry;
}

void PrintList(const Function& f, const qorbcli::RawCapList& lists, const LibraryReach& reach)
{
    FILE* out = Out();
    fprintf(out, "%s\n", HeadLine(f).c_str());
    if (lists.caps.empty() && lists.findings.empty())
        fprintf(out, "  (no capabilities)\n");
    for (const qorbcli::RawCap& cap : lists.caps)
        fprintf(out, "  %s\n", CapLine(cap, reach).c_str());
    for (const std::string& finding : lists.findings)
        fprintf(out, "  finding: %s\n", finding.c_str());
    if (!reach.walkEnd.empty())
        fprintf(out, "  library: %s\n", reach.walkEnd.c_str());
}

} // namespace

void AddCapsCommand(CLI::App& app)
{
    auto options = std::make_shared<CapsOptions>();
    CLI::App* cmd = app.add_subcommand("caps",
                                       "List the capabilities of functions from their registers, legacy then "
                                       "extended: offsets, IDs, names, sizes and the library's reach");
    options->selection.AddOptions(cmd);
    options->details.AddOptions(cmd);
    cmd->add_flag("--json", options->json, "Print the lists as JSON");
    cmd->callback([options] {
        options->selection.Parse();
        Session session;
        std::vector<Function> found = Scan(options->selection);
        if (found.empty() && options->selection.Given())
            throw UsageError("no function matches " + options->selection.Text());
        qorbcli::Json list = qorbcli::Json::Array();
        for (const Function& f : found) {
            Device record = OpenFunction(f);
            qorbcli::RawCapList lists = qorbcli::ReadCapLists(ReadImage(record.Get()));
            LibraryReach reach = ReachOf(record.Get());
            if (!lists.findings.empty())
                ExitStatus() = kExitFailed;
            if (options->json) {
                list.Push(ToJson(f, lists, reach));
                continue;
            }
            if (options->details.verbose > 0)
                fprintf(Out(), "%s\n", HeadLine(f).c_str());
            else
                PrintList(f, lists, reach);
            PrintDetails(record.Get(), options->details, &reach);
        }
        if (options->json)
            fputs(list.Dump().c_str(), Out());
    });
}

} // namespace qorbtool
