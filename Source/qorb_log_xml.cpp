/* The XML log: an XML-like document made of a root element with the platform
 * block, test elements with their assertions and device under test, message
 * elements, assertion results and trace buffer dumps.
 *
 * Texts from the caller are written unchanged, without escaping; nothing
 * makes the document well-formed (a test element is closed only by StopTest).
 * Only message elements are flushed at once; the rest reaches the file when
 * the stream's buffer fills or the file is closed.
 *
 * Without a file (no name, an unknown action, or a failed open) every write
 * reports QORB_LOG_NOT_OPEN and the destructor writes nothing.
 *
 * Byte counts and the action count of a trace dump are printed as unsigned
 * decimals: the same digits as a signed print for any count below 2^31. */
#include <inttypes.h>
#include <stdlib.h>
#include <string.h>

#include <qorb/qorb_log.h>

#include "qorb_internal.h"
#include "qorb_log_fields.h"
#include "qorb_platform.h"

namespace {

constexpr const char* kUserName = "test_user";
constexpr uint32_t kCpuSpeed = 2000;  /* a constant, not measured */
constexpr uint64_t kMiB = 1048576;

/* Layer codes have no prefix above 6; such an assertion is named "UNKNOWN."
 * followed by its numbers. */
const char* LayerPrefix(uint32_t layer)
{
    static const char* const prefixes[] = {"PHY.", "PHYLINK.", "CFG.", "EM.", "SYS.", "DLL.", "TXN."};
    if (layer < sizeof prefixes / sizeof prefixes[0])
        return prefixes[layer];
    return "UNKNOWN.";
}

/* Message element by kind; errors and unknown kinds are warnings. */
const char* MessageElement(int32_t kind)
{
    switch (kind) {
    case QORB_LOG_SUCCESS:
        return "SUCCESS";
    case QORB_LOG_INFO:
        return "INFO";
    case QORB_LOG_ABORT:
        return "ABORT";
    case QORB_LOG_FAIL:
        return "FAIL";
    default:
        return "WARNING";
    }
}

const char* AssertionStatus(int32_t kind)
{
    switch (kind) {
    case QORB_LOG_SUCCESS:
        return "SUCCESS";
    case QORB_LOG_INFO:
        return "INFORMATIONAL";
    case QORB_LOG_WARNING:
        return "WARNING";
    case QORB_LOG_ERROR:
        return "ERROR";
    case QORB_LOG_ABORT:
        return "ABORT";
    case QORB_LOG_FAIL:
        return "FAILED";
    default:
        return "UNKNOWN STATUS";
    }
}

/* Hour, minute, second, day, month and year of the local clock. */
_QORB_STATUS_t ReadLocalClock(uint32_t* hour, uint32_t* minute, uint32_t* second, uint32_t* day, uint32_t* month,
                              uint32_t* year)
{
    QORB_LOCAL_TIME_t now;
    PlatformGetLocalTime(&now);
    *hour = now.hour;
    *minute = now.minute;
    *second = now.second;
    *day = now.day;
    *month = now.month;
    *year = now.year;
    return QORB_SUCCESS;
}

/* The user and timestamp attributes that open the root and test elements. */
void WriteUserAndTime(FILE* file, const char* element)
{
    uint32_t hour, minute, second, day, month, year;
    ReadLocalClock(&hour, &minute, &second, &day, &month, &year);
    fprintf(file, "<%s user=\"%s\" timestamp=\"%u:%u/%u/%u/%u\">\n", element, kUserName, hour, minute, day, month,
            year);
}

void WriteAssertionName(FILE* file, const _QORB_TEST_NUM_t& testNum)
{
    std::string_view fields[] = {TestNumField(testNum.major), TestNumField(testNum.minor),
                                 TestNumField(testNum.item), TestNumField(testNum.subitem)};
    fprintf(file, "%s%.*s.%.*s#%.*s.%.*s", LayerPrefix(testNum.layer), static_cast<int>(fields[0].size()),
            fields[0].data(), static_cast<int>(fields[1].size()), fields[1].data(), static_cast<int>(fields[2].size()),
            fields[2].data(), static_cast<int>(fields[3].size()), fields[3].data());
}

void WritePlatform(FILE* file)
{
    fputs("<Platform>\n", file);
    QORB_SYSTEM_INFO_t system{};
    PlatformGetSystemInfo(&system);
    QORB_MEMORY_STATUS_t memory{};
    PlatformGetMemoryStatus(&memory);
    fprintf(file, "<CPU id=\"1\" speed=\"%u\" Type=\"%s\" numCPUs=\"%u\">\n", kCpuSpeed,
            system.processorArchitecture == 0 ? "Ardel" : "Unknown", system.numberOfProcessors);
    fputs("</CPU>\n", file);
    fprintf(file, "<Memory pagesize=\"%u\" totalPhysRAM=\"%" PRIu64 "\" availPhysRAM=\"%" PRIu64 "\">\n",
            system.pageSize, memory.totalPhysical / kMiB, memory.availablePhysical / kMiB);
    fputs("</Memory>\n", file);
    fprintf(file, "<VirtualMemory Max=\"%" PRIu64 "\" Free=\"%" PRIu64 "\">\n", memory.totalVirtual / kMiB,
            memory.availableVirtual / kMiB);
    fputs("</VirtualMemory>\n", file);
    fputs("</Platform>\n", file);
}

/* The trace copy as "0x%08x\n" lines, one per 32-bit little-endian word,
 * formatted by hand into a large buffer: a copy of tens of MiB is written in
 * a fraction of a second. A last word that reaches past n (n not a multiple
 * of 4) holds the remaining bytes of the copy and zeros in place of the bytes
 * beyond: nothing outside the first n bytes is read. */
void WriteTraceWords(FILE* file, const uint8_t* bytes, uint32_t n)
{
    static const char digits[] = "0123456789abcdef";
    constexpr size_t kLine = 11;  /* "0x" + 8 digits + "\n" */
    constexpr size_t kChunk = 4096 * kLine;
    char buffer[kChunk];
    size_t used = 0;
    for (uint64_t offset = 0; offset < n; offset += 4) {
        uint32_t word = 0;
        for (uint32_t i = 0; i < 4 && offset + i < n; i++)
            word |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
        char* line = buffer + used;
        line[0] = '0';
        line[1] = 'x';
        for (int d = 0; d < 8; d++)
            line[2 + d] = digits[(word >> (28 - 4 * d)) & 0xF];
        line[10] = '\n';
        used += kLine;
        if (used == kChunk) {
            fwrite(buffer, 1, used, file);
            used = 0;
        }
    }
    if (used)
        fwrite(buffer, 1, used, file);
}

} // namespace

CXmlQORBLog::CXmlQORBLog(const char* name, _QORB_LOG_ACTION_t action)
{
    if (!name)
        return;
    m_fileName = strdup(name);
    if (!m_fileName)
        return;
    const char* mode = nullptr;
    switch (action) {
    case QORB_LOG_ACTION_CREATE:
    case QORB_LOG_ACTION_OVERWRITE:
        mode = "w";
        break;
    case QORB_LOG_ACTION_APPEND:
        mode = "a";
        break;
    default:
        return;  /* an unknown action opens nothing */
    }
    m_file = PlatformOpenFile(m_fileName, mode);
    if (!m_file)
        return;
    WriteUserAndTime(m_file, "QORBXMLLog");
    WritePlatform(m_file);
}

CXmlQORBLog::~CXmlQORBLog()
{
    if (m_file) {
        fputs("</QORBXMLLog>\n", m_file);
        fclose(m_file);
        m_file = nullptr;
    }
    free(m_fileName);
    m_fileName = nullptr;
}

_QORB_STATUS_t CXmlQORBLog::ReopenFile()
{
    if (!m_file)
        return QORB_LOG_NOT_OPEN;
    fclose(m_file);
    m_file = PlatformOpenFile(m_fileName, "a");
    return m_file ? QORB_SUCCESS : QORB_LOG_NOT_OPEN;
}

_QORB_STATUS_t CXmlQORBLog::WriteText(int32_t kind, const char* text)
{
    if (!text)
        return QORB_INVALID_PARAMETER;
    if (!m_file)
        return QORB_LOG_NOT_OPEN;
    const char* element = MessageElement(kind);
    fprintf(m_file, "<%s>\n", element);
    fputs(text, m_file);
    fprintf(m_file, "</%s>\n", element);
    fflush(m_file);
    return QORB_SUCCESS;
}

_QORB_STATUS_t CXmlQORBLog::StartTest(const char* name)
{
    _QORB_STATUS_t status = CQORBLog::StartTest(name);
    if (status != QORB_SUCCESS)
        return status;
    return WriteTestElement(nullptr, 0, nullptr);
}

_QORB_STATUS_t CXmlQORBLog::StopTest()
{
    /* Only the closing tag: the XML log keeps no finished records and never
     * writes counts. */
    if (!m_file)
        return QORB_LOG_NOT_OPEN;
    fputs("</QORBTest>\n", m_file);
    return QORB_SUCCESS;
}

_QORB_STATUS_t CXmlQORBLog::StartTestCase(const char* name)
{
    return CQORBLog::StartTestCase(name);
}

_QORB_STATUS_t CXmlQORBLog::StopTestCase()
{
    return QORB_SUCCESS;
}

_QORB_STATUS_t CXmlQORBLog::WriteTestElement(const _QORB_TEST_NUM_t* list, uint32_t count, void* dut)
{
    if (!m_file)
        return QORB_LOG_NOT_OPEN;
    WriteUserAndTime(m_file, "QORBTest");
    for (uint32_t i = 0; list && i < count; i++) {
        fputs("<Assertion name=\"", m_file);
        WriteAssertionName(m_file, list[i]);
        fputs("\">\n", m_file);
        fputs("</Assertion>\n", m_file);
    }
    if (dut) {
        const auto* device = static_cast<const QORB_DEVICE_t*>(dut);
        fprintf(m_file, "<DUT DeviceId=\"0X%x\" VendorId=\"0X%x\" Bus=\"%d\" Device=\"%d\" Function=\"%d\">\n",
                device->deviceId, device->vendorId, device->bus, device->device, device->function);
        fputs("</DUT>\n", m_file);
    }
    return QORB_SUCCESS;
}

_QORB_STATUS_t CXmlQORBLog::WriteAssertion(int32_t kind, const _QORB_TEST_NUM_t* testNum, const char* text)
{
    if (!testNum || !text)
        return QORB_INVALID_PARAMETER;
    if (!m_file)
        return QORB_LOG_NOT_OPEN;
    fputs("\n<ASSERTTAG assertion = \"", m_file);
    WriteAssertionName(m_file, *testNum);
    fprintf(m_file, "\" status = \"%s\">\n", AssertionStatus(kind));
    fputs(text, m_file);
    fputs("</ASSERTTAG>\n\n", m_file);
    return QORB_SUCCESS;
}

_QORB_STATUS_t CXmlQORBLog::WriteTraceBuffer(void* handle, uint32_t* numBytes)
{
    if (!m_file)
        return QORB_LOG_NOT_OPEN;
    uint32_t requested = numBytes ? *numBytes : 0;
    auto* device = static_cast<QORB_DEVICE_t*>(handle);
    if (!device || device->isZeb != 1)
        return QORB_INVALID_PARAMETER;

    /* A record without a copy has nothing to dump, whatever its length says. */
    uint32_t available = device->traceCopy ? device->traceCopyLength : 0;
    uint32_t n = requested;
    if (requested == 0) {
        n = available;
    } else if (requested > available) {
        n = available;
        *numBytes = available;
    }

    uint32_t actionCount = 0;
    if (QORB_ZEB_GetActionCount(device, &actionCount) != QORB_SUCCESS)
        actionCount = 0;  /* a failed query writes 0 */

    fputs("\n", m_file);
    fputs("<INFO> ", m_file);
    fprintf(m_file, "<ActionCount> %u\n", actionCount);
    fputs("</ActionCount>\n", m_file);
    fputs("</INFO>\n ", m_file);
    fputs("<INFO> ", m_file);
    fputs("<TBContents>\n", m_file);
    fprintf(m_file, "<NumBytes> %u </NumBytes> \n", n);
    fputs("<TBData>\n", m_file);
    WriteTraceWords(m_file, device->traceCopy, n);
    fputs("</TBData>\n", m_file);
    fputs("</TBContents>", m_file);
    fputs("</INFO>\n", m_file);
    return QORB_SUCCESS;
}
