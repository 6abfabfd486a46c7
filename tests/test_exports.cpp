/* The library's dynamic symbol table: the plain-named functions appear
 * undecorated, every other API function appears under its C++ name with the
 * parameter types its header declares, and nothing internal is exported.
 *
 * kDecoratedApi holds the C++ (Itanium ABI, LP64) names of the functions
 * include/qorb/qorb.h declares outside extern "C". When a declaration there
 * changes, its name here changes with it. */
#include <gtest/gtest.h>

#include <cxxabi.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "qorb_test_support.h"

namespace {

/* Exported under their plain names (extern "C"). */
const std::set<std::string> kPlainApi = {
    "QORBGetErrorDesc", "QORBGetIntf",
    /* trace buffer */
    "ZEBGetTraceBuffer", "QORB_ZEBWritePatternToTB", "SetConfigMaskTraceBuf", "GetBytesInZEBTB", "GetTBContents",
    "FindTLPByTLPType", "GetNumTLPMatches", "FindDLLPTypeDLLPType", "GetNumDLLPMatches",
    "QORB_ZEB_TB_GetTLPByIndex", "FindTLPByTLPTypeEx", "GetNumTLPMatchesEx",
    /* error status assertions */
    "QORB_ADVERR_Util_GetAdvErrorRepCap", "QORB_ADVERR_Util_AssertTrainingErrorStatus",
    "QORB_ADVERR_Util_AssertDLProtocolErrorStatus", "QORB_ADVERR_Util_AssertFlowControlProtocolErrorStatus",
    "QORB_ADVERR_Util_AssertCompletionTimeoutStatus", "QORB_ADVERR_Util_AssertCompleterAbortStatus",
    "QORB_ADVERR_Util_AssertUnexpectedCompletionStatus", "QORB_ADVERR_Util_AssertReceiverOverflowStatus",
    "QORB_ADVERR_Util_AssertUnsupportedRequestErrorStatus", "QORB_ADVERR_Util_AssertReceiverErrorStatus",
    "QORB_ADVERR_Util_AssertBadTLPStatus", "QORB_ADVERR_Util_AssertBadDLLPStatus",
    "QORB_ADVERR_Util_AssertReplayNumberRolloverStatus", "QORB_ADVERR_Util_AssertReplayTimerTimeoutStatus",
};

/* Exported under C++ names (QORB_ZEB_TB_GetTotalTLP among them). */
const std::set<std::string> kDecoratedApi = {
    "_Z10FindDevicePvPS_jP24_QORB_DEVICE_FIND_INFO_t", "_Z10FindDevicehhhPPv", "_Z10FindDevicettPPv",
    "_Z10FindDevicetthhhPPv", "_Z10GetIntegerPvPNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES6_Pjijjji",
    "_Z10OpenDevicePv19_QORB_ACCESS_MODE_t", "_Z10OpenQORBExPPviPKcmj", "_Z10WriteToLogPviPKcz", "_Z11CloseDevicePv",
    "_Z11EnableInputPv", "_Z11GetDeviceIDPvPt", "_Z11GetVendorIDPvPt", "_Z12DisableInputPv", "_Z12GetBusNumberPvPh",
    "_Z12GetCapOffsetPvPj", "_Z12QueryZEBModePvP19_QORB_ZEB_OP_MODE_t",
    "_Z12SetASPMStatePv26_QORB_ASPM_CONTROL_STATE_t", "_Z12StopTestCasePv", "_Z12parseDatFilePcP16_QORB_DAT_INFO_t",
    "_Z13ChangeZEBModePv19_QORB_ZEB_OP_MODE_t", "_Z13EnableLoggingPv", "_Z13GetDeviceTypePvP21_QORB_DEV_PORT_TYPE_t",
    "_Z13GetHeaderTypePvPh", "_Z13GetParentPortPvPS_", "_Z13LogTBContentsPvS_Pj",
    "_Z13ProgramZEBCmdPvP15_qorb_cmd_map_t", "_Z13StartTestCasePvPKc", "_Z13StartTestCasePvPKcP16_QORB_TEST_NUM_tj",
    "_Z14DisableLoggingPv", "_Z14FindDeviceByIdttPPv", "_Z14FindNextBridgePvPS_", "_Z14FindNextSwitchPvPS_",
    "_Z14ReadCapabilityPvPhjPj", "_Z15EnumerateDevicePv19_QORB_ENUM_METHOD_t23_QORB_ENUM_STOP_POINT_ttj",
    "_Z15FindFirstBridgePvPS_", "_Z15FindFirstSwitchPvPS_", "_Z15GetDevConfigPtrPvPP26_PCI_CONFIG_SPACE_HEADER_t",
    "_Z15GetDeviceNumberPvPh", "_Z15GetParentDevicePvPS_", "_Z15IsInputDisabledPv", "_Z15IsMultiFunctionPvPi",
    "_Z15QORB_EnableLinkPv", "_Z15ReadConfigSpacePvPhjPj",
    "_Z15SetDialogHeaderPvRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE", "_Z15TerminateDialogPv",
    "_Z15WriteCapabilityPvPhjPj", "_Z16FindDeviceByInfoPvPS_jP24_QORB_DEVICE_FIND_INFO_t", "_Z16FindNextEndpointPvPS_",
    "_Z16FindNextRootPortPvPS_", "_Z16QORB_DisableLinkPv", "_Z16QORB_FreeDatInfoP16_QORB_DAT_INFO_t",
    "_Z16WriteConfigSpacePvPhjPj", "_Z16ZEBResumeLoggingPv",
    "_Z17DisplayInfoToUserPvPNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEiP13CQORBGuiEventjiS6_",
    "_Z17FindFirstEndpointPvPS_", "_Z17FindFirstRootPortPvPS_", "_Z17GetDevConfigSpacePvPP26_PCI_CONFIG_SPACE_HEADER_t",
    "_Z17GetFunctionNumberPvPh", "_Z17GetMSIXCapabilityPvP30_PCI_MSI_X_CAPABILITY_STRUCT_tPS_",
    "_Z17GetNextCapabilityPvPS_S_", "_Z17GetPCIECapabilityPvP25_PCIE_CAPABILITY_STRUCT_tPS_",
    "_Z17QORB_QueryCapInfoPvP27_QORB_PCI_DEVICE_CAP_INFO_t", "_Z17ZEBSuspendLoggingPv", "_Z18FindNextDownSwitchPvPS_",
    "_Z18GetBooleanDecisionPvPNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES6_S6_PijP13CQORBGuiEventi",
    "_Z18GetFirstCapabilityPvPS_", "_Z19FindFirstDownSwitchPvPS_",
    "_Z19GetCapabilityHeaderPvP24_PCI_CAPABILITY_HEADER_tj", "_Z19ParseCmdLineOptionsiPPcS_S_",
    "_Z19QORB_GetUpstreamZEBPvPS_S0_", "_Z19QORB_RetrainDUTLinkPv", "_Z20FindDeviceByLocationhhhPPv",
    "_Z20GetSelectionFromListPvPNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEPSt6vectorIS5_SaIS5_EEPjji",
    "_Z20HelpGetPCICapabilityPv27_QORB_PCI_CAPABILITY_TYPE_tjiS_PS_", "_Z20QORB_GetUpStreamPortPv",
    "_Z20SetUpstreamASPMStatePv26_QORB_ASPM_CONTROL_STATE_t", "_Z20WriteDeviceStatusRegPviiii",
    "_Z21FindDeviceByClassCodehhhPPv", "_Z21Get32BitMSICapabilityPvP30PCI_MSI_CAPABILITY_32_STRUCT_tPS_",
    "_Z21Get64BitMSICapabilityPvP30PCI_MSI_CAPABILITY_64_STRUCT_tPS_",
    "_Z21HelpGetPCIECapabilityPv28_QORB_PCIE_CAPABILITY_TYPE_tjiS_PS_", "_Z21QORB_GetDownstreamVOKPvjjPS_",
    "_Z21QORB_GetZEBPropertiesPvP22_qorb_zeb_query_prop_t", "_Z22FindNextLegacyEndpointPvPS_",
    "_Z22GetAdvErrRepCapabilityPvP30_PCIE_ADV_ERR_REP_CAP_STRUCT_tPS_", "_Z22QueryAcpiMcfgTableInfoPmPhS0_S_",
    "_Z23FindFirstLegacyEndpointPvPS_", "_Z23QORB_ReadConfigSpace_ExjjjjjPh", "_Z23QORB_ZEB_GetActionCountPvPj",
    "_Z23QORB_ZEB_TB_GetTotalTLPPvPj", "_Z24QORB_GetDevicePropertiesPvPhS0_S0_PtS1_", "_Z25QORB_FreeCapabilityHandlePv",
    "_Z27GetPowerBudgetingCapabilityPvP38_PCIE_POWER_BUDGET_CAPABILITY_STRUCT_tPS_",
    "_Z27QORB_WaitForDeviceToRetrainPvi",
    "_Z28GetPowerManagementCapabilityPvP39_PCI_POWER_MANAGEMENT_CAPABILITY_STRUCTPS_",
    "_Z28QORB_GetPortToResetOrRetrainPvPS_",
    "_Z31GetDeviceSerialNumberCapabilityPvP38_PCIE_DEV_SERIAL_NUM_CAPABILITY_STRUCTPS_",
    "_Z33GetDeviceVirtualChannelCapabilityPvP41_PCIE_VIRTUAL_CHANNEL_CAPABILITY_STRUCT_tPS_", "_Z6ArmZEBPvj",
    "_Z7CloseUIPv", "_Z8CloseLogPv", "_Z8CreateUIPvPS_15_QORB_UI_TYPE_t", "_Z8OpenQORBPPvimPKcS2_", "_Z8StopTestPv",
    "_Z9CloseQORBPv", "_Z9CreateLogPvPS_16_QORB_LOG_TYPE_tPKc18_QORB_LOG_ACTION_t", "_Z9DisarmZEBPv",
    "_Z9GetStringPvPNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES6_S6_ji",
    "_Z9LogAssertPviP16_QORB_TEST_NUM_tPKc", "_Z9StartTestPvPKc", "_Z9StartTestPvPKcP16_QORB_TEST_NUM_tjS_",
};

/* Classes whose members, vtables and type information are exported. */
const std::vector<std::string> kExportedClasses = {
    "CTestRecord", "CQORBLog", "CRawTextQORBLog", "CConsoleOutQORBLog", "CXmlQORBLog",
    "CQORBGuiEvent", "CQORBUserInput", "CDummyUserInput",
};

/* Internal operations that must stay inside the library (besides every
 * Platform* function of the platform layer). */
const std::set<std::string> kInternal = {
    "DriverReadConfig", "DriverWriteConfig", "g_qorbDriver", "AllocInstance", "CreateDeviceRecord",
    "ReleaseTraceCopy", "BindDriverInterfaces", "InitSoftwareDriver", "SetupConfigWindow", "ReadIniString",
    "JoinPath", "ToBackslashes", "LoadDriverLibrary", "GetDriverEntryPoint", "FreeDriverLibrary",
    "InsertDeviceIntoInstance", "GetLegacyCapLength", "GetExtendedCapLength", "g_qorbExtCapLengths",
    "ResolveParent", "FindUpstreamBridge",
};

std::string Demangle(const std::string& name)
{
    int status = 0;
    char* text = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    std::string out = status == 0 && text ? text : name;
    free(text);
    return out;
}

/* "FindDevice(unsigned char, ...)" -> "FindDevice"; "void std::f<int>(int)"
 * -> "void std::f<int>"; "vtable for CQORBLog" stays. */
std::string QualifiedName(const std::string& demangled)
{
    return demangled.substr(0, demangled.find('('));
}

std::string BaseName(const std::string& qualified)
{
    size_t colon = qualified.rfind("::");
    return colon == std::string::npos ? qualified : qualified.substr(colon + 2);
}

struct Symbol {
    char type;
    std::string name;
};

class Exports : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (sizeof(long) != 8)
            GTEST_SKIP() << "the C++ names are those of an LP64 build";
        int code = -1;
        std::string text = qorbtest::RunCommand(
            std::string("nm -D --defined-only '") + QORB_LIBRARY_PATH + "' 2>&1", &code);
        ASSERT_EQ(code, 0) << "nm (binutils) could not read " << QORB_LIBRARY_PATH << ":\n" << text;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string address, type, name;
            if (!(fields >> address >> type >> name)) /* "T name" lines have no address */
                continue;
            name = name.substr(0, name.find('@'));
            symbols.push_back({type[0], name});
            names.insert(name);
        }
        ASSERT_FALSE(symbols.empty());
    }

    /* The API names the library defines under any name, by base name. */
    std::map<std::string, std::vector<std::string>> ByBaseName() const
    {
        std::map<std::string, std::vector<std::string>> out;
        for (const Symbol& s : symbols)
            out[BaseName(QualifiedName(Demangle(s.name)))].push_back(s.name);
        return out;
    }

    std::vector<Symbol> symbols;
    std::set<std::string> names;
};

bool IsClassSymbol(const std::string& qualified)
{
    for (const std::string& c : kExportedClasses) {
        if (qualified.rfind(c + "::", 0) == 0)
            return true;
        for (const char* prefix : {"vtable for ", "typeinfo for ", "typeinfo name for ", "VTT for "})
            if (qualified == prefix + c)
                return true;
    }
    return false;
}

/* Instances of the standard library's templates get default visibility. */
bool IsStandardLibrary(const std::string& qualified)
{
    return qualified.find("std::") != std::string::npos || qualified.find("__gnu_cxx::") != std::string::npos;
}

std::set<std::string> DecoratedBaseNames()
{
    std::set<std::string> out;
    for (const std::string& m : kDecoratedApi)
        out.insert(BaseName(QualifiedName(Demangle(m))));
    return out;
}

TEST_F(Exports, EveryExportedSymbolIsAnApiFunctionUnderItsRightName)
{
    const std::set<std::string> decoratedBases = DecoratedBaseNames();
    for (const Symbol& s : symbols) {
        if (s.type == 'A' || s.name == "_init" || s.name == "_fini")
            continue; /* the linker's own marks */
        if (kPlainApi.count(s.name) || kDecoratedApi.count(s.name))
            continue;
        const std::string demangled = Demangle(s.name);
        const std::string qualified = QualifiedName(demangled);
        const std::string base = BaseName(qualified);
        if (IsClassSymbol(qualified) || IsStandardLibrary(qualified))
            continue;
        if (kInternal.count(base) || base.rfind("Platform", 0) == 0)
            ADD_FAILURE() << "internal operation exported: " << demangled << " (" << s.name << ")";
        else if (kPlainApi.count(base))
            ADD_FAILURE() << "exported with a C++ name, must be plain (extern \"C\"): " << demangled;
        else if (decoratedBases.count(base) && s.name == base)
            ADD_FAILURE() << "exported undecorated, must carry its C++ name: " << s.name;
        else if (decoratedBases.count(base))
            ADD_FAILURE() << "defined with parameters its declaration in qorb.h does not have: " << demangled
                          << " (if the declaration changed, update kDecoratedApi in this test)";
        else
            ADD_FAILURE() << "exported but not part of the API: " << demangled << " (" << s.name << ")";
    }
}

TEST_F(Exports, PlainAndDecoratedNamesAreNotMixedUp)
{
    /* Holds even for the functions still missing: neither form may appear
     * under the other's rules. */
    auto bases = ByBaseName();
    for (const std::string& plain : kPlainApi)
        for (const std::string& raw : bases[plain])
            EXPECT_EQ(raw, plain) << plain << " must be exported undecorated";
    EXPECT_EQ(names.count("QORB_ZEB_TB_GetTotalTLP"), 0u) << "QORB_ZEB_TB_GetTotalTLP carries its C++ name";
    for (const char* overloaded : {"FindDevice", "StartTest", "StartTestCase", "OpenQORB", "CloseQORB"})
        EXPECT_EQ(names.count(overloaded), 0u) << overloaded << " carries its C++ name";
}

/* Every function the headers declare is defined and exported; the missing
 * ones are listed. */
TEST_F(Exports, EveryApiFunctionIsDefined)
{
    std::vector<std::string> missing;
    for (const std::string& plain : kPlainApi)
        if (!names.count(plain))
            missing.push_back(plain);
    for (const std::string& decorated : kDecoratedApi)
        if (!names.count(decorated))
            missing.push_back(Demangle(decorated));
    if (!missing.empty()) {
        std::string list;
        for (const std::string& m : missing)
            list += "\n  " + m;
        ADD_FAILURE() << missing.size() << " API functions are not defined or not exported:" << list;
    }
}

} // namespace
