// Which folders named by the registry the uninstaller may remove as a whole.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "common/test_support.h"
#include "maint_fixture.h"
#include "engine/removal_guard.h"

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
    for (const std::wstring& path : refused) EXPECT_FALSE(IsFolderSafeToRemove(path.c_str())) << Narrow(path);

    // Differently spelt forms of a guarded folder are the same folder.
    std::wstring shortProgramFiles = ShortForm(ShellDir(CSIDL_PROGRAM_FILES));
    if (!shortProgramFiles.empty()) EXPECT_FALSE(IsFolderSafeToRemove(shortProgramFiles.c_str()));
    std::wstring upper = ShellDir(CSIDL_WINDOWS);
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    EXPECT_FALSE(IsFolderSafeToRemove(upper.c_str()));
}

TEST(RemovalGuard, AllowsAProductsOwnFolders)
{
    ScratchFolder scratch(L"guard");
    std::wstring allowed[] = {
        ShellDir(CSIDL_PROGRAM_FILES) + L"\\ZerdaIME3 Test\\",
        FamilyFolder() + L"\\ztguard\\",
        scratch.Path() + L"\\",
        scratch.Path(),
        L"C:\\ZtProduct\\",
        ShellDir(CSIDL_COMMON_PROGRAMS) + L"\\Some Product\\",
    };
    for (const std::wstring& path : allowed) EXPECT_TRUE(IsFolderSafeToRemove(path.c_str())) << Narrow(path);
    // "Program Files Extra" only shares a prefix with a guarded folder.
    EXPECT_TRUE(IsFolderSafeToRemove((ShellDir(CSIDL_PROGRAM_FILES) + L" Extra\\").c_str()));
}
