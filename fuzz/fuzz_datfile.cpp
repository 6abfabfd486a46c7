/* parseDatFile on any file content: the platform file reader must answer a
 * status for every input, keep every field of the record within its
 * bounds, and hand out nothing but the user name, which QORB_FreeDatInfo
 * releases. */
#include <string.h>

#include <memory>

#include <qorb/qorb.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using qorbfuzz::Require;
    std::string path = qorbfuzz::WriteScratchFile("platform.xml", data, size);
    auto info = std::make_unique<_QORB_DAT_INFO_t>();
    _QORB_STATUS_t status = parseDatFile(path.data(), info.get());
    Require(status == QORB_SUCCESS || status == QORB_NO_DAT_FILE, "parseDatFile answers success or no file");
    Require(info->dutCount >= 0 && info->dutCount <= QORB_MAX_DUTS, "dutCount within the DUT table");
    for (const char* field : {info->qorbIniFilePath, info->qorbIniFileName, info->appIniFileName})
        Require(strnlen(field, QORB_DAT_PATH_LEN) < QORB_DAT_PATH_LEN, "file name fields are terminated");
    /* The user name is a terminated string (the sanitizer checks the read);
     * entities may make it longer than the file. */
    if (info->userName) {
        volatile size_t length = strlen(info->userName);
        (void)length;
    }
    QORB_FreeDatInfo(info.get());
    Require(info->userName == nullptr, "QORB_FreeDatInfo clears the user name");
    return 0;
}
