#include "engine/user_keyboard_lists.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "engine/keyboard_list_entries.h"
#include "platform/input_list_api.h"
#include "platform/registry.h"
#include "platform/system_info.h"
#include "platform/user_hive.h"
#include "platform/user_process.h"

namespace {

const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr DWORD kUserStepTimeoutMs = 30000;
constexpr size_t kSidChars = 192;

struct ListChange {
    wchar_t remove[kEntryListChars];
    wchar_t add[kEntryListChars];
};

struct Profile {
    std::wstring sid;
    std::wstring folder;  // empty when only its loaded hive is known
};

// Accounts of people: "S-1-" and digits; not LocalSystem, LocalService or
// NetworkService, and not the "_Classes" or ".bak" companions of a profile.
bool IsPersonSid(const std::wstring& name)
{
    if (name.compare(0, 4, L"S-1-") != 0) return false;
    if (name.find_first_not_of(L"0123456789-", 4) != std::wstring::npos) return false;
    return name != L"S-1-5-18" && name != L"S-1-5-19" && name != L"S-1-5-20";
}

std::vector<std::wstring> SubkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD chars = 256;
        LONG rc = RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc == ERROR_SUCCESS) names.emplace_back(name);
    }
    return names;
}

// A profile folder value of the profile list, its variables expanded.
std::wstring ProfileFolder(const wchar_t* subKey, const wchar_t* valueName)
{
    wchar_t raw[MAX_PATH], expanded[MAX_PATH];
    if (RegReadStringAt(HKEY_LOCAL_MACHINE, subKey, valueName, raw, MAX_PATH) != ERROR_SUCCESS || !raw[0]) return L"";
    DWORD n = ExpandEnvironmentStringsW(raw, expanded, MAX_PATH);
    return n > 0 && n <= MAX_PATH ? expanded : L"";
}

bool IsLoaded(const std::wstring& hive)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_USERS, hive.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Every profile of a person on this machine, from the profile list and from
// the hives loaded now (a roaming or temporary profile may be missing there).
std::vector<Profile> MachineProfiles()
{
    std::vector<Profile> profiles;
    HKEY list = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ, &list) == ERROR_SUCCESS) {
        for (const std::wstring& sid : SubkeyNames(list))
            if (IsPersonSid(sid))
                profiles.push_back({sid, ProfileFolder((std::wstring(kProfileList) + L"\\" + sid).c_str(),
                                                       L"ProfileImagePath")});
        RegCloseKey(list);
    }
    for (const std::wstring& sid : SubkeyNames(HKEY_USERS)) {
        bool known = std::any_of(profiles.begin(), profiles.end(), [&](const Profile& p) { return p.sid == sid; });
        if (IsPersonSid(sid) && !known) profiles.push_back({sid, L""});
    }
    return profiles;
}

void LogChange(const wchar_t* who, const ListChange& change, const wchar_t* when)
{
    if (change.remove[0]) RunLog(L"Keyboard list of %s: %s taken out, %s", who, change.remove, when);
    if (change.add[0]) RunLog(L"Keyboard list of %s: %s added, %s", who, change.add, when);
}

// Through the user's own process, so that the session takes it at once.
bool ChangeAsUser(HANDLE token, const wchar_t* sid, const ListChange& change)
{
    wchar_t installer[MAX_PATH];
    BoundedFormat(installer, MAX_PATH, L"%sinstaller.exe", g_setup.installFolder);
    if (!g_setup.installFolder[0] || !PathExists(installer)) {
        RunLog(L"No setup in the install folder to run as the user: %s", installer);
        return false;
    }
    for (bool remove : {true, false}) {
        const wchar_t* list = remove ? change.remove : change.add;
        wchar_t command[2 * MAX_PATH];
        if (!list[0]) continue;
        if (!ComposeUserListCommand(installer, remove, list, command, 2 * MAX_PATH)) return false;
        DWORD exitCode = 0;
        DWORD rc = RunAsTokenUser(token, installer, command, kUserStepTimeoutMs, &exitCode);
        if (rc == ERROR_SUCCESS && exitCode != kExitSuccess) rc = exitCode;
        if (rc != ERROR_SUCCESS) {
            RunLogFailure(L"The keyboard list step did not run as the user", sid, rc);
            return false;
        }
    }
    LogChange(sid, change, L"at once (as the user)");
    return true;
}

bool ChangeHive(const InputListApi& api, const std::wstring& hive, const wchar_t* who, const ListChange& change)
{
    const std::wstring path = L"HKEY_USERS\\" + hive;
    for (bool remove : {true, false}) {
        const wchar_t* list = remove ? change.remove : change.add;
        if (!list[0]) continue;
        SetLastError(ERROR_SUCCESS);
        DWORD flags = kIlotNoApplyToCurrentSession | (remove ? kIlotUninstall : 0);
        if (!api.installUserReg(path.c_str(), nullptr, nullptr, list, flags)) {
            RunLogFailure(L"InstallLayoutOrTipUserReg: keyboard list not changed", who, GetLastError());
            return false;
        }
    }
    LogChange(who, change, L"in effect from the next logon");
    return true;
}

// A profile not loaded now: its hive mounted for the change, then unloaded.
void ChangeHiveFile(const InputListApi& api, const std::wstring& mountName, const std::wstring& file,
                    const wchar_t* who, const ListChange& change)
{
    LONG rc = MountUserHive(mountName.c_str(), file.c_str());
    if (rc != ERROR_SUCCESS) {
        // In use, damaged or missing: that profile is left as it is.
        RunLogFailure(L"Profile skipped, its registry hive could not be loaded", file.c_str(), static_cast<DWORD>(rc));
        return;
    }
    ChangeHive(api, mountName, who, change);
    rc = UnmountUserHive(mountName.c_str());
    if (rc != ERROR_SUCCESS) RunLogFailure(L"Registry hive not unloaded", mountName.c_str(), static_cast<DWORD>(rc));
}

// The users signed in at a desktop: as SYSTEM every session's user, else
// the user of this desktop's shell (with an over-the-shoulder elevation not
// the account this setup runs as).
std::vector<HANDLE> DesktopUserTokens()
{
    std::vector<HANDLE> tokens = SessionUserTokens();
    if (!tokens.empty() || IsLocalSystemProcess()) return tokens;
    if (HANDLE shell = DuplicateShellToken()) tokens.push_back(shell);
    else RunLog(L"The desktop shell's user could not be reached for the keyboard list step (error %lu)", GetLastError());
    return tokens;
}

void ChangeEveryUserList(const ListChange& change)
{
    if (!change.add[0] && !change.remove[0]) return;
    InputListApi api;
    if (!LoadInputListApi(&api)) {
        RunLog(L"input.dll with InstallLayoutOrTip is missing: no user's keyboard list was changed; "
               L"each user adds or removes the keyboard in the language settings");
        return;
    }

    std::vector<std::wstring> done;
    for (HANDLE token : DesktopUserTokens()) {
        wchar_t sid[kSidChars];
        bool known = TokenUserSid(token, sid, kSidChars);
        if (known && std::find(done.begin(), done.end(), sid) == done.end() && ChangeAsUser(token, sid, change))
            done.emplace_back(sid);
        CloseHandle(token);
    }

    DWORD privileges = EnableHivePrivileges();
    if (privileges != ERROR_SUCCESS)
        RunLogFailure(L"Backup and restore privileges not enabled; profiles not signed in may be skipped", L"",
                      privileges);
    for (const Profile& profile : MachineProfiles()) {
        if (std::find(done.begin(), done.end(), profile.sid) != done.end()) continue;
        if (IsLoaded(profile.sid)) ChangeHive(api, profile.sid, profile.sid.c_str(), change);
        else if (!profile.folder.empty())
            ChangeHiveFile(api, L"ZerdaIME3_" + profile.sid, profile.folder + L"\\NTUSER.DAT", profile.sid.c_str(),
                           change);
    }

    std::wstring defaultProfile = ProfileFolder(kProfileList, L"Default");
    if (defaultProfile.empty()) RunLog(L"No default profile in the profile list: new accounts add the keyboard themselves");
    else ChangeHiveFile(api, L"ZerdaIME3_Default", defaultProfile + L"\\NTUSER.DAT", L"the default profile", change);
}

}  // namespace

void AddKeyboardToUserLists()
{
    ListChange change{};
    if (IsSystemAtLeast62()) {
        TextServiceEntry(LangId(g_setup), g_setup.name, change.add);
    } else {
        wchar_t layout[kLayoutTextChars];
        if (ReadRecordedImeLayout(g_setup.name, layout)) LayoutEntry(layout, change.add);
        LayoutEntry(ReplacedImeLayout(), change.remove);
    }
    ForgetReplacedImeLayout();
    ChangeEveryUserList(change);
}

void RemoveKeyboardFromUserLists()
{
    ListChange change{};
    wchar_t layout[kLayoutTextChars];
    if (ReadRecordedImeLayout(g_setup.name, layout)) LayoutEntry(layout, change.remove);
    wchar_t textService[kEntryListChars];
    WORD langId = ReadLangId(g_setup.name);
    if (IsSystemAtLeast62() && TextServiceEntry(langId ? langId : LangId(g_setup), g_setup.name, textService)) {
        if (change.remove[0]) BoundedAppend(change.remove, kEntryListChars, L";");
        BoundedAppend(change.remove, kEntryListChars, textService);
    }
    ChangeEveryUserList(change);
}
