#include "platform/dialog_worker.h"

namespace {

struct ServedCall {
    void (*work)(void*);
    void* context;
};

DWORD WINAPI RunServedCall(LPVOID call)
{
    auto* c = static_cast<ServedCall*>(call);
    c->work(c->context);
    return 0;
}

}  // namespace

bool DialogWorker::Start(HWND dialog, bool (*work)(void*), void* context)
{
    Join();
    dialog_ = dialog;
    work_ = work;
    context_ = context;
    thread_ = CreateThread(nullptr, 0, &DialogWorker::Run, this, 0, nullptr);
    return thread_ != nullptr;
}

void DialogWorker::Join()
{
    if (!thread_) return;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI DialogWorker::Run(LPVOID self)
{
    auto* worker = static_cast<DialogWorker*>(self);
    bool done = worker->work_(worker->context_);
    PostMessageW(worker->dialog_, kWorkEndedMessage, done ? 1 : 0, 0);
    return 0;
}

void RunServingMessages(HWND busy, void (*work)(void*), void* context)
{
    if (!work) return;
    ServedCall call{work, context};
    HANDLE thread = CreateThread(nullptr, 0, &RunServedCall, &call, 0, nullptr);
    if (!thread) {
        work(context);
        return;
    }
    bool disabled = busy && IsWindowEnabled(busy);
    HWND focus = GetFocus();
    if (disabled) EnableWindow(busy, FALSE);

    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        DWORD wait = MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (wait == WAIT_OBJECT_0) break;
        if (wait != WAIT_OBJECT_0 + 1) {
            // The wait itself failed: nothing left but to wait plainly.
            WaitForSingleObject(thread, INFINITE);
            break;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            // Kept for the loop that owns the thread.
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    CloseHandle(thread);

    if (disabled && IsWindow(busy)) {
        EnableWindow(busy, TRUE);
        if (focus && IsWindow(focus)) SetFocus(focus);
    }
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
}
