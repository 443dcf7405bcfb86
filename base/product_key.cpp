// Readers of the product key Software\ZerdaIME3\<name> (HKEY_LOCAL_MACHINE).
#include <objbase.h>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "platform/registry.h"

namespace {
// The product key opened for reading, or null.
HKEY OpenProductKey(const wchar_t* name)
{
    wchar_t keyPath[128];
    BoundedFormat(keyPath, 128, L"Software\\ZerdaIME3\\%s", name ? name : L"");
    HKEY key = nullptr;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) == ERROR_SUCCESS ? key : nullptr;
}
}  // namespace

bool ReadProductValue(const wchar_t* name, const wchar_t* valueName, wchar_t* buffer, size_t capacity)
{
    if (!buffer || capacity == 0) return false;
    buffer[0] = L'\0';
    HKEY key = OpenProductKey(name);
    if (!key) return false;
    LONG rc = RegReadString(key, valueName, buffer, capacity);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool ProductKeyExists(const wchar_t* name)
{
    if (!name || !name[0]) return false;
    HKEY key = OpenProductKey(name);
    if (!key) return false;
    RegCloseKey(key);
    return true;
}

bool ReadInstallLocation(const wchar_t* name, wchar_t* buffer)
{
    if (!ReadProductValue(name, L"InstallLocation", buffer, MAX_PATH)) return false;
    AppendBackslashIfMissing(buffer, MAX_PATH);
    return true;
}

bool ReadDataLocation(const wchar_t* name, wchar_t* buffer)
{
    return ReadProductValue(name, L"DataLocation", buffer, MAX_PATH);
}

bool ReadImeNameValue(const wchar_t* name, wchar_t* buffer, size_t capacity)
{
    if (!buffer || capacity == 0) return false;
    buffer[0] = L'\0';
    HKEY key = OpenProductKey(name);
    if (!key) return false;
    RegReadString(key, L"IMEName", buffer, capacity);  // a missing value leaves it empty
    RegCloseKey(key);
    return true;
}

WORD ReadLangId(const wchar_t* name)
{
    HKEY key = OpenProductKey(name);
    if (!key) return 0;
    DWORD value = 0;
    RegReadDword(key, L"LANGID", &value);
    RegCloseKey(key);
    return static_cast<WORD>(value & 0xFFFF);
}

bool UseRecordedToolCommand(SetupContext& c)
{
    wchar_t command[kToolCommandChars];
    if (!ReadProductValue(c.name, kToolUninstallValue, command, kToolCommandChars)) return false;
    BoundedCopy(ToolUninstallCommand(c), kToolCommandChars, command);
    return true;
}

void LoadRecordedProduct(SetupContext& c)
{
    ClearProductRecord(c);
    const struct {
        const wchar_t* value;
        wchar_t* field;
        size_t capacity;
    } texts[] = {
        {L"DisplayName", DisplayName(c), kDisplayNameChars},
        {L"IMEName", ImeName(c), kImeNameChars},
        {L"LanguageName", LanguageName(c), kLanguageNameChars},
        {L"DisplayVersion", DisplayVersion(c), kDisplayVersionChars},
    };
    for (const auto& text : texts) ReadProductValue(c.name, text.value, text.field, text.capacity);
    SetLangId(c, ReadLangId(c.name));
    GUID textService;
    if (SUCCEEDED(IIDFromString(c.name, &textService))) SetTextServiceGuid(c, textService);
    UseRecordedToolCommand(c);
}
