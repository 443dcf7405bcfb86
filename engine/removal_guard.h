// Decides whether a folder named by the registry may be removed as a whole.
#pragma once

// True only for the product's own folders: the install folder recorded for
// the product (`installFolder`, compared once both are resolved; null or
// empty: none) and folders strictly below the family's data folder
// <CommonAppData>\ZerdaIME3. Never for a folder of the system or of the
// users, nor for one that is, or lies below, a junction or symbolic link.
bool IsProductFolderToRemove(const wchar_t* path, const wchar_t* installFolder);

// The product's Start-menu group: a folder directly below the all-users
// Programs folder (`programs`), neither of them reached through a link.
bool IsShortcutGroupToRemove(const wchar_t* group, const wchar_t* programs);
