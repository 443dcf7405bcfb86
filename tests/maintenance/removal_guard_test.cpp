// Which folders named by the registry the uninstaller may remove as a whole.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <tuple>

#include "common/test_support.h"
#include "maint_fixture.h"
#include "engine/removal_guard.h"
#include "files/folder_guard.h"

namespace {
std::wstring ShellDir(int csidl)
{
    wchar_t buffer[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, buffer);
    return buffer;
}

std::string Narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w) s += static_cast<char>(c < 128 ? c : '?');
    return s;
}

std::wstring ShortForm(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH] = L"";
    DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? buffer : L"";
}
}  // namespace

TEST(RemovalGuard, RefusesRootsSystemAndUserFolders)
{
    std::wstring profile = ShellDir(CSIDL_PROFILE);
    std::wstring profilesRoot = profile.substr(0, profile.rfind(L'\\'));
    std::wstring refused[] = {
        L"",
        L"C:\\",
        L"c:",
        L"Z:\\",
        L"\\\\server\\share\\",
        L"tools\\",
        L"..\\",
        ShellDir(CSIDL_WINDOWS),
        ShellDir(CSIDL_WINDOWS) + L"\\",
        ShellDir(CSIDL_SYSTEM) + L"\\",
        ShellDir(CSIDL_SYSTEMX86),
        // Below the Windows folder as much as the folder itself.
        ShellDir(CSIDL_SYSTEM) + L"\\drivers\\",
        ShellDir(CSIDL_WINDOWS) + L"\\ZtNotThere\\",
        ShellDir(CSIDL_PROGRAM_FILES) + L"\\",
        ShellDir(CSIDL_PROGRAM_FILESX86) + L"\\",
        ShellDir(CSIDL_COMMON_APPDATA) + L"\\",
        ShellDir(CSIDL_APPDATA),
        profile + L"\\",
        profilesRoot + L"\\",
        profilesRoot + L"\\Someone Else\\",
        ShellDir(CSIDL_COMMON_PROGRAMS) + L"\\",
        ShellDir(CSIDL_COMMON_STARTMENU),
        ShellDir(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\",
        ShellDir(CSIDL_DESKTOPDIRECTORY),
        ShellDir(CSIDL_FONTS),
        ShellDir(CSIDL_WINDOWS) + L"\\system32\\..\\",
        FamilyFolder() + L"\\",
    };
    for (const std::wstring& path : refused) {
        EXPECT_FALSE(IsProductFolderToRemove(path.c_str(), path.c_str())) << Narrow(path);
        EXPECT_FALSE(IsUsableInstallFolder(path.c_str())) << Narrow(path);
    }

    // Differently spelt forms of a guarded folder are the same folder.
    std::wstring shortProgramFiles = ShortForm(ShellDir(CSIDL_PROGRAM_FILES));
    if (!shortProgramFiles.empty()) {
        EXPECT_TRUE(IsGuardedFolder(shortProgramFiles.c_str()));
    }
    std::wstring upper = ShellDir(CSIDL_WINDOWS);
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    EXPECT_TRUE(IsGuardedFolder(upper.c_str()));
}

// Install folders only: another account's profile and what lies in it, a
// network path or drive (X: in the test prefixes), a volume that keeps no
// access lists. The running account's own profile is its own to use.
TEST(RemovalGuard, InstallFolderRefusedInOthersProfilesOnSharesAndVolumesWithoutLists)
{
    const std::wstring entry = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-7777";
    const std::wstring pupil = L"%SystemDrive%\\zt_profiles\\pupil";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, entry.c_str(), L"ProfileImagePath", REG_EXPAND_SZ,
                                             pupil.c_str(), static_cast<DWORD>((pupil.size() + 1) * sizeof(wchar_t))));
    for (const wchar_t* path : {L"C:\\zt_profiles\\pupil\\", L"C:\\zt_profiles\\pupil\\Documents\\Zerda\\",
                                L"C:\\zt_profiles\\", L"X:\\Zerda\\", L"\\\\server\\share\\Zerda\\"})
        EXPECT_NE(nullptr, InstallFolderRefusal(path)) << Narrow(path);
    EXPECT_TRUE(IsGuardedFolder(L"C:\\zt_profiles\\pupil"));
    EXPECT_FALSE(IsGuardedFolder(L"C:\\zt_profiles\\pupil\\Documents"));
    EXPECT_EQ(nullptr, InstallFolderRefusal((ShellDir(CSIDL_PROFILE) + L"\\zt_tools\\").c_str()));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, entry.c_str());
    EXPECT_EQ(nullptr, InstallFolderRefusal(L"C:\\zt_profiles\\pupil\\Documents\\Zerda\\"));

    // The volume's part as Windows reports it (Wine shows no FAT volume):
    // type, information read, file system flags, refused.
    const std::tuple<UINT, bool, DWORD, bool> rows[] = {
        {DRIVE_FIXED, true, FILE_PERSISTENT_ACLS | FILE_CASE_PRESERVED_NAMES, false},  // NTFS, ReFS
        {DRIVE_REMOVABLE, true, FILE_PERSISTENT_ACLS, false},
        {DRIVE_FIXED, true, FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK, true},  // FAT32, exFAT
        {DRIVE_REMOTE, true, FILE_PERSISTENT_ACLS, true},  // a share, whatever it keeps
        {DRIVE_NO_ROOT_DIR, false, 0, true},
        {DRIVE_FIXED, false, 0, true},
    };
    for (const auto& [type, read, flags, refused] : rows)
        EXPECT_EQ(refused, VolumeRefusal(type, read, flags) != nullptr) << type << " " << flags;
}

TEST(RemovalGuard, OnlyTheRecordedInstallFolderAndTheFamilysDataFolders)
{
    ScratchFolder scratch(L"guard");
    const std::wstring programFiles = ShellDir(CSIDL_PROGRAM_FILES);
    // The recorded install folder, however it is spelt.
    struct Case {
        std::wstring path, recorded;
        bool removable;
    } cases[] = {
        {programFiles + L"\\ZerdaIME3 Test\\", programFiles + L"\\ZerdaIME3 Test", true},
        {scratch.Path() + L"\\", scratch.Path(), true},
        {scratch.Path(), ShortForm(scratch.Path()), true},
        {L"C:\\ZtProduct\\", L"c:\\ztproduct\\", true},
        {L"C:\\ZtProduct\\", L"", false},
        {L"C:\\ZtProduct\\", L"C:\\ZtOther\\", false},
        {L"C:\\ZtProduct\\Sub\\", L"C:\\ZtProduct\\", false},
        // "Program Files Extra" only shares a prefix with a guarded folder.
        {programFiles + L" Extra\\", programFiles + L" Extra\\", true},
        // A data folder: strictly below the family's folder, never the family's folder itself.
        {FamilyFolder() + L"\\ztguard\\", L"", true},
        {FamilyFolder() + L"\\ztguard\\deeper", L"", true},
        {FamilyFolder(), FamilyFolder(), false},
        {CommonAppData() + L"\\ZerdaIME3 Other\\", L"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.removable, IsProductFolderToRemove(c.path.c_str(), c.recorded.c_str()))
            << Narrow(c.path) << " recorded " << Narrow(c.recorded);

    // The Start-menu group: one folder directly below Programs.
    const std::wstring programs = CommonPrograms();
    EXPECT_TRUE(IsShortcutGroupToRemove((programs + L"\\Some Product\\").c_str(), programs.c_str()));
    for (const std::wstring& group : {programs + L"\\", programs + L"\\..\\", programs + L"\\A\\B\\", programs + L"\\.\\"})
        EXPECT_FALSE(IsShortcutGroupToRemove(group.c_str(), programs.c_str())) << Narrow(group);
}

// A folder that is, or lies below, a link is neither removed nor installed
// into: the link would send the work to a folder someone else chose.
TEST(RemovalGuard, RefusesFoldersReachedThroughALink)
{
    ScratchFolder scratch(L"guardlink");
    const std::wstring target = scratch / L"elsewhere";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((target + L"\\sub").c_str(), nullptr));
    const std::wstring link = scratch / L"link";
    if (!MakeFolderLink(link, target)) {
        GTEST_SKIP() << "no folder link can be made here";
    }
    const std::wstring familyLink = FamilyFolder() + L"\\ztguardlink" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(FamilyFolder().c_str(), nullptr);
    ASSERT_TRUE(MakeFolderLink(familyLink, target));

    EXPECT_FALSE(IsOrLiesBelowLink(target.c_str()));
    for (const std::wstring& path : {link, link + L"\\", link + L"\\sub\\", link + L"\\not there\\"}) {
        EXPECT_TRUE(IsOrLiesBelowLink(path.c_str())) << Narrow(path);
        EXPECT_FALSE(IsProductFolderToRemove(path.c_str(), path.c_str())) << Narrow(path);
        EXPECT_FALSE(IsUsableInstallFolder(path.c_str())) << Narrow(path);
    }
    // Recorded as the link's target, the link still names another folder.
    EXPECT_FALSE(IsProductFolderToRemove(link.c_str(), target.c_str()));
    EXPECT_TRUE(IsProductFolderToRemove(target.c_str(), target.c_str()));
    EXPECT_FALSE(IsProductFolderToRemove(familyLink.c_str(), nullptr));
    EXPECT_FALSE(IsProductFolderToRemove((familyLink + L"\\sub").c_str(), nullptr));

    EXPECT_TRUE(RemoveFolderLink(familyLink));
    EXPECT_TRUE(RemoveFolderLink(link));
    EXPECT_TRUE(DirExists(target + L"\\sub"));
}
