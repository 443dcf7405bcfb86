#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <string>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "common/test_support.h"
#include "engine/driver_files.h"
#include "engine_test_support.h"

namespace {

const DWORD kTempSize = 70000;

// An unpacked payload as the extraction leaves it, and the folders of a run.
class DriverFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&g_setup, 0, sizeof g_setup);
        static int counter = 0;
        ime_ = L"ztdrv" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
        SetProductField(product_field::kImeName, kImeNameChars, ime_);
        payload_ = scratch_ / L"zipdatas";
        install_ = scratch_ / L"inst\\";
        // The data folder lies where every product of the family keeps its data.
        data_ = CommonFolder(CSIDL_COMMON_APPDATA) + L"ZerdaIME3\\" + ime_ + L"\\";
        plain_ = scratch_ / L"installer.exe";
        windowsFile_ = L"zt_win_" + ime_ + L".txt";
        BoundedCopy(g_setup.payloadFolder, MAX_PATH, payload_.c_str());
        BoundedCopy(g_setup.installFolder, MAX_PATH, install_.c_str());
        BoundedCopy(g_setup.dataFolder, MAX_PATH, data_.c_str());
        BoundedCopy(g_setup.plainInstallerPath, MAX_PATH, plain_.c_str());

        for (const wchar_t* sub : {L"", L"\\x86", L"\\$windows$", L"\\$dataFiles$", L"\\tools"})
            CreateDirectoryW((payload_ + sub).c_str(), nullptr);
        CopyFileW(FixtureDriverPath().c_str(), (payload_ + L"\\zerdaIME.ime").c_str(), FALSE);
        CopyFileW(FixtureDriverPath().c_str(), (payload_ + L"\\x86\\zerdaIME.ime").c_str(), FALSE);
        WriteFileText(payload_ + L"\\$windows$\\" + windowsFile_, "windows");
        WriteFileText(payload_ + L"\\$dataFiles$\\config.dsc", "config");
        tempData_.assign(kTempSize, '\x5A');
        WriteFileText(payload_ + L"\\$dataFiles$\\temp.dmg", tempData_);
        WriteFileText(payload_ + L"\\config.exe", "config program");
        WriteFileText(payload_ + L"\\tools\\tool.txt", "tool");
        WriteFileText(plain_, "plain installer");
    }
    void TearDown() override
    {
        DeleteFileW((SystemFolder() + ime_ + L".ime").c_str());
        DeleteFileW((Wow64Folder() + ime_ + L".ime").c_str());
        wchar_t windows[MAX_PATH];
        GetWindowsDirectoryW(windows, MAX_PATH);
        DeleteFileW((WithBackslash(windows) + windowsFile_).c_str());
        DeleteTree(data_);
    }

    ScratchFolder scratch_{L"drv"};
    std::wstring ime_, payload_, install_, data_, plain_, windowsFile_;
    std::string tempData_;
};

}  // namespace

TEST_F(DriverFiles, PlacesDriversStampedAndThePayloadInItsFolders)
{
    ReportWindows windows;
    ASSERT_EQ(0x0409, VersionLanguage(payload_ + L"\\zerdaIME.ime"));
    ASSERT_TRUE(PlaceImeDriverFiles(g_setup));
    EXPECT_EQ(L"", windows.LogText());

    // Both drivers carry the language of systems from 6 on, and the string
    // block was renamed with it.
    for (const std::wstring& driver : {SystemFolder() + ime_ + L".ime", Wow64Folder() + ime_ + L".ime"}) {
        SCOPED_TRACE(driver);
        std::wstring version;
        EXPECT_EQ(0x0480, VersionLanguage(driver, &version));
        EXPECT_EQ(L"1.2.3.4", version);
    }
    // Sources are gone, under either name.
    for (const wchar_t* f : {L"\\zerdaIME.ime", L"\\zerdaIME.dll", L"\\x86\\zerdaIME.ime", L"\\x86\\zerdaIME.dll"})
        EXPECT_FALSE(FileExists(payload_ + f)) << f;

    wchar_t windowsFolder[MAX_PATH];
    GetWindowsDirectoryW(windowsFolder, MAX_PATH);
    EXPECT_TRUE(FileExists(WithBackslash(windowsFolder) + windowsFile_));
    EXPECT_FALSE(DirExists(payload_ + L"\\$windows$"));
    EXPECT_FALSE(DirExists(payload_ + L"\\$dataFiles$"));

    std::string config;
    EXPECT_TRUE(ReadFileBytes(data_ + L"config.dsc", &config));
    EXPECT_EQ("config", config);

    // temp.dmg: length word, zero count, a cleared table at 136, the rest kept.
    std::string temp;
    ASSERT_TRUE(ReadFileBytes(data_ + L"temp.dmg", &temp));
    ASSERT_EQ(kTempSize, temp.size());
    DWORD words[2];
    std::memcpy(words, temp.data(), sizeof words);
    EXPECT_EQ(kTempSize, words[0]);
    EXPECT_EQ(0u, words[1]);
    EXPECT_EQ(std::string(128, '\x5A'), temp.substr(8, 128));
    EXPECT_EQ(std::string(65536, '\0'), temp.substr(136, 65536));
    EXPECT_EQ(std::string(kTempSize - 136 - 65536, '\x5A'), temp.substr(136 + 65536));

    // Everything else into the install folder, with the plain installer.
    EXPECT_TRUE(FileExists(install_ + L"config.exe"));
    EXPECT_TRUE(FileExists(install_ + L"tools\\tool.txt"));
    EXPECT_FALSE(DirExists(install_ + L"x86\\zerdaIME.ime"));
    std::string installer;
    EXPECT_TRUE(ReadFileBytes(install_ + L"installer.exe", &installer));
    EXPECT_EQ("plain installer", installer);
    EXPECT_FALSE(FileExists(plain_));
}

TEST_F(DriverFiles, ShortTempDataAndMissingOptionalTreesAreLeftAlone)
{
    DeleteTree(payload_ + L"\\$windows$");
    WriteFileText(payload_ + L"\\$dataFiles$\\temp.dmg", std::string(1000, '\x11'));
    // Repair: no plain installer to copy.
    g_setup.plainInstallerPath[0] = L'\0';
    ASSERT_TRUE(PlaceImeDriverFiles(g_setup));
    std::string temp;
    ASSERT_TRUE(ReadFileBytes(data_ + L"temp.dmg", &temp));
    EXPECT_EQ(std::string(1000, '\x11'), temp);
    EXPECT_FALSE(FileExists(install_ + L"installer.exe"));
    EXPECT_TRUE(FileExists(install_ + L"config.exe"));
}

TEST_F(DriverFiles, DriverWithoutVersionInformationIsPlacedUnchanged)
{
    WriteFileText(payload_ + L"\\zerdaIME.ime", "no version resource");
    ASSERT_TRUE(PlaceImeDriverFiles(g_setup));
    std::string placed;
    ASSERT_TRUE(ReadFileBytes(SystemFolder() + ime_ + L".ime", &placed));
    EXPECT_EQ("no version resource", placed);
}

TEST_F(DriverFiles, FailedRenameOfEitherDriverStopsWithItsLine)
{
    {
        ReportWindows windows;
        SendMessageW(windows.Bar(), PBM_SETPOS, 10, 0);
        // The library name is taken: the driver cannot be renamed for stamping.
        CreateDirectoryW((payload_ + L"\\zerdaIME.dll").c_str(), nullptr);
        EXPECT_FALSE(PlaceImeDriverFiles(g_setup));
        EXPECT_EQ(L"     错误: 无法创建IME驱动文件(err1)\r\n", windows.LogText());
        EXPECT_EQ(0, windows.BarPosition());
        EXPECT_FALSE(FileExists(SystemFolder() + ime_ + L".ime"));
        EXPECT_TRUE(FileExists(payload_ + L"\\zerdaIME.ime"));
        RemoveDirectoryW((payload_ + L"\\zerdaIME.dll").c_str());
    }
    {
        ReportWindows windows;
        CreateDirectoryW((payload_ + L"\\x86\\zerdaIME.dll").c_str(), nullptr);
        EXPECT_FALSE(PlaceImeDriverFiles(g_setup));
        EXPECT_EQ(L"     错误: 无法创建IME驱动文件(err11)\r\n", windows.LogText());
        // The 64-bit driver was placed before and stays.
        EXPECT_TRUE(FileExists(SystemFolder() + ime_ + L".ime"));
        EXPECT_FALSE(FileExists(install_ + L"config.exe"));
    }
}

// The driver can be renamed but not rewritten for longer than a scanner
// would hold it (a program maps it): placing it with the wrong language would
// give the layout of the IMM road the wrong language, so the step fails.
TEST_F(DriverFiles, DriverWhoseLanguageCannotBeStampedStopsWithTheRenameBackLine)
{
    FileHolder holder(payload_ + L"\\zerdaIME.ime", true);
    ASSERT_TRUE(holder.Ready());
    {
        ReportWindows windows;
        EXPECT_FALSE(PlaceImeDriverFiles(g_setup));
        EXPECT_EQ(L"     错误: 无法创建IME驱动文件(err2)\r\n", windows.LogText());
    }
    EXPECT_TRUE(FileExists(payload_ + L"\\zerdaIME.ime")) << "renamed back";
    EXPECT_FALSE(FileExists(SystemFolder() + ime_ + L".ime"));
}

TEST_F(DriverFiles, MissingPayloadDriverIsTheFirstRenameFailure)
{
    ReportWindows windows;
    DeleteFileW((payload_ + L"\\zerdaIME.ime").c_str());
    EXPECT_FALSE(PlaceImeDriverFiles(g_setup));
    EXPECT_EQ(L"     错误: 无法创建IME驱动文件(err1)\r\n", windows.LogText());
}

TEST_F(DriverFiles, InstallerCopyGivenUpIsReported)
{
    ReportWindows windows;
    ScriptedPrompts prompts(IDCANCEL);
    BoundedCopy(g_setup.plainInstallerPath, MAX_PATH, (scratch_ / L"gone\\installer.exe").c_str());
    EXPECT_FALSE(PlaceImeDriverFiles(g_setup));
    EXPECT_EQ(L"     خاتالىق كۆرۈلدى:installer.exe ھۆججىتىنى قۇرۇشقا بولمىدى\r\n", windows.LogText());
    EXPECT_EQ(0, windows.BarPosition());
    // Everything before the installer copy is in place.
    EXPECT_TRUE(FileExists(install_ + L"config.exe"));
    EXPECT_TRUE(FileExists(Wow64Folder() + ime_ + L".ime"));
}

// The folders are made the product's before the first file goes anywhere: a
// data folder outside the family's folder or a system folder as the install
// folder stops the step with nothing placed.
TEST_F(DriverFiles, NothingIsPlacedWhenAFolderCannotBeTheProducts)
{
    BoundedCopy(g_setup.dataFolder, MAX_PATH, (scratch_ / L"ZerdaIME3\\" + ime_ + L"\\").c_str());
    EXPECT_FALSE(PlaceImeDriverFiles(g_setup));
    BoundedCopy(g_setup.dataFolder, MAX_PATH, data_.c_str());
    BoundedCopy(g_setup.installFolder, MAX_PATH, (SystemFolder() + L"drivers\\").c_str());
    EXPECT_FALSE(PlaceImeDriverFiles(g_setup));
    EXPECT_FALSE(FileExists(SystemFolder() + ime_ + L".ime"));
    EXPECT_FALSE(FileExists(SystemFolder() + L"drivers\\config.exe"));
    EXPECT_TRUE(FileExists(payload_ + L"\\zerdaIME.ime"));
}
