// The uninstall: registrations, files, shortcuts and keys of the product go,
// in eight numbered steps.
#pragma once

// True when all steps ran; false only when COM cannot start. Reports through
// ReportProgress.
bool RunUninstallSequence();
void RemoveProductFiles(const wchar_t* name);
// Step 2's removal of the registration: language profile, keyboard layout,
// text service, its categories and class keys.
void RemoveInputMethodRegistration(const wchar_t* imeName);
void RemoveProductShortcuts(const wchar_t* displayName);
// True when no product of the engine family keeps data in the family folder.
bool IsEngineFamilyFolderEmpty();
