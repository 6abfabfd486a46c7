/* Logs (CreateLog/CloseLog) and the logging calls. A log is closed exactly
 * once: by close() or when Python lets go of it. */
#include <string.h>

#include <optional>

#include <pybind11/stl.h>

#include "qorb_py.h"

namespace qorbpy {

namespace {

class Log {
public:
    Log(uint32_t type, const std::optional<std::string>& path, uint32_t action)
    {
        Check(CreateLog(nullptr, &m_handle, static_cast<_QORB_LOG_TYPE_t>(type), path ? path->c_str() : nullptr,
                        static_cast<_QORB_LOG_ACTION_t>(action)));
    }
    ~Log() { Close(); }
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;
    void Close()
    {
        if (m_handle)
            CloseLog(m_handle);
        m_handle = nullptr;
    }
    void* Get() const
    {
        if (!m_handle)
            throw py::value_error("the log is closed");
        return m_handle;
    }
    bool Closed() const { return !m_handle; }
    CQORBLog* Object() const { return static_cast<CQORBLog*>(Get()); }

private:
    void* m_handle = nullptr;
};

/* (layer, major, minor, item, subitem) as the library's assertion number. */
_QORB_TEST_NUM_t TestNum(const py::tuple& t)
{
    if (t.size() != 5)
        throw py::value_error("an assertion number has a layer and four parts");
    _QORB_TEST_NUM_t num;
    memset(&num, 0, sizeof num);
    num.layer = static_cast<_QORB_LAYER_t>(t[0].cast<uint32_t>());
    char* parts[] = {num.major, num.minor, num.item, num.subitem};
    for (int i = 0; i < 4; i++) {
        std::string text = t[i + 1].cast<std::string>();
        if (text.size() >= sizeof num.major)
            throw py::value_error("assertion number parts hold at most 4 characters: " + text);
        memcpy(parts[i], text.c_str(), text.size() + 1);
    }
    return num;
}

std::vector<_QORB_TEST_NUM_t> TestNums(const py::list& list)
{
    std::vector<_QORB_TEST_NUM_t> nums;
    for (const py::handle& item : list)
        nums.push_back(TestNum(item.cast<py::tuple>()));
    return nums;
}

py::dict Counters(const CTestRecord& r)
{
    py::dict out;
    out["name"] = r.name;
    out["aborts"] = r.aborts;
    out["fails"] = r.fails;
    out["warnings"] = r.warnings;
    out["informational"] = r.informational;
    return out;
}

} // namespace

void* LogHandleOf(const py::object& log)
{
    if (log.is_none())
        return nullptr;
    return py::getattr(log, "_log").cast<Log&>().Get();
}

void BindLog(py::module_& m)
{
    py::class_<Log>(m, "Log", "A log object made by CreateLog")
        .def(py::init<uint32_t, const std::optional<std::string>&, uint32_t>(), py::arg("type"), py::arg("path"),
             py::arg("action"))
        .def("close", &Log::Close)
        .def_property_readonly("closed", &Log::Closed)
        .def("start_test", [](Log& l, const std::string& name) { Check(StartTest(l.Get(), name.c_str())); })
        .def("start_test_element",
             [](Log& l, const std::string& name, const py::list& list, DevicePtr dut) {
                 std::vector<_QORB_TEST_NUM_t> nums = TestNums(list);
                 Check(StartTest(l.Get(), name.c_str(), nums.data(), static_cast<uint32_t>(nums.size()),
                                 dut ? dut->Get() : nullptr));
             })
        .def("stop_test", [](Log& l) { Check(StopTest(l.Get())); })
        .def("start_case", [](Log& l, const std::string& name) { Check(StartTestCase(l.Get(), name.c_str())); })
        .def("stop_case", [](Log& l) { Check(StopTestCase(l.Get())); })
        .def(
            "write",
            [](Log& l, int32_t kind, const std::string& text) { Check(WriteToLog(l.Get(), kind, "%s", text.c_str())); })
        .def("assertion",
             [](Log& l, int32_t kind, const py::tuple& number, const std::string& text) {
                 _QORB_TEST_NUM_t num = TestNum(number);
                 Check(LogAssert(l.Get(), kind, &num, text.c_str()));
             })
        .def("enable", [](Log& l) { Check(EnableLogging(l.Get())); })
        .def("disable", [](Log& l) { Check(DisableLogging(l.Get())); })
        .def("log_trace",
             [](Log& l, DevicePtr card) {
                 uint32_t bytes = 0;
                 Check(LogTBContents(l.Get(), card->Get(), &bytes));
                 return bytes;
             })
        .def_property_readonly("current_test", [](Log& l) { return Counters(l.Object()->CurrentTest()); })
        .def_property_readonly("finished_tests", [](Log& l) {
            py::list out;
            for (const CTestRecord& r : l.Object()->FinishedTests())
                out.append(Counters(r));
            return out;
        });
}

} // namespace qorbpy
