/* The log object model shared by every log kind: test state, the per-test
 * counters, the start and stop lines, free-form messages and the summary.
 *
 * Everything the base writes goes through the derived class's WriteText();
 * the results of WriteText() and ReopenFile() are dropped here, so a log
 * whose file did not open still accepts these calls and reports success.
 *
 * No operation lets an exception out: a line that cannot be composed for
 * lack of memory is reported as QORB_INSUFFICIENT_RESOURCES. A text pointer
 * that is null is refused with QORB_INVALID_PARAMETER and changes nothing. */
#include <stdio.h>

#include <new>
#include <string>

#include <qorb/qorb_log.h>

void CTestRecord::Reset()
{
    name.clear();
    aborts = 0;
    fails = 0;
    warnings = 0;
    informational = 0;
}

CQORBLog::CQORBLog() = default;

CQORBLog::~CQORBLog() = default;

_QORB_STATUS_t CQORBLog::StartTest(const char* name)
{
    if (!name)
        return QORB_INVALID_PARAMETER;
    try {
        std::string line = "Now Starting Test:";
        line += name;
        line += '\n';
        m_currentTestName = name;
        WriteText(QORB_LOG_INFO, line.c_str());
        /* The counts are kept: a second StartTest without StopTest adds the
         * second test's messages to the first one's. */
        m_currentTest.name = name;
    } catch (const std::bad_alloc&) {
        return QORB_INSUFFICIENT_RESOURCES;
    }
    m_testsStarted++;
    m_testInProgress = 1;
    return QORB_SUCCESS;
}

_QORB_STATUS_t CQORBLog::StopTest()
{
    try {
        char counts[128];
        snprintf(counts, sizeof counts, ":\n     Number of: Fails (%d); Aborts (%d); Warnings (%d)",
                 static_cast<int>(m_currentTest.fails), static_cast<int>(m_currentTest.aborts),
                 static_cast<int>(m_currentTest.warnings));
        std::string line = "Stopping Test [ ";
        line += m_currentTestName;
        line += counts;
        line += " ]\n\n";
        WriteText(QORB_LOG_INFO, line.c_str());
        /* Also without a test in progress: the record then holds whatever the
         * current record holds. */
        m_finishedTests.push_back(m_currentTest);
    } catch (const std::bad_alloc&) {
        return QORB_INSUFFICIENT_RESOURCES;
    }
    m_currentTest.Reset();
    m_testInProgress = 0;
    ReopenFile();
    return QORB_SUCCESS;
}

_QORB_STATUS_t CQORBLog::StartTestCase(const char*)
{
    return QORB_SUCCESS;
}

_QORB_STATUS_t CQORBLog::StopTestCase()
{
    return QORB_SUCCESS;
}

_QORB_STATUS_t CQORBLog::WriteMessage(int32_t kind, const char* text)
{
    if (!text)
        return QORB_INVALID_PARAMETER;
    if (!m_enabled)
        return QORB_SUCCESS;
    if (m_testInProgress) {
        switch (kind) {
        case QORB_LOG_FAIL:
            m_currentTest.fails++;
            break;
        case QORB_LOG_ABORT:
            m_currentTest.aborts++;
            break;
        case QORB_LOG_WARNING:
            m_currentTest.warnings++;
            break;
        case QORB_LOG_INFO:
            m_currentTest.informational++;
            break;
        default:
            break;  /* success, error and unknown kinds are never counted */
        }
    }
    WriteText(kind, text);
    return QORB_SUCCESS;
}

_QORB_STATUS_t CQORBLog::WriteSummary()
{
    /* Only finished tests take part; a test still in progress does not. */
    size_t n = m_finishedTests.size();
    if (m_testsStarted < n)
        n = m_testsStarted;
    uint32_t fails = 0, aborts = 0, warnings = 0;  /* unsigned: wraps instead of overflowing */
    for (size_t i = 0; i < n; i++) {
        fails += static_cast<uint32_t>(m_finishedTests[i].fails);
        aborts += static_cast<uint32_t>(m_finishedTests[i].aborts);
        warnings += static_cast<uint32_t>(m_finishedTests[i].warnings);
    }
    char line[160];
    snprintf(line, sizeof line, "Summary Log Counts [ Fails (%d); Aborts (%d); Warnings (%d) ]\n",
             static_cast<int>(fails), static_cast<int>(aborts), static_cast<int>(warnings));
    WriteText(QORB_LOG_INFO, line);
    return QORB_SUCCESS;
}

_QORB_STATUS_t CQORBLog::EnableLog()
{
    m_enabled = 1;
    return QORB_SUCCESS;
}

_QORB_STATUS_t CQORBLog::DisableLog()
{
    m_enabled = 0;
    return QORB_SUCCESS;
}
