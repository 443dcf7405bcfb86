#include "files_test_helpers.h"

#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "common/test_support.h"
#include "files/access_grant.h"
#include "files/in_use.h"

const wchar_t kEveryoneSid[] = L"S-1-1-0";
const wchar_t kAppPackagesSid[] = L"S-1-15-2-1";
const wchar_t kAdministratorsSid[] = L"S-1-5-32-544";
const wchar_t kUsersSid[] = L"S-1-5-32-545";
const wchar_t kSystemSid[] = L"S-1-5-18";

std::wstring FixturePath(const std::wstring& name)
{
    return BuildDir() + L"\\tests\\files\\fixtures\\" + name;
}

bool CopyFixture(const std::wstring& name, const std::wstring& destination)
{
    return CopyFileW(FixturePath(name).c_str(), destination.c_str(), FALSE) != FALSE;
}

bool SameContent(const std::wstring& a, const std::wstring& b)
{
    std::string x, y;
    return ReadFileBytes(a, &x) && ReadFileBytes(b, &y) && x == y;
}

namespace {
std::wstring SidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return L"?";
    std::wstring s = text;
    LocalFree(text);
    return s;
}

std::wstring StoreKey(const std::wstring& path)
{
    std::wstring key = path;
    for (wchar_t& c : key)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return key;
}

std::map<std::wstring, std::vector<BYTE>> g_store;
int g_storeWrites = 0;

BOOL WINAPI StoreGet(LPCWSTR path, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR sd, DWORD length, LPDWORD needed)
{
    auto it = g_store.find(StoreKey(path));
    if (it == g_store.end()) return GetFileSecurityW(path, info, sd, length, needed);
    *needed = static_cast<DWORD>(it->second.size());
    if (length < it->second.size() || !sd) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(sd, it->second.data(), it->second.size());
    return TRUE;
}

BOOL WINAPI StoreSet(LPCWSTR path, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR sd)
{
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return FALSE;  // last error from the lookup
    DWORD size = 0;
    MakeSelfRelativeSD(sd, nullptr, &size);
    std::vector<BYTE> bytes(size);
    if (!size || !MakeSelfRelativeSD(sd, bytes.data(), &size)) return FALSE;
    g_store[StoreKey(path)] = bytes;
    ++g_storeWrites;
    return TRUE;
}
}  // namespace

std::vector<AceInfo> DaclEntries(const void* descriptor, bool* hasDacl)
{
    std::vector<AceInfo> result;
    if (hasDacl) *hasDacl = false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    auto* sd = const_cast<void*>(descriptor);
    if (!sd || !GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted) || !present || !acl) return result;
    if (hasDacl) *hasDacl = true;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace)) break;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        result.push_back({allowed->Header.AceType, allowed->Header.AceFlags, allowed->Mask,
                          SidText(&allowed->SidStart)});
    }
    return result;
}

SECURITY_DESCRIPTOR_CONTROL ControlOf(const void* descriptor)
{
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (descriptor) GetSecurityDescriptorControl(const_cast<void*>(descriptor), &control, &revision);
    return control;
}

std::vector<AceInfo> ReadFileDacl(const std::wstring& path)
{
    DWORD needed = 0;
    GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (!needed) return {};
    std::vector<BYTE> sd(needed);
    if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, sd.data(), needed, &needed)) return {};
    return DaclEntries(sd.data());
}

std::string Describe(const std::vector<AceInfo>& acl)
{
    std::string s;
    for (const AceInfo& e : acl) {
        char line[160];
        snprintf(line, sizeof line, "type %u flags %02x mask %08lx %ls\n", e.type, e.flags,
                 static_cast<unsigned long>(e.mask), e.sid.c_str());
        s += line;
    }
    return s;
}

MemorySecurityStore::MemorySecurityStore()
{
    g_store.clear();
    g_storeWrites = 0;
    SetFileSecurityStore(&StoreGet, &StoreSet);
}

MemorySecurityStore::~MemorySecurityStore()
{
    SetFileSecurityStore(nullptr, nullptr);
    g_store.clear();
}

bool MemorySecurityStore::Put(const std::wstring& path, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    ULONG size = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, &size)) return false;
    auto* bytes = static_cast<BYTE*>(sd);
    g_store[StoreKey(path)] = std::vector<BYTE>(bytes, bytes + GetSecurityDescriptorLength(sd));
    LocalFree(sd);
    return true;
}

bool MemorySecurityStore::PutNullDacl(const std::wstring& path)
{
    SECURITY_DESCRIPTOR sd;
    if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE))
        return false;
    DWORD size = 0;
    MakeSelfRelativeSD(&sd, nullptr, &size);
    std::vector<BYTE> bytes(size);
    if (!size || !MakeSelfRelativeSD(&sd, bytes.data(), &size)) return false;
    g_store[StoreKey(path)] = bytes;
    return true;
}

std::vector<BYTE> MemorySecurityStore::Get(const std::wstring& path) const
{
    auto it = g_store.find(StoreKey(path));
    return it == g_store.end() ? std::vector<BYTE>() : it->second;
}

int MemorySecurityStore::Writes() const { return g_storeWrites; }

std::wstring SideCopyFolder()
{
    const std::wstring work = TempFolder() + L"zt_side_work";
    CreateDirectoryW(work.c_str(), nullptr);
    BoundedCopy(g_setup.workFolder, kPathChars, work.c_str());
    return work + L"\\";
}

StdoutCapture::StdoutCapture()
{
    wchar_t temp[MAX_PATH], name[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetTempFileNameW(temp, L"out", 0, name);
    file_ = name;
    std::fflush(stdout);
    saved_ = _dup(1);
    int fd = _wopen(file_.c_str(), _O_WRONLY | _O_TRUNC | _O_CREAT | _O_BINARY, 0600);
    if (fd >= 0) {
        _dup2(fd, 1);
        _close(fd);
    }
}

StdoutCapture::~StdoutCapture()
{
    Stop();
    DeleteFileW(file_.c_str());
}

std::string StdoutCapture::Stop()
{
    std::fflush(stdout);
    if (saved_ >= 0) {
        _dup2(saved_, 1);
        _close(saved_);
        saved_ = -1;
    }
    std::string text;
    ReadFileBytes(file_, &text);
    return text;
}

std::wstring HolderProgram() { return FixturePath(L"holder.exe"); }

HolderProcess::HolderProcess(const std::wstring& program, const std::wstring& library)
{
    static unsigned counter = 0;
    wchar_t eventName[64];
    swprintf(eventName, 64, L"zerda_holder_%lu_%u", GetCurrentProcessId(), ++counter);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, eventName);
    std::wstring cmd = L"\"" + program + L"\" \"" + (library.empty() ? L"-" : library) + L"\" " + eventName;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (CreateProcessW(program.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_)) {
        HANDLE waits[2] = {ready, pi_.hProcess};
        ready_ = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
    }
    CloseHandle(ready);
}

HolderProcess::~HolderProcess()
{
    Kill();
    if (pi_.hThread) CloseHandle(pi_.hThread);
    if (pi_.hProcess) CloseHandle(pi_.hProcess);
}

bool HolderProcess::WaitEnded(DWORD ms) const
{
    return pi_.hProcess && WaitForSingleObject(pi_.hProcess, ms) == WAIT_OBJECT_0;
}

void HolderProcess::Kill()
{
    if (pi_.hProcess && !WaitEnded(0)) {
        TerminateProcess(pi_.hProcess, 1);
        WaitEnded(5000);
    }
}

void WaitUntilReleased(const std::wstring& path, DWORD ms)
{
    for (DWORD waited = 0; waited < ms; waited += 100) {
        CZD_IMELoadStatus probe(nullptr);
        lstrcpynW(probe.m_szModulePath, path.c_str(), MAX_PATH);
        probe.CollectModuleHolders();
        if (probe.m_processIds.empty()) return;
        Sleep(100);
    }
}

BriefHold::BriefHold(const std::wstring& path, DWORD ms) : ms_(ms)
{
    file_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    held_ = file_ != INVALID_HANDLE_VALUE;
    if (!held_) return;
    thread_ = CreateThread(
        nullptr, 0,
        [](LPVOID self) -> DWORD {
            auto* hold = static_cast<BriefHold*>(self);
            Sleep(hold->ms_);
            CloseHandle(hold->file_);
            return 0;
        },
        this, 0, nullptr);
    if (!thread_) CloseHandle(file_);
}

BriefHold::~BriefHold()
{
    if (!thread_) return;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
}

std::vector<std::wstring> FilesMovedAside(const std::wstring& path)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((path + L".*.old").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return found;
    std::wstring folder = path.substr(0, path.rfind(L'\\') + 1);
    do found.push_back(folder + entry.cFileName);
    while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return found;
}

std::string WritableByOthers(const std::wstring& path)
{
    const DWORD write = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                        GENERIC_ALL;
    std::string found;
    for (const AceInfo& e : ReadFileDacl(path))
        if (e.type == ACCESS_ALLOWED_ACE_TYPE && (e.mask & write) &&
            (e.sid == kEveryoneSid || e.sid == kUsersSid || e.sid == kAppPackagesSid))
            found += std::string(e.sid.begin(), e.sid.end()) + " may write; ";
    return found;
}

bool OpenToEveryone(const std::wstring& path)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &sd, nullptr))
        return false;
    bool set = SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, sd) != FALSE;
    LocalFree(sd);
    return set && !WritableByOthers(path).empty();
}
