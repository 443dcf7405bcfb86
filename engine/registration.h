// Registration of the input method (IMM before 6.2, a text service from 6.2),
// the text-service unregistration and the service behaviours. Removal of
// layouts and keys: engine/registration_removal.h.
// Every operation expects COM initialised (apartment) on the calling thread.
#pragma once
#include <windows.h>

// Works on g_setup: name, text-service GUID, IME/language/display names,
// display version, update address, LANGID, install and data folders, engine
// flags and IME option word. A name that is not a GUID text is refused
// (false, nothing written): the name forms registry paths that get deleted.
bool RegisterInputMethod();
// Writes Software\ZerdaIME3\<g_setup.name> in both registry views; does
// nothing for a name that is not a GUID text.
void WriteProductKeys();
bool RegisterTextServiceClass(const wchar_t* name, const wchar_t* serverPath, bool wow64View);
bool RegisterTipCategories(const GUID& classId, const GUID& profileId);
void UnregisterTipCategories(const GUID& classId, const GUID& profileId);

// Sets the profile-enabled bit 0x4000 in the option word of the IME record
// of <dataFolder>config.dsc, in place. False when the file is missing, cannot
// be mapped for writing, or has no well-formed IME record; the file is then
// left unchanged.
bool MarkProfileEnabledInConfig(const wchar_t* dataFolder);

// RemoveLanguageProfile(classId, langId, classId) on one profile manager,
// Unregister(textService) on a second. True when the second manager existed.
bool UnregisterTextServiceProfile(const GUID& classId, LANGID langId, const GUID& textService);

// The service behaviour started with "/GUID=" alone: removes the language
// profile, the text service, its categories and its class keys. The caller
// has checked that `name` parses; this copies it into g_setup.name, sets the
// text-service GUID and reads LANGID (2052 when missing) itself. No window.
void RemoveTextService(const wchar_t* name);
// The service behaviour started with "/GUID=" and "/EMMODE=n": fills g_setup
// from the product key Software\ZerdaIME3\<name> and runs RegisterInputMethod.
// Ends silently at the first missing value. No window.
void ReregisterInputMethod(const wchar_t* name);
