#include "platform/user_process.h"

#include <sddl.h>
#include <wtsapi32.h>

#include <cwchar>
#include <string>

#include "platform/privileges.h"
#include "platform/system_library.h"

namespace {

template <typename Fn>
Fn Find(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// TOKEN_USER with room for the longest SID.
struct TokenUserBuffer {
    TOKEN_USER user;
    BYTE sid[SECURITY_MAX_SID_SIZE];
};

bool ReadTokenUser(HANDLE token, TokenUserBuffer* out)
{
    DWORD size = 0;
    return GetTokenInformation(token, TokenUser, out, sizeof *out, &size) != FALSE;
}

// The user's environment (userenv.dll, loaded by its full path) with the
// compatibility layer that lets a program whose manifest asks for
// administrators run with the rights of its starter instead of failing with
// ERROR_ELEVATION_REQUIRED. Without userenv: the system folders only.
std::wstring EnvironmentFor(HANDLE token)
{
    using CreateFn = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
    using DestroyFn = BOOL(WINAPI*)(LPVOID);
    static const HMODULE userenv = LoadSystemLibrary(L"userenv.dll");
    const auto create = Find<CreateFn>(userenv, "CreateEnvironmentBlock");
    const auto destroy = Find<DestroyFn>(userenv, "DestroyEnvironmentBlock");

    std::wstring block;
    void* user = nullptr;
    if (create && destroy && create(&user, token, FALSE) && user) {
        for (const wchar_t* entry = static_cast<const wchar_t*>(user); *entry; entry += wcslen(entry) + 1)
            if (_wcsnicmp(entry, L"__COMPAT_LAYER=", 15) != 0) block.append(entry).push_back(L'\0');
        destroy(user);
    } else {
        wchar_t windows[MAX_PATH] = L"";
        UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) windows[0] = L'\0';
        block.append(L"SystemRoot=").append(windows).push_back(L'\0');
        block.append(L"windir=").append(windows).push_back(L'\0');
    }
    block.append(L"__COMPAT_LAYER=RunAsInvoker").push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

// Hidden, and no busy cursor while it starts: the person at the desktop
// did not start it.
STARTUPINFOW HiddenStartup(wchar_t* desktop)
{
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.lpDesktop = desktop;
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK;
    si.wShowWindow = SW_HIDE;
    return si;
}

const wchar_t* WorkingFolder(wchar_t* folder /* MAX_PATH */)
{
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    return n > 0 && n < MAX_PATH ? folder : nullptr;
}

DWORD WaitForExit(const PROCESS_INFORMATION& pi, DWORD timeoutMs, DWORD* exitCode)
{
    CloseHandle(pi.hThread);
    DWORD rc = ERROR_SUCCESS;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, ERROR_TIMEOUT);
        WaitForSingleObject(pi.hProcess, 5000);
        rc = WAIT_TIMEOUT;
    } else if (exitCode && !GetExitCodeProcess(pi.hProcess, exitCode)) {
        rc = GetLastError();
    }
    CloseHandle(pi.hProcess);
    return rc;
}

}  // namespace

bool TokenUserSid(HANDLE token, wchar_t* sid, size_t capacity)
{
    if (!sid || capacity == 0) return false;
    sid[0] = L'\0';
    TokenUserBuffer buffer;
    wchar_t* text = nullptr;
    if (!ReadTokenUser(token, &buffer) || !ConvertSidToStringSidW(buffer.user.User.Sid, &text)) return false;
    bool fits = wcslen(text) < capacity;
    if (fits) wcscpy(sid, text);
    LocalFree(text);
    return fits;
}

bool IsLocalSystemProcess()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TokenUserBuffer buffer;
    bool system = ReadTokenUser(token, &buffer) && IsWellKnownSid(buffer.user.User.Sid, WinLocalSystemSid);
    CloseHandle(token);
    return system;
}

HANDLE DuplicateShellToken()
{
    HWND shell = GetShellWindow();
    DWORD pid = 0;
    if (!shell || !GetWindowThreadProcessId(shell, &pid) || !pid) {
        SetLastError(ERROR_NOT_FOUND);
        return nullptr;
    }
    // The shell of another account (an over-the-shoulder elevation) opens
    // only with the debug privilege enabled.
    const ScopedPrivileges debug{SE_DEBUG_NAME};
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return nullptr;
    HANDLE token = nullptr, primary = nullptr;
    DWORD error = ERROR_SUCCESS;
    if (!OpenProcessToken(process, TOKEN_DUPLICATE | TOKEN_QUERY, &token) ||
        !DuplicateTokenEx(token, TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                                     TOKEN_ADJUST_SESSIONID,
                          nullptr, SecurityImpersonation, TokenPrimary, &primary)) {
        error = GetLastError();
        primary = nullptr;
    }
    if (token) CloseHandle(token);
    CloseHandle(process);
    SetLastError(error);
    return primary;
}

std::vector<HANDLE> SessionUserTokens()
{
    std::vector<HANDLE> tokens;
    if (!IsLocalSystemProcess()) return tokens;
    using EnumerateFn = BOOL(WINAPI*)(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW*, DWORD*);
    using QueryFn = BOOL(WINAPI*)(ULONG, PHANDLE);
    using FreeFn = void(WINAPI*)(PVOID);
    static const HMODULE wtsapi = LoadSystemLibrary(L"wtsapi32.dll");
    const auto enumerate = Find<EnumerateFn>(wtsapi, "WTSEnumerateSessionsW");
    const auto query = Find<QueryFn>(wtsapi, "WTSQueryUserToken");
    const auto release = Find<FreeFn>(wtsapi, "WTSFreeMemory");
    if (!enumerate || !query || !release) return tokens;

    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) return tokens;
    for (DWORD i = 0; i < count; ++i) {
        if (sessions[i].State != WTSActive && sessions[i].State != WTSDisconnected) continue;
        HANDLE token = nullptr;
        // Fails for a session without a signed-in user (the logon screen).
        if (query(sessions[i].SessionId, &token) && token) tokens.push_back(token);
    }
    release(sessions);
    return tokens;
}

DWORD RunAsTokenUser(HANDLE token, const wchar_t* application, const wchar_t* commandLine, DWORD timeoutMs,
                     DWORD* exitCode, const wchar_t** startedWith)
{
    if (exitCode) *exitCode = STILL_ACTIVE;
    if (startedWith) *startedWith = L"CreateProcessAsUserW";
    if (!token || !application || !commandLine) return ERROR_INVALID_PARAMETER;
    std::wstring environment = EnvironmentFor(token);
    std::wstring command = commandLine;  // both functions may write into it
    wchar_t folder[MAX_PATH];
    wchar_t desktop[] = L"winsta0\\default";
    STARTUPINFOW si = HiddenStartup(desktop);
    PROCESS_INFORMATION pi{};
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT;
    // SYSTEM holds both privileges (disabled) and starts into the token's
    // session; an elevated administrator holds the quota one only, so that
    // this call fails unless the token is one of its own.
    BOOL started = FALSE;
    DWORD error = ERROR_SUCCESS;
    {
        const ScopedPrivileges privileges{SE_ASSIGNPRIMARYTOKEN_NAME, SE_INCREASE_QUOTA_NAME};
        started = CreateProcessAsUserW(token, application, &command[0], nullptr, nullptr, FALSE, flags,
                                       &environment[0], WorkingFolder(folder), &si, &pi);
        error = GetLastError();
    }
    // CreateProcessWithTokenW always starts into the caller's session: never
    // for SYSTEM, whose session is no person's.
    if (!started && !IsLocalSystemProcess()) {
        command = commandLine;
        if (startedWith) *startedWith = L"CreateProcessWithTokenW (Secondary Logon service)";
        started = CreateProcessWithTokenW(token, 0, application, &command[0], flags, &environment[0],
                                          WorkingFolder(folder), &si, &pi);
        error = GetLastError();
    }
    if (!started) return error;
    return WaitForExit(pi, timeoutMs, exitCode);
}

DWORD RunHiddenAndWait(const wchar_t* application, const wchar_t* commandLine, DWORD timeoutMs, DWORD* exitCode)
{
    if (exitCode) *exitCode = STILL_ACTIVE;
    if (!application || !commandLine) return ERROR_INVALID_PARAMETER;
    std::wstring command = commandLine;
    wchar_t folder[MAX_PATH];
    STARTUPINFOW si = HiddenStartup(nullptr);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(application, &command[0], nullptr, nullptr, FALSE, 0, nullptr, WorkingFolder(folder), &si, &pi))
        return GetLastError();
    return WaitForExit(pi, timeoutMs, exitCode);
}
