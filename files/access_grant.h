// Adds an access-allowed entry for one account to a file's DACL.
#pragma once
#include <windows.h>

// The accounts a placed file is opened to, by their well-known SIDs: their
// names differ with the language of Windows, their SIDs do not.
enum class WellKnownAccount {
    kEveryone,                 // S-1-1-0
    kAllApplicationPackages,   // S-1-15-2-1
};

// Rebuilds the DACL: the explicit entries without the account's own, the new
// entry (accessMask), then the inherited entries. Returns 1 when the file's
// DACL was rewritten, 0 on any failure (one diagnostic line on stdout).
int GrantFileAccess(const wchar_t* path, WellKnownAccount account, DWORD accessMask = GENERIC_ALL);
// The same for several accounts in one rewrite, their entries in the order
// given: the list that one grant after the other leaves.
int GrantFileAccess(const wchar_t* path, const WellKnownAccount* accounts, int count, DWORD accessMask);

// The list a file copied into a folder ends with once GrantFileAccess has
// granted the accounts their entries: composed once from a file made in the
// folder for a moment (what a copy starts with), then written as a whole
// onto each file moved into the folder, which thereby ends the same. A move
// on one volume keeps the list of the folder the file came from.
class FolderGrantedList {
public:
    FolderGrantedList() = default;
    FolderGrantedList(const FolderGrantedList&) = delete;
    FolderGrantedList& operator=(const FolderGrantedList&) = delete;
    ~FolderGrantedList() { Clear(); }

    // folder without a trailing backslash. False (and empty) when no file
    // can be made there or the grant cannot be composed.
    bool Compose(const wchar_t* folder, const WellKnownAccount* accounts, int count, DWORD accessMask);
    // Writes the list onto a file in the folder; false when nothing is composed.
    bool WriteTo(const wchar_t* path) const;
    void Clear();

private:
    void* descriptor_ = nullptr;  // self-relative, from the process heap
};

// Gives a file moved into its folder the list a file made there gets: the
// folder's inheritable entries, nothing the file brought along (a move on
// one volume keeps the list of the folder it came from). False, with the
// last error set, when the list could not be written.
bool ResetToInheritedAccess(const wchar_t* path);

// Where file security is read and written: GetFileSecurityW and
// SetFileSecurityW unless replaced. Wine keeps no DACL as written (it maps it
// to Unix mode bits), so tests put an in-memory store here to read back the
// exact list that was written.
using GetFileSecurityFn = BOOL(WINAPI*)(LPCWSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD);
using SetFileSecurityFn = BOOL(WINAPI*)(LPCWSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
// Null functions restore the system's.
void SetFileSecurityStore(GetFileSecurityFn getSecurity, SetFileSecurityFn setSecurity);
