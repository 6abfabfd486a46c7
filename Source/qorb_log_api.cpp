/* The logging API: thin entry points over the log objects.
 *
 * A log handle is the CQORBLog pointer CreateLog hands out; the library keeps
 * no list of logs and ties none to an instance. Every function but CreateLog
 * and CloseLog refuses a null log handle with QORB_INVALID_PARAMETER, and a
 * required text or record pointer that is null likewise, writing nothing.
 * The long forms of StartTest and StartTestCase do not use the test name, so
 * they accept a null one; their list may be null when its count is 0.
 *
 * WriteToLog formats into a 2048-byte buffer, terminating NUL included. A
 * formatted text that does not fit is cut: its first 2047 bytes are written,
 * the rest is dropped, and nothing is ever written past the buffer. A format
 * that cannot be applied at all (an encoding error) writes nothing and gives
 * QORB_INVALID_PARAMETER. */
#include <stdarg.h>
#include <stdio.h>

#include <new>

#include <qorb/qorb.h>

#include "qorb_registry.h"

namespace {

constexpr size_t kMessageBuffer = 2048;

CQORBLog* AsLog(void* log)
{
    return static_cast<CQORBLog*>(log);
}

/* The XML log behind a handle, or null when the handle is null or the log
 * is of another kind. */
CXmlQORBLog* AsXmlLog(void* log)
{
    return log ? dynamic_cast<CXmlQORBLog*>(AsLog(log)) : nullptr;
}

CQORBLog* MakeLog(_QORB_LOG_TYPE_t type, const char* name, _QORB_LOG_ACTION_t action)
{
    switch (type) {
    case QORB_LOG_TYPE_XML:
        return new CXmlQORBLog(name, action);
    case QORB_LOG_TYPE_RAW_TEXT:
        return new CRawTextQORBLog(name);
    case QORB_LOG_TYPE_CONSOLE:
        return new CConsoleOutQORBLog(name);
    default:
        return nullptr;
    }
}

} // namespace

QORB_API _QORB_STATUS_t CreateLog(void*, void** log, _QORB_LOG_TYPE_t type, const char* name,
                                  _QORB_LOG_ACTION_t action)
{
    if (!log)
        return QORB_INVALID_PARAMETER;
    if (type != QORB_LOG_TYPE_XML && type != QORB_LOG_TYPE_RAW_TEXT && type != QORB_LOG_TYPE_CONSOLE)
        return QORB_INVALID_PARAMETER;
    try {
        *log = MakeLog(type, name, action);
    } catch (const std::bad_alloc&) {
        *log = nullptr;
        return QORB_INSUFFICIENT_RESOURCES;
    }
    if (!RegisterRecord(QorbRecordKind::kLog, *log)) {
        delete AsLog(*log);
        *log = nullptr;
        return QORB_INSUFFICIENT_RESOURCES;
    }
    return QORB_SUCCESS;
}

/* A handle that is not a live log (closed already, or never made by
 * CreateLog) is ignored. */
QORB_API _QORB_STATUS_t CloseLog(void* log)
{
    if (UnregisterRecord(QorbRecordKind::kLog, log))
        delete AsLog(log);
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t StartTest(void* log, const char* name)
{
    if (!log || !name)
        return QORB_INVALID_PARAMETER;
    return AsLog(log)->StartTest(name);
}

QORB_API _QORB_STATUS_t StartTest(void* log, const char*, _QORB_TEST_NUM_t* list, uint32_t count, void* dut)
{
    CXmlQORBLog* xml = AsXmlLog(log);
    if (!xml || (!list && count != 0))
        return QORB_INVALID_PARAMETER;
    /* Only the test element: the test state and counters stay as they were. */
    return xml->WriteTestElement(list, count, dut);
}

QORB_API _QORB_STATUS_t StopTest(void* log)
{
    if (!log)
        return QORB_INVALID_PARAMETER;
    return AsLog(log)->StopTest();
}

QORB_API _QORB_STATUS_t StartTestCase(void* log, const char* name)
{
    if (!log || !name)
        return QORB_INVALID_PARAMETER;
    return AsLog(log)->StartTestCase(name);
}

QORB_API _QORB_STATUS_t StartTestCase(void* log, const char*, _QORB_TEST_NUM_t* list, uint32_t count)
{
    if (!AsXmlLog(log) || (!list && count != 0))
        return QORB_INVALID_PARAMETER;
    return QORB_SUCCESS;  /* test cases are recorded nowhere */
}

QORB_API _QORB_STATUS_t StopTestCase(void* log)
{
    if (!log)
        return QORB_INVALID_PARAMETER;
    return AsLog(log)->StopTestCase();
}

QORB_API _QORB_STATUS_t WriteToLog(void* log, int32_t kind, const char* format, ...)
{
    if (!log || !format)
        return QORB_INVALID_PARAMETER;
    char text[kMessageBuffer];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0)
        return QORB_INVALID_PARAMETER;
    /* A text longer than the buffer has been cut to its first 2047 bytes. */
    AsLog(log)->WriteMessage(kind, text);
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t EnableLogging(void* log)
{
    if (!log)
        return QORB_INVALID_PARAMETER;
    return AsLog(log)->EnableLog();
}

QORB_API _QORB_STATUS_t DisableLogging(void* log)
{
    if (!log)
        return QORB_INVALID_PARAMETER;
    return AsLog(log)->DisableLog();
}

QORB_API _QORB_STATUS_t LogAssert(void* log, int32_t kind, _QORB_TEST_NUM_t* testNum, const char* text)
{
    if (!log || !testNum || !text)
        return QORB_INVALID_PARAMETER;
    return AsLog(log)->WriteAssertion(kind, testNum, text);
}

QORB_API _QORB_STATUS_t LogTBContents(void* log, void* device, uint32_t* numBytes)
{
    CXmlQORBLog* xml = AsXmlLog(log);
    if (!xml || !device)
        return QORB_INVALID_PARAMETER;
    return xml->WriteTraceBuffer(device, numBytes);
}
