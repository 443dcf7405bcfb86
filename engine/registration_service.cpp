// The two windowless behaviours of "/GUID=": removing the text service, and
// registering the input method again from what the product key recorded.
#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "engine/registration.h"
#include "engine/registration_common.h"
#include "engine/registration_removal.h"

namespace {

constexpr WORD kDefaultLangId = 2052;

WORD LangIdOrDefault(const wchar_t* name)
{
    WORD langId = ReadLangId(name);
    return langId ? langId : kDefaultLangId;
}

// Empties the field, reads the value into it; true when it is not empty.
bool ReadRequired(const wchar_t* name, const wchar_t* valueName, wchar_t* field, size_t capacity)
{
    ReadProductValue(name, valueName, field, capacity);
    return field[0] != L'\0';
}

}  // namespace

void RemoveTextService(const wchar_t* name)
{
    GUID textService{};
    if (!ParseProductKeyName(name, &textService)) return;
    if (name != g_setup.name) BoundedCopy(g_setup.name, kNameChars, name);
    SetTextServiceGuid(g_setup, textService);
    SetLangId(g_setup, LangIdOrDefault(name));

    // The profile is removed with the language as recorded, 0 when missing.
    LANGID recorded = ReadLangId(name);
    if (UnregisterTextServiceProfile(textService, recorded, textService))
        UnregisterTipCategories(textService, textService);
    RemoveTextServiceClassKeys(name);
}

void ReregisterInputMethod(const wchar_t* name)
{
    GUID textService{};
    if (!ParseProductKeyName(name, &textService)) return;
    if (name != g_setup.name) BoundedCopy(g_setup.name, kNameChars, name);
    SetTextServiceGuid(g_setup, textService);

    if (!ReadInstallLocation(name, g_setup.installFolder) || !g_setup.installFolder[0]) return;
    if (!ReadRequired(name, L"DataLocation", g_setup.dataFolder, kPathChars)) return;
    if (!ReadRequired(name, L"IMEName", ImeName(g_setup), kImeNameChars)) return;
    if (!ReadRequired(name, L"DisplayName", DisplayName(g_setup), kDisplayNameChars)) return;
    if (!ReadRequired(name, L"DisplayVersion", DisplayVersion(g_setup), kDisplayVersionChars)) return;
    ReadProductValue(name, L"URLUpdateInfo", UpdateAddress(g_setup), kUpdateAddressChars);
    if (!ReadRequired(name, L"LanguageName", LanguageName(g_setup), kLanguageNameChars)) return;
    SetLangId(g_setup, LangIdOrDefault(name));
    if (!ReadImeNameValue(name, ImeName(g_setup), kImeNameChars) || !ImeName(g_setup)[0]) return;
    if (!ReadProductValue(name, L"LanguageName", LanguageName(g_setup), kLanguageNameChars)) return;

    SetEngineFlags(g_setup, 0x30000000);
    SetImeOptionWord(g_setup, 0x1000);
    RegisterInputMethod();
}
