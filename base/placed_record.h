// The record of what the setup placed for its product: every file and folder
// that an install or a repair put on the machine (the install and data
// folders, the drivers, the Windows folder's files, the shortcuts, the
// fonts). It lives in the product key (Software\ZerdaIME3\<name>\Placed, one
// value per path), which only administrators can change. An uninstall
// removes what the record names and nothing else; an install that fails
// takes back what this run placed where nothing was before.
#pragma once
#include <windows.h>

#include <vector>

enum PlacedKind : DWORD {
    kPlacedFile = 1,
    kPlacedFolder = 2,  // created by the setup, or one of the product's own folders
    kPlacedFont = 3,    // a font of the payload, placed or found in place: never taken away
};

struct PlacedItem {
    wchar_t path[MAX_PATH];  // folders end with a backslash; empty: nothing
    DWORD kind;
    bool wasThere;  // this run's notes: something was at the path before it
};

// The item for folder followed by name (either may be empty); a folder gains
// its backslash. A path that does not fit names nothing (it stays empty).
PlacedItem MakePlacedItem(const wchar_t* folder, const wchar_t* name, DWORD kind, bool wasThere = false);

// Notes what the run placed or created; wasThere: something was at that path
// before. Kept from the start of the run, and written into the product key
// from the moment the record is opened (the earlier notes first). Paths in
// the run's work folder are the run's own and not noted. Any thread.
void NotePlaced(const wchar_t* path, DWORD kind, bool wasThere);
// Opens (creates) the product's record; false when it cannot be written.
bool OpenPlacedRecord(const wchar_t* name);
// Closes the record; the run's notes are done with.
void ClosePlacedRecord();
// What this run noted, in the order of the first note of each path; valid
// until the record is closed, and only once no thread notes any more.
const std::vector<PlacedItem>& PlacedThisRun();

// The product's record (wasThere false); false when the product has none:
// an installation by an earlier version of the setup.
bool ReadPlacedRecord(const wchar_t* name, std::vector<PlacedItem>& items);
