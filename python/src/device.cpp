/* A device's identity, its place in the hierarchy and its configuration
 * space registers (ReadConfigSpace/WriteConfigSpace). */
#include <pybind11/stl.h>

#include "names.h"
#include "qorb_py.h"

namespace qorbpy {

namespace {

void CheckWidth(uint32_t width)
{
    if (width != 1 && width != 2 && width != 4)
        throw py::value_error("width must be 1, 2 or 4 bytes");
}

/* A transfer that moved fewer bytes than asked failed as a read would. */
void Transfer(_QORB_STATUS_t status, uint32_t done, uint32_t asked, _QORB_STATUS_t shortStatus)
{
    Check(status);
    if (done != asked)
        throw StatusError{shortStatus};
}

uint32_t Read(Device& d, uint32_t offset, uint32_t width)
{
    CheckWidth(width);
    uint8_t bytes[4] = {};
    uint32_t length = width;
    Transfer(ReadConfigSpace(d.Get(), bytes, offset, &length), length, width, QORB_PCIE_CONFIG_READ_FAILED);
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void Write(Device& d, uint32_t offset, uint32_t value, uint32_t width)
{
    CheckWidth(width);
    if (width < 4 && value >> (8 * width))
        throw py::value_error("value does not fit the width");
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    uint32_t length = width;
    Transfer(WriteConfigSpace(d.Get(), bytes, offset, &length), length, width, QORB_PCIE_CONFIG_WRITE_FAILED);
}

/* length bytes from offset, read straight into the bytes object. */
py::bytes ReadBytes(Device& d, uint32_t offset, uint32_t length)
{
    py::bytes out(nullptr, length);
    uint32_t done = length;
    auto* buffer = reinterpret_cast<uint8_t*>(PyBytes_AsString(out.ptr()));
    Transfer(ReadConfigSpace(d.Get(), buffer, offset, &done), done, length, QORB_PCIE_CONFIG_READ_FAILED);
    return out;
}

struct Location {
    uint8_t bus = 0, dev = 0, fn = 0;
    uint16_t vendor = 0, device = 0;
};

Location Where(Device& d)
{
    Location l;
    Check(QORB_GetDeviceProperties(d.Get(), &l.bus, &l.dev, &l.fn, &l.vendor, &l.device));
    return l;
}

py::object PortType(Device& d)
{
    _QORB_DEV_PORT_TYPE_t type;
    if (GetDeviceType(d.Get(), &type) != QORB_SUCCESS)
        return py::none(); /* no PCI Express capability */
    return py::int_(static_cast<uint32_t>(type));
}

} // namespace

void BindDevice(py::module_& m, py::class_<Device, DevicePtr>& device)
{
    m.def("port_type_name", [](uint32_t type) { return qorbcli::PortTypeName(type); });
    device
        .def_property_readonly("slot",
                               [](Device& d) {
                                   Location l = Where(d);
                                   return qorbcli::SlotText(l.bus, l.dev, l.fn);
                               })
        .def_property_readonly("bus", [](Device& d) { return Where(d).bus; })
        .def_property_readonly("dev", [](Device& d) { return Where(d).dev; })
        .def_property_readonly("fn", [](Device& d) { return Where(d).fn; })
        .def_property_readonly("vendor_id", [](Device& d) { return Where(d).vendor; })
        .def_property_readonly("device_id", [](Device& d) { return Where(d).device; })
        .def_property_readonly("class_code", [](Device& d) { return Read(d, 0x08, 4) >> 8; })
        .def_property_readonly("header_type",
                               [](Device& d) {
                                   uint8_t type = 0;
                                   Check(GetHeaderType(d.Get(), &type));
                                   return type;
                               })
        .def_property_readonly("port_type", &PortType, "Device/Port Type of the PCI Express capability, or None")
        .def_property_readonly("parent", &Device::Parent,
                               "The port at the upstream end of the device's link (OpenDevice), or None")
        .def_property_readonly("closed", &Device::Closed)
        .def("close", &Device::Close, "Close the record (and its parent record); later closes do nothing")
        .def("read", &Read, py::arg("offset"), py::arg("width") = 4)
        .def("write", &Write, py::arg("offset"), py::arg("value"), py::arg("width") = 4)
        .def("read_bytes", &ReadBytes, py::arg("offset"), py::arg("length"));
}

} // namespace qorbpy
