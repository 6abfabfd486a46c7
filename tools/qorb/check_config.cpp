/* The configuration space checks: header, capability lists, PCI Express
 * capability and link. They read the live registers through the library and
 * judge them with the rules of the helper library. */
#include <linux/pci_regs.h>

#include "check.h"
#include "config_rules.h"
#include "names.h"
#include "pcie_raw.h"

namespace qorbtool {

using qorbcli::Outcome;

namespace {

void Judge(qorbcli::CheckResult& r, const std::vector<std::string>& problems, const std::string& passMessage)
{
    if (problems.empty()) {
        r.outcome = Outcome::kPass;
        r.message = passMessage;
        return;
    }
    r.outcome = Outcome::kFail;
    r.message = problems.front() + (problems.size() > 1 ? " (and " + std::to_string(problems.size() - 1) + " more)" : "");
    r.details.insert(r.details.begin(), problems.begin(), problems.end());
}

int PortType(void* device)
{
    _QORB_DEV_PORT_TYPE_t type;
    return GetDeviceType(device, &type) == QORB_SUCCESS ? static_cast<int>(type) : -1;
}

/* The port type as the library sees it, else as the raw walk finds it. */
int PortType(void* device, const std::vector<uint8_t>& image)
{
    int type = PortType(device);
    return type >= 0 ? type : qorbcli::FindRawPcie(image).PortType();
}

} // namespace

void CheckConfigHeader(const CheckDut& dut, qorbcli::CheckResult& r)
{
    const std::vector<uint8_t>& image = dut.Image();
    if (image.empty()) {
        r.outcome = Outcome::kFail;
        r.message = "the configuration header cannot be read";
        return;
    }
    int portType = PortType(dut.device, image);
    uint8_t layout = image[PCI_HEADER_TYPE] & 0x7f;
    std::string what = portType < 0 ? "no PCI Express capability"
                                    : "port type " + qorbcli::PortTypeName(static_cast<uint32_t>(portType));
    Judge(r, qorbcli::CheckHeader(image, portType),
          "IDs " + qorbcli::Hex(dut.vendor, 4) + ":" + qorbcli::Hex(dut.deviceId, 4) + ", type " +
              std::to_string(layout) + " header, " + what + ", Capabilities Pointer " +
              qorbcli::Hex(image[PCI_CAPABILITY_LIST], 2));
}

void CheckCapabilityLists(const CheckDut& dut, qorbcli::CheckResult& r)
{
    qorbcli::CapListReport report = qorbcli::CheckCapabilityLists(dut.Image());
    r.details = report.notes;
    std::string ids;
    for (uint32_t id : report.legacyIds)
        ids.append(ids.empty() ? "" : " ").append(qorbcli::Hex(id, 2));
    for (uint32_t id : report.extendedIds)
        ids.append(ids.empty() ? "" : " ").append(qorbcli::Hex(id, 4));
    if (!ids.empty())
        r.details.push_back("capability IDs in list order: " + ids);
    Judge(r, report.problems,
          std::to_string(report.legacyIds.size()) + " legacy and " + std::to_string(report.extendedIds.size()) +
              " extended capabilities; pointers aligned and in range, no loop, no duplicate PCI Express or AER");
}

void CheckPcieCapability(const CheckDut& dut, qorbcli::CheckResult& r)
{
    _PCIE_CAPABILITY_STRUCT_t cap;
    void* handle = nullptr;
    _QORB_STATUS_t status = GetPCIECapability(dut.device, &cap, &handle);
    uint32_t offset = 0;
    if (handle)
        GetCapOffset(handle, &offset);
    QORB_FreeCapabilityHandle(handle);
    /* A list that loops or points wildly after the capability fails the
     * library's lookup (it counts instances to the end of the list); the
     * capability is read from the raw walk then, and the list's fault is
     * the capability lists check's finding. */
    std::string rawNote;
    if (status != QORB_SUCCESS) {
        qorbcli::RawPcie raw = qorbcli::FindRawPcie(dut.Image());
        if (raw.offset && !raw.listEnd.empty()) {
            cap = raw.cap;
            offset = raw.offset;
            rawNote = " (found by walking the list, which " + raw.listEnd + " after it)";
            r.details.push_back("the library's lookup fails with " + StatusText(status) + ": the legacy list " +
                                raw.listEnd + " after the capability");
            status = QORB_SUCCESS;
        }
    }
    if (status == QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP) {
        r.outcome = Outcome::kFail;
        r.message = "the PCI Express capability is present more than once";
        return;
    }
    if (status != QORB_SUCCESS) {
        r.outcome = Outcome::kFail;
        r.message = "no PCI Express capability: " + StatusText(status);
        return;
    }
    std::vector<std::string> notes;
    std::vector<std::string> problems = qorbcli::CheckPcieCapability(cap, &notes);
    int portType = PortType(dut.device);
    uint32_t fieldType = (cap.pcieCapabilities & PCI_EXP_FLAGS_TYPE) >> 4;
    if (rawNote.empty() && portType != static_cast<int>(fieldType))
        problems.push_back("the library reports port type " + std::to_string(portType) + " but the register holds " +
                           std::to_string(fieldType));
    r.details.insert(r.details.begin(), notes.begin(), notes.end());
    std::string summary = "at " + qorbcli::Hex(offset, 2) + rawNote;
    for (const std::string& note : notes)
        summary += ", " + note;
    Judge(r, problems, "present once " + summary);
}

} // namespace qorbtool
