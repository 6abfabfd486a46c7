/* Writing a platform file into a scratch folder and parsing it. */
#ifndef DATFILE_TEST_UTIL_H
#define DATFILE_TEST_UTIL_H

#include <string.h>

#include <memory>
#include <string>

#include "qorb_test_support.h"

namespace qorbtest {

/* A parsed record that releases its user name. The record starts filled
 * with 0xA5 and testMode 77, so defaults that were not set show up. */
struct ParsedDat {
    _QORB_STATUS_t status = QORB_STATUS_FAILED;
    std::unique_ptr<_QORB_DAT_INFO_t> info{new _QORB_DAT_INFO_t};
    std::string stderrText;

    ParsedDat()
    {
        memset(info.get(), 0xA5, sizeof *info);
        info->userName = nullptr;
        info->testMode = 77;
    }
    ~ParsedDat() { QORB_FreeDatInfo(info.get()); }
    ParsedDat(const ParsedDat&) = delete;
    ParsedDat& operator=(const ParsedDat&) = delete;
    _QORB_DAT_INFO_t* operator->() const { return info.get(); }

    /* Releases what an earlier parse left, as a caller reusing a record must. */
    void Parse(const std::string& path)
    {
        QORB_FreeDatInfo(info.get());
        CaptureFd err(2);
        status = parseDatFile(const_cast<char*>(path.c_str()), info.get());
        stderrText = err.Text();
    }
};

/* Writes text as dat.xml in a scratch folder and parses it. */
class DatFileTest {
public:
    ScratchDir dir;
    ParsedDat dat;
    void ParseText(const std::string& text)
    {
        WriteFile(dir.File("dat.xml"), text);
        dat.Parse(dir.File("dat.xml"));
    }
};

} // namespace qorbtest

#endif
