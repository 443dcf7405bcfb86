// Privileges of this process's own token.
#pragma once
#include <windows.h>

#include <initializer_list>

// Enables privileges the token holds (disabled) for as long as the object
// lives, then returns each to the state it had before: an enabled privilege
// is not left on for the rest of the run and for every program it starts.
// Counted per privilege, so that threads whose work overlaps do not switch
// one off under another.
class ScopedPrivileges {
public:
    ScopedPrivileges(std::initializer_list<const wchar_t*> names);
    ~ScopedPrivileges();
    ScopedPrivileges(const ScopedPrivileges&) = delete;
    ScopedPrivileges& operator=(const ScopedPrivileges&) = delete;
    // ERROR_SUCCESS when every one is enabled, else the first error
    // (ERROR_NOT_ALL_ASSIGNED when the account does not hold it).
    DWORD result() const { return result_; }

private:
    static constexpr int kMost = 4;
    int slots_[kMost];
    int count_ = 0;
    DWORD result_ = ERROR_SUCCESS;
};
