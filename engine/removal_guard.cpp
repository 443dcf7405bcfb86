#include "engine/removal_guard.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/shared_routines.h"

namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

void TrimTrailingBackslashes(wchar_t* text)
{
    size_t n = wcslen(text);
    while (n > 0 && text[n - 1] == L'\\') text[--n] = L'\0';
}

// Full, long-form path without trailing backslash; false when the text is not
// an absolute drive or network path.
bool NormalizeFolder(const wchar_t* path, wchar_t* out /* MAX_PATH */)
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
    n = GetLongPathNameW(full, longForm, MAX_PATH);
    if (n > 0 && n < MAX_PATH) BoundedCopy(full, MAX_PATH, longForm);
    TrimTrailingBackslashes(full);
    BoundedCopy(out, MAX_PATH, full);
    return out[0] != L'\0';
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

bool ParentOf(const wchar_t* normalized, wchar_t* parent /* MAX_PATH */)
{
    BoundedCopy(parent, MAX_PATH, normalized);
    wchar_t* last = wcsrchr(parent, L'\\');
    if (!last) return false;
    *last = L'\0';
    return parent[0] != L'\0';
}

bool ShellFolder(int csidl, wchar_t* out /* MAX_PATH */)
{
    wchar_t raw[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, raw))) return false;
    return NormalizeFolder(raw, out);
}

const int kGuardedFolders[] = {
    CSIDL_WINDOWS,          CSIDL_SYSTEM,          CSIDL_SYSTEMX86,
    CSIDL_PROGRAM_FILES,    CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
    CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_APPDATA,
    CSIDL_LOCAL_APPDATA,    CSIDL_PROFILE,          CSIDL_COMMON_STARTMENU,
    CSIDL_STARTMENU,        CSIDL_COMMON_PROGRAMS,  CSIDL_PROGRAMS,
    CSIDL_COMMON_STARTUP,   CSIDL_STARTUP,          CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DOCUMENTS, CSIDL_PERSONAL,
    CSIDL_FONTS,
};

}  // namespace

bool IsFolderSafeToRemove(const wchar_t* path)
{
    wchar_t candidate[MAX_PATH];
    if (!NormalizeFolder(path, candidate)) return false;
    if (IsVolumeRoot(candidate)) return false;

    wchar_t guarded[MAX_PATH];
    for (int csidl : kGuardedFolders) {
        if (ShellFolder(csidl, guarded) && CoversFolder(candidate, guarded)) return false;
    }

    // The profiles root and every user's profile folder directly below it.
    wchar_t profile[MAX_PATH], profilesRoot[MAX_PATH], parent[MAX_PATH];
    if (ShellFolder(CSIDL_PROFILE, profile) && ParentOf(profile, profilesRoot)) {
        if (CoversFolder(candidate, profilesRoot)) return false;
        if (ParentOf(candidate, parent) && SameText(parent, profilesRoot, -1)) return false;
    }

    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n > 0 && n < MAX_PATH && NormalizeFolder(temp, guarded) && CoversFolder(candidate, guarded)) return false;

    // <CommonAppData>\ZerdaIME3 holds the data of every product of the family.
    wchar_t family[MAX_PATH] = L"";
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, family))) {
        ComposeDataFolder(family, L"");
        if (NormalizeFolder(family, guarded) && CoversFolder(candidate, guarded)) return false;
    }
    return true;
}
