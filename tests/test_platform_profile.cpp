/* The profile (INI) reader of the platform layer. */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "qorb_platform.h"
#include "qorb_test_support.h"

namespace {

class Profile : public ::testing::Test {
protected:
    std::string Get(const char* section, const char* key, const char* defaultValue = "dflt", uint32_t size = 64,
                    const char* file = "app.ini")
    {
        char out[512];
        memset(out, '#', sizeof out);
        uint32_t n = PlatformGetPrivateProfileString(section, key, defaultValue, out, size, file);
        EXPECT_EQ(n, strlen(out));
        return out;
    }
    void Write(const std::string& text) { qorbtest::WriteFile(scratch.File("app.ini"), text); }
    qorbtest::ScratchDir scratch;
};

TEST_F(Profile, LookupsAnswerTheValueOrTheDefault)
{
    const std::string dll = "[DLL]\nDLLName=drv.so\n[Empty]\n";
    const std::string cut = "[S]\nk=0123456789\n";
    const std::string blanks =
        "\xEF\xBB\xBF[S]\r\n  key one  =  two words  \r\nq=\"quoted value\"\nsq='x'\nodd=\"half\nempty=\n";
    /* The parser reads 199 characters of a line at a time: the rest of the
     * long comment must not become a line "k=...". */
    const std::string comments = "; comment\n# comment\n[S]\n;k=commented\n; " + std::string(197, 'x') +
                                 "k=tail of a long line\nk=real ; trailing note\nlong=" + std::string(150, 'v') + "\n";
    struct Row {
        const char* ini;  /* the file's text; nullptr: no file */
        const char* section;
        const char* key;
        const char* defaultValue;
        uint32_t size;
        std::string expected;
        const char* why;
    } rows[] = {
        {nullptr, "DLL", "DLLName", "dflt", 64, "dflt", "no file"},
        {dll.c_str(), "DLL", "DLLName", "dflt", 64, "drv.so", "found"},
        {dll.c_str(), "Other", "DLLName", "dflt", 64, "dflt", "no such section"},
        {dll.c_str(), "DLL", "Other", "dflt", 64, "dflt", "no such key"},
        {dll.c_str(), "Empty", "DLLName", "dflt", 64, "dflt", "empty section"},
        {dll.c_str(), "DLL", "Other", nullptr, 64, "", "a null default is the empty text"},
        {"[CfgSpaceInfo]\nCfgSpaceLength=100\n", "cfgspaceinfo", "CFGSPACELENGTH", "dflt", 64, "100", "any case"},
        {"[CfgSpaceInfo]\nCfgSpaceLength=100\n", "CFGSPACEINFO", "cfgSpaceLength", "dflt", 64, "100", "any case"},
        {"[A]\nk=first\nK=second\n[a]\nk=third\n", "a", "k", "dflt", 64, "first", "the first match wins"},
        {"k=before any section\n[A]\nx=1\n[B]\nk=in B\n", "A", "k", "dflt", 64, "dflt", "its own section only"},
        {"k=before any section\n[A]\nx=1\n[B]\nk=in B\n", "B", "k", "dflt", 64, "in B", "its own section"},
        {cut.c_str(), "S", "k", "dflt", 11, "0123456789", "fits"},
        {cut.c_str(), "S", "k", "dflt", 10, "012345678", "cut to size less one"},
        {cut.c_str(), "S", "k", "dflt", 1, "", "cut to nothing"},
        {cut.c_str(), "S", "missing", "default text", 5, "defa", "the default is cut too"},
        {blanks.c_str(), "S", "key one", "dflt", 64, "two words", "blanks around key and value"},
        {blanks.c_str(), "S", "q", "dflt", 64, "quoted value", "double quotes"},
        {blanks.c_str(), "S", "sq", "dflt", 64, "x", "single quotes"},
        {blanks.c_str(), "S", "odd", "dflt", 64, "\"half", "unmatched quotes stay"},
        {blanks.c_str(), "S", "empty", "dflt", 64, "", "an empty value is a value, not a missing key"},
        {"[DLL]\nOther=1\n    DLLName=drv.so\n", "DLL", "Other", "dflt", 64, "1", "before an indented key"},
        {"[DLL]\nOther=1\n    DLLName=drv.so\n", "DLL", "DLLName", "dflt", 64, "drv.so", "indented: a key"},
        {comments.c_str(), "S", "k", "dflt", 64, "real", "comments and a trailing note"},
        {comments.c_str(), "S", "long", "", 400, std::string(150, 'v'), "a long value"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        if (row.ini)
            Write(row.ini);
        else
            remove(scratch.File("app.ini").c_str());
        EXPECT_EQ(Get(row.section, row.key, row.defaultValue, row.size), row.expected) << row.section << "/" << row.key;
    }
}

TEST_F(Profile, BufferOfSizeZeroIsNotWritten)
{
    Write("[S]\nk=0123456789\n");
    char untouched[4] = "abc";
    EXPECT_EQ(PlatformGetPrivateProfileString("S", "k", "d", untouched, 0, "app.ini"), 0u);
    EXPECT_STREQ(untouched, "abc");
}

TEST_F(Profile, BackslashPathsReachTheFile)
{
    qorbtest::WriteFile(scratch.File("ini/app.ini"), "[DLL]\nDLLName=drv.so\n");
    std::string path = qorbtest::Backslashed(scratch.Path()) + "\\ini\\app.ini";
    EXPECT_EQ(Get("DLL", "DLLName", "dflt", 64, path.c_str()), "drv.so");
    EXPECT_EQ(Get("DLL", "DLLName", "dflt", 64, "ini\\app.ini"), "drv.so");
    EXPECT_EQ(Get("DLL", "DLLName", "dflt", 64, (scratch.Path() + "/ini//app.ini").c_str()), "drv.so");
}

TEST_F(Profile, FolderOrNullFileGivesTheDefault)
{
    qorbtest::WriteFile(scratch.File("dir.ini/x"), "");
    EXPECT_EQ(Get("S", "k", "dflt", 64, "dir.ini"), "dflt");
    char out[8];
    EXPECT_EQ(PlatformGetPrivateProfileString("S", "k", "d", out, sizeof out, nullptr), 1u);
    EXPECT_STREQ(out, "d");
}

} // namespace
