// The uninstall: registrations, files, shortcuts and keys of the product go,
// in eight numbered steps.
#pragma once

// True when all steps ran; false only when COM cannot start. Reports through
// ReportProgress.
bool RunUninstallSequence();
// Step 3, by the product's record of what was placed: the data files, the
// drivers, and the install folder's files but the setup the entry runs.
void RemoveProductFiles(const wchar_t* name);
// Step 2's removal of the registration: language profile, keyboard layout,
// text service, its categories and class keys.
void RemoveInputMethodRegistration(const wchar_t* imeName);
// Step 4: the shortcuts that the record of the product named by the setup
// context names, and their group once it is empty.
void RemoveProductShortcuts(const wchar_t* displayName);
// True when no product of the engine family keeps data in the family folder.
bool IsEngineFamilyFolderEmpty();
