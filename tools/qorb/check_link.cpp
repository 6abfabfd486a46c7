/* The link checks: retrain, and disable then enable, each commanded from
 * the port above the DUT and waited for on that port, the one that trains
 * the link. */
#include <chrono>
#include <thread>

#include "check.h"
#include "config_rules.h"

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

/* The port, or a skip when the DUT has none or link checks are off. */
void* PortFor(const CheckDut& dut, const CheckSettings& settings, qorbcli::CheckResult& r)
{
    if (!settings.linkChecks) {
        r.outcome = Outcome::kSkip;
        r.message = "link checks were turned off (--no-link)";
        return nullptr;
    }
    void* port = PortOf(dut.device);
    if (!port) {
        r.outcome = Outcome::kSkip;
        r.message = "no port above the link of " + dut.slot + " (a root port, or not PCI Express)";
    }
    return port;
}

void Fail(qorbcli::CheckResult& r, const std::string& message)
{
    r.outcome = Outcome::kFail;
    r.message = message;
}

} // namespace

void CheckRetrain(const CheckDut& dut, const CheckSettings& settings, qorbcli::CheckResult& r)
{
    void* port = PortFor(dut, settings, r);
    if (!port)
        return;
    std::string portSlot = DeviceSlot(port);
    int before = ReadLinkStatus(dut.device);
    if (before < 0)
        return Fail(r, "the Link Status of " + dut.slot + " cannot be read");
    r.details.push_back("before: " + qorbcli::LinkText(static_cast<uint16_t>(before)));
    _QORB_STATUS_t status = QORB_RetrainDUTLink(dut.device);
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
    void* port = PortFor(dut, settings, r);
    if (!port)
        return;
    std::string portSlot = DeviceSlot(port);
    _QORB_STATUS_t status = QORB_DisableLink(dut.device);
    if (status != QORB_SUCCESS)
        return Fail(r, "disabling the link at " + portSlot + " failed: " + StatusText(status));
    bool vanished = PollAnswers(dut, false);
    r.details.push_back(vanished ? dut.slot + " is absent while the link is disabled"
                                 : dut.slot + " still answers while the link is disabled");
    /* Whatever was seen, the link is brought back up. */
    status = QORB_EnableLink(dut.device);
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
