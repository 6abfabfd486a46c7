/* qorb: PCI Express compliance test library.
 *
 * Applications include this header and link libqorb. Handles are opaque:
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
QORB_EXTERN_C QORB_API const char* QORBGetErrorDesc(uint32_t status);

/* -------------------------------------------------------------- instance */
QORB_API _QORB_STATUS_t OpenQORB(void** handle, int reserved, uint64_t configBase,
                                 const char* iniDirectory, const char* iniFileName);
QORB_API _QORB_STATUS_t OpenQORBEx(void** handle, int reserved, const char* driverPath,
                                   uint64_t configBase, uint32_t reserved2);
QORB_API _QORB_STATUS_t CloseQORB(void* instance);
QORB_API int ParseCmdLineOptions(int argc, char** argv, char* dValue, char* lValue);
QORB_API int QueryAcpiMcfgTableInfo(uint64_t* base, uint8_t* startBus, uint8_t* endBus, uint64_t* length);
QORB_API uint32_t QORB_ReadConfigSpace_Ex(uint32_t v1, uint32_t v2, uint32_t v3, uint32_t v4, uint32_t v5,
                                          uint8_t* buffer);

/* ------------------------------------------------------- interface table */
QORB_EXTERN_C QORB_API _QORB_STATUS_t QORBGetIntf(_QORB_INTF_t* table);

/* -------------------------------------------------------- device records */
QORB_API _QORB_STATUS_t EnumerateDevice(void* instance, _QORB_ENUM_METHOD_t method,
                                        _QORB_ENUM_STOP_POINT_t stopPoint, uint16_t value16, uint32_t value32);
QORB_API _QORB_STATUS_t CloseDevice(void* device);
QORB_API _QORB_STATUS_t GetVendorID(void* device, uint16_t* vendorId);
QORB_API _QORB_STATUS_t GetDeviceID(void* device, uint16_t* deviceId);
QORB_API _QORB_STATUS_t GetBusNumber(void* device, uint8_t* bus);
QORB_API _QORB_STATUS_t GetDeviceNumber(void* device, uint8_t* dev);
QORB_API _QORB_STATUS_t GetFunctionNumber(void* device, uint8_t* fn);
QORB_API _QORB_STATUS_t GetHeaderType(void* device, uint8_t* headerType);
QORB_API _QORB_STATUS_t IsMultiFunction(void* device, int* multiFunction);

/* --------------------------------------------------------- device search */
QORB_API _QORB_STATUS_t FindDevice(uint8_t bus, uint8_t dev, uint8_t fn, void** device);
QORB_API _QORB_STATUS_t FindDevice(uint16_t deviceId, uint16_t vendorId, void** device);
QORB_API _QORB_STATUS_t FindDevice(uint16_t deviceId, uint16_t vendorId, uint8_t bus, uint8_t dev, uint8_t fn,
                                   void** device);
QORB_API _QORB_STATUS_t FindDevice(void* instance, void** device, uint32_t flags,
                                   _QORB_DEVICE_FIND_INFO_t* criteria);
QORB_API _QORB_STATUS_t FindDeviceByLocation(uint8_t bus, uint8_t dev, uint8_t fn, void** device);
QORB_API _QORB_STATUS_t FindDeviceById(uint16_t deviceId, uint16_t vendorId, void** device);
QORB_API _QORB_STATUS_t FindDeviceByInfo(void* instance, void** device, uint32_t flags,
                                         _QORB_DEVICE_FIND_INFO_t* criteria);
QORB_API _QORB_STATUS_t FindDeviceByClassCode(uint8_t progIf, uint8_t subClass, uint8_t baseClass, void** device);

QORB_API _QORB_STATUS_t FindFirstRootPort(void* instance, void** device);
QORB_API _QORB_STATUS_t FindNextRootPort(void* device, void** next);
QORB_API _QORB_STATUS_t FindFirstEndpoint(void* instance, void** device);
QORB_API _QORB_STATUS_t FindNextEndpoint(void* device, void** next);
QORB_API _QORB_STATUS_t FindFirstLegacyEndpoint(void* instance, void** device);
QORB_API _QORB_STATUS_t FindNextLegacyEndpoint(void* device, void** next);
QORB_API _QORB_STATUS_t FindFirstBridge(void* instance, void** device);
QORB_API _QORB_STATUS_t FindNextBridge(void* device, void** next);
QORB_API _QORB_STATUS_t FindFirstSwitch(void* instance, void** device);
QORB_API _QORB_STATUS_t FindNextSwitch(void* device, void** next);
QORB_API _QORB_STATUS_t FindFirstDownSwitch(void* instance, void** device);
QORB_API _QORB_STATUS_t FindNextDownSwitch(void* device, void** next);

QORB_API _QORB_STATUS_t GetParentDevice(void* device, void** parent);
QORB_API _QORB_STATUS_t GetParentPort(void* device, void** parent);
QORB_API void* QORB_GetUpStreamPort(void* device);
QORB_API _QORB_STATUS_t QORB_GetDeviceProperties(void* device, uint8_t* bus, uint8_t* dev, uint8_t* fn,
                                                 uint16_t* vendorId, uint16_t* deviceId);

/* -------------------------------------------------- configuration space */
QORB_API _QORB_STATUS_t ReadConfigSpace(void* device, uint8_t* buffer, uint32_t offset, uint32_t* length);
QORB_API _QORB_STATUS_t WriteConfigSpace(void* device, uint8_t* buffer, uint32_t offset, uint32_t* length);
QORB_API _QORB_STATUS_t GetDevConfigPtr(void* device, _PCI_CONFIG_SPACE_HEADER_t** header);
QORB_API _QORB_STATUS_t GetDevConfigSpace(void* device, _PCI_CONFIG_SPACE_HEADER_t** header);
QORB_API _QORB_STATUS_t WriteDeviceStatusReg(void* device, int flag1, int flag2, int flag3, int flag4);

/* ------------------------------------------------ opening and port type */
QORB_API _QORB_STATUS_t OpenDevice(void* device, _QORB_ACCESS_MODE_t mode);
QORB_API _QORB_STATUS_t GetDeviceType(void* device, _QORB_DEV_PORT_TYPE_t* portType);

/* ---------------------------------------------------------- capabilities */
QORB_API _QORB_STATUS_t GetFirstCapability(void* device, void** capHandle);
QORB_API _QORB_STATUS_t GetNextCapability(void* device, void** capHandle, void* current);

QORB_API _QORB_STATUS_t HelpGetPCICapability(void* device, _QORB_PCI_CAPABILITY_TYPE_t type, uint32_t startOffset,
                                             int instanceCheck, void* record, void** capHandle);
QORB_API _QORB_STATUS_t HelpGetPCIECapability(void* device, _QORB_PCIE_CAPABILITY_TYPE_t type, uint32_t startOffset,
                                              int instanceCheck, void* record, void** capHandle);
QORB_API _QORB_STATUS_t GetPCIECapability(void* device, _PCIE_CAPABILITY_STRUCT_t* record, void** capHandle);
QORB_API _QORB_STATUS_t GetPowerManagementCapability(void* device, _PCI_POWER_MANAGEMENT_CAPABILITY_STRUCT* record,
                                                     void** capHandle);
QORB_API _QORB_STATUS_t GetMSIXCapability(void* device, _PCI_MSI_X_CAPABILITY_STRUCT_t* record, void** capHandle);
QORB_API _QORB_STATUS_t Get32BitMSICapability(void* device, PCI_MSI_CAPABILITY_32_STRUCT_t* record, void** capHandle);
QORB_API _QORB_STATUS_t Get64BitMSICapability(void* device, PCI_MSI_CAPABILITY_64_STRUCT_t* record, void** capHandle);
QORB_API _QORB_STATUS_t GetAdvErrRepCapability(void* device, _PCIE_ADV_ERR_REP_CAP_STRUCT_t* record, void** capHandle);
QORB_API _QORB_STATUS_t GetDeviceVirtualChannelCapability(void* device, _PCIE_VIRTUAL_CHANNEL_CAPABILITY_STRUCT_t* record,
                                                          void** capHandle);
QORB_API _QORB_STATUS_t GetDeviceSerialNumberCapability(void* device, _PCIE_DEV_SERIAL_NUM_CAPABILITY_STRUCT* record,
                                                        void** capHandle);
QORB_API _QORB_STATUS_t GetPowerBudgetingCapability(void* device, _PCIE_POWER_BUDGET_CAPABILITY_STRUCT_t* record,
                                                    void** capHandle);

QORB_API _QORB_STATUS_t GetCapabilityHeader(void* device, _PCI_CAPABILITY_HEADER_t* header, uint32_t offset);
QORB_API _QORB_STATUS_t ReadCapability(void* capHandle, uint8_t* buffer, uint32_t offset, uint32_t* length);
QORB_API _QORB_STATUS_t WriteCapability(void* capHandle, uint8_t* buffer, uint32_t offset, uint32_t* length);
QORB_API _QORB_STATUS_t GetCapOffset(void* capHandle, uint32_t* offset);
QORB_API _QORB_STATUS_t QORB_QueryCapInfo(void* capHandle, _QORB_PCI_DEVICE_CAP_INFO_t* info);
QORB_API _QORB_STATUS_t QORB_FreeCapabilityHandle(void* capHandle);

/* --------------------------------------------- error status assertions */
QORB_EXTERN_C QORB_API _QORB_STATUS_t QORB_ADVERR_Util_GetAdvErrorRepCap(void* device, QORB_ADVERR_INFO_t* info);
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
QORB_API _QORB_STATUS_t QORB_RetrainDUTLink(void* device);
QORB_API _QORB_STATUS_t QORB_DisableLink(void* device);
QORB_API _QORB_STATUS_t QORB_EnableLink(void* device);
QORB_API _QORB_STATUS_t QORB_WaitForDeviceToRetrain(void* device, int32_t delayMs);
QORB_API _QORB_STATUS_t QORB_GetPortToResetOrRetrain(void* device, void** port);
QORB_API _QORB_STATUS_t SetASPMState(void* device, _QORB_ASPM_CONTROL_STATE_t state);
QORB_API _QORB_STATUS_t SetUpstreamASPMState(void* device, _QORB_ASPM_CONTROL_STATE_t state);

/* --------------------------------------------------------------- logging */
QORB_API _QORB_STATUS_t CreateLog(void* instance, void** log, _QORB_LOG_TYPE_t type, const char* name,
                                  _QORB_LOG_ACTION_t action);
QORB_API _QORB_STATUS_t CloseLog(void* log);
QORB_API _QORB_STATUS_t StartTest(void* log, const char* name);
QORB_API _QORB_STATUS_t StartTest(void* log, const char* name, _QORB_TEST_NUM_t* list, uint32_t count, void* dut);
QORB_API _QORB_STATUS_t StopTest(void* log);
QORB_API _QORB_STATUS_t StartTestCase(void* log, const char* name);
QORB_API _QORB_STATUS_t StartTestCase(void* log, const char* name, _QORB_TEST_NUM_t* list, uint32_t count);
QORB_API _QORB_STATUS_t StopTestCase(void* log);
/* Formats into 2048 bytes, terminator included; a longer text is cut to its
 * first 2047 bytes. */
QORB_API _QORB_STATUS_t WriteToLog(void* log, int32_t kind, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
QORB_API _QORB_STATUS_t EnableLogging(void* log);
QORB_API _QORB_STATUS_t DisableLogging(void* log);
QORB_API _QORB_STATUS_t LogAssert(void* log, int32_t kind, _QORB_TEST_NUM_t* testNum, const char* text);
QORB_API _QORB_STATUS_t LogTBContents(void* log, void* device, uint32_t* numBytes);

/* ------------------------------------------------------ test card control */
QORB_API _QORB_STATUS_t ArmZEB(void* device, uint32_t value);
QORB_API _QORB_STATUS_t DisarmZEB(void* device);
QORB_API _QORB_STATUS_t ChangeZEBMode(void* device, _QORB_ZEB_OP_MODE_t mode);
QORB_API _QORB_STATUS_t QueryZEBMode(void* device, _QORB_ZEB_OP_MODE_t* mode);
QORB_API _QORB_STATUS_t ProgramZEBCmd(void* device, _qorb_cmd_map_t* command);
QORB_API _QORB_STATUS_t QORB_ZEB_GetActionCount(void* device, uint32_t* count);
QORB_API _QORB_STATUS_t ZEBSuspendLogging(void* device);
QORB_API _QORB_STATUS_t ZEBResumeLogging(void* device);
QORB_API _QORB_STATUS_t QORB_GetZEBProperties(void* device, _qorb_zeb_query_prop_t* properties);
QORB_API _QORB_STATUS_t QORB_GetUpstreamZEB(void* device, void** card1, void** card2);
QORB_API _QORB_STATUS_t QORB_GetDownstreamVOK(void* port, uint32_t dev, uint32_t fn, void** partner);

/* ------------------------------------------------- trace buffer analysis */
QORB_EXTERN_C QORB_API _QORB_STATUS_t ZEBGetTraceBuffer(void* device);
QORB_EXTERN_C QORB_API _QORB_STATUS_t QORB_ZEBWritePatternToTB(void* device, uint32_t pattern);
QORB_EXTERN_C QORB_API _QORB_STATUS_t SetConfigMaskTraceBuf(void* device, uint32_t flags);
QORB_EXTERN_C QORB_API _QORB_STATUS_t GetBytesInZEBTB(void* device, uint32_t* bytes);
QORB_EXTERN_C QORB_API _QORB_STATUS_t GetTBContents(void* device, uint8_t* buffer, uint32_t* length);
QORB_EXTERN_C QORB_API _QORB_STATUS_t FindTLPByTLPType(void* device, uint8_t* pattern, uint32_t matchFlags,
                                                       uint32_t* matches, uint32_t* count);
QORB_EXTERN_C QORB_API _QORB_STATUS_t GetNumTLPMatches(void* device, uint8_t* pattern, uint32_t matchFlags,
                                                       uint32_t* count);
QORB_EXTERN_C QORB_API _QORB_STATUS_t FindDLLPTypeDLLPType(void* device, uint8_t* pattern, uint32_t unused,
                                                           uint8_t* records, uint32_t* count);
QORB_EXTERN_C QORB_API _QORB_STATUS_t GetNumDLLPMatches(void* device, uint8_t* pattern, uint32_t unused,
                                                        uint32_t* count);
QORB_EXTERN_C QORB_API _QORB_STATUS_t QORB_ZEB_TB_GetTLPByIndex(void* device, uint8_t* tlp, uint32_t unused,
                                                                uint32_t index);
QORB_EXTERN_C QORB_API _QORB_STATUS_t FindTLPByTLPTypeEx(void* device, uint8_t* pattern, uint32_t matchFlags,
                                                         uint32_t* matches, uint32_t* count);
QORB_EXTERN_C QORB_API _QORB_STATUS_t GetNumTLPMatchesEx(void* device, uint8_t* pattern, uint32_t matchFlags,
                                                         uint32_t* count);
QORB_API _QORB_STATUS_t QORB_ZEB_TB_GetTotalTLP(void* device, uint32_t* total);

/* TLP match flags and trace configuration flags. */
#define QORB_TLP_MATCH_FMT     0x00000001u
#define QORB_TLP_MATCH_TYPE    0x00000002u
#define QORB_TLP_MATCH_LENGTH  0x00000008u
#define QORB_TLP_MATCH_STRICT  0x80000000u

/* ------------------------------------------------------- platform file */
QORB_API _QORB_STATUS_t parseDatFile(char* fileName, _QORB_DAT_INFO_t* info);
/* Releases what parseDatFile stored in the record (the user name) and sets
 * the pointer to null; the record itself belongs to the caller. */
QORB_API void QORB_FreeDatInfo(_QORB_DAT_INFO_t* info);

/* ---------------------------------------------------- user interaction */
QORB_API _QORB_STATUS_t CreateUI(void* instance, void** ui, _QORB_UI_TYPE_t type);
QORB_API _QORB_STATUS_t CloseUI(void* ui);
QORB_API _QORB_STATUS_t GetSelectionFromList(void* ui, std::string* title, std::vector<std::string>* choices,
                                             uint32_t* selection, uint32_t defaultIndex, int flags);
QORB_API _QORB_STATUS_t DisplayInfoToUser(void* ui, std::string* text, int flags, CQORBGuiEvent* event,
                                          uint32_t timeoutMs, int modal, std::string* title);
QORB_API _QORB_STATUS_t GetBooleanDecision(void* ui, std::string* title, std::string* question,
                                           std::string* detail, int* decision, uint32_t timeoutMs,
                                           CQORBGuiEvent* event, int flags);
QORB_API _QORB_STATUS_t GetInteger(void* ui, std::string* title, std::string* prompt, uint32_t* value,
                                   int flags, uint32_t minimum, uint32_t maximum, uint32_t defaultValue,
                                   int base);
QORB_API _QORB_STATUS_t GetString(void* ui, std::string* title, std::string* prompt, std::string* value,
                                  uint32_t maxLength, int flags);
QORB_API _QORB_STATUS_t TerminateDialog(void* ui);
QORB_API _QORB_STATUS_t EnableInput(void* ui);
QORB_API _QORB_STATUS_t DisableInput(void* ui);
QORB_API int IsInputDisabled(void* ui);
QORB_API _QORB_STATUS_t SetDialogHeader(void* ui, const std::string& header);

#include <qorb/qorb_log.h>
#include <qorb/qorb_ui.h>

#endif
