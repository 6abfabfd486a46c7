/* The capability walk as the tool shows it, the PCI Express capability
 * decoded, every register of the register model's structures, and the
 * Advanced Error Reporting status with the library's assertions. Registers
 * are decoded here from the raw structures the public API hands out, with
 * the field names of <linux/pci_regs.h>, or from the raw image with the
 * register model's tables. */
#include <string.h>

#include <iterator>

#include <linux/pci_regs.h>

#include <qorb_common/aer_bits.h>
#include <qorb_common/cap_walk.h>

#include "names.h"
#include "reg_decode.h"
#include "qorb_py.h"

namespace qorbpy {

namespace {

/* Bounds the walk of a list that loops (a malformed or hostile device). */
constexpr size_t kMaxCapabilities = 1024;

/* GetFirstCapability/GetNextCapability, legacy list then extended list,
 * each handle released as soon as it has been asked. */
py::list Capabilities(Device& d)
{
    py::list out;
    void* current = nullptr;
    if (GetFirstCapability(d.Get(), &current) != QORB_SUCCESS)
        return out; /* no capability list */
    _QORB_STATUS_t status = QORB_SUCCESS;
    while (status == QORB_SUCCESS && current && out.size() < kMaxCapabilities) {
        _QORB_PCI_DEVICE_CAP_INFO_t info{};
        QORB_QueryCapInfo(current, &info);
        bool extended = info.offset >= 0x100;
        std::string name =
            extended ? qorbcli::ExtendedCapName(info.capabilityId) : qorbcli::LegacyCapName(info.capabilityId);
        py::dict cap;
        cap["list"] = extended ? "extended" : "legacy";
        cap["offset"] = info.offset;
        cap["id"] = info.capabilityId;
        cap["name"] = name.empty() ? "Unknown" : name;
        cap["length"] = info.length;
        cap["next"] = info.nextOffset;
        out.append(cap);
        void* next = nullptr;
        status = GetNextCapability(d.Get(), &next, current);
        QORB_FreeCapabilityHandle(current);
        current = next;
    }
    QORB_FreeCapabilityHandle(current);
    if (status != QORB_SUCCESS && status != QORB_PCIE_CAP_DOES_NOT_EXIST)
        Check(status);
    return out;
}

/* The function's configuration space as one image: 4 KiB, or the 256 bytes
 * of conventional space when the extended space cannot be read. */
std::vector<uint8_t> ReadImage(Device& d)
{
    std::vector<uint8_t> image(0x1000);
    for (uint32_t size : {0x1000u, 0x100u}) {
        uint32_t length = size;
        if (ReadConfigSpace(d.Get(), image.data(), 0, &length) == QORB_SUCCESS && length == size) {
            image.resize(size);
            return image;
        }
    }
    throw StatusError{QORB_PCIE_CONFIG_READ_FAILED};
}

const char* EndName(qorb_caps::End end)
{
    static constexpr const char* kNames[] = {"end",  "no list",  "into header", "out of space",
                                             "loop", "all ones", "too many"};
    return kNames[static_cast<int>(end)];
}

/* Both lists walked over the raw image as software must walk them, with how
 * each walk ended: the shape of the lists themselves, which the library's
 * walk does not report. */
py::dict RawWalk(Device& d)
{
    std::vector<uint8_t> image = ReadImage(d);
    py::dict out;
    const struct {
        const char* list;
        qorb_caps::List walk;
    } lists[] = {{"legacy", qorb_caps::WalkLegacy(image.data(), image.size())},
                 {"extended", qorb_caps::WalkExtended(image.data(), image.size())}};
    py::list caps;
    for (const auto& l : lists) {
        bool extended = l.list == std::string("extended");
        for (const qorb_caps::Cap& c : l.walk.caps) {
            std::string name = extended ? qorbcli::ExtendedCapName(c.id) : qorbcli::LegacyCapName(c.id);
            py::dict cap;
            cap["list"] = l.list;
            cap["offset"] = c.offset;
            cap["id"] = c.id;
            cap["name"] = name.empty() ? "Unknown" : name;
            if (extended)
                cap["version"] = c.version;
            caps.append(cap);
        }
        out[(std::string(l.list) + "_end").c_str()] = EndName(l.walk.end);
        out[(std::string(l.list) + "_end_at").c_str()] = l.walk.at;
    }
    out["capabilities"] = caps;
    return out;
}

uint32_t Field(uint32_t value, uint32_t mask) { return (value & mask) / (mask & ~(mask << 1)); }

py::dict Pcie(Device& d)
{
    _PCIE_CAPABILITY_STRUCT_t c{};
    void* handle = nullptr;
    _QORB_STATUS_t status = GetPCIECapability(d.Get(), &c, &handle);
    uint32_t offset = 0;
    if (status == QORB_SUCCESS)
        GetCapOffset(handle, &offset);
    QORB_FreeCapabilityHandle(handle);
    Check(status);
    py::dict registers;
    registers["capabilities"] = c.pcieCapabilities;
    registers["device_capabilities"] = c.deviceCapabilities;
    registers["device_control"] = c.deviceControl;
    registers["device_status"] = c.deviceStatus;
    registers["link_capabilities"] = c.linkCapabilities;
    registers["link_control"] = c.linkControl;
    registers["link_status"] = c.linkStatus;
    registers["slot_capabilities"] = c.slotCapabilities;
    registers["slot_control"] = c.slotControl;
    registers["slot_status"] = c.slotStatus;
    registers["root_control"] = c.rootControl;
    registers["root_capabilities"] = c.rootCapabilities;
    registers["root_status"] = c.rootStatus;
    const uint32_t type = Field(c.pcieCapabilities, PCI_EXP_FLAGS_TYPE);
    py::dict out;
    out["offset"] = offset;
    out["registers"] = registers;
    out["version"] = Field(c.pcieCapabilities, PCI_EXP_FLAGS_VERS);
    out["port_type"] = type;
    out["port_type_name"] = qorbcli::PortTypeName(type);
    out["slot_implemented"] = (c.pcieCapabilities & PCI_EXP_FLAGS_SLOT) != 0;
    out["max_payload_supported"] = 128u << Field(c.deviceCapabilities, PCI_EXP_DEVCAP_PAYLOAD);
    out["max_payload"] = 128u << Field(c.deviceControl, PCI_EXP_DEVCTL_PAYLOAD);
    out["max_read_request"] = 128u << Field(c.deviceControl, PCI_EXP_DEVCTL_READRQ);
    py::dict errors;
    errors["correctable"] = (c.deviceStatus & PCI_EXP_DEVSTA_CED) != 0;
    errors["non_fatal"] = (c.deviceStatus & PCI_EXP_DEVSTA_NFED) != 0;
    errors["fatal"] = (c.deviceStatus & PCI_EXP_DEVSTA_FED) != 0;
    errors["unsupported_request"] = (c.deviceStatus & PCI_EXP_DEVSTA_URD) != 0;
    out["errors_detected"] = errors;
    py::dict link;
    link["has_link"] = qorbcli::PortTypeHasLink(type);
    link["port_number"] = Field(c.linkCapabilities, PCI_EXP_LNKCAP_PN);
    link["max_speed"] = qorbcli::LinkSpeedText(Field(c.linkCapabilities, PCI_EXP_LNKCAP_SLS));
    link["max_width"] = Field(c.linkCapabilities, PCI_EXP_LNKCAP_MLW);
    link["aspm_support"] = Field(c.linkCapabilities, PCI_EXP_LNKCAP_ASPMS);
    link["aspm_control"] = Field(c.linkControl, PCI_EXP_LNKCTL_ASPMC);
    link["disabled"] = (c.linkControl & PCI_EXP_LNKCTL_LD) != 0;
    link["retrain"] = (c.linkControl & PCI_EXP_LNKCTL_RL) != 0;
    link["speed"] = qorbcli::LinkSpeedText(Field(c.linkStatus, PCI_EXP_LNKSTA_CLS));
    link["width"] = Field(c.linkStatus, PCI_EXP_LNKSTA_NLW);
    link["training"] = (c.linkStatus & PCI_EXP_LNKSTA_LT) != 0;
    link["slot_clock"] = (c.linkStatus & PCI_EXP_LNKSTA_SLC) != 0;
    link["dll_active"] = (c.linkStatus & PCI_EXP_LNKSTA_DLLLA) != 0;
    out["link"] = link;
    return out;
}

/* The AER capability as QORB_ADVERR_Util_GetAdvErrorRepCap reads it; the
 * handle stays with the caller (null on failure). */
QORB_ADVERR_INFO_t ReadAer(Device& d)
{
    QORB_ADVERR_INFO_t info{};
    _QORB_STATUS_t status = QORB_ADVERR_Util_GetAdvErrorRepCap(d.Get(), &info);
    if (status != QORB_SUCCESS) {
        QORB_FreeCapabilityHandle(info.capHandle);
        Check(status);
    }
    return info;
}

template <size_t N>
py::list SetBits(uint32_t value, const qorb_aer::Bit (&bits)[N])
{
    py::list names;
    for (const qorb_aer::Bit& b : bits)
        if (value & b.mask)
            names.append(b.name);
    return names;
}

py::dict AerStatus(Device& d)
{
    QORB_ADVERR_INFO_t info = ReadAer(d);
    QORB_FreeCapabilityHandle(info.capHandle);
    py::dict out;
    out["uncorrectable_status"] = info.aer.uncorrectableErrorStatus;
    out["correctable_status"] = info.aer.correctableErrorStatus;
    out["uncorrectable"] = SetBits(info.aer.uncorrectableErrorStatus, qorb_aer::kUncorrectable);
    out["correctable"] = SetBits(info.aer.correctableErrorStatus, qorb_aer::kCorrectable);
    return out;
}

/* Writes each status register's value back: they are write-one-to-clear. */
void ClearAer(Device& d)
{
    QORB_ADVERR_INFO_t info = ReadAer(d);
    _QORB_STATUS_t status = QORB_SUCCESS;
    const struct {
        uint32_t offset, value;
    } regs[] = {{PCI_ERR_UNCOR_STATUS, info.aer.uncorrectableErrorStatus},
                {PCI_ERR_COR_STATUS, info.aer.correctableErrorStatus}};
    for (const auto& r : regs) {
        uint32_t value = r.value, length = 4;
        if (value && status == QORB_SUCCESS)
            status = WriteCapability(info.capHandle, reinterpret_cast<uint8_t*>(&value), r.offset, &length);
    }
    QORB_FreeCapabilityHandle(info.capHandle);
    Check(status);
}

using AssertFn = _QORB_STATUS_t (*)(void*, void*, int32_t, int32_t);

/* The library's assertions, in the order of qorb_aer::kAssertions. */
constexpr AssertFn kAssertFns[] = {
    QORB_ADVERR_Util_AssertTrainingErrorStatus,
    QORB_ADVERR_Util_AssertDLProtocolErrorStatus,
    QORB_ADVERR_Util_AssertFlowControlProtocolErrorStatus,
    QORB_ADVERR_Util_AssertCompletionTimeoutStatus,
    QORB_ADVERR_Util_AssertCompleterAbortStatus,
    QORB_ADVERR_Util_AssertUnexpectedCompletionStatus,
    QORB_ADVERR_Util_AssertReceiverOverflowStatus,
    QORB_ADVERR_Util_AssertUnsupportedRequestErrorStatus,
    QORB_ADVERR_Util_AssertReceiverErrorStatus,
    QORB_ADVERR_Util_AssertBadTLPStatus,
    QORB_ADVERR_Util_AssertBadDLLPStatus,
    QORB_ADVERR_Util_AssertReplayNumberRolloverStatus,
    QORB_ADVERR_Util_AssertReplayTimerTimeoutStatus,
};
static_assert(std::size(kAssertFns) == qorb_aer::kAssertionCount);

/* Runs assertion `index`: the bit as it was before the library looked (so
 * the caller learns the actual state even when the assertion clears it),
 * then the library's verdict, logged into `log` when one is given. Answers
 * (passed, actual, field). A status other than a failed comparison raises. */
py::tuple AssertAer(Device& d, int index, bool expected, bool clear, const py::object& log)
{
    if (index < 0 || index >= qorb_aer::kAssertionCount)
        throw py::index_error("no such AER assertion");
    const qorb_aer::Assertion& a = qorb_aer::kAssertions[index];
    QORB_ADVERR_INFO_t info = ReadAer(d);
    QORB_FreeCapabilityHandle(info.capHandle);
    uint32_t value = a.correctable ? info.aer.correctableErrorStatus : info.aer.uncorrectableErrorStatus;
    bool actual = (value & a.mask) != 0;
    _QORB_STATUS_t status = kAssertFns[index](d.Get(), LogHandleOf(log), expected ? 1 : 0, clear ? 1 : 0);
    if (status != QORB_STATUS_FAILED)
        Check(status);
    return py::make_tuple(status == QORB_SUCCESS, actual, a.field);
}

/* Every register of the structures the register model places in the
 * function (its header, then each capability the model knows, the first
 * instance of each), decoded from the model's tables as they apply to this
 * function: keyed "PCIE.LNKSTA" as the checklist names it ("REBAR.CTL1" for
 * an entry of a repeated register), each with its offset, name, value and
 * fields by name (bits, value, attribute). Reserved bits appear only when
 * set, as "Reserved [hi:lo]". */
py::dict Registers(Device& d)
{
    py::dict out;
    for (const qorbcli::DecodedRegister& r : qorbcli::DecodeRegisters(ReadImage(d))) {
        std::string key = std::string(r.structure->tag) + "." + r.reg->tag;
        if (r.reg->stride)
            key += std::to_string(r.instance);
        py::dict fields;
        for (const qorbcli::DecodedField& f : r.fields) {
            std::string name = f.name;
            if (qorb_regs::IsReserved(f.attr))
                name += " [" + std::to_string(f.hi) + ":" + std::to_string(f.lo) + "]";
            py::dict field;
            field["bits"] = py::make_tuple(f.hi, f.lo);
            field["value"] = f.value;
            field["attribute"] = qorb_regs::AttrName(f.attr);
            fields[name.c_str()] = field;
        }
        py::dict reg;
        reg["offset"] = r.offset;
        reg["name"] = r.reg->name;
        reg["structure"] = r.structure->name;
        reg["value"] = r.value;
        reg["fields"] = fields;
        out[key.c_str()] = reg;
    }
    return out;
}

} // namespace

void BindCapabilities(py::class_<Device, DevicePtr>& device)
{
    device.def("capabilities", &Capabilities, "The capability walk, legacy list then extended list")
        .def("walk_capabilities", &RawWalk, "Both lists walked over the raw configuration image, with how each ended")
        .def("pcie", &Pcie, "The PCI Express capability, decoded")
        .def("registers", &Registers, "Every register of the structures the register model knows, field by field")
        .def("aer_status", &AerStatus, "The AER status registers and the names of the bits set")
        .def("clear_aer", &ClearAer, "Clear every AER status bit that is set")
        .def("_assert_aer", &AssertAer);
    py::list fields;
    for (const qorb_aer::Assertion& a : qorb_aer::kAssertions)
        fields.append(py::make_tuple(a.field, a.correctable));
    device.attr("_AER_ASSERTIONS") = fields;
}

} // namespace qorbpy
