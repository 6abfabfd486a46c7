/* OpenQORB's INI lookup: where the INI file and the driver are taken from,
 * the DLL name buffer, the messages, and the path buffers' bounds. */
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include <qorb/qorb.h>

#include "instance_fixture.h"

using qorbtest::Backslashed;
using qorbtest::OpenResult;
using qorbtest::TestDriver;
using qorbtest::UntouchedHandle;

namespace {

namespace fs = std::filesystem;

class IniOpen : public qorbtest::InstanceTest {
protected:
    /* A copy of a test driver in the current directory, under name. */
    TestDriver& DriverInCwd(const std::string& name, const std::string& built = "tdrv_full")
    {
        fs::copy_file(TestDriver::BuiltPath(built), scratch.File(name));
        m_local = std::make_unique<TestDriver>(scratch.File(name));
        return *m_local;
    }
    void WriteAppIni(const std::string& text) { qorbtest::WriteFile(scratch.File("ini/VERDAapp.ini"), text); }
    std::string DefaultIniMessage() const
    {
        return "file with name[" + Backslashed(scratch.Path()) + "\\ini\\\\VERDAapp.ini] cannot be opened\n";
    }

    std::unique_ptr<TestDriver> m_local;
};

TEST_F(IniOpen, DefaultIniInTheIniFolderAndDriverFromTheCurrentDirectory)
{
    TestDriver& local = DriverInCwd("drv.so");
    /* A driver of the same name beside the INI file is not the one loaded. */
    fs::create_directory(scratch.File("ini"));
    fs::copy_file(TestDriver::BuiltPath("tdrv_nocard"), scratch.File("ini/drv.so"));
    WriteAppIni("[DLL]\nDLLName=drv.so\n");
    qorbtest::WriteFile(scratch.File("PCIECfgInfo.ini"), "[CfgSpaceInfo]\nCfgSpaceLength=4096\n");
    OpenResult r = Open(nullptr, nullptr);
    ASSERT_EQ(r.status, QORB_SUCCESS) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(local.Calls(), "GZVOQM");
    EXPECT_NE(handle, UntouchedHandle());
}

TEST_F(IniOpen, DriverNamedOnlyBesideTheIniFileIsNotFound)
{
    fs::create_directory(scratch.File("ini"));
    fs::copy_file(TestDriver::BuiltPath("tdrv_full"), scratch.File("ini/drv.so"));
    WriteAppIni("[DLL]\nDLLName=drv.so\n");
    ExpectRefused(Open(nullptr, nullptr), QORB_STATUS_FAILED, "", "Failed to open DLL file " + scratch.Path() + "\\drv.so. Exiting.\n");
}

TEST_F(IniOpen, MissingIniFile)
{
    ExpectRefused(Open(nullptr, nullptr), QORB_STATUS_FAILED, DefaultIniMessage(), "Failed to find DLL file . Exiting.\n");
}

TEST_F(IniOpen, MissingKeyOrSection)
{
    for (const char* text : {"[DLL]\nOther=drv.so\n", "[Driver]\nDLLName=drv.so\n", "DLLName=drv.so\n", ""}) {
        SCOPED_TRACE(text);
        WriteAppIni(text);
        ExpectRefused(Open(nullptr, nullptr), QORB_STATUS_FAILED, "", "Failed to find DLL file . Exiting.\n");
    }
}

TEST_F(IniOpen, LiteralDllNotFoundFailsLikeAMissingKey)
{
    DriverInCwd("Dll not found");
    WriteAppIni("[DLL]\nDLLName=Dll not found\n");
    ExpectRefused(Open(nullptr, nullptr), QORB_STATUS_FAILED, "", "Failed to find DLL file . Exiting.\n");
    EXPECT_EQ(m_local->Calls(), "");
}

TEST_F(IniOpen, SectionAndKeyWithoutRegardToCase)
{
    TestDriver& local = DriverInCwd("Drv.so");
    WriteAppIni("; the test driver\n[dll]\n  dllname = \"Drv.so\"\n");
    OpenResult r = Open(nullptr, nullptr);
    ASSERT_EQ(r.status, QORB_SUCCESS) << r.out << r.err;
    EXPECT_EQ(local.Calls(), "GZVOQM");
}

TEST_F(IniOpen, DllNameIsCutTo31Characters)
{
    const std::string name31 = "abcdefghijklmnopqrstuvwxyz01234";
    ASSERT_EQ(name31.size(), 31u);
    TestDriver& local = DriverInCwd(name31);
    WriteAppIni("[DLL]\nDLLName=" + name31 + "56789.so\n");
    OpenResult r = Open(nullptr, nullptr);
    ASSERT_EQ(r.status, QORB_SUCCESS) << r.out << r.err;
    EXPECT_EQ(local.Calls(), "GZVOQM");
}

TEST_F(IniOpen, EmptyDllNameNamesTheCurrentDirectory)
{
    WriteAppIni("[DLL]\nDLLName=\n");
    ExpectRefused(Open(nullptr, nullptr), QORB_STATUS_FAILED, "",
                  "Failed to open DLL file " + scratch.Path() + "\\. Exiting.\n");
}

TEST_F(IniOpen, IniDirectoryAndFileArguments)
{
    TestDriver& local = DriverInCwd("other.so", "tdrv_nocard");
    qorbtest::WriteFile(scratch.File("conf/app.ini"), "[DLL]\nDLLName=other.so\n");
    OpenResult r = Open(scratch.File("conf").c_str(), "app.ini");
    ASSERT_EQ(r.status, QORB_SUCCESS) << r.out << r.err;
    EXPECT_EQ(local.Calls(), "GOQM");
    EXPECT_EQ(CloseHandle(), QORB_SUCCESS);

    /* A relative folder is taken from the current directory, one ending in a
     * backslash gets no second one, and the INI file name alone defaults the
     * folder to ini/. */
    r = Open("conf\\", "app.ini");
    ASSERT_EQ(r.status, QORB_SUCCESS) << r.out << r.err;
    CloseHandle();
    qorbtest::WriteFile(scratch.File("ini/app2.ini"), "[DLL]\nDLLName=other.so\n");
    r = Open(nullptr, "app2.ini");
    ASSERT_EQ(r.status, QORB_SUCCESS) << r.out << r.err;
    EXPECT_EQ(local.Calls(), "GOQMCGOQMCGOQM");
}

TEST_F(IniOpen, MissingIniFileNamedByTheArgumentsIsNamedWithBackslashes)
{
    OpenResult r = Open(scratch.File("conf").c_str(), "sub/app.ini");
    EXPECT_EQ(r.status, QORB_STATUS_FAILED);
    EXPECT_EQ(r.out, "file with name[" + Backslashed(scratch.File("conf")) + "\\sub\\app.ini] cannot be opened\n");
    EXPECT_EQ(r.err, "Failed to find DLL file . Exiting.\n");

    r = Open("conf\\", "app.ini");
    EXPECT_EQ(r.out, "file with name[conf\\app.ini] cannot be opened\n");
}

/* The path buffers hold 254 characters and a terminator. */
class PathBounds : public qorbtest::InstanceTest {
protected:
    /* A folder under the scratch folder whose path has exactly length
     * characters, made of nested components. */
    std::string FolderOfLength(size_t length)
    {
        std::string path = scratch.Path();
        while (path.size() + 1 < length) {
            size_t part = std::min<size_t>(length - path.size() - 1, 100);
            path += "/" + std::string(part, 'p');
            if (path.size() + 1 == length) /* a one-character remainder cannot be a component */
                path.back() = 'q';
        }
        EXPECT_EQ(path.size(), length);
        fs::create_directories(path);
        return path;
    }
};

TEST_F(PathBounds, DriverPathOf254CharactersOpens)
{
    std::string dir = FolderOfLength(254 - 8);
    std::string path = dir + "/drv1.so";
    ASSERT_EQ(path.size(), 254u);
    fs::copy_file(TestDriver::BuiltPath("tdrv_full"), path);
    TestDriver local(path);
    OpenResult r = OpenEx(path);
    ASSERT_EQ(r.status, QORB_SUCCESS) << r.out << r.err;
    EXPECT_EQ(local.Calls(), "GZVOQM");
}

TEST_F(PathBounds, DriverPathsOf255And256CharactersAreRejected)
{
    for (size_t length : {255u, 256u, 1000u}) {
        std::string dir = FolderOfLength(length - 8);
        std::string path = dir + "/drv1.so";
        ASSERT_EQ(path.size(), length);
        fs::copy_file(TestDriver::BuiltPath("tdrv_full"), path);
        TestDriver local(path);
        ExpectRefused(OpenEx(path), QORB_STATUS_FAILED, "", "Path too long: " + path + ". Exiting.\n");
        EXPECT_EQ(local.Calls(), "");
    }
}

TEST_F(PathBounds, IniPathAt254CharactersIsReadAnd255IsRejected)
{
    fs::copy_file(TestDriver::BuiltPath("tdrv_full"), scratch.File("drv.so"));
    TestDriver local(scratch.File("drv.so"));
    std::string dir = FolderOfLength(254 - 8);
    qorbtest::WriteFile(dir + "/app.ini", "[DLL]\nDLLName=drv.so\n");
    OpenResult r = Open(dir.c_str(), "app.ini"); /* dir + "\app.ini": 254 */
    ASSERT_EQ(r.status, QORB_SUCCESS) << r.out << r.err;
    CloseHandle();

    qorbtest::WriteFile(dir + "/app1.ini", "[DLL]\nDLLName=drv.so\n");
    r = Open(dir.c_str(), "app1.ini");
    ExpectRefused(r, QORB_STATUS_FAILED, "", "Path too long: " + dir + "\\app1.ini. Exiting.\n");

    std::string huge(300, 'h');
    r = Open(huge.c_str(), "app.ini");
    EXPECT_EQ(r.status, QORB_STATUS_FAILED);
    EXPECT_EQ(r.err, "Path too long: " + huge + "\\app.ini. Exiting.\n");
    r = Open(dir.c_str(), huge.c_str());
    EXPECT_EQ(r.status, QORB_STATUS_FAILED);
    EXPECT_EQ(local.Calls(), "GZVOQMC");
}

/* With the default INI folder, the current directory takes 18 characters
 * more ("/ini/" "\" "VERDAapp.ini"): 236 is the longest that fits. */
TEST_F(PathBounds, LongCurrentDirectory)
{
    std::string dir236 = FolderOfLength(236);
    qorbtest::WriteFile(dir236 + "/ini/VERDAapp.ini", "[DLL]\nDLLName=d.so\n");
    fs::copy_file(TestDriver::BuiltPath("tdrv_nocard"), dir236 + "/d.so");
    TestDriver local(dir236 + "/d.so");
    ASSERT_EQ(chdir(dir236.c_str()), 0);
    OpenResult r = Open(nullptr, nullptr);
    EXPECT_EQ(r.status, QORB_SUCCESS) << r.out << r.err;
    EXPECT_EQ(local.Calls(), "GOQM");
    CloseHandle();

    std::string dir237 = FolderOfLength(237);
    ASSERT_EQ(chdir(dir237.c_str()), 0);
    r = Open(nullptr, nullptr);
    EXPECT_EQ(r.status, QORB_STATUS_FAILED);
    EXPECT_EQ(r.err, "Path too long: " + dir237 + "/ini/\\VERDAapp.ini. Exiting.\n");
    EXPECT_EQ(r.out, "");

    std::string dir300 = FolderOfLength(300);
    ASSERT_EQ(chdir(dir300.c_str()), 0);
    r = Open(nullptr, nullptr);
    EXPECT_EQ(r.status, QORB_STATUS_FAILED);
    EXPECT_EQ(r.err, "Path too long: " + dir300 + ". Exiting.\n");
    /* The driver path is built from the current directory too. */
    qorbtest::WriteFile(dir236 + "/app.ini", "[DLL]\nDLLName=d.so\n");
    r = Open(dir236.c_str(), "app.ini");
    EXPECT_EQ(r.status, QORB_STATUS_FAILED);
    EXPECT_EQ(r.err, "Path too long: " + dir300 + ". Exiting.\n");
    EXPECT_EQ(handle, UntouchedHandle());
    ASSERT_EQ(chdir(scratch.Path().c_str()), 0);
}

} // namespace
