// Message boxes pass through here, so that a test can answer them in place of
// a person and read back what was shown.
#pragma once
#include <windows.h>

struct PromptRequest {
    HWND owner;
    const wchar_t* text;
    const wchar_t* caption;
    UINT type;  // MB_* flags as given to MessageBoxW
};

// Returns the button id (IDYES, IDRETRY, ...) a person would have pressed.
using PromptResponder = int (*)(const PromptRequest& request, void* user);

// null responder: the real MessageBoxW, shown by the thread of its owner.
void SetPromptResponder(PromptResponder responder, void* user);

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
