/* Shared pieces of the Python extension qorb._qorb: status checks, the
 * device records the Python layer owns, and the binding functions of each
 * part (one file per part). The extension calls only the public API. */
#ifndef QORB_PY_H
#define QORB_PY_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

#include <qorb/qorb.h>

namespace qorbpy {

namespace py = pybind11;

/* A failing status on its way to Python: the translator registered by the
 * module raises the qorb.Error subclass of the code. */
struct StatusError {
    uint32_t code;
};

/* Throws StatusError unless the status is a success (bit 31 clear). */
void Check(uint32_t status);

/* One device record handed out by the library. It is closed exactly once:
 * by Close(), by the instance closing its records, or when the last Python
 * reference goes. */
class Record {
public:
    explicit Record(void* handle) : m_handle(handle) { }
    ~Record() { Close(); }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
    void Close();
    bool Closed() const { return !m_handle; }
    void* Get() const; /* throws ValueError once closed */

private:
    void* m_handle;
};

/* The instance and the records found through it, so that closing the
 * instance closes every record it handed out. */
class Instance {
public:
    explicit Instance(void* handle) : m_handle(handle) { }
    ~Instance() { Close(); }
    std::shared_ptr<Record> Adopt(void* handle);
    void Close();
    void* Get() const;
    bool Closed() const { return !m_handle; }

private:
    void* m_handle;
    std::vector<std::weak_ptr<Record>> m_records;
};

/* A device as Python sees it: its record, and the record of the port above
 * its link once the link is resolved (OpenDevice; owned here too). */
class Device {
public:
    Device(std::shared_ptr<Instance> instance, void* handle);
    void* Get() const { return m_record->Get(); }
    void* Opened(); /* OpenDevice once, then the handle */
    std::shared_ptr<Device> Parent(); /* null when no port is above */
    std::shared_ptr<Device> Adopt(void* handle) const { return std::make_shared<Device>(m_instance, handle); }
    void Close();
    bool Closed() const { return m_record->Closed(); }

private:
    std::shared_ptr<Instance> m_instance;
    std::shared_ptr<Record> m_record;
    std::shared_ptr<Device> m_parent;
    bool m_opened = false;
};

using DevicePtr = std::shared_ptr<Device>;

/* The log handle of a qorb log object, or null for None. */
void* LogHandleOf(const py::object& log);

/* The binding of each part. */
void BindInstance(py::module_& m);
void BindDevice(py::module_& m, py::class_<Device, DevicePtr>& device);
void BindCapabilities(py::class_<Device, DevicePtr>& device);
void BindLink(py::class_<Device, DevicePtr>& device);
void BindZeb(py::class_<Device, DevicePtr>& device);
void BindLog(py::module_& m);

} // namespace qorbpy

#endif
