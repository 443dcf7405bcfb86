// What a user's list of keyboards holds, read back after input.dll changed
// it: the functions report success without saying what they wrote.
#pragma once

// Whether the list in HKEY_USERS\<hive> holds `entry` ("<langid>:<layout>"
// or "<langid>:{GUID}{GUID}"). From 6.2 on that is the user language list
// (a value named by the entry below one of the languages of
// "Control Panel\International\User Profile"); before, "Keyboard
// Layout\Preload" naming the layout directly or through "Keyboard
// Layout\Substitutes". `where` names the list read.
bool UserListHolds(const wchar_t* hive, const wchar_t* entry, const wchar_t** where);
