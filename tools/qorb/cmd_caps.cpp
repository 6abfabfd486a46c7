/* qorb caps: the library's capability walk of each selected function, the
 * legacy list first and then the extended list. */
#include "json.h"
#include "names.h"
#include <CLI/CLI.hpp>

#include "tool.h"

namespace qorbtool {

namespace {

struct CapsOptions {
    Selection selection;
    bool json = false;
};

struct CapEntry {
    _QORB_PCI_DEVICE_CAP_INFO_t info;
    bool Extended() const { return info.offset >= 0x100; }
    std::string Name() const
    {
        std::string name = Extended() ? qorbcli::ExtendedCapName(info.capabilityId)
                                      : qorbcli::LegacyCapName(info.capabilityId);
        return name.empty() ? "Unknown" : name;
    }
};

std::vector<CapEntry> Walk(void* device, std::string* stop)
{
    std::vector<CapEntry> entries;
    for (const _QORB_PCI_DEVICE_CAP_INFO_t& info : WalkCapabilities(device, stop))
        entries.push_back(CapEntry{info});
    return entries;
}

std::string EntryLine(const CapEntry& e)
{
    using qorbcli::Hex;
    int offsetDigits = e.Extended() ? 3 : 2;
    return "[" + Hex(e.info.offset, offsetDigits) + "] " + Hex(e.info.capabilityId, e.Extended() ? 4 : 2) + " " +
           e.Name() + ", length " + std::to_string(e.info.length) + ", next " +
           Hex(e.info.nextOffset, e.info.nextOffset >= 0x100 || e.Extended() ? 3 : 2);
}

} // namespace

void AddCapsCommand(CLI::App& app)
{
    auto options = std::make_shared<CapsOptions>();
    CLI::App* cmd = app.add_subcommand("caps", "Walk the capabilities of functions, legacy then extended, with "
                                               "offsets, IDs and lengths");
    options->selection.AddOptions(cmd);
    cmd->add_flag("--json", options->json, "Print the walks as JSON");
    cmd->callback([options] {
        options->selection.Parse();
        Session session;
        std::vector<Function> found = Scan(options->selection);
        if (found.empty() && options->selection.Given())
            throw UsageError("no function matches " + options->selection.Text());
        qorbcli::Json list = qorbcli::Json::Array();
        for (const Function& f : found) {
            Device record = OpenFunction(f);
            std::string stop;
            std::vector<CapEntry> entries = Walk(record.Get(), &stop);
            /* A walk that could not reach the end of the lists failed. */
            if (!stop.empty())
                ExitStatus() = kExitFailed;
            if (options->json) {
                qorbcli::Json caps = qorbcli::Json::Array();
                for (const CapEntry& e : entries)
                    caps.Push(qorbcli::Json::Object()
                                  .Set("list", e.Extended() ? "extended" : "legacy")
                                  .Set("offset", e.info.offset)
                                  .Set("id", e.info.capabilityId)
                                  .Set("name", e.Name())
                                  .Set("length", e.info.length)
                                  .Set("next", e.info.nextOffset));
                qorbcli::Json entry = qorbcli::Json::Object();
                entry.Set("slot", f.Slot()).Set("capabilities", caps);
                if (!stop.empty())
                    entry.Set("stopped", stop);
                list.Push(entry);
                continue;
            }
            fprintf(Out(), "%s %s:%s\n", f.Slot().c_str(), qorbcli::Hex(f.Vendor(), 4).c_str(),
                    qorbcli::Hex(f.DeviceId(), 4).c_str());
            if (entries.empty() && stop.empty())
                fprintf(Out(), "  (no capabilities)\n");
            for (const CapEntry& e : entries)
                fprintf(Out(), "  %s\n", EntryLine(e).c_str());
            if (!stop.empty())
                fprintf(Out(), "  (%s)\n", stop.c_str());
        }
        if (options->json)
            fputs(list.Dump().c_str(), Out());
    });
}

} // namespace qorbtool
