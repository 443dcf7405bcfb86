#include "engine/uninstall_sequence.h"

#include <windows.h>
#include <msctf.h>
#include <shlobj.h>

#include <cwchar>
#include <vector>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "engine/install_folder_removal.h"
#include "engine/maintenance_lines.h"
#include "engine/placed_removal.h"
#include "engine/progress.h"
#include "engine/registration.h"
#include "engine/registration_removal.h"
#include "engine/removal_guard.h"
#include "engine/tool_command.h"
#include "engine/user_keyboard_lists.h"
#include "files/held_file.h"
#include "formats/config_layout.h"
#include "platform/com_apartment.h"

namespace {

// {33C53A50-F456-4884-B049-85FD643ECFED}
const CLSID kProfilesClass = {0x33C53A50, 0xF456, 0x4884, {0xB0, 0x49, 0x85, 0xFD, 0x64, 0x3E, 0xCF, 0xED}};
// {1F02B6C5-7842-4EE6-8A0B-9A24183A95CA}
const IID kProfilesInterface = {0x1F02B6C5, 0x7842, 0x4EE6, {0x8A, 0x0B, 0x9A, 0x24, 0x18, 0x3A, 0x95, 0xCA}};

ITfInputProcessorProfiles* CreateProfiles()
{
    ITfInputProcessorProfiles* profiles = nullptr;
    HRESULT hr = CoCreateInstance(kProfilesClass, nullptr, CLSCTX_INPROC_SERVER, kProfilesInterface,
                                  reinterpret_cast<void**>(&profiles));
    return SUCCEEDED(hr) ? profiles : nullptr;
}

// A driver name is a plain file name, by the rule the payload's is held to;
// anything else would reach outside the system folders.
bool IsPlainFileName(const wchar_t (&name)[kImeNameChars])
{
    return !formats::config::ImeNameProblem(reinterpret_cast<const uint8_t*>(name), kImeNameChars);
}

}  // namespace

void RemoveInputMethodRegistration(const wchar_t* imeName)
{
    GUID productGuid;
    if (SUCCEEDED(IIDFromString(g_setup.name, &productGuid))) {
        WORD language = ReadLangId(g_setup.name);
        if (ITfInputProcessorProfiles* profiles = CreateProfiles()) {
            profiles->RemoveLanguageProfile(productGuid, language, productGuid);
            profiles->Release();
        }
    }

    RemoveKeyboardLayout(imeName, true);

    GUID textService = TextServiceGuid(g_setup);
    if (ITfInputProcessorProfiles* profiles = CreateProfiles()) {
        profiles->Unregister(textService);
        profiles->Release();
        UnregisterTipCategories(textService, textService);
    }

    RemoveTextServiceClassKeys(g_setup.name);
}

namespace {

void RemoveFamilyKey(const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyW(HKEY_LOCAL_MACHINE, path, &key) == ERROR_SUCCESS &&
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, path, key) == ERROR_SUCCESS)
        RunLog(L"Registry key removed: HKEY_LOCAL_MACHINE\\%s", path);
}

}  // namespace

// The files go by the record. The install folder keeps the setup that the
// uninstall entry runs, and the folder itself, until the product's keys are gone.
void RemoveProductFiles(const wchar_t* name)
{
    wchar_t install[MAX_PATH] = L"";
    if (!ReadInstallLocation(name, install) || !IsAbsolutePath(install)) install[0] = L'\0';
    std::vector<PlacedItem> items;
    const bool recorded = LoadRemovalRecord(name, install, g_setup.payloadFolder, items);

    wchar_t folder[MAX_PATH];
    if (ReadDataLocation(name, folder) && folder[0]) {
        AppendBackslashIfMissing(folder, MAX_PATH);
        // Without a record, the data folder, which only the setup makes, goes whole.
        if (recorded) RemovePlacedBelow(items, folder, nullptr, false);
        else RemoveProductFolder(folder);
    }

    ClearVirtualizedCopies();

    wchar_t imeName[kImeNameChars] = L"";
    ReadImeNameValue(name, imeName, kImeNameChars);
    wchar_t driver[MAX_PATH];
    if (IsPlainFileName(imeName)) {
        if (GetWow64ImePath(imeName, driver) && (!recorded || RecordNames(items, driver))) RemovePlacedFile(driver, 1);
        if (GetSystemImePath(imeName, driver) && (!recorded || RecordNames(items, driver))) RemovePlacedFile(driver, 0);
    }
    if (install[0]) RemovePlacedBelow(items, install, L"installer.exe", true);
}

void RemoveProductShortcuts(const wchar_t* displayName)
{
    if (!displayName || !displayName[0]) return;
    wchar_t programs[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                programs)))
        programs[0] = L'\0';
    AppendBackslashIfMissing(programs, MAX_PATH);

    wchar_t group[MAX_PATH];
    BoundedFormat(group, MAX_PATH, L"%s%s\\", programs, displayName);
    // The group is a folder of its own below Programs; a display name such as
    // ".." must not turn it into the Start menu.
    const bool ownGroup = programs[0] && IsShortcutGroupToRemove(group, programs);

    std::vector<PlacedItem> items;
    if (ReadPlacedRecord(g_setup.name, items)) {
        if (ownGroup) RemovePlacedBelow(items, group, nullptr, false);
    } else {
        const wchar_t* const formats[] = {
            maint_text::kShortcutSettings, maint_text::kShortcutUpdate, maint_text::kShortcutRepair,
            maint_text::kShortcutUninstall, maint_text::kShortcutKeys,   maint_text::kShortcutHelp,
        };
        wchar_t shortcut[MAX_PATH];
        for (const wchar_t* format : formats) {
            BoundedFormat(shortcut, MAX_PATH, format, group, displayName);
            DeleteFileW(shortcut);
        }
        RemoveDirectoryW(group);
        // An earlier setup kept no record: its group, which only it makes, goes whole.
        if (ownGroup) RemoveFolderTree(group);
    }

    SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW | SHCNF_FLUSH, group, nullptr);
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW | SHCNF_FLUSH, programs, nullptr);
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW | SHCNF_FLUSH, programs, nullptr);
}

bool IsEngineFamilyFolderEmpty()
{
    wchar_t folder[MAX_PATH] = L"";
    // Without the folder's location nobody can tell whether others keep data
    // there; keeping the family keys is the safe answer.
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                folder)))
        return false;
    ComposeDataFolder(folder, L"");
    wchar_t pattern[MAX_PATH];
    BoundedFormat(pattern, MAX_PATH, L"%s*", folder);

    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    // The first entry is the folder's own ".".
    while (FindNextFileW(search, &entry)) {
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // The setup's logs are the family's, kept after its last product.
        if (isFolder && EqualsIgnoreAsciiCase(entry.cFileName, L"Logs")) continue;
        if (!isFolder || entry.cFileName[0] != L'.') {
            empty = false;
            break;
        }
    }
    FindClose(search);
    return empty;
}

bool RunUninstallSequence()
{
    ReportProgress(0, maint_text::kUninstallStart);
    ComApartment com;
    if (!com.Ready()) {
        ReportProgress(0, maint_text::kComFailure);
        return false;
    }
    wchar_t displayName[40] = L"";
    ReadProductValue(g_setup.name, L"DisplayName", displayName, 40);
    wchar_t imeName[40] = L"";
    ReadImeNameValue(g_setup.name, imeName, 40);
    // Read now: the family clean-up may take the product key with it.
    wchar_t installFolder[MAX_PATH] = L"";
    bool hasInstallFolder = ReadInstallLocation(g_setup.name, installFolder);
    std::vector<PlacedItem> record;
    const bool recorded = ReadPlacedRecord(g_setup.name, record);

    ReportProgress(5, maint_text::kUninstallStep1);
    RunToolUninstallCommand();
    if (hasInstallFolder) RemoveNewsAutostart(installFolder);

    ReportProgress(20, maint_text::kUninstallStep2);
    RemoveKeyboardFromUserLists();
    RemoveInputMethodRegistration(imeName);

    ReportProgress(40, maint_text::kUninstallStep3);
    RemoveProductFiles(g_setup.name);

    ReportProgress(60, maint_text::kUninstallStep4);
    RemoveProductShortcuts(displayName);

    // Fonts stay installed: other programs may use them.
    ReportProgress(70, maint_text::kUninstallStep5);

    // This product's data folder is gone already, so an empty family folder
    // means no other product of the family is left.
    if (IsEngineFamilyFolderEmpty()) {
        ReportProgress(80, maint_text::kUninstallFamily);
        // Its recorded files went with the others: what is left there is not the setup's.
        if (recorded) RemoveFolderWhenEmpty(g_setup.dataFolder, record);
        else RemoveProductFolder(g_setup.dataFolder);
        RemoveFamilyKey(L"SOFTWARE\\ZerdaIME3");
        RemoveFamilyKey(L"SOFTWARE\\Wow6432Node\\ZerdaIME3");
    }

    ReportProgress(90, maint_text::kUninstallStep7);
    // Keys, then folder and entry: an uninstall ended anywhere before the
    // entry goes is finished by running the entry again.
    RemoveOwnProductKeys(g_setup.name);
    RemoveInstallFolderAndEntry(g_setup.name, hasInstallFolder ? installFolder : L"");

    ReportProgress(100, maint_text::kUninstallStep8);
    return true;
}
