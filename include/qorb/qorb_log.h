/* Log objects behind the logging API. CreateLog() hands out a pointer to one
 * of the concrete classes as the log handle; CloseLog() destroys it. */
#ifndef QORB_LOG_H
#define QORB_LOG_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include <qorb/qorb_export.h>
#include <qorb/qorb_status.h>
#include <qorb/qorb_types.h>

/* The counters of one test. */
class QORB_API CTestRecord {
public:
    std::string name;
    int32_t aborts = 0;
    int32_t fails = 0;
    int32_t warnings = 0;
    int32_t informational = 0;

    void Reset();
};

/* What every log kind shares: test state, counters, and the operations that
 * write through WriteText(). */
class QORB_API CQORBLog {
public:
    CQORBLog();
    virtual ~CQORBLog();                                                   /* slot 0 */
    virtual _QORB_STATUS_t ReopenFile() = 0;                               /* slot 1 */
    virtual _QORB_STATUS_t StartTest(const char* name);                    /* slot 2 */
    virtual _QORB_STATUS_t StopTest();                                     /* slot 3 */
    virtual _QORB_STATUS_t StartTestCase(const char* name);                /* slot 4 */
    virtual _QORB_STATUS_t StopTestCase();                                 /* slot 5 */
    virtual _QORB_STATUS_t WriteAssertion(int32_t kind, const _QORB_TEST_NUM_t* testNum,
                                          const char* text) = 0;           /* slot 6 */
    virtual _QORB_STATUS_t WriteText(int32_t kind, const char* text) = 0;  /* slot 7 */

    _QORB_STATUS_t WriteMessage(int32_t kind, const char* text);
    _QORB_STATUS_t WriteSummary();
    _QORB_STATUS_t EnableLog();
    _QORB_STATUS_t DisableLog();

    /* Read-only views for applications and tests. */
    const std::vector<CTestRecord>& FinishedTests() const { return m_finishedTests; }
    const CTestRecord& CurrentTest() const { return m_currentTest; }
    const std::string& CurrentTestName() const { return m_currentTestName; }
    uint32_t TestsStarted() const { return m_testsStarted; }
    int TestInProgress() const { return m_testInProgress; }
    int Enabled() const { return m_enabled; }

    CQORBLog(const CQORBLog&) = delete;
    CQORBLog& operator=(const CQORBLog&) = delete;

protected:
    std::vector<CTestRecord> m_finishedTests;
    std::string m_currentTestName;
    CTestRecord m_currentTest;
    uint32_t m_testsStarted = 0;
    int m_testInProgress = 0;
    int m_enabled = 1;
};

/* Appends plain lines to a text file. */
class QORB_API CRawTextQORBLog : public CQORBLog {
public:
    explicit CRawTextQORBLog(const char* name);
    ~CRawTextQORBLog() override;
    _QORB_STATUS_t ReopenFile() override;
    _QORB_STATUS_t WriteAssertion(int32_t kind, const _QORB_TEST_NUM_t* testNum, const char* text) override;
    _QORB_STATUS_t WriteText(int32_t kind, const char* text) override;

protected:
    char* m_fileName = nullptr;
    FILE* m_file = nullptr;
};

/* Writes every line with a kind prefix to standard error, and to its text
 * file when it has one; writes a summary when destroyed. */
class QORB_API CConsoleOutQORBLog : public CRawTextQORBLog {
public:
    explicit CConsoleOutQORBLog(const char* name);
    ~CConsoleOutQORBLog() override;
    _QORB_STATUS_t ReopenFile() override;
    _QORB_STATUS_t WriteAssertion(int32_t kind, const _QORB_TEST_NUM_t* testNum, const char* text) override;
    _QORB_STATUS_t WriteText(int32_t kind, const char* text) override;

protected:
    FILE* m_console = nullptr;
};

/* Writes an XML-like document: platform block, test elements, messages,
 * assertions and trace buffer dumps. */
class QORB_API CXmlQORBLog : public CQORBLog {
public:
    CXmlQORBLog(const char* name, _QORB_LOG_ACTION_t action);
    ~CXmlQORBLog() override;
    _QORB_STATUS_t ReopenFile() override;
    _QORB_STATUS_t StartTest(const char* name) override;
    _QORB_STATUS_t StopTest() override;
    _QORB_STATUS_t StartTestCase(const char* name) override;
    _QORB_STATUS_t StopTestCase() override;
    _QORB_STATUS_t WriteAssertion(int32_t kind, const _QORB_TEST_NUM_t* testNum, const char* text) override;
    _QORB_STATUS_t WriteText(int32_t kind, const char* text) override;

    _QORB_STATUS_t WriteTestElement(const _QORB_TEST_NUM_t* list, uint32_t count, void* dut);
    /* One "0x%08x" line per 32-bit little-endian word of the card's trace
     * copy; when the byte count is not a multiple of 4 the last word holds the
     * remaining bytes and zeros beyond them (nothing outside the copy is read). */
    _QORB_STATUS_t WriteTraceBuffer(void* device, uint32_t* numBytes);

protected:
    FILE* m_file = nullptr;
    char* m_fileName = nullptr;
};

#endif
