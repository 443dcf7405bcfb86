#include "common/keyboard_lists.h"

#include <gtest/gtest.h>

#include <cwchar>

#include "common/test_support.h"
#include "platform/system_info.h"
#include "platform/privileges.h"

namespace {

const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const wchar_t kMarker[] = L"ZerdaTestProfile";
struct TestProfile {
    const wchar_t* sid;  // null: the default profile
    const wchar_t* folder;
    const char* marker;  // null: a damaged hive
    const wchar_t* value;  // of the profile list that leaves the profile alone
};
const TestProfile kProfiles[] = {
    {L"S-1-5-21-0-0-0-4242", L"C:\\users\\zerda_second", "second", nullptr},
    {L"S-1-5-21-0-0-0-4343", L"C:\\users\\zerda_damaged", nullptr, nullptr},
    {L"S-1-5-21-0-0-0-4444", L"C:\\users\\zerda_roaming", "roaming", L"CentralProfile"},
    {L"S-1-5-21-0-0-0-4545", L"C:\\users\\zerda_mandatory", "mandatory", L"State"},
    {nullptr, L"C:\\users\\zerda_default", "default", nullptr},
};

std::wstring TempFile(const wchar_t* name)
{
    wchar_t windows[MAX_PATH] = L"";
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\Temp\\" + name;
}
std::wstring CallsFile() { return TempFile(L"zerda_input_calls.log"); }

void SetValue(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type, const void* data, size_t bytes)
{
    HKEY k = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes));
    RegCloseKey(k);
}

void SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ)
{
    SetValue(root, key, name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

void DeleteValueAt(HKEY root, const std::wstring& key, const wchar_t* name)
{
    HKEY k = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
    RegDeleteValueW(k, name);
    RegCloseKey(k);
}

// A hive file whose root carries the marker, saved from a scratch key.
void SaveMarkedHive(const std::wstring& file, const char* marker)
{
    const wchar_t scratch[] = L"Software\\ZerdaTestHive";
    std::wstring text(marker, marker + strlen(marker));
    SetString(HKEY_CURRENT_USER, scratch, kMarker, text);
    SetString(HKEY_CURRENT_USER, std::wstring(scratch) + L"\\Keyboard Layout\\Preload", L"1", L"00000409");
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, scratch, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        EXPECT_EQ(ERROR_SUCCESS, RegSaveKeyW(key, file.c_str(), nullptr)) << "hive not saved";
        RegCloseKey(key);
    }
    DeleteRegistryKey(HKEY_CURRENT_USER, scratch);
}

std::wstring Field(const std::wstring& line, size_t index)
{
    size_t from = 0;
    for (size_t i = 0; i < index && from != std::wstring::npos; ++i) {
        from = line.find(L'|', from);
        if (from != std::wstring::npos) ++from;
    }
    if (from == std::wstring::npos) return L"";
    return line.substr(from, line.find(L'|', from) - from);
}

std::string Dump(const std::vector<InputListCall>& calls)
{
    std::string all;
    for (const InputListCall& c : calls) {
        std::wstring line = c.function + L" " + c.userRegistry + L" [" + c.profile + L"] " + c.list + L" flags " +
                            std::to_wstring(c.flags) + L" elevated " + std::to_wstring(c.elevated) + L"\n";
        all += std::string(line.begin(), line.end());
    }
    return all;
}

}  // namespace

InputDllStandIn::InputDllStandIn()
{
    const std::wstring target = SystemFolder() + L"input.dll";
    placed_ = CopyFileW((BuildDir() + L"\\tests\\standin\\input.dll").c_str(), target.c_str(), FALSE) != FALSE;
    ClearCalls();
}

InputDllStandIn::~InputDllStandIn()
{
    DeleteFileW((SystemFolder() + L"input.dll").c_str());
    ClearCalls();
    DeleteFileW(TempFile(L"zerda_input_mode.txt").c_str());
    // Each line: HKU or HKCU | key | value.
    std::string bytes;
    ReadFileBytes(TempFile(L"zerda_input_writes.log"), &bytes);
    std::wstring text(bytes.begin(), bytes.end());
    for (size_t from = 0, end; (end = text.find(L"\r\n", from)) != std::wstring::npos; from = end + 2) {
        const std::wstring line = text.substr(from, end - from);
        DeleteValueAt(Field(line, 0) == L"HKU" ? HKEY_USERS : HKEY_CURRENT_USER, Field(line, 1), Field(line, 2).c_str());
    }
    DeleteFileW(TempFile(L"zerda_input_writes.log").c_str());
}

void InputDllStandIn::SetMode(const std::string& words) const { WriteFileText(TempFile(L"zerda_input_mode.txt"), words); }

void InputDllStandIn::ClearCalls() const { DeleteFileW(CallsFile().c_str()); }

std::vector<InputListCall> InputDllStandIn::Calls() const
{
    std::vector<InputListCall> calls;
    std::string bytes;
    ReadFileBytes(CallsFile(), &bytes);
    std::wstring text(bytes.begin(), bytes.end());  // the recorder writes ASCII
    for (size_t from = 0; from < text.size();) {
        size_t end = text.find(L"\r\n", from);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(from, end - from);
        from = end + 2;
        if (line.empty()) continue;
        InputListCall c;
        c.function = Field(line, 0);
        c.userRegistry = Field(line, 1);
        c.profile = Field(line, 2);
        c.list = Field(line, 3);
        c.flags = wcstoul(Field(line, 4).c_str(), nullptr, 16);
        c.elevated = _wtoi(Field(line, 5).c_str());
        calls.push_back(c);
    }
    return calls;
}

OtherProfiles::OtherProfiles()
{
    const ScopedPrivileges save{SE_BACKUP_NAME};
    SetString(HKEY_CURRENT_USER, L"", kMarker, L"current");
    previousDefault_ = RegString(HKEY_LOCAL_MACHINE, kProfileList, L"Default");
    for (const TestProfile& p : kProfiles) {
        CreateDirectoryW(p.folder, nullptr);
        const std::wstring hive = std::wstring(p.folder) + L"\\NTUSER.DAT";
        DeleteFileW(hive.c_str());
        if (p.marker) SaveMarkedHive(hive, p.marker);
        else WriteFileText(hive, "regf, but nothing after it");
        const std::wstring key = std::wstring(kProfileList) + L"\\" + (p.sid ? p.sid : L"");
        const DWORD mandatory = 1;
        if (p.value && wcscmp(p.value, L"State") == 0) SetValue(HKEY_LOCAL_MACHINE, key, p.value, REG_DWORD, &mandatory, 4);
        if (p.value && wcscmp(p.value, L"CentralProfile") == 0)
            SetString(HKEY_LOCAL_MACHINE, key, p.value, L"\\\\server\\profiles\\zerda");
        if (p.sid) SetString(HKEY_LOCAL_MACHINE, key, L"ProfileImagePath", p.folder, REG_EXPAND_SZ);
        else SetString(HKEY_LOCAL_MACHINE, kProfileList, L"Default", p.folder, REG_EXPAND_SZ);
    }
}

OtherProfiles::~OtherProfiles()
{
    DeleteValueAt(HKEY_CURRENT_USER, L"", kMarker);
    for (const TestProfile& p : kProfiles) {
        if (p.sid) DeleteRegistryKey(HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + L"\\" + p.sid);
        DeleteTree(p.folder);
    }
    if (previousDefault_.empty()) DeleteValueAt(HKEY_LOCAL_MACHINE, kProfileList, L"Default");
    else SetString(HKEY_LOCAL_MACHINE, kProfileList, L"Default", previousDefault_, REG_EXPAND_SZ);
}

const wchar_t* OtherProfiles::DamagedHive() { return L"C:\\users\\zerda_damaged\\NTUSER.DAT"; }
const wchar_t* OtherProfiles::RoamingSid() { return L"S-1-5-21-0-0-0-4444"; }

UnelevatedShell::UnelevatedShell()
{
    HANDLE own = nullptr, primary = nullptr;
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) return;
    bool ok = GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size) &&
              DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary,
                               &primary);
    CloseHandle(own);
    if (linked.LinkedToken) CloseHandle(linked.LinkedToken);
    if (!ok) return;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"ZerdaTestShellReady");
    std::wstring command = L"\"" + BuildDir() + L"\\tests\\unelevated_shell.exe\" ZerdaTestShellReady";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (CreateProcessAsUserW(primary, nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        process_ = pi.hProcess;
        HANDLE both[] = {ready, process_};
        if (WaitForMultipleObjects(2, both, FALSE, 20000) != WAIT_OBJECT_0) {
            TerminateProcess(process_, 0);
            CloseHandle(process_);
            process_ = nullptr;
        }
    }
    CloseHandle(ready);
    CloseHandle(primary);
}

UnelevatedShell::~UnelevatedShell()
{
    if (!process_) return;
    TerminateProcess(process_, 0);
    WaitForSingleObject(process_, 5000);
    CloseHandle(process_);
}

std::wstring KeyboardListEntry(const std::wstring& guid, const std::wstring& imeName, WORD langId)
{
    wchar_t entry[128] = L"";
    if (IsSystemAtLeast62()) {
        swprintf(entry, 128, L"%04X:%ls%ls", langId, guid.c_str(), guid.c_str());
        return entry;
    }
    const std::wstring layouts = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, layouts.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"";
    std::wstring found;
    wchar_t name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = 64;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::wstring file = RegString(HKEY_LOCAL_MACHINE, layouts + L"\\" + name, L"Ime File");
        file = file.substr(file.find_last_of(L'\\') + 1);
        // Wine keeps the key's name in lower case; the identifier is hexadecimal either way.
        _wcsupr(name);
        if (_wcsicmp(file.c_str(), (imeName + L".ime").c_str()) == 0 && wcslen(name) == 8)
            found += (found.empty() ? L"" : L" or ") + std::wstring(name + 4) + L":" + name;
    }
    RegCloseKey(key);
    EXPECT_EQ(std::wstring::npos, found.find(L" or ")) << "more than one layout of the driver";
    return found;
}

void ExpectOneChangePerProfile(const std::vector<InputListCall>& calls, bool removal, const std::wstring& entry,
                               const std::wstring& currentBy)
{
    ASSERT_FALSE(entry.empty()) << "no keyboard of the product to look for";
    for (const wchar_t* profile : {L"current", L"second", L"default"}) {
        std::vector<InputListCall> mine;
        for (const InputListCall& c : calls)
            if (c.profile == profile && ((c.flags & 0x1) != 0) == removal && c.list == entry) mine.push_back(c);
        ASSERT_EQ(1u, mine.size()) << std::string(profile, profile + wcslen(profile)) << " "
                                   << std::string(entry.begin(), entry.end()) << "\n" << Dump(calls);
        const InputListCall& c = mine[0];
        EXPECT_EQ(0u, c.flags & 0x2) << "made the default keyboard\n" << Dump(calls);
        if (c.function == L"InstallLayoutOrTip") EXPECT_EQ(0, c.elevated) << "a user's step ran elevated\n" << Dump(calls);
        else EXPECT_NE(0u, c.flags & 0x20) << "a hive's change applied to the running session\n" << Dump(calls);
        if (std::wstring(profile) == L"current") EXPECT_EQ(currentBy, c.function) << Dump(calls);
        else EXPECT_EQ(L"InstallLayoutOrTipUserReg", c.function) << Dump(calls);
    }
    for (const InputListCall& c : calls) {
        EXPECT_TRUE(c.profile == L"current" || c.profile == L"second" || c.profile == L"default") << Dump(calls);
        EXPECT_EQ(std::wstring::npos, c.list.find(L';')) << "one call for several entries\n" << Dump(calls);
    }
}
