/* The instance (OpenQORBEx, OpenQORB, CloseQORB), the searches that hand out
 * device records, and the platform file. */
#include <string.h>

#include <pybind11/stl.h>

#include "qorb_py.h"

namespace qorbpy {

namespace {

using InstancePtr = std::shared_ptr<Instance>;

/* Physical base of memory-mapped configuration space used when the driver
 * cannot report one, as the tool uses. */
constexpr uint64_t kDefaultConfigBase = 0xE0000000ull;

InstancePtr OpenPath(const std::string& path, uint64_t base)
{
    void* handle = nullptr;
    Check(OpenQORBEx(&handle, 0, path.c_str(), base, 0));
    return std::make_shared<Instance>(handle);
}

/* ini/VERDAapp.ini in the current directory names the driver. */
InstancePtr OpenIni(uint64_t base)
{
    void* handle = nullptr;
    Check(OpenQORB(&handle, 0, base, nullptr, nullptr));
    return std::make_shared<Instance>(handle);
}

DevicePtr Found(const InstancePtr& instance, _QORB_STATUS_t status, void* handle)
{
    Check(status);
    return std::make_shared<Device>(instance, handle);
}

/* Every function the searches can find: bus 0 to 254 (they never visit 255). */
std::vector<DevicePtr> Scan(const InstancePtr& instance)
{
    instance->Get();
    std::vector<DevicePtr> found;
    for (int bus = 0; bus <= 254; bus++)
        for (int dev = 0; dev < 32; dev++)
            for (int fn = 0; fn < 8; fn++) {
                void* handle = nullptr;
                if (FindDevice(static_cast<uint8_t>(bus), static_cast<uint8_t>(dev), static_cast<uint8_t>(fn),
                               &handle) == QORB_SUCCESS)
                    found.push_back(std::make_shared<Device>(instance, handle));
            }
    return found;
}

/* FindDevice with the instance and a platform file's criteria. */
DevicePtr FindInfo(const InstancePtr& instance, uint32_t flags, const py::dict& c)
{
    _QORB_DEVICE_FIND_INFO_t info{};
    info.vendorId = c["vendor_id"].cast<uint16_t>();
    info.deviceId = c["device_id"].cast<uint16_t>();
    info.busNumber = c["bus"].cast<uint16_t>();
    info.deviceNumber = c["dev"].cast<uint8_t>();
    info.functionNumber = c["fn"].cast<uint8_t>();
    info.baseClass = c["base_class"].cast<uint8_t>();
    info.subClass = c["sub_class"].cast<uint8_t>();
    info.progIf = c["prog_if"].cast<uint8_t>();
    void* handle = nullptr;
    _QORB_STATUS_t status = FindDevice(instance->Get(), &handle, flags, &info);
    return Found(instance, status, handle);
}

/* parseDatFile into a dict; the DUT entries as the criteria FindInfo takes. */
py::dict ParsePlatformFile(const std::string& path)
{
    auto info = std::make_unique<_QORB_DAT_INFO_t>();
    memset(info.get(), 0, sizeof *info);
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    _QORB_STATUS_t status = parseDatFile(name.data(), info.get());
    py::dict out;
    out["user"] = info->userName ? std::string(info->userName) : std::string();
    QORB_FreeDatInfo(info.get());
    Check(status);
    py::list duts;
    for (int i = 0; i < info->dutCount && i < QORB_MAX_DUTS; i++) {
        const _QORB_DEVICE_FIND_INFO_t& d = info->dutFindInfo[i];
        py::dict dut;
        dut["flags"] = info->dutFindFlags[i];
        dut["vendor_id"] = d.vendorId;
        dut["device_id"] = d.deviceId;
        dut["bus"] = d.busNumber;
        dut["dev"] = d.deviceNumber;
        dut["fn"] = d.functionNumber;
        dut["base_class"] = d.baseClass;
        dut["sub_class"] = d.subClass;
        dut["prog_if"] = d.progIf;
        dut["subsys_vendor_id"] = d.subsysVendorId;
        dut["subsys_device_id"] = d.subsysDeviceId;
        duts.append(dut);
    }
    out["test_mode"] = info->testMode;
    out["duts"] = duts;
    out["replay_count"] = info->replayCount;
    out["pcie_base_address"] = info->pcieBaseAddress;
    return out;
}

} // namespace

void BindInstance(py::module_& m)
{
    m.attr("DEFAULT_CONFIG_BASE") = kDefaultConfigBase;
    m.attr("FIND_VENDOR_ID") = QORB_FIND_VENDOR_ID;
    m.attr("FIND_DEVICE_ID") = QORB_FIND_DEVICE_ID;
    m.attr("FIND_CLASS_CODE") = QORB_FIND_CLASS_CODE;
    m.attr("FIND_LOCATION") = QORB_FIND_LOCATION;
    m.def("parse_platform_file", &ParsePlatformFile, py::arg("path"), "parseDatFile, as a dict");
    py::class_<Instance, InstancePtr>(m, "Instance", "An open library instance (OpenQORBEx/OpenQORB)")
        .def_static("open_driver", &OpenPath, py::arg("path"), py::arg("config_base") = kDefaultConfigBase)
        .def_static("open_ini", &OpenIni, py::arg("config_base") = kDefaultConfigBase)
        .def("close", &Instance::Close, "Close every record found through the instance, then CloseQORB")
        .def_property_readonly("closed", &Instance::Closed)
        .def("scan", &Scan)
        .def(
            "find_location",
            [](const InstancePtr& self, uint8_t bus, uint8_t dev, uint8_t fn) {
                self->Get();
                void* handle = nullptr;
                _QORB_STATUS_t status = FindDevice(bus, dev, fn, &handle);
                return Found(self, status, handle);
            },
            py::arg("bus"), py::arg("dev"), py::arg("fn"))
        .def(
            "find_ids",
            [](const InstancePtr& self, uint16_t vendor, uint16_t device) {
                self->Get();
                void* handle = nullptr;
                _QORB_STATUS_t status = FindDevice(device, vendor, &handle);
                return Found(self, status, handle);
            },
            py::arg("vendor"), py::arg("device"))
        .def(
            "find_ids_at",
            [](const InstancePtr& self, uint16_t vendor, uint16_t device, uint8_t bus, uint8_t dev, uint8_t fn) {
                self->Get();
                void* handle = nullptr;
                _QORB_STATUS_t status = FindDevice(device, vendor, bus, dev, fn, &handle);
                return Found(self, status, handle);
            },
            py::arg("vendor"), py::arg("device"), py::arg("bus"), py::arg("dev"), py::arg("fn"))
        .def("find_info", &FindInfo, py::arg("flags"), py::arg("criteria"));
}

} // namespace qorbpy
