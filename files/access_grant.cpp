#include "files/access_grant.h"

#include <aclapi.h>

#include <cstdio>

#include "base/bounded_string.h"

namespace {

GetFileSecurityFn g_getSecurity = &GetFileSecurityW;
SetFileSecurityFn g_setSecurity = &SetFileSecurityW;

using AddAccessAllowedAceExFn = BOOL(WINAPI*)(PACL, DWORD, DWORD, DWORD, PSID);
using SetSecurityDescriptorControlFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL,
                                                     SECURITY_DESCRIPTOR_CONTROL);

// The diagnostics go to standard output; the windowed program has no console.
void Report(const char* format)
{
    std::printf(format, static_cast<int>(GetLastError()));
    std::fflush(stdout);
}

// Every buffer of one grant comes from the process heap, zero-filled, and is
// released whatever the outcome.
class HeapBlocks {
public:
    ~HeapBlocks()
    {
        for (int i = 0; i < count_; ++i) HeapFree(GetProcessHeap(), 0, blocks_[i]);
    }
    void* Alloc(SIZE_T bytes)
    {
        if (count_ >= kMax) return nullptr;
        void* p = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
        if (p) blocks_[count_++] = p;
        return p;
    }

private:
    // The accounts' SIDs, the old descriptor (twice when the first buffer
    // was too small) and the new list.
    static const int kMax = 5;
    void* blocks_[kMax] = {};
    int count_ = 0;
};

// The SID an access entry carries, or null when the entry is too short to
// hold a valid one (only the entry's own bytes are looked at).
PSID EntrySid(const ACE_HEADER* header)
{
    const DWORD sidOffset = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);
    if (header->AceSize < sidOffset + 8) return nullptr;
    auto* sid = reinterpret_cast<PSID>(reinterpret_cast<BYTE*>(const_cast<ACE_HEADER*>(header)) + sidOffset);
    BYTE subAuthorities = reinterpret_cast<const BYTE*>(sid)[1];
    if (sidOffset + 8 + 4u * subAuthorities > header->AceSize) return nullptr;
    return IsValidSid(sid) ? sid : nullptr;
}

// Both accounts' SIDs have at most two relative ids.
DWORD WellKnownSidBytes() { return GetSidLengthRequired(2); }

const int kMaxAccounts = 2;
const DWORD kFirstDescriptorBytes = 1024;

bool BuildWellKnownSid(WellKnownAccount account, PSID sid)
{
    if (account == WellKnownAccount::kEveryone) {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        if (!InitializeSid(sid, &world, 1)) return false;
        *GetSidSubAuthority(sid, 0) = SECURITY_WORLD_RID;
        return true;
    }
    SID_IDENTIFIER_AUTHORITY packages = SECURITY_APP_PACKAGE_AUTHORITY;
    if (!InitializeSid(sid, &packages, 2)) return false;
    *GetSidSubAuthority(sid, 0) = SECURITY_APP_PACKAGE_BASE_RID;
    *GetSidSubAuthority(sid, 1) = SECURITY_BUILTIN_PACKAGE_ANY_PACKAGE;
    return true;
}

}  // namespace

void SetFileSecurityStore(GetFileSecurityFn getSecurity, SetFileSecurityFn setSecurity)
{
    g_getSecurity = getSecurity ? getSecurity : &GetFileSecurityW;
    g_setSecurity = setSecurity ? setSecurity : &SetFileSecurityW;
}

int GrantFileAccess(const wchar_t* path, WellKnownAccount account, DWORD accessMask)
{
    return GrantFileAccess(path, &account, 1, accessMask);
}

namespace {

// Step 1: the accounts' SIDs, built from their authority and relative ids; no
// lookup by name, which fails wherever the name is translated. entryBytes:
// the room their access-allowed entries take.
bool BuildSids(HeapBlocks& heap, const WellKnownAccount* accounts, int count, PSID* sids, DWORD* entryBytes)
{
    *entryBytes = 0;
    for (int i = 0; i < count; ++i) {
        sids[i] = heap.Alloc(WellKnownSidBytes());
        if (!sids[i]) {
            Report("HeapAlloc() failed. Error %d\n");
            return false;
        }
        if (!BuildWellKnownSid(accounts[i], sids[i])) {
            Report("InitializeSid() failed. Error %d\n");
            return false;
        }
        *entryBytes += sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + GetLengthSid(sids[i]);
    }
    return true;
}

// Step 2: the file's present DACL, read at once into a buffer that most
// lists fit, into one of the size asked for otherwise.
PSECURITY_DESCRIPTOR ReadDacl(HeapBlocks& heap, const wchar_t* path)
{
    DWORD sdBytes = kFirstDescriptorBytes;
    auto oldSd = static_cast<PSECURITY_DESCRIPTOR>(heap.Alloc(sdBytes));
    if (!oldSd) {
        Report("HeapAlloc() failed. Error %d\n");
        return nullptr;
    }
    if (g_getSecurity(path, DACL_SECURITY_INFORMATION, oldSd, sdBytes, &sdBytes)) return oldSd;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        Report("GetFileSecurity() failed. Error %d\n");
        return nullptr;
    }
    oldSd = static_cast<PSECURITY_DESCRIPTOR>(heap.Alloc(sdBytes));
    if (!oldSd) {
        Report("HeapAlloc() failed. Error %d\n");
        return nullptr;
    }
    if (!g_getSecurity(path, DACL_SECURITY_INFORMATION, oldSd, sdBytes, &sdBytes)) {
        Report("GetFileSecurity() failed. Error %d\n");
        return nullptr;
    }
    return oldSd;
}

// Steps 3 to 11: the new descriptor from the old one, its list's buffer
// from heap.
bool ComposeGrant(HeapBlocks& heap, PSECURITY_DESCRIPTOR oldSd, const PSID* sids, int count, DWORD entryBytes,
                  DWORD accessMask, SECURITY_DESCRIPTOR* newSd)
{
    const BYTE kAclRevision = ACL_REVISION2;
    // 3. The new descriptor.
    if (!InitializeSecurityDescriptor(newSd, SECURITY_DESCRIPTOR_REVISION)) {
        Report("InitializeSecurityDescriptor() failed.Error %d\n");
        return false;
    }

    // 4. A DACL marked present but null counts as none.
    BOOL present = FALSE, defaulted = FALSE;
    PACL oldAcl = nullptr;
    if (!GetSecurityDescriptorDacl(oldSd, &present, &oldAcl, &defaulted)) {
        Report("GetSecurityDescriptorDacl() failed. Error %d\n");
        return false;
    }
    if (!present) oldAcl = nullptr;

    // 5. Its size.
    ACL_SIZE_INFORMATION info = {0, sizeof(ACL), 0};
    if (oldAcl && !GetAclInformation(oldAcl, &info, sizeof info, AclSizeInformation)) {
        Report("GetAclInformation() failed. Error %d\n");
        return false;
    }

    // 6. Room for the old entries and one access-allowed entry per account.
    DWORD newAclBytes = info.AclBytesInUse + entryBytes;
    auto* newAcl = static_cast<PACL>(heap.Alloc(newAclBytes));
    if (!newAcl) {
        Report("HeapAlloc() failed. Error %d\n");
        return false;
    }
    if (!InitializeAcl(newAcl, newAclBytes, kAclRevision)) {
        Report("InitializeAcl() failed. Error %d\n");
        return false;
    }

    // 7. Explicit entries, without the accounts' own.
    DWORD index = 0;
    for (; oldAcl && index < info.AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(oldAcl, index, &ace)) {
            Report("GetAce() failed. Error %d\n");
            return false;
        }
        auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceFlags & INHERITED_ACE) break;
        PSID entrySid = EntrySid(header);
        bool ours = false;
        for (int i = 0; i < count && entrySid && !ours; ++i) ours = EqualSid(entrySid, sids[i]) != FALSE;
        if (ours) continue;
        if (!AddAce(newAcl, kAclRevision, MAXDWORD, ace, header->AceSize)) {
            Report("AddAce() failed. Error %d\n");
            return false;
        }
    }

    // 8. The new entries.
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    auto addEx = advapi ? reinterpret_cast<AddAccessAllowedAceExFn>(
                              reinterpret_cast<void*>(GetProcAddress(advapi, "AddAccessAllowedAceEx")))
                        : nullptr;
    for (int i = 0; i < count; ++i) {
        if (addEx) {
            if (!addEx(newAcl, kAclRevision, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, accessMask, sids[i])) {
                Report("AddAccessAllowedAceEx() failed. Error %d\n");
                return false;
            }
        } else if (!AddAccessAllowedAce(newAcl, kAclRevision, accessMask, sids[i])) {
            Report("AddAccessAllowedAce() failed. Error %d\n");
            return false;
        }
    }

    // 9. Inherited entries keep their order behind it.
    for (; oldAcl && index < info.AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(oldAcl, index, &ace)) {
            Report("GetAce() failed. Error %d\n");
            return false;
        }
        if (!AddAce(newAcl, kAclRevision, MAXDWORD, ace, static_cast<ACE_HEADER*>(ace)->AceSize)) {
            Report("AddAce() failed. Error %d\n");
            return false;
        }
    }

    // 10.
    if (!SetSecurityDescriptorDacl(newSd, TRUE, newAcl, FALSE)) {
        Report("SetSecurityDescriptorDacl() failed. Error %d\n");
        return false;
    }

    // 11. Carry the inheritance state of the old DACL over.
    auto setControl = advapi ? reinterpret_cast<SetSecurityDescriptorControlFn>(reinterpret_cast<void*>(
                                   GetProcAddress(advapi, "SetSecurityDescriptorControl")))
                             : nullptr;
    if (setControl) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (!GetSecurityDescriptorControl(oldSd, &control, &revision)) {
            Report("GetSecurityDescriptorControl() failed.Error %d\n");
            return false;
        }
        SECURITY_DESCRIPTOR_CONTROL bits = 0;
        if (control & SE_DACL_AUTO_INHERITED) bits = SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED;
        else if (control & SE_DACL_PROTECTED) bits = SE_DACL_PROTECTED;
        if (bits && !setControl(newSd, bits, bits)) {
            Report("SetSecurityDescriptorControl() failed.Error %d\n");
            return false;
        }
    }

    return true;
}

}  // namespace

int GrantFileAccess(const wchar_t* path, const WellKnownAccount* accounts, int count, DWORD accessMask)
{
    if (!accounts || count < 1 || count > kMaxAccounts) return 0;
    HeapBlocks heap;
    PSID sids[kMaxAccounts];
    DWORD entryBytes = 0;
    if (!BuildSids(heap, accounts, count, sids, &entryBytes)) return 0;
    PSECURITY_DESCRIPTOR oldSd = ReadDacl(heap, path);
    SECURITY_DESCRIPTOR newSd;
    if (!oldSd || !ComposeGrant(heap, oldSd, sids, count, entryBytes, accessMask, &newSd)) return 0;

    // 12.
    if (!g_setSecurity(path, DACL_SECURITY_INFORMATION, &newSd)) {
        Report("SetFileSecurity() failed. Error %d\n");
        return 0;
    }
    return 1;
}

bool FolderGrantedList::Compose(const wchar_t* folder, const WellKnownAccount* accounts, int count,
                                DWORD accessMask)
{
    Clear();
    if (!folder || !accounts || count < 1 || count > kMaxAccounts) return false;
    wchar_t probe[MAX_PATH];
    if (BoundedFormat(probe, MAX_PATH, L"%s\\zerda-list.%lu.probe", folder, GetCurrentThreadId()) >= MAX_PATH - 1)
        return false;
    // Made new with the system's default list, as a copy's destination is;
    // gone when closed, even if the run is ended meanwhile.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE;
    HANDLE made = CreateFileW(probe, GENERIC_WRITE, share, nullptr, CREATE_NEW, flags, nullptr);
    if (made == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS && DeleteFileW(probe))
        made = CreateFileW(probe, GENERIC_WRITE, share, nullptr, CREATE_NEW, flags, nullptr);
    if (made == INVALID_HANDLE_VALUE) return false;

    HeapBlocks heap;
    PSID sids[kMaxAccounts];
    DWORD entryBytes = 0;
    PSECURITY_DESCRIPTOR oldSd = nullptr;
    SECURITY_DESCRIPTOR newSd;
    bool composed = BuildSids(heap, accounts, count, sids, &entryBytes) && (oldSd = ReadDacl(heap, probe)) &&
                    ComposeGrant(heap, oldSd, sids, count, entryBytes, accessMask, &newSd);
    CloseHandle(made);
    if (!composed) return false;
    DWORD bytes = 0;
    MakeSelfRelativeSD(&newSd, nullptr, &bytes);
    descriptor_ = bytes ? HeapAlloc(GetProcessHeap(), 0, bytes) : nullptr;
    if (!descriptor_ || !MakeSelfRelativeSD(&newSd, descriptor_, &bytes)) {
        Clear();
        return false;
    }
    return true;
}

bool FolderGrantedList::WriteTo(const wchar_t* path) const
{
    return descriptor_ && g_setSecurity(path, DACL_SECURITY_INFORMATION, descriptor_);
}

void FolderGrantedList::Clear()
{
    if (descriptor_) HeapFree(GetProcessHeap(), 0, descriptor_);
    descriptor_ = nullptr;
}

bool ResetToInheritedAccess(const wchar_t* path)
{
    // An empty list of its own; the system adds what the folder passes on.
    ACL empty;
    if (!path || !InitializeAcl(&empty, sizeof empty, ACL_REVISION)) return false;
    DWORD rc = SetNamedSecurityInfoW(const_cast<wchar_t*>(path), SE_FILE_OBJECT,
                                     DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                     nullptr, &empty, nullptr);
    SetLastError(rc);
    return rc == ERROR_SUCCESS;
}
