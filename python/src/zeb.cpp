/* The ZEB test card: control, and the searches of the trace copy that
 * ZEBGetTraceBuffer takes into the card's record. Traces and search results
 * are read by the library straight into the bytes object handed to Python:
 * no second copy of a large buffer is made. */
#include <pybind11/stl.h>

#include "qorb_py.h"

namespace qorbpy {

namespace {

constexpr uint32_t kTlpHeaderBytes = 16; /* what QORB_ZEB_TB_GetTLPByIndex fills */
constexpr uint32_t kDllpBytes = 6; /* one FindDLLPTypeDLLPType record */

/* The card library's own statuses pass through unchanged and need not
 * follow qorb's convention: anything but 0 is a failure there. */
void CheckCard(uint32_t status)
{
    if (status != QORB_SUCCESS)
        throw StatusError{status};
}

/* An uninitialised bytes object of n bytes and its storage. */
py::bytes NewBytes(size_t n, uint8_t** data)
{
    py::bytes out(nullptr, n);
    *data = reinterpret_cast<uint8_t*>(PyBytes_AsString(out.ptr()));
    return out;
}

/* A pattern of at least `need` bytes, read in place. */
uint8_t* Pattern(const py::buffer& pattern, size_t need, py::buffer_info* info)
{
    *info = pattern.request();
    if (static_cast<size_t>(info->size * info->itemsize) < need)
        throw py::value_error("the pattern needs at least " + std::to_string(need) + " bytes");
    return static_cast<uint8_t*>(info->ptr);
}

py::dict Properties(Device& d)
{
    _qorb_zeb_query_prop_t p{};
    CheckCard(QORB_GetZEBProperties(d.Get(), &p));
    py::dict out;
    out["trace_buffer_size"] = p.traceBufferSize;
    out["firmware_revision"] = p.firmwareRevision;
    out["hardware_revision"] = p.hardwareRevision;
    out["link_width"] = p.linkWidth;
    out["link_speed"] = p.linkSpeed;
    out["mode"] = p.mode;
    out["armed"] = p.armed != 0;
    out["logging_suspended"] = p.loggingSuspended != 0;
    out["bytes_recorded"] = p.bytesRecorded;
    return out;
}

/* The trace copy as bytes: GetTBContents writes into the object itself. */
py::bytes Trace(Device& d)
{
    uint32_t length = 0;
    Check(GetBytesInZEBTB(d.Get(), &length));
    uint8_t* data = nullptr;
    py::bytes out = NewBytes(length, &data);
    uint32_t got = length;
    Check(GetTBContents(d.Get(), data, &got));
    return got == length ? out : py::bytes(reinterpret_cast<char*>(data), got);
}

/* The trace copy written into a caller's writable buffer (bytearray,
 * memoryview, mmap ...): as much as fits; answers how many bytes. */
uint32_t TraceInto(Device& d, const py::buffer& target)
{
    py::buffer_info info = target.request(true);
    if (!PyBuffer_IsContiguous(info.view(), 'C'))
        throw py::value_error("the buffer must be contiguous");
    size_t room = static_cast<size_t>(info.size * info.itemsize);
    uint32_t got = room > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(room);
    Check(GetTBContents(d.Get(), static_cast<uint8_t*>(info.ptr), &got));
    return got;
}

/* First header doublewords of the matching TLPs. */
std::vector<uint32_t> FindTlps(Device& d, const py::buffer& pattern, uint32_t flags)
{
    py::buffer_info info;
    uint8_t* p = Pattern(pattern, 4, &info);
    uint32_t count = 0;
    Check(GetNumTLPMatches(d.Get(), p, flags, &count));
    std::vector<uint32_t> matches(count);
    if (count)
        Check(FindTLPByTLPType(d.Get(), p, flags, matches.data(), &count));
    matches.resize(count);
    return matches;
}

uint32_t CountTlps(Device& d, const py::buffer& pattern, uint32_t flags)
{
    py::buffer_info info;
    uint32_t count = 0;
    Check(GetNumTLPMatches(d.Get(), Pattern(pattern, 4, &info), flags, &count));
    return count;
}

uint32_t CountDllps(Device& d, const py::buffer& pattern)
{
    py::buffer_info info;
    uint32_t count = 0;
    Check(GetNumDLLPMatches(d.Get(), Pattern(pattern, 1, &info), 0, &count));
    return count;
}

/* The matching DLLPs, six bytes each, packed into one bytes object. */
py::bytes FindDllps(Device& d, const py::buffer& pattern)
{
    py::buffer_info info;
    uint8_t* p = Pattern(pattern, 1, &info);
    uint32_t count = 0;
    Check(GetNumDLLPMatches(d.Get(), p, 0, &count));
    uint8_t* data = nullptr;
    py::bytes out = NewBytes(static_cast<size_t>(count) * kDllpBytes, &data);
    uint32_t stored = count;
    if (count)
        Check(FindDLLPTypeDLLPType(d.Get(), p, 0, data, &stored));
    return stored == count ? out : py::bytes(reinterpret_cast<char*>(data), stored * kDllpBytes);
}

py::bytes Tlp(Device& d, uint32_t index)
{
    uint8_t* data = nullptr;
    py::bytes out = NewBytes(kTlpHeaderBytes, &data);
    Check(QORB_ZEB_TB_GetTLPByIndex(d.Get(), data, 0, index));
    return out;
}

void Inject(Device& d, uint32_t command, uint32_t count, uint32_t interval, uint32_t kind, uint8_t tlpType,
            uint8_t dllpType)
{
    _qorb_cmd_map_t cmd{command, count, interval, kind, tlpType, dllpType, 0};
    CheckCard(ProgramZEBCmd(d.Get(), &cmd));
}

/* DisarmZEB first lets the card finish recording: other threads run meanwhile. */
void Disarm(Device& d)
{
    void* card = d.Get();
    uint32_t status = 0;
    {
        py::gil_scoped_release release;
        status = DisarmZEB(card);
    }
    CheckCard(status);
}

py::tuple UpstreamZeb(Device& d)
{
    void* cards[2] = {};
    CheckCard(QORB_GetUpstreamZEB(d.Get(), &cards[0], &cards[1]));
    return py::make_tuple(d.Adopt(cards[0]), d.Adopt(cards[1]));
}

} // namespace

void BindZeb(py::class_<Device, DevicePtr>& device)
{
    device
        .def_property_readonly("is_zeb",
                               [](Device& d) {
                                   _qorb_zeb_query_prop_t p{};
                                   return QORB_GetZEBProperties(d.Get(), &p) == QORB_SUCCESS;
                               })
        .def("upstream_zeb", &UpstreamZeb, "QORB_GetUpstreamZEB: the two records the card library names")
        .def("zeb_properties", &Properties)
        .def(
            "arm", [](Device& d, uint32_t value) { CheckCard(ArmZEB(d.Get(), value)); }, py::arg("value") = 0)
        .def("disarm", &Disarm, "DisarmZEB; the GIL is released while the card settles")
        .def_property(
            "zeb_mode",
            [](Device& d) {
                _QORB_ZEB_OP_MODE_t mode{};
                CheckCard(QueryZEBMode(d.Get(), &mode));
                return static_cast<uint32_t>(mode);
            },
            [](Device& d, uint32_t mode) { CheckCard(ChangeZEBMode(d.Get(), static_cast<_QORB_ZEB_OP_MODE_t>(mode))); })
        .def("inject", &Inject, py::arg("command"), py::arg("count") = 1, py::arg("interval") = 0,
             py::arg("packet_kind") = 0, py::arg("tlp_type") = 0, py::arg("dllp_type") = 0)
        .def_property_readonly("action_count",
                               [](Device& d) {
                                   uint32_t count = 0;
                                   CheckCard(QORB_ZEB_GetActionCount(d.Get(), &count));
                                   return count;
                               })
        .def("suspend_logging", [](Device& d) { CheckCard(ZEBSuspendLogging(d.Get())); })
        .def("resume_logging", [](Device& d) { CheckCard(ZEBResumeLogging(d.Get())); })
        .def("set_trace_config", [](Device& d, uint32_t flags) { CheckCard(SetConfigMaskTraceBuf(d.Get(), flags)); })
        .def("write_trace_pattern",
             [](Device& d, uint32_t pattern) { CheckCard(QORB_ZEBWritePatternToTB(d.Get(), pattern)); })
        .def(
            "take_trace", [](Device& d) { CheckCard(ZEBGetTraceBuffer(d.Get())); },
            "ZEBGetTraceBuffer: copy the card's trace buffer into its record")
        .def("trace", &Trace, "The trace copy as bytes")
        .def("trace_into", &TraceInto, py::arg("buffer"),
             "Write the trace copy into a writable buffer in place; the number of bytes written")
        .def("find_tlps", &FindTlps, py::arg("pattern"), py::arg("flags"))
        .def("count_tlps", &CountTlps, py::arg("pattern"), py::arg("flags"))
        .def("find_dllps", &FindDllps, py::arg("pattern"))
        .def("count_dllps", &CountDllps, py::arg("pattern"))
        .def("tlp", &Tlp, py::arg("index"));
}

} // namespace qorbpy
