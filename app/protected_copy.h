// The copy of the installed setup that repair and uninstall run elevated from
// the temporary folder, written so that nothing can replace it between its
// writing and its start.
#pragma once
#include <windows.h>

// Writes source to destination (an older file there is deleted first) with an
// access list for SYSTEM and Administrators only, and keeps the copy open,
// denying writers and deleters, until destruction: start the copy while this
// lives. Written() false: nothing usable is there; GetLastError tells why.
class HeldCopy {
public:
    HeldCopy(const wchar_t* source, const wchar_t* destination);
    ~HeldCopy();
    HeldCopy(const HeldCopy&) = delete;
    HeldCopy& operator=(const HeldCopy&) = delete;
    bool Written() const { return held_ != INVALID_HANDLE_VALUE; }
    // Lets the copy go (once it runs, or before it is deleted).
    void Release();

private:
    HANDLE held_ = INVALID_HANDLE_VALUE;
};
