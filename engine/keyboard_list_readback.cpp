#include "engine/keyboard_list_readback.h"

#include <windows.h>

#include <cwchar>

#include "platform/registry.h"
#include "platform/system_info.h"

namespace {

const wchar_t kLanguageList[] = L"Control Panel\\International\\User Profile";
const wchar_t kPreload[] = L"Keyboard Layout\\Preload";
const wchar_t kSubstitutes[] = L"Keyboard Layout\\Substitutes";
constexpr DWORD kNameChars = 256;

bool LanguageListHolds(HKEY user, const wchar_t* entry)
{
    HKEY list = nullptr;
    if (RegOpenKeyExW(user, kLanguageList, 0, KEY_READ, &list) != ERROR_SUCCESS) return false;
    bool found = false;
    wchar_t language[kNameChars];
    for (DWORD index = 0; !found; ++index) {
        DWORD chars = kNameChars;
        LONG rc = RegEnumKeyExW(list, index, language, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        HKEY key = nullptr;
        if (rc != ERROR_SUCCESS || RegOpenKeyExW(list, language, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) continue;
        found = RegQueryValueExW(key, entry, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    RegCloseKey(list);
    return found;
}

bool PreloadHolds(HKEY user, const wchar_t* layout)
{
    HKEY preload = nullptr;
    if (RegOpenKeyExW(user, kPreload, 0, KEY_READ, &preload) != ERROR_SUCCESS) return false;
    bool found = false;
    wchar_t name[kNameChars], data[16], substituted[16];
    for (DWORD index = 0; !found; ++index) {
        DWORD chars = kNameChars;
        LONG rc = RegEnumValueW(preload, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || RegReadString(preload, name, data, 16) != ERROR_SUCCESS) continue;
        found = _wcsicmp(data, layout) == 0 ||
                (RegReadStringAt(user, kSubstitutes, data, substituted, 16) == ERROR_SUCCESS &&
                 _wcsicmp(substituted, layout) == 0);
    }
    RegCloseKey(preload);
    return found;
}

}  // namespace

bool UserListHolds(const wchar_t* hive, const wchar_t* entry, const wchar_t** where)
{
    const bool languageList = IsSystemAtLeast62();
    if (where) *where = languageList ? kLanguageList : kPreload;
    HKEY user = nullptr;
    if (!hive || !entry || wcslen(entry) < 6 || RegOpenKeyExW(HKEY_USERS, hive, 0, KEY_READ, &user) != ERROR_SUCCESS)
        return false;
    bool holds = languageList ? LanguageListHolds(user, entry) : PreloadHolds(user, entry + 5);
    RegCloseKey(user);
    return holds;
}
