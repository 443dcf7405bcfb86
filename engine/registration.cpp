// Registering the input method: product keys, then the IMM layout before 6.2
// or the text service (class keys, profile, categories) from 6.2 on.
#include "engine/registration.h"
#include "engine/keyboard_list_entries.h"
#include "engine/registration_common.h"
#include "engine/registration_removal.h"

#include <msctf.h>

#include <cstdint>
#include <cstring>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "payload/config_data.h"
#include "platform/registry.h"
#include "platform/system_info.h"

namespace {

const wchar_t kProfilesClass[] = L"{33C53A50-F456-4884-B049-85FD643ECFED}";
const wchar_t kProfilesInterface[] = L"{1F02B6C5-7842-4EE6-8A0B-9A24183A95CA}";
const wchar_t kCategoryMgrClass[] = L"{A4B544A1-438D-4B41-9325-869523E2D6C7}";
const wchar_t kCategoryMgrInterface[] = L"{C3ACEFB5-F69D-4905-938F-FCADCF4BE830}";

// The eight categories the text service joins.
enum Category { kKeyboard, kDisplayAttribute, kSecureMode, kUiElementEnabled, kInputModeCompartment, kComless,
                kImmersive, kSystray };
const wchar_t* const kCategoryGuids[] = {
    L"{34745C63-B2F0-4784-8B67-5E12C8701A31}", L"{046B8C80-1647-40F7-9B21-B93B81AABC1B}",
    L"{49D2F9CE-1F5E-11D7-A6D3-00065B84435C}", L"{49D2F9CF-1F5E-11D7-A6D3-00065B84435C}",
    L"{CCF05DD7-4A87-11D7-A6E2-00065B84435C}", L"{364215D9-75BC-11D7-A6EF-00065B84435C}",
    L"{13A016DF-560B-46CD-947A-4C3AF1E0E35D}", L"{25504FB4-7BAB-4BC1-9C69-CF81890F0EF5}",
};

// Registration order; the last two only from 6.2 on.
const Category kRegisterOrder[] = {
    kKeyboard, kDisplayAttribute, kSecureMode, kUiElementEnabled, kInputModeCompartment, kComless, kImmersive, kSystray,
};
const Category kUnregisterOrder[] = {
    kKeyboard, kSecureMode, kUiElementEnabled, kInputModeCompartment, kComless, kDisplayAttribute, kImmersive, kSystray,
};

constexpr uint32_t kProfileEnabledBit = 0x4000;

GUID GuidFromText(const wchar_t* text)
{
    GUID g{};
    IIDFromString(text, &g);
    return g;
}

template <typename T>
T* CreateTsfObject(const wchar_t* classText, const wchar_t* interfaceText)
{
    GUID clsid = GuidFromText(classText);
    GUID iid = GuidFromText(interfaceText);
    void* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &object))) return nullptr;
    return static_cast<T*>(object);
}

ITfInputProcessorProfiles* CreateProfileManager()
{
    return CreateTsfObject<ITfInputProcessorProfiles>(kProfilesClass, kProfilesInterface);
}

ITfCategoryMgr* CreateCategoryManager()
{
    return CreateTsfObject<ITfCategoryMgr>(kCategoryMgrClass, kCategoryMgrInterface);
}

void WriteProductValues(HKEY key)
{
    RegWriteString(key, L"DataLocation", g_setup.dataFolder);
    RegWriteString(key, L"InstallLocation", g_setup.installFolder);
    RegWriteString(key, L"IMEName", ImeName(g_setup));
    RegWriteString(key, L"DisplayName", DisplayName(g_setup));
    RegWriteString(key, L"DisplayVersion", DisplayVersion(g_setup));
    RegWriteString(key, L"URLUpdateInfo", UpdateAddress(g_setup));
    RegWriteString(key, L"LanguageName", LanguageName(g_setup));
    RegWriteDword(key, L"LANGID", LangId(g_setup));
    // What the uninstall runs, even when the backup it would read it from is gone or refused.
    wchar_t command[kToolCommandChars];
    BoundedCopyN(command, kToolCommandChars, ToolUninstallCommand(g_setup), kToolCommandChars - 1);
    RegWriteString(key, kToolUninstallValue, command);
}

// Software -> ZerdaIME3 -> <name>, each created below the one before.
void WriteProductKeysBelow(const wchar_t* softwarePath)
{
    HKEY software = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, softwarePath, 0, KEY_ALL_ACCESS, &software) != ERROR_SUCCESS) return;
    HKEY vendor = nullptr;
    if (RegCreateKeyExW(software, L"ZerdaIME3", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &vendor, nullptr) ==
        ERROR_SUCCESS) {
        HKEY product = nullptr;
        if (RegCreateKeyExW(vendor, g_setup.name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &product, nullptr) ==
            ERROR_SUCCESS) {
            WriteProductValues(product);
            RegCloseKey(product);
            RunLog(L"Registry key written: HKEY_LOCAL_MACHINE\\%s\\ZerdaIME3\\%s", softwarePath, g_setup.name);
        }
        RegCloseKey(vendor);
    }
    RegCloseKey(software);
}

template <typename T>
T ReadUnaligned(const BYTE* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

void WriteProductKeys()
{
    if (!ParseProductKeyName(g_setup.name, nullptr)) return;
    WriteProductKeysBelow(L"Software");
    WriteProductKeysBelow(L"Software\\Wow6432Node");
}

bool RegisterTextServiceClass(const wchar_t* name, const wchar_t* serverPath, bool wow64View)
{
    if (!ParseProductKeyName(name, nullptr)) return false;
    // The machine's classes, never the merged HKEY_CLASSES_ROOT: where the
    // user has made the key under HKEY_CURRENT_USER, that view writes there.
    wchar_t keyPath[128];
    BoundedFormat(keyPath, 128,
                  wow64View ? L"Software\\Classes\\Wow6432Node\\CLSID\\%s" : L"Software\\Classes\\CLSID\\%s", name);
    HKEY classKey = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &classKey, nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool ok = RegWriteString(classKey, nullptr, L"zerdaTSF") == ERROR_SUCCESS;
    HKEY server = nullptr;
    if (RegCreateKeyExW(classKey, L"InProcServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr) ==
        ERROR_SUCCESS) {
        ok = RegWriteString(server, nullptr, serverPath ? serverPath : L"") == ERROR_SUCCESS && ok;
        ok = RegWriteString(server, L"ThreadingModel", L"Apartment") == ERROR_SUCCESS && ok;
        RegCloseKey(server);
    } else {
        ok = false;
    }
    RegCloseKey(classKey);
    if (ok) RunLog(L"Registry key written: HKEY_LOCAL_MACHINE\\%s", keyPath);
    else RunLog(L"FAILED: Registry key not written completely: HKEY_LOCAL_MACHINE\\%s", keyPath);
    return ok;
}

bool RegisterTipCategories(const GUID& classId, const GUID& profileId)
{
    ITfCategoryMgr* manager = CreateCategoryManager();
    if (!manager) return false;
    bool ok = true;
    for (int i = 0; i < 6 && ok; ++i)
        ok = SUCCEEDED(manager->RegisterCategory(classId, GuidFromText(kCategoryGuids[kRegisterOrder[i]]), profileId));
    if (ok && IsSystemAtLeast62())
        for (int i = 6; i < 8 && ok; ++i)
            ok = SUCCEEDED(manager->RegisterCategory(classId, GuidFromText(kCategoryGuids[kRegisterOrder[i]]), profileId));
    manager->Release();
    return ok;
}

void UnregisterTipCategories(const GUID& classId, const GUID& profileId)
{
    ITfCategoryMgr* manager = CreateCategoryManager();
    if (!manager) return;
    for (Category category : kUnregisterOrder)
        manager->UnregisterCategory(classId, GuidFromText(kCategoryGuids[category]), profileId);
    manager->Release();
}

bool UnregisterTextServiceProfile(const GUID& classId, LANGID langId, const GUID& textService)
{
    if (ITfInputProcessorProfiles* profiles = CreateProfileManager()) {
        profiles->RemoveLanguageProfile(classId, langId, classId);
        profiles->Release();
    }
    ITfInputProcessorProfiles* profiles = CreateProfileManager();
    if (!profiles) return false;
    profiles->Unregister(textService);
    profiles->Release();
    return true;
}

bool MarkProfileEnabledInConfig(const wchar_t* dataFolder)
{
    wchar_t path[MAX_PATH];
    BoundedFormat(path, MAX_PATH, L"%sconfig.dsc", dataFolder ? dataFolder : L"");
    if (!dataFolder || !dataFolder[0]) return false;
    MappedFile* file = nullptr;
    if (!OpenMappedFile(path, true, &file) || !file) return false;
    // The read-into-memory fallback is a private copy: nothing would reach the file.
    bool mapped = file->mapping != nullptr;
    uint32_t recordSize = 0;
    BYTE* record = mapped ? FindConfigRecord(file->data, file->size, formats::config::kImeRecordName, &recordSize) : nullptr;
    if (recordSize < ime_field::kOptionWord + 4) record = nullptr;
    if (record) {
        uint32_t word = ReadUnaligned<uint32_t>(record + ime_field::kOptionWord) | kProfileEnabledBit;
        std::memcpy(record + ime_field::kOptionWord, &word, sizeof word);
    }
    CloseMappedFile(file, record ? 1 : 0);
    return record != nullptr;
}

bool RegisterInputMethod()
{
    GUID productGuid{};
    if (!ParseProductKeyName(g_setup.name, &productGuid)) return false;

    WriteProductKeys();

    wchar_t oldImeName[40];
    ReadImeNameValue(g_setup.name, oldImeName, 40);
    LANGID oldLangId = ReadLangId(g_setup.name);

    const GUID textService = TextServiceGuid(g_setup);
    UnregisterTextServiceProfile(productGuid, oldLangId, textService);
    UnregisterTipCategories(textService, textService);
    RemoveKeyboardLayout(oldImeName, false);
    RemoveTextServiceClassKeys(g_setup.name);

    // No driver name: nothing that could be registered.
    if (!ImeName(g_setup)[0]) return false;

    wchar_t systemFolder[MAX_PATH] = L"";
    UINT length = GetSystemDirectoryW(systemFolder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    wchar_t driverPath[MAX_PATH];
    BoundedFormat(driverPath, MAX_PATH, EndsWithBackslash(systemFolder) ? L"%s%s.ime" : L"%s\\%s.ime", systemFolder,
                  ImeName(g_setup));

    if (!IsSystemAtLeast62()) {
        HKL layout = ImmInstallIMEW(driverPath, LanguageName(g_setup));
        if (layout) {
            RunLog(L"Keyboard layout %08X installed for %s", static_cast<unsigned>(reinterpret_cast<uintptr_t>(layout) & 0xFFFFFFFFu), driverPath);
            RecordImeLayout(layout);
        } else {
            RunLogFailure(L"ImmInstallIMEW", driverPath, GetLastError());
        }
        return layout != nullptr;
    }

    if (!(EngineFlags(g_setup) & kEngineFlagTextService)) return false;

    if (!(ImeOptionWord(g_setup) & kImeOptionProfileBits)) {
        MarkProfileEnabledInConfig(g_setup.dataFolder);
        SetImeOptionWord(g_setup, ImeOptionWord(g_setup) | kProfileEnabledBit);
    }

    wchar_t serverPath[MAX_PATH] = L"";
    wchar_t wow64Path[MAX_PATH] = L"";
    GetSystemImePath(ImeName(g_setup), serverPath);
    RegisterTextServiceClass(g_setup.name, serverPath, false);
    GetWow64ImePath(ImeName(g_setup), wow64Path);
    RegisterTextServiceClass(g_setup.name, wow64Path, true);

    ITfInputProcessorProfiles* profiles = CreateProfileManager();
    if (!profiles) return true;
    const LANGID langId = LangId(g_setup);
    const wchar_t* description = LanguageName(g_setup);
    bool registered = SUCCEEDED(profiles->Register(textService));
    if (registered)
        registered = SUCCEEDED(profiles->AddLanguageProfile(
            textService, langId, textService, description, static_cast<ULONG>(wcslen(description)), wow64Path,
            static_cast<ULONG>(wcslen(wow64Path)), 0));
    if (registered) {
        BOOL enable = (ImeOptionWord(g_setup) & kImeOptionProfileBits) != 0;
        profiles->EnableLanguageProfileByDefault(textService, langId, textService, enable);
        profiles->EnableLanguageProfile(textService, langId, textService, enable);
    }
    profiles->Release();
    if (!registered) {
        RunLog(L"FAILED: text service profile not registered: %s", g_setup.name);
        return false;
    }
    RunLog(L"Text service profile registered: %s, language %04X", g_setup.name, langId);

    // Created when missing: a fresh Wine prefix has no Substitutes key.
    HKEY substitutes = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Keyboard Layout\\Substitutes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &substitutes, nullptr) == ERROR_SUCCESS) {
        RegWriteString(substitutes, L"00000480", L"00000409");
        RegCloseKey(substitutes);
    }
    BroadcastSettingChange(L"HKEY_CURRENT_USER\\Keyboard Layout\\Substitutes");

    return RegisterTipCategories(textService, textService);
}
