/* Capabilities: capability handles and the two length tables, the typed
 * lookups of legacy and extended capabilities, and the walk of both lists.
 *
 * Every configuration access goes through ReadConfigSpace/WriteConfigSpace;
 * nothing is cached. Diagnostics go to standard output and name the lookup,
 * this file and the line that prints them.
 *
 * Choices made here:
 *
 * - Runaway lists. Capability pointers come from hardware, so every loop over
 *   them is bounded. The legacy area holds at most 48 dword-aligned headers
 *   (0x40 to 0xFC) and the extended area at most 960 (0x100 to 0xFFC). A
 *   lookup that would examine more headers than that (one more in the legacy
 *   lookup, whose first header may lie anywhere up to 0x100) and the MSI count
 *   once it has found more than 48 MSI capabilities stop with
 *   QORB_INVALID_PARAMETER: such a list has a cycle and is malformed, the
 *   same status the legacy lookup gives a pointer to the current header.
 *   The bound errs on the permissive side: an acyclic list never reaches it.
 *   The walk is different: each step reads one header and keeps no count, so
 *   around a cycle it goes on for as long as the caller goes on calling. A
 *   caller that walks a list it does not trust bounds its own loop (the qorb
 *   tool stops after 1024 capabilities, more than both areas can hold).
 *
 * - Handles made by the lookups carry the same five fields a walk would give
 *   for the capability: length from the length table (for a vendor-specific
 *   legacy capability, the length byte of the structure) and next offset as
 *   read from the header. QORB_QueryCapInfo reports them and GetNextCapability
 *   goes on from them.
 *
 * - What the legacy lookup copies. The legacy length table gives 0 bytes for
 *   MSI-X, for IDs 0x06 to 0x0C and (after its "Unknown cap" message) for IDs
 *   outside the table. MSI-X is copied as the standard's 12-byte structure, so
 *   GetMSIXCapability fills _PCI_MSI_X_CAPABILITY_STRUCT_t; every other
 *   zero-length ID copies nothing, and the ID test is skipped for an empty
 *   copy (the header read has already shown the ID).
 *
 * - Handles out of failing operations. A lookup that fails leaves the caller's
 *   handle location as it was (the MSI count relies on that), except the
 *   extended lookup's multiple-instance case, which stores null. The MSI count
 *   releases each handle it replaces at the caller's location, so only the
 *   last one is left for the caller. GetFirstCapability stores null on every
 *   failure, so a failed walk never leaves a stale handle behind.
 *
 * - Null arguments. A null device or capability handle, and a null location
 *   that an operation must write through, give QORB_INVALID_PARAMETER without
 *   touching anything (GetNextCapability already does so by rule).
 *
 * - A handle that cannot be allocated gives QORB_INSUFFICIENT_RESOURCES. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qorb_internal.h"
#include "qorb_registry.h"

namespace {

constexpr uint32_t kLegacyFirst = 0x40;          /* first byte after the header */
constexpr uint32_t kLegacyLimit = 0x100;         /* highest pointer still accepted */
constexpr uint32_t kExtendedStart = PCI_CFG_SPACE_SIZE;
constexpr uint32_t kLegacyHeaders = 48;          /* dword-aligned headers 0x40 to 0xFC */
constexpr uint32_t kExtendedHeaders = 960;       /* dword-aligned headers 0x100 to 0xFFC */
constexpr uint32_t kMsixLength = 12;             /* the standard's MSI-X structure */
constexpr uint32_t kMaxCopy = 64;                /* larger than every structure a lookup copies */
constexpr uint32_t kVendorLengthOffset = 2;      /* length byte of a vendor-specific capability */

QORB_DEVICE_t* AsDevice(void* handle)
{
    return static_cast<QORB_DEVICE_t*>(handle);
}

QORB_CAP_HANDLE_t* AsCap(void* handle)
{
    return static_cast<QORB_CAP_HANDLE_t*>(handle);
}

uint16_t ShadowStatus(const QORB_DEVICE_t* device)
{
    return static_cast<uint16_t>(device->configShadow[PCI_STATUS] | (device->configShadow[PCI_STATUS + 1] << 8));
}

bool ShadowHasCapList(const QORB_DEVICE_t* device)
{
    return (ShadowStatus(device) & PCI_STATUS_CAP_LIST) != 0;
}

uint8_t ShadowHeaderLayout(const QORB_DEVICE_t* device)
{
    return device->configShadow[PCI_HEADER_TYPE] & PCI_HEADER_TYPE_MASK;
}

bool HasCapabilityLists(const QORB_DEVICE_t* device)
{
    uint8_t layout = ShadowHeaderLayout(device);
    return layout == PCI_HEADER_TYPE_NORMAL || layout == PCI_HEADER_TYPE_BRIDGE;
}

uint32_t Le32(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

/* A read that must transfer exactly what was asked; *count receives what
 * did arrive. */
_QORB_STATUS_t ReadExactly(QORB_DEVICE_t* device, uint8_t* buffer, uint32_t offset, uint32_t length,
                           uint32_t* count)
{
    uint32_t n = length;
    _QORB_STATUS_t status = ReadConfigSpace(device, buffer, offset, &n);
    if (count)
        *count = n;
    return status;
}

_QORB_STATUS_t MakeHandle(QORB_DEVICE_t* device, uint32_t offset, uint32_t id, uint32_t length, uint32_t next,
                          void** out)
{
    auto* cap = static_cast<QORB_CAP_HANDLE_t*>(calloc(1, sizeof(QORB_CAP_HANDLE_t)));
    if (!cap)
        return QORB_INSUFFICIENT_RESOURCES;
    cap->device = device;
    cap->offset = offset;
    cap->capabilityId = id;
    cap->length = length;
    cap->nextOffset = next;
    if (!RegisterRecord(QorbRecordKind::kCapability, cap)) {
        free(cap);
        return QORB_INSUFFICIENT_RESOURCES;
    }
    *out = cap;
    return QORB_SUCCESS;
}

/* Length of a legacy capability as the walk records it: the structure's own
 * length byte for a vendor-specific capability, the table otherwise. */
_QORB_STATUS_t LegacyWalkLength(QORB_DEVICE_t* device, uint32_t offset, uint8_t id, uint32_t* length)
{
    if (id != PCI_CAP_ID_VNDR)
        return GetLegacyCapLength(id, length);
    uint8_t byte = 0;
    _QORB_STATUS_t status = ReadExactly(device, &byte, offset + kVendorLengthOffset, 1, nullptr);
    if (status == QORB_SUCCESS)
        *length = byte;
    return status;
}

/* Bytes the legacy lookup copies for a type whose table length is known. */
uint32_t LegacyCopyLength(uint32_t type, uint32_t tableLength)
{
    return type == PCI_CAP_ID_MSIX ? kMsixLength : tableLength;
}

/* Length a lookup-made handle records for the legacy capability it found:
 * what the walk would record (see the choices above); a vendor-specific
 * length byte that cannot be read is recorded as 0. */
uint32_t LookupHandleLength(QORB_DEVICE_t* device, uint32_t offset, uint32_t type, uint32_t tableLength)
{
    uint32_t length = tableLength;
    if (type == PCI_CAP_ID_VNDR && LegacyWalkLength(device, offset, PCI_CAP_ID_VNDR, &length) != QORB_SUCCESS)
        length = 0;
    return length;
}

/* Replaces a handle the MSI count stored earlier. */
void ReplaceHandle(void** out, void** mine, void* next)
{
    if (*mine)
        QORB_FreeCapabilityHandle(*mine);
    *mine = next;
    *out = next;
}

} // namespace

/* ------------------------------------------------------------ length tables */

_QORB_STATUS_t GetLegacyCapLength(uint32_t capabilityId, uint32_t* length)
{
    switch (capabilityId) {
    case PCI_CAP_ID_PM:
        *length = 8;
        return QORB_SUCCESS;
    case PCI_CAP_ID_AGP:
    case PCI_CAP_ID_VPD:
    case PCI_CAP_ID_SLOTID:
        return QORB_UNSUPPORTED_PARAMETER;
    case PCI_CAP_ID_MSI:
        *length = 20;
        return QORB_SUCCESS;
    case PCI_CAP_ID_CHSWP:
    case PCI_CAP_ID_PCIX:
    case PCI_CAP_ID_HT:
    case PCI_CAP_ID_VNDR:
    case PCI_CAP_ID_DBG:
    case PCI_CAP_ID_CCRC:
    case PCI_CAP_ID_SHPC:
    case PCI_CAP_ID_MSIX:
        *length = 0;
        return QORB_SUCCESS;
    case PCI_CAP_ID_EXP:
        *length = 36;
        return QORB_SUCCESS;
    default:
        /* No length is known; callers record 0. */
        printf("Unknown cap[%d]\n", static_cast<int>(capabilityId));
        *length = 0;
        return QORB_SUCCESS;
    }
}

_QORB_STATUS_t GetExtendedCapLength(uint32_t capabilityId, uint32_t* length)
{
    for (const QORB_EXT_CAP_LENGTH_t& entry : g_qorbExtCapLengths) {
        if (entry.capabilityId == capabilityId) {
            *length = entry.length;
            return QORB_SUCCESS;
        }
    }
    return QORB_INVALID_PARAMETER;
}

/* ------------------------------------------------------- capability handles */

QORB_API _QORB_STATUS_t GetCapabilityHeader(void* handle, _PCI_CAPABILITY_HEADER_t* header, uint32_t offset)
{
    QORB_DEVICE_t* device = AsDevice(handle);
    if (!device || !header)
        return QORB_INVALID_PARAMETER;
    if (!ShadowHasCapList(device))
        return QORB_PCIE_CAP_OUT_OF_RANGE;
    uint32_t pointer = offset;
    if (pointer == 0) {
        uint8_t byte = 0;
        if (ReadExactly(device, &byte, PCI_CAPABILITY_LIST, 1, nullptr) == QORB_SUCCESS)
            pointer = byte;
    }
    pointer &= ~3u;
    printf("Capability Pointer 0x%2.2X \n", pointer);
    if (pointer < kLegacyFirst || pointer > kLegacyLimit)
        return QORB_PCIE_CAP_OUT_OF_RANGE;
    _QORB_STATUS_t status = ReadExactly(device, reinterpret_cast<uint8_t*>(header), pointer, sizeof *header, nullptr);
    printf("Capability TYPE = 0x%2.2X \n", header->capabilityId);
    printf("Next capability Offset : 0x%2.2X\n", header->nextPointer);
    return status;
}

QORB_API _QORB_STATUS_t ReadCapability(void* capHandle, uint8_t* buffer, uint32_t offset, uint32_t* length)
{
    QORB_CAP_HANDLE_t* cap = AsCap(capHandle);
    if (!cap)
        return QORB_INVALID_PARAMETER;
    return ReadConfigSpace(cap->device, buffer, cap->offset + offset, length);
}

QORB_API _QORB_STATUS_t WriteCapability(void* capHandle, uint8_t* buffer, uint32_t offset, uint32_t* length)
{
    QORB_CAP_HANDLE_t* cap = AsCap(capHandle);
    if (!cap)
        return QORB_INVALID_PARAMETER;
    return WriteConfigSpace(cap->device, buffer, cap->offset + offset, length);
}

QORB_API _QORB_STATUS_t GetCapOffset(void* capHandle, uint32_t* offset)
{
    QORB_CAP_HANDLE_t* cap = AsCap(capHandle);
    if (!cap || !offset)
        return QORB_INVALID_PARAMETER;
    *offset = cap->offset;
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t QORB_QueryCapInfo(void* capHandle, _QORB_PCI_DEVICE_CAP_INFO_t* info)
{
    QORB_CAP_HANDLE_t* cap = AsCap(capHandle);
    if (!cap || !info)
        return QORB_INVALID_PARAMETER;
    info->offset = cap->offset;
    info->capabilityId = cap->capabilityId;
    info->length = cap->length;
    info->nextOffset = cap->nextOffset;
    return QORB_SUCCESS;
}

/* A handle that is not a live capability handle (released already, or never
 * made here) is ignored. */
QORB_API _QORB_STATUS_t QORB_FreeCapabilityHandle(void* capHandle)
{
    if (UnregisterRecord(QorbRecordKind::kCapability, capHandle))
        free(capHandle);
    return QORB_SUCCESS;
}

/* ---------------------------------------------------------- typed lookups */

QORB_API _QORB_STATUS_t HelpGetPCICapability(void* handle, _QORB_PCI_CAPABILITY_TYPE_t type, uint32_t startOffset,
                                             int instanceCheck, void* record, void** capHandle)
{
    QORB_DEVICE_t* device = AsDevice(handle);
    if (!device)
        return QORB_INVALID_PARAMETER;

    uint32_t pointer;
    if (startOffset == 0) {
        if (!HasCapabilityLists(device))
            return QORB_INVALID_PARAMETER;
        pointer = device->configShadow[PCI_CAPABILITY_LIST] & ~3u;
        if (!ShadowHasCapList(device))
            return QORB_PCIE_CAP_OUT_OF_RANGE;
        if (pointer < kLegacyFirst || pointer > kLegacyLimit) {
            printf("***ERROR**[%s] file[%s] line[%d] device implement pci caps but start offset[%d] is outside of legal limit\n", __func__, __FILE__, __LINE__, pointer);
            return QORB_INVALID_PARAMETER;
        }
    } else {
        if (startOffset > kLegacyLimit) {
            printf("****ERROR. [%s] file[%s] line[%d] offset[%d] provided by user for pci caps is outside of the legacy config space\n", __func__, __FILE__, __LINE__, startOffset);
            return QORB_INVALID_PARAMETER;
        }
        pointer = startOffset;
    }

    uint8_t copy[kMaxCopy];
    uint32_t copyLength = 0;
    uint32_t tableLength = 0;
    uint32_t count = 0;
    uint32_t foundOffset = 0;
    uint8_t foundNext = 0;
    /* The first header may lie anywhere up to 0x100; every later one is one
     * of the 48 the legacy area holds. */
    for (uint32_t examined = 0;; ++examined) {
        if (examined > kLegacyHeaders)
            return QORB_INVALID_PARAMETER;
        uint8_t header[2];
        uint32_t got = 0;
        _QORB_STATUS_t status = ReadExactly(device, header, pointer, sizeof header, &got);
        if (status != QORB_SUCCESS) {
            printf("**ERROR***:[%s] file[%s] line[%d] reading config space at offset[%d] length[%d] failed\n", __func__, __FILE__, __LINE__, pointer, got);
            return status;
        }
        if (header[PCI_CAP_LIST_ID] == type) {
            status = GetLegacyCapLength(type, &tableLength);
            if (status != QORB_SUCCESS)
                return status;
            copyLength = LegacyCopyLength(type, tableLength);
            memset(copy, 0, sizeof copy);
            status = ReadExactly(device, copy, pointer, copyLength, &got);
            if (status != QORB_SUCCESS) {
                printf("[%s] file[%s] line[%d] Reading PCI config space for CapType[%d] at offset[%d] length[%d] failed\n", __func__, __FILE__, __LINE__, static_cast<int>(type), pointer, got);
                return status;
            }
            if (copyLength > 0 && copy[PCI_CAP_LIST_ID] != type) {
                printf("****ERROR***[%s] file[%s] line[%d] capability id in whole cap not                                equal to cap id in header. Repeat configuration read error. offset[%d] length[%d]\n", __func__, __FILE__, __LINE__, pointer, got);
                return QORB_INVALID_PARAMETER;
            }
            foundOffset = pointer;
            foundNext = header[PCI_CAP_LIST_NEXT];
            ++count;
            if (!instanceCheck)
                break;
        }
        uint32_t next = header[PCI_CAP_LIST_NEXT] & ~3u;
        if (next == 0) {
            if (count > 0)
                break;
            return QORB_PCIE_CAP_OUT_OF_RANGE;
        }
        if (next < kLegacyFirst) {
            printf("[%s] file[%s] line[%d] next cap pointer[%d] for next cap points into the standard PCI legacy space\n", __func__, __FILE__, __LINE__, next);
            return QORB_INVALID_PARAMETER;
        }
        if (next == pointer)
            return QORB_INVALID_PARAMETER;
        pointer = next;
    }

    if (capHandle) {
        uint32_t length = LookupHandleLength(device, foundOffset, type, tableLength);
        _QORB_STATUS_t status = MakeHandle(device, foundOffset, type, length, foundNext, capHandle);
        if (status != QORB_SUCCESS)
            return status;
    }
    if (count > 1) {
        printf("[%s] : POSSIBLE COMPLIANCE ERROR. [%d] instances of cap type[%d] have been found\n", __func__, count, static_cast<int>(type));
        return QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP;
    }
    if (record)
        memcpy(record, copy, copyLength);
    return QORB_SUCCESS;
}

/* The start offset is accepted and not used: the extended list always starts
 * at 0x100. */
QORB_API _QORB_STATUS_t HelpGetPCIECapability(void* handle, _QORB_PCIE_CAPABILITY_TYPE_t type, uint32_t /*startOffset*/,
                                              int instanceCheck, void* record, void** capHandle)
{
    QORB_DEVICE_t* device = AsDevice(handle);
    if (!device)
        return QORB_INVALID_PARAMETER;

    uint8_t copy[kMaxCopy];
    uint32_t copyLength = 0;
    uint32_t count = 0;
    uint32_t foundOffset = 0;
    uint32_t foundNext = 0;
    uint32_t pointer = kExtendedStart;
    for (uint32_t examined = 0;; ++examined) {
        if (examined >= kExtendedHeaders)
            return QORB_INVALID_PARAMETER;
        uint8_t bytes[4];
        if (ReadExactly(device, bytes, pointer, sizeof bytes, nullptr) != QORB_SUCCESS)
            return QORB_PCIE_CAP_OUT_OF_RANGE;
        uint32_t header = Le32(bytes);
        if (PCI_EXT_CAP_ID(header) == type) {
            uint32_t length = 0;
            if (GetExtendedCapLength(type, &length) != QORB_SUCCESS)
                return QORB_PCIE_CAP_OUT_OF_RANGE;
            copyLength = length;
            memset(copy, 0, sizeof copy);
            uint32_t got = 0;
            if (ReadExactly(device, copy, pointer, copyLength, &got) != QORB_SUCCESS) {
                printf("[%s] file[%s] line[%d] ReadConfigSpace from offset[%d] length[%d] failed\n", __func__, __FILE__, __LINE__, pointer, got);
                return QORB_PCIE_CAP_OUT_OF_RANGE;
            }
            if (static_cast<uint32_t>(copy[0] | (copy[1] << 8)) != type)
                return QORB_INVALID_PARAMETER;
            foundOffset = pointer;
            foundNext = header >> 20;
            ++count;
            if (!instanceCheck)
                break;
        }
        uint32_t next = PCI_EXT_CAP_NEXT(header);
        if (next == 0) {
            if (count > 0)
                break;
            return QORB_PCIE_CAP_OUT_OF_RANGE;
        }
        if (next < kExtendedStart)
            printf("**ERROR**:parsing PCIE Caps: [%s] file[%s] line[%d] next_cap_offset[%d] cap id[0x%x] expecting[%d]is in the legacy config space\n", __func__, __FILE__, __LINE__, next, PCI_EXT_CAP_ID(header), static_cast<int>(type));
        pointer = next;
    }

    if (count > 1) {
        if (capHandle)
            *capHandle = nullptr;
        printf("****ERROR MULTI-INSTANCE CAP. file[%s] line[%d] file[%s] found [%d instances] of type[%d] at offset[%d]\n", __func__, __LINE__, __FILE__, count, static_cast<int>(type), foundOffset);
        return QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP;
    }
    if (capHandle) {
        _QORB_STATUS_t status = MakeHandle(device, foundOffset, type, copyLength, foundNext, capHandle);
        if (status != QORB_SUCCESS)
            return status;
    }
    if (record)
        memcpy(record, copy, copyLength);
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t GetPCIECapability(void* device, _PCIE_CAPABILITY_STRUCT_t* record, void** capHandle)
{
    return HelpGetPCICapability(device, QORB_PCI_CAP_PCI_EXPRESS, 0, 1, record, capHandle);
}

QORB_API _QORB_STATUS_t GetPowerManagementCapability(void* device, _PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT* record,
                                                     void** capHandle)
{
    return HelpGetPCICapability(device, QORB_PCI_CAP_POWER_MANAGEMENT, 0, 1, record, capHandle);
}

QORB_API _QORB_STATUS_t GetMSIXCapability(void* device, _PCI_MSI_X_CAPABILITY_STRUCT_t* record, void** capHandle)
{
    return HelpGetPCICapability(device, QORB_PCI_CAP_MSIX, 0, 1, record, capHandle);
}

namespace {

/* Counts the MSI capabilities of one address width: each lookup starts at the
 * next pointer of the MSI capability found before. The record must be given
 * (the count reads Message Control and Next Pointer from it). */
_QORB_STATUS_t CountMsi(void* device, PCI_MSI_CAPABILITY_32_STRUCT_t* record, void** capHandle, bool wide)
{
    if (!device || !record)
        return QORB_INVALID_PARAMETER;
    void* mine = nullptr;
    uint32_t count = 0;
    uint32_t start = 0;
    for (uint32_t found = 0;; ++found) {
        if (found >= kLegacyHeaders)
            return QORB_INVALID_PARAMETER;
        void* next = nullptr;
        _QORB_STATUS_t status =
            HelpGetPCICapability(device, QORB_PCI_CAP_MSI, start, 0, record, capHandle ? &next : nullptr);
        if (status != QORB_SUCCESS) {
            if (count > 0)
                break;
            return status;
        }
        if (capHandle)
            ReplaceHandle(capHandle, &mine, next);
        bool is64 = (record->messageControl & PCI_MSI_FLAGS_64BIT) != 0;
        if (is64 == wide)
            ++count;
        start = record->nextPointer & ~3u;
        if (start == 0)
            break;
    }
    if (count == 0)
        return QORB_PCIE_CAP_OUT_OF_RANGE;
    return count == 1 ? QORB_SUCCESS : QORB_PCIE_MULTIPLE_INSTANCES_OF_CAP;
}

} // namespace

QORB_API _QORB_STATUS_t Get32BitMSICapability(void* device, PCI_MSI_CAPABILITY_32_STRUCT_t* record, void** capHandle)
{
    return CountMsi(device, record, capHandle, false);
}

/* The lookup copies the MSI table length (20 bytes) into the record. */
QORB_API _QORB_STATUS_t Get64BitMSICapability(void* device, PCI_MSI_CAPABILITY_64_STRUCT_t* record, void** capHandle)
{
    return CountMsi(device, reinterpret_cast<PCI_MSI_CAPABILITY_32_STRUCT_t*>(record), capHandle, true);
}

QORB_API _QORB_STATUS_t GetAdvErrRepCapability(void* device, _PCIE_ADV_ERR_REP_CAP_STRUCT_t* record, void** capHandle)
{
    return HelpGetPCIECapability(device, QORB_PCIE_CAP_ADV_ERR_REPORTING, 0, 1, record, capHandle);
}

QORB_API _QORB_STATUS_t GetDeviceVirtualChannelCapability(void* device, _PCIE_VIRTUAL_CHANNEL_CAPABILITY_STRUCT_t* record,
                                                          void** capHandle)
{
    return HelpGetPCIECapability(device, QORB_PCIE_CAP_VIRTUAL_CHANNEL, 0, 1, record, capHandle);
}

QORB_API _QORB_STATUS_t GetDeviceSerialNumberCapability(void* device, _PCIE_DEV_SERIAL_NUM_CAPABILITY_STRUCT* record,
                                                        void** capHandle)
{
    return HelpGetPCIECapability(device, QORB_PCIE_CAP_DEV_SERIAL_NUMBER, 0, 1, record, capHandle);
}

QORB_API _QORB_STATUS_t GetPowerBudgetingCapability(void* device, _PCIE_POWER_BUDGET_CAPABILITY_STRUCT_t* record,
                                                    void** capHandle)
{
    return HelpGetPCIECapability(device, QORB_PCIE_CAP_POWER_BUDGETING, 0, 1, record, capHandle);
}

/* ------------------------------------------------------------------- walk */

namespace {

/* The first extended capability (header at 0x100), or the status that says
 * why there is none: notFound for a device without a PCI Express capability
 * or an empty header, the table's status for an ID it has no length for,
 * readFailed for an unreadable header. */
struct ExtendedFirst {
    _QORB_STATUS_t status;
    uint32_t id, length, next;
};

ExtendedFirst ReadFirstExtended(QORB_DEVICE_t* device, _QORB_STATUS_t notFound, _QORB_STATUS_t readFailed)
{
    _QORB_DEV_PORT_TYPE_t portType;
    if (GetDeviceType(device, &portType) != QORB_SUCCESS)
        return {notFound, 0, 0, 0};
    uint8_t bytes[4];
    if (ReadExactly(device, bytes, kExtendedStart, sizeof bytes, nullptr) != QORB_SUCCESS)
        return {readFailed, 0, 0, 0};
    uint32_t header = Le32(bytes);
    uint32_t id = PCI_EXT_CAP_ID(header);
    if (id == 0x0000 || id == 0xFFFF)
        return {notFound, 0, 0, 0};
    uint32_t length = 0;
    _QORB_STATUS_t status = GetExtendedCapLength(id, &length);
    return {status, id, length, header >> 20};
}

} // namespace

/* The legacy list comes first. It is given up (and the extended list tried)
 * when the shadow says there is none, the pointer is outside 0x40 to 0x100,
 * the header cannot be read, its length cannot be had (IDs 0x02 to 0x04), or
 * there is no location to store a handle at. */
QORB_API _QORB_STATUS_t GetFirstCapability(void* handle, void** capHandle)
{
    QORB_DEVICE_t* device = AsDevice(handle);
    if (!device)
        return QORB_INVALID_PARAMETER;
    if (capHandle)
        *capHandle = nullptr;
    if (!HasCapabilityLists(device))
        return QORB_INVALID_PARAMETER;

    uint32_t pointer = device->configShadow[PCI_CAPABILITY_LIST] & ~3u;
    if (ShadowHasCapList(device) && pointer >= kLegacyFirst && pointer <= kLegacyLimit) {
        uint8_t header[2];
        uint32_t length = 0;
        if (ReadExactly(device, header, pointer, sizeof header, nullptr) == QORB_SUCCESS &&
            LegacyWalkLength(device, pointer, header[PCI_CAP_LIST_ID], &length) == QORB_SUCCESS && capHandle)
            return MakeHandle(device, pointer, header[PCI_CAP_LIST_ID], length, header[PCI_CAP_LIST_NEXT],
                              capHandle);
    }

    ExtendedFirst first = ReadFirstExtended(device, QORB_INVALID_PARAMETER, QORB_INVALID_PARAMETER);
    if (first.status != QORB_SUCCESS)
        return QORB_INVALID_PARAMETER;
    if (!capHandle)
        return QORB_SUCCESS;
    return MakeHandle(device, kExtendedStart, first.id, first.length, first.next, capHandle);
}

/* One step of the walk: the capability after the current one, the first
 * extended capability after the end of the legacy list. */
QORB_API _QORB_STATUS_t GetNextCapability(void* handle, void** capHandle, void* current)
{
    QORB_DEVICE_t* device = AsDevice(handle);
    QORB_CAP_HANDLE_t* cap = AsCap(current);
    if (!cap || !capHandle || !device)
        return QORB_INVALID_PARAMETER;
    *capHandle = nullptr;

    const bool legacy = cap->offset < kExtendedStart;
    if (legacy && cap->nextOffset == 0) {
        ExtendedFirst first = ReadFirstExtended(device, QORB_PCIE_CAP_DOES_NOT_EXIST, QORB_INVALID_PARAMETER);
        if (first.status != QORB_SUCCESS)
            return first.status;
        return MakeHandle(device, kExtendedStart, first.id, first.length, first.next, capHandle);
    }
    if (!legacy && cap->nextOffset == 0)
        return QORB_PCIE_CAP_DOES_NOT_EXIST;

    uint32_t offset = cap->nextOffset & ~3u;
    if (legacy) {
        uint8_t header[2];
        if (ReadExactly(device, header, offset, sizeof header, nullptr) != QORB_SUCCESS)
            return QORB_INVALID_PARAMETER;
        uint32_t length = 0;
        _QORB_STATUS_t status = LegacyWalkLength(device, offset, header[PCI_CAP_LIST_ID], &length);
        if (status != QORB_SUCCESS)
            return status;
        return MakeHandle(device, offset, header[PCI_CAP_LIST_ID], length, header[PCI_CAP_LIST_NEXT],
                          capHandle);
    }
    uint8_t bytes[4];
    if (ReadExactly(device, bytes, offset, sizeof bytes, nullptr) != QORB_SUCCESS)
        return QORB_INVALID_PARAMETER;
    uint32_t header = Le32(bytes);
    uint32_t id = PCI_EXT_CAP_ID(header);
    if (id == 0x0000 || id == 0xFFFF)
        return QORB_PCIE_CAP_DOES_NOT_EXIST;
    uint32_t length = 0;
    _QORB_STATUS_t status = GetExtendedCapLength(id, &length);
    if (status != QORB_SUCCESS)
        return status;
    return MakeHandle(device, offset, id, length, header >> 20, capHandle);
}
