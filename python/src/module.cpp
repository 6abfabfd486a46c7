/* The extension module qorb._qorb: status codes and their translation into
 * Python exceptions, the records the Python layer owns, and where libqorb
 * itself was loaded from (the drivers are installed beside it). */
#include <dlfcn.h>

#include <algorithm>

#include "qorb_py.h"

namespace qorbpy {

void Check(uint32_t status)
{
    if (status & 0x80000000u)
        throw StatusError{status};
}

void Record::Close()
{
    if (m_handle)
        CloseDevice(m_handle);
    m_handle = nullptr;
}

void* Record::Get() const
{
    if (!m_handle)
        throw py::value_error("the device record is closed");
    return m_handle;
}

std::shared_ptr<Record> Instance::Adopt(void* handle)
{
    auto record = std::make_shared<Record>(handle);
    std::erase_if(m_records, [](const std::weak_ptr<Record>& r) { return r.expired(); });
    m_records.push_back(record);
    return record;
}

/* The records go first: CloseQORB unloads the driver they were read with. */
void Instance::Close()
{
    for (std::weak_ptr<Record>& weak : m_records)
        if (std::shared_ptr<Record> record = weak.lock())
            record->Close();
    m_records.clear();
    if (m_handle)
        CloseQORB(m_handle);
    m_handle = nullptr;
}

void* Instance::Get() const
{
    if (!m_handle)
        throw py::value_error("the platform is closed");
    return m_handle;
}

Device::Device(std::shared_ptr<Instance> instance, void* handle)
    : m_instance(std::move(instance)), m_record(m_instance->Adopt(handle))
{
}

void* Device::Opened()
{
    void* handle = Get();
    if (!m_opened) {
        Check(OpenDevice(handle, QORB_ACCESS_READ_WRITE));
        m_opened = true;
        void* parent = nullptr;
        if (GetParentDevice(handle, &parent) == QORB_SUCCESS && parent)
            m_parent = Adopt(parent);
    }
    return handle;
}

DevicePtr Device::Parent()
{
    Opened();
    return m_parent;
}

void Device::Close()
{
    m_record->Close();
    if (m_parent)
        m_parent->Close();
}

namespace {

/* The folder of the libqorb.so this extension runs with. */
std::string LibraryDir()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&QORBGetErrorDesc), &info) || !info.dli_fname)
        return "";
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

} // namespace qorbpy

PYBIND11_MODULE(_qorb, m)
{
    using namespace qorbpy;
    m.doc() = "qorb's C API as the Python layer (the qorb package) uses it";
    py::enum_<_QORB_STATUS_t>(m, "Status")
        .value("QORB_SUCCESS", QORB_SUCCESS)
        .value("QORB_MULTIPLE_INSTANCES_OF_CAP", QORB_MULTIPLE_INSTANCES_OF_CAP)
        .value("QORB_INSUFFICIENT_RESOURCES", QORB_INSUFFICIENT_RESOURCES)
        .value("QORB_DRIVER_INIT_FAILED", QORB_DRIVER_INIT_FAILED)
        .value("QORB_INVALID_PARAMETER", QORB_INVALID_PARAMETER)
        .value("QORB_UNSUPPORTED_PARAMETER", QORB_UNSUPPORTED_PARAMETER)
        .value("QORB_STATUS_FAILED", QORB_STATUS_FAILED)
        .value("QORB_NO_LOG_FILE", QORB_NO_LOG_FILE)
        .value("QORB_INVALID_LOG_FILE_HANDLE", QORB_INVALID_LOG_FILE_HANDLE)
        .value("QORB_LOG_FILE_TOO_BIG", QORB_LOG_FILE_TOO_BIG)
        .value("QORB_NO_DAT_FILE", QORB_NO_DAT_FILE)
        .value("QORB_LOG_NOT_OPEN", QORB_LOG_NOT_OPEN)
        .value("QORB_LOG_WRITE_ERROR", QORB_LOG_WRITE_ERROR)
        .value("QORB_EVENT_ABANDONED", QORB_EVENT_ABANDONED)
        .value("QORB_EVENT_FLAG1_SET", QORB_EVENT_FLAG1_SET)
        .value("QORB_EVENT_FLAG2_SET", QORB_EVENT_FLAG2_SET)
        .value("QORB_EVENT_TIMEOUT", QORB_EVENT_TIMEOUT)
        .value("QORB_INVALID_DEVICE_HANDLE", QORB_INVALID_DEVICE_HANDLE)
        .value("QORB_NOT_IMPLEMENTED", QORB_NOT_IMPLEMENTED)
        .value("QORB_DEVICE_NOT_FOUND", QORB_DEVICE_NOT_FOUND)
        .value("QORB_FIND_DEVICE_FAILED", QORB_FIND_DEVICE_FAILED)
        .value("QORB_PCIE_CONFIG_READ_FAILED", QORB_PCIE_CONFIG_READ_FAILED)
        .value("QORB_PCIE_CONFIG_WRITE_FAILED", QORB_PCIE_CONFIG_WRITE_FAILED)
        .value("QORB_PCIE_CAP_DOES_NOT_EXIST", QORB_PCIE_CAP_DOES_NOT_EXIST)
        .value("QORB_PCIE_CAP_OUT_OF_RANGE", QORB_PCIE_CAP_OUT_OF_RANGE)
        .value("QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP", QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP);
    m.def(
        "status_text", [](uint32_t code) { return std::string(QORBGetErrorDesc(code)); },
        "QORBGetErrorDesc: the library's text for a status code");
    m.def("library_dir", &LibraryDir, "The folder libqorb.so was loaded from");
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const StatusError& e) {
            py::object error = py::module_::import("qorb._errors").attr("error_for")(e.code);
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
        }
    });
    BindInstance(m);
    py::class_<Device, DevicePtr> device(m, "Device", "A function's device record, owned by Python");
    BindDevice(m, device);
    BindCapabilities(device);
    BindLink(device);
    BindZeb(device);
    BindLog(m);
}
