/* Platform file: failures, their messages, limits of the record and files
 * read in several blocks. */
#include <gtest/gtest.h>

#include <string.h>

#include <regex>
#include <string>

#include "datfile_test_util.h"

namespace {

class DatErrors : public ::testing::Test, public qorbtest::DatFileTest {};

TEST_F(DatErrors, MissingFileNamesTheSourceAndTheFile)
{
    std::string path = dir.File("nowhere/platform.xml");
    dat.Parse(path);
    EXPECT_EQ(dat.status, QORB_NO_DAT_FILE);
    std::regex expected("\\*\\*\\*ERROR\\*\\*\\*\\. FILE\\[Source/qorb_parse_dat\\.cpp\\] LINE\\[[1-9][0-9]*\\] "
                        "cannot open file\\[" + path + "\\]\n");
    EXPECT_TRUE(std::regex_match(dat.stderrText, expected)) << dat.stderrText;
    /* The record already holds its defaults. */
    EXPECT_EQ(dat->dutCount, 0);
    EXPECT_EQ(dat->replayCount, 3);
    EXPECT_EQ(dat->pcieBaseAddress, 0xE0000000ull);
    EXPECT_EQ(dat->userName, nullptr);
    EXPECT_EQ(dat->testMode, 77u);
}

TEST_F(DatErrors, MalformedXmlReportsTheLineAndKeepsWhatCameBefore)
{
    ParseText("<p>\n"
              "<Test mode=\"AddIn\"/>\n"
              "<ReplayCount n=\"6\"/>\n"
              "<DUT bus=\"1\">\n"
              "</p>\n"
              "<ReplayCount n=\"7\"/>\n");
    EXPECT_EQ(dat.status, QORB_NO_DAT_FILE);
    EXPECT_EQ(dat.stderrText, "EXPAT XML PARSER . ERROR (desc(mismatched tag))  in dat file at line 5\n");
    EXPECT_EQ(dat->testMode, QORB_TEST_MODE_ADDIN);
    EXPECT_EQ(dat->replayCount, 6);
    EXPECT_EQ(dat->dutCount, 1);
}

TEST_F(DatErrors, EmptyFileAndTextAreNotDocuments)
{
    ParseText("");
    EXPECT_EQ(dat.status, QORB_NO_DAT_FILE);
    EXPECT_EQ(dat.stderrText, "EXPAT XML PARSER . ERROR (desc(no element found))  in dat file at line 1\n");

    ParseText("\n\nplatform\n");
    EXPECT_EQ(dat.status, QORB_NO_DAT_FILE);
    EXPECT_EQ(dat.stderrText, "EXPAT XML PARSER . ERROR (desc(syntax error))  in dat file at line 3\n");
}

/* A folder opens on Linux but yields no bytes: it is no document. */
TEST_F(DatErrors, FolderIsNoDocument)
{
    dat.Parse(dir.Path());
    EXPECT_EQ(dat.status, QORB_NO_DAT_FILE);
    EXPECT_NE(dat.stderrText.find("ERROR"), std::string::npos) << dat.stderrText;
    EXPECT_EQ(dat->dutCount, 0);
}

TEST_F(DatErrors, ErrorPastTheFirstBlockCountsLinesOfEveryBlock)
{
    std::string text = "<p>\n";
    for (int i = 0; i < 60; ++i)
        text += "  <ReplayCount n=\"" + std::to_string(i) + "\"/>\n"; /* lines 2 to 61 */
    text += "  <DUT bus=\"1\" bus=\"2\"/>\n";                          /* line 62 */
    text += "</p>\n";
    ASSERT_GT(text.size(), 1024u);
    ParseText(text);
    EXPECT_EQ(dat.status, QORB_NO_DAT_FILE);
    EXPECT_EQ(dat.stderrText, "EXPAT XML PARSER . ERROR (desc(duplicate attribute))  in dat file at line 62\n");
    EXPECT_EQ(dat->replayCount, 59);
    EXPECT_EQ(dat->dutCount, 0);
}

TEST_F(DatErrors, NullArgumentsAreRefused)
{
    qorbtest::CaptureFd err(2);
    EXPECT_EQ(parseDatFile(nullptr, dat.info.get()), QORB_NO_DAT_FILE);
    EXPECT_EQ(dat->replayCount, 3); /* defaults are set all the same */
    std::string path = dir.File("x.xml");
    EXPECT_EQ(parseDatFile(path.data(), nullptr), QORB_NO_DAT_FILE);
    std::string text = err.Text();
    EXPECT_NE(text.find("cannot open file[(null)]"), std::string::npos) << text;
    EXPECT_NE(text.find("no record to fill for file[" + path + "]"), std::string::npos) << text;
}

std::string DutElements(int count)
{
    std::string text = "<p>\n";
    for (int i = 0; i < count; ++i)
        text += "<DUT bus=\"" + std::to_string(i) + "\" vendorid=\"" + std::to_string(1000 + i) + "\"/>\n";
    return text + "<ReplayCount n=\"21\"/>\n</p>\n";
}

TEST_F(DatErrors, DutsBeyondTheTableAreDroppedAndCounted)
{
    ParseText(DutElements(100));
    ASSERT_EQ(dat.status, QORB_SUCCESS);
    EXPECT_EQ(dat->dutCount, 100);
    EXPECT_EQ(dat.stderrText, "");

    ParseText(DutElements(101));
    EXPECT_EQ(dat.status, QORB_SUCCESS); /* the first 100 are complete and usable */
    EXPECT_EQ(dat->dutCount, 100);
    for (int i = 0; i < QORB_MAX_DUTS; ++i) {
        EXPECT_EQ(dat->dutFindInfo[i].busNumber, i);
        EXPECT_EQ(dat->dutFindFlags[i], QORB_FIND_LOCATION | QORB_FIND_VENDOR_ID);
    }
    EXPECT_STREQ(dat->qorbIniFilePath, ""); /* the fields after the table are intact */
    EXPECT_EQ(dat->replayCount, 21);
    std::regex warning("\\*\\*\\*WARNING\\*\\*\\*\\. FILE\\[Source/qorb_parse_dat\\.cpp\\] LINE\\[[0-9]+\\] 1 DUT "
                       "element\\(s\\) beyond the first 100 dropped from file\\[.*dat\\.xml\\]\n");
    EXPECT_TRUE(std::regex_match(dat.stderrText, warning)) << dat.stderrText;

    ParseText(DutElements(350));
    EXPECT_EQ(dat->dutCount, 100);
    EXPECT_NE(dat.stderrText.find(" 250 DUT element(s) beyond the first 100 dropped"), std::string::npos)
        << dat.stderrText;
}

TEST_F(DatErrors, DroppedDutsAreReportedWhenTheFileFailsLater)
{
    ParseText(DutElements(102) + "<broken");
    EXPECT_EQ(dat.status, QORB_NO_DAT_FILE);
    EXPECT_EQ(dat->dutCount, 100);
    EXPECT_NE(dat.stderrText.find("EXPAT XML PARSER"), std::string::npos);
    EXPECT_NE(dat.stderrText.find(" 2 DUT element(s)"), std::string::npos) << dat.stderrText;
}

TEST_F(DatErrors, OverLongNamesAreCutTo999Characters)
{
    std::string longName;
    for (int i = 0; i < 1200; ++i)
        longName += (i % 10 == 9) ? '/' : static_cast<char>('a' + i % 9);
    std::string cut = qorbtest::Backslashed(longName.substr(0, 999));
    ParseText("<p><QORBINIFilePath v=\"" + longName + "\"/><QORBINIFileName v=\"" + longName +
              "\"/><User v=\"" + longName + "\"/><ReplayCount n=\"17\"/></p>");
    ASSERT_EQ(dat.status, QORB_SUCCESS);
    EXPECT_EQ(std::string(dat->qorbIniFilePath), cut);
    EXPECT_EQ(std::string(dat->qorbIniFileName), cut);
    EXPECT_EQ(std::string(dat->appIniFileName), cut); /* the copy is cut as well */
    EXPECT_EQ(dat->replayCount, 17);
    ASSERT_NE(dat->userName, nullptr);
    EXPECT_EQ(std::string(dat->userName), longName); /* the user name has no fixed room */

    ParseText("<p><AppINIFileName v=\"" + longName + "\"/></p>");
    EXPECT_EQ(std::string(dat->appIniFileName), cut);
    EXPECT_STREQ(dat->qorbIniFileName, "");
}

/* A value whose text straddles a 512-byte block boundary is read whole,
 * wherever the boundary falls in it. */
TEST_F(DatErrors, ValuesSpanningBlockBoundariesAreReadWhole)
{
    for (size_t pad = 470; pad <= 530; ++pad) {
        std::string text = "<p><!--" + std::string(pad, 'x') + "-->" +
                           "<ReplayCount n=\"123456789\"/><User n=\"" + std::string(600, 'u') +
                           "\"/><DUT vendorid=\"BEEF\"/></p>\n";
        ParseText(text);
        ASSERT_EQ(dat.status, QORB_SUCCESS) << pad << dat.stderrText;
        EXPECT_EQ(dat->replayCount, 123456789) << pad;
        ASSERT_NE(dat->userName, nullptr);
        EXPECT_EQ(strlen(dat->userName), 600u) << pad;
        EXPECT_EQ(dat->dutFindInfo[0].vendorId, 0xBEEF) << pad;
    }
}

/* Files of a whole number of blocks end with an empty last block. */
TEST_F(DatErrors, FilesOfExactBlockMultiplesParse)
{
    for (size_t size : {511u, 512u, 513u, 1023u, 1024u, 1025u, 1536u}) {
        std::string head = "<p><ReplayCount n=\"4\"/><PCIEBaseAddress a=\"C0000000\"/></p>";
        std::string text = head + std::string(size - head.size(), '\n');
        ASSERT_EQ(text.size(), size);
        ParseText(text);
        EXPECT_EQ(dat.status, QORB_SUCCESS) << size << dat.stderrText;
        EXPECT_EQ(dat->replayCount, 4) << size;
        EXPECT_EQ(dat->pcieBaseAddress, 0xC0000000ull) << size;
    }
}

TEST_F(DatErrors, BackslashPathsReachTheFile)
{
    qorbtest::WriteFile(dir.File("sub/p.xml"), "<p><ReplayCount n=\"31\"/></p>");
    dat.Parse(qorbtest::Backslashed(dir.Path()) + "\\sub\\p.xml");
    EXPECT_EQ(dat.status, QORB_SUCCESS) << dat.stderrText;
    EXPECT_EQ(dat->replayCount, 31);
}

} // namespace
