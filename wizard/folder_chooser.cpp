#include "wizard/folder_chooser.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/shared_routines.h"
#include "platform/display_scale.h"
#include "platform/prompt.h"
#include "platform/system_library.h"
#include "wizard/wizard_texts.h"

wchar_t g_lastChosenFolder[MAX_PATH] = L"";

namespace {
using namespace wizard_text;

constexpr int kTypeLabel = 1089, kTypeList = 1136, kClassicNameEdit = 1152, kReadOnlyBox = 1040,
              kNameLabelId = 1090;

// Valid only while one chooser runs.
wchar_t* g_resultTarget = nullptr;
size_t g_resultCapacity = 0;
WNDPROC g_previousProc = nullptr;

bool OkButtonSelects(HWND dialog)
{
    wchar_t text[32];
    GetDlgItemTextW(dialog, IDOK, text, 32);
    text[31] = L'\0';
    return wcscmp(text, kSelectText) == 0;
}

LRESULT CALLBACK ChooserProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC previous = g_previousProc;
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK && HIWORD(wParam) == 0 && OkButtonSelects(dialog) &&
        g_resultTarget) {
        g_resultTarget[0] = L'\0';
        SendMessageW(dialog, CDM_GETFILEPATH, g_resultCapacity, reinterpret_cast<LPARAM>(g_resultTarget));
        g_resultTarget[g_resultCapacity - 1] = L'\0';
        if (g_resultTarget[0]) {
            if (!PathExists(g_resultTarget)) {
                wchar_t question[300];
                BoundedFormat(question, 300, kCreateQuestion, g_resultTarget);
                if (ShowMessageBox(dialog, question, kMessageCaption, MB_YESNO | MB_ICONQUESTION) != IDYES) return 0;
                CreateFolderPath(g_resultTarget);
                if (!PathExists(g_resultTarget)) {
                    ShowMessageBox(dialog, kCreateFailed, kMessageCaption, MB_OK | MB_ICONERROR);
                    return 0;
                }
            }
            EndDialog(dialog, 1);
            return 0;
        }
    }
    return CallWindowProcW(previous, dialog, message, wParam, lParam);
}

void CentreOverOwner(HWND dialog, HWND owner)
{
    if (!dialog || !owner) return;
    RECT o, d;
    if (!GetWindowRect(owner, &o) || !GetWindowRect(dialog, &d)) return;
    LONG left = o.left + ((o.right - o.left) - (d.right - d.left)) / 2;
    LONG top = o.top + ((o.bottom - o.top) - (d.bottom - d.top)) / 2;
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void OnInitDone(HWND dialog)
{
    ShowWindow(GetDlgItem(dialog, kTypeLabel), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, kTypeList), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, kClassicNameEdit), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, kReadOnlyBox), SW_HIDE);
    SetDlgItemTextW(dialog, kNameLabelId, kNameLabel);
    SetDlgItemTextW(dialog, IDOK, kSelectText);
    // 30 pixels at 96 DPI: the height of the hidden file-type row.
    RECT r;
    if (GetWindowRect(dialog, &r))
        SetWindowPos(dialog, nullptr, 0, 0, r.right - r.left, r.bottom - r.top - ScaleToDpi(30, WindowDpi(dialog)),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    g_previousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ChooserProc)));
}

UINT_PTR CALLBACK ChooserHook(HWND child, UINT message, WPARAM, LPARAM lParam)
{
    HWND dialog = GetParent(child);
    if (message == WM_INITDIALOG) {
        const auto* ofn = reinterpret_cast<const OPENFILENAMEW*>(lParam);
        CentreOverOwner(dialog, ofn ? ofn->hwndOwner : nullptr);
        return 0;
    }
    if (message != WM_NOTIFY) return 0;
    const auto* notify = reinterpret_cast<const OFNOTIFYW*>(lParam);
    switch (notify->hdr.code) {
    case CDN_INITDONE:
        OnInitDone(dialog);
        break;
    case CDN_SELCHANGE: {
        wchar_t name[MAX_PATH] = L"";
        SendMessageW(dialog, CDM_GETSPEC, MAX_PATH, reinterpret_cast<LPARAM>(name));
        name[MAX_PATH - 1] = L'\0';
        SetDlgItemTextW(dialog, IDOK, name[0] ? kOpenText : kSelectText);
        wchar_t path[MAX_PATH] = L"";
        SendMessageW(dialog, CDM_GETFILEPATH, MAX_PATH, reinterpret_cast<LPARAM>(path));
        path[MAX_PATH - 1] = L'\0';
        SetDlgItemTextW(dialog, kClassicNameEdit, path);
        break;
    }
    case CDN_FOLDERCHANGE:
        SetDlgItemTextW(dialog, IDOK, kSelectText);
        SetDlgItemTextW(dialog, kClassicNameEdit, L"");
        break;
    default:
        break;
    }
    return 0;
}
}  // namespace

bool ChooseFolder(HWND owner, const wchar_t* startFolder, const wchar_t* title, wchar_t* result)
{
    if (!result) return false;
    g_resultTarget = result;
    g_resultCapacity = MAX_PATH;
    result[0] = L'\0';

    const wchar_t* initial = startFolder;
    if (!initial || !initial[0]) {
        if (!g_lastChosenFolder[0]) {
            if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, nullptr, 0,
                                           g_lastChosenFolder)))
                AppendBackslashIfMissing(g_lastChosenFolder, MAX_PATH);
            else
                g_lastChosenFolder[0] = L'\0';
        }
        initial = g_lastChosenFolder;
    }

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = kFilter;
    ofn.lpstrFile = result;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = initial;
    ofn.lpstrTitle = title;
    ofn.lpfnHook = &ChooserHook;
    ofn.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    ShowOpenFileDialog(&ofn);

    g_resultTarget = nullptr;
    g_resultCapacity = 0;
    g_previousProc = nullptr;
    result[MAX_PATH - 1] = L'\0';
    if (FolderExists(result)) {
        BoundedCopy(g_lastChosenFolder, MAX_PATH, result);
        return true;
    }
    result[0] = L'\0';
    return false;
}
