/* Link operations on a DUT: they act on the port above its link, which
 * OpenDevice links to the record (Device::Opened does that once). */
#include <time.h>

#include "qorb_py.h"

namespace qorbpy {

namespace {

/* Each test of Link Training waits this long first. */
constexpr int32_t kPollMs = 10;

double Now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

/* Tests Link Training at the port above the DUT until it is clear or the
 * timeout has passed; the GIL is released while waiting. Answers whether
 * training ended; any failure other than "still training" raises. */
bool WaitTrained(Device& d, double timeout)
{
    void* dut = d.Opened();
    void* port = nullptr;
    Check(QORB_GetPortToResetOrRetrain(dut, &port)); /* the linked parent record: not ours to close */
    _QORB_STATUS_t status;
    {
        py::gil_scoped_release release;
        double end = Now() + (timeout > 0 ? timeout : 0);
        do
            status = QORB_WaitForDeviceToRetrain(port, kPollMs);
        while (status == QORB_STATUS_FAILED && Now() < end);
    }
    if (status != QORB_STATUS_FAILED)
        Check(status);
    return status == QORB_SUCCESS;
}

} // namespace

void BindLink(py::class_<Device, DevicePtr>& device)
{
    device.def("retrain", [](Device& d) { Check(QORB_RetrainDUTLink(d.Opened())); })
        .def("disable", [](Device& d) { Check(QORB_DisableLink(d.Opened())); })
        .def("enable", [](Device& d) { Check(QORB_EnableLink(d.Opened())); })
        .def("wait_trained", &WaitTrained, py::arg("timeout") = 1.0,
             "Wait until the port above reports Link Training clear; False when the timeout passed first");
}

} // namespace qorbpy
