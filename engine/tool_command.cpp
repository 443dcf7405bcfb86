#include "engine/tool_command.h"

#include <cwchar>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/setup_context.h"
#include "platform/dialog_worker.h"
#include "platform/registry.h"

namespace {

const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\run";
const wchar_t kNewsValue[] = L"VarekNews";

// Absolute, without "." or ".." and in long names; the file or folder must exist.
bool ResolveExisting(const wchar_t* path, wchar_t* out /* MAX_PATH */)
{
    out[0] = L'\0';
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    n = GetLongPathNameW(full, out, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

bool IsLink(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// No folder between the install folder (its length: folderLength) and the
// program, nor the program itself, is a junction or a link.
bool ReachedWithoutLink(const wchar_t* program, size_t folderLength)
{
    wchar_t part[MAX_PATH];
    BoundedCopy(part, MAX_PATH, program);
    for (size_t i = folderLength; part[i]; ++i) {
        if (part[i] != L'\\') continue;
        part[i] = L'\0';
        bool link = IsLink(part);
        part[i] = L'\\';
        if (link) return false;
    }
    return !IsLink(program);
}

bool HasExeExtension(const wchar_t* path)
{
    size_t n = wcslen(path);
    return n > 4 && EqualsIgnoreAsciiCase(path + n - 4, L".exe");
}

}  // namespace

bool SplitToolUninstallCommand(const wchar_t* command, const wchar_t* installFolder, wchar_t* file,
                               size_t fileCapacity, wchar_t* parameters, size_t parametersCapacity)
{
    if (file && fileCapacity) file[0] = L'\0';
    if (parameters && parametersCapacity) parameters[0] = L'\0';
    if (!command || !command[0] || !file || !parameters) return false;

    static const wchar_t kPlaceholder[] = L"{appPath}\\";
    const size_t placeholderLength = wcslen(kPlaceholder);
    wchar_t expanded[2 * MAX_PATH] = L"";
    for (const wchar_t* p = command; *p;) {
        const wchar_t* hit = wcsstr(p, kPlaceholder);
        if (!hit) {
            BoundedAppend(expanded, 2 * MAX_PATH, p);
            break;
        }
        size_t current = wcslen(expanded);
        BoundedCopyN(expanded + current, 2 * MAX_PATH - current, p, static_cast<size_t>(hit - p));
        BoundedAppend(expanded, 2 * MAX_PATH, installFolder ? installFolder : L"");
        p = hit + placeholderLength;
    }

    const wchar_t* split = wcsstr(expanded, L" /");
    if (split && split > expanded) {
        BoundedCopyN(file, fileCapacity, expanded, static_cast<size_t>(split - expanded));
        BoundedCopy(parameters, parametersCapacity, split + 1);
    } else {
        BoundedCopy(file, fileCapacity, expanded);
    }
    return true;
}

bool ResolveToolProgram(const wchar_t* file, const wchar_t* installFolder, wchar_t* out)
{
    out[0] = L'\0';
    if (!file || !file[0] || !installFolder || !installFolder[0]) return false;
    wchar_t folder[MAX_PATH];
    if (!ResolveExisting(installFolder, folder)) return false;
    AppendBackslashIfMissing(folder, MAX_PATH);
    const size_t folderLength = wcslen(folder);

    // A bare name is never looked up in the current folder or along PATH.
    bool absolute = file[0] == L'\\' || file[0] == L'/' || (file[0] && file[1] == L':');
    wchar_t candidate[2 * MAX_PATH];
    BoundedFormat(candidate, 2 * MAX_PATH, L"%s%s", absolute ? L"" : folder, file);
    wchar_t program[MAX_PATH];
    if (!ResolveExisting(candidate, program)) return false;

    DWORD attributes = GetFileAttributesW(program);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    // "x.exe:stream" or a device would be no program file of the folder.
    if (wcschr(program + 2, L':') || !HasExeExtension(program)) return false;
    if (wcslen(program) <= folderLength ||
        CompareStringOrdinal(program, static_cast<int>(folderLength), folder, static_cast<int>(folderLength),
                             TRUE) != CSTR_EQUAL)
        return false;
    if (!ReachedWithoutLink(program, folderLength)) return false;
    BoundedCopy(out, MAX_PATH, program);
    return true;
}

void RunToolUninstallCommand(DWORD waitMs)
{
    wchar_t file[2 * MAX_PATH], parameters[2 * MAX_PATH];
    if (!SplitToolUninstallCommand(ToolUninstallCommand(g_setup), g_setup.installFolder, file, 2 * MAX_PATH,
                                   parameters, 2 * MAX_PATH))
        return;
    wchar_t program[MAX_PATH];
    if (!ResolveToolProgram(file, g_setup.installFolder, program)) {
        RunLog(L"Not started: the companion tool's uninstall command names no program in the install folder: %s",
               file);
        return;
    }

    // CreateProcessW may write into the command line.
    wchar_t commandLine[3 * MAX_PATH];
    BoundedFormat(commandLine, 3 * MAX_PATH, parameters[0] ? L"\"%s\" %s" : L"\"%s\"", program, parameters);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    // Working in the install folder, not in whatever folder the setup was started from.
    if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        g_setup.installFolder, &startup, &process)) {
        RunLogFailure(L"The companion tool's uninstall command could not be started", program, GetLastError());
        return;
    }
    // In a job of its own, so that what the tool starts can be ended with it.
    // Windows 7 puts no job into another: then the tool alone.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job && !AssignProcessToJobObject(job, process.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    RunLog(L"Started: %s", commandLine);

    // The waiting thread may hold a COM apartment: it keeps serving its messages.
    if (WaitServingMessages(process.hProcess, waitMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        RunLog(L"The companion tool's uninstall command ended with code %lu", code);
    } else {
        // Still running, it would keep its program and its working folder.
        if (job) TerminateJobObject(job, ERROR_TIMEOUT);
        else TerminateProcess(process.hProcess, ERROR_TIMEOUT);
        WaitServingMessages(process.hProcess, 5000);
        RunLog(L"Not done: the companion tool's uninstall command did not end within %lu seconds and was ended: %s",
               waitMs / 1000, program);
    }
    if (job) CloseHandle(job);
    CloseHandle(process.hProcess);
}

namespace {
void ComposeNewsCommand(const wchar_t* installFolder, wchar_t* command /* 300 */)
{
    BoundedFormat(command, 300, L"\"%stools\\varekinputtool.exe\" /do=zixun", installFolder);
}
}  // namespace

LONG WriteNewsAutostart(const wchar_t* installFolder)
{
    wchar_t command[300];
    ComposeNewsCommand(installFolder, command);
    HKEY key = nullptr;
    LONG rc = RegCreateKeyW(HKEY_LOCAL_MACHINE, kRunKey, &key);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegWriteString(key, kNewsValue, command);
    RegCloseKey(key);
    return rc;
}

void RemoveNewsAutostart(const wchar_t* installFolder)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    // The entry as the finish page wrote it for this folder; changed since, it is someone else's.
    wchar_t ours[300], command[300];
    ComposeNewsCommand(installFolder, ours);
    if (RegReadString(key, kNewsValue, command, 300) == ERROR_SUCCESS &&
        CompareStringOrdinal(command, -1, ours, -1, TRUE) == CSTR_EQUAL && RegDeleteValueW(key, kNewsValue) == ERROR_SUCCESS)
        RunLog(L"Start-up entry removed: %s (%s)", kNewsValue, command);
    RegCloseKey(key);
}
