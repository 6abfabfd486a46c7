/* qorb link retrain|disable|enable|wait: the link of a DUT, commanded from
 * the port above it (the library's parent link). Retraining and enabling
 * wait until the port that trains the link reports Link Training clear. */
#include "config_rules.h"
#include "names.h"
#include "pcie_raw.h"
#include <CLI/CLI.hpp>

#include "tool.h"

namespace qorbtool {

bool WaitForTraining(void* port, const LinkWait& wait)
{
    for (unsigned i = 0; i < wait.tries; i++) {
        _QORB_STATUS_t status = QORB_WaitForDeviceToRetrain(port, wait.delayMs);
        if (status == QORB_SUCCESS)
            return true;
        if (status != QORB_STATUS_FAILED)
            return false; /* the port's capability cannot be read: no use waiting */
    }
    return false;
}

void* PortOf(void* dut)
{
    void* port = nullptr;
    if (QORB_GetPortToResetOrRetrain(dut, &port) != QORB_SUCCESS)
        return nullptr;
    return port;
}

int ReadLinkStatus(void* device)
{
    _PCIE_CAPABILITY_STRUCT_t cap;
    if (ReadPcieCapability(device, &cap))
        return cap.linkStatus;
    /* The library's lookup fails on a list that loops after the capability. */
    qorbcli::RawPcie raw = qorbcli::FindRawPcie(ReadConfigImage(device));
    return raw.offset ? raw.cap.linkStatus : -1;
}

namespace {

struct LinkOptions {
    Selection selection;
    LinkWait wait;
};

std::string LinkNow(void* device)
{
    int status = ReadLinkStatus(device);
    return status < 0 ? "link status unreadable" : qorbcli::LinkText(static_cast<uint16_t>(status));
}

void Run(const LinkOptions& options, const std::string& action)
{
    options.selection.Parse();
    Session session;
    Function f = ScanOne(options.selection, ("link " + action).c_str());
    Device dut = OpenFunction(f);
    Device parent = OpenLinked(dut.Get(), QORB_ACCESS_READ_WRITE);
    void* port = PortOf(dut.Get());
    if (!port)
        throw OperationFailed(f.Slot() + " has no port above its link (a root port, or not PCI Express)");
    std::string portSlot = DeviceSlot(port);
    std::string waitText = std::to_string(options.wait.tries) + " x " + std::to_string(options.wait.delayMs) + " ms";

    _QORB_STATUS_t status = QORB_SUCCESS;
    if (action == "retrain")
        status = QORB_RetrainDUTLink(dut.Get());
    else if (action == "disable")
        status = QORB_DisableLink(dut.Get());
    else if (action == "enable")
        status = QORB_EnableLink(dut.Get());
    if (status != QORB_SUCCESS)
        throw OperationFailed(action + " of the link of " + f.Slot() + " at " + portSlot + " failed: " +
                              StatusText(status));
    if (action == "disable") {
        fprintf(Out(), "%s: link disabled at %s\n", f.Slot().c_str(), portSlot.c_str());
        return;
    }
    if (!WaitForTraining(port, options.wait))
        throw OperationFailed("Link Training of " + portSlot + " is still set after " + waitText);
    const char* done = action == "retrain" ? "retrained" : action == "enable" ? "enabled" : "trained";
    fprintf(Out(), "%s: link %s at %s, %s\n", f.Slot().c_str(), done, portSlot.c_str(), LinkNow(port).c_str());
}

} // namespace

void AddLinkCommand(CLI::App& app)
{
    auto options = std::make_shared<LinkOptions>();
    CLI::App* link = app.add_subcommand("link", "Retrain, disable, enable the link of a DUT from the port above it, "
                                                "or wait for it to train");
    link->require_subcommand(1);
    link->fallthrough();
    options->selection.AddOptions(link);
    static const char* const actions[][2] = {
        {"retrain", "Set Retrain Link at the port above the DUT and wait for training to end"},
        {"disable", "Set Link Disable at the port above the DUT"},
        {"enable", "Clear Link Disable at the port above the DUT and wait for training to end"},
        {"wait", "Wait until the port above the DUT reports Link Training clear"},
    };
    for (const auto& action : actions) {
        CLI::App* cmd = link->add_subcommand(action[0], action[1]);
        cmd->fallthrough();
        if (std::string(action[0]) != "disable") {
            cmd->add_option("--delay", options->wait.delayMs, "Milliseconds before each test of Link Training")
                ->check(CLI::Range(0, 60000))
                ->capture_default_str();
            cmd->add_option("--tries", options->wait.tries, "How often Link Training is tested at most")
                ->check(CLI::Range(1, 100000))
                ->capture_default_str();
        }
        std::string name = action[0];
        cmd->callback([options, name] { Run(*options, name); });
    }
}

} // namespace qorbtool
