// The end of an uninstall: the install folder and the uninstall entry in the
// order that lets an interrupted uninstall always be finished.
#pragma once

// Removes what is left of the install folder (empty: none) and the product's
// uninstall entry: first everything in the folder but the setup the entry
// runs, then the entry, then the rest. A folder that is not the product's
// alone is left as it is.
void RemoveInstallFolderAndEntry(const wchar_t* name, const wchar_t* folder);
// Removes a folder of the product with everything below it, unless it is
// missing or not the product's alone (a damaged registry value); logged.
// installFolder: the install folder recorded for the product, or null for a
// folder of its data.
void RemoveProductFolder(const wchar_t* folder, const wchar_t* installFolder = nullptr);
