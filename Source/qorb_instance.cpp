/* Instance lifecycle: the open sequence (INI files, loading and binding the
 * configuration driver, opening it, the configuration window), closing, the
 * command-line parser and the two driver pass-through calls.
 *
 * Paths: the open sequence works in buffers of 255 characters, terminator
 * included, so a path holds at most 254 characters. A path that does not fit
 * (a long current directory, long INI arguments, a driver path of 255
 * characters or more) is rejected, never cut: the open prints
 * "Path too long: <path>. Exiting." on standard error and returns
 * QORB_STATUS_FAILED, leaving the handle-out argument untouched.
 *
 * A null handle-out argument, or a null driver path for OpenQORBEx, gives
 * QORB_INVALID_PARAMETER before anything is read or loaded.
 *
 * CfgSpaceLength is converted as atoi() does, with values beyond the signed
 * 32-bit range held at its ends (INT32_MAX, INT32_MIN) instead of wrapping;
 * the number is then sign-extended, so "-1" maps a window of 2^64 - 1 bytes.
 *
 * Closing: CloseQORB closes the driver and unloads it for every instance, and
 * also forgets the test card and partner tables (they live in the unloaded
 * object). It releases the instance record it is given when that is a live
 * instance (see qorb_registry.h), so closing twice, or closing a pointer that
 * never came from an open, only closes the driver again; device records found
 * through that instance are detached from it first and stay valid until
 * CloseDevice. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <new>

#include "qorb_internal.h"
#include "qorb_platform.h"
#include "qorb_registry.h"

namespace {

constexpr const char* kDefaultIniFile = "VERDAapp.ini";
constexpr const char* kDllNotFound = "Dll not found";
constexpr const char* kCfgSpaceIni = "PCIECfgInfo.ini";
constexpr const char* kDefaultCfgSpaceLength = "52428800";

/* Copies text into a path buffer of QORB_MAX_PATH characters; false when it
 * does not fit (terminator included). */
bool CopyPath(char* out, const char* text)
{
    size_t n = strlen(text);
    if (n >= QORB_MAX_PATH)
        return false;
    memcpy(out, text, n + 1);
    return true;
}

_QORB_STATUS_t PathTooLong(const char* path)
{
    fprintf(stderr, "Path too long: %s. Exiting.\n", path);
    return QORB_STATUS_FAILED;
}

/* out := directory, a backslash unless the directory ends in one, name.
 * False, with the message of a rejected path, when the result does not fit
 * in QORB_MAX_PATH characters. */
bool JoinPath(const char* directory, const char* name, char* out)
{
    char joined[2 * QORB_MAX_PATH + 2];
    size_t dirLen = strlen(directory);
    size_t nameLen = strlen(name);
    if (dirLen >= QORB_MAX_PATH || nameLen >= QORB_MAX_PATH) {
        fprintf(stderr, "Path too long: %s\\%s. Exiting.\n", directory, name);
        return false;
    }
    memcpy(joined, directory, dirLen);
    size_t n = dirLen;
    if (dirLen == 0 || directory[dirLen - 1] != '\\')
        joined[n++] = '\\';
    memcpy(joined + n, name, nameLen + 1);
    if (!CopyPath(out, joined)) {
        PathTooLong(joined);
        return false;
    }
    return true;
}

} // namespace

void ToBackslashes(char* text)
{
    for (; *text; ++text)
        if (*text == '/')
            *text = '\\';
}

namespace {

void ReadIniString(const char* section, const char* key, const char* defaultValue, char* out, uint32_t size,
                   const char* file)
{
    FILE* probe = PlatformOpenFile(file, "r");
    if (probe)
        fclose(probe);
    else
        printf("file with name[%s] cannot be opened\n", file);
    PlatformGetPrivateProfileString(section, key, defaultValue, out, size, file);
}

/* The current directory into a path buffer; false, with the message of a
 * rejected path, when it does not fit. */
bool CurrentDirectory(char* out)
{
    if (PlatformGetCurrentDirectory(QORB_MAX_PATH, out) != 0)
        return true;
    char full[4096] = {};
    PlatformGetCurrentDirectory(sizeof full, full);
    PathTooLong(full[0] ? full : "(current directory)");
    return false;
}

/* atoi() over the signed 32-bit range: leading blanks, an optional sign, the
 * digits up to the first other character; beyond the range, its ends. */
int32_t TextToInt32(const char* text)
{
    long long value = strtoll(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

void* LoadDriverLibrary(const char* path) { return PlatformLoadLibrary(path); }

void* GetDriverEntryPoint(const char* name)
{
    return PlatformGetProcAddress(reinterpret_cast<void*>(g_qorbDriver.libraryHandle), name);
}

void FreeDriverLibrary()
{
    PlatformFreeLibrary(reinterpret_cast<void*>(g_qorbDriver.libraryHandle));
    g_qorbDriver.libraryHandle = 0;
}

int BindDriverInterfaces()
{
    g_qorbDriver.table = _CONFIG_DRIVER_INTERFACE_t{};
    auto getInterface = reinterpret_cast<QORB_CONFIG_DRIVER_GET_INTERFACE>(GetDriverEntryPoint("ConfigDriver_GetInterface"));
    if (!getInterface || getInterface(&g_qorbDriver.table) == 0)
        return 0;
    auto openZeb = reinterpret_cast<QORB_ZEB_LIB_OPEN_INTERFACE>(GetDriverEntryPoint("ZEB_LIB_Open_ZEB_Interface"));
    if (openZeb)
        (void)openZeb(&g_qorbDriver.zeb);
    auto openVok = reinterpret_cast<QORB_VOK_LIB_OPEN_INTERFACE>(GetDriverEntryPoint("VOK_LIB_Open_VOK_Interface"));
    if (openVok)
        (void)openVok(&g_qorbDriver.vok);
    return 1;
}

int SetupConfigWindow(uint64_t configBase)
{
    const _CONFIG_DRIVER_INTERFACE_t& drv = g_qorbDriver.table;
    if (drv.QueryMcfgTable) {
        uint64_t mcfgBase = 0;
        uint8_t startBus = 0;
        uint8_t endBus = 0;
        uint64_t windowLength = 0;
        if (drv.QueryMcfgTable(g_qorbDriver.context, &mcfgBase, &startBus, &endBus, &windowLength) != 0 &&
            drv.MapConfigSpace && drv.MapConfigSpace(g_qorbDriver.context, mcfgBase, windowLength) != 0)
            return 1;
    }
    char text[100] = {};
    ReadIniString("CfgSpaceInfo", "CfgSpaceLength", kDefaultCfgSpaceLength, text, sizeof text, kCfgSpaceIni);
    uint64_t length = static_cast<uint64_t>(static_cast<int64_t>(TextToInt32(text)));
    if (!drv.MapConfigSpace)
        return 0;
    return drv.MapConfigSpace(g_qorbDriver.context, configBase, length) != 0 ? 1 : 0;
}

int InitSoftwareDriver(uint64_t configBase)
{
    if (!g_qorbDriver.table.OpenDriver)
        return 0;
    if (g_qorbDriver.table.OpenDriver(&g_qorbDriver.context) == 0)
        return 0;
    return SetupConfigWindow(configBase);
}

QORB_INSTANCE_t* AllocInstance()
{
    auto* instance = new (std::nothrow) QORB_INSTANCE_t;
    if (!instance)
        return nullptr;
    instance->userName = "qorb_user";
    cl_qlist_init(&instance->deviceList);
    if (!RegisterRecord(QorbRecordKind::kInstance, instance)) {
        delete instance;
        return nullptr;
    }
    return instance;
}

/* The steps shared by both open operations, from the driver path on. */
_QORB_STATUS_t OpenCommon(void** handle, const char* driverPath, uint64_t configBase)
{
    FILE* file = PlatformOpenFile(driverPath, "r");
    if (!file) {
        fprintf(stderr, "Failed to open DLL file %s. Exiting.\n", driverPath);
        return QORB_STATUS_FAILED;
    }
    fclose(file);

    /* A file that does not load is no failure by itself: the handle becomes
     * 0 and the driver table stays as an earlier open left it. */
    void* library = LoadDriverLibrary(driverPath);
    g_qorbDriver.libraryHandle = reinterpret_cast<uint64_t>(library);
    if (library && !BindDriverInterfaces())
        return QORB_STATUS_FAILED;
    if (!InitSoftwareDriver(configBase)) {
        printf("QORB::PCIExpress QORB. Initializing software based driver failed\n");
        return QORB_DRIVER_INIT_FAILED;
    }
    QORB_INSTANCE_t* instance = AllocInstance();
    if (!instance)
        return QORB_INSUFFICIENT_RESOURCES;
    *handle = instance;
    return QORB_SUCCESS;
}

} // namespace

void InsertDeviceIntoInstance(QORB_INSTANCE_t* instance, QORB_DEVICE_t* device)
{
    cl_qlist_insert_tail(&instance->deviceList, &device->listItem);
    device->owner = instance;
}

QORB_API _QORB_STATUS_t OpenQORB(void** handle, int /*reserved*/, uint64_t configBase, const char* iniDirectory,
                                 const char* iniFileName)
{
    if (!handle)
        return QORB_INVALID_PARAMETER;
    char pathA[QORB_MAX_PATH] = {};
    char pathB[QORB_MAX_PATH] = {};
    char dllName[QORB_DLL_NAME_LEN] = {};

    const char* directory = iniDirectory;
    if (!directory) {
        char cwd[QORB_MAX_PATH] = {};
        if (!CurrentDirectory(cwd))
            return QORB_STATUS_FAILED;
        size_t n = strlen(cwd);
        if (n + strlen("/ini/") >= QORB_MAX_PATH) {
            fprintf(stderr, "Path too long: %s/ini/. Exiting.\n", cwd);
            return QORB_STATUS_FAILED;
        }
        memcpy(pathA, cwd, n);
        memcpy(pathA + n, "/ini/", sizeof "/ini/");
        directory = pathA;
    }
    const char* fileName = iniFileName ? iniFileName : kDefaultIniFile;
    char iniPath[QORB_MAX_PATH] = {};
    if (!JoinPath(directory, fileName, iniPath))
        return QORB_STATUS_FAILED;
    memcpy(pathA, iniPath, sizeof pathA);
    ToBackslashes(pathA);

    ReadIniString("DLL", "DLLName", kDllNotFound, dllName, sizeof dllName, pathA);
    if (strcmp(dllName, kDllNotFound) == 0) {
        /* The DLL path buffer is still empty here, so the message names nothing. */
        fprintf(stderr, "Failed to find DLL file %s. Exiting.\n", pathB);
        return QORB_STATUS_FAILED;
    }

    if (!CurrentDirectory(pathB))
        return QORB_STATUS_FAILED;
    if (!JoinPath(pathB, dllName, pathA))
        return QORB_STATUS_FAILED;
    return OpenCommon(handle, pathA, configBase);
}

QORB_API _QORB_STATUS_t OpenQORBEx(void** handle, int /*reserved*/, const char* driverPath, uint64_t configBase,
                                   uint32_t /*reserved2*/)
{
    if (!driverPath || !handle)
        return QORB_INVALID_PARAMETER;
    if (strlen(driverPath) >= QORB_MAX_PATH)
        return PathTooLong(driverPath);
    return OpenCommon(handle, driverPath, configBase);
}

QORB_API _QORB_STATUS_t CloseQORB(void* instanceHandle)
{
    if (g_qorbDriver.table.CloseDriver)
        (void)g_qorbDriver.table.CloseDriver(g_qorbDriver.context);
    if (g_qorbDriver.libraryHandle != 0)
        FreeDriverLibrary();
    g_qorbDriver.table = _CONFIG_DRIVER_INTERFACE_t{};
    g_qorbDriver.zeb = nullptr;
    g_qorbDriver.vok = nullptr;

    auto* instance = static_cast<QORB_INSTANCE_t*>(instanceHandle);
    if (UnregisterRecord(QorbRecordKind::kInstance, instance)) {
        while (cl_qlist_count(&instance->deviceList) > 0) {
            cl_list_item_t* item = cl_qlist_remove_head(&instance->deviceList);
            auto* device = reinterpret_cast<QORB_DEVICE_t*>(item);
            device->owner = nullptr;
        }
        delete instance;
    }
    return QORB_SUCCESS;
}

QORB_API int ParseCmdLineOptions(int argc, char** argv, char* dValue, char* lValue)
{
    if (dValue)
        dValue[0] = '\0';
    if (lValue)
        lValue[0] = '\0';
    int result = 0;
    int index = 1;
    while (argv && index < argc) {
        const char* arg = argv[index] ? argv[index] : "";
        if (strcasecmp(arg, "-l") == 0) {
            if (index + 1 < argc && lValue && argv[index + 1])
                strcpy(lValue, argv[index + 1]);
            index += 2;
        } else if (strcasecmp(arg, "-d") == 0) {
            if (index + 1 < argc && dValue && argv[index + 1])
                strcpy(dValue, argv[index + 1]);
            index += 2;
        } else if (strcasecmp(arg, "-h") == 0) {
            result = 1;
            index += 1;
        } else {
            index += 1;
        }
    }
    return result;
}

QORB_API int QueryAcpiMcfgTableInfo(uint64_t* base, uint8_t* startBus, uint8_t* endBus, uint64_t* length)
{
    if (!g_qorbDriver.table.QueryMcfgTable)
        return 0;
    return static_cast<int>(g_qorbDriver.table.QueryMcfgTable(g_qorbDriver.context, base, startBus, endBus, length));
}

QORB_API uint32_t QORB_ReadConfigSpace_Ex(uint32_t v1, uint32_t v2, uint32_t v3, uint32_t v4, uint32_t v5,
                                          uint8_t* buffer)
{
    if (!g_qorbDriver.table.ReadConfig || !g_qorbDriver.table.ReadConfigEx)
        return 0;
    return g_qorbDriver.table.ReadConfigEx(g_qorbDriver.context, v1, v2, v3, v4, v5, buffer);
}
