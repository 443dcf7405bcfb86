// Small helpers of the wizard tests: message pumping while a dialog's script
// runs, keystrokes, window texts and screenshots.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "common/screenshot.h"

// Serves messages (keyboard through the dialog when given) for `ms`.
inline void PumpFor(DWORD ms, HWND dialog = nullptr)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (dialog && IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

// Serves messages until `done` holds or the time is up; true when it held.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs, HWND dialog = nullptr)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        PumpFor(20, dialog);
    }
    return true;
}

// A key press at the focused control of the dialog, as the keyboard gives it.
inline void PressKey(HWND dialog, WPARAM key)
{
    HWND target = GetFocus();
    if (!target || (target != dialog && !IsChild(dialog, target))) target = dialog;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

inline std::wstring WindowText(HWND window)
{
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return text;
}

inline std::wstring ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

inline bool ItemVisible(HWND dialog, int id) { return (GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0; }
inline bool ItemEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
inline bool ItemChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// <ZERDA_BUILD_DIR>\screenshots\<name>.bmp; the folder is created when missing.
inline bool SaveShot(HWND window, const wchar_t* name)
{
    // A script runs before the modal loop first shows its dialog.
    if (!IsWindowVisible(window)) ShowWindow(window, SW_SHOW);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
    PumpFor(150);
    wchar_t build[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ZERDA_BUILD_DIR", build, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    std::wstring folder = std::wstring(build) + L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    return SaveWindowScreenshot(window, folder + L"\\" + name + L".bmp");
}
