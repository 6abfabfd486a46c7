/* Status codes returned by nearly every qorb operation. 0 is success; every
 * failure has bit 31 set. QORBGetErrorDesc() turns a value into its text. */
#ifndef QORB_STATUS_H
#define QORB_STATUS_H

#include <stdint.h>

enum _QORB_STATUS_t : uint32_t {
    QORB_SUCCESS                        = 0x00000000u,
    QORB_MULTIPLE_INSTANCES_OF_CAP      = 0x00000001u,
    QORB_INSUFFICIENT_RESOURCES         = 0x80000000u,
    QORB_DRIVER_INIT_FAILED             = 0x80000001u,
    QORB_INVALID_PARAMETER              = 0x80000003u,
    QORB_UNSUPPORTED_PARAMETER          = 0x80000004u,
    QORB_STATUS_FAILED                  = 0x80000006u,
    QORB_NO_LOG_FILE                    = 0x80000007u,
    QORB_INVALID_LOG_FILE_HANDLE        = 0x80000008u,
    QORB_LOG_FILE_TOO_BIG               = 0x80000009u,
    QORB_NO_DAT_FILE                    = 0x8000000au,
    QORB_LOG_NOT_OPEN                   = 0x8000000bu,
    QORB_LOG_WRITE_ERROR                = 0x8000000cu,
    QORB_EVENT_ABANDONED                = 0x8000000du,
    QORB_EVENT_FLAG1_SET                = 0x8000000eu,
    QORB_EVENT_FLAG2_SET                = 0x8000000fu,
    QORB_EVENT_TIMEOUT                  = 0x80000010u,
    QORB_INVALID_DEVICE_HANDLE          = 0x80000012u,
    QORB_NOT_IMPLEMENTED                = 0x80000014u,
    QORB_DEVICE_NOT_FOUND               = 0x80000016u,
    QORB_FIND_DEVICE_FAILED             = 0x8000001cu,
    QORB_PCIE_CONFIG_READ_FAILED        = 0x8000001fu,
    QORB_PCIE_CONFIG_WRITE_FAILED       = 0x80000020u,
    QORB_PCIE_CAP_DOES_NOT_EXIST        = 0x80000021u,
    QORB_PCIE_CAP_OUT_OF_RANGE          = 0x80000023u,
    QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP = 0x80000024u,
};

/* Test-card operations hand back the card library's own status unchanged, so
 * a status may hold values outside the list above. */
static inline _QORB_STATUS_t QORB_STATUS_FROM(uint32_t value) { return static_cast<_QORB_STATUS_t>(value); }

#endif
