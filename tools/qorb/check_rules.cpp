/* The field-level checks: the read-only rules over the DUT's configuration
 * space as read, and with --writes the write probes through the library's
 * ReadConfigSpace and WriteConfigSpace. Each rule is one RuleResult of the
 * check; the check fails when one rule does. */
#include <linux/pci_regs.h>

#include <qorb_common/reg_model.h>

#include "check.h"
#include "verify.h"

namespace qorbtool {

using qorbcli::Outcome;

namespace {

/* The Device/Port Type of the function above the DUT's link. The parent
 * record is the DUT's own link (CheckOneDut owns it): read, never closed. */
int PortAbove(const CheckDut& dut)
{
    void* parent = nullptr;
    if (GetParentDevice(dut.device, &parent) != QORB_SUCCESS || !parent)
        return dut.bus == 0 ? qorbcli::kNoPortAbove : qorbcli::kUnknownPosition;
    std::vector<uint8_t> image = ReadConfigImage(parent);
    if (image.empty())
        return qorbcli::kUnknownPosition;
    return qorb_regs::Describe(image.data(), static_cast<uint32_t>(image.size())).portType;
}

void Summarise(qorbcli::CheckResult& r, const std::string& what)
{
    unsigned failed = 0;
    std::string names;
    for (const qorbcli::RuleResult& rule : r.rules)
        if (rule.verdict == Outcome::kFail) {
            ++failed;
            r.details.push_back(rule.rule + ": " + rule.Message());
            if (failed <= 8)
                names += " " + rule.rule;
        }
    r.outcome = failed ? Outcome::kFail : Outcome::kPass;
    r.message = std::to_string(r.rules.size()) + " " + what + ", " + std::to_string(failed) + " failed";
    if (failed)
        r.message += ":" + names + (failed > 8 ? " ..." : "") + " (" + r.details.front() + ")";
}

} // namespace

void CheckRegisterRules(const CheckDut& dut, qorbcli::CheckResult& r)
{
    const std::vector<uint8_t>& image = dut.Image();
    if (image.empty()) {
        r.outcome = Outcome::kFail;
        r.message = "the configuration space cannot be read";
        return;
    }
    qorbcli::RuleContext context;
    context.portAbove = PortAbove(dut);
    r.rules = qorbcli::ReadOnlyRules(image, context);
    Summarise(r, "register rules");
}

void CheckWriteProbes(const CheckDut& dut, qorbcli::CheckResult& r)
{
    std::vector<uint8_t> image = ReadConfigImage(dut.device);
    uint8_t line = 0;
    uint32_t n = 1;
    if (image.empty() || ReadConfigSpace(dut.device, &line, PCI_INTERRUPT_LINE, &n) != QORB_SUCCESS) {
        r.outcome = Outcome::kFail;
        r.message = "the configuration space cannot be read";
        return;
    }
    /* Interrupt Line written back as read: the driver shows whether it
     * takes writes at all (the sysfs driver only with allow_writes). */
    n = 1;
    if (WriteConfigSpace(dut.device, &line, PCI_INTERRUPT_LINE, &n) != QORB_SUCCESS || n != 1) {
        r.outcome = Outcome::kSkip;
        r.message = "the driver refuses configuration writes (the sysfs driver takes them only with allow_writes = "
                    "yes in qorbsysfs.ini)";
        return;
    }
    qorbcli::ConfigAccess access;
    access.read = [&](uint32_t offset, uint32_t width, uint32_t* value) {
        uint8_t bytes[4] = {};
        uint32_t length = width;
        if (ReadConfigSpace(dut.device, bytes, offset, &length) != QORB_SUCCESS || length != width)
            return false;
        *value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
        return true;
    };
    access.write = [&](uint32_t offset, uint32_t width, uint32_t value) {
        uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
        uint32_t length = width;
        return WriteConfigSpace(dut.device, bytes, offset, &length) == QORB_SUCCESS && length == width;
    };
    r.rules = qorbcli::WriteProbes(image, access);
    Summarise(r, "write probes");
}

} // namespace qorbtool
