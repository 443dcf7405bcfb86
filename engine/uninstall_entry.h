// Steps 3 and 4: the uninstall entry and the payload backup.
#pragma once

// False (and logged) when the entry or one of its values cannot be written.
bool WriteUninstallEntry(const wchar_t* owner, const wchar_t* organisation);
bool BackUpInstallation();
// "EstimatedSize" of the entry: kilobytes of the install and data folders
// and the drivers, counted once the backup is in place.
void WriteEstimatedSize();
