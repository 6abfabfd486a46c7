/* The platform configuration file: an XML document naming the test mode,
 * the user, the devices under test and the files and values a test run
 * uses, read into a _QORB_DAT_INFO_t with expat's push interface.
 *
 * Every element is acted on by its name alone, wherever it stands; element
 * names, attribute names and the values of "mode" are compared without
 * case. Elements and attributes of other names are ignored.
 *
 * Choices made where the file can ask for more than the record holds:
 *  - A DUT element past the 100th fills nothing: dutCount stays 100, the
 *    elements are counted and, once the file has been read (or has failed
 *    to parse), one line on standard error says how many were dropped. The
 *    result is still QORB_SUCCESS for a well-formed file: the first 100
 *    entries are complete and usable, and the line tells the user the rest
 *    are not there.
 *  - The three file name fields keep the first 999 characters of a longer
 *    value and their terminator.
 *  - An element read through its first attribute (User, QORBINIFilePath,
 *    QORBINIFileName, AppINIFileName, ReplayCount, PCIEBaseAddress,
 *    DUTSerrEnable) that has no attribute leaves its field unchanged.
 *  - A second User element releases the name of the first; the name left in
 *    the record is released by QORB_FreeDatInfo. parseDatFile sets the
 *    pointer to null without releasing what it held, since the caller's
 *    record may be uninitialised: call QORB_FreeDatInfo before reusing one. */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <expat.h>

#include "qorb_internal.h"
#include "qorb_platform.h"

namespace {

constexpr size_t kDatBlockSize = 512;

/* What the element handler works on: the record, and the DUT elements that
 * found the table full. */
struct DatParseContext {
    _QORB_DAT_INFO_t* info;
    unsigned long droppedDuts;
};

/* Hexadecimal text to a 64-bit value. Each character shifts the value left
 * by one digit; a character that is no hexadecimal digit repeats the last
 * valid digit before it (0 when there was none), so "0x1F" reads as 0x1F and
 * "1x" as 0x11. */
uint64_t ParseHex64(const char* text)
{
    uint64_t value = 0;
    uint64_t digit = 0;
    for (; *text; ++text) {
        char c = *text;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint64_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint64_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint64_t>(c - 'A' + 10);
        value = (value << 4) | digit;
    }
    return value;
}

/* Decimal text as atoi() reads it: leading white space, an optional sign,
 * then digits up to the first other character; 0 without a digit. The value
 * is kept modulo 2^64 so that callers can cut it to their field's width
 * without the overflow atoi() leaves undefined. */
uint64_t ParseDecimal(const char* text)
{
    while (isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10 + static_cast<uint64_t>(*text - '0');
    return negative ? 0 - value : value;
}

/* A file name field: the value cut to the field, then slashes replaced. */
void StorePath(char* field, const char* value)
{
    size_t n = strnlen(value, QORB_DAT_PATH_LEN - 1);
    memcpy(field, value, n);
    field[n] = '\0';
    ToBackslashes(field);
}

void SetDefaults(_QORB_DAT_INFO_t* info)
{
    info->userName = nullptr;
    /* testMode keeps the caller's value. */
    memset(info->dutFindFlags, 0, sizeof info->dutFindFlags);
    memset(info->dutFindInfo, 0xFF, sizeof info->dutFindInfo);
    info->dutCount = 0;
    info->qorbIniFilePath[0] = '\0';
    info->qorbIniFileName[0] = '\0';
    info->appIniFileName[0] = '\0';
    info->replayCount = 3;
    info->pcieBaseAddress = 0xE0000000ull;
    info->dutConfigIncr = 0;
    info->dutConfigOffset = 0;
    info->dutConfigLength = 4;
    info->dutSerrEnable = 1;
    info->reserved = 0;
}

void HandleTest(_QORB_DAT_INFO_t* info, const XML_Char** atts)
{
    for (; atts[0]; atts += 2) {
        if (strcasecmp(atts[0], "mode") != 0)
            continue;
        if (strcasecmp(atts[1], "platform") == 0)
            info->testMode = QORB_TEST_MODE_PLATFORM;
        else if (strcasecmp(atts[1], "AddIn") == 0)
            info->testMode = QORB_TEST_MODE_ADDIN;
        else if (strcasecmp(atts[1], "simulation") == 0)
            info->testMode = QORB_TEST_MODE_SIMULATION;
    }
}

void HandleUser(_QORB_DAT_INFO_t* info, const char* value)
{
    char* copy = strdup(value);
    if (!copy)
        return; /* out of memory: the previous name stays */
    free(info->userName);
    info->userName = copy;
}

void HandleDutConfig(_QORB_DAT_INFO_t* info, const XML_Char** atts)
{
    for (; atts[0]; atts += 2) {
        const char* name = atts[0];
        const char* value = atts[1];
        if (strcasecmp(name, "incr") == 0) {
            /* A leading minus negates the hexadecimal number after it. */
            uint64_t v = value[0] == '-' ? 0 - ParseHex64(value + 1) : ParseHex64(value);
            info->dutConfigIncr = static_cast<int16_t>(v);
        } else if (strcasecmp(name, "offset") == 0) {
            info->dutConfigOffset = static_cast<uint16_t>(ParseHex64(value));
        } else if (strcasecmp(name, "length") == 0) {
            info->dutConfigLength = static_cast<uint16_t>(ParseHex64(value));
        }
    }
}

/* A DUT element fills the next entry of the table; the flag word records
 * which criteria it gave. */
void HandleDut(DatParseContext* ctx, const XML_Char** atts)
{
    _QORB_DAT_INFO_t* info = ctx->info;
    if (info->dutCount < 0 || info->dutCount >= QORB_MAX_DUTS) {
        ++ctx->droppedDuts;
        return;
    }
    _QORB_DEVICE_FIND_INFO_t* entry = &info->dutFindInfo[info->dutCount];
    uint32_t* flags = &info->dutFindFlags[info->dutCount];
    memset(entry, 0xFF, sizeof *entry);
    for (; atts[0]; atts += 2) {
        const char* name = atts[0];
        const char* value = atts[1];
        if (strcasecmp(name, "vendorid") == 0) {
            entry->vendorId = static_cast<uint16_t>(ParseHex64(value));
            *flags |= QORB_FIND_VENDOR_ID;
        } else if (strcasecmp(name, "deviceid") == 0) {
            entry->deviceId = static_cast<uint16_t>(ParseHex64(value));
            *flags |= QORB_FIND_DEVICE_ID;
        } else if (strcasecmp(name, "bus") == 0) {
            entry->busNumber = static_cast<uint16_t>(ParseDecimal(value));
            *flags |= QORB_FIND_LOCATION;
        } else if (strcasecmp(name, "device") == 0) {
            entry->deviceNumber = static_cast<uint8_t>(ParseDecimal(value));
            *flags |= QORB_FIND_LOCATION;
        } else if (strcasecmp(name, "function") == 0) {
            entry->functionNumber = static_cast<uint8_t>(ParseDecimal(value));
            *flags |= QORB_FIND_LOCATION;
        } else if (strcasecmp(name, "subsysvendor") == 0) {
            entry->subsysVendorId = static_cast<uint16_t>(ParseDecimal(value));
        } else if (strcasecmp(name, "subsysdeviceid") == 0) {
            entry->subsysDeviceId = static_cast<uint16_t>(ParseDecimal(value));
        }
    }
    ++info->dutCount;
}

/* Elements read through their first attribute, whatever its name. */
void HandleFirstAttribute(_QORB_DAT_INFO_t* info, const char* element, const char* value)
{
    if (strcasecmp(element, "User") == 0) {
        HandleUser(info, value);
    } else if (strcasecmp(element, "QORBINIFilePath") == 0) {
        StorePath(info->qorbIniFilePath, value);
    } else if (strcasecmp(element, "QORBINIFileName") == 0) {
        StorePath(info->qorbIniFileName, value);
        if (info->appIniFileName[0] == '\0')
            memcpy(info->appIniFileName, info->qorbIniFileName, sizeof info->appIniFileName);
    } else if (strcasecmp(element, "AppINIFileName") == 0) {
        StorePath(info->appIniFileName, value);
    } else if (strcasecmp(element, "ReplayCount") == 0) {
        info->replayCount = static_cast<int32_t>(ParseDecimal(value));
    } else if (strcasecmp(element, "PCIEBaseAddress") == 0) {
        info->pcieBaseAddress = ParseHex64(value);
    } else if (strcasecmp(element, "DUTSerrEnable") == 0) {
        info->dutSerrEnable = static_cast<int16_t>(ParseDecimal(value));
    }
}

void XMLCALL StartElement(void* userData, const XML_Char* name, const XML_Char** atts)
{
    auto* ctx = static_cast<DatParseContext*>(userData);
    if (strcasecmp(name, "Test") == 0)
        HandleTest(ctx->info, atts);
    else if (strcasecmp(name, "DUTConfig") == 0)
        HandleDutConfig(ctx->info, atts);
    else if (strcasecmp(name, "DUT") == 0)
        HandleDut(ctx, atts);
    else if (atts[0])
        HandleFirstAttribute(ctx->info, name, atts[1]);
}

void XMLCALL EndElement(void*, const XML_Char*)
{
}

void ReportDroppedDuts(const DatParseContext& ctx, const char* fileName)
{
    if (ctx.droppedDuts)
        fprintf(stderr, "***WARNING***. FILE[%s] LINE[%d] %lu DUT element(s) beyond the first %d dropped from file[%s]\n",
                __FILE__, __LINE__, ctx.droppedDuts, QORB_MAX_DUTS, fileName);
}

} // namespace

QORB_API _QORB_STATUS_t parseDatFile(char* fileName, _QORB_DAT_INFO_t* info)
{
    if (!info) {
        fprintf(stderr, "***ERROR***. FILE[%s] LINE[%d] no record to fill for file[%s]\n", __FILE__, __LINE__,
                fileName ? fileName : "(null)");
        return QORB_NO_DAT_FILE;
    }
    XML_Parser parser = XML_ParserCreate(nullptr);
    SetDefaults(info);
    if (!parser) {
        fprintf(stderr, "***ERROR***. FILE[%s] LINE[%d] cannot create the XML parser\n", __FILE__, __LINE__);
        return QORB_NO_DAT_FILE;
    }
    FILE* file = fileName ? PlatformOpenFile(fileName, "r") : nullptr;
    if (!file) {
        fprintf(stderr, "***ERROR***. FILE[%s] LINE[%d] cannot open file[%s]\n", __FILE__, __LINE__,
                fileName ? fileName : "(null)");
        XML_ParserFree(parser);
        return QORB_NO_DAT_FILE;
    }

    DatParseContext ctx = {info, 0};
    XML_SetUserData(parser, &ctx);
    XML_SetElementHandler(parser, StartElement, EndElement);

    _QORB_STATUS_t status = QORB_SUCCESS;
    char block[kDatBlockSize];
    bool last = false;
    while (!last) {
        size_t n = fread(block, 1, sizeof block, file);
        last = n < sizeof block;
        if (XML_Parse(parser, block, static_cast<int>(n), last) == XML_STATUS_ERROR) {
            fprintf(stderr, "EXPAT XML PARSER . ERROR (desc(%s))  in dat file at line %d\n",
                    XML_ErrorString(XML_GetErrorCode(parser)), static_cast<int>(XML_GetCurrentLineNumber(parser)));
            status = QORB_NO_DAT_FILE;
            break;
        }
    }
    ReportDroppedDuts(ctx, fileName);
    XML_ParserFree(parser);
    fclose(file);
    return status;
}

QORB_API void QORB_FreeDatInfo(_QORB_DAT_INFO_t* info)
{
    if (!info)
        return;
    free(info->userName);
    info->userName = nullptr;
}
