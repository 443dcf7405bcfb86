// Programs started as the user of a desktop session, without elevation: the
// setup runs elevated, or as SYSTEM under a deployment tool, and some work
// belongs to the user at the desktop, who may be another account.
#pragma once
#include <windows.h>

#include <cstddef>
#include <vector>

// The token's account as SID text ("S-1-5-21-..."); false (and empty) when unknown.
bool TokenUserSid(HANDLE token, wchar_t* sid, size_t capacity);
// True when this process runs as LocalSystem.
bool IsLocalSystemProcess();
// A primary token of the desktop shell's process: the user at this desktop
// with the rights the shell has (not elevated under UAC). Null when there is
// no shell; the last error then says why.
HANDLE DuplicateShellToken();
// As SYSTEM: a primary token of the user of every session with a signed-in
// user (active or switched away from). Empty for any other account.
std::vector<HANDLE> SessionUserTokens();
// Runs `commandLine` hidden and without the busy cursor, on the default
// desktop of the token's session, as the token's user, and waits up to
// timeoutMs. The program is told to run as its starter even where its
// manifest asks for administrators. As SYSTEM only CreateProcessAsUserW
// starts it (into the token's session, with the two privileges it needs on
// for the call); any other account, whose desktop is the token's, falls back
// to CreateProcessWithTokenW through the Secondary Logon service.
// `startedWith` names the function that started it (or was tried last).
// Returns ERROR_SUCCESS with the exit code, or the error; WAIT_TIMEOUT when
// it had to be ended.
DWORD RunAsTokenUser(HANDLE token, const wchar_t* application, const wchar_t* commandLine, DWORD timeoutMs,
                     DWORD* exitCode, const wchar_t** startedWith);
// The same as this process's own account (CreateProcessW).
DWORD RunHiddenAndWait(const wchar_t* application, const wchar_t* commandLine, DWORD timeoutMs, DWORD* exitCode);
