#include "common/test_support.h"

#include <objbase.h>
#include <sddl.h>
#include <wincrypt.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

ScriptedPrompts::ScriptedPrompts(int defaultAnswer) : defaultAnswer_(defaultAnswer)
{
    SetPromptResponder(&ScriptedPrompts::Respond, this);
}

ScriptedPrompts::~ScriptedPrompts() { SetPromptResponder(nullptr, nullptr); }

int ScriptedPrompts::Respond(const PromptRequest& request, void* user)
{
    auto* self = static_cast<ScriptedPrompts*>(user);
    self->shown_.push_back({request.owner, request.text, request.caption, request.type});
    if (self->answers_.empty()) return self->defaultAnswer_;
    int answer = self->answers_.front();
    self->answers_.pop_front();
    return answer;
}

ScriptedDialogs::ScriptedDialogs(Script script) : script_(std::move(script))
{
    SetDialogDriver(&ScriptedDialogs::Drive, this);
}

ScriptedDialogs::~ScriptedDialogs() { SetDialogDriver(nullptr, nullptr); }

void ScriptedDialogs::Drive(CDialog* dialog, void* user)
{
    auto* self = static_cast<ScriptedDialogs*>(user);
    ++self->opened_;
    if (self->script_) self->script_(*dialog);
}

void ClickButton(HWND dialog, int controlId)
{
    HWND button = GetDlgItem(dialog, controlId);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

ScratchFolder::ScratchFolder(const wchar_t* tag)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    wchar_t name[MAX_PATH];
    swprintf(name, MAX_PATH, L"%lszt_%ls_%lu_%u", temp, tag, GetCurrentProcessId(), ++counter);
    path_ = name;
    DeleteTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { DeleteTree(path_); }

std::wstring EnvString(const wchar_t* name)
{
    wchar_t buffer[1024];
    DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    if (n == 0 || n >= 1024) return L"";
    return buffer;
}

std::wstring BuildDir() { return EnvString(L"ZERDA_BUILD_DIR"); }
std::wstring SourceDir() { return EnvString(L"ZERDA_SOURCE_DIR"); }

bool WriteFileBytes(const std::wstring& path, const void* data, size_t size)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = size == 0 || (WriteFile(f, data, static_cast<DWORD>(size), &written, nullptr) && written == size);
    CloseHandle(f);
    return ok;
}

bool WriteFileText(const std::wstring& path, const std::string& text)
{
    return WriteFileBytes(path, text.data(), text.size());
}

bool ReadFileBytes(const std::wstring& path, std::string* out)
{
    out->clear();
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(f, buffer, sizeof buffer, &got, nullptr)) && got > 0) out->append(buffer, got);
    CloseHandle(f);
    return ok;
}

bool FileExists(const std::wstring& path)
{
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::wstring& path)
{
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {
// The Unix path Wine keeps for a Windows path; empty outside Wine.
std::string UnixPath(const std::wstring& path)
{
    using Fn = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    if (!name) return "";
    std::string out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

// Runs a Unix program of the machine below Wine with plain arguments, and
// waits until `done` holds: Wine does not wait for a Unix program's end.
bool RunUnix(const wchar_t* program, const std::vector<std::string>& args, const std::function<bool()>& done)
{
    std::wstring command = program;
    for (const std::string& a : args) command += L" \"" + std::wstring(a.begin(), a.end()) + L"\"";
    RunAndWait(command, 10000);
    for (int i = 0; i < 100 && !done(); ++i) Sleep(50);
    return done();
}
}  // namespace

bool MakeFolderLink(const std::wstring& link, const std::wstring& target)
{
    std::string unixTarget = UnixPath(target);
    size_t cut = link.find_last_of(L'\\');
    std::string unixParent = cut == std::wstring::npos ? "" : UnixPath(link.substr(0, cut));
    if (unixTarget.empty() || unixParent.empty()) return false;
    std::wstring name = link.substr(cut + 1);
    return RunUnix(L"Z:\\bin\\ln", {"-s", "-n", "--", unixTarget, unixParent + "/" + std::string(name.begin(), name.end())},
                   [&] {
                       DWORD a = GetFileAttributesW(link.c_str());
                       return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
                   });
}

bool RemoveFolderLink(const std::wstring& link)
{
    DWORD a = GetFileAttributesW(link.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return true;
    if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    size_t cut = link.find_last_of(L'\\');
    std::string unixParent = cut == std::wstring::npos ? "" : UnixPath(link.substr(0, cut));
    std::wstring name = link.substr(cut + 1);
    auto gone = [&] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; };
    if (!unixParent.empty())
        return RunUnix(L"Z:\\bin\\rm", {"-f", "--", unixParent + "/" + std::string(name.begin(), name.end())}, gone);
    if (!RemoveDirectoryW(link.c_str())) DeleteFileW(link.c_str());
    return gone();
}

void DeleteTree(const std::wstring& path)
{
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    // A link goes as itself: Wine follows it in every other call.
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveFolderLink(path);
        return;
    }
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring n = fd.cFileName;
            if (n == L"." || n == L"..") continue;
            DeleteTree(path + L"\\" + n);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

int RunAndWait(const std::wstring& commandLine, DWORD timeoutMs)
{
    PROCESS_INFORMATION process = StartProcess(commandLine);
    return ExitCodeOf(process, timeoutMs);
}

PROCESS_INFORMATION StartProcess(std::wstring commandLine, DWORD flags, const wchar_t* desktop)
{
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.lpDesktop = const_cast<wchar_t*>(desktop);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr, &si, &pi)) pi = {};
    return pi;
}

int ExitCodeOf(PROCESS_INFORMATION& pi, DWORD timeoutMs)
{
    if (!pi.hProcess) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    else TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    pi = {};
    return static_cast<int>(code);
}

std::wstring RegString(HKEY root, const std::wstring& key, const wchar_t* value)
{
    wchar_t buffer[2048] = L"";
    DWORD bytes = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    HKEY k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return L"";
    LONG rc = RegQueryValueExW(k, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS) return L"";
    buffer[bytes / sizeof(wchar_t)] = L'\0';
    return buffer;
}

bool RegKeyExists(HKEY root, const std::wstring& key)
{
    HKEY k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

DWORD RegDword(HKEY root, const std::wstring& key, const wchar_t* value)
{
    HKEY k;
    DWORD data = 0, bytes = sizeof data, type = 0;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return 0xFFFFFFFF;
    LONG rc = RegQueryValueExW(k, value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &bytes);
    RegCloseKey(k);
    return rc == ERROR_SUCCESS && type == REG_DWORD ? data : 0xFFFFFFFF;
}

void DeleteRegistryKey(HKEY root, const std::wstring& key)
{
    RegDeleteTreeW(root, key.c_str());
    RegDeleteKeyW(root, key.c_str());
}

std::wstring NewGuidText()
{
    GUID g{};
    CoCreateGuid(&g);
    wchar_t text[64];
    StringFromGUID2(g, text, 64);
    return text;
}

std::wstring UninstallKeyPath(const std::wstring& productKey)
{
    return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + productKey;
}

std::wstring WithBackslash(const std::wstring& path)
{
    if (!path.empty() && path.back() != L'\\') return path + L"\\";
    return path;
}

std::wstring TempFolder()
{
    wchar_t buffer[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, buffer);
    return WithBackslash(buffer);
}

std::wstring CommonFolder(int csidl)
{
    wchar_t buffer[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buffer);
    return WithBackslash(buffer);
}

std::wstring SystemFolder(bool wow64)
{
    wchar_t buffer[MAX_PATH] = L"";
    if (wow64) GetSystemWow64DirectoryW(buffer, MAX_PATH);
    else GetSystemDirectoryW(buffer, MAX_PATH);
    return WithBackslash(buffer);
}

std::wstring MachineTempFolder()
{
    wchar_t buffer[MAX_PATH] = L"";
    GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    return WithBackslash(buffer) + L"Temp\\";
}

std::vector<std::wstring> SetupWorkFolders()
{
    std::vector<std::wstring> folders;
    for (const std::wstring& name : Listing(MachineTempFolder()))
        if (name.rfind(L"ZerdaIME3.", 0) == 0) folders.push_back(MachineTempFolder() + name);
    return folders;
}

UnixLink::UnixLink(const std::wstring& link, const std::wstring& target)
    : link_(link), made_(MakeFolderLink(link, target))
{
}

UnixLink::~UnixLink()
{
    if (made_) RemoveFolderLink(link_);
}

std::vector<std::wstring> Listing(const std::wstring& folder, bool inListingOrder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((WithBackslash(folder) + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring n = fd.cFileName;
        if (n != L"." && n != L"..") names.push_back(n);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    if (!inListingOrder) std::sort(names.begin(), names.end());
    return names;
}

ShellLinkInfo ReadShellLink(const std::wstring& file)
{
    ShellLinkInfo info;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return info;
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
            info.loaded = true;
            wchar_t buffer[1024] = L"";
            if (SUCCEEDED(link->GetPath(buffer, 1024, nullptr, SLGP_RAWPATH))) info.path = buffer;
            PIDLIST_ABSOLUTE items = nullptr;
            if (SUCCEEDED(link->GetIDList(&items)) && items) {
                wchar_t path[MAX_PATH] = L"";
                if (SHGetPathFromIDListW(items, path)) info.target = path;
                CoTaskMemFree(items);
            }
            if (info.target.empty()) info.target = info.path;
            buffer[0] = 0;
            if (SUCCEEDED(link->GetArguments(buffer, 1024))) info.arguments = buffer;
            buffer[0] = 0;
            if (SUCCEEDED(link->GetWorkingDirectory(buffer, 1024))) info.workingFolder = buffer;
            buffer[0] = 0;
            if (SUCCEEDED(link->GetDescription(buffer, 1024))) info.description = buffer;
            buffer[0] = 0;
            int index = -1;
            if (SUCCEEDED(link->GetIconLocation(buffer, 1024, &index))) {
                info.iconPath = buffer;
                info.iconIndex = index;
            }
            int show = -1;
            if (SUCCEEDED(link->GetShowCmd(&show))) info.showCommand = show;
        }
        persist->Release();
    }
    link->Release();
    return info;
}

WORD VersionLanguage(const std::wstring& file, std::wstring* fileVersion)
{
    if (fileVersion) fileVersion->clear();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
    if (!size) return 0;
    std::string data(size, '\0');
    if (!GetFileVersionInfoW(file.c_str(), handle, size, &data[0])) return 0;
    struct Pair { WORD language, codePage; };
    Pair* pairs = nullptr;
    UINT bytes = 0;
    if (!VerQueryValueW(&data[0], L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pairs), &bytes) ||
        bytes < sizeof(Pair))
        return 0;
    if (fileVersion) {
        wchar_t query[80];
        swprintf(query, 80, L"\\StringFileInfo\\%04x%04x\\FileVersion", pairs[0].language, pairs[0].codePage);
        wchar_t* text = nullptr;
        UINT chars = 0;
        if (VerQueryValueW(&data[0], query, reinterpret_cast<void**>(&text), &chars) && text) *fileVersion = text;
    }
    return pairs[0].language;
}

std::wstring PendingRenames()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return L"";
    std::vector<wchar_t> data(65536);
    DWORD bytes = static_cast<DWORD>((data.size() - 2) * sizeof(wchar_t));
    LONG rc = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(data.data()), &bytes);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return L"";
    std::wstring all(data.data(), bytes / sizeof(wchar_t));
    for (wchar_t& c : all)
        if (c == L'\0') c = L'|';
    return all;
}

FileHolder::FileHolder(const std::wstring& file, bool mapped, bool comesBack)
{
    static unsigned counter = 0;
    const std::wstring event =
        L"ZerdaFileHolder" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
    std::wstring command = L"\"" + BuildDir() + L"\\tests\\files\\fixtures\\holder.exe\" " +
                           (comesBack ? L"--again " : mapped ? L"--mapped " : L"") + L"\"" + file + L"\" " + event;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (ready && CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_))
        ready_ = WaitForSingleObject(ready, 30000) == WAIT_OBJECT_0;
    if (ready) CloseHandle(ready);
}

bool FileHolder::Running() const { return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }

void FileHolder::End()
{
    if (!pi_.hProcess) return;
    TerminateProcess(pi_.hProcess, 0);
    WaitForSingleObject(pi_.hProcess, 10000);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
    pi_ = PROCESS_INFORMATION{};
}

std::wstring Sha256Text(const std::string& bytes)
{
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return L"";
    HCRYPTHASH hash = 0;
    std::wstring text;
    BYTE digest[32];
    DWORD length = sizeof digest;
    if (CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
        CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == sizeof digest) {
        static const wchar_t kDigits[] = L"0123456789ABCDEF";
        for (BYTE b : digest) {
            text += kDigits[b >> 4];
            text += kDigits[b & 15];
        }
    }
    if (hash) CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return text;
}

std::wstring SecurityText(const std::wstring& path)
{
    BYTE sd[4096];
    DWORD needed = 0;
    LPWSTR text = nullptr;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (!GetFileSecurityW(path.c_str(), what, sd, sizeof sd, &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, what, &text, nullptr))
        return L"";
    std::wstring result = text;
    LocalFree(text);
    return result;
}

DWORD NameCount(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (file != INVALID_HANDLE_VALUE && !GetFileInformationByHandle(file, &info)) info.nNumberOfLinks = 0;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return info.nNumberOfLinks;
}

std::wstring FolderSnapshot(const std::wstring& folder, const std::wstring& skip)
{
    std::wstring out = SecurityText(folder) + L"\n";
    for (const std::wstring& name : Listing(folder)) {
        const std::wstring path = folder + name;
        std::string bytes;
        if (name == skip) continue;
        if (DirExists(path)) out += name + L"\\ " + FolderSnapshot(path + L"\\");
        else if (ReadFileBytes(path, &bytes))
            out += name + L" " + SecurityText(path) + L" names " + std::to_wstring(NameCount(path)) + L": " +
                   std::wstring(bytes.begin(), bytes.end()) + L"\n";
        else out += name + L" unreadable\n";
    }
    return out;
}
