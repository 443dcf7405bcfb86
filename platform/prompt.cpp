#include "platform/prompt.h"

namespace {
PromptResponder g_responder = nullptr;
void* g_responderUser = nullptr;
}

void SetPromptResponder(PromptResponder responder, void* user)
{
    g_responder = responder;
    g_responderUser = user;
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type)
{
    if (g_responder) {
        PromptRequest request{owner, text ? text : L"", caption ? caption : L"", type};
        return g_responder(request, g_responderUser);
    }
    return MessageBoxW(owner, text, caption, type);
}
