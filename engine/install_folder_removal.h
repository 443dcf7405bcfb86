// The end of an uninstall: the install folder and the uninstall entry in the
// order that lets an interrupted uninstall always be finished.
#pragma once

// The end of an uninstall, once the product's other files and its keys are
// gone: its uninstall entry, then the setup the entry runs (folder: the
// install folder; empty: none), then the folder when nothing else is left in
// it. What others put there stays and is named in the log.
void RemoveInstallFolderAndEntry(const wchar_t* name, const wchar_t* folder);
// Removes a folder of the product with everything below it, unless it is
// missing or not the product's alone (a damaged registry value); logged.
// installFolder: the install folder recorded for the product, or null for a
// folder of its data.
void RemoveProductFolder(const wchar_t* folder, const wchar_t* installFolder = nullptr);
