/* Names and sentences of the library's status codes. */
#include "status.h"

#include <qorb/qorb_status.h>

#include "names.h"

namespace qorbcli {

namespace {

struct Row {
    uint32_t status;
    const char* name;
    const char* sentence;
};

/* By family: success, instance and driver, arguments, devices, configuration
 * access, capabilities, logs, the platform file, the dialog event. */
constexpr Row kRows[] = {
    {QORB_SUCCESS, "QORB_SUCCESS", "the operation succeeded"},
    {QORB_MULTIPLE_INSTANCES_OF_CAP, "QORB_MULTIPLE_INSTANCES_OF_CAP", "the capability is present more than once"},
    {QORB_INSUFFICIENT_RESOURCES, "QORB_INSUFFICIENT_RESOURCES", "the library ran out of memory"},
    {QORB_DRIVER_INIT_FAILED, "QORB_DRIVER_INIT_FAILED", "the configuration driver did not start"},
    {QORB_STATUS_FAILED, "QORB_STATUS_FAILED", "the operation failed"},
    {QORB_NOT_IMPLEMENTED, "QORB_NOT_IMPLEMENTED", "the library does not implement this operation"},
    {QORB_INVALID_PARAMETER, "QORB_INVALID_PARAMETER", "the library refused an argument as missing or unusable"},
    {QORB_UNSUPPORTED_PARAMETER, "QORB_UNSUPPORTED_PARAMETER",
     "the library's capability length tables do not know this capability"},
    {QORB_INVALID_DEVICE_HANDLE, "QORB_INVALID_DEVICE_HANDLE", "no device record was given"},
    {QORB_DEVICE_NOT_FOUND, "QORB_DEVICE_NOT_FOUND", "no function matches the search"},
    {QORB_FIND_DEVICE_FAILED, "QORB_FIND_DEVICE_FAILED", "no function matches the search"},
    {QORB_PCIE_CONFIG_READ_FAILED, "QORB_PCIE_CONFIG_READ_FAILED",
     "the configuration driver could not read the registers"},
    {QORB_PCIE_CONFIG_WRITE_FAILED, "QORB_PCIE_CONFIG_WRITE_FAILED",
     "the configuration driver could not write the registers"},
    {QORB_PCIE_CAP_DOES_NOT_EXIST, "QORB_PCIE_CAP_DOES_NOT_EXIST", "the capability list has no further entry"},
    {QORB_PCIE_CAP_OUT_OF_RANGE, "QORB_PCIE_CAP_OUT_OF_RANGE", "the function does not have this capability"},
    {QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP, "QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP",
     "the capability is present more than once"},
    {QORB_NO_LOG_FILE, "QORB_NO_LOG_FILE", "there is no log file"},
    {QORB_INVALID_LOG_FILE_HANDLE, "QORB_INVALID_LOG_FILE_HANDLE", "the log handle is not valid"},
    {QORB_LOG_FILE_TOO_BIG, "QORB_LOG_FILE_TOO_BIG", "the log file is too big"},
    {QORB_LOG_NOT_OPEN, "QORB_LOG_NOT_OPEN", "the log is not open"},
    {QORB_LOG_WRITE_ERROR, "QORB_LOG_WRITE_ERROR", "the log could not be written"},
    {QORB_NO_DAT_FILE, "QORB_NO_DAT_FILE", "the platform file cannot be opened or is not well-formed XML"},
    {QORB_EVENT_ABANDONED, "QORB_EVENT_ABANDONED", "the wait on the dialog event was abandoned"},
    {QORB_EVENT_FLAG1_SET, "QORB_EVENT_FLAG1_SET", "the dialog event came with its first flag set"},
    {QORB_EVENT_FLAG2_SET, "QORB_EVENT_FLAG2_SET", "the dialog event came with its second flag set"},
    {QORB_EVENT_TIMEOUT, "QORB_EVENT_TIMEOUT", "the wait on the dialog event timed out"},
};

const Row* Find(uint32_t status)
{
    for (const Row& row : kRows)
        if (row.status == status)
            return &row;
    return nullptr;
}

} // namespace

const char* StatusName(uint32_t status)
{
    const Row* row = Find(status);
    return row ? row->name : "";
}

std::string StatusSentence(uint32_t status)
{
    const Row* row = Find(status);
    if (row)
        return row->sentence;
    return "a status the library does not define, passed on from the test card library";
}

std::string StatusLine(uint32_t status, const std::string& sentence)
{
    const char* name = StatusName(status);
    std::string value = "0x" + Hex(status, 8);
    std::string head = *name ? std::string(name) + " (" + value + ")" : "status " + value;
    return head + ": " + (sentence.empty() ? StatusSentence(status) : sentence);
}

} // namespace qorbcli
