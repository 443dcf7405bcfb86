// Whether a folder may become the product's install folder as it is: the
// setup places files only into a folder of its own, and never changes what
// others keep in a folder they chose for it.
#pragma once
#include <windows.h>

enum class FolderUse {
    Create,    // it does not exist yet: the setup makes it
    Empty,     // it exists and holds nothing
    Recorded,  // this product's install folder, as its key, its entry or its record names it
    Occupied,  // it holds what is not the product's: used as it is by no run
    Refused,   // no install folder at all (see InstallFolderRefusal), or not a folder
};

struct FolderJudgement {
    FolderUse use;
    const wchar_t* reason;  // English, for the log; null for a folder that may be used
};

FolderJudgement JudgeFolderUse(const wchar_t* folder, const wchar_t* productName);

inline bool MayInstallInto(FolderUse use)
{
    return use == FolderUse::Create || use == FolderUse::Empty || use == FolderUse::Recorded;
}

// The folder of its own offered inside an occupied one: the folder, a
// backslash when it has none, the default folder name and a backslash.
// False when it does not fit or there is no name.
bool ComposeOfferedFolder(const wchar_t* folder, const wchar_t* defaultFolderName, wchar_t* out /* MAX_PATH */);

// Logs that folder is refused as it is (judged: its judgement) and, for an
// occupied one, which folder of the product's own inside it would be
// accepted; true with that folder in offered when there is one.
bool LogFolderRefusal(const wchar_t* folder, const FolderJudgement& judged, wchar_t* offered /* MAX_PATH */);
