// The folders the setup places files in are its own: created with an owner
// and an access list of their own, and, when they exist already and someone
// else owns them or may write in them, taken over before anything is placed.
#pragma once
#include <windows.h>

enum class ProductFolder {
    Install,  // the install folder: a link there is refused
    Family,   // <CommonAppData>\ZerdaIME3: the folder itself, not the other products' data in it
    Data,     // <CommonAppData>\ZerdaIME3\<IME name>: wholly the product's
};

// Creates the folder (and the missing folders above it) owned by the
// Administrators with a protected access list: SYSTEM and Administrators
// full control, users and app containers read and execute. An existing
// folder owned by anyone else, or one in which anyone else may write, gets
// that owner and list as well (only the product's own folders come here:
// the install folder when it is new, empty or recorded). The whole tree is
// surveyed first, and nothing is changed unless all of it can be. Every link
// (a name surrogate; deduplicated and cloud files are files) in it is
// removed, every file with a second name gets a copy of its own (no data is
// deleted), everything else gets the list the folder passes on, and nothing
// found in it outranks a file of the payload (see IsDistrustedDestination).
// False (and logged) when the folder is or lies below a link that cannot be
// removed, or cannot be created or taken over.
bool SecureProductFolder(const wchar_t* path, ProductFolder use);

// True for a destination below a folder that had to be taken over in this
// run: whatever lies there was put there by someone else, and a version
// number found there never keeps the payload's file out.
bool IsDistrustedDestination(const wchar_t* path);
