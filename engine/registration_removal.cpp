// Removing what a registration left: the IMM keyboard layout with its list
// entries, the COM class keys, the product keys.
#include <cstdint>
#include <string>
#include <vector>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/shared_routines.h"
#include "engine/registration_common.h"
#include "engine/registration_removal.h"
#include "platform/registry.h"

namespace {

const wchar_t kUninstallList[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

const wchar_t* FileNamePart(const wchar_t* path)
{
    const wchar_t* part = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') part = p + 1;
    return part;
}

bool SameTextIgnoringCase(const wchar_t* a, const wchar_t* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// Data of value `index` as text: only string types count, and data without
// a terminator is terminated here. False for other types and for values that
// do not fit 260 characters.
LONG EnumStringValue(HKEY key, DWORD index, wchar_t (&name)[260], wchar_t (&data)[261], bool* isText)
{
    DWORD nameChars = 260;
    DWORD type = 0;
    DWORD bytes = 260 * sizeof(wchar_t);
    name[0] = L'\0';
    data[0] = L'\0';
    LONG rc = RegEnumValueW(key, index, name, &nameChars, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
    *isText = false;
    if (rc != ERROR_SUCCESS) return rc;
    name[259] = L'\0';
    if (type != REG_SZ && type != REG_EXPAND_SZ) return rc;
    data[bytes / sizeof(wchar_t)] = L'\0';
    *isText = true;
    return rc;
}

// Names of the values of `key` whose text equals `text` (case ignored).
std::vector<std::wstring> MatchingValueNames(HKEY key, const wchar_t* text, bool firstOnly)
{
    std::vector<std::wstring> names;
    wchar_t name[260];
    wchar_t data[261];
    for (DWORD index = 0;; ++index) {
        bool isText = false;
        LONG rc = EnumStringValue(key, index, name, data, &isText);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || !isText) continue;  // too long or not text: not ours
        if (SameTextIgnoringCase(data, text)) {
            names.emplace_back(name);
            if (firstOnly) break;
        }
    }
    return names;
}

void DeleteMatchingValues(HKEY key, const wchar_t* text, bool firstOnly)
{
    for (const std::wstring& name : MatchingValueNames(key, text, firstOnly)) RegDeleteValueW(key, name.c_str());
}

// The names of a key's subkeys that fit `capacity` characters (terminator included).
std::vector<std::wstring> SubkeyNames(HKEY key, DWORD capacity)
{
    std::vector<std::wstring> names;
    std::vector<wchar_t> name(capacity);
    for (DWORD index = 0;; ++index) {
        DWORD chars = capacity;
        LONG rc = RegEnumKeyExW(key, index, name.data(), &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc == ERROR_SUCCESS) names.emplace_back(name.data());
    }
    return names;
}

void DeleteLayoutSubkeys(const wchar_t* layoutsPath, const wchar_t* identifier)
{
    HKEY layouts = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, layoutsPath, 0, KEY_ALL_ACCESS, &layouts) != ERROR_SUCCESS) return;
    std::vector<std::wstring> matches;
    // A longer name is no layout identifier.
    for (const std::wstring& name : SubkeyNames(layouts, 20))
        if (SameTextIgnoringCase(name.c_str(), identifier)) matches.push_back(name);
    for (const std::wstring& match : matches) {
        HKEY sub = nullptr;
        if (RegOpenKeyExW(layouts, match.c_str(), 0, KEY_ALL_ACCESS, &sub) == ERROR_SUCCESS)
            if (DeleteRegistryTree(layouts, match.c_str(), sub) == ERROR_SUCCESS)
                RunLog(L"Registry key removed: HKEY_LOCAL_MACHINE\\%s\\%s", layoutsPath, match.c_str());
    }
    RegCloseKey(layouts);
}

// "%08X" of the layout handle's low 32 bits: a Preload value's data and the
// name of the layout's key.
void FormatLayoutIdentifier(HKL layout, wchar_t (&out)[16])
{
    BoundedFormat(out, 16, L"%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(layout) & 0xFFFFFFFFu));
}

const wchar_t kLayoutsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts";

// The layouts whose "Ime File" names the driver: the file-name part is
// compared, since Windows stores the file name and Wine the full path. This
// finds a layout whoever runs the uninstall (SYSTEM, or a user who took it
// off their own list), where the loaded layouts show only the caller's.
std::vector<std::wstring> LayoutsNamingDriver(const wchar_t* driverFile)
{
    std::vector<std::wstring> found;
    HKEY layouts = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLayoutsKey, 0, KEY_READ, &layouts) != ERROR_SUCCESS) return found;
    for (const std::wstring& name : SubkeyNames(layouts, 20)) {
        wchar_t imeFile[MAX_PATH] = L"";
        if (RegReadStringAt(layouts, name.c_str(), L"Ime File", imeFile, MAX_PATH) != ERROR_SUCCESS) continue;
        if (imeFile[0] && SameTextIgnoringCase(FileNamePart(imeFile), driverFile)) found.push_back(name);
    }
    RegCloseKey(layouts);
    return found;
}

// The layout of this identifier among those loaded for the caller, or none.
HKL LoadedLayout(const wchar_t* identifier)
{
    int count = GetKeyboardLayoutList(0, nullptr);
    if (count <= 0) return nullptr;
    std::vector<HKL> layouts(static_cast<size_t>(count));
    int fetched = GetKeyboardLayoutList(count, layouts.data());
    for (int i = 0; i < fetched && i < count; ++i) {
        wchar_t text[16];
        FormatLayoutIdentifier(layouts[i], text);
        if (SameTextIgnoringCase(text, identifier)) return layouts[i];
    }
    return nullptr;
}

void DeleteFromUserPreloadLists(const wchar_t* identifier)
{
    for (const std::wstring& user : SubkeyNames(HKEY_USERS, 128)) {
        wchar_t path[160];
        BoundedFormat(path, 160, L"%s\\Keyboard Layout\\Preload", user.c_str());
        HKEY preload = nullptr;
        if (RegOpenKeyExW(HKEY_USERS, path, 0, KEY_ALL_ACCESS, &preload) != ERROR_SUCCESS) continue;
        DeleteMatchingValues(preload, identifier, false);
        RegCloseKey(preload);
    }
}

LONG DeleteTreeAt(HKEY root, const wchar_t* path)
{
    HKEY handle = nullptr;
    LONG rc = RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS, &handle);
    if (rc != ERROR_SUCCESS) return rc;
    rc = DeleteRegistryTree(root, path, handle);
    const wchar_t* rootName = root == HKEY_CURRENT_USER ? L"HKEY_CURRENT_USER" : L"HKEY_LOCAL_MACHINE";
    if (rc == ERROR_SUCCESS) RunLog(L"Registry key removed: %s\\%s", rootName, path);
    else RunLogFailure(L"Registry key not removed", path, static_cast<DWORD>(rc));
    return rc;
}

}  // namespace

HKL FindImeLayout(const wchar_t* driverFileName)
{
    if (!driverFileName) return nullptr;
    const wchar_t* wanted = FileNamePart(driverFileName);
    if (!wanted[0]) return nullptr;  // an empty name would match every layout without an IME
    int count = GetKeyboardLayoutList(0, nullptr);
    if (count <= 0) return nullptr;
    HKL* layouts = static_cast<HKL*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(HKL) * count));
    if (!layouts) return nullptr;
    int fetched = GetKeyboardLayoutList(count, layouts);
    HKL found = nullptr;
    for (int i = 0; i < fetched && i < count && !found; ++i) {
        wchar_t imeFile[MAX_PATH] = L"";
        UINT chars = ImmGetIMEFileNameW(layouts[i], imeFile, MAX_PATH);
        if (chars == 0 || chars >= MAX_PATH) continue;
        imeFile[chars] = L'\0';
        // Windows reports the file name, Wine the full path given at install.
        if (SameTextIgnoringCase(FileNamePart(imeFile), wanted)) found = layouts[i];
    }
    HeapFree(GetProcessHeap(), 0, layouts);
    return found;
}

int RemoveKeyboardLayout(const wchar_t* imeName, bool broadcast)
{
    // Without a name ".ime" is all that is left; that is no driver of ours.
    if (!imeName || !imeName[0]) return 0;
    wchar_t driverFile[44];
    BoundedFormat(driverFile, 44, L"%s.ime", imeName);

    // The caller's loaded layout first, then every layout key that names the driver.
    std::vector<std::wstring> identifiers;
    HKL loaded = FindImeLayout(driverFile);
    if (loaded) {
        wchar_t identifier[16];
        FormatLayoutIdentifier(loaded, identifier);
        identifiers.emplace_back(identifier);
    }
    for (const std::wstring& name : LayoutsNamingDriver(driverFile))
        if (!loaded || !SameTextIgnoringCase(name.c_str(), identifiers[0].c_str())) identifiers.push_back(name);
    if (identifiers.empty()) return 0;

    for (size_t i = 0; i < identifiers.size(); ++i) {
        const std::wstring& identifier = identifiers[i];
        HKEY preload = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Keyboard Layout\\Preload", 0, KEY_ALL_ACCESS, &preload) ==
            ERROR_SUCCESS) {
            DeleteMatchingValues(preload, identifier.c_str(), true);
            RegCloseKey(preload);
        }
        DeleteLayoutSubkeys(kLayoutsKey, identifier.c_str());
        DeleteLayoutSubkeys(L"SYSTEM\\ControlSet001\\Control\\Keyboard Layouts", identifier.c_str());
        DeleteFromUserPreloadLists(identifier.c_str());
        HKL layout = loaded && i == 0 ? loaded : LoadedLayout(identifier.c_str());
        if (!layout) continue;
        UnloadKeyboardLayout(layout);
        if (broadcast) UnloadKeyboardLayout(layout);
    }
    if (broadcast) BroadcastSettingChange(L"HKEY_CURRENT_USER\\Keyboard Layout\\Preload");
    return 1;
}

LONG DeleteRegistryTree(HKEY parent, const wchar_t* name, HKEY handle)
{
    if (!handle) return ERROR_INVALID_HANDLE;
    wchar_t subName[257];
    for (;;) {
        DWORD chars = 257;
        LONG rc = RegEnumKeyExW(handle, 0, subName, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) {
            RegCloseKey(handle);
            return rc;
        }
        HKEY sub = nullptr;
        rc = RegOpenKeyExW(handle, subName, 0, KEY_ALL_ACCESS, &sub);
        if (rc == ERROR_SUCCESS) rc = DeleteRegistryTree(handle, subName, sub);
        // A subkey that stays would come back at index 0 forever.
        if (rc != ERROR_SUCCESS) {
            RegCloseKey(handle);
            return rc;
        }
    }
    RegCloseKey(handle);
    return RegDeleteKeyW(parent, name);
}

namespace {
// Deletes each key the formats name with the product key name; the result
// is the last deletion's. A name that is not a GUID text deletes nothing.
template <size_t N>
LONG DeleteProductNamedKeys(HKEY root, const wchar_t* name, const wchar_t* const (&formats)[N])
{
    if (!ParseProductKeyName(name, nullptr)) return ERROR_INVALID_PARAMETER;
    LONG rc = ERROR_SUCCESS;
    for (const wchar_t* format : formats) {
        wchar_t path[128];
        BoundedFormat(path, 128, format, name);
        rc = DeleteTreeAt(root, path);
    }
    return rc;
}
}  // namespace

LONG RemoveTextServiceClassKeys(const wchar_t* name)
{
    static const wchar_t* const kKeys[] = {L"Software\\Classes\\CLSID\\%s", L"Software\\Classes\\Wow6432Node\\CLSID\\%s"};
    return DeleteProductNamedKeys(HKEY_LOCAL_MACHINE, name, kKeys);
}

LONG RemoveOwnProductKeys(const wchar_t* name)
{
    static const wchar_t* const kKeys[] = {L"Software\\ZerdaIME3\\%s", L"Software\\Wow6432Node\\ZerdaIME3\\%s"};
    return DeleteProductNamedKeys(HKEY_LOCAL_MACHINE, name, kKeys);
}

LONG RemoveUninstallEntry(const wchar_t* name)
{
    static const wchar_t* const kKeys[] = {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s"};
    return DeleteProductNamedKeys(HKEY_LOCAL_MACHINE, name, kKeys);
}

bool ReadUninstallEntryLocation(const wchar_t* name, wchar_t* buffer)
{
    if (!buffer) return false;
    buffer[0] = L'\0';
    if (!ParseProductKeyName(name, nullptr)) return false;
    wchar_t path[128];
    BoundedFormat(path, 128, L"%s\\%s", kUninstallList, name);
    HKEY entry = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &entry) != ERROR_SUCCESS) return false;
    RegReadString(entry, L"InstallLocation", buffer, MAX_PATH);  // a missing value leaves it empty
    RegCloseKey(entry);
    if (buffer[0]) AppendBackslashIfMissing(buffer, MAX_PATH);
    return true;
}

// The entry goes last: its command runs the setup that finishes an
// uninstall, and it must find that setup until the product's keys are gone.
LONG RemoveProductKeys(const wchar_t* name)
{
    LONG rc = RemoveOwnProductKeys(name);
    if (rc == ERROR_INVALID_PARAMETER) return rc;
    RemoveUninstallEntry(name);
    return rc;
}
