#include "files/place.h"

#include <cwchar>

#include "base/bounded_string.h"
#include "base/placed_record.h"
#include "base/shared_routines.h"
#include "base/run_log.h"
#include "base/run_options.h"
#include "base/setup_context.h"
#include "files/access_grant.h"
#include "files/brief_hold.h"
#include "files/folder_listing.h"
#include "files/held_file.h"
#include "files/in_use.h"
#include "files/secure_folder.h"
#include "files/version_info.h"
#include "platform/prompt.h"
#include "platform/window.h"

namespace {

const wchar_t kConflictCaption[] = L"ھۆججەت ئېچىشتا توقۇنۇش كۆرۈلدى";
const wchar_t kNewerExistsText[] = L"ھۆججەت بۇرۇنلا مەۋجۈت ھەم نۇسخا نومۇرى ھازىرقىدىن تۆۋەن، داۋاملىق قاچىلىماقچى بولسىڭىز، بۇرۇنقى ھۆججەتلەر ئالماشتۇرىۋېتىلىدۇ، \r\nنىشان ھۆججەت:%s";
const wchar_t kProgramRunningText[] = L"%s\r\nپىروگرامما ئىجرا قىلىنىۋاتىدۇ،پىروگراممىنى تاقىغاندىن كىيىن قايتا سىناپ كۆرۈڭ";
const wchar_t kFileInUseText[] = L"%s\r\nپىروگرامما ئىجرا قىلىنىۋاتىدۇ،پىروگراممىنى تاقىغاندىن كىيىن قايتا سىناپ كۆرۈڭ\r\n\r\nتەكشۈرۈپ كۆرۈڭ:\r\n1）كىرگۈزگۈچ ئىجرا قىلىنىۋاتامدۇ؟\r\n2）باشقا پىروگرامما كىرگۈزگۈچنى ئىشلىتىۋاتامدۇ يوق؟\r\n3）كىرگۈزگۈچ ھۆججىتى باشقا پىروگراممىدا ئېچىلىۋاتقانمۇ يوق؟";

const int kPromptChars = 512;
// Silent end-and-retry rounds for the companion tool before the user is asked.
const int kCompanionRounds = 3;

struct FileKind {
    bool program;    // ".exe"
    bool versioned;  // ".exe", ".dll" or ".ime"
    bool companion;  // the companion tool
};

// Decided on the lower-cased destination, anywhere in the path.
FileKind ClassifyDestination(const wchar_t* lowered)
{
    FileKind kind;
    kind.program = std::wcsstr(lowered, L".exe") != nullptr;
    kind.versioned = kind.program || std::wcsstr(lowered, L".dll") || std::wcsstr(lowered, L".ime");
    kind.companion = kind.program && std::wcsstr(lowered, L"\\tools\\varekinputtool.exe") != nullptr;
    return kind;
}

bool NothingToPlace(const wchar_t* source, const wchar_t* destination)
{
    return !source || !source[0] || EqualsIgnoreAsciiCase(source, destination);
}

// False when an existing newer destination is to be kept.
bool MayReplaceVersion(const wchar_t* source, const wchar_t* destination)
{
    uint64_t present = GetFileVersionNumber(destination);
    uint64_t incoming = GetFileVersionNumber(source);
    if (present <= incoming) return true;
    // Someone else could write where it lies: its version number proves nothing.
    if (IsDistrustedDestination(destination)) {
        RunLog(L"Replaced: %s (a newer version found in a folder others could write)", destination);
        return true;
    }
    wchar_t text[kPromptChars];
    BoundedFormat(text, kPromptChars, kNewerExistsText, destination);
    if (ShowMessageBox(GetMainWindowHandle(), text, kConflictCaption, MB_YESNO | MB_ICONQUESTION) == IDYES) return true;
    RunLog(L"Kept: %s (the file on the machine is newer)", destination);
    return false;
}

// The data folder's files, which the input method and its configuration
// program change as the user; nothing else of the product.
bool IsUserDataFile(const wchar_t* destination)
{
    const wchar_t* data = g_setup.dataFolder;
    size_t n = std::wcslen(data);
    return n > 3 && data[1] == L':' && EndsWithBackslash(data) && std::wcslen(destination) > n &&
           CompareStringOrdinal(destination, static_cast<int>(n), data, static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

// Opens a placed file to every user and app container: the data files with
// full access, everything else (programs, libraries, the backup, the help
// file, the licence page, skins) for reading and running only. A file any
// user could replace would reach whoever opens or loads it next, the
// elevated repair and uninstall included.
DWORD PlacedFileRights(const wchar_t* path)
{
    return IsUserDataFile(path) ? GENERIC_ALL : (GENERIC_READ | GENERIC_EXECUTE);
}

const WellKnownAccount kPlacedAccounts[] = {WellKnownAccount::kAllApplicationPackages, WellKnownAccount::kEveryone};

// One rewrite for both, leaving what one grant after the other would.
int GrantPlacedFile(const wchar_t* destination)
{
    return GrantFileAccess(destination, kPlacedAccounts, 2, PlacedFileRights(destination));
}

// The lists that files moved by one placement get, one per folder (and
// rights): composed from a file made in the folder, as a copy would start.
class MovedFileLists {
public:
    // Writes onto the part the list a copy there ends with once granted.
    bool Give(const wchar_t* part)
    {
        wchar_t folder[MAX_PATH];
        BoundedCopy(folder, MAX_PATH, part);
        wchar_t* name = std::wcsrchr(folder, L'\\');
        if (!name) return false;
        *name = L'\0';
        DWORD rights = PlacedFileRights(part);
        Entry* entry = nullptr;
        for (Entry& e : entries_)
            if (e.composed && e.rights == rights && std::wcscmp(e.folder, folder) == 0) entry = &e;
        if (!entry) {
            entry = &entries_[next_];
            next_ = (next_ + 1) % kEntries;
            BoundedCopy(entry->folder, MAX_PATH, folder);
            entry->rights = rights;
            entry->composed = entry->list.Compose(folder, kPlacedAccounts, 2, rights);
            if (!entry->composed) return false;
        }
        return entry->list.WriteTo(part);
    }

private:
    static const int kEntries = 4;
    struct Entry {
        wchar_t folder[MAX_PATH] = L"";
        DWORD rights = 0;
        bool composed = false;
        FolderGrantedList list;
    };
    Entry entries_[kEntries];
    int next_ = 0;
};

// The file a placement takes its content from. A source the caller lets go
// once it is placed is moved instead of copied where that leaves the same
// file: on the destination's volume, and neither it nor the destination's
// folder compressed or encrypted (a copy takes on the folder's way of
// storing, a moved file keeps its own).
struct Source {
    const wchar_t* path;
    MovedFileLists* lists;  // null: copied
    bool moved;             // it lies under the part or final name now, not at path
    bool granted;           // and has its final list already
    bool replaces;          // something was at the destination before
};

const DWORD kStorageAttributes = FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_ENCRYPTED;

Source SourceToCopy(const wchar_t* path) { return Source{path, nullptr, false, false, false}; }

Source SourceToMove(const wchar_t* path, DWORD attributes, MovedFileLists& lists)
{
    bool movable = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & kStorageAttributes);
    return Source{path, movable ? &lists : nullptr, false, false, false};
}

// Whether the folder of path stores its files as they come. The walk places
// folder after folder: the last answer is kept.
bool IsPlainStorageFolderOf(const wchar_t* path)
{
    static wchar_t lastFolder[MAX_PATH] = L"";
    static bool lastPlain = false;
    wchar_t folder[MAX_PATH];
    BoundedCopy(folder, MAX_PATH, path);
    wchar_t* name = std::wcsrchr(folder, L'\\');
    if (!name) return false;
    *name = L'\0';
    if (std::wcscmp(folder, lastFolder) != 0) {
        DWORD attributes = GetFileAttributesW(folder);
        lastPlain = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & kStorageAttributes);
        BoundedCopy(lastFolder, MAX_PATH, folder);
    }
    return lastPlain;
}

// Moves the source to target and gives it the list a granted copy there
// ends with (source.granted). False (the source where it was) when it cannot
// be moved: on another volume, for one.
bool MoveSourceTo(Source& source, const wchar_t* target)
{
    source.granted = false;
    if (!source.lists || !IsPlainStorageFolderOf(target)) return false;
    if (!MoveFileExW(source.path, target, MOVEFILE_REPLACE_EXISTING)) return false;
    source.moved = true;
    source.granted = source.lists->Give(target);
    return true;
}

// Moves the source to the part name, granted (or, failing that, with the
// list the folder passes on, for the grant to follow). A list that cannot be
// reset sends the file back, so that it is copied instead.
bool MoveToPart(Source& source, const wchar_t* part)
{
    if (!MoveSourceTo(source, part)) return false;
    if (source.granted || ResetToInheritedAccess(part)) return true;
    DWORD error = GetLastError();
    if (MoveFileExW(part, source.path, 0)) {
        source.moved = false;
        ResetToInheritedAccess(source.path);
        return false;
    }
    // Its list is the work folder's, no wider than the one it should have.
    RunLogFailure(L"The access list of a moved file was not reset", part, error);
    return true;
}

// A moved file whose list could not be written takes the one its folder
// passes on, for the grant to follow.
void ResetUnlessGranted(const Source& source, const wchar_t* placed)
{
    if (!source.granted && !ResetToInheritedAccess(placed))
        RunLogFailure(L"The access list of a moved file was not reset", placed, GetLastError());
}

// A source on the destination's volume goes in with one rename, which
// leaves the old file or the whole new one at every moment: no part name is
// needed. Until its list is written it keeps the work folder's, which is
// narrower.
bool MoveIntoPlace(Source& source, const wchar_t* destination)
{
    if (!MoveSourceTo(source, destination)) return false;
    ResetUnlessGranted(source, destination);
    return true;
}

// Undoes the part: a moved source goes back where it was (with the list of
// that folder), a copy is deleted. The last error stays.
void DropPart(const wchar_t* part, Source& source)
{
    DWORD error = GetLastError();
    if (source.moved && MoveFileExW(part, source.path, MOVEFILE_REPLACE_EXISTING)) {
        source.moved = false;
        source.granted = false;
        ResetToInheritedAccess(source.path);
    } else {
        SetFileAttributesW(part, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(part);
    }
    SetLastError(error);
}

bool AskRetry(const wchar_t* format, const wchar_t* destination)
{
    wchar_t text[kPromptChars];
    BoundedFormat(text, kPromptChars, format, destination);
    return ShowMessageBox(GetMainWindowHandle(), text, kConflictCaption, MB_RETRYCANCEL) == IDRETRY;
}

// The name a new file is written under beside its destination; one fixed
// name, so that a run that was killed meanwhile leaves nothing a second run
// does not overwrite and rename.
bool PartPath(const wchar_t* destination, wchar_t* out /* MAX_PATH */)
{
    return BoundedFormat(out, MAX_PATH, L"%s.zerda-part", destination) < MAX_PATH - 1;
}

// Puts the source beside the destination under the part name, moved there
// or copied: a write that breaks off (a full disk, a write error, a killed
// run) never touches the destination. On failure the part goes, the source
// stays and the copy's error is kept.
bool WritePart(Source& source, const wchar_t* part)
{
    if (MoveToPart(source, part)) return true;
    // A part a killed run left behind may carry the source's read-only mark.
    SetFileAttributesW(part, FILE_ATTRIBUTE_NORMAL);
    if (MoveToPart(source, part)) return true;
    if (RetryWhileBrieflyHeld([&] { return CopyFileW(source.path, part, FALSE) != FALSE; })) return true;
    DWORD error = GetLastError();
    SetFileAttributesW(part, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(part);
    SetLastError(error);
    return false;
}

// A scanner that opens the fresh part for a moment is waited for: its hold is
// no program holding the destination.
bool MovePartInPlace(const wchar_t* part, const wchar_t* destination)
{
    return RetryWhileBrieflyHeld([&] { return MoveFileExW(part, destination, MOVEFILE_REPLACE_EXISTING) != FALSE; });
}

bool IsReadOnly(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// A read-only destination is never replaced. Windows refuses it in
// CopyFileW; Wine run by root does not, so it is checked here as well.
// The destination is replaced by a rename: it is the old file or the whole
// new one at every moment.
bool CopyOver(Source& source, const wchar_t* destination)
{
    if (IsReadOnly(destination)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (MoveIntoPlace(source, destination)) return true;
    wchar_t part[MAX_PATH];
    // No room for the part name beside it: the file is copied straight over.
    if (!PartPath(destination, part)) return CopyFileW(source.path, destination, FALSE) != FALSE;
    if (!WritePart(source, part)) return false;
    if (MovePartInPlace(part, destination)) return true;
    DropPart(part, source);
    return false;
}

// Replacement of a held destination without ending its holders: the new
// file is written beside it first, so that the destination is missing only
// between two renames, never for the length of a copy.
bool ReplaceHeldFile(Source& source, const wchar_t* destination, int includeModules32)
{
    wchar_t part[MAX_PATH];
    if (!PartPath(destination, part)) return false;
    if (!WritePart(source, part)) return false;
    wchar_t aside[MAX_PATH];
    if (!MoveHeldFileAside(destination, includeModules32, aside)) {
        DropPart(part, source);
        return false;
    }
    if (MovePartInPlace(part, destination)) return true;
    // The registered name must not stay empty: the old file comes back.
    DWORD error = GetLastError();
    MoveFileExW(aside, destination, 0);
    SetLastError(error);
    DropPart(part, source);
    return false;
}

// A moved file has its list already; a copied one is granted its entries.
int FinishPlaced(const Source& source, const wchar_t* destination)
{
    RunLog(L"Placed: %s", destination);
    NotePlaced(destination, kPlacedFile, source.replaces);
    return source.granted ? 1 : GrantPlacedFile(destination);
}

bool IsHeldError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_USER_MAPPED_FILE;
}

// A destination that a program holds is renamed aside, the new file put in
// its place and the old one deleted at the next restart; the holders are
// logged and the run ends with 3010. 1: placed and opened to everyone. A
// missing or read-only destination, or a copy that failed for another
// reason, is no held file: 0.
int PlaceOverHeldFile(Source& source, const wchar_t* destination, int includeModules32, DWORD error)
{
    DWORD attributes = GetFileAttributesW(destination);
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    bool readOnly = exists && (attributes & FILE_ATTRIBUTE_READONLY);
    if (exists && !readOnly && IsHeldError(error)) {
        if (ReplaceHeldFile(source, destination, includeModules32)) {
            return FinishPlaced(source, destination);
        }
        error = GetLastError();
    }
    RunLogFailure(readOnly ? L"Not placed (read-only destination)" : L"Not placed", destination, error);
    return 0;
}

// Copies over the destination until it works or the user gives up; the
// destination is already lower-cased. 1: copied and opened to everyone.
int CopyIntoPlace(Source& source, const wchar_t* destination, const FileKind& kind, int includeModules32)
{
    int companionRounds = 0;
    bool listShown = false;
    source.replaces = PathExists(destination);
    for (;;) {
        if (CopyOver(source, destination)) {
            return FinishPlaced(source, destination);
        }
        DWORD error = GetLastError();
        // Nobody is asked and no program is ended.
        if (IsUnattendedRun()) return PlaceOverHeldFile(source, destination, includeModules32, error);

        if (kind.companion && companionRounds < kCompanionRounds) {
            // End the running tool without asking and try again. When no tool
            // could be ended, one more attempt, then the user decides.
            ++companionRounds;
            DWORD tool = FindCompanionToolProcess();
            if (!tool || !TerminateProcessById(tool, 1000)) companionRounds = kCompanionRounds;
            continue;
        }
        if (kind.program) {
            if (!AskRetry(kProgramRunningText, destination)) return 0;
            companionRounds = 0;
            continue;
        }
        if (kind.versioned) {
            // A library or driver: the process list offers to end its
            // holders, and the first list of the run that ends with OK earns
            // one more copy. A file still held after the list (its holders
            // not ended, one come back, or one the list cannot see) goes in
            // as in a quiet run, at the next restart.
            // The person went on with the input method in use: its drivers
            // go that way at once.
            if (listShown || IsHeldUntilRestartAccepted(destination))
                return PlaceOverHeldFile(source, destination, includeModules32, error);
            INT_PTR answer = ShowLoadStatus(GetMainWindowHandle(), destination, includeModules32);
            listShown = true;
            if (answer == IDOK && g_bRetryAfterLoadStatus) {
                g_bRetryAfterLoadStatus = 0;
                continue;
            }
            return PlaceOverHeldFile(source, destination, includeModules32, error);
        }
        if (!AskRetry(kFileInUseText, destination)) return 0;
    }
}

// Joins folder base (ending with a backslash) and name into a path buffer;
// false when the path had to be cut to fit.
bool JoinPath(wchar_t* out, const wchar_t* base, const wchar_t* name)
{
    BoundedFormat(out, MAX_PATH, L"%s%s", base, name);
    return std::wcslen(base) + std::wcslen(name) < MAX_PATH;
}

// The folder with a trailing backslash, and the listing pattern.
void FolderBase(wchar_t* out, const wchar_t* folder)
{
    BoundedFormat(out, MAX_PATH, EndsWithBackslash(folder) ? L"%s" : L"%s\\", folder);
}

int PlaceOneFile(Source source, wchar_t* destination, int compareVersions, int includeModules32)
{
    if (!destination) return 0;
    LowerAsciiInPlace(destination);
    FileKind kind = ClassifyDestination(destination);
    if (NothingToPlace(source.path, destination)) return 1;
    if (compareVersions && kind.versioned && !MayReplaceVersion(source.path, destination)) return 1;
    return CopyIntoPlace(source, destination, kind, includeModules32);
}

}  // namespace

int PlaceFile(const wchar_t* source, wchar_t* destination, int compareVersions, int includeModules32)
{
    return PlaceOneFile(SourceToCopy(source), destination, compareVersions, includeModules32);
}

int PlaceFileByMove(const wchar_t* source, wchar_t* destination, int compareVersions, int includeModules32)
{
    MovedFileLists lists;
    Source moving = SourceToMove(source, source ? GetFileAttributesW(source) : INVALID_FILE_ATTRIBUTES, lists);
    return PlaceOneFile(moving, destination, compareVersions, includeModules32);
}

namespace {

bool HasUpperCaseAscii(const wchar_t* text)
{
    for (; *text; ++text)
        if (*text >= L'A' && *text <= L'Z') return true;
    return false;
}

// Whether every file below the folder would be moved by the walk under the
// name it has: each path fits below the destination, no folder is a dot
// folder or a link (the walk passes dot folders over), no file is stored
// compressed or encrypted, and every file's name is lower case already (the
// walk lower-cases them, and a rename that changes only the case is not
// honoured everywhere).
bool IsWholeMovableTree(const wchar_t* sourceFolder, size_t destinationLength)
{
    bool movable = true;
    bool listed = ForEachChild(sourceFolder, [&](const wchar_t* path, DWORD attributes) {
        const wchar_t* name = std::wcsrchr(path, L'\\') + 1;
        // The destination's path of the entry: its folder, a backslash and the name.
        size_t length = destinationLength + 1 + std::wcslen(name);
        movable = length < MAX_PATH && !(attributes & (kStorageAttributes | FILE_ATTRIBUTE_REPARSE_POINT));
        if (movable && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            movable = name[0] != L'.' && IsWholeMovableTree(path, length);
        else if (movable)
            movable = !HasUpperCaseAscii(name);
        return movable;
    });
    return listed && movable;
}

// The files of a folder that was moved in whole, as the walk would have left
// each: the list a granted copy there ends with and a line in the log (with
// the path lower-cased, as the walk writes it); the folders with the list
// they inherit.
void FinishMovedTree(const wchar_t* folder, MovedFileLists& lists)
{
    if (!ResetToInheritedAccess(folder))
        RunLogFailure(L"The access list of a moved folder was not reset", folder, GetLastError());
    NotePlaced(folder, kPlacedFolder, false);
    ForEachChild(folder, [&](const wchar_t* listed, DWORD attributes) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            FinishMovedTree(listed, lists);
            return true;
        }
        wchar_t path[MAX_PATH];
        BoundedCopy(path, MAX_PATH, listed);
        LowerAsciiInPlace(path);
        Source moved{path, &lists, true, lists.Give(path), false};
        ResetUnlessGranted(moved, path);
        // As a file the walk could not grant: an unattended run does not end as a success.
        if (FinishPlaced(moved, path) != 1 && IsUnattendedRun()) SetRunResult(kExitFailure);
        return true;
    });
}

// A folder the destination does not have yet goes in with one rename, when
// that leaves what the walk would: nothing there to compare or replace.
bool MoveWholeFolder(const wchar_t* sourceFolder, const wchar_t* destinationFolder, MovedFileLists& lists)
{
    if (GetFileAttributesW(destinationFolder) != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    DWORD attributes = GetFileAttributesW(sourceFolder);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (kStorageAttributes | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        !IsPlainStorageFolderOf(destinationFolder) ||
        !IsWholeMovableTree(sourceFolder, std::wcslen(destinationFolder)))
        return false;
    // Another volume refuses a folder's move: the walk copies then.
    if (!MoveFileExW(sourceFolder, destinationFolder, 0)) return false;
    FinishMovedTree(destinationFolder, lists);
    return true;
}

// nested: a folder of the tree, which the product's files make its own even
// when it was there already; the top folder is noted by whoever chose it.
int PlaceTree(const wchar_t* sourceFolder, const wchar_t* destinationFolder, int keepSources, MovedFileLists& lists,
              bool nested)
{
    const bool folderWasThere = PathExists(destinationFolder);
    if (CreateFolderPath(destinationFolder) && (nested || !folderWasThere))
        NotePlaced(destinationFolder, kPlacedFolder, folderWasThere);

    wchar_t pattern[MAX_PATH], sourceBase[MAX_PATH], destinationBase[MAX_PATH];
    BoundedFormat(pattern, MAX_PATH, EndsWithBackslash(sourceFolder) ? L"%s*" : L"%s\\*", sourceFolder);
    FolderBase(sourceBase, sourceFolder);
    FolderBase(destinationBase, destinationFolder);
    if (GetFileAttributesW(destinationBase) == INVALID_FILE_ATTRIBUTES && !CreateFolderPath(destinationBase))
        return 0;

    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return 1;
    // Every entry is examined, the first one included: "." and ".." fall
    // under the dot-folder rule, and a listing that does not start with "."
    // (a drive's root) loses no file.
    do {
        entry.cFileName[MAX_PATH - 1] = L'\0';
        wchar_t sourcePath[MAX_PATH], destinationPath[MAX_PATH];
        // A cut source path could name another file: such an entry is left
        // alone. A cut destination path is never written to; it counts as
        // a failed placement.
        if (!JoinPath(sourcePath, sourceBase, entry.cFileName)) continue;
        bool destinationFits = JoinPath(destinationPath, destinationBase, entry.cFileName);

        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (entry.cFileName[0] != L'.' && destinationFits &&
                (keepSources || !MoveWholeFolder(sourcePath, destinationPath, lists)))
                PlaceTree(sourcePath, destinationPath, keepSources, lists, true);
            continue;
        }

        LowerAsciiInPlace(destinationPath);
        FileKind kind = ClassifyDestination(destinationPath);
        if (NothingToPlace(sourcePath, destinationPath)) continue;

        bool dealtWith = destinationFits;
        Source source =
            keepSources ? SourceToCopy(sourcePath) : SourceToMove(sourcePath, entry.dwFileAttributes, lists);
        if (destinationFits && (!kind.versioned || MayReplaceVersion(sourcePath, destinationPath)))
            dealtWith = CopyIntoPlace(source, destinationPath, kind, 0) == 1;

        if (!dealtWith) {
            // The steps do not judge the tree's placement: an unattended run
            // must not end as a success with a file missing.
            if (IsUnattendedRun()) SetRunResult(kExitFailure);
            // Keep the file aside in the work folder (the run's own, which
            // nobody else can write to or redirect); once that worked this
            // folder's walk ends here and the source stays.
            wchar_t sidePath[MAX_PATH] = L"";
            if (g_setup.workFolder[0])
                BoundedFormat(sidePath, MAX_PATH, L"%s\\%s.temp", g_setup.workFolder, entry.cFileName);
            if (sidePath[0] && PlaceFile(sourcePath, sidePath, 1, 0) == 1) {
                FindClose(listing);
                return 0;
            }
        }
        if (keepSources == 0 && !source.moved) DeleteFileW(sourcePath);
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return 1;
}

}  // namespace

int PlaceFolderTree(const wchar_t* sourceFolder, const wchar_t* destinationFolder, int keepSources)
{
    MovedFileLists lists;
    return PlaceTree(sourceFolder, destinationFolder, keepSources, lists, false);
}
