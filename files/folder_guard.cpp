#include "files/folder_guard.h"

#include <shlobj.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/link_checks.h"
#include "base/shared_routines.h"
#include "platform/registry.h"

namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

void TrimTrailingBackslashes(wchar_t* text)
{
    size_t n = wcslen(text);
    while (n > 0 && text[n - 1] == L'\\') text[--n] = L'\0';
}

bool SameText(const wchar_t* a, const wchar_t* b, int length)
{
    return CompareStringOrdinal(a, length, b, length, TRUE) == CSTR_EQUAL;
}

// True when `candidate` is `guarded` or one of its ancestors.
bool CoversFolder(const wchar_t* candidate, const wchar_t* guarded)
{
    size_t c = wcslen(candidate), g = wcslen(guarded);
    if (c == 0 || g < c) return false;
    if (!SameText(candidate, guarded, static_cast<int>(c))) return false;
    return g == c || guarded[c] == L'\\';
}

bool IsVolumeRoot(const wchar_t* normalized)
{
    if (IsDriveLetter(normalized[0]) && normalized[1] == L':' && normalized[2] == L'\0') return true;
    if (normalized[0] == L'\\' && normalized[1] == L'\\') {
        // \\server or \\server\share
        int separators = 0;
        for (const wchar_t* p = normalized + 2; *p; ++p)
            if (*p == L'\\') ++separators;
        return separators <= 1;
    }
    return false;
}

// Length of the root part that is never a link: "C:" or "\\server\share".
size_t RootLength(const wchar_t* normalized)
{
    if (normalized[0] != L'\\') return 2;
    const wchar_t* p = normalized + 2;
    int separators = 0;
    for (; *p; ++p)
        if (*p == L'\\' && ++separators == 2) break;
    return static_cast<size_t>(p - normalized);
}

bool ParentOf(const wchar_t* normalized, wchar_t* parent /* MAX_PATH */)
{
    BoundedCopy(parent, MAX_PATH, normalized);
    wchar_t* last = wcsrchr(parent, L'\\');
    if (!last) return false;
    *last = L'\0';
    return parent[0] != L'\0';
}

bool NormalizePath(const wchar_t* path, wchar_t* out /* MAX_PATH */, bool findLongForm)
{
    out[0] = L'\0';
    if (!path || !path[0]) return false;
    bool drivePath = IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
    bool networkPath = path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.';
    if (!drivePath && !networkPath) return false;

    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    // Short (8.3) spellings name the same folder as their long form.
    wchar_t longForm[MAX_PATH];
    n = findLongForm ? GetLongPathNameW(full, longForm, MAX_PATH) : 0;
    if (n > 0 && n < MAX_PATH) BoundedCopy(full, MAX_PATH, longForm);
    TrimTrailingBackslashes(full);
    BoundedCopy(out, MAX_PATH, full);
    return out[0] != L'\0';
}

// The system's and the users' folders stay where they are while the setup
// runs: each is looked up once (the folder checks run several times a run).
// One that does not exist yet is looked up again next time.
bool ShellFolder(int csidl, wchar_t* out /* MAX_PATH */)
{
    struct Known {
        int csidl;
        wchar_t path[MAX_PATH];
    };
    static Known known[32];
    static int count = 0;
    static SRWLOCK lock = SRWLOCK_INIT;
    AcquireSRWLockExclusive(&lock);
    int i = 0;
    while (i < count && known[i].csidl != csidl) ++i;
    bool found = i < count;
    if (found) {
        BoundedCopy(out, MAX_PATH, known[i].path);
    } else {
        wchar_t raw[MAX_PATH] = L"";
        // The shell gives them in their long form; a short spelling that
        // Windows made holds a '~' (each look-up of a part is a call into the
        // file system, dozens of them for the folders here).
        found = SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, raw)) &&
                NormalizePath(raw, out, wcschr(raw, L'~') != nullptr);
        if (found && count < 32) {
            known[count].csidl = csidl;
            BoundedCopy(known[count++].path, MAX_PATH, out);
        }
    }
    ReleaseSRWLockExclusive(&lock);
    return found;
}

const int kGuardedFolders[] = {
    CSIDL_SYSTEM,           CSIDL_SYSTEMX86,        CSIDL_PROGRAM_FILES,
    CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86,
    CSIDL_COMMON_APPDATA,   CSIDL_APPDATA,          CSIDL_LOCAL_APPDATA,
    CSIDL_PROFILE,          CSIDL_COMMON_STARTMENU, CSIDL_STARTMENU,
    CSIDL_COMMON_PROGRAMS,  CSIDL_PROGRAMS,         CSIDL_COMMON_STARTUP,
    CSIDL_STARTUP,          CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY,
    CSIDL_COMMON_DOCUMENTS, CSIDL_PERSONAL,         CSIDL_FONTS,
};

bool FinalPathOf(const wchar_t* existing, wchar_t* out /* MAX_PATH */)
{
    HANDLE folder = CreateFileW(existing, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    bool found = FinalPathOfHandle(folder, out);
    CloseHandle(folder);
    return found;
}

const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// A profile-list value (REG_EXPAND_SZ as Windows writes it) in normalized form.
bool ProfileListPath(HKEY key, const wchar_t* valueName, wchar_t* out /* MAX_PATH */)
{
    wchar_t raw[MAX_PATH], expanded[MAX_PATH];
    if (RegReadString(key, valueName, raw, MAX_PATH) != ERROR_SUCCESS || !raw[0]) return false;
    DWORD n = ExpandEnvironmentStringsW(raw, expanded, MAX_PATH);
    return n > 0 && n <= MAX_PATH && NormalizeFolderPath(expanded, out);
}

// Hands the profiles folder (isRoot) and every profile's folder the profile
// list names (the shared Public and Default ones too) to visit(path, isRoot)
// until it returns true; true when it did.
template <typename Visit>
bool AnyListedProfile(Visit visit)
{
    HKEY list = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ, &list) != ERROR_SUCCESS) return false;
    wchar_t path[MAX_PATH];
    bool found = ProfileListPath(list, L"ProfilesDirectory", path) && visit(path, true);
    static const wchar_t* const kShared[] = {L"Public", L"Default"};
    for (const wchar_t* shared : kShared) found = found || (ProfileListPath(list, shared, path) && visit(path, false));
    wchar_t sid[256];
    for (DWORD i = 0; !found; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(list, i, sid, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY profile = nullptr;
        if (RegOpenKeyExW(list, sid, 0, KEY_READ, &profile) != ERROR_SUCCESS) continue;
        found = ProfileListPath(profile, L"ProfileImagePath", path) && visit(path, false);
        RegCloseKey(profile);
    }
    RegCloseKey(list);
    return found;
}

// The account that runs the setup decides what lies in its own profile;
// anyone else's profile (and the shared ones) is written by its user, who
// could then swap what the elevated uninstall entry runs.
bool LiesInOthersProfile(const wchar_t* candidate)
{
    wchar_t own[MAX_PATH] = L"";
    ShellFolder(CSIDL_PROFILE, own);
    return AnyListedProfile([&](const wchar_t* profile, bool isRoot) {
        return !isRoot && !SameText(profile, own, -1) && CoversFolder(profile, candidate);
    });
}

bool IsUncPath(const wchar_t* path) { return path[0] == L'\\' && path[1] == L'\\'; }

}  // namespace

const wchar_t* VolumeRefusal(UINT driveType, bool informationRead, DWORD fileSystemFlags)
{
    if (driveType == DRIVE_REMOTE) return L"it is on a network drive";
    if (driveType == DRIVE_NO_ROOT_DIR || driveType == DRIVE_UNKNOWN || !informationRead)
        return L"its volume cannot be read";
    if (!(fileSystemFlags & FILE_PERSISTENT_ACLS)) return L"its volume keeps no access lists (FAT, exFAT or the like)";
    return nullptr;
}

bool FinalPathOfHandle(HANDLE item, wchar_t* out)
{
    if (!FinalPathOfObject(item, out)) return false;
    TrimTrailingBackslashes(out);
    return out[0] != L'\0';
}

bool NormalizeFolderPath(const wchar_t* path, wchar_t* out) { return NormalizePath(path, out, true); }

bool ResolveFolderPath(const wchar_t* path, wchar_t* out)
{
    wchar_t text[MAX_PATH];
    if (!NormalizeFolderPath(path, text)) return false;
    // The deepest part that exists, resolved, and the rest as written.
    size_t split = wcslen(text);
    for (;;) {
        wchar_t existing[MAX_PATH];
        BoundedCopyN(existing, MAX_PATH, text, split);
        if (split > 0 && existing[split - 1] == L':') BoundedAppend(existing, MAX_PATH, L"\\");
        wchar_t resolved[MAX_PATH];
        if (PathExists(existing) && FinalPathOf(existing, resolved)) {
            return BoundedFormat(out, MAX_PATH, L"%s%s", resolved, text + split) < MAX_PATH - 1;
        }
        const wchar_t* last = nullptr;
        for (const wchar_t* p = text; p < text + split; ++p)
            if (*p == L'\\') last = p;
        if (!last || static_cast<size_t>(last - text) < RootLength(text)) break;
        split = static_cast<size_t>(last - text);
    }
    BoundedCopy(out, MAX_PATH, text);
    return true;
}

bool IsSameFolder(const wchar_t* a, const wchar_t* b)
{
    wchar_t ra[MAX_PATH], rb[MAX_PATH];
    return ResolveFolderPath(a, ra) && ResolveFolderPath(b, rb) && SameText(ra, rb, -1);
}

bool LiesStrictlyBelow(const wchar_t* inner, const wchar_t* outer)
{
    wchar_t ri[MAX_PATH], ro[MAX_PATH];
    if (!ResolveFolderPath(inner, ri) || !ResolveFolderPath(outer, ro)) return false;
    size_t o = wcslen(ro);
    return wcslen(ri) > o + 1 && SameText(ri, ro, static_cast<int>(o)) && ri[o] == L'\\';
}

bool IsOrLiesBelowLink(const wchar_t* path)
{
    wchar_t text[MAX_PATH];
    // Each existing part on its own. (Its resolved path is no test: a
    // substituted or mapped drive resolves to another name without a link.)
    return !NormalizeFolderPath(path, text) || HasReparsePointOnTheWay(text, true);
}

bool FamilyDataFolder(wchar_t* out)
{
    wchar_t family[MAX_PATH] = L"";
    if (!ShellFolder(CSIDL_COMMON_APPDATA, family)) return false;
    ComposeDataFolder(family, L"");
    return NormalizeFolderPath(family, out);
}

bool IsGuardedFolder(const wchar_t* path)
{
    wchar_t candidate[MAX_PATH];
    if (!NormalizeFolderPath(path, candidate) || IsVolumeRoot(candidate)) return true;

    wchar_t guarded[MAX_PATH];
    // The Windows folder with everything in it (system32\drivers as much as system32).
    if (ShellFolder(CSIDL_WINDOWS, guarded) &&
        (CoversFolder(candidate, guarded) || CoversFolder(guarded, candidate)))
        return true;
    for (int csidl : kGuardedFolders) {
        if (ShellFolder(csidl, guarded) && CoversFolder(candidate, guarded)) return true;
    }

    // The profiles root and every user's profile folder directly below it.
    wchar_t profile[MAX_PATH], profilesRoot[MAX_PATH], parent[MAX_PATH];
    if (ShellFolder(CSIDL_PROFILE, profile) && ParentOf(profile, profilesRoot)) {
        if (CoversFolder(candidate, profilesRoot)) return true;
        if (ParentOf(candidate, parent) && SameText(parent, profilesRoot, -1)) return true;
    }
    // Every account's, as the profile list names them, wherever they lie.
    if (AnyListedProfile([&](const wchar_t* listed, bool) { return CoversFolder(candidate, listed); })) return true;

    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n > 0 && n < MAX_PATH && NormalizeFolderPath(temp, guarded) && CoversFolder(candidate, guarded)) return true;

    return FamilyDataFolder(guarded) && CoversFolder(candidate, guarded);
}

const wchar_t* InstallFolderRefusal(const wchar_t* path)
{
    wchar_t folder[MAX_PATH], family[MAX_PATH];
    if (!NormalizeFolderPath(path, folder)) return L"it is no full path on a drive";
    // Judged by its name alone: nothing on a share is looked at.
    if (IsUncPath(folder)) return L"it is a network path";
    if (IsGuardedFolder(folder)) return L"it is a folder of the system or of the users, or holds one";
    if (LiesInOthersProfile(folder)) return L"it lies in another account's profile";
    if (FamilyDataFolder(family) && LiesStrictlyBelow(folder, family)) return L"it lies in the family's data folder";
    wchar_t volume[MAX_PATH];
    DWORD flags = 0;
    // A drive that does not exist would be answered with the boot volume.
    if (!GetVolumePathNameW(folder, volume, MAX_PATH) || !SameText(volume, folder, 1))
        BoundedFormat(volume, MAX_PATH, L"%c:\\", folder[0]);
    UINT type = GetDriveTypeW(volume);
    bool read = type != DRIVE_REMOTE &&
                GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) != FALSE;
    if (const wchar_t* refusal = VolumeRefusal(type, read, flags)) return refusal;
    if (IsOrLiesBelowLink(folder)) return L"it is, or lies below, a link";
    return nullptr;
}

bool IsUsableInstallFolder(const wchar_t* path) { return InstallFolderRefusal(path) == nullptr; }
