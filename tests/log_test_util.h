/* Small helpers for the logging tests: assertion records and a log handle
 * that is closed at the end of the scope. */
#ifndef LOG_TEST_UTIL_H
#define LOG_TEST_UTIL_H

#include <string.h>

#include <string>

#include <qorb/qorb.h>

namespace qorbtest {

inline _QORB_TEST_NUM_t TestNum(uint32_t layer, const char* major, const char* minor, const char* item,
                                const char* subitem)
{
    _QORB_TEST_NUM_t t;
    memset(&t, 0, sizeof t);
    t.layer = static_cast<_QORB_LAYER_t>(layer);
    strncpy(t.major, major, sizeof t.major - 1);
    strncpy(t.minor, minor, sizeof t.minor - 1);
    strncpy(t.item, item, sizeof t.item - 1);
    strncpy(t.subitem, subitem, sizeof t.subitem - 1);
    return t;
}

/* A log made by CreateLog and closed by CloseLog when the scope ends (or
 * earlier with Close()). */
class ScopedLog {
public:
    ScopedLog(_QORB_LOG_TYPE_t type, const std::string& name, _QORB_LOG_ACTION_t action = QORB_LOG_ACTION_CREATE)
    {
        m_status = CreateLog(nullptr, &m_log, type, name.empty() ? nullptr : name.c_str(), action);
    }
    ~ScopedLog() { Close(); }
    void Close()
    {
        CloseLog(m_log);
        m_log = nullptr;
    }
    void* Handle() const { return m_log; }
    CQORBLog* Object() const { return static_cast<CQORBLog*>(m_log); }
    _QORB_STATUS_t Status() const { return m_status; }
    ScopedLog(const ScopedLog&) = delete;
    ScopedLog& operator=(const ScopedLog&) = delete;

private:
    void* m_log = nullptr;
    _QORB_STATUS_t m_status = QORB_STATUS_FAILED;
};

} // namespace qorbtest

#endif
