#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "common/test_support.h"
#include "engine/shortcuts.h"
#include "engine_test_support.h"

namespace {

const wchar_t* const kSettings = L"سېستىما تەڭشىكى.lnk";
const wchar_t* const kHelp = L"ياردەم ھۆججىتى.lnk";
const wchar_t* const kUpdate = L"نۇسخا يېڭىلاش.lnk";
const wchar_t* const kKeys = L"كۇنۇپكا ئىقتىدارى.lnk";
const wchar_t* const kRepair = L"پىروگرامما ئوڭشاش.lnk";
const wchar_t* const kRemove = L"كومپىيۇتېردىن يۇيۇش.lnk";

class Shortcuts : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        std::memset(&g_setup, 0, sizeof g_setup);
        install_ = WithBackslash(scratch_.Path()) + L"inst\\";
        CreateDirectoryW(install_.c_str(), nullptr);
        BoundedCopy(g_setup.installFolder, MAX_PATH, install_.c_str());
        name_ = NewGuidText();
        BoundedCopy(g_setup.name, kNameChars, name_.c_str());
        display_ = L"ZtGroup" + std::to_wstring(GetCurrentProcessId()) + L" قارنېك";
        SetProductField(product_field::kDisplayName, kDisplayNameChars, display_);
        SetProductField(product_field::kImeName, kImeNameChars, L"ztkeys");
        group_ = CommonFolder(CSIDL_COMMON_PROGRAMS) + display_ + L"\\";
    }
    void TearDown() override
    {
        DeleteTree(group_.substr(0, group_.size() - 1));
        CoUninitialize();
    }
    std::vector<std::wstring> GroupFiles() const { return Listing(group_); }
    ScratchFolder scratch_{L"lnk"};
    std::wstring install_, name_, display_, group_;
};

}  // namespace

TEST_F(Shortcuts, AllSixCarryTheirTargetArgumentsIconsAndDescriptions)
{
    SetEngineFlags(g_setup, 0x80 | 0x40 | 0x20 | 0x100 | 0x1000 | 0x800);
    EXPECT_TRUE(CreateShortcuts());
    EXPECT_EQ(6u, GroupFiles().size());

    struct Expected {
        const wchar_t* file;
        std::wstring target, arguments, iconPath;
        int iconIndex;
        std::wstring description;
    };
    const std::vector<Expected> rows = {
        {kSettings, install_ + L"config.exe", L"/n " + name_, install_ + L"config.exe", 0,
         display_ + L" ئىشلىتىش ئادىتىنى ئۆزگەرتىش،بېكىتىش"},
        {kHelp, install_ + L"main.chm", L"", L"", 0, L" " + display_ + L" ياردەم ھۆججىتىنى كۆرۈڭ"},
        {kUpdate, install_ + L"installer.exe", L"/n " + name_ + L" /g", install_ + L"installer.exe", 3,
         L" " + display_ + L" يېڭى نۇسخىسىنى تەكشۈرۈپ كۆرۈڭ"},
        {kKeys, install_ + L"config.exe", L"/n " + name_ + L" /do anjianshezhi", SystemFolder() + L"ztkeys.ime", 16,
         L" " + display_ + L" كۇنۇپكا ئىقتىدارىنى ئۆزگەرتىش، بېكىتىش"},
        {kRepair, install_ + L"installer.exe", L"/n " + name_ + L" /r", install_ + L"installer.exe", 1,
         L" " + display_ + L" يېڭى قاچىلىغان ھالەتكە قايتۇرۇش"},
        {kRemove, install_ + L"installer.exe", L"/n " + name_ + L" /u", install_ + L"installer.exe", 2,
         L" " + display_ + L" پىروگراممىسىنى كومپىيۇتېردىن يۇيۇش"},
    };
    for (const Expected& row : rows) {
        SCOPED_TRACE(row.file);
        ShellLinkInfo link = ReadShellLink(group_ + row.file);
        ASSERT_TRUE(link.loaded);
        EXPECT_EQ(row.target, link.path);
        EXPECT_EQ(row.arguments, link.arguments);
        EXPECT_EQ(install_, link.workingFolder);
        EXPECT_EQ(row.description, link.description);
        EXPECT_EQ(row.iconPath, link.iconPath);
        EXPECT_EQ(row.iconIndex, link.iconIndex);
        // The link format knows only normal, maximised and minimised windows:
        // SW_SHOW is stored as a normal window.
        EXPECT_EQ(SW_SHOWNORMAL, link.showCommand);
    }
}

TEST_F(Shortcuts, OnlyTheFlaggedOnesAreCreated)
{
    SetEngineFlags(g_setup, 0x1000 | 0x800 | 0x80 | 0x40 | 0x20000000);
    EXPECT_TRUE(CreateShortcuts());
    std::vector<std::wstring> files = GroupFiles();
    EXPECT_EQ(4u, files.size());
    for (const wchar_t* f : {kSettings, kHelp, kRepair, kRemove}) EXPECT_TRUE(FileExists(group_ + f)) << f;
    for (const wchar_t* f : {kUpdate, kKeys}) EXPECT_FALSE(FileExists(group_ + f)) << f;

    // A second run (repair) keeps what is there and adds the newly flagged one.
    SetEngineFlags(g_setup, 0x100);
    EXPECT_TRUE(CreateShortcuts());
    EXPECT_EQ(5u, GroupFiles().size());
    EXPECT_TRUE(FileExists(group_ + kKeys));
}

TEST_F(Shortcuts, NoFlagLeavesAnEmptyGroup)
{
    SetEngineFlags(g_setup, 0);
    EXPECT_TRUE(CreateShortcuts());
    EXPECT_TRUE(DirExists(group_.substr(0, group_.size() - 1)));
    EXPECT_TRUE(GroupFiles().empty());
}

TEST_F(Shortcuts, DisplayNameInvalidForFilesFailsSilently)
{
    std::wstring bad = L"Zt|Bad?" + std::to_wstring(GetCurrentProcessId());
    SetProductField(product_field::kDisplayName, kDisplayNameChars, bad);
    SetEngineFlags(g_setup, 0x80 | 0x40 | 0x20 | 0x100 | 0x1000 | 0x800);
    EXPECT_TRUE(CreateShortcuts());
    std::wstring programs = CommonFolder(CSIDL_COMMON_PROGRAMS);
    EXPECT_FALSE(DirExists(programs + bad));
    // Nothing landed beside the group either.
    EXPECT_FALSE(FileExists(programs + bad + kSettings));
    EXPECT_FALSE(FileExists(programs + kSettings));
}

TEST_F(Shortcuts, CompanionToolCommandSplitsAtTheFirstSwitch)
{
    std::wstring tools = install_ + L"tools";
    ASSERT_TRUE(CreateDirectoryW(tools.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW((BuildDir() + L"\\tests\\engine\\engine_args_probe.exe").c_str(),
                          (tools + L"\\probe.exe").c_str(), FALSE));
    auto run = [&](const std::wstring& command) -> std::string {
        DeleteFileW((tools + L"\\args.txt").c_str());
        SetProductField(product_field::kToolInstallCommand, kToolCommandChars, command);
        SetEngineFlags(g_setup, 0);
        EXPECT_TRUE(CreateShortcuts());
        std::string data;
        for (int i = 0; i < 200 && !ReadFileBytes(tools + L"\\args.txt", &data); ++i) Sleep(50);
        return data;
    };
    auto wide = [](const std::string& bytes) {
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    };
    EXPECT_EQ(L"/install /quiet x", wide(run(L"tools\\probe.exe /install /quiet x")));
    EXPECT_EQ(L"", wide(run(L"tools\\probe.exe")));
    // Started in the install folder, not where the setup was started.
    std::string cwd;
    ASSERT_TRUE(ReadFileBytes(tools + L"\\cwd.txt", &cwd));
    EXPECT_EQ(install_.substr(0, install_.size() - 1), wide(cwd));
}

TEST_F(Shortcuts, CompanionToolCommandStartsNoProgramOutsideTheInstallFolder)
{
    const std::wstring probe = BuildDir() + L"\\tests\\engine\\engine_args_probe.exe";
    const std::wstring outside = WithBackslash(scratch_.Path()) + L"outside\\";
    const std::wstring relative = WithBackslash(scratch_.Path()) + L"inst\\tools\\";
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(relative.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(probe.c_str(), (outside + L"probe.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(probe.c_str(), (relative + L"probe.exe").c_str(), FALSE));
    SetEngineFlags(g_setup, 0);

    // Climbing out of the install folder.
    SetProductField(product_field::kToolInstallCommand, kToolCommandChars, L"..\\outside\\probe.exe /x");
    EXPECT_TRUE(CreateShortcuts());
    // An install folder that is no full path: the name would be found below
    // the current folder.
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(scratch_.Path().c_str());
    BoundedCopy(g_setup.installFolder, MAX_PATH, L"inst\\");
    SetProductField(product_field::kToolInstallCommand, kToolCommandChars, L"tools\\probe.exe /y");
    EXPECT_TRUE(CreateShortcuts());
    SetCurrentDirectoryW(previous);

    Sleep(3000);  // long enough for a started probe to write
    EXPECT_FALSE(FileExists(outside + L"args.txt"));
    EXPECT_FALSE(FileExists(relative + L"args.txt"));
}
