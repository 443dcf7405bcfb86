#include "files/secure_folder.h"

#include <sddl.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/link_checks.h"
#include "base/run_log.h"
#include "files/folder_guard.h"
#include "files/folder_listing.h"

namespace {

// The product's folders: SYSTEM and Administrators full control, users and
// app containers (S-1-15-2-1) read and execute, nothing inherited. The SID
// is written out: Windows 7 does not know the abbreviation "AC".
const wchar_t kFolderSddl[] =
    L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;S-1-15-2-1)";
// What such a folder passes on to a folder and to a file in it.
const wchar_t kChildFolderSddl[] =
    L"O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)(A;OICIID;0x1200a9;;;S-1-15-2-1)";
const wchar_t kChildFileSddl[] =
    L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;ID;0x1200a9;;;S-1-15-2-1)";
const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3425870976-2211012766-2064007488-2398429869";

// Rights that let their holder change what the folder holds or who may.
const ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                 WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
const int kMaxDepth = 32;

class Descriptor {
public:
    explicit Descriptor(const wchar_t* sddl)
    {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd_, nullptr))
            sd_ = nullptr;
    }
    ~Descriptor()
    {
        if (sd_) LocalFree(sd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    PSECURITY_DESCRIPTOR get() const { return sd_; }

private:
    PSECURITY_DESCRIPTOR sd_ = nullptr;
};

// An administrator opens and takes over what another account owns through
// these; enabled for the take-over only, as backup semantics with them
// enabled pass every access list.
class TakeOverPrivileges {
public:
    TakeOverPrivileges()
    {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token_)) {
            token_ = nullptr;
            return;
        }
        struct {
            DWORD count;
            LUID_AND_ATTRIBUTES privileges[3];
        } wanted{3, {}};
        const wchar_t* names[3] = {SE_RESTORE_NAME, SE_TAKE_OWNERSHIP_NAME, SE_BACKUP_NAME};
        for (int i = 0; i < 3; ++i) {
            LookupPrivilegeValueW(nullptr, names[i], &wanted.privileges[i].Luid);
            wanted.privileges[i].Attributes = SE_PRIVILEGE_ENABLED;
        }
        DWORD length = sizeof previous_;
        if (!AdjustTokenPrivileges(token_, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted), sizeof previous_,
                                   reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_), &length))
            previous_.count = 0;
    }
    ~TakeOverPrivileges()
    {
        if (!token_) return;
        if (previous_.count)
            AdjustTokenPrivileges(token_, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_), 0, nullptr, nullptr);
        CloseHandle(token_);
    }
    TakeOverPrivileges(const TakeOverPrivileges&) = delete;
    TakeOverPrivileges& operator=(const TakeOverPrivileges&) = delete;

private:
    HANDLE token_ = nullptr;
    struct {
        DWORD count;
        LUID_AND_ATTRIBUTES privileges[3];
    } previous_{0, {}};
};

bool IsTrustedSid(PSID sid)
{
    if (!sid || !IsValidSid(sid)) return false;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
        IsWellKnownSid(sid, WinCreatorOwnerSid))
        return true;
    PSID installer = nullptr;
    if (!ConvertStringSidToSidW(kTrustedInstaller, &installer)) return false;
    bool same = EqualSid(sid, installer) != FALSE;
    LocalFree(installer);
    return same;
}

// Owned by SYSTEM, the Administrators or the system's installer, and nobody
// else may write, delete or change the access list.
bool IsTrustedObject(HANDLE object)
{
    BYTE buffer[4096];
    DWORD needed = 0;
    auto* sd = reinterpret_cast<PSECURITY_DESCRIPTOR>(buffer);
    if (!GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, sd, sizeof buffer,
                                 &needed))
        return false;
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorOwner(sd, &owner, &defaulted) || !IsTrustedSid(owner)) return false;
    // No list at all lets everyone in.
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present || !dacl) return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return false;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE) continue;
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        if (!(allowed->Mask & kWriteRights)) continue;
        // Object entries carry their SID elsewhere: they count as others'.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
            return false;
        if (!IsTrustedSid(reinterpret_cast<PSID>(&allowed->SidStart))) return false;
    }
    return true;
}

// Opens the item itself, never what a link points to; with the right to
// delete it when nobody holds it without sharing that.
HANDLE OpenItem(const wchar_t* path, bool forDeletion)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    DWORD access = READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES;
    if (forDeletion) {
        HANDLE item = CreateFileW(path, access | DELETE | FILE_WRITE_ATTRIBUTES, share, nullptr, OPEN_EXISTING, flags,
                                  nullptr);
        if (item != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) return item;
    }
    return CreateFileW(path, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

// The owner and list of the descriptor, written to the item itself and to
// nothing below it.
bool WriteSecurity(HANDLE item, PSECURITY_DESCRIPTOR sd)
{
    if (SetKernelObjectSecurity(item, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, sd)) return true;
    // A token that may not name the Administrators as owner still sets the list.
    return GetLastError() == ERROR_INVALID_OWNER && SetKernelObjectSecurity(item, DACL_SECURITY_INFORMATION, sd);
}

// The folder above a normalized folder; the root keeps its backslash ("C:"
// alone would name a current folder). Null when there is none.
const wchar_t* ParentFolder(const wchar_t* folder, wchar_t* parent /* MAX_PATH */)
{
    const wchar_t* name = wcsrchr(folder, L'\\');
    if (!name || !name[1] || name == folder) return nullptr;
    BoundedCopyN(parent, MAX_PATH, folder, static_cast<size_t>(name - folder) + (name[-1] == L':' ? 1 : 0));
    return name;
}

// The handle is the folder itself, not what a link put in its place after
// the path was checked: its final path is its parent's, resolved, followed
// by its own name.
bool IsOpenedAsItself(HANDLE item, const wchar_t* folder)
{
    wchar_t parent[MAX_PATH], expected[MAX_PATH], actual[MAX_PATH];
    const wchar_t* name = ParentFolder(folder, parent);
    if (!name || !ResolveFolderPath(parent, expected) || !FinalPathOfHandle(item, actual)) return false;
    BoundedAppend(expected, MAX_PATH, name);
    return CompareStringOrdinal(actual, -1, expected, -1, TRUE) == CSTR_EQUAL;
}

// A reparse point that stands for another name (a junction, a symbolic
// link) is a link; the others (deduplicated, remote-storage and cloud
// files) are the file itself, and their data is nowhere else.
bool IsLinkItem(HANDLE item, DWORD attributes)
{
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    // A tag that cannot be read: taken for a link, and never followed.
    if (!GetFileInformationByHandleEx(item, FileAttributeTagInfo, &tag, sizeof tag)) return true;
    return IsReparseTagNameSurrogate(tag.ReparseTag) != 0;
}

// What the listing showed as a reparse point still shows as one once
// opened: some systems follow every link, and the handle is then the
// target's, which is never to be changed.
bool OpenedAsListed(DWORD listedAttributes, const BY_HANDLE_FILE_INFORMATION& info)
{
    return !(listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A link opened as itself shows its reparse mark; one that was followed
// (some systems cannot open a link as itself) does not and stays.
bool RemoveLink(const wchar_t* path)
{
    HANDLE item = OpenItem(path, true);
    if (item == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    bool removed = GetFileInformationByHandle(item, &info) && IsLinkItem(item, info.dwFileAttributes) &&
                   DeleteByHandle(item);
    CloseHandle(item);
    if (removed) RunLog(L"Removed (a link in a folder others could write): %s", path);
    else RunLog(L"FAILED: a link could not be removed as itself: %s", path);
    return removed;
}

// Nothing in the folder is a link or a second name of a file, and (below
// the family folder, where other products keep their data) nothing is
// owned by or open to others; data files are everyone's by design.
bool IsContentTrusted(const wchar_t* folder, ProductFolder use, int depth)
{
    if (depth > kMaxDepth) return false;
    bool trusted = true;
    bool listed = ForEachChild(folder, [&](const wchar_t* path, DWORD listedAttributes) {
        HANDLE item = OpenItem(path, false);
        BY_HANDLE_FILE_INFORMATION info{};
        bool readable = item != INVALID_HANDLE_VALUE && GetFileInformationByHandle(item, &info) &&
                        OpenedAsListed(listedAttributes, info);
        bool isFolder = readable && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        trusted = readable && !IsLinkItem(item, info.dwFileAttributes) &&
                  (isFolder || info.nNumberOfLinks == 1) &&
                  (use == ProductFolder::Family || ((isFolder || use == ProductFolder::Install) && IsTrustedObject(item)) ||
                   (!isFolder && use == ProductFolder::Data));
        if (item != INVALID_HANDLE_VALUE) CloseHandle(item);
        if (trusted && isFolder && use != ProductFolder::Family) trusted = IsContentTrusted(path, use, depth + 1);
        return trusted;
    });
    return listed && trusted;
}

struct Descriptors {
    Descriptor folder{kFolderSddl}, childFolder{kChildFolderSddl}, childFile{kChildFileSddl};
    bool Valid() const { return folder.get() && childFolder.get() && childFile.get(); }
};

// Before anything is changed: every entry below the folder can be opened
// for the take-over, and the tree is not deeper than the take-over goes (the
// family folder: its own entries only). A tree that would be left half
// taken over is not touched at all.
bool SurveyContent(const wchar_t* folder, ProductFolder use, int depth)
{
    if (depth > kMaxDepth) {
        RunLog(L"Not taken over: more than %d folders deep: %s", kMaxDepth, folder);
        return false;
    }
    bool ok = true;
    bool listed = ForEachChild(folder, [&](const wchar_t* path, DWORD listedAttributes) {
        HANDLE item = OpenItem(path, false);
        BY_HANDLE_FILE_INFORMATION info{};
        ok = item != INVALID_HANDLE_VALUE && GetFileInformationByHandle(item, &info);
        if (!ok) RunLogFailure(L"Not taken over (an entry cannot be changed)", path, GetLastError());
        else if (!(ok = OpenedAsListed(listedAttributes, info)))
            RunLog(L"Not taken over: a link that cannot be opened as itself: %s", path);
        bool descend = ok && use != ProductFolder::Family && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                       !IsLinkItem(item, info.dwFileAttributes);
        if (item != INVALID_HANDLE_VALUE) CloseHandle(item);
        if (descend) ok = SurveyContent(path, use, depth + 1);
        return ok;
    });
    if (!listed) RunLogFailure(L"Not taken over (it cannot be listed)", folder, GetLastError());
    return listed && ok;
}

// A second name of a file whose other names may lie anywhere: writing it
// would write them all. This name gets a copy of its own, and the data
// stays under every other name.
bool GiveOwnCopy(const wchar_t* path)
{
    wchar_t copy[MAX_PATH];
    const bool named = BoundedFormat(copy, MAX_PATH, L"%s.zerda-copy", path) < MAX_PATH - 1;
    const bool copied = named && CopyFileW(path, copy, TRUE);
    const bool replaced = copied && MoveFileExW(copy, path, MOVEFILE_REPLACE_EXISTING);
    DWORD error = GetLastError();
    if (replaced) {
        RunLog(L"Given a copy of its own (it was a second name of another file): %s", path);
    } else {
        if (copied) DeleteFileW(copy);
        RunLogFailure(L"A second name of another file could not be given a copy of its own", path, error);
    }
    return replaced;
}

// One entry of a folder taken over: a link goes, a second name gets a copy
// of its own, anything else gets the list its folder passes on (the family
// folder's other products' folders stay as they are). False when it could
// not be done.
bool TakeOverItem(const wchar_t* path, DWORD listedAttributes, ProductFolder use, const Descriptors& sds, int depth);

bool TakeOverContent(const wchar_t* folder, ProductFolder use, const Descriptors& sds, int depth)
{
    if (depth > kMaxDepth) return false;
    bool ok = true;
    bool listed = ForEachChild(folder, [&](const wchar_t* path, DWORD listedAttributes) {
        ok = TakeOverItem(path, listedAttributes, use, sds, depth) && ok;
        return true;
    });
    return listed && ok;
}

bool TakeOverItem(const wchar_t* path, DWORD listedAttributes, ProductFolder use, const Descriptors& sds, int depth)
{
    HANDLE item = OpenItem(path, true);
    BY_HANDLE_FILE_INFORMATION info{};
    if (item == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(item, &info)) {
        RunLogFailure(L"Not taken over", path, GetLastError());
        if (item != INVALID_HANDLE_VALUE) CloseHandle(item);
        return false;
    }
    bool isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!OpenedAsListed(listedAttributes, info) || IsLinkItem(item, info.dwFileAttributes)) {
        CloseHandle(item);
        return RemoveLink(path);
    }
    if (!isFolder && info.nNumberOfLinks > 1) {
        // The copy takes the list the folder passes on.
        CloseHandle(item);
        return GiveOwnCopy(path);
    }
    if (use == ProductFolder::Family) {
        CloseHandle(item);
        return true;
    }
    bool written = WriteSecurity(item, isFolder ? sds.childFolder.get() : sds.childFile.get());
    DWORD error = GetLastError();
    CloseHandle(item);
    if (!written) {
        RunLogFailure(L"Not taken over", path, error);
        return false;
    }
    return !isFolder || TakeOverContent(path, use, sds, depth + 1);
}

// Folders taken over in this run, each "<path>\".
const int kMaxDistrusted = 4;
wchar_t g_distrusted[kMaxDistrusted][MAX_PATH];
int g_distrustedCount = 0;

void Distrust(const wchar_t* folder)
{
    for (int i = 0; i < g_distrustedCount; ++i)
        if (CompareStringOrdinal(g_distrusted[i], -1, folder, -1, TRUE) == CSTR_EQUAL) return;
    if (g_distrustedCount < kMaxDistrusted) BoundedCopy(g_distrusted[g_distrustedCount++], MAX_PATH, folder);
}

// The folders this run made with the product's list, by file identity: found
// again under their names they are still the product's alone (only the
// Administrators and SYSTEM could have changed them), and need no second look.
struct MadeFolder {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};
constexpr int kMaxMadeFolders = 8;
MadeFolder g_made[kMaxMadeFolders];
int g_madeCount = 0;

void RememberMadeFolder(const wchar_t* folder)
{
    HANDLE item = OpenItem(folder, false);
    BY_HANDLE_FILE_INFORMATION info{};
    if (item != INVALID_HANDLE_VALUE && GetFileInformationByHandle(item, &info) && g_madeCount < kMaxMadeFolders)
        g_made[g_madeCount++] = MadeFolder{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    if (item != INVALID_HANDLE_VALUE) CloseHandle(item);
}

bool WasMadeByThisRun(const BY_HANDLE_FILE_INFORMATION& info)
{
    for (int i = 0; i < g_madeCount; ++i)
        if (g_made[i].volume == info.dwVolumeSerialNumber && g_made[i].indexHigh == info.nFileIndexHigh &&
            g_made[i].indexLow == info.nFileIndexLow)
            return true;
    return false;
}

bool CreateOwnFolder(const wchar_t* path, const Descriptor& sd)
{
    SECURITY_ATTRIBUTES attributes{sizeof attributes, sd.get(), FALSE};
    if (CreateDirectoryW(path, &attributes)) return true;
    if (GetLastError() != ERROR_INVALID_OWNER) return false;
    // A token that may not name the Administrators as owner keeps its own.
    Descriptor listOnly(kFolderSddl + 4);
    attributes.lpSecurityDescriptor = listOnly.get();
    return listOnly.get() && CreateDirectoryW(path, &attributes);
}

// Every missing folder above `folder` is made with the product's list too.
void CreateMissingParents(const wchar_t* folder, const Descriptor& sd)
{
    wchar_t part[MAX_PATH];
    BoundedCopy(part, MAX_PATH, folder);
    // Past "C:\" or "\\server\share\".
    wchar_t* p = part[0] == L'\\' ? wcschr(part + 2, L'\\') : part + 2;
    if (p && part[0] == L'\\') p = wcschr(p + 1, L'\\');
    for (p = p ? wcschr(p + 1, L'\\') : nullptr; p; p = wcschr(p + 1, L'\\')) {
        *p = L'\0';
        if (GetFileAttributesW(part) == INVALID_FILE_ATTRIBUTES && CreateOwnFolder(part, sd))
            RunLog(L"Created: %s", part);
        *p = L'\\';
    }
}

// Where the use allows the folder at all.
bool IsPlaceForUse(const wchar_t* folder, ProductFolder use)
{
    if (use == ProductFolder::Install) return IsUsableInstallFolder(folder);
    wchar_t family[MAX_PATH];
    if (!FamilyDataFolder(family)) return false;
    return use == ProductFolder::Family ? IsSameFolder(folder, family) : LiesStrictlyBelow(folder, family);
}

}  // namespace

bool SecureProductFolder(const wchar_t* path, ProductFolder use)
{
    wchar_t folder[MAX_PATH], parent[MAX_PATH];
    if (!NormalizeFolderPath(path, folder) || !IsPlaceForUse(folder, use)) {
        RunLog(L"Refused as a folder of the product: %s", path ? path : L"");
        return false;
    }
    if (!ParentFolder(folder, parent) || IsOrLiesBelowLink(parent)) {
        RunLog(L"Refused: a folder above %s is a link", folder);
        return false;
    }
    Descriptors sds;
    if (!sds.Valid()) {
        RunLogFailure(L"No access list for the product's folders", folder, GetLastError());
        return false;
    }
    CreateMissingParents(folder, sds.folder);

    DWORD attributes = GetFileAttributesW(folder);
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
                   IsOrLiesBelowLink(folder))) {
        // A link or a file under the name of a folder that is wholly the
        // product's goes; a link chosen as the install folder is refused.
        if (use == ProductFolder::Install) {
            RunLog(L"Refused: the install folder %s is a link or no folder", folder);
            return false;
        }
        TakeOverPrivileges privileges;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? !RemoveLink(folder) : !DeleteFileW(folder)) return false;
        exists = false;
    }
    if (!exists) {
        if (CreateOwnFolder(folder, sds.folder)) {
            RunLog(L"Created: %s", folder);
            RememberMadeFolder(folder);
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            RunLogFailure(L"Not created", folder, GetLastError());
            return false;
        }
    }

    TakeOverPrivileges privileges;
    HANDLE item = OpenItem(folder, false);
    BY_HANDLE_FILE_INFORMATION info{};
    if (item == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(item, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !IsOpenedAsItself(item, folder)) {
        RunLogFailure(L"Refused: not opened as a folder of its own", folder, GetLastError());
        if (item != INVALID_HANDLE_VALUE) CloseHandle(item);
        return false;
    }
    if (WasMadeByThisRun(info) || (IsTrustedObject(item) && IsContentTrusted(folder, use, 0))) {
        CloseHandle(item);
        return true;
    }
    if (!SurveyContent(folder, use, 0)) {
        CloseHandle(item);
        return false;
    }
    RunLog(L"Taken over (owned by or open to others): %s", folder);
    bool written = WriteSecurity(item, sds.folder.get());
    DWORD error = GetLastError();
    CloseHandle(item);
    if (!written) {
        RunLogFailure(L"Not taken over", folder, error);
        return false;
    }
    Distrust(folder);
    return TakeOverContent(folder, use, sds, 0);
}

bool IsDistrustedDestination(const wchar_t* path)
{
    if (!path) return false;
    for (int i = 0; i < g_distrustedCount; ++i) {
        size_t n = wcslen(g_distrusted[i]);
        if (wcslen(path) > n && CompareStringOrdinal(path, static_cast<int>(n), g_distrusted[i], static_cast<int>(n), TRUE) == CSTR_EQUAL &&
            path[n] == L'\\')
            return true;
    }
    return false;
}
