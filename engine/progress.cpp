// Progress of the running sequence and the clean-up of virtualized data copies.
#include "engine/progress.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/run_options.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "platform/dialog_worker.h"

namespace {

// A selection starting at -1 only drops the selection and leaves the caret
// where a click put it; the end is set by position so lines stay in order.
void MoveCaretToEnd(HWND log)
{
    int end = GetWindowTextLengthW(log);
    SendMessageW(log, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
    SendMessageW(log, EM_SCROLLCARET, 0, 0);
}

}  // namespace

void ReportProgress(int percentage, const wchar_t* text)
{
    if (text) RunLog(L"%s", text);
    if (g_setup.progressBar) {
        g_setup.lastProgress = percentage;
        SendMessageW(g_setup.progressBar, PBM_SETPOS, static_cast<WPARAM>(percentage), 0);
    }
    if (text && g_setup.logBox) {
        HWND log = g_setup.logBox;
        MoveCaretToEnd(log);
        SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
        MoveCaretToEnd(log);
        SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"\r\n"));
        SendMessageW(log, EM_SCROLLCARET, 0, 0);
    }
}

void HoldUntilReadable(ULONGLONG startedAt)
{
    const ULONGLONG elapsed = GetTickCount64() - startedAt;
    if (IsUnattendedRun() || elapsed >= kReadableRunMs) return;
    WaitServingMessages(nullptr, static_cast<DWORD>(kReadableRunMs - elapsed));
}

void ClearVirtualizedCopies()
{
    wchar_t cache[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr, SHGFP_TYPE_CURRENT, cache))) return;
    cache[MAX_PATH - 1] = L'\0';
    if (!FolderExists(cache)) return;
    AppendBackslashIfMissing(cache, MAX_PATH);
    // Nothing was ever redirected here: no drive to look at.
    wchar_t virtualized[MAX_PATH];
    if (BoundedFormat(virtualized, MAX_PATH, L"%sVirtualized", cache) >= MAX_PATH - 1 || !FolderExists(virtualized))
        return;

    // Data the system redirected for a program without write access to ProgramData.
    for (wchar_t drive = L'c'; drive <= L'y'; ++drive) {
        wchar_t folder[MAX_PATH];
        BoundedFormat(folder, MAX_PATH, L"%sVirtualized\\%c\\ProgramData\\ZerdaIME3\\", cache, drive);
        RemoveFolderTree(folder);
    }
}
