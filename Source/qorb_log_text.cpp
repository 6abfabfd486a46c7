/* The text file log and the console log.
 *
 * The text log appends lines to its file and flushes after every write, so
 * that whatever a test wrote is in the file even when the process is killed
 * right after. Its file is closed and reopened (in append mode) at the end
 * of every test. After a failed open or reopen the log has neither name nor
 * file, and every write reports QORB_LOG_NOT_OPEN.
 *
 * The console log writes each line, after an eight-character word for the
 * message kind, to standard error, and the same prefixed line to its own text
 * file when it has one. Lines go to the streams as they are: they are never
 * used as a format, so a percent sign in a message stays a percent sign.
 *
 * The console assertion line is composed in a 2048-byte buffer: a longer line
 * is cut to its first 2047 bytes. The text log's assertion line holds the
 * whole text, however long. */
#include <stdlib.h>
#include <string.h>

#include <new>
#include <string>

#include <qorb/qorb_log.h>

#include "qorb_log_fields.h"
#include "qorb_platform.h"

namespace {

/* "at+": text, appending, created when absent; earlier contents stay. Text
 * and binary streams are the same here. */
constexpr const char* kTextLogMode = "a+";

constexpr size_t kConsoleAssertionLine = 2048;

const char* ConsolePrefix(int32_t kind)
{
    switch (kind) {
    case QORB_LOG_FAIL:
        return "FAIL    ";
    case QORB_LOG_ABORT:
        return "ABORT   ";
    case QORB_LOG_WARNING:
        return "WARNING ";
    case QORB_LOG_INFO:
        return "INFO    ";
    case QORB_LOG_ERROR:
        return "ERROR   ";
    default:
        return "";  /* success and unknown kinds have no prefix */
    }
}

} // namespace

/* ------------------------------------------------------------- text log */

CRawTextQORBLog::CRawTextQORBLog(const char* name)
{
    if (!name)
        return;
    m_fileName = strdup(name);
    if (!m_fileName)
        return;
    m_file = PlatformOpenFile(m_fileName, kTextLogMode);
    if (!m_file) {
        free(m_fileName);
        m_fileName = nullptr;
    }
}

CRawTextQORBLog::~CRawTextQORBLog()
{
    if (m_file) {
        fclose(m_file);
        m_file = nullptr;
    }
    free(m_fileName);
    m_fileName = nullptr;
}

_QORB_STATUS_t CRawTextQORBLog::ReopenFile()
{
    if (!m_file)
        return QORB_LOG_NOT_OPEN;
    fclose(m_file);
    m_file = PlatformOpenFile(m_fileName, kTextLogMode);
    if (!m_file) {
        free(m_fileName);
        m_fileName = nullptr;
        return QORB_LOG_NOT_OPEN;
    }
    return QORB_SUCCESS;
}

_QORB_STATUS_t CRawTextQORBLog::WriteText(int32_t, const char* text)
{
    if (!text)
        return QORB_INVALID_PARAMETER;
    if (!m_file)
        return QORB_LOG_NOT_OPEN;
    size_t length = strlen(text);
    if (fwrite(text, 1, length, m_file) != length)
        return QORB_LOG_WRITE_ERROR;
    if (fflush(m_file) != 0)
        return QORB_LOG_WRITE_ERROR;
    return QORB_SUCCESS;
}

_QORB_STATUS_t CRawTextQORBLog::WriteAssertion(int32_t kind, const _QORB_TEST_NUM_t* testNum, const char* text)
{
    if (!testNum || !text)
        return QORB_INVALID_PARAMETER;
    /* The word is always "CFG ", whatever the record's layer. */
    try {
        std::string line = "CFG ";
        line += TestNumField(testNum->major);
        line += '.';
        line += TestNumField(testNum->minor);
        line += '.';
        line += TestNumField(testNum->item);
        line += " : ";
        line += TestNumField(testNum->subitem);
        line += " : ";
        line += text;
        WriteText(kind, line.c_str());
    } catch (const std::bad_alloc&) {
        return QORB_INSUFFICIENT_RESOURCES;
    }
    return QORB_SUCCESS;
}

/* ---------------------------------------------------------- console log */

CConsoleOutQORBLog::CConsoleOutQORBLog(const char* name) : CRawTextQORBLog(name), m_console(stderr) {}

CConsoleOutQORBLog::~CConsoleOutQORBLog()
{
    WriteSummary();
    m_console = nullptr;
}

_QORB_STATUS_t CConsoleOutQORBLog::ReopenFile()
{
    return QORB_SUCCESS;  /* the console log's file is never reopened */
}

_QORB_STATUS_t CConsoleOutQORBLog::WriteText(int32_t kind, const char* text)
{
    if (!text)
        return QORB_INVALID_PARAMETER;
    if (!m_console)
        return QORB_LOG_NOT_OPEN;
    try {
        std::string line = ConsolePrefix(kind);
        line += text;
        fwrite(line.data(), 1, line.size(), m_console);
        fflush(m_console);
        /* A console log without a file, or with a failing one, still succeeds. */
        CRawTextQORBLog::WriteText(kind, line.c_str());
    } catch (const std::bad_alloc&) {
        return QORB_INSUFFICIENT_RESOURCES;
    }
    return QORB_SUCCESS;
}

_QORB_STATUS_t CConsoleOutQORBLog::WriteAssertion(int32_t kind, const _QORB_TEST_NUM_t* testNum, const char* text)
{
    if (!testNum || !text)
        return QORB_INVALID_PARAMETER;
    /* The subitem and the layer are not part of the console line. */
    std::string_view major = TestNumField(testNum->major);
    std::string_view minor = TestNumField(testNum->minor);
    std::string_view item = TestNumField(testNum->item);
    char line[kConsoleAssertionLine];
    snprintf(line, sizeof line, "CFG %.*s.%.*s.%.*s : %s", static_cast<int>(major.size()), major.data(),
             static_cast<int>(minor.size()), minor.data(), static_cast<int>(item.size()), item.data(), text);
    WriteMessage(kind, line);
    return QORB_SUCCESS;
}
