// Steps 3 and 4: the uninstall entry and the payload backup.
#pragma once

bool WriteUninstallEntry(const wchar_t* owner, const wchar_t* organisation);
bool BackUpInstallation();
