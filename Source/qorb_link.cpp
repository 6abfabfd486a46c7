/* Link control: retraining, disabling and enabling the DUT's link from the
 * port at the upstream end of it (the parent link set by OpenDevice), the
 * check for the end of training, and the two ASPM operations, which accept
 * a state and change nothing.
 *
 * Choices: a capability handle obtained for the port is released on every
 * path, failures included; a negative delay given to
 * QORB_WaitForDeviceToRetrain is taken as 0 (the link is tested at once). */
#include <stdio.h>

#include "qorb_internal.h"
#include "qorb_platform.h"

namespace {

constexpr uint32_t kLinkControl = PCI_EXP_LNKCTL;   /* 0x10 in the capability */
constexpr uint16_t kLinkDisable = PCI_EXP_LNKCTL_LD;
constexpr uint16_t kRetrainLink = PCI_EXP_LNKCTL_RL;
constexpr uint16_t kLinkTraining = PCI_EXP_LNKSTA_LT;

/* Writes Link Control back through the port's capability handle. */
_QORB_STATUS_t WriteLinkControl(void* capHandle, uint16_t value)
{
    uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    uint32_t length = sizeof bytes;
    return WriteCapability(capHandle, bytes, kLinkControl, &length);
}

/* The port's PCI Express capability and a handle to it. On failure the
 * operation named by op says so and no handle is left. */
_QORB_STATUS_t PortCapability(const char* op, QORB_DEVICE_t* port, _PCIE_CAPABILITY_STRUCT_t* cap, void** capHandle)
{
    _QORB_STATUS_t status = GetPCIECapability(port, cap, capHandle);
    if (status != QORB_SUCCESS) {
        printf("%s. Getting PCI-Express Caps for device\t\t\t\t@ BDF[%d,%d,%d] failed\n", op, port->bus,
               port->device, port->function);
        QORB_FreeCapabilityHandle(*capHandle);
        *capHandle = nullptr;
    }
    return status;
}

_QORB_STATUS_t SetLinkDisable(void* handle, int disable)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!device)
        return QORB_INVALID_PARAMETER;
    QORB_DEVICE_t* port = device->parent;
    if (!port) {
        printf("QORB_DisableLink. ERROR . Cannot find upstream device for \t\t\t\tdevice @ BDF[%d,%d,%d]\n",
               device->bus, device->device, device->function);
        return QORB_STATUS_FAILED;
    }
    _PCIE_CAPABILITY_STRUCT_t cap{};
    void* capHandle = nullptr;
    _QORB_STATUS_t status = PortCapability("QORB_DisableLink", port, &cap, &capHandle);
    if (status != QORB_SUCCESS)
        return status;
    uint16_t control = disable ? cap.linkControl | kLinkDisable : cap.linkControl & ~kLinkDisable;
    status = WriteLinkControl(capHandle, control);
    QORB_FreeCapabilityHandle(capHandle);
    if (status != QORB_SUCCESS) {
        printf("QORB_DisableLink. Writing to PCI-Express caps\t\t\t\tfor Device at BDF[%d,%d,%d] failed\n",
               port->bus, port->device, port->function);
        return status;
    }
    return QORB_SUCCESS;
}

} // namespace

QORB_API _QORB_STATUS_t QORB_RetrainDUTLink(void* handle)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!device)
        return QORB_INVALID_PARAMETER;
    QORB_DEVICE_t* port = device->parent;
    if (!port)
        return QORB_STATUS_FAILED;
    _PCIE_CAPABILITY_STRUCT_t cap{};
    void* capHandle = nullptr;
    _QORB_STATUS_t status = PortCapability("QORB_RetrainDUTLink", port, &cap, &capHandle);
    if (status != QORB_SUCCESS)
        return status;
    status = WriteLinkControl(capHandle, static_cast<uint16_t>(cap.linkControl | kRetrainLink));
    QORB_FreeCapabilityHandle(capHandle);
    return status;
}

QORB_API _QORB_STATUS_t QORB_DisableLink(void* device)
{
    return SetLinkDisable(device, 1);
}

QORB_API _QORB_STATUS_t QORB_EnableLink(void* device)
{
    return SetLinkDisable(device, 0);
}

QORB_API _QORB_STATUS_t QORB_WaitForDeviceToRetrain(void* device, int32_t delayMs)
{
    PlatformSleep(delayMs > 0 ? static_cast<uint32_t>(delayMs) : 0);
    if (!device)
        return QORB_INVALID_PARAMETER;
    _PCIE_CAPABILITY_STRUCT_t cap{};
    void* capHandle = nullptr;
    _QORB_STATUS_t status = GetPCIECapability(device, &cap, &capHandle);
    if (status == QORB_SUCCESS)
        status = (cap.linkStatus & kLinkTraining) ? QORB_STATUS_FAILED : QORB_SUCCESS;
    QORB_FreeCapabilityHandle(capHandle);
    return status;
}

QORB_API _QORB_STATUS_t QORB_GetPortToResetOrRetrain(void* handle, void** port)
{
    if (port)
        *port = nullptr;
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!device || !port || !device->parent)
        return QORB_INVALID_PARAMETER;
    *port = device->parent;
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t SetASPMState(void*, _QORB_ASPM_CONTROL_STATE_t)
{
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t SetUpstreamASPMState(void*, _QORB_ASPM_CONTROL_STATE_t)
{
    return QORB_SUCCESS;
}
