/* qorb: PCI Express compliance test library.
 *
 * Applications include this header and link libqorb (docs/api.md is the
 * guided tour: open, find, read, log, close, and who closes what). Handles are opaque:
 * an instance handle comes from OpenQORB(), device handles from the searches
 * (released with CloseDevice), capability handles from the capability
 * operations (released with QORB_FreeCapabilityHandle), log handles from
 * CreateLog (released with CloseLog), user input handles from CreateUI
 * (released with CloseUI). No exception crosses the API. */
#ifndef QORB_H
#define QORB_H

#include <stdint.h>

#include <string>
#include <vector>

#include <qorb/qorb_export.h>
#include <qorb/qorb_status.h>
#include <qorb/qorb_types.h>

class CQORBGuiEvent;

/* ---------------------------------------------------------------- status */
/* The library's text for a status code (a static string; never freed). */
QORB_EXTERN_C QORB_API const char* QORBGetErrorDesc(uint32_t status);

/* -------------------------------------------------------------- instance */
/* Opens an instance; the driver named by DLLName in [DLL] of the INI file (default ./ini/VERDAapp.ini) is loaded from
 * the current directory. Close with CloseQORB. */
QORB_API _QORB_STATUS_t OpenQORB(void** handle, int reserved, uint64_t configBase,
                                 const char* iniDirectory, const char* iniFileName);
/* Opens an instance with the driver at driverPath (give a full path to work from any directory, e.g. qorb_DRIVER_DIR
 * "/libqorbsim.so"). Close with CloseQORB. */
QORB_API _QORB_STATUS_t OpenQORBEx(void** handle, int reserved, const char* driverPath,
                                   uint64_t configBase, uint32_t reserved2);
/* Closes and unloads the driver (for every instance) and releases the instance; device records stay valid until
 * CloseDevice. */
QORB_API _QORB_STATUS_t CloseQORB(void* instance);
/* Copies the values of -d and -l into dValue and lValue; answers 1 when -h was given. */
QORB_API int ParseCmdLineOptions(int argc, char** argv, char* dValue, char* lValue);
/* The driver's answer about the memory-mapped configuration window, or 0. */
QORB_API int QueryAcpiMcfgTableInfo(uint64_t* base, uint8_t* startBus, uint8_t* endBus, uint64_t* length);
/* Passes the five values and the buffer to the driver's ReadConfigEx entry; 0 without one. */
QORB_API uint32_t QORB_ReadConfigSpace_Ex(uint32_t v1, uint32_t v2, uint32_t v3, uint32_t v4, uint32_t v5,
                                          uint8_t* buffer);

/* ------------------------------------------------------- interface table */
/* Fills the interface table (version QORB_INTF_VERSION in slot 0). */
QORB_EXTERN_C QORB_API _QORB_STATUS_t QORBGetIntf(_QORB_INTF_t* table);

/* -------------------------------------------------------- device records */
/* Accepts the walk order and stopping point and enumerates nothing. */
QORB_API _QORB_STATUS_t EnumerateDevice(void* instance, _QORB_ENUM_METHOD_t method,
                                        _QORB_ENUM_STOP_POINT_t stopPoint, uint16_t value16, uint32_t value32);
/* Releases a device record (and its trace copy); not the parent record it links to. Repeating it is harmless. */
QORB_API _QORB_STATUS_t CloseDevice(void* device);
/* The record's Vendor ID. */
QORB_API _QORB_STATUS_t GetVendorID(void* device, uint16_t* vendorId);
/* The record's Device ID. */
QORB_API _QORB_STATUS_t GetDeviceID(void* device, uint16_t* deviceId);
/* The record's bus number. */
QORB_API _QORB_STATUS_t GetBusNumber(void* device, uint8_t* bus);
/* The record's device number. */
QORB_API _QORB_STATUS_t GetDeviceNumber(void* device, uint8_t* dev);
/* The record's function number. */
QORB_API _QORB_STATUS_t GetFunctionNumber(void* device, uint8_t* fn);
/* The Header Type register (multi-function bit included) as read when the record was made. */
QORB_API _QORB_STATUS_t GetHeaderType(void* device, uint8_t* headerType);
/* 1 when the record's function number is not 0, else 0 (the Header Type is not consulted). */
QORB_API _QORB_STATUS_t IsMultiFunction(void* device, int* multiFunction);

/* --------------------------------------------------------- device search */
/* A new record for the function at bus, dev, fn; QORB_DEVICE_NOT_FOUND when absent. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindDevice(uint8_t bus, uint8_t dev, uint8_t fn, void** device);
/* A new record for the first function with these IDs in bus, device, function order. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindDevice(uint16_t deviceId, uint16_t vendorId, void** device);
/* A new record for the function at bus, dev, fn when it has these IDs. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindDevice(uint16_t deviceId, uint16_t vendorId, uint8_t bus, uint8_t dev, uint8_t fn,
                                   void** device);
/* A new record for the function the criteria select (flags QORB_FIND_*), added to the instance's list; a platform
 * file's DUT entries are such criteria. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindDevice(void* instance, void** device, uint32_t flags,
                                   _QORB_DEVICE_FIND_INFO_t* criteria);
/* FindDevice by location. */
QORB_API _QORB_STATUS_t FindDeviceByLocation(uint8_t bus, uint8_t dev, uint8_t fn, void** device);
/* FindDevice by IDs. */
QORB_API _QORB_STATUS_t FindDeviceById(uint16_t deviceId, uint16_t vendorId, void** device);
/* FindDevice with an instance and criteria. */
QORB_API _QORB_STATUS_t FindDeviceByInfo(void* instance, void** device, uint32_t flags,
                                         _QORB_DEVICE_FIND_INFO_t* criteria);
/* A new record for the first function of this class code. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindDeviceByClassCode(uint8_t progIf, uint8_t subClass, uint8_t baseClass, void** device);

/* A new record for the first root port. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindFirstRootPort(void* instance, void** device);
/* A new record for the next root port after device. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindNextRootPort(void* device, void** next);
/* A new record for the first endpoint. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindFirstEndpoint(void* instance, void** device);
/* A new record for the next endpoint after device. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindNextEndpoint(void* device, void** next);
/* A new record for the first legacy endpoint. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindFirstLegacyEndpoint(void* instance, void** device);
/* A new record for the next legacy endpoint after device. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindNextLegacyEndpoint(void* device, void** next);
/* A new record for the first bridge. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindFirstBridge(void* instance, void** device);
/* A new record for the next bridge after device. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindNextBridge(void* device, void** next);
/* A new record for the first switch upstream port. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindFirstSwitch(void* instance, void** device);
/* A new record for the next switch upstream port after device. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindNextSwitch(void* device, void** next);
/* A new record for the first switch downstream port. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindFirstDownSwitch(void* instance, void** device);
/* A new record for the next switch downstream port after device. Close with CloseDevice. */
QORB_API _QORB_STATUS_t FindNextDownSwitch(void* device, void** next);

/* The parent record OpenDevice linked (the same one on every call). It belongs to the caller: close it with
 * CloseDevice. */
QORB_API _QORB_STATUS_t GetParentDevice(void* device, void** parent);
/* Not implemented: QORB_NOT_IMPLEMENTED. */
QORB_API _QORB_STATUS_t GetParentPort(void* device, void** parent);
/* A new record for the bridge whose secondary bus is the device's bus, or null. Close with CloseDevice. */
QORB_API void* QORB_GetUpStreamPort(void* device);
/* The record's location and IDs; null out-pointers are skipped. */
QORB_API _QORB_STATUS_t QORB_GetDeviceProperties(void* device, uint8_t* bus, uint8_t* dev, uint8_t* fn,
                                                 uint16_t* vendorId, uint16_t* deviceId);

/* -------------------------------------------------- configuration space */
/* Reads *length bytes of live configuration space at offset; *length becomes what was read. */
QORB_API _QORB_STATUS_t ReadConfigSpace(void* device, uint8_t* buffer, uint32_t offset, uint32_t* length);
/* Writes *length bytes of configuration space at offset; *length becomes what was written. */
QORB_API _QORB_STATUS_t WriteConfigSpace(void* device, uint8_t* buffer, uint32_t offset, uint32_t* length);
/* Stores null through header. */
QORB_API _QORB_STATUS_t GetDevConfigPtr(void* device, _PCI_CONFIG_SPACE_HEADER_t** header);
/* Leaves header unchanged. */
QORB_API _QORB_STATUS_t GetDevConfigSpace(void* device, _PCI_CONFIG_SPACE_HEADER_t** header);
/* Writes nothing; answers QORB_INVALID_PARAMETER. */
QORB_API _QORB_STATUS_t WriteDeviceStatusReg(void* device, int flag1, int flag2, int flag3, int flag4);

/* ------------------------------------------------ opening and port type */
/* Links a new record for the port above the device's link (take it with GetParentDevice and close it); the mode is not
 * interpreted. */
QORB_API _QORB_STATUS_t OpenDevice(void* device, _QORB_ACCESS_MODE_t mode);
/* The Device/Port Type of the PCI Express capability. */
QORB_API _QORB_STATUS_t GetDeviceType(void* device, _QORB_DEV_PORT_TYPE_t* portType);

/* ---------------------------------------------------------- capabilities */
/* A handle to the first capability, legacy list first. Release with QORB_FreeCapabilityHandle. */
QORB_API _QORB_STATUS_t GetFirstCapability(void* device, void** capHandle);
/* A handle to the capability after current (into the extended list at its end). Release with QORB_FreeCapabilityHandle.
 */
QORB_API _QORB_STATUS_t GetNextCapability(void* device, void** capHandle, void* current);

/* Finds a legacy capability by ID from startOffset, copies it into record and hands out a handle (when capHandle is not
 * null). */
QORB_API _QORB_STATUS_t HelpGetPCICapability(void* device, _QORB_PCI_CAPABILITY_TYPE_t type, uint32_t startOffset,
                                             int instanceCheck, void* record, void** capHandle);
/* Finds an extended capability by ID from startOffset, copies it into record and hands out a handle (when capHandle is
 * not null). */
QORB_API _QORB_STATUS_t HelpGetPCIECapability(void* device, _QORB_PCIE_CAPABILITY_TYPE_t type, uint32_t startOffset,
                                              int instanceCheck, void* record, void** capHandle);
/* The PCI Express capability structure, and a handle when capHandle is not null (release it). */
QORB_API _QORB_STATUS_t GetPCIECapability(void* device, _PCIE_CAPABILITY_STRUCT_t* record, void** capHandle);
/* The Power Management capability, and a handle when capHandle is not null (release it). */
QORB_API _QORB_STATUS_t GetPowerManagementCapability(void* device, _PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT* record,
                                                     void** capHandle);
/* The MSI-X capability, and a handle when capHandle is not null (release it). */
QORB_API _QORB_STATUS_t GetMSIXCapability(void* device, _PCI_MSI_X_CAPABILITY_STRUCT_t* record, void** capHandle);
/* The MSI capability (32-bit layout), and a handle when capHandle is not null (release it). */
QORB_API _QORB_STATUS_t Get32BitMSICapability(void* device, PCI_MSI_CAPABILITY_32_STRUCT_t* record, void** capHandle);
/* The MSI capability (64-bit layout), and a handle when capHandle is not null (release it). */
QORB_API _QORB_STATUS_t Get64BitMSICapability(void* device, PCI_MSI_CAPABILITY_64_STRUCT_t* record, void** capHandle);
/* The Advanced Error Reporting capability, and a handle when capHandle is not null (release it). */
QORB_API _QORB_STATUS_t GetAdvErrRepCapability(void* device, _PCIE_ADV_ERR_REP_CAP_STRUCT_t* record, void** capHandle);
/* The Virtual Channel capability, and a handle when capHandle is not null (release it). */
QORB_API _QORB_STATUS_t GetDeviceVirtualChannelCapability(void* device, _PCIE_VIRTUAL_CHANNEL_CAPABILITY_STRUCT_t* record,
                                                          void** capHandle);
/* The Device Serial Number capability, and a handle when capHandle is not null (release it). */
QORB_API _QORB_STATUS_t GetDeviceSerialNumberCapability(void* device, _PCIE_DEV_SERIAL_NUM_CAPABILITY_STRUCT* record,
                                                        void** capHandle);
/* The Power Budgeting capability, and a handle when capHandle is not null (release it). */
QORB_API _QORB_STATUS_t GetPowerBudgetingCapability(void* device, _PCIE_POWER_BUDGET_CAPABILITY_STRUCT_t* record,
                                                    void** capHandle);

/* The two-byte legacy capability header at offset. */
QORB_API _QORB_STATUS_t GetCapabilityHeader(void* device, _PCI_CAPABILITY_HEADER_t* header, uint32_t offset);
/* Reads *length bytes at offset inside the capability. */
QORB_API _QORB_STATUS_t ReadCapability(void* capHandle, uint8_t* buffer, uint32_t offset, uint32_t* length);
/* Writes *length bytes at offset inside the capability. */
QORB_API _QORB_STATUS_t WriteCapability(void* capHandle, uint8_t* buffer, uint32_t offset, uint32_t* length);
/* The capability's offset in configuration space. */
QORB_API _QORB_STATUS_t GetCapOffset(void* capHandle, uint32_t* offset);
/* The capability's offset, ID, length and next offset. */
QORB_API _QORB_STATUS_t QORB_QueryCapInfo(void* capHandle, _QORB_PCI_DEVICE_CAP_INFO_t* info);
/* Releases a capability handle; null and repeated releases are harmless. */
QORB_API _QORB_STATUS_t QORB_FreeCapabilityHandle(void* capHandle);

/* --------------------------------------------- error status assertions */
/* The AER capability into info, with a handle in info->capHandle that the caller releases. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t QORB_ADVERR_Util_GetAdvErrorRepCap(void* device, QORB_ADVERR_INFO_t* info);
/* The AER status assertions: each reads the AER capability afresh, compares
 * one status bit with expected (1 set, 0 clear), writes its verdict into log
 * (none: not logged) and, when the check passes and clear is non-zero,
 * clears the bit. QORB_SUCCESS when it passed, QORB_STATUS_FAILED when not. */
#define QORB_ADVERR_ASSERTION(name) \
    QORB_EXTERN_C QORB_API _QORB_STATUS_t name(void* device, void* log, int32_t expected, int32_t clear)
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertTrainingErrorStatus);
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertDLProtocolErrorStatus);
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertFlowControlProtocolErrorStatus);
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertCompletionTimeoutStatus);
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertCompleterAbortStatus);
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertUnexpectedCompletionStatus);
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertReceiverOverflowStatus);
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertUnsupportedRequestErrorStatus);
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertReceiverErrorStatus);
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertBadTLPStatus);
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertBadDLLPStatus);
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertReplayNumberRolloverStatus);
QORB_ADVERR_ASSERTION(QORB_ADVERR_Util_AssertReplayTimerTimeoutStatus);
#undef QORB_ADVERR_ASSERTION

/* ---------------------------------------------------------- link control */
/* Sets Retrain Link at the port above the DUT (OpenDevice first). */
QORB_API _QORB_STATUS_t QORB_RetrainDUTLink(void* device);
/* Sets Link Disable at the port above the DUT (OpenDevice first). */
QORB_API _QORB_STATUS_t QORB_DisableLink(void* device);
/* Clears Link Disable at the port above the DUT (OpenDevice first). */
QORB_API _QORB_STATUS_t QORB_EnableLink(void* device);
/* Waits delayMs, then QORB_SUCCESS when Link Training of the port is clear, QORB_STATUS_FAILED while set. */
QORB_API _QORB_STATUS_t QORB_WaitForDeviceToRetrain(void* device, int32_t delayMs);
/* The parent record OpenDevice linked (not a new record: close it once, as the parent). */
QORB_API _QORB_STATUS_t QORB_GetPortToResetOrRetrain(void* device, void** port);
/* Accepts an ASPM state and changes nothing. */
QORB_API _QORB_STATUS_t SetASPMState(void* device, _QORB_ASPM_CONTROL_STATE_t state);
/* Accepts an ASPM state and changes nothing. */
QORB_API _QORB_STATUS_t SetUpstreamASPMState(void* device, _QORB_ASPM_CONTROL_STATE_t state);

/* --------------------------------------------------------------- logging */
/* Makes a log (XML, text or console) writing to name. Close with CloseLog; the instance is not used. */
QORB_API _QORB_STATUS_t CreateLog(void* instance, void** log, _QORB_LOG_TYPE_t type, const char* name,
                                  _QORB_LOG_ACTION_t action);
/* Ends the log's document and destroys it; null and repeated closes are harmless. */
QORB_API _QORB_STATUS_t CloseLog(void* log);
/* Starts a test: a message and, in an XML log, a test element. */
QORB_API _QORB_STATUS_t StartTest(void* log, const char* name);
/* XML logs: writes the test element with the checklist assertions and the DUT; StopTest closes it. */
QORB_API _QORB_STATUS_t StartTest(void* log, const char* name, _QORB_TEST_NUM_t* list, uint32_t count, void* dut);
/* Ends the test in progress and writes its counters. */
QORB_API _QORB_STATUS_t StopTest(void* log);
/* Starts a test case (recorded nowhere). */
QORB_API _QORB_STATUS_t StartTestCase(void* log, const char* name);
/* XML logs only; writes nothing. */
QORB_API _QORB_STATUS_t StartTestCase(void* log, const char* name, _QORB_TEST_NUM_t* list, uint32_t count);
/* Ends a test case. */
QORB_API _QORB_STATUS_t StopTestCase(void* log);
/* Formats into 2048 bytes, terminator included; a longer text is cut to its
 * first 2047 bytes. */
QORB_API _QORB_STATUS_t WriteToLog(void* log, int32_t kind, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
/* Lets messages through again. */
QORB_API _QORB_STATUS_t EnableLogging(void* log);
/* Drops messages (WriteToLog) until EnableLogging. */
QORB_API _QORB_STATUS_t DisableLogging(void* log);
/* Writes a checklist assertion's result; kind is QORB_LOG_SUCCESS, QORB_LOG_FAIL... */
QORB_API _QORB_STATUS_t LogAssert(void* log, int32_t kind, _QORB_TEST_NUM_t* testNum, const char* text);
/* XML logs: writes the card's trace copy and action count. */
QORB_API _QORB_STATUS_t LogTBContents(void* log, void* device, uint32_t* numBytes);

/* ------------------------------------------------------ test card control */
/* Drops the record's trace copy and arms the card. */
QORB_API _QORB_STATUS_t ArmZEB(void* device, uint32_t value);
/* Waits 10 ms and disarms the card. */
QORB_API _QORB_STATUS_t DisarmZEB(void* device);
/* Sets the card's operating mode. */
QORB_API _QORB_STATUS_t ChangeZEBMode(void* device, _QORB_ZEB_OP_MODE_t mode);
/* The card's operating mode. */
QORB_API _QORB_STATUS_t QueryZEBMode(void* device, _QORB_ZEB_OP_MODE_t* mode);
/* Programs the error the card injects. */
QORB_API _QORB_STATUS_t ProgramZEBCmd(void* device, _qorb_cmd_map_t* command);
/* How many times the card carried out its command since arming. */
QORB_API _QORB_STATUS_t QORB_ZEB_GetActionCount(void* device, uint32_t* count);
/* Pauses the card's recording. */
QORB_API _QORB_STATUS_t ZEBSuspendLogging(void* device);
/* Resumes the card's recording. */
QORB_API _QORB_STATUS_t ZEBResumeLogging(void* device);
/* The card's properties (buffer size, revisions, link, mode, state). */
QORB_API _QORB_STATUS_t QORB_GetZEBProperties(void* device, _qorb_zeb_query_prop_t* properties);
/* Two new records for the card above device, as the card library names them. Close both with CloseDevice. */
QORB_API _QORB_STATUS_t QORB_GetUpstreamZEB(void* device, void** card1, void** card2);
/* A new record for the partner device below port at dev, fn. Close with CloseDevice. */
QORB_API _QORB_STATUS_t QORB_GetDownstreamVOK(void* port, uint32_t dev, uint32_t fn, void** partner);

/* ------------------------------------------------- trace buffer analysis */
/* Copies the card's trace buffer into the card's record (replacing the earlier copy). */
QORB_EXTERN_C QORB_API _QORB_STATUS_t ZEBGetTraceBuffer(void* device);
/* Hands the pattern to the card library's WritePatternToTB (the simulated card fills its buffer with it). */
QORB_EXTERN_C QORB_API _QORB_STATUS_t QORB_ZEBWritePatternToTB(void* device, uint32_t pattern);
/* Changes what the card records (DLLPs, TLP headers or whole TLPs, timestamps). */
QORB_EXTERN_C QORB_API _QORB_STATUS_t SetConfigMaskTraceBuf(void* device, uint32_t flags);
/* The length of the record's trace copy. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t GetBytesInZEBTB(void* device, uint32_t* bytes);
/* Copies up to *length bytes of the trace copy into buffer; *length becomes the count. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t GetTBContents(void* device, uint8_t* buffer, uint32_t* length);
/* The first header doublewords of the TLPs that match pattern (QORB_TLP_MATCH_* flags); room for GetNumTLPMatches
 * entries. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t FindTLPByTLPType(void* device, uint8_t* pattern, uint32_t matchFlags,
                                                       uint32_t* matches, uint32_t* count);
/* How many TLPs of the trace copy match pattern. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t GetNumTLPMatches(void* device, uint8_t* pattern, uint32_t matchFlags,
                                                       uint32_t* count);
/* The six bytes of each DLLP of the pattern's type, up to *count of them. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t FindDLLPTypeDLLPType(void* device, uint8_t* pattern, uint32_t unused,
                                                           uint8_t* records, uint32_t* count);
/* Adds the number of DLLPs of the pattern's type to *count. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t GetNumDLLPMatches(void* device, uint8_t* pattern, uint32_t unused,
                                                        uint32_t* count);
/* The first 16 bytes of TLP number index of the trace copy. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t QORB_ZEB_TB_GetTLPByIndex(void* device, uint8_t* tlp, uint32_t unused,
                                                                uint32_t index);
/* Offered for the extended set; does nothing. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t FindTLPByTLPTypeEx(void* device, uint8_t* pattern, uint32_t matchFlags,
                                                         uint32_t* matches, uint32_t* count);
/* Offered for the extended set; answers QORB_INVALID_PARAMETER. */
QORB_EXTERN_C QORB_API _QORB_STATUS_t GetNumTLPMatchesEx(void* device, uint8_t* pattern, uint32_t matchFlags,
                                                         uint32_t* count);
/* Offered for the extended set; does nothing. */
QORB_API _QORB_STATUS_t QORB_ZEB_TB_GetTotalTLP(void* device, uint32_t* total);

/* TLP match flags and trace configuration flags. */
#define QORB_TLP_MATCH_FMT     0x00000001u
#define QORB_TLP_MATCH_TYPE    0x00000002u
#define QORB_TLP_MATCH_LENGTH  0x00000008u
#define QORB_TLP_MATCH_STRICT  0x80000000u

/* ------------------------------------------------------- platform file */
/* Reads a platform configuration file into info (release with QORB_FreeDatInfo); no instance needed. */
QORB_API _QORB_STATUS_t parseDatFile(char* fileName, _QORB_DAT_INFO_t* info);
/* Releases what parseDatFile stored in the record (the user name) and sets
 * the pointer to null; the record itself belongs to the caller. */
QORB_API void QORB_FreeDatInfo(_QORB_DAT_INFO_t* info);

/* ---------------------------------------------------- user interaction */
/* Makes a user input object (only QORB_UI_TYPE_DUMMY). Close with CloseUI. */
QORB_API _QORB_STATUS_t CreateUI(void* instance, void** ui, _QORB_UI_TYPE_t type);
/* Destroys a user input object; null and repeated closes are harmless. */
QORB_API _QORB_STATUS_t CloseUI(void* ui);
/* Asks the user to pick one of choices. */
QORB_API _QORB_STATUS_t GetSelectionFromList(void* ui, std::string* title, std::vector<std::string>* choices,
                                             uint32_t* selection, uint32_t defaultIndex, int flags);
/* Shows a text to the user. */
QORB_API _QORB_STATUS_t DisplayInfoToUser(void* ui, std::string* text, int flags, CQORBGuiEvent* event,
                                          uint32_t timeoutMs, int modal, std::string* title);
/* Asks the user a yes/no question. */
QORB_API _QORB_STATUS_t GetBooleanDecision(void* ui, std::string* title, std::string* question,
                                           std::string* detail, int* decision, uint32_t timeoutMs,
                                           CQORBGuiEvent* event, int flags);
/* Asks the user for a number in a range. */
QORB_API _QORB_STATUS_t GetInteger(void* ui, std::string* title, std::string* prompt, uint32_t* value,
                                   int flags, uint32_t minimum, uint32_t maximum, uint32_t defaultValue,
                                   int base);
/* Asks the user for a text. */
QORB_API _QORB_STATUS_t GetString(void* ui, std::string* title, std::string* prompt, std::string* value,
                                  uint32_t maxLength, int flags);
/* Ends the dialog in progress. */
QORB_API _QORB_STATUS_t TerminateDialog(void* ui);
/* Lets the user answer again. */
QORB_API _QORB_STATUS_t EnableInput(void* ui);
/* Stops asking the user. */
QORB_API _QORB_STATUS_t DisableInput(void* ui);
/* Whether input is disabled. */
QORB_API int IsInputDisabled(void* ui);
/* Sets the header of later dialogs. */
QORB_API _QORB_STATUS_t SetDialogHeader(void* ui, const std::string& header);

#include <qorb/qorb_log.h>
#include <qorb/qorb_ui.h>

#endif
