#include "app/run_guard.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

namespace {

const wchar_t kNamespace[] = L"ZerdaIME3";
const wchar_t kGuardName[] = L"ZerdaIME3\\Setup.Run";
// Where the system has no private namespaces (Wine): a global name whose
// object must belong to the Administrators.
const wchar_t kFallbackName[] = L"Global\\ZerdaIME3.Setup.Guard";
const wchar_t kAdminOnly[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

bool IsSid(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof known;
    return sid && CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

// Opens or makes the namespace; available false when the system has none.
HANDLE OpenGuardNamespace(SECURITY_ATTRIBUTES* security, bool* available)
{
    HANDLE boundary = CreateBoundaryDescriptorW(kNamespace, 0);
    *available = boundary != nullptr;
    if (!boundary) return nullptr;
    HANDLE space = nullptr;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    // Only a process in which the Administrators group is enabled (an
    // elevated one, or SYSTEM) can make a namespace with this boundary.
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
        AddSIDToBoundaryDescriptor(&boundary, administrators)) {
        // The last holder may close it between a failed make and the open.
        for (int attempt = 0; attempt < 5 && !space; ++attempt) {
            space = CreatePrivateNamespaceW(security, boundary, kNamespace);
            if (!space && GetLastError() == ERROR_ALREADY_EXISTS) space = OpenPrivateNamespaceW(boundary, kNamespace);
        }
    }
    DWORD error = GetLastError();
    DeleteBoundaryDescriptor(boundary);
    SetLastError(error);
    return space;
}

// An existing guard of the fallback name that someone else made is no guard.
bool BelongsToAdministrators(HANDLE object)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    bool ours = IsSid(owner, WinBuiltinAdministratorsSid) || IsSid(owner, WinLocalSystemSid);
    LocalFree(descriptor);
    return ours;
}

HANDLE CreateGuard(SECURITY_ATTRIBUTES* security)
{
    bool available = false;
    // Kept open for the whole run: the guard's name lives in it.
    HANDLE space = OpenGuardNamespace(security, &available);
    if (space) return CreateMutexW(security, FALSE, kGuardName);
    if (available) return nullptr;
    HANDLE guard = CreateMutexW(security, FALSE, kFallbackName);
    if (guard && GetLastError() == ERROR_ALREADY_EXISTS && !BelongsToAdministrators(guard)) {
        CloseHandle(guard);
        SetLastError(ERROR_INVALID_OWNER);
        return nullptr;
    }
    return guard;
}

}  // namespace

RunGuard AcquireRunGuard()
{
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnly, SDDL_REVISION_1,
                                                              &security.lpSecurityDescriptor, nullptr))
        return RunGuard::Unavailable;
    HANDLE guard = CreateGuard(&security);
    DWORD error = GetLastError();
    LocalFree(security.lpSecurityDescriptor);
    if (!guard) {
        SetLastError(error);
        return RunGuard::Unavailable;
    }
    DWORD wait = WaitForSingleObject(guard, 0);
    // An abandoned guard belonged to a run that was killed: this run may
    // finish its work.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) return RunGuard::Acquired;
    CloseHandle(guard);
    return RunGuard::HeldByAnother;
}
