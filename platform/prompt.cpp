#include "platform/prompt.h"

#include "platform/window.h"

namespace {
PromptResponder g_responder = nullptr;
void* g_responderUser = nullptr;

struct BoxCall {
    HWND owner;
    const wchar_t* text;
    const wchar_t* caption;
    UINT type;
    int answer;
};

void ShowBox(void* box)
{
    auto* b = static_cast<BoxCall*>(box);
    b->answer = MessageBoxW(ModalOwner(b->owner), b->text, b->caption, b->type);
}
}  // namespace

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
    // A box asked for by a worker is the owner's thread's: it shares the
    // owner's input and ends while the owner's thread is still there.
    BoxCall box{owner, text, caption, type, 0};
    RunOnWindowThread(owner, &ShowBox, &box);
    return box.answer;
}
