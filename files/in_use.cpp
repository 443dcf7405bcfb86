#include "files/in_use.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/setup_context.h"
#include "files/version_info.h"
#include "platform/dialog_worker.h"
#include "platform/display_scale.h"
#include "platform/privileges.h"
#include "platform/registry.h"
#include "resources/resource.h"

int g_bRetryAfterLoadStatus = 1;

namespace {

// The file name the person went on with while it was in use.
wchar_t g_heldUntilRestart[kNameChars] = L"";

const wchar_t kCompanionToolTail[] = L"\\tools\\varekinputtool.exe";
// The process list's columns, in pixels at 96 DPI.
constexpr int kColumnWidths[] = {100, 70, 150};

DWORD ModuleSnapshotFlags(int modules32)
{
    return TH32CS_SNAPMODULE | (modules32 == 1 ? TH32CS_SNAPMODULE32 : 0);
}

// True when some tail of path (the whole path down to its last character)
// equals wanted; only a tail of the same length can.
bool PathEndsWith(const wchar_t* path, const wchar_t* wanted)
{
    size_t pathLen = std::wcslen(path), wantedLen = std::wcslen(wanted);
    if (wantedLen == 0 || wantedLen > pathLen) return false;
    return EqualsIgnoreAsciiCase(path + (pathLen - wantedLen), wanted);
}

// The modules of another account's or session's processes (fast user
// switching, Remote Desktop, services) can be read, and those processes
// ended, only with the debug privilege, which an administrator holds but has
// switched off: on while each routine below runs, off again after it.

// A module snapshot of a process that is loading or unloading a module at
// that moment fails with ERROR_BAD_LENGTH; the documented answer is to ask
// again.
HANDLE ModuleSnapshot(DWORD flags, DWORD processId)
{
    HANDLE snapshot = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 10; ++attempt) {
        snapshot = CreateToolhelp32Snapshot(flags, processId);
        if (snapshot != INVALID_HANDLE_VALUE || GetLastError() != ERROR_BAD_LENGTH) break;
    }
    return snapshot;
}

}  // namespace

int ProcessHasModule(DWORD processId, const wchar_t* wantedPath, int modules32)
{
    if (!wantedPath) return 0;
    HANDLE snapshot = ModuleSnapshot(ModuleSnapshotFlags(modules32), processId);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    int found = 0;
    MODULEENTRY32W module;
    module.dwSize = sizeof module;
    for (BOOL more = Module32FirstW(snapshot, &module); more && !found; more = Module32NextW(snapshot, &module)) {
        module.szExePath[MAX_PATH - 1] = L'\0';
        if (PathEndsWith(module.szExePath, wantedPath)) found = 1;
    }
    CloseHandle(snapshot);
    return found;
}

DWORD FindCompanionToolProcess()
{
    const ScopedPrivileges debug{SE_DEBUG_NAME};
    DWORD ids[1024];
    DWORD bytes = 0;
    if (!EnumProcesses(ids, sizeof ids, &bytes)) return 0;
    DWORD count = bytes / sizeof(DWORD);
    for (DWORD i = 0; i < count && i < 1024; ++i) {
        if (ids[i] == 0) continue;
        wchar_t name[MAX_PATH] = L"<unknown>";
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (process) {
            HMODULE first = nullptr;
            DWORD needed = 0;
            if (EnumProcessModules(process, &first, sizeof first, &needed)) {
                wchar_t path[MAX_PATH] = L"";
                DWORD n = GetModuleFileNameExW(process, first, path, MAX_PATH);
                if (n > 0) {
                    path[n < MAX_PATH ? n : MAX_PATH - 1] = L'\0';
                    BoundedCopy(name, MAX_PATH, path);
                }
            }
            CloseHandle(process);
        }
        if (std::wcsstr(name, kCompanionToolTail)) return ids[i];
    }
    return 0;
}

bool TerminateProcessById(DWORD processId, DWORD waitMs)
{
    const ScopedPrivileges debug{SE_DEBUG_NAME};
    // Query and synchronize rights are asked as well where granted: the exit
    // code is read before ending, and a caller may wait for the end.
    HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                 processId);
    if (!process) process = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    if (!process) return false;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    bool ended = TerminateProcess(process, code) != FALSE;
    if (ended && waitMs > 0) WaitServingMessages(process, waitMs);
    CloseHandle(process);
    return ended;
}

BEGIN_COMMAND_MAP(CZD_IMELoadStatus)
    ON_BN_CLICKED(IDC_FORCE_END, OnForceEnd)
    ON_BN_CLICKED(IDCANCEL, OnCancel)
    ON_BN_CLICKED(IDC_RETRY, OnRetry)
    ON_BN_CLICKED(IDC_GO_ON, OnGoOn)
END_COMMAND_MAP()

void CZD_IMELoadStatus::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROCESS_LIST, m_list);
}

// Runs on any thread: it reads processes and shows nothing.
int CZD_IMELoadStatus::CollectModuleHolders()
{
    m_processIds.clear();
    const ScopedPrivileges debug{SE_DEBUG_NAME};
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) return 0;
#pragma GCC diagnostic pop

    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 4) {
        DWORD bufferBytes = 1024;
        for (;;) {
            DWORD* ids = static_cast<DWORD*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bufferBytes));
            if (!ids) return 1;
            DWORD got = 0;
            if (!EnumProcesses(ids, bufferBytes, &got)) {
                HeapFree(GetProcessHeap(), 0, ids);
                return 1;
            }
            if (got == bufferBytes) {
                HeapFree(GetProcessHeap(), 0, ids);
                bufferBytes *= 2;
                continue;
            }
            for (DWORD i = 0; i < got / sizeof(DWORD); ++i)
                if (ProcessHasModule(ids[i], m_szModulePath, m_bModules32)) m_processIds.push_back(ids[i]);
            HeapFree(GetProcessHeap(), 0, ids);
            return 1;
        }
    }
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ||
        (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion > 4)) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return 0;
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
            if (ProcessHasModule(entry.th32ProcessID, m_szModulePath, m_bModules32))
                m_processIds.push_back(entry.th32ProcessID);
        CloseHandle(snapshot);
        return 1;
    }
    return 0;
}

BOOL CZD_IMELoadStatus::OnInitDialog()
{
    // No taskbar button of its own.
    LONG_PTR exStyle = GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE);
    SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, exStyle & ~static_cast<LONG_PTR>(WS_EX_APPWINDOW));
    HICON question = LoadIconW(nullptr, IDI_QUESTION);
    SetIcon(question, TRUE);
    SetIcon(question, FALSE);

    // The same object may run twice; bind the list of this window.
    m_list.Detach();
    CDialog::OnInitDialog();

    if (m_processIds.empty()) {
        OnOK();
        return TRUE;
    }
    const UINT dpi = WindowDpi(m_hWnd);
    m_list.InsertColumn(0, L"پروگرامما نامى", LVCFMT_LEFT, ScaleToDpi(kColumnWidths[0], dpi));
    m_list.InsertColumn(1, L"PID", LVCFMT_LEFT, ScaleToDpi(kColumnWidths[1], dpi));
    m_list.InsertColumn(2, L"چۈشەندۈرۈش", LVCFMT_LEFT, ScaleToDpi(kColumnWidths[2], dpi));
    m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_BORDERSELECT);
    m_list.SendMessage(LVM_SETSELECTEDCOLUMN, 0);
    FillRows();
    return TRUE;
}

void CZD_IMELoadStatus::OnDpiChanged(UINT dpi)
{
    for (int column = 0; column < 3; ++column)
        m_list.SendMessage(LVM_SETCOLUMNWIDTH, column, ScaleToDpi(kColumnWidths[column], dpi));
}

void CZD_IMELoadStatus::FillRows()
{
    for (DWORD id : m_processIds) {
        // A process whose modules cannot be read any more keeps its row, with
        // an unknown name.
        wchar_t name[MAX_PATH] = L"<unknown>";
        wchar_t description[MAX_PATH + 1] = L"";
        HANDLE snapshot = ModuleSnapshot(ModuleSnapshotFlags(m_bModules32), id);
        if (snapshot != INVALID_HANDLE_VALUE) {
            MODULEENTRY32W module;
            module.dwSize = sizeof module;
            if (Module32FirstW(snapshot, &module)) {
                module.szModule[MAX_MODULE_NAME32] = L'\0';
                module.szExePath[MAX_PATH - 1] = L'\0';
                BoundedCopy(name, MAX_PATH, module.szModule);
                QueryVersionString(module.szExePath, L"FileDescription", description, MAX_PATH + 1);
            }
            CloseHandle(snapshot);
        }
        wchar_t idText[16];
        BoundedFormat(idText, 16, L"%u", static_cast<unsigned>(id));
        int row = m_list.InsertItem(0, name);
        if (row < 0) continue;
        m_list.SetItemText(row, 1, idText);
        m_list.SetItemText(row, 2, description);
    }
}

namespace {

// Enumerating every process and its modules may take a while on a busy
// machine, and ending holders waits a second: both run off the window's thread.
void CollectHolders(void* dialog) { static_cast<CZD_IMELoadStatus*>(dialog)->CollectModuleHolders(); }

void EndHoldersAndCollect(void* dialog)
{
    auto* d = static_cast<CZD_IMELoadStatus*>(dialog);
    for (DWORD id : d->m_processIds) TerminateProcessById(id);
    Sleep(1000);
    d->CollectModuleHolders();
}

}  // namespace

void CZD_IMELoadStatus::CollectServingMessages(HWND busy) { RunServingMessages(busy, &CollectHolders, this); }

void CZD_IMELoadStatus::ShowHolders()
{
    if (m_processIds.empty()) {
        OnOK();
        return;
    }
    m_list.DeleteAllItems();
    FillRows();
}

void CZD_IMELoadStatus::OnRetry()
{
    CollectServingMessages(m_hWnd);
    ShowHolders();
}

void CZD_IMELoadStatus::OnForceEnd()
{
    RunServingMessages(m_hWnd, &EndHoldersAndCollect, this);
    ShowHolders();
    // Windows starts Explorer again at once, and Explorer loads the input
    // method again: Retry and Force End alone could never get past it.
    if (m_offerGoOn && !m_processIds.empty()) {
        HWND goOn = GetDlgItem(IDC_GO_ON);
        ::ShowWindow(goOn, SW_SHOW);
        ::EnableWindow(goOn, TRUE);
    }
}

void CZD_IMELoadStatus::OnGoOn()
{
    if (m_offerGoOn) EndDialog(IDCONTINUE);
}

namespace {

struct LoadStatusCall {
    HWND parent;
    const wchar_t* path;
    int modules32;
    INT_PTR result;
};

void ShowLoadStatusHere(void* call)
{
    auto* c = static_cast<LoadStatusCall*>(call);
    CZD_IMELoadStatus dialog(ModalOwner(c->parent));
    BoundedCopy(dialog.m_szModulePath, MAX_PATH, c->path);
    dialog.m_bModules32 = c->modules32;
    dialog.CollectServingMessages(c->parent);
    c->result = dialog.DoModal();
}

bool SameFileName(const wchar_t* path, const wchar_t* name)
{
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    return name[0] && EqualsIgnoreAsciiCase(slash ? slash + 1 : path, name);
}

}  // namespace

INT_PTR ShowLoadStatus(HWND parent, const wchar_t* path, int modules32)
{
    // A placement on a worker asks: the list is the window's thread's.
    LoadStatusCall call{parent, path, modules32, IDCANCEL};
    RunOnWindowThread(parent, &ShowLoadStatusHere, &call);
    return call.result;
}

bool IsHeldUntilRestartAccepted(const wchar_t* path) { return path && SameFileName(path, g_heldUntilRestart); }

int ConfirmImeNotLoaded(HWND parent)
{
    wchar_t keyPath[128];
    BoundedFormat(keyPath, 128, L"Software\\ZerdaIME3\\%s", g_setup.name);
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    wchar_t imeFile[kNameChars] = L"";
    RegReadString(key, L"IMEName", imeFile, kNameChars);
    RegCloseKey(key);

    // The wanted name is held to 32 characters; a name that fills them gets
    // no extension.
    const size_t kWantedChars = 32;
    if (std::wcslen(imeFile) < kWantedChars - 1) BoundedAppend(imeFile, kWantedChars, L".ime");

    CZD_IMELoadStatus dialog(parent);
    BoundedCopy(dialog.m_szModulePath, MAX_PATH, imeFile);
    dialog.m_offerGoOn = true;
    for (int modules32 : {0, 1}) {
        dialog.m_bModules32 = modules32;
        dialog.CollectServingMessages(parent);
        INT_PTR answer = dialog.DoModal();
        if (answer == IDCONTINUE) {
            BoundedCopy(g_heldUntilRestart, kNameChars, imeFile);
            RunLog(L"Gone on with %s in use: it is replaced or removed at the next restart", imeFile);
            return 0;
        }
        if (answer != IDOK) return 1;
    }
    return 0;
}
