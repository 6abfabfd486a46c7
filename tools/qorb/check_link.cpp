/* The link checks: retrain, and disable then enable, each commanded from
 * the port above the DUT and waited for on that port, the one that trains
 * the link. */
#include <chrono>
#include <thread>

#include <linux/pci_regs.h>

#include "check.h"
#include "config_rules.h"
#include "pcie_raw.h"

namespace qorbtool {

using qorbcli::Outcome;

namespace {

/* How long a DUT is given to vanish after its link is disabled, or to come
 * back after it trained again: polls of the configuration header. */
constexpr unsigned kPresencePolls = 50;
constexpr auto kPresenceInterval = std::chrono::milliseconds(10);

/* Whether the DUT's location answers with the DUT's IDs. */
bool Answers(const CheckDut& dut)
{
    void* probe = nullptr;
    if (FindDevice(dut.bus, dut.dev, dut.fn, &probe) != QORB_SUCCESS)
        return false;
    uint16_t vendor = 0, device = 0;
    GetVendorID(probe, &vendor);
    GetDeviceID(probe, &device);
    CloseDevice(probe);
    return vendor == dut.vendor && device == dut.deviceId;
}

bool PollAnswers(const CheckDut& dut, bool wanted)
{
    for (unsigned i = 0; i < kPresencePolls; i++) {
        if (Answers(dut) == wanted)
            return true;
        std::this_thread::sleep_for(kPresenceInterval);
    }
    return false;
}

std::string WaitText(const LinkWait& wait)
{
    return std::to_string(static_cast<long>(wait.tries) * wait.delayMs) + " ms";
}

/* The port that drives the DUT's link. OpenDevice links it to the DUT;
 * when the library links none because its lookup cannot read the DUT's PCI
 * Express capability (a list that loops after it), it is found here from
 * the raw walk's port type as the library's parent resolution would, and
 * the link is driven through the port's Link Control directly. */
struct LinkPort {
    void* port = nullptr;
    bool direct = false;
    Device above, second; /* the records found here */

    _QORB_STATUS_t Retrain(const CheckDut& dut) const
    {
        return direct ? SetLinkControl(PCI_EXP_LNKCTL_RL, 0) : QORB_RetrainDUTLink(dut.device);
    }
    _QORB_STATUS_t Disable(const CheckDut& dut, bool off) const
    {
        if (direct)
            return off ? SetLinkControl(PCI_EXP_LNKCTL_LD, 0) : SetLinkControl(0, PCI_EXP_LNKCTL_LD);
        return off ? QORB_DisableLink(dut.device) : QORB_EnableLink(dut.device);
    }

private:
    _QORB_STATUS_t SetLinkControl(uint16_t set, uint16_t clear) const
    {
        _PCIE_CAPABILITY_STRUCT_t cap;
        void* handle = nullptr;
        _QORB_STATUS_t status = GetPCIECapability(port, &cap, &handle);
        uint32_t offset = 0;
        if (handle)
            GetCapOffset(handle, &offset);
        QORB_FreeCapabilityHandle(handle);
        if (status != QORB_SUCCESS)
            return status;
        uint16_t value = static_cast<uint16_t>((cap.linkControl | set) & ~clear);
        uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
        uint32_t n = sizeof bytes;
        return WriteConfigSpace(port, bytes, offset + PCI_EXP_LNKCTL, &n);
    }
};

/* The port, or a skip when the DUT has none or link checks are off. */
bool PortFor(const CheckDut& dut, const CheckSettings& settings, LinkPort& link, qorbcli::CheckResult& r)
{
    if (!settings.linkChecks) {
        r.outcome = Outcome::kSkip;
        r.message = "link checks were turned off (--no-link)";
        return false;
    }
    link.port = PortOf(dut.device);
    if (link.port)
        return true;
    int type = qorbcli::FindRawPcie(dut.Image()).PortType();
    bool above = type == PCI_EXP_TYPE_ENDPOINT || type == PCI_EXP_TYPE_LEG_END || type == PCI_EXP_TYPE_UPSTREAM ||
        type == PCI_EXP_TYPE_PCI_BRIDGE || type == PCI_EXP_TYPE_DOWNSTREAM;
    _PCIE_CAPABILITY_STRUCT_t cap;
    if (above && !ReadPcieCapability(dut.device, &cap)) {
        link.above = Device(QORB_GetUpStreamPort(dut.device));
        if (type == PCI_EXP_TYPE_DOWNSTREAM && link.above)
            link.second = Device(QORB_GetUpStreamPort(link.above.Get()));
        link.port = type == PCI_EXP_TYPE_DOWNSTREAM ? link.second.Get() : link.above.Get();
    }
    if (!link.port) {
        r.outcome = Outcome::kSkip;
        r.message = type < 0 ? "no port above the link of " + dut.slot + " (not PCI Express)"
                             : "no port above the link of " + dut.slot + " (a root port, or no bridge above it)";
        return false;
    }
    link.direct = true;
    r.details.push_back("the library links no port to " + dut.slot +
                        " (its lookup cannot read the PCI Express capability); the link is driven from " +
                        DeviceSlot(link.port) + "'s Link Control directly");
    return true;
}

void Fail(qorbcli::CheckResult& r, const std::string& message)
{
    r.outcome = Outcome::kFail;
    r.message = message;
}

} // namespace

void CheckRetrain(const CheckDut& dut, const CheckSettings& settings, qorbcli::CheckResult& r)
{
    LinkPort link;
    if (!PortFor(dut, settings, link, r))
        return;
    void* port = link.port;
    std::string portSlot = DeviceSlot(port);
    int before = ReadLinkStatus(dut.device);
    if (before < 0)
        return Fail(r, "the Link Status of " + dut.slot + " cannot be read");
    r.details.push_back("before: " + qorbcli::LinkText(static_cast<uint16_t>(before)));
    _QORB_STATUS_t status = link.Retrain(dut);
    if (status != QORB_SUCCESS)
        return Fail(r, "retraining from " + portSlot + " failed: " + StatusText(status));
    if (!WaitForTraining(port, settings.wait))
        return Fail(r, "Link Training of " + portSlot + " is still set after " + WaitText(settings.wait));
    if (!PollAnswers(dut, true))
        return Fail(r, dut.slot + " does not answer after the retrain");
    int after = ReadLinkStatus(dut.device);
    if (after < 0)
        return Fail(r, "the Link Status of " + dut.slot + " cannot be read after the retrain");
    r.details.push_back("after: " + qorbcli::LinkText(static_cast<uint16_t>(after)));
    uint16_t b = static_cast<uint16_t>(before), a = static_cast<uint16_t>(after);
    if (qorbcli::LinkWidth(a) != qorbcli::LinkWidth(b) || qorbcli::LinkSpeed(a) != qorbcli::LinkSpeed(b))
        return Fail(r, "the link came back " + qorbcli::LinkText(a) + ", it was " + qorbcli::LinkText(b));
    r.outcome = Outcome::kPass;
    r.message = "retrained from " + portSlot + "; " + dut.slot + " answers, link still " + qorbcli::LinkText(a);
}

void CheckDisableEnable(const CheckDut& dut, const CheckSettings& settings, qorbcli::CheckResult& r)
{
    LinkPort link;
    if (!PortFor(dut, settings, link, r))
        return;
    void* port = link.port;
    std::string portSlot = DeviceSlot(port);
    _QORB_STATUS_t status = link.Disable(dut, true);
    if (status != QORB_SUCCESS)
        return Fail(r, "disabling the link at " + portSlot + " failed: " + StatusText(status));
    bool vanished = PollAnswers(dut, false);
    r.details.push_back(vanished ? dut.slot + " is absent while the link is disabled"
                                 : dut.slot + " still answers while the link is disabled");
    /* Whatever was seen, the link is brought back up. */
    status = link.Disable(dut, false);
    if (status != QORB_SUCCESS)
        return Fail(r, "enabling the link at " + portSlot + " failed: " + StatusText(status));
    if (!WaitForTraining(port, settings.wait))
        return Fail(r, "Link Training of " + portSlot + " is still set after " + WaitText(settings.wait));
    if (!PollAnswers(dut, true))
        return Fail(r, dut.slot + " does not answer after the link was enabled");
    if (!vanished)
        return Fail(r, dut.slot + " still answers while its link is disabled");
    int after = ReadLinkStatus(dut.device);
    r.outcome = Outcome::kPass;
    r.message = dut.slot + " absent while disabled at " + portSlot + ", answers again after enable" +
                (after < 0 ? "" : ", link " + qorbcli::LinkText(static_cast<uint16_t>(after)));
}

} // namespace qorbtool
