#include "platform/privileges.h"

namespace {

struct Slot {
    LUID luid;
    int users;
    bool restore;  // enabled by the first user: switched off again after the last
};

constexpr int kSlots = 16;
Slot g_slots[kSlots];
int g_slotCount = 0;
SRWLOCK g_lock = SRWLOCK_INIT;

// One privilege set to `attributes`; `wasEnabled` tells its earlier state.
// ERROR_SUCCESS or the error.
DWORD Adjust(const LUID& luid, DWORD attributes, bool* wasEnabled)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return GetLastError();
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0] = {luid, attributes};
    TOKEN_PRIVILEGES before{};
    DWORD length = 0;
    // Succeeds also when nothing was enabled: the last error tells.
    AdjustTokenPrivileges(token, FALSE, &wanted, sizeof before, &before, &length);
    DWORD rc = GetLastError();
    // The earlier state comes back only for a privilege the call changed.
    if (wasEnabled)
        *wasEnabled = before.PrivilegeCount == 1 ? (before.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED) != 0
                                                 : (attributes & SE_PRIVILEGE_ENABLED) != 0;
    CloseHandle(token);
    return rc;
}

}  // namespace

ScopedPrivileges::ScopedPrivileges(std::initializer_list<const wchar_t*> names)
{
    for (const wchar_t* name : names) {
        LUID luid{};
        DWORD rc = ERROR_SUCCESS;
        if (count_ == kMost || !LookupPrivilegeValueW(nullptr, name, &luid)) {
            rc = count_ == kMost ? ERROR_INVALID_PARAMETER : GetLastError();
        } else {
            AcquireSRWLockExclusive(&g_lock);
            int slot = 0;
            while (slot < g_slotCount && !(g_slots[slot].luid.LowPart == luid.LowPart &&
                                           g_slots[slot].luid.HighPart == luid.HighPart))
                ++slot;
            if (slot == kSlots) {
                rc = ERROR_INVALID_PARAMETER;
            } else {
                if (slot == g_slotCount) g_slots[g_slotCount++] = Slot{luid, 0, false};
                Slot& s = g_slots[slot];
                if (s.users == 0) {
                    bool wasEnabled = true;
                    rc = Adjust(luid, SE_PRIVILEGE_ENABLED, &wasEnabled);
                    s.restore = rc == ERROR_SUCCESS && !wasEnabled;
                }
                if (rc == ERROR_SUCCESS) {
                    ++s.users;
                    slots_[count_++] = slot;
                }
            }
            ReleaseSRWLockExclusive(&g_lock);
        }
        if (result_ == ERROR_SUCCESS) result_ = rc;
    }
}

ScopedPrivileges::~ScopedPrivileges()
{
    AcquireSRWLockExclusive(&g_lock);
    for (int i = 0; i < count_; ++i) {
        Slot& s = g_slots[slots_[i]];
        if (--s.users == 0 && s.restore) Adjust(s.luid, 0, nullptr);
    }
    ReleaseSRWLockExclusive(&g_lock);
}
