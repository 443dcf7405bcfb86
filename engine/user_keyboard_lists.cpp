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
#include "engine/keyboard_list_readback.h"
#include "platform/input_list_api.h"
#include "platform/registry.h"
#include "platform/system_info.h"
#include "platform/user_hive.h"
#include "platform/user_process.h"

namespace {

const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr DWORD kUserStepTimeoutMs = 30000;
constexpr size_t kSidChars = 192;

constexpr DWORD kProfileMandatory = 0x0001;  // bit of a profile's "State" value

struct ListChange {
    std::vector<std::wstring> remove, add;
};

struct Profile {
    std::wstring sid;
    std::wstring folder;  // empty when only its loaded hive is known
    std::wstring leftAlone;  // why its hive must not change: roaming or mandatory
};

// What one entry's step did: whether it ran at all, and then the result of
// input.dll's call and how it was started.
struct StepResult {
    bool ran = false;
    DWORD rc = ERROR_SUCCESS;
    std::wstring how;
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

// A roaming profile's cached hive, once changed, is newer than the server's
// copy and would replace it at the next sign-in, losing what was set on
// other machines; a mandatory profile must not change at all. Both are left
// to their owner's own sign-in.
std::wstring WhyLeftAlone(const std::wstring& subKey, const std::wstring& folder)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return L"";
    DWORD type = 0, bytes = 0, state = 0;
    bool roaming = RegQueryValueExW(key, L"CentralProfile", nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
                   bytes > sizeof(wchar_t);
    bool mandatory = RegReadDword(key, L"State", &state) == ERROR_SUCCESS && (state & kProfileMandatory);
    RegCloseKey(key);
    if (roaming) return L"it roams (CentralProfile)";
    if (mandatory) return L"it is mandatory (State)";
    if (!folder.empty() && PathExists((folder + L"\\NTUSER.MAN").c_str())) return L"it is mandatory (NTUSER.MAN)";
    return L"";
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
        for (const std::wstring& sid : SubkeyNames(list)) {
            if (!IsPersonSid(sid)) continue;
            const std::wstring subKey = std::wstring(kProfileList) + L"\\" + sid;
            std::wstring folder = ProfileFolder(subKey.c_str(), L"ProfileImagePath");
            profiles.push_back({sid, folder, WhyLeftAlone(subKey, folder)});
        }
        RegCloseKey(list);
    }
    for (const std::wstring& sid : SubkeyNames(HKEY_USERS)) {
        bool known = std::any_of(profiles.begin(), profiles.end(), [&](const Profile& p) { return p.sid == sid; });
        if (IsPersonSid(sid) && !known) profiles.push_back({sid, L"", L""});
    }
    return profiles;
}

// input.dll reports success without saying what it wrote: the list is read
// back, and what does not match is logged (and fails nothing).
void CheckReadBack(const std::wstring& hive, const std::wstring& entry, bool remove, const wchar_t* who)
{
    const wchar_t* where = L"";
    if (UserListHolds(hive.c_str(), entry.c_str(), &where) != remove) return;
    RunLog(L"Keyboard list of %s read back does not match: %s %s %s, which was %s", who, where,
           remove ? L"still holds" : L"does not hold", entry.c_str(), remove ? L"taken out" : L"added");
}

// One call per entry, removals first. A call that fails is logged and the
// others still run (an upgrade may take out a layout the registration has
// already removed). False when a step could not be run at all.
template <typename Step>
bool ApplyEach(const ListChange& change, const std::wstring& hive, const wchar_t* who, Step step)
{
    for (bool remove : {true, false}) {
        for (const std::wstring& entry : remove ? change.remove : change.add) {
            StepResult r = step(remove, entry.c_str());
            if (!r.ran) return false;
            const std::wstring object = std::wstring(who) + L": " + entry;
            if (r.rc != ERROR_SUCCESS) {
                RunLogFailure(remove ? L"Keyboard not taken out of the list" : L"Keyboard not added to the list",
                              object.c_str(), r.rc);
                continue;
            }
            RunLog(L"Keyboard list of %s: %s %s, %s", who, entry.c_str(), remove ? L"taken out" : L"added",
                   r.how.c_str());
            CheckReadBack(hive, entry, remove, who);
        }
    }
    return true;
}

// Through the user's own process, so that the session takes it at once.
bool ChangeAsUser(const wchar_t* installer, HANDLE token, const wchar_t* sid, const ListChange& change)
{
    return ApplyEach(change, sid, sid, [&](bool remove, const wchar_t* entry) {
        StepResult r;
        wchar_t command[2 * MAX_PATH];
        const wchar_t* startedWith = L"";
        DWORD exitCode = 0;
        DWORD rc = ComposeUserListCommand(installer, remove, entry, nullptr, command, 2 * MAX_PATH)
                       ? RunAsTokenUser(token, installer, command, kUserStepTimeoutMs, &exitCode, &startedWith)
                       : ERROR_INVALID_PARAMETER;
        if (rc != ERROR_SUCCESS) {
            RunLogFailure(L"The keyboard list step did not run as the user",
                          (std::wstring(sid) + L", " + startedWith).c_str(), rc);
            return r;
        }
        r.ran = true;
        r.rc = exitCode;
        r.how = std::wstring(L"at once (as the user, started with ") + startedWith + L")";
        return r;
    });
}

// A hive changed by a short step of its own, so that nothing input.dll
// keeps open (it caches keys) outlives the step: the hive can be unloaded.
void ChangeHive(const wchar_t* installer, const std::wstring& hive, const wchar_t* who, const ListChange& change)
{
    ApplyEach(change, hive, who, [&](bool remove, const wchar_t* entry) {
        StepResult r;
        wchar_t command[2 * MAX_PATH];
        DWORD exitCode = 0;
        DWORD rc = ComposeUserListCommand(installer, remove, entry, hive.c_str(), command, 2 * MAX_PATH)
                       ? RunHiddenAndWait(installer, command, kUserStepTimeoutMs, &exitCode)
                       : ERROR_INVALID_PARAMETER;
        if (rc != ERROR_SUCCESS) {
            RunLogFailure(L"The keyboard list step for a registry hive did not run", who, rc);
            return r;
        }
        r.ran = true;
        r.rc = exitCode;
        r.how = L"in effect from the next logon";
        return r;
    });
}

// A profile not loaded now: its hive mounted for the change, then unloaded
// once the steps have ended.
void ChangeHiveFile(const wchar_t* installer, const std::wstring& mountName, const std::wstring& file,
                    const wchar_t* who, const ListChange& change)
{
    LONG rc = MountUserHive(mountName.c_str(), file.c_str());
    if (rc != ERROR_SUCCESS) {
        // In use, damaged or missing: that profile is left as it is.
        RunLogFailure(L"Profile skipped, its registry hive could not be loaded", file.c_str(), static_cast<DWORD>(rc));
        return;
    }
    ChangeHive(installer, mountName, who, change);
    rc = UnmountUserHive(mountName.c_str());
    if (rc != ERROR_SUCCESS)
        RunLogFailure(L"Registry hive still loaded after retries; the next run of the setup unloads it, or a restart",
                      mountName.c_str(), static_cast<DWORD>(rc));
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
    if (change.add.empty() && change.remove.empty()) return;
    InputListApi api;
    if (!LoadInputListApi(&api)) {
        RunLog(L"input.dll with InstallLayoutOrTip is missing: no user's keyboard list was changed; "
               L"each user adds or removes the keyboard in the language settings");
        return;
    }
    // Every step is the installed setup, run as the user or, for a hive, as this account.
    wchar_t installer[MAX_PATH];
    BoundedFormat(installer, MAX_PATH, L"%sinstaller.exe", g_setup.installFolder);
    if (!g_setup.installFolder[0] || !PathExists(installer)) {
        RunLog(L"No setup in the install folder to run the keyboard list steps: %s", installer);
        return;
    }

    std::vector<std::wstring> done;
    for (HANDLE token : DesktopUserTokens()) {
        wchar_t sid[kSidChars];
        bool known = TokenUserSid(token, sid, kSidChars);
        if (known && std::find(done.begin(), done.end(), sid) == done.end() &&
            ChangeAsUser(installer, token, sid, change))
            done.emplace_back(sid);
        CloseHandle(token);
    }

    for (const Profile& profile : MachineProfiles()) {
        if (std::find(done.begin(), done.end(), profile.sid) != done.end()) continue;
        if (!profile.leftAlone.empty())
            RunLog(L"Profile skipped, %s: %s", profile.leftAlone.c_str(), profile.sid.c_str());
        else if (IsLoaded(profile.sid)) ChangeHive(installer, profile.sid, profile.sid.c_str(), change);
        else if (!profile.folder.empty())
            ChangeHiveFile(installer, L"ZerdaIME3_" + profile.sid, profile.folder + L"\\NTUSER.DAT",
                           profile.sid.c_str(), change);
    }

    std::wstring defaultProfile = ProfileFolder(kProfileList, L"Default");
    if (defaultProfile.empty()) RunLog(L"No default profile in the profile list: new accounts add the keyboard themselves");
    else
        ChangeHiveFile(installer, L"ZerdaIME3_Default", defaultProfile + L"\\NTUSER.DAT", L"the default profile",
                       change);
}

}  // namespace

void AddKeyboardToUserLists()
{
    ListChange change;
    wchar_t entry[kEntryListChars];
    if (IsSystemAtLeast62()) {
        if (TextServiceEntry(LangId(g_setup), g_setup.name, entry)) change.add.emplace_back(entry);
    } else {
        wchar_t layout[kLayoutTextChars];
        if (ReadRecordedImeLayout(g_setup.name, layout) && LayoutEntry(layout, entry)) change.add.emplace_back(entry);
        if (LayoutEntry(ReplacedImeLayout(), entry)) change.remove.emplace_back(entry);
    }
    ForgetReplacedImeLayout();
    ChangeEveryUserList(change);
}

void RemoveKeyboardFromUserLists()
{
    ListChange change;
    wchar_t layout[kLayoutTextChars], entry[kEntryListChars];
    if (ReadRecordedImeLayout(g_setup.name, layout) && LayoutEntry(layout, entry)) change.remove.emplace_back(entry);
    WORD langId = ReadLangId(g_setup.name);
    if (IsSystemAtLeast62() && TextServiceEntry(langId ? langId : LangId(g_setup), g_setup.name, entry))
        change.remove.emplace_back(entry);
    ChangeEveryUserList(change);
}
