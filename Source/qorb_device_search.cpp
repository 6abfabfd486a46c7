/* Device search and traversal: exhaustive scans of buses 0 to 254 by
 * location, identity, class code and port type, the bridge above a device,
 * and the parent resolution that OpenDevice runs.
 *
 * A location is probed with one 64-byte driver read at offset 0 into a
 * cleared 256-byte buffer; a function is present when all 64 bytes arrive
 * and its Vendor ID is not 0xFFFF. A probe that finds nothing costs that one
 * read and nothing else: records are built only for functions that are
 * present (the port-type scan) or chosen (every other search).
 *
 * Choices made here:
 * - Null out locations, null instance or criteria of FindDevice with an
 *   instance, and null device handles give QORB_INVALID_PARAMETER; nothing is
 *   searched.
 * - The port-type scan and the parent resolution ask for the PCI Express
 *   capability structure only: no capability handle is made, so none is left
 *   to release. Every record the port-type scan builds and does not return
 *   is released at once; the intermediate bridge of a downstream port's
 *   parent resolution is released with CloseDevice.
 * - A record that cannot be allocated ends the port-type scan with
 *   QORB_INSUFFICIENT_RESOURCES, as for the other searches. */
#include <string.h>

#include "qorb_internal.h"

namespace {

constexpr uint16_t kVendorAbsent = 0xFFFF;
constexpr uint16_t kIdScanBusEnd = 0x0000;        /* ends a bus for the ID search */
constexpr uint16_t kIdLocationScanBusEnd = 0x00FF; /* ends a bus for the IDs-and-location search */

/* One location's probe: the buffer a record is built from. */
struct Probe {
    mutable uint8_t header[QORB_SHADOW_LENGTH]; /* the tail is cleared lazily, see Header() */

    Probe() { memset(header, 0, sizeof header); }

    /* Only the 64 bytes a probe reads are cleared per location: clearing the
     * whole buffer 65,280 times was most of a full scan's time. */
    bool Read(uint32_t bus, uint32_t dev, uint32_t fn)
    {
        memset(header, 0, QORB_PROBE_LENGTH);
        uint32_t count = DriverReadConfig(bus, dev, fn, 0, QORB_PROBE_LENGTH, header);
        return count == QORB_PROBE_LENGTH && VendorId() != kVendorAbsent;
    }
    /* The buffer a record is built from: the probed bytes, zeros after them
     * (whatever a driver may have written past the 64 bytes it was asked for). */
    const uint8_t* Header() const
    {
        memset(header + QORB_PROBE_LENGTH, 0, sizeof header - QORB_PROBE_LENGTH);
        return header;
    }
    uint16_t VendorId() const { return static_cast<uint16_t>(header[PCI_VENDOR_ID] | (header[PCI_VENDOR_ID + 1] << 8)); }
    uint16_t DeviceId() const { return static_cast<uint16_t>(header[PCI_DEVICE_ID] | (header[PCI_DEVICE_ID + 1] << 8)); }
};

/* A location in scan order. */
struct Location {
    uint32_t bus, dev, fn;
};

/* What a scan callback answers for a present function. */
enum class Verdict { Skip, EndBus, Take, Stop };

/* Walks the locations from start in scan order (the first bus continues from
 * the start device, the first device from the start function; later ones
 * start at 0) and calls judge(probe, location) for each present function.
 * Answers true with the location judged Take; false when the walk ended
 * without one (after bus 254, or at Stop). */
template <typename Judge>
bool Scan(Location start, Probe& probe, Location* hit, Judge judge)
{
    for (uint32_t bus = start.bus; bus <= QORB_SCAN_LAST_BUS; ++bus) {
        bool endBus = false;
        for (uint32_t dev = bus == start.bus ? start.dev : 0; dev < QORB_SCAN_DEVICES && !endBus; ++dev) {
            uint32_t firstFn = bus == start.bus && dev == start.dev ? start.fn : 0;
            for (uint32_t fn = firstFn; fn < QORB_SCAN_FUNCTIONS; ++fn) {
                if (!probe.Read(bus, dev, fn))
                    continue;
                Location here{bus, dev, fn};
                Verdict verdict = judge(probe, here);
                if (verdict == Verdict::Take) {
                    *hit = here;
                    return true;
                }
                if (verdict == Verdict::Stop)
                    return false;
                if (verdict == Verdict::EndBus) {
                    endBus = true;
                    break;
                }
            }
        }
    }
    return false;
}

_QORB_STATUS_t Record(const Probe& probe, Location where, void** out)
{
    QORB_DEVICE_t* record = CreateDeviceRecord(probe.Header(), static_cast<uint8_t>(where.bus),
                                               static_cast<uint8_t>(where.dev), static_cast<uint8_t>(where.fn));
    if (!record)
        return QORB_INSUFFICIENT_RESOURCES;
    *out = record;
    return QORB_SUCCESS;
}

/* The scan for a function by its IDs, optionally at one location, with the
 * Vendor ID value that ends a bus. */
_QORB_STATUS_t FindByIds(uint16_t deviceId, uint16_t vendorId, const Location* at, uint16_t busEnd, void** out)
{
    if (!out)
        return QORB_INVALID_PARAMETER;
    *out = nullptr;
    Probe probe;
    Location hit{};
    bool found = Scan({0, 0, 0}, probe, &hit, [&](const Probe& p, Location here) {
        if (p.VendorId() == busEnd)
            return Verdict::EndBus;
        if (p.DeviceId() != deviceId || p.VendorId() != vendorId)
            return Verdict::Skip;
        if (at && (here.bus != at->bus || here.dev != at->dev || here.fn != at->fn))
            return Verdict::Skip;
        return Verdict::Take;
    });
    if (!found)
        return QORB_DEVICE_NOT_FOUND;
    return Record(probe, hit, out);
}

/* The scan for the first function of a PCI Express port type from start. */
_QORB_STATUS_t FindByPortType(uint32_t portType, Location start, void** out)
{
    if (!out)
        return QORB_INVALID_PARAMETER;
    *out = nullptr;
    Probe probe;
    Location hit{};
    _QORB_STATUS_t failure = QORB_DEVICE_NOT_FOUND;
    QORB_DEVICE_t* result = nullptr;
    Scan(start, probe, &hit, [&](const Probe& p, Location here) {
        QORB_DEVICE_t* record = CreateDeviceRecord(p.Header(), static_cast<uint8_t>(here.bus),
                                                   static_cast<uint8_t>(here.dev), static_cast<uint8_t>(here.fn));
        if (!record) {
            failure = QORB_INSUFFICIENT_RESOURCES;
            return Verdict::Stop;
        }
        _PCIE_CAPABILITY_STRUCT_t cap{};
        if (HelpGetPCICapability(record, QORB_PCI_CAP_PCI_EXPRESS, 0, 0, &cap, nullptr) == QORB_SUCCESS &&
            PciePortType(cap) == portType) {
            result = record;
            return Verdict::Take;
        }
        CloseDevice(record);
        return Verdict::Skip;
    });
    if (!result)
        return failure;
    *out = result;
    return QORB_SUCCESS;
}

/* FindNext…: one function past the device's location; false past bus 254. */
bool StepPast(const QORB_DEVICE_t* device, Location* next)
{
    uint32_t bus = device->bus, dev = device->device, fn = device->function + 1u;
    if (fn >= QORB_SCAN_FUNCTIONS) {
        fn = 0;
        ++dev;
    }
    if (dev >= QORB_SCAN_DEVICES) {
        dev = 0;
        ++bus;
    }
    if (bus > QORB_SCAN_LAST_BUS)
        return false;
    *next = {bus, dev, fn};
    return true;
}

_QORB_STATUS_t FindNextByPortType(uint32_t portType, void* handle, void** out)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    Location next{};
    if (!device || !out || !StepPast(device, &next))
        return QORB_INVALID_PARAMETER;
    return FindByPortType(portType, next, out);
}

} // namespace

/* ------------------------------------------------------------- FindDevice */

QORB_API _QORB_STATUS_t FindDevice(uint8_t bus, uint8_t dev, uint8_t fn, void** out)
{
    if (!out)
        return QORB_INVALID_PARAMETER;
    *out = nullptr;
    Probe probe;
    if (!probe.Read(bus, dev, fn) || probe.VendorId() == 0x0000)
        return QORB_DEVICE_NOT_FOUND;
    return Record(probe, {bus, dev, fn}, out);
}

/* The first argument is compared with the Device ID, the second with the
 * Vendor ID. A function with Vendor ID 0x0000 ends the scan of its bus. */
QORB_API _QORB_STATUS_t FindDevice(uint16_t deviceId, uint16_t vendorId, void** out)
{
    return FindByIds(deviceId, vendorId, nullptr, kIdScanBusEnd, out);
}

/* Walks every location (the location is not probed directly); a function
 * with Vendor ID 0x00FF ends the scan of its bus. */
QORB_API _QORB_STATUS_t FindDevice(uint16_t deviceId, uint16_t vendorId, uint8_t bus, uint8_t dev, uint8_t fn,
                                   void** out)
{
    Location at{bus, dev, fn};
    return FindByIds(deviceId, vendorId, &at, kIdLocationScanBusEnd, out);
}

QORB_API _QORB_STATUS_t FindDevice(void* instanceHandle, void** out, uint32_t flags,
                                   _QORB_DEVICE_FIND_INFO_t* criteria)
{
    if (!out)
        return QORB_INVALID_PARAMETER;
    *out = nullptr;
    const bool byId = (flags & (QORB_FIND_VENDOR_ID | QORB_FIND_DEVICE_ID)) != 0;
    const bool byClass = (flags & QORB_FIND_CLASS_CODE) != 0;
    const bool byLocation = (flags & QORB_FIND_LOCATION) != 0;
    if (!byId && !byClass && !byLocation)
        return QORB_FIND_DEVICE_FAILED;
    auto* instance = static_cast<QORB_INSTANCE_t*>(instanceHandle);
    if (!instance || !criteria)
        return QORB_INVALID_PARAMETER;

    const auto bus = static_cast<uint8_t>(criteria->busNumber);
    _QORB_STATUS_t status;
    void* found = nullptr;
    if (byClass)
        status = FindDeviceByClassCode(criteria->progIf, criteria->subClass, criteria->baseClass, &found);
    else if (!byLocation)
        status = FindDevice(criteria->deviceId, criteria->vendorId, &found);
    else if (!byId)
        status = FindDevice(bus, criteria->deviceNumber, criteria->functionNumber, &found);
    else
        status = FindDevice(criteria->deviceId, criteria->vendorId, bus, criteria->deviceNumber,
                            criteria->functionNumber, &found);
    if (status != QORB_SUCCESS)
        return QORB_FIND_DEVICE_FAILED;

    auto* record = static_cast<QORB_DEVICE_t*>(found);
    record->isOpen = 0;
    if (record->isZeb)
        record->owner = instance;   /* test cards are handed out but not listed */
    else
        InsertDeviceIntoInstance(instance, record);
    *out = record;
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t FindDeviceByLocation(uint8_t bus, uint8_t dev, uint8_t fn, void** out)
{
    return FindDevice(bus, dev, fn, out);
}

QORB_API _QORB_STATUS_t FindDeviceById(uint16_t deviceId, uint16_t vendorId, void** out)
{
    return FindDevice(deviceId, vendorId, out);
}

QORB_API _QORB_STATUS_t FindDeviceByInfo(void* instance, void** out, uint32_t flags,
                                         _QORB_DEVICE_FIND_INFO_t* criteria)
{
    return FindDevice(instance, out, flags, criteria);
}

/* Configuration bytes 0x09, 0x0A and 0x0B; no Vendor ID value ends a bus. */
QORB_API _QORB_STATUS_t FindDeviceByClassCode(uint8_t progIf, uint8_t subClass, uint8_t baseClass, void** out)
{
    if (!out)
        return QORB_INVALID_PARAMETER;
    *out = nullptr;
    Probe probe;
    Location hit{};
    bool found = Scan({0, 0, 0}, probe, &hit, [&](const Probe& p, Location) {
        bool match = p.header[PCI_CLASS_PROG] == progIf && p.header[PCI_CLASS_DEVICE] == subClass &&
                     p.header[PCI_CLASS_DEVICE + 1] == baseClass;
        return match ? Verdict::Take : Verdict::Skip;
    });
    if (!found)
        return QORB_DEVICE_NOT_FOUND;
    return Record(probe, hit, out);
}

/* ------------------------------------------------------ port-type search */

#define QORB_PORT_TYPE_PAIR(Name, portType)                                    \
    QORB_API _QORB_STATUS_t FindFirst##Name(void* /*instance*/, void** out)    \
    {                                                                          \
        return FindByPortType(portType, {0, 0, 0}, out);                       \
    }                                                                          \
    QORB_API _QORB_STATUS_t FindNext##Name(void* device, void** out)           \
    {                                                                          \
        return FindNextByPortType(portType, device, out);                      \
    }

QORB_PORT_TYPE_PAIR(RootPort, QORB_ROOT_PORT)
QORB_PORT_TYPE_PAIR(Endpoint, QORB_PCIE_ENDPOINT)
QORB_PORT_TYPE_PAIR(LegacyEndpoint, QORB_LEGACY_ENDPOINT)
QORB_PORT_TYPE_PAIR(Bridge, QORB_PCIE_TO_PCI_BRIDGE)
QORB_PORT_TYPE_PAIR(Switch, QORB_SWITCH_UPSTREAM_PORT)
QORB_PORT_TYPE_PAIR(DownSwitch, QORB_SWITCH_DOWNSTREAM_PORT)

#undef QORB_PORT_TYPE_PAIR

/* ------------------------------------------------------- walking upward */

/* The first type 1 function (other than the device itself) whose secondary
 * bus is the device's bus. Subordinate bus ranges are not consulted. */
QORB_DEVICE_t* FindUpstreamBridge(QORB_DEVICE_t* device)
{
    if (!device)
        return nullptr;
    Probe probe;
    Location hit{};
    bool found = Scan({0, 0, 0}, probe, &hit, [&](const Probe& p, Location here) {
        if (here.bus == device->bus && here.dev == device->device && here.fn == device->function)
            return Verdict::Skip;
        bool bridge = (p.header[PCI_HEADER_TYPE] & PCI_HEADER_TYPE_MASK) == PCI_HEADER_TYPE_BRIDGE;
        return bridge && p.header[PCI_SECONDARY_BUS] == device->bus ? Verdict::Take : Verdict::Skip;
    });
    if (!found)
        return nullptr;
    return CreateDeviceRecord(probe.Header(), static_cast<uint8_t>(hit.bus), static_cast<uint8_t>(hit.dev),
                              static_cast<uint8_t>(hit.fn));
}

/* The port at the upstream end of the device's link, as a new record, or
 * null: the bridge above an endpoint, legacy endpoint, switch upstream port
 * or PCI Express to PCI bridge; the bridge above the switch of a downstream
 * port; none for every other port type or without a PCI Express capability. */
QORB_DEVICE_t* ResolveParent(QORB_DEVICE_t* device)
{
    _PCIE_CAPABILITY_STRUCT_t cap{};
    if (GetPCIECapability(device, &cap, nullptr) != QORB_SUCCESS)
        return nullptr;
    switch (PciePortType(cap)) {
    case QORB_PCIE_ENDPOINT:
    case QORB_LEGACY_ENDPOINT:
    case QORB_SWITCH_UPSTREAM_PORT:
    case QORB_PCIE_TO_PCI_BRIDGE:
        return FindUpstreamBridge(device);
    case QORB_SWITCH_DOWNSTREAM_PORT: {
        QORB_DEVICE_t* switchUpstream = FindUpstreamBridge(device);
        if (!switchUpstream)
            return nullptr;
        QORB_DEVICE_t* above = FindUpstreamBridge(switchUpstream);
        CloseDevice(switchUpstream);
        return above;
    }
    default:
        return nullptr;
    }
}

QORB_API _QORB_STATUS_t GetParentDevice(void* handle, void** parent)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!device || !parent || !device->parent)
        return QORB_INVALID_PARAMETER;
    *parent = device->parent;
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t GetParentPort(void*, void**)
{
    return QORB_NOT_IMPLEMENTED;
}

QORB_API void* QORB_GetUpStreamPort(void* device)
{
    return FindUpstreamBridge(static_cast<QORB_DEVICE_t*>(device));
}

QORB_API _QORB_STATUS_t QORB_GetDeviceProperties(void* handle, uint8_t* bus, uint8_t* dev, uint8_t* fn,
                                                 uint16_t* vendorId, uint16_t* deviceId)
{
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!device)
        return QORB_INVALID_PARAMETER;
    if (bus)
        *bus = device->bus;
    if (dev)
        *dev = device->device;
    if (fn)
        *fn = device->function;
    if (vendorId)
        *vendorId = device->vendorId;
    if (deviceId)
        *deviceId = device->deviceId;
    return QORB_SUCCESS;
}
