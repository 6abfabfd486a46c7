/* The profile (INI) reader of the platform layer. */
#include <gtest/gtest.h>

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

TEST_F(Profile, DefaultForMissingFileSectionOrKey)
{
    EXPECT_EQ(Get("DLL", "DLLName"), "dflt");
    Write("[DLL]\nDLLName=drv.so\n[Empty]\n");
    EXPECT_EQ(Get("DLL", "DLLName"), "drv.so");
    EXPECT_EQ(Get("Other", "DLLName"), "dflt");
    EXPECT_EQ(Get("DLL", "Other"), "dflt");
    EXPECT_EQ(Get("Empty", "DLLName"), "dflt");
    EXPECT_EQ(Get("DLL", "Other", nullptr), "") << "a null default is the empty text";
}

TEST_F(Profile, SectionAndKeyWithoutRegardToCase)
{
    Write("[CfgSpaceInfo]\nCfgSpaceLength=100\n");
    EXPECT_EQ(Get("cfgspaceinfo", "CFGSPACELENGTH"), "100");
    EXPECT_EQ(Get("CFGSPACEINFO", "cfgSpaceLength"), "100");
}

TEST_F(Profile, FirstMatchWins)
{
    Write("[A]\nk=first\nK=second\n[a]\nk=third\n");
    EXPECT_EQ(Get("a", "k"), "first");
}

TEST_F(Profile, KeyIsLookedUpInItsOwnSectionOnly)
{
    Write("k=before any section\n[A]\nx=1\n[B]\nk=in B\n");
    EXPECT_EQ(Get("A", "k"), "dflt");
    EXPECT_EQ(Get("B", "k"), "in B");
}

TEST_F(Profile, ValuesAreCutToSizeLessOne)
{
    Write("[S]\nk=0123456789\n");
    EXPECT_EQ(Get("S", "k", "dflt", 11), "0123456789");
    EXPECT_EQ(Get("S", "k", "dflt", 10), "012345678");
    EXPECT_EQ(Get("S", "k", "dflt", 1), "");
    EXPECT_EQ(Get("S", "missing", "default text", 5), "defa") << "the default is cut too";
    char untouched[4] = "abc";
    EXPECT_EQ(PlatformGetPrivateProfileString("S", "k", "d", untouched, 0, "app.ini"), 0u);
    EXPECT_STREQ(untouched, "abc") << "a buffer of size 0 is not written";
}

TEST_F(Profile, BlanksQuotesAndLineEnds)
{
    Write("\xEF\xBB\xBF[S]\r\n  key one  =  two words  \r\nq=\"quoted value\"\nsq='x'\nodd=\"half\nempty=\n");
    EXPECT_EQ(Get("S", "key one"), "two words");
    EXPECT_EQ(Get("S", "q"), "quoted value");
    EXPECT_EQ(Get("S", "sq"), "x");
    EXPECT_EQ(Get("S", "odd"), "\"half") << "unmatched quotes stay";
    EXPECT_EQ(Get("S", "empty"), "") << "an empty value is a value, not a missing key";
}

TEST_F(Profile, IndentedKeyIsAKeyNotAContinuation)
{
    Write("[DLL]\nOther=1\n    DLLName=drv.so\n");
    EXPECT_EQ(Get("DLL", "Other"), "1");
    EXPECT_EQ(Get("DLL", "DLLName"), "drv.so");
}

TEST_F(Profile, CommentsAndOverlongLines)
{
    /* The parser reads 199 characters of a line at a time: the rest of
     * this comment must not become a line "k=...". */
    Write("; comment\n# comment\n[S]\n;k=commented\n; " + std::string(197, 'x') +
          "k=tail of a long line\nk=real ; trailing note\nlong=" + std::string(150, 'v') + "\n");
    EXPECT_EQ(Get("S", "k"), "real");
    EXPECT_EQ(Get("S", "long", "", 400), std::string(150, 'v'));
}

TEST_F(Profile, BackslashPathsReachTheFile)
{
    qorbtest::WriteFile(scratch.File("ini/app.ini"), "[DLL]\nDLLName=drv.so\n");
    std::string path = scratch.Path() + "\\ini\\app.ini";
    for (char& c : path)
        if (c == '/')
            c = '\\';
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
